#include "undo/undo_manager.h"

#include <algorithm>
#include <new>

#include "document/undo_kinds.h"
#include "platform/strings.h"
#include "platform/ui_services.h"

namespace vl {

// ---- records and lists ----

bool CUndoData::Counts() const {
  const UndoKindInfo info = undoKindInfo(entry.kind);
  return (info.flags & kUndoCounts) || info.cls == UndoClass::Rect || info.cls == UndoClass::LayerWithData ||
         info.cls == UndoClass::Layer;
}

void CUndoData::Measure() {
  int64_t n = 0;
  if (entry.image) n += entry.image->AllocatedBytes();
  if (entry.object) n += entry.object->MemoryUsed();
  if (entry.object2) n += entry.object2->MemoryUsed();
  if (entry.mask) n += entry.mask->MemoryUsed();
  bytes = n;
}

int32_t CUndoList::CountedRecords() const {
  int32_t n = 0;
  for (const auto& r : items) n += r->Counts();
  return n;
}

int64_t CUndoList::Bytes() const {
  int64_t n = 0;
  for (const auto& r : items) n += r->bytes;
  return n;
}

void CUndoList::PushNewest(std::unique_ptr<CUndoData> r) {
  if (!counted)
    while (Count() >= capacity && !items.empty()) items.pop_back();
  items.push_front(std::move(r));
}

std::unique_ptr<CUndoData> CUndoList::TakeNewest() {
  if (items.empty()) return nullptr;
  auto r = std::move(items.front());
  items.pop_front();
  return r;
}

// ---- the base manager ----

CUndoMngr::CUndoMngr(int32_t undo, int32_t redo)
    : undoLimit(std::max(undo, 0)),
      redoLimit(std::clamp(redo, 0, std::max(undo, 0))),
      undoList(false, std::max(undoLimit, 4)),
      redoList(false, std::max(redoLimit, 4)) {}

void CUndoMngr::fitCounted(CUndoList& list, int32_t limit) {
  while (!list.Empty() && list.CountedRecords() >= std::max(limit, 1)) list.DropOldest();
}

void CUndoMngr::Trim() {
  while (undoList.Count() > undoLimit) undoList.DropOldest();
}

bool CUndoMngr::PushUndo(std::unique_ptr<CUndoData> r) {
  if (!Enabled() || !r) return false;
  if (undoList.counted) fitCounted(undoList, undoLimit);
  undoList.PushNewest(std::move(r));
  Trim();
  redoList.Clear();
  return true;
}

bool CUndoMngr::PushRedo(std::unique_ptr<CUndoData> r) {
  if (!r) return false;
  if (redoLimit <= 0) return true;  // nothing is kept for redo
  if (redoList.counted) fitCounted(redoList, redoLimit);
  redoList.PushNewest(std::move(r));
  return true;
}

void CUndoMngr::ClearAll() {
  undoList.Clear();
  redoList.Clear();
}

void CUndoMngr::SetLimits(int32_t undo, int32_t redo) {
  if (undo <= 0) undo = redo = 0;
  undoLimit = undo;
  redoLimit = std::clamp(redo, 0, undo);
  if (!undoList.counted) undoList.capacity = std::max(undoLimit, 4);
  if (!redoList.counted) redoList.capacity = std::max(redoLimit, 4);
  auto fit = [](CUndoList& list, int32_t limit) {
    if (limit <= 0) {
      list.Clear();
      return;
    }
    while (list.counted ? list.CountedRecords() > limit : list.Count() > limit) list.DropOldest();
  };
  fit(undoList, undoLimit);
  fit(redoList, redoLimit);
  Trim();
}

bool CUndoMngr::PushRect(const CBlockVMTC& image, Area rect) {
  if (!Enabled() || !image.ClipArea(rect)) return false;
  auto r = std::unique_ptr<CUndoData>(new (std::nothrow) CUndoData);
  if (!r) return false;
  r->entry.cls = UndoClass::Rect;
  r->entry.kind = 1;
  r->entry.rect = rect;
  r->entry.image.reset(new (std::nothrow) CBlockVMTC(rect.width, rect.height));
  if (!r->entry.image || !r->entry.image->IsValid() || !r->entry.image->CopyFrom(image, {0, 0}, rect)) return false;
  r->entry.image->Compact();
  r->captured = 1;
  r->applied = 1;
  r->Measure();
  return PushUndo(std::move(r));
}

bool CUndoMngr::stepRect(CBlockVMTC& image, Area& rect, bool undo) {
  CUndoList& from = undo ? undoList : redoList;
  std::unique_ptr<CUndoData> r = from.TakeNewest();
  if (!r || !r->entry.image) return false;
  Area a = r->entry.rect;
  if (!image.ClipArea(a) || a.width != r->entry.image->width || a.height != r->entry.image->height) return false;
  // The present pixels go to the other side, the kept ones back into the image.
  if (!image.ExchangeArea(*r->entry.image, {a.x, a.y})) {
    from.PushNewest(std::move(r));
    return false;
  }
  r->applied ^= 1;
  r->Measure();
  rect = a;
  if (undo) {
    redoList.PushNewest(std::move(r));
  } else {
    undoList.PushNewest(std::move(r));
  }
  return true;
}

// ---- the paper's manager ----

CUndoMngrEx::CUndoMngrEx(TPaper& p, int32_t spare_, int32_t undo, int32_t redo)
    : CUndoMngr(undo, redo), paper(p), spare(std::max(spare_, 0)) {
  undoList.counted = redoList.counted = true;
}

void CUndoMngrEx::Trim() {
  while (undoList.Count() > undoLimit + spare) undoList.DropOldest();
}

bool CUndoMngrEx::PushUndo(std::unique_ptr<CUndoData> r) { return CUndoMngr::PushUndo(std::move(r)); }

bool CUndoMngrEx::Push(UndoEntry&& e) {
  if (!Enabled()) return false;
  try {
    auto r = std::make_unique<CUndoData>();
    r->entry = std::move(e);
    UndoEntry& x = r->entry;
    // Rectangle and whole-image records copy the pixels now, before the change.
    if (!x.image && (x.cls == UndoClass::Rect || x.cls == UndoClass::LayerWithData)) {
      const CLayerData* l = x.layer;
      if (!l || !l->pixels) return false;
      Area a = x.cls == UndoClass::Rect ? x.rect : Area(l->pixels->size());
      if (!l->pixels->ClipArea(a)) return false;
      // Touched tiles stand for the rectangle as it was given.
      if (!(a == x.rect)) x.tiles.clear();
      x.rect = a;
      x.image = std::make_unique<CBlockVMTC>(a.width, a.height);
      if (!x.image->IsValid() || !x.image->CopyFrom(*l->pixels, {0, 0}, a, x.tiles.empty() ? nullptr : &x.tiles))
        throw std::bad_alloc();
      // A stroke's tiles come from allocated layer tiles, which the layer
      // keeps compacted: only whole rectangles are worth looking over.
      if (x.tiles.empty()) x.image->Compact();
    }
    x.layer = nullptr;  // the record finds its layer by id from now on
    r->captured = 1;
    r->applied = 1;
    r->Measure();
    return PushUndo(std::move(r));
  } catch (const std::bad_alloc&) {
    ui().Warning(text(TextId::OutOfMemory));
    return false;
  }
}

bool CUndoMngrEx::step(UndoOutcome& out, bool undo) {
  CUndoList& from = undo ? undoList : redoList;
  std::unique_ptr<CUndoData> r = from.TakeNewest();
  if (!r) return false;
  if (!paper.applyUndo(r->entry, undo, out)) return false;  // the record goes; the paper clears the rest
  r->applied ^= 1;
  r->Measure();
  if (undo) {
    PushRedo(std::move(r));
  } else {
    // Redo puts the record back without emptying the redo side.
    fitCounted(undoList, undoLimit);
    undoList.PushNewest(std::move(r));
    Trim();
  }
  return true;
}

void CUndoMngrEx::TrimTo(int32_t count) {
  while (undoList.Count() > std::max(count, 0)) undoList.DropOldest();
}

std::unique_ptr<LayerOwnUndo> CUndoMngrEx::MakeLayerUndo() {
  return std::unique_ptr<LayerOwnUndo>(new (std::nothrow) CUndoMngr(kLayerUndoSteps, kLayerUndoSteps));
}

std::string memoryLine(const TPaper& paper) {
  int64_t layerBytes = 0, undoBytes = 0;
  paper.memoryUsage(&layerBytes, &undoBytes);
  return formatMessage(text(TextId::MemoryLine), {layerBytes / 1024, undoBytes / 1024});
}

}  // namespace vl
