#include "pixel/containers.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace vl {
namespace {

// ---- item, grid and point arrays ----

TEST(ItemArray, SetupKeepsOverlapAndZeroesTheRest) {
  CItemArray a;
  ASSERT_TRUE(a.Setup(4, 2));
  a.As<uint32_t>()[0] = 11;
  a.As<uint32_t>()[1] = 22;
  ASSERT_TRUE(a.Setup(4, 3));
  EXPECT_EQ(a.Count(), 3);
  EXPECT_EQ(a.As<uint32_t>()[0], 11u);
  EXPECT_EQ(a.As<uint32_t>()[1], 22u);
  EXPECT_EQ(a.As<uint32_t>()[2], 0u);
  ASSERT_TRUE(a.Setup(4, 1));
  EXPECT_EQ(a.As<uint32_t>()[0], 11u);
}

TEST(ItemArray, SetupWithSameCountKeepsTheBuffer) {
  CItemArray a;
  ASSERT_TRUE(a.Setup(8, 5));
  a.Fill(0xAB);
  const uint8_t* before = a.Data();
  ASSERT_TRUE(a.Setup(8, 5));
  EXPECT_EQ(a.Data(), before);
  EXPECT_EQ(a.Item(4)[7], 0xAB);
}

TEST(ItemArray, SetupWithOtherItemSizeDropsContents) {
  CItemArray a;
  ASSERT_TRUE(a.Setup(4, 4));
  a.Fill(0xFF);
  ASSERT_TRUE(a.Setup(2, 8));
  EXPECT_EQ(a.ItemSize(), 2);
  EXPECT_EQ(a.Bytes(), 16);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(a.Data()[i], 0) << i;
}

TEST(ItemArray, ResizeKeepsBytesAcrossItemSizes) {
  CItemArray a;
  ASSERT_TRUE(a.Setup(1, 6));
  for (int i = 0; i < 6; ++i) a.Data()[i] = uint8_t(i + 1);
  ASSERT_TRUE(a.Resize(4, 1));
  EXPECT_EQ(a.Bytes(), 4);
  EXPECT_EQ(a.Data()[3], 4);
  ASSERT_TRUE(a.Resize(4, 3));
  EXPECT_EQ(a.Data()[3], 4);
  EXPECT_EQ(a.Data()[4], 0);
}

TEST(ItemArray, ZeroCountLeavesNoBuffer) {
  CItemArray a;
  ASSERT_TRUE(a.Setup(4, 3));
  ASSERT_TRUE(a.Setup(4, 0));
  EXPECT_TRUE(a.Empty());
  EXPECT_EQ(a.Count(), 0);
}

struct BadShape {
  int32_t itemSize, count;
};
class ItemArrayRefuses : public testing::TestWithParam<BadShape> {};

TEST_P(ItemArrayRefuses, AndStaysAsItWas) {
  CItemArray a;
  ASSERT_TRUE(a.Setup(4, 2));
  a.Fill(7);
  EXPECT_FALSE(a.Setup(GetParam().itemSize, GetParam().count));
  EXPECT_FALSE(a.Resize(GetParam().itemSize, GetParam().count));
  EXPECT_EQ(a.Count(), 2);
  EXPECT_EQ(a.ItemSize(), 4);
  EXPECT_EQ(a.Data()[7], 7);
}

INSTANTIATE_TEST_SUITE_P(Shapes, ItemArrayRefuses,
                         testing::Values(BadShape{4, -1}, BadShape{0, 3}, BadShape{-4, 3}, BadShape{-4, -3},
                                         BadShape{INT32_MAX, INT32_MAX}, BadShape{65536, 65536},
                                         BadShape{1 << 20, 1 << 12}));

TEST(ItemArray, DetachAndAdopt) {
  CItemArray a, b;
  ASSERT_TRUE(a.Setup(4, 3));
  a.Fill(5);
  ASSERT_TRUE(b.Setup(4, 1));
  EXPECT_FALSE(b.Adopt(a));  // b already has a buffer
  b.Free();
  ASSERT_TRUE(b.Adopt(a));
  EXPECT_TRUE(a.Empty());
  EXPECT_EQ(a.Count(), 0);
  EXPECT_EQ(b.Count(), 3);
  EXPECT_EQ(b.Data()[11], 5);

  Block taken = b.Detach();
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken[11], 5);
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.Count(), 0);
}

