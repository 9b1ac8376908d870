#include "document/blend_modes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace vl {
namespace {

// ---- test helpers ----

// Small deterministic generator, independent of the library's.
struct Rng {
  uint32_t s;
  explicit Rng(uint32_t seed) : s(seed ? seed : 1) {}
  uint32_t next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  }
  int range(int lo, int hi) { return lo + int(next() % uint32_t(hi - lo)); }  // lo … hi − 1
};

// Bytes that sit on the formulas' boundaries come up often.
int edgeByte(Rng& r) {
  static constexpr int kEdges[] = {0, 1, 2, 63, 64, 126, 127, 128, 129, 191, 192, 253, 254, 255};
  return r.range(0, 100) < 30 ? kEdges[r.range(0, 14)] : r.range(0, 256);
}

uint32_t randomPixel(Rng& r) {
  const uint32_t a = uint32_t(edgeByte(r));
  if (r.range(0, 100) < 5) {  // greys
    const uint32_t v = uint32_t(edgeByte(r));
    return makePixel(a, v, v, v);
  }
  return makePixel(a, uint32_t(edgeByte(r)), uint32_t(edgeByte(r)), uint32_t(edgeByte(r)));
}

struct Crc32 {
  uint32_t c = 0xFFFFFFFFu;
  void add(const std::vector<uint32_t>& words) {
    for (uint32_t w : words)
      for (int k = 0; k < 4; ++k) {
        c ^= (w >> (8 * k)) & 0xFF;
        for (int b = 0; b < 8; ++b) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
      }
  }
  uint32_t value() const { return ~c; }
};

