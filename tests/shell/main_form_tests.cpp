// The main window's commands on a canvas, without running the whole program.
#include "shell/main_form.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QDockWidget>
#include <QComboBox>
#include <QMenu>
#include <QPointingDevice>
#include <QTabletEvent>
#include <QWindow>

#include "shell/brush_picker.h"
#include "shell/draw_window.h"
#include "shell/layer_list.h"
#include "shell/qt_test_support.h"
#include "shell/tablet_input.h"
#include "platform/app_profile.h"

namespace vl {
namespace {

class MainForm : public ::testing::Test {
 protected:
  MainForm() {
    form.resize(800, 600);
    form.show();
    canvas = form.newCanvas(400, 300, 72, "p");
  }
  test::TestApp app;
  TMainForm form{StartupOptions{}};
  TDrawWindow* canvas = nullptr;
};

// Where a paper point 100 pixels right of the window's middle is shown,
// relative to the middle.
QPointF shownRightOfCentre(const TDrawWindow& c) {
  const TPaper& p = c.paper();
  double cx, cy, sx, sy;
  p.screenToPaper(c.ClientWidth() / 2, c.ClientHeight() / 2, cx, cy);
  p.paperToScreen(cx + 100, cy, sx, sy);
  return {sx - c.ClientWidth() / 2, sy - c.ClientHeight() / 2};
}

TEST_F(MainForm, RotateLeftTurnsCounterClockwiseOnScreen) {
  ASSERT_NE(canvas, nullptr);
  struct {
    const char* command;
    double dy;  // sign of the screen y of the point right of the middle; y grows downwards
  } turns[] = {{"actViewRotateLeft", -1}, {"actViewRotateRight", 1}};
  for (const auto& t : turns) {
    SCOPED_TRACE(t.command);
    form.command("actViewRotateCancel")->trigger();
    form.command(t.command)->trigger();
    const QPointF shown = shownRightOfCentre(*canvas);
    // 15 degrees: still to the right, and above the middle for a left turn.
    EXPECT_GT(shown.x(), 90);
    EXPECT_NEAR(shown.y(), t.dy * 100 * 0.258819, 1.0);
  }
}

// A closed panel comes back through the Window menu, which shows with a
// check mark which panels are open.
TEST_F(MainForm, WindowMenuShowsAndHidesThePanels) {
  struct {
    const char* command;
    QDockWidget* panel;
  } panels[] = {{"actShowPenWindow", form.brushes()}, {"actShowLayerWindow", form.layers()}};
  QMenu* windowMenu = form.menu(TMainForm::kMenuWindow);
  for (const auto& p : panels) {
    SCOPED_TRACE(p.command);
    QAction* show = form.command(p.command);
    ASSERT_NE(show, nullptr);
    EXPECT_TRUE(windowMenu->actions().contains(show));
    EXPECT_TRUE(show->isCheckable());
    emit windowMenu->aboutToShow();
    EXPECT_TRUE(show->isChecked());
    p.panel->close();  // the panel's own close button
    emit windowMenu->aboutToShow();
    EXPECT_FALSE(show->isChecked());
    show->trigger();
    EXPECT_TRUE(p.panel->isVisible());
    EXPECT_TRUE(show->isChecked());
    show->trigger();
    EXPECT_FALSE(p.panel->isVisible());
    EXPECT_FALSE(show->isChecked());
    show->trigger();
  }
}

// The stylus turned over over a canvas of the main window: the brush panel
// shows the eraser, and the pen again once the stylus has left.
TEST_F(MainForm, TheEraserEndShowsInTheBrushPanel) {
  ASSERT_NE(canvas, nullptr);
  ASSERT_TRUE(form.tablet() && form.tablet()->enabled());
  const QPointingDevice eraserEnd(QStringLiteral("stylus eraser"), 7101, QInputDevice::DeviceType::Stylus,
                                  QPointingDevice::PointerType::Eraser,
                                  QInputDevice::Capability::Position | QInputDevice::Capability::Pressure, 1, 3);
  QTabletEvent enter(QEvent::TabletEnterProximity, &eraserEnd, QPointF(), QPointF(), 0, 0, 0, 0, 0, 0,
                     Qt::NoModifier, Qt::NoButton, Qt::NoButton);
  QApplication::sendEvent(QCoreApplication::instance(), &enter);
  const QPoint at = canvas->viewport()->rect().center();
  QTabletEvent hover(QEvent::TabletMove, &eraserEnd, canvas->viewport()->mapTo(&form, at),
                     canvas->viewport()->mapToGlobal(QPointF(at)), 0, 0, 0, 0, 0, 0, Qt::NoModifier, Qt::NoButton,
                     Qt::NoButton);
  QApplication::sendEvent(form.windowHandle(), &hover);
  EXPECT_EQ(form.liveStroke().kind, kBrushEraser);
  EXPECT_EQ(form.brushes()->kindBox()->currentData().toInt(), kBrushEraser);
  QTabletEvent leave(QEvent::TabletLeaveProximity, &eraserEnd, QPointF(), QPointF(), 0, 0, 0, 0, 0, 0,
                     Qt::NoModifier, Qt::NoButton, Qt::NoButton);
  QApplication::sendEvent(QCoreApplication::instance(), &leave);
  EXPECT_EQ(form.liveStroke().kind, kBrushPen);
  EXPECT_EQ(form.brushes()->kindBox()->currentData().toInt(), kBrushPen);
}

TEST(MainFormSettings, IgnoreTabletTurnsTabletInputOff) {
  test::TestApp app;
  appProfile().ignoreTablet = true;
  {
    TMainForm form{StartupOptions{}};
    ASSERT_NE(form.tablet(), nullptr);
    EXPECT_FALSE(form.tablet()->enabled());
  }
  appProfile().ignoreTablet = false;
}

}  // namespace
}  // namespace vl
