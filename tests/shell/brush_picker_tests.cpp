#include "shell/brush_picker.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include "drawing/stroke.h"
#include "shell/qt_test_support.h"

namespace vl {
namespace {

void choose(TBrushPicker& picker, int kind) {
  const int row = picker.kindBox()->findData(kind);
  picker.kindBox()->setCurrentIndex(row);
  emit picker.kindBox()->activated(row);
}

TEST(BrushPicker, EditsThePenAndKeepsSizeOpacityAndColourAcrossKinds) {
  test::TestApp app;
  TStroke pen;
  TBrushPicker picker(pen);
  ASSERT_EQ(picker.kindBox()->count(), kBrushKindCount - 1);  // all but the second blur
  picker.sizeBox()->setValue(12.5);
  picker.opacitySlider()->setValue(40);
  picker.setColour(0x123456);
  EXPECT_FLOAT_EQ(pen.width, 12.5f);
  EXPECT_FLOAT_EQ(pen.opacity, 0.4f);
  EXPECT_EQ(picker.opacityText()->text(), QStringLiteral("40%"));

  choose(picker, kBrushAirbrush);
  EXPECT_EQ(pen.kind, kBrushAirbrush);
  EXPECT_FLOAT_EQ(pen.width, 12.5f);
  EXPECT_FLOAT_EQ(pen.opacity, 0.4f);
  EXPECT_EQ(pen.colour, 0x123456u);
  EXPECT_EQ(pen.airMap, 3);

  // Controls follow what the kind offers.
  for (int k = 0; k < kBrushKindCount; ++k) {
    if (k == kBrushBlur2) continue;
    choose(picker, k);
    EXPECT_EQ(pen.kind, k);
    EXPECT_EQ(picker.softEdgeBox()->isEnabled(), brushCaps(k).softEdge) << k;
  }
  choose(picker, kBrushDarken);
  picker.effectSlider()->setValue(60);
  EXPECT_FLOAT_EQ(pen.effect, 60.0f);
  EXPECT_EQ(picker.effectText()->text(), QStringLiteral("60"));
  // A pen changed elsewhere shows its numbers again.
  pen.SetOpacity(0.25f);
  pen.SetEffect(7);
  picker.refresh();
  EXPECT_EQ(picker.opacityText()->text(), QStringLiteral("25%"));
  EXPECT_EQ(picker.effectText()->text(), QStringLiteral("7"));
}

}  // namespace
}  // namespace vl

namespace vl {
namespace {

// The swatch shows the paint's own colour, not a shaded button face.
TEST(BrushPicker, SwatchShowsTheExactColour) {
  test::TestApp app;
  TStroke pen;
  TBrushPicker picker(pen);
  picker.resize(240, 320);
  picker.show();
  QPushButton* swatch = picker.findChild<QPushButton*>();
  ASSERT_NE(swatch, nullptr);
  for (uint32_t rgb : {0x2060E0u, 0x000000u, 0xFFFFFFu, 0x7F8081u}) {
    picker.setColour(rgb);
    const QImage shot = swatch->grab().toImage();
    ASSERT_FALSE(shot.isNull());
    const QPoint centre = shot.rect().center();
    EXPECT_EQ(shot.pixel(centre) & 0xFFFFFFu, rgb) << std::hex << rgb;
    EXPECT_EQ(shot.pixel(centre + QPoint(shot.width() / 4, 0)) & 0xFFFFFFu, rgb) << std::hex << rgb;
  }
}

}  // namespace
}  // namespace vl
