#pragma once
// The pen state shared by all papers, and the walk that turns input points
// into dabs. Geometry is 32-bit float, in the order written, so strokes
// replay bit for bit.
#include <cstdint>

#include "drawing/pixel_chain.h"
#include "pixel/geometry.h"

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
  void ResetDefaults(int k);

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
};

// One dab of the stroke's kind at (x, y) in layer pixels; size is the radius.
void paintDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x);
// Walks the segment from history point 2 to point 1 and paints its dabs.
void drawSegmentCurrent(TPaper& paper, TFlowImage& flow, TStroke& s);
void drawSegmentLegacy(TPaper& paper, TFlowImage& flow, TStroke& s);
// Coverage kinds rebuild the flow colour over a rectangle (layer pixels) from the coverage.
void rebuildCoverage(TPaper& paper, TFlowImage& flow, TStroke& s, Area rect);

}  // namespace vl
