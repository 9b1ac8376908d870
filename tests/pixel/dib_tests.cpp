#include "pixel/dib.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "pixel/simd.h"
#include "platform/ui_services.h"

namespace vl {
namespace {

// Every pixel a different value, so moved pixels show where they came from.
uint32_t tag(int32_t x, int32_t y) { return 0x01000000u * uint32_t(y + 1) + uint32_t(x * 16 + 1); }

void fillTagged(TMTC& b) {
  for (int32_t y = 0; y < b.height; ++y)
    for (int32_t x = 0; x < b.width; ++x) b.Row(y)[x] = tag(x, y);
}

// Counts the calls per pixel; the colour and strength are ignored.
uint32_t countWrites(uint32_t p, uint32_t, int) { return p + 1; }
// Leaves the strength it was called with.
uint32_t storeStrength(uint32_t, uint32_t, int s) { return uint32_t(s); }

// ---- layout ----

struct LayoutCase {
  const char* name;
  CDibCore* buffer;
  int bpp;
  bool topDown;
};

TEST(DibLayout, RowOrderStrideAndAddresses) {
  TChannel channel(5, 3);
  TMTC mtc(5, 3);
  TTC ttc(5, 3);
  const LayoutCase cases[] = {
      {"TChannel", &channel, 1, false},
      {"TMTC", &mtc, 4, true},
      {"TTC", &ttc, 4, false},
  };
  for (const auto& c : cases) {
    CDibCore& b = *c.buffer;
    ASSERT_TRUE(b.IsAllocated()) << c.name;
    EXPECT_EQ(b.BytesPerPixel(), c.bpp) << c.name;
    EXPECT_EQ(b.ByteSize(), 5 * 3 * c.bpp) << c.name;
    EXPECT_EQ(b.Stride(), c.topDown ? 5 : -5) << c.name;
    EXPECT_EQ(b.IsTopDown(), c.topDown) << c.name;
    // The first row in memory is row 0 for top-down buffers and the last row otherwise.
    EXPECT_EQ(b.PixelAddress(0, c.topDown ? 0 : 2), b.pixels) << c.name;
    for (int32_t y = 0; y < 3; ++y)
      for (int32_t x = 0; x < 5; ++x) {
        int32_t memRow = c.topDown ? y : 2 - y;
        EXPECT_EQ(b.PixelAddress(x, y), b.pixels + (memRow * 5 + x) * c.bpp) << c.name;
      }
    // One row down is Stride pixels away.
    EXPECT_EQ(b.PixelAddress(1, 1) - b.PixelAddress(1, 0), b.Stride() * c.bpp) << c.name;
    // New buffers are initialised.
    for (int64_t i = 0; i < b.ByteSize(); ++i) ASSERT_EQ(b.pixels[i], 0) << c.name;
    EXPECT_EQ(b.size(), (Size{5, 3})) << c.name;
  }
}

TEST(DibLayout, EmptyAndFreed) {
  TMTC b;
  EXPECT_FALSE(b.IsAllocated());
  EXPECT_EQ(b.ByteSize(), 0);
  ASSERT_TRUE(b.Resize(2, 2));
  b.Free();
  EXPECT_FALSE(b.IsAllocated());
  EXPECT_EQ(b.width, 0);
  EXPECT_EQ(b.height, 0);
  // Operations on an empty buffer do nothing.
  b.Fill(1);
  b.FlipVertical();
  b.Rotate180();
  EXPECT_FALSE(b.Apply({0, 0, 1, 1}, inkNormal, 0, 255));
}

TEST(DibLayout, InfoHeader) {
  TTC b(7, 3);
  BitmapInfoHeader h = b.InfoHeader(72);
  EXPECT_EQ(h.size, 40u);
  EXPECT_EQ(h.width, 7);
  EXPECT_EQ(h.height, 3);
  EXPECT_EQ(h.planes, 1);
  EXPECT_EQ(h.bitCount, 32);
  EXPECT_EQ(h.compression, 0u);
  EXPECT_EQ(h.imageSize, 7u * 4u * 3u);
  EXPECT_EQ(h.xPelsPerMeter, 2834);
  EXPECT_EQ(h.yPelsPerMeter, 2834);
}

// ---- Resize ----

TEST(Resize, TMTCKeepsTheBlockOfTheSameByteSize) {
  TMTC b(100, 50);
  fillTagged(b);
  uint8_t* block = b.pixels;
  uint32_t first = b.At(0, 0), last = b.At(99, 49);
  ASSERT_TRUE(b.Resize(50, 100));
  EXPECT_EQ(b.pixels, block);
  EXPECT_EQ(b.width, 50);
  EXPECT_EQ(b.height, 100);
  // Same bytes, new shape: the rows are rebuilt for the new width.
  EXPECT_EQ(b.PixelAddress(0, 99), block + 4 * 50 * 99);
  EXPECT_EQ(b.At(0, 0), first);
  EXPECT_EQ(b.At(49, 99), last);
}

TEST(Resize, SameSizeKeepsContents) {
  TMTC m(3, 2);
  TTC t(3, 2);
  for (TMTC* b : {&m, static_cast<TMTC*>(&t)}) {
    fillTagged(*b);
    uint8_t* block = b->pixels;
    ASSERT_TRUE(b->Resize(3, 2));
    EXPECT_EQ(b->pixels, block);
    EXPECT_EQ(b->At(2, 1), tag(2, 1));
  }
}

TEST(Resize, OtherByteSizeGivesAFreshZeroedBlock) {
  TMTC b(4, 4);
  b.Fill(0xFFFFFFFFu);
  ASSERT_TRUE(b.Resize(5, 4));
  EXPECT_EQ(b.ByteSize(), 5 * 4 * 4);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 5; ++x) ASSERT_EQ(b.At(x, y), 0u);
}

TEST(Resize, TTCIsNeverSmallerThanOnePixel) {
  struct Case {
    int32_t w, h, ew, eh;
  } const cases[] = {{0, 0, 1, 1}, {-5, 3, 1, 3}, {4, 0, 4, 1}, {2, 2, 2, 2}};
  for (const auto& c : cases) {
    TTC b;
    EXPECT_TRUE(b.Resize(c.w, c.h)) << c.w << "x" << c.h;
    EXPECT_TRUE(b.IsAllocated());
    EXPECT_EQ(b.width, c.ew);
    EXPECT_EQ(b.height, c.eh);
    EXPECT_EQ(b.PixelAddress(0, b.height - 1), b.pixels);
  }
  TTC zero(0, 0);
  EXPECT_EQ(zero.size(), (Size{1, 1}));
}

TEST(Resize, FailureLeavesEmptyAndTraces) {
  ScopedUiCapture ui;
  TChannel c(4, 4);
  TMTC m(4, 4);
  TTC t(4, 4);
  struct Case {
    CDibCore* buffer;
    const char* trace;
  } const cases[] = {
      {&c, "TChannel::Resize: caught an exception!\\n"},
      {&m, "TMTC::Resize: caught an exception!\\n"},
      {&t, "TTC::Resize: caught an exception!\\n"},
  };
  for (const auto& k : cases) {
    ui.capture.traces.clear();
    // Far beyond any picture the program allows.
    EXPECT_FALSE(k.buffer->Resize(200000, 200000)) << k.trace;
    EXPECT_FALSE(k.buffer->IsAllocated()) << k.trace;
    ASSERT_EQ(ui.capture.traces.size(), 1u) << k.trace;
    EXPECT_EQ(ui.capture.traces[0], k.trace);
    // The trace ends in a backslash and an n, not a line break.
    EXPECT_EQ(ui.capture.traces[0].back(), 'n');
  }
}

TEST(Resize, TChannelReallocates) {
  TChannel c(3, 3);
  c.Fill(7);
  ASSERT_TRUE(c.Resize(2, 5));
  EXPECT_EQ(c.ByteSize(), 10);
  EXPECT_EQ(c.PixelAddress(0, 4), c.pixels);
}

TEST(TMTC, FromBitmapSetsAlphaAndHonoursStride) {
  const uint32_t src[] = {0x00000001u, 0x12000002u, 0xDEADBEEFu, 0x00000003u, 0x00000004u, 0xDEADBEEFu};
  TMTC b(src, 2, 2, 3);
  ASSERT_TRUE(b.IsAllocated());
  EXPECT_EQ(b.At(0, 0), 0xFF000001u);
  EXPECT_EQ(b.At(1, 0), 0xFF000002u);
  EXPECT_EQ(b.At(0, 1), 0xFF000003u);
  EXPECT_EQ(b.At(1, 1), 0xFF000004u);
}

// ---- clipping of copies ----

struct ClipCase {
  const char* name;
  Point dst;
  Area src;
  Size srcSize, dstSize;
  bool ok;
  Point dstOut;
  Area srcOut;
};

TEST(ClipCopy, Table) {
  const ClipCase cases[] = {
      {"inside", {1, 1}, {0, 0, 2, 2}, {4, 4}, {4, 4}, true, {1, 1}, {0, 0, 2, 2}},
      {"negative source origin shifts the destination", {5, 5}, {-2, -3, 4, 4}, {10, 10}, {20, 20}, true, {7, 8},
       {0, 0, 2, 1}},
      {"source cut at its right and bottom", {0, 0}, {8, 8, 5, 5}, {10, 10}, {20, 20}, true, {0, 0}, {8, 8, 2, 2}},
      {"negative destination moves the source", {-1, -2}, {0, 0, 4, 4}, {10, 10}, {10, 10}, true, {0, 0},
       {1, 2, 3, 2}},
      {"destination cut at its right and bottom", {8, 9}, {0, 0, 5, 5}, {10, 10}, {10, 10}, true, {8, 9},
       {0, 0, 2, 1}},
      {"both buffers clip", {-1, 0}, {-2, 0, 5, 3}, {4, 4}, {2, 2}, true, {1, 0}, {0, 0, 1, 2}},
      {"empty source area", {0, 0}, {0, 0, 0, 3}, {4, 4}, {4, 4}, false, {}, {}},
      {"source right of its buffer", {0, 0}, {4, 0, 2, 2}, {4, 4}, {4, 4}, false, {}, {}},
      {"source left of its buffer", {0, 0}, {-3, 0, 3, 2}, {4, 4}, {4, 4}, false, {}, {}},
      {"destination beyond its buffer", {4, 0}, {0, 0, 2, 2}, {4, 4}, {4, 4}, false, {}, {}},
      {"destination wholly left of its buffer", {-2, 0}, {0, 0, 2, 2}, {4, 4}, {4, 4}, false, {}, {}},
      {"shift pushes the destination out", {3, 0}, {-2, 0, 3, 2}, {4, 4}, {4, 4}, false, {}, {}},
  };
  for (const auto& c : cases) {
    Point dst = c.dst;
    Area src = c.src;
    ASSERT_EQ(clipCopy(dst, src, c.srcSize, c.dstSize), c.ok) << c.name;
    if (!c.ok) continue;
    EXPECT_EQ(dst, c.dstOut) << c.name;
    EXPECT_EQ(src, c.srcOut) << c.name;
  }
}

// ---- copies, fills, XOR ----

TEST(Copy, VerbatimWithAlphaAndShiftedByNegativeOrigin) {
  TMTC src(4, 4), dst(6, 6);
  fillTagged(src);
  ASSERT_TRUE(dst.Copy({2, 3}, src, {-1, -1, 3, 3}));
  for (int32_t y = 0; y < 6; ++y)
    for (int32_t x = 0; x < 6; ++x) {
      bool inside = x >= 3 && x < 5 && y >= 4 && y < 6;
      EXPECT_EQ(dst.At(x, y), inside ? tag(x - 3, y - 4) : 0u) << x << "," << y;
    }
}

TEST(Copy, BetweenBottomUpAndTopDownKeepsRows) {
  TMTC src(3, 3);
  fillTagged(src);
  TTC ttc(3, 3);
  ASSERT_TRUE(ttc.Copy({0, 0}, src, src.area()));
  TMTC back(3, 3);
  ASSERT_TRUE(back.Copy({0, 0}, ttc, ttc.area()));
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 3; ++x) {
      EXPECT_EQ(ttc.At(x, y), tag(x, y));
      EXPECT_EQ(back.At(x, y), tag(x, y));
    }
}

