#pragma once
// Selections. A selection is an 8-bit mask (0 outside, 255 fully inside)
// tiled in 64 × 64 blocks; a paper keeps several side by side, one current.
// A mask is not tied to the paper: it may be larger, or lie partly outside,
// and what lies outside stays stored until the mask is trimmed.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pixel/block_image.h"
#include "pixel/dib.h"
#include "pixel/geometry.h"

namespace vl {

// Largest side of a mask channel, the same as a layer image's.
inline constexpr int32_t kMaxMaskSide = 65536;
// Masks lie within this distance of the paper: origins from packets beyond it
// are refused, so rectangle arithmetic never leaves 32 bits.
inline constexpr int32_t kMaxMaskOrigin = 1 << 20;
// Largest step of the grow and shrink commands.
inline constexpr int32_t kMaxMaskMorph = 32;

// What a mask value m does to a layer pixel's alpha a.
enum class AlphaRule {
  Replace,   // m
  Multiply,  // a × m ÷ 255
  Cut,       // what is left after the selected part is lifted off
  Remove,    // a × (255 − m) ÷ 255
};
// The rules one pixel at a time.
int cutAlpha(int a, int m);

// The ways a new selection meets the old one.
enum MaskMode : int { kMaskNew = 0, kMaskAdd = 1, kMaskSubtract = 2, kMaskIntersect = 3 };

class CMaskData {
 public:
  // Empty: no channel, a 1 × 1 thumbnail, origin (0, 0).
  explicit CMaskData(int32_t index);
  // A channel of w × h, all 0 (none when the size is refused or memory runs out).
  CMaskData(int32_t index, int32_t w, int32_t h);
  // A copy with its own id.
  CMaskData(const CMaskData& other);
  CMaskData& operator=(const CMaskData&) = delete;

  // Drops the channel and makes a new one of w × h, all 0. False (with the
  // warning shown) when it cannot be had; the mask is then empty.
  bool createMask(int32_t w, int32_t h);
  // Only a mask with a channel restricts anything.
  bool HasChannel() const { return channel && channel->IsValid(); }
  Size ChannelSize() const { return HasChannel() ? channel->size() : Size{}; }
  // The paper rectangle the channel covers: (−originX, −originY, width, height).
  Area PaperRect() const;
  // Whether the whole channel lies on a paper of that size.
  bool InsidePaper(Size paper) const;

  // The value under a paper pixel, −1 outside the channel (or without one).
  int ValueAtPaper(int32_t px, int32_t py) const;
  // value × weight ÷ 255 (rounded down) at a mask pixel; 0 outside.
  uint8_t ValueAtMask(int32_t mx, int32_t my, int weight) const;

  // Bounds of the non-zero values in paper coordinates; empty when none.
  Bounds NonZeroPaperBounds() const;
  // Bounds, in channel coordinates, of the blocks that are not uniformly 0.
  Bounds OccupiedBlocks() const;

  // The layer's brightness, dark opaque pixels selected when inverted:
  // alpha × (255 − L) ÷ 255. The channel takes the layer image's size and
  // the layer offset as origin. False when memory runs out.
  bool FromLayerBrightness(const CBlockVMTC& layer, Point layerOffset, bool invert);
  // The layer's alpha bytes.
  bool FromLayerAlpha(const CBlockVMTC& layer, Point layerOffset);
  // The layer's alpha becomes this mask: 0 everywhere, then the mask's values
  // where it overlaps the layer. A mask without a channel leaves the layer
  // fully transparent.
  bool CopyIntoLayerAlpha(CBlockVMTC& layer, Point layerOffset) const;
  // alpha := alpha × mask ÷ 255 for every pixel of an image whose (0, 0) lies
  // at paper point `at`; 0 where the mask has no value.
  void MultiplyIntoAlpha(CBlockVMTC& image, Point at) const;
  // The rule over the overlap of the mask and a layer image; pixels outside
  // the mask keep their alpha. False when memory runs out.
  bool ApplyToLayerAlpha(CBlockVMTC& layer, Point layerOffset, AlphaRule rule) const;

  // The thumbnail fits a 33 × 33 box with the paper's proportions; it is
  // cleared when its size changes, then drawn from the channel.
  void UpdateThumbnail(Size paper);
  // Bytes of channel tiles.
  int64_t MemoryUsed() const;
  // Ids are handed out once per mask object for the whole run.
  static int32_t NextId();

  int32_t index = 0;
  int32_t id = 0;
  // Counts changes of the channel's values in place (the object otherwise
  // keeps its values for life), so copies of them know when they are stale.
  int32_t revision = 0;
  std::unique_ptr<CBlockVCH> channel;
  TMTC thumbnail;
  std::string name;  // UTF-8
  int32_t originX = 0, originY = 0;
};

class CMaskMngr {
 public:
  // One empty mask named "마스크1", current.
  explicit CMaskMngr(int32_t initialCapacity = 16);
  CMaskMngr(const CMaskMngr&) = delete;
  CMaskMngr& operator=(const CMaskMngr&) = delete;
  CMaskMngr(CMaskMngr&&) = default;
  CMaskMngr& operator=(CMaskMngr&&) = default;

  // The paper's size; every thumbnail follows it.
  void SetPaperSize(Size paper);
  Size PaperSize() const { return paper; }

  int32_t Count() const { return int32_t(masks.size()); }
  bool IsValid(int32_t i) const { return i >= 0 && i < Count(); }
  CMaskData* At(int32_t i) const { return IsValid(i) ? masks[size_t(i)].get() : nullptr; }
  int32_t Current() const { return current; }
  CMaskData* CurrentMask() const { return At(current); }
  // −1 stands for the current mask.
  int32_t Resolve(int32_t i) const { return i == -1 ? current : i; }

