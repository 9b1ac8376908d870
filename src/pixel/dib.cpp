#include "pixel/dib.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "pixel/simd.h"
#include "platform/ui_services.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vl {

int32_t pelsPerMeter(int dpi) { return truncToInt(dpi * 100.0 / 2.54); }

int dpiFromHeader(uint32_t headerSize, int32_t xPelsPerMeter) {
  if (headerSize != 40 && headerSize != 108 && headerSize != 124) return 0;
  return truncToInt(xPelsPerMeter * 2.54 / 100 + 0.41);
}

bool clipCopy(Point& dst, Area& src, Size srcSize, Size dstSize) {
  if (src.empty()) return false;
  // 64 bits throughout: points and areas may come from files and packets.
  int64_t sx = src.x, sy = src.y, w = src.width, h = src.height, dx = dst.x, dy = dst.y;
  // Source against its own buffer.
  if (sx >= srcSize.width || sy >= srcSize.height || sx + w <= 0 || sy + h <= 0) return false;
  if (sx < 0) { dx -= sx; w += sx; sx = 0; }
  if (sy < 0) { dy -= sy; h += sy; sy = 0; }
  w = std::min<int64_t>(w, srcSize.width - sx);
  h = std::min<int64_t>(h, srcSize.height - sy);
  // The rectangle (dst, src size) against the destination.
  if (dx < 0) { sx -= dx; w += dx; dx = 0; }
  if (dy < 0) { sy -= dy; h += dy; dy = 0; }
  w = std::min<int64_t>(w, dstSize.width - dx);
  h = std::min<int64_t>(h, dstSize.height - dy);
  if (w <= 0 || h <= 0) return false;
  src = Area(int32_t(sx), int32_t(sy), int32_t(w), int32_t(h));
  dst = Point{int32_t(dx), int32_t(dy)};
  return true;
}

// ---- CDibCore ----

void CDibCore::Free() {
  ownedPixels.reset();
  ownedRows.reset();
  pixels = nullptr;
  rows = nullptr;
  width = height = 0;
}

BitmapInfoHeader CDibCore::InfoHeader(int dpi) const {
  BitmapInfoHeader h;
  h.width = width;
  h.height = height;
  h.bitCount = 32;
  h.imageSize = uint32_t(width) * 4u * uint32_t(height);
  h.xPelsPerMeter = h.yPelsPerMeter = pelsPerMeter(dpi);
  return h;
}

void CDibCore::buildRows(bool bottomUp) {
  ptrdiff_t rowBytes = ptrdiff_t(width) * bpp;
  for (int32_t y = 0; y < height; ++y) ownedRows[y] = rowBytes * (bottomUp ? height - 1 - y : y);
  rows = ownedRows.get();
}

bool CDibCore::allocate(int32_t w, int32_t h, bool bottomUp, bool keepBlockOfSameSize) {
  int64_t bytes = (w > 0 && h > 0) ? checkedBytes(int64_t(w) * bpp, h) : -1;
  if (bytes <= 0) {
    Free();
    return false;
  }
  if (keepBlockOfSameSize && IsAllocated() && bytes == ByteSize()) {
    // Same block, new shape: only the row table changes.
    std::unique_ptr<ptrdiff_t[]> newRows(new (std::nothrow) ptrdiff_t[size_t(h)]);
    if (!newRows) {
      Free();
      return false;
    }
    ownedRows = std::move(newRows);
    width = w;
    height = h;
    buildRows(bottomUp);
    return true;
  }
  Free();
  Block block = TryAlloc(uint64_t(bytes));
  std::unique_ptr<ptrdiff_t[]> newRows(new (std::nothrow) ptrdiff_t[size_t(h)]);
  if (!block || !newRows) return false;
  ownedPixels = std::move(block);
  ownedRows = std::move(newRows);
  pixels = ownedPixels.get();
  width = w;
  height = h;
  buildRows(bottomUp);
  return true;
}

// ---- TChannel ----

bool TChannel::Resize(int32_t w, int32_t h) {
  Free();
  // An empty buffer is no allocation failure: nothing to trace.
  if (w <= 0 || h <= 0) return false;
  if (allocate(w, h, true, false)) return true;
  ui().Trace("TChannel::Resize: caught an exception!\\n");
  return false;
}

uint8_t TChannel::ReadClamped(int32_t x, int32_t y) const {
  return At(std::clamp(x, 0, width - 1), std::clamp(y, 0, height - 1));
}

