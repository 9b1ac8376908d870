#include "paperfile/paper_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "document/blend_modes.h"
#include "events/packets.h"
#include "files/event_body.h"
#include "platform/strings.h"
#include "platform/ui_services.h"
#include "support/random_session.h"
#include "undo/undo_manager.h"
#include "support/temp_dir.h"

namespace vl {
namespace {

namespace fs = std::filesystem;

constexpr int32_t kDepth = 999 + 34;

// A canvas window's paper: it records and has undo. A fresh one is made as
// a window makes it; an empty one waits for a file.
struct Canvas {
  explicit Canvas(bool fresh = true, int32_t w = 120, int32_t h = 90) {
    auto rec = std::make_unique<CEventMngr>(paper);
    events = rec.get();
    EXPECT_TRUE(rec->start(&stroke, kDepth, kDepth));
    paper.setEventHook(std::move(rec));
    paper.setUndoHook(std::make_unique<CUndoMngrEx>(paper, CUndoMngrEx::kSpare, 999, 999));
    if (fresh) {
      EXPECT_TRUE(paper.newPaper(flow, "live", 72, h, w));
    }
  }
  std::vector<uint8_t> Save(int threads = 0) {
    MemorySink sink;
    PaperSaveOptions o;
    o.threads = threads;
    EXPECT_EQ(writePaperFile(paper, sink, o), FileError::None);
    return sink.bytes;
  }
  FileError Load(const std::vector<uint8_t>& bytes, PaperLoadReport* report = nullptr) {
    MemoryInput in(bytes.data(), bytes.size());
    PaperLoadOptions o;
    o.historyDepth = kDepth;
    return loadPaperFile(in, paper, flow, "loaded.vci", o, report);
  }
  std::vector<uint8_t> Stream() const {
    std::vector<uint8_t> s;
    events->writeStream(s);
    return s;
  }
  TPaper paper;
  TFlowImage flow{paper};
  TStroke stroke;
  CEventMngr* events = nullptr;
};

struct Picture {
  uint64_t document, composite;
  friend bool operator==(const Picture&, const Picture&) = default;
};
Picture pictureOf(const TPaper& p) { return {test::documentHash(p), test::compositeHash(p)}; }

// A pen stroke across the current layer.
void penStroke(Canvas& c) {
  c.stroke.ResetDefaults(0);
  c.stroke.SetColour(0x336699);
  c.stroke.SetWidth(9.0f);
  c.stroke.SetOpacity(1.0f);
  c.stroke.layerIndex = c.paper.currentLayerIndex();
  StrokeSession session;
  BeginStrokeOffset(c.paper, c.flow, c.stroke, session, true, 1.0f, 10.0f, 5.0f);
  AddStrokePoint(c.paper, c.flow, c.stroke, session, true, 1.0f, 70.0f, 100.0f);
  EndStroke(c.paper, c.flow, c.stroke, session, true);
}

// Where each chunk of a file begins, by magic.
std::vector<std::pair<std::string, size_t>> chunksOf(const std::vector<uint8_t>& file) {
  std::vector<std::pair<std::string, size_t>> out;
  for (size_t at = kPaperHeaderBytes; at + 8 <= file.size(); at += 8 + readU32(file.data() + at + 4))
    out.push_back({std::string(reinterpret_cast<const char*>(file.data() + at), 4), at});
  return out;
}

// The stream a file carries, and its steps.
bool streamOf(const std::vector<uint8_t>& file, std::vector<uint8_t>& stream, uint32_t& steps) {
  for (const auto& [magic, at] : chunksOf(file)) {
    if (magic != "VEVP") continue;
    MemoryInput in(file.data(), file.size());
    uint64_t pos = at;
    EventBodyInfo info;
    if (readEventBody(in, pos, CEventMngr::kMaxStream, info, stream) != FileError::None) return false;
    steps = info.steps;
    return true;
  }
  return false;
}

// The stream replayed from its first step in a fresh paper, as a new window does.
Picture replayed(const std::vector<uint8_t>& stream, uint32_t steps, uint32_t* endsAt = nullptr) {
  TPaper paper;
  TFlowImage flow{paper};
  TStroke stroke;
  auto rec = std::make_unique<CEventMngr>(paper);
  CEventMngr* events = rec.get();
  rec->setRecordStroke(&stroke);
  EXPECT_TRUE(rec->loadStream(stream, int32_t(steps), 17, 0));
  paper.setEventHook(std::move(rec));
  EXPECT_EQ(events->openForPlayback(flow), 0);
  int r = 0;
  for (int guard = 0; guard < 1000000 && (r = events->playStep()) == 0; ++guard) {
  }
  EXPECT_EQ(r, 2);
  if (endsAt) *endsAt = events->PlayPosition();
  return pictureOf(paper);
}

// A paper with a layer of every blend mode, various opacities, hidden
// layers, a locked and a dissolving one, a layer moved beyond the paper,
// strokes, and masks with channels, origins and names.
void paintEverything(Canvas& c) {
  TPaper& p = c.paper;
  test::RandomSession s(p, c.flow, c.stroke, 31);
  for (int mode = 0; mode < kBlendModeCount; ++mode) {
    const int32_t at = p.insertLayerWithContent(c.flow, p.layerCount(), true, mode % 5 != 4, "",
                                                (mode % 3 == 0 ? 0x40000000u : 0) | uint32_t(mode * 0x0A0B0C),
                                                uint8_t(255 - mode * 9), mode, p.height, p.width);
    ASSERT_GE(at, 0);
    if (mode % 4 == 1) s.Stroke();
  }
  p.renameLayer(c.flow, 3, "이름 있는 레이어", true);
  p.setMaskLock(5, 1, true);
  p.setLayerDissolve(7, true, 100, true);
  p.offsetLayer(c.flow, 2, 37, -20, true);
  p.setCurrentLayer(c.flow, 2);
  for (int i = 0; i < 3; ++i) s.Stroke();
  p.selectAll(true);
  p.moveMaskOrigin(13, -7, true);
  p.growShrinkMaskBy(3, false, true);
  p.newMask(true);
  p.renameMask(1, "두번째", true);
  p.newMask(true);
  p.maskFromLayer(0, true);
  p.setCurrentMask(1, true);
  p.setSelectionVisible(true, true);
  p.setSelectionEnabled(false, true);
  p.setCurrentLayer(c.flow, 9);
}

TEST(PaperFile, ARoundTripKeepsLayersMasksSelectionAndStream) {
  ScopedUiCapture quiet;
  Canvas a;
  paintEverything(a);
  ASSERT_TRUE(a.events->isRecording());
  const std::vector<uint8_t> file = a.Save();

  Canvas b(false);
  PaperLoadReport report;
  ASSERT_EQ(b.Load(file, &report), FileError::None);
  EXPECT_EQ(pictureOf(b.paper), pictureOf(a.paper));
  EXPECT_EQ(b.paper.name, "loaded.vci");
  EXPECT_EQ(b.paper.currentLayerIndex(), 9);
  EXPECT_EQ(b.paper.masks.Current(), 1);
  EXPECT_EQ(b.paper.masks.OutlineIndex(), 1);
  EXPECT_EQ(b.paper.selectionVisible, 1);
  EXPECT_EQ(b.paper.selectionEnabled, 0);
  EXPECT_EQ(b.paper.resolution, 72);
  EXPECT_FALSE(b.paper.modified);
  for (int32_t i = 0; i < a.paper.layerCount(); ++i) {
    const CLayerData &x = *a.paper.layerAt(i), &y = *b.paper.layerAt(i);
    EXPECT_EQ(y.random.seed, x.random.seed) << i;
    EXPECT_EQ(y.pixels->defaultUniform, x.pixels->defaultUniform) << i;
    EXPECT_EQ(y.pixels->AllocatedTiles(), x.pixels->AllocatedTiles()) << i;
  }
  EXPECT_TRUE(test::flowFaithful(b.paper, b.flow));

  // The stream came along and recording goes on after its steps.
  EXPECT_TRUE(report.eventsFound);
  EXPECT_TRUE(report.recording);
  ASSERT_TRUE(b.events->isRecording());
  const std::vector<uint8_t> before = a.Stream(), after = b.Stream();
  ASSERT_GT(after.size(), before.size());
  EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin()));
  // Its next step is the recording start: no end-of-recording packet between.
  EXPECT_EQ(b.events->StepCount(), a.events->StepCount() + 1);
  EXPECT_EQ(after.end()[-2], kCatPaper);
  EXPECT_EQ(after.end()[-1], kPaperRecordingStart);
  EXPECT_TRUE(quiet.capture.warnings.empty());
}

