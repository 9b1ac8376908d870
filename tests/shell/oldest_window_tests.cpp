#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QMdiArea>
#include <fstream>

#include "events/event_manager.h"
#include "events/oldest_player.h"
#include "platform/app_profile.h"
#include "platform/strings.h"
#include "platform/ui_services.h"
#include "shell/draw_window.h"
#include "shell/main_form.h"
#include "shell/qt_test_support.h"
#include "shell/test_process.h"
#include "support/oldest_builder.h"
#include "support/random_session.h"

namespace vl {
namespace {

using test::OldestBuilder;

bool runUntilEnd(TDrawWindow& canvas, int ms = 30000) {
  QElapsedTimer t;
  t.start();
  while (canvas.isReplaying() && t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
  return !canvas.isReplaying();
}

OldestBuilder drawing() {
  OldestBuilder b;
  b.newPaper(64, 48).paperColour(0xF8F0E0).op(256, 1);
  for (int16_t i = 0; i < 12; ++i)
    b.stroke(uint16_t(i % 2 ? 3 : 0), uint32_t(i % 2), 0x203040u * uint32_t(i + 1) & 0xFFFFFF, 3, float(2 + i),
             {{int16_t(2 + i), 3, 1}, {int16_t(60 - 3 * i), int16_t(20 + i), 0.7f}, {30, 44, 0}}, 30);
  b.op(272, 1).op(277, 0).op(274, 1, 1).code(529);
  return b.end();
}

struct OldestWindow : ::testing::Test {
  test::TestApp app;
  ScopedUiCapture quiet;
  test::TempDir dir;
  TMainForm form{StartupOptions{}};
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream(dir.file(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return dir.file(name);
  }
  uint64_t Reference(const std::vector<uint8_t>& bytes, int32_t steps = -1) {
    TEventPacket s;
    EXPECT_TRUE(s.Load(bytes));
    reference = std::make_unique<HeadlessOldestReplay>();
    if (steps < 0) {
      EXPECT_EQ(reference->Play(s, "old"), 2);
      return test::documentHash(reference->Paper());
    }
    OldestPlayer& p = reference->Player();
    EXPECT_EQ(p.Open(s, "old"), 0);
    while (p.PlayedSteps() < steps && p.playStep() == 0) {
    }
    return test::documentHash(reference->Paper());
  }
  std::unique_ptr<HeadlessOldestReplay> reference;
};

TEST_F(OldestWindow, AStreamReplaysInANewCanvasToThePictureWithoutRecording) {
  for (bool slow : {false, true}) {
    appProfile().eventWait = slow;
    ASSERT_TRUE(form.openFile(Write("old.wpe", drawing().bytes)));
    TDrawWindow* canvas = form.activeCanvas();
    ASSERT_NE(canvas, nullptr);
    ASSERT_TRUE(canvas->isReplaying());
    EXPECT_EQ(canvas->paper().drawGeneration, DrawGeneration::Legacy);
    EXPECT_EQ(canvas->replaySteps(), 19);
    emit form.ticked();
    QApplication::processEvents();
    EXPECT_FALSE(form.command("actEventPlayPause")->isEnabled()) << "the oldest streams cannot pause";
    EXPECT_TRUE(form.command("actEventPlayStop")->isEnabled());
    ASSERT_TRUE(runUntilEnd(*canvas));
    EXPECT_EQ(test::documentHash(canvas->paper()), Reference(drawing().bytes)) << slow;
    EXPECT_EQ(canvas->paper().drawGeneration, DrawGeneration::Current);
    EXPECT_FALSE(canvas->paper().playingBack);
    EXPECT_TRUE(canvas->events() == nullptr || !canvas->events()->isRecording());
    EXPECT_FALSE(form.command("actFileSaveEvent")->isEnabled());
    EXPECT_TRUE(quiet.capture.warnings.empty());
  }
  appProfile().eventWait = false;
}

TEST_F(OldestWindow, SeekingAndStoppingWorkAsForTheCurrentStreams) {
  ASSERT_TRUE(form.openFile(Write("old.wpe", drawing().bytes)));
  TDrawWindow* canvas = form.activeCanvas();
  ASSERT_NE(canvas, nullptr);
  for (int32_t k : {14, 6}) {
    ASSERT_TRUE(canvas->seekReplay(k));
    EXPECT_EQ(canvas->replayedSteps(), k);
    EXPECT_EQ(test::documentHash(canvas->paper()), Reference(drawing().bytes, k)) << k;
  }
  ASSERT_TRUE(canvas->stepStroke());
  EXPECT_EQ(canvas->replayedSteps(), 7);
  canvas->stopReplay(false);
  EXPECT_FALSE(canvas->isReplaying());
  EXPECT_EQ(canvas->paper().drawGeneration, DrawGeneration::Current);
}

TEST_F(OldestWindow, AReplayThatCannotGoOnSaysWhy) {
  setLanguage(Language::English);
  OldestBuilder b;
  b.newPaper(16, 16).stroke(0, 0, 0, 0, 2, {{1, 1, 1}, {9, 9, 1}}).code(514).u16(20).u16(20).u8(0).end();
  ASSERT_TRUE(form.openFile(Write("fill.wpe", b.bytes)));
  TDrawWindow* canvas = form.activeCanvas();
  ASSERT_NE(canvas, nullptr);
  ASSERT_TRUE(runUntilEnd(*canvas));
  ASSERT_EQ(quiet.capture.warnings.size(), 1u);
  EXPECT_NE(quiet.capture.warnings[0].find("Canvas size"), std::string::npos) << quiet.capture.warnings[0];
  EXPECT_EQ(canvas->replayedSteps(), 2);
  // A stream that is no stream opens nothing.
  const size_t before = form.mdiArea()->subWindowList().size();
  EXPECT_FALSE(form.openFile(Write("bad.wpe", {1, 2, 3, 4})));
  EXPECT_EQ(size_t(form.mdiArea()->subWindowList().size()), before);
  ASSERT_EQ(quiet.capture.warnings.size(), 2u);
  // A stream that fails its packet check says so, as the current files do.
  EXPECT_EQ(quiet.capture.warnings[1], text(TextId::ReplayPacketCheckFailed));
  setLanguage(Language::Korean);
}

TEST_F(OldestWindow, APaperImageOpensWithItsLayersAndRecordsNothing) {
  test::WpbLayerBytes base, top;
  test::wpbRun(base.runs, 120, 0xFFFFFF);
  top.mode = 3;
  test::wpbRun(top.runs, 60, 0xFF0000);
  test::wpbRun(top.runs, 60, 0x0000FF);
  OldestBuilder bad;
  bad.newPaper(12, 10).code(999);
  ASSERT_TRUE(form.openFile(Write("p.wpb", test::wpbFile(12, 10, 0xFFFFFF, 1, {base, top}, bad.bytes))));
  TDrawWindow* canvas = form.activeCanvas();
  ASSERT_NE(canvas, nullptr);
  EXPECT_FALSE(canvas->isReplaying());
  ASSERT_EQ(canvas->paper().layerCount(), 2);
  EXPECT_EQ(canvas->paper().currentLayerIndex(), 1);
  EXPECT_EQ(canvas->paper().compositeImage.At(3, 2) & 0xFFFFFF, 0xFF0000u);
  EXPECT_EQ(canvas->paper().compositeImage.At(3, 8) & 0xFFFFFF, 0x0000FFu);
  ASSERT_NE(canvas->events(), nullptr);
  EXPECT_FALSE(canvas->events()->isRecording());
  const std::vector<std::string> said = {std::string(text(TextId::OldestEventError)),
                                         std::string(text(TextId::OldestEventsIgnored))};
  EXPECT_EQ(quiet.capture.warnings, said);
  // Not a paper image at all.
  EXPECT_FALSE(form.openFile(Write("q.wpb", {'W', 'P', 'B', '1', 0})));
  EXPECT_EQ(quiet.capture.warnings.back(), text(TextId::UnknownOldestFormat));
}

}  // namespace
}  // namespace vl
