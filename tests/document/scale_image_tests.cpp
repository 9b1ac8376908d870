#include "document/scale_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

#include "document/paper.h"
#include "platform/worker_pool.h"

namespace vl {
namespace {

struct Lcg {
  uint32_t s;
  uint32_t next() { return s = s * 1664525u + 1013904223u; }
};

void randomFill(TMTC& buf, uint32_t seed) {
  Lcg g{seed};
  for (int32_t y = 0; y < buf.height; ++y)
    for (int32_t x = 0; x < buf.width; ++x) buf.Row(y)[x] = g.next();
}

void randomFill(TChannel& buf, uint32_t seed) {
  Lcg g{seed};
  for (int32_t y = 0; y < buf.height; ++y)
    for (int32_t x = 0; x < buf.width; ++x) buf.Row(y)[x] = uint8_t(g.next() >> 24);
}

uint8_t channel(uint32_t p, int c) { return uint8_t(p >> (8 * c)); }

// The exact area average of a 16.16 footprint of one channel, in doubles.
template <class Read>
double exactAverage(const Read& read, int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
  double sum = 0, total = 0;
  for (int64_t y = y0 >> 16; (y << 16) < y1; ++y)
    for (int64_t x = x0 >> 16; (x << 16) < x1; ++x) {
      const double w = double(std::min(x1, (x + 1) << 16) - std::max(x0, x << 16)) *
                       double(std::min(y1, (y + 1) << 16) - std::max(y0, y << 16));
      sum += w * read(int32_t(x), int32_t(y));
      total += w;
    }
  return sum / total;
}

// The stored value of an exact average, unless the float sums could fall on
// either side of an integer.
bool storedAs(double exact, int got) {
  const double q = exact + 1.0 / 128;
  if (std::fabs(q - std::round(q)) < 1e-4) return got == int(std::floor(q)) || got == int(std::round(q)) - 1;
  return got == int(std::floor(q));
}

// ---- cells ----

TEST(ScaleCellTest, CoversPartialAndWholePixels) {
  struct Case {
    double a0, a1, limit;
    int32_t first, count;
    float firstWeight, lastWeight, span;
  } cases[] = {
      {1.25, 2.0, 10, 1, 1, 0.75f, 0.75f, 0.75f},    // ends on a border: one pixel
      {3.0, 3.8, 10, 3, 1, 0.8f, 0.8f, 0.8f},
      {0.5, 2.25, 10, 0, 3, 0.5f, 0.25f, 1.75f},     // partial, whole, partial
      {2.6, 3.4, 10, 2, 2, 0.4f, 0.4f, 0.8f},
      {-0.5, 0.5, 10, 0, 1, 0.5f, 0.5f, 0.5f},       // clipped on the left
      {9.5, 11.0, 10, 9, 1, 0.5f, 0.5f, 0.5f},       // and on the right
      {10.0, 11.0, 10, 0, 0, 0, 0, 0},               // outside
      {-2.0, 0.0, 10, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    const ScaleCell cell = MakeScaleCell(std::llround(c.a0 * 65536), std::llround(c.a1 * 65536),
                                         std::llround(c.limit * 65536));
    SCOPED_TRACE(std::to_string(c.a0) + " … " + std::to_string(c.a1));
    EXPECT_EQ(cell.count, c.count);
    if (c.count == 0) continue;
    EXPECT_EQ(cell.first, c.first);
    EXPECT_NEAR(cell.firstWeight, c.firstWeight, 1e-4);
    EXPECT_NEAR(cell.lastWeight, c.lastWeight, 1e-4);
    EXPECT_NEAR(cell.span, c.span, 1e-4);
  }
}

// ---- resampling ----

TEST(ScaleImageTest, SameSizeCopiesExactly) {
  TMTC src(40, 30), dst(50, 40);
  randomFill(src, 1);
  CScaleImageTMTC s(&src, &dst);
  ASSERT_TRUE(s.Resample(Area(5, 3, 27, 19), Area(11, 7, 27, 19)));
  EXPECT_EQ(s.stepX, 65536);
  EXPECT_EQ(s.stepY, 65536);
  for (int32_t y = 0; y < 19; ++y)
    for (int32_t x = 0; x < 27; ++x) ASSERT_EQ(dst.At(11 + x, 7 + y), src.At(5 + x, 3 + y)) << x << "," << y;

  TChannel c1(20, 20), c2(20, 20);
  randomFill(c1, 2);
  CScaleImageCH ch(&c1, &c2);
  ASSERT_TRUE(ch.Resample(c1.area(), c2.area()));
  for (int32_t y = 0; y < 20; ++y)
    for (int32_t x = 0; x < 20; ++x) ASSERT_EQ(c2.At(x, y), c1.At(x, y));
}

TEST(ScaleImageTest, HalvingTruncatesTheAverage) {
  TMTC src(2, 2), dst(1, 1);
  src.Row(0)[0] = 0x00000000u;
  src.Row(0)[1] = 0xFFFFFFFFu;
  src.Row(1)[0] = 0xFFFFFFFFu;
  src.Row(1)[1] = 0x00000000u;
  CScaleImageTMTC s(&src, &dst);
  ASSERT_TRUE(s.Resample(src.area(), dst.area()));
  EXPECT_EQ(dst.At(0, 0), 0x7F7F7F7Fu);  // trunc(510 ÷ 4) = 127 in every channel

  TChannel c1(2, 2), c2(1, 1);
  c1.Row(0)[0] = 0, c1.Row(0)[1] = 255, c1.Row(1)[0] = 255, c1.Row(1)[1] = 0;
  CScaleImageCH ch(&c1, &c2);
  ASSERT_TRUE(ch.Resample(c1.area(), c2.area()));
  EXPECT_EQ(c2.At(0, 0), 127);
}

TEST(ScaleImageTest, ClipsBothAreasAndRefusesEmptyOnes) {
  TMTC src(10, 10), dst(10, 10);
  src.Fill(0x11223344u);
  dst.Fill(0);
  CScaleImageTMTC s(&src, &dst);
  EXPECT_FALSE(s.Resample(Area(10, 0, 5, 5), dst.area()));
  EXPECT_FALSE(s.Resample(src.area(), Area(-5, 0, 5, 5)));
  EXPECT_FALSE(s.Resample(src.area(), Area(0, 0, 0, 5)));
  // The clipped destination is filled, the rest left alone.
  ASSERT_TRUE(s.Resample(Area(-3, -3, 20, 20), Area(6, 6, 10, 10)));
  EXPECT_EQ(s.sourceArea, Area(0, 0, 10, 10));
  EXPECT_EQ(s.destArea, Area(6, 6, 4, 4));
  EXPECT_EQ(dst.At(6, 6), 0x11223344u);
  EXPECT_EQ(dst.At(5, 6), 0u);
  // A destination of nothing to resample into.
  CScaleImageTMTC none(&src, nullptr);
  EXPECT_FALSE(none.Resample(src.area(), Area(0, 0, 5, 5)));
}

// Each image kind runs its own loop; it must give what the per-pixel
// operations give for the footprints x0 = (source x << 16) + i × step, and
// that must be the exact area average.
struct ResampleCase {
  Area source, dest;
};
const ResampleCase kResampleCases[] = {
    {{0, 0, 32, 24}, {0, 0, 40, 30}},    // 1.25
    {{3, 5, 20, 16}, {1, 2, 30, 24}},    // 1.5
    {{2, 1, 8, 8}, {0, 0, 14, 14}},      // 1.75
    {{0, 0, 12, 10}, {0, 0, 30, 25}},    // 2.5
    {{1, 1, 7, 5}, {0, 0, 56, 40}},      // 8
    {{0, 0, 60, 50}, {0, 0, 30, 25}},    // 0.5
    {{0, 0, 60, 50}, {0, 0, 20, 17}},    // about 0.333
    {{5, 0, 55, 50}, {0, 0, 4, 3}},      // about 0.06
    {{0, 0, 60, 7}, {0, 0, 13, 41}},     // shrinks across, grows down
    {{7, 9, 13, 11}, {3, 4, 13, 11}},    // copy
};

TEST(ScaleImageTest, ImageLoopsMatchThePixelOperationsAndTheExactAverage) {
  TMTC src(60, 50);
  randomFill(src, 7);
  TChannel chSrc(60, 50);
  randomFill(chSrc, 8);
  CBlockVMTC layerSrc(60, 50);
  // Half the layer tiles hold one colour without memory.
  ASSERT_TRUE(layerSrc.WriteFrom(src, {0, 0}, 255, Area(0, 0, 32, 50)));
  ASSERT_TRUE(layerSrc.SetRGB(Area(32, 0, 28, 50), 0x405060));
  const int32_t tilesBefore = layerSrc.AllocatedTiles();

  for (const ResampleCase& c : kResampleCases) {
    SCOPED_TRACE(std::to_string(c.source.width) + "x" + std::to_string(c.source.height) + " -> " +
                 std::to_string(c.dest.width) + "x" + std::to_string(c.dest.height));
    TMTC fast(60, 50), slow(60, 50);
    CScaleImageTMTC s(&src, &fast);
    ASSERT_TRUE(s.Resample(c.source, c.dest));
    CScaleImageTMTC ref(&src, &slow);
    TChannel chFast(60, 50), chSlow(60, 50);
    CScaleImageCH ch(&chSrc, &chFast), chRef(&chSrc, &chSlow);
    ASSERT_TRUE(ch.Resample(c.source, c.dest));
    CBlockVMTC layerFast(60, 50), layerSlow(60, 50);
    CScaleLayerImage layer(&layerSrc, &layerFast), layerRef(&layerSrc, &layerSlow);
    ASSERT_TRUE(layer.Resample(c.source, c.dest));

    int bad = 0;
    for (int32_t j = 0; j < c.dest.height; ++j)
      for (int32_t i = 0; i < c.dest.width; ++i) {
        const int32_t dx = c.dest.x + i, dy = c.dest.y + j;
        Footprint f;
        f.x0 = (int64_t(c.source.x) << 16) + i * s.stepX;
        f.y0 = (int64_t(c.source.y) << 16) + j * s.stepY;
        f.x1 = f.x0 + s.stepX;
        f.y1 = f.y0 + s.stepY;
        ASSERT_TRUE(ref.ResampleFootprint(slow.PixelAddress(dx, dy), f));
        ASSERT_TRUE(chRef.ResampleFootprint(chSlow.PixelAddress(dx, dy), f));
        ASSERT_TRUE(layerRef.ResampleFootprint(reinterpret_cast<uint8_t*>(layerSlow.PixelAddress(dx, dy)), f));
        bad += fast.At(dx, dy) != slow.At(dx, dy);
        bad += chFast.At(dx, dy) != chSlow.At(dx, dy);
        bad += layerFast.Pixel(dx, dy) != layerSlow.Pixel(dx, dy);
        for (int k = 0; k < 4; ++k) {
          const double exact = exactAverage([&](int32_t x, int32_t y) { return channel(src.At(x, y), k); }, f.x0,
                                            f.y0, f.x1, f.y1);
          bad += !storedAs(exact, channel(fast.At(dx, dy), k));
          const double exactLayer = exactAverage(
              [&](int32_t x, int32_t y) { return channel(layerSrc.Pixel(x, y), k); }, f.x0, f.y0, f.x1, f.y1);
          bad += !storedAs(exactLayer, channel(layerFast.Pixel(dx, dy), k));
        }
        if (bad) FAIL() << "at " << dx << "," << dy << std::hex << " fast " << fast.At(dx, dy) << " slow "
                        << slow.At(dx, dy);
      }
  }
  // Reading the source never gave it memory.
  EXPECT_EQ(layerSrc.AllocatedTiles(), tilesBefore);
}

TEST(ScaleImageTest, UniformAreasStayUniformAtEveryZoom) {
  TMTC src(64, 64), dst(200, 200);
  for (uint32_t v : {0x00000000u, 0x01010101u, 0x80808080u, 0xFEFEFEFEu, 0xFFFFFFFFu, 0x7F3A11FFu}) {
    src.Fill(v);
    for (int level = kMinZoomLevel; level <= kMaxZoomLevel; ++level)
      for (int32_t offset : {0, 3}) {
        const int32_t side = std::clamp(int32_t(40 * zoomFactorOf(level)), 1, 200);
        dst.Fill(0x12345678u);
        CScaleImageTMTC s(&src, &dst);
        ASSERT_TRUE(s.Resample(Area(offset, offset, 40, 40), Area(0, 0, side, side)));
        for (int32_t y = 0; y < side; ++y)
          for (int32_t x = 0; x < side; ++x)
            ASSERT_EQ(dst.At(x, y), v) << "level " << level << " at " << x << "," << y;
      }
  }
}

TEST(ScaleImageTest, LayerScalingWritesDestinationTiles) {
  CBlockVMTC src(64, 64), dst(100, 100);
  ASSERT_TRUE(src.SetAll(0x80FF0000u));
  EXPECT_EQ(src.AllocatedTiles(), 0);
  CScaleLayerImage s(&src, &dst);
  ASSERT_TRUE(s.Resample(Area(0, 0, 64, 64), Area(0, 0, 100, 100)));
  EXPECT_EQ(src.AllocatedTiles(), 0);
  EXPECT_GT(dst.AllocatedTiles(), 0);
  dst.Compact();
  EXPECT_EQ(dst.AllocatedTiles(), 0);
  EXPECT_EQ(dst.Pixel(99, 99), 0x80FF0000u);
}

TEST(ScaleImageTest, FootprintsAreClippedToTheSource) {
  TMTC src(4, 4), dst(1, 1);
  src.Fill(0xFF0000FFu);
  src.Row(0)[0] = 0xFF000001u;
  CScaleImageTMTC s(&src, &dst);
  dst.Fill(0xABCDEF01u);
  // Wholly outside: the pixel is left alone.
  EXPECT_FALSE(s.ResampleFootprint(dst.PixelAddress(0, 0), {-3 << 16, 0, -1 << 16, 1 << 16}));
  EXPECT_FALSE(s.ResampleFootprint(dst.PixelAddress(0, 0), {0, 4 << 16, 1 << 16, 5 << 16}));
  EXPECT_EQ(dst.At(0, 0), 0xABCDEF01u);
  // Half outside on the left and top: pixel (0, 0) alone.
  EXPECT_TRUE(s.ResampleFootprint(dst.PixelAddress(0, 0), {-32768, -32768, 32768, 32768}));
  EXPECT_EQ(dst.At(0, 0), 0xFF000001u);
  // Over the right edge: pixels 3 of rows 0 and 1, both 0xFF.
  EXPECT_TRUE(s.ResampleFootprint(dst.PixelAddress(0, 0), {3 << 16, 0, 6 << 16, 2 << 16}));
  EXPECT_EQ(dst.At(0, 0), 0xFF0000FFu);
}

TEST(ScaleImageTest, PreparedCellsOutsideTheSourceAreRefused) {
  TMTC src(4, 4), dst(4, 4);
  CScaleImageTMTC s(&src, &dst);
  ScaleAxis cols, rows;
  ASSERT_TRUE(cols.BuildSteps(2 << 16, 65536, 4, 8 << 16));  // made for a wider source
  ASSERT_TRUE(rows.BuildSteps(0, 65536, 4, 4 << 16));
  EXPECT_FALSE(s.ResampleCells(cols.Cells(), rows.Cells(), dst.area(), 0));
  ASSERT_TRUE(cols.BuildSteps(0, 65536, 4, 4 << 16));
  EXPECT_TRUE(s.ResampleCells(cols.Cells(), rows.Cells(), dst.area(), 0));
}

// ---- rotated renderers ----

constexpr uint32_t kGrey = 0xFF808080u;

TEST(RotatedRenderTest, SmoothAtOneIsACopyAndAQuarterTurnAPermutation) {
  TMTC comp(16, 16), view(20, 16);
  randomFill(comp, 11);
  CScaleImageTMTC scaler;
  // Angle 0: the view centre (10, 8) shows paper (12, 8): view x shows paper x + 2.
  ASSERT_TRUE(RenderRotatedSmooth(view, comp, scaler, 0x808080, 1.0f, 0.0f, view.area(), 12.0, 8.0));
  for (int32_t y = 0; y < 16; ++y)
    for (int32_t x = 0; x < 20; ++x) {
      const uint32_t want = x + 2 < 16 ? comp.At(x + 2, y) : kGrey;
      ASSERT_EQ(view.At(x, y), want) << x << "," << y;
    }
  EXPECT_EQ(scaler.Source(), &comp);
  EXPECT_EQ(scaler.Dest(), &view);
  // A quarter turn about (8, 8) of a 16 × 16 view.
  TMTC square(16, 16);
  const float quarter = float(std::numbers::pi / 2);
  ASSERT_TRUE(RenderRotatedSmooth(square, comp, scaler, 0x808080, 1.0f, quarter, square.area(), 8.0, 8.0));
  for (int32_t y = 0; y < 16; ++y)
    for (int32_t x = 0; x < 16; ++x) ASSERT_EQ(square.At(x, y), comp.At(15 - y, x)) << x << "," << y;
}

TEST(RotatedRenderTest, SmoothMatchesThePixelOperations) {
  TMTC comp(40, 30);
  randomFill(comp, 12);
  struct Case {
    float zoom, degrees;
    double ox, oy;
  } cases[] = {{1.25f, 30.0f, 20.3, 14.9}, {0.5f, 30.0f, 20.0, 15.0}, {0.333f, -75.0f, 5.5, 2.0},
               {2.5f, 180.0f, 30.0, 10.0}, {0.06001f, 10.0f, 20.0, 15.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.zoom);
    TMTC view(33, 27), slow(33, 27);
    view.Fill(0);
    slow.Fill(0);
    CScaleImageTMTC scaler, ref(&comp, &slow);
    const float angle = c.degrees * float(std::numbers::pi) / 180.0f;
    // A part of the view only: the rest stays untouched.
    const Area part(2, 3, 29, 22);
    ASSERT_TRUE(RenderRotatedSmooth(view, comp, scaler, 0x808080, c.zoom, angle, part, c.ox, c.oy));
    const int64_t side = std::llround(65536.0 / c.zoom);
    const int64_t sine = std::llround(std::sin(double(angle)) * 65536.0);
    const int64_t cosine = std::llround(std::cos(double(angle)) * 65536.0);
    for (int32_t y = 0; y < 27; ++y)
      for (int32_t x = 0; x < 33; ++x) {
        if (x < part.x || y < part.y || x >= part.right() || y >= part.bottom()) {
          ASSERT_EQ(view.At(x, y), 0u);
          continue;
        }
        const int64_t sx = (int64_t(2 * x + 1 - 33) * 32768 * side) >> 16;
        const int64_t sy = (int64_t(2 * y + 1 - 27) * 32768 * side) >> 16;
        Footprint f;
        f.x0 = std::llround(c.ox * 65536) + ((sx * cosine - sy * sine) >> 16) - side / 2;
        f.y0 = std::llround(c.oy * 65536) + ((sx * sine + sy * cosine) >> 16) - side / 2;
        f.x1 = f.x0 + side;
        f.y1 = f.y0 + side;
        if (!ref.ResampleFootprint(slow.PixelAddress(x, y), f)) slow.Row(y)[x] = kGrey;
        ASSERT_EQ(view.At(x, y), slow.At(x, y)) << x << "," << y;
      }
  }
}

// The view is rendered in bands of rows on the core's threads when it is
// large; the pixels are those of one thread, for every renderer.
TEST(RotatedRenderTest, ThreadsGiveTheOneThreadView) {
  TMTC comp(700, 500);
  randomFill(comp, 14);
  const int before = corePool().Threads();
  auto render = [&](int threads, int which) {
    corePool().SetThreads(threads);
    TMTC view(640, 480);
    view.Fill(0);
    CScaleImageTMTC scaler(&comp, &view);
    const Area part(3, 5, 630, 470);
    const float angle = 0.37f;
    if (which == 0) EXPECT_TRUE(RenderRotatedSmooth(view, comp, scaler, 0x808080, 1.75f, angle, part, 350.2, 240.9));
    if (which == 1) EXPECT_TRUE(RenderRotatedSmooth(view, comp, scaler, 0x808080, 0.333f, angle, part, 350.0, 250.0));
    if (which == 2) EXPECT_TRUE(RenderRotatedNearest(comp, view, 340.5, 260.0, 1.0f / 1.5f, angle, part, 0x808080));
    if (which == 3) EXPECT_TRUE(scaler.Resample(comp.area(), part));
    return std::vector<uint32_t>(view.pixels, view.pixels + size_t(view.ByteSize()) / 4);
  };
  for (int which = 0; which < 4; ++which) EXPECT_EQ(render(1, which), render(4, which)) << which;
  corePool().SetThreads(before);
}

TEST(RotatedRenderTest, NearestCopiesSkipsAndTurns) {
  TMTC comp(16, 16), view(16, 16);
  randomFill(comp, 13);
  struct Case {
    float inverseZoom, degrees;
    double ox, oy;
  } cases[] = {{1.0f, 0.0f, 10.0, 8.0}, {2.0f, 0.0f, 8.0, 8.0}, {1.0f, 90.0f, 8.0, 8.0}};
  for (const Case& c : cases) {
    const float angle = c.degrees * float(std::numbers::pi) / 180.0f;
    ASSERT_TRUE(RenderRotatedNearest(comp, view, c.ox, c.oy, c.inverseZoom, angle, view.area(), 0x808080));
    for (int32_t y = 0; y < 16; ++y)
      for (int32_t x = 0; x < 16; ++x) {
        // Paper point under the pixel's corner, from the view centre (8, 8).
        const double dx = (x - 8) * c.inverseZoom, dy = (y - 8) * c.inverseZoom;
        const double rad = c.degrees * std::numbers::pi / 180.0;
        const int32_t px = int32_t(std::floor(c.ox + std::cos(rad) * dx - std::sin(rad) * dy + 1e-9));
        const int32_t py = int32_t(std::floor(c.oy + std::sin(rad) * dx + std::cos(rad) * dy + 1e-9));
        const uint32_t want = comp.Contains(px, py) ? comp.At(px, py) : kGrey;
        ASSERT_EQ(view.At(x, y), want) << c.inverseZoom << " " << c.degrees << " at " << x << "," << y;
      }
  }
}

TEST(RotatedRenderTest, BrokenArgumentsAreRefused) {
  TMTC comp(8, 8), view(8, 8), none;
  CScaleImageTMTC scaler;
  EXPECT_FALSE(RenderRotatedSmooth(view, comp, scaler, 0, 0.0f, 0.0f, view.area(), 4, 4));
  EXPECT_FALSE(RenderRotatedSmooth(view, comp, scaler, 0, 1.0f, NAN, view.area(), 4, 4));
  EXPECT_FALSE(RenderRotatedSmooth(view, none, scaler, 0, 1.0f, 0.0f, view.area(), 4, 4));
  EXPECT_FALSE(RenderRotatedSmooth(view, comp, scaler, 0, 1.0f, 0.0f, Area(8, 0, 4, 4), 4, 4));
  EXPECT_FALSE(RenderRotatedNearest(comp, view, 4, 4, -1.0f, 0.0f, view.area(), 0));
  EXPECT_FALSE(RenderRotatedNearest(comp, view, 1e300, 4, 1.0f, 0.0f, view.area(), 0));
}

// ---- the paper's view ----

constexpr uint32_t kInk = 0xFFFF2040u, kGround = 0xFF10E0A0u;  // no mixture of the two is grey

class PaperViewTest : public ::testing::Test {
 protected:
  struct Canvas {
    Canvas(int32_t w, int32_t h) : view(w, h) {}
    HeadlessView view;
    TPaper paper{&view};
  };

  // A sharp diagonal with a few stripes across it.
  static void setUp(TPaper& p, int level, bool smooth, float degrees) {
    p.width = 150;
    p.height = 110;
    ASSERT_TRUE(p.compositeImage.Resize(p.width, p.height));
    for (int32_t y = 0; y < p.height; ++y)
      for (int32_t x = 0; x < p.width; ++x)
        p.compositeImage.Row(y)[x] = x * 110 > y * 150 || (x % 17 == 3 && y > 40) ? kInk : kGround;
    p.setZoomLevel(level);
    p.zoomAntialias = smooth;
    p.setWindowOffset(7, 5);
    p.setViewOrigin(3, 2);
    p.setRotationDegrees(degrees);
    p.setRotationCentre(75.3f, 55.1f);
  }

  static int firstDifference(const TTC& a, const TTC& b, std::string& where) {
    for (int32_t y = 0; y < a.height; ++y)
      for (int32_t x = 0; x < a.width; ++x)
        if (a.At(x, y) != b.At(x, y)) {
          where = std::to_string(x) + "," + std::to_string(y);
          return 1;
        }
    return 0;
  }
};

TEST_F(PaperViewTest, PiecesMeetWithoutSeamsAtEveryZoom) {
  // Irregular strips that tile the paper.
  const int32_t xs[] = {0, 13, 63, 70, 101, 150};
  const int32_t ys[] = {0, 9, 40, 47, 110};
  int rendered = 0;
  // An even and an odd window, so the centre's rounding shows.
  for (const Size client : {Size{160, 120}, Size{161, 121}})
  for (float degrees : {0.0f, 30.0f})
    for (bool smooth : {false, true})
      for (int level = kMinZoomLevel; level <= kMaxZoomLevel; ++level) {
        SCOPED_TRACE("level " + std::to_string(level) + (smooth ? " smooth " : " nearest ") +
                     std::to_string(degrees));
        Canvas pieces(client.width, client.height), whole(client.width, client.height);
        setUp(pieces.paper, level, smooth, degrees);
        setUp(whole.paper, level, smooth, degrees);
        TPaper& p = whole.paper;
        if (p.directPaintAllowed() && !p.rotated()) continue;  // copied straight from the composite
        ++rendered;
        for (int i = 0; i + 1 < int(std::size(ys)); ++i)
          for (int k = 0; k + 1 < int(std::size(xs)); ++k)
            pieces.paper.drawToWindow(xs[k], ys[i + 1], xs[k + 1], ys[i]);
        p.drawToWindow(0, p.height, p.width, 0);
        ASSERT_EQ(p.viewImage.size(), client);
        ASSERT_EQ(pieces.paper.viewImage.size(), client);
        std::string where;
        EXPECT_EQ(firstDifference(pieces.paper.viewImage, p.viewImage, where), 0) << "first at " << where;

        // Well inside the paper no background shows; well outside nothing else does.
        const double margin = 1.5 / p.zoomFactor() + 1.5;
        int inside = 0;
        for (int32_t y = 0; y < client.height; ++y)
          for (int32_t x = 0; x < client.width; ++x) {
            double px, py;
            p.screenToPaper(x + 0.5, y + 0.5, px, py);
            const uint32_t v = p.viewImage.At(x, y);
            if (px > margin && py > margin && px < p.width - margin && py < p.height - margin) {
              ++inside;
              ASSERT_NE(v, kGrey) << x << "," << y;
            } else if (px < -margin || py < -margin || px > p.width + margin || py > p.height + margin) {
              ASSERT_EQ(v, kGrey) << x << "," << y;
            }
          }
        EXPECT_GT(inside, 0);
        // Shown from the view image, one to one.
        ASSERT_FALSE(whole.view.presented.empty());
        const HeadlessView::Presented& shown = whole.view.presented.back();
        EXPECT_EQ(shown.bits, p.viewImage.Bits());
        EXPECT_EQ(shown.num, 1);
        EXPECT_EQ(shown.den, 1);
        EXPECT_EQ(shown.windowX, shown.source.x);
        EXPECT_EQ(shown.windowY, shown.source.y);

        // A change painted through its own rectangle leaves nothing stale
        // around it: a small one and one large enough to go in pieces.
        for (const Area change : {Area(37, 21, 15, 9), Area(41, 23, 71, 69)}) {
          for (TPaper* q : {&pieces.paper, &p}) q->compositeImage.FillMasked(change, 0xFF3060F0u, ~0u);
          pieces.paper.drawToWindow(change.x, change.bottom(), change.right(), change.y);
          p.drawToWindow(0, p.height, p.width, 0);
          EXPECT_EQ(firstDifference(pieces.paper.viewImage, p.viewImage, where), 0)
              << "after a change, first at " << where;
        }
      }
  // Rotated always; unrotated the 8 negative levels twice, and 1, 2, 3 and 5 smoothed.
  EXPECT_EQ(rendered, 2 * (2 * 18 + 2 * 8 + 4));
}

TEST_F(PaperViewTest, AnAngleThatIsNoNumberLeavesTheViewUnturned) {
  for (float bad : {std::nanf(""), INFINITY, -INFINITY}) {
    Canvas c(160, 120);
    setUp(c.paper, 1, true, bad);
    EXPECT_FALSE(c.paper.rotated());
    c.paper.setRotationRadians(bad);
    EXPECT_FALSE(c.paper.rotated());
    c.paper.drawToWindow(0, c.paper.height, c.paper.width, 0);
    EXPECT_FALSE(c.view.presented.empty());
  }
}

TEST_F(PaperViewTest, ViewImageFollowsTheWindowAndItsBackground) {
  Canvas c(160, 120);
  setUp(c.paper, -3, true, 0.0f);
  c.paper.viewBackgroundColor = 0x123456;
  c.paper.drawToWindow(0, 110, 150, 0);
  ASSERT_EQ(c.paper.viewImage.size(), (Size{160, 120}));
  EXPECT_EQ(c.paper.viewImage.At(159, 119), 0xFF123456u);  // beyond the paper's 75 × 55 window pixels
  EXPECT_EQ(c.paper.viewImage.At(10, 10), kGround);
  c.view.width = 90;
  c.view.height = 70;
  c.paper.drawToWindow(0, 110, 150, 0);
  ASSERT_EQ(c.paper.viewImage.size(), (Size{90, 70}));
  EXPECT_EQ(c.paper.viewImage.At(89, 69), 0xFF123456u);
  // Without a window nothing is rendered.
  TPaper alone;
  setUp(alone, -3, true, 0.0f);
  alone.drawToWindow(0, 110, 150, 0);
  EXPECT_FALSE(alone.viewImage.IsAllocated());
}

}  // namespace
}  // namespace vl
