#pragma once
// Whole-file reads with a size limit, and saves that never destroy the
// previous file when they fail.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "files/file_error.h"
#include "platform/atomic_file.h"
#include "pixel/memory.h"

namespace vl {

// Largest picture file the loaders read into memory: far above any sound
// 10000 × 10000 PNG or JPEG, well below what one block may hold.
inline constexpr uint64_t kMaxImageFileBytes = uint64_t(1) << 30;

// Reads a whole regular file of 1 … maxBytes bytes. An empty file is Truncated,
// a larger one TooLarge (refused before anything is allocated).
FileError readWholeFile(const std::string& path, uint64_t maxBytes, Block& data, size_t& size);

// A growing byte block that reports failure instead of throwing, so C
// libraries may append to it from their callbacks.
struct ByteBuffer {
  Block data;
  size_t size = 0;
  size_t capacity = 0;

  bool Append(const uint8_t* bytes, size_t n);
  // At least n free bytes after size.
  bool Reserve(size_t n);
  void Clear() { size = 0; }
};


}  // namespace vl