TEST(Copy, OverlappingWithinOneBuffer) {
  for (int32_t shift : {1, -1}) {
    TMTC b(3, 5);
    fillTagged(b);
    ASSERT_TRUE(b.Copy({0, 1 + shift}, b, {0, 1, 3, 3}));
    for (int32_t j = 0; j < 3; ++j)
      for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(b.At(x, 1 + shift + j), tag(x, 1 + j)) << shift;
  }
  TMTC b(5, 1);
  fillTagged(b);
  ASSERT_TRUE(b.Copy({1, 0}, b, {0, 0, 4, 1}));
  for (int32_t x = 1; x < 5; ++x) EXPECT_EQ(b.At(x, 0), tag(x - 1, 0));
}

TEST(Copy, EmptyClipIsANoOp) {
  TMTC src(2, 2), dst(2, 2);
  src.Fill(5);
  EXPECT_FALSE(dst.Copy({2, 0}, src, src.area()));
  EXPECT_FALSE(dst.Copy({0, 0}, src, {0, 0, 0, 0}));
  EXPECT_FALSE(dst.BlendCopy({-2, 0}, src, src.area(), blendRGB, 255));
  EXPECT_FALSE(dst.KeyedCopy({0, 5}, src, src.area(), 0, 255));
  TMTC empty;
  EXPECT_FALSE(dst.Copy({0, 0}, empty, {0, 0, 1, 1}));
  EXPECT_EQ(dst.At(0, 0), 0u);
}

