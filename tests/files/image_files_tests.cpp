#include "files/image_files.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "pixel/bmp.h"
#include "support/temp_dir.h"

namespace vl {
namespace {

namespace fs = std::filesystem;

const char* const kConvert = "/usr/bin/convert";

using Loader = FileError (*)(const std::string&, BitmapInfoHeader&, TMTC&);

std::vector<uint8_t> readBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const fs::path& p, const std::vector<uint8_t>& b) {
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

int channel(uint32_t p, int shift) { return int(p >> shift & 0xFF); }

// Colours that differ in every byte, alpha included, from pixel to pixel.
void fillPattern(TMTC& img, bool withAlpha) {
  for (int32_t y = 0; y < img.height; ++y)
    for (int32_t x = 0; x < img.width; ++x) {
      const uint32_t a = withAlpha ? uint32_t(x * 40 + y * 9) & 0xFF : 0xFF;
      img.Row(y)[x] = a << 24 | uint32_t(x * 50 + 3) << 16 | uint32_t(y * 60 + 7) << 8 | uint32_t(x * y * 11 + 1);
    }
}

BitmapInfoHeader headerFor(const TMTC& img, uint16_t bitCount, int32_t pels) {
  BitmapInfoHeader h = img.InfoHeader(0);
  h.bitCount = bitCount;
  h.xPelsPerMeter = h.yPelsPerMeter = pels;
  return h;
}

class ImageFiles : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir.empty()); }

  std::string path(const char* name) const { return (dir / name).string(); }

  // Runs ImageMagick; false when it is missing or fails.
  bool convert(const std::string& args) const {
    if (access(kConvert, X_OK) != 0) return false;
    const std::string cmd = std::string(kConvert) + " " + args + " 2>/dev/null";
    return std::system(cmd.c_str()) == 0;
  }

  // The files in the test folder, to see that no temporary is left behind.
  size_t fileCount() const { return size_t(std::distance(fs::directory_iterator(dir), fs::directory_iterator())); }

  test::TempDir temp;
  const fs::path dir{temp.path()};
};

TEST_F(ImageFiles, PngRoundTripKeepsAlphaAndResolution) {
  for (uint16_t bits : {uint16_t(32), uint16_t(24)}) {
    SCOPED_TRACE(bits);
    TMTC img(7, 5);
    fillPattern(img, true);
    ASSERT_EQ(pngSaveImage(path("a.png"), headerFor(img, bits, 3780), img), FileError::None);
    BitmapInfoHeader h;
    TMTC back;
    ASSERT_EQ(pngGetImage(path("a.png"), h, back), FileError::None);
    EXPECT_EQ(h.width, 7);
    EXPECT_EQ(h.height, 5);
    EXPECT_EQ(h.bitCount, bits);
    EXPECT_EQ(h.xPelsPerMeter, 3780);
    EXPECT_EQ(h.yPelsPerMeter, 3780);
    const uint32_t alphaKept = bits == 32 ? 0 : 0xFF000000u;
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 7; ++x) ASSERT_EQ(back.Row(y)[x], img.Row(y)[x] | alphaKept) << x << "," << y;
  }
  EXPECT_EQ(fileCount(), 1u);
}

TEST_F(ImageFiles, JpegRoundTripAndOptions) {
  TMTC img(40, 24);
  for (int32_t y = 0; y < img.height; ++y)
    for (int32_t x = 0; x < img.width; ++x) img.Row(y)[x] = 0x00000000u | uint32_t(x * 6) << 16 | uint32_t(y * 10) << 8 | 0x40;
  JpegOptions o;
  o.qualityType = 0;
  o.quality = 100;
  ASSERT_EQ(jpegSaveImage(path("a.jpg"), headerFor(img, 32, 3780), img, o), FileError::None);
  BitmapInfoHeader h;
  TMTC back;
  ASSERT_EQ(jpegGetImage(path("a.jpg"), h, back), FileError::None);
  EXPECT_EQ(h.width, 40);
  EXPECT_EQ(h.height, 24);
  EXPECT_EQ(h.bitCount, 24);
  EXPECT_EQ(dpiFromHeader(40, h.xPelsPerMeter), 96);  // written in dots per inch
  for (int32_t y = 0; y < img.height; ++y)
    for (int32_t x = 0; x < img.width; ++x) {
      const uint32_t a = img.Row(y)[x], b = back.Row(y)[x];
      EXPECT_EQ(b >> 24, 0xFFu);
      for (int s : {0, 8, 16}) ASSERT_NEAR(channel(a, s), channel(b, s), 4) << x << "," << y;
    }

  // Progressive files start their frame with SOF2; low quality is smaller.
  ByteBuffer base, progressive, low;
  JpegOptions p;
  p.progressive = true;
  p.smooth = true;
  p.smoothAmount = 50;
  ASSERT_EQ(encodeJpeg(headerFor(img, 24, 0), img, JpegOptions{}, base), FileError::None);
  ASSERT_EQ(encodeJpeg(headerFor(img, 24, 0), img, p, progressive), FileError::None);
  JpegOptions l;
  l.qualityType = 4;
  ASSERT_EQ(encodeJpeg(headerFor(img, 24, 0), img, l, low), FileError::None);
  auto hasMarker = [](const ByteBuffer& b, uint8_t m) {
    for (size_t i = 0; i + 1 < b.size; ++i)
      if (b.data[i] == 0xFF && b.data[i + 1] == m) return true;
    return false;
  };
  EXPECT_FALSE(hasMarker(base, 0xC2));
  EXPECT_TRUE(hasMarker(progressive, 0xC2));
  EXPECT_LT(low.size, base.size);
  TMTC decoded;
  EXPECT_EQ(loadJpegMemory(progressive.data.get(), progressive.size, h, decoded), FileError::None);
}

