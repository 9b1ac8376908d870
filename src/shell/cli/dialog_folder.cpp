#include "shell/cli/dialog_folder.h"

#include <sys/stat.h>

namespace vl {
namespace {

bool isFolder(std::string_view path) {
  if (path.empty()) return false;
  struct stat st;
  return ::stat(std::string(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string_view withoutTrailingSlash(std::string_view s) {
  while (s.size() > 1 && s.back() == '/') s.remove_suffix(1);
  return s;
}

}  // namespace

std::string dialogStartFolder(std::string_view lastUsed, std::string_view programFolder, std::string_view pictures,
                              std::string_view home) {
  if (isFolder(lastUsed) && withoutTrailingSlash(lastUsed) != withoutTrailingSlash(programFolder))
    return std::string(lastUsed);
  if (isFolder(pictures)) return std::string(pictures);
  if (isFolder(home)) return std::string(home);
  return {};
}

}  // namespace vl
