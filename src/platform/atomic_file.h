#pragma once
// Saves that never destroy the previous file when they fail.
#include <sys/types.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vl {

// The calls of a save that fail when the disk is full or broken. Tests put
// in one that fails to show that the previous file survives.
struct AtomicFileCalls {
  ssize_t (*write)(int fd, const void* data, size_t size) = ::write;
  int (*fsync)(int fd) = ::fsync;
  int (*rename)(const char* from, const char* to) = ::rename;
};

// A temporary file beside the target (same folder, so the rename stays on one
// file system), created exclusively and readable by the owner alone while it
// is written. Commit gives it the target's mode (a new file: `mode` less the
// umask) and renames it over the target only when every byte is on disk;
// without a Commit, or when it fails, the temporary is removed and the target
// is left as it was. A target that is a symbolic link is written through:
// the link stays and the file it names is replaced. Only links of this user,
// or of the owner of their folder, are followed; one planted by someone else
// in a shared folder is replaced itself (or, where the folder forbids that,
// the save fails).
class AtomicFileWriter {
 public:
  explicit AtomicFileWriter(const AtomicFileCalls& calls = {}) : calls(calls) {}
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
  ~AtomicFileWriter() { Discard(); }

  // `mode` is for a new file (before the umask); a replaced file keeps its own.
  bool Open(const std::string& path, unsigned mode = 0666);
  // Appends bytes; false when they could not all be written, and every later
  // Write and the Commit then fail too.
  bool Write(const void* data, size_t size);
  // Overwrites bytes already written (lengths known only later); the end of
  // the file stays where it was.
  bool WriteAt(uint64_t offset, const void* data, size_t size);
  // Syncs, gives the mode, closes and renames, then syncs the folder so the
  // rename itself reaches the disk; false when any step before the rename fails.
  bool Commit();
  void Discard();

 private:
  AtomicFileCalls calls;
  std::string target;  // the file the rename replaces (a link's target)
  std::string temp;
  unsigned newMode = 0666;
  int fd = -1;
  bool failed = false;
};

// data[0 … size) into path through an AtomicFileWriter.
bool writeFileAtomically(const std::string& path, const void* data, size_t size, unsigned mode = 0666,
                         const AtomicFileCalls& calls = {});

}  // namespace vl