TEST(JpegOptions, QualityTypeSelectsThePreset) {
  JpegOptions o;
  o.quality = 33;
  o.qualityVeryHigh = 99;
  o.qualityHigh = 88;
  o.qualityStd = 77;
  o.qualityLow = 0;
  const struct {
    int type;
    int quality;
  } cases[] = {{0, 33}, {1, 99}, {2, 88}, {3, 77}, {4, 1}, {-3, 33}, {9, 1}};
  for (auto c : cases) {
    o.qualityType = c.type;
    EXPECT_EQ(jpegQuality(o), c.quality) << c.type;
  }
  o.smoothAmount = 150;
  EXPECT_EQ(jpegSmoothing(o), 0);
  o.smooth = true;
  EXPECT_EQ(jpegSmoothing(o), 100);
}

TEST_F(ImageFiles, BmpRoundTripIsUprightAndKeepsPelsPerMeter) {
  TMTC img(5, 3);
  fillPattern(img, true);
  ASSERT_EQ(bmpSaveImage(path("a.bmp"), headerFor(img, 24, 2835), img), FileError::None);
  BitmapInfoHeader h;
  TMTC back;
  ASSERT_EQ(bmpGetImage(path("a.bmp"), h, back), FileError::None);
  EXPECT_EQ(h.bitCount, 24);
  EXPECT_EQ(h.xPelsPerMeter, 2835);
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 5; ++x) ASSERT_EQ(back.Row(y)[x], img.Row(y)[x] | 0xFF000000u);
}

// A bottom-up 32-bit BMP of 2 × 1 pixels as given.
std::vector<uint8_t> bmp32(uint32_t p0, uint32_t p1) {
  std::vector<uint8_t> b(62, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
  };
  b[0] = 'B';
  b[1] = 'M';
  put32(2, 62);
  put32(10, 54);
  put32(14, 40);
  put32(18, 2);
  put32(22, 1);
  b[26] = 1;
  b[28] = 32;
  put32(54, p0);
  put32(58, p1);
  return b;
}

TEST(BmpMemory, AllZeroAlphaMeansOpaque) {
  BitmapInfoHeader h;
  TMTC img;
  auto zero = bmp32(0x00112233, 0x00445566);
  ASSERT_EQ(loadBmpMemory(zero.data(), zero.size(), h, img), FileError::None);
  EXPECT_EQ(h.bitCount, 24);
  EXPECT_EQ(img.Row(0)[0], 0xFF112233u);
  auto some = bmp32(0x00112233, 0x80445566);
  ASSERT_EQ(loadBmpMemory(some.data(), some.size(), h, img), FileError::None);
  EXPECT_EQ(h.bitCount, 32);
  EXPECT_EQ(img.Row(0)[0], 0x00112233u);
  EXPECT_EQ(img.Row(0)[1], 0x80445566u);
}

TEST_F(ImageFiles, EveryLoaderGivesTheTopRowFirst) {
  const struct {
    const char* file;
    Loader load;
  } cases[] = {{"o.png", pngGetImage}, {"o.jpg", jpegGetImage}, {"o.bmp", bmpGetImage}};
  for (auto c : cases) {
    SCOPED_TRACE(c.file);
    if (!convert("-size 16x16 xc:blue -fill red -draw 'rectangle 0,0 15,7' " + path(c.file)))
      GTEST_SKIP() << "ImageMagick is not installed";
    BitmapInfoHeader h;
    TMTC img;
    ASSERT_EQ(c.load(path(c.file), h, img), FileError::None);
    EXPECT_GT(channel(img.Row(0)[3], 16), 200);
    EXPECT_LT(channel(img.Row(0)[3], 0), 50);
    EXPECT_GT(channel(img.Row(15)[3], 0), 200);
    EXPECT_LT(channel(img.Row(15)[3], 16), 50);
  }
}

