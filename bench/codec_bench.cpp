// Compression of event segments and tile runs, and PNG and JPEG of a
// 4096 × 4096 picture, each beside memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "files/compress.h"
#include "files/image_files.h"

namespace {

// Packets of a recorded stroke: repeating head fields, then small moving coordinates.
std::vector<uint8_t> eventSegment() {
  std::vector<uint8_t> d(65536);
  std::mt19937 rng(7);
  for (size_t i = 0; i < d.size(); ++i) d[i] = (i % 16 < 6) ? uint8_t(i % 16) : uint8_t(rng() % 8 + (i / 256) % 64);
  return d;
}

// A painted picture: gradients, flat areas and a little grain.
void paint(vl::TMTC& img) {
  uint32_t seed = 12345;
  for (int32_t y = 0; y < img.height; ++y) {
    uint32_t* row = img.Row(y);
    for (int32_t x = 0; x < img.width; ++x) {
      seed = seed * 1103515245u + 12345u;
      const uint32_t grain = (seed >> 16) & 3;
      const bool flat = ((x >> 9) + (y >> 9)) % 3 == 0;
      const uint32_t r = flat ? 230 : (uint32_t(x) * 255 / uint32_t(img.width) + grain) & 0xFF;
      const uint32_t g = flat ? 220 : (uint32_t(y) * 255 / uint32_t(img.height) + grain) & 0xFF;
      const uint32_t b = flat ? 200 : (uint32_t(x + y) / 40 + grain) & 0xFF;
      row[x] = 0xFF000000u | r << 16 | g << 8 | b;
    }
  }
}

const vl::TMTC& picture();

// A run of n 32 × 32 tiles cut from a painted (not flat) part of the picture.
std::vector<uint8_t> tileRun(int n) {
  std::vector<uint8_t> d;
  for (int t = 0; t < n; ++t)
    for (int32_t y = 600; y < 632; ++y) {
      const uint8_t* p = reinterpret_cast<const uint8_t*>(picture().Row(y) + 600 + 32 * t);
      d.insert(d.end(), p, p + 128);
    }
  return d;
}

// Arg 0: a 64 KiB event segment; n > 0: a run of n 4 KiB tiles.
std::vector<uint8_t> input(int kind) { return kind == 0 ? eventSegment() : tileRun(kind); }

void BM_Memcpy(benchmark::State& state) {
  const std::vector<uint8_t> src = input(int(state.range(0)));
  std::vector<uint8_t> dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size()));
}
BENCHMARK(BM_Memcpy)->Arg(0)->Arg(1)->Arg(16);

void BM_Compress(benchmark::State& state) {
  const std::vector<uint8_t> src = input(int(state.range(0)));
  vl::Block buffer = vl::TryAlloc(65536);
  size_t capacity = 65536;
  vl::CompressSink sink;
  for (auto _ : state) {
    if (vl::compress(src.data(), src.size(), buffer, capacity, sink) != vl::FileError::None) state.SkipWithError("compress");
    benchmark::DoNotOptimize(buffer.get());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size()));
  state.counters["ratio"] = double(src.size()) / double(sink.length);
}
BENCHMARK(BM_Compress)->Arg(0)->Arg(1)->Arg(16);

void BM_Decompress(benchmark::State& state) {
  const std::vector<uint8_t> src = input(int(state.range(0)));
  vl::Block buffer;
  size_t capacity = 0;
  vl::CompressSink sink;
  vl::compress(src.data(), src.size(), buffer, capacity, sink);
  std::vector<uint8_t> dst(src.size());
  for (auto _ : state) {
    if (vl::decompress(buffer.get(), sink.length, dst.data(), dst.size()) != vl::FileError::None)
      state.SkipWithError("decompress");
    benchmark::DoNotOptimize(dst.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(src.size()));
}
BENCHMARK(BM_Decompress)->Arg(0)->Arg(1)->Arg(16);

constexpr int kSide = 4096;
constexpr int64_t kPictureBytes = int64_t(kSide) * kSide * 4;

const vl::TMTC& picture() {
  static vl::TMTC img(kSide, kSide);
  static bool painted = (paint(img), true);
  (void)painted;
  return img;
}

vl::BitmapInfoHeader pictureHeader() {
  vl::BitmapInfoHeader h = picture().InfoHeader(96);
  h.bitCount = 24;
  return h;
}

void BM_MemcpyPicture(benchmark::State& state) {
  const vl::TMTC& src = picture();
  vl::TMTC dst(kSide, kSide);
  for (auto _ : state) {
    std::memcpy(dst.pixels, src.pixels, size_t(kPictureBytes));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kPictureBytes);
}
BENCHMARK(BM_MemcpyPicture)->Unit(benchmark::kMillisecond);

// Arg: the zlib level; −1 the savers' default, the fast level for a picture this large.
void BM_PngSave(benchmark::State& state) {
  vl::ByteBuffer out;
  for (auto _ : state)
    if (vl::encodePng(pictureHeader(), picture(), int(state.range(0)), out) != vl::FileError::None)
      state.SkipWithError("png");
  state.SetBytesProcessed(int64_t(state.iterations()) * kPictureBytes);
  state.counters["file MB"] = double(out.size) / 1e6;
}
BENCHMARK(BM_PngSave)->Arg(-1)->Arg(1)->Arg(3)->Arg(6)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_PngLoad(benchmark::State& state) {
  vl::ByteBuffer file;
  vl::encodePng(pictureHeader(), picture(), -1, file);
  vl::BitmapInfoHeader h;
  vl::TMTC img;
  for (auto _ : state)
    if (vl::loadPngMemory(file.data.get(), file.size, h, img) != vl::FileError::None) state.SkipWithError("png");
  state.SetBytesProcessed(int64_t(state.iterations()) * kPictureBytes);
}
BENCHMARK(BM_PngLoad)->Unit(benchmark::kMillisecond)->Iterations(3);

// Arg: the quality preset type (1 very high = 100, 3 standard = 75).
void BM_JpegSave(benchmark::State& state) {
  vl::JpegOptions o;
  o.qualityType = int(state.range(0));
  vl::ByteBuffer out;
  for (auto _ : state)
    if (vl::encodeJpeg(pictureHeader(), picture(), o, out) != vl::FileError::None) state.SkipWithError("jpeg");
  state.SetBytesProcessed(int64_t(state.iterations()) * kPictureBytes);
  state.counters["file MB"] = double(out.size) / 1e6;
}
BENCHMARK(BM_JpegSave)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_JpegLoad(benchmark::State& state) {
  vl::JpegOptions o;
  o.qualityType = int(state.range(0));
  vl::ByteBuffer file;
  vl::encodeJpeg(pictureHeader(), picture(), o, file);
  vl::BitmapInfoHeader h;
  vl::TMTC img;
  for (auto _ : state)
    if (vl::loadJpegMemory(file.data.get(), file.size, h, img) != vl::FileError::None) state.SkipWithError("jpeg");
  state.SetBytesProcessed(int64_t(state.iterations()) * kPictureBytes);
}
BENCHMARK(BM_JpegLoad)->Arg(1)->Arg(3)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
