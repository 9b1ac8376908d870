#pragma once
// General-purpose lossless compression of event segments, tile runs,
// channels and thumbnails (zstd frames with a content checksum).
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "files/file_error.h"
#include "platform/memory.h"

namespace vl {

// Where compress delivers its output.
struct CompressSink {
  enum class Kind {
    GrowBuffer,  // the whole result in the caller's buffer, enlarged as needed
    File,        // each filled chunk of the caller's buffer written to `file`
  };
  Kind kind = Kind::GrowBuffer;
  std::FILE* file = nullptr;
  // Out: compressed bytes in the buffer (GrowBuffer) or written to the file.
  size_t length = 0;

  static CompressSink growBuffer() { return {}; }
  static CompressSink toFile(std::FILE* f) { return {Kind::File, f, 0}; }
};

// Work buffer given to compress when the caller has none.
inline constexpr size_t kCompressChunkBytes = 65536;

// Compresses source[0 … sourceLength) (sourceLength may be 0). buffer and
// capacity are the caller's work area, allocated by compress when empty;
// the growing sink may replace the buffer by a larger one and updates
// capacity. On failure nothing is delivered: the growing sink reports length
// 0, and the file sink puts the stream back at the position it had (where
// the stream can seek).
FileError compress(const uint8_t* source, size_t sourceLength, Block& buffer, size_t& capacity, CompressSink& sink);

// Decodes source into exactly destinationLength bytes. Data that decodes to
// any other length is WrongLength; damaged, truncated or trailing bytes are
// Corrupt or Truncated. The destination may be partly written on failure.
FileError decompress(const uint8_t* source, size_t sourceLength, uint8_t* destination, size_t destinationLength);

}  // namespace vl
