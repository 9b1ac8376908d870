// The PSD reader. Opening walks the whole structure of the file and checks
// every length, count and size against the bytes there are; channel data is
// decoded only when asked for, one channel at a time, so a large file never
// has to fit in memory.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "files/image_internal.h"
#include "files/psd_internal.h"

namespace vl {

namespace psd {

namespace {

constexpr size_t kHeaderBytes = 26;
constexpr uint16_t kRaw = 0;
constexpr uint16_t kPackBits = 1;
constexpr uint16_t kZip = 2;
constexpr uint16_t kZipPredicted = 3;
constexpr uint16_t kResolutionInfo = 1005;
constexpr uint16_t kAlphaNames = 1006;
constexpr uint16_t kUnicodeAlphaNames = 1045;
// Resolutions beyond this come from broken files.
constexpr uint64_t kMaxDpi = 1000000;

class MemorySource : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t n) : p(data) { size = data ? n : 0; }
  bool Read(uint64_t offset, void* dst, size_t n) override {
    if (offset > size || n > size - offset) return false;
    if (n) std::memcpy(dst, p + offset, n);
    return true;
  }
  const uint8_t* View(uint64_t offset, size_t n) const override {
    return offset <= size && n <= size - offset ? p + offset : nullptr;
  }

 private:
  const uint8_t* p;
};

class FileSource : public ByteSource {
 public:
  ~FileSource() override {
    if (fd >= 0) ::close(fd);
  }
  FileError Open(const std::string& path) {
    // Non-blocking, so that a FIFO cannot stall the open; it is refused below.
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return FileError::CannotOpen;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return FileError::CannotOpen;
    size = uint64_t(std::max<off_t>(st.st_size, 0));
    return FileError::None;
  }
  bool Read(uint64_t offset, void* dst, size_t n) override {
    if (offset > size || n > size - offset) return false;
    auto* d = static_cast<uint8_t*>(dst);
    while (n > 0) {
      const ssize_t r = ::pread(fd, d, n, off_t(offset));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) return false;  // a file that shrinks reads short
      d += r;
      n -= size_t(r);
      offset += uint64_t(r);
    }
    return true;
  }
  const uint8_t* View(uint64_t, size_t) const override { return nullptr; }

 private:
  int fd = -1;
};

uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
uint32_t be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

// Sequential big-endian reads inside [pos, end) of a source, through a small
// window so that the many small fields of the layer records cost no system
// call each. A read that would pass `end` fails and sets `overrun`; one the
// source cannot serve sets `failed`.
class Cursor {
 public:
  Cursor(ByteSource& s, uint64_t start, uint64_t limit) : src(s), pos(start), end(limit) {}

  bool bytes(void* dst, size_t n) {
    if (!fits(n)) return false;
    auto* d = static_cast<uint8_t*>(dst);
    while (n > 0) {
      if (pos < winStart || pos >= winStart + winLen) {
        if (!fill()) return false;
      }
      const size_t at = size_t(pos - winStart);
      const size_t k = std::min(n, winLen - at);
      std::memcpy(d, window + at, k);
      d += k;
      n -= k;
      pos += k;
    }
    return true;
  }
  bool u8(uint8_t& v) { return bytes(&v, 1); }
  bool u16(uint16_t& v) {
    uint8_t b[2];
    if (!bytes(b, 2)) return false;
    v = be16(b);
    return true;
  }
  bool u32(uint32_t& v) {
    uint8_t b[4];
    if (!bytes(b, 4)) return false;
    v = be32(b);
    return true;
  }
  bool i16(int16_t& v) {
    uint16_t u;
    if (!u16(u)) return false;
    v = int16_t(u);
    return true;
  }
  bool i32(int32_t& v) {
    uint32_t u;
    if (!u32(u)) return false;
    v = int32_t(u);
    return true;
  }
  bool skip(uint64_t n) {
    if (!fits(n)) return false;
    pos += n;
    return true;
  }
  uint64_t left() const { return end - pos; }

  ByteSource& src;
  uint64_t pos;
  uint64_t end;
  bool overrun = false;
  bool failed = false;

 private:
  bool fits(uint64_t n) {
    if (pos <= end && n <= end - pos) return true;
    overrun = true;
    return false;
  }
  bool fill() {
    winStart = pos;
    winLen = size_t(std::min<uint64_t>(sizeof window, src.size - pos));
    if (winLen == 0 || !src.Read(pos, window, winLen)) {
      winLen = 0;
      failed = true;
      return false;
    }
    return true;
  }

  uint8_t window[4096];
  uint64_t winStart = 0;
  size_t winLen = 0;
};

// The error of a cursor that stopped: the source failing, or the data ending
// (within the file: the part is damaged; at the file's end: cut short).
FileError cursorFailure(PsdFile& f, const Cursor& c, TextId part, int64_t index = 0) {
  if (c.failed) return f.Fail(FileError::ReadFailed);
  if (c.end >= f.source->size) return f.Fail(FileError::Truncated, TextId::PsdCutShort, part, index);
  return f.Fail(FileError::Corrupt, TextId::PsdDamaged, part, index);
}

