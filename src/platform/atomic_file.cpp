#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

namespace vl {
namespace {

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// The rename reaches the disk with the folder that holds the file.
void syncFolderOf(const std::string& path) {
  const int dir = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

// The file a save replaces: links are followed to the file they name, which
// need not exist yet. Empty for a loop or a chain too long to be meant. A link
// that neither we nor the owner of its folder made (one planted in a shared
// folder) is not followed: the save then replaces the link itself, or fails
// where the folder protects it.
std::string followLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st, folder;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    if (st.st_uid != ::geteuid() &&
        (::stat(folderOf(path).c_str(), &folder) != 0 || folder.st_uid != st.st_uid))
      return path;
    std::vector<char> buf(size_t(st.st_size > 0 ? st.st_size : 255) + 1);
    const ssize_t n = ::readlink(path.c_str(), buf.data(), buf.size());
    if (n <= 0 || size_t(n) >= buf.size()) return {};
    std::string link(buf.data(), size_t(n));
    path = link[0] == '/' ? link : folderOf(path) + "/" + link;
  }
  return {};
}

// The process's umask, read without changing it.
mode_t currentUmask() {
  if (std::FILE* f = std::fopen("/proc/self/status", "re")) {
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
      if (std::strncmp(line, "Umask:", 6) != 0) continue;
      std::fclose(f);
      return mode_t(std::strtoul(line + 6, nullptr, 8) & 0777);
    }
    std::fclose(f);
  }
  const mode_t m = ::umask(077);
  ::umask(m);
  return m;
}

}  // namespace

bool AtomicFileWriter::Open(const std::string& path, unsigned mode) {
  Discard();
  if (path.empty()) return false;
  const std::string resolved = followLinks(path);
  if (resolved.empty()) return false;
  static std::atomic<unsigned> counter{0};
  // A short hidden name in the target's folder: a long file name still
  // leaves room for it, and the rename stays within one file system. Made
  // exclusively, never through a link, and private until the commit.
  const size_t slash = resolved.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : resolved.substr(0, slash + 1);
  int f = -1;
  for (int attempt = 0; attempt < 100 && f < 0; ++attempt) {
    temp = folder + ".vl-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
    f = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (f < 0 && errno != EEXIST) break;
  }
  if (f < 0) {
    temp.clear();
    return false;
  }
  fd = f;
  failed = false;
  target = resolved;
  newMode = mode & 0777;
  return true;
}

bool AtomicFileWriter::Write(const void* data, size_t size) {
  if (fd < 0 || failed) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = calls.write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed = true;
      return false;
    }
    p += n;
    size -= size_t(n);
  }
  return true;
}

bool AtomicFileWriter::WriteAt(uint64_t offset, const void* data, size_t size) {
  if (fd < 0 || failed) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, p, size, off_t(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failed = true;
      return false;
    }
    p += n;
    offset += uint64_t(n);
    size -= size_t(n);
  }
  return true;
}

bool AtomicFileWriter::Commit() {
  if (fd < 0) return false;
  bool ok = !failed && calls.fsync(fd) == 0;
  if (ok) {
    // The replaced file's owner and mode, or a new file's mode less the umask;
    // only now, when the bytes are complete. Set-id bits are never copied.
    struct stat old;
    if (::stat(target.c_str(), &old) == 0) {
      struct stat now;
      if (::fstat(fd, &now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
          ::fchown(fd, old.st_uid, old.st_gid) != 0) {
        // Only the owner changes hands then; the mode below still holds.
      }
      ok = ::fchmod(fd, old.st_mode & 0777) == 0;
    } else {
      ok = ::fchmod(fd, newMode & ~currentUmask()) == 0;
    }
  }
  ok = ::close(fd) == 0 && ok;
  fd = -1;
  ok = ok && calls.rename(temp.c_str(), target.c_str()) == 0;
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
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
  if (!temp.empty()) ::unlink(temp.c_str());
  temp.clear();
  target.clear();
  failed = false;
}

bool writeFileAtomically(const std::string& path, const void* data, size_t size, unsigned mode,
                         const AtomicFileCalls& calls) {
  AtomicFileWriter out(calls);
  if (!out.Open(path, mode)) return false;
  if (!out.Write(data, size)) return false;
  return out.Commit();
}

}  // namespace vl
