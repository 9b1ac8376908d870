#include "shell/cli/instance.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <cstring>

#include "shell/test_process.h"

namespace vl {
namespace {

TEST(Instance, NamesLiveInTheRuntimeFolderElseInAPrivateTemporaryOne) {
  EXPECT_EQ(instanceFolder("/run/user/1000", "/tmp", 1000), "/run/user/1000");
  EXPECT_EQ(instanceFolder("", "/var/tmp/", 1000), "/var/tmp/velluminar-1000");
  EXPECT_EQ(instanceFolder("relative", "also/relative", 1001), "/tmp/velluminar-1001");
  const InstanceNames n = instanceNames("/run/user/1000", "kim");
  EXPECT_EQ(n.server, "/run/user/1000/vL3 Application-kim");
  EXPECT_EQ(n.lock, "/run/user/1000/vL3 Application-kim.lock");
}

// Another local user may have made the folder first, or put something else
// in its place: only a real folder of our own that nobody else may enter is used.
TEST(Instance, PrivateFolderIsMadeOrRefused) {
  test::TempDir dir;
  const uid_t me = ::getuid();
  std::string problem;
  ASSERT_TRUE(makePrivateFolder(dir.file("fresh"), me, problem)) << problem;
  struct stat st {};
  ASSERT_EQ(::lstat(dir.file("fresh").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_TRUE(makePrivateFolder(dir.file("fresh"), me, problem)) << problem;  // already there

  ASSERT_EQ(::mkdir(dir.file("open").c_str(), 0700), 0);
  ASSERT_EQ(::chmod(dir.file("open").c_str(), 0777), 0);
  ASSERT_EQ(::symlink(dir.file("fresh").c_str(), dir.file("link").c_str()), 0);
  std::ofstream(dir.file("file")) << "x";
  ASSERT_EQ(::mkdir(dir.file("theirs").c_str(), 0700), 0);
  struct {
    const char* name;
    uid_t user;
  } refused[] = {{"open", me}, {"link", me}, {"file", me}, {"theirs", me + 1}, {"missing/deeper", me}};
  for (const auto& c : refused) {
    SCOPED_TRACE(c.name);
    problem.clear();
    EXPECT_FALSE(makePrivateFolder(dir.file(c.name), c.user, problem));
    EXPECT_FALSE(problem.empty());
  }
  // Nothing was changed on the way.
  ASSERT_EQ(::lstat(dir.file("open").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0777u);
  ASSERT_EQ(::lstat(dir.file("link").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST(Instance, LockHasOneHolderAndFollowsNoLink) {
  test::TempDir dir;
  const std::string path = dir.file("lock");
  CInstanceLock first, second;
  ASSERT_EQ(first.acquire(path), CInstanceLock::kAcquired);
  EXPECT_EQ(second.acquire(path), CInstanceLock::kBusy);
  EXPECT_FALSE(second.held());
  first.release();
  EXPECT_EQ(second.acquire(path), CInstanceLock::kAcquired);
  EXPECT_EQ(CInstanceLock().acquire(dir.file("no/such/folder/lock")), CInstanceLock::kUnusable);

  // A lock replaced by a link makes no file where the link points.
  ASSERT_EQ(::symlink(dir.file("elsewhere").c_str(), dir.file("linked.lock").c_str()), 0);
  CInstanceLock linked;
  EXPECT_EQ(linked.acquire(dir.file("linked.lock")), CInstanceLock::kUnusable);
  EXPECT_FALSE(linked.held());
  EXPECT_FALSE(test::fileExists(dir.file("elsewhere")));
  // Nor is a pipe in its place opened for a lock.
  ASSERT_EQ(::mkfifo(dir.file("pipe.lock").c_str(), 0600), 0);
  EXPECT_EQ(linked.acquire(dir.file("pipe.lock")), CInstanceLock::kUnusable);
}

// A socket bound at path; listening when asked. −1 on failure.
int boundSocket(const std::string& path, bool listening) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || (listening && ::listen(fd, 4) != 0)) {
    ::close(fd);
    return -1;
  }
  return fd;
}

TEST(Instance, OnlyAStaleSocketOfOurOwnIsReplaced) {
  test::TempDir dir;
  const uid_t me = ::getuid();
  std::string problem;
  EXPECT_TRUE(clearStaleSocket(dir.file("none"), me, problem)) << problem;

  // Left behind by an instance that ended: nobody listens.
  const int stale = boundSocket(dir.file("stale"), false);
  ASSERT_GE(stale, 0);
  ::close(stale);
  EXPECT_TRUE(clearStaleSocket(dir.file("stale"), me, problem)) << problem;
  EXPECT_FALSE(test::fileExists(dir.file("stale")));

  const int live = boundSocket(dir.file("live"), true);
  ASSERT_GE(live, 0);
  const int other = boundSocket(dir.file("other"), false);
  ASSERT_GE(other, 0);
  ::close(other);
  std::ofstream(dir.file("file")) << "keep me";
  struct {
    const char* name;
    uid_t user;
  } kept[] = {{"live", me}, {"other", me + 1}, {"file", me}};
  for (const auto& c : kept) {
    SCOPED_TRACE(c.name);
    problem.clear();
    EXPECT_FALSE(clearStaleSocket(dir.file(c.name), c.user, problem));
    EXPECT_FALSE(problem.empty());
    EXPECT_TRUE(test::fileExists(dir.file(c.name)));
  }
  ::close(live);
}

TEST(Instance, PeerUserOfALocalSocket) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  EXPECT_TRUE(peerIsUser(pair[0], ::getuid()));
  EXPECT_FALSE(peerIsUser(pair[0], ::getuid() + 1));
  ::close(pair[0]);
  ::close(pair[1]);
  EXPECT_FALSE(peerIsUser(-1, ::getuid()));
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
