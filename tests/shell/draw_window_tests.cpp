#include "shell/draw_window.h"

#include <gtest/gtest.h>

#include <QScrollBar>
#include <QWheelEvent>
#include <QtTest/QTest>

#include "shell/qt_test_support.h"

namespace vl {
namespace {

class DrawWindow : public ::testing::Test {
 protected:
  DrawWindow() {
    EXPECT_TRUE(canvas.newPaper("p", 72, 300, 400));
    canvas.resize(300, 200);
    canvas.show();
  }
  // The paper point in the middle of the client area.
  void centre(double& x, double& y) {
    canvas.paper().screenToPaper(canvas.ClientWidth() / 2, canvas.ClientHeight() / 2, x, y);
  }
  void wheel(int delta, Qt::KeyboardModifiers mods) {
    QWheelEvent e(QPointF(50, 50), QPointF(50, 50), QPoint(), QPoint(0, delta), Qt::NoButton, mods,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(canvas.viewport(), &e);
  }
  test::TestApp app;
  TDrawWindow canvas;
};

TEST_F(DrawWindow, KeysZoomAboutTheCentre) {
  struct {
    int key;
    Qt::KeyboardModifiers mods;
    int level;
  } steps[] = {
      {Qt::Key_F5, Qt::NoModifier, 1},          {Qt::Key_Equal, Qt::ControlModifier, 2},
      {Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier, 3},
      {Qt::Key_Minus, Qt::ControlModifier, 2},  {Qt::Key_F6, Qt::NoModifier, 1},
      {Qt::Key_Plus, Qt::NoModifier, 1},        // without Ctrl a plus is no zoom key
  };
  double x0, y0;
  centre(x0, y0);
  for (const auto& s : steps) {
    QTest::keyClick(&canvas, Qt::Key(s.key), s.mods);
    EXPECT_EQ(canvas.paper().zoomLevel, s.level) << s.key;
    double x, y;
    centre(x, y);
    // The paper point in the middle stays there, but for the truncations of
    // the scroll position (a screen pixel) and of the view origin (a paper pixel).
    EXPECT_NEAR(x, x0, 1.0 / canvas.paper().zoomFactor() + 1);
    EXPECT_NEAR(y, y0, 1.0 / canvas.paper().zoomFactor() + 1);
    x0 = x;
    y0 = y;
  }
  EXPECT_NE(canvas.windowTitle().indexOf(QStringLiteral(": 125%")), -1);
}

TEST_F(DrawWindow, ZoomStopsAtTheTableEnds) {
  canvas.paper().setZoomLevel(kMaxZoomLevel);
  EXPECT_FALSE(canvas.zoomIn());
  QTest::keyClick(&canvas, Qt::Key_F5);
  EXPECT_EQ(canvas.paper().zoomLevel, kMaxZoomLevel);
  canvas.paper().setZoomLevel(kMinZoomLevel);
  EXPECT_FALSE(canvas.zoomOut());
  EXPECT_EQ(canvas.paper().zoomLevel, kMinZoomLevel);
}

TEST_F(DrawWindow, WheelZoomsWithCtrlAndScrollsWithout) {
  wheel(-120, Qt::ControlModifier);  // down: in
  EXPECT_EQ(canvas.paper().zoomLevel, 1);
  wheel(60, Qt::ControlModifier);  // half a notch: nothing yet
  EXPECT_EQ(canvas.paper().zoomLevel, 1);
  wheel(60, Qt::ControlModifier);
  EXPECT_EQ(canvas.paper().zoomLevel, 0);
  const int before = canvas.verticalScrollBar()->value();
  wheel(-120, Qt::NoModifier);
  EXPECT_EQ(canvas.paper().zoomLevel, 0);
  EXPECT_GT(canvas.verticalScrollBar()->value(), before);
}

TEST_F(DrawWindow, ScrollBarsMoveTheView) {
  QScrollBar* h = canvas.horizontalScrollBar();
  const int margin = canvas.screen()->availableGeometry().width() / 2;
  h->setValue(0);
  EXPECT_EQ(canvas.paper().windowOffsetX, margin);
  EXPECT_EQ(canvas.paper().viewOriginX, 0);
  h->setValue(margin + 50);
  EXPECT_EQ(canvas.paper().windowOffsetX, 0);
  EXPECT_EQ(canvas.paper().viewOriginX, 50);
  EXPECT_EQ(h->maximum(), 400 + 2 * margin - canvas.ClientWidth());
}

}  // namespace
}  // namespace vl

namespace vl {
namespace {

// Layer 0's pixels that the pen has touched.
int paintedPixels(TDrawWindow& canvas) {
  const CBlockVMTC& image = *canvas.paper().layerAt(0)->pixels;
  int n = 0;
  for (int32_t y = 0; y < image.height; ++y)
    for (int32_t x = 0; x < image.width; ++x) n += alpha(image.Pixel(x, y)) != 0;
  return n;
}

TEST_F(DrawWindow, DraggingTheMousePaintsAndAClickDoesNot) {
  TStroke pen;
  pen.SetWidth(4);
  canvas.setStroke(&pen);
  QWidget* vp = canvas.viewport();
  QTest::mouseClick(vp, Qt::LeftButton, Qt::NoModifier, QPoint(60, 60));
  EXPECT_EQ(paintedPixels(canvas), 0);
  EXPECT_FALSE(canvas.strokeInProgress());

  QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, QPoint(40, 80));
  for (int x = 50; x <= 160; x += 10) QTest::mouseMove(vp, QPoint(x, 80));
  EXPECT_TRUE(canvas.strokeInProgress());
  QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, QPoint(160, 80));
  EXPECT_FALSE(canvas.strokeInProgress());
  EXPECT_GT(paintedPixels(canvas), 100);
  // The pen's line runs through the paper point under the pointer, and the
  // composite shows it.
  double px, py;
  canvas.paper().screenToPaper(100, 80, px, py);
  EXPECT_NE(alpha(canvas.paper().layerAt(0)->pixels->Pixel(int32_t(px), int32_t(py))), 0u);
  EXPECT_NE(canvas.paper().composite().At(int32_t(px), int32_t(py)) & 0x00FFFFFFu, 0x00FFFFFFu);
}

}  // namespace
}  // namespace vl

