// Empty layers on a 10000 × 10000 paper with one painted corner: 99 inserts
// at the top, recorded as the user's would be, each timed in processor time,
// beside memcpy of one layer's bytes (what binding a whole layer to the flow
// image used to cost); and the resident memory the 99 layers add.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "document/blend_modes.h"
#include "document/paper.h"

namespace {

constexpr int32_t kSide = 10000;
constexpr int kInserts = 99;

double cpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double residentMB() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// Seconds of one memcpy of a layer's bytes, filled in by its benchmark (run first).
double memcpySeconds = 0;

void BM_MemcpyLayer(benchmark::State& state) {
  const size_t bytes = size_t(kSide) * kSide * 4;
  std::vector<uint8_t> from(bytes, 7), to(bytes, 1);
  double seconds = 0;
  int64_t n = 0;
  for (auto _ : state) {
    const double start = cpuSeconds();
    std::memcpy(to.data(), from.data(), bytes);
    benchmark::ClobberMemory();
    const double t = cpuSeconds() - start;
    state.SetIterationTime(t);
    seconds += t;
    ++n;
  }
  memcpySeconds = seconds / double(n);
}
BENCHMARK(BM_MemcpyLayer)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_InsertEmptyLayer(benchmark::State& state) {
  vl::TPaper paper;
  vl::TFlowImage flow(paper);
  if (!paper.newPaper(flow, "bench", 72, kSide, kSide)) {
    state.SkipWithError("no paper");
    return;
  }
  {
    vl::TMTC corner(1000, 1000);
    for (int32_t y = 0; y < corner.height; ++y)
      for (int32_t x = 0; x < corner.width; ++x) corner.Row(y)[x] = vl::makePixel(255, uint32_t(x) & 0xFF, uint32_t(y) & 0xFF, 99);
    paper.layerAt(0)->pixels->WriteFrom(corner, {0, 0}, 255, corner.area());
    paper.loadLayerToFlow(flow, 0, true);
    paper.recomposeAll(true);
  }
  const double before = residentMB();
  double seconds = 0, slowest = 0;
  for (auto _ : state) {
    const double start = cpuSeconds();
    const int32_t index = paper.insertLayer(flow, paper.layerCount(), true, 255, vl::kModeNormal, kSide, kSide, true);
    const double t = cpuSeconds() - start;
    if (index < 0) {
      state.SkipWithError("no layer");
      return;
    }
    state.SetIterationTime(t);
    seconds += t;
    slowest = std::max(slowest, t);
  }
  const double perInsert = seconds / kInserts;
  state.counters["ms_per_insert"] = perInsert * 1e3;
  state.counters["slowest_ms"] = slowest * 1e3;
  if (memcpySeconds > 0) state.counters["x_memcpy_layer"] = perInsert / memcpySeconds;
  state.counters["MB_added"] = residentMB() - before;
}
BENCHMARK(BM_InsertEmptyLayer)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(kInserts);

}  // namespace
