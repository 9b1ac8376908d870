#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "pixel/block_image.h"

namespace vl {
namespace {

struct Rng {
  uint32_t s;
  explicit Rng(uint32_t seed) : s(seed ? seed : 1) {}
  uint32_t next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  }
  int32_t range(int32_t lo, int32_t hi) { return lo + int32_t(next() % uint32_t(hi - lo)); }
  bool chance(int percent) { return range(0, 100) < percent; }
};

// A plain row-major byte model of a mask.
struct Plane {
  int32_t w, h;
  std::vector<uint8_t> v;
  Plane(int32_t w_, int32_t h_, uint8_t fill = 0) : w(w_), h(h_), v(size_t(w_) * h_, fill) {}
  uint8_t& at(int32_t x, int32_t y) { return v[size_t(y) * w + x]; }
  uint8_t clamped(int32_t x, int32_t y) const {
    return v[size_t(std::clamp(y, 0, h - 1)) * w + std::clamp(x, 0, w - 1)];
  }
};

Plane planeOf(const CBlockVCH& m) {
  Plane p(m.width, m.height);
  for (int32_t y = 0; y < m.height; ++y)
    for (int32_t x = 0; x < m.width; ++x) p.at(x, y) = m.Pixel(x, y);
  return p;
}

::testing::AssertionResult sameAs(const CBlockVCH& m, Plane& p) {
  if (m.width != p.w || m.height != p.h) return ::testing::AssertionFailure() << "size";
  for (int32_t y = 0; y < p.h; ++y)
    for (int32_t x = 0; x < p.w; ++x)
      if (m.Pixel(x, y) != p.at(x, y))
        return ::testing::AssertionFailure() << "(" << x << ", " << y << ") is " << int(m.Pixel(x, y)) << ", expected "
                                             << int(p.at(x, y));
  return ::testing::AssertionSuccess();
}

// Tiles uniform with a random value, allocated and varied, or allocated with one value.
void makeMixed(CBlockVCH& m, Rng& rng) {
  for (int32_t r = 0; r < m.tilesDown; ++r)
    for (int32_t c = 0; c < m.tilesAcross; ++c) {
      const Area tile(c * 64, r * 64, 64, 64);
      const int kind = rng.range(0, 3);
      m.FillArea(tile, kind == 2 ? 0 : uint8_t(rng.next()));
      if (kind == 0) {
        for (int i = 0; i < 300; ++i) m.SetPixelChecked(tile.x + rng.range(0, 64), tile.y + rng.range(0, 64), uint8_t(rng.next()));
      } else if (kind == 1) {
        m.Tile(c, r, true);
      }
    }
}

Plane morphReference(const Plane& p, bool grow) {
  Plane out(p.w, p.h);
  for (int32_t y = 0; y < p.h; ++y)
    for (int32_t x = 0; x < p.w; ++x) {
      uint8_t m = p.clamped(x, y);
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const uint8_t v = p.clamped(x + dx, y + dy);
          m = grow ? std::max(m, v) : std::min(m, v);
        }
      out.at(x, y) = m;
    }
  return out;
}

TEST(BlockVCH, GeometryAndTileView) {
  CBlockVCH m(100, 40);
  ASSERT_TRUE(m.IsValid());
  EXPECT_EQ(m.tilesAcross, 2);
  EXPECT_EQ(m.tilesDown, 1);
  EXPECT_EQ(m.tileBytes, 4096);
  EXPECT_EQ(m.Tile(1, 0)->validWidth, 36);
  EXPECT_EQ(m.Tile(1, 0)->validHeight, 40);
  EXPECT_EQ(m.Pixel(99, 39), 0);
  m.SetPixel(70, 3, 9);
  EXPECT_EQ(m.AllocatedBytes(), 4096);
  TVChannel view(*m.Tile(1, 0));
  EXPECT_EQ(view.width, 64);
  EXPECT_EQ(view.Stride(), 64);
  EXPECT_TRUE(view.IsTopDown());
  EXPECT_EQ(view.ByteSize(), 4096);
  EXPECT_FALSE(view.Resize(1, 1));
  EXPECT_EQ(view.At(6, 3), 9);
  view.Row(10)[1] = 4;
  EXPECT_EQ(m.Pixel(65, 10), 4);
}

