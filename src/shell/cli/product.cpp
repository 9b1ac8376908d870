#include "shell/cli/product.h"

#include <charconv>
#include <cstdio>

#include "platform/strings.h"

namespace vl {

std::string mainWindowCaption() {
  char version[32];
  std::snprintf(version, sizeof version, "%d.%2.2d", kVersionMajor, kVersionMinor);
  return std::string(kProductName) + version;
}

std::string warningCaption() {
  return formatMessage("%s (%s)", {text(TextId::WarningCaption), kProductName});
}

std::string generatedPaperName(std::string_view prefix) {
  static int counter = 0;
  return std::string(prefix) + std::to_string(++counter);
}

std::string formatMessage(std::string_view pattern, std::initializer_list<MessageArg> args) {
  std::string out;
  out.reserve(pattern.size() + 64);
  auto next = args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '%' && i + 1 < pattern.size() && pattern[i + 1] == '%') {
      out.push_back('%');
      ++i;
      continue;
    }
    if (c == '%' && i + 1 < pattern.size() && (pattern[i + 1] == 's' || pattern[i + 1] == 'd') &&
        next != args.end()) {
      if (next->isInt) {
        char buf[24];
        out.append(buf, std::to_chars(buf, buf + sizeof buf, next->d).ptr);
      } else {
        out.append(next->s);
      }
      ++next;
      ++i;
      continue;
    }
    out.push_back(c);
  }
  return out;
}

}  // namespace vl
