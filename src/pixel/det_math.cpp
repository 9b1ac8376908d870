#include "pixel/det_math.h"

#include <cstring>
#include <limits>

namespace vl {
namespace {

constexpr double kLn2 = 0.69314718055994530942;
constexpr double kPi = 3.14159265358979323846;
constexpr double kHalfPi = 1.57079632679489661923;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

uint64_t bitsOf(double d) {
  uint64_t b;
  std::memcpy(&b, &d, 8);
  return b;
}
double fromBits(uint64_t b) {
  double d;
  std::memcpy(&d, &b, 8);
  return d;
}
bool isNaN(double d) { return d != d; }

// 2^n for an integer n within the normal range, by its bits.
double pow2(int64_t n) {
  if (n > 1023) return kInf;
  if (n < -1022) {
    // Below the normal range: two steps, each exact until the last.
    return pow2(n + 600) * fromBits(uint64_t(1023 - 600) << 52);
  }
  return fromBits(uint64_t(n + 1023) << 52);
}

// The nearest integer (ties to even) for |x| < 2^51: adding and taking away
// 1.5 × 2^52 leaves no fraction bits.
double roundNear(double x) { return (x + 6755399441055744.0) - 6755399441055744.0; }

// e^r for |r| ≤ 0.36 by its Taylor series, well past double precision.
double expSmall(double r) {
  double term = 1.0, sum = 1.0;
  for (int k = 1; k <= 20; ++k) {
    term = term * r / double(k);
    sum = sum + term;
  }
  return sum;
}

// ln m for m in [√½, √2) by the series of atanh((m − 1) / (m + 1)).
double logNear1(double m) {
  const double s = (m - 1.0) / (m + 1.0), s2 = s * s;
  double term = s, sum = 0.0;
  for (int k = 1; k <= 45; k += 2) {
    sum = sum + term / double(k);
    term = term * s2;
  }
  return 2.0 * sum;
}

// sin and cos of |r| ≤ π/4 by their Taylor series.
double sinSmall(double r) {
  const double r2 = r * r;
  double term = r, sum = r;
  for (int k = 2; k <= 30; k += 2) {
    term = -term * r2 / double(k * (k + 1));
    sum = sum + term;
  }
  return sum;
}
double cosSmall(double r) {
  const double r2 = r * r;
  double term = 1.0, sum = 1.0;
  for (int k = 1; k <= 29; k += 2) {
    term = -term * r2 / double(k * (k + 1));
    sum = sum + term;
  }
  return sum;
}

// atan of 0 ≤ t ≤ 1: reduced twice by atan t = 2 atan(t / (1 + √(1 + t²))),
// then its series.
double atanUnit(double t) {
  for (int i = 0; i < 2; ++i) {
    double q = 1.0 + t * t;
    // √q by Newton steps from a good start; the IEEE square root is exact too,
    // but this keeps the file free of library calls.
    double root = q < 1.5 ? 1.0 + (q - 1.0) * 0.5 : 1.2;
    for (int k = 0; k < 6; ++k) root = 0.5 * (root + q / root);
    t = t / (1.0 + root);
  }
  const double t2 = t * t;
  double term = t, sum = 0.0;
  for (int k = 1; k <= 41; k += 2) {
    sum = sum + term / double(k);
    term = -term * t2;
  }
  return 4.0 * sum;
}

// sin (want = 0) or cos (want = 1) of any finite x.
double sinCos(double x, int want) {
  if (isNaN(x) || x == kInf || x == -kInf) return kNaN;
  // Angles far beyond any a picture uses are brought near 0 first: still the
  // same bits everywhere, if not the best ones.
  if (x > 1073741824.0 || x < -1073741824.0) {
    const double turns = x / (2.0 * kPi);
    x = x - (turns - (turns - roundNear(turns * 1e-9) * 1e9)) * (2.0 * kPi);
    if (x > 1073741824.0 || x < -1073741824.0) x = 0;
  }
  // x = n·π/2 + r with |r| ≤ π/4; π/2 as a 33-bit head and its tail keeps
  // n·head exact, so r is good to far below a float's last bit.
  const double n = roundNear(x / kHalfPi);
  const double head = 1.5707963267341256, tail = 6.077100506506192e-11;
  const double r = (x - n * head) - n * tail;
  const int64_t q = (int64_t(n) + want) & 3;
  switch (q) {
    case 0: return sinSmall(r);
    case 1: return cosSmall(r);
    case 2: return -sinSmall(r);
    default: return -cosSmall(r);
  }
}

}  // namespace

double detLog2d(double x) {
  if (isNaN(x) || x < 0) return kNaN;
  if (x == 0) return -kInf;
  if (x == kInf) return kInf;
  int64_t e = 0;
  // Subnormals: scale into the normal range first.
  if (x < 2.2250738585072014e-308) {
    x = x * 18014398509481984.0;  // 2^54
    e -= 54;
  }
  const uint64_t b = bitsOf(x);
  e += int64_t((b >> 52) & 0x7FF) - 1023;
  double m = fromBits((b & 0x000FFFFFFFFFFFFFull) | 0x3FF0000000000000ull);  // [1, 2)
  if (m > 1.4142135623730951) {
    m = m * 0.5;
    ++e;
  }
  return double(e) + logNear1(m) / kLn2;
}

double detExp2d(double x) {
  if (isNaN(x)) return kNaN;
  if (x >= 1024.0) return kInf;
  if (x < -1100.0) return 0.0;
  const double n = roundNear(x);
  return expSmall((x - n) * kLn2) * pow2(int64_t(n));
}

float detPow(float xf, float yf) {
  const double x = xf, y = yf;
  if (y == 0) return 1.0f;
  if (isNaN(x) || isNaN(y) || x < 0) return float(kNaN);
  if (x == 0) return y > 0 ? 0.0f : float(kInf);
  if (x == 1) return 1.0f;
  return float(detExp2d(y * detLog2d(x)));
}

float detExp(float x) { return float(detExp2d(double(x) / kLn2)); }

float detLog(float x) { return float(detLog2d(x) * kLn2); }

float detSin(float x) { return float(sinCos(x, 0)); }

float detCos(float x) { return float(sinCos(x, 1)); }

float detAtan2(float yf, float xf) {
  const double y = yf, x = xf;
  if (isNaN(x) || isNaN(y)) return float(kNaN);
  if (x == 0 && y == 0) return (bitsOf(x) >> 63) ? float(bitsOf(y) >> 63 ? -kPi : kPi) : float(y);
  const double ax = x < 0 ? -x : x, ay = y < 0 ? -y : y;
  double a;
  if (ax == kInf && ay == kInf) {
    a = kPi / 4;
  } else if (ay <= ax) {
    a = ax == kInf ? 0.0 : atanUnit(ay / ax);
  } else {
    a = ay == kInf ? kHalfPi : kHalfPi - atanUnit(ax / ay);
  }
  if (x < 0) a = kPi - a;
  return float(y < 0 ? -a : a);
}

}  // namespace vl
