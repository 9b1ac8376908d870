#include "files/event_body.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "files/compress.h"

namespace vl {
namespace {

// The compressor never makes a 65536-byte segment much longer than it was.
constexpr uint32_t kMaxBlockData = kEventSegmentBytes + 4096;

}  // namespace

FileError writeEventBody(const uint8_t* stream, size_t length, const EventBodyInfo& info, ByteSink& sink) {
  if (!stream || length == 0 || length > 0x7FFFFFFFu) return FileError::BadArgument;
  const uint32_t blocks = uint32_t((length + kEventSegmentBytes - 1) / kEventSegmentBytes);
  uint8_t head[kEventBodyHeaderBytes] = {};
  std::memcpy(head, "VEVP", 4);
  writeU32(head + 4, kEventBodyHeaderBytes - 8);
  writeU32(head + 8, uint32_t(info.paperWidth));
  writeU32(head + 12, uint32_t(info.paperHeight));
  writeU16(head + 16, info.version);
  writeU16(head + 18, info.flags);
  writeU16(head + 20, 3);
  writeU16(head + 22, 3);
  writeU32(head + 24, info.steps);
  writeU32(head + 28, uint32_t(length));
  writeU32(head + 40, blocks);
  writeU32(head + 44, kEventSegmentBytes);
  if (!sink.Write(head, sizeof head)) return FileError::WriteFailed;
  Block buffer;
  size_t capacity = 0;
  for (size_t at = 0; at < length; at += kEventSegmentBytes) {
    const size_t n = std::min<size_t>(kEventSegmentBytes, length - at);
    CompressSink out = CompressSink::growBuffer();
    if (const FileError e = compress(stream + at, n, buffer, capacity, out); e != FileError::None) return e;
    const size_t padded = (out.length + 3) & ~size_t(3);
    uint8_t block[kEventBlockHeadBytes] = {};
    std::memcpy(block, "VBEV", 4);
    writeU32(block + 4, uint32_t(padded + kEventBlockHeadBytes - 8));
    writeU32(block + 8, uint32_t(at));
    writeU32(block + 12, uint32_t(n));
    writeU32(block + 16, uint32_t(out.length));
    if (!sink.Write(block, sizeof block) || !sink.Write(buffer.get(), out.length) ||
        !sink.Zeros(padded - out.length))
      return FileError::WriteFailed;
  }
  return FileError::None;
}

FileError readEventBody(InputSource& in, uint64_t& at, uint64_t maxStream, EventBodyInfo& info,
                        std::vector<uint8_t>& stream) {
  uint8_t head[kEventBodyHeaderBytes];
  if (!in.ReadAt(at, head, sizeof head)) return FileError::Truncated;
  if (std::memcmp(head, "VEVP", 4) != 0) return FileError::NotThisFormat;
  if (readU32(head + 4) != kEventBodyHeaderBytes - 8) return FileError::Corrupt;
  info.paperWidth = int32_t(readU32(head + 8));
  info.paperHeight = int32_t(readU32(head + 12));
  info.version = uint16_t(readU16(head + 16));
  info.flags = uint16_t(readU16(head + 18));
  info.steps = readU32(head + 24);
  const uint64_t length = readU32(head + 28), blocks = readU32(head + 40);
  if (info.version > kEventFileVersion) return FileError::Unsupported;
  if (readU32(head + 44) != kEventSegmentBytes) return FileError::Corrupt;
  if (length == 0 || blocks != (length + kEventSegmentBytes - 1) / kEventSegmentBytes) return FileError::Corrupt;
  if (length > maxStream) return FileError::TooLarge;
  // Every block takes at least its head: a length the file cannot hold is
  // refused at once. The stream grows only as blocks decode.
  if (blocks * kEventBlockHeadBytes > in.Size() - std::min(in.Size(), at + sizeof head)) return FileError::Truncated;
  stream.clear();
  uint64_t pos = at + sizeof head;
  // From here on a failure leaves `at` at the block that failed.
  auto fail = [&](FileError e) {
    at = pos;
    return e;
  };
  std::vector<uint8_t> data;
  while (stream.size() < length) {
    uint8_t block[kEventBlockHeadBytes];
    if (!in.ReadAt(pos, block, sizeof block)) return fail(FileError::Truncated);
    if (std::memcmp(block, "VBEV", 4) != 0) return fail(FileError::Corrupt);
    const uint64_t chunk = readU32(block + 4), offset = readU32(block + 8), raw = readU32(block + 12),
                   packed = readU32(block + 16);
    if (chunk < kEventBlockHeadBytes - 8 || chunk - (kEventBlockHeadBytes - 8) > kMaxBlockData)
      return fail(FileError::Corrupt);
    const uint64_t dataBytes = chunk - (kEventBlockHeadBytes - 8);
    if (offset != stream.size() || raw == 0 || raw > kEventSegmentBytes || raw > length - stream.size() ||
        packed > dataBytes)
      return fail(FileError::Corrupt);
    // Every block but the last is a whole segment.
    if (raw != std::min<uint64_t>(kEventSegmentBytes, length - stream.size())) return fail(FileError::Corrupt);
    if (pos + kEventBlockHeadBytes + dataBytes > in.Size()) return fail(FileError::Truncated);
    try {
      data.resize(size_t(packed));
    } catch (const std::bad_alloc&) {
      return fail(FileError::OutOfMemory);
    }
    if (!in.ReadAt(pos + kEventBlockHeadBytes, data.data(), data.size())) return fail(FileError::Truncated);
    const size_t before = stream.size();
    try {
      stream.resize(before + size_t(raw));
    } catch (const std::bad_alloc&) {
      return fail(FileError::OutOfMemory);
    }
    if (const FileError e = decompress(data.data(), data.size(), stream.data() + before, size_t(raw));
        e != FileError::None) {
      stream.resize(before);
      return fail(e);
    }
    pos += kEventBlockHeadBytes + dataBytes;
  }
  at = pos;
  return FileError::None;
}

}  // namespace vl
