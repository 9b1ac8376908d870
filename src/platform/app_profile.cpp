#include "platform/app_profile.h"

#include <sys/utsname.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include "platform/strings.h"

namespace vl {
namespace {

constexpr std::string_view kFileIO = "fileIO", kConfig = "config", kColor = "color", kPaper = "paper",
                           kWindow = "window", kFont = "font";

// One list of keys per section serves both reading and writing.
struct Reader {
  const SettingsStore& store;
  std::string_view section;
  void operator()(std::string_view key, int32_t& v) const { store.getInt(section, key, v); }
  void operator()(std::string_view key, bool& v) const { store.getBool(section, key, v); }
  void operator()(std::string_view key, double& v) const { store.getDouble(section, key, v); }
  void operator()(std::string_view key, std::string& v) const { store.getString(section, key, v); }
};

struct Writer {
  SettingsStore& store;
  std::string_view section;
  void operator()(std::string_view key, int32_t v) const { store.setInt(section, key, v); }
  void operator()(std::string_view key, bool v) const { store.setBool(section, key, v); }
  void operator()(std::string_view key, double v) const { store.setDouble(section, key, v); }
  void operator()(std::string_view key, const std::string& v) const { store.setString(section, key, v); }
};

template <class Io>
void fileIOKeys(CAppProfile& p, const Io& io) {
  io("loadPath", p.loadPath);
  io("savePath", p.savePath);
  io("eventPath", p.eventPath);
  io("palPath", p.palPath);
  io("palFile", p.palFile);
  io("tonePath", p.tonePath);
  io("toneFile", p.toneFile);
  io("gradPath", p.gradPath);
  io("gradFile", p.gradFile);
  io("pictLoadExtIdx", p.pictLoadExtIdx);
  io("eventLoadExtIdx", p.eventLoadExtIdx);
  io("silentFileIO", p.silentFileIO);
  io("jpegUseProgressive", p.jpegUseProgressive);
  io("jpegUseSmooth", p.jpegUseSmooth);
  io("jpegValSmooth", p.jpegValSmooth);
  io("jpegQType", p.jpegQType);
  io("jpegQuality", p.jpegQuality);
  io("jpegQVHigh", p.jpegQVHigh);
  io("jpegQHigh", p.jpegQHigh);
  io("jpegQStd", p.jpegQStd);
  io("jpegQLow", p.jpegQLow);
  io("psdSaveVer", p.psdSaveVer);
  io("psdSaveFlags", p.psdSaveFlags);
  io("pngLevel", p.pngLevel);
}

// "appVerID", "lastCP" and "lastLCID" are handled apart.
template <class Io>
void configKeys(CAppProfile& p, const Io& io) {
  io("gridW", p.gridW);
  io("gridH", p.gridH);
  io("undoMax", p.undoMax);
  io("fillLimit", p.fillLimit);
  io("fillTarget", p.fillTarget);
  io("wandLimit", p.wandLimit);
  io("wandTarget", p.wandTarget);
  io("fillAntiAlias", p.fillAntiAlias);
  io("wandAntiAlias", p.wandAntiAlias);
  io("gradType", p.gradType);
  io("gradMap", p.gradMap);
  io("gradRep", p.gradRep);
  io("gradRepCnt", p.gradRepCnt);
  io("ignoreTablet", p.ignoreTablet);
  io("eventWait", p.eventWait);
  io("tabletType", p.tabletType);
  io("rgbPalBarFixed", p.rgbPalBarFixed);
  io("useRBtnColPicker", p.useRBtnColPicker);
  io("zoomToolAsButton", p.zoomToolAsButton);
  io("useAutoScroll", p.useAutoScroll);
  io("useFilePreview", p.useFilePreview);
  io("useZoomAntialias", p.useZoomAntialias);
  io("mouseMBtnFunc", p.mouseMBtnFunc);
  io("opaquePaint", p.opaquePaint);
  io("opaqueAreaFill", p.opaqueAreaFill);
  io("opaqueSeedFill", p.opaqueSeedFill);
  io("opaqueGradate", p.opaqueGradate);
  io("opaqueDraw", p.opaqueDraw);
  io("opaqueLine", p.opaqueLine);
  io("opaqueFont", p.opaqueFont);
  io("language", p.language);
}

template <class Io>
void colorKeys(CAppProfile& p, const Io& io) {
  io("fgCol", p.fgCol);
  io("bgCol", p.bgCol);
}

template <class Io>
void paperKeys(CAppProfile& p, const Io& io) {
  for (int i = 0; i < CAppProfile::kPaperPresets; ++i) {
    const std::string n = std::to_string(i);
    io("unit" + n, p.paperUnit[i]);
    io("dpi" + n, p.paperDpi[i]);
    io("w" + n, p.paperW[i]);
    io("h" + n, p.paperH[i]);
  }
}

template <class Io>
void windowKeys(CAppProfile& p, const Io& io) {
  io("dockSiteCount", p.dockSiteCount);
  io("mainWinX", p.mainWinX);
  io("mainWinY", p.mainWinY);
  io("mainWinW", p.mainWinW);
  io("mainWinH", p.mainWinH);
  io("mainWinMax", p.mainWinMax);
  io("childWinMax", p.childWinMax);
  io("ctrlWinVis", p.ctrlWinVis);
  io("palWinVis", p.palWinVis);
  io("layerWinVis", p.layerWinVis);
  io("selectWinVis", p.selectWinVis);
  io("previewWinVis", p.previewWinVis);
  io("toolWinX", p.toolWinX);
  io("toolWinY", p.toolWinY);
  io("ctrlWinX", p.ctrlWinX);
  io("ctrlWinY", p.ctrlWinY);
  io("penWinX", p.penWinX);
  io("penWinY", p.penWinY);
  io("palWinX", p.palWinX);
  io("palWinY", p.palWinY);
  io("gcolWinVis", p.gcolWinVis);
  io("gcolWinX", p.gcolWinX);
  io("gcolWinY", p.gcolWinY);
  io("rgbWinVis", p.rgbWinVis);
  io("rgbWinX", p.rgbWinX);
  io("rgbWinY", p.rgbWinY);
  io("hsvWinVis", p.hsvWinVis);
  io("hsvWinX", p.hsvWinX);
  io("hsvWinY", p.hsvWinY);
  io("layerWinX", p.layerWinX);
  io("layerWinY", p.layerWinY);
  io("layerWinW", p.layerWinW);
  io("layerWinH", p.layerWinH);
  io("selectWinX", p.selectWinX);
  io("selectWinY", p.selectWinY);
  io("selectWinW", p.selectWinW);
  io("selectWinH", p.selectWinH);
  io("previewWinX", p.previewWinX);
  io("previewWinY", p.previewWinY);
  io("previewWinW", p.previewWinW);
  io("previewWinH", p.previewWinH);
  io("gradWinVis", p.gradWinVis);
  io("gradWinX", p.gradWinX);
  io("gradWinY", p.gradWinY);
  io("gradWinPanelVis", p.gradWinPanelVis);
  io("gradWinPanelH", p.gradWinPanelH);
  io("gradWinUnitX", p.gradWinUnitX);
  io("gradWinUnitY", p.gradWinUnitY);
  io("gradWinRepX", p.gradWinRepX);
  io("gradWinRepY", p.gradWinRepY);
  io("toneWinVis", p.toneWinVis);
  io("toneWinX", p.toneWinX);
  io("toneWinY", p.toneWinY);
  io("toneWinPanelVis", p.toneWinPanelVis);
  io("toneWinPanelH", p.toneWinPanelH);
  io("toneWinUnitX", p.toneWinUnitX);
  io("toneWinUnitY", p.toneWinUnitY);
  io("toneWinRepX", p.toneWinRepX);
  io("toneWinRepY", p.toneWinRepY);
  io("fontDlgX", p.fontDlgX);
  io("fontDlgY", p.fontDlgY);
  io("fontDlgW", p.fontDlgW);
  io("fontDlgH", p.fontDlgH);
}

template <class Io>
void fontKeys(CAppProfile& p, const Io& io) {
  io("face", p.fontFace);
  io("point", p.fontPoint);
  io("charset", p.fontCharset);
  io("italic", p.fontItalic);
  io("bold", p.fontBold);
  io("underline", p.fontUnderline);
  io("strikeout", p.fontStrikeout);
  io("spacing", p.fontSpacing);
  io("leading", p.fontLeading);
  io("useFont", p.fontUseFont);
  io("usePreview", p.fontUsePreview);
}

void clampInt(int32_t& v, int32_t lo, int32_t hi) { v = std::clamp(v, lo, hi); }

// A stored main window size is at least 200 and at most the screen; −1 means none.
void clampWindowSize(int32_t& v, int32_t screen) {
  if (v == -1) return;
  v = std::max(v, 200);
  if (screen > 0) v = std::min(v, std::max(screen, 200));
}

double CAppProfile::*opacityField(int mode) {
  switch (mode) {
    case 0: return &CAppProfile::opaquePaint;
    case 4: return &CAppProfile::opaqueSeedFill;
    case 10: return &CAppProfile::opaqueDraw;
    case 11:
    case 13: return &CAppProfile::opaqueAreaFill;
    case 12: return &CAppProfile::opaqueLine;
    case 14: return &CAppProfile::opaqueFont;
    case 19: return &CAppProfile::opaqueGradate;
    default: return nullptr;
  }
}

std::string withoutTrailingSlash(std::string s) {
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s;
}

}  // namespace

void CAppProfile::resetDefaults() {
  MachineFacts facts = std::move(machine);
  *this = CAppProfile();
  machine = std::move(facts);
  loadPath = savePath = eventPath = palPath = tonePath = gradPath = machine.programFolder;
  lastCP = machine.codePage;
  lastLCID = machine.lcid;
  useZoomAntialias = machine.timingCalibration > 1e9;
}

void CAppProfile::load(const SettingsStore& store, const MachineFacts& facts) {
  machine = facts;
  resetDefaults();
  fileIOKeys(*this, Reader{store, kFileIO});

  storedVerID = 0;
  store.getInt(kConfig, "appVerID", storedVerID);
  const Reader config{store, kConfig};
  config("lastCP", lastCP);
  config("lastLCID", lastLCID);
  configKeys(*this, config);

  colorKeys(*this, Reader{store, kColor});
  paperKeys(*this, Reader{store, kPaper});
  windowKeys(*this, Reader{store, kWindow});
  fontKeys(*this, Reader{store, kFont});

  clampInt(jpegValSmooth, 0, 100);
  clampInt(jpegQType, 0, 4);
  clampInt(jpegQuality, 0, 100);
  clampInt(jpegQVHigh, 0, 100);
  clampInt(jpegQHigh, 0, 100);
  clampInt(jpegQStd, 0, 100);
  clampInt(jpegQLow, 0, 100);
  clampInt(psdSaveVer, 3, 7);
  clampInt(pngLevel, -1, 9);
  // The undo depth also sizes every paper's event history.
  clampInt(undoMax, 0, 999);
  clampInt(mouseMBtnFunc, 0, 10);
  clampWindowSize(mainWinW, machine.screenWidth);
  clampWindowSize(mainWinH, machine.screenHeight);
  if (Language l; !parseLanguage(language, l)) language.clear();

  // Older generations: the pen settings copy the previous version's presets,
  // and gradation set files of 10 and before are not read again.
  convertPenPresets = storedVerID < 10;
  if (storedVerID <= 10) gradFile.clear();
  appVerID = kProfileVersion;
}

void CAppProfile::save(SettingsStore& store, const std::function<void(SettingsStore&)>& saveDocking) {
  if (saveDocking) saveDocking(store);
  windowKeys(*this, Writer{store, kWindow});

  store.setString(kFileIO, "appPath", machine.programFolder);
  fileIOKeys(*this, Writer{store, kFileIO});

  store.setInt(kConfig, "appVerID", appVerID);
  store.setInt(kConfig, "lastCP", machine.codePage);
  store.setInt(kConfig, "lastLCID", machine.lcid);
  configKeys(*this, Writer{store, kConfig});

  colorKeys(*this, Writer{store, kColor});
  paperKeys(*this, Writer{store, kPaper});
  fontKeys(*this, Writer{store, kFont});
}

double CAppProfile::getOpacity(int mode) const {
  double CAppProfile::*field = opacityField(mode);
  return field ? this->*field : 1.0;
}

void CAppProfile::setOpacity(int mode, double value) {
  if (double CAppProfile::*field = opacityField(mode)) this->*field = value;
}

int32_t localeId(std::string_view name) {
  const size_t end = name.find_first_of(".@");
  name = name.substr(0, end);
  const size_t bar = name.find('_');
  const std::string_view lang = name.substr(0, bar);
  const std::string_view region = bar == std::string_view::npos ? std::string_view() : name.substr(bar + 1);
  if (lang == "ko") return 0x0412;
  if (lang == "ja") return 0x0411;
  if (lang == "zh") return region == "TW" ? 0x0404 : 0x0804;
  if (lang == "de") return 0x0407;
  if (lang == "fr") return 0x040C;
  if (lang == "en" && region == "GB") return 0x0809;
  return 0x0409;
}

MachineFacts gatherMachineFacts(std::string_view executablePath, double timingCalibration, int32_t monitorCount,
                                int32_t screenWidth, int32_t screenHeight) {
  MachineFacts f;
  for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"})
    if (const char* v = std::getenv(var); v && *v) {
      f.lcid = localeId(v);
      break;
    }

  utsname u;
  if (::uname(&u) == 0) {
    std::string_view r = u.release;
    int major = 0, minor = 0;
    auto p = std::from_chars(r.data(), r.data() + r.size(), major);
    if (p.ec == std::errc() && p.ptr < r.data() + r.size() && *p.ptr == '.') {
      std::from_chars(p.ptr + 1, r.data() + r.size(), minor);
      if (major >= 0 && major < 100000 && minor >= 0 && minor < 100) f.osVersion = major * 100 + minor;
    }
  }

  f.timingCalibration = timingCalibration;
  f.monitorCount = std::max(monitorCount, 1);
  f.screenWidth = std::max(screenWidth, 0);
  f.screenHeight = std::max(screenHeight, 0);

  std::string exe(executablePath);
  if (exe.empty()) {
    std::error_code ec;
    exe = std::filesystem::read_symlink("/proc/self/exe", ec).string();
  }
  const size_t slash = exe.rfind('/');
  f.programFile = exe.substr(slash == std::string::npos ? 0 : slash + 1);
  f.programFolder = slash == std::string::npos ? std::string(".") : exe.substr(0, slash == 0 ? 1 : slash);

  const char* tmp = std::getenv("TMPDIR");
  f.tempFolder = withoutTrailingSlash(tmp && *tmp ? tmp : "/tmp");
  return f;
}

CAppProfile& appProfile() {
  static CAppProfile profile;
  return profile;
}

}  // namespace vl
