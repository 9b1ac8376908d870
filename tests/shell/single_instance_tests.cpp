// Two real programs on Qt's offscreen platform: the second hands its file
// to the first and ends; a first one that does not answer is ignored; no
// program of another user, and no folder another user could reach, takes part.
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <QCoreApplication>
#include <atomic>
#include <csignal>
#include <cstring>
#include <mutex>
#include <thread>

#include "pixel/bmp.h"
#include "pixel/text_util.h"
#include "shell/cli/instance.h"
#include "shell/instance_server.h"
#include "shell/qt_test_support.h"
#include "shell/test_process.h"

namespace vl {
namespace {

// A listening socket at path; −1 on failure.
int listenAt(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Plays the first instance on listening sockets: answers every query with
// "VL20" and keeps every byte it is sent, until `stop` is set and nothing
// more waits to be read, `ms` have passed, or (with oneVisit) the first
// caller has gone.
std::string serveLikeTheFirstInstance(const std::vector<int>& listening, const std::atomic<bool>& stop, int ms,
                                      bool oneVisit = false) {
  std::string received;
  std::vector<pollfd> fds;
  for (int fd : listening) fds.push_back({fd, POLLIN, 0});
  const size_t listeners = fds.size();
  std::vector<std::string> pending(fds.size());
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  bool done = false;
  while (!done && std::chrono::steady_clock::now() < end) {
    // Once stopped, what has arrived is still read before the end.
    const bool stopping = stop;
    if (::poll(fds.data(), fds.size(), stopping ? 0 : 20) <= 0) {
      if (stopping) break;
      continue;
    }
    for (size_t i = 0; i < fds.size(); ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      if (i < listeners) {
        const int c = ::accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (c >= 0) {
          fds.push_back({c, POLLIN, 0});
          pending.emplace_back();
        }
        continue;
      }
      char buf[4096];
      const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;  // poll passes it over from now on
        done = oneVisit;
        continue;
      }
      received.append(buf, size_t(n));
      pending[i].append(buf, size_t(n));
      if (pending[i].size() >= 9 && pending[i][0] == 'Q') {
        pending[i].erase(0, 9);
        [[maybe_unused]] const ssize_t w = ::write(fds[i].fd, "VL20", 4);
      }
    }
  }
  for (size_t i = listeners; i < fds.size(); ++i)
    if (fds[i].fd >= 0) ::close(fds[i].fd);
  return received;
}

// An impostor in another thread.
class Impostor {
 public:
  explicit Impostor(const std::vector<std::string>& paths) {
    for (const std::string& p : paths) sockets.push_back(listenAt(p));
    worker = std::thread([this] { heard = serveLikeTheFirstInstance(sockets, stopped, 60000); });
  }
  ~Impostor() { finish(); }
  bool listening() const {
    for (int fd : sockets)
      if (fd < 0) return false;
    return true;
  }
  // Everything it was sent.
  std::string finish() {
    if (worker.joinable()) {
      stopped = true;
      worker.join();
      for (int fd : sockets) ::close(fd);
    }
    return heard;
  }

 private:
  std::vector<int> sockets;
  std::atomic<bool> stopped{false};
  std::string heard;
  std::thread worker;
};

// Runs the event loop until the socket has an answer, is closed, or time is up.
std::string answerOf(int fd, int ms = 5000) {
  std::string answer;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (answer.size() < 4 && std::chrono::steady_clock::now() < end) {
    QCoreApplication::processEvents();
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 10) != 1) continue;
    char buf[16];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0) break;
    answer.append(buf, size_t(n));
  }
  return answer;
}