TEST(BlockVCH, CheckedFormsRefuseOutsidePixels) {
  CBlockVCH m(70, 70);
  uint8_t v = 0;
  for (Point p : {Point{-1, 0}, Point{0, -1}, Point{70, 0}, Point{0, 70}}) {
    EXPECT_FALSE(m.PixelChecked(p.x, p.y, v));
    EXPECT_FALSE(m.SetPixelChecked(p.x, p.y, 1));
    EXPECT_EQ(m.PixelAddressChecked(p.x, p.y), nullptr);
  }
  EXPECT_EQ(m.AllocatedTiles(), 0);
  EXPECT_TRUE(m.SetPixelChecked(69, 0, 200));
  EXPECT_EQ(m.PixelClamped(1000, -5), 200);
  ASSERT_NE(m.PixelAddressChecked(69, 69), nullptr);
  EXPECT_TRUE(m.PixelChecked(69, 0, v));
  EXPECT_EQ(v, 200);
}

TEST(BlockVCH, ReadWriteMatchReference) {
  struct Case {
    Point dst;
    Area src;
  };
  const Case cases[] = {{{0, 0}, {0, 0, 150, 100}}, {{-5, 7}, {3, -9, 90, 80}}, {{60, 60}, {10, 10, 60, 60}},
                        {{3, 3}, {63, 63, 2, 2}},    {{200, 0}, {0, 0, 5, 5}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.dst.x << "," << c.dst.y << " " << c.src.x << "," << c.src.y);
    Rng rng(4);
    CBlockVCH m(150, 100);
    makeMixed(m, rng);
    Plane model = planeOf(m);
    TChannel buf(90, 70);
    for (int32_t y = 0; y < 70; ++y)
      for (int32_t x = 0; x < 90; ++x) buf.Row(y)[x] = uint8_t(rng.next());

    // Read: buffer pixels under the mapped image pixels.
    TChannel read(90, 70), expected(90, 70);
    read.Fill(0x5A);
    expected.Fill(0x5A);
    bool any = false;
    for (int32_t sy = c.src.y; sy < c.src.bottom(); ++sy)
      for (int32_t sx = c.src.x; sx < c.src.right(); ++sx) {
        const int32_t dx = c.dst.x + sx - c.src.x, dy = c.dst.y + sy - c.src.y;
        if (m.Contains(sx, sy) && read.Contains(dx, dy)) {
          expected.Row(dy)[dx] = model.at(sx, sy);
          any = true;
        }
      }
    EXPECT_EQ(m.ReadInto(read, c.dst, c.src), any);
    for (int32_t y = 0; y < 70; ++y)
      for (int32_t x = 0; x < 90; ++x) ASSERT_EQ(read.At(x, y), expected.At(x, y)) << x << "," << y;

    // Write: the other way round.
    any = false;
    for (int32_t sy = c.src.y; sy < c.src.bottom(); ++sy)
      for (int32_t sx = c.src.x; sx < c.src.right(); ++sx) {
        const int32_t dx = c.dst.x + sx - c.src.x, dy = c.dst.y + sy - c.src.y;
        if (buf.Contains(sx, sy) && m.Contains(dx, dy)) {
          model.at(dx, dy) = buf.At(sx, sy);
          any = true;
        }
      }
    EXPECT_EQ(m.WriteFrom(buf, c.dst, c.src), any);
    EXPECT_TRUE(sameAs(m, model));
  }
}

TEST(BlockVCH, CompactIgnoresEdgePadding) {
  CBlockVCH m(100, 40);
  m.FillArea(Area(64, 0, 36, 40), 7);  // the whole valid part: uniform, no memory
  EXPECT_EQ(m.AllocatedTiles(), 0);
  m.FillArea(Area(64, 0, 36, 39), 9);  // partial: allocated
  m.FillArea(Area(64, 39, 36, 1), 9);
  TileDesc* t = m.Tile(1, 0, false);
  ASSERT_TRUE(t->allocated);
  t->data[5 * 64 + 50] = 0xEE;  // beyond the valid width
  t->data[50 * 64 + 1] = 0xEE;  // beyond the valid height
  m.SetPixel(0, 0, 1);
  EXPECT_EQ(m.Compact(), 1);
  EXPECT_FALSE(m.Tile(1, 0)->allocated);
  EXPECT_EQ(m.Tile(1, 0)->uniform, 9u);
  EXPECT_TRUE(m.Tile(0, 0)->allocated);
}

