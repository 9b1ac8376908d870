#include "pixel/bmp.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace vl {
namespace {

namespace fs = std::filesystem;

const char* const kConvert = "/usr/bin/convert";

uint32_t get32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

void set32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

void set16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}

// A hand-made BMP: file header, information header, masks after a 40-byte
// header when compression is 3, `gap` junk bytes, then the rows as given.
struct BmpLayout {
  uint32_t headerSize = 40;
  int32_t width = 3;
  int32_t height = 2;
  uint16_t bitCount = 24;
  uint32_t compression = 0;
  uint32_t gap = 0;
  int32_t xPels = 0;
  uint32_t alphaMask = 0xFF000000;
};

int64_t rowBytes(const BmpLayout& l) { return l.bitCount == 24 ? bmpRowSize24(l.width) : int64_t(l.width) * 4; }

// Row data with a different byte everywhere, padding included.
std::vector<uint8_t> patternRows(const BmpLayout& l) {
  std::vector<uint8_t> d(size_t(rowBytes(l) * std::abs(l.height)));
  for (size_t i = 0; i < d.size(); ++i) d[i] = uint8_t(i * 7 + 1);
  return d;
}

std::vector<uint8_t> buildBmp(const BmpLayout& l, const std::vector<uint8_t>& rows) {
  const bool separateMasks = l.compression == 3 && l.headerSize == 40;
  const size_t offBits = 14 + l.headerSize + (separateMasks ? 12 : 0) + l.gap;
  std::vector<uint8_t> b(offBits, 0xEE);
  std::fill(b.begin(), b.begin() + 14 + l.headerSize, 0);
  b[0] = 'B';
  b[1] = 'M';
  set32(b, 2, uint32_t(offBits + rows.size()));
  set32(b, 10, uint32_t(offBits));
  set32(b, 14, l.headerSize);
  set32(b, 18, uint32_t(l.width));
  set32(b, 22, uint32_t(l.height));
  set16(b, 26, 1);
  set16(b, 28, l.bitCount);
  set32(b, 30, l.compression);
  set32(b, 38, uint32_t(l.xPels));
  set32(b, 42, uint32_t(l.xPels));
  if (l.compression == 3 || l.headerSize > 40) {
    set32(b, 54, 0x00FF0000);
    set32(b, 58, 0x0000FF00);
    set32(b, 62, 0x000000FF);
    if (l.headerSize > 40) set32(b, 66, l.alphaMask);
  }
  b.insert(b.end(), rows.begin(), rows.end());
  return b;
}

// A picture with every channel different, alpha included.
void paintPattern(TMTC& img) {
  for (int32_t y = 0; y < img.height; ++y)
    for (int32_t x = 0; x < img.width; ++x)
      img.Row(y)[x] = uint32_t(0x10 + x * 17 + y) << 24 | uint32_t(x * 40) << 16 | uint32_t(y * 70 + 5) << 8 |
                      uint32_t(x * 13 + y * 31);
}

std::vector<uint8_t> readFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

void writeFile(const fs::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream f(p, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

class BmpFiles : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir.empty()); }
  bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

  test::TempDir temp;
  const fs::path dir{temp.path()};
};

TEST(Bmp, WriteThenReadGivesRowsBottomUp) {
  TMTC plain(5, 3);
  TTC shown(5, 3);
  paintPattern(plain);
  paintPattern(shown);
  std::vector<uint8_t> file, fromShown;
  ASSERT_EQ(writeBmp(plain, 96, file), BmpError::None);
  ASSERT_EQ(writeBmp(shown, 96, fromShown), BmpError::None);
  EXPECT_EQ(file, fromShown);  // the row order of the buffer does not matter

  ASSERT_EQ(file.size(), 54u + 16 * 3);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[1], 'M');
  EXPECT_EQ(get32(file, 2), file.size());
  EXPECT_EQ(get32(file, 10), 54u);
  EXPECT_EQ(get32(file, 14), 40u);
  EXPECT_EQ(get32(file, 22), 3u);  // positive height: bottom-up
  EXPECT_EQ(file[28], 24);
  EXPECT_EQ(get32(file, 34), 16u * 3);
  // The first stored row is the buffer's last row, as B, G, R.
  const uint32_t last = plain.Row(2)[0];
  EXPECT_EQ(file[54], uint8_t(last));
  EXPECT_EQ(file[55], uint8_t(last >> 8));
  EXPECT_EQ(file[56], uint8_t(last >> 16));

  // Reading keeps the file order; 24-bit pixels keep the buffer's fourth byte.
  TMTC back(5, 3);
  back.Fill(0x5A000000);
  int dpi = 0;
  ASSERT_EQ(readBmp(file.data(), file.size(), back, &dpi), BmpError::None);
  EXPECT_EQ(dpi, 96);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 5; ++x)
      EXPECT_EQ(back.Row(y)[x], (plain.Row(2 - y)[x] & 0xFFFFFF) | 0x5A000000) << x << "," << y;
}

