// The canvas driven by a pen tablet: synthetic tablet events from a stylus
// device, as Qt delivers them, on the offscreen platform.
#include "shell/tablet_input.h"

#include <gtest/gtest.h>

#include <QPointingDevice>
#include <QTabletEvent>
#include <QtTest/QTest>
#include <vector>

#include "shell/draw_window.h"
#include "shell/qt_test_support.h"

namespace vl {
namespace {

constexpr auto kCaps = QInputDevice::Capability::Position | QInputDevice::Capability::Pressure;

uint32_t layerChecksum(const TPaper& paper) {
  const CBlockVMTC& image = *paper.layerAt(0)->pixels;
  uint32_t h = 2166136261u;
  for (int32_t y = 0; y < image.height; ++y)
    for (int32_t x = 0; x < image.width; ++x) {
      const uint32_t p = image.Pixel(x, y);
      for (int b = 0; b < 32; b += 8) h = (h ^ ((p >> b) & 0xFF)) * 16777619u;
    }
  return h;
}

// Pixels of a new paper's layer that something painted.
int paintedPixels(const TPaper& paper) {
  const CBlockVMTC& image = *paper.layerAt(0)->pixels;
  int n = 0;
  for (int32_t y = 0; y < image.height; ++y)
    for (int32_t x = 0; x < image.width; ++x) n += alpha(image.Pixel(x, y)) != 0;
  return n;
}

void plainPen(TStroke& pen) {
  pen.ResetDefaults(kBrushPen);  // size and opacity follow the pressure
  pen.SetWidth(10);
  pen.SetColour(0x203040);
}

class Tablet : public ::testing::Test {
 protected:
  Tablet() {
    EXPECT_TRUE(canvas.newPaper("p", 72, 300, 400));
    canvas.resize(300, 200);
    canvas.show();
    plainPen(pen);
    canvas.setStroke(&pen);
    canvas.setTablet(&tablet);
  }
  // Sends one tablet event at a point of the client area to the window, which
  // hands it to the widget under the pen as the platform's would; whether it was taken.
  bool send(QEvent::Type type, const QPointingDevice& device, QPointF at, qreal pressure) {
    return send(type, device, at, pressure, type == QEvent::TabletPress || (type == QEvent::TabletMove && pressure > 0));
  }
  bool send(QEvent::Type type, const QPointingDevice& device, QPointF at, qreal pressure, bool down) {
    const Qt::MouseButton button = type == QEvent::TabletMove ? Qt::NoButton : Qt::LeftButton;
    const QPointF inWindow = at + QPointF(canvas.viewport()->mapTo(&canvas, QPoint(0, 0)));
    QTabletEvent e(type, &device, inWindow, canvas.viewport()->mapToGlobal(at), pressure, 0, 0, 0, 0, 0,
                   Qt::NoModifier, button, down ? Qt::LeftButton : Qt::NoButton);
    QApplication::sendEvent(canvas.windowHandle(), &e);
    return e.isAccepted();
  }
  // Proximity reaches the application, not a window.
  void proximity(QEvent::Type type, const QPointingDevice& device) {
    QTabletEvent e(type, &device, QPointF(), QPointF(), 0, 0, 0, 0, 0, 0, Qt::NoModifier, Qt::NoButton, Qt::NoButton);
    QApplication::sendEvent(QCoreApplication::instance(), &e);
  }
  // Down at the first point, through the others, up at the last.
  void drag(const QPointingDevice& device, const std::vector<QPointF>& points, const std::vector<qreal>& pressures) {
    send(QEvent::TabletPress, device, points[0], pressures[0]);
    for (size_t i = 1; i < points.size(); ++i) send(QEvent::TabletMove, device, points[i], pressures[i], true);
    send(QEvent::TabletRelease, device, points.back(), 0);
  }
  void mouseDrag(QPoint from, QPoint to) {
    QWidget* vp = canvas.viewport();
    QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, from);
    for (int i = 1; i <= 8; ++i) QTest::mouseMove(vp, from + (to - from) * i / 8);
    QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, to);
  }
  void fillLayer(uint32_t argb) {
    TPaper& paper = canvas.paper();
    ASSERT_TRUE(paper.layerAt(0)->pixels->SetMasked(Area(0, 0, 400, 300), 0xFFFFFFFFu, argb));
    paper.loadLayerToFlow(canvas.flow(), 0, true);
    paper.recomposeAll(true);
  }
  uint32_t layerPixelUnder(QPointF at) {
    double x, y;
    canvas.paper().screenToPaper(at.x(), at.y(), x, y);
    return canvas.paper().layerAt(0)->pixels->Pixel(int32_t(x), int32_t(y));
  }

