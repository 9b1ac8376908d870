#pragma once
// Seeded random editing sessions for tests: one call makes one recorded
// change of a paper, chosen among every operation the paper has, with
// random arguments; checksums describe the whole paper.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "document/blend_modes.h"
#include "document/paper.h"
#include "drawing/stroke_protocol.h"

namespace vl::test {

class Fnv {
 public:
  void bytes(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < n; ++i) {
      h ^= b[i];
      h *= 1099511628211ull;
    }
  }
  template <class T>
  void value(const T& v) {
    bytes(&v, sizeof v);
  }
  void text(const std::string& s) {
    value(s.size());
    bytes(s.data(), s.size());
  }
  uint64_t h = 14695981039346656037ull;
};

// Every layer's attributes and pixels, the masks and the paper's settings.
// Which layer is current is not part of it: undo makes the layer it changes
// current, as the user expects, and streams record the current layer anyway.
inline uint64_t documentHash(const TPaper& p) {
  Fnv f;
  f.value(p.width);
  f.value(p.height);
  f.value(p.paperColor);
  f.value(p.selectionEnabled);
  f.value(p.selectionVisible);
  f.value(p.layerCount());
  // The counters behind default names: an undo must put them back too.
  f.value(p.layers.NameCounter());
  f.value(p.masks.NameCounter());
  for (int32_t i = 0; i < p.layerCount(); ++i) {
    const CLayerData& l = *p.layerAt(i);
    f.text(l.name);
    for (uint8_t b : {l.visible, l.maskLock, l.opacity, l.mode, l.dissolve, l.dissolveAmount}) f.value(b);
    f.value(l.offsetX);
    f.value(l.offsetY);
    const CBlockVMTC& img = *l.pixels;
    f.value(img.width);
    f.value(img.height);
    for (int32_t y = 0; y < img.height; ++y)
      for (int32_t x = 0; x < img.width; ++x) f.value(img.Pixel(x, y));
  }
  f.value(p.masks.Count());
  f.value(p.masks.Current());
  for (int32_t i = 0; i < p.masks.Count(); ++i) {
    const CMaskData& m = *p.masks.At(i);
    f.text(m.name);
    f.value(m.originX);
    f.value(m.originY);
    const Size s = m.ChannelSize();
    f.value(s);
    for (int32_t y = 0; y < s.height; ++y)
      for (int32_t x = 0; x < s.width; ++x) f.value(m.channel->Pixel(x, y));
  }
  return f.h;
}

// The composite's colours; dissolving layers draw a pattern that depends on
// the rectangles refreshed, so a paper with one shown gives 0.
inline uint64_t compositeHash(const TPaper& p) {
  for (int32_t i = 0; i < p.layerCount(); ++i)
    if (p.layerAt(i)->visible && p.layerAt(i)->dissolve && p.layerAt(i)->opacity) return 0;
  Fnv f;
  const TTC& c = p.composite();
  for (int32_t y = 0; y < c.height; ++y)
    for (int32_t x = 0; x < c.width; ++x) f.value(c.At(x, y) & 0x00FFFFFFu);
  return f.h;
}

// The flow image holds the bound layer faithfully and no coverage.
inline bool flowFaithful(const TPaper& p, const TFlowImage& flow) {
  const CLayerData* l = p.layerAt(flow.boundLayer);
  if (!l) return false;
  const CBlockVMTC& img = *l->pixels;
  if (flow.colour.width < img.width || flow.colour.height < img.height) return false;
  for (int32_t y = 0; y < img.height; ++y)
    for (int32_t x = 0; x < img.width; ++x)
      if (flow.colour.Row(y)[x] != img.Pixel(x, y) || flow.coverage.Row(y)[x] != 0) return false;
  return true;
}

// One random change of a paper at a time, every operation with record set.
class RandomSession {
 public:
  RandomSession(TPaper& paper, TFlowImage& flow, TStroke& stroke, uint32_t seed)
      : p(paper), flow(flow), s(stroke), rng(seed) {}