// ---- a second, plain implementation of the blend arithmetic ----
// Written from the formulas without the library's tables or kernels; the
// tests hold the library to it pixel for pixel.
namespace model {

constexpr uint32_t kRGB = 0x00FFFFFFu, kA = 0xFF000000u;

struct ModeRow {
  uint32_t neutral, mergeColour;
  uint8_t flags;
};
constexpr ModeRow kRows[kBlendModeCount] = {
    {0xFFFFFF, 0xFFFFFF, 0x20}, {0x000000, 0x000000, 0x20}, {0x000000, 0xFFFFFF, 0x21}, {0xFFFFFF, 0x000000, 0x00},
    {0x000000, 0x000000, 0x22}, {0x7F7F7F, 0x7F7F7F, 0x26}, {0x7F7F7F, 0x7F7F7F, 0x26}, {0x7F7F7F, 0x7F7F7F, 0x26},
    {0x000000, 0x000000, 0x22}, {0x000000, 0x000000, 0x22}, {0xFFFFFF, 0xFFFFFF, 0x22}, {0x000000, 0x000000, 0x22},
    {0xFFFFFF, 0xFFFFFF, 0x22}, {0x000000, 0x000000, 0x22}, {0x000000, 0xFFFFFF, 0x1A}, {0x000000, 0xFFFFFF, 0x1A},
    {0x000000, 0xFFFFFF, 0x1A}, {0x000000, 0xFFFFFF, 0x1A}, {0xFFFFFF, 0xFFFFFF, 0x20}, {0x7F7F7F, 0x7F7F7F, 0x26},
    {0xFFFFFF, 0xFFFFFF, 0x02}, {0x7F7F7F, 0x7F7F7F, 0x26},
};

int mul8(int a, int b) { return (a * b * 32897) >> 23; }
int tableMul(int i, int j) { return i * j / 255; }
int screenInv(int i, int j) { return 255 - i * (255 - j) / 255; }
int lerp8(int src, int dst, int t) { return (src * t * 32897 + dst * (8388735 - t * 32897)) >> 23; }

// Channel k of a pixel: 0 red, 1 green, 2 blue.
int chan(uint32_t p, int k) { return int(p >> (16 - 8 * k)) & 0xFF; }
uint32_t pack(uint32_t alphaFrom, const int64_t c[3]) {
  uint32_t v = alphaFrom & kA;
  for (int k = 0; k < 3; ++k) v |= uint32_t(std::clamp<int64_t>(c[k], 0, 255)) << (16 - 8 * k);
  return v;
}

uint32_t blendRGB(uint32_t p, uint32_t c, int t) {
  if (t == 0) return p;
  if (t == 255) return (p & kA) | (c & kRGB);
  int64_t out[3];
  for (int k = 0; k < 3; ++k) out[k] = lerp8(chan(c, k), chan(p, k), t);
  return pack(p, out);
}

// Y with a floor shift, also for the negative differences SetSatLum feeds it.
int Y(int64_t r, int64_t g, int64_t b) { return int((r * 19595 + g * 38469 + b * 7472) >> 16); }
int Y(uint32_t p) { return Y(chan(p, 0), chan(p, 1), chan(p, 2)); }
int range(uint32_t p) {
  const int r = chan(p, 0), g = chan(p, 1), b = chan(p, 2);
  return std::max({r, g, b}) - std::min({r, g, b});
}

int64_t floorSqrt(int64_t v) {
  int64_t r = int64_t(std::sqrt(double(v)));
  while (r * r > v) --r;
  while ((r + 1) * (r + 1) <= v) ++r;
  return r;
}

// Soft light's curve in 16.16.
int D(int x) {
  const int64_t v = int64_t(x) * 65536 / 255;
  int64_t d;
  if (v <= 0x4000) {
    int64_t a = ((16 * v - 12 * 65536) * v) >> 16;
    a += 4 * 65536;
    d = (a * v) >> 16;
  } else {
    d = floorSqrt(v * 65536);
  }
  return int((d * 255) >> 16);
}

uint32_t setSatLum(uint32_t c, int S, int L) {
  int64_t k[3] = {chan(c, 0), chan(c, 1), chan(c, 2)};
  const int64_t mn = std::min({k[0], k[1], k[2]}), mx = std::max({k[0], k[1], k[2]});
  if (S == 0 || mx == mn) {
    const int64_t grey[3] = {L, L, L};
    return pack(c, grey);
  }
  for (auto& v : k) v = S * (v - mn) / (mx - mn);
  const int m = Y(k[0], k[1], k[2]);
  const int delta = L - m;
  if (delta + mx >= 256) {
    const int r = std::max(1, Y(mx - k[0], mx - k[1], mx - k[2]));
    for (auto& v : k) v = 255 - (255 - L) * (mx - v) / r;
  } else if (delta < 0) {
    for (auto& v : k) v = L * v / m;
  } else {
    for (auto& v : k) v += delta;
  }
  return pack(c, k);
}

// B(d, s) of one channel.
int channelB(int mode, int d, int s) {
  switch (mode) {
    case 4: return d + s - mul8(d, s);
    case 5: return d >= 128 ? (65025 - 2 * (255 - d) * (255 - s)) / 255 : 2 * d * s / 255;
    case 6: return s >= 128 ? (65025 - 2 * (255 - d) * (255 - s)) / 255 : 2 * d * s / 255;
    case 7:
      return s >= 128 ? (255 * d + (D(d) - d) * (2 * s - 255)) / 255 : (255 * d - (255 - 2 * s) * mul8(d, 255 - d)) / 255;
    case 8: return std::abs(d - s);
    case 9: return d + s - 2 * mul8(d, s);
    case 10: return std::min(d, s);
    case 11: return std::max(d, s);
    case 12:
      if (s == 0) return d == 255 ? 255 : 0;
      return 255 - std::min(255, (255 - d) * 255 / s);
    case 13:
      if (s >= 255) return d > 0 ? 255 : 0;
      return std::min(255, d * 255 / (255 - s));
    case 19: return std::clamp(d + 2 * s - 256, 0, 255);
    case 20:
      if (s > 254) return 255;
      if (s > 127) return std::min(255, (d * 255 / (255 - s)) >> 1);
      if (s == 0) return 0;
      return 255 - std::min(255, ((255 - d) * 255 / s) >> 1);
    case 21: return std::min(std::max(d, 2 * s - 255), 2 * s);
  }
  ADD_FAILURE() << "no channel formula for mode " << mode;
  return 0;
}

uint32_t opaque(int mode, uint32_t d, uint32_t s, int t) {
  int64_t out[3];
  switch (mode) {
    case 0:
      for (int k = 0; k < 3; ++k) out[k] = tableMul(chan(d, k), screenInv(t, chan(s, k)));
      return pack(d, out);
    case 1:
      for (int k = 0; k < 3; ++k) out[k] = std::min(255, chan(d, k) + tableMul(t, chan(s, k)));
      return pack(d, out);
    case 2:
      for (int k = 0; k < 3; ++k) out[k] = std::max(0, chan(d, k) - tableMul(t, chan(s, k)));
      return pack(d, out);
    case 3: return blendRGB(d, s, t);
    case 18:
      for (int k = 0; k < 3; ++k) out[k] = std::max(0, chan(d, k) - ((t * 32897 * (255 - chan(s, k))) >> 23));
      return pack(d, out);
    case 14: return blendRGB(d, setSatLum(s, range(d), Y(d)), t);
    case 15: return blendRGB(d, setSatLum(d, range(s), Y(d)), t);
    case 16: return blendRGB(d, setSatLum(s, range(s), Y(d)), t);
    case 17: return blendRGB(d, setSatLum(d, range(d), Y(s)), t);
  }
  for (int k = 0; k < 3; ++k) {
    out[k] = channelB(mode, chan(d, k), chan(s, k));
    EXPECT_TRUE(out[k] >= 0 && out[k] <= 255) << "mode " << mode << " leaves the byte range";
  }
  return blendRGB(d, pack(0, out), t);
}

uint32_t sourceAlpha(int mode, uint32_t d, uint32_t s, int opacity) {
  return opaque(mode, d, s, opacity * int(s >> 24) / 255);
}

int effectiveSourceAlpha(int mode, int sa, int opacity) {
  return mode >= 1 && mode <= 3 ? tableMul(sa, opacity) : mul8(sa, opacity);
}

// Start colour, the lower function with the destination at a_d, the upper with
// the source at a_s, then divided by the result alpha.
uint32_t recordMerge(uint32_t start, int lower, int upper, uint32_t d, uint32_t s, int ad, int as, int a) {
  start = opaque(lower, start & kRGB, d, ad);
  start = opaque(upper, start, s, as);
  int64_t out[3];
  for (int k = 0; k < 3; ++k) out[k] = int64_t(chan(start, k)) * 255 / a;
  return pack(uint32_t(a) << 24, out);
}

uint32_t merge(int mode, uint32_t d, uint32_t s, int opacity) {
  const int ad = int(d >> 24), as = effectiveSourceAlpha(mode, int(s >> 24), opacity);
  const int p = mul8(ad, as);
  int a = ad + as - p;
  if (a == 0) return d;
  int64_t out[3];
  for (int k = 0; k < 3; ++k) {
    const int64_t dk = chan(d, k), sk = chan(s, k);
    switch (mode) {
      case 0: out[k] = (dk * ad + as * sk - p * (sk + dk - mul8(int(dk), int(sk)))) / a; break;
      case 1:
      case 2:
        if (ad > 0 && as > 0) a = 255;
        out[k] = (dk * ad + sk * as) / a;
        break;
      case 3:
        if (as == 0) return d;
        if (as == 255) return kA | (s & kRGB);
        if (ad == 255) return blendRGB(d, s, as);
        a = ad + tableMul(as, 255 - ad);
        return (uint32_t(a) << 24) | (blendRGB(d, s, as * 255 / a) & kRGB);
      case 4: out[k] = (dk * ad + as * sk - p * mul8(int(dk), int(sk))) / a; break;
      case 8: out[k] = (as * std::abs(255 * sk - ad * dk) + ad * dk * (255 - as)) / (255 * a); break;
      case 10: {
        const int64_t g = dk * ad + 255 * (255 - ad);
        out[k] = (as * std::min(g, 255 * sk) + (255 - as) * g) / (255 * a);
        break;
      }
      case 11: {
        const int64_t g = dk * ad;
        out[k] = (as * std::max(g, 255 * sk) + (255 - as) * g) / (255 * a);
        break;
      }
      default: return recordMerge(kRows[mode].neutral, kModeNormal, mode, d, s, ad, as, a);
    }
  }
  return pack(uint32_t(a) << 24, out);
}

uint32_t cross(int kind, int L, int U, uint32_t d, uint32_t s, int opacity) {
  struct Pair {
    int lower, upper, mergeMode;
  };
  const Pair pairs[4] = {{0, 0, 0}, {2, 2, 2}, {3, 0, 0}, {0, 3, 3}};
  for (int i = 0; i < (kind == 1 ? 2 : 4); ++i)
    if (pairs[i].lower == L && pairs[i].upper == U) return merge(pairs[i].mergeMode, d, s, opacity);
  const ModeRow &lr = kRows[L], &ur = kRows[U];
  const uint32_t mc = ur.mergeColour == lr.mergeColour ? ur.mergeColour : std::max(ur.mergeColour, lr.mergeColour);
  const uint32_t start = (ur.flags & 0x08) ? (s & kRGB) : mc;
  const int ad = int(d >> 24), as = effectiveSourceAlpha(U, int(s >> 24), opacity);
  const int a = ad + as - mul8(ad, as);
  if (a == 0) return d;
  return recordMerge(start, L, U, d, s, ad, as, a);
}

}  // namespace model

constexpr int kEveryMode[kBlendModeCount] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21};
// Modes whose result for a channel depends on that channel alone.
constexpr int kPerChannelModes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 18, 19, 20, 21};

