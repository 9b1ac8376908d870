#include "document/paper.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "document/blend_modes.h"
#include "platform/clock.h"
#include "platform/ui_services.h"
#include "platform/worker_pool.h"
#include "support/random_session.h"

namespace vl {
namespace {

constexpr uint32_t kClear = 0x00FFFFFFu;  // transparent white

// Small deterministic generator for test pictures.
struct Lcg {
  uint32_t s;
  uint32_t next() { return s = s * 1664525u + 1013904223u; }
};

// Random pixels with alpha spread over 0 … 255, an eighth fully opaque and an eighth transparent.
void randomFill(TMTC& buf, uint32_t seed) {
  Lcg g{seed};
  for (int32_t y = 0; y < buf.height; ++y)
    for (int32_t x = 0; x < buf.width; ++x) {
      uint32_t p = g.next();
      const uint32_t sel = (p >> 5) & 7;
      if (sel == 0) p |= 0xFF000000u;
      if (sel == 1) p &= 0x00FFFFFFu;
      buf.Row(y)[x] = p;
    }
}

// Writes random pixels into area `a` of the layer image.
void paint(CLayerData& l, Area a, uint32_t seed) {
  TMTC buf(a.width, a.height);
  randomFill(buf, seed);
  ASSERT_TRUE(l.pixels->WriteFrom(buf, {a.x, a.y}, 255, buf.area()));
}

// Standard mode written out: d + (s − d) · t ÷ 255 with t = opacity · alpha ÷ 255.
uint32_t over(uint32_t d, uint32_t s, int opacity) {
  const int t = opacity * int(s >> 24) / 255;
  uint32_t out = 0;
  for (int sh : {0, 8, 16}) {
    const int dc = int((d >> sh) & 0xFF), sc = int((s >> sh) & 0xFF);
    out |= uint32_t((sc * t + dc * (255 - t)) / 255) << sh;
  }
  return out;
}

// What the composite should show at a paper point, from the layers' pixels.
uint32_t expectedAt(const TPaper& p, int32_t x, int32_t y) {
  uint32_t c = p.paperColor & 0xFFFFFFu;
  for (int32_t i = 0; i < p.layerCount(); ++i) {
    const CLayerData& l = *p.layerAt(i);
    if (!l.visible || l.opacity == 0) continue;
    c = over(c, l.pixels->PixelOr(x + l.offsetX, y + l.offsetY), l.opacity);
  }
  return c;
}

// Number of composite pixels in `a` that differ from the layers' composition.
int compositeMismatches(const TPaper& p, Area a) {
  int bad = 0;
  for (int32_t y = a.y; y < a.bottom(); ++y)
    for (int32_t x = a.x; x < a.right(); ++x) {
      const uint32_t got = p.compositeImage.At(x, y) & 0xFFFFFFu, want = expectedAt(p, x, y);
      if (got != want && ++bad <= 3) {
        ADD_FAILURE() << "composite at " << x << "," << y << ": " << std::hex << got << " instead of " << want;
      }
    }
  return bad;
}

class PaperTest : public ::testing::Test {
 protected:
  bool make(int32_t w, int32_t h) { return paper.newPaper(flow, "doc", 72, h, w); }
  // A standard layer of w × h placed so paper (0, 0) is image point (ox, oy).
  CLayerData& addLayer(int32_t w, int32_t h, int32_t ox = 0, int32_t oy = 0) {
    const int32_t i = paper.layers.AppendNew(w, h, 1, 255, kModeNormal, false);
    EXPECT_GE(i, 0);
    CLayerData& l = *paper.layerAt(i);
    l.offsetX = ox;
    l.offsetY = oy;
    return l;
  }
  uint32_t rgbAt(int32_t x, int32_t y) const { return paper.compositeImage.At(x, y) & 0xFFFFFFu; }
  void scribble(Area a, uint32_t seed) {
    TMTC buf(a.width, a.height);
    randomFill(buf, seed);
    ASSERT_TRUE(flow.colour.Copy({a.x, a.y}, buf, buf.area()));
    flow.coverage.FillArea(a, 255);
  }