// Files of many kinds made by ImageMagick: (x, y) must come out as expected
// within `tolerance` per channel, with the header's bit count and resolution.
struct Conversion {
  const char* name;
  const char* file;
  const char* args;  // before the output name
  Loader load;
  int x, y;
  uint32_t expected;
  int tolerance;
  uint16_t bitCount;
  int32_t pelsPerMeter;
};

TEST_F(ImageFiles, ConversionsFromOtherPrograms) {
  const Conversion cases[] = {
      {"16-bit grey", "g16.png", "-size 4x3 xc:gray50 -depth 16 -define png:bit-depth=16 -define png:color-type=0", pngGetImage, 1, 1, 0xFF808080, 1, 24, 0},
      {"1-bit grey", "g1.png", "-size 4x3 xc:white -fill black -draw 'point 1,1' -type Bilevel -depth 1", pngGetImage, 1,
       1, 0xFF000000, 0, 24, 0},
      {"grey and alpha", "ga.png", "-size 4x3 xc:'graya(25%,0.5)' -type GrayscaleAlpha -depth 8", pngGetImage, 2, 2,
       0x80404040, 1, 32, 0},
      {"palette with transparency", "p8.png",
       "-size 4x3 xc:red -fill 'rgba(0,0,255,0)' -draw 'color 0,0 point' PNG8:", pngGetImage, 1, 0, 0xFFFF0000, 0, 32, 0},
      {"palette transparent pixel", "p8t.png",
       "-size 4x3 xc:red -fill 'rgba(0,0,255,0)' -draw 'color 0,0 point' PNG8:", pngGetImage, 0, 0, 0x00000000, 255, 32,
       0},
      {"16-bit RGBA", "c64.png", "-size 4x3 xc:'rgba(255,128,0,0.25)' -depth 16 PNG64:", pngGetImage, 3, 2, 0x40FF8000, 1,
       32, 0},
      {"RGB with resolution", "r.png", "-size 4x3 xc:'rgb(10,20,30)' -units PixelsPerInch -density 72 PNG24:",
       pngGetImage, 0, 0, 0xFF0A141E, 0, 24, 2834},
      {"grey JPEG", "g.jpg", "-size 8x8 xc:gray50 -colorspace Gray", jpegGetImage, 3, 3, 0xFF7F7F7F, 2, 24, 0},
      {"CMYK JPEG", "c.jpg", "-size 8x8 xc:'rgb(255,128,0)' -colorspace CMYK -quality 100", jpegGetImage, 3, 3,
       0xFFFF8000, 6, 24, 0},
      {"JPEG at 300 dpi", "d.jpg", "-size 8x8 xc:'rgb(200,100,50)' -units PixelsPerInch -density 300 -quality 100",
       jpegGetImage, 4, 4, 0xFFC86432, 3, 24, 11811},
      {"JPEG at 40 dots per cm", "cm.jpg",
       "-size 8x8 xc:'rgb(200,100,50)' -units PixelsPerCentimeter -density 40 -quality 100", jpegGetImage, 4, 4,
       0xFFC86432, 3, 24, 4000},
  };
  for (const Conversion& c : cases) {
    SCOPED_TRACE(c.name);
    if (!convert(std::string(c.args) + (std::string(c.args).back() == ':' ? "" : " ") + path(c.file)))
      GTEST_SKIP() << "ImageMagick is not installed";
    BitmapInfoHeader h;
    TMTC img;
    ASSERT_EQ(c.load(path(c.file), h, img), FileError::None);
    EXPECT_EQ(h.bitCount, c.bitCount);
    // ImageMagick rounds 72 dpi to 28.34 dots per cm.
    EXPECT_NEAR(h.xPelsPerMeter, c.pelsPerMeter, 1);
    const uint32_t got = img.Row(c.y)[c.x];
    for (int s : {0, 8, 16, 24})
      EXPECT_NEAR(channel(got, s), channel(c.expected, s), c.tolerance) << std::hex << got << " shift " << std::dec << s;
  }
}

