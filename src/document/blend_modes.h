#pragma once
// The 22 blend modes: how a layer meets the picture below it, how it is
// merged into a layer with its own alpha, and the table the dialogs list.
#include <cstdint>

#include "pixel/block_image.h"
#include "pixel/dib.h"
#include "pixel/pixel_math.h"
#include "pixel/random_state.h"
#include "platform/strings.h"

namespace vl {

inline constexpr int kBlendModeCount = 22;

enum BlendMode : int {
  kModeMultiply = 0,
  kModeAdd = 1,
  kModeSubtract = 2,
  kModeNormal = 3,
  kModeScreen = 4,
  kModeOverlay = 5,
  kModeHardLight = 6,
  kModeSoftLight = 7,
  kModeDifference = 8,
  kModeExclusion = 9,
  kModeDarker = 10,
  kModeLighter = 11,
  kModeBurn = 12,
  kModeDodge = 13,
  kModeHue = 14,
  kModeSaturation = 15,
  kModeColour = 16,
  kModeLuminosity = 17,
  kModeNegaSubtract = 18,
  kModeLinearLight = 19,
  kModeVividLight = 20,
  kModePinLight = 21,
};

// Flag bits of a mode.
inline constexpr uint8_t kModeInvertAfterCross = 0x01;  // cross merge into this mode inverts RGB
inline constexpr uint8_t kModeCrossFromSource = 0x08;   // cross merge starts from the source pixel
inline constexpr uint8_t kModeHalfToneChoice = 0x20;    // new-layer dialog offers "중간색"

// Row kernels: one call per tile row, so the mode is chosen once per piece.
using ComposeRowFn = void (*)(uint32_t* dst, const uint32_t* src, int32_t n, int opacity);
using ComposeFillFn = void (*)(uint32_t* dst, uint32_t colour, int32_t n, int opacity);

struct SLayerParam {
  int32_t mode;
  TextId name;
  uint32_t neutralColour;
  PixelFn sourceAlpha;  // opaque at opacity × source alpha ÷ 255
  PixelFn opaque;       // the mode's formula at a strength, source alpha ignored
  uint32_t mergeColour;
  uint8_t flags;
  ComposeRowFn composeRow;
  ComposeFillFn composeFill;
  PixelFn merge;        // merge onto an alpha-carrying destination
};

// The row of a mode (bit 7 masked off); none outside 0 … 21.
const SLayerParam* LayerParam(int mode);
// Neutral colour of a mode (alpha 0); the standard mode's for unknown modes.
uint32_t NeutralColour(int mode);

// Order in which lists offer the modes.
extern const int kModeUiOrder[kBlendModeCount];
// Mode at a list position; positions outside the list give the standard mode.
int ModeAtUiPosition(int position);
int UiPositionOfMode(int mode);

// Colour helpers of the hue, saturation, colour and luminosity modes.
int colourRange(uint32_t c);
uint32_t SetSatLum(uint32_t c, int S, int L);
// Soft light's D(x), in 0 … 255.
int softLightD(int x);

// Composition of one layer's pixels onto an opaque picture.
struct ComposeParams {
  int mode = kModeNormal;
  int opacity = 255;
  bool dissolve = false;
  int dissolveAmount = 255;
  RandomState* random = nullptr;  // drawn from when dissolving (a copy of the layer's)
  bool legacy = false;            // the oldest drawings' composition
};

// Composes src rows onto dst rows: n pixels, or one colour over n pixels.
void composeRow(const ComposeParams& p, uint32_t* dst, const uint32_t* src, int32_t n);
void composeFill(const ComposeParams& p, uint32_t* dst, uint32_t colour, int32_t n);

// Composes the layer image area `src` onto the composite at `dst` (both clipped).
// Allocated tiles compose pixel by pixel, uniform tiles with one colour,
// transparent uniform tiles not at all.
void composeImage(TMTC& composite, Point dst, const CBlockVMTC& image, Area src, const ComposeParams& p);

// The same from a plain buffer (the flow image while a stroke runs).
void composeBuffer(TMTC& composite, Point dst, const TMTC& buf, Area src, const ComposeParams& p);

// How many numbers the same calls draw from p.random (dissolve draws one for
// each pixel it looks at), so that rows further down can be composed from
// where the generator will stand.
int64_t composeDraws(const TMTC& composite, Point dst, const CBlockVMTC& image, Area src, const ComposeParams& p);
int64_t composeBufferDraws(const TMTC& composite, Point dst, const TMTC& buf, Area src, const ComposeParams& p);

// Blend of one layer for block-image composition (merge visible).
LayerBlend layerBlend(int mode, int opacity);

// Merge onto an alpha-carrying destination: the upper layer's mode's function,
// as MergeFrom takes it (destination alpha already scaled).
PixelFn MergeFunction(int upperMode);

// The cross-mode merge of kinds 1 and 2 (lower mode L, upper mode U).
// Returns false for any other kind. invertAfter tells whether the merged
// layer's RGB is inverted afterwards.
bool CrossMergeRecord(int kind, int lowerMode, int upperMode, SCrossMerge& rec, bool& invertAfter);
// a_s of a merge: the effective source alpha at an opacity.
int mergeSourceAlpha(int upperMode, int srcAlpha, int opacity);

}  // namespace vl
