#pragma once
// Contiguous pixel buffers: TChannel (8-bit, bottom-up), TMTC (32-bit,
// top-down) and TTC (32-bit, bottom-up, the block that is shown on screen).
#include <cstddef>
#include <cstdint>
#include <memory>

#include "pixel/geometry.h"
#include "platform/memory.h"
#include "pixel/pixel_math.h"

namespace vl {

// The 40-byte bitmap information header, as stored in BMP files.
struct BitmapInfoHeader {
  uint32_t size = 40;
  int32_t width = 0;
  int32_t height = 0;
  uint16_t planes = 1;
  uint16_t bitCount = 32;
  uint32_t compression = 0;
  uint32_t imageSize = 0;
  int32_t xPelsPerMeter = 0;
  int32_t yPelsPerMeter = 0;
  uint32_t clrUsed = 0;
  uint32_t clrImportant = 0;
};

// Pixels per metre for a resolution in dots per inch.
int32_t pelsPerMeter(int dpi);
// Dots per inch from a header's pixels per metre; 0 for unknown header sizes.
int dpiFromHeader(uint32_t headerSize, int32_t xPelsPerMeter);

// Clips a copy of source area `src` to destination point `dst`, both buffers
// given by size. Moves `dst` and `src` together; false when nothing is left.
bool clipCopy(Point& dst, Area& src, Size srcSize, Size dstSize);

class CDibCore {
 public:
  CDibCore() = default;
  CDibCore(const CDibCore&) = delete;
  CDibCore& operator=(const CDibCore&) = delete;
  virtual ~CDibCore() = default;

  virtual void Free();
  void Clear() { Free(); }
  bool IsAllocated() const { return pixels != nullptr && rows != nullptr; }
  virtual bool Resize(int32_t w, int32_t h) = 0;
  virtual int64_t ByteSize() const { return int64_t(width) * height * bpp; }
  int BytesPerPixel() const { return bpp; }
  // Pixels from one row to the next row below: positive for top-down buffers.
  virtual int32_t Stride() const = 0;
  bool IsTopDown() const { return Stride() > 0; }

  // No bounds check: callers clip first.
  uint8_t* PixelAddress(int32_t x, int32_t y) const { return pixels + rows[y] + ptrdiff_t(x) * bpp; }
  Size size() const { return {width, height}; }
  Area area() const { return {0, 0, width, height}; }
  bool Contains(int32_t x, int32_t y) const { return x >= 0 && y >= 0 && x < width && y < height; }
  bool ClipArea(Area& a) const { return clipArea(a, size()); }
  BitmapInfoHeader InfoHeader(int dpi) const;

  int32_t width = 0;
  int32_t height = 0;
  uint8_t* pixels = nullptr;
  const ptrdiff_t* rows = nullptr;  // byte offset of row y from `pixels`

 protected:
  explicit CDibCore(int bytesPerPixel) : bpp(bytesPerPixel) {}
  // Allocates a zeroed block and a row table; row y starts at rowOffset(y).
  bool allocate(int32_t w, int32_t h, bool bottomUp, bool keepBlockOfSameSize);
  void buildRows(bool bottomUp);

  int bpp = 1;
  Block ownedPixels;
  std::unique_ptr<ptrdiff_t[]> ownedRows;
};

// 8 bits per pixel, bottom-up: masks, brush tips, stroke coverage.
class TChannel : public CDibCore {
 public:
  TChannel() : CDibCore(1) {}
  TChannel(int32_t w, int32_t h) : CDibCore(1) { Resize(w, h); }
  bool Resize(int32_t w, int32_t h) override;
  int32_t Stride() const override { return -width; }

  uint8_t* Row(int32_t y) const { return pixels + rows[y]; }
  uint8_t At(int32_t x, int32_t y) const { return Row(y)[x]; }
  uint8_t ReadClamped(int32_t x, int32_t y) const;

