#pragma once
// How the unattended modes report: the completion code becomes the exit
// status and a line on standard output, and goes as a decimal line to the
// caller's report channel (the "W" descriptor). Codes 10 and 11 also leave
// an empty marker file beside the outputs.
#include <cstdio>
#include <string>
#include <string_view>

#include "shell/cli/command_line.h"

namespace vl {

enum CompletionCode : int {
  kRenderDone = 8,          // outputs written
  kRenderWriteFailed = 9,   // an output could not be written
  kFileFailed = 10,         // the file could not be opened or played: ".bad"
  kFileProtected = 11,      // the event file carries the protected mark: ".prt"
  kViewerDone = 13,
};

// ".bad" for 10, ".prt" for 11, empty for the codes without a marker.
std::string_view markerExtension(int code);

// The folder the outputs go to: the "O" switch, else the folder of the source file.
std::string outputFolderFor(std::string_view source, std::string_view outputFolder);

// "<folder>/<source name without extension><extension>".
std::string markerFilePath(std::string_view source, std::string_view outputFolder, std::string_view extension);

// Creates the empty file when no file of that name exists; an existing
// plain file of that name counts as the marker and is left as it is. False
// when neither holds.
bool writeMarkerFile(const std::string& path);

// The "W" descriptor when it was inherited open, else -1 with a line on
// standard error. Checked first thing, before the program opens anything
// that could take its number.
int checkedReportChannel(int fd);

// One report per process; the first one counts.
class CCompletionReport {
 public:
  explicit CCompletionReport(const StartupOptions& options, std::FILE* out = stdout)
      : outputFolder(options.outputFolder), channel(options.reportChannel), stdOut(out) {}

  // Writes the code's marker for `source` (when there is a source), the line
  // on standard output and the line on the report channel. Returns the code
  // to end the process with; a second call changes nothing and returns the first code.
  int report(int code, std::string_view source);

  bool reported() const { return done; }
  int code() const { return reportedCode; }
  bool markerWritten() const { return marker; }

 private:
  std::string outputFolder;
  int channel;
  std::FILE* stdOut;
  bool done = false;
  bool marker = false;
  int reportedCode = 0;
};

}  // namespace vl
