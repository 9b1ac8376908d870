#include "events/oldest_stream.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "events/event_files.h"
#include "shell/test_process.h"
#include "support/oldest_builder.h"

namespace vl {
namespace {

using oldest::StreamFault;
using test::OldestBuilder;

OldestBuilder paper40() {
  OldestBuilder b;
  b.newPaper(40, 30);
  return b;
}

// A stream of `operations` packets: a paper, then layer selections.
OldestBuilder operations(size_t count) {
  OldestBuilder b = paper40();
  for (size_t i = 1; i < count; ++i) b.op(273, 0);
  return b;
}

std::vector<uint8_t> withoutLast(std::vector<uint8_t> b) {
  b.pop_back();
  return b;
}

TEST(OldestStream, TheWalkRefusesWhatItCannotTrust) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    StreamFault fault;
  } cases[] = {
      {"no bytes", {}, StreamFault::Empty},
      {"one byte", {0x00}, StreamFault::Empty},
      {"only the end code", OldestBuilder().end().bytes, StreamFault::Empty},
      {"a layer first", OldestBuilder().op(273, 0).newPaper(8, 8).bytes, StreamFault::NotPaperFirst},
      {"a resize first", OldestBuilder().code(515).u16(8).u16(8).bytes, StreamFault::NotPaperFirst},
      {"a marker first", OldestBuilder().markers({0}).newPaper(8, 8).bytes, StreamFault::NotPaperFirst},
      {"a payload past the end", paper40().code(275).u8(0).bytes, StreamFault::Truncated},
      {"the paper's own payload short", withoutLast(OldestBuilder().newPaper(8, 8).bytes), StreamFault::Truncated},
      {"a stroke's points past the end",
       withoutLast(paper40().stroke(0, 0, 0, 0, 2, {{1, 1, 1}, {5, 5, 1}}).bytes), StreamFault::Truncated},
      {"a stroke without its count", paper40().code(0).u8(0).u32(0).u32(0).u32(0).u32(0).u32(0).bytes,
       StreamFault::Truncated},
      {"polygon corners past the end", paper40().code(297).u8(0).u16(3).u32(0).u32(0).bytes, StreamFault::Truncated},
      {"second polygon corners past the end", paper40().code(304).u32(0).u16(1).u16(0).bytes, StreamFault::Truncated},
      {"an unknown code", paper40().code(600).bytes, StreamFault::UnknownCode},
      {"a seventeenth marker", paper40().code(784).bytes, StreamFault::UnknownCode},
      {"brush kind 5", paper40().stroke(5, 0, 0, 0, 2, {{1, 1, 1}}).bytes, StreamFault::UnknownCode},
      {"a paper of width 0", OldestBuilder().newPaper(0, 8).bytes, StreamFault::PaperSize},
      {"a paper 10001 high", OldestBuilder().newPaper(8, 10001).bytes, StreamFault::PaperSize},
      {"a canvas size of 20000", paper40().code(514).u16(20000).u16(8).u8(0).bytes, StreamFault::PaperSize},
      {"a resize to 0", paper40().code(515).u16(8).u16(0).bytes, StreamFault::PaperSize},
  };
  for (const Case& c : cases) {
    TEventPacket s;
    EXPECT_FALSE(s.Load(c.bytes)) << c.name;
    EXPECT_EQ(s.Fault(), c.fault) << c.name;
    EXPECT_EQ(s.Count(), 0u) << c.name;
  }
  // The end code, or fewer than two bytes left, ends the walk well.
  auto plus = [](std::vector<uint8_t> b, std::initializer_list<uint8_t> more) {
    b.insert(b.end(), more);
    return b;
  };
  struct Accepted {
    const char* name;
    std::vector<uint8_t> bytes;
    size_t count;
  } accepted[] = {
      {"anything after the end code", plus(paper40().op(273, 0).end().bytes, {0x58, 0x02, 0x01}), 2},
      {"no end code", paper40().op(273, 0).bytes, 2},
      {"one byte left over", plus(paper40().op(273, 0).bytes, {0x07}), 2},
      {"the second new-paper form", OldestBuilder().newPaper(10000, 10000, 520).end().bytes, 1},
  };
  for (const Accepted& a : accepted) {
    TEventPacket s;
    EXPECT_TRUE(s.Load(a.bytes)) << a.name;
    EXPECT_EQ(s.Fault(), StreamFault::None) << a.name;
    EXPECT_EQ(s.Count(), a.count) << a.name;
  }
}