void TChannel::Fill(uint8_t v) {
  if (IsAllocated()) std::memset(pixels, v, size_t(ByteSize()));
}

void TChannel::FillArea(Area a, uint8_t v) {
  if (!IsAllocated() || !ClipArea(a)) return;
  for (int32_t y = a.y; y < a.bottom(); ++y) std::memset(Row(y) + a.x, v, size_t(a.width));
}

bool TChannel::Copy(Point dst, const TChannel& src, Area srcArea) {
  if (!IsAllocated() || !src.IsAllocated() || !clipCopy(dst, srcArea, src.size(), size())) return false;
  for (int32_t j = 0; j < srcArea.height; ++j)
    std::memmove(Row(dst.y + j) + dst.x, src.Row(srcArea.y + j) + srcArea.x, size_t(srcArea.width));
  return true;
}

void TChannel::XorArea(Area a, uint8_t v) {
  if (!IsAllocated() || !ClipArea(a)) return;
  for (int32_t y = a.y; y < a.bottom(); ++y) {
    uint8_t* p = Row(y) + a.x;
    for (int32_t i = 0; i < a.width; ++i) p[i] ^= v;
  }
}

void TChannel::SetPixelLerp(int32_t x, int32_t y, uint8_t v, int t) {
  if (IsAllocated() && Contains(x, y)) Row(y)[x] = blendByte(Row(y)[x], v, t);
}

void TChannel::BlendPixelTable(int32_t x, int32_t y, uint8_t v, int t) {
  if (IsAllocated() && Contains(x, y)) Row(y)[x] = blendByteTable(Row(y)[x], v, t);
}

Bounds TChannel::NonZeroBounds() const {
  Bounds b{width, height, 0, 0};
  if (!IsAllocated()) return {};
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* p = Row(y);
    int32_t first = 0;
    while (first < width && p[first] == 0) ++first;
    if (first == width) continue;
    int32_t last = width - 1;
    while (p[last] == 0) --last;
    b.left = std::min(b.left, first);
    b.right = std::max(b.right, last + 1);
    b.top = std::min(b.top, y);
    b.bottom = y + 1;
  }
  return b.empty() ? Bounds{} : b;
}

void TChannel::Combine(const TChannel& other, ByteFn fn) {
  if (!IsAllocated() || !other.IsAllocated()) return;
  int32_t w = std::min(width, other.width), h = std::min(height, other.height);
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* d = Row(y);
    const uint8_t* s = other.Row(y);
    for (int32_t x = 0; x < w; ++x) d[x] = fn(d[x], s[x]);
  }
}

void TChannel::Apply(ByteFn fn, uint8_t value) {
  if (!IsAllocated()) return;
  uint8_t* p = pixels;
  for (int64_t i = 0, n = ByteSize(); i < n; ++i) p[i] = fn(p[i], value);
}

// ---- TMTC ----

TMTC::TMTC(const uint32_t* src, int32_t w, int32_t h, ptrdiff_t srcStridePixels) : CDibCore(4) {
  if (!src || !Resize(w, h)) return;
  for (int32_t y = 0; y < h; ++y) {
    const uint32_t* s = src + srcStridePixels * y;
    uint32_t* d = Row(y);
    for (int32_t x = 0; x < w; ++x) d[x] = s[x] | 0xFF000000u;
  }
}

bool TMTC::Resize(int32_t w, int32_t h) {
  if (IsAllocated() && w == width && h == height) return true;
  if (w <= 0 || h <= 0) {
    Free();
    return false;
  }
  if (allocate(w, h, false, true)) return true;
  ui().Trace("TMTC::Resize: caught an exception!\\n");
  return false;
}

uint32_t TMTC::ReadClamped(int32_t x, int32_t y) const {
  return At(std::clamp(x, 0, width - 1), std::clamp(y, 0, height - 1));
}

void TMTC::Fill(uint32_t value) {
  if (!IsAllocated()) return;
  for (int32_t y = 0; y < height; ++y) std::fill_n(Row(y), width, value);
}

