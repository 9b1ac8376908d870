#pragma once
// Coverage stamps for brushes, outline marking for selection outlines and
// antialiased polygon coverage, all on TChannel (discs also on TMTC).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "pixel/dib.h"
#include "pixel/geometry.h"
#include "platform/memory.h"
#include "pixel/pixel_math.h"

namespace vl {

// How a coverage t (0 … 255) meets the pixel p, for a value v:
//   Blend    p := blendByte(p, v, t)        (move toward v by t)
//   Maximum  p := max(p, mul8(t, v))        (never lowers a pixel)
//   Set      p := mul8(t, v)                (only where t > 0)
// With v = 255, Maximum and Set write the coverage itself.
enum class CoverMode { Blend, Maximum, Set };

// Disc of radius r (pixels) centred at (cx, cy); pixel (x, y) is the cell
// [x, x+1) × [y, y+1). Cells whose corners are all inside get 255, all
// outside nothing, the rest count their 5 × 5 sub-points (the centres of the
// sub-cells) strictly inside (n × 255 ÷ 25);
// radii of 3 or less count every cell. The coverage is scaled by the strength
// (0 … 1, as trunc(strength × 255)) and written with `mode` and `value`.
// r ≤ 0 or any non-finite argument draws nothing.
void stampDisc(TChannel& ch, float cx, float cy, float r, float strength, uint8_t value, CoverMode mode);
// The same disc faded toward its rim: each pixel's coverage is multiplied by
// 255 − d² × 255 ÷ r² (d from the centre to the pixel's centre, both in
// fifth-pixels; clamped at 0).
void stampSoftDisc(TChannel& ch, float cx, float cy, float r, float strength, uint8_t value, CoverMode mode);

// A run from a to b on row y (horizontal) or column x (vertical), measured in
// 1/64 pixel: centre c = trunc((a + b) ÷ 2 × 64), half-length
// h = trunc((b − a) ÷ 2 × 64); a pixel is 255 when |c − 64p| + 64 < h, else
// trunc(k × 255 ÷ 64) for the k sub-positions with |64p + i − c| < h. Pixels
// with no coverage are left alone in every mode.
void stampSpanH(TChannel& ch, int32_t y, double a, double b, uint8_t value, CoverMode mode);
void stampSpanV(TChannel& ch, int32_t x, double a, double b, uint8_t value, CoverMode mode);

// Antialiased coverage of a closed polygon (the first vertex repeated at the
// end), written as 255 in maximum mode; the caller clears the channel first.
// Fewer than three distinct corners draw nothing. False only when the
// arguments are unusable or working memory cannot be had.
bool polygonCoverage(TChannel& ch, const Point* pts, int32_t count);

namespace detail {

// Pixel range of the disc's bounding square (centre ± r, truncated), clipped
// to a w × h buffer. False when nothing can be drawn.
struct DiscRange {
  int32_t x0 = 0, y0 = 0, x1 = -1, y1 = -1;  // inclusive
};
bool discRange(int32_t w, int32_t h, float cx, float cy, float r, DiscRange& out);

// Visits every pixel of the disc with non-zero coverage (0 … 255) using N × N
// sub-points, all coordinates scaled by N. rowOf(y) gives row y's first pixel;
// cell(pixel&, coverage) writes. Soft fades by 255 − d² × 255 ÷ r² at the
// pixel's centre.
//
// Along a row, the cells that are not wholly outside and those wholly inside
// each form one run (both tests grow monotonically away from the centre), so
// each row is scanned in from both ends and its inside run needs no tests.
template <int N, bool Soft, class RowOf, class Cell>
void forEachDiscCell(int32_t w, int32_t h, float cx, float cy, float r, RowOf rowOf, Cell cell) {
  DiscRange g;
  if (!discRange(w, h, cx, cy, r, g)) return;
  constexpr float n = float(N);
  constexpr float half = n / 2.0f;
  const float r2 = r * r * (n * n);
  const bool allPartial = r <= 3.0f;
  const float cxn = cx * n, cyn = cy * n;
  for (int32_t y = g.y0; y <= g.y1; ++y) {
    auto* row = rowOf(y);
    const float top = float(y) * n - cyn;
    const float bottom = top + n;
    const float t2 = top * top, b2 = bottom * bottom;
    const float yFar = std::max(t2, b2), yNear = std::min(t2, b2);
    float sy2[N];
    for (int j = 0; j < N; ++j) {
      float sy = top + (float(j) + 0.5f);
      sy2[j] = sy * sy;
    }
    auto leftOf = [&](int32_t x) { return float(x) * n - cxn; };
    auto outside = [&](int32_t x) {
      const float left = leftOf(x), right = left + n;
      return std::min(left * left, right * right) + yNear >= r2;  // every corner outside
    };
    auto inside = [&](int32_t x) {
      const float left = leftOf(x), right = left + n;
      return std::max(left * left, right * right) + yFar < r2;  // every corner inside
    };
    auto fade = [&](int32_t x, int cov) {
      if constexpr (Soft) {
        const float dx = leftOf(x) + half, dy = top + half;
        const float f = 255.0f - (dx * dx + dy * dy) * 255.0f / r2;
        if (!(f >= 1.0f)) return 0;  // clamped at 0
        return mul8(cov, int(f));
      } else {
        return cov;
      }
    };
    auto partial = [&](int32_t x) {
      const float left = leftOf(x);
      float sx2[N];
      for (int i = 0; i < N; ++i) {
        float sx = left + (float(i) + 0.5f);
        sx2[i] = sx * sx;
      }
      int count = 0;
      for (int j = 0; j < N; ++j)
        for (int i = 0; i < N; ++i) count += (sx2[i] + sy2[j] < r2) ? 1 : 0;
      if (count == 0) return;
      const int cov = fade(x, count * 255 / (N * N));
      if (cov != 0) cell(row[x], cov);
    };

    if (allPartial) {
      for (int32_t x = g.x0; x <= g.x1; ++x) partial(x);
      continue;
    }
    int32_t a = g.x0, b = g.x1;
    while (a <= b && outside(a)) ++a;
    while (b >= a && outside(b)) --b;
    int32_t fa = a, fb = b;  // the inside run, empty when fa > fb
    while (fa <= b && !inside(fa)) ++fa;
    if (fa <= b)
      while (!inside(fb)) --fb;
    for (int32_t x = a; x <= b && x < fa; ++x) partial(x);
    for (int32_t x = fa; x <= fb; ++x) {
      const int cov = fade(x, 255);
      if (Soft && cov == 0) continue;
      cell(row[x], cov);
    }
    for (int32_t x = std::max(fb + 1, fa); x <= b; ++x) partial(x);
  }
}

// A span in 1/64 pixel, ready to be walked over pixels first … last.
struct Span {
  int64_t c = 0, h = 0;
  int64_t first = 0, last = -1;
};

// Beyond this the doubles no longer hold 1/64 pixel anyway; the clamp only
// keeps the 64-bit products defined.
inline constexpr double kSpanLimit = 1e15;

// The span from a to b over pixels 0 … length − 1; false when it covers none.
inline bool makeSpan(double a, double b, int32_t length, Span& s) {
  if (!std::isfinite(a) || !std::isfinite(b) || length <= 0) return false;
  a = std::clamp(a, -kSpanLimit, kSpanLimit);
  b = std::clamp(b, -kSpanLimit, kSpanLimit);
  s.c = int64_t((a + b) / 2 * 64);
  s.h = int64_t((b - a) / 2 * 64);
  if (s.h <= 0) return false;
  s.first = std::max<int64_t>(int64_t(a - 1), 0);
  s.last = std::min<int64_t>(int64_t(b + 1), length - 1);
  return s.first <= s.last;
}

// Coverage of pixel p: 255 well inside, else the count of i in 0 … 63 with
// |64p + i − c| < h, i.e. c − h < 64p + i < c + h.
inline int spanCoverage(const Span& s, int64_t p) {
  const int64_t base = 64 * p;
  const int64_t d = s.c - base;
  if ((d < 0 ? -d : d) + 64 < s.h) return 255;
  const int64_t lo = std::max<int64_t>(s.c - s.h - base + 1, 0);
  const int64_t hi = std::min<int64_t>(s.c + s.h - base - 1, 63);
  if (hi < lo) return 0;
  return int((hi - lo + 1) * 255 / 64);
}

inline int64_t floorDiv64(int64_t v) { return v >= 0 ? v / 64 : -((-v + 63) / 64); }

// Pixels whose 64 sub-positions all lie inside: c − h < 64p and 64p + 63 < c + h.
inline void fullRun(const Span& s, int64_t& f0, int64_t& f1) {
  f0 = std::max(floorDiv64(s.c - s.h + 64), s.first);  // ceil((c − h + 1) ÷ 64)
  f1 = std::min(floorDiv64(s.c + s.h - 64), s.last);
}

// fn(int32_t p, int coverage) for every pixel of the span with coverage
// 1 … 255, in order; the run well inside needs no counting.
template <class Fn>
void forEachSpanCell(const Span& s, Fn&& fn) {
  int64_t f0, f1;
  fullRun(s, f0, f1);
  if (f0 > f1) f0 = s.last + 1, f1 = s.last;
  for (int64_t p = s.first; p < f0; ++p) {
    const int cov = spanCoverage(s, p);
    if (cov != 0) fn(int32_t(p), cov);
  }
  for (int64_t p = f0; p <= f1; ++p) fn(int32_t(p), 255);
  for (int64_t p = std::max(f1 + 1, f0); p <= s.last; ++p) {
    const int cov = spanCoverage(s, p);
    if (cov != 0) fn(int32_t(p), cov);
  }
}

}  // namespace detail

// The span of stampSpanH/V over pixels 0 … length − 1 of a row or column,
// for writers of their own: fn(int32_t p, int coverage 1 … 255).
template <class Fn>
void forEachSpanCell(int32_t length, double a, double b, Fn&& fn) {
  detail::Span s;
  if (detail::makeSpan(a, b, length, s)) detail::forEachSpanCell(s, fn);
}

// The disc of stampDisc on a channel, for writers of their own:
// fn(uint8_t& pixel, int32_t x, int32_t y, int coverage 1 … 255).
template <class Fn>
void forEachDiscPixel(TChannel& ch, float cx, float cy, float r, Fn&& fn) {
  if (!ch.IsAllocated()) return;
  int32_t rowY = 0;
  uint8_t* row = nullptr;
  detail::forEachDiscCell<5, false>(
      ch.width, ch.height, cx, cy, r,
      [&](int32_t y) {
        rowY = y;
        row = ch.Row(y);
        return row;
      },
      [&](uint8_t& p, int cov) { fn(p, int32_t(&p - row), rowY, cov); });
}

// The disc on a 32-bit buffer with 4 × 4 sub-points; plot(uint32_t& pixel,
// int coverage) is called once per pixel with coverage 1 … 255.
template <class Plot>
void stampDisc32(TMTC& dst, float cx, float cy, float r, Plot&& plot) {
  if (!dst.IsAllocated()) return;
  detail::forEachDiscCell<4, false>(
      dst.width, dst.height, cx, cy, r, [&dst](int32_t y) { return dst.Row(y); },
      [&](uint32_t& p, int cov) { plot(p, cov); });
}

// For every non-zero pixel: fn(uint8_t& pixel, int edge), edge = 1 on the
// buffer border or next to a zero pixel (four neighbours), else 0. Edges are
// judged on the channel as it was before the call, so fn may rewrite pixels.
// False when the channel is empty or the two scratch rows cannot be had.
template <class Fn>
bool markOutline(TChannel& ch, Fn&& fn) {
  if (!ch.IsAllocated() || ch.width <= 0 || ch.height <= 0) return false;
  const int32_t w = ch.width, h = ch.height;
  Block prev = TryAlloc(uint64_t(w)), cur = TryAlloc(uint64_t(w));
  if (!prev || !cur) return false;
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* row = ch.Row(y);
    std::memcpy(cur.get(), row, size_t(w));
    const uint8_t* above = prev.get();                           // original row y − 1
    const uint8_t* below = y + 1 < h ? ch.Row(y + 1) : nullptr;  // not yet visited
    const uint8_t* c = cur.get();
    const bool borderRow = y == 0 || y == h - 1;
    for (int32_t x = 0; x < w; ++x) {
      if (c[x] == 0) continue;
      const bool edge =
          borderRow || x == 0 || x == w - 1 || c[x - 1] == 0 || c[x + 1] == 0 || above[x] == 0 || below[x] == 0;
      fn(row[x], edge ? 1 : 0);
    }
    std::swap(prev, cur);
  }
  return true;
}

}  // namespace vl
