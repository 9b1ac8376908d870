#pragma once
// Tiled images. A tile that holds one value throughout takes no pixel memory:
// it keeps that value as its uniform. Layers use 32 × 32 tiles of 32-bit
// pixels (CBlockVMTC), masks 64 × 64 tiles of bytes (CBlockVCH). A row of
// tiles that all hold the image's blank value has no descriptors either, so
// an empty image of any size takes a few bytes a row.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "pixel/dib.h"
#include "pixel/geometry.h"
#include "pixel/pixel_math.h"

namespace vl {

struct TileDesc {
  int32_t column = 0, row = 0;
  int32_t x = 0, y = 0;                       // top-left pixel in the image
  int32_t validWidth = 0, validHeight = 0;    // the part inside the image
  bool allocated = false;
  uint32_t uniform = 0;                       // every pixel's value while not allocated
  uint8_t* data = nullptr;                    // owned; rows top-down, tile pitch wide

  Area validArea() const { return {0, 0, validWidth, validHeight}; }
  // True when `local` covers everything of the tile that lies in the image.
  bool coveredBy(const Area& local) const {
    return local.x == 0 && local.y == 0 && local.width == validWidth && local.height == validHeight;
  }
};

class CBlockImage {
 public:
  CBlockImage(const CBlockImage&) = delete;
  CBlockImage& operator=(const CBlockImage&) = delete;
  virtual ~CBlockImage();

  bool IsValid() const { return valid; }
  // Drops every tile and rebuilds the image at a new size, all tiles uniform.
  bool Recreate(int32_t w, int32_t h);
  // Descriptor of tile (column, row), allocated first when asked; none when out of range
  // or when the allocation fails. Asking gives the tile's row descriptors of its own.
  TileDesc* Tile(int32_t column, int32_t row, bool allocate);
  const TileDesc* Tile(int32_t column, int32_t row) const;
  TileDesc* TileAt(int32_t x, int32_t y, bool allocate) { return Tile(x >> tileShift, y >> tileShift, allocate); }
  const TileDesc* TileAt(int32_t x, int32_t y) const { return Tile(x >> tileShift, y >> tileShift); }
  // Tile (column, row) as it stands, for a caller that has checked the range;
  // unlike Tile it never makes descriptors.
  TileDesc TileView(int32_t column, int32_t row) const {
    const TileDesc* r = rowOf(row);
    return r ? r[column] : blankTile(column, row);
  }
  // Whether tile row r has no descriptors: every tile of it unallocated, holding BlankValue.
  bool RowBlank(int32_t row) const { return rowOf(row) == nullptr; }
  uint32_t BlankValue() const { return blankUniform; }
  int64_t AllocatedBytes() const { return int64_t(AllocatedTiles()) * tileBytes; }
  int32_t AllocatedTiles() const;
  // Bytes of the tile descriptors (pixel memory aside).
  int64_t DescriptorBytes() const;
  int32_t TileCount() const { return tilesAcross * tilesDown; }
  bool ClipArea(Area& a) const { return clipArea(a, size()); }
  Bounds IntersectBounds(const Bounds& b) const { return intersect(b, {0, 0, width, height}); }
  Size size() const { return {width, height}; }
  bool Contains(int32_t x, int32_t y) const { return x >= 0 && y >= 0 && x < width && y < height; }

  // Pixel memory of a tile; false (with the warning shown) when it cannot be had.
  // A new tile holds its uniform value everywhere, padding included.
  virtual bool AllocTile(TileDesc& t);
  void FreeTile(TileDesc& t);

  // Copies tile by tile over the common tile grid: allocated tiles copy their
  // bytes, unallocated ones free the destination tile; uniforms are copied.
  bool CopyTiles(const CBlockImage& other);
  // The same for an area widened to whole tiles, placed at a tile-aligned point.
  bool CopyTilesArea(const CBlockImage& other, Point dst, Area src);

  // Visits `a` (clipped to the image) tile by tile:
  // fn(TileDesc&, Area tileLocal, Point imagePos) → bool; stops at the first false.
  template <class Fn>
  bool Walk(Area a, Fn&& fn);
  template <class Fn>
  bool Walk(Area a, Fn&& fn) const;
  // Visits `a` one pixel row at a time, left to right across the tiles, so a
  // row-major buffer on the other side is walked in memory order:
  // fn(const TileDesc&, int32_t tileX, int32_t tileY, int32_t count, Point imagePos).
  template <class Fn>
  void WalkRows(Area a, Fn&& fn) const;

