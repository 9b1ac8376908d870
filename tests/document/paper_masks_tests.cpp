#include <gtest/gtest.h>

#include "document/blend_modes.h"
#include "document/paper.h"
#include "document/paper_test_support.h"
#include "platform/ui_services.h"

namespace vl {
namespace {

// A 64 × 48 paper with one opaque red layer and the capturing hooks.
struct MaskFixture {
  HeadlessView view{200, 150};
  TPaper paper{&view};
  TFlowImage flow{paper};
  Log log;
  ScopedUiCapture capture;

  MaskFixture() {
    EXPECT_TRUE(paper.newPaper(flow, "t", 72, 48, 64));
    paper.layerAt(0)->pixels->SetAll(0xFFFF0000u);
    paper.setHooks(std::make_unique<CapturingEvents>(log), std::make_unique<CapturingUndo>(log));
  }
  // The current mask selects the paper rectangle r at value v.
  void select(Area r, uint8_t v = 255) {
    CBlockVCH c(r.width, r.height);
    c.FillArea(Area(0, 0, r.width, r.height), v);
    std::unique_ptr<CMaskData> old;
    ASSERT_TRUE(paper.masks.BuildFromChannel(-1, c, kMaskNew, {-r.x, -r.y}, old));
    paper.selectionEnabled = 1;
  }
  const Packet& last() const { return log.packets.back(); }
};

TEST(PaperMasks, ANewPaperHasOneEmptyMaskAndNewMasksBecomeCurrent) {
  MaskFixture f;
  ASSERT_EQ(f.paper.masks.Count(), 1);
  EXPECT_EQ(f.paper.masks.At(0)->name, "마스크1");
  EXPECT_FALSE(f.paper.deleteMask(true)) << "the last mask stays";
  EXPECT_TRUE(f.log.packets.empty());
  EXPECT_EQ(f.paper.newMask(true), 1);
  EXPECT_EQ(f.paper.masks.Current(), 1);
  EXPECT_EQ(f.paper.masks.At(1)->name, "마스크2");
  EXPECT_TRUE(f.paper.deleteMask(true));
  EXPECT_EQ(f.paper.masks.Count(), 1);
  ASSERT_EQ(f.log.pushed.size(), 2u);
  EXPECT_EQ(f.log.pushed[0].kind, 44);
  EXPECT_EQ(f.log.pushed[1].kind, 46);
}

// The packet and undo kind of each command, with what it changed.
struct MaskCase {
  const char* name;
  std::function<bool(MaskFixture&)> run;
  uint8_t code, undoKind;
  std::vector<uint8_t> payload;
  std::function<void(MaskFixture&)> check;
};
void PrintTo(const MaskCase& c, std::ostream* os) { *os << c.name; }

const MaskCase kMaskCases[] = {
    {"select all", [](MaskFixture& f) { return f.paper.selectAll(true); }, 20, 47, {0, 0, 0, 0},
     [](MaskFixture& f) {
       EXPECT_EQ(f.paper.masks.At(0)->PaperRect(), Area(0, 0, 64, 48));
       EXPECT_EQ(f.paper.selectionFlags(), 65537);
     }},
    {"clear", [](MaskFixture& f) { f.select({2, 2, 4, 4}); return f.paper.clearMask(true); }, 1, 47, {0, 0, 0, 0},
     [](MaskFixture& f) { EXPECT_FALSE(f.paper.masks.At(0)->HasChannel()); }},
    {"invert in place", [](MaskFixture& f) { f.select({2, 2, 4, 4}); return f.paper.invertMask(true); }, 3, 50,
     {0, 0, 0, 0}, [](MaskFixture& f) { EXPECT_EQ(f.paper.masks.At(0)->ValueAtPaper(2, 2), 0); }},
    {"invert past the paper", [](MaskFixture& f) { f.select({60, 2, 8, 4}); return f.paper.invertMask(true); }, 3, 47,
     {0, 0, 0, 0}, [](MaskFixture& f) { EXPECT_EQ(f.paper.masks.At(0)->ValueAtPaper(0, 0), 255); }},
    {"move origin", [](MaskFixture& f) { f.select({2, 2, 4, 4}); return f.paper.moveMaskOrigin(3, -1, true); }, 8, 51,
     {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0},
     [](MaskFixture& f) { EXPECT_EQ(f.paper.masks.At(0)->PaperRect(), Area(5, 1, 4, 4)); }},
    {"grow by one", [](MaskFixture& f) { f.select({2, 2, 4, 4}); return f.paper.growShrinkMask(true, true, true); }, 10,
     47, {0, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0},
     [](MaskFixture& f) { EXPECT_EQ(f.paper.masks.At(0)->ValueAtPaper(1, 1), 255); }},
    {"shrink by 40 counts as 32",
     [](MaskFixture& f) { f.select({0, 0, 64, 48}); return f.paper.growShrinkMaskBy(40, false, true); }, 26, 47,
     {0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0}, nullptr},
    {"from layer alpha", [](MaskFixture& f) { return f.paper.maskFromLayer(1, true); }, 22, 45,
     {0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0},
     [](MaskFixture& f) {
       EXPECT_EQ(f.paper.masks.Current(), 1);
       EXPECT_EQ(f.paper.masks.At(1)->name, "마스크(레이어1)");
       EXPECT_EQ(f.paper.masks.At(1)->ValueAtPaper(10, 10), 255);
     }},
    {"enable", [](MaskFixture& f) { return f.paper.setSelectionEnabled(true, true); }, 14, 52,
     {0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0}, nullptr},
    {"rename", [](MaskFixture& f) { return f.paper.renameMask(0, "ab", true); }, 12, 54, {0, 0, 4, 0, 'a', 'b', 0, 0},
     [](MaskFixture& f) { EXPECT_EQ(f.paper.masks.At(0)->name, "ab"); }},
};

class PaperMaskCommands : public testing::TestWithParam<MaskCase> {};

TEST_P(PaperMaskCommands, RecordTheirPacketAndUndoKind) {
  const MaskCase& c = GetParam();
  MaskFixture f;
  ASSERT_TRUE(c.run(f));
  ASSERT_EQ(f.log.packets.size(), 1u);
  EXPECT_EQ(f.last().category, 10);
  EXPECT_EQ(f.last().code, c.code);
  EXPECT_EQ(f.last().payload, c.payload);
  ASSERT_EQ(f.log.pushed.size(), 1u);
  EXPECT_EQ(f.log.pushed[0].kind, c.undoKind);
  if (c.check) c.check(f);
  EXPECT_TRUE(f.paper.modified);
}

INSTANTIATE_TEST_SUITE_P(All, PaperMaskCommands, testing::ValuesIn(kMaskCases));

TEST(PaperMasks, RefusedCommandsRecordNothing) {
  MaskFixture f;
  EXPECT_FALSE(f.paper.setCurrentMask(5, true));
  EXPECT_FALSE(f.paper.setCurrentMask(0, true)) << "already current";
  EXPECT_FALSE(f.paper.moveMask(0, 3, true));
  EXPECT_FALSE(f.paper.invertMask(true)) << "empty";
  EXPECT_FALSE(f.paper.clearMask(true)) << "empty";
  EXPECT_FALSE(f.paper.combineMasks(0, 7, kMaskAdd, true));
  EXPECT_FALSE(f.paper.setSelectionVisible(false, true)) << "unchanged";
  f.select({1, 1, 2, 2});
  EXPECT_FALSE(f.paper.moveMaskOrigin(0, 0, true)) << "a move by nothing";
  EXPECT_FALSE(f.paper.moveMaskOrigin(INT32_MIN, 0, true));
  EXPECT_FALSE(f.paper.trimMask(true)) << "inside the paper";
  EXPECT_FALSE(f.paper.copyMaskToLayerAlpha(f.flow, 4, -1, true));
  EXPECT_TRUE(f.log.packets.empty());
  EXPECT_TRUE(f.log.pushed.empty());
}

TEST(PaperMasks, SplitWithAHalfSelectionHalvesTheAlphaBetweenTheLayers) {
  for (bool copy : {false, true}) {
    MaskFixture f;
    f.select({10, 10, 4, 4}, 128);
    ASSERT_TRUE(f.paper.splitSelection(f.flow, 1, copy, true));
    ASSERT_EQ(f.paper.layerCount(), 2);
    EXPECT_EQ(f.paper.currentLayerIndex(), 1);
    EXPECT_EQ(f.paper.layerAt(1)->pixels->Pixel(11, 11), 0x80FF0000u);
    EXPECT_EQ(f.paper.layerAt(1)->pixels->Pixel(20, 20) >> 24, 0u) << "nothing outside the selection";
    EXPECT_EQ(f.paper.layerAt(0)->pixels->Pixel(11, 11) >> 24, copy ? 255u : 127u);
    EXPECT_EQ(f.paper.layerAt(0)->pixels->Pixel(20, 20), 0xFFFF0000u);
    EXPECT_EQ(f.last().code, 24);
    EXPECT_EQ(i32At(f.last().payload, 8), 1 + (copy ? 65536 : 0));
    EXPECT_EQ(f.log.pushed.back().kind, 36);
  }
}

TEST(PaperMasks, CutLeavesWhatComposesBackToTheOldPicture) {
  struct Case {
    uint8_t alpha, m, expected;
  } cases[] = {{255, 255, 0}, {255, 0, 255}, {255, 100, 155}, {128, 100, 96}, {0, 200, 0}};
  for (const Case& c : cases) {
    MaskFixture f;
    f.paper.layerAt(0)->pixels->SetAll(uint32_t(c.alpha) << 24 | 0x00FF00u);
    f.select({0, 0, 8, 8}, c.m);
    ASSERT_TRUE(f.paper.cutSelection(f.flow, 0, true));
    EXPECT_EQ(f.paper.layerAt(0)->pixels->Pixel(3, 3) >> 24, c.expected) << int(c.alpha) << " " << int(c.m);
    EXPECT_EQ(f.paper.layerAt(0)->pixels->Pixel(30, 30) >> 24, c.alpha);
    EXPECT_EQ(f.last().category, 4);
    EXPECT_EQ(f.last().code, 9);
    EXPECT_EQ(f.log.pushed.back().kind, 16);
  }
}

TEST(PaperMasks, AnEmptyMaskCopiedIntoTheLayerAlphaMakesItTransparent) {
  MaskFixture f;
  ASSERT_TRUE(f.paper.copyMaskToLayerAlpha(f.flow, 0, -1, true));
  EXPECT_EQ(f.paper.layerAt(0)->pixels->Pixel(5, 5), 0x00FF0000u);
  EXPECT_EQ(f.paper.compositeImage.At(5, 5) & 0xFFFFFFu, 0xFFFFFFu);
  EXPECT_EQ(f.last().code, 21);
  EXPECT_EQ(f.log.pushed.back().kind, 16);
}

}  // namespace
}  // namespace vl