// Every code with the payload the table gives it, in one stream.
TEST(OldestStream, PayloadSizesFollowTheCode) {
  struct Fixed {
    uint16_t code;
    uint32_t size;
  } fixed[] = {{256, 1}, {257, 1}, {258, 0}, {259, 1}, {260, 2}, {261, 1}, {272, 1}, {273, 1}, {274, 2},
               {275, 2}, {276, 2}, {277, 1}, {288, 1}, {289, 1}, {290, 1}, {291, 1}, {292, 1}, {293, 4},
               {294, 5}, {295, 9}, {296, 12}, {305, 27}, {513, 3}, {514, 5}, {515, 4}, {516, 0}, {517, 0},
               {518, 0}, {519, 1}, {528, 0}, {529, 0}, {530, 0}, {531, 0}, {768, 0}, {783, 0}};
  OldestBuilder b = paper40();
  std::vector<uint32_t> sizes = {4};
  for (const Fixed& f : fixed) {
    b.code(f.code);
    // Sizes of the paper packets must be sound; the rest may be anything.
    if (f.code == 514 || f.code == 515) {
      b.u16(20).u16(10);
      if (f.code == 514) b.u8(0);
    } else {
      for (uint32_t i = 0; i < f.size; ++i) b.u8(0x5A);
    }
    sizes.push_back(f.size);
  }
  b.stroke(3, 0, 0x102030, 7, 2, {{1, 2, 0.5f}, {3, 4, 1}, {5, 6, 0}});
  sizes.push_back(17 + 6 + 2 + 2 * 6);
  b.code(297).u8(1).u16(2).u32(0).u32(0);
  sizes.push_back(1 + 2 + 2 * 4);
  b.code(304).u32(0).u16(3).u32(0).u32(0).u32(0);
  sizes.push_back(4 + 2 + 3 * 4);
  b.end();
  TEventPacket s;
  ASSERT_TRUE(s.Load(b.bytes));
  ASSERT_EQ(s.Count(), sizes.size());
  for (size_t i = 0; i < sizes.size(); ++i) EXPECT_EQ(s.At(i).size, sizes[i]) << s.At(i).code;
  EXPECT_EQ(s.Markers(), 0x8001);
  EXPECT_FALSE(s.IsProtected());
  EXPECT_EQ(s.OperationCount(), sizes.size() - 2);
}

TEST(OldestStream, PaperPacketsRaiseTheRecordedLargestPaper) {
  TEventPacket s;
  ASSERT_TRUE(s.Load(paper40().code(515).u16(100).u16(20).code(514).u16(50).u16(60).u8(4).newPaper(8, 8, 520).bytes));
  EXPECT_EQ(s.MaxWidth(), 100);
  EXPECT_EQ(s.MaxHeight(), 60);
}

TEST(OldestStream, AllSixteenMarkersMakeAStreamProtected) {
  struct Case {
    const char* name;
    std::initializer_list<int> markers;
    bool isProtected;
  } cases[] = {
      {"all sixteen", {3, 0, 15, 1, 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}, true},
      {"fifteen", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}, false},
      {"fifteen, one of them twice", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 14}, false},
      {"none", {}, false},
  };
  for (const Case& c : cases) {
    OldestBuilder b = paper40();
    for (int m : c.markers) b.op(273, 0).markers({m});
    TEventPacket s;
    ASSERT_TRUE(s.Load(b.end().bytes)) << c.name;
    EXPECT_EQ(s.IsProtected(), c.isProtected) << c.name;
    EXPECT_EQ(s.OperationCount(), 1 + c.markers.size()) << c.name;
  }
}

// The codes of a stream's packets other than the markers, with their payloads.
std::vector<std::vector<uint8_t>> operationsOf(const TEventPacket& s) {
  std::vector<std::vector<uint8_t>> out;
  for (size_t i = 0; i < s.Count(); ++i) {
    const OldestPacket& p = s.At(i);
    if (oldest::isMarker(p.code)) continue;
    std::vector<uint8_t> v = {uint8_t(p.code), uint8_t(p.code >> 8)};
    v.insert(v.end(), s.Payload(p), s.Payload(p) + p.size);
    out.push_back(v);
  }
  return out;
}

