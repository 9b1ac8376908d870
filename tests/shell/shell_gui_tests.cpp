// The program in this process on Qt's offscreen platform: start, a new
// canvas through the menu command and its dialog, what the canvas shows,
// zoom, and a clean end that writes the settings.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QTimer>

#include <fstream>

#include "document/layer.h"
#include "platform/app_profile.h"
#include "platform/ui_services.h"
#include "shell/draw_window.h"
#include "shell/main_form.h"
#include "shell/new_canvas_dialog.h"
#include "shell/qt_test_support.h"
#include "shell/shell_main.h"

namespace vl {
namespace {

TNewWindow* openDialog() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* d = qobject_cast<TNewWindow*>(w); d && d->isVisible()) return d;
  return nullptr;
}

// Paper colours that the screen must show: red above y 100, blue below, a
// green square at 150 … 169 × 60 … 79.
void paintTestPicture(TPaper& paper) {
  CLayerData* layer = paper.layerAt(0);
  ASSERT_TRUE(layer && layer->pixels);
  ASSERT_TRUE(layer->pixels->SetMasked(Area(0, 0, 320, 100), 0xFFFFFFFFu, 0xFFFF0000u));
  ASSERT_TRUE(layer->pixels->SetMasked(Area(0, 100, 320, 100), 0xFFFFFFFFu, 0xFF0000FFu));
  ASSERT_TRUE(layer->pixels->SetMasked(Area(150, 60, 20, 20), 0xFFFFFFFFu, 0xFF00FF00u));
  paper.recomposeAll(true);
}

// Checks what the canvas shows at points well inside each colour.
void checkScreen(TDrawWindow& canvas, const char* when) {
  SCOPED_TRACE(when);
  const QImage shot = canvas.viewport()->grab().toImage();
  struct {
    Point paper;
    QRgb colour;
  } points[] = {{{100, 45}, 0xFF0000}, {{220, 150}, 0x0000FF}, {{160, 70}, 0x00FF00}, {{60, 120}, 0x0000FF}};
  int checked = 0;
  for (const auto& p : points) {
    const Point s = canvas.paper().paperToScreen(p.paper);
    if (!shot.rect().contains(s.x, s.y)) continue;
    ++checked;
    EXPECT_EQ(shot.pixel(s.x, s.y) & 0xFFFFFF, p.colour) << p.paper.x << "," << p.paper.y;
  }
  EXPECT_GE(checked, 3);
  // Left of the paper lies the margin in the window background.
  const TPaper& paper = canvas.paper();
  if (paper.windowOffsetX >= 5 && paper.windowOffsetY + 5 < shot.height()) {
    EXPECT_EQ(shot.pixel(paper.windowOffsetX - 5, paper.windowOffsetY + 5),
              canvas.palette().color(QPalette::Dark).rgb());
  }
}