  int32_t width = 0, height = 0;
  int32_t tileSize = 0;   // tile width and height, also the row pitch in pixels
  int32_t tileShift = 0;
  int32_t tileMask = 0;
  int32_t bytesPerPixel = 0;
  int32_t tileBytes = 0;
  int32_t tilesAcross = 0, tilesDown = 0;
  uint32_t defaultUniform = 0;

 protected:
  CBlockImage(int32_t w, int32_t h, int32_t shift, int32_t bpp, uint32_t uniform);
  bool build(int32_t w, int32_t h);
  void dropTiles();
  // Called after a tile got memory (the 32-bit image tracks its occupied region).
  virtual void OnTileAllocated(const TileDesc&) {}
  // Called after uniforms changed or tiles were freed.
  virtual void OnTilesChanged() {}
  void fillTile(TileDesc& t, uint32_t value);
  // Without fill the new tile's bytes are left as they come, for callers
  // that write every one of them next.
  bool allocTile(TileDesc& t, bool fill);

  // Row r's descriptors; none while every tile of the row is unallocated and
  // holds blankUniform. Rows are made on first change, and on a first look
  // through Tile, from any thread: hence atomic.
  TileDesc* rowOf(int32_t r) const { return rows[r].load(std::memory_order_acquire); }
  // The row's descriptors, made when it has none; none when memory runs out.
  TileDesc* materialize(int32_t r) const;
  // What materialize puts in for tile (c, r).
  TileDesc blankTile(int32_t c, int32_t r) const;
  // Drops every row's descriptors and pixels; every tile then holds `value`.
  void blankAll(uint32_t value);
  // Drops the descriptors of row r when it holds the blank value throughout.
  void releaseRowIfBlank(int32_t r);

