#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "events/event_manager.h"
#include "platform/strings.h"
#include "platform/ui_services.h"
#include "support/random_session.h"
#include "undo/undo_manager.h"

namespace vl {
namespace {

// ---- the size rule ----

// The payload size of every header: fixed sizes, and for the packets with a
// length field, the head and which field (offset, width, unit) it reads.
struct SizeRule {
  uint8_t category;
  std::vector<int> codes;
  int head;
  int lengthAt = -1, width = 0, unit = 1;
};

const SizeRule kRules[] = {
    {0, {0, 5}, 12}, {0, {2, 3, 8}, 4}, {0, {4}, 16}, {0, {12, 13}, 2}, {0, {16, 17}, 8}, {0, {18}, 22},
    {0, {32}, 68}, {0, {33}, 2, 0, 2}, {0, {36}, 160, 156, 4}, {0, {37}, 20}, {0, {40}, 12, 6, 2},
    {0, {0x80, 0x81}, 22, 12, 4}, {0, {0x88}, 4, 0, 4},
    {2, {0}, 16}, {2, {1, 24, 25, 26}, 4}, {2, {2, 3, 9}, 10}, {2, {4, 5, 7, 16, 17, 18, 19, 254, 255}, 0},
    {2, {6}, 18}, {2, {8}, 28},
    {4, {0}, 14}, {4, {1, 2, 3, 4, 5, 8, 9, 24, 25, 32, 33, 34, 35, 36, 37}, 4}, {4, {6, 7, 10, 38, 39}, 12},
    {4, {11}, 42, 40, 2}, {4, {12, 13}, 20}, {4, {16, 17, 18, 20}, 6}, {4, {19}, 4, 2, 2}, {4, {21}, 18},
    {6, {0, 1, 2, 3, 5}, 22}, {6, {4}, 4, 2, 2, 8},
    {10, {0, 1, 2, 3, 4, 5, 6, 11, 20, 21}, 4}, {10, {7, 8, 9, 10, 13, 14, 22, 24, 25, 26}, 12}, {10, {12}, 4, 2, 2},
    {10, {16, 17}, 22}, {10, {18}, 8, 6, 2, 8},
    {12, {0, 1, 2}, 22, 12, 4},
    {13, {0, 1, 16, 17, 32}, 54, 42, 4}, {13, {2, 3}, 72, 60, 4},
    {16, {0}, 4}, {20, {0}, 4}, {21, {0}, 4}, {22, {0}, 4}, {23, {0}, 4}, {24, {0}, 4},
    {32, {0, 1, 8, 9, 20}, 4}, {33, {2, 10, 18, 21, 22, 23, 32, 34}, 12}, {34, {3, 17, 19, 33, 36}, 20},
    {35, {16, 35, 37, 38}, 28},
};

TEST(Packets, EveryHeaderHasItsSizeAndEveryOtherIsInvalid) {
  std::map<std::pair<int, int>, const SizeRule*> rules;
  for (const SizeRule& r : kRules)
    for (int c : r.codes) rules[{r.category, c}] = &r;
  // Length fields of 0x0102 (two bytes) or 0x00000203 (four) wherever they are read.
  uint8_t payload[200];
  std::memset(payload, 0, sizeof payload);
  for (int cat = 0; cat < 256; ++cat)
    for (int code = 0; code < 256; ++code) {
      int64_t expected = -1;
      if (auto it = rules.find({cat, code}); it != rules.end()) {
        const SizeRule& r = *it->second;
        expected = r.head;
        if (r.lengthAt >= 0) {
          std::memset(payload, 0, sizeof payload);
          payload[r.lengthAt] = 3;
          payload[r.lengthAt + 1] = 2;
          expected = r.head + int64_t(0x203) * r.unit;
        }
      } else if (cat == 1) {
        std::memset(payload, 0, sizeof payload);
        payload[0] = 3;
        payload[1] = 2;
        expected = 4 + 0x203;
      } else if ((cat == 17 || cat == 18) && code >= 1 && code <= 16) {
        expected = 12 * code;
      } else if (cat == 38) {
        std::memset(payload, 0, sizeof payload);
        payload[4] = 3;
        payload[5] = 2;
        expected = 50 + 0x203;
      }
      ASSERT_EQ(packetPayloadSize(uint8_t(cat), uint8_t(code), payload, sizeof payload), expected)
          << "category " << cat << " code " << code;
    }
  // A length field the bytes do not hold is invalid too.
  EXPECT_EQ(packetPayloadSize(0, 36, payload, 100), -1);
  EXPECT_EQ(packetPayloadSize(1, 17, payload, 3), -1);
  // Sizes that would wrap 32 bits stay exact in 64.
  std::memset(payload, 0xFF, sizeof payload);
  EXPECT_EQ(packetPayloadSize(12, 0, payload, sizeof payload), 22 + int64_t(0xFFFFFFFF));
}

// ---- the recorder ----

// A paper recording from its making, with the real undo manager.
struct Recorder {
  explicit Recorder(int32_t undoLimit = 999, int32_t w = 64, int32_t h = 48) {
    ScopedClock fixed(clock);
    clock.time = {2026, 12, 4, 10, 14, 33, 20, 5};
    auto rec = std::make_unique<CEventMngr>(paper);
    events = rec.get();
    const int32_t depth = std::max(8, undoLimit + 34);
    EXPECT_TRUE(rec->start(&stroke, depth, depth));
    paper.setEventHook(std::move(rec));
    auto undo = std::make_unique<CUndoMngrEx>(paper, CUndoMngrEx::kSpare, undoLimit, undoLimit);
    manager = undo.get();
    paper.setUndoHook(std::move(undo));
    EXPECT_TRUE(paper.newPaper(flow, "r", 72, h, w));
    stroke.ResetDefaults(kBrushPen);
    stroke.SetWidth(3);
  }
  std::vector<uint8_t> Stream() const {
    std::vector<uint8_t> s;
    events->writeStream(s);
    return s;
  }
  // Packet headers from `from` on.
  std::vector<std::pair<int, int>> Headers(uint32_t from = 0) const {
    std::vector<std::pair<int, int>> out;
    const std::vector<uint8_t> s = Stream();
    for (size_t at = from; at < s.size();) {
      const int64_t n = packetPayloadSize(&s[at], s.size() - at);
      if (n < 0) break;
      out.push_back({s[at], s[at + 1]});
      at += 2 + size_t(n);
    }
    return out;
  }
  void Stroke(int points, float x0 = 5) {
    stroke.layerIndex = paper.currentLayerIndex();
    StrokeSession session;
    BeginStrokeOffset(paper, flow, stroke, session, true, 1, 10, x0);
    for (int i = 1; i < points; ++i) AddStrokePoint(paper, flow, stroke, session, true, 1, 10 + i % 3, x0 + i);
    EndStroke(paper, flow, stroke, session, true);
  }
  bool Undo() {
    int32_t l;
    Area r;
    return paper.undoStep(flow, l, r);
  }
  bool Redo() {
    int32_t l;
    Area r;
    return paper.redoStep(flow, l, r);
  }

