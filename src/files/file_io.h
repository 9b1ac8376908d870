#pragma once
// Whole-file reads with a size limit, and saves that never destroy the
// previous file when they fail.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "files/file_error.h"
#include "platform/atomic_file.h"
#include "platform/file_read.h"
#include "platform/memory.h"

namespace vl {

// Largest picture file the loaders read into memory: far above any sound
// 10000 × 10000 PNG or JPEG, well below what one block may hold.
inline constexpr uint64_t kMaxImageFileBytes = uint64_t(1) << 30;

// The file error of a whole-file read: an empty file is Truncated.
FileError fileErrorOf(ReadFileStatus status);

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
