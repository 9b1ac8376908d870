// What the colour-writing brushes do with one dab, and what each kind does
// when a stroke begins. They write the flow colour directly; the stroke's
// end commits it like the pen's.
#include "drawing/brush_kinds.h"

#include <array>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "document/paper.h"
#include "drawing/stroke.h"
#include "pixel/det_math.h"
#include "pixel/simd.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace vl {
namespace {

// ---- airbrush profiles ----

struct AirTables {
  int32_t table[kAirMapCount][kAirProfileSize];
};

AirTables makeAirTables() {
  AirTables t{};
  constexpr int64_t kFull = int64_t(255) << 16;
  auto fix = [](double v) { return int32_t(std::max(v, 0.0) * 65536); };
  for (int i = 0; i < kAirProfileSize; ++i) {
    const double x = double(i) / 2047;
    t.table[0][i] = i < 1844 ? int32_t(kFull) : int32_t(kFull - kFull * (i - 1844) / 203);
    t.table[1][i] = fix(255 * std::sqrt(1 - x * x));
    t.table[2][i] = fix(255 * (2 * x * x * x - 3 * x * x + 1));
    t.table[3][i] = int32_t(kFull * (2047 - i) / 2047);
    t.table[4][i] = fix(255 * (1 - std::sqrt(1 - (1 - x) * (1 - x))));
  }
  return t;
}

// ---- small helpers ----

// trunc(v × 255) of a strength meant to lie in 0 … 1; NaN and below give 0.
int unitByte(float v) { return v > 0 ? (v >= 1 ? 255 : int(v * 255)) : 0; }
// The same strength in 16.16.
int32_t unitFix(float v) { return v > 0 ? (v >= 1 ? 65536 : int32_t(v * 65536)) : 0; }

bool emptySize(Size s) { return s.width <= 0 || s.height <= 0; }

uint32_t readClamped(const TMTC& c, Size ext, int32_t x, int32_t y) {
  return c.Row(std::clamp(y, 0, ext.height - 1))[std::clamp(x, 0, ext.width - 1)];
}

// Pixel box of a dab, right and bottom exclusive.
struct Box {
  int32_t x0, y0, x1, y1;
};

// From floor(c − r) up to but not including ceil(c + r), clipped to the
// extent. paintDab has bounded the coordinates, so the casts are safe.
bool airBox(Size ext, float x, float y, float r, Box& b) {
  b.x0 = std::max(int32_t(std::floor(x - r)), 0);
  b.y0 = std::max(int32_t(std::floor(y - r)), 0);
  b.x1 = std::min(int32_t(std::ceil(x + r)), ext.width);
  b.y1 = std::min(int32_t(std::ceil(y + r)), ext.height);
  return b.x0 < b.x1 && b.y0 < b.y1;
}

// Profile index of each pixel of a run on one row: trunc(d × 2047 / size)
// where the pixel centre lies closer than the radius, −1 elsewhere. The
// vector form does the same single-precision operations in the same order,
// so both give the same indices; it only takes the division's latency off
// the pixel loop.
#if defined(__SSE2__)
// Eight pixels at a time while eight are left; returns how many it did.
__attribute__((target("avx2"))) int32_t profileIndices8(int32_t x0, int32_t n, float x, float dy2, float size,
                                                        int32_t* out) {
  const __m256 half = _mm256_set1_ps(0.5f), cx = _mm256_set1_ps(x), ry = _mm256_set1_ps(dy2), r = _mm256_set1_ps(size);
  const __m256 scale = _mm256_set1_ps(2047.0f);
  const __m256i last = _mm256_set1_epi32(kAirProfileSize - 1), none = _mm256_set1_epi32(-1);
  __m256i px = _mm256_add_epi32(_mm256_set1_epi32(x0), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256 dx = _mm256_sub_ps(_mm256_add_ps(_mm256_cvtepi32_ps(px), half), cx);
    const __m256 d = _mm256_sqrt_ps(_mm256_add_ps(_mm256_mul_ps(dx, dx), ry));
    const __m256i inside = _mm256_castps_si256(_mm256_cmp_ps(d, r, _CMP_LT_OQ));
    const __m256i q = _mm256_min_epi32(_mm256_cvttps_epi32(_mm256_div_ps(_mm256_mul_ps(d, scale), r)), last);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_blendv_epi8(none, q, inside));
    px = _mm256_add_epi32(px, _mm256_set1_epi32(8));
  }
  return i;
}
#endif

void profileIndices(int32_t x0, int32_t n, float x, float dy2, float size, int32_t* out) {
  int32_t i = 0;
#if defined(__SSE2__)
  if (simdLevel() == SimdLevel::Avx2) i = profileIndices8(x0, n, x, dy2, size, out);
  const int32_t vectorEnd = simdLevel() == SimdLevel::None ? 0 : n;
  const __m128 half = _mm_set1_ps(0.5f), cx = _mm_set1_ps(x), ry = _mm_set1_ps(dy2), r = _mm_set1_ps(size);
  const __m128 scale = _mm_set1_ps(2047.0f);
  const __m128i last = _mm_set1_epi32(kAirProfileSize - 1), none = _mm_set1_epi32(-1), four = _mm_set1_epi32(4);
  __m128i px = _mm_setr_epi32(x0 + i, x0 + i + 1, x0 + i + 2, x0 + i + 3);
  for (; i + 4 <= vectorEnd; i += 4) {
    const __m128 dx = _mm_sub_ps(_mm_add_ps(_mm_cvtepi32_ps(px), half), cx);
    const __m128 d = _mm_sqrt_ps(_mm_add_ps(_mm_mul_ps(dx, dx), ry));
    const __m128i inside = _mm_castps_si128(_mm_cmplt_ps(d, r));
    __m128i q = _mm_cvttps_epi32(_mm_div_ps(_mm_mul_ps(d, scale), r));
    const __m128i over = _mm_cmpgt_epi32(q, last);
    q = _mm_or_si128(_mm_andnot_si128(over, q), _mm_and_si128(over, last));
    q = _mm_or_si128(_mm_and_si128(inside, q), _mm_andnot_si128(inside, none));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), q);
    px = _mm_add_epi32(px, four);
  }
#endif
  for (; i < n; ++i) {
    const float dx = (float(x0 + i) + 0.5f) - x;
    const float d = std::sqrt(dx * dx + dy2);
    out[i] = d < size ? std::min(int32_t(d * 2047 / size), int32_t(kAirProfileSize - 1)) : -1;
  }
}

// The airbrush loop: every pixel of the box whose centre lies closer than
// the radius gets the profile's strength at its distance, times A (16.16).
// rowOp(y) is asked once per row for the op that takes (x, value) with value
// 1 … 255, so that row lookups stay out of the pixel loop. The distance is
// compared with the radius before it is divided by it, so a radius of 0
// paints nothing.
// The runs of the airbrush loop: fn(py, start, n, index) gets each run's
// profile indices, at most kAirRun at a time.
constexpr int32_t kAirRun = 64;
template <class RunOp>
void airRuns(const Box& b, float x, float y, float size, RunOp&& runOp) {
  constexpr int32_t kRun = kAirRun;
  int32_t index[kRun];
  const float r2 = size * size;
  for (int32_t py = b.y0; py < b.y1; ++py) {
    const float dy = (float(py) + 0.5f) - y;
    const float dy2 = dy * dy;
    // Only the row's run near the circle is looked at; the exact test decides.
    const float half = std::sqrt(std::max(r2 - dy2, 0.0f));
    const int32_t from = std::max(b.x0, int32_t(std::floor(x - half)) - 1);
    const int32_t to = std::min(b.x1, int32_t(std::ceil(x + half)) + 1);
    for (int32_t start = from; start < to; start += kRun) {
      const int32_t n = std::min(kRun, to - start);
      profileIndices(start, n, x, dy2, size, index);
      runOp(py, start, n, static_cast<const int32_t*>(index));
    }
  }
}

template <class RowOp>
void airLoop(const Box& b, float x, float y, float size, const int32_t* profile, int32_t A16, RowOp&& rowOp) {
  if (A16 <= 0) return;
  airRuns(b, x, y, size, [&](int32_t py, int32_t start, int32_t n, const int32_t* index) {
    auto op = rowOp(py);
    for (int32_t i = 0; i < n; ++i) {
      if (index[i] < 0) continue;
      const int value = int((int64_t(profile[index[i]]) * A16) >> 32);
      if (value > 0) op(start + i, value);
    }
  });
}

// The colour disc of the watercolour and the eraser: corners tested at
// quarter-pixel resolution against t = trunc(4r)²; cells wholly inside get V,
// wholly outside nothing, the rest count their 16 points. Radii of 3 or less
// count every cell, as a small disc may lie between a cell's corners. A soft
// edge (r ≥ 3) fades by 255 − d² × 255 / t from the cell's top-left corner.
template <class Put>
void colourDisc(Size ext, float x, float y, float r, int V, bool soft, Put&& put) {
  if (V <= 0 || !(r > 0)) return;
  const int64_t u = int64_t(4 * x), v = int64_t(4 * y);
  const int64_t q = int64_t(4 * r), t = q * q;
  if (t == 0) return;
  const int32_t x0 = std::max(int32_t(x - r), 0), x1 = std::min(int32_t(x + r), ext.width - 1);
  const int32_t y0 = std::max(int32_t(y - r), 0), y1 = std::min(int32_t(y + r), ext.height - 1);
  const bool allPartial = r <= 3, fade = soft && r >= 3;
  for (int32_t py = y0; py <= y1; ++py) {
    const int64_t cy = 4 * int64_t(py) - v;
    const int64_t top2 = cy * cy, bottom2 = (cy + 4) * (cy + 4);
    for (int32_t px = x0; px <= x1; ++px) {
      const int64_t cx = 4 * int64_t(px) - u;
      const int64_t left2 = cx * cx, right2 = (cx + 4) * (cx + 4);
      const int corners =
          (left2 + top2 < t) + (right2 + top2 < t) + (left2 + bottom2 < t) + (right2 + bottom2 < t);
      if (!allPartial && corners == 0) continue;
      int K = 255;
      if (fade) {
        K = int(255 - (left2 + top2) * 255 / t);
        if (K <= 0) continue;
      }
      if (!allPartial && corners == 4) {
        const int value = fade ? (V * K) >> 8 : V;
        if (value > 0) put(px, py, value);
        continue;
      }
      int count = 0;
      for (int i = 0; i < 4; ++i) {
        const int64_t sy = (cy + i) * (cy + i);
        for (int j = 0; j < 4; ++j) count += (cx + j) * (cx + j) + sy < t;
      }
      if (count == 0) continue;
      const int value = fade ? (V * K * count) >> 12 : V * count / 16;
      if (value > 0) put(px, py, value);
    }
  }
}