  int32_t Int(int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); }
  float Real(float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); }
  int32_t AnyLayer() { return Int(0, p.layerCount() - 1); }

  // A stroke of a random kind through the stroke protocol.
  void Stroke() {
    s.ResetDefaults(Int(0, kBrushKindCount - 1));
    s.SetColour(uint32_t(Int(0, 0xFFFFFF)));
    s.SetWidth(Real(0.5f, 12.0f));
    s.SetOpacity(Real(0.2f, 1.0f));
    s.SetEffect(Real(0, 100));
    s.SetEnv(Real(0, 100));
    s.SetSpeed(Real(0, 100));
    s.SetSizeByPressure(Int(0, 1) != 0);
    s.SetOpacityByPressure(Int(0, 1) != 0);
    s.SetSoftEdge(Int(0, 1) != 0);
    s.layerIndex = p.currentLayerIndex();
    StrokeSession session;
    const int n = Int(2, 14);
    float x = Real(-5, float(p.width) + 5), y = Real(-5, float(p.height) + 5);
    BeginStrokeOffset(p, flow, s, session, true, Real(0, 1), y, x);
    for (int i = 1; i < n; ++i) {
      x += Real(-15, 15);
      y += Real(-15, 15);
      AddStrokePoint(p, flow, s, session, true, Real(0, 1), y, x);
    }
    EndStroke(p, flow, s, session, true);
  }

  // A small picture of random colour blocks.
  void Picture(TMTC& img) {
    img.Resize(Int(1, p.width + 20), Int(1, p.height + 20));
    const uint32_t a = uint32_t(rng()), b = uint32_t(rng());
    for (int32_t yy = 0; yy < img.height; ++yy)
      for (int32_t xx = 0; xx < img.width; ++xx) img.Row(yy)[xx] = ((xx / 7 + yy / 5) & 1) ? a : b;
  }

  // One random operation; its name, for messages.
  const char* Step() {
    const int32_t layer = AnyLayer();
    switch (Int(0, 43)) {
      case 0: case 1: case 2: case 3: case 4: case 5: Stroke(); return "stroke";
      case 6: p.layerCommand(flow, layer, Int(7, 11), true); return "layer command";
      case 7: p.transformVisible(flow, Int(12, 15), true); return "transform visible";
      case 8: p.clearLayer(flow, layer, true); return "clear";
      case 9: p.fillLayerAlpha(flow, layer, uint8_t(Int(0, 255)), true); return "fill alpha";
      case 10:
        if (p.layerCount() < 6)
          p.insertLayer(flow, Int(0, p.layerCount()), Int(0, 1) != 0, uint8_t(Int(0, 255)), Int(0, kBlendModeCount - 1),
                        p.width, p.height, true);
        return "insert";
      case 11:
        if (p.layerCount() < 6)
          p.insertLayerWithContent(flow, Int(0, p.layerCount()), true, true, "made", uint32_t(Int(0, 0x7FFFFFFF)),
                                   uint8_t(Int(0, 255)), Int(0, kBlendModeCount - 1), p.height, p.width);
        return "insert with content";
      case 12: p.deleteLayer(flow, layer, true); return "delete";
      case 13: if (p.layerCount() < 6) p.duplicateLayer(flow, layer, true); return "duplicate";
      case 14: p.moveLayer(flow, layer, AnyLayer(), true); return "move";
      case 15: p.renameLayer(flow, layer, "n" + std::to_string(Int(0, 99)), true); return "rename";
      case 16: p.mergeDownWithMode(flow, layer, Int(0, 2), true); return "merge down";
      case 17: p.setLayerVisible(layer, Int(0, 1) != 0, true); return "visible";
      case 18: p.setLayerOpacity(layer, uint8_t(Int(0, 255)), true); return "opacity";
      case 19: p.setLayerDissolve(layer, Int(0, 3) == 0, uint8_t(Int(0, 255)), true); return "dissolve";
      case 20: p.setLayerMode(layer, Int(0, kBlendModeCount - 1), true); return "mode";
      case 21: p.setMaskLock(layer, -1, true); return "mask lock";
      case 22: p.showOnly(layer, true); return "show only";
      case 23: p.showAll(Int(0, 1) != 0, true); return "show all";
      case 24: p.invertVisibility(true); return "invert visibility";
      case 25: p.offsetLayer(flow, layer, Int(-30, 30), Int(-30, 30), true); return "offset";
      case 26: p.cutOutside(flow, layer, true); return "cut outside";
      case 27: {
        TMTC img;
        Picture(img);
        p.pasteAsNewLayer(flow, img, true);
        return "paste as new layer";
      }
      case 28: {
        TMTC img;
        Picture(img);
        p.pasteIntoLayer(flow, layer, img, true);
        return "paste into layer";
      }
      case 29: p.setPaperColor(uint32_t(Int(0, 0xFFFFFF)), true); return "paper colour";
      case 30: p.selectAll(true); return "select all";
      case 31:
        switch (Int(0, 5)) {
          case 0: p.newMask(true); return "new mask";
          case 1: p.clearMask(true); return "clear mask";
          case 2: p.deleteMask(true); return "delete mask";
          case 3: p.duplicateMask(true); return "duplicate mask";
          case 4: p.setCurrentMask(Int(0, p.masks.Count() - 1), true); return "current mask";
          default: p.moveMask(Int(0, p.masks.Count() - 1), Int(0, p.masks.Count() - 1), true); return "move mask";
        }
      case 32: p.invertMask(true); return "invert mask";
      case 33: p.moveMaskOrigin(Int(-20, 20), Int(-20, 20), true); return "move mask origin";
      case 34:
        if (Int(0, 1)) {
          p.growShrinkMask(Int(0, 1) != 0, Int(0, 1) != 0, true);
        } else {
          p.growShrinkMaskBy(Int(1, 5), Int(0, 1) != 0, true);
        }
        return "grow or shrink";
      case 35:
        switch (Int(0, 3)) {
          case 0: p.maskFromLayer(Int(0, 1), true); return "mask from layer";
          case 1: p.trimMask(true); return "trim mask";
          case 2: p.combineMasks(Int(0, p.masks.Count() - 1), Int(0, p.masks.Count() - 1), Int(0, 3), true); return "combine";
          default: p.renameMask(Int(0, p.masks.Count() - 1), "m" + std::to_string(Int(0, 9)), true); return "rename mask";
        }
      case 36:
        if (Int(0, 1)) {
          p.setSelectionEnabled(Int(0, 1) != 0, true);
        } else {
          p.setSelectionVisible(Int(0, 1) != 0, true);
        }
        return "selection flags";
      case 37: p.copyMaskToLayerAlpha(flow, layer, -1, true); return "mask to alpha";
      case 38: case 40: if (p.layerCount() < 8) p.splitSelection(flow, Int(0, 1), Int(0, 1) != 0, true); return "split";
      case 41: case 42:
        switch (Int(0, 3)) {
          case 0: p.newMask(true); return "new mask";
          case 1: p.setCurrentMask(Int(0, p.masks.Count() - 1), true); return "current mask";
          case 2: p.moveMask(Int(0, p.masks.Count() - 1), Int(0, p.masks.Count() - 1), true); return "move mask";
          default: p.maskFromLayer(Int(0, 1), true); return "mask from layer";
        }
      default: p.cutSelection(flow, layer, true); return "cut";
    }
  }

 private:
  TPaper& p;
  TFlowImage& flow;
  TStroke& s;
  std::mt19937 rng;
};

}  // namespace vl::test
