#include "events/oldest_paper.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "document/blend_modes.h"
#include "document/paper.h"
#include "events/event_files.h"
#include "platform/file_read.h"

namespace vl {
namespace {

constexpr size_t kLayerHeadBytes = 8 + 4;
// Rows decoded before they go into the tiles: one row of tiles.
constexpr int32_t kBandRows = 32;
// The most pixels one byte of runs can give: a run of 124 takes 4 bytes.
constexpr int64_t kMostPixelsPerByte = 31;

uint32_t u32At(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
int32_t i32At(const uint8_t* p) { return int32_t(u32At(p)); }

// Runs of RGB into an opaque image, a band of rows at a time: a byte b
// above 124 brings 255 − b literal triples, any other byte a triple
// repeated b times. Decoding stops once every pixel is filled.
bool decodeRuns(const uint8_t* p, size_t n, CBlockVMTC& image, TMTC& band) {
  const int32_t w = image.width, h = image.height;
  int32_t x = 0, y = 0, bandTop = 0;
  auto flush = [&] {
    const Area rows(0, 0, w, y - bandTop);
    if (rows.height <= 0) return true;
    if (!image.WriteFrom(band, {0, bandTop}, 255, rows)) return false;
    image.Compact(Area(0, bandTop, w, rows.height));
    bandTop = y;
    return true;
  };
  // False when the band could not be written.
  auto put = [&](uint32_t pixel, int64_t count) {
    while (count > 0 && y < h) {
      const int32_t run = int32_t(std::min<int64_t>(count, w - x));
      std::fill_n(band.Row(y - bandTop) + x, run, pixel);
      count -= run;
      x += run;
      if (x == w) {
        x = 0;
        ++y;
        if ((y - bandTop == kBandRows || y == h) && !flush()) return false;
      }
    }
    return true;
  };
  auto rgb = [](const uint8_t* t) { return 0xFF000000u | uint32_t(t[0]) << 16 | uint32_t(t[1]) << 8 | t[2]; };
  size_t at = 0;
  while (y < h) {
    if (at >= n) return false;
    const uint8_t b = p[at++];
    if (b > 124) {
      const size_t k = size_t(255 - b);
      if (n - at < 3 * k) return false;
      for (size_t i = 0; i < k && y < h; ++i)
        if (!put(rgb(p + at + 3 * i), 1)) return false;
      at += 3 * k;
    } else {
      if (n - at < 3) return false;
      if (!put(rgb(p + at), b)) return false;
      at += 3;
    }
  }
  return true;
}

}  // namespace

bool isWpbPath(const std::string& path) {
  const size_t dot = path.rfind('.'), slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string e = path.substr(dot + 1);
  for (char& c : e) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return e == "wpb";
}

namespace {

int decode(const uint8_t* data, size_t size, WpbImage& out) {
  try {
    out = WpbImage{};
    if (size < 4 || std::memcmp(data, "WPB2", 4) != 0) return kEventFileMagic;
    if (size < kWpbHeaderBytes) return kEventFileShortRead;
    out.hasLayers = data[4] == 0;
    out.width = i32At(data + 8);
    out.height = i32At(data + 12);
    out.paperColour = u32At(data + 16) & 0x00FFFFFFu;
    const int32_t layerCount = int32_t(data[20]) + 1;
    out.currentLayer = data[21];
    out.state = data[22];
    const int32_t streamLength = i32At(data + 24);
    size_t pos = kWpbHeaderBytes;
    if (out.hasLayers) {
      // Refused before anything is allocated.
      if (out.width < 1 || out.height < 1 || out.width > kMaxPaperSide || out.height > kMaxPaperSide)
        return kEventFileHeaderLength;
      const int64_t pixels = int64_t(out.width) * out.height;
      TMTC band;
      if (!band.Resize(out.width, kBandRows)) return kEventFileNoMemory;
      out.layers.reserve(size_t(layerCount));
      for (int32_t i = 0; i < layerCount; ++i) {
        if (size - pos < kLayerHeadBytes) return kEventFileShortRead;
        const uint8_t* head = data + pos;
        WpbLayer layer;
        layer.mode = i32At(head);
        if (layer.mode < 0 || layer.mode >= kBlendModeCount) return kEventFileHeaderLength;
        layer.opacity = head[5];
        layer.visible = head[6] != 0;
        const int64_t count = i32At(head + 8);
        pos += kLayerHeadBytes;
        if (count < 0) return kEventFileHeaderLength;
        if (uint64_t(count) > size - pos) return kEventFileShortRead;
        // Too few bytes to fill the layer: refused before its image is made.
        if (count * kMostPixelsPerByte < pixels) return kEventFileBlockLength;
        layer.pixels.reset(new (std::nothrow) CBlockVMTC(out.width, out.height));
        if (!layer.pixels || !layer.pixels->IsValid()) return kEventFileNoMemory;
        if (!decodeRuns(data + pos, size_t(count), *layer.pixels, band)) return kEventFileBlockLength;
        pos += size_t(count);
        out.layers.push_back(std::move(layer));
      }
    }
    // The trailing stream: a damaged one is dropped, the picture stays.
    if (streamLength != 0) {
      if (streamLength > 0 && uint64_t(streamLength) <= size - pos && out.stream.Load(data + pos, size_t(streamLength))) {
        out.streamState = WpbStream::Valid;
      } else {
        out.streamState = WpbStream::Failed;
        out.state = 1;
        out.stream = TEventPacket{};
      }
    }
    return kEventFileOk;
  } catch (const std::bad_alloc&) {
    return kEventFileNoMemory;
  }
}

}  // namespace

int decodeWpb(const uint8_t* data, size_t size, WpbImage& out) {
  const int e = decode(data, size, out);
  // Nothing half-read is kept.
  if (e != kEventFileOk) out = WpbImage{};
  return e;
}

int readWpbFile(const std::string& path, WpbImage& out) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return kEventFileNotFound;
  Block data;
  size_t size = 0;
  switch (readWholeFile(path, kMaxEventFileBytes, data, size)) {
    case ReadFileStatus::Ok: break;
    case ReadFileStatus::Empty: return kEventFileMagic;
    case ReadFileStatus::OutOfMemory:
    case ReadFileStatus::TooLarge: return kEventFileNoMemory;
    case ReadFileStatus::CannotOpen: return kEventFileCannotOpen;
    case ReadFileStatus::ReadFailed: return kEventFileShortRead;
  }
  return decodeWpb(data.get(), size, out);
}

bool buildWpbPaper(TPaper& paper, TFlowImage& flow, WpbImage& image, const std::string& name) {
  if (!image.hasLayers || image.layers.empty()) return false;
  if (!paper.newPaper(flow, name, 0, image.height, image.width)) return false;
  const int32_t count = int32_t(image.layers.size());
  for (int32_t i = 0; i < count; ++i) {
    WpbLayer& from = image.layers[size_t(i)];
    if (i > 0 && paper.insertLayer(flow, i, from.visible, from.opacity, from.mode, image.width, image.height, false) != i)
      return false;
    CLayerData& l = *paper.layerAt(i);
    l.pixels = std::move(from.pixels);
    l.mode = uint8_t(from.mode);
    l.opacity = from.opacity;
    l.visible = from.visible ? 1 : 0;
    if (l.thumbnail.IsAllocated()) l.RenderThumbnail();
  }
  paper.eventProtected = image.streamState == WpbStream::Valid && image.stream.IsProtected() ? 1 : 0;
  paper.paperColor = image.paperColour;
  paper.resetFlow(flow);
  paper.setCurrentLayer(flow, std::min<int32_t>(image.currentLayer, count - 1));
  paper.loadLayerToFlow(flow, paper.currentLayerIndex(), true);
  paper.recomposeAll(true);
  return true;
}

}  // namespace vl
