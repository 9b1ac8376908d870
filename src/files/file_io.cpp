#include "files/file_io.h"

#include "platform/strings.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace vl {

FileError fileErrorOf(ReadFileStatus status) {
  switch (status) {
    case ReadFileStatus::Ok: return FileError::None;
    case ReadFileStatus::CannotOpen: return FileError::CannotOpen;
    case ReadFileStatus::Empty: return FileError::Truncated;
    case ReadFileStatus::TooLarge: return FileError::TooLarge;
    case ReadFileStatus::OutOfMemory: return FileError::OutOfMemory;
    case ReadFileStatus::ReadFailed: return FileError::ReadFailed;
  }
  return FileError::ReadFailed;
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
