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

void watercolourDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x);
void blurDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x);
void eraserDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x);
void airbrushDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x);
void smudgeDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x);
void lightnessDab(TPaper& paper, TFlowImage& flow, TStroke& s, float size, float alpha, float y, float x);

// The part of the flow colour a stroke may paint: the layer image, which the
// flow buffer may exceed. Empty when the layer or the buffer is missing.
Size paintExtent(const TPaper& paper, const TFlowImage& flow, const TStroke& s);

// (i / 2047)^e in 16.16, one entry of the burn and dodge curve.
int32_t lightnessEntry(int i, float e);
// Fills the stroke's curve for its kind and effect.
void buildLightnessCurve(TStroke& s);


// Burn and dodge: the destination moves toward itself with its lightness
// run through the curve. The curve acts as a change against the straight
// line, carried over to RGB as a change too, so that where the curve is
// straight (effect 0) or the change is below a step, nothing moves.
struct LightnessCombine {
  const int32_t* curve;
  const int32_t* straight;
  uint32_t operator()(uint32_t d, uint32_t, int v) const {
    // Runs of one colour are common: the conversions run once per colour.
    const uint32_t rgb = d & 0x00FFFFFFu;
    if (!cached || rgb != lastRGB) {
      lastTarget = target(d);
      lastRGB = rgb;
      cached = true;
    }
    return lastTarget == rgb ? d : blendRGB(d, lastTarget, v);
  }
  // The colour a full-strength dab turns d into.
  uint32_t target(uint32_t d) const {
    const HLS h = rgbToHLS(d, HlsRule::Division);
    const int32_t i = ((h.l >> 13) * 2047) / 2040;
    const int32_t shift = (curve[i] - straight[i]) * 255;
    if (shift == 0) return d & 0x00FFFFFFu;
    HLS moved = h;
    moved.l = std::clamp(h.l + shift, 0, kFix255);
    const uint32_t to = hlsToRGB(moved, HlsRule::Division), from = hlsToRGB(h, HlsRule::Division);
    auto channel = [&](int shiftBits) {
      const int c = int((d >> shiftBits) & 0xFF) + int((to >> shiftBits) & 0xFF) - int((from >> shiftBits) & 0xFF);
      return uint32_t(std::clamp(c, 0, 255)) << shiftBits;
    };
    return channel(16) | channel(8) | channel(0);
  }
  mutable uint32_t lastRGB = 0, lastTarget = 0;
  mutable bool cached = false;
};

// The straight curve (exponent 1), computed exactly as the stroke's are.
const int32_t* straightLightnessCurve();

}  // namespace vl
