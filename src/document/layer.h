#pragma once
// One layer of a paper: a tiled 32-bit image placed relative to the paper,
// with its blend mode, opacity, visibility, name and thumbnail.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "pixel/block_image.h"
#include "pixel/dib.h"
#include "pixel/geometry.h"
#include "pixel/random_state.h"

namespace vl {

// Largest layer image side; the tile grid refuses anything bigger.
inline constexpr int32_t kMaxLayerSide = 65536;
// Largest tile count of one layer image (a 32768 × 32768 image). Growing
// moves and merges of far-apart layers stop here instead of exhausting memory
// on tile descriptors.
inline constexpr int64_t kMaxLayerTiles = int64_t(1) << 20;
// Side of the box thumbnails are fitted into.
inline constexpr int32_t kThumbnailBox = 33;

// Whether an image of w × h may be made for a layer.
bool layerSizeAllowed(int64_t w, int64_t h);

// The eight-step rectangle undo that each layer of the oldest drawings keeps
// for itself (the undo manager provides it).
class LayerOwnUndo {
 public:
  virtual ~LayerOwnUndo() = default;
  // Keeps the pixels of `rect` before they change.
  virtual bool PushRect(const CBlockVMTC& image, Area rect) = 0;
  // Puts the newest kept rectangle back (keeping what it replaces for the
  // other direction) and reports it.
  virtual bool UndoRect(CBlockVMTC& image, Area& rect) = 0;
  virtual bool RedoRect(CBlockVMTC& image, Area& rect) = 0;
  virtual int64_t MemoryUsed() const = 0;
  virtual void Clear() = 0;
};

class CLayerData {
 public:
  CLayerData(int32_t index, bool withOwnUndo);
  CLayerData(const CLayerData&) = delete;
  CLayerData& operator=(const CLayerData&) = delete;
  ~CLayerData();

  // A fresh image of w × h filled with the mode's neutral colour (alpha 0);
  // offsets 0, paper size w × h, visible, opacity 255. False when the image
  // or its thumbnail cannot be made; the old pixels are gone either way.
  bool InitPixels(int32_t w, int32_t h, int mode);
  // InitPixels at the other's image size and mode, then CopyAll.
  bool InitFrom(const CLayerData& other);
  // Name, visible, opacity, maskLock, mode, dissolve, amount and random state.
  void CopyAttributes(const CLayerData& other);
  // Tiles, thumbnail pixels, attributes, offsets and paper size.
  bool CopyAll(const CLayerData& other);
  // A new layer of `size` holding this image at `shift`, its offsets moved
  // with it, so every pixel keeps its paper position. None on any failure.
  std::unique_ptr<CLayerData> CroppedCopy(Size size, Point shift) const;

  // Paper-coordinate bounds the image covers.
  Bounds Extent() const;
  bool IsLargerThanPaper() const;
  // Whether 0 ≤ offset ≤ image size − paper size on both axes; with apply
  // the offsets are clamped into that range (to 0 when the image is smaller).
  bool ClampOffset(bool apply);

  // Growth a move by (dx, dy) needs: bit 0 when the moved image no longer
  // covers the paper across, bit 1 likewise down.
  int OffsetGrowMask(int32_t dx, int32_t dy) const;
  // The replacement of a move that uncovers the paper: the image grown on the
  // uncovered sides, the old pixels placed so they moved by (dx, dy). This
  // image is compacted first. None on failure or when it would grow too big.
  std::unique_ptr<CLayerData> GrownCopy(int32_t dx, int32_t dy);
  // A paper-sized layer holding the paper window of this image.
  std::unique_ptr<CLayerData> PaperCopy() const;

  // Fits the thumbnail into the box keeping the paper's proportions (never
  // less than 1 × 1) and fills it with transparent white.
  bool SizeThumbnail(int32_t boxWidth, int32_t boxHeight);
  // The paper area of the image reduced into the thumbnail.
  void RenderThumbnail();
  // Runs of thumbnail pixels (thumbnail coordinates) whose boxes read pixels
  // a stroke changed: they are rendered when the thumbnail is next looked at
  // (Thumbnail()), so strokes nobody looks at in between, as in a replay
  // without a window, cost nothing there.
  void DeferThumbnailRuns(const std::vector<Area>& runs);
  // The thumbnail, brought up to date first.
  const TMTC& Thumbnail() const;

  bool SetAlpha(uint8_t value);
  bool InvertAlpha();
  // Allocated tile bytes plus thumbnail bytes.
  int64_t MemoryUsed() const;
  // Image and thumbnail released; the layer is hidden.
  void FreePixels();

  // Blend-mode row index (bit 7 masked off).
  int Mode() const { return mode & 0x7F; }
  Size ImageSize() const { return pixels ? pixels->size() : Size{}; }

  // Ids are handed out once per layer object for the whole run.
  static int32_t NextId() { return idCounter.load(); }

  int32_t index = 0;
  int32_t id = 0;
  std::string name;  // UTF-8
  int32_t offsetX = 0, offsetY = 0;
  int32_t paperWidth = 0, paperHeight = 0;
  uint8_t visible = 0;
  uint8_t maskLock = 0;
  uint8_t opacity = 255;
  uint8_t mode = 0;
  uint8_t dissolve = 0;
  uint8_t dissolveAmount = 255;
  RandomState random;
  std::unique_ptr<CBlockVMTC> pixels;
  TMTC thumbnail;
  // Reading the thumbnail through Thumbnail() renders these first.
  mutable std::vector<Area> thumbnailRuns;
  // Layers of the legacy generation keep an eight-step undo of their own,
  // which the paper attaches from its undo manager.
  bool wantsOwnUndo = false;
  std::unique_ptr<LayerOwnUndo> ownUndo;

 private:
  // Papers replay on several threads at once when files are exported.
  static std::atomic<int32_t> idCounter;
};

}  // namespace vl
