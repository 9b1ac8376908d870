#pragma once
// The pen state shared by all papers, and the walk that turns input points
// into dabs. Geometry is 32-bit float, in the order written, so strokes
// replay bit for bit.
#include <array>
#include <cstdint>

#include "drawing/pixel_chain.h"
#include "pixel/dib.h"
#include "pixel/geometry.h"
#include "platform/memory.h"

namespace vl {

class TPaper;
class TFlowImage;

enum BrushKind : uint8_t {
  kBrushPen = 0,
  kBrushWatercolour = 1,
  kBrushBlur = 2,
  kBrushEraser = 3,
  kBrushBlur2 = 4,
  kBrushAirbrush = 5,
  kBrushSmudge = 6,
  kBrushDarken = 7,
  kBrushLighten = 8,
};
inline constexpr int kBrushKindCount = 9;

struct StrokePoint {
  float x = 0, y = 0, pressure = 0;
};

// Constant per-kind values of the walker.
struct BrushTraits {
  float spacingFraction;  // 0: use the spacing setting
  float minSizeFraction;  // fixed fraction when compatLevel ≤ 0; < 0: always minSize / 100
  float thinLimit;        // below it a dab falls on every step
  float halfStepLimit;    // below it the walk takes half steps
  bool coverage;          // paints the coverage channel, colour rebuilt per segment
};
const BrushTraits& brushTraits(int kind);

// Which pen settings a kind uses, for the pen window and the pixel chain.
enum class EffectBar : uint8_t { None, Effect, Spacing };  // what the second bar edits
enum class EnvBar : uint8_t { None, Env, Effect };         // what the third bar edits
struct BrushCaps {
  bool minSize, sizeByPressure, opacityByPressure, softEdge;
  EffectBar effect;
  EnvBar env;
  bool speed, tone, gradation;
};
const BrushCaps& brushCaps(int kind);

// Radial strength of the airbrush, smudge, burn and dodge dabs: 2048 entries
// from the centre (0) to the rim (2047), 16.16 fixed point, 255.0 at full.
inline constexpr int kAirProfileSize = 2048;
inline constexpr int kAirMapCount = 5;
// The profile of selection airMap (0 … 4; others are clamped). The five
// tables never change; which one a stroke uses is the stroke's own.
const int32_t* airProfile(int airMap);

// Burn and dodge lightness curve: (i / 2047)^e in 16.16.
inline constexpr int kLightnessCurveSize = 2048;
// The curve's change against the straight line, × 255, at each lightness
// index lightness >> 13 (0 … 2040).
inline constexpr int kLightnessShiftSize = 2041;

// The smudge tip: a square of flow pixels captured around a dab position,
// nearest edge pixels repeated where it leaves the image.
class CPenTC : public TMTC {
 public:
  // Captures around (x, y) from the part `extent` of src, for a pen of that
  // width. False (and nothing captured) when the square cannot be had.
  bool Capture(const TMTC& src, Size extent, float x, float y, float width);
  bool captured = false;
  int32_t halfSize = 0;
  int32_t left = 0, top = 0;  // the square in layer pixels
  int32_t side = 0;
  float centreX = 0, centreY = 0;
  float radius = 0;
  float fracX = 0, fracY = 0;  // centre minus its truncation
};

// Rectangle of float bounds: left and top floored, right and bottom
// ceiled plus one, all rounded down to even. Empty bounds give an empty area.
Area boundsToArea(float minX, float maxX, float minY, float maxY);

class TStroke {
 public:
  TStroke() { ResetDefaults(kBrushPen); }

  // Setters store and mark changed; adjusters add and clamp.
  void SetKind(int k);
  void SetColour(uint32_t c);
  void SetWidth(float v);
  void AdjustWidth(float d) { SetWidth(width + d); }
  void SetMinSize(float v);
  void AdjustMinSize(float d) { SetMinSize(minSize + d); }
  void SetGamma(float v);
  void SetOpacity(float v);
  void SetSpacing(float v);
  void SetEffect(float v);
  void AdjustEffect(float d) { SetEffect(effect + d); }
  void SetEnv(float v);
  void AdjustEnv(float d) { SetEnv(env + d); }
  void SetSpeed(float v);
  void AdjustSpeed(float d) { SetSpeed(speed + d); }
  void SetSizeByPressure(bool v);
  void SetOpacityByPressure(bool v);
  void SetSoftEdge(bool v);
  void SetUseTone(bool v);
  void SetUseGradation(bool v);
  // Airbrush profile selection 0 … 4, kept per stroke so that a replay and
  // the live pen never change each other's dabs.
  void SetAirMap(int m);
  void ResetDefaults(int k);
  // Builds the pixel chain from the switches the kind offers.
  void BuildChain(const MaskStage& mask);

