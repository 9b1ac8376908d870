#include "platform/app_profile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>

#include "platform/ui_services.h"

namespace vl {
namespace {

namespace fs = std::filesystem;

MachineFacts testFacts(double calibration = 5e8) {
  MachineFacts f;
  f.programFolder = "/opt/velluminar";
  f.programFile = "velluminar";
  f.codePage = 65001;
  f.lcid = 0x0412;
  f.timingCalibration = calibration;
  f.screenWidth = 1920;
  f.screenHeight = 1080;
  return f;
}

// The profile after reading `store`, written to a fresh store.
MemorySettingsStore roundTrip(const SettingsStore& store, const MachineFacts& facts = testFacts()) {
  CAppProfile p;
  p.load(store, facts);
  MemorySettingsStore out;
  p.save(out);
  return out;
}

struct KeyDefault {
  const char* section;
  std::string key;
  SettingsValue value;
};

std::vector<KeyDefault> firstStartKeys() {
  const std::string folder = "/opt/velluminar";
  std::vector<KeyDefault> t = {
      {"fileIO", "appPath", folder},
      {"fileIO", "loadPath", folder},
      {"fileIO", "savePath", folder},
      {"fileIO", "eventPath", folder},
      {"fileIO", "palPath", folder},
      {"fileIO", "palFile", std::string()},
      {"fileIO", "tonePath", folder},
      {"fileIO", "toneFile", std::string()},
      {"fileIO", "gradPath", folder},
      {"fileIO", "gradFile", std::string()},
      {"fileIO", "pictLoadExtIdx", 1},
      {"fileIO", "eventLoadExtIdx", 1},
      {"fileIO", "silentFileIO", false},
      {"fileIO", "jpegUseProgressive", false},
      {"fileIO", "jpegUseSmooth", false},
      {"fileIO", "jpegValSmooth", 0},
      {"fileIO", "jpegQType", 1},
      {"fileIO", "jpegQuality", 90},
      {"fileIO", "jpegQVHigh", 100},
      {"fileIO", "jpegQHigh", 90},
      {"fileIO", "jpegQStd", 75},
      {"fileIO", "jpegQLow", 50},
      {"fileIO", "psdSaveVer", 6},
      {"fileIO", "psdSaveFlags", 0},
      {"fileIO", "pngLevel", -1},
      {"config", "appVerID", 11},
      {"config", "lastCP", 65001},
      {"config", "lastLCID", 0x0412},
      {"config", "gridW", 25},
      {"config", "gridH", 25},
      {"config", "undoMax", 8},
      {"config", "fillLimit", 20},
      {"config", "fillTarget", 0},
      {"config", "wandLimit", 20},
      {"config", "wandTarget", 0},
      {"config", "fillAntiAlias", false},
      {"config", "wandAntiAlias", false},
      {"config", "gradType", 0},
      {"config", "gradMap", 0},
      {"config", "gradRep", 0},
      {"config", "gradRepCnt", 1},
      {"config", "ignoreTablet", false},
      {"config", "eventWait", false},
      {"config", "tabletType", 0},
      {"config", "rgbPalBarFixed", false},
      {"config", "useRBtnColPicker", false},
      {"config", "zoomToolAsButton", false},
      {"config", "useAutoScroll", false},
      {"config", "useFilePreview", true},
      {"config", "useZoomAntialias", false},
      {"config", "mouseMBtnFunc", 0},
      {"config", "opaquePaint", 1.0},
      {"config", "opaqueAreaFill", 1.0},
      {"config", "opaqueSeedFill", 1.0},
      {"config", "opaqueGradate", 1.0},
      {"config", "opaqueDraw", 1.0},
      {"config", "opaqueLine", 1.0},
      {"config", "opaqueFont", 1.0},
      {"config", "language", std::string()},  // follows the locale
      {"color", "fgCol", 0},
      {"color", "bgCol", 0xFFFFFF},
      {"window", "dockSiteCount", 0},
      {"window", "mainWinMax", true},
      {"window", "childWinMax", false},
      {"font", "face", std::string()},
      {"font", "point", 0},
      {"font", "charset", -1},
      {"font", "italic", false},
      {"font", "bold", false},
      {"font", "underline", false},
      {"font", "strikeout", false},
      {"font", "spacing", 0},
      {"font", "leading", 0},
      {"font", "useFont", true},
      {"font", "usePreview", true},
  };
  for (int i = 0; i < 6; ++i) {
    const std::string n = std::to_string(i);
    t.push_back({"paper", "unit" + n, 0});
    t.push_back({"paper", "dpi" + n, 72});
    t.push_back({"paper", "w" + n, 640.0});
    t.push_back({"paper", "h" + n, 480.0});
  }
  for (const char* k : {"ctrlWinVis", "palWinVis", "layerWinVis", "selectWinVis", "previewWinVis", "gcolWinVis",
                        "rgbWinVis", "hsvWinVis", "gradWinVis", "gradWinPanelVis", "toneWinVis", "toneWinPanelVis"})
    t.push_back({"window", k, true});
  for (const char* k :
       {"mainWinX",      "mainWinY",     "mainWinW",     "mainWinH",     "toolWinX",     "toolWinY",
        "ctrlWinX",      "ctrlWinY",     "penWinX",      "penWinY",      "palWinX",      "palWinY",
        "gcolWinX",      "gcolWinY",     "rgbWinX",      "rgbWinY",      "hsvWinX",      "hsvWinY",
        "layerWinX",     "layerWinY",    "layerWinW",    "layerWinH",    "selectWinX",   "selectWinY",
        "selectWinW",    "selectWinH",   "previewWinX",  "previewWinY",  "previewWinW",  "previewWinH",
        "gradWinX",      "gradWinY",     "gradWinPanelH", "gradWinUnitX", "gradWinUnitY", "gradWinRepX",
        "gradWinRepY",   "toneWinX",     "toneWinY",     "toneWinPanelH", "toneWinUnitX", "toneWinUnitY",
        "toneWinRepX",   "toneWinRepY",  "fontDlgX",     "fontDlgY",     "fontDlgW",     "fontDlgH"})
    t.push_back({"window", k, -1});
  return t;
}

// A first start writes every key with its default, and nothing else.
TEST(AppProfile, FirstStartWritesEveryDefault) {
  const MemorySettingsStore saved = roundTrip(MemorySettingsStore());
  const std::vector<KeyDefault> table = firstStartKeys();
  std::map<std::string, size_t> perSection;
  for (const KeyDefault& k : table) {
    const SettingsValue* v = saved.find(k.section, k.key);
    ASSERT_NE(v, nullptr) << k.section << " " << k.key;
    EXPECT_EQ(*v, k.value) << k.section << " " << k.key;
    ++perSection[k.section];
  }
  EXPECT_EQ(saved.sections(), (std::vector<std::string>{"window", "fileIO", "config", "color", "paper", "font"}));
  for (const std::string& s : saved.sections()) EXPECT_EQ(saved.keys(s).size(), perSection[s]) << s;

  CAppProfile p;
  p.load(MemorySettingsStore(), testFacts());
  EXPECT_EQ(p.undoMax, 8);
  EXPECT_EQ(p.jpegQuality, 90);
  EXPECT_EQ(p.psdSaveVer, 6);
  EXPECT_EQ(p.bgCol, 0xFFFFFF);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(p.paperW[i], 640);
    EXPECT_EQ(p.paperH[i], 480);
    EXPECT_EQ(p.paperDpi[i], 72);
  }
}

struct ClampCase {
  const char* section;
  const char* key;
  int32_t stored, read;
};

class AppProfileClamp : public testing::TestWithParam<ClampCase> {};

TEST_P(AppProfileClamp, Table) {
  const ClampCase& c = GetParam();
  MemorySettingsStore in;
  in.setInt(c.section, c.key, c.stored);
  int32_t v = 12345;
  EXPECT_TRUE(roundTrip(in).getInt(c.section, c.key, v));
  EXPECT_EQ(v, c.read);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AppProfileClamp,
    testing::Values(ClampCase{"fileIO", "jpegQType", 9, 4}, ClampCase{"fileIO", "jpegQType", -3, 0},
                    ClampCase{"fileIO", "psdSaveVer", 2, 3}, ClampCase{"fileIO", "psdSaveVer", 8, 7},
                    ClampCase{"fileIO", "psdSaveVer", 5, 5}, ClampCase{"fileIO", "pngLevel", -2, -1}, ClampCase{"fileIO", "pngLevel", 10, 9}, ClampCase{"config", "mouseMBtnFunc", -1, 0},
                    ClampCase{"config", "mouseMBtnFunc", 11, 10}, ClampCase{"fileIO", "jpegQuality", 101, 100},
                    ClampCase{"fileIO", "jpegQLow", -1, 0}, ClampCase{"fileIO", "jpegValSmooth", 500, 100},
                    ClampCase{"fileIO", "jpegQVHigh", 101, 100}, ClampCase{"fileIO", "jpegQHigh", 101, 100},
                    ClampCase{"fileIO", "jpegQStd", 101, 100}, ClampCase{"window", "mainWinW", 50, 200},
                    ClampCase{"window", "mainWinW", -1, -1}, ClampCase{"window", "mainWinW", -5, 200},
                    ClampCase{"window", "mainWinW", 5000, 1920}, ClampCase{"window", "mainWinH", 5000, 1080},
                    ClampCase{"window", "mainWinH", 199, 200}, ClampCase{"window", "mainWinX", -50, -50},
                    ClampCase{"window", "layerWinW", 50, 50}, ClampCase{"config", "fillLimit", 9999, 9999},
                    ClampCase{"config", "undoMax", -4, 0}, ClampCase{"config", "undoMax", 5000, 999}));

TEST(AppProfile, WindowSizeWithoutAScreenSize) {
  MachineFacts f = testFacts();
  f.screenWidth = 0;    // not known: no upper bound
  f.screenHeight = 150; // smaller than the least size
  MemorySettingsStore in;
  in.setInt("window", "mainWinW", 5000);
  in.setInt("window", "mainWinH", 5000);
  CAppProfile p;
  p.load(in, f);
  EXPECT_EQ(p.mainWinW, 5000);
  EXPECT_EQ(p.mainWinH, 200);
}

struct VersionCase {
  std::optional<int32_t> stored;
  bool convertPens;
  bool gradFileCleared;
};

class AppProfileVersion : public testing::TestWithParam<VersionCase> {};

TEST_P(AppProfileVersion, Table) {
  const VersionCase& c = GetParam();
  MemorySettingsStore in;
  if (c.stored) in.setInt("config", "appVerID", *c.stored);
  in.setString("fileIO", "gradFile", "/home/kim/set.grd");
  CAppProfile p;
  p.load(in, testFacts());
  EXPECT_EQ(p.storedVerID, c.stored.value_or(0));
  EXPECT_EQ(p.convertPenPresets, c.convertPens);
  EXPECT_EQ(p.gradFile, c.gradFileCleared ? "" : "/home/kim/set.grd");
  MemorySettingsStore out;
  p.save(out);
  int32_t v = 0;
  EXPECT_TRUE(out.getInt("config", "appVerID", v));
  EXPECT_EQ(v, 11);
}

INSTANTIATE_TEST_SUITE_P(Cases, AppProfileVersion,
                         testing::Values(VersionCase{std::nullopt, true, true}, VersionCase{9, true, true},
                                         VersionCase{10, false, true}, VersionCase{11, false, false},
                                         VersionCase{12, false, false}));

// Records which sections are read and written, in order.
class RecordingStore : public MemorySettingsStore {
 public:
  const SettingsValue* find(std::string_view section, std::string_view key) const override {
    note(section);
    return MemorySettingsStore::find(section, key);
  }
  void put(std::string_view section, std::string_view key, SettingsValue value) override {
    note(section);
    MemorySettingsStore::put(section, key, std::move(value));
  }
  mutable std::vector<std::string> order;