TEST(GridArray, CellsAreRowAfterRow) {
  CGridArray g;
  ASSERT_TRUE(g.Setup(4, 3, 2));
  EXPECT_EQ(g.CellCount(), 6);
  g.At<int32_t>(2, 1) = -9;
  EXPECT_EQ(reinterpret_cast<int32_t*>(g.Data())[5], -9);
  EXPECT_EQ(g.Cell(0, 1), g.Data() + 12);
}

TEST(GridArray, RefusesBadShapes) {
  CGridArray g;
  ASSERT_TRUE(g.Setup(1, 2, 2));
  EXPECT_FALSE(g.Setup(1, -1, 4));
  EXPECT_FALSE(g.Setup(1, 4, -1));
  EXPECT_FALSE(g.Setup(1, 65536, 65536));  // cell count past int32
  EXPECT_FALSE(g.Setup(4, 30000, 30000));  // bytes past the block limit
  EXPECT_EQ(g.Width(), 2);
  EXPECT_EQ(g.Height(), 2);
}

TEST(GridArray, AdoptTakesShape) {
  CGridArray a, b;
  ASSERT_TRUE(a.Setup(2, 5, 7));
  ASSERT_TRUE(b.Adopt(a));
  EXPECT_EQ(b.Width(), 5);
  EXPECT_EQ(b.Height(), 7);
  EXPECT_EQ(a.Width(), 0);
  EXPECT_TRUE(a.Empty());
  EXPECT_FALSE(b.Adopt(a));
}

TEST(PointArray, ResizeKeepsPointsAndAdoptMoves) {
  CPointArray p;
  ASSERT_TRUE(p.Setup(2));
  p[0] = {1, 2};
  p[1] = {-3, 4};
  ASSERT_TRUE(p.Resize(3));
  EXPECT_EQ(p[1], (Point{-3, 4}));
  EXPECT_EQ(p[2], (Point{0, 0}));
  CPointArray q;
  ASSERT_TRUE(q.Adopt(p));
  EXPECT_TRUE(p.Empty());
  std::vector<Point> seen(q.begin(), q.end());
  EXPECT_EQ(seen, (std::vector<Point>{{1, 2}, {-3, 4}, {0, 0}}));
}

// ---- CDynStack ----

TEST(DynStack, FullStackSetsOverflowAndKeepsDepth) {
  CDynStack<Point> s(2);
  EXPECT_TRUE(s.Push({1, 1}));
  EXPECT_TRUE(s.Push({2, 2}));
  EXPECT_FALSE(s.Overflowed());
  EXPECT_FALSE(s.Push({3, 3}));
  EXPECT_TRUE(s.Overflowed());
  EXPECT_EQ(s.Depth(), 2);

  Point p;
  ASSERT_TRUE(s.Pop(p));
  EXPECT_EQ(p, (Point{2, 2}));
  ASSERT_TRUE(s.Pop(p));
  EXPECT_EQ(p, (Point{1, 1}));
  EXPECT_FALSE(s.Pop(p));
  EXPECT_TRUE(s.Overflowed());  // only Reset clears it
}

TEST(DynStack, ResetEmptiesAndClearsOverflow) {
  CDynStack<int32_t> s(1);
  s.Push(1);
  s.Push(2);
  s.Reset();
  EXPECT_EQ(s.Depth(), 0);
  EXPECT_FALSE(s.Overflowed());
  int32_t v = 0;
  EXPECT_FALSE(s.Pop(v));
  EXPECT_TRUE(s.Push(7));
  ASSERT_TRUE(s.Pop(v));
  EXPECT_EQ(v, 7);
}

TEST(DynStack, NoCapacityOverflowsAtOnce) {
  for (int32_t capacity : {0, -5}) {
    CDynStack<int32_t> s(capacity);
    EXPECT_FALSE(s.IsReady());
    EXPECT_FALSE(s.Push(1));
    EXPECT_TRUE(s.Overflowed());
  }
}

// ---- CRingBuf ----

