#pragma once
// Exact area-average resampling between images of any two sizes (the canvas
// view, layer and mask rescaling) and the two renderers of the rotated view.
//
// A destination pixel averages the source area it covers: its footprint, in
// 16.16 fixed point. Sums are single-precision floats, added row by row and
// left to right, and the stored value is truncated. The virtual per-pixel
// operations define that arithmetic; each image kind also runs it in its own
// loop, chosen once per call, with the very same operations in the same order.
#include <cstdint>

#include "pixel/block_image.h"
#include "pixel/dib.h"
#include "pixel/geometry.h"
#include "platform/memory.h"

namespace vl {

// The colour around the paper until the canvas window sets its own.
inline constexpr uint32_t kViewBackgroundColor = 0x808080;

// A source area in 16.16 fixed point; right and bottom exclusive.
struct Footprint {
  int64_t x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

// What one footprint covers along one axis.
struct ScaleCell {
  int32_t first = 0;         // first covered source pixel
  int32_t count = 0;         // covered pixels; 0 when the footprint misses the source
  float firstWeight = 0.0f;  // covered part of the first pixel (of the only one: the span)
  float lastWeight = 0.0f;   // covered part of the last pixel
  float span = 0.0f;         // footprint length in pixels

  // Weight of the k-th covered pixel: the ends are partial, the rest whole.
  float Weight(int32_t k) const { return k == 0 ? firstWeight : k == count - 1 ? lastWeight : 1.0f; }
};

// The cell of footprint a0 … a1 (16.16) clipped to 0 … limit.
ScaleCell MakeScaleCell(int64_t a0, int64_t a1, int64_t limit);

// The cells of consecutive destination columns (or rows), made once per call.
class ScaleAxis {
 public:
  // Room for n cells; false when it cannot be had.
  bool Resize(int32_t n);
  // Footprint i starts at start + i × step and is step long.
  bool BuildSteps(int64_t start, int64_t step, int32_t n, int64_t limit);
  ScaleCell* Cells() { return reinterpret_cast<ScaleCell*>(block.get()); }
  const ScaleCell* Cells() const { return reinterpret_cast<const ScaleCell*>(block.get()); }
  int32_t Count() const { return count; }

 private:
  Block block;
  int32_t capacity = 0, count = 0;
};

class CScaleImage {
 public:
  CScaleImage() = default;
  CScaleImage(const CScaleImage&) = delete;
  CScaleImage& operator=(const CScaleImage&) = delete;
  virtual ~CScaleImage() = default;

  // Clips the source area to the source size and the destination area to the
  // destination size, then fills the destination area with the area average of
  // the source area. False when a clip is empty or memory runs out.
  bool Resample(Area source, Area dest);
  // Averages one source footprint into the destination pixel at `dest`; false
  // (pixel untouched) when the footprint misses the source.
  bool ResampleFootprint(uint8_t* dest, const Footprint& f);
  // Fills `dest` with footprints made beforehand: columns[i] for column
  // dest.x + i, rows[j] for row dest.y + j. Pixels whose footprint misses the
  // source get `emptyColour`. False when the area lies outside the destination.
  bool ResampleCells(const ScaleCell* columns, const ScaleCell* rows, Area dest, uint32_t emptyColour);

  // The per-pixel operations, in this order.
  virtual void Accumulate(float* acc, const uint8_t* src) const = 0;
  virtual void AccumulateWeighted(float* acc, const uint8_t* src, float weight) const = 0;
  // Each channel := trunc(sum ÷ total), clamped to 0 … 255.
  virtual void Store(uint8_t* dest, const float* acc, float total) const = 0;
  virtual const uint8_t* SourcePixel(int32_t x, int32_t y) = 0;
  // None when the pixel cannot be had (a tile without memory).
  virtual uint8_t* DestPixel(int32_t x, int32_t y) = 0;

  Size sourceSize;
  Size destSize;
  Area sourceArea;
  Area destArea;
  int64_t stepX = 65536, stepY = 65536;  // 16.16

