#include "selection/mask.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/ui_services.h"

namespace vl {
namespace {

// A channel with the given value in a rectangle (0 elsewhere).
std::unique_ptr<CBlockVCH> block(int32_t w, int32_t h, Area filled, uint8_t v = 255) {
  auto c = std::make_unique<CBlockVCH>(w, h);
  c->FillArea(filled, v);
  return c;
}

int count255(const CBlockVCH& c) {
  int n = 0;
  for (int32_t y = 0; y < c.height; ++y)
    for (int32_t x = 0; x < c.width; ++x) n += c.Pixel(x, y) == 255;
  return n;
}

CMaskMngr paperOf(int32_t w, int32_t h) {
  CMaskMngr m;
  m.SetPaperSize({w, h});
  return m;
}

TEST(Masks, AManagerStartsWithOneEmptyMaskAndNamesNewOnesByCounter) {
  CMaskMngr m = paperOf(100, 80);
  ASSERT_EQ(m.Count(), 1);
  EXPECT_EQ(m.At(0)->name, "마스크1");
  EXPECT_FALSE(m.At(0)->HasChannel());
  EXPECT_EQ(m.Current(), 0);
  EXPECT_EQ(m.AddEmpty(1), 1);
  EXPECT_EQ(m.At(1)->name, "마스크2");
  EXPECT_EQ(m.SetCurrent(2), 2);  // count: appends one
  EXPECT_EQ(m.At(2)->name, "마스크3");
  EXPECT_EQ(m.Duplicate(0), 0);
  EXPECT_EQ(m.At(0)->name, "마스크1");
  EXPECT_NE(m.At(0)->id, m.At(1)->id);
  for (int32_t i = 0; i < m.Count(); ++i) EXPECT_EQ(m.At(i)->index, i);
  // Out of range: nothing changes.
  EXPECT_EQ(m.AddEmpty(9), -1);
  EXPECT_FALSE(m.Move(0, 9));
  EXPECT_EQ(m.Detach(9), nullptr);
  EXPECT_EQ(m.Count(), 4);
}

TEST(Masks, ValueQueriesInPaperAndMaskCoordinates) {
  CMaskMngr m = paperOf(100, 80);
  std::unique_ptr<CMaskData> old;
  auto c = block(10, 10, {0, 0, 10, 10}, 200);
  ASSERT_TRUE(m.BuildFromChannel(0, *c, kMaskNew, {-20, -30}, old));  // at paper (20, 30)
  const CMaskData& k = *m.At(0);
  EXPECT_EQ(k.ValueAtPaper(20, 30), 200);
  EXPECT_EQ(k.ValueAtPaper(19, 30), -1);
  EXPECT_EQ(k.ValueAtMask(0, 0, 255), 200);
  EXPECT_EQ(k.ValueAtMask(0, 0, 128), 200 * 128 / 255);
  EXPECT_EQ(k.ValueAtMask(-1, 0, 255), 0);
  EXPECT_EQ(k.PaperRect(), Area(20, 30, 10, 10));
}

TEST(Masks, BuildModesMeetTheOldMask) {
  // Old: x 0 … 9 at 255. New channel: x 5 … 14 at 255 (paper coordinates).
  struct Case {
    int mode;
    int at3, at7, at12;  // values at paper x = 3, 7, 12 (−1: outside the channel)
  } cases[] = {
      {kMaskNew, -1, 255, 255},
      {kMaskAdd, 255, 255, 255},
      {kMaskSubtract, 255, 0, -1},
      {kMaskIntersect, 0, 255, 0},
  };
  for (const Case& c : cases) {
    CMaskMngr m = paperOf(100, 100);
    std::unique_ptr<CMaskData> old;
    ASSERT_TRUE(m.BuildFromChannel(0, *block(10, 1, {0, 0, 10, 1}), kMaskNew, {0, 0}, old));
    ASSERT_TRUE(m.BuildFromChannel(0, *block(10, 1, {0, 0, 10, 1}), c.mode, {-5, 0}, old));
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(old->ValueAtPaper(7, 0), 255) << "the old mask goes to the caller intact";
    const CMaskData& k = *m.At(0);
    EXPECT_EQ(k.ValueAtPaper(3, 0), c.at3) << c.mode;
    EXPECT_EQ(k.ValueAtPaper(7, 0), c.at7) << c.mode;
    EXPECT_EQ(k.ValueAtPaper(12, 0), c.at12) << c.mode;
    EXPECT_EQ(k.name, "마스크1");
  }
}

TEST(Masks, SubtractAndIntersectIntoAnEmptyMaskDoNothingAndAddActsAsNew) {
  auto c = block(4, 4, {1, 1, 2, 2});
  for (int mode : {kMaskSubtract, kMaskIntersect}) {
    CMaskMngr m = paperOf(50, 50);
    std::unique_ptr<CMaskData> old;
    EXPECT_FALSE(m.BuildFromChannel(0, *c, mode, {0, 0}, old));
    EXPECT_FALSE(m.At(0)->HasChannel());
  }
  CMaskMngr a = paperOf(50, 50), n = paperOf(50, 50);
  std::unique_ptr<CMaskData> old;
  ASSERT_TRUE(a.BuildFromChannel(0, *c, kMaskAdd, {-3, -3}, old));
  ASSERT_TRUE(n.BuildFromChannel(0, *c, kMaskNew, {-3, -3}, old));
  EXPECT_EQ(a.At(0)->PaperRect(), n.At(0)->PaperRect());
  for (int32_t y = 0; y < 10; ++y)
    for (int32_t x = 0; x < 10; ++x) EXPECT_EQ(a.At(0)->ValueAtPaper(x, y), n.At(0)->ValueAtPaper(x, y));
}

TEST(Masks, AddingPastThePaperRebasesAtTheContentAndTrimDropsIt) {
  CMaskMngr m = paperOf(20, 10);
  std::unique_ptr<CMaskData> old;
  ASSERT_TRUE(m.BuildFromChannel(0, *block(4, 4, {0, 0, 4, 4}), kMaskNew, {-2, -2}, old));
  // Content from paper x = 18 to 24: past the right edge.
  ASSERT_TRUE(m.BuildFromChannel(0, *block(6, 2, {0, 0, 6, 2}), kMaskAdd, {-18, -3}, old));
  const CMaskData& k = *m.At(0);
  // Re-based: the content's top-left (2, 2) is the channel's (0, 0), the
  // channel at least a paper's size, what lies outside the paper kept.
  EXPECT_EQ(k.PaperRect().x, 2);
  EXPECT_EQ(k.PaperRect().y, 2);
  EXPECT_EQ(k.ChannelSize(), Size(22, 10));
  EXPECT_EQ(k.ValueAtPaper(23, 4), 255);
  EXPECT_TRUE(m.LargerThanPaper(0));
  ASSERT_TRUE(m.TrimToPaper(0, old));
  EXPECT_EQ(m.At(0)->PaperRect(), Area(0, 0, 20, 10));
  EXPECT_EQ(m.At(0)->ValueAtPaper(19, 4), 255);
  EXPECT_EQ(m.At(0)->ValueAtPaper(23, 4), -1);
  EXPECT_FALSE(m.TrimToPaper(0, old)) << "a mask inside the paper has nothing to trim";
}

TEST(Masks, InvertInsideThePaperKeepsTheSizeAndOutsideCoversThePaperToo) {
  CMaskMngr m = paperOf(10, 10);
  std::unique_ptr<CMaskData> old;
  EXPECT_FALSE(m.Invert(0, old)) << "an empty mask inverts to nothing";
  ASSERT_TRUE(m.BuildFromChannel(0, *block(4, 4, {0, 0, 2, 4}), kMaskNew, {-3, -3}, old));
  old.reset();
  ASSERT_TRUE(m.Invert(0, old));
  EXPECT_EQ(old, nullptr) << "inverted in place";
  EXPECT_EQ(m.At(0)->PaperRect(), Area(3, 3, 4, 4));
  EXPECT_EQ(m.At(0)->ValueAtPaper(3, 3), 0);
  EXPECT_EQ(m.At(0)->ValueAtPaper(5, 3), 255);
  // Reaching past the paper: the inverted mask covers both.
  ASSERT_TRUE(m.BuildFromChannel(0, *block(4, 4, {0, 0, 4, 4}), kMaskNew, {-8, -8}, old));
  ASSERT_TRUE(m.Invert(0, old));
  ASSERT_NE(old, nullptr);
  EXPECT_EQ(m.At(0)->PaperRect(), Area(0, 0, 12, 12));
  EXPECT_EQ(m.At(0)->ValueAtPaper(0, 0), 255);
  EXPECT_EQ(m.At(0)->ValueAtPaper(9, 9), 0);
  EXPECT_EQ(m.At(0)->ValueAtPaper(11, 11), 0);
}

TEST(Masks, GrowByOneAtTheChannelEdgeEnlargesTheChannelAndMovesTheOrigin) {
  CMaskMngr m = paperOf(50, 50);
  std::unique_ptr<CMaskData> old;
  ASSERT_TRUE(m.BuildFromChannel(0, *block(5, 5, {0, 2, 1, 1}), kMaskNew, {-10, -10}, old));
  ASSERT_TRUE(m.GrowShrinkOne(0, true, true, old));
  const CMaskData& k = *m.At(0);
  EXPECT_EQ(k.PaperRect(), Area(9, 10, 6, 5));
  for (int32_t y = 11; y <= 13; ++y)
    for (int32_t x = 9; x <= 11; ++x) EXPECT_EQ(k.ValueAtPaper(x, y), 255) << x << "," << y;
  EXPECT_EQ(count255(*k.channel), 9);
  // The playback variant keeps the channel: growth stops at its edge.
  ASSERT_TRUE(m.BuildFromChannel(0, *block(5, 5, {0, 2, 1, 1}), kMaskNew, {-10, -10}, old));
  ASSERT_TRUE(m.GrowShrinkOne(0, true, false, old));
  EXPECT_EQ(m.At(0)->PaperRect(), Area(10, 10, 5, 5));
  EXPECT_EQ(count255(*m.At(0)->channel), 6);
  // Shrinking a 3 × 3 block leaves its centre.
  ASSERT_TRUE(m.BuildFromChannel(0, *block(9, 9, {3, 3, 3, 3}), kMaskNew, {0, 0}, old));
  ASSERT_TRUE(m.GrowShrinkOne(0, false, true, old));
  EXPECT_EQ(count255(*m.At(0)->channel), 1);
  EXPECT_EQ(m.At(0)->ValueAtPaper(4, 4), 255);
}

TEST(Masks, GrowByTwoOfOnePixelIsAFiveByFiveSquareWithoutCorners) {
  CMaskMngr m = paperOf(20, 20);
  std::unique_ptr<CMaskData> old;
  ASSERT_TRUE(m.BuildFromChannel(0, *block(20, 20, {10, 10, 1, 1}), kMaskNew, {0, 0}, old));
  ASSERT_TRUE(m.GrowShrinkBy(0, 2, true, old));
  const CMaskData& k = *m.At(0);
  EXPECT_EQ(count255(*k.channel), 21);
  EXPECT_EQ(k.ValueAtPaper(8, 8), 0);
  EXPECT_EQ(k.ValueAtPaper(8, 9), 255);
  EXPECT_EQ(k.ValueAtPaper(12, 10), 255);
  // Shrinking it back by 2 leaves the centre; amounts beyond 32 count as 32.
  ASSERT_TRUE(m.GrowShrinkBy(0, 2, false, old));
  EXPECT_EQ(count255(*m.At(0)->channel), 1);
  EXPECT_EQ(m.At(0)->ValueAtPaper(10, 10), 255);
  ASSERT_TRUE(m.GrowShrinkBy(0, 1000, true, old));
  EXPECT_EQ(m.At(0)->PaperRect(), Area(0, 0, 20, 20)) << "clipped to the paper";
}

// The element by its definition, outside pixels as `outside`.
uint8_t octagonAt(const std::vector<uint8_t>& img, int32_t w, int32_t h, int32_t x, int32_t y, int32_t n, bool grow) {
  const int32_t b = (n + 1) / 2;
  uint8_t v = grow ? 0 : 255;
  for (int32_t dy = -n; dy <= n; ++dy)
    for (int32_t dx = -n; dx <= n; ++dx) {
      if (std::abs(dx) + std::abs(dy) > n + b) continue;
      const int32_t sx = x + dx, sy = y + dy;
      const uint8_t s = sx < 0 || sy < 0 || sx >= w || sy >= h ? 0 : img[size_t(sy * w + sx)];
      v = grow ? std::max(v, s) : std::min(v, s);
    }
  return v;
}

TEST(Masks, OctagonMorphologyEqualsItsDefinitionOnRandomChannels) {
  std::mt19937 rng(7);
  for (int32_t n : {1, 2, 3, 4, 7, 32}) {
    for (bool grow : {true, false}) {
      const int32_t w = 70 + n, h = 66;
      std::vector<uint8_t> img(size_t(w * h));
      for (auto& p : img) p = (rng() % 3 == 0) ? 0 : uint8_t(rng() % 256);
      CBlockVCH in(w, h), out(w, h);
      for (int32_t y = 0; y < h; ++y) in.WriteRow(y, &img[size_t(y * w)], 0, w);
      ASSERT_TRUE(morphOctagon(in, out, n, grow));
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
          ASSERT_EQ(out.Pixel(x, y), octagonAt(img, w, h, x, y, n, grow)) << n << grow << " at " << x << "," << y;
    }
  }
}

TEST(Masks, SquareMorphologyClampsToTheEdgeAndEqualsItsDefinition) {
  std::mt19937 rng(3);
  const int32_t w = 130, h = 70;
  std::vector<uint8_t> img(size_t(w * h));
  for (auto& p : img) p = uint8_t(rng() % 256);
  CBlockVCH in(w, h);
  for (int32_t y = 0; y < h; ++y) in.WriteRow(y, &img[size_t(y * w)], 0, w);
  for (bool grow : {true, false}) {
    CBlockVCH out(w, h);
    ASSERT_TRUE(morphSquare(in, out, {0, 0, w, h}, grow));
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        uint8_t v = grow ? 0 : 255;
        for (int dy = -1; dy <= 1; ++dy)
          for (int dx = -1; dx <= 1; ++dx) {
            const uint8_t s = img[size_t(std::clamp(y + dy, 0, h - 1) * w + std::clamp(x + dx, 0, w - 1))];
            v = grow ? std::max(v, s) : std::min(v, s);
          }
        ASSERT_EQ(out.Pixel(x, y), v) << x << "," << y;
      }
  }
}

TEST(Masks, CombineCopiesIntoAnEmptyDestinationAndMergesOtherwise) {
  CMaskMngr m = paperOf(30, 30);
  std::unique_ptr<CMaskData> old;
  m.AddEmpty(1);
  ASSERT_TRUE(m.BuildFromChannel(1, *block(4, 4, {0, 0, 4, 4}), kMaskNew, {-2, -2}, old));
  EXPECT_FALSE(m.Combine(0, 1, kMaskSubtract, old));
  ASSERT_TRUE(m.Combine(0, 1, kMaskAdd, old));
  EXPECT_EQ(m.At(0)->name, "마스크1");
  EXPECT_EQ(m.At(0)->ValueAtPaper(3, 3), 255);
  ASSERT_TRUE(m.BuildFromChannel(1, *block(4, 4, {0, 0, 4, 4}), kMaskNew, {-4, -4}, old));
  ASSERT_TRUE(m.Combine(0, 1, kMaskIntersect, old));
  EXPECT_EQ(m.At(0)->ValueAtPaper(2, 2), 0);
  EXPECT_EQ(m.At(0)->ValueAtPaper(4, 4), 255);
  EXPECT_FALSE(m.Combine(1, 2, kMaskAdd, old)) << "no such source";
}

TEST(Masks, RescaleKeepsAtLeastOnePixelAndScalesOrigins) {
  for (int kind : {1, 2}) {
    CMaskMngr m = paperOf(1000, 1000);
    std::unique_ptr<CMaskData> old;
    ASSERT_TRUE(m.BuildFromChannel(0, *block(2, 2, {0, 0, 2, 2}), kMaskNew, {-500, -500}, old));
    m.AddEmpty(1);
    auto copy = m.RescaledCopy({10, 10}, kind);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->At(0)->ChannelSize(), Size(1, 1));
    EXPECT_EQ(copy->At(0)->PaperRect().x, 5);
    EXPECT_FALSE(copy->At(1)->HasChannel());
    EXPECT_EQ(copy->At(1)->name, "마스크2");
    ASSERT_TRUE(m.RescaleAll({2000, 2000}, kind));
    EXPECT_EQ(m.At(0)->ChannelSize(), Size(4, 4));
    EXPECT_EQ(m.At(0)->ValueAtPaper(1000, 1000), 255);
  }
}

