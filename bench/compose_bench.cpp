// Composing a layer onto the composite, against pixman's OVER of the same
// ARGB32 image size measured in the same run.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <vector>

#include "document/blend_modes.h"
#include "pixel/block_image.h"
#include "pixel/random_state.h"

namespace {

constexpr int kSide = 4096;

// Mixed colours and alphas: a fifth transparent, a fifth opaque, the rest partial.
void fillLayerPixels(vl::TMTC& buf) {
  vl::RandomState r(7, 0, 1 << 30);
  for (int y = 0; y < buf.height; ++y)
    for (int x = 0; x < buf.width; ++x) {
      uint32_t v = uint32_t(r.draw());
      uint32_t a = (v % 5 == 0) ? 0 : (v % 5 == 1) ? 255 : (v >> 8) & 0xFF;
      buf.Row(y)[x] = (a << 24) | (v & 0x00FFFFFFu);
    }
}

struct Fixture {
  vl::CBlockVMTC layer{kSide, kSide};
  vl::TTC composite{kSide, kSide};
  Fixture() {
    vl::TMTC buf(kSide, kSide);
    fillLayerPixels(buf);
    layer.WriteFrom(buf, {0, 0}, 255, buf.area());
    composite.Fill(0xFF808080u);
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_PixmanOver(benchmark::State& state) {
  Fixture& f = fixture();
  std::vector<uint32_t> src(size_t(kSide) * kSide), dst(size_t(kSide) * kSide, 0xFF808080u);
  // Same pixels, premultiplied as pixman wants them.
  for (int y = 0; y < kSide; ++y)
    for (int x = 0; x < kSide; ++x) {
      uint32_t p = f.layer.Pixel(x, y), a = p >> 24;
      src[size_t(y) * kSide + x] = (a << 24) | (uint32_t(vl::MUL[a][vl::red(p)]) << 16) |
                                   (uint32_t(vl::MUL[a][vl::green(p)]) << 8) | vl::MUL[a][vl::blue(p)];
    }
  pixman_image_t* s = pixman_image_create_bits(PIXMAN_a8r8g8b8, kSide, kSide, src.data(), kSide * 4);
  pixman_image_t* d = pixman_image_create_bits(PIXMAN_x8r8g8b8, kSide, kSide, dst.data(), kSide * 4);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_OVER, s, nullptr, d, 0, 0, 0, 0, 0, 0, kSide, kSide);
    benchmark::ClobberMemory();
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
  state.counters["Mpix/s"] = benchmark::Counter(double(kSide) * kSide * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_PixmanOver)->Unit(benchmark::kMillisecond);

void BM_ComposeMode(benchmark::State& state) {
  Fixture& f = fixture();
  vl::ComposeParams p;
  p.mode = int(state.range(0));
  p.opacity = 255;
  for (auto _ : state) {
    vl::composeImage(f.composite, {0, 0}, f.layer, vl::Area(0, 0, kSide, kSide), p);
    benchmark::ClobberMemory();
  }
  state.counters["Mpix/s"] = benchmark::Counter(double(kSide) * kSide * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ComposeMode)->Arg(vl::kModeNormal)->Arg(vl::kModeMultiply)->Arg(vl::kModeOverlay)->Arg(vl::kModeColour)
    ->Unit(benchmark::kMillisecond);

void BM_ComposeNormalHalfOpacity(benchmark::State& state) {
  Fixture& f = fixture();
  vl::ComposeParams p;
  p.mode = vl::kModeNormal;
  p.opacity = 128;
  for (auto _ : state) {
    vl::composeImage(f.composite, {0, 0}, f.layer, vl::Area(0, 0, kSide, kSide), p);
    benchmark::ClobberMemory();
  }
  state.counters["Mpix/s"] = benchmark::Counter(double(kSide) * kSide * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ComposeNormalHalfOpacity)->Unit(benchmark::kMillisecond);

// Dissolve: one random draw per pixel, the layer walked tile by tile.
void BM_ComposeDissolve(benchmark::State& state) {
  Fixture& f = fixture();
  vl::ComposeParams p;
  p.mode = vl::kModeNormal;
  p.dissolve = true;
  p.dissolveAmount = 160;
  for (auto _ : state) {
    vl::RandomState r(12345, 0, 255);
    p.random = &r;
    vl::composeImage(f.composite, {0, 0}, f.layer, vl::Area(0, 0, kSide, kSide), p);
    benchmark::ClobberMemory();
  }
  state.counters["Mpix/s"] = benchmark::Counter(double(kSide) * kSide * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ComposeDissolve)->Unit(benchmark::kMillisecond);

// Every tile uniform: one fill per tile row, no pixel memory read.
void BM_ComposeUniformTiles(benchmark::State& state) {
  Fixture& f = fixture();
  vl::CBlockVMTC layer(kSide, kSide);
  layer.SetAll(uint32_t(state.range(1)) << 24 | 0x336699u);
  vl::ComposeParams p;
  p.mode = int(state.range(0));
  for (auto _ : state) {
    vl::composeImage(f.composite, {0, 0}, layer, vl::Area(0, 0, kSide, kSide), p);
    benchmark::ClobberMemory();
  }
  state.counters["Mpix/s"] = benchmark::Counter(double(kSide) * kSide * 1e-6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ComposeUniformTiles)->Args({vl::kModeNormal, 0})->Args({vl::kModeNormal, 255})->Args({vl::kModeNormal, 128})
    ->Unit(benchmark::kMillisecond);

}  // namespace