FileError damaged(PsdFile& f, TextId part, int64_t index = 0) {
  return f.Fail(FileError::Corrupt, TextId::PsdDamaged, part, index);
}

FileError unsupportedMode(PsdFile& f, uint16_t mode) {
  TextId name = TextId::PsdModeNumber;
  switch (mode) {
    case 2: name = TextId::PsdModeIndexed; break;
    case 4: name = TextId::PsdModeCmyk; break;
    case 7: name = TextId::PsdModeMultichannel; break;
    case 8: name = TextId::PsdModeDuotone; break;
    case 9: name = TextId::PsdModeLab; break;
    default: break;
  }
  f.Fail(FileError::Unsupported, TextId::PsdColourMode, TextId::Count, mode);
  f.problem.name = name;
  return FileError::Unsupported;
}

bool isResourceSignature(const uint8_t* s) {
  static const char* const kKnown[] = {"8BIM", "MeSa", "AgHg", "PHUT", "DCSR"};
  for (const char* k : kKnown)
    if (std::memcmp(s, k, 4) == 0) return true;
  return false;
}

bool isBlockSignature(const uint8_t* s) { return std::memcmp(s, "8BIM", 4) == 0 || std::memcmp(s, "8B64", 4) == 0; }

// Dots per inch from a 16.16 resolution in pixels per inch (unit 1) or per
// centimetre (unit 2).
int32_t dpiOf(uint32_t fixed, uint16_t unit) {
  const uint64_t v = fixed;
  uint64_t dpi = 0;
  if (unit == 1) dpi = (v + 0x8000) >> 16;
  else if (unit == 2) dpi = (v * 254 + 50 * 65536) / (100 * 65536);
  return int32_t(std::min<uint64_t>(dpi, kMaxDpi));
}

FileError parseHeader(PsdFile& f, Cursor& c) {
  uint8_t h[kHeaderBytes];
  const size_t start = size_t(std::min<uint64_t>(f.source->size, 4));
  if (!f.source->Read(0, h, start)) return f.Fail(FileError::ReadFailed);
  if (std::memcmp(h, "8BPS", start) != 0) return f.Fail(FileError::NotThisFormat);
  if (!c.bytes(h, kHeaderBytes)) return cursorFailure(f, c, TextId::PsdPartHeader);
  PsdFileHeader& hd = f.header;
  hd.version = be16(h + 4);
  hd.channels = be16(h + 12);
  const uint32_t height = be32(h + 14), width = be32(h + 18);
  hd.depth = be16(h + 22);
  hd.colorMode = be16(h + 24);
  if (hd.version == 2) return f.Fail(FileError::Unsupported, TextId::PsdLargeDocument);
  if (hd.version != 1) return damaged(f, TextId::PsdPartHeader);
  if (hd.colorMode != kPsdBitmap && hd.colorMode != kPsdGreyscale && hd.colorMode != kPsdRgb)
    return unsupportedMode(f, hd.colorMode);
  if (hd.depth == 16 || hd.depth == 32) return f.Fail(FileError::Unsupported, TextId::PsdDepth, TextId::Count, hd.depth);
  if ((hd.colorMode == kPsdBitmap) != (hd.depth == 1) || (hd.depth != 1 && hd.depth != 8))
    return damaged(f, TextId::PsdPartHeader);
  if (hd.channels < psdColourChannels(hd.colorMode) || hd.channels > kMaxPsdChannels ||
      (hd.colorMode == kPsdBitmap && hd.channels != 1))
    return damaged(f, TextId::PsdPartHeader);
  if (width == 0 || height == 0 || width > uint32_t(kMaxPsdSide) || height > uint32_t(kMaxPsdSide))
    return damaged(f, TextId::PsdPartHeader);
  if (uint64_t(width) * height > kMaxImagePixels)
    return f.Fail(FileError::TooLarge, TextId::PsdTooLarge, TextId::Count, width, height);
  hd.width = int32_t(width);
  hd.height = int32_t(height);
  return FileError::None;
}

// A section: a 32-bit length and that many bytes, all inside the file.
FileError section(PsdFile& f, Cursor& c, TextId part, uint64_t& start, uint64_t& end) {
  uint32_t length = 0;
  if (!c.u32(length)) return cursorFailure(f, c, part);
  start = c.pos;
  if (length > c.left()) return f.Fail(FileError::Truncated, TextId::PsdCutShort, part);
  end = start + length;
  return FileError::None;
}

