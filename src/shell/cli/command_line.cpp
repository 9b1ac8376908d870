#include "shell/cli/command_line.h"

#include <charconv>
#include <cstdlib>
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

std::string CommandLineMessage::text() const { return formatMessage(vl::text(id), {arg}); }

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args) {
  ParsedCommandLine out;
  StartupOptions& o = out.options;
  bool switchesEnded = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
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
    if (arg == "--export") {
      o.exportMode = true;
      continue;
    }
    if (arg == "--frames" || arg.starts_with("--frames=") || arg == "--threads" || arg.starts_with("--threads=")) {
      const bool frames = arg.starts_with("--frames");
      const size_t name = frames ? 8 : 9;
      std::string whole = arg;
      std::string_view value;
      if (arg.size() > name) {
        value = std::string_view(arg).substr(name + 1);
      } else if (i + 1 < args.size()) {
        whole += ' ' + args[++i];
        value = args[i];
      }
      int32_t n = 0;
      if (parseSwitchNumber(value, n) && n >= 0) {
        (frames ? o.exportFrames : o.exportThreads) = n;
      } else {
        out.messages.push_back({TextId::BadSwitchNumber, whole});
      }
      continue;
    }
    if (arg == "--lang" || arg.starts_with("--lang=")) {
      // The value is the next argument, whatever it looks like, or the part after '='.
      std::string whole = arg;
      std::string_view value;
      if (arg.size() > 6) {
        value = std::string_view(arg).substr(7);
      } else if (i + 1 < args.size()) {
        whole += ' ' + args[++i];
        value = args[i];
      }
      Language l;
      if (parseLanguage(value, l)) {
        o.language = l;
      } else {
        out.messages.push_back({TextId::BadLanguageSwitch, whole});
      }
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
      if (!parseSwitchNumber(rest, target)) out.messages.push_back({TextId::BadSwitchNumber, arg});
    } else {
      out.messages.push_back({TextId::UnknownSwitch, arg});
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

std::string commandLineHelp() { return std::string(text(TextId::CommandLineHelp)); }

Language chooseLanguage(const StartupOptions& options, std::string_view setting, Language fromLocale) {
  if (options.language) return *options.language;
  Language l;
  if (!options.unattended && parseLanguage(setting, l)) return l;
  return fromLocale;
}

Language localeLanguage() {
  return languageFromLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG"));
}

}  // namespace vl
