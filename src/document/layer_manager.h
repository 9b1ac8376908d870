#pragma once
// The ordered layers of a paper (index 0 is the bottom), the current layer and
// the counter behind default names. The manager owns its layers; Unlink and
// Replace hand a layer to the caller.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "document/layer.h"

namespace vl {

class CLayerMngr {
 public:
  static constexpr int32_t kMaxLayers = 10000;

  explicit CLayerMngr(int32_t initialCapacity = 0);
  CLayerMngr(const CLayerMngr&) = delete;
  CLayerMngr& operator=(const CLayerMngr&) = delete;

  void SetPaperSize(int32_t w, int32_t h);
  Size PaperSize() const { return {paperWidth, paperHeight}; }
  Size ThumbnailBox() const { return {thumbWidth, thumbHeight}; }

  // "레이어" followed by n + the name counter.
  std::string DefaultName(int32_t n) const;
  // Advances the name counter by `increment` and names the layer DefaultName(0).
  void NameLayer(int32_t index, int32_t increment);
  void CopyName(int32_t to, int32_t from);
  int32_t NameCounter() const { return nameCounter; }
  // Undo puts the counter back, so names after an undone insert are the
  // ones a replay of the stream, which never sees that insert, gives.
  void SetNameCounter(int32_t n) { nameCounter = n; }

  int32_t Count() const { return int32_t(layers.size()); }
  int32_t TopIndex() const { return Count() - 1; }
  bool IsValid(int32_t index) const { return index >= 0 && index < Count(); }
  // None for an invalid index.
  CLayerData* At(int32_t index) const { return IsValid(index) ? layers[size_t(index)].get() : nullptr; }
  bool CanAdd() const { return Count() < kMaxLayers; }

  int32_t Current() const { return current; }
  // Takes the index only when it is valid; returns the current index.
  int32_t SetCurrent(int32_t index);
  void Renumber();
  // Keeps the current index inside the list.
  void FixCurrent();

  // A new layer of w × h at `index` (appended when the index is past the top).
  // Returns its position, or −1 with a warning.
  int32_t InsertNew(int32_t index, int32_t w, int32_t h, uint8_t visible, uint8_t opacity, int mode,
                    bool withOwnUndo);
  int32_t AppendNew(int32_t w, int32_t h, uint8_t visible, uint8_t opacity, int mode, bool withOwnUndo) {
    return InsertNew(Count(), w, h, visible, opacity, mode, withOwnUndo);
  }
  // Takes `layer` into the list; returns its position. On failure (−1) the
  // layer stays with the caller.
  int32_t InsertExisting(int32_t index, std::unique_ptr<CLayerData>&& layer);
  // Puts `layer` in place of the layer at `index` and returns the old one.
  // None for an invalid index or no layer; `layer` then stays with the caller.
  std::unique_ptr<CLayerData> Replace(int32_t index, std::unique_ptr<CLayerData>&& layer);
  // Takes the layer out of the list. The caller fixes the current index and
  // renumbers (FixCurrent, Renumber) once it is done with the list.
  std::unique_ptr<CLayerData> Unlink(int32_t index);
  bool Delete(int32_t index);
  void Clear();
  // Takes the layer at `from` out and puts it back at `to` (clamped into the
  // list). Returns the new index, or −1 when to = from or from is invalid.
  int32_t Move(int32_t to, int32_t from);
  bool CopyLayer(int32_t to, int32_t from);
  // Exchanges this list's entry at `index` with the other list's at `otherIndex`.
  bool SwapWith(int32_t index, CLayerMngr& other, bool renumberOther, int32_t otherIndex);

  int32_t VisibleCount() const;
  int32_t FirstVisible() const;
  std::vector<uint8_t> VisibleFlags() const;
  // Each returns whether the list is non-empty (ShowOnly: the index valid).
  bool InvertVisibility();
  bool SetAllVisible(uint8_t value);
  bool ShowOnly(int32_t index);

  int32_t IdAt(int32_t index) const;
  int32_t IndexOfId(int32_t id) const;
  bool FindId(int32_t id, int32_t& index, CLayerData*& layer) const;

  // Folds the upper layer into a copy of the lower one that covers both
  // extents; the copy replaces the lower layer. Kind 0 merges with the upper
  // mode's merge function, kinds 1 and 2 with the cross-mode merge. The old
  // lower layer is freed, or handed out through `oldLower` when the undo
  // manager owns it. False (list unchanged) on failure.
  bool MergeDown(int32_t lower, int32_t upper, bool undoOwnsOldLower, int kind,
                 std::unique_ptr<CLayerData>* oldLower = nullptr);
  // The merged layer alone, the list unchanged; none on failure.
  std::unique_ptr<CLayerData> MergedCopy(int32_t lower, int32_t upper, int kind) const;

  // Moves the layer on the paper by (dx, dy); an image that would no longer
  // cover the paper is replaced by a grown copy (see CLayerData::GrownCopy).
  // The replaced layer goes to `oldLayer` when given, else it is freed.
  // `grewMask` receives the growth bits. False when the grown image cannot be
  // made. Trimming the grown image to its content is left to the caller.
  bool OffsetLayer(int32_t index, int32_t dx, int32_t dy, std::unique_ptr<CLayerData>* oldLayer = nullptr,
                   int* grewMask = nullptr);
  // Replaces a layer larger than the paper by its paper window.
  bool CutOutside(int32_t index, std::unique_ptr<CLayerData>* oldLayer = nullptr);

  void DropOwnUndo();
  int64_t OwnUndoMemory() const;
  int64_t MemoryUsed() const;

 private:
  // Puts the layer at `index` (appended past the top); false when the list cannot grow.
  bool insertAt(int32_t& index, std::unique_ptr<CLayerData>& layer);
  std::unique_ptr<CLayerData> replaceAt(int32_t index, std::unique_ptr<CLayerData>& layer);

  std::vector<std::unique_ptr<CLayerData>> layers;
  int32_t maxCount = kMaxLayers;
  int32_t current = -1;
  int32_t paperWidth = 0, paperHeight = 0;
  int32_t thumbWidth = kThumbnailBox, thumbHeight = kThumbnailBox;
  int32_t nameCounter = 0;
};

}  // namespace vl