// The whole history of a picture survives saving and opening: a stream
// painted on after opening replays from its first step to the picture.
TEST(PaperFile, LoadPaintMoreSaveLoadAndReplayTheWholeStream) {
  ScopedUiCapture quiet;
  auto session = [](Canvas& c, uint32_t seed, int steps) {
    test::RandomSession s(c.paper, c.flow, c.stroke, seed);
    std::mt19937 choose(seed);
    for (int i = 0; i < steps; ++i) {
      int32_t l;
      Area r;
      const unsigned what = choose() % 8;
      if (what == 0 && c.paper.canUndo()) {
        c.paper.undoStep(c.flow, l, r);
      } else if (what == 1 && c.paper.canRedo()) {
        c.paper.redoStep(c.flow, l, r);
      } else {
        s.Step();
      }
    }
  };
  for (uint32_t seed : {11u, 12u, 13u}) {
    SCOPED_TRACE(seed);
    Canvas a;
    session(a, seed, 60);
    const std::vector<uint8_t> first = a.Save();
    Canvas b(false);
    ASSERT_EQ(b.Load(first), FileError::None);
    ASSERT_TRUE(b.events->isRecording());
    session(b, seed + 100, 50);
    const std::vector<uint8_t> second = b.Save();
    Canvas c(false);
    ASSERT_EQ(c.Load(second), FileError::None);
    EXPECT_EQ(pictureOf(c.paper), pictureOf(b.paper));

    std::vector<uint8_t> stream;
    uint32_t steps = 0;
    ASSERT_TRUE(streamOf(second, stream, steps));
    uint32_t endsAt = 0;
    EXPECT_EQ(replayed(stream, steps, &endsAt), pictureOf(b.paper));
    // One end packet, at the very end: nothing was cut off.
    EXPECT_EQ(endsAt, stream.size());
  }
}

