#include "selection/mask.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

#include "platform/strings.h"
#include "platform/ui_services.h"

namespace vl {
namespace {

// Papers replay on several threads at once when files are exported.
std::atomic<int32_t> gMaskIdCounter{0};
constexpr int32_t kThumbnailSide = 33;

// A new all-zero channel; none for a refused size or when memory runs out.
std::unique_ptr<CBlockVCH> newChannel(int64_t w, int64_t h) {
  if (w <= 0 || h <= 0 || w > kMaxMaskSide || h > kMaxMaskSide) return nullptr;
  std::unique_ptr<CBlockVCH> c(new (std::nothrow) CBlockVCH(int32_t(w), int32_t(h)));
  if (!c || !c->IsValid()) return nullptr;
  return c;
}

std::unique_ptr<CBlockVCH> copyChannel(const CBlockVCH& src) {
  std::unique_ptr<CBlockVCH> c = newChannel(src.width, src.height);
  if (!c || !c->CopyTiles(src)) return nullptr;
  return c;
}

// Per-byte operations of the placements below. kCopy marks the one whose
// result ignores the destination, so whole covered tiles simply take it.
struct CopyOp {
  static constexpr bool kCopy = true;
  uint8_t operator()(uint8_t, uint8_t s) const { return s; }
};
struct MaxOp {
  static constexpr bool kCopy = false;
  uint8_t operator()(uint8_t d, uint8_t s) const { return std::max(d, s); }
};
struct ProductOp {
  static constexpr bool kCopy = false;
  uint8_t operator()(uint8_t d, uint8_t s) const { return uint8_t(mul8(d, s)); }
};
// What subtracting s leaves of d.
struct SubtractOp {
  static constexpr bool kCopy = false;
  uint8_t operator()(uint8_t d, uint8_t s) const { return std::min<uint8_t>(d, uint8_t(255 - s)); }
};

// dst := op(dst, src) where src lies with its (0, 0) at `at` in dst; clipped.
template <class Op>
bool placeInto(CBlockVCH& dst, Point at, const CBlockVCH& src, Op op) {
  Area from(src.size());
  if (!clipCopy(at, from, src.size(), dst.size())) return true;
  return WalkPair(dst, at, src, from, [&](TileDesc& dt, const Area& dl, const TileDesc& st, Point sl) {
    if (!st.allocated && dt.coveredBy(dl)) {
      if (Op::kCopy) {
        dst.FreeTile(dt);
        dt.uniform = st.uniform;
        return true;
      }
      if (!dt.allocated) {
        dt.uniform = op(uint8_t(dt.uniform), uint8_t(st.uniform));
        return true;
      }
    }
    if (!st.allocated && !dt.allocated && op(uint8_t(dt.uniform), uint8_t(st.uniform)) == uint8_t(dt.uniform))
      return true;
    if (!dst.AllocTile(dt)) return false;
    for (int32_t j = 0; j < dl.height; ++j) {
      uint8_t* d = dst.TileRow(dt, dl.y + j) + dl.x;
      if (st.allocated) {
        const uint8_t* s = src.TileRow(st, sl.y + j) + sl.x;
        for (int32_t i = 0; i < dl.width; ++i) d[i] = op(d[i], s[i]);
      } else {
        const uint8_t v = uint8_t(st.uniform);
        for (int32_t i = 0; i < dl.width; ++i) d[i] = op(d[i], v);
      }
    }
    return true;
  });
}

// The smallest rectangle holding both, in 64 bits.
struct Rect64 {
  int64_t x = 0, y = 0, w = 0, h = 0;
};
Rect64 unionOf(const Area& a, const Area& b) {
  const int64_t l = std::min<int64_t>(a.x, b.x), t = std::min<int64_t>(a.y, b.y);
  const int64_t r = std::max<int64_t>(int64_t(a.x) + a.width, int64_t(b.x) + b.width);
  const int64_t bt = std::max<int64_t>(int64_t(a.y) + a.height, int64_t(b.y) + b.height);
  return {l, t, r - l, bt - t};
}

bool originAllowed(int64_t x, int64_t y) {
  return x >= -kMaxMaskOrigin && x <= kMaxMaskOrigin && y >= -kMaxMaskOrigin && y <= kMaxMaskOrigin;
}

// A mask over `channel` whose (0, 0) covers paper point (x, y).
std::unique_ptr<CMaskData> maskOver(std::unique_ptr<CBlockVCH> channel, int64_t x, int64_t y) {
  if (!channel || !originAllowed(-x, -y)) return nullptr;
  auto m = std::make_unique<CMaskData>(0);
  m->channel = std::move(channel);
  m->originX = int32_t(-x);
  m->originY = int32_t(-y);
  return m;
}

// Bounds of the blocks that are not uniformly 0.
Bounds occupiedBlocks(const CBlockVCH& c) {
  Bounds b{};
  for (int32_t r = 0; r < c.tilesDown; ++r)
    for (int32_t col = 0; col < c.tilesAcross; ++col) {
      const TileDesc& t = *c.Tile(col, r);
      if (!t.allocated && uint8_t(t.uniform) == 0) continue;
      b = unite(b, {t.x, t.y, t.x + t.validWidth, t.y + t.validHeight});
    }
  return b;
}

Size thumbnailSize(Size paper) {
  if (paper.width <= 0 || paper.height <= 0) return {1, 1};
  if (paper.height < paper.width)
    return {kThumbnailSide, std::max<int32_t>(1, int32_t(int64_t(paper.height) * kThumbnailSide / paper.width))};
  return {std::max<int32_t>(1, int32_t(int64_t(paper.width) * kThumbnailSide / paper.height)), kThumbnailSide};
}

}  // namespace

// ---- one mask ----

CMaskData::CMaskData(int32_t index_) : index(index_), id(gMaskIdCounter++) { thumbnail.Resize(1, 1); }

CMaskData::CMaskData(int32_t index_, int32_t w, int32_t h) : CMaskData(index_) { channel = newChannel(w, h); }

CMaskData::CMaskData(const CMaskData& other)
    : index(other.index), id(gMaskIdCounter++), name(other.name), originX(other.originX), originY(other.originY) {
  if (other.HasChannel()) channel = copyChannel(*other.channel);
  if (thumbnail.Resize(other.thumbnail.width, other.thumbnail.height))
    for (int32_t y = 0; y < thumbnail.height; ++y)
      std::memcpy(thumbnail.Row(y), other.thumbnail.Row(y), size_t(thumbnail.width) * 4);
}

int32_t CMaskData::NextId() { return gMaskIdCounter.load(); }

bool CMaskData::createMask(int32_t w, int32_t h) {
  channel.reset();
  channel = newChannel(w, h);
  if (!channel) ui().Warning(text(TextId::MaskCreateFailed));
  return HasChannel();
}

Area CMaskData::PaperRect() const {
  const Size s = ChannelSize();
  return {-originX, -originY, s.width, s.height};
}

bool CMaskData::InsidePaper(Size paper) const {
  if (!HasChannel()) return true;
  const Area r = PaperRect();
  return r.x >= 0 && r.y >= 0 && int64_t(r.x) + r.width <= paper.width && int64_t(r.y) + r.height <= paper.height;
}

int CMaskData::ValueAtPaper(int32_t px, int32_t py) const {
  if (!HasChannel()) return -1;
  const int64_t mx = int64_t(px) + originX, my = int64_t(py) + originY;
  if (mx < 0 || my < 0 || mx >= channel->width || my >= channel->height) return -1;
  return channel->Pixel(int32_t(mx), int32_t(my));
}

uint8_t CMaskData::ValueAtMask(int32_t mx, int32_t my, int weight) const {
  if (!HasChannel() || !channel->Contains(mx, my)) return 0;
  return MUL[channel->Pixel(mx, my)][std::clamp(weight, 0, 255)];
}

Bounds CMaskData::NonZeroPaperBounds() const {
  if (!HasChannel()) return {};
  const Bounds b = channel->NonZeroBounds();
  if (b.empty()) return {};
  return {b.left - originX, b.top - originY, b.right - originX, b.bottom - originY};
}

Bounds CMaskData::OccupiedBlocks() const { return HasChannel() ? occupiedBlocks(*channel) : Bounds{}; }

bool CMaskData::FromLayerBrightness(const CBlockVMTC& layer, Point layerOffset, bool invert) {
  std::unique_ptr<CBlockVCH> c = newChannel(layer.width, layer.height);
  if (!c || !c->FromLuminance(layer, invert)) return false;
  channel = std::move(c);
  originX = layerOffset.x;
  originY = layerOffset.y;
  return true;
}

bool CMaskData::FromLayerAlpha(const CBlockVMTC& layer, Point layerOffset) {
  std::unique_ptr<CBlockVCH> c = newChannel(layer.width, layer.height);
  if (!c || !c->FromAlpha(layer)) return false;
  channel = std::move(c);
  originX = layerOffset.x;
  originY = layerOffset.y;
  return true;
}

namespace {

// Visits the overlap of a mask channel and a layer image: fn(layer tile,
// its piece, mask tile, the piece's place in it). Mask pixel (mx, my) lies
// over layer pixel (mx − originX + offset x, my − originY + offset y).
template <class Fn>
bool walkMaskOverLayer(const CMaskData& m, CBlockVMTC& layer, Point layerOffset, Fn&& fn) {
  if (!m.HasChannel()) return true;
  Point at{int32_t(int64_t(layerOffset.x) - m.originX), int32_t(int64_t(layerOffset.y) - m.originY)};
  Area from(m.channel->size());
  if (!clipCopy(at, from, m.channel->size(), layer.size())) return true;
  return WalkPair(layer, at, *m.channel, from, fn);
}

// Sets every pixel's alpha of one layer-tile piece through fn(alpha, mask value).
template <class AlphaFn>
bool alphaPiece(CBlockVMTC& layer, const CBlockVCH& mask, TileDesc& dt, const Area& dl, const TileDesc& st, Point sl,
                AlphaFn&& fn) {
  if (!st.allocated && !dt.allocated) {
    const uint32_t u = (dt.uniform & 0x00FFFFFFu) | uint32_t(fn(int(dt.uniform >> 24), int(st.uniform & 0xFF))) << 24;
    if (u == dt.uniform) return true;
    if (dt.coveredBy(dl)) {
      dt.uniform = u;
      return true;
    }
  }
  if (!layer.AllocTile(dt)) return false;
  for (int32_t j = 0; j < dl.height; ++j) {
    uint32_t* d = layer.TileRow(dt, dl.y + j) + dl.x;
    const uint8_t* s = st.allocated ? mask.TileRow(st, sl.y + j) + sl.x : nullptr;
    const int uniformValue = int(st.uniform & 0xFF);
    for (int32_t i = 0; i < dl.width; ++i) {
      const int m = s ? s[i] : uniformValue;
      d[i] = (d[i] & 0x00FFFFFFu) | uint32_t(fn(int(d[i] >> 24), m)) << 24;
    }
  }
  return true;
}

// Applies fn(alpha, mask value) over the overlap of the mask and the layer.
template <class AlphaFn>
bool alphaThroughMask(const CMaskData& m, CBlockVMTC& layer, Point layerOffset, AlphaFn&& fn) {
  const bool ok = walkMaskOverLayer(m, layer, layerOffset, [&](TileDesc& dt, const Area& dl, const TileDesc& st, Point sl) {
    return alphaPiece(layer, *m.channel, dt, dl, st, sl, fn);
  });
  layer.RecomputeOccupied();
  return ok;
}

}  // namespace

int cutAlpha(int a, int m) {
  if (m == 0) return a;
  if (m == 255) return 0;
  if (a == 255) return 255 - m;
  return (255 - m) * a * 255 / (65025 - a * m);
}

bool CMaskData::ApplyToLayerAlpha(CBlockVMTC& layer, Point layerOffset, AlphaRule rule) const {
  bool ok = false;
  switch (rule) {
    case AlphaRule::Replace: ok = alphaThroughMask(*this, layer, layerOffset, [](int, int m) { return m; }); break;
    case AlphaRule::Multiply:
      ok = alphaThroughMask(*this, layer, layerOffset, [](int a, int m) { return int(MUL[a][m]); });
      break;
    case AlphaRule::Cut: ok = alphaThroughMask(*this, layer, layerOffset, cutAlpha); break;
    case AlphaRule::Remove:
      ok = alphaThroughMask(*this, layer, layerOffset, [](int a, int m) { return int(MUL[a][255 - m]); });
      break;
  }
  layer.Compact();
  return ok;
}

bool CMaskData::CopyIntoLayerAlpha(CBlockVMTC& layer, Point layerOffset) const {
  if (!layer.SetAlpha(Area(layer.size()), 0)) return false;
  return ApplyToLayerAlpha(layer, layerOffset, AlphaRule::Replace);
}

void CMaskData::MultiplyIntoAlpha(CBlockVMTC& image, Point at) const {
  // Outside the mask's rectangle nothing is selected.
  const Area inside(int32_t(int64_t(-originX) - at.x), int32_t(int64_t(-originY) - at.y), ChannelSize().width,
                    ChannelSize().height);
  const Bounds all{0, 0, image.width, image.height};
  const Bounds in = HasChannel() ? intersect(all, inside.bounds()) : Bounds{};
  if (in.empty()) {
    image.SetAlpha(Area(image.size()), 0);
  } else {
    const Area outside[4] = {Area(0, 0, image.width, in.top), Area(0, in.bottom, image.width, image.height - in.bottom),
                             Area(0, in.top, in.left, in.bottom - in.top),
                             Area(in.right, in.top, image.width - in.right, in.bottom - in.top)};
    for (const Area& a : outside)
      if (!a.empty()) image.SetAlpha(a, 0);
    ApplyToLayerAlpha(image, {-at.x, -at.y}, AlphaRule::Multiply);
  }
  image.Compact();
}

void CMaskData::UpdateThumbnail(Size paper) {
  const Size s = thumbnailSize(paper);
  if (thumbnail.width != s.width || thumbnail.height != s.height) {
    if (!thumbnail.Resize(s.width, s.height)) return;
  }
  thumbnail.Fill(0xFF000000u);
  if (!HasChannel() || paper.width <= 0 || paper.height <= 0) return;
  // A few samples per thumbnail pixel are plenty for a picture this small.
  constexpr int kSamples = 8;
  for (int32_t ty = 0; ty < s.height; ++ty) {
    uint32_t* row = thumbnail.Row(ty);
    const int64_t y0 = int64_t(ty) * paper.height / s.height, y1 = int64_t(ty + 1) * paper.height / s.height;
    for (int32_t tx = 0; tx < s.width; ++tx) {
      const int64_t x0 = int64_t(tx) * paper.width / s.width, x1 = int64_t(tx + 1) * paper.width / s.width;
      uint32_t sum = 0, count = 0;
      for (int j = 0; j < kSamples; ++j) {
        const int64_t py = y0 + (std::max<int64_t>(y1 - y0, 1) * j) / kSamples;
        for (int i = 0; i < kSamples; ++i) {
          const int64_t px = x0 + (std::max<int64_t>(x1 - x0, 1) * i) / kSamples;
          sum += uint32_t(std::max(ValueAtPaper(int32_t(px), int32_t(py)), 0));
          ++count;
        }
      }
      const uint32_t v = sum / count;
      row[tx] = 0xFF000000u | v * 0x010101u;
    }
  }
}

int64_t CMaskData::MemoryUsed() const { return HasChannel() ? channel->AllocatedBytes() : 0; }

// ---- the manager ----

CMaskMngr::CMaskMngr(int32_t initialCapacity) {
  masks.reserve(size_t(std::max(initialCapacity, 1)));
  masks.push_back(std::make_unique<CMaskData>(0));
  masks[0]->name = nextName();
}

std::string CMaskMngr::nextName() {
  ++nameCounter;
  return std::string(text(TextId::MaskDefaultName)) + std::to_string(nameCounter);
}

void CMaskMngr::renumber() {
  for (size_t i = 0; i < masks.size(); ++i) masks[i]->index = int32_t(i);
  if (current >= Count()) current = Count() - 1;
  if (current < 0) current = 0;
  if (outlineIndex >= Count()) outlineIndex = -1;
}

void CMaskMngr::SetPaperSize(Size p) {
  paper = p;
  for (auto& m : masks) m->UpdateThumbnail(paper);
}

int32_t CMaskMngr::SetCurrent(int32_t i) {
  if (i == Count() && AddEmpty(i) < 0) return current;
  if (IsValid(i)) current = i;
  return current;
}

int32_t CMaskMngr::AddEmpty(int32_t i) {
  i = Resolve(i);
  if (i < 0 || i > Count()) return -1;
  auto m = std::make_unique<CMaskData>(i);
  m->name = nextName();
  m->UpdateThumbnail(paper);
  masks.insert(masks.begin() + i, std::move(m));
  renumber();
  return i;
}

int32_t CMaskMngr::InsertGiven(int32_t i, std::unique_ptr<CMaskData>& mask) {
  if (!mask || i < 0 || i > Count()) return -1;
  masks.insert(masks.begin() + i, std::move(mask));
  renumber();
  return i;
}

int32_t CMaskMngr::Duplicate(int32_t i) {
  if (!IsValid(i)) return -1;
  auto copy = std::make_unique<CMaskData>(*masks[size_t(i)]);
  if (masks[size_t(i)]->HasChannel() && !copy->HasChannel()) return -1;
  masks.insert(masks.begin() + i, std::move(copy));
  renumber();
  return i;
}

bool CMaskMngr::Move(int32_t from, int32_t to) {
  if (!IsValid(from) || !IsValid(to) || from == to) return false;
  auto m = std::move(masks[size_t(from)]);
  masks.erase(masks.begin() + from);
  masks.insert(masks.begin() + to, std::move(m));
  renumber();
  return true;
}

std::unique_ptr<CMaskData> CMaskMngr::Detach(int32_t i) {
  if (!IsValid(i)) return nullptr;
  auto m = std::move(masks[size_t(i)]);
  masks.erase(masks.begin() + i);
  if (outlineIndex == i) outlineIndex = -1;
  renumber();
  return m;
}

std::unique_ptr<CMaskData> CMaskMngr::Replace(int32_t i, std::unique_ptr<CMaskData> mask) {
  if (!mask) return nullptr;
  if (!IsValid(i)) {
    masks.push_back(std::move(mask));
    renumber();
    return nullptr;
  }
  std::swap(masks[size_t(i)], mask);
  renumber();
  return mask;
}

std::unique_ptr<CMaskData> CMaskMngr::Clear(int32_t i) {
  if (!IsValid(i)) return nullptr;
  auto m = std::make_unique<CMaskData>(i);
  m->name = masks[size_t(i)]->name;
  m->UpdateThumbnail(paper);
  return Replace(i, std::move(m));
}

std::unique_ptr<CMaskData> CMaskMngr::Install(int32_t i, std::unique_ptr<CMaskData> made) {
  i = Resolve(i);
  if (!made || !IsValid(i)) return nullptr;
  made->name = masks[size_t(i)]->name;
  if (made->HasChannel()) made->channel->Compact();
  made->UpdateThumbnail(paper);
  return Replace(i, std::move(made));
}

namespace {

// What lies on the paper of a mask: a paper-sized channel, origin (0, 0).
std::unique_ptr<CMaskData> trimmed(const CMaskData& m, Size paper) {
  auto c = newChannel(paper.width, paper.height);
  if (!c) return nullptr;
  if (!placeInto(*c, {-m.originX, -m.originY}, *m.channel, CopyOp{})) return nullptr;
  return maskOver(std::move(c), 0, 0);
}

// After an add that reaches past the paper: the content's top-left becomes
// the channel's, empty borders go, and the channel still covers a paper's size.
std::unique_ptr<CMaskData> rebased(std::unique_ptr<CMaskData> m, Size paper) {
  if (!m->HasChannel() || m->InsidePaper(paper)) return m;
  const Bounds b = m->NonZeroPaperBounds();
  if (b.empty()) {
    auto t = trimmed(*m, paper);
    return t ? std::move(t) : nullptr;
  }
  const int64_t w = std::max<int64_t>(int64_t(b.right) - b.left, paper.width);
  const int64_t h = std::max<int64_t>(int64_t(b.bottom) - b.top, paper.height);
  auto c = newChannel(w, h);
  if (!c) return nullptr;
  const Point at{int32_t(-(int64_t(b.left) + m->originX)), int32_t(-(int64_t(b.top) + m->originY))};
  if (!placeInto(*c, at, *m->channel, CopyOp{})) return nullptr;
  return maskOver(std::move(c), b.left, b.top);
}

}  // namespace

std::unique_ptr<CMaskData> CMaskMngr::Built(int32_t i, const CBlockVCH& c, int mode, Point layerOffset) const {
  i = Resolve(i);
  if (!IsValid(i) || !c.IsValid() || mode < kMaskNew || mode > kMaskIntersect) return nullptr;
  if (!originAllowed(layerOffset.x, layerOffset.y)) return nullptr;
  const CMaskData& o = *masks[size_t(i)];
  const Area cr(-layerOffset.x, -layerOffset.y, c.width, c.height);
  std::unique_ptr<CMaskData> made;
  if (mode == kMaskNew || (mode == kMaskAdd && !o.HasChannel())) {
    made = maskOver(copyChannel(c), cr.x, cr.y);
  } else if (!o.HasChannel()) {
    return nullptr;  // nothing to subtract from or intersect with
  } else if (mode == kMaskSubtract) {
    made = maskOver(copyChannel(*o.channel), -int64_t(o.originX), -int64_t(o.originY));
    if (made && !placeInto(*made->channel, {int32_t(int64_t(cr.x) + o.originX), int32_t(int64_t(cr.y) + o.originY)},
                           c, SubtractOp{}))
      made.reset();
  } else {
    const Area orect = o.PaperRect();
    const Rect64 u = unionOf(orect, cr);
    made = maskOver(newChannel(u.w, u.h), u.x, u.y);
    if (made) {
      CBlockVCH& m = *made->channel;
      const Point cAt{int32_t(cr.x - u.x), int32_t(cr.y - u.y)}, oAt{int32_t(orect.x - u.x), int32_t(orect.y - u.y)};
      bool ok = placeInto(m, cAt, c, CopyOp{});
      if (mode == kMaskAdd) {
        ok = ok && placeInto(m, oAt, *o.channel, MaxOp{});
      } else {
        ok = ok && placeInto(m, oAt, *o.channel, ProductOp{});
        // Nothing outside the old mask survives an intersection.
        const Bounds in{oAt.x, oAt.y, oAt.x + orect.width, oAt.y + orect.height};
        const Area outside[4] = {Area(0, 0, m.width, in.top), Area(0, in.bottom, m.width, m.height - in.bottom),
                                 Area(0, in.top, in.left, in.bottom - in.top),
                                 Area(in.right, in.top, m.width - in.right, in.bottom - in.top)};
        for (const Area& a : outside)
          if (!a.empty()) ok = ok && m.FillArea(a, 0);
      }
      if (!ok) made.reset();
    }
    if (made && mode == kMaskAdd) {
      made->channel->Compact();
      made = rebased(std::move(made), paper);
    }
  }
  if (!made) ui().Warning(text(TextId::MaskCreateFailed));
  return made;
}

std::unique_ptr<CMaskData> CMaskMngr::Combined(int32_t dest, int32_t source, int mode) const {
  dest = Resolve(dest);
  source = Resolve(source);
  if (!IsValid(dest) || !IsValid(source) || !masks[size_t(source)]->HasChannel()) return nullptr;
  if (mode < kMaskNew || mode > kMaskIntersect) return nullptr;
  const CMaskData& s = *masks[size_t(source)];
  if (mode != kMaskNew && masks[size_t(dest)]->HasChannel()) return Built(dest, *s.channel, mode, {s.originX, s.originY});
  if (mode == kMaskSubtract || mode == kMaskIntersect) return nullptr;
  auto copy = std::make_unique<CMaskData>(s);
  if (!copy->HasChannel()) return nullptr;
  return copy;
}

bool CMaskMngr::InvertsInPlace(int32_t i) const {
  const CMaskData* m = At(Resolve(i));
  return m && m->HasChannel() && m->InsidePaper(paper);
}

bool CMaskMngr::InvertInPlace(int32_t i) {
  i = Resolve(i);
  if (!InvertsInPlace(i)) return false;
  CMaskData& m = *masks[size_t(i)];
  // Every tile is covered whole: uniform ones flip their value, none is allocated.
  m.channel->XorArea(Area(m.channel->size()), 0xFF);
  m.channel->Compact();
  ++m.revision;
  m.UpdateThumbnail(paper);
  return true;
}

std::unique_ptr<CMaskData> CMaskMngr::Extended(int32_t i) const {
  i = Resolve(i);
  if (!IsValid(i) || !masks[size_t(i)]->HasChannel()) return nullptr;
  const CMaskData& m = *masks[size_t(i)];
  // Outside the paper the rest of the paper is selected too.
  const Area mr = m.PaperRect();
  const Rect64 u = unionOf(mr, Area(paper));
  auto made = maskOver(newChannel(u.w, u.h), u.x, u.y);
  if (!made || !placeInto(*made->channel, {int32_t(mr.x - u.x), int32_t(mr.y - u.y)}, *m.channel, CopyOp{}) ||
      !made->channel->XorArea(Area(made->channel->size()), 0xFF)) {
    ui().Warning(text(TextId::MaskExtendFailed));
    return nullptr;
  }
  return made;
}

std::unique_ptr<CMaskData> CMaskMngr::Trimmed(int32_t i) const {
  const CMaskData* m = At(Resolve(i));
  if (!m || !m->HasChannel() || m->InsidePaper(paper)) return nullptr;
  return trimmed(*m, paper);
}

std::unique_ptr<CMaskData> CMaskMngr::GrownOne(int32_t i, bool grow, bool enlarge) const {
  i = Resolve(i);
  if (!IsValid(i) || !masks[size_t(i)]->HasChannel()) return nullptr;
  const CMaskData& m = *masks[size_t(i)];
  const CBlockVCH& c = *m.channel;
  const Bounds nz = c.NonZeroBounds();
  if (nz.empty()) return nullptr;
  // Content at the channel's edge would be cut off: one more pixel there.
  int32_t l = 0, t = 0, r = 0, b = 0;
  if (enlarge && grow) {
    l = nz.left == 0, t = nz.top == 0, r = nz.right == c.width, b = nz.bottom == c.height;
  }
  std::unique_ptr<CBlockVCH> src;
  const CBlockVCH* in = &c;
  if (l | t | r | b) {
    src = newChannel(int64_t(c.width) + l + r, int64_t(c.height) + t + b);
    if (!src || !placeInto(*src, {l, t}, c, CopyOp{})) return nullptr;
    in = src.get();
  }
  auto made = maskOver(newChannel(in->width, in->height), -(int64_t(m.originX) + l), -(int64_t(m.originY) + t));
  if (!made) return nullptr;
  // Only blocks with content, and for growth their one-pixel rim, can change.
  Bounds box = occupiedBlocks(*in);
  if (grow && enlarge) box = intersect({box.left - 1, box.top - 1, box.right + 1, box.bottom + 1}, {0, 0, in->width, in->height});
  if (!morphSquare(*in, *made->channel, box, grow)) return nullptr;
  return made;
}

std::unique_ptr<CMaskData> CMaskMngr::GrownBy(int32_t i, int32_t n, bool grow) const {
  i = Resolve(i);
  if (!IsValid(i) || !masks[size_t(i)]->HasChannel()) return nullptr;
  n = std::clamp(n, 1, kMaxMaskMorph);
  const CMaskData& m = *masks[size_t(i)];
  const Bounds nz = m.channel->NonZeroBounds();
  if (nz.empty()) return nullptr;
  const int32_t pad = grow ? n : 0;
  auto work = newChannel(int64_t(nz.right) - nz.left + 2 * pad, int64_t(nz.bottom) - nz.top + 2 * pad);
  auto out = work ? newChannel(work->width, work->height) : nullptr;
  if (!out || !placeInto(*work, {pad - nz.left, pad - nz.top}, *m.channel, CopyOp{}) ||
      !morphOctagon(*work, *out, n, grow))
    return nullptr;
  // The work channel's (0, 0) on the paper; what falls off the paper goes.
  const int64_t wx = int64_t(nz.left) - pad - m.originX, wy = int64_t(nz.top) - pad - m.originY;
  Area onPaper(int32_t(wx), int32_t(wy), out->width, out->height);
  if (!clipArea(onPaper, paper)) return nullptr;
  auto clipped = newChannel(onPaper.width, onPaper.height);
  if (!clipped || !placeInto(*clipped, {int32_t(wx - onPaper.x), int32_t(wy - onPaper.y)}, *out, CopyOp{})) return nullptr;
  return maskOver(std::move(clipped), onPaper.x, onPaper.y);
}

// The one-call forms: make, then install.
bool CMaskMngr::BuildFromChannel(int32_t i, const CBlockVCH& c, int mode, Point layerOffset,
                                 std::unique_ptr<CMaskData>& old) {
  return installed(i, Built(i, c, mode, layerOffset), old);
}
bool CMaskMngr::Combine(int32_t dest, int32_t source, int mode, std::unique_ptr<CMaskData>& old) {
  return installed(dest, Combined(dest, source, mode), old);
}
bool CMaskMngr::Invert(int32_t i, std::unique_ptr<CMaskData>& old) {
  if (InvertsInPlace(i)) return InvertInPlace(i);
  return installed(i, Extended(i), old);
}
bool CMaskMngr::TrimToPaper(int32_t i, std::unique_ptr<CMaskData>& old) { return installed(i, Trimmed(i), old); }
bool CMaskMngr::GrowShrinkOne(int32_t i, bool grow, bool enlarge, std::unique_ptr<CMaskData>& old) {
  return installed(i, GrownOne(i, grow, enlarge), old);
}
bool CMaskMngr::GrowShrinkBy(int32_t i, int32_t n, bool grow, std::unique_ptr<CMaskData>& old) {
  return installed(i, GrownBy(i, n, grow), old);
}

bool CMaskMngr::installed(int32_t i, std::unique_ptr<CMaskData> made, std::unique_ptr<CMaskData>& old) {
  if (!made) return false;
  old = Install(i, std::move(made));
  return true;
}

namespace {

// 4 × 4 point samples per destination pixel.
bool rescalePoints(const CBlockVCH& src, CBlockVCH& dst) {
  const int64_t w = src.width, h = src.height, w2 = dst.width, h2 = dst.height;
  const int64_t cx = 1024 * w / w2, ax = 256 * w / w2, cy = 1024 * h / h2, ay = 256 * h / h2;
  std::vector<uint8_t> row(size_t(dst.width));
  for (int32_t y = 0; y < dst.height; ++y) {
    for (int32_t x = 0; x < dst.width; ++x) {
      uint32_t sum = 0;
      for (int i = 0; i < 4; ++i) {
        const int32_t sy = int32_t(std::clamp<int64_t>((cy * y + ay * i) >> 10, 0, h - 1));
        for (int j = 0; j < 4; ++j) {
          const int32_t sx = int32_t(std::clamp<int64_t>((cx * x + ax * j) >> 10, 0, w - 1));
          sum += src.Pixel(sx, sy);
        }
      }
      row[size_t(x)] = uint8_t(sum >> 4);
    }
    if (!dst.WriteRow(y, row.data(), 0, dst.width)) return false;
  }
  return true;
}

// Exact area average in integers: destination pixel x covers [x·w, (x + 1)·w)
// and source pixel k covers [k·w', (k + 1)·w') on a common scale.
bool rescaleArea(const CBlockVCH& src, CBlockVCH& dst) {
  const int64_t w = src.width, h = src.height, w2 = dst.width, h2 = dst.height;
  std::vector<uint8_t> in(static_cast<size_t>(w)), out(static_cast<size_t>(w2));
  std::vector<uint64_t> across(static_cast<size_t>(w2));  // one source row reduced across
  std::vector<uint64_t> acc(static_cast<size_t>(w2));
  auto reduceRow = [&](int32_t sy) {
    src.ReadRow(sy, in.data(), 0, int32_t(w));
    for (int64_t x = 0; x < w2; ++x) {
      const int64_t lo = x * w, hi = lo + w;
      uint64_t s = 0;
      for (int64_t k = lo / w2; k < w && k * w2 < hi; ++k) {
        const int64_t overlap = std::min(hi, (k + 1) * w2) - std::max(lo, k * w2);
        s += uint64_t(in[size_t(k)]) * uint64_t(overlap);
      }
      across[size_t(x)] = s;
    }
  };
  int32_t reduced = -1;
  const uint64_t total = uint64_t(w) * uint64_t(h);
  for (int64_t y = 0; y < h2; ++y) {
    std::fill(acc.begin(), acc.end(), 0);
    const int64_t lo = y * h, hi = lo + h;
    for (int64_t k = lo / h2; k < h && k * h2 < hi; ++k) {
      if (reduced != int32_t(k)) {
        reduceRow(int32_t(k));
        reduced = int32_t(k);
      }
      const uint64_t overlap = uint64_t(std::min(hi, (k + 1) * h2) - std::max(lo, k * h2));
      for (int64_t x = 0; x < w2; ++x) acc[size_t(x)] += across[size_t(x)] * overlap;
    }
    for (int64_t x = 0; x < w2; ++x) out[size_t(x)] = uint8_t((acc[size_t(x)] + total / 2) / total);
    if (!dst.WriteRow(int32_t(y), out.data(), 0, int32_t(w2))) return false;
  }
  return true;
}

// One mask scaled by the 16.16 factors; none on failure. Empty masks stay empty.
std::unique_ptr<CMaskData> rescaled(const CMaskData& m, int64_t fx, int64_t fy, int kind) {
  if (!m.HasChannel()) return std::make_unique<CMaskData>(m);
  const int64_t w = std::max<int64_t>(1, (fx * m.channel->width) >> 16);
  const int64_t h = std::max<int64_t>(1, (fy * m.channel->height) >> 16);
  auto made = maskOver(newChannel(w, h), -((fx * m.originX) >> 16), -((fy * m.originY) >> 16));
  if (!made) return nullptr;
  const bool ok = kind == 1 ? rescalePoints(*m.channel, *made->channel) : rescaleArea(*m.channel, *made->channel);
  if (!ok) return nullptr;
  made->channel->Compact();
  made->name = m.name;
  made->index = m.index;
  return made;
}

}  // namespace

bool CMaskMngr::RescaleAll(Size to, int kind) {
  if (paper.width <= 0 || paper.height <= 0 || to.width <= 0 || to.height <= 0) return false;
  WaitCursor wait;
  const int64_t fx = (int64_t(to.width) << 16) / paper.width, fy = (int64_t(to.height) << 16) / paper.height;
  paper = to;
  for (auto& m : masks) {
    auto made = rescaled(*m, fx, fy, kind);
    if (!made) return false;
    m = std::move(made);
    m->UpdateThumbnail(paper);
  }
  return true;
}

std::unique_ptr<CMaskMngr> CMaskMngr::RescaledCopy(Size to, int kind) const {
  if (paper.width <= 0 || paper.height <= 0 || to.width <= 0 || to.height <= 0) return nullptr;
  WaitCursor wait;
  const int64_t fx = (int64_t(to.width) << 16) / paper.width, fy = (int64_t(to.height) << 16) / paper.height;
  auto out = std::make_unique<CMaskMngr>(Count());
  out->masks.clear();
  out->paper = to;
  out->nameCounter = nameCounter;
  out->current = current;
  for (const auto& m : masks) {
    auto made = rescaled(*m, fx, fy, kind);
    if (!made) {
      ui().Trace("makeZoomMask: Exception!");
      return nullptr;
    }
    made->UpdateThumbnail(to);
    out->masks.push_back(std::move(made));
  }
  out->renumber();
  return out;
}

int32_t CMaskMngr::FirstNonEmpty() const {
  for (int32_t i = 0; i < Count(); ++i)
    if (masks[size_t(i)]->HasChannel()) return i;
  return -1;
}

int32_t CMaskMngr::LastNonEmpty() const {
  for (int32_t i = Count() - 1; i >= 0; --i)
    if (masks[size_t(i)]->HasChannel()) return i;
  return -1;
}

bool CMaskMngr::AnyChannel() const { return FirstNonEmpty() >= 0; }

int64_t CMaskMngr::MemoryUsed() const {
  int64_t n = 0;
  for (const auto& m : masks) n += m->MemoryUsed();
  return n;
}

bool CMaskMngr::LargerThanPaper(int32_t i) const {
  const CMaskData* m = At(Resolve(i));
  return m && m->HasChannel() && (paper.width < m->channel->width || paper.height < m->channel->height);
}

}  // namespace vl