bool TMTC::FillMasked(Area a, uint32_t value, uint32_t mask) {
  if (!IsAllocated() || !ClipArea(a)) return false;
  uint32_t v = value & mask, keep = ~mask;
  // Four pixels a step where vectors may be used (the composite starts each
  // recomposed piece this way); the rest, or everything, one at a time.
  const int32_t vectorEnd = simdLevel() == SimdLevel::None ? 0 : a.width & ~3;
  for (int32_t y = a.y; y < a.bottom(); ++y) {
    uint32_t* p = Row(y) + a.x;
    int32_t i = 0;
#if defined(__SSE2__)
    const __m128i v4 = _mm_set1_epi32(int32_t(v)), keep4 = _mm_set1_epi32(int32_t(keep));
    for (; i < vectorEnd; i += 4) {
      __m128i* q = reinterpret_cast<__m128i*>(p + i);
      _mm_storeu_si128(q, _mm_or_si128(v4, _mm_and_si128(_mm_loadu_si128(q), keep4)));
    }
#endif
    for (; i < a.width; ++i) p[i] = v | (p[i] & keep);
  }
  return true;
}

bool TMTC::Apply(Area a, PixelFn fn, uint32_t colour, int strength) {
  if (!IsAllocated() || !ClipArea(a)) return false;
  for (int32_t y = a.y; y < a.bottom(); ++y) {
    uint32_t* p = Row(y) + a.x;
    for (int32_t i = 0; i < a.width; ++i) p[i] = fn(p[i], colour, strength);
  }
  return true;
}

bool TMTC::Copy(Point dst, const TMTC& src, Area srcArea) {
  if (!IsAllocated() || !src.IsAllocated() || !clipCopy(dst, srcArea, src.size(), size())) return false;
  if (&src == this && dst.y > srcArea.y) {
    for (int32_t j = srcArea.height - 1; j >= 0; --j)
      std::memmove(Row(dst.y + j) + dst.x, src.Row(srcArea.y + j) + srcArea.x, size_t(srcArea.width) * 4);
  } else {
    for (int32_t j = 0; j < srcArea.height; ++j)
      std::memmove(Row(dst.y + j) + dst.x, src.Row(srcArea.y + j) + srcArea.x, size_t(srcArea.width) * 4);
  }
  return true;
}

bool TMTC::BlendCopy(Point dst, const TMTC& src, Area srcArea, PixelFn fn, int strength) {
  if (!IsAllocated() || !src.IsAllocated() || !clipCopy(dst, srcArea, src.size(), size())) return false;
  for (int32_t j = 0; j < srcArea.height; ++j) {
    uint32_t* d = Row(dst.y + j) + dst.x;
    const uint32_t* s = src.Row(srcArea.y + j) + srcArea.x;
    for (int32_t i = 0; i < srcArea.width; ++i) d[i] = fn(d[i], s[i], strength);
  }
  return true;
}

bool TMTC::KeyedCopy(Point dst, const TMTC& src, Area srcArea, uint32_t key, int strength) {
  if (!IsAllocated() || !src.IsAllocated() || !clipCopy(dst, srcArea, src.size(), size())) return false;
  key &= 0x00FFFFFFu;
  for (int32_t j = 0; j < srcArea.height; ++j) {
    uint32_t* d = Row(dst.y + j) + dst.x;
    const uint32_t* s = src.Row(srcArea.y + j) + srcArea.x;
    for (int32_t i = 0; i < srcArea.width; ++i)
      if ((s[i] & 0x00FFFFFFu) != key) d[i] = blendRGB(d[i], s[i], strength);
  }
  return true;
}

void TMTC::Plot(int32_t x, int32_t y, uint32_t colour, int strength) {
  if (IsAllocated() && Contains(x, y)) Row(y)[x] = blendRGB(Row(y)[x], colour, strength);
}

void TMTC::PlotTable(int32_t x, int32_t y, uint32_t colour, int strength) {
  if (IsAllocated() && Contains(x, y)) Row(y)[x] = blendRGBTable(Row(y)[x], colour, strength);
}

bool TMTC::XorArea(Area a, uint32_t value) {
  if (!IsAllocated() || !ClipArea(a)) return false;
  for (int32_t y = a.y; y < a.bottom(); ++y) {
    uint32_t* p = Row(y) + a.x;
    for (int32_t i = 0; i < a.width; ++i) p[i] ^= value;
  }
  return true;
}

void TMTC::FlipVertical() {
  if (!IsAllocated()) return;
  for (int32_t top = 0, bottom = height - 1; top < bottom; ++top, --bottom)
    std::swap_ranges(Row(top), Row(top) + width, Row(bottom));
}

void TMTC::FlipHorizontal() {
  if (!IsAllocated()) return;
  for (int32_t y = 0; y < height; ++y) std::reverse(Row(y), Row(y) + width);
}

