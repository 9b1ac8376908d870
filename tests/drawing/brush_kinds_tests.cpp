#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

#include "document/blend_modes.h"
#include "document/paper.h"
#include "drawing/brush_kinds.h"
#include "drawing/stroke.h"
#include "drawing/stroke_protocol.h"
#include "pixel/colour_models.h"
#include "pixel/simd.h"

namespace vl {
namespace {

constexpr uint32_t kWhite = 0xFFFFFFFFu;

uint32_t fnv1a(const std::vector<uint32_t>& pixels) {
  uint32_t h = 2166136261u;
  for (uint32_t p : pixels)
    for (int i = 0; i < 4; ++i) {
      h ^= (p >> (8 * i)) & 0xFF;
      h *= 16777619u;
    }
  return h;
}

class BrushFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(paper.newPaper(flow, "t", 72, 48, 48));
    stroke.layerIndex = 0;
  }

  // The layer holds fn(x, y) everywhere; the flow is reloaded from it.
  void Fill(const std::function<uint32_t(int32_t, int32_t)>& fn) {
    CBlockVMTC& l = *paper.layerAt(0)->pixels;
    TMTC buf(l.width, l.height);
    for (int32_t y = 0; y < buf.height; ++y)
      for (int32_t x = 0; x < buf.width; ++x) buf.Row(y)[x] = fn(x, y);
    ASSERT_TRUE(l.WriteFrom(buf, {0, 0}, 255, Area(buf.size())));
    paper.loadLayerToFlow(flow, 0, true);
  }
  void Fill(uint32_t v) {
    Fill([v](int32_t, int32_t) { return v; });
  }
  // A transparent band, an alpha ramp and opaque paint, under colour ramps:
  // every rule has something to work on.
  void FillPattern() {
    Fill([](int32_t x, int32_t y) {
      const uint32_t a = y < 8 ? 0 : y < 24 ? uint32_t(40 + 4 * x) : 255;
      return makePixel(a, uint32_t(x * 5), uint32_t(255 - y * 5), uint32_t(x * y) & 0xFF);
    });
  }

  std::vector<uint32_t> Layer() const {
    const CLayerData* l = paper.layerAt(0);
    TMTC buf(l->pixels->width, l->pixels->height);
    l->pixels->ReadInto(buf, {0, 0}, false, 255, Area(buf.size()));
    std::vector<uint32_t> out;
    for (int32_t y = 0; y < buf.height; ++y) out.insert(out.end(), buf.Row(y), buf.Row(y) + buf.width);
    return out;
  }
  uint32_t At(int32_t x, int32_t y) const { return flow.colour.Row(y)[x]; }

  void Kind(int kind) {
    stroke.ResetDefaults(kind);
    stroke.SetColour(0x204080);
    stroke.noSmoothing = true;
  }
  void Begin(StrokePoint p) { BeginStrokeOffset(paper, flow, stroke, session, false, p.pressure, p.y, p.x); }
  void Add(StrokePoint p) { AddStrokePoint(paper, flow, stroke, session, false, p.pressure, p.y, p.x); }
  Area End() { return EndStroke(paper, flow, stroke, session, false); }
  Area Draw(const std::vector<StrokePoint>& points) {
    Begin(points[0]);
    for (size_t i = 1; i < points.size(); ++i) Add(points[i]);
    return End();
  }
  void Dab(float size, float alpha, float x, float y) { paintDab(paper, flow, stroke, size, alpha, y, x); }

  TPaper paper;
  TFlowImage flow{paper};
  TStroke stroke;
  StrokeSession session;
};

// ---- profiles and settings ----

TEST(AirProfile, TablesFollowTheirFormulas) {
  constexpr int32_t kFull = 255 << 16;
  struct Row {
    int map, i;
    int32_t value;
  } rows[] = {
      {0, 0, kFull},   {0, 1843, kFull}, {0, 1844, kFull},
      {0, 1945, 8397002},  // 255.0 − 255.0 × 101 / 203, truncated
      {0, 2047, 0},    {1, 0, kFull},    {1, 2047, 0},
      {2, 0, kFull},   {2, 2047, 0},     {3, 0, kFull},
      {3, 1023, 8359921},  // 255.0 × 1024 / 2047
      {3, 2047, 0},    {4, 0, kFull},    {4, 2047, 0},
  };
  for (const Row& r : rows) EXPECT_EQ(airProfile(r.map)[r.i], r.value) << r.map << " at " << r.i;
  // Every profile falls from the centre to the rim; out-of-range selections clamp.
  for (int m = 0; m < kAirMapCount; ++m)
    for (int i = 1; i < kAirProfileSize; ++i) ASSERT_LE(airProfile(m)[i], airProfile(m)[i - 1]) << m << " " << i;
  EXPECT_EQ(airProfile(9), airProfile(4));
  EXPECT_EQ(airProfile(-1), airProfile(0));
}

TEST(BrushSettings, AirMapIsPerStrokeAndSetByReset) {
  TStroke live, replay;
  EXPECT_EQ(live.airMap, 3);  // the start-up selection
  live.ResetDefaults(kBrushDarken);
  EXPECT_EQ(live.airMap, 1);
  EXPECT_EQ(replay.airMap, 3);  // the other stroke keeps its own
  replay.SetAirMap(0);
  EXPECT_EQ(live.airMap, 1);
  live.ResetDefaults(kBrushPen);  // no value in the table: kept
  EXPECT_EQ(live.airMap, 1);
  live.ResetDefaults(kBrushSmudge);
  EXPECT_EQ(live.airMap, 3);
  live.changed = false;
  live.SetAirMap(7);
  EXPECT_EQ(live.airMap, 4);
  EXPECT_TRUE(live.changed);
}

TEST(BrushSettings, ChainTakesOnlyTheStagesTheKindOffers) {
  struct Row {
    int kind;
    bool gradation;
  } rows[] = {{kBrushPen, true},   {kBrushWatercolour, true}, {kBrushBlur, false},
              {kBrushEraser, false}, {kBrushAirbrush, true},  {kBrushSmudge, false}};
  for (const Row& r : rows) {
    TStroke s;
    s.ResetDefaults(r.kind);
    s.SetUseGradation(true);
    EXPECT_EQ(s.chain.usesGradation(), r.gradation) << r.kind;
  }
}

// ---- one dab, pixel by pixel ----

TEST_F(BrushFixture, AirbrushDabFollowsTheLinearProfile) {
  Fill(kWhite);
  Kind(kBrushAirbrush);
  stroke.SetColour(0x000000);
  stroke.SetOpacity(1);
  Begin({10, 10, 1});
  Dab(4, 1, 10.5f, 10.5f);
  // Centre: distance 0, strength 255, the colour replaces the pixel.
  EXPECT_EQ(At(10, 10), 0xFF000000u);
  // Distance 2 of 4: profile 3 at 1023 gives 127; lerp8(0, 255, 127) = 128.
  EXPECT_EQ(At(12, 10), 0xFF808080u);
  EXPECT_EQ(At(10, 8), 0xFF808080u);
  // Distance 4 is not inside.
  EXPECT_EQ(At(14, 10), kWhite);
  // A radius of 0 paints nothing (and divides by nothing).
  Dab(0, 1, 30.5f, 30.5f);
  EXPECT_EQ(At(30, 30), kWhite);
  End();
}

TEST_F(BrushFixture, AirbrushDabsAccumulate) {
  Fill(kWhite);
  Kind(kBrushAirbrush);
  stroke.SetOpacity(0.5f);
  stroke.SetColour(0x000000);
  Begin({10, 10, 1});
  Dab(4, 1, 10.5f, 10.5f);
  // 255 × 0.5 in 16.16 gives 127; white moves to 128.
  EXPECT_EQ(At(10, 10), 0xFF808080u);
  Dab(4, 1, 10.5f, 10.5f);
  EXPECT_EQ(At(10, 10), 0xFF404040u);  // lerp8(0, 128, 127) = 64
  End();
}

// The colour disc, through the eraser.
struct EraserCase {
  const char* name;
  bool soft, locked;
  int32_t x, y;
  uint32_t expected;
  int mode = kModeNormal;
};

TEST_F(BrushFixture, EraserDiscValues) {
  // Radius 5 at (10, 10): t = 20² = 400 in quarter pixels.
  const EraserCase cases[] = {
      {"centre cleared", false, false, 10, 10, 0x00336699u},
      {"partial cell with all 16 points in", false, false, 14, 10, 0x00336699u},
      {"13 of 16 points: 207", false, false, 13, 13, 0x30336699u},
      {"all corners outside", false, false, 15, 10, 0xFF336699u},
      {"soft: K = 255 − 64 × 255 / 400 = 215", true, false, 12, 10, 0x29336699u},
      {"soft centre: K = 255", true, false, 10, 10, 0x01336699u},
      // Locked: the neutral colour (white for normal layers), alpha kept.
      {"locked centre", false, true, 10, 10, 0xFFFFFFFFu},
      {"locked 13 of 16", false, true, 13, 13, blendRGB(0xFF336699u, 0xFFFFFF, 207)},
      // An add layer's neutral colour is black.
      {"locked add layer", false, true, 10, 10, 0xFF000000u, kModeAdd},
      {"unlocked add layer", false, false, 10, 10, 0x00336699u, kModeAdd},
  };
  for (const EraserCase& c : cases) {
    Fill(0xFF336699u);
    paper.layerAt(0)->maskLock = c.locked;
    paper.layerAt(0)->mode = c.mode;
    Kind(kBrushEraser);
    stroke.SetSoftEdge(c.soft);
    Begin({10, 10, 1});
    Dab(5, 1, 10, 10);
    EXPECT_EQ(At(c.x, c.y), c.expected) << c.name;
    End();
  }
}