TEST(Bmp, WidthOneHasFourByteRows) {
  TMTC img(1, 3);
  img.Fill(0xFF112233);
  std::vector<uint8_t> file;
  ASSERT_EQ(writeBmp(img, 72, file), BmpError::None);
  ASSERT_EQ(file.size(), 54u + 4 * 3);
  EXPECT_EQ(get32(file, 34), 12u);
  for (size_t row = 0; row < 3; ++row) {
    const size_t at = 54 + row * 4;
    EXPECT_EQ(get32(file, at), 0x00112233u);  // B, G, R and a zero pad byte
  }
}

TEST(Bmp, WriterRefusesAnEmptyBuffer) {
  TMTC empty;
  std::vector<uint8_t> file{1, 2, 3};
  EXPECT_EQ(writeBmp(empty, 72, file), BmpError::WriteFailed);
  EXPECT_TRUE(file.empty());
}

TEST(Bmp, ResolutionRoundTrip) {
  struct Case {
    int dpi;
    uint32_t pelsPerMeter;
  };
  for (Case c : {Case{72, 2834}, Case{96, 3779}, Case{300, 11811}}) {
    TMTC img(2, 2);
    img.Fill(0);
    std::vector<uint8_t> file;
    ASSERT_EQ(writeBmp(img, c.dpi, file), BmpError::None);
    EXPECT_EQ(get32(file, 38), c.pelsPerMeter) << c.dpi;
    EXPECT_EQ(get32(file, 42), c.pelsPerMeter) << c.dpi;
    TMTC back;
    int dpi = -1;
    ASSERT_EQ(readBmp(file.data(), file.size(), back, &dpi), BmpError::None);
    EXPECT_EQ(dpi, c.dpi);
  }
}

TEST(Bmp, ResolutionsFromBrokenHeaders) {
  // A negative resolution reads as unknown.
  BmpLayout l;
  l.xPels = -3779;
  std::vector<uint8_t> file = buildBmp(l, patternRows(l));
  TMTC img;
  int dpi = -1;
  ASSERT_EQ(readBmp(file.data(), file.size(), img, &dpi), BmpError::None);
  EXPECT_EQ(dpi, 0);
  // Absurd resolutions are written clamped, never wrapped around.
  for (int bad : {-72, INT32_MAX}) {
    ASSERT_EQ(writeBmp(img, bad, file), BmpError::None);
    EXPECT_GE(int32_t(get32(file, 38)), 0) << bad;
  }
}