  bool valid = false;
  std::unique_ptr<std::atomic<TileDesc*>[]> rows;
  uint32_t blankUniform = 0;
};

// The visit writes: every row it meets gets descriptors of its own.
template <class Fn>
bool CBlockImage::Walk(Area a, Fn&& fn) {
  if (!valid || !ClipArea(a)) return true;
  const int32_t c0 = a.x >> tileShift, c1 = (a.right() - 1) >> tileShift;
  const int32_t r0 = a.y >> tileShift, r1 = (a.bottom() - 1) >> tileShift;
  for (int32_t r = r0; r <= r1; ++r) {
    TileDesc* row = materialize(r);
    if (!row) return false;
    const int32_t ty = r << tileShift;
    const int32_t y0 = std::max(a.y, ty), y1 = std::min(a.bottom(), ty + tileSize);
    for (int32_t c = c0; c <= c1; ++c) {
      const int32_t tx = c << tileShift;
      const int32_t x0 = std::max(a.x, tx), x1 = std::min(a.right(), tx + tileSize);
      if (!fn(row[c], Area(x0 - tx, y0 - ty, x1 - x0, y1 - y0), Point{x0, y0})) return false;
    }
  }
  return true;
}

// The visit reads: a row without descriptors shows blank ones made on the way.
template <class Fn>
bool CBlockImage::Walk(Area a, Fn&& fn) const {
  if (!valid || !ClipArea(a)) return true;
  const int32_t c0 = a.x >> tileShift, c1 = (a.right() - 1) >> tileShift;
  const int32_t r0 = a.y >> tileShift, r1 = (a.bottom() - 1) >> tileShift;
  for (int32_t r = r0; r <= r1; ++r) {
    const TileDesc* row = rowOf(r);
    const int32_t ty = r << tileShift;
    const int32_t y0 = std::max(a.y, ty), y1 = std::min(a.bottom(), ty + tileSize);
    for (int32_t c = c0; c <= c1; ++c) {
      const int32_t tx = c << tileShift;
      const int32_t x0 = std::max(a.x, tx), x1 = std::min(a.right(), tx + tileSize);
      const Area local(x0 - tx, y0 - ty, x1 - x0, y1 - y0);
      if (row) {
        if (!fn(row[c], local, Point{x0, y0})) return false;
      } else {
        const TileDesc blank = blankTile(c, r);
        if (!fn(blank, local, Point{x0, y0})) return false;
      }
    }
  }
  return true;
}

template <class Fn>
void CBlockImage::WalkRows(Area a, Fn&& fn) const {
  if (!valid || !ClipArea(a)) return;
  const int32_t c0 = a.x >> tileShift, c1 = (a.right() - 1) >> tileShift;
  for (int32_t y = a.y; y < a.bottom(); ++y) {
    const TileDesc* row = rowOf(y >> tileShift);
    const int32_t ty = y & tileMask;
    for (int32_t c = c0; c <= c1; ++c) {
      const int32_t tx = c << tileShift;
      const int32_t x0 = std::max(a.x, tx), x1 = std::min(a.right(), tx + tileSize);
      if (row) {
        fn(row[c], x0 - tx, ty, x1 - x0, Point{x0, y});
      } else {
        fn(blankTile(c, y >> tileShift), x0 - tx, ty, x1 - x0, Point{x0, y});
      }
    }
  }
}

// Visits the overlap of source area `src` of `s` placed at `dst` in `d`, in
// pieces that each lie inside one source tile and one destination tile:
// fn(TileDesc& dstTile, Area dstLocal, const TileDesc& srcTile, Point srcLocal) → bool.
// The caller has clipped the rectangles already.
template <class Fn>
bool WalkPair(CBlockImage& d, Point dst, const CBlockImage& s, Area src, Fn&& fn) {
  return s.Walk(src, [&](const TileDesc& st, const Area& sl, Point sp) {
    const int32_t ox = dst.x + (sp.x - src.x) - sl.x, oy = dst.y + (sp.y - src.y) - sl.y;
    return d.Walk(Area(sl.x + ox, sl.y + oy, sl.width, sl.height), [&](TileDesc& dt, const Area& dl, Point dp) {
      return fn(dt, dl, st, Point{dp.x - ox, dp.y - oy});
    });
  });
}

// Composing one layer onto another: the mode's source-alpha function at an opacity.
struct LayerBlend {
  PixelFn pixel = inkNormal;
  int opacity = 255;
};

// Per-pixel function of the cross-mode merge; the record carries what it needs.
struct SCrossMerge;
using CrossMergeFn = uint32_t (*)(const SCrossMerge& rec, uint32_t dst, uint32_t src, int srcStrength);
struct SCrossMerge {
  uint32_t mergeColour = 0;
  bool startFromSource = false;
  PixelFn lower = inkNormal;
  PixelFn upper = inkNormal;
  PixelFn pairMerge = nullptr;  // a whole merge function, for pairs that have one
  CrossMergeFn merge = nullptr;
};

// Pixel-buffer views of one tile, so the buffer primitives work on tiles
// directly. They own nothing and cannot be resized.
class TVMTC : public TMTC {
 public:
  explicit TVMTC(const TileDesc& t);
  bool Resize(int32_t, int32_t) override { return false; }
  int64_t ByteSize() const override { return 32 * 32 * 4; }
};

class TVChannel : public TChannel {
 public:
  explicit TVChannel(const TileDesc& t);
  bool Resize(int32_t, int32_t) override { return false; }
  // Tiles are stored top-down.
  int32_t Stride() const override { return 64; }
  int64_t ByteSize() const override { return 64 * 64; }
};

class CBlockVCH;

class CBlockVMTC : public CBlockImage {
 public:
  static constexpr uint32_t kDefaultUniform = 0x00FFFFFFu;  // white, alpha 0
  CBlockVMTC(int32_t w, int32_t h) : CBlockImage(w, h, 5, 4, kDefaultUniform) { RecomputeOccupied(); }
  CBlockVMTC(const CBlockVMTC& other);

  // Frees every allocated tile whose valid pixels all equal its first; returns how many.
  int32_t Compact();
  // The same for the tiles that meet an area only (after a write there).
  // Without updateOccupied the caller recomputes the occupied region itself
  // after a run of such calls.
  int32_t Compact(Area a, bool updateOccupied = true);

