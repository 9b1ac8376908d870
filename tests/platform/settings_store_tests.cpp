#include "platform/settings_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>

#include "platform/strings.h"
#include "platform/ui_services.h"

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

// A fresh folder for each test, removed afterwards.
class SettingsFileTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "vl-settings-XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
    file = dir / "Velluminar3 Plus.ini";
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  fs::path dir, file;
};

// Restores an environment variable when it goes out of scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name(name) {
    if (const char* old = std::getenv(name)) previous = old;
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~ScopedEnv() {
    if (previous) setenv(name, previous->c_str(), 1);
    else unsetenv(name);
  }

 private:
  const char* name;
  std::optional<std::string> previous;
};

template <size_t N>
std::string raw(const char (&s)[N]) {
  return std::string(s, N - 1);
}

uint64_t bitsOf(double d) {
  uint64_t b;
  std::memcpy(&b, &d, 8);
  return b;
}

double fromBits(uint64_t b) {
  double d;
  std::memcpy(&d, &b, 8);
  return d;
}

TEST(SettingsStore, TypedValuesAndNames) {
  MemorySettingsStore s;
  s.setInt("config", "undoMax", 12);
  s.setBool("config", "eventWait", true);
  s.setDouble("paper", "w0", 0.5);
  s.setString("fileIO", "loadPath", "/home");
  s.setBinary("blob", "data", {1, 2, 3});

  int32_t i = -7;
  bool b = false;
  double d = 0;
  std::string str = "keep";
  SettingsBytes bytes;
  EXPECT_TRUE(s.getInt("CONFIG", "UndoMax", i));  // names ignore ASCII case, like the registry
  EXPECT_EQ(i, 12);
  EXPECT_TRUE(s.getBool("config", "eventWait", b));
  EXPECT_TRUE(b);
  EXPECT_TRUE(s.getDouble("paper", "w0", d));
  EXPECT_EQ(d, 0.5);
  EXPECT_TRUE(s.getBinary("blob", "data", bytes));
  EXPECT_EQ(bytes, (SettingsBytes{1, 2, 3}));

  // Integers and booleans read as each other; nothing else converts.
  EXPECT_TRUE(s.getInt("config", "eventWait", i));
  EXPECT_EQ(i, 1);
  EXPECT_TRUE(s.getBool("config", "undoMax", b));
  EXPECT_TRUE(b);
  EXPECT_FALSE(s.getString("config", "undoMax", str));
  EXPECT_FALSE(s.getDouble("config", "undoMax", d));
  EXPECT_FALSE(s.getInt("fileIO", "loadPath", i));
  EXPECT_FALSE(s.getString("fileIO", "missing", str));
  EXPECT_FALSE(s.getString("nowhere", "loadPath", str));
  EXPECT_EQ(str, "keep");
  EXPECT_EQ(i, 1);

  // Overwriting keeps the first spelling and the place.
  s.setInt("config", "gridW", 25);
  s.setInt("Config", "UNDOMAX", 3);
  EXPECT_EQ(s.keys("config"), (std::vector<std::string>{"undoMax", "eventWait", "gridW"}));
  EXPECT_EQ(s.sections(), (std::vector<std::string>{"config", "paper", "fileIO", "blob"}));

  EXPECT_TRUE(s.remove("config", "eventWait"));
  EXPECT_FALSE(s.remove("config", "eventWait"));
  EXPECT_FALSE(s.remove("nowhere", "x"));
  EXPECT_EQ(s.keys("config"), (std::vector<std::string>{"undoMax", "gridW"}));
  EXPECT_TRUE(s.removeSection("PAPER"));
  EXPECT_FALSE(s.removeSection("paper"));
  EXPECT_TRUE(s.keys("paper").empty());
  EXPECT_EQ(s.sections(), (std::vector<std::string>{"config", "fileIO", "blob"}));
}

TEST(SettingsStore, ProcessWideStore) {
  MemorySettingsStore mine;
  SettingsStore* previous = setAppSettings(&mine);
  appSettings().setInt("a", "b", 1);
  int32_t v = 0;
  EXPECT_TRUE(mine.getInt("a", "b", v));
  EXPECT_EQ(setAppSettings(previous), &mine);
  EXPECT_NE(&appSettings(), &mine);
}

TEST(SettingsStore, SubkeyNames) { EXPECT_EQ(settingsSubkey("penSetting", "wc3"), "penSetting/wc3"); }

