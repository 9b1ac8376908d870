#include "document/layer.h"

#include <algorithm>
#include <limits>
#include <new>

#include "document/blend_modes.h"
#include "platform/clock.h"

namespace vl {
namespace {

bool fitsInt32(int64_t v) {
  return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

std::unique_ptr<CLayerData> newLayer(int32_t index, bool withOwnUndo) {
  return std::unique_ptr<CLayerData>(new (std::nothrow) CLayerData(index, withOwnUndo));
}

// Copies the part of `src` that lands inside `dst`; nothing to copy is no failure.
bool copyOverlap(CBlockVMTC& dst, const CBlockVMTC& src, Point at, Area from) {
  Point p = at;
  Area a = from;
  if (!clipCopy(p, a, src.size(), dst.size())) return true;
  return dst.CopyFrom(src, at, from);
}

// Offsets read from files may be anything: saturate rather than wrap.
int32_t sat32(int64_t v) {
  return int32_t(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

}  // namespace

std::atomic<int32_t> CLayerData::idCounter{0};

bool layerSizeAllowed(int64_t w, int64_t h) {
  if (w <= 0 || h <= 0 || w > kMaxLayerSide || h > kMaxLayerSide) return false;
  return ((w + 31) >> 5) * ((h + 31) >> 5) <= kMaxLayerTiles;
}

CLayerData::CLayerData(int32_t index_, bool withOwnUndo)
    : index(index_), id(idCounter++), random(int32_t(appClock().Milliseconds()), 0, 255), wantsOwnUndo(withOwnUndo) {}

CLayerData::~CLayerData() = default;

bool CLayerData::InitPixels(int32_t w, int32_t h, int m) {
  pixels.reset();
  if (!layerSizeAllowed(w, h)) return false;
  std::unique_ptr<CBlockVMTC> img(new (std::nothrow) CBlockVMTC(w, h));
  if (!img || !img->IsValid()) return false;
  // Every tile is still unallocated, so this only sets uniforms.
  img->SetAll(NeutralColour(m));
  pixels = std::move(img);
  offsetX = offsetY = 0;
  paperWidth = w;
  paperHeight = h;
  visible = 1;
  maskLock = 0;
  opacity = 255;
  mode = uint8_t(m);
  if (!SizeThumbnail(kThumbnailBox, kThumbnailBox)) {
    pixels.reset();
    return false;
  }
  return true;
}

bool CLayerData::InitFrom(const CLayerData& other) {
  if (this == &other || !other.pixels) return false;
  return InitPixels(other.pixels->width, other.pixels->height, other.mode) && CopyAll(other);
}

void CLayerData::CopyAttributes(const CLayerData& other) {
  if (this == &other) return;
  // A name that cannot be copied (out of memory) is left empty.
  try {
    name = other.name;
  } catch (...) {
    name.clear();
  }
  visible = other.visible;
  opacity = other.opacity;
  maskLock = other.maskLock;
  mode = other.mode;
  dissolve = other.dissolve;
  dissolveAmount = other.dissolveAmount;
  random = other.random;
}

bool CLayerData::CopyAll(const CLayerData& other) {
  if (this == &other) return true;
  if (!pixels || !other.pixels) return false;
  bool ok = pixels->CopyTiles(*other.pixels);
  if (other.thumbnail.IsAllocated()) {
    if (thumbnail.Resize(other.thumbnail.width, other.thumbnail.height)) {
      thumbnail.Copy({0, 0}, other.thumbnail, other.thumbnail.area());
      thumbnailRuns = other.thumbnailRuns;
    } else {
      ok = false;
    }
  }
  CopyAttributes(other);
  offsetX = other.offsetX;
  offsetY = other.offsetY;
  paperWidth = other.paperWidth;
  paperHeight = other.paperHeight;
  // The own undo's records are copied here once it exists.
  return ok;
}

std::unique_ptr<CLayerData> CLayerData::CroppedCopy(Size size, Point shift) const {
  if (!pixels) return nullptr;
  const int64_t ox = int64_t(offsetX) + shift.x, oy = int64_t(offsetY) + shift.y;
  if (!fitsInt32(ox) || !fitsInt32(oy)) return nullptr;
  std::unique_ptr<CLayerData> copy = newLayer(index, wantsOwnUndo);
  if (!copy || !copy->InitPixels(size.width, size.height, mode)) return nullptr;
  copy->offsetX = int32_t(ox);
  copy->offsetY = int32_t(oy);
  copy->paperWidth = paperWidth;
  copy->paperHeight = paperHeight;
  if (!copyOverlap(*copy->pixels, *pixels, shift, Area(pixels->size()))) return nullptr;
  return copy;
}

Bounds CLayerData::Extent() const {
  const Size s = ImageSize();
  return {sat32(-int64_t(offsetX)), sat32(-int64_t(offsetY)), sat32(int64_t(s.width) - offsetX),
          sat32(int64_t(s.height) - offsetY)};
}

bool CLayerData::IsLargerThanPaper() const {
  const Size s = ImageSize();
  return paperWidth < s.width || paperHeight < s.height;
}

bool CLayerData::ClampOffset(bool apply) {
  const Size s = ImageSize();
  const int32_t maxX = sat32(int64_t(s.width) - paperWidth), maxY = sat32(int64_t(s.height) - paperHeight);
  const bool inside = offsetX >= 0 && offsetX <= maxX && offsetY >= 0 && offsetY <= maxY;
  if (apply) {
    // Upper limit first: an image smaller than the paper ends at offset 0.
    offsetX = std::max(0, std::min(offsetX, maxX));
    offsetY = std::max(0, std::min(offsetY, maxY));
  }
  return inside;
}

int CLayerData::OffsetGrowMask(int32_t dx, int32_t dy) const {
  const Bounds e = Extent();
  int grow = 0;
  if (int64_t(e.left) + dx > 0 || int64_t(e.right) + dx < paperWidth) grow |= 1;
  if (int64_t(e.top) + dy > 0 || int64_t(e.bottom) + dy < paperHeight) grow |= 2;
  return grow;
}

std::unique_ptr<CLayerData> CLayerData::GrownCopy(int32_t dx, int32_t dy) {
  if (!pixels) return nullptr;
  const int grow = OffsetGrowMask(dx, dy);
  int64_t w = pixels->width, h = pixels->height;
  int64_t ox = offsetX, oy = offsetY;
  Point at{0, 0};
  // A positive move uncovers the left (top): the pixels shift right and the
  // offset stays. A negative one uncovers the right: the pixels stay and the
  // offset takes the move.
  if (grow & 1) {
    w += dx < 0 ? -int64_t(dx) : int64_t(dx);
    if (dx > 0) at.x = dx; else ox -= dx;
  } else {
    ox -= dx;
  }
  if (grow & 2) {
    h += dy < 0 ? -int64_t(dy) : int64_t(dy);
    if (dy > 0) at.y = dy; else oy -= dy;
  } else {
    oy -= dy;
  }
  if (!layerSizeAllowed(w, h) || !fitsInt32(ox) || !fitsInt32(oy)) return nullptr;
  pixels->Compact();
  std::unique_ptr<CLayerData> copy = newLayer(index, wantsOwnUndo);
  if (!copy || !copy->InitPixels(int32_t(w), int32_t(h), mode)) return nullptr;
  copy->CopyAttributes(*this);
  copy->id = id;
  copy->offsetX = int32_t(ox);
  copy->offsetY = int32_t(oy);
  copy->paperWidth = paperWidth;
  copy->paperHeight = paperHeight;
  if (!copyOverlap(*copy->pixels, *pixels, at, Area(pixels->size()))) return nullptr;
  return copy;
}

std::unique_ptr<CLayerData> CLayerData::PaperCopy() const {
  if (!pixels || !IsLargerThanPaper()) return nullptr;
  std::unique_ptr<CLayerData> copy = newLayer(index, wantsOwnUndo);
  if (!copy || !copy->InitPixels(paperWidth, paperHeight, mode)) return nullptr;
  if (!copyOverlap(*copy->pixels, *pixels, {0, 0}, Area(offsetX, offsetY, paperWidth, paperHeight))) return nullptr;
  copy->pixels->Compact();
  copy->CopyAttributes(*this);
  copy->id = id;
  return copy;
}

bool CLayerData::SizeThumbnail(int32_t boxWidth, int32_t boxHeight) {
  int64_t w = boxWidth, h = boxHeight;
  if (paperWidth > 0 && paperHeight > 0) {
    if (paperHeight < paperWidth) {
      h = int64_t(boxWidth) * paperHeight / paperWidth;
    } else {
      w = int64_t(boxHeight) * paperWidth / paperHeight;
    }
  }
  // A very long paper would round one side down to nothing.
  w = std::max<int64_t>(w, 1);
  h = std::max<int64_t>(h, 1);
  thumbnailRuns.clear();
  if (w > kMaxLayerSide || h > kMaxLayerSide || !thumbnail.Resize(int32_t(w), int32_t(h))) return false;
  thumbnail.Fill(0x00FFFFFFu);
  return true;
}

void CLayerData::RenderThumbnail() {
  thumbnailRuns.clear();
  if (!pixels || !thumbnail.IsAllocated()) return;
  pixels->RenderReduced(thumbnail, thumbnail.area(), Area(offsetX, offsetY, paperWidth, paperHeight));
}

void CLayerData::DeferThumbnailRuns(const std::vector<Area>& runs) {
  if (!thumbnail.IsAllocated()) return;
  // Past a few hundred runs the whole thumbnail is one.
  constexpr size_t kMostRuns = 256;
  for (const Area& run : runs) {
    if (run.empty()) continue;
    if (thumbnailRuns.size() >= kMostRuns) {
      thumbnailRuns.assign(1, thumbnail.area());
      return;
    }
    thumbnailRuns.push_back(run);
  }
}

const TMTC& CLayerData::Thumbnail() const {
  if (thumbnailRuns.empty()) return thumbnail;
  // Bringing the picture of the pixels up to date changes nothing a reader
  // of the layer could tell apart.
  CLayerData& self = const_cast<CLayerData&>(*this);
  if (pixels && thumbnail.IsAllocated())
    for (const Area& run : thumbnailRuns)
      pixels->RenderReduced(self.thumbnail, thumbnail.area(), Area(offsetX, offsetY, paperWidth, paperHeight), &run);
  thumbnailRuns.clear();
  return thumbnail;
}

bool CLayerData::SetAlpha(uint8_t value) { return pixels && pixels->SetAlpha(Area(pixels->size()), value); }

bool CLayerData::InvertAlpha() { return pixels && pixels->XorAll(0xFF000000u); }

int64_t CLayerData::MemoryUsed() const {
  return (pixels ? pixels->AllocatedBytes() : 0) + (thumbnail.IsAllocated() ? thumbnail.ByteSize() : 0);
}

void CLayerData::FreePixels() {
  pixels.reset();
  thumbnail.Free();
  thumbnailRuns.clear();
  visible = 0;
}

}  // namespace vl
