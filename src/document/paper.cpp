#include "document/paper.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "document/blend_modes.h"
#include "platform/clock.h"
#include "platform/ui_services.h"
#include "platform/worker_pool.h"

namespace vl {
namespace {

constexpr double kZoomFactors[] = {0.06001, 0.1, 0.15, 0.25, 0.333, 0.5, 0.666, 0.75, 1.0,
                                   1.25,    1.5, 1.75, 2.0,  2.5,   3.0, 4.0,   6.0,  8.0};
// Integer stretch of each level; the shrinking ones only serve as a fallback
// until the smoothed renderers take over.
constexpr int kZoomRatios[][2] = {{6, 100}, {1, 10}, {3, 20}, {1, 4}, {1, 3}, {1, 2}, {2, 3}, {3, 4}, {1, 1},
                                  {5, 4},   {3, 2},  {7, 4},  {2, 1}, {5, 2}, {3, 1}, {4, 1}, {6, 1}, {8, 1}};

// Pixels times layers below which composing on one thread is quicker than
// waking the others.
constexpr int64_t kThreadedComposeWork = int64_t(1) << 18;
// Buffer pixels from which binding the flow image shares its rows of blocks.
constexpr int64_t kThreadedSyncPixels = int64_t(1) << 20;

}  // namespace

double zoomFactorOf(int level) {
  if (level < kMinZoomLevel || level > kMaxZoomLevel) return 1.0;
  return kZoomFactors[level - kMinZoomLevel];
}

void zoomRatioOf(int level, int& num, int& den) {
  if (level < kMinZoomLevel || level > kMaxZoomLevel) level = 0;
  num = kZoomRatios[level - kMinZoomLevel][0];
  den = kZoomRatios[level - kMinZoomLevel][1];
}

TPaper::TPaper(CanvasView* v)
    : view(v), events(std::make_unique<PaperEventHook>()), undo(std::make_unique<PaperUndoHook>()) {}

bool TPaper::newPaper(TFlowImage& flow, const std::string& paperName, int32_t res, int32_t h, int32_t w) {
  // Sizes come from files and packets too.
  if (w < 1 || h < 1 || w > kMaxPaperSide || h > kMaxPaperSide) return false;
  WaitCursor wait;
  name = paperName;
  resolution = res;
  width = w;
  height = h;
  layers.Clear();
  layers.SetPaperSize(w, h);
  masks.SetPaperSize({w, h});
  if (!compositeImage.Resize(w, h)) return false;
  compositeImage.Fill(0xFF000000u | paperColor);
  const int mode = drawGeneration == DrawGeneration::Legacy ? kModeMultiply : kModeNormal;
  if (layers.InsertNew(0, w, h, 1, 255, mode, drawGeneration == DrawGeneration::Legacy) < 0) return false;
  layers.NameLayer(0, 1);
  resetFlow(flow);
  setCurrentLayer(flow, 0);
  clearLayerPixels(0);
  loadLayerToFlow(flow, 0, true);
  recomposeRect(Area(0, 0, w, h), true);
  gradation.x1 = gradation.y1 = gradation.y2 = 0;
  gradation.x2 = w;
  events->PaperCreated(w, h, res);
  initialised = 1;
  invalidateCanvas();
  return true;
}

int64_t TPaper::memoryUsage(int64_t* layerBytes, int64_t* undoBytes) const {
  const int64_t layerTotal = layers.MemoryUsed();
  const int64_t undoTotal = drawGeneration == DrawGeneration::Legacy ? layers.OwnUndoMemory() : undo->MemoryUsed();
  if (layerBytes) *layerBytes = layerTotal;
  if (undoBytes) *undoBytes = undoTotal;
  const int64_t viewBytes = viewImage.IsAllocated() ? viewImage.ByteSize() : 0;
  return int64_t(width) * height * 9 + layerTotal + viewBytes + masks.MemoryUsed() + undoTotal;
}

std::string TPaper::captionText() const {
  const int percent = int(zoomFactor() * 100);
  char tail[96];
  std::snprintf(tail, sizeof tail, "\" w%d x h%d : %d%%", width, height, percent);
  return std::string(eventProtected ? "<LOCKED>" : "") + " \"" + name + tail;
}

// ---- flow binding ----

bool TPaper::loadLayerToFlow(TFlowImage& flow, int32_t layer, bool force) {
  CLayerData* l = layers.At(layer);
  if (!l || !l->pixels) return false;
  CBlockVMTC& image = *l->pixels;
  bool reloaded = false;
  // Pixels beyond the layer image read as transparent white, never as what
  // an earlier layer left there.
  auto copyIn = [&] { flow.SyncWith(&image); };
  if (flow.colour.width < image.width || flow.colour.height < image.height || !flow.colour.IsAllocated()) {
    const int32_t w = std::max(flow.colour.width, image.width), h = std::max(flow.colour.height, image.height);
    if (!flow.colour.Resize(w, h) || !flow.coverage.Resize(w, h)) {
      ui().Warning(text(TextId::OutOfMemory));
      return false;
    }
    copyIn();
    reloaded = true;
  } else if (force || flow.boundLayer != layer) {
    image.Compact();
    copyIn();
    reloaded = true;
  }
  flow.boundLayer = layer;
  flow.offsetX = l->offsetX;
  flow.offsetY = l->offsetY;
  flow.paperWidth = width;
  flow.paperHeight = height;
  return reloaded;
}

void TPaper::resetFlow(TFlowImage& flow) {
  sizeFlow(flow);
  flow.SyncWith(nullptr);
  flow.offsetX = flow.offsetY = 0;
  flow.paperWidth = width;
  flow.paperHeight = height;
}

void TPaper::sizeFlow(TFlowImage& flow) {
  int32_t w = std::max(width, 1), h = std::max(height, 1);
  for (int32_t i = 0; i < layers.Count(); ++i) {
    const Size s = layers.At(i)->ImageSize();
    w = std::max(w, s.width);
    h = std::max(h, s.height);
  }
  if (flow.colour.width != w || flow.colour.height != h) flow.colour.Resize(w, h);
  if (flow.coverage.width != w || flow.coverage.height != h) {
    flow.coverage.Resize(w, h);
    flow.coverage.Fill(0);
  }
}

void TFlowImage::ForgetBlocks(Area a) {
  if (blockKnown.empty() || colour.pixels != knownBits || !colour.ClipArea(a)) return;
  for (int32_t r = a.y >> 5; r <= (a.bottom() - 1) >> 5 && r < blocksDown; ++r)
    for (int32_t c = a.x >> 5; c <= (a.right() - 1) >> 5 && c < blocksAcross; ++c)
      blockKnown[size_t(c) + size_t(r) * size_t(blocksAcross)] = 0;
}

void TFlowImage::SyncWith(const CBlockVMTC* image) {
  blocksRewritten = 0;
  if (!colour.IsAllocated()) return;
  const int32_t W = colour.width, H = colour.height;
  const int32_t across = (W + 31) >> 5, down = (H + 31) >> 5;
  const size_t n = size_t(across) * size_t(down);
  if (W != knownWidth || H != knownHeight || colour.pixels != knownBits || blockKnown.size() != n) {
    // A new buffer: nothing of it is known yet.
    try {
      blockKnown.assign(n, 0);
      blockValue.assign(n, 0);
      blocksAcross = across;
      blocksDown = down;
    } catch (const std::bad_alloc&) {
      blockKnown.clear();
      blockValue.clear();
      blocksAcross = blocksDown = 0;
    }
    knownWidth = W;
    knownHeight = H;
    knownBits = colour.pixels;
  }
  const bool remember = !blockKnown.empty();
  const bool clearCoverage = coverage.IsAllocated() && coverage.width == W && coverage.height == H;
  const uint32_t outside = CBlockVMTC::kDefaultUniform;
  const bool tiled = image && image->IsValid() && image->tileSize == 32;
  // Rows of blocks are apart in memory and in the record: threads take them.
  std::atomic<int32_t> rewritten{0};
  const auto syncRow = [&](int32_t r) {
    // A blank row of the image and a buffer row that holds its value already
    // cost a look at each block's record.
    if (remember && (!tiled || r >= image->tilesDown || image->RowBlank(r))) {
      const uint32_t v = tiled && r < image->tilesDown ? image->BlankValue() : outside;
      const int32_t inside = tiled && r < image->tilesDown ? image->tilesAcross : 0;
      const bool rowInside = !tiled || r >= image->tilesDown || std::min(32, H - (r << 5)) <= image->height - (r << 5);
      bool same = true;
      for (int32_t c = 0; c < across && same; ++c) {
        const size_t b = size_t(c) + size_t(r) * size_t(across);
        // Blocks that reach past the image's right or bottom edge hold the outside value there.
        const bool whole = c >= inside || (rowInside && std::min(32, W - (c << 5)) <= image->width - (c << 5));
        const uint32_t want = c < inside ? v : outside;
        same = blockKnown[b] && blockValue[b] == want && (whole || want == outside);
      }
      if (same) return;
    }
    for (int32_t c = 0; c < across; ++c) {
      const Area block(c << 5, r << 5, std::min(32, W - (c << 5)), std::min(32, H - (r << 5)));
      const bool inImage = tiled && c < image->tilesAcross && r < image->tilesDown;
      TileDesc t;
      if (inImage) t = image->TileView(c, r);
      const int32_t tw = inImage ? std::min(t.validWidth, block.width) : 0;
      const int32_t th = inImage ? std::min(t.validHeight, block.height) : 0;
      // One value throughout: outside the image, or a tile without memory
      // that fills the block or holds the outside value itself.
      const bool uniform = !inImage || (!t.allocated && ((tw == block.width && th == block.height) || t.uniform == outside));
      const uint32_t value = inImage ? t.uniform : outside;
      const size_t b = size_t(c) + size_t(r) * size_t(across);
      if (uniform && remember && blockKnown[b] && blockValue[b] == value) continue;
      for (int32_t j = 0; j < block.height; ++j) {
        uint32_t* row = colour.Row(block.y + j) + block.x;
        int32_t done = 0;
        if (j < th) {
          if (t.allocated) {
            std::memcpy(row, image->TileRow(t, j), size_t(tw) * 4);
          } else {
            std::fill_n(row, tw, t.uniform);
          }
          done = tw;
        }
        std::fill(row + done, row + block.width, uniform ? value : outside);
        if (clearCoverage) std::memset(coverage.Row(block.y + j) + block.x, 0, size_t(block.width));
      }
      if (remember) {
        blockKnown[b] = uniform ? 1 : 0;
        blockValue[b] = value;
      }
      rewritten.fetch_add(1, std::memory_order_relaxed);
    }
  };
  if (int64_t(W) * H >= kThreadedSyncPixels) {
    corePool().Run(down, syncRow);
  } else {
    for (int32_t r = 0; r < down; ++r) syncRow(r);
  }
  blocksRewritten = rewritten.load();
  if (!clearCoverage && coverage.IsAllocated()) coverage.Fill(0);
  ClearTouched();
}

void TFlowImage::MarkTouched(Area a) {
  if (!colour.ClipArea(a)) return;
  const int32_t across = (colour.width + 31) >> 5, down = (colour.height + 31) >> 5;
  if (across != touchedAcross || down != touchedDown) {
    try {
      touched.assign(size_t(across) * size_t(down), 0);
      rebuiltSums.assign(size_t(across) * size_t(down), 0);
    } catch (const std::bad_alloc&) {
      touched.clear();
      rebuiltSums.clear();
      touchedAcross = touchedDown = 0;
      anyTouched = false;
      return;
    }
    touchedAcross = across;
    touchedDown = down;
  }
  for (int32_t r = a.y >> 5; r <= (a.bottom() - 1) >> 5; ++r)
    for (int32_t c = a.x >> 5; c <= (a.right() - 1) >> 5; ++c) touched[size_t(c + r * touchedAcross)] = 1;
  anyTouched = true;
  ForgetBlocks(a);
}

void TFlowImage::ClearTouched() {
  if (anyTouched) std::fill(touched.begin(), touched.end(), 0);
  std::fill(rebuiltSums.begin(), rebuiltSums.end(), 0);
  anyTouched = false;
}

void TPaper::commitFlowRect(TFlowImage& flow, int32_t layer, bool commit, Area rect) {
  CLayerData* l = layers.At(layer);
  // A stroke that ended where it began has an empty rectangle: nothing to do.
  if (!l || !l->pixels || !flow.colour.IsAllocated() || !flow.colour.ClipArea(rect)) {
    flow.coverage.Fill(0);
    flow.ClearTouched();
    return;
  }
  // What a tool drew here, and what is written or reloaded, is no longer one known value.
  flow.ForgetBlocks(rect);
  if (commit && flow.AnyTouched()) {
    // Only the blocks the stroke changed differ from the layer.
    int32_t freed = 0;
    for (int32_t r = rect.y >> 5; r <= (rect.bottom() - 1) >> 5; ++r)
      for (int32_t c = rect.x >> 5; c <= (rect.right() - 1) >> 5; ++c) {
        if (!flow.Touched(c, r)) continue;
        Area block(c << 5, r << 5, 32, 32);
        flow.coverage.FillArea(block, 0);
        block = Area(intersect(block.bounds(), rect.bounds()));
        if (block.empty()) continue;
        l->pixels->WriteChanged(flow.colour, {block.x, block.y}, block);
        freed += l->pixels->Compact(block, false);
      }
    if (freed) l->pixels->RecomputeOccupied();
    flow.ClearTouched();
    return;
  }
  flow.ClearTouched();
  if (commit) {
    // Tiles the buffer leaves as they were stay unallocated, and only the
    // written tiles are looked at for compaction.
    l->pixels->WriteChanged(flow.colour, {rect.x, rect.y}, rect);
    l->pixels->Compact(rect);
  } else {
    // Beyond the layer image the buffer goes back to transparent white.
    flow.colour.FillMasked(rect, CBlockVMTC::kDefaultUniform, 0xFFFFFFFFu);
    l->pixels->ReadInto(flow.colour, {rect.x, rect.y}, false, 255, rect);
  }
  flow.coverage.Fill(0);
}

void TPaper::commitFlow(TFlowImage& flow, int32_t layer, bool commit) {
  CLayerData* l = layers.At(layer);
  if (l && l->pixels && flow.colour.IsAllocated()) {
    if (commit) {
      const Area all(0, 0, std::min(flow.colour.width, l->pixels->width),
                     std::min(flow.colour.height, l->pixels->height));
      l->pixels->WriteFrom(flow.colour, {0, 0}, 255, all);
      flow.ForgetBlocks(all);
    } else if (flow.colour.width >= l->pixels->width && flow.colour.height >= l->pixels->height) {
      // Back to the layer: only the blocks that differ from it are read again.
      flow.SyncWith(l->pixels.get());
      return;
    } else {
      const Area all(0, 0, std::min(flow.colour.width, l->pixels->width),
                     std::min(flow.colour.height, l->pixels->height));
      l->pixels->ReadInto(flow.colour, {0, 0}, false, 255, all);
      flow.ForgetBlocks(all);
    }
  }
  flow.coverage.Fill(0);
}

// ---- composition ----

void TPaper::recomposeRect(Area rect, bool overlay) {
  if (compositionHeld > 0 || !compositeImage.IsAllocated() || !clipArea(rect, {width, height})) return;
  const bool legacy = drawGeneration == DrawGeneration::Legacy;
  // The layers that show, each with its own copy of the dissolve state, so
  // the same rectangle always gets the same pattern and the stored state
  // never advances.
  struct Visible {
    const CLayerData* layer;
    bool fromFlow;
    ComposeParams params;
  };
  std::vector<Visible> visible;
  std::vector<RandomState> randoms;
  try {
    visible.reserve(size_t(layers.Count()));
    randoms.reserve(size_t(layers.Count()));
  } catch (const std::bad_alloc&) {
    ui().Warning(text(TextId::OutOfMemory));
    return;
  }
  for (int32_t i = 0; i < layers.Count(); ++i) {
    const CLayerData& l = *layers.At(i);
    if (!l.visible || l.opacity == 0 || !l.pixels) continue;
    randoms.push_back(reseedDissolve ? RandomState(int32_t(appClock().Milliseconds()), 0, 255) : l.random);
    ComposeParams p;
    p.mode = l.Mode();
    p.opacity = l.opacity;
    p.dissolve = l.dissolve != 0;
    p.dissolveAmount = l.dissolveAmount;
    p.random = &randoms.back();
    p.legacy = legacy;
    visible.push_back({&l, i == strokeLayer && strokeFlow && strokeFlow->colour.IsAllocated(), p});
  }
  // Band by band, so the composite stays in the cache while every layer is
  // laid over it. A dissolving layer draws its numbers tile by tile, so no
  // band may cut one of its tile rows: bands follow the tile rows of the
  // dissolving layers, or, when their rows do not line up, the rectangle is
  // one band.
  constexpr int32_t kBand = 32;
  int32_t phase = 0;  // bands start where (y + phase) is a multiple of kBand
  bool banded = true, dissolving = false;
  for (const Visible& v : visible) {
    if (!v.params.dissolve || legacy || v.fromFlow) continue;
    const int32_t p = int32_t(((int64_t(v.layer->offsetY) % kBand) + kBand) % kBand);
    if (v.layer->pixels->tileSize != kBand || (dissolving && p != phase)) banded = false;
    phase = p;
    dissolving = true;
  }
  const int32_t firstEnd = banded ? rect.y + kBand - int32_t((int64_t(rect.y) + phase) % kBand) : rect.bottom();
  const int32_t bands = firstEnd >= rect.bottom() ? 1 : 1 + (rect.bottom() - firstEnd + kBand - 1) / kBand;
  const auto bandAt = [&](int32_t b) {
    const int32_t top = b == 0 ? rect.y : firstEnd + (b - 1) * kBand;
    const int32_t bottom = b == 0 ? std::min(firstEnd, rect.bottom()) : std::min(top + kBand, rect.bottom());
    return Area(rect.x, top, rect.width, bottom - top);
  };
  const auto source = [](const Visible& v, const Area& band) {
    return Area(band.x + v.layer->offsetX, band.y + v.layer->offsetY, band.width, band.height);
  };
  // Each layer over one band; `params` may carry a random state of the band's own.
  const auto composeLayer = [&](const Visible& v, const Area& band, const ComposeParams& params) {
    if (v.fromFlow) {
      composeBuffer(compositeImage, {band.x, band.y}, strokeFlow->colour, source(v, band), params);
    } else {
      composeImage(compositeImage, {band.x, band.y}, *v.layer->pixels, source(v, band), params);
    }
  };
  const auto draws = [&](const Visible& v, const Area& band) {
    return v.fromFlow ? composeBufferDraws(compositeImage, {band.x, band.y}, strokeFlow->colour, source(v, band), v.params)
                      : composeDraws(compositeImage, {band.x, band.y}, *v.layer->pixels, source(v, band), v.params);
  };
  // Within a band the composite goes a column at a time: its piece stays in
  // the nearest cache while every layer is laid over it, starting from the
  // paper colour, and each layer's tiles are read through one after another
  // instead of a row of each of a hundred tiles at a time. A layer that
  // draws dissolve numbers covers the whole band at once, so its tile walk
  // keeps its order; the layers either side of it go column by column.
  constexpr int32_t kColumn = 128;
  const auto wholeBand = [&](const Visible& v) { return v.params.dissolve && !legacy; };
  const auto paperUnder = [&](const Area& a) { compositeImage.FillMasked(a, paperColor, 0x00FFFFFFu); };
  const auto composeBand = [&](const Area& band, auto&& paramsOf) {
    bool filled = false;
    for (size_t i = 0; i < visible.size();) {
      if (wholeBand(visible[i])) {
        if (!filled) paperUnder(band);
        filled = true;
        composeLayer(visible[i], band, paramsOf(i));
        ++i;
        continue;
      }
      size_t end = i + 1;
      while (end < visible.size() && !wholeBand(visible[end])) ++end;
      // Where dissolving layers whose rows disagree make the rectangle one
      // band, the layers between them still go kBand rows at a time.
      for (int32_t y = band.y; y < band.bottom(); y += kBand)
        for (int32_t x = band.x; x < band.right();) {
          const int32_t next = std::min(band.right(), (x & ~(kColumn - 1)) + kColumn);
          const Area piece(x, y, next - x, std::min(kBand, band.bottom() - y));
          // The next piece's rows lie a paper width apart: asking for them
          // now lets their misses overlap with this piece's work.
          const int32_t nextBytes = std::min(kColumn, band.right() - next) * 4;
          for (int32_t j = 0; j < piece.height && nextBytes > 0; ++j) {
            const char* p = reinterpret_cast<const char*>(compositeImage.Row(y + j) + next);
            for (int32_t b = 0; b < nextBytes; b += 64) __builtin_prefetch(p + b, 1);
          }
          if (!filled) paperUnder(piece);
          for (size_t k = i; k < end; ++k) composeLayer(visible[k], piece, paramsOf(k));
          x = next;
        }
      filled = true;
      i = end;
    }
    if (!filled) paperUnder(band);
  };
  // Threads take bands when there is enough to share: each band starts every
  // dissolving layer's generator where the bands above it leave it.
  const int64_t work = int64_t(rect.width) * rect.height * int64_t(visible.size() + 1);
  std::vector<RandomState> starts;       // band × dissolving layer
  std::vector<int32_t> drawing;          // the entries of visible that draw numbers
  std::vector<ComposeParams> bandParams;  // band × visible, drawing from the band's starts
  bool threaded = bands > 1 && work >= kThreadedComposeWork && corePool().Threads() > 1;
  if (threaded) {
    try {
      for (size_t i = 0; i < visible.size(); ++i)
        if (visible[i].params.dissolve) drawing.push_back(int32_t(i));
      starts.resize(size_t(bands) * drawing.size());
      if (!drawing.empty()) bandParams.resize(size_t(bands) * visible.size());
    } catch (const std::bad_alloc&) {
      threaded = false;
    }
  }
  if (!threaded) {
    for (int32_t b = 0; b < bands; ++b)
      composeBand(bandAt(b), [&](size_t i) -> const ComposeParams& { return visible[i].params; });
  } else {
    for (size_t k = 0; k < drawing.size(); ++k) {
      const Visible& v = visible[size_t(drawing[k])];
      RandomState r = *v.params.random;
      for (int32_t b = 0; b < bands; ++b) {
        starts[size_t(b) * drawing.size() + k] = r;
        r.Skip(uint64_t(draws(v, bandAt(b))));
      }
    }
    // Each band draws from generators of its own: its entries of starts.
    if (!bandParams.empty())
      for (int32_t b = 0; b < bands; ++b) {
        ComposeParams* params = bandParams.data() + size_t(b) * visible.size();
        for (size_t i = 0; i < visible.size(); ++i) params[i] = visible[i].params;
        for (size_t k = 0; k < drawing.size(); ++k)
          params[size_t(drawing[k])].random = &starts[size_t(b) * drawing.size() + k];
      }
    corePool().Run(bands, [&](int32_t b) {
      composeBand(bandAt(b), [&](size_t i) -> const ComposeParams& {
        return bandParams.empty() ? visible[i].params : bandParams[size_t(b) * visible.size() + i];
      });
    });
  }
  if (overlay && gridShown) drawGrid(rect);
}

void TPaper::markCompositeStale(Area rect) {
  if (!clipArea(rect, {width, height})) return;
  const int32_t across = (width + (1 << kStaleShift) - 1) >> kStaleShift;
  const int32_t down = (height + (1 << kStaleShift) - 1) >> kStaleShift;
  if (across != staleAcross || down != staleDown) {
    // A paper of another size: what was stale is composed first.
    settleComposite();
    try {
      staleBlocks.assign(size_t(across) * size_t(down), 0);
      staleAcross = across;
      staleDown = down;
    } catch (const std::bad_alloc&) {
      staleBlocks.clear();
      staleAcross = staleDown = 0;
    }
  }
  const Bounds b = rect.bounds();
  if (!staleBlocks.empty())
    for (int32_t r = b.top >> kStaleShift; r <= (b.bottom - 1) >> kStaleShift; ++r)
      std::fill_n(staleBlocks.begin() + ptrdiff_t(r) * staleAcross + (b.left >> kStaleShift),
                  ((b.right - 1) >> kStaleShift) - (b.left >> kStaleShift) + 1, uint8_t(1));
  stale = unite(stale, b);
}

void TPaper::settleComposite() const {
  if (stale.empty()) return;
  const Bounds b = stale;
  stale = {};
  unshown = unite(unshown, b);
  // The composite is a picture of the layers kept for the screen: bringing
  // it up to date changes nothing a reader of the paper could tell apart.
  TPaper& self = const_cast<TPaper&>(*this);
  if (staleBlocks.empty()) {
    self.recomposeRect(Area(b), true);
    return;
  }
  // Runs of stale blocks along a row of blocks, carried down while the rows
  // below hold the same run: one rectangle each.
  const int32_t side = 1 << kStaleShift;
  const int32_t lastRow = (b.bottom - 1) >> kStaleShift;
  const auto rowAt = [&](int32_t r) { return staleBlocks.data() + ptrdiff_t(r) * staleAcross; };
  for (int32_t r = b.top >> kStaleShift; r <= lastRow; ++r) {
    uint8_t* row = rowAt(r);
    for (int32_t c = b.left >> kStaleShift; c <= (b.right - 1) >> kStaleShift; ++c) {
      if (!row[c]) continue;
      int32_t e = c;
      while (e + 1 < staleAcross && row[e + 1]) ++e;
      int32_t bottom = r;
      while (bottom < lastRow && std::all_of(rowAt(bottom + 1) + c, rowAt(bottom + 1) + e + 1, [](uint8_t v) { return v; }))
        ++bottom;
      for (int32_t k = r; k <= bottom; ++k) std::fill(rowAt(k) + c, rowAt(k) + e + 1, uint8_t(0));
      const Area run(Bounds{std::max(c * side, b.left), std::max(r * side, b.top), std::min((e + 1) * side, b.right),
                            std::min((bottom + 1) * side, b.bottom)});
      self.recomposeRect(run, true);
      c = e;
    }
  }
}

void TPaper::presentChanges() {
  settleComposite();
  if (unshown.empty()) return;
  const Area shown(unshown);
  unshown = {};
  invalidatePaperRect(shown);
}

void TPaper::recomposeAll(bool overlay) {
  recomposeRect(Area(0, 0, width, height), overlay);
  invalidateCanvas();
}

void TPaper::refreshLayerContent(int32_t layer, bool thumbnail) {
  const CLayerData* l = layers.At(layer);
  if (!l || !l->pixels) return;
  for (int i = 0; i < l->pixels->OccupiedCount(); ++i) {
    const Bounds& b = l->pixels->Occupied()[i];
    Area r(b.left - l->offsetX, b.top - l->offsetY, b.right - b.left, b.bottom - b.top);
    if (!clipArea(r, {width, height})) continue;
    recomposeRect(r, true);
    if (thumbnail) updateLayerThumb(false, layer, r);
  }
}

void TPaper::updateLayerThumb(bool skipThumb, int32_t layer, Area rect) {
  CLayerData* l = layers.At(layer);
  if (skipThumb || !l || !l->pixels || !l->thumbnail.IsAllocated() || width <= 0 || height <= 0) return;
  const TMTC& t = l->thumbnail;
  // The thumbnail pixels whose averaging boxes reach into rect. A box is one
  // pixel wider than the step and its start is rounded down, so a changed
  // pixel can reach one thumbnail pixel to the left and two past the scaled
  // right edge; scaling each side alone and adding one misses some of them.
  auto scaled = [](int64_t v, int32_t n, int32_t total, int32_t margin) {
    const int64_t s = v * n;
    const int64_t q = (s >= 0 ? s : s - total + 1) / total;  // rounded down
    return int32_t(std::clamp<int64_t>(q + margin, -1, int64_t(n) + 1));
  };
  const Area part(Bounds{scaled(rect.x, t.width, width, -1), scaled(rect.y, t.height, height, -1),
                         scaled(int64_t(rect.x) + rect.width, t.width, width, 3),
                         scaled(int64_t(rect.y) + rect.height, t.height, height, 3)});
  l->pixels->RenderReduced(l->thumbnail, l->thumbnail.area(), Area(l->offsetX, l->offsetY, width, height), &part);
}

std::vector<Area> TPaper::strokeThumbRuns(int32_t layer, const TFlowImage& flow) const {
  const CLayerData* l = layers.At(layer);
  std::vector<Area> runs;
  if (!l || !l->pixels || !l->thumbnail.IsAllocated() || width <= 0 || height <= 0 || !flow.AnyTouched()) return runs;
  const TMTC& t = l->thumbnail;
  const CBlockVMTC& img = *l->pixels;
  // Where each thumbnail pixel reads, as RenderReduced places its boxes over
  // the paper, clamped into the image as its reads are.
  const int64_t stepX = int64_t(width) * 1024 / t.width, stepY = int64_t(height) * 1024 / t.height;
  const int64_t boxW = width / t.width + 1, boxH = height / t.height + 1;
  const auto reads = [&](int32_t i, int32_t j) {
    const int64_t sx = l->offsetX + ((stepX * i) >> 10), sy = l->offsetY + ((stepY * j) >> 10);
    const int64_t x0 = std::clamp<int64_t>(sx, 0, img.width - 1), x1 = std::clamp<int64_t>(sx + boxW - 1, 0, img.width - 1);
    const int64_t y0 = std::clamp<int64_t>(sy, 0, img.height - 1), y1 = std::clamp<int64_t>(sy + boxH - 1, 0, img.height - 1);
    for (int64_t r = y0 >> 5; r <= y1 >> 5 && r < flow.touchedDown; ++r)
      for (int64_t c = x0 >> 5; c <= x1 >> 5 && c < flow.touchedAcross; ++c)
        if (flow.Touched(int32_t(c), int32_t(r))) return true;
    return false;
  };
  try {
    for (int32_t j = 0; j < t.height; ++j)
      for (int32_t i = 0; i < t.width;) {
        if (!reads(i, j)) {
          ++i;
          continue;
        }
        int32_t e = i + 1;
        while (e < t.width && reads(e, j)) ++e;
        runs.push_back(Area(i, j, e - i, 1));
        i = e;
      }
  } catch (const std::bad_alloc&) {
    runs.clear();
  }
  // Nothing read a touched block: an empty run list would mean everything.
  if (runs.empty()) runs.push_back(Area());
  return runs;
}

void TPaper::deferThumbRuns(int32_t layer, const std::vector<Area>& runs) {
  CLayerData* l = layers.At(layer);
  if (!l || !l->pixels || !l->thumbnail.IsAllocated() || width <= 0 || height <= 0) return;
  l->DeferThumbnailRuns(runs);
}

void TPaper::drawGrid(Area rect) {
  const int32_t sx = std::max(2, gridSpacingX), sy = std::max(2, gridSpacingY);
  const uint32_t ink = 0xD0D0D0;
  for (int32_t x = rect.x + (sx - rect.x % sx) % sx; x < rect.right(); x += sx)
    compositeImage.Apply(Area(x, rect.y, 1, rect.height), inkMultiply, ink, 255);
  for (int32_t y = rect.y + (sy - rect.y % sy) % sy; y < rect.bottom(); y += sy)
    compositeImage.Apply(Area(rect.x, y, rect.width, 1), inkMultiply, ink, 255);
}

void TPaper::invalidateCanvas() {
  if (view) view->InvalidateAll();
}

void TPaper::invalidatePaperRect(Area rect) {
  if (!view || rect.empty()) return;
  // The window box around the rectangle's four corners (a turned view turns
  // them), and a pixel or two for the smoothing footprints.
  const double px[4] = {double(rect.x), double(rect.right()), double(rect.x), double(rect.right())};
  const double py[4] = {double(rect.y), double(rect.y), double(rect.bottom()), double(rect.bottom())};
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
  for (int i = 0; i < 4; ++i) {
    double sx, sy;
    paperToScreen(px[i], py[i], sx, sy);
    if (!std::isfinite(sx) || !std::isfinite(sy)) {
      view->InvalidateAll();
      return;
    }
    x0 = i ? std::min(x0, sx) : sx, x1 = i ? std::max(x1, sx) : sx;
    y0 = i ? std::min(y0, sy) : sy, y1 = i ? std::max(y1, sy) : sy;
  }
  const int margin = rotated() ? 2 : 1;
  const auto edge = [](double v) { return int32_t(std::clamp(v, -1e9, 1e9)); };
  const int32_t l = edge(std::floor(x0)) - margin, t = edge(std::floor(y0)) - margin;
  const int32_t r = edge(std::ceil(x1)) + margin, b = edge(std::ceil(y1)) + margin;
  view->Invalidate({l, t, r - l, b - t});
}

void TPaper::presentDirect(Area r, int num, int den) {
  if (!view) return;
  const Surface s{compositeImage.Bits(), compositeImage.width, compositeImage.height, compositeImage.BytesPerLine(), true};
  const double z = zoomFactor();
  const int32_t dx = windowOffsetX + r.x * num / den - int32_t(viewOriginX * z);
  const int32_t dy = windowOffsetY + r.y * num / den - int32_t(viewOriginY * z);
  view->Present(s, {r.x, r.y, r.width, r.height}, dx, dy, num, den);
}

void TPaper::drawToWindow(int32_t left, int32_t bottom, int32_t right, int32_t top) {
  Area r(Bounds{std::max(0, left), std::max(0, top), std::min(width, right), std::min(height, bottom)});
  if (r.empty() || !compositeImage.IsAllocated()) return;
  int num, den;
  zoomRatioOf(zoomLevel, num, den);
  if (directPaintAllowed() && !rotated()) {
    presentDirect(r, num, den);
  } else {
    renderView(r);
  }
}

bool TPaper::directPaintAllowed() const {
  if (zoomLevel < 0) return false;
  // Levels 1, 2, 3 and 5 are not whole multiples and need smoothing when it is asked for.
  const bool wholeRatio = zoomLevel == 0 || zoomLevel == 4 || zoomLevel >= 6;
  return !zoomAntialias || wholeRatio;
}

void TPaper::renderView(Area r) {
  if (!compositeImage.IsAllocated() || !clipArea(r, {width, height}) || !prepareViewImage()) return;
  const Area shown = !rotated() && zoomAntialias ? renderSmoothed(r) : renderSquare(r);
  if (r == Area(0, 0, width, height)) {
    // The whole paper rebuilds the whole view: the background goes around what was rendered.
    const uint32_t bg = 0xFF000000u | viewBackgroundColor;
    const int32_t vw = viewImage.width, vh = viewImage.height;
    if (shown.empty()) {
      viewImage.Fill(bg);
    } else {
      viewImage.FillMasked(Area(0, 0, vw, shown.y), bg, ~0u);
      viewImage.FillMasked(Area(0, shown.bottom(), vw, vh - shown.bottom()), bg, ~0u);
      viewImage.FillMasked(Area(0, shown.y, shown.x, shown.height), bg, ~0u);
      viewImage.FillMasked(Area(shown.right(), shown.y, vw - shown.right(), shown.height), bg, ~0u);
    }
  }
  if (shown.empty()) return;
  const Surface s{viewImage.Bits(), viewImage.width, viewImage.height, viewImage.BytesPerLine(), true};
  view->Present(s, {shown.x, shown.y, shown.width, shown.height}, shown.x, shown.y, 1, 1);
}

bool TPaper::prepareViewImage() {
  if (!view) return false;
  const int32_t w = view->ClientWidth(), h = view->ClientHeight();
  if (w <= 0 || h <= 0) return false;
  if (!viewImage.IsAllocated() || viewImage.width != w || viewImage.height != h) {
    if (!viewImage.Resize(w, h)) return false;
    viewImage.Fill(0xFF000000u | viewBackgroundColor);
  }
  viewScaler.SetImages(&compositeImage, &viewImage);
  return true;
}

Area TPaper::renderSmoothed(Area r) {
  const double z = zoomFactor();
  const int32_t vw = viewImage.width, vh = viewImage.height;
  // Window pixel X starts at paper x = (X − ox) ÷ z + vx, in 16.16. Every
  // window pixel averages exactly the paper it covers, so a pixel comes out
  // the same whichever piece paints it and pieces meet without a seam.
  const auto edgeX = [&](int64_t x) {
    return int64_t(std::floor((double(x - windowOffsetX) / z + viewOriginX) * 65536.0));
  };
  const auto edgeY = [&](int64_t y) {
    return int64_t(std::floor((double(y - windowOffsetY) / z + viewOriginY) * 65536.0));
  };
  const auto paperFloor = [](int64_t e) { return int32_t(std::clamp<int64_t>(e >> 16, -1, kMaxPaperSide + 1)); };
  const auto paperCeil = [&](int64_t e) { return paperFloor(e + 65535); };
  // Only the paper that the window shows.
  Bounds b = intersect(r.bounds(), Bounds{paperFloor(edgeX(0)), paperFloor(edgeY(0)), paperCeil(edgeX(vw)),
                                          paperCeil(edgeY(vh))});
  if (b.empty()) return {};
  if (z > 1.0) {
    // Large rectangles go in 32 × 32 pieces aligned to multiples of 32, small
    // ones widen to multiples of 8. The pieces' union is painted in one go.
    const int32_t unit = b.right - b.left > 64 || b.bottom - b.top > 64 ? 32 : 8;
    const auto up = [unit](int32_t v) { return (v + unit - 1) / unit * unit; };
    b = intersect(Bounds{b.left / unit * unit, b.top / unit * unit, up(b.right), up(b.bottom)},
                  Bounds{0, 0, width, height});
  }
  // The window pixels whose footprints meet the rectangle.
  const auto firstWhere = [](int32_t lo, int32_t hi, auto holds) {
    while (lo < hi) {
      const int32_t mid = lo + (hi - lo) / 2;
      if (holds(mid)) {
        hi = mid;
      } else {
        lo = mid + 1;
      }
    }
    return lo;
  };
  const int64_t left = int64_t(b.left) << 16, right = int64_t(b.right) << 16;
  const int64_t top = int64_t(b.top) << 16, bottom = int64_t(b.bottom) << 16;
  const int32_t x0 = firstWhere(0, vw, [&](int32_t x) { return edgeX(x + 1) > left; });
  const int32_t x1 = firstWhere(x0, vw, [&](int32_t x) { return edgeX(x) >= right; });
  const int32_t y0 = firstWhere(0, vh, [&](int32_t y) { return edgeY(y + 1) > top; });
  const int32_t y1 = firstWhere(y0, vh, [&](int32_t y) { return edgeY(y) >= bottom; });
  const Area a(x0, y0, x1 - x0, y1 - y0);
  ScaleAxis cols, rows;
  if (a.empty() || !cols.Resize(a.width) || !rows.Resize(a.height)) return {};
  const int64_t limitX = int64_t(width) << 16, limitY = int64_t(height) << 16;
  for (int32_t i = 0; i < a.width; ++i) cols.Cells()[i] = MakeScaleCell(edgeX(x0 + i), edgeX(x0 + i + 1), limitX);
  for (int32_t j = 0; j < a.height; ++j) rows.Cells()[j] = MakeScaleCell(edgeY(y0 + j), edgeY(y0 + j + 1), limitY);
  if (!viewScaler.ResampleCells(cols.Cells(), rows.Cells(), a, 0xFF000000u | viewBackgroundColor)) return {};
  return a;
}

Area TPaper::renderSquare(Area r) {
  const double z = zoomFactor();
  const int32_t vw = viewImage.width, vh = viewImage.height;
  const auto inView = [](double v, int32_t side) {
    return int32_t(std::clamp(v, 0.0, double(side)));  // NaN never reaches here
  };
  Area a;
  if (!rotated()) {
    // Unturned, the rectangle's own window bounds and a pixel suffice: a thin
    // strip exposed by scrolling stays a thin strip.
    double x0, y0, x1, y1;
    paperToScreen(r.x, r.y, x0, y0);
    paperToScreen(r.right(), r.bottom(), x1, y1);
    a = Area(Bounds{inView(std::floor(x0) - 1, vw), inView(std::floor(y0) - 1, vh), inView(std::ceil(x1) + 1, vw),
                    inView(std::ceil(y1) + 1, vh)});
  } else {
    double cx, cy;
    paperToScreen(r.x + r.width * 0.5, r.y + r.height * 0.5, cx, cy);
    if (!std::isfinite(cx) || !std::isfinite(cy)) return {};
    // Half the diagonal of the turned rectangle and a pixel, and two more for
    // the smoothing footprint and the rounding of the centre.
    const double half = std::floor(std::max(r.width, r.height) * z * 1.41421356 / 2) + 1 + 2;
    const double mx = std::floor(cx), my = std::floor(cy);
    a = Area(Bounds{inView(mx - half, vw), inView(my - half, vh), inView(mx + half + 1, vw), inView(my + half + 1, vh)});
  }
  if (a.empty()) return {};
  double ox, oy;
  bool done;
  if (zoomAntialias) {
    // The smoothed renderer turns about the exact middle of the view.
    screenToPaper(vw * 0.5, vh * 0.5, ox, oy);
    done = RenderRotatedSmooth(viewImage, compositeImage, viewScaler, viewBackgroundColor, float(z), rotationAngle, a,
                               ox, oy);
  } else {
    screenToPaper(vw / 2, vh / 2, ox, oy);
    done = RenderRotatedNearest(compositeImage, viewImage, ox, oy, float(1.0 / z), rotationAngle, a,
                                viewBackgroundColor);
  }
  return done ? a : Area();
}

bool TPaper::setCurrentLayer(TFlowImage& flow, int32_t layer) {
  if (!layers.IsValid(layer)) return false;
  layers.SetCurrent(layer);
  if (!loadLayerToFlow(flow, layer, false)) commitFlow(flow, layer, false);
  if (observer) observer->MaskLockChanged(layers.At(layer)->maskLock != 0);
  return true;
}

void TPaper::refreshLayerRect(TFlowImage& flow, int32_t layer, bool commit, Area rect) {
  commitFlowRect(flow, layer, commit, rect);
  const CLayerData* l = layers.At(layer);
  if (!l) return;
  Area paperRect(rect.x - l->offsetX, rect.y - l->offsetY, rect.width, rect.height);
  recomposeRect(paperRect, true);
  updateLayerThumb(false, layer, paperRect);
  invalidateCanvas();
}

bool TPaper::clearLayerPixels(int32_t layer) {
  CLayerData* l = layers.At(layer);
  if (!l || !l->pixels) return false;
  const uint32_t a = drawGeneration == DrawGeneration::Legacy ? 0xFF000000u : 0;
  const uint32_t colour = a | NeutralColour(l->Mode());
  l->pixels->SetAll(colour);
  l->pixels->Compact();
  if (l->thumbnail.IsAllocated()) l->thumbnail.Fill(colour);
  return true;
}

// ---- view ----

void TPaper::setZoomLevel(int level) { zoomLevel = std::clamp(level, kMinZoomLevel, kMaxZoomLevel); }

bool TPaper::zoomIn() {
  if (!canZoomIn()) return false;
  ++zoomLevel;
  return true;
}

bool TPaper::zoomOut() {
  if (!canZoomOut()) return false;
  --zoomLevel;
  return true;
}

void TPaper::setRotationRadians(float radians) {
  // Angles come from event streams too: a view cannot turn by NaN.
  if (!std::isfinite(radians)) radians = 0.0f;
  rotationAngle = radians;
  rotationDegrees = radians * 180.0f / 3.14159265358979f;
  rotationSine = std::sin(radians);
  rotationCosine = std::cos(radians);
}

void TPaper::setRotationDegrees(float degrees) {
  if (!std::isfinite(degrees)) degrees = 0.0f;
  rotationDegrees = degrees;
  rotationAngle = degrees * 3.14159265358979f / 180.0f;
  rotationSine = std::sin(rotationAngle);
  rotationCosine = std::cos(rotationAngle);
}

void TPaper::screenToPaper(double sx, double sy, double& px, double& py) const {
  const double z = zoomFactor();
  if (!rotated()) {
    px = (sx - windowOffsetX) / z + viewOriginX;
    py = (sy - windowOffsetY) / z + viewOriginY;
    return;
  }
  const int32_t W = view ? view->ClientWidth() : 0, H = view ? view->ClientHeight() : 0;
  const double dx = (sx - W / 2) / z, dy = (sy - H / 2) / z;
  px = rotationCentreX + rotationCosine * dx - rotationSine * dy;
  py = rotationCentreY + rotationSine * dx + rotationCosine * dy;
}

void TPaper::paperToScreen(double px, double py, double& sx, double& sy) const {
  const double z = zoomFactor();
  if (!rotated()) {
    sx = z * (px - viewOriginX) + windowOffsetX;
    sy = z * (py - viewOriginY) + windowOffsetY;
    return;
  }
  const int32_t W = view ? view->ClientWidth() : 0, H = view ? view->ClientHeight() : 0;
  const double ex = px - rotationCentreX, ey = py - rotationCentreY;
  sx = z * (rotationCosine * ex + rotationSine * ey) + W / 2;
  sy = z * (-rotationSine * ex + rotationCosine * ey) + H / 2;
}

Point TPaper::screenToPaper(Point s) const {
  double x, y;
  screenToPaper(s.x, s.y, x, y);
  return {truncToInt(x), truncToInt(y)};
}

Point TPaper::paperToScreen(Point p) const {
  double x, y;
  paperToScreen(p.x, p.y, x, y);
  return {truncToInt(x + 0.01), truncToInt(y + 0.01)};
}

void TPaper::setGrid(bool shown, int32_t spacingX, bool redraw, int32_t spacingY) {
  gridShown = shown;
  gridSpacingX = std::max(2, spacingX);
  gridSpacingY = std::max(2, spacingY);
  if (redraw) recomposeAll(true);
  invalidateCanvas();
}

}  // namespace vl