FileError parseResources(PsdFile& f, uint64_t start, uint64_t end) {
  Cursor c(*f.source, start, end);
  while (c.left() >= 12) {
    uint8_t sig[4];
    uint16_t id = 0;
    uint8_t nameLength = 0;
    if (!c.bytes(sig, 4) || !c.u16(id) || !c.u8(nameLength)) return cursorFailure(f, c, TextId::PsdPartResources);
    if (!isResourceSignature(sig)) return damaged(f, TextId::PsdPartResources);
    // The name and its length byte take an even number of bytes.
    uint32_t length = 0;
    if (!c.skip(nameLength + ((nameLength & 1) ? 0 : 1)) || !c.u32(length) || length > c.left())
      return cursorFailure(f, c, TextId::PsdPartResources);
    f.resources.push_back({id, c.pos, length});
    c.skip(length);
    c.skip(std::min<uint64_t>(length & 1, c.left()));  // data padded to even
  }
  for (const Resource& r : f.resources) {
    if (r.id != kResolutionInfo || r.length < 16) continue;
    uint8_t b[16];
    if (!f.source->Read(r.offset, b, 16)) return f.Fail(FileError::ReadFailed);
    f.header.xDpi = dpiOf(be32(b), be16(b + 4));
    f.header.yDpi = dpiOf(be32(b + 8), be16(b + 12));
    break;
  }
  return FileError::None;
}

// One layer record, ending inside [c.pos, infoEnd).
FileError parseRecord(PsdFile& f, Cursor& c, int32_t index, Layer& layer) {
  PsdLayerRecord& r = layer.record;
  const TextId part = TextId::PsdPartLayerRecord;
  uint16_t channelCount = 0;
  if (!c.i32(r.top) || !c.i32(r.left) || !c.i32(r.bottom) || !c.i32(r.right) || !c.u16(channelCount))
    return cursorFailure(f, c, part, index);
  const int64_t w = int64_t(r.right) - r.left, h = int64_t(r.bottom) - r.top;
  if (w < 0 || h < 0 || channelCount > kMaxPsdChannels) return damaged(f, part, index);
  // Either side alone may be long (an empty layer may be 0 high), but never
  // beyond the most pixels a picture may have.
  if (w > kMaxImagePixels || h > kMaxImagePixels || uint64_t(w) * uint64_t(h) > kMaxImagePixels)
    return f.Fail(FileError::TooLarge, TextId::PsdTooLarge, TextId::Count, w, h);
  layer.channels.resize(channelCount);
  for (Channel& ch : layer.channels) {
    uint32_t length = 0;
    if (!c.i16(ch.id) || !c.u32(length)) return cursorFailure(f, c, part, index);
    ch.length = length;
  }
  uint8_t sig[4];
  uint8_t filler = 0;
  uint32_t extraLength = 0;
  if (!c.bytes(sig, 4) || !c.bytes(r.blendKey, 4) || !c.u8(r.opacity) || !c.u8(r.clipping) || !c.u8(r.flags) ||
      !c.u8(filler) || !c.u32(extraLength))
    return cursorFailure(f, c, part, index);
  if (std::memcmp(sig, "8BIM", 4) != 0 || extraLength > c.left()) return damaged(f, part, index);
  Cursor e(*f.source, c.pos, c.pos + extraLength);
  c.skip(extraLength);

  uint32_t maskLength = 0, rangesLength = 0;
  uint8_t nameLength = 0;
  uint8_t name[255];
  if (!e.u32(maskLength) || !e.skip(maskLength) || !e.u32(rangesLength) || !e.skip(rangesLength) ||
      !e.u8(nameLength) || !e.bytes(name, nameLength))
    return cursorFailure(f, e, part, index);
  r.name = utf8FromStoredName(name, nameLength);
  // The name is padded to a multiple of 4 bytes; some writers pad to 2.
  const uint64_t afterName = e.pos;
  const uint64_t pad4 = (4 - (1 + uint64_t(nameLength)) % 4) % 4, pad2 = nameLength % 2 ? 0 : 1;
  for (uint64_t pad : {pad4, pad2}) {
    e.pos = afterName;
    uint8_t s[4];
    if (e.skip(pad) && e.left() >= 12 && e.bytes(s, 4) && isBlockSignature(s)) {
      e.pos -= 4;
      break;
    }
    e.pos = e.end;
  }
  if (e.failed) return f.Fail(FileError::ReadFailed);

  // Additional blocks: the Unicode name, the layer id, the folder type.
  std::string unicodeName;
  bool hasUnicodeName = false;
  while (e.left() >= 12) {
    uint8_t s[4], key[4];
    uint32_t length = 0;
    if (!e.bytes(s, 4) || !e.bytes(key, 4) || !e.u32(length)) return cursorFailure(f, e, part, index);
    if (!isBlockSignature(s)) break;  // padding or a writer's own bytes
    if (length > e.left()) return damaged(f, part, index);
    const uint64_t next = e.pos + length;
    if (std::memcmp(key, "luni", 4) == 0 && length >= 4) {
      uint32_t count = 0;
      e.u32(count);
      if (uint64_t(count) * 2 > length - 4) return damaged(f, part, index);
      std::vector<uint8_t> units(size_t(count) * 2);
      if (!e.bytes(units.data(), units.size())) return cursorFailure(f, e, part, index);
      unicodeName = utf8FromUtf16Be(units.data(), count);
      while (!unicodeName.empty() && unicodeName.back() == '\0') unicodeName.pop_back();
      hasUnicodeName = true;
    } else if (std::memcmp(key, "lyid", 4) == 0 && length >= 4) {
      e.i32(r.id);
    } else if (std::memcmp(key, "lsct", 4) == 0 && length >= 4) {
      uint32_t type = 0;
      e.u32(type);
      r.sectionType = type <= 3 ? int32_t(type) : 0;
    }
    if (e.failed) return f.Fail(FileError::ReadFailed);
    e.pos = next;
  }
  if (hasUnicodeName) r.name = unicodeName;
  r.channelIds.clear();
  for (const Channel& ch : layer.channels) r.channelIds.push_back(ch.id);
  return FileError::None;
}

