#include "undo/undo_manager.h"

#include <gtest/gtest.h>

#include "platform/ui_services.h"
#include "support/random_session.h"

namespace vl {
namespace {

// A paper with the real undo manager.
struct UndoFixture {
  explicit UndoFixture(int32_t limit = 999, int32_t w = 72, int32_t h = 56) {
    EXPECT_TRUE(paper.newPaper(flow, "u", 72, h, w));
    auto undo = std::make_unique<CUndoMngrEx>(paper, CUndoMngrEx::kSpare, limit, limit);
    manager = undo.get();
    paper.setHooks(nullptr, std::move(undo));
  }
  bool Undo() {
    int32_t layer;
    Area rect;
    return paper.undoStep(flow, layer, rect);
  }
  bool Redo() {
    int32_t layer;
    Area rect;
    return paper.redoStep(flow, layer, rect);
  }
  void Stroke(float x) {
    stroke.ResetDefaults(kBrushPen);
    stroke.SetWidth(3);
    stroke.layerIndex = paper.currentLayerIndex();
    StrokeSession session;
    BeginStrokeOffset(paper, flow, stroke, session, true, 1, 10, x);
    AddStrokePoint(paper, flow, stroke, session, true, 1, 20, x + 5);
    AddStrokePoint(paper, flow, stroke, session, true, 1, 30, x + 10);
    EndStroke(paper, flow, stroke, session, true);
  }