TEST(Copy, ChannelCopyClips) {
  TChannel src(3, 3), dst(3, 3);
  src.Fill(9);
  ASSERT_TRUE(dst.Copy({-1, 1}, src, src.area()));
  EXPECT_EQ(dst.At(0, 1), 9);
  EXPECT_EQ(dst.At(1, 2), 9);
  EXPECT_EQ(dst.At(2, 1), 0);
  EXPECT_EQ(dst.At(0, 0), 0);
  EXPECT_FALSE(dst.Copy({3, 0}, src, src.area()));
}

TEST(BlendCopy, StrengthAndFunction) {
  TMTC src(2, 1), dst(2, 1);
  src.Fill(0x11AABBCCu);
  dst.Fill(0x80102030u);
  ASSERT_TRUE(dst.BlendCopy({0, 0}, src, src.area(), blendRGB, 0));
  EXPECT_EQ(dst.At(0, 0), 0x80102030u);
  // Full strength is a plain copy of the colour; the destination keeps its alpha.
  ASSERT_TRUE(dst.BlendCopy({0, 0}, src, src.area(), blendRGB, 255));
  EXPECT_EQ(dst.At(1, 0), 0x80AABBCCu);
  ASSERT_TRUE(dst.BlendCopy({1, 0}, src, src.area(), countWrites, 255));
  EXPECT_EQ(dst.At(0, 0), 0x80AABBCCu);
  EXPECT_EQ(dst.At(1, 0), 0x80AABBCDu);
}

