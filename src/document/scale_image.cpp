#include "document/scale_image.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/worker_pool.h"

namespace vl {
namespace {

// ---- the arithmetic of one pixel ----
// acc[c] := acc[c] + float(byte c) × weight for every channel, and at the end
// trunc(acc[c] ÷ total + slack) clamped to 0 … 255. The SSE form does the same
// IEEE operations lane by lane, so both give the same bits.

// Float sums of partial weights can land a hair below the true average: a
// plain white area would come out 254 in one pixel of five. Those errors are
// far smaller than 1/128: an average within 1/128 under an integer is stored
// as that integer.
constexpr float kStoreSlack = 1.0f / 128.0f;

inline uint8_t storeChannel(float sum, float total) {
  const float q = sum / total + kStoreSlack;
  return q >= 255.0f ? 255 : q > 0.0f ? uint8_t(q) : 0;
}

#if defined(__SSE2__)
using F4 = __m128;
inline F4 f4Zero() { return _mm_setzero_ps(); }
inline F4 f4AddWeighted(F4 acc, uint32_t p, float w) {
  const __m128i z = _mm_setzero_si128();
  const __m128i b = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int(p)), z), z);
  return _mm_add_ps(acc, _mm_mul_ps(_mm_cvtepi32_ps(b), _mm_set1_ps(w)));
}
inline uint32_t f4Store(F4 acc, float total) {
  const F4 q = _mm_min_ps(_mm_add_ps(_mm_div_ps(acc, _mm_set1_ps(total)), _mm_set1_ps(kStoreSlack)),
                         _mm_set1_ps(255.0f));
  __m128i i = _mm_cvttps_epi32(q);  // negative and below one give 0 after the saturating packs
  i = _mm_packs_epi32(i, i);
  i = _mm_packus_epi16(i, i);
  return uint32_t(_mm_cvtsi128_si32(i));
}
#else
struct F4 {
  float c[4];
};
inline F4 f4Zero() { return F4{{0.0f, 0.0f, 0.0f, 0.0f}}; }
inline F4 f4AddWeighted(F4 acc, uint32_t p, float w) {
  for (int c = 0; c < 4; ++c) acc.c[c] = acc.c[c] + float((p >> (8 * c)) & 0xFF) * w;
  return acc;
}
inline uint32_t f4Store(F4 acc, float total) {
  uint32_t v = 0;
  for (int c = 0; c < 4; ++c) v |= uint32_t(storeChannel(acc.c[c], total)) << (8 * c);
  return v;
}
#endif

// The footprint a0 … a1 along one axis, clipped to 0 … limit.
inline ScaleCell makeCell(int64_t a0, int64_t a1, int64_t limit) {
  ScaleCell c;
  a0 = std::max<int64_t>(a0, 0);
  a1 = std::min(a1, limit);
  if (a1 <= a0) return c;
  const int64_t first = a0 >> 16, last = (a1 - 1) >> 16;
  c.first = int32_t(first);
  c.count = int32_t(last - first + 1);
  c.span = float(a1 - a0) / 65536.0f;
  if (c.count == 1) {
    c.firstWeight = c.lastWeight = c.span;
  } else {
    c.firstWeight = float(((first + 1) << 16) - a0) / 65536.0f;
    c.lastWeight = float(a1 - (last << 16)) / 65536.0f;
  }
  return c;
}

// A footprint of at most 2 × 2 pixels (every magnification); r0 and r1 are
// its first and last source rows.
template <class Row>
inline uint32_t pixel4Near(const Row& r0, const Row& r1, const ScaleCell& cx, const ScaleCell& cy) {
  const int32_t x = cx.first;
  if (cx.count == 1 && cy.count == 1) return r0[x];
  F4 acc = f4Zero();
  const float wy0 = cy.firstWeight;
  acc = f4AddWeighted(acc, r0[x], cx.firstWeight * wy0);
  if (cx.count == 2) acc = f4AddWeighted(acc, r0[x + 1], cx.lastWeight * wy0);
  if (cy.count == 2) {
    const float wy1 = cy.lastWeight;
    acc = f4AddWeighted(acc, r1[x], cx.firstWeight * wy1);
    if (cx.count == 2) acc = f4AddWeighted(acc, r1[x + 1], cx.lastWeight * wy1);
  }
  return f4Store(acc, cx.span * cy.span);
}

