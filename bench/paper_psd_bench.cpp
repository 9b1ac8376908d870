// A 4000 × 4000 paper of 10 painted layers saved as PSD and opened again as
// a paper (recorded into its event stream, or not), beside memcpy and zstd
// of the same pixel bytes in the same run.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>

#include "document/blend_modes.h"
#include "document/paper.h"
#include "events/event_manager.h"
#include "files/compress.h"
#include "paperfile/paper_psd.h"

#include "painted_layer.h"

namespace {

constexpr int kSide = 4000;
constexpr int kLayers = 10;
constexpr int64_t kLayerBytes = int64_t(kSide) * kSide * 4;
// Every layer and the composite.
constexpr int64_t kDocumentBytes = kLayerBytes * (kLayers + 1);

struct Document {
  vl::TPaper paper;
  vl::TFlowImage flow{paper};
  vl::TMTC picture{kSide, kSide};
  Document() {
    paper.newPaper(flow, "bench", 72, kSide, kSide);
    for (int i = 0; i < kLayers; ++i) {
      if (i > 0) paper.insertLayer(flow, i, true, 255, i % 3 == 2 ? vl::kModeMultiply : vl::kModeNormal, kSide, kSide, false);
      bench::paintLayer(picture, 77u + uint32_t(i));
      paper.pasteIntoLayer(flow, i, picture, false);
    }
    paper.recomposeAll(false);
  }
};

Document& document() {
  static std::unique_ptr<Document> d;
  if (!d) d = std::make_unique<Document>();
  return *d;
}

std::string filePath() { return "/tmp/vl_paper_psd_bench_" + std::to_string(::getpid()) + ".psd"; }

void BM_PaperPsdSave(benchmark::State& state) {
  Document& d = document();
  const std::string path = filePath();
  for (auto _ : state)
    if (vl::savePaperPsd(d.paper, path, 6, true) != 0) state.SkipWithError("save");
  std::ifstream f(path, std::ios::binary | std::ios::ate);
  state.counters["file MB"] = double(f.tellg()) / 1e6;
  std::remove(path.c_str());
  state.SetBytesProcessed(int64_t(state.iterations()) * kDocumentBytes);
}
BENCHMARK(BM_PaperPsdSave)->Unit(benchmark::kMillisecond)->Iterations(2);

// The file opened as a new paper: arg 0 without recording, arg 1 into an
// event stream as a canvas window's paper records it.
void BM_PaperPsdLoad(benchmark::State& state) {
  const std::string path = filePath();
  if (vl::savePaperPsd(document().paper, path, 6, true) != 0) state.SkipWithError("save");
  const bool record = state.range(0) == 1;
  for (auto _ : state) {
    vl::PsdFilePtr r;
    if (vl::psdOpenReader(path, r) != vl::FileError::None) state.SkipWithError("open");
    vl::PsdPaperSize size;
    vl::psdPaperSize(*r, size);
    auto paper = std::make_unique<vl::TPaper>();
    vl::TFlowImage flow(*paper);
    if (record) {
      auto recorder = std::make_unique<vl::CEventMngr>(*paper);
      recorder->start(nullptr, 42, 42);
      paper->setEventHook(std::move(recorder));
    }
    paper->newPaper(flow, "bench", size.resolution, size.height, size.width);
    if (vl::psdIntoPaper(*r, *paper, flow, record) != 0) state.SkipWithError("load");
    benchmark::DoNotOptimize(paper->layerAt(kLayers - 1));
    state.PauseTiming();
    paper.reset();
    state.ResumeTiming();
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(int64_t(state.iterations()) * kDocumentBytes);
}
BENCHMARK(BM_PaperPsdLoad)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2);

// The references: the same bytes (every layer and the composite) copied,
// and compressed and decompressed by zstd.
void BM_MemcpyPaper(benchmark::State& state) {
  Document& d = document();
  vl::TMTC dst(kSide, kSide);
  for (auto _ : state) {
    for (int i = 0; i < kLayers + 1; ++i) {
      // The last picture painted stands for each layer's bytes.
      std::memcpy(dst.pixels, d.picture.pixels, size_t(kLayerBytes));
    }
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kDocumentBytes);
}
BENCHMARK(BM_MemcpyPaper)->Unit(benchmark::kMillisecond);

void BM_ZstdPaper(benchmark::State& state) {
  Document& d = document();
  const bool decompress = state.range(0) == 1;
  vl::Block packed;
  size_t capacity = 0;
  vl::CompressSink sink;
  vl::compress(d.picture.pixels, size_t(kLayerBytes), packed, capacity, sink);
  const size_t length = sink.length;
  vl::TMTC dst(kSide, kSide);
  vl::Block work;
  size_t workCapacity = 0;
  for (auto _ : state) {
    for (int i = 0; i < kLayers + 1; ++i) {
      if (decompress) {
        if (vl::decompress(packed.get(), length, dst.pixels, size_t(kLayerBytes)) != vl::FileError::None)
          state.SkipWithError("zstd");
      } else {
        vl::CompressSink s;
        if (vl::compress(d.picture.pixels, size_t(kLayerBytes), work, workCapacity, s) != vl::FileError::None)
          state.SkipWithError("zstd");
      }
    }
    benchmark::ClobberMemory();
  }
  state.counters["file MB"] = double(length) * (kLayers + 1) / 1e6;
  state.SetBytesProcessed(int64_t(state.iterations()) * kDocumentBytes);
}
BENCHMARK(BM_ZstdPaper)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
