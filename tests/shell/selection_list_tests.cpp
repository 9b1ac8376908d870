#include "shell/selection_list.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QListWidget>
#include <QPushButton>

#include "drawing/stroke.h"
#include "shell/draw_window.h"
#include "shell/main_form.h"
#include "shell/qt_test_support.h"

namespace vl {
namespace {

class SelectionList : public ::testing::Test {
 protected:
  SelectionList() {
    EXPECT_TRUE(canvas.newPaper("p", 72, 40, 60));
    canvas.setStroke(&stroke);
    list.setCanvas(&canvas);
  }
  TPaper& paper() { return canvas.paper(); }
  test::TestApp app;
  TStroke stroke;
  TDrawWindow canvas;
  TSelectionList list;
};

TEST_F(SelectionList, RowsFollowTheMasksAndChooseTheCurrentOne) {
  EXPECT_EQ(list.list()->count(), 1);
  EXPECT_EQ(list.list()->item(0)->text(), QString::fromUtf8("마스크1"));
  EXPECT_FALSE(list.button(TSelectionList::kDelete)->isEnabled());
  list.button(TSelectionList::kNew)->click();
  ASSERT_EQ(paper().masks.Count(), 2);
  EXPECT_EQ(list.list()->count(), 2);
  EXPECT_EQ(list.list()->currentRow(), 1);
  list.list()->setCurrentRow(0);
  EXPECT_EQ(paper().masks.Current(), 0);
  list.button(TSelectionList::kDelete)->click();
  EXPECT_EQ(paper().masks.Count(), 1);
  EXPECT_EQ(list.list()->count(), 1);
}

TEST(SelectionMenu, SelectAllDeselectAndInvertRunOnTheActiveCanvas) {
  test::TestApp app;
  TMainForm form(StartupOptions{});
  TDrawWindow* canvas = form.newCanvas(40, 30, 72, "p");
  ASSERT_NE(canvas, nullptr);
  form.layers();  // the panels exist beside the canvas
  ASSERT_NE(form.selections(), nullptr);
  TPaper& paper = canvas->paper();
  QAction* all = form.command("actSelectAll");
  ASSERT_NE(all, nullptr);
  EXPECT_EQ(all->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_A));
  all->trigger();
  ASSERT_TRUE(paper.selectionUsable());
  EXPECT_EQ(paper.masks.CurrentMask()->PaperRect(), Area(0, 0, 40, 30));
  form.command("actSelectInvert")->trigger();
  EXPECT_EQ(paper.masks.CurrentMask()->ValueAtPaper(5, 5), 0);
  form.command("actSelectDelete")->trigger();
  EXPECT_FALSE(paper.masks.CurrentMask()->HasChannel());
  EXPECT_EQ(form.command("actSelectDelete")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_D));
  EXPECT_EQ(form.command("actSelectInvert")->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_I));
}

}  // namespace
}  // namespace vl

namespace vl {
namespace {

TEST(EditMenu, UndoAndRedoStepTheActiveCanvasAndFollowWhatIsAvailable) {
  test::TestApp app;
  TMainForm form(StartupOptions{});
  TDrawWindow* canvas = form.newCanvas(40, 30, 72, "p");
  ASSERT_NE(canvas, nullptr);
  QAction* undo = form.command("actEditUndo");
  QAction* redo = form.command("actEditRedo");
  ASSERT_TRUE(undo && redo);
  EXPECT_EQ(undo->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Z));
  EXPECT_TRUE(redo->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)));
  emit form.ticked();
  form.command("actSelectAll")->trigger();
  EXPECT_TRUE(undo->isEnabled());
  EXPECT_FALSE(redo->isEnabled());
  undo->trigger();
  EXPECT_FALSE(canvas->paper().masks.CurrentMask()->HasChannel());
  EXPECT_TRUE(redo->isEnabled());
  redo->trigger();
  EXPECT_TRUE(canvas->paper().masks.CurrentMask()->HasChannel());
}

}  // namespace
}  // namespace vl
