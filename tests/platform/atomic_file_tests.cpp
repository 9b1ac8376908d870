#include "platform/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vl {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeAll(const fs::path& p, std::string_view data) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(data.data(), std::streamsize(data.size()));
}

std::vector<std::string> folderNames(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

unsigned modeOf(const fs::path& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0 ? unsigned(st.st_mode & 07777) : 0u;
}

// A fresh folder and a known umask for each test.
class AtomicFile : public testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "vl-atomic-XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
    oldMask = ::umask(022);
  }
  void TearDown() override {
    ::umask(oldMask);
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  fs::path dir;
  mode_t oldMask = 0;
};

TEST_F(AtomicFile, ReplacedFileKeepsItsModeAndNewFileFollowsTheUmask) {
  const fs::path kept = dir / "private.png", fresh = dir / "new.png";
  writeAll(kept, "old");
  ASSERT_EQ(::chmod(kept.c_str(), 0640), 0);
  ASSERT_TRUE(writeFileAtomically(kept.string(), "new bytes", 9));
  EXPECT_EQ(readAll(kept), "new bytes");
  EXPECT_EQ(modeOf(kept), 0640u);

  ASSERT_TRUE(writeFileAtomically(fresh.string(), "x", 1, 0666));
  EXPECT_EQ(modeOf(fresh), 0644u);
  ASSERT_TRUE(writeFileAtomically((dir / "settings.ini").string(), "x", 1, 0600));
  EXPECT_EQ(modeOf(dir / "settings.ini"), 0600u);
  EXPECT_EQ(folderNames(dir), (std::vector<std::string>{"new.png", "private.png", "settings.ini"}));
}

// Whatever the target's mode, nobody else can read the bytes while they are
// written: the temporary file is the owner's alone until it is complete.
TEST_F(AtomicFile, TemporaryIsPrivateWhileItIsWritten) {
  const fs::path target = dir / "open.png";
  writeAll(target, "old");
  ASSERT_EQ(::chmod(target.c_str(), 0644), 0);
  AtomicFileWriter out;
  ASSERT_TRUE(out.Open(target.string()));
  std::vector<std::string> names = folderNames(dir);
  ASSERT_EQ(names.size(), 2u);
  const fs::path temp = dir / (names[0] == "open.png" ? names[1] : names[0]);
  EXPECT_EQ(modeOf(temp), 0600u);
  ASSERT_TRUE(out.Write("abc", 3));
  EXPECT_EQ(modeOf(temp), 0600u);
  ASSERT_TRUE(out.Commit());
  EXPECT_EQ(readAll(target), "abc");
  EXPECT_EQ(modeOf(target), 0644u);
  EXPECT_EQ(folderNames(dir), std::vector<std::string>{"open.png"});
}

TEST_F(AtomicFile, LinksAreWrittenThrough) {
  fs::create_directory(dir / "real");
  const fs::path target = dir / "real" / "picture.png";
  writeAll(target, "old");
  ASSERT_EQ(::chmod(target.c_str(), 0600), 0);
  fs::create_symlink("real/picture.png", dir / "relative.png");
  fs::create_symlink(dir / "relative.png", dir / "chain.png");
  fs::create_symlink(dir / "real" / "missing.png", dir / "dangling.png");

  ASSERT_TRUE(writeFileAtomically((dir / "chain.png").string(), "through two links", 17));
  EXPECT_TRUE(fs::is_symlink(dir / "chain.png"));
  EXPECT_TRUE(fs::is_symlink(dir / "relative.png"));
  EXPECT_EQ(readAll(target), "through two links");
  EXPECT_EQ(modeOf(target), 0600u);

  ASSERT_TRUE(writeFileAtomically((dir / "dangling.png").string(), "made", 4));
  EXPECT_TRUE(fs::is_symlink(dir / "dangling.png"));
  EXPECT_EQ(readAll(dir / "real" / "missing.png"), "made");
  EXPECT_EQ(folderNames(dir / "real"), (std::vector<std::string>{"missing.png", "picture.png"}));
  EXPECT_EQ(folderNames(dir), (std::vector<std::string>{"chain.png", "dangling.png", "real", "relative.png"}));

  // A loop of links is no file to write.
  fs::create_symlink(dir / "loop2", dir / "loop1");
  fs::create_symlink(dir / "loop1", dir / "loop2");
  EXPECT_FALSE(writeFileAtomically((dir / "loop1").string(), "x", 1));
  EXPECT_TRUE(fs::is_symlink(dir / "loop1"));
}