// ---- the table ----

TEST(BlendModeTable, RowsFollowTheModeList) {
  for (int m : kEveryMode) {
    SCOPED_TRACE(m);
    const SLayerParam* lp = LayerParam(m);
    ASSERT_NE(lp, nullptr);
    EXPECT_EQ(lp->mode, m);
    EXPECT_EQ(lp->neutralColour, model::kRows[m].neutral);
    EXPECT_EQ(lp->mergeColour, model::kRows[m].mergeColour);
    EXPECT_EQ(lp->flags, model::kRows[m].flags);
    EXPECT_EQ(NeutralColour(m), model::kRows[m].neutral);
    EXPECT_TRUE(lp->sourceAlpha && lp->opaque && lp->composeRow && lp->composeFill && lp->merge);
    // Bit 7 of the stored mode byte is not part of the mode.
    EXPECT_EQ(LayerParam(m | 0x80), lp);
    EXPECT_EQ(MergeFunction(m | 0x80), lp->merge);
  }
  EXPECT_EQ(LayerParam(22), nullptr);
  EXPECT_EQ(LayerParam(0x7F), nullptr);
  EXPECT_EQ(MergeFunction(40), nullptr);
  EXPECT_EQ(NeutralColour(22), 0xFFFFFFu);
}

TEST(BlendModeTable, ListOrder) {
  const int order[] = {3, 0, 1, 2, 18, 4, 5, 6, 7, 19, 20, 21, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
  for (int i = 0; i < kBlendModeCount; ++i) {
    EXPECT_EQ(ModeAtUiPosition(i), order[i]);
    EXPECT_EQ(UiPositionOfMode(order[i]), i);
  }
  EXPECT_EQ(ModeAtUiPosition(-1), kModeNormal);
  EXPECT_EQ(ModeAtUiPosition(22), kModeNormal);
}

// ---- per-pixel formulas ----

// Every (d, s) in the red channel; green and blue carry other values so a
// channel mix-up shows.
TEST(BlendOpaque, PerChannelModesOverEveryPair) {
  for (int m : kPerChannelModes) {
    const PixelFn fn = LayerParam(m)->opaque;
    for (int t : {1, 64, 128, 200, 254, 255}) {
      int bad = 0;
      for (int d = 0; d < 256 && bad < 5; ++d)
        for (int s = 0; s < 256 && bad < 5; ++s) {
          const uint32_t dp = makePixel(uint32_t(d ^ 0x5A), d, 255 - d, (d * 37) & 255);
          const uint32_t sp = makePixel(uint32_t(s), s, (s * 91 + 7) & 255, 255 - s);
          const uint32_t got = fn(dp, sp, t), want = model::opaque(m, dp, sp, t);
          if (got != want) {
            ++bad;
            ADD_FAILURE() << "mode " << m << " t " << t << " d " << d << " s " << s << ": " << std::hex << got
                          << " want " << want;
          }
        }
    }
  }
}

TEST(BlendOpaque, RandomPixelsEveryMode) {
  for (int m : kEveryMode) {
    const SLayerParam* lp = LayerParam(m);
    Rng rng(1000 + m);
    int bad = 0;
    for (int i = 0; i < 200000 && bad < 5; ++i) {
      const uint32_t d = randomPixel(rng), s = randomPixel(rng);
      const int t = edgeByte(rng);
      const uint32_t got = lp->opaque(d, s, t), want = model::opaque(m, d, s, t);
      const uint32_t gotA = lp->sourceAlpha(d, s, t), wantA = model::sourceAlpha(m, d, s, t);
      if (got != want || gotA != wantA) {
        ++bad;
        ADD_FAILURE() << "mode " << m << std::hex << " d " << d << " s " << s << std::dec << " t " << t << std::hex
                      << ": opaque " << got << " want " << want << ", source alpha " << gotA << " want " << wantA;
      }
    }
  }
}

// Hand-worked values; pixels are grey so one number stands for all channels.
TEST(BlendOpaque, BoundaryCases) {
  struct Case {
    int mode, d, s, t, want;
  };
  const Case cases[] = {
      // multiply, add, subtract inks and normal
      {0, 200, 100, 255, 78}, {0, 200, 100, 128, 139}, {1, 200, 100, 255, 255}, {1, 100, 100, 128, 150},
      {2, 100, 100, 128, 50}, {2, 10, 255, 255, 0}, {3, 0, 255, 128, 128},
      // subtract of the inverse
      {18, 100, 200, 255, 45}, {18, 255, 0, 255, 0}, {18, 100, 0, 128, 0}, {18, 200, 0, 128, 72},
      // screen, overlay, hard light
      {4, 255, 255, 255, 255}, {4, 0, 77, 255, 77}, {4, 128, 128, 255, 192},
      {5, 128, 0, 255, 1}, {5, 127, 255, 255, 254}, {5, 255, 0, 255, 255}, {5, 0, 255, 255, 0},
      {6, 0, 128, 255, 1}, {6, 255, 127, 255, 254},
      // soft light either side of s = 128 and of D's x ≤ ¼ (d = 63 | 64)
      {7, 63, 128, 255, 63}, {7, 64, 128, 255, 64}, {7, 63, 255, 255, 126}, {7, 64, 255, 255, 127},
      {7, 63, 127, 255, 62}, {7, 64, 127, 255, 63}, {7, 128, 0, 255, 65},
      // difference, exclusion
      {8, 10, 250, 255, 240}, {9, 255, 255, 255, 0}, {9, 255, 0, 255, 255}, {9, 128, 255, 255, 127},
      // burn: s = 0 keeps only white
      {12, 255, 0, 255, 255}, {12, 254, 0, 255, 0}, {12, 0, 0, 255, 0}, {12, 255, 1, 255, 255}, {12, 254, 1, 255, 0},
      {12, 100, 255, 255, 100}, {12, 128, 128, 255, 2}, {12, 100, 0, 128, 49},
      // dodge: s = 255 keeps only black
      {13, 0, 255, 255, 0}, {13, 1, 255, 255, 255}, {13, 255, 255, 255, 255}, {13, 1, 254, 255, 255},
      {13, 100, 0, 255, 100}, {13, 64, 128, 255, 128},
      // linear light
      {19, 0, 128, 255, 0}, {19, 0, 129, 255, 2}, {19, 255, 0, 255, 0}, {19, 255, 1, 255, 1}, {19, 100, 200, 255, 244},
      {19, 100, 255, 255, 255},
      // vivid light at s = 0, 1, 127, 128, 254, 255
      {20, 0, 255, 255, 255}, {20, 0, 254, 255, 0}, {20, 1, 254, 255, 127}, {20, 2, 254, 255, 255},
      {20, 100, 128, 255, 100}, {20, 255, 128, 255, 255}, {20, 100, 127, 255, 100}, {20, 0, 127, 255, 0},
      {20, 255, 127, 255, 255}, {20, 255, 0, 255, 0}, {20, 254, 1, 255, 128}, {20, 253, 1, 255, 0},
      // pin light
      {21, 200, 0, 255, 0}, {21, 0, 255, 255, 255}, {21, 0, 128, 255, 1}, {21, 255, 127, 255, 254},
      {21, 100, 100, 255, 100},
  };
  for (const Case& c : cases) {
    const uint32_t d = makePixel(0x80, c.d, c.d, c.d), s = makePixel(0xFF, c.s, c.s, c.s);
    const uint32_t want = makePixel(0x80, c.want, c.want, c.want);
    EXPECT_EQ(LayerParam(c.mode)->opaque(d, s, c.t), want) << "mode " << c.mode << " d " << c.d << " s " << c.s;
    EXPECT_EQ(model::opaque(c.mode, d, s, c.t), want) << "model, mode " << c.mode << " d " << c.d << " s " << c.s;
  }
}

TEST(BlendOpaque, SoftLightCurve) {
  for (int x = 0; x < 256; ++x) EXPECT_EQ(softLightD(x), model::D(x)) << x;
  // The cubic up to x = 63, the square root from 64 on; both meet √x at ¼.
  const int want[][2] = {{0, 0}, {1, 3}, {32, 87}, {62, 125}, {63, 126}, {64, 127}, {65, 128}, {128, 180}, {255, 255}};
  for (const auto& w : want) EXPECT_EQ(softLightD(w[0]), w[1]) << w[0];
  for (int x = 0; x < 256; ++x) EXPECT_GE(softLightD(x), x) << x;
}

TEST(BlendOpaque, SetSatLum) {
  // Greys and zero saturation give grey L with the colour's alpha.
  for (int v : {0, 90, 255})
    for (int L : {0, 30, 255}) {
      EXPECT_EQ(SetSatLum(makePixel(0x12, v, v, v), 200, L), makePixel(0x12, L, L, L));
      EXPECT_EQ(SetSatLum(makePixel(0x34, 255, 0, v), 0, L), makePixel(0x34, L, L, L));
    }
  struct Case {
    uint32_t c;
    int S, L;
    uint32_t want;
  };
  const Case cases[] = {
      {0xFF0000, 255, 76, 0xFF0000},    // Y of pure red is 76: nothing to move
      {0xFF0000, 255, 0, 0x000000},     // darker: scaled toward black
      {0xC86400, 100, 50, 0x542A00},    // (100, 50, 0) has Y 59 > 50: × 50 ÷ 59
      {0xFF0000, 255, 200, 0xFFB1B1},   // too bright to shift: scaled toward white
      {0x00000A, 10, 100, 0x63636D},    // shifted up by Δ = 99
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SetSatLum(c.c | 0x7F000000u, c.S, c.L), c.want | 0x7F000000u) << std::hex << c.c;
    EXPECT_EQ(model::setSatLum(c.c | 0x7F000000u, c.S, c.L), c.want | 0x7F000000u) << std::hex << c.c;
  }
  Rng rng(77);
  for (int i = 0; i < 200000; ++i) {
    const uint32_t c = randomPixel(rng);
    const int S = edgeByte(rng), L = edgeByte(rng);
    ASSERT_EQ(SetSatLum(c, S, L), model::setSatLum(c, S, L)) << std::hex << c << std::dec << " S " << S << " L " << L;
    ASSERT_EQ(colourRange(c), model::range(c));
  }
}