// Without Adobe's marker the inks are read as stored (255 = full ink); the
// marker says they are inverted. The same bytes read both ways.
TEST_F(ImageFiles, CmykJpegWithoutAdobeMarkerIsNotInverted) {
  if (!convert("-size 8x8 xc:'rgb(255,128,0)' -colorspace CMYK -quality 100 " + path("c.jpg")))
    GTEST_SKIP() << "ImageMagick is not installed";
  std::vector<uint8_t> b = readBytes(dir / "c.jpg");
  size_t i = 2;
  while (i + 4 < b.size() && !(b[i] == 0xFF && b[i + 1] == 0xEE)) i += 2 + (size_t(b[i + 2]) << 8 | b[i + 3]);
  ASSERT_LT(i + 4, b.size()) << "no Adobe marker";
  b.erase(b.begin() + long(i), b.begin() + long(i + 2 + (size_t(b[i + 2]) << 8 | b[i + 3])));
  BitmapInfoHeader h;
  TMTC img;
  ASSERT_EQ(loadJpegMemory(b.data(), b.size(), h, img), FileError::None);
  // Stored 255 − ink: C 255, M 128, Y 0, K 255 read as inks is full black.
  EXPECT_EQ(img.Row(3)[3], 0xFF000000u);
}

// BMPs of every kind ImageMagick writes, each read by us as ImageMagick
// itself reads it back.
TEST_F(ImageFiles, BmpKindsOtherProgramsWrite) {
  // Many colours, so that nothing is written with a palette unless asked;
  // a transparent corner and a half-transparent band for the alpha kinds.
  if (!convert("-size 64x16 xc: -channel R -fx 'i/w' -channel G -fx 'j/h' -channel B -fx '(i*j%7)/7' +channel "
               "-depth 8 " + path("in.png")) ||
      !convert(path("in.png") + " -alpha set -fill 'rgba(0,0,0,0)' -draw 'color 0,0 point' -fill "
               "'rgba(255,0,0,0.5)' -draw 'rectangle 10,5 60,8' " + path("alpha.png")))
    GTEST_SKIP() << "ImageMagick is not installed";
  const struct {
    const char* name;
    const char* args;  // from in.png (or alpha.png when it names it) to the file
    uint32_t headerSize;
    uint16_t bits;
    uint32_t compression;
    uint16_t ourBitCount;  // the loader's header
    int tolerance = 1;     // fields under 8 bits may be widened with another rounding
  } cases[] = {
      {"1 bit", "-monochrome BMP3:", 40, 1, 0, 24},
      {"4 bits", "-colors 16 BMP3:", 40, 4, 0, 24},
      {"8 bits", "-colors 200 -compress None BMP3:", 40, 8, 0, 24},
      {"RLE8", "-colors 200 -compress RLE BMP3:", 40, 8, 1, 24},
      {"oldest header, 4 bits", "-colors 16 BMP2:", 12, 4, 0, 24},
      {"oldest header, 8 bits", "-colors 200 BMP2:", 12, 8, 0, 24},
      {"oldest header, 24 bits", "BMP2:", 12, 24, 0, 24},
      {"5-6-5", "-define bmp:subtype=RGB565 BMP:", 124, 16, 3, 24},
      {"5-5-5", "-define bmp:subtype=RGB555 BMP:", 124, 16, 3, 24},
      {"24 bits", "BMP3:", 40, 24, 0, 24},
      {"1-5-5-5 alpha", "alpha.png -define bmp:subtype=ARGB1555 BMP:", 124, 16, 3, 32},
      // ImageMagick widens 4-bit fields by shifting: 15 reads as 240, not 255.
      {"4-4-4-4 alpha", "alpha.png -define bmp:subtype=ARGB4444 BMP:", 124, 16, 3, 32, 17},
      {"32 bits with alpha", "alpha.png BMP:", 124, 32, 3, 32},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string args = c.args;
    const bool fromAlpha = args.rfind("alpha.png", 0) == 0;
    const std::string options = fromAlpha ? args.substr(10) : args;
    ASSERT_TRUE(convert(path(fromAlpha ? "alpha.png" : "in.png") + " " + options + path("x.bmp")));
    const std::vector<uint8_t> file = readBytes(dir / "x.bmp");
    ASSERT_GT(file.size(), 30u);
    ASSERT_EQ(file[14], c.headerSize);
    ASSERT_EQ(file[c.headerSize == 12 ? 24 : 28], c.bits);
    ASSERT_EQ(c.headerSize == 12 ? 0u : uint32_t(file[30]), c.compression);
    BitmapInfoHeader h;
    TMTC ours;
    ASSERT_EQ(bmpGetImage(path("x.bmp"), h, ours), FileError::None);
    EXPECT_EQ(h.bitCount, c.ourBitCount);
    ASSERT_TRUE(convert(path("x.bmp") + " -depth 8 rgba:" + path("x.rgba")));
    const std::vector<uint8_t> theirs = readBytes(dir / "x.rgba");
    ASSERT_EQ(theirs.size(), size_t(ours.width) * size_t(ours.height) * 4);
    for (int32_t y = 0; y < ours.height; ++y)
      for (int32_t x = 0; x < ours.width; ++x) {
        const uint8_t* t = theirs.data() + (size_t(y) * size_t(ours.width) + size_t(x)) * 4;
        const uint32_t p = ours.Row(y)[x];
        ASSERT_NEAR(channel(p, 16), t[0], c.tolerance) << x << "," << y;
        ASSERT_NEAR(channel(p, 8), t[1], c.tolerance) << x << "," << y;
        ASSERT_NEAR(channel(p, 0), t[2], c.tolerance) << x << "," << y;
        // ImageMagick reads a one-bit alpha of 1 as 128, not 255.
        const int alpha = std::string(c.name) == "1-5-5-5 alpha" && t[3] == 128 ? 255 : t[3];
        ASSERT_NEAR(channel(p, 24), alpha, c.tolerance) << x << "," << y;
      }
  }
}

