#include "document/layer.h"

#include <gtest/gtest.h>

#include "document/blend_modes.h"
#include "platform/clock.h"
#include "platform/ui_services.h"

namespace vl {
namespace {

std::unique_ptr<CLayerData> makeLayer(int32_t w, int32_t h, int mode = kModeNormal) {
  auto l = std::make_unique<CLayerData>(0, false);
  EXPECT_TRUE(l->InitPixels(w, h, mode));
  return l;
}

TEST(Layer, ConstructionTakesNextIdAndSeedsDissolveFromClock) {
  FixedClock clock(123456);
  ScopedClock use(clock);
  const int32_t next = CLayerData::NextId();
  CLayerData a(4, true), b(5, false);
  EXPECT_EQ(a.id, next);
  EXPECT_EQ(b.id, next + 1);
  EXPECT_EQ(a.index, 4);
  EXPECT_TRUE(a.wantsOwnUndo);
  EXPECT_TRUE(a.name.empty());
  EXPECT_EQ(a.visible, 0);
  EXPECT_EQ(a.opacity, 255);
  EXPECT_EQ(a.mode, 0);
  EXPECT_EQ(a.dissolve, 0);
  EXPECT_EQ(a.dissolveAmount, 255);
  EXPECT_EQ(a.random.seed, 123456);
  EXPECT_EQ(a.random.low, 0);
  EXPECT_EQ(a.random.high, 255);
  EXPECT_EQ(a.pixels, nullptr);
  EXPECT_EQ(a.MemoryUsed(), 0);
}

TEST(Layer, InitPixelsFillsWithTheNeutralColourWithoutTiles) {
  for (int mode : {kModeMultiply, kModeAdd, kModeNormal, kModeOverlay}) {
    SCOPED_TRACE(mode);
    CLayerData l(0, false);
    l.maskLock = 1;
    l.opacity = 9;
    ASSERT_TRUE(l.InitPixels(100, 40, mode));
    EXPECT_EQ(l.ImageSize(), (Size{100, 40}));
    EXPECT_EQ(l.paperWidth, 100);
    EXPECT_EQ(l.paperHeight, 40);
    EXPECT_EQ(l.visible, 1);
    EXPECT_EQ(l.maskLock, 0);
    EXPECT_EQ(l.opacity, 255);
    EXPECT_EQ(l.Mode(), mode);
    EXPECT_EQ(l.pixels->AllocatedBytes(), 0);
    EXPECT_EQ(l.pixels->Pixel(99, 39), NeutralColour(mode));
    EXPECT_EQ(l.pixels->Pixel(0, 0) >> 24, 0u);
    EXPECT_TRUE(l.thumbnail.IsAllocated());
  }
}

TEST(Layer, InitPixelsRefusesBadSizesAndDropsOldPixels) {
  CLayerData l(0, false);
  ASSERT_TRUE(l.InitPixels(10, 10, kModeNormal));
  for (Size s : {Size{0, 10}, Size{10, -1}, Size{kMaxLayerSide + 1, 1}, Size{kMaxLayerSide, kMaxLayerSide}}) {
    EXPECT_FALSE(l.InitPixels(s.width, s.height, kModeNormal)) << s.width << " x " << s.height;
    EXPECT_EQ(l.pixels, nullptr);
  }
  EXPECT_TRUE(layerSizeAllowed(kMaxLayerSide, 32));
  EXPECT_FALSE(layerSizeAllowed(kMaxLayerSide, kMaxLayerSide));
}

TEST(Layer, SizeThumbnailKeepsProportionsAndNeverVanishes) {
  struct Case {
    int32_t pw, ph, bw, bh, tw, th;
  } cases[] = {
      {100, 50, 33, 33, 33, 16}, {50, 100, 33, 33, 16, 33}, {64, 64, 33, 33, 33, 33},
      {10000, 8, 33, 33, 33, 1}, {8, 10000, 33, 33, 1, 33}, {300, 200, 40, 20, 40, 26},
  };
  for (const Case& c : cases) {
    CLayerData l(0, false);
    l.paperWidth = c.pw;
    l.paperHeight = c.ph;
    ASSERT_TRUE(l.SizeThumbnail(c.bw, c.bh));
    EXPECT_EQ(l.thumbnail.size(), (Size{c.tw, c.th})) << c.pw << " x " << c.ph;
    EXPECT_EQ(l.thumbnail.At(c.tw - 1, c.th - 1), 0x00FFFFFFu);
  }
}

TEST(Layer, RenderThumbnailShowsOnlyThePaperArea) {
  auto l = makeLayer(96, 64);
  l->paperWidth = 64;
  l->offsetX = 32;
  l->pixels->SetAll(0xFFFF0000u);
  l->pixels->SetRGB(Area(32, 0, 64, 64), 0x0000FFu);
  ASSERT_TRUE(l->SizeThumbnail(kThumbnailBox, kThumbnailBox));
  l->RenderThumbnail();
  for (int32_t y = 0; y < l->thumbnail.height; ++y)
    for (int32_t x = 0; x < l->thumbnail.width; ++x) ASSERT_EQ(l->thumbnail.At(x, y), 0xFF0000FFu) << x << "," << y;
}

TEST(Layer, CroppedCopyKeepsPaperPositions) {
  auto l = makeLayer(40, 40, kModeScreen);
  l->offsetX = 2;
  l->offsetY = 1;
  l->paperWidth = 30;
  l->paperHeight = 20;
  l->index = 7;
  ASSERT_TRUE(l->pixels->SetPixel(3, 5, 0xFF123456u));
  auto c = l->CroppedCopy({80, 70}, {10, 20});
  ASSERT_NE(c, nullptr);
  EXPECT_NE(c->id, l->id);
  EXPECT_EQ(c->index, 7);
  EXPECT_EQ(c->Mode(), kModeScreen);
  EXPECT_EQ(c->ImageSize(), (Size{80, 70}));
  EXPECT_EQ(c->offsetX, 12);
  EXPECT_EQ(c->offsetY, 21);
  EXPECT_EQ(c->paperWidth, 30);
  EXPECT_EQ(c->paperHeight, 20);
  EXPECT_EQ(c->pixels->Pixel(13, 25), 0xFF123456u);
  EXPECT_EQ(c->pixels->Pixel(12, 25), NeutralColour(kModeScreen));
  EXPECT_EQ(c->pixels->Pixel(79, 69), NeutralColour(kModeScreen));
  // The same paper point in both.
  EXPECT_EQ(13 - c->offsetX, 3 - l->offsetX);

  EXPECT_EQ(l->CroppedCopy({0, 5}, {0, 0}), nullptr);
}

TEST(Layer, CopyAllMakesADuplicateWithItsOwnId) {
  auto src = makeLayer(50, 40, kModeOverlay);
  src->name = "레이어7";
  src->opacity = 77;
  src->maskLock = 1;
  src->dissolve = 1;
  src->dissolveAmount = 12;
  src->offsetX = 3;
  src->paperWidth = 47;
  ASSERT_TRUE(src->pixels->SetPixel(45, 35, 0x80102030u));
  src->RenderThumbnail();

  CLayerData dup(1, false);
  ASSERT_TRUE(dup.InitFrom(*src));
  EXPECT_NE(dup.id, src->id);
  EXPECT_EQ(dup.name, "레이어7");
  EXPECT_EQ(dup.opacity, 77);
  EXPECT_EQ(dup.maskLock, 1);
  EXPECT_EQ(dup.dissolve, 1);
  EXPECT_EQ(dup.dissolveAmount, 12);
  EXPECT_EQ(dup.random.seed, src->random.seed);
  EXPECT_EQ(dup.Mode(), kModeOverlay);
  EXPECT_EQ(dup.offsetX, 3);
  EXPECT_EQ(dup.paperWidth, 47);
  EXPECT_EQ(dup.pixels->Pixel(45, 35), 0x80102030u);
  EXPECT_EQ(dup.pixels->Pixel(0, 0), src->pixels->Pixel(0, 0));
  ASSERT_EQ(dup.thumbnail.size(), src->thumbnail.size());
  EXPECT_EQ(dup.thumbnail.At(0, 0), src->thumbnail.At(0, 0));
}

TEST(Layer, ExtentAndClampOffset) {
  auto l = makeLayer(100, 80);
  l->paperWidth = 60;
  l->paperHeight = 50;
  l->offsetX = 10;
  l->offsetY = 5;
  EXPECT_EQ(l->Extent(), (Bounds{-10, -5, 90, 75}));
  EXPECT_TRUE(l->IsLargerThanPaper());

  struct Case {
    int32_t w, h, ox, oy;
    bool inside;
    int32_t cx, cy;
  } cases[] = {
      {100, 80, 0, 0, true, 0, 0},    {100, 80, 40, 30, true, 40, 30}, {100, 80, 41, 0, false, 40, 0},
      {100, 80, -5, 31, false, 0, 30}, {50, 40, 3, 3, false, 0, 0},     {60, 50, 0, 0, true, 0, 0},
  };
  for (const Case& c : cases) {
    auto m = makeLayer(c.w, c.h);
    m->paperWidth = 60;
    m->paperHeight = 50;
    m->offsetX = c.ox;
    m->offsetY = c.oy;
    EXPECT_EQ(m->ClampOffset(false), c.inside);
    EXPECT_EQ(m->offsetX, c.ox);
    EXPECT_EQ(m->ClampOffset(true), c.inside);
    EXPECT_EQ(m->offsetX, c.cx) << c.w << " " << c.ox;
    EXPECT_EQ(m->offsetY, c.cy) << c.h << " " << c.oy;
  }
}

TEST(Layer, OffsetGrowMaskFlagsUncoveredAxes) {
  auto l = makeLayer(84, 64);
  l->paperWidth = 64;
  l->offsetX = 10;
  struct Case {
    int32_t dx, dy;
    int mask;
  } cases[] = {{0, 0, 0}, {10, 0, 0}, {-10, 0, 0}, {11, 0, 1}, {-11, 0, 1}, {0, 1, 2}, {-20, -1, 3}};
  for (const Case& c : cases) EXPECT_EQ(l->OffsetGrowMask(c.dx, c.dy), c.mask) << c.dx << "," << c.dy;
}

TEST(Layer, AlphaOperationsMemoryAndFree) {
  auto l = makeLayer(64, 40);
  ASSERT_TRUE(l->pixels->SetPixel(1, 1, 0x11223344u));
  ASSERT_TRUE(l->SetAlpha(0x80));
  EXPECT_EQ(l->pixels->Pixel(1, 1), 0x80223344u);
  EXPECT_EQ(l->pixels->Pixel(63, 39), 0x80FFFFFFu);
  ASSERT_TRUE(l->InvertAlpha());
  EXPECT_EQ(l->pixels->Pixel(1, 1), 0x7F223344u);
  EXPECT_EQ(l->MemoryUsed(), 4096 + l->thumbnail.ByteSize());
  l->FreePixels();
  EXPECT_EQ(l->pixels, nullptr);
  EXPECT_FALSE(l->thumbnail.IsAllocated());
  EXPECT_EQ(l->visible, 0);
  EXPECT_EQ(l->MemoryUsed(), 0);
  EXPECT_FALSE(l->SetAlpha(0));
}

}  // namespace
}  // namespace vl
