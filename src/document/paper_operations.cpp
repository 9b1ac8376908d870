// The changes a user (or a replayed stream) makes to a paper. Each one hands
// its packet to the recorder and its old state to undo before it changes
// anything, so undo, replay and the live paper stay in step.
#include <algorithm>
#include <cstring>
#include <new>
#include <span>

#include "document/blend_modes.h"
#include "document/paper.h"
#include "platform/ui_services.h"

namespace vl {
namespace {

int32_t readI32(const uint8_t* p) {
  return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

// Attribute record flags.
uint16_t attributeFlags(const CLayerData& l) {
  return uint16_t((l.visible ? 1 : 0) | (l.maskLock ? 2 : 0) | (l.dissolve ? 16 : 0));
}

PaperOp layerCommandOp(int code) {
  switch (code) {
    case 7: return PaperOp::LayerFlipHorizontal;
    case 8: return PaperOp::LayerFlipVertical;
    case 9: return PaperOp::LayerNegate;
    default: return PaperOp::LayerRotate180;
  }
}

PaperOp transformOp(int code) {
  switch (code) {
    case 12: return PaperOp::TransformFlipHorizontal;
    case 13: return PaperOp::TransformFlipVertical;
    case 14: return PaperOp::TransformNegate;
    default: return PaperOp::TransformRotate180;
  }
}

}  // namespace

// ---- the shared pieces ----

void TPaper::setHooks(std::unique_ptr<PaperEventHook> eventHook, std::unique_ptr<PaperUndoHook> undoHook) {
  setEventHook(std::move(eventHook));
  setUndoHook(std::move(undoHook));
}

void TPaper::setEventHook(std::unique_ptr<PaperEventHook> eventHook) {
  events = eventHook ? std::move(eventHook) : std::make_unique<PaperEventHook>();
}

void TPaper::setUndoHook(std::unique_ptr<PaperUndoHook> undoHook) {
  undo = undoHook ? std::move(undoHook) : std::make_unique<PaperUndoHook>();
}

EventPacket TPaper::packetOf(PaperOp op) const {
  const PaperOpEntry& e = paperOpEntry(op);
  EventPacket p;
  p.category = e.category;
  p.code = e.code;
  return p;
}

bool TPaper::recordEvent(PaperOp, EventPacket packet) { return events->Record(std::move(packet)); }

bool TPaper::pushUndo(PaperOp op, UndoEntry&& entry, bool record) {
  if (!record || !undo->Enabled()) return false;
  const PaperOpEntry& e = paperOpEntry(op);
  entry.kind = e.undoKind;
  entry.cls = e.undoClass;
  if (entry.layerId < 0) entry.layerId = layers.IdAt(entry.layerIndex);
  if (undo->Push(std::move(entry))) return true;
  // The change goes ahead without its record: the older records no longer
  // lead back to this state, and the stream's steps would not match them.
  clearUndo();
  return false;
}

void TPaper::clearUndo() {
  undo->Clear();
  events->ClearHistory();
}

// The layer's current attributes with the changed field already holding its
// new value: the recorder writes what the player copies back.
EventPacket TPaper::attributePacket(PaperOp op, const CLayerData& l, int32_t layer) const {
  EventPacket p = packetOf(op);
  p.u16(uint32_t(layer)).u8(l.Mode()).u8(l.opacity).u16(attributeFlags(l));
  return p;
}

bool TPaper::imagePacket(PaperOp op, int32_t layer, const TMTC& image, const std::string* layerName,
                         std::span<const uint8_t> attributes, EventPacket& out) const noexcept {
  try {
    EventPacket p = packetOf(op);
    const bool withBlock = !attributes.empty();
    const size_t nameBytes = layerName ? (layerName->size() + 2) & ~size_t(1) : 0;
    const uint64_t pixelBytes = uint64_t(image.width) * uint64_t(image.height) * 4;
    const uint64_t after = (withBlock ? kLayerAttributeBlock : 0) + nameBytes + pixelBytes;
    p.u16(uint32_t(layer)).i32(image.width).i32(image.height).u8(32).u8(withBlock ? 1 : 0);
    p.u32(uint32_t((after + 1) & ~uint64_t(1))).u16(uint32_t(nameBytes)).u32(uint32_t(pixelBytes));
    p.payload.reserve(p.payload.size() + size_t(after) + 1);
    if (withBlock) p.bytes(attributes.data(), kLayerAttributeBlock);
    if (layerName) {
      p.bytes(layerName->data(), layerName->size());
      p.zeros(nameBytes - layerName->size());
    }
    // Rows from the top; the buffer keeps them bottom-up.
    for (int32_t y = 0; y < image.height; ++y) p.bytes(image.Row(y), size_t(image.width) * 4);
    if (after & 1) p.zeros(1);
    out = std::move(p);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}


void TPaper::layersChanged() {
  if (!observer) return;
  observer->LayersChanged();
  if (const CLayerData* l = currentLayer()) observer->MaskLockChanged(l->maskLock != 0);
}

// After the pixels of a whole layer changed: the composite where it lies,
// its thumbnail, and the flow image when it holds this layer.
void TPaper::refreshWholeLayer(TFlowImage& flow, int32_t layer) {
  CLayerData* l = layers.At(layer);
  if (!l) return;
  recomposeRect(Area(l->Extent()), true);  // clipped to the paper there
  if (l->thumbnail.IsAllocated()) l->RenderThumbnail();
  invalidateCanvas();
  if (flow.boundLayer == layer) loadLayerToFlow(flow, layer, true);
  layersChanged();
}

// After layers came, went or moved: the flow image is rebuilt for the current
// layer and the whole composite follows.
void TPaper::afterStructureChange(TFlowImage& flow) { afterStructureChange(flow, Bounds{0, 0, width, height}); }

void TPaper::afterStructureChange(TFlowImage& flow, Bounds changed) {
  layers.FixCurrent();
  // Binding rewrites every block that differs from the current layer, so the
  // buffer needs no clearing first, only its size.
  sizeFlow(flow);
  flow.boundLayer = -1;
  if (!loadLayerToFlow(flow, layers.Current(), true)) resetFlow(flow);
  const Area r(intersect(changed, Bounds{0, 0, width, height}));
  if (!r.empty()) recomposeRect(r, true);
  invalidateCanvas();
  layersChanged();
}

Bounds TPaper::footprint(const CLayerData& l) const {
  if (!l.pixels) return {};
  if (drawGeneration == DrawGeneration::Legacy) return intersect(l.Extent(), Bounds{0, 0, width, height});
  Bounds b{};
  for (int i = 0; i < l.pixels->OccupiedCount(); ++i) {
    const Bounds& o = l.pixels->Occupied()[i];
    b = unite(b, intersect(Bounds{o.left - l.offsetX, o.top - l.offsetY, o.right - l.offsetX, o.bottom - l.offsetY},
                           Bounds{0, 0, width, height}));
  }
  return b;
}

void TPaper::afterVisibilityChange(const std::vector<uint8_t>& before) {
  Bounds changed{};
  for (int32_t i = 0; i < layers.Count(); ++i) {
    const CLayerData& l = *layers.At(i);
    if (size_t(i) >= before.size() || (before[size_t(i)] != 0) != (l.visible != 0)) changed = unite(changed, footprint(l));
  }
  if (!changed.empty()) recomposeRect(Area(changed), true);
  invalidateCanvas();
}

bool TPaper::applyLayerTransform(CLayerData& l, int code) {
  if (!l.pixels) return false;
  CBlockVMTC& img = *l.pixels;
  const Area all(img.size());
  switch (code) {
    case 12:
      if (!img.FlipHorizontal(all)) return false;
      l.offsetX = img.width - l.offsetX - width;
      return true;
    case 13:
      if (!img.FlipVertical(all)) return false;
      l.offsetY = img.height - l.offsetY - height;
      return true;
    case 14:
      return img.XorAll(0x00FFFFFFu);
    case 15:
      if (!img.Rotate180(all)) return false;
      l.offsetX = img.width - l.offsetX - width;
      l.offsetY = img.height - l.offsetY - height;
      return true;
    default:
      return false;
  }
}

// ---- paper-wide ----

bool TPaper::setPaperColor(uint32_t colour, bool record) {
  colour &= 0x00FFFFFFu;
  if (record) {
    recordEvent(PaperOp::SetPaperColor, packetOf(PaperOp::SetPaperColor).u32(colour));
    UndoEntry e;
    e.oldValue = paperColor;
    e.newValue = colour;
    pushUndo(PaperOp::SetPaperColor, std::move(e), record);
  }
  paperColor = colour;
  markModified();
  recomposeAll(true);
  return true;
}

bool TPaper::transformVisible(TFlowImage& flow, int code, bool record) {
  if (code < 12 || code > 15 || layers.Count() == 0) return false;
  WaitCursor wait;
  const PaperOp op = transformOp(code);
  if (record) {
    recordEvent(op, packetOf(op));
    // Each of these undoes itself: the record only names the command.
    UndoEntry e;
    e.layerIndex = layers.Current();
    e.layer = currentLayer();
    pushUndo(op, std::move(e), record);
  }
  bool ok = true;
  for (int32_t i = 0; i < layers.Count(); ++i) {
    CLayerData& l = *layers.At(i);
    if (!l.visible) continue;
    ok = applyLayerTransform(l, code) && ok;
    if (l.thumbnail.IsAllocated()) l.RenderThumbnail();
  }
  markModified();
  recomposeAll(true);
  loadLayerToFlow(flow, layers.Current(), true);
  layersChanged();
  return ok;
}

// ---- one layer's pixels ----

bool TPaper::layerCommand(TFlowImage& flow, int32_t layer, int code, bool record) {
  if (code == 11) return invertLayerAlpha(flow, layer, record);
  CLayerData* l = layers.At(layer);
  if (!l || code < 7 || code > 10) return false;
  WaitCursor wait;
  const PaperOp op = layerCommandOp(code);
  if (record) {
    recordEvent(op, packetOf(op).u16(uint32_t(layer)).u16(uint32_t(layer)));
    UndoEntry e;
    e.layerIndex = layer;
    e.layer = l;
    pushUndo(op, std::move(e), record);
  }
  const bool ok = applyLayerTransform(*l, code + 5);
  if (!ok) ui().Warning(text(TextId::LayerCommandFailed));
  markModified();
  refreshWholeLayer(flow, layer);
  return ok;
}

bool TPaper::clearLayer(TFlowImage& flow, int32_t layer, bool record) {
  CLayerData* l = layers.At(layer);
  if (!l || !l->pixels) return false;
  if (record) {
    recordEvent(PaperOp::ClearLayer, packetOf(PaperOp::ClearLayer).u16(uint32_t(layer)).u16(uint32_t(layer)));
    UndoEntry e;
    e.layerIndex = layer;
    e.layer = l;
    e.rect = Area(l->pixels->size());
    pushUndo(PaperOp::ClearLayer, std::move(e), record);
  }
  const bool ok = clearLayerPixels(layer);
  markModified();
  refreshWholeLayer(flow, layer);
  return ok;
}

bool TPaper::fillLayer(TFlowImage& flow, int32_t layer, uint32_t colour, bool keepAlpha) {
  CLayerData* l = layers.At(layer);
  if (!l || !l->pixels) return false;
  const bool ok = drawGeneration == DrawGeneration::Current && keepAlpha ? l->pixels->SetRGB(Area(l->pixels->size()), colour)
                                                                        : l->pixels->SetAll(0xFF000000u | colour);
  markModified();
  refreshWholeLayer(flow, layer);
  return ok;
}

bool TPaper::fillLayerAlpha(TFlowImage& flow, int32_t layer, uint8_t alpha, bool record) {
  CLayerData* l = layers.At(layer);
  if (!l || !l->pixels) return false;
  if (record) {
    recordEvent(PaperOp::FillLayerAlpha, packetOf(PaperOp::FillLayerAlpha).u16(uint32_t(layer)).u16(alpha));
    UndoEntry e;
    e.layerIndex = layer;
    e.layer = l;
    e.rect = Area(l->pixels->size());
    pushUndo(PaperOp::FillLayerAlpha, std::move(e), record);
  }
  const bool ok = l->SetAlpha(alpha);
  markModified();
  refreshWholeLayer(flow, layer);
  return ok;
}

bool TPaper::invertLayerAlpha(TFlowImage& flow, int32_t layer, bool record) {
  CLayerData* l = layers.At(layer);
  if (!l || !l->pixels) return false;
  if (record) {
    recordEvent(PaperOp::InvertLayerAlpha, packetOf(PaperOp::InvertLayerAlpha).u16(uint32_t(layer)).u16(0));
    UndoEntry e;
    e.layerIndex = layer;
    e.layer = l;
    pushUndo(PaperOp::InvertLayerAlpha, std::move(e), record);
  }
  const bool ok = l->InvertAlpha();
  markModified();
  refreshWholeLayer(flow, layer);
  return ok;
}

// ---- layer structure ----

int32_t TPaper::insertLayer(TFlowImage& flow, int32_t index, bool visible, uint8_t opacity, int mode, int32_t w,
                            int32_t h, bool record) {
  return insertLayerAt(flow, index, record, visible, {}, 0, opacity, mode, h, w, false);
}

int32_t TPaper::insertLayerWithContent(TFlowImage& flow, int32_t index, bool record, bool visible,
                                       const std::string& layerName, uint32_t colour, uint8_t opacity, int mode,
                                       int32_t h, int32_t w) {
  return insertLayerAt(flow, index, record, visible, layerName, colour, opacity, mode, h, w, true);
}

// The plain insert keeps the mode's neutral fill; the other fills with its colour.
int32_t TPaper::insertLayerAt(TFlowImage& flow, int32_t index, bool record, bool visible,
                              const std::string& layerName, uint32_t colour, uint8_t opacity, int mode, int32_t h,
                              int32_t w, bool withContent) {
  if (mode < 0 || mode >= kBlendModeCount || index < 0 || !layers.CanAdd()) return -1;
  const PaperOp op = withContent ? PaperOp::InsertLayerWithContent : PaperOp::InsertLayer;
  if (record) {
    const uint16_t flags = visible ? 1 : 0;
    EventPacket p = packetOf(op);
    if (withContent) {
      p.u16(uint32_t(index)).i32(w).i32(h).zeros(8).u8(uint32_t(mode)).u8(opacity).u16(flags).u32(colour).zeros(14);
      p.name(layerName);
    } else {
      p.u16(uint32_t(index)).i32(w).i32(h).u8(uint32_t(mode)).u8(opacity).u16(flags);
    }
    recordEvent(op, std::move(p));
  }
  const bool legacy = drawGeneration == DrawGeneration::Legacy;
  const int32_t at = layers.InsertNew(index, w, h, visible ? 1 : 0, opacity, mode, legacy);
  if (at < 0) {
    if (record) {
      ui().Warning(text(TextId::OutOfMemory));
      clearUndo();
    }
    return -1;
  }
  const int32_t counterBefore = layers.NameCounter();
  layers.NameLayer(at, 1);
  layers.SetCurrent(at);
  clearLayerPixels(at);
  CLayerData& l = *layers.At(at);
  if (withContent) {
    if (!layerName.empty()) l.name = layerName;
    l.pixels->SetAll(colour);
    l.pixels->Compact();
  }
  l.RenderThumbnail();
  if (record) {
    UndoEntry e;
    e.layerIndex = at;
    e.counterBefore = counterBefore;
    e.counterAfter = layers.NameCounter();
    pushUndo(op, std::move(e), record);
  }
  markModified();
  // A transparent new layer changes no composite pixel.
  flow.boundLayer = -1;
  if (legacy || (colour >> 24) != 0) {
    afterStructureChange(flow);
  } else {
    sizeFlow(flow);
    loadLayerToFlow(flow, at, true);
    invalidateCanvas();
    layersChanged();
  }
  return at;
}

bool TPaper::deleteLayer(TFlowImage& flow, int32_t layer, bool record) {
  if (!layers.IsValid(layer) || layers.Count() <= 1) return false;
  if (record) recordEvent(PaperOp::DeleteLayer, packetOf(PaperOp::DeleteLayer).u16(uint32_t(layer)).u16(uint32_t(layer)));
  // The composite changes only where the layer showed.
  const Bounds changed = footprint(*layers.At(layer));
  UndoEntry e;
  e.layerIndex = layer;
  e.layerId = layers.IdAt(layer);
  e.object = layers.Unlink(layer);
  layers.FixCurrent();
  layers.Renumber();
  // The undo manager keeps the layer; without one it goes here.
  pushUndo(PaperOp::DeleteLayer, std::move(e), record);
  markModified();
  afterStructureChange(flow, changed);
  return true;
}

int32_t TPaper::duplicateLayer(TFlowImage& flow, int32_t layer, bool record) {
  const CLayerData* src = layers.At(layer);
  if (!src || !src->pixels || !layers.CanAdd()) return -1;
  if (record) {
    recordEvent(PaperOp::DuplicateLayer,
                packetOf(PaperOp::DuplicateLayer).u16(uint32_t(layer)).u16(uint32_t(layer)));
  }
  const Size s = src->ImageSize();
  const int32_t at = layers.InsertNew(layer + 1, s.width, s.height, 1, 255, src->Mode(),
                                      drawGeneration == DrawGeneration::Legacy);
  if (at < 0 || !layers.CopyLayer(at, layer)) {
    if (at >= 0) layers.Delete(at);
    if (record) {
      ui().Warning(text(TextId::OutOfMemory));
      clearUndo();
    }
    return -1;
  }
  layers.CopyName(at, layer);
  CLayerData& l = *layers.At(at);
  const Size box = layers.ThumbnailBox();
  if (l.SizeThumbnail(box.width, box.height)) l.RenderThumbnail();
  layers.SetCurrent(at);
  if (record) {
    UndoEntry e;
    e.layerIndex = at;
    e.secondIndex = layer;
    pushUndo(PaperOp::DuplicateLayer, std::move(e), record);
  }
  markModified();
  afterStructureChange(flow, footprint(l));
  return at;
}

int32_t TPaper::moveLayer(TFlowImage& flow, int32_t layer, int32_t newIndex, bool record) {
  if (!layers.IsValid(layer)) return -1;
  newIndex = std::clamp(newIndex, 0, layers.TopIndex());
  if (newIndex == layer) return -1;
  if (record) {
    recordEvent(PaperOp::MoveLayer, packetOf(PaperOp::MoveLayer).u16(uint32_t(layer)).u16(uint32_t(newIndex)));
  }
  const int32_t at = layers.Move(newIndex, layer);
  if (at < 0) return -1;
  layers.SetCurrent(at);
  if (record) {
    UndoEntry e;
    e.layerIndex = at;
    e.secondIndex = layer;
    pushUndo(PaperOp::MoveLayer, std::move(e), record);
  }
  markModified();
  // Only where the moved layer shows does the order of layers matter.
  afterStructureChange(flow, footprint(*layers.At(at)));
  return at;
}

bool TPaper::renameLayer(TFlowImage&, int32_t layer, const std::string& newName, bool record) {
  CLayerData* l = layers.At(layer);
  if (!l) return false;
  if (record) {
    recordEvent(PaperOp::RenameLayer, packetOf(PaperOp::RenameLayer).u16(uint32_t(layer)).name(newName));
    UndoEntry e;
    e.layerIndex = layer;
    e.oldName = l->name;
    e.newName = newName;
    pushUndo(PaperOp::RenameLayer, std::move(e), record);
  }
  l->name = newName;
  markModified();
  layersChanged();
  return true;
}

bool TPaper::canMergeDown(int32_t layer) const {
  const CLayerData* lower = layers.At(layer - 1);
  const CLayerData* upper = layers.At(layer);
  if (!lower || !upper) return false;
  return playingBack || drawGeneration == DrawGeneration::Legacy || lower->visible;
}

bool TPaper::mergeDownWithMode(TFlowImage& flow, int32_t layer, int kind, bool record) {
  if (kind < 0 || kind > 2 || !canMergeDown(layer)) return false;
  WaitCursor wait;
  const PaperOp op = kind == 0 ? PaperOp::MergeDown : PaperOp::MergeDownWithMode;
  const int32_t lower = layer - 1;
  // The merged layer is made first: a failure leaves paper, stream and undo alone.
  std::unique_ptr<CLayerData> merged = layers.MergedCopy(lower, layer, kind);
  if (!merged) return false;
  // Where neither layer shows, neither does the merged one.
  const Bounds changed = unite(footprint(*layers.At(lower)), footprint(*layers.At(layer)));
  if (record) {
    EventPacket p = packetOf(op);
    p.u16(uint32_t(layer)).u16(0);
    if (kind != 0) p.i32(0).i32(kind);
    recordEvent(op, std::move(p));
  }
  UndoEntry e;
  e.layerIndex = lower;
  e.layerId = layers.IdAt(lower);
  e.secondIndex = layer;
  e.object = layers.Replace(lower, std::move(merged));
  e.object2 = layers.Unlink(layer);
  layers.SetCurrent(lower);
  layers.FixCurrent();
  layers.Renumber();
  pushUndo(op, std::move(e), record);
  markModified();
  afterStructureChange(flow, changed);
  return true;
}

// ---- attributes ----

// One byte of a layer's attributes: the packet carries the new value in its
// place, undo the old one.
bool TPaper::changeAttribute(PaperOp op, int32_t layer, uint8_t CLayerData::*field, uint8_t value, bool record,
                             bool recompose) {
  CLayerData* l = layers.At(layer);
  if (!l) return false;
  const uint8_t old = l->*field;
  l->*field = value;
  if (record) {
    recordEvent(op, attributePacket(op, *l, layer));
    UndoEntry e;
    e.layerIndex = layer;
    e.oldValue = old;
    e.newValue = value;
    pushUndo(op, std::move(e), record);
  }
  markModified();
  if (recompose) {
    refreshLayerContent(layer, true);
    invalidateCanvas();
  }
  layersChanged();
  return true;
}

bool TPaper::setLayerVisible(int32_t layer, bool value, bool record) {
  const CLayerData* l = layers.At(layer);
  if (!l) return false;
  const uint8_t v = value ? 1 : 0;
  if (l->visible == v) return true;
  return changeAttribute(PaperOp::SetVisible, layer, &CLayerData::visible, v, record, true);
}

bool TPaper::setLayerOpacity(int32_t layer, uint8_t value, bool record) {
  return changeAttribute(PaperOp::SetOpacity, layer, &CLayerData::opacity, value, record, true);
}

bool TPaper::setLayerDissolve(int32_t layer, bool on, uint8_t amount, bool record) {
  CLayerData* l = layers.At(layer);
  if (!l) return false;
  if (record) {
    const uint8_t old = l->dissolve;
    l->dissolve = on ? 1 : 0;
    EventPacket p = attributePacket(PaperOp::SetDissolve, *l, layer);
    l->dissolve = old;
    p.u8(amount).u8(0).u32(uint32_t(l->random.seed)).u32(0).u16(0);
    recordEvent(PaperOp::SetDissolve, std::move(p));
    UndoEntry e;
    e.layerIndex = layer;
    e.oldValue = int64_t(l->dissolve) | int64_t(l->dissolveAmount) << 8;
    e.newValue = int64_t(on ? 1 : 0) | int64_t(amount) << 8;
    pushUndo(PaperOp::SetDissolve, std::move(e), record);
  }
  l->dissolve = on ? 1 : 0;
  l->dissolveAmount = amount;
  markModified();
  refreshLayerContent(layer, true);
  invalidateCanvas();
  layersChanged();
  return true;
}

bool TPaper::setLayerMode(int32_t layer, int mode, bool record) {
  if (mode < 0 || mode >= kBlendModeCount) return false;
  return changeAttribute(PaperOp::SetBlendMode, layer, &CLayerData::mode, uint8_t(mode), record, true);
}

bool TPaper::setMaskLock(int32_t layer, int value, bool record) {
  if (layer == -1) layer = layers.Current();
  const CLayerData* l = layers.At(layer);
  if (!l) return false;
  const uint8_t v = value < 0 ? uint8_t(l->maskLock ^ 1) : uint8_t(value ? 1 : 0);
  return changeAttribute(PaperOp::SetMaskLock, layer, &CLayerData::maskLock, v, record, false);
}

// ---- visibility commands ----

bool TPaper::showOnly(int32_t layer, bool record) {
  const CLayerData* l = layers.At(layer);
  if (!l) return false;
  const CLayerData* cur = currentLayer();
  if (layers.VisibleCount() <= 1 && cur && cur->visible) return false;
  if (record) {
    recordEvent(PaperOp::ShowOnly, packetOf(PaperOp::ShowOnly).u16(uint32_t(layer)).u16(0));
    UndoEntry e;
    e.layerIndex = layer;
    e.visibility = layers.VisibleFlags();
    pushUndo(PaperOp::ShowOnly, std::move(e), record);
  }
  const std::vector<uint8_t> before = layers.VisibleFlags();
  layers.ShowOnly(layer);
  markModified();
  afterVisibilityChange(before);
  layersChanged();
  return true;
}

bool TPaper::showAll(bool value, bool record) {
  const int32_t visible = layers.VisibleCount();
  // Show all only when fewer than count − 1 layers show.
  if (value ? visible >= layers.TopIndex() : visible == 0) return false;
  if (record) {
    recordEvent(PaperOp::ShowHideAll,
                packetOf(PaperOp::ShowHideAll).u16(uint32_t(layers.Current())).u16(value ? 1 : 0));
    UndoEntry e;
    e.layerIndex = layers.Current();
    e.newValue = value;
    e.visibility = layers.VisibleFlags();
    pushUndo(PaperOp::ShowHideAll, std::move(e), record);
  }
  const std::vector<uint8_t> before = layers.VisibleFlags();
  layers.SetAllVisible(value ? 1 : 0);
  markModified();
  afterVisibilityChange(before);
  layersChanged();
  return true;
}

bool TPaper::invertVisibility(bool record) {
  if (layers.Count() == 0) return false;
  if (record) {
    recordEvent(PaperOp::InvertVisibility,
                packetOf(PaperOp::InvertVisibility).u16(uint32_t(layers.Current())).u16(0));
    UndoEntry e;
    e.layerIndex = layers.Current();
    e.visibility = layers.VisibleFlags();
    pushUndo(PaperOp::InvertVisibility, std::move(e), record);
  }
  const std::vector<uint8_t> before = layers.VisibleFlags();
  layers.InvertVisibility();
  markModified();
  afterVisibilityChange(before);
  layersChanged();
  return true;
}

bool TPaper::flipVisibility(int32_t layer) {
  CLayerData* l = layers.At(layer);
  if (!l) return false;
  const uint8_t v = l->visible ? 1 : 0;
  for (int32_t i = 0; i < layers.Count(); ++i) layers.At(i)->visible = v;
  l->visible = v ^ 1;
  for (int32_t i = 0; i < layers.Count(); ++i)
    if (layers.At(i)->thumbnail.IsAllocated()) layers.At(i)->RenderThumbnail();
  markModified();
  recomposeAll(true);
  layersChanged();
  return true;
}

bool TPaper::mergeVisibleOldest(TFlowImage& flow) {
  if (layers.VisibleCount() < 2) return false;
  const int mode = layers.At(layers.FirstVisible())->Mode();
  for (int32_t i = 0; i < layers.Count(); ++i)
    if (layers.At(i)->visible && layers.At(i)->Mode() != mode) return false;
  WaitCursor wait;
  const bool legacy = drawGeneration == DrawGeneration::Legacy;
  TMTC buf;
  if (!buf.Resize(width, height)) {
    ui().Warning(text(TextId::OutOfMemory));
    return false;
  }
  int32_t lower = layers.FirstVisible();
  while (layers.VisibleCount() > 1) {
    int32_t upper = lower + 1;
    while (!layers.At(upper)->visible) ++upper;
    CLayerData& lo = *layers.At(lower);
    const CLayerData& hi = *layers.At(upper);
    if (!lo.pixels || !hi.pixels) return false;
    buf.Fill(NeutralColour(mode));
    for (const CLayerData* l : {static_cast<const CLayerData*>(&lo), &hi}) {
      ComposeParams p;
      p.mode = l->Mode();
      p.opacity = l->opacity;
      p.legacy = legacy;
      composeImage(buf, {0, 0}, *l->pixels, Area(l->offsetX, l->offsetY, width, height), p);
    }
    if (!legacy) buf.FillMasked(buf.area(), 0xFF000000u, 0xFF000000u);
    lo.pixels->WriteFrom(buf, {lo.offsetX, lo.offsetY}, 255, buf.area());
    lo.pixels->Compact();
    lo.opacity = 255;
    lo.mode = uint8_t(mode);
    layers.Delete(upper);
  }
  if (CLayerData* lo = layers.At(lower); lo && lo->thumbnail.IsAllocated()) lo->RenderThumbnail();
  layers.SetCurrent(0);
  markModified();
  afterStructureChange(flow);
  return true;
}

// ---- position ----

bool TPaper::offsetLayer(TFlowImage& flow, int32_t layer, int32_t dx, int32_t dy, bool record) {
  CLayerData* l = layers.At(layer);
  if (!l || !l->pixels) return false;
  if (dx == 0 && dy == 0) return true;
  WaitCursor wait;
  const int grow = l->OffsetGrowMask(dx, dy);
  const Bounds before = l->Extent();
  const PaperOp op = grow ? PaperOp::OffsetLayerGrowing : PaperOp::OffsetLayer;
  // A move that uncovers the paper needs a grown image, made before anything
  // is recorded.
  std::unique_ptr<CLayerData> grown;
  if (grow) {
    const Size box = layers.ThumbnailBox();
    grown = l->GrownCopy(dx, dy);
    if (!grown || !grown->SizeThumbnail(box.width, box.height)) {
      ui().Warning(text(TextId::OutOfMemory));
      return false;
    }
    grown->RenderThumbnail();
  }
  if (record) {
    EventPacket p = packetOf(op);
    if (grow) {
      p.u16(uint32_t(layer)).u8(uint32_t(grow)).u8(0).i32(dx).i32(dy);
    } else {
      p.u16(uint32_t(layer)).u16(0).i32(dx).i32(dy);
    }
    recordEvent(op, std::move(p));
  }
  std::unique_ptr<CLayerData> old;
  if (grow) {
    old = layers.Replace(layer, std::move(grown));
  } else {
    layers.OffsetLayer(layer, dx, dy);  // covers the paper still: only the offsets change
  }
  if (record) {
    UndoEntry e;
    e.layerIndex = layer;
    e.oldValue = int64_t(dx);
    e.newValue = int64_t(dy);
    e.object = std::move(old);
    pushUndo(op, std::move(e), record);
  }
  l = layers.At(layer);
  if (l->thumbnail.IsAllocated()) l->RenderThumbnail();
  markModified();
  // The old and the new place on the paper.
  const Bounds after = l->Extent();
  recomposeRect(Area(unite(before, after)), true);
  invalidateCanvas();
  if (flow.boundLayer == layer) {
    if (grow) resetFlow(flow);
    loadLayerToFlow(flow, layer, true);
  }
  layersChanged();
  return true;
}

bool TPaper::offsetInPlace(TFlowImage& flow, int32_t layer, int32_t dx, int32_t dy) {
  CLayerData* l = layers.At(layer);
  if (!l || !l->pixels) return false;
  const uint32_t a = drawGeneration == DrawGeneration::Legacy ? 0xFF000000u : 0;
  CBlockVMTC moved(width, height);
  if (!moved.IsValid() || !moved.SetAll(a | NeutralColour(l->Mode()))) return false;
  const Area src(l->pixels->size());
  if (!moved.CopyFrom(*l->pixels, {dx, dy}, src)) return false;
  moved.Compact();
  auto image = std::make_unique<CBlockVMTC>(width, height);
  if (!image->IsValid() || !image->CopyTiles(moved)) return false;
  l->pixels = std::move(image);
  markModified();
  refreshWholeLayer(flow, layer);
  return true;
}

bool TPaper::cutOutside(TFlowImage& flow, int32_t layer, bool record) {
  CLayerData* l = layers.At(layer);
  if (!l || !l->pixels || !l->IsLargerThanPaper()) return false;
  WaitCursor wait;
  // The paper-sized replacement first: a failure changes nothing.
  const Size box = layers.ThumbnailBox();
  std::unique_ptr<CLayerData> cut = l->PaperCopy();
  if (!cut || !cut->SizeThumbnail(box.width, box.height)) {
    ui().Warning(text(TextId::OutOfMemory));
    return false;
  }
  cut->RenderThumbnail();
  if (record) recordEvent(PaperOp::CutOutside, packetOf(PaperOp::CutOutside).u16(uint32_t(layer)).u16(uint32_t(layer)));
  std::unique_ptr<CLayerData> old = layers.Replace(layer, std::move(cut));
  if (record) {
    UndoEntry e;
    e.layerIndex = layer;
    e.object = std::move(old);
    pushUndo(PaperOp::CutOutside, std::move(e), record);
  }
  markModified();
  afterStructureChange(flow);
  return true;
}

// ---- pasting ----

namespace {

// Longest layer name a picture brings: its padded length must fit the
// image packet's 16-bit field.
constexpr size_t kMaxPastedName = 65533;

bool pasteAcceptable(const TMTC& image, const std::string* layerName, std::span<const uint8_t> attributes) {
  return image.IsAllocated() && image.width > 0 && image.height > 0 && image.width <= kMaxPaperSide &&
         image.height <= kMaxPaperSide && (!layerName || layerName->size() <= kMaxPastedName) &&
         (attributes.empty() || attributes.size() >= TPaper::kLayerAttributeBlock);
}

}  // namespace

void TPaper::applyAttributeBlock(CLayerData& l, std::span<const uint8_t> attributes, const std::string* layerName) {
  if (attributes.empty()) return;
  const uint8_t flags = attributes[4];
  l.mode = uint8_t(std::min<int>(attributes[6], kBlendModeCount - 1));
  l.opacity = attributes[7];
  l.offsetX = readI32(&attributes[32]);
  l.offsetY = readI32(&attributes[36]);
  if (l.pixels) l.pixels->defaultUniform = uint32_t(readI32(&attributes[48]));
  l.visible = flags & 1;
  l.maskLock = (flags >> 1) & 1;
  if (layerName) l.name = *layerName;
  l.ClampOffset(true);
}

bool TPaper::pasteAsNewLayer(TFlowImage& flow, const TMTC& image, bool record, const std::string* layerName,
                             std::span<const uint8_t> attributes) {
  if (!pasteAcceptable(image, layerName, attributes) || !layers.CanAdd()) return false;
  WaitCursor wait;
  int64_t w = std::max(image.width, width), h = std::max(image.height, height);
  if (!attributes.empty()) {
    // The paper origin lies inside the pasted picture; offsets from outside
    // that range would shrink the layer below the paper or make it huge.
    w += std::clamp<int64_t>(readI32(&attributes[32]), 0, image.width);
    h += std::clamp<int64_t>(readI32(&attributes[36]), 0, image.height);
  }
  if (!layerSizeAllowed(w, h)) return false;
  // Everything that may fail comes first: the packet and the whole new
  // layer. A refusal or a lack of memory then leaves paper, stream and undo
  // as they were.
  EventPacket packet;
  const bool recording = record && events->Recording();
  if (recording && !imagePacket(PaperOp::PasteAsNewLayer, layers.Current(), image, layerName, attributes, packet)) {
    ui().Warning(text(TextId::OutOfMemory));
    return false;
  }
  std::unique_ptr<CLayerData> made(new (std::nothrow) CLayerData(0, false));
  const Size box = layers.ThumbnailBox();
  if (!made || !made->InitPixels(int32_t(w), int32_t(h), kModeNormal) ||
      !made->pixels->WriteFrom(image, {0, 0}, 255, image.area())) {
    ui().Warning(text(TextId::OutOfMemory));
    return false;
  }
  made->pixels->Compact();
  made->offsetX = made->offsetY = 0;
  made->paperWidth = width;
  made->paperHeight = height;
  made->SizeThumbnail(box.width, box.height);
  applyAttributeBlock(*made, attributes, nullptr);
  if (recording) recordEvent(PaperOp::PasteAsNewLayer, std::move(packet));
  const int32_t at = layers.InsertExisting(layers.Count(), std::move(made));
  if (at < 0) {
    if (record) clearUndo();
    return false;
  }
  const int32_t counterBefore = layers.NameCounter();
  layers.NameLayer(at, 1);
  CLayerData& l = *layers.At(at);
  if (layerName && !attributes.empty()) l.name = *layerName;
  if (record) {
    UndoEntry e;
    e.layerIndex = at;
    e.counterBefore = counterBefore;
    e.counterAfter = layers.NameCounter();
    pushUndo(PaperOp::PasteAsNewLayer, std::move(e), record);
  }
  layers.SetCurrent(at);
  markModified();
  l.RenderThumbnail();
  afterStructureChange(flow);
  return true;
}

bool TPaper::pasteIntoLayer(TFlowImage& flow, int32_t layer, const TMTC& image, bool record,
                            const std::string* layerName, std::span<const uint8_t> attributes) {
  CLayerData* l = layers.At(layer);
  if (!l || !l->pixels || !pasteAcceptable(image, layerName, attributes)) return false;
  WaitCursor wait;
  const Area area(0, 0, std::min(image.width, l->pixels->width), std::min(image.height, l->pixels->height));
  // The new pixels and the packet are made first, so a failure changes nothing.
  EventPacket packet;
  const bool recording = record && events->Recording();
  if (recording && !imagePacket(PaperOp::PasteIntoLayer, layer, image, layerName, attributes, packet)) {
    ui().Warning(text(TextId::OutOfMemory));
    return false;
  }
  std::unique_ptr<CBlockVMTC> pasted(new (std::nothrow) CBlockVMTC(*l->pixels));
  if (!pasted || !pasted->IsValid() || (!area.empty() && !pasted->WriteFrom(image, {0, 0}, 255, area))) {
    ui().Warning(text(TextId::OutOfMemory));
    return false;
  }
  pasted->Compact(area);
  if (recording) recordEvent(PaperOp::PasteIntoLayer, std::move(packet));
  if (record) {
    UndoEntry e;
    e.layerIndex = layer;
    e.layer = l;
    e.rect = area;
    pushUndo(PaperOp::PasteIntoLayer, std::move(e), record);
  }
  std::swap(l->pixels, pasted);
  applyAttributeBlock(*l, attributes, layerName);
  markModified();
  recomposeAll(true);
  if (l->thumbnail.IsAllocated()) l->RenderThumbnail();
  if (flow.boundLayer == layer) loadLayerToFlow(flow, layer, true);
  layersChanged();
  return true;
}

bool TPaper::pasteOpenedImage(TFlowImage& flow, const TMTC& image, bool record, const std::string* layerName,
                              std::span<const uint8_t> attributes) {
  if (!layers.At(0) || !pasteAcceptable(image, layerName, attributes)) return false;
  // The packet goes before the base layer, so the layer status recorded
  // with it names a layer the replay already has.
  EventPacket packet;
  if (record && events->Recording()) {
    if (!imagePacket(PaperOp::PasteOpenedImage, 0, image, layerName, attributes, packet)) {
      ui().Warning(text(TextId::OutOfMemory));
      return false;
    }
    recordEvent(PaperOp::PasteOpenedImage, std::move(packet));
  }
  if (layers.At(0)->ImageSize() != image.size()) {
    const int32_t w = std::max(image.width, width), h = std::max(image.height, height);
    if (insertLayer(flow, 0, true, 255, kModeNormal, w, h, false) < 0) return false;
  }
  return pasteIntoLayer(flow, 0, image, false, layerName, attributes);
}

bool TPaper::pushStrokeUndo(int32_t layer, Area layerRect, const TFlowImage* flow) {
  const CLayerData* l = layers.At(layer);
  if (!l || !l->pixels || !l->pixels->ClipArea(layerRect)) return false;
  // Whole tiles, so undo and redo trade tiles instead of copying pixels.
  const int32_t mask = l->pixels->tileMask;
  const Bounds b = l->pixels->IntersectBounds({layerRect.x & ~mask, layerRect.y & ~mask,
                                               int32_t((int64_t(layerRect.right()) + mask) & ~int64_t(mask)),
                                               int32_t((int64_t(layerRect.bottom()) + mask) & ~int64_t(mask))});
  UndoEntry e;
  e.layerIndex = layer;
  e.layer = l;
  e.rect = Area(b);
  // The layer changes only in the blocks the stroke touched (its commit
  // writes those alone), and the flow's blocks are the layer's tiles.
  if (flow && flow->AnyTouched() && !e.rect.empty()) {
    const int32_t across = (e.rect.width + mask) >> 5, down = (e.rect.height + mask) >> 5;
    const int32_t c0 = e.rect.x >> 5, r0 = e.rect.y >> 5;
    if (mask == 31 && c0 + across <= flow->touchedAcross && r0 + down <= flow->touchedDown) {
      e.tiles.assign(size_t(across) * size_t(down), 0);
      for (int32_t r = 0; r < down; ++r)
        for (int32_t c = 0; c < across; ++c) e.tiles[size_t(r) * size_t(across) + size_t(c)] = flow->Touched(c0 + c, r0 + r);
    }
  }
  return pushUndo(PaperOp::Stroke, std::move(e), true);
}

// ---- undo and redo ----

bool TPaper::canUndo() const { return undo->CanUndo(); }
bool TPaper::canRedo() const { return undo->CanRedo(); }

bool TPaper::undoStep(TFlowImage& flow, int32_t& layer, Area& rect) {
  if (!undo->CanUndo()) return false;
  WaitCursor wait;
  if (events->Recording() && events->EventCount() < undo->UndoCount()) {
    ui().Warning(text(TextId::EventFixed));
    undo->TrimTo(events->EventCount());
    if (events->EventCount() < undo->UndoCount()) ui().Warning(text(TextId::EventRecordError));
  }
  UndoOutcome out;
  if (!undo->Undo(out)) {
    ui().Warning(text(TextId::UndoStepFailed));
    undo->Clear();
    afterStructureChange(flow);
    return false;
  }
  if (events->Recording() && !events->UndoLast()) ui().Warning(text(TextId::UndoEventFailed));
  reactTo(flow, out, true);
  layer = out.layer;
  rect = out.rect;
  return true;
}

bool TPaper::redoStep(TFlowImage& flow, int32_t& layer, Area& rect) {
  if (!undo->CanRedo()) return false;
  WaitCursor wait;
  if (events->Recording() && events->EventCount() < undo->UndoCount()) ui().Warning(text(TextId::EventRecordError));
  UndoOutcome out;
  if (!undo->Redo(out)) {
    ui().Warning(text(TextId::UndoStepFailed));
    undo->Clear();
    afterStructureChange(flow);
    return false;
  }
  if (events->Recording() && !events->RedoLast()) ui().Warning(text(TextId::RedoEventFailed));
  reactTo(flow, out, false);
  layer = out.layer;
  rect = out.rect;
  return true;
}

// The reaction word's low byte L and high byte H say what the step changed.
void TPaper::reactTo(TFlowImage& flow, const UndoOutcome& out, bool isUndo) {
  const uint8_t lo = uint8_t(out.reaction), hi = uint8_t(out.reaction >> 8);
  markModified();
  if (lo & 0x02) {
    // Layers came, went or were replaced.
    afterStructureChange(flow);
    if (hi & 0x01) invalidateCanvas();
    return;
  }
  int32_t layer = out.layer;
  if (layers.IsValid(layer) && layer != layers.Current() && !(hi & 0x02)) setCurrentLayer(flow, layer);
  CLayerData* l = layers.At(layer);
  Area rect = out.rect;
  if ((lo & 0x08) && currentLayer() && currentLayer()->pixels) rect = Area(currentLayer()->pixels->size());
  if (!(hi & 0x04) && l && (!isUndo || layer == layers.Current())) commitFlowRect(flow, layers.Current(), false, rect);
  const bool selection = (lo & 0x80) != 0;
  if (selection) {
    if (!(lo & 0x40)) invalidateCanvas();
  }
  if ((!selection || (lo & 0x40)) && !(hi & 0x10) && l) {
    if (hi & 0x08) {
      refreshLayerContent(layer, true);
      invalidateCanvas();
    } else {
      const Area paperRect(rect.x - l->offsetX, rect.y - l->offsetY, rect.width, rect.height);
      recomposeRect(paperRect, true);
      updateLayerThumb(false, layer, paperRect);
      invalidatePaperRect(paperRect);
    }
  }
  if ((lo & 0x40) || (!selection && (lo & 0x01))) layersChanged();
}

}  // namespace vl
