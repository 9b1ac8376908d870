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
// The Linux conventions take no spelling of these: "--help", "--version"
// and "--" (every later argument is a file).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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
  bool renderMode() const { return unattended && !viewerMode; }
};

struct ParsedCommandLine {
  StartupOptions options;
  // One message per unknown switch or unreadable number, in order. Start-up
  // shows them and goes on.
  std::vector<std::string> messages;
};

// Arguments without the program name.
ParsedCommandLine parseCommandLine(const std::vector<std::string>& args);
ParsedCommandLine parseCommandLine(int argc, const char* const* argv);

// A decimal int32 with an optional '-' and nothing else; false leaves value as it was.
bool parseSwitchNumber(std::string_view text, int32_t& value);

// The path made absolute against the current folder (a running instance
// opens it from another folder). Unchanged when the current folder is unknown.
std::string absoluteFilePath(std::string_view path);

// The text of --help.
std::string commandLineHelp();

}  // namespace vl
