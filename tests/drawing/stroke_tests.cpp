#include "drawing/stroke.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "document/blend_modes.h"
#include "document/paper.h"
#include "drawing/stroke_protocol.h"

namespace vl {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// ---- settings ----

struct ClampCase {
  const char* name;
  void (TStroke::*set)(float);
  float TStroke::*field;
  float in, out;
};

TEST(StrokeSettings, SettersClamp) {
  const ClampCase cases[] = {
      {"width 0", &TStroke::SetWidth, &TStroke::width, 0, 0.1f},
      {"width high", &TStroke::SetWidth, &TStroke::width, 500, 200},
      {"width NaN", &TStroke::SetWidth, &TStroke::width, kNaN, 0.1f},
      {"spacing 0", &TStroke::SetSpacing, &TStroke::spacing, 0, 0.02f},
      {"spacing high", &TStroke::SetSpacing, &TStroke::spacing, 3, 2},
      {"gamma 0", &TStroke::SetGamma, &TStroke::gamma, 0, 0.01f},
      {"gamma high", &TStroke::SetGamma, &TStroke::gamma, 7, 6},
      {"gamma NaN", &TStroke::SetGamma, &TStroke::gamma, kNaN, 0.01f},
      {"opacity 0", &TStroke::SetOpacity, &TStroke::opacity, 0, 0.01f},
      {"opacity high", &TStroke::SetOpacity, &TStroke::opacity, 1.5f, 1},
      {"minSize low", &TStroke::SetMinSize, &TStroke::minSize, -3, 0},
      {"minSize high", &TStroke::SetMinSize, &TStroke::minSize, 150, 100},
      {"effect high", &TStroke::SetEffect, &TStroke::effect, 101, 100},
      {"env low", &TStroke::SetEnv, &TStroke::env, -1, 0},
      {"speed high", &TStroke::SetSpeed, &TStroke::speed, 1e9f, 100},
      {"inside", &TStroke::SetWidth, &TStroke::width, 37.5f, 37.5f},
  };
  for (const ClampCase& c : cases) {
    TStroke s;
    (s.*c.set)(c.in);
    EXPECT_EQ(s.*c.field, c.out) << c.name;
  }
}

TEST(StrokeSettings, AdjustersClamp) {
  TStroke s;
  s.SetWidth(10);
  s.AdjustWidth(-50);
  EXPECT_EQ(s.width, 0.1f);
  s.AdjustWidth(1000);
  EXPECT_EQ(s.width, 200);
  s.SetMinSize(90);
  s.AdjustMinSize(20);
  EXPECT_EQ(s.minSize, 100);
  s.AdjustEffect(-5);
  EXPECT_EQ(s.effect, 0);
  s.AdjustEnv(250);
  EXPECT_EQ(s.env, 100);
  s.AdjustSpeed(-1);
  EXPECT_EQ(s.speed, 0);
}

TEST(StrokeSettings, ChangedOnlyOnChange) {
  TStroke s;
  s.SetWidth(7);
  s.SetOpacityByPressure(false);
  s.SetColour(0x123456);
  s.changed = false;
  s.SetWidth(7);
  s.SetOpacityByPressure(false);
  s.SetColour(0x123456);
  s.SetWidth(0.1f);  // clamped to the same 0.1 as below
  s.changed = false;
  s.SetWidth(0);
  EXPECT_FALSE(s.changed);
  s.SetGamma(2);
  EXPECT_TRUE(s.changed);
  s.changed = false;
  s.SetSoftEdge(true);
  EXPECT_TRUE(s.changed);
  s.changed = false;
  s.SetColour(0xFF123456);  // the alpha byte is no part of the colour
  EXPECT_FALSE(s.changed);
  s.SetColour(0x654321);
  EXPECT_TRUE(s.changed);
}

struct DefaultsRow {
  int kind;
  float minSize, width, effect, env, speed, spacing, opacity;
  bool size, transparency, edge;
};

TEST(StrokeSettings, ResetDefaultsPerKind) {
  const DefaultsRow rows[] = {
      {kBrushPen, 75, 1, 0, 0, 0, 0.5f, 1, true, true, false},
      {kBrushWatercolour, 33.3f, 16, 65, 40, 30, 0.5f, 1, true, true, false},
      {kBrushBlur, 100, 12, 10, 0, 0, 0.5f, 1, false, false, false},
      {kBrushEraser, 100, 12, 0, 0, 0, 0.5f, 1, false, true, true},
      {kBrushBlur2, 0, 0.1f, 0, 0, 0, 0.5f, 1, false, false, false},
      {kBrushAirbrush, 60, 30, 0, 0, 0, 0.15f, 0.1f, true, true, false},
      {kBrushSmudge, 60, 15, 0, 0, 0, 0.04f, 0.6f, false, true, false},
      {kBrushDarken, 60, 25, 50, 0, 0, 0.15f, 0.2f, true, true, false},
      {kBrushLighten, 60, 25, 50, 0, 0, 0.15f, 0.2f, true, true, false},
  };
  for (const DefaultsRow& r : rows) {
    // Start from settings every kind overwrites.
    TStroke s;
    s.SetWidth(99);
    s.SetGamma(3);
    s.SetEffect(77);
    s.SetEnv(77);
    s.SetSpeed(77);
    s.SetSpacing(1.5f);
    s.SetOpacity(0.5f);
    s.SetSizeByPressure(true);
    s.SetOpacityByPressure(true);
    s.SetSoftEdge(true);
    s.SetUseTone(true);
    s.SetUseGradation(true);
    s.ResetDefaults(r.kind);
    EXPECT_EQ(s.kind, r.kind);
    EXPECT_EQ(s.minSize, r.minSize) << r.kind;
    EXPECT_EQ(s.width, r.width) << r.kind;
    EXPECT_EQ(s.effect, r.effect) << r.kind;
    EXPECT_EQ(s.env, r.env) << r.kind;
    EXPECT_EQ(s.speed, r.speed) << r.kind;
    EXPECT_EQ(s.spacing, r.spacing) << r.kind;
    EXPECT_EQ(s.opacity, r.opacity) << r.kind;
    EXPECT_EQ(s.sizeByPressure, r.size) << r.kind;
    EXPECT_EQ(s.opacityByPressure, r.transparency) << r.kind;
    EXPECT_EQ(s.softEdge, r.edge) << r.kind;
    EXPECT_EQ(s.gamma, 1) << r.kind;
    EXPECT_FALSE(s.useTone || s.useGradation) << r.kind;
  }
}

// The fixed fractions are decimal literals: with (1.0f / 6) a pen of width 12
// would put a dab every second step instead of every third.
TEST(StrokeSettings, EffectiveSpacingKeepsTheLiterals) {
  EXPECT_EQ(std::ceil((1.0f / 6) * 12), 2.0f);
  TStroke s;
  s.ResetDefaults(kBrushPen);
  s.SetWidth(12);
  EXPECT_EQ(s.EffectiveSpacing(), 0.1666667f);
  EXPECT_EQ(int(std::ceil(s.EffectiveSpacing() * s.width)), 3);
  s.ResetDefaults(kBrushWatercolour);
  EXPECT_EQ(s.EffectiveSpacing(), 0.0833333f);
  s.ResetDefaults(kBrushEraser);
  EXPECT_EQ(s.EffectiveSpacing(), 0.25f);
  s.ResetDefaults(kBrushAirbrush);
  EXPECT_EQ(s.EffectiveSpacing(), 0.15f);
  s.spacing = 0.001f;  // below what the setter allows: still never under 0.02
  EXPECT_EQ(s.EffectiveSpacing(), 0.02f);
}

TEST(StrokeSettings, MinimumSizeFractionByCompatLevel) {
  struct Row {
    int kind, compat;
    float expected;
  } rows[] = {
      {kBrushWatercolour, 2, 0.5f}, {kBrushWatercolour, 0, 0.333f}, {kBrushWatercolour, -1, 0.333f},
      {kBrushBlur, 0, 1.0f},        {kBrushBlur, 2, 0.5f},          {kBrushPen, 0, 0.5f},
      {kBrushAirbrush, 0, 0.5f},
  };
  for (const Row& r : rows) {
    TStroke s;
    s.ResetDefaults(r.kind);
    s.SetMinSize(50);
    s.compatLevel = r.compat;
    EXPECT_EQ(s.MinSizeFraction(), r.expected) << r.kind << " at " << r.compat;
  }
}

TEST(StrokeSettings, EffectiveOpacity) {
  TStroke s;
  s.SetOpacity(0.5f);
  EXPECT_EQ(s.EffectiveOpacity(false), 0.5f);
  EXPECT_EQ(s.EffectiveOpacity255(false), 127);
  EXPECT_EQ(s.EffectiveOpacity(true), 1.0f);
  EXPECT_EQ(s.EffectiveOpacity255(true), 255);
}

// ---- geometry ----

TEST(StrokeGeometry, SmoothingAveragesWithThePreviousSmoothedPoint) {
  TStroke s;
  s.ResetForBegin(0, 0, 0);
  s.PushPoint({8, 4, 1});
  EXPECT_EQ(s.history[0].x, 8);
  EXPECT_EQ(s.history[1].x, 4);
  EXPECT_EQ(s.history[1].y, 2);
  EXPECT_EQ(s.history[1].pressure, 0.5f);
  s.PushPoint({8, 4, 1});
  EXPECT_EQ(s.history[1].x, 6);  // (8 + 4) / 2: the point is never reached exactly
  EXPECT_EQ(s.history[1].pressure, 0.75f);
  EXPECT_EQ(s.history[2].x, 4);
  EXPECT_EQ(s.history[7].x, 0);

  // Unsmoothed, the drawn point is the previous input: a segment is drawn
  // up to a point once the next one arrives.
  TStroke raw;
  raw.noSmoothing = true;
  raw.ResetForBegin(0, 0, 0);
  raw.PushPoint({8, 4, 1});
  EXPECT_EQ(raw.history[0].x, 8);
  EXPECT_EQ(raw.history[1].x, 0);
  raw.PushPoint({9, 5, 1});
  EXPECT_EQ(raw.history[1].x, 8);
  EXPECT_EQ(raw.history[1].pressure, 1.0f);
}

TEST(StrokeGeometry, BoundsBecomeEvenAlignedRectangles) {
  struct Row {
    float minX, maxX, minY, maxY;
    Area expected;
  } rows[] = {
      {0.5f, 10.2f, 3.0f, 4.0f, Area(0, 2, 12, 2)},      // ceil(10.2) + 1 = 12; ceil(4) + 1 = 5 → 4
      {1.0f, 1.0f, 1.0f, 1.0f, Area(0, 0, 2, 2)},
      {-3.5f, -0.5f, -1.0f, 2.5f, Area(-4, -2, 4, 6)},   // floors round toward −∞ before evening
      {65535, -65535, 65535, -65535, Area()},            // a stroke that drew nothing
      {5, 4, 0, 10, Area()},
  };
  for (const Row& r : rows) {
    const Area a = boundsToArea(r.minX, r.maxX, r.minY, r.maxY);
    EXPECT_EQ(a.x, r.expected.x);
    EXPECT_EQ(a.y, r.expected.y);
    EXPECT_EQ(a.width, r.expected.width);
    EXPECT_EQ(a.height, r.expected.height);
  }
}

TEST(StrokeGeometry, SegmentBoundsGrowByWidthPlusTwoAndUnion) {
  TStroke s;
  s.noSmoothing = true;
  s.SetWidth(3);
  s.ResetForBegin(10, 20, 0);
  EXPECT_TRUE(s.StrokeArea().empty());
  s.PushPoint({30, 25, 1});
  s.PushPoint({31, 60, 1});  // unsmoothed: the segment runs to the previous input
  s.UpdateSegmentBounds(0, 0);
  EXPECT_EQ(s.segMinX, 5);
  EXPECT_EQ(s.segMaxX, 35);
  EXPECT_EQ(s.segMinY, 15);
  EXPECT_EQ(s.segMaxY, 30);
  s.PushPoint({31, 60, 1});
  s.UpdateSegmentBounds(0, 0);
  EXPECT_EQ(s.segMinX, 25);
  EXPECT_EQ(s.segMinY, 20);
  EXPECT_EQ(s.strokeMinX, 5);
  EXPECT_EQ(s.strokeMaxX, 36);
  EXPECT_EQ(s.strokeMinY, 15);
  EXPECT_EQ(s.strokeMaxY, 65);
  const Area a = s.StrokeArea();
  EXPECT_EQ(a.x, 4);
  EXPECT_EQ(a.y, 14);
  EXPECT_EQ(a.right(), 36);
  EXPECT_EQ(a.bottom(), 66);
}

// ---- a paper to draw on ----

bool inside(const Area& r, int32_t x, int32_t y) {
  return x >= r.x && y >= r.y && x < r.right() && y < r.bottom();
}

uint32_t fnv1a(const std::vector<uint32_t>& pixels) {
  uint32_t h = 2166136261u;
  for (uint32_t p : pixels)
    for (int i = 0; i < 4; ++i) {
      h ^= (p >> (8 * i)) & 0xFF;
      h *= 16777619u;
    }
  return h;
}

class StrokeFixture : public ::testing::Test {
 protected:
  void SetUp() override { Make(64, 64, DrawGeneration::Current); }