TEST(OldestStream, ProtectionNeedsFortyEightPacketsAndSpreadsTheMarkers) {
  test::TempDir dir;
  TEventPacket short47, long48;
  ASSERT_TRUE(short47.Load(operations(47).end().bytes));
  std::vector<uint8_t> out;
  EXPECT_FALSE(short47.Encode(true, 1, out));
  EXPECT_EQ(writeOldestStream(dir.file("s.wpe"), short47, true, 1), kEventFilePacket);
  EXPECT_FALSE(test::fileExists(dir.file("s.wpe")));
  // Without protection it is written as it is.
  ASSERT_EQ(writeOldestStream(dir.file("s.wpe"), short47, false, 1), kEventFileOk);
  EXPECT_EQ(test::readFile(dir.file("s.wpe")), std::string(reinterpret_cast<const char*>(operations(47).end().bytes.data()), operations(47).end().bytes.size()));

  // 48 packets with markers of their own: those go, sixteen new ones come,
  // one before every 48 ÷ 18 = 2nd packet, never before the paper.
  OldestBuilder b = operations(48);
  b.markers({5, 5, 9}).end();
  ASSERT_TRUE(long48.Load(b.bytes));
  ASSERT_EQ(writeOldestStream(dir.file("p.wpe"), long48, true, 1234), kEventFileOk);
  TEventPacket back;
  ASSERT_EQ(readOldestStream(dir.file("p.wpe"), back), kEventFileOk);
  EXPECT_TRUE(back.IsProtected());
  EXPECT_EQ(back.Count(), 48u + 16u);
  EXPECT_EQ(back.At(0).code, oldest::kNewPaper);
  EXPECT_EQ(operationsOf(back), operationsOf(long48));
  std::vector<size_t> before;  // the operation each marker precedes
  size_t ops = 0;
  for (size_t i = 0; i < back.Count(); ++i) {
    if (oldest::isMarker(back.At(i).code)) {
      before.push_back(ops);
    } else {
      ++ops;
    }
  }
  ASSERT_EQ(before.size(), 16u);
  for (size_t k = 0; k < 16; ++k) EXPECT_EQ(before[k], 2 * (k + 1));
  // The order of the markers comes from the seed.
  std::vector<uint8_t> a, again, other;
  ASSERT_TRUE(long48.Encode(true, 1234, a));
  ASSERT_TRUE(long48.Encode(true, 1234, again));
  ASSERT_TRUE(long48.Encode(true, 99, other));
  EXPECT_EQ(a, again);
  EXPECT_NE(a, other);
  EXPECT_EQ(a.size(), other.size());
}

TEST(OldestStream, FilesGiveTheirCodes) {
  test::TempDir dir;
  auto write = [&](const char* name, const std::vector<uint8_t>& bytes) {
    std::ofstream(dir.file(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return dir.file(name);
  };
  TEventPacket s;
  EXPECT_EQ(readOldestStream(dir.file("none.wpe"), s), kEventFileNotFound);
  EXPECT_EQ(readOldestStream(write("empty.wpe", {}), s), kEventFileEmpty);
  EXPECT_EQ(readOldestStream(write("end.wpe", OldestBuilder().end().bytes), s), kEventFileEmpty);
  EXPECT_EQ(readOldestStream(write("bad.wpe", paper40().code(600).bytes), s), kEventFilePacket);
  EXPECT_EQ(readOldestStream(dir.path(), s), kEventFileCannotOpen);
  // A pipe in a file's place is refused at once, never waited on.
  ASSERT_EQ(::mkfifo(dir.file("pipe.wpe").c_str(), 0600), 0);
  EXPECT_EQ(readOldestStream(dir.file("pipe.wpe"), s), kEventFileCannotOpen);
  EXPECT_EQ(readOldestStream(write("good.wpe", paper40().end().bytes), s), kEventFileOk);
  EXPECT_EQ(s.Count(), 1u);
}

}  // namespace
}  // namespace vl
