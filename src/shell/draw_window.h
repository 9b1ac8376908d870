#pragma once
// The canvas window: shows one paper, scrolls it and zooms it. It owns the
// paper and the paper's flow image; the paper paints through the window's
// CanvasView side.
#include <QAbstractScrollArea>
#include <QImage>
#include <QPointer>
#include <memory>
#include <string>

#include "document/paper.h"
#include "events/event_files.h"
#include "events/oldest_stream.h"
#include "events/replay_control.h"
#include "drawing/stroke_protocol.h"
#include "platform/view.h"
#include "shell/tablet_input.h"

class QPainter;
class QTimer;
class QTabletEvent;

namespace vl {

class CEventMngr;
class OldestPlayer;

class TDrawWindow : public QAbstractScrollArea, public CanvasView, public PaperObserver {
  Q_OBJECT

 public:
  explicit TDrawWindow(QWidget* parent = nullptr);
  ~TDrawWindow() override;

  // An empty paper of that size; false (nothing shown) when it cannot be made.
  bool newPaper(const std::string& name, int32_t resolution, int32_t height, int32_t width);

  TPaper& paper() { return *paperObj; }
  const TPaper& paper() const { return *paperObj; }
  TFlowImage& flow() { return *flowObj; }
  // The main window's pen, shared by every canvas; strokes paint with it.
  void setStroke(TStroke* s);
  bool strokeInProgress() const { return strokeInput.session.inProgress; }
  // The application's tablet; without one every tablet event is left to Qt,
  // which makes mouse input of it.
  void setTablet(TTabletInput* t);

  // One zoom level up or down about the centre of the client area; false at the limit.
  bool zoomIn();
  bool zoomOut();
  // Level 0 with the paper's centre in the middle of the window.
  void zoomCancel();
  // Puts paper point (x, y) in the middle of the client area.
  void centreOn(double x, double y);
  // Takes the scroll bars' positions into the paper's view state and repaints.
  void applyScroll();
  // The smoothed display of zoomed views.
  void setAntialias(bool on);
  bool antialias() const { return paperObj->zoomAntialias; }
  // Turns the view about the middle of the client area; degrees counter-clockwise
  // on screen (the paper mapping turns positive angles that way).
  void setViewRotation(float degrees);
  void rotateViewBy(float degrees) { setViewRotation(paperObj->rotationDegrees + degrees); }

  // The canvas's caption: the paper's caption text, marked while the paper
  // has changes not saved.
  void updateCaption();
  void updateModifiedMark();
  // The main window's 30 ms tick: one frame of what painting changed.
  void timerTick();

  // ---- replay ----
  // Replays a stream in this window's fresh paper from its first step; the
  // player's open result (0 ready, 1 not a paper's stream, 3 a broken
  // packet, 5 protected and refused).
  int startReplay(const EventStreamFile& file, bool refuseProtected = false);
  // Replays an oldest stream (legacy drawing generation) the same way; 0
  // ready, else 1 with the reason why its paper could not be made.
  int startOldestReplay(const TEventPacket& stream, const std::string& name, std::string& reason);
  bool isReplaying() const { return replay.active; }
  bool replayPaused() const;
  void setReplayPaused(bool paused);
  // Slow replay: a step at most every 20 ms, strokes point by point.
  void setReplaySlow(bool slow);
  // Uncapped: as many steps as fit between two frames, not one a turn.
  void setReplayUncapped(bool on) { replay.uncapped = on; }
  bool replayUncapped() const { return replay.uncapped; }
  // Ends the replay early (after asking when `ask`); recording goes on
  // after the steps replayed.
  void stopReplay(bool ask);
  // Replays from the start up to `step`, as fast as it goes, showing the
  // picture only at the end.
  bool seekReplay(int32_t step);
  // Plays until the next stroke has been drawn (or the end).
  bool stepStroke();
  int32_t replayedSteps() const;
  int32_t replaySteps() const;
  float replayProgress() const;
  // Pause and resume are offered for the current streams only.
  bool replayCanPause() const;
  // The paper's recorder and player.
  CEventMngr* events() const;
  // The file the paper was opened from or last saved to; empty for a new paper.
  const std::string& filePath() const { return path; }
  void setFilePath(const std::string& p) { path = p; }
  // The size a new window wants: the zoomed composite plus 80 pixels.
  QSize preferredClientSize() const;

