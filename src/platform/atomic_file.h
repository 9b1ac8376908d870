#pragma once
// Saves that never destroy the previous file when they fail.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vl {

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

  // `mode` is for a new file (before the umask); a replaced file keeps its own.
  bool Open(const std::string& path, unsigned mode = 0666);
  // The temporary file's stream; null before Open succeeds.
  std::FILE* Stream() const { return file; }
  // Flushes, syncs, closes and renames, then syncs the folder so the rename
  // itself reaches the disk; false when any step before the rename fails.
  bool Commit();
  void Discard();

 private:
  std::string target;
  std::string temp;
  std::FILE* file = nullptr;
};

// data[0 … size) into path through an AtomicFileWriter.
bool writeFileAtomically(const std::string& path, const void* data, size_t size, unsigned mode = 0666);

}  // namespace vl
