#include "events/event_files.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "document/paper.h"
#include "events/event_manager.h"
#include "files/compress.h"
#include "platform/file_read.h"

namespace vl {
namespace {

constexpr uint32_t kCurrentHeaderBytes = 56;
constexpr uint32_t kVersion21HeaderBytes = 40;
constexpr uint32_t kBlockHeadBytes = 28;
constexpr uint32_t kSegment = CEventMngr::kSegmentSize;

void put16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  put16(b, at, v & 0xFFFF);
  put16(b, at + 2, v >> 16);
}
uint32_t get16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t get32(const uint8_t* p) { return get16(p) | get16(p + 2) << 16; }
size_t padded4(size_t n) { return (n + 3) & ~size_t(3); }

// The fields both headers share, from offset 8.
void putCommon(std::vector<uint8_t>& h, const EventStreamFile& f, uint32_t length) {
  put32(h, 8, uint32_t(f.paperWidth));
  put32(h, 12, uint32_t(f.paperHeight));
  put16(h, 16, f.version);
  put16(h, 18, f.flags);
  put16(h, 20, 3);
  put16(h, 22, 3);
  put32(h, 24, uint32_t(f.steps));
  put32(h, 28, length);
}

}  // namespace

EventFileKind eventFileKindOf(const std::string& path) {
  const size_t dot = path.rfind('.'), slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return EventFileKind::None;
  std::string e = path.substr(dot + 1);
  for (char& c : e) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (e == "ve3" || e == "vx3") return EventFileKind::Current;
  if (e == "ves") return EventFileKind::Version21;
  if (e == "wpe") return EventFileKind::Oldest;
  return EventFileKind::None;
}

int encodeEventFile(const EventStreamFile& f, const TMTC* thumbnail, std::vector<uint8_t>& out) {
  try {
    out.clear();
    if (f.stream.size() > CEventMngr::kMaxStream) return kEventFileWriteError;
    if (thumbnail) {
      const uint16_t form = f.scrambleThumbnail ? 2 : 1;
      const ThumbnailScramble s = form == 2 ? ThumbnailScramble{4, 0xA5, 6, 0} : ThumbnailScramble{};
      if (makeThumbnailBlock(*thumbnail, f.paperWidth, f.paperHeight, form, s, out) != FileError::None)
        return kEventFileNoMemory;
    }
    const uint32_t length = uint32_t(f.stream.size());
    if (!f.current) {
      std::vector<uint8_t> h(kVersion21HeaderBytes, 0);
      std::memcpy(h.data(), "VEVS", 4);
      put32(h, 4, uint32_t(32 + padded4(length)));
      putCommon(h, f, length);
      out.insert(out.end(), h.begin(), h.end());
      out.insert(out.end(), f.stream.begin(), f.stream.end());
      out.resize(out.size() + padded4(length) - length, 0);
      return kEventFileOk;
    }
    std::vector<uint8_t> h(kCurrentHeaderBytes, 0);
    std::memcpy(h.data(), "VEVP", 4);
    put32(h, 4, 48);
    putCommon(h, f, length);
    const uint32_t blocks = (length + kSegment - 1) / kSegment;
    put32(h, 40, blocks);
    put32(h, 44, kSegment);
    out.insert(out.end(), h.begin(), h.end());
    Block buffer;
    size_t capacity = 0;
    for (uint32_t at = 0; at < length; at += kSegment) {
      const uint32_t n = std::min(kSegment, length - at);
      CompressSink sink = CompressSink::growBuffer();
      if (compress(f.stream.data() + at, n, buffer, capacity, sink) != FileError::None) return kEventFileNoMemory;
      const size_t pad = padded4(sink.length);
      std::vector<uint8_t> head(kBlockHeadBytes, 0);
      std::memcpy(head.data(), "VBEV", 4);
      put32(head, 4, uint32_t(pad + 20));
      put32(head, 8, at);
      put32(head, 12, n);
      put32(head, 16, uint32_t(sink.length));
      out.insert(out.end(), head.begin(), head.end());
      out.insert(out.end(), buffer.get(), buffer.get() + sink.length);
      out.resize(out.size() + pad - sink.length, 0);
    }
    return kEventFileOk;
  } catch (const std::bad_alloc&) {
    return kEventFileNoMemory;
  }
}

int writeEventFile(const std::string& path, const EventStreamFile& f, const TMTC* thumbnail,
                   const AtomicFileCalls& calls) {
  std::vector<uint8_t> bytes;
  const int e = encodeEventFile(f, thumbnail, bytes);
  if (e != kEventFileOk) return e;
  AtomicFileWriter file(calls);
  if (!file.Open(path)) return kEventFileCannotOpen;
  if (!file.Write(bytes.data(), bytes.size()) || !file.Commit()) return kEventFileWriteError;
  return kEventFileOk;
}