TEST_F(BrushFixture, EraserStrokeClearsAlphaOnly) {
  Fill(0xFF336699u);
  Kind(kBrushEraser);
  stroke.SetSoftEdge(false);
  stroke.SetOpacityByPressure(false);
  stroke.SetWidth(6);
  const Area r = Draw({{5, 20, 1}, {40, 20, 1}, {40, 20, 1}});
  const std::vector<uint32_t> after = Layer();
  for (int32_t x = 6; x < 40; ++x) EXPECT_EQ(after[20 * 48 + x], 0x00336699u) << x;
  int partial = 0;
  for (int32_t y = 0; y < 48; ++y)
    for (int32_t x = 0; x < 48; ++x) {
      const uint32_t p = after[size_t(y) * 48 + x];
      ASSERT_EQ(p & 0xFFFFFF, 0x336699u);  // colour untouched everywhere
      if (p >> 24 != 0xFF) {
        ASSERT_TRUE(x >= r.x && x < r.right() && y >= r.y && y < r.bottom());
        partial += (p >> 24) != 0;
      }
    }
  EXPECT_GT(partial, 10);  // the antialiased rim
}

TEST_F(BrushFixture, EraserHalfOpacityHalvesAlpha) {
  Fill(0xFF336699u);
  Kind(kBrushEraser);
  stroke.SetOpacity(0.5f);
  stroke.SetSoftEdge(false);
  Begin({10, 10, 1});
  Dab(5, 1, 10, 10);
  // V = 127: 255 − MUL[127][255] = 128.
  EXPECT_EQ(At(10, 10), 0x80336699u);
  Dab(5, 1, 10, 10);
  EXPECT_EQ(At(10, 10), 0x41336699u);  // 128 − MUL[127][128] = 65
  End();
}

// The colour disc at small radii, read through the eraser (alpha falls by the
// value) over x, y = 7 … 13 around (10.5, 10.5). Up to radius 3 every cell
// counts its 16 quarter points, taken from the cell's top-left corner.
TEST_F(BrushFixture, ColourDiscAtSmallRadii) {
  struct Case {
    float r;
    bool soft;
    int values[7][7];
  };
  const Case cases[] = {
      {0.5f, false, {{0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 143, 0, 0, 0},
                     {0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0}}},
      {1, false, {{0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 63, 15, 0, 0}, {0, 0, 63, 255, 127, 0, 0},
                  {0, 0, 15, 127, 47, 0, 0}, {0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0}}},
      {2, false, {{0, 0, 0, 0, 0, 0, 0}, {0, 0, 15, 63, 31, 0, 0}, {0, 15, 239, 255, 255, 63, 0},
                  {0, 63, 255, 255, 255, 127, 0}, {0, 31, 255, 255, 255, 95, 0}, {0, 0, 63, 127, 95, 0, 0},
                  {0, 0, 0, 0, 0, 0, 0}}},
      {3, false, {{0, 0, 31, 63, 47, 0, 0}, {0, 95, 255, 255, 255, 159, 0}, {31, 255, 255, 255, 255, 255, 95},
                  {63, 255, 255, 255, 255, 255, 127}, {47, 255, 255, 255, 255, 255, 111},
                  {0, 159, 255, 255, 255, 207, 15}, {0, 0, 95, 127, 111, 15, 0}}},
      // Radius 3 is the smallest with a soft edge.
      {3, true, {{0, 0, 0, 0, 0, 0, 0}, {0, 0, 14, 70, 70, 9, 0}, {0, 14, 127, 184, 184, 127, 5},
                 {0, 70, 184, 240, 240, 184, 35}, {0, 70, 184, 240, 240, 184, 30}, {0, 9, 127, 184, 184, 103, 0},
                 {0, 0, 5, 35, 30, 0, 0}}},
  };
  for (const Case& c : cases) {
    Fill(0xFF336699u);
    Kind(kBrushEraser);
    stroke.SetSoftEdge(c.soft);
    Begin({10, 10, 1});
    Dab(c.r, 1, 10.5f, 10.5f);
    for (int32_t y = 0; y < 48; ++y)
      for (int32_t x = 0; x < 48; ++x) {
        const bool near = x >= 7 && x <= 13 && y >= 7 && y <= 13;
        const int v = near ? c.values[y - 7][x - 7] : 0;
        ASSERT_EQ(At(x, y), makePixel(uint32_t(255 - v), 0x33, 0x66, 0x99)) << c.r << " " << c.soft << " at " << x
                                                                             << "," << y;
      }
    End();
  }
}

TEST_F(BrushFixture, WatercolourWithoutSpeedPaintsTheStrokeColour) {
  Fill(kWhite);
  Kind(kBrushWatercolour);
  stroke.SetSpeed(0);
  stroke.SetEnv(0);
  stroke.SetOpacity(1);
  stroke.SetSoftEdge(false);
  Begin({10, 10, 1});
  Dab(4, 1, 10.5f, 10.5f);
  EXPECT_EQ(stroke.wcDab, 0x204080u);
  // Value trunc(0.35 × 255) = 89: lerp8 of 0x20, 0x40, 0x80 over 255.
  EXPECT_EQ(At(10, 10), 0xFFB1BCD2u);
  End();
}

TEST_F(BrushFixture, WatercolourLoadStartsFromTheCanvas) {
  Fill(0xFF4080C0u);
  Kind(kBrushWatercolour);
  stroke.SetEffect(100);
  stroke.SetEnv(0);
  stroke.SetSpeed(100);
  stroke.SetSizeByPressure(false);
  stroke.SetOpacityByPressure(false);
  stroke.SetWidth(3);
  Begin({4, 24, 1});
  EXPECT_EQ(stroke.wcLoaded, 0x4080C0u);  // effect 100: the canvas average alone
  EXPECT_EQ(stroke.wcSampleR, 64.0f);
  // The first dab lays the canvas colour on itself: nothing changes there.
  Add({44, 24, 1});
  Add({44, 24, 1});
  const uint32_t first = At(4, 24), late = At(43, 24);
  EXPECT_EQ(first, 0xFF4080C0u);
  EXPECT_NE(late, 0xFF4080C0u);
  // Travel 4 × 40 over reach 100 × 3 × 2: about half-way to the stroke colour.
  EXPECT_LT(red(late), 64u);
  End();
}

TEST_F(BrushFixture, WatercolourSampleFollowsTheCanvasByEnvOverTen) {
  // Black left of x = 24, white from there on.
  Fill([](int32_t x, int32_t) { return x < 24 ? 0xFF000000u : kWhite; });
  Kind(kBrushWatercolour);
  stroke.SetEnv(40);
  Begin({5, 20, 1});
  EXPECT_EQ(stroke.wcSampleR, 0.0f);
  Dab(3, 1, 35.5f, 20.5f);  // all four samples white
  EXPECT_EQ(stroke.wcSampleR, 4.0f);
  EXPECT_EQ(stroke.wcSampleB, 4.0f);
  Dab(3, 1, 35.5f, 20.5f);
  EXPECT_EQ(stroke.wcSampleG, 8.0f);
  End();
  // Two of the eleven columns around x = 20 are white: 2 × 11 × 255 / 121.
  stroke.SetEnv(100);
  Begin({20, 20, 1});
  EXPECT_EQ(stroke.wcSampleR, 46.0f);
  Dab(3, 1, 25.5f, 20.5f);  // samples at x 25, 25, 29 and 23: 3 × 255 / 4 = 191, ten away at most
  EXPECT_EQ(stroke.wcSampleR, 56.0f);
  End();
  // Within one step the sample is taken whole.
  Fill([](int32_t x, int32_t) { return x < 24 ? 0xFF050505u : 0xFF0A0A0Au; });
  Begin({5, 20, 1});
  EXPECT_EQ(stroke.wcSampleR, 5.0f);
  Dab(3, 1, 35.5f, 20.5f);
  EXPECT_EQ(stroke.wcSampleR, 10.0f);
  Dab(3, 1, 5.5f, 20.5f);  // and falling
  EXPECT_EQ(stroke.wcSampleR, 5.0f);
  End();
  // Falling by more than a step: down by env / 10 a dab.
  Fill([](int32_t x, int32_t) { return x < 24 ? 0xFF000000u : kWhite; });
  stroke.SetEnv(40);
  Begin({35, 20, 1});
  EXPECT_EQ(stroke.wcSampleR, 255.0f);
  Dab(3, 1, 5.5f, 20.5f);  // samples at x 5, 5, 9 and 3: all black
  EXPECT_EQ(stroke.wcSampleR, 251.0f);
  Dab(3, 1, 5.5f, 20.5f);
  EXPECT_EQ(stroke.wcSampleB, 247.0f);
  End();
}

