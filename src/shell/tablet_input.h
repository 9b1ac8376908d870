#pragma once
// Pen tablets through Qt's tablet events: whether tablet input is on, whether
// the pen is over the tablet, and the switch to the eraser while the
// stylus's eraser end is in use. One per application, owned by the main
// window; the canvas windows turn its events into strokes.
#include <QObject>

#include "drawing/stroke.h"

namespace vl {

class TTabletInput : public QObject {
  Q_OBJECT

 public:
  // enabled: the settings do not ask to ignore the tablet. Off, every tablet
  // event is left to Qt, which turns it into mouse input.
  TTabletInput(TStroke& pen, bool enabled, QObject* parent = nullptr);
  ~TTabletInput() override;

  bool enabled() const { return on; }
  // The pen is over the tablet: the brush ignores mouse presses and drags.
  bool inProximity() const { return on && near; }
  bool eraserSwitched() const { return switched; }

  // A tablet event reached a canvas with no stroke running. The eraser end
  // switches the pen to the eraser (not while the canvas replays); the
  // other end takes the switch back.
  void pointerSeen(bool eraserEnd, bool replaying);

 signals:
  // The pen's kind or settings changed here; the brush panel shows them again.
  void penChanged();
  // The pen left the tablet; strokes it drove end.
  void proximityLeft();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // What the pen window keeps of a kind: everything but the colour.
  struct PenSettings {
    uint8_t kind = kBrushPen;
    float minSize = 0, width = 0.1f, gamma = 1, effect = 0, env = 0, speed = 0, spacing = 0.5f, opacity = 1;
    bool sizeByPressure = false, opacityByPressure = false, softEdge = false, useTone = false, useGradation = false;
    uint8_t airMap = 3;
    static PenSettings of(const TStroke& s);
    void applyTo(TStroke& s) const;
  };
  void switchBack();

  TStroke& pen;
  bool on;
  bool near = false;
  bool switched = false;
  PenSettings before;          // the pen as it was when the eraser end came
  PenSettings eraser;          // the eraser as the last turn left it
  bool eraserKept = false;
};

}  // namespace vl