// Saving once wrote the end packet into the live stream, which took the
// stream's redo steps while undo kept its own.
TEST(PaperFile, SavingLeavesUndoAndRedoOfTheStreamAlone) {
  ScopedUiCapture quiet;
  Canvas a;
  test::RandomSession s(a.paper, a.flow, a.stroke, 5);
  for (int i = 0; i < 6; ++i) s.Stroke();
  int32_t l;
  Area r;
  ASSERT_TRUE(a.paper.undoStep(a.flow, l, r));
  ASSERT_TRUE(a.paper.undoStep(a.flow, l, r));
  const std::vector<uint8_t> stream = a.Stream();
  a.Save();
  a.Save();
  EXPECT_EQ(a.Stream(), stream);
  ASSERT_TRUE(a.paper.redoStep(a.flow, l, r));
  ASSERT_TRUE(a.paper.redoStep(a.flow, l, r));
  EXPECT_TRUE(quiet.capture.warnings.empty());
  const std::vector<uint8_t> file = a.Save();
  std::vector<uint8_t> saved;
  uint32_t steps = 0;
  ASSERT_TRUE(streamOf(file, saved, steps));
  EXPECT_EQ(replayed(saved, steps), pictureOf(a.paper));
}

TEST(PaperFile, APaperThatDoesNotRecordSavesNoEventsAndOpensWithoutRecording) {
  ScopedUiCapture quiet;
  Canvas a;
  test::RandomSession(a.paper, a.flow, a.stroke, 8).Stroke();
  a.events->clear();
  const std::vector<uint8_t> file = a.Save();
  PaperHeader h;
  MemoryInput in(file.data(), file.size());
  ASSERT_EQ(readPaperFileHeader(in, h), FileError::None);
  EXPECT_EQ(h.flags & kPaperHasEvents, 0);
  for (const auto& chunk : chunksOf(file)) EXPECT_NE(chunk.first, "VEVP");
  Canvas b(false);
  PaperLoadReport report;
  ASSERT_EQ(b.Load(file, &report), FileError::None);
  EXPECT_FALSE(report.recording);
  EXPECT_EQ(b.events->GetState(), CEventMngr::kIdle);
  EXPECT_EQ(pictureOf(b.paper), pictureOf(a.paper));
}