  test::TestApp app;
  TDrawWindow canvas;
  TStroke pen;
  TTabletInput tablet{pen, true};
  QPointingDevice stylus{QStringLiteral("stylus"), 7001, QInputDevice::DeviceType::Stylus,
                         QPointingDevice::PointerType::Pen, kCaps, 1, 3};
  QPointingDevice eraserEnd{QStringLiteral("stylus eraser"), 7001, QInputDevice::DeviceType::Stylus,
                            QPointingDevice::PointerType::Eraser, kCaps, 1, 3};
};

// The pen's pressure reaches the stroke engine unchanged: the canvas paints
// what the engine paints from the same points and pressures.
TEST_F(Tablet, PressureDrivesTheStrokeAsTheEngineDrawsIt) {
  std::vector<QPointF> points;
  std::vector<qreal> pressures;
  for (int i = 0; i < 16; ++i) {
    points.emplace_back(30.25 + 14 * i, 60.5 + 5 * i);
    pressures.push_back(0.05 + 0.06 * i);
  }
  proximity(QEvent::TabletEnterProximity, stylus);
  drag(stylus, points, pressures);
  proximity(QEvent::TabletLeaveProximity, stylus);
  EXPECT_FALSE(canvas.strokeInProgress());
  const uint32_t drawn = layerChecksum(canvas.paper());
  EXPECT_GT(paintedPixels(canvas.paper()), 200);

  // The same points in paper coordinates, handed to the engine directly.
  TDrawWindow reference;
  TStroke direct;
  plainPen(direct);
  for (bool constant : {false, true}) {
    // Back to the new paper's empty layer.
    ASSERT_TRUE(reference.newPaper("q", 72, 300, 400));
    StrokeSession session;
    std::vector<StrokePoint> paperPoints;
    for (size_t i = 0; i < points.size(); ++i) {
      double x, y;
      canvas.paper().screenToPaper(points[i].x(), points[i].y(), x, y);
      paperPoints.push_back({float(x), float(y), constant ? 1.0f : float(pressures[i])});
    }
    direct.layerIndex = 0;
    BeginStrokeOffset(reference.paper(), reference.flow(), direct, session, true, paperPoints[0].pressure,
                      paperPoints[0].y, paperPoints[0].x);
    for (size_t i = 1; i < paperPoints.size(); ++i)
      AddStrokePoint(reference.paper(), reference.flow(), direct, session, true, paperPoints[i].pressure,
                     paperPoints[i].y, paperPoints[i].x);
    AddStrokePoint(reference.paper(), reference.flow(), direct, session, true, 0, paperPoints.back().y,
                   paperPoints.back().x);
    EndStroke(reference.paper(), reference.flow(), direct, session, true);
    if (constant) {
      EXPECT_NE(layerChecksum(reference.paper()), drawn) << "the pressure made no difference";
    } else {
      EXPECT_EQ(layerChecksum(reference.paper()), drawn);
    }
  }
}

