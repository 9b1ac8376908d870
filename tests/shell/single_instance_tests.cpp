// Two real programs on Qt's offscreen platform: the second hands its file
// to the first and ends; a first one that does not answer is ignored.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <csignal>
#include <cstring>

#include "pixel/bmp.h"
#include "shell/cli/instance.h"
#include "shell/test_process.h"

namespace vl {
namespace {

class SingleInstance : public ::testing::Test {
 protected:
  SingleInstance() {
    // The names the program will use for this runtime folder.
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = old ? old : "";
    ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
    names = instanceNames();
    if (old) ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1); else ::unsetenv("XDG_RUNTIME_DIR");
    env = {{"QT_QPA_PLATFORM", "offscreen"}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""},
           {"XDG_RUNTIME_DIR", dir.path()}, {"XDG_CONFIG_HOME", dir.file("config")}, {"VELLUMINAR_TRACE", "1"}};
    TMTC picture(16, 8);
    picture.Fill(0xFF336699u);
    EXPECT_TRUE(saveBmpFile(dir.file("pic.bmp"), picture, 72));
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
  ASSERT_TRUE(lock.acquire(names.lock));
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
  ASSERT_TRUE(lock.acquire(names.lock));
  std::ofstream(dir.file("show.ve3")) << "not events";
  test::Child viewer;
  ASSERT_TRUE(viewer.start(VL_BINARY_PATH, {"-viewer", "-T1", dir.file("show.ve3")}, env, dir.file("out"),
                           dir.file("err")));
  EXPECT_EQ(viewer.wait(30000), 10) << test::readFile(dir.file("err"));
  EXPECT_EQ(test::readFile(dir.file("out")), "10\n");
  EXPECT_TRUE(test::fileExists(dir.file("show.bad")));
  EXPECT_FALSE(test::fileExists(dir.file("config")));
}

}  // namespace
}  // namespace vl