// A ring of int32 items with readable helpers.
class RingBuf : public testing::Test {
 protected:
  CRingBuf ring{4};
  void push(int32_t v) { ASSERT_TRUE(ring.Push(&v)); }
  void pushAll(std::initializer_list<int32_t> vs) {
    for (int32_t v : vs) push(v);
  }
  // Everything behind the cursor (oldest first, cursor last), then everything ahead.
  std::vector<int32_t> contents() {
    std::vector<int32_t> out;
    int32_t v;
    for (int32_t k = -(ring.BackCount() - 1); k <= ring.ForwardCount(); ++k) {
      EXPECT_TRUE(ring.PeekAt(k, &v)) << k;
      out.push_back(v);
    }
    return out;
  }
};

TEST_F(RingBuf, KeepsTheLastBackCapacityItems) {
  ASSERT_TRUE(ring.Setup(4, 3, 3));
  pushAll({1, 2, 3, 4, 5});
  EXPECT_EQ(ring.BackCount(), 3);
  EXPECT_EQ(contents(), (std::vector<int32_t>{3, 4, 5}));
  int32_t v;
  EXPECT_FALSE(ring.PeekAt(-3, &v));
  EXPECT_TRUE(ring.StepBack());
  EXPECT_TRUE(ring.StepBack());
  EXPECT_TRUE(ring.StepBack());
  EXPECT_FALSE(ring.StepBack());
  EXPECT_EQ(ring.ForwardCount(), 3);
  EXPECT_FALSE(ring.Peek(&v));
  ASSERT_TRUE(ring.PeekAt(1, &v));
  EXPECT_EQ(v, 3);
  ASSERT_TRUE(ring.PeekAt(3, &v));
  EXPECT_EQ(v, 5);
  EXPECT_FALSE(ring.PeekAt(4, &v));
}

TEST_F(RingBuf, StepsBackAndForward) {
  ASSERT_TRUE(ring.Setup(4, 4, 4));
  pushAll({10, 20, 30});
  ASSERT_TRUE(ring.StepBack());
  int32_t v;
  ASSERT_TRUE(ring.Peek(&v));
  EXPECT_EQ(v, 20);
  ASSERT_TRUE(ring.StepForward());
  ASSERT_TRUE(ring.Peek(&v));
  EXPECT_EQ(v, 30);
  EXPECT_FALSE(ring.StepForward());
}

TEST_F(RingBuf, PushAfterStepBackDiscardsWhatIsAhead) {
  ASSERT_TRUE(ring.Setup(4, 4, 4));
  pushAll({1, 2, 3});
  ring.StepBack();
  ring.StepBack();
  push(9);
  EXPECT_EQ(ring.ForwardCount(), 0);
  EXPECT_FALSE(ring.StepForward());
  EXPECT_EQ(contents(), (std::vector<int32_t>{1, 9}));
}

TEST_F(RingBuf, WriteCurrentDropAndTakeForward) {
  ASSERT_TRUE(ring.Setup(4, 3, 3));
  int32_t v = 7;
  ASSERT_TRUE(ring.WriteCurrent(&v));  // an empty ring stores in place
  EXPECT_EQ(ring.BackCount(), 1);
  pushAll({8, 9});
  v = 99;
  ring.WriteCurrent(&v);
  EXPECT_EQ(contents(), (std::vector<int32_t>{7, 8, 99}));

  ring.StepBack();
  ASSERT_TRUE(ring.Drop());  // drops 8 and forgets 99 ahead
  EXPECT_EQ(contents(), (std::vector<int32_t>{7}));

  push(1);
  ring.StepBack();
  EXPECT_EQ(ring.TakeForward(), 1);
  EXPECT_EQ(ring.ForwardCount(), 0);
  ASSERT_TRUE(ring.Drop());
  EXPECT_FALSE(ring.Drop());
}

TEST_F(RingBuf, WriteCurrentWithoutSpareSlotNeverOverlapsItemsAhead) {
  ASSERT_TRUE(ring.Setup(4, 3, 0));
  pushAll({1, 2, 3});
  while (ring.StepBack()) {
  }
  int32_t v = 9;
  ring.WriteCurrent(&v);  // lands in the slot that held 3
  EXPECT_EQ(contents(), (std::vector<int32_t>{9, 1, 2}));
}

