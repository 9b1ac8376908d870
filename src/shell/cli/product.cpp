#include "shell/cli/product.h"

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

}  // namespace vl
