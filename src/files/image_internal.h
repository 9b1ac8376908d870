#pragma once
// Pieces shared by the picture loaders and savers.
#include "files/image_files.h"

namespace vl::detail {

inline void fillHeader(BitmapInfoHeader& h, int32_t width, int32_t height, uint16_t bitCount, int32_t xPelsPerMeter,
                       int32_t yPelsPerMeter) {
  h = BitmapInfoHeader{};
  h.width = width;
  h.height = height;
  h.bitCount = bitCount;
  h.imageSize = uint32_t(width) * 4u * uint32_t(height);
  h.xPelsPerMeter = xPelsPerMeter;
  h.yPelsPerMeter = yPelsPerMeter;
}

// A saver needs an allocated image of the header's size.
inline FileError checkSaveArguments(const BitmapInfoHeader& h, const TMTC& pixels) {
  if (!pixels.IsAllocated() || pixels.width <= 0 || pixels.height <= 0) return FileError::BadArgument;
  if (h.width != pixels.width || h.height != pixels.height) return FileError::BadArgument;
  if (h.bitCount != 24 && h.bitCount != 32) return FileError::BadArgument;
  return FileError::None;
}

using MemoryLoader = FileError (*)(const uint8_t*, size_t, BitmapInfoHeader&, TMTC&);

inline FileError loadFileWith(const std::string& path, uint64_t maxBytes, MemoryLoader load, BitmapInfoHeader& header,
                              TMTC& pixels) {
  header = BitmapInfoHeader{};
  Block data;
  size_t size = 0;
  const FileError e = fileErrorOf(readWholeFile(path, maxBytes, data, size));
  if (e != FileError::None) return e;
  return load(data.get(), size, header, pixels);
}

inline FileError saveEncoded(const std::string& path, const ByteBuffer& bytes) {
  return writeFileAtomically(path, bytes.data.get(), bytes.size) ? FileError::None : FileError::WriteFailed;
}

}  // namespace vl::detail
