#include "shell/cli/instance.h"

#include <gtest/gtest.h>

#include "shell/test_process.h"

namespace vl {
namespace {

TEST(Instance, NamesArePerUserAndInTheRuntimeFolder) {
  InstanceNames n = instanceNames("/run/user/1000", "/tmp", "kim");
  EXPECT_EQ(n.server, "/run/user/1000/vL3 Application-kim");
  EXPECT_EQ(n.lock, "/run/user/1000/vL3 Application-kim.lock");
  EXPECT_EQ(instanceNames("", "/var/tmp/", "lee").server, "/var/tmp/vL3 Application-lee");
  EXPECT_EQ(instanceNames("relative", "", "lee").server, "/tmp/vL3 Application-lee");
}

TEST(Instance, LockHasOneHolder) {
  test::TempDir dir;
  const std::string path = dir.file("lock");
  CInstanceLock first, second;
  ASSERT_TRUE(first.acquire(path));
  EXPECT_FALSE(second.acquire(path));
  EXPECT_FALSE(second.held());
  first.release();
  EXPECT_TRUE(second.acquire(path));
  EXPECT_FALSE(CInstanceLock().acquire(dir.file("no/such/folder/lock")));
}

TEST(Instance, QueryAnswers) {
  EXPECT_EQ(queryAnswer(0, false, false), kAnswerNormal);
  EXPECT_EQ(queryAnswer(0, true, true), kAnswerViewer);
  EXPECT_EQ(queryAnswer(0, true, false), kAnswerRender);
  EXPECT_EQ(queryAnswer(1, false, false), 0u);
  // The four bytes in memory are the letters.
  EXPECT_EQ(encodeUint32(kAnswerNormal), "VL20");
  EXPECT_EQ(encodeUint32(kAnswerViewer), "VLVw");
  EXPECT_EQ(encodeUint32(kAnswerRender), "VLRe");
}

TEST(Instance, MessagesRoundTripByteByByte) {
  const std::string path = "/home/kim/그림/a b.png";
  const std::string stream = encodeQuery(0) + encodeOpen(path) + encodeActivate() + encodeQuery(7);
  CInstanceReader reader;
  std::vector<std::pair<InstanceMessage, std::string>> got;
  InstanceMessage kind;
  std::string payload;
  for (char c : stream) {
    reader.feed(&c, 1);
    CInstanceReader::Result r;
    while ((r = reader.next(kind, payload)) == CInstanceReader::kMessage) got.emplace_back(kind, payload);
    ASSERT_NE(r, CInstanceReader::kBad);
  }
  ASSERT_EQ(got.size(), 4u);
  EXPECT_EQ(got[0].first, InstanceMessage::Query);
  EXPECT_EQ(decodeUint32(got[0].second.data()), 0u);
  EXPECT_EQ(got[1].first, InstanceMessage::Open);
  EXPECT_EQ(openPath(got[1].second), path);
  EXPECT_EQ(got[2].first, InstanceMessage::Activate);
  EXPECT_EQ(decodeUint32(got[3].second.data()), 7u);
}

TEST(Instance, BadMessagesAreRefused) {
  auto header = [](char kind, uint32_t length) { return std::string(1, kind) + encodeUint32(length); };
  struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"unknown kind", header('Z', 0)},
      {"query too short", header('Q', 3) + "abc"},
      {"activate with payload", header('A', 1) + "x"},
      {"open without zero", header('O', 3) + "abc"},
      {"open with inner zero", header('O', 4) + std::string("a\0b\0", 4)},
      {"open of only a zero", header('O', 1) + std::string(1, '\0')},
      {"payload too long", header('O', uint32_t(kMaxInstancePayload + 1))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CInstanceReader reader;
    reader.feed(c.bytes.data(), c.bytes.size());
    InstanceMessage kind;
    std::string payload;
    EXPECT_EQ(reader.next(kind, payload), CInstanceReader::kBad);
  }
}

}  // namespace
}  // namespace vl

namespace vl {
namespace {

// A peer that keeps sending, each read ending inside a message, keeps at most
// one message and a read in memory.
TEST(InstanceReader, ReadMessagesAreDroppedAsNewBytesArrive) {
  CInstanceReader reader;
  const std::string one = encodeOpen("/tmp/a.png");
  std::string stream;
  for (int i = 0; i < 1000; ++i) stream += one;
  InstanceMessage kind;
  std::string payload;
  int messages = 0;
  for (size_t at = 0; at < stream.size(); at += 7) {
    reader.feed(stream.data() + at, std::min<size_t>(7, stream.size() - at));
    while (reader.next(kind, payload) == CInstanceReader::kMessage) ++messages;
    EXPECT_LE(reader.held(), one.size() + 7);
  }
  EXPECT_EQ(messages, 1000);
}

}  // namespace
}  // namespace vl
