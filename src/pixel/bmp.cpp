#include "pixel/bmp.h"

#include "platform/atomic_file.h"
#include "platform/failure_detail.h"
#include "platform/file_read.h"


#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace vl {

namespace {

constexpr size_t kFileHeaderBytes = 14;
constexpr size_t kInfoHeaderBytes = 40;
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;
constexpr int kMaxWrittenDpi = INT32_MAX / 100;

// Little-endian fields of an untrusted block; every read is checked.
class LeReader {
 public:
  LeReader(const uint8_t* data, size_t size) : p(data), n(data ? size : 0) {}
  bool has(size_t offset, size_t length) const { return offset <= n && length <= n - offset; }
  bool u16(size_t offset, uint16_t& v) const {
    if (!has(offset, 2)) return false;
    v = uint16_t(p[offset] | p[offset + 1] << 8);
    return true;
  }
  bool u32(size_t offset, uint32_t& v) const {
    if (!has(offset, 4)) return false;
    v = uint32_t(p[offset]) | uint32_t(p[offset + 1]) << 8 | uint32_t(p[offset + 2]) << 16 |
        uint32_t(p[offset + 3]) << 24;
    return true;
  }
  bool i32(size_t offset, int32_t& v) const {
    uint32_t u;
    if (!u32(offset, u)) return false;
    v = int32_t(u);
    return true;
  }
  const uint8_t* at(size_t offset) const { return p + offset; }
  size_t size() const { return n; }

