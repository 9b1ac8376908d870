#pragma once
// Rules of the new canvas dialog: six tabs over the six paper presets of the
// settings profile, the unit conversions of the size fields, what typing may
// enter, and the checks of OK. The shell's dialog only shows this model.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vl {

class CAppProfile;

// Size of the bitmap on the clipboard as its header gives it (either sign).
struct ClipboardSize {
  int32_t width = 0, height = 0;
};

// What OK hands to newPaper.
struct NewCanvasSize {
  int32_t width = 0, height = 0, resolution = 0;
};

struct NewCanvasResult {
  bool ok = false;
  NewCanvasSize size;     // when ok
  std::string message;    // when not ok: the warning; the dialog stays open
};

class CNewCanvasModel {
 public:
  static constexpr int kTabCount = 6;
  static constexpr int kClipboardTab = 5;  // its preset is the sixth
  enum : int { kPixel = 0, kInch = 1, kCm = 2 };
  enum Field : int { kWidth = 0, kHeight = 1, kResolution = 2 };
  static constexpr int32_t kMinSize = 8, kMaxSize = 10000;
  static constexpr int32_t kMinResolution = 72, kMaxResolution = 600;

  static std::string_view Caption();
  static std::string_view TabText(int tab);
  static std::string_view UnitText(int unit);
  static std::string_view ResolutionUnitText();

  // Starts a use of the dialog over the profile's presets, which the model
  // changes from then on. With a bitmap on the clipboard the clipboard tab
  // opens with its size; otherwise tab "&1".
  void Open(CAppProfile& profile, std::optional<ClipboardSize> clipboard);

  int Tab() const { return tab; }
  // Stores the tab being left into its preset and shows the new one. The
  // clipboard tab reads the clipboard's size; without a bitmap it falls back
  // to tab "&1".
  void SelectTab(int newTab, std::optional<ClipboardSize> clipboard);
  // The clipboard tab with the values of its preset.
  void SelectStoredClipboardTab();
  // Alt+1 … Alt+6 select the tabs in order, Alt+C the stored clipboard tab.
  // False for any other key.
  bool AltKey(char32_t key, std::optional<ClipboardSize> clipboard);

  int Unit() const { return unit; }
  // Converts the sizes shown into the new unit. Empty on success; otherwise
  // the warning, and nothing changed.
  std::string SetUnit(int newUnit);

  const std::string& Text(Field field) const;
  // The field's whole contents, as an edit holds them (pasted text included).
  void SetText(Field field, std::string_view value);

  // Typing: digits everywhere, '.' except in the resolution field; other
  // printable characters are dropped, control keys pass.
  static bool AcceptsTyped(Field field, char32_t c);
  // What of a typed string (UTF-8) the field takes.
  static std::string FilterTyped(Field field, std::string_view typed);

  // OK and Enter: the size for newPaper, stored into the tab's preset; or the
  // first warning in the order empty fields, unreadable values, width,
  // height, resolution.
  NewCanvasResult Ok();

  // Reading a field: pixel values and resolutions must be digits, inch and cm
  // values non-negative numbers. Values beyond 1e15 read as 1e15.
  enum class ReadStatus { kOk, kEmpty, kUnreadable, kNegative };
  static ReadStatus ReadValue(std::string_view text, bool digitsOnly, double& value);
  // Pixels of value v in a unit at resolution r, truncated; clamped to
  // 0 … INT32_MAX.
  static int32_t ToPixels(double v, int unit, double r);
  // The text a value shows in a unit: pixels as an integer, inches and
  // centimetres as "%4.2f".
  static std::string FormatValue(double v, int unit);

 private:
  struct Values {
    double width = 0, height = 0, resolution = 0;
  };
  std::string readAll(Values& out) const;
  void store() const;
  void load(int newTab);
  void loadClipboard(ClipboardSize size);

  CAppProfile* profile = nullptr;
  int tab = 0;
  int unit = kPixel;
  std::string texts[3];
};

}  // namespace vl