  ScopedUiCapture capture;
  FixedClock clock{4242};
  ScopedClock useClock{clock};
  HeadlessView view{800, 600};
  TPaper paper{&view};
  TFlowImage flow{paper};
};

// ---- a new paper ----

TEST_F(PaperTest, NewPaperHasOneClearStandardLayerAndShowsThePaperColour) {
  paper.paperColor = 0x3A5C7E;
  ASSERT_TRUE(make(70, 45));
  EXPECT_EQ(paper.initialised, 1);
  EXPECT_EQ(paper.name, "doc");
  EXPECT_EQ(paper.resolution, 72);
  EXPECT_EQ(paper.width, 70);
  EXPECT_EQ(paper.height, 45);
  ASSERT_EQ(paper.layerCount(), 1);
  EXPECT_EQ(paper.currentLayerIndex(), 0);
  const CLayerData& l = *paper.currentLayer();
  EXPECT_EQ(l.name, "레이어1");
  EXPECT_EQ(l.Mode(), kModeNormal);
  EXPECT_EQ(l.visible, 1);
  EXPECT_EQ(l.opacity, 255);
  EXPECT_EQ(l.offsetX, 0);
  EXPECT_EQ(l.offsetY, 0);
  ASSERT_EQ(l.ImageSize(), (Size{70, 45}));
  // Transparent white throughout, without a single tile of memory.
  EXPECT_EQ(l.pixels->AllocatedTiles(), 0);
  for (int32_t r = 0; r < l.pixels->tilesDown; ++r)
    for (int32_t c = 0; c < l.pixels->tilesAcross; ++c) EXPECT_EQ(l.pixels->Tile(c, r)->uniform, kClear);

  ASSERT_EQ(paper.compositeImage.size(), (Size{70, 45}));
  for (int32_t y = 0; y < 45; ++y)
    for (int32_t x = 0; x < 70; ++x) ASSERT_EQ(rgbAt(x, y), 0x3A5C7Eu) << x << "," << y;

  // The flow holds the layer: transparent white, nothing touched.
  EXPECT_EQ(flow.boundLayer, 0);
  ASSERT_EQ(flow.colour.size(), (Size{70, 45}));
  ASSERT_EQ(flow.coverage.size(), (Size{70, 45}));
  for (int32_t y = 0; y < 45; ++y)
    for (int32_t x = 0; x < 70; ++x) {
      ASSERT_EQ(flow.colour.At(x, y), kClear);
      ASSERT_EQ(flow.coverage.At(x, y), 0);
    }
  EXPECT_EQ(flow.paperWidth, 70);
  EXPECT_EQ(flow.paperHeight, 45);
  EXPECT_GT(view.invalidatedAll, 0);
  EXPECT_TRUE(capture.capture.warnings.empty());
}

TEST_F(PaperTest, NewPaperTakesSidesFromOneToTenThousandOnly) {
  struct Case {
    int32_t w, h;
    bool ok;
  } cases[] = {{0, 10, false}, {10, 0, false},    {-1, 10, false},  {10, -1, false},
               {10001, 8, false}, {8, 10001, false}, {1, 1, true}, {10000, 8, true}, {8, 10000, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << " x " << c.h);
    TPaper p(&view);
    TFlowImage f(p);
    EXPECT_EQ(p.newPaper(f, "n", 0, c.h, c.w), c.ok);
    EXPECT_EQ(p.initialised, c.ok ? 1 : 0);
    EXPECT_EQ(p.layerCount(), c.ok ? 1 : 0);
    if (c.ok) {
      EXPECT_EQ(p.compositeImage.size(), (Size{c.w, c.h}));
      EXPECT_EQ(p.layerAt(0)->pixels->AllocatedTiles(), 0);
      EXPECT_EQ(p.compositeImage.At(c.w - 1, c.h - 1) & 0xFFFFFFu, 0xFFFFFFu);
    } else {
      EXPECT_EQ(p.width, 0);
      EXPECT_EQ(p.height, 0);
    }
  }
}

// The largest paper: composite and flow buffers only, no layer tiles; the
// memory figure is computed in 64 bits.
TEST_F(PaperTest, LargestPaperAllocatesNoLayerTiles) {
  ASSERT_TRUE(make(10000, 10000));
  EXPECT_EQ(paper.layerAt(0)->pixels->AllocatedTiles(), 0);
  EXPECT_EQ(rgbAt(9999, 9999), 0xFFFFFFu);
  int64_t layerBytes = -1, undoBytes = -1;
  const int64_t total = paper.memoryUsage(&layerBytes, &undoBytes);
  EXPECT_EQ(layerBytes, paper.layerAt(0)->thumbnail.ByteSize());
  EXPECT_EQ(undoBytes, 0);
  EXPECT_EQ(total, int64_t(900000000) + layerBytes);
}

TEST_F(PaperTest, MemoryUsageCountsPaperBuffersAndLayerTiles) {
  ASSERT_TRUE(make(64, 48));
  int64_t layerBytes = 0;
  const int64_t thumb = paper.layerAt(0)->thumbnail.ByteSize();
  EXPECT_EQ(paper.memoryUsage(&layerBytes), 64 * 48 * 9 + thumb);
  EXPECT_EQ(layerBytes, thumb);
  paint(*paper.layerAt(0), Area(40, 0, 1, 1), 1);  // one 32 × 32 tile
  EXPECT_EQ(paper.memoryUsage(&layerBytes), 64 * 48 * 9 + thumb + 4096);
  EXPECT_EQ(layerBytes, thumb + 4096);
  // Sides whose product times nine exceeds 32 bits.
  TPaper big;
  big.width = 50000;
  big.height = 40000;
  EXPECT_EQ(big.memoryUsage(), int64_t(18000000000));
}

// ---- composition ----

TEST_F(PaperTest, HiddenOrTransparentLayersLeaveThePaperColour) {
  paper.paperColor = 0x204060;
  ASSERT_TRUE(make(50, 40));
  addLayer(50, 40);
  addLayer(80, 70, 20, 15);
  for (int32_t i = 0; i < 3; ++i) paint(*paper.layerAt(i), Area(paper.layerAt(i)->ImageSize()), 10 + i);
  for (int variant = 0; variant < 2; ++variant) {
    SCOPED_TRACE(variant == 0 ? "hidden" : "opacity 0");
    for (int32_t i = 0; i < 3; ++i) {
      paper.layerAt(i)->visible = variant == 0 ? 0 : 1;
      paper.layerAt(i)->opacity = variant == 0 ? 255 : 0;
    }
    paper.recomposeRect(Area(0, 0, 50, 40), false);
    for (int32_t y = 0; y < 40; ++y)
      for (int32_t x = 0; x < 50; ++x) ASSERT_EQ(rgbAt(x, y), 0x204060u) << x << "," << y;
  }
  // One layer back at full strength.
  paper.layerAt(1)->opacity = 255;
  paper.recomposeRect(Area(0, 0, 50, 40), false);
  EXPECT_EQ(compositeMismatches(paper, Area(0, 0, 50, 40)), 0);
}

TEST_F(PaperTest, PaintedLayersComposeWithOffsetsAndOpacity) {
  paper.paperColor = 0xC08040;
  ASSERT_TRUE(make(100, 70));
  paint(*paper.layerAt(0), Area(5, 3, 90, 60), 1);
  // An image larger than the paper reaching past it on every side.
  CLayerData& upper = addLayer(150, 110, 23, 17);
  paint(upper, Area(0, 0, 150, 110), 2);
  upper.opacity = 180;
  CLayerData& top = addLayer(100, 70);
  paint(top, Area(60, 40, 40, 30), 3);
  top.opacity = 77;
  paper.recomposeRect(Area(0, 0, 100, 70), false);
  EXPECT_EQ(compositeMismatches(paper, Area(0, 0, 100, 70)), 0);

  // A rectangle reaching past the paper is clipped; nothing outside it changes.
  paint(upper, Area(0, 0, 150, 110), 4);
  paper.compositeImage.Fill(0xFF000000u);
  const Area r(-10, 50, 47, 40);  // clips to (0, 50, 37, 20)
  paper.recomposeRect(r, false);
  EXPECT_EQ(compositeMismatches(paper, Area(0, 50, 37, 20)), 0);
  for (int32_t y = 0; y < 70; ++y)
    for (int32_t x = 0; x < 100; ++x)
      if (x >= 37 || y < 50) {
        ASSERT_EQ(paper.compositeImage.At(x, y), 0xFF000000u) << x << "," << y;
      }
  // The alpha byte of the composite is not touched.
  paper.compositeImage.Fill(0x12000000u);
  paper.recomposeRect(Area(0, 0, 100, 70), false);
  EXPECT_EQ(paper.compositeImage.At(50, 50) >> 24, 0x12u);
  EXPECT_EQ(compositeMismatches(paper, Area(0, 0, 100, 70)), 0);
}

TEST_F(PaperTest, RefreshLayerContentRecomposesTheOccupiedRegion) {
  ASSERT_TRUE(make(120, 90));
  CLayerData& l = addLayer(200, 150, 40, 30);
  paint(l, Area(60, 50, 30, 20), 5);  // paper (20, 20, 30, 20)
  l.pixels->RecomputeOccupied();
  paper.refreshLayerContent(1, true);
  EXPECT_EQ(compositeMismatches(paper, Area(0, 0, 120, 90)), 0);
}

TEST_F(PaperTest, DissolveGivesTheSamePixelsEveryTime) {
  ASSERT_TRUE(make(64, 64));
  CLayerData& l = *paper.currentLayer();
  paint(l, Area(0, 0, 64, 64), 9);
  l.dissolve = 1;
  l.dissolveAmount = 200;
  l.random = RandomState(777, 0, 255);
  const RandomState before = l.random;
  const Area r(5, 7, 40, 33);
  paper.recomposeRect(r, false);
  std::vector<uint32_t> first;
  for (int32_t y = r.y; y < r.bottom(); ++y)
    for (int32_t x = r.x; x < r.right(); ++x) first.push_back(paper.compositeImage.At(x, y));
  paper.recomposeRect(r, false);
  size_t k = 0;
  int kept = 0, changed = 0;
  for (int32_t y = r.y; y < r.bottom(); ++y)
    for (int32_t x = r.x; x < r.right(); ++x, ++k) {
      ASSERT_EQ(paper.compositeImage.At(x, y), first[k]) << x << "," << y;
      (paper.compositeImage.At(x, y) & 0xFFFFFFu) == 0xFFFFFFu ? ++kept : ++changed;
    }
  EXPECT_GT(kept, 100);  // the dissolve really left pixels out
  EXPECT_GT(changed, 100);
  EXPECT_EQ(l.random.seed, before.seed);
  EXPECT_EQ(l.random.count, before.count);
  EXPECT_EQ(l.random.state, before.state);
}

// Each dissolving layer draws its numbers in its own tile walk over the
// rectangle, however the paper splits the work, and whatever the other
// layers' offsets are.
TEST_F(PaperTest, DissolveDrawsInEachLayersTileOrder) {
  struct {
    const char* name;
    int32_t upperOffsetY;
    Area rect;
  } cases[] = {
      {"offsets agree", 32, Area(5, 7, 90, 70)},
      {"offsets disagree", 13, Area(5, 7, 90, 70)},
      {"whole paper", 45, Area(0, 0, 100, 90)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(make(100, 90));
    paper.paperColor = 0x204060;
    CLayerData& base = *paper.currentLayer();
    paint(base, Area(0, 0, 100, 90), 31);
    base.dissolve = 1;
    base.dissolveAmount = 200;
    base.random = RandomState(991, 0, 255);
    CLayerData& plain = addLayer(100, 90);
    paint(plain, Area(40, 0, 20, 90), 32);
    CLayerData& upper = addLayer(140, 150, 7, c.upperOffsetY);
    paint(upper, Area(0, 0, 140, 150), 33);
    upper.dissolve = 1;
    upper.dissolveAmount = 150;
    upper.random = RandomState(4711, 0, 255);
    paper.recomposeRect(c.rect, false);

    // Which pixels each layer draws, walked tile by tile.
    auto drawnBy = [&](const CLayerData& l) {
      std::vector<char> drawn(100 * 90, 0);
      RandomState r = l.random;
      const CBlockVMTC& img = *l.pixels;
      const Area a(c.rect.x + l.offsetX, c.rect.y + l.offsetY, c.rect.width, c.rect.height);
      for (int32_t ty = 0; ty < img.height; ty += 32)
        for (int32_t tx = 0; tx < img.width; tx += 32) {
          const TileDesc& t = *img.Tile(tx >> 5, ty >> 5);
          if (!t.allocated && (t.uniform >> 24) == 0) continue;
          for (int32_t y = std::max(ty, a.y); y < std::min({ty + 32, a.bottom(), img.height}); ++y)
            for (int32_t x = std::max(tx, a.x); x < std::min({tx + 32, a.right(), img.width}); ++x)
              if (r.draw() < mul8(l.dissolveAmount, int(img.Pixel(x, y) >> 24)))
                drawn[size_t(y - l.offsetY) * 100 + size_t(x - l.offsetX)] = 1;
        }
      return drawn;
    };
    const std::vector<char> baseDrawn = drawnBy(base), upperDrawn = drawnBy(upper);
    int bad = 0, left = 0;
    for (int32_t y = c.rect.y; y < c.rect.bottom(); ++y)
      for (int32_t x = c.rect.x; x < c.rect.right(); ++x) {
        const size_t i = size_t(y) * 100 + size_t(x);
        uint32_t want = 0x204060;
        if (baseDrawn[i]) want = over(want, base.pixels->Pixel(x, y), 255);
        want = over(want, plain.pixels->Pixel(x, y), 255);
        if (upperDrawn[i]) want = over(want, upper.pixels->Pixel(x + 7, y + c.upperOffsetY), 255);
        left += !upperDrawn[i];
        if (rgbAt(x, y) != want && ++bad <= 3) ADD_FAILURE() << x << "," << y;
      }
    EXPECT_EQ(bad, 0);
    EXPECT_GT(left, 500);
  }
}

// The composite of a rectangle as one pass over it, layer by layer: what any
// split into bands, on any number of threads, must give.
std::vector<uint32_t> composedInOnePass(const TPaper& p, const TFlowImage& flow, Area r) {
  TMTC out(p.width, p.height);
  out.Fill(0xFF000000u | p.paperColor);
  for (int32_t i = 0; i < p.layerCount(); ++i) {
    const CLayerData& l = *p.layerAt(i);
    if (!l.visible || l.opacity == 0) continue;
    RandomState random = l.random;
    ComposeParams params;
    params.mode = l.Mode();
    params.opacity = l.opacity;
    params.dissolve = l.dissolve != 0;
    params.dissolveAmount = l.dissolveAmount;
    params.random = &random;
    params.legacy = p.drawGeneration == DrawGeneration::Legacy;
    const Area src(r.x + l.offsetX, r.y + l.offsetY, r.width, r.height);
    if (i == p.strokeLayer && p.strokeFlow) {
      composeBuffer(out, {r.x, r.y}, flow.colour, src, params);
    } else {
      composeImage(out, {r.x, r.y}, *l.pixels, src, params);
    }
  }
  std::vector<uint32_t> rgb;
  for (int32_t y = r.y; y < r.bottom(); ++y)
    for (int32_t x = r.x; x < r.right(); ++x) rgb.push_back(out.At(x, y) & 0xFFFFFFu);
  return rgb;
}

std::vector<uint32_t> compositeOf(const TPaper& p, Area r) {
  std::vector<uint32_t> rgb;
  for (int32_t y = r.y; y < r.bottom(); ++y)
    for (int32_t x = r.x; x < r.right(); ++x) rgb.push_back(p.compositeImage.At(x, y) & 0xFFFFFFu);
  return rgb;
}

struct PoolThreads {
  explicit PoolThreads(int n) { corePool().SetThreads(n); }
  ~PoolThreads() { corePool().SetThreads(before); }
  int before = corePool().Threads();
};

// Random papers with layers of every mode, offsets that do and do not line
// up with the bands, dissolving layers, hidden ones, layers smaller than the
// paper and a stroke shown from the flow: the bands shared among four threads give the composite that one
// thread gives, and both the composite of a single pass.
TEST_F(PaperTest, ThreadedBandsComposeExactlyAsOneThread) {
  PoolThreads restore(1);
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    SCOPED_TRACE(seed);
    Lcg g{seed * 7919};
    paper.drawGeneration = seed == 8 ? DrawGeneration::Legacy : DrawGeneration::Current;
    ASSERT_TRUE(make(int32_t(300 + g.next() % 80), int32_t(280 + g.next() % 60)));
    paper.paperColor = g.next() & 0xFFFFFFu;
    paint(*paper.currentLayer(), Area(0, 0, paper.width, paper.height), g.next());
    const bool aligned = seed % 2 == 0;  // the dissolving layers' tile rows agree
    for (int i = 0; i < 6; ++i) {
      const int32_t oy = aligned ? 64 : int32_t(g.next() % 50);
      CLayerData& l = addLayer(paper.width + 60, paper.height + 70, int32_t(g.next() % 50), oy);
      const int32_t x = int32_t(g.next() % 200), y = int32_t(g.next() % 200);
      paint(l, Area(x, y, int32_t(40 + g.next() % 200), int32_t(40 + g.next() % 200)), g.next());
      if (i == 2) l.pixels->SetRGB(Area(0, 0, 100, 100), 0x123456);  // uniform tiles of a colour
      l.pixels->RecomputeOccupied();
      l.mode = uint8_t((seed * 6 + uint32_t(i)) % kBlendModeCount);
      l.opacity = uint8_t(g.next() % 4 == 0 ? 255 : g.next());
      l.visible = g.next() % 8 != 0;
      l.dissolve = i % 2 == 0;
      l.dissolveAmount = uint8_t(g.next());
      l.random = RandomState(int32_t(g.next()), 0, 255);
    }
    // Two layers smaller than the paper, showing in its middle and at its
    // lower right, so many pieces of the composite miss them or cut them.
    for (int32_t k = 0; k < 2; ++k) {
      const int32_t ox = k ? 120 - paper.width : -101, oy = k ? 90 - paper.height : -77;
      CLayerData& small = addLayer(90 + 37 * k, 70 + 29 * k, ox, oy);
      paint(small, Area(0, 0, small.pixels->width, small.pixels->height), g.next());
      small.mode = uint8_t(k ? kModeMultiply : kModeNormal);
      small.opacity = uint8_t(k ? 255 : 140);
    }
    paper.currentLayer()->dissolve = 1;
    paper.currentLayer()->random = RandomState(int32_t(seed), 0, 255);
    if (seed % 3 == 0) {
      // A stroke on a dissolving layer, shown from the flow.
      ASSERT_TRUE(paper.setCurrentLayer(flow, 2));
      scribble(Area(20, 30, 200, 150), seed);
      paper.strokeLayer = 2;
      paper.strokeFlow = &flow;
    }
    const Area rects[] = {Area(0, 0, paper.width, paper.height), Area(3, 17, 290, 250),
                          Area(int32_t(g.next() % 40), int32_t(g.next() % 40), 256, 260)};
    for (const Area& r : rects) {
      const std::vector<uint32_t> single = composedInOnePass(paper, flow, r);
      corePool().SetThreads(1);
      paper.recomposeRect(r, false);
      EXPECT_EQ(compositeOf(paper, r), single) << "one thread";
      paper.compositeImage.Fill(0xFF000000u);
      corePool().SetThreads(4);
      paper.recomposeRect(r, false);
      EXPECT_EQ(compositeOf(paper, r), single) << "four threads";
    }
    paper.strokeLayer = -1;
    paper.strokeFlow = nullptr;
  }
}

// Empty layers on a large paper: inserting, moving, hiding and deleting them
// leaves the composite alone (nothing of it can change) and rewrites no
// block of the flow image that already holds what the layer holds; an empty
// layer takes a few kilobytes. Painted layers still come out exactly.
TEST_F(PaperTest, StructureChangesOfEmptyLayersCostWhatTheyHold) {
  ASSERT_TRUE(make(2000, 1500));
  CLayerData& base = *paper.currentLayer();
  paint(base, Area(100, 100, 300, 200), 3);
  base.pixels->RecomputeOccupied();
  paper.loadLayerToFlow(flow, 0, true);
  paper.recomposeAll(true);
  // A mark the composite only loses when it is recomposed there.
  paper.compositeImage.Row(1400)[1900] = 0xFF123456u;
  for (int i = 0; i < 20; ++i) {
    ASSERT_GE(paper.insertLayer(flow, paper.layerCount(), true, 255, kModeNormal, 2000, 1500, true), 0);
    EXPECT_EQ(flow.blocksRewritten, i == 0 ? 10 * 7 : 0) << "insert " << i;  // the painted blocks, once
    const CLayerData& l = *paper.layerAt(paper.layerCount() - 1);
    EXPECT_LT(l.pixels->DescriptorBytes() + l.MemoryUsed(), 16384);
  }
  EXPECT_EQ(paper.compositeImage.Row(1400)[1900], 0xFF123456u);
  EXPECT_GE(paper.moveLayer(flow, 5, 15, true), 0);
  EXPECT_EQ(paper.compositeImage.Row(1400)[1900], 0xFF123456u);
  EXPECT_TRUE(paper.setLayerVisible(7, false, true));
  EXPECT_EQ(paper.compositeImage.Row(1400)[1900], 0xFF123456u);
  EXPECT_TRUE(paper.showAll(false, true));
  EXPECT_TRUE(paper.showAll(true, true));
  EXPECT_EQ(paper.compositeImage.Row(1400)[1900], 0xFF123456u);
  EXPECT_TRUE(paper.deleteLayer(flow, 9, true));
  EXPECT_EQ(paper.compositeImage.Row(1400)[1900], 0xFF123456u);
  EXPECT_TRUE(test::flowFaithful(paper, flow));
  // Back to the painted layer: only its painted blocks are read again.
  ASSERT_TRUE(paper.setCurrentLayer(flow, 0));
  EXPECT_GT(flow.blocksRewritten, 0);
  EXPECT_LE(flow.blocksRewritten, 11 * 8);
  EXPECT_TRUE(test::flowFaithful(paper, flow));
  // A painted layer moved over the others changes the composite where it shows, exactly.
  ASSERT_GE(paper.moveLayer(flow, 0, paper.layerCount() - 1, true), 0);
  EXPECT_EQ(compositeMismatches(paper, Area(0, 0, 600, 400)), 0);
  // A layer of another mode holds another transparent colour: binding it rewrites.
  ASSERT_GE(paper.insertLayer(flow, 1, true, 255, kModeAdd, 2000, 1500, true), 0);
  EXPECT_EQ(flow.colour.At(1999, 1499), NeutralColour(kModeAdd));
  EXPECT_TRUE(test::flowFaithful(paper, flow));
}

TEST_F(PaperTest, StrokeLayerComposesFromTheFlow) {
  ASSERT_TRUE(make(80, 60));
  CLayerData& l = addLayer(120, 90, 25, 11);
  paint(l, Area(0, 0, 120, 90), 1);
  ASSERT_TRUE(paper.setCurrentLayer(flow, 1));
  scribble(Area(30, 20, 50, 40), 2);  // flow (buffer) coordinates = layer coordinates
  paper.strokeLayer = 1;
  paper.strokeFlow = &flow;
  paper.recomposeRect(Area(0, 0, 80, 60), false);
  // The composite shows the flow: it matches the layer only once the flow is written back.
  EXPECT_NE(rgbAt(20, 20), expectedAt(paper, 20, 20));
  paper.commitFlow(flow, 1, true);
  EXPECT_EQ(compositeMismatches(paper, Area(0, 0, 80, 60)), 0);
  // Without the stroke the layer itself is composed.
  paint(l, Area(0, 0, 120, 90), 3);
  paper.strokeFlow = nullptr;
  paper.recomposeRect(Area(0, 0, 80, 60), false);
  EXPECT_EQ(compositeMismatches(paper, Area(0, 0, 80, 60)), 0);
}

// ---- grid ----

int mul208(uint32_t c, int shift) { return int((c >> shift) & 0xFF) * 208 / 255; }
uint32_t darken(uint32_t c) { return uint32_t(mul208(c, 16) << 16 | mul208(c, 8) << 8 | mul208(c, 0)); }

TEST_F(PaperTest, GridDarkensEverySpacingthColumnAndRowWithTheMultiplyInk) {
  paper.paperColor = 0x80C0FF;
  ASSERT_TRUE(make(77, 60));
  const int before = view.invalidatedAll;
  paper.setGrid(true, 25, true, 20);
  EXPECT_GT(view.invalidatedAll, before);
  const uint32_t line = darken(0x80C0FF), cross = darken(line);
  EXPECT_EQ(line, 0x689CD0u);
  for (int32_t y = 0; y < 60; ++y)
    for (int32_t x = 0; x < 77; ++x) {
      const int n = (x % 25 == 0) + (y % 20 == 0);
      ASSERT_EQ(rgbAt(x, y), n == 2 ? cross : n == 1 ? line : 0x80C0FFu) << x << "," << y;
    }
  // A rectangle that starts between lines keeps them on the paper's multiples.
  paper.recomposeRect(Area(13, 7, 40, 30), true);
  for (int32_t y = 7; y < 37; ++y)
    for (int32_t x = 13; x < 53; ++x) {
      const int n = (x % 25 == 0) + (y % 20 == 0);
      ASSERT_EQ(rgbAt(x, y), n == 2 ? cross : n == 1 ? line : 0x80C0FFu) << x << "," << y;
    }
  // Without the overlay flag, or with the grid off, no lines.
  paper.recomposeRect(Area(0, 0, 77, 60), false);
  EXPECT_EQ(rgbAt(25, 3), 0x80C0FFu);
  paper.setGrid(false, 25, true, 25);
  EXPECT_EQ(rgbAt(25, 3), 0x80C0FFu);
}

TEST_F(PaperTest, GridSpacingNeverBelowTwo) {
  ASSERT_TRUE(make(10, 10));
  paper.setGrid(true, 1, true, -5);
  EXPECT_EQ(paper.gridSpacingX, 2);
  EXPECT_EQ(paper.gridSpacingY, 2);
  EXPECT_EQ(rgbAt(1, 1), 0xFFFFFFu);
  EXPECT_EQ(rgbAt(2, 1), darken(0xFFFFFF));
  EXPECT_EQ(rgbAt(2, 2), darken(darken(0xFFFFFF)));
}

// ---- caption and zoom ----

TEST_F(PaperTest, CaptionText) {
  struct Case {
    bool locked;
    int level;
    const char* want;
  } cases[] = {
      {true, 4, "<LOCKED> \"my \"pic\" %d\" w640 x h480 : 200%"},
      {false, 4, " \"my \"pic\" %d\" w640 x h480 : 200%"},
      {false, -8, " \"my \"pic\" %d\" w640 x h480 : 6%"},
      {false, -4, " \"my \"pic\" %d\" w640 x h480 : 33%"},
      {false, -2, " \"my \"pic\" %d\" w640 x h480 : 66%"},
      {false, 3, " \"my \"pic\" %d\" w640 x h480 : 175%"},
      {false, 9, " \"my \"pic\" %d\" w640 x h480 : 800%"},
  };
  ASSERT_TRUE(paper.newPaper(flow, "my \"pic\" %d", 72, 480, 640));
  for (const Case& c : cases) {
    paper.eventProtected = c.locked;
    paper.setZoomLevel(c.level);
    EXPECT_EQ(paper.captionText(), c.want);
  }
}

TEST(PaperZoom, FactorsAndRatios) {
  const double factors[] = {0.06001, 0.1, 0.15, 0.25, 0.333, 0.5, 0.666, 0.75, 1.0,
                            1.25,    1.5, 1.75, 2.0,  2.5,   3.0, 4.0,   6.0,  8.0};
  for (int level = -8; level <= 9; ++level) EXPECT_EQ(zoomFactorOf(level), factors[level + 8]) << level;
  EXPECT_EQ(zoomFactorOf(-9), 1.0);
  EXPECT_EQ(zoomFactorOf(10), 1.0);
  const int ratios[][2] = {{1, 1}, {5, 4}, {3, 2}, {7, 4}, {2, 1}, {5, 2}, {3, 1}, {4, 1}, {6, 1}, {8, 1}};
  for (int level = 0; level <= 9; ++level) {
    int num = 0, den = 0;
    zoomRatioOf(level, num, den);
    EXPECT_EQ(num, ratios[level][0]) << level;
    EXPECT_EQ(den, ratios[level][1]) << level;
  }
}

TEST(PaperZoom, StepsStopAtTheLimitsAndSetClamps) {
  TPaper p;
  p.setZoomLevel(9);
  EXPECT_FALSE(p.canZoomIn());
  EXPECT_FALSE(p.zoomIn());
  EXPECT_EQ(p.zoomLevel, 9);
  EXPECT_TRUE(p.zoomOut());
  EXPECT_EQ(p.zoomLevel, 8);
  p.setZoomLevel(-7);
  EXPECT_TRUE(p.canZoomOut());
  EXPECT_TRUE(p.zoomOut());
  EXPECT_EQ(p.zoomLevel, -8);
  EXPECT_FALSE(p.canZoomOut());
  EXPECT_FALSE(p.zoomOut());
  EXPECT_EQ(p.zoomLevel, -8);
  EXPECT_TRUE(p.zoomIn());
  EXPECT_EQ(p.zoomLevel, -7);
  p.setZoomLevel(100);
  EXPECT_EQ(p.zoomLevel, 9);
  p.setZoomLevel(-100);
  EXPECT_EQ(p.zoomLevel, -8);
  EXPECT_EQ(p.zoomFactor(), 0.06001);
}

// ---- coordinate mapping ----

TEST_F(PaperTest, UnrotatedMappingFollowsZoomOffsetAndOrigin) {
  paper.setWindowOffset(7, -3);
  paper.setViewOrigin(13, -5);
  for (int level = -8; level <= 9; ++level) {
    SCOPED_TRACE(level);
    paper.setZoomLevel(level);
    const double z = zoomFactorOf(level);
    double sx, sy, px, py;
    paper.paperToScreen(40.5, 22.25, sx, sy);
    EXPECT_NEAR(sx, z * (40.5 - 13) + 7, 1e-9);
    EXPECT_NEAR(sy, z * (22.25 + 5) - 3, 1e-9);
    paper.screenToPaper(sx, sy, px, py);
    EXPECT_NEAR(px, 40.5, 1e-9);
    EXPECT_NEAR(py, 22.25, 1e-9);
    // Integer points go there and back again at whole factors.
    if (level == 0 || level == 4 || level >= 6) {
      const Point s = paper.paperToScreen(Point{40, 22});
      EXPECT_EQ(paper.screenToPaper(s), (Point{40, 22}));
    }
  }
  // The integer form adds 0.01 before truncating: 3 × 0.333 = 0.999 shows at 1.
  paper.setWindowOffset(0, 0);
  paper.setViewOrigin(0, 0);
  paper.setZoomLevel(-4);
  EXPECT_EQ(paper.paperToScreen(Point{3, 6}), (Point{1, 2}));
  EXPECT_EQ(paper.paperToScreen(Point{-3, 2}), (Point{0, 0}));  // −0.989 and 0.676 truncate toward zero
}

TEST_F(PaperTest, RotatedMappingTurnsAboutTheWindowCentre) {
  view.width = 801;
  view.height = 601;  // half sizes 400 and 300
  paper.setRotationCentre(100.5f, 80.25f);
  paper.setZoomLevel(4);
  paper.setRotationDegrees(90.0f);
  EXPECT_TRUE(paper.rotated());
  EXPECT_NEAR(paper.rotationAngle, 1.5707963, 1e-6);
  EXPECT_NEAR(paper.rotationSine, 1.0, 1e-6);
  EXPECT_NEAR(paper.rotationCosine, 0.0, 1e-6);
  double sx, sy, px, py;
  paper.screenToPaper(400, 300, px, py);
  EXPECT_NEAR(px, 100.5, 1e-9);
  EXPECT_NEAR(py, 80.25, 1e-9);
  // 10 paper pixels along x appear 20 screen pixels up.
  paper.paperToScreen(110.5, 80.25, sx, sy);
  EXPECT_NEAR(sx, 400, 1e-4);
  EXPECT_NEAR(sy, 280, 1e-4);
  paper.setRotationRadians(0.5f);
  EXPECT_NEAR(paper.rotationDegrees, 28.647890, 1e-4);
  for (int level : {-8, -3, 0, 2, 9}) {
    paper.setZoomLevel(level);
    for (double x : {-50.0, 0.0, 333.7}) {
      paper.paperToScreen(x, 12.5, sx, sy);
      paper.screenToPaper(sx, sy, px, py);
      EXPECT_NEAR(px, x, 1e-4) << level;
      EXPECT_NEAR(py, 12.5, 1e-4) << level;
    }
  }
  paper.setRotationDegrees(0.0f);
  EXPECT_FALSE(paper.rotated());
}

// ---- painting the window ----

TEST_F(PaperTest, DirectPaintingDependsOnLevelAndSmoothing) {
  for (int level = -8; level <= 9; ++level)
    for (bool smooth : {false, true}) {
      paper.zoomAntialias = smooth;
      paper.setZoomLevel(level);
      const bool whole = level == 0 || level == 4 || level >= 6;
      EXPECT_EQ(paper.directPaintAllowed(), level >= 0 && (!smooth || whole)) << level << " " << smooth;
    }
}

TEST_F(PaperTest, DrawToWindowClampsAndPlacesTheStretchedRectangle) {
  ASSERT_TRUE(make(64, 48));
  paper.setWindowOffset(7, -3);
  paper.setViewOrigin(13, -5);
  struct Case {
    int level;
    int32_t left, bottom, right, top;
    ViewRect source;
    int32_t wx, wy;
    int num, den;
  } cases[] = {
      {0, 10, 40, 30, 20, {10, 20, 20, 20}, 4, 22, 1, 1},
      {0, -5, 1000, 1000, -7, {0, 0, 64, 48}, -6, 2, 1, 1},
      {1, 11, 40, 30, 21, {11, 21, 19, 19}, 4, 29, 5, 4},    // 16.25 and −6.25 truncate to 16 and −6
      {2, 10, 40, 30, 20, {10, 20, 20, 20}, 3, 34, 3, 2},    // 19.5 → 19, −7.5 → −7
      {3, 10, 40, 30, 20, {10, 20, 20, 20}, 2, 40, 7, 4},    // 17.5 → 17 and 35; 22.75 → 22, −8.75 → −8
      {9, 10, 40, 30, 20, {10, 20, 20, 20}, -17, 197, 8, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    paper.setZoomLevel(c.level);
    view.presented.clear();
    paper.drawToWindow(c.left, c.bottom, c.right, c.top);
    ASSERT_EQ(view.presented.size(), 1u);
    const HeadlessView::Presented& p = view.presented[0];
    EXPECT_EQ(p.source, c.source);
    EXPECT_EQ(p.windowX, c.wx);
    EXPECT_EQ(p.windowY, c.wy);
    EXPECT_EQ(p.num, c.num);
    EXPECT_EQ(p.den, c.den);
    EXPECT_EQ(p.bits, paper.compositeImage.Bits());
  }
  // Smoothed levels and rotated views go through the view image; the window is painted either way.
  paper.zoomAntialias = true;
  paper.setZoomLevel(2);
  view.presented.clear();
  paper.drawToWindow(0, 48, 64, 0);
  paper.zoomAntialias = false;
  paper.setZoomLevel(0);
  paper.setRotationDegrees(30.0f);
  paper.drawToWindow(0, 48, 64, 0);
  paper.setRotationDegrees(0.0f);
  EXPECT_EQ(view.presented.size(), 2u);
  // Nothing left after clamping: nothing painted.
  view.presented.clear();
  paper.drawToWindow(64, 48, 100, 0);
  paper.drawToWindow(10, 5, 30, 20);
  paper.drawToWindow(-20, 48, 0, 0);
  EXPECT_TRUE(view.presented.empty());
}

// ---- flow binding ----

TEST_F(PaperTest, LoadLayerToFlowGrowsReloadsAndClearsOutside) {
  ASSERT_TRUE(make(40, 30));
  paint(*paper.layerAt(0), Area(0, 0, 40, 30), 1);
  CLayerData& big = addLayer(70, 50, 10, 5);
  paint(big, Area(0, 0, 70, 50), 2);
  flow.coverage.Fill(9);

  // A larger image grows the buffer.
  EXPECT_TRUE(paper.loadLayerToFlow(flow, 1, false));
  ASSERT_EQ(flow.colour.size(), (Size{70, 50}));
  ASSERT_EQ(flow.coverage.size(), (Size{70, 50}));
  EXPECT_EQ(flow.boundLayer, 1);
  EXPECT_EQ(flow.offsetX, 10);
  EXPECT_EQ(flow.offsetY, 5);
  for (int32_t y = 0; y < 50; ++y)
    for (int32_t x = 0; x < 70; ++x) {
      ASSERT_EQ(flow.colour.At(x, y), big.pixels->Pixel(x, y)) << x << "," << y;
      ASSERT_EQ(flow.coverage.At(x, y), 0);
    }

  // Another layer: the buffer keeps its size, beyond the image is transparent white.
  EXPECT_TRUE(paper.loadLayerToFlow(flow, 0, false));
  ASSERT_EQ(flow.colour.size(), (Size{70, 50}));
  EXPECT_EQ(flow.offsetX, 0);
  EXPECT_EQ(flow.offsetY, 0);
  for (int32_t y = 0; y < 50; ++y)
    for (int32_t x = 0; x < 70; ++x)
      ASSERT_EQ(flow.colour.At(x, y), x < 40 && y < 30 ? paper.layerAt(0)->pixels->Pixel(x, y) : kClear)
          << x << "," << y;

  // The same layer again reloads only when forced; forcing compacts the image.
  scribble(Area(0, 0, 5, 5), 3);
  EXPECT_FALSE(paper.loadLayerToFlow(flow, 0, false));
  EXPECT_EQ(flow.coverage.At(0, 0), 255);
  paper.layerAt(0)->pixels->SetAll(0x40102030u);  // uniform values in allocated tiles
  ASSERT_GT(paper.layerAt(0)->pixels->AllocatedTiles(), 0);
  EXPECT_TRUE(paper.loadLayerToFlow(flow, 0, true));
  EXPECT_EQ(paper.layerAt(0)->pixels->AllocatedTiles(), 0);
  EXPECT_EQ(flow.colour.At(0, 0), 0x40102030u);
  EXPECT_EQ(flow.colour.At(39, 29), 0x40102030u);
  EXPECT_EQ(flow.colour.At(40, 29), kClear);
  EXPECT_EQ(flow.coverage.At(0, 0), 0);

  EXPECT_FALSE(paper.loadLayerToFlow(flow, 2, true));
  EXPECT_FALSE(paper.loadLayerToFlow(flow, -1, true));
  EXPECT_EQ(flow.boundLayer, 0);
}

TEST_F(PaperTest, SetCurrentLayerBindsTheFlow) {
  ASSERT_TRUE(make(40, 30));
  CLayerData& l = addLayer(40, 30);
  paint(l, Area(0, 0, 40, 30), 4);
  EXPECT_FALSE(paper.setCurrentLayer(flow, 2));
  EXPECT_EQ(paper.currentLayerIndex(), 0);
  EXPECT_TRUE(paper.setCurrentLayer(flow, 1));
  EXPECT_EQ(paper.currentLayerIndex(), 1);
  EXPECT_EQ(flow.boundLayer, 1);
  EXPECT_EQ(flow.colour.At(17, 9), l.pixels->Pixel(17, 9));
  // Selecting it again throws away what was drawn and not committed.
  scribble(Area(0, 0, 40, 30), 5);
  EXPECT_TRUE(paper.setCurrentLayer(flow, 1));
  for (int32_t y = 0; y < 30; ++y)
    for (int32_t x = 0; x < 40; ++x) ASSERT_EQ(flow.colour.At(x, y), l.pixels->Pixel(x, y));
}

TEST_F(PaperTest, CommitFlowRectWritesOrRestoresOnlyTheRectangle) {
  ASSERT_TRUE(make(100, 80));
  CLayerData& l = *paper.layerAt(0);
  paint(l, Area(0, 0, 100, 80), 1);
  ASSERT_TRUE(paper.loadLayerToFlow(flow, 0, true));
  TMTC original(100, 80);
  l.pixels->ReadInto(original, {0, 0}, false, 255, Area(0, 0, 100, 80));

  // Commit: the rectangle reaches the layer, the rest of the flow's changes do not.
  scribble(Area(0, 0, 100, 80), 2);
  const Area r(10, 5, 50, 40);
  paper.commitFlowRect(flow, 0, true, r);
  for (int32_t y = 0; y < 80; ++y)
    for (int32_t x = 0; x < 100; ++x) {
      const bool in = x >= 10 && x < 60 && y >= 5 && y < 45;
      ASSERT_EQ(l.pixels->Pixel(x, y), in ? flow.colour.At(x, y) : original.At(x, y)) << x << "," << y;
      ASSERT_EQ(flow.coverage.At(x, y), 0);
    }

  // Discard: the rectangle comes back from the layer; a rectangle reaching past the buffer is clipped.
  paper.commitFlowRect(flow, 0, false, Area(70, 60, 100, 100));
  for (int32_t y = 0; y < 80; ++y)
    for (int32_t x = 0; x < 100; ++x)
      if (x >= 70 && y >= 60) {
        ASSERT_EQ(flow.colour.At(x, y), original.At(x, y)) << x << "," << y;
      }
  EXPECT_NE(flow.colour.At(69, 60), original.At(69, 60));

  // An empty rectangle changes nothing but the coverage.
  const uint32_t keep = l.pixels->Pixel(80, 70);
  flow.coverage.Fill(7);
  paper.commitFlowRect(flow, 0, true, Area(80, 70, 0, 5));
  paper.commitFlowRect(flow, 0, true, Area(200, 200, 5, 5));
  EXPECT_EQ(l.pixels->Pixel(80, 70), keep);
  EXPECT_EQ(flow.coverage.At(3, 3), 0);

  // A committed area of one colour takes no tile memory.
  flow.colour.FillMasked(Area(32, 32, 32, 32), 0xFF00FF00u, 0xFFFFFFFFu);
  paper.commitFlowRect(flow, 0, true, Area(32, 32, 32, 32));
  const TileDesc* t = l.pixels->Tile(1, 1);
  EXPECT_FALSE(t->allocated);
  EXPECT_EQ(t->uniform, 0xFF00FF00u);
}

TEST_F(PaperTest, RefreshLayerRectCommitsRecomposesAndRedraws) {
  ASSERT_TRUE(make(90, 70));
  CLayerData& l = addLayer(130, 100, 20, 10);
  ASSERT_TRUE(paper.setCurrentLayer(flow, 1));
  scribble(Area(25, 15, 60, 40), 3);  // paper (5, 5, 60, 40)
  const int before = view.invalidatedAll;
  paper.refreshLayerRect(flow, 1, true, Area(25, 15, 60, 40));
  EXPECT_EQ(l.pixels->Pixel(40, 30), flow.colour.At(40, 30));
  EXPECT_EQ(compositeMismatches(paper, Area(0, 0, 90, 70)), 0);
  EXPECT_GT(view.invalidatedAll, before);
  TMTC full(l.thumbnail.width, l.thumbnail.height);
  l.pixels->RenderReduced(full, full.area(), Area(20, 10, 90, 70));
  for (int32_t y = 0; y < full.height; ++y)
    for (int32_t x = 0; x < full.width; ++x) ASSERT_EQ(l.thumbnail.At(x, y), full.At(x, y)) << x << "," << y;
}

// A partial thumbnail update leaves the thumbnail exactly as a full rendering.
TEST_F(PaperTest, UpdateLayerThumbMatchesAFullRendering) {
  struct Case {
    int32_t w, h, offset;
  } sizes[] = {{200, 150, 0}, {200, 150, 30}, {10, 7, 0}, {7, 300, 4}, {1000, 33, 0}, {1500, 1100, 100}};
  for (const Case& c : sizes) {
    SCOPED_TRACE(testing::Message() << c.w << " x " << c.h << " offset " << c.offset);
    ASSERT_TRUE(make(c.w, c.h));
    CLayerData& l = c.offset ? addLayer(c.w + 2 * c.offset, c.h + c.offset, c.offset, c.offset / 2) : *paper.layerAt(0);
    const int32_t index = c.offset ? 1 : 0;
    Lcg g{uint32_t(c.w * 7 + c.h)};
    for (int k = 0; k < 40; ++k) {
      // Small rectangles anywhere, some reaching past the paper.
      const int32_t rw = 1 + int32_t(g.next() >> 8) % std::max(1, c.w / (k % 4 == 0 ? 1 : 8));
      const int32_t rh = 1 + int32_t(g.next() >> 8) % std::max(1, c.h / (k % 4 == 0 ? 1 : 8));
      const Area r(int32_t(g.next() >> 8) % (c.w + 4) - 2, int32_t(g.next() >> 8) % (c.h + 4) - 2, rw, rh);
      SCOPED_TRACE(testing::Message() << r.x << "," << r.y << " " << r.width << "x" << r.height);
      l.pixels->SetAll(kClear);
      l.RenderThumbnail();
      Area inImage(r.x + l.offsetX, r.y + l.offsetY, r.width, r.height);
      if (l.pixels->ClipArea(inImage)) paint(l, inImage, uint32_t(k));
      TMTC before(l.thumbnail.width, l.thumbnail.height);
      before.Copy({0, 0}, l.thumbnail, l.thumbnail.area());
      paper.updateLayerThumb(true, index, r);
      EXPECT_EQ(std::memcmp(before.pixels, l.thumbnail.pixels, size_t(before.ByteSize())), 0) << "skipped";
      paper.updateLayerThumb(false, index, r);
      TMTC full(l.thumbnail.width, l.thumbnail.height);
      l.pixels->RenderReduced(full, full.area(), Area(l.offsetX, l.offsetY, c.w, c.h));
      int bad = 0;
      for (int32_t y = 0; y < full.height; ++y)
        for (int32_t x = 0; x < full.width; ++x)
          if (l.thumbnail.At(x, y) != full.At(x, y) && ++bad <= 3) {
            ADD_FAILURE() << "thumbnail " << x << "," << y << std::hex << ": " << l.thumbnail.At(x, y) << " not "
                          << full.At(x, y);
          }
      if (bad) return;
    }
  }
}

}  // namespace
}  // namespace vl

namespace vl {
namespace {

// A turned view invalidates the window box of the turned rectangle, not the
// whole window, and that box holds every point of the rectangle.
TEST(PaperInvalidation, TurnedViewsInvalidateTheBoxOfTheTurnedRectangle) {
  HeadlessView view(800, 600);
  TPaper paper(&view);
  paper.setRotationCentre(200.0f, 150.0f);
  for (int level : {-3, 0, 2})
    for (float degrees : {0.0f, 30.0f, 90.0f, -135.0f}) {
      paper.setZoomLevel(level);
      paper.setRotationDegrees(degrees);
      view.invalidated.clear();
      const int all = view.invalidatedAll;
      const Area rect(150, 120, 40, 25);
      paper.invalidatePaperRect(rect);
      ASSERT_EQ(view.invalidatedAll, all);
      ASSERT_EQ(view.invalidated.size(), 1u);
      const ViewRect& w = view.invalidated[0];
      EXPECT_LT(int64_t(w.width) * w.height, int64_t(800) * 600 / 4) << level << " " << degrees;
      for (double fx : {0.0, 0.5, 1.0})
        for (double fy : {0.0, 0.5, 1.0}) {
          double sx, sy;
          paper.paperToScreen(rect.x + fx * rect.width, rect.y + fy * rect.height, sx, sy);
          EXPECT_GE(sx, w.x);
          EXPECT_GE(sy, w.y);
          EXPECT_LE(sx, w.x + w.width);
          EXPECT_LE(sy, w.y + w.height);
        }
    }
}

}  // namespace
}  // namespace vl
