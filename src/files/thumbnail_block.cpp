#include "files/thumbnail_block.h"

#include <algorithm>
#include <cstring>

#include "files/compress.h"

namespace vl {
namespace {

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

void reverseGroups(uint8_t* d, size_t n, size_t g) {
  if (g <= 1) return;
  for (size_t at = 0; at < n; at += g) std::reverse(d + at, d + std::min(n, at + g));
}
void maskBytes(uint8_t* d, size_t n, uint8_t key, uint8_t stride) {
  if (key == 0) return;
  const size_t step = size_t(stride) + 1;
  for (size_t at = 0; at < n; at += step) d[at] ^= uint8_t(~key);
}

}  // namespace

Size thumbnailSizeFor(int32_t w, int32_t h) {
  if (w <= 0 || h <= 0) return {1, 1};
  if (w >= h) return {kThumbnailFit, std::max<int32_t>(1, int32_t(int64_t(h) * kThumbnailFit / w))};
  return {std::max<int32_t>(1, int32_t(int64_t(w) * kThumbnailFit / h)), kThumbnailFit};
}

bool reduceToThumbnail(const CDibCore& picture, TMTC& thumbnail) {
  if (!picture.IsAllocated() || picture.BytesPerPixel() != 4) return false;
  const int32_t w = picture.width, h = picture.height;
  const Size s = thumbnailSizeFor(w, h);
  if (!thumbnail.Resize(s.width, s.height)) return false;
  for (int32_t ty = 0; ty < s.height; ++ty) {
    const int32_t y0 = int32_t(int64_t(ty) * h / s.height), y1 = std::max(y0 + 1, int32_t(int64_t(ty + 1) * h / s.height));
    uint32_t* out = thumbnail.Row(ty);
    for (int32_t tx = 0; tx < s.width; ++tx) {
      const int32_t x0 = int32_t(int64_t(tx) * w / s.width), x1 = std::max(x0 + 1, int32_t(int64_t(tx + 1) * w / s.width));
      uint64_t r = 0, g = 0, b = 0;
      for (int32_t y = y0; y < y1; ++y) {
        const uint32_t* row = reinterpret_cast<const uint32_t*>(picture.PixelAddress(0, y));
        for (int32_t x = x0; x < x1; ++x) {
          r += (row[x] >> 16) & 0xFF;
          g += (row[x] >> 8) & 0xFF;
          b += row[x] & 0xFF;
        }
      }
      const uint64_t n = uint64_t(y1 - y0) * uint64_t(x1 - x0);
      out[tx] = 0xFF000000u | uint32_t(r / n) << 16 | uint32_t(g / n) << 8 | uint32_t(b / n);
    }
  }
  return true;
}

void scrambleThumbnail(uint8_t* data, size_t n, ThumbnailScramble s) {
  reverseGroups(data, n, s.group);
  maskBytes(data, n, s.key, s.stride);
}

void unscrambleThumbnail(uint8_t* data, size_t n, ThumbnailScramble s) {
  maskBytes(data, n, s.key, s.stride);
  reverseGroups(data, n, s.group);
}

FileError makeThumbnailBlock(const TMTC& thumbnail, int32_t paperWidth, int32_t paperHeight, uint16_t form,
                             ThumbnailScramble scramble, std::vector<uint8_t>& out) {
  if (!thumbnail.IsAllocated() || (form != 1 && form != 2)) return FileError::BadArgument;
  const size_t raw = size_t(thumbnail.width) * size_t(thumbnail.height) * 4;
  std::vector<uint8_t> pixels(raw);
  for (int32_t y = 0; y < thumbnail.height; ++y)
    std::memcpy(&pixels[size_t(y) * size_t(thumbnail.width) * 4], thumbnail.Row(y), size_t(thumbnail.width) * 4);
  Block buffer;
  size_t capacity = 0;
  CompressSink sink = CompressSink::growBuffer();
  const FileError e = compress(pixels.data(), raw, buffer, capacity, sink);
  if (e != FileError::None) return e;
  if (form == 1) scramble = {};
  scramble.trailer = 0;
  const size_t stored = sink.length;
  const size_t padded = (stored + 3) & ~size_t(3);
  out.assign(kThumbnailHeadBytes + kThumbnailDescriptorBytes + padded, 0);
  std::memcpy(out.data(), "VTNL", 4);
  put32(out, 4, uint32_t(out.size() - kThumbnailHeadBytes));
  const size_t d = kThumbnailHeadBytes;
  put16(out, d, form);
  out[d + 4] = scramble.group;
  out[d + 5] = scramble.key;
  out[d + 6] = scramble.stride;
  out[d + 7] = scramble.trailer;
  put32(out, d + 8, uint32_t(paperWidth));
  put32(out, d + 12, uint32_t(paperHeight));
  put32(out, d + 16, uint32_t(thumbnail.width));
  put32(out, d + 20, uint32_t(thumbnail.height));
  put32(out, d + 24, uint32_t(stored));
  put32(out, d + 28, uint32_t(raw));
  uint8_t* data = out.data() + d + kThumbnailDescriptorBytes;
  std::memcpy(data, buffer.get(), stored);
  if (form == 2) scrambleThumbnail(data, stored, scramble);
  return FileError::None;
}

FileError readThumbnailBlock(const uint8_t* data, size_t size, ThumbnailInfo& info, TMTC& thumbnail,
                             uint64_t& blockBytes) {
  if (size < kThumbnailHeadBytes) return FileError::Truncated;
  if (std::memcmp(data, "VTNL", 4) != 0) return FileError::NotThisFormat;
  const uint64_t length = get32(data + 4);
  blockBytes = kThumbnailHeadBytes + length;
  if (length < kThumbnailDescriptorBytes) return FileError::Corrupt;
  if (blockBytes > size) return FileError::Truncated;
  const uint8_t* d = data + kThumbnailHeadBytes;
  info.form = uint16_t(get16(d));
  if (info.form != 1 && info.form != 2) return FileError::Unsupported;
  info.scramble = {d[4], d[5], d[6], d[7]};
  info.paperWidth = int32_t(get32(d + 8));
  info.paperHeight = int32_t(get32(d + 12));
  info.width = int32_t(get32(d + 16));
  info.height = int32_t(get32(d + 20));
  const uint64_t stored = get32(d + 24), raw = get32(d + 28);
  // A thumbnail is small: its sides, its bytes and the stored data all agree.
  if (info.width < 1 || info.height < 1 || info.width > 4096 || info.height > 4096) return FileError::Corrupt;
  if (raw != uint64_t(info.width) * uint64_t(info.height) * 4) return FileError::Corrupt;
  if (stored < info.scramble.trailer || stored > length - kThumbnailDescriptorBytes) return FileError::Corrupt;
  std::vector<uint8_t> bytes(d + kThumbnailDescriptorBytes, d + kThumbnailDescriptorBytes + stored);
  if (info.form == 2) unscrambleThumbnail(bytes.data(), bytes.size(), info.scramble);
  std::vector<uint8_t> pixels(raw);
  const FileError e = decompress(bytes.data(), size_t(stored - info.scramble.trailer), pixels.data(), size_t(raw));
  if (e != FileError::None) return e;
  if (!thumbnail.Resize(info.width, info.height)) return FileError::OutOfMemory;
  for (int32_t y = 0; y < info.height; ++y)
    std::memcpy(thumbnail.Row(y), &pixels[size_t(y) * size_t(info.width) * 4], size_t(info.width) * 4);
  return FileError::None;
}

}  // namespace vl