// Either side may exceed a paper's; the pixel count is what is limited.
TEST_F(ImageFiles, WidePicturesOpenWhole) {
  for (const char* name : {"wide.png", "wide.jpg", "wide.bmp"}) {
    SCOPED_TRACE(name);
    if (!convert("-size 12000x300 gradient:red-blue -fill white -draw 'point 11999,299' " + path(name)))
      GTEST_SKIP() << "ImageMagick is not installed";
    BitmapInfoHeader h;
    TMTC img;
    const std::string ext = fs::path(name).extension().string();
    const Loader load = ext == ".png" ? pngGetImage : ext == ".jpg" ? jpegGetImage : bmpGetImage;
    ASSERT_EQ(load(path(name), h, img), FileError::None);
    EXPECT_EQ(h.width, 12000);
    EXPECT_EQ(h.height, 300);
    EXPECT_GT(channel(img.Row(299)[11999], 8), 150);  // the last pixel is there
  }
}

// An Exif block with the orientation tag, as cameras put it after SOI.
std::vector<uint8_t> withOrientation(std::vector<uint8_t> jpeg, int orientation, bool littleEndian) {
  std::vector<uint8_t> app1 = {0xFF, 0xE1, 0, 34, 'E', 'x', 'i', 'f', 0, 0};
  const uint8_t o = uint8_t(orientation);
  const std::vector<uint8_t> tiff =
      littleEndian ? std::vector<uint8_t>{'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0, o, 0, 0, 0,
                                          0, 0, 0, 0}
                   : std::vector<uint8_t>{'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, o, 0, 0,
                                          0, 0, 0, 0};
  app1.insert(app1.end(), tiff.begin(), tiff.end());
  jpeg.insert(jpeg.begin() + 2, app1.begin(), app1.end());
  return jpeg;
}

// Photos open upright, as ImageMagick turns them with -auto-orient.
TEST_F(ImageFiles, JpegOrientationTag) {
  // Four quarters of different colours on a picture wider than high.
  if (!convert("-size 48x32 xc:red -fill lime -draw 'rectangle 24,0 47,15' -fill blue -draw 'rectangle 0,16 23,31' "
               "-fill white -draw 'rectangle 24,16 47,31' -quality 100 " + path("plain.jpg")))
    GTEST_SKIP() << "ImageMagick is not installed";
  const std::vector<uint8_t> plain = readBytes(dir / "plain.jpg");
  for (int orientation = 1; orientation <= 9; ++orientation) {
    for (bool little : {false, true}) {
      SCOPED_TRACE(std::to_string(orientation) + (little ? " II" : " MM"));
      writeBytes(dir / "o.jpg", withOrientation(plain, orientation, little));
      BitmapInfoHeader h;
      TMTC ours;
      ASSERT_EQ(jpegGetImage(path("o.jpg"), h, ours), FileError::None);
      const bool onItsSide = orientation >= 5 && orientation <= 8;  // 9 is no orientation: as stored
      EXPECT_EQ(h.width, onItsSide ? 32 : 48);
      EXPECT_EQ(h.height, onItsSide ? 48 : 32);
      ASSERT_TRUE(convert(path("o.jpg") + " -auto-orient -depth 8 rgba:" + path("o.rgba")));
      const std::vector<uint8_t> theirs = readBytes(dir / "o.rgba");
      ASSERT_EQ(theirs.size(), size_t(ours.width) * size_t(ours.height) * 4);
      for (int32_t y = 0; y < ours.height; ++y)
        for (int32_t x = 0; x < ours.width; ++x) {
          const uint8_t* t = theirs.data() + (size_t(y) * size_t(ours.width) + size_t(x)) * 4;
          const uint32_t p = ours.Row(y)[x];
          ASSERT_NEAR(channel(p, 16), t[0], 3) << x << "," << y;
          ASSERT_NEAR(channel(p, 8), t[1], 3) << x << "," << y;
          ASSERT_NEAR(channel(p, 0), t[2], 3) << x << "," << y;
        }
    }
  }
  // Broken Exif blocks leave the picture as stored.
  std::vector<uint8_t> broken = withOrientation(plain, 6, false);
  broken[2 + 4 + 6 + 2] = 41;  // not 42: no TIFF header
  BitmapInfoHeader h;
  TMTC img;
  ASSERT_EQ(loadJpegMemory(broken.data(), broken.size(), h, img), FileError::None);
  EXPECT_EQ(h.width, 48);
  broken = withOrientation(plain, 6, false);
  broken[2 + 4 + 6 + 7] = 200;  // the directory past the block
  ASSERT_EQ(loadJpegMemory(broken.data(), broken.size(), h, img), FileError::None);
  EXPECT_EQ(h.width, 48);
}