TEST(BlockVCH, FillAndXorAreas) {
  CBlockVCH m(150, 100);
  m.SetPixel(10, 10, 5);
  ASSERT_TRUE(m.FillArea(Area(-10, -10, 84, 84), 200));  // covers tile (0, 0) whole: freed
  EXPECT_FALSE(m.Tile(0, 0)->allocated);
  EXPECT_EQ(m.Tile(1, 0)->allocated, true);
  EXPECT_EQ(m.Pixel(73, 73), 200);
  EXPECT_EQ(m.Pixel(74, 73), 0);
  EXPECT_EQ(m.AllocatedTiles(), 3);
  ASSERT_TRUE(m.FillArea(Area(130, 70, 5, 5), 0));  // already that value: nothing allocated
  EXPECT_EQ(m.AllocatedTiles(), 3);
  EXPECT_FALSE(m.FillArea(Area(150, 0, 5, 5), 1));

  ASSERT_TRUE(m.XorArea(Area(128, 64, 22, 36), 0x0F));  // the whole edge tile: uniform only
  EXPECT_EQ(m.AllocatedTiles(), 3);
  EXPECT_EQ(m.Pixel(149, 99), 0x0F);
  ASSERT_TRUE(m.XorArea(Area(0, 0, 2, 2), 0xFF));
  EXPECT_EQ(m.Pixel(1, 1), 200 ^ 0xFF);
  EXPECT_EQ(m.Pixel(2, 2), 200);
  EXPECT_FALSE(m.XorArea(Area(-5, 0, 5, 5), 1));
}

TEST(BlockVCH, NonZeroBounds) {
  CBlockVCH m(150, 100);
  EXPECT_TRUE(m.NonZeroBounds().empty());
  m.SetPixel(70, 80, 1);
  EXPECT_EQ(m.NonZeroBounds(), (Bounds{70, 80, 71, 81}));
  m.SetPixel(100, 66, 3);
  m.SetPixel(5, 90, 0);  // allocated, but zero
  EXPECT_EQ(m.NonZeroBounds(), (Bounds{70, 66, 101, 81}));
  m.FillArea(Area(128, 0, 22, 64), 4);  // uniform edge tile, clipped to the image
  EXPECT_EQ(m.NonZeroBounds(), (Bounds{70, 0, 150, 81}));
}

TEST(BlockVCH, CombineWithByteFunctions) {
  struct Case {
    const char* name;
    ByteFn fn;
  };
  const Case cases[] = {{"set", byteSet}, {"max", byteMax}, {"multiply", byteMultiply}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rng rng(9);
    CBlockVCH a(150, 100), b(130, 120);  // the common size is 130 × 100
    makeMixed(a, rng);
    makeMixed(b, rng);
    Plane model = planeOf(a);
    for (int32_t y = 0; y < 100; ++y)
      for (int32_t x = 0; x < 130; ++x) model.at(x, y) = c.fn(model.at(x, y), b.Pixel(x, y));
    ASSERT_TRUE(a.Combine(b, c.fn));
    EXPECT_TRUE(sameAs(a, model));
  }
  // Uniform with uniform over whole tiles stays unallocated.
  CBlockVCH a(128, 128), b(128, 128);
  a.FillArea(Area(a.size()), 100);
  b.FillArea(Area(b.size()), 128);
  ASSERT_TRUE(a.Combine(b, byteMultiply));
  EXPECT_EQ(a.AllocatedTiles(), 0);
  EXPECT_EQ(a.Pixel(127, 127), mul8(128, 100));
}