// Every type, awkward names and awkward bytes, through the file and back.
TEST_F(SettingsFileTest, RoundTripIsExact) {
  const double doubles[] = {0.1,
                            -0.0,
                            0.0,
                            1e308,
                            -1e308,
                            DBL_MAX,
                            DBL_MIN,
                            std::numeric_limits<double>::denorm_min(),
                            fromBits(0x000FFFFFFFFFFFFFull),  // largest denormal
                            1.0 / 3.0,
                            640,
                            std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(),
                            std::numeric_limits<double>::quiet_NaN(),
                            fromBits(0xFFF0000000000001ull),  // negative signalling NaN with a payload
                            fromBits(0x7FF8DEADBEEF0001ull)};
  const std::string strings[] = {"",
                                 "/home/kim/그림",
                                 "첫 줄\n둘째 줄\r\n셋째\t줄",
                                 "a=b[c]d\\e;f#g",
                                 raw("nul\0inside"),
                                 "\x01\x1f\x7f",
                                 "\xff\xc0\x80\xed\xa0\x80 bad utf-8 \xea\xb0",
                                 "  spaces  ",
                                 "\\x41 is not A"};
  const std::string names[] = {"", "[x]", "a=b", ";comment", "#hash", "한글 키", "line\nbreak", "back\\slash"};

  FileSettingsStore out(file.string());
  for (size_t i = 0; i < std::size(doubles); ++i) out.setDouble("paper", "d" + std::to_string(i), doubles[i]);
  for (size_t i = 0; i < std::size(strings); ++i) out.setString("fileIO", "s" + std::to_string(i), strings[i]);
  out.setInt("config", "min", INT32_MIN);
  out.setInt("config", "max", INT32_MAX);
  out.setInt("config", "zero", 0);
  out.setBool("config", "yes", true);
  out.setBool("config", "no", false);
  SettingsBytes all(256);
  for (int i = 0; i < 256; ++i) all[size_t(i)] = uint8_t(i);
  out.setBinary("blob", "all", all);
  out.setBinary("blob", "empty", {});
  for (const std::string& n : names) {
    out.setString(n, n, n);
    out.setString("penSetting/" + n, "v", n);
  }
  ASSERT_TRUE(out.save());

  // Only escaped text: no control bytes but the line ends; Korean stays readable.
  const std::string text = readAll(file);
  for (char c : text) EXPECT_TRUE(uint8_t(c) >= 0x20 || c == '\n') << int(c);
  EXPECT_NE(text.find("\ns1=s:/home/kim/그림\n"), std::string::npos);
  EXPECT_NE(text.find("[penSetting/"), std::string::npos);

  FileSettingsStore in(file.string());
  ScopedUiCapture capture;
  ASSERT_EQ(in.load(), SettingsLoad::Loaded);
  EXPECT_TRUE(capture.capture.warnings.empty());
  EXPECT_TRUE(in == out);
  for (size_t i = 0; i < std::size(doubles); ++i) {
    double d = 0;
    ASSERT_TRUE(in.getDouble("paper", "d" + std::to_string(i), d));
    EXPECT_EQ(bitsOf(d), bitsOf(doubles[i])) << i;
  }
  for (size_t i = 0; i < std::size(strings); ++i) {
    std::string s;
    ASSERT_TRUE(in.getString("fileIO", "s" + std::to_string(i), s));
    EXPECT_EQ(s, strings[i]) << i;
  }
  int32_t v = 0;
  EXPECT_TRUE(in.getInt("config", "min", v));
  EXPECT_EQ(v, INT32_MIN);
  SettingsBytes bytes;
  EXPECT_TRUE(in.getBinary("blob", "all", bytes));
  EXPECT_EQ(bytes, all);
  EXPECT_EQ(in.sections(), out.sections());
}

TEST(SettingsStore, ReadsEditedFiles) {
  // Line ends of another system, comments, no final line end, a section
  // given twice, upper-case hex, numbers as people write them.
  MemorySettingsStore s;
  EXPECT_TRUE(s.parse("; comment\r\n# another\r\n[config]\r\nundoMax=i:007\r\n\r\n[paper]\nw0=d:6.4e2\n"
                      "[CONFIG]\ngridW=i:-0\nblob=x:0AfF\nflag=b:1"));
  int32_t v = 0;
  double d = 0;
  bool b = false;
  SettingsBytes bytes;
  EXPECT_TRUE(s.getInt("config", "undoMax", v));
  EXPECT_EQ(v, 7);
  EXPECT_TRUE(s.getInt("config", "gridW", v));
  EXPECT_EQ(v, 0);
  EXPECT_TRUE(s.getDouble("paper", "w0", d));
  EXPECT_EQ(d, 640);
  EXPECT_TRUE(s.getBinary("config", "blob", bytes));
  EXPECT_EQ(bytes, (SettingsBytes{0x0A, 0xFF}));
  EXPECT_TRUE(s.getBool("config", "flag", b));
  EXPECT_TRUE(b);
  EXPECT_EQ(s.sections(), (std::vector<std::string>{"config", "paper"}));
}

