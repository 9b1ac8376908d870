#include "shell/draw_window.h"

#include <algorithm>
#include <cmath>

#include <QCloseEvent>
#include <QMouseEvent>

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMdiArea>
#include <QPaintEvent>
#include <QPainter>
#include <QPointingDevice>
#include <QRegion>
#include <QScreen>
#include <QScrollBar>
#include <QTabletEvent>
#include <QWheelEvent>

#include "pixel/pixel_math.h"
#include "platform/app_profile.h"
#include "platform/strings.h"
#include "platform/ui_services.h"
#include "events/event_manager.h"
#include "undo/undo_manager.h"
#include "shell/cli/canvas_scroll.h"
#include "shell/main_form.h"
#include "shell/qt_ui.h"

namespace vl {

TDrawWindow::TDrawWindow(QWidget* parent)
    : QAbstractScrollArea(parent),
      paperObj(std::make_unique<TPaper>(this)),
      flowObj(std::make_unique<TFlowImage>(*paperObj)) {
  // Every pixel of the client area is painted by paintEvent.
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setAutoFillBackground(false);
  // The margin around the paper keeps both bars in use at every size.
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setFocusPolicy(Qt::StrongFocus);
  setFrameShape(QFrame::NoFrame);
  paperObj->observer = this;
  // Every change the user makes here can be taken back.
  const int32_t depth = appProfile().undoMax;
  paperObj->setUndoHook(std::make_unique<CUndoMngrEx>(*paperObj, CUndoMngrEx::kSpare, depth, depth));
  // Rotated and smoothed views show the margin's colour around the paper.
  paperObj->viewBackgroundColor = palette().color(QPalette::Dark).rgb() & 0x00FFFFFFu;
}

TDrawWindow::~TDrawWindow() {
  paperObj->view = nullptr;
  paperObj->observer = nullptr;
}

void TDrawWindow::setStroke(TStroke* s) {
  stroke = s;
  if (const CLayerData* l = paperObj->currentLayer()) MaskLockChanged(l->maskLock != 0);
}

void TDrawWindow::MaskLockChanged(bool locked) {
  // A running stroke keeps the lock it began with.
  if (stroke && !strokeInProgress()) stroke->lockAlpha = locked;
}

void TDrawWindow::strokeEnded() {
  viewport()->update();
  if (stroke) emit layerPainted(stroke->layerIndex);
}

void TDrawWindow::LayersChanged() {
  updateCaption();
  emit layersChanged();
}

void TDrawWindow::MasksChanged() {
  shadeStale = true;
  viewport()->update();
  emit masksChanged();
}

void TDrawWindow::drawSelectionOverlay(QPainter& p) {
  const TPaper& paper = *paperObj;
  if (!paper.selectionVisible || !paper.selectionUsable() || paper.width <= 0 || paper.height <= 0) return;
  if (shadeStale) {
    // At most 1024 samples on the long side: a sign, not the mask itself.
    const double step = std::max(1.0, std::max(paper.width, paper.height) / 1024.0);
    const int w = std::max(1, int(paper.width / step)), h = std::max(1, int(paper.height / step));
    selectionShade = QImage(w, h, QImage::Format_ARGB32_Premultiplied);
    const CMaskData& m = *paper.masks.CurrentMask();
    for (int y = 0; y < h; ++y) {
      auto* row = reinterpret_cast<QRgb*>(selectionShade.scanLine(y));
      const int32_t py = int32_t((y + 0.5) * paper.height / h);
      for (int x = 0; x < w; ++x) {
        const int v = std::max(m.ValueAtPaper(int32_t((x + 0.5) * paper.width / w), py), 0);
        const int a = (255 - v) * 96 / 255;
        row[x] = qPremultiply(qRgba(200, 40, 60, a));
      }
    }
    shadeStale = false;
  }
  // Paper to window, from where three paper points land.
  double x0, y0, x1, y1, x2, y2;
  paper.paperToScreen(0, 0, x0, y0);
  paper.paperToScreen(paper.width, 0, x1, y1);
  paper.paperToScreen(0, paper.height, x2, y2);
  const QTransform t((x1 - x0) / selectionShade.width(), (y1 - y0) / selectionShade.width(),
                     (x2 - x0) / selectionShade.height(), (y2 - y0) / selectionShade.height(), x0, y0);
  p.save();
  p.setTransform(t, true);
  p.drawImage(QPointF(0, 0), selectionShade);
  p.restore();
}

bool TDrawWindow::newPaper(const std::string& name, int32_t resolution, int32_t height, int32_t width) {
  // Everything done to the paper from its making on is recorded.
  auto recorder = std::make_unique<CEventMngr>(*paperObj);
  const int32_t depth = std::max(8, appProfile().undoMax + 34);
  if (recorder->start(stroke, depth, depth)) {
    paperObj->setEventHook(std::move(recorder));
  } else {
    // The paper works without a recording; the user learns it now, not when saving.
    ui().Warning(text(TextId::EventRecordingStopped));
  }
  if (!paperObj->newPaper(*flowObj, name, resolution, height, width)) return false;
  centrePending = true;
  updateScrollBars();
  centreOn(width / 2, height / 2);
  updateCaption();
  return true;
}

int32_t TDrawWindow::margin() const {
  const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
  return s ? s->availableGeometry().width() / 2 : 0;
}

void TDrawWindow::updateScrollBars() {
  const TPaper& p = *paperObj;
  const double z = p.zoomFactor();
  const int32_t m = margin();
  const ScrollRange h = scrollRange(p.width, z, m, viewport()->width());
  const ScrollRange v = scrollRange(p.height, z, m, viewport()->height());
  settingBars = true;
  horizontalScrollBar()->setRange(0, h.lastPosition());
  horizontalScrollBar()->setPageStep(h.page);
  horizontalScrollBar()->setSingleStep(h.smallStep);
  verticalScrollBar()->setRange(0, v.lastPosition());
  verticalScrollBar()->setPageStep(v.page);
  verticalScrollBar()->setSingleStep(v.smallStep);
  settingBars = false;
}

void TDrawWindow::applyScroll() {
  TPaper& p = *paperObj;
  const double z = p.zoomFactor();
  const int32_t m = margin();
  const ScrollMapping h = scrollMapping(horizontalScrollBar()->value(), p.width, z, m, viewport()->width());
  const ScrollMapping v = scrollMapping(verticalScrollBar()->value(), p.height, z, m, viewport()->height());
  p.setWindowOffset(h.windowOffset, v.windowOffset);
  p.setViewOrigin(h.viewOrigin, v.viewOrigin);
  // A turned view pans its centre with the bars, along the paper's axes.
  if (p.rotated()) {
    double cx, cy;
    unrotatedCentre(cx, cy);
    p.setRotationCentre(float(cx), float(cy));
  }
  viewport()->update();
}

void TDrawWindow::unrotatedCentre(double& x, double& y) const {
  const TPaper& p = *paperObj;
  const double z = p.zoomFactor();
  x = (ClientWidth() / 2 - p.windowOffsetX) / z + p.viewOriginX;
  y = (ClientHeight() / 2 - p.windowOffsetY) / z + p.viewOriginY;
}

void TDrawWindow::setAntialias(bool on) {
  paperObj->zoomAntialias = on;
  viewport()->update();
}

void TDrawWindow::setViewRotation(float degrees) {
  TPaper& p = *paperObj;
  if (!std::isfinite(degrees)) return;
  // Keep the angle in −180 … 180 so repeated turns never lose precision.
  degrees = std::remainder(degrees, 360.0f);
  if (std::fabs(degrees) < 0.01f) degrees = 0.0f;
  double cx, cy;
  p.screenToPaper(ClientWidth() / 2, ClientHeight() / 2, cx, cy);
  p.setRotationDegrees(degrees);
  centrePending = false;
  centreOn(cx, cy);
  updateCaption();
  viewport()->update();
}

void TDrawWindow::centreOn(double x, double y) {
  const TPaper& p = *paperObj;
  const double z = p.zoomFactor();
  const int32_t m = margin();
  settingBars = true;
  horizontalScrollBar()->setValue(scrollPositionCentring(x, p.width, z, m, viewport()->width()));
  verticalScrollBar()->setValue(scrollPositionCentring(y, p.height, z, m, viewport()->height()));
  settingBars = false;
  applyScroll();
}

void TDrawWindow::zoomAboutCentre(int newLevel) {
  TPaper& p = *paperObj;
  double cx, cy;
  p.screenToPaper(ClientWidth() / 2, ClientHeight() / 2, cx, cy);
  p.setZoomLevel(newLevel);
  centrePending = false;
  updateScrollBars();
  centreOn(cx, cy);
  updateCaption();
  InvalidateAll();
}

bool TDrawWindow::zoomIn() {
  if (!paperObj->initialised || !paperObj->canZoomIn()) return false;
  zoomAboutCentre(paperObj->zoomLevel + 1);
  return true;
}

bool TDrawWindow::zoomOut() {
  if (!paperObj->initialised || !paperObj->canZoomOut()) return false;
  zoomAboutCentre(paperObj->zoomLevel - 1);
  return true;
}

void TDrawWindow::zoomCancel() {
  TPaper& p = *paperObj;
  if (!p.initialised) return;
  p.setZoomLevel(0);
  centrePending = false;
  updateScrollBars();
  centreOn(p.width / 2, p.height / 2);
  updateCaption();
  InvalidateAll();
}

void TDrawWindow::updateCaption() {
  // The mark of unsaved changes goes in front of the paper's caption text.
  markShown = paperObj->modified;
  // After a replay the caption keeps saying how it ended.
  const std::string caption = endCaption.empty() ? paperObj->captionText() : endCaption;
  setWindowTitle(toQt(markShown ? "*" + caption : caption));
}

void TDrawWindow::updateModifiedMark() {
  if (markShown != paperObj->modified) updateCaption();
}

void TDrawWindow::closeEvent(QCloseEvent* event) {
  if (auto* form = qobject_cast<TMainForm*>(window()); form && !form->canvasMayClose(*this)) {
    event->ignore();
    return;
  }
  event->accept();
}

QSize TDrawWindow::preferredClientSize() const {
  const TPaper& p = *paperObj;
  const double z = p.zoomFactor();
  return {truncToInt(p.width * z) + 80, truncToInt(p.height * z) + 80};
}

// ---- CanvasView ----

void TDrawWindow::InvalidateAll() { viewport()->update(); }

void TDrawWindow::Invalidate(const ViewRect& r) { viewport()->update(QRect(r.x, r.y, r.width, r.height)); }

int32_t TDrawWindow::ClientWidth() const { return viewport()->width(); }

int32_t TDrawWindow::ClientHeight() const { return viewport()->height(); }

void TDrawWindow::Present(const Surface& surface, const ViewRect& source, int32_t windowX, int32_t windowY, int num,
                          int den) {
  if (!surface.bits || den <= 0 || num <= 0 || source.width <= 0 || source.height <= 0) return;
  const int32_t w = int32_t(int64_t(source.width) * num / den);
  const int32_t h = int32_t(int64_t(source.height) * num / den);
  if (!painter) {
    // Outside painting: paint it on the next round.
    viewport()->update(QRect(windowX, windowY, w, h));
    return;
  }
  // The block as it is, without a copy. A bottom-up block is shown row by
  // row at 1:1 and through a vertical flip of the painter when stretched.
  const QImage image(surface.bits, surface.width, surface.height, surface.bytesPerLine, QImage::Format_RGB32);
  if (!surface.bottomUp) {
    painter->drawImage(QRect(windowX, windowY, w, h), image,
                       QRect(source.x, source.y, source.width, source.height));
    return;
  }
  if (num == den) {
    // Row by row is the plain copy, about twice as fast as the flipped painter.
    const int32_t bottomRow = surface.height - 1 - source.y;
    for (int32_t y = 0; y < source.height; ++y)
      painter->drawImage(QPoint(windowX, windowY + y), image, QRect(source.x, bottomRow - y, source.width, 1));
    return;
  }
  painter->save();
  painter->setTransform(QTransform(1, 0, 0, -1, 0, windowY + h));
  painter->drawImage(QRect(windowX, 0, w, h), image,
                     QRect(source.x, surface.height - source.y - source.height, source.width, source.height));
  painter->restore();
}

// ---- events ----

void TDrawWindow::paintEvent(QPaintEvent* event) {
  QPainter p(viewport());
  const QRect exposed = event->rect();
  const QColor background = palette().color(QPalette::Dark);
  TPaper& paper = *paperObj;
  if (!paper.initialised || !paper.compositeImage.IsAllocated()) {
    p.fillRect(exposed, background);
    return;
  }
  // What painting left stale is composed now; the next frame invalidates it.
  paper.settleComposite();
  if (paper.rotated()) {
    // The turned paper is no rectangle: the renderer paints the background
    // around it. Render the paper under the exposed corners.
    p.fillRect(exposed, background);
    double xs[4], ys[4];
    const QPoint corners[4] = {exposed.topLeft(), exposed.topRight() + QPoint(1, 0),
                               exposed.bottomLeft() + QPoint(0, 1), exposed.bottomRight() + QPoint(1, 1)};
    for (int i = 0; i < 4; ++i) paper.screenToPaper(corners[i].x(), corners[i].y(), xs[i], ys[i]);
    const auto clampInt = [](double d) { return int32_t(std::clamp(d, -1e9, 1e9)); };
    const int32_t l = clampInt(std::floor(*std::min_element(xs, xs + 4))) - 1;
    const int32_t t = clampInt(std::floor(*std::min_element(ys, ys + 4))) - 1;
    const int32_t r = clampInt(std::ceil(*std::max_element(xs, xs + 4))) + 1;
    const int32_t b = clampInt(std::ceil(*std::max_element(ys, ys + 4))) + 1;
    p.setClipRect(exposed);
    painter = &p;
    paper.drawToWindow(l, b, r, t);
    painter = nullptr;
    drawSelectionOverlay(p);
    return;
  }
  const double z = paper.zoomFactor();
  const int32_t m = margin();
  const ScrollMapping h = scrollMapping(horizontalScrollBar()->value(), paper.width, z, m, viewport()->width());
  const ScrollMapping v = scrollMapping(verticalScrollBar()->value(), paper.height, z, m, viewport()->height());
  const QRect paperRect(QPoint(h.paperStart, v.paperStart), QPoint(h.paperEnd - 1, v.paperEnd - 1));
  for (const QRect& r : QRegion(exposed).subtracted(QRegion(paperRect))) p.fillRect(r, background);

  const QRect shown = exposed & paperRect;
  if (shown.isEmpty()) return;
  int num, den;
  zoomRatioOf(paper.zoomLevel, num, den);
  // A stretch that is not whole may leave an edge pixel undrawn.
  if (den != 1) p.fillRect(shown, background);
  double x0, y0, x1, y1;
  paper.screenToPaper(shown.left(), shown.top(), x0, y0);
  paper.screenToPaper(shown.right() + 1, shown.bottom() + 1, x1, y1);
  const auto clampInt = [](double d) { return int32_t(std::clamp(d, -1e9, 1e9)); };
  p.setClipRect(shown);
  painter = &p;
  paper.drawToWindow(clampInt(std::floor(x0)), clampInt(std::ceil(y1)) + 1, clampInt(std::ceil(x1)) + 1,
                     clampInt(std::floor(y0)));
  painter = nullptr;
  drawSelectionOverlay(p);
}

void TDrawWindow::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  updateScrollBars();
  if (centrePending && paperObj->initialised) {
    centreOn(paperObj->width / 2, paperObj->height / 2);
  } else {
    applyScroll();
  }
}

