// Tile walkers against memcpy of the same bytes, the physical limit.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "pixel/block_image.h"

namespace {

constexpr int kSide = 4096;
constexpr size_t kBytes = size_t(kSide) * kSide * 4;

void fillPattern(vl::TMTC& buf) {
  for (int y = 0; y < buf.height; ++y)
    for (int x = 0; x < buf.width; ++x) buf.Row(y)[x] = 0xFF000000u | uint32_t(x * 7 + y * 13);
}

void BM_MemcpyReference(benchmark::State& state) {
  std::vector<uint8_t> a(kBytes, 1), b(kBytes);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), kBytes);
    benchmark::DoNotOptimize(b.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}
BENCHMARK(BM_MemcpyReference)->Unit(benchmark::kMillisecond);

void BM_WriteFrom(benchmark::State& state) {
  vl::TMTC buf(kSide, kSide);
  fillPattern(buf);
  vl::CBlockVMTC image(kSide, kSide);
  image.WriteFrom(buf, {0, 0}, 255, buf.area());  // tiles allocated once, as in a repeated commit
  for (auto _ : state) {
    image.WriteFrom(buf, {0, 0}, 255, buf.area());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}
BENCHMARK(BM_WriteFrom)->Unit(benchmark::kMillisecond);

void BM_ReadInto(benchmark::State& state) {
  vl::TMTC buf(kSide, kSide);
  fillPattern(buf);
  vl::CBlockVMTC image(kSide, kSide);
  image.WriteFrom(buf, {0, 0}, 255, buf.area());
  for (auto _ : state) {
    image.ReadInto(buf, {0, 0}, false, 255, buf.area());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}
BENCHMARK(BM_ReadInto)->Unit(benchmark::kMillisecond);

// Every tile allocated and none uniform: the worst case, each tile read whole.
void BM_CompactNothingToFree(benchmark::State& state) {
  vl::TMTC buf(kSide, kSide);
  fillPattern(buf);
  vl::CBlockVMTC image(kSide, kSide);
  image.WriteFrom(buf, {0, 0}, 255, buf.area());
  for (auto _ : state) benchmark::DoNotOptimize(image.Compact());
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}
BENCHMARK(BM_CompactNothingToFree)->Unit(benchmark::kMillisecond);

// Every tile allocated and uniform: each is read whole, then freed.
void BM_CompactAllUniform(benchmark::State& state) {
  vl::TMTC buf(kSide, kSide);
  buf.Fill(0xFF336699u);
  vl::CBlockVMTC image(kSide, kSide);
  for (auto _ : state) {
    state.PauseTiming();
    image.WriteFrom(buf, {0, 0}, 255, buf.area());
    state.ResumeTiming();
    benchmark::DoNotOptimize(image.Compact());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kBytes));
}
BENCHMARK(BM_CompactAllUniform)->Unit(benchmark::kMillisecond);

}  // namespace
