// The oldest drawings' pen: a 1000-point stroke across a 4000 × 4000 paper
// in the legacy generation, each segment rebuilt and recomposed as on
// screen. The reference, measured in the same run, is memset of every dab's
// bounding square in a coverage channel of the same size: what writing the
// dabs would cost with no disc, no line and no colour at all.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "document/paper.h"
#include "drawing/stroke_protocol.h"

namespace {

constexpr int32_t kSide = 4000;
constexpr int kPoints = 1000;
constexpr float kWidths[] = {3, 7, 30, 150};

std::vector<vl::StrokePoint> strokePoints() {
  std::vector<vl::StrokePoint> p;
  for (int i = 0; i < kPoints; ++i) {
    const float t = float(i) / (kPoints - 1);
    p.push_back({200 + 3600 * t, 2000 + 900 * std::sin(t * 9.0f), 1.0f});
  }
  return p;
}

void BM_LegacyPenStroke(benchmark::State& state) {
  const float width = kWidths[state.range(0)];
  const std::vector<vl::StrokePoint> points = strokePoints();
  vl::TPaper paper;
  vl::TFlowImage flow(paper);
  paper.drawGeneration = vl::DrawGeneration::Legacy;
  paper.playingBack = true;
  if (!paper.newPaper(flow, "bench", 72, kSide, kSide)) {
    state.SkipWithError("no paper");
    return;
  }
  vl::TStroke stroke;
  stroke.ResetDefaults(vl::kBrushPen);
  stroke.width = width;
  stroke.sizeByPressure = stroke.opacityByPressure = false;
  vl::StrokeSession session;
  vl::TChannel reference(kSide, kSide);
  reference.Fill(0);
  double ours = 0, memsetTime = 0;
  int64_t dabs = 0;
  for (auto _ : state) {
    paper.clearLayerPixels(0);
    paper.loadLayerToFlow(flow, 0, true);
    paper.recomposeAll(true);
    auto start = std::chrono::steady_clock::now();
    stroke.layerIndex = 0;
    vl::BeginStroke(paper, flow, stroke, session, false, points[0].pressure, points[0].y, points[0].x);
    for (int i = 1; i < kPoints; ++i)
      vl::AddStrokePoint(paper, flow, stroke, session, false, points[i].pressure, points[i].y, points[i].x);
    dabs = stroke.dabCount;
    vl::EndStroke(paper, flow, stroke, session, false);
    const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(t);
    ours += t;
    // The same number of squares of the dab's size along the same path.
    const int32_t r = int32_t(std::ceil(width)), side = 2 * r + 1;
    start = std::chrono::steady_clock::now();
    for (int64_t d = 0; d < dabs; ++d) {
      const vl::StrokePoint& p = points[size_t(d * (kPoints - 1) / std::max<int64_t>(dabs, 1))];
      const int32_t x0 = std::clamp(int32_t(p.x) - r, 0, kSide - side), y0 = std::clamp(int32_t(p.y) - r, 0, kSide - side);
      for (int32_t y = y0; y < y0 + side; ++y) std::memset(reference.Row(y) + x0, int(d & 0xFF), size_t(side));
    }
    benchmark::ClobberMemory();
    memsetTime += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  state.SetLabel("width " + std::to_string(int(width)));
  state.counters["dabs"] = double(dabs);
  state.counters["dabs/s"] = benchmark::Counter(double(dabs), benchmark::Counter::kIsIterationInvariantRate);
  // Our stroke's time over memset's; 1 would be as cheap as clearing the squares.
  if (memsetTime > 0) state.counters["x_memset"] = ours / memsetTime;
}
BENCHMARK(BM_LegacyPenStroke)->DenseRange(0, 3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