// ---- composition of rows ----

TEST(BlendCompose, RowsAndFillsMatchTheModel) {
  constexpr int32_t n = 257;
  for (int m : kEveryMode) {
    Rng rng(5000 + m);
    for (int round = 0; round < 40; ++round) {
      const int opacity = round < 3 ? (round == 0 ? 255 : round == 1 ? 0 : 1) : edgeByte(rng);
      std::vector<uint32_t> src(n), dst(n), viaTable, viaParams, fill, fillParams;
      for (auto& v : src) v = randomPixel(rng);
      for (auto& v : dst) v = randomPixel(rng);
      viaTable = viaParams = fill = fillParams = dst;
      LayerParam(m)->composeRow(viaTable.data(), src.data(), n, opacity);
      ComposeParams p;
      p.mode = m;
      p.opacity = opacity;
      composeRow(p, viaParams.data(), src.data(), n);
      LayerParam(m)->composeFill(fill.data(), src[0], n, opacity);
      composeFill(p, fillParams.data(), src[0], n);
      for (int32_t i = 0; i < n; ++i) {
        const uint32_t want = model::sourceAlpha(m, dst[i], src[i], opacity);
        const uint32_t wantFill = model::sourceAlpha(m, dst[i], src[0], opacity);
        ASSERT_EQ(viaTable[i], want) << "mode " << m << " opacity " << opacity << " pixel " << i;
        ASSERT_EQ(viaParams[i], want) << "mode " << m << " opacity " << opacity << " pixel " << i;
        ASSERT_EQ(fill[i], wantFill) << "mode " << m << " opacity " << opacity << " pixel " << i;
        ASSERT_EQ(fillParams[i], wantFill) << "mode " << m << " opacity " << opacity << " pixel " << i;
      }
    }
  }
}

TEST(BlendCompose, TransparentSourceOrZeroOpacityChangesNothing) {
  Rng rng(9);
  std::vector<uint32_t> dst(300), src(300), clear(300);
  for (auto& v : dst) v = randomPixel(rng);
  for (auto& v : src) v = randomPixel(rng);
  for (size_t i = 0; i < clear.size(); ++i) clear[i] = src[i] & 0x00FFFFFFu;
  for (int m : kEveryMode) {
    const SLayerParam* lp = LayerParam(m);
    for (size_t i = 0; i < dst.size(); ++i) {
      ASSERT_EQ(lp->sourceAlpha(dst[i], clear[i], 255), dst[i]) << m;
      ASSERT_EQ(lp->sourceAlpha(dst[i], src[i], 0), dst[i]) << m;
      ASSERT_EQ(lp->opaque(dst[i], src[i], 0), dst[i]) << m;
    }
    for (int dissolve = 0; dissolve < 2; ++dissolve) {
      RandomState r(4, 0, 255);
      ComposeParams p;
      p.mode = m;
      p.dissolve = dissolve != 0;
      p.random = &r;
      std::vector<uint32_t> a = dst, b = dst, c = dst;
      p.opacity = 255;
      composeRow(p, a.data(), clear.data(), int32_t(a.size()));
      composeFill(p, b.data(), clear[7], int32_t(b.size()));
      p.opacity = 0;
      composeRow(p, c.data(), src.data(), int32_t(c.size()));
      composeFill(p, c.data(), src[7] | 0xFF000000u, int32_t(c.size()));
      EXPECT_EQ(a, dst) << m;
      EXPECT_EQ(b, dst) << m;
      EXPECT_EQ(c, dst) << m;
    }
  }
}

