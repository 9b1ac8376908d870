#include "files/map_dd.h"

#include <gtest/gtest.h>

#include <cmath>

#include "files/timing.h"

namespace vl {
namespace {

TEST(CMapDD, SetLookupRemove) {
  CMapDD map(10);
  uint32_t v = 99;
  EXPECT_FALSE(map.Lookup(1, v));
  EXPECT_EQ(v, 99u);
  EXPECT_TRUE(map.SetAt(1, 10));
  EXPECT_TRUE(map.SetAt(0xFFFFFFFFu, 0));
  EXPECT_TRUE(map.SetAt(1, 11));  // replaces
  ASSERT_TRUE(map.Lookup(1, v));
  EXPECT_EQ(v, 11u);
  ASSERT_TRUE(map.Lookup(0xFFFFFFFFu, v));
  EXPECT_EQ(v, 0u);
  EXPECT_EQ(map.GetCount(), 2u);
  EXPECT_TRUE(map.RemoveKey(1));
  EXPECT_FALSE(map.RemoveKey(1));
  EXPECT_FALSE(map.Lookup(1, v));
  map.RemoveAll();
  EXPECT_EQ(map.GetCount(), 0u);
  EXPECT_FALSE(map.Lookup(0xFFFFFFFFu, v));
}

TEST(CMapDD, GrowsPastItsInitialSize) {
  CMapDD map(10);
  for (uint32_t k = 0; k < 5000; ++k) ASSERT_TRUE(map.SetAt(k * 2654435761u, k));
  for (uint32_t k = 0; k < 5000; ++k) {
    uint32_t v = 0;
    ASSERT_TRUE(map.Lookup(k * 2654435761u, v));
    EXPECT_EQ(v, k);
  }
}

TEST(TimingCalibration, GivesAPositiveRate) {
  const double v = timingCalibration(100);
  EXPECT_TRUE(std::isfinite(v));
  EXPECT_GT(v, 0);
  EXPECT_EQ(timingCalibration(0), 0);
}

}  // namespace
}  // namespace vl