  // CanvasView.
  void InvalidateAll() override;
  void Invalidate(const ViewRect& windowRect) override;
  int32_t ClientWidth() const override;
  int32_t ClientHeight() const override;
  void Present(const Surface& surface, const ViewRect& source, int32_t windowX, int32_t windowY, int num,
               int den) override;

  // PaperObserver.
  void MaskLockChanged(bool locked) override;
  void LayersChanged() override;
  void MasksChanged() override;

 signals:
  // The paper's layers or their attributes changed.
  void layersChanged();
  // A stroke ended on this layer: its picture changed, nothing else.
  void layerPainted(int32_t layer);
  // The paper's masks or selection flags changed.
  void masksChanged();
  // A replay moved on, paused or ended.
  void replayChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  bool viewportEvent(QEvent* event) override;
  // A paper with unsaved changes asks first (the main window's question).
  void closeEvent(QCloseEvent* event) override;

 private:
  // Half the width of the screen the window is on.
  int32_t margin() const;
  void updateScrollBars();
  // The paper point the unrotated view shows in the middle of the client area.
  void unrotatedCentre(double& x, double& y) const;
  void zoomAboutCentre(int newLevel);

  // Paper coordinates of a point of the client area.
  void paperPoint(const QPointF& p, float& x, float& y) const;
  // Shades what the current selection keeps paint away from, while the
  // selection is shown and in use.
  void drawSelectionOverlay(QPainter& p);
  bool replaying() const { return paperObj->playingBack; }
  // A pen event on the client area; false leaves it to Qt.
  bool tabletInput(QTabletEvent* event);
  // After a stroke's release: repaint, and tell the layer panel.
  void strokeEnded();
  // The pen left the tablet: a stroke it drove ends where it last was.
  void tabletLeft();
  // The running stroke is the pen's.
  bool penStroke() const { return tabletStroke && strokeInProgress(); }

  std::unique_ptr<TPaper> paperObj;
  TStroke* stroke = nullptr;
  StrokeInput strokeInput;
  QPointer<TTabletInput> tablet;
  bool tabletStroke = false;  // the last stroke begun was the pen's
  std::unique_ptr<TFlowImage> flowObj;
  QPainter* painter = nullptr;  // while painting
  int wheelRest = 0;            // wheel delta not yet turned into steps
  bool settingBars = false;
  bool centrePending = false;  // keep the paper centred until the user scrolls or zooms
  // One replay step, and what follows from its result.
  void replayTurn();
  void endReplay(bool stopped);
  void updateReplayCaption(bool force);
  // A fresh paper (and flow image) in place of the present one.
  void renewPaper();
  // The timer and the caption of a replay that has just opened.
  void beginReplayTurns();

  struct Replay {
    bool active = false;
    bool uncapped = false;
    bool stopRequested = false;
    EventStreamFile source;
    // What the window drives: the paper's player, or the oldest streams' one.
    std::unique_ptr<ReplayControl> control;
    OldestPlayer* oldest = nullptr;  // the control, for an oldest stream
    TEventPacket oldestSource;
    uint32_t startedAt = 0, captionAt = 0, lastStepAt = 0;
    QTimer* timer = nullptr;
  } replay;
  std::string endCaption;  // what the caption says after a replay
  QImage selectionShade;       // the paper reduced, alpha where paint cannot go
  bool shadeStale = true;
  std::string path;
  bool markShown = false;  // the caption shows the modified mark
};

}  // namespace vl