struct BlurCase {
  const char* name;
  int32_t x, y;
  uint32_t expected;
};

TEST_F(BrushFixture, BlurDabAveragesTheLayer) {
  // One black pixel on white; radius 3, kernel max(1, trunc(3 × 0.1)) = 1.
  const BlurCase cases[] = {
      // Σr = 8 × 255 over Σa = 9 × 255: 226, at full value.
      {"centre", 10, 10, 0xFFE2E2E2u},
      // Distance 1: value 255 − 85 = 170; lerp8(226, 255, 170) = 235.
      {"distance 1", 11, 10, 0xFFEBEBEBu},
      // Distance √2 in 16.16 is 92681: value 135; lerp8(226, 255, 135) = 239.
      {"diagonal", 9, 9, 0xFFEFEFEFu},
      {"box without the black pixel", 12, 10, kWhite},
      {"distance 3 is outside", 13, 10, kWhite},
  };
  Fill([](int32_t x, int32_t y) { return x == 10 && y == 10 ? 0xFF000000u : kWhite; });
  Kind(kBrushBlur);
  Begin({10, 10, 1});
  Dab(3, 1, 10.5f, 10.5f);
  for (const BlurCase& c : cases) EXPECT_EQ(At(c.x, c.y), c.expected) << c.name;
  // The source is the layer, not the flow: a second dab lays the same colour.
  Dab(3, 1, 10.5f, 10.5f);
  EXPECT_EQ(At(10, 10), 0xFFE2E2E2u);
  End();
}

TEST_F(BrushFixture, BlurRepeatsTheLayerEdge) {
  // Black corner pixel: the clamped 3 × 3 box around (0, 0) holds it four
  // times and white five times: 5 × 255 × 255 / (9 × 255) = 141.
  Fill([](int32_t x, int32_t y) { return x == 0 && y == 0 ? 0xFF000000u : kWhite; });
  Kind(kBrushBlur);
  Begin({0, 0, 1});
  Dab(2, 1, 0.5f, 0.5f);
  EXPECT_EQ(At(0, 0), 0xFF8D8D8Du);
  // The far corner, with a kernel reaching well past both edges.
  stroke.SetEffect(100);
  Dab(6, 1, 47.5f, 47.5f);
  EXPECT_EQ(At(47, 47), kWhite);
  End();
}

// The sliding box sums against sums taken directly, with a kernel reaching
// past the layer's edges, for both alpha rules.
TEST_F(BrushFixture, BlurMatchesDirectBoxSums) {
  for (bool locked : {false, true}) {
    FillPattern();
    paper.layerAt(0)->maskLock = locked;
    const std::vector<uint32_t> layer = Layer();
    Kind(kBrushBlur);
    stroke.SetEffect(60);
    stroke.SetOpacity(0.8f);
    const float x = 3.7f, y = 40.2f, size = 6.5f, alpha = 0.9f;
    Begin({x, y, 1});
    Dab(size, alpha, x, y);
    const int32_t k = int32_t(size * 60 / 100), n = (2 * k + 1) * (2 * k + 1);
    const int vmax = int(0.8f * alpha * 255);
    const int64_t S = int64_t(size * 65536);
    auto src = [&](int32_t cx, int32_t cy) {
      return layer[size_t(std::clamp(cy, 0, 47)) * 48 + size_t(std::clamp(cx, 0, 47))];
    };
    int written = 0;
    for (int32_t py = 0; py < 48; ++py)
      for (int32_t px = 0; px < 48; ++px) {
        const uint32_t d = src(px, py);
        uint32_t expected = d;
        const int64_t dx = (int64_t(px) << 16) + 32768 - int64_t(x * 65536);
        const int64_t dy = (int64_t(py) << 16) + 32768 - int64_t(y * 65536);
        const int64_t dist = isqrt(uint64_t(dx * dx + dy * dy));
        if (px >= int32_t(std::floor(x - size)) && px < int32_t(std::ceil(x + size)) &&
            py >= int32_t(std::floor(y - size)) && py < int32_t(std::ceil(y + size)) && dist < S) {
          const int v = mul8(255 - int(dist * 255 / S), vmax);
          int64_t sa = 0, sr = 0, sg = 0, sb = 0;
          for (int32_t j = -k; j <= k; ++j)
            for (int32_t i = -k; i <= k; ++i) {
              const uint32_t p = src(px + i, py + j);
              const int a = locked ? 255 : int(p >> 24);
              sa += p >> 24;
              sr += locked ? red(p) : MUL[a][red(p)];
              sg += locked ? green(p) : MUL[a][green(p)];
              sb += locked ? blue(p) : MUL[a][blue(p)];
            }
          if (v > 0 && locked) {
            expected = blendRGB(d, makePixel(0, uint32_t(sr / n), uint32_t(sg / n), uint32_t(sb / n)), v);
          } else if (v > 0 && sa > 0) {
            const uint32_t na = uint32_t(lerp8(int(sa / n), int(d >> 24), v));
            const uint32_t c = makePixel(0, uint32_t(sr * 255 / sa), uint32_t(sg * 255 / sa), uint32_t(sb * 255 / sa));
            expected = na == 0 ? d & 0xFFFFFF : (na << 24) | (blendRGB(d, c, v) & 0xFFFFFF);
          }
        }
        written += expected != d;
        ASSERT_EQ(At(px, py), expected) << locked << " at " << px << "," << py;
      }
    EXPECT_GT(written, 50);
    End();
  }
}

TEST_F(BrushFixture, BlurOfNothingLeavesNothing) {
  Fill(0x00FFFFFFu);  // transparent: Σa = 0
  Kind(kBrushBlur);
  Begin({20, 20, 1});
  Dab(8, 1, 20.5f, 20.5f);
  for (int32_t y = 0; y < 48; ++y)
    for (int32_t x = 0; x < 48; ++x) ASSERT_EQ(At(x, y), 0x00FFFFFFu);
  End();
}

TEST_F(BrushFixture, BlurSpreadsAlphaAndLockedBlurKeepsIt) {
  // An opaque black pixel on transparent white.
  for (bool locked : {false, true}) {
    Fill([](int32_t x, int32_t y) { return x == 10 && y == 10 ? 0xFF000000u : 0x00FFFFFFu; });
    paper.layerAt(0)->maskLock = locked;
    Kind(kBrushBlur);
    Begin({10, 10, 1});
    Dab(3, 1, 10.5f, 10.5f);
    if (locked) {
      // Plain averages of R, G, B: 8 × 255 / 9 = 226; alpha stays.
      EXPECT_EQ(At(10, 10), 0xFFE2E2E2u);
      EXPECT_EQ(At(11, 10), 0x00EBEBEBu);
    } else {
      // Premultiplied: only the black pixel counts; alpha 255 / 9 = 28.
      EXPECT_EQ(At(10, 10), 0x1C000000u);
      // Value 170: alpha lerp8(28, 0, 170) = 18, colour lerp8(0, 255, 170) = 85.
      EXPECT_EQ(At(11, 10), 0x12555555u);
    }
    End();
  }
}

TEST_F(BrushFixture, SmudgeLaysThePreviousTip) {
  // Black left of x = 16, white from there on; pen width 4: tips of 15 × 15.
  Fill([](int32_t x, int32_t) { return x < 16 ? 0xFF000000u : kWhite; });
  Kind(kBrushSmudge);
  stroke.SetWidth(4);
  stroke.SetOpacity(1);
  Begin({10.2f, 10.2f, 1});
  EXPECT_TRUE(stroke.tips[0].captured);
  EXPECT_EQ(stroke.tips[0].left, 3);
  Dab(3, 1, 20.5f, 10.5f);
  EXPECT_EQ(stroke.smudgeCaptures, 1);
  // Offset 7 − ceil(3 − 0.2) = 4 into the tip from the box at x 17: dab
  // pixel 20 takes tip column 7, layer x 10 — black, at full strength.
  EXPECT_EQ(At(20, 10), 0xFF000000u);
  // Pixel 22: layer x 12, still black; distance 2 of 3 gives 85: 170.
  EXPECT_EQ(At(22, 10), 0xFFAAAAAAu);
  EXPECT_EQ(At(24, 10), kWhite);  // distance 3: outside
  End();
}