TEST_F(ImageFiles, PngFastLevelForLargePictures) {
  EXPECT_EQ(pngLevelFor(kPngLevelAuto, 1000 * 1000), -1);
  EXPECT_EQ(pngLevelFor(kPngLevelAuto, 1024 * 1024), kPngFastLevel);
  EXPECT_EQ(pngLevelFor(9, 4096 * 4096), 9);
  EXPECT_EQ(pngLevelFor(42, 1), 9);
  // A large picture at the fast level, then at the best: both valid PNG
  // files of the same pixels, as ImageMagick reads them.
  TMTC img(1100, 1000);
  fillPattern(img, true);
  ByteBuffer fast, best;
  ASSERT_EQ(encodePng(headerFor(img, 32, 0), img, kPngLevelAuto, fast), FileError::None);
  ASSERT_EQ(encodePng(headerFor(img, 32, 0), img, 9, best), FileError::None);
  EXPECT_LT(best.size, fast.size);
  if (!convert("-version >/dev/null")) GTEST_SKIP() << "ImageMagick is not installed";
  writeBytes(dir / "fast.png", std::vector<uint8_t>(fast.data.get(), fast.data.get() + fast.size));
  ASSERT_TRUE(convert(path("fast.png") + " -depth 8 rgba:" + path("fast.rgba")));
  const std::vector<uint8_t> rgba = readBytes(dir / "fast.rgba");
  ASSERT_EQ(rgba.size(), size_t(1100) * 1000 * 4);
  for (int32_t y = 0; y < img.height; y += 7)
    for (int32_t x = 0; x < img.width; x += 3) {
      const uint32_t p = img.Row(y)[x];
      const uint8_t* q = rgba.data() + (size_t(y) * 1100 + size_t(x)) * 4;
      ASSERT_EQ(uint32_t(q[3]) << 24 | uint32_t(q[0]) << 16 | uint32_t(q[1]) << 8 | q[2], p) << x << "," << y;
    }
}

TEST_F(ImageFiles, InterlacedPngMatchesThePlainOne) {
  if (!convert("-size 37x29 gradient:red-blue -fill 'rgba(0,255,0,0.5)' -draw 'circle 18,14 18,3' " + path("plain.png")) ||
      !convert(path("plain.png") + " -interlace PNG " + path("adam7.png")))
    GTEST_SKIP() << "ImageMagick is not installed";
  BitmapInfoHeader h1, h2;
  TMTC plain, adam7;
  ASSERT_EQ(pngGetImage(path("plain.png"), h1, plain), FileError::None);
  ASSERT_EQ(pngGetImage(path("adam7.png"), h2, adam7), FileError::None);
  ASSERT_EQ(plain.size(), adam7.size());
  for (int32_t y = 0; y < plain.height; ++y)
    for (int32_t x = 0; x < plain.width; ++x) ASSERT_EQ(plain.Row(y)[x], adam7.Row(y)[x]) << x << "," << y;
}

