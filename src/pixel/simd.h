#pragma once
// Which vector instructions the pixel kernels may use. Every kernel has a
// scalar twin that gives the same bits; this lets a test (or VL_SIMD=none in
// the environment) run everything without vectors to show it.
namespace vl {

enum class SimdLevel { None = 0, Sse2 = 1, Avx2 = 2 };

// The level in force: what the processor has, unless lowered.
SimdLevel simdLevel();
// Asks for a level; never more than the processor has. Returns the level now in force.
SimdLevel setSimdLevel(SimdLevel level);

}  // namespace vl