// The same without a branch on the counts, for footprints in no particular
// pattern (a turned view): the missing taps weigh 0 and add nothing, and a
// lone pixel comes back as itself through the store's slack.
template <class RowOf>
inline uint32_t pixel4Quad(const RowOf& rowOf, const ScaleCell& cx, const ScaleCell& cy) {
  const auto r0 = rowOf(cy.first), r1 = rowOf(cy.first + cy.count - 1);
  const int32_t x0 = cx.first, x1 = cx.first + cx.count - 1;
  const float wx0 = cx.firstWeight, wx1 = cx.count == 2 ? cx.lastWeight : 0.0f;
  const float wy0 = cy.firstWeight, wy1 = cy.count == 2 ? cy.lastWeight : 0.0f;
  F4 acc = f4Zero();
  acc = f4AddWeighted(acc, r0[x0], wx0 * wy0);
  acc = f4AddWeighted(acc, r0[x1], wx1 * wy0);
  acc = f4AddWeighted(acc, r1[x0], wx0 * wy1);
  acc = f4AddWeighted(acc, r1[x1], wx1 * wy1);
  return f4Store(acc, cx.span * cy.span);
}

// Any footprint; rowOf(y) gives source row y.
template <class RowOf>
inline uint32_t pixel4Any(const RowOf& rowOf, const ScaleCell& cx, const ScaleCell& cy) {
  if (cx.count == 1 && cy.count == 1) return rowOf(cy.first)[cx.first];
  F4 acc = f4Zero();
  for (int32_t k = 0; k < cy.count; ++k) {
    const auto row = rowOf(cy.first + k);
    const float wy = cy.Weight(k);
    // The partial ends apart, so the whole pixels between need no test.
    const int32_t last = cx.count - 1;
    if (last < 0) continue;
    acc = f4AddWeighted(acc, row[cx.first], cx.firstWeight * wy);
    for (int32_t m = 1; m < last; ++m) acc = f4AddWeighted(acc, row[cx.first + m], wy);
    if (last > 0) acc = f4AddWeighted(acc, row[cx.first + last], cx.lastWeight * wy);
  }
  return f4Store(acc, cx.span * cy.span);
}

// The area loop for four channels. out.row(y) gives a writer whose put(x, v)
// stores one pixel and says whether it could.
template <class RowOf, class Out>
bool runCells4(const RowOf& rowOf, Out& out, const ScaleCell* cols, const ScaleCell* rows, Area d, uint32_t empty) {
  for (int32_t j = 0; j < d.height; ++j) {
    const ScaleCell& cy = rows[j];
    auto dst = out.row(d.y + j);
    if (cy.count == 0) {
      for (int32_t i = 0; i < d.width; ++i)
        if (!dst.put(d.x + i, empty)) return false;
      continue;
    }
    if (cy.count <= 2) {
      const auto r0 = rowOf(cy.first);
      const auto r1 = rowOf(cy.first + cy.count - 1);
      for (int32_t i = 0; i < d.width; ++i) {
        const ScaleCell& cx = cols[i];
        const uint32_t v = cx.count == 0  ? empty
                           : cx.count <= 2 ? pixel4Near(r0, r1, cx, cy)
                                           : pixel4Any(rowOf, cx, cy);
        if (!dst.put(d.x + i, v)) return false;
      }
    } else {
      for (int32_t i = 0; i < d.width; ++i) {
        const ScaleCell& cx = cols[i];
        if (!dst.put(d.x + i, cx.count == 0 ? empty : pixel4Any(rowOf, cx, cy))) return false;
      }
    }
  }
  return true;
}