TEST(BlockVCH, GrowAndShrinkMatchNaiveNeighbourhood) {
  struct Case {
    const char* name;
    int32_t w, h;
    void (*setup)(CBlockVCH&, Rng&);
  };
  const Case cases[] = {
      {"sparse with edges", 150, 100,
       [](CBlockVCH& m, Rng& rng) {
         for (int i = 0; i < 200; ++i) m.SetPixel(rng.range(0, 150), rng.range(0, 100), uint8_t(rng.next()));
         for (int32_t x = 0; x < 150; x += 7) {
           m.SetPixel(x, 0, 255);
           m.SetPixel(x, 99, 128);
         }
         for (int32_t y = 0; y < 100; y += 5) {
           m.SetPixel(0, y, 77);
           m.SetPixel(149, y, 200);
         }
         m.FillArea(Area(64, 0, 64, 64), 255);  // uniform tile beside zeros
       }},
      {"full but one hole", 150, 100,
       [](CBlockVCH& m, Rng&) {
         m.FillArea(Area(m.size()), 255);
         m.SetPixel(64, 64, 0);  // a tile corner
       }},
      {"one column image", 1, 70, [](CBlockVCH& m, Rng&) { m.SetPixel(0, 65, 9); }},
      {"uniform tiles of two values", 192, 64,
       [](CBlockVCH& m, Rng&) {
         m.FillArea(Area(0, 0, 64, 64), 10);
         m.FillArea(Area(128, 0, 64, 64), 30);
       }},
  };
  for (const auto& c : cases)
    for (bool grow : {true, false}) {
      SCOPED_TRACE(::testing::Message() << c.name << (grow ? " grow" : " shrink"));
      Rng rng(123);
      CBlockVCH m(c.w, c.h);
      c.setup(m, rng);
      Plane expected = morphReference(planeOf(m), grow);
      ASSERT_TRUE(grow ? m.Grow() : m.Shrink());
      EXPECT_TRUE(sameAs(m, expected));
      // The result is compacted.
      for (int32_t i = 0; i < m.TileCount(); ++i) {
        const TileDesc* t = m.Tile(i % m.tilesAcross, i / m.tilesAcross);
        if (!t->allocated) continue;
        bool varied = false;
        for (int32_t y = 0; y < t->validHeight; ++y)
          for (int32_t x = 0; x < t->validWidth; ++x) varied |= m.Pixel(t->x + x, t->y + y) != m.Pixel(t->x, t->y);
        EXPECT_TRUE(varied) << "tile " << i;
      }
    }
}

TEST(BlockVCH, FromLayerAlphaAndLuminance) {
  Rng rng(55);
  CBlockVMTC layer(100, 70);
  for (int32_t r = 0; r < layer.tilesDown; ++r)
    for (int32_t c = 0; c < layer.tilesAcross; ++c) {
      layer.SetMasked(Area(c * 32, r * 32, 32, 32), ~0u, rng.next());
      if (rng.chance(50))
        for (int i = 0; i < 100; ++i) layer.SetPixelChecked(c * 32 + rng.range(0, 32), r * 32 + rng.range(0, 32), rng.next());
    }
  CBlockVCH m(100, 70);
  m.SetPixel(1, 1, 1);
  ASSERT_TRUE(m.FromAlpha(layer));
  for (int32_t y = 0; y < 70; ++y)
    for (int32_t x = 0; x < 100; ++x) ASSERT_EQ(m.Pixel(x, y), layer.Pixel(x, y) >> 24);
  for (bool inverted : {false, true}) {
    ASSERT_TRUE(m.FromLuminance(layer, inverted));
    for (int32_t y = 0; y < 70; ++y)
      for (int32_t x = 0; x < 100; ++x) {
        const uint32_t p = layer.Pixel(x, y);
        const int lum = (int(red(p)) * 19595 + int(green(p)) * 38469 + int(blue(p)) * 7472) >> 16;
        ASSERT_EQ(m.Pixel(x, y), MUL[p >> 24][inverted ? 255 - lum : lum]) << x << "," << y;
      }
  }
  // A uniform layer gives a uniform mask.
  CBlockVMTC plain(100, 70);
  plain.SetAll(0x80FFFFFFu);
  ASSERT_TRUE(m.FromLuminance(plain, false));
  EXPECT_EQ(m.AllocatedTiles(), 0);
  EXPECT_EQ(m.Pixel(99, 69), 0x80);
  ASSERT_TRUE(m.FromLuminance(plain, true));
  EXPECT_EQ(m.Pixel(0, 0), 0);
  CBlockVMTC other(100, 71);
  EXPECT_FALSE(m.FromAlpha(other));
  EXPECT_FALSE(m.FromLuminance(other, false));
}

