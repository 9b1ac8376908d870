#include "files/byte_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace vl {

bool MemoryInput::ReadAt(uint64_t at, void* out, size_t n) {
  if (at > size || n > size - at) return false;
  if (n > 0) std::memcpy(out, data + at, n);
  return true;
}

FileInput::~FileInput() {
  if (fd >= 0) ::close(fd);
}

FileError FileInput::Open(const std::string& path) {
  if (fd >= 0) ::close(fd);
  fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return FileError::CannotOpen;
  struct stat st;
  // Folders, pipes and devices are no files to read a picture from.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
    ::close(fd);
    fd = -1;
    return FileError::CannotOpen;
  }
  size = uint64_t(st.st_size);
  return FileError::None;
}

bool FileInput::ReadAt(uint64_t at, void* out, size_t n) {
  if (fd < 0 || at > size || n > size - at) return false;
  auto* dst = static_cast<uint8_t*>(out);
  while (n > 0) {
    const ssize_t got = ::pread(fd, dst, n, off_t(at));
    if (got < 0 && errno == EINTR) continue;
    // A file that shrank under us ends early.
    if (got <= 0) return false;
    dst += got;
    at += uint64_t(got);
    n -= size_t(got);
  }
  return true;
}

bool ByteSink::Zeros(size_t n) {
  static const uint8_t zeros[64] = {};
  while (n > 0) {
    const size_t k = n < sizeof zeros ? n : sizeof zeros;
    if (!Write(zeros, k)) return false;
    n -= k;
  }
  return true;
}

bool MemorySink::Write(const void* data, size_t n) {
  if (failed) return false;
  try {
    const auto* b = static_cast<const uint8_t*>(data);
    bytes.insert(bytes.end(), b, b + n);
  } catch (const std::bad_alloc&) {
    failed = true;
  }
  return !failed;
}

bool BufferedFileSink::Write(const void* data, size_t n) {
  if (failed) return false;
  const auto* b = static_cast<const uint8_t*>(data);
  position += n;
  // Large pieces go straight through once the buffer is out of the way.
  if (n >= kBufferBytes) {
    failed = !Flush() || !writer.Write(b, n);
    return !failed;
  }
  if (buffer.size() + n > kBufferBytes && !Flush()) return false;
  try {
    if (buffer.capacity() < kBufferBytes) buffer.reserve(kBufferBytes);
    buffer.insert(buffer.end(), b, b + n);
  } catch (const std::bad_alloc&) {
    failed = true;
  }
  return !failed;
}

bool BufferedFileSink::Flush() {
  if (failed) return false;
  if (!buffer.empty() && !writer.Write(buffer.data(), buffer.size())) failed = true;
  buffer.clear();
  return !failed;
}

}  // namespace vl
