#include "document/layer_manager.h"

#include <algorithm>
#include <new>

#include "document/blend_modes.h"
#include "platform/strings.h"
#include "platform/ui_services.h"

namespace vl {

CLayerMngr::CLayerMngr(int32_t initialCapacity) {
  // The capacity is only a hint; a list that cannot reserve grows later.
  try {
    layers.reserve(size_t(std::clamp(initialCapacity, 0, kMaxLayers)));
  } catch (...) {
  }
}

void CLayerMngr::SetPaperSize(int32_t w, int32_t h) {
  paperWidth = w;
  paperHeight = h;
}

std::string CLayerMngr::DefaultName(int32_t n) const {
  try {
    std::string s(text(TextId::LayerDefaultName));
    s += std::to_string(int64_t(n) + nameCounter);
    return s;
  } catch (...) {
    return {};
  }
}

void CLayerMngr::NameLayer(int32_t index, int32_t increment) {
  // Numbers are never reused, so the counter only moves forward.
  if (increment > 0 && nameCounter <= INT32_MAX - increment) nameCounter += increment;
  if (CLayerData* l = At(index)) {
    std::string n = DefaultName(0);
    l->name.swap(n);
  }
}

void CLayerMngr::CopyName(int32_t to, int32_t from) {
  CLayerData* t = At(to);
  const CLayerData* f = At(from);
  if (!t || !f || t == f) return;
  try {
    t->name = f->name;
  } catch (...) {
  }
}

int32_t CLayerMngr::SetCurrent(int32_t index) {
  if (IsValid(index)) current = index;
  return current;
}

void CLayerMngr::Renumber() {
  for (int32_t i = 0, n = Count(); i < n; ++i) layers[size_t(i)]->index = i;
}

void CLayerMngr::FixCurrent() {
  if (current >= Count()) current = Count() - 1;
}

bool CLayerMngr::insertAt(int32_t& index, std::unique_ptr<CLayerData>& layer) {
  // Room first, so the insertion itself cannot fail half way.
  if (layers.size() == layers.capacity()) {
    try {
      layers.reserve(std::min<size_t>(std::max<size_t>(layers.size() * 2, 4), size_t(maxCount)));
    } catch (...) {
      return false;
    }
    if (layers.size() == layers.capacity()) return false;
  }
  if (index >= 0 && index < Count()) {
    layers.insert(layers.begin() + index, std::move(layer));
  } else {
    layers.push_back(std::move(layer));
    index = Count() - 1;
  }
  return true;
}

int32_t CLayerMngr::InsertNew(int32_t index, int32_t w, int32_t h, uint8_t visible, uint8_t opacity, int mode,
                              bool withOwnUndo) {
  if (index < 0) {
    ui().Warning(text(TextId::BadLayerIndex));
    return -1;
  }
  std::unique_ptr<CLayerData> layer;
  if (CanAdd()) layer.reset(new (std::nothrow) CLayerData(index, withOwnUndo));
  if (!layer || !layer->InitPixels(w, h, mode)) {
    ui().Warning(text(TextId::LayerInitFailed));
    return -1;
  }
  layer->opacity = opacity;
  layer->visible = visible;
  layer->paperWidth = paperWidth;
  layer->paperHeight = paperHeight;
  if (!layer->SizeThumbnail(thumbWidth, thumbHeight) || !insertAt(index, layer)) {
    ui().Warning(text(TextId::LayerInitFailed));
    return -1;
  }
  if (current < 0) current = 0;
  Renumber();
  return index;
}

int32_t CLayerMngr::InsertExisting(int32_t index, std::unique_ptr<CLayerData>&& layer) {
  if (index < 0) {
    ui().Warning(text(TextId::BadLayerIndex));
    return -1;
  }
  if (!layer || !CanAdd() || !insertAt(index, layer)) return -1;
  // A list that was empty gets a current layer, like one made by InsertNew.
  if (current < 0) current = 0;
  FixCurrent();
  Renumber();
  return index;
}

std::unique_ptr<CLayerData> CLayerMngr::replaceAt(int32_t index, std::unique_ptr<CLayerData>& layer) {
  std::unique_ptr<CLayerData> old = std::move(layers[size_t(index)]);
  layers[size_t(index)] = std::move(layer);
  Renumber();
  return old;
}

std::unique_ptr<CLayerData> CLayerMngr::Replace(int32_t index, std::unique_ptr<CLayerData>&& layer) {
  if (!IsValid(index) || !layer) return nullptr;
  return replaceAt(index, layer);
}

std::unique_ptr<CLayerData> CLayerMngr::Unlink(int32_t index) {
  if (!IsValid(index)) return nullptr;
  std::unique_ptr<CLayerData> l = std::move(layers[size_t(index)]);
  layers.erase(layers.begin() + index);
  return l;
}

bool CLayerMngr::Delete(int32_t index) {
  if (!IsValid(index)) return false;
  layers.erase(layers.begin() + index);
  FixCurrent();
  Renumber();
  return true;
}

void CLayerMngr::Clear() {
  layers.clear();
  current = -1;
}

int32_t CLayerMngr::Move(int32_t to, int32_t from) {
  if (to == from || !IsValid(from)) return -1;
  to = std::clamp(to, 0, TopIndex());
  auto b = layers.begin();
  if (to < from) {
    std::rotate(b + to, b + from, b + from + 1);
  } else if (to > from) {
    std::rotate(b + from, b + from + 1, b + to + 1);
  }
  Renumber();
  return to;
}

bool CLayerMngr::CopyLayer(int32_t to, int32_t from) {
  CLayerData* t = At(to);
  const CLayerData* f = At(from);
  return t && f && t->CopyAll(*f);
}

bool CLayerMngr::SwapWith(int32_t index, CLayerMngr& other, bool renumberOther, int32_t otherIndex) {
  if (!IsValid(index) || !other.IsValid(otherIndex)) return false;
  std::swap(layers[size_t(index)], other.layers[size_t(otherIndex)]);
  Renumber();
  if (renumberOther) other.Renumber();
  return true;
}

int32_t CLayerMngr::VisibleCount() const {
  int32_t n = 0;
  for (const auto& l : layers) n += l->visible != 0;
  return n;
}

int32_t CLayerMngr::FirstVisible() const {
  for (int32_t i = 0, n = Count(); i < n; ++i)
    if (layers[size_t(i)]->visible) return i;
  return -1;
}

std::vector<uint8_t> CLayerMngr::VisibleFlags() const {
  std::vector<uint8_t> flags;
  try {
    flags.reserve(layers.size());
    for (const auto& l : layers) flags.push_back(l->visible);
  } catch (...) {
    flags.clear();
  }
  return flags;
}

bool CLayerMngr::InvertVisibility() {
  for (auto& l : layers) l->visible = l->visible ? 0 : 1;
  return !layers.empty();
}

bool CLayerMngr::SetAllVisible(uint8_t value) {
  for (auto& l : layers) l->visible = value;
  return !layers.empty();
}

bool CLayerMngr::ShowOnly(int32_t index) {
  if (!IsValid(index)) return false;
  for (int32_t i = 0, n = Count(); i < n; ++i) layers[size_t(i)]->visible = i == index ? 1 : 0;
  return true;
}

int32_t CLayerMngr::IdAt(int32_t index) const {
  const CLayerData* l = At(index);
  return l ? l->id : -1;
}

int32_t CLayerMngr::IndexOfId(int32_t id) const {
  for (int32_t i = 0, n = Count(); i < n; ++i)
    if (layers[size_t(i)]->id == id) return i;
  return -1;
}

bool CLayerMngr::FindId(int32_t id, int32_t& index, CLayerData*& layer) const {
  index = IndexOfId(id);
  layer = At(index);
  return layer != nullptr;
}

bool CLayerMngr::MergeDown(int32_t lower, int32_t upper, bool undoOwnsOldLower, int kind,
                           std::unique_ptr<CLayerData>* oldLower) {
  std::unique_ptr<CLayerData> merged = MergedCopy(lower, upper, kind);
  if (!merged) return false;
  std::unique_ptr<CLayerData> old = replaceAt(lower, merged);
  if (undoOwnsOldLower && oldLower) *oldLower = std::move(old);
  return true;
}

std::unique_ptr<CLayerData> CLayerMngr::MergedCopy(int32_t lower, int32_t upper, int kind) const {
  const CLayerData* a = At(lower);
  const CLayerData* b = At(upper);
  if (!a || !b || a == b || !a->pixels || !b->pixels) return nullptr;
  PixelFn fn = nullptr;
  SCrossMerge rec;
  bool invertAfter = false;
  if (kind == 0) {
    fn = MergeFunction(b->mode);
    if (!fn) return nullptr;
  } else if (!CrossMergeRecord(kind, a->mode, b->mode, rec, invertAfter)) {
    return nullptr;
  }

  // The merged image covers both layers; the lower pixels keep their paper positions.
  const Bounds ea = a->Extent(), eb = b->Extent();
  const Bounds u = unite(ea, eb);
  const int64_t uw = int64_t(u.right) - u.left, uh = int64_t(u.bottom) - u.top;
  std::unique_ptr<CLayerData> merged;
  if (layerSizeAllowed(uw, uh))
    merged = a->CroppedCopy({int32_t(uw), int32_t(uh)}, {ea.left - u.left, ea.top - u.top});
  if (!merged || !merged->SizeThumbnail(thumbWidth, thumbHeight)) {
    ui().Warning(text(TextId::LayerMergeFailed));
    return nullptr;
  }
  merged->id = a->id;
  try {
    merged->name = a->name;
  } catch (...) {
  }

  // The lower opacity goes into the lower alpha wherever the upper layer
  // reaches, since the merged layer ends fully opaque.
  const Point at{eb.left - u.left, eb.top - u.top};
  const Area src(b->pixels->size());
  bool ok = kind == 0 ? merged->pixels->MergeFrom(*b->pixels, fn, b->opacity, a->opacity, src, at)
                      : merged->pixels->MergeCross(*b->pixels, rec, b->opacity, a->opacity, src, at);
  if (ok && invertAfter) ok = merged->pixels->XorAll(0x00FFFFFFu);
  // Merged before it enters the list, so a failure leaves the list as it was.
  if (!ok) {
    ui().Warning(text(TextId::LayerMergeFailed));
    return nullptr;
  }
  merged->opacity = 255;
  merged->pixels->Compact();
  merged->RenderThumbnail();
  return merged;
}

bool CLayerMngr::OffsetLayer(int32_t index, int32_t dx, int32_t dy, std::unique_ptr<CLayerData>* oldLayer,
                             int* grewMask) {
  CLayerData* l = At(index);
  if (!l || !l->pixels) return false;
  const int grow = l->OffsetGrowMask(dx, dy);
  if (grewMask) *grewMask = grow;
  if (grow == 0) {
    // Still covering the paper, so the new offsets lie inside the image.
    l->offsetX -= dx;
    l->offsetY -= dy;
    l->RenderThumbnail();
    return true;
  }
  std::unique_ptr<CLayerData> grown = l->GrownCopy(dx, dy);
  if (!grown || !grown->SizeThumbnail(thumbWidth, thumbHeight)) return false;
  grown->RenderThumbnail();
  std::unique_ptr<CLayerData> old = replaceAt(index, grown);
  if (oldLayer) *oldLayer = std::move(old);
  return true;
}

bool CLayerMngr::CutOutside(int32_t index, std::unique_ptr<CLayerData>* oldLayer) {
  CLayerData* l = At(index);
  if (!l) return false;
  std::unique_ptr<CLayerData> cut = l->PaperCopy();
  if (!cut || !cut->SizeThumbnail(thumbWidth, thumbHeight)) return false;
  cut->RenderThumbnail();
  std::unique_ptr<CLayerData> old = replaceAt(index, cut);
  if (oldLayer) *oldLayer = std::move(old);
  return true;
}

void CLayerMngr::DropOwnUndo() {
  for (auto& l : layers) {
    l->wantsOwnUndo = false;
    l->ownUndo.reset();
  }
}

int64_t CLayerMngr::OwnUndoMemory() const {
  int64_t sum = 0;
  for (const auto& l : layers)
    if (l->ownUndo) sum += l->ownUndo->MemoryUsed();
  return sum;
}

int64_t CLayerMngr::MemoryUsed() const {
  int64_t sum = 0;
  for (const auto& l : layers) sum += l->MemoryUsed();
  return sum;
}

}  // namespace vl
