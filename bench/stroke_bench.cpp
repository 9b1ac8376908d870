// Times are processor time (see cpuSeconds). A 1000-point stroke across a
// 4000 × 4000 paper, each segment rebuilt and
// the changed rectangles composed once at the end (as a replay without a
// window does; a window composes once a frame), for every brush kind; beside
// it the same dabs
// (same centres and radius) through libmypaint's dab renderer on its fixed
// tiled surface, measured in the same run: hard round dabs for the pen, soft
// dabs at the airbrush's opacity for the airbrush-like kinds, and a colour
// pick before each soft dab for the kinds that read the canvas.
#include <benchmark/benchmark.h>
#include <mypaint-fixed-tiled-surface.h>
#include <omp.h>

#include <cmath>
#include <ctime>
#include <string>
#include <vector>

#include "document/paper.h"
#include "drawing/brush_kinds.h"
#include "drawing/stroke_protocol.h"

namespace {

constexpr int32_t kSide = 4000;
constexpr int kPoints = 1000;
constexpr float kWidths[] = {5, 30, 150};
const char* const kKindNames[] = {"pen", "wc", "blur", "eraser", "blur2", "airbrush", "rubpen", "darken", "lighten"};

// The three ways libmypaint is driven, each with the dab interval of the
// kind it stands beside.
enum RefStyle { kHard, kSoft, kSmudge, kStyleCount };
const char* const kStyleNames[] = {"hard", "soft", "smudge"};
constexpr int kStyleKind[] = {vl::kBrushPen, vl::kBrushAirbrush, vl::kBrushSmudge};
constexpr float kStyleOpacity[] = {1.0f, 0.1f, 0.6f};

// Which reference a kind is quoted against; -1 for none.
int styleOf(int kind) {
  switch (kind) {
    case vl::kBrushPen: return kHard;
    case vl::kBrushAirbrush:
    case vl::kBrushDarken:
    case vl::kBrushLighten: return kSoft;
    case vl::kBrushWatercolour:
    case vl::kBrushBlur:
    case vl::kBrushSmudge: return kSmudge;
    default: return -1;
  }
}

// Left to right with a slow wave, the way a hand crosses the page.
std::vector<vl::StrokePoint> strokePoints() {
  std::vector<vl::StrokePoint> p;
  for (int i = 0; i < kPoints; ++i) {
    const float t = float(i) / (kPoints - 1);
    p.push_back({200 + 3600 * t, 2000 + 900 * std::sin(t * 9.0f), 1.0f});
  }
  return p;
}

// The pen settings every run uses: no pressure, the kind's own opacity.
void setUp(vl::TStroke& s, int kind, float width) {
  s.ResetDefaults(kind);
  s.SetWidth(width);
  s.SetSizeByPressure(false);
  s.SetOpacityByPressure(false);
  s.SetColour(0x000000);
}

// The walker's dab interval for a kind at a width, without pressure.
int intervalOf(int kind, float width) {
  vl::TStroke s;
  setUp(s, kind, width);
  const int k = int(std::ceil(s.EffectiveSpacing() * s.width));
  return width < vl::brushTraits(kind).thinLimit ? 1 : std::max(k, 1);
}

// The dab centres the walk produces without pressure, per segment: the same
// smoothing, unit steps and interval, written out here so that the
// reference paints exactly where we do.
std::vector<std::vector<std::pair<float, float>>> dabCentres(int k) {
  const std::vector<vl::StrokePoint> in = strokePoints();
  std::vector<std::vector<std::pair<float, float>>> segments;
  float sx = in[0].x, sy = in[0].y;  // the newest smoothed point
  int step = 0;
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

int64_t dabTotal(int k) {
  int64_t n = 0;
  for (const auto& s : dabCentres(k)) n += int64_t(s.size());
  return n;
}

// Processor time of the whole process: other programs on a shared machine
// do not move it, and work our threads do counts in full.
double cpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

// libmypaint's single-threaded dabs per second by style and width, filled by
// its benchmarks (run first).
double referenceRate[kStyleCount][3] = {};

void BM_LibMyPaintDabs(benchmark::State& state) {
  const int w = int(state.range(0)), style = int(state.range(2));
  const float radius = kWidths[w], opaque = kStyleOpacity[style];
  const float hardness = style == kHard ? 1.0f : 0.1f;  // at 0 nothing would be painted
  omp_set_num_threads(int(state.range(1)));
  const auto segments = dabCentres(intervalOf(kStyleKind[style], radius));
  int64_t dabs = 0;
  for (const auto& s : segments) dabs += int64_t(s.size());
  double seconds = 0;
  int64_t iterations = 0;
  for (auto _ : state) {
    MyPaintFixedTiledSurface* fixed = mypaint_fixed_tiled_surface_new(kSide, kSide);
    MyPaintSurface* surface = mypaint_fixed_tiled_surface_interface(fixed);
    const double start = cpuSeconds();
    // One atomic block per segment, as an engine refreshing per input point would do.
    for (const auto& s : segments) {
      mypaint_surface_begin_atomic(surface);
      for (const auto& [x, y] : s) {
        float r = 0, g = 0, b = 0, a = 1;
        if (style == kSmudge) mypaint_surface_get_color(surface, x, y, radius, &r, &g, &b, &a);
        mypaint_surface_draw_dab(surface, x, y, radius, r, g, b, opaque, hardness, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f);
      }
      MyPaintRectangle roi{};
      mypaint_surface_end_atomic(surface, &roi);
    }
    const double t = cpuSeconds() - start;
    state.SetIterationTime(t);
    seconds += t;
    ++iterations;
    mypaint_surface_unref(surface);
  }
  if (state.range(1) == 1 && seconds > 0) referenceRate[style][w] = double(dabs) * iterations / seconds;
  state.SetLabel(std::string(kStyleNames[style]) + ", radius " + std::to_string(int(radius)) + ", " +
                 std::to_string(state.range(1)) + " thread(s)");
  state.counters["dabs"] = double(dabs);
  state.counters["dabs/s"] = benchmark::Counter(double(dabs), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["points/s"] = benchmark::Counter(kPoints, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LibMyPaintDabs)
    ->ArgsProduct({{0, 1, 2}, {1}, {kHard, kSoft, kSmudge}})
    ->Args({0, 2, kHard})->Args({1, 2, kHard})->Args({2, 2, kHard})
    ->UseManualTime()->Unit(benchmark::kMillisecond);

// One stroke of a kind through the whole protocol, timed; the layer is made
// ready before each run by `prepare`, untimed.
// Returns our dabs per second.
template <class Prepare>
double runStroke(benchmark::State& state, int kind, float width, Prepare&& prepare) {
  const std::vector<vl::StrokePoint> points = strokePoints();
  vl::TPaper paper;
  vl::TFlowImage flow(paper);
  if (!paper.newPaper(flow, "bench", 72, kSide, kSide)) {
    state.SkipWithError("no paper");
    return 0;
  }
  vl::TStroke stroke;
  setUp(stroke, kind, width);
  vl::StrokeSession session;
  int64_t dabs = 0;
  double seconds = 0;
  int64_t iterations = 0;
  for (auto _ : state) {
    prepare(paper);
    paper.loadLayerToFlow(flow, 0, true);
    paper.recomposeAll(true);
    const double start = cpuSeconds();
    stroke.layerIndex = 0;
    vl::BeginStrokeOffset(paper, flow, stroke, session, false, points[0].pressure, points[0].y, points[0].x);
    for (int i = 1; i < kPoints; ++i)
      vl::AddStrokePoint(paper, flow, stroke, session, false, points[i].pressure, points[i].y, points[i].x);
    dabs = stroke.dabCount;
    vl::EndStroke(paper, flow, stroke, session, false);
    paper.settleComposite();
    const double t = cpuSeconds() - start;
    state.SetIterationTime(t);
    seconds += t;
    ++iterations;
  }
  if (dabs != dabTotal(intervalOf(kind, width))) state.SkipWithError("the reference's dab centres differ from ours");
  const int w = width == kWidths[0] ? 0 : width == kWidths[1] ? 1 : 2;
  const int style = styleOf(kind);
  state.SetLabel(std::string(kKindNames[kind]) + ", width " + std::to_string(int(width)) +
                 (style >= 0 ? std::string(", vs ") + kStyleNames[style] : std::string()));
  state.counters["dabs"] = double(dabs);
  state.counters["dabs/s"] = benchmark::Counter(double(dabs), benchmark::Counter::kIsIterationInvariantRate);
  state.counters["points/s"] = benchmark::Counter(kPoints, benchmark::Counter::kIsIterationInvariantRate);
  // Ours over libmypaint's single-threaded dabs per second; above 1 we are faster.
  const double rate = seconds > 0 ? double(dabs) * iterations / seconds : 0;
  if (style >= 0 && referenceRate[style][w] > 0 && rate > 0) state.counters["vs_libmypaint"] = rate / referenceRate[style][w];
  return rate;
}

// Our pen on a blank layer: walk, coverage dabs, per-segment rebuild of the
// flow colour and recomposition of the segment's rectangle.
void BM_PenStroke(benchmark::State& state) {
  runStroke(state, vl::kBrushPen, kWidths[state.range(0)], [](vl::TPaper& paper) { paper.clearLayerPixels(0); });
}
BENCHMARK(BM_PenStroke)->Arg(0)->Arg(1)->Arg(2)->UseManualTime()->Unit(benchmark::kMillisecond);

// Opaque paint that varies from pixel to pixel, so blur, smudge, burn and
// dodge have something to work on and every tile holds pixels.
const vl::TMTC& contentImage() {
  static vl::TMTC image;
  if (!image.IsAllocated() && image.Resize(kSide, kSide)) {
    for (int32_t y = 0; y < image.height; ++y) {
      uint32_t* row = image.Row(y);
      for (int32_t x = 0; x < image.width; ++x)
        row[x] = vl::makePixel(255, uint32_t(x / 7 + y / 5) & 0xFF, uint32_t((x * 3) ^ y) & 0xFF,
                               uint32_t(96 + ((x / 40 + y / 40) % 2) * 96));
    }
  }
  return image;
}

// Every kind on that paint.
void BM_BrushStroke(benchmark::State& state) {
  const vl::TMTC& content = contentImage();
  runStroke(state, int(state.range(0)), kWidths[state.range(1)], [&](vl::TPaper& paper) {
    paper.layerAt(0)->pixels->WriteFrom(content, {0, 0}, 255, vl::Area(content.size()));
  });
}
BENCHMARK(BM_BrushStroke)
    ->ArgsProduct({{vl::kBrushPen, vl::kBrushWatercolour, vl::kBrushBlur, vl::kBrushEraser, vl::kBrushBlur2,
                    vl::kBrushAirbrush, vl::kBrushSmudge, vl::kBrushDarken, vl::kBrushLighten},
                   {0, 1, 2}})
    ->UseManualTime()->Unit(benchmark::kMillisecond);

// Burn and dodge carry each pixel through the colour model and back (two
// divisions, the hue's sectors, both lightness bounds) before they blend.
// This times that transform alone, eight pixels at a time, over as many
// pixels as the burn stroke's dabs cover, against libmypaint's whole soft
// dabs of the same stroke: below 1, the transform alone takes longer than
// libmypaint's dabs do in all.
void BM_LightnessTransformAlone(benchmark::State& state) {
  const int w = int(state.range(0));
  const float r = kWidths[w];
  int64_t pixels = 0, dabs = 0;
  for (const auto& segment : dabCentres(intervalOf(vl::kBrushDarken, r)))
    for (const auto& [x, y] : segment) {
      ++dabs;
      for (int32_t py = int32_t(std::floor(y - r)); py < int32_t(std::ceil(y + r)); ++py)
        for (int32_t px = int32_t(std::floor(x - r)); px < int32_t(std::ceil(x + r)); ++px) {
          const float dx = float(px) + 0.5f - x, dy = float(py) + 0.5f - y;
          pixels += dx * dx + dy * dy < r * r;
        }
    }
  vl::TStroke s;
  setUp(s, vl::kBrushDarken, r);
  vl::buildLightnessCurve(s);
  // The painted content, a row band at a time.
  const vl::TMTC& content = contentImage();
  std::vector<uint32_t> out(size_t(content.width));
  double seconds = 0;
  int64_t iterations = 0;
  for (auto _ : state) {
    const double start = cpuSeconds();
    for (int64_t done = 0, row = 0; done < pixels; done += content.width, row = (row + 1) % content.height) {
      const int32_t n = int32_t(std::min<int64_t>(content.width, pixels - done));
      if (!vl::lightnessTargetsAvx2(content.Row(int32_t(row)), out.data(), n, s.lightnessShift.data())) {
        state.SkipWithError("no AVX2");
        return;
      }
      benchmark::DoNotOptimize(out.data());
    }
    const double t = cpuSeconds() - start;
    state.SetIterationTime(t);
    seconds += t;
    ++iterations;
  }
  state.SetLabel("burn's transform alone, width " + std::to_string(int(r)) + ", vs soft");
  state.counters["pixels"] = double(pixels);
  state.counters["ns/pixel"] = seconds * 1e9 / double(pixels * iterations);
  if (referenceRate[kSoft][w] > 0 && seconds > 0)
    state.counters["vs_libmypaint"] = (double(dabs) / referenceRate[kSoft][w]) / (seconds / double(iterations));
}
BENCHMARK(BM_LightnessTransformAlone)->Arg(0)->Arg(1)->Arg(2)->UseManualTime()->Unit(benchmark::kMillisecond);

// Rates of the unmasked strokes by kind and width, for the masked ones below.
double unmaskedRate[vl::kBrushKindCount][3] = {};

// The same strokes through a selection, quoted as masked time over the same
// stroke's unmasked time: a selection of the whole paper (the stage's own
// cost), and one of noise, whose partial values also make every blend a
// real one.
void BM_MaskedStroke(benchmark::State& state) {
  const int kind = int(state.range(0)), w = int(state.range(1));
  const int selection = int(state.range(2));  // 0 none, 1 everything, 2 noise
  const bool masked = selection != 0;
  const vl::TMTC& content = contentImage();
  static vl::CBlockVCH noise(kSide, kSide);
  static bool made = false;
  if (!made) {
    std::vector<uint8_t> row(kSide);
    for (int32_t y = 0; y < kSide; ++y) {
      for (int32_t x = 0; x < kSide; ++x) row[size_t(x)] = uint8_t(((x * 7) ^ (y * 13)) | 0x40);
      noise.WriteRow(y, row.data(), 0, kSide);
    }
    made = true;
  }
  const double rate = runStroke(state, kind, kWidths[w], [&](vl::TPaper& paper) {
    paper.layerAt(0)->pixels->WriteFrom(content, {0, 0}, 255, vl::Area(content.size()));
    std::unique_ptr<vl::CMaskData> old;
    if (selection == 1 && !paper.masks.CurrentMask()->HasChannel()) paper.selectAll(false);
    if (selection == 2 && !paper.masks.CurrentMask()->HasChannel())
      paper.masks.BuildFromChannel(0, noise, vl::kMaskNew, {0, 0}, old);
    paper.selectionEnabled = masked ? 1 : 0;
  });
  if (!masked) unmaskedRate[kind][w] = rate;
  if (masked && rate > 0 && unmaskedRate[kind][w] > 0) state.counters["cost_vs_unmasked"] = unmaskedRate[kind][w] / rate;
  state.SetLabel(std::string(kKindNames[kind]) + ", width " + std::to_string(int(kWidths[w])) +
                 (selection == 1 ? ", all selected" : selection == 2 ? ", noise selected" : ", unmasked"));
}
BENCHMARK(BM_MaskedStroke)
    ->ArgsProduct({{vl::kBrushPen, vl::kBrushAirbrush, vl::kBrushBlur, vl::kBrushDarken}, {0, 1, 2}, {0, 1, 2}})
    ->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
