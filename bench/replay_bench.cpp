// Recording and replaying: a 10 000-point stroke and 1 000 layer commands
// recorded (bytes per point, packets per second), strokes with and without
// recording, and the replay of a long session on a 4000 × 4000 paper with
// no window, against the time the drawing would have taken by hand and
// beside the walk over its packets alone; eight recorded drawings exported
// on one thread and on every core.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <random>
#include <thread>

#include "events/event_render.h"
#include "undo/undo_manager.h"

namespace {

constexpr int32_t kSide = 4000;

struct Live {
  vl::TPaper paper;
  vl::TFlowImage flow{paper};
  vl::TStroke stroke;
  vl::CEventMngr* events = nullptr;
  explicit Live(bool record, int32_t side = kSide) {
    if (record) {
      auto rec = std::make_unique<vl::CEventMngr>(paper);
      events = rec.get();
      rec->start(&stroke, 1033, 1033);
      paper.setEventHook(std::move(rec));
    }
    paper.setUndoHook(std::make_unique<vl::CUndoMngrEx>(paper, 32, 999, 999));
    paper.newPaper(flow, "b", 72, side, side);
  }
  void Stroke(int kind, float width, int points, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(0, 1);
    stroke.ResetDefaults(kind);
    stroke.SetWidth(width);
    stroke.SetColour(rng() & 0xFFFFFF);
    stroke.layerIndex = paper.currentLayerIndex();
    vl::StrokeSession s;
    const float side = float(paper.width);
    float x = 100 + u(rng) * (side - 200), y = 100 + u(rng) * (side - 200);
    vl::BeginStrokeOffset(paper, flow, stroke, s, events != nullptr, 0.5f, y, x);
    for (int i = 1; i < points; ++i) {
      x = std::clamp(x + (u(rng) - 0.5f) * 12, 0.0f, side);
      y = std::clamp(y + (u(rng) - 0.5f) * 12, 0.0f, side);
      vl::AddStrokePoint(paper, flow, stroke, s, events != nullptr, 0.3f + 0.7f * u(rng), y, x);
    }
    vl::EndStroke(paper, flow, stroke, s, events != nullptr);
  }
};

void BM_RecordALongStroke(benchmark::State& state) {
  Live live(true);
  int64_t bytes = 0;
  for (auto _ : state) {
    const uint32_t before = live.events->WritePos();
    live.Stroke(vl::kBrushPen, 5, 10000, 1);
    bytes = live.events->WritePos() - before;
  }
  state.counters["bytes/point"] = double(bytes) / 10000.0;
}
BENCHMARK(BM_RecordALongStroke)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RecordLayerCommands(benchmark::State& state) {
  Live live(true, 256);
  for (auto _ : state) {
    for (int i = 0; i < 1000; ++i) live.paper.setLayerOpacity(0, uint8_t(i), true);
  }
  state.counters["packets/s"] = benchmark::Counter(1000, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_RecordLayerCommands)->Unit(benchmark::kMillisecond);

// The same strokes with and without recording: what recording adds.
void BM_StrokesRecordedOrNot(benchmark::State& state) {
  const bool record = state.range(0) != 0;
  Live live(record);
  for (auto _ : state)
    for (int k = 0; k < 20; ++k) live.Stroke(k % 2 ? vl::kBrushAirbrush : vl::kBrushPen, 10 + 5.0f * (k % 4), 400, k);
  state.SetLabel(record ? "recorded" : "not recorded");
}
BENCHMARK(BM_StrokesRecordedOrNot)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// A long session of mixed kinds and widths, recorded once.
struct Session {
  vl::EventStreamFile file;
  int64_t points = 0;
};
const Session& longSession() {
  static Session s;
  if (!s.file.stream.empty()) return s;
  Live live(true);
  const int kinds[] = {vl::kBrushPen, vl::kBrushAirbrush, vl::kBrushWatercolour, vl::kBrushEraser, vl::kBrushDarken};
  const float widths[] = {3, 8, 20, 40};
  for (int k = 0; k < 2000; ++k) {
    if (k % 200 == 0) live.paper.insertLayer(live.flow, live.paper.layerCount(), true, 255, 3, kSide, kSide, true);
    const int points = 20 + k % 60;
    live.Stroke(kinds[k % 5], widths[(k / 5) % 4], points, uint32_t(k));
    s.points += points;
  }
  live.events->writeStream(s.file.stream);
  s.file.steps = live.events->StepCount();
  return s;
}

void BM_ReplayLongSession(benchmark::State& state) {
  const Session& s = longSession();
  double seconds = 0;
  for (auto _ : state) {
    vl::HeadlessReplay replay;
    replay.Open(s.file, false);
    const auto t0 = std::chrono::steady_clock::now();
    replay.PlayToEnd();
    const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.SetIterationTime(t);
    seconds += t;
  }
  const double perRun = seconds / double(state.iterations());
  // A hand gives a tablet about 120 points a second.
  const double drawn = double(s.points) / 120.0;
  state.counters["steps/s"] = double(s.file.steps) / perRun;
  state.counters["faster_than_drawn"] = drawn / perRun;
  state.counters["points"] = double(s.points);
}
BENCHMARK(BM_ReplayLongSession)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

// The walk over every packet, sizes read and payloads copied, without running them.
void BM_PacketWalkOfTheSession(benchmark::State& state) {
  const Session& s = longSession();
  vl::TPaper paper;
  vl::CEventMngr events(paper);
  events.loadStream(s.file.stream, s.file.steps, 17, 0);
  for (auto _ : state) {
    bool found = false;
    benchmark::DoNotOptimize(events.scanStatusFlags(true, 0, 0x8000, found));
    std::vector<uint8_t> copy;
    events.writeStream(copy);
    benchmark::DoNotOptimize(copy.data());
  }
  state.counters["MB"] = double(s.file.stream.size()) / 1e6;
}
BENCHMARK(BM_PacketWalkOfTheSession)->Unit(benchmark::kMillisecond);


// Eight drawings of 300 strokes on 2000 × 2000 papers, exported to PNG by one
// thread and then by one per core; the time is that of every core, and
// "speedup" is one thread's time over it.
void BM_ExportEightDrawings(benchmark::State& state) {
  char pattern[] = "/tmp/vl-export-bench-XXXXXX";
  const char* made = ::mkdtemp(pattern);
  if (!made) {
    state.SkipWithError("no temporary folder");
    return;
  }
  const std::string dir = made;
  std::vector<std::string> inputs;
  const int kinds[] = {vl::kBrushPen, vl::kBrushAirbrush, vl::kBrushWatercolour, vl::kBrushEraser, vl::kBrushDarken};
  for (int d = 0; d < 8; ++d) {
    Live live(true, 2000);
    for (int k = 0; k < 300; ++k) live.Stroke(kinds[k % 5], float(4 + (k * 7) % 36), 20 + k % 60, uint32_t(d * 1000 + k));
    inputs.push_back(dir + "/d" + std::to_string(d) + ".ve3");
    vl::saveEventStream(inputs.back(), live.paper, *live.events, true);
  }
  auto timed = [&](int32_t threads) {
    const auto t0 = std::chrono::steady_clock::now();
    const std::vector<std::string> failed = vl::exportFiles(inputs, dir, 0, threads);
    if (!failed.empty()) state.SkipWithError(failed.front().c_str());
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  };
  double serial = 0, parallel = 0;
  for (auto _ : state) {
    serial += timed(1);
    const double t = timed(0);
    parallel += t;
    state.SetIterationTime(t);
  }
  state.counters["speedup"] = serial / parallel;
  state.counters["cores"] = double(std::thread::hardware_concurrency());
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ExportEightDrawings)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