  void Make(int32_t w, int32_t h, DrawGeneration generation) {
    paper.drawGeneration = generation;
    ASSERT_TRUE(paper.newPaper(flow, "t", 72, h, w));
    stroke.ResetDefaults(kBrushPen);
    stroke.SetColour(0x204080);
    stroke.layerIndex = 0;
  }

  std::vector<uint32_t> Layer() const {
    const CLayerData* l = paper.layerAt(0);
    TMTC buf;
    EXPECT_TRUE(buf.Resize(l->pixels->width, l->pixels->height));
    l->pixels->ReadInto(buf, {0, 0}, false, 255, Area(buf.size()));
    std::vector<uint32_t> out;
    for (int32_t y = 0; y < buf.height; ++y) out.insert(out.end(), buf.Row(y), buf.Row(y) + buf.width);
    return out;
  }

  std::vector<uint32_t> Composite() const {
    const TTC& c = paper.composite();
    std::vector<uint32_t> out;
    for (int32_t y = 0; y < c.height; ++y) out.insert(out.end(), c.Row(y), c.Row(y) + c.width);
    return out;
  }

  std::vector<uint8_t> Coverage() const {
    std::vector<uint8_t> out;
    for (int32_t y = 0; y < paper.height; ++y) {
      const uint8_t* row = flow.coverage.Row(y);
      out.insert(out.end(), row, row + paper.width);
    }
    return out;
  }