// The same for one channel.
template <class RowOf>
inline uint8_t pixel1(const RowOf& rowOf, const ScaleCell& cx, const ScaleCell& cy) {
  if (cx.count == 1 && cy.count == 1) return rowOf(cy.first)[cx.first];
  float acc = 0.0f;
  for (int32_t k = 0; k < cy.count; ++k) {
    const uint8_t* row = rowOf(cy.first + k);
    const float wy = cy.Weight(k);
    const int32_t last = cx.count - 1;
    if (last < 0) continue;
    acc = acc + float(row[cx.first]) * (cx.firstWeight * wy);
    for (int32_t m = 1; m < last; ++m) acc = acc + float(row[cx.first + m]) * wy;
    if (last > 0) acc = acc + float(row[cx.first + last]) * (cx.lastWeight * wy);
  }
  return storeChannel(acc, cx.span * cy.span);
}

struct BufferOut {
  TMTC& image;
  struct Row {
    uint32_t* p;
    bool put(int32_t x, uint32_t v) const {
      p[x] = v;
      return true;
    }
  };
  Row row(int32_t y) const { return {image.Row(y)}; }
};

// Source rows of a layer image: pixels read through the tiles, never allocating.
struct LayerRow {
  const CBlockVMTC* image;
  int32_t y;
  uint32_t operator[](int32_t x) const { return image->Pixel(x, y); }
};

struct LayerOut {
  CBlockVMTC& image;
  struct Row {
    CBlockVMTC* image;
    int32_t y;
    bool put(int32_t x, uint32_t v) const {
      uint32_t* p = image->PixelAddressClamped(x, y);
      if (!p) return false;
      *p = v;
      return true;
    }
  };
  Row row(int32_t y) const { return {&image, y}; }
};

inline uint32_t opaque(uint32_t colour) { return 0xFF000000u | (colour & 0x00FFFFFFu); }

// Runs fn(band) over bands of rows of `a`, on the core's threads when there
// are enough pixels to share; every row comes out the same either way.
template <class Fn>
void inBands(const Area& a, Fn&& fn) {
  constexpr int32_t kRows = 16;
  constexpr int64_t kShared = int64_t(1) << 16;
  const int32_t bands = (a.height + kRows - 1) / kRows;
  if (bands <= 1 || int64_t(a.width) * a.height < kShared) {
    fn(a);
    return;
  }
  corePool().Run(bands, [&](int32_t b) {
    const int32_t top = a.y + b * kRows;
    fn(Area(a.x, top, a.width, std::min(kRows, a.bottom() - top)));
  });
}

// Cells of prepared footprints must stay inside the source.
bool cellsInside(const ScaleCell* cells, int32_t n, int32_t limit) {
  for (int32_t i = 0; i < n; ++i)
    if (cells[i].count != 0 && (cells[i].first < 0 || cells[i].count < 0 || cells[i].first > limit - cells[i].count))
      return false;
  return true;
}

void accumulate4(float* acc, const uint8_t* s) {
  for (int c = 0; c < 4; ++c) acc[c] = acc[c] + float(s[c]);
}
void accumulateWeighted4(float* acc, const uint8_t* s, float weight) {
  for (int c = 0; c < 4; ++c) acc[c] = acc[c] + float(s[c]) * weight;
}
void store4(uint8_t* dest, const float* acc, float total) {
  for (int c = 0; c < 4; ++c) dest[c] = storeChannel(acc[c], total);
}

}  // namespace

// ---- cells ----

ScaleCell MakeScaleCell(int64_t a0, int64_t a1, int64_t limit) { return makeCell(a0, a1, limit); }

bool ScaleAxis::Resize(int32_t n) {
  if (n < 0) return false;
  if (n > capacity) {
    const int64_t bytes = checkedBytes(int64_t(sizeof(ScaleCell)), n);
    block = bytes > 0 ? TryAlloc(uint64_t(bytes)) : nullptr;
    if (!block) {
      capacity = count = 0;
      return false;
    }
    capacity = n;
  }
  count = n;
  return true;
}