 private:
  const uint8_t* p;
  size_t n;
};

void put16(uint8_t* d, uint16_t v) {
  d[0] = uint8_t(v);
  d[1] = uint8_t(v >> 8);
}

void put32(uint8_t* d, uint32_t v) {
  for (int i = 0; i < 4; ++i) d[i] = uint8_t(v >> (8 * i));
}

constexpr uint32_t kBiRle8 = 1;
constexpr uint32_t kBiRle4 = 2;
constexpr uint32_t kBiAlphaBitfields = 6;
constexpr uint32_t kCoreHeaderBytes = 12;

// OS/2 2.x headers: valid files of a kind not read here.
bool isOs2Header(uint32_t size) { return size == 16 || size == 64; }
bool isReadHeader(uint32_t size) {
  return size == kCoreHeaderBytes || size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

// One colour field of a pixel: its place and how its values become 0 … 255.
struct Field {
  uint32_t mask = 0;
  int shift = 0;
  int bits = 0;
  uint8_t scale[256] = {};  // fields of up to 8 bits

  bool set(uint32_t m) {
    mask = m;
    if (m == 0) return true;
    shift = __builtin_ctz(m);
    const uint32_t v = m >> shift;
    if ((v & (v + 1)) != 0) return false;  // not one run of bits
    bits = 32 - __builtin_clz(v);
    if (bits <= 8) {
      const uint32_t most = v;
      for (uint32_t i = 0; i <= most; ++i) scale[i] = uint8_t((i * 255 + most / 2) / most);
    }
    return true;
  }
  uint32_t get(uint32_t pixel) const {
    if (mask == 0) return 0;
    const uint32_t v = (pixel & mask) >> shift;
    return bits <= 8 ? scale[v] : v >> (bits - 8);
  }
};

struct Layout {
  uint32_t headerSize = 0;
  int32_t width = 0;
  int64_t rows = 0;
  bool topDown = false;
  uint16_t bitCount = 0;
  uint32_t compression = 0;
  uint32_t imageSize = 0;
  int32_t xPels = 0, yPels = 0;
  uint32_t clrUsed = 0;
  size_t offBits = 0;
  uint32_t masks[4] = {};  // red, green, blue, alpha
  bool standardOrder = false;  // 24 or 32 bits in plain B, G, R(, A) bytes
  uint32_t palette[256] = {};
};

BmpError readLayout(const LeReader& in, Layout& l, int* dpi) {
  uint16_t magic = 0;
  if (!in.u16(0, magic)) return BmpError::Truncated;
  if (magic != 0x4D42) return BmpError::NotBmp;  // "BM"
  uint32_t offBits = 0;
  if (!in.u32(10, offBits) || !in.u32(14, l.headerSize)) return BmpError::Truncated;
  if (isOs2Header(l.headerSize))
    return failWith(BmpError::Unsupported, TextId::DetailBmpHeader, {int64_t(l.headerSize)});
  if (!isReadHeader(l.headerSize)) return BmpError::BadHeader;
  if (!in.has(kFileHeaderBytes, l.headerSize)) return BmpError::Truncated;
  l.offBits = offBits;

  const size_t h = kFileHeaderBytes;
  int64_t height = 0;
  if (l.headerSize == kCoreHeaderBytes) {
    uint16_t w = 0, ht = 0;
    in.u16(h + 4, w);
    in.u16(h + 6, ht);
    in.u16(h + 10, l.bitCount);
    l.width = w;
    height = ht;
  } else {
    int32_t ht = 0;
    in.i32(h + 4, l.width);
    in.i32(h + 8, ht);
    in.u16(h + 14, l.bitCount);
    in.u32(h + 16, l.compression);
    in.u32(h + 20, l.imageSize);
    in.i32(h + 24, l.xPels);
    in.i32(h + 28, l.yPels);
    in.u32(h + 32, l.clrUsed);
    if (ht == INT32_MIN) return BmpError::BadHeader;
    height = ht;
    // A negative resolution means nothing; report it as unknown.
    if (dpi) *dpi = std::max(0, dpiFromHeader(40, l.xPels));
  }

  const uint16_t bits = l.bitCount;
  const uint32_t c = l.compression;
  const bool palette = bits == 1 || bits == 2 || bits == 4 || bits == 8;
  const bool masked = c == kBiBitfields || c == kBiAlphaBitfields;
  if (c != kBiRgb && c != kBiRle8 && c != kBiRle4 && !masked)
    return failWith(BmpError::Unsupported, TextId::DetailBmpCompression, {int64_t(c)});
  if (!palette && bits != 16 && bits != 24 && bits != 32) {
    return bits == 64 ? failWith(BmpError::Unsupported, TextId::DetailBmpBitDepth, {int(bits)}) : BmpError::BadHeader;
  }
  if ((c == kBiRle8 && bits != 8) || (c == kBiRle4 && bits != 4) || (masked && palette)) return BmpError::BadHeader;
  if (l.width <= 0 || height == 0) return BmpError::BadHeader;
  l.topDown = height < 0;
  l.rows = l.topDown ? -height : height;
  if (l.topDown && (c == kBiRle8 || c == kBiRle4)) return BmpError::BadHeader;
  if (int64_t(l.width) * l.rows > kMaxBmpPixels)
    return failWith(BmpError::TooLarge, TextId::DetailImagePixels, {int64_t(l.width), l.rows, kMaxBmpPixels});

  // Masks follow a 40-byte header; larger headers hold them inside.
  size_t headerEnd = h + l.headerSize;
  if (masked) {
    const size_t count = c == kBiAlphaBitfields ? 4 : 3;
    const size_t at = h + 40;
    if (l.headerSize == 40) headerEnd += count * 4;
    const size_t have = l.headerSize == 40 ? count : l.headerSize >= 56 ? 4 : 3;
    for (size_t i = 0; i < have; ++i)
      if (!in.u32(at + 4 * i, l.masks[i])) return BmpError::Truncated;
    if (l.masks[0] == 0 && l.masks[1] == 0 && l.masks[2] == 0) {
      // No colour masks at all: the bit count's usual layout.
      l.masks[0] = bits == 16 ? 0x7C00u : 0x00FF0000u;
      l.masks[1] = bits == 16 ? 0x03E0u : 0x0000FF00u;
      l.masks[2] = bits == 16 ? 0x001Fu : 0x000000FFu;
    }
    const uint64_t inPixel = bits == 32 ? 0xFFFFFFFFull : (uint64_t(1) << bits) - 1;
    uint32_t seen = 0;
    for (uint32_t m : l.masks) {
      Field f;
      if (!f.set(m) || (m & seen) != 0 || m > inPixel) return BmpError::BadHeader;
      seen |= m;
    }
    l.standardOrder = (bits == 32 || bits == 24) && l.masks[0] == 0x00FF0000u && l.masks[1] == 0x0000FF00u &&
                      l.masks[2] == 0x000000FFu && (l.masks[3] == 0 || l.masks[3] == 0xFF000000u);
  } else if (bits == 16) {
    l.masks[0] = 0x7C00u;
    l.masks[1] = 0x03E0u;
    l.masks[2] = 0x001Fu;
  } else {
    l.standardOrder = bits == 24 || bits == 32;
  }
  if (offBits < headerEnd) return BmpError::BadHeader;

  if (palette) {
    // As many entries as the bit count allows or the header says, but no
    // more than fit before the pixels.
    const size_t entryBytes = l.headerSize == kCoreHeaderBytes ? 3 : 4;
    uint64_t entries = uint64_t(1) << bits;
    if (l.clrUsed != 0) entries = std::min<uint64_t>(entries, l.clrUsed);
    entries = std::min<uint64_t>(entries, (offBits - headerEnd) / entryBytes);
    if (entries == 0) return BmpError::BadHeader;
    if (!in.has(headerEnd, entries * entryBytes)) return BmpError::Truncated;
    for (size_t i = 0; i < 256; ++i) l.palette[i] = 0xFF000000u;  // indices past the palette: black
    const uint8_t* p = in.at(headerEnd);
    for (size_t i = 0; i < entries; ++i, p += entryBytes)
      l.palette[i] = 0xFF000000u | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
  }
  return BmpError::None;
}

// Walks RLE8 or RLE4 data, calling put(x, y, index) for the pixels inside
// the picture. False when the data ends inside a code; ending without the
// end code is fine. `written` counts the pixels put.
template <class Put>
bool walkRle(const uint8_t* d, size_t n, bool four, int32_t width, int64_t rows, int64_t& written, Put&& put) {
  int64_t x = 0, y = 0;
  size_t p = 0;
  written = 0;
  auto pixel = [&](uint8_t index) {
    if (x < width && y < rows) {
      put(int32_t(x), int32_t(y), index);
      ++written;
    }
    ++x;
  };
  while (p < n && y < rows) {
    if (n - p < 2) return false;
    const uint8_t count = d[p], value = d[p + 1];
    p += 2;
    if (count > 0) {
      // A run: one index, or two alternating ones in RLE4. Pixels past the
      // row's end are dropped.
      for (int i = 0; i < count && x < width; ++i) pixel(four ? ((i & 1) ? value & 0x0F : value >> 4) : value);
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++y;
    } else if (value == 1) {  // end of the picture
      return true;
    } else if (value == 2) {  // move right and up
      if (n - p < 2) return false;
      x += d[p];
      y += d[p + 1];
      p += 2;
    } else {  // `value` indices as they are, padded to a 16-bit boundary
      const size_t bytes = four ? (size_t(value) + 1) / 2 : value;
      if (n - p < bytes) return false;
      for (int i = 0; i < value; ++i) {
        const uint8_t b = d[p + size_t(four ? i / 2 : i)];
        if (x < width) pixel(four ? ((i & 1) ? b & 0x0F : b >> 4) : b);
      }
      p += bytes + ((bytes & 1) != 0 && p + bytes < n ? 1 : 0);
    }
  }
  return true;
}

void decodePaletteRow(const uint8_t* s, uint32_t* d, int32_t width, int bits, const uint32_t* palette) {
  switch (bits) {
    case 8:
      for (int32_t x = 0; x < width; ++x) d[x] = palette[s[x]];
      break;
    case 4:
      for (int32_t x = 0; x < width; ++x) d[x] = palette[(s[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F];
      break;
    case 2:
      for (int32_t x = 0; x < width; ++x) d[x] = palette[(s[x >> 2] >> (6 - 2 * (x & 3))) & 0x03];
      break;
    default:
      for (int32_t x = 0; x < width; ++x) d[x] = palette[(s[x >> 3] >> (7 - (x & 7))) & 0x01];
      break;
  }
}

}  // namespace

BmpError readBmp(const uint8_t* data, size_t size, TMTC& dst, int* dpi, BmpInfo* info) {
  if (dpi) *dpi = 0;
  if (info) *info = BmpInfo{};
  LeReader in(data, size);
  Layout layout;
  Layout* l = &layout;
  BmpError e = readLayout(in, layout, dpi);
  if (e != BmpError::None) return e;
  const int32_t width = l->width, rows = int32_t(l->rows);
  const uint16_t bits = l->bitCount;
  const bool rle = l->compression == kBiRle8 || l->compression == kBiRle4;

  // Everything the decoding will read is checked before dst changes.
  const int64_t rowSize = (int64_t(width) * bits + 31) / 32 * 4;
  int64_t rleWritten = 0;
  size_t rleBytes = 0;
  if (rle) {
    if (l->offBits > in.size()) return BmpError::Truncated;
    rleBytes = in.size() - l->offBits;
    if (l->imageSize != 0) rleBytes = std::min<size_t>(rleBytes, l->imageSize);
    if (!walkRle(in.at(l->offBits), rleBytes, l->compression == kBiRle4, width, rows, rleWritten,
                 [](int32_t, int32_t, uint8_t) {}))
      return BmpError::Truncated;
  } else if (!in.has(l->offBits, size_t(rowSize * rows))) {  // at most 4 × 10^8 + padding
    return BmpError::Truncated;
  }

  // RLE pixels start transparent: a fresh block is zero without a pass over it.
  if (rle) dst.Free();
  if (!dst.Resize(width, rows)) return BmpError::OutOfMemory;
  if (info) {
    info->headerSize = l->headerSize;
    info->bitCount = bits;
    info->compression = l->compression;
    info->xPelsPerMeter = l->xPels;
    info->yPelsPerMeter = l->yPels;
    info->storedAlpha = (bits == 32 && l->standardOrder) || (l->masks[3] != 0 && !l->standardOrder);
    info->undefinedPixels = rle && rleWritten < int64_t(width) * rows;
  }
  if (rle) {
    int64_t written = 0;
    walkRle(in.at(l->offBits), rleBytes, l->compression == kBiRle4, width, rows, written,
            [&](int32_t x, int32_t y, uint8_t index) { dst.Row(y)[x] = l->palette[index]; });
    return BmpError::None;
  }

  Field fields[4];
  if (!l->standardOrder && !(bits <= 8))
    for (int i = 0; i < 4; ++i) fields[i].set(l->masks[i]);
  const bool alphaField = l->masks[3] != 0;
  const int bytesPerPixel = bits / 8;
  const uint8_t* src = in.at(l->offBits);
  for (int32_t k = 0; k < rows; ++k, src += rowSize) {
    // File rows go to buffer rows in bottom-up order whatever the file's order.
    const int32_t y = l->topDown ? rows - 1 - k : k;
    uint32_t* row = dst.Row(y);
    if (bits <= 8) {
      decodePaletteRow(src, row, width, bits, l->palette);
    } else if (l->standardOrder && bits == 32) {
      std::memcpy(row, src, size_t(width) * 4);
    } else if (l->standardOrder) {
      uint8_t* d = reinterpret_cast<uint8_t*>(row);
      const uint8_t* s = src;
      for (int32_t x = 0; x < width; ++x, s += 3, d += 4) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
      }
    } else {
      const uint8_t* s = src;
      for (int32_t x = 0; x < width; ++x, s += bytesPerPixel) {
        uint32_t v = s[0] | uint32_t(s[1]) << 8;
        if (bytesPerPixel > 2) v |= uint32_t(s[2]) << 16;
        if (bytesPerPixel > 3) v |= uint32_t(s[3]) << 24;
        const uint32_t a = alphaField ? fields[3].get(v) : 255;
        row[x] = a << 24 | fields[0].get(v) << 16 | fields[1].get(v) << 8 | fields[2].get(v);
      }
    }
  }
  return BmpError::None;
}

BmpError writeBmp(const TMTC& src, int dpi, std::vector<uint8_t>& out) {
  out.clear();
  if (!src.IsAllocated() || src.width <= 0 || src.height <= 0) return BmpError::WriteFailed;
  const int64_t rowSize = bmpRowSize24(src.width);
  const int64_t offBits = int64_t(kFileHeaderBytes + kInfoHeaderBytes);
  const int64_t imageBytes = rowSize * src.height;
  const int64_t fileBytes = imageBytes + offBits;
  if (fileBytes > int64_t(UINT32_MAX)) return BmpError::TooLarge;
  try {
    out.assign(size_t(fileBytes), 0);
  } catch (const std::bad_alloc&) {
    return BmpError::OutOfMemory;
  }

  uint8_t* p = out.data();
  p[0] = 'B';
  p[1] = 'M';
  put32(p + 2, uint32_t(fileBytes));
  put32(p + 10, uint32_t(offBits));

  // pelsPerMeter multiplies by 100 in int; a resolution read from a broken
  // header must not overflow it. Negative resolutions mean nothing.
  BitmapInfoHeader info = src.InfoHeader(std::clamp(dpi, 0, kMaxWrittenDpi));
  info.bitCount = 24;
  info.imageSize = uint32_t(imageBytes);
  uint8_t* ih = p + kFileHeaderBytes;
  put32(ih + 0, info.size);
  put32(ih + 4, uint32_t(info.width));
  put32(ih + 8, uint32_t(info.height));
  put16(ih + 12, info.planes);
  put16(ih + 14, info.bitCount);
  put32(ih + 16, info.compression);
  put32(ih + 20, info.imageSize);
  put32(ih + 24, uint32_t(info.xPelsPerMeter));
  put32(ih + 28, uint32_t(info.yPelsPerMeter));
  put32(ih + 32, info.clrUsed);
  put32(ih + 36, info.clrImportant);

  uint8_t* row = p + offBits;
  for (int32_t y = src.height - 1; y >= 0; --y, row += rowSize) {
    const uint32_t* s = src.Row(y);
    uint8_t* d = row;
    for (int32_t x = 0; x < src.width; ++x, d += 3) {
      const uint32_t v = s[x];
      d[0] = uint8_t(v);
      d[1] = uint8_t(v >> 8);
      d[2] = uint8_t(v >> 16);
    }
  }
  return BmpError::None;
}

bool saveBmpFile(const std::string& path, const TMTC& src, int dpi) {
  std::vector<uint8_t> bytes;
  if (path.empty() || writeBmp(src, dpi, bytes) != BmpError::None) return false;

  return writeFileAtomically(path, bytes.data(), bytes.size());
}

BmpError loadBmpFile(const std::string& path, TMTC& dst, int* dpi) {
  if (dpi) *dpi = 0;
  Block bytes;
  size_t size = 0;
  switch (readWholeFile(path, kMaxBmpFileBytes, bytes, size)) {
    case ReadFileStatus::Ok: return readBmp(bytes.get(), size, dst, dpi);
    case ReadFileStatus::CannotOpen: return BmpError::CannotOpen;
    case ReadFileStatus::Empty: return BmpError::Truncated;
    case ReadFileStatus::TooLarge: return BmpError::TooLarge;
    case ReadFileStatus::OutOfMemory: return BmpError::OutOfMemory;
    case ReadFileStatus::ReadFailed: return BmpError::ReadFailed;
  }
  return BmpError::ReadFailed;
}

}  // namespace vl
