#include "events/event_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "events/event_render.h"
#include "files/image_files.h"
#include "platform/ui_services.h"
#include "shell/test_process.h"
#include "support/random_session.h"
#include "undo/undo_manager.h"

namespace vl {
namespace {

uint32_t get32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

EventStreamFile fileOf(size_t bytes, bool current = true) {
  EventStreamFile f;
  f.current = current;
  f.steps = 3;
  f.paperWidth = 40;
  f.paperHeight = 30;
  for (size_t i = 0; i < bytes; ++i) f.stream.push_back(uint8_t(i * 7 + i / 251));
  return f;
}

TEST(EventFiles, SegmentsBecomeBlocksAndComeBack) {
  struct Case {
    size_t bytes;
    uint32_t blocks, lastBlock;
  } cases[] = {{65536, 1, 65536}, {65537, 2, 1}, {100, 1, 100}, {200000, 4, 200000 - 3 * 65536}};
  for (const Case& c : cases) {
    const EventStreamFile f = fileOf(c.bytes);
    std::vector<uint8_t> bytes;
    ASSERT_EQ(encodeEventFile(f, nullptr, bytes), kEventFileOk);
    EXPECT_EQ(get32(bytes, 40), c.blocks);
    // The last block's uncompressed size.
    size_t at = 56;
    for (uint32_t b = 0; b + 1 < c.blocks; ++b) at += 8 + get32(bytes, at + 4);
    EXPECT_EQ(get32(bytes, at + 12), c.lastBlock) << c.bytes;
    EventStreamFile back;
    ASSERT_EQ(decodeEventFile(bytes.data(), bytes.size(), back), kEventFileOk);
    EXPECT_EQ(back.stream, f.stream);
    EXPECT_EQ(back.steps, 3);
    EXPECT_EQ(back.paperWidth, 40);
  }
  // The 2.1 file keeps the stream raw, padded to 4 bytes.
  const EventStreamFile raw = fileOf(101, false);
  std::vector<uint8_t> bytes;
  ASSERT_EQ(encodeEventFile(raw, nullptr, bytes), kEventFileOk);
  EXPECT_EQ(bytes.size(), 40u + 104u);
  EventStreamFile back;
  ASSERT_EQ(decodeEventFile(bytes.data(), bytes.size(), back), kEventFileOk);
  EXPECT_EQ(back.stream, raw.stream);
  EXPECT_FALSE(back.current);
}

// Each damaged field gives its own code.
TEST(EventFiles, MalformedFilesGiveTheirCodes) {
  TMTC thumb(4, 4);
  thumb.Fill(0xFFFFFFFFu);
  std::vector<uint8_t> current, raw, withThumb;
  ASSERT_EQ(encodeEventFile(fileOf(70000), nullptr, current), kEventFileOk);
  ASSERT_EQ(encodeEventFile(fileOf(50, false), nullptr, raw), kEventFileOk);
  ASSERT_EQ(encodeEventFile(fileOf(50), &thumb, withThumb), kEventFileOk);
  struct Case {
    const char* name;
    const std::vector<uint8_t>* from;
    std::function<void(std::vector<uint8_t>&)> damage;
    int code;
  } cases[] = {
      {"magic", &current, [](auto& b) { b[0] = 'X'; }, kEventFileMagic},
      {"version 18", &current, [](auto& b) { b[16] = 18; }, kEventFileVersion},
      {"header length", &current, [](auto& b) { b[4] = 47; }, kEventFileHeaderLength},
      {"no blocks", &current, [](auto& b) { put32(b, 40, 0); }, kEventFileEmpty},
      {"segment size", &current, [](auto& b) { put32(b, 44, 4096); }, kEventFileSegmentSize},
      {"blocks against the length", &current, [](auto& b) { put32(b, 40, 3); }, kEventFileNoLength},
      {"a block's place", &current, [](auto& b) { put32(b, 56 + 8, 5); }, kEventFileBlockLength},
      {"a block's data", &current, [](auto& b) { b[56 + 28 + 6] ^= 0xFF; }, kEventFileBlockLength},
      {"cut inside a block", &current, [](auto& b) { b.resize(b.size() - 7); }, kEventFileShortRead},
      {"2.1 flags", &raw, [](auto& b) { b[18] = 1; }, kEventFileFlags},
      {"2.1 remainder", &raw, [](auto& b) { put32(b, 4, 10); }, kEventFileHeaderLength},
      {"2.1 cut short", &raw, [](auto& b) { b.resize(60); }, kEventFileShortRead},
      {"thumbnail past the end", &withThumb, [](auto& b) { put32(b, 4, 1u << 30); }, kEventFileThumbnailPastEnd},
      {"header cut", &current, [](auto& b) { b.resize(20); }, kEventFileShortRead},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bad = *c.from;
    c.damage(bad);
    EventStreamFile out;
    EXPECT_EQ(decodeEventFile(bad.data(), bad.size(), out), c.code) << c.name;
  }
}

// A recorded session saved as each kind of file and read back replays to
// the picture it recorded.
struct Recording {
  Recording() {
    auto rec = std::make_unique<CEventMngr>(paper);
    events = rec.get();
    rec->start(&stroke, 1033, 1033);
    paper.setEventHook(std::move(rec));
    paper.setUndoHook(std::make_unique<CUndoMngrEx>(paper, 32, 999, 999));
    paper.newPaper(flow, "saved", 72, 56, 72);
    test::RandomSession s(paper, flow, stroke, 31);
    for (int i = 0; i < 60; ++i) s.Step();
  }
  TPaper paper;
  TFlowImage flow{paper};
  TStroke stroke;
  CEventMngr* events = nullptr;
};

TEST(EventFiles, SavedSessionsReplayToTheirPicture) {
  ScopedUiCapture quiet;
  test::TempDir dir;
  Recording r;
  const uint64_t picture = test::documentHash(r.paper);
  for (const char* name : {"a.ve3", "a.ves"}) {
    const std::string path = dir.file(name);
    ASSERT_EQ(saveEventStream(path, r.paper, *r.events, eventFileKindOf(path) == EventFileKind::Current), kEventFileOk);
    EXPECT_TRUE(r.events->isRecording()) << "recording goes on after a save";
    EventStreamFile f;
    ASSERT_EQ(readEventFile(path, f), kEventFileOk);
    HeadlessReplay replay;
    ASSERT_EQ(replay.Open(f, false), 0);
    ASSERT_EQ(replay.PlayToEnd(), 2);
    EXPECT_EQ(test::documentHash(replay.Paper()), picture) << name;
    TMTC thumb;
    int32_t w = 0, h = 0;
    ASSERT_EQ(readEventThumbnail(path, thumb, w, h), kEventFileOk);
    EXPECT_EQ(Size(w, h), Size(72, 56));
  }
  EXPECT_EQ(readEventFile(dir.file("missing.ve3"), *std::make_unique<EventStreamFile>()), kEventFileNotFound);
}

TEST(EventFiles, AProtectedStreamReplaysButIsRefusedUnattended) {
  ScopedUiCapture quiet;
  test::TempDir dir;
  Recording r;
  bool found = false;
  ASSERT_TRUE(r.events->scanStatusFlags(false, 1, kFlagProtected, found));
  ASSERT_EQ(saveEventStream(dir.file("p.ve3"), r.paper, *r.events, true), kEventFileOk);
  ASSERT_TRUE(r.events->scanStatusFlags(false, 0, kFlagProtected, found));
  EventStreamFile f;
  ASSERT_EQ(readEventFile(dir.file("p.ve3"), f), kEventFileOk);
  HeadlessReplay replay;
  ASSERT_EQ(replay.Open(f, false), 0);
  EXPECT_TRUE(replay.Events().IsProtected());
  EXPECT_EQ(replay.Paper().eventProtected, 1);
  EXPECT_EQ(replay.PlayToEnd(), 2);
  HeadlessReplay refused;
  EXPECT_EQ(refused.Open(f, true), 5);
  EXPECT_EQ(renderEventFile(dir.file("p.ve3"), dir.path()), 11);
}

// ---- the real program ----

struct ProgramRun {
  int status;
  std::string out, err;
};
ProgramRun runProgram(const test::TempDir& dir, const std::vector<std::string>& args, const char* platform = "xcb") {
  test::Child child;
  const std::map<std::string, std::string> env = {{"DISPLAY", ""},        {"WAYLAND_DISPLAY", ""},
                                                  {"QT_QPA_PLATFORM", platform}, {"XDG_CONFIG_HOME", dir.file("config")},
                                                  {"XDG_RUNTIME_DIR", dir.path()}, {"LANG", "C.UTF-8"}};
  EXPECT_TRUE(child.start(VL_BINARY_PATH, args, env, dir.file("out.txt"), dir.file("err.txt")));
  ProgramRun r;
  r.status = child.wait(120000);
  r.out = test::readFile(dir.file("out.txt"));
  r.err = test::readFile(dir.file("err.txt"));
  return r;
}

// The picture of a paper, as the exported files hold it.
std::vector<uint32_t> pixelsOf(const TPaper& paper) {
  TMTC img;
  EXPECT_TRUE(compositeImageOf(paper, img));
  std::vector<uint32_t> out;
  for (int32_t y = 0; y < img.height; ++y) out.insert(out.end(), img.Row(y), img.Row(y) + img.width);
  return out;
}
std::vector<uint32_t> pixelsOf(const std::string& path) {
  BitmapInfoHeader h;
  TMTC img;
  const FileError e = path.ends_with(".png") ? pngGetImage(path, h, img) : bmpGetImage(path, h, img);
  EXPECT_EQ(e, FileError::None) << path;
  std::vector<uint32_t> out;
  for (int32_t y = 0; y < img.height; ++y)
    for (int32_t x = 0; x < img.width; ++x) out.push_back(img.Row(y)[x] | 0xFF000000u);
  return out;
}

TEST(Program, RenderModeReplaysAndWritesThePictureAndTheStream) {
  ScopedUiCapture quiet;
  test::TempDir dir, out;
  Recording r;
  ASSERT_EQ(saveEventStream(dir.file("drawing.ve3"), r.paper, *r.events, true), kEventFileOk);
  const ProgramRun run = runProgram(dir, {"-render", "-O" + out.path(), dir.file("drawing.ve3")});
  EXPECT_EQ(run.status, 8) << run.err;
  EXPECT_EQ(run.out, "8\n");
  EXPECT_EQ(pixelsOf(out.file("drawing.bmp")), pixelsOf(r.paper));
  EventStreamFile again;
  ASSERT_EQ(readEventFile(out.file("drawing.ve3"), again), kEventFileOk);
  EventStreamFile original;
  ASSERT_EQ(readEventFile(dir.file("drawing.ve3"), original), kEventFileOk);
  EXPECT_EQ(again.stream, original.stream);
  EXPECT_FALSE(test::fileExists(out.file("drawing.bad")));
}

TEST(Program, ViewerModeShowsTheReplayThenReportsThirteen) {
  ScopedUiCapture quiet;
  test::TempDir dir;
  Recording r;
  ASSERT_EQ(saveEventStream(dir.file("v.ve3"), r.paper, *r.events, true), kEventFileOk);
  const ProgramRun run = runProgram(dir, {"-viewer", "-T0", dir.file("v.ve3")}, "offscreen");
  EXPECT_EQ(run.status, 13) << run.err;
  EXPECT_EQ(run.out, "13\n");
}

TEST(Program, ExportWritesThePictureATimelapseAndManyFilesAtOnce) {
  ScopedUiCapture quiet;
  test::TempDir dir;
  Recording r;
  ASSERT_EQ(saveEventStream(dir.file("d.ve3"), r.paper, *r.events, true), kEventFileOk);
  const ProgramRun one = runProgram(dir, {"--export", "--frames", "10", dir.file("d.ve3"), dir.file("d.png")});
  ASSERT_EQ(one.status, 0) << one.err;
  EXPECT_EQ(pixelsOf(dir.file("d.png")), pixelsOf(r.paper));
  // A frame every 10 steps before the last (the end packet's).
  EventStreamFile saved;
  ASSERT_EQ(readEventFile(dir.file("d.ve3"), saved), kEventFileOk);
  auto frameName = [&](int k) {
    char name[32];
    std::snprintf(name, sizeof name, "d-%05d.png", k);
    return dir.file(name);
  };
  int frames = 0;
  while (test::fileExists(frameName(frames + 1))) ++frames;
  EXPECT_EQ(frames, (saved.steps - 1) / 10);
  // Several drawings into a folder on several threads: the same files as one by one.
  test::TempDir many, serial;
  std::vector<std::string> inputs;
  for (int i = 0; i < 4; ++i) {
    Recording k;
    const std::string p = dir.file("s" + std::to_string(i) + ".ve3");
    ASSERT_EQ(saveEventStream(p, k.paper, *k.events, true), kEventFileOk);
    inputs.push_back(p);
  }
  std::vector<std::string> args = {"--export", "--threads", "4"};
  args.insert(args.end(), inputs.begin(), inputs.end());
  args.push_back(many.path());
  const ProgramRun parallel = runProgram(dir, args);
  ASSERT_EQ(parallel.status, 0) << parallel.err;
  for (const std::string& in : inputs) {
    const std::string name = in.substr(in.rfind('/') + 1, in.size() - in.rfind('/') - 5) + ".png";
    std::string reason;
    ASSERT_TRUE(exportFile(in, serial.file(name), 0, reason)) << reason;
    EXPECT_EQ(test::readFile(many.file(name)), test::readFile(serial.file(name))) << name;
  }
  const ProgramRun bad = runProgram(dir, {"--export", dir.file("none.ve3"), dir.file("x.png")});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(std::count(bad.err.begin(), bad.err.end(), '\n'), 1) << bad.err;
}

}  // namespace
}  // namespace vl
