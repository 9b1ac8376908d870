#include "events/oldest_player.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "document/blend_modes.h"
#include "events/event_manager.h"
#include "events/event_render.h"
#include "files/image_files.h"
#include "platform/ui_services.h"
#include "shell/test_process.h"
#include "support/oldest_builder.h"
#include "support/random_session.h"
#include "undo/undo_manager.h"

namespace vl {
namespace {

using test::OldestBuilder;

constexpr uint32_t kBlue = 0x0000FF, kRed = 0xFF0000, kWhite = 0xFFFFFF;

class OldestReplay : public ::testing::Test {
 protected:
  OldestReplay() { paper.setUndoHook(std::make_unique<CUndoMngrEx>(paper, CUndoMngrEx::kSpare, 0, 0)); }
  int Open(const OldestBuilder& b) {
    EXPECT_TRUE(stream.Load(b.bytes));
    return player.Open(stream, "old");
  }
  // One step that must go on (or, for the last packet, end).
  void Step(int expected = 0) { ASSERT_EQ(player.playStep(), expected) << player.Reason(); }
  uint32_t At(int32_t x, int32_t y) const { return paper.composite().At(x, y) & 0xFFFFFFu; }
  std::vector<uint32_t> Row(int32_t y) const {
    std::vector<uint32_t> r;
    for (int32_t x = 0; x < paper.width; ++x) r.push_back(At(x, y));
    return r;
  }
  bool LayerIs(int32_t layer, uint32_t pixel) const {
    const CBlockVMTC& img = *paper.layerAt(layer)->pixels;
    for (int32_t y = 0; y < img.height; ++y)
      for (int32_t x = 0; x < img.width; ++x)
        if (img.Pixel(x, y) != pixel) return false;
    return true;
  }

