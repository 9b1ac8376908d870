// Saving and opening a native paper file of a 4000 × 4000 paper with ten
// painted layers, beside zstd at level 3 of the same pixel bytes (the
// yardstick: at most 1.3 × its time) and memcpy of them.
#include <benchmark/benchmark.h>
#include <zstd.h>

#include <cstring>
#include <memory>
#include <vector>

#include "document/blend_modes.h"
#include "document/paper.h"
#include "paperfile/paper_file.h"
#include "platform/ui_services.h"

#include "painted_layer.h"

namespace {

constexpr int kSide = 4000;
constexpr int kLayers = 10;
constexpr int64_t kLayerBytes = int64_t(kSide) * kSide * 4;

struct Document {
  vl::TPaper paper;
  vl::TFlowImage flow{paper};
  std::vector<std::unique_ptr<vl::TMTC>> pictures;
  Document() {
    paper.newPaper(flow, "bench", 72, kSide, kSide);
    for (int i = 1; i < kLayers; ++i) paper.layers.AppendNew(kSide, kSide, 1, 255, vl::kModeNormal, false);
    for (int i = 0; i < kLayers; ++i) {
      pictures.push_back(std::make_unique<vl::TMTC>(kSide, kSide));
      bench::paintLayer(*pictures.back(), 77u + uint32_t(i), 0x00FFFFFFu);
      vl::CBlockVMTC& image = *paper.layerAt(i)->pixels;
      image.WriteFrom(*pictures.back(), {0, 0}, 255, pictures.back()->area());
      image.Compact();
    }
    paper.recomposeAll(false);
  }
};

Document& document() {
  static Document d;
  return d;
}

std::vector<uint8_t> saved(int threads) {
  vl::MemorySink sink;
  sink.bytes.reserve(size_t(kLayerBytes) * kLayers / 2);
  vl::PaperSaveOptions o;
  o.threads = threads;
  vl::writePaperFile(document().paper, sink, o);
  return std::move(sink.bytes);
}

// Arg: compressing threads (0 as many as the machine has).
void BM_PaperFileSave(benchmark::State& state) {
  vl::ScopedUiCapture quiet;
  Document& d = document();
  vl::MemorySink sink;
  sink.bytes.reserve(size_t(kLayerBytes) * kLayers / 2);
  vl::PaperSaveOptions o;
  o.threads = int(state.range(0));
  for (auto _ : state) {
    sink.bytes.clear();
    if (vl::writePaperFile(d.paper, sink, o) != vl::FileError::None) state.SkipWithError("save");
  }
  state.counters["file MB"] = double(sink.bytes.size()) / 1e6;
  state.SetBytesProcessed(int64_t(state.iterations()) * kLayerBytes * kLayers);
}
BENCHMARK(BM_PaperFileSave)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);

// Arg: decoding threads (0 as many as the machine has).
void BM_PaperFileLoad(benchmark::State& state) {
  vl::ScopedUiCapture quiet;
  const std::vector<uint8_t> file = saved(0);
  vl::PaperLoadOptions o;
  o.threads = int(state.range(0));
  for (auto _ : state) {
    vl::TPaper paper;
    vl::TFlowImage flow{paper};
    vl::MemoryInput in(file.data(), file.size());
    if (vl::loadPaperFile(in, paper, flow, "bench.vci", o) != vl::FileError::None) state.SkipWithError("load");
    benchmark::DoNotOptimize(paper.layerCount());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kLayerBytes * kLayers);
}
BENCHMARK(BM_PaperFileLoad)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(3);

// The references, over the layers' pixels.
void BM_Zstd3Layers(benchmark::State& state) {
  Document& d = document();
  std::unique_ptr<ZSTD_CCtx, size_t (*)(ZSTD_CCtx*)> ctx(ZSTD_createCCtx(), ZSTD_freeCCtx);
  std::vector<uint8_t> out(ZSTD_compressBound(size_t(kLayerBytes)));
  size_t total = 0;
  for (auto _ : state) {
    total = 0;
    for (int i = 0; i < kLayers; ++i) {
      const size_t n = ZSTD_compressCCtx(ctx.get(), out.data(), out.size(), d.pictures[size_t(i)]->pixels,
                                         size_t(kLayerBytes), 3);
      if (ZSTD_isError(n)) state.SkipWithError("zstd");
      total += n;
    }
  }
  state.counters["file MB"] = double(total) / 1e6;
  state.SetBytesProcessed(int64_t(state.iterations()) * kLayerBytes * kLayers);
}
BENCHMARK(BM_Zstd3Layers)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_MemcpyLayers(benchmark::State& state) {
  Document& d = document();
  vl::TMTC dst(kSide, kSide);
  for (auto _ : state) {
    for (int i = 0; i < kLayers; ++i) std::memcpy(dst.pixels, d.pictures[size_t(i)]->pixels, size_t(kLayerBytes));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kLayerBytes * kLayers);
}
BENCHMARK(BM_MemcpyLayers)->Unit(benchmark::kMillisecond);

}  // namespace