void TDrawWindow::scrollContentsBy(int, int) {
  if (settingBars) return;
  centrePending = false;
  applyScroll();
}

void TDrawWindow::keyPressEvent(QKeyEvent* event) {
  const Qt::KeyboardModifiers mods = event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
  const bool ctrl = mods & Qt::ControlModifier;
  const int key = event->key();
  bool handled = true;
  if (ctrl && (key == Qt::Key_Plus || key == Qt::Key_Equal)) {
    if (!event->isAutoRepeat()) zoomIn();
  } else if (ctrl && key == Qt::Key_Minus) {
    if (!event->isAutoRepeat()) zoomOut();
  } else if (key == Qt::Key_F5 && !mods) {
    if (!event->isAutoRepeat()) zoomIn();
  } else if (key == Qt::Key_F6 && !mods) {
    if (!event->isAutoRepeat()) zoomOut();
  } else if (key == Qt::Key_F6 && ctrl) {
    QWidget* w = parentWidget();
    while (w && !qobject_cast<QMdiArea*>(w)) w = w->parentWidget();
    if (auto* area = qobject_cast<QMdiArea*>(w); area && !event->isAutoRepeat()) {
      if (mods & Qt::ShiftModifier) {
        area->activatePreviousSubWindow();
      } else {
        area->activateNextSubWindow();
      }
    }
  } else {
    handled = false;
  }
  if (handled) {
    event->accept();
  } else {
    QAbstractScrollArea::keyPressEvent(event);
  }
}

