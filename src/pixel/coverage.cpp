#include "pixel/coverage.h"

#include <cmath>
#include <cstdlib>

namespace vl {

namespace detail {

bool discRange(int32_t w, int32_t h, float cx, float cy, float r, DiscRange& out) {
  if (w <= 0 || h <= 0) return false;
  if (!std::isfinite(cx) || !std::isfinite(cy) || !std::isfinite(r) || !(r > 0.0f)) return false;
  // Clipped before any loop, so far-off or huge discs cost nothing.
  int64_t x0 = truncToInt(double(cx) - r), x1 = truncToInt(double(cx) + r);
  int64_t y0 = truncToInt(double(cy) - r), y1 = truncToInt(double(cy) + r);
  x0 = std::max<int64_t>(x0, 0);
  y0 = std::max<int64_t>(y0, 0);
  x1 = std::min<int64_t>(x1, w - 1);
  y1 = std::min<int64_t>(y1, h - 1);
  if (x0 > x1 || y0 > y1) return false;
  out = {int32_t(x0), int32_t(y0), int32_t(x1), int32_t(y1)};
  return true;
}

}  // namespace detail

namespace {

using detail::makeSpan;
using detail::Span;

template <CoverMode M>
inline void put(uint8_t& p, int t, uint8_t v) {
  if constexpr (M == CoverMode::Blend) {
    p = blendByte(p, v, t);
  } else if constexpr (M == CoverMode::Maximum) {
    int c = mul8(t, v);
    if (c > p) p = uint8_t(c);
  } else {
    p = uint8_t(mul8(t, v));
  }
}

int strengthByte(float s) {
  if (!(s > 0.0f)) return 0;  // NaN too
  if (s >= 1.0f) return 255;
  return truncToInt(s * 255.0f);
}

template <bool Soft, CoverMode M>
void disc(TChannel& ch, float cx, float cy, float r, int s, uint8_t v) {
  detail::forEachDiscCell<5, Soft>(
      ch.width, ch.height, cx, cy, r, [&ch](int32_t y) { return ch.Row(y); },
      [s, v](uint8_t& p, int cov) { put<M>(p, mul8(cov, s), v); });
}

template <bool Soft>
void discAnyMode(TChannel& ch, float cx, float cy, float r, float strength, uint8_t v, CoverMode mode) {
  if (!ch.IsAllocated()) return;
  const int s = strengthByte(strength);
  if (s == 0) return;
  switch (mode) {
    case CoverMode::Blend:
      disc<Soft, CoverMode::Blend>(ch, cx, cy, r, s, v);
      break;
    case CoverMode::Maximum:
      disc<Soft, CoverMode::Maximum>(ch, cx, cy, r, s, v);
      break;
    case CoverMode::Set:
      disc<Soft, CoverMode::Set>(ch, cx, cy, r, s, v);
      break;
  }
}

template <CoverMode M, class At>
void walkSpan(const Span& s, uint8_t v, At at) {
  detail::forEachSpanCell(s, [&](int32_t p, int cov) { put<M>(at(p), cov, v); });
}

template <class At>
void walkSpanAnyMode(const Span& s, uint8_t v, CoverMode mode, At at) {
  switch (mode) {
    case CoverMode::Blend:
      walkSpan<CoverMode::Blend>(s, v, at);
      break;
    case CoverMode::Maximum:
      walkSpan<CoverMode::Maximum>(s, v, at);
      break;
    case CoverMode::Set:
      walkSpan<CoverMode::Set>(s, v, at);
      break;
  }
}

}  // namespace

void stampDisc(TChannel& ch, float cx, float cy, float r, float strength, uint8_t value, CoverMode mode) {
  discAnyMode<false>(ch, cx, cy, r, strength, value, mode);
}

void stampSoftDisc(TChannel& ch, float cx, float cy, float r, float strength, uint8_t value, CoverMode mode) {
  discAnyMode<true>(ch, cx, cy, r, strength, value, mode);
}

void stampSpanH(TChannel& ch, int32_t y, double a, double b, uint8_t value, CoverMode mode) {
  Span s;
  if (!ch.IsAllocated() || y < 0 || y >= ch.height || !makeSpan(a, b, ch.width, s)) return;
  uint8_t* row = ch.Row(y);
  walkSpanAnyMode(s, value, mode, [row](int32_t x) -> uint8_t& { return row[x]; });
}

void stampSpanV(TChannel& ch, int32_t x, double a, double b, uint8_t value, CoverMode mode) {
  Span s;
  if (!ch.IsAllocated() || x < 0 || x >= ch.width || !makeSpan(a, b, ch.height, s)) return;
  walkSpanAnyMode(s, value, mode,
                  [px = ch.pixels, rows = ch.rows, x](int32_t y) -> uint8_t& { return px[rows[y] + x]; });
}

// ---- Polygon coverage ----
//
// Two passes: rows sampled on four horizontal lines each, columns on four
// vertical lines each; every pixel keeps the larger coverage. An edge is
// antialiased by the pass that crosses it steeply; the other pass pulls the
// span end inward by half the edge's run so the two do not add up to a
// blurred edge.

namespace {

// One edge seen by one pass: u is the coordinate along the pass's scan lines
// (y for rows), w the coordinate that is found (x for rows).
struct PassEdge {
  double u1, w1;  // start, with the larger u lowered by 0.01
  double du, dw;  // u2 − u1, w2 − w1 (after lowering)
  double lo, hi;  // u range
  double run;     // |dw ÷ du|
  bool pullIn;    // ends move inward by run ÷ 2 in this pass
  int32_t index;  // edge order: ties of the crossing sort keep it
};

struct Crossing {
  double w;
  double run;
  bool pullIn;
  int32_t index;
};

// Builds the pass edges; rows = true for the row pass. Edges along the scan
// lines are dropped.
int32_t buildPass(const Point* v, int32_t n, bool rows, PassEdge* out) {
  int32_t count = 0;
  for (int32_t k = 0; k + 1 < n; ++k) {
    const Point p = v[k], q = v[k + 1];
    const int64_t adx = std::abs(int64_t(q.x) - p.x), ady = std::abs(int64_t(q.y) - p.y);
    const bool flat = adx >= ady;  // one test for both passes
    double u1 = rows ? p.y : p.x, u2 = rows ? q.y : q.x;
    const double w1 = rows ? p.x : p.y, w2 = rows ? q.x : q.y;
    if (u1 == u2) continue;
    if (u1 > u2)
      u1 -= 0.01;
    else
      u2 -= 0.01;
    PassEdge& e = out[count++];
    e.u1 = u1;
    e.w1 = w1;
    e.du = u2 - u1;
    e.dw = w2 - w1;
    e.lo = std::min(u1, u2);
    e.hi = std::max(u1, u2);
    e.run = std::abs(e.dw / e.du);
    e.pullIn = rows ? flat : !flat;
    e.index = k;
  }
  std::sort(out, out + count,
            [](const PassEdge& a, const PassEdge& b) { return a.lo < b.lo || (a.lo == b.lo && a.index < b.index); });
  return count;
}

// Sweeps lines first … last (rows or columns); write(line, a, b) gets each span.
template <class Write>
void sweep(PassEdge* edges, int32_t count, int32_t first, int32_t last, double limit, int32_t* active, Crossing* cross,
           Write write) {
  int32_t next = 0, nActive = 0;
  for (int32_t line = first; line <= last; ++line) {
    const double base = line;
    while (next < count && edges[next].lo <= base + 0.75) active[nActive++] = next++;
    int32_t keep = 0, nCross = 0;
    for (int32_t i = 0; i < nActive; ++i) {
      const PassEdge& e = edges[active[i]];
      if (e.hi < base) continue;  // behind the sweep for good
      active[keep++] = active[i];
      double sum = 0;
      int hits = 0;
      for (double q : {0.0, 0.25, 0.5, 0.75}) {
        const double s = base + q;
        if (s >= e.lo && s <= e.hi) {
          sum += e.w1 + (s - e.u1) * e.dw / e.du;
          ++hits;
        }
      }
      if (hits > 0) cross[nCross++] = {sum / hits, e.run, e.pullIn, e.index};
    }
    nActive = keep;
    // Same order as a stable sort by position of the crossings in edge order.
    std::sort(cross, cross + nCross,
              [](const Crossing& a, const Crossing& b) { return a.w < b.w || (a.w == b.w && a.index < b.index); });
    for (int32_t i = 0; i + 1 < nCross; i += 2) {
      double a = std::max(0.0, cross[i].w);
      double b = std::min(limit, cross[i + 1].w);
      if (cross[i].pullIn) a += cross[i].run / 2;
      if (cross[i + 1].pullIn) b -= cross[i + 1].run / 2;
      if (b > a) write(line, a, b);
    }
  }
}

}  // namespace

bool polygonCoverage(TChannel& ch, const Point* pts, int32_t count) {
  if (!ch.IsAllocated() || count < 0 || (count > 0 && pts == nullptr)) return false;
  if (count < 4) return true;
  // Working memory: the cleaned vertices, both passes' edges, the active
  // lists and the crossings. A line meets each edge at most once, so the
  // crossing list can never overflow.
  const int64_t n = count;
  const int64_t pointBytes = checkedBytes(sizeof(Point), n);
  const int64_t edgeBytes = checkedBytes(sizeof(PassEdge), n);
  const int64_t indexBytes = checkedBytes(sizeof(int32_t), n);
  const int64_t crossBytes = checkedBytes(sizeof(Crossing), n);
  if (pointBytes < 0 || edgeBytes < 0 || indexBytes < 0 || crossBytes < 0) return false;
  Block pointBlock = TryAlloc(uint64_t(pointBytes));
  Block rowEdgeBlock = TryAlloc(uint64_t(edgeBytes));
  Block colEdgeBlock = TryAlloc(uint64_t(edgeBytes));
  Block activeBlock = TryAlloc(uint64_t(indexBytes));
  Block crossBlock = TryAlloc(uint64_t(crossBytes));
  if (!pointBlock || !rowEdgeBlock || !colEdgeBlock || !activeBlock || !crossBlock) return false;
  auto* v = reinterpret_cast<Point*>(pointBlock.get());
  auto* rowEdges = reinterpret_cast<PassEdge*>(rowEdgeBlock.get());
  auto* colEdges = reinterpret_cast<PassEdge*>(colEdgeBlock.get());
  auto* active = reinterpret_cast<int32_t*>(activeBlock.get());
  auto* cross = reinterpret_cast<Crossing*>(crossBlock.get());

  // Clean-up: no vertex equal to its successor.
  int32_t m = 0;
  for (int32_t k = 0; k < count; ++k)
    if (m == 0 || !(pts[k] == v[m - 1])) v[m++] = pts[k];
  if (m < 4) return true;

  // Bounds, clipped to the channel. Lines outside the vertices' range meet no
  // edge, so the true extremes lose nothing.
  int32_t minX = v[0].x, maxX = v[0].x, minY = v[0].y, maxY = v[0].y;
  for (int32_t k = 1; k < m; ++k) {
    minX = std::min(minX, v[k].x);
    maxX = std::max(maxX, v[k].x);
    minY = std::min(minY, v[k].y);
    maxY = std::max(maxY, v[k].y);
  }
  const int32_t x0 = std::max(minX, 0), x1 = std::min(maxX, ch.width - 1);
  const int32_t y0 = std::max(minY, 0), y1 = std::min(maxY, ch.height - 1);
  if (x0 > x1 || y0 > y1) return true;

  const int32_t nRow = buildPass(v, m, true, rowEdges);
  const int32_t nCol = buildPass(v, m, false, colEdges);
  Span s;
  sweep(rowEdges, nRow, y0, y1, ch.width, active, cross, [&](int32_t y, double a, double b) {
    if (!makeSpan(a, b, ch.width, s)) return;
    uint8_t* row = ch.Row(y);
    walkSpan<CoverMode::Maximum>(s, 255, [row](int32_t x) -> uint8_t& { return row[x]; });
  });
  sweep(colEdges, nCol, x0, x1, ch.height, active, cross, [&](int32_t x, double a, double b) {
    if (!makeSpan(a, b, ch.height, s)) return;
    walkSpan<CoverMode::Maximum>(
        s, 255, [px = ch.pixels, rows = ch.rows, x](int32_t y) -> uint8_t& { return px[rows[y] + x]; });
  });
  return true;
}

}  // namespace vl