TEST(InstanceServer, HearsOnlyProgramsOfItsOwnUser) {
  test::TestApp app;
  test::TempDir dir;
  for (bool ownUser : {true, false}) {
    SCOPED_TRACE(ownUser ? "own user" : "another user");
    // Another user is played by expecting a user id that is not ours.
    TInstanceServer server(kAnswerNormal, ownUser ? ::getuid() : ::getuid() + 1);
    const std::string path = dir.file(ownUser ? "own" : "other");
    std::string problem;
    ASSERT_TRUE(server.listen(path, problem)) << problem;
    std::vector<QString> opened;
    QObject::connect(&server, &TInstanceServer::openRequested, [&](const QString& p) { opened.push_back(p); });

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const std::string messages = encodeQuery(0) + encodeOpen("/home/kim/secret.png");
    ASSERT_EQ(::write(fd, messages.data(), messages.size()), ssize_t(messages.size()));
    const std::string answer = answerOf(fd);
    for (int i = 0; i < 20; ++i) QCoreApplication::processEvents();
    ::close(fd);
    if (ownUser) {
      EXPECT_EQ(answer, "VL20");
      ASSERT_EQ(opened.size(), 1u);
      EXPECT_EQ(opened[0].toStdString(), "/home/kim/secret.png");
    } else {
      EXPECT_EQ(answer, "");
      EXPECT_TRUE(opened.empty());
    }
  }
}

TEST(InstanceServer, HandOverTellsAProgramOfAnotherUserNothing) {
  test::TestApp app;
  test::TempDir dir;
  const std::vector<std::string> files = {"/home/kim/secret.png"};
  for (bool ownUser : {true, false}) {
    SCOPED_TRACE(ownUser ? "own user" : "another user");
    const std::string path = dir.file(ownUser ? "own" : "other");
    Impostor impostor({path});
    ASSERT_TRUE(impostor.listening());
    const HandOver result = handOverToRunningInstance(path, files, 2000, ownUser ? ::getuid() : ::getuid() + 1);
    const std::string heard = impostor.finish();
    if (ownUser) {
      EXPECT_EQ(result, HandOver::Done);
      EXPECT_NE(heard.find("/home/kim/secret.png"), std::string::npos);
    } else {
      EXPECT_EQ(result, HandOver::NoAnswer);
      EXPECT_EQ(heard, "");
    }
  }
}

// The same with a real other user, where the tests may change user.
TEST(InstanceServer, HandOverToARealOtherUserSendsNothing) {
  if (::getuid() != 0) GTEST_SKIP() << "needs root to run a listener as another user";
  test::TestApp app;
  test::TempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
  const std::string path = dir.file("theirs");
  int ready[2], report[2];
  ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
  ASSERT_EQ(::pipe2(report, O_CLOEXEC), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(1);
    const int fd = listenAt(path);
    const char ok = fd >= 0 ? 1 : 0;
    [[maybe_unused]] ssize_t w = ::write(ready[1], &ok, 1);
    std::atomic<bool> never{false};
    const std::string heard = fd >= 0 ? serveLikeTheFirstInstance({fd}, never, 10000, true) : std::string();
    w = ::write(report[1], heard.data(), heard.size());
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(report[1]);
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 1);
  EXPECT_EQ(handOverToRunningInstance(path, {"/root/secret.png"}, 2000), HandOver::NoAnswer);
  std::string heard;
  char buf[256];
  for (ssize_t n; (n = ::read(report[0], buf, sizeof buf)) > 0;) heard.append(buf, size_t(n));
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(ready[0]);
  ::close(report[0]);
  EXPECT_EQ(heard, "");
}

