#include "shell/export_mode.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "events/event_render.h"
#include "platform/strings.h"
#include "shell/cli/unattended_ui.h"

namespace vl {
namespace {

bool isFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int runExportMode(const StartupOptions& options) {
  UnattendedUi quiet;
  UiServices* previous = setUi(&quiet);
  struct Restore {
    UiServices* previous;
    ~Restore() { setUi(previous); }
  } restore{previous};
  if (options.files.size() < 2) {
    printError(text(TextId::ExportNeedsFiles));
    return 2;
  }
  const std::vector<std::string> inputs(options.files.begin(), options.files.end() - 1);
  const std::string& output = options.files.back();
  if (inputs.size() == 1 && !isFolder(output)) {
    // One drawing: a progress line while it replays, when someone watches.
    const bool terminal = ::isatty(2) != 0;
    std::string reason;
    const bool ok = exportFile(inputs[0], output, options.exportFrames, reason, [&](float percent) {
      if (terminal) std::fprintf(stderr, "\rvelluminar: %s %3d%%", inputs[0].c_str(), int(percent));
    });
    if (terminal) std::fputc('\n', stderr);
    if (!ok) printError(reason);
    return ok ? 0 : 1;
  }
  if (!isFolder(output)) {
    printError(formatMessage(text(TextId::ExportNeedsFolder), {output}));
    return 2;
  }
  const std::vector<std::string> failures = exportFiles(inputs, output, options.exportFrames, options.exportThreads);
  for (const std::string& reason : failures) printError(reason);
  return failures.empty() ? 0 : 1;
}

}  // namespace vl
