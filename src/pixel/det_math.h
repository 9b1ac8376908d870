#pragma once
// Mathematical functions for everything that is recorded or replayed. The C
// library's versions may differ in their last bits between library versions
// and machines, which would change a replayed picture; these are built from
// the IEEE basic operations (+, −, ×, ÷, which are exact everywhere) and bit
// manipulation only, so they give the same bits on every machine. Each works
// in double precision inside and rounds once to float, which keeps it within
// an ulp of the exact result.
#include <cstdint>

namespace vl {

// x^y for x ≥ 0 (NaN for x < 0 unless y is 0, 1 for y = 0).
float detPow(float x, float y);
float detExp(float x);
// Natural logarithm; −infinity at 0, NaN below.
float detLog(float x);
float detSin(float x);
float detCos(float x);
// The angle of (x, y) in −π … π.
float detAtan2(float y, float x);

// The double-precision cores, for callers that keep double intermediates.
double detExp2d(double x);
double detLog2d(double x);

}  // namespace vl