// ---- painting with the pointer ----

void TDrawWindow::paperPoint(const QPointF& p, float& x, float& y) const {
  double px, py;
  paperObj->screenToPaper(p.x(), p.y(), px, py);
  // Points are kept as the floats a recording would store.
  x = float(px);
  y = float(py);
}

namespace {

bool modifiersHeld(Qt::KeyboardModifiers m) {
  return m & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
}

}  // namespace

void TDrawWindow::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !stroke || !paperObj->initialised) {
    QAbstractScrollArea::mousePressEvent(event);
    return;
  }
  event->accept();
  // While the pen is over the tablet, strokes come from the pen alone.
  if ((tablet && tablet->inProximity()) || penStroke()) return;
  float x, y;
  paperPoint(event->position(), x, y);
  // A press begins the stroke; moves add its points.
  if (!strokeInProgress()) tabletStroke = false;
  strokeInput.Move(*paperObj, *flowObj, *stroke, x, y, 1.0f, modifiersHeld(event->modifiers()), replaying());
}

void TDrawWindow::mouseMoveEvent(QMouseEvent* event) {
  if (!stroke || !strokeInput.session.inProgress || !(event->buttons() & Qt::LeftButton)) {
    QAbstractScrollArea::mouseMoveEvent(event);
    return;
  }
  event->accept();
  if (penStroke() || (tablet && tablet->inProximity())) return;
  float x, y;
  paperPoint(event->position(), x, y);
  strokeInput.Move(*paperObj, *flowObj, *stroke, x, y, 1.0f, modifiersHeld(event->modifiers()), replaying());
}

