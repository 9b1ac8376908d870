#include "shell/cli/completion.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "pixel/text_util.h"
#include "platform/strings.h"
#include "shell/cli/unattended_ui.h"

namespace vl {

std::string_view markerExtension(int code) {
  if (code == kFileFailed) return ".bad";
  if (code == kFileProtected) return ".prt";
  return {};
}

std::string outputFolderFor(std::string_view source, std::string_view outputFolder) {
  if (!outputFolder.empty()) return std::string(outputFolder);
  const size_t slash = source.rfind('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(source.substr(0, slash));
}

std::string markerFilePath(std::string_view source, std::string_view outputFolder, std::string_view extension) {
  return joinPath(outputFolderFor(source, outputFolder), fileTitle(source) + std::string(extension));
}

bool writeMarkerFile(const std::string& path) {
  // Only a new file: a name already taken (the input itself, a marker of an
  // earlier run, a link planted in a shared folder) is never emptied or followed.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) {
    struct stat st;
    return errno == EEXIST && ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  }
  return ::close(fd) == 0;
}

int checkedReportChannel(int fd) {
  if (fd < 0) return -1;
  if (::fcntl(fd, F_GETFD) == -1) {
    printError(formatMessage(text(TextId::ReportChannelNotOpen), {fd}));
    return -1;
  }
  return fd;
}

namespace {

// The whole line, or false.
bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= size_t(n);
  }
  return true;
}

}  // namespace

int CCompletionReport::report(int code, std::string_view source) {
  if (done) return reportedCode;
  done = true;
  reportedCode = code;

  const std::string_view extension = markerExtension(code);
  if (!extension.empty() && !source.empty() && !marker) {
    const std::string path = markerFilePath(source, outputFolder, extension);
    marker = writeMarkerFile(path);
    if (!marker) printError(formatMessage(text(TextId::CannotWriteMarker), {path, std::strerror(errno)}));
  }

  char line[16];
  const int length = std::snprintf(line, sizeof line, "%d\n", code);
  if (stdOut) {
    std::fputs(line, stdOut);
    std::fflush(stdOut);
  }
  if (channel >= 0 && !writeAll(channel, line, size_t(length)))
    printError(formatMessage(text(TextId::CannotReport), {channel, std::strerror(errno)}));
  return code;
}

}  // namespace vl