  ScopedUiCapture quiet;
  FixedClock clock;
  TPaper paper;
  TFlowImage flow{paper};
  TStroke stroke;
  CEventMngr* events = nullptr;
  CUndoMngrEx* manager = nullptr;
};

using Headers = std::vector<std::pair<int, int>>;

TEST(Recorder, ANewStreamBeginsWithVersionPaperSnapshotAndTheStart) {
  Recorder r;
  EXPECT_EQ(r.Headers(), (Headers{{0, 0}, {2, 8}, {0, 2}, {0, 3}, {0, 4}, {0, 5}, {0, 8}, {0, 12}, {1, 17}, {1, 16}, {2, 254}}));
  const std::vector<uint8_t> s = r.Stream();
  // Version 3.3, then the paper: 64 × 48, first layer 64 × 48, resolution 72.
  EXPECT_EQ(std::vector<uint8_t>(s.begin(), s.begin() + 14), (std::vector<uint8_t>{0, 0, 3, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(s.begin() + 14, s.begin() + 44),
            (std::vector<uint8_t>{2, 8, 64, 0, 0, 0, 48, 0, 0, 0, 64, 0, 0, 0, 48, 0, 0, 0, 72, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(r.events->StepCount(), 2);
  // The time in UTC from the clock, as eight 16-bit fields.
  const uint8_t infoTime[] = {1, 17, 16, 0, 0, 0};
  const auto t = std::search(s.begin(), s.end(), std::begin(infoTime), std::end(infoTime));
  ASSERT_NE(t, s.end());
  EXPECT_EQ(std::vector<uint8_t>(t + 6, t + 22), (std::vector<uint8_t>{0xEA, 7, 12, 0, 4, 0, 10, 0, 14, 0, 33, 0, 20, 0, 5, 0}));
}

TEST(Recorder, StrokesOfSixteenAndSeventeenPoints) {
  for (int points : {16, 17}) {
    Recorder r;
    const uint32_t before = r.events->WritePos();
    r.Stroke(points);
    Headers h = r.Headers(before);
    // The pen's settings come first, once.
    while (!h.empty() && h.front().first == 0) h.erase(h.begin());
    if (points == 16) {
      EXPECT_EQ(h, (Headers{{23, 0}, {18, 16}}));
    } else {
      EXPECT_EQ(h, (Headers{{23, 0}, {17, 16}, {18, 1}}));
    }
  }
}

TEST(Recorder, OnlyChangedSettingsAreRecordedAgain) {
  Recorder r;
  r.Stroke(5);
  uint32_t before = r.events->WritePos();
  r.Stroke(5, 20);
  EXPECT_EQ(r.Headers(before), (Headers{{23, 0}, {18, 5}})) << "nothing changed: no status";
  r.stroke.SetColour(0x123456);
  before = r.events->WritePos();
  r.Stroke(5, 30);
  EXPECT_EQ(r.Headers(before), (Headers{{0, 16}, {23, 0}, {18, 5}}));
  const std::vector<uint8_t> s = r.Stream();
  // Colour as blue, green, red, then the kind and the opacity 1.0.
  EXPECT_EQ(std::vector<uint8_t>(s.begin() + before + 2, s.begin() + before + 10),
            (std::vector<uint8_t>{0x56, 0x34, 0x12, 0, 0, 0, 0x80, 0x3F}));
}

TEST(Recorder, UndoClearsTheStatusItAndANewStrokeOverwritesTheUndoneOne) {
  Recorder r;
  r.Stroke(3, 40);  // the pen's settings are in the stream
  r.stroke.SetColour(0xFF0000);
  const uint32_t before = r.events->WritePos();
  r.Stroke(5);
  const std::vector<uint8_t> first = r.Stream();
  ASSERT_TRUE(r.Undo());
  EXPECT_EQ(r.events->WritePos(), before);
  ASSERT_TRUE(r.Redo());
  EXPECT_EQ(r.Stream(), first) << "redo brings the same bytes back";
  ASSERT_TRUE(r.Undo());
  // Same settings, yet the colour is recorded again: its packet was undone.
  r.Stroke(4, 30);
  EXPECT_EQ(r.Headers(before), (Headers{{0, 16}, {23, 0}, {18, 4}}));
  EXPECT_FALSE(r.Redo());
  EXPECT_FALSE(r.paper.canRedo());
}

TEST(Recorder, AStrokeThatChangesNothingLeavesNoStep) {
  Recorder r;
  const std::vector<uint8_t> before = r.Stream();
  r.stroke.layerIndex = 0;
  StrokeSession session;
  BeginStrokeOffset(r.paper, r.flow, r.stroke, session, true, 1, -500, -500);
  EndStroke(r.paper, r.flow, r.stroke, session, true);
  EXPECT_EQ(r.Stream(), before);
  EXPECT_FALSE(r.paper.canUndo());
}

TEST(Recorder, TheHistoryHoldsTheUndoLimitAndThirtyFourMore) {
  Recorder r(10);
  for (int i = 0; i < 45; ++i) r.paper.setLayerOpacity(0, uint8_t(i), true);
  EXPECT_EQ(r.events->undoCount(), 44);
  EXPECT_EQ(r.events->StepCount(), 47);
  int undone = 0;
  while (r.events->undoStep()) ++undone;
  EXPECT_LT(undone, 47) << "the oldest steps can no longer be taken back";
  EXPECT_GE(undone, 42);
}

TEST(Recorder, SavingTwiceLeavesNoEndInTheLiveStream) {
  Recorder r;
  r.Stroke(3);
  const std::vector<uint8_t> live = r.Stream();
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(r.events->closeForSave());
    const std::vector<uint8_t> saved = r.Stream();
    ASSERT_EQ(saved.size(), live.size() + 2);
    EXPECT_EQ(saved[live.size()], 2);
    EXPECT_EQ(saved[live.size() + 1], 255);
    ASSERT_TRUE(r.events->reopenAfterSave());
    EXPECT_EQ(r.Stream(), live);
    EXPECT_TRUE(r.events->isRecording());
  }
  EXPECT_FALSE(r.events->reopenAfterSave()) << "only after a close";
}

TEST(Recorder, OnePacketOfEachFamilyHasItsBytes) {
  Recorder r;
  auto last = [&](uint32_t before) {
    const std::vector<uint8_t> s = r.Stream();
    // The command is the last packet: skip any status packets before it.
    size_t at = before;
    size_t lastAt = before;
    while (at < s.size()) {
      lastAt = at;
      at += 2 + size_t(packetPayloadSize(&s[at], s.size() - at));
    }
    return std::vector<uint8_t>(s.begin() + lastAt, s.end());
  };
  uint32_t b = r.events->WritePos();
  r.paper.setLayerOpacity(0, 100, true);
  EXPECT_EQ(last(b), (std::vector<uint8_t>{4, 17, 0, 0, 3, 100, 1, 0}));
  b = r.events->WritePos();
  r.paper.renameLayer(r.flow, 0, "abc", true);
  EXPECT_EQ(last(b), (std::vector<uint8_t>{4, 19, 0, 0, 4, 0, 'a', 'b', 'c', 0}));
  b = r.events->WritePos();
  r.paper.setPaperColor(0x0A0B0C, true);
  EXPECT_EQ(last(b), (std::vector<uint8_t>{2, 1, 0x0C, 0x0B, 0x0A, 0}));
  b = r.events->WritePos();
  r.paper.selectAll(true);
  EXPECT_EQ(last(b), (std::vector<uint8_t>{10, 20, 0, 0, 0, 0}));
  b = r.events->WritePos();
  r.paper.moveMaskOrigin(2, 3, true);
  EXPECT_EQ(last(b), (std::vector<uint8_t>{10, 8, 0, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0}));
  // The selection in use shows in the flags before the next command.
  EXPECT_EQ(r.Headers(b).front(), (std::pair<int, int>{0, 12}));
  TMTC img(2, 1);
  img.Row(0)[0] = 0xFF010203u;
  img.Row(0)[1] = 0x80040506u;
  b = r.events->WritePos();
  r.paper.pasteIntoLayer(r.flow, 0, img, true);
  EXPECT_EQ(last(b), (std::vector<uint8_t>{12, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 32, 0, 8, 0, 0, 0, 0, 0, 8, 0, 0, 0,
                                           3, 2, 1, 0xFF, 6, 5, 4, 0x80}));
}

// Every step of a random session keeps the stream and undo in step: the
// stream never has fewer steps than undo has records, and undoing a change
// gives back the very bytes the stream had before it.
TEST(Recorder, RandomSessionsKeepTheStreamInStepWithUndo) {
  for (uint32_t seed : {11u, 12u, 13u}) {
    SCOPED_TRACE(seed);
    Recorder r;
    test::RandomSession session(r.paper, r.flow, r.stroke, seed);
    std::mt19937 choose(seed);
    std::vector<std::vector<uint8_t>> streams{r.Stream()};
    size_t at = 0;
    for (int step = 0; step < 250; ++step) {
      const int what = int(choose() % 10);
      if (what < 2 && at > 0 && r.paper.canUndo()) {
        ASSERT_TRUE(r.Undo());
        --at;
        ASSERT_EQ(r.Stream(), streams[at]) << "step " << step;
      } else if (what < 3 && at + 1 < streams.size() && r.paper.canRedo()) {
        ASSERT_TRUE(r.Redo());
        ++at;
        ASSERT_EQ(r.Stream(), streams[at]) << "step " << step;
      } else {
        const int32_t before = r.manager->UndoCount();
        const std::vector<uint8_t> old = r.Stream();
        const char* name = session.Step();
        if (r.manager->UndoCount() == before) {
          ASSERT_EQ(r.Stream(), old) << name << " recorded without an undo record";
          continue;
        }
        streams.resize(at + 1);
        streams.push_back(r.Stream());
        ++at;
      }
      ASSERT_GE(r.events->EventCount(), r.manager->UndoCount());
      ASSERT_TRUE(r.events->isRecording());
    }
  }
}


// The program's language never reaches the stream: the same session records
// the same bytes in Korean and in English, layer and mask names included.
TEST(Recorder, TheSameSessionRecordsTheSameBytesInEitherLanguage) {
  std::vector<uint8_t> streams[2];
  const Language languages[2] = {Language::Korean, Language::English};
  for (int i = 0; i < 2; ++i) {
    setLanguage(languages[i]);
    Recorder r;
    // Dissolve seeds come from the clock.
    ScopedClock fixed(r.clock);
    test::RandomSession session(r.paper, r.flow, r.stroke, 21);
    for (int step = 0; step < 120; ++step) session.Step();
    streams[i] = r.Stream();
  }
  setLanguage(Language::Korean);
  EXPECT_GT(streams[0].size(), 1000u);
  EXPECT_EQ(streams[0], streams[1]);
}

}  // namespace
}  // namespace vl