// Floor of the square root, exact for the blur's distances (below 2^53).
uint64_t isqrtExact(uint64_t v) {
  uint64_t r = uint64_t(std::sqrt(double(v)));
  while (r * r > v) --r;
  while ((r + 1) * (r + 1) <= v) ++r;
  return r;
}

// ---- blur ----

// trunc(num / den) for 0 ≤ num < 2^53 and a quotient below 2^31, with
// inv = 1 / den: the product is off by at most one, which the test mends.
inline int32_t divide(int64_t num, int64_t den, double inv) {
  int64_t q = int64_t(double(num) * inv);
  q -= int64_t(q * den > num);
  q += int64_t((q + 1) * den <= num);
  return int32_t(q);
}

// Far beyond what the settings reach (width 200, effect 100 %); they keep
// the sums and the squared 16.16 distances in range.
constexpr int32_t kMaxBlurKernel = 1024;
constexpr float kMaxBlurRadius = 16384;

// In the byte order of a pixel, so that the vector paths widen pixels into
// sums directly.
struct Sums {
  int32_t b = 0, g = 0, r = 0, a = 0;
  void add(const Sums& o) { a += o.a, r += o.r, g += o.g, b += o.b; }
  void sub(const Sums& o) { a -= o.a, r -= o.r, g -= o.g, b -= o.b; }
};

// One source pixel's share: premultiplied with its alpha, or plain RGB when
// the layer's transparency is locked.
template <bool Locked>
Sums share(uint32_t p) {
  Sums s;
  if constexpr (Locked) {
    s.r = int32_t(red(p)), s.g = int32_t(green(p)), s.b = int32_t(blue(p));
  } else {
    const auto& m = MUL[alpha(p)];
    s.a = int32_t(alpha(p)), s.r = m[red(p)], s.g = m[green(p)], s.b = m[blue(p)];
  }
  return s;
}

// Working memory of the blur: the column sums and two rows of pixels, kept
// by the stroke from dab to dab; none when memory is short.
struct BlurScratch {
  Sums* sums;
  uint32_t* adding;
  uint32_t* leaving;
};

bool blurScratch(TStroke& s, int64_t columns, BlurScratch& out) {
  const int64_t perColumn = int64_t(sizeof(Sums) + 2 * sizeof(uint32_t));
  if (columns <= 0) return false;
  if (size_t(columns) > s.blurSumsCount) {
    const int64_t bytes = checkedBytes(perColumn, columns);
    s.blurSums = bytes < 0 ? nullptr : TryAlloc(uint64_t(bytes));
    s.blurSumsCount = s.blurSums ? size_t(columns) : 0;
    if (!s.blurSums) return false;
  }
  uint8_t* base = s.blurSums.get();
  out.sums = reinterpret_cast<Sums*>(base);
  out.adding = reinterpret_cast<uint32_t*>(base + sizeof(Sums) * size_t(columns));
  out.leaving = out.adding + columns;
  return true;
}

// count pixels of row y from column x0 on, rows and columns beyond the layer
// repeating its edge; a tile at a time.
void readRowClamped(const CBlockVMTC& src, int32_t y, int32_t x0, int32_t count, uint32_t* out) {
  y = std::clamp(y, 0, src.height - 1);
  const int32_t w = src.width;
  int32_t j = 0;
  if (x0 < 0) {
    const uint32_t first = src.Pixel(0, y);
    for (; j < count && x0 + j < 0; ++j) out[j] = first;
  }
  while (j < count && x0 + j < w) {
    const int32_t x = x0 + j;
    const int32_t end = std::min({count, j + (32 - (x & 31)), j + (w - x)});
    const TileDesc t = src.TileView(x >> 5, y >> 5);
    if (t.allocated) {
      const uint32_t* row = reinterpret_cast<const uint32_t*>(t.data) + ((y & 31) << 5);
      std::memcpy(out + j, row + (x & 31), size_t(end - j) * sizeof(uint32_t));
    } else {
      std::fill(out + j, out + end, t.uniform);
    }
    j = end;
  }
  if (j < count) std::fill(out + j, out + count, src.Pixel(w - 1, y));
}

// The blur's fade, 255 − trunc(d × 255 / size) with d = isqrt(d²) in 16.16,
// as bands of squared distance: band m holds the d² whose trunc(d × 255 /
// size) is m, band 255 everything at or beyond the radius. A pixel finds its
// band from its neighbour's with a compare or two instead of a square root
// and a division; the first of a row computes it.
struct FadeBands {
  uint64_t from[257];  // smallest d² of each band; the last one is never reached
  int64_t radius;      // size in 16.16

  explicit FadeBands(int64_t S16) : radius(S16) {
    from[256] = ~uint64_t(0);
    for (int m = 0; m < 256; ++m) {
      // The smallest d with trunc(d × 255 / S16) ≥ m, squared; beyond any
      // distance inside a layer when it would not fit.
      const uint64_t d = uint64_t((int64_t(m) * S16 + 254) / 255);
      from[m] = d >= (uint64_t(1) << 32) ? ~uint64_t(0) : d * d;
    }
  }
  int32_t Band(uint64_t d2) const {
    const int64_t d = int64_t(isqrtExact(d2));
    return d >= radius ? 255 : int32_t(d * 255 / radius);
  }
};


#if defined(__SSE2__)
#define VL_AVX2 __attribute__((target("avx2")))

// Lanes 0 … left − 1 of eight: a run's last, short step reads and writes
// only its own pixels.
VL_AVX2 inline __m256i lanesBelow(int32_t left) {
  return _mm256_cmpgt_epi32(_mm256_set1_epi32(left), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}

VL_AVX2 inline __m256i loadLanes(const void* p, __m256i lanes) {
  return _mm256_maskload_epi32(static_cast<const int*>(p), lanes);
}

VL_AVX2 inline __m256i load8(const int32_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }

// The shares of four pixels as sixteen 16-bit lanes in Sums order:
// MUL[a][c] = (a × c × 32897) >> 23 for the colours, a itself for alpha.
VL_AVX2 inline __m256i shares4(const uint32_t* p) {
  const __m256i v = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  const __m256i a = _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(v, 0xFF), 0xFF);
  const __m256i q = _mm256_srli_epi16(_mm256_mulhi_epu16(_mm256_mullo_epi16(v, a), _mm256_set1_epi16(int16_t(32897))), 7);
  return _mm256_blend_epi16(q, v, 0x88);
}

// lerp8(byte of c, byte of d, t) for all four bytes of eight pixels, t per
// pixel (0 … 255): it equals (c t + d (255 − t)) ÷ 255 rounded down, whose
// sum fits 16-bit lanes.
VL_AVX2 inline __m256i lerpBytes8(__m256i c, __m256i d, __m256i t) {
  const __m256i pairs = _mm256_or_si256(t, _mm256_slli_epi32(t, 16));
  const __m256i tLo = _mm256_permutevar8x32_epi32(pairs, _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3));
  const __m256i tHi = _mm256_permutevar8x32_epi32(pairs, _mm256_setr_epi32(4, 4, 5, 5, 6, 6, 7, 7));
  const __m256i k255 = _mm256_set1_epi16(255), k = _mm256_set1_epi16(int16_t(32897));
  const __m256i cLo = _mm256_cvtepu8_epi16(_mm256_castsi256_si128(c)), cHi = _mm256_cvtepu8_epi16(_mm256_extracti128_si256(c, 1));
  const __m256i dLo = _mm256_cvtepu8_epi16(_mm256_castsi256_si128(d)), dHi = _mm256_cvtepu8_epi16(_mm256_extracti128_si256(d, 1));
  const __m256i xLo = _mm256_add_epi16(_mm256_mullo_epi16(cLo, tLo), _mm256_mullo_epi16(dLo, _mm256_sub_epi16(k255, tLo)));
  const __m256i xHi = _mm256_add_epi16(_mm256_mullo_epi16(cHi, tHi), _mm256_mullo_epi16(dHi, _mm256_sub_epi16(k255, tHi)));
  const __m256i rLo = _mm256_srli_epi16(_mm256_mulhi_epu16(xLo, k), 7), rHi = _mm256_srli_epi16(_mm256_mulhi_epu16(xHi, k), 7);
  return _mm256_permute4x64_epi64(_mm256_packus_epi16(rLo, rHi), 0xD8);
}

// Adds the shares of `count` pixels to the column sums and takes away those
// of `leaving`, when given.
VL_AVX2 void slideShares(Sums* sums, const uint32_t* adding, const uint32_t* leaving, int32_t count) {
  int32_t j = 0;
  for (; j + 4 <= count; j += 4) {
    __m256i d = shares4(adding + j);
    if (leaving) d = _mm256_sub_epi16(d, shares4(leaving + j));
    __m256i* p = reinterpret_cast<__m256i*>(sums + j);
    _mm256_storeu_si256(p, _mm256_add_epi32(_mm256_loadu_si256(p), _mm256_cvtepi16_epi32(_mm256_castsi256_si128(d))));
    _mm256_storeu_si256(p + 1,
                        _mm256_add_epi32(_mm256_loadu_si256(p + 1), _mm256_cvtepi16_epi32(_mm256_extracti128_si256(d, 1))));
  }
  for (; j < count; ++j) {
    sums[j].add(share<false>(adding[j]));
    if (leaving) sums[j].sub(share<false>(leaving[j]));
  }
}

