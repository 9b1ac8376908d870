// Brush stamps and polygon coverage, each against a memset of the bytes it
// covers, measured in the same run so the ratio holds on a busy machine.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "pixel/coverage.h"

namespace {

using namespace vl;

// A 64-pixel brush tip: radius 32 off the pixel grid, in a 256 × 256 channel.
constexpr float kCx = 128.3f, kCy = 127.6f, kR = 32.0f;

void BM_SoftDiscStamp64(benchmark::State& state) {
  TChannel c(256, 256);
  c.Fill(0);
  for (auto _ : state) {
    stampSoftDisc(c, kCx, kCy, kR, 0.8f, 255, CoverMode::Maximum);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SoftDiscStamp64);

void BM_DiscStamp64Blend(benchmark::State& state) {
  TChannel c(256, 256);
  c.Fill(0);
  for (auto _ : state) {
    stampDisc(c, kCx, kCy, kR, 0.8f, 200, CoverMode::Blend);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DiscStamp64Blend);

// Reference: memset of the stamp's bounding square, row by row.
void BM_MemsetDiscSquare64(benchmark::State& state) {
  TChannel c(256, 256);
  c.Fill(0);
  const int32_t x0 = int32_t(kCx - kR), x1 = int32_t(kCx + kR);
  const int32_t y0 = int32_t(kCy - kR), y1 = int32_t(kCy + kR);
  int v = 0;
  for (auto _ : state) {
    for (int32_t y = y0; y <= y1; ++y) std::memset(c.Row(y) + x0, v, size_t(x1 - x0 + 1));
    v = (v + 1) & 0xFF;
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MemsetDiscSquare64);

// A star of 500 points (1000 vertices) filling most of a 2048 × 2048 channel.
std::vector<Point> star() {
  std::vector<Point> pts;
  const double pi = 3.14159265358979323846;
  for (int k = 0; k < 1000; ++k) {
    double a = 2 * pi * k / 1000, r = (k % 2) ? 600.0 : 1000.0;
    pts.push_back({int32_t(std::lround(1024 + r * std::cos(a))), int32_t(std::lround(1024 + r * std::sin(a)))});
  }
  pts.push_back(pts.front());
  return pts;
}

void BM_PolygonStar1000(benchmark::State& state) {
  TChannel c(2048, 2048);
  c.Fill(0);
  const std::vector<Point> pts = star();
  for (auto _ : state) {
    // Maximum mode: a second pass over the same picture does the same work.
    benchmark::DoNotOptimize(polygonCoverage(c, pts.data(), int32_t(pts.size())));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * int64_t(c.width) * c.height);
}
BENCHMARK(BM_PolygonStar1000)->Unit(benchmark::kMillisecond);

// Reference: memset of the whole 2048 × 2048 channel.
void BM_MemsetChannel2048(benchmark::State& state) {
  TChannel c(2048, 2048);
  int v = 0;
  for (auto _ : state) {
    std::memset(c.pixels, v, size_t(c.ByteSize()));
    v = (v + 1) & 0xFF;
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * c.ByteSize());
}
BENCHMARK(BM_MemsetChannel2048)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
