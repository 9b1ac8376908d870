// The menu entry of the desktop speaks both languages.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace vl {
namespace {

TEST(DesktopFile, NameAndCommentInBothLanguages) {
  // The test data folder sits in tests/, beside share/'s parent.
  std::ifstream in(std::filesystem::path(VL_TEST_DATA_DIR) / "../../share/velluminar.desktop");
  ASSERT_TRUE(in) << "share/velluminar.desktop";
  std::map<std::string, std::string> entry;
  std::string line, group;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (line[0] == '[') {
      group = line;
      continue;
    }
    const size_t eq = line.find('=');
    ASSERT_NE(eq, std::string::npos) << line;
    if (group == "[Desktop Entry]") {
      EXPECT_TRUE(entry.emplace(line.substr(0, eq), line.substr(eq + 1)).second) << line;
    }
  }
  for (const char* key : {"Name", "Name[ko]", "Comment", "Comment[ko]", "GenericName", "GenericName[ko]"})
    EXPECT_FALSE(entry[key].empty()) << key;
  EXPECT_NE(entry["Comment"], entry["Comment[ko]"]);
  EXPECT_EQ(entry["Exec"], "velluminar %F");
}

}  // namespace
}  // namespace vl
