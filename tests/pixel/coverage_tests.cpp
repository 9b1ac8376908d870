#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "pixel/coverage.h"
#include "pixel/random_state.h"

namespace vl {
namespace {

// A channel of w × h filled with one value.
struct Chan : TChannel {
  Chan(int32_t w, int32_t h, uint8_t fill = 0) : TChannel(w, h) { Fill(fill); }
};

bool allEqual(const TChannel& c, uint8_t v) {
  for (int32_t y = 0; y < c.height; ++y)
    for (int32_t x = 0; x < c.width; ++x)
      if (c.At(x, y) != v) return false;
  return true;
}

uint64_t fnv(const TChannel& c) {
  uint64_t h = 1469598103934665603ull;
  for (int32_t y = 0; y < c.height; ++y)
    for (int32_t x = 0; x < c.width; ++x) h = (h ^ c.At(x, y)) * 1099511628211ull;
  return h;
}

// Sub-point count of every cell, without the corner short cut.
template <int N>
int referenceDisc(int32_t x, int32_t y, float cx, float cy, float r) {
  const float n = float(N), r2 = r * r * (n * n);
  const float left = float(x) * n - cx * n, top = float(y) * n - cy * n;
  int inside = 0;
  for (int j = 0; j < N; ++j)
    for (int i = 0; i < N; ++i) {
      float sx = left + (float(i) + 0.5f), sy = top + (float(j) + 0.5f);
      inside += (sx * sx + sy * sy < r2) ? 1 : 0;
    }
  return inside * 255 / (N * N);
}

struct DiscCase {
  float cx, cy, r;
};
const DiscCase kDiscs[] = {
    {10.5f, 10.5f, 0.5f},  {10.0f, 10.0f, 1.0f},  {10.3f, 9.7f, 2.9f},  {10.3f, 9.7f, 3.0f},  {10.3f, 9.7f, 3.01f},
    {12.21f, 11.9f, 7.3f}, {20.0f, 20.0f, 16.0f}, {-3.4f, 30.2f, 9.6f}, {38.9f, -1.2f, 6.1f},
};

TEST(CoverageDisc, MatchesSubPointCountEverywhere) {
  for (const auto& d : kDiscs) {
    SCOPED_TRACE(testing::Message() << d.cx << "," << d.cy << " r " << d.r);
    Chan c(40, 40);
    stampDisc(c, d.cx, d.cy, d.r, 1.0f, 255, CoverMode::Maximum);
    for (int32_t y = 0; y < 40; ++y)
      for (int32_t x = 0; x < 40; ++x) ASSERT_EQ(c.At(x, y), referenceDisc<5>(x, y, d.cx, d.cy, d.r)) << x << "," << y;

    TMTC m(40, 40);
    m.Fill(0);
    stampDisc32(m, d.cx, d.cy, d.r, [](uint32_t& p, int cov) { p = uint32_t(cov) + 0x100u; });
    for (int32_t y = 0; y < 40; ++y)
      for (int32_t x = 0; x < 40; ++x) {
        int want = referenceDisc<4>(x, y, d.cx, d.cy, d.r);
        ASSERT_EQ(m.At(x, y), want ? uint32_t(want) + 0x100u : 0u) << x << "," << y;  // called only when covered
      }
  }
}

TEST(CoverageDisc, ExactSmallDiscs) {
  // Radius ½ at a pixel centre: 21 of 25 sub-points (the corners miss), 12 of 16 on the 32-bit disc.
  Chan c(12, 12);
  stampDisc(c, 5.5f, 5.5f, 0.5f, 1.0f, 255, CoverMode::Maximum);
  EXPECT_EQ(c.At(5, 5), 214);
  c.Row(5)[5] = 0;
  EXPECT_TRUE(allEqual(c, 0));

  TMTC m(12, 12);
  m.Fill(0);
  int calls = 0;
  stampDisc32(m, 5.5f, 5.5f, 0.5f, [&](uint32_t& p, int cov) { ++calls, p = uint32_t(cov); });
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(m.At(5, 5), 191u);

  // Large disc: the centre's cells are whole, far cells untouched.
  Chan big(64, 64);
  stampDisc(big, 32.0f, 32.0f, 20.0f, 1.0f, 255, CoverMode::Maximum);
  EXPECT_EQ(big.At(31, 31), 255);
  EXPECT_EQ(big.At(32, 45), 255);
  EXPECT_EQ(big.At(32, 10), 0);
  EXPECT_EQ(big.At(5, 5), 0);
}

TEST(CoverageDisc, ModesAndStrength) {
  // Full coverage at strength ½ becomes t = 127.
  Chan c(32, 32, 0);
  stampDisc(c, 16.0f, 16.0f, 8.0f, 0.5f, 255, CoverMode::Blend);
  EXPECT_EQ(c.At(16, 16), 127);
  stampDisc(c, 16.0f, 16.0f, 8.0f, 1.0f, 40, CoverMode::Blend);
  EXPECT_EQ(c.At(16, 16), 40);  // full strength reaches the value

  // Maximum never lowers a pixel and raises covered ones to the coverage.
  Chan m(32, 32, 100);
  stampDisc(m, 16.2f, 15.7f, 9.0f, 1.0f, 255, CoverMode::Maximum);
  for (int32_t y = 0; y < 32; ++y)
    for (int32_t x = 0; x < 32; ++x) ASSERT_GE(m.At(x, y), 100);
  EXPECT_EQ(m.At(16, 16), 255);
  EXPECT_EQ(m.At(0, 0), 100);

  // Set overwrites covered pixels only.
  Chan set(32, 32, 200);
  stampDisc(set, 16.0f, 16.0f, 8.0f, 1.0f, 60, CoverMode::Set);
  EXPECT_EQ(set.At(16, 16), 60);
  EXPECT_EQ(set.At(0, 0), 200);
}

TEST(CoverageDisc, SymmetricAboutAPixelCentre) {
  for (bool soft : {false, true}) {
    for (float r : {2.2f, 6.7f, 11.0f}) {
      Chan c(33, 33);
      if (soft)
        stampSoftDisc(c, 16.5f, 16.5f, r, 1.0f, 255, CoverMode::Maximum);
      else
        stampDisc(c, 16.5f, 16.5f, r, 1.0f, 255, CoverMode::Maximum);
      for (int32_t y = 0; y < 33; ++y)
        for (int32_t x = 0; x < 33; ++x) {
          ASSERT_EQ(c.At(x, y), c.At(32 - x, y)) << soft << " " << r;
          ASSERT_EQ(c.At(x, y), c.At(x, 32 - y)) << soft << " " << r;
          ASSERT_EQ(c.At(x, y), c.At(y, x)) << soft << " " << r;
        }
    }
  }
}

TEST(CoverageDisc, SoftFadesToTheRim) {
  Chan c(41, 41);
  stampSoftDisc(c, 20.5f, 20.5f, 12.0f, 1.0f, 255, CoverMode::Maximum);
  EXPECT_EQ(c.At(20, 20), 255);  // d = 0
  for (int32_t x = 21; x < 41; ++x) ASSERT_LE(c.At(x, 20), c.At(x - 1, 20));
  EXPECT_EQ(c.At(31, 20), 40);
  EXPECT_EQ(c.At(33, 20), 0);
  // Pixel 26 is 6 px from the centre (30 fifth-pixels): 255 − 900 × 255 ÷ 3600 = 191.
  EXPECT_EQ(c.At(26, 20), 191);
}

TEST(CoverageDisc, UnusableArgumentsDrawNothing) {
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  const float bad[][4] = {
      {10, 10, 0, 1}, {10, 10, -3, 1},  {10, 10, nan, 1}, {10, 10, inf, 1},     {nan, 10, 5, 1},     {10, inf, 5, 1},
      {10, 10, 5, 0}, {10, 10, 5, nan}, {1e9f, 10, 5, 1}, {-1e9f, -1e9f, 5, 1}, {10, 3e9f, 1e6f, 1},
  };
  for (const auto& b : bad) {
    Chan c(20, 20, 7);
    stampDisc(c, b[0], b[1], b[2], b[3], 255, CoverMode::Maximum);
    stampSoftDisc(c, b[0], b[1], b[2], b[3], 255, CoverMode::Set);
    EXPECT_TRUE(allEqual(c, 7)) << b[0] << " " << b[1] << " " << b[2] << " " << b[3];
  }
  TChannel empty;
  stampDisc(empty, 1, 1, 5, 1, 255, CoverMode::Maximum);  // no buffer: no crash
}

TEST(CoverageDisc, HugeRadiusIsClippedToTheChannel) {
  Chan c(50, 30);
  stampDisc(c, 25.0f, 15.0f, 1e8f, 1.0f, 255, CoverMode::Maximum);
  EXPECT_TRUE(allEqual(c, 255));
  c.Fill(0);
  stampSoftDisc(c, -1e6f, 15.0f, 1e7f, 1.0f, 255, CoverMode::Maximum);
  EXPECT_GT(c.At(0, 0), 200);
}

// ---- Spans ----

struct SpanCase {
  double a, b;
  uint8_t want[8];
};
const SpanCase kSpans[] = {
    // End fractions count the sub-positions strictly inside: a start at ¾ covers
    // 47/64, an end at ½ 32/64, a start at ½ 31/64.
    {2.25, 5.5, {0, 0, 187, 255, 255, 127, 0, 0}}, {1.0, 3.0, {0, 251, 255, 0, 0, 0, 0, 0}},
    {3.25, 3.75, {0, 0, 0, 123, 0, 0, 0, 0}},      {-5.0, 2.5, {255, 255, 127, 0, 0, 0, 0, 0}},
    {6.5, 1e12, {0, 0, 0, 0, 0, 0, 123, 255}},     {4.0, 4.0, {0, 0, 0, 0, 0, 0, 0, 0}},
    {5.0, 2.0, {0, 0, 0, 0, 0, 0, 0, 0}},
};

TEST(CoverageSpan, EndPixelsTakeTheirFraction) {
  for (const auto& s : kSpans) {
    SCOPED_TRACE(testing::Message() << s.a << " … " << s.b);
    Chan h(8, 3), v(3, 8);
    stampSpanH(h, 1, s.a, s.b, 255, CoverMode::Maximum);
    stampSpanV(v, 2, s.a, s.b, 255, CoverMode::Maximum);
    for (int32_t i = 0; i < 8; ++i) {
      EXPECT_EQ(h.At(i, 1), s.want[i]) << i;
      EXPECT_EQ(v.At(2, i), s.want[i]) << i;
      EXPECT_EQ(h.At(i, 0) | h.At(i, 2) | v.At(0, i) | v.At(1, i), 0);
    }
  }
}

TEST(CoverageSpan, Modes) {
  Chan c(8, 1, 200);
  stampSpanH(c, 0, 2.25, 5.5, 255, CoverMode::Maximum);
  EXPECT_EQ(c.At(2, 0), 200);
  EXPECT_EQ(c.At(3, 0), 255);
  stampSpanH(c, 0, 2.25, 5.5, 255, CoverMode::Set);
  EXPECT_EQ(c.At(2, 0), 187);
  EXPECT_EQ(c.At(5, 0), 127);
  EXPECT_EQ(c.At(1, 0), 200);  // uncovered pixels are left alone
  EXPECT_EQ(c.At(6, 0), 200);
  stampSpanH(c, 0, 2.25, 5.5, 0, CoverMode::Blend);
  EXPECT_EQ(c.At(3, 0), 0);
  EXPECT_EQ(c.At(6, 0), 200);
}

TEST(CoverageSpan, OutsideOrUnusableIsIgnored) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Chan c(8, 4, 9);
  stampSpanH(c, -1, 0, 8, 255, CoverMode::Set);
  stampSpanH(c, 4, 0, 8, 255, CoverMode::Set);
  stampSpanV(c, 8, 0, 4, 255, CoverMode::Set);
  stampSpanH(c, 0, nan, 5, 255, CoverMode::Set);
  stampSpanH(c, 0, -1e300, -50, 255, CoverMode::Set);
  stampSpanV(c, 0, 1e300, 1e301, 255, CoverMode::Set);
  EXPECT_TRUE(allEqual(c, 9));
}

// ---- Polygons ----

// Everything 255 inside [x0, x1) × [y0, y1) except the top-left corner pixel
// (251: the sub-position on a span's start is outside), 0 elsewhere.
void expectSquare(const TChannel& c, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  for (int32_t y = 0; y < c.height; ++y)
    for (int32_t x = 0; x < c.width; ++x) {
      int want = (x >= x0 && x < x1 && y >= y0 && y < y1) ? 255 : 0;
      if (x == x0 && y == y0) want = 251;
      ASSERT_EQ(c.At(x, y), want) << x << "," << y;
    }
}

TEST(CoveragePolygon, AxisAlignedSquares) {
  const int32_t lo = std::numeric_limits<int32_t>::min(), hi = std::numeric_limits<int32_t>::max();
  struct Case {
    std::vector<Point> pts;
    int32_t x0, y0, x1, y1;
  } cases[] = {
      {{{10, 10}, {20, 10}, {20, 20}, {10, 20}, {10, 10}}, 10, 10, 20, 20},
      {{{10, 10}, {10, 20}, {20, 20}, {20, 10}, {10, 10}}, 10, 10, 20, 20},                      // other winding
      {{{10, 10}, {10, 10}, {20, 10}, {20, 20}, {20, 20}, {10, 20}, {10, 10}}, 10, 10, 20, 20},  // repeats
      {{{-1000000000, -1000000000},
        {1000000000, -1000000000},
        {1000000000, 1000000000},
        {-1000000000, 1000000000},
        {-1000000000, -1000000000}},
       0,
       0,
       30,
       24},
      {{{lo, lo}, {hi, lo}, {hi, hi}, {lo, hi}, {lo, lo}}, 0, 0, 30, 24},
      {{{25, 20}, {40, 20}, {40, 40}, {25, 40}, {25, 20}}, 25, 20, 30, 24},  // cut by the right and bottom edges
  };
  for (const auto& k : cases) {
    Chan c(30, 24);
    EXPECT_TRUE(polygonCoverage(c, k.pts.data(), int32_t(k.pts.size())));
    expectSquare(c, k.x0, k.y0, k.x1, k.y1);
  }
}

TEST(CoveragePolygon, DegenerateDrawsNothing) {
  std::vector<std::vector<Point>> cases = {
      {},
      {{3, 3}},
      {{3, 3}, {9, 9}, {3, 3}},
      {{3, 3}, {3, 3}, {9, 9}, {9, 9}, {3, 3}},  // two corners after clean-up
      {{5, 5}, {5, 5}, {5, 5}, {5, 5}},
      {{0, 5}, {10, 5}, {5, 5}, {0, 5}},                 // flat along a row
      {{5, 0}, {5, 10}, {5, 4}, {5, 0}},                 // flat along a column
      {{1, 1}, {9, 9}, {4, 4}, {1, 1}},                  // diagonal line
      {{1, 2}, {13, 6}, {7, 4}, {1, 2}},                 // shallow line
      {{100, 100}, {140, 100}, {140, 150}, {100, 100}},  // off the channel
      {{-50, -50}, {-10, -50}, {-10, -5}, {-50, -50}},
  };
  for (const auto& pts : cases) {
    Chan c(20, 20);
    EXPECT_TRUE(polygonCoverage(c, pts.data(), int32_t(pts.size())));
    EXPECT_TRUE(allEqual(c, 0)) << pts.size();
  }
  Chan c(20, 20);
  EXPECT_FALSE(polygonCoverage(c, nullptr, 5));
  EXPECT_FALSE(polygonCoverage(c, nullptr, -1));
  TChannel empty;
  Point tri[] = {{0, 0}, {5, 0}, {0, 5}, {0, 0}};
  EXPECT_FALSE(polygonCoverage(empty, tri, 4));
}

TEST(CoveragePolygon, TransposedPolygonGivesTransposedCoverage) {
  // No edge at 45°, so each edge is antialiased by the pass that crosses it steeply.
  std::vector<Point> pts = {{3, 2}, {20, 5}, {17, 19}, {6, 14}, {12, 9}, {3, 2}};
  std::vector<Point> swapped;
  for (Point p : pts) swapped.push_back({p.y, p.x});
  Chan a(24, 24), b(24, 24);
  polygonCoverage(a, pts.data(), int32_t(pts.size()));
  polygonCoverage(b, swapped.data(), int32_t(swapped.size()));
  int partial = 0;
  for (int32_t y = 0; y < 24; ++y)
    for (int32_t x = 0; x < 24; ++x) {
      ASSERT_EQ(a.At(x, y), b.At(y, x)) << x << "," << y;
      partial += a.At(x, y) > 0 && a.At(x, y) < 255;
    }
  EXPECT_GT(partial, 20);  // edges are antialiased
  EXPECT_EQ(a.At(12, 10), 255);
  EXPECT_EQ(a.At(1, 20), 0);
}

TEST(CoveragePolygon, DiagonalEdgesAreAntialiasedOnce) {
  // Edges at 45° count as flat in both passes: pulled in by the rows,
  // antialiased by the columns, so every row of the diamond has one partial
  // pixel at each side, neither empty nor full.
  Point diamond[] = {{16, 2}, {30, 16}, {16, 30}, {2, 16}, {16, 2}};
  Chan c(32, 32);
  polygonCoverage(c, diamond, 5);
  for (int32_t y = 4; y < 28; ++y) {
    int partial = 0, first = -1;
    for (int32_t x = 0; x < 32; ++x) {
      if (c.At(x, y) > 0 && first < 0) first = x;
      if (c.At(x, y) > 0 && c.At(x, y) < 255) {
        ++partial;
        EXPECT_GT(c.At(x, y), 64) << x << "," << y;
        EXPECT_LT(c.At(x, y), 192) << x << "," << y;
      }
    }
    EXPECT_EQ(partial, 2) << y;
    EXPECT_EQ(c.At(first + 1, y), 255) << y;
  }
}

TEST(CoveragePolygon, ManyCrossingsOnOneRow) {
  // A comb of 600 teeth: 1200 crossings on each row through the teeth.
  const int teeth = 600;
  std::vector<Point> pts = {{0, 8}};
  for (int t = 0; t < teeth; ++t) {
    pts.push_back({4 * t, 0});
    pts.push_back({4 * t + 2, 0});
    pts.push_back({4 * t + 2, 5});
    pts.push_back({4 * t + 4, 5});
  }
  pts.push_back({4 * teeth, 8});
  pts.push_back({0, 8});
  Chan c(4 * teeth + 4, 10);
  ASSERT_TRUE(polygonCoverage(c, pts.data(), int32_t(pts.size())));
  for (int t : {0, 300, teeth - 1}) {
    EXPECT_EQ(c.At(4 * t + 1, 2), 255) << t;
    EXPECT_EQ(c.At(4 * t + 3, 2), 0) << t;
    EXPECT_EQ(c.At(4 * t + 3, 6), 255) << t;
  }
}

TEST(CoveragePolygon, KeepsHigherValues) {
  Point tri[] = {{2, 2}, {17, 4}, {6, 16}, {2, 2}};
  Chan c(20, 20, 250);
  polygonCoverage(c, tri, 4);
  for (int32_t y = 0; y < 20; ++y)
    for (int32_t x = 0; x < 20; ++x) ASSERT_GE(c.At(x, y), 250);
  EXPECT_EQ(c.At(8, 8), 255);
}

// ---- Outline marking ----

TEST(CoverageOutline, MarksBorderAndPixelsNextToZero) {
  // Channel rows, top first. The hole's four neighbours each see it in one
  // direction only; 'e' marks the expected edges.
  const char* shape[] = {
      "######", "######", "##.###", "######", "######",
  };
  const char* edges[] = {
      "eeeeee", "e#e##e", "ee.e#e", "e#e##e", "eeeeee",
  };
  Chan c(6, 5);
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 6; ++x) c.Row(y)[x] = shape[y][x] == '#' ? 9 : 0;
  int calls = 0;
  // Clearing edges as they are found must not turn the interior into edges.
  EXPECT_TRUE(markOutline(c, [&](uint8_t& p, int edge) {
    ++calls;
    p = edge ? 0 : 1;
  }));
  EXPECT_EQ(calls, 29);
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 6; ++x) EXPECT_EQ(c.At(x, y), edges[y][x] == '#' ? 1 : 0) << x << "," << y;
  TChannel empty;
  EXPECT_FALSE(markOutline(empty, [](uint8_t&, int) {}));
}