bool ScaleAxis::BuildSteps(int64_t start, int64_t step, int32_t n, int64_t limit) {
  if (!Resize(n)) return false;
  ScaleCell* c = Cells();
  for (int32_t i = 0; i < n; ++i) {
    const int64_t a0 = start + i * step;
    c[i] = makeCell(a0, a0 + step, limit);
  }
  return true;
}

// ---- the resampler ----

bool CScaleImage::Resample(Area source, Area dest) {
  refreshSizes();
  if (!clipArea(source, sourceSize) || !clipArea(dest, destSize)) return false;
  sourceArea = source;
  destArea = dest;
  // A destination more than 65536 times wider than its source would get
  // footprints of no length; one 16.16 unit is the least.
  stepX = std::max<int64_t>(1, (int64_t(source.width) << 16) / dest.width);
  stepY = std::max<int64_t>(1, (int64_t(source.height) << 16) / dest.height);
  ScaleAxis cols, rows;
  if (!cols.BuildSteps(int64_t(source.x) << 16, stepX, dest.width, int64_t(sourceSize.width) << 16) ||
      !rows.BuildSteps(int64_t(source.y) << 16, stepY, dest.height, int64_t(sourceSize.height) << 16))
    return false;
  return resampleCells(cols.Cells(), rows.Cells(), dest, 0);
}

bool CScaleImage::ResampleFootprint(uint8_t* dest, const Footprint& f) {
  refreshSizes();
  if (!dest) return false;
  const ScaleCell cx = makeCell(f.x0, f.x1, int64_t(sourceSize.width) << 16);
  const ScaleCell cy = makeCell(f.y0, f.y1, int64_t(sourceSize.height) << 16);
  if (cx.count == 0 || cy.count == 0) return false;
  return footprintVirtual(dest, cx, cy);
}

bool CScaleImage::ResampleCells(const ScaleCell* columns, const ScaleCell* rows, Area dest, uint32_t emptyColour) {
  refreshSizes();
  Area d = dest;
  if (!columns || !rows || !clipArea(d, destSize)) return false;
  columns += d.x - dest.x;
  rows += d.y - dest.y;
  if (!cellsInside(columns, d.width, sourceSize.width) || !cellsInside(rows, d.height, sourceSize.height))
    return false;
  return resampleCells(columns, rows, d, emptyColour);
}

