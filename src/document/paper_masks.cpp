// The selection commands of a paper. Each makes what may fail first, then
// records its packet and hands the old state to undo, then changes the
// masks, so a refused or failed command leaves paper, stream and undo alone.
#include <algorithm>

#include "document/paper.h"
#include "platform/strings.h"
#include "platform/ui_services.h"

namespace vl {

bool TPaper::selectionUsable() const {
  const CMaskData* m = masks.CurrentMask();
  return selectionEnabled && m && m->HasChannel();
}

bool TPaper::loadMaskToFlow(TFlowImage& flow) const {
  const CLayerData* l = layers.At(flow.boundLayer);
  if (!selectionUsable() || !l || !flow.coverage.IsAllocated()) return false;
  const CMaskData& m = *masks.CurrentMask();
  const TFlowImage::MaskKey key{m.id, m.revision, m.originX, m.originY, l->offsetX, l->offsetY};
  if (flow.maskValues.width != flow.coverage.width || flow.maskValues.height != flow.coverage.height) {
    flow.maskKey = {};
    flow.maskValues.Free();
    if (!flow.maskValues.Resize(flow.coverage.width, flow.coverage.height)) return false;
  } else if (flow.maskKey == key) {
    return true;  // the same values are laid out already
  }
  flow.maskValues.Fill(0);
  flow.maskKey = key;
  // Mask pixel (mx, my) lies over layer pixel (mx − originX + offset x, …).
  const Point at{int32_t(int64_t(l->offsetX) - m.originX), int32_t(int64_t(l->offsetY) - m.originY)};
  m.channel->ReadInto(flow.maskValues, at, Area(m.channel->size()));
  return true;
}

void TPaper::masksChanged() {
  masks.OutlineBuild(masks.Current());
  invalidateCanvas();
  if (observer) observer->MasksChanged();
}

void TPaper::setSelectionFlags(int32_t flags) {
  selectionEnabled = uint8_t((flags >> 16) & 1);
  selectionVisible = uint8_t(flags & 1);
}

EventPacket TPaper::maskPacket(PaperOp op, int32_t mask) const {
  EventPacket p = packetOf(op);
  p.u16(uint32_t(layers.Current())).u16(uint32_t(mask));
  return p;
}

EventPacket TPaper::maskPacket(PaperOp op, int32_t mask, int32_t p1, int32_t p2) const {
  EventPacket p = maskPacket(op, mask);
  p.i32(p1).i32(p2);
  return p;
}

bool TPaper::replaceMask(PaperOp op, EventPacket packet, int32_t mask, std::unique_ptr<CMaskData> made, bool record,
                         bool turnOn) {
  if (!made) return false;
  const int32_t oldFlags = selectionFlags();
  const int32_t newFlags = turnOn ? 65536 + 1 : oldFlags;
  UndoEntry e;
  if (record) recordEvent(op, std::move(packet));
  std::unique_ptr<CMaskData> old = masks.Install(mask, std::move(made));
  setSelectionFlags(newFlags);
  if (record) {
    e.maskIndex = mask;
    e.mask = std::move(old);
    e.oldValue = oldFlags;
    e.newValue = newFlags;
    pushUndo(op, std::move(e), record);
  }
  markModified();
  masksChanged();
  return true;
}

int32_t TPaper::newMask(bool record) {
  const int32_t before = masks.Current(), at = before + 1, counterBefore = masks.NameCounter();
  if (record) recordEvent(PaperOp::MaskNew, maskPacket(PaperOp::MaskNew, before));
  if (masks.AddEmpty(at) < 0) return -1;
  masks.SetCurrent(at);
  if (record) {
    UndoEntry e;
    e.maskIndex = at;
    e.oldValue = before;
    e.newValue = at;
    e.counterBefore = counterBefore;
    e.counterAfter = masks.NameCounter();
    pushUndo(PaperOp::MaskNew, std::move(e), record);
  }
  markModified();
  masksChanged();
  return at;
}

bool TPaper::clearMask(bool record) {
  const int32_t i = masks.Current();
  const CMaskData* m = masks.At(i);
  if (!m || !m->HasChannel()) return false;
  auto empty = std::make_unique<CMaskData>(i);
  return replaceMask(PaperOp::MaskClear, maskPacket(PaperOp::MaskClear, i), i, std::move(empty), record, false);
}

bool TPaper::deleteMask(bool record) {
  const int32_t i = masks.Current();
  if (masks.Count() < 2 || !masks.IsValid(i)) return false;
  if (record) recordEvent(PaperOp::MaskDelete, maskPacket(PaperOp::MaskDelete, i));
  std::unique_ptr<CMaskData> gone = masks.Detach(i);
  masks.SetCurrent(std::min(i, masks.Count() - 1));
  if (record) {
    UndoEntry e;
    e.maskIndex = i;
    e.mask = std::move(gone);
    e.oldValue = i;
    e.newValue = masks.Current();
    pushUndo(PaperOp::MaskDelete, std::move(e), record);
  }
  markModified();
  masksChanged();
  return true;
}

bool TPaper::invertMask(bool record) {
  const int32_t i = masks.Current();
  const CMaskData* m = masks.At(i);
  if (!m || !m->HasChannel()) return false;
  if (!masks.InvertsInPlace(i))
    return replaceMask(PaperOp::MaskInvert, maskPacket(PaperOp::MaskInvert, i), i, masks.Extended(i), record, false);
  if (record) {
    recordEvent(PaperOp::MaskInvertInPlace, maskPacket(PaperOp::MaskInvertInPlace, i));
    UndoEntry e;
    e.maskIndex = i;
    pushUndo(PaperOp::MaskInvertInPlace, std::move(e), record);
  }
  masks.InvertInPlace(i);
  markModified();
  masksChanged();
  return true;
}

int32_t TPaper::duplicateMask(bool record) {
  const int32_t i = masks.Current();
  if (!masks.IsValid(i)) return -1;
  // The copy is made before anything is recorded: it is the part that may fail.
  auto copy = std::make_unique<CMaskData>(*masks.At(i));
  if (masks.At(i)->HasChannel() && !copy->HasChannel()) return -1;
  if (record) recordEvent(PaperOp::MaskDuplicate, maskPacket(PaperOp::MaskDuplicate, i));
  masks.InsertGiven(i, copy);
  masks.SetCurrent(i);
  if (record) {
    UndoEntry e;
    e.maskIndex = i;
    e.oldValue = i;
    e.newValue = i;
    pushUndo(PaperOp::MaskDuplicate, std::move(e), record);
  }
  markModified();
  masksChanged();
  return i;
}

bool TPaper::setCurrentMask(int32_t mask, bool record) {
  const int32_t before = masks.Current();
  if (!masks.IsValid(mask) || mask == before) return false;
  if (record) {
    recordEvent(PaperOp::MaskSetCurrent, maskPacket(PaperOp::MaskSetCurrent, mask));
    UndoEntry e;
    e.oldValue = before;
    e.newValue = mask;
    pushUndo(PaperOp::MaskSetCurrent, std::move(e), record);
  }
  masks.SetCurrent(mask);
  markModified();
  masksChanged();
  return true;
}

bool TPaper::trimMask(bool record) {
  const int32_t i = masks.Current();
  return replaceMask(PaperOp::MaskTrim, maskPacket(PaperOp::MaskTrim, i), i, masks.Trimmed(i), record, false);
}

bool TPaper::selectAll(bool record) {
  const int32_t i = masks.Current();
  if (!masks.IsValid(i) || width <= 0 || height <= 0) return false;
  CBlockVCH all(width, height);
  if (!all.IsValid() || !all.FillArea(Area(0, 0, width, height), 255)) return false;
  return replaceMask(PaperOp::MaskSelectAll, maskPacket(PaperOp::MaskSelectAll, i), i,
                     masks.Built(i, all, kMaskNew, {0, 0}), record, true);
}

bool TPaper::moveMask(int32_t from, int32_t to, bool record) {
  if (!masks.IsValid(from) || !masks.IsValid(to) || from == to) return false;
  if (record) recordEvent(PaperOp::MaskMove, maskPacket(PaperOp::MaskMove, from, 0, to));
  masks.Move(from, to);
  if (record) {
    UndoEntry e;
    e.maskIndex = from;
    e.secondIndex = to;
    pushUndo(PaperOp::MaskMove, std::move(e), record);
  }
  markModified();
  masksChanged();
  return true;
}

bool TPaper::moveMaskOrigin(int32_t dx, int32_t dy, bool record) {
  const int32_t i = masks.Current();
  CMaskData* m = masks.At(i);
  if (!m || !m->HasChannel() || (dx == 0 && dy == 0)) return false;
  const int64_t ox = int64_t(m->originX) - dx, oy = int64_t(m->originY) - dy;
  if (ox < -kMaxMaskOrigin || ox > kMaxMaskOrigin || oy < -kMaxMaskOrigin || oy > kMaxMaskOrigin) return false;
  if (record) {
    recordEvent(PaperOp::MaskMoveOrigin, maskPacket(PaperOp::MaskMoveOrigin, i, dy, dx));
    UndoEntry e;
    e.maskIndex = i;
    e.oldValue = dx;
    e.newValue = dy;
    pushUndo(PaperOp::MaskMoveOrigin, std::move(e), record);
  }
  m->originX = int32_t(ox);
  m->originY = int32_t(oy);
  m->UpdateThumbnail(masks.PaperSize());
  markModified();
  masksChanged();
  return true;
}

bool TPaper::combineMasks(int32_t dest, int32_t source, int mode, bool record) {
  return replaceMask(PaperOp::MaskCombine, maskPacket(PaperOp::MaskCombine, source, mode, dest), dest,
                     masks.Combined(dest, source, mode), record, true);
}

bool TPaper::growShrinkMask(bool grow, bool enlarge, bool record) {
  const int32_t i = masks.Current();
  return replaceMask(PaperOp::MaskGrowShrinkOne,
                     maskPacket(PaperOp::MaskGrowShrinkOne, i, enlarge ? 1 : 0, grow ? 1 : 0), i,
                     masks.GrownOne(i, grow, enlarge), record, true);
}

bool TPaper::growShrinkMaskBy(int32_t n, bool grow, bool record) {
  const int32_t i = masks.Current();
  // Amounts come from packets too.
  n = std::clamp(n, 1, kMaxMaskMorph);
  const PaperOp op = grow ? PaperOp::MaskGrowBy : PaperOp::MaskShrinkBy;
  return replaceMask(op, maskPacket(op, i, 0, n), i, masks.GrownBy(i, n, grow), record, true);
}

bool TPaper::maskFromLayer(int kind, bool record) {
  const CLayerData* l = currentLayer();
  if (!l || !l->pixels || kind < 0 || kind > 1) return false;
  auto made = std::make_unique<CMaskData>(0);
  const Point offset{l->offsetX, l->offsetY};
  const bool ok = kind == 0 ? made->FromLayerBrightness(*l->pixels, offset, true) : made->FromLayerAlpha(*l->pixels, offset);
  if (!ok) {
    ui().Warning(text(TextId::OutOfMemory));
    return false;
  }
  made->name = formatMessage(text(kind == 0 ? TextId::MaskFromBrightnessName : TextId::MaskFromAlphaName), {l->name});
  made->UpdateThumbnail(masks.PaperSize());
  const int32_t before = masks.Current(), at = before + 1;
  const int32_t oldFlags = selectionFlags();
  if (record) recordEvent(PaperOp::MaskFromLayer, maskPacket(PaperOp::MaskFromLayer, before, 0, kind));
  masks.InsertGiven(at, made);
  masks.SetCurrent(at);
  setSelectionFlags(65536 + 1);
  if (record) {
    UndoEntry e;
    e.maskIndex = at;
    e.oldValue = before;
    e.newValue = at;
    e.secondIndex = oldFlags;
    pushUndo(PaperOp::MaskFromLayer, std::move(e), record);
  }
  markModified();
  masksChanged();
  return true;
}

bool TPaper::renameMask(int32_t mask, const std::string& newName, bool record) {
  CMaskData* m = masks.At(mask);
  // The name must fit the packet's 16-bit length.
  if (!m || newName.size() > 65533) return false;
  if (record) {
    EventPacket p = packetOf(PaperOp::MaskRename);
    p.u16(uint32_t(mask)).name(newName);
    recordEvent(PaperOp::MaskRename, std::move(p));
    UndoEntry e;
    e.maskIndex = mask;
    e.oldName = m->name;
    e.newName = newName;
    pushUndo(PaperOp::MaskRename, std::move(e), record);
  }
  m->name = newName;
  markModified();
  masksChanged();
  return true;
}

bool TPaper::setSelectionVisible(bool value, bool record) {
  if (bool(selectionVisible) == value) return false;
  const int32_t before = selectionFlags(), after = (before & ~1) | (value ? 1 : 0);
  if (record) {
    recordEvent(PaperOp::MaskSetVisible, maskPacket(PaperOp::MaskSetVisible, masks.Current(), after, before));
    UndoEntry e;
    e.oldValue = before;
    e.newValue = after;
    pushUndo(PaperOp::MaskSetVisible, std::move(e), record);
  }
  setSelectionFlags(after);
  markModified();
  masksChanged();
  return true;
}

bool TPaper::setSelectionEnabled(bool value, bool record) {
  if (bool(selectionEnabled) == value) return false;
  const int32_t before = selectionFlags(), after = (before & 1) | (value ? 65536 : 0);
  if (record) {
    recordEvent(PaperOp::MaskSetEnabled, maskPacket(PaperOp::MaskSetEnabled, masks.Current(), after, before));
    UndoEntry e;
    e.oldValue = before;
    e.newValue = after;
    pushUndo(PaperOp::MaskSetEnabled, std::move(e), record);
  }
  setSelectionFlags(after);
  markModified();
  masksChanged();
  return true;
}

bool TPaper::copyMaskToLayerAlpha(TFlowImage& flow, int32_t layer, int32_t mask, bool record) {
  CLayerData* l = layers.At(layer);
  mask = masks.Resolve(mask);
  const CMaskData* m = masks.At(mask);
  if (!l || !l->pixels || !m) return false;
  // The new alpha is made aside, so running out of memory changes nothing.
  auto image = std::make_unique<CBlockVMTC>(*l->pixels);
  if (!image->IsValid() || !m->CopyIntoLayerAlpha(*image, {l->offsetX, l->offsetY})) {
    ui().Warning(text(TextId::OutOfMemory));
    return false;
  }
  if (record) {
    EventPacket p = packetOf(PaperOp::MaskToLayerAlpha);
    p.u16(uint32_t(layer)).u16(uint32_t(mask));
    recordEvent(PaperOp::MaskToLayerAlpha, std::move(p));
  }
  // Undo takes the old image itself: no copy is needed.
  std::swap(l->pixels, image);
  if (record) {
    UndoEntry e;
    e.layerIndex = layer;
    e.rect = Area(l->pixels->size());
    e.image = std::move(image);
    pushUndo(PaperOp::MaskToLayerAlpha, std::move(e), record);
  }
  markModified();
  refreshWholeLayer(flow, layer);
  return true;
}

bool TPaper::cutSelection(TFlowImage& flow, int32_t layer, bool record) {
  CLayerData* l = layers.At(layer);
  if (!l || !l->pixels || !selectionUsable()) return false;
  const int32_t mask = masks.Current();
  auto image = std::make_unique<CBlockVMTC>(*l->pixels);
  if (!image->IsValid() || !masks.At(mask)->ApplyToLayerAlpha(*image, {l->offsetX, l->offsetY}, AlphaRule::Cut)) {
    ui().Warning(text(TextId::OutOfMemory));
    return false;
  }
  if (record) {
    EventPacket p = packetOf(PaperOp::CutSelection);
    p.u16(uint32_t(layer)).u16(uint32_t(mask));
    recordEvent(PaperOp::CutSelection, std::move(p));
  }
  std::swap(l->pixels, image);
  if (record) {
    UndoEntry e;
    e.layerIndex = layer;
    e.rect = Area(l->pixels->size());
    e.image = std::move(image);
    pushUndo(PaperOp::CutSelection, std::move(e), record);
  }
  markModified();
  refreshWholeLayer(flow, layer);
  return true;
}

bool TPaper::splitSelection(TFlowImage& flow, int variant, bool copy, bool record) {
  // Variant 0 only splits: its packet has no room for the copy flag.
  if (variant == 0) copy = false;
  if (variant < 0 || variant > 1) return false;
  const int32_t source = layers.Current();
  CLayerData* src = layers.At(source);
  if (!src || !src->pixels || !src->visible || !selectionUsable() || !layers.CanAdd()) return false;
  const CMaskData& m = *masks.CurrentMask();
  WaitCursor wait;
  // The new layer and the source's new image are made first.
  auto made = std::make_unique<CLayerData>(0, false);
  std::unique_ptr<CBlockVMTC> rest;
  bool ok = made->InitFrom(*src);
  if (ok) {
    m.MultiplyIntoAlpha(*made->pixels, {-src->offsetX, -src->offsetY});
    const Size box = layers.ThumbnailBox();
    made->SizeThumbnail(box.width, box.height);
  }
  if (ok && !copy) {
    rest = std::make_unique<CBlockVMTC>(*src->pixels);
    ok = rest->IsValid() && m.ApplyToLayerAlpha(*rest, {src->offsetX, src->offsetY},
                                                 variant == 0 ? AlphaRule::Cut : AlphaRule::Remove);
  }
  if (!ok) {
    ui().Warning(text(TextId::OutOfMemory));
    return false;
  }
  const PaperOp op = variant == 0 ? PaperOp::MaskSplitClearing : PaperOp::MaskSplit;
  if (record) {
    recordEvent(op, variant == 0 ? maskPacket(op, masks.Current())
                                 : maskPacket(op, masks.Current(), 0, variant + 65536 * (copy ? 1 : 0)));
  }
  const int32_t at = layers.InsertExisting(source + 1, std::move(made));
  if (at < 0) return false;  // cannot happen: CanAdd was checked
  if (rest) std::swap(src->pixels, rest);
  layers.SetCurrent(at);
  if (record) {
    UndoEntry e;
    e.layerIndex = at;
    e.secondIndex = source;
    e.image = std::move(rest);  // the source's old pixels, for a split
    pushUndo(op, std::move(e), record);
  }
  if (CLayerData* l = layers.At(at)) l->RenderThumbnail();
  if (src->thumbnail.IsAllocated()) src->RenderThumbnail();
  markModified();
  afterStructureChange(flow);
  return true;
}

}  // namespace vl