// The blur's fade values of `count` pixels of a row from px0 on, four at a
// time: mul8(255 − band, vmax), 0 at or beyond the radius. Distances in
// 16.16 stay below 2^26 here, so the squares are exact doubles and the
// rounded root is off by at most one, which the tests mend; the band's
// quotient lies at least 1 ÷ S16 from the next integer, far beyond its
// rounding.
VL_AVX2 void fadeValues(int32_t* out, int32_t count, int32_t px0, int64_t dy, int64_t X16, int64_t S16, int vmax) {
  const __m256d one = _mm256_set1_pd(1.0), radius = _mm256_set1_pd(double(S16)), k255 = _mm256_set1_pd(255.0);
  const __m256d dy2 = _mm256_set1_pd(double(dy * dy)), offset = _mm256_set1_pd(double(32768 - X16));
  const __m256d step = _mm256_set1_pd(4 * 65536.0);
  const __m128i top = _mm_set1_epi32(255), scale = _mm_set1_epi32(vmax * 32897);
  const double x0 = double(px0) * 65536.0;
  __m256d x = _mm256_setr_pd(x0, x0 + 65536.0, x0 + 2 * 65536.0, x0 + 3 * 65536.0);
  for (int32_t i = 0; i < count; i += 4) {
    const __m256d dx = _mm256_add_pd(x, offset);
    const __m256d d2 = _mm256_add_pd(_mm256_mul_pd(dx, dx), dy2);
    __m256d r = _mm256_floor_pd(_mm256_sqrt_pd(d2));
    r = _mm256_sub_pd(r, _mm256_and_pd(_mm256_cmp_pd(_mm256_mul_pd(r, r), d2, _CMP_GT_OQ), one));
    const __m256d next = _mm256_add_pd(r, one);
    r = _mm256_add_pd(r, _mm256_and_pd(_mm256_cmp_pd(_mm256_mul_pd(next, next), d2, _CMP_LE_OQ), one));
    __m256d band = _mm256_floor_pd(_mm256_div_pd(_mm256_mul_pd(r, k255), radius));
    band = _mm256_blendv_pd(band, k255, _mm256_cmp_pd(r, radius, _CMP_GE_OQ));
    const __m128i fade = _mm_sub_epi32(top, _mm256_cvttpd_epi32(band));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_srli_epi32(_mm_mullo_epi32(fade, scale), 23));
    x = _mm256_add_pd(x, step);
  }
}

// trunc(num ÷ den) of lanes with 0 ≤ num < 2^31, 0 < den < 2^23 and a
// quotient of at most 255, from an estimate within 0.1 of it (a reciprocal
// good to 12 bits) mended by one step either way.
VL_AVX2 inline __m256i quotient8(__m256i num, __m256i den, __m256 inverse) {
  __m256i q = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(num), inverse));
  q = _mm256_add_epi32(q, _mm256_cmpgt_epi32(_mm256_mullo_epi32(q, den), num));
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i past = _mm256_cmpgt_epi32(_mm256_mullo_epi32(_mm256_add_epi32(q, one), den), num);
  return _mm256_add_epi32(q, _mm256_andnot_si256(past, one));
}

// Boxes i and i + 4 in one register.
VL_AVX2 inline __m256i boxPair(const Sums* box) {
  return _mm256_set_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i*>(box + 4)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(box)));
}

// The blur's colour and AlphaBlendCombine for up to eight pixels of a row
// (`lanes` of them): value v (0: untouched) and the boxes' sums over n
// pixels, 1 ÷ n given.
VL_AVX2 void blurCombine8(uint32_t* row, int32_t lanes, const int32_t* v8, const Sums* box, int32_t n,
                          __m256 perBox) {
  const __m256i zero = _mm256_setzero_si256(), k255 = _mm256_set1_epi32(255);
  const __m256i rgbMask = _mm256_set1_epi32(0x00FFFFFF);
  const __m256i v = load8(v8);
  const __m256i inRow = lanesBelow(lanes);
  // Boxes 0 … 7 turned into eight lanes of each sum.
  const __m256i t0 = boxPair(box), t1 = boxPair(box + 1), t2 = boxPair(box + 2), t3 = boxPair(box + 3);
  const __m256i u0 = _mm256_unpacklo_epi32(t0, t1), u1 = _mm256_unpackhi_epi32(t0, t1);
  const __m256i u2 = _mm256_unpacklo_epi32(t2, t3), u3 = _mm256_unpackhi_epi32(t2, t3);
  const __m256i sb = _mm256_unpacklo_epi64(u0, u2), sg = _mm256_unpackhi_epi64(u0, u2);
  const __m256i sr = _mm256_unpacklo_epi64(u1, u3), sa = _mm256_unpackhi_epi64(u1, u3);
  const __m256i active =
      _mm256_and_si256(inRow, _mm256_and_si256(_mm256_cmpgt_epi32(v, zero), _mm256_cmpgt_epi32(sa, zero)));
  if (_mm256_testz_si256(active, active)) return;
  // Lanes without alpha divide by one and are dropped below.
  const __m256i safe = _mm256_blendv_epi8(_mm256_set1_epi32(1), sa, active);
  const __m256 perAlpha = _mm256_rcp_ps(_mm256_cvtepi32_ps(safe));
  const __m256i ca = quotient8(sa, _mm256_set1_epi32(n), perBox);
  const __m256i cr = quotient8(_mm256_mullo_epi32(sr, k255), safe, perAlpha);
  const __m256i cg = quotient8(_mm256_mullo_epi32(sg, k255), safe, perAlpha);
  const __m256i cb = quotient8(_mm256_mullo_epi32(sb, k255), safe, perAlpha);
  const __m256i c = _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi32(ca, 24), _mm256_slli_epi32(cr, 16)),
                                    _mm256_or_si256(_mm256_slli_epi32(cg, 8), cb));
  const __m256i d = _mm256_maskload_epi32(reinterpret_cast<const int*>(row), inRow);
  // lerp8 of alpha and of each colour byte (at full v the colour itself).
  const __m256i mixed = lerpBytes8(c, d, v);
  // Nothing left to colour: the colour stays, alpha 0.
  const __m256i out = _mm256_blendv_epi8(mixed, _mm256_and_si256(d, rgbMask),
                                         _mm256_cmpeq_epi32(_mm256_srli_epi32(mixed, 24), zero));
  _mm256_maskstore_epi32(reinterpret_cast<int*>(row), active, out);
}

// Where the vector blur's arithmetic holds: distances below 2^26 in 16.16
// and premultiplied sums × 255 below 2^31.
bool blurFitsAvx2(int64_t S16, int32_t k, int32_t columns) {
  const int64_t n = (2 * int64_t(k) + 1) * (2 * int64_t(k) + 1);
  return S16 < (int64_t(1) << 25) && n * 255 * 255 < (int64_t(1) << 31) && columns > 0;
}

// The unlocked blur, its fades scaled by the selection when `chain` is
// given: the column sums slide four pixels at a time, the boxes along each
// row, the fades, colours and combines eight at a time; the arithmetic of
// the loop below, pixel for pixel.
VL_AVX2 void blurRowsAvx2(TFlowImage& flow, const BlurScratch& w, const CBlockVMTC& src, const Box& b, int64_t X16,
                          int64_t Y16, int64_t S16, int vmax, int32_t k, int32_t columns, const PixelChain* chain) {
  const int32_t n = (2 * k + 1) * (2 * k + 1), c0 = b.x0 - k;
  const __m256 perBox = _mm256_set1_ps(1.0f / float(n));
  std::fill(w.sums, w.sums + columns, Sums{});
  for (int32_t r = b.y0 - k; r <= b.y0 + k; ++r) {
    readRowClamped(src, r, c0, columns, w.adding);
    slideShares(w.sums, w.adding, nullptr, columns);
  }
  constexpr int32_t kRun = 64;
  alignas(32) int32_t v8[kRun];
  alignas(32) Sums boxes[kRun];
  const auto* sums = reinterpret_cast<const __m128i*>(w.sums);
  for (int32_t py = b.y0; py < b.y1; ++py) {
    if (py > b.y0) {
      readRowClamped(src, py + k, c0, columns, w.adding);
      readRowClamped(src, py - k - 1, c0, columns, w.leaving);
      slideShares(w.sums, w.adding, w.leaving, columns);
    }
    // Only the row's run near the circle is looked at (a pixel inside has
    // dx² < S16² − dy²); the fades decide.
    const int64_t dy = (int64_t(py) << 16) + 32768 - Y16;
    const double chord2 = double(S16) * double(S16) - double(dy) * double(dy);
    if (chord2 <= 0) continue;
    const double half = std::sqrt(chord2), centre = double(X16 - 32768);
    const int32_t from = std::max(b.x0, int32_t(std::floor((centre - half) / 65536.0)) - 1);
    const int32_t to = std::min(b.x1, int32_t(std::ceil((centre + half) / 65536.0)) + 1);
    if (from >= to) continue;
    __m128i box = _mm_setzero_si128();
    for (int32_t j = from - b.x0; j <= from - b.x0 + 2 * k; ++j) box = _mm_add_epi32(box, _mm_loadu_si128(sums + j));
    uint32_t* row = flow.colour.Row(py);
    for (int32_t start = from; start < to; start += kRun) {
      const int32_t count = std::min(kRun, to - start);
      fadeValues(v8, count, start, dy, X16, S16, vmax);
      if (chain) chain->ScaleRun(start, py, count, v8);
      for (int32_t j = 0; j < count; ++j) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(boxes + j), box);
        const int32_t i = start + j - b.x0;
        if (i + 2 * k + 1 < columns)
          box = _mm_add_epi32(box, _mm_sub_epi32(_mm_loadu_si128(sums + i + 2 * k + 1), _mm_loadu_si128(sums + i)));
      }
      for (int32_t j = 0; j < count; j += 8)
        blurCombine8(row + start + j, std::min(8, count - j), v8 + j, boxes + j, n, perBox);
    }
  }
}
#undef VL_AVX2
#endif

