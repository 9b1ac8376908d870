#pragma once
// Hue-based colour models in 16.16 fixed point (one unit = 65536), so every
// machine gets the same numbers, and the byte-order helpers beside them.
// Colours are 0x00RRGGBB; the platform's colour values are 0x00BBGGRR.
#include <array>
#include <cstddef>
#include <cstdint>

namespace vl {

constexpr int32_t kFixOne = 65536;
constexpr int32_t kFix255 = 255 * kFixOne;
constexpr int32_t kFix360 = 360 * kFixOne;

// Hue in degrees (0 ≤ h < 360 × 65536 on output); s and v 0 … 255 × 65536.
struct HSV {
  int32_t h = 0, s = 0, v = 0;
  bool operator==(const HSV&) const = default;
};

// Hue in degrees; l and s 0 … 255 × 65536.
struct HLS {
  int32_t h = 0, l = 0, s = 0;
  bool operator==(const HLS&) const = default;
};

// Each 0 … 255 × 65536.
struct CMYK {
  int32_t c = 0, m = 0, y = 0, k = 0;
};

// How a byte becomes a fraction in the HLS model. The colour-balance filter
// uses Multiply, the burn and dodge brushes Division; their results differ
// by a little, so each user keeps its own.
enum class HlsRule { Multiply, Division };

// Exchanges bytes 0 and 2, keeps bytes 1 and 3: our colour <-> the platform's.
constexpr uint32_t swapRB(uint32_t v) {
  return (v & 0xFF00FF00u) | ((v & 0xFFu) << 16) | ((v >> 16) & 0xFFu);
}

HSV rgbToHSV(uint32_t colour);
// Writes bytes 0 … 2 of dest and returns it; byte 3 of dest is kept.
// Any hue is taken modulo 360°; s and v outside 0 … 255 × 65536 are clamped.
uint32_t hsvToRGB(const HSV& hsv, uint32_t dest = 0);

HLS rgbToHLS(uint32_t colour, HlsRule rule);
// Returns 0x00RRGGBB. Any hue is accepted; l and s are clamped.
uint32_t hlsToRGB(const HLS& hls, HlsRule rule);

// Returns 0x00RRGGBB; components outside 0 … 255 × 65536 are clamped.
uint32_t cmykToRGB(const CMYK& cmyk);

// n pixels of 3 bytes to n pixels of 4, bytes in order; the fourth byte of
// each destination pixel is left as it was.
void widenRow(const uint8_t* src, uint8_t* dst, size_t n);
// n pixels of 4 bytes to n pixels of 3; the fourth byte is dropped.
void narrowRow(const uint8_t* src, uint8_t* dst, size_t n);

// 8 red × 8 green × 4 blue levels, red varying fastest.
constexpr std::array<uint32_t, 256> defaultPalette() {
  std::array<uint32_t, 256> p{};
  size_t n = 0;
  for (uint32_t i = 0; i < 4; ++i)
    for (uint32_t j = 0; j < 8; ++j)
      for (uint32_t k = 0; k < 8; ++k) p[n++] = ((k * 255 / 7) << 16) | ((j * 255 / 7) << 8) | (i * 255 / 3);
  return p;
}

}  // namespace vl