  // A stroke through the protocol directly, without the window's point filter.
  void Begin(StrokePoint p) { BeginStrokeOffset(paper, flow, stroke, session, false, p.pressure, p.y, p.x); }
  void Add(StrokePoint p) { AddStrokePoint(paper, flow, stroke, session, false, p.pressure, p.y, p.x); }
  Area End() { return EndStroke(paper, flow, stroke, session, false); }
  Area Draw(const std::vector<StrokePoint>& points) {
    Begin(points[0]);
    for (size_t i = 1; i < points.size(); ++i) Add(points[i]);
    return End();
  }
  // Pen without pressure: every dab at full size and full value.
  void PlainPen(float width) {
    stroke.ResetDefaults(kBrushPen);
    stroke.SetColour(0x204080);
    stroke.SetWidth(width);
    stroke.SetSizeByPressure(false);
    stroke.SetOpacityByPressure(false);
    stroke.noSmoothing = true;
  }

  TPaper paper;
  TFlowImage flow{paper};
  TStroke stroke;
  StrokeSession session;
};

// ---- the walk ----

struct WalkCase {
  const char* name;
  int kind;
  float width;
  StrokePoint from, to;
  int steps, dabs;
};

TEST_F(StrokeFixture, WalkStepsAndDabIntervals) {
  const WalkCase cases[] = {
      // k = ceil(0.25 × 12) = 3: steps 0, 3, … 27.
      {"eraser 12, k 3", kBrushEraser, 12, {10, 30, 1}, {40, 30, 1}, 30, 10},
      // Pen of 12: ceil(0.1666667 × 12) = 3, not the 2 of 1/6.
      {"pen 12, k 3", kBrushPen, 12, {10, 30, 1}, {40, 30, 1}, 30, 10},
      {"pen 7 every step", kBrushPen, 7, {10, 30, 1}, {40, 30, 1}, 30, 30},
      {"pen 1.5 half steps", kBrushPen, 1.5f, {10, 30, 1}, {40, 30, 1}, 60, 60},
      {"eraser 2.5 thin, half steps", kBrushEraser, 2.5f, {10, 30, 1}, {40, 30, 1}, 60, 60},
      {"y major", kBrushEraser, 12, {30, 10, 1}, {32, 25, 1}, 15, 5},
      {"short segment is one step", kBrushEraser, 12, {30, 10, 1}, {30.5f, 10.25f, 1}, 1, 1},
      {"zero length draws nothing", kBrushPen, 12, {30, 10, 1}, {30, 10, 1}, 0, 0},
      {"airbrush uses the spacing setting", kBrushAirbrush, 20, {10, 30, 1}, {40, 30, 1}, 30, 10},
  };
  for (const WalkCase& c : cases) {
    stroke.ResetDefaults(c.kind);
    stroke.SetWidth(c.width);
    stroke.SetSizeByPressure(false);
    stroke.noSmoothing = true;
    Begin(c.from);
    stroke.history[0] = stroke.history[1] = stroke.history[2] = c.from;
    Add(c.to);
    Add(c.to);
    EXPECT_EQ(stroke.stepCount, c.steps) << c.name;
    EXPECT_EQ(stroke.dabCount, c.dabs) << c.name;
    End();
  }
}

TEST_F(StrokeFixture, IntervalPatternRunsAcrossSegments) {
  stroke.ResetDefaults(kBrushEraser);
  stroke.noSmoothing = true;
  Begin({10, 30, 1});
  Add({20, 30, 1});
  Add({30, 30, 1});  // steps 0 … 9: dabs at 0, 3, 6, 9
  EXPECT_EQ(stroke.dabCount, 4);
  Add({30, 30, 1});  // steps 10 … 19: dabs at 12, 15, 18
  EXPECT_EQ(stroke.dabCount, 7);
  EXPECT_EQ(stroke.stepCount, 20);
  End();
}

TEST_F(StrokeFixture, DiagonalWalksUnitStepsOnBothAxes) {
  PlainPen(4);
  Begin({0, 0, 1});
  Add({10, 10, 1});
  Add({10, 10, 1});
  EXPECT_EQ(stroke.stepCount, 10);
  EXPECT_EQ(stroke.dabCount, 10);
  // Ten steps of (+1, +1) from the half-pixel offset start.
  EXPECT_EQ(stroke.walkX, 10.5f);
  EXPECT_EQ(stroke.walkY, 10.5f);
  EXPECT_EQ(stroke.direction, 1);
  End();
}

TEST_F(StrokeFixture, UnknownKindDrawsNothing) {
  PlainPen(6);
  stroke.kind = 12;  // as a damaged packet could set it
  Begin({10, 10, 1});
  Add({40, 40, 1});
  EXPECT_EQ(stroke.stepCount, 0);
  for (uint8_t c : Coverage()) ASSERT_EQ(c, 0);
  End();
}

TEST_F(StrokeFixture, TaperedEndFollowsTheSmoothedPressure) {
  stroke.ResetDefaults(kBrushPen);
  Begin({10, 10, 0});
  Add({30, 10, 1});  // smoothed to (20, 10, 0.5)
  Add({30, 10, 0});  // release: smoothed to (25, 10, 0.25)
  EXPECT_EQ(stroke.history[1].x, 25);
  EXPECT_EQ(stroke.history[1].pressure, 0.25f);
  EXPECT_EQ(stroke.history[2].pressure, 0.5f);
  End();
}

TEST_F(StrokeFixture, AbsurdPointsDrawNothing) {
  const StrokePoint bad[] = {{1e12f, 10, 1}, {10, -3e9f, 1}, {kNaN, 10, 1}, {20, 20, kNaN}};
  for (DrawGeneration g : {DrawGeneration::Current, DrawGeneration::Legacy}) {
    for (const StrokePoint& p : bad) {
      paper.drawGeneration = g;
      PlainPen(6);
      stroke.SetOpacityByPressure(true);
      Begin({10, 10, 1});
      Add(p);
      Add(p);
      EXPECT_EQ(stroke.stepCount, 0);
      End();
    }
  }
  for (uint8_t c : Coverage()) ASSERT_EQ(c, 0);
}

TEST_F(StrokeFixture, TravelAccumulatesInBothGenerations) {
  for (DrawGeneration g : {DrawGeneration::Current, DrawGeneration::Legacy}) {
    paper.drawGeneration = g;
    PlainPen(6);
    Begin({10, 30, 0.5f});
    stroke.history[0].pressure = stroke.history[1].pressure = stroke.history[2].pressure = 0.5f;
    Add({40, 34, 0.5f});
    Add({40, 34, 0.5f});
    // 30 steps of 4 × hypot(30, 4) / 30, weighted by the pressure.
    const float perStep = std::sqrt(30.0f * 30.0f + 4.0f * 4.0f) / 30 * 4;
    float expected = 0;
    for (int i = 0; i < 30; ++i) expected += perStep * 0.5f;
    EXPECT_EQ(stroke.travel, expected) << int(g);
    End();
  }
}

TEST_F(StrokeFixture, PressureAboveOneSaturates) {
  PlainPen(6);
  Begin({10, 10, 1});
  stroke.dabCount = 5;  // past the first discs: one-dimensional spans
  paintDab(paper, flow, stroke, 6, 1.5f, 30.5f, 30.5f);
  EXPECT_EQ(flow.coverage.Row(30)[30], 255);
  End();
}

TEST_F(StrokeFixture, StrokeOnAMissingLayerChangesNothing) {
  const std::vector<uint32_t> layer = Layer();
  PlainPen(6);
  stroke.layerIndex = 5;
  Begin({10, 10, 1});
  Add({40, 40, 1});
  Add({40, 40, 1});
  EXPECT_TRUE(End().empty());
  EXPECT_EQ(Layer(), layer);
  for (uint8_t c : Coverage()) ASSERT_EQ(c, 0);
}

// ---- pressure curves, seen in the coverage ----

TEST_F(StrokeFixture, GammaShapesTheOpacityByPressure) {
  struct Row {
    float gamma;
    bool byPressure;
    int peak;
  } rows[] = {
      {1, true, int(0.5f * 255)},
      {2, true, int(std::pow(0.5f, 2.0f) * 255)},
      {0.5f, true, int(std::pow(0.5f, 0.5f) * 255)},
      {2, false, 255},
  };
  for (const Row& r : rows) {
    PlainPen(12);
    stroke.SetOpacityByPressure(r.byPressure);
    stroke.SetGamma(r.gamma);
    Begin({10, 30, 0});
    Add({11, 30, 0.5f});
    Add({50, 30, 0.5f});
    Add({50, 30, 0.5f});
    uint8_t peak = 0;
    for (uint8_t c : Coverage()) peak = std::max(peak, c);
    EXPECT_EQ(peak, r.peak) << r.gamma;
    End();
  }
}

// Coverage rows in the column at x.
int coveredRows(const std::vector<uint8_t>& cov, int32_t width, int32_t x) {
  int n = 0;
  for (size_t y = 0; y * width < cov.size(); ++y) n += cov[y * width + x] != 0;
  return n;
}

TEST_F(StrokeFixture, SizeByPressureRunsFromTheMinimumFraction) {
  Make(128, 128, DrawGeneration::Current);
  struct Row {
    float pressure;
    bool byPressure;
    float size;
  } rows[] = {{0, true, 10}, {1, true, 20}, {0.5f, true, 15}, {0, false, 20}};
  for (const Row& r : rows) {
    PlainPen(20);
    stroke.SetSizeByPressure(r.byPressure);
    stroke.SetMinSize(50);
    Begin({20, 64, r.pressure});
    stroke.history[0].pressure = stroke.history[1].pressure = stroke.history[2].pressure = r.pressure;
    Add({100, 64, r.pressure});
    Add({100, 64, r.pressure});
    // Across the travel the disc spans 2 × size pixels.
    const int rows = coveredRows(Coverage(), paper.width, 60);
    EXPECT_GE(rows, int(2 * r.size) - 1) << r.pressure;
    EXPECT_LE(rows, int(2 * r.size) + 1) << r.pressure;
    End();
  }
}

// ---- the pen against a model written from the rules ----

class PenModel {
 public:
  PenModel(int32_t w, int32_t h, const TStroke& s) : w(w), h(h), cov(size_t(w) * h, 0), s(s) {}

