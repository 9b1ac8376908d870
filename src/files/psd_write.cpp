// The PSD writer: an RGB document of 8-bit channels, PackBits throughout.
// Layer records are written with their channel lengths still unknown and
// written again, in place, once the channel data behind them is out; the
// merged image's row-length table likewise. Only one channel is in memory
// at a time.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "files/psd_internal.h"
#include "platform/atomic_file.h"

namespace vl {

namespace psd {

namespace {

constexpr uint16_t kRaw = 0;
constexpr uint16_t kPackBits = 1;
constexpr size_t kMaxPackedRow = 65535;  // row lengths are 16-bit
constexpr int32_t kMaxResolution = 32767;

// Big-endian bytes into a vector; std::bad_alloc is caught by psdWrite.
struct Bytes {
  std::vector<uint8_t> b;
  void u8(uint8_t v) { b.push_back(v); }
  void u16(uint16_t v) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
  }
  void u32(uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
  }
  void text(const char* s) { b.insert(b.end(), s, s + std::strlen(s)); }
  void raw(const void* p, size_t n) { b.insert(b.end(), static_cast<const uint8_t*>(p), static_cast<const uint8_t*>(p) + n); }
  void padTo(size_t from, size_t multiple) {
    while ((b.size() - from) % multiple) b.push_back(0);
  }
};

// The file, with the position of the next byte and any failure remembered.
// The file being written, through a buffer of its tail; lengths known only
// later are patched in place.
class Output {
 public:
  explicit Output(AtomicFileWriter& file) : f(file) { buf.reserve(kBuffer); }
  void put(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    buf.insert(buf.end(), b, b + n);
    pos += n;
    if (buf.size() >= kBuffer) flush();
  }
  void put(const Bytes& b) { put(b.b.data(), b.b.size()); }
  void u16(uint16_t v) {
    const uint8_t b[2] = {uint8_t(v >> 8), uint8_t(v)};
    put(b, 2);
  }
  void u32(uint32_t v) {
    const uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    put(b, 4);
  }
  // Writes over bytes already put.
  void patch(uint64_t at, const void* p, size_t n) {
    const uint64_t flushed = pos - buf.size();
    const auto* b = static_cast<const uint8_t*>(p);
    size_t i = 0;
    if (at < flushed) {
      i = size_t(std::min<uint64_t>(n, flushed - at));
      if (ok && !f.WriteAt(at, b, i)) ok = false;
    }
    for (; i < n; ++i) buf[size_t(at + i - flushed)] = b[i];
  }
  void patch32(uint64_t at, uint32_t v) {
    const uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    patch(at, b, 4);
  }
  void flush() {
    if (ok && !buf.empty() && !f.Write(buf.data(), buf.size())) ok = false;
    buf.clear();
  }

  AtomicFileWriter& f;
  std::vector<uint8_t> buf;
  uint64_t pos = 0;
  bool ok = true;