bool CScaleImage::footprintVirtual(uint8_t* dest, const ScaleCell& cx, const ScaleCell& cy) {
  float acc[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  if (cx.count == 1 && cy.count == 1) {
    // Inside one source pixel: that pixel.
    const uint8_t* s = SourcePixel(cx.first, cy.first);
    if (!s) return false;
    Accumulate(acc, s);
    Store(dest, acc, 1.0f);
    return true;
  }
  for (int32_t k = 0; k < cy.count; ++k) {
    const float wy = cy.Weight(k);
    for (int32_t m = 0; m < cx.count; ++m) {
      const uint8_t* s = SourcePixel(cx.first + m, cy.first + k);
      if (!s) return false;
      AccumulateWeighted(acc, s, cx.Weight(m) * wy);
    }
  }
  Store(dest, acc, cx.span * cy.span);
  return true;
}

bool CScaleImage::resampleCells(const ScaleCell* columns, const ScaleCell* rows, Area dest, uint32_t emptyColour) {
  float empty[4];
  for (int c = 0; c < 4; ++c) empty[c] = float((emptyColour >> (8 * c)) & 0xFF);
  for (int32_t j = 0; j < dest.height; ++j)
    for (int32_t i = 0; i < dest.width; ++i) {
      uint8_t* d = DestPixel(dest.x + i, dest.y + j);
      if (!d) return false;
      if (columns[i].count == 0 || rows[j].count == 0) {
        Store(d, empty, 1.0f);
      } else if (!footprintVirtual(d, columns[i], rows[j])) {
        return false;
      }
    }
  return true;
}

// ---- four channels between buffers ----

void CScaleImageTMTC::SetImages(const TMTC* source, TMTC* dest) {
  src = source;
  dst = dest;
  refreshSizes();
}

void CScaleImageTMTC::refreshSizes() {
  sourceSize = src && src->IsAllocated() ? src->size() : Size{};
  destSize = dst && dst->IsAllocated() ? dst->size() : Size{};
}

void CScaleImageTMTC::Accumulate(float* acc, const uint8_t* s) const { accumulate4(acc, s); }
void CScaleImageTMTC::AccumulateWeighted(float* acc, const uint8_t* s, float weight) const {
  accumulateWeighted4(acc, s, weight);
}
void CScaleImageTMTC::Store(uint8_t* dest, const float* acc, float total) const { store4(dest, acc, total); }
const uint8_t* CScaleImageTMTC::SourcePixel(int32_t x, int32_t y) { return src->PixelAddress(x, y); }
uint8_t* CScaleImageTMTC::DestPixel(int32_t x, int32_t y) { return dst->PixelAddress(x, y); }

bool CScaleImageTMTC::resampleCells(const ScaleCell* columns, const ScaleCell* rows, Area dest, uint32_t emptyColour) {
  if (!src || !dst) return false;
  const TMTC& s = *src;
  BufferOut out{*dst};
  const auto rowOf = [&s](int32_t y) { return static_cast<const uint32_t*>(s.Row(y)); };
  // Each row of the destination is its own: threads take bands of them.
  inBands(dest, [&](const Area& band) {
    runCells4(rowOf, out, columns, rows + (band.y - dest.y), band, emptyColour);
  });
  return true;
}

// ---- one channel ----

void CScaleImage8::Accumulate(float* acc, const uint8_t* s) const { acc[0] = acc[0] + float(s[0]); }
void CScaleImage8::AccumulateWeighted(float* acc, const uint8_t* s, float weight) const {
  acc[0] = acc[0] + float(s[0]) * weight;
}
void CScaleImage8::Store(uint8_t* dest, const float* acc, float total) const { dest[0] = storeChannel(acc[0], total); }

void CScaleImageCH::SetImages(const TChannel* source, TChannel* dest) {
  src = source;
  dst = dest;
  refreshSizes();
}

void CScaleImageCH::refreshSizes() {
  sourceSize = src && src->IsAllocated() ? src->size() : Size{};
  destSize = dst && dst->IsAllocated() ? dst->size() : Size{};
}

const uint8_t* CScaleImageCH::SourcePixel(int32_t x, int32_t y) { return src->PixelAddress(x, y); }
uint8_t* CScaleImageCH::DestPixel(int32_t x, int32_t y) { return dst->PixelAddress(x, y); }

bool CScaleImageCH::resampleCells(const ScaleCell* columns, const ScaleCell* rows, Area dest, uint32_t emptyColour) {
  const TChannel& s = *src;
  const auto rowOf = [&s](int32_t y) { return static_cast<const uint8_t*>(s.Row(y)); };
  for (int32_t j = 0; j < dest.height; ++j) {
    uint8_t* d = dst->Row(dest.y + j) + dest.x;
    const ScaleCell& cy = rows[j];
    for (int32_t i = 0; i < dest.width; ++i) {
      const ScaleCell& cx = columns[i];
      d[i] = cx.count == 0 || cy.count == 0 ? uint8_t(emptyColour) : pixel1(rowOf, cx, cy);
    }
  }
  return true;
}

// ---- four channels between layer images ----

void CScaleLayerImage::SetImages(const CBlockVMTC* source, CBlockVMTC* dest) {
  src = source;
  dst = dest;
  refreshSizes();
}

void CScaleLayerImage::refreshSizes() {
  sourceSize = src && src->IsValid() ? src->size() : Size{};
  destSize = dst && dst->IsValid() ? dst->size() : Size{};
}

void CScaleLayerImage::Accumulate(float* acc, const uint8_t* s) const { accumulate4(acc, s); }
void CScaleLayerImage::AccumulateWeighted(float* acc, const uint8_t* s, float weight) const {
  accumulateWeighted4(acc, s, weight);
}
void CScaleLayerImage::Store(uint8_t* dest, const float* acc, float total) const { store4(dest, acc, total); }

const uint8_t* CScaleLayerImage::SourcePixel(int32_t x, int32_t y) {
  uniformPixel = src->PixelClamped(x, y);
  return reinterpret_cast<const uint8_t*>(&uniformPixel);
}

uint8_t* CScaleLayerImage::DestPixel(int32_t x, int32_t y) {
  return reinterpret_cast<uint8_t*>(dst->PixelAddressClamped(x, y));
}

bool CScaleLayerImage::resampleCells(const ScaleCell* columns, const ScaleCell* rows, Area dest, uint32_t emptyColour) {
  const CBlockVMTC* s = src;
  LayerOut out{*dst};
  return runCells4([s](int32_t y) { return LayerRow{s, y}; }, out, columns, rows, dest, emptyColour);
}

// ---- the rotated view ----

namespace {

// Angles, zooms and origins beyond these are broken input: the 16.16
// products below stay far inside 64 bits within them.
constexpr int32_t kMaxViewSide = 1 << 20;
constexpr double kMaxOrigin = 1e9;

bool viewArgumentsSound(const TMTC& view, const TMTC& composite, double zoom, double originX, double originY) {
  return view.IsAllocated() && composite.IsAllocated() && view.width <= kMaxViewSide && view.height <= kMaxViewSide &&
         zoom >= 1.0 / 256 && zoom <= 1024.0 && std::fabs(originX) <= kMaxOrigin && std::fabs(originY) <= kMaxOrigin;
}

}  // namespace

bool RenderRotatedSmooth(TMTC& view, const TMTC& composite, CScaleImageTMTC& scaler, uint32_t background,
                         float zoom, float angle, Area viewArea, double originX, double originY) {
  if (!viewArgumentsSound(view, composite, zoom, originX, originY) || !std::isfinite(angle) ||
      !view.ClipArea(viewArea))
    return false;
  scaler.SetImages(&composite, &view);
  const int64_t side = std::max<int64_t>(1, std::llround(65536.0 / double(zoom)));
  const int64_t sine = std::llround(std::sin(double(angle)) * 65536.0);
  const int64_t cosine = std::llround(std::cos(double(angle)) * 65536.0);
  const int64_t ox = std::llround(originX * 65536.0), oy = std::llround(originY * 65536.0);
  const int64_t limitX = int64_t(composite.width) << 16, limitY = int64_t(composite.height) << 16;
  const int32_t w = view.width, h = view.height;
  const uint32_t bg = opaque(background);
  const auto rowOf = [&composite](int32_t y) { return static_cast<const uint32_t*>(composite.Row(y)); };
  // Pixel centres relative to the view centre, in 16.16, scaled by the side:
  // ((v + ½ − size × ½) × 65536 × side) >> 16. One pixel to the right adds
  // exactly `side`, so the turned products grow by side × cosine and
  // side × sine: the sums below are the per-pixel formula, bit for bit.
  const auto scaled = [side](int32_t v, int32_t size) {
    return ((2 * int64_t(v) + 1 - size) * 32768 * side) >> 16;
  };
  const int64_t stepU = side * cosine, stepV = side * sine;
  // Footprints of at most one pixel wholly inside the composite (every zoom
  // from 1 up, away from the paper's edge) cover 2 × 2 pixels at most and
  // need no clipping: their cells, as makeCell would give them, without a branch.
  const bool small = side <= 65536;
  const float span = float(side) / 65536.0f;
  const auto quadInside = [&rowOf, side, span](int64_t x0, int64_t y0) {
    const int64_t fx = x0 & 0xFFFF, fy = y0 & 0xFFFF;
    const bool twoX = fx + side > 65536, twoY = fy + side > 65536;
    ScaleCell cx, cy;
    cx.first = int32_t(x0 >> 16);
    cx.count = twoX ? 2 : 1;
    cx.firstWeight = twoX ? float(65536 - fx) / 65536.0f : span;
    cx.lastWeight = twoX ? float(fx + side - 65536) / 65536.0f : span;
    cx.span = span;
    cy.first = int32_t(y0 >> 16);
    cy.count = twoY ? 2 : 1;
    cy.firstWeight = twoY ? float(65536 - fy) / 65536.0f : span;
    cy.lastWeight = twoY ? float(fy + side - 65536) / 65536.0f : span;
    cy.span = span;
    return pixel4Quad(rowOf, cx, cy);
  };
  inBands(viewArea, [&](const Area& band) {
    for (int32_t vy = band.y; vy < band.bottom(); ++vy) {
      uint32_t* out = view.Row(vy);
      const int64_t sx = scaled(viewArea.x, w), sy = scaled(vy, h);
      int64_t u = sx * cosine - sy * sine, v = sx * sine + sy * cosine;
      for (int32_t vx = viewArea.x; vx < viewArea.right(); ++vx, u += stepU, v += stepV) {
        const int64_t x0 = ox + (u >> 16) - (side >> 1), y0 = oy + (v >> 16) - (side >> 1);
        if (small && x0 >= 0 && y0 >= 0 && x0 + side <= limitX && y0 + side <= limitY) {
          out[vx] = quadInside(x0, y0);
          continue;
        }
        const ScaleCell cx = makeCell(x0, x0 + side, limitX);
        const ScaleCell cy = makeCell(y0, y0 + side, limitY);
        if (cx.count == 0 || cy.count == 0) {
          out[vx] = bg;
        } else if (cx.count <= 2 && cy.count <= 2) {
          out[vx] = pixel4Quad(rowOf, cx, cy);
        } else {
          out[vx] = pixel4Any(rowOf, cx, cy);
        }
      }
    }
  });
  return true;
}

bool RenderRotatedNearest(const TMTC& composite, TMTC& view, double originX, double originY, float inverseZoom,
                          float angle, Area viewArea, uint32_t background) {
  if (!(inverseZoom > 0.0f) ||
      !viewArgumentsSound(view, composite, 1.0 / double(inverseZoom), originX, originY) || !std::isfinite(angle) ||
      !view.ClipArea(viewArea))
    return false;
  // Moving one view pixel right moves (a, b) on the paper; one down, (−b, a).
  const int64_t a = std::llround(std::cos(double(angle)) * double(inverseZoom) * 65536.0);
  const int64_t b = std::llround(std::sin(double(angle)) * double(inverseZoom) * 65536.0);
  const int64_t ox = std::llround(originX * 65536.0), oy = std::llround(originY * 65536.0);
  const uint64_t limitX = uint64_t(composite.width) << 16, limitY = uint64_t(composite.height) << 16;
  const int32_t cx = view.width / 2, cy = view.height / 2;
  const uint32_t bg = opaque(background);
  inBands(viewArea, [&](const Area& band) {
    for (int32_t vy = band.y; vy < band.bottom(); ++vy) {
      uint32_t* out = view.Row(vy);
      const int64_t dx = int64_t(viewArea.x) - cx, dy = int64_t(vy) - cy;
      int64_t px = ox + dx * a - dy * b;
      int64_t py = oy + dx * b + dy * a;
      for (int32_t vx = viewArea.x; vx < viewArea.right(); ++vx, px += a, py += b) {
        // Negative positions wrap to huge unsigned values and fail the test as well.
        out[vx] = uint64_t(px) < limitX && uint64_t(py) < limitY ? composite.Row(int32_t(py >> 16))[px >> 16] : bg;
      }
    }
  });
  return true;
}

}  // namespace vl
