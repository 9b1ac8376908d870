#include "files/thumbnail_block.h"

#include <gtest/gtest.h>

#include <cstring>

namespace vl {
namespace {

TEST(ThumbnailBlock, BothFormsComeBackWithTheirPixels) {
  TMTC picture(300, 120);
  for (int32_t y = 0; y < picture.height; ++y)
    for (int32_t x = 0; x < picture.width; ++x) picture.Row(y)[x] = 0xFF000000u | uint32_t(x * 7 + y * 3);
  TMTC thumb;
  ASSERT_TRUE(reduceToThumbnail(picture, thumb));
  EXPECT_EQ(thumb.size(), Size(256, 102));
  const ThumbnailScramble scrambles[] = {{0, 0, 0, 0}, {3, 0x5A, 2, 0}, {1, 0x5A, 0, 0}, {4, 0, 3, 0}};
  for (uint16_t form : {uint16_t(1), uint16_t(2)})
    for (const ThumbnailScramble& s : scrambles) {
      std::vector<uint8_t> block;
      ASSERT_EQ(makeThumbnailBlock(thumb, 300, 120, form, s, block), FileError::None);
      EXPECT_EQ(block.size() % 4, 0u);
      ThumbnailInfo info;
      TMTC back;
      uint64_t bytes = 0;
      ASSERT_EQ(readThumbnailBlock(block.data(), block.size(), info, back, bytes), FileError::None);
      EXPECT_EQ(bytes, block.size());
      EXPECT_EQ(info.paperWidth, 300);
      ASSERT_EQ(back.size(), thumb.size());
      for (int32_t y = 0; y < back.height; ++y)
        ASSERT_EQ(0, std::memcmp(back.Row(y), thumb.Row(y), size_t(back.width) * 4));
    }
}

TEST(ThumbnailBlock, TheScramblerReversesGroupsAndMasks) {
  // k = 0 only reverses groups; g = 1 only masks.
  uint8_t a[7] = {1, 2, 3, 4, 5, 6, 7};
  scrambleThumbnail(a, 7, {3, 0, 0, 0});
  EXPECT_EQ(std::vector<uint8_t>(a, a + 7), (std::vector<uint8_t>{3, 2, 1, 6, 5, 4, 7}));
  uint8_t b[5] = {0, 0, 0, 0, 0};
  scrambleThumbnail(b, 5, {1, 0x0F, 1, 0});
  EXPECT_EQ(std::vector<uint8_t>(b, b + 5), (std::vector<uint8_t>{0xF0, 0, 0xF0, 0, 0xF0}));
  unscrambleThumbnail(b, 5, {1, 0x0F, 1, 0});
  EXPECT_EQ(std::vector<uint8_t>(b, b + 5), (std::vector<uint8_t>(5, 0)));
}

TEST(ThumbnailBlock, DamagedBlocksAreRefused) {
  TMTC thumb(8, 8);
  thumb.Fill(0xFF102030u);
  std::vector<uint8_t> good;
  ASSERT_EQ(makeThumbnailBlock(thumb, 8, 8, 1, {}, good), FileError::None);
  struct Case {
    const char* name;
    size_t at;
    uint8_t value;
    size_t keep;
  } cases[] = {
      {"magic", 0, 'X', 0},          {"length past the end", 6, 0xFF, 0}, {"form", 8, 3, 0},
      {"thumbnail width", 8 + 16, 0, 0}, {"raw size", 8 + 29, 0x7F, 0},  {"stored past the block", 8 + 26, 0x7F, 0},
      {"cut short", 0, 0, 20},       {"data", 8 + 40 + 5, 0xEE, 0},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bad = good;
    if (c.keep) {
      bad.resize(c.keep);
    } else {
      bad[c.at] = c.value;
    }
    ThumbnailInfo info;
    TMTC back;
    uint64_t bytes = 0;
    EXPECT_NE(readThumbnailBlock(bad.data(), bad.size(), info, back, bytes), FileError::None) << c.name;
  }
}

}  // namespace
}  // namespace vl
