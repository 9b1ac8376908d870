#include "paperfile/paper_pictures.h"

#include <algorithm>
#include <new>

#include "files/psd.h"
#include "platform/app_profile.h"
#include "platform/strings.h"

namespace vl {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// The composite as it is saved: rebuilt without the grid, and the grid put
// back however the write went.
class CompositeForSaving {
 public:
  explicit CompositeForSaving(TPaper& p) : paper(p) { paper.recomposeAll(false); }
  ~CompositeForSaving() { paper.recomposeAll(true); }
  CompositeForSaving(const CompositeForSaving&) = delete;
  CompositeForSaving& operator=(const CompositeForSaving&) = delete;

 private:
  TPaper& paper;
};

}  // namespace

std::string extensionOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  return std::string(path.substr(dot));
}

std::string fileNameOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

FileKind fileKindOf(std::string_view path) {
  std::string e = extensionOf(path);
  for (char& c : e) c = lower(c);
  static constexpr struct {
    const char* ext;
    FileKind kind;
  } kKinds[] = {{".wpb", FileKind::Wpb}, {".wpe", FileKind::Wpe}, {".vci", FileKind::Vci}, {".ves", FileKind::Ves},
                {".ve3", FileKind::Ve3}, {".vx3", FileKind::Ve3}, {".bmp", FileKind::Bmp}, {".jpg", FileKind::Jpeg},
                {".jpeg", FileKind::Jpeg}, {".png", FileKind::Png}, {".psd", FileKind::Psd}};
  for (const auto& k : kKinds)
    if (e == k.ext) return k.kind;
  return FileKind::Unknown;
}

FileError loadPicture(const std::string& path, TMTC& pixels, int& dpi) {
  dpi = 0;
  BitmapInfoHeader header;
  FileError e = FileError::BadArgument;
  switch (fileKindOf(path)) {
    case FileKind::Bmp: e = bmpGetImage(path, header, pixels); break;
    case FileKind::Jpeg: e = jpegGetImage(path, header, pixels); break;
    case FileKind::Png: e = pngGetImage(path, header, pixels); break;
    case FileKind::Psd: {
      std::string why;
      e = psdGetImage(path, header, pixels, why);
      if (e != FileError::None && !why.empty()) setFailureDetail(TextId::DetailText, {why});
      break;
    }
    default: break;
  }
  if (e != FileError::None) return e;
  dpi = std::max(0, dpiFromHeader(40, header.xPelsPerMeter));
  return FileError::None;
}

bool putOpenedPicture(TPaper& paper, TFlowImage& flow, const TMTC& pixels) {
  const int32_t w = std::min(pixels.width, kMaxImageSide), h = std::min(pixels.height, kMaxImageSide);
  if (w < 1 || h < 1 || paper.width != w || paper.height != h) return false;
  if (w == pixels.width && h == pixels.height) return paper.pasteOpenedImage(flow, pixels, true);
  // A larger picture gives its top-left part.
  TMTC part;
  if (!part.Resize(w, h) || !part.Copy({0, 0}, pixels, Area(0, 0, w, h))) return false;
  return paper.pasteOpenedImage(flow, part, true);
}

FileError saveComposite(TPaper& paper, const std::string& path, FileKind kind, const JpegOptions& jpeg, int pngLevel) {
  if (kind != FileKind::Bmp && kind != FileKind::Jpeg && kind != FileKind::Png) return FileError::BadArgument;
  CompositeForSaving composite(paper);
  const TTC& image = paper.composite();
  if (!image.IsAllocated()) return FileError::BadArgument;
  BitmapInfoHeader header = image.InfoHeader(paper.resolution);
  // The composite's fourth bytes mean nothing: every kind gets the colours alone.
  header.bitCount = 24;
  switch (kind) {
    case FileKind::Bmp: return bmpSaveImage(path, header, image);
    case FileKind::Jpeg: return jpegSaveImage(path, header, image, jpeg);
    default: return pngSaveImage(path, header, image, pngLevel);
  }
}

FileError saveLayerImage(const CLayerData& layer, int32_t resolution, const std::string& path, FileKind kind) {
  if ((kind != FileKind::Bmp && kind != FileKind::Png) || !layer.pixels || !layer.pixels->IsValid())
    return FileError::BadArgument;
  const CBlockVMTC& src = *layer.pixels;
  TMTC image;
  if (!image.Resize(src.width, src.height)) return FileError::OutOfMemory;
  if (!src.ReadInto(image, {0, 0}, false, 255, Area(src.size()))) return FileError::OutOfMemory;
  BitmapInfoHeader header = image.InfoHeader(resolution);
  if (kind == FileKind::Bmp) {
    header.bitCount = 24;
    return bmpSaveImage(path, header, image);
  }
  return pngSaveImage(path, header, image);
}

std::string layerFileSuggestion(const std::string& paperName, int32_t layerIndex) {
  return paperName.empty() ? formatMessage("layer%d", {layerIndex})
                           : formatMessage("%s_layer%d", {paperName, layerIndex});
}

std::string quickSaveName(const std::string& folder, int year, int month, int day,
                          const std::function<bool(const std::string&)>& exists) {
  std::string prefix = folder;
  if (!prefix.empty() && prefix.back() != '/') prefix += '/';
  prefix += formatMessage("%d-%d-%d-", {year, month, day});
  // Far more than a day of quick saves; the search ends even in a folder
  // that claims every name exists.
  for (int n = 0; n < 1000000; ++n) {
    std::string name = formatMessage("%s%d.bmp", {prefix, n});
    if (!exists(name)) return name;
  }
  return {};
}

JpegOptions jpegOptionsOf(const CAppProfile& p) {
  JpegOptions o;
  o.progressive = p.jpegUseProgressive;
  o.smooth = p.jpegUseSmooth;
  o.smoothAmount = p.jpegValSmooth;
  o.qualityType = p.jpegQType;
  o.quality = p.jpegQuality;
  o.qualityVeryHigh = p.jpegQVHigh;
  o.qualityHigh = p.jpegQHigh;
  o.qualityStd = p.jpegQStd;
  o.qualityLow = p.jpegQLow;
  return o;
}

void storeJpegOptions(CAppProfile& p, const JpegOptions& o) {
  p.jpegUseProgressive = o.progressive;
  p.jpegUseSmooth = o.smooth;
  p.jpegValSmooth = std::clamp(o.smoothAmount, 0, 100);
  p.jpegQType = std::clamp(o.qualityType, 0, 4);
  p.jpegQuality = std::clamp(o.quality, 0, 100);
}

}  // namespace vl
