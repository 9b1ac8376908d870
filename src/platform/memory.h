#pragma once
// Allocation that never throws: pixel code and containers report failure as
// false, never by an exception.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace vl {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using Block = std::unique_ptr<uint8_t[], FreeDeleter>;

// Largest block the program asks for in one piece (a 10000 × 10000 × 4 image
// fits with room to spare); anything bigger comes from a broken size.
inline constexpr uint64_t kMaxBlockBytes = uint64_t(1) << 31;

// A zero-filled block of `bytes`, or none when it cannot be had.
inline Block TryAlloc(uint64_t bytes) {
  if (bytes == 0 || bytes > kMaxBlockBytes) return nullptr;
  return Block(static_cast<uint8_t*>(std::calloc(size_t(bytes), 1)));
}

// Byte size of count items of itemSize each, or -1 when it is negative or too big.
inline int64_t checkedBytes(int64_t itemSize, int64_t count) {
  if (itemSize < 0 || count < 0) return -1;
  if (itemSize != 0 && count > int64_t(kMaxBlockBytes) / itemSize) return -1;
  return itemSize * count;
}

}  // namespace vl
