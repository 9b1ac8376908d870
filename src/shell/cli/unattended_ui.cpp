#include "shell/cli/unattended_ui.h"

#include <cstdio>
#include <cstdlib>

namespace vl {
namespace {

void printLine(const char* prefix, std::string_view text) {
  const std::string s = plainLines(text);
  std::fprintf(stderr, "velluminar: %s%s\n", prefix, s.c_str());
}

}  // namespace

std::string plainLines(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out.push_back('\n');
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

void printError(std::string_view text) { printLine("", text); }

void UnattendedUi::Warning(std::string_view text) { printLine("warning: ", text); }
void UnattendedUi::Information(std::string_view text) { printLine("", text); }

bool UnattendedUi::Question(std::string_view text, Buttons) {
  printLine("question answered No: ", text);
  return false;
}

void UnattendedUi::Trace(std::string_view line) {
  static const bool shown = std::getenv("VELLUMINAR_TRACE") != nullptr;
  if (shown) printLine("trace: ", line);
}

}  // namespace vl