namespace vl {
namespace {

// Left half red, right half blue: the grabbed screen must show each colour
// where the view maps it, for every way of showing the paper.
TEST_F(DrawWindow, TurnedAndSmoothedViewsShowThePaperWhereTheMappingPutsIt) {
  TPaper& paper = canvas.paper();
  CBlockVMTC& image = *paper.layerAt(0)->pixels;
  ASSERT_TRUE(image.SetMasked(Area(0, 0, 200, 300), 0xFFFFFFFFu, 0xFFFF0000u));
  ASSERT_TRUE(image.SetMasked(Area(200, 0, 200, 300), 0xFFFFFFFFu, 0xFF0000FFu));
  paper.recomposeAll(true);
  const QRgb background = canvas.palette().color(QPalette::Dark).rgb() & 0xFFFFFF;
  struct {
    int level;
    bool smooth;
    float degrees;
  } views[] = {{0, false, 30}, {1, true, 0}, {1, true, -45}, {-2, false, 90}, {-3, true, 0}, {2, false, 180}};
  for (const auto& v : views) {
    SCOPED_TRACE(testing::Message() << v.level << " " << v.smooth << " " << v.degrees);
    paper.setZoomLevel(v.level);
    canvas.setAntialias(v.smooth);
    canvas.setViewRotation(v.degrees);
    EXPECT_EQ(paper.rotated(), v.degrees != 0);
    const QImage shot = canvas.viewport()->grab().toImage();
    int red = 0, blue = 0, outside = 0;
    for (int y = 2; y < shot.height() - 2; y += 7)
      for (int x = 2; x < shot.width() - 2; x += 7) {
        double px, py;
        paper.screenToPaper(x + 0.5, y + 0.5, px, py);
        const QRgb shown = shot.pixel(x, y) & 0xFFFFFF;
        // Two paper pixels (and two screen pixels) from every edge the colour is certain.
        const double edge = 2 + 2 / paper.zoomFactor();
        if (px < -edge || py < -edge || px > 400 + edge || py > 300 + edge) {
          EXPECT_EQ(shown, background) << x << "," << y;
          ++outside;
        } else if (px > edge && px < 200 - edge && py > edge && py < 300 - edge) {
          EXPECT_EQ(shown, 0xFF0000u) << x << "," << y;
          ++red;
        } else if (px > 200 + edge && px < 400 - edge && py > edge && py < 300 - edge) {
          EXPECT_EQ(shown, 0x0000FFu) << x << "," << y;
          ++blue;
        }
      }
    EXPECT_GT(red + blue, 20);
  }
  canvas.setViewRotation(0);
  EXPECT_FALSE(paper.rotated());
}

}  // namespace
}  // namespace vl

namespace vl {
namespace {

// Every kind the picker offers changes a two-coloured layer under a drag.
TEST_F(DrawWindow, EveryOfferedBrushPaintsWithTheMouse) {
  TPaper& paper = canvas.paper();
  QWidget* vp = canvas.viewport();
  for (int kind = 0; kind < kBrushKindCount; ++kind) {
    if (kind == kBrushBlur2) continue;
    SCOPED_TRACE(kind);
    CBlockVMTC& image = *paper.layerAt(0)->pixels;
    ASSERT_TRUE(image.SetMasked(Area(0, 0, 400, 150), 0xFFFFFFFFu, 0xFFC04020u));
    ASSERT_TRUE(image.SetMasked(Area(0, 150, 400, 150), 0xFFFFFFFFu, 0xFF2040C0u));
    paper.loadLayerToFlow(canvas.flow(), 0, true);
    paper.recomposeAll(true);
    TStroke pen;
    pen.ResetDefaults(kind);
    pen.SetWidth(12);
    pen.SetEffect(80);
    pen.SetColour(0x10E010);
    canvas.setStroke(&pen);
    double px, py;
    paper.screenToPaper(0, 0, px, py);
    // A drag across the colour border.
    const int borderY = int((150 - py) * paper.zoomFactor());
    QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, QPoint(40, borderY - 30));
    for (int i = 1; i <= 12; ++i) QTest::mouseMove(vp, QPoint(40 + 10 * i, borderY - 30 + 5 * i));
    QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, QPoint(160, borderY + 30));
    int changed = 0;
    for (int32_t y = 100; y < 200; ++y)
      for (int32_t x = 0; x < 250; ++x) {
        const uint32_t was = y < 150 ? 0xFFC04020u : 0xFF2040C0u;
        changed += image.Pixel(x, y) != was;
      }
    EXPECT_GT(changed, 50);
  }
}

}  // namespace
}  // namespace vl