TEST(PaperFile, TheFileIsTheSameWhateverTheThreads) {
  ScopedUiCapture quiet;
  Canvas a(true, 700, 500);
  test::RandomSession s(a.paper, a.flow, a.stroke, 3);
  for (int i = 0; i < 30; ++i) s.Stroke();
  EXPECT_EQ(a.Save(1), a.Save(4));
}

// The layout the format gives: header first, the thumbnail, each layer's
// chunk followed by its runs, the masks, the event data.
TEST(PaperFile, ChunksComeInTheirOrder) {
  ScopedUiCapture quiet;
  Canvas a;
  paintEverything(a);
  const std::vector<uint8_t> file = a.Save();
  std::string order;
  for (const auto& [magic, at] : chunksOf(file)) {
    const char kind = magic == "VTNL" ? 'T' : magic == "VLYR" ? 'L' : magic == "VBIM" ? 'i' : magic == "VMSK" ? 'M'
                      : magic == "VBMK" ? 'm' : magic == "VEVP" ? 'E' : magic == "VBEV" ? 'e' : '?';
    if (order.empty() || order.back() != kind) order.push_back(kind);
  }
  // Layers with their runs repeat; so do masks.
  EXPECT_EQ(order.substr(0, 2), "TL");
  EXPECT_EQ(order.find('?'), std::string::npos);
  EXPECT_EQ(order.substr(order.size() - 2), "Ee");
  EXPECT_LT(order.rfind('L'), order.find('M'));
  PaperHeader h;
  MemoryInput in(file.data(), file.size());
  ASSERT_EQ(readPaperFileHeader(in, h), FileError::None);
  EXPECT_EQ(h.flags, kPaperHasLayers | kPaperHasMasks | kPaperHasThumbnail | kPaperHasEvents |
                         kPaperSelectionShown | kPaperLayerFieldsValid | kPaperMaskFieldsValid);
  EXPECT_EQ(h.layerCount, a.paper.layerCount());
  EXPECT_EQ(h.layerCounter, a.paper.layers.NameCounter());
  EXPECT_EQ(h.maskCount, a.paper.masks.Count());
}

// Splices `chunk` into a file just before its chunk number `index`.
std::vector<uint8_t> spliced(const std::vector<uint8_t>& file, size_t at, const std::vector<uint8_t>& chunk) {
  std::vector<uint8_t> out(file.begin(), file.begin() + long(at));
  out.insert(out.end(), chunk.begin(), chunk.end());
  out.insert(out.end(), file.begin() + long(at), file.end());
  return out;
}

size_t nthChunk(const std::vector<uint8_t>& file, const char* magic, int n) {
  for (const auto& [m, at] : chunksOf(file))
    if (m == magic && n-- == 0) return at;
  ADD_FAILURE() << "no chunk " << magic;
  return file.size();
}

TEST(PaperFile, AnUnknownChunkBetweenLayersIsSkippedAndReportedOnce) {
  ScopedUiCapture quiet;
  Canvas a;
  a.paper.insertLayer(a.flow, 1, true, 200, kModeScreen, a.paper.width, a.paper.height, true);
  test::RandomSession(a.paper, a.flow, a.stroke, 2).Stroke();
  const std::vector<uint8_t> file = a.Save();
  const std::vector<uint8_t> unknown = {'A', 'B', 'C', 'D', 4, 0, 0, 0, 1, 2, 3, 4};
  std::vector<uint8_t> bad = spliced(file, nthChunk(file, "VLYR", 1), unknown);
  bad = spliced(bad, nthChunk(bad, "VMSK", 0), {'X', 'Y', 0, 'Z', 0, 0, 0, 0});
  Canvas b(false);
  PaperLoadReport report;
  ASSERT_EQ(b.Load(bad, &report), FileError::None);
  EXPECT_EQ(b.paper.layerCount(), 2);
  EXPECT_EQ(pictureOf(b.paper), pictureOf(a.paper));
  EXPECT_EQ(report.ignoredChunks, 2);
  EXPECT_TRUE(report.recording);
  ASSERT_EQ(quiet.capture.warnings.size(), 1u);
  EXPECT_EQ(quiet.capture.warnings[0], formatMessage(text(TextId::IgnoredBlocks), {2, "XY?Z"}));
}

