#include "pixel/text_util.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace vl {

size_t countLeadingSpaces(std::string_view s) {
  size_t n = 0;
  while (n < s.size() && s[n] == ' ') ++n;
  return n;
}

std::string_view skipSpaces(std::string_view s) { return s.substr(countLeadingSpaces(s)); }

// Digits at the start of s as a value no larger than limit; 0 characters when
// there is none or the value passes the limit.
static size_t parseMagnitude(std::string_view s, uint64_t limit, uint64_t& value) {
  uint64_t v = 0;
  size_t n = 0;
  while (n < s.size() && s[n] >= '0' && s[n] <= '9') {
    v = v * 10 + uint64_t(s[n] - '0');
    if (v > limit) return 0;
    ++n;
  }
  if (n > 0) value = v;
  return n;
}

size_t parseUnsigned(std::string_view s, uint32_t& value) {
  uint64_t v = 0;
  size_t n = parseMagnitude(s, std::numeric_limits<uint32_t>::max(), v);
  if (n > 0) value = uint32_t(v);
  return n;
}

size_t parseSigned(std::string_view s, int32_t& value) {
  size_t signs = 0;
  while (signs < s.size() && s[signs] == '-') ++signs;
  bool negative = signs % 2 == 1;
  uint64_t limit = negative ? uint64_t(1) << 31 : uint64_t(std::numeric_limits<int32_t>::max());
  uint64_t v = 0;
  size_t n = parseMagnitude(s.substr(signs), limit, v);
  if (n == 0) return 0;
  value = negative ? int32_t(-int64_t(v)) : int32_t(v);
  return signs + n;
}

bool parseFloat(std::string_view s, float& value) {
  s = skipSpaces(s);
  if (!s.empty() && s[0] == '+') {
    s.remove_prefix(1);
    if (!s.empty() && s[0] == '-') return false;
  }
  float v = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  if (ec != std::errc() || !std::isfinite(v)) return false;
  value = v;
  return true;
}

size_t findChar(std::string_view s, char c) {
  size_t i = s.find(c);
  return i == std::string_view::npos ? s.size() : i;
}

bool writeString(std::FILE* file, std::string_view s) {
  if (!file) return false;
  if (s.empty()) return true;
  return std::fwrite(s.data(), 1, s.size(), file) == s.size();
}

std::string fileTitle(std::string_view path) {
  size_t slash = path.rfind('/');
  if (slash != std::string_view::npos) path.remove_prefix(slash + 1);
  size_t dot = path.rfind('.');
  // A leading dot names a hidden file, not an extension.
  if (dot != std::string_view::npos && dot > 0) path = path.substr(0, dot);
  return std::string(path);
}

std::string withTrailingDelimiter(std::string_view folder) {
  std::string out(folder);
  if (!out.empty() && out.back() != '/') out += '/';
  return out;
}

std::string joinPath(std::string_view folder, std::string_view name) {
  return withTrailingDelimiter(folder) + std::string(name);
}

}  // namespace vl