TEST(BlendCompose, UnknownModeDrawsNothing) {
  std::vector<uint32_t> row(40, 0xFF808080u), src(40, 0xFF102030u);
  ComposeParams p;
  p.mode = 40;
  composeRow(p, row.data(), src.data(), 40);
  composeFill(p, row.data(), 0xFF102030u, 40);
  EXPECT_EQ(row, std::vector<uint32_t>(40, 0xFF808080u));
  CBlockVMTC layer(40, 40);
  layer.SetAll(0xFF102030u);
  TMTC comp(40, 40);
  comp.Fill(0xFF808080u);
  composeImage(comp, {0, 0}, layer, Area(0, 0, 40, 40), p);
  EXPECT_EQ(comp.At(20, 20), 0xFF808080u);
}

// A layer filled with its mode's neutral colour leaves the picture (nearly) as it is.
TEST(BlendCompose, NeutralColours) {
  struct Case {
    int mode, maxChange;
  };
  // Linear light's mid grey gives d + 254 − 256: two below.
  const Case cases[] = {{0, 0}, {1, 0}, {2, 0}, {4, 0},  {8, 0},  {9, 0},  {10, 0}, {11, 0},
                        {12, 0}, {13, 0}, {18, 0}, {5, 1}, {6, 1}, {7, 1}, {21, 1}, {19, 2}};
  for (const Case& c : cases) {
    const uint32_t colour = NeutralColour(c.mode) | 0xFF000000u;
    for (int opacity : {255, 200, 77}) {
      std::vector<uint32_t> row(256);
      for (int d = 0; d < 256; ++d) row[d] = makePixel(0x33, d, 255 - d, (d * 5) & 255);
      const std::vector<uint32_t> before = row;
      ComposeParams p;
      p.mode = c.mode;
      p.opacity = opacity;
      composeFill(p, row.data(), colour, 256);
      for (int d = 0; d < 256; ++d) {
        EXPECT_EQ(alpha(row[d]), 0x33u);
        for (int k = 0; k < 3; ++k)
          EXPECT_LE(std::abs(model::chan(row[d], k) - model::chan(before[d], k)), c.maxChange)
              << "mode " << c.mode << " d " << d << " opacity " << opacity;
      }
    }
  }
}

// ---- dissolve ----

// Copies the state, as every composition does with the layer's.
struct DissolveRun {
  RandomState state;
  ComposeParams p;
  DissolveRun(int32_t seed, int mode, int amount, int opacity) : state(seed, 0, 255) {
    p.mode = mode;
    p.opacity = opacity;
    p.dissolve = true;
    p.dissolveAmount = amount;
    p.random = &state;
  }
};

TEST(BlendDissolve, EachPixelDrawsOnceAgainstAmountTimesAlpha) {
  constexpr int32_t n = 2000;
  Rng rng(31);
  std::vector<uint32_t> src(n), dst(n);
  for (auto& v : src) v = randomPixel(rng);
  for (auto& v : dst) v = randomPixel(rng);
  // Any mode: a drawn pixel is composed with the standard source-alpha function.
  for (int mode : {3, 0, 12}) {
    DissolveRun run(0x1234567, mode, 200, 230);
    RandomState expectDraws = run.state;
    std::vector<uint32_t> row = dst, filled = dst;
    composeRow(run.p, row.data(), src.data(), n);
    EXPECT_EQ(run.state.count, n);
    int drawn = 0;
    for (int32_t i = 0; i < n; ++i) {
      const bool on = expectDraws.draw() < model::mul8(200, int(alpha(src[i])));
      drawn += on;
      ASSERT_EQ(row[i], on ? model::sourceAlpha(3, dst[i], src[i], 230) : dst[i]) << "mode " << mode << " " << i;
    }
    EXPECT_GT(drawn, n / 4);
    EXPECT_LT(drawn, n * 3 / 4);

    const uint32_t colour = 0xB4336699u;
    composeFill(run.p, filled.data(), colour, n);
    for (int32_t i = 0; i < n; ++i) {
      const bool on = expectDraws.draw() < model::mul8(200, 0xB4);
      ASSERT_EQ(filled[i], on ? model::sourceAlpha(3, dst[i], colour, 230) : dst[i]) << "mode " << mode << " " << i;
    }
  }
}

TEST(BlendDissolve, AmountZeroDrawsNothingFullAmountDrawsEveryOpaquePixel) {
  constexpr int32_t n = 4096;
  Rng rng(32);
  std::vector<uint32_t> src(n), dst(n);
  for (auto& v : src) v = randomPixel(rng) | 0xFF000000u;
  for (auto& v : dst) v = randomPixel(rng);
  for (int32_t seed : {1, 99, -5}) {
    DissolveRun none(seed, 3, 0, 255), all(seed, 3, 255, 255);
    std::vector<uint32_t> a = dst, b = dst, c = dst, e = dst;
    composeRow(none.p, a.data(), src.data(), n);
    composeFill(none.p, c.data(), 0xFF102030u, n);
    EXPECT_EQ(a, dst);
    EXPECT_EQ(c, dst);
    composeRow(all.p, b.data(), src.data(), n);
    composeFill(all.p, e.data(), 0xFF102030u, n);
    for (int32_t i = 0; i < n; ++i) {
      ASSERT_EQ(b[i], (dst[i] & 0xFF000000u) | (src[i] & 0x00FFFFFFu));
      ASSERT_EQ(e[i], (dst[i] & 0xFF000000u) | 0x102030u);
    }
  }
}

// ---- legacy composition ----

TEST(BlendLegacy, InksIgnoreAlphaOtherModesComposeAsStandard) {
  constexpr int32_t n = 500;
  Rng rng(40);
  std::vector<uint32_t> src(n), dst(n);
  for (auto& v : src) v = randomPixel(rng);
  for (auto& v : dst) v = randomPixel(rng);
  for (int m : kEveryMode) {
    for (int opacity : {255, 180, 0}) {
      ComposeParams p;
      p.mode = m;
      p.opacity = opacity;
      p.legacy = true;
      // The oldest drawings have no dissolve.
      RandomState r(3, 0, 255);
      p.dissolve = true;
      p.dissolveAmount = 0;
      p.random = &r;
      std::vector<uint32_t> row = dst, fill = dst;
      composeRow(p, row.data(), src.data(), n);
      composeFill(p, fill.data(), src[3], n);
      for (int32_t i = 0; i < n; ++i) {
        const uint32_t want = m <= 2 ? model::opaque(m, dst[i], src[i], opacity) : model::sourceAlpha(3, dst[i], src[i], opacity);
        const uint32_t wantFill = m <= 2 ? model::opaque(m, dst[i], src[3], opacity) : model::sourceAlpha(3, dst[i], src[3], opacity);
        ASSERT_EQ(row[i], want) << "mode " << m << " opacity " << opacity << " " << i;
        ASSERT_EQ(fill[i], wantFill) << "mode " << m << " opacity " << opacity << " " << i;
      }
    }
  }
}

