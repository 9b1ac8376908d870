#include "drawing/stroke.h"

#include <algorithm>
#include <cmath>

#include "document/paper.h"
#include "pixel/det_math.h"

namespace vl {
namespace {

// The fixed fractions are the decimal literals the drawings were made with:
// ceil(0.1666667f × 12) is 3 where (1.0f / 6) × 12 would give 2.
constexpr BrushTraits kTraits[kBrushKindCount] = {
    {0.1666667f, -1.0f, 8, 2, true},   // pen
    {0.0833333f, 0.333f, 0, 0, false}, // wc
    {0.25f, 1.0f, 0, 0, false},        // blur
    {0.25f, 1.0f, 4, 3, false},        // eraser
    {0.25f, 1.0f, 0, 0, true},         // blur2
    {0.0f, -1.0f, 0, 0, false},        // airbrush
    {0.0f, -1.0f, 0, 0, false},        // rubpen
    {0.0f, -1.0f, 0, 0, false},        // darken
    {0.0f, -1.0f, 0, 0, false},        // lighten
};

// Which settings each kind uses; the pen window enables its controls by this.
constexpr BrushCaps kCaps[kBrushKindCount] = {
    // MIN  ifSIZE ifTRANS ifEDGE  EFFECT              ENV            SPEED  tone   gradation
    {true, true, true, false, EffectBar::None, EnvBar::None, false, true, true},           // pen
    {true, true, true, true, EffectBar::Effect, EnvBar::Env, true, true, true},            // wc
    {true, true, false, false, EffectBar::Effect, EnvBar::None, false, true, false},       // blur
    {true, true, true, true, EffectBar::None, EnvBar::None, false, false, false},          // eraser
    {false, false, false, false, EffectBar::None, EnvBar::None, false, false, false},      // blur2
    {true, true, true, false, EffectBar::Spacing, EnvBar::None, false, true, true},        // airbrush
    {true, true, true, false, EffectBar::Spacing, EnvBar::None, false, true, false},       // rubpen
    {true, true, true, false, EffectBar::Spacing, EnvBar::Effect, false, true, false},     // darken
    {true, true, true, false, EffectBar::Spacing, EnvBar::Effect, false, true, false},     // lighten
};

template <class T>
void store(TStroke& s, T& field, T value) {
  if (field != value) {
    field = value;
    s.changed = true;
  }
}

// NaN never reaches a setting: it takes the lower limit.
float clampSetting(float v, float lo, float hi) { return std::isnan(v) ? lo : std::clamp(v, lo, hi); }

int floorEven(float v) { return int(std::floor(v)) & ~1; }

// Points from packets and files may be absurd: far outside any paper, or not
// numbers at all. Such a segment draws nothing.
// Unit steps of a segment along its major axis (one step for a segment
// shorter than a pixel); direction 1 when that axis is x.
struct Steps {
  float x, y, p;
  int n;
  int8_t direction;
};

Steps unitSteps(float dx, float dy, float dp, float L) {
  const bool xMajor = std::fabs(dx) >= std::fabs(dy);
  if (L < 1) return {dx, dy, dp, int(std::ceil(L)), int8_t(xMajor)};
  const float a = xMajor ? std::fabs(dx) : std::fabs(dy);
  return {dx / a, dy / a, dp / a, int(std::ceil(L)), int8_t(xMajor)};
}

bool drawable(float x1, float y1, float p1, float x2, float y2, float p2) {
  constexpr float kFar = 1e6f;
  return std::fabs(x1) <= kFar && std::fabs(y1) <= kFar && std::fabs(x2) <= kFar && std::fabs(y2) <= kFar &&
         !std::isnan(p1) && !std::isnan(p2);
}

}  // namespace

const BrushTraits& brushTraits(int kind) { return kTraits[std::clamp(kind, 0, kBrushKindCount - 1)]; }
const BrushCaps& brushCaps(int kind) { return kCaps[std::clamp(kind, 0, kBrushKindCount - 1)]; }

Area boundsToArea(float minX, float maxX, float minY, float maxY) {
  // An end right after a begin leaves the bounds inside out: nothing to refresh.
  if (!(minX <= maxX) || !(minY <= maxY)) return {};
  minX = std::clamp(minX, -1e6f, 1e6f);
  maxX = std::clamp(maxX, -1e6f, 1e6f);
  minY = std::clamp(minY, -1e6f, 1e6f);
  maxY = std::clamp(maxY, -1e6f, 1e6f);
  const int x0 = floorEven(minX), y0 = floorEven(minY);
  const int x1 = (int(std::ceil(maxX)) + 1) & ~1, y1 = (int(std::ceil(maxY)) + 1) & ~1;
  return Area(x0, y0, x1 - x0, y1 - y0);
}

void TStroke::SetKind(int k) { store(*this, kind, uint8_t(std::clamp(k, 0, kBrushKindCount - 1))); }
void TStroke::SetColour(uint32_t c) { store(*this, colour, c & 0x00FFFFFFu); }
void TStroke::SetWidth(float v) { store(*this, width, clampSetting(v, 0.1f, 200.0f)); }
void TStroke::SetMinSize(float v) { store(*this, minSize, clampSetting(v, 0.0f, 100.0f)); }
void TStroke::SetGamma(float v) { store(*this, gamma, clampSetting(v, 0.01f, 6.0f)); }
void TStroke::SetOpacity(float v) { store(*this, opacity, clampSetting(v, 0.01f, 1.0f)); }
void TStroke::SetSpacing(float v) { store(*this, spacing, clampSetting(v, 0.02f, 2.0f)); }
void TStroke::SetEffect(float v) { store(*this, effect, clampSetting(v, 0.0f, 100.0f)); }
void TStroke::SetEnv(float v) { store(*this, env, clampSetting(v, 0.0f, 100.0f)); }
void TStroke::SetSpeed(float v) { store(*this, speed, clampSetting(v, 0.0f, 100.0f)); }
void TStroke::SetSizeByPressure(bool v) { store(*this, sizeByPressure, v); }
void TStroke::SetOpacityByPressure(bool v) { store(*this, opacityByPressure, v); }
void TStroke::SetSoftEdge(bool v) { store(*this, softEdge, v); }
void TStroke::SetUseTone(bool v) {
  store(*this, useTone, v);
  BuildChain(chainMask);
}
void TStroke::SetUseGradation(bool v) {
  store(*this, useGradation, v);
  BuildChain(chainMask);
}
void TStroke::SetAirMap(int m) { store(*this, airMap, uint8_t(std::clamp(m, 0, kAirMapCount - 1))); }

void TStroke::BuildChain(const MaskStage& maskActive) {
  // A kind that offers no tone or gradation never paints through them, even
  // when the switch was left on by another kind.
  const BrushCaps& caps = brushCaps(kind);
  chainMask = maskActive;
  chain.Build(maskActive, useTone && caps.tone, useGradation && caps.gradation, lockAlpha || plainFinalCombine);
}

void TStroke::ResetDefaults(int k) {
  SetKind(k);
  minSize = 0;
  width = 0.1f;
  effect = env = speed = 0;
  sizeByPressure = opacityByPressure = softEdge = false;
  gamma = 1;
  useTone = useGradation = false;
  opacity = 1;
  spacing = 0.5f;
  switch (kind) {
    case kBrushPen: minSize = 75, width = 1, sizeByPressure = opacityByPressure = true; break;
    case kBrushWatercolour:
      minSize = 33.3f, width = 16, effect = 65, env = 40, speed = 30, sizeByPressure = opacityByPressure = true;
      break;
    case kBrushBlur: minSize = 100, width = 12, effect = 10; break;
    case kBrushEraser: minSize = 100, width = 12, opacityByPressure = softEdge = true; break;
    case kBrushBlur2: break;
    case kBrushAirbrush:
      minSize = 60, width = 30, spacing = 0.15f, opacity = 0.1f, sizeByPressure = opacityByPressure = true;
      airMap = 3;
      break;
    case kBrushSmudge:
      minSize = 60, width = 15, spacing = 0.04f, opacity = 0.6f, opacityByPressure = true;
      airMap = 3;
      break;
    case kBrushDarken:
    case kBrushLighten:
      minSize = 60, width = 25, effect = 50, spacing = 0.15f, opacity = 0.2f, sizeByPressure = opacityByPressure = true;
      airMap = 1;
      break;
  }
  changed = true;
  BuildChain(chainMask);
}

float TStroke::EffectiveSpacing() const {
  const float fixed = brushTraits(kind).spacingFraction;
  return std::max(fixed > 0 ? fixed : spacing, 0.02f);
}

float TStroke::MinSizeFraction() const {
  const float fixed = brushTraits(kind).minSizeFraction;
  if (fixed >= 0 && compatLevel <= 0) return fixed;
  return minSize / 100;
}

void TStroke::ResetForBegin(float x, float y, uint32_t neutral) {
  dabCount = 0;
  stepCount = 0;
  travel = 0;
  neutralColour = neutral;
  strokeMinX = segMinX = 65535;
  strokeMaxX = segMaxX = -65535;
  strokeMinY = segMinY = 65535;
  strokeMaxY = segMaxY = -65535;
  for (StrokePoint& p : history) p = {x, y, 0};
  direction = -1;
}

void TStroke::PushPoint(const StrokePoint& p) {
  for (int i = 7; i > 0; --i) history[i] = history[i - 1];
  history[0] = p;
  // Pressure beyond 0 … 1 (from a stream or a driver) would size dabs past
  // the rectangles that are refreshed and committed.
  // A NaN stays, so that the walk refuses the point as it refuses NaN places.
  const float q = p.pressure;
  if (q > 1.0f) history[0].pressure = 1.0f;
  if (q < 0.0f) history[0].pressure = 0.0f;
  if (!noSmoothing) {
    history[1].x = (history[0].x + history[2].x) / 2;
    history[1].y = (history[0].y + history[2].y) / 2;
    history[1].pressure = (history[0].pressure + history[2].pressure) / 2;
  }
}

void TStroke::UpdateSegmentBounds(float offsetX, float offsetY) {
  const float r = width + 2;
  const float x1 = history[1].x + offsetX, y1 = history[1].y + offsetY;
  const float x2 = history[2].x + offsetX, y2 = history[2].y + offsetY;
  segMinX = std::min(x1 - r, x2 - r);
  segMaxX = std::max(x1 + r, x2 + r);
  segMinY = std::min(y1 - r, y2 - r);
  segMaxY = std::max(y1 + r, y2 + r);
  strokeMinX = std::min(strokeMinX, segMinX);
  strokeMaxX = std::max(strokeMaxX, segMaxX);
  strokeMinY = std::min(strokeMinY, segMinY);
  strokeMaxY = std::max(strokeMaxY, segMaxY);
}

// ---- the walk ----

namespace {

// One segment's steps: position and pressure advance by their steps, every
// k-th step places a dab at the position before the advance.
struct Walk {
  float x, y, p, sx, sy, sp;
  int n, k;
  int8_t direction;
  float perStepTravel;
};

template <class Dab>
void walkSteps(TStroke& s, Walk w, Dab&& dab) {
  for (int i = 0; i < w.n; ++i) {
    if (s.stepCount % w.k == 0) {
      dab(w.x, w.y, w.p);
      ++s.dabCount;
    }
    w.x += w.sx, w.y += w.sy, w.p += w.sp;
    // The pen reads the direction stored by the step before its dab.
    s.direction = w.direction;
    s.walkX = w.x, s.walkY = w.y;
    w.p = std::clamp(w.p, 0.0f, 1.0f);
    ++s.stepCount;
    s.travel += w.perStepTravel * w.p;
  }
}

}  // namespace

void drawSegmentCurrent(TPaper& paper, TFlowImage& flow, TStroke& s) {
  if (s.kind >= kBrushKindCount) return;
  const BrushTraits& traits = brushTraits(s.kind);
  const CLayerData* layer = paper.layerAt(s.layerIndex);
  const float ox = layer ? float(layer->offsetX) : 0.0f, oy = layer ? float(layer->offsetY) : 0.0f;
  const float x1 = s.history[1].x + ox, y1 = s.history[1].y + oy;
  const float x2 = s.history[2].x + ox, y2 = s.history[2].y + oy;
  const float p1 = detPow(s.history[1].pressure, s.gamma);
  const float p2 = detPow(s.history[2].pressure, s.gamma);
  if (!drawable(x1, y1, p1, x2, y2, p2)) return;
  const float dx = x1 - x2, dy = y1 - y2, dp = p1 - p2;
  const float L = std::max(std::fabs(dx), std::fabs(dy));
  if (L == 0) return;
  const Steps st = unitSteps(dx, dy, dp, L);
  float sx = st.x, sy = st.y, sp = st.p;
  const int8_t direction = st.direction;
  int n = st.n;
  const float perStepTravel = std::sqrt(dx * dx + dy * dy) / L * 4;
  float minW, rangeW;
  if (s.sizeByPressure) {
    const float f = s.MinSizeFraction();
    minW = s.width * f;
    rangeW = s.width - minW;
  } else {
    minW = s.width;
    rangeW = 0;
  }
  const float wStart = minW + rangeW * p2, wEnd = minW + rangeW * p1;
  int k = int(std::ceil(s.EffectiveSpacing() * s.width));
  if (wStart < traits.thinLimit || wEnd < traits.thinLimit) k = 1;
  k = std::max(k, 1);
  if (wStart < traits.halfStepLimit || wEnd < traits.halfStepLimit) {
    n *= 2;
    sx /= 2, sy /= 2, sp /= 2;
  }
  walkSteps(s, {x2 + 0.5f, y2 + 0.5f, p2, sx, sy, sp, n, k, direction, perStepTravel}, [&](float x, float y, float p) {
    paintDab(paper, flow, s, minW + rangeW * p, s.opacityByPressure ? p : 1.0f, y, x);
  });
}

namespace {

float legacySize(const TStroke& s, float p) {
  if (!s.sizeByPressure) return s.width;
  if (s.kind == kBrushWatercolour) return p * (2.0f / 3 * s.width) + s.width / 3;
  if (!brushCaps(s.kind).sizeByPressure) return s.width;
  const float minW = s.width * s.minSize / 100;
  return minW + p * (s.width - minW);
}

}  // namespace

void drawSegmentLegacy(TPaper& paper, TFlowImage& flow, TStroke& s) {
  if (s.kind >= kBrushKindCount) return;
  const float x1 = s.history[1].x, y1 = s.history[1].y, x2 = s.history[2].x, y2 = s.history[2].y;
  float p1 = s.history[1].pressure, p2 = s.history[2].pressure;
  if (s.gamma != 0) {
    p1 = std::clamp(detPow(p1, s.gamma), 0.0f, 1.0f);
    p2 = std::clamp(detPow(p2, s.gamma), 0.0f, 1.0f);
  }
  if (!drawable(x1, y1, p1, x2, y2, p2)) return;
  const float dx = x1 - x2, dy = y1 - y2, dp = p1 - p2;
  const float L = std::max(std::fabs(dx), std::fabs(dy));
  if (L == 0) return;
  const Steps st = unitSteps(dx, dy, dp, L);
  float sx = st.x, sy = st.y, sp = st.p;
  const int8_t direction = st.direction;
  int n = st.n;
  const float perStepTravel = std::sqrt(dx * dx + dy * dy) / L * 4;
  const float wStart = legacySize(s, p2), wEnd = legacySize(s, p1);
  int k = 1;
  bool half = false;
  switch (s.kind) {
    case kBrushPen:
      k = std::min(int(wStart / 8), int(wEnd / 8)) + 1;
      half = s.sizeByPressure ? (wStart < 2 || wEnd < 2) : s.width < 2;
      break;
    case kBrushWatercolour: k = int(s.width / 12) + 1; break;
    case kBrushEraser:
      k = std::min(int(wStart / 4), int(wEnd / 4)) + 1;
      half = s.width < 3;
      break;
    case kBrushBlur:
    case kBrushBlur2: k = int(s.width / 4) + 1; break;
    default: k = 1; break;
  }
  if (half) {
    n *= 2;
    sx /= 2, sy /= 2, sp /= 2;
  }
  walkSteps(s, {x2 + 0.5f, y2 + 0.5f, p2, sx, sy, sp, n, k, direction, perStepTravel}, [&](float x, float y, float p) {
    paintLegacyDab(paper, flow, s, legacySize(s, p), s.opacityByPressure ? p : 1.0f, p, y, x);
  });
}

}  // namespace vl
