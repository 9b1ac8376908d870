#include "pixel/block_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/ui_services.h"

namespace vl {
namespace {

// Small deterministic generator, independent of the library's distributions.
struct Rng {
  uint32_t s;
  explicit Rng(uint32_t seed) : s(seed ? seed : 1) {}
  uint32_t next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  }
  int32_t range(int32_t lo, int32_t hi) { return lo + int32_t(next() % uint32_t(hi - lo)); }  // lo … hi − 1
  bool chance(int percent) { return range(0, 100) < percent; }
};

uint32_t crc32(const std::vector<uint32_t>& words) {
  uint32_t c = 0xFFFFFFFFu;
  for (uint32_t w : words)
    for (int k = 0; k < 4; ++k) {
      c ^= (w >> (8 * k)) & 0xFF;
      for (int b = 0; b < 8; ++b) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
  return ~c;
}

std::vector<uint32_t> snapshot(const CBlockVMTC& img) {
  std::vector<uint32_t> v;
  v.reserve(size_t(img.width) * img.height);
  for (int32_t y = 0; y < img.height; ++y)
    for (int32_t x = 0; x < img.width; ++x) v.push_back(img.Pixel(x, y));
  return v;
}

std::vector<uint32_t> snapshot(const TMTC& buf) {
  std::vector<uint32_t> v;
  for (int32_t y = 0; y < buf.height; ++y)
    for (int32_t x = 0; x < buf.width; ++x) v.push_back(buf.At(x, y));
  return v;
}

::testing::AssertionResult sameAs(const CBlockVMTC& img, const TMTC& model) {
  if (img.width != model.width || img.height != model.height) return ::testing::AssertionFailure() << "size";
  for (int32_t y = 0; y < img.height; ++y)
    for (int32_t x = 0; x < img.width; ++x)
      if (img.Pixel(x, y) != model.At(x, y))
        return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << std::hex << img.Pixel(x, y)
                                             << ", expected " << model.At(x, y);
  return ::testing::AssertionSuccess();
}

void fillRandom(TMTC& buf, Rng& rng) {
  for (int32_t y = 0; y < buf.height; ++y)
    for (int32_t x = 0; x < buf.width; ++x) buf.Row(y)[x] = rng.next();
}

// Tiles in all three states: allocated with varied pixels, allocated with one
// value (Compact would free them) and unallocated with a random uniform (alpha
// 0 in some of them).
void makeMixed(CBlockVMTC& img, Rng& rng) {
  for (int32_t r = 0; r < img.tilesDown; ++r)
    for (int32_t c = 0; c < img.tilesAcross; ++c) {
      const Area tile(c * 32, r * 32, 32, 32);
      const int kind = rng.range(0, 4);
      uint32_t colour = rng.next();
      if (kind == 3) colour &= 0x00FFFFFFu;
      img.SetMasked(tile, 0xFFFFFFFFu, colour);  // whole unallocated tile: uniform only
      if (kind == 0) {
        for (int32_t y = tile.y; y < tile.bottom() && y < img.height; ++y)
          for (int32_t x = tile.x; x < tile.right() && x < img.width; ++x)
            if (rng.chance(70)) img.SetPixel(x, y, rng.next());
      } else if (kind == 1) {
        img.TileAt(tile.x, tile.y, true);
      }
    }
}

bool inside(Size s, int32_t x, int32_t y) { return x >= 0 && y >= 0 && x < s.width && y < s.height; }

// Calls f(sx, sy, dx, dy) for every pixel of `src` inside the source that
// lands inside the destination when src's origin is placed at `dst`.
template <class F>
void forEachMapped(Size srcSize, Area src, Point dst, Size dstSize, F&& f) {
  for (int32_t sy = src.y; sy < src.bottom(); ++sy)
    for (int32_t sx = src.x; sx < src.right(); ++sx) {
      const int32_t dx = dst.x + sx - src.x, dy = dst.y + sy - src.y;
      if (inside(srcSize, sx, sy) && inside(dstSize, dx, dy)) f(sx, sy, dx, dy);
    }
}

uint32_t copyFn(uint32_t, uint32_t s, int) { return s; }
uint32_t keepFn(uint32_t d, uint32_t, int) { return d; }
uint32_t crossCopy(const SCrossMerge&, uint32_t, uint32_t s, int) { return s; }

// ---- Geometry and tile states ----

TEST(BlockImage, GeometryOfUnalignedImage) {
  CBlockVMTC img(100, 40);
  ASSERT_TRUE(img.IsValid());
  EXPECT_EQ(img.tilesAcross, 4);
  EXPECT_EQ(img.tilesDown, 2);
  EXPECT_EQ(img.tileBytes, 4096);
  EXPECT_EQ(img.Tile(3, 0)->validWidth, 4);
  EXPECT_EQ(img.Tile(0, 1)->validHeight, 8);
  EXPECT_EQ(img.Tile(2, 1)->validWidth, 32);
  EXPECT_EQ(img.Tile(3, 1)->x, 96);
  EXPECT_EQ(img.Tile(3, 1)->y, 32);
  EXPECT_EQ(img.Tile(4, 0), nullptr);
  EXPECT_EQ(img.Tile(0, -1), nullptr);
  EXPECT_EQ(img.AllocatedBytes(), 0);
  EXPECT_EQ(img.OccupiedCount(), 0);
  for (int32_t i = 0; i < img.TileCount(); ++i) EXPECT_EQ(img.Tile(i % 4, i / 4)->uniform, 0x00FFFFFFu);
  EXPECT_EQ(img.Pixel(99, 39), 0x00FFFFFFu);
}

TEST(BlockImage, OnePixelAllocatesOneTile) {
  CBlockVMTC img(100, 40);
  ASSERT_TRUE(img.SetPixel(97, 33, 0x80112233u));
  EXPECT_EQ(img.AllocatedTiles(), 1);
  EXPECT_EQ(img.AllocatedBytes(), 4096);
  EXPECT_TRUE(img.Tile(3, 1)->allocated);
  EXPECT_EQ(img.Pixel(97, 33), 0x80112233u);
  // The rest of the new tile holds the old uniform.
  EXPECT_EQ(img.Pixel(96, 32), 0x00FFFFFFu);
  ASSERT_EQ(img.OccupiedCount(), 1);
  EXPECT_EQ(img.Occupied()[0], (Bounds{96, 32, 100, 40}));
}

TEST(BlockImage, PixelOrOutsideIsTransparentWhite) {
  CBlockVMTC img(10, 10);
  img.SetAll(0xFF000000u);
  EXPECT_EQ(img.PixelOr(-1, 0), 0x00FFFFFFu);
  EXPECT_EQ(img.PixelOr(10, 5), 0x00FFFFFFu);
  EXPECT_EQ(img.PixelOr(3, 3), 0xFF000000u);
}

TEST(BlockImage, CheckedFormsRefuseOutsidePixels) {
  CBlockVMTC img(40, 40);
  uint32_t v = 0;
  for (Point p : {Point{-1, 0}, Point{0, -1}, Point{40, 0}, Point{0, 40}, Point{INT32_MIN, INT32_MAX}}) {
    EXPECT_FALSE(img.PixelChecked(p.x, p.y, v));
    EXPECT_FALSE(img.SetPixelChecked(p.x, p.y, 1));
    EXPECT_EQ(img.PixelAddressChecked(p.x, p.y), nullptr);
  }
  EXPECT_EQ(img.AllocatedTiles(), 0);
  EXPECT_TRUE(img.SetPixelChecked(39, 39, 0x12345678u));
  EXPECT_TRUE(img.PixelChecked(39, 39, v));
  EXPECT_EQ(v, 0x12345678u);
  EXPECT_EQ(img.PixelClamped(100, -100), img.Pixel(39, 0));
  EXPECT_EQ(img.PixelClamped(100, 100), 0x12345678u);
  uint32_t* clamped = img.PixelAddressClamped(500, 500);
  ASSERT_NE(clamped, nullptr);
  EXPECT_EQ(*clamped, 0x12345678u);
}

TEST(BlockImage, FillAndCompactFreesEverything) {
  CBlockVMTC img(100, 40);
  TMTC buf(100, 40);
  buf.Fill(0xFF102030u);
  ASSERT_TRUE(img.WriteFrom(buf, {0, 0}, 255, buf.area()));
  EXPECT_EQ(img.AllocatedTiles(), 8);
  EXPECT_EQ(img.Compact(), 8);
  EXPECT_EQ(img.AllocatedBytes(), 0);
  EXPECT_EQ(img.Pixel(99, 39), 0xFF102030u);
  EXPECT_EQ(img.Tile(3, 1)->uniform, 0xFF102030u);
  // Opaque uniforms keep the whole image occupied.
  EXPECT_EQ(img.OccupiedUnion(), (Bounds{0, 0, 100, 40}));
  img.SetAll(0x00FFFFFFu);
  EXPECT_EQ(img.OccupiedCount(), 0);
}

TEST(BlockImage, CompactLooksOnlyAtTheValidPartOfEdgeTiles) {
  CBlockVMTC img(100, 40);
  // Tile (3, 1) is 4 × 8 pixels inside the image.
  for (int32_t y = 32; y < 40; ++y)
    for (int32_t x = 96; x < 100; ++x) img.SetPixel(x, y, 0x80AABBCCu);
  TileDesc* t = img.Tile(3, 1, false);
  ASSERT_TRUE(t->allocated);
  auto* px = reinterpret_cast<uint32_t*>(t->data);
  px[5 * 32 + 20] = 0xDEADBEEFu;  // beyond the valid width
  px[20 * 32 + 1] = 0xDEADBEEFu;  // beyond the valid height
  // A tile that differs inside the image stays.
  img.SetPixel(0, 0, 1);
  img.SetPixel(1, 0, 2);
  EXPECT_EQ(img.Compact(), 1);
  EXPECT_FALSE(img.Tile(3, 1)->allocated);
  EXPECT_EQ(img.Tile(3, 1)->uniform, 0x80AABBCCu);
  EXPECT_TRUE(img.Tile(0, 0)->allocated);
}

TEST(BlockImage, TileViewsSeeTheTilePixels) {
  CBlockVMTC img(64, 64);
  img.SetPixel(33, 2, 0xAABBCCDDu);
  TVMTC view(*img.Tile(1, 0));
  EXPECT_EQ(view.width, 32);
  EXPECT_EQ(view.height, 32);
  EXPECT_EQ(view.At(1, 2), 0xAABBCCDDu);
  EXPECT_EQ(view.Stride(), 32);
  EXPECT_EQ(view.ByteSize(), 4096);
  EXPECT_FALSE(view.Resize(10, 10));
  EXPECT_EQ(view.At(1, 2), 0xAABBCCDDu);
  view.Row(5)[6] = 7;
  EXPECT_EQ(img.Pixel(38, 5), 7u);
  view.Free();
  EXPECT_FALSE(view.IsAllocated());
  EXPECT_EQ(img.Pixel(33, 2), 0xAABBCCDDu);  // the tile memory is untouched
}

// ---- Occupied region ----

TEST(BlockImage, FifthFarTileMergesIntoTheNearestBounds) {
  CBlockVMTC img(1024, 1024);
  img.SetPixel(0, 0, 0);
  img.SetPixel(1000, 0, 0);
  img.SetPixel(0, 1000, 0);
  img.SetPixel(1000, 1000, 0);
  ASSERT_EQ(img.OccupiedCount(), 4);
  img.SetPixel(100, 1000, 0);  // tile at x 96: nearest to the bottom-left bounds
  ASSERT_EQ(img.OccupiedCount(), 4);
  EXPECT_EQ(img.Occupied()[0], (Bounds{0, 0, 32, 32}));
  EXPECT_EQ(img.Occupied()[1], (Bounds{992, 0, 1024, 32}));
  EXPECT_EQ(img.Occupied()[2], (Bounds{0, 992, 128, 1024}));
  EXPECT_EQ(img.Occupied()[3], (Bounds{992, 992, 1024, 1024}));
}

TEST(BlockImage, OccupiedTieGoesToTheSmallerBoundsAndTouchingOnesCoalesce) {
  CBlockVMTC img(1000, 1000);
  img.AddOccupied({0, 0, 100, 100});      // area 10000
  img.AddOccupied({300, 0, 310, 10});     // area 100
  img.AddOccupied({0, 800, 10, 810});
  img.AddOccupied({800, 800, 810, 810});
  img.AddOccupied({200, 0, 200, 10});  // empty: dropped
  ASSERT_EQ(img.OccupiedCount(), 4);
  // 50 from the first and 50 from the second: the smaller one takes it.
  img.AddOccupied({150, 0, 250, 10});
  ASSERT_EQ(img.OccupiedCount(), 4);
  EXPECT_EQ(img.Occupied()[0], (Bounds{0, 0, 100, 100}));
  EXPECT_EQ(img.Occupied()[1], (Bounds{150, 0, 310, 10}));
  // A bounds touching the first joins it, and the grown first one then swallows the second.
  img.AddOccupied({100, 0, 150, 5});
  ASSERT_EQ(img.OccupiedCount(), 3);
  EXPECT_EQ(img.Occupied()[0], (Bounds{0, 0, 310, 100}));
  EXPECT_EQ(img.Occupied()[1], (Bounds{0, 800, 10, 810}));
  // Outside the image nothing is stored.
  img.AddOccupied({2000, 2000, 2100, 2100});
  EXPECT_EQ(img.OccupiedCount(), 3);
}

TEST(BlockImage, OccupiedRegionFollowsCompactAndRecreate) {
  CBlockVMTC img(200, 200);
  img.SetPixel(5, 5, 0x00FFFFFFu);  // the same as the uniform: Compact frees it
  img.SetPixel(150, 150, 0x01000000u);
  EXPECT_EQ(img.OccupiedCount(), 2);
  EXPECT_EQ(img.Compact(), 1);
  ASSERT_EQ(img.OccupiedCount(), 1);
  EXPECT_EQ(img.Occupied()[0], (Bounds{128, 128, 160, 160}));
  ASSERT_TRUE(img.Recreate(300, 100));
  EXPECT_EQ(img.OccupiedCount(), 0);
  EXPECT_EQ(img.AllocatedTiles(), 0);
  EXPECT_EQ(img.tilesAcross, 10);
}

TEST(BlockImage, CopyConstructorCopiesTilesAndRegion) {
  Rng rng(7);
  CBlockVMTC a(90, 70);
  makeMixed(a, rng);
  CBlockVMTC b(a);
  EXPECT_EQ(snapshot(b), snapshot(a));
  EXPECT_EQ(b.AllocatedTiles(), a.AllocatedTiles());
  EXPECT_EQ(b.OccupiedUnion(), a.OccupiedUnion());
  b.SetPixel(0, 0, 0x11111111u);
  EXPECT_NE(a.Pixel(0, 0), 0x11111111u);  // no memory is shared
}

TEST(BlockImage, CopyTilesMovesWholeTiles) {
  Rng rng(17);
  CBlockVMTC src(100, 70), dst(100, 70);
  makeMixed(src, rng);
  for (int32_t i = 0; i < dst.TileCount(); ++i) dst.Tile(i % 4, i / 4, true);  // all allocated
  ASSERT_TRUE(dst.CopyTiles(src));
  EXPECT_EQ(snapshot(dst), snapshot(src));
  EXPECT_EQ(dst.AllocatedTiles(), src.AllocatedTiles());
  EXPECT_EQ(dst.OccupiedUnion(), src.OccupiedUnion());
  CBlockVCH mask(100, 70);
  EXPECT_FALSE(mask.CopyTiles(src));  // other tiles, other pixels
}

TEST(BlockImage, CopyTilesAreaWidensToWholeTiles) {
  CBlockVMTC src(100, 70), dst(200, 200);
  src.SetPixel(40, 10, 0x11111111u);  // tile (1, 0)
  src.SetAll(0x22222222u);
  src.SetPixel(40, 10, 0x33333333u);
  src.SetPixel(5, 5, 0x44444444u);    // tile (0, 0)
  EXPECT_FALSE(dst.CopyTilesArea(src, {10, 32}, Area(40, 10, 1, 1)));  // unaligned destination
  ASSERT_TRUE(dst.CopyTilesArea(src, {64, 32}, Area(40, 10, 1, 1)));
  EXPECT_EQ(dst.AllocatedTiles(), 1);
  EXPECT_EQ(dst.Pixel(64 + 8, 32 + 10), 0x33333333u);
  EXPECT_EQ(dst.Pixel(64, 32), 0x22222222u);
  EXPECT_EQ(dst.Pixel(63, 32), 0x00FFFFFFu);
  // An area reaching left of the source keeps its placement: source tile 0 lands one tile right.
  ASSERT_TRUE(dst.CopyTilesArea(src, {0, 128}, Area(-32, 0, 64, 32)));
  EXPECT_EQ(dst.Pixel(32 + 5, 128 + 5), 0x44444444u);
  EXPECT_EQ(dst.Pixel(5, 128 + 5), 0x00FFFFFFu);
}

// ---- Whole-tile shortcut ----

struct ShortcutCase {
  const char* name;
  bool (*op)(CBlockVMTC& img, const CBlockVMTC& src);
  uint32_t expected;  // every pixel afterwards
};

const ShortcutCase kShortcutCases[] = {
    {"SetAll", [](CBlockVMTC& d, const CBlockVMTC&) { return d.SetAll(0xFF123456u); }, 0xFF123456u},
    {"SetMasked", [](CBlockVMTC& d, const CBlockVMTC&) { return d.SetMasked(Area(d.size()), 0x0000FF00u, 0x00001100u); },
     0x00FF11FFu},
    {"SetRGB", [](CBlockVMTC& d, const CBlockVMTC&) { return d.SetRGB(Area(d.size()), 0xAA010203u); }, 0x00010203u},
    {"SetAlpha", [](CBlockVMTC& d, const CBlockVMTC&) { return d.SetAlpha(Area(-5, -5, 500, 500), 0x40); },
     0x40FFFFFFu},
    {"XorAll", [](CBlockVMTC& d, const CBlockVMTC&) { return d.XorAll(0x80F0F0F0u); }, 0x800F0F0Fu},
    {"XorArea", [](CBlockVMTC& d, const CBlockVMTC&) { return d.XorArea(Area(0, 0, 1000, 1000), 0x01000000u); },
     0x01FFFFFFu},
    {"CopyFrom",
     [](CBlockVMTC& d, const CBlockVMTC& s) { return d.CopyFrom(s, {0, 0}, Area(s.size())); }, 0x80405060u},
    {"CopyFromShifted",  // tile-aligned offset; the source's last column lies outside
     [](CBlockVMTC& d, const CBlockVMTC& s) { return d.CopyFrom(s, {-32, 0}, Area(s.size())); }, 0x80405060u},
    {"ComposeFrom",
     [](CBlockVMTC& d, const CBlockVMTC& s) { return d.ComposeFrom(s, {blendRGB, 128}, Area(s.size()), {0, 0}); },
     blendRGB(0x00FFFFFFu, 0x80405060u, 128)},
    {"MergeFrom",
     [](CBlockVMTC& d, const CBlockVMTC& s) { return d.MergeFrom(s, copyFn, 255, 100, Area(s.size()), {0, 0}); },
     0x80405060u},
    {"MergeCross",
     [](CBlockVMTC& d, const CBlockVMTC& s) {
       SCrossMerge rec;
       rec.merge = crossCopy;
       return d.MergeCross(s, rec, 255, 255, Area(s.size()), {0, 0});
     },
     0x80405060u},
};

TEST(BlockImage, WholeTileOperationsOnUniformsAllocateNothing) {
  for (const auto& c : kShortcutCases) {
    SCOPED_TRACE(c.name);
    CBlockVMTC src(160, 80), dst(100, 40);  // edge tiles of dst are whole for their valid part
    src.SetAll(0x80405060u);
    ASSERT_TRUE(c.op(dst, src));
    EXPECT_EQ(dst.AllocatedTiles(), 0);
    for (int32_t y = 0; y < dst.height; ++y)
      for (int32_t x = 0; x < dst.width; ++x) ASSERT_EQ(dst.Pixel(x, y), c.expected) << x << "," << y;
  }
}

TEST(BlockImage, PartialPiecesAllocateOnlyTheTilesTheyTouch) {
  CBlockVMTC img(100, 40);
  ASSERT_TRUE(img.SetMasked(Area(30, 0, 4, 40), 0xFFFFFFFFu, 0xFF000000u));
  EXPECT_EQ(img.AllocatedTiles(), 4);  // columns 0 and 1, both rows
  EXPECT_EQ(img.Pixel(29, 10), 0x00FFFFFFu);
  EXPECT_EQ(img.Pixel(30, 39), 0xFF000000u);
  EXPECT_EQ(img.Pixel(34, 0), 0x00FFFFFFu);

  CBlockVMTC src(100, 40), dst(100, 40);
  src.SetAll(0xFF0000FFu);
  ASSERT_TRUE(dst.CopyFrom(src, {1, 0}, Area(src.size())));
  EXPECT_EQ(dst.AllocatedTiles(), 8);  // every piece is a partial tile now
  EXPECT_EQ(dst.Pixel(0, 0), 0x00FFFFFFu);
  EXPECT_EQ(dst.Pixel(1, 0), 0xFF0000FFu);
  EXPECT_EQ(dst.Compact(), 6);
}

TEST(BlockImage, ComposeSkipsTransparentUniformSources) {
  CBlockVMTC src(64, 64), dst(64, 64);
  dst.SetPixel(1, 1, 0xFF000000u);
  src.SetAll(0x00123456u);
  ASSERT_TRUE(dst.ComposeFrom(src, {copyFn, 255}, Area(3, 3, 50, 50), {5, 5}));
  EXPECT_EQ(dst.AllocatedTiles(), 1);
  EXPECT_EQ(dst.Pixel(10, 10), 0x00FFFFFFu);
}

// ---- Buffer I/O ----

struct IoCase {
  Point dst;
  Area src;
  int strength;
};

const IoCase kIoCases[] = {
    {{0, 0}, {0, 0, 100, 70}, 255},      {{3, 5}, {7, 9, 50, 40}, 255},     {{-4, -6}, {10, 3, 60, 60}, 255},
    {{10, 2}, {-5, -7, 40, 30}, 255},    {{0, 0}, {90, 60, 100, 100}, 255}, {{11, 13}, {31, 31, 3, 3}, 128},
    {{-40, 0}, {0, 0, 100, 70}, 1},      {{5, 5}, {2, 2, 80, 60}, 0},       {{0, 0}, {200, 0, 10, 10}, 255},
    {{1000, 0}, {0, 0, 10, 10}, 255},
};

TEST(BlockImage, ReadIntoMatchesPixelByPixelReference) {
  for (bool skip : {false, true})
    for (const auto& c : kIoCases) {
      SCOPED_TRACE(::testing::Message() << "dst " << c.dst.x << "," << c.dst.y << " src " << c.src.x << ","
                                        << c.src.y << " " << c.src.width << "x" << c.src.height << " s"
                                        << c.strength << " skip " << skip);
      Rng rng(1234);
      CBlockVMTC img(100, 70);
      makeMixed(img, rng);
      TMTC buf(64, 48);
      fillRandom(buf, rng);
      TMTC expected(64, 48);
      expected.Copy({0, 0}, buf, buf.area());
      bool any = false;
      forEachMapped(img.size(), c.src, c.dst, buf.size(), [&](int32_t sx, int32_t sy, int32_t dx, int32_t dy) {
        any = true;
        const TileDesc* t = img.TileAt(sx, sy);
        if (skip && !t->allocated && alpha(t->uniform) == 0) return;
        uint32_t& d = expected.Row(dy)[dx];
        d = c.strength >= 255 ? img.Pixel(sx, sy) : blendRGB(d, img.Pixel(sx, sy), c.strength);
      });
      EXPECT_EQ(img.ReadInto(buf, c.dst, skip, c.strength, c.src), any);
      EXPECT_EQ(snapshot(buf), snapshot(expected));
    }
}

TEST(BlockImage, WriteFromMatchesPixelByPixelReference) {
  for (const auto& c : kIoCases) {
    SCOPED_TRACE(::testing::Message() << "dst " << c.dst.x << "," << c.dst.y << " src " << c.src.x << "," << c.src.y
                                      << " s" << c.strength);
    Rng rng(99);
    CBlockVMTC img(64, 48);
    makeMixed(img, rng);
    TMTC buf(100, 70);
    fillRandom(buf, rng);
    TMTC model(64, 48);
    for (int32_t y = 0; y < 48; ++y)
      for (int32_t x = 0; x < 64; ++x) model.Row(y)[x] = img.Pixel(x, y);
    bool any = false;
    forEachMapped(buf.size(), c.src, c.dst, img.size(), [&](int32_t sx, int32_t sy, int32_t dx, int32_t dy) {
      any = true;
      uint32_t& d = model.Row(dy)[dx];
      d = c.strength >= 255 ? buf.At(sx, sy) : blendRGB(d, buf.At(sx, sy), c.strength);
    });
    EXPECT_EQ(img.WriteFrom(buf, c.dst, c.strength, c.src), any);
    EXPECT_TRUE(sameAs(img, model));
  }
}

TEST(BlockImage, ReadWriteRoundTripAtUnalignedOffsets) {
  Rng rng(5);
  TMTC in(70, 50), out(70, 50);
  fillRandom(in, rng);
  CBlockVMTC img(200, 150);
  ASSERT_TRUE(img.WriteFrom(in, {37, 61}, 255, in.area()));
  ASSERT_TRUE(img.ReadInto(out, {0, 0}, false, 255, Area(37, 61, 70, 50)));
  EXPECT_EQ(snapshot(out), snapshot(in));
  // Only the tiles under the written rectangle were allocated: columns 1–3, rows 1–3.
  EXPECT_EQ(img.AllocatedTiles(), 9);
}

// ---- Block image to block image ----

struct CopyCase {
  Point dst;
  Area src;
};

const CopyCase kCopyCases[] = {
    {{0, 0}, {0, 0, 90, 70}},    {{5, 3}, {0, 0, 90, 70}},     {{-7, -9}, {3, 1, 60, 50}},
    {{33, 17}, {-10, -20, 50, 60}}, {{64, 32}, {32, 0, 64, 64}}, {{1, 1}, {31, 31, 2, 2}},
    {{0, 0}, {95, 0, 5, 5}},
};

TEST(BlockImage, CopyFromMatchesPixelByPixelReference) {
  for (const auto& c : kCopyCases) {
    SCOPED_TRACE(::testing::Message() << "dst " << c.dst.x << "," << c.dst.y << " src " << c.src.x << "," << c.src.y);
    Rng rng(31);
    CBlockVMTC src(90, 70), dst(100, 80);
    makeMixed(src, rng);
    makeMixed(dst, rng);
    TMTC model(100, 80);
    for (int32_t y = 0; y < 80; ++y)
      for (int32_t x = 0; x < 100; ++x) model.Row(y)[x] = dst.Pixel(x, y);
    std::vector<bool> wasAllocated;
    for (int32_t i = 0; i < dst.TileCount(); ++i) wasAllocated.push_back(dst.Tile(i % 4, i / 4)->allocated);
    forEachMapped(src.size(), c.src, c.dst, dst.size(),
                  [&](int32_t sx, int32_t sy, int32_t dx, int32_t dy) { model.Row(dy)[dx] = src.Pixel(sx, sy); });
    dst.CopyFrom(src, c.dst, c.src);
    EXPECT_TRUE(sameAs(dst, model));
    for (int32_t i = 0; i < dst.TileCount(); ++i)
      EXPECT_TRUE(!wasAllocated[size_t(i)] || dst.Tile(i % 4, i / 4)->allocated) << "tile " << i;
  }
}

// Exchanging an area with a smaller image: at tile-aligned and unaligned
// places, reaching the image's ragged edge; twice gives both back, and an
// area that leaves the image changes nothing.
TEST(BlockImage, ExchangeAreaTradesPixelsBothWays) {
  struct Case {
    Point at;
    Size size;
    bool ok;
  };
  const Case cases[] = {{{0, 0}, {64, 64}, true},   {{32, 32}, {68, 48}, true}, {{5, 7}, {40, 33}, true},
                        {{33, 1}, {67, 79}, true},  {{0, 0}, {100, 80}, true},  {{64, 32}, {36, 48}, true},
                        {{70, 0}, {40, 10}, false}, {{-1, 0}, {10, 10}, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "at " << c.at.x << "," << c.at.y << " size " << c.size.width << "x"
                                      << c.size.height);
    Rng rng(47);
    CBlockVMTC image(100, 80), saved(c.size.width, c.size.height);
    makeMixed(image, rng);
    makeMixed(saved, rng);
    const std::vector<uint32_t> image0 = snapshot(image), saved0 = snapshot(saved);
    ASSERT_EQ(image.ExchangeArea(saved, c.at), c.ok);
    if (!c.ok) {
      EXPECT_EQ(snapshot(image), image0);
      EXPECT_EQ(snapshot(saved), saved0);
      continue;
    }
    for (int32_t y = 0; y < 80; ++y)
      for (int32_t x = 0; x < 100; ++x) {
        const int32_t sx = x - c.at.x, sy = y - c.at.y;
        const bool in = inside(c.size, sx, sy);
        ASSERT_EQ(image.Pixel(x, y), in ? saved0[size_t(sy * c.size.width + sx)] : image0[size_t(y * 100 + x)])
            << x << "," << y;
        if (in) ASSERT_EQ(saved.Pixel(sx, sy), image0[size_t(y * 100 + x)]) << x << "," << y;
      }
    // Both come out compacted where they changed, occupied regions up to date.
    EXPECT_EQ(image.Compact(Area(c.at.x, c.at.y, c.size.width, c.size.height)), 0);
    EXPECT_EQ(saved.Compact(), 0);
    CBlockVMTC copy(image);
    copy.RecomputeOccupied();
    EXPECT_EQ(image.OccupiedUnion(), copy.OccupiedUnion());
    ASSERT_TRUE(image.ExchangeArea(saved, c.at));
    EXPECT_EQ(snapshot(image), image0);
    EXPECT_EQ(snapshot(saved), saved0);
  }
}

TEST(BlockImage, MergeScalesDestinationAlphaFirst) {
  for (const auto& c : kCopyCases) {
    Rng rng(77);
    CBlockVMTC src(90, 70), dst(100, 80);
    makeMixed(src, rng);
    makeMixed(dst, rng);
    TMTC model(100, 80);
    for (int32_t y = 0; y < 80; ++y)
      for (int32_t x = 0; x < 100; ++x) model.Row(y)[x] = dst.Pixel(x, y);
    forEachMapped(src.size(), c.src, c.dst, dst.size(), [&](int32_t, int32_t, int32_t dx, int32_t dy) {
      uint32_t& d = model.Row(dy)[dx];
      d = (d & 0x00FFFFFFu) | (uint32_t(MUL[d >> 24][77]) << 24);
    });
    dst.MergeFrom(src, keepFn, 200, 77, c.src, c.dst);
    EXPECT_TRUE(sameAs(dst, model));
  }
  CBlockVMTC a(10, 10), b(10, 10);
  EXPECT_FALSE(a.MergeCross(b, SCrossMerge{}, 255, 255, Area(b.size()), {0, 0}));  // no merge function
}

// ---- Flips and rotations ----

TEST(BlockImage, FlipsMatchTheBufferFlipsAndTwiceRestores) {
  struct Flip {
    bool (CBlockVMTC::*block)(Area);
    void (TMTC::*buffer)();
  };
  const Flip flips[] = {{&CBlockVMTC::FlipHorizontal, &TMTC::FlipHorizontal},
                        {&CBlockVMTC::FlipVertical, &TMTC::FlipVertical},
                        {&CBlockVMTC::Rotate180, &TMTC::Rotate180}};
  for (const auto& f : flips) {
    Rng rng(3);
    CBlockVMTC img(70, 45);
    makeMixed(img, rng);
    const auto before = snapshot(img);
    TMTC model(70, 45);
    ASSERT_TRUE(img.ReadInto(model, {0, 0}, false, 255, Area(img.size())));
    (model.*f.buffer)();
    ASSERT_TRUE((img.*f.block)(Area(img.size())));
    EXPECT_TRUE(sameAs(img, model));
    ASSERT_TRUE((img.*f.block)(Area(-10, -10, 200, 200)));
    EXPECT_EQ(snapshot(img), before);

    // Part of the image: only that rectangle moves.
    const Area part(10, 7, 41, 30);
    TMTC piece(part.width, part.height);
    img.ReadInto(piece, {0, 0}, false, 255, part);
    (piece.*f.buffer)();
    TMTC expected(70, 45);
    img.ReadInto(expected, {0, 0}, false, 255, Area(img.size()));
    expected.Copy({part.x, part.y}, piece, piece.area());
    ASSERT_TRUE((img.*f.block)(part));
    EXPECT_TRUE(sameAs(img, expected));
  }
}

TEST(BlockImage, Rotate90IntoBothDirections) {
  Rng rng(11);
  CBlockVMTC img(70, 45);
  makeMixed(img, rng);
  TMTC cw, ccw;
  ASSERT_TRUE(img.Rotate90Into(cw, true));
  ASSERT_TRUE(img.Rotate90Into(ccw, false));
  ASSERT_EQ(cw.size(), (Size{45, 70}));
  ASSERT_EQ(ccw.size(), (Size{45, 70}));
  // Clockwise: the old bottom-left corner comes to the top-left.
  EXPECT_EQ(cw.At(0, 0), img.Pixel(0, 44));
  EXPECT_EQ(cw.At(44, 0), img.Pixel(0, 0));
  EXPECT_EQ(ccw.At(0, 0), img.Pixel(69, 0));
  EXPECT_EQ(ccw.At(0, 69), img.Pixel(0, 0));
  for (int32_t y = 0; y < 70; ++y)
    for (int32_t x = 0; x < 45; ++x) {
      ASSERT_EQ(cw.At(x, y), img.Pixel(y, 44 - x));
      ASSERT_EQ(ccw.At(x, y), img.Pixel(69 - y, x));
    }
}

TEST(BlockImage, Rotate90ToPlacesTheTurnedImageAtAnOffset) {
  Rng rng(12);
  CBlockVMTC img(70, 45);
  makeMixed(img, rng);
  TMTC cw;
  img.Rotate90Into(cw, true);
  CBlockVMTC big(120, 120);
  big.SetAll(0xFF00FF00u);
  ASSERT_TRUE(img.Rotate90To(big, {10, 20}, true));
  for (int32_t y = 0; y < 120; ++y)
    for (int32_t x = 0; x < 120; ++x) {
      const bool in = x >= 10 && x < 55 && y >= 20 && y < 90;
      ASSERT_EQ(big.Pixel(x, y), in ? cw.At(x - 10, y - 20) : 0xFF00FF00u) << x << "," << y;
    }
  // Turning back the other way restores the original.
  CBlockVMTC turned(45, 70), back(70, 45);
  ASSERT_TRUE(img.Rotate90To(turned, {0, 0}, true));
  ASSERT_TRUE(turned.Rotate90To(back, {0, 0}, false));
  EXPECT_EQ(snapshot(back), snapshot(img));
  // Clipped at the destination's edge without trouble.
  CBlockVMTC small(20, 20);
  EXPECT_TRUE(img.Rotate90To(small, {-5, -7}, false));
  EXPECT_EQ(small.Pixel(0, 0), img.Pixel(69 - 7, 5));
}

// ---- Reductions ----

TEST(BlockImage, Resample4x4OfUniformStaysUniform) {
  CBlockVMTC img(300, 200), target(77, 41);
  img.SetAll(0x80102030u);
  ASSERT_TRUE(img.Resample4x4(target));
  EXPECT_EQ(target.AllocatedTiles(), 0);
  EXPECT_EQ(target.Pixel(76, 40), 0x80102030u);
  EXPECT_EQ(target.OccupiedUnion(), (Bounds{0, 0, 77, 41}));
}

TEST(BlockImage, Resample4x4AtQuarterSizeAveragesEachBlock) {
  Rng rng(21);
  CBlockVMTC img(64, 64), target(16, 16);
  for (int32_t y = 0; y < 64; ++y)
    for (int32_t x = 0; x < 64; ++x) img.SetPixel(x, y, rng.next());
  ASSERT_TRUE(img.Resample4x4(target));
  for (int32_t y = 0; y < 16; ++y)
    for (int32_t x = 0; x < 16; ++x) {
      uint32_t expected = 0;
      for (int k = 0; k < 4; ++k) {
        uint32_t sum = 0;
        for (int b = 0; b < 4; ++b)
          for (int a = 0; a < 4; ++a) sum += (img.Pixel(4 * x + a, 4 * y + b) >> (8 * k)) & 0xFF;
        expected |= (sum / 16) << (8 * k);
      }
      ASSERT_EQ(target.Pixel(x, y), expected) << x << "," << y;
    }
}

TEST(BlockImage, RenderReducedAveragesClampedBoxes) {
  Rng rng(8);
  CBlockVMTC img(64, 64);
  for (int32_t y = 0; y < 64; ++y)
    for (int32_t x = 0; x < 64; ++x) img.SetPixel(x, y, rng.next());
  TMTC buf(40, 40);
  buf.Fill(0x01020304u);
  const auto blank = snapshot(buf);
  img.RenderReduced(buf, Area(3, 3, 0, 20), Area(img.size()));
  img.RenderReduced(buf, Area(3, 3, 20, 0), Area(img.size()));
  img.RenderReduced(buf, Area(3, 3, 20, 20), Area(0, 0, 0, 0));
  EXPECT_EQ(snapshot(buf), blank);

  // Half size: step 2, boxes of 3 × 3 that read past the edge as the edge pixel.
  img.RenderReduced(buf, Area(4, 6, 32, 32), Area(img.size()));
  for (int32_t j = 0; j < 32; ++j)
    for (int32_t i = 0; i < 32; ++i) {
      uint32_t expected = 0;
      for (int k = 0; k < 4; ++k) {
        uint32_t sum = 0;
        for (int b = 0; b < 3; ++b)
          for (int a = 0; a < 3; ++a)
            sum += (img.Pixel(std::min(63, 2 * i + a), std::min(63, 2 * j + b)) >> (8 * k)) & 0xFF;
        expected |= (sum / 9) << (8 * k);
      }
      ASSERT_EQ(buf.At(4 + i, 6 + j), expected) << i << "," << j;
    }
  EXPECT_EQ(buf.At(3, 6), 0x01020304u);
  EXPECT_EQ(buf.At(36, 38), 0x01020304u);
  // A buffer area hanging over the buffer's edges is clipped.
  img.RenderReduced(buf, Area(-10, 30, 64, 64), Area(img.size()));
}

TEST(BlockImage, RenderReducedOfALargeImageIntoOnePixel) {
  // One box of 65537 × 301 samples: byte sums beyond 32 bits.
  CBlockVMTC img(65536, 300);
  ASSERT_TRUE(img.IsValid());
  img.SetAll(0xFFFFFFFFu);
  TMTC buf(1, 1);
  img.RenderReduced(buf, Area(0, 0, 1, 1), Area(img.size()));
  EXPECT_EQ(buf.At(0, 0), 0xFFFFFFFFu);
}

TEST(BlockImage, ContentBoundsUnitesTilesWithAlpha) {
  CBlockVMTC img(100, 40);
  EXPECT_TRUE(img.ContentBounds().empty());
  img.SetPixel(40, 5, 0x00FF0000u);  // allocated, but no alpha anywhere
  EXPECT_TRUE(img.ContentBounds().empty());
  img.SetPixel(41, 6, 0x01000000u);
  EXPECT_EQ(img.ContentBounds(), (Bounds{32, 0, 64, 32}));
  img.SetAlpha(Area(96, 32, 4, 8), 9);  // the whole (edge) tile, still uniform
  EXPECT_FALSE(img.Tile(3, 1)->allocated);
  EXPECT_EQ(img.ContentBounds(), (Bounds{32, 0, 100, 40}));
}

// ---- Row I/O ----

TEST(BlockImage, ChannelRowsRefuseBadRequests) {
  CBlockVMTC img(50, 10);
  uint8_t bytes[64] = {};
  struct Bad {
    int32_t y;
    int channel;
    int32_t x0, count;
  };
  const Bad bad[] = {{0, -1, 0, 10}, {0, 4, 0, 10}, {-1, 0, 0, 10}, {10, 0, 0, 10},
                     {0, 0, 50, 10}, {0, 0, -10, 10}, {0, 0, 0, 0},  {0, 0, 0, -5},
                     {0, 0, INT32_MIN, INT32_MAX}, {0, 0, INT32_MAX, INT32_MAX}};
  for (const auto& b : bad) {
    EXPECT_FALSE(img.WriteChannelRow(b.y, b.channel, bytes, b.x0, b.count));
    EXPECT_FALSE(img.ReadChannelRow(b.y, b.channel, bytes, b.x0, b.count));
    if (b.channel == 0) {
      EXPECT_FALSE(img.WriteBitRow(b.y, bytes, b.x0, b.count));
    }
  }
  EXPECT_FALSE(img.WriteChannelRow(0, 0, nullptr, 0, 10));
  EXPECT_FALSE(img.ReadChannelRow(0, 0, nullptr, 0, 10));
  EXPECT_FALSE(img.WriteBitRow(0, nullptr, 0, 10));
  EXPECT_EQ(img.AllocatedTiles(), 0);
}

TEST(BlockImage, ChannelRowsUseMemoryByteOrderAndClip) {
  CBlockVMTC img(50, 10);
  uint8_t bytes[80];
  for (int i = 0; i < 80; ++i) bytes[i] = uint8_t(i + 1);
  // Channel 0 is blue; x0 = −3 skips the first three bytes; the count is cut at the edge.
  ASSERT_TRUE(img.WriteChannelRow(2, 0, bytes, -3, 80));
  EXPECT_EQ(img.Pixel(0, 2), 0x00FFFF04u);
  EXPECT_EQ(img.Pixel(49, 2), 0x00FFFF00u | 53u);
  ASSERT_TRUE(img.WriteChannelRow(2, 3, bytes, 40, 80));
  EXPECT_EQ(img.Pixel(40, 2), 0x01FFFF00u | 44u);
  EXPECT_EQ(img.Pixel(39, 2), 0x00FFFF00u | 43u);
  ASSERT_TRUE(img.WriteChannelRow(3, 2, bytes, 0, 5));
  EXPECT_EQ(img.Pixel(4, 3), 0x0005FFFFu);
  EXPECT_EQ(img.Pixel(5, 3), 0x00FFFFFFu);

  // A count running far past the edge is cut there.
  ASSERT_TRUE(img.WriteChannelRow(4, 1, bytes, -10, INT32_MAX));
  EXPECT_EQ(img.Pixel(0, 4), 0x00FF0BFFu);
  EXPECT_EQ(img.Pixel(49, 4), 0x00FF3CFFu);

  uint8_t back[80] = {};
  ASSERT_TRUE(img.ReadChannelRow(2, 0, back, -3, 80));
  for (int i = 3; i < 53; ++i) EXPECT_EQ(back[i], bytes[i]) << i;
  EXPECT_EQ(back[0], 0);   // before the image: untouched
  EXPECT_EQ(back[53], 0);  // beyond the image: untouched
  ASSERT_TRUE(img.ReadChannelRow(9, 1, back, 0, 50));  // an unallocated row reads its uniform
  EXPECT_EQ(back[10], 0xFF);
  ASSERT_TRUE(img.ReadChannelRow(2, 3, back, 38, 4));
  EXPECT_EQ(back[1], 0);
  EXPECT_EQ(back[2], 1);
  EXPECT_EQ(back[3], 2);
}

TEST(BlockImage, BitRowsWriteBlackAndWhiteKeepingAlpha) {
  CBlockVMTC img(40, 4);
  img.SetAlpha(Area(img.size()), 0x7F);
  img.SetRGB(Area(img.size()), 0x123456);
  const uint8_t bits[] = {0xA0, 0x01, 0xFF, 0x00, 0x80};
  ASSERT_TRUE(img.WriteBitRow(1, bits, -2, 38));  // bit k lands at x = k − 2
  EXPECT_EQ(img.Pixel(0, 1), 0x7F000000u);        // bit 2 of 0xA0 is set
  EXPECT_EQ(img.Pixel(1, 1), 0x7FFFFFFFu);
  EXPECT_EQ(img.Pixel(13, 1), 0x7F000000u);  // bit 15: last of 0x01
  EXPECT_EQ(img.Pixel(14, 1), 0x7F000000u);
  EXPECT_EQ(img.Pixel(21, 1), 0x7F000000u);
  EXPECT_EQ(img.Pixel(22, 1), 0x7FFFFFFFu);
  EXPECT_EQ(img.Pixel(35, 1), 0x7FFFFFFFu);   // bit 37: 0x80 holds bits 32–39
  EXPECT_EQ(img.Pixel(30, 1), 0x7F000000u);   // bit 32
  EXPECT_EQ(img.Pixel(36, 1), 0x7F123456u);   // count ended at bit 37
  EXPECT_EQ(img.Pixel(0, 0), 0x7F123456u);
}

// ---- Alpha moves ----

TEST(BlockImage, AlphaMovesBetweenLayerAndMask) {
  Rng rng(41);
  CBlockVMTC layer(100, 70);
  makeMixed(layer, rng);
  const auto before = snapshot(layer);
  CBlockVCH mask(100, 70);
  ASSERT_TRUE(layer.AlphaTo(mask));
  for (int32_t y = 0; y < 70; ++y)
    for (int32_t x = 0; x < 100; ++x) ASSERT_EQ(mask.Pixel(x, y), layer.Pixel(x, y) >> 24);

  CBlockVCH other(100, 70);
  other.FillArea(Area(0, 0, 64, 64), 0x33);  // whole mask tile: uniform
  for (int32_t i = 0; i < 300; ++i) other.SetPixel(rng.range(0, 100), rng.range(0, 70), uint8_t(rng.next()));
  ASSERT_TRUE(layer.SwapAlpha(other));
  for (int32_t y = 0; y < 70; ++y)
    for (int32_t x = 0; x < 100; ++x) {
      const uint32_t b = before[size_t(y * 100 + x)];
      ASSERT_EQ(other.Pixel(x, y), b >> 24);
      ASSERT_EQ(layer.Pixel(x, y) & 0x00FFFFFFu, b & 0x00FFFFFFu);
    }
  ASSERT_TRUE(layer.AlphaFrom(mask));
  EXPECT_EQ(snapshot(layer), before);

  CBlockVCH wrong(100, 71);
  EXPECT_FALSE(layer.AlphaFrom(wrong));
  EXPECT_FALSE(layer.SwapAlpha(wrong));
  EXPECT_FALSE(layer.AlphaTo(wrong));
}

TEST(BlockImage, AlphaFromUniformMaskAllocatesNothingNew) {
  CBlockVMTC layer(100, 70);
  layer.SetPixel(5, 5, 0x00123456u);
  CBlockVCH mask(100, 70);
  mask.FillArea(Area(mask.size()), 0xC9);
  ASSERT_TRUE(layer.AlphaFrom(mask));
  EXPECT_EQ(layer.AllocatedTiles(), 1);
  EXPECT_EQ(layer.Pixel(5, 5), 0xC9123456u);
  EXPECT_EQ(layer.Pixel(6, 5), 0xC9FFFFFFu);
  EXPECT_EQ(layer.Pixel(99, 69), 0xC9FFFFFFu);
}

// ---- Invalid images ----

TEST(BlockImage, InvalidImagesRefuseEverything) {
  ScopedUiCapture capture;
  CBlockVMTC good(40, 40);
  good.SetPixel(1, 1, 5);
  CBlockVMTC a(0, 10);
  CBlockVMTC b(10, 10);
  EXPECT_FALSE(a.IsValid());
  EXPECT_FALSE(b.Recreate(0, 0));
  CBlockVMTC c(65537, 1);
  CBlockVMTC d(-5, -5);
  for (CBlockVMTC* img : {&a, &b, &c, &d}) {
    EXPECT_FALSE(img->IsValid());
    EXPECT_EQ(img->AllocatedBytes(), 0);
    EXPECT_EQ(img->Tile(0, 0, true), nullptr);
    TMTC buf(10, 10);
    EXPECT_FALSE(img->ReadInto(buf, {0, 0}, false, 255, buf.area()));
    EXPECT_FALSE(img->WriteFrom(buf, {0, 0}, 255, buf.area()));
    EXPECT_FALSE(img->CopyFrom(good, {0, 0}, Area(good.size())));
    EXPECT_FALSE(good.CopyFrom(*img, {0, 0}, Area(0, 0, 10, 10)));
    EXPECT_FALSE(img->ComposeFrom(good, {}, Area(good.size()), {0, 0}));
    EXPECT_FALSE(img->MergeFrom(good, copyFn, 255, 255, Area(good.size()), {0, 0}));
    EXPECT_FALSE(img->XorAll(1));
    EXPECT_FALSE(img->SetAll(1));
    EXPECT_FALSE(img->SetMasked(Area(0, 0, 5, 5), ~0u, 1));
    EXPECT_FALSE(img->FlipHorizontal(Area(0, 0, 5, 5)));
    EXPECT_FALSE(img->Rotate180(Area(0, 0, 5, 5)));
    EXPECT_FALSE(img->Rotate90Into(buf, true));
    EXPECT_FALSE(img->Rotate90To(good, {0, 0}, true));
    EXPECT_FALSE(good.Rotate90To(*img, {0, 0}, true));
    EXPECT_FALSE(img->Resample4x4(good));
    EXPECT_FALSE(good.Resample4x4(*img));
    EXPECT_TRUE(img->ContentBounds().empty());
    EXPECT_EQ(img->Compact(), 0);
    EXPECT_EQ(img->PixelClamped(0, 0), 0x00FFFFFFu);
    EXPECT_EQ(img->PixelOr(0, 0), 0x00FFFFFFu);
    uint32_t v;
    EXPECT_FALSE(img->PixelChecked(0, 0, v));
    EXPECT_FALSE(img->SetPixelChecked(0, 0, v));
    EXPECT_EQ(img->PixelAddressClamped(0, 0), nullptr);
    uint8_t row[16] = {};
    EXPECT_FALSE(img->WriteChannelRow(0, 0, row, 0, 16));
    EXPECT_FALSE(img->ReadChannelRow(0, 0, row, 0, 16));
    EXPECT_FALSE(img->WriteBitRow(0, row, 0, 16));
    img->RenderReduced(buf, buf.area(), Area(0, 0, 10, 10));
    CBlockVCH mask(10, 10);
    EXPECT_FALSE(img->AlphaTo(mask));
    EXPECT_FALSE(img->AlphaFrom(mask));
    EXPECT_FALSE(img->SwapAlpha(mask));
    CBlockVMTC copy(*img);
    EXPECT_FALSE(copy.IsValid());
  }
  EXPECT_TRUE(CBlockVMTC(65536, 1).IsValid());
  EXPECT_TRUE(b.Recreate(33, 33));
  EXPECT_EQ(b.TileCount(), 4);
  EXPECT_TRUE(b.SetPixelChecked(32, 32, 1));
  EXPECT_TRUE(capture.capture.warnings.empty());
}

// ---- Randomised comparison with a plain buffer ----

// A plain-buffer model of the operations, pixel by pixel.
struct Model {
  TMTC px;
  Model(int32_t w, int32_t h) : px(w, h) { px.Fill(0x00FFFFFFu); }
  uint32_t& at(int32_t x, int32_t y) { return px.Row(y)[x]; }
};

Area randomArea(Rng& rng, Size s) {
  const int32_t x = rng.range(-20, s.width), y = rng.range(-20, s.height);
  return Area(x, y, rng.range(0, s.width + 20), rng.range(0, s.height + 20));
}

uint32_t randomPixel(Rng& rng) {
  switch (rng.range(0, 4)) {
    case 0: return rng.next() & 0x00FFFFFFu;
    case 1: return rng.next() | 0xFF000000u;
    case 2: return 0x00FFFFFFu;
    default: return rng.next();
  }
}

uint32_t mixFn(uint32_t d, uint32_t s, int t) { return blendRGB(d, s, t) ^ (s & 0xFF000000u); }

// Runs `steps` seeded random operations on a block image and on the model;
// returns the image's final pixels.
std::vector<uint32_t> runRandomSequence(uint32_t seed, int steps) {
  Rng rng(seed);
  const int32_t w = 100, h = 70;
  CBlockVMTC img(w, h);
  Model model(w, h);
  CBlockVMTC other(80, 90);
  makeMixed(other, rng);
  const Size os = other.size();

  for (int step = 0; step < steps; ++step) {
    const int op = rng.range(0, 13);
    SCOPED_TRACE(::testing::Message() << "seed " << seed << " step " << step << " op " << op);
    switch (op) {
      case 0: {
        const int32_t x = rng.range(0, w), y = rng.range(0, h);
        const uint32_t v = randomPixel(rng);
        img.SetPixel(x, y, v);
        model.at(x, y) = v;
        break;
      }
      case 1: {
        TMTC buf(rng.range(1, 60), rng.range(1, 60));
        const uint32_t base = randomPixel(rng);
        buf.Fill(base);
        for (int i = 0; i < 40; ++i) buf.Row(rng.range(0, buf.height))[rng.range(0, buf.width)] = randomPixel(rng);
        const Point dst{rng.range(-30, w), rng.range(-30, h)};
        const Area src = randomArea(rng, buf.size());
        const int s = rng.chance(60) ? 255 : rng.range(0, 255);
        img.WriteFrom(buf, dst, s, src);
        forEachMapped(buf.size(), src, dst, img.size(), [&](int32_t sx, int32_t sy, int32_t dx, int32_t dy) {
          uint32_t& d = model.at(dx, dy);
          d = s >= 255 ? buf.At(sx, sy) : blendRGB(d, buf.At(sx, sy), s);
        });
        break;
      }
      case 2: {
        const Area a = randomArea(rng, img.size());
        const uint32_t v = rng.next();
        img.XorArea(a, v);
        forEachMapped(img.size(), a, {a.x, a.y}, img.size(), [&](int32_t, int32_t, int32_t x, int32_t y) {
          model.at(x, y) ^= v;
        });
        break;
      }
      case 3: {
        const Area a = randomArea(rng, img.size());
        const uint32_t mask = rng.chance(50) ? 0xFF000000u : rng.next(), v = rng.next();
        img.SetMasked(a, mask, v);
        forEachMapped(img.size(), a, {a.x, a.y}, img.size(), [&](int32_t, int32_t, int32_t x, int32_t y) {
          model.at(x, y) = (v & mask) | (model.at(x, y) & ~mask);
        });
        break;
      }
      case 4: {
        if (!rng.chance(20)) break;
        const uint32_t v = randomPixel(rng);
        img.SetAll(v);
        model.px.Fill(v);
        break;
      }
      case 5: {
        const Point dst{rng.range(-40, w), rng.range(-40, h)};
        const Area src = randomArea(rng, os);
        img.CopyFrom(other, dst, src);
        forEachMapped(os, src, dst, img.size(), [&](int32_t sx, int32_t sy, int32_t dx, int32_t dy) {
          model.at(dx, dy) = other.Pixel(sx, sy);
        });
        break;
      }
      case 6: {
        const Point dst{rng.range(-40, w), rng.range(-40, h)};
        const Area src = randomArea(rng, os);
        const int opacity = rng.range(0, 256);
        img.ComposeFrom(other, {mixFn, opacity}, src, dst);
        forEachMapped(os, src, dst, img.size(), [&](int32_t sx, int32_t sy, int32_t dx, int32_t dy) {
          const TileDesc* t = other.TileAt(sx, sy);
          if (!t->allocated && alpha(t->uniform) == 0) return;
          model.at(dx, dy) = mixFn(model.at(dx, dy), other.Pixel(sx, sy), opacity);
        });
        break;
      }
      case 7: {
        const Point dst{rng.range(-40, w), rng.range(-40, h)};
        const Area src = randomArea(rng, os);
        const int ss = rng.range(0, 256), ds = rng.range(0, 256);
        img.MergeFrom(other, mixFn, ss, ds, src, dst);
        forEachMapped(os, src, dst, img.size(), [&](int32_t sx, int32_t sy, int32_t dx, int32_t dy) {
          uint32_t& d = model.at(dx, dy);
          d = mixFn((d & 0x00FFFFFFu) | (uint32_t(MUL[d >> 24][ds]) << 24), other.Pixel(sx, sy), ss);
        });
        break;
      }
      case 8: {
        Area a = randomArea(rng, img.size());
        const int which = rng.range(0, 3);
        const bool done = which == 0 ? img.FlipHorizontal(a) : which == 1 ? img.FlipVertical(a) : img.Rotate180(a);
        if (!clipArea(a, img.size())) {
          EXPECT_FALSE(done);
          break;
        }
        EXPECT_TRUE(done);
        TMTC piece(a.width, a.height);
        piece.Copy({0, 0}, model.px, a);
        if (which == 0) piece.FlipHorizontal();
        if (which == 1) piece.FlipVertical();
        if (which == 2) piece.Rotate180();
        model.px.Copy({a.x, a.y}, piece, piece.area());
        break;
      }
      case 9: {
        img.Compact();
        break;
      }
      case 10: {
        // Reading changes nothing and sees the model.
        TMTC buf(rng.range(1, 120), rng.range(1, 90));
        buf.Fill(0x5A5A5A5Au);
        const Point dst{rng.range(-20, 20), rng.range(-20, 20)};
        const Area src = randomArea(rng, img.size());
        img.ReadInto(buf, dst, false, 255, src);
        forEachMapped(img.size(), src, dst, buf.size(), [&](int32_t sx, int32_t sy, int32_t dx, int32_t dy) {
          ASSERT_EQ(buf.At(dx, dy), model.at(sx, sy));
        });
        break;
      }
      case 11: {
        const int32_t y = rng.range(0, h), ch = rng.range(0, 4);
        const int32_t x0 = rng.range(-20, w), count = rng.range(1, w + 20);
        std::vector<uint8_t> row(static_cast<size_t>(count));
        for (auto& b : row) b = uint8_t(rng.next());
        img.WriteChannelRow(y, ch, row.data(), x0, count);
        for (int32_t i = 0; i < count; ++i) {
          const int32_t x = x0 + i;
          if (x < 0 || x >= w) continue;
          uint32_t& d = model.at(x, y);
          d = (d & ~(0xFFu << (8 * ch))) | (uint32_t(row[size_t(i)]) << (8 * ch));
        }
        break;
      }
      case 12: {
        SCrossMerge rec;
        rec.merge = crossCopy;
        const Point dst{rng.range(-40, w), rng.range(-40, h)};
        const Area src = randomArea(rng, os);
        img.MergeCross(other, rec, 255, 255, src, dst);
        forEachMapped(os, src, dst, img.size(), [&](int32_t sx, int32_t sy, int32_t dx, int32_t dy) {
          model.at(dx, dy) = other.Pixel(sx, sy);
        });
        break;
      }
    }
    if (::testing::Test::HasFatalFailure()) return {};
    if (step % 8 == 7) {
      EXPECT_TRUE(sameAs(img, model.px));
      if (::testing::Test::HasFailure()) return {};
      // The occupied region covers every tile that holds something.
      const Bounds occ = img.OccupiedUnion();
      for (int32_t i = 0; i < img.TileCount(); ++i) {
        const TileDesc* t = img.Tile(i % img.tilesAcross, i / img.tilesAcross);
        if (!t->allocated && alpha(t->uniform) == 0) continue;
        bool covered = false;
        for (int k = 0; k < img.OccupiedCount(); ++k) {
          const Bounds& b = img.Occupied()[k];
          covered |= t->x >= b.left && t->y >= b.top && t->x + t->validWidth <= b.right &&
                     t->y + t->validHeight <= b.bottom;
        }
        EXPECT_TRUE(covered) << "tile " << i << " outside " << occ.left << "," << occ.top;
      }
    }
  }
  EXPECT_TRUE(sameAs(img, model.px));
  const auto pixels = snapshot(img);
  img.Compact();
  EXPECT_EQ(snapshot(img), pixels);
  return pixels;
}

TEST(BlockImage, RandomSequencesMatchAPlainBuffer) {
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    runRandomSequence(seed, 120);
    if (HasFailure()) return;
  }
}

TEST(BlockImage, GoldenChecksumOfASeededSequence) {
  const auto pixels = runRandomSequence(20240601u, 400);
  ASSERT_FALSE(pixels.empty());
  EXPECT_EQ(crc32(pixels), 0xAF617F6Eu);
}

}  // namespace
}  // namespace vl