// ImageMagick reads what we write: raw RGBA (or RGB) bytes from our files.
TEST_F(ImageFiles, OtherProgramsReadOurFiles) {
  if (!convert("-version >/dev/null")) GTEST_SKIP() << "ImageMagick is not installed";
  TMTC img(9, 6);
  fillPattern(img, true);
  ASSERT_EQ(pngSaveImage(path("o.png"), headerFor(img, 32, 3780), img), FileError::None);
  JpegOptions o;
  o.qualityType = 0;
  o.quality = 100;
  o.progressive = true;
  ASSERT_EQ(jpegSaveImage(path("o.jpg"), headerFor(img, 24, 11811), img, o), FileError::None);
  ASSERT_TRUE(convert(path("o.png") + " -depth 8 rgba:" + path("png.raw")));
  ASSERT_TRUE(convert(path("o.jpg") + " -depth 8 rgb:" + path("jpg.raw")));
  const std::vector<uint8_t> rgba = readBytes(dir / "png.raw"), rgb = readBytes(dir / "jpg.raw");
  ASSERT_EQ(rgba.size(), 9u * 6 * 4);
  ASSERT_EQ(rgb.size(), 9u * 6 * 3);
  for (int32_t y = 0; y < 6; ++y)
    for (int32_t x = 0; x < 9; ++x) {
      const uint32_t p = img.Row(y)[x];
      const size_t i = size_t(y) * 9 + size_t(x);
      EXPECT_EQ(rgba[i * 4 + 0], channel(p, 16));
      EXPECT_EQ(rgba[i * 4 + 1], channel(p, 8));
      EXPECT_EQ(rgba[i * 4 + 2], channel(p, 0));
      EXPECT_EQ(rgba[i * 4 + 3], channel(p, 24));
      EXPECT_NEAR(rgb[i * 3 + 0], channel(p, 16), 8);
      EXPECT_NEAR(rgb[i * 3 + 2], channel(p, 0), 8);
    }
  // Resolutions as the other program sees them.
  ASSERT_TRUE(convert(path("o.jpg") + " -format '%x %U' info:" + path("jpg.txt")));
  const std::vector<uint8_t> info = readBytes(dir / "jpg.txt");
  EXPECT_EQ(std::string(info.begin(), info.end()), "300 PixelsPerInch");
}

// Bytes of a real file with something done to them.
struct Hostile {
  const char* name;
  const char* source;  // a file made by the test, or "" for none
  std::function<void(std::vector<uint8_t>&)> damage;
  Loader load;
  FileError expected;
};

void putBe32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (24 - 8 * i));
}

// Offset of the first SOFn marker's height field.
size_t sofHeight(const std::vector<uint8_t>& b) {
  for (size_t i = 2; i + 8 < b.size(); ++i)
    if (b[i] == 0xFF && (b[i + 1] == 0xC0 || b[i + 1] == 0xC2)) return i + 5;
  return 0;
}

