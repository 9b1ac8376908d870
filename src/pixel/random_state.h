#pragma once
#include <cstdint>

namespace vl {

// Small seeded generator; stored inside layers, so its layout is fixed (20 bytes).
struct RandomState {
  int32_t seed = 0;
  int32_t low = 0;
  int32_t high = 0;
  int32_t count = 0;
  uint32_t state = 0;

  RandomState() = default;
  RandomState(int32_t seed_, int32_t low_, int32_t high_) : seed(seed_), low(low_), high(high_), state(uint32_t(seed_)) {}

  // A value in low … high − 1.
  int32_t draw() {
    ++count;
    state = state * 134775813u + 1u;
    // Unsigned throughout: ranges read from files must not overflow.
    uint64_t span = uint32_t(high) - uint32_t(low);
    return int32_t(uint32_t(low) + uint32_t((span * state) >> 32));
  }

  // Where n draws would leave the generator, in about log n steps: the
  // draws of a band of rows that another thread composes.
  void Skip(uint64_t n) {
    count = int32_t(uint32_t(count) + uint32_t(n));
    uint32_t mul = 1, add = 0, stepMul = 134775813u, stepAdd = 1u;
    for (; n; n >>= 1) {
      if (n & 1) {
        mul *= stepMul;
        add = add * stepMul + stepAdd;
      }
      stepAdd *= stepMul + 1;
      stepMul *= stepMul;
    }
    state = state * mul + add;
  }
};
static_assert(sizeof(RandomState) == 20);

}  // namespace vl
