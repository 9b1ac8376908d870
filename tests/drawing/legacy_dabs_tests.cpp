// The oldest drawings' pen and blur 2 dabs against their definitions: a
// disc counted at fifth-pixel resolution, and a line across the travel
// counted in 1/64 pixel, both max-combined into the coverage.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "document/paper.h"
#include "drawing/stroke.h"
#include "pixel/pixel_math.h"

namespace vl {
namespace {

constexpr int32_t kSide = 40;

// The disc's coverage of pixel (px, py): whole when all four corners lie
// inside (radius above 3), none when all lie outside, else 255 × the share
// of the 25 sub-cell centres inside; all in fifths of a pixel.
int discCoverage(int32_t px, int32_t py, float cx, float cy, float r) {
  if (!(r > 0)) return 0;
  // The box the disc is drawn in.
  if (px < int32_t(double(cx) - r) || px > int32_t(double(cx) + r) || py < int32_t(double(cy) - r) ||
      py > int32_t(double(cy) + r))
    return 0;
  const float r2 = r * r * 25.0f;
  const float left = float(px) * 5.0f - cx * 5.0f, top = float(py) * 5.0f - cy * 5.0f;
  int corners = 0;
  for (float dx : {left, left + 5.0f})
    for (float dy : {top, top + 5.0f}) corners += dx * dx + dy * dy < r2;
  if (r > 3.0f && corners == 4) return 255;
  if (r > 3.0f && corners == 0) return 0;
  int inside = 0;
  for (int j = 0; j < 5; ++j)
    for (int i = 0; i < 5; ++i) {
      const float sx = left + (float(i) + 0.5f), sy = top + (float(j) + 0.5f);
      inside += sx * sx + sy * sy < r2;
    }
  return inside * 255 / 25;
}

// The line's coverage of pixel p from a to b: centre c and half-length h in
// 1/64 pixel; whole when |c − 64p| + 64 < h, else 255 × the share of the 64
// sub-positions i with |64p + i − c| < h.
int spanCoverage(int32_t p, double a, double b) {
  const int64_t c = int64_t((a + b) / 2 * 64), h = int64_t((b - a) / 2 * 64);
  if (h <= 0) return 0;
  if (std::llabs(c - 64 * int64_t(p)) + 64 < h) return 255;
  int k = 0;
  for (int i = 0; i < 64; ++i) k += std::llabs(64 * int64_t(p) + i - c) < h;
  return k * 255 / 64;
}

class LegacyDabs : public ::testing::Test {
 protected:
  void SetUp() override {
    paper.drawGeneration = DrawGeneration::Legacy;
    ASSERT_TRUE(paper.newPaper(flow, "t", 72, kSide, kSide));
    stroke.layerIndex = 0;
    stroke.BuildChain(MaskStage{});
  }
  void Clear() { flow.coverage.Fill(0); }
  int Cov(int32_t x, int32_t y) const { return flow.coverage.Row(y)[x]; }