TEST_F(ImageFiles, HostileFilesGiveErrorCodes) {
  TMTC img(64, 48);
  fillPattern(img, true);
  ASSERT_EQ(pngSaveImage(path("src.png"), headerFor(img, 32, 0), img), FileError::None);
  ASSERT_EQ(jpegSaveImage(path("src.jpg"), headerFor(img, 24, 0), img, JpegOptions{}), FileError::None);
  JpegOptions prog;
  prog.progressive = true;
  ASSERT_EQ(jpegSaveImage(path("prog.jpg"), headerFor(img, 24, 0), img, prog), FileError::None);
  ASSERT_EQ(bmpSaveImage(path("src.bmp"), headerFor(img, 24, 0), img), FileError::None);

  auto keep = [](size_t n) { return [n](std::vector<uint8_t>& b) { b.resize(std::min(b.size(), n)); }; };
  auto garbage = [](std::vector<uint8_t>& b) {
    b.assign(300, 0);
    for (size_t i = 0; i < b.size(); ++i) b[i] = uint8_t(i * 37 + 11);
  };
  auto empty = [](std::vector<uint8_t>& b) { b.clear(); };
  auto half = [](std::vector<uint8_t>& b) { b.resize(b.size() / 2); };
  auto pngSize = [](uint32_t w, uint32_t h) {
    return [w, h](std::vector<uint8_t>& b) {
      putBe32(b, 16, w);
      putBe32(b, 20, h);
    };
  };
  auto jpegSize = [](uint16_t w, uint16_t h) {
    return [w, h](std::vector<uint8_t>& b) {
      const size_t at = sofHeight(b);
      ASSERT_NE(at, 0u);
      b[at] = uint8_t(h >> 8);
      b[at + 1] = uint8_t(h);
      b[at + 2] = uint8_t(w >> 8);
      b[at + 3] = uint8_t(w);
    };
  };
  auto corruptIdat = [](std::vector<uint8_t>& b) {
    for (size_t i = 8; i + 8 < b.size(); ++i)
      if (std::equal(b.begin() + long(i), b.begin() + long(i) + 4, "IDAT")) {
        b[i + 10] ^= 0x55;
        return;
      }
  };
  auto halfThenEnd = [](std::vector<uint8_t>& b) {
    b.resize(b.size() / 2);
    b.push_back(0xFF);
    b.push_back(0xD9);
  };
  auto none = [](std::vector<uint8_t>&) {};

  const Hostile cases[] = {
      {"empty PNG", "src.png", empty, pngGetImage, FileError::Truncated},
      {"garbage PNG", "src.png", garbage, pngGetImage, FileError::NotThisFormat},
      {"PNG signature only", "src.png", keep(8), pngGetImage, FileError::Truncated},
      {"PNG cut inside IHDR", "src.png", keep(20), pngGetImage, FileError::Truncated},
      {"PNG cut in half", "src.png", half, pngGetImage, FileError::Truncated},
      {"PNG of 100 million and 10000 pixels", "src.png", pngSize(10001, 10000), pngGetImage, FileError::TooLarge},
      {"PNG 1 × 100000001", "src.png", pngSize(1, 100000001), pngGetImage, FileError::TooLarge},
      {"PNG 4 billion a side", "src.png", pngSize(0xFFFFFFFFu, 0xFFFFFFFFu), pngGetImage, FileError::TooLarge},
      {"PNG 0 × 0", "src.png", pngSize(0, 0), pngGetImage, FileError::Corrupt},
      {"PNG damaged IDAT", "src.png", corruptIdat, pngGetImage, FileError::Corrupt},
      {"a JPEG as PNG", "src.jpg", none, pngGetImage, FileError::NotThisFormat},
      {"empty JPEG", "src.jpg", empty, jpegGetImage, FileError::Truncated},
      {"garbage JPEG", "src.jpg", garbage, jpegGetImage, FileError::NotThisFormat},
      {"JPEG markers only", "src.jpg", keep(2), jpegGetImage, FileError::Truncated},
      {"JPEG cut in half", "src.jpg", half, jpegGetImage, FileError::Truncated},
      {"progressive JPEG cut in half", "prog.jpg", half, jpegGetImage, FileError::Truncated},
      {"JPEG cut in half with an end marker", "src.jpg", halfThenEnd, jpegGetImage, FileError::Truncated},
      {"progressive JPEG cut with an end marker", "prog.jpg", halfThenEnd, jpegGetImage, FileError::Truncated},
      {"JPEG 65000 × 2000", "src.jpg", jpegSize(65000, 2000), jpegGetImage, FileError::TooLarge},
      {"JPEG 0 high", "src.jpg", jpegSize(64, 0), jpegGetImage, FileError::Corrupt},
      {"a PNG as JPEG", "src.png", none, jpegGetImage, FileError::NotThisFormat},
      {"empty BMP", "src.bmp", empty, bmpGetImage, FileError::Truncated},
      {"garbage BMP", "src.bmp", garbage, bmpGetImage, FileError::NotThisFormat},
      {"BMP cut in half", "src.bmp", half, bmpGetImage, FileError::Truncated},
  };
  for (const Hostile& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = readBytes(dir / c.source);
    c.damage(bytes);
    writeBytes(dir / "bad", bytes);
    BitmapInfoHeader h;
    TMTC out;
    EXPECT_EQ(c.load(path("bad"), h, out), c.expected);
    EXPECT_EQ(h.width, 0);
  }

  for (Loader load : {pngGetImage, jpegGetImage, bmpGetImage}) {
    BitmapInfoHeader h;
    TMTC out;
    EXPECT_EQ(load(path("missing.png"), h, out), FileError::CannotOpen);
    EXPECT_EQ(load(dir.string(), h, out), FileError::CannotOpen);
  }
}

TEST_F(ImageFiles, FailedSavesKeepThePreviousFile) {
  TMTC img(4, 4);
  fillPattern(img, false);
  const std::string target = path("keep.png");
  writeBytes(target, {'o', 'l', 'd'});
  ::chmod(target.c_str(), 0640);
  TMTC empty;
  BitmapInfoHeader wrongSize = headerFor(img, 32, 0);
  wrongSize.width = 5;
  BitmapInfoHeader wrongBits = headerFor(img, 16, 0);
  EXPECT_EQ(pngSaveImage(target, wrongSize, img), FileError::BadArgument);
  EXPECT_EQ(jpegSaveImage(target, wrongBits, img, JpegOptions{}), FileError::BadArgument);
  EXPECT_EQ(bmpSaveImage(target, headerFor(img, 24, 0), empty), FileError::BadArgument);
  EXPECT_EQ(pngSaveImage(path("no/such/dir.png"), headerFor(img, 32, 0), img), FileError::WriteFailed);
  EXPECT_EQ(readBytes(target), (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_EQ(fileCount(), 1u);

  // A successful save replaces the file and keeps its permissions.
  ASSERT_EQ(pngSaveImage(target, headerFor(img, 32, 0), img), FileError::None);
  struct stat st;
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(fileCount(), 1u);
}

}  // namespace
}  // namespace vl
