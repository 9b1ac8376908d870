#pragma once
// Every pixel a brush writes passes this chain: the selection mask, the
// screen tone, the gradation colour, then the final colour combine. The
// mask, tone and gradation stages stay plain until the paper has them.
#include <algorithm>
#include <cstdint>

#include "pixel/dib.h"
#include "pixel/pixel_math.h"

namespace vl {

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

class PixelChain {
 public:
  // Built at stroke begin and whenever the tone or gradation switch changes.
  void Build(bool maskActive, bool useTone, bool useGradation, bool lockAlpha) {
    mask = maskActive;
    tone = useTone;
    gradation = useGradation;
    locked = lockAlpha;
  }

  // value → mask → tone → maximum into the coverage channel.
  void WriteCoverage(TChannel& ch, int32_t x, int32_t y, int value) const {
    if (value <= 0 || !ch.Contains(x, y)) return;
    value = std::min(masked(x, y, value), 255);  // a pressure above 1 saturates
    if (value <= 0) return;
    uint8_t& p = ch.Row(y)[x];
    if (value > p) p = uint8_t(value);
  }

  // value, colour → mask → tone → gradation → final combine into the colour buffer.
  void WriteColour(TMTC& buf, int32_t x, int32_t y, int value, uint32_t colour) const {
    if (value <= 0 || !buf.Contains(x, y)) return;
    value = masked(x, y, value);
    if (value <= 0) return;
    uint32_t& p = buf.Row(y)[x];
    p = combineFinal(p, colour, value, locked);
  }

  bool lockAlpha() const { return locked; }
  // No stage changes values: writes can go straight to the final combine.
  bool plain() const { return !mask && !tone && !gradation; }
  bool usesGradation() const { return gradation; }

 private:
  // The mask and tone stages scale the value; plain until selections and tones exist.
  int masked(int32_t, int32_t, int value) const { return value; }

  bool mask = false, tone = false, gradation = false, locked = false;
};

}  // namespace vl