TEST_F(BrushFixture, SmudgeTipOffsetTakesEachAxisByItsOwnFraction) {
  // Every pixel tells where it is: red 5x, green 5y.
  Fill([](int32_t x, int32_t y) { return makePixel(255, uint32_t(x * 5), uint32_t(y * 5), 0); });
  Kind(kBrushSmudge);
  stroke.SetWidth(4);
  stroke.SetOpacity(1);
  Begin({10.2f, 10.7f, 1});  // tip square from (3, 3), half-size 7
  Dab(3.5f, 1, 30.5f, 30.5f);
  // x: 7 − ceil(3.5 − 0.2) = 3 into the tip from the box at 27; y: 7 −
  // ceil(3.5 − 0.7) = 4. The centre pixel takes tip (6, 7): layer (9, 10),
  // laid whole at full strength.
  EXPECT_EQ(At(30, 30), makePixel(255, 45, 50, 0));
  End();
  // A dab wider than the pen its tip was taken for repeats the tip's edge.
  // Width 1: a 9 × 9 tip from (6, 6); radius 6 leaves no offset, so the box
  // from 24 reaches tip column 10 at x 34, which repeats column 8 (layer 14).
  stroke.SetWidth(1);
  Begin({10.2f, 10.7f, 1});
  Dab(6, 1, 30.5f, 30.5f);
  EXPECT_EQ(At(30, 30), makePixel(255, 60, 60, 0));  // tip (6, 6), whole
  // Distance 4 of 6: value 85 over (170, 150, 0).
  EXPECT_EQ(At(34, 30), makePixel(255, 136, 120, 0));
  End();
}

TEST_F(BrushFixture, SmudgeOnOnePixelPaintsNothing) {
  Fill([](int32_t x, int32_t) { return x < 16 ? 0xFF000000u : kWhite; });
  Kind(kBrushSmudge);
  stroke.SetOpacity(1);
  const std::vector<uint32_t> before = Layer();
  // Every dab lands at (15.x, 20.x): the position of the begin.
  Draw({{15.1f, 20.1f, 1}, {15.3f, 20.2f, 1}, {15.4f, 20.4f, 1}, {15.4f, 20.4f, 1}});
  EXPECT_GT(stroke.dabCount, 0);
  EXPECT_EQ(stroke.smudgeCaptures, 0);
  EXPECT_EQ(Layer(), before);
}

TEST_F(BrushFixture, SmudgeTipRepeatsTheLayerEdge) {
  // A red first column; the begin tip reaches six columns past the left edge.
  Fill([](int32_t x, int32_t) { return x == 0 ? 0xFFFF0000u : kWhite; });
  Kind(kBrushSmudge);
  stroke.SetWidth(4);
  stroke.SetOpacity(1);
  Begin({1.2f, 1.2f, 1});
  EXPECT_EQ(stroke.tips[0].left, -6);
  EXPECT_EQ(stroke.tips[0].At(0, 0), 0xFFFF0000u);
  EXPECT_EQ(stroke.tips[0].At(7, 0), 0xFFFFFFFFu);
  Dab(3, 1, 30.5f, 30.5f);
  // Pixel 28 takes tip column 5 (layer −1, repeated red) at value 85.
  EXPECT_EQ(At(28, 30), 0xFFFFAAAAu);
  EXPECT_EQ(At(30, 30), kWhite);  // tip column 7: layer x 1
  End();
}

TEST_F(BrushFixture, SmudgeOfTransparencyErodes) {
  // The tip comes from transparent pixels: the neutral colour at alpha 0.
  Fill([](int32_t x, int32_t) { return x < 16 ? 0x00000000u : 0xFF204080u; });
  Kind(kBrushSmudge);
  stroke.SetOpacity(1);
  stroke.SetWidth(4);
  Begin({5.2f, 10.2f, 1});
  Dab(3, 1, 30.5f, 10.5f);
  EXPECT_EQ(At(30, 10), 0x00204080u);  // value 255: no alpha left, colour kept
  // Value 85: alpha lerp8(0, 255, 85) = 170; the colour moves toward white by 85.
  EXPECT_EQ(At(32, 10), 0xAA6A7FAAu);
  End();
}

// Blur 2's coverage (written only by the oldest drawings) re-blurs the layer.
TEST_F(BrushFixture, Blur2RebuildWeighsTheCentreByCoverage) {
  Fill([](int32_t x, int32_t y) { return x == 10 && y == 10 ? 0xFF000000u : kWhite; });
  Kind(kBrushBlur2);
  Begin({10, 10, 1});
  flow.coverage.Row(10)[10] = 40;  // centre weight 32 − 31 = 1: 8 × 255 / 9 = 226
  flow.coverage.Row(10)[11] = 2;   // centre 30, the black neighbour 1: 37 × 255 / 38 = 248
  flow.coverage.Row(10)[9] = 1;    // below 2: the layer pixel
  flow.colour.Row(10)[9] = 0xFF123456u;
  rebuildCoverage(paper, flow, stroke, Area(0, 0, 48, 48));
  EXPECT_EQ(At(10, 10), 0xFFE2E2E2u);
  EXPECT_EQ(At(11, 10), 0xFFF8F8F8u);
  EXPECT_EQ(At(9, 10), kWhite);
  flow.coverage.Fill(0);
  End();
}

// ---- burn and dodge ----

struct LightnessCase {
  const char* name;
  int kind;
  float effect;
  uint32_t in, out;
};

TEST_F(BrushFixture, BurnAndDodgeOnGreys) {
  // Full value at the centre (profile 1, opacity 1): the pixel becomes the
  // grey of lightness (v / 255)^e × 255, e = 1 + effect × 0.002 (its
  // reciprocal for dodge), through the 2048-entry curve.
  const LightnessCase cases[] = {
      {"burn 50, 128", kBrushDarken, 50, 0xFF808080u, 0xFF777777u},   // 119
      {"burn 50, 64", kBrushDarken, 50, 0xFF404040u, 0xFF373737u},    // 55
      {"burn 100, 200", kBrushDarken, 100, 0xFFC8C8C8u, 0xFFBEBEBEu}, // 190
      {"dodge 50, 128", kBrushLighten, 50, 0xFF808080u, 0xFF888888u}, // 136
      {"dodge 100, 64", kBrushLighten, 100, 0xFF404040u, 0xFF505050u},// 80
      {"burn black", kBrushDarken, 100, 0xFF000000u, 0xFF000000u},
      {"dodge white", kBrushLighten, 100, kWhite, kWhite},
      {"burn 0", kBrushDarken, 0, 0xFF808080u, 0xFF808080u},
      {"dodge 0", kBrushLighten, 0, 0xFF808080u, 0xFF808080u},
      {"alpha kept", kBrushDarken, 50, 0x40808080u, 0x40777777u},
  };
  for (const LightnessCase& c : cases) {
    Fill(c.in);
    Kind(c.kind);
    stroke.SetEffect(c.effect);
    stroke.SetOpacity(1);
    stroke.SetColour(0xFF0000);  // the paint colour plays no part
    Begin({10, 10, 1});
    Dab(4, 1, 10.5f, 10.5f);
    EXPECT_EQ(At(10, 10), c.out) << c.name;
    End();
  }
}

TEST_F(BrushFixture, BurnAndDodgeOnSaturatedColours) {
  const uint32_t colours[] = {0xFFFF8000u, 0xFF2060E0u, 0xFF00FF00u, 0xFFC02040u, 0xFF808000u};
  for (uint32_t c : colours) {
    for (int kind : {kBrushDarken, kBrushLighten}) {
      for (float effect : {0.0f, 100.0f}) {
        Fill(c);
        Kind(kind);
        stroke.SetEffect(effect);
        stroke.SetOpacity(1);
        Begin({10, 10, 1});
        Dab(4, 1, 10.5f, 10.5f);
        const uint32_t out = At(10, 10);
        End();
        if (effect == 0) {
          // A straight curve changes nothing, whatever the HLS round trip would lose.
          EXPECT_EQ(out, c) << std::hex << c << " " << kind;
          continue;
        }
        const HLS before = rgbToHLS(c, HlsRule::Division), after = rgbToHLS(out, HlsRule::Division);
        if (kind == kBrushDarken) {
          EXPECT_LT(after.l, before.l) << std::hex << c;
          EXPECT_LE(red(out), red(c));
          EXPECT_LE(green(out), green(c));
          EXPECT_LE(blue(out), blue(c));
        } else {
          EXPECT_GT(after.l, before.l) << std::hex << c;
          EXPECT_GE(red(out), red(c));
          EXPECT_GE(green(out), green(c));
          EXPECT_GE(blue(out), blue(c));
        }
        // The hue stays within a few degrees.
        EXPECT_NEAR(after.h / 65536.0, before.h / 65536.0, 4.0) << std::hex << c;
        EXPECT_EQ(out >> 24, 0xFFu);
      }
    }
  }
}

// The target as the colour models' own conversions give it.
uint32_t convertedLightnessTarget(uint32_t d, const int32_t* curve, const int32_t* straight) {
  const HLS h = rgbToHLS(d, HlsRule::Division);
  const int32_t i = ((h.l >> 13) * 2047) / 2040;
  const int32_t shift = (curve[i] - straight[i]) * 255;
  if (shift == 0) return d & 0x00FFFFFFu;
  HLS moved = h;
  moved.l = std::clamp(h.l + shift, 0, kFix255);
  const uint32_t to = hlsToRGB(moved, HlsRule::Division), from = hlsToRGB(h, HlsRule::Division);
  uint32_t out = 0;
  for (int bits : {16, 8, 0}) {
    const int c = int((d >> bits) & 0xFF) + int((to >> bits) & 0xFF) - int((from >> bits) & 0xFF);
    out |= uint32_t(std::clamp(c, 0, 255)) << bits;
  }
  return out;
}