// Layouts other programs write: every header size, masks, a gap before the
// pixels (the data offset rules), and top-down rows.
TEST(Bmp, ReadsOtherLayouts) {
  struct Case {
    const char* name;
    BmpLayout layout;
  };
  const Case cases[] = {
      {"24-bit, gap", {40, 3, 2, 24, 0, 5, 3779}},
      {"32-bit", {40, 3, 2, 32, 0, 0, 3779}},
      {"32-bit bit fields", {40, 2, 3, 32, 3, 2, 3779}},
      {"24-bit bit fields", {40, 2, 3, 24, 3, 0, 3779}},
      {"108, 32-bit, alpha mask", {108, 3, 2, 32, 3, 0, 3779}},
      {"124, 32-bit, no alpha mask", {124, 3, 2, 32, 3, 0, 3779, 0}},
      {"124, 24-bit, gap", {124, 4, 2, 24, 0, 7, 3779}},
      {"top-down 24-bit", {40, 3, -4, 24, 0, 0, 3779}},
      {"top-down 32-bit, 124", {124, 2, -3, 32, 3, 1, 3779}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const BmpLayout& l = c.layout;
    const std::vector<uint8_t> rows = patternRows(l);
    const std::vector<uint8_t> file = buildBmp(l, rows);
    const int32_t h = std::abs(l.height);
    TMTC img(l.width, h);
    img.Fill(0x77000000);
    int dpi = 0;
    ASSERT_EQ(readBmp(file.data(), file.size(), img, &dpi), BmpError::None);
    EXPECT_EQ(dpi, 96);
    ASSERT_EQ(img.width, l.width);
    ASSERT_EQ(img.height, h);
    const int bpp = l.bitCount / 8;
    for (int32_t k = 0; k < h; ++k) {
      // A top-down file is stored as a bottom-up one would be.
      const int32_t y = l.height < 0 ? h - 1 - k : k;
      for (int32_t x = 0; x < l.width; ++x) {
        const uint8_t* p = rows.data() + k * rowBytes(l) + x * bpp;
        const uint32_t alpha = bpp == 4 ? p[3] : 0x77;
        EXPECT_EQ(img.Row(y)[x], alpha << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]) << x << "," << k;
      }
    }
  }
}

TEST(Bmp, MalformedFilesAreRefused) {
  const BmpLayout good;  // 3 × 2, 24 bits: rows of 12 bytes at offset 54
  const std::vector<uint8_t> base = buildBmp(good, patternRows(good));
  using Patch = std::function<void(std::vector<uint8_t>&)>;
  auto field32 = [](size_t at, uint32_t v) -> Patch { return [=](std::vector<uint8_t>& b) { set32(b, at, v); }; };
  auto cut = [](size_t n) -> Patch { return [=](std::vector<uint8_t>& b) { b.resize(n); }; };
  struct Case {
    const char* name;
    Patch patch;
    BmpError expected;
  };
  const Case cases[] = {
      {"empty", cut(0), BmpError::Truncated},
      {"one byte", cut(1), BmpError::Truncated},
      {"bad magic", [](auto& b) { b[1] = 'A'; }, BmpError::NotBmp},
      {"file header only", cut(14), BmpError::Truncated},
      {"information header cut", cut(40), BmpError::Truncated},
      {"header size 0", field32(14, 0), BmpError::BadHeader},
      {"header size huge", field32(14, 0xFFFFFFF0u), BmpError::BadHeader},
      {"oldest header of no height", field32(14, 12), BmpError::BadHeader},
      {"OS/2 2.x header", field32(14, 64), BmpError::Unsupported},
      {"124 header in a short block", field32(14, 124), BmpError::Truncated},
      {"width 0", field32(18, 0), BmpError::BadHeader},
      {"width negative", field32(18, uint32_t(-3)), BmpError::BadHeader},
      {"width 10001 without the data", field32(18, 10001), BmpError::Truncated},
      {"width huge", field32(18, 0x7FFFFFFF), BmpError::TooLarge},
      {"height 0", field32(22, 0), BmpError::BadHeader},
      {"height INT32_MIN", field32(22, 0x80000000u), BmpError::BadHeader},
      {"height 10001 without the data", field32(22, 10001), BmpError::Truncated},
      {"height -10001 without the data", field32(22, uint32_t(-10001)), BmpError::Truncated},
      {"100 million and 10000 pixels", [](auto& b) { set32(b, 18, 10001); set32(b, 22, 10000); }, BmpError::TooLarge},
      {"the same top-down", [](auto& b) { set32(b, 18, 10000); set32(b, 22, uint32_t(-10001)); }, BmpError::TooLarge},
      {"10000 x 10000 without the data", [&](auto& b) { set32(b, 18, 10000); set32(b, 22, 10000); },
       BmpError::Truncated},
      {"data offset beyond the end", field32(10, 1000), BmpError::Truncated},
      {"data offset huge", field32(10, 0xFFFFFFFFu), BmpError::Truncated},
      {"data offset inside the header", field32(10, 20), BmpError::BadHeader},
      {"data one byte short", cut(54 + 24 - 1), BmpError::Truncated},
      {"more rows than data", field32(22, 3), BmpError::Truncated},
      {"8 bits without room for a palette", [](auto& b) { set16(b, 28, 8); }, BmpError::BadHeader},
      {"12 bits", [](auto& b) { set16(b, 28, 12); }, BmpError::BadHeader},
      {"64 bits", [](auto& b) { set16(b, 28, 64); }, BmpError::Unsupported},
      {"RLE8 of 24 bits", field32(30, 1), BmpError::BadHeader},
      {"RLE4 of 24 bits", field32(30, 2), BmpError::BadHeader},
      {"a JPEG inside", field32(30, 4), BmpError::Unsupported},
      {"CMYK", field32(30, 11), BmpError::Unsupported},
      {"bit fields, masks missing", [](auto& b) { set32(b, 30, 3); b.resize(60); }, BmpError::Truncated},
      {"bit fields over the pixels", field32(30, 3), BmpError::BadHeader},  // row bytes read as masks
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> file = base;
    c.patch(file);
    TMTC img(2, 2);
    img.Fill(0x12345678);
    EXPECT_EQ(readBmp(file.data(), file.size(), img, nullptr), c.expected);
    // A refused file leaves the buffer as it was.
    ASSERT_EQ(img.width, 2);
    ASSERT_EQ(img.height, 2);
    EXPECT_EQ(img.Row(1)[1], 0x12345678u);
  }
  TMTC img;
  EXPECT_EQ(readBmp(nullptr, 100, img), BmpError::Truncated);
}