  void Fill(uint8_t v);
  void FillArea(Area a, uint8_t v);
  bool Copy(Point dst, const TChannel& src, Area srcArea);
  void XorArea(Area a, uint8_t v);
  void SetPixelLerp(int32_t x, int32_t y, uint8_t v, int t);
  void BlendPixelTable(int32_t x, int32_t y, uint8_t v, int t);
  // Bounds of the non-zero pixels; empty when there are none.
  Bounds NonZeroBounds() const;
  // this := fn(this, other) over the common size.
  void Combine(const TChannel& other, ByteFn fn);
  void Apply(ByteFn fn, uint8_t value);

 protected:
  explicit TChannel(int bytesPerPixel) : CDibCore(bytesPerPixel) {}
};

// 32 bits per pixel, top-down: the general working buffer.
class TMTC : public CDibCore {
 public:
  TMTC() : CDibCore(4) {}
  TMTC(int32_t w, int32_t h) : CDibCore(4) { Resize(w, h); }
  // Size of the pixels given, copied in with every alpha byte set to 255.
  TMTC(const uint32_t* src, int32_t w, int32_t h, ptrdiff_t srcStridePixels);
  bool Resize(int32_t w, int32_t h) override;
  int32_t Stride() const override { return width; }

  uint32_t* Row(int32_t y) const { return reinterpret_cast<uint32_t*>(pixels + rows[y]); }
  uint32_t At(int32_t x, int32_t y) const { return Row(y)[x]; }
  uint32_t ReadClamped(int32_t x, int32_t y) const;
  uint32_t Read(int32_t x, int32_t y) const { return Contains(x, y) ? At(x, y) : 0; }

  void Fill(uint32_t value);
  bool FillMasked(Area a, uint32_t value, uint32_t mask);
  bool Apply(Area a, PixelFn fn, uint32_t colour, int strength);
  bool Copy(Point dst, const TMTC& src, Area srcArea);
  bool BlendCopy(Point dst, const TMTC& src, Area srcArea, PixelFn fn, int strength);
  bool KeyedCopy(Point dst, const TMTC& src, Area srcArea, uint32_t key, int strength);
  void Plot(int32_t x, int32_t y, uint32_t colour, int strength);
  void PlotTable(int32_t x, int32_t y, uint32_t colour, int strength);
  bool XorArea(Area a, uint32_t value);
  void FlipVertical();
  void FlipHorizontal();
  void Rotate180();
  // Weights 255 − f and f across the minor axis; a ramp moves the strength
  // from rampStart to rampEnd along the line (255 and 255 without one).
  void AntialiasedLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t colour, bool antialias = true,
                       int rampStart = 255, int rampEnd = 255);

 protected:
  explicit TMTC(int bytesPerPixel) : CDibCore(bytesPerPixel) {}
};

// 32 bits per pixel, bottom-up: composite and view buffers handed to the screen
// without conversion. Never smaller than 1 × 1.
class TTC : public TMTC {
 public:
  TTC() = default;
  TTC(int32_t w, int32_t h) { Resize(w, h); }
  bool Resize(int32_t w, int32_t h) override;
  int32_t Stride() const override { return -width; }
  // First byte of the block as the screen wants it: the bottom row first.
  const uint8_t* Bits() const { return pixels; }
  int32_t BytesPerLine() const { return width * 4; }

  // Line with fn, colour and a strength moving from s0 to s1; points outside are skipped.
  void Line(int32_t x0, int32_t y0, int32_t x1, int32_t y1, PixelFn fn, uint32_t colour, int s0, int s1);
  // Left and top sides in c1, right and bottom in c2; every corner drawn once.
  void RectOutline(Area a, uint32_t c1, uint32_t c2);
  // Cells of `cell` pixels; aligned cells start at multiples of the cell size.
  void Checkerboard(Area a, int cell, uint32_t c1, uint32_t c2, bool aligned);
};

// Box average of a whole TTC (or of srcArea of it) into dst; RGB only, dst alpha kept.
void ReduceBox(const TTC& src, TMTC& dst);
void ReduceBox(const TTC& src, Area srcArea, TMTC& dst, Area dstArea);
// 4 × 4 point average of the whole source into dst, all four bytes.
void Reduce4x4(const TMTC& src, TMTC& dst);
// channel := Y(pixel) over an area (same coordinates in both).
void LuminanceToChannel(const TTC& src, TChannel& dst, Area a);

}  // namespace vl