// The strokes' curves (burn and dodge at 0, 37 and 100 %; the strongest
// darkening one third) and one whose entries lie anywhere, so the moved
// lightness meets both of its limits.
std::vector<std::array<int32_t, kLightnessCurveSize>> testCurves() {
  std::vector<std::array<int32_t, kLightnessCurveSize>> curves;
  for (int kind : {kBrushDarken, kBrushLighten})
    for (float effect : {0.0f, 37.0f, 100.0f}) {
      TStroke s;
      s.ResetDefaults(kind);
      s.SetEffect(effect);
      buildLightnessCurve(s);
      curves.push_back(s.lightnessCurve);
    }
  std::array<int32_t, kLightnessCurveSize> scrambled{};
  for (uint32_t i = 0; i < kLightnessCurveSize; ++i) scrambled[i] = int32_t((i * 2654435761u) % 65537u);
  curves.push_back(scrambled);
  return curves;
}

// The written-out conversion against the colour models, for the strokes'
// curves and for one whose entries lie anywhere (so the moved lightness
// meets both of its limits): every grey and a million colours each.
TEST(LightnessTarget, MatchesTheColourModels) {
  const std::vector<std::array<int32_t, kLightnessCurveSize>> curves = testCurves();
  const int32_t* straight = straightLightnessCurve();
  for (const auto& curve : curves) {
    for (uint32_t g = 0; g < 256; ++g) {
      const uint32_t c = g * 0x010101u;
      ASSERT_EQ(lightnessTarget(c, curve.data(), straight), convertedLightnessTarget(c, curve.data(), straight)) << g;
    }
    uint32_t x = 2463534242u;
    for (int n = 0; n < (1 << 20); ++n) {
      x ^= x << 13, x ^= x >> 17, x ^= x << 5;
      ASSERT_EQ(lightnessTarget(x, curve.data(), straight), convertedLightnessTarget(x, curve.data(), straight))
          << std::hex << x;
    }
  }
}

// The eight-lane twin gives the scalar targets: for every colour on the
// strongest darkening curve, and for every grey, a million colours and the
// corners of the cube on the other curves.
TEST(LightnessTarget, VectorTwinMatchesTheScalarOne) {
  const SimdLevel before = simdLevel();
  if (setSimdLevel(SimdLevel::Avx2) != SimdLevel::Avx2) GTEST_SKIP() << "no AVX2";
  const std::vector<std::array<int32_t, kLightnessCurveSize>> curves = testCurves();
  const int32_t* straight = straightLightnessCurve();
  std::vector<uint32_t> in;
  for (uint32_t g = 0; g < 256; ++g) in.push_back(0xA5000000u | g * 0x010101u);
  uint32_t x = 2463534242u;
  for (int n = 0; n < (1 << 20); ++n) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    in.push_back(x);
  }
  // Near-greys and the corners of the cube, where the formulas turn.
  for (uint32_t c : {0x000000u, 0xFFFFFFu, 0xFF0000u, 0x00FF00u, 0x0000FFu, 0xFFFF00u, 0x00FFFFu, 0xFF00FFu})
    for (uint32_t d : {0x000000u, 0x010000u, 0x000100u, 0x000001u, 0x010101u}) in.push_back(c ^ d);
  std::vector<uint32_t> out(in.size());
  std::array<int32_t, kLightnessShiftSize> shift{};
  {
    const auto& curve = curves[2];  // darken at 100 %
    lightnessShifts(curve.data(), shift.data());
    std::vector<uint32_t> all(1 << 16), got(all.size());
    for (uint32_t high = 0; high < 256; ++high) {
      for (uint32_t low = 0; low < all.size(); ++low) all[low] = 0x80000000u | high << 16 | low;
      ASSERT_TRUE(lightnessTargetsAvx2(all.data(), got.data(), int32_t(all.size()), shift.data()));
      for (size_t i = 0; i < all.size(); ++i)
        ASSERT_EQ(got[i], lightnessTarget(all[i], curve.data(), straight)) << std::hex << all[i];
    }
  }
  for (const auto& curve : curves) {
    lightnessShifts(curve.data(), shift.data());
    ASSERT_TRUE(lightnessTargetsAvx2(in.data(), out.data(), int32_t(in.size()), shift.data()));
    for (size_t i = 0; i < in.size(); ++i)
      ASSERT_EQ(out[i], lightnessTarget(in[i], curve.data(), straight)) << std::hex << in[i];
  }
  setSimdLevel(before);
}

// ---- whole strokes ----

TEST_F(BrushFixture, Blur2PaintsNothingInTheCurrentGeneration) {
  FillPattern();
  Kind(kBrushBlur2);
  stroke.SetWidth(6);
  const std::vector<uint32_t> before = Layer();
  Draw({{5, 20, 1}, {40, 30, 1}, {40, 30, 1}});
  EXPECT_GT(stroke.dabCount, 0);
  EXPECT_EQ(Layer(), before);
}

struct KindCase {
  const char* name;
  int kind;
  uint32_t checksum, lockedChecksum;
};

const KindCase kKinds[] = {
    {"wc", kBrushWatercolour, 3771988810u, 2197211341u},
    {"blur", kBrushBlur, 1130656695u, 1952466912u},
    {"eraser", kBrushEraser, 2297245884u, 3116563921u},
    {"airbrush", kBrushAirbrush, 3387748827u, 2534803457u},
    {"rubpen", kBrushSmudge, 1307563293u, 1096723854u},
    // Burn and dodge change colour only: the lock makes no difference.
    {"darken", kBrushDarken, 1070409132u, 1070409132u},
    {"lighten", kBrushLighten, 4285379989u, 4285379989u},
};

class KindStrokes : public BrushFixture {
 protected:
  // The same path for every kind, with pressure, crossing the pattern's edges.
  void Stroke(int kind) {
    Kind(kind);
    stroke.SetWidth(9);
    stroke.SetEffect(std::max(stroke.effect, 40.0f));
    Draw({{2, 3, 0.3f}, {20, 12, 0.9f}, {44, 30, 1}, {30, 46, 0.6f}, {1, 40, 0.8f}, {1, 40, 0}});
  }
};

TEST_F(KindStrokes, LockedAlphaKeepsEveryAlphaByte) {
  for (const KindCase& k : kKinds) {
    FillPattern();
    paper.layerAt(0)->maskLock = true;
    const std::vector<uint32_t> before = Layer();
    Stroke(k.kind);
    EXPECT_TRUE(stroke.lockAlpha);
    const std::vector<uint32_t> after = Layer();
    int rgbChanged = 0;
    for (size_t i = 0; i < after.size(); ++i) {
      ASSERT_EQ(after[i] >> 24, before[i] >> 24) << k.name << " at " << i;
      rgbChanged += (after[i] & 0xFFFFFF) != (before[i] & 0xFFFFFF);
    }
    EXPECT_GT(rgbChanged, 50) << k.name;
  }
}

// The layer after the commit is the flow as the stroke left it, and the
// composite drawn segment by segment is the composite drawn afresh: the
// touched blocks and refreshed rectangles hold every pixel a dab wrote.
TEST_F(KindStrokes, CommitAndRefreshHoldEveryDab) {
  for (const KindCase& k : kKinds) {
    FillPattern();
    paper.recomposeAll(true);
    Kind(k.kind);
    stroke.SetWidth(9);
    stroke.SetEffect(40);
    Begin({2, 3, 0.3f});
    for (StrokePoint p : {StrokePoint{20, 12, 0.9f}, {44, 30, 1}, {30, 46, 0.6f}, {1, 40, 0.8f}, {1, 40, 0}}) Add(p);
    std::vector<uint32_t> flowPixels;
    for (int32_t y = 0; y < 48; ++y) flowPixels.insert(flowPixels.end(), flow.colour.Row(y), flow.colour.Row(y) + 48);
    const TTC& c = paper.composite();
    std::vector<uint32_t> live;
    for (int32_t y = 0; y < c.height; ++y) live.insert(live.end(), c.Row(y), c.Row(y) + c.width);
    End();
    EXPECT_EQ(Layer(), flowPixels) << k.name;
    paper.recomposeAll(true);
    std::vector<uint32_t> fresh;
    for (int32_t y = 0; y < c.height; ++y) fresh.insert(fresh.end(), c.Row(y), c.Row(y) + c.width);
    EXPECT_EQ(live, fresh) << k.name;
  }
}