 private:
  void note(std::string_view section) const {
    if (order.empty() || order.back() != section) order.emplace_back(section);
  }
};

TEST(AppProfile, SectionOrder) {
  RecordingStore store;
  CAppProfile p;
  p.load(store, testFacts());
  EXPECT_EQ(store.order, (std::vector<std::string>{"fileIO", "config", "color", "paper", "window", "font"}));

  store.order.clear();
  p.save(store, [&p](SettingsStore& s) {
    s.setInt("docking", "siteCount", 3);
    p.dockSiteCount = 3;
  });
  EXPECT_EQ(store.order,
            (std::vector<std::string>{"docking", "window", "fileIO", "config", "color", "paper", "font"}));
  int32_t v = 0;
  EXPECT_TRUE(store.getInt("window", "dockSiteCount", v));
  EXPECT_EQ(v, 3);
}

// Values of the last run are read; this run's machine facts are written.
TEST(AppProfile, LastRunLocale) {
  MemorySettingsStore in;
  in.setInt("config", "lastCP", 949);
  in.setInt("config", "lastLCID", 0x0411);
  in.setString("fileIO", "appPath", "C:\\old");
  CAppProfile p;
  p.load(in, testFacts());
  EXPECT_EQ(p.lastCP, 949);
  EXPECT_EQ(p.lastLCID, 0x0411);
  MemorySettingsStore out;
  p.save(out);
  int32_t v = 0;
  std::string s;
  EXPECT_TRUE(out.getInt("config", "lastCP", v));
  EXPECT_EQ(v, 65001);
  EXPECT_TRUE(out.getInt("config", "lastLCID", v));
  EXPECT_EQ(v, 0x0412);
  EXPECT_TRUE(out.getString("fileIO", "appPath", s));
  EXPECT_EQ(s, "/opt/velluminar");
}

// Changed values of every type come back as they were written.
TEST(AppProfile, SavedValuesReadBack) {
  CAppProfile a;
  a.load(MemorySettingsStore(), testFacts());
  a.loadPath = "/home/kim/그림\n둘째";
  a.jpegQuality = 77;
  a.silentFileIO = true;
  a.undoMax = 20;
  a.opaqueLine = 0.1;
  a.fgCol = 0x123456;
  a.paperW[5] = 1234.5678;
  a.paperUnit[2] = 2;
  a.mainWinW = 800;
  a.mainWinMax = false;
  a.toneWinRepY = 17;
  a.fontFace = "맑은 고딕";
  a.fontCharset = 129;
  a.fontUsePreview = false;
  MemorySettingsStore first;
  a.save(first);

  CAppProfile b;
  b.load(first, testFacts());
  MemorySettingsStore second;
  b.save(second);
  EXPECT_TRUE(first == second);
  EXPECT_EQ(b.loadPath, a.loadPath);
  EXPECT_EQ(b.paperW[5], 1234.5678);
  EXPECT_EQ(b.fontFace, "맑은 고딕");
}

// "ko" and "en" are kept; anything else follows the locale.
TEST(AppProfile, LanguageSetting) {
  for (const auto& [stored, read] : std::vector<std::pair<std::string, std::string>>{
           {"ko", "ko"}, {"en", "en"}, {"", ""}, {"fr", ""}, {"EN", ""}, {"ko_KR", ""}}) {
    MemorySettingsStore in;
    in.setString("config", "language", stored);
    CAppProfile p;
    p.load(in, testFacts());
    EXPECT_EQ(p.language, read) << stored;
    MemorySettingsStore out;
    p.save(out);
    std::string written = "?";
    EXPECT_TRUE(out.getString("config", "language", written));
    EXPECT_EQ(written, read);
  }
}

// A value of the wrong type is not there: the default stays, and nobody is told.
TEST(AppProfile, WrongTypeTakesTheDefault) {
  MemorySettingsStore in;
  in.setString("config", "undoMax", "20");
  in.setInt("paper", "w0", 800);
  in.setInt("config", "eventWait", 1);  // booleans are integers in the registry
  ScopedUiCapture capture;
  CAppProfile p;
  p.load(in, testFacts());
  EXPECT_EQ(p.undoMax, 8);
  EXPECT_EQ(p.paperW[0], 640);
  EXPECT_TRUE(p.eventWait);
  EXPECT_TRUE(capture.capture.warnings.empty());
}

TEST(AppProfile, OpacityByToolMode) {
  struct Case {
    int mode;
    double CAppProfile::*field;
  };
  const Case cases[] = {{0, &CAppProfile::opaquePaint},     {4, &CAppProfile::opaqueSeedFill},
                        {10, &CAppProfile::opaqueDraw},     {11, &CAppProfile::opaqueAreaFill},
                        {13, &CAppProfile::opaqueAreaFill}, {12, &CAppProfile::opaqueLine},
                        {14, &CAppProfile::opaqueFont},     {19, &CAppProfile::opaqueGradate}};
  for (const Case& c : cases) {
    CAppProfile p;
    p.setOpacity(c.mode, 0.25);
    EXPECT_EQ(p.*c.field, 0.25) << c.mode;
    EXPECT_EQ(p.getOpacity(c.mode), 0.25) << c.mode;
    int changed = 0;
    for (double CAppProfile::*f : {&CAppProfile::opaquePaint, &CAppProfile::opaqueAreaFill,
                                   &CAppProfile::opaqueSeedFill, &CAppProfile::opaqueGradate,
                                   &CAppProfile::opaqueDraw, &CAppProfile::opaqueLine, &CAppProfile::opaqueFont})
      changed += p.*f != 1.0;
    EXPECT_EQ(changed, 1) << c.mode;
  }
  for (int mode : {-1, 1, 2, 3, 5, 9, 15, 18, 20, 1000}) {
    CAppProfile p;
    p.opaquePaint = p.opaqueAreaFill = p.opaqueSeedFill = p.opaqueGradate = p.opaqueDraw = p.opaqueLine =
        p.opaqueFont = 0.5;
    p.setOpacity(mode, 0.25);
    EXPECT_EQ(p.getOpacity(mode), 1.0) << mode;
    EXPECT_EQ(p.opaquePaint + p.opaqueAreaFill + p.opaqueSeedFill + p.opaqueGradate + p.opaqueDraw +
                  p.opaqueLine + p.opaqueFont,
              3.5)
        << mode;
  }
}

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

TEST(AppProfile, MachineFacts) {
  ScopedEnv tmp("TMPDIR", "/var/tmp/");
  ScopedEnv all("LC_ALL", "ko_KR.UTF-8");
  MachineFacts f = gatherMachineFacts("/usr/lib/velluminar/velluminar", 2e9, 0, 1920, 1080);
  EXPECT_EQ(f.programFolder, "/usr/lib/velluminar");
  EXPECT_EQ(f.programFile, "velluminar");
  EXPECT_EQ(f.tempFolder, "/var/tmp");
  EXPECT_EQ(f.monitorCount, 1);
  EXPECT_EQ(f.lcid, 0x0412);
  EXPECT_EQ(f.codePage, 65001);
  EXPECT_EQ(f.langClass, 2);
  EXPECT_EQ(f.screenWidth, 1920);
  EXPECT_GT(f.osVersion, 0);

  // Smooth zoomed display is on by default only on a fast machine.
  CAppProfile p;
  p.load(MemorySettingsStore(), f);
  EXPECT_TRUE(p.useZoomAntialias);
  EXPECT_EQ(p.loadPath, "/usr/lib/velluminar");
  p.load(MemorySettingsStore(), testFacts(1e9));
  EXPECT_FALSE(p.useZoomAntialias);

  ScopedEnv noTmp("TMPDIR", nullptr);
  f = gatherMachineFacts("", 0, 3, 0, 0);
  EXPECT_EQ(f.tempFolder, "/tmp");
  EXPECT_EQ(f.monitorCount, 3);
  char self[4096] = {};
  ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
  EXPECT_EQ(f.programFolder + "/" + f.programFile, self);
}

TEST(AppProfile, LocaleIds) {
  const std::pair<const char*, int32_t> cases[] = {
      {"ko_KR.UTF-8", 0x0412}, {"ko", 0x0412},      {"ja_JP.eucJP", 0x0411}, {"zh_TW.UTF-8", 0x0404},
      {"zh_CN", 0x0804},       {"en_GB.UTF-8", 0x0809}, {"en_US", 0x0409},   {"C", 0x0409},
      {"POSIX", 0x0409},       {"de_DE@euro", 0x0407},  {"", 0x0409}};
  for (const auto& [name, id] : cases) EXPECT_EQ(localeId(name), id) << name;
}

// Start and exit as the program runs them: the file under the XDG folder.
TEST(AppProfile, StartAndExitThroughTheFile) {
  std::string tmpl = (fs::temp_directory_path() / "vl-profile-XXXXXX").string();
  ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
  ScopedEnv xdg("XDG_CONFIG_HOME", tmpl.c_str());
  const std::string path = settingsFilePath();
  EXPECT_EQ(path, tmpl + "/brennholt/Velluminar3 Plus.ini");

  {
    FileSettingsStore store(path);
    EXPECT_EQ(store.load(), SettingsLoad::Missing);
    CAppProfile p;
    p.load(store, testFacts());
    p.undoMax = 30;
    p.paperW[0] = 0.1;
    p.save(store);
    ASSERT_TRUE(store.save());
  }
  FileSettingsStore store(path);
  EXPECT_EQ(store.load(), SettingsLoad::Loaded);
  CAppProfile p;
  p.load(store, testFacts());
  EXPECT_EQ(p.undoMax, 30);
  EXPECT_EQ(p.paperW[0], 0.1);
  EXPECT_EQ(p.appVerID, 11);
  EXPECT_FALSE(p.convertPenPresets);

  std::error_code ec;
  fs::remove_all(tmpl, ec);
}

}  // namespace
}  // namespace vl