  float EffectiveOpacity(bool legacy) const { return legacy ? 1.0f : opacity; }
  int EffectiveOpacity255(bool legacy) const { return legacy ? 255 : int(opacity * 255); }
  float EffectiveSpacing() const;
  float MinSizeFraction() const;

  // Stroke begin: counters, bounds and history reset to (x, y, 0).
  void ResetForBegin(float x, float y, uint32_t neutral);
  // Shifts the history and smooths the newest drawn point.
  void PushPoint(const StrokePoint& p);
  // Segment bounds around points 1 and 2 (offset into layer pixels), added to the stroke's.
  void UpdateSegmentBounds(float offsetX, float offsetY);
  Area SegmentArea() const { return boundsToArea(segMinX, segMaxX, segMinY, segMaxY); }
  Area StrokeArea() const { return boundsToArea(strokeMinX, strokeMaxX, strokeMinY, strokeMaxY); }

  bool changed = false;
  float segMinX = 65535, segMaxX = -65535, segMinY = 65535, segMaxY = -65535;
  float strokeMinX = 65535, strokeMaxX = -65535, strokeMinY = 65535, strokeMaxY = -65535;
  StrokePoint history[8];
  uint32_t colour = 0;
  // With the paint colour, the two colours of the default gradation.
  uint32_t secondColour = 0xFFFFFF;
  int32_t layerIndex = 0;
  uint8_t kind = kBrushPen;
  float opacity = 1;
  bool sizeByPressure = false;
  bool opacityByPressure = false;
  bool softEdge = false;
  bool useTone = false;
  bool useGradation = false;
  bool noSmoothing = false;
  bool forced = false;
  bool lockAlpha = false;
  float minSize = 0;
  float width = 0.1f;
  float gamma = 1;
  float effect = 0, env = 0, speed = 0;
  float spacing = 0.5f;
  int32_t dabCount = 0;
  int32_t compatLevel = 2;
  uint32_t neutralColour = 0;
  int32_t stepCount = 0;
  float travel = 0;
  PixelChain chain;
  // Pixels the current segment's dabs may have touched (layer pixels); a
  // segment refreshes only these.
  Bounds dabBounds{};
  // Where the walk stands: the major axis of the segment (1 for x) and the step position.
  int8_t direction = -1;
  float walkX = 0, walkY = 0;
  MaskStage chainMask;  // the selection of the last chain build
  // An old drawing being replayed: every colour write blends colour only and
  // keeps the destination alpha, as those drawings were made.
  bool plainFinalCombine = false;

  uint8_t airMap = 3;
  // Smudge: the last distinct dab position and how many captures followed the begin.
  int32_t smudgeX = 0, smudgeY = 0, smudgeCaptures = 0;
  CPenTC tips[2];
  // Watercolour: loaded colour, colour of the last dab, running canvas sample.
  uint32_t wcLoaded = 0, wcDab = 0;
  float wcSampleR = 0, wcSampleG = 0, wcSampleB = 0;
  // Burn and dodge, built at the stroke's begin, and the targets the stroke
  // has found (emptied with each curve).
  std::array<int32_t, kLightnessCurveSize> lightnessCurve{};
  std::array<int32_t, kLightnessShiftSize> lightnessShift{};
  Block lightnessMemo;
  // The blur's sliding column sums, kept from dab to dab.
  Block blurSums;
  size_t blurSumsCount = 0;
};

// The kind's begin action at (x, y) in layer pixels, on the flow colour of
// the stroke's layer: watercolour's first sample, smudge's first tip, the
// burn and dodge curve.
void beginBrushKind(TPaper& paper, TStroke& s, TMTC& colour, float pressure, float y, float x);
// One dab of the stroke's kind at (x, y) in layer pixels; size is the radius.
void paintDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x);
// One dab as the oldest drawings paint it; pressure is the walk's, before
// the opacity switch.
void paintLegacyDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float pressure, float y,
                    float x);
// Walks the segment from history point 2 to point 1 and paints its dabs.
void drawSegmentCurrent(TPaper& paper, TFlowImage& flow, TStroke& s);
void drawSegmentLegacy(TPaper& paper, TFlowImage& flow, TStroke& s);
// Coverage kinds rebuild the flow colour over a rectangle (layer pixels) from the coverage.
void rebuildCoverage(TPaper& paper, TFlowImage& flow, TStroke& s, Area rect);

}  // namespace vl