FileError parseLayers(PsdFile& f, uint64_t start, uint64_t end) {
  if (end - start < 4) return FileError::None;
  Cursor c(*f.source, start, end);
  const TextId part = TextId::PsdPartLayerInfo;
  uint32_t infoLength = 0;
  c.u32(infoLength);
  if (infoLength > c.left()) return damaged(f, part);
  if (infoLength == 0) return FileError::None;
  const uint64_t infoEnd = c.pos + infoLength;
  Cursor info(*f.source, c.pos, infoEnd);
  int16_t count = 0;
  if (!info.i16(count)) return cursorFailure(f, info, part);
  f.header.mergedAlpha = count < 0;
  const int32_t n = count < 0 ? -int32_t(count) : count;
  // Each record takes at least 34 bytes: no count can ask for more records
  // than its section holds.
  if (uint64_t(n) * 34 > info.left()) return damaged(f, part);
  f.layers.resize(size_t(n));
  for (int32_t i = 0; i < n; ++i) {
    const FileError e = parseRecord(f, info, i, f.layers[size_t(i)]);
    if (e != FileError::None) return e;
  }
  // The channel data follows the records, layer after layer.
  uint64_t at = info.pos;
  for (int32_t i = 0; i < n; ++i) {
    Layer& layer = f.layers[size_t(i)];
    const uint64_t w = uint64_t(layer.record.width()), h = uint64_t(layer.record.height());
    const uint64_t rowBytes = f.header.depth == 1 ? (w + 7) / 8 : w;
    for (Channel& ch : layer.channels) {
      if (ch.length < 2 || ch.length > infoEnd - at) return damaged(f, TextId::PsdPartLayerChannel, i);
      ch.offset = at;
      at += ch.length;
      uint8_t b[2];
      if (!f.source->Read(ch.offset, b, 2)) return f.Fail(FileError::ReadFailed);
      ch.compression = be16(b);
      if (ch.id < -1) continue;  // user masks are not read
      if (w == 0 || h == 0) continue;
      if (ch.compression == kZip || ch.compression == kZipPredicted)
        return f.Fail(FileError::Unsupported, TextId::PsdZipData);
      const uint64_t data = ch.length - 2;
      if ((ch.compression == kRaw && data < rowBytes * h) || (ch.compression == kPackBits && data < 2 * h) ||
          ch.compression > kPackBits)
        return damaged(f, TextId::PsdPartLayerChannel, i);
    }
  }
  // What follows the layer information: the global mask block, then blocks
  // this reader has no use for.
  c.skip(infoLength);
  uint32_t globalMaskLength = 0;
  if (c.left() >= 4 && (!c.u32(globalMaskLength) || globalMaskLength > c.left())) return damaged(f, part);
  return FileError::None;
}

int64_t mergedRowBytes(const PsdFileHeader& h) {
  return h.depth == 1 ? (int64_t(h.width) + 7) / 8 : int64_t(h.width);
}

FileError parseImageData(PsdFile& f, uint64_t start) {
  const TextId part = TextId::PsdPartImageData;
  Cursor c(*f.source, start, f.source->size);
  uint16_t compression = 0;
  if (!c.u16(compression)) return cursorFailure(f, c, part);
  f.imageCompression = compression;
  f.imageData = c.pos;
  const PsdFileHeader& h = f.header;
  const uint64_t rowBytes = uint64_t(mergedRowBytes(h)), rows = uint64_t(h.height);
  f.mergedChannelAt.resize(h.channels);
  if (compression == kRaw) {
    const uint64_t channelBytes = rowBytes * rows;
    if (channelBytes * h.channels > c.left()) return f.Fail(FileError::Truncated, TextId::PsdCutShort, part);
    for (uint16_t k = 0; k < h.channels; ++k) f.mergedChannelAt[k] = c.pos + k * channelBytes;
    return FileError::None;
  }
  if (compression == kZip || compression == kZipPredicted) return f.Fail(FileError::Unsupported, TextId::PsdZipData);
  if (compression != kPackBits) return damaged(f, part);
  const uint64_t tableEntries = rows * h.channels;
  if (tableEntries * 2 > c.left()) return f.Fail(FileError::Truncated, TextId::PsdCutShort, part);
  std::vector<uint8_t> table;
  try {
    table.resize(size_t(tableEntries * 2));
    f.mergedRowLengths.resize(size_t(tableEntries));
  } catch (const std::bad_alloc&) {
    return f.Fail(FileError::OutOfMemory);
  }
  if (!c.bytes(table.data(), table.size())) return cursorFailure(f, c, part);
  uint64_t at = c.pos;
  for (uint16_t k = 0; k < h.channels; ++k) {
    f.mergedChannelAt[k] = at;
    for (uint64_t y = 0; y < rows; ++y) {
      const size_t i = size_t(k * rows + y);
      f.mergedRowLengths[i] = be16(table.data() + 2 * i);
      at += f.mergedRowLengths[i];
    }
  }
  if (at > f.source->size) return f.Fail(FileError::Truncated, TextId::PsdCutShort, part);
  return FileError::None;
}

