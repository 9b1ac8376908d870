// Saving, opening and closing papers through the main window's commands.
#include <gtest/gtest.h>

#include <QAction>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>

#include "events/event_manager.h"
#include "platform/strings.h"
#include "platform/ui_services.h"
#include "shell/draw_window.h"
#include "shell/main_form.h"
#include "shell/qt_test_support.h"
#include "support/random_session.h"

namespace vl {
namespace {

class FileCommands : public ::testing::Test {
 protected:
  FileCommands() {
    form.resize(800, 600);
    form.show();
    form.chooseSavePath = [this](const std::string& suggested) {
      ++dialogs;
      lastSuggested = suggested;
      return answer;
    };
  }
  TDrawWindow* NewCanvas(const std::string& name = "그림") { return form.newCanvas(160, 120, 72, name); }
  // A change the user made: a stroke on the current layer.
  void Paint(TDrawWindow& c, uint32_t seed = 1) {
    test::RandomSession s(c.paper(), c.flow(), form.liveStroke(), seed);
    s.Stroke();
    c.paper().insertLayer(c.flow(), 1, true, 255, 0, c.paper().width, c.paper().height, true);
  }
  QMdiSubWindow* WindowOf(TDrawWindow& c) { return qobject_cast<QMdiSubWindow*>(c.parentWidget()); }
  size_t Count() { return form.canvases().size(); }