// A layer smaller than the paper (and the flow buffer): dabs, samples and
// tips reaching past it stay inside it, and the layer still takes the stroke.
TEST_F(KindStrokes, SmallLayerBoundsEveryKind) {
  const int32_t index = paper.layers.AppendNew(20, 14, 1, 255, kModeNormal, false);
  ASSERT_GE(index, 1);
  CBlockVMTC& small = *paper.layerAt(index)->pixels;
  TMTC content(20, 14);
  for (const KindCase& k : kKinds) {
    for (int32_t y = 0; y < 14; ++y)
      for (int32_t x = 0; x < 20; ++x) content.Row(y)[x] = makePixel(255, uint32_t(x * 12), uint32_t(y * 18), 90);
    small.WriteFrom(content, {0, 0}, 255, Area(0, 0, 20, 14));
    ASSERT_TRUE(paper.setCurrentLayer(flow, index));
    paper.loadLayerToFlow(flow, index, true);
    Kind(k.kind);
    stroke.SetWidth(9);
    stroke.layerIndex = index;
    Draw({{-6, 3, 1}, {12, 7, 1}, {30, 16, 1}, {44, 40, 1}, {44, 40, 0}});
    TMTC after(20, 14);
    small.ReadInto(after, {0, 0}, false, 255, Area(0, 0, 20, 14));
    int changed = 0;
    for (int32_t y = 0; y < 14; ++y)
      for (int32_t x = 0; x < 20; ++x) changed += after.Row(y)[x] != content.Row(y)[x];
    EXPECT_GT(changed, 10) << k.name;
    // Beyond the layer the buffer stays as the binding left it.
    EXPECT_EQ(flow.colour.Row(30)[30], 0x00FFFFFFu) << k.name;
  }
}

// The explicit cases above pin each rule; these pin whole strokes, so that
// a change anywhere in a kind's arithmetic shows.
TEST_F(KindStrokes, GoldenChecksums) {
  for (const KindCase& k : kKinds) {
    for (bool locked : {false, true}) {
      FillPattern();
      paper.layerAt(0)->maskLock = locked;
      Stroke(k.kind);
      EXPECT_EQ(fnv1a(Layer()), locked ? k.lockedChecksum : k.checksum) << k.name << " locked " << locked;
    }
  }
}

// The vector loops of the kinds are twins of the scalar ones: the same
// golden strokes with vectors switched off, and wider ones on partly
// transparent paint, locked or not, come out the same at every level.
TEST_F(KindStrokes, VectorLoopsGiveTheScalarPixels) {
  const SimdLevel before = simdLevel();
  CBlockVCH noise(40, 40);
  for (int32_t y = 0; y < 40; ++y)
    for (int32_t x = 0; x < 40; ++x) noise.SetPixel(x, y, uint8_t((x * 37 + y * 91 + x * y) & 0xFF));
  std::unique_ptr<CMaskData> old;
  ASSERT_TRUE(paper.masks.BuildFromChannel(0, noise, kMaskNew, {4, 2}, old));
  for (const KindCase& k : kKinds)
    for (bool locked : {false, true}) {
      setSimdLevel(SimdLevel::None);
      paper.selectionEnabled = 0;
      FillPattern();
      paper.layerAt(0)->maskLock = locked;
      Stroke(k.kind);
      EXPECT_EQ(fnv1a(Layer()), locked ? k.lockedChecksum : k.checksum) << k.name << " locked " << locked;
      for (float width : {3.0f, 23.0f})
        for (bool selected : {false, true}) {
          // A selection of every strength, and a corner left out.
          paper.selectionEnabled = selected ? 1 : 0;
          std::vector<uint32_t> byLevel[3];
          for (SimdLevel level : {SimdLevel::None, SimdLevel::Sse2, SimdLevel::Avx2}) {
            setSimdLevel(level);
            FillPattern();
            paper.layerAt(0)->maskLock = locked;
            Kind(k.kind);
            stroke.SetWidth(width);
            stroke.SetEffect(60);
            Draw({{-3, 5, 0.5f}, {25, 20, 1}, {50, 44, 0.7f}, {10, 30, 1}, {10, 30, 0}});
            byLevel[int(level)] = Layer();
          }
          EXPECT_EQ(byLevel[1], byLevel[0]) << k.name << " width " << width << " selected " << selected;
          EXPECT_EQ(byLevel[2], byLevel[0]) << k.name << " width " << width << " selected " << selected;
        }
    }
  paper.selectionEnabled = 0;
  setSimdLevel(before);
}

// The blur's vector sums, fades and divisions against the scalar ones on
// random paint (transparent, partial and opaque pixels mixed): fractional
// centres and radii, kernels from 1 to 30 and every strength, at the edges
// too.
TEST_F(BrushFixture, BlurVectorDabsGiveTheScalarPixels) {
  const SimdLevel before = simdLevel();
  if (setSimdLevel(SimdLevel::Avx2) != SimdLevel::Avx2) GTEST_SKIP() << "no AVX2";
  std::mt19937 random(7);
  Fill([&](int32_t, int32_t) {
    const uint32_t a = random() % 4 == 0 ? 0 : random() % 3 == 0 ? 255 : random() & 0xFF;
    return (a << 24) | (random() & 0xFFFFFF);
  });
  std::uniform_real_distribution<float> place(-4, 52), radius(0.5f, 30), unit(0, 1);
  for (int i = 0; i < 120; ++i) {
    Kind(kBrushBlur);
    stroke.SetEffect(float(random() % 101));
    const float size = radius(random), alpha = unit(random), x = place(random), y = place(random);
    std::vector<uint32_t> byLevel[2];
    for (int vector = 0; vector < 2; ++vector) {
      setSimdLevel(vector ? SimdLevel::Avx2 : SimdLevel::None);
      paper.loadLayerToFlow(flow, 0, true);
      Dab(size, alpha, x, y);
      byLevel[vector].assign(flow.colour.Row(0), flow.colour.Row(0) + 48 * 48);
    }
    EXPECT_EQ(byLevel[1], byLevel[0]) << "size " << size << " at " << x << ", " << y << " effect " << stroke.effect;
  }
  setSimdLevel(before);
}

// After every segment of a pen stroke the buffer holds, everywhere, the
// layer with the coverage laid over it: blocks whose coverage did not grow
// may be skipped by the rebuild, never left stale. Partly transparent paint,
// pressure, through a partial selection and without one.
TEST(PenRebuild, EverySegmentLeavesTheLayerUnderItsCoverage) {
  for (bool selected : {false, true}) {
    SCOPED_TRACE(selected);
    TPaper paper;
    TFlowImage flow{paper};
    ASSERT_TRUE(paper.newPaper(flow, "t", 72, 150, 220));
    CBlockVMTC& layer = *paper.layerAt(0)->pixels;
    TMTC paint(layer.width, layer.height);
    for (int32_t y = 0; y < paint.height; ++y)
      for (int32_t x = 0; x < paint.width; ++x)
        paint.Row(y)[x] = makePixel(uint32_t(60 + (x * 7 + y * 3) % 196), uint32_t(x), uint32_t(y), 90);
    ASSERT_TRUE(layer.WriteFrom(paint, {0, 0}, 255, paint.area()));
    if (selected) {
      CBlockVCH noise(layer.width, layer.height);
      for (int32_t y = 0; y < noise.height; ++y)
        for (int32_t x = 0; x < noise.width; ++x) noise.SetPixel(x, y, uint8_t(((x * 7) ^ (y * 13)) | 0x40));
      std::unique_ptr<CMaskData> old;
      ASSERT_TRUE(paper.masks.BuildFromChannel(0, noise, kMaskNew, {0, 0}, old));
      paper.selectionEnabled = 1;
    }
    paper.loadLayerToFlow(flow, 0, true);
    TStroke stroke;
    stroke.ResetDefaults(kBrushPen);
    stroke.SetColour(0x204080);
    stroke.SetWidth(14);
    stroke.layerIndex = 0;
    StrokeSession session;
    BeginStrokeOffset(paper, flow, stroke, session, false, 0.4f, 20, 10);
    const int O = stroke.EffectiveOpacity255(false);
    for (int i = 1; i <= 40; ++i) {
      const float x = 10 + 5.0f * i, y = 20 + float((i * 37) % 110), pressure = 0.3f + float(i % 7) / 10;
      AddStrokePoint(paper, flow, stroke, session, false, pressure, y, x);
      for (int32_t py = 0; py < layer.height; ++py)
        for (int32_t px = 0; px < layer.width; ++px) {
          const uint8_t c = flow.coverage.Row(py)[px];
          const uint32_t under = layer.Pixel(px, py);
          const uint32_t want = c ? combineFinal(under, stroke.colour, mul8(c, O), false) : under;
          ASSERT_EQ(flow.colour.Row(py)[px], want) << "point " << i << " at " << px << ", " << py;
        }
    }
    EndStroke(paper, flow, stroke, session, false);
  }
}

TEST_F(KindStrokes, SameStrokeTwiceGivesTheSamePixels) {
  for (const KindCase& k : kKinds) {
    FillPattern();
    const std::vector<uint32_t> before = Layer();
    Stroke(k.kind);
    const std::vector<uint32_t> first = Layer();
    FillPattern();
    Stroke(k.kind);
    EXPECT_EQ(Layer(), first) << k.name;
    EXPECT_NE(first, before) << k.name;
  }
}

}  // namespace
}  // namespace vl

