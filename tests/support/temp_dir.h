#pragma once
// A fresh folder below the system's temporary folder, private to the user,
// removed with the object; empty path() when it could not be made.
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace vl::test {

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vl-test-XXXXXX").string();
    if (::mkdtemp(pattern.data())) dir = pattern;
    if (!dir.empty()) ::chmod(dir.c_str(), 0700);
  }
  ~TempDir() {
    std::error_code ec;
    if (!dir.empty()) std::filesystem::remove_all(dir, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return dir; }
  std::string file(const std::string& name) const { return dir + "/" + name; }

 private:
  std::string dir;
};

}  // namespace vl::test