  // i = count appends an empty mask first; a valid i becomes current. The current index.
  int32_t SetCurrent(int32_t i);
  // A new empty mask at i (appended at i = count) with the next automatic
  // name; its index, or −1.
  int32_t AddEmpty(int32_t i);
  // Takes a mask built elsewhere; its index, or −1 (the mask then stays with the caller).
  int32_t InsertGiven(int32_t i, std::unique_ptr<CMaskData>& mask);
  // A copy of mask i at i; the source moves to i + 1. The copy's index, or −1.
  int32_t Duplicate(int32_t i);
  bool Move(int32_t from, int32_t to);
  // Takes mask i out; the current index stays inside the list.
  std::unique_ptr<CMaskData> Detach(int32_t i);
  // Puts `mask` in slot i (appended when i is out of range); the old one to the caller.
  std::unique_ptr<CMaskData> Replace(int32_t i, std::unique_ptr<CMaskData> mask);
  // An empty mask with the old name in slot i; the old one to the caller.
  std::unique_ptr<CMaskData> Clear(int32_t i);

  // The operations below come in two halves, so a caller can do all that
  // may fail before it changes anything: the const half makes the new mask
  // for slot i (none when the operation does not apply or memory runs out),
  // Install puts it in the slot, where it takes the old one's name, and hands
  // the old one out. The one-call forms do both.
  std::unique_ptr<CMaskData> Install(int32_t i, std::unique_ptr<CMaskData> made);
  std::unique_ptr<CMaskData> Built(int32_t i, const CBlockVCH& channel, int mode, Point layerOffset) const;
  std::unique_ptr<CMaskData> Combined(int32_t dest, int32_t source, int mode) const;
  // A mask inside the paper inverts in place, which cannot fail; one that
  // reaches past it is replaced by an inverted mask over it and the paper.
  bool InvertsInPlace(int32_t i) const;
  bool InvertInPlace(int32_t i);
  std::unique_ptr<CMaskData> Extended(int32_t i) const;
  std::unique_ptr<CMaskData> Trimmed(int32_t i) const;
  std::unique_ptr<CMaskData> GrownOne(int32_t i, bool grow, bool enlarge) const;
  std::unique_ptr<CMaskData> GrownBy(int32_t i, int32_t n, bool grow) const;

  // A channel in layer coordinates of a layer at `layerOffset` meets slot i by the mode.
  bool BuildFromChannel(int32_t i, const CBlockVCH& channel, int mode, Point layerOffset,
                        std::unique_ptr<CMaskData>& old);
  // The source mask meets the destination by the mode.
  bool Combine(int32_t dest, int32_t source, int mode, std::unique_ptr<CMaskData>& old);
  // Inside the paper the channel is inverted in place (`old` stays empty);
  // otherwise a new mask covers the mask and the paper, inverted.
  bool Invert(int32_t i, std::unique_ptr<CMaskData>& old);
  // Drops what lies outside the paper.
  bool TrimToPaper(int32_t i, std::unique_ptr<CMaskData>& old);
  // 3 × 3 maximum or minimum; with `enlarge`, a mask that reaches its
  // channel's edge first grows its channel by a pixel on that side.
  bool GrowShrinkOne(int32_t i, bool grow, bool enlarge, std::unique_ptr<CMaskData>& old);
  // By n (1 … 32) with an octagonal element, clipped to the paper.
  bool GrowShrinkBy(int32_t i, int32_t n, bool grow, std::unique_ptr<CMaskData>& old);

  // Every mask scaled with the paper to `to`: kind 1 by 4 × 4 point samples,
  // kind 2 by area average. In place (stops at the first failure)…
  bool RescaleAll(Size to, int kind);
  // …or as a new manager with the same current index, for undo; none on failure.
  std::unique_ptr<CMaskMngr> RescaledCopy(Size to, int kind) const;

  int32_t FirstNonEmpty() const;
  int32_t LastNonEmpty() const;
  bool AnyChannel() const;
  int64_t MemoryUsed() const;
  // The mask holds a channel that reaches past the paper's width or height.
  bool LargerThanPaper(int32_t i) const;

  // The marching outline of one mask is drawn elsewhere; these keep which one.
  void OutlineBuild(int32_t i) { outlineIndex = IsValid(i) ? i : -1; }
  void OutlineClear() { outlineIndex = -1; }
  int32_t OutlineIndex() const { return outlineIndex; }

  int32_t NameCounter() const { return nameCounter; }
  void SetNameCounter(int32_t n) { nameCounter = n; }

 private:
  void renumber();
  std::string nextName();
  bool installed(int32_t i, std::unique_ptr<CMaskData> made, std::unique_ptr<CMaskData>& old);

  std::vector<std::unique_ptr<CMaskData>> masks;
  Size paper;
  int32_t current = 0;
  int32_t nameCounter = 0;
  int32_t outlineIndex = -1;
};

// Grow (maximum) or shrink (minimum) over an octagon of reach n: offset
// (dx, dy) belongs to it when |dx| ≤ n, |dy| ≤ n and |dx| + |dy| ≤ n + (n + 1) / 2.
// `in` is read as 0 outside; `out` has its size. Exposed for tests and benchmarks.
bool morphOctagon(const CBlockVCH& in, CBlockVCH& out, int32_t n, bool grow);
// One-pixel 3 × 3 maximum or minimum over the block-aligned box `box`,
// reading outside the channel as the nearest edge pixel; `out` is 0 elsewhere.
bool morphSquare(const CBlockVCH& in, CBlockVCH& out, Bounds box, bool grow);

}  // namespace vl
