#include "files/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vl {

namespace {

struct FdCloser {
  int fd = -1;
  ~FdCloser() {
    if (fd >= 0) ::close(fd);
  }
};

bool readAll(int fd, uint8_t* p, size_t n) {
  while (n > 0) {
    ssize_t r = ::read(fd, p, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= size_t(r);
  }
  return true;
}

}  // namespace

FileError readWholeFile(const std::string& path, uint64_t maxBytes, Block& data, size_t& size) {
  data.reset();
  size = 0;
  FdCloser file;
  // Non-blocking, so that a FIFO cannot stall the open; it is refused below.
  file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (file.fd < 0) return FileError::CannotOpen;
  struct stat st;
  if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return FileError::CannotOpen;
  if (st.st_size <= 0) return FileError::Truncated;
  if (uint64_t(st.st_size) > maxBytes) return FileError::TooLarge;
  Block bytes = TryAlloc(uint64_t(st.st_size));
  if (!bytes) return FileError::OutOfMemory;
  // A file that shrinks while we read it reads short: that is a failure too.
  if (!readAll(file.fd, bytes.get(), size_t(st.st_size))) return FileError::ReadFailed;
  data = std::move(bytes);
  size = size_t(st.st_size);
  return FileError::None;
}

bool AtomicFileWriter::Open(const std::string& path) {
  Discard();
  if (path.empty()) return false;
  static std::atomic<unsigned> counter{0};
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
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
  if (!ok) ::unlink(temp.c_str());
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

bool ByteBuffer::Reserve(size_t n) {
  if (n <= capacity - size && data) return true;
  if (n > kMaxBlockBytes - size) return false;
  size_t want = std::max<size_t>(capacity, 4096);
  while (want - size < n) want = want > kMaxBlockBytes / 2 ? size_t(kMaxBlockBytes) : want * 2;
  void* grown = std::realloc(data.get(), want);
  if (!grown) return false;
  data.release();
  data.reset(static_cast<uint8_t*>(grown));
  capacity = want;
  return true;
}

bool ByteBuffer::Append(const uint8_t* bytes, size_t n) {
  if (n == 0) return true;
  if (!Reserve(n)) return false;
  std::memcpy(data.get() + size, bytes, n);
  size += n;
  return true;
}

bool writeFileAtomically(const std::string& path, const uint8_t* data, size_t size) {
  AtomicFileWriter out;
  if (!out.Open(path)) return false;
  if (size > 0 && std::fwrite(data, 1, size, out.Stream()) != size) return false;
  return out.Commit();
}

}  // namespace vl