void TMTC::Rotate180() {
  if (!IsAllocated()) return;
  // Swap pixel pairs from both ends; the middle row of an odd height reverses in place.
  for (int32_t top = 0, bottom = height - 1; top < bottom; ++top, --bottom) {
    uint32_t* a = Row(top);
    uint32_t* b = Row(bottom);
    for (int32_t x = 0; x < width; ++x) std::swap(a[x], b[width - 1 - x]);
  }
  if (height & 1) std::reverse(Row(height / 2), Row(height / 2) + width);
}

void TMTC::AntialiasedLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t colour, bool antialias,
                           int rampStart, int rampEnd) {
  if (!IsAllocated()) return;
  int32_t dx = x1 - x0, dy = y1 - y0;
  bool xMajor = std::abs(dx) >= std::abs(dy);
  // Walk the major axis from the lower to the higher end.
  if ((xMajor && x1 < x0) || (!xMajor && y1 < y0)) {
    std::swap(x0, x1);
    std::swap(y0, y1);
    std::swap(rampStart, rampEnd);
    dx = -dx;
    dy = -dy;
  }
  int32_t major = xMajor ? dx : dy;
  int32_t minorDelta = xMajor ? dy : dx;
  int32_t minor = (xMajor ? y0 : x0) << 16;
  int32_t step = truncToInt(double(minorDelta) / (major + 1) * 65536);
  int32_t strength = rampStart << 16;
  int32_t strengthStep = truncToInt(double(rampEnd - rampStart) / (major + 1) * 65536);
  for (int32_t k = 0; k <= major; ++k) {
    int32_t m = minor >> 16;
    int f = (minor >> 8) & 0xFF;
    int s = std::clamp(strength >> 16, 0, 255);
    int w0 = antialias ? mul8(255 - f, s) : s;
    int32_t px = xMajor ? x0 + k : m, py = xMajor ? m : y0 + k;
    Plot(px, py, colour, w0);
    if (antialias && f) Plot(xMajor ? px : px + 1, xMajor ? py + 1 : py, colour, mul8(f, s));
    minor += step;
    strength += strengthStep;
  }
}

// ---- TTC ----

bool TTC::Resize(int32_t w, int32_t h) {
  if (IsAllocated() && w == width && h == height) return true;
  if (allocate(std::max(1, w), std::max(1, h), true, false)) return true;
  ui().Trace("TTC::Resize: caught an exception!\\n");
  return false;
}

void TTC::Line(int32_t x0, int32_t y0, int32_t x1, int32_t y1, PixelFn fn, uint32_t colour, int s0, int s1) {
  if (!IsAllocated()) return;
  auto put = [&](int32_t x, int32_t y, int s) {
    if (Contains(x, y)) Row(y)[x] = fn(Row(y)[x], colour, s);
  };
  int32_t dx = x1 - x0, dy = y1 - y0;
  if (dx == 0 && dy == 0) {
    put(x0, y0, s0);
    return;
  }
  int32_t n = std::max(std::abs(dx), std::abs(dy));
  for (int32_t k = 0; k <= n; ++k) put(x0 + k * dx / n, y0 + k * dy / n, s0 + (s1 - s0) * k / n);
}

void TTC::RectOutline(Area a, uint32_t c1, uint32_t c2) {
  if (a.empty()) return;
  int32_t r = a.right() - 1, b = a.bottom() - 1;
  auto side = [&](int32_t xa, int32_t ya, int32_t xb, int32_t yb, uint32_t c) {
    if (xa == xb && ya == yb) return;
    // One pixel shorter: the far end belongs to the next side.
    int32_t ex = xb - (xb > xa) + (xb < xa), ey = yb - (yb > ya) + (yb < ya);
    Line(xa, ya, ex, ey, inkNormal, c, 255, 255);
  };
  if (a.width == 1 || a.height == 1) {
    Line(a.x, a.y, r, b, inkNormal, c1, 255, 255);
    return;
  }
  side(a.x, a.y, r, a.y, c1);  // top
  side(r, a.y, r, b, c2);      // right
  side(r, b, a.x, b, c2);      // bottom
  side(a.x, b, a.x, a.y, c1);  // left
}

