// The real program in render mode, with no display at all: a Qt application
// would abort on the missing X server, so these runs also show that render
// mode never makes one.
#include "shell/cli/render_mode.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <filesystem>

#include "shell/cli/completion.h"
#include "shell/test_process.h"

namespace vl {
namespace {

struct ProgramRun {
  int status;
  std::string out, err, channel;
};

ProgramRun runProgram(const test::TempDir& dir, const std::vector<std::string>& args, bool withChannel = false,
               const std::string& cwd = {}, const std::map<std::string, std::string>& moreEnv = {}) {
  int fds[2] = {-1, -1};
  if (withChannel) {
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  }
  std::vector<std::string> a = args;
  if (withChannel) a.push_back("-W" + std::to_string(fds[1]));
  test::Child child;
  // An English locale unless a test says otherwise, whatever the developer's own.
  std::map<std::string, std::string> env = {
      {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", "xcb"},
      {"XDG_CONFIG_HOME", dir.file("config")}, {"XDG_RUNTIME_DIR", dir.path()},
      {"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANG", "C.UTF-8"}};
  for (const auto& [k, v] : moreEnv) env[k] = v;
  EXPECT_TRUE(child.start(VL_BINARY_PATH, a, env, dir.file("out.txt"), dir.file("err.txt"), fds[1], cwd));
  ProgramRun r;
  r.status = child.wait(30000);
  if (withChannel) {
    ::close(fds[1]);
    char buf[64];
    const ssize_t n = ::read(fds[0], buf, sizeof buf);
    r.channel.assign(buf, n > 0 ? size_t(n) : 0);
    ::close(fds[0]);
  }
  r.out = test::readFile(dir.file("out.txt"));
  r.err = test::readFile(dir.file("err.txt"));
  return r;
}

TEST(RenderMode, MissingAndNonEventFilesReportTen) {
  struct {
    const char* name;
    bool create;
    bool outputSwitch;
    bool channel;
  } cases[] = {
      {"missing", false, false, true},
      {"not an event file", true, false, false},
      {"missing, output folder", false, true, false},
      {"not an event file, output folder", true, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir, out;
    const std::string source = dir.file("drawing.ve3");
    if (c.create) {
      std::ofstream(source) << "this is not an event stream\n";
    }
    std::vector<std::string> args = {"-render", source};
    if (c.outputSwitch) args.push_back("-O" + out.path());
    const ProgramRun r = runProgram(dir, args, c.channel);
    EXPECT_EQ(r.status, 10) << r.err;
    EXPECT_EQ(r.out, "10\n");
    if (c.channel) {
      EXPECT_EQ(r.channel, "10\n");
    }
    const std::string markerFolder = c.outputSwitch ? out.path() : dir.path();
    EXPECT_TRUE(test::fileExists(markerFolder + "/drawing.bad"));
    EXPECT_FALSE(test::fileExists(markerFolder + "/drawing.prt"));
    EXPECT_EQ(test::readFile(markerFolder + "/drawing.bad"), "");
    // Unattended runs leave the user's settings alone.
    EXPECT_FALSE(test::fileExists(dir.file("config")));
  }
}

TEST(RenderMode, RelativeFileMarksItsOwnFolder) {
  test::TempDir dir;
  const ProgramRun r = runProgram(dir, {"-RENDER", "sub.ves"}, false, dir.path());
  EXPECT_EQ(r.status, 10);
  EXPECT_TRUE(test::fileExists(dir.file("sub.bad")));
}

TEST(RenderMode, UnknownSwitchIsReportedAndTheRunGoesOn) {
  test::TempDir dir;
  const ProgramRun r = runProgram(dir, {"-render", "-Q", "-Wxyz", dir.file("a.ve3")});
  EXPECT_EQ(r.status, 10);
  EXPECT_NE(r.err.find("unknown command line switch!\n    arg = -Q"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("arg = -Wxyz"), std::string::npos) << r.err;
  EXPECT_TRUE(test::fileExists(dir.file("a.bad")));
}

TEST(RenderMode, WithoutAFileThereIsNoMarker) {
  test::TempDir dir;
  const ProgramRun r = runProgram(dir, {"-render"});
  EXPECT_EQ(r.status, 10);
  EXPECT_EQ(r.out, "10\n");
}

// Starts that need a window say in one line that there is no display and
// end with a status; viewer mode reports its code as render mode does, but
// leaves no marker: the file itself was never tried.
TEST(Program, WithoutADisplayWindowedStartsSayWhyAndEnd) {
  struct {
    const char* name;
    std::vector<std::string> args;
    const char* display;
    bool viewer;
  } cases[] = {
      {"unknown switch", {"-bogus"}, "", false},
      {"no arguments, a display that is not there", {}, ":97", false},
      {"viewer", {"-viewer", "-T0"}, "", true},
      {"viewer, a display that is not there", {"-Viewer"}, ":97", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    std::vector<std::string> args = c.args;
    const std::string source = dir.file("drawing.ve3");
    if (c.viewer) {
      std::ofstream(source) << "x";
      args.push_back(source);
    }
    const ProgramRun r = runProgram(dir, args, c.viewer, {}, {{"DISPLAY", c.display}});
    // One line on standard error, and an exit rather than an abort.
    EXPECT_EQ(r.err.rfind("velluminar: cannot open a display: ", 0), 0u) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    if (*c.display) {
      EXPECT_NE(r.err.find(c.display), std::string::npos) << r.err;
    }
    if (c.viewer) {
      EXPECT_EQ(r.status, 10);
      EXPECT_EQ(r.out, "10\n");
      EXPECT_EQ(r.channel, "10\n");
      EXPECT_FALSE(test::fileExists(dir.file("drawing.bad")));
    } else {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.out, "");
    }
    // Nothing ran far enough to write settings or take the instance lock.
    EXPECT_FALSE(test::fileExists(dir.file("config")));
  }
}

// What render mode does with the replay's result, with a stand-in for the
// event player: a readable file is handed to it with its absolute path and
// the output folder, and its code is what the run reports. Nothing is
// handed over for a file that cannot be read.
struct RenderCall {
  int calls = 0;
  std::string file, folder;
  int result = kRenderDone;
};
RenderCall* renderCall = nullptr;

int standInRender(const std::string& eventFile, const std::string& outputFolder) {
  ++renderCall->calls;
  renderCall->file = eventFile;
  renderCall->folder = outputFolder;
  return renderCall->result;
}

TEST(RenderMode, ReplayResultIsWhatTheRunReports) {
  struct {
    const char* name;
    bool exists;
    int result;
    bool outputSwitch;
    const char* marker;  // nullptr: none
  } cases[] = {
      {"rendered", true, kRenderDone, false, nullptr},
      {"rendered into the output folder", true, kRenderDone, true, nullptr},
      {"an output failed", true, kRenderWriteFailed, false, nullptr},
      {"protected", true, kFileProtected, true, ".prt"},
      {"not playable", true, kFileFailed, false, ".bad"},
      {"missing", false, kRenderDone, false, ".bad"},
  };
  const RenderFunction before = renderFunction();
  setRenderFunction(standInRender);
  const char* config = std::getenv("XDG_CONFIG_HOME");
  const std::string savedConfig = config ? config : "";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir, out;
    ::setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
    const std::string source = dir.file("drawing.ve3");
    if (c.exists) std::ofstream(source) << "events";
    RenderCall call;
    call.result = c.result;
    renderCall = &call;
    StartupOptions o;
    o.unattended = true;
    o.files = {source};
    if (c.outputSwitch) o.outputFolder = out.path();
    std::FILE* line = std::tmpfile();
    const int code = runRenderMode(o, line);
    std::rewind(line);
    char buf[16] = {};
    const std::string printed = std::fgets(buf, sizeof buf, line) ? buf : "";
    std::fclose(line);
    renderCall = nullptr;

    const int want = c.exists ? c.result : kFileFailed;
    EXPECT_EQ(code, want);
    EXPECT_EQ(printed, std::to_string(want) + "\n");
    EXPECT_EQ(call.calls, c.exists ? 1 : 0);
    if (c.exists) {
      EXPECT_EQ(call.file, source);
      EXPECT_EQ(call.folder, c.outputSwitch ? out.path() : dir.path());
    }
    const std::string folder = c.outputSwitch ? out.path() : dir.path();
    for (const char* ext : {".bad", ".prt"})
      EXPECT_EQ(test::fileExists(folder + "/drawing" + ext), c.marker && std::string(c.marker) == ext) << ext;
    EXPECT_FALSE(test::fileExists(dir.file("config")));
  }
  setRenderFunction(before);
  if (config) ::setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1); else ::unsetenv("XDG_CONFIG_HOME");
}

// Recorded drawings with the pictures they must give: tests/data/render holds
// pairs "name.ve3" (or .ves, .wpe) and "name.bmp". The real program renders
// each without a display, reports 8, writes the picture equal to the
// expected one and leaves no marker. Until the program can replay event
// files there are no such pairs and nothing to check.
TEST(RenderMode, RecordedDrawingsRenderTheirPictures) {
  namespace fs = std::filesystem;
  const fs::path data = fs::path(VL_TEST_DATA_DIR) / "render";
  std::vector<fs::path> drawings;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(data, ec)) {
    const std::string ext = e.path().extension().string();
    if ((ext == ".ve3" || ext == ".ves" || ext == ".wpe") && fs::exists(fs::path(e.path()).replace_extension(".bmp")))
      drawings.push_back(e.path());
  }
  if (drawings.empty()) GTEST_SKIP() << "no recorded drawings in " << data.string();
  for (const fs::path& drawing : drawings) {
    SCOPED_TRACE(drawing.string());
    test::TempDir dir, out;
    const ProgramRun r = runProgram(dir, {"-render", "-O" + out.path(), drawing.string()});
    EXPECT_EQ(r.status, kRenderDone) << r.err;
    EXPECT_EQ(r.out, "8\n");
    const std::string stem = drawing.stem().string();
    EXPECT_EQ(test::readFile(out.file(stem + ".bmp")),
              test::readFile(fs::path(drawing).replace_extension(".bmp").string()));
    EXPECT_FALSE(test::fileExists(out.file(stem + ".bad")));
    EXPECT_FALSE(test::fileExists(out.file(stem + ".prt")));
  }
}

// Nobody may be there to read a window's language setting: unattended runs
// write English to standard error unless the locale (or "--lang") is Korean.
TEST(RenderMode, StandardErrorSpeaksTheLocale) {
  const std::string english = "velluminar: render mode needs an event file\n";
  const std::string korean = "velluminar: 렌더 모드에는 이벤트 파일이 필요합니다\n";
  struct {
    const char* name;
    std::map<std::string, std::string> env;
    std::vector<std::string> moreArgs;
    bool koreanSetting;
    const std::string& expected;
  } cases[] = {
      {"English locale", {{"LANG", "en_US.UTF-8"}}, {}, false, english},
      {"C locale", {{"LANG", "C"}}, {}, false, english},
      {"Korean locale", {{"LANG", "ko_KR.UTF-8"}}, {}, false, korean},
      {"LC_MESSAGES before LANG", {{"LC_MESSAGES", "ko_KR.UTF-8"}, {"LANG", "en_GB.UTF-8"}}, {}, false, korean},
      {"LC_ALL before both", {{"LC_ALL", "C"}, {"LC_MESSAGES", "ko_KR.UTF-8"}}, {}, false, english},
      {"the window's setting does not reach it", {{"LANG", "C"}}, {}, true, english},
      {"--lang ko", {{"LANG", "C"}}, {"--lang", "ko"}, false, korean},
      {"--lang=en in a Korean locale", {{"LANG", "ko_KR.UTF-8"}}, {"--lang=en"}, false, english},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir;
    if (c.koreanSetting) {
      std::filesystem::create_directories(dir.file("config/brennholt"));
      std::ofstream(dir.file("config/brennholt/Velluminar3 Plus.ini")) << "[config]\nlanguage=s:ko\n";
    }
    std::vector<std::string> args = {"-render"};
    args.insert(args.end(), c.moreArgs.begin(), c.moreArgs.end());
    const ProgramRun r = runProgram(dir, args, false, {}, c.env);
    EXPECT_EQ(r.status, 10);
    EXPECT_EQ(r.err, c.expected);
  }
}

// A bad "--lang" value is said in the locale's language, and the run goes on.
TEST(RenderMode, BadLanguageSwitch) {
  test::TempDir dir;
  ProgramRun r = runProgram(dir, {"-render", "--lang", "fr"}, false, {}, {{"LANG", "ko_KR.UTF-8"}});
  EXPECT_EQ(r.status, 10);
  EXPECT_NE(r.err.find("velluminar: --lang 다음에는 ko 또는 en 이 와야 합니다 !\n    arg = --lang fr\n"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("렌더 모드에는"), std::string::npos) << r.err;
}

// A pipe in the event file's place is refused at once instead of waiting
// for a writer that never comes.
TEST(RenderMode, PipeInsteadOfAFile) {
  test::TempDir dir;
  const std::string fifo = dir.file("drawing.ve3");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const ProgramRun r = runProgram(dir, {"-render", fifo});
  EXPECT_EQ(r.status, 10);
  EXPECT_NE(r.err.find("drawing.ve3: not a regular file"), std::string::npos) << r.err;
}

TEST(Program, HelpSpeaksTheLanguage) {
  test::TempDir dir;
  ProgramRun r = runProgram(dir, {"--help"}, false, {}, {{"LANG", "ko_KR.UTF-8"}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("사용법: velluminar", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("--lang ko|en"), std::string::npos);
  r = runProgram(dir, {"--lang", "en", "--help"}, false, {}, {{"LANG", "ko_KR.UTF-8"}});
  EXPECT_EQ(r.out.rfind("Usage: velluminar", 0), 0u) << r.out;
}

TEST(Program, HelpAndVersion) {
  test::TempDir dir;
  ProgramRun r = runProgram(dir, {"--help"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Usage: velluminar"), std::string::npos);
  r = runProgram(dir, {"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("Velluminar3.03"), std::string::npos);
}

}  // namespace
}  // namespace vl
