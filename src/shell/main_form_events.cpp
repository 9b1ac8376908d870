// The event menu of the main window: event files saved and opened, replays
// controlled, recording stopped.
#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QStandardPaths>
#include <QStatusBar>

#include "events/event_manager.h"
#include "events/oldest_paper.h"
#include "platform/app_profile.h"
#include "platform/strings.h"
#include "platform/ui_services.h"
#include "shell/cli/dialog_folder.h"
#include "shell/cli/product.h"
#include "shell/draw_window.h"
#include "shell/main_form.h"
#include "shell/qt_ui.h"

namespace vl {
namespace {

std::string fileStem(const std::string& path) {
  const size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

// The open result's message.
TextId openMessage(int result) {
  switch (result) {
    case 3: return TextId::ReplayPacketCheckFailed;
    case 4: return TextId::ReplayVersionFailed;
    case 5: return TextId::ReplayProtectedFailed;
    default: return TextId::ReplayOpenFailed;
  }
}

}  // namespace

int TMainForm::replayInNewCanvas(const EventStreamFile& file) {
  return replayInNewCanvas([&file](TDrawWindow& canvas) { return canvas.startReplay(file, false); });
}

int TMainForm::replayInNewCanvas(const std::function<int(TDrawWindow&)>& start) {
  auto* canvas = new TDrawWindow;
  canvas->setStroke(&stroke);
  canvas->setTablet(tabletInput);
  const int r = start(*canvas);
  if (r != 0) {
    delete canvas;
    return r;
  }
  QMdiSubWindow* sub = area->addSubWindow(canvas);
  sub->setAttribute(Qt::WA_DeleteOnClose);
  placeCanvasWindow(sub, canvas);
  canvas->setFocus();
  area->setActiveSubWindow(sub);
  connect(canvas, &TDrawWindow::replayChanged, this, [this, canvas] {
    updateCommands();
    if (startup.viewerMode && !canvas->isReplaying()) playbackEnded();
  });
  updateCommands();
  return 0;
}

// An oldest stream in a new canvas; the reason of a failure is shown
// rather than the general message when there is one.
bool TMainForm::replayOldestStream(const TEventPacket& stream, const std::string& name) {
  std::string reason;
  const int r =
      replayInNewCanvas([&](TDrawWindow& canvas) { return canvas.startOldestReplay(stream, name, reason); });
  if (r != 0) ui().Warning(reason.empty() ? text(openMessage(r)) : std::string_view(reason));
  return r == 0;
}

// The oldest paper image: its layers in a new canvas, which records nothing;
// a paper without layers is its stream, replayed.
bool TMainForm::openOldestPaper(const std::string& path) {
  WpbImage image;
  const int e = readWpbFile(path, image);
  if (e == kEventFileMagic) {
    ui().Warning(text(TextId::UnknownOldestFormat));
    return false;
  }
  if (e != kEventFileOk) {
    ui().Warning(formatMessage(text(TextId::OpenFailed), {path, int64_t(e)}));
    return false;
  }
  if (image.streamState == WpbStream::Failed) ui().Warning(text(TextId::OldestEventError));
  if (!image.hasLayers) return image.streamState == WpbStream::Valid && replayOldestStream(image.stream, fileStem(path));
  TDrawWindow* canvas = newCanvas(image.width, image.height, 0, fileStem(path));
  if (!canvas) return false;
  const bool built = buildWpbPaper(canvas->paper(), canvas->flow(), image, fileStem(path));
  if (CEventMngr* events = canvas->events()) events->clear();
  if (!built) {
    ui().Warning(text(TextId::OutOfMemory));
    if (QMdiSubWindow* sub = area->activeSubWindow(); sub && sub->widget() == canvas) sub->close();
    return false;
  }
  canvas->updateCaption();
  canvas->viewport()->update();
  emit canvas->layersChanged();
  updateCommands();
  ui().Warning(text(TextId::OldestEventsIgnored));
  return true;
}

bool TMainForm::openEventFile(const std::string& path) {
  if (eventFileKindOf(path) == EventFileKind::Oldest) {
    TEventPacket stream;
    const int e = readOldestStream(path, stream);
    if (e != kEventFileOk) {
      ui().Warning(text(openMessage(e == kEventFilePacket ? 3 : 2)));
      return false;
    }
    return replayOldestStream(stream, fileStem(path));
  }
  EventStreamFile file;
  const int e = readEventFile(path, file);
  int r = e == kEventFileOk ? 0 : e == kEventFileVersion ? 4 : 2;
  if (r == 0) {
    file.name = fileStem(path);
    r = replayInNewCanvas(file);
  }
  if (r != 0) ui().Warning(text(openMessage(r)));
  return r == 0;
}

void TMainForm::createEventCommands() {
  const Menu m = kMenuEvent;
  auto activeReplay = [this]() -> TDrawWindow* {
    TDrawWindow* c = activeCanvas();
    return c && c->isReplaying() ? c : nullptr;
  };
  addCommand("actFileOpenEvent", text(TextId::CmdFileOpenEvent), text(TextId::HintFileOpenEvent), {}, m, [this] {
    CAppProfile& profile = appProfile();
    const std::string folder =
        dialogStartFolder(profile.eventPath, profile.machine.programFolder,
                          QStandardPaths::writableLocation(QStandardPaths::PicturesLocation).toStdString(),
                          QDir::homePath().toStdString());
    const std::string format(text(TextId::EventFormat));
    const QString filters = toQt(std::string(text(TextId::AllEventFormats)) + " (*.ve3 *.vx3 *.ves *.wpe);;" +
                                 std::string(kProductName) + "3 " + format + " (*.ve3 *.vx3);;" +
                                 std::string(kProductName) + "2.1 " + format + " (*.ves);;" +
                                 std::string(kProductName) + "1.1 " + format + " (*.wpe)");
    const QString chosen = QFileDialog::getOpenFileName(this, {}, toQt(folder), filters);
    if (chosen.isEmpty()) return;
    const std::string path = chosen.toStdString();
    profile.eventPath = path.substr(0, path.rfind('/'));
    if (eventFileKindOf(path) == EventFileKind::None) {
      ui().Warning(text(TextId::EventFileOpenFailed));
      return;
    }
    openEventFile(path);
  });
  // Saving: the plain file, and the one that can never be recorded further.
  auto save = [this](bool guarded) {
    TDrawWindow* c = editableCanvas();
    CEventMngr* e = c ? c->events() : nullptr;
    if (!e || !e->canSave() || c->paper().eventProtected) return;
    if (guarded && !ui().Question(text(TextId::AskProtectedSave), Buttons::YesNo)) return;
    CAppProfile& profile = appProfile();
    const std::string folder = dialogStartFolder(profile.eventPath, profile.machine.programFolder,
                                                 QDir::homePath().toStdString(), QDir::homePath().toStdString());
    const QString filter =
        toQt(std::string(kProductName) + "3 " + std::string(text(TextId::EventFormat)) + " (*.ve3)");
    QString chosen = QFileDialog::getSaveFileName(this, {}, toQt(folder + "/" + c->paper().name + ".ve3"), filter);
    if (chosen.isEmpty()) return;
    if (!chosen.endsWith(QStringLiteral(".ve3"), Qt::CaseInsensitive)) chosen += QStringLiteral(".ve3");
    const std::string path = chosen.toStdString();
    profile.eventPath = path.substr(0, path.rfind('/'));
    bool marked = false;
    if (guarded) {
      if (!e->scanStatusFlags(true, 0, kFlagProtected, marked)) {
        ui().Warning(text(TextId::ProtectScanFailed));
        return;
      }
      if (marked) {
        ui().Warning(text(TextId::AlreadyProtected));
        return;
      }
      if (!e->scanStatusFlags(false, 1, kFlagProtected, marked)) {
        ui().Warning(text(TextId::ProtectFailed));
        return;
      }
    }
    WaitCursor wait;
    const int r = saveEventStream(path, c->paper(), *e, true);
    // The paper goes on recording unprotected.
    if (guarded && !e->scanStatusFlags(false, 0, kFlagProtected, marked)) ui().Warning(text(TextId::UnprotectFailed));
    if (r != kEventFileOk) ui().Warning(formatMessage(text(TextId::EventSaveFailed), {path, r}));
  };
  addCommand("actFileSaveEvent", text(TextId::CmdFileSaveEvent), text(TextId::HintFileSaveEvent), {}, m,
             [save] { save(false); });
  addCommand("actFileSaveEventGuard", text(TextId::CmdFileSaveEventGuard), text(TextId::HintFileSaveEventGuard), {}, m,
             [save] { save(true); });
  menu(m)->addSeparator();
  addCommand("actEventRecStop", text(TextId::CmdEventRecStop), text(TextId::HintEventRecStop), {}, m, [this, save] {
    TDrawWindow* c = editableCanvas();
    CEventMngr* e = c ? c->events() : nullptr;
    if (!e || !e->canSave()) return;
    if (!ui().Question(text(TextId::AskStopRecording), Buttons::OkCancel)) return;
    if (ui().Question(text(TextId::AskSaveEventsFirst), Buttons::YesNo)) save(false);
    e->clear();
    updateCommands();
  });
  menu(m)->addSeparator();
  addCommand("actEventPlayPause", text(TextId::CmdEventPlayPause), text(TextId::HintEventPlayPause), {}, m,
             [activeReplay] {
               if (TDrawWindow* c = activeReplay()) c->setReplayPaused(true);
             });
  addCommand("actEventPlayResume", text(TextId::CmdEventPlayResume), text(TextId::HintEventPlayResume), {}, m,
             [activeReplay] {
               if (TDrawWindow* c = activeReplay()) c->setReplayPaused(false);
             });
  menu(m)->addSeparator();
  addCommand("actEventPlayStop", text(TextId::CmdEventPlayStop), text(TextId::HintEventPlayStop), {}, m,
             [activeReplay] {
               if (TDrawWindow* c = activeReplay()) c->stopReplay(true);
             });
  addCommand("actEventWait", text(TextId::CmdEventWait), text(TextId::HintEventWait),
             QKeySequence(Qt::CTRL | Qt::Key_W), m,
             [this, activeReplay] {
               CAppProfile& profile = appProfile();
               profile.eventWait = !profile.eventWait;
               if (TDrawWindow* c = activeReplay()) c->setReplaySlow(profile.eventWait);
               updateCommands();
             })
      ->setCheckable(true);
  // Beyond the classic commands: what people who watch drawings replay ask for.
  menu(m)->addSeparator();
  addCommand("actEventReplayHere", text(TextId::CmdEventReplayHere), text(TextId::HintEventReplayHere), {}, m, [this] {
    TDrawWindow* c = editableCanvas();
    CEventMngr* e = c ? c->events() : nullptr;
    if (!e || !e->canSave()) return;
    EventStreamFile file;
    if (!e->writeStream(file.stream)) return;
    file.steps = e->StepCount();
    file.name = c->paper().name;
    if (const int r = replayInNewCanvas(file); r != 0) ui().Warning(text(openMessage(r)));
  });
  addCommand("actEventSeek", text(TextId::CmdEventSeek), text(TextId::HintEventSeek), {}, m, [this, activeReplay] {
    TDrawWindow* c = activeReplay();
    if (!c) return;
    bool ok = false;
    const int step = QInputDialog::getInt(this, toQt(text(TextId::SeekCaption)), plainCaption(text(TextId::SeekLabel)),
                                          c->replayedSteps(), 1, std::max(1, c->replaySteps()), 1, &ok);
    if (ok) c->seekReplay(step);
  });
  addCommand("actEventStepStroke", text(TextId::CmdEventStepStroke), text(TextId::HintEventStepStroke),
             QKeySequence(Qt::Key_Period), m, [activeReplay] {
               if (TDrawWindow* c = activeReplay()) c->stepStroke();
             });
  addCommand("actEventUncapped", text(TextId::CmdEventUncapped), text(TextId::HintEventUncapped), {}, m,
             [this, activeReplay] {
               if (TDrawWindow* c = activeReplay()) c->setReplayUncapped(!c->replayUncapped());
               updateCommands();
             })
      ->setCheckable(true);
  replayLabel = new QLabel(this);
  statusBar()->addPermanentWidget(replayLabel);
}

void TMainForm::updateEventCommands() {
  TDrawWindow* c = activeCanvas();
  const bool replaying = c && c->isReplaying();
  const bool paused = replaying && c->replayPaused();
  CEventMngr* e = c ? c->events() : nullptr;
  const bool canSave = c && !replaying && !c->strokeInProgress() && e && e->canSave() && !c->paper().eventProtected;
  auto enable = [this](const char* name, bool on) {
    if (QAction* a = command(name)) a->setEnabled(on);
  };
  enable("actFileSaveEvent", canSave);
  enable("actFileSaveEventGuard", canSave);
  enable("actEventRecStop", canSave);
  enable("actEventReplayHere", canSave);
  enable("actEventPlayPause", replaying && !paused && c->replayCanPause());
  enable("actEventPlayResume", paused);
  enable("actEventPlayStop", replaying && !paused);
  enable("actEventSeek", replaying);
  enable("actEventStepStroke", replaying);
  enable("actEventUncapped", replaying);
  if (QAction* a = command("actEventWait")) a->setChecked(appProfile().eventWait);
  if (QAction* a = command("actEventUncapped")) a->setChecked(replaying && c->replayUncapped());
  if (replayLabel) {
    replayLabel->setText(replaying ? toQt(formatMessage(text(TextId::ReplayStatus),
                                                        {int64_t(c->replayProgress()), int64_t(c->replayedSteps()),
                                                         int64_t(c->replaySteps())}))
                                   : QString());
  }
}

}  // namespace vl