FileError parse(PsdFile& f) {
  Cursor c(*f.source, 0, f.source->size);
  FileError e = parseHeader(f, c);
  if (e != FileError::None) return e;
  uint64_t start = 0, end = 0;
  if ((e = section(f, c, TextId::PsdPartColourData, start, end)) != FileError::None) return e;
  c.pos = end;
  if ((e = section(f, c, TextId::PsdPartResources, start, end)) != FileError::None) return e;
  if ((e = parseResources(f, start, end)) != FileError::None) return e;
  c.pos = end;
  if ((e = section(f, c, TextId::PsdPartLayerInfo, start, end)) != FileError::None) return e;
  if ((e = parseLayers(f, start, end)) != FileError::None) return e;
  return parseImageData(f, end);
}

// One channel's rows, one after the other: raw or PackBits, 8 bits a pixel
// or 1 (a bitmap file's rows, expanded to 0, black for a set bit, and 255).
// Open checks the lengths and gets the bytes; Next gives each row.
class ChannelRows {
 public:
  // `rowLengths` is the merged image's byte-count table for this channel;
  // layer channels carry theirs at the start of their data.
  FileError Open(PsdFile& f, uint64_t offset, uint64_t length, uint16_t compression, int32_t width, int32_t rows,
                 const uint16_t* rowLengths, TextId part, int64_t index) {
    file = &f;
    where = part;
    which = index;
    pixels = size_t(width);
    bits1 = f.header.depth == 1;
    rowBytes = bits1 ? (pixels + 7) / 8 : pixels;
    const uint64_t n = uint64_t(rows);
    packed = compression == kPackBits;
    if (compression == kRaw) {
      if (length < rowBytes * n) return damaged(f, part, index);
      if (!get(offset, rowBytes * n)) return failure(rowBytes * n);
    } else if (packed) {
      if (!rowLengths) {
        if (length < 2 * n) return damaged(f, part, index);
        const uint8_t* table = get(offset, 2 * n);
        if (!table) return failure(2 * n);
        try {
          ownLengths.resize(size_t(n));
        } catch (const std::bad_alloc&) {
          return f.Fail(FileError::OutOfMemory);
        }
        for (uint64_t y = 0; y < n; ++y) ownLengths[y] = be16(table + 2 * y);
        rowLengths = ownLengths.data();
        offset += 2 * n;
        length -= 2 * n;
      }
      lengths = rowLengths;
      uint64_t total = 0;
      for (uint64_t y = 0; y < n; ++y) total += lengths[y];
      if (total > length) return damaged(f, part, index);
      if (!get(offset, total)) return failure(total);
      row = TryAlloc(std::max<uint64_t>(rowBytes, 1));
      if (!row) return f.Fail(FileError::OutOfMemory);
    } else {
      return damaged(f, part, index);
    }
    if (bits1 && !(expanded = TryAlloc(std::max<uint64_t>(pixels, 1)))) return f.Fail(FileError::OutOfMemory);
    return FileError::None;
  }

  // The next row of `width` bytes; null when its data is damaged (Failure
  // then tells it).
  const uint8_t* Next() {
    const uint8_t* r = data + at;
    if (packed) {
      if (!unpackBitsRow(r, lengths[y], row.get(), rowBytes)) return nullptr;
      at += lengths[y];
      r = row.get();
    } else {
      at += rowBytes;
    }
    ++y;
    if (!bits1) return r;
    uint8_t* e = expanded.get();
    for (size_t x = 0; x < pixels; ++x) e[x] = (r[x >> 3] >> (7 - (x & 7)) & 1) ? 0 : 255;
    return e;
  }
  FileError Failure() const { return damaged(*file, where, which); }

