#pragma once
// The program's integer pixel arithmetic. Pixels are 0xAARRGGBB with straight
// alpha; colours passed as values are 0x00RRGGBB.
#include <array>
#include <cstdint>

namespace vl {

using PixelFn = uint32_t (*)(uint32_t pixel, uint32_t colour, int strength);
using ByteFn = uint8_t (*)(uint8_t pixel, uint8_t value);

// a × b ÷ 255 rounded down, without a division.
constexpr int mul8(int a, int b) { return (a * b * 32897) >> 23; }

constexpr int lerp8(int src, int dst, int t) {
  return (src * t * 32897 + dst * (8388735 - t * 32897)) >> 23;
}

constexpr uint32_t red(uint32_t p) { return (p >> 16) & 0xFF; }
constexpr uint32_t green(uint32_t p) { return (p >> 8) & 0xFF; }
constexpr uint32_t blue(uint32_t p) { return p & 0xFF; }
constexpr uint32_t alpha(uint32_t p) { return p >> 24; }
constexpr uint32_t makePixel(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  return (a << 24) | (r << 16) | (g << 8) | b;
}

// Lookup tables, filled at compile time.
template <class T>
using Table256 = std::array<std::array<T, 256>, 256>;
extern const Table256<uint8_t> MUL;        // i × j ÷ 255
extern const Table256<uint8_t> SCREENINV;  // 255 − i × (255 − j) ÷ 255
// [t][d & 0xFF] = t × d × 2 ÷ 255, d signed; the values span −256 … 254.
extern const Table256<int16_t> HALFDIFF;

inline uint32_t blendRGB(uint32_t pixel, uint32_t colour, int t) {
  if (t == 0) return pixel;
  if (t >= 255) return (pixel & 0xFF000000u) | (colour & 0x00FFFFFFu);
  uint32_t r = lerp8(red(colour), red(pixel), t);
  uint32_t g = lerp8(green(colour), green(pixel), t);
  uint32_t b = lerp8(blue(colour), blue(pixel), t);
  return (pixel & 0xFF000000u) | (r << 16) | (g << 8) | b;
}

inline int halfDiffByte(int p, int c, int t) {
  int d = (c >> 1) - (p >> 1);
  return p + HALFDIFF[t][d & 0xFF];
}

inline uint32_t blendRGBTable(uint32_t pixel, uint32_t colour, int t) {
  // The halved difference drops the low bit, so full strength replaces outright.
  if (t <= 0) return pixel;
  if (t >= 255) return (pixel & 0xFF000000u) | (colour & 0x00FFFFFFu);
  uint32_t r = halfDiffByte(red(pixel), red(colour), t);
  uint32_t g = halfDiffByte(green(pixel), green(colour), t);
  uint32_t b = halfDiffByte(blue(pixel), blue(colour), t);
  return (pixel & 0xFF000000u) | (r << 16) | (g << 8) | b;
}

inline uint8_t blendByte(uint8_t p, uint8_t v, int t) { return uint8_t(lerp8(v, p, t)); }
inline uint8_t blendByteTable(uint8_t p, uint8_t v, int t) { return uint8_t(halfDiffByte(p, v, t)); }

constexpr int luminance(uint32_t p) {
  return int((red(p) * 19595 + green(p) * 38469 + blue(p) * 7472) >> 16);
}

constexpr int colourDistance2(uint32_t a, uint32_t b) {
  int dr = int(red(a)) - int(red(b)), dg = int(green(a)) - int(green(b)), db = int(blue(a)) - int(blue(b));
  return dr * dr + dg * dg + db * db;
}

// Inks: (pixel, colour, strength); all keep the pixel's alpha.
inline uint32_t inkMultiply(uint32_t p, uint32_t c, int s) {
  const auto& inv = SCREENINV[s];
  return (p & 0xFF000000u) | (uint32_t(MUL[red(p)][inv[red(c)]]) << 16) |
         (uint32_t(MUL[green(p)][inv[green(c)]]) << 8) | MUL[blue(p)][inv[blue(c)]];
}
inline uint32_t inkAdd(uint32_t p, uint32_t c, int s) {
  const auto& m = MUL[s];
  uint32_t r = red(p) + m[red(c)], g = green(p) + m[green(c)], b = blue(p) + m[blue(c)];
  return (p & 0xFF000000u) | ((r > 255 ? 255 : r) << 16) | ((g > 255 ? 255 : g) << 8) | (b > 255 ? 255 : b);
}
inline uint32_t inkSubtract(uint32_t p, uint32_t c, int s) {
  const auto& m = MUL[s];
  int r = int(red(p)) - m[red(c)], g = int(green(p)) - m[green(c)], b = int(blue(p)) - m[blue(c)];
  return (p & 0xFF000000u) | (uint32_t(r < 0 ? 0 : r) << 16) | (uint32_t(g < 0 ? 0 : g) << 8) | uint32_t(b < 0 ? 0 : b);
}
inline uint32_t inkNormal(uint32_t p, uint32_t c, int s) { return blendRGB(p, c, s); }

// 8-bit channel functions.
inline uint8_t byteSet(uint8_t, uint8_t v) { return v; }
inline uint8_t byteMax(uint8_t p, uint8_t v) { return p > v ? p : v; }
inline uint8_t byteMultiply(uint8_t p, uint8_t v) { return uint8_t(mul8(v, p)); }

// 16.16 fixed point.
constexpr int32_t fixMul(int32_t a, int32_t b) { return int32_t((int64_t(a) * b) >> 16); }
// Sign-correct a ÷ b in 16.16; b = 0 gives the largest value of a's sign.
int32_t fixDiv(int32_t a, int32_t b);
// Integer square root (floor) of an unsigned value.
uint32_t isqrt(uint64_t v);
// Square root of a 16.16 value, in 16.16.
int32_t fixSqrt(int32_t v);

// Float to int by truncation toward zero. NaN gives 0; values beyond the
// int32 range give its limits, so no float ever reaches undefined behaviour.
int32_t truncToInt(double v);

}  // namespace vl
