#include "pixel/channel_sums.h"

#include <gtest/gtest.h>

#include <vector>

#include "pixel/random_state.h"
#include "pixel/simd.h"

namespace vl {
namespace {

// The vector sums are the scalar ones for every length, across the chunks
// the vector form splits long runs into, and for the extreme bytes.
TEST(ChannelSums, VectorFormAddsAsTheScalarOne) {
  RandomState r(20260101, 0, 1 << 30);
  std::vector<uint32_t> pixels(5000);
  for (uint32_t& p : pixels) p = uint32_t(r.draw()) * 4u + uint32_t(r.draw() & 3);
  std::vector<uint32_t> white(5000, 0xFFFFFFFFu);
  const SimdLevel before = simdLevel();
  for (const std::vector<uint32_t>* v : {&pixels, &white})
    for (int32_t n : {0, 1, 3, 4, 5, 31, 32, 33, 1023, 1024, 1025, 1029, 2049, 3000, 4100}) {
      for (int32_t start : {0, 1, 7}) {
        const int32_t count = n - start > 0 ? n - start : 0;
        uint64_t a[4] = {1, 2, 3, 4}, b[4] = {1, 2, 3, 4}, c8[4] = {1, 2, 3, 4};
        addChannelSumsScalar(v->data() + start, count, a);
        addChannelSumsSse2(v->data() + start, count, b);
        if (setSimdLevel(SimdLevel::Avx2) == SimdLevel::Avx2) {
          addChannelSumsAvx2(v->data() + start, count, c8);
        } else {
          addChannelSumsScalar(v->data() + start, count, c8);
        }
        for (int c = 0; c < 4; ++c) {
          ASSERT_EQ(a[c], b[c]) << n << " from " << start << ", byte " << c;
          ASSERT_EQ(a[c], c8[c]) << n << " from " << start << ", byte " << c;
        }
      }
    }
  setSimdLevel(before);
  uint64_t s[4] = {0, 0, 0, 0};
  const uint32_t four[4] = {0x01020304u, 0x10203040u, 0xFF000000u, 0x000000FFu};
  addChannelSums(four, 4, s);
  EXPECT_EQ(s[0], 0x04u + 0x40u + 0xFFu);
  EXPECT_EQ(s[1], 0x03u + 0x30u);
  EXPECT_EQ(s[2], 0x02u + 0x20u);
  EXPECT_EQ(s[3], 0x01u + 0x10u + 0xFFu);
}

}  // namespace
}  // namespace vl