  void Segment(StrokePoint from, StrokePoint to) {
    const float p1 = std::pow(to.pressure, s.gamma), p2 = std::pow(from.pressure, s.gamma);
    const float dx = to.x - from.x, dy = to.y - from.y, dp = p1 - p2;
    const float L = std::max(std::fabs(dx), std::fabs(dy));
    if (L == 0) return;
    float sx = dx, sy = dy, sp = dp;
    int dir = std::fabs(dx) >= std::fabs(dy) ? 1 : 0;
    if (L >= 1) {
      const float a = dir ? std::fabs(dx) : std::fabs(dy);
      sx = dx / a, sy = dy / a, sp = dp / a;
    }
    int n = int(std::ceil(L));
    float X = from.x + 0.5f, Y = from.y + 0.5f, P = p2;
    float minW = s.width, rangeW = 0;
    if (s.sizeByPressure) {
      minW = s.width * (s.minSize / 100);
      rangeW = s.width - minW;
    }
    const float wStart = minW + rangeW * p2, wEnd = minW + rangeW * p1;
    int k = int(std::ceil(0.1666667f * s.width));
    if (wStart < 8 || wEnd < 8) k = 1;
    if (wStart < 2 || wEnd < 2) n *= 2, sx /= 2, sy /= 2, sp /= 2;
    for (int i = 0; i < n; ++i) {
      const float alpha = s.opacityByPressure ? P : 1.0f;
      const float size = minW + rangeW * P;
      if (steps % k == 0) Dab(size, alpha, Y, X), ++dabs;
      X += sx, Y += sy, P += sp;
      direction = dir;
      P = std::min(std::max(P, 0.0f), 1.0f);
      ++steps;
    }
  }

  int32_t w, h;
  std::vector<uint8_t> cov;
  int steps = 0, dabs = 0, direction = -1;

 private:
  void Put(int32_t x, int32_t y, int v) {
    if (x < 0 || y < 0 || x >= w || y >= h || v <= 0) return;
    uint8_t& c = cov[size_t(y) * w + x];
    if (v > c) c = uint8_t(v);
  }
  void PutLine(bool rows, int32_t along, int32_t line, int v) { rows ? Put(along, line, v) : Put(line, along, v); }

