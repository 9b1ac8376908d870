#include "pixel/block_image.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "pixel/simd.h"
#include "platform/strings.h"
#include "platform/ui_services.h"
#include "platform/worker_pool.h"

namespace vl {
namespace {

// Samples from which a reduction shares its rows among the core's threads.
constexpr uint64_t kSharedReduction = uint64_t(1) << 18;

// Row tables shared by every tile view: tiles are stored top-down.
template <int Size, int Bpp>
const ptrdiff_t* tileRows() {
  static const auto table = [] {
    std::array<ptrdiff_t, Size> t{};
    for (int y = 0; y < Size; ++y) t[y] = ptrdiff_t(y) * Size * Bpp;
    return t;
  }();
  return table.data();
}

}  // namespace

TVMTC::TVMTC(const TileDesc& t) {
  width = height = 32;
  pixels = t.data;
  rows = tileRows<32, 4>();
}

TVChannel::TVChannel(const TileDesc& t) {
  width = height = 64;
  pixels = t.data;
  rows = tileRows<64, 1>();
}

// ---- CBlockImage ----

CBlockImage::CBlockImage(int32_t w, int32_t h, int32_t shift, int32_t bpp, uint32_t uniform)
    : tileSize(1 << shift), tileShift(shift), tileMask((1 << shift) - 1), bytesPerPixel(bpp),
      tileBytes((1 << shift) * (1 << shift) * bpp), defaultUniform(uniform) {
  build(w, h);
}

CBlockImage::~CBlockImage() { dropTiles(); }

void CBlockImage::dropTiles() {
  if (rows) blankAll(defaultUniform);
  rows.reset();
  tilesAcross = tilesDown = 0;
  valid = false;
}

void CBlockImage::blankAll(uint32_t value) {
  for (int32_t r = 0; r < tilesDown; ++r) {
    TileDesc* row = rowOf(r);
    if (!row) continue;
    for (int32_t c = 0; c < tilesAcross; ++c) FreeTile(row[c]);
    delete[] row;
    rows[r].store(nullptr, std::memory_order_relaxed);
  }
  blankUniform = value;
}

TileDesc CBlockImage::blankTile(int32_t c, int32_t r) const {
  TileDesc t;
  t.column = c;
  t.row = r;
  t.x = c << tileShift;
  t.y = r << tileShift;
  t.validWidth = std::min(width - t.x, tileSize);
  t.validHeight = std::min(height - t.y, tileSize);
  t.uniform = blankUniform;
  return t;
}

TileDesc* CBlockImage::materialize(int32_t r) const {
  if (TileDesc* row = rowOf(r)) return row;
  TileDesc* made = new (std::nothrow) TileDesc[size_t(tilesAcross)];
  if (!made) {
    ui().Warning(text(TextId::TileOutOfMemory));
    return nullptr;
  }
  for (int32_t c = 0; c < tilesAcross; ++c) made[c] = blankTile(c, r);
  // Readers on other threads may make the same row at the same time: the
  // first one stays.
  TileDesc* expected = nullptr;
  if (rows[r].compare_exchange_strong(expected, made, std::memory_order_acq_rel)) return made;
  delete[] made;
  return expected;
}

void CBlockImage::releaseRowIfBlank(int32_t r) {
  TileDesc* row = rowOf(r);
  if (!row) return;
  for (int32_t c = 0; c < tilesAcross; ++c)
    if (row[c].allocated || row[c].uniform != blankUniform) return;
  delete[] row;
  rows[r].store(nullptr, std::memory_order_relaxed);
}

bool CBlockImage::build(int32_t w, int32_t h) {
  dropTiles();
  // Images beyond the largest paper are never built.
  if (w <= 0 || h <= 0 || w > 65536 || h > 65536) {
    width = height = 0;
    return false;
  }
  width = w;
  height = h;
  int32_t across = (w + tileMask) >> tileShift, down = (h + tileMask) >> tileShift;
  // Every row starts blank: no descriptors until something is written.
  rows.reset(new (std::nothrow) std::atomic<TileDesc*>[size_t(down)]);
  if (!rows) {
    width = height = 0;
    return false;
  }
  tilesAcross = across;
  tilesDown = down;
  blankUniform = defaultUniform;
  valid = true;
  return true;
}

bool CBlockImage::Recreate(int32_t w, int32_t h) {
  const bool ok = build(w, h);
  OnTilesChanged();  // the old tiles' occupied region is gone with them
  return ok;
}

TileDesc* CBlockImage::Tile(int32_t column, int32_t row, bool allocate) {
  if (!valid || column < 0 || row < 0 || column >= tilesAcross || row >= tilesDown) return nullptr;
  TileDesc* r = materialize(row);
  if (!r) return nullptr;
  TileDesc& t = r[column];
  if (allocate && !AllocTile(t)) return nullptr;
  return &t;
}

const TileDesc* CBlockImage::Tile(int32_t column, int32_t row) const {
  if (!valid || column < 0 || row < 0 || column >= tilesAcross || row >= tilesDown) return nullptr;
  const TileDesc* r = materialize(row);
  return r ? &r[column] : nullptr;
}

int32_t CBlockImage::AllocatedTiles() const {
  int32_t n = 0;
  for (int32_t r = 0; r < tilesDown; ++r)
    if (const TileDesc* row = rowOf(r))
      for (int32_t c = 0; c < tilesAcross; ++c) n += row[c].allocated;
  return n;
}

int64_t CBlockImage::DescriptorBytes() const {
  int64_t n = int64_t(tilesDown) * int64_t(sizeof(std::atomic<TileDesc*>));
  for (int32_t r = 0; r < tilesDown; ++r)
    if (rowOf(r)) n += int64_t(tilesAcross) * int64_t(sizeof(TileDesc));
  return n;
}

void CBlockImage::fillTile(TileDesc& t, uint32_t value) {
  if (bytesPerPixel == 1) {
    std::memset(t.data, int(value & 0xFF), size_t(tileBytes));
  } else {
    std::fill_n(reinterpret_cast<uint32_t*>(t.data), tileBytes / 4, value);
  }
}

bool CBlockImage::AllocTile(TileDesc& t) { return allocTile(t, true); }

bool CBlockImage::allocTile(TileDesc& t, bool fill) {
  if (t.allocated) return true;
  t.data = static_cast<uint8_t*>(std::malloc(size_t(tileBytes)));
  if (!t.data) {
    ui().Warning(text(TextId::TileOutOfMemory));
    return false;
  }
  if (fill) fillTile(t, t.uniform);
  t.allocated = true;
  OnTileAllocated(t);
  return true;
}

void CBlockImage::FreeTile(TileDesc& t) {
  if (!t.allocated) return;
  std::free(t.data);
  t.data = nullptr;
  t.allocated = false;
}

bool CBlockImage::CopyTiles(const CBlockImage& other) {
  if (!valid || !other.valid || other.tileSize != tileSize || other.bytesPerPixel != bytesPerPixel) return false;
  return CopyTilesArea(other, {0, 0}, Area(other.size()));
}

bool CBlockImage::CopyTilesArea(const CBlockImage& other, Point dst, Area src) {
  if (!valid || !other.valid || other.tileSize != tileSize || other.bytesPerPixel != bytesPerPixel) return false;
  if (((dst.x | dst.y) & tileMask) != 0) return false;
  // Widen the area to whole tiles; tiles left of or above the source keep
  // their place, so the rest still lands where the area puts it.
  const int32_t c0 = src.x >> tileShift, r0 = src.y >> tileShift;
  const int32_t c1 = int32_t(std::min<int64_t>(other.tilesAcross, (int64_t(src.x) + src.width + tileMask) >> tileShift));
  const int32_t r1 = int32_t(std::min<int64_t>(other.tilesDown, (int64_t(src.y) + src.height + tileMask) >> tileShift));
  const int32_t dc = dst.x >> tileShift, dr = dst.y >> tileShift;
  bool ok = true;
  for (int32_t r = std::max(0, r0); r < r1; ++r)
    for (int32_t c = std::max(0, c0); c < c1; ++c) {
      const int32_t tc = c - c0 + dc, tr = r - r0 + dr;
      if (tc < 0 || tr < 0 || tc >= tilesAcross || tr >= tilesDown) continue;
      const TileDesc* sourceRow = other.rowOf(r);
      const TileDesc s = sourceRow ? sourceRow[c] : other.blankTile(c, r);
      // Blank onto blank stays without descriptors.
      if (!sourceRow && !rowOf(tr) && s.uniform == blankUniform) continue;
      TileDesc* d = Tile(tc, tr, false);
      if (!d) {
        ok = false;
        continue;
      }
      d->uniform = s.uniform;
      if (!s.allocated) {
        FreeTile(*d);
      } else if (AllocTile(*d)) {
        std::memcpy(d->data, s.data, size_t(tileBytes));
      } else {
        ok = false;
      }
    }
  OnTilesChanged();
  return ok;
}

// ---- CBlockVMTC ----

CBlockVMTC::CBlockVMTC(const CBlockVMTC& other) : CBlockImage(other.width, other.height, 5, 4, kDefaultUniform) {
  CopyTiles(other);
  RecomputeOccupied();
}

void CBlockVMTC::OnTilesChanged() { RecomputeOccupied(); }

void CBlockVMTC::OnTileAllocated(const TileDesc& t) {
  AddOccupied({t.x, t.y, t.x + tileSize, t.y + tileSize});
}

namespace {

int64_t boundsGap2(const Bounds& a, const Bounds& b) {
  int64_t gx = std::max<int64_t>(0, std::max<int64_t>(int64_t(a.left) - b.right, int64_t(b.left) - a.right));
  int64_t gy = std::max<int64_t>(0, std::max<int64_t>(int64_t(a.top) - b.bottom, int64_t(b.top) - a.bottom));
  return gx * gx + gy * gy;
}

int64_t boundsArea(const Bounds& b) { return int64_t(b.right - b.left) * (b.bottom - b.top); }

}  // namespace

void CBlockVMTC::AddOccupied(Bounds r) {
  r = IntersectBounds(r);
  if (r.empty()) return;
  auto coalesce = [&] {
    for (bool merged = true; merged;) {
      merged = false;
      for (int i = 0; i < occupiedCount && !merged; ++i)
        for (int j = i + 1; j < occupiedCount; ++j)
          if (boundsGap2(occupied[i], occupied[j]) == 0) {
            occupied[i] = unite(occupied[i], occupied[j]);
            for (int k = j; k + 1 < occupiedCount; ++k) occupied[k] = occupied[k + 1];
            --occupiedCount;
            merged = true;
            break;
          }
    }
  };
  for (int i = 0; i < occupiedCount; ++i)
    if (boundsGap2(occupied[i], r) == 0) {
      occupied[i] = unite(occupied[i], r);
      coalesce();
      return;
    }
  if (occupiedCount < 4) {
    occupied[occupiedCount++] = r;
    return;
  }
  int best = 0;
  for (int i = 1; i < occupiedCount; ++i) {
    int64_t d = boundsGap2(occupied[i], r), db = boundsGap2(occupied[best], r);
    if (d < db || (d == db && boundsArea(occupied[i]) < boundsArea(occupied[best]))) best = i;
  }
  occupied[best] = unite(occupied[best], r);
  coalesce();
}

void CBlockVMTC::RecomputeOccupied() {
  occupiedCount = 0;
  for (int32_t r = 0; r < tilesDown; ++r) {
    const TileDesc* row = rowOf(r);
    const int32_t y = r << tileShift;
    if (!row) {
      // A blank row shows all along when its value does.
      if (alpha(blankUniform) != 0) AddOccupied({0, y, tilesAcross << tileShift, y + tileSize});
      continue;
    }
    for (int32_t c = 0; c < tilesAcross; ++c) {
      const TileDesc& t = row[c];
      if (t.allocated || alpha(t.uniform) != 0) AddOccupied({t.x, t.y, t.x + tileSize, t.y + tileSize});
    }
  }
}

Bounds CBlockVMTC::OccupiedUnion() const {
  Bounds u{};
  for (int i = 0; i < occupiedCount; ++i) u = unite(u, occupied[i]);
  return u;
}

int32_t CBlockVMTC::Compact() { return Compact(Area(size())); }

int32_t CBlockVMTC::Compact(Area a, bool updateOccupied) {
  int32_t freed = 0;
  if (!valid || !ClipArea(a)) return 0;
  const int32_t c0 = a.x >> tileShift, c1 = (a.right() - 1) >> tileShift;
  const int32_t r0 = a.y >> tileShift, r1 = (a.bottom() - 1) >> tileShift;
  for (int32_t r = r0; r <= r1; ++r) {
    TileDesc* row = rowOf(r);
    if (!row) continue;
    for (int32_t c = c0; c <= c1; ++c) {
      TileDesc& t = row[c];
      if (!t.allocated) continue;
      const uint32_t first = TileRow(t, 0)[0];
      bool same = true;
      if (t.validWidth == 32) {
        const uint32_t* p = TileRow(t, 0);
        // Whole rows are contiguous: test the first row, then runs of 8 rows.
        for (int32_t k = 0, n = t.validHeight * 32; k < n && same;) {
          const int32_t e = std::min(n, k == 0 ? 32 : k + 256);
          uint32_t diff = 0;
          for (int32_t i = k; i < e; ++i) diff |= p[i] ^ first;
          same = diff == 0;
          k = e;
        }
      } else {
        for (int32_t y = 0; y < t.validHeight && same; ++y) {
          const uint32_t* p = TileRow(t, y);
          uint32_t diff = 0;
          for (int32_t x = 0; x < t.validWidth; ++x) diff |= p[x] ^ first;
          same = diff == 0;
        }
      }
      if (!same) continue;
      FreeTile(t);
      t.uniform = first;
      ++freed;
    }
    releaseRowIfBlank(r);
  }
  if (freed && updateOccupied) RecomputeOccupied();
  return freed;
}

bool CBlockVMTC::ReadInto(TMTC& buf, Point dst, bool skipTransparent, int strength, Area src) const {
  if (!valid || !buf.IsAllocated() || !clipCopy(dst, src, size(), buf.size())) return false;
  return Walk(src, [&](const TileDesc& t, const Area& l, Point p) {
    const int32_t bx = dst.x + p.x - src.x, by = dst.y + p.y - src.y;
    if (t.allocated) {
      for (int32_t j = 0; j < l.height; ++j) {
        const uint32_t* s = TileRow(t, l.y + j) + l.x;
        uint32_t* d = buf.Row(by + j) + bx;
        if (strength >= 255) {
          std::memcpy(d, s, size_t(l.width) * 4);
        } else {
          for (int32_t i = 0; i < l.width; ++i) d[i] = blendRGB(d[i], s[i], strength);
        }
      }
    } else if (!(skipTransparent && alpha(t.uniform) == 0)) {
      for (int32_t j = 0; j < l.height; ++j) {
        uint32_t* d = buf.Row(by + j) + bx;
        if (strength >= 255) {
          std::fill_n(d, l.width, t.uniform);
        } else {
          for (int32_t i = 0; i < l.width; ++i) d[i] = blendRGB(d[i], t.uniform, strength);
        }
      }
    }
    return true;
  });
}

bool CBlockVMTC::WriteFrom(const TMTC& buf, Point dst, int strength, Area src) {
  if (!valid || !buf.IsAllocated() || !clipCopy(dst, src, buf.size(), size())) return false;
  return Walk(Area(dst.x, dst.y, src.width, src.height), [&](TileDesc& t, const Area& l, Point p) {
    if (!AllocTile(t)) return false;
    const int32_t bx = src.x + p.x - dst.x, by = src.y + p.y - dst.y;
    for (int32_t j = 0; j < l.height; ++j) {
      const uint32_t* s = buf.Row(by + j) + bx;
      uint32_t* d = TileRow(t, l.y + j) + l.x;
      if (strength >= 255) {
        std::memcpy(d, s, size_t(l.width) * 4);
      } else {
        for (int32_t i = 0; i < l.width; ++i) d[i] = blendRGB(d[i], s[i], strength);
      }
    }
    return true;
  });
}

bool CBlockVMTC::WriteChanged(const TMTC& buf, Point dst, Area src) {
  if (!valid || !buf.IsAllocated() || !clipCopy(dst, src, buf.size(), size())) return false;
  return Walk(Area(dst.x, dst.y, src.width, src.height), [&](TileDesc& t, const Area& l, Point p) {
    const int32_t bx = src.x + p.x - dst.x, by = src.y + p.y - dst.y;
    if (!t.allocated) {
      bool same = true;
      for (int32_t j = 0; j < l.height && same; ++j) {
        const uint32_t* s = buf.Row(by + j) + bx;
        uint32_t diff = 0;
        for (int32_t i = 0; i < l.width; ++i) diff |= s[i] ^ t.uniform;
        same = diff == 0;
      }
      if (same) return true;
    }
    if (!AllocTile(t)) return false;
    for (int32_t j = 0; j < l.height; ++j)
      std::memcpy(TileRow(t, l.y + j) + l.x, buf.Row(by + j) + bx, size_t(l.width) * 4);
    return true;
  });
}

bool CBlockVMTC::CopyFrom(const CBlockVMTC& other, Point dst, Area src, const std::vector<uint8_t>* onlyTiles) {
  if (!valid || !other.valid || !clipCopy(dst, src, other.size(), size())) return false;
  if (onlyTiles && onlyTiles->size() != size_t(tilesAcross) * size_t(tilesDown)) return false;
  bool ok = WalkPair(*this, dst, other, src, [&](TileDesc& dt, const Area& dl, const TileDesc& st, Point sl) {
    if (onlyTiles && !(*onlyTiles)[size_t(dt.row) * size_t(tilesAcross) + size_t(dt.column)])
      return true;
    if (!st.allocated && !dt.allocated && dt.coveredBy(dl)) {
      dt.uniform = st.uniform;
      return true;
    }
    // A full tile about to be overwritten entirely needs no fill first.
    const bool overwritten = st.allocated && dt.coveredBy(dl) && dl.width == tileSize && dl.height == tileSize;
    if (!allocTile(dt, !overwritten)) return false;
    for (int32_t j = 0; j < dl.height; ++j) {
      uint32_t* d = TileRow(dt, dl.y + j) + dl.x;
      if (st.allocated) {
        std::memcpy(d, TileRow(st, sl.y + j) + sl.x, size_t(dl.width) * 4);
      } else {
        std::fill_n(d, dl.width, st.uniform);
      }
    }
    return true;
  });
  RecomputeOccupied();
  return ok;
}

bool CBlockVMTC::ExchangeArea(CBlockVMTC& other, Point at, const std::vector<uint8_t>* onlyTiles) {
  const Area a(at.x, at.y, other.width, other.height);
  if (!valid || !other.valid || tileSize != other.tileSize || at.x < 0 || at.y < 0 ||
      int64_t(at.x) + other.width > width || int64_t(at.y) + other.height > height)
    return false;
  if (onlyTiles && onlyTiles->size() != size_t(other.tilesAcross) * size_t(other.tilesDown)) return false;
  // Pieces that lie in one tile of each image; whole when both tiles are
  // covered entirely, which happens only where the grids line up.
  auto walk = [&](auto&& fn) {
    return other.Walk(Area(other.size()), [&](TileDesc& st, const Area& sl, Point sp) {
      if (onlyTiles &&
          !(*onlyTiles)[size_t(st.row) * size_t(other.tilesAcross) + size_t(st.column)])
        return true;
      const int32_t ox = at.x + sp.x - sl.x, oy = at.y + sp.y - sl.y;
      return Walk(Area(sl.x + ox, sl.y + oy, sl.width, sl.height), [&](TileDesc& dt, const Area& dl, Point dp) {
        const Point sLocal{dp.x - ox, dp.y - oy};
        const bool whole = dt.coveredBy(dl) && sLocal.x == 0 && sLocal.y == 0 && st.validWidth == dl.width &&
                           st.validHeight == dl.height;
        return fn(dt, dl, st, sLocal, whole);
      });
    });
  };
  // Memory first, so a failure leaves both images as they were.
  const bool allocated = walk([&](TileDesc& dt, const Area&, TileDesc& st, Point, bool whole) {
    if (whole || (!dt.allocated && !st.allocated && dt.uniform == st.uniform)) return true;
    return AllocTile(dt) && other.AllocTile(st);
  });
  if (!allocated) return false;
  walk([&](TileDesc& dt, const Area& dl, TileDesc& st, Point sl, bool whole) {
    if (whole) {
      std::swap(dt.allocated, st.allocated);
      std::swap(dt.uniform, st.uniform);
      std::swap(dt.data, st.data);
    } else if (dt.allocated) {
      for (int32_t j = 0; j < dl.height; ++j) {
        uint32_t* d = TileRow(dt, dl.y + j) + dl.x;
        std::swap_ranges(d, d + dl.width, other.TileRow(st, sl.y + j) + sl.x);
      }
    }
    return true;
  });
  Compact(a, false);
  RecomputeOccupied();
  other.Compact(Area(other.size()), false);
  other.RecomputeOccupied();
  return true;
}

bool CBlockVMTC::ComposeFrom(const CBlockVMTC& other, const LayerBlend& blend, Area src, Point dst) {
  if (!valid || !other.valid || !clipCopy(dst, src, other.size(), size())) return false;
  const PixelFn fn = blend.pixel;
  const int opacity = blend.opacity;
  bool ok = WalkPair(*this, dst, other, src, [&](TileDesc& dt, const Area& dl, const TileDesc& st, Point sl) {
    if (!st.allocated) {
      if (alpha(st.uniform) == 0) return true;
      if (!dt.allocated && dt.coveredBy(dl)) {
        dt.uniform = fn(dt.uniform, st.uniform, opacity);
        return true;
      }
    }
    if (!AllocTile(dt)) return false;
    for (int32_t j = 0; j < dl.height; ++j) {
      uint32_t* d = TileRow(dt, dl.y + j) + dl.x;
      if (st.allocated) {
        const uint32_t* s = TileRow(st, sl.y + j) + sl.x;
        for (int32_t i = 0; i < dl.width; ++i) d[i] = fn(d[i], s[i], opacity);
      } else {
        for (int32_t i = 0; i < dl.width; ++i) d[i] = fn(d[i], st.uniform, opacity);
      }
    }
    return true;
  });
  RecomputeOccupied();
  return ok;
}

// Every destination pixel touched first has its alpha scaled by the
// destination strength, then takes fn(pixel, source pixel).
template <class Fn>
bool CBlockVMTC::mergeWalk(const CBlockVMTC& other, Area src, Point dst, int dstStrength, Fn&& fn) {
  if (!valid || !other.valid || !clipCopy(dst, src, other.size(), size())) return false;
  const auto& scale = MUL[std::clamp(dstStrength, 0, 255)];
  auto scaled = [&](uint32_t p) { return (p & 0x00FFFFFFu) | (uint32_t(scale[p >> 24]) << 24); };
  bool ok = WalkPair(*this, dst, other, src, [&](TileDesc& dt, const Area& dl, const TileDesc& st, Point sl) {
    if (!st.allocated && !dt.allocated && dt.coveredBy(dl)) {
      dt.uniform = fn(scaled(dt.uniform), st.uniform);
      return true;
    }
    if (!AllocTile(dt)) return false;
    for (int32_t j = 0; j < dl.height; ++j) {
      uint32_t* d = TileRow(dt, dl.y + j) + dl.x;
      const uint32_t* s = st.allocated ? TileRow(st, sl.y + j) + sl.x : nullptr;
      for (int32_t i = 0; i < dl.width; ++i) d[i] = fn(scaled(d[i]), s ? s[i] : st.uniform);
    }
    return true;
  });
  RecomputeOccupied();
  return ok;
}

bool CBlockVMTC::MergeFrom(const CBlockVMTC& other, PixelFn fn, int srcStrength, int dstStrength, Area src,
                           Point dst) {
  return mergeWalk(other, src, dst, dstStrength, [&](uint32_t d, uint32_t s) { return fn(d, s, srcStrength); });
}

bool CBlockVMTC::MergeCross(const CBlockVMTC& other, const SCrossMerge& rec, int srcStrength, int dstStrength,
                            Area src, Point dst) {
  if (!rec.merge) return false;
  return mergeWalk(other, src, dst, dstStrength,
                   [&](uint32_t d, uint32_t s) { return rec.merge(rec, d, s, srcStrength); });
}

bool CBlockVMTC::XorArea(Area a, uint32_t value) {
  if (!valid || !ClipArea(a)) return false;
  bool ok = Walk(a, [&](TileDesc& t, const Area& l, Point) {
    if (!t.allocated && t.coveredBy(l)) {
      t.uniform ^= value;
      return true;
    }
    if (!AllocTile(t)) return false;
    for (int32_t j = 0; j < l.height; ++j) {
      uint32_t* d = TileRow(t, l.y + j) + l.x;
      for (int32_t i = 0; i < l.width; ++i) d[i] ^= value;
    }
    return true;
  });
  RecomputeOccupied();
  return ok;
}

bool CBlockVMTC::SetMasked(Area a, uint32_t mask, uint32_t value) {
  if (!valid || !ClipArea(a)) return false;
  const uint32_t v = value & mask, keep = ~mask;
  bool ok = Walk(a, [&](TileDesc& t, const Area& l, Point) {
    if (!t.allocated && t.coveredBy(l)) {
      t.uniform = v | (t.uniform & keep);
      return true;
    }
    if (!AllocTile(t)) return false;
    for (int32_t j = 0; j < l.height; ++j) {
      uint32_t* d = TileRow(t, l.y + j) + l.x;
      for (int32_t i = 0; i < l.width; ++i) d[i] = v | (d[i] & keep);
    }
    return true;
  });
  RecomputeOccupied();
  return ok;
}

bool CBlockVMTC::SetAll(uint32_t value) {
  if (!valid) return false;
  // Rows without descriptors take the value at once; tiles with memory keep
  // it, filled, until a compaction frees them and their rows.
  blankUniform = value;
  for (int32_t r = 0; r < tilesDown; ++r) {
    TileDesc* row = rowOf(r);
    if (!row) continue;
    for (int32_t c = 0; c < tilesAcross; ++c) {
      TileDesc& t = row[c];
      if (t.allocated) fillTile(t, value);
      t.uniform = value;
    }
  }
  RecomputeOccupied();
  return true;
}

bool CBlockVMTC::flipThrough(Area a, void (TMTC::*op)()) {
  if (!valid || !ClipArea(a)) return false;
  TMTC tmp;
  if (!tmp.Resize(a.width, a.height)) return false;
  ReadInto(tmp, {0, 0}, false, 255, a);
  (tmp.*op)();
  bool ok = WriteFrom(tmp, {a.x, a.y}, 255, Area(tmp.size()));
  Compact();
  RecomputeOccupied();
  return ok;
}

bool CBlockVMTC::FlipHorizontal(Area a) { return flipThrough(a, &TMTC::FlipHorizontal); }
bool CBlockVMTC::FlipVertical(Area a) { return flipThrough(a, &TMTC::FlipVertical); }
bool CBlockVMTC::Rotate180(Area a) { return flipThrough(a, &TMTC::Rotate180); }

bool CBlockVMTC::Rotate90Into(TMTC& buf, bool clockwise) const {
  if (!valid || !buf.Resize(height, width)) return false;
  for (int32_t y = 0; y < buf.height; ++y) {
    uint32_t* d = buf.Row(y);
    for (int32_t x = 0; x < buf.width; ++x) d[x] = clockwise ? Pixel(y, height - 1 - x) : Pixel(width - 1 - y, x);
  }
  return true;
}

bool CBlockVMTC::Rotate90To(CBlockVMTC& other, Point offset, bool clockwise) const {
  if (!valid || !other.valid) return false;
  bool ok = other.Walk(Area(offset.x, offset.y, height, width), [&](TileDesc& t, const Area& l, Point p) {
    if (!other.AllocTile(t)) return false;
    for (int32_t j = 0; j < l.height; ++j) {
      uint32_t* d = other.TileRow(t, l.y + j) + l.x;
      const int32_t y = p.y - offset.y + j;
      for (int32_t i = 0; i < l.width; ++i) {
        const int32_t x = p.x - offset.x + i;
        d[i] = clockwise ? Pixel(y, height - 1 - x) : Pixel(width - 1 - y, x);
      }
    }
    return true;
  });
  other.Compact();
  other.RecomputeOccupied();
  return ok;
}

bool CBlockVMTC::SetPixel(int32_t x, int32_t y, uint32_t value) {
  uint32_t* p = PixelAddress(x, y);
  if (!p) return false;
  *p = value;
  return true;
}

uint32_t* CBlockVMTC::PixelAddress(int32_t x, int32_t y) {
  TileDesc* row = materialize(y >> 5);
  if (!row) return nullptr;
  TileDesc& t = row[x >> 5];
  if (!AllocTile(t)) return nullptr;
  return TileRow(t, y & 31) + (x & 31);
}

bool CBlockVMTC::PixelChecked(int32_t x, int32_t y, uint32_t& out) const {
  if (!valid || !Contains(x, y)) return false;
  out = Pixel(x, y);
  return true;
}

bool CBlockVMTC::SetPixelChecked(int32_t x, int32_t y, uint32_t value) {
  return valid && Contains(x, y) && SetPixel(x, y, value);
}

uint32_t* CBlockVMTC::PixelAddressChecked(int32_t x, int32_t y) {
  return valid && Contains(x, y) ? PixelAddress(x, y) : nullptr;
}

uint32_t* CBlockVMTC::PixelAddressClamped(int32_t x, int32_t y) {
  if (!valid) return nullptr;
  return PixelAddress(std::clamp(x, 0, width - 1), std::clamp(y, 0, height - 1));
}

uint32_t CBlockVMTC::PixelClamped(int32_t x, int32_t y) const {
  if (!valid) return defaultUniform;
  return Pixel(std::clamp(x, 0, width - 1), std::clamp(y, 0, height - 1));
}

void CBlockVMTC::sumRowClamped(int32_t y, int32_t x0, int32_t n, uint64_t sum[4]) const {
  auto add = [sum](uint32_t p, uint64_t times) {
    sum[0] += (p & 0xFF) * times;
    sum[1] += ((p >> 8) & 0xFF) * times;
    sum[2] += ((p >> 16) & 0xFF) * times;
    sum[3] += (p >> 24) * times;
  };
  [[maybe_unused]] const bool simd = simdLevel() != SimdLevel::None;
  y = std::clamp(y, 0, height - 1);
  // Samples left and right of the image repeat its edge pixels.
  const int64_t left = std::clamp<int64_t>(-int64_t(x0), 0, n);
  const int64_t right = std::clamp<int64_t>(int64_t(x0) + n - width, 0, n - left);
  if (left) add(Pixel(0, y), uint64_t(left));
  if (right) add(Pixel(width - 1, y), uint64_t(right));
  const int32_t from = int32_t(std::max<int64_t>(x0, 0)), to = int32_t(int64_t(x0) + n - right);
  // The rest tile by tile: a uniform tile adds its colour once.
  const TileDesc* row = rowOf(y >> 5);
  if (!row) {
    if (to > from) add(blankUniform, uint64_t(to - from));
    return;
  }
  for (int32_t x = from; x < to;) {
    const TileDesc& t = row[x >> 5];
    const int32_t end = std::min(to, (x & ~31) + 32);
    if (!t.allocated) {
      add(t.uniform, uint64_t(end - x));
    } else {
      const uint32_t* p = TileRow(t, y & 31) + (x & 31);
      const int32_t n = end - x;
      int32_t i = 0;
#if defined(__SSE2__)
      if (simd) {
        // A tile row holds at most 32 pixels: 16-bit lanes cannot overflow.
        const __m128i zero = _mm_setzero_si128();
        __m128i pairs = zero;
        for (; i + 4 <= n; i += 4) {
          const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
          pairs = _mm_add_epi16(pairs, _mm_add_epi16(_mm_unpacklo_epi8(v, zero), _mm_unpackhi_epi8(v, zero)));
        }
        alignas(16) uint32_t lanes[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(lanes),
                        _mm_add_epi32(_mm_unpacklo_epi16(pairs, zero), _mm_unpackhi_epi16(pairs, zero)));
        for (int c = 0; c < 4; ++c) sum[c] += lanes[c];
      }
#endif
      for (; i < n; ++i) add(p[i], 1);
    }
    x = end;
  }
}

void CBlockVMTC::RenderReduced(TMTC& buf, Area bufArea, Area src, const Area* only) const {
  if (!valid || !buf.IsAllocated() || bufArea.empty() || src.empty()) return;
  Area target = bufArea;
  if (only) target = Area(intersect(target.bounds(), only->bounds()));
  if (target.empty()) return;
  const int32_t stepX = int32_t(int64_t(src.width) * 1024 / bufArea.width);
  const int32_t stepY = int32_t(int64_t(src.height) * 1024 / bufArea.height);
  const int32_t boxW = src.width / bufArea.width + 1, boxH = src.height / bufArea.height + 1;
  // Large reductions sum more samples than 32 bits hold.
  const uint64_t count = uint64_t(boxW) * uint64_t(boxH);
  // Each row of the buffer is its own: threads take rows when there is
  // enough to sum.
  const auto renderRow = [&](int32_t j) {
    const int32_t dy = bufArea.y + j;
    if (dy < 0 || dy >= buf.height) return;
    const int32_t sy = src.y + int32_t((int64_t(stepY) * j) >> 10);
    // Boxes over blank rows alone average to the blank value.
    const int32_t firstRow = std::clamp(sy, 0, height - 1) >> tileShift;
    const int32_t lastRow = std::clamp<int64_t>(int64_t(sy) + boxH - 1, 0, height - 1) >> tileShift;
    bool blank = true;
    for (int32_t r = firstRow; r <= lastRow && blank; ++r) blank = RowBlank(r);
    if (blank) {
      for (int32_t i = target.x - bufArea.x; i < target.right() - bufArea.x; ++i)
        if (bufArea.x + i >= 0 && bufArea.x + i < buf.width) buf.Row(dy)[bufArea.x + i] = blankUniform;
      return;
    }
    for (int32_t i = target.x - bufArea.x; i < target.right() - bufArea.x; ++i) {
      const int32_t dx = bufArea.x + i;
      if (dx < 0 || dx >= buf.width) continue;
      const int32_t sx = src.x + int32_t((int64_t(stepX) * i) >> 10);
      uint64_t sum[4] = {0, 0, 0, 0};
      for (int32_t b = 0; b < boxH; ++b) sumRowClamped(sy + b, sx, boxW, sum);
      buf.Row(dy)[dx] = uint32_t(((sum[3] / count) << 24) | ((sum[2] / count) << 16) | ((sum[1] / count) << 8) |
                                 (sum[0] / count));
    }
  };
  const int32_t j0 = target.y - bufArea.y;
  if (target.height > 1 && count * uint64_t(target.width) * uint64_t(target.height) >= kSharedReduction) {
    corePool().Run(target.height, [&](int32_t k) { renderRow(j0 + k); });
  } else {
    for (int32_t k = 0; k < target.height; ++k) renderRow(j0 + k);
  }
}

bool CBlockVMTC::Resample4x4(CBlockVMTC& target) const {
  if (!valid || !target.valid) return false;
  const int32_t tw = target.width, th = target.height;
  const int64_t sx = int64_t(width) * 1024 / tw, sy = (int64_t(height) << 10) / th;
  const int64_t qx = int64_t(width) * 256 / tw, qy = ((int64_t(height) << 10) >> 2) / th;
  bool ok = target.Walk(Area(target.size()), [&](TileDesc& t, const Area& l, Point p) {
    if (!target.AllocTile(t)) return false;
    for (int32_t j = 0; j < l.height; ++j) {
      uint32_t* d = target.TileRow(t, l.y + j) + l.x;
      const int64_t y = p.y + j;
      for (int32_t i = 0; i < l.width; ++i) {
        const int64_t x = p.x + i;
        uint32_t sum[4] = {0, 0, 0, 0};
        for (int b = 0; b < 4; ++b)
          for (int a = 0; a < 4; ++a) {
            uint32_t s = PixelClamped(int32_t((sx * x + qx * a) >> 10), int32_t((sy * y + qy * b) >> 10));
            sum[0] += s & 0xFF;
            sum[1] += (s >> 8) & 0xFF;
            sum[2] += (s >> 16) & 0xFF;
            sum[3] += s >> 24;
          }
        d[i] = ((sum[3] >> 4) << 24) | ((sum[2] >> 4) << 16) | ((sum[1] >> 4) << 8) | (sum[0] >> 4);
      }
    }
    return true;
  });
  target.Compact();
  target.RecomputeOccupied();
  return ok;
}

Bounds CBlockVMTC::ContentBounds() const {
  Bounds b{};
  for (int32_t i = 0, n = TileCount(); i < n; ++i) {
    const TileDesc* row = rowOf(i / tilesAcross);
    const TileDesc t = row ? row[i % tilesAcross] : blankTile(i % tilesAcross, i / tilesAcross);
    bool content = false;
    if (!t.allocated) {
      content = alpha(t.uniform) != 0;
    } else {
      for (int32_t y = 0; y < t.validHeight && !content; ++y) {
        const uint32_t* p = TileRow(t, y);
        uint32_t any = 0;
        for (int32_t x = 0; x < t.validWidth; ++x) any |= p[x];
        content = (any >> 24) != 0;
      }
    }
    if (content) b = unite(b, {t.x, t.y, t.x + t.validWidth, t.y + t.validHeight});
  }
  return b;
}

namespace {

// Clips a row request to the image; false when nothing of it lies inside.
bool clipRow(int32_t w, int32_t h, int32_t y, int32_t& x0, int32_t& count, int32_t& skip) {
  skip = 0;
  if (y < 0 || y >= h || count <= 0) return false;
  // In 64 bits: offsets and counts come from files.
  const int64_t first = std::max<int64_t>(x0, 0), last = std::min<int64_t>(int64_t(x0) + count, w);
  if (last <= first) return false;
  skip = int32_t(first - x0);
  x0 = int32_t(first);
  count = int32_t(last - first);
  return true;
}

}  // namespace

bool CBlockVMTC::WriteChannelRow(int32_t y, int channel, const uint8_t* bytes, int32_t x0, int32_t count) {
  int32_t skip;
  if (!valid || channel < 0 || channel > 3 || !bytes || !clipRow(width, height, y, x0, count, skip)) return false;
  const int shift = channel * 8;
  const uint32_t keep = ~(0xFFu << shift);
  return Walk(Area(x0, y, count, 1), [&](TileDesc& t, const Area& l, Point p) {
    if (!AllocTile(t)) return false;
    uint32_t* d = TileRow(t, l.y) + l.x;
    const uint8_t* s = bytes + skip + (p.x - x0);
    for (int32_t i = 0; i < l.width; ++i) d[i] = (d[i] & keep) | (uint32_t(s[i]) << shift);
    return true;
  });
}

bool CBlockVMTC::ReadChannelRow(int32_t y, int channel, uint8_t* bytes, int32_t x0, int32_t count) const {
  int32_t skip;
  if (!valid || channel < 0 || channel > 3 || !bytes || !clipRow(width, height, y, x0, count, skip)) return false;
  const int shift = channel * 8;
  return Walk(Area(x0, y, count, 1), [&](const TileDesc& t, const Area& l, Point p) {
    uint8_t* d = bytes + skip + (p.x - x0);
    if (t.allocated) {
      const uint32_t* s = TileRow(t, l.y) + l.x;
      for (int32_t i = 0; i < l.width; ++i) d[i] = uint8_t(s[i] >> shift);
    } else {
      std::memset(d, int((t.uniform >> shift) & 0xFF), size_t(l.width));
    }
    return true;
  });
}

bool CBlockVMTC::WriteBitRow(int32_t y, const uint8_t* bits, int32_t x0, int32_t count) {
  int32_t skip;
  if (!valid || !bits || !clipRow(width, height, y, x0, count, skip)) return false;
  bool ok = Walk(Area(x0, y, count, 1), [&](TileDesc& t, const Area& l, Point p) {
    if (!AllocTile(t)) return false;
    uint32_t* d = TileRow(t, l.y) + l.x;
    for (int32_t i = 0; i < l.width; ++i) {
      const int32_t k = skip + (p.x - x0) + i;
      const bool set = (bits[k >> 3] >> (7 - (k & 7))) & 1;
      d[i] = (d[i] & 0xFF000000u) | (set ? 0u : 0x00FFFFFFu);
    }
    return true;
  });
  return ok;
}

bool CBlockVMTC::AlphaTo(CBlockVCH& mask) const {
  return mask.FromAlpha(*this);
}

bool CBlockVMTC::AlphaFrom(const CBlockVCH& mask) {
  if (!valid || !mask.IsValid() || mask.size() != size()) return false;
  bool ok = WalkPair(*this, {0, 0}, mask, Area(size()), [&](TileDesc& dt, const Area& dl, const TileDesc& st, Point sl) {
    const uint32_t a = st.allocated ? 0 : (st.uniform & 0xFF) << 24;
    if (!st.allocated && !dt.allocated && dt.coveredBy(dl)) {
      dt.uniform = (dt.uniform & 0x00FFFFFFu) | a;
      return true;
    }
    if (!AllocTile(dt)) return false;
    for (int32_t j = 0; j < dl.height; ++j) {
      uint32_t* d = TileRow(dt, dl.y + j) + dl.x;
      if (st.allocated) {
        const uint8_t* s = mask.TileRow(st, sl.y + j) + sl.x;
        for (int32_t i = 0; i < dl.width; ++i) d[i] = (d[i] & 0x00FFFFFFu) | (uint32_t(s[i]) << 24);
      } else {
        for (int32_t i = 0; i < dl.width; ++i) d[i] = (d[i] & 0x00FFFFFFu) | a;
      }
    }
    return true;
  });
  RecomputeOccupied();
  return ok;
}

bool CBlockVMTC::SwapAlpha(CBlockVCH& mask) {
  if (!valid || !mask.IsValid() || mask.size() != size()) return false;
  CBlockVCH old(width, height);
  if (!old.FromAlpha(*this) || !AlphaFrom(mask)) return false;
  return mask.CopyTiles(old);
}

// ---- CBlockVCH ----

CBlockVCH::CBlockVCH(const CBlockVCH& other) : CBlockImage(other.width, other.height, 6, 1, 0) { CopyTiles(other); }

int32_t CBlockVCH::Compact() {
  int32_t freed = 0;
  for (int32_t i = 0, n = TileCount(); i < n; ++i) {
    TileDesc* row = rowOf(i / tilesAcross);
    if (!row) continue;
    TileDesc& t = row[i % tilesAcross];
    if (!t.allocated) continue;
    const uint8_t first = t.data[0];
    bool same = true;
    for (int32_t y = 0; y < t.validHeight && same; ++y) {
      const uint8_t* p = TileRow(t, y);
      uint8_t diff = 0;
      for (int32_t x = 0; x < t.validWidth; ++x) diff |= uint8_t(p[x] ^ first);
      same = diff == 0;
    }
    if (!same) continue;
    FreeTile(t);
    t.uniform = first;
    ++freed;
  }
  for (int32_t r = 0; r < tilesDown; ++r) releaseRowIfBlank(r);
  return freed;
}

bool CBlockVCH::ReadInto(TChannel& buf, Point dst, Area src) const {
  if (!valid || !buf.IsAllocated() || !clipCopy(dst, src, size(), buf.size())) return false;
  return Walk(src, [&](const TileDesc& t, const Area& l, Point p) {
    const int32_t bx = dst.x + p.x - src.x, by = dst.y + p.y - src.y;
    for (int32_t j = 0; j < l.height; ++j) {
      uint8_t* d = buf.Row(by + j) + bx;
      if (t.allocated) {
        std::memcpy(d, TileRow(t, l.y + j) + l.x, size_t(l.width));
      } else {
        std::memset(d, int(t.uniform & 0xFF), size_t(l.width));
      }
    }
    return true;
  });
}

bool CBlockVCH::WriteFrom(const TChannel& buf, Point dst, Area src) {
  if (!valid || !buf.IsAllocated() || !clipCopy(dst, src, buf.size(), size())) return false;
  return Walk(Area(dst.x, dst.y, src.width, src.height), [&](TileDesc& t, const Area& l, Point p) {
    if (!AllocTile(t)) return false;
    const int32_t bx = src.x + p.x - dst.x, by = src.y + p.y - dst.y;
    for (int32_t j = 0; j < l.height; ++j) std::memcpy(TileRow(t, l.y + j) + l.x, buf.Row(by + j) + bx, size_t(l.width));
    return true;
  });
}

bool CBlockVCH::Combine(const CBlockVCH& other, ByteFn fn) {
  if (!valid || !other.valid) return false;
  Area common(0, 0, std::min(width, other.width), std::min(height, other.height));
  return WalkPair(*this, {0, 0}, other, common, [&](TileDesc& dt, const Area& dl, const TileDesc& st, Point sl) {
    if (!st.allocated && !dt.allocated && dt.coveredBy(dl)) {
      dt.uniform = fn(uint8_t(dt.uniform), uint8_t(st.uniform));
      return true;
    }
    if (!AllocTile(dt)) return false;
    for (int32_t j = 0; j < dl.height; ++j) {
      uint8_t* d = TileRow(dt, dl.y + j) + dl.x;
      if (st.allocated) {
        const uint8_t* s = other.TileRow(st, sl.y + j) + sl.x;
        for (int32_t i = 0; i < dl.width; ++i) d[i] = fn(d[i], s[i]);
      } else {
        const uint8_t v = uint8_t(st.uniform);
        for (int32_t i = 0; i < dl.width; ++i) d[i] = fn(d[i], v);
      }
    }
    return true;
  });
}

bool CBlockVCH::FillArea(Area a, uint8_t v) {
  if (!valid || !ClipArea(a)) return false;
  return Walk(a, [&](TileDesc& t, const Area& l, Point) {
    if (t.coveredBy(l)) {
      FreeTile(t);  // the whole tile becomes one value
      t.uniform = v;
      return true;
    }
    if (!t.allocated && t.uniform == v) return true;
    if (!AllocTile(t)) return false;
    for (int32_t j = 0; j < l.height; ++j) std::memset(TileRow(t, l.y + j) + l.x, v, size_t(l.width));
    return true;
  });
}

bool CBlockVCH::XorArea(Area a, uint8_t v) {
  if (!valid || !ClipArea(a)) return false;
  return Walk(a, [&](TileDesc& t, const Area& l, Point) {
    if (!t.allocated && t.coveredBy(l)) {
      t.uniform ^= v;
      return true;
    }
    if (!AllocTile(t)) return false;
    for (int32_t j = 0; j < l.height; ++j) {
      uint8_t* d = TileRow(t, l.y + j) + l.x;
      for (int32_t i = 0; i < l.width; ++i) d[i] ^= v;
    }
    return true;
  });
}

Bounds CBlockVCH::NonZeroBounds() const {
  Bounds b{};
  for (int32_t i = 0, n = TileCount(); i < n; ++i) {
    const TileDesc* row = rowOf(i / tilesAcross);
    const TileDesc t = row ? row[i % tilesAcross] : blankTile(i % tilesAcross, i / tilesAcross);
    if (!t.allocated) {
      if (t.uniform & 0xFF) b = unite(b, {t.x, t.y, t.x + t.validWidth, t.y + t.validHeight});
      continue;
    }
    Bounds tb{t.validWidth, t.validHeight, 0, 0};
    for (int32_t y = 0; y < t.validHeight; ++y) {
      const uint8_t* p = TileRow(t, y);
      int32_t first = 0;
      while (first < t.validWidth && p[first] == 0) ++first;
      if (first == t.validWidth) continue;
      int32_t last = t.validWidth - 1;
      while (p[last] == 0) --last;
      tb.left = std::min(tb.left, first);
      tb.right = std::max(tb.right, last + 1);
      tb.top = std::min(tb.top, y);
      tb.bottom = y + 1;
    }
    if (!tb.empty()) b = unite(b, {t.x + tb.left, t.y + tb.top, t.x + tb.right, t.y + tb.bottom});
  }
  return b;
}

uint8_t CBlockVCH::PixelClamped(int32_t x, int32_t y) const {
  if (!valid) return 0;
  return Pixel(std::clamp(x, 0, width - 1), std::clamp(y, 0, height - 1));
}

bool CBlockVCH::PixelChecked(int32_t x, int32_t y, uint8_t& out) const {
  if (!valid || !Contains(x, y)) return false;
  out = Pixel(x, y);
  return true;
}

uint8_t* CBlockVCH::PixelAddress(int32_t x, int32_t y) {
  TileDesc* row = materialize(y >> 6);
  if (!row) return nullptr;
  TileDesc& t = row[x >> 6];
  if (!AllocTile(t)) return nullptr;
  return TileRow(t, y & 63) + (x & 63);
}

uint8_t* CBlockVCH::PixelAddressChecked(int32_t x, int32_t y) {
  return valid && Contains(x, y) ? PixelAddress(x, y) : nullptr;
}

bool CBlockVCH::SetPixel(int32_t x, int32_t y, uint8_t v) {
  uint8_t* p = PixelAddress(x, y);
  if (!p) return false;
  *p = v;
  return true;
}

bool CBlockVCH::SetPixelChecked(int32_t x, int32_t y, uint8_t v) { return valid && Contains(x, y) && SetPixel(x, y, v); }

void CBlockVCH::RenderReduced(TMTC& buf, Area bufArea, Area src) const {
  if (!valid || !buf.IsAllocated() || bufArea.empty() || src.empty()) return;
  const int32_t stepX = int32_t(int64_t(src.width) * 1024 / bufArea.width);
  const int32_t stepY = int32_t(int64_t(src.height) * 1024 / bufArea.height);
  const int32_t boxW = src.width / bufArea.width + 1, boxH = src.height / bufArea.height + 1;
  // Large reductions sum more samples than 32 bits hold.
  const uint64_t count = uint64_t(boxW) * uint64_t(boxH);
  for (int32_t j = 0; j < bufArea.height; ++j) {
    const int32_t dy = bufArea.y + j;
    if (dy < 0 || dy >= buf.height) continue;
    const int32_t sy = src.y + int32_t((int64_t(stepY) * j) >> 10);
    for (int32_t i = 0; i < bufArea.width; ++i) {
      const int32_t dx = bufArea.x + i;
      if (dx < 0 || dx >= buf.width) continue;
      const int32_t sx = src.x + int32_t((int64_t(stepX) * i) >> 10);
      uint64_t sum = 0;
      for (int32_t b = 0; b < boxH; ++b)
        for (int32_t a = 0; a < boxW; ++a) sum += PixelClamped(sx + a, sy + b);
      const uint32_t v = uint32_t(sum / count);
      uint32_t& d = buf.Row(dy)[dx];
      d = (d & 0xFF000000u) | (v << 16) | (v << 8) | v;
    }
  }
}

bool CBlockVCH::WriteRow(int32_t y, const uint8_t* bytes, int32_t x0, int32_t count) {
  int32_t skip;
  if (!valid || !bytes || !clipRow(width, height, y, x0, count, skip)) return false;
  return Walk(Area(x0, y, count, 1), [&](TileDesc& t, const Area& l, Point p) {
    if (!AllocTile(t)) return false;
    std::memcpy(TileRow(t, l.y) + l.x, bytes + skip + (p.x - x0), size_t(l.width));
    return true;
  });
}

bool CBlockVCH::ReadRow(int32_t y, uint8_t* bytes, int32_t x0, int32_t count) const {
  int32_t skip;
  if (!valid || !bytes || !clipRow(width, height, y, x0, count, skip)) return false;
  return Walk(Area(x0, y, count, 1), [&](const TileDesc& t, const Area& l, Point p) {
    uint8_t* d = bytes + skip + (p.x - x0);
    if (t.allocated) {
      std::memcpy(d, TileRow(t, l.y) + l.x, size_t(l.width));
    } else {
      std::memset(d, int(t.uniform & 0xFF), size_t(l.width));
    }
    return true;
  });
}

bool CBlockVCH::morph(bool grow) {
  if (!valid) return false;
  CBlockVCH out(width, height);
  if (!out.IsValid()) return false;
  auto pick = [grow](uint8_t a, uint8_t b) { return grow ? std::max(a, b) : std::min(a, b); };
  // A tile whose neighbourhood is one uniform value stays that value.
  auto tileAt = [&](int32_t c, int32_t r) {
    const TileDesc* row = rowOf(r);
    return row ? row[c] : blankTile(c, r);
  };
  auto sameAround = [&](int32_t c, int32_t r, uint8_t& v) {
    const TileDesc t = tileAt(c, r);
    if (t.allocated) return false;
    v = uint8_t(t.uniform);
    for (int32_t rr = std::max(0, r - 1); rr <= std::min(tilesDown - 1, r + 1); ++rr)
      for (int32_t cc = std::max(0, c - 1); cc <= std::min(tilesAcross - 1, c + 1); ++cc) {
        const TileDesc n = tileAt(cc, rr);
        if (n.allocated || uint8_t(n.uniform) != v) return false;
      }
    return true;
  };
  std::unique_ptr<uint8_t[]> window(new (std::nothrow) uint8_t[size_t(3) * (tileSize + 2)]);
  if (!window) return false;
  for (int32_t r = 0; r < tilesDown; ++r)
    for (int32_t c = 0; c < tilesAcross; ++c) {
      uint8_t v;
      if (sameAround(c, r, v)) {
        if (v == out.blankUniform && !out.rowOf(r)) continue;
        TileDesc* orow = out.materialize(r);
        if (!orow) return false;
        orow[c].uniform = v;
        continue;
      }
      TileDesc* orow = out.materialize(r);
      if (!orow) return false;
      TileDesc& ot = orow[c];
      if (!out.AllocTile(ot)) return false;
      // A sliding window of three source rows, one pixel wider on each side.
      const int32_t x0 = ot.x - 1, w = ot.validWidth + 2;
      auto loadRow = [&](uint8_t* dst, int32_t y) {
        y = std::clamp(y, 0, height - 1);
        for (int32_t i = 0; i < w; ++i) dst[i] = PixelClamped(x0 + i, y);
      };
      uint8_t* rowsBuf[3] = {window.get(), window.get() + w, window.get() + 2 * w};
      loadRow(rowsBuf[0], ot.y - 1);
      loadRow(rowsBuf[1], ot.y);
      for (int32_t j = 0; j < ot.validHeight; ++j) {
        loadRow(rowsBuf[2], ot.y + j + 1);
        uint8_t* d = out.TileRow(ot, j);
        for (int32_t i = 0; i < ot.validWidth; ++i) {
          uint8_t m = rowsBuf[0][i];
          for (int k = 0; k < 3; ++k)
            for (int q = 0; q < 3; ++q) m = pick(m, rowsBuf[k][i + q]);
          d[i] = m;
        }
        std::swap(rowsBuf[0], rowsBuf[1]);
        std::swap(rowsBuf[1], rowsBuf[2]);
      }
    }
  out.Compact();
  // Take the result's tiles over.
  std::swap(rows, out.rows);
  std::swap(blankUniform, out.blankUniform);
  return true;
}

bool CBlockVCH::FromAlpha(const CBlockVMTC& layer) {
  if (!valid || !layer.IsValid() || layer.size() != size()) return false;
  bool ok = WalkPair(*this, {0, 0}, layer, Area(size()), [&](TileDesc& dt, const Area& dl, const TileDesc& st, Point sl) {
    if (!AllocTile(dt)) return false;
    for (int32_t j = 0; j < dl.height; ++j) {
      uint8_t* d = TileRow(dt, dl.y + j) + dl.x;
      if (st.allocated) {
        const uint32_t* s = layer.TileRow(st, sl.y + j) + sl.x;
        for (int32_t i = 0; i < dl.width; ++i) d[i] = uint8_t(s[i] >> 24);
      } else {
        std::memset(d, int(st.uniform >> 24), size_t(dl.width));
      }
    }
    return true;
  });
  Compact();
  return ok;
}

bool CBlockVCH::FromLuminance(const CBlockVMTC& layer, bool inverted) {
  if (!valid || !layer.IsValid() || layer.size() != size()) return false;
  auto value = [inverted](uint32_t p) {
    const int y = luminance(p);
    return MUL[p >> 24][inverted ? 255 - y : y];
  };
  bool ok = WalkPair(*this, {0, 0}, layer, Area(size()), [&](TileDesc& dt, const Area& dl, const TileDesc& st, Point sl) {
    if (!AllocTile(dt)) return false;
    for (int32_t j = 0; j < dl.height; ++j) {
      uint8_t* d = TileRow(dt, dl.y + j) + dl.x;
      if (st.allocated) {
        const uint32_t* s = layer.TileRow(st, sl.y + j) + sl.x;
        for (int32_t i = 0; i < dl.width; ++i) d[i] = value(s[i]);
      } else {
        std::memset(d, value(st.uniform), size_t(dl.width));
      }
    }
    return true;
  });
  Compact();
  return ok;
}

}  // namespace vl