class SingleInstance : public ::testing::Test {
 protected:
  SingleInstance() {
    // The names the program will use for this runtime folder.
    names = instanceNames(dir.path(), userName());
    env = {{"QT_QPA_PLATFORM", "offscreen"}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""},
           {"XDG_RUNTIME_DIR", dir.path()}, {"XDG_CONFIG_HOME", dir.file("config")}, {"VELLUMINAR_TRACE", "1"}};
    TMTC picture(16, 8);
    picture.Fill(0xFF336699u);
    EXPECT_TRUE(saveBmpFile(dir.file("pic.bmp"), picture, 72));
  }

  static std::string userName() {
    const passwd* pw = ::getpwuid(::getuid());
    return pw && pw->pw_name && *pw->pw_name ? pw->pw_name : std::to_string(::getuid());
  }

  // Connects to the socket at path; −1 when nobody listens.
  static int connectTo(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      ::close(fd);
      return -1;
    }
    return fd;
  }

  // The answer to a query, or "" when none came in time.
  static std::string query(const std::string& path, uint32_t param) {
    const int fd = connectTo(path);
    if (fd < 0) return {};
    const std::string q = encodeQuery(param);
    std::string answer;
    if (::write(fd, q.data(), q.size()) == ssize_t(q.size())) {
      pollfd p{fd, POLLIN, 0};
      char buf[4];
      while (answer.size() < 4 && ::poll(&p, 1, 10000) == 1) {
        const ssize_t n = ::read(fd, buf, 4 - answer.size());
        if (n <= 0) break;
        answer.append(buf, size_t(n));
      }
    }
    ::close(fd);
    return answer;
  }

  bool logSays(const std::string& file, const std::string& text) {
    return test::waitFor([&] { return test::readFile(file).find(text) != std::string::npos; }, 30000);
  }

  test::TempDir dir;
  InstanceNames names;
  std::map<std::string, std::string> env;
};

TEST_F(SingleInstance, SecondInstanceHandsItsFileToTheFirst) {
  test::Child first;
  ASSERT_TRUE(first.start(VL_BINARY_PATH, {}, env, dir.file("out1"), dir.file("err1")));
  ASSERT_TRUE(test::waitFor([&] { return query(names.server, 0) == "VL20"; }, 30000)) << test::readFile(dir.file("err1"));
  EXPECT_EQ(query(names.server, 1), std::string(4, '\0'));

  // A relative path: the first instance runs in another folder.
  test::Child second;
  ASSERT_TRUE(second.start(VL_BINARY_PATH, {"pic.bmp"}, env, dir.file("out2"), dir.file("err2"), -1, dir.path()));
  EXPECT_EQ(second.wait(30000), 0) << test::readFile(dir.file("err2"));
  EXPECT_TRUE(logSays(dir.file("err1"), "opened " + dir.file("pic.bmp"))) << test::readFile(dir.file("err1"));
  EXPECT_EQ(test::readFile(dir.file("err2")).find("opened"), std::string::npos);

  first.signal(SIGTERM);
  EXPECT_EQ(first.wait(30000), 0);
  EXPECT_TRUE(test::fileExists(dir.file("config/brennholt/Velluminar3 Plus.ini")));
}

TEST_F(SingleInstance, FirstInstanceThatDoesNotAnswerIsIgnored) {
  // Holds the lock and listens, but never answers.
  CInstanceLock lock;
  ASSERT_EQ(lock.acquire(names.lock), CInstanceLock::kAcquired);
  const int silent = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, names.server.c_str(), sizeof addr.sun_path - 1);
  ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(silent, 4), 0);

  test::Child program;
  ASSERT_TRUE(program.start(VL_BINARY_PATH, {dir.file("pic.bmp")}, env, dir.file("out"), dir.file("err")));
  // It starts on its own and opens the file itself.
  EXPECT_TRUE(logSays(dir.file("err"), "opened " + dir.file("pic.bmp"))) << test::readFile(dir.file("err"));
  program.signal(SIGTERM);
  EXPECT_EQ(program.wait(30000), 0);
  ::close(silent);
}

