#pragma once
// Every pixel a brush writes passes this chain: the selection mask, the
// screen tone, the gradation colour, then the final colour combine. The
// tone and gradation stages stay plain until the paper has them; they live
// here alone, so they plug in without touching the brushes.
//
// Brushes pick a writer and a combine once per dab (see withChainWriter) and
// run their pixel loops on those types: no per-pixel test of a switched-off
// stage, no indirect call.
#include <algorithm>
#include <cstdint>

#include "pixel/dib.h"
#include "pixel/pixel_math.h"

namespace vl {

// values[i] = mul8(clamp(values[i], 0, 255), mask[i]) for n values, eight
// at a time where the processor allows.
void scaleValuesByMask(int32_t* values, const uint8_t* mask, int32_t n);

// Normal over onto an alpha-carrying pixel: value 0 does nothing, 255 sets
// the colour opaque, otherwise the alphas combine and the colour blends.
inline uint32_t combineOver(uint32_t d, uint32_t colour, int value) {
  if (value <= 0) return d;
  if (value >= 255) return 0xFF000000u | (colour & 0x00FFFFFFu);
  const int a = int(alpha(d));
  if (a == 255) return blendRGB(d, colour, value);
  // Onto a transparent pixel the colour lands whole, with the value as alpha.
  if (a == 0) return (uint32_t(value) << 24) | (colour & 0x00FFFFFFu);
  const int a2 = a + MUL[value][255 - a];
  return (uint32_t(a2) << 24) | (blendRGB(d, colour, value * 255 / a2) & 0x00FFFFFFu);
}

// The final combine: with the layer's transparency locked only colour blends.
inline uint32_t combineFinal(uint32_t d, uint32_t colour, int value, bool lockAlpha) {
  return lockAlpha ? blendRGB(d, colour, value) : combineOver(d, colour, value);
}

// ---- final combines: (destination, colour, value 1 … 255) → destination ----

struct OverCombine {
  uint32_t operator()(uint32_t d, uint32_t c, int v) const { return combineOver(d, c, v); }
};

// Transparency locked: colour only, alpha kept.
struct LockedCombine {
  uint32_t operator()(uint32_t d, uint32_t c, int v) const { return blendRGB(d, c, v); }
};

// Blur and smudge carry a source alpha in the colour's top byte: the alphas
// blend by the value, then the colour, unless nothing is left to colour.
struct AlphaBlendCombine {
  uint32_t operator()(uint32_t d, uint32_t c, int v) const {
    const uint32_t a = uint32_t(lerp8(int(alpha(c)), int(alpha(d)), v));
    if (a == 0) return d & 0x00FFFFFFu;
    return (a << 24) | (blendRGB(d, c, v) & 0x00FFFFFFu);
  }
};

// The eraser without a transparency lock: alpha falls, colour stays.
struct AlphaReduceCombine {
  uint32_t operator()(uint32_t d, uint32_t, int v) const {
    const uint32_t a = alpha(d);
    return ((a - MUL[v][a]) << 24) | (d & 0x00FFFFFFu);
  }
};

// The selection a stroke paints through: the mask's values laid out like the
// flow buffer, so layer pixel (x, y) finds its value at the same place. None:
// no selection.
struct MaskStage {
  const TChannel* values = nullptr;
};

class PixelChain {
 public:
  // Built at stroke begin and whenever the tone or gradation switch changes.
  void Build(const MaskStage& maskStage, bool useTone, bool useGradation, bool lockAlpha) {
    mask = maskStage.values && maskStage.values->IsAllocated() && maskStage.values->height > 0;
    // The buffer is one block: row y starts at row 0 plus y strides.
    maskRow0 = mask ? maskStage.values->Row(0) : nullptr;
    maskStride = mask && maskStage.values->height > 1 ? maskStage.values->Row(1) - maskStage.values->Row(0) : 0;
    maskWidth = mask ? maskStage.values->width : 0;
    maskHeight = mask ? maskStage.values->height : 0;
    tone = useTone;
    gradation = useGradation;
    locked = lockAlpha;
  }

  // value → mask → tone → maximum into the coverage channel.
  void WriteCoverage(TChannel& ch, int32_t x, int32_t y, int value) const {
    if (value <= 0 || !ch.Contains(x, y)) return;
    WriteCoverageAt(ch.Row(y)[x], x, y, value);
  }
  // The same into the byte of (x, y), which the caller has found in the channel.
  void WriteCoverageAt(uint8_t& p, int32_t x, int32_t y, int value) const {
    if (value <= 0) return;
    value = std::min(scaled(x, y, value), 255);  // a pressure above 1 saturates
    if (value > p) p = uint8_t(value);
  }

