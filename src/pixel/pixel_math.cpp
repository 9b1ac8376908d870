#include "pixel/pixel_math.h"

#include <cmath>
#include <limits>

namespace vl {

constexpr Table256<uint8_t> MUL = [] {
  Table256<uint8_t> t{};
  for (int i = 0; i < 256; ++i)
    for (int j = 0; j < 256; ++j) t[i][j] = uint8_t(i * j / 255);
  return t;
}();

constexpr Table256<uint8_t> SCREENINV = [] {
  Table256<uint8_t> t{};
  for (int i = 0; i < 256; ++i)
    for (int j = 0; j < 256; ++j) t[i][j] = uint8_t(255 - i * (255 - j) / 255);
  return t;
}();

constexpr Table256<int16_t> HALFDIFF = [] {
  Table256<int16_t> t{};
  for (int i = 0; i < 256; ++i)
    for (int j = 0; j < 256; ++j) {
      int d = j < 128 ? j : j - 256;
      t[i][j] = int16_t(i * d * 2 / 255);
    }
  return t;
}();

int32_t fixDiv(int32_t a, int32_t b) {
  if (b == 0) return a < 0 ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
  int64_t q = (int64_t(a) << 16) / b;
  if (q > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (q < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return int32_t(q);
}

uint32_t isqrt(uint64_t v) {
  uint64_t r = 0, bit = uint64_t(1) << 62;
  while (bit > v) bit >>= 2;
  while (bit) {
    if (v >= r + bit) {
      v -= r + bit;
      r = (r >> 1) + bit;
    } else {
      r >>= 1;
    }
    bit >>= 2;
  }
  return uint32_t(r);
}

int32_t fixSqrt(int32_t v) { return v <= 0 ? 0 : int32_t(isqrt(uint64_t(v) << 16)); }

int32_t truncToInt(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return int32_t(v);
}

}  // namespace vl
