#include "shell/brush_picker.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
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
}

}  // namespace
}  // namespace vl
