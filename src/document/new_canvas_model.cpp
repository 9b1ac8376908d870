#include "document/new_canvas_model.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <initializer_list>
#include <limits>

#include "platform/app_profile.h"
#include "platform/strings.h"

namespace vl {
namespace {

// Anything typed beyond this reads as this: every product with a resolution
// stays finite and far from the limits of double.
constexpr double kHugeValue = 1e15;
constexpr int kHugeDigits = 15;

void setText(std::string& to, std::string_view from) noexcept {
  try {
    to.assign(from);
  } catch (...) {
    to.clear();
  }
}

// The warnings' "%s" and "%d", filled in order.
std::string formatText(TextId pattern, std::initializer_list<MessageArg> args) noexcept {
  try {
    return formatMessage(text(pattern), args);
  } catch (...) {
    return {};
  }
}

std::string_view fieldName(int field) {
  return text(field == CNewCanvasModel::kWidth    ? TextId::NameWidth
              : field == CNewCanvasModel::kHeight ? TextId::NameHeight
                                                  : TextId::NameResolution);
}

std::string resolutionRangeMessage() {
  return formatText(TextId::ValueOutOfRange, {fieldName(CNewCanvasModel::kResolution),
                                              int64_t(CNewCanvasModel::kMinResolution),
                                              int64_t(CNewCanvasModel::kMaxResolution)});
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

double clampShown(double v) {
  if (!(v > 0)) return 0;  // NaN too
  return std::min(v, kHugeValue);
}

std::string integerText(int64_t v) {
  char buf[24];
  return std::string(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

}  // namespace

std::string_view CNewCanvasModel::Caption() { return text(TextId::NewCanvasCaption); }

std::string_view CNewCanvasModel::TabText(int t) {
  if (t < 0 || t >= kTabCount) return {};
  return text(TextId(int(TextId::NewCanvasTab1) + t));
}

std::string_view CNewCanvasModel::UnitText(int u) {
  switch (u) {
    case kPixel: return text(TextId::UnitPixel);
    case kInch: return text(TextId::UnitInch);
    case kCm: return text(TextId::UnitCm);
    default: return {};
  }
}

std::string_view CNewCanvasModel::ResolutionUnitText() { return text(TextId::UnitPixelsPerInch); }

void CNewCanvasModel::Open(CAppProfile& p, std::optional<ClipboardSize> clipboard) {
  profile = &p;
  if (clipboard)
    loadClipboard(*clipboard);
  else
    load(0);
}

void CNewCanvasModel::SelectTab(int newTab, std::optional<ClipboardSize> clipboard) {
  if (newTab < 0 || newTab >= kTabCount) return;
  if (newTab == kClipboardTab && !clipboard) newTab = 0;
  // Showing a preset tab again would throw away what was typed there.
  if (newTab == tab && newTab != kClipboardTab) return;
  store();
  if (newTab == kClipboardTab)
    loadClipboard(*clipboard);
  else
    load(newTab);
}

void CNewCanvasModel::SelectStoredClipboardTab() {
  if (tab == kClipboardTab) return;
  store();
  load(kClipboardTab);
}

bool CNewCanvasModel::AltKey(char32_t key, std::optional<ClipboardSize> clipboard) {
  if (key >= U'1' && key <= U'6') {
    SelectTab(int(key - U'1'), clipboard);
    return true;
  }
  if (key == U'c' || key == U'C') {
    SelectStoredClipboardTab();
    return true;
  }
  return false;
}

std::string CNewCanvasModel::SetUnit(int newUnit) {
  if (newUnit < kPixel || newUnit > kCm || newUnit == unit) return {};
  Values v;
  std::string message = readAll(v);
  if (!message.empty()) return message;
  // Every conversion goes through inches; without a resolution there is none.
  if (!(v.resolution > 0)) return resolutionRangeMessage();
  std::string shown[2];
  const double sizes[2] = {v.width, v.height};
  for (int i = 0; i < 2; ++i) {
    // Even pixel counts, so that converting back and forth does not drift.
    const int64_t p = (int64_t(ToPixels(sizes[i], unit, v.resolution)) + 1) & ~int64_t(1);
    double value = double(p);
    if (newUnit == kInch)
      value = double(p) / v.resolution;
    else if (newUnit == kCm)
      value = double(p) * 2.54 / v.resolution;
    shown[i] = FormatValue(value, newUnit);
  }
  texts[kWidth].swap(shown[0]);
  texts[kHeight].swap(shown[1]);
  unit = newUnit;
  return {};
}

const std::string& CNewCanvasModel::Text(Field field) const { return texts[std::clamp(int(field), 0, 2)]; }

void CNewCanvasModel::SetText(Field field, std::string_view value) {
  if (field < kWidth || field > kResolution) return;
  setText(texts[field], value);
}

bool CNewCanvasModel::AcceptsTyped(Field field, char32_t c) {
  if (c >= U'0' && c <= U'9') return true;
  if (c == U'.') return field != kResolution;
  return c < 0x20 || c == 0x7F;  // editing keys are not characters
}

std::string CNewCanvasModel::FilterTyped(Field field, std::string_view typed) {
  std::string out;
  try {
    for (char c : typed)
      if (isDigit(c) || (c == '.' && field != kResolution)) out.push_back(c);
  } catch (...) {
    out.clear();
  }
  return out;
}

NewCanvasResult CNewCanvasModel::Ok() {
  NewCanvasResult r;
  Values v;
  r.message = readAll(v);
  if (!r.message.empty()) return r;
  const int32_t px[2] = {ToPixels(v.width, unit, v.resolution), ToPixels(v.height, unit, v.resolution)};
  for (int i = 0; i < 2; ++i) {
    if (px[i] < kMinSize || px[i] > kMaxSize) {
      r.message = formatText(TextId::ValueOutOfRangeShown,
                             {fieldName(i), int64_t(px[i]), int64_t(kMinSize), int64_t(kMaxSize)});
      return r;
    }
  }
  if (v.resolution < kMinResolution || v.resolution > kMaxResolution) {
    r.message = resolutionRangeMessage();
    return r;
  }
  store();
  r.ok = true;
  r.size = {px[0], px[1], int32_t(v.resolution)};
  return r;
}

CNewCanvasModel::ReadStatus CNewCanvasModel::ReadValue(std::string_view s, bool digitsOnly, double& value) {
  if (s.empty()) return ReadStatus::kEmpty;
  if (digitsOnly) {
    double v = 0;
    for (char c : s) {
      if (!isDigit(c)) return ReadStatus::kUnreadable;
      v = std::min(v * 10 + (c - '0'), kHugeValue);  // exact while below 2^53
    }
    value = v;
    return ReadStatus::kOk;
  }
  // An optional sign, then digits with at most one '.'.
  const bool minus = s[0] == '-';
  if (s[0] == '-' || s[0] == '+') s.remove_prefix(1);
  const size_t dot = s.find('.');
  const std::string_view whole = s.substr(0, dot);
  const std::string_view fraction = dot == std::string_view::npos ? std::string_view() : s.substr(dot + 1);
  if (whole.empty() && fraction.empty()) return ReadStatus::kUnreadable;
  if (!std::all_of(whole.begin(), whole.end(), isDigit) || !std::all_of(fraction.begin(), fraction.end(), isDigit))
    return ReadStatus::kUnreadable;
  double v = 0;
  const size_t lead = whole.find_first_not_of('0');
  if (lead != std::string_view::npos && whole.size() - lead > size_t(kHugeDigits)) {
    v = kHugeValue;
  } else {
    const auto res = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::fixed);
    if (res.ec == std::errc::result_out_of_range) v = 0;  // only tiny values get here
    else if (res.ec != std::errc() || res.ptr != s.data() + s.size()) return ReadStatus::kUnreadable;
    v = std::min(v, kHugeValue);
  }
  if (minus && v > 0) return ReadStatus::kNegative;
  value = v;
  return ReadStatus::kOk;
}

int32_t CNewCanvasModel::ToPixels(double v, int u, double r) {
  double x = v;
  if (u == kInch)
    x = v * r;
  else if (u == kCm)
    x = v * r / 2.54;
  // Clamped first: truncating what int cannot hold is undefined.
  if (!(x > 0)) return 0;
  if (x >= double(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
  return int32_t(x);
}

std::string CNewCanvasModel::FormatValue(double v, int u) {
  v = clampShown(v);
  try {
    if (u != kInch && u != kCm) return integerText(int64_t(v));
    char buf[40];
    char* end = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 2).ptr;
    std::string out(buf, end);
    if (out.size() < 4) out.insert(0, 4 - out.size(), ' ');  // the width of "%4.2f"
    return out;
  } catch (...) {
    return {};
  }
}

std::string CNewCanvasModel::readAll(Values& out) const {
  double* const values[3] = {&out.width, &out.height, &out.resolution};
  ReadStatus status[3];
  for (int i = 0; i < 3; ++i) status[i] = ReadValue(texts[i], i == kResolution || unit == kPixel, *values[i]);
  for (int i = 0; i < 3; ++i)
    if (status[i] == ReadStatus::kEmpty) return formatText(TextId::ValueRequired, {fieldName(i)});
  for (int i = 0; i < 3; ++i) {
    if (status[i] == ReadStatus::kUnreadable) return formatText(TextId::NumberUnreadable, {});
    if (status[i] == ReadStatus::kNegative) return formatText(TextId::NumberNegative, {});
  }
  return {};
}

// Fields that cannot be read leave their preset value as it was.
void CNewCanvasModel::store() const {
  if (!profile) return;
  profile->paperUnit[tab] = unit;
  double v = 0;
  if (ReadValue(texts[kWidth], unit == kPixel, v) == ReadStatus::kOk) profile->paperW[tab] = v;
  if (ReadValue(texts[kHeight], unit == kPixel, v) == ReadStatus::kOk) profile->paperH[tab] = v;
  if (ReadValue(texts[kResolution], true, v) == ReadStatus::kOk)
    profile->paperDpi[tab] = int32_t(std::min(v, double(std::numeric_limits<int32_t>::max())));
}

void CNewCanvasModel::load(int newTab) {
  tab = newTab;
  if (!profile) return;
  const int u = profile->paperUnit[tab];
  unit = u >= kPixel && u <= kCm ? u : kPixel;
  std::string shown[3];
  shown[kWidth] = FormatValue(profile->paperW[tab], unit);
  shown[kHeight] = FormatValue(profile->paperH[tab], unit);
  shown[kResolution] = FormatValue(profile->paperDpi[tab], kPixel);
  for (int i = 0; i < 3; ++i) texts[i].swap(shown[i]);
}

void CNewCanvasModel::loadClipboard(ClipboardSize size) {
  tab = kClipboardTab;
  unit = kPixel;
  // In 64 bits: the magnitude of INT32_MIN does not fit in 32.
  std::string shown[3];
  shown[kWidth] = FormatValue(double(std::abs(int64_t(size.width))), kPixel);
  shown[kHeight] = FormatValue(double(std::abs(int64_t(size.height))), kPixel);
  shown[kResolution] = profile ? FormatValue(profile->paperDpi[kClipboardTab], kPixel) : std::string();
  for (int i = 0; i < 3; ++i) texts[i].swap(shown[i]);
}

}  // namespace vl
