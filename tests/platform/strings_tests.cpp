#include "platform/strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

namespace vl {
namespace {

// The conversions of a format, in order: "%s", "%d", "%4.2f" and the like;
// "%%" is a plain percent sign and no conversion.
std::vector<std::string> conversions(std::string_view s) {
  std::vector<std::string> out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '%') continue;
    if (i + 1 < s.size() && s[i + 1] == '%') {
      ++i;
      continue;
    }
    size_t j = i + 1;
    while (j < s.size() && (std::isdigit(static_cast<unsigned char>(s[j])) || s[j] == '.' || s[j] == '-')) ++j;
    if (j < s.size()) out.emplace_back(s.substr(i, j - i + 1));
    i = j;
  }
  return out;
}

// Accelerators: the character after each single '&'.
size_t accelerators(std::string_view s) {
  size_t n = 0;
  for (size_t i = 0; i + 1 < s.size(); ++i) {
    if (s[i] != '&') continue;
    if (s[i + 1] == '&') {
      ++i;
      continue;
    }
    ++n;
  }
  return n;
}

TEST(Strings, EveryTextHasBothLanguagesWithTheSamePlaceholders) {
  for (int i = 0; i < int(TextId::Count); ++i) {
    const TextId id = TextId(i);
    const std::string_view ko = textIn(id, Language::Korean), en = textIn(id, Language::English);
    SCOPED_TRACE(i);
    EXPECT_FALSE(ko.empty());
    EXPECT_FALSE(en.empty());
    EXPECT_EQ(conversions(ko), conversions(en)) << ko << " / " << en;
    EXPECT_EQ(accelerators(ko) > 0, accelerators(en) > 0) << ko << " / " << en;
  }
}

// Names written into papers and event streams are data: a paper made in
// English records the same bytes as one made in Korean. No other text is.
TEST(Strings, DataTextsKeepTheirOneFormInEveryLanguage) {
  const TextId data[] = {TextId::LayerDefaultName, TextId::MaskDefaultName, TextId::MaskFromBrightnessName,
                         TextId::MaskFromAlphaName, TextId::PsdBackgroundName};
  for (int i = 0; i < int(TextId::Count); ++i) {
    const TextId id = TextId(i);
    SCOPED_TRACE(i);
    EXPECT_EQ(isDataText(id), std::find(std::begin(data), std::end(data), id) != std::end(data));
    if (isDataText(id)) {
      EXPECT_EQ(textIn(id, Language::English), textIn(id, Language::Korean));
      EXPECT_EQ(dataText(id), textIn(id, Language::Korean));
    }
  }
  const Language before = language();
  setLanguage(Language::English);
  EXPECT_EQ(text(TextId::LayerDefaultName), "레이어");
  EXPECT_EQ(text(TextId::MaskFromAlphaName), "마스크(%s)");
  EXPECT_EQ(dataText(TextId::MaskDefaultName), "마스크");
  setLanguage(before);
}

TEST(Strings, TheChosenLanguageSpeaks) {
  const Language before = language();
  setLanguage(Language::English);
  EXPECT_EQ(text(TextId::OutOfMemory), "Out of memory !");
  setLanguage(Language::Korean);
  EXPECT_EQ(text(TextId::OutOfMemory), "메모리 부족 !");
  setLanguage(before);
}

TEST(Strings, LanguageFollowsTheLocale) {
  struct Case {
    const char *all, *messages, *lang;
    Language expected;
  } cases[] = {
      {nullptr, nullptr, "ko_KR.UTF-8", Language::Korean},
      {nullptr, nullptr, "en_GB.UTF-8", Language::English},
      {"", "ko_KR.UTF-8", "en_US.UTF-8", Language::Korean},
      {"C", "ko_KR.UTF-8", nullptr, Language::English},
      {nullptr, nullptr, nullptr, Language::English},
      {nullptr, nullptr, "k", Language::English},
      {nullptr, nullptr, "ko", Language::Korean},
      {nullptr, nullptr, "ko.UTF-8", Language::Korean},
      {"ko_KR.eucKR", nullptr, nullptr, Language::Korean},
      {nullptr, nullptr, "kok_IN.UTF-8", Language::English},  // Konkani
  };
  for (const Case& c : cases) EXPECT_EQ(languageFromLocale(c.all, c.messages, c.lang), c.expected);
  Language l;
  EXPECT_TRUE(parseLanguage("en", l));
  EXPECT_EQ(l, Language::English);
  EXPECT_TRUE(parseLanguage("ko", l));
  EXPECT_EQ(l, Language::Korean);
  EXPECT_FALSE(parseLanguage("fr", l));
}

}  // namespace
}  // namespace vl
