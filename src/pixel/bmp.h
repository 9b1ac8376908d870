#pragma once
// Reading BMP files of every kind other programs write, and writing 24-bit ones.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pixel/dib.h"

namespace vl {

enum class BmpError {
  None,
  Truncated,    // the block ends before the header or the pixel rows do
  NotBmp,       // no "BM" signature
  BadHeader,    // sizes or offsets that contradict each other
  Unsupported,  // a valid BMP of a kind we do not read (embedded JPEG or PNG, CMYK, OS/2 2.x headers)
  TooLarge,     // more than kMaxBmpPixels pixels
  OutOfMemory,
  CannotOpen,
  ReadFailed,
  WriteFailed,
};

// Pictures of more pixels than this are refused before anything is
// allocated; either side may be larger than a paper's.
inline constexpr int64_t kMaxBmpPixels = 100000000;
// loadBmpFile refuses bigger files without reading them: the largest image
// plus room for headers and a gap before the pixels.
inline constexpr uint64_t kMaxBmpFileBytes = uint64_t(kMaxBmpPixels) * 4 + (uint64_t(1) << 20);

// Bytes per stored row of a 24-bit BMP: width × 3 rounded up to a multiple of 4.
inline int64_t bmpRowSize24(int32_t width) { return (int64_t(width) * 3 + 3) & ~int64_t(3); }

// What readBmp found besides the pixels.
struct BmpInfo {
  uint32_t headerSize = 0;  // 12 (the oldest form), 40, 52, 56, 108 or 124
  uint16_t bitCount = 0;
  uint32_t compression = 0;
  int32_t xPelsPerMeter = 0;  // 0 for the oldest form, which has none
  int32_t yPelsPerMeter = 0;
  // The fourth bytes come from the file (32 bits, or an alpha mask). Many
  // writers leave them all 0 and mean "opaque".
  bool storedAlpha = false;
  // RLE codes (delta, early end of line or of the picture) left pixels out.
  bool undefinedPixels = false;
};

// Reads a BMP into dst: information headers of 12, 40, 52, 56, 108 and 124
// bytes; 1, 2, 4 and 8-bit palettes (a palette shorter than its bit count
// allows is fine: indices past it are black), RLE8 and RLE4, 16 bits (5-5-5
// unless masks say otherwise), 24 and 32 bits; bit-field masks of any
// contiguous, non-overlapping bits; bottom-up and top-down rows.
//
// Rows go into buffer rows 0, 1, … in the file's bottom-up order (flip for
// the upright image; a top-down file is stored the same way). 24-bit pixels
// without masks keep the buffer's old fourth byte, and 32-bit pixels of the
// standard byte order are copied verbatim; other pixels get the alpha mask's
// value or 255. Pixels RLE codes leave out are 0, transparent black. dpi
// (optional) receives the header's resolution as soon as the header is read,
// else 0. On any failure other than OutOfMemory dst is left as it was:
// everything is checked, RLE data included, before dst is touched. RLE data
// may end without its end code, but not inside a code.
BmpError readBmp(const uint8_t* data, size_t size, TMTC& dst, int* dpi = nullptr, BmpInfo* info = nullptr);

// A 24-bit BMP of src at dpi, rows from buffer row height − 1 down to 0.
BmpError writeBmp(const TMTC& src, int dpi, std::vector<uint8_t>& out);

// Writes a temporary file beside path and renames it over path only when
// everything was written, so a failed save keeps the previous file.
bool saveBmpFile(const std::string& path, const TMTC& src, int dpi);

// Reads a whole file (no bigger than kMaxBmpFileBytes) with readBmp.
BmpError loadBmpFile(const std::string& path, TMTC& dst, int* dpi = nullptr);

}  // namespace vl
