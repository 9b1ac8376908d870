#pragma once
// Whole-file reads with a size limit, and saves that never destroy the
// previous file when they fail.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "files/file_error.h"
#include "pixel/memory.h"

namespace vl {

// Largest picture file the loaders read into memory: far above any sound
// 10000 × 10000 PNG or JPEG, well below what one block may hold.
inline constexpr uint64_t kMaxImageFileBytes = uint64_t(1) << 30;

// Reads a whole regular file of 1 … maxBytes bytes. An empty file is Truncated,
// a larger one TooLarge (refused before anything is allocated).
FileError readWholeFile(const std::string& path, uint64_t maxBytes, Block& data, size_t& size);

// A temporary file beside the target (same folder, so the rename stays on one
// file system). Commit renames it over the target only when every byte is on
// disk; without a Commit, or when it fails, the temporary is removed and the
// target is left as it was. A replaced file keeps its permissions.
class AtomicFileWriter {
 public:
  AtomicFileWriter() = default;
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
  ~AtomicFileWriter() { Discard(); }

  bool Open(const std::string& path);
  // The temporary file's stream; null before Open succeeds.
  std::FILE* Stream() const { return file; }
  // Flushes, syncs, closes and renames; false when any step fails.
  bool Commit();
  void Discard();

 private:
  std::string target;
  std::string temp;
  std::FILE* file = nullptr;
};

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

// data[0 … size) into path through an AtomicFileWriter.
bool writeFileAtomically(const std::string& path, const uint8_t* data, size_t size);

}  // namespace vl