namespace vl {
namespace {

// After a stroke the flow buffer and the layer agree everywhere and no
// coverage is left, so nothing of it can show in the next stroke: also when
// the input pressed harder than 1.
TEST_F(BrushFixture, AStrokeLeavesNothingBehindInTheFlow) {
  const int kinds[] = {kBrushPen, kBrushAirbrush, kBrushWatercolour, kBrushSmudge, kBrushEraser};
  for (int kind : kinds) {
    SCOPED_TRACE(kind);
    Fill(0xFF808080u);
    Kind(kind);
    stroke.SetColour(0);
    stroke.SetWidth(6);
    Draw({{10, 24, 4}, {30, 24, 4}, {36, 24, 4}, {36, 24, 0}});
    const std::vector<uint32_t> layer = Layer();
    int differing = 0, covered = 0;
    for (int32_t y = 0; y < 48; ++y)
      for (int32_t x = 0; x < 48; ++x) {
        differing += At(x, y) != layer[size_t(y * 48 + x)];
        covered += flow.coverage.Row(y)[x] != 0;
      }
    EXPECT_EQ(differing, 0);
    EXPECT_EQ(covered, 0);
  }
}

// While the gradation is plain (the paint colour, opaque) the staged writer
// gives the pixels of the plain one.
TEST_F(BrushFixture, PlainGradationChangesNoPixel) {
  for (int kind : {kBrushWatercolour, kBrushAirbrush, kBrushPen}) {
    for (bool locked : {false, true}) {
      std::vector<uint32_t> plain;
      for (bool gradation : {false, true}) {
        FillPattern();
        paper.layerAt(0)->maskLock = locked;
        Kind(kind);
        stroke.SetWidth(9);
        stroke.SetOpacity(0.6f);
        stroke.SetUseGradation(gradation);
        Draw({{2, 3, 0.3f}, {20, 12, 0.9f}, {44, 30, 1}, {30, 46, 0.6f}, {1, 40, 0}});
        EXPECT_EQ(stroke.chain.usesGradation(), gradation);
        if (!gradation) {
          plain = Layer();
        } else {
          EXPECT_EQ(Layer(), plain) << kind << " locked " << locked;
        }
      }
    }
  }
}

// A layer away from the paper's origin: the begin action and the dabs take
// the same layer pixels for the same point.
TEST_F(BrushFixture, BeginAndDabsAgreeOnAnOffsetLayer) {
  constexpr uint32_t kA = 0xFF2080C0u, kB = 0xFFC08020u;
  paper.layerAt(0)->offsetX = 12;  // paper x 14 is layer x 26
  Fill([](int32_t x, int32_t) { return x < 20 ? kA : kB; });
  const std::vector<uint32_t> before = Layer();

  // The load is the canvas under the begin; the first dab lays it there again.
  Kind(kBrushWatercolour);
  stroke.SetEffect(100);
  stroke.SetEnv(0);
  stroke.SetSpeed(100);
  stroke.SetWidth(3);
  stroke.SetSizeByPressure(false);
  stroke.SetOpacityByPressure(false);
  Begin({14, 24, 1});
  EXPECT_EQ(stroke.wcLoaded, kB & 0xFFFFFF);
  Add({15, 24, 1});
  Add({15, 24, 1});
  EXPECT_EQ(stroke.dabCount, 1);
  End();
  EXPECT_EQ(Layer(), before);

  // The first tip is taken where the first dab lands: that dab takes none,
  // the next ones lay the canvas they came from.
  Kind(kBrushSmudge);
  stroke.SetWidth(3);
  stroke.SetOpacity(1);
  Begin({14, 24, 1});
  EXPECT_EQ(stroke.tips[0].left, 26 - 6);
  EXPECT_EQ(stroke.tips[0].top, 24 - 6);
  Add({15, 24, 1});
  Add({15, 24, 1});
  EXPECT_EQ(stroke.dabCount, 1);
  EXPECT_EQ(stroke.smudgeCaptures, 0);
  Add({18, 24, 1});
  Add({18, 24, 1});
  EXPECT_GT(stroke.smudgeCaptures, 1);
  End();
  EXPECT_EQ(Layer(), before);
}

// The pen's rebuild stays inside a layer smaller than the flow buffer.
TEST_F(BrushFixture, PenOnASmallLayerLeavesTheBufferBeyondItAlone) {
  const int32_t index = paper.layers.AppendNew(20, 14, 1, 255, kModeNormal, false);
  ASSERT_GE(index, 1);
  ASSERT_TRUE(paper.setCurrentLayer(flow, index));
  paper.loadLayerToFlow(flow, index, true);
  Kind(kBrushPen);
  stroke.SetWidth(9);
  stroke.layerIndex = index;
  for (int i = 0; i < 3; ++i) {
    Draw({{-6, 3, 1}, {12, 7, 1}, {30, 16, 1}, {44, 40, 1}, {44, 40, 0}});
    EXPECT_EQ(flow.colour.Row(10)[30], 0x00FFFFFFu) << i;
  }
}

}  // namespace
}  // namespace vl