TEST_F(SingleInstance, ViewerModeWithoutDisplayServerRunsBesideAndReportsTen) {
  // Unattended runs ignore the single-instance rule: the lock is held here.
  CInstanceLock lock;
  ASSERT_EQ(lock.acquire(names.lock), CInstanceLock::kAcquired);
  std::ofstream(dir.file("show.ve3")) << "not events";
  test::Child viewer;
  ASSERT_TRUE(viewer.start(VL_BINARY_PATH, {"-viewer", "-T1", dir.file("show.ve3")}, env, dir.file("out"),
                           dir.file("err")));
  EXPECT_EQ(viewer.wait(30000), 10) << test::readFile(dir.file("err"));
  EXPECT_EQ(test::readFile(dir.file("out")), "10\n");
  EXPECT_TRUE(test::fileExists(dir.file("show.bad")));
  EXPECT_FALSE(test::fileExists(dir.file("config")));
}

// Without a runtime folder the socket lives in velluminar-<uid> of the
// temporary folder. One that is open to others is not used: the program runs
// on its own and says so, and an impostor listening there, or where older
// versions looked, learns nothing.
TEST_F(SingleInstance, FolderOpenToOthersIsRefused) {
  const std::string tmp = dir.file("tmp"), folder = tmp + "/velluminar-" + std::to_string(::getuid());
  ASSERT_EQ(::mkdir(tmp.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(tmp.c_str(), 01777), 0);
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(folder.c_str(), 0777), 0);
  const InstanceNames planted = instanceNames(folder, userName()), older = instanceNames(tmp, userName());
  CInstanceLock plantedLock, olderLock;
  ASSERT_EQ(plantedLock.acquire(planted.lock), CInstanceLock::kAcquired);
  ASSERT_EQ(olderLock.acquire(older.lock), CInstanceLock::kAcquired);
  Impostor impostor({planted.server, older.server});
  ASSERT_TRUE(impostor.listening());

  env["XDG_RUNTIME_DIR"] = "";
  env["TMPDIR"] = tmp;
  test::Child program;
  ASSERT_TRUE(program.start(VL_BINARY_PATH, {dir.file("pic.bmp")}, env, dir.file("out"), dir.file("err")));
  EXPECT_TRUE(logSays(dir.file("err"), "opened " + dir.file("pic.bmp"))) << test::readFile(dir.file("err"));
  EXPECT_NE(test::readFile(dir.file("err")).find(folder + " is open to other users"), std::string::npos)
      << test::readFile(dir.file("err"));
  program.signal(SIGTERM);
  EXPECT_EQ(program.wait(30000), 0);
  EXPECT_EQ(impostor.finish(), "");
}

// With no runtime folder the program makes its own private one; a socket
// left there by an instance that ended is replaced.
TEST_F(SingleInstance, PrivateTemporaryFolderServesWhenThereIsNoRuntimeFolder) {
  const std::string tmp = dir.file("tmp"), folder = tmp + "/velluminar-" + std::to_string(::getuid());
  ASSERT_EQ(::mkdir(tmp.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(tmp.c_str(), 01777), 0);
  ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
  const InstanceNames own = instanceNames(folder, userName());
  const int stale = listenAt(own.server);
  ASSERT_GE(stale, 0);
  ::close(stale);  // the file stays, nobody listens

  env["XDG_RUNTIME_DIR"] = "";
  env["TMPDIR"] = tmp;
  test::Child first;
  ASSERT_TRUE(first.start(VL_BINARY_PATH, {}, env, dir.file("out1"), dir.file("err1")));
  ASSERT_TRUE(test::waitFor([&] { return query(own.server, 0) == "VL20"; }, 30000)) << test::readFile(dir.file("err1"));
  test::Child second;
  ASSERT_TRUE(second.start(VL_BINARY_PATH, {dir.file("pic.bmp")}, env, dir.file("out2"), dir.file("err2")));
  EXPECT_EQ(second.wait(30000), 0) << test::readFile(dir.file("err2"));
  EXPECT_TRUE(logSays(dir.file("err1"), "opened " + dir.file("pic.bmp"))) << test::readFile(dir.file("err1"));
  first.signal(SIGTERM);
  EXPECT_EQ(first.wait(30000), 0);
}

}  // namespace
}  // namespace vl