TEST_F(RingBuf, RebuildAfterWrapKeepsBothSidesInOrder) {
  ASSERT_TRUE(ring.Setup(4, 4, 4));
  for (int32_t i = 1; i <= 11; ++i) push(i);  // wraps the 8 slots
  ring.StepBack();
  ring.StepBack();
  EXPECT_EQ(contents(), (std::vector<int32_t>{8, 9, 10, 11}));

  ASSERT_TRUE(ring.Rebuild(6, 6));
  EXPECT_EQ(ring.BackCount(), 2);
  EXPECT_EQ(ring.ForwardCount(), 2);
  EXPECT_EQ(contents(), (std::vector<int32_t>{8, 9, 10, 11}));
  for (int32_t i = 12; i <= 20; ++i) push(i);  // wraps the new buffer
  EXPECT_EQ(contents(), (std::vector<int32_t>{15, 16, 17, 18, 19, 20}));
  ring.StepBack();

  ASSERT_TRUE(ring.Rebuild(2, 1));  // most recent behind, nearest ahead
  EXPECT_EQ(contents(), (std::vector<int32_t>{18, 19, 20}));
  ASSERT_TRUE(ring.StepForward());
  EXPECT_EQ(contents(), (std::vector<int32_t>{18, 19, 20}));
  push(21);
  EXPECT_EQ(contents(), (std::vector<int32_t>{20, 21}));
}

TEST_F(RingBuf, RebuildRefusals) {
  ASSERT_TRUE(ring.Setup(4, 3, 3));
  EXPECT_FALSE(ring.Rebuild(0, 3));
  EXPECT_FALSE(ring.Rebuild(3, -1));
  EXPECT_FALSE(ring.Rebuild(INT32_MAX, INT32_MAX));
  pushAll({1, 2});
  ring.StepBack();
  ring.StepBack();
  EXPECT_FALSE(ring.Rebuild(4, 4));  // items ahead, none behind
  EXPECT_TRUE(ring.Rebuild(3, 3));   // unchanged capacities
  EXPECT_TRUE(ring.Rebuild(4, 0));   // nothing ahead is kept
  EXPECT_EQ(ring.ForwardCount(), 0);
  EXPECT_EQ(ring.BackCount(), 0);
}

TEST_F(RingBuf, SetupRefusalsAndRelease) {
  int32_t v = 1;
  EXPECT_FALSE(ring.IsReady());
  EXPECT_FALSE(ring.Push(&v));
  EXPECT_FALSE(ring.Setup(0, 3, 3));
  EXPECT_FALSE(ring.Setup(4, 0, 3));
  EXPECT_FALSE(ring.Setup(4, 3, -1));
  EXPECT_FALSE(ring.Setup(4, INT32_MAX, INT32_MAX));
  ASSERT_TRUE(ring.Setup(4, 1, 0));
  push(5);
  push(6);
  EXPECT_EQ(contents(), (std::vector<int32_t>{6}));
  ring.Reset();
  EXPECT_FALSE(ring.Peek(&v));
  ring.Release();
  EXPECT_FALSE(ring.IsReady());
  EXPECT_FALSE(ring.Push(&v));
}

TEST(RingBufDWORD, StoresStepEnds) {
  CRingBufDWORD r;
  ASSERT_TRUE(r.Setup(44, 44));
  EXPECT_EQ(r.Current(), 0u);
  ASSERT_TRUE(r.WriteCurrentValue(0));
  r.PushValue(120);
  r.PushValue(300);
  EXPECT_EQ(r.Current(), 300u);
  uint32_t v = 0;
  ASSERT_TRUE(r.PeekAt(-2, v));
  EXPECT_EQ(v, 0u);
  r.StepBack();
  ASSERT_TRUE(r.PeekAt(1, v));
  EXPECT_EQ(v, 300u);
  EXPECT_EQ(r.Current(), 120u);
}

// ---- CMemSeg ----

struct SegCase {
  int32_t offset, length, expected;
};
class MemSegClamp : public testing::TestWithParam<SegCase> {};