  ScopedUiCapture quiet;
  TPaper paper;
  TFlowImage flow{paper};
  TStroke stroke;
  CUndoMngrEx* manager = nullptr;
};

struct State {
  uint64_t document, composite;
  friend bool operator==(const State&, const State&) = default;
};
State stateOf(const TPaper& p) { return {test::documentHash(p), test::compositeHash(p)}; }

// Random changes, undos and redos: every undo and redo must bring back
// exactly the paper, composite and flow image of the state it steps to.
TEST(Undo, RandomSessionsStepBackAndForthThroughExactStates) {
  for (uint32_t seed : {1u, 2u, 3u, 4u, 5u, 6u}) {
    SCOPED_TRACE(seed);
    UndoFixture f;
    test::RandomSession session(f.paper, f.flow, f.stroke, seed);
    std::mt19937 choose(seed * 7919);
    std::vector<State> states{stateOf(f.paper)};
    std::vector<std::string> names{"start"};  // the change that led to each state
    size_t at = 0;  // states[at] is the present
    for (int step = 0; step < 400; ++step) {
      const int what = int(choose() % 20);
      if (what < 4 && at > 0) {
        ASSERT_TRUE(f.Undo()) << "step " << step;
        --at;
        ASSERT_EQ(stateOf(f.paper), states[at]) << "undo of " << names[at + 1] << " at step " << step;
      } else if (what < 6 && at + 1 < states.size()) {
        ASSERT_TRUE(f.Redo()) << "step " << step;
        ++at;
        ASSERT_EQ(stateOf(f.paper), states[at]) << "redo of " << names[at] << " at step " << step;
      } else {
        const int32_t before = f.manager->UndoCount();
        const State old = stateOf(f.paper);
        const char* name = session.Step();
        if (f.manager->UndoCount() == before) {
          // Refused, or nothing to change: nothing may have changed.
          ASSERT_EQ(stateOf(f.paper), old) << name << " changed the paper without an undo record at step " << step;
          continue;
        }
        ASSERT_EQ(f.manager->UndoCount(), before + 1) << name;
        EXPECT_FALSE(f.manager->CanRedo()) << "a new change empties the redo side";
        states.resize(at + 1);
        names.resize(at + 1);
        states.push_back(stateOf(f.paper));
        names.push_back(name);
        ++at;
      }
      ASSERT_TRUE(test::flowFaithful(f.paper, f.flow)) << "step " << step;
    }
    // All the way back to the empty paper.
    while (at > 0) {
      ASSERT_TRUE(f.Undo());
      ASSERT_EQ(stateOf(f.paper), states[--at]);
    }
  }
}

// A thin diagonal stroke across a painted layer: its record keeps the tiles
// the stroke crossed, not its whole bounding box, and still steps exactly.
TEST(Undo, AStrokeKeepsOnlyTheTilesItTouched) {
  UndoFixture f(999, 640, 640);
  TMTC paint(640, 640);
  for (int32_t y = 0; y < 640; ++y)
    for (int32_t x = 0; x < 640; ++x) paint.Row(y)[x] = makePixel(255, uint32_t(x) & 0xFF, uint32_t(y) & 0xFF, 90);
  ASSERT_TRUE(f.paper.layerAt(0)->pixels->WriteFrom(paint, {0, 0}, 255, paint.area()));
  f.paper.loadLayerToFlow(f.flow, 0, true);
  f.paper.recomposeAll(true);
  const State before = stateOf(f.paper);
  f.stroke.ResetDefaults(kBrushPen);
  f.stroke.SetWidth(3);
  f.stroke.layerIndex = 0;
  StrokeSession session;
  BeginStrokeOffset(f.paper, f.flow, f.stroke, session, true, 1, 5, 5);
  for (int i = 1; i <= 60; ++i) AddStrokePoint(f.paper, f.flow, f.stroke, session, true, 1, 5 + 10.5f * i, 5 + 10.5f * i);
  EndStroke(f.paper, f.flow, f.stroke, session, true);
  const State after = stateOf(f.paper);
  ASSERT_NE(after, before);
  // The box is 20 × 20 tiles of 4 KB; the diagonal crosses about 60 of them.
  EXPECT_LT(f.manager->MemoryBytes(), 80 * 4096);
  ASSERT_TRUE(f.Undo());
  EXPECT_EQ(stateOf(f.paper), before);
  ASSERT_TRUE(f.Redo());
  EXPECT_EQ(stateOf(f.paper), after);
}

TEST(Undo, ALimitOfThreeKeepsThreeStrokes) {
  UndoFixture f(3);
  const State blank = stateOf(f.paper);
  for (int i = 0; i < 4; ++i) f.Stroke(float(5 + 12 * i));
  int undone = 0;
  while (f.Undo()) ++undone;
  EXPECT_EQ(undone, 3);
  EXPECT_NE(stateOf(f.paper), blank) << "the first stroke stays";
}

TEST(Undo, RecordsThatHoldNoPixelsAreKeptUpToTheLimitAndTheSpare) {
  UndoFixture f(3);
  ASSERT_GE(f.paper.insertLayer(f.flow, 1, true, 255, kModeNormal, 72, 56, false), 0);
  for (int i = 0; i < 100; ++i) f.paper.setLayerVisible(0, i % 2 != 0, true);
  EXPECT_EQ(f.manager->UndoCount(), 3 + 32);
}

TEST(Undo, ShrinkingTheLimitFreesTheOldestAtOnce) {
  UndoFixture f(10);
  for (int i = 0; i < 12; ++i) f.Stroke(float(2 + 5 * i));
  EXPECT_EQ(f.manager->UndoCount(), 10);
  const int64_t before = f.manager->MemoryUsed();
  f.manager->SetLimits(2, 2);
  EXPECT_EQ(f.manager->UndoCount(), 2);
  EXPECT_LT(f.manager->MemoryUsed(), before);
}

TEST(Undo, ALimitOfZeroRecordsNothing) {
  UndoFixture f(0);
  EXPECT_FALSE(f.manager->Enabled());
  UndoEntry e;
  e.cls = UndoClass::Attribute;
  e.kind = 17;
  EXPECT_FALSE(f.manager->Push(std::move(e)));
  f.Stroke(10);
  f.paper.setPaperColor(0x102030, true);
  EXPECT_FALSE(f.paper.canUndo());
  EXPECT_EQ(f.manager->MemoryUsed(), 0);
}

TEST(Undo, ANewChangeEndsRedo) {
  UndoFixture f;
  f.Stroke(10);
  f.Stroke(30);
  ASSERT_TRUE(f.Undo());
  EXPECT_TRUE(f.paper.canRedo());
  f.paper.setPaperColor(0x00FF00, true);
  EXPECT_FALSE(f.paper.canRedo());
  EXPECT_FALSE(f.Redo());
}

TEST(Undo, TheMemoryLineCountsLayersAndUndoInKilobytes) {
  UndoFixture f;
  f.Stroke(10);
  f.Stroke(10);  // over paint: its record keeps pixels
  const std::string line = memoryLine(f.paper);
  int64_t layerBytes = 0, undoBytes = 0;
  f.paper.memoryUsage(&layerBytes, &undoBytes);
  EXPECT_GT(undoBytes, 0);
  EXPECT_EQ(line, "레이어: " + std::to_string(layerBytes / 1024) + "KB, 실행취소: " + std::to_string(undoBytes / 1024) + "KB");
}

TEST(Undo, ALayersOwnUndoKeepsEightStepsEachWay) {
  CUndoMngr own(CUndoMngrEx::kLayerUndoSteps, CUndoMngrEx::kLayerUndoSteps);
  CBlockVMTC image(40, 40);
  for (uint32_t i = 0; i < 10; ++i) {
    ASSERT_TRUE(own.PushRect(image, Area(int32_t(i), 0, 4, 4)));
    image.SetPixel(int32_t(i), 0, 0xFF000000u | i);
  }
  EXPECT_EQ(own.UndoCount(), 8);
  Area r;
  int undone = 0;
  while (own.UndoRect(image, r)) ++undone;
  EXPECT_EQ(undone, 8);
  EXPECT_EQ(image.Pixel(2, 0), CBlockVMTC::kDefaultUniform);
  EXPECT_EQ(image.Pixel(1, 0), 0xFF000001u) << "older than eight steps";
  ASSERT_TRUE(own.RedoRect(image, r));
  EXPECT_EQ(r, Area(2, 0, 4, 4));
  EXPECT_EQ(image.Pixel(2, 0), 0xFF000002u);
}

}  // namespace
}  // namespace vl