// A link someone else planted in a shared folder is not followed: the file
// it names is never written.
TEST_F(AtomicFile, LinkOfAnotherUserInASharedFolderIsNotFollowed) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a link of another user";
  const fs::path shared = dir / "shared", victim = dir / "victim.txt";
  fs::create_directory(shared);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  writeAll(victim, "precious");
  fs::create_symlink(victim, shared / "out.bmp");
  ASSERT_EQ(::lchown((shared / "out.bmp").c_str(), 65534, 65534), 0);
  // Root may replace the link itself; the victim stays as it was.
  writeFileAtomically((shared / "out.bmp").string(), "picture", 7);
  EXPECT_EQ(readAll(victim), "precious");
  EXPECT_EQ(folderNames(dir), (std::vector<std::string>{"shared", "victim.txt"}));
}

// A failure at any step leaves the previous file as it was and takes the
// temporary file away.
TEST_F(AtomicFile, FailureAtAnyStepKeepsThePreviousFile) {
  struct Failing {
    static ssize_t write(int, const void*, size_t) {
      errno = ENOSPC;
      return -1;
    }
    // Ever shorter writes until the disk is full: the writer has to go on
    // after a short write and still notice the end.
    static ssize_t shortWrite(int fd, const void* data, size_t size) {
      if (size <= 1) {
        errno = ENOSPC;
        return -1;
      }
      return ::write(fd, data, size / 2);
    }
    static int fsync(int) {
      errno = EIO;
      return -1;
    }
    static int rename(const char*, const char*) {
      errno = EXDEV;
      return -1;
    }
  };
  struct {
    const char* name;
    AtomicFileCalls calls;
  } cases[] = {
      {"write", {Failing::write, ::fsync, ::rename}},
      {"short write", {Failing::shortWrite, ::fsync, ::rename}},
      {"fsync", {::write, Failing::fsync, ::rename}},
      {"rename", {::write, ::fsync, Failing::rename}},
  };
  std::string previous;
  for (int i = 0; i < 3000; ++i) previous.push_back(char(i * 7));
  const std::string next(8000, 'n');
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path target = dir / "picture.vci";
    writeAll(target, previous);
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    EXPECT_FALSE(writeFileAtomically(target.string(), next.data(), next.size(), 0666, c.calls));
    EXPECT_EQ(readAll(target), previous);
    EXPECT_EQ(modeOf(target), 0640u);
    EXPECT_EQ(folderNames(dir), std::vector<std::string>{"picture.vci"});

    // The writer object itself: a failed write is remembered, so Commit refuses.
    AtomicFileWriter out(c.calls);
    ASSERT_TRUE(out.Open(target.string()));
    const bool written = out.Write(next.data(), next.size()) && out.Write("tail", 4);
    EXPECT_FALSE(written && out.Commit());
    out.Discard();
    EXPECT_EQ(readAll(target), previous);
    EXPECT_EQ(folderNames(dir), std::vector<std::string>{"picture.vci"});
  }
}

TEST_F(AtomicFile, UnwritableFolderOrEmptyNameFails) {
  EXPECT_FALSE(writeFileAtomically("", "x", 1));
  EXPECT_FALSE(writeFileAtomically((dir / "no" / "such" / "folder.png").string(), "x", 1));
  AtomicFileWriter out;
  EXPECT_FALSE(out.Write("x", 1));
  EXPECT_FALSE(out.Commit());
  // Dropped without a commit: nothing stays behind.
  {
    AtomicFileWriter dropped;
    ASSERT_TRUE(dropped.Open((dir / "never.png").string()));
    ASSERT_TRUE(dropped.Write("x", 1));
  }
  EXPECT_TRUE(folderNames(dir).empty());
}

}  // namespace
}  // namespace vl