// A layer that cannot be read is named and left out; the others load, and
// the stream, which no longer replays to this picture, is dropped.
TEST(PaperFile, ADamagedLayerIsLeftOutAndItsRecordingDropped) {
  ScopedUiCapture quiet;
  Canvas a;
  a.paper.insertLayer(a.flow, 1, true, 255, kModeNormal, a.paper.width, a.paper.height, true);
  a.paper.insertLayer(a.flow, 2, true, 255, kModeNormal, a.paper.width, a.paper.height, true);
  a.paper.setCurrentLayer(a.flow, 1);
  penStroke(a);
  std::vector<uint8_t> file = a.Save();
  // The compressed data of the middle layer's first run of allocated tiles.
  size_t run = nthChunk(file, "VLYR", 1);
  do {
    run += 8 + readU32(file.data() + run + 4);
    ASSERT_EQ(std::memcmp(file.data() + run, "VBIM", 4), 0);
  } while (readU32(file.data() + run + 16) != 1);
  file[run + 40 + 8] ^= 0x55;
  Canvas b(false);
  PaperLoadReport report;
  ASSERT_EQ(b.Load(file, &report), FileError::None);
  EXPECT_EQ(report.failedParts, 1);
  EXPECT_EQ(b.paper.layerCount(), 2);
  EXPECT_FALSE(report.recording);
  EXPECT_EQ(b.events->GetState(), CEventMngr::kIdle);
  ASSERT_EQ(quiet.capture.warnings.size(), 2u);
  EXPECT_EQ(quiet.capture.warnings[0].rfind(formatMessage(text(TextId::ReadPartFailed), {text(TextId::PartLayer), 106}), 0), 0u)
      << quiet.capture.warnings[0];
  EXPECT_EQ(quiet.capture.warnings[1], text(TextId::EventReadError));
}

// Files are read as hostile: every cut and every damaged byte gives an
// error or a paper, never anything worse (the fuzzer goes further).
TEST(PaperFile, CutAndDamagedFilesAreRefusedCleanly) {
  ScopedUiCapture quiet;
  Canvas a;
  paintEverything(a);
  const std::vector<uint8_t> file = a.Save();
  for (size_t cut = 0; cut < file.size(); cut += 1 + cut / 3) {
    Canvas b(false);
    const std::vector<uint8_t> part(file.begin(), file.begin() + long(cut));
    const FileError e = b.Load(part);
    if (cut < kPaperHeaderBytes) {
      EXPECT_NE(e, FileError::None);
    }
  }
  std::mt19937 rng(9);
  for (int trial = 0; trial < 200; ++trial) {
    std::vector<uint8_t> bad = file;
    for (int k = 0; k < 4; ++k) bad[kPaperHeaderBytes + rng() % (bad.size() - kPaperHeaderBytes)] = uint8_t(rng());
    Canvas b(false);
    if (b.Load(bad) == FileError::None) {
      EXPECT_GE(b.paper.layerCount(), 1);
      EXPECT_TRUE(test::flowFaithful(b.paper, b.flow));
    }
  }
  // A header whose sizes the reader cannot hold.
  std::vector<uint8_t> huge = file;
  writeU32(huge.data() + 8, 10001);
  Canvas b(false);
  EXPECT_EQ(b.Load(huge), FileError::TooLarge);
}

// ---- saving to disk ----

std::string readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class PaperFileOnDisk : public testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir.empty()); }
  test::TempDir temp;
  const fs::path dir{temp.path()};
};

