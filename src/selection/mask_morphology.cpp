// Growing and shrinking selections. Both work a row at a time on plain byte
// rows, so the inner loops are element-wise maxima (minima) of whole rows,
// which the compiler turns into vector code.
#include <algorithm>
#include <cstring>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "pixel/simd.h"
#include "selection/mask.h"

namespace vl {
namespace {

template <bool Grow>
inline uint8_t pick(uint8_t a, uint8_t b) {
  return Grow ? std::max(a, b) : std::min(a, b);
}

// d[i] := pick(d[i], s[i]) for n bytes; sixteen at a time where the
// machine has the instructions (byte maxima are exact either way).
template <bool Grow>
void pickRow(uint8_t* d, const uint8_t* s, size_t n) {
  size_t i = 0;
#if defined(__SSE2__)
  const size_t vectorEnd = simdLevel() == SimdLevel::None ? 0 : n;
  for (; i + 16 <= vectorEnd; i += 16) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), Grow ? _mm_max_epu8(a, b) : _mm_min_epu8(a, b));
  }
#endif
  for (; i < n; ++i) d[i] = pick<Grow>(d[i], s[i]);
}

bool allZero(const uint8_t* p, size_t n) {
  uint8_t any = 0;
  for (size_t i = 0; i < n; ++i) any |= p[i];
  return any == 0;
}

template <bool Grow>
bool square(const CBlockVCH& in, CBlockVCH& out, Bounds box) {
  const int32_t bw = box.right - box.left;
  // Source rows one pixel wider on each side, edge pixels repeated.
  std::vector<uint8_t> src(size_t(bw) + 2), across[3], result(static_cast<size_t>(bw));
  for (auto& r : across) r.resize(size_t(bw));
  auto load = [&](int32_t y, std::vector<uint8_t>& dst) {
    y = std::clamp(y, 0, in.height - 1);
    const int32_t x0 = std::max(box.left - 1, 0), x1 = std::min(box.right + 1, in.width);
    const int32_t skip = x0 - (box.left - 1);
    in.ReadRow(y, src.data() + skip, x0, x1 - x0);
    if (skip) src[0] = src[1];
    if (x1 < box.right + 1) src[size_t(bw) + 1] = src[size_t(bw)];
    std::memcpy(dst.data(), src.data(), size_t(bw));
    pickRow<Grow>(dst.data(), src.data() + 1, size_t(bw));
    pickRow<Grow>(dst.data(), src.data() + 2, size_t(bw));
  };
  load(box.top - 1, across[0]);
  load(box.top, across[1]);
  for (int32_t y = box.top; y < box.bottom; ++y) {
    load(y + 1, across[2]);
    std::memcpy(result.data(), across[0].data(), size_t(bw));
    pickRow<Grow>(result.data(), across[1].data(), size_t(bw));
    pickRow<Grow>(result.data(), across[2].data(), size_t(bw));
    if (!allZero(result.data(), size_t(bw)) && !out.WriteRow(y, result.data(), box.left, bw)) return false;
    std::swap(across[0], across[1]);
    std::swap(across[1], across[2]);
  }
  out.Compact();
  return true;
}

// The octagon's vertical reach at horizontal offset dx.
int32_t reachAt(int32_t n, int32_t dx) { return std::min(n, n + (n + 1) / 2 - std::abs(dx)); }

template <bool Grow>
bool octagon(const CBlockVCH& in, CBlockVCH& out, int32_t n) {
  const int32_t w = in.width, h = in.height, b = (n + 1) / 2;
  const size_t padded = size_t(w) + 2 * size_t(n);
  // 2n + 1 rolling source rows, n zero bytes on each side; rows outside read 0.
  const int32_t window = 2 * n + 1;
  std::vector<std::vector<uint8_t>> rows(size_t(window), std::vector<uint8_t>(padded, 0));
  std::vector<uint8_t> nonEmpty(size_t(window), 0);
  // Vertical extremes for the reaches b … n, and the output row.
  std::vector<std::vector<uint8_t>> vertical(size_t(n - b + 1), std::vector<uint8_t>(padded));
  std::vector<uint8_t> running(padded), result(static_cast<size_t>(w));
  auto slot = [&](int32_t y) -> size_t { return size_t(((y % window) + window) % window); };
  auto load = [&](int32_t y) {
    std::vector<uint8_t>& r = rows[slot(y)];
    std::fill(r.begin(), r.end(), 0);
    nonEmpty[slot(y)] = 0;
    if (y < 0 || y >= h) return;
    in.ReadRow(y, r.data() + n, 0, w);
    nonEmpty[slot(y)] = !allZero(r.data() + n, size_t(w));
  };
  for (int32_t y = -n; y < n; ++y) load(y);
  for (int32_t y = 0; y < h; ++y) {
    load(y + n);
    // Growth from nothing is nothing; shrinking nothing is nothing too.
    bool any = false;
    for (int32_t k = -n; k <= n && !any; ++k) any = nonEmpty[slot(y + k)] != 0;
    if (!any) continue;
    std::memcpy(running.data(), rows[slot(y)].data(), padded);
    for (int32_t r = 1; r <= n; ++r) {
      pickRow<Grow>(running.data(), rows[slot(y - r)].data(), padded);
      pickRow<Grow>(running.data(), rows[slot(y + r)].data(), padded);
      if (r >= b) std::memcpy(vertical[size_t(r - b)].data(), running.data(), padded);
    }
    // Output pixel x sits at padded position x + n.
    const uint8_t* full = vertical[size_t(n - b)].data();
    std::memcpy(result.data(), full + n, size_t(w));
    for (int32_t dx = -n; dx <= n; ++dx) {
      if (dx == 0) continue;
      const uint8_t* v = vertical[size_t(reachAt(n, dx) - b)].data() + n + dx;
      pickRow<Grow>(result.data(), v, size_t(w));
    }
    if (!allZero(result.data(), size_t(w)) && !out.WriteRow(y, result.data(), 0, w)) return false;
  }
  out.Compact();
  return true;
}

}  // namespace

bool morphSquare(const CBlockVCH& in, CBlockVCH& out, Bounds box, bool grow) {
  if (!in.IsValid() || !out.IsValid() || out.size() != in.size()) return false;
  box = intersect(box, {0, 0, in.width, in.height});
  if (box.empty()) return true;
  return grow ? square<true>(in, out, box) : square<false>(in, out, box);
}

bool morphOctagon(const CBlockVCH& in, CBlockVCH& out, int32_t n, bool grow) {
  if (!in.IsValid() || !out.IsValid() || out.size() != in.size() || n < 1 || n > kMaxMaskMorph) return false;
  return grow ? octagon<true>(in, out, n) : octagon<false>(in, out, n);
}

}  // namespace vl