  void Span(bool rows, float left, float right, int32_t g, float wt) {
    if (wt == 0) return;
    const int32_t first = int32_t(std::floor(left)), count = int32_t(std::ceil(right)) - first;
    if (count == 1) return PutLine(rows, first, g, int(wt * (right - left) * 255));
    for (int32_t i = 0; i < count; ++i) {
      int v = int(wt * 255);
      if (i == 0) v = int(wt * (std::floor(left) + 1 - left) * 255);
      if (i == count - 1) v = int(wt * (1 - (std::ceil(right) - right)) * 255);
      PutLine(rows, first + i, g, v);
    }
  }

  void Disc1(bool rows, float x, float y, float r, float wt) {
    const float along = rows ? x : y, across = rows ? y : x;
    if (r < 0.5f) return Span(rows, along - r, along + r, int32_t(std::floor(across)), wt / 2);
    const int32_t lo = int32_t(std::floor(across - r)), hi = int32_t(std::ceil(across + r)) - 1;
    for (int32_t o = lo; o <= hi; ++o) {
      float weight = wt;
      if (o == lo) {
        weight = wt * (std::floor(across - r) + 1 - (across - r));
      } else if (o == hi) {
        weight = wt * ((across + r) - (std::ceil(across + r) - 1));
      }
      const float radicand = r * r - (float(o) - across) * (float(o) - across);
      if (radicand <= 0) continue;
      const float half = std::sqrt(radicand);
      Span(rows, along - half, along + half, o, weight);
    }
  }

  void Fifth(float x, float y, float size, int full) {
    const int u = int(5 * x), v = int(5 * y), t = int(5 * size) * int(5 * size);
    auto in = [t](int a, int b) { return a * a + b * b < t; };
    for (int py = int(y - size); py <= int(y + size); ++py)
      for (int px = int(x - size); px <= int(x + size); ++px) {
        const int cx = 5 * px - u, cy = 5 * py - v;
        const int corners = in(cx, cy) + in(cx + 5, cy) + in(cx, cy + 5) + in(cx + 5, cy + 5);
        if (size > 3 && corners == 4) {
          Put(px, py, full);
          continue;
        }
        if (size > 3 && corners == 0) continue;
        int count = 0;
        for (int i = 0; i < 5; ++i)
          for (int j = 0; j < 5; ++j) count += in(cx + j, cy + i);
        Put(px, py, full * count / 25);
      }
  }

  void Dab(float size, float alpha, float y, float x) {
    if (size < 3) {
      Disc1(true, x, y, size, alpha);
      Disc1(false, x, y, size, alpha);
    } else if (dabs < 5) {
      Fifth(x, y, size, int(alpha * 255));
    } else {
      Disc1(direction != 1, x, y, size, alpha);
    }
  }

