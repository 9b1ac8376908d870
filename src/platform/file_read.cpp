#include "platform/file_read.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

ReadFileStatus readWholeFile(const std::string& path, uint64_t maxBytes, Block& data, size_t& size) {
  data.reset();
  size = 0;
  FdCloser file;
  // Non-blocking, so that a FIFO cannot stall the open; it is refused below.
  file.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (file.fd < 0) return ReadFileStatus::CannotOpen;
  struct stat st;
  if (::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) return ReadFileStatus::CannotOpen;
  if (st.st_size <= 0) return ReadFileStatus::Empty;
  if (uint64_t(st.st_size) > maxBytes) return ReadFileStatus::TooLarge;
  Block bytes = TryAlloc(uint64_t(st.st_size));
  if (!bytes) return ReadFileStatus::OutOfMemory;
  // A file that shrinks while we read it reads short: that is a failure too.
  if (!readAll(file.fd, bytes.get(), size_t(st.st_size))) return ReadFileStatus::ReadFailed;
  data = std::move(bytes);
  size = size_t(st.st_size);
  return ReadFileStatus::Ok;
}

}  // namespace vl