// The write that fails after this many more bytes (−1: never), as a full disk does.
long gBytesLeft = -1;
ssize_t failingWrite(int fd, const void* data, size_t n) {
  if (gBytesLeft >= 0 && long(n) > gBytesLeft) {
    errno = ENOSPC;
    return -1;
  }
  if (gBytesLeft >= 0) gBytesLeft -= long(n);
  return ::write(fd, data, n);
}
int failingRename(const char*, const char*) {
  errno = EACCES;
  return -1;
}
int failingSync(int) {
  errno = EIO;
  return -1;
}

TEST_F(PaperFileOnDisk, AFailedSaveLeavesThePreviousFileAsItWas) {
  ScopedUiCapture quiet;
  Canvas a(true, 400, 300);
  test::RandomSession s(a.paper, a.flow, a.stroke, 6);
  for (int i = 0; i < 5; ++i) s.Stroke();
  const fs::path target = dir / "work.vci";
  ASSERT_EQ(savePaperFile(target.string(), a.paper), FileError::None);
  const std::string previous = readAll(target);
  for (int i = 0; i < 20; ++i) s.Stroke();

  struct Case {
    const char* name;
    long bytesLeft;
    int (*rename)(const char*, const char*);
    int (*fsync)(int);
  } cases[] = {
      {"disk full at once", 0, ::rename, ::fsync},
      {"disk full half-way", long(previous.size() / 2), ::rename, ::fsync},
      {"sync fails", -1, ::rename, failingSync},
      {"rename refused", -1, failingRename, ::fsync},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    gBytesLeft = c.bytesLeft;
    PaperSaveOptions o;
    o.calls.write = failingWrite;
    o.calls.rename = c.rename;
    o.calls.fsync = c.fsync;
    EXPECT_NE(savePaperFile(target.string(), a.paper, o), FileError::None);
    gBytesLeft = -1;
    EXPECT_TRUE(readAll(target) == previous) << "the previous file changed";
    // No temporary file is left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  }
  // A folder that cannot be written to.
  EXPECT_EQ(savePaperFile((dir / "missing" / "x.vci").string(), a.paper), FileError::CannotOpen);

  ASSERT_EQ(savePaperFile(target.string(), a.paper), FileError::None);
  Canvas b(false);
  ASSERT_EQ(loadPaperFile(target.string(), b.paper, b.flow, "work.vci"), FileError::None);
  EXPECT_EQ(pictureOf(b.paper), pictureOf(a.paper));
}

// A layer that fails fails the whole save, and the user is told which.
TEST(PaperFile, ALayerThatCannotBeWrittenFailsTheSaveAndIsNamed) {
  class FullSink : public MemorySink {
   public:
    explicit FullSink(size_t room) : room(room) {}
    bool Write(const void* data, size_t n) override {
      if (bytes.size() + n > room) return false;
      return MemorySink::Write(data, n);
    }
    size_t room;
  };
  ScopedUiCapture quiet;
  Canvas a;
  a.paper.insertLayer(a.flow, 1, true, 255, kModeNormal, a.paper.width, a.paper.height, true);
  a.paper.renameLayer(a.flow, 1, "위층", true);
  penStroke(a);
  const std::vector<uint8_t> file = a.Save();
  FullSink sink(nthChunk(file, "VLYR", 1) + 100);
  PaperSaveFailure failure;
  const FileError e = writePaperFile(a.paper, sink, {}, &failure);
  EXPECT_EQ(e, FileError::WriteFailed);
  EXPECT_EQ(failure.part, TextId::PartLayer);
  EXPECT_EQ(failure.name, "위층");
  const std::string said = paperSaveFailureText("/x/y.vci", e, failure);
  EXPECT_EQ(said.rfind(formatMessage(text(TextId::SavePartFailed), {text(TextId::PartLayer), "위층", 103}), 0), 0u)
      << said;
  EXPECT_EQ(paperSaveFailureText("/x/y.vci", e, {}).rfind("/x/y.vci", 0), 0u);
}

}  // namespace
}  // namespace vl
