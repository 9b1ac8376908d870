// Arbitrary bytes as a compressed block: the first four bytes give the
// expected length (below 1 MiB), the rest is the block. Whatever decodes must
// be exactly that long, and the input itself must survive a round trip
// through both sinks.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "files/compress.h"

namespace {

void roundTrip(const uint8_t* data, size_t size) {
  vl::Block buffer;
  size_t capacity = 0;
  vl::CompressSink grow = vl::CompressSink::growBuffer();
  if (vl::compress(data, size, buffer, capacity, grow) != vl::FileError::None) __builtin_trap();
  std::vector<uint8_t> back(size + 1);
  if (vl::decompress(buffer.get(), grow.length, back.data(), size) != vl::FileError::None) __builtin_trap();
  if (size > 0 && std::memcmp(back.data(), data, size) != 0) __builtin_trap();
  if (vl::decompress(buffer.get(), grow.length, back.data(), size + 1) != vl::FileError::WrongLength) __builtin_trap();

  // The file sink through a small work buffer gives a block that decodes the same.
  std::vector<uint8_t> stored(grow.length + 4096);
  std::FILE* f = fmemopen(stored.data(), stored.size(), "wb");
  if (!f) return;
  vl::Block small = vl::TryAlloc(64);
  size_t smallCapacity = 64;
  vl::CompressSink file = vl::CompressSink::toFile(f);
  const vl::FileError e = vl::compress(data, size, small, smallCapacity, file);
  std::fclose(f);
  if (e != vl::FileError::None) return;  // a frame bigger than the memory stream's room
  if (vl::decompress(stored.data(), file.length, back.data(), size) != vl::FileError::None) __builtin_trap();
  if (size > 0 && std::memcmp(back.data(), data, size) != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const size_t expected = (uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16) & 0xFFFFF;
  std::vector<uint8_t> out(expected);
  vl::decompress(data + 4, size - 4, out.data(), expected);
  roundTrip(data + 4, size - 4);
  return 0;
}