// ---- composing a tiled layer ----

enum TileKind { kAllocated, kUniformOpaque, kUniformHalf, kDefaultClear, kClearTinted, kTileKinds };

// 130 × 100: 5 × 4 tiles, the last column and row partial; every kind of tile.
struct MixedImage {
  CBlockVMTC img{130, 100};
  int allocatedTiles = 0;
  explicit MixedImage(uint32_t seed) {
    Rng rng(seed);
    for (int32_t r = 0; r < img.tilesDown; ++r)
      for (int32_t c = 0; c < img.tilesAcross; ++c) {
        const Area tile(c * 32, r * 32, 32, 32);
        switch ((c + 2 * r) % kTileKinds) {
          case kAllocated:
            ++allocatedTiles;
            for (int32_t y = tile.y; y < std::min(tile.bottom(), img.height); ++y)
              for (int32_t x = tile.x; x < std::min(tile.right(), img.width); ++x) img.SetPixel(x, y, randomPixel(rng));
            break;
          case kUniformOpaque: img.SetMasked(tile, 0xFFFFFFFFu, 0xFF000000u | (rng.next() & 0xFFFFFF)); break;
          case kUniformHalf: img.SetMasked(tile, 0xFFFFFFFFu, 0x80000000u | (rng.next() & 0xFFFFFF)); break;
          case kDefaultClear: break;
          case kClearTinted: img.SetMasked(tile, 0xFFFFFFFFu, 0x00402010u); break;
        }
      }
  }
};

// A composite of random pixels; the same seed gives the same picture.
struct RandomComposite : TMTC {
  RandomComposite(int32_t w, int32_t h, uint32_t seed) : TMTC(w, h) {
    Rng rng(seed);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) Row(y)[x] = randomPixel(rng);
  }
};

TEST(BlendComposeImage, MixedTilesAtAnUnalignedOffset) {
  MixedImage layer(50);
  ASSERT_EQ(layer.img.AllocatedTiles(), layer.allocatedTiles);
  // Clipped on every side: the source runs past the image, the point lies off the composite.
  const Point at{-3, 4};
  const Area src(9, 7, 125, 93);
  for (int legacy = 0; legacy < 2; ++legacy)
    for (int m : kEveryMode)
      for (int opacity : {255, 150}) {
        RandomComposite comp(120, 90, 51);
        const RandomComposite before(120, 90, 51);
        ComposeParams p;
        p.mode = m;
        p.opacity = opacity;
        p.legacy = legacy != 0;
        composeImage(comp, at, layer.img, src, p);
        int composed = 0;
        for (int32_t y = 0; y < comp.height; ++y)
          for (int32_t x = 0; x < comp.width; ++x) {
            const int32_t i = x - at.x, j = y - at.y, ix = src.x + i, iy = src.y + j;
            uint32_t want = before.At(x, y);
            if (i >= 0 && j >= 0 && i < src.width && j < src.height && layer.img.Contains(ix, iy)) {
              ++composed;
              const uint32_t s = layer.img.Pixel(ix, iy);
              want = legacy && m <= 2 ? model::opaque(m, want, s, opacity)
                                      : model::sourceAlpha(legacy ? 3 : m, want, s, opacity);
            }
            ASSERT_EQ(comp.At(x, y), want) << "mode " << m << " opacity " << opacity << " legacy " << legacy << " at ("
                                           << x << ", " << y << ")";
          }
        ASSERT_EQ(composed, 118 * 86);
      }
}

TEST(BlendComposeImage, OpaqueStandardLayerHidesTheComposite) {
  CBlockVMTC layer(70, 40);
  layer.SetAll(0xFF123456u);
  layer.SetPixel(33, 5, 0xFFABCDEFu);
  RandomComposite comp(70, 40, 8);
  const RandomComposite before(70, 40, 8);
  ComposeParams p;
  composeImage(comp, {0, 0}, layer, Area(0, 0, 70, 40), p);
  for (int32_t y = 0; y < 40; ++y)
    for (int32_t x = 0; x < 70; ++x)
      ASSERT_EQ(comp.At(x, y), (before.At(x, y) & 0xFF000000u) | (layer.Pixel(x, y) & 0xFFFFFFu));
  // At opacity 0 nothing is drawn.
  RandomComposite other(70, 40, 8);
  p.opacity = 0;
  composeImage(other, {0, 0}, layer, Area(0, 0, 70, 40), p);
  for (int32_t y = 0; y < 40; ++y)
    for (int32_t x = 0; x < 70; ++x) ASSERT_EQ(other.At(x, y), before.At(x, y));
}

TEST(BlendComposeImage, DissolveRepeatsFromTheStoredState) {
  MixedImage layer(60);
  const RandomState stored(0x2468, 0, 255);
  auto compose = [&](RandomState copy) {
    RandomComposite comp(130, 100, 61);
    ComposeParams p;
    p.mode = kModeScreen;
    p.opacity = 220;
    p.dissolve = true;
    p.dissolveAmount = 170;
    p.random = &copy;
    composeImage(comp, {0, 0}, layer.img, Area(0, 0, 130, 100), p);
    std::vector<uint32_t> pixels;
    for (int32_t y = 0; y < comp.height; ++y) pixels.insert(pixels.end(), comp.Row(y), comp.Row(y) + comp.width);
    return pixels;
  };
  const std::vector<uint32_t> first = compose(stored), second = compose(stored),
                              other = compose(RandomState(0x2469, 0, 255));
  const RandomComposite before(130, 100, 61);
  EXPECT_EQ(stored.count, 0);
  EXPECT_EQ(stored.state, 0x2468u);
  int drawn = 0, differ = 0;
  EXPECT_EQ(first, second);
  for (int32_t y = 0; y < 100; ++y)
    for (int32_t x = 0; x < 130; ++x) {
      const uint32_t got = first[size_t(y) * 130 + x];
      differ += got != other[size_t(y) * 130 + x];
      const uint32_t d = before.At(x, y), normal = model::sourceAlpha(3, d, layer.img.Pixel(x, y), 220);
      // Each pixel is either left alone or composed as a standard layer.
      ASSERT_TRUE(got == d || got == normal) << x << ", " << y;
      drawn += got != d;
    }
  EXPECT_GT(drawn, 1000);
  EXPECT_GT(differ, 1000);
}