template <bool Locked, class Writer, class Combine>
void blurLoop(TFlowImage& flow, TStroke& s, const CBlockVMTC& src, const Box& b, float size, float x, float y,
              int vmax, int32_t k, Writer writer, Combine combine) {
  const int32_t n = (2 * k + 1) * (2 * k + 1);
  const int64_t X16 = int64_t(x * 65536), Y16 = int64_t(y * 65536), S16 = int64_t(size * 65536);
  // Column j of the sums is layer column x0 − k + j, summed over the rows
  // py − k … py + k; the box of pixel x0 + i is columns i … i + 2k.
  const int32_t columns = (b.x1 - b.x0) + 2 * k, c0 = b.x0 - k;
  BlurScratch w{};
  const bool sliding = blurScratch(s, columns, w);
#if defined(__SSE2__)
  if constexpr (!Locked && std::is_same_v<Combine, AlphaBlendCombine>) {
    // A selection scales the fades; a gradation colour takes the pixel loop.
    const bool staged = std::is_same_v<Writer, ChainWriter<true>>;
    if (sliding && simdLevel() == SimdLevel::Avx2 && blurFitsAvx2(S16, k, columns) &&
        !writer.chain->usesGradation()) {
      blurRowsAvx2(flow, w, src, b, X16, Y16, S16, vmax, k, columns, staged ? writer.chain : nullptr);
      return;
    }
  }
#endif
  const FadeBands bands(S16);
  const double perBox = 1.0 / double(n);
  if (sliding) {
    std::fill(w.sums, w.sums + columns, Sums{});
    for (int32_t r = b.y0 - k; r <= b.y0 + k; ++r) {
      readRowClamped(src, r, c0, columns, w.adding);
      for (int32_t j = 0; j < columns; ++j) w.sums[j].add(share<Locked>(w.adding[j]));
    }
  }
  // Without the working memory every pixel sums its box directly: same result.
  auto direct = [&](int32_t px, int32_t py) {
    Sums box;
    for (int32_t r = py - k; r <= py + k; ++r)
      for (int32_t c = px - k; c <= px + k; ++c)
        box.add(share<Locked>(src.Pixel(std::clamp(c, 0, src.width - 1), std::clamp(r, 0, src.height - 1))));
    return box;
  };
  for (int32_t py = b.y0; py < b.y1; ++py) {
    Sums box;
    if (sliding) {
      if (py > b.y0) {
        readRowClamped(src, py + k, c0, columns, w.adding);
        readRowClamped(src, py - k - 1, c0, columns, w.leaving);
        for (int32_t j = 0; j < columns; ++j) {
          w.sums[j].add(share<Locked>(w.adding[j]));
          w.sums[j].sub(share<Locked>(w.leaving[j]));
        }
      }
      for (int32_t j = 0; j <= 2 * k; ++j) box.add(w.sums[j]);
    }
    const int64_t dy = (int64_t(py) << 16) + 32768 - Y16;
    uint32_t* row = flow.colour.Row(py);
    int32_t m = -1;  // the band of the previous pixel, none yet
    for (int32_t px = b.x0; px < b.x1; ++px) {
      const int64_t dx = (int64_t(px) << 16) + 32768 - X16;
      const uint64_t d2 = uint64_t(dx * dx + dy * dy);
      if (m < 0) {
        m = bands.Band(d2);
      } else {
        // Neighbours differ by a few bands at most.
        while (d2 >= bands.from[m + 1]) ++m;
        while (d2 < bands.from[m]) --m;
      }
      if (m < 255) {
        const int value = mul8(255 - m, vmax);
        const Sums sum = sliding ? box : direct(px, py);
        if (value > 0) {
          if constexpr (Locked) {
            const uint32_t c = makePixel(0, uint32_t(divide(sum.r, n, perBox)), uint32_t(divide(sum.g, n, perBox)),
                                         uint32_t(divide(sum.b, n, perBox)));
            writer(row[px], px, py, value, c, combine);
          } else if (sum.a > 0) {
            const double perAlpha = 1.0 / double(sum.a);
            const uint32_t c = makePixel(
                uint32_t(divide(sum.a, n, perBox)), uint32_t(divide(int64_t(sum.r) * 255, sum.a, perAlpha)),
                uint32_t(divide(int64_t(sum.g) * 255, sum.a, perAlpha)),
                uint32_t(divide(int64_t(sum.b) * 255, sum.a, perAlpha)));
            writer(row[px], px, py, value, c, combine);
          }
        }
      }
      const int32_t i = px - b.x0;
      if (sliding && i + 2 * k + 1 < columns) {
        box.add(w.sums[i + 2 * k + 1]);
        box.sub(w.sums[i]);
      }
    }
  }
}

bool legacyOf(const TPaper& paper) { return paper.drawGeneration == DrawGeneration::Legacy; }

}  // namespace

const int32_t* airProfile(int airMap) {
  static const AirTables tables = makeAirTables();
  return tables.table[std::clamp(airMap, 0, kAirMapCount - 1)];
}

int32_t lightnessEntry(int i, float e) { return truncToInt(detPow(float(i) / 2047.0f, e) * 65536.0f); }

const int32_t* straightLightnessCurve() {
  static const std::array<int32_t, kLightnessCurveSize> curve = [] {
    std::array<int32_t, kLightnessCurveSize> c{};
    for (int i = 0; i < kLightnessCurveSize; ++i) c[size_t(i)] = lightnessEntry(i, 1.0f);
    return c;
  }();
  return curve.data();
}

void buildLightnessCurve(TStroke& s) {
  const float grow = 1.0f + s.effect * 0.002f;
  const float e = s.kind == kBrushLighten ? 1.0f / grow : grow;
  for (int i = 0; i < kLightnessCurveSize; ++i) s.lightnessCurve[size_t(i)] = lightnessEntry(i, e);
  lightnessShifts(s.lightnessCurve.data(), s.lightnessShift.data());
  constexpr size_t kBytes = (size_t(1) << kLightnessMemoBits) * sizeof(LightnessMemoEntry);
  if (!s.lightnessMemo) s.lightnessMemo = TryAlloc(kBytes);
  if (s.lightnessMemo) std::memset(s.lightnessMemo.get(), 0xFF, kBytes);
}

namespace {

// A byte as a 16.16 fraction, by the division rule.
constexpr std::array<int32_t, 256> kByteFraction = [] {
  std::array<int32_t, 256> t{};
  for (uint32_t v = 0; v < 256; ++v) t[v] = int32_t(v * 65536u / 255u);
  return t;
}();

constexpr int32_t kFix60 = 60 * kFixOne;

// a ÷ b in 16.16 where b > 0 and the quotient fits.
inline int32_t fixQuotient(int32_t a, int32_t b) { return int32_t((int64_t(a) << 16) / b); }

// Where a channel of the HLS → RGB conversion stands at hue h: the weight
// (0 … 60°) of m2 − m1 added to m1. 60° gives m2 exactly and 0 gives m1, so
// one formula serves the flat stretches and the slopes alike.
inline int32_t hueWeight(int64_t h) {
  if (h > kFix360) {
    h = (h - 1) % kFix360 + 1;
  } else if (h < 0) {
    h = h % kFix360 == 0 ? 0 : h % kFix360 + kFix360;
  }
  if (h < kFix60) return int32_t(h);
  if (h < 180 * kFixOne) return kFix60;
  if (h < 240 * kFixOne) return int32_t(240 * kFixOne - h);
  return 0;
}

inline int32_t hlsByte(int32_t m1, int32_t m2, int32_t weight) {
  const int32_t v = m1 + fixMul(m2 - m1, weight) / 60;
  const int64_t b = (int64_t(v) * 255) >> 16;
  return b < 0 ? 0 : b > 255 ? 255 : int32_t(b);
}

// m1 and m2 of the conversion for lightness L (0 … 255 × 65536) and
// saturation fraction s.
inline void hlsBounds(int32_t L, int32_t s, int32_t& m1, int32_t& m2) {
  const int32_t l = std::clamp(L, 0, kFix255) / 255;
  m2 = l <= 32768 ? fixMul(l, s + kFixOne) : l + s - fixMul(l, s);
  m1 = 2 * l - m2;
}

}  // namespace

// The conversions of the colour models, written out once for both
// lightnesses: the hue's place on each channel is found once, and the
// lightness decides before any division whether anything moves.
uint32_t lightnessTarget(uint32_t d, const int32_t* curve, const int32_t* straight) {
  const uint32_t rgb = d & 0x00FFFFFFu;
  const uint32_t R = red(d), G = green(d), B = blue(d);
  const uint32_t maximum = R > G ? (R > B ? R : B) : (G > B ? G : B);
  const uint32_t minimum = R < G ? (R < B ? R : B) : (G < B ? G : B);
  if (maximum == minimum) {
    // A grey converts to itself: the target is the grey of the moved lightness.
    const int32_t l = int32_t(minimum) * kFixOne;
    const int32_t i = ((l >> 13) * 2047) / 2040;
    const int32_t shift = (curve[i] - straight[i]) * 255;
    if (shift == 0) return rgb;
    const uint32_t c = uint32_t(std::clamp(l + shift, 0, kFix255) >> 16);
    return (c << 16) | (c << 8) | c;
  }
  const int32_t X = kByteFraction[maximum], N = kByteFraction[minimum];
  const int32_t sum = X + N, delta = X - N;
  const int32_t lightness = (sum >> 1) * 255;
  const int32_t i = ((lightness >> 13) * 2047) / 2040;
  const int32_t shift = (curve[i] - straight[i]) * 255;
  if (shift == 0) return rgb;
  const int32_t S = fixQuotient(delta, (sum >> 1) <= 32768 ? sum : 2 * kFixOne - sum);
  const int32_t fr = kByteFraction[R], fg = kByteFraction[G], fb = kByteFraction[B];
  int32_t h;
  if (R == maximum) {
    h = fixQuotient(fg - fb, delta);
  } else if (G == maximum) {
    h = fixQuotient(fb - fr, delta) + 2 * kFixOne;
  } else {
    h = fixQuotient(fr - fg, delta) + 4 * kFixOne;
  }
  int32_t H = h * 60;
  if (H < 0) H += kFix360;
  // Distinct bytes always have a saturation (S ≥ 257), so the conversion
  // never takes its grey path here; its fraction is S itself (S × 255 / 255).
  const int32_t s = S;
  int32_t m1, m2, n1, n2;
  hlsBounds(lightness, s, m1, m2);
  hlsBounds(std::clamp(lightness + shift, 0, kFix255), s, n1, n2);
  const int32_t w[3] = {hueWeight(int64_t(H) + 120 * kFixOne), hueWeight(H), hueWeight(int64_t(H) - 120 * kFixOne)};
  const uint32_t in[3] = {R, G, B};
  uint32_t out = 0;
  for (int c = 0; c < 3; ++c) {
    const int v = int(in[c]) + hlsByte(n1, n2, w[c]) - hlsByte(m1, m2, w[c]);
    out = (out << 8) | uint32_t(std::clamp(v, 0, 255));
  }
  return out;
}