void TDrawWindow::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !stroke || !strokeInput.session.inProgress) {
    QAbstractScrollArea::mouseReleaseEvent(event);
    return;
  }
  event->accept();
  // The pen's stroke ends when the pen lifts.
  if (penStroke()) return;
  float x, y;
  paperPoint(event->position(), x, y);
  strokeInput.Release(*paperObj, *flowObj, *stroke, x, y, replaying());
  strokeEnded();
}

// ---- painting with the pen ----

void TDrawWindow::setTablet(TTabletInput* t) {
  if (tablet) disconnect(tablet, nullptr, this, nullptr);
  tablet = t;
  if (tablet) connect(tablet, &TTabletInput::proximityLeft, this, &TDrawWindow::tabletLeft);
  // The eraser end is seen while the pen hovers, before it touches.
  viewport()->setAttribute(Qt::WA_TabletTracking, t && t->enabled());
}

bool TDrawWindow::viewportEvent(QEvent* event) {
  switch (event->type()) {
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
      if (tabletInput(static_cast<QTabletEvent*>(event))) return true;
      // Qt turns a tablet event nobody took into mouse input.
      event->ignore();
      return false;
    default:
      return QAbstractScrollArea::viewportEvent(event);
  }
}

bool TDrawWindow::tabletInput(QTabletEvent* event) {
  if (!tablet || !tablet->enabled() || !stroke || !paperObj->initialised) return false;
  event->accept();
  // The kind changes only between strokes.
  if (!strokeInProgress())
    tablet->pointerSeen(event->pointerType() == QPointingDevice::PointerType::Eraser, replaying());
  if (event->type() == QEvent::TabletPress && (focusPolicy() & Qt::ClickFocus)) setFocus(Qt::MouseFocusReason);
  // Pressure as the stroke takes it, 0 … 1; a reading that is no number is a
  // lifted pen. A device without pressure presses fully while its tip is down.
  const QPointingDevice* device = event->pointingDevice();
  qreal reading = event->pressure();
  if (device && !device->capabilities().testFlag(QInputDevice::Capability::Pressure))
    reading = event->type() != QEvent::TabletRelease && (event->buttons() & Qt::LeftButton) ? 1.0 : 0.0;
  const float pressure = reading > 0 ? float(std::min<qreal>(reading, 1.0)) : 0.0f;
  float x, y;
  paperPoint(event->position(), x, y);
  if (pressure > 0 && event->type() != QEvent::TabletRelease) {
    // A stroke begins only over the client area; a running one follows the pen anywhere.
    const bool begins = !strokeInProgress();
    if (begins && !viewport()->rect().contains(event->position().toPoint())) return true;
    strokeInput.Move(*paperObj, *flowObj, *stroke, x, y, pressure, modifiersHeld(event->modifiers()), replaying());
    if (begins) tabletStroke = strokeInProgress();
  } else if (strokeInProgress()) {
    // Pressure 0 ends the stroke where the pen lifted.
    strokeInput.Release(*paperObj, *flowObj, *stroke, x, y, replaying());
    strokeEnded();
  }
  return true;
}

void TDrawWindow::tabletLeft() {
  if (!penStroke() || !stroke) return;
  const StrokePoint last = stroke->history[0];
  strokeInput.Release(*paperObj, *flowObj, *stroke, last.x, last.y, replaying());
  strokeEnded();
}

void TDrawWindow::wheelEvent(QWheelEvent* event) {
  if (!(event->modifiers() & Qt::ControlModifier)) {
    QAbstractScrollArea::wheelEvent(event);
    return;
  }
  // Wheel down zooms in, wheel up zooms out, one level per notch.
  wheelRest += event->angleDelta().y();
  while (wheelRest >= 120) {
    wheelRest -= 120;
    zoomOut();
  }
  while (wheelRest <= -120) {
    wheelRest += 120;
    zoomIn();
  }
  event->accept();
}

}  // namespace vl