struct DamageCase {
  const char* name;
  std::string text;
  std::vector<std::string> kept;  // keys of section "k" that survive
};

class SettingsDamage : public SettingsFileTest, public testing::WithParamInterface<DamageCase> {};

// A damaged file: the lines understood are kept, the user is told once, the
// file stays as it was until the settings are written, and a copy is kept.
TEST_P(SettingsDamage, KeepsWhatItCanAndWarnsOnce) {
  const DamageCase& c = GetParam();
  writeAll(file, c.text);
  FileSettingsStore s(file.string());
  s.setInt("stale", "x", 1);  // loading replaces everything
  ScopedUiCapture capture;
  EXPECT_EQ(s.load(), SettingsLoad::Damaged);
  ASSERT_EQ(capture.capture.warnings.size(), 1u);
  EXPECT_EQ(capture.capture.warnings[0], text(TextId::SettingsDamaged));
  EXPECT_EQ(s.keys("k"), c.kept);
  EXPECT_TRUE(s.keys("stale").empty());

  EXPECT_EQ(readAll(file), c.text);
  fs::path backup = file;
  backup += ".damaged";
  EXPECT_EQ(readAll(backup), c.text);

  ASSERT_TRUE(s.save());
  EXPECT_EQ(readAll(backup), c.text);
  FileSettingsStore again(file.string());
  EXPECT_EQ(again.load(), SettingsLoad::Loaded);
  EXPECT_TRUE(again == s);
  EXPECT_EQ(capture.capture.warnings.size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsDamage,
    testing::Values(
        DamageCase{"Garbage", "this is not a settings file\nnor is this\n", {}},
        DamageCase{"TruncatedMidEscape", "[k]\na=s:first\nb=s:cut \\", {"a"}},
        DamageCase{"TruncatedHexEscape", "[k]\na=s:x\\x4", {}},
        DamageCase{"UnknownEscape", "[k]\na=s:\\q\nb=i:1\n", {"b"}},
        DamageCase{"BinaryJunk", raw("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\xff\xfe"), {}},
        DamageCase{"NulInValue", raw("[k]\na=s:x\0y\nb=i:1\nc=i:1\0\n"), {"b"}},
        DamageCase{"RawControlByte", "[k]\na=s:tab\there\nb=b:0\n", {"b"}},
        DamageCase{"WrongValues",
                   "[k]\na=i:2147483648\nb=i:1.5\nc=b:2\nd=d:1e999\ne=x:abc\nf=x:zz\ng=q:1\nh=i:\ni=i 1\nok=d:-0\n",
                   {"ok"}},
        DamageCase{"KeyBeforeSection", "a=i:1\n[k]\nb=i:2\n", {"b"}},
        DamageCase{"BrokenHeader", "[k]\na=i:1\n[k\nb=i:2\n[x] trailing\nc=i:3\n", {"a"}}),
    [](const testing::TestParamInfo<DamageCase>& info) { return info.param.name; });

TEST_F(SettingsFileTest, MissingFileIsAFirstStart) {
  FileSettingsStore s(file.string());
  ScopedUiCapture capture;
  EXPECT_EQ(s.load(), SettingsLoad::Missing);
  EXPECT_TRUE(capture.capture.warnings.empty());
  EXPECT_TRUE(s.sections().empty());
  EXPECT_TRUE(folderNames(dir).empty());
}

// A folder where the file should be cannot be read nor replaced; the
// program goes on with defaults.
TEST_F(SettingsFileTest, FolderInPlaceOfTheFile) {
  fs::create_directory(file);
  FileSettingsStore s(file.string());
  ScopedUiCapture capture;
  EXPECT_EQ(s.load(), SettingsLoad::Unreadable);
  EXPECT_EQ(capture.capture.warnings.size(), 1u);
  EXPECT_TRUE(s.sections().empty());
  s.setInt("k", "a", 1);
  EXPECT_FALSE(s.save());
  EXPECT_TRUE(fs::is_directory(file));
  EXPECT_EQ(folderNames(dir), std::vector<std::string>{file.filename().string()});
}

TEST_F(SettingsFileTest, OversizedFileIsRefused) {
  {
    std::ofstream out(file, std::ios::binary);
    out << "[k]\na=i:1\n";
  }
  fs::resize_file(file, kMaxSettingsFileBytes + 1);
  FileSettingsStore s(file.string());
  ScopedUiCapture capture;
  EXPECT_EQ(s.load(), SettingsLoad::Unreadable);
  EXPECT_EQ(capture.capture.warnings.size(), 1u);
  EXPECT_TRUE(s.sections().empty());
  fs::path backup = file;
  backup += ".damaged";
  EXPECT_EQ(fs::file_size(backup), kMaxSettingsFileBytes + 1);
  EXPECT_EQ(fs::file_size(file), kMaxSettingsFileBytes + 1);
}

// The file is replaced in one step; nothing else is left in the folder.
TEST_F(SettingsFileTest, AtomicWriteLeavesNoTemporaryFiles) {
  const fs::path nested = dir / "brennholt" / "Velluminar3 Plus.ini";
  FileSettingsStore s(nested.string());
  s.setInt("config", "undoMax", 8);
  ASSERT_TRUE(s.save());
  s.setInt("config", "undoMax", 9);
  ASSERT_TRUE(s.save());
  EXPECT_EQ(folderNames(dir / "brennholt"), std::vector<std::string>{"Velluminar3 Plus.ini"});
  EXPECT_EQ(fs::status(nested).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  FileSettingsStore in(nested.string());
  EXPECT_EQ(in.load(), SettingsLoad::Loaded);
  int32_t v = 0;
  EXPECT_TRUE(in.getInt("config", "undoMax", v));
  EXPECT_EQ(v, 9);

  // A folder that cannot be made: the write fails and leaves nothing.
  writeAll(dir / "plain", "x");
  FileSettingsStore bad((dir / "plain" / "sub" / "x.ini").string());
  EXPECT_FALSE(bad.save());
  EXPECT_EQ(readAll(dir / "plain"), "x");
  EXPECT_FALSE(FileSettingsStore("").save());
}

TEST(SettingsStore, FileLocationFollowsXdg) {
  ScopedEnv home("HOME", "/home/kim");
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "/tmp/cfg");
    EXPECT_EQ(settingsFilePath(), "/tmp/cfg/brennholt/Velluminar3 Plus.ini");
    EXPECT_EQ(settingsFilePath("Software\\brennholt\\Velluminar2"), "/tmp/cfg/brennholt/Velluminar2.ini");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "");
    EXPECT_EQ(settingsFilePath(), "/home/kim/.config/brennholt/Velluminar3 Plus.ini");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "relative/cfg");  // relative paths are ignored
    EXPECT_EQ(settingsFilePath(), "/home/kim/.config/brennholt/Velluminar3 Plus.ini");
  }
  ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
  EXPECT_EQ(settingsFilePath(), "/home/kim/.config/brennholt/Velluminar3 Plus.ini");
}

}  // namespace
}  // namespace vl

namespace vl {
namespace {

// A pipe in the settings file's place neither stalls the start nor is replaced.
TEST(FileSettings, APipeInPlaceOfTheFileIsUnreadableAndKept) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "vl-fifo-XXXXXX").string();
  ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
  const std::string path = tmpl + "/settings.ini";
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  ScopedUiCapture capture;
  FileSettingsStore store(path);
  EXPECT_EQ(store.load(), SettingsLoad::Unreadable);
  EXPECT_FALSE(store.save());
  struct stat st;
  ASSERT_EQ(::lstat(path.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  std::error_code ec;
  std::filesystem::remove_all(tmpl, ec);
}

// A file name near the system's limit still saves: the temporary name is short.
TEST(FileSettings, ALongFileNameStillSaves) {
  std::string tmpl = (std::filesystem::temp_directory_path() / "vl-long-XXXXXX").string();
  ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
  const std::string path = tmpl + "/" + std::string(250, 'n') + ".ini";
  FileSettingsStore store(path);
  EXPECT_TRUE(store.save());
  EXPECT_TRUE(std::filesystem::exists(path));
  std::error_code ec;
  std::filesystem::remove_all(tmpl, ec);
}

}  // namespace
}  // namespace vl
