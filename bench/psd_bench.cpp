// PSD save and load of a 4000 × 4000 document with 10 layers, beside memcpy
// and zstd (the native format's compressor) of the same pixel bytes.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "files/compress.h"
#include "files/psd.h"

#include "painted_layer.h"

namespace {

constexpr int kSide = 4000;
constexpr int kLayers = 10;
constexpr int kPictures = 3;  // layers share pictures, to keep the benchmark's memory down
// Every layer's four channels and the merged image's three.
constexpr int64_t kChannelBytes = int64_t(kSide) * kSide;
constexpr int64_t kDocumentBytes = kChannelBytes * (4 * kLayers + 3);

const vl::TMTC& picture(int i) {
  static std::unique_ptr<vl::TMTC> pictures[kPictures];
  if (!pictures[i]) {
    pictures[i] = std::make_unique<vl::TMTC>(kSide, kSide);
    bench::paintLayer(*pictures[i], 77u + uint32_t(i));
  }
  return *pictures[i];
}

class Document : public vl::PsdWriteSource {
 public:
  bool LayerRecord(int32_t layer, vl::PsdLayerRecord& r) override {
    r = vl::PsdLayerRecord{};
    r.right = r.bottom = kSide;
    r.channelIds = {-1, 0, 1, 2};
    r.name = "레이어 " + std::to_string(layer);
    return true;
  }
  bool LayerChannelRow(int32_t layer, int16_t id, int32_t row, uint8_t* dst, int32_t width) override {
    vl::psdChannelRow(picture(layer % kPictures).Row(row), width, id, dst);
    return true;
  }
  bool MergedChannelRow(int32_t channel, int32_t row, uint8_t* dst, int32_t width) override {
    return LayerChannelRow(0, int16_t(channel), row, dst, width);
  }
  bool ExtraChannelName(int32_t, std::string&) override { return false; }
  bool ExtraChannelRow(int32_t, int32_t, uint8_t*, int32_t) override { return false; }
  bool LayerName(int32_t, std::string&) override { return false; }
  void Progress(int32_t, int32_t) override {}
};

std::string filePath() { return "/tmp/vl_psd_bench_" + std::to_string(::getpid()) + ".psd"; }

vl::FileError save(const std::string& path) {
  vl::PsdFilePtr w;
  vl::psdCreateWriter(w);
  vl::PsdDocumentDescription d;
  d.width = d.height = kSide;
  d.layerCount = kLayers;
  psdSetDescription(*w, d);
  Document doc;
  return vl::psdWrite(*w, path, doc);
}

void BM_PsdSave(benchmark::State& state) {
  const std::string path = filePath();
  for (int i = 0; i < kPictures; ++i) picture(i);
  for (auto _ : state)
    if (save(path) != vl::FileError::None) state.SkipWithError("psd");
  std::ifstream f(path, std::ios::binary | std::ios::ate);
  state.counters["file MB"] = double(f.tellg()) / 1e6;
  std::remove(path.c_str());
  state.SetBytesProcessed(int64_t(state.iterations()) * kDocumentBytes);
}
BENCHMARK(BM_PsdSave)->Unit(benchmark::kMillisecond)->Iterations(2);

// Every layer as 32-bit pixels and the merged image, from the file in
// memory (arg 0) or read from disk as it goes (arg 1).
void BM_PsdLoad(benchmark::State& state) {
  const std::string path = filePath();
  if (save(path) != vl::FileError::None) state.SkipWithError("psd");
  std::ifstream f(path, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), {});
  vl::TMTC pixels;
  for (auto _ : state) {
    vl::PsdFilePtr r;
    const vl::FileError e =
        state.range(0) == 0 ? vl::psdOpenMemory(bytes.data(), bytes.size(), r) : vl::psdOpenReader(path, r);
    if (e != vl::FileError::None) state.SkipWithError("open");
    for (int i = 0; i < kLayers; ++i)
      if (vl::psdReadLayerPixels(*r, i, pixels) != vl::FileError::None) state.SkipWithError("layer");
    if (vl::psdReadMergedPixels(*r, pixels) != vl::FileError::None) state.SkipWithError("merged");
    benchmark::DoNotOptimize(pixels.pixels);
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(int64_t(state.iterations()) * kDocumentBytes);
}
BENCHMARK(BM_PsdLoad)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2);

// The references: the same bytes (10 layers and the merged image as 32-bit
// pixels) copied, and compressed and decompressed by zstd.
void BM_MemcpyDocument(benchmark::State& state) {
  vl::TMTC dst(kSide, kSide);
  for (auto _ : state) {
    for (int i = 0; i < kLayers + 1; ++i)
      std::memcpy(dst.pixels, picture(i % kPictures).pixels, size_t(kChannelBytes) * 4);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kChannelBytes * 4 * (kLayers + 1));
}
BENCHMARK(BM_MemcpyDocument)->Unit(benchmark::kMillisecond);

void BM_ZstdDocument(benchmark::State& state) {
  const bool decompress = state.range(0) == 1;
  vl::Block buffers[kPictures];
  size_t capacities[kPictures] = {};
  size_t lengths[kPictures] = {};
  for (int i = 0; i < kPictures; ++i) {
    vl::CompressSink sink;
    vl::compress(picture(i).pixels, size_t(kChannelBytes) * 4, buffers[i], capacities[i], sink);
    lengths[i] = sink.length;
  }
  vl::TMTC dst(kSide, kSide);
  vl::Block work;
  size_t capacity = 0;
  for (auto _ : state) {
    for (int i = 0; i < kLayers + 1; ++i) {
      const int p = i % kPictures;
      if (decompress) {
        if (vl::decompress(buffers[p].get(), lengths[p], dst.pixels, size_t(kChannelBytes) * 4) != vl::FileError::None)
          state.SkipWithError("zstd");
      } else {
        vl::CompressSink sink;
        if (vl::compress(picture(p).pixels, size_t(kChannelBytes) * 4, work, capacity, sink) != vl::FileError::None)
          state.SkipWithError("zstd");
      }
    }
    benchmark::ClobberMemory();
  }
  double compressed = 0;
  for (int i = 0; i < kLayers + 1; ++i) compressed += double(lengths[i % kPictures]);
  state.counters["file MB"] = compressed / 1e6;
  state.SetBytesProcessed(int64_t(state.iterations()) * kChannelBytes * 4 * (kLayers + 1));
}
BENCHMARK(BM_ZstdDocument)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
