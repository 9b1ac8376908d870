// Rebuilding the whole composite of a 4000 × 4000 paper from ten standard
// layers, painted and empty, on 1 … n threads, beside memcpy of the
// composite's bytes on one core: the memory-bandwidth yardstick for the same
// run (two images streamed, one read and one written). x_memcpy compares
// wall times (the scaling, on a quiet machine); x_memcpy_cpu compares the
// processor time of every thread with memcpy's, which a shared machine
// does not move: divided by the threads it is the ratio a quiet machine
// with that many free cores would show. x_floor and x_floor_cpu do the same
// against the streaming floor of the ten layers on one core: every layer
// read once and the composite read and written once per layer.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <emmintrin.h>
#include <memory>
#include <vector>

#include "document/blend_modes.h"
#include "document/paper.h"
#include "platform/worker_pool.h"

namespace {

constexpr int kSide = 4000;
constexpr int kLayers = 10;

// Colours at random with partial alpha (1 … 254), so every pixel is blended.
void fillPartial(vl::TMTC& buf, uint32_t seed) {
  uint32_t s = seed;
  for (int y = 0; y < buf.height; ++y) {
    uint32_t* row = buf.Row(y);
    for (int x = 0; x < buf.width; ++x) {
      s = s * 1664525u + 1013904223u;
      const uint32_t a = 1 + (s >> 24) % 254;
      row[x] = (a << 24) | (s & 0x00FFFFFFu);
    }
  }
}

struct Document {
  vl::TPaper paper;
  vl::TFlowImage flow{paper};
  explicit Document(bool painted) {
    paper.newPaper(flow, "bench", 72, kSide, kSide);
    for (int i = 1; i < kLayers; ++i) paper.layers.AppendNew(kSide, kSide, 1, 255, vl::kModeNormal, false);
    if (!painted) return;
    vl::TMTC buf(kSide, kSide);
    for (int i = 0; i < kLayers; ++i) {
      fillPartial(buf, 17u + uint32_t(i));
      paper.layerAt(i)->pixels->WriteFrom(buf, {0, 0}, 255, buf.area());
    }
  }
};

Document& document(bool painted) {
  static std::unique_ptr<Document> docs[2];
  auto& d = docs[painted ? 1 : 0];
  if (!d) d = std::make_unique<Document>(painted);
  return *d;
}

void setRate(benchmark::State& state) {
  state.counters["Mpix/s"] =
      benchmark::Counter(double(kSide) * kSide * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
}

// Seconds of one memcpy of the composite, wall and processor, filled in by
// its benchmark (run first).
double memcpySeconds = 0, memcpyCpuSeconds = 0;

double cpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void BM_MemcpyComposite(benchmark::State& state) {
  const vl::TTC& composite = document(false).paper.compositeImage;
  const size_t bytes = size_t(composite.ByteSize());
  std::vector<uint8_t> copy(bytes, 1);
  int64_t n = 0;
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = cpuSeconds();
  for (auto _ : state) {
    std::memcpy(copy.data(), composite.pixels, bytes);
    benchmark::ClobberMemory();
    ++n;
  }
  const double cpu = (cpuSeconds() - cpuStart) / double(n);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / double(n);
  if (memcpySeconds == 0 || seconds < memcpySeconds) memcpySeconds = seconds;
  if (memcpyCpuSeconds == 0 || cpu < memcpyCpuSeconds) memcpyCpuSeconds = cpu;
  state.counters["GB/s"] =
      benchmark::Counter(double(bytes) * 2 * 1e-9, benchmark::Counter::kIsIterationInvariantRate);  // read + write
  setRate(state);
}
BENCHMARK(BM_MemcpyComposite)->Unit(benchmark::kMillisecond)->Repetitions(3);

// The two-image streaming floor of composing the ten layers one after
// another on one core: each layer's bytes read once and the composite's read
// and written once per layer, with a trivial operation in place of the
// blend. Ten buffers of their own, so no layer comes from the cache.
double floorSeconds = 0, floorCpuSeconds = 0;

void BM_StreamingFloor(benchmark::State& state) {
  const size_t pixels = size_t(kSide) * kSide;
  std::vector<std::vector<uint32_t>> layers(kLayers);
  for (int i = 0; i < kLayers; ++i) layers[size_t(i)].assign(pixels, uint32_t(i) * 0x01010101u);
  std::vector<uint32_t> composite(pixels, 0);
  int64_t n = 0;
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = cpuSeconds();
  for (auto _ : state) {
    for (const std::vector<uint32_t>& layer : layers) {
      // Sixteen bytes a step, so the loop waits on memory, not on instructions.
      const __m128i* s = reinterpret_cast<const __m128i*>(layer.data());
      __m128i* d = reinterpret_cast<__m128i*>(composite.data());
      for (size_t i = 0; i < pixels / 4; ++i)
        _mm_storeu_si128(d + i, _mm_add_epi32(_mm_loadu_si128(d + i), _mm_loadu_si128(s + i)));
      benchmark::ClobberMemory();
    }
    ++n;
  }
  const double cpu = (cpuSeconds() - cpuStart) / double(n);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / double(n);
  if (floorSeconds == 0 || seconds < floorSeconds) floorSeconds = seconds;
  if (floorCpuSeconds == 0 || cpu < floorCpuSeconds) floorCpuSeconds = cpu;
  if (memcpySeconds > 0) state.counters["x_memcpy"] = seconds / memcpySeconds;
  setRate(state);
}
BENCHMARK(BM_StreamingFloor)->Unit(benchmark::kMillisecond)->Repetitions(3);

// Arg 0: 1, every tile of every layer allocated and painted; 0, ten empty
// layers. Arg 1: threads. x_memcpy is the time over one memcpy's.
void BM_RecomposeWholePaper(benchmark::State& state) {
  Document& d = document(state.range(0) != 0);
  const int before = vl::corePool().Threads();
  vl::corePool().SetThreads(int(state.range(1)));
  int64_t n = 0;
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = cpuSeconds();
  for (auto _ : state) {
    d.paper.recomposeRect(vl::Area(0, 0, kSide, kSide), false);
    benchmark::ClobberMemory();
    ++n;
  }
  const double cpu = (cpuSeconds() - cpuStart) / double(n);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / double(n);
  vl::corePool().SetThreads(before);
  setRate(state);
  if (memcpySeconds > 0) state.counters["x_memcpy"] = seconds / memcpySeconds;
  if (memcpyCpuSeconds > 0) state.counters["x_memcpy_cpu"] = cpu / memcpyCpuSeconds;
  if (floorSeconds > 0) state.counters["x_floor"] = seconds / floorSeconds;
  if (floorCpuSeconds > 0) state.counters["x_floor_cpu"] = cpu / floorCpuSeconds;
}
BENCHMARK(BM_RecomposeWholePaper)
    ->ArgsProduct({{1, 0}, {1, 2, 4}})
    ->Unit(benchmark::kMillisecond)->Repetitions(3);

}  // namespace