 private:
  static constexpr size_t kBuffer = size_t(1) << 20;
};

struct LayerOut {
  PsdLayerRecord record;
  std::vector<uint32_t> lengths;  // per channel, compression field included
};

void resource(Bytes& b, uint16_t id, const Bytes& data) {
  b.text("8BIM");
  b.u16(id);
  b.u16(0);  // an empty name, padded to even
  b.u32(uint32_t(data.b.size()));
  b.raw(data.b.data(), data.b.size());
  if (data.b.size() & 1) b.u8(0);
}

void pascalName(Bytes& b, const std::string& name, size_t padMultiple) {
  const size_t start = b.b.size();
  const size_t n = utf8Prefix(name, 255);
  b.u8(uint8_t(n));
  b.raw(name.data(), n);
  b.padTo(start, padMultiple);
}

void unicodeString(Bytes& b, const std::string& text, bool terminated) {
  const std::vector<uint16_t> units = utf16FromUtf8(text);
  b.u32(uint32_t(units.size() + (terminated ? 1 : 0)));
  for (uint16_t u : units) b.u16(u);
  if (terminated) b.u16(0);
}

void block(Bytes& b, const char* key, const Bytes& data) {
  b.text("8BIM");
  b.text(key);
  const size_t start = b.b.size();
  b.u32(0);
  b.raw(data.b.data(), data.b.size());
  // Lengths stay multiples of 4, the padding counted in.
  while ((b.b.size() - start - 4) % 4) b.u8(0);
  const uint32_t length = uint32_t(b.b.size() - start - 4);
  for (int k = 0; k < 4; ++k) b.b[start + size_t(k)] = uint8_t(length >> (24 - 8 * k));
}

void layerRecord(Bytes& b, const LayerOut& l) {
  const PsdLayerRecord& r = l.record;
  b.u32(uint32_t(r.top));
  b.u32(uint32_t(r.left));
  b.u32(uint32_t(r.bottom));
  b.u32(uint32_t(r.right));
  b.u16(uint16_t(r.channelIds.size()));
  for (size_t k = 0; k < r.channelIds.size(); ++k) {
    b.u16(uint16_t(r.channelIds[k]));
    b.u32(l.lengths[k]);
  }
  b.text("8BIM");
  b.raw(r.blendKey, 4);
  b.u8(r.opacity);
  b.u8(r.clipping);
  b.u8(r.flags);
  b.u8(0);
  Bytes extra;
  extra.u32(0);  // no user mask
  extra.u32(0);  // no blending ranges
  pascalName(extra, r.name, 4);
  Bytes name;
  unicodeString(name, r.name, false);
  block(extra, "luni", name);
  if (r.id != 0) {
    Bytes id;
    id.u32(uint32_t(r.id));
    block(extra, "lyid", id);
  }
  if (r.sectionType != 0) {
    Bytes type;
    type.u32(uint32_t(r.sectionType));
    block(extra, "lsct", type);
  }
  b.u32(uint32_t(extra.b.size()));
  b.raw(extra.b.data(), extra.b.size());
}

bool validRecord(const PsdLayerRecord& r) {
  const int64_t w = int64_t(r.right) - r.left, h = int64_t(r.bottom) - r.top;
  if (w < 0 || h < 0 || w > kMaxImagePixels || h > kMaxImagePixels || w * h > kMaxImagePixels) return false;
  if (r.channelIds.size() > 4) return false;
  for (size_t i = 0; i < r.channelIds.size(); ++i) {
    const int16_t id = r.channelIds[i];
    if (id < -1 || id > 2) return false;
    for (size_t j = 0; j < i; ++j)
      if (r.channelIds[j] == id) return false;
  }
  return true;
}

// Writes one channel of rows fetched through `row` (y, dst), and returns its
// length with the compression field, or 0 when a row could not be had.
template <class RowFn>
uint64_t writeChannel(Output& out, int32_t width, int32_t height, std::vector<uint8_t>& work, RowFn&& row) {
  if (width == 0 || height == 0) {
    out.u16(kRaw);
    return 2;
  }
  const size_t w = size_t(width), h = size_t(height);
  const size_t bound = packBitsBound(w);
  if (bound > kMaxPackedRow) {
    // Too wide for 16-bit row lengths: raw rows.
    work.resize(w);
    out.u16(kRaw);
    for (size_t y = 0; y < h; ++y) {
      if (!row(int32_t(y), work.data())) return 0;
      out.put(work.data(), w);
    }
    return 2 + w * h;
  }
  work.resize(w + 2 + 2 * h + bound * h);
  uint8_t* rowBuf = work.data();
  uint8_t* blob = rowBuf + w;
  blob[0] = 0;
  blob[1] = kPackBits;
  uint8_t* table = blob + 2;
  uint8_t* p = table + 2 * h;
  for (size_t y = 0; y < h; ++y) {
    if (!row(int32_t(y), rowBuf)) return 0;
    const size_t n = packBitsRow(rowBuf, w, p);
    table[2 * y] = uint8_t(n >> 8);
    table[2 * y + 1] = uint8_t(n);
    p += n;
  }
  const size_t length = size_t(p - blob);
  out.put(blob, length);
  return length;
}

FileError failed(PsdFile& w, FileError e) { return w.Fail(e); }

FileError write(PsdFile& w, const std::string& path, PsdWriteSource& src) {
  const PsdDocumentDescription& d = w.description;
  const int32_t extras = int32_t(d.channels) - 3;
  const int32_t total = d.layerCount + d.channels;

  std::vector<LayerOut> layers(size_t(d.layerCount));
  for (int32_t i = 0; i < d.layerCount; ++i) {
    LayerOut& l = layers[size_t(i)];
    if (!src.LayerRecord(i, l.record)) return failed(w, FileError::BadArgument);
    std::string name;
    if (src.LayerName(i, name)) l.record.name = std::move(name);
    if (!validRecord(l.record)) return failed(w, FileError::BadArgument);
    l.lengths.assign(l.record.channelIds.size(), 0);
  }
  std::vector<std::string> extraNames(size_t(std::max(extras, 0)));
  for (int32_t k = 0; k < extras; ++k)
    if (!src.ExtraChannelName(k, extraNames[size_t(k)])) return failed(w, FileError::BadArgument);

  AtomicFileWriter file;
  if (!file.Open(path)) return failed(w, FileError::WriteFailed);
  Output out(file);

  Bytes head;
  head.text("8BPS");
  head.u16(1);
  head.raw("\0\0\0\0\0\0", 6);
  head.u16(d.channels);
  head.u32(uint32_t(d.height));
  head.u32(uint32_t(d.width));
  head.u16(8);
  head.u16(kPsdRgb);
  head.u32(0);  // no colour mode data

  Bytes resources;
  if (d.xDpi > 0 || d.yDpi > 0) {
    Bytes r;
    for (int32_t dpi : {d.xDpi, d.yDpi}) {
      r.u32(uint32_t(std::clamp(dpi, 0, kMaxResolution)) << 16);
      r.u16(1);  // pixels per inch
      r.u16(1);  // shown in inches
    }
    resource(resources, 1005, r);
  }
  if (extras > 0) {
    Bytes names, unicodeNames;
    for (const std::string& n : extraNames) {
      pascalName(names, n, 1);
      unicodeString(unicodeNames, n, true);
    }
    resource(resources, 1006, names);
    resource(resources, 1045, unicodeNames);
  }
  if (d.layerCount > 0) {
    Bytes current;
    current.u16(uint16_t(std::clamp(d.currentLayer, 0, d.layerCount - 1)));
    resource(resources, 1024, current);
  }
  head.u32(uint32_t(resources.b.size()));
  out.put(head);
  out.put(resources);

  // Layer and mask information.
  std::vector<uint8_t> work;
  if (d.layerCount == 0) {
    out.u32(0);
  } else {
    const uint64_t sectionAt = out.pos;
    out.u32(0);  // section length, patched
    out.u32(0);  // layer information length, patched
    Bytes records;
    records.u16(uint16_t(d.layerCount));
    for (const LayerOut& l : layers) layerRecord(records, l);
    const uint64_t recordsAt = out.pos;
    out.put(records);
    for (int32_t i = 0; i < d.layerCount; ++i) {
      LayerOut& l = layers[size_t(i)];
      const PsdLayerRecord& r = l.record;
      for (size_t k = 0; k < r.channelIds.size(); ++k) {
        const int16_t id = r.channelIds[k];
        const uint64_t n = writeChannel(out, r.width(), r.height(), work, [&](int32_t y, uint8_t* dst) {
          return src.LayerChannelRow(i, id, y, dst, r.width());
        });
        if (n == 0 || n > UINT32_MAX) return failed(w, n == 0 ? FileError::BadArgument : FileError::TooLarge);
        l.lengths[k] = uint32_t(n);
      }
      src.Progress(i + 1, total);
    }
    // The layer information is padded to a multiple of 4 bytes.
    const uint64_t infoLength = (out.pos - recordsAt + 3) & ~uint64_t(3);
    const uint8_t zeros[4] = {};
    out.put(zeros, size_t(recordsAt + infoLength - out.pos));
    out.u32(0);  // no global layer mask
    if (out.pos - sectionAt - 4 > UINT32_MAX) return failed(w, FileError::TooLarge);
    records.b.clear();
    records.u16(uint16_t(d.layerCount));
    for (const LayerOut& l : layers) layerRecord(records, l);
    out.patch(recordsAt, records.b.data(), records.b.size());
    out.patch32(sectionAt, uint32_t(out.pos - sectionAt - 4));
    out.patch32(sectionAt + 4, uint32_t(infoLength));
  }

  // The merged image: PackBits rows of every channel behind one table of lengths.
  out.u16(kPackBits);
  const size_t rows = size_t(d.height), width = size_t(d.width);
  std::vector<uint8_t> table(size_t(d.channels) * rows * 2);
  const uint64_t tableAt = out.pos;
  out.put(table.data(), table.size());
  work.resize(width + packBitsBound(width));
  for (int32_t k = 0; k < d.channels; ++k) {
    for (size_t y = 0; y < rows; ++y) {
      const bool ok = k < 3 ? src.MergedChannelRow(k, int32_t(y), work.data(), d.width)
                            : src.ExtraChannelRow(k - 3, int32_t(y), work.data(), d.width);
      if (!ok) return failed(w, FileError::BadArgument);
      uint8_t* packed = work.data() + width;
      const size_t n = packBitsRow(work.data(), width, packed);
      const size_t at = (size_t(k) * rows + y) * 2;
      table[at] = uint8_t(n >> 8);
      table[at + 1] = uint8_t(n);
      out.put(packed, n);
    }
    src.Progress(d.layerCount + k + 1, total);
  }
  out.patch(tableAt, table.data(), table.size());
  out.flush();
  if (!out.ok || !file.Commit()) return failed(w, FileError::WriteFailed);
  return FileError::None;
}

}  // namespace

}  // namespace psd