namespace vl {
namespace {

// ---- the oldest drawings ----

class LegacyBrushes : public BrushFixture {
 protected:
  void SetUp() override {
    paper.drawGeneration = DrawGeneration::Legacy;
    BrushFixture::SetUp();
  }
  void LegacyDab(float size, float alpha, float pressure, float x, float y) {
    paintLegacyDab(paper, flow, stroke, size, alpha, pressure, y, x);
  }
  // The same path for every kind, crossing the pattern's transparent band.
  void Stroke(int kind) {
    Kind(kind);
    stroke.SetWidth(7);
    stroke.SetEffect(40);
    Draw({{2, 3, 0.3f}, {20, 12, 0.9f}, {44, 30, 1}, {30, 46, 0.6f}, {1, 40, 0.8f}, {1, 40, 0}});
  }
};

TEST_F(LegacyBrushes, WatercolourSamplesOneBeyondTheRadiusOnBothSides) {
  // Red 96 everywhere but at the sample points of a radius-3 dab at
  // (20.5, 20.5): 100 at +4 on each axis, 104 at −4, and 88 where the
  // current generation's lower samples (−3 + 1) would fall.
  Fill([](int32_t x, int32_t y) {
    const auto at = [&](int32_t a, int32_t b) { return (x == a && y == b) || (x == b && y == a); };
    const uint32_t r = at(20, 24) ? 100 : at(20, 16) ? 104 : at(20, 18) ? 88 : 96;
    return makePixel(255, r, 96, 96);
  });
  Kind(kBrushWatercolour);
  stroke.SetEnv(100);
  Begin({40, 40, 1});
  EXPECT_EQ(stroke.wcSampleR, 96.0f);
  LegacyDab(3, 1, 1, 20.5f, 20.5f);
  EXPECT_EQ(stroke.wcSampleR, 102.0f);  // (100 + 104 + 100 + 104) / 4, within ten
  EXPECT_EQ(stroke.wcSampleG, 96.0f);
  End();
}

TEST_F(LegacyBrushes, WatercolourSizeRunsFromAThirdOfTheWidth) {
  // At pressure 0 the radius is 12 / 3 = 4, whatever MIN says.
  Fill(kWhite);
  Kind(kBrushWatercolour);
  stroke.SetWidth(12);
  stroke.SetMinSize(100);
  stroke.SetOpacityByPressure(false);
  stroke.SetSoftEdge(false);
  stroke.SetSpeed(0);
  stroke.SetEnv(0);
  Draw({{10, 24, 0}, {30, 24, 0}, {30, 24, 0}});
  const std::vector<uint32_t> after = Layer();
  EXPECT_NE(after[27 * 48 + 20], kWhite);  // corner (20, 28) lies 3.5 below the centre row
  EXPECT_EQ(after[29 * 48 + 20], kWhite);  // all corners 4.5 or more away
}

TEST_F(LegacyBrushes, BlurReachesTheWidthWithAKernelOfTheWidth) {
  // One black pixel on white; width 3, effect 70: kernel trunc(2.1) = 2, radius 3
  // however small the walk's size.
  Fill([](int32_t x, int32_t y) { return x == 10 && y == 10 ? 0xFF000000u : kWhite; });
  Kind(kBrushBlur);
  stroke.SetWidth(3);
  stroke.SetEffect(70);
  stroke.SetOpacity(0.2f);  // not applied
  Begin({10, 10, 1});
  LegacyDab(1, 1, 1, 10.5f, 10.5f);
  const BlurCase cases[] = {
      {"centre: 24 × 255 / 25", 10, 10, 0xFFF4F4F4u},
      {"distance 2: value 85, lerp8(244, 255, 85)", 12, 10, 0xFFFBFBFBu},
      {"distance 3 is outside", 13, 10, kWhite},
  };
  for (const BlurCase& c : cases) EXPECT_EQ(At(c.x, c.y), c.expected) << c.name;
  End();
}

TEST_F(LegacyBrushes, EraserPaintsTheNeutralColourOverTheWidth) {
  // Width 5 at (10, 10), pressure 0.5: V = 127 whatever the opacity, radius 5
  // whatever the walk's size; the neutral colour of the layer's mode is white.
  const uint32_t d = 0xFF336699u;
  const EraserCase cases[] = {
      {"centre", false, false, 10, 10, blendRGB(d, 0xFFFFFF, 127)},
      {"all 16 points in", false, false, 14, 10, blendRGB(d, 0xFFFFFF, 127)},
      {"13 of 16: 127 × 13 / 16", false, false, 13, 13, blendRGB(d, 0xFFFFFF, 103)},
      {"outside", false, false, 15, 10, d},
      {"soft: 127 × 215 >> 8", true, false, 12, 10, blendRGB(d, 0xFFFFFF, 106)},
      {"soft centre: 127 × 255 >> 8", true, false, 10, 10, blendRGB(d, 0xFFFFFF, 126)},
  };
  for (const EraserCase& c : cases) {
    Fill(d);
    Kind(kBrushEraser);
    stroke.SetWidth(5);
    stroke.SetOpacity(0.3f);
    stroke.SetSoftEdge(c.soft);
    Begin({10, 10, 1});
    LegacyDab(1, 0.5f, 0.5f, 10, 10);
    EXPECT_EQ(At(c.x, c.y), c.expected) << c.name;
    End();
  }
}

TEST_F(LegacyBrushes, Blur2WritesCoverageThatTheRebuildBlurs) {
  Fill([](int32_t x, int32_t y) { return x == 10 && y == 10 ? 0xFF000000u : kWhite; });
  Kind(kBrushBlur2);
  stroke.SetWidth(3);
  Begin({10, 10, 1});
  LegacyDab(1, 1, 0.5f, 10.5f, 10.5f);
  // trunc(0.5 × 32) = 16 where all 25 fifths are inside; 10 of 25 at x 13.
  EXPECT_EQ(flow.coverage.Row(10)[10], 16);
  EXPECT_EQ(flow.coverage.Row(10)[13], 6);
  EXPECT_EQ(flow.coverage.Row(10)[14], 0);
  rebuildCoverage(paper, flow, stroke, Area(0, 0, 48, 48));
  EXPECT_EQ(At(10, 10), 0xFF555555u);  // centre weight 16 on black: 8 × 255 / 24
  EXPECT_EQ(At(11, 10), 0xFFF4F4F4u);  // 23 × 255 / 24
  End();

  // Through the walk: the segments' rebuild blurs the layer, and the end
  // leaves no coverage behind.
  FillPattern();
  const std::vector<uint32_t> before = Layer();
  Stroke(kBrushBlur2);
  const std::vector<uint32_t> after = Layer();
  int changed = 0;
  for (size_t i = 0; i < after.size(); ++i) {
    ASSERT_EQ(after[i] >> 24, before[i] >> 24) << i;
    changed += after[i] != before[i];
  }
  EXPECT_GT(changed, 100);
  for (int32_t y = 0; y < 48; ++y)
    for (int32_t x = 0; x < 48; ++x) ASSERT_EQ(flow.coverage.Row(y)[x], 0);
}

TEST_F(LegacyBrushes, LaterKindsPaintNothing) {
  for (int kind : {kBrushAirbrush, kBrushSmudge, kBrushDarken, kBrushLighten}) {
    FillPattern();
    const std::vector<uint32_t> before = Layer();
    Stroke(kind);
    EXPECT_GT(stroke.dabCount, 0) << kind;
    EXPECT_EQ(Layer(), before) << kind;
  }
}

// Replaying, every colour write keeps the destination alpha; drawing, the
// normal combine gives the transparent band alpha.
TEST_F(LegacyBrushes, ReplayKeepsEveryAlphaByte) {
  for (bool replaying : {true, false}) {
    for (int kind : {kBrushPen, kBrushWatercolour, kBrushBlur, kBrushEraser}) {
      FillPattern();
      paper.playingBack = replaying;
      const std::vector<uint32_t> before = Layer();
      Stroke(kind);
      const std::vector<uint32_t> after = Layer();
      int alphaChanged = 0, rgbChanged = 0;
      for (size_t i = 0; i < after.size(); ++i) {
        alphaChanged += (after[i] >> 24) != (before[i] >> 24);
        rgbChanged += (after[i] & 0xFFFFFF) != (before[i] & 0xFFFFFF);
      }
      EXPECT_GT(rgbChanged, 50) << kind << " " << replaying;
      if (replaying) {
        EXPECT_EQ(alphaChanged, 0) << kind;
      } else if (kind != kBrushBlur) {
        EXPECT_GT(alphaChanged, 10) << kind;
      }
    }
  }
}

}  // namespace
}  // namespace vl

namespace vl {
namespace {

// The left half of the paper selected, the right half not.
TEST_F(BrushFixture, EveryKindPaintsOnlyThroughTheSelection) {
  const std::vector<StrokePoint> points = {{4, 20, 1}, {12, 22, 1}, {24, 24, 0.8f}, {36, 26, 1}, {44, 27, 1}};
  for (int kind = 0; kind < kBrushKindCount; ++kind) {
    if (kind == kBrushBlur2) continue;  // paints nothing on its own
    SCOPED_TRACE(kind);
    FillPattern();
    const std::vector<uint32_t> before = Layer();
    Kind(kind);
    stroke.SetWidth(6);
    stroke.SetEffect(60);
    stroke.SetEnv(50);
    paper.selectionEnabled = 0;
    Draw(points);
    const std::vector<uint32_t> unmasked = Layer();
    FillPattern();
    CBlockVCH half(24, 48);
    half.FillArea(Area(0, 0, 24, 48), 255);
    std::unique_ptr<CMaskData> old;
    ASSERT_TRUE(paper.masks.BuildFromChannel(0, half, kMaskNew, {0, 0}, old));
    paper.selectionEnabled = 1;
    Kind(kind);
    stroke.SetWidth(6);
    stroke.SetEffect(60);
    stroke.SetEnv(50);
    Draw(points);
    const std::vector<uint32_t> masked = Layer();
    paper.masks.Clear(0);
    paper.selectionEnabled = 0;
    int changedInside = 0;
    for (int32_t y = 0; y < 48; ++y)
      for (int32_t x = 0; x < 48; ++x) {
        const size_t i = size_t(y * 48 + x);
        if (x >= 24) {
          ASSERT_EQ(masked[i], before[i]) << "outside at " << x << "," << y;
          continue;
        }
        changedInside += masked[i] != before[i];
        // Smudge and watercolour carry colour picked up along the way, which
        // differs once the right half stays unpainted.
        if (kind != kBrushSmudge && kind != kBrushWatercolour) {
          ASSERT_EQ(masked[i], unmasked[i]) << "inside at " << x << "," << y;
        }
      }
    EXPECT_GT(changedInside, 0);
  }
}

TEST_F(BrushFixture, ASelectionChangedBetweenStrokesIsTheOneTheNextStrokeUses) {
  CBlockVCH half(48, 48);
  half.FillArea(Area(0, 0, 24, 48), 255);
  std::unique_ptr<CMaskData> old;
  ASSERT_TRUE(paper.masks.BuildFromChannel(0, half, kMaskNew, {0, 0}, old));
  paper.selectionEnabled = 1;
  Kind(kBrushPen);
  stroke.SetWidth(4);
  stroke.SetColour(0x000000);
  const std::vector<StrokePoint> line = {{2, 20, 1}, {12, 20, 1}, {24, 20, 1}, {36, 20, 1}, {46, 20, 1}, {47, 20, 1}};
  for (int pass = 0; pass < 3; ++pass) {
    SCOPED_TRACE(pass);
    Fill(kWhite);
    Draw(line);
    const bool leftSelected = pass != 1;
    EXPECT_EQ(paper.layerAt(0)->pixels->Pixel(10, 20) != kWhite, leftSelected);
    EXPECT_EQ(paper.layerAt(0)->pixels->Pixel(34, 20) != kWhite, !leftSelected);
    // In place, then back, then moved: each time the next stroke must see it.
    if (pass == 0 || pass == 1) {
      ASSERT_TRUE(paper.masks.InvertInPlace(0));
    }
  }
  paper.masks.At(0)->originX = 24;  // the selection moves 24 pixels left: nothing left of 24
  Fill(kWhite);
  Draw(line);
  EXPECT_EQ(paper.layerAt(0)->pixels->Pixel(10, 20), kWhite);
}

TEST_F(BrushFixture, APartSelectionScalesThePensValue) {
  Fill(kWhite);
  CBlockVCH part(48, 48);
  part.FillArea(Area(0, 0, 48, 48), 128);
  std::unique_ptr<CMaskData> old;
  ASSERT_TRUE(paper.masks.BuildFromChannel(0, part, kMaskNew, {0, 0}, old));
  paper.selectionEnabled = 1;
  Kind(kBrushPen);
  stroke.SetWidth(8);
  stroke.SetSizeByPressure(false);
  stroke.SetOpacityByPressure(false);
  stroke.SetColour(0x000000);
  Draw({{10, 20, 1}, {20, 20, 1}, {30, 20, 1}});
  EXPECT_EQ(paper.layerAt(0)->pixels->Pixel(20, 20), blendRGB(kWhite, 0, 128));
}

}  // namespace
}  // namespace vl