TEST(KeyedCopy, SkipsTheKeyColourWhateverItsAlpha) {
  TMTC src(3, 1), dst(3, 1);
  src.Row(0)[0] = 0x00123456u;
  src.Row(0)[1] = 0xFF123456u;
  src.Row(0)[2] = 0xFF123457u;
  dst.Fill(0x40000000u);
  ASSERT_TRUE(dst.KeyedCopy({0, 0}, src, src.area(), 0xAB123456u, 255));
  EXPECT_EQ(dst.At(0, 0), 0x40000000u);
  EXPECT_EQ(dst.At(1, 0), 0x40000000u);
  EXPECT_EQ(dst.At(2, 0), 0x40123457u);
}

TEST(FillMasked, MaskSelectsTheBits) {
  struct Case {
    uint32_t value, mask, expected;
  } const cases[] = {
      {0x7F000000u, 0xFF000000u, 0x7F112233u},  // alpha only
      {0xAAFFFFFFu, 0xFF000000u, 0xAA112233u},
      {0x00FFEEDDu, 0x00FFFFFFu, 0x44FFEEDDu},  // colour only
      {0xAABBCCDDu, 0xFFFFFFFFu, 0xAABBCCDDu},
      {0xAABBCCDDu, 0x00000000u, 0x44112233u},
  };
  // Wide enough for the four-pixel steps and a rest, with and without vectors.
  const SimdLevel before = simdLevel();
  for (SimdLevel level : {SimdLevel::None, SimdLevel::Sse2}) {
    setSimdLevel(level);
    for (const auto& c : cases) {
      TMTC b(11, 3);
      b.Fill(0x44112233u);
      ASSERT_TRUE(b.FillMasked({1, 1, 15, 5}, c.value, c.mask));
      for (int32_t x = 1; x < 11; ++x) EXPECT_EQ(b.At(x, 2), c.expected) << std::hex << c.mask << " x " << x;
      EXPECT_EQ(b.At(1, 1), c.expected);
      EXPECT_EQ(b.At(0, 1), 0x44112233u);
      EXPECT_EQ(b.At(1, 0), 0x44112233u);
    }
  }
  setSimdLevel(before);
  TMTC b(3, 3);
  EXPECT_FALSE(b.FillMasked({3, 0, 2, 2}, 1, ~0u));
}

TEST(Apply, FillsAnAreaAtAStrength) {
  TTC b(4, 4);
  b.Fill(0x20000000u);
  ASSERT_TRUE(b.Apply({-1, 2, 3, 9}, blendRGB, 0x00FFFFFFu, 255));
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 4; ++x)
      EXPECT_EQ(b.At(x, y), (x < 2 && y >= 2) ? 0x20FFFFFFu : 0x20000000u) << x << "," << y;
  ASSERT_TRUE(b.Apply({0, 0, 1, 1}, blendRGB, 0x00FFFFFFu, 128));
  EXPECT_EQ(b.At(0, 0), 0x20808080u);
  EXPECT_FALSE(b.Apply({0, 4, 1, 1}, blendRGB, 0, 255));
}