int decodeEventFile(const uint8_t* data, size_t size, EventStreamFile& out) {
  try {
    size_t at = 0;
    if (size >= 4 && std::memcmp(data, "VTNL", 4) == 0) {
      if (size < kThumbnailHeadBytes) return kEventFileShortRead;
      const uint64_t block = uint64_t(kThumbnailHeadBytes) + get32(data + 4);
      if (get32(data + 4) < kThumbnailDescriptorBytes) return kEventFileThumbnailPastEnd;
      if (block > size) return kEventFileThumbnailPastEnd;
      at = size_t(block);
    }
    if (size - at < kVersion21HeaderBytes) return kEventFileShortRead;
    const uint8_t* h = data + at;
    const bool current = std::memcmp(h, "VEVP", 4) == 0;
    if (!current && std::memcmp(h, "VEVS", 4) != 0) return kEventFileMagic;
    out.current = current;
    out.paperWidth = int32_t(get32(h + 8));
    out.paperHeight = int32_t(get32(h + 12));
    out.version = uint16_t(get16(h + 16));
    out.flags = uint16_t(get16(h + 18));
    out.steps = int32_t(get32(h + 24));
    const uint32_t length = get32(h + 28);
    if (out.version > kEventFileVersionCurrent) return kEventFileVersion;
    if (length > CEventMngr::kMaxStream) return kEventFileNoLength;
    if (out.steps < 0) return kEventFileHeaderLength;
    out.stream.clear();
    if (!current) {
      // The raw stream and its padding fill the rest of the header's length.
      if (out.flags != 0) return kEventFileFlags;
      const int64_t rest = int64_t(get32(h + 4)) - int64_t(length) - 32;
      if (rest < 0) return kEventFileHeaderLength;
      const uint64_t from = at + kVersion21HeaderBytes;
      if (from + length > size) return kEventFileShortRead;
      if (length == 0) return kEventFileEmpty;
      out.stream.assign(data + from, data + from + length);
      return kEventFileOk;
    }
    if (size - at < kCurrentHeaderBytes) return kEventFileShortRead;
    if (get32(h + 4) != 48) return kEventFileHeaderLength;
    const uint32_t blocks = get32(h + 40), segment = get32(h + 44);
    if (blocks == 0 || length == 0) return kEventFileEmpty;
    if (segment != kSegment) return kEventFileSegmentSize;
    // As many blocks as the length needs, no more.
    if (uint64_t(blocks) != (uint64_t(length) + segment - 1) / segment) return kEventFileNoLength;
    out.stream.resize(length);
    size_t pos = at + kCurrentHeaderBytes;
    uint32_t filled = 0;
    for (uint32_t b = 0; b < blocks; ++b) {
      if (size - pos < kBlockHeadBytes) return kEventFileShortRead;
      const uint8_t* head = data + pos;
      if (std::memcmp(head, "VBEV", 4) != 0) return kEventFileMagic;
      const uint64_t body = get32(head + 4);
      const uint32_t offset = get32(head + 8), raw = get32(head + 12), packed = get32(head + 16);
      if (body < 20 || body - 20 < packed) return kEventFileHeaderLength;
      if (offset != filled || raw == 0 || raw > segment || uint64_t(offset) + raw > length) return kEventFileBlockLength;
      const uint64_t next = uint64_t(pos) + 8 + body;
      if (next > size) return kEventFileShortRead;
      if (decompress(head + kBlockHeadBytes, packed, out.stream.data() + offset, raw) != FileError::None)
        return kEventFileBlockLength;
      filled += raw;
      pos = size_t(next);
    }
    if (filled != length) return kEventFileBlockLength;
    return kEventFileOk;
  } catch (const std::bad_alloc&) {
    return kEventFileNoMemory;
  }
}

int readEventFile(const std::string& path, EventStreamFile& out) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return kEventFileNotFound;
  Block data;
  size_t size = 0;
  switch (readWholeFile(path, kMaxEventFileBytes, data, size)) {
    case ReadFileStatus::Ok: break;
    case ReadFileStatus::Empty: return kEventFileShortRead;
    case ReadFileStatus::OutOfMemory:
    case ReadFileStatus::TooLarge: return kEventFileNoMemory;
    case ReadFileStatus::CannotOpen: return kEventFileCannotOpen;
    case ReadFileStatus::ReadFailed: return kEventFileShortRead;
  }
  return decodeEventFile(data.get(), size, out);
}

int readEventThumbnail(const std::string& path, TMTC& thumbnail, int32_t& paperWidth, int32_t& paperHeight) {
  Block data;
  size_t size = 0;
  if (readWholeFile(path, kMaxEventFileBytes, data, size) != ReadFileStatus::Ok) return kEventFileCannotOpen;
  if (size < 4 || std::memcmp(data.get(), "VTNL", 4) != 0) return kEventFileNoThumbnail;
  ThumbnailInfo info;
  uint64_t bytes = 0;
  const FileError e = readThumbnailBlock(data.get(), size, info, thumbnail, bytes);
  if (e == FileError::Truncated) return kEventFileThumbnailPastEnd;
  if (e == FileError::Unsupported) return kEventFileThumbnailForm;
  if (e != FileError::None) return kEventFileNoThumbnail;
  paperWidth = info.paperWidth;
  paperHeight = info.paperHeight;
  return kEventFileOk;
}

int saveEventStream(const std::string& path, TPaper& paper, CEventMngr& events, bool current, uint16_t version,
                    uint16_t flags) {
  if (!events.canSave()) return kEventFileNoManager;
  EventStreamFile f;
  f.current = current;
  f.version = version ? version : kEventFileVersionCurrent;
  f.scrambleThumbnail = version >= 16;
  f.flags = flags;
  f.paperWidth = paper.width;
  f.paperHeight = paper.height;
  TMTC thumbnail;
  const bool withThumbnail = reduceToThumbnail(paper.compositeImage, thumbnail);
  if (!events.closeForSave()) return kEventFileWriteError;
  int e = events.writeStream(f.stream) ? kEventFileOk : kEventFileNoMemory;
  f.steps = events.StepCount();
  events.reopenAfterSave();
  if (e == kEventFileOk) e = writeEventFile(path, f, withThumbnail ? &thumbnail : nullptr);
  return e;
}

}  // namespace vl
