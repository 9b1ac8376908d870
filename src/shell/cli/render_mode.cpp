#include "shell/cli/render_mode.h"

#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/app_profile.h"
#include "platform/settings_store.h"
#include "platform/strings.h"
#include "shell/cli/completion.h"
#include "shell/cli/unattended_ui.h"

namespace vl {
namespace {

RenderFunction installedRender = nullptr;

}  // namespace

bool readableEventFile(const std::string& path, std::string& reason) {
  // A pipe in the file's place must not stall an unattended run.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    reason = std::strerror(errno);
    return false;
  }
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  if (!regular) reason = text(TextId::NotRegularFile);
  return regular;
}

void setRenderFunction(RenderFunction render) { installedRender = render; }
RenderFunction renderFunction() { return installedRender; }

int runRenderMode(const StartupOptions& options, std::FILE* out) {
  UnattendedUi unattendedUi;
  UiServices* previousUi = setUi(&unattendedUi);

  // The settings are read, never written: a batch run must not overwrite
  // what the user's own instance saves.
  FileSettingsStore store(settingsFilePath());
  store.load();
  SettingsStore* previousStore = setAppSettings(&store);
  appProfile().load(store, gatherMachineFacts("", 0, 1, 0, 0));

  CCompletionReport report(options, out);
  int code;
  if (options.files.empty()) {
    printError(text(TextId::RenderNeedsFile));
    code = report.report(kFileFailed, {});
  } else {
    const std::string source = absoluteFilePath(options.files.front());
    for (size_t i = 1; i < options.files.size(); ++i)
      printError(formatMessage(text(TextId::RenderIgnoresFile), {options.files[i]}));
    std::string reason;
    if (!readableEventFile(source, reason)) {
      printError(formatMessage(text(TextId::RenderCannotOpen), {source, reason}));
      code = report.report(kFileFailed, source);
    } else if (!installedRender) {
      printError(formatMessage(text(TextId::RenderCannotReplay), {source}));
      code = report.report(kFileFailed, source);
    } else {
      code = report.report(installedRender(source, outputFolderFor(source, options.outputFolder)), source);
    }
  }

  setAppSettings(previousStore);
  setUi(previousUi);
  return code;
}

}  // namespace vl