TEST(XorArea, TwiceRestores) {
  TMTC b(3, 3);
  fillTagged(b);
  ASSERT_TRUE(b.XorArea({1, 1, 5, 5}, 0x00FFFFFFu));
  EXPECT_EQ(b.At(1, 1), tag(1, 1) ^ 0x00FFFFFFu);
  EXPECT_EQ(b.At(0, 0), tag(0, 0));
  ASSERT_TRUE(b.XorArea({1, 1, 5, 5}, 0x00FFFFFFu));
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(b.At(x, y), tag(x, y));
  EXPECT_FALSE(b.XorArea({-5, 0, 5, 1}, 1));

  TChannel c(2, 2);
  c.Fill(0x0F);
  c.XorArea({1, 0, 1, 2}, 0xFF);
  EXPECT_EQ(c.At(1, 1), 0xF0);
  EXPECT_EQ(c.At(0, 1), 0x0F);
}

TEST(PlotAndRead, BoundsChecked) {
  TMTC b(2, 2);
  b.Fill(0x33000000u);
  b.Plot(-1, 0, 0x00FFFFFFu, 255);
  b.Plot(2, 0, 0x00FFFFFFu, 255);
  b.PlotTable(0, 2, 0x00FFFFFFu, 255);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 2; ++x) EXPECT_EQ(b.At(x, y), 0x33000000u);
  b.Plot(1, 0, 0x00FFFFFFu, 255);
  EXPECT_EQ(b.At(1, 0), 0x33FFFFFFu);
  b.PlotTable(0, 1, 0x00FFFFFFu, 255);
  EXPECT_EQ(b.At(0, 1), 0x33FFFFFFu);
  EXPECT_EQ(b.ReadClamped(5, -3), b.At(1, 0));
  EXPECT_EQ(b.ReadClamped(-1, 9), b.At(0, 1));
  EXPECT_EQ(b.Read(2, 0), 0u);
}

// ---- flips ----

TEST(Flips, MovePixelsAndTwiceRestore) {
  for (int32_t h : {1, 2, 3, 4, 5})
    for (int32_t w : {1, 2, 3}) {
      TMTC b(w, h);
      fillTagged(b);
      b.FlipVertical();
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) ASSERT_EQ(b.At(x, y), tag(x, h - 1 - y)) << w << "x" << h;
      b.FlipVertical();
      b.FlipHorizontal();
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) ASSERT_EQ(b.At(x, y), tag(w - 1 - x, y)) << w << "x" << h;
      b.FlipHorizontal();
      b.Rotate180();
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) ASSERT_EQ(b.At(x, y), tag(w - 1 - x, h - 1 - y)) << w << "x" << h;
      b.Rotate180();
      for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) ASSERT_EQ(b.At(x, y), tag(x, y)) << w << "x" << h;
    }
}

// ---- lines ----

TEST(Line, SinglePointUsesTheStartStrength) {
  TTC b(3, 3);
  b.Line(1, 1, 1, 1, storeStrength, 0, 77, 200);
  EXPECT_EQ(b.At(1, 1), 77u);
  b.Line(5, 5, 5, 5, countWrites, 0, 0, 0);  // outside: nothing
  EXPECT_EQ(b.At(2, 2), 0u);
}

TEST(Line, EveryPointOnceEndpointsIncluded) {
  struct Case {
    int32_t x0, y0, x1, y1;
    std::vector<Point> points;
  } const cases[] = {
      {0, 0, 4, 0, {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}}},
      {4, 0, 0, 0, {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}}},
      {1, 4, 1, 1, {{1, 1}, {1, 2}, {1, 3}, {1, 4}}},
      // k × Δx ÷ n truncates: x = 0,0,1,1,2,2,3 for y = 0 … 6.
      {0, 0, 3, 6, {{0, 0}, {0, 1}, {1, 2}, {1, 3}, {2, 4}, {2, 5}, {3, 6}}},
      {3, 0, 0, 3, {{3, 0}, {2, 1}, {1, 2}, {0, 3}}},
      // Outside points are skipped, the rest keep their place.
      {-2, 1, 6, 1, {{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}}},
  };
  for (const auto& c : cases) {
    TTC b(5, 7);
    b.Line(c.x0, c.y0, c.x1, c.y1, countWrites, 0, 255, 255);
    std::vector<uint32_t> expected(5 * 7, 0);
    for (Point p : c.points) expected[p.y * 5 + p.x] = 1;
    for (int32_t y = 0; y < 7; ++y)
      for (int32_t x = 0; x < 5; ++x)
        EXPECT_EQ(b.At(x, y), expected[y * 5 + x]) << c.x0 << "," << c.y0 << " -> " << c.x1 << "," << c.y1 << " at "
                                                    << x << "," << y;
  }
}

