#pragma once
// Reading and writing uncompressed 24- and 32-bit BMP files.
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
  Unsupported,  // a valid BMP of a kind we do not read (palette, 16 bits, RLE, odd masks)
  TooLarge,     // wider or taller than kMaxBmpSide
  OutOfMemory,
  CannotOpen,
  ReadFailed,
  WriteFailed,
};

// Images beyond this on either side are refused before anything is allocated.
inline constexpr int32_t kMaxBmpSide = 10000;
// loadBmpFile refuses bigger files without reading them: the largest image
// plus room for headers and a gap before the pixels.
inline constexpr uint64_t kMaxBmpFileBytes = uint64_t(kMaxBmpSide) * kMaxBmpSide * 4 + (uint64_t(1) << 20);

// Bytes per stored row of a 24-bit BMP: width × 3 rounded up to a multiple of 4.
inline int64_t bmpRowSize24(int32_t width) { return (int64_t(width) * 3 + 3) & ~int64_t(3); }

// Reads a 24- or 32-bit BMP (information header of 40, 108 or 124 bytes,
// compression 0, or 3 with the standard masks) into dst. Rows go into buffer
// rows 0, 1, … in the file's bottom-up order (flip for the upright image; a
// top-down file is stored the same way). 24-bit pixels keep the buffer's old
// fourth byte, 32-bit pixels are copied verbatim. dpi (optional) receives the
// header's resolution as soon as the header is read, else 0. On any failure
// other than OutOfMemory dst is left as it was.
BmpError readBmp(const uint8_t* data, size_t size, TMTC& dst, int* dpi = nullptr);

// A 24-bit BMP of src at dpi, rows from buffer row height − 1 down to 0.
BmpError writeBmp(const TMTC& src, int dpi, std::vector<uint8_t>& out);

// Writes a temporary file beside path and renames it over path only when
// everything was written, so a failed save keeps the previous file.
bool saveBmpFile(const std::string& path, const TMTC& src, int dpi);

// Reads a whole file (no bigger than kMaxBmpFileBytes) with readBmp.
BmpError loadBmpFile(const std::string& path, TMTC& dst, int* dpi = nullptr);

}  // namespace vl
