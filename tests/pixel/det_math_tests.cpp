#include "pixel/det_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

namespace vl {
namespace {

// Distance in float steps between two floats of one sign.
int64_t ulps(float a, float b) {
  if (a == b) return 0;
  int32_t ia, ib;
  std::memcpy(&ia, &a, 4);
  std::memcpy(&ib, &b, 4);
  if ((ia < 0) != (ib < 0)) return INT64_MAX;
  return std::abs(int64_t(ia) - int64_t(ib));
}

// Against the library in double precision, rounded once to float.
TEST(DetMath, WithinAnUlpOfTheLibraryOverTheRangesPicturesUse) {
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> unit(0, 1), gamma(0.01f, 6), wide(-40, 40), angle(-100, 100);
  for (int i = 0; i < 200000; ++i) {
    const float x = unit(rng), y = gamma(rng), a = wide(rng), t = angle(rng);
    ASSERT_LE(ulps(detPow(x, y), float(std::pow(double(x), double(y)))), 1) << x << "^" << y;
    ASSERT_LE(ulps(detExp(a), float(std::exp(double(a)))), 1) << a;
    if (x > 0) ASSERT_LE(ulps(detLog(x * 1000), float(std::log(double(x * 1000)))), 1) << x * 1000;
    ASSERT_LE(std::fabs(detSin(t) - float(std::sin(double(t)))), 1e-7f) << t;
    ASSERT_LE(std::fabs(detCos(t) - float(std::cos(double(t)))), 1e-7f) << t;
    ASSERT_LE(ulps(detAtan2(a, t), float(std::atan2(double(a), double(t)))), 1) << a << "," << t;
  }
}

TEST(DetMath, SpecialValues) {
  const float inf = INFINITY;
  struct Case {
    float got, expected;
  } cases[] = {
      {detPow(0, 2), 0},        {detPow(2, 0), 1},    {detPow(1, 1e30f), 1}, {detPow(0.5f, 1), 0.5f},
      {detPow(4, 0.5f), 2},     {detPow(2, 10), 1024}, {detPow(0, -1), inf},  {detExp(0), 1},
      {detExp(100), inf},       {detExp(-200), 0},    {detLog(1), 0},        {detLog(0), -inf},
      {detSin(0), 0},           {detCos(0), 1},       {detAtan2(0, 1), 0},   {detAtan2(1, 0), float(M_PI / 2)},
      {detAtan2(0, -1), float(M_PI)}, {detAtan2(-1, 0), float(-M_PI / 2)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.expected);
  EXPECT_TRUE(std::isnan(detPow(-1, 0.5f)));
  EXPECT_TRUE(std::isnan(detLog(-1)));
  EXPECT_TRUE(std::isnan(detSin(inf)));
  EXPECT_EQ(detPow(1e-40f, 1), 1e-40f) << "subnormals";
  EXPECT_TRUE(std::isfinite(detSin(3e38f)));
}

}  // namespace
}  // namespace vl
