// Undo and redo of every kind of record. A record holds the state its change
// replaced; stepping it swaps that with the paper's present state, so after
// an undo the record holds what redo needs, and the other way round.
#include <algorithm>
#include <utility>

#include "document/paper.h"
#include "document/undo_kinds.h"

namespace vl {

namespace {

// The pixels of `rect` of an image (or of its tiles flagged in `tiles`)
// exchanged with a saved copy of them.
bool swapRect(CBlockVMTC& image, Area rect, std::unique_ptr<CBlockVMTC>& saved, const std::vector<uint8_t>& tiles) {
  if (!saved || !image.ClipArea(rect) || rect.width != saved->width || rect.height != saved->height) return false;
  return image.ExchangeArea(*saved, {rect.x, rect.y}, tiles.empty() ? nullptr : &tiles);
}

}  // namespace

bool TPaper::applyUndo(UndoEntry& e, bool isUndo, UndoOutcome& out) {
  const UndoKindInfo info = undoKindInfo(e.kind);
  out.reaction = info.flags;
  out.layer = e.layerIndex;
  out.rect = e.rect;
  // A layer's records find it by id: other changes may have moved it.
  auto recordLayer = [&]() -> CLayerData* {
    int32_t index = -1;
    CLayerData* l = nullptr;
    if (!layers.FindId(e.layerId, index, l) || !l->pixels) return nullptr;
    e.layerIndex = out.layer = index;
    return l;
  };
  auto wholeLayer = [&](const CLayerData& l) {
    out.rect = Area(l.pixels->size());
    if (l.thumbnail.IsAllocated()) const_cast<CLayerData&>(l).RenderThumbnail();
  };
  auto structural = [&] { out.reaction |= 0x02; };

  switch (info.cls) {
    case UndoClass::Rect: {
      CLayerData* l = recordLayer();
      return l && swapRect(*l->pixels, e.rect, e.image, e.tiles);
    }
    case UndoClass::LayerWithData: {
      CLayerData* l = recordLayer();
      if (!l || !e.image) return false;
      std::swap(l->pixels, e.image);
      l->pixels->RecomputeOccupied();
      wholeLayer(*l);
      return true;
    }
    case UndoClass::Layer: {
      // Each of these commands is its own inverse.
      if (e.kind >= 12) {
        for (int32_t i = 0; i < layers.Count(); ++i) {
          CLayerData& l = *layers.At(i);
          if (!l.visible) continue;
          if (!applyLayerTransform(l, e.kind)) return false;
          if (l.thumbnail.IsAllocated()) l.RenderThumbnail();
        }
        structural();
        return true;
      }
      CLayerData* l = recordLayer();
      if (!l) return false;
      if (!(e.kind == 11 ? l->InvertAlpha() : applyLayerTransform(*l, e.kind + 5))) return false;
      wholeLayer(*l);
      return true;
    }
    case UndoClass::Attribute: {
      const int64_t v = isUndo ? e.oldValue : e.newValue;
      if (e.kind == 17) {
        paperColor = uint32_t(v) & 0x00FFFFFFu;
        structural();
        return true;
      }
      CLayerData* l = recordLayer();
      if (!l) return false;
      switch (e.kind) {
        case 18: l->opacity = uint8_t(v); break;
        case 19:
          l->dissolve = uint8_t(v & 1);
          l->dissolveAmount = uint8_t(v >> 8);
          break;
        case 20: l->mode = uint8_t(v); break;
        case 21: l->visible = uint8_t(v); break;
        case 24: l->name = isUndo ? e.oldName : e.newName; break;
        case 25: l->maskLock = uint8_t(v); break;
        case 22: {
          // The move never made the image grow, so moving back needs no growth either.
          const int32_t dx = int32_t(isUndo ? -e.oldValue : e.oldValue), dy = int32_t(isUndo ? -e.newValue : e.newValue);
          if (l->OffsetGrowMask(dx, dy) != 0 || !layers.OffsetLayer(e.layerIndex, dx, dy)) return false;
          structural();
          break;
        }
        default: return false;
      }
      if (l->thumbnail.IsAllocated() && e.kind != 24) l->RenderThumbnail();
      out.rect = Area(l->pixels->size());
      return true;
    }
    case UndoClass::Object: {
      structural();
      const int32_t at = e.layerIndex;
      // The inserted layer leaves on undo and comes back on redo; a deleted one the other way round.
      auto takeOut = [&](int32_t i) {
        e.object = layers.Unlink(i);
        layers.FixCurrent();
        layers.Renumber();
        return e.object != nullptr;
      };
      auto putBack = [&](int32_t i) {
        if (!e.object || layers.InsertExisting(i, std::move(e.object)) < 0) return false;
        layers.SetCurrent(i);
        return true;
      };
      switch (e.kind) {
        case 26:
        case 28:
        case 29:
          if (e.counterBefore >= 0) layers.SetNameCounter(isUndo ? e.counterBefore : e.counterAfter);
          return isUndo ? takeOut(at) : putBack(at);
        case 27: return isUndo ? putBack(at) : takeOut(at);
        case 30: {
          const int32_t to = isUndo ? e.secondIndex : at, from = isUndo ? at : e.secondIndex;
          if (layers.Move(to, from) < 0) return false;
          layers.SetCurrent(to);
          return true;
        }
        case 31: {
          // The merged layer and the pair it came from change places.
          if (isUndo) {
            if (!e.object || !e.object2) return false;
            e.object = layers.Replace(at, std::move(e.object));
            if (layers.InsertExisting(at + 1, std::move(e.object2)) < 0) return false;
            layers.SetCurrent(at + 1);
          } else {
            e.object2 = layers.Unlink(at + 1);
            if (!e.object || !e.object2) return false;
            e.object = layers.Replace(at, std::move(e.object));
            layers.FixCurrent();
            layers.Renumber();
            layers.SetCurrent(at);
          }
          return e.object != nullptr;
        }
        case 33:
        case 35: {
          if (!e.object) return false;
          e.object = layers.Replace(at, std::move(e.object));
          return e.object != nullptr;
        }
        case 36: {
          CLayerData* source = layers.At(e.secondIndex);
          if (!source) return false;
          if (isUndo ? !takeOut(at) : !putBack(at)) return false;
          if (e.image) std::swap(source->pixels, e.image);
          if (source->thumbnail.IsAllocated()) source->RenderThumbnail();
          if (isUndo) layers.SetCurrent(e.secondIndex);
          return true;
        }
        case 37:
        case 38:
        case 39: {
          if (int32_t(e.visibility.size()) != layers.Count()) return false;
          std::vector<uint8_t> now = layers.VisibleFlags();
          for (int32_t i = 0; i < layers.Count(); ++i) layers.At(i)->visible = e.visibility[size_t(i)];
          e.visibility = std::move(now);
          return true;
        }
        default: return false;
      }
    }
    case UndoClass::Mask: {
      const bool ok = applyMaskUndo(e, isUndo);
      masksChanged();
      return ok;
    }
    case UndoClass::None: return false;
  }
  return false;
}

bool TPaper::applyMaskUndo(UndoEntry& e, bool isUndo) {
  const int32_t i = e.maskIndex;
  switch (e.kind) {
    case 44:
    case 45:
      if (e.counterBefore >= 0) masks.SetNameCounter(isUndo ? e.counterBefore : e.counterAfter);
      if (isUndo) {
        e.mask = masks.Detach(i);
        if (!e.mask) return false;
        masks.SetCurrent(int32_t(e.oldValue));
        if (e.kind == 45) setSelectionFlags(e.secondIndex);
      } else {
        if (masks.InsertGiven(i, e.mask) < 0) return false;
        masks.SetCurrent(int32_t(e.newValue));
        if (e.kind == 45) setSelectionFlags(65536 + 1);
      }
      return true;
    case 46:
      if (isUndo) {
        if (masks.InsertGiven(i, e.mask) < 0) return false;
        masks.SetCurrent(int32_t(e.oldValue));
      } else {
        e.mask = masks.Detach(i);
        if (!e.mask) return false;
        masks.SetCurrent(int32_t(e.newValue));
      }
      return true;
    case 47:
    case 53:
      if (!e.mask || !masks.IsValid(i)) return false;
      e.mask = masks.Replace(i, std::move(e.mask));
      setSelectionFlags(int32_t(isUndo ? e.oldValue : e.newValue));
      return true;
    case 48: return masks.SetCurrent(int32_t(isUndo ? e.oldValue : e.newValue)) == (isUndo ? e.oldValue : e.newValue);
    case 49: return isUndo ? masks.Move(e.secondIndex, i) : masks.Move(i, e.secondIndex);
    case 50: return masks.InvertInPlace(i);
    case 51: {
      CMaskData* m = masks.At(i);
      if (!m) return false;
      const int32_t sign = isUndo ? 1 : -1;
      m->originX += sign * int32_t(e.oldValue);
      m->originY += sign * int32_t(e.newValue);
      m->UpdateThumbnail(masks.PaperSize());
      return true;
    }
    case 52: setSelectionFlags(int32_t(isUndo ? e.oldValue : e.newValue)); return true;
    case 54: {
      CMaskData* m = masks.At(i);
      if (!m) return false;
      m->name = isUndo ? e.oldName : e.newName;
      return true;
    }
    default: return false;
  }
}

}  // namespace vl