TEST_F(Tablet, TheEraserEndErasesAndThePenComesBackWhenItLeaves) {
  fillLayer(0xFFC04020u);
  int changes = 0;
  QObject::connect(&tablet, &TTabletInput::penChanged, [&changes] { ++changes; });
  pen.SetWidth(6);
  pen.SetMinSize(40);

  proximity(QEvent::TabletEnterProximity, eraserEnd);
  send(QEvent::TabletMove, eraserEnd, QPointF(20, 20), 0);  // hovering
  EXPECT_EQ(pen.kind, kBrushEraser);
  EXPECT_TRUE(tablet.eraserSwitched());
  EXPECT_FLOAT_EQ(pen.width, 6.0f);  // the size in hand stays
  EXPECT_EQ(changes, 1);

  drag(eraserEnd, {QPointF(40, 100), QPointF(80, 100), QPointF(120, 100), QPointF(160, 100)}, {0.9, 0.9, 0.9, 0.9});
  EXPECT_LT(alpha(layerPixelUnder(QPointF(100, 100))), 255u);
  EXPECT_EQ(layerPixelUnder(QPointF(100, 160)), 0xFFC04020u);  // away from the line

  // The eraser is made wider while in use; that waits for its next turn.
  pen.SetWidth(20);
  proximity(QEvent::TabletLeaveProximity, eraserEnd);
  EXPECT_EQ(pen.kind, kBrushPen);
  EXPECT_FLOAT_EQ(pen.width, 6.0f);
  EXPECT_FLOAT_EQ(pen.minSize, 40.0f);
  EXPECT_FALSE(tablet.eraserSwitched());
  EXPECT_EQ(changes, 2);

  proximity(QEvent::TabletEnterProximity, eraserEnd);
  send(QEvent::TabletMove, eraserEnd, QPointF(20, 20), 0);
  EXPECT_EQ(pen.kind, kBrushEraser);
  EXPECT_FLOAT_EQ(pen.width, 20.0f);
  // A platform that never says the pen left: the pen's own end takes the switch back.
  send(QEvent::TabletMove, stylus, QPointF(20, 20), 0);
  EXPECT_EQ(pen.kind, kBrushPen);
  EXPECT_FLOAT_EQ(pen.width, 6.0f);
}

TEST_F(Tablet, AnEraserPenStaysAnEraserAndNothingSwitchesDuringReplay) {
  pen.ResetDefaults(kBrushEraser);
  send(QEvent::TabletMove, eraserEnd, QPointF(20, 20), 0);
  EXPECT_FALSE(tablet.eraserSwitched());
  pen.ResetDefaults(kBrushPen);
  canvas.paper().playingBack = true;
  send(QEvent::TabletMove, eraserEnd, QPointF(20, 20), 0);
  EXPECT_FALSE(tablet.eraserSwitched());
  EXPECT_EQ(pen.kind, kBrushPen);
  canvas.paper().playingBack = false;
}

TEST_F(Tablet, MouseStrokesWaitWhileThePenIsNear) {
  proximity(QEvent::TabletEnterProximity, stylus);
  EXPECT_TRUE(tablet.inProximity());
  mouseDrag(QPoint(40, 80), QPoint(160, 80));
  EXPECT_FALSE(canvas.strokeInProgress());
  EXPECT_EQ(paintedPixels(canvas.paper()), 0);

  proximity(QEvent::TabletLeaveProximity, stylus);
  EXPECT_FALSE(tablet.inProximity());
  mouseDrag(QPoint(40, 80), QPoint(160, 80));
  EXPECT_GT(paintedPixels(canvas.paper()), 100);
}