  const TStroke& s;
};

// Normal over onto a layer pixel, from the formulas.
uint32_t expectOver(uint32_t d, uint32_t c, int v) {
  if (v == 0) return d;
  if (v == 255) return 0xFF000000u | c;
  const int a = int(d >> 24);
  if (a == 255) return blendRGB(d, c, v);
  const int a2 = a + v * (255 - a) / 255;
  return (uint32_t(a2) << 24) | (blendRGB(d, c, v * 255 / a2) & 0xFFFFFF);
}

struct ModelCase {
  const char* name;
  float width, minSize, opacity, gamma;
  bool size, transparency;
  std::vector<StrokePoint> points;
};

TEST_F(StrokeFixture, PenMatchesTheModel) {
  Make(128, 96, DrawGeneration::Current);
  const ModelCase cases[] = {
      {"half steps", 1.5f, 0, 1, 1, false, false, {{20.3f, 30.2f, 1}, {50.7f, 33.9f, 1}, {52, 60.25f, 1}}},
      {"thin spans both ways", 2.5f, 0, 1, 1, false, false, {{20, 30, 1}, {60.4f, 31.6f, 1}, {61, 70, 1}}},
      {"discs then columns", 6, 0, 1, 1, false, false, {{20, 30, 1}, {70, 36, 1}}},
      {"discs then rows", 6, 0, 1, 1, false, false, {{40, 10, 1}, {45.5f, 80, 1}}},
      {"wide with interval", 13, 0, 0.6f, 1, false, false, {{30, 40, 1}, {90, 44, 1}, {95, 60, 1}}},
      {"pressure", 10, 40, 0.8f, 1.7f, true, true,
       {{15, 20, 0}, {30, 25, 0.2f}, {60, 50, 0.9f}, {62, 51, 1}, {100, 52, 0.4f}, {100.5f, 52.3f, 0.1f}}},
      {"diagonal", 4, 0, 1, 1, false, false, {{10, 10, 1}, {60, 60, 1}}},
      {"tiny pressure pen", 3, 75, 1, 1, true, true, {{10, 80, 0.3f}, {110, 70, 1}, {112, 20, 0}}},
  };
  for (const ModelCase& c : cases) {
    SCOPED_TRACE(c.name);
    paper.clearLayerPixels(0);
    paper.loadLayerToFlow(flow, 0, true);
    PlainPen(c.width);
    stroke.SetMinSize(c.minSize);
    stroke.SetOpacity(c.opacity);
    stroke.SetGamma(c.gamma);
    stroke.SetSizeByPressure(c.size);
    stroke.SetOpacityByPressure(c.transparency);
    PenModel model(paper.width, paper.height, stroke);
    Begin(c.points[0]);
    StrokePoint last{c.points[0].x, c.points[0].y, 0};  // the begin point carries no pressure
    for (size_t i = 1; i < c.points.size(); ++i) {
      Add(c.points[i]);
      model.Segment(last, c.points[i]);
      last = c.points[i];
    }
    Add(c.points.back());  // unsmoothed, the last segment is drawn when the next point comes
    EXPECT_EQ(stroke.stepCount, model.steps);
    EXPECT_EQ(stroke.dabCount, model.dabs);
    ASSERT_EQ(Coverage(), model.cov);
    const std::vector<uint32_t> before = Layer();
    End();
    const std::vector<uint32_t> after = Layer();
    const int O = int(c.opacity * 255);
    int painted = 0;
    for (size_t i = 0; i < after.size(); ++i) {
      ASSERT_EQ(after[i], expectOver(before[i], 0x204080, MUL[model.cov[i]][O])) << i;
      painted += after[i] != before[i];
    }
    EXPECT_GT(painted, 0);
  }
}

TEST_F(StrokeFixture, SpanClippedAtTheBorderStartsFull) {
  PlainPen(2.5f);
  Begin({-0.9f, 10, 1});
  Add({-0.9f, 30, 1});
  Add({-0.9f, 30, 1});
  // Dab centres at x = −0.4: the row spans reach into column 0 at full strength.
  int full = 0;
  for (int32_t y = 12; y < 28; ++y) full += flow.coverage.Row(y)[0] == 255;
  EXPECT_GT(full, 0);
  End();
}

// ---- protocol ----

TEST_F(StrokeFixture, ClickWithoutMovementPaintsNothing) {
  const std::vector<uint32_t> layer = Layer(), composite = Composite();
  StrokeInput input;
  EXPECT_TRUE(input.Move(paper, flow, stroke, 20, 20, 1, false, false));
  EXPECT_TRUE(input.session.inProgress);
  input.Release(paper, flow, stroke, 20, 20, false);
  EXPECT_FALSE(input.session.inProgress);
  EXPECT_EQ(stroke.dabCount, 0);
  EXPECT_EQ(Layer(), layer);
  EXPECT_EQ(Composite(), composite);
}

TEST_F(StrokeFixture, EndRightAfterBeginIsEmpty) {
  const std::vector<uint32_t> layer = Layer();
  Begin({20, 20, 1});
  EXPECT_TRUE(session.inProgress);
  EXPECT_EQ(paper.strokeFlow, &flow);
  const Area r = End();
  EXPECT_TRUE(r.empty());
  EXPECT_FALSE(session.inProgress);
  EXPECT_EQ(paper.strokeFlow, nullptr);
  EXPECT_EQ(Layer(), layer);
  for (uint8_t c : Coverage()) ASSERT_EQ(c, 0);
}

TEST_F(StrokeFixture, CommitTouchesOnlyTheStrokeRectangle) {
  Make(96, 96, DrawGeneration::Current);
  stroke.SetWidth(9);
  const std::vector<uint32_t> before = Layer();
  const Area r = Draw({{30, 40, 0.2f}, {50, 45, 1}, {60, 60, 0.8f}, {61, 70, 0.6f}, {61, 70, 0}});
  ASSERT_FALSE(r.empty());
  EXPECT_EQ(r.x % 2, 0);
  EXPECT_EQ(r.y % 2, 0);
  EXPECT_EQ(r.width % 2, 0);
  EXPECT_EQ(r.height % 2, 0);
  const std::vector<uint32_t> after = Layer();
  int changed = 0;
  for (int32_t y = 0; y < 96; ++y)
    for (int32_t x = 0; x < 96; ++x) {
      if (after[y * 96 + x] == before[y * 96 + x]) continue;
      ++changed;
      ASSERT_TRUE(inside(r, x, y)) << x << "," << y;
    }
  EXPECT_GT(changed, 50);
  for (uint8_t c : Coverage()) ASSERT_EQ(c, 0);  // clean for the next stroke
}

TEST_F(StrokeFixture, CompositeShowsTheStrokeWhileItRuns) {
  stroke.SetWidth(8);
  const std::vector<uint32_t> layer = Layer();
  const uint32_t paperPixel = paper.compositeImage.Row(30)[30];
  Begin({10, 30, 1});
  Add({40, 30, 1});
  Add({50, 30, 1});
  // The layer itself is untouched until the end; the composite shows the flow.
  EXPECT_EQ(Layer(), layer);
  EXPECT_NE(paper.composite().Row(30)[25], paperPixel);
  const std::vector<uint32_t> live = Composite();
  End();
  EXPECT_NE(Layer(), layer);
  const std::vector<uint32_t> committed = Composite();
  EXPECT_EQ(committed, live);
  paper.recomposeRect(Area(0, 0, paper.width, paper.height), true);
  EXPECT_EQ(Composite(), committed);
}

// Segments compose nothing and invalidate nothing: the window's frame
// composes the union of what they changed once and invalidates it once, and
// that composite is the one composed afresh.
TEST_F(StrokeFixture, SegmentsLeaveCompositionToTheFrame) {
  HeadlessView view(200, 200);
  paper.view = &view;
  stroke.SetWidth(6);
  const std::vector<uint32_t> before(paper.compositeImage.pixels, paper.compositeImage.pixels + 64 * 64);
  Begin({5, 10, 1});
  for (float x = 10; x <= 55; x += 5) Add({x, 10 + x / 2, 1});
  EXPECT_TRUE(view.invalidated.empty());
  EXPECT_EQ(view.invalidatedAll, 0);
  EXPECT_TRUE(paper.compositeStale());
  EXPECT_TRUE(std::equal(before.begin(), before.end(), paper.compositeImage.pixels)) << "composed too early";
  paper.presentChanges();
  ASSERT_EQ(view.invalidated.size(), 1u);
  EXPECT_FALSE(paper.compositeStale());
  const ViewRect shown = view.invalidated[0];
  EXPECT_LE(shown.x, 5);
  EXPECT_GE(shown.x + shown.width, 55);
  const std::vector<uint32_t> live = Composite();
  paper.presentChanges();
  EXPECT_EQ(view.invalidated.size(), 1u) << "nothing new to show";
  End();
  paper.recomposeRect(Area(0, 0, paper.width, paper.height), true);
  EXPECT_EQ(Composite(), live);
  paper.view = nullptr;
}

// A stroke's end leaves only the thumbnail pixels that read what it touched
// to render; the thumbnail read afterwards is the one a whole rendering
// gives, for every kind, on a layer that lies off the paper's origin, in
// both generations. Until it is read, the old picture stays.
TEST_F(StrokeFixture, ThumbnailAfterAStrokeIsTheWholeRendering) {
  for (DrawGeneration generation : {DrawGeneration::Current, DrawGeneration::Legacy})
    for (int kind : {int(kBrushPen), int(kBrushAirbrush), int(kBrushBlur), int(kBrushEraser)}) {
      SCOPED_TRACE(kind);
      Make(700, 420, generation);
      CLayerData& l = *paper.layerAt(0);
      TMTC paint(700, 420);
      for (int32_t y = 0; y < paint.height; ++y)
        for (int32_t x = 0; x < paint.width; ++x) paint.Row(y)[x] = makePixel(255, uint32_t(x) & 0xFF, uint32_t(y) & 0xFF, 90);
      ASSERT_TRUE(l.pixels->WriteFrom(paint, {0, 0}, 255, paint.area()));
      l.RenderThumbnail();
      paper.loadLayerToFlow(flow, 0, true);
      stroke.ResetDefaults(kind);
      stroke.SetColour(0x102030);
      stroke.SetWidth(9);
      TMTC old(l.thumbnail.width, l.thumbnail.height);
      old.Copy({0, 0}, l.thumbnail, l.thumbnail.area());
      Draw({{30, 40, 1}, {200, 90, 0.8f}, {420, 60, 1}, {650, 380, 0.7f}, {640, 390, 0}});
      EXPECT_EQ(std::memcmp(old.pixels, l.thumbnail.pixels, size_t(old.ByteSize())), 0);
      TMTC whole(l.thumbnail.width, l.thumbnail.height);
      l.pixels->RenderReduced(whole, whole.area(), Area(l.offsetX, l.offsetY, paper.width, paper.height));
      ASSERT_EQ(std::memcmp(whole.pixels, l.Thumbnail().pixels, size_t(whole.ByteSize())), 0);
    }
}

TEST_F(StrokeFixture, LockedAlphaKeepsEveryAlphaByte) {
  CLayerData* l = paper.layerAt(0);
  TMTC clear(8, 8);
  clear.Fill(0);
  for (bool locked : {true, false}) {
    // Half-transparent grey with a fully transparent corner.
    ASSERT_TRUE(l->pixels->SetAll(0x80C0C0C0u));
    l->pixels->WriteFrom(clear, {0, 0}, 255, Area(0, 0, 8, 8));
    paper.loadLayerToFlow(flow, 0, true);
    l->maskLock = locked;
    const std::vector<uint32_t> before = Layer();
    stroke.SetWidth(10);
    Draw({{2, 2, 1}, {30, 20, 1}, {50, 50, 1}, {50, 50, 0}});
    EXPECT_EQ(stroke.lockAlpha, locked);
    const std::vector<uint32_t> after = Layer();
    int rgbChanged = 0, alphaChanged = 0;
    for (size_t i = 0; i < after.size(); ++i) {
      rgbChanged += (after[i] & 0xFFFFFF) != (before[i] & 0xFFFFFF);
      alphaChanged += (after[i] >> 24) != (before[i] >> 24);
    }
    EXPECT_GT(rgbChanged, 100) << locked;
    if (locked) {
      EXPECT_EQ(alphaChanged, 0);
    } else {
      EXPECT_GT(alphaChanged, 100);
    }
  }
}

TEST_F(StrokeFixture, PenOpacityIsUniformWhereCoverageIsFull) {
  PlainPen(10);
  stroke.SetOpacity(0.5f);
  const int O = stroke.EffectiveOpacity255(false);
  // Many overlapping dabs, and the stroke crossing itself.
  Draw({{10, 10, 1}, {50, 12, 1}, {52, 50, 1}, {12, 30, 1}, {40, 5, 1}});
  int full = 0;
  for (uint32_t p : Layer()) {
    ASSERT_LE(int(p >> 24), MUL[255][O]);
    if (int(p >> 24) == MUL[255][O]) {
      ++full;
      ASSERT_EQ(p & 0xFFFFFF, 0x204080u);
    }
  }
  EXPECT_GT(full, 500);
}

// ---- window input ----

TEST_F(StrokeFixture, PointLimitEndsTheStrokeAndDropsThePoint) {
  PlainPen(3);
  StrokeInput input;
  input.Move(paper, flow, stroke, 10, 10, 1, false, false);
  input.Move(paper, flow, stroke, 20, 10, 1, false, false);
  input.session.pointCount = kMaxStrokePoints;  // as if 60001 points had come in
  const StrokePoint newest = stroke.history[0];
  const int steps = stroke.stepCount;
  EXPECT_FALSE(input.Move(paper, flow, stroke, 40, 30, 1, false, false));
  EXPECT_FALSE(input.session.inProgress);
  EXPECT_EQ(stroke.history[0].x, newest.x);
  EXPECT_EQ(stroke.stepCount, steps);
  EXPECT_EQ(paper.strokeFlow, nullptr);
  // One short of the limit the point is still taken.
  input.Move(paper, flow, stroke, 10, 10, 1, false, false);
  input.session.pointCount = kMaxStrokePoints - 1;
  EXPECT_TRUE(input.Move(paper, flow, stroke, 40, 30, 1, false, false));
  EXPECT_TRUE(input.session.inProgress);
  input.Release(paper, flow, stroke, 40, 30, false);
}

TEST_F(StrokeFixture, ThresholdDropsPointsPerZoomLevel) {
  struct Row {
    int zoom;
    float threshold;
  } rows[] = {{-2, 4}, {-1, 3}, {0, 2}, {-3, 2}, {2, 2}};
  for (const Row& r : rows) {
    paper.setZoomLevel(r.zoom);
    StrokeInput input;
    input.Move(paper, flow, stroke, 10, 10, 1, false, false);
    // The first two points are taken however close.
    EXPECT_TRUE(input.Move(paper, flow, stroke, 10.5f, 10, 1, false, false));
    EXPECT_TRUE(input.Move(paper, flow, stroke, 11, 10, 1, false, false));
    EXPECT_EQ(input.session.pointCount, 2);
    // Exactly at the threshold: dropped; just past it: taken.
    EXPECT_FALSE(input.Move(paper, flow, stroke, 11, 10 + r.threshold, 1, false, false)) << r.zoom;
    EXPECT_EQ(input.session.pointCount, 2);
    EXPECT_TRUE(input.Move(paper, flow, stroke, 11, 10.01f + r.threshold, 1, false, false)) << r.zoom;
    EXPECT_EQ(input.session.pointCount, 3);
    input.Release(paper, flow, stroke, 11, 20, false);
  }
}

TEST_F(StrokeFixture, ModifiersAndReplayRefuseUnforcedStrokes) {
  struct Row {
    bool forced, modifiers, replaying, accepted;
  } rows[] = {
      {false, false, false, true}, {false, true, false, false}, {false, false, true, false},
      {true, true, false, true},   {true, false, true, true},   {true, true, true, true},
  };
  for (const Row& r : rows) {
    stroke.forced = r.forced;
    StrokeInput input;
    EXPECT_EQ(input.Move(paper, flow, stroke, 10, 10, 1, r.modifiers, r.replaying), r.accepted)
        << r.forced << r.modifiers << r.replaying;
    EXPECT_EQ(input.session.inProgress, r.accepted);
    if (!input.session.inProgress) continue;
    input.Move(paper, flow, stroke, 30, 10, 1, false, false);
    // A release while replaying is refused for an unforced stroke only.
    input.Release(paper, flow, stroke, 30, 10, true);
    EXPECT_EQ(input.session.inProgress, !r.forced);
    input.Release(paper, flow, stroke, 30, 10, false);
    EXPECT_FALSE(input.session.inProgress);
  }
}

TEST_F(StrokeFixture, MoveBeginsOnTheCurrentLayer) {
  ASSERT_GE(paper.layers.AppendNew(64, 64, 1, 255, kModeNormal, false), 1);
  paper.setCurrentLayer(flow, 1);
  stroke.layerIndex = 0;
  StrokeInput input;
  input.Move(paper, flow, stroke, 10, 10, 1, false, false);
  EXPECT_EQ(stroke.layerIndex, 1);
  EXPECT_EQ(paper.strokeLayer, 1);
  input.Move(paper, flow, stroke, 40, 10, 1, false, false);
  input.Release(paper, flow, stroke, 40, 10, false);
  EXPECT_EQ(Layer(), std::vector<uint32_t>(64 * 64, 0x00FFFFFFu));  // layer 0 untouched
  EXPECT_EQ(paper.strokeLayer, -1);
}

// ---- the legacy generation ----

TEST_F(StrokeFixture, LegacyPenPaintsAtFullStrength) {
  Make(96, 96, DrawGeneration::Legacy);
  PlainPen(12);
  stroke.SetOpacity(0.3f);  // not applied in the oldest drawings
  const std::vector<uint32_t> before = Layer();
  Begin({20, 40, 1});
  Add({50, 40, 1});
  Add({50, 40, 1});
  // k = trunc(12 / 8) + 1 = 2 over 30 steps.
  EXPECT_EQ(stroke.stepCount, 30);
  EXPECT_EQ(stroke.dabCount, 15);
  const Area r = End();
  const std::vector<uint32_t> after = Layer();
  int colour = 0;
  for (int32_t y = 0; y < 96; ++y)
    for (int32_t x = 0; x < 96; ++x) {
      const uint32_t p = after[y * 96 + x];
      if (p == before[y * 96 + x]) continue;
      ASSERT_TRUE(inside(r, x, y));
      ASSERT_EQ(p >> 24, 0xFFu);
      colour += (p & 0xFFFFFF) == 0x204080;
    }
  // The dab centre row is solid from the first dab to the last.
  for (int32_t x = 21; x < 50; ++x) EXPECT_EQ(after[40 * 96 + x] & 0xFFFFFF, 0x204080u) << x;
  EXPECT_GT(colour, 400);
}

TEST_F(StrokeFixture, LegacyIntervalAndHalfSteps) {
  Make(96, 96, DrawGeneration::Legacy);
  struct Row {
    int kind;
    float width;
    bool size;
    int steps, dabs;
  } rows[] = {
      {kBrushPen, 20, false, 30, 10},   // trunc(20 / 8) + 1 = 3
      {kBrushPen, 1.5f, false, 60, 60}, // half steps below 2
      {kBrushWatercolour, 30, false, 30, 10},
      {kBrushEraser, 2, false, 60, 60},
      {kBrushBlur, 9, false, 30, 10},
      {kBrushAirbrush, 30, false, 30, 30},
  };
  for (const Row& r : rows) {
    stroke.ResetDefaults(r.kind);
    stroke.SetWidth(r.width);
    stroke.SetSizeByPressure(r.size);
    stroke.noSmoothing = true;
    Begin({20, 40, 1});
    Add({50, 40, 1});
    Add({50, 40, 1});
    EXPECT_EQ(stroke.stepCount, r.steps) << r.kind;
    EXPECT_EQ(stroke.dabCount, r.dabs) << r.kind;
    End();
  }
}

// ---- the pixels, bit for bit ----

// Any change to the walk's float arithmetic, the pen's discs or the rebuild
// changes these sums.
// The input is made without the maths library so that only the engine's
// own arithmetic is pinned.
void drawGoldenStrokes(TPaper& paper, TFlowImage& flow, TStroke& s, StrokeSession& session) {
  std::vector<StrokePoint> points;
  for (int i = 0; i <= 40; ++i) {
    const float t = float(i) / 40;
    const float wave = float((i * 37) % 61 - 30) * 2.5f;
    points.push_back({20 + 210 * t, 128 + wave, 0.15f + 0.85f * float((i * 13) % 17) / 16});
  }
  points.push_back(points.back());
  points.back().pressure = 0;
  struct Pen {
    float width, minSize, opacity, gamma;
  } pens[] = {{2.5f, 75, 1, 1}, {18, 30, 0.7f, 1.6f}, {7, 0, 0.9f, 0.6f}};
  int n = 0;
  for (const Pen& p : pens) {
    s.ResetDefaults(kBrushPen);
    s.SetColour(0x102030u * uint32_t(n + 1));
    s.SetWidth(p.width);
    s.SetMinSize(p.minSize);
    s.SetOpacity(p.opacity);
    s.SetGamma(p.gamma);
    BeginStrokeOffset(paper, flow, s, session, false, 0, points[0].y + 7 * n, points[0].x);
    for (size_t i = 1; i < points.size(); ++i)
      AddStrokePoint(paper, flow, s, session, false, points[i].pressure, points[i].y + 7 * n, points[i].x);
    EndStroke(paper, flow, s, session, false);
    ++n;
  }
}

TEST_F(StrokeFixture, GoldenChecksum) {
  struct Row {
    DrawGeneration generation;
    uint32_t layer, composite;
  } rows[] = {
      {DrawGeneration::Current, 4095291367u, 1189152870u},
      // A multiply layer over white paper: the composite is the layer.
      {DrawGeneration::Legacy, 2624111629u, 2624111629u},
  };
  for (const Row& r : rows) {
    Make(256, 256, r.generation);
    drawGoldenStrokes(paper, flow, stroke, session);
    EXPECT_EQ(fnv1a(Layer()), r.layer) << int(r.generation);
    EXPECT_EQ(fnv1a(Composite()), r.composite) << int(r.generation);
  }
}

}  // namespace
}  // namespace vl

