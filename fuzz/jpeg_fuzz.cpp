// Arbitrary bytes as a JPEG file. Whatever loads must be a sound opaque
// picture that our writer can store and our reader read back at its size.
#include <cstddef>
#include <cstdint>

#include "files/image_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vl::BitmapInfoHeader header;
  vl::TMTC img;
  if (vl::loadJpegMemory(data, size, header, img) != vl::FileError::None) return 0;
  if (img.width <= 0 || img.height <= 0 || int64_t(img.width) * img.height > vl::kMaxImagePixels) __builtin_trap();
  if (header.width != img.width || header.height != img.height || header.bitCount != 24) __builtin_trap();
  for (int32_t y = 0; y < img.height; ++y)
    for (int32_t x = 0; x < img.width; ++x)
      if ((img.Row(y)[x] >> 24) != 0xFF) __builtin_trap();

  // Re-encoding large pictures teaches the fuzzer nothing new and is slow.
  if (int64_t(img.width) * img.height > 256 * 256) return 0;
  vl::JpegOptions options;
  options.progressive = (size & 1) != 0;
  options.smooth = (size & 2) != 0;
  options.smoothAmount = 30;
  vl::ByteBuffer file;
  if (vl::encodeJpeg(header, img, options, file) != vl::FileError::None) __builtin_trap();
  vl::BitmapInfoHeader backHeader;
  vl::TMTC back;
  if (vl::loadJpegMemory(file.data.get(), file.size, backHeader, back) != vl::FileError::None) __builtin_trap();
  if (back.width != img.width || back.height != img.height) __builtin_trap();
  return 0;
}