 private:
  // The bytes [offset, offset + n): in place, or read from the file.
  const uint8_t* get(uint64_t offset, uint64_t n) {
    static const uint8_t kNone = 0;
    if (n == 0) return data = &kNone;
    if ((data = file->source->View(offset, size_t(n)))) return data;
    if (n > kMaxBlockBytes || !(owned = TryAlloc(n))) return nullptr;
    if (!file->source->Read(offset, owned.get(), size_t(n))) {
      readError = true;
      return nullptr;
    }
    return data = owned.get();
  }
  FileError failure(uint64_t) { return file->Fail(readError ? FileError::ReadFailed : FileError::OutOfMemory); }

  PsdFile* file = nullptr;
  TextId where = TextId::Count;
  int64_t which = 0;
  size_t pixels = 0, rowBytes = 0, at = 0;
  int32_t y = 0;
  bool bits1 = false, packed = false, readError = false;
  const uint8_t* data = nullptr;
  Block owned, row, expanded;
  const uint16_t* lengths = nullptr;
  std::vector<uint16_t> ownLengths;
};

FileError openLayerChannel(PsdFile& f, int32_t layer, const Channel& ch, ChannelRows& rows) {
  const PsdLayerRecord& r = f.layers[size_t(layer)].record;
  return rows.Open(f, ch.offset + 2, ch.length - 2, ch.compression, r.width(), r.height(), nullptr,
                   TextId::PsdPartLayerChannel, layer);
}

FileError openMergedChannel(PsdFile& f, int32_t index, ChannelRows& rows) {
  const PsdFileHeader& h = f.header;
  const uint64_t at = f.mergedChannelAt[size_t(index)];
  const uint16_t* lengths =
      f.imageCompression == kPackBits ? f.mergedRowLengths.data() + size_t(index) * size_t(h.height) : nullptr;
  return rows.Open(f, at, f.source->size - at, f.imageCompression, h.width, h.height, lengths,
                   TextId::PsdPartImageData, 0);
}

FileError readChannel(ChannelRows& rows, TChannel& channel) {
  for (int32_t y = 0; y < channel.height; ++y) {
    const uint8_t* r = rows.Next();
    if (!r) return rows.Failure();
    std::memcpy(channel.Row(y), r, size_t(channel.width));
  }
  return FileError::None;
}

// One row of pixels from its four channel rows (alpha 255 without one).
// Blocks of a fixed 16 pixels and pointers that do not alias let the
// compiler use vector instructions at -O2.
template <bool kAlpha>
void pixelRow(const uint8_t* __restrict r, const uint8_t* __restrict g, const uint8_t* __restrict b,
              const uint8_t* __restrict a, uint32_t* __restrict d, size_t w) {
  size_t x = 0;
  for (; x + 16 <= w; x += 16)
    for (size_t i = x; i < x + 16; ++i)
      d[i] = (kAlpha ? uint32_t(a[i]) << 24 : 0xFF000000u) | uint32_t(r[i]) << 16 | uint32_t(g[i]) << 8 | b[i];
  for (; x < w; ++x)
    d[x] = (kAlpha ? uint32_t(a[x]) << 24 : 0xFF000000u) | uint32_t(r[x]) << 16 | uint32_t(g[x]) << 8 | b[x];
}

// Pixels from up to four channels read side by side, a row of each at a
// time: red, green, blue and alpha (null: none; one grey channel for all
// three colours).
FileError interleave(ChannelRows* channels[4], bool grey, TMTC& pixels) {
  const size_t w = size_t(pixels.width);
  Block zero = TryAlloc(std::max<size_t>(w, 1));
  if (!zero) return FileError::OutOfMemory;
  for (int32_t y = 0; y < pixels.height; ++y) {
    const uint8_t* in[4];
    for (int k = 0; k < 4; ++k) {
      in[k] = zero.get();
      if (!channels[k]) continue;
      if (!(in[k] = channels[k]->Next())) return channels[k]->Failure();
    }
    if (grey) in[1] = in[2] = in[0];
    if (channels[3]) {
      pixelRow<true>(in[0], in[1], in[2], in[3], pixels.Row(y), w);
    } else {
      pixelRow<false>(in[0], in[1], in[2], in[3], pixels.Row(y), w);
    }
  }
  return FileError::None;
}

FileError usable(const PsdFile& f) {
  if (f.writing) return FileError::BadArgument;
  return f.source ? FileError::None : f.problem.code;
}

const Layer* layerAt(PsdFile& f, int32_t layer) {
  return layer >= 0 && size_t(layer) < f.layers.size() ? &f.layers[size_t(layer)] : nullptr;
}

const Channel* channelOf(const Layer& l, int16_t id) {
  for (const Channel& ch : l.channels)
    if (ch.id == id) return &ch;
  return nullptr;
}