  // The same for `count` bytes from `first`, `step` apart, that lie from
  // (x, y) along a row (or down a column), all with one value: the selection
  // is read along the run without a look-up per byte.
  void WriteCoverageRun(uint8_t* first, ptrdiff_t step, int32_t x, int32_t y, bool alongRow, int32_t count,
                        int value) const {
    if (value <= 0 || count <= 0) return;
    if (tone || (mask && (uint32_t(x) >= uint32_t(maskWidth) || uint32_t(y) >= uint32_t(maskHeight)))) {
      for (int32_t i = 0; i < count; ++i)
        WriteCoverageAt(first[i * step], alongRow ? x + i : x, alongRow ? y : y + i, value);
      return;
    }
    value = std::min(value, 255);
    if (!mask) {
      for (int32_t i = 0; i < count; ++i)
        if (value > first[i * step]) first[i * step] = uint8_t(value);
      return;
    }
    const uint8_t* m = maskRow0 + ptrdiff_t(y) * maskStride + x;
    const ptrdiff_t mstep = alongRow ? 1 : maskStride;
    for (int32_t i = 0; i < count; ++i) {
      const int v = mul8(value, m[i * mstep]);
      if (v > first[i * step]) first[i * step] = uint8_t(v);
    }
  }

  // The colour stages: mask and tone scale the value, the gradation gives the
  // colour (the top byte of the colour is kept for the combines that read
  // it). False when nothing is left to write.
  bool Stages(int32_t x, int32_t y, int& value, uint32_t& colour) const {
    value = scaled(x, y, value);
    if (value <= 0) return false;
    if (gradation) GradationStage(x, y, value, colour);
    return value > 0;
  }

  // The mask and tone stages for `count` values of a row from (x, y), each
  // scaled as Stages scales it (0 where nothing is left); the gradation is
  // not applied.
  void ScaleRun(int32_t x, int32_t y, int32_t count, int32_t* values) const {
    if (!mask) return;
    const int32_t from = std::clamp(-x, 0, count), to = std::clamp(maskWidth - x, from, count);
    if (uint32_t(y) >= uint32_t(maskHeight)) {
      std::fill(values, values + count, 0);
      return;
    }
    std::fill(values, values + from, 0);
    std::fill(values + to, values + count, 0);
    scaleValuesByMask(values + from, maskRow0 + ptrdiff_t(y) * maskStride + x + from, to - from);
  }

  // The gradation alone: value scaled by the gradation colour's alpha, its
  // RGB taken. Coverage brushes met the mask and tone when the coverage was
  // written, so their rebuild passes this stage only.
  void GradationStage(int32_t x, int32_t y, int& value, uint32_t& colour) const {
    const uint32_t g = gradationAt(x, y, colour);
    value = mul8(value, int(alpha(g)));
    colour = (colour & 0xFF000000u) | (g & 0x00FFFFFFu);
  }

  bool lockAlpha() const { return locked; }
  // No stage changes values: writes can go straight to the final combine.
  bool plain() const { return !mask && !tone && !gradation; }
  bool usesGradation() const { return gradation; }

 private:
  // The mask scales the value by the selection under the pixel, nothing
  // outside it; the tone stage is plain until tones exist.
  int scaled(int32_t x, int32_t y, int value) const {
    if (!mask) return value;
    if (uint32_t(x) >= uint32_t(maskWidth) || uint32_t(y) >= uint32_t(maskHeight)) return 0;
    return mul8(std::min(value, 255), maskRow0[ptrdiff_t(y) * maskStride + x]);
  }
  // The gradation colour at a layer point (0xAARRGGBB); plain until
  // gradations exist: the paint colour, opaque.
  uint32_t gradationAt(int32_t, int32_t, uint32_t colour) const { return 0xFF000000u | colour; }

  bool mask = false, tone = false, gradation = false, locked = false;
  const uint8_t* maskRow0 = nullptr;
  ptrdiff_t maskStride = 0;
  int32_t maskWidth = 0, maskHeight = 0;
};

// Writes one pixel through the chain's stages (when Staged) and a combine.
template <bool Staged>
struct ChainWriter {
  const PixelChain* chain;
  template <class Combine>
  void operator()(uint32_t& p, int32_t x, int32_t y, int value, uint32_t colour, const Combine& combine) const {
    if constexpr (Staged) {
      if (!chain->Stages(x, y, value, colour)) return;
    }
    p = combine(p, colour, value);
  }
};

// Calls fn(writer) with the writer for this chain: the stages are looked at
// once here, not per pixel.
template <class Fn>
void withChainWriter(const PixelChain& chain, Fn&& fn) {
  if (chain.plain()) {
    fn(ChainWriter<false>{&chain});
  } else {
    fn(ChainWriter<true>{&chain});
  }
}

// Calls fn(writer, combine) with the chain's normal final combine.
template <class Fn>
void withNormalCombine(const PixelChain& chain, Fn&& fn) {
  withChainWriter(chain, [&](auto writer) {
    if (chain.lockAlpha()) {
      fn(writer, LockedCombine{});
    } else {
      fn(writer, OverCombine{});
    }
  });
}

}  // namespace vl