// Dissolve draws one number per composed pixel in the order of the tile walk:
// tile rows top to bottom, tiles left to right, and inside each tile piece its
// rows top to bottom. Transparent uniform tiles are not composed and draw nothing.
TEST(BlendComposeImage, DissolveDrawsInTileWalkOrder) {
  MixedImage layer(70);
  const Point at{-3, 4};
  const Area src(9, 7, 125, 93);  // cuts tiles on every side
  RandomComposite comp(120, 90, 71);
  const RandomComposite before(120, 90, 71);
  RandomState drawn(0x13579, 0, 255);
  ComposeParams p;
  p.mode = kModeMultiply;  // dissolve composes as a standard layer whatever the mode
  p.opacity = 230;
  p.dissolve = true;
  p.dissolveAmount = 180;
  p.random = &drawn;
  composeImage(comp, at, layer.img, src, p);

  TMTC want(120, 90);
  for (int32_t y = 0; y < 90; ++y)
    for (int32_t x = 0; x < 120; ++x) want.Row(y)[x] = before.At(x, y);
  RandomState model(0x13579, 0, 255);
  const Area inImage(src.x, src.y, layer.img.width - src.x, layer.img.height - src.y);
  for (int32_t ty = 0; ty < layer.img.height; ty += 32)
    for (int32_t tx = 0; tx < layer.img.width; tx += 32) {
      const TileDesc& t = *layer.img.Tile(tx >> 5, ty >> 5);
      if (!t.allocated && alpha(t.uniform) == 0) continue;
      for (int32_t y = std::max(ty, inImage.y); y < std::min(ty + 32, inImage.bottom()); ++y)
        for (int32_t x = std::max(tx, inImage.x); x < std::min(tx + 32, inImage.right()); ++x) {
          const int32_t cx = x - src.x + at.x, cy = y - src.y + at.y;
          if (cx < 0 || cy < 0 || cx >= 120 || cy >= 90) continue;
          const uint32_t s = layer.img.Pixel(x, y);
          if (model.draw() < mul8(180, int(alpha(s)))) want.Row(cy)[cx] = model::sourceAlpha(3, want.Row(cy)[cx], s, 230);
        }
    }
  int composed = 0;
  for (int32_t y = 0; y < 90; ++y)
    for (int32_t x = 0; x < 120; ++x) {
      ASSERT_EQ(comp.At(x, y), want.Row(y)[x]) << x << ", " << y;
      composed += comp.At(x, y) != before.At(x, y);
    }
  EXPECT_GT(composed, 1000);
}

// ---- merges ----

TEST(BlendMerge, EveryModeMatchesTheModel) {
  for (int m : kEveryMode) {
    const PixelFn fn = MergeFunction(m);
    ASSERT_NE(fn, nullptr);
    Rng rng(7000 + m);
    int bad = 0;
    for (int i = 0; i < 200000 && bad < 5; ++i) {
      const uint32_t d = randomPixel(rng), s = randomPixel(rng);
      const int opacity = edgeByte(rng);
      const uint32_t got = fn(d, s, opacity), want = model::merge(m, d, s, opacity);
      if (got != want) {
        ++bad;
        ADD_FAILURE() << "mode " << m << std::hex << " d " << d << " s " << s << std::dec << " opacity " << opacity
                      << std::hex << ": " << got << " want " << want;
      }
    }
  }
}

TEST(BlendMerge, StandardSpecialCases) {
  const PixelFn fn = MergeFunction(kModeNormal);
  const uint32_t d = 0x40102030u;
  EXPECT_EQ(fn(d, 0x00FFFFFFu, 255), d);                  // a_s = 0: unchanged
  EXPECT_EQ(fn(d, 0xFF445566u, 0), d);                    // opacity 0 as well
  EXPECT_EQ(fn(d, 0xFF445566u, 255), 0xFF445566u);        // a_s = 255: the source, opaque
  EXPECT_EQ(fn(0xFF102030u, 0x80FF0000u, 255), blendRGB(0xFF102030u, 0xFF0000u, 128));  // a_d = 255
  // a_s = 128 over a_d = 64: alpha 64 + 128 × 191 ÷ 255 = 159, colour at 128 × 255 ÷ 159 = 205.
  EXPECT_EQ(fn(d, 0x80FF0000u, 255), (159u << 24) | (blendRGB(d, 0xFF0000u, 205) & 0xFFFFFFu));
  // Over a transparent destination the source colour is kept whatever the old RGB.
  EXPECT_EQ(fn(0x00FFFFFFu, 0x80123456u, 255), 0x80123456u);
}

TEST(BlendMerge, AddAndSubtractOverlapsBecomeOpaque) {
  for (int m : {kModeAdd, kModeSubtract}) {
    const PixelFn fn = MergeFunction(m);
    EXPECT_EQ(alpha(fn(0x01102030u, 0x01405060u, 255)), 255u) << m;
    EXPECT_EQ(alpha(fn(0x80102030u, 0x40405060u, 200)), 255u) << m;
    // (d × a_d + s × a_s) ÷ 255: (16 × 128 + 64 × 64) ÷ 255 = 24 for red.
    EXPECT_EQ(fn(0x80102030u, 0x40405060u, 255), 0xFF182430u) << m;
    // Only one side coloured: alpha and colour stay that side's.
    EXPECT_EQ(fn(0x80102030u, 0x00405060u, 255), 0x80102030u) << m;
    EXPECT_EQ(fn(0x00102030u, 0x40405060u, 255), 0x40405060u) << m;
    EXPECT_EQ(fn(0x00102030u, 0x00405060u, 255), 0x00102030u) << m;
  }
}

TEST(BlendMerge, EffectiveSourceAlpha) {
  // Modes 1 … 3 take the table, the others mul8; the two agree on every byte pair,
  // so the cross merge may use either.
  for (int a = 0; a < 256; ++a)
    for (int o = 0; o < 256; ++o) {
      ASSERT_EQ(mul8(a, o), MUL[a][o]);
      ASSERT_EQ(mul8(a, o), a * o / 255);
    }
  for (int m : kEveryMode) EXPECT_EQ(mergeSourceAlpha(m | 0x80, 200, 100), 78) << m;
}

TEST(BlendMerge, MergeFromOverTiles) {
  for (int m : {0, 1, 3, 5, 8, 10, 14, 18}) {
    MixedImage lower(80), upper(81);
    CBlockVMTC merged(lower.img);
    const Point at{13, 9};
    const Area src(0, 0, 50, 40);
    ASSERT_TRUE(merged.MergeFrom(upper.img, MergeFunction(m), 190, 128, src, at));
    for (int32_t y = 0; y < src.height; ++y)
      for (int32_t x = 0; x < src.width; ++x) {
        const uint32_t d = lower.img.Pixel(x + at.x, y + at.y);
        const uint32_t scaled = (d & 0xFFFFFFu) | (uint32_t(MUL[128][alpha(d)]) << 24);
        ASSERT_EQ(merged.Pixel(x + at.x, y + at.y), model::merge(m, scaled, upper.img.Pixel(x, y), 190))
            << "mode " << m << " at (" << x << ", " << y << ")";
      }
  }
  // Two whole uniform tiles merge into a uniform tile.
  CBlockVMTC a(64, 64), b(64, 64);
  a.SetAll(0x80204060u);
  b.SetAll(0x90A0B0C0u);
  ASSERT_TRUE(a.MergeFrom(b, MergeFunction(kModeOverlay), 200, 255, Area(0, 0, 64, 64), {0, 0}));
  EXPECT_EQ(a.AllocatedTiles(), 0);
  EXPECT_EQ(a.Pixel(40, 40), model::merge(kModeOverlay, 0x80204060u, 0x90A0B0C0u, 200));
}

