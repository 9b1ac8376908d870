// Arbitrary bytes as a PNG file. Whatever loads must be a sound picture,
// and must come back unchanged through our own writer and reader.
#include <cstddef>
#include <cstdint>

#include "files/image_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vl::BitmapInfoHeader header;
  vl::TMTC img;
  if (vl::loadPngMemory(data, size, header, img) != vl::FileError::None) return 0;
  if (img.width <= 0 || img.height <= 0 || int64_t(img.width) * img.height > vl::kMaxImagePixels) __builtin_trap();
  if (header.width != img.width || header.height != img.height) __builtin_trap();
  if (header.bitCount != 24 && header.bitCount != 32) __builtin_trap();

  vl::ByteBuffer file;
  if (vl::encodePng(header, img, 1, file) != vl::FileError::None) __builtin_trap();
  vl::BitmapInfoHeader backHeader;
  vl::TMTC back;
  if (vl::loadPngMemory(file.data.get(), file.size, backHeader, back) != vl::FileError::None) __builtin_trap();
  if (backHeader.bitCount != header.bitCount || back.width != img.width || back.height != img.height) __builtin_trap();
  if (header.xPelsPerMeter > 0 && header.yPelsPerMeter > 0 && backHeader.xPelsPerMeter != header.xPelsPerMeter)
    __builtin_trap();
  for (int32_t y = 0; y < img.height; ++y)
    for (int32_t x = 0; x < img.width; ++x)
      if (back.Row(y)[x] != img.Row(y)[x]) __builtin_trap();
  return 0;
}
