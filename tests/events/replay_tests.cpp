#include <gtest/gtest.h>

#include <cstdlib>

#include "events/event_manager.h"
#include "pixel/simd.h"
#include "platform/ui_services.h"
#include "support/random_session.h"
#include "undo/undo_manager.h"

namespace vl {
namespace {

// A paper that records, with undo, as a canvas window has.
struct Recording {
  explicit Recording(int32_t w = 72, int32_t h = 56) {
    auto rec = std::make_unique<CEventMngr>(paper);
    events = rec.get();
    EXPECT_TRUE(rec->start(&stroke, 999 + 34, 999 + 34));
    paper.setEventHook(std::move(rec));
    auto undo = std::make_unique<CUndoMngrEx>(paper, CUndoMngrEx::kSpare, 999, 999);
    manager = undo.get();
    paper.setUndoHook(std::move(undo));
    EXPECT_TRUE(paper.newPaper(flow, "live", 72, h, w));
  }
  std::vector<uint8_t> Stream() const {
    std::vector<uint8_t> s;
    events->writeStream(s);
    return s;
  }
  TPaper paper;
  TFlowImage flow{paper};
  TStroke stroke;
  CEventMngr* events = nullptr;
  CUndoMngrEx* manager = nullptr;
};

// A fresh paper that replays a stream, as a new canvas window does.
struct Replay {
  explicit Replay(const std::vector<uint8_t>& stream, int32_t steps) {
    auto rec = std::make_unique<CEventMngr>(paper);
    events = rec.get();
    rec->setRecordStroke(&stroke);
    EXPECT_TRUE(rec->loadStream(stream, steps, 17, 0));
    paper.setEventHook(std::move(rec));
    paper.setUndoHook(std::make_unique<CUndoMngrEx>(paper, CUndoMngrEx::kSpare, 999, 999));
  }
  int Open() { return events->openForPlayback(flow); }
  // Plays to the end; the last step result.
  int PlayAll() {
    int r = 0;
    for (int guard = 0; guard < 1000000 && (r = events->playStep()) == 0; ++guard) {
    }
    return r;
  }
  TPaper paper;
  TFlowImage flow{paper};
  TStroke stroke;
  CEventMngr* events = nullptr;
};

struct Picture {
  uint64_t document, composite;
  friend bool operator==(const Picture&, const Picture&) = default;
};
Picture pictureOf(const TPaper& p) { return {test::documentHash(p), test::compositeHash(p)}; }

// A seeded session with undos and redos in between; its picture and stream.
struct Session {
  Picture picture;
  std::vector<uint8_t> stream;
  int32_t steps = 0;
};
Session recordSession(uint32_t seed, int length) {
  Recording r;
  test::RandomSession session(r.paper, r.flow, r.stroke, seed);
  std::mt19937 choose(seed ^ 0x5eed);
  for (int i = 0; i < length; ++i) {
    const int what = int(choose() % 10);
    int32_t l;
    Area a;
    if (what == 0 && r.paper.canUndo()) {
      r.paper.undoStep(r.flow, l, a);
    } else if (what == 1 && r.paper.canRedo()) {
      r.paper.redoStep(r.flow, l, a);
    } else {
      session.Step();
    }
  }
  EXPECT_TRUE(r.events->isRecording());
  return {pictureOf(r.paper), r.Stream(), r.events->StepCount()};
}

Picture replayed(const Session& s, bool slow = false) {
  Replay p(s.stream, s.steps);
  EXPECT_EQ(p.Open(), 0);
  p.events->setSlow(slow);
  EXPECT_EQ(p.PlayAll(), 2);
  return pictureOf(p.paper);
}

// The heart of the program: a replayed drawing is the drawing.
TEST(Replay, RandomSessionsReplayToTheSamePicture) {
  ScopedUiCapture quiet;
  const char* env = std::getenv("VL_REPLAY_SESSIONS");
  const int sessions = env ? std::atoi(env) : 200;
  for (int i = 0; i < sessions; ++i) {
    const uint32_t seed = 1000 + uint32_t(i);
    SCOPED_TRACE(seed);
    const Session s = recordSession(seed, 120);
    ASSERT_EQ(replayed(s), s.picture);
  }
}

TEST(Replay, SlowReplayEqualsFastReplay) {
  ScopedUiCapture quiet;
  for (uint32_t seed : {7u, 8u, 9u}) {
    const Session s = recordSession(seed, 80);
    EXPECT_EQ(replayed(s, true), s.picture) << seed;
  }
}

TEST(Replay, AStreamMustBeginWithItsPaper) {
  ScopedUiCapture quiet;
  const Session s = recordSession(3, 10);
  // Without the version status and the paper packet.
  std::vector<uint8_t> cut(s.stream.begin() + 14 + 30, s.stream.end());
  Replay p(cut, s.steps - 1);
  EXPECT_EQ(p.Open(), 1);
}

TEST(Replay, ReachingTheWrittenEndIsTheEndEvenWithoutAnEndPacket) {
  ScopedUiCapture quiet;
  const Session s = recordSession(4, 30);
  Replay p(s.stream, s.steps);
  ASSERT_EQ(p.Open(), 0);
  EXPECT_EQ(p.PlayAll(), 2);
  EXPECT_EQ(pictureOf(p.paper), s.picture);
  EXPECT_FLOAT_EQ(p.events->progress(), 100.0f);
}

// Stopped at step k, recording goes on from there: the new stream replays
// to the picture the resumed paper shows.
TEST(Replay, StopResumeRecordMoreAndReplayAgain) {
  ScopedUiCapture quiet;
  const Session s = recordSession(5, 60);
  Replay p(s.stream, s.steps);
  ASSERT_EQ(p.Open(), 0);
  for (int i = 0; i < s.steps / 2; ++i) ASSERT_EQ(p.events->playStep(), 0);
  ASSERT_TRUE(p.events->resumeRecording(true));
  ASSERT_TRUE(p.events->isRecording());
  test::RandomSession more(p.paper, p.flow, p.stroke, 77);
  for (int i = 0; i < 40; ++i) more.Step();
  std::vector<uint8_t> stream;
  ASSERT_TRUE(p.events->writeStream(stream));
  const Session again{pictureOf(p.paper), stream, p.events->StepCount()};
  EXPECT_EQ(replayed(again), again.picture);
}

TEST(Replay, AStreamThatEndsIsResumedWithoutItsEnd) {
  ScopedUiCapture quiet;
  Recording r;
  test::RandomSession session(r.paper, r.flow, r.stroke, 21);
  for (int i = 0; i < 20; ++i) session.Step();
  ASSERT_TRUE(r.events->closeForSave());
  std::vector<uint8_t> saved = r.Stream();
  Replay p(saved, r.events->StepCount());
  ASSERT_EQ(p.Open(), 0);
  ASSERT_EQ(p.PlayAll(), 2);
  ASSERT_TRUE(p.events->resumeRecording(false));
  std::vector<uint8_t> resumed;
  p.events->writeStream(resumed);
  // The end packet went; recording started again after it.
  ASSERT_GE(resumed.size(), saved.size() - 2);
  EXPECT_TRUE(std::equal(saved.begin(), saved.end() - 2, resumed.begin()));
  EXPECT_LE(resumed[saved.size() - 2], 1) << "a status or info packet, not the old end";
}

// Broken streams end the replay with an error, never anything worse; the
// fuzzer goes further.
TEST(Replay, BrokenPacketsAreErrors) {
  ScopedUiCapture quiet;
  const Session s = recordSession(6, 25);
  std::mt19937 rng(6);
  for (int trial = 0; trial < 60; ++trial) {
    std::vector<uint8_t> bad = s.stream;
    // Damage a few bytes after the paper's first step.
    for (int k = 0; k < 3; ++k) bad[44 + rng() % (bad.size() - 44)] = uint8_t(rng());
    if (trial % 3 == 0) bad.resize(44 + rng() % (bad.size() - 44));
    Replay p(bad, s.steps);
    if (p.Open() != 0) continue;
    const int r = p.PlayAll();
    EXPECT_TRUE(r == 2 || r == 3);
  }
}

}  // namespace
}  // namespace vl

namespace vl {
namespace {

// Seeded sessions hashed into one number: any change of arithmetic anywhere
// in the paper's operations shows here. The value is the same with the
// vector kernels on and off.
uint64_t goldenSessions() {
  test::Fnv all;
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    const Session s = recordSession(seed, 90);
    all.value(s.picture.document);
    all.value(s.picture.composite);
  }
  return all.h;
}

constexpr uint64_t kGoldenSessions = 6234198758466098917ull;

TEST(Replay, GoldenSessionsWithAndWithoutVectorKernels) {
  ScopedUiCapture quiet;
  const SimdLevel before = simdLevel();
  const uint64_t withVectors = goldenSessions();
  setSimdLevel(SimdLevel::None);
  const uint64_t without = goldenSessions();
  setSimdLevel(before);
  EXPECT_EQ(withVectors, without);
  EXPECT_EQ(withVectors, kGoldenSessions) << std::hex << withVectors;
}

}  // namespace
}  // namespace vl
