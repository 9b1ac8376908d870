#include "pixel/colour_models.h"

#include "pixel/pixel_math.h"

namespace vl {
namespace {

constexpr int32_t kFix60 = 60 * kFixOne;

// Palette files may hold anything; keep components in 0 … 255 × 65536.
constexpr int32_t clampFix(int32_t x) { return x < 0 ? 0 : x > kFix255 ? kFix255 : x; }

// Rounding in the HLS path may stray a step; never let it reach a neighbour.
constexpr uint32_t clampByte(int64_t x) { return x < 0 ? 0u : x > 255 ? 255u : uint32_t(x); }

constexpr uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) {
  return ((r & 0xFFu) << 16) | ((g & 0xFFu) << 8) | (b & 0xFFu);
}

int32_t byteToFraction(uint32_t v, HlsRule rule) {
  return rule == HlsRule::Multiply ? int32_t((v * 32897u) >> 7) : int32_t(v * 65536u / 255u);
}

int32_t valueToFraction(int32_t x, HlsRule rule) {
  return rule == HlsRule::Multiply ? int32_t((uint64_t(x) * 32897u) >> 23) : x / 255;
}

// One channel of the HLS → RGB conversion; h is any hue in 16.16 degrees.
uint32_t hlsChannel(int64_t h, int32_t m1, int32_t m2) {
  // Both rules bring the hue into (0, 360°] with 0 kept; in closed form, as
  // hues from files can be far out and a loop would take too long.
  if (h > kFix360) h = (h - 1) % kFix360 + 1;
  else if (h < 0) h = h % kFix360 == 0 ? 0 : h % kFix360 + kFix360;
  int32_t v;
  if (h < kFix60) v = m1 + fixMul(m2 - m1, int32_t(h)) / 60;
  else if (h < 180 * kFixOne) v = m2;
  else if (h < 240 * kFixOne) v = m1 + fixMul(m2 - m1, int32_t(240 * kFixOne - h)) / 60;
  else v = m1;
  return clampByte((int64_t(v) * 255) >> 16);
}

}  // namespace

HSV rgbToHSV(uint32_t colour) {
  const int32_t R = int32_t(red(colour)), G = int32_t(green(colour)), B = int32_t(blue(colour));
  // On ties the earlier channel is the maximum.
  int which = 0, maximum = R;
  if (G > maximum) which = 1, maximum = G;
  if (B > maximum) which = 2, maximum = B;
  const int32_t n = R < G ? (R < B ? R : B) : (G < B ? G : B);
  const int32_t V = maximum * kFixOne;
  if (V == 0) return {0, 0, 0};
  const int32_t delta = (maximum - n) * kFixOne;
  const int32_t S = fixDiv(delta, V) * 255;
  if (S == 0) return {0, 0, V};
  const int32_t r = fixDiv(V - R * kFixOne, delta);
  const int32_t g = fixDiv(V - G * kFixOne, delta);
  const int32_t b = fixDiv(V - B * kFixOne, delta);
  const int32_t h = which == 0 ? b - g : which == 1 ? 2 * kFixOne + r - b : 4 * kFixOne + g - r;
  int32_t H = h * 60;
  if (H < 0) H += kFix360;
  return {H, S, V};
}

uint32_t hsvToRGB(const HSV& hsv, uint32_t dest) {
  const uint64_t S = uint64_t(clampFix(hsv.s)), V = uint64_t(clampFix(hsv.v));
  dest &= 0xFF000000u;
  if (S == 0) {
    const uint32_t c = uint32_t(V >> 16);
    return dest | rgb(c, c, c);
  }
  // Any hue, however far below zero, comes to one turn: the sector is never negative.
  int32_t H = hsv.h % kFix360;
  if (H < 0) H += kFix360;
  const int32_t i = H / kFix60;
  const uint64_t f = ((uint64_t(H % kFix60) << 32) / uint64_t(kFix60)) >> 16;
  const uint64_t fS = (f * S) >> 16;
  const uint64_t p = (((uint64_t(kFix255) - S) * V) >> 16) / 255;
  const uint64_t q = (((uint64_t(kFix255) - fS) * V) >> 16) / 255;
  const uint64_t t = (((fS + uint64_t(kFix255) - S) * V) >> 16) / 255;
  uint64_t r, g, b;
  switch (i) {
    case 0: r = V, g = t, b = p; break;
    case 1: r = q, g = V, b = p; break;
    case 2: r = p, g = V, b = t; break;
    case 3: r = p, g = q, b = V; break;
    case 4: r = t, g = p, b = V; break;
    default: r = V, g = p, b = q; break;
  }
  return dest | rgb(uint32_t(r >> 16), uint32_t(g >> 16), uint32_t(b >> 16));
}

HLS rgbToHLS(uint32_t colour, HlsRule rule) {
  const uint32_t R = red(colour), G = green(colour), B = blue(colour);
  const uint32_t maximum = R > G ? (R > B ? R : B) : (G > B ? G : B);
  const uint32_t minimum = R < G ? (R < B ? R : B) : (G < B ? G : B);
  if (maximum == minimum) return {0, int32_t(minimum) * kFixOne, 0};
  const int32_t X = byteToFraction(maximum, rule), N = byteToFraction(minimum, rule);
  const int32_t sum = X + N, delta = X - N, L = sum >> 1;
  const int32_t S = L <= 32768 ? fixDiv(delta, sum) : fixDiv(delta, 2 * kFixOne - sum);
  const int32_t fr = byteToFraction(R, rule), fg = byteToFraction(G, rule), fb = byteToFraction(B, rule);
  int32_t h;
  if (R == maximum) h = fixDiv(fg - fb, delta);
  else if (G == maximum) h = fixDiv(fb - fr, delta) + 2 * kFixOne;
  else h = fixDiv(fr - fg, delta) + 4 * kFixOne;
  int32_t H = h * 60;
  if (H < 0) H += kFix360;
  return {H, L * 255, S * 255};
}

uint32_t hlsToRGB(const HLS& hls, HlsRule rule) {
  const int32_t L = clampFix(hls.l), S = clampFix(hls.s);
  if (S == 0) {
    const uint32_t c = uint32_t(L >> 16);
    return rgb(c, c, c);
  }
  const int32_t l = valueToFraction(L, rule), s = valueToFraction(S, rule);
  const int32_t m2 = l <= 32768 ? fixMul(l, s + kFixOne) : l + s - fixMul(l, s);
  const int32_t m1 = 2 * l - m2;
  const int64_t H = hls.h;
  return rgb(hlsChannel(H + 120 * kFixOne, m1, m2), hlsChannel(H, m1, m2), hlsChannel(H - 120 * kFixOne, m1, m2));
}

uint32_t cmykToRGB(const CMYK& cmyk) {
  const int32_t k = fixDiv(kFix255 - clampFix(cmyk.k), kFix255);
  auto channel = [k](int32_t x) {
    const int32_t v = fixMul(kFix255 - clampFix(x), k) + 32768;
    return uint32_t((v < kFix255 ? v : kFix255) >> 16);
  };
  return rgb(channel(cmyk.c), channel(cmyk.m), channel(cmyk.y));
}

void widenRow(const uint8_t* src, uint8_t* dst, size_t n) {
  for (size_t x = 0; x < n; ++x, src += 3, dst += 4) {
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
  }
}

void narrowRow(const uint8_t* src, uint8_t* dst, size_t n) {
  for (size_t x = 0; x < n; ++x, src += 4, dst += 3) {
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
  }
}

}  // namespace vl