void TTC::Checkerboard(Area a, int cell, uint32_t c1, uint32_t c2, bool aligned) {
  if (!IsAllocated() || cell <= 0) return;
  Area clipped = a;
  if (!ClipArea(clipped)) return;
  // Unaligned cells count from the area's corner, aligned ones from the buffer's.
  int32_t ox = aligned ? 0 : a.x, oy = aligned ? 0 : a.y;
  for (int32_t y = clipped.y; y < clipped.bottom(); ++y) {
    uint32_t* p = Row(y);
    int32_t cy = (y - oy) / cell;
    for (int32_t x = clipped.x; x < clipped.right(); ++x) {
      int32_t cx = (x - ox) / cell;
      uint32_t c = ((cx + cy) & 1) ? c2 : c1;
      p[x] = (p[x] & 0xFF000000u) | (c & 0x00FFFFFFu);
    }
  }
}

// ---- reductions ----

void ReduceBox(const TTC& src, TMTC& dst) { ReduceBox(src, src.area(), dst, dst.area()); }

void ReduceBox(const TTC& src, Area srcArea, TMTC& dst, Area dstArea) {
  // A minimised preview has no pixels to fill.
  if (!src.IsAllocated() || !dst.IsAllocated() || srcArea.empty() || dstArea.empty()) return;
  const int32_t W = srcArea.width, H = srcArea.height, w = dstArea.width, h = dstArea.height;
  const int64_t stepX = int64_t(W) * 1024 / w, stepY = int64_t(H) * 1024 / h;
  const int32_t boxW = W / w + 1, boxH = H / h + 1;
  // 64-bit sums: a big picture into a tiny preview holds millions of samples per box.
  const uint64_t count = uint64_t(boxW) * uint64_t(boxH);
  for (int32_t j = 0; j < h; ++j) {
    int32_t dy = dstArea.y + j;
    if (dy < 0 || dy >= dst.height) continue;
    int32_t sy0 = srcArea.y + int32_t((stepY * j) >> 10);
    for (int32_t i = 0; i < w; ++i) {
      int32_t dx = dstArea.x + i;
      if (dx < 0 || dx >= dst.width) continue;
      int32_t sx0 = srcArea.x + int32_t((stepX * i) >> 10);
      uint64_t r = 0, g = 0, b = 0;
      for (int32_t bj = 0; bj < boxH; ++bj) {
        int32_t sy = std::clamp(sy0 + bj, 0, src.height - 1);
        const uint32_t* row = src.Row(sy);
        for (int32_t bi = 0; bi < boxW; ++bi) {
          uint32_t p = row[std::clamp(sx0 + bi, 0, src.width - 1)];
          r += red(p);
          g += green(p);
          b += blue(p);
        }
      }
      uint32_t& d = dst.Row(dy)[dx];
      d = blendRGB(d, makePixel(0, uint32_t(r / count), uint32_t(g / count), uint32_t(b / count)), 255);
    }
  }
}

void Reduce4x4(const TMTC& src, TMTC& dst) {
  if (!src.IsAllocated() || !dst.IsAllocated()) return;
  const int32_t W = src.width, H = src.height, w = dst.width, h = dst.height;
  const int64_t sx = int64_t(W) * 1024 / w, sy = int64_t(H) * 1024 / h;
  const int64_t qx = truncToInt(double(W) / w / 4 * 1024), qy = truncToInt(double(H) / h / 4 * 1024);
  for (int32_t j = 0; j < h; ++j) {
    uint32_t* d = dst.Row(j);
    for (int32_t i = 0; i < w; ++i) {
      uint32_t sum[4] = {0, 0, 0, 0};
      for (int b = 0; b < 4; ++b) {
        int32_t y = std::min(int32_t((sy * j + qy * b) >> 10), H - 1);
        const uint32_t* row = src.Row(y);
        for (int a = 0; a < 4; ++a) {
          uint32_t p = row[std::min(int32_t((sx * i + qx * a) >> 10), W - 1)];
          sum[0] += p & 0xFF;
          sum[1] += (p >> 8) & 0xFF;
          sum[2] += (p >> 16) & 0xFF;
          sum[3] += p >> 24;
        }
      }
      d[i] = ((sum[3] >> 4) << 24) | ((sum[2] >> 4) << 16) | ((sum[1] >> 4) << 8) | (sum[0] >> 4);
    }
  }
}

void LuminanceToChannel(const TTC& src, TChannel& dst, Area a) {
  if (!src.IsAllocated() || !dst.IsAllocated() || !clipArea(a, src.size()) || !clipArea(a, dst.size())) return;
  for (int32_t y = a.y; y < a.bottom(); ++y) {
    const uint32_t* s = src.Row(y);
    uint8_t* d = dst.Row(y);
    for (int32_t x = a.x; x < a.right(); ++x) d[x] = uint8_t(luminance(s[x]));
  }
}

}  // namespace vl
