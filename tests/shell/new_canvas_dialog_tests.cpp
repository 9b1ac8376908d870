#include "shell/new_canvas_dialog.h"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QTabBar>
#include <QtTest/QTest>

#include "platform/app_profile.h"
#include "platform/ui_services.h"
#include "shell/qt_test_support.h"

namespace vl {
namespace {

class NewCanvasDialog : public ::testing::Test {
 protected:
  NewCanvasDialog() {
    profile.resetDefaults();
    profile.paperW[1] = 1000;
    profile.paperH[1] = 700;
    profile.paperDpi[1] = 300;
  }
  test::TestApp app;
  CAppProfile profile;
  ScopedUiCapture capture;
};

TEST_F(NewCanvasDialog, ShowsTheModel) {
  TNewWindow d(profile);
  EXPECT_EQ(d.windowTitle(), QString::fromUtf8("새 캔버스"));
  ASSERT_EQ(d.tabBar()->count(), 6);
  EXPECT_EQ(d.tabBar()->tabText(5), QStringLiteral("&clipboard"));
  EXPECT_EQ(d.tabBar()->currentIndex(), 0);
  EXPECT_EQ(d.widthUnitBox()->currentText(), QStringLiteral("pixel"));
  EXPECT_EQ(d.field(CNewCanvasModel::kWidth)->text(), QStringLiteral("640"));
  EXPECT_EQ(d.field(CNewCanvasModel::kHeight)->text(), QStringLiteral("480"));
  EXPECT_EQ(d.field(CNewCanvasModel::kResolution)->text(), QStringLiteral("72"));

  d.tabBar()->setCurrentIndex(1);
  EXPECT_EQ(d.field(CNewCanvasModel::kWidth)->text(), QStringLiteral("1000"));
  EXPECT_EQ(d.field(CNewCanvasModel::kResolution)->text(), QStringLiteral("300"));

  // Inches at 300 pixels/inch: 1000 px → 3.33 in.
  d.widthUnitBox()->setCurrentIndex(CNewCanvasModel::kInch);
  EXPECT_EQ(d.model().Unit(), CNewCanvasModel::kInch);
  EXPECT_EQ(d.field(CNewCanvasModel::kWidth)->text(), QStringLiteral("3.33"));
  EXPECT_TRUE(capture.capture.warnings.empty());
}

TEST_F(NewCanvasDialog, TypingKeepsWhatTheFieldTakes) {
  TNewWindow d(profile);
  QLineEdit* res = d.field(CNewCanvasModel::kResolution);
  QLineEdit* width = d.field(CNewCanvasModel::kWidth);
  res->clear();
  width->clear();
  QTest::keyClicks(res, "1x5.0");
  QTest::keyClicks(width, "2.5cm");
  EXPECT_EQ(res->text(), QStringLiteral("150"));
  EXPECT_EQ(width->text(), QStringLiteral("2.5"));
  EXPECT_EQ(d.model().Text(CNewCanvasModel::kResolution), "150");
}

TEST_F(NewCanvasDialog, OkChecksAndStoresThePreset) {
  TNewWindow d(profile);
  d.field(CNewCanvasModel::kResolution)->setText("71");
  d.accept();
  EXPECT_EQ(d.result(), QDialog::Rejected);
  ASSERT_EQ(capture.capture.warnings.size(), 1u);
  EXPECT_EQ(capture.capture.warnings[0], "해상도 는 72 부터 600 로 해주십시요 !");

  d.field(CNewCanvasModel::kResolution)->setText("96");
  d.field(CNewCanvasModel::kWidth)->setText("800");
  d.accept();
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_EQ(d.size().width, 800);
  EXPECT_EQ(d.size().height, 480);
  EXPECT_EQ(d.size().resolution, 96);
  EXPECT_EQ(profile.paperW[0], 800);
  EXPECT_EQ(profile.paperDpi[0], 96);
}

}  // namespace
}  // namespace vl
