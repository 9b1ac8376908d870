// A 1000-point pen stroke across a 4000 × 4000 paper, each segment rebuilt
// and recomposed as on screen; beside it the same round dabs (same centres,
// radius, hard edge, full opacity) through libmypaint's dab renderer on its
// fixed tiled surface, measured in the same run.
#include <benchmark/benchmark.h>
#include <mypaint-fixed-tiled-surface.h>
#include <omp.h>

#include <chrono>
#include <cmath>
#include <vector>

#include "document/paper.h"
#include "drawing/stroke_protocol.h"

namespace {

constexpr int32_t kSide = 4000;
constexpr int kPoints = 1000;
constexpr float kWidths[] = {5, 30, 150};

// Left to right with a slow wave, the way a hand crosses the page.
std::vector<vl::StrokePoint> strokePoints() {
  std::vector<vl::StrokePoint> p;
  for (int i = 0; i < kPoints; ++i) {
    const float t = float(i) / (kPoints - 1);
    p.push_back({200 + 3600 * t, 2000 + 900 * std::sin(t * 9.0f), 1.0f});
  }
  return p;
}

// The dab centres the walk produces for a pen without pressure, per segment:
// the same smoothing, unit steps and interval, written out here so that the
// reference paints exactly where we do.
std::vector<std::vector<std::pair<float, float>>> dabCentres(float width) {
  const std::vector<vl::StrokePoint> in = strokePoints();
  std::vector<std::vector<std::pair<float, float>>> segments;
  float sx = in[0].x, sy = in[0].y;  // the newest smoothed point
  int step = 0;
  const int k = width < 8 ? 1 : int(std::ceil(0.1666667f * width));
  for (int i = 1; i < kPoints; ++i) {
    const float nx = (in[i].x + sx) / 2, ny = (in[i].y + sy) / 2;
    const float dx = nx - sx, dy = ny - sy, L = std::max(std::fabs(dx), std::fabs(dy));
    std::vector<std::pair<float, float>> dabs;
    if (L > 0) {
      const float a = L < 1 ? 1.0f : (std::fabs(dx) >= std::fabs(dy) ? std::fabs(dx) : std::fabs(dy));
      const float ux = dx / a, uy = dy / a;
      float X = sx + 0.5f, Y = sy + 0.5f;
      for (int n = int(std::ceil(L)); n > 0; --n) {
        if (step % k == 0) dabs.push_back({X, Y});
        X += ux, Y += uy;
        ++step;
      }
    }
    segments.push_back(std::move(dabs));
    sx = nx, sy = ny;
  }
  return segments;
}

// libmypaint's dabs per second at each width, filled by its benchmark (run first).
double referenceRate[3] = {0, 0, 0};

void BM_LibMyPaintDabs(benchmark::State& state) {
  const int w = int(state.range(0));
  const float radius = kWidths[w];
  omp_set_num_threads(int(state.range(1)));
  const auto segments = dabCentres(radius);
  int64_t dabs = 0;
  for (const auto& s : segments) dabs += int64_t(s.size());
  double seconds = 0;
  int64_t iterations = 0;
  for (auto _ : state) {
    MyPaintFixedTiledSurface* fixed = mypaint_fixed_tiled_surface_new(kSide, kSide);
    MyPaintSurface* surface = mypaint_fixed_tiled_surface_interface(fixed);
    const auto start = std::chrono::steady_clock::now();
    // One atomic block per segment, as an engine refreshing per input point would do.
    for (const auto& s : segments) {
      mypaint_surface_begin_atomic(surface);
      for (const auto& [x, y] : s)
        mypaint_surface_draw_dab(surface, x, y, radius, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f);
      MyPaintRectangle roi{};
      mypaint_surface_end_atomic(surface, &roi);
    }
    const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(t);
    seconds += t;
    ++iterations;
    mypaint_surface_unref(surface);
  }
  if (state.range(1) == 1 && seconds > 0) referenceRate[w] = double(dabs) * iterations / seconds;
  state.SetLabel("radius " + std::to_string(int(radius)) + ", " + std::to_string(state.range(1)) + " thread(s)");
  state.counters["dabs"] = double(dabs);
  state.counters["dabs/s"] = benchmark::Counter(double(dabs), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["points/s"] = benchmark::Counter(kPoints, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LibMyPaintDabs)
    ->Args({0, 1})->Args({1, 1})->Args({2, 1})->Args({0, 2})->Args({1, 2})->Args({2, 2})
    ->UseManualTime()->Unit(benchmark::kMillisecond);

// Our pen through the whole protocol: walk, coverage dabs, per-segment
// rebuild of the flow colour and recomposition of the segment's rectangle.
void BM_PenStroke(benchmark::State& state) {
  const int w = int(state.range(0));
  const std::vector<vl::StrokePoint> points = strokePoints();
  vl::TPaper paper;
  vl::TFlowImage flow(paper);
  if (!paper.newPaper(flow, "bench", 72, kSide, kSide)) {
    state.SkipWithError("no paper");
    return;
  }
  vl::TStroke stroke;
  stroke.ResetDefaults(vl::kBrushPen);
  stroke.SetWidth(kWidths[w]);
  stroke.SetSizeByPressure(false);
  stroke.SetOpacityByPressure(false);
  stroke.SetColour(0x000000);
  vl::StrokeSession session;
  int64_t dabs = 0;
  double seconds = 0;
  int64_t iterations = 0;
  for (auto _ : state) {
    // A blank layer for every run; not timed.
    paper.clearLayerPixels(0);
    paper.loadLayerToFlow(flow, 0, true);
    paper.recomposeAll(true);
    const auto start = std::chrono::steady_clock::now();
    stroke.layerIndex = 0;
    vl::BeginStrokeOffset(paper, flow, stroke, session, false, points[0].pressure, points[0].y, points[0].x);
    for (int i = 1; i < kPoints; ++i)
      vl::AddStrokePoint(paper, flow, stroke, session, false, points[i].pressure, points[i].y, points[i].x);
    dabs = stroke.dabCount;
    vl::EndStroke(paper, flow, stroke, session, false);
    const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(t);
    seconds += t;
    ++iterations;
  }
  int64_t expected = 0;
  for (const auto& s : dabCentres(kWidths[w])) expected += int64_t(s.size());
  if (dabs != expected) state.SkipWithError("the reference's dab centres differ from ours");
  state.SetLabel("width " + std::to_string(int(kWidths[w])));
  state.counters["dabs"] = double(dabs);
  state.counters["dabs/s"] = benchmark::Counter(double(dabs), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["points/s"] = benchmark::Counter(kPoints, benchmark::Counter::kIsIterationInvariantRate);
  // Ours over libmypaint's single-threaded dabs per second; above 1 we are faster.
  if (referenceRate[w] > 0 && seconds > 0)
    state.counters["vs_libmypaint"] = double(dabs) * iterations / seconds / referenceRate[w];
}
BENCHMARK(BM_PenStroke)->Arg(0)->Arg(1)->Arg(2)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
