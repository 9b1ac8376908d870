#include "shell/tablet_input.h"

#include <QCoreApplication>
#include <QEvent>

#include "shell/brush_picker.h"

namespace vl {

TTabletInput::PenSettings TTabletInput::PenSettings::of(const TStroke& s) {
  PenSettings p;
  p.kind = s.kind;
  p.minSize = s.minSize;
  p.width = s.width;
  p.gamma = s.gamma;
  p.effect = s.effect;
  p.env = s.env;
  p.speed = s.speed;
  p.spacing = s.spacing;
  p.opacity = s.opacity;
  p.sizeByPressure = s.sizeByPressure;
  p.opacityByPressure = s.opacityByPressure;
  p.softEdge = s.softEdge;
  p.useTone = s.useTone;
  p.useGradation = s.useGradation;
  p.airMap = s.airMap;
  return p;
}

void TTabletInput::PenSettings::applyTo(TStroke& s) const {
  // Through the setters, so the recorder sees the change before the next stroke.
  s.SetKind(kind);
  s.SetMinSize(minSize);
  s.SetWidth(width);
  s.SetGamma(gamma);
  s.SetEffect(effect);
  s.SetEnv(env);
  s.SetSpeed(speed);
  s.SetSpacing(spacing);
  s.SetOpacity(opacity);
  s.SetSizeByPressure(sizeByPressure);
  s.SetOpacityByPressure(opacityByPressure);
  s.SetSoftEdge(softEdge);
  s.SetUseTone(useTone);
  s.SetUseGradation(useGradation);
  s.SetAirMap(airMap);
}

TTabletInput::TTabletInput(TStroke& p, bool enabled, QObject* parent) : QObject(parent), pen(p), on(enabled) {
  // Proximity events go to the application object, not to a window.
  if (on && QCoreApplication::instance()) QCoreApplication::instance()->installEventFilter(this);
}

TTabletInput::~TTabletInput() {
  if (on && QCoreApplication::instance()) QCoreApplication::instance()->removeEventFilter(this);
}

bool TTabletInput::eventFilter(QObject* watched, QEvent* event) {
  if (watched == QCoreApplication::instance()) {
    if (event->type() == QEvent::TabletEnterProximity) {
      near = true;
    } else if (event->type() == QEvent::TabletLeaveProximity) {
      near = false;
      // Strokes end before the pen changes back.
      emit proximityLeft();
      if (switched) switchBack();
    }
  }
  return QObject::eventFilter(watched, event);
}

void TTabletInput::pointerSeen(bool eraserEnd, bool replaying) {
  if (!on) return;
  if (!eraserEnd) {
    // The pen's own end is in use: the eraser's turn is over even when the
    // platform never said that the pen left.
    if (switched) switchBack();
    return;
  }
  if (switched || replaying || pen.kind == kBrushEraser) return;
  before = PenSettings::of(pen);
  switched = true;
  if (eraserKept) {
    eraser.applyTo(pen);
  } else {
    choosePenKind(pen, kBrushEraser);
  }
  emit penChanged();
}

void TTabletInput::switchBack() {
  switched = false;
  // What the user set on the eraser meanwhile waits for its next turn.
  if (pen.kind == kBrushEraser) {
    eraser = PenSettings::of(pen);
    eraserKept = true;
  }
  before.applyTo(pen);
  emit penChanged();
}

}  // namespace vl
