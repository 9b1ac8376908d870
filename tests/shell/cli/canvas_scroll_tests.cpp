#include "shell/cli/canvas_scroll.h"

#include <gtest/gtest.h>

namespace vl {
namespace {

// A 640-pixel paper, margin 400, a 500-pixel client area.
TEST(CanvasScroll, RangeOfTheBar) {
  const ScrollRange r = scrollRange(640, 1.0, 400, 500);
  EXPECT_EQ(r.maximum, 640 + 800);
  EXPECT_EQ(r.page, 500);
  EXPECT_EQ(r.lastPosition(), 940);
  EXPECT_EQ(r.smallStep, 10);
  EXPECT_EQ(r.largeStep, 484);
  // At 0.06001 the zoomed paper is trunc(38.4064) = 38 and the small step at least 1.
  const ScrollRange small = scrollRange(640, 0.06001, 400, 500);
  EXPECT_EQ(small.maximum, 38 + 800);
  EXPECT_EQ(small.smallStep, 1);
}

TEST(CanvasScroll, Mapping) {
  struct {
    int32_t position;
    double zoom;
    int32_t offset, origin, start, end, clamped;
  } cases[] = {
      {0, 1.0, 400, 0, 400, 1040, 0},        // the margin shows left of the paper
      {399, 1.0, 1, 0, 1, 641, 399},
      {400, 1.0, 0, 0, 0, 640, 400},         // the paper starts at the window edge
      {550, 1.0, 0, 150, 0, 490, 550},       // its end shows inside the window
      {5000, 1.0, 0, 540, 0, 100, 940},      // clamped to the last position
      {-3, 1.0, 400, 0, 400, 1040, 0},
      {425, 1.25, 0, 20, 0, 775, 425},       // origin trunc(25 ÷ 1.25)
      {433, 1.75, 0, 18, 0, 1087, 433},      // trunc(33 ÷ 1.75) = 18
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.position);
    const ScrollMapping m = scrollMapping(c.position, 640, c.zoom, 400, 500);
    EXPECT_EQ(m.position, c.clamped);
    EXPECT_EQ(m.windowOffset, c.offset);
    EXPECT_EQ(m.viewOrigin, c.origin);
    EXPECT_EQ(m.paperStart, c.start);
    EXPECT_EQ(m.paperEnd, c.end);
  }
}

TEST(CanvasScroll, Centring) {
  // trunc(320 × 1) + 400 − 250
  EXPECT_EQ(scrollPositionCentring(320, 640, 1.0, 400, 500), 470);
  // trunc(320 × 2) + 400 − 250
  EXPECT_EQ(scrollPositionCentring(320, 640, 2.0, 400, 500), 790);
  // Beyond either end of the bar: clamped.
  EXPECT_EQ(scrollPositionCentring(0, 640, 1.0, 100, 500), 0);
  EXPECT_EQ(scrollPositionCentring(640, 640, 1.0, 100, 500), 340);
}

}  // namespace
}  // namespace vl
