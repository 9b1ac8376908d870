// The SIMD row kernels against their scalar twins, over seeded random rows
// whose lengths leave every possible tail.
#include <gtest/gtest.h>

#include <vector>

#include "document/compose_kernels.h"
#include "pixel/random_state.h"

namespace vl {
namespace {

uint32_t randomPixel(RandomState& r) {
  // Alphas of 0 and 255 often, so the shortcuts are taken too.
  const uint32_t v = uint32_t(r.draw()) ^ (uint32_t(r.draw()) << 16);
  const uint32_t a = (v & 7) == 0 ? 0 : (v & 7) == 1 ? 255 : v >> 24;
  return (a << 24) | (v & 0x00FFFFFFu);
}

TEST(ComposeKernels, SimdRowsMatchScalarRows) {
  RandomState r(12345, 0, 65536);
  using Kernel = void (*)(uint32_t*, const uint32_t*, int32_t, int);
  const struct {
    const char* name;
    Kernel simd, scalar;
  } kernels[] = {{"normal", composeRowNormalSimd, composeRowNormalScalar},
                 {"normal sse2", composeRowNormalSse2, composeRowNormalScalar},
                 {"multiply", composeRowMultiplySimd, composeRowMultiplyScalar},
                 {"multiply sse2", composeRowMultiplySse2, composeRowMultiplyScalar}};
  for (const auto& k : kernels)
    for (int32_t n = 0; n < 70; ++n)
      for (int opacity : {0, 1, 77, 128, 254, 255}) {
        std::vector<uint32_t> src(size_t(n) + 1), a(size_t(n) + 1), b;
        for (auto& p : src) p = randomPixel(r);
        for (auto& p : a) p = randomPixel(r);
        b = a;
        k.simd(a.data(), src.data(), n, opacity);
        k.scalar(b.data(), src.data(), n, opacity);
        ASSERT_EQ(a, b) << k.name << " n " << n << " opacity " << opacity;
      }
}

TEST(ComposeKernels, SimdFillMatchesScalarFill) {
  RandomState r(777, 0, 65536);
  for (int round = 0; round < 400; ++round) {
    const int32_t n = round % 37;
    const uint32_t colour = randomPixel(r);
    const int opacity = round % 3 == 0 ? 255 : r.draw() & 0xFF;
    std::vector<uint32_t> a(size_t(n) + 1), b;
    for (auto& p : a) p = randomPixel(r);
    b = a;
    composeFillNormalSimd(a.data(), colour, n, opacity);
    composeFillNormalScalar(b.data(), colour, n, opacity);
    ASSERT_EQ(a, b) << "round " << round;
  }
}

}  // namespace
}  // namespace vl
