#include "shell/cli/command_line.h"

#include <gtest/gtest.h>

#include "platform/strings.h"
#include "shell/cli/product.h"

namespace vl {
namespace {

struct Case {
  const char* name;
  std::vector<std::string> args;
  bool unattended, viewer;
  std::string outputFolder;
  int32_t reportChannel, viewerDelay;
  std::vector<std::string> files;
  std::vector<std::string> messages;  // the whole argument of each message, in order
  std::optional<Language> language = {};
};

std::string unknownSwitch(const std::string& arg) { return formatMessage(text(TextId::UnknownSwitch), {arg}); }
std::string badNumber(const std::string& arg) { return formatMessage(text(TextId::BadSwitchNumber), {arg}); }
std::string badLanguage(const std::string& arg) { return formatMessage(text(TextId::BadLanguageSwitch), {arg}); }

std::vector<std::string> messageTexts(const ParsedCommandLine& p) {
  std::vector<std::string> out;
  for (const CommandLineMessage& m : p.messages) out.push_back(m.text());
  return out;
}

TEST(CommandLine, Table) {
  const Case cases[] = {
      {"nothing", {}, false, false, "", -1, 0, {}, {}},
      {"files only", {"a.vci", "/tmp/b.png"}, false, false, "", -1, 0, {"a.vci", "/tmp/b.png"}, {}},
      {"render any case", {"-ReNdEr", "x.ve3"}, true, false, "", -1, 0, {"x.ve3"}, {}},
      {"viewer", {"-VIEWER"}, true, true, "", -1, 0, {}, {}},
      {"last mode wins", {"-viewer", "-render"}, true, false, "", -1, 0, {}, {}},
      // A slash begins an absolute path on Linux, never a switch.
      {"slash is a path", {"/render"}, false, false, "", -1, 0, {"/render"}, {}},
      {"output folder keeps its case", {"-O/Out/Dir"}, false, false, "/Out/Dir", -1, 0, {}, {}},
      {"lower-case o", {"-o"}, false, false, "", -1, 0, {}, {}},
      {"W decimal", {"-W123"}, false, false, "", 123, 0, {}, {}},
      {"w negative", {"-w-5"}, false, false, "", -5, 0, {}, {}},
      {"T seconds", {"-t7"}, false, false, "", -1, 7, {}, {}},
      {"W letters", {"-Wabc"}, false, false, "", -1, 0, {}, {badNumber("-Wabc")}},
      {"W empty", {"-W"}, false, false, "", -1, 0, {}, {badNumber("-W")}},
      {"T trailing junk keeps the old value", {"-T3", "-T4s"}, false, false, "", -1, 3, {}, {badNumber("-T4s")}},
      {"T too big for 32 bits", {"-T99999999999"}, false, false, "", -1, 0, {}, {badNumber("-T99999999999")}},
      {"unknown switch goes on", {"-X", "f.bmp", "-render"}, true, false, "", -1, 0, {"f.bmp"},
       {unknownSwitch("-X")}},
      {"lone dash", {"-"}, false, false, "", -1, 0, {}, {unknownSwitch("-")}},
      {"double dash ends switches", {"--", "-render", "-W1"}, false, false, "", -1, 0, {"-render", "-W1"}, {}},
      {"Linux long options are not the program's", {"--output=x"}, false, false, "", -1, 0, {},
       {unknownSwitch("--output=x")}},
      {"empty argument names no file", {""}, false, false, "", -1, 0, {}, {}},
      {"all together", {"-render", "-O/out", "-W9", "-T2", "/in/a.ve3", "/in/b.ve3"}, true, false, "/out", 9, 2,
       {"/in/a.ve3", "/in/b.ve3"}, {}},
      {"lang takes the next argument", {"--lang", "en", "f.png"}, false, false, "", -1, 0, {"f.png"}, {},
       Language::English},
      {"lang with '='", {"-render", "--lang=ko"}, true, false, "", -1, 0, {}, {}, Language::Korean},
      {"last lang wins", {"--lang", "ko", "--lang=en"}, false, false, "", -1, 0, {}, {}, Language::English},
      {"lang without a value", {"f.png", "--lang"}, false, false, "", -1, 0, {"f.png"}, {badLanguage("--lang")}},
      {"lang with another value", {"--lang", "fr", "a.png"}, false, false, "", -1, 0, {"a.png"},
       {badLanguage("--lang fr")}},
      {"lang=, empty", {"--lang="}, false, false, "", -1, 0, {}, {badLanguage("--lang=")}},
      // Values are exact: the locale's spelling is not a value.
      {"lang ko_KR", {"--lang=ko_KR"}, false, false, "", -1, 0, {}, {badLanguage("--lang=ko_KR")}},
      {"lang is spelled exactly", {"--LANG", "en"}, false, false, "", -1, 0, {"en"}, {unknownSwitch("--LANG")}},
      {"single-dash lang is no switch of ours", {"-lang"}, false, false, "", -1, 0, {}, {unknownSwitch("-lang")}},
      {"lang after -- is a file", {"--", "--lang", "en"}, false, false, "", -1, 0, {"--lang", "en"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ParsedCommandLine p = parseCommandLine(c.args);
    EXPECT_EQ(p.options.unattended, c.unattended);
    EXPECT_EQ(p.options.viewerMode, c.viewer);
    EXPECT_EQ(p.options.outputFolder, c.outputFolder);
    EXPECT_EQ(p.options.reportChannel, c.reportChannel);
    EXPECT_EQ(p.options.viewerDelay, c.viewerDelay);
    EXPECT_EQ(p.options.files, c.files);
    EXPECT_EQ(messageTexts(p), c.messages);
    EXPECT_EQ(p.options.language, c.language);
    EXPECT_FALSE(p.options.showHelp || p.options.showVersion);
  }
}

TEST(CommandLine, HelpAndVersionAreExactSpellings) {
  ParsedCommandLine p = parseCommandLine(std::vector<std::string>{"--help", "--version"});
  EXPECT_TRUE(p.options.showHelp);
  EXPECT_TRUE(p.options.showVersion);
  EXPECT_TRUE(p.messages.empty());
  // "-HELP" is the program's own switch syntax: an unknown switch, not help.
  p = parseCommandLine(std::vector<std::string>{"-help", "--HELP"});
  EXPECT_FALSE(p.options.showHelp);
  EXPECT_EQ(p.messages.size(), 2u);
}

// A message is worded when shown: "--lang en" may come after the argument it
// is about, and a normal run may take its language from the settings later.
TEST(CommandLine, MessagesSpeakTheLanguageOfTheirShowing) {
  const Language before = language();
  setLanguage(Language::Korean);
  const ParsedCommandLine p = parseCommandLine(std::vector<std::string>{"--lang", "xx"});
  ASSERT_EQ(p.messages.size(), 1u);
  EXPECT_EQ(p.messages[0].text(), "--lang 다음에는 ko 또는 en 이 와야 합니다 !\r    arg = --lang xx");
  setLanguage(Language::English);
  EXPECT_EQ(p.messages[0].text(), "--lang needs ko or en !\r    arg = --lang xx");
  setLanguage(before);
}

TEST(CommandLine, LanguageOfARun) {
  StartupOptions normal, unattended, switched, switchedUnattended;
  unattended.unattended = true;
  switched.language = Language::English;
  switchedUnattended.unattended = true;
  switchedUnattended.language = Language::Korean;
  const Language ko = Language::Korean, en = Language::English;
  struct {
    const char* name;
    const StartupOptions& options;
    const char* setting;
    Language locale, expected;
  } cases[] = {
      {"the locale", normal, "", ko, ko},
      {"the locale, English", normal, "", en, en},
      {"the setting over the locale", normal, "en", ko, en},
      {"the setting over the locale, Korean", normal, "ko", en, ko},
      {"a setting that names no language", normal, "de", ko, ko},
      {"the switch over the setting", switched, "ko", ko, en},
      {"unattended: the locale, not the setting", unattended, "ko", en, en},
      {"unattended: the locale when Korean", unattended, "en", ko, ko},
      {"unattended: the switch", switchedUnattended, "en", en, ko},
  };
  for (const auto& c : cases) EXPECT_EQ(chooseLanguage(c.options, c.setting, c.locale), c.expected) << c.name;
}

TEST(CommandLine, UnknownSwitchText) {
  EXPECT_EQ(unknownSwitch("-X"), "unknown command line switch!\r    arg = -X");
}

TEST(CommandLine, ArgvSkipsTheProgramName) {
  const char* argv[] = {"velluminar", "-render", "f.ve3", nullptr};
  const ParsedCommandLine p = parseCommandLine(3, argv);
  EXPECT_TRUE(p.options.renderMode());
  EXPECT_EQ(p.options.files, std::vector<std::string>{"f.ve3"});
}

TEST(CommandLine, AbsolutePaths) {
  EXPECT_EQ(absoluteFilePath("/a/b.png"), "/a/b.png");
  const std::string rel = absoluteFilePath("b.png");
  ASSERT_FALSE(rel.empty());
  EXPECT_EQ(rel.front(), '/');
  EXPECT_EQ(rel.substr(rel.size() - 6), "/b.png");
}

TEST(Product, Captions) {
  EXPECT_EQ(mainWindowCaption(), "Velluminar3.03");
  EXPECT_EQ(warningCaption(), "경고 (Velluminar)");
  EXPECT_EQ(formatMessage("%s=%d%%d", {"a", 5}), "a=5%d");
}

}  // namespace
}  // namespace vl