TEST_P(MemSegClamp, WriteAndReadStayInside) {
  const SegCase& c = GetParam();
  CMemSeg seg(16);
  ASSERT_TRUE(seg.IsValid());
  std::vector<uint8_t> src(64, 0x5A);
  EXPECT_EQ(seg.Write(src.data(), c.offset, c.length), c.expected);
  for (int32_t i = 0; i < 16; ++i) {
    bool written = c.expected > 0 && i >= c.offset && i < c.offset + c.expected;
    EXPECT_EQ(seg.Data()[i], written ? 0x5A : 0) << i;
  }
  std::vector<uint8_t> dst(64, 0);
  EXPECT_EQ(seg.Read(dst.data(), c.offset, c.length), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Ranges, MemSegClamp,
                         testing::Values(SegCase{14, 10, 2}, SegCase{0, 16, 16}, SegCase{3, 4, 4},
                                         SegCase{15, INT32_MAX, 1}, SegCase{16, 1, 0}, SegCase{INT32_MAX, 1, 0},
                                         SegCase{-1, 4, 0}, SegCase{INT32_MIN, 8, 0}, SegCase{0, -1, 0},
                                         SegCase{4, 0, 0}));

TEST(MemSeg, WithoutBlockNothingMoves) {
  uint8_t b[4] = {};
  for (int32_t size : {0, -8}) {
    CMemSeg seg(size);
    EXPECT_FALSE(seg.IsValid());
    EXPECT_EQ(seg.Write(b, 0, 4), 0);
  }
  CMemSeg seg(8);
  seg.Release();
  EXPECT_FALSE(seg.IsValid());
  EXPECT_EQ(seg.Size(), 0);
  EXPECT_EQ(seg.Read(b, 0, 4), 0);
}

// ---- CFixedMemStream ----

TEST(FixedMemStream, LittleAndBigEndianReaders) {
  const uint8_t bytes[] = {0x42, 0x4D, 0x78, 0x56, 0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF, 0x00, 0x01, 0x01, 0x02, 0x03, 0x04};
  CFixedMemStream s(bytes, sizeof bytes);
  uint16_t u16;
  uint32_t u32;
  int32_t i32;
  ASSERT_TRUE(s.ReadU16(u16));
  EXPECT_EQ(u16, 0x4D42);
  ASSERT_TRUE(s.ReadU32(u32));
  EXPECT_EQ(u32, 0x12345678u);
  ASSERT_TRUE(s.ReadI32(i32));
  EXPECT_EQ(i32, -2);
  ASSERT_TRUE(s.ReadU16BE(u16));
  EXPECT_EQ(u16, 0x0001);
  ASSERT_TRUE(s.ReadU32BE(u32));
  EXPECT_EQ(u32, 0x01020304u);
  EXPECT_EQ(s.Remaining(), 0);
}

TEST(FixedMemStream, ShortReadFailsWithoutMoving) {
  const uint8_t bytes[] = {1, 2, 3};
  CFixedMemStream s(bytes, sizeof bytes);
  ASSERT_TRUE(s.Skip(1));
  uint32_t u32 = 77;
  EXPECT_FALSE(s.ReadU32(u32));
  EXPECT_EQ(u32, 77u);
  EXPECT_EQ(s.Position(), 1);
  uint8_t out[8] = {};
  EXPECT_EQ(s.Read(out, 8), 2);  // plain reads take what is there
  EXPECT_EQ(out[1], 3);
  EXPECT_EQ(s.Read(out, 8), 0);
}

TEST(FixedMemStream, SeekStaysInside) {
  const uint8_t bytes[10] = {};
  CFixedMemStream s(bytes, sizeof bytes);
  EXPECT_TRUE(s.Seek(10));
  EXPECT_FALSE(s.Seek(11));
  EXPECT_FALSE(s.Seek(-1));
  EXPECT_TRUE(s.Seek(-4, SeekFrom::End));
  EXPECT_EQ(s.Position(), 6);
  EXPECT_FALSE(s.Seek(5, SeekFrom::Current));
  EXPECT_FALSE(s.Seek(INT64_MAX, SeekFrom::Current));
  EXPECT_FALSE(s.Seek(INT64_MIN, SeekFrom::End));
  EXPECT_EQ(s.Position(), 6);
}

TEST(FixedMemStream, WritesNeverGrowPastTheEnd) {
  uint8_t bytes[6] = {};
  const uint8_t src[] = {9, 9, 9, 9};
  CFixedMemStream s(static_cast<void*>(bytes), sizeof bytes);
  ASSERT_TRUE(s.Seek(4));
  EXPECT_EQ(s.Write(src, 4), 2);
  EXPECT_EQ(s.Size(), 6);
  EXPECT_EQ(bytes[3], 0);
  EXPECT_EQ(bytes[5], 9);
  EXPECT_EQ(s.Write(src, 1), 0);

  CFixedMemStream readOnly(static_cast<const void*>(bytes), sizeof bytes);
  EXPECT_EQ(readOnly.Write(src, 1), 0);
}

}  // namespace
}  // namespace vl
