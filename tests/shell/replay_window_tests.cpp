#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>

#include "events/event_render.h"
#include "platform/app_profile.h"
#include "platform/ui_services.h"
#include "shell/draw_window.h"
#include "shell/main_form.h"
#include "shell/qt_test_support.h"
#include "support/random_session.h"
#include "undo/undo_manager.h"

namespace vl {
namespace {

// A recorded session as a file would hold it, and its picture.
struct Recorded {
  EventStreamFile file;
  uint64_t picture = 0;
};
Recorded recordSession(uint32_t seed, int steps) {
  TPaper paper;
  TFlowImage flow{paper};
  TStroke stroke;
  auto rec = std::make_unique<CEventMngr>(paper);
  CEventMngr* e = rec.get();
  rec->start(&stroke, 1033, 1033);
  paper.setEventHook(std::move(rec));
  paper.setUndoHook(std::make_unique<CUndoMngrEx>(paper, 32, 999, 999));
  paper.newPaper(flow, "r", 72, 48, 64);
  test::RandomSession s(paper, flow, stroke, seed);
  for (int i = 0; i < steps; ++i) s.Step();
  Recorded r;
  e->writeStream(r.file.stream);
  r.file.steps = e->StepCount();
  r.file.name = "replayed";
  r.picture = test::documentHash(paper);
  return r;
}

// Lets the event loop run until the canvas has finished replaying.
bool runUntilEnd(TDrawWindow& canvas, int ms = 30000) {
  QElapsedTimer t;
  t.start();
  while (canvas.isReplaying() && t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
  return !canvas.isReplaying();
}

struct ReplayWindow : ::testing::Test {
  test::TestApp app;
  ScopedUiCapture quiet;
  TMainForm form{StartupOptions{}};
  TDrawWindow* Open(const EventStreamFile& f) {
    if (form.replayInNewCanvas(f) != 0) return nullptr;
    return form.activeCanvas();
  }
};

TEST_F(ReplayWindow, ReplaysToThePictureAndRecordsAfterwards) {
  const Recorded r = recordSession(5, 50);
  for (bool uncapped : {false, true}) {
    TDrawWindow* canvas = Open(r.file);
    ASSERT_NE(canvas, nullptr);
    canvas->setReplayUncapped(uncapped);
    ASSERT_TRUE(runUntilEnd(*canvas));
    EXPECT_EQ(test::documentHash(canvas->paper()), r.picture);
    ASSERT_NE(canvas->events(), nullptr);
    EXPECT_TRUE(canvas->events()->isRecording()) << "recording goes on after the replay";
    EXPECT_FALSE(canvas->paper().playingBack);
  }
}

TEST_F(ReplayWindow, PauseStopAndSeek) {
  const Recorded r = recordSession(6, 60);
  TDrawWindow* canvas = Open(r.file);
  ASSERT_NE(canvas, nullptr);
  canvas->setReplayPaused(true);
  const int32_t before = canvas->replayedSteps();
  for (int i = 0; i < 10; ++i) QApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(canvas->replayedSteps(), before) << "paused";
  // Seeking to k gives what playing to k gives, backwards too.
  for (int32_t k : {30, 12}) {
    ASSERT_TRUE(canvas->seekReplay(k));
    HeadlessReplay reference;
    ASSERT_EQ(reference.Open(r.file, false), 0);
    while (reference.Events().PlayedSteps() < k && reference.Events().playStep() == 0) {
    }
    EXPECT_EQ(canvas->replayedSteps(), k);
    EXPECT_EQ(test::documentHash(canvas->paper()), test::documentHash(reference.Paper())) << k;
  }
  // One stroke forward draws a stroke.
  const uint16_t header = canvas->events()->LastHeader();
  ASSERT_TRUE(canvas->stepStroke());
  EXPECT_EQ(canvas->events()->LastHeader() >> 8, 18) << std::hex << header;
  // Stopped: the replayed steps stay, and recording goes on after them.
  const int32_t steps = canvas->replayedSteps();
  canvas->stopReplay(false);
  EXPECT_FALSE(canvas->isReplaying());
  EXPECT_TRUE(canvas->events()->isRecording());
  EXPECT_GE(canvas->events()->StepCount(), steps);
  EXPECT_LT(canvas->events()->StepCount(), r.file.steps + 3);
}

TEST_F(ReplayWindow, TheEventMenuFollowsTheReplay) {
  const Recorded r = recordSession(7, 20);
  TDrawWindow* canvas = Open(r.file);
  ASSERT_NE(canvas, nullptr);
  emit form.ticked();
  QApplication::processEvents();
  EXPECT_TRUE(form.command("actEventPlayPause")->isEnabled());
  EXPECT_FALSE(form.command("actEventPlayResume")->isEnabled());
  EXPECT_FALSE(form.command("actFileSaveEvent")->isEnabled()) << "not while replaying";
  form.command("actEventPlayPause")->trigger();
  EXPECT_TRUE(canvas->replayPaused());
  EXPECT_TRUE(form.command("actEventPlayResume")->isEnabled());
  form.command("actEventPlayResume")->trigger();
  ASSERT_TRUE(runUntilEnd(*canvas));
  form.command("actEventPlayPause")->isEnabled();
  QApplication::processEvents();
  emit form.ticked();
  EXPECT_TRUE(form.command("actFileSaveEvent")->isEnabled());
  EXPECT_TRUE(form.command("actEventReplayHere")->isEnabled());
  // Its own drawing again in a new window.
  form.command("actEventReplayHere")->trigger();
  TDrawWindow* again = form.activeCanvas();
  ASSERT_NE(again, canvas);
  ASSERT_TRUE(runUntilEnd(*again));
  EXPECT_EQ(test::documentHash(again->paper()), test::documentHash(canvas->paper()));
}

}  // namespace
}  // namespace vl