TEST(ShellGui, NewCanvasShowsThePaperAndTheEndWritesTheSettings) {
  test::ShellEnvironment env;
  HeadlessUi capture(false, false);
  bool timedOut = false, stepsDone = false;
  std::string caption, canvasCaption;
  std::vector<std::string> warningsWhileDialogOpen;
  bool dialogStayedOpen = false;

  std::function<void()> step;
  ShellHooks hooks;
  hooks.started = [&](TMainForm& form) {
    setUi(&capture);  // warnings are collected, never shown
    test::startWatchdog(&form, timedOut);
    step = [&] {
      if (!form.activated()) {
        QTimer::singleShot(10, &form, step);
        return;
      }
      caption = form.windowTitle().toStdString();
      // The dialog: a width of 7 is refused and the dialog stays; 320 × 200 is taken.
      QTimer::singleShot(0, &form, [&] {
        TNewWindow* d = openDialog();
        ASSERT_NE(d, nullptr);
        d->field(CNewCanvasModel::kWidth)->setText("7");
        d->field(CNewCanvasModel::kHeight)->setText("200");
        d->field(CNewCanvasModel::kResolution)->setText("72");
        d->accept();
        warningsWhileDialogOpen = capture.warnings;
        dialogStayedOpen = d->isVisible();
        d->field(CNewCanvasModel::kWidth)->setText("320");
        d->accept();
      });
      form.command("actFileNew")->trigger();

      const std::vector<TDrawWindow*> canvases = form.canvases();
      ASSERT_EQ(canvases.size(), 1u);
      TDrawWindow& canvas = *canvases[0];
      canvasCaption = canvas.windowTitle().toStdString();
      EXPECT_EQ(canvasCaption, canvas.paper().captionText());
      EXPECT_EQ(canvas.paper().width, 320);
      EXPECT_EQ(canvas.paper().height, 200);
      EXPECT_EQ(canvas.paper().resolution, 72);

      // A new paper shows its paper colour.
      const QImage blank = canvas.viewport()->grab().toImage();
      const Point centre = canvas.paper().paperToScreen(Point{160, 100});
      EXPECT_EQ(blank.pixel(centre.x, centre.y) & 0xFFFFFF, 0xFFFFFFu);

      paintTestPicture(canvas.paper());
      EXPECT_EQ(canvas.paper().compositeImage.At(160, 70) & 0xFFFFFF, 0x00FF00u);
      checkScreen(canvas, "1:1");
      for (int i = 0; i < 4; ++i) EXPECT_TRUE(canvas.zoomIn());
      EXPECT_NE(canvas.windowTitle().toStdString().find("w320 x h200 : 200%"), std::string::npos);
      checkScreen(canvas, "2:1");
      canvas.zoomCancel();
      EXPECT_TRUE(canvas.zoomOut());
      EXPECT_NE(canvas.windowTitle().toStdString().find(": 75%"), std::string::npos);
      checkScreen(canvas, "3:4");
      stepsDone = true;
      form.close();
    };
    QTimer::singleShot(0, &form, step);
  };

  const int status = runShell(parseCommandLine(std::vector<std::string>{}), "velluminar", hooks);
  setUi(nullptr);
  EXPECT_FALSE(timedOut);
  EXPECT_TRUE(stepsDone);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(caption, "Velluminar3.03");
  EXPECT_NE(canvasCaption.find("\" w320 x h200 : 100%"), std::string::npos) << canvasCaption;
  EXPECT_EQ(canvasCaption.front(), ' ');
  ASSERT_EQ(warningsWhileDialogOpen.size(), 1u);
  EXPECT_EQ(warningsWhileDialogOpen[0], "폭(7) 는 8 부터 10000 로 해주십시요 !");
  EXPECT_TRUE(dialogStayedOpen);

  // The settings were written at the end, with the size the dialog took.
  ASSERT_TRUE(test::fileExists(env.settingsFile()));
  const std::string settings = test::readFile(env.settingsFile());
  EXPECT_NE(settings.find("[paper]"), std::string::npos);
  EXPECT_NE(settings.find("w0=d:320"), std::string::npos);
  EXPECT_NE(settings.find("h0=d:200"), std::string::npos);
  EXPECT_NE(settings.find("[window]"), std::string::npos);
}

