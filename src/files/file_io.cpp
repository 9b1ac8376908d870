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


}  // namespace vl
