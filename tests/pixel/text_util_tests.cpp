#include "pixel/text_util.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace vl {
namespace {

TEST(TextUtil, LeadingSpaces) {
  EXPECT_EQ(countLeadingSpaces("   12 "), 3u);
  EXPECT_EQ(countLeadingSpaces(""), 0u);
  EXPECT_EQ(countLeadingSpaces("    "), 4u);
  EXPECT_EQ(skipSpaces("  a b"), "a b");
}

struct UnsignedCase {
  const char* text;
  size_t consumed;  // 0: refused
  uint32_t value;
};
class TextUtilUnsigned : public testing::TestWithParam<UnsignedCase> {};

TEST_P(TextUtilUnsigned, Table) {
  const UnsignedCase& c = GetParam();
  uint32_t v = 12345;
  EXPECT_EQ(parseUnsigned(c.text, v), c.consumed);
  EXPECT_EQ(v, c.consumed ? c.value : 12345u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextUtilUnsigned,
    testing::Values(UnsignedCase{"0", 1, 0}, UnsignedCase{"42", 2, 42}, UnsignedCase{"17px", 2, 17},
                    UnsignedCase{"007", 3, 7}, UnsignedCase{"4294967295", 10, 4294967295u},
                    UnsignedCase{"000000000000004294967295", 24, 4294967295u}, UnsignedCase{"4294967296", 0, 0},
                    UnsignedCase{"99999999999999999999", 0, 0}, UnsignedCase{"", 0, 0}, UnsignedCase{" 5", 0, 0},
                    UnsignedCase{"-5", 0, 0}, UnsignedCase{"+5", 0, 0}, UnsignedCase{"x", 0, 0}));

struct SignedCase {
  const char* text;
  size_t consumed;  // 0: refused
  int32_t value;
};
class TextUtilSigned : public testing::TestWithParam<SignedCase> {};

TEST_P(TextUtilSigned, Table) {
  const SignedCase& c = GetParam();
  int32_t v = 12345;
  EXPECT_EQ(parseSigned(c.text, v), c.consumed);
  EXPECT_EQ(v, c.consumed ? c.value : 12345);
}

INSTANTIATE_TEST_SUITE_P(Cases, TextUtilSigned,
                         testing::Values(SignedCase{"5", 1, 5}, SignedCase{"-5", 2, -5}, SignedCase{"--5", 3, 5},
                                         SignedCase{"---5,", 4, -5}, SignedCase{"-0", 2, 0},
                                         SignedCase{"2147483647", 10, 2147483647},
                                         SignedCase{"-2147483648", 11, INT32_MIN}, SignedCase{"2147483648", 0, 0},
                                         SignedCase{"--2147483648", 0, 0}, SignedCase{"-2147483649", 0, 0},
                                         SignedCase{"-x", 0, 0}, SignedCase{"-", 0, 0}, SignedCase{"", 0, 0},
                                         SignedCase{"- 5", 0, 0}));

struct FloatCase {
  const char* text;
  bool ok;
  float value;
};
class TextUtilFloat : public testing::TestWithParam<FloatCase> {};

TEST_P(TextUtilFloat, Table) {
  const FloatCase& c = GetParam();
  float v = -7.0f;
  EXPECT_EQ(parseFloat(c.text, v), c.ok);
  EXPECT_EQ(v, c.ok ? c.value : -7.0f);
}

INSTANTIATE_TEST_SUITE_P(Cases, TextUtilFloat,
                         testing::Values(FloatCase{"1.5", true, 1.5f}, FloatCase{"  -0.25", true, -0.25f},
                                         FloatCase{"+3", true, 3.0f}, FloatCase{"2e3", true, 2000.0f},
                                         FloatCase{"72.0 dpi", true, 72.0f}, FloatCase{".5", true, 0.5f},
                                         FloatCase{"1,5", true, 1.0f},  // never a decimal comma
                                         FloatCase{"", false, 0}, FloatCase{"abc", false, 0},
                                         FloatCase{"+-1", false, 0}, FloatCase{"1e60", false, 0},
                                         FloatCase{"nan", false, 0}, FloatCase{"inf", false, 0}));

TEST(TextUtil, FindChar) {
  EXPECT_EQ(findChar("name=value", '='), 4u);
  EXPECT_EQ(findChar("novalue", '='), 7u);
  EXPECT_EQ(findChar("", '='), 0u);
}

struct TitleCase {
  const char* path;
  const char* title;
};
class TextUtilFileTitle : public testing::TestWithParam<TitleCase> {};

TEST_P(TextUtilFileTitle, Table) { EXPECT_EQ(fileTitle(GetParam().path), GetParam().title); }

INSTANTIATE_TEST_SUITE_P(Cases, TextUtilFileTitle,
                         testing::Values(TitleCase{"/home/a/pic.vle", "pic"}, TitleCase{"pic.tar.gz", "pic.tar"},
                                         TitleCase{"dir.d/noext", "noext"}, TitleCase{"/a/b/", ""},
                                         TitleCase{"/a/.hidden", ".hidden"}, TitleCase{"", ""}));

TEST(TextUtil, TrailingDelimiterAndJoin) {
  EXPECT_EQ(withTrailingDelimiter("/tmp"), "/tmp/");
  EXPECT_EQ(withTrailingDelimiter("/tmp/"), "/tmp/");
  EXPECT_EQ(withTrailingDelimiter(""), "");
  EXPECT_EQ(joinPath("/tmp", "a.png"), "/tmp/a.png");
  EXPECT_EQ(joinPath("/", "a.png"), "/a.png");
  EXPECT_EQ(joinPath("", "a.png"), "a.png");
}

TEST(TextUtil, WriteStringReportsShortWrites) {
  std::FILE* f = std::tmpfile();
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(writeString(f, "hello"));
  EXPECT_TRUE(writeString(f, ""));
  std::rewind(f);
  char buf[8] = {};
  EXPECT_EQ(std::fread(buf, 1, sizeof buf, f), 5u);
  std::fclose(f);

  std::FILE* readOnly = std::fopen("/dev/null", "r");
  ASSERT_NE(readOnly, nullptr);
  EXPECT_FALSE(writeString(readOnly, "x"));
  std::fclose(readOnly);
  EXPECT_FALSE(writeString(nullptr, "x"));
}

}  // namespace
}  // namespace vl