  ScopedUiCapture quiet;
  TPaper paper;
  TFlowImage flow{paper};
  OldestPlayer player{paper, flow};
  TEventPacket stream;
};

// A stream written by hand, step by step to a picture worked out from what
// each packet does.
TEST_F(OldestReplay, AHandWrittenStreamReplaysToItsPicture) {
  OldestBuilder b;
  b.newPaper(40, 30).paperColour(kWhite);
  // A blue line along row 10 on the base layer, then a red one down column 10 on a new layer.
  b.stroke(0, 0, kBlue, 0, 3, {{5, 10, 1}, {35, 10, 1}, {35, 10, 1}});
  b.op(256, 1);
  b.stroke(0, 1, kRed, 0, 2, {{10, 3, 1}, {10, 27, 1}, {10, 27, 1}});
  b.op(272, 1);       // undo on layer 1: the red line goes
  b.offset(0, 2, 3);  // the blue line moves to row 13
  b.op(277, 1);       // layer 1 alone hidden
  b.op(291, 1);       // layer 1 negated: black, unseen
  b.op(274, 1, 1);    // shown: everything black
  b.op(272, 1);       // undo: the negation goes
  b.op(275, 1, 128);
  b.op(261, 1);       // merged down
  b.code(528);        // the visible picture flipped
  b.code(518).op(272, 0);  // after clearing undo an undo does nothing
  b.end();

  ASSERT_EQ(Open(b), 0);
  EXPECT_EQ(paper.drawGeneration, DrawGeneration::Legacy);
  ASSERT_EQ(paper.layerCount(), 1);
  EXPECT_EQ(paper.layerAt(0)->Mode(), kModeMultiply);
  EXPECT_TRUE(LayerIs(0, 0xFFFFFFFFu));  // the oldest drawings' layers are opaque
  EXPECT_EQ(paper.name, "old");
  Step();  // paper colour

  Step();
  for (int32_t x = 8; x <= 25; ++x) ASSERT_EQ(At(x, 10), kBlue) << x;
  EXPECT_EQ(paper.layerAt(0)->pixels->Pixel(15, 10), 0xFF0000FFu);  // alpha kept
  EXPECT_EQ(At(20, 6), kWhite);
  EXPECT_EQ(At(20, 20), kWhite);

  Step();
  ASSERT_EQ(paper.layerCount(), 2);
  EXPECT_EQ(paper.currentLayerIndex(), 1);
  EXPECT_EQ(paper.layerAt(1)->Mode(), kModeMultiply);

  Step();
  EXPECT_EQ(At(10, 15), kRed);
  EXPECT_EQ(At(10, 10), 0u);  // blue times red

  Step();
  EXPECT_EQ(At(10, 15), kWhite);
  EXPECT_EQ(At(10, 10), kBlue);
  EXPECT_TRUE(LayerIs(1, 0xFFFFFFFFu));

  Step();
  EXPECT_EQ(At(15, 13), kBlue);
  EXPECT_EQ(At(15, 8), kWhite);
  EXPECT_EQ(paper.layerAt(0)->ImageSize(), Size(40, 30));  // moved in place
  EXPECT_EQ(paper.layerAt(0)->pixels->Pixel(0, 0), 0xFFFFFFFFu);

  Step();
  EXPECT_EQ(paper.layerAt(0)->visible, 1);
  EXPECT_EQ(paper.layerAt(1)->visible, 0);

  Step();
  EXPECT_TRUE(LayerIs(1, 0xFF000000u));
  EXPECT_EQ(At(20, 20), kWhite);

  Step();
  EXPECT_EQ(At(20, 20), 0u);

  Step();
  EXPECT_TRUE(LayerIs(1, 0xFFFFFFFFu));
  EXPECT_EQ(At(20, 20), kWhite);
  EXPECT_EQ(At(15, 13), kBlue);

  Step();
  Step();
  ASSERT_EQ(paper.layerCount(), 1);
  EXPECT_EQ(At(15, 13), kBlue);

  const std::vector<uint32_t> row = Row(13);
  Step();
  for (int32_t x = 0; x < 40; ++x) ASSERT_EQ(At(x, 13), row[size_t(39 - x)]) << x;

  Step();
  const uint64_t before = test::documentHash(paper);
  Step(2);
  EXPECT_EQ(test::documentHash(paper), before);
  EXPECT_EQ(player.PlayedSteps(), 16);
  EXPECT_EQ(player.TotalSteps(), 16);
  EXPECT_EQ(player.progress(), 100.0f);

  // The end: the current generation, every layer opaque, no own undo left.
  const uint64_t picture = test::compositeHash(paper);
  player.Finish();
  EXPECT_EQ(paper.drawGeneration, DrawGeneration::Current);
  EXPECT_FALSE(paper.playingBack);
  EXPECT_EQ(paper.layerAt(0)->ownUndo, nullptr);
  EXPECT_EQ(test::compositeHash(paper), picture);
  EXPECT_EQ(picture, 6210975860194665345u);  // pins every pixel of the above
}

TEST_F(OldestReplay, EachLayerUndoesItsLastEightChanges) {
  OldestBuilder b;
  b.newPaper(24, 24);
  for (int16_t y = 2; y < 20; y += 2) b.stroke(0, 0, 0, 0, 0.75f, {{2, y, 1}, {20, y, 1}, {20, y, 1}});
  for (int i = 0; i < 9; ++i) b.op(272, 0);
  ASSERT_EQ(Open(b), 0);
  std::vector<uint64_t> after;  // the layer after each stroke
  after.push_back(test::documentHash(paper));
  for (int i = 0; i < 9; ++i) {
    Step();
    after.push_back(test::documentHash(paper));
  }
  ASSERT_NE(after[9], after[8]);
  for (int i = 8; i >= 1; --i) {
    Step();
    EXPECT_EQ(test::documentHash(paper), after[size_t(i)]) << i;
  }
  // The ninth undo finds nothing: the first stroke stays.
  Step(2);
  EXPECT_EQ(test::documentHash(paper), after[1]);
  EXPECT_NE(after[1], after[0]);
}

TEST_F(OldestReplay, SlowReplayDrawsAPointAStepAndEndsAlike) {
  OldestBuilder b;
  b.newPaper(48, 40).stroke(0, 0, kRed, 3, 6, {{4, 4, 0.2f}, {30, 10, 0.9f}, {40, 36, 1}, {8, 30, 0.5f}, {8, 30, 0}});
  b.stroke(3, 0, 0, 5, 4, {{4, 30, 1}, {40, 4, 1}, {40, 4, 0}});
  b.stroke(4, 0, 0, 0, 3, {{1, 1, 1}});  // a single point: nothing drawn
  b.stroke(1, 0, kBlue, 3, 8, {{10, 20, 1}, {30, 20, 1}, {30, 22, 0}}, 50, 1, 60, 40, 30);
  b.stroke(2, 0, 0, 0, 4, {{10, 10, 1}, {30, 25, 1}, {30, 25, 0}}, 100, 1, 50);
  ASSERT_EQ(Open(b), 0);
  while (player.playStep() == 0) {
  }
  const uint64_t fast = test::documentHash(paper);

  TPaper slowPaper;
  slowPaper.setUndoHook(std::make_unique<CUndoMngrEx>(slowPaper, CUndoMngrEx::kSpare, 0, 0));
  TFlowImage slowFlow(slowPaper);
  OldestPlayer slow(slowPaper, slowFlow);
  ASSERT_EQ(slow.Open(stream, "old"), 0);
  slow.setSlow(true);
  int calls = 0, ended = 0, r = 0;
  while ((r = slow.playStep()) == 0) {
    ++calls;
    ended += slow.EndedStroke();
  }
  EXPECT_EQ(r, 2);
  ended += slow.EndedStroke();
  // A stroke of n further points takes n + 1 steps; the last returned 2.
  EXPECT_EQ(calls + 1, 5 + 3 + 1 + 3 + 3);
  EXPECT_EQ(ended, 5);
  EXPECT_EQ(test::documentHash(slowPaper), fast);
  EXPECT_NE(fast, 0u);
}

TEST_F(OldestReplay, OperationsNotYetHereEndTheReplayWithTheirReason) {
  struct Case {
    uint16_t code;
    std::vector<uint8_t> payload;
    const char* word;
  } cases[] = {
      {293, {1, 2, 3, 4}, "Fill"},
      {295, std::vector<uint8_t>(9, 0), "Fill"},
      {296, std::vector<uint8_t>(12, 0), "Fill"},
      {297, {0, 1, 0, 0, 0, 0, 0}, "Fill"},
      {304, {0, 0, 0, 0, 0, 0}, "Fill"},
      {305, std::vector<uint8_t>(27, 0), "Gradation"},
      {514, {20, 0, 20, 0, 0}, "Canvas size"},
      {515, {20, 0, 20, 0}, "Image size"},
      {516, {}, "Rotation"},
      {517, {}, "Rotation"},
  };
  setLanguage(Language::English);
  for (const Case& c : cases) {
    OldestBuilder b;
    b.newPaper(16, 16).code(c.code);
    for (uint8_t v : c.payload) b.u8(v);
    TPaper p;
    TFlowImage f(p);
    OldestPlayer player(p, f);
    TEventPacket s;
    ASSERT_TRUE(s.Load(b.bytes));
    ASSERT_EQ(player.Open(s, "x"), 0);
    EXPECT_EQ(player.playStep(), 3) << c.code;
    EXPECT_NE(player.Reason().find(c.word), std::string::npos) << player.Reason();
    EXPECT_NE(player.Reason().find(std::to_string(c.code)), std::string::npos) << player.Reason();
  }
  setLanguage(Language::Korean);
}

TEST_F(OldestReplay, PacketsNamingMissingLayersFail) {
  const std::function<void(OldestBuilder&)> packets[] = {
      [](OldestBuilder& b) { b.stroke(0, 1, 0, 0, 2, {{1, 1, 1}, {5, 5, 1}}); },
      [](OldestBuilder& b) { b.op(273, 3); },
      [](OldestBuilder& b) { b.op(272, 1); },
      [](OldestBuilder& b) { b.op(292, 1); },
      [](OldestBuilder& b) { b.offset(2, 1, 1); },
      [](OldestBuilder& b) { b.op(276, 1, 0); },
      [](OldestBuilder& b) { b.op(257, 200); },
  };
  for (const auto& add : packets) {
    OldestBuilder b;
    b.newPaper(16, 16);
    add(b);
    TPaper p;
    TFlowImage f(p);
    OldestPlayer player(p, f);
    TEventPacket s;
    ASSERT_TRUE(s.Load(b.bytes));
    ASSERT_EQ(player.Open(s, "x"), 0);
    EXPECT_EQ(player.playStep(), 3);
    EXPECT_FALSE(player.Reason().empty());
  }
  // A blend mode beyond the table fails too; refused commands do nothing.
  OldestBuilder b;
  b.newPaper(16, 16).op(257, 0).op(261, 0).code(258).op(276, 0, 22);
  ASSERT_EQ(Open(b), 0);
  Step();
  Step();
  Step();
  EXPECT_EQ(paper.layerCount(), 1);
  EXPECT_EQ(player.playStep(), 3);
}

TEST_F(OldestReplay, OneByteLayerNumbersReachTwoHundredFiftySixLayers) {
  OldestBuilder b;
  b.newPaper(8, 8);
  for (int i = 0; i < 256; ++i) b.op(256, 255);
  ASSERT_EQ(Open(b), 0);
  for (int i = 0; i < 255; ++i) Step();
  EXPECT_EQ(paper.layerCount(), 256);
  EXPECT_EQ(player.playStep(), 3);
  EXPECT_EQ(paper.layerCount(), 256);
}

TEST_F(OldestReplay, AProtectedStreamReplaysAndRecordsNothing) {
  // A paper that was recording: the replay stops that, and records nothing itself.
  auto events = std::make_unique<CEventMngr>(paper);
  CEventMngr& e = *events;
  paper.setEventHook(std::move(events));
  TStroke pen;
  ASSERT_TRUE(e.start(&pen, 8, 8));
  ASSERT_TRUE(e.isRecording());
  OldestBuilder b;
  b.newPaper(16, 16);
  for (int m = 0; m < 16; ++m) b.stroke(0, 0, kRed, 0, 2, {{1, int16_t(m), 1}, {14, int16_t(m), 1}}).markers({m});
  b.end();
  ASSERT_EQ(Open(b), 0);
  EXPECT_TRUE(stream.IsProtected());
  EXPECT_EQ(paper.eventProtected, 1);
  while (player.playStep() == 0) {
  }
  player.Finish();
  EXPECT_EQ(player.PlayedSteps(), 17);
  EXPECT_EQ(paper.eventProtected, 1);
  // Nothing was recorded, and nothing is after the replay.
  EXPECT_FALSE(e.isRecording());
  EXPECT_EQ(e.WritePos(), 0u);
  paper.setPaperColor(0x123456, true);
  EXPECT_EQ(e.WritePos(), 0u);
  EXPECT_NE(paper.captionText().find("<LOCKED>"), std::string::npos);
}

TEST_F(OldestReplay, TheFirstPacketMustMakeAPaper) {
  OldestBuilder big;
  big.newPaper(300, 200);
  ASSERT_TRUE(stream.Load(big.bytes));
  player.maxPaperSide = 256;
  EXPECT_EQ(player.Open(stream, "x"), 1);
  EXPECT_FALSE(player.Reason().empty());
  EXPECT_EQ(paper.drawGeneration, DrawGeneration::Current);
  EXPECT_FALSE(paper.playingBack);
}

// ---- without a window ----

std::string writeBytes(const test::TempDir& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
  std::ofstream(dir.file(name), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return dir.file(name);
}

std::vector<uint32_t> picturePixels(const std::string& path) {
  BitmapInfoHeader h;
  TMTC img;
  const FileError e = path.ends_with(".png") ? pngGetImage(path, h, img) : bmpGetImage(path, h, img);
  EXPECT_EQ(e, FileError::None) << path;
  std::vector<uint32_t> out;
  for (int32_t y = 0; y < img.height; ++y)
    for (int32_t x = 0; x < img.width; ++x) out.push_back(img.Row(y)[x] & 0xFFFFFFu);
  return out;
}

std::vector<uint32_t> paperPixels(const TPaper& paper) {
  std::vector<uint32_t> out;
  for (int32_t y = 0; y < paper.height; ++y)
    for (int32_t x = 0; x < paper.width; ++x) out.push_back(paper.compositeImage.At(x, y) & 0xFFFFFFu);
  return out;
}

// A drawing of 50 packets: strokes over three layers.
OldestBuilder longDrawing() {
  OldestBuilder b;
  b.newPaper(64, 48).paperColour(0xF0F0E0).op(256, 1).op(256, 2).op(276, 2, 1);
  for (int16_t i = 0; i < 45; ++i) {
    const uint32_t layer = uint32_t(i % 3);
    b.stroke(uint16_t(i % 4 == 2 ? 3 : 0), layer, uint32_t(0x102030 * (i + 1)) & 0xFFFFFF, 3, float(2 + i % 5),
             {{int16_t(i), 4, 1}, {int16_t(60 - i), int16_t(10 + i % 30), 0.8f}, {int16_t(20 + i % 7), 44, 0}}, 40);
  }
  return b.end();
}

TEST(OldestRender, RenderModeWritesThePictureAndTheStreamProtected) {
  ScopedUiCapture quiet;
  test::TempDir dir, out;
  const std::string in = writeBytes(dir, "old.wpe", longDrawing().bytes);
  HeadlessOldestReplay replay;
  TEventPacket s;
  ASSERT_TRUE(s.Load(longDrawing().bytes));
  ASSERT_EQ(replay.Play(s, "old"), 2);
  EXPECT_EQ(renderEventFile(in, out.path()), 8);
  EXPECT_EQ(picturePixels(out.file("old.bmp")), paperPixels(replay.Paper()));
  TEventPacket again;
  ASSERT_EQ(readOldestStream(out.file("old.wpe"), again), kEventFileOk);
  EXPECT_TRUE(again.IsProtected());
  EXPECT_EQ(again.OperationCount(), s.OperationCount());
  // The stream it wrote is protected: rendering it again is refused.
  EXPECT_EQ(renderEventFile(out.file("old.wpe"), dir.path()), 11);
  EXPECT_FALSE(test::fileExists(dir.file("old.bmp")));
  // It still replays to the same picture.
  HeadlessOldestReplay watched;
  ASSERT_EQ(watched.Play(again, "old"), 2);
  EXPECT_EQ(paperPixels(watched.Paper()), paperPixels(replay.Paper()));

  // Too short to be protected: the picture is written, the stream cannot be.
  test::TempDir shortOut;
  OldestBuilder small;
  small.newPaper(8, 8).stroke(0, 0, kRed, 0, 2, {{1, 1, 1}, {6, 6, 1}}).end();
  EXPECT_EQ(renderEventFile(writeBytes(dir, "small.wpe", small.bytes), shortOut.path()), 9);
  EXPECT_TRUE(test::fileExists(shortOut.file("small.bmp")));
  EXPECT_FALSE(test::fileExists(shortOut.file("small.wpe")));
  // Not replayable, or not readable: 10.
  OldestBuilder fill;
  fill.newPaper(8, 8).code(293).u32(0).end();
  EXPECT_EQ(renderEventFile(writeBytes(dir, "fill.wpe", fill.bytes), shortOut.path()), 10);
  EXPECT_EQ(renderEventFile(writeBytes(dir, "bad.wpe", {1, 2, 3}), shortOut.path()), 10);
  EXPECT_EQ(renderEventFile(dir.file("missing.wpe"), shortOut.path()), 10);
}

TEST(OldestRender, ExportReplaysStreamsWithTheirTimelapse) {
  ScopedUiCapture quiet;
  test::TempDir dir;
  const std::string in = writeBytes(dir, "d.wpe", longDrawing().bytes);
  std::string reason;
  ASSERT_TRUE(exportFile(in, dir.file("d.png"), 10, reason)) << reason;
  HeadlessOldestReplay replay;
  TEventPacket s;
  ASSERT_TRUE(s.Load(longDrawing().bytes));
  ASSERT_EQ(replay.Play(s, "d"), 2);
  EXPECT_EQ(picturePixels(dir.file("d.png")), paperPixels(replay.Paper()));
  // Frames after steps 10, 20, 30 and 40 of the 49.
  EXPECT_TRUE(test::fileExists(dir.file("d-00004.png")));
  EXPECT_FALSE(test::fileExists(dir.file("d-00005.png")));
  OldestBuilder fill;
  fill.newPaper(8, 8).code(305);
  for (int i = 0; i < 27; ++i) fill.u8(0);
  EXPECT_FALSE(exportFile(writeBytes(dir, "g.wpe", fill.bytes), dir.file("g.png"), 0, reason));
  EXPECT_NE(reason.find("g.wpe"), std::string::npos) << reason;
  EXPECT_FALSE(exportFile(dir.file("none.wpe"), dir.file("n.png"), 0, reason));
}

struct ProgramRun {
  int status;
  std::string out, err;
};
ProgramRun runProgram(const test::TempDir& dir, const std::vector<std::string>& args) {
  test::Child child;
  const std::map<std::string, std::string> env = {{"DISPLAY", ""},
                                                  {"WAYLAND_DISPLAY", ""},
                                                  {"QT_QPA_PLATFORM", "xcb"},
                                                  {"XDG_CONFIG_HOME", dir.file("config")},
                                                  {"XDG_RUNTIME_DIR", dir.path()},
                                                  {"LANG", "C.UTF-8"}};
  EXPECT_TRUE(child.start(VL_BINARY_PATH, args, env, dir.file("out.txt"), dir.file("err.txt")));
  ProgramRun r;
  r.status = child.wait(120000);
  r.out = test::readFile(dir.file("out.txt"));
  r.err = test::readFile(dir.file("err.txt"));
  return r;
}

TEST(OldestRender, TheProgramRendersOldStreamsAndMarksProtectedOnes) {
  ScopedUiCapture quiet;
  test::TempDir dir, out;
  const std::string in = writeBytes(dir, "old.wpe", longDrawing().bytes);
  const ProgramRun run = runProgram(dir, {"-render", "-O" + out.path(), in});
  EXPECT_EQ(run.status, 8) << run.err;
  EXPECT_EQ(run.out, "8\n");
  HeadlessOldestReplay replay;
  TEventPacket s;
  ASSERT_TRUE(s.Load(longDrawing().bytes));
  ASSERT_EQ(replay.Play(s, "old"), 2);
  EXPECT_EQ(picturePixels(out.file("old.bmp")), paperPixels(replay.Paper()));
  // What it wrote is protected: refused with 11 and its marker.
  test::TempDir again;
  const ProgramRun refused = runProgram(dir, {"-render", "-O" + again.path(), out.file("old.wpe")});
  EXPECT_EQ(refused.status, 11) << refused.err;
  EXPECT_TRUE(test::fileExists(again.file("old.prt")));
  EXPECT_FALSE(test::fileExists(again.file("old.bmp")));
  // And --export renders it all the same.
  const ProgramRun exported = runProgram(dir, {"--export", out.file("old.wpe"), dir.file("x.png")});
  EXPECT_EQ(exported.status, 0) << exported.err;
  EXPECT_EQ(picturePixels(dir.file("x.png")), paperPixels(replay.Paper()));
}

}  // namespace
}  // namespace vl