TEST(BlockVCH, RowsClipAndRefuseBadRows) {
  CBlockVCH m(100, 10);
  uint8_t bytes[120];
  for (int i = 0; i < 120; ++i) bytes[i] = uint8_t(i + 1);
  EXPECT_FALSE(m.WriteRow(-1, bytes, 0, 10));
  EXPECT_FALSE(m.WriteRow(10, bytes, 0, 10));
  EXPECT_FALSE(m.WriteRow(0, nullptr, 0, 10));
  EXPECT_FALSE(m.WriteRow(0, bytes, 100, 10));
  EXPECT_FALSE(m.WriteRow(0, bytes, INT32_MIN, INT32_MAX));
  EXPECT_FALSE(m.ReadRow(0, bytes, -10, 10));
  EXPECT_EQ(m.AllocatedTiles(), 0);
  ASSERT_TRUE(m.WriteRow(3, bytes, -5, 120));
  EXPECT_EQ(m.Pixel(0, 3), 6);
  EXPECT_EQ(m.Pixel(99, 3), 105);
  uint8_t back[120] = {};
  ASSERT_TRUE(m.ReadRow(3, back, -5, 120));
  EXPECT_EQ(back[4], 0);
  for (int i = 5; i < 105; ++i) ASSERT_EQ(back[i], bytes[i]) << i;
  EXPECT_EQ(back[105], 0);
  ASSERT_TRUE(m.ReadRow(4, back, 0, 3));
  EXPECT_EQ(back[0], 0);
}

TEST(BlockVCH, RenderReducedIsGreyAndKeepsAlpha) {
  CBlockVCH m(64, 64);
  for (int32_t y = 0; y < 64; ++y)
    for (int32_t x = 0; x < 64; ++x) m.SetPixel(x, y, uint8_t(x * 4));
  TMTC buf(8, 8);
  buf.Fill(0x7F000000u);
  m.RenderReduced(buf, Area(0, 0, 0, 8), Area(m.size()));
  EXPECT_EQ(buf.At(0, 0), 0x7F000000u);
  m.RenderReduced(buf, Area(0, 0, 8, 8), Area(m.size()));
  // Box 9 × 9 from x = 8i: mean of 4 × (8i … 8i + 8).
  for (int32_t i = 0; i < 7; ++i) {
    const uint32_t v = uint32_t(4 * (8 * i + 4));
    EXPECT_EQ(buf.At(i, 3), 0x7F000000u | v << 16 | v << 8 | v) << i;
  }
}

TEST(BlockVCH, InvalidMasksRefuseEverything) {
  CBlockVCH good(10, 10);
  CBlockVCH a(0, 0), b(65537, 2);
  CBlockVCH c(10, 10);
  EXPECT_FALSE(c.Recreate(-1, 5));
  CBlockVMTC layer(10, 10);
  for (CBlockVCH* m : {&a, &b, &c}) {
    EXPECT_FALSE(m->IsValid());
    EXPECT_EQ(m->AllocatedBytes(), 0);
    TChannel buf(10, 10);
    EXPECT_FALSE(m->ReadInto(buf, {0, 0}, buf.area()));
    EXPECT_FALSE(m->WriteFrom(buf, {0, 0}, buf.area()));
    EXPECT_FALSE(m->Combine(good, byteMax));
    EXPECT_FALSE(good.Combine(*m, byteMax));
    EXPECT_FALSE(m->FillArea(Area(0, 0, 5, 5), 1));
    EXPECT_FALSE(m->XorArea(Area(0, 0, 5, 5), 1));
    EXPECT_TRUE(m->NonZeroBounds().empty());
    EXPECT_EQ(m->Compact(), 0);
    EXPECT_FALSE(m->Grow());
    EXPECT_FALSE(m->Shrink());
    EXPECT_FALSE(m->FromAlpha(layer));
    EXPECT_FALSE(m->FromLuminance(layer, true));
    EXPECT_EQ(m->PixelClamped(0, 0), 0);
    uint8_t v;
    EXPECT_FALSE(m->PixelChecked(0, 0, v));
    EXPECT_FALSE(m->SetPixelChecked(0, 0, 1));
    EXPECT_EQ(m->PixelAddressChecked(0, 0), nullptr);
    uint8_t row[8] = {};
    EXPECT_FALSE(m->WriteRow(0, row, 0, 8));
    EXPECT_FALSE(m->ReadRow(0, row, 0, 8));
    TMTC out(4, 4);
    m->RenderReduced(out, out.area(), Area(0, 0, 10, 10));
    CBlockVCH copy(*m);
    EXPECT_FALSE(copy.IsValid());
  }
  EXPECT_TRUE(c.Recreate(65, 65));
  EXPECT_EQ(c.TileCount(), 4);
}