TEST(Masks, AreaRescaleAveragesExactly) {
  CMaskMngr m = paperOf(4, 1);
  std::unique_ptr<CMaskData> old;
  auto c = std::make_unique<CBlockVCH>(4, 1);
  const uint8_t row[4] = {0, 255, 100, 101};
  c->WriteRow(0, row, 0, 4);
  ASSERT_TRUE(m.BuildFromChannel(0, *c, kMaskNew, {0, 0}, old));
  ASSERT_TRUE(m.RescaleAll({2, 1}, 2));
  EXPECT_EQ(m.At(0)->channel->Pixel(0, 0), 128);  // 127.5 rounds up
  EXPECT_EQ(m.At(0)->channel->Pixel(1, 0), 101);  // 100.5 rounds up
}

TEST(Masks, LayerAlphaRoundTrips) {
  CBlockVMTC layer(40, 40);
  layer.SetAll(0xFF102030u);
  CMaskData empty(0);
  ASSERT_TRUE(empty.CopyIntoLayerAlpha(layer, {0, 0}));
  EXPECT_EQ(layer.Pixel(10, 10), 0x00102030u) << "an empty mask makes the layer transparent";
  CMaskData k(0);
  ASSERT_TRUE(k.FromLayerAlpha(layer, {0, 0}));
  CMaskMngr m = paperOf(40, 40);
  std::unique_ptr<CMaskData> old;
  ASSERT_TRUE(m.BuildFromChannel(0, *block(10, 10, {0, 0, 10, 10}, 128), kMaskNew, {-5, -5}, old));
  // The layer lies 3 pixels left of the paper: layer x = paper x + 3.
  ASSERT_TRUE(m.At(0)->CopyIntoLayerAlpha(layer, {3, 0}));
  EXPECT_EQ(layer.Pixel(8, 5) >> 24, 128u);
  EXPECT_EQ(layer.Pixel(7, 5) >> 24, 0u);
  EXPECT_EQ(layer.Pixel(17, 14) >> 24, 128u);
  EXPECT_EQ(layer.Pixel(18, 14) >> 24, 0u);
  CMaskData b(0);
  layer.SetPixel(0, 0, 0xFF000000u);  // opaque black
  layer.SetPixel(1, 0, 0xFFFFFFFFu);  // opaque white
  ASSERT_TRUE(b.FromLayerBrightness(layer, {3, 0}, true));
  EXPECT_EQ(b.ValueAtPaper(-3, 0), 255);
  EXPECT_EQ(b.ValueAtPaper(-2, 0), 0);
}

TEST(Masks, AbsurdPlacesAndSizesAreRefusedWithoutChange) {
  ScopedUiCapture quiet;
  CMaskMngr m = paperOf(100, 100);
  std::unique_ptr<CMaskData> old;
  ASSERT_TRUE(m.BuildFromChannel(0, *block(4, 4, {0, 0, 4, 4}), kMaskNew, {0, 0}, old));
  EXPECT_FALSE(m.BuildFromChannel(0, *block(4, 4, {0, 0, 4, 4}), kMaskAdd, {INT32_MIN, 0}, old));
  // Two pieces 60000 apart make a union wider than any channel.
  EXPECT_FALSE(m.BuildFromChannel(0, *block(4, 4, {0, 0, 4, 4}), kMaskAdd, {-70000, 0}, old));
  EXPECT_EQ(m.At(0)->PaperRect(), Area(0, 0, 4, 4));
  EXPECT_FALSE(m.BuildFromChannel(5, *block(4, 4, {0, 0, 4, 4}), kMaskNew, {0, 0}, old));
}

}  // namespace
}  // namespace vl
