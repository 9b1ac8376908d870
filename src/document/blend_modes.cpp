#include "document/blend_modes.h"

#include "document/compose_kernels.h"

#include <algorithm>
#include <cstring>

namespace vl {
namespace {

constexpr uint32_t kRGB = 0x00FFFFFFu;
constexpr uint32_t kAlpha = 0xFF000000u;

inline uint32_t rgb(int r, int g, int b) { return (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b); }

// ---- per-channel results B(d, s) ----

template <int M>
inline int channelResult(int d, int s) {
  if constexpr (M == kModeScreen) {
    return d + s - mul8(d, s);
  } else if constexpr (M == kModeOverlay) {
    return d >= 128 ? (65025 - 2 * (255 - d) * (255 - s)) / 255 : 2 * d * s / 255;
  } else if constexpr (M == kModeHardLight) {
    return s >= 128 ? (65025 - 2 * (255 - d) * (255 - s)) / 255 : 2 * d * s / 255;
  } else if constexpr (M == kModeSoftLight) {
    return s >= 128 ? (255 * d + (softLightD(d) - d) * (2 * s - 255)) / 255
                    : (255 * d - (255 - 2 * s) * mul8(d, 255 - d)) / 255;
  } else if constexpr (M == kModeDifference) {
    return d > s ? d - s : s - d;
  } else if constexpr (M == kModeExclusion) {
    return d + s - 2 * mul8(d, s);
  } else if constexpr (M == kModeDarker) {
    return std::min(d, s);
  } else if constexpr (M == kModeLighter) {
    return std::max(d, s);
  } else if constexpr (M == kModeBurn) {
    if (s == 0) return d == 255 ? 255 : 0;
    return 255 - std::min(255, (255 - d) * 255 / s);
  } else if constexpr (M == kModeDodge) {
    if (s >= 255) return d > 0 ? 255 : 0;
    return std::min(255, d * 255 / (255 - s));
  } else if constexpr (M == kModeLinearLight) {
    return std::clamp(d + 2 * s - 256, 0, 255);
  } else if constexpr (M == kModeVividLight) {
    if (s > 254) return 255;
    if (s > 127) return std::min(255, (d * 255 / (255 - s)) >> 1);
    if (s == 0) return 0;
    return 255 - std::min(255, ((255 - d) * 255 / s) >> 1);
  } else if constexpr (M == kModePinLight) {
    return std::min(std::max(d, 2 * s - 255), 2 * s);
  } else {
    static_assert(M < 0, "not a per-channel mode");
    return 0;
  }
}

// Colour result of the four colour modes, RGB only.
template <int M>
inline uint32_t colourResult(uint32_t d, uint32_t s) {
  if constexpr (M == kModeHue) return SetSatLum(s, colourRange(d), luminance(d));
  if constexpr (M == kModeSaturation) return SetSatLum(d, colourRange(s), luminance(d));
  if constexpr (M == kModeColour) return SetSatLum(s, colourRange(s), luminance(d));
  if constexpr (M == kModeLuminosity) return SetSatLum(d, colourRange(d), luminance(s));
  return 0;
}

// The mode's formula at a strength, ignoring source alpha; keeps the pixel's alpha.
template <int M>
inline uint32_t opaqueT(uint32_t d, uint32_t s, int t) {
  if constexpr (M == kModeMultiply) {
    return inkMultiply(d, s, t);
  } else if constexpr (M == kModeAdd) {
    return inkAdd(d, s, t);
  } else if constexpr (M == kModeSubtract) {
    return inkSubtract(d, s, t);
  } else if constexpr (M == kModeNormal) {
    return blendRGB(d, s, t);
  } else if constexpr (M == kModeNegaSubtract) {
    auto ch = [t](int dc, int sc) { return std::max(0, dc - ((t * 32897 * (255 - sc)) >> 23)); };
    return (d & kAlpha) | rgb(ch(red(d), red(s)), ch(green(d), green(s)), ch(blue(d), blue(s)));
  } else if constexpr (M >= kModeHue && M <= kModeLuminosity) {
    if (t == 0) return d;
    return blendRGB(d, colourResult<M>(d, s), t);
  } else {
    if (t == 0) return d;
    const uint32_t b = rgb(channelResult<M>(red(d), red(s)), channelResult<M>(green(d), green(s)),
                           channelResult<M>(blue(d), blue(s)));
    return blendRGB(d, b, t);
  }
}

template <int M>
uint32_t opaqueFn(uint32_t d, uint32_t s, int t) {
  return opaqueT<M>(d, s, t);
}

template <int M>
uint32_t sourceAlphaFn(uint32_t d, uint32_t s, int opacity) {
  const uint32_t a = alpha(s);
  if (a == 0) return d;
  return opaqueT<M>(d, s, opacity * int(a) / 255);
}

template <int M>
void composeRowT(uint32_t* dst, const uint32_t* src, int32_t n, int opacity) {
  if constexpr (M == kModeNormal) {
    composeRowNormalSimd(dst, src, n, opacity);
    return;
  } else if constexpr (M == kModeMultiply) {
    composeRowMultiplySimd(dst, src, n, opacity);
    return;
  }
  if (opacity == 255) {
    for (int32_t i = 0; i < n; ++i) {
      const uint32_t s = src[i];
      const uint32_t a = alpha(s);
      if (a == 0) continue;
      dst[i] = opaqueT<M>(dst[i], s, int(a));
    }
  } else {
    for (int32_t i = 0; i < n; ++i) {
      const uint32_t s = src[i];
      const uint32_t a = alpha(s);
      if (a == 0) continue;
      dst[i] = opaqueT<M>(dst[i], s, opacity * int(a) / 255);
    }
  }
}

template <int M>
void composeFillT(uint32_t* dst, uint32_t colour, int32_t n, int opacity) {
  const int t = opacity * int(alpha(colour)) / 255;
  if (t == 0) return;
  if constexpr (M == kModeNormal) {
    if (t == 255) {
      for (int32_t i = 0; i < n; ++i) dst[i] = (dst[i] & kAlpha) | (colour & kRGB);
    } else {
      composeFillNormalSimd(dst, colour, n, opacity);
    }
    return;
  }
  for (int32_t i = 0; i < n; ++i) dst[i] = opaqueT<M>(dst[i], colour, t);
}

// ---- merges onto an alpha-carrying destination ----

int sourceAlphaFor(int mode, int srcAlpha, int opacity) {
  if (mode == kModeAdd || mode == kModeSubtract || mode == kModeNormal) return MUL[srcAlpha][opacity];
  return mul8(srcAlpha, opacity);
}

inline uint32_t clampRGB(int64_t r, int64_t g, int64_t b) {
  auto c = [](int64_t v) { return uint32_t(std::clamp<int64_t>(v, 0, 255)); };
  return (c(r) << 16) | (c(g) << 8) | c(b);
}

// Per-channel merge formula f(d, s, a_d, a_s, p, a) with the result alpha a.
template <class F>
inline uint32_t mergeChannels(uint32_t d, uint32_t s, int ad, int as, F f) {
  const int p = mul8(ad, as);
  const int a = ad + as - p;
  if (a == 0) return d;
  return (uint32_t(a) << 24) | clampRGB(f(int(red(d)), int(red(s)), ad, as, p, a),
                                        f(int(green(d)), int(green(s)), ad, as, p, a),
                                        f(int(blue(d)), int(blue(s)), ad, as, p, a));
}

uint32_t mergeMultiply(uint32_t d, uint32_t s, int opacity) {
  return mergeChannels(d, s, int(alpha(d)), sourceAlphaFor(kModeMultiply, int(alpha(s)), opacity),
                       [](int dc, int sc, int ad, int as, int p, int a) -> int64_t {
                         return (int64_t(dc) * ad + int64_t(as) * sc - int64_t(p) * (sc + dc - mul8(dc, sc))) / a;
                       });
}

uint32_t mergeScreen(uint32_t d, uint32_t s, int opacity) {
  return mergeChannels(d, s, int(alpha(d)), sourceAlphaFor(kModeScreen, int(alpha(s)), opacity),
                       [](int dc, int sc, int ad, int as, int p, int a) -> int64_t {
                         return (int64_t(dc) * ad + int64_t(as) * sc - int64_t(p) * mul8(dc, sc)) / a;
                       });
}

uint32_t mergeDifference(uint32_t d, uint32_t s, int opacity) {
  return mergeChannels(d, s, int(alpha(d)), sourceAlphaFor(kModeDifference, int(alpha(s)), opacity),
                       [](int dc, int sc, int ad, int as, int, int a) -> int64_t {
                         const int64_t x = int64_t(255) * sc - int64_t(ad) * dc;
                         return (as * (x < 0 ? -x : x) + int64_t(ad) * dc * (255 - as)) / (255 * int64_t(a));
                       });
}

uint32_t mergeDarker(uint32_t d, uint32_t s, int opacity) {
  return mergeChannels(d, s, int(alpha(d)), sourceAlphaFor(kModeDarker, int(alpha(s)), opacity),
                       [](int dc, int sc, int ad, int as, int, int a) -> int64_t {
                         const int64_t g = int64_t(dc) * ad + 255 * (255 - ad);
                         return (as * std::min<int64_t>(g, 255 * sc) + (255 - as) * g) / (255 * int64_t(a));
                       });
}

uint32_t mergeLighter(uint32_t d, uint32_t s, int opacity) {
  return mergeChannels(d, s, int(alpha(d)), sourceAlphaFor(kModeLighter, int(alpha(s)), opacity),
                       [](int dc, int sc, int ad, int as, int, int a) -> int64_t {
                         const int64_t g = int64_t(dc) * ad;
                         return (as * std::max<int64_t>(g, 255 * sc) + (255 - as) * g) / (255 * int64_t(a));
                       });
}

// Add and subtract layers accumulate: any overlap of two coloured pixels is opaque.
template <int M>
uint32_t mergeAccumulate(uint32_t d, uint32_t s, int opacity) {
  const int ad = int(alpha(d)), as = sourceAlphaFor(M, int(alpha(s)), opacity);
  int a = ad + as - mul8(ad, as);
  if (a == 0) return d;
  if (ad > 0 && as > 0) a = 255;
  auto ch = [&](int dc, int sc) -> int64_t { return (int64_t(dc) * ad + int64_t(sc) * as) / a; };
  return (uint32_t(a) << 24) | clampRGB(ch(red(d), red(s)), ch(green(d), green(s)), ch(blue(d), blue(s)));
}

uint32_t mergeNormal(uint32_t d, uint32_t s, int opacity) {
  const int ad = int(alpha(d)), as = sourceAlphaFor(kModeNormal, int(alpha(s)), opacity);
  if (as == 0) return d;
  if (as == 255) return kAlpha | (s & kRGB);
  if (ad == 255) return blendRGB(d, s, as);
  const int a = ad + MUL[as][255 - ad];
  return (uint32_t(a) << 24) | (blendRGB(d, s, as * 255 / a) & kRGB);
}

// Everything else: start from the neutral colour, put the destination over it
// at its alpha, apply the mode at the source alpha, and un-premultiply.
inline uint32_t unpremultiply(uint32_t start, int a) {
  auto ch = [a](uint32_t v) -> int64_t { return int64_t(v) * 255 / a; };
  return (uint32_t(a) << 24) | clampRGB(ch(red(start)), ch(green(start)), ch(blue(start)));
}

template <int M>
uint32_t mergeGeneric(uint32_t d, uint32_t s, int opacity) {
  const int ad = int(alpha(d)), as = sourceAlphaFor(M, int(alpha(s)), opacity);
  const int a = ad + as - mul8(ad, as);
  if (a == 0) return d;
  uint32_t start = LayerParam(M)->neutralColour & kRGB;
  start = blendRGB(start, d, ad);
  start = opaqueT<M>(start, s, as);
  return unpremultiply(start, a);
}

template <int M>
constexpr PixelFn mergeFor() {
  if constexpr (M == kModeMultiply) return mergeMultiply;
  if constexpr (M == kModeAdd || M == kModeSubtract) return mergeAccumulate<M>;
  if constexpr (M == kModeNormal) return mergeNormal;
  if constexpr (M == kModeScreen) return mergeScreen;
  if constexpr (M == kModeDifference) return mergeDifference;
  if constexpr (M == kModeDarker) return mergeDarker;
  if constexpr (M == kModeLighter) return mergeLighter;
  return mergeGeneric<M>;
}

#define VL_MODE_ROW(M, NAME, NEUTRAL, MERGE_COLOUR, FLAGS)                                                     \
  SLayerParam{M,          NAME,          NEUTRAL,         sourceAlphaFn<M>, opaqueFn<M>, MERGE_COLOUR, FLAGS, \
              composeRowT<M>, composeFillT<M>, mergeFor<M>()}

const SLayerParam kLayerParams[kBlendModeCount] = {
    VL_MODE_ROW(0, TextId::ModeMultiply, 0xFFFFFF, 0xFFFFFF, 0x20),
    VL_MODE_ROW(1, TextId::ModeAdd, 0x000000, 0x000000, 0x20),
    VL_MODE_ROW(2, TextId::ModeSubtract, 0x000000, 0xFFFFFF, 0x21),
    VL_MODE_ROW(3, TextId::ModeNormal, 0xFFFFFF, 0x000000, 0x00),
    VL_MODE_ROW(4, TextId::ModeScreen, 0x000000, 0x000000, 0x22),
    VL_MODE_ROW(5, TextId::ModeOverlay, 0x7F7F7F, 0x7F7F7F, 0x26),
    VL_MODE_ROW(6, TextId::ModeHardLight, 0x7F7F7F, 0x7F7F7F, 0x26),
    VL_MODE_ROW(7, TextId::ModeSoftLight, 0x7F7F7F, 0x7F7F7F, 0x26),
    VL_MODE_ROW(8, TextId::ModeDifference, 0x000000, 0x000000, 0x22),
    VL_MODE_ROW(9, TextId::ModeExclusion, 0x000000, 0x000000, 0x22),
    VL_MODE_ROW(10, TextId::ModeDarker, 0xFFFFFF, 0xFFFFFF, 0x22),
    VL_MODE_ROW(11, TextId::ModeLighter, 0x000000, 0x000000, 0x22),
    VL_MODE_ROW(12, TextId::ModeBurn, 0xFFFFFF, 0xFFFFFF, 0x22),
    VL_MODE_ROW(13, TextId::ModeDodge, 0x000000, 0x000000, 0x22),
    VL_MODE_ROW(14, TextId::ModeHue, 0x000000, 0xFFFFFF, 0x1A),
    VL_MODE_ROW(15, TextId::ModeSaturation, 0x000000, 0xFFFFFF, 0x1A),
    VL_MODE_ROW(16, TextId::ModeColour, 0x000000, 0xFFFFFF, 0x1A),
    VL_MODE_ROW(17, TextId::ModeLuminosity, 0x000000, 0xFFFFFF, 0x1A),
    VL_MODE_ROW(18, TextId::ModeNegaSubtract, 0xFFFFFF, 0xFFFFFF, 0x20),
    VL_MODE_ROW(19, TextId::ModeLinearLight, 0x7F7F7F, 0x7F7F7F, 0x26),
    VL_MODE_ROW(20, TextId::ModeVividLight, 0xFFFFFF, 0xFFFFFF, 0x02),
    VL_MODE_ROW(21, TextId::ModePinLight, 0x7F7F7F, 0x7F7F7F, 0x26),
};
#undef VL_MODE_ROW

// Cross merge: the lower mode over the start colour at a_d, the upper mode at a_s.
uint32_t crossGeneric(const SCrossMerge& rec, uint32_t d, uint32_t s, int opacity) {
  const int ad = int(alpha(d)), as = mul8(int(alpha(s)), opacity);
  const int a = ad + as - mul8(ad, as);
  if (a == 0) return d;
  uint32_t start = (rec.startFromSource ? s : rec.mergeColour) & kRGB;
  start = rec.lower(start, d, ad);
  start = rec.upper(start, s, as);
  return unpremultiply(start, a);
}

uint32_t crossPair(const SCrossMerge& rec, uint32_t d, uint32_t s, int opacity) { return rec.pairMerge(d, s, opacity); }

}  // namespace

const int kModeUiOrder[kBlendModeCount] = {3, 0, 1, 2, 18, 4, 5, 6, 7, 19, 20, 21, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};

int ModeAtUiPosition(int position) {
  return position >= 0 && position < kBlendModeCount ? kModeUiOrder[position] : kModeNormal;
}

int UiPositionOfMode(int mode) {
  for (int i = 0; i < kBlendModeCount; ++i)
    if (kModeUiOrder[i] == (mode & 0x7F)) return i;
  return 0;
}

const SLayerParam* LayerParam(int mode) {
  mode &= 0x7F;
  return mode < kBlendModeCount ? &kLayerParams[mode] : nullptr;
}

uint32_t NeutralColour(int mode) {
  const SLayerParam* p = LayerParam(mode);
  return p ? p->neutralColour : kLayerParams[kModeNormal].neutralColour;
}

int colourRange(uint32_t c) {
  const int r = int(red(c)), g = int(green(c)), b = int(blue(c));
  return std::max({r, g, b}) - std::min({r, g, b});
}

uint32_t SetSatLum(uint32_t c, int S, int L) {
  int k[3] = {int(red(c)), int(green(c)), int(blue(c))};
  const int mn = std::min({k[0], k[1], k[2]}), mx = std::max({k[0], k[1], k[2]});
  if (S == 0 || mx == mn) return (c & kAlpha) | rgb(L, L, L);
  for (int& v : k) v = S * (v - mn) / (mx - mn);
  auto lum = [](int r, int g, int b) { return (r * 19595 + g * 38469 + b * 7472) >> 16; };
  const int m = lum(k[0], k[1], k[2]);
  const int delta = L - m;
  if (delta + mx >= 256) {
    const int r = std::max(1, lum(mx - k[0], mx - k[1], mx - k[2]));
    for (int& v : k) v = 255 - (255 - L) * (mx - v) / r;
  } else if (delta < 0) {
    for (int& v : k) v = L * v / m;
  } else {
    for (int& v : k) v += delta;
  }
  for (int& v : k) v = std::clamp(v, 0, 255);
  return (c & kAlpha) | rgb(k[0], k[1], k[2]);
}

int softLightD(int x) {
  const int32_t v = x * 65536 / 255;
  int32_t D;
  if (v <= 0x4000) {
    D = fixMul(fixMul(16 * v - (12 << 16), v) + (4 << 16), v);
  } else {
    D = fixSqrt(v);
  }
  return (D * 255) >> 16;
}

void composeRow(const ComposeParams& p, uint32_t* dst, const uint32_t* src, int32_t n) {
  if (p.legacy) {
    // Multiply, add and subtract use their inks at the opacity, pixel alpha ignored;
    // every other mode composes as a standard layer.
    switch (p.mode & 0x7F) {
      case kModeMultiply: for (int32_t i = 0; i < n; ++i) dst[i] = inkMultiply(dst[i], src[i], p.opacity); return;
      case kModeAdd: for (int32_t i = 0; i < n; ++i) dst[i] = inkAdd(dst[i], src[i], p.opacity); return;
      case kModeSubtract: for (int32_t i = 0; i < n; ++i) dst[i] = inkSubtract(dst[i], src[i], p.opacity); return;
      default: composeRowT<kModeNormal>(dst, src, n, p.opacity); return;
    }
  }
  const SLayerParam* lp = LayerParam(p.mode);
  if (!lp) return;
  if (!p.dissolve || !p.random) {
    lp->composeRow(dst, src, n, p.opacity);
    return;
  }
  for (int32_t i = 0; i < n; ++i) {
    const int t = mul8(p.dissolveAmount, int(alpha(src[i])));
    if (p.random->draw() < t) dst[i] = sourceAlphaFn<kModeNormal>(dst[i], src[i], p.opacity);
  }
}

void composeFill(const ComposeParams& p, uint32_t* dst, uint32_t colour, int32_t n) {
  if (p.legacy) {
    switch (p.mode & 0x7F) {
      case kModeMultiply: for (int32_t i = 0; i < n; ++i) dst[i] = inkMultiply(dst[i], colour, p.opacity); return;
      case kModeAdd: for (int32_t i = 0; i < n; ++i) dst[i] = inkAdd(dst[i], colour, p.opacity); return;
      case kModeSubtract: for (int32_t i = 0; i < n; ++i) dst[i] = inkSubtract(dst[i], colour, p.opacity); return;
      default: composeFillT<kModeNormal>(dst, colour, n, p.opacity); return;
    }
  }
  const SLayerParam* lp = LayerParam(p.mode);
  if (!lp) return;
  if (!p.dissolve || !p.random) {
    lp->composeFill(dst, colour, n, p.opacity);
    return;
  }
  const int t = mul8(p.dissolveAmount, int(alpha(colour)));
  for (int32_t i = 0; i < n; ++i)
    if (p.random->draw() < t) dst[i] = sourceAlphaFn<kModeNormal>(dst[i], colour, p.opacity);
}

namespace {

// The part of a layer image that composing `src` at `dst` looks at: clipped
// to both images and, but for the oldest drawings' inks, to the occupied
// region. False when nothing is left.
bool composeArea(const TMTC& composite, Point& dst, const CBlockVMTC& image, Area& src, const ComposeParams& p) {
  if (!composite.IsAllocated() || !image.IsValid() || !clipCopy(dst, src, image.size(), composite.size())) return false;
  // Only the occupied region holds anything to compose: elsewhere every tile
  // is transparent and uniform.
  if (!p.legacy) {
    const Bounds occupied = intersect(image.OccupiedUnion(), src.bounds());
    if (occupied.empty()) return false;
    dst.x += occupied.left - src.x;
    dst.y += occupied.top - src.y;
    src = Area(occupied);
  }
  return true;
}

// How many rows ahead a tile's rows are fetched while rows are composed.
constexpr int32_t kAhead = 4;

// Pixels of a composite piece that stays in the nearest caches.
constexpr int64_t kCachedPiece = 128 * 32;

// A mode's row function, or straight the vector kernel it would call.
ComposeRowFn rowKernel(const SLayerParam& lp) {
  if (lp.mode == kModeNormal) return composeRowNormalKernel();
  if (lp.mode == kModeMultiply) return composeRowMultiplyKernel();
  return lp.composeRow;
}

bool drawsNumbers(const ComposeParams& p) { return p.dissolve && p.random && !p.legacy && LayerParam(p.mode); }

}  // namespace

int64_t composeDraws(const TMTC& composite, Point dst, const CBlockVMTC& image, Area src, const ComposeParams& p) {
  if (!drawsNumbers(p) || !composeArea(composite, dst, image, src, p)) return 0;
  int64_t n = 0;
  image.Walk(src, [&](const TileDesc& t, const Area& l, Point) {
    if (t.allocated || alpha(t.uniform) != 0) n += int64_t(l.width) * l.height;
    return true;
  });
  return n;
}

int64_t composeBufferDraws(const TMTC& composite, Point dst, const TMTC& buf, Area src, const ComposeParams& p) {
  if (!drawsNumbers(p) || !composite.IsAllocated() || !buf.IsAllocated() ||
      !clipCopy(dst, src, buf.size(), composite.size()))
    return 0;
  return int64_t(src.width) * src.height;
}

void composeImage(TMTC& composite, Point dst, const CBlockVMTC& image, Area src, const ComposeParams& p) {
  if (!composeArea(composite, dst, image, src, p)) return;
  // The mode's kernels are chosen once for the whole image, not per row.
  const SLayerParam* lp = LayerParam(p.mode);
  const bool direct = !p.legacy && !(p.dissolve && p.random) && lp;
  const ComposeRowFn rowFn = direct ? rowKernel(*lp) : nullptr;
  const ComposeFillFn fillFn = direct ? lp->composeFill : nullptr;
  const int opacity = p.opacity;
  const int32_t ox = dst.x - src.x, oy = dst.y - src.y;
  // Dissolve draws one number per pixel in the order of the tile walk, so a
  // recorded pattern comes out the same however wide the rectangle is: tile
  // by tile, each piece's rows top to bottom.
  if (drawsNumbers(p)) {
    image.Walk(src, [&](const TileDesc& t, const Area& l, Point ip) {
      if (!t.allocated && alpha(t.uniform) == 0) return true;
      for (int32_t j = 0; j < l.height; ++j) {
        uint32_t* d = composite.Row(ip.y + j + oy) + ip.x + ox;
        if (t.allocated) {
          composeRow(p, d, image.TileRow(t, l.y + j) + l.x, l.width);
        } else {
          composeFill(p, d, t.uniform, l.width);
        }
      }
      return true;
    });
    return;
  }
  // A piece of the composite small enough to stay in the cache goes tile by
  // tile, each tile's memory read straight through, while the next tile of
  // the walk is fetched a row for a row.
  if (int64_t(src.width) * src.height <= kCachedPiece) {
    const int32_t c0 = src.x >> image.tileShift, c1 = (src.right() - 1) >> image.tileShift;
    const int32_t r1 = (src.bottom() - 1) >> image.tileShift;
    image.Walk(src, [&](const TileDesc& t, const Area& l, Point ip) {
      if (!t.allocated && alpha(t.uniform) == 0 && !p.legacy) return true;
      const int32_t x = ip.x + ox, y = ip.y + oy;
      if (t.allocated) {
        const TileDesc next = t.column < c1 ? image.TileView(t.column + 1, t.row)
                              : t.row < r1  ? image.TileView(c0, t.row + 1)
                                            : TileDesc{};
        for (int32_t j = 0; j < l.height; ++j) {
          if (next.allocated) {
            const char* n = reinterpret_cast<const char*>(image.TileRow(next, j));
            __builtin_prefetch(n);
            __builtin_prefetch(n + 64);
          }
          uint32_t* d = composite.Row(y + j) + x;
          const uint32_t* s = image.TileRow(t, l.y + j) + l.x;
          if (rowFn) {
            rowFn(d, s, l.width, opacity);
          } else {
            composeRow(p, d, s, l.width);
          }
        }
      } else {
        for (int32_t j = 0; j < l.height; ++j) {
          uint32_t* d = composite.Row(y + j) + x;
          if (fillFn) {
            fillFn(d, t.uniform, l.width, opacity);
          } else {
            composeFill(p, d, t.uniform, l.width);
          }
        }
      }
      return true;
    });
    return;
  }
  // Row by row, so the composite is written in memory order. The legacy inks
  // ignore alpha, so only the current generation skips transparent tiles.
  image.WalkRows(src, [&](const TileDesc& t, int32_t tx, int32_t ty, int32_t n, Point ip) {
    if (!t.allocated && alpha(t.uniform) == 0 && !p.legacy) return;
    uint32_t* d = composite.Row(ip.y + oy) + ip.x + ox;
    if (t.allocated) {
      const uint32_t* s = image.TileRow(t, ty) + tx;
      // Tiles lie apart in memory: fetch this tile's rows a few ahead, while
      // the other tiles of the row are composed.
      if (ty + kAhead < image.tileSize) {
        const char* next = reinterpret_cast<const char*>(image.TileRow(t, ty + kAhead));
        __builtin_prefetch(next);
        __builtin_prefetch(next + 64);
      }
      if (rowFn) {
        rowFn(d, s, n, opacity);
      } else {
        composeRow(p, d, s, n);
      }
    } else if (fillFn) {
      fillFn(d, t.uniform, n, opacity);
    } else {
      composeFill(p, d, t.uniform, n);
    }
  });
}

void composeBuffer(TMTC& composite, Point dst, const TMTC& buf, Area src, const ComposeParams& p) {
  if (!composite.IsAllocated() || !buf.IsAllocated() || !clipCopy(dst, src, buf.size(), composite.size())) return;
  for (int32_t j = 0; j < src.height; ++j)
    composeRow(p, composite.Row(dst.y + j) + dst.x, buf.Row(src.y + j) + src.x, src.width);
}

LayerBlend layerBlend(int mode, int opacity) {
  const SLayerParam* lp = LayerParam(mode);
  return {lp ? lp->sourceAlpha : kLayerParams[kModeNormal].sourceAlpha, std::clamp(opacity, 0, 255)};
}

PixelFn MergeFunction(int upperMode) {
  const SLayerParam* lp = LayerParam(upperMode);
  return lp ? lp->merge : nullptr;
}

int mergeSourceAlpha(int upperMode, int srcAlpha, int opacity) { return sourceAlphaFor(upperMode & 0x7F, srcAlpha, opacity); }

bool CrossMergeRecord(int kind, int lowerMode, int upperMode, SCrossMerge& rec, bool& invertAfter) {
  if (kind != 1 && kind != 2) return false;
  const SLayerParam* L = LayerParam(lowerMode);
  const SLayerParam* U = LayerParam(upperMode);
  if (!L || !U) return false;
  invertAfter = (L->flags & kModeInvertAfterCross) != 0;
  struct Pair {
    int lower, upper;
    PixelFn merge;
  };
  static const Pair kPairs[4] = {{0, 0, mergeMultiply},
                                 {2, 2, mergeAccumulate<kModeSubtract>},
                                 {3, 0, mergeMultiply},
                                 {0, 3, mergeNormal}};
  const int searched = kind == 1 ? 2 : 4;
  rec = SCrossMerge{};
  for (int i = 0; i < searched; ++i)
    if (kPairs[i].lower == L->mode && kPairs[i].upper == U->mode) {
      rec.pairMerge = kPairs[i].merge;
      rec.merge = crossPair;
      // A pair merge already gives the lower mode's own values (two subtract
      // layers accumulate amounts); only the generic merge works inverted.
      invertAfter = false;
      return true;
    }
  rec.mergeColour = U->mergeColour == L->mergeColour ? U->mergeColour : std::max(U->mergeColour, L->mergeColour);
  rec.startFromSource = (U->flags & kModeCrossFromSource) != 0;
  rec.lower = L->opaque;
  rec.upper = U->opaque;
  rec.merge = crossGeneric;
  return true;
}

}  // namespace vl
