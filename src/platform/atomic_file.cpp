#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace vl {
namespace {

// The rename reaches the disk with the folder that holds the file.
void syncFolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

}  // namespace

bool AtomicFileWriter::Open(const std::string& path, unsigned mode) {
  Discard();
  if (path.empty()) return false;
  static std::atomic<unsigned> counter{0};
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    // A short hidden name in the target's folder: a long file name still
    // leaves room for it, and the rename stays within one file system.
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    temp = folder + ".vl-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode_t(mode));
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    temp.clear();
    return false;
  }
  struct stat old;
  if (::stat(path.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);
  file = ::fdopen(fd, "wb");
  if (!file) {
    ::close(fd);
    ::unlink(temp.c_str());
    temp.clear();
    return false;
  }
  target = path;
  return true;
}

bool AtomicFileWriter::Commit() {
  if (!file) return false;
  bool ok = std::fflush(file) == 0 && !std::ferror(file) && ::fsync(::fileno(file)) == 0;
  ok = std::fclose(file) == 0 && ok;
  file = nullptr;
  ok = ok && std::rename(temp.c_str(), target.c_str()) == 0;
  if (!ok) {
    ::unlink(temp.c_str());
  } else {
    syncFolderOf(target);
  }
  temp.clear();
  target.clear();
  return ok;
}

void AtomicFileWriter::Discard() {
  if (file) {
    std::fclose(file);
    file = nullptr;
  }
  if (!temp.empty()) ::unlink(temp.c_str());
  temp.clear();
  target.clear();
}

bool writeFileAtomically(const std::string& path, const void* data, size_t size, unsigned mode) {
  AtomicFileWriter out;
  if (!out.Open(path, mode)) return false;
  if (size > 0 && std::fwrite(data, 1, size, out.Stream()) != size) return false;
  return out.Commit();
}

}  // namespace vl
