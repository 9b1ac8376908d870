#include "pixel/pixel_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "pixel/random_state.h"

namespace vl {
namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

// Truncating a × b ÷ c the way the tables are defined, independent of the code.
int truncDiv(int a, int b) { return a / b; }

TEST(Mul8, EqualsFlooredProductOver255ForEveryPair) {
  for (int a = 0; a < 256; ++a)
    for (int b = 0; b < 256; ++b) {
      ASSERT_EQ(mul8(a, b), a * b / 255) << a << " " << b;
      ASSERT_EQ(MUL[a][b], a * b / 255) << a << " " << b;
    }
  EXPECT_EQ(mul8(255, 255), 255);
  EXPECT_EQ(mul8(255, 0), 0);
  EXPECT_EQ(mul8(128, 255), 128);
}

TEST(Lerp8, IsTheFlooredWeightedMeanForEveryTriple) {
  for (int s = 0; s < 256; ++s)
    for (int d = 0; d < 256; ++d) {
      ASSERT_EQ(lerp8(s, d, 0), d);
      ASSERT_EQ(lerp8(s, d, 255), s);
      for (int t = 1; t < 255; ++t) ASSERT_EQ(lerp8(s, d, t), (s * t + d * (255 - t)) / 255) << s << " " << d << " " << t;
    }
}

TEST(Tables, ScreenInvAndHalfDiffMatchTheirDefinitions) {
  for (int i = 0; i < 256; ++i)
    for (int j = 0; j < 256; ++j) {
      ASSERT_EQ(SCREENINV[i][j], 255 - i * (255 - j) / 255) << i << " " << j;
      int d = int8_t(uint8_t(j));
      // Truncated toward zero, so small negative products give 0, not −1.
      ASSERT_EQ(HALFDIFF[i][j], truncDiv(i * d * 2, 255)) << i << " " << d;
    }
  EXPECT_EQ(HALFDIFF[1][0xFF], 0);
  EXPECT_EQ(HALFDIFF[255][127], 254);
  EXPECT_EQ(HALFDIFF[255][0x80], -256);
}

TEST(BlendRGB, StrengthEndsAndMiddle) {
  const uint32_t pixel = 0x80102030u, colour = 0x00F0E0D0u;
  EXPECT_EQ(blendRGB(pixel, colour, 0), pixel);
  EXPECT_EQ(blendRGB(pixel, colour, 255), 0x80F0E0D0u);
  // A colour's stray alpha never reaches the pixel.
  EXPECT_EQ(blendRGB(pixel, 0xFFF0E0D0u, 255), 0x80F0E0D0u);
  EXPECT_EQ(blendRGB(pixel, 0xFFF0E0D0u, 100), blendRGB(pixel, colour, 100));
  uint32_t mid = blendRGB(pixel, colour, 100);
  EXPECT_EQ(alpha(mid), 0x80u);
  EXPECT_EQ(int(red(mid)), lerp8(0xF0, 0x10, 100));
  EXPECT_EQ(int(green(mid)), lerp8(0xE0, 0x20, 100));
  EXPECT_EQ(int(blue(mid)), lerp8(0xD0, 0x30, 100));
}

TEST(BlendRGBTable, EveryByteStaysInRangeAndFollowsTheTable) {
  for (int p = 0; p < 256; ++p)
    for (int c = 0; c < 256; ++c) {
      int d = (c >> 1) - (p >> 1);
      for (int t = 0; t < 256; ++t) {
        int v = blendByteTable(uint8_t(p), uint8_t(c), t);
        ASSERT_EQ(v, p + truncDiv(t * d * 2, 255)) << p << " " << c << " " << t;
      }
      ASSERT_EQ(blendByteTable(uint8_t(p), uint8_t(c), 0), p);
      // Full strength lands within one of the colour (the pixel's low bit survives).
      ASSERT_LE(std::abs(blendByteTable(uint8_t(p), uint8_t(c), 255) - c), 1) << p << " " << c;
    }
}

TEST(BlendRGBTable, KeepsAlphaAndTreatsChannelsApart) {
  const uint32_t pixel = 0x7F000000u;
  EXPECT_EQ(blendRGBTable(pixel, 0x00FFFFFFu, 0), pixel);
  // Full strength replaces the colour, although the halved difference alone would keep the low bit.
  EXPECT_EQ(blendRGBTable(pixel, 0x00FFFFFFu, 255), 0x7FFFFFFFu);
  EXPECT_EQ(blendRGBTable(0x12FFFFFFu, 0x00000000u, 255), 0x12000000u);
  EXPECT_EQ(blendRGBTable(0x12000000u, 0x00818181u, 254), 0x127F7F7Fu);
  uint32_t v = blendRGBTable(0xAA102030u, 0x00F00030u, 128);
  EXPECT_EQ(alpha(v), 0xAAu);
  EXPECT_EQ(int(red(v)), blendByteTable(0x10, 0xF0, 128));
  EXPECT_EQ(int(green(v)), blendByteTable(0x20, 0x00, 128));
  EXPECT_EQ(blue(v), 0x30u);
}

TEST(BlendByte, SingleChannelLerp) {
  EXPECT_EQ(blendByte(10, 200, 0), 10);
  EXPECT_EQ(blendByte(10, 200, 255), 200);
  EXPECT_EQ(blendByte(0, 255, 128), 128);
}

struct InkCase {
  const char* name;
  PixelFn ink;
  uint32_t pixel, colour;
  int strength;
  uint32_t expected;
};

TEST(Inks, Table) {
  const InkCase cases[] = {
      {"multiply at 0 leaves the pixel", inkMultiply, 0x80406080u, 0x00000000u, 0, 0x80406080u},
      {"multiply by white leaves the pixel", inkMultiply, 0x80406080u, 0x00FFFFFFu, 255, 0x80406080u},
      {"multiply by black gives black", inkMultiply, 0x80406080u, 0x00000000u, 255, 0x80000000u},
      {"multiply at full strength", inkMultiply, 0x11FF80FFu, 0x00808000u, 255, 0x11804000u},
      // SCREENINV[128][0] = 255 − 128 = 127, MUL[255][127] = 127.
      {"multiply at half strength", inkMultiply, 0x22FFFFFFu, 0x00000000u, 128, 0x227F7F7Fu},
      {"add at 0 leaves the pixel", inkAdd, 0x33102030u, 0x00FFFFFFu, 0, 0x33102030u},
      {"add saturates", inkAdd, 0x33F02030u, 0x00404040u, 255, 0x33FF6070u},
      {"add scales the colour", inkAdd, 0x00000000u, 0x00FF8000u, 128, 0x00804000u},
      {"subtract at 0 leaves the pixel", inkSubtract, 0x44102030u, 0x00FFFFFFu, 0, 0x44102030u},
      {"subtract stops at 0", inkSubtract, 0x44102030u, 0x00202020u, 255, 0x44000010u},
      {"subtract scales the colour", inkSubtract, 0x44FFFFFFu, 0x00FF8000u, 128, 0x447FBFFFu},
      {"normal at 0", inkNormal, 0x55102030u, 0x00FFFFFFu, 0, 0x55102030u},
      {"normal at 255", inkNormal, 0x55102030u, 0x00FFFFFFu, 255, 0x55FFFFFFu},
  };
  for (const auto& c : cases) EXPECT_EQ(c.ink(c.pixel, c.colour, c.strength), c.expected) << c.name;
}

TEST(Inks, KeepAlphaForEveryStrength) {
  std::mt19937 rng(5);
  for (PixelFn ink : {inkMultiply, inkAdd, inkSubtract, inkNormal})
    for (int s = 0; s < 256; ++s) {
      uint32_t p = rng(), c = rng() & 0x00FFFFFFu;
      ASSERT_EQ(alpha(ink(p, c, s)), alpha(p));
    }
}

TEST(Luminance, WeightsAndAlphaIgnored) {
  EXPECT_EQ(luminance(0x00FFFFFFu), 255);
  EXPECT_EQ(luminance(0xFF000000u), 0);
  EXPECT_EQ(luminance(0x00FF0000u), 76);
  EXPECT_EQ(luminance(0x0000FF00u), 149);
  EXPECT_EQ(luminance(0x000000FFu), 29);
  EXPECT_EQ(luminance(0xAB808080u), luminance(0x00808080u));
  EXPECT_EQ(colourDistance2(0xFF010203u, 0x00040506u), 27);
  EXPECT_EQ(colourDistance2(0x00FFFFFFu, 0), 3 * 255 * 255);
}

TEST(ByteFunctions, SetMaxMultiply) {
  EXPECT_EQ(byteSet(10, 20), 20);
  EXPECT_EQ(byteMax(10, 20), 20);
  EXPECT_EQ(byteMax(30, 20), 30);
  EXPECT_EQ(byteMultiply(0, 255), 0);
  EXPECT_EQ(byteMultiply(255, 0), 0);
  EXPECT_EQ(byteMultiply(255, 128), 128);
  EXPECT_EQ(byteMultiply(128, 128), 64);
}

TEST(FixedPoint, Multiply) {
  EXPECT_EQ(fixMul(0x10000, 0x10000), 0x10000);
  EXPECT_EQ(fixMul(-0x18000, 0x20000), -0x30000);
  EXPECT_EQ(fixMul(-0x18000, -0x20000), 0x30000);
  // The shift floors, so −tiny × positive stays below zero.
  EXPECT_EQ(fixMul(-1, 1), -1);
  // The product is 64-bit: no overflow on the way.
  EXPECT_EQ(fixMul(kMax, 0x10000), kMax);
  EXPECT_EQ(fixMul(kMin, 0x10000), kMin);
}

TEST(FixedPoint, DivideIsSignCorrectAndSaturates) {
  struct Case {
    int32_t a, b, expected;
  } const cases[] = {
      {1, 2, 0x8000},
      {-1, 2, -0x8000},
      {1, -2, -0x8000},
      {-1, -2, 0x8000},
      {7, 3, 152917},
      {-7, 3, -152917},  // truncated toward zero, same magnitude as 7 ÷ 3
      {7, -3, -152917},
      {0, 5, 0},
      {5, 0, kMax},
      {-5, 0, kMin},
      {0x40000, 1, kMax},
      {-0x40000, 1, kMin},
      {kMin, -1, kMax},
  };
  for (const auto& c : cases) EXPECT_EQ(fixDiv(c.a, c.b), c.expected) << c.a << " / " << c.b;
}

TEST(FixedPoint, IntegerSquareRootIsTheFloor) {
  struct Case {
    uint64_t v;
    uint32_t r;
  } const cases[] = {
      {0, 0},
      {1, 1},
      {2, 1},
      {3, 1},
      {4, 2},
      {99, 9},
      {100, 10},
      {0xFFFFFFFFull * 0xFFFFFFFFull, 0xFFFFFFFFu},
      {0xFFFFFFFFull * 0xFFFFFFFFull - 1, 0xFFFFFFFEu},
      {~0ull, 0xFFFFFFFFu},
  };
  for (const auto& c : cases) EXPECT_EQ(isqrt(c.v), c.r) << c.v;
  std::mt19937_64 rng(11);
  for (int i = 0; i < 20000; ++i) {
    uint64_t v = rng() >> (i % 64);
    unsigned __int128 r = isqrt(v);
    ASSERT_LE(r * r, v);
    ASSERT_GT((r + 1) * (r + 1), v);
  }
}

TEST(FixedPoint, SquareRoot) {
  EXPECT_EQ(fixSqrt(0x40000), 0x20000);
  EXPECT_EQ(fixSqrt(0x10000), 0x10000);
  EXPECT_EQ(fixSqrt(0x20000), 92681);
  EXPECT_EQ(fixSqrt(0x4000), 0x8000);
  EXPECT_EQ(fixSqrt(0), 0);
  EXPECT_EQ(fixSqrt(-0x10000), 0);
  EXPECT_EQ(fixSqrt(kMax), 11863283);
}

TEST(TruncToInt, TowardZeroWithDefinedLimits) {
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double v;
    int32_t expected;
  } const cases[] = {
      {2.9, 2},
      {-2.9, -2},
      {-0.5, 0},
      {0.0, 0},
      {std::nan(""), 0},
      {inf, kMax},
      {-inf, kMin},
      {3e9, kMax},
      {-3e9, kMin},
      {2147483647.0, kMax},
      {2147483646.9, 2147483646},
      {-2147483648.0, kMin},
      {-2147483648.9, kMin},
      {-2147483647.9, -2147483647},
  };
  for (const auto& c : cases) EXPECT_EQ(truncToInt(c.v), c.expected) << c.v;
}

