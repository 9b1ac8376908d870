#include "files/compress.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace vl {
namespace {

std::vector<uint8_t> eventLike(size_t n) {
  // Packets: a few header fields that repeat with small changes, then coordinates.
  std::vector<uint8_t> d(n);
  std::mt19937 rng(7);
  for (size_t i = 0; i < n; ++i) d[i] = (i % 16 < 6) ? uint8_t(i % 16) : uint8_t(rng() % 8 + (i / 256) % 64);
  return d;
}

std::vector<uint8_t> noise(size_t n) {
  std::vector<uint8_t> d(n);
  std::mt19937 rng(11);
  for (auto& b : d) b = uint8_t(rng());
  return d;
}

std::vector<uint8_t> compressGrowing(const std::vector<uint8_t>& src) {
  Block buffer;
  size_t capacity = 0;
  CompressSink sink = CompressSink::growBuffer();
  EXPECT_EQ(compress(src.data(), src.size(), buffer, capacity, sink), FileError::None);
  EXPECT_LE(sink.length, capacity);
  return std::vector<uint8_t>(buffer.get(), buffer.get() + sink.length);
}

struct Input {
  const char* name;
  std::vector<uint8_t> bytes;
};

std::vector<Input> inputs() {
  return {{"empty", {}},
          {"one byte", {42}},
          {"event segment", eventLike(65536)},
          {"tile run", std::vector<uint8_t>(4096, 0x5A)},
          {"incompressible", noise(300000)}};
}

TEST(Compress, BothSinksRestoreEveryInputExactly) {
  for (const Input& in : inputs()) {
    SCOPED_TRACE(in.name);
    // Growing sink, starting from a small caller buffer as the callers do.
    Block buffer = TryAlloc(16384);
    size_t capacity = 16384;
    CompressSink grow = CompressSink::growBuffer();
    ASSERT_EQ(compress(in.bytes.data(), in.bytes.size(), buffer, capacity, grow), FileError::None);
    ASSERT_GT(grow.length, 0u);
    std::vector<uint8_t> back(in.bytes.size());
    ASSERT_EQ(decompress(buffer.get(), grow.length, back.data(), back.size()), FileError::None);
    EXPECT_EQ(back, in.bytes);

    // File sink with a work buffer much smaller than the output: many chunks.
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::fputs("head", f);
    Block small = TryAlloc(100);
    size_t smallCapacity = 100;
    CompressSink file = CompressSink::toFile(f);
    ASSERT_EQ(compress(in.bytes.data(), in.bytes.size(), small, smallCapacity, file), FileError::None);
    EXPECT_EQ(smallCapacity, 100u);  // the file sink never enlarges the buffer
    EXPECT_EQ(std::ftell(f), long(4 + file.length));
    std::vector<uint8_t> stored(file.length);
    std::fseek(f, 4, SEEK_SET);
    ASSERT_EQ(std::fread(stored.data(), 1, stored.size(), f), stored.size());
    std::fclose(f);
    std::fill(back.begin(), back.end(), 0);
    ASSERT_EQ(decompress(stored.data(), stored.size(), back.data(), back.size()), FileError::None);
    EXPECT_EQ(back, in.bytes);
  }
}

TEST(Compress, GrowingSinkEnlargesTheCallersBuffer) {
  const std::vector<uint8_t> src = noise(100000);
  Block buffer = TryAlloc(16384);
  size_t capacity = 16384;
  CompressSink sink;
  ASSERT_EQ(compress(src.data(), src.size(), buffer, capacity, sink), FileError::None);
  EXPECT_GT(capacity, 16384u);
  EXPECT_GT(sink.length, 16384u);
}

TEST(Compress, CompressesRepetitiveData) {
  EXPECT_LT(compressGrowing(std::vector<uint8_t>(4096, 0)).size(), 64u);
  EXPECT_LT(compressGrowing(eventLike(65536)).size(), 65536u / 2);
}

TEST(Compress, FailedFileWriteLeavesTheStreamWhereItWas) {
  char name[] = "/tmp/vl_compress_XXXXXX";
  int fd = mkstemp(name);
  ASSERT_GE(fd, 0);
  ::close(fd);
  std::FILE* f = std::fopen(name, "rb");  // writes fail
  ASSERT_NE(f, nullptr);
  const std::vector<uint8_t> src = noise(200000);
  Block buffer;
  size_t capacity = 0;
  CompressSink sink = CompressSink::toFile(f);
  EXPECT_EQ(compress(src.data(), src.size(), buffer, capacity, sink), FileError::WriteFailed);
  EXPECT_EQ(sink.length, 0u);
  EXPECT_EQ(std::ftell(f), 0);
  std::fclose(f);
  std::remove(name);

  CompressSink noFile = CompressSink::toFile(nullptr);
  EXPECT_EQ(compress(src.data(), 10, buffer, capacity, noFile), FileError::BadArgument);
}

TEST(Decompress, ExactLengthOnly) {
  const std::vector<uint8_t> src = eventLike(5000);
  const std::vector<uint8_t> packed = compressGrowing(src);
  std::vector<uint8_t> dst(src.size() + 1);
  EXPECT_EQ(decompress(packed.data(), packed.size(), dst.data(), src.size() - 1), FileError::WrongLength);
  EXPECT_EQ(decompress(packed.data(), packed.size(), dst.data(), src.size() + 1), FileError::WrongLength);
  EXPECT_EQ(decompress(packed.data(), packed.size(), dst.data(), 0), FileError::WrongLength);
  EXPECT_EQ(decompress(packed.data(), packed.size(), dst.data(), src.size()), FileError::None);

  const std::vector<uint8_t> empty = compressGrowing({});
  EXPECT_EQ(decompress(empty.data(), empty.size(), nullptr, 0), FileError::None);
  EXPECT_EQ(decompress(empty.data(), empty.size(), dst.data(), 1), FileError::WrongLength);
}

TEST(Decompress, DamagedInputIsAnError) {
  const std::vector<uint8_t> src = eventLike(20000);
  const std::vector<uint8_t> packed = compressGrowing(src);
  std::vector<uint8_t> dst(src.size());

  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"nothing", {}});
  cases.push_back({"garbage", noise(500)});
  cases.push_back({"truncated", std::vector<uint8_t>(packed.begin(), packed.end() - 7)});
  cases.push_back({"header only", std::vector<uint8_t>(packed.begin(), packed.begin() + 6)});
  std::vector<uint8_t> trailing = packed;
  trailing.push_back(0);
  cases.push_back({"trailing byte", trailing});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FileError e = decompress(c.bytes.empty() ? nullptr : c.bytes.data(), c.bytes.size(), dst.data(), dst.size());
    EXPECT_NE(e, FileError::None);
  }

  // Every byte of the frame changed in turn: the checksum catches what the
  // structure does not. A few bits are unused by the format, so a change there
  // may still give the original bytes, but never different ones.
  for (size_t i = 0; i < packed.size(); ++i) {
    std::vector<uint8_t> flipped = packed;
    flipped[i] ^= 0x10;
    std::fill(dst.begin(), dst.end(), 0);
    if (decompress(flipped.data(), flipped.size(), dst.data(), dst.size()) == FileError::None) {
      ASSERT_EQ(dst, src) << "byte " << i;
    }
  }
}

}  // namespace
}  // namespace vl
