#include "files/timing.h"

#include <chrono>
#include <cstdint>

namespace vl {

namespace {

constexpr int kStepsPerRun = 20000;
constexpr double kOpsPerStep = 6;  // three shifts, three xors, each waiting for the last

// volatile in and out, so the chain is neither folded nor dropped.
volatile uint32_t gSeed = 2463534242u;
volatile uint32_t gSink = 0;

uint32_t run(uint32_t x) {
  for (int i = 0; i < kStepsPerRun; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
  }
  return x;
}

}  // namespace

double timingCalibration(int rounds) {
  using Clock = std::chrono::steady_clock;
  double best = 0;
  uint32_t x = gSeed;
  for (int r = 0; r < rounds; ++r) {
    const auto start = Clock::now();
    x = run(x);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (seconds > 0 && (best == 0 || seconds < best)) best = seconds;
  }
  gSink = x;
  if (best == 0) return 0;
  return kStepsPerRun * kOpsPerStep / best;
}

}  // namespace vl