  test::TestApp app;
  ScopedUiCapture quiet;
  test::TempDir dir;
  TMainForm form{StartupOptions{}};
  std::string answer;  // what the save dialog answers
  std::string lastSuggested;
  int dialogs = 0;
};

TEST_F(FileCommands, SaveAsksForANameOnceThenSavesUnderIt) {
  TDrawWindow* c = NewCanvas();
  ASSERT_NE(c, nullptr);
  Paint(*c);
  c->timerTick();
  EXPECT_EQ(c->windowTitle().toStdString(), "*" + c->paper().captionText());
  QAction* save = form.command("actFileSave");
  ASSERT_NE(save, nullptr);
  EXPECT_EQ(save->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_S));
  EXPECT_EQ(form.command("actFileSaveAs")->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
  // Save and Save As stand before Close in the File menu.
  const QList<QAction*> items = form.menu(TMainForm::kMenuFile)->actions();
  EXPECT_EQ(items.indexOf(save) + 1, items.indexOf(form.command("actFileSaveAs")));
  EXPECT_EQ(items.indexOf(save) + 2, items.indexOf(form.command("actFileClose")));

  // Without a file name Save asks; a cancelled dialog saves nothing.
  answer.clear();
  save->trigger();
  EXPECT_EQ(dialogs, 1);
  EXPECT_TRUE(lastSuggested.ends_with("/그림.vci")) << lastSuggested;
  EXPECT_TRUE(c->paper().modified);

  answer = dir.file("첫그림");  // the extension is added
  save->trigger();
  EXPECT_EQ(dialogs, 2);
  const std::string path = dir.file("첫그림.vci");
  EXPECT_TRUE(test::fileExists(path));
  EXPECT_EQ(c->filePath(), path);
  EXPECT_FALSE(c->paper().modified);
  EXPECT_EQ(c->windowTitle().toStdString(), c->paper().captionText());
  EXPECT_NE(c->paper().captionText().find("\"첫그림.vci\""), std::string::npos) << c->paper().captionText();

  // Now it has a name: Save writes there without asking; Save As asks again.
  Paint(*c, 2);
  const std::string before = test::readFile(path);
  save->trigger();
  EXPECT_EQ(dialogs, 2);
  EXPECT_NE(test::readFile(path), before);
  answer = dir.file("둘째.vci");
  form.command("actFileSaveAs")->trigger();
  EXPECT_EQ(dialogs, 3);
  EXPECT_EQ(c->filePath(), answer);
  EXPECT_TRUE(quiet.capture.warnings.empty());
}

TEST_F(FileCommands, ASavedPaperOpensWithItsPictureAndGoesOnRecording) {
  TDrawWindow* c = NewCanvas();
  Paint(*c);
  answer = dir.file("keep.vci");
  ASSERT_TRUE(form.saveCanvas(*c));
  const uint64_t picture = test::documentHash(c->paper());
  ASSERT_TRUE(form.openFile(answer));
  ASSERT_EQ(Count(), 2u);
  TDrawWindow* opened = form.activeCanvas();
  ASSERT_NE(opened, c);
  EXPECT_EQ(test::documentHash(opened->paper()), picture);
  EXPECT_EQ(opened->filePath(), answer);
  EXPECT_EQ(opened->paper().name, "keep.vci");
  EXPECT_FALSE(opened->paper().modified);
  auto* events = dynamic_cast<CEventMngr*>(&opened->paper().eventHook());
  ASSERT_NE(events, nullptr);
  EXPECT_TRUE(events->isRecording());
  EXPECT_TRUE(quiet.capture.warnings.empty());

  // A damaged file leaves no window behind and says why.
  const std::string bad = dir.file("bad.vci");
  std::string bytes = test::readFile(answer);
  bytes.resize(bytes.size() - 7);
  FILE* f = std::fopen(bad.c_str(), "wb");
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  EXPECT_FALSE(form.openFile(bad));
  EXPECT_EQ(Count(), 2u);
  ASSERT_EQ(quiet.capture.warnings.size(), 1u);
  EXPECT_EQ(quiet.capture.warnings[0].rfind(formatMessage(text(TextId::OpenFailed), {bad, 104}), 0), 0u)
      << quiet.capture.warnings[0];
}

// Closing a modified canvas asks: Cancel keeps it, No closes it, Yes saves
// first and keeps it open when the save does not happen.
TEST_F(FileCommands, ClosingAModifiedCanvasAsksToSave) {
  TDrawWindow* c = NewCanvas("스케치");
  Paint(*c);
  const std::string question = formatMessage(text(TextId::AskSaveChanges), {"스케치"});

  quiet.capture.answerCancel = true;
  WindowOf(*c)->close();
  QCoreApplication::processEvents();
  EXPECT_EQ(Count(), 1u);
  ASSERT_EQ(quiet.capture.questions.size(), 1u);
  EXPECT_EQ(quiet.capture.questions[0], question);

  // Yes, but the dialog is cancelled; Yes, but the save fails.
  quiet.capture.answerCancel = false;
  quiet.capture.answerYes = true;
  answer.clear();
  WindowOf(*c)->close();
  QCoreApplication::processEvents();
  EXPECT_EQ(Count(), 1u);
  answer = dir.file("no such folder/x.vci");
  WindowOf(*c)->close();
  QCoreApplication::processEvents();
  EXPECT_EQ(Count(), 1u);
  EXPECT_EQ(quiet.capture.warnings.size(), 1u);

  // Yes and a name: saved, then closed.
  answer = dir.file("스케치.vci");
  WindowOf(*c)->close();
  QCoreApplication::processEvents();
  EXPECT_EQ(Count(), 0u);
  EXPECT_TRUE(test::fileExists(answer));

  // No closes without saving; an unchanged canvas closes without a question.
  TDrawWindow* d = NewCanvas("버림");
  Paint(*d);
  quiet.capture.answerYes = false;
  const size_t asked = quiet.capture.questions.size();
  WindowOf(*d)->close();
  QCoreApplication::processEvents();
  EXPECT_EQ(Count(), 0u);
  EXPECT_EQ(quiet.capture.questions.size(), asked + 1);
  TDrawWindow* e = NewCanvas("그대로");
  ASSERT_NE(e, nullptr);
  WindowOf(*e)->close();
  QCoreApplication::processEvents();
  EXPECT_EQ(Count(), 0u);
  EXPECT_EQ(quiet.capture.questions.size(), asked + 1);
}

TEST_F(FileCommands, QuittingAsksForEveryModifiedCanvasAndCancelKeepsTheProgram) {
  TDrawWindow* a = NewCanvas("하나");
  TDrawWindow* b = NewCanvas("둘");
  NewCanvas("셋");  // unchanged: never asked about
  Paint(*a);
  Paint(*b);
  quiet.capture.answerCancel = true;
  EXPECT_FALSE(form.close());
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(Count(), 3u);
  ASSERT_EQ(quiet.capture.questions.size(), 1u);

  quiet.capture.answerCancel = false;
  quiet.capture.answerYes = false;
  EXPECT_TRUE(form.close());
  EXPECT_EQ(quiet.capture.questions.size(), 3u);
  EXPECT_EQ(quiet.capture.questions[1], formatMessage(text(TextId::AskSaveChanges), {"하나"}));
  EXPECT_EQ(quiet.capture.questions[2], formatMessage(text(TextId::AskSaveChanges), {"둘"}));
}

TEST_F(FileCommands, ProtectedOrReplayingPapersCannotBeSaved) {
  TDrawWindow* c = NewCanvas();
  emit form.menu(TMainForm::kMenuFile)->aboutToShow();
  EXPECT_TRUE(form.command("actFileSave")->isEnabled());
  c->paper().eventProtected = 1;
  emit form.menu(TMainForm::kMenuFile)->aboutToShow();
  EXPECT_FALSE(form.command("actFileSave")->isEnabled());
  EXPECT_FALSE(form.command("actFileSaveAs")->isEnabled());
  EXPECT_FALSE(form.saveCanvas(*c));
  // A protected paper closes without asking.
  Paint(*c);
  WindowOf(*c)->close();
  QCoreApplication::processEvents();
  EXPECT_EQ(Count(), 0u);
  EXPECT_TRUE(quiet.capture.questions.empty());
  EXPECT_EQ(dialogs, 0);
}

}  // namespace
}  // namespace vl
