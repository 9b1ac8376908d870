#include "shell/layer_list.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTest>

#include "document/blend_modes.h"
#include "drawing/stroke.h"
#include "shell/draw_window.h"
#include "shell/qt_test_support.h"

namespace vl {
namespace {

class LayerList : public ::testing::Test {
 protected:
  LayerList() {
    EXPECT_TRUE(canvas.newPaper("p", 72, 40, 60));
    canvas.setStroke(&stroke);
    list.setCanvas(&canvas);
  }
  TPaper& paper() { return canvas.paper(); }
  void click(TLayerList::Button b) { list.button(b)->click(); }
  test::TestApp app;
  TStroke stroke;
  TDrawWindow canvas;
  TLayerList list;
};

// A stroke's end shows in its layer's row: the thumbnail is brought up to
// date when the panel reads it.
TEST_F(LayerList, AStrokeRepaintsItsLayersThumbnail) {
  canvas.resize(300, 200);
  canvas.show();
  stroke.SetWidth(6);
  const QImage before = list.list()->item(0)->icon().pixmap(kThumbnailBox, kThumbnailBox).toImage();
  QWidget* vp = canvas.viewport();
  QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, QPoint(40, 60));
  for (int x = 50; x <= 200; x += 10) QTest::mouseMove(vp, QPoint(x, 60 + x / 4));
  QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, QPoint(200, 110));
  const QImage after = list.list()->item(0)->icon().pixmap(kThumbnailBox, kThumbnailBox).toImage();
  EXPECT_NE(after, before);
  EXPECT_TRUE(paper().layerAt(0)->thumbnailRuns.empty());
}

TEST_F(LayerList, ButtonsRunThePaperOperations) {
  EXPECT_EQ(list.list()->count(), 1);
  EXPECT_FALSE(list.button(TLayerList::kDelete)->isEnabled());
  EXPECT_FALSE(list.button(TLayerList::kMergeDown)->isEnabled());

  click(TLayerList::kNew);
  ASSERT_EQ(paper().layerCount(), 2);
  EXPECT_EQ(paper().currentLayerIndex(), 1);
  EXPECT_EQ(list.list()->count(), 2);
  EXPECT_EQ(list.list()->currentRow(), 0);  // the top row is the top layer
  EXPECT_TRUE(list.button(TLayerList::kMergeDown)->isEnabled());

  click(TLayerList::kDuplicate);
  EXPECT_EQ(paper().layerCount(), 3);
  EXPECT_EQ(paper().currentLayerIndex(), 2);

  click(TLayerList::kDown);
  EXPECT_EQ(paper().currentLayerIndex(), 1);
  click(TLayerList::kUp);
  EXPECT_EQ(paper().currentLayerIndex(), 2);

  click(TLayerList::kMergeDown);
  EXPECT_EQ(paper().layerCount(), 2);
  click(TLayerList::kDelete);
  EXPECT_EQ(paper().layerCount(), 1);
  EXPECT_EQ(list.list()->count(), 1);
}

TEST_F(LayerList, RowsAndControlsChangeTheCurrentLayer) {
  click(TLayerList::kNew);
  paper().layerAt(0)->pixels->SetAll(0xFF0000FFu);
  paper().recomposeAll(true);

  // Unticking the bottom row hides layer 0 and the composite shows the paper.
  QListWidgetItem* bottom = list.list()->item(1);
  bottom->setCheckState(Qt::Unchecked);
  EXPECT_EQ(paper().layerAt(0)->visible, 0);
  EXPECT_EQ(paper().compositeImage.At(3, 3) & 0xFFFFFF, 0xFFFFFFu);

  list.list()->setCurrentRow(1);
  EXPECT_EQ(paper().currentLayerIndex(), 0);

  list.modeBox()->setCurrentIndex(UiPositionOfMode(kModeMultiply));
  emit list.modeBox()->activated(UiPositionOfMode(kModeMultiply));
  EXPECT_EQ(paper().layerAt(0)->Mode(), kModeMultiply);

  list.opacitySlider()->setValue(100);
  EXPECT_EQ(paper().layerAt(0)->opacity, 100);
  EXPECT_EQ(list.opacityText()->text(), QStringLiteral("39%"));  // whole percent, truncated

  list.lockBox()->setChecked(true);
  EXPECT_EQ(paper().layerAt(0)->maskLock, 1);
  EXPECT_TRUE(stroke.lockAlpha);  // the pen follows the current layer's lock
  list.list()->setCurrentRow(0);
  EXPECT_FALSE(stroke.lockAlpha);
  EXPECT_EQ(list.opacityText()->text(), QStringLiteral("100%"));  // the new layer's
}

}  // namespace
}  // namespace vl

namespace vl {
namespace {

// Counts the packets the paper records.
struct CountingEvents : PaperEventHook {
  explicit CountingEvents(int& n) : count(n) {}
  bool Recording() const override { return true; }
  bool Record(EventPacket&&) override {
    ++count;
    return true;
  }
  int& count;
};

TEST_F(LayerList, DraggingTheOpacityRecordsOneChange) {
  int packets = 0;
  paper().setHooks(std::make_unique<CountingEvents>(packets), nullptr);
  QSlider* s = list.opacitySlider();
  s->setSliderDown(true);
  for (int v = 250; v >= 100; v -= 10) s->setValue(v);
  EXPECT_EQ(paper().layerAt(0)->opacity, 100);  // the picture followed the drag
  EXPECT_EQ(packets, 0);
  s->setSliderDown(false);
  EXPECT_EQ(packets, 1);
  EXPECT_EQ(paper().layerAt(0)->opacity, 100);
}

}  // namespace
}  // namespace vl
