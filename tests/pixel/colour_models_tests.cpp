#include "pixel/colour_models.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <ostream>
#include <random>
#include <set>

namespace vl {

// Readable failure messages; found by argument lookup, private to this file.
static void PrintTo(const HSV& c, std::ostream* os) { *os << "(" << c.h << ", " << c.s << ", " << c.v << ")"; }
static void PrintTo(const HLS& c, std::ostream* os) { *os << "(" << c.h << ", " << c.l << ", " << c.s << ")"; }

namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
constexpr int32_t kDeg = 65536;

// Per channel: colour − back, for each of the three bytes.
std::array<int, 3> lost(uint32_t colour, uint32_t back) {
  std::array<int, 3> d{};
  for (int i = 0; i < 3; ++i) d[i] = int((colour >> (8 * i)) & 0xFF) - int((back >> (8 * i)) & 0xFF);
  return d;
}

TEST(ColourModels, SwapRBExchangesBytesZeroAndTwoOnly) {
  EXPECT_EQ(swapRB(0x11223344u), 0x11443322u);
  EXPECT_EQ(swapRB(0x00FF8000u), 0x000080FFu);
  EXPECT_EQ(swapRB(swapRB(0xA1B2C3D4u)), 0xA1B2C3D4u);
}

struct HsvCase {
  uint32_t colour;
  HSV hsv;
};

TEST(ColourModels, RgbToHsvKnownValues) {
  const HsvCase cases[] = {
      {0x00FF8000u, {1973820, 16711680, 16711680}},  // 30.118°
      {0x00808080u, {0, 0, 8388608}},
      {0x0000FF00u, {7864320, 16711680, 16711680}},  // 120°
      {0x000000FFu, {15728640, 16711680, 16711680}},  // 240°
      {0x00FF0000u, {0, 16711680, 16711680}},
      {0x00000000u, {0, 0, 0}},
      {0x00FFFFFFu, {0, 0, 16711680}},
  };
  for (const auto& c : cases) EXPECT_EQ(rgbToHSV(c.colour), c.hsv) << std::hex << c.colour;
}

TEST(ColourModels, HsvToRgbKnownValues) {
  EXPECT_EQ(hsvToRGB({1973820, 16711680, 16711680}), 0x00FF8000u);
  EXPECT_EQ(hsvToRGB({0, 0, 8388608}), 0x00808080u);
  // Truncation costs this colour one step of red.
  EXPECT_EQ(hsvToRGB(rgbToHSV(0x00400242u)), 0x003F0242u);
  // Byte 3 of the destination stays.
  EXPECT_EQ(hsvToRGB({1973820, 16711680, 16711680}, 0xAB123456u), 0xABFF8000u);
}

struct HlsCase {
  uint32_t colour;
  HlsRule rule;
  HLS hls;
  uint32_t back;
};

TEST(ColourModels, HlsRulesGiveTheirOwnNumbers) {
  const HlsCase cases[] = {
      {0x00FF8000u, HlsRule::Multiply, {1973820, 8355840, 16711680}, 0x00FF8000u},
      {0x00FF8000u, HlsRule::Division, {1973760, 8355840, 16711680}, 0x00FF7F00u},
      {0x00808080u, HlsRule::Multiply, {0, 8388608, 0}, 0x00808080u},
      {0x00808080u, HlsRule::Division, {0, 8388608, 0}, 0x00808080u},
      {0x00000000u, HlsRule::Division, {0, 0, 0}, 0x00000000u},
  };
  for (const auto& c : cases) {
    const HLS hls = rgbToHLS(c.colour, c.rule);
    EXPECT_EQ(hls, c.hls) << std::hex << c.colour << " rule " << int(c.rule);
    EXPECT_EQ(hlsToRGB(hls, c.rule), c.back) << std::hex << c.colour << " rule " << int(c.rule);
  }
}

// Every step truncates, so a round trip may lose but never gain: through HSV
// at most one channel comes back one lower; through HLS any channel may.
TEST(ColourModels, RoundTripsLoseAtMostOneStepPerChannel) {
  std::mt19937 gen(20240611u);
  std::uniform_int_distribution<uint32_t> colourDist(0, 0xFFFFFF);
  for (int n = 0; n < 100000; ++n) {
    const uint32_t c = colourDist(gen);
    const HSV hsv = rgbToHSV(c);
    ASSERT_GE(hsv.h, 0);
    ASSERT_LT(hsv.h, 360 * kDeg);
    const auto d = lost(c, hsvToRGB(hsv));
    ASSERT_LE((d[0] != 0) + (d[1] != 0) + (d[2] != 0), 1) << std::hex << c;
    for (int i : d) ASSERT_TRUE(i == 0 || i == 1) << std::hex << c;
    for (HlsRule rule : {HlsRule::Multiply, HlsRule::Division}) {
      const HLS hls = rgbToHLS(c, rule);
      ASSERT_GE(hls.h, 0);
      ASSERT_LT(hls.h, 360 * kDeg);
      for (int i : lost(c, hlsToRGB(hls, rule))) ASSERT_TRUE(i == 0 || i == 1) << std::hex << c;
    }
  }
}

TEST(ColourModels, GreysHaveNoHueNorSaturation) {
  for (uint32_t v = 0; v < 256; ++v) {
    const uint32_t c = v * 0x010101u;
    EXPECT_EQ(rgbToHSV(c), (HSV{0, 0, int32_t(v) * 65536}));
    EXPECT_EQ(hsvToRGB(rgbToHSV(c)), c);
    for (HlsRule rule : {HlsRule::Multiply, HlsRule::Division}) {
      EXPECT_EQ(rgbToHLS(c, rule), (HLS{0, int32_t(v) * 65536, 0}));
      EXPECT_EQ(hlsToRGB(rgbToHLS(c, rule), rule), c);
    }
  }
}

// Hues come from user edits and palette files: any number of turns either
// way must name the same colour, never a sector outside 0 … 5.
TEST(ColourModels, HueIsTakenModuloOneTurn) {
  const int32_t turn = 360 * kDeg;
  const int32_t S = 200 * 65536, V = 180 * 65536, L = 100 * 65536;
  for (int32_t h : {0, 1973820, 90 * kDeg, 359 * kDeg}) {
    const uint32_t hsv = hsvToRGB({h, S, V});
    const uint32_t hlsM = hlsToRGB({h, L, S}, HlsRule::Multiply);
    const uint32_t hlsD = hlsToRGB({h, L, S}, HlsRule::Division);
    for (int k : {-5, -2, -1, 1, 2, 5}) {
      EXPECT_EQ(hsvToRGB({h + k * turn, S, V}), hsv) << h << " " << k;
      EXPECT_EQ(hlsToRGB({h + k * turn, L, S}, HlsRule::Multiply), hlsM) << h << " " << k;
      EXPECT_EQ(hlsToRGB({h + k * turn, L, S}, HlsRule::Division), hlsD) << h << " " << k;
    }
  }
  const uint32_t red = hsvToRGB({0, S, V});
  EXPECT_EQ(hsvToRGB({-360 * kDeg, S, V}), red);
  EXPECT_EQ(hsvToRGB({-720 * kDeg, S, V}), red);
  // The extremes of the type land inside one turn too.
  for (int32_t h : {kMin, kMax}) {
    const int32_t r = ((h % turn) + turn) % turn;
    EXPECT_EQ(hsvToRGB({h, S, V}), hsvToRGB({r, S, V})) << h;
    EXPECT_EQ(hlsToRGB({h, L, S}, HlsRule::Multiply), hlsToRGB({r, L, S}, HlsRule::Multiply)) << h;
    EXPECT_EQ(hlsToRGB({h, L, S}, HlsRule::Division), hlsToRGB({r, L, S}, HlsRule::Division)) << h;
  }
}

// Out-of-range components act as their nearest limit and never reach a
// neighbouring channel or byte 3.
TEST(ColourModels, OutOfRangeComponentsAreClamped) {
  const int32_t full = 255 * 65536;
  const int32_t hues[] = {0, 45 * kDeg, 200 * kDeg, 300 * kDeg};
  const int32_t wild[][2] = {{kMax, full}, {full + 1, full}, {kMin, 0}, {-1, 0}};
  for (int32_t h : hues)
    for (const auto& w : wild)
      for (int32_t other : {0, 128 * 65536, full}) {
        EXPECT_EQ(hsvToRGB({h, w[0], other}), hsvToRGB({h, w[1], other}));
        EXPECT_EQ(hsvToRGB({h, other, w[0]}), hsvToRGB({h, other, w[1]}));
        EXPECT_EQ(hsvToRGB({h, w[0], w[0]}, 0xFF000000u) & 0xFF000000u, 0xFF000000u);
        for (HlsRule rule : {HlsRule::Multiply, HlsRule::Division}) {
          EXPECT_EQ(hlsToRGB({h, w[0], other}, rule), hlsToRGB({h, w[1], other}, rule));
          EXPECT_EQ(hlsToRGB({h, other, w[0]}, rule), hlsToRGB({h, other, w[1]}, rule));
          EXPECT_EQ(hlsToRGB({h, w[0], w[0]}, rule) & 0xFF000000u, 0u);
        }
        EXPECT_EQ(cmykToRGB({w[0], other, 0, 0}), cmykToRGB({w[1], other, 0, 0}));
        EXPECT_EQ(cmykToRGB({0, 0, other, w[0]}), cmykToRGB({0, 0, other, w[1]}));
      }
  EXPECT_EQ(hsvToRGB({0, 0, kMax}), 0x00FFFFFFu);
  EXPECT_EQ(hsvToRGB({0, 0, -5}), 0u);
  EXPECT_EQ(cmykToRGB({kMin, kMin, kMin, kMin}), 0x00FFFFFFu);
}

TEST(ColourModels, CmykToRgb) {
  struct Case {
    CMYK cmyk;
    uint32_t colour;
  };
  const Case cases[] = {
      {{0, 0, 0, 0}, 0x00FFFFFFu},
      {{0, 0, 0, 128 * 65536}, 0x007F7F7Fu},
      {{0, 0, 0, 255 * 65536}, 0x00000000u},
      {{255 * 65536, 0, 0, 0}, 0x0000FFFFu},
      {{0, 255 * 65536, 255 * 65536, 0}, 0x00FF0000u},
  };
  for (const auto& c : cases) EXPECT_EQ(cmykToRGB(c.cmyk), c.colour);
}

TEST(ColourModels, RowsWidenAndNarrowInOrder) {
  const uint8_t three[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  uint8_t four[12];
  for (auto& b : four) b = 0xEE;
  widenRow(three, four, 3);
  const uint8_t wide[] = {1, 2, 3, 0xEE, 4, 5, 6, 0xEE, 7, 8, 9, 0xEE};
  for (int i = 0; i < 12; ++i) EXPECT_EQ(four[i], wide[i]) << i;
  uint8_t back[10];
  back[9] = 0x77;
  narrowRow(four, back, 3);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(back[i], three[i]) << i;
  EXPECT_EQ(back[9], 0x77);  // nothing written past n pixels
}

TEST(ColourModels, DefaultPalette) {
  constexpr auto p = defaultPalette();
  EXPECT_EQ(p[0], 0x00000000u);
  EXPECT_EQ(p[1], 0x00240000u);  // red varies fastest
  EXPECT_EQ(p[7], 0x00FF0000u);
  EXPECT_EQ(p[8], 0x00002400u);
  EXPECT_EQ(p[64], 0x00000055u);
  EXPECT_EQ(p[255], 0x00FFFFFFu);
  EXPECT_EQ(std::set<uint32_t>(p.begin(), p.end()).size(), 256u);
}

}  // namespace
}  // namespace vl
