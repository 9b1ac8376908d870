#pragma once
// The command line. On Linux "/" begins absolute paths, so only "-" begins a
// switch; the first character is dropped and the rest compared without
// regard to ASCII case. Every other argument is a file to open.
//
//   -render        unattended, no display: replay, write the outputs, report
//   -viewer        unattended, show the replay, wait, report
//   -O<folder>     output folder of the unattended modes
//   -W<fd>         an open file descriptor that also receives the report
//   -T<seconds>    how long viewer mode waits before reporting
//
// The Linux conventions take no spelling of these: "--help", "--version",
// "--lang ko|en" (also "--lang=ko"), "--export INPUT... OUTPUT" (render
// files to pictures without a display; OUTPUT is a folder for several
// inputs), "--frames N" (with --export: a numbered PNG every N steps) and
// "--" (every later argument is a file).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/strings.h"

namespace vl {

struct StartupOptions {
  bool unattended = false;
  bool viewerMode = false;
  std::string outputFolder;     // empty: the folder of the first file processed
  int32_t reportChannel = -1;   // "W": a file descriptor; negative for none
  int32_t viewerDelay = 0;      // "T": seconds
  std::vector<std::string> files;
  bool showHelp = false;
  bool showVersion = false;
  std::optional<Language> language;  // "--lang"
  bool exportMode = false;           // "--export": the files are the inputs, then the output
  int32_t exportFrames = 0;          // "--frames"
  int32_t exportThreads = 0;         // "--threads": 0 one per core
  bool renderMode() const { return unattended && !viewerMode; }
};

// A message about one argument. It is worded when shown, in the language
// the run settles on, which the command line itself may choose.
struct CommandLineMessage {
  TextId id;
  std::string arg;  // the whole argument
  std::string text() const;
};

struct ParsedCommandLine {
  StartupOptions options;
  // One message per unknown switch or unreadable value, in order. Start-up
  // shows them and goes on.
  std::vector<CommandLineMessage> messages;
};

// Arguments without the program name.
ParsedCommandLine parseCommandLine(const std::vector<std::string>& args);
ParsedCommandLine parseCommandLine(int argc, const char* const* argv);

// A decimal int32 with an optional '-' and nothing else; false leaves value as it was.
bool parseSwitchNumber(std::string_view text, int32_t& value);

// The path made absolute against the current folder (a running instance
// opens it from another folder). Unchanged when the current folder is unknown.
std::string absoluteFilePath(std::string_view path);

// The text of --help, in the program's language.
std::string commandLineHelp();

// The language of a run: the "--lang" switch; else, in a normal run, the
// "language" setting when it names one; else the locale's. Unattended runs
// answer to whoever started them, so the user's setting does not reach
// them.
Language chooseLanguage(const StartupOptions& options, std::string_view setting, Language fromLocale);
// The locale's language, from LC_ALL, LC_MESSAGES and LANG.
Language localeLanguage();

}  // namespace vl
