// Rebuilding a 1920 × 1080 view of a 4000 × 4000 composite through the
// smoothed and the nearest-pixel renderers, beside memcpy of the view's
// bytes: the memory-bandwidth yardstick for the same run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "document/paper.h"

namespace {

constexpr int kSide = 4000;
constexpr int kViewWidth = 1920, kViewHeight = 1080;

struct Canvas {
  vl::HeadlessView view{kViewWidth, kViewHeight};
  vl::TPaper paper{&view};
  Canvas() {
    paper.width = paper.height = kSide;
    paper.compositeImage.Resize(kSide, kSide);
    uint32_t s = 99;
    for (int y = 0; y < kSide; ++y) {
      uint32_t* row = paper.compositeImage.Row(y);
      for (int x = 0; x < kSide; ++x) row[x] = 0xFF000000u | ((s = s * 1664525u + 1013904223u) >> 8);
    }
  }
};

Canvas& canvas() {
  static Canvas c;
  return c;
}

void setFrameRate(benchmark::State& state) {
  state.counters["frames/s"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["Mpix/s"] =
      benchmark::Counter(double(kViewWidth) * kViewHeight * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_MemcpyView(benchmark::State& state) {
  const size_t bytes = size_t(kViewWidth) * kViewHeight * 4;
  std::vector<uint8_t> from(bytes, 1), to(bytes, 2);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::ClobberMemory();
  }
  setFrameRate(state);
}
BENCHMARK(BM_MemcpyView)->Unit(benchmark::kMillisecond);

// Args: zoom level, smoothing on (1) or off (0), view rotation in degrees.
void BM_ViewRebuild(benchmark::State& state) {
  Canvas& c = canvas();
  vl::TPaper& p = c.paper;
  p.setZoomLevel(int(state.range(0)));
  p.zoomAntialias = state.range(1) != 0;
  p.setRotationDegrees(float(state.range(2)));
  p.setRotationCentre(2000.0f, 2000.0f);
  p.setWindowOffset(0, 0);
  p.setViewOrigin(64, 64);
  for (auto _ : state) {
    p.renderView(vl::Area(0, 0, kSide, kSide));
    c.view.presented.clear();
    benchmark::ClobberMemory();
  }
  setFrameRate(state);
}
BENCHMARK(BM_ViewRebuild)
    ->ArgNames({"level", "smooth", "degrees"})
    ->Args({-3, 1, 0})
    ->Args({-3, 0, 0})
    ->Args({1, 1, 0})
    ->Args({1, 0, 0})
    ->Args({0, 1, 30})
    ->Args({0, 0, 30})
    ->Args({1, 1, 30})
    ->Args({1, 0, 30})
    // The whole composite in view: the largest footprints.
    ->Args({-8, 1, 0})
    ->Args({-8, 1, 30})
    ->Unit(benchmark::kMillisecond);

}  // namespace