FileError opened(PsdFilePtr& reader, std::unique_ptr<ByteSource> source, FileError sourceError) {
  reader.reset(new (std::nothrow) PsdFile);
  if (!reader) return FileError::OutOfMemory;
  PsdFile& f = *reader;
  if (sourceError != FileError::None) return f.Fail(sourceError);
  if (source->size == 0) return f.Fail(FileError::Truncated, TextId::PsdCutShort, TextId::PsdPartHeader);
  f.source = std::move(source);
  const FileError e = parse(f);
  if (e != FileError::None) {
    // The reader stays only to tell what went wrong.
    f.source.reset();
    f.layers.clear();
  }
  return e;
}

}  // namespace

}  // namespace psd

using namespace psd;

void PsdFileDeleter::operator()(PsdFile* f) const { delete f; }

FileError psdOpenReader(const std::string& path, PsdFilePtr& reader) {
  std::unique_ptr<FileSource> source(new (std::nothrow) FileSource);
  if (!source) {
    reader.reset();
    return FileError::OutOfMemory;
  }
  const FileError e = source->Open(path);
  return opened(reader, std::move(source), e);
}

FileError psdOpenMemory(const uint8_t* data, size_t size, PsdFilePtr& reader) {
  std::unique_ptr<MemorySource> source(new (std::nothrow) MemorySource(data, size));
  if (!source) {
    reader.reset();
    return FileError::OutOfMemory;
  }
  return opened(reader, std::move(source), FileError::None);
}

FileError psdReadHeader(PsdFile& reader, PsdFileHeader& header) {
  const FileError e = usable(reader);
  if (e == FileError::None) header = reader.header;
  return e;
}

FileError psdReadLayerTable(PsdFile& reader, int32_t& layerCount) {
  layerCount = 0;
  const FileError e = usable(reader);
  if (e == FileError::None) layerCount = int32_t(reader.layers.size());
  return e;
}

FileError psdGetLayerRecord(PsdFile& reader, int32_t layer, PsdLayerRecord& record) {
  FileError e = usable(reader);
  if (e != FileError::None) return e;
  const Layer* l = layerAt(reader, layer);
  if (!l) return reader.Fail(FileError::BadArgument);
  record = l->record;
  return FileError::None;
}

FileError psdReadLayerChannel(PsdFile& reader, int32_t layer, int16_t channelId, TChannel& channel) {
  channel.Free();
  FileError e = usable(reader);
  if (e != FileError::None) return e;
  const Layer* l = layerAt(reader, layer);
  const Channel* ch = l ? channelOf(*l, channelId) : nullptr;
  if (!ch) return reader.Fail(FileError::BadArgument);
  if (channelId < -1) return reader.Fail(FileError::Unsupported);
  const PsdLayerRecord& r = l->record;
  if (r.width() == 0 || r.height() == 0) return FileError::None;
  ChannelRows rows;
  if ((e = openLayerChannel(reader, layer, *ch, rows)) != FileError::None) return e;
  if (!channel.Resize(r.width(), r.height())) return reader.Fail(FileError::OutOfMemory);
  e = readChannel(rows, channel);
  if (e != FileError::None) channel.Free();
  return e;
}

FileError psdReadMergedChannel(PsdFile& reader, int32_t index, TChannel& channel) {
  channel.Free();
  FileError e = usable(reader);
  if (e != FileError::None) return e;
  if (index < 0 || index >= reader.header.channels) return reader.Fail(FileError::BadArgument);
  ChannelRows rows;
  if ((e = openMergedChannel(reader, index, rows)) != FileError::None) return e;
  if (!channel.Resize(reader.header.width, reader.header.height)) return reader.Fail(FileError::OutOfMemory);
  e = readChannel(rows, channel);
  if (e != FileError::None) channel.Free();
  return e;
}

FileError psdReadImageResource(PsdFile& reader, uint16_t id, std::vector<uint8_t>& data) {
  data.clear();
  const FileError e = usable(reader);
  if (e != FileError::None) return e;
  for (const Resource& r : reader.resources) {
    if (r.id != id) continue;
    try {
      data.resize(r.length);
    } catch (const std::bad_alloc&) {
      return reader.Fail(FileError::OutOfMemory);
    }
    if (!reader.source->Read(r.offset, data.data(), data.size())) {
      data.clear();
      return reader.Fail(FileError::ReadFailed);
    }
    break;
  }
  return FileError::None;
}

FileError psdExtraChannelNames(PsdFile& reader, std::vector<std::string>& names) {
  names.clear();
  std::vector<uint8_t> d;
  FileError e = psdReadImageResource(reader, kUnicodeAlphaNames, d);
  if (e != FileError::None) return e;
  // Unicode strings: a 32-bit count of UTF-16 units, then the units; the
  // count may include a terminating zero.
  for (size_t at = 0; d.size() - at >= 4;) {
    const uint64_t count = be32(d.data() + at);
    if (count > (d.size() - at - 4) / 2) break;
    std::string name = utf8FromUtf16Be(d.data() + at + 4, size_t(count));
    while (!name.empty() && name.back() == '\0') name.pop_back();
    names.push_back(std::move(name));
    at += 4 + size_t(count) * 2;
  }
  if (!names.empty()) return FileError::None;
  if ((e = psdReadImageResource(reader, kAlphaNames, d)) != FileError::None) return e;
  // Stored names one after the other, each a length byte and its bytes.
  for (size_t at = 0; at < d.size();) {
    const size_t n = d[at];
    if (n > d.size() - at - 1) break;
    names.push_back(utf8FromStoredName(d.data() + at + 1, n));
    at += 1 + n;
  }
  return FileError::None;
}