TEST(Line, StrengthRamp) {
  TTC b(5, 1);
  b.Line(0, 0, 4, 0, storeStrength, 0, 0, 255);
  const uint32_t expected[] = {0, 63, 127, 191, 255};
  for (int32_t x = 0; x < 5; ++x) EXPECT_EQ(b.At(x, 0), expected[x]) << x;
  // Clipped points still count along the ramp.
  TTC c(2, 1);
  c.Line(-2, 0, 2, 0, storeStrength, 0, 0, 255);
  EXPECT_EQ(c.At(0, 0), 127u);
  EXPECT_EQ(c.At(1, 0), 191u);
}

TEST(RectOutline, SidesInTheirColoursInteriorUntouched) {
  const uint32_t c1 = 0x00111111u, c2 = 0x00222222u, bg = 0x55000000u;
  struct Case {
    Area a;
  } const cases[] = {{{1, 1, 4, 3}}, {{0, 0, 2, 2}}, {{1, 2, 3, 1}}, {{2, 0, 1, 3}}, {{-1, -1, 4, 4}}};
  for (const auto& k : cases) {
    const Area a = k.a;
    TTC b(6, 5);
    b.Fill(bg);
    b.RectOutline(a, c1, c2);
    const int32_t r = a.right() - 1, bt = a.bottom() - 1;
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 6; ++x) {
        bool onRect = x >= a.x && x <= r && y >= a.y && y <= bt;
        bool border = onRect && (x == a.x || x == r || y == a.y || y == bt);
        uint32_t expected = bg;
        if (border) {
          // A one-pixel-thin rectangle is a single line in the first colour.
          bool first = a.width == 1 || a.height == 1 ||
                       (y == a.y && x < r) ||   // top, up to but not including the top-right corner
                       (x == a.x && y > a.y);  // left, from the bottom-left corner up
          expected = 0x55000000u | (first ? c1 : c2);
        }
        EXPECT_EQ(b.At(x, y), expected) << a.x << "," << a.y << " " << a.width << "x" << a.height << " at " << x << ","
                                        << y;
      }
  }
}

TEST(Checkerboard, AlignedAndUnaligned) {
  const uint32_t c1 = 0x00AAAAAAu, c2 = 0x00BBBBBBu, bg = 0x7F000000u;
  const Area a{3, 3, 6, 6};
  for (bool aligned : {false, true}) {
    TTC b(10, 10);
    b.Fill(bg);
    b.Checkerboard(a, 4, c1, c2, aligned);
    for (int32_t y = 0; y < 10; ++y)
      for (int32_t x = 0; x < 10; ++x) {
        uint32_t expected = bg;
        if (x >= 3 && x < 9 && y >= 3 && y < 9) {
          int32_t ox = aligned ? 0 : 3;
          int32_t cell = (x - ox) / 4 + (y - ox) / 4;
          expected = 0x7F000000u | ((cell & 1) ? c2 : c1);
        }
        EXPECT_EQ(b.At(x, y), expected) << aligned << " " << x << "," << y;
      }
  }
  // Unaligned cells count from the area's corner, aligned ones from the buffer's origin.
  TTC u(10, 10), al(10, 10);
  u.Checkerboard(a, 4, c1, c2, false);
  al.Checkerboard(a, 4, c1, c2, true);
  EXPECT_EQ(u.At(6, 3), c1);
  EXPECT_EQ(u.At(7, 3), c2);
  EXPECT_EQ(al.At(3, 3), c1);
  EXPECT_EQ(al.At(4, 3), c2);
}

// ---- antialiased line ----

// Drawing white on black leaves each pixel's weight in its blue byte.
std::vector<int> weights(const TMTC& b) {
  std::vector<int> w;
  for (int32_t y = 0; y < b.height; ++y)
    for (int32_t x = 0; x < b.width; ++x) w.push_back(int(blue(b.At(x, y))));
  return w;
}

