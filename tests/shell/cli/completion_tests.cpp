#include "shell/cli/completion.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "shell/test_process.h"

namespace vl {
namespace {

TEST(Completion, MarkerPaths) {
  struct {
    const char *source, *folder, *ext, *expected;
  } cases[] = {
      {"/in/pic.ve3", "", ".bad", "/in/pic.bad"},
      {"/in/pic.ve3", "/out", ".prt", "/out/pic.prt"},
      {"/in/pic.ve3", "/out/", ".bad", "/out/pic.bad"},
      {"/in/a.b.ves", "", ".bad", "/in/a.b.bad"},
      {"/in/noext", "", ".bad", "/in/noext.bad"},
      {"/in.d/noext", "", ".bad", "/in.d/noext.bad"},
      {"/in/.hidden", "", ".bad", "/in/.hidden.bad"},
      {"/top.ve3", "", ".bad", "/top.bad"},
  };
  for (const auto& c : cases) EXPECT_EQ(markerFilePath(c.source, c.folder, c.ext), c.expected) << c.source;
  EXPECT_EQ(markerExtension(kFileFailed), ".bad");
  EXPECT_EQ(markerExtension(kFileProtected), ".prt");
  for (int code : {kRenderDone, kRenderWriteFailed, kViewerDone}) EXPECT_TRUE(markerExtension(code).empty());
}

struct Outcome {
  std::string out, channel;
  bool bad, prt;
};

Outcome reportOnce(int code, bool withChannel, const std::string& outputFolder, const test::TempDir& dir) {
  int fds[2] = {-1, -1};
  if (withChannel) {
    EXPECT_EQ(::pipe(fds), 0);
  }
  StartupOptions o;
  o.outputFolder = outputFolder;
  o.reportChannel = withChannel ? fds[1] : -1;
  std::FILE* out = std::tmpfile();
  CCompletionReport r(o, out);
  EXPECT_EQ(r.report(code, dir.file("pic.ve3")), code);
  // Only the first report counts.
  EXPECT_EQ(r.report(kRenderDone, dir.file("pic.ve3")), code);
  Outcome result;
  std::rewind(out);
  char buf[64] = {};
  result.out = std::fgets(buf, sizeof buf, out) ? buf : "";
  std::fclose(out);
  if (withChannel) {
    ::close(fds[1]);
    const ssize_t n = ::read(fds[0], buf, sizeof buf - 1);
    result.channel.assign(buf, n > 0 ? size_t(n) : 0);
    ::close(fds[0]);
  }
  const std::string folder = outputFolder.empty() ? dir.path() : outputFolder;
  result.bad = test::fileExists(folder + "/pic.bad");
  result.prt = test::fileExists(folder + "/pic.prt");
  return result;
}

TEST(Completion, ReportWritesLineChannelAndMarker) {
  struct {
    int code;
    bool channel, bad, prt;
  } cases[] = {
      {kRenderDone, true, false, false},    {kRenderWriteFailed, false, false, false},
      {kFileFailed, true, true, false},     {kFileProtected, false, false, true},
      {kViewerDone, true, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    test::TempDir dir;
    const Outcome o = reportOnce(c.code, c.channel, {}, dir);
    const std::string line = std::to_string(c.code) + "\n";
    EXPECT_EQ(o.out, line);
    EXPECT_EQ(o.channel, c.channel ? line : "");
    EXPECT_EQ(o.bad, c.bad);
    EXPECT_EQ(o.prt, c.prt);
  }
}

TEST(Completion, MarkerGoesToTheOutputFolderAndIsEmpty) {
  test::TempDir dir, out;
  const Outcome o = reportOnce(kFileFailed, false, out.path(), dir);
  EXPECT_TRUE(o.bad);
  EXPECT_FALSE(test::fileExists(dir.file("pic.bad")));
  EXPECT_EQ(test::readFile(out.file("pic.bad")), "");
}

TEST(Completion, ClosedChannelOrMissingFolderDoNotStopTheReport) {
  StartupOptions o;
  o.reportChannel = 1000;  // not open
  o.outputFolder = "/nonexistent-folder-for-velluminar";
  std::FILE* out = std::tmpfile();
  CCompletionReport r(o, out);
  EXPECT_EQ(r.report(kFileFailed, "/x/pic.ve3"), kFileFailed);
  EXPECT_FALSE(r.markerWritten());
  EXPECT_TRUE(r.reported());
  std::fclose(out);
}

}  // namespace
}  // namespace vl

namespace vl {
namespace {

void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A marker never empties or follows what already has its name: the input
// itself ("x.bad" rendered), or a link planted in a shared output folder.
TEST(Completion, AMarkerLeavesExistingFilesAndLinksAlone) {
  test::TempDir dir;
  writeText(dir.file("x.bad"), "the user's drawing");
  EXPECT_TRUE(writeMarkerFile(dir.file("x.bad")));
  EXPECT_EQ(test::readFile(dir.file("x.bad")), "the user's drawing");

  writeText(dir.file("victim"), "kept");
  ASSERT_EQ(::symlink(dir.file("victim").c_str(), dir.file("y.bad").c_str()), 0);
  EXPECT_FALSE(writeMarkerFile(dir.file("y.bad")));
  EXPECT_EQ(test::readFile(dir.file("victim")), "kept");
  ASSERT_EQ(::symlink(dir.file("nowhere").c_str(), dir.file("z.bad").c_str()), 0);
  EXPECT_FALSE(writeMarkerFile(dir.file("z.bad")));
  EXPECT_FALSE(test::fileExists(dir.file("nowhere")));
}

TEST(Completion, OnlyAnInheritedReportChannelIsKept) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  EXPECT_EQ(checkedReportChannel(fds[1]), fds[1]);
  ::close(fds[0]);
  ::close(fds[1]);
  EXPECT_EQ(checkedReportChannel(fds[1]), -1);
  EXPECT_EQ(checkedReportChannel(-1), -1);
}

}  // namespace
}  // namespace vl
