// Growing, shrinking and adding selections on a 4000 × 4000 mask of noise,
// in megapixels per second, beside memcpy of the channel's bytes in the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "selection/mask.h"

namespace {

constexpr int32_t kSide = 4000;

// Noise with empty stretches, as a hand-made selection has.
const vl::CBlockVCH& noise() {
  static vl::CBlockVCH c(kSide, kSide);
  static bool made = false;
  if (!made) {
    std::mt19937 rng(11);
    std::vector<uint8_t> row(kSide);
    for (int32_t y = 0; y < kSide; ++y) {
      for (auto& p : row) p = (rng() & 3) ? uint8_t(rng()) : 0;
      c.WriteRow(y, row.data(), 0, kSide);
    }
    made = true;
  }
  return c;
}

void BM_Memcpy(benchmark::State& state) {
  std::vector<uint8_t> a(size_t(kSide) * kSide, 1), b(a.size());
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), a.size());
    benchmark::DoNotOptimize(b.data());
  }
  state.counters["MP/s"] = benchmark::Counter(double(kSide) * kSide / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

void report(benchmark::State& state) {
  state.counters["MP/s"] = benchmark::Counter(double(kSide) * kSide / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// One pixel: 3 × 3 maximum (grow) or minimum (shrink) over the whole channel.
void BM_MorphOne(benchmark::State& state) {
  const vl::CBlockVCH& in = noise();
  for (auto _ : state) {
    vl::CBlockVCH out(kSide, kSide);
    vl::morphSquare(in, out, {0, 0, kSide, kSide}, state.range(0) != 0);
  }
  state.SetLabel(state.range(0) ? "grow by 1" : "shrink by 1");
  report(state);
}
BENCHMARK(BM_MorphOne)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// n pixels with the octagonal element.
void BM_MorphBy(benchmark::State& state) {
  const vl::CBlockVCH& in = noise();
  const int32_t n = int32_t(state.range(1));
  for (auto _ : state) {
    vl::CBlockVCH out(kSide, kSide);
    vl::morphOctagon(in, out, n, state.range(0) != 0);
  }
  state.SetLabel(std::string(state.range(0) ? "grow by " : "shrink by ") + std::to_string(n));
  report(state);
}
BENCHMARK(BM_MorphBy)->Args({1, 1})->Args({0, 1})->Args({1, 32})->Args({0, 32})->Unit(benchmark::kMillisecond);

// A new selection added to one that covers the paper.
void BM_BuildAdd(benchmark::State& state) {
  const vl::CBlockVCH& in = noise();
  vl::CMaskMngr masks;
  masks.SetPaperSize({kSide, kSide});
  std::unique_ptr<vl::CMaskData> old;
  masks.BuildFromChannel(0, in, vl::kMaskNew, {0, 0}, old);
  for (auto _ : state) benchmark::DoNotOptimize(masks.Built(0, in, vl::kMaskAdd, {-7, -3}));
  state.SetLabel("add");
  report(state);
}
BENCHMARK(BM_BuildAdd)->Unit(benchmark::kMillisecond);

}  // namespace
