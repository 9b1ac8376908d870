#include "document/layer_manager.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "document/blend_modes.h"
#include "platform/ui_services.h"

namespace vl {
namespace {

constexpr std::string_view kBadIndex = "잘못된 레이어 인덱스 !";
constexpr std::string_view kInitFailed = "레이어 초기화 실패 !";
constexpr std::string_view kMergeFailed = "레이어결합 실패 !";

// A 64 × 64 paper with `n` standard layers named "A", "B", ... bottom up.
void fill(CLayerMngr& m, int n) {
  m.SetPaperSize(64, 64);
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(m.AppendNew(64, 64, 1, 255, kModeNormal, false), i);
    m.At(i)->name = std::string(1, char('A' + i));
  }
}

std::string order(const CLayerMngr& m) {
  std::string s;
  for (int32_t i = 0; i < m.Count(); ++i) {
    EXPECT_EQ(m.At(i)->index, i);
    s += m.At(i)->name;
  }
  return s;
}

// Merge arithmetic written out from the formulas, to check the library against.
int mul(int a, int b) { return a * b / 255; }
uint32_t ch(uint32_t p, int shift) { return (p >> shift) & 0xFF; }

// Standard upper layer onto an alpha-carrying destination whose alpha is already scaled.
uint32_t expectNormal(uint32_t d, uint32_t s, int opacity) {
  const int ad = int(d >> 24), as = mul(int(s >> 24), opacity);
  if (as == 0) return d;
  if (as == 255) return 0xFF000000u | (s & 0xFFFFFFu);
  if (ad == 255) return blendRGB(d, s, as);
  const int a = ad + mul(as, 255 - ad);
  return (uint32_t(a) << 24) | (blendRGB(d, s, as * 255 / a) & 0xFFFFFFu);
}

// Multiply upper layer.
uint32_t expectMultiply(uint32_t d, uint32_t s, int opacity) {
  const int ad = int(d >> 24), as = mul(int(s >> 24), opacity);
  const int p = mul(ad, as), a = ad + as - p;
  if (a == 0) return d;
  uint32_t out = uint32_t(a) << 24;
  for (int shift : {0, 8, 16}) {
    const int dc = int(ch(d, shift)), sc = int(ch(s, shift));
    int v = (dc * ad + as * sc - p * (sc + dc - mul(dc, sc))) / a;
    v = std::clamp(v, 0, 255);
    out |= uint32_t(v) << shift;
  }
  return out;
}

uint32_t scaleAlpha(uint32_t p, int strength) { return (p & 0xFFFFFFu) | (uint32_t(mul(int(p >> 24), strength)) << 24); }

TEST(LayerMngr, StartsEmpty) {
  CLayerMngr m(8);
  EXPECT_EQ(m.Count(), 0);
  EXPECT_EQ(m.TopIndex(), -1);
  EXPECT_EQ(m.Current(), -1);
  EXPECT_EQ(m.NameCounter(), 0);
  EXPECT_TRUE(m.CanAdd());
  EXPECT_EQ(m.ThumbnailBox(), (Size{33, 33}));
  EXPECT_EQ(m.At(0), nullptr);
  EXPECT_EQ(m.SetCurrent(0), -1);
}

TEST(LayerMngr, InsertNewPlacesAndSetsUp) {
  CLayerMngr m;
  fill(m, 3);
  EXPECT_EQ(m.Current(), 0);
  // Past the top appends.
  EXPECT_EQ(m.InsertNew(5, 32, 16, 0, 99, kModeAdd, true), 3);
  const CLayerData* l = m.At(3);
  EXPECT_EQ(l->visible, 0);
  EXPECT_EQ(l->opacity, 99);
  EXPECT_EQ(l->Mode(), kModeAdd);
  EXPECT_TRUE(l->wantsOwnUndo);
  EXPECT_EQ(l->paperWidth, 64);
  EXPECT_EQ(l->ImageSize(), (Size{32, 16}));
  EXPECT_EQ(l->pixels->Pixel(0, 0), NeutralColour(kModeAdd));
  m.At(3)->name = "D";
  EXPECT_EQ(m.InsertNew(1, 64, 64, 1, 255, kModeNormal, false), 1);
  m.At(1)->name = "x";
  EXPECT_EQ(order(m), "AxBCD");
}

TEST(LayerMngr, InsertFailuresWarnAndLeaveTheListAlone) {
  CLayerMngr m;
  fill(m, 2);
  ScopedUiCapture ui;
  struct Case {
    int32_t index, w, h;
    std::string_view warning;
  } cases[] = {{-1, 64, 64, kBadIndex}, {0, 0, 64, kInitFailed}, {1, 64, -5, kInitFailed},
               {0, kMaxLayerSide + 1, 1, kInitFailed}};
  for (const Case& c : cases) {
    ui.capture.warnings.clear();
    EXPECT_EQ(m.InsertNew(c.index, c.w, c.h, 1, 255, kModeNormal, false), -1);
    ASSERT_EQ(ui.capture.warnings.size(), 1u);
    EXPECT_EQ(ui.capture.warnings[0], c.warning);
  }
  EXPECT_EQ(order(m), "AB");

  ui.capture.warnings.clear();
  auto layer = std::make_unique<CLayerData>(0, false);
  EXPECT_EQ(m.InsertExisting(-1, std::move(layer)), -1);
  ASSERT_EQ(ui.capture.warnings.size(), 1u);
  EXPECT_EQ(ui.capture.warnings[0], kBadIndex);
  EXPECT_NE(layer, nullptr);  // still the caller's
}

TEST(LayerMngr, InsertExistingReplaceAndUnlink) {
  CLayerMngr m;
  m.SetPaperSize(64, 64);
  auto z = std::make_unique<CLayerData>(9, false);
  z->name = "Z";
  EXPECT_EQ(m.InsertExisting(4, std::move(z)), 0);
  EXPECT_EQ(z, nullptr);
  EXPECT_EQ(m.Current(), 0);
  fill(m, 0);
  ASSERT_EQ(m.AppendNew(64, 64, 1, 255, kModeNormal, false), 1);
  m.At(1)->name = "B";

  auto r = std::make_unique<CLayerData>(0, false);
  r->name = "R";
  auto old = m.Replace(0, std::move(r));
  ASSERT_NE(old, nullptr);
  EXPECT_EQ(old->name, "Z");
  EXPECT_EQ(order(m), "RB");
  auto bad = std::make_unique<CLayerData>(0, false);
  EXPECT_EQ(m.Replace(2, std::move(bad)), nullptr);
  EXPECT_NE(bad, nullptr);

  m.SetCurrent(1);
  auto u = m.Unlink(1);
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(u->name, "B");
  EXPECT_EQ(m.Count(), 1);
  m.FixCurrent();
  EXPECT_EQ(m.Current(), 0);
  EXPECT_EQ(m.Unlink(3), nullptr);
}

TEST(LayerMngr, Move) {
  struct Case {
    int32_t to, from, result;
    const char* order;
  } cases[] = {
      {2, 2, -1, "ABC"}, {99, 0, 2, "BCA"}, {0, 2, 0, "CAB"}, {-3, 1, 0, "BAC"}, {1, 5, -1, "ABC"}, {1, 0, 1, "BAC"},
  };
  for (const Case& c : cases) {
    CLayerMngr m;
    fill(m, 3);
    EXPECT_EQ(m.Move(c.to, c.from), c.result) << c.to << " <- " << c.from;
    EXPECT_EQ(order(m), c.order) << c.to << " <- " << c.from;
  }
}

TEST(LayerMngr, DeleteKeepsCurrentValid) {
  CLayerMngr m;
  fill(m, 3);
  EXPECT_EQ(m.SetCurrent(2), 2);
  EXPECT_TRUE(m.Delete(2));
  EXPECT_EQ(m.Current(), 1);
  EXPECT_EQ(order(m), "AB");
  EXPECT_FALSE(m.Delete(5));
  EXPECT_TRUE(m.Delete(0));
  EXPECT_TRUE(m.Delete(0));
  EXPECT_EQ(m.Current(), -1);
  fill(m, 2);
  m.Clear();
  EXPECT_EQ(m.Count(), 0);
  EXPECT_EQ(m.Current(), -1);
}

TEST(LayerMngr, DefaultNamesNeverReuseNumbers) {
  CLayerMngr m;
  m.SetPaperSize(64, 64);
  EXPECT_EQ(m.DefaultName(1), "레이어1");
  ASSERT_EQ(m.AppendNew(64, 64, 1, 255, kModeNormal, false), 0);
  m.NameLayer(0, 1);
  ASSERT_EQ(m.AppendNew(64, 64, 1, 255, kModeNormal, false), 1);
  m.NameLayer(1, 1);
  EXPECT_EQ(m.At(0)->name, "레이어1");
  EXPECT_EQ(m.At(1)->name, "레이어2");
  m.Delete(1);
  ASSERT_EQ(m.AppendNew(64, 64, 1, 255, kModeNormal, false), 1);
  m.NameLayer(1, 1);
  EXPECT_EQ(m.At(1)->name, "레이어3");
  m.NameLayer(1, -5);
  EXPECT_EQ(m.NameCounter(), 3);
  EXPECT_EQ(m.DefaultName(1), "레이어4");

  // A duplicate keeps its source's name and gets its own id.
  ASSERT_EQ(m.InsertNew(1, 64, 64, 1, 255, kModeNormal, false), 1);
  ASSERT_TRUE(m.CopyLayer(1, 0));
  m.CopyName(1, 0);
  EXPECT_EQ(m.At(1)->name, "레이어1");
  EXPECT_NE(m.IdAt(1), m.IdAt(0));
}

TEST(LayerMngr, VisibilityAndIds) {
  CLayerMngr m;
  fill(m, 4);
  m.At(0)->visible = 0;
  m.At(2)->visible = 0;
  EXPECT_EQ(m.VisibleCount(), 2);
  EXPECT_EQ(m.FirstVisible(), 1);
  EXPECT_EQ(m.VisibleFlags(), (std::vector<uint8_t>{0, 1, 0, 1}));
  EXPECT_TRUE(m.InvertVisibility());
  EXPECT_EQ(m.VisibleFlags(), (std::vector<uint8_t>{1, 0, 1, 0}));
  EXPECT_TRUE(m.ShowOnly(3));
  EXPECT_EQ(m.VisibleFlags(), (std::vector<uint8_t>{0, 0, 0, 1}));
  EXPECT_FALSE(m.ShowOnly(4));
  EXPECT_TRUE(m.SetAllVisible(0));
  EXPECT_EQ(m.FirstVisible(), -1);

  const int32_t id = m.IdAt(2);
  EXPECT_EQ(m.IndexOfId(id), 2);
  EXPECT_EQ(m.IdAt(7), -1);
  m.Move(0, 2);
  int32_t index = -9;
  CLayerData* layer = nullptr;
  EXPECT_TRUE(m.FindId(id, index, layer));
  EXPECT_EQ(index, 0);
  EXPECT_EQ(layer, m.At(0));
  EXPECT_FALSE(m.FindId(-42, index, layer));
  EXPECT_EQ(index, -1);
  EXPECT_EQ(layer, nullptr);

  CLayerMngr empty;
  EXPECT_FALSE(empty.InvertVisibility());
  EXPECT_FALSE(empty.SetAllVisible(1));
}

TEST(LayerMngr, SwapWithAnotherList) {
  CLayerMngr a, b;
  fill(a, 2);
  fill(b, 3);
  b.At(1)->name = "y";
  ASSERT_TRUE(a.SwapWith(0, b, true, 1));
  EXPECT_EQ(order(a), "yB");
  EXPECT_EQ(order(b), "AAC");
  EXPECT_FALSE(a.SwapWith(2, b, true, 0));
}

TEST(LayerMngr, OffsetWithinTheImageOnlyMovesTheOffset) {
  CLayerMngr m;
  m.SetPaperSize(64, 64);
  ASSERT_EQ(m.AppendNew(84, 64, 1, 255, kModeNormal, false), 0);
  m.At(0)->offsetX = 10;
  CLayerData* before = m.At(0);
  std::unique_ptr<CLayerData> old;
  int grew = -1;
  ASSERT_TRUE(m.OffsetLayer(0, 5, 0, &old, &grew));
  EXPECT_EQ(grew, 0);
  EXPECT_EQ(old, nullptr);
  EXPECT_EQ(m.At(0), before);
  EXPECT_EQ(before->offsetX, 5);
}

TEST(LayerMngr, OffsetGrowsTheImageOnTheUncoveredSide) {
  struct Case {
    int32_t dx, dy;
    Size size;
    Point offset, pixelAt;
  } cases[] = {
      {10, 0, {74, 64}, {0, 0}, {10, 0}},
      {-10, 0, {74, 64}, {10, 0}, {0, 0}},
      {0, 7, {64, 71}, {0, 0}, {0, 7}},
      {-3, -4, {67, 68}, {3, 4}, {0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.dx << "," << c.dy);
    CLayerMngr m;
    m.SetPaperSize(64, 64);
    ASSERT_EQ(m.AppendNew(64, 64, 1, 200, kModeOverlay, false), 0);
    CLayerData* l = m.At(0);
    l->name = "moved";
    ASSERT_TRUE(l->pixels->SetPixel(0, 0, 0xFF112233u));
    const int32_t id = l->id;
    std::unique_ptr<CLayerData> old;
    int grew = 0;
    ASSERT_TRUE(m.OffsetLayer(0, c.dx, c.dy, &old, &grew));
    EXPECT_EQ(grew, (c.dx != 0 ? 1 : 0) | (c.dy != 0 ? 2 : 0));
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(old->id, id);
    const CLayerData* n = m.At(0);
    EXPECT_EQ(n->id, id);
    EXPECT_EQ(n->name, "moved");
    EXPECT_EQ(n->opacity, 200);
    EXPECT_EQ(n->Mode(), kModeOverlay);
    EXPECT_EQ(n->ImageSize(), c.size);
    EXPECT_EQ((Point{n->offsetX, n->offsetY}), c.offset);
    EXPECT_EQ(n->pixels->Pixel(c.pixelAt.x, c.pixelAt.y), 0xFF112233u);
    // The pixel moved by (dx, dy) on the paper.
    EXPECT_EQ(c.pixelAt.x - n->offsetX, c.dx);
    EXPECT_EQ(c.pixelAt.y - n->offsetY, c.dy);
    EXPECT_EQ(n->pixels->Pixel(c.size.width - 1, c.size.height - 1) >> 24, 0u);
  }
}

TEST(LayerMngr, OffsetRefusesGrowthBeyondTheLimit) {
  CLayerMngr m;
  m.SetPaperSize(kMaxLayerSide, 32);
  ASSERT_EQ(m.AppendNew(kMaxLayerSide, 32, 1, 255, kModeNormal, false), 0);
  CLayerData* l = m.At(0);
  EXPECT_FALSE(m.OffsetLayer(0, 10, 0));
  EXPECT_EQ(m.At(0), l);
  EXPECT_EQ(l->offsetX, 0);
  EXPECT_EQ(l->ImageSize(), (Size{kMaxLayerSide, 32}));
}

TEST(LayerMngr, CutOutsideKeepsThePaperWindow) {
  CLayerMngr m;
  m.SetPaperSize(64, 64);
  ASSERT_EQ(m.AppendNew(96, 80, 1, 255, kModeNormal, false), 0);
  CLayerData* l = m.At(0);
  l->offsetX = 16;
  l->offsetY = 8;
  ASSERT_TRUE(l->pixels->SetPixel(16, 8, 0xFFABCDEFu));
  ASSERT_TRUE(l->pixels->SetPixel(5, 5, 0xFF000000u));
  const int32_t id = l->id;
  std::unique_ptr<CLayerData> old;
  ASSERT_TRUE(m.CutOutside(0, &old));
  ASSERT_NE(old, nullptr);
  const CLayerData* n = m.At(0);
  EXPECT_EQ(n->id, id);
  EXPECT_EQ(n->ImageSize(), (Size{64, 64}));
  EXPECT_EQ((Point{n->offsetX, n->offsetY}), (Point{0, 0}));
  EXPECT_EQ(n->pixels->Pixel(0, 0), 0xFFABCDEFu);
  EXPECT_EQ(n->pixels->AllocatedTiles(), 1);
  // Paper-sized now: nothing more to cut.
  EXPECT_FALSE(m.CutOutside(0));
}

// Lower: standard 64 × 64 on the paper at opacity 64, alpha 200 throughout.
// Upper: a 32 × 32 layer covering paper (32, 32) … (64, 64) at opacity 128.
struct MergeFixture {
  CLayerMngr m;
  uint32_t lowerColour = 0xC8102030u;
  uint32_t upperColour = 0xC0A0B0C0u;
  uint32_t upperPixel = 0x80FF4000u;  // at upper (1, 2), paper (33, 34)

  MergeFixture(int lowerMode, int upperMode, int lowerOpacity = 64) {
    m.SetPaperSize(64, 64);
    EXPECT_EQ(m.AppendNew(64, 64, 1, uint8_t(lowerOpacity), lowerMode, false), 0);
    EXPECT_EQ(m.AppendNew(32, 32, 1, 128, upperMode, false), 1);
    m.At(0)->name = "lower";
    m.At(0)->pixels->SetAll(lowerColour);
    CLayerData* u = m.At(1);
    u->offsetX = -32;
    u->offsetY = -32;
    u->pixels->SetAll(upperColour);
    u->pixels->SetPixel(1, 2, upperPixel);
  }
};

TEST(LayerMngr, MergeDownKindZeroScalesLowerAlphaUnderTheUpperLayerOnly) {
  for (int upperMode : {kModeNormal, kModeMultiply}) {
    SCOPED_TRACE(upperMode);
    MergeFixture f(kModeNormal, upperMode);
    const int32_t lowerId = f.m.IdAt(0);
    const int32_t upperId = f.m.IdAt(1);
    std::unique_ptr<CLayerData> old;
    ASSERT_TRUE(f.m.MergeDown(0, 1, true, 0, &old));
    ASSERT_NE(old, nullptr);
    EXPECT_EQ(old->id, lowerId);
    ASSERT_EQ(f.m.Count(), 2);
    EXPECT_EQ(f.m.IdAt(1), upperId);
    const CLayerData* n = f.m.At(0);
    EXPECT_EQ(n->id, lowerId);
    EXPECT_EQ(n->name, "lower");
    EXPECT_EQ(n->opacity, 255);
    EXPECT_EQ(n->ImageSize(), (Size{64, 64}));

    auto expect = upperMode == kModeNormal ? expectNormal : expectMultiply;
    const uint32_t d = scaleAlpha(f.lowerColour, 64);
    EXPECT_EQ(n->pixels->Pixel(10, 10), f.lowerColour);  // outside the upper extent
    EXPECT_EQ(n->pixels->Pixel(31, 63), f.lowerColour);
    EXPECT_EQ(n->pixels->Pixel(40, 40), expect(d, f.upperColour, 128));
    EXPECT_EQ(n->pixels->Pixel(33, 34), expect(d, f.upperPixel, 128));
  }
}

TEST(LayerMngr, MergeDownCoversTheUnionOfBothExtents) {
  MergeFixture f(kModeNormal, kModeNormal, 255);
  CLayerData* u = f.m.At(1);
  u->offsetX = 16;  // paper x −16 … 16
  u->offsetY = 0;
  f.m.At(0)->pixels->SetPixel(0, 0, 0xFF010203u);
  ASSERT_TRUE(f.m.MergeDown(0, 1, false, 0));
  const CLayerData* n = f.m.At(0);
  EXPECT_EQ(n->ImageSize(), (Size{80, 64}));
  EXPECT_EQ(n->offsetX, 16);
  EXPECT_EQ(n->offsetY, 0);
  EXPECT_EQ(n->Extent(), (Bounds{-16, 0, 64, 64}));
  // Left of the lower layer only the upper pixels, over transparent neutral.
  EXPECT_EQ(n->pixels->Pixel(0, 0), expectNormal(NeutralColour(kModeNormal), f.upperColour, 128));
  EXPECT_EQ(n->pixels->Pixel(16 + 40, 40), f.lowerColour);
  EXPECT_EQ(n->pixels->Pixel(16 + 20, 40), f.lowerColour);  // below the upper layer's reach
  EXPECT_EQ(n->pixels->Pixel(16 + 10, 10), expectNormal(f.lowerColour, f.upperColour, 128));
  EXPECT_EQ(n->pixels->Pixel(16, 0), expectNormal(0xFF010203u, f.upperColour, 128));
}

TEST(LayerMngr, MergeDownCrossKinds) {
  // (lower, upper, kind): multiply pairs and the generic record.
  struct Case {
    int lower, upper, kind;
    bool multiplyPair;
  } cases[] = {{kModeMultiply, kModeMultiply, 1, true}, {kModeMultiply, kModeMultiply, 2, true},
               {kModeNormal, kModeMultiply, 2, true},   {kModeNormal, kModeMultiply, 1, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.lower << "/" << c.upper << " kind " << c.kind);
    MergeFixture f(c.lower, c.upper, 255);
    ASSERT_TRUE(f.m.MergeDown(0, 1, false, c.kind));
    const CLayerData* n = f.m.At(0);
    EXPECT_EQ(n->opacity, 255);
    EXPECT_EQ(n->pixels->Pixel(10, 10), f.lowerColour);
    const uint32_t d = f.lowerColour, s = f.upperColour;
    if (c.multiplyPair) {
      EXPECT_EQ(n->pixels->Pixel(40, 40), expectMultiply(d, s, 128));
    } else {
      // Generic: start at the larger merge colour (white), the standard
      // lower over it at a_d, then the multiply upper at a_s, un-premultiplied.
      const int ad = int(d >> 24), as = mul(int(s >> 24), 128), a = ad + as - mul(ad, as);
      uint32_t start = blendRGB(0xFFFFFFu, d, ad);
      start = LayerParam(kModeMultiply)->opaque(start, s, as);
      uint32_t want = uint32_t(a) << 24;
      for (int shift : {0, 8, 16}) want |= uint32_t(std::min(255, int(ch(start, shift)) * 255 / a)) << shift;
      EXPECT_EQ(n->pixels->Pixel(40, 40), want);
    }
  }
}

TEST(LayerMngr, MergeDownIntoSubtractLayerInvertsTheResult) {
  MergeFixture plain(kModeSubtract, kModeNormal, 255);
  MergeFixture merged(kModeSubtract, kModeNormal, 255);
  SCrossMerge rec;
  bool invert = false;
  ASSERT_TRUE(CrossMergeRecord(2, kModeSubtract, kModeNormal, rec, invert));
  ASSERT_TRUE(invert);
  CBlockVMTC& p = *plain.m.At(0)->pixels;
  ASSERT_TRUE(p.MergeCross(*plain.m.At(1)->pixels, rec, 128, 255, Area(0, 0, 32, 32), {32, 32}));
  ASSERT_TRUE(merged.m.MergeDown(0, 1, false, 2));
  const CBlockVMTC& n = *merged.m.At(0)->pixels;
  for (Point q : {Point{10, 10}, Point{40, 40}, Point{33, 34}})
    EXPECT_EQ(n.Pixel(q.x, q.y), p.Pixel(q.x, q.y) ^ 0x00FFFFFFu) << q.x << "," << q.y;
}

TEST(LayerMngr, MergeDownFailuresLeaveTheListAlone) {
  ScopedUiCapture ui;
  MergeFixture f(kModeNormal, kModeNormal);
  CLayerData* lower = f.m.At(0);
  EXPECT_FALSE(f.m.MergeDown(0, 1, false, 3));
  EXPECT_FALSE(f.m.MergeDown(0, 0, false, 0));
  EXPECT_FALSE(f.m.MergeDown(0, 2, false, 0));
  EXPECT_TRUE(ui.capture.warnings.empty());

  // Layers too far apart for one image.
  f.m.At(1)->offsetX = -(kMaxLayerSide + 10);
  EXPECT_FALSE(f.m.MergeDown(0, 1, false, 0));
  ASSERT_EQ(ui.capture.warnings.size(), 1u);
  EXPECT_EQ(ui.capture.warnings[0], kMergeFailed);
  EXPECT_EQ(f.m.At(0), lower);
  EXPECT_EQ(lower->opacity, 64);
  EXPECT_EQ(lower->pixels->Pixel(40, 40), f.lowerColour);
}

TEST(LayerMngr, MemoryAndOwnUndo) {
  CLayerMngr m;
  fill(m, 2);
  m.At(1)->pixels->SetPixel(0, 0, 0xFF000000u);
  EXPECT_EQ(m.MemoryUsed(), m.At(0)->MemoryUsed() + m.At(1)->MemoryUsed());
  EXPECT_EQ(m.At(1)->MemoryUsed(), 4096 + m.At(1)->thumbnail.ByteSize());
  ASSERT_EQ(m.AppendNew(64, 64, 1, 255, kModeNormal, true), 2);
  m.DropOwnUndo();
  EXPECT_FALSE(m.At(2)->wantsOwnUndo);
  EXPECT_EQ(m.OwnUndoMemory(), 0);
}

}  // namespace
}  // namespace vl