// Seeded random operations against a plain byte plane.
TEST(BlockVCH, RandomSequencesMatchAPlainPlane) {
  for (uint32_t seed = 1; seed <= 25; ++seed) {
    Rng rng(seed);
    const int32_t w = 150, h = 100;
    CBlockVCH m(w, h);
    Plane model(w, h);
    CBlockVCH other(130, 120);
    makeMixed(other, rng);
    for (int step = 0; step < 60; ++step) {
      const int op = rng.range(0, 7);
      SCOPED_TRACE(::testing::Message() << "seed " << seed << " step " << step << " op " << op);
      Area a(rng.range(-20, w), rng.range(-20, h), rng.range(0, 120), rng.range(0, 120));
      const uint8_t v = uint8_t(rng.chance(30) ? 0 : rng.next());
      auto forArea = [&](auto f) {
        for (int32_t y = std::max(0, a.y); y < std::min(h, a.bottom()); ++y)
          for (int32_t x = std::max(0, a.x); x < std::min(w, a.right()); ++x) f(model.at(x, y));
      };
      switch (op) {
        case 0:
          m.FillArea(a, v);
          forArea([&](uint8_t& p) { p = v; });
          break;
        case 1:
          m.XorArea(a, v);
          forArea([&](uint8_t& p) { p ^= v; });
          break;
        case 2: {
          const int32_t x = rng.range(0, w), y = rng.range(0, h);
          m.SetPixel(x, y, v);
          model.at(x, y) = v;
          break;
        }
        case 3: {
          const ByteFn fns[] = {byteSet, byteMax, byteMultiply};
          const ByteFn fn = fns[rng.range(0, 3)];
          m.Combine(other, fn);
          for (int32_t y = 0; y < 100; ++y)
            for (int32_t x = 0; x < 130; ++x) model.at(x, y) = fn(model.at(x, y), other.Pixel(x, y));
          break;
        }
        case 4:
          m.Compact();
          break;
        case 5: {
          if (!rng.chance(30)) break;
          const bool grow = rng.chance(50);
          grow ? m.Grow() : m.Shrink();
          model = morphReference(model, grow);
          break;
        }
        case 6: {
          TChannel buf(rng.range(1, 80), rng.range(1, 80));
          buf.Fill(v);
          for (int i = 0; i < 30; ++i) buf.Row(rng.range(0, buf.height))[rng.range(0, buf.width)] = uint8_t(rng.next());
          const Point dst{rng.range(-30, w), rng.range(-30, h)};
          m.WriteFrom(buf, dst, buf.area());
          for (int32_t y = 0; y < buf.height; ++y)
            for (int32_t x = 0; x < buf.width; ++x)
              if (m.Contains(dst.x + x, dst.y + y)) model.at(dst.x + x, dst.y + y) = buf.At(x, y);
          break;
        }
      }
      if (step % 6 == 5) {
        ASSERT_TRUE(sameAs(m, model));
      }
    }
    ASSERT_TRUE(sameAs(m, model));
    m.Compact();
    ASSERT_TRUE(sameAs(m, model));
  }
}

}  // namespace
}  // namespace vl
