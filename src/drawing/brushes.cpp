// What one dab of each brush kind does. The pen writes coverage only; the
// flow colour is rebuilt from it once per segment, so overlapping dabs never
// darken a stroke beyond its opacity.
#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "document/blend_modes.h"
#include "document/paper.h"
#include "drawing/brush_kinds.h"
#include "drawing/stroke.h"
#include "pixel/coverage.h"

namespace vl {
namespace {

// A span from left to right on one row (or column) of the coverage channel.
template <bool Rows>
void coverageSpan(TStroke& s, TChannel& ch, float left, float right, int32_t g, float w) {
  const int32_t limitLine = Rows ? ch.height : ch.width, limitAlong = Rows ? ch.width : ch.height;
  if (w == 0 || g < 0 || g >= limitLine) return;
  const float fl = std::floor(left), cr = std::ceil(right);
  const int64_t first = int64_t(fl), count = int64_t(cr) - first;
  if (count <= 0) return;
  // One pointer for the span: a row's bytes are adjacent, a column's one row apart.
  uint8_t* const line = Rows ? ch.Row(g) : ch.Row(0) + g;
  const ptrdiff_t step = Rows ? 1 : ch.height > 1 ? ch.Row(1) - ch.Row(0) : 0;
  const PixelChain& chain = s.chain;
  auto put = [&](int64_t p, int v) {
    const int32_t q = int32_t(p);
    chain.WriteCoverageAt(line[q * step], Rows ? q : g, Rows ? g : q, v);
  };
  if (count == 1) {
    if (first >= 0 && first < limitAlong) put(first, int(w * (right - left) * 255));
    return;
  }
  // Clipping keeps the inner pixels' full value: a span cut at the border
  // starts there at full strength.
  const int64_t last = first + count - 1;
  const int64_t from = std::max<int64_t>(first, 0), to = std::min<int64_t>(last, limitAlong - 1);
  if (from > to) return;
  int64_t p = from;
  if (p == first) put(p++, int(w * (fl + 1 - left) * 255));
  const int full = int(w * 255);
  const int64_t inner = std::min(to, last - 1);
  if (p <= inner) {
    const int32_t q = int32_t(p);
    chain.WriteCoverageRun(line + q * step, step, Rows ? q : g, Rows ? g : q, Rows, int32_t(inner - p + 1), full);
    p = inner + 1;
  }
  if (to == last) put(last, int(w * (1 - (cr - right)) * 255));
}

// A disc of radius r drawn as one-dimensional antialiased spans, row by row
// (or column by column with x and y exchanged).
template <bool Rows>
void spanDisc(TStroke& s, TChannel& ch, float x, float y, float r, float w) {
  const float along = Rows ? x : y, across = Rows ? y : x;
  if (r < 0.5f) {
    coverageSpan<Rows>(s, ch, along - r, along + r, int32_t(std::floor(across)), w / 2);
    return;
  }
  const int32_t limit = Rows ? ch.height : ch.width;
  const float lo = std::floor(across - r), hi = std::ceil(across + r) - 1;
  const int32_t o0 = std::max(int32_t(lo), int32_t(-1)), o1 = std::min(int32_t(hi), limit);
  for (int32_t o = o0; o <= o1; ++o) {
    float weight = w;
    if (float(o) == lo) {
      weight = w * (lo + 1 - (across - r));
    } else if (float(o) == hi) {
      weight = w * ((across + r) - hi);
    }
    const float d = float(o) - across;
    const float radicand = r * r - d * d;
    if (radicand <= 0) continue;
    const float h = std::sqrt(radicand);
    coverageSpan<Rows>(s, ch, along - h, along + h, o, weight);
  }
}

// Two-dimensionally antialiased disc at fifth-pixel resolution, for the first dabs.
void fifthDisc(TStroke& s, TChannel& ch, float x, float y, float size, int full) {
  const int32_t u = int32_t(5 * x), v = int32_t(5 * y);
  const int64_t t = int64_t(int32_t(5 * size)) * int32_t(5 * size);
  const int32_t bx0 = std::max(int32_t(x - size), 0), bx1 = std::min(int32_t(x + size), ch.width - 1);
  const int32_t by0 = std::max(int32_t(y - size), 0), by1 = std::min(int32_t(y + size), ch.height - 1);
  auto inside = [t](int64_t cx, int64_t cy) { return cx * cx + cy * cy < t; };
  for (int32_t py = by0; py <= by1; ++py) {
    uint8_t* row = ch.Row(py);  // the box is clipped already
    for (int32_t px = bx0; px <= bx1; ++px) {
      const int64_t cx = 5 * int64_t(px) - u, cy = 5 * int64_t(py) - v;
      const int corners = inside(cx, cy) + inside(cx + 5, cy) + inside(cx, cy + 5) + inside(cx + 5, cy + 5);
      if (size > 3) {
        if (corners == 4) {
          s.chain.WriteCoverageAt(row[px], px, py, full);
          continue;
        }
        if (corners == 0) continue;
      }
      int count = 0;
      for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j) count += inside(cx + j, cy + i);
      if (count) s.chain.WriteCoverageAt(row[px], px, py, full * count / 25);
    }
  }
}

void penDab(TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x) {
  TChannel& ch = flow.coverage;
  if (!ch.IsAllocated() || !(size > 0) || size > 1e5f) return;
  if (size < 3) {
    spanDisc<true>(s, ch, x, y, size, alpha);
    spanDisc<false>(s, ch, x, y, size, alpha);
  } else if (s.dabCount < 5) {
    fifthDisc(s, ch, x, y, size, int(alpha * 255));
  } else if (s.direction == 1) {
    spanDisc<false>(s, ch, x, y, size, alpha);  // travel along x: columns across it
  } else {
    spanDisc<true>(s, ch, x, y, size, alpha);
  }
}

// The oldest drawings' coverage disc: the pixel layer's disc of radius r,
// each pixel's coverage scaling the value, written through the chain with
// max-combine.
void legacyDisc(TStroke& s, TChannel& ch, float x, float y, float r, int value) {
  value = std::min(value, 255);
  if (value <= 0 || !(r > 0)) return;
  const PixelChain& chain = s.chain;
  forEachDiscPixel(ch, x, y, r, [&chain, value](uint8_t& p, int32_t px, int32_t py, int cov) {
    chain.WriteCoverageAt(p, px, py, mul8(cov, value));
  });
}

// The oldest drawings' pen: a disc, and for thin pens a line of half-length
// size across the travel (a column when the walk runs along x), measured in
// 1/64 pixel. Both carry the pressure as their value.
void legacyPenDab(TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x) {
  TChannel& ch = flow.coverage;
  if (!ch.IsAllocated()) return;
  const int value = std::clamp(truncToInt(alpha * 255), 0, 255);
  if (value == 0) return;
  if (size > 1) legacyDisc(s, ch, x, y, size, value);
  if (!(size < 8)) return;
  const PixelChain& chain = s.chain;
  if (s.direction == 1) {
    const float column = std::floor(x);
    if (!(column >= 0 && column < float(ch.width))) return;
    const int32_t cx = int32_t(column);
    forEachSpanCell(ch.height, double(y) - size, double(y) + size, [&](int32_t py, int cov) {
      chain.WriteCoverageAt(ch.Row(py)[cx], cx, py, mul8(cov, value));
    });
  } else {
    const float row = std::floor(y);
    if (!(row >= 0 && row < float(ch.height))) return;
    const int32_t ry = int32_t(row);
    uint8_t* line = ch.Row(ry);
    forEachSpanCell(ch.width, double(x) - size, double(x) + size,
                    [&](int32_t px, int cov) { chain.WriteCoverageAt(line[px], px, ry, mul8(cov, value)); });
  }
}

// Blur 2 over a rectangle whose layer pixels are in the flow already: a
// pixel of coverage c ≥ 2 takes the 3 × 3 average of the layer around it,
// the centre weighing 32 − min(c, 31) and each neighbour 1. Neighbours
// beyond the layer repeat its edge.
void reblur(const CBlockVMTC& src, TFlowImage& flow, const Area& rect) {
  const int32_t w = src.width, h = src.height;
  const int32_t x1 = std::min(rect.right(), w), y1 = std::min(rect.bottom(), h);
  for (int32_t y = rect.y; y < y1; ++y) {
    const uint8_t* cov = flow.coverage.Row(y);
    uint32_t* d = flow.colour.Row(y);
    for (int32_t x = rect.x; x < x1; ++x) {
      const int c = cov[x];
      if (c < 2) continue;
      const uint32_t centre = 32 - uint32_t(std::min(c, 31));
      uint32_t r = 0, g = 0, b = 0;
      for (int32_t j = -1; j <= 1; ++j)
        for (int32_t i = -1; i <= 1; ++i) {
          const uint32_t p = src.Pixel(std::clamp(x + i, 0, w - 1), std::clamp(y + j, 0, h - 1));
          const uint32_t weight = i == 0 && j == 0 ? centre : 1;
          r += weight * red(p), g += weight * green(p), b += weight * blue(p);
        }
      const uint32_t total = centre + 8;
      d[x] = blendRGBTable(d[x], makePixel(0, r / total, g / total, b / total), 255);
    }
  }
}

}  // namespace

void paintDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x) {
  // Points from files and packets may be absurd; such a dab paints nothing,
  // and within these bounds every pixel computation stays in range.
  if (!(size >= 0 && size < 1e5f && std::fabs(x) < 1e6f && std::fabs(y) < 1e6f)) return;
  // Every kind stays within its radius of the dab centre; one pixel more
  // covers the rounding of the span and disc edges.
  const Bounds box{int32_t(std::floor(x - size)) - 1, int32_t(std::floor(y - size)) - 1,
                   int32_t(std::ceil(x + size)) + 2, int32_t(std::ceil(y + size)) + 2};
  s.dabBounds = unite(s.dabBounds, box);
  flow.ForgetBlocks(Area(box));
  switch (s.kind) {
    case kBrushPen: penDab(flow, s, size, alpha, y, x); break;
    case kBrushWatercolour: watercolourDab(paper, flow, s, size, alpha, y, x); break;
    case kBrushBlur: blurDab(paper, flow, s, size, alpha, y, x); break;
    case kBrushEraser: eraserDab(paper, flow, s, size, alpha, y, x); break;
    case kBrushBlur2: break;  // re-blurs from its coverage, which only the oldest drawings write
    case kBrushAirbrush: airbrushDab(paper, flow, s, size, alpha, y, x); break;
    case kBrushSmudge: smudgeDab(paper, flow, s, size, alpha, y, x); break;
    case kBrushDarken:
    case kBrushLighten: lightnessDab(paper, flow, s, size, alpha, y, x); break;
    default: break;
  }
}

void paintLegacyDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float pressure, float y,
                    float x) {
  if (!(size >= 0 && size < 1e5f && std::fabs(x) < 1e6f && std::fabs(y) < 1e6f)) return;
  // Blur, eraser and blur 2 always reach the full width; the pen's line across
  // the travel reaches its size.
  const float reach = std::max(size, s.width);
  if (reach < 1e5f) {
    flow.ForgetBlocks(Area(Bounds{int32_t(std::floor(x - reach)) - 2, int32_t(std::floor(y - reach)) - 2,
                                  int32_t(std::ceil(x + reach)) + 3, int32_t(std::ceil(y + reach)) + 3}));
  } else {
    flow.ForgetBlocks(flow.colour.area());
  }
  switch (s.kind) {
    case kBrushPen: legacyPenDab(flow, s, size, alpha, y, x); break;
    case kBrushWatercolour: watercolourDab(paper, flow, s, size, alpha, y, x, WcSamples::Legacy); break;
    case kBrushBlur: blurDab(paper, flow, s, s.width, alpha, y, x); break;
    case kBrushEraser: legacyEraserDab(paper, flow, s, s.width, alpha, y, x); break;
    case kBrushBlur2: legacyDisc(s, flow.coverage, x, y, s.width, truncToInt(pressure * 32)); break;
    default: break;  // the later kinds paint nothing there
  }
}

