// A canvas window replaying an event stream: a step at a time while the
// event loop is idle (or at most every 20 ms, point by point, when slow),
// many steps between frames when uncapped; pause, stop, seek and a stroke
// at a time; recording goes on after the replayed steps.
#include <QApplication>
#include <QTimer>

#include "events/event_manager.h"
#include "platform/app_profile.h"
#include "platform/clock.h"
#include "platform/strings.h"
#include "platform/ui_services.h"
#include "shell/draw_window.h"
#include "shell/qt_ui.h"
#include "undo/undo_manager.h"

namespace vl {
namespace {

// Time an uncapped turn may take before the window shows what it did.
constexpr uint32_t kUncappedTurnMs = 25;
constexpr uint32_t kSlowStepMs = 20;
constexpr uint32_t kCaptionEveryMs = 1000;

}  // namespace

CEventMngr* TDrawWindow::events() const { return dynamic_cast<CEventMngr*>(&paperObj->eventHook()); }

bool TDrawWindow::replayPaused() const {
  const CEventMngr* e = events();
  return replay.active && e && e->isPaused();
}

int32_t TDrawWindow::replayedSteps() const {
  const CEventMngr* e = events();
  return e ? e->PlayedSteps() : 0;
}

void TDrawWindow::renewPaper() {
  flowObj.reset();
  paperObj = std::make_unique<TPaper>(this);
  flowObj = std::make_unique<TFlowImage>(*paperObj);
  paperObj->observer = this;
  const int32_t depth = appProfile().undoMax;
  paperObj->setUndoHook(std::make_unique<CUndoMngrEx>(*paperObj, CUndoMngrEx::kSpare, depth, depth));
  paperObj->viewBackgroundColor = palette().color(QPalette::Dark).rgb() & 0x00FFFFFFu;
  paperObj->zoomAntialias = false;
  shadeStale = true;
}

int TDrawWindow::startReplay(const EventStreamFile& file, bool refuseProtected) {
  renewPaper();
  auto player = std::make_unique<CEventMngr>(*paperObj);
  CEventMngr* e = player.get();
  e->setRecordStroke(stroke);
  if (!e->loadStream(file.stream, file.steps, uint8_t(file.version), file.flags)) return 1;
  paperObj->setEventHook(std::move(player));
  paperObj->name = file.name;
  const int r = e->openForPlayback(*flowObj, refuseProtected);
  if (r != 0) return r;
  replay.active = true;
  replay.stopRequested = false;
  replay.source = file;
  replay.startedAt = replay.captionAt = replay.lastStepAt = appClock().Milliseconds();
  e->setSlow(appProfile().eventWait);
  if (!replay.timer) {
    replay.timer = new QTimer(this);
    connect(replay.timer, &QTimer::timeout, this, &TDrawWindow::replayTurn);
  }
  replay.timer->setInterval(e->isSlow() ? int(kSlowStepMs) : 0);
  replay.timer->start();
  centrePending = true;
  updateScrollBars();
  centreOn(paperObj->width / 2, paperObj->height / 2);
  updateReplayCaption(true);
  emit layersChanged();
  emit masksChanged();
  emit replayChanged();
  return 0;
}

void TDrawWindow::timerTick() {
  if (!replay.active) updateModifiedMark();
  // The main timer drives slow replays too: a step when 20 ms have passed.
  if (replay.active && events() && events()->isSlow() && !replay.timer->isActive()) replayTurn();
}

void TDrawWindow::replayTurn() {
  CEventMngr* e = events();
  if (!replay.active || !e) return;
  if (replay.stopRequested) {
    endReplay(true);
    return;
  }
  const uint32_t now = appClock().Milliseconds();
  if (e->isSlow() && now - replay.lastStepAt < kSlowStepMs) return;
  replay.lastStepAt = now;
  int r = 0;
  do {
    r = e->playStep();
  } while (r == 0 && replay.uncapped && !e->isSlow() && appClock().Milliseconds() - now < kUncappedTurnMs);
  if (r == 1) {
    updateReplayCaption(false);
    return;
  }
  const uint8_t bits = e->RefreshBits();
  if (bits & 8) emit layersChanged();
  if (bits & 16) emit masksChanged();
  updateReplayCaption(false);
  emit replayChanged();
  if (r == 2 || r == 3) endReplay(r == 3);
}

void TDrawWindow::setReplayPaused(bool paused) {
  if (CEventMngr* e = events(); replay.active && e) {
    e->setPaused(paused);
    updateReplayCaption(true);
    emit replayChanged();
  }
}

void TDrawWindow::setReplaySlow(bool slow) {
  if (CEventMngr* e = events(); replay.active && e) {
    e->setSlow(slow);
    replay.timer->setInterval(slow ? int(kSlowStepMs) : 0);
  }
}

void TDrawWindow::stopReplay(bool ask) {
  if (!replay.active) return;
  if (ask && !ui().Question(text(TextId::AskStopReplay), Buttons::YesNo)) return;
  replay.stopRequested = true;
  if (CEventMngr* e = events()) e->setPaused(false);
  replayTurn();
}

void TDrawWindow::endReplay(bool stopped) {
  CEventMngr* e = events();
  replay.active = false;
  if (replay.timer) replay.timer->stop();
  if (!e) return;
  if (stopped) e->finishStroke();
  const uint32_t ms = appClock().Milliseconds() - replay.startedAt;
  const std::string word(text(stopped ? TextId::ReplayStopped : TextId::ReplayFinished));
  // A protected stream is not recorded further.
  bool resumed = false;
  if (!e->IsProtected()) {
    resumed = e->resumeRecording(stopped);
    if (!resumed) ui().Warning(text(TextId::EventRecordingStopped));
  }
  if (resumed) {
    e->setRecordStroke(stroke);
    e->setHistoryDepth(std::max(8, appProfile().undoMax + 34));
  } else {
    e->clear();
  }
  paperObj->playingBack = false;
  endCaption = formatMessage(text(resumed ? TextId::ReplayEndCaption : TextId::ReplayEndCaptionNoRecording),
                             {paperObj->captionText(), word, int64_t(ms)});
  updateCaption();
  viewport()->update();
  emit layersChanged();
  emit masksChanged();
  emit replayChanged();
}

void TDrawWindow::updateReplayCaption(bool force) {
  const CEventMngr* e = events();
  if (!e) return;
  const uint32_t now = appClock().Milliseconds();
  if (!force && now - replay.captionAt < kCaptionEveryMs) return;
  replay.captionAt = now;
  const int64_t percent = int64_t(e->progress() + 0.5f), ms = int64_t(now - replay.startedAt);
  const std::string caption =
      e->isPaused() ? formatMessage(text(TextId::ReplayPausedCaption), {paperObj->captionText(), percent, ms})
                    : formatMessage(text(TextId::ReplayCaption),
                                    {paperObj->captionText(), text(TextId::ReplayWord), percent, ms});
  setWindowTitle(toQt(caption));
}

bool TDrawWindow::seekReplay(int32_t step) {
  if (!replay.active) return false;
  CEventMngr* e = events();
  if (!e) return false;
  const bool paused = e->isPaused(), slow = e->isSlow(), uncapped = replay.uncapped;
  if (step < e->PlayedSteps()) {
    // Back: from the start again.
    const EventStreamFile source = replay.source;
    if (startReplay(source, false) != 0) return false;
    e = events();
    replay.uncapped = uncapped;
  }
  e->setPaused(false);
  e->setSlow(false);
  setUpdatesEnabled(false);
  int r = 0;
  while (e->PlayedSteps() < step && (r = e->playStep()) == 0) {
  }
  setUpdatesEnabled(true);
  e->setSlow(slow);
  e->setPaused(paused);
  viewport()->update();
  emit layersChanged();
  emit masksChanged();
  updateReplayCaption(true);
  emit replayChanged();
  if (r == 2 || r == 3) endReplay(r == 3);
  return true;
}

bool TDrawWindow::stepStroke() {
  CEventMngr* e = events();
  if (!replay.active || !e) return false;
  const bool paused = e->isPaused();
  e->setPaused(false);
  int r = 0;
  for (;;) {
    r = e->playStep();
    if (r != 0 || (e->LastHeader() >> 8) == kCatStrokeLast) break;
  }
  e->setPaused(paused);
  viewport()->update();
  emit layersChanged();
  updateReplayCaption(true);
  emit replayChanged();
  if (r == 2 || r == 3) endReplay(r == 3);
  return true;
}

}  // namespace vl