  bool ReadInto(TMTC& buf, Point dst, bool skipTransparent, int strength, Area src) const;
  bool WriteFrom(const TMTC& buf, Point dst, int strength, Area src);
  // A full-strength write that leaves alone every unallocated tile whose
  // uniform colour the buffer repeats there, so untouched tiles stay cheap.
  bool WriteChanged(const TMTC& buf, Point dst, Area src);
  // With `onlyTiles`, only this image's tiles whose flag is set (row by row,
  // tilesAcross to a row) are written; the others stay as they are.
  bool CopyFrom(const CBlockVMTC& other, Point dst, Area src, const std::vector<uint8_t>* onlyTiles = nullptr);
  // Exchanges the pixels of this image's area at `at`, the other's size, with
  // all of the other's (or only its tiles flagged in `onlyTiles`, as above),
  // both compacted afterwards. Where the tile grids line up whole tiles trade
  // places without touching their pixels. False, with nothing exchanged,
  // when the area leaves the image or memory runs out.
  bool ExchangeArea(CBlockVMTC& other, Point at, const std::vector<uint8_t>* onlyTiles = nullptr);
  bool ComposeFrom(const CBlockVMTC& other, const LayerBlend& blend, Area src, Point dst);
  bool MergeFrom(const CBlockVMTC& other, PixelFn fn, int srcStrength, int dstStrength, Area src, Point dst);
  bool MergeCross(const CBlockVMTC& other, const SCrossMerge& rec, int srcStrength, int dstStrength, Area src,
                  Point dst);

  bool XorArea(Area a, uint32_t value);
  bool XorAll(uint32_t value) { return XorArea(Area(size()), value); }
  bool SetMasked(Area a, uint32_t mask, uint32_t value);
  bool SetRGB(Area a, uint32_t colour) { return SetMasked(a, 0x00FFFFFFu, colour); }
  bool SetAlpha(Area a, uint8_t value) { return SetMasked(a, 0xFF000000u, uint32_t(value) << 24); }
  bool SetAll(uint32_t value);

  bool FlipHorizontal(Area a);
  bool FlipVertical(Area a);
  bool Rotate180(Area a);
  bool Rotate90Into(TMTC& buf, bool clockwise) const;
  bool Rotate90To(CBlockVMTC& other, Point offset, bool clockwise) const;

  // Unchecked reads and writes for loops that have clipped already.
  uint32_t Pixel(int32_t x, int32_t y) const {
    const TileDesc* row = rowOf(y >> 5);
    if (!row) return blankUniform;
    const TileDesc& t = row[x >> 5];
    return t.allocated ? reinterpret_cast<const uint32_t*>(t.data)[((y & 31) << 5) + (x & 31)] : t.uniform;
  }
  bool SetPixel(int32_t x, int32_t y, uint32_t value);
  uint32_t* PixelAddress(int32_t x, int32_t y);
  // Checked forms for coordinates that come from files and packets.
  bool PixelChecked(int32_t x, int32_t y, uint32_t& out) const;
  bool SetPixelChecked(int32_t x, int32_t y, uint32_t value);
  uint32_t* PixelAddressChecked(int32_t x, int32_t y);
  uint32_t* PixelAddressClamped(int32_t x, int32_t y);
  uint32_t PixelClamped(int32_t x, int32_t y) const;
  uint32_t PixelOr(int32_t x, int32_t y) const { return Contains(x, y) ? Pixel(x, y) : defaultUniform; }
  int LuminanceAt(int32_t x, int32_t y) const { return luminance(PixelClamped(x, y)); }

  // Box-average reduction of `src` into `bufArea` of a buffer (thumbnails), all four bytes.
  // With `only` given, just the buffer pixels inside it are rendered, exactly
  // as a whole rendering would give them.
  void RenderReduced(TMTC& buf, Area bufArea, Area src, const Area* only = nullptr) const;
  // The whole image into another size with a 4 × 4 point average; target compacted.
  bool Resample4x4(CBlockVMTC& target) const;
  // Tile bounds holding any non-zero alpha; empty when there are none.
  Bounds ContentBounds() const;

