#pragma once
// Where chunked files are read from and written to: a file or memory on the
// reading side, read at explicit offsets so a reader can skip what it does
// not know; a buffered sink on the writing side, in front of a save that
// never destroys the previous file.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "files/file_error.h"
#include "platform/atomic_file.h"

namespace vl {

class InputSource {
 public:
  virtual ~InputSource() = default;
  virtual uint64_t Size() const = 0;
  // Exactly n bytes at `at`; false when they are not all there or cannot be read.
  virtual bool ReadAt(uint64_t at, void* out, size_t n) = 0;
};

// Bytes the caller keeps alive.
class MemoryInput : public InputSource {
 public:
  MemoryInput(const uint8_t* data, size_t size) : data(data), size(size) {}
  uint64_t Size() const override { return size; }
  bool ReadAt(uint64_t at, void* out, size_t n) override;

 private:
  const uint8_t* data;
  size_t size;
};

// A regular file, read with pread.
class FileInput : public InputSource {
 public:
  FileInput() = default;
  FileInput(const FileInput&) = delete;
  FileInput& operator=(const FileInput&) = delete;
  ~FileInput() override;
  // CannotOpen for a missing or unreadable path, or one that is no regular file.
  FileError Open(const std::string& path);
  uint64_t Size() const override { return size; }
  bool ReadAt(uint64_t at, void* out, size_t n) override;

 private:
  int fd = -1;
  uint64_t size = 0;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // False when the bytes could not all be taken; every later write fails too.
  virtual bool Write(const void* data, size_t n) = 0;
  // Bytes taken so far.
  virtual uint64_t Position() const = 0;
  bool Zeros(size_t n);
};

class MemorySink : public ByteSink {
 public:
  bool Write(const void* data, size_t n) override;
  uint64_t Position() const override { return bytes.size(); }
  std::vector<uint8_t> bytes;

 private:
  bool failed = false;
};

// Gathers writes into large pieces for an atomic file writer.
class BufferedFileSink : public ByteSink {
 public:
  static constexpr size_t kBufferBytes = size_t(1) << 20;
  explicit BufferedFileSink(AtomicFileWriter& writer) : writer(writer) {}
  bool Write(const void* data, size_t n) override;
  uint64_t Position() const override { return position; }
  // Hands the gathered bytes to the writer.
  bool Flush();

 private:
  AtomicFileWriter& writer;
  std::vector<uint8_t> buffer;
  uint64_t position = 0;
  bool failed = false;
};

// Little-endian fields.
inline uint32_t readU16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
inline uint32_t readU32(const uint8_t* p) { return readU16(p) | readU16(p + 2) << 16; }
inline void writeU16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void writeU32(uint8_t* p, uint32_t v) {
  writeU16(p, v & 0xFFFF);
  writeU16(p + 2, v >> 16);
}

}  // namespace vl