TEST_F(Tablet, StrokesBeginOnTheClientAreaAndEndWhenThePenLeaves) {
  // A touch beyond the client area starts nothing.
  send(QEvent::TabletPress, stylus, QPointF(-30, 50), 0.5);
  EXPECT_FALSE(canvas.strokeInProgress());
  send(QEvent::TabletRelease, stylus, QPointF(-30, 50), 0);

  proximity(QEvent::TabletEnterProximity, stylus);
  send(QEvent::TabletPress, stylus, QPointF(50, 50), 0.5);
  send(QEvent::TabletMove, stylus, QPointF(100, 50), 0.6);
  send(QEvent::TabletMove, stylus, QPointF(400, 50), 0.6);  // off the window, still drawing
  EXPECT_TRUE(canvas.strokeInProgress());
  // Mouse input cannot end or extend the pen's stroke.
  QTest::mouseRelease(canvas.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
  EXPECT_TRUE(canvas.strokeInProgress());
  // Lifted out of range without a release.
  proximity(QEvent::TabletLeaveProximity, stylus);
  EXPECT_FALSE(canvas.strokeInProgress());
  EXPECT_NE(alpha(layerPixelUnder(QPointF(75, 50))), 0u);
  // The mouse has its strokes back, moves and all.
  mouseDrag(QPoint(40, 150), QPoint(160, 150));
  EXPECT_NE(alpha(layerPixelUnder(QPointF(100, 150))), 0u);
}

// A pen without a pressure sensor draws as the mouse does, whatever it reports.
TEST_F(Tablet, APenWithoutPressureDrawsAtFullPressure) {
  const QPointingDevice plain(QStringLiteral("plain stylus"), 7003, QInputDevice::DeviceType::Stylus,
                              QPointingDevice::PointerType::Pen, QInputDevice::Capability::Position, 1, 1);
  drag(plain, {QPointF(40, 80), QPointF(80, 80), QPointF(120, 80), QPointF(160, 80)}, {0, 0, 0, 0});
  const uint32_t byPen = layerChecksum(canvas.paper());
  EXPECT_GT(paintedPixels(canvas.paper()), 100);
  ASSERT_TRUE(canvas.newPaper("p", 72, 300, 400));
  QWidget* vp = canvas.viewport();
  QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, QPoint(40, 80));
  for (int x : {80, 120, 160}) QTest::mouseMove(vp, QPoint(x, 80));
  QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, QPoint(160, 80));
  EXPECT_EQ(layerChecksum(canvas.paper()), byPen);
}

TEST(TabletOff, IgnoredTabletLeavesEventsToQtAndTheMouseDraws) {
  test::TestApp app;
  TDrawWindow canvas;
  ASSERT_TRUE(canvas.newPaper("p", 72, 300, 400));
  canvas.resize(300, 200);
  canvas.show();
  TStroke pen;
  plainPen(pen);
  canvas.setStroke(&pen);
  TTabletInput tablet(pen, false);  // "ignoreTablet"
  canvas.setTablet(&tablet);
  QPointingDevice stylus(QStringLiteral("stylus"), 7002, QInputDevice::DeviceType::Stylus,
                         QPointingDevice::PointerType::Eraser, kCaps, 1, 3);
  QTabletEvent enter(QEvent::TabletEnterProximity, &stylus, QPointF(), QPointF(), 0, 0, 0, 0, 0, 0, Qt::NoModifier,
                     Qt::NoButton, Qt::NoButton);
  QApplication::sendEvent(QCoreApplication::instance(), &enter);
  EXPECT_FALSE(tablet.inProximity());
  const QPointF at(50, 50);
  QTabletEvent press(QEvent::TabletPress, &stylus, at + QPointF(canvas.viewport()->mapTo(&canvas, QPoint(0, 0))),
                     canvas.viewport()->mapToGlobal(at), 0.7, 0, 0, 0, 0, 0, Qt::NoModifier, Qt::LeftButton,
                     Qt::LeftButton);
  QApplication::sendEvent(canvas.windowHandle(), &press);
  // Not taken: Qt makes mouse input of it.
  EXPECT_FALSE(press.isAccepted());
  EXPECT_FALSE(canvas.strokeInProgress());
  EXPECT_EQ(pen.kind, kBrushPen);
  QTabletEvent release(QEvent::TabletRelease, &stylus, press.position(), press.globalPosition(), 0, 0, 0, 0, 0, 0,
                       Qt::NoModifier, Qt::LeftButton, Qt::NoButton);
  QApplication::sendEvent(canvas.windowHandle(), &release);
  QTest::mousePress(canvas.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(40, 80));
  for (int x = 50; x <= 160; x += 10) QTest::mouseMove(canvas.viewport(), QPoint(x, 80));
  QTest::mouseRelease(canvas.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(160, 80));
  EXPECT_GT(paintedPixels(canvas.paper()), 100);
}

}  // namespace
}  // namespace vl
