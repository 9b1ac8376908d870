#pragma once
// The dab routines of the colour-writing kinds, called once per dab by
// paintDab; each picks its pixel writer and combine there, so its pixel
// loop runs without tests or indirect calls.
#include <algorithm>
#include <cstdint>

#include "pixel/colour_models.h"
#include "pixel/geometry.h"
#include "pixel/pixel_math.h"

namespace vl {

class TPaper;
class TFlowImage;
class TStroke;

// Where the watercolour samples the canvas: at +(size + 1) and −size + 1
// from the centre, or at ±(size + 1) in the oldest drawings.
enum class WcSamples { Current, Legacy };
void watercolourDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x,
                    WcSamples samples = WcSamples::Current);
void blurDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x);
void eraserDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x);
// The oldest drawings' eraser paints the neutral colour through the chain.
void legacyEraserDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x);
void airbrushDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x);
void smudgeDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x);
void lightnessDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x);

// The part of the flow colour a stroke may paint: the layer image, which the
// flow buffer may exceed. Empty when the layer or the buffer is missing.
Size paintExtent(const TPaper& paper, const TFlowImage& flow, const TStroke& s);

// (i / 2047)^e in 16.16, one entry of the burn and dodge curve.
int32_t lightnessEntry(int i, float e);
// Fills the stroke's curve for its kind and effect and empties its memo.
void buildLightnessCurve(TStroke& s);

// The colour a full-strength burn or dodge turns d into: its lightness in
// hue, lightness and saturation (16.16, division rule) run through the curve,
// and the change the curve makes against the straight line carried over to
// RGB as a change too, so that where the curve is straight (effect 0) or the
// change is below a step, nothing moves. Alpha is dropped.
uint32_t lightnessTarget(uint32_t d, const int32_t* curve, const int32_t* straight);

// The targets a stroke has found, by colour: a direct-mapped table of
// 1 << kLightnessMemoBits entries; rgb 0xFFFFFFFF, which no colour has,
// marks an empty one.
inline constexpr int kLightnessMemoBits = 14;
struct LightnessMemoEntry {
  uint32_t rgb, target;
};

// Burn and dodge: the destination moves toward its target by the value.
struct LightnessCombine {
  const int32_t* curve;
  const int32_t* straight;
  LightnessMemoEntry* memo;  // none when memory was short
  uint32_t operator()(uint32_t d, uint32_t, int v) const {
    // Runs of one colour are common: the last one is kept apart.
    const uint32_t rgb = d & 0x00FFFFFFu;
    if (rgb != lastRGB) {
      lastRGB = rgb;
      lastTarget = Target(rgb);
    }
    return lastTarget == rgb ? d : blendRGB(d, lastTarget, v);
  }
  uint32_t Target(uint32_t rgb) const {
    if (!memo) return lightnessTarget(rgb, curve, straight);
    LightnessMemoEntry& e = memo[(rgb * 2654435761u) >> (32 - kLightnessMemoBits)];
    if (e.rgb != rgb) {
      e.rgb = rgb;
      e.target = lightnessTarget(rgb, curve, straight);
    }
    return e.target;
  }
  mutable uint32_t lastRGB = 0xFFFFFFFFu, lastTarget = 0;
};

// The straight curve (exponent 1), computed exactly as the stroke's are.
const int32_t* straightLightnessCurve();

// The stroke's lightness shifts (see TStroke::lightnessShift) of a curve.
void lightnessShifts(const int32_t* curve, int32_t* shift);
// lightnessTarget of n pixels, eight at a time: the AVX2 twin of the scalar
// function, false (nothing done) where the processor lacks AVX2.
bool lightnessTargetsAvx2(const uint32_t* in, uint32_t* out, int32_t n, const int32_t* shift);
// The final combine of colour into the first n pixels of a row with values
// mul8(coverage, O), eight at a time; how many it did (0 without AVX2).
int32_t overCoverageAvx2(uint32_t* row, const uint8_t* coverage, int32_t n, int O, uint32_t colour, bool locked);

}  // namespace vl
