#include "paperfile/paper_file.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "document/blend_modes.h"
#include "events/packets.h"
#include "files/event_body.h"
#include "files/thumbnail_block.h"
#include "platform/strings.h"
#include "platform/ui_services.h"

namespace vl {
namespace {

constexpr char kLayerMagic[4] = {'V', 'L', 'Y', 'R'};
constexpr char kMaskMagic[4] = {'V', 'M', 'S', 'K'};
constexpr char kLayerRunMagic[4] = {'V', 'B', 'I', 'M'};
constexpr char kMaskRunMagic[4] = {'V', 'B', 'M', 'K'};
// Where a layer may lie from the paper: far enough for any layer a paper
// makes, near enough that its extent never leaves 32 bits.
constexpr int32_t kMaxLayerOrigin = 1 << 20;
// A head, a name of at most 65534 bytes and its padding.
constexpr uint64_t kMaxImageChunk = kImageChunkHeadBytes + 65540;
// Masks a file may hold: their count is stored in 16 bits.
constexpr int32_t kMaxMasks = 0xFFFF;

uint16_t clamp16(int64_t v) { return uint16_t(std::clamp<int64_t>(v, 0, 0xFFFF)); }

bool isMagic(const uint8_t* p, const char magic[4]) { return std::memcmp(p, magic, 4) == 0; }

int32_t tilesFor(int32_t side, int32_t tile) { return int32_t((int64_t(side) + tile - 1) / tile); }

// ---- writing ----

ImageChunk layerChunk(const CLayerData& l, int32_t index, Size paper) {
  const CBlockVMTC& image = *l.pixels;
  ImageChunk c;
  std::memcpy(c.magic, kLayerMagic, 4);
  c.number = uint32_t(index);
  c.flags = uint16_t(kLayerAlwaysSet | (l.visible ? kLayerVisible : 0) | (l.maskLock ? kLayerMaskLock : 0) |
                     (l.dissolve ? kLayerDissolve : 0));
  c.mode = l.mode;
  c.opacity = l.opacity;
  c.tileWidth = c.tileHeight = image.tileSize;
  c.tilesAcross = image.tilesAcross;
  c.tilesDown = image.tilesDown;
  c.width = image.width;
  c.height = image.height;
  c.originX = l.offsetX;
  c.originY = l.offsetY;
  c.paperWidth = paper.width;
  c.paperHeight = paper.height;
  c.uniform = image.defaultUniform;
  c.dissolveAmount = l.dissolveAmount;
  c.dissolveSeed = uint32_t(l.random.seed);
  c.name = l.name;
  return c;
}

ImageChunk maskChunk(const CMaskData& m, Size paper) {
  ImageChunk c;
  std::memcpy(c.magic, kMaskMagic, 4);
  c.number = uint32_t(m.id);
  c.originX = m.originX;
  c.originY = m.originY;
  c.paperWidth = paper.width;
  c.paperHeight = paper.height;
  c.name = m.name;
  if (m.HasChannel()) {
    const CBlockVCH& image = *m.channel;
    c.flags = kMaskHasChannel;
    c.tileWidth = c.tileHeight = image.tileSize;
    c.tilesAcross = image.tilesAcross;
    c.tilesDown = image.tilesDown;
    c.width = image.width;
    c.height = image.height;
    c.uniform = image.defaultUniform;
  }
  return c;
}

// The composite reduced; the grid is no part of the picture.
bool thumbnailBlock(TPaper& paper, std::vector<uint8_t>& block) {
  if (paper.gridShown) paper.recomposeAll(false);
  TMTC thumbnail;
  const bool made = reduceToThumbnail(paper.compositeImage, thumbnail);
  if (paper.gridShown) paper.recomposeAll(true);
  return made && makeThumbnailBlock(thumbnail, paper.width, paper.height, 1, {}, block) == FileError::None;
}

void reportReadFailure(TextId part, FileError e) {
  const int code = errorCode(e);
  ui().Warning(withFailureReason(formatMessage(text(TextId::ReadPartFailed), {text(part), code}), code));
}

FileError failedPart(PaperSaveFailure* failure, TextId part, const std::string& name, FileError e) {
  if (failure) {
    failure->part = part;
    try {
      failure->name = name;
    } catch (const std::bad_alloc&) {
    }
  }
  return e;
}

// ---- reading ----

bool readChunk(InputSource& in, uint64_t at, uint64_t bytes, std::vector<uint8_t>& out) {
  try {
    out.resize(size_t(bytes));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return in.ReadAt(at, out.data(), out.size());
}

// The runs that cover `tiles` tiles take at least 2 bytes a tile: an image
// the rest of the file cannot fill is refused before it is allocated.
bool runsCanFit(const InputSource& in, uint64_t at, int64_t tiles) {
  return uint64_t(tiles) * 2 <= in.Size() - std::min(in.Size(), at);
}

class PaperReader {
 public:
  PaperReader(InputSource& in, TPaper& paper, const PaperLoadOptions& o, WorkerPool& pool)
      : in(in), paper(paper), o(o), pool(pool) {}

  // A layer chunk of `bytes` at `at` and its runs; `at` moves past them.
  FileError Layer(uint64_t& at, uint64_t bytes) {
    if (!paper.layers.CanAdd()) return FileError::TooLarge;
    ImageChunk c;
    if (const FileError e = Head(at, bytes, c); e != FileError::None) return e;
    const bool fits = c.tileWidth == 32 && c.tileHeight == 32 && c.width >= 1 && c.height >= 1 &&
                      c.width <= o.maxImageSide && c.height <= o.maxImageSide && layerSizeAllowed(c.width, c.height) &&
                      c.tilesAcross == tilesFor(c.width, 32) && c.tilesDown == tilesFor(c.height, 32) &&
                      c.paperWidth == paper.width && c.paperHeight == paper.height &&
                      std::abs(int64_t(c.originX)) <= kMaxLayerOrigin && std::abs(int64_t(c.originY)) <= kMaxLayerOrigin;
    if (!fits) return failWith(FileError::Corrupt, TextId::DetailLayerImage, {c.width, c.height});
    if ((c.mode & 0x7F) >= kBlendModeCount) return FileError::Corrupt;
    uint64_t runs = at + bytes;
    if (!runsCanFit(in, runs, int64_t(c.tilesAcross) * c.tilesDown)) return FileError::Truncated;
    std::unique_ptr<CLayerData> l(new (std::nothrow) CLayerData(paper.layers.Count(), false));
    if (!l || !l->InitPixels(c.width, c.height, c.mode & 0x7F)) return FileError::OutOfMemory;
    CBlockVMTC& image = *l->pixels;
    image.defaultUniform = c.uniform;
    if (const FileError e = readTileRuns(in, runs, kLayerRunMagic, image, &pool); e != FileError::None)
      return runError(e);
    image.RecomputeOccupied();
    l->name = std::move(c.name);
    l->mode = c.mode;
    l->opacity = c.opacity;
    l->visible = (c.flags & kLayerVisible) ? 1 : 0;
    l->maskLock = (c.flags & kLayerMaskLock) ? 1 : 0;
    l->dissolve = (c.flags & kLayerDissolve) ? 1 : 0;
    l->dissolveAmount = c.dissolveAmount;
    l->random = RandomState(int32_t(c.dissolveSeed), 0, 255);
    l->offsetX = c.originX;
    l->offsetY = c.originY;
    l->paperWidth = paper.width;
    l->paperHeight = paper.height;
    const Size box = paper.layers.ThumbnailBox();
    if (!l->SizeThumbnail(box.width, box.height)) return FileError::OutOfMemory;
    if (paper.layers.InsertExisting(paper.layers.Count(), std::move(l)) < 0) return FileError::OutOfMemory;
    at = runs;
    return FileError::None;
  }

  FileError Mask(uint64_t& at, uint64_t bytes) {
    if (int32_t(masks.size()) >= kMaxMasks) return FileError::TooLarge;
    ImageChunk c;
    if (const FileError e = Head(at, bytes, c); e != FileError::None) return e;
    if (std::abs(int64_t(c.originX)) > kMaxMaskOrigin || std::abs(int64_t(c.originY)) > kMaxMaskOrigin)
      return FileError::Corrupt;
    std::unique_ptr<CMaskData> m(new (std::nothrow) CMaskData(0));
    if (!m) return FileError::OutOfMemory;
    uint64_t runs = at + bytes;
    if (c.flags & kMaskHasChannel) {
      const int32_t most = std::min(o.maxImageSide, kMaxMaskSide);
      const bool fits = c.tileWidth == 64 && c.tileHeight == 64 && c.width >= 1 && c.height >= 1 && c.width <= most &&
                        c.height <= most && c.tilesAcross == tilesFor(c.width, 64) &&
                        c.tilesDown == tilesFor(c.height, 64) && c.paperWidth == paper.width &&
                        c.paperHeight == paper.height;
      if (!fits) return failWith(FileError::Corrupt, TextId::DetailLayerImage, {c.width, c.height});
      if (c.uniform > 255) return FileError::Corrupt;
      if (!runsCanFit(in, runs, int64_t(c.tilesAcross) * c.tilesDown)) return FileError::Truncated;
      m->channel.reset(new (std::nothrow) CBlockVCH(c.width, c.height));
      if (!m->channel || !m->channel->IsValid()) return FileError::OutOfMemory;
      m->channel->defaultUniform = c.uniform;
      if (const FileError e = readTileRuns(in, runs, kMaskRunMagic, *m->channel, &pool); e != FileError::None)
        return runError(e);
    }
    m->name = std::move(c.name);
    m->originX = c.originX;
    m->originY = c.originY;
    try {
      masks.push_back(std::move(m));
    } catch (const std::bad_alloc&) {
      return FileError::OutOfMemory;
    }
    at = runs;
    return FileError::None;
  }

  std::vector<std::unique_ptr<CMaskData>> masks;

 private:
  FileError Head(uint64_t at, uint64_t bytes, ImageChunk& c) {
    if (bytes > kMaxImageChunk) return FileError::Corrupt;
    std::vector<uint8_t> head;
    if (!readChunk(in, at, bytes, head)) return FileError::OutOfMemory;
    return readImageChunk(head.data(), head.size(), c);
  }
  static FileError runError(FileError e) {
    if (e == FileError::Corrupt && !hasFailureDetail()) setFailureDetail(TextId::DetailTileRuns);
    return e;
  }

  InputSource& in;
  TPaper& paper;
  const PaperLoadOptions& o;
  WorkerPool& pool;
};

// A chunk id as the user may read it.
std::string idText(const uint8_t magic[4]) {
  std::string s;
  for (int i = 0; i < 4; ++i) s.push_back(magic[i] >= 0x20 && magic[i] < 0x7F ? char(magic[i]) : '?');
  return s;
}

}  // namespace

FileError writePaperFile(TPaper& paper, ByteSink& sink, const PaperSaveOptions& options,
                         PaperSaveFailure* failure) {
  clearFailureDetail();
  const Size paperSize{paper.width, paper.height};
  CEventMngr* events = dynamic_cast<CEventMngr*>(&paper.eventHook());
  const bool withEvents = events && events->canSave() && events->CommittedEnd() > 0;

  std::vector<uint8_t> thumbnail, chunk;
  const bool withThumbnail = thumbnailBlock(paper, thumbnail);
  PaperHeader h;
  h.width = paper.width;
  h.height = paper.height;
  // Masks always go: their names and counter are part of what a recording
  // goes on from.
  h.flags = uint16_t(kPaperHasLayers | kPaperHasMasks | kPaperLayerFieldsValid | kPaperMaskFieldsValid |
                     (withThumbnail ? kPaperHasThumbnail : 0) | (withEvents ? kPaperHasEvents : 0) |
                     (paper.selectionVisible ? kPaperSelectionShown : 0) |
                     (paper.selectionEnabled ? kPaperSelectionInUse : 0));
  h.paperColour = paper.paperColor & 0x00FFFFFFu;
  h.currentLayer = clamp16(paper.currentLayerIndex());
  h.currentMask = clamp16(paper.masks.Current());
  h.resolution = clamp16(paper.resolution);
  h.layerCount = clamp16(paper.layerCount());
  h.layerCounter = clamp16(paper.layers.NameCounter());
  h.maskCount = clamp16(paper.masks.Count());
  h.maskCounter = clamp16(paper.masks.NameCounter());
  uint8_t head[kPaperHeaderBytes];
  writePaperHeader(h, head);
  if (!sink.Write(head, sizeof head)) return FileError::WriteFailed;
  if (withThumbnail && !sink.Write(thumbnail.data(), thumbnail.size())) return FileError::WriteFailed;

  WorkerPool pool(options.threads);
  TileRunWriter runs(pool);
  for (int32_t i = 0; i < paper.layerCount(); ++i) {
    const CLayerData& l = *paper.layerAt(i);
    FileError e = FileError::None;
    if (!l.pixels || !l.pixels->IsValid() || l.pixels->tileSize != 32) {
      e = FileError::BadArgument;
    } else if (!makeImageChunk(layerChunk(l, i, paperSize), chunk)) {
      e = FileError::OutOfMemory;
    } else if (!sink.Write(chunk.data(), chunk.size())) {
      e = FileError::WriteFailed;
    } else {
      e = runs.Write(*l.pixels, kLayerRunMagic, sink);
    }
    if (e != FileError::None) return failedPart(failure, TextId::PartLayer, l.name, e);
  }
  for (int32_t i = 0; i < paper.masks.Count(); ++i) {
    const CMaskData& m = *paper.masks.At(i);
    FileError e = FileError::None;
    if (!makeImageChunk(maskChunk(m, paperSize), chunk)) {
      e = FileError::OutOfMemory;
    } else if (!sink.Write(chunk.data(), chunk.size())) {
      e = FileError::WriteFailed;
    } else if (m.HasChannel()) {
      e = runs.Write(*m.channel, kMaskRunMagic, sink);
    }
    if (e != FileError::None) return failedPart(failure, TextId::PartMask, m.name, e);
  }

  if (withEvents) {
    // The stream as a file holds it: closed by its end-of-recording step.
    std::vector<uint8_t> stream;
    try {
      if (!events->writeStream(stream)) return FileError::OutOfMemory;
      stream.push_back(kCatPaper);
      stream.push_back(kPaperRecordingEnd);
    } catch (const std::bad_alloc&) {
      return FileError::OutOfMemory;
    }
    EventBodyInfo info;
    info.paperWidth = paper.width;
    info.paperHeight = paper.height;
    info.steps = uint32_t(events->StepCount()) + 1;
    if (const FileError e = writeEventBody(stream.data(), stream.size(), info, sink); e != FileError::None) return e;
  }
  return FileError::None;
}

FileError savePaperFile(const std::string& path, TPaper& paper, const PaperSaveOptions& options,
                        PaperSaveFailure* failure) {
  WaitCursor wait;
  AtomicFileWriter file(options.calls);
  if (!file.Open(path)) return FileError::CannotOpen;
  BufferedFileSink sink(file);
  if (const FileError e = writePaperFile(paper, sink, options, failure); e != FileError::None) return e;
  if (!sink.Flush() || !file.Commit()) return FileError::WriteFailed;
  return FileError::None;
}

std::string paperSaveFailureText(const std::string& path, FileError e, const PaperSaveFailure& failure) {
  const int code = errorCode(e);
  const std::string message =
      failure.part == TextId::Count ? formatMessage(text(TextId::SaveFailed), {path, code})
                                    : formatMessage(text(TextId::SavePartFailed), {text(failure.part), failure.name, code});
  return withFailureReason(message, code);
}

FileError readPaperFileHeader(InputSource& in, PaperHeader& header, int32_t maxSide) {
  uint8_t head[kPaperHeaderBytes];
  const size_t n = size_t(std::min<uint64_t>(in.Size(), sizeof head));
  if (!in.ReadAt(0, head, n)) return FileError::ReadFailed;
  return readPaperHeader(head, n, maxSide, header);
}

FileError loadPaperFile(InputSource& in, TPaper& paper, TFlowImage& flow, const std::string& name,
                        const PaperLoadOptions& o, PaperLoadReport* report) {
  WaitCursor wait;
  clearFailureDetail();
  PaperLoadReport seen;
  PaperHeader h;
  if (const FileError e = readPaperFileHeader(in, h, o.maxPaperSide); e != FileError::None) return e;

  // A new paper of the file's size, without its first layer and masks,
  // recording nothing while it is filled.
  if (!paper.newPaper(flow, name, h.resolution, h.height, h.width)) return FileError::OutOfMemory;
  CEventMngr* events = dynamic_cast<CEventMngr*>(&paper.eventHook());
  if (events) events->clear();
  paper.eventProtected = 0;
  paper.clearUndo();
  paper.layers.Clear();
  paper.paperColor = h.paperColour & 0x00FFFFFFu;

  WorkerPool pool(o.threads);
  PaperReader reader(in, paper, o, pool);
  std::vector<uint8_t> stream;
  EventBodyInfo eventInfo;
  uint8_t lastUnknown[4] = {};
  const uint64_t size = in.Size();
  for (uint64_t at = kPaperHeaderBytes; at < size;) {
    uint8_t chunk[kChunkHeadBytes];
    if (size - at < kChunkHeadBytes) return FileError::Truncated;
    if (!in.ReadAt(at, chunk, sizeof chunk)) return FileError::ReadFailed;
    const uint64_t bytes = kChunkHeadBytes + uint64_t(readU32(chunk + 4));
    if (bytes > size - at) return FileError::Truncated;
    const uint64_t next = at + bytes;
    const bool layer = isMagic(chunk, kLayerMagic), mask = isMagic(chunk, kMaskMagic);
    if (layer || mask) {
      const FileError e = layer ? reader.Layer(at, bytes) : reader.Mask(at, bytes);
      if (e == FileError::None) continue;
      // A run past the end is the end of the file, not of this part.
      if (e == FileError::Truncated || e == FileError::ReadFailed) return e;
      ++seen.failedParts;
      reportReadFailure(layer ? TextId::PartLayer : TextId::PartMask, e);
      clearFailureDetail();
      at = next;  // its runs are skipped as runs without their owner
    } else if (isMagic(chunk, "VEVP") && !seen.eventsFound) {
      uint64_t pos = at;
      const FileError e = readEventBody(in, pos, o.maxStream, eventInfo, stream);
      if (e == FileError::None) {
        seen.eventsFound = true;
        at = pos;
      } else {
        if (e == FileError::Truncated || e == FileError::ReadFailed) return e;
        stream.clear();
        ui().Warning(text(TextId::EventReadError));
        at = pos == at ? next : pos;
      }
    } else if (isMagic(chunk, "VTNL") || isMagic(chunk, "VBEV") || isMagic(chunk, "VBMK") ||
               isMagic(chunk, "VBIM") || isMagic(chunk, "VEVP")) {
      at = next;
    } else {
      ++seen.ignoredChunks;
      std::memcpy(lastUnknown, chunk, 4);
      at = next;
    }
  }

  if (paper.layerCount() == 0) {
    if (paper.layers.InsertNew(0, paper.width, paper.height, 1, 255, kModeNormal, false) < 0)
      return FileError::OutOfMemory;
    paper.layers.NameLayer(0, 1);
    paper.clearLayerPixels(0);
  }
  // The counters behind default names, so that names given later are the
  // ones a replay of the stream gives.
  if (h.flags & kPaperLayerFieldsValid) paper.layers.SetNameCounter(h.layerCounter);
  CMaskMngr masks(16);
  masks.SetPaperSize({paper.width, paper.height});
  for (size_t i = 0; i < reader.masks.size(); ++i) {
    if (i == 0) {
      masks.Replace(0, std::move(reader.masks[0]));
    } else if (masks.InsertGiven(int32_t(i), reader.masks[i]) < 0) {
      return FileError::OutOfMemory;
    }
  }
  masks.SetPaperSize({paper.width, paper.height});
  if (h.flags & kPaperMaskFieldsValid) masks.SetNameCounter(h.maskCounter);
  if (masks.IsValid(h.currentMask)) masks.SetCurrent(h.currentMask);
  masks.OutlineBuild(masks.Current());
  paper.masks = std::move(masks);
  paper.selectionVisible = (h.flags & kPaperSelectionShown) ? 1 : 0;
  paper.selectionEnabled = (h.flags & kPaperSelectionInUse) ? 1 : 0;

  const int32_t current = paper.layers.IsValid(h.currentLayer) ? h.currentLayer : paper.layers.TopIndex();
  // Each layer's thumbnail comes from its own pixels alone.
  pool.Run(size_t(paper.layerCount()), [&](size_t i) { paper.layerAt(int32_t(i))->RenderThumbnail(); });
  paper.resetFlow(flow);
  paper.layers.SetCurrent(current);
  paper.loadLayerToFlow(flow, current, true);
  paper.setCurrentLayer(flow, current);
  paper.recomposeAll(true);

  if (seen.eventsFound && events) {
    if (seen.failedParts > 0) {
      // The stream made a picture this paper no longer shows.
      ui().Warning(text(TextId::EventReadError));
    } else if (!events->loadStream(stream, int32_t(std::min<uint32_t>(eventInfo.steps, 0x7FFFFFFF)),
                                   uint8_t(eventInfo.version), eventInfo.flags) ||
               events->resumeAfterLoad(o.historyDepth) == 1) {
      events->clear();
      ui().Warning(text(TextId::EventReadError));
    }
    seen.recording = events->isRecording();
  }
  if (seen.ignoredChunks > 0)
    ui().Warning(formatMessage(text(TextId::IgnoredBlocks), {seen.ignoredChunks, idText(lastUnknown)}));
  paper.modified = false;
  paper.invalidateCanvas();
  if (paper.observer) {
    paper.observer->LayersChanged();
    paper.observer->MasksChanged();
  }
  if (report) *report = seen;
  return FileError::None;
}

FileError loadPaperFile(const std::string& path, TPaper& paper, TFlowImage& flow, const std::string& name,
                        const PaperLoadOptions& options, PaperLoadReport* report) {
  FileInput in;
  if (const FileError e = in.Open(path); e != FileError::None) return e;
  return loadPaperFile(in, paper, flow, name, options, report);
}

}  // namespace vl