  // Row I/O for file readers. Channel c is byte c of a pixel in memory
  // (0 blue, 1 green, 2 red, 3 alpha). False for a bad row or channel.
  bool WriteChannelRow(int32_t y, int channel, const uint8_t* bytes, int32_t x0, int32_t count);
  bool ReadChannelRow(int32_t y, int channel, uint8_t* bytes, int32_t x0, int32_t count) const;
  // 8 pixels a byte, most significant bit first: set bits black, clear bits white (alpha kept).
  bool WriteBitRow(int32_t y, const uint8_t* bits, int32_t x0, int32_t count);

  // Moves of the layer alpha to and from a mask-sized 8-bit image.
  bool AlphaTo(CBlockVCH& mask) const;
  bool AlphaFrom(const CBlockVCH& mask);
  bool SwapAlpha(CBlockVCH& mask);

  // Occupied region: at most four bounds covering every tile that is allocated
  // or whose uniform colour has a non-zero alpha.
  const Bounds* Occupied() const { return occupied.data(); }
  int OccupiedCount() const { return occupiedCount; }
  Bounds OccupiedUnion() const;
  void RecomputeOccupied();
  void AddOccupied(Bounds b);

  uint32_t* TileRow(const TileDesc& t, int32_t y) const { return reinterpret_cast<uint32_t*>(t.data) + (y << 5); }

 protected:
  void OnTileAllocated(const TileDesc& t) override;
  void OnTilesChanged() override;

 private:
  template <class Fn>
  bool mergeWalk(const CBlockVMTC& other, Area src, Point dst, int dstStrength, Fn&& fn);
  bool flipThrough(Area a, void (TMTC::*op)());
  // Adds the bytes of n pixels of row y from x0, coordinates clamped into the image.
  void sumRowClamped(int32_t y, int32_t x0, int32_t n, uint64_t sum[4]) const;

  std::array<Bounds, 4> occupied{};
  int occupiedCount = 0;
};

class CBlockVCH : public CBlockImage {
 public:
  CBlockVCH(int32_t w, int32_t h) : CBlockImage(w, h, 6, 1, 0) {}
  CBlockVCH(const CBlockVCH& other);

  int32_t Compact();
  bool ReadInto(TChannel& buf, Point dst, Area src) const;
  bool WriteFrom(const TChannel& buf, Point dst, Area src);
  // this := fn(this, other) over the common size.
  bool Combine(const CBlockVCH& other, ByteFn fn);
  bool FillArea(Area a, uint8_t v);
  bool XorArea(Area a, uint8_t v);
  Bounds NonZeroBounds() const;

  uint8_t Pixel(int32_t x, int32_t y) const {
    const TileDesc* row = rowOf(y >> 6);
    if (!row) return uint8_t(blankUniform);
    const TileDesc& t = row[x >> 6];
    return t.allocated ? t.data[((y & 63) << 6) + (x & 63)] : uint8_t(t.uniform);
  }
  uint8_t PixelClamped(int32_t x, int32_t y) const;
  bool PixelChecked(int32_t x, int32_t y, uint8_t& out) const;
  bool SetPixel(int32_t x, int32_t y, uint8_t v);
  bool SetPixelChecked(int32_t x, int32_t y, uint8_t v);
  uint8_t* PixelAddress(int32_t x, int32_t y);
  uint8_t* PixelAddressChecked(int32_t x, int32_t y);

  // Grey rendering of `src` reduced into `bufArea` (alpha kept).
  void RenderReduced(TMTC& buf, Area bufArea, Area src) const;
  bool WriteRow(int32_t y, const uint8_t* bytes, int32_t x0, int32_t count);
  bool ReadRow(int32_t y, uint8_t* bytes, int32_t x0, int32_t count) const;

  // One pixel of growth (3 × 3 maximum) or shrinkage (3 × 3 minimum), reading
  // outside pixels as the nearest edge pixel.
  bool Grow() { return morph(true); }
  bool Shrink() { return morph(false); }

  // Built from a layer of the same size: its alpha, or MUL[alpha][Y] (MUL[alpha][255 − Y] inverted).
  bool FromAlpha(const CBlockVMTC& layer);
  bool FromLuminance(const CBlockVMTC& layer, bool inverted);

  uint8_t* TileRow(const TileDesc& t, int32_t y) const { return t.data + (y << 6); }

 private:
  bool morph(bool grow);
};

}  // namespace vl