// ---- Golden checksum ----

TEST(CoverageChecksum, SeededStampsAndPolygons) {
  Chan c(160, 120);
  RandomState rnd(20240611, 0, 1 << 16);
  auto unit = [&] { return float(rnd.draw()) / 65536.0f; };
  const CoverMode modes[] = {CoverMode::Blend, CoverMode::Maximum, CoverMode::Set};
  for (int i = 0; i < 60; ++i) {
    float cx = unit() * 180 - 10, cy = unit() * 140 - 10, r = unit() * 20;
    float s = unit();
    uint8_t v = uint8_t(rnd.draw() & 0xFF);
    CoverMode m = modes[rnd.draw() % 3];
    if (i % 2)
      stampSoftDisc(c, cx, cy, r, s, v, m);
    else
      stampDisc(c, cx, cy, r, s, v, m);
  }
  for (int i = 0; i < 30; ++i) {
    double a = unit() * 170 - 5, b = a + unit() * 40;
    if (i % 2)
      stampSpanH(c, rnd.draw() % 120, a, b, uint8_t(rnd.draw() & 0xFF), modes[i % 3]);
    else
      stampSpanV(c, rnd.draw() % 160, a, b, uint8_t(rnd.draw() & 0xFF), modes[i % 3]);
  }
  for (int i = 0; i < 8; ++i) {
    std::vector<Point> pts;
    int n = 3 + rnd.draw() % 10;
    for (int k = 0; k < n; ++k) pts.push_back({int32_t(rnd.draw() % 200) - 20, int32_t(rnd.draw() % 160) - 20});
    pts.push_back(pts.front());
    polygonCoverage(c, pts.data(), int32_t(pts.size()));
  }
  bool seen[256] = {};
  int distinct = 0;
  for (int32_t y = 0; y < c.height; ++y)
    for (int32_t x = 0; x < c.width; ++x) distinct += !seen[c.At(x, y)], seen[c.At(x, y)] = true;
  EXPECT_GT(distinct, 100);  // the scene exercises the arithmetic, not just 0 and 255
  EXPECT_EQ(fnv(c), 0x6af171e8b511ce3bull);
}

}  // namespace
}  // namespace vl