// The open dialog never starts in the program's own folder: the folder last
// used, else the pictures folder the desktop names, else home.
TEST(ShellGui, OpenDialogStartsInTheLastFolderElsePicturesElseHome) {
  test::ShellEnvironment env;
  const char* oldHome = std::getenv("HOME");
  const std::string savedHome = oldHome ? oldHome : "";
  ::setenv("HOME", env.dir.path().c_str(), 1);
  const std::string pictures = env.dir.file("그림"), drawings = env.dir.file("drawings");
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(pictures)));
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(drawings)));
  ASSERT_TRUE(QDir().mkpath(QString::fromStdString(env.dir.file("config"))));
  std::ofstream(env.dir.file("config/user-dirs.dirs")) << "XDG_PICTURES_DIR=\"$HOME/그림\"\n";
  auto canonical = [](const std::string& p) { return QDir(QString::fromStdString(p)).canonicalPath().toStdString(); };
  const std::vector<std::string> expected = {canonical(pictures), canonical(drawings), canonical(env.dir.path())};

  bool timedOut = false;
  std::vector<std::string> started;
  std::string programFolder;
  ShellHooks hooks;
  hooks.started = [&](TMainForm& form) {
    test::startWatchdog(&form, timedOut);
    QTimer::singleShot(0, &form, [&] {
      // Shows the dialog, notes its folder and cancels it.
      auto folderOfDialog = [&] {
        std::function<void()> look;
        look = [&] {
          for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* d = qobject_cast<QFileDialog*>(w); d && d->isVisible()) {
              started.push_back(QDir(d->directory()).canonicalPath().toStdString());
              d->reject();
              return;
            }
          QTimer::singleShot(10, &form, look);
        };
        QTimer::singleShot(0, &form, look);
        form.command("actFileOpen")->trigger();
      };
      CAppProfile& profile = appProfile();
      programFolder = profile.loadPath;  // the stored default on a first start
      folderOfDialog();
      profile.loadPath = drawings;
      folderOfDialog();
      profile.loadPath = programFolder;
      std::remove(env.dir.file("config/user-dirs.dirs").c_str());
      QDir(QString::fromStdString(pictures)).removeRecursively();
      folderOfDialog();
      form.close();
    });
  };
  const int status = runShell(parseCommandLine(std::vector<std::string>{}), "velluminar", hooks);
  if (oldHome) ::setenv("HOME", savedHome.c_str(), 1); else ::unsetenv("HOME");
  EXPECT_FALSE(timedOut);
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(programFolder.empty());
  EXPECT_EQ(started, expected);
}

TEST(ShellGui, ViewerModeWaitsAndReportsThirteen) {
  test::ShellEnvironment env;
  const std::string file = env.dir.file("replay.ve3");
  std::ofstream(file) << "x";
  // The event player is not part of this build: a replay that ends at once stands in for it.
  int replays = 0;
  setViewerReplay([&replays](TMainForm& form, const std::string&) {
    ++replays;
    QTimer::singleShot(0, &form, [&form] { form.playbackEnded(); });
    return true;
  });
  bool timedOut = false;
  ShellHooks hooks;
  hooks.started = [&](TMainForm& form) { test::startWatchdog(&form, timedOut); };
  const int status =
      runShell(parseCommandLine(std::vector<std::string>{"-viewer", "-T0", "-Wnot-a-number", file}), "velluminar", hooks);
  setViewerReplay({});
  EXPECT_FALSE(timedOut);
  EXPECT_EQ(status, 13);
  EXPECT_EQ(replays, 1);
  EXPECT_FALSE(test::fileExists(env.dir.file("replay.bad")));
  // Viewer runs leave the settings alone.
  EXPECT_FALSE(test::fileExists(env.settingsFile()));
}

// A pipe in the event file's place must not stall the viewer: refused at
// once with the error's code, nothing replayed.
TEST(ShellGui, ViewerModeRefusesAPipe) {
  test::ShellEnvironment env;
  const std::string file = env.dir.file("replay.ve3");
  ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
  int replays = 0;
  setViewerReplay([&replays](TMainForm&, const std::string&) { return ++replays, false; });
  bool timedOut = false;
  ShellHooks hooks;
  hooks.started = [&](TMainForm& form) { test::startWatchdog(&form, timedOut); };
  const int status = runShell(parseCommandLine(std::vector<std::string>{"-viewer", "-T0", file}), "velluminar", hooks);
  setViewerReplay({});
  EXPECT_FALSE(timedOut);
  EXPECT_EQ(status, 10);
  EXPECT_EQ(replays, 0);
}

TEST(ShellGui, ViewerModeWithoutReplayReportsTen) {
  test::ShellEnvironment env;
  const std::string file = env.dir.file("replay.ve3");
  std::ofstream(file) << "x";
  bool timedOut = false;
  ShellHooks hooks;
  hooks.started = [&](TMainForm& form) { test::startWatchdog(&form, timedOut); };
  const int status = runShell(parseCommandLine(std::vector<std::string>{"-Viewer", file}), "velluminar", hooks);
  EXPECT_FALSE(timedOut);
  EXPECT_EQ(status, 10);
  EXPECT_TRUE(test::fileExists(env.dir.file("replay.bad")));
}

}  // namespace
}  // namespace vl
