#include "pixel/bmp.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

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
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "vl_bmp_XXXXXX").string();
    ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
    dir = tmpl;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  bool run(const std::string& command) { return std::system(command.c_str()) == 0; }

  fs::path dir;
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
      {"core header", field32(14, 12), BmpError::Unsupported},
      {"124 header in a short block", field32(14, 124), BmpError::Truncated},
      {"width 0", field32(18, 0), BmpError::BadHeader},
      {"width negative", field32(18, uint32_t(-3)), BmpError::BadHeader},
      {"width 10001", field32(18, 10001), BmpError::TooLarge},
      {"width huge", field32(18, 0x7FFFFFFF), BmpError::TooLarge},
      {"height 0", field32(22, 0), BmpError::BadHeader},
      {"height INT32_MIN", field32(22, 0x80000000u), BmpError::BadHeader},
      {"height 10001", field32(22, 10001), BmpError::TooLarge},
      {"height -10001", field32(22, uint32_t(-10001)), BmpError::TooLarge},
      {"10000 x 10000 without the data", [&](auto& b) { set32(b, 18, 10000); set32(b, 22, 10000); },
       BmpError::Truncated},
      {"data offset beyond the end", field32(10, 1000), BmpError::Truncated},
      {"data offset huge", field32(10, 0xFFFFFFFFu), BmpError::Truncated},
      {"data offset inside the header", field32(10, 20), BmpError::BadHeader},
      {"data one byte short", cut(54 + 24 - 1), BmpError::Truncated},
      {"more rows than data", field32(22, 3), BmpError::Truncated},
      {"8 bits", [](auto& b) { set16(b, 28, 8); }, BmpError::Unsupported},
      {"16 bits", [](auto& b) { set16(b, 28, 16); }, BmpError::Unsupported},
      {"RLE8", field32(30, 1), BmpError::Unsupported},
      {"bit fields, masks missing", [](auto& b) { set32(b, 30, 3); b.resize(60); }, BmpError::Truncated},
      {"bit fields over the pixels", field32(30, 3), BmpError::Unsupported},  // row bytes read as masks
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

TEST(Bmp, OnlyTheStandardMasksAreRead) {
  struct Case {
    uint32_t headerSize, at, value;
    BmpError expected;
  };
  const Case cases[] = {
      {40, 54, 0x000000FF, BmpError::Unsupported},   // red mask swapped with blue
      {124, 62, 0x0000F800, BmpError::Unsupported},  // a 16-bit style field
      {124, 66, 0x00FF0000, BmpError::Unsupported},  // alpha in the red byte
      {108, 66, 0, BmpError::None},                  // no alpha mask is fine
      {108, 54, 0x00FF0000, BmpError::None},
  };
  for (const Case& c : cases) {
    BmpLayout l;
    l.headerSize = c.headerSize;
    l.bitCount = 32;
    l.compression = 3;
    std::vector<uint8_t> file = buildBmp(l, patternRows(l));
    set32(file, c.at, c.value);
    TMTC img;
    EXPECT_EQ(readBmp(file.data(), file.size(), img), c.expected) << c.headerSize << " " << c.at;
  }
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
