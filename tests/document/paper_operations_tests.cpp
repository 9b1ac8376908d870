#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "document/blend_modes.h"
#include "document/paper.h"
#include "platform/ui_services.h"
#include "document/paper_test_support.h"

namespace vl {
namespace {

// A 64 × 48 paper of three layers (0 at the bottom), layer 1 current.
struct Fixture {
  HeadlessView view{200, 150};
  TPaper paper{&view};
  TFlowImage flow{paper};
  Log log;
  ScopedUiCapture capture;

  Fixture() {
    EXPECT_TRUE(paper.newPaper(flow, "t", 72, 48, 64));
    EXPECT_EQ(paper.insertLayer(flow, 1, true, 255, kModeNormal, 64, 48, false), 1);
    EXPECT_EQ(paper.insertLayer(flow, 2, true, 255, kModeNormal, 64, 48, false), 2);
    paper.setCurrentLayer(flow, 1);
    paper.setHooks(std::make_unique<CapturingEvents>(log), std::make_unique<CapturingUndo>(log));
  }
  CLayerData& layer(int32_t i) { return *paper.layerAt(i); }
  uint32_t composite(int32_t x, int32_t y) { return paper.compositeImage.At(x, y) & 0x00FFFFFFu; }
};

struct OpCase {
  const char* name;
  std::function<bool(Fixture&)> run;
  uint8_t category, code, undoKind;
  UndoClass cls;
  std::function<void(Fixture&)> check;
};

void PrintTo(const OpCase& c, std::ostream* os) { *os << c.name; }

// Each operation: the packet and the undo record it hands on, and what it changed.
const OpCase kCases[] = {
    {"paper colour", [](Fixture& f) { return f.paper.setPaperColor(0x123456, true); }, 2, 1, 17, UndoClass::Attribute,
     [](Fixture& f) {
       EXPECT_EQ(f.paper.paperColor, 0x123456u);
       EXPECT_EQ(f.log.packets[0].payload, (std::vector<uint8_t>{0x56, 0x34, 0x12, 0}));
     }},
    {"flip visible", [](Fixture& f) { return f.paper.transformVisible(f.flow, 12, true); }, 2, 16, 12,
     UndoClass::Layer, [](Fixture& f) { EXPECT_EQ(f.layer(0).pixels->Pixel(63, 0), 0xFFFF0000u); }},
    {"negate visible", [](Fixture& f) { return f.paper.transformVisible(f.flow, 14, true); }, 2, 19, 14,
     UndoClass::Layer, [](Fixture& f) { EXPECT_EQ(f.layer(0).pixels->Pixel(0, 0), 0xFF00FFFFu); }},
    {"rotate visible", [](Fixture& f) { return f.paper.transformVisible(f.flow, 15, true); }, 2, 18, 15,
     UndoClass::Layer, [](Fixture& f) { EXPECT_EQ(f.layer(0).pixels->Pixel(63, 47), 0xFFFF0000u); }},
    {"layer flip vertical", [](Fixture& f) { return f.paper.layerCommand(f.flow, 0, 8, true); }, 4, 33, 8,
     UndoClass::Layer,
     [](Fixture& f) {
       EXPECT_EQ(f.layer(0).pixels->Pixel(0, 47), 0xFFFF0000u);
       EXPECT_EQ(f.log.packets[0].payload, (std::vector<uint8_t>{0, 0, 0, 0}));
     }},
    {"layer negate", [](Fixture& f) { return f.paper.layerCommand(f.flow, 0, 9, true); }, 4, 35, 9, UndoClass::Layer,
     [](Fixture& f) { EXPECT_EQ(f.layer(0).pixels->Pixel(0, 0), 0xFF00FFFFu); }},
    {"layer rotate", [](Fixture& f) { return f.paper.layerCommand(f.flow, 0, 10, true); }, 4, 34, 10,
     UndoClass::Layer, [](Fixture& f) { EXPECT_EQ(f.layer(0).pixels->Pixel(63, 47), 0xFFFF0000u); }},
    {"clear", [](Fixture& f) { return f.paper.clearLayer(f.flow, 0, true); }, 4, 2, 2, UndoClass::Rect,
     [](Fixture& f) {
       EXPECT_EQ(f.layer(0).pixels->Pixel(0, 0), 0x00FFFFFFu);
       EXPECT_EQ(f.composite(0, 0), 0xFFFFFFu);
     }},
    {"alpha fill", [](Fixture& f) { return f.paper.fillLayerAlpha(f.flow, 0, 0x40, true); }, 4, 24, 16,
     UndoClass::LayerWithData,
     [](Fixture& f) {
       EXPECT_EQ(f.layer(0).pixels->Pixel(30, 30) >> 24, 0x40u);
       EXPECT_EQ(u16At(f.log.packets[0].payload, 2), 0x40);
     }},
    {"alpha invert", [](Fixture& f) { return f.paper.layerCommand(f.flow, 0, 11, true); }, 4, 25, 11,
     UndoClass::Layer, [](Fixture& f) { EXPECT_EQ(f.layer(0).pixels->Pixel(0, 0) >> 24, 0u); }},
    {"insert", [](Fixture& f) { return f.paper.insertLayer(f.flow, 3, true, 200, kModeMultiply, 64, 48, true) == 3; },
     4, 0, 26, UndoClass::Object,
     [](Fixture& f) {
       EXPECT_EQ(f.paper.layerCount(), 4);
       EXPECT_EQ(f.paper.currentLayerIndex(), 3);
       EXPECT_EQ(f.layer(3).opacity, 200);
       const auto& p = f.log.packets[0].payload;
       ASSERT_EQ(p.size(), 14u);
       EXPECT_EQ(i32At(p, 2), 64);
       EXPECT_EQ(p[10], kModeMultiply);
       EXPECT_EQ(p[11], 200);
       EXPECT_EQ(u16At(p, 12), 1);
     }},
    {"insert with content",
     [](Fixture& f) {
       return f.paper.insertLayerWithContent(f.flow, 1, true, true, "잉크", 0xFF00FF00u, 255, kModeNormal, 48, 64) == 1;
     },
     4, 11, 26, UndoClass::Object,
     [](Fixture& f) {
       EXPECT_EQ(f.layer(1).name, "잉크");
       EXPECT_EQ(f.layer(1).pixels->Pixel(10, 10), 0xFF00FF00u);
       EXPECT_EQ(f.composite(10, 10), 0x00FF00u);
       const auto& p = f.log.packets[0].payload;
       EXPECT_EQ(uint32_t(i32At(p, 22)), 0xFF00FF00u);
       EXPECT_EQ(u16At(p, 40), 8);  // six name bytes, a terminator, padding
       EXPECT_EQ(p.size(), 42u + 8u);
     }},
    {"delete", [](Fixture& f) { return f.paper.deleteLayer(f.flow, 0, true); }, 4, 1, 27, UndoClass::Object,
     [](Fixture& f) {
       EXPECT_EQ(f.paper.layerCount(), 2);
       EXPECT_TRUE(f.log.pushed[0].hasObject);
       EXPECT_EQ(f.composite(0, 0), 0xFFFFFFu);
     }},
    {"duplicate", [](Fixture& f) { return f.paper.duplicateLayer(f.flow, 0, true) == 1; }, 4, 3, 28,
     UndoClass::Object,
     [](Fixture& f) {
       EXPECT_EQ(f.paper.layerCount(), 4);
       EXPECT_EQ(f.layer(1).name, f.layer(0).name);
       EXPECT_NE(f.layer(1).id, f.layer(0).id);
       EXPECT_EQ(f.layer(1).pixels->Pixel(0, 0), 0xFFFF0000u);
       EXPECT_EQ(f.paper.currentLayerIndex(), 1);
     }},
    {"move", [](Fixture& f) { return f.paper.moveLayer(f.flow, 0, 2, true) == 2; }, 4, 4, 30, UndoClass::Object,
     [](Fixture& f) {
       EXPECT_EQ(f.layer(2).pixels->Pixel(0, 0), 0xFFFF0000u);
       EXPECT_EQ(u16At(f.log.packets[0].payload, 2), 2);
       EXPECT_EQ(f.paper.currentLayerIndex(), 2);
     }},
    {"rename", [](Fixture& f) { return f.paper.renameLayer(f.flow, 2, "abc", true); }, 4, 19, 24,
     UndoClass::Attribute,
     [](Fixture& f) {
       EXPECT_EQ(f.layer(2).name, "abc");
       EXPECT_EQ(f.log.packets[0].payload, (std::vector<uint8_t>{2, 0, 4, 0, 'a', 'b', 'c', 0}));
     }},
    {"merge down", [](Fixture& f) { return f.paper.mergeDown(f.flow, 1, true); }, 4, 5, 31, UndoClass::Object,
     [](Fixture& f) {
       EXPECT_EQ(f.paper.layerCount(), 2);
       EXPECT_EQ(f.paper.currentLayerIndex(), 0);
       EXPECT_EQ(f.layer(0).pixels->Pixel(10, 10), 0xFF00FF00u);
       EXPECT_EQ(f.composite(10, 10), 0x00FF00u);
     }},
    {"merge down across modes", [](Fixture& f) { return f.paper.mergeDownWithMode(f.flow, 1, 2, true); }, 4, 10, 31,
     UndoClass::Object,
     [](Fixture& f) {
       EXPECT_EQ(f.paper.layerCount(), 2);
       EXPECT_EQ(i32At(f.log.packets[0].payload, 8), 2);
     }},
    {"hide", [](Fixture& f) { return f.paper.setLayerVisible(0, false, true); }, 4, 18, 21, UndoClass::Attribute,
     [](Fixture& f) {
       EXPECT_EQ(f.composite(0, 0), 0xFFFFFFu);
       EXPECT_EQ(u16At(f.log.packets[0].payload, 4) & 1, 0);
     }},
    {"opacity", [](Fixture& f) { return f.paper.setLayerOpacity(0, 0, true); }, 4, 17, 18, UndoClass::Attribute,
     [](Fixture& f) {
       EXPECT_EQ(f.composite(0, 0), 0xFFFFFFu);
       EXPECT_EQ(f.log.packets[0].payload[3], 0);
     }},
    {"dissolve", [](Fixture& f) { return f.paper.setLayerDissolve(0, true, 100, true); }, 4, 21, 19,
     UndoClass::Attribute,
     [](Fixture& f) {
       EXPECT_EQ(f.layer(0).dissolveAmount, 100);
       const auto& p = f.log.packets[0].payload;
       ASSERT_EQ(p.size(), 18u);
       EXPECT_EQ(u16At(p, 4) & 16, 16);
       EXPECT_EQ(p[6], 100);
       EXPECT_EQ(i32At(p, 8), f.layer(0).random.seed);
     }},
    {"blend mode", [](Fixture& f) { return f.paper.setLayerMode(0, kModeMultiply, true); }, 4, 16, 20,
     UndoClass::Attribute,
     [](Fixture& f) {
       EXPECT_EQ(f.layer(0).Mode(), kModeMultiply);
       EXPECT_EQ(f.log.packets[0].payload[2], kModeMultiply);
     }},
    {"transparency lock", [](Fixture& f) { return f.paper.setMaskLock(-1, -1, true); }, 4, 20, 25,
     UndoClass::Attribute, [](Fixture& f) { EXPECT_EQ(f.layer(1).maskLock, 1); }},
    {"show only", [](Fixture& f) { return f.paper.showOnly(0, true); }, 2, 25, 37, UndoClass::Object,
     [](Fixture& f) {
       EXPECT_EQ(f.layer(0).visible, 1);
       EXPECT_EQ(f.layer(1).visible, 0);
       EXPECT_EQ(f.layer(2).visible, 0);
     }},
    {"hide all", [](Fixture& f) { return f.paper.showAll(false, true); }, 2, 24, 38, UndoClass::Object,
     [](Fixture& f) {
       EXPECT_EQ(f.paper.layers.VisibleCount(), 0);
       EXPECT_EQ(f.composite(0, 0), 0xFFFFFFu);
     }},
    {"invert visibility", [](Fixture& f) { return f.paper.invertVisibility(true); }, 2, 26, 39, UndoClass::Object,
     [](Fixture& f) { EXPECT_EQ(f.paper.layers.VisibleCount(), 0); }},
    {"offset", [](Fixture& f) { return f.paper.offsetLayer(f.flow, 1, 0, 0, true) && f.paper.offsetLayer(f.flow, 1, 5, 0, true); },
     4, 7, 33, UndoClass::Object,
     [](Fixture& f) {
       // The layer grows by 5; its green square moves to paper x 10 … 24.
       EXPECT_EQ(f.layer(1).pixels->width, 69);
       EXPECT_EQ(f.composite(9, 10), 0x0000FFu);
       EXPECT_EQ(f.composite(10, 10), 0x00FF00u);
       EXPECT_EQ(f.composite(24, 10), 0x00FF00u);
       EXPECT_EQ(f.composite(25, 10), 0x0000FFu);
       EXPECT_EQ(f.log.packets[0].payload[2], 1);  // grew across
     }},
    {"paste into layer",
     [](Fixture& f) {
       TMTC img(100, 10);
       img.Fill(0xFF808080u);
       return f.paper.pasteIntoLayer(f.flow, 2, img, true);
     },
     12, 0, 5, UndoClass::Rect,
     [](Fixture& f) {
       EXPECT_EQ(f.composite(63, 0), 0x808080u);
       EXPECT_EQ(f.layer(2).pixels->width, 64);
       EXPECT_EQ(f.log.packets[0].payload.size(), 22u + 100u * 10u * 4u);
     }},
};

class PaperOperation : public testing::TestWithParam<OpCase> {};

TEST_P(PaperOperation, RecordsItsPacketAndUndoThenChanges) {
  const OpCase& c = GetParam();
  Fixture f;
  // Layer 0 blue with a red corner at (0, 0), layer 1 a green square, layer 2 empty.
  f.layer(0).pixels->SetAll(0xFF0000FFu);
  f.layer(0).pixels->SetPixel(0, 0, 0xFFFF0000u);
  f.layer(1).pixels->SetAll(0x00FFFFFFu);
  f.layer(1).pixels->SetMasked(Area(5, 5, 15, 15), 0xFFFFFFFFu, 0xFF00FF00u);
  f.paper.recomposeAll(true);
  ASSERT_TRUE(c.run(f)) << c.name;
  ASSERT_EQ(f.log.packets.size(), 1u) << c.name;
  EXPECT_EQ(f.log.packets[0].category, c.category) << c.name;
  EXPECT_EQ(f.log.packets[0].code, c.code) << c.name;
  ASSERT_EQ(f.log.pushed.size(), 1u) << c.name;
  EXPECT_EQ(f.log.pushed[0].kind, c.undoKind) << c.name;
  EXPECT_EQ(f.log.pushed[0].cls, c.cls) << c.name;
  c.check(f);
  EXPECT_TRUE(f.paper.modified);
  // The composite matches a fresh rebuild: nothing was left stale.
  const TTC& img = f.paper.compositeImage;
  const std::vector<uint8_t> shown(img.Bits(), img.Bits() + img.ByteSize());
  f.paper.recomposeAll(true);
  EXPECT_EQ(std::memcmp(shown.data(), img.Bits(), shown.size()), 0) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Catalogue, PaperOperation, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<OpCase>& i) {
                           std::string n = i.param.name;
                           for (char& ch : n)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

TEST(PaperOperations, RefusedOperationsRecordNothing) {
  Fixture f;
  TMTC img(4, 4);
  img.Fill(0xFF000000u);
  const std::function<bool(Fixture&)> refused[] = {
      [](Fixture& f) { return f.paper.layerCommand(f.flow, 3, 7, true); },
      [](Fixture& f) { return f.paper.layerCommand(f.flow, -1, 9, true); },
      [](Fixture& f) { return f.paper.layerCommand(f.flow, 0, 6, true); },
      [](Fixture& f) { return f.paper.clearLayer(f.flow, 3, true); },
      [](Fixture& f) { return f.paper.fillLayerAlpha(f.flow, 7, 0, true); },
      [](Fixture& f) { return f.paper.deleteLayer(f.flow, 3, true); },
      [](Fixture& f) { return f.paper.duplicateLayer(f.flow, -2, true) >= 0; },
      [](Fixture& f) { return f.paper.moveLayer(f.flow, 1, 1, true) >= 0; },
      [](Fixture& f) { return f.paper.renameLayer(f.flow, 3, "x", true); },
      [](Fixture& f) { return f.paper.mergeDown(f.flow, 0, true); },
      [](Fixture& f) { return f.paper.mergeDownWithMode(f.flow, 2, 3, true); },
      [](Fixture& f) { return f.paper.setLayerVisible(9, false, true); },
      [](Fixture& f) { return f.paper.setLayerVisible(0, true, true) && !f.log.packets.empty(); },
      [](Fixture& f) { return f.paper.setLayerMode(0, 22, true); },
      [](Fixture& f) { return f.paper.showOnly(5, true); },
      [](Fixture& f) { return f.paper.showAll(true, true); },
      [](Fixture& f) { return f.paper.offsetLayer(f.flow, 3, 1, 1, true); },
      [](Fixture& f) { return f.paper.cutOutside(f.flow, 0, true); },
      [](Fixture& f) { return f.paper.insertLayer(f.flow, -1, true, 255, 0, 64, 48, true) >= 0; },
      [](Fixture& f) { return f.paper.insertLayerWithContent(f.flow, 0, true, true, "", 1, 255, 22, 48, 64) >= 0; },
      [&img](Fixture& f) { return f.paper.pasteIntoLayer(f.flow, 3, img, true); },
  };
  int i = 0;
  for (const auto& run : refused) {
    EXPECT_FALSE(run(f)) << "case " << i;
    EXPECT_TRUE(f.log.packets.empty()) << "case " << i;
    EXPECT_TRUE(f.log.pushed.empty()) << "case " << i;
    ++i;
  }
  EXPECT_EQ(f.paper.layerCount(), 3);
}

TEST(PaperOperations, DeletingTheOnlyLayerIsRefused) {
  Fixture f;
  ASSERT_TRUE(f.paper.deleteLayer(f.flow, 2, false));
  ASSERT_TRUE(f.paper.deleteLayer(f.flow, 1, false));
  EXPECT_FALSE(f.paper.deleteLayer(f.flow, 0, true));
  EXPECT_EQ(f.paper.layerCount(), 1);
}

TEST(PaperOperations, ShowAllNeedsFewerThanCountMinusOneVisible) {
  Fixture f;
  f.layer(2).visible = 0;
  EXPECT_FALSE(f.paper.showAll(true, true));  // two of three show: not fewer than 2
  f.layer(1).visible = 0;
  EXPECT_TRUE(f.paper.showAll(true, true));
  EXPECT_EQ(f.paper.layers.VisibleCount(), 3);
  f.paper.showAll(false, false);
  EXPECT_FALSE(f.paper.showAll(false, true));  // nothing left to hide
}

TEST(PaperOperations, ShowOnlyRefusedWhenTheCurrentLayerIsTheOnlyVisibleOne) {
  Fixture f;
  ASSERT_TRUE(f.paper.showOnly(1, false));
  EXPECT_FALSE(f.paper.showOnly(0, true));
}

TEST(PaperOperations, MergeDownNeedsTheLowerLayerVisibleExceptInPlayback) {
  Fixture f;
  f.layer(0).visible = 0;
  EXPECT_FALSE(f.paper.mergeDown(f.flow, 1, true));
  f.paper.playingBack = true;
  EXPECT_TRUE(f.paper.mergeDown(f.flow, 1, false));
}

TEST(PaperOperations, PasteAsNewLayerGrowsToTheImage) {
  Fixture f;
  TMTC img(80, 60);
  img.Fill(0xFF102030u);
  ASSERT_TRUE(f.paper.pasteAsNewLayer(f.flow, img, true));
  CLayerData& l = f.layer(3);
  EXPECT_EQ(l.pixels->width, 80);
  EXPECT_EQ(l.pixels->height, 60);
  EXPECT_EQ(l.offsetX, 0);
  EXPECT_EQ(f.paper.currentLayerIndex(), 3);
  EXPECT_EQ(f.composite(63, 47), 0x102030u);
  ASSERT_EQ(f.log.packets.size(), 1u);
  const auto& p = f.log.packets[0].payload;
  EXPECT_EQ(f.log.packets[0].category, 12);
  EXPECT_EQ(f.log.packets[0].code, 1);
  EXPECT_EQ(i32At(p, 2), 80);
  EXPECT_EQ(p[11], 0);  // no attribute block
  EXPECT_EQ(p.size(), 22u + 80u * 60u * 4u);
  EXPECT_EQ(f.log.pushed[0].kind, 29);
}

TEST(PaperOperations, PastedAttributeOffsetsAreClamped) {
  const struct {
    int32_t offsetX, offsetY;
    int32_t width, height;
  } cases[] = {
      {-5000, -5000, 64, 48},          // would have made the layer smaller than the paper
      {2000000000, 2000000000, 64 + 20, 48 + 10},  // would have asked for a huge image
      {5, 3, 64 + 5, 48 + 3},
  };
  for (const auto& c : cases) {
    Fixture f;
    TMTC img(20, 10);
    img.Fill(0xFF000000u);
    uint8_t attr[TPaper::kLayerAttributeBlock] = {};
    attr[4] = 3;  // visible, transparency locked
    attr[6] = 200;  // blend mode out of range
    attr[7] = 128;
    std::memcpy(attr + 32, &c.offsetX, 4);
    std::memcpy(attr + 36, &c.offsetY, 4);
    const std::string name = "pasted";
    ASSERT_TRUE(f.paper.pasteAsNewLayer(f.flow, img, false, &name, attr));
    CLayerData& l = f.layer(3);
    EXPECT_EQ(l.pixels->width, c.width);
    EXPECT_EQ(l.pixels->height, c.height);
    EXPECT_TRUE(l.ClampOffset(false));
    EXPECT_EQ(l.Mode(), kBlendModeCount - 1);
    EXPECT_EQ(l.opacity, 128);
    EXPECT_EQ(l.maskLock, 1);
    EXPECT_EQ(l.name, "pasted");
  }
}

TEST(PaperOperations, FlipVisibilityOfAHiddenLayerLeavesItAlone) {
  Fixture f;
  f.layer(1).visible = 0;
  ASSERT_TRUE(f.paper.flipVisibility(1));
  EXPECT_EQ(f.layer(0).visible, 0);
  EXPECT_EQ(f.layer(1).visible, 1);
  EXPECT_EQ(f.layer(2).visible, 0);
  EXPECT_TRUE(f.log.packets.empty());
}

TEST(PaperOperations, OffsetInPlaceKeepsTheImageSize) {
  Fixture f;
  f.layer(0).pixels->SetAll(0);
  f.layer(0).pixels->SetPixel(0, 0, 0xFF112233u);
  ASSERT_TRUE(f.paper.offsetInPlace(f.flow, 0, 3, 2));
  EXPECT_EQ(f.layer(0).pixels->width, 64);
  EXPECT_EQ(f.layer(0).pixels->Pixel(3, 2), 0xFF112233u);
  EXPECT_EQ(f.layer(0).pixels->Pixel(0, 0), 0x00FFFFFFu);
}

TEST(PaperOperations, FillLayerKeepsAlphaWhenAsked) {
  Fixture f;
  f.layer(0).pixels->SetAll(0x40000000u);
  ASSERT_TRUE(f.paper.fillLayer(f.flow, 0, 0x00ABCDEF, true));
  EXPECT_EQ(f.layer(0).pixels->Pixel(1, 1), 0x40ABCDEFu);
  ASSERT_TRUE(f.paper.fillLayer(f.flow, 0, 0x00ABCDEF, false));
  EXPECT_EQ(f.layer(0).pixels->Pixel(1, 1), 0xFFABCDEFu);
  EXPECT_TRUE(f.log.packets.empty());
}

TEST(PaperOperations, OperationsKeepTheFlowImageInStepWithTheLayer) {
  Fixture f;
  f.layer(1).pixels->SetAll(0xFF010203u);
  ASSERT_TRUE(f.paper.layerCommand(f.flow, 1, 9, false));
  EXPECT_EQ(f.flow.boundLayer, 1);
  EXPECT_EQ(f.flow.colour.At(7, 7), 0xFFFEFDFCu);
  ASSERT_TRUE(f.paper.deleteLayer(f.flow, 1, false));
  EXPECT_EQ(f.flow.boundLayer, f.paper.currentLayerIndex());
}

// The undo step refreshes what the reaction word names.
TEST(PaperOperations, UndoStepFollowsTheReactionWord) {
  Fixture f;
  ASSERT_TRUE(f.paper.setLayerOpacity(0, 100, true));
  // The undo manager put the old opacity back and reports kind 18's word.
  f.layer(0).opacity = 255;
  f.log.next = {0, Area(0, 0, 64, 48), 0x0C01};
  int32_t layer = -1;
  Area rect;
  ASSERT_TRUE(f.paper.undoStep(f.flow, layer, rect));
  EXPECT_EQ(f.log.undos, 1);
  EXPECT_EQ(layer, 0);
  // H bit 0x02 is clear: the layer became current; the composite shows the restored opacity.
  EXPECT_EQ(f.paper.currentLayerIndex(), 0);
  EXPECT_EQ(f.composite(0, 0), 0xFFFFFFu);  // layer 0 was left transparent white by the fixture

  // A structural word rebuilds everything.
  f.layer(2).visible = 0;
  f.log.next = {-1, Area(), 0x0011 | 0x02};
  ASSERT_TRUE(f.paper.undoStep(f.flow, layer, rect));
  EXPECT_EQ(f.flow.boundLayer, f.paper.currentLayerIndex());
}

TEST(PaperOperations, CatalogueRowsAreComplete) {
  for (int i = 0; i < int(PaperOp::Count); ++i) {
    const PaperOpEntry& e = paperOpEntry(PaperOp(i));
    EXPECT_EQ(int(e.op), i);
    EXPECT_NE(e.undoClass, UndoClass::None) << e.name;
  }
}

}  // namespace
}  // namespace vl

namespace vl {
namespace {

TEST(PaperOperations, StrokeUndoTakesTheClippedLayerRectangle) {
  Fixture f;
  ASSERT_TRUE(f.paper.pushStrokeUndo(1, Area(-4, 40, 20, 20)));
  ASSERT_EQ(f.log.pushed.size(), 1u);
  EXPECT_EQ(f.log.pushed[0].kind, 3);
  EXPECT_EQ(f.log.pushed[0].cls, UndoClass::Rect);
  EXPECT_FALSE(f.paper.pushStrokeUndo(1, Area(100, 100, 5, 5)));
  EXPECT_FALSE(f.paper.pushStrokeUndo(7, Area(0, 0, 5, 5)));
  EXPECT_TRUE(f.log.packets.empty());
}

}  // namespace
}  // namespace vl

namespace vl {
namespace {

TEST(PaperOperations, OldestMergeVisibleFoldsAllVisibleLayersIntoTheLowest) {
  Fixture f;
  f.layer(0).pixels->SetAll(0xFF0000FFu);
  f.layer(1).pixels->SetAll(0x00FFFFFFu);
  f.layer(1).pixels->SetMasked(Area(5, 5, 15, 15), 0xFFFFFFFFu, 0x8000FF00u);
  f.layer(2).pixels->SetAll(0x00FFFFFFu);
  f.layer(2).pixels->SetMasked(Area(30, 10, 10, 10), 0xFFFFFFFFu, 0xFFFF0000u);
  f.layer(1).opacity = 200;
  f.paper.recomposeAll(true);
  const TTC& img = f.paper.compositeImage;
  const std::vector<uint8_t> before(img.Bits(), img.Bits() + img.ByteSize());

  ASSERT_TRUE(f.paper.mergeVisibleOldest(f.flow));
  EXPECT_EQ(f.paper.layerCount(), 1);
  EXPECT_EQ(f.layer(0).opacity, 255);
  EXPECT_EQ(f.paper.currentLayerIndex(), 0);
  // The opaque lowest layer took everything above it: the picture is unchanged.
  EXPECT_EQ(std::memcmp(before.data(), img.Bits(), before.size()), 0);
  EXPECT_EQ(f.layer(0).pixels->Pixel(35, 15), 0xFFFF0000u);
  EXPECT_TRUE(f.log.packets.empty());
}

TEST(PaperOperations, OldestMergeVisibleNeedsOneModeAndTwoVisibleLayers) {
  Fixture f;
  f.layer(2).mode = kModeMultiply;
  EXPECT_FALSE(f.paper.mergeVisibleOldest(f.flow));
  f.layer(2).visible = 0;
  f.layer(1).visible = 0;
  EXPECT_FALSE(f.paper.mergeVisibleOldest(f.flow));
  f.layer(1).visible = 1;
  ASSERT_TRUE(f.paper.mergeVisibleOldest(f.flow));
  EXPECT_EQ(f.paper.layerCount(), 2);  // the hidden layer stays
  EXPECT_EQ(f.layer(1).Mode(), kModeMultiply);
}

}  // namespace
}  // namespace vl

namespace vl {
namespace {

TEST(PaperOperations, ATransparentBlackLayerIsStillALayerWithContent) {
  Fixture f;
  ASSERT_EQ(f.paper.insertLayerWithContent(f.flow, 3, true, true, "", 0x00000000u, 255, kModeNormal, 48, 64), 3);
  ASSERT_EQ(f.log.packets.size(), 1u);
  EXPECT_EQ(f.log.packets[0].code, 11);
  EXPECT_EQ(f.layer(3).pixels->Pixel(4, 4), 0x00000000u);
  EXPECT_EQ(f.layer(3).name, f.paper.layers.DefaultName(0));
}

}  // namespace
}  // namespace vl

namespace vl {
namespace {

// Pictures come from the clipboard and from event streams.
TEST(PaperOperations, PastesRefuseWhatNoPacketCouldCarry) {
  Fixture f;
  TMTC wide(10001, 2), fine(4, 4);
  wide.Fill(0xFF000000u);
  fine.Fill(0xFF000000u);
  const std::string longName(70000, 'x');
  const uint8_t shortBlock[40] = {};
  const struct {
    const TMTC* image;
    const std::string* name;
    std::span<const uint8_t> block;
  } cases[] = {{&wide, nullptr, {}}, {&fine, &longName, {}}, {&fine, nullptr, shortBlock}};
  for (const auto& c : cases) {
    EXPECT_FALSE(f.paper.pasteAsNewLayer(f.flow, *c.image, true, c.name, c.block));
    EXPECT_FALSE(f.paper.pasteIntoLayer(f.flow, 0, *c.image, true, c.name, c.block));
  }
  EXPECT_EQ(f.paper.layerCount(), 3);
  EXPECT_TRUE(f.log.packets.empty());
  EXPECT_TRUE(f.log.pushed.empty());
}

}  // namespace
}  // namespace vl