void lightnessShifts(const int32_t* curve, int32_t* shift) {
  const int32_t* straight = straightLightnessCurve();
  for (int32_t x = 0; x < kLightnessShiftSize; ++x) {
    const int32_t i = (x * 2047) / 2040;
    shift[x] = (curve[i] - straight[i]) * 255;
  }
}

#if defined(__SSE2__)
namespace {

#define VL_AVX2 __attribute__((target("avx2")))

// (a × b) >> shift of unsigned 32-bit lanes whose result fits 32 bits.
VL_AVX2 inline __m256i mulShift(__m256i a, __m256i b, int shift) {
  const __m256i even = _mm256_srli_epi64(_mm256_mul_epu32(a, b), shift);
  const __m256i odd = _mm256_srli_epi64(_mm256_mul_epu32(_mm256_srli_epi64(a, 32), _mm256_srli_epi64(b, 32)), shift);
  return _mm256_blend_epi32(even, _mm256_slli_epi64(odd, 32), 0xAA);
}

// trunc(a × 65536 ÷ b) for |a| ≤ 65536, b > 0 and a quotient of at most
// 65536 either way. The single-precision quotient lies within 2^-8 of the
// true one, so its truncation is off by at most one; the remainder a × 65536
// − t × b, below 2b either way, is exact in wrapping 32-bit arithmetic and
// mends it.
VL_AVX2 inline __m256i fixQuotient8(__m256i a, __m256i b) {
  const __m256 q = _mm256_div_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(a), _mm256_set1_ps(65536.0f)), _mm256_cvtepi32_ps(b));
  const __m256i t = _mm256_cvttps_epi32(q);
  const __m256i r = _mm256_sub_epi32(_mm256_slli_epi32(a, 16), _mm256_mullo_epi32(t, b));
  const __m256i zero = _mm256_setzero_si256(), one = _mm256_set1_epi32(1);
  // Truncation toward zero: 0 ≤ r < b for a ≥ 0, −b < r ≤ 0 for a < 0.
  const __m256i negative = _mm256_cmpgt_epi32(zero, a);
  const __m256i up = _mm256_blendv_epi8(_mm256_cmpgt_epi32(r, _mm256_sub_epi32(b, one)), _mm256_cmpgt_epi32(r, zero), negative);
  const __m256i down =
      _mm256_blendv_epi8(_mm256_cmpgt_epi32(zero, r), _mm256_cmpgt_epi32(_mm256_sub_epi32(one, b), r), negative);
  return _mm256_add_epi32(_mm256_sub_epi32(t, up), down);
}

VL_AVX2 inline __m256i clamp8(__m256i v, int lo, int hi) {
  return _mm256_min_epi32(_mm256_max_epi32(v, _mm256_set1_epi32(lo)), _mm256_set1_epi32(hi));
}

// hueWeight of hues in −120° … 480° (16.16).
VL_AVX2 inline __m256i hueWeight8(__m256i h) {
  const __m256i k60 = _mm256_set1_epi32(kFix60), k180 = _mm256_set1_epi32(180 * kFixOne);
  const __m256i k240 = _mm256_set1_epi32(240 * kFixOne);
  __m256i w = _mm256_setzero_si256();
  w = _mm256_blendv_epi8(w, _mm256_sub_epi32(k240, h), _mm256_cmpgt_epi32(k240, h));
  w = _mm256_blendv_epi8(w, k60, _mm256_cmpgt_epi32(k180, h));
  return _mm256_blendv_epi8(w, h, _mm256_cmpgt_epi32(k60, h));
}

// m1 and m2 of hlsBounds for lightness L in 0 … 255 × 65536.
VL_AVX2 inline void hlsBounds8(__m256i L, __m256i s, __m256i& m1, __m256i& m2) {
  const __m256i l = mulShift(L, _mm256_set1_epi32(8421505), 31);  // L ÷ 255
  const __m256i ls = mulShift(l, s, 16);
  const __m256i low = _mm256_add_epi32(l, ls);                      // fixMul(l, s + 1)
  const __m256i high = _mm256_sub_epi32(_mm256_add_epi32(l, s), ls);  // l + s − fixMul(l, s)
  m2 = _mm256_blendv_epi8(high, low, _mm256_cmpgt_epi32(_mm256_set1_epi32(32769), l));
  m1 = _mm256_sub_epi32(_mm256_slli_epi32(l, 1), m2);
}

// v × 255 as a shift and a subtraction (the low 32 bits, as a product gives).
VL_AVX2 inline __m256i times255(__m256i v) { return _mm256_sub_epi32(_mm256_slli_epi32(v, 8), v); }

// clamp((v × 255) >> 16) of a non-negative v.
VL_AVX2 inline __m256i hlsByteOf8(__m256i v) {
  return _mm256_min_epi32(_mm256_srli_epi32(times255(v), 16), _mm256_set1_epi32(255));
}

// The three channel bytes of hlsByte(m1, m2, w) for weights w0, w1, w2. Of
// the three hues one weighs 60°, one nothing, and one `slope` between: the
// first give m2 and m1 exactly, the last takes the whole formula.
VL_AVX2 inline void hlsBytes8(__m256i m1, __m256i m2, __m256i slope, const __m256i w[3], __m256i out[3]) {
  const __m256i full = _mm256_set1_epi32(kFix60), none = _mm256_setzero_si256();
  const __m256i part = mulShift(mulShift(_mm256_sub_epi32(m2, m1), slope, 16), _mm256_set1_epi32(8947849), 29);
  const __m256i b1 = hlsByteOf8(m1), b2 = hlsByteOf8(m2), bs = hlsByteOf8(_mm256_add_epi32(m1, part));
  for (int c = 0; c < 3; ++c) {
    __m256i b = _mm256_blendv_epi8(bs, b2, _mm256_cmpeq_epi32(w[c], full));
    out[c] = _mm256_blendv_epi8(b, b1, _mm256_cmpeq_epi32(w[c], none));
  }
}

// kByteFraction of byte lanes: v × 65536 ÷ 255 = 257 v + v ÷ 255.
VL_AVX2 inline __m256i byteFraction8(__m256i v) {
  return _mm256_sub_epi32(_mm256_add_epi32(_mm256_slli_epi32(v, 8), v),
                          _mm256_cmpeq_epi32(v, _mm256_set1_epi32(255)));
}

// lightnessTarget of eight pixels.
VL_AVX2 inline __attribute__((always_inline)) __m256i lightnessTarget8(__m256i d, const int32_t* shiftTable) {
  const __m256i k255 = _mm256_set1_epi32(255), one = _mm256_set1_epi32(kFixOne);
  const __m256i R = _mm256_and_si256(_mm256_srli_epi32(d, 16), k255);
  const __m256i G = _mm256_and_si256(_mm256_srli_epi32(d, 8), k255);
  const __m256i B = _mm256_and_si256(d, k255);
  const __m256i rgb = _mm256_and_si256(d, _mm256_set1_epi32(0x00FFFFFF));
  const __m256i fr = byteFraction8(R), fg = byteFraction8(G), fb = byteFraction8(B);
  const __m256i mx = _mm256_max_epi32(R, _mm256_max_epi32(G, B)), mn = _mm256_min_epi32(R, _mm256_min_epi32(G, B));
  const __m256i X = _mm256_max_epi32(fr, _mm256_max_epi32(fg, fb)), N = _mm256_min_epi32(fr, _mm256_min_epi32(fg, fb));
  const __m256i grey = _mm256_cmpeq_epi32(mx, mn);
  const __m256i sum = _mm256_add_epi32(X, N);
  const __m256i half = _mm256_srai_epi32(sum, 1);
  const __m256i lightness = times255(half);
  const __m256i index = _mm256_blendv_epi8(_mm256_srai_epi32(lightness, 13), _mm256_slli_epi32(mn, 3), grey);
  const __m256i shift = _mm256_i32gather_epi32(shiftTable, index, 4);
  // Greys: the grey of the moved lightness.
  const __m256i greyByte = _mm256_srai_epi32(clamp8(_mm256_add_epi32(_mm256_slli_epi32(mn, 16), shift), 0, kFix255), 16);
  const __m256i greyTarget =
      _mm256_or_si256(_mm256_or_si256(greyByte, _mm256_slli_epi32(greyByte, 8)), _mm256_slli_epi32(greyByte, 16));
  // Colours: saturation and hue, the bounds of both lightnesses, the bytes.
  const __m256i delta = _mm256_blendv_epi8(_mm256_sub_epi32(X, N), one, grey);
  const __m256i den = _mm256_blendv_epi8(_mm256_sub_epi32(_mm256_set1_epi32(2 * kFixOne), sum), sum,
                                         _mm256_cmpgt_epi32(_mm256_set1_epi32(32769), half));
  const __m256i S = fixQuotient8(delta, _mm256_blendv_epi8(den, one, grey));
  const __m256i redMax = _mm256_cmpeq_epi32(R, mx);
  const __m256i greenMax = _mm256_andnot_si256(redMax, _mm256_cmpeq_epi32(G, mx));
  __m256i num = _mm256_sub_epi32(fr, fg), offset = _mm256_set1_epi32(4 * kFixOne);
  num = _mm256_blendv_epi8(num, _mm256_sub_epi32(fb, fr), greenMax);
  offset = _mm256_blendv_epi8(offset, _mm256_set1_epi32(2 * kFixOne), greenMax);
  num = _mm256_blendv_epi8(num, _mm256_sub_epi32(fg, fb), redMax);
  offset = _mm256_blendv_epi8(offset, _mm256_setzero_si256(), redMax);
  const __m256i sector = _mm256_add_epi32(fixQuotient8(num, delta), offset);
  __m256i H = _mm256_sub_epi32(_mm256_slli_epi32(sector, 6), _mm256_slli_epi32(sector, 2));  // × 60
  const __m256i k360 = _mm256_set1_epi32(kFix360), k120 = _mm256_set1_epi32(120 * kFixOne);
  H = _mm256_add_epi32(H, _mm256_and_si256(_mm256_cmpgt_epi32(_mm256_setzero_si256(), H), k360));
  __m256i h0 = _mm256_add_epi32(H, k120);
  h0 = _mm256_sub_epi32(h0, _mm256_and_si256(_mm256_cmpgt_epi32(h0, k360), k360));
  __m256i h2 = _mm256_sub_epi32(H, k120);
  h2 = _mm256_add_epi32(h2, _mm256_and_si256(_mm256_cmpgt_epi32(_mm256_setzero_si256(), h2), k360));
  const __m256i w[3] = {hueWeight8(h0), hueWeight8(H), hueWeight8(h2)};
  const __m256i slope = _mm256_sub_epi32(_mm256_add_epi32(w[0], _mm256_add_epi32(w[1], w[2])), _mm256_set1_epi32(kFix60));
  __m256i m1, m2, n1, n2;
  hlsBounds8(lightness, S, m1, m2);
  hlsBounds8(clamp8(_mm256_add_epi32(lightness, shift), 0, kFix255), S, n1, n2);
  __m256i from[3], to[3];
  hlsBytes8(m1, m2, slope, w, from);
  hlsBytes8(n1, n2, slope, w, to);
  const __m256i in[3] = {R, G, B};
  __m256i colour = _mm256_setzero_si256();
  for (int c = 0; c < 3; ++c)
    colour = _mm256_or_si256(_mm256_slli_epi32(colour, 8),
                             clamp8(_mm256_sub_epi32(_mm256_add_epi32(in[c], to[c]), from[c]), 0, 255));
  const __m256i target = _mm256_blendv_epi8(colour, greyTarget, grey);
  // No change of lightness, no change of colour.
  return _mm256_blendv_epi8(target, rgb, _mm256_cmpeq_epi32(shift, _mm256_setzero_si256()));
}