namespace {

// The sum of a block's coverage bytes (the block clipped to the channel):
// at most 1024 × 255.
uint32_t coverageSum(const TChannel& ch, int32_t column, int32_t row) {
  const int32_t x0 = column << 5, y0 = row << 5;
  const int32_t w = std::min(32, ch.width - x0), h = std::min(32, ch.height - y0);
  uint32_t sum = 0;
#if defined(__SSE2__)
  if (w == 32) {
    __m128i total = _mm_setzero_si128();
    for (int32_t y = y0; y < y0 + h; ++y) {
      const auto* p = reinterpret_cast<const __m128i*>(ch.Row(y) + x0);
      total = _mm_add_epi64(total, _mm_add_epi64(_mm_sad_epu8(_mm_loadu_si128(p), _mm_setzero_si128()),
                                                 _mm_sad_epu8(_mm_loadu_si128(p + 1), _mm_setzero_si128())));
    }
    return uint32_t(_mm_cvtsi128_si64(total) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(total, total)));
  }
#endif
  for (int32_t y = y0; y < y0 + h; ++y) {
    const uint8_t* p = ch.Row(y) + x0;
    for (int32_t x = 0; x < w; ++x) sum += p[x];
  }
  return sum;
}

// The layer's own pixels over `rect`, then the coverage laid over them.
void rebuildArea(const CLayerData& layer, TFlowImage& flow, TStroke& s, Area rect, int O) {
  layer.pixels->ReadInto(flow.colour, {rect.x, rect.y}, false, 255, rect);
  if (s.kind == kBrushBlur2) {
    reblur(*layer.pixels, flow, rect);
    return;
  }
  const auto& mulO = MUL[std::clamp(O, 0, 255)];
  const bool locked = s.chain.lockAlpha();
  // The coverage met the mask and tone when it was written: only the
  // gradation is left before the final combine.
  if (s.chain.usesGradation()) {
    for (int32_t y = rect.y; y < rect.bottom(); ++y) {
      const uint8_t* c = flow.coverage.Row(y);
      uint32_t* d = flow.colour.Row(y);
      for (int32_t x = rect.x; x < rect.right(); ++x) {
        if (!c[x]) continue;
        int value = mul8(c[x], O);
        uint32_t colour = s.colour;
        s.chain.GradationStage(x, y, value, colour);
        if (value > 0) d[x] = combineFinal(d[x], colour, value, locked);
      }
    }
    return;
  }
  for (int32_t y = rect.y; y < rect.bottom(); ++y) {
    const uint8_t* c = flow.coverage.Row(y);
    uint32_t* d = flow.colour.Row(y);
    const int32_t done = overCoverageAvx2(d + rect.x, c + rect.x, rect.width, std::clamp(O, 0, 255), s.colour, locked);
    for (int32_t x = rect.x + done; x < rect.right(); ++x)
      if (c[x]) d[x] = combineFinal(d[x], s.colour, mulO[c[x]], locked);
  }
}

}  // namespace

void rebuildCoverage(TPaper& paper, TFlowImage& flow, TStroke& s, Area rect) {
  if (!brushTraits(s.kind).coverage) return;
  const CLayerData* layer = paper.layerAt(s.layerIndex);
  if (!layer || !layer->pixels || !flow.colour.IsAllocated() || !flow.colour.ClipArea(rect)) return;
  // Beyond a layer smaller than the buffer nothing is painted, so nothing
  // piles up there from one segment to the next.
  if (!clipArea(rect, layer->pixels->size())) return;
  const int O = s.EffectiveOpacity255(paper.drawGeneration == DrawGeneration::Legacy);
  // Whole blocks: the buffer's pixels are the layer under the coverage
  // however often that is laid, so a block whose coverage has not grown
  // since it was last rebuilt already holds what a rebuild would give.
  const Area inside(intersect(flow.colour.area().bounds(), Bounds{0, 0, layer->pixels->width, layer->pixels->height}));
  for (int32_t r = rect.y >> 5; r <= (rect.bottom() - 1) >> 5; ++r)
    for (int32_t c = rect.x >> 5; c <= (rect.right() - 1) >> 5; ++c) {
      const Area block(intersect(Area(c << 5, r << 5, 32, 32).bounds(), inside.bounds()));
      if (uint32_t* seen = r < flow.touchedDown && c < flow.touchedAcross ? flow.RebuiltSum(c, r) : nullptr) {
        const uint32_t sum = coverageSum(flow.coverage, c, r);
        if (sum == *seen) continue;
        *seen = sum;
      }
      rebuildArea(*layer, flow, s, block, O);
    }
}

}  // namespace vl
