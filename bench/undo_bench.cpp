// Undo and redo of a stroke on a 4000 × 4000 painted layer beside memcpy of
// the stroke rectangle's pixels in the same run, and a stroke with and
// without its undo record.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include "document/paper.h"
#include "drawing/stroke_protocol.h"
#include "undo/undo_manager.h"

namespace {

constexpr int32_t kSide = 4000;

struct Painted {
  vl::TPaper paper;
  vl::TFlowImage flow{paper};
  vl::TStroke stroke;
  vl::CUndoMngrEx* undo = nullptr;
  explicit Painted(bool withUndo) {
    paper.newPaper(flow, "b", 72, kSide, kSide);
    if (withUndo) {
      auto u = std::make_unique<vl::CUndoMngrEx>(paper, 32, 999, 999);
      undo = u.get();
      paper.setUndoHook(std::move(u));
    }
    vl::TMTC content(kSide, 64);
    for (int32_t y = 0; y < content.height; ++y)
      for (int32_t x = 0; x < content.width; ++x) content.Row(y)[x] = 0xFF000000u | uint32_t(x * 31 + y * 17);
    for (int32_t y = 0; y < kSide; y += 64) paper.layerAt(0)->pixels->WriteFrom(content, {0, y}, 255, content.area());
    paper.loadLayerToFlow(flow, 0, true);
    stroke.ResetDefaults(vl::kBrushPen);
    stroke.SetWidth(30);
    stroke.SetSizeByPressure(false);
  }
  // A stroke across the paper: 300 points.
  vl::Area Stroke(bool record) {
    stroke.layerIndex = 0;
    vl::StrokeSession s;
    vl::BeginStrokeOffset(paper, flow, stroke, s, record, 1, 2000, 200);
    for (int i = 1; i < 300; ++i)
      vl::AddStrokePoint(paper, flow, stroke, s, record, 1, 2000 + 600 * std::sin(i * 0.02f), 200 + 12.0f * i);
    return vl::EndStroke(paper, flow, stroke, s, record);
  }
};

double rectBytes = 0;

void BM_MemcpyOfTheStrokeRectangle(benchmark::State& state) {
  Painted p(false);
  const vl::Area r = p.Stroke(false);
  const size_t bytes = size_t(r.width) * size_t(r.height) * 4;
  std::vector<uint8_t> a(bytes, 1), b(bytes);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), bytes);
    benchmark::DoNotOptimize(b.data());
  }
  rectBytes = double(bytes);
  state.counters["MB"] = double(bytes) / 1e6;
}
BENCHMARK(BM_MemcpyOfTheStrokeRectangle)->Unit(benchmark::kMillisecond);

void BM_UndoRedoOfAStroke(benchmark::State& state) {
  Painted p(true);
  p.Stroke(true);
  for (auto _ : state) {
    int32_t l;
    vl::Area r;
    p.paper.undoStep(p.flow, l, r);
    p.paper.redoStep(p.flow, l, r);
  }
  state.SetLabel("one undo and one redo");
}
BENCHMARK(BM_UndoRedoOfAStroke)->Unit(benchmark::kMillisecond);

// The pixels alone: the record traded with the layer both ways, without the
// recomposing and repainting that follow an undo in the window.
void BM_UndoRedoDataOfAStroke(benchmark::State& state) {
  Painted p(true);
  p.Stroke(true);
  for (auto _ : state) {
    vl::UndoOutcome out;
    p.undo->Undo(out);
    p.undo->Redo(out);
  }
  state.SetLabel("one undo and one redo, pixels only");
}
BENCHMARK(BM_UndoRedoDataOfAStroke)->Unit(benchmark::kMillisecond);

// The stroke alone, and with its undo record pushed.
void BM_Stroke(benchmark::State& state) {
  const bool withUndo = state.range(0) != 0;
  Painted p(withUndo);
  for (auto _ : state) {
    p.Stroke(withUndo);
    if (withUndo) p.undo->ClearAll();
  }
  state.SetLabel(withUndo ? "with undo" : "without undo");
}
BENCHMARK(BM_Stroke)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
