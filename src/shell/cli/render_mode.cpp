#include "shell/cli/render_mode.h"

#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/app_profile.h"
#include "platform/settings_store.h"
#include "shell/cli/completion.h"
#include "shell/cli/unattended_ui.h"

namespace vl {
namespace {

RenderFunction installedRender = nullptr;

// Whether the file can be read at all; the reason otherwise.
bool readable(const std::string& path, std::string& reason) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    reason = std::strerror(errno);
    return false;
  }
  struct stat st {};
  const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  if (!regular) reason = "not a regular file";
  return regular;
}

}  // namespace

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
    std::fprintf(stderr, "velluminar: render mode needs an event file\n");
    code = report.report(kFileFailed, {});
  } else {
    const std::string source = absoluteFilePath(options.files.front());
    for (size_t i = 1; i < options.files.size(); ++i)
      std::fprintf(stderr, "velluminar: render mode plays one file; %s is ignored\n", options.files[i].c_str());
    std::string reason;
    if (!readable(source, reason)) {
      std::fprintf(stderr, "velluminar: cannot open %s: %s\n", source.c_str(), reason.c_str());
      code = report.report(kFileFailed, source);
    } else if (!installedRender) {
      std::fprintf(stderr, "velluminar: %s: this build cannot replay event files yet\n", source.c_str());
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