FileError psdReadLayerPixels(PsdFile& reader, int32_t layer, TMTC& pixels) {
  pixels.Free();
  FileError e = usable(reader);
  if (e != FileError::None) return e;
  const Layer* l = layerAt(reader, layer);
  if (!l) return reader.Fail(FileError::BadArgument);
  const PsdLayerRecord& r = l->record;
  if (r.width() == 0 || r.height() == 0) return FileError::None;
  const bool grey = reader.header.colorMode != kPsdRgb;
  ChannelRows rows[4];
  ChannelRows* use[4] = {};
  const int16_t ids[4] = {0, int16_t(grey ? 0 : 1), int16_t(grey ? 0 : 2), -1};
  for (int k = 0; k < 4; ++k) {
    if (grey && (k == 1 || k == 2)) continue;
    const Channel* ch = channelOf(*l, ids[k]);
    if (!ch) continue;
    if ((e = openLayerChannel(reader, layer, *ch, rows[k])) != FileError::None) return e;
    use[k] = &rows[k];
  }
  if (!pixels.Resize(r.width(), r.height())) return reader.Fail(FileError::OutOfMemory);
  if ((e = interleave(use, grey, pixels)) != FileError::None) {
    pixels.Free();
    return e == FileError::OutOfMemory ? reader.Fail(e) : e;
  }
  return FileError::None;
}

FileError psdReadMergedPixels(PsdFile& reader, TMTC& pixels) {
  pixels.Free();
  FileError e = usable(reader);
  if (e != FileError::None) return e;
  const PsdFileHeader& h = reader.header;
  const int colours = psdColourChannels(h.colorMode);
  const bool alpha = h.mergedAlpha && h.channels > colours;
  ChannelRows rows[4];
  ChannelRows* use[4] = {};
  for (int k = 0; k < colours; ++k) {
    if ((e = openMergedChannel(reader, k, rows[k])) != FileError::None) return e;
    use[k] = &rows[k];
  }
  if (alpha) {
    if ((e = openMergedChannel(reader, colours, rows[3])) != FileError::None) return e;
    use[3] = &rows[3];
  }
  if (!pixels.Resize(h.width, h.height)) return reader.Fail(FileError::OutOfMemory);
  if ((e = interleave(use, colours == 1, pixels)) != FileError::None) {
    pixels.Free();
    return e == FileError::OutOfMemory ? reader.Fail(e) : e;
  }
  return FileError::None;
}

namespace {

// The merged image when layer is −1, else that layer.
FileError getImage(const std::string& path, BitmapInfoHeader& header, TMTC& pixels, int32_t layer,
                   std::string* errorText) {
  header = BitmapInfoHeader{};
  PsdFilePtr reader;
  FileError e = psdOpenReader(path, reader);
  if (e == FileError::None) {
    PsdFileHeader h;
    psdReadHeader(*reader, h);
    bool alpha = true;
    if (layer == -1) {
      e = psdReadMergedPixels(*reader, pixels);
      alpha = h.mergedAlpha && h.channels > psdColourChannels(h.colorMode);
    } else {
      e = psdReadLayerPixels(*reader, layer, pixels);
      if (e == FileError::None && !pixels.IsAllocated()) e = reader->Fail(FileError::BadArgument);
    }
    if (e == FileError::None)
      detail::fillHeader(header, pixels.width, pixels.height, alpha ? 32 : 24, pelsPerMeter(h.xDpi),
                         pelsPerMeter(h.yDpi));
  }
  if (e != FileError::None && errorText) *errorText = reader ? psdErrorText(*reader) : std::string(text(TextId::OutOfMemory));
  return e;
}

}  // namespace

FileError psdGetImage(const std::string& path, BitmapInfoHeader& header, TMTC& pixels) {
  return getImage(path, header, pixels, -1, nullptr);
}

FileError psdGetLayerImage(const std::string& path, BitmapInfoHeader& header, TMTC& pixels, int32_t layer) {
  return getImage(path, header, pixels, layer < 0 ? INT32_MAX : layer, nullptr);
}

FileError psdGetImage(const std::string& path, BitmapInfoHeader& header, TMTC& pixels, std::string& errorText) {
  return getImage(path, header, pixels, -1, &errorText);
}

FileError psdGetLayerImage(const std::string& path, BitmapInfoHeader& header, TMTC& pixels, int32_t layer,
                           std::string& errorText) {
  return getImage(path, header, pixels, layer < 0 ? INT32_MAX : layer, &errorText);
}

}  // namespace vl
