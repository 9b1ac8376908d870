#include "shell/cli/dialog_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "shell/test_process.h"

namespace vl {
namespace {

TEST(DialogFolder, LastUsedElsePicturesElseHome) {
  test::TempDir dir;
  const std::string program = dir.file("bin"), last = dir.file("drawings"), pictures = dir.file("Pictures"),
                    home = dir.path(), gone = dir.file("gone");
  for (const std::string& f : {program, last, pictures}) ASSERT_EQ(::mkdir(f.c_str(), 0700), 0);
  struct {
    const char* name;
    std::string lastUsed, pictures, home, want;
  } cases[] = {
      {"the folder last used", last, pictures, home, last},
      {"the stored default is no choice of the user's", program, pictures, home, pictures},
      {"the same with a slash", program + "/", pictures, home, pictures},
      {"nothing stored", "", pictures, home, pictures},
      {"a folder since removed", gone, pictures, home, pictures},
      {"no pictures folder", program, gone, home, home},
      {"no home either", "", "", gone, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(dialogStartFolder(c.lastUsed, program, c.pictures, c.home), c.want) << c.name;
}

}  // namespace
}  // namespace vl
