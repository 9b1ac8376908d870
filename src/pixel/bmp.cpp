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
constexpr size_t kMaskBytes = 12;  // red, green and blue masks after a 40-byte header
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

// Information header sizes that are valid BMP but not read here.
bool isOtherKnownHeader(uint32_t size) { return size == 12 || size == 16 || size == 52 || size == 56 || size == 64; }

// Bit fields must describe the plain B, G, R(, A) byte order.
BmpError checkMasks(const LeReader& in, size_t at, bool hasAlphaMask) {
  uint32_t r = 0, g = 0, b = 0, a = 0;
  if (!in.u32(at, r) || !in.u32(at + 4, g) || !in.u32(at + 8, b)) return BmpError::Truncated;
  if (hasAlphaMask && !in.u32(at + 12, a)) return BmpError::Truncated;
  if (r != 0x00FF0000u || g != 0x0000FF00u || b != 0x000000FFu)
    return failWith(BmpError::Unsupported, TextId::DetailBmpMasks);
  if (a != 0 && a != 0xFF000000u) return failWith(BmpError::Unsupported, TextId::DetailBmpMasks);
  return BmpError::None;
}

}  // namespace

BmpError readBmp(const uint8_t* data, size_t size, TMTC& dst, int* dpi) {
  if (dpi) *dpi = 0;
  LeReader in(data, size);

  uint16_t magic = 0;
  if (!in.u16(0, magic)) return BmpError::Truncated;
  if (magic != 0x4D42) return BmpError::NotBmp;  // "BM"
  uint32_t offBits = 0, headerSize = 0;
  if (!in.u32(10, offBits) || !in.u32(14, headerSize)) return BmpError::Truncated;
  if (headerSize != 40 && headerSize != 108 && headerSize != 124)
    return isOtherKnownHeader(headerSize)
               ? failWith(BmpError::Unsupported, TextId::DetailBmpHeader, {int64_t(headerSize)})
               : BmpError::BadHeader;
  if (!in.has(kFileHeaderBytes, headerSize)) return BmpError::Truncated;

  const size_t h = kFileHeaderBytes;
  int32_t width = 0, height = 0, xPels = 0;
  uint16_t bitCount = 0;
  uint32_t compression = 0;
  in.i32(h + 4, width);
  in.i32(h + 8, height);
  in.u16(h + 14, bitCount);
  in.u32(h + 16, compression);
  in.i32(h + 24, xPels);
  // A negative resolution means nothing; report it as unknown.
  if (dpi) *dpi = std::max(0, dpiFromHeader(headerSize, xPels));

  if (bitCount != 24 && bitCount != 32)
    return failWith(BmpError::Unsupported, TextId::DetailBmpBitDepth, {int(bitCount)});
  if (compression != kBiRgb && compression != kBiBitfields)
    return failWith(BmpError::Unsupported, TextId::DetailBmpCompression, {int64_t(compression)});
  if (width <= 0 || height == 0 || height == INT32_MIN) return BmpError::BadHeader;
  const bool topDown = height < 0;
  const int64_t rowsCount = topDown ? -int64_t(height) : int64_t(height);
  if (width > kMaxBmpSide || rowsCount > kMaxBmpSide)
    return failWith(BmpError::TooLarge, TextId::DetailImageSize, {width, rowsCount, kMaxBmpSide});

  // The masks follow a 40-byte header; larger headers hold them (and alpha) inside.
  size_t headerEnd = h + headerSize;
  if (compression == kBiBitfields) {
    BmpError e = checkMasks(in, h + kInfoHeaderBytes, headerSize > kInfoHeaderBytes);
    if (e != BmpError::None) return e;
    if (headerSize == kInfoHeaderBytes) headerEnd += kMaskBytes;
  }
  if (offBits < headerEnd) return BmpError::BadHeader;

  const int64_t rowSize = bitCount == 24 ? bmpRowSize24(width) : int64_t(width) * 4;
  const int64_t dataBytes = rowSize * rowsCount;  // at most 4 × 10^8
  if (!in.has(offBits, size_t(dataBytes))) return BmpError::Truncated;

  if (!dst.Resize(width, int32_t(rowsCount))) return BmpError::OutOfMemory;
  const uint8_t* src = in.at(offBits);
  for (int64_t k = 0; k < rowsCount; ++k, src += rowSize) {
    // File rows go to buffer rows in bottom-up order whatever the file's order.
    const int32_t y = int32_t(topDown ? rowsCount - 1 - k : k);
    uint8_t* d = reinterpret_cast<uint8_t*>(dst.Row(y));
    if (bitCount == 32) {
      std::memcpy(d, src, size_t(width) * 4);
    } else {
      const uint8_t* s = src;
      for (int32_t x = 0; x < width; ++x, s += 3, d += 4) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
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
