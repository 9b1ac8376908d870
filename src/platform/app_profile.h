#pragma once
// The user's preferences and the facts about the machine, one object for the
// whole process. Read from the settings store once at start, written back at
// exit; every part reads its settings here and commands change them here.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/settings_store.h"

namespace vl {

// Facts gathered at start; never stored.
struct MachineFacts {
  int32_t lcid = 0x0409;                   // the user's locale as a Windows locale id
  int32_t codePage = 65001;                // all text is UTF-8
  int32_t langClass = 2;                   // the same in every run
  bool isNT = true;                        // the modern family: big clipboard blocks are fine
  int32_t osVersion = 0;                   // kernel major × 100 + minor
  int64_t perfFrequency = 1000000000;      // ticks per second of the steady clock
  double timingCalibration = 0;            // measured by the files library at start
  int32_t monitorCount = 1;                // at least 1
  int32_t screenWidth = 0, screenHeight = 0;  // primary screen; 0 when not known
  std::string windowsFolder;               // no such folder here: empty
  std::string programFolder;               // folder of the executable, no trailing '/'
  std::string programFile;                 // file name of the executable
  std::string tempFolder;                  // $TMPDIR, else /tmp; no trailing '/'
};

// Fills the facts. An empty executablePath takes /proc/self/exe; the monitor
// count is raised to 1.
MachineFacts gatherMachineFacts(std::string_view executablePath, double timingCalibration, int32_t monitorCount,
                                int32_t screenWidth, int32_t screenHeight);
// Windows locale id for a POSIX locale name ("ko_KR.UTF-8" → 0x0412); 0x0409 when not known.
int32_t localeId(std::string_view posixLocale);

// Settings generation written by this version.
inline constexpr int32_t kProfileVersion = 11;

class CAppProfile {
 public:
  // Resets every key to its default (some follow the facts), then reads the
  // sections fileIO, config, color, paper, window, font and clamps.
  void load(const SettingsStore& store, const MachineFacts& facts);
  // Writes docking (through saveDocking, which may set dockSiteCount), window,
  // fileIO, config, color, paper, font. The shell stores its window positions first.
  void save(SettingsStore& store, const std::function<void(SettingsStore&)>& saveDocking = {});
  // Defaults for the current facts, as on a first start.
  void resetDefaults();

  // Tool opacity by tool mode; modes without one read 1 and ignore writes.
  double getOpacity(int mode) const;
  void setOpacity(int mode, double value);

  MachineFacts machine;

  // fileIO ("appPath" is written from the facts)
  std::string loadPath, savePath, eventPath, palPath, palFile, tonePath, toneFile, gradPath, gradFile;
  int32_t pictLoadExtIdx = 1, eventLoadExtIdx = 1;
  bool silentFileIO = false, jpegUseProgressive = false, jpegUseSmooth = false;
  int32_t jpegValSmooth = 0;  // 0 … 100
  int32_t jpegQType = 1;      // 0 … 4
  int32_t jpegQuality = 90, jpegQVHigh = 100, jpegQHigh = 90, jpegQStd = 75, jpegQLow = 50;  // 0 … 100
  int32_t psdSaveVer = 6;     // 3 … 7
  int32_t psdSaveFlags = 0;
  int32_t pngLevel = -1;      // −1 automatic (fast for large pictures), 0 … 9

  // config
  int32_t appVerID = kProfileVersion;  // after load always the current generation
  int32_t storedVerID = 0;             // as read; 0 when missing
  bool convertPenPresets = false;      // stored generation below 10: the pen settings copy the old presets
  int32_t lastCP = 0, lastLCID = 0;    // of the previous run; this run's are written
  int32_t gridW = 25, gridH = 25;
  int32_t undoMax = 8;
  int32_t fillLimit = 20, fillTarget = 0, wandLimit = 20, wandTarget = 0;
  bool fillAntiAlias = false, wandAntiAlias = false;
  int32_t gradType = 0, gradMap = 0, gradRep = 0, gradRepCnt = 1;
  bool ignoreTablet = false, eventWait = false;
  int32_t tabletType = 0;
  bool rgbPalBarFixed = false, useRBtnColPicker = false, zoomToolAsButton = false, useAutoScroll = false;
  bool useFilePreview = true;
  bool useZoomAntialias = false;  // default: timing calibration above 1e9
  int32_t mouseMBtnFunc = 0;      // 0 … 10
  double opaquePaint = 1, opaqueAreaFill = 1, opaqueSeedFill = 1, opaqueGradate = 1, opaqueDraw = 1,
         opaqueLine = 1, opaqueFont = 1;
  // "ko" or "en": the language of the windowed program; empty follows the
  // locale. Any other value reads as empty. The "--lang" switch wins.
  std::string language;

  // color
  int32_t fgCol = 0, bgCol = 0xFFFFFF;

  // paper: six new-paper presets
  static constexpr int kPaperPresets = 6;
  int32_t paperUnit[kPaperPresets] = {0, 0, 0, 0, 0, 0};
  int32_t paperDpi[kPaperPresets] = {72, 72, 72, 72, 72, 72};
  double paperW[kPaperPresets] = {640, 640, 640, 640, 640, 640};
  double paperH[kPaperPresets] = {480, 480, 480, 480, 480, 480};

  // window: −1 = no stored place
  int32_t dockSiteCount = 0;
  int32_t mainWinX = -1, mainWinY = -1, mainWinW = -1, mainWinH = -1;  // W, H: 200 … screen when stored
  bool mainWinMax = true, childWinMax = false;
  bool ctrlWinVis = true, palWinVis = true, layerWinVis = true, selectWinVis = true, previewWinVis = true;
  int32_t toolWinX = -1, toolWinY = -1, ctrlWinX = -1, ctrlWinY = -1, penWinX = -1, penWinY = -1, palWinX = -1,
          palWinY = -1;
  bool gcolWinVis = true;
  int32_t gcolWinX = -1, gcolWinY = -1;
  bool rgbWinVis = true;
  int32_t rgbWinX = -1, rgbWinY = -1;
  bool hsvWinVis = true;
  int32_t hsvWinX = -1, hsvWinY = -1;
  int32_t layerWinX = -1, layerWinY = -1, layerWinW = -1, layerWinH = -1;
  int32_t selectWinX = -1, selectWinY = -1, selectWinW = -1, selectWinH = -1;
  int32_t previewWinX = -1, previewWinY = -1, previewWinW = -1, previewWinH = -1;
  bool gradWinVis = true;
  int32_t gradWinX = -1, gradWinY = -1;
  bool gradWinPanelVis = true;
  int32_t gradWinPanelH = -1, gradWinUnitX = -1, gradWinUnitY = -1, gradWinRepX = -1, gradWinRepY = -1;
  bool toneWinVis = true;
  int32_t toneWinX = -1, toneWinY = -1;
  bool toneWinPanelVis = true;
  int32_t toneWinPanelH = -1, toneWinUnitX = -1, toneWinUnitY = -1, toneWinRepX = -1, toneWinRepY = -1;
  int32_t fontDlgX = -1, fontDlgY = -1, fontDlgW = -1, fontDlgH = -1;

  // font (text tool)
  std::string fontFace;
  int32_t fontPoint = 0, fontCharset = -1;
  bool fontItalic = false, fontBold = false, fontUnderline = false, fontStrikeout = false;
  int32_t fontSpacing = 0, fontLeading = 0;
  bool fontUseFont = true, fontUsePreview = true;
};

// The process-wide profile.
CAppProfile& appProfile();

}  // namespace vl
