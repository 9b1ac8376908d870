#include "shell/cli/command_line.h"

#include <charconv>
#include <filesystem>

#include "platform/strings.h"
#include "shell/cli/product.h"

namespace vl {
namespace {

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  return true;
}

}  // namespace

bool parseSwitchNumber(std::string_view text, int32_t& value) {
  if (text.empty()) return false;
  int32_t v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, 10);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  value = v;
  return true;
}

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args) {
  ParsedCommandLine out;
  StartupOptions& o = out.options;
  bool switchesEnded = false;
  for (const std::string& arg : args) {
    if (arg.empty()) continue;  // names no file
    if (switchesEnded || arg[0] != '-') {
      o.files.push_back(arg);
      continue;
    }
    if (arg == "--help") {
      o.showHelp = true;
      continue;
    }
    if (arg == "--version") {
      o.showVersion = true;
      continue;
    }
    if (arg == "--") {
      switchesEnded = true;
      continue;
    }
    const std::string_view body = std::string_view(arg).substr(1);
    if (equalsNoCase(body, "render")) {
      o.unattended = true;
      o.viewerMode = false;
      continue;
    }
    if (equalsNoCase(body, "viewer")) {
      o.unattended = true;
      o.viewerMode = true;
      continue;
    }
    const char first = body.empty() ? '\0' : lowerAscii(body[0]);
    const std::string_view rest = body.empty() ? body : body.substr(1);
    if (first == 'o') {
      o.outputFolder = std::string(rest);
    } else if (first == 'w' || first == 't') {
      int32_t& target = first == 'w' ? o.reportChannel : o.viewerDelay;
      if (!parseSwitchNumber(rest, target))
        out.messages.push_back(formatMessage(text(TextId::BadSwitchNumber), {arg}));
    } else {
      out.messages.push_back(formatMessage(text(TextId::UnknownSwitch), {arg}));
    }
  }
  return out;
}

ParsedCommandLine parseCommandLine(int argc, const char* const* argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i] ? argv[i] : "");
  return parseCommandLine(args);
}

std::string absoluteFilePath(std::string_view path) {
  if (path.empty() || path[0] == '/') return std::string(path);
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::absolute(std::filesystem::path(path), ec);
  return ec ? std::string(path) : p.string();
}

std::string commandLineHelp() {
  return "Usage: velluminar [SWITCH]... [FILE]...\n"
         "Paint program. Opens each FILE in a canvas window; when the program is\n"
         "already running, the running one opens them.\n"
         "\n"
         "Switches (any letter case):\n"
         "  -render      replay the event file without a display, write the picture\n"
         "               and report\n"
         "  -viewer      show the replay of the event file, wait, then report\n"
         "  -O<folder>   where the unattended modes write (default: the file's folder)\n"
         "  -W<fd>       also write the completion code to this open file descriptor\n"
         "  -T<seconds>  how long viewer mode waits before it reports\n"
         "  --           every later argument is a file\n"
         "  --help       show this help and exit\n"
         "  --version    show the version and exit\n"
         "\n"
         "Completion codes of the unattended modes (exit status and a line on\n"
         "standard output): 8 rendered, 9 an output could not be written, 10 the\n"
         "file could not be opened or played (marker <name>.bad), 11 the file is\n"
         "protected (marker <name>.prt), 13 viewer finished.\n";
}

}  // namespace vl
