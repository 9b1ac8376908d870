#include "paperfile/paper_psd.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <span>
#include <vector>

#include "document/blend_modes.h"
#include "platform/strings.h"
#include "platform/ui_services.h"

namespace vl {
namespace {

// Longest name a paste or a rename takes: its padded length must fit a
// packet's 16-bit field.
constexpr size_t kMaxName = 65533;
// Image packets of one opening must leave room in a stream of at most 2 GiB.
constexpr uint64_t kStreamImageBudget = 0x7FFFFFFFu - (uint64_t(64) << 20);

struct Rect {
  int64_t left = 0, top = 0, right = 0, bottom = 0;
  int64_t width() const { return right - left; }
  int64_t height() const { return bottom - top; }
  bool empty() const { return right <= left || bottom <= top; }
  bool operator==(const Rect&) const = default;
};

Rect intersect(const Rect& a, const Rect& b) {
  Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
  return r.empty() ? Rect{} : r;
}

Rect unite(const Rect& a, const Rect& b) {
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

// One layer of the file as the paper gets it.
struct LayerPlan {
  int32_t index = 0;  // the record's position in the file
  PsdLayerRecord record;
  Rect stored;        // the record's rectangle
  Rect content;       // what of it the layer keeps: all of it, unless the layer would be too large
  Rect extent;        // the layer image in paper coordinates: the paper and the content
  bool visible = true;
  int mode = kModeNormal;
  bool dissolve = false;
  uint8_t opacity = 255, amount = 255;
  std::string name;

  // The picture pasted from the layer image's corner to the content's far corner (1 × 1 without content).
  int64_t pasteWidth() const { return content.empty() ? 1 : content.right - extent.left; }
  int64_t pasteHeight() const { return content.empty() ? 1 : content.bottom - extent.top; }
  bool fitsPacket() const { return pasteWidth() <= kMaxPaperSide && pasteHeight() <= kMaxPaperSide; }
};

// A name as the paper keeps it: up to a zero byte (packets end names with
// one) and short enough for a packet, cut between characters.
std::string paperName(std::string s) {
  if (const size_t z = s.find('\0'); z != std::string::npos) s.resize(z);
  if (s.size() > kMaxName) {
    size_t n = kMaxName;
    while (n > 0 && (uint8_t(s[n]) & 0xC0) == 0x80) --n;
    s.resize(n);
  }
  return s;
}

// The name a record without one gets: "(레이어 n)", "(배경)" for the first,
// with a star when the record's id is negative.
std::string unnamedLayer(int32_t index, int32_t id) {
  const std::string_view star = id < 0 ? "*" : "";
  if (index == 0) return formatMessage("(%s%s)", {star, dataText(TextId::PsdBackgroundName)});
  return formatMessage("(%s%s %d)", {star, dataText(TextId::LayerDefaultName), index});
}

void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

// The 72-byte layer attribute block an image packet carries.
std::vector<uint8_t> attributeBlock(bool visible, bool maskLock, int mode, uint8_t opacity, int64_t offsetX,
                                    int64_t offsetY) {
  std::vector<uint8_t> b(TPaper::kLayerAttributeBlock, 0);
  b[4] = uint8_t((visible ? 1 : 0) | (maskLock ? 2 : 0));
  b[6] = uint8_t(mode);
  b[7] = opacity;
  put32(&b[32], uint32_t(int32_t(offsetX)));
  put32(&b[36], uint32_t(int32_t(offsetY)));
  put32(&b[48], NeutralColour(mode) & 0x00FFFFFFu);
  return b;
}

int readerFailure(PsdFile& reader, FileError e) {
  const std::string why = psdErrorText(reader);
  if (!why.empty()) setFailureDetail(TextId::DetailText, {why});
  return errorCode(e);
}

int failure(int code, TextId why, std::initializer_list<MessageArg> args = {}) {
  setFailureDetail(why, args);
  return code;
}

// The layers of the file, bottom first, without folder records.
FileError planLayers(PsdFile& reader, const PsdPaperSize& size, std::vector<LayerPlan>& plans) {
  plans.clear();
  int32_t count = 0;
  FileError e = psdReadLayerTable(reader, count);
  if (e != FileError::None) return e;
  std::vector<PsdLayerRecord> records;
  try {
    records.resize(size_t(count));
    plans.reserve(size_t(count));
  } catch (const std::bad_alloc&) {
    return FileError::OutOfMemory;
  }
  for (int32_t i = 0; i < count; ++i)
    if ((e = psdGetLayerRecord(reader, i, records[size_t(i)])) != FileError::None) return e;
  // Folders close above their layers: from the top down, a folder record
  // opens a folder and its end marker closes it.
  std::vector<bool> hiddenByFolder(size_t(count), false);
  std::vector<bool> folders;
  for (int32_t i = count - 1; i >= 0; --i) {
    const PsdLayerRecord& r = records[size_t(i)];
    const bool inHidden = !folders.empty() && folders.back();
    if (r.sectionType == 1 || r.sectionType == 2) {
      folders.push_back(inHidden || (r.flags & kPsdFlagHidden) != 0);
    } else if (r.sectionType == 3) {
      if (!folders.empty()) folders.pop_back();
    } else {
      hiddenByFolder[size_t(i)] = inHidden;
    }
  }
  const Rect paper{0, 0, size.width, size.height};
  for (int32_t i = 0; i < count; ++i) {
    const PsdLayerRecord& r = records[size_t(i)];
    if (r.sectionType != 0) continue;
    LayerPlan p;
    p.index = i;
    p.record = r;
    p.stored = {r.left, r.top, r.right, r.bottom};
    p.content = p.stored.empty() ? Rect{} : p.stored;
    p.extent = p.content.empty() ? paper : unite(paper, p.content);
    if (!layerSizeAllowed(p.extent.width(), p.extent.height())) {
      // Far beyond what a layer can hold: the paper's part of it.
      p.content = intersect(p.stored, paper);
      p.extent = paper;
    }
    p.visible = (r.flags & kPsdFlagHidden) == 0 && (r.flags & 0x18) != 0x18 && !hiddenByFolder[size_t(i)];
    p.mode = psdBlendModeOf(r.blendKey, p.dissolve);
    p.opacity = r.opacity;
    if (p.dissolve) {
      p.amount = r.opacity;
      p.opacity = 255;
    }
    p.name = r.name.empty() ? unnamedLayer(i, r.id) : paperName(r.name);
    plans.push_back(std::move(p));
  }
  return FileError::None;
}

// Where the extra channels (masks) start among the merged image's channels, and how many there are.
void extraChannels(const PsdFileHeader& h, int32_t& first, int32_t& count) {
  first = psdColourChannels(h.colorMode) + (h.mergedAlpha ? 1 : 0);
  count = std::max(0, int32_t(h.channels) - first);
}

// A picture of w × h in the mode's neutral colour, transparent, with the
// part `from` of `source` at `at` (which lies inside the picture).
bool makePicture(TMTC& out, int64_t w, int64_t h, int mode, const TMTC* source, Area from, Point at) {
  if (!out.Resize(int32_t(w), int32_t(h))) return false;
  const uint32_t clear = NeutralColour(mode) & 0x00FFFFFFu;
  if (!source || from.empty()) {
    out.Fill(clear);
    return true;
  }
  // Only what the source leaves uncovered is cleared.
  const int32_t right = at.x + from.width, bottom = at.y + from.height;
  out.FillMasked(Area(0, 0, out.width, at.y), clear, 0xFFFFFFFFu);
  out.FillMasked(Area(0, bottom, out.width, out.height - bottom), clear, 0xFFFFFFFFu);
  out.FillMasked(Area(0, at.y, at.x, from.height), clear, 0xFFFFFFFFu);
  out.FillMasked(Area(right, at.y, out.width - right, from.height), clear, 0xFFFFFFFFu);
  return out.Copy(at, *source, from);
}

// Opening builds the paper layer by layer; the composite is made once, at the end.
class HeldComposition {
 public:
  explicit HeldComposition(TPaper& p) : paper(p) { ++paper.compositionHeld; }
  ~HeldComposition() {
    --paper.compositionHeld;
    paper.recomposeAll(true);
  }
  HeldComposition(const HeldComposition&) = delete;
  HeldComposition& operator=(const HeldComposition&) = delete;

 private:
  TPaper& paper;
};

int openLayer(PsdFile& reader, TPaper& paper, TFlowImage& flow, bool record, const LayerPlan& p, bool first,
              bool& usedFirstLayer) {
  const PsdLayerRecord& r = p.record;
  TMTC pixels;
  Area from;  // the content inside the pixels read
  if (!p.content.empty()) {
    const auto& ids = r.channelIds;
    const bool readable = std::any_of(ids.begin(), ids.end(), [](int16_t id) { return id >= -1 && id <= 2; });
    if (!readable) return failure(kPsdNoLayerChannel, TextId::DetailPsdNoLayerChannel, {p.index});
    if (const FileError e = psdReadLayerPixels(reader, p.index, pixels); e != FileError::None)
      return readerFailure(reader, e);
    if (!pixels.IsAllocated()) return failure(kPsdNoLayerChannel, TextId::DetailPsdNoLayerChannel, {p.index});
    from = Area(int32_t(p.content.left - p.stored.left), int32_t(p.content.top - p.stored.top),
                int32_t(p.content.width()), int32_t(p.content.height()));
  }
  const Point at{int32_t(p.content.left - p.extent.left), int32_t(p.content.top - p.extent.top)};
  const std::vector<uint8_t> attributes =
      attributeBlock(p.visible, (r.flags & kPsdFlagProtectTransparency) != 0, p.mode, p.opacity, -p.extent.left,
                     -p.extent.top);
  const TMTC* source = p.content.empty() ? nullptr : &pixels;
  int32_t layer = 0;
  TMTC picture;
  if (first && p.extent == Rect{0, 0, paper.width, paper.height}) {
    // The first layer covers the paper as it is: the paper's own layer takes it as the opening picture.
    if (!makePicture(picture, paper.width, paper.height, p.mode, source, from, at)) {
      ui().Warning(text(TextId::OutOfMemory));
      return failure(kPsdLayerNotCreated, TextId::DetailPsdLayerNotCreated, {p.index});
    }
    pixels.Free();
    if (!paper.pasteOpenedImage(flow, picture, record, &p.name, attributes))
      return failure(kPsdLayerNotCreated, TextId::DetailPsdLayerNotCreated, {p.index});
    usedFirstLayer = true;
  } else {
    if (record && !p.fitsPacket()) return errorCode(FileError::BadArgument);
    layer = paper.insertLayer(flow, paper.layerCount(), p.visible, p.opacity, p.mode, int32_t(p.extent.width()),
                              int32_t(p.extent.height()), record);
    if (layer < 0) return failure(kPsdLayerNotCreated, TextId::DetailPsdLayerNotCreated, {p.index});
    if (p.fitsPacket()) {
      if (!makePicture(picture, p.pasteWidth(), p.pasteHeight(), p.mode, source, from, at)) {
        ui().Warning(text(TextId::OutOfMemory));
        return failure(kPsdLayerNotCreated, TextId::DetailPsdLayerNotCreated, {p.index});
      }
      pixels.Free();
      if (!paper.pasteIntoLayer(flow, layer, picture, record, &p.name, attributes))
        return failure(kPsdLayerNotCreated, TextId::DetailPsdLayerNotCreated, {p.index});
    } else {
      // Larger than a packet holds (the paper does not record): written in place.
      CLayerData& l = *paper.layerAt(layer);
      if (!l.pixels->WriteFrom(pixels, at, 255, from)) {
        ui().Warning(text(TextId::OutOfMemory));
        return failure(kPsdLayerNotCreated, TextId::DetailPsdLayerNotCreated, {p.index});
      }
      l.pixels->Compact();
      l.name = p.name;
      l.maskLock = (r.flags & kPsdFlagProtectTransparency) ? 1 : 0;
      l.offsetX = int32_t(-p.extent.left);
      l.offsetY = int32_t(-p.extent.top);
      l.RenderThumbnail();
      paper.markModified();
      paper.refreshLayerContent(layer, true);
      if (flow.boundLayer == layer) paper.loadLayerToFlow(flow, layer, true);
    }
  }
  if (p.dissolve && !paper.setLayerDissolve(layer, true, p.amount, record))
    return failure(kPsdLayerNotCreated, TextId::DetailPsdLayerNotCreated, {p.index});
  return 0;
}

int openMerged(PsdFile& reader, TPaper& paper, TFlowImage& flow, bool record) {
  TMTC merged;
  if (const FileError e = psdReadMergedPixels(reader, merged); e != FileError::None) return readerFailure(reader, e);
  if (!merged.IsAllocated()) return failure(kPsdNoMergedChannel, TextId::DetailPsdNoMergedChannel);
  TMTC part;
  const TMTC* picture = &merged;
  if (merged.width != paper.width || merged.height != paper.height) {
    if (!makePicture(part, paper.width, paper.height, kModeNormal, &merged, Area(0, 0, paper.width, paper.height),
                     {0, 0})) {
      ui().Warning(text(TextId::OutOfMemory));
      return failure(kPsdLayerNotCreated, TextId::DetailPsdLayerNotCreated, {0});
    }
    merged.Free();
    picture = &part;
  }
  const std::string name = unnamedLayer(0, 0);
  const std::vector<uint8_t> attributes = attributeBlock(true, false, kModeNormal, 255, 0, 0);
  if (!paper.pasteOpenedImage(flow, *picture, record, &name, attributes))
    return failure(kPsdLayerNotCreated, TextId::DetailPsdLayerNotCreated, {0});
  return 0;
}

// Each extra channel becomes a mask through a passing layer whose
// transparency is the channel, so the paper's own operations (and a replay
// of them) make it.
int openMasks(PsdFile& reader, TPaper& paper, TFlowImage& flow, bool record, const PsdFileHeader& h) {
  int32_t first = 0, count = 0;
  extraChannels(h, first, count);
  if (count == 0) return 0;
  std::vector<std::string> names;
  psdExtraChannelNames(reader, names);  // a file without names is fine
  const int32_t w = paper.width, ht = paper.height;
  const bool replaceEmptyFirst = paper.masks.Count() == 1 && !paper.masks.At(0)->HasChannel();
  TChannel channel;
  TMTC picture;
  for (int32_t k = 0; k < count; ++k) {
    if (const FileError e = psdReadMergedChannel(reader, first + k, channel); e != FileError::None)
      return readerFailure(reader, e);
    if (!picture.IsAllocated() && !picture.Resize(w, ht)) {
      ui().Warning(text(TextId::OutOfMemory));
      return errorCode(FileError::OutOfMemory);
    }
    for (int32_t y = 0; y < ht; ++y) {
      const uint8_t* s = channel.Row(y);
      uint32_t* d = picture.Row(y);
      for (int32_t x = 0; x < w; ++x) d[x] = uint32_t(s[x]) << 24;
    }
    channel.Free();
    if (!paper.pasteAsNewLayer(flow, picture, record))
      return failure(kPsdLayerNotCreated, TextId::DetailPsdMaskNotCreated, {k + 1});
    const int32_t passing = paper.currentLayerIndex();
    if (!paper.maskFromLayer(1, record)) return errorCode(FileError::OutOfMemory);
    const std::string name = size_t(k) < names.size() && !paperName(names[size_t(k)]).empty()
                                 ? paperName(names[size_t(k)])
                                 : formatMessage("%s%d", {dataText(TextId::MaskDefaultName), k + 1});
    paper.renameMask(paper.masks.Current(), name, record);
    if (!paper.deleteLayer(flow, passing, record)) return errorCode(FileError::OutOfMemory);
  }
  // The file's channels take the place of the paper's empty first mask; as
  // saved selections they start out of use.
  if (replaceEmptyFirst) {
    paper.setCurrentMask(0, record);
    paper.deleteMask(record);
  }
  paper.setCurrentMask(0, record);
  paper.setSelectionEnabled(false, record);
  paper.setSelectionVisible(false, record);
  return 0;
}

uint64_t imageBytes(int64_t w, int64_t h) { return uint64_t(w) * uint64_t(h) * 4; }

bool recordable(const std::vector<LayerPlan>& plans, const PsdFileHeader& h, const PsdPaperSize& size) {
  const uint64_t paperBytes = imageBytes(size.width, size.height);
  uint64_t total = plans.empty() ? paperBytes : 0;
  for (size_t i = 0; i < plans.size(); ++i) {
    const LayerPlan& p = plans[i];
    if (i == 0 && p.extent == Rect{0, 0, size.width, size.height}) {
      total += paperBytes;
      continue;
    }
    if (!p.fitsPacket()) return false;
    total += imageBytes(p.pasteWidth(), p.pasteHeight());
  }
  int32_t first = 0, count = 0;
  extraChannels(h, first, count);
  total += paperBytes * uint64_t(count);
  return total <= kStreamImageBudget;
}

// ---- saving ----

// A channel id's byte in a pixel: −1 alpha, 0 red, 1 green, 2 blue.
int byteOf(int16_t id) { return id == -1 ? 3 : 2 - id; }

class PaperSource : public PsdWriteSource {
 public:
  PaperSource(const TPaper& p, int32_t maskCount) : paper(p), masks(maskCount) {}

  bool LayerRecord(int32_t layer, PsdLayerRecord& r) override {
    const CLayerData* l = paper.layerAt(layer);
    if (!l || !l->pixels) return false;
    r = PsdLayerRecord{};
    // What holds any opacity, in paper coordinates: the rest is transparent in the file too.
    if (size_t(layer) >= content.size()) {
      try {
        content.resize(size_t(layer) + 1);
      } catch (const std::bad_alloc&) {
        return false;
      }
    }
    const Bounds c = content[size_t(layer)] = l->pixels->ContentBounds();
    if (c.right > c.left && c.bottom > c.top) {
      r.left = c.left - l->offsetX;
      r.top = c.top - l->offsetY;
      r.right = c.right - l->offsetX;
      r.bottom = c.bottom - l->offsetY;
    }
    r.channelIds = {-1, 0, 1, 2};
    psdBlendKeyOf(l->Mode(), l->dissolve != 0, r.blendKey);
    // A dissolving layer shows its amount as the file's opacity.
    r.opacity = l->dissolve ? uint8_t(mul8(l->dissolveAmount, l->opacity)) : l->opacity;
    r.flags = uint8_t((l->maskLock ? kPsdFlagProtectTransparency : 0) | (l->visible ? 0 : kPsdFlagHidden));
    r.id = layer + 1;
    r.name = l->name;
    return true;
  }
  bool LayerChannelRow(int32_t layer, int16_t id, int32_t row, uint8_t* dst, int32_t width) override {
    const CLayerData* l = paper.layerAt(layer);
    if (!l || !l->pixels || id < -1 || id > 2 || size_t(layer) >= content.size()) return false;
    const Bounds& c = content[size_t(layer)];
    return l->pixels->ReadChannelRow(c.top + row, byteOf(id), dst, c.left, width);
  }
  bool MergedChannelRow(int32_t channel, int32_t row, uint8_t* dst, int32_t width) override {
    const TTC& c = paper.composite();
    if (row < 0 || row >= c.height || width != c.width) return false;
    psdChannelRow(c.Row(row), width, int16_t(channel), dst);
    return true;
  }
  bool ExtraChannelName(int32_t channel, std::string& name) override {
    const CMaskData* m = channel < masks ? paper.masks.At(channel) : nullptr;
    if (!m) return false;
    name = m->name;
    return true;
  }
  bool ExtraChannelRow(int32_t channel, int32_t row, uint8_t* dst, int32_t width) override {
    const CMaskData* m = channel < masks ? paper.masks.At(channel) : nullptr;
    if (!m) return false;
    std::memset(dst, 0, size_t(width));
    if (!m->HasChannel()) return true;
    // Paper point (x, y) is channel point (x + originX, y + originY).
    const Size s = m->ChannelSize();
    const int64_t y = int64_t(row) + m->originY;
    const int64_t x0 = std::max<int64_t>(0, m->originX), x1 = std::min<int64_t>(s.width, int64_t(width) + m->originX);
    if (y < 0 || y >= s.height || x1 <= x0) return true;
    return m->channel->ReadRow(int32_t(y), dst + (x0 - m->originX), int32_t(x0), int32_t(x1 - x0));
  }
  bool LayerName(int32_t, std::string&) override { return false; }
  void Progress(int32_t, int32_t) override {}

 private:
  const TPaper& paper;
  int32_t masks;
  std::vector<Bounds> content;  // each layer's written rectangle, in image coordinates
};

}  // namespace

FileError psdPaperSize(PsdFile& reader, PsdPaperSize& size) {
  PsdFileHeader h;
  const FileError e = psdReadHeader(reader, h);
  if (e != FileError::None) return e;
  size.width = std::min(h.width, kMaxPaperSide);
  size.height = std::min(h.height, kMaxPaperSide);
  size.resolution = h.xDpi;
  return FileError::None;
}

bool psdRecordable(PsdFile& reader) {
  PsdFileHeader h;
  PsdPaperSize size;
  std::vector<LayerPlan> plans;
  return psdReadHeader(reader, h) == FileError::None && psdPaperSize(reader, size) == FileError::None &&
         planLayers(reader, size, plans) == FileError::None && recordable(plans, h, size);
}

int psdIntoPaper(PsdFile& reader, TPaper& paper, TFlowImage& flow, bool record) {
  clearFailureDetail();
  PsdFileHeader h;
  PsdPaperSize size;
  FileError e = psdReadHeader(reader, h);
  if (e == FileError::None) e = psdPaperSize(reader, size);
  if (e != FileError::None) return readerFailure(reader, e);
  if (paper.width != size.width || paper.height != size.height || paper.layerCount() != 1)
    return errorCode(FileError::BadArgument);
  std::vector<LayerPlan> plans;
  if ((e = planLayers(reader, size, plans)) != FileError::None) return readerFailure(reader, e);
  if (record && !recordable(plans, h, size)) return errorCode(FileError::BadArgument);
  HeldComposition held(paper);
  int code = 0;
  if (plans.empty()) {
    code = openMerged(reader, paper, flow, record);
  } else {
    bool usedFirstLayer = false;
    for (size_t i = 0; i < plans.size() && code == 0; ++i)
      code = openLayer(reader, paper, flow, record, plans[i], i == 0, usedFirstLayer);
    // The paper's own empty layer goes when the file's first layer did not fill it.
    if (code == 0 && !usedFirstLayer && !paper.deleteLayer(flow, 0, record))
      code = failure(kPsdLayerNotCreated, TextId::DetailPsdLayerNotCreated, {0});
  }
  if (code == 0) code = openMasks(reader, paper, flow, record, h);
  if (code == 0 && paper.layerCount() > 0) paper.setCurrentLayer(flow, paper.topLayerIndex());
  // The opened picture is where the paper's history starts.
  if (record) paper.clearUndo();
  return code;
}

int savePaperPsd(TPaper& paper, const std::string& path, int version, bool overwrite, int32_t* droppedMasks) {
  clearFailureDetail();
  if (droppedMasks) *droppedMasks = 0;
  struct stat st;
  if (!overwrite && ::stat(path.c_str(), &st) == 0) return failure(kPsdFileExists, TextId::DetailFileExists);
  PsdFilePtr writer;
  if (psdCreateWriter(writer) != FileError::None || !writer)
    return failure(kPsdWriterNotCreated, TextId::DetailPsdWriterNotCreated);
  // Masks go as extra channels when any of them holds a selection.
  const int32_t maskCount = paper.masks.AnyChannel() ? paper.masks.Count() : 0;
  const int32_t written = std::min(maskCount, kPsdSaveChannels - 3);
  if (droppedMasks) *droppedMasks = maskCount - written;
  PsdDocumentDescription d;
  d.width = paper.width;
  d.height = paper.height;
  d.xDpi = d.yDpi = paper.resolution;
  d.colorMode = kPsdRgb;
  d.channels = uint16_t(3 + written);
  d.layerCount = paper.layerCount();
  d.currentLayer = std::max(paper.currentLayerIndex(), 0);
  psdSetDescription(*writer, d);
  psdSetVersion(*writer, version);
  // The composite without the grid, and the grid back afterwards.
  paper.recomposeAll(false);
  PaperSource source(paper, written);
  const FileError e = psdWrite(*writer, path, source);
  paper.recomposeAll(true);
  if (e != FileError::None) return readerFailure(*writer, e);
  return 0;
}

}  // namespace vl