TEST(AntialiasedLine, Weights) {
  struct Case {
    const char* name;
    int32_t x0, y0, x1, y1;
    bool antialias;
    int rampStart, rampEnd;
    std::vector<int> expected;  // 4 × 4, row by row
  } const cases[] = {
      {"horizontal at full weight", 0, 1, 3, 1, true, 255, 255, {0, 0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"vertical at full weight", 2, 3, 2, 0, true, 255, 255, {0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 0}},
      // Minor step trunc(3 ÷ 4 × 65536) = 49152: f = 0, 192, 128, 64.
      {"diagonal splits f", 0, 0, 3, 3, true, 255, 255,
       {255, 63, 0, 0, 0, 192, 127, 0, 0, 0, 128, 191, 0, 0, 0, 64}},
      {"diagonal drawn backwards", 3, 3, 0, 0, true, 255, 255,
       {255, 63, 0, 0, 0, 192, 127, 0, 0, 0, 128, 191, 0, 0, 0, 64}},
      {"diagonal without antialiasing", 0, 0, 3, 3, false, 255, 255,
       {255, 255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0, 0, 0, 0}},
      // Strength steps by trunc(255 ÷ 4 × 65536) per pixel: 0, 63, 127, 191.
      {"ramp", 0, 0, 3, 0, true, 0, 255, {0, 63, 127, 191, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"ramp on a diagonal scales both weights", 0, 0, 3, 3, true, 255, 0,
       {255, mul8(63, 191), 0, 0, 0, mul8(192, 191), mul8(127, 127), 0, 0, 0, mul8(128, 127), mul8(191, 63), 0, 0, 0,
        mul8(64, 63)}},
  };
  for (const auto& c : cases) {
    TMTC b(4, 4);
    b.Fill(0xFF000000u);
    b.AntialiasedLine(c.x0, c.y0, c.x1, c.y1, 0x00FFFFFFu, c.antialias, c.rampStart, c.rampEnd);
    EXPECT_EQ(weights(b), c.expected) << c.name;
    for (int32_t y = 0; y < 4; ++y)
      for (int32_t x = 0; x < 4; ++x) ASSERT_EQ(alpha(b.At(x, y)), 0xFFu) << c.name;
  }
}

TEST(AntialiasedLine, PartlyOutsideIsClipped) {
  TMTC b(3, 3);
  b.AntialiasedLine(-5, -2, 7, 4, 0x00FFFFFFu);
  b.AntialiasedLine(-3, 10, 5, -10, 0x00FFFFFFu);
  EXPECT_NE(b.At(1, 1), 0u);
}

// ---- reductions ----

TEST(ReduceBox, UniformSourceGivesItsColourAndKeepsAlpha) {
  struct Case {
    int32_t W, H, w, h;
  } const cases[] = {{8, 8, 2, 2}, {7, 5, 3, 2}, {3, 3, 5, 4}, {10, 1, 1, 1}};
  for (const auto& c : cases) {
    TTC src(c.W, c.H);
    src.Fill(0x00336699u);
    TMTC dst(c.w, c.h);
    dst.Fill(0x7F000000u);
    ReduceBox(src, dst);
    for (int32_t y = 0; y < c.h; ++y)
      for (int32_t x = 0; x < c.w; ++x) ASSERT_EQ(dst.At(x, y), 0x7F336699u) << c.W << "x" << c.H << "->" << c.w;
  }
}

TEST(ReduceBox, BoxSamplesAreClampedIntoTheSource) {
  // 2 × 2 → 1 × 1: a 3 × 3 box at offsets 0 … 2, clamped to 0, 1, 1, so
  // pixel (0,0) counts once, (1,0) and (0,1) twice, (1,1) four times.
  TTC src(2, 2);
  src.Row(0)[0] = 0x005A0000u;  // red 90
  src.Row(0)[1] = 0x00002D00u;  // green 45
  src.Row(1)[0] = 0x0000002Du;  // blue 45
  src.Row(1)[1] = 0x00000009u;  // blue 9
  TMTC dst(1, 1);
  ReduceBox(src, dst);
  EXPECT_EQ(dst.At(0, 0), makePixel(0, 10, 10, (2 * 45 + 4 * 9) / 9));
}

TEST(ReduceBox, AreaVariantAndZeroSizes) {
  TTC src(4, 4);
  src.Fill(0x00101010u);
  src.FillMasked({2, 2, 2, 2}, 0x00F0F0F0u, 0x00FFFFFFu);
  TMTC dst(3, 3);
  dst.Fill(0x11000000u);
  ReduceBox(src, {2, 2, 2, 2}, dst, {1, 1, 1, 1});
  EXPECT_EQ(dst.At(1, 1), 0x11F0F0F0u);
  EXPECT_EQ(dst.At(0, 0), 0x11000000u);
  EXPECT_EQ(dst.At(2, 2), 0x11000000u);
  // Nothing to fill, and no division by a zero size.
  ReduceBox(src, src.area(), dst, {0, 0, 0, 3});
  ReduceBox(src, src.area(), dst, {0, 0, 3, 0});
  ReduceBox(src, {0, 0, 0, 0}, dst, dst.area());
  TMTC none;
  ReduceBox(src, none);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 3; ++x) {
      if (x != 1 || y != 1) {
        EXPECT_EQ(dst.At(x, y), 0x11000000u);
      }
    }
}

TEST(ReduceBox, HugeBoxKeepsItsColour) {
  // 5001 × 5001 samples of white, all clamped onto the one source pixel: the
  // sums exceed 32 bits.
  TTC src(1, 1);
  src.Fill(0x00FFFFFFu);
  TMTC dst(1, 1);
  ReduceBox(src, {0, 0, 5000, 5000}, dst, dst.area());
  EXPECT_EQ(dst.At(0, 0), 0x00FFFFFFu);
}

TEST(Reduce4x4, AveragesAllFourBytes) {
  TMTC src(8, 8);
  for (int32_t y = 0; y < 8; ++y)
    for (int32_t x = 0; x < 8; ++x) src.Row(y)[x] = makePixel(uint32_t(16 * y), uint32_t(16 * x), 200, uint32_t(x + y));
  TMTC dst(2, 2);
  Reduce4x4(src, dst);
  // Each destination pixel is the mean of its 4 × 4 block.
  for (int32_t j = 0; j < 2; ++j)
    for (int32_t i = 0; i < 2; ++i) {
      uint32_t a = 64 * j + 24, r = 64 * i + 24, b = 4 * i + 4 * j + 3;
      EXPECT_EQ(dst.At(i, j), makePixel(a, r, 200, b)) << i << "," << j;
    }
}

TEST(Reduce4x4, FractionalSteps) {
  // 3 → 2: sx = 1536, qx = 384, so column 0 samples 0,0,0,1 and column 1 samples 1,1,2,2.
  TMTC src(3, 1);
  src.Row(0)[0] = 0x00000000u;
  src.Row(0)[1] = 0x40000040u;
  src.Row(0)[2] = 0x80000080u;
  TMTC dst(2, 1);
  Reduce4x4(src, dst);
  EXPECT_EQ(dst.At(0, 0), 0x10000010u);
  EXPECT_EQ(dst.At(1, 0), 0x60000060u);
}

TEST(LuminanceToChannel, OverAnArea) {
  TTC src(3, 2);
  src.Fill(0xFFFF0000u);
  TChannel dst(3, 2);
  dst.Fill(9);
  LuminanceToChannel(src, dst, {1, 0, 5, 1});
  EXPECT_EQ(dst.At(0, 0), 9);
  EXPECT_EQ(dst.At(1, 0), 76);
  EXPECT_EQ(dst.At(2, 0), 76);
  EXPECT_EQ(dst.At(1, 1), 9);
}

// ---- TChannel ----

TEST(TChannel, NonZeroBounds) {
  TChannel c(6, 5);
  EXPECT_TRUE(c.NonZeroBounds().empty());
  c.Row(2)[3] = 1;
  EXPECT_EQ(c.NonZeroBounds(), (Bounds{3, 2, 4, 3}));
  c.Row(4)[1] = 1;
  c.Row(0)[5] = 1;
  EXPECT_EQ(c.NonZeroBounds(), (Bounds{1, 0, 6, 5}));
  TChannel none;
  EXPECT_TRUE(none.NonZeroBounds().empty());
}

TEST(TChannel, CombineOverTheCommonSize) {
  TChannel a(3, 2), b(2, 3);
  a.Fill(100);
  b.Fill(200);
  b.Row(0)[0] = 50;
  a.Combine(b, byteMax);
  EXPECT_EQ(a.At(0, 0), 100);
  EXPECT_EQ(a.At(1, 0), 200);
  EXPECT_EQ(a.At(1, 1), 200);
  EXPECT_EQ(a.At(2, 0), 100);
  EXPECT_EQ(a.At(2, 1), 100);
  a.Combine(b, byteMultiply);
  EXPECT_EQ(a.At(0, 0), mul8(50, 100));
  EXPECT_EQ(a.At(1, 1), mul8(200, 200));
}

TEST(TChannel, ApplyPixelBlendsAndRead) {
  TChannel c(2, 2);
  c.Fill(200);
  c.Apply(byteMultiply, 128);
  EXPECT_EQ(c.At(1, 1), mul8(128, 200));
  c.Apply(byteSet, 10);
  EXPECT_EQ(c.At(0, 0), 10);
  c.SetPixelLerp(0, 0, 250, 255);
  EXPECT_EQ(c.At(0, 0), 250);
  c.SetPixelLerp(1, 0, 250, 0);
  EXPECT_EQ(c.At(1, 0), 10);
  c.BlendPixelTable(0, 1, 255, 255);
  EXPECT_EQ(c.At(0, 1), 10 + 2 * (127 - 5));
  c.SetPixelLerp(2, 0, 1, 255);  // outside: nothing
  c.BlendPixelTable(0, -1, 1, 255);
  EXPECT_EQ(c.ReadClamped(-4, 0), c.At(0, 0));
  EXPECT_EQ(c.ReadClamped(9, 9), c.At(1, 1));
}

}  // namespace
}  // namespace vl
