// Feeds arbitrary bytes to the BMP reader; whatever it accepts must survive
// a write and a second read unchanged (RGB, rows in reverse order).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "pixel/bmp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vl::TMTC img;
  int dpi = 0;
  vl::BmpInfo info;
  if (vl::readBmp(data, size, img, &dpi, &info) != vl::BmpError::None) return 0;
  if (img.width <= 0 || img.height <= 0 || int64_t(img.width) * img.height > vl::kMaxBmpPixels) __builtin_trap();
  // Only RLE codes can leave pixels out.
  if (info.undefinedPixels && info.compression != 1 && info.compression != 2) __builtin_trap();

  // Writing a large picture back teaches the fuzzer nothing new and is slow.
  if (int64_t(img.width) * img.height > 1024 * 1024) return 0;
  std::vector<uint8_t> file;
  if (vl::writeBmp(img, dpi, file) != vl::BmpError::None) __builtin_trap();
  vl::TMTC back;
  int backDpi = 0;
  if (vl::readBmp(file.data(), file.size(), back, &backDpi) != vl::BmpError::None) __builtin_trap();
  if (back.width != img.width || back.height != img.height) __builtin_trap();
  for (int32_t y = 0; y < img.height; ++y)
    for (int32_t x = 0; x < img.width; ++x)
      if (((back.Row(y)[x] ^ img.Row(img.height - 1 - y)[x]) & 0xFFFFFF) != 0) __builtin_trap();
  return 0;
}
