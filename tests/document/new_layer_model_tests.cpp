#include "document/new_layer_model.h"

#include <gtest/gtest.h>

#include "document/blend_modes.h"
#include "document/layer_manager.h"

namespace vl {
namespace {

TEST(NewLayerModel, FirstUseProposesStandardWhiteAndKeepsTransparency) {
  CLayerMngr layers;
  layers.SetPaperSize(64, 64);
  ASSERT_EQ(layers.AppendNew(64, 64, 1, 255, kModeNormal, false), 0);
  layers.NameLayer(0, 1);
  CNewLayerModel model;
  model.Open(layers);
  EXPECT_EQ(model.ProposedName(), "레이어2");
  EXPECT_EQ(model.name, "레이어2");
  EXPECT_EQ(model.ModePosition(), 0);
  EXPECT_EQ(model.Mode(), kModeNormal);
  EXPECT_EQ(model.ColourEntryCount(), 2);
  EXPECT_EQ(model.SelectedColourEntry(), CNewLayerModel::kWhite);
  EXPECT_TRUE(model.keepTransparency);

  const NewLayerRequest r = model.Create();
  EXPECT_EQ(r.mode, kModeNormal);
  EXPECT_EQ(r.colour, 0x00FFFFFFu);
  EXPECT_FALSE(r.name.has_value());
}

TEST(NewLayerModel, ModesInListOrderAndColourEntries) {
  EXPECT_EQ(CNewLayerModel::ModeCount(), 22);
  for (int i = 0; i < CNewLayerModel::ModeCount(); ++i) EXPECT_EQ(CNewLayerModel::ModeAtPosition(i), kModeUiOrder[i]);
  EXPECT_EQ(CNewLayerModel::ColourEntryText(CNewLayerModel::kBlack), "검정색");
  EXPECT_EQ(CNewLayerModel::ColourEntryText(CNewLayerModel::kWhite), "흰색");
  EXPECT_EQ(CNewLayerModel::ColourEntryText(CNewLayerModel::kHalfTone), "중간색");

  CNewLayerModel model;
  model.Open("p");
  // Every mode with flag bit 5 offers "중간색", its neutral colour.
  for (int pos = 0; pos < CNewLayerModel::ModeCount(); ++pos) {
    model.SetModePosition(pos);
    const int mode = model.Mode();
    const bool third = (LayerParam(mode)->flags & kModeHalfToneChoice) != 0;
    EXPECT_EQ(model.ColourEntryCount(), third ? 3 : 2) << mode;
    EXPECT_EQ(model.SelectedColourEntry(), third ? CNewLayerModel::kHalfTone : CNewLayerModel::kWhite) << mode;
  }
  EXPECT_EQ(CNewLayerModel::EntryColour(CNewLayerModel::kHalfTone, kModeOverlay), 0x7F7F7Fu);
  EXPECT_EQ(CNewLayerModel::EntryColour(CNewLayerModel::kBlack, kModeOverlay), 0u);
}

TEST(NewLayerModel, ResultColourNameAndWhatIsRemembered) {
  CNewLayerModel model;
  model.Open("레이어1");
  model.SetModePosition(UiPositionOfMode(kModeOverlay));
  model.SetColourEntry(CNewLayerModel::kHalfTone);
  model.keepTransparency = false;
  model.name = "바탕";
  NewLayerRequest r = model.Create();
  EXPECT_EQ(r.mode, kModeOverlay);
  EXPECT_EQ(r.colour, 0xFF7F7F7Fu);
  ASSERT_TRUE(r.name.has_value());
  EXPECT_EQ(*r.name, "바탕");

  // Next use: the mode, the three-entry choice and the check box come back;
  // two-entry modes keep their own choice.
  model.Open("레이어2");
  EXPECT_EQ(model.name, "레이어2");
  EXPECT_EQ(model.Mode(), kModeOverlay);
  EXPECT_EQ(model.SelectedColourEntry(), CNewLayerModel::kHalfTone);
  EXPECT_FALSE(model.keepTransparency);
  model.SetColourEntry(CNewLayerModel::kBlack);
  model.SetModePosition(UiPositionOfMode(kModeNormal));
  EXPECT_EQ(model.SelectedColourEntry(), CNewLayerModel::kWhite);
  model.SetColourEntry(CNewLayerModel::kHalfTone);  // not offered here
  EXPECT_EQ(model.SelectedColourEntry(), CNewLayerModel::kWhite);
  model.SetModePosition(UiPositionOfMode(kModeMultiply));
  EXPECT_EQ(model.SelectedColourEntry(), CNewLayerModel::kBlack);
  r = model.Create();
  EXPECT_EQ(r.mode, kModeMultiply);
  EXPECT_EQ(r.colour, 0xFF000000u);
  EXPECT_FALSE(r.name.has_value());

  // A use without "생성" remembers nothing.
  model.Open("x");
  model.SetModePosition(UiPositionOfMode(kModeAdd));
  model.keepTransparency = true;
  model.Open("y");
  EXPECT_EQ(model.Mode(), kModeMultiply);
  EXPECT_EQ(model.SelectedColourEntry(), CNewLayerModel::kBlack);
  EXPECT_FALSE(model.keepTransparency);
}

}  // namespace
}  // namespace vl