// blendRGB(d, target, v) for v in 1 … 255: every colour byte lerps (at 255
// the target's own), alpha stays.
VL_AVX2 inline __attribute__((always_inline)) __m256i towardTarget8(__m256i d, __m256i target, __m256i v) {
  const __m256i alphaMask = _mm256_set1_epi32(int32_t(0xFF000000u));
  return _mm256_or_si256(_mm256_and_si256(d, alphaMask), _mm256_andnot_si256(alphaMask, lerpBytes8(target, d, v)));
}

// The airbrush loop's values of the eight pixels from index: (profile[index]
// × A16) >> 32 where index ≥ 0, 0 elsewhere and beyond the run.
VL_AVX2 inline __m256i airValues8(const int32_t* index, __m256i inRow, const int32_t* profile, __m256i a16) {
  const __m256i idx = loadLanes(index, inRow);
  const __m256i inside = _mm256_and_si256(inRow, _mm256_cmpgt_epi32(idx, _mm256_set1_epi32(-1)));
  return mulShift(_mm256_mask_i32gather_epi32(_mm256_setzero_si256(), profile, idx, inside, 4), a16, 32);
}

// One run of a burn or dodge row, eight pixels at a time: pixel i of `row`
// takes strength (profile[index[i]] × A16) >> 32 where index[i] ≥ 0 and that
// is positive.
VL_AVX2 void lightnessRun8(uint32_t* row, const int32_t* index, int32_t n, const int32_t* profile, int32_t A16,
                           const int32_t* shiftTable) {
  const __m256i a16 = _mm256_set1_epi32(A16), zero = _mm256_setzero_si256();
  for (int32_t i = 0; i < n; i += 8) {
    const __m256i inRow = lanesBelow(n - i);
    const __m256i v = airValues8(index + i, inRow, profile, a16);
    const __m256i active = _mm256_cmpgt_epi32(v, zero);
    if (_mm256_testz_si256(active, active)) continue;
    const __m256i d = loadLanes(row + i, inRow);
    const __m256i moved = towardTarget8(d, lightnessTarget8(d, shiftTable), v);
    _mm256_maskstore_epi32(reinterpret_cast<int*>(row + i), active, moved);
  }
}

// The same with each pixel's value given (the selection already applied).
VL_AVX2 void lightnessValuesRun8(uint32_t* row, const int32_t* values, int32_t n, const int32_t* shiftTable) {
  const __m256i zero = _mm256_setzero_si256();
  for (int32_t i = 0; i < n; i += 8) {
    const __m256i inRow = lanesBelow(n - i);
    const __m256i v = loadLanes(values + i, inRow);
    const __m256i active = _mm256_cmpgt_epi32(v, zero);
    if (_mm256_testz_si256(active, active)) continue;
    const __m256i d = loadLanes(row + i, inRow);
    const __m256i moved = towardTarget8(d, lightnessTarget8(d, shiftTable), v);
    _mm256_maskstore_epi32(reinterpret_cast<int*>(row + i), active, moved);
  }
}

// Burn or dodge of n pixels anywhere in a buffer (base[offsets[i]], each
// once) with their values, eight at a time: the rows of a small dab are
// shorter than the vector, so its pixels are packed rather than run a row
// at a time.
VL_AVX2 void lightnessPacked8(uint32_t* base, const int32_t* offsets, const int32_t* values, int32_t n,
                              const int32_t* shiftTable) {
  for (int32_t i = 0; i < n; i += 8) {
    const __m256i inRow = lanesBelow(n - i);
    const __m256i idx = loadLanes(offsets + i, inRow);
    const __m256i d =
        _mm256_mask_i32gather_epi32(_mm256_setzero_si256(), reinterpret_cast<const int*>(base), idx, inRow, 4);
    alignas(32) uint32_t out[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(out),
                       towardTarget8(d, lightnessTarget8(d, shiftTable), loadLanes(values + i, inRow)));
    for (int32_t k = 0; k < std::min(8, n - i); ++k) base[offsets[i + k]] = out[k];
  }
}

// The airbrush loop's values of a run.
VL_AVX2 void airValuesRun8(const int32_t* index, int32_t n, const int32_t* profile, int32_t A16, int32_t* out) {
  const __m256i a16 = _mm256_set1_epi32(A16);
  for (int32_t i = 0; i < n; i += 8) {
    const __m256i inRow = lanesBelow(n - i);
    _mm256_maskstore_epi32(out + i, inRow, airValues8(index + i, inRow, profile, a16));
  }
}

// mul8 of lanes whose product is at most 255 × 255.
VL_AVX2 inline __m256i mul8x8(__m256i a, __m256i b) {
  return _mm256_srli_epi32(_mm256_mullo_epi32(_mm256_mullo_epi32(a, b), _mm256_set1_epi32(32897)), 23);
}

// The normal final combine of colour c (0x00RRGGBB lanes) into eight
// pixels d with values v in 0 … 255 (0: untouched): combineOver, or blendRGB
// with the transparency locked. Over a partly transparent pixel the
// colour's share is trunc(v × 255 ÷ a2), a2 = a + mul8(v, 255 − a) ≥ v,
// which also gives the transparent and opaque cases.
template <bool Locked>
VL_AVX2 inline __attribute__((always_inline)) __m256i over8(__m256i d, __m256i v, __m256i c) {
  const __m256i zero = _mm256_setzero_si256(), k255 = _mm256_set1_epi32(255);
  const __m256i active = _mm256_cmpgt_epi32(v, zero);
  __m256i t = v, alphaOut = _mm256_and_si256(d, _mm256_set1_epi32(int32_t(0xFF000000u)));
  // Over opaque pixels the alpha stays and the colour blends by v itself.
  const __m256i opaque = _mm256_cmpeq_epi32(alphaOut, _mm256_set1_epi32(int32_t(0xFF000000u)));
  if (!Locked && !_mm256_testc_si256(opaque, active)) {
    const __m256i a = _mm256_srli_epi32(d, 24);
    const __m256i a2 = _mm256_add_epi32(a, mul8x8(v, _mm256_sub_epi32(k255, a)));
    const __m256i safe = _mm256_blendv_epi8(_mm256_set1_epi32(1), a2, active);
    t = quotient8(_mm256_mullo_epi32(v, k255), safe, _mm256_rcp_ps(_mm256_cvtepi32_ps(safe)));
    alphaOut = _mm256_slli_epi32(a2, 24);
  }
  const __m256i rgb = _mm256_and_si256(lerpBytes8(c, d, t), _mm256_set1_epi32(0x00FFFFFF));
  return _mm256_blendv_epi8(d, _mm256_or_si256(alphaOut, rgb), active);
}

// over8 along a run whose values are given, eight pixels at a time.
template <bool Locked>
VL_AVX2 void overValuesRun8(uint32_t* row, const int32_t* values, int32_t n, uint32_t colour) {
  const __m256i k255 = _mm256_set1_epi32(255), c = _mm256_set1_epi32(int32_t(colour & 0x00FFFFFFu));
  for (int32_t i = 0; i < n; i += 8) {
    const __m256i inRow = lanesBelow(n - i);
    const __m256i v = _mm256_min_epi32(loadLanes(values + i, inRow), k255);
    if (_mm256_testz_si256(v, v)) continue;
    _mm256_maskstore_epi32(reinterpret_cast<int*>(row + i), inRow, over8<Locked>(loadLanes(row + i, inRow), v, c));
  }
}

