#pragma once
// What a paper operation hands on before it changes anything: the packet
// that lets a replay run it again, and the old state that lets undo put it
// back. The recorder and the undo manager implement these; a paper without
// them uses the silent defaults below.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "document/layer.h"
#include "pixel/geometry.h"
#include "selection/mask.h"

namespace vl {

// One event packet: the two header bytes and the little-endian payload.
struct EventPacket {
  uint8_t category = 0;
  uint8_t code = 0;
  std::vector<uint8_t> payload;

  EventPacket& u8(uint32_t v) { return put(uint8_t(v)); }
  EventPacket& u16(uint32_t v) { return put(uint8_t(v)).put(uint8_t(v >> 8)); }
  EventPacket& u32(uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
  EventPacket& i32(int32_t v) { return u32(uint32_t(v)); }
  EventPacket& f32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return u32(bits);
  }
  EventPacket& zeros(size_t n) {
    payload.insert(payload.end(), n, 0);
    return *this;
  }
  EventPacket& bytes(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    payload.insert(payload.end(), b, b + n);
    return *this;
  }
  // u16 L, then the name zero-terminated and padded to an even length.
  EventPacket& name(const std::string& s) {
    const size_t n = (s.size() + 2) & ~size_t(1);
    u16(uint32_t(n));
    bytes(s.data(), s.size());
    return zeros(n - s.size());
  }

 private:
  EventPacket& put(uint8_t b) {
    payload.push_back(b);
    return *this;
  }
};

class PaperEventHook {
 public:
  virtual ~PaperEventHook() = default;
  virtual bool Recording() const { return false; }
  // Appends the packet to the stream, after the settings it depends on. A
  // failure ends recording for the paper.
  virtual bool Record(EventPacket&&) { return true; }
  // A new paper of that size; then recording starts.
  virtual void PaperCreated(int32_t width, int32_t height, int32_t resolution) {}
  // A stroke on a layer: its begin (after the pen's settings), its points and its end.
  virtual void StrokeBegin(int32_t layer, bool forced) {}
  virtual void StrokePoint(float x, float y, float pressure) {}
  // A stroke that changed nothing leaves no step: undo has no record of it.
  virtual void StrokeEnd(bool changed) {}
  // Packets that commit a step, for keeping the stream and undo in step.
  virtual int32_t EventCount() const { return 0; }
  virtual bool UndoLast() { return true; }
  virtual bool RedoLast() { return true; }
  // Undo was cleared: the stream's steps can no longer be taken back.
  virtual void ClearHistory() {}
};

// Which builder an undo kind needs.
enum class UndoClass : uint8_t { None = 0, Rect = 1, LayerWithData = 2, Layer = 3, Attribute = 4, Object = 5, Mask = 6 };

// The old state of one change. Rectangle and layer records copy the pixels
// of `layer` when pushed, before the change (unless the change hands its old
// image over in `image`); object records take the objects the change
// replaced. Stepping a record swaps what it holds with the paper's state, so
// the same record serves undo and redo.
struct UndoEntry {
  UndoClass cls = UndoClass::None;
  uint8_t kind = 0;
  int32_t layerIndex = -1;  // −1: the paper itself
  int32_t layerId = -1;
  Area rect;                // layer coordinates
  const CLayerData* layer = nullptr;
  int64_t oldValue = 0, newValue = 0;
  std::string oldName, newName;
  int32_t secondIndex = -1;  // the other end of a move, the upper layer of a merge
  std::unique_ptr<CLayerData> object, object2;
  std::vector<uint8_t> visibility;  // the visible flags before a visibility command
  // Saved pixels: a layer image the change replaces as a whole.
  std::unique_ptr<CBlockVMTC> image;
  // Rectangle records of strokes: the tiles of the (tile-aligned) rectangle
  // the change touches, row by row; the record holds and trades those alone.
  // Empty: all of them.
  std::vector<uint8_t> tiles;
  // The name counter (of layers, or of masks) before and after a change
  // that named something new; −1 when it named nothing.
  int32_t counterBefore = -1, counterAfter = -1;
  // Masks: the slot a command changed, the object it replaced or removed.
  int32_t maskIndex = -1;
  std::unique_ptr<CMaskData> mask;
};

// What one undo or redo step did, for the paper to refresh.
struct UndoOutcome {
  int32_t layer = -1;
  Area rect;         // layer coordinates
  uint16_t reaction = 0;
};

class PaperUndoHook {
 public:
  virtual ~PaperUndoHook() = default;
  virtual bool Enabled() const { return false; }
  virtual bool CanUndo() const { return false; }
  virtual bool CanRedo() const { return false; }
  virtual int32_t UndoCount() const { return 0; }
  // False when nothing was kept; the change still goes ahead.
  virtual bool Push(UndoEntry&&) { return false; }
  virtual bool Undo(UndoOutcome&) { return false; }
  virtual bool Redo(UndoOutcome&) { return false; }
  // Drops the oldest undo records until at most `count` are left, after the
  // event stream fell behind.
  virtual void TrimTo(int32_t) {}
  virtual void Clear() {}
  virtual int64_t MemoryUsed() const { return 0; }
  // The own undo of a layer of the oldest drawings; none without undo.
  virtual std::unique_ptr<LayerOwnUndo> MakeLayerUndo() { return nullptr; }
};

// What the window around a paper hears of its changes.
class PaperObserver {
 public:
  virtual ~PaperObserver() = default;
  // The current layer's transparency lock, for the stroke that paints on it.
  virtual void MaskLockChanged(bool) {}
  // Layers were added, removed, reordered or their attributes changed.
  virtual void LayersChanged() {}
  // Masks were added, removed or changed, or the selection flags changed.
  virtual void MasksChanged() {}
};

}  // namespace vl