  TPaper paper;
  TFlowImage flow{paper};
  TStroke stroke;
};

TEST_F(LegacyDabs, PenIsADiscAndAThinLineAcrossTheTravel) {
  struct Case {
    float size, alpha, x, y;
    int8_t direction;
  } cases[] = {
      {0.5f, 1, 10.5f, 10.5f, 1},  {0.9f, 1, 10.5f, 10.5f, 0},  {1.5f, 1, 12.25f, 9.75f, 1},
      {2.7f, 0.5f, 20.5f, 20.5f, 0}, {3.0f, 1, 15.1f, 15.9f, 1}, {5.25f, 0.8f, 19.6f, 18.3f, 0},
      {7.9f, 1, 20.5f, 20.5f, 1},  {8.0f, 1, 20.5f, 20.5f, 0},  {12.4f, 0.7f, 18.2f, 21.7f, 1},
      {4.5f, 1, 1.5f, 38.5f, 0},   // clipped at the channel's edges
      {2.0f, 1, -0.5f, 5.5f, 1},   // the line's column lies outside
  };
  for (const Case& c : cases) {
    Clear();
    stroke.kind = kBrushPen;
    stroke.direction = c.direction;
    paintLegacyDab(paper, flow, stroke, c.size, c.alpha, c.alpha, c.y, c.x);
    const int value = truncToInt(c.alpha * 255);
    for (int32_t y = 0; y < kSide; ++y)
      for (int32_t x = 0; x < kSide; ++x) {
        int expected = c.size > 1 ? mul8(discCoverage(x, y, c.x, c.y, c.size), value) : 0;
        if (c.size < 8) {
          // Across the travel: a column when the walk runs along x.
          const bool onLine = c.direction == 1 ? x == int32_t(std::floor(c.x)) : y == int32_t(std::floor(c.y));
          const int span = !onLine            ? 0
                           : c.direction == 1 ? spanCoverage(y, double(c.y) - c.size, double(c.y) + c.size)
                                              : spanCoverage(x, double(c.x) - c.size, double(c.x) + c.size);
          expected = std::max(expected, mul8(span, value));
        }
        ASSERT_EQ(Cov(x, y), expected) << "size " << c.size << " at " << x << "," << y;
      }
  }
}

TEST_F(LegacyDabs, Blur2IsADiscOfTheWidthWithThirtyTwoTimesThePressure) {
  for (float pressure : {1.0f, 0.5f, 0.03f}) {
    for (float width : {1.2f, 3.0f, 6.5f}) {
      Clear();
      stroke.kind = kBrushBlur2;
      stroke.width = width;
      // The walk's size does not matter: the disc has the pen's width.
      paintLegacyDab(paper, flow, stroke, 0.5f, 1, pressure, 17.3f, 16.8f);
      const int value = truncToInt(pressure * 32);
      for (int32_t y = 0; y < kSide; ++y)
        for (int32_t x = 0; x < kSide; ++x)
          ASSERT_EQ(Cov(x, y), mul8(discCoverage(x, y, 16.8f, 17.3f, width), value)) << width << " " << x << "," << y;
    }
  }
}

TEST_F(LegacyDabs, CoverageNeverFallsAndGoesThroughTheSelection) {
  // A second, weaker dab leaves the first one's values where they are larger.
  stroke.kind = kBrushPen;
  stroke.direction = 1;
  paintLegacyDab(paper, flow, stroke, 6, 1, 1, 20.5f, 20.5f);
  std::vector<uint8_t> strong;
  for (int32_t y = 0; y < kSide; ++y) strong.insert(strong.end(), flow.coverage.Row(y), flow.coverage.Row(y) + kSide);
  paintLegacyDab(paper, flow, stroke, 6, 0.3f, 0.3f, 22.5f, 20.5f);
  for (int32_t y = 0; y < kSide; ++y)
    for (int32_t x = 0; x < kSide; ++x) ASSERT_GE(Cov(x, y), strong[size_t(y * kSide + x)]);

  // Through a selection of 128 on the left half and nothing on the right.
  TChannel mask(kSide, kSide);
  for (int32_t y = 0; y < kSide; ++y)
    for (int32_t x = 0; x < kSide; ++x) mask.Row(y)[x] = x < 20 ? 128 : 0;
  stroke.BuildChain(MaskStage{&mask});
  Clear();
  paintLegacyDab(paper, flow, stroke, 5, 1, 1, 20.5f, 20.5f);
  for (int32_t y = 0; y < kSide; ++y)
    for (int32_t x = 0; x < kSide; ++x) {
      const int disc = discCoverage(x, y, 20.5f, 20.5f, 5);
      const int line = x == 20 ? spanCoverage(y, 15.5, 25.5) : 0;
      const int expected = x < 20 ? mul8(std::max(disc, line), 128) : 0;
      ASSERT_EQ(Cov(x, y), expected) << x << "," << y;
    }
}

}  // namespace
}  // namespace vl