// Bit-field masks: any contiguous bits that do not overlap; the first
// pixel's bytes are 01 08 0F 16.
TEST(Bmp, MasksAreReadOrRefused) {
  struct Case {
    const char* name;
    uint32_t headerSize;
    std::vector<std::pair<size_t, uint32_t>> masks;  // offset, value
    BmpError expected;
    uint32_t pixel;
  };
  const Case cases[] = {
      {"red and blue swapped", 40, {{54, 0x000000FF}, {62, 0x00FF0000}}, BmpError::None, 0xFF01080F},
      {"no alpha mask", 108, {{66, 0}}, BmpError::None, 0x160F0801},
      {"standard", 108, {}, BmpError::None, 0x160F0801},
      {"10-10-10-2", 124, {{54, 0x3FF00000}, {58, 0x000FFC00}, {62, 0x000003FF}, {66, 0xC0000000}}, BmpError::None,
       0x0058F000},
      {"no colour masks at all", 40, {{54, 0}, {58, 0}, {62, 0}}, BmpError::None, 0x160F0801},
      {"blue over green", 124, {{62, 0x0000F800}}, BmpError::BadHeader, 0},
      {"alpha over red", 124, {{66, 0x00FF0000}}, BmpError::BadHeader, 0},
      {"bits apart", 124, {{62, 0x00000005}}, BmpError::BadHeader, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BmpLayout l;
    l.headerSize = c.headerSize;
    l.bitCount = 32;
    l.compression = 3;
    std::vector<uint8_t> file = buildBmp(l, patternRows(l));
    for (auto [at, v] : c.masks) set32(file, at, v);
    TMTC img;
    ASSERT_EQ(readBmp(file.data(), file.size(), img), c.expected);
    if (c.expected == BmpError::None) {
      EXPECT_EQ(img.Row(0)[0], c.pixel);
    }
  }
}

// A BMP assembled from its parts: file header, information header (40
// bytes unless given), palette entries of 4 bytes, then the pixel data.
std::vector<uint8_t> makeBmp(int32_t width, int32_t height, uint16_t bits, uint32_t compression,
                             const std::vector<uint32_t>& palette, const std::vector<uint8_t>& data,
                             uint32_t clrUsed = 0) {
  std::vector<uint8_t> b(54, 0);
  b[0] = 'B';
  b[1] = 'M';
  set32(b, 14, 40);
  set32(b, 18, uint32_t(width));
  set32(b, 22, uint32_t(height));
  set16(b, 26, 1);
  set16(b, 28, bits);
  set32(b, 30, compression);
  set32(b, 34, uint32_t(data.size()));
  set32(b, 46, clrUsed);
  for (uint32_t c : palette) {
    b.resize(b.size() + 4);
    set32(b, b.size() - 4, c);
  }
  set32(b, 10, uint32_t(b.size()));
  b.insert(b.end(), data.begin(), data.end());
  set32(b, 2, uint32_t(b.size()));
  return b;
}

// Rows of a decoded picture, the top row first, as text: palette entries
// (by their index in `palette`) and '.' for transparent pixels.
std::vector<std::string> picture(const TMTC& img, const std::vector<uint32_t>& palette) {
  std::vector<std::string> rows;
  for (int32_t y = img.height - 1; y >= 0; --y) {
    std::string r;
    for (int32_t x = 0; x < img.width; ++x) {
      const uint32_t p = img.Row(y)[x];
      if (p == 0) {
        r += '.';
        continue;
      }
      char c = '?';
      for (size_t i = 0; i < palette.size(); ++i)
        if ((palette[i] | 0xFF000000u) == p) c = char('0' + i);
      if (p == 0xFF000000u && c == '?') c = 'k';  // black: an index past the palette
      r += c;
    }
    rows.push_back(r);
  }
  return rows;
}

TEST(Bmp, PalettesOfEveryDepth) {
  const std::vector<uint32_t> pal = {0x102030, 0x405060, 0x708090, 0xA0B0C0};
  struct Case {
    const char* name;
    int32_t width, height;
    uint16_t bits;
    std::vector<uint32_t> palette;
    uint32_t clrUsed;
    std::vector<uint8_t> data;  // bottom row first unless the height is negative
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"1 bit", 10, 2, 1, {pal[0], pal[1]}, 0, {0xA5, 0xC0, 0, 0, 0x0F, 0x00, 0, 0}, {"0000111100", "1010010111"}},
      {"2 bits", 5, 1, 2, pal, 0, {0x1B, 0x40, 0, 0}, {"01231"}},
      {"4 bits", 3, 2, 4, pal, 4, {0x01, 0x20, 0, 0, 0x32, 0x10, 0, 0}, {"321", "012"}},
      {"8 bits, top-down", 3, -2, 8, pal, 0, {0, 1, 2, 0, 3, 2, 1, 0}, {"012", "321"}},
      {"short palette: indices past it are black", 4, 1, 8, {pal[0], pal[1]}, 0, {0, 1, 2, 255}, {"01kk"}},
      {"palette shorter than clrUsed says", 4, 1, 4, {pal[0], pal[1], pal[2]}, 16, {0x01, 0x23, 0, 0}, {"012k"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> file = makeBmp(c.width, c.height, c.bits, 0, c.palette, c.data, c.clrUsed);
    TMTC img;
    BmpInfo info;
    ASSERT_EQ(readBmp(file.data(), file.size(), img, nullptr, &info), BmpError::None);
    EXPECT_EQ(picture(img, pal), c.want);
    EXPECT_FALSE(info.storedAlpha);
    EXPECT_FALSE(info.undefinedPixels);
  }
  // No room for any palette entry, or a palette past the end.
  std::vector<uint8_t> none = makeBmp(2, 1, 8, 0, {}, {0, 0, 0, 0});
  TMTC img;
  EXPECT_EQ(readBmp(none.data(), none.size(), img), BmpError::BadHeader);
  std::vector<uint8_t> cut = makeBmp(2, 1, 8, 0, pal, {});
  set32(cut, 10, 54 + 16);
  cut.resize(60);
  EXPECT_EQ(readBmp(cut.data(), cut.size(), img), BmpError::Truncated);
}

TEST(Bmp, RunLengthCodes) {
  const std::vector<uint32_t> pal = {0x102030, 0x405060, 0x708090, 0xA0B0C0};
  struct Case {
    const char* name;
    int32_t width, height;
    bool four;
    std::vector<uint8_t> data;
    BmpError expected;
    std::vector<std::string> want;  // top row first
    bool undefined;
  };
  const Case cases[] = {
      {"runs and lines", 4, 2, false, {4, 1, 0, 0, 2, 2, 2, 3, 0, 1}, BmpError::None, {"2233", "1111"}, false},
      {"absolute run with padding", 3, 1, false, {0, 3, 1, 2, 3, 0, 0, 1}, BmpError::None, {"123"}, false},
      {"delta leaves pixels out", 4, 3, false, {1, 1, 0, 2, 2, 1, 1, 2, 0, 1}, BmpError::None, {"....", "...2", "1..."},
       true},
      {"early end of line", 3, 2, false, {1, 3, 0, 0, 2, 1, 0, 1}, BmpError::None, {"11.", "3.."}, true},
      {"no end code", 2, 2, false, {2, 1}, BmpError::None, {"..", "11"}, true},
      {"run past the row is cut", 2, 2, false, {5, 2, 0, 0, 2, 3, 0, 1}, BmpError::None, {"33", "22"}, false},
      {"delta past the picture stops it", 2, 2, false, {0, 2, 0, 9, 2, 1}, BmpError::None, {"..", ".."}, true},
      {"RLE4 runs alternate", 5, 1, true, {5, 0x12, 0, 1}, BmpError::None, {"12121"}, false},
      {"RLE4 absolute", 3, 1, true, {0, 3, 0x30, 0x20, 0, 1}, BmpError::None, {"302"}, false},
      {"cut inside a code", 4, 1, false, {4}, BmpError::Truncated, {}, false},
      {"cut inside a delta", 4, 2, false, {0, 2, 1}, BmpError::Truncated, {}, false},
      {"cut inside an absolute run", 4, 1, false, {0, 4, 1, 2}, BmpError::Truncated, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> file = makeBmp(c.width, c.height, c.four ? 4 : 8, c.four ? 2 : 1, pal, c.data);
    TMTC img(1, 1);
    img.Fill(0x12345678);
    BmpInfo info;
    ASSERT_EQ(readBmp(file.data(), file.size(), img, nullptr, &info), c.expected);
    if (c.expected != BmpError::None) {
      EXPECT_EQ(img.Row(0)[0], 0x12345678u);  // a refused file changes nothing
      continue;
    }
    EXPECT_EQ(picture(img, pal), c.want);
    EXPECT_EQ(info.undefinedPixels, c.undefined);
  }
  // RLE rows are always bottom-up.
  std::vector<uint8_t> topDown = makeBmp(2, -2, 8, 1, pal, {0, 1});
  TMTC img;
  EXPECT_EQ(readBmp(topDown.data(), topDown.size(), img), BmpError::BadHeader);
}

// The oldest form: a 12-byte header and 3-byte palette entries.
TEST(Bmp, OldestHeader) {
  std::vector<uint8_t> b(26, 0);
  b[0] = 'B';
  b[1] = 'M';
  set32(b, 14, 12);
  set16(b, 18, 3);  // width
  set16(b, 20, 2);  // height
  set16(b, 22, 1);
  set16(b, 24, 4);  // bits
  const uint8_t palette[] = {0x30, 0x20, 0x10, 0x60, 0x50, 0x40};  // two entries, B G R
  b.insert(b.end(), palette, palette + 6);
  set32(b, 10, uint32_t(b.size()));
  const uint8_t rows[] = {0x01, 0x00, 0, 0, 0x10, 0x10, 0, 0};
  b.insert(b.end(), rows, rows + 8);
  TMTC img;
  int dpi = -1;
  BmpInfo info;
  ASSERT_EQ(readBmp(b.data(), b.size(), img, &dpi, &info), BmpError::None);
  EXPECT_EQ(dpi, 0);
  EXPECT_EQ(info.headerSize, 12u);
  ASSERT_EQ(img.width, 3);
  ASSERT_EQ(img.height, 2);
  EXPECT_EQ(img.Row(0)[0], 0xFF102030u);  // bottom row: 0 1 0
  EXPECT_EQ(img.Row(0)[1], 0xFF405060u);
  EXPECT_EQ(img.Row(1)[0], 0xFF405060u);  // top row: 1 0 1
  EXPECT_EQ(img.Row(1)[2], 0xFF405060u);
}

// 16 bits: 5-5-5 without masks, else the masks' fields.
TEST(Bmp, SixteenBits) {
  const uint16_t p0 = 0x7C00 | 0x0010 | 0x8000;  // red full, blue 16 of 31, the top bit unused
  const uint16_t p1 = 0x03E0;                     // green full
  std::vector<uint8_t> data = {uint8_t(p0), uint8_t(p0 >> 8), uint8_t(p1), uint8_t(p1 >> 8)};
  std::vector<uint8_t> file = makeBmp(2, 1, 16, 0, {}, data);
  TMTC img;
  BmpInfo info;
  ASSERT_EQ(readBmp(file.data(), file.size(), img, nullptr, &info), BmpError::None);
  EXPECT_EQ(img.Row(0)[0], 0xFFFF0084u);  // 16 of 31 is 132 of 255
  EXPECT_EQ(img.Row(0)[1], 0xFF00FF00u);
  EXPECT_FALSE(info.storedAlpha);
  // 5-6-5 through masks after a 40-byte header.
  const uint16_t q = 0xF800 | (32 << 5) | 0x1F;
  std::vector<uint8_t> masked = makeBmp(1, 1, 16, 3, {0xF800, 0x07E0, 0x001F}, {uint8_t(q), uint8_t(q >> 8), 0, 0});
  ASSERT_EQ(readBmp(masked.data(), masked.size(), img), BmpError::None);
  EXPECT_EQ(img.Row(0)[0], 0xFFFF82FFu);  // 32 of 63 is 130 of 255
  // 1-5-5-5 with the alpha mask of compression 6.
  const uint16_t a = 0x8000 | 0x001F;
  std::vector<uint8_t> alpha =
      makeBmp(1, 1, 16, 6, {0x7C00, 0x03E0, 0x001F, 0x8000}, {uint8_t(a), uint8_t(a >> 8), 0, 0});
  ASSERT_EQ(readBmp(alpha.data(), alpha.size(), img, nullptr, &info), BmpError::None);
  EXPECT_EQ(img.Row(0)[0], 0xFF0000FFu);
  EXPECT_TRUE(info.storedAlpha);
  // A mask wider than the pixel.
  std::vector<uint8_t> wide = makeBmp(1, 1, 16, 3, {0x1F0000, 0x07E0, 0x001F}, {0, 0, 0, 0});
  EXPECT_EQ(readBmp(wide.data(), wide.size(), img), BmpError::BadHeader);
}

TEST_F(BmpFiles, SaveAndLoad) {
  TMTC img(7, 4);
  paintPattern(img);
  const fs::path path = dir / "picture.bmp";
  ASSERT_TRUE(saveBmpFile(path.string(), img, 300));
  TMTC back;
  int dpi = 0;
  ASSERT_EQ(loadBmpFile(path.string(), back, &dpi), BmpError::None);
  EXPECT_EQ(dpi, 300);
  ASSERT_EQ(back.width, 7);
  ASSERT_EQ(back.height, 4);
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 7; ++x) EXPECT_EQ(back.Row(y)[x] & 0xFFFFFF, img.Row(3 - y)[x] & 0xFFFFFF);
  // Nothing but the picture is left in the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(BmpFiles, FailedSaveKeepsThePreviousFile) {
  const fs::path path = dir / "picture.bmp";
  const std::vector<uint8_t> previous{'o', 'l', 'd'};
  writeFile(path, previous);
  TMTC empty;
  EXPECT_FALSE(saveBmpFile(path.string(), empty, 72));
  EXPECT_EQ(readFile(path), previous);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

  TMTC img(2, 2);
  img.Fill(0);
  EXPECT_FALSE(saveBmpFile((dir / "missing" / "picture.bmp").string(), img, 72));
  // A save into a folder in place of the file fails without harm.
  fs::create_directory(dir / "folder.bmp");
  EXPECT_FALSE(saveBmpFile((dir / "folder.bmp").string(), img, 72));
  EXPECT_TRUE(fs::is_directory(dir / "folder.bmp"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

TEST_F(BmpFiles, LoadRefusesWhatIsNoFile) {
  TMTC img;
  EXPECT_EQ(loadBmpFile((dir / "absent.bmp").string(), img), BmpError::CannotOpen);
  EXPECT_EQ(loadBmpFile(dir.string(), img), BmpError::CannotOpen);
  writeFile(dir / "empty.bmp", {});
  EXPECT_EQ(loadBmpFile((dir / "empty.bmp").string(), img), BmpError::Truncated);
  // A sparse file just over the limit: refused without being read.
  const fs::path huge = dir / "huge.bmp";
  writeFile(huge, {'B', 'M'});
  fs::resize_file(huge, kMaxBmpFileBytes + 1);
  EXPECT_EQ(loadBmpFile(huge.string(), img), BmpError::TooLarge);
}

TEST_F(BmpFiles, ImageMagickReadsOurFile) {
  if (!fs::exists(kConvert)) GTEST_SKIP() << "ImageMagick is not installed";
  TMTC img(5, 3);
  paintPattern(img);
  const fs::path bmp = dir / "ours.bmp", raw = dir / "ours.rgb";
  ASSERT_TRUE(saveBmpFile(bmp.string(), img, 96));
  ASSERT_TRUE(run(std::string(kConvert) + " '" + bmp.string() + "' -depth 8 'rgb:" + raw.string() + "'"));
  const std::vector<uint8_t> rgb = readFile(raw);
  ASSERT_EQ(rgb.size(), 5u * 3 * 3);
  // Buffer row 0 is the top of the picture.
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 5; ++x) {
      const uint8_t* p = rgb.data() + (y * 5 + x) * 3;
      EXPECT_EQ(uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2], img.Row(y)[x] & 0xFFFFFF) << x << "," << y;
    }
}

TEST_F(BmpFiles, WeReadImageMagickFiles) {
  if (!fs::exists(kConvert)) GTEST_SKIP() << "ImageMagick is not installed";
  // 3 × 2 RGBA, top row first.
  const std::vector<uint8_t> rgba{0xFF, 0x00, 0x00, 0x80, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0x00, 0xFF, 0x00,
                                  0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80, 0x90, 0xA0, 0xB0, 0xC0};
  const fs::path raw = dir / "in.rgba";
  writeFile(raw, rgba);
  const std::string input = std::string(kConvert) + " -size 3x2 -depth 8 'rgba:" + raw.string() + "' ";
  struct Case {
    const char* name;
    const char* options;
    uint32_t headerSize;
    bool alpha;
  };
  const Case cases[] = {
      {"bmp3.bmp", "-alpha off BMP3:", 40, false},
      {"rgb.bmp", "-alpha off -type TrueColor ", 124, false},
      {"rgba.bmp", "", 124, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path out = dir / c.name;
    ASSERT_TRUE(run(input + c.options + "'" + out.string() + "'"));
    const std::vector<uint8_t> file = readFile(out);
    ASSERT_GE(file.size(), 54u);
    EXPECT_EQ(get32(file, 14), c.headerSize);
    TMTC img(3, 2);
    img.Fill(0);
    ASSERT_EQ(readBmp(file.data(), file.size(), img), BmpError::None);
    ASSERT_EQ(img.width, 3);
    ASSERT_EQ(img.height, 2);
    for (int32_t row = 0; row < 2; ++row)
      for (int32_t x = 0; x < 3; ++x) {
        const uint8_t* p = rgba.data() + (row * 3 + x) * 4;
        const uint32_t want = (c.alpha ? uint32_t(p[3]) << 24 : 0) | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        // The file's bottom row comes first.
        EXPECT_EQ(img.Row(1 - row)[x], want) << x << "," << row;
      }
  }
}

}  // namespace
}  // namespace vl