// over8 along a run of coverage bytes, the values mul8(coverage, O).
template <bool Locked>
VL_AVX2 void overCoverageRun8(uint32_t* row, const uint8_t* coverage, int32_t n, int O, uint32_t colour) {
  const __m256i o = _mm256_set1_epi32(O), c = _mm256_set1_epi32(int32_t(colour & 0x00FFFFFFu));
  const __m256i alphaMask = _mm256_set1_epi32(int32_t(0xFF000000u));
  for (int32_t i = 0; i + 8 <= n; i += 8) {
    const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(coverage + i));
    const int64_t all = _mm_cvtsi128_si64(bytes);
    if (all == 0) continue;
    __m256i* p = reinterpret_cast<__m256i*>(row + i);
    if (all == -1 && O == 255) {
      // Full value everywhere: the colour outright, opaque unless locked.
      const __m256i a = Locked ? _mm256_and_si256(_mm256_loadu_si256(p), alphaMask) : alphaMask;
      _mm256_storeu_si256(p, _mm256_or_si256(a, c));
      continue;
    }
    _mm256_storeu_si256(p, over8<Locked>(_mm256_loadu_si256(p), mul8x8(_mm256_cvtepu8_epi32(bytes), o), c));
  }
}

VL_AVX2 void lightnessTargetsRun8(const uint32_t* in, uint32_t* out, int32_t n, const int32_t* shift) {
  int32_t i = 0;
  for (; i + 8 <= n; i += 8)
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                        lightnessTarget8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i)), shift));
  if (i < n) {
    uint32_t a[8] = {}, b[8];
    std::copy(in + i, in + n, a);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(b),
                        lightnessTarget8(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a)), shift));
    std::copy(b, b + (n - i), out + i);
  }
}

// scaleValuesByMask eight values at a time.
VL_AVX2 void scaleValuesByMask8(int32_t* values, const uint8_t* mask, int32_t n) {
  const __m256i zero = _mm256_setzero_si256(), k255 = _mm256_set1_epi32(255), k = _mm256_set1_epi32(32897);
  for (int32_t i = 0; i < n; i += 8) {
    const __m256i inRow = lanesBelow(n - i);
    const __m256i v = _mm256_min_epi32(_mm256_max_epi32(loadLanes(values + i, inRow), zero), k255);
    // The mask row may end with the run: its last bytes are copied, not over-read.
    alignas(8) uint8_t bytes[8] = {};
    const uint8_t* from = mask + i;
    if (n - i < 8) from = static_cast<const uint8_t*>(std::memcpy(bytes, mask + i, size_t(n - i)));
    const __m256i m = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(from)));
    const __m256i scaled = _mm256_srli_epi32(_mm256_mullo_epi32(_mm256_mullo_epi32(v, m), k), 23);
    _mm256_maskstore_epi32(values + i, inRow, scaled);
  }
}

#undef VL_AVX2

}  // namespace

bool lightnessTargetsAvx2(const uint32_t* in, uint32_t* out, int32_t n, const int32_t* shift) {
  if (simdLevel() != SimdLevel::Avx2) return false;
  lightnessTargetsRun8(in, out, n, shift);
  return true;
}

int32_t overCoverageAvx2(uint32_t* row, const uint8_t* coverage, int32_t n, int O, uint32_t colour, bool locked) {
  if (simdLevel() != SimdLevel::Avx2) return 0;
  if (locked) {
    overCoverageRun8<true>(row, coverage, n, O, colour);
  } else {
    overCoverageRun8<false>(row, coverage, n, O, colour);
  }
  return n / 8 * 8;
}

#else

bool lightnessTargetsAvx2(const uint32_t*, uint32_t*, int32_t, const int32_t*) { return false; }

int32_t overCoverageAvx2(uint32_t*, const uint8_t*, int32_t, int, uint32_t, bool) { return 0; }

#endif

void scaleValuesByMask(int32_t* values, const uint8_t* mask, int32_t n) {
#if defined(__SSE2__)
  if (simdLevel() == SimdLevel::Avx2) {
    scaleValuesByMask8(values, mask, n);
    return;
  }
#endif
  for (int32_t i = 0; i < n; ++i) values[i] = mul8(std::clamp(values[i], 0, 255), mask[i]);
}

Size paintExtent(const TPaper& paper, const TFlowImage& flow, const TStroke& s) {
  const CLayerData* l = paper.layerAt(s.layerIndex);
  if (!l || !l->pixels || !flow.colour.IsAllocated()) return {};
  return {std::min(flow.colour.width, l->pixels->width), std::min(flow.colour.height, l->pixels->height)};
}

bool CPenTC::Capture(const TMTC& src, Size extent, float x, float y, float width) {
  // Far beyond the widest pen; keeps the square's size sane.
  constexpr float kMaxTipWidth = 4096;
  captured = false;
  if (!src.IsAllocated() || emptySize(extent) || extent.width > src.width || extent.height > src.height) return false;
  if (!(width >= 0 && width <= kMaxTipWidth) || !(std::fabs(x) < 1e6f) || !(std::fabs(y) < 1e6f)) return false;
  const int32_t half = int32_t(std::ceil(width)) + 3, n = 2 * half + 1;
  if (!Resize(n, n)) return false;
  const int32_t ix = int32_t(x), iy = int32_t(y);
  const int32_t l = ix - half, t = iy - half;
  // The columns inside the image are one run; the rest repeat its ends.
  const int32_t in0 = std::clamp(-l, 0, n), in1 = std::clamp(extent.width - l, in0, n);
  for (int32_t j = 0; j < n; ++j) {
    const uint32_t* from = src.Row(std::clamp(t + j, 0, extent.height - 1));
    uint32_t* to = Row(j);
    std::fill(to, to + in0, from[0]);
    if (in1 > in0) std::copy(from + (l + in0), from + (l + in1), to + in0);
    std::fill(to + in1, to + n, from[extent.width - 1]);
  }
  halfSize = half;
  left = l;
  top = t;
  side = n;
  centreX = x;
  centreY = y;
  radius = width;
  fracX = x - float(ix);
  fracY = y - float(iy);
  captured = true;
  return true;
}

void beginBrushKind(TPaper& paper, TStroke& s, TMTC& colour, float pressure, float y, float x) {
  const CLayerData* layer = paper.layerAt(s.layerIndex);
  Size ext{};
  if (layer && layer->pixels && colour.IsAllocated())
    ext = {std::min(colour.width, layer->pixels->width), std::min(colour.height, layer->pixels->height)};
  const bool usable = !emptySize(ext) && std::fabs(x) < 1e6f && std::fabs(y) < 1e6f;
  switch (s.kind) {
    case kBrushWatercolour: {
      // The canvas under the first dab, as the brush's first load.
      uint32_t average = s.colour;
      if (usable) {
        const int32_t cx = int32_t(x), cy = int32_t(y);
        uint32_t r = 0, g = 0, b = 0;
        for (int32_t j = -5; j <= 5; ++j)
          for (int32_t i = -5; i <= 5; ++i) {
            const uint32_t p = readClamped(colour, ext, cx + i, cy + j);
            r += red(p), g += green(p), b += blue(p);
          }
        average = makePixel(0, r / 121, g / 121, b / 121);
      }
      s.wcSampleR = float(red(average));
      s.wcSampleG = float(green(average));
      s.wcSampleB = float(blue(average));
      s.wcLoaded = blendRGBTable(average, s.colour, 255 - truncToInt(s.effect * 255 / 100)) & 0x00FFFFFFu;
      s.wcDab = s.wcLoaded;
      break;
    }
    case kBrushSmudge:
      s.smudgeCaptures = 0;
      s.smudgeX = truncToInt(x);
      s.smudgeY = truncToInt(y);
      s.tips[0].captured = s.tips[1].captured = false;
      if (usable) s.tips[0].Capture(colour, ext, x, y, s.width);
      break;
    case kBrushDarken:
    case kBrushLighten: buildLightnessCurve(s); break;
    default: break;
  }
}

// ---- the dabs ----

void watercolourDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x,
                    WcSamples samples) {
  const Size ext = paintExtent(paper, flow, s);
  if (emptySize(ext)) return;
  // The load runs out toward the stroke colour as the ink travels.
  const float reach = s.speed * s.width;
  const float f = reach == 0 ? 1.0f : std::min(s.travel / (reach * 2), 1.0f);
  uint32_t D = blendRGBTable(s.wcLoaded, s.colour, unitByte(f));
  // The canvas around the dab, plus one on all four sides.
  const TMTC& c = flow.colour;
  const int32_t ix = int32_t(x), iy = int32_t(y);
  uint32_t p[4];
  if (samples == WcSamples::Current) {
    p[0] = readClamped(c, ext, ix, int32_t(y + size + 1)), p[1] = readClamped(c, ext, ix, int32_t(y - size + 1));
    p[2] = readClamped(c, ext, int32_t(x + size + 1), iy), p[3] = readClamped(c, ext, int32_t(x - size + 1), iy);
  } else {
    const float reach = size + 1;
    p[0] = readClamped(c, ext, ix, int32_t(y + reach)), p[1] = readClamped(c, ext, ix, int32_t(y - reach));
    p[2] = readClamped(c, ext, int32_t(x + reach), iy), p[3] = readClamped(c, ext, int32_t(x - reach), iy);
  }
  const float sample[3] = {float((red(p[0]) + red(p[1]) + red(p[2]) + red(p[3])) / 4),
                           float((green(p[0]) + green(p[1]) + green(p[2]) + green(p[3])) / 4),
                           float((blue(p[0]) + blue(p[1]) + blue(p[2]) + blue(p[3])) / 4)};
  // The running sample follows the canvas by at most env / 10 a dab.
  const float step = s.env / 10;
  float* S[3] = {&s.wcSampleR, &s.wcSampleG, &s.wcSampleB};
  for (int i = 0; i < 3; ++i) {
    const float diff = sample[i] - *S[i];
    if (std::fabs(diff) < step) {
      *S[i] = sample[i];
    } else {
      *S[i] += diff > 0 ? step : -step;
    }
  }
  const uint32_t canvas =
      makePixel(0, uint32_t(truncToInt(s.wcSampleR)) & 0xFF, uint32_t(truncToInt(s.wcSampleG)) & 0xFF,
                uint32_t(truncToInt(s.wcSampleB)) & 0xFF);
  D = blendRGBTable(D, canvas, std::clamp(truncToInt(s.env * 2.55f), 0, 255)) & 0x00FFFFFFu;
  s.wcDab = D;
  const float a = s.EffectiveOpacity(legacyOf(paper)) * (s.opacityByPressure ? alpha * 0.35f : 0.35f);
  withNormalCombine(s.chain, [&](auto writer, auto combine) {
    colourDisc(ext, x, y, size, unitByte(a), s.softEdge,
               [&](int32_t px, int32_t py, int v) { writer(flow.colour.Row(py)[px], px, py, v, D, combine); });
  });
}

void blurDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x) {
  const Size ext = paintExtent(paper, flow, s);
  Box b;
  if (emptySize(ext) || !(size <= kMaxBlurRadius) || !airBox(ext, x, y, size, b)) return;
  const CBlockVMTC& src = *paper.layerAt(s.layerIndex)->pixels;
  const int vmax = unitByte(s.EffectiveOpacity(legacyOf(paper)) * alpha);
  if (vmax == 0) return;
  const int32_t k = std::clamp(truncToInt(size * s.effect / 100), 1, kMaxBlurKernel);
  withChainWriter(s.chain, [&](auto writer) {
    if (s.chain.lockAlpha()) {
      blurLoop<true>(flow, s, src, b, size, x, y, vmax, k, writer, LockedCombine{});
    } else {
      blurLoop<false>(flow, s, src, b, size, x, y, vmax, k, writer, AlphaBlendCombine{});
    }
  });
}

void eraserDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x) {
  const Size ext = paintExtent(paper, flow, s);
  if (emptySize(ext)) return;
  const int V = unitByte(s.EffectiveOpacity(legacyOf(paper)) * alpha);
  const uint32_t neutral = s.neutralColour & 0x00FFFFFFu;
  withChainWriter(s.chain, [&](auto writer) {
    auto run = [&](auto combine) {
      colourDisc(ext, x, y, size, V, s.softEdge,
                 [&](int32_t px, int32_t py, int v) { writer(flow.colour.Row(py)[px], px, py, v, neutral, combine); });
    };
    // A locked layer keeps its alpha: the eraser paints the neutral colour instead.
    if (s.chain.lockAlpha()) {
      run(LockedCombine{});
    } else {
      run(AlphaReduceCombine{});
    }
  });
}

void legacyEraserDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x) {
  const Size ext = paintExtent(paper, flow, s);
  if (emptySize(ext)) return;
  const uint32_t neutral = s.neutralColour & 0x00FFFFFFu;
  withNormalCombine(s.chain, [&](auto writer, auto combine) {
    colourDisc(ext, x, y, size, unitByte(alpha), s.softEdge,
               [&](int32_t px, int32_t py, int v) { writer(flow.colour.Row(py)[px], px, py, v, neutral, combine); });
  });
}

void airbrushDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x) {
  const Size ext = paintExtent(paper, flow, s);
  Box b;
  if (emptySize(ext) || !airBox(ext, x, y, size, b)) return;
  const int32_t A16 = unitFix(s.EffectiveOpacity(legacyOf(paper)) * alpha);
  const uint32_t colour = s.colour & 0x00FFFFFFu;
#if defined(__SSE2__)
  if (simdLevel() == SimdLevel::Avx2 && !s.chain.usesGradation()) {
    // Values a run at a time, the selection on them, then eight pixels'
    // combines at a time.
    if (A16 <= 0) return;
    const int32_t* profile = airProfile(s.airMap);
    const bool locked = s.chain.lockAlpha();
    airRuns(b, x, y, size, [&](int32_t py, int32_t start, int32_t n, const int32_t* index) {
      int32_t values[kAirRun];
      airValuesRun8(index, n, profile, A16, values);
      s.chain.ScaleRun(start, py, n, values);
      uint32_t* row = flow.colour.Row(py) + start;
      if (locked) {
        overValuesRun8<true>(row, values, n, colour);
      } else {
        overValuesRun8<false>(row, values, n, colour);
      }
    });
    return;
  }
#endif
  withNormalCombine(s.chain, [&](auto writer, auto combine) {
    airLoop(b, x, y, size, airProfile(s.airMap), A16, [&](int32_t py) {
      uint32_t* row = flow.colour.Row(py);
      return [&, row, py](int32_t px, int v) { writer(row[px], px, py, v, colour, combine); };
    });
  });
}

void smudgeDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x) {
  const Size ext = paintExtent(paper, flow, s);
  if (emptySize(ext)) return;
  // A new pixel position takes a new tip; the dab lays the previous one.
  const int32_t ix = int32_t(x), iy = int32_t(y);
  if (ix != s.smudgeX || iy != s.smudgeY) {
    s.smudgeX = ix;
    s.smudgeY = iy;
    const int32_t n = s.smudgeCaptures;
    s.smudgeCaptures = n + 1;
    s.tips[(n + 1) % 2].Capture(flow.colour, ext, x, y, s.width);
  }
  if (s.smudgeCaptures < 1) return;
  const CPenTC& tip = s.tips[(s.smudgeCaptures + 1) % 2];
  Box b;
  if (!tip.captured || !airBox(ext, x, y, size, b)) return;
  const int32_t A16 = unitFix(s.EffectiveOpacity(legacyOf(paper)) * alpha);
  // Tip pixel of dab pixel (px, py): the same offset from the tip's centre as
  // from the dab's, each axis by its own fraction; clamped into the tip.
  const int32_t offX = std::max(tip.halfSize - int32_t(std::ceil(size - tip.fracX)), 0);
  const int32_t offY = std::max(tip.halfSize - int32_t(std::ceil(size - tip.fracY)), 0);
  const int32_t shiftX = offX - int32_t(std::floor(x - size)), shiftY = offY - int32_t(std::floor(y - size));
  const int32_t last = tip.side - 1;
  const uint32_t neutral = s.neutralColour & 0x00FFFFFFu;
  // A dab no wider than the pen it was captured for stays inside the tip's
  // columns; only a wider one repeats the tip's edge.
  const bool columnsInside = b.x0 + shiftX >= 0 && b.x1 - 1 + shiftX <= last;
  withChainWriter(s.chain, [&](auto writer) {
    auto run = [&](auto combine, auto clampColumns) {
      airLoop(b, x, y, size, airProfile(s.airMap), A16, [&](int32_t py) {
        uint32_t* row = flow.colour.Row(py);
        const uint32_t* tipRow = tip.Row(std::clamp(py + shiftY, 0, last));
        return [&, row, tipRow, py](int32_t px, int v) {
          int32_t column = px + shiftX;
          if constexpr (decltype(clampColumns)::value) column = std::clamp(column, 0, last);
          const uint32_t t = tipRow[column];
          writer(row[px], px, py, v, (t >> 24) != 0 ? t : neutral, combine);
        };
      });
    };
    auto pick = [&](auto combine) {
      if (columnsInside) {
        run(combine, std::false_type{});
      } else {
        run(combine, std::true_type{});
      }
    };
    if (s.chain.lockAlpha()) {
      pick(LockedCombine{});
    } else {
      pick(AlphaBlendCombine{});
    }
  });
}

namespace {

// The selection, and a gradation's alpha, on a run of burn or dodge values.
void scaleStages(const PixelChain& chain, int32_t x, int32_t y, int32_t n, int32_t* values) {
  chain.ScaleRun(x, y, n, values);
  if (!chain.usesGradation()) return;
  for (int32_t i = 0; i < n; ++i) {
    uint32_t colour = 0;
    int value = values[i];
    if (value > 0) chain.GradationStage(x + i, y, value, colour);
    values[i] = value;
  }
}

}  // namespace

void lightnessDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x) {
  const Size ext = paintExtent(paper, flow, s);
  Box b;
  if (emptySize(ext) || !airBox(ext, x, y, size, b)) return;
  const int32_t A16 = unitFix(s.EffectiveOpacity(legacyOf(paper)) * alpha);
#if defined(__SSE2__)
  if (simdLevel() == SimdLevel::Avx2) {
    // Eight pixels at a time.
    const int32_t* profile = airProfile(s.airMap);
    if (A16 <= 0) return;
    const bool plain = s.chain.plain();
    // A small dab's pixels, packed eight to a step across its rows.
    constexpr int32_t kPacked = 512;
    constexpr float kPackBelow = 12;
    int32_t offsets[kPacked], packedValues[kPacked];
    int32_t packed = 0;
    uint32_t* const base = flow.colour.Row(0);
    airRuns(b, x, y, size, [&](int32_t py, int32_t start, int32_t n, const int32_t* index) {
      uint32_t* row = flow.colour.Row(py) + start;
      if (size < kPackBelow) {
        int32_t values[kAirRun];
        airValuesRun8(index, n, profile, A16, values);
        if (!plain) scaleStages(s.chain, start, py, n, values);
        if (packed + n > kPacked) {
          lightnessPacked8(base, offsets, packedValues, packed, s.lightnessShift.data());
          packed = 0;
        }
        for (int32_t i = 0; i < n; ++i)
          if (values[i] > 0) {
            offsets[packed] = int32_t(row + i - base);
            packedValues[packed++] = values[i];
          }
        return;
      }
      if (plain) {
        lightnessRun8(row, index, n, profile, A16, s.lightnessShift.data());
        return;
      }
      // The selection scales a run's values first; the lightness goes
      // eight pixels at a time.
      int32_t values[kAirRun];
      airValuesRun8(index, n, profile, A16, values);
      scaleStages(s.chain, start, py, n, values);
      lightnessValuesRun8(row, values, n, s.lightnessShift.data());
    });
    lightnessPacked8(base, offsets, packedValues, packed, s.lightnessShift.data());
    return;
  }
#endif
  const LightnessCombine combine{s.lightnessCurve.data(), straightLightnessCurve(),
                                 reinterpret_cast<LightnessMemoEntry*>(s.lightnessMemo.get())};
  withChainWriter(s.chain, [&](auto writer) {
    airLoop(b, x, y, size, airProfile(s.airMap), A16, [&](int32_t py) {
      uint32_t* row = flow.colour.Row(py);
      return [&, row, py](int32_t px, int v) { writer(row[px], px, py, v, 0u, combine); };
    });
  });
}

}  // namespace vl