namespace vl {
namespace {

// Sees what the layer held where a stroke is about to commit.
class StrokeUndoProbe : public PaperUndoHook {
 public:
  bool Enabled() const override { return true; }
  bool Push(UndoEntry&& e) override {
    kind = e.kind;
    rect = e.rect;
    pixelBefore = e.layer->pixels->Pixel(rect.x + rect.width / 2, rect.y + rect.height / 2);
    return true;
  }
  int kind = -1;
  Area rect;
  uint32_t pixelBefore = 0;
};

TEST_F(StrokeFixture, ARecordedStrokeHandsTheOldPixelsToUndoBeforeItCommits) {
  PlainPen(9);
  auto probe = std::make_unique<StrokeUndoProbe>();
  StrokeUndoProbe& seen = *probe;
  paper.setHooks(nullptr, std::move(probe));
  const StrokePoint points[] = {{10, 30, 1}, {50, 32, 1}, {52, 50, 1}, {52, 50, 0}};
  BeginStrokeOffset(paper, flow, stroke, session, true, points[0].pressure, points[0].y, points[0].x);
  for (size_t i = 1; i < std::size(points); ++i)
    AddStrokePoint(paper, flow, stroke, session, true, points[i].pressure, points[i].y, points[i].x);
  const std::vector<uint32_t> before = Layer();
  const Area changed = EndStroke(paper, flow, stroke, session, true);
  ASSERT_FALSE(changed.empty());
  EXPECT_EQ(seen.kind, 3);
  // The layer sits at the paper's origin; undo keeps the whole tiles under
  // the changed part inside the layer.
  const Bounds c = intersect(changed.bounds(), Bounds{0, 0, 64, 64});
  EXPECT_EQ(seen.rect, Area(Bounds{c.left & ~31, c.top & ~31, std::min(64, (c.right + 31) & ~31),
                                   std::min(64, (c.bottom + 31) & ~31)}));
  EXPECT_EQ(seen.pixelBefore, before[size_t((seen.rect.y + seen.rect.height / 2) * 64 + seen.rect.x + seen.rect.width / 2)]);
  EXPECT_NE(Layer(), before);
  EXPECT_TRUE(paper.modified);
}

}  // namespace
}  // namespace vl