TEST(BlendMerge, LayerBlendForMergeVisible) {
  for (int m : kEveryMode) {
    const LayerBlend b = layerBlend(m, 180);
    EXPECT_EQ(b.pixel, LayerParam(m)->sourceAlpha);
    EXPECT_EQ(b.opacity, 180);
  }
  EXPECT_EQ(layerBlend(kModeHue, 300).opacity, 255);
  EXPECT_EQ(layerBlend(kModeHue, -4).opacity, 0);
  EXPECT_EQ(layerBlend(99, 10).pixel, LayerParam(kModeNormal)->sourceAlpha);
}

// ---- cross-mode merge ----

TEST(BlendCross, KindsAndSpecialPairs) {
  SCrossMerge rec;
  bool invert = true;
  for (int kind : {-1, 0, 3}) EXPECT_FALSE(CrossMergeRecord(kind, 0, 0, rec, invert)) << kind;
  EXPECT_FALSE(CrossMergeRecord(1, 22, 0, rec, invert));
  EXPECT_FALSE(CrossMergeRecord(2, 0, 22, rec, invert));
  // Bit 7 of a stored mode is not part of it.
  ASSERT_TRUE(CrossMergeRecord(1, 0x80, 0x80, rec, invert));
  EXPECT_NE(rec.pairMerge, nullptr);
  struct Case {
    int lower, upper;
    int pairKind1, pairKind2;  // mode of the merge function used, −1 for the generic record
  };
  const Case cases[] = {{0, 0, 0, 0}, {2, 2, 2, 2}, {3, 0, -1, 0}, {0, 3, -1, 3}, {3, 3, -1, -1}, {1, 1, -1, -1},
                        {0, 2, -1, -1}, {5, 5, -1, -1}};
  for (const Case& c : cases)
    for (int kind : {1, 2}) {
      ASSERT_TRUE(CrossMergeRecord(kind, c.lower, c.upper, rec, invert));
      const int want = kind == 1 ? c.pairKind1 : c.pairKind2;
      if (want < 0) {
        EXPECT_EQ(rec.pairMerge, nullptr) << c.lower << ", " << c.upper << " kind " << kind;
      } else {
        EXPECT_NE(rec.pairMerge, nullptr) << c.lower << ", " << c.upper << " kind " << kind;
      }
      EXPECT_NE(rec.merge, nullptr);
    }
}

TEST(BlendCross, EveryPairMatchesTheModel) {
  for (int kind : {1, 2})
    for (int L : kEveryMode)
      for (int U : kEveryMode) {
        SCrossMerge rec;
        bool invert = false;
        ASSERT_TRUE(CrossMergeRecord(kind, L, U, rec, invert));
        // Only the generic record works inverted: the subtract pair accumulates as it is.
        EXPECT_EQ(invert, L == kModeSubtract && rec.pairMerge == nullptr) << L << ", " << U;
        Rng rng(uint32_t(kind * 10000 + L * 100 + U));
        for (int i = 0; i < 3000; ++i) {
          const uint32_t d = randomPixel(rng), s = randomPixel(rng);
          const int opacity = edgeByte(rng);
          ASSERT_EQ(rec.merge(rec, d, s, opacity), model::cross(kind, L, U, d, s, opacity))
              << "kind " << kind << " lower " << L << " upper " << U << std::hex << " d " << d << " s " << s
              << std::dec << " opacity " << opacity;
        }
      }
}

// ---- pinned results ----

// Any change of the arithmetic of any mode shows here.
TEST(BlendGolden, ComposeAndMergeChecksums) {
  constexpr int32_t n = 4096;
  Rng rng(0xC0FFEE);
  std::vector<uint32_t> base(n), layer(n);
  for (auto& v : base) v = randomPixel(rng);
  for (auto& v : layer) v = randomPixel(rng);
  Crc32 compose, composeModel, merge, mergeModel, cross, crossModel;
  for (int m : kEveryMode)
    for (int opacity : {255, 160}) {
      std::vector<uint32_t> row = base;
      ComposeParams p;
      p.mode = m;
      p.opacity = opacity;
      composeRow(p, row.data(), layer.data(), n);
      compose.add(row);
      for (int32_t i = 0; i < n; ++i) row[i] = model::sourceAlpha(m, base[i], layer[i], opacity);
      composeModel.add(row);
      for (int32_t i = 0; i < n; ++i) row[i] = MergeFunction(m)(base[i], layer[i], opacity);
      merge.add(row);
      for (int32_t i = 0; i < n; ++i) row[i] = model::merge(m, base[i], layer[i], opacity);
      mergeModel.add(row);
    }
  for (int L : kEveryMode)
    for (int U : kEveryMode) {
      SCrossMerge rec;
      bool invert = false;
      ASSERT_TRUE(CrossMergeRecord(2, L, U, rec, invert));
      std::vector<uint32_t> row(256), rowModel(256);
      for (int32_t i = 0; i < 256; ++i) {
        row[i] = rec.merge(rec, base[i + L * 100], layer[i + U * 100], 200);
        rowModel[i] = model::cross(2, L, U, base[i + L * 100], layer[i + U * 100], 200);
      }
      cross.add(row);
      crossModel.add(rowModel);
    }
  // Dissolve pattern of one seed.
  std::vector<uint32_t> row = base;
  RandomState r(0x5EED, 0, 255);
  ComposeParams p;
  p.mode = kModeOverlay;
  p.dissolve = true;
  p.dissolveAmount = 140;
  p.random = &r;
  composeRow(p, row.data(), layer.data(), n);
  Crc32 dissolve;
  dissolve.add(row);

  EXPECT_EQ(compose.value(), composeModel.value());
  EXPECT_EQ(merge.value(), mergeModel.value());
  EXPECT_EQ(cross.value(), crossModel.value());
  EXPECT_EQ(compose.value(), 0x6E710D43u);
  EXPECT_EQ(merge.value(), 0x90807807u);
  EXPECT_EQ(cross.value(), 0x6EB28644u);
  EXPECT_EQ(dissolve.value(), 0xC40A7E53u);
}

}  // namespace
}  // namespace vl