FileError psdCreateWriter(PsdFilePtr& writer) {
  writer.reset(new (std::nothrow) PsdFile);
  if (!writer) return FileError::OutOfMemory;
  writer->writing = true;
  return FileError::None;
}

void psdSetDescription(PsdFile& writer, const PsdDocumentDescription& description) {
  writer.description = description;
}

void psdSetVersion(PsdFile& writer, int version) { writer.version = version; }

FileError psdWrite(PsdFile& writer, const std::string& path, PsdWriteSource& source) {
  if (!writer.writing) return writer.Fail(FileError::BadArgument);
  const PsdDocumentDescription& d = writer.description;
  if (writer.version == 2) return writer.Fail(FileError::Unsupported, TextId::PsdLargeDocument);
  if (writer.version != 1 && (writer.version < 3 || writer.version > 7)) return writer.Fail(FileError::BadArgument);
  if (d.colorMode != kPsdRgb) return writer.Fail(FileError::Unsupported);
  if (d.width > kMaxPsdSide || d.height > kMaxPsdSide)
    return writer.Fail(FileError::TooLarge, TextId::PsdTooLarge, TextId::Count, d.width, d.height);
  if (d.width <= 0 || d.height <= 0 || d.channels < 3 || d.channels > kMaxPsdChannels || d.layerCount < 0 ||
      d.layerCount > kMaxPsdLayers || path.empty())
    return writer.Fail(FileError::BadArgument);
  try {
    return psd::write(writer, path, source);
  } catch (const std::bad_alloc&) {
    return writer.Fail(FileError::OutOfMemory);
  }
}

}  // namespace vl