 protected:
  // Brings the sizes up to date with the images (they may have been resized).
  virtual void refreshSizes() {}
  // The loop over a prepared area. The default goes through the virtual
  // operations one pixel at a time; image kinds with a loop of their own override it.
  virtual bool resampleCells(const ScaleCell* columns, const ScaleCell* rows, Area dest, uint32_t emptyColour);
  // One pixel through the virtual operations.
  bool footprintVirtual(uint8_t* dest, const ScaleCell& cx, const ScaleCell& cy);
};

// Four channels (blue, green, red, alpha) between two 32-bit buffers.
class CScaleImageTMTC : public CScaleImage {
 public:
  CScaleImageTMTC() = default;
  CScaleImageTMTC(const TMTC* source, TMTC* dest) { SetImages(source, dest); }
  void SetImages(const TMTC* source, TMTC* dest);
  const TMTC* Source() const { return src; }
  TMTC* Dest() const { return dst; }

  void Accumulate(float* acc, const uint8_t* s) const override;
  void AccumulateWeighted(float* acc, const uint8_t* s, float weight) const override;
  void Store(uint8_t* dest, const float* acc, float total) const override;
  const uint8_t* SourcePixel(int32_t x, int32_t y) override;
  uint8_t* DestPixel(int32_t x, int32_t y) override;

 protected:
  void refreshSizes() override;
  bool resampleCells(const ScaleCell* columns, const ScaleCell* rows, Area dest, uint32_t emptyColour) override;

 private:
  const TMTC* src = nullptr;
  TMTC* dst = nullptr;
};

// One channel; the images are left to the subclass.
class CScaleImage8 : public CScaleImage {
 public:
  void Accumulate(float* acc, const uint8_t* s) const override;
  void AccumulateWeighted(float* acc, const uint8_t* s, float weight) const override;
  void Store(uint8_t* dest, const float* acc, float total) const override;
};

// One channel between two 8-bit buffers.
class CScaleImageCH : public CScaleImage8 {
 public:
  CScaleImageCH() = default;
  CScaleImageCH(const TChannel* source, TChannel* dest) { SetImages(source, dest); }
  void SetImages(const TChannel* source, TChannel* dest);

  const uint8_t* SourcePixel(int32_t x, int32_t y) override;
  uint8_t* DestPixel(int32_t x, int32_t y) override;

 protected:
  void refreshSizes() override;
  bool resampleCells(const ScaleCell* columns, const ScaleCell* rows, Area dest, uint32_t emptyColour) override;

 private:
  const TChannel* src = nullptr;
  TChannel* dst = nullptr;
};

// Four channels between two layer images. Destination tiles get memory as
// they are written; the caller compacts the destination afterwards. Reading
// never gives the source memory: a tile of one colour is read as that colour.
class CScaleLayerImage : public CScaleImage {
 public:
  CScaleLayerImage() = default;
  CScaleLayerImage(const CBlockVMTC* source, CBlockVMTC* dest) { SetImages(source, dest); }
  void SetImages(const CBlockVMTC* source, CBlockVMTC* dest);

  void Accumulate(float* acc, const uint8_t* s) const override;
  void AccumulateWeighted(float* acc, const uint8_t* s, float weight) const override;
  void Store(uint8_t* dest, const float* acc, float total) const override;
  const uint8_t* SourcePixel(int32_t x, int32_t y) override;
  uint8_t* DestPixel(int32_t x, int32_t y) override;

 protected:
  void refreshSizes() override;
  bool resampleCells(const ScaleCell* columns, const ScaleCell* rows, Area dest, uint32_t emptyColour) override;

 private:
  const CBlockVMTC* src = nullptr;
  CBlockVMTC* dst = nullptr;
  uint32_t uniformPixel = 0;  // where a pixel of an unallocated tile is read
};

// Rotated or smoothed view: every pixel of `viewArea` of the view image gets
// the average of the square footprint of side 1 ÷ zoom around the paper point
// under its centre. The view centre (W ÷ 2, H ÷ 2) shows paper point
// (originX, originY); the view turns by `angle` radians. Footprints that miss
// the composite give `background`. The scaler is pointed at the two images.
bool RenderRotatedSmooth(TMTC& view, const TMTC& composite, CScaleImageTMTC& scaler, uint32_t background,
                         float zoom, float angle, Area viewArea, double originX, double originY);

// The same with the nearest composite pixel under each view pixel's corner;
// the view centre is (W ÷ 2, H ÷ 2) truncated.
bool RenderRotatedNearest(const TMTC& composite, TMTC& view, double originX, double originY, float inverseZoom,
                          float angle, Area viewArea, uint32_t background);

}  // namespace vl
