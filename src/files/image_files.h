#pragma once
// BMP, PNG and JPEG pictures in and out.
//
// Every loader gives 32-bit pixels (blue, green, red, alpha from the lowest
// byte) upright: row 0 of the TMTC is the top of the picture, whatever the
// file's row order (readBmp in pixel/bmp.h keeps a BMP's bottom-up order;
// bmpGetImage flips it) or, for JPEG, its orientation tag: a photo comes out
// as viewers show it. Sources without alpha get alpha 255; so does a BMP
// whose stored fourth bytes (32 bits, or an alpha mask) are all 0, as many
// writers leave them. Pixels a BMP's RLE codes leave out are transparent black.
//
// The header is filled as a 40-byte bitmap information header would be:
// width; height (positive); planes 1; bitCount 32 when the source carries
// alpha (RGBA or grey+alpha PNG, a PNG with transparency, a BMP with some
// non-zero stored alpha or with pixels left out), else 24; compression 0;
// imageSize width × 4 × height; the resolution in pixels per metre, 0 when
// the file gives none.
//
// Savers take the same kind of header and an upright image of the header's
// size. Each writes a temporary file beside the target and renames it over
// the target only when everything was written.
//
// Files are untrusted: damaged, truncated, unsupported or oversized input
// gives an error code, never a crash. Either side may exceed a paper's
// (kMaxImageSide), but pictures of more than kMaxImagePixels pixels are
// refused from their header, before anything is allocated. On failure the
// contents of `pixels` are unspecified.
#include <cstddef>
#include <cstdint>
#include <string>

#include "files/file_error.h"
#include "files/file_io.h"
#include "pixel/dib.h"

namespace vl {

// The JPEG settings of the profile ("fileIO" section).
struct JpegOptions {
  bool progressive = false;   // "jpegUseProgressive"
  bool smooth = false;        // "jpegUseSmooth"
  int smoothAmount = 0;       // "jpegValSmooth", 0 … 100
  int qualityType = 1;        // "jpegQType": 0 free, 1 very high, 2 high, 3 standard, 4 low
  int quality = 90;           // "jpegQuality", used by type 0
  int qualityVeryHigh = 100;  // "jpegQVHigh"
  int qualityHigh = 90;       // "jpegQHigh"
  int qualityStd = 75;        // "jpegQStd"
  int qualityLow = 50;        // "jpegQLow"
};

// The quality the preset selects, 1 … 100 (0 writes as 1, the lowest the
// encoder has; an out-of-range type counts as the nearest one).
int jpegQuality(const JpegOptions& options);
// The smoothing amount written: 0 when smoothing is off, else 0 … 100.
int jpegSmoothing(const JpegOptions& options);

FileError bmpGetImage(const std::string& path, BitmapInfoHeader& header, TMTC& pixels);
FileError pngGetImage(const std::string& path, BitmapInfoHeader& header, TMTC& pixels);
FileError jpegGetImage(const std::string& path, BitmapInfoHeader& header, TMTC& pixels);

// The same decoders over a block in memory (clipboard data, fuzzing).
FileError loadBmpMemory(const uint8_t* data, size_t size, BitmapInfoHeader& header, TMTC& pixels);
FileError loadPngMemory(const uint8_t* data, size_t size, BitmapInfoHeader& header, TMTC& pixels);
FileError loadJpegMemory(const uint8_t* data, size_t size, BitmapInfoHeader& header, TMTC& pixels);

// A 24-bit BMP (bottom-up rows) with the header's pixels per metre.
FileError bmpSaveImage(const std::string& path, const BitmapInfoHeader& header, const TMTC& pixels);
// PNG compression: a level 0 … 9, or kPngLevelAuto: the encoder's default
// for small pictures, the fast level from kPngFastFromPixels pixels on (a
// 4096 × 4096 picture then takes a fraction of a second instead of seconds,
// for a file about a third larger). Levels up to kPngFastLevel + 1 filter
// every row by the row above only.
inline constexpr int kPngLevelAuto = -1;
inline constexpr int kPngFastLevel = 1;
inline constexpr int64_t kPngFastFromPixels = int64_t(1) << 20;
// The zlib level written for a requested level and a picture size; −1 is
// the encoder's default.
int pngLevelFor(int compressionLevel, int64_t pixels);

// An 8-bit RGBA PNG when header.bitCount is 32, RGB when it is 24; pHYs
// when the header has a resolution.
FileError pngSaveImage(const std::string& path, const BitmapInfoHeader& header, const TMTC& pixels,
                       int compressionLevel = kPngLevelAuto);
// A baseline (or progressive) JFIF file; alpha is not stored. The density
// is written in dots per inch.
FileError jpegSaveImage(const std::string& path, const BitmapInfoHeader& header, const TMTC& pixels,
                        const JpegOptions& options);

// The encoders behind the savers, into memory (out is cleared first).
FileError encodePng(const BitmapInfoHeader& header, const TMTC& pixels, int compressionLevel, ByteBuffer& out);
FileError encodeJpeg(const BitmapInfoHeader& header, const TMTC& pixels, const JpegOptions& options, ByteBuffer& out);

}  // namespace vl