TEST(RandomState, FirstDrawsOfSeedOne) {
  RandomState r(1, 0, 256);
  EXPECT_EQ(r.seed, 1);
  EXPECT_EQ(r.count, 0);
  EXPECT_EQ(r.state, 1u);
  // state := state × 134775813 + 1; with a span of 256 the draw is the state's top byte.
  const int32_t expected[] = {8, 220, 51, 69, 171, 81};
  uint32_t state = 1;
  for (int32_t e : expected) {
    state = state * 134775813u + 1u;
    ASSERT_EQ(int32_t(state >> 24), e);
    EXPECT_EQ(r.draw(), e);
  }
  EXPECT_EQ(r.count, 6);
  EXPECT_EQ(r.state, state);
}

// Skipping n draws leaves the generator where drawing n times would.
TEST(RandomState, SkipMatchesDrawing) {
  for (uint64_t n : {0ull, 1ull, 2ull, 3ull, 31ull, 32ull, 1000ull, 65537ull, 4294967297ull}) {
    RandomState drawn(-99, 0, 255), skipped = drawn;
    const uint64_t draws = n > 100000 ? n % 100000 : n;
    for (uint64_t i = 0; i < draws; ++i) drawn.draw();
    skipped.Skip(n);
    if (n == draws) {
      EXPECT_EQ(skipped.state, drawn.state) << n;
      EXPECT_EQ(skipped.count, drawn.count) << n;
    }
    // Skipping in two steps lands where one skip does.
    RandomState halves(-99, 0, 255);
    halves.Skip(n / 2);
    halves.Skip(n - n / 2);
    EXPECT_EQ(halves.state, skipped.state) << n;
    EXPECT_EQ(halves.draw(), skipped.draw()) << n;
  }
}

TEST(RandomState, NegativeLowAndSeed) {
  RandomState r(7, -10, 10);
  for (int32_t e : {-6, 6, -5, 3}) EXPECT_EQ(r.draw(), e);
}

TEST(RandomState, HighIsNeverDrawn) {
  RandomState r(12345, 0, 255);
  int lo = 255, hi = -1;
  for (int i = 0; i < 1000000; ++i) {
    int v = r.draw();
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  EXPECT_EQ(lo, 0);
  EXPECT_EQ(hi, 254);
}

TEST(RandomState, StoredRangesOfAnySizeAreSafe) {
  // Layers carry these values from files, so no range may overflow.
  RandomState full(3, kMin, kMax);
  for (int i = 0; i < 1000; ++i) {
    int32_t v = full.draw();
    ASSERT_LT(v, kMax);
  }
  RandomState empty(3, 5, 5);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(empty.draw(), 5);
  EXPECT_EQ(sizeof(RandomState), 20u);
}

}  // namespace
}  // namespace vl
