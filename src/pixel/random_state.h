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
};
static_assert(sizeof(RandomState) == 20);

}  // namespace vl
