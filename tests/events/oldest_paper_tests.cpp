#include "events/oldest_paper.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "document/paper.h"
#include "events/event_files.h"
#include "events/event_render.h"
#include "files/image_files.h"
#include "platform/ui_services.h"
#include "shell/test_process.h"
#include "support/oldest_builder.h"

namespace vl {
namespace {

using test::OldestBuilder;
using test::WpbLayerBytes;

// A 5 × 3 layer: a run, literals, and a run that overshoots the last row.
WpbLayerBytes patterned() {
  WpbLayerBytes l;
  l.mode = 3;
  l.opacity = 200;
  test::wpbRun(l.runs, 4, 0x102030);
  test::wpbLiterals(l.runs, {0xFF0000, 0x00FF00, 0x0000FF});
  test::wpbRun(l.runs, 0, 0x999999);  // a run of nothing
  test::wpbRun(l.runs, 124, 0xABCDEF);
  return l;
}

WpbLayerBytes plain(uint32_t rgb, int mode = 0, uint8_t visible = 1) {
  WpbLayerBytes l;
  l.mode = mode;
  l.visible = visible;
  test::wpbRun(l.runs, 15, rgb);
  return l;
}

std::vector<uint8_t> protectedStream() {
  OldestBuilder b;
  b.newPaper(5, 3);
  for (int m = 0; m < 16; ++m) b.op(273, 0).markers({m});
  return b.end().bytes;
}

TEST(OldestPaper, LayersComeBackFromTheirRuns) {
  std::vector<uint8_t> file = test::wpbFile(5, 3, 0x336699, 1, {plain(0xFFFFFF), patterned()}, protectedStream());
  WpbImage img;
  ASSERT_EQ(decodeWpb(file.data(), file.size(), img), kEventFileOk);
  EXPECT_TRUE(img.hasLayers);
  EXPECT_EQ(img.width, 5);
  EXPECT_EQ(img.height, 3);
  EXPECT_EQ(img.paperColour, 0x336699u);
  ASSERT_EQ(img.layers.size(), 2u);
  const WpbLayer& l = img.layers[1];
  EXPECT_EQ(l.mode, 3);
  EXPECT_EQ(l.opacity, 200);
  EXPECT_TRUE(l.visible);
  const uint32_t expected[15] = {0x102030, 0x102030, 0x102030, 0x102030, 0xFF0000, 0x00FF00, 0x0000FF, 0xABCDEF,
                                 0xABCDEF, 0xABCDEF, 0xABCDEF, 0xABCDEF, 0xABCDEF, 0xABCDEF, 0xABCDEF};
  for (int32_t i = 0; i < 15; ++i) EXPECT_EQ(l.pixels->Pixel(i % 5, i / 5), 0xFF000000u | expected[i]) << i;
  EXPECT_EQ(img.streamState, WpbStream::Valid);
  EXPECT_TRUE(img.stream.IsProtected());
  EXPECT_EQ(img.state, 0);

  // Into a paper: its layers, modes, current layer, colour and protection.
  ScopedUiCapture quiet;
  TPaper paper;
  TFlowImage flow(paper);
  ASSERT_TRUE(buildWpbPaper(paper, flow, img, "old"));
  ASSERT_EQ(paper.layerCount(), 2);
  EXPECT_EQ(paper.layerAt(0)->Mode(), 0);
  EXPECT_EQ(paper.layerAt(1)->Mode(), 3);
  EXPECT_EQ(paper.layerAt(1)->opacity, 200);
  EXPECT_EQ(paper.currentLayerIndex(), 1);
  EXPECT_EQ(paper.paperColor, 0x336699u);
  EXPECT_EQ(paper.eventProtected, 1);
  EXPECT_EQ(paper.layerAt(1)->pixels->Pixel(4, 0), 0xFFFF0000u);
  // White multiply under an opaque normal layer at 200: the normal layer over the paper colour.
  EXPECT_EQ(paper.compositeImage.At(4, 0) & 0xFFFFFF, blendRGB(0x336699, 0xFF0000, 200) & 0xFFFFFF);
}

TEST(OldestPaper, DamagedFilesGiveTheirCodes) {
  const std::vector<uint8_t> good = test::wpbFile(5, 3, 0, 0, {plain(0x808080), patterned()}, {});
  WpbImage probe;
  ASSERT_EQ(decodeWpb(good.data(), good.size(), probe), kEventFileOk);
  const size_t layer1 = 32 + 12 + 4;  // the second layer's head
  auto put32 = [](std::vector<uint8_t>& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
  };
  struct Case {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> damage;
    int code;
  } cases[] = {
      {"no magic", [](std::vector<uint8_t>& b) { b[3] = '1'; }, kEventFileMagic},
      {"only the magic", [](std::vector<uint8_t>& b) { b.resize(4); }, kEventFileShortRead},
      {"a short header", [](std::vector<uint8_t>& b) { b.resize(31); }, kEventFileShortRead},
      {"width 0", [&](std::vector<uint8_t>& b) { put32(b, 8, 0); }, kEventFileHeaderLength},
      {"height 10001", [&](std::vector<uint8_t>& b) { put32(b, 12, 10001); }, kEventFileHeaderLength},
      {"a negative width", [&](std::vector<uint8_t>& b) { put32(b, 8, 0x80000000u); }, kEventFileHeaderLength},
      {"blend mode 22", [&](std::vector<uint8_t>& b) { put32(b, layer1, 22); }, kEventFileHeaderLength},
      {"a negative byte count", [&](std::vector<uint8_t>& b) { put32(b, layer1 + 8, 0xFFFFFFF0u); }, kEventFileHeaderLength},
      {"a byte count past the end", [&](std::vector<uint8_t>& b) { put32(b, layer1 + 8, 1000); }, kEventFileShortRead},
      {"a layer missing", [&](std::vector<uint8_t>& b) { b[20] = 2; }, kEventFileShortRead},
      {"runs that do not fill the layer", [&](std::vector<uint8_t>& b) { b[layer1 + 12 + 18] = 5; }, kEventFileBlockLength},
      {"literals past the byte count", [&](std::vector<uint8_t>& b) { b[layer1 + 12 + 4] = 200; }, kEventFileBlockLength},
      {"far too few bytes for the size",
       [&](std::vector<uint8_t>& b) {
         put32(b, 8, 10000);
         put32(b, 12, 10000);
       },
       kEventFileBlockLength},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> b = good;
    c.damage(b);
    WpbImage img;
    EXPECT_EQ(decodeWpb(b.data(), b.size(), img), c.code) << c.name;
  }
  test::TempDir dir;
  WpbImage img;
  EXPECT_EQ(readWpbFile(dir.file("none.wpb"), img), kEventFileNotFound);
  ASSERT_EQ(::mkfifo(dir.file("pipe.wpb").c_str(), 0600), 0);
  EXPECT_EQ(readWpbFile(dir.file("pipe.wpb"), img), kEventFileCannotOpen);
}

// The stream after the layers is checked; a bad one is dropped and the
// picture stays.
TEST(OldestPaper, ADamagedStreamIsDroppedAndThePictureKept) {
  OldestBuilder unknown;
  unknown.newPaper(5, 3).code(700);
  struct Case {
    const char* name;
    std::vector<uint8_t> stream;
    int32_t lengthChange;
    WpbStream state;
    bool isProtected;
  } cases[] = {
      {"none", {}, 0, WpbStream::None, false},
      {"protected", protectedStream(), 0, WpbStream::Valid, true},
      {"an unknown code", unknown.bytes, 0, WpbStream::Failed, false},
      {"longer than the file", protectedStream(), 5, WpbStream::Failed, false},
      {"a negative length", protectedStream(), -1000000, WpbStream::Failed, false},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> b = test::wpbFile(5, 3, 0, 0, {plain(0x808080)}, c.stream);
    const uint32_t length = uint32_t(int32_t(c.stream.size()) + c.lengthChange);
    for (int i = 0; i < 4; ++i) b[24 + size_t(i)] = uint8_t(length >> (8 * i));
    WpbImage img;
    ASSERT_EQ(decodeWpb(b.data(), b.size(), img), kEventFileOk) << c.name;
    EXPECT_EQ(img.streamState, c.state) << c.name;
    EXPECT_EQ(img.state, c.state == WpbStream::Failed ? 1 : 0) << c.name;
    EXPECT_EQ(img.stream.IsProtected(), c.isProtected) << c.name;
    EXPECT_EQ(img.layers.size(), 1u) << c.name;
  }
}

TEST(OldestPaper, ExportWritesTheLayersOrReplaysAPaperWithoutThem) {
  ScopedUiCapture quiet;
  test::TempDir dir;
  auto write = [&](const char* name, const std::vector<uint8_t>& bytes) {
    std::ofstream(dir.file(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return dir.file(name);
  };
  std::string reason;
  const std::string layered = write("l.wpb", test::wpbFile(5, 3, 0xFFFFFF, 0, {plain(0x808080), patterned()}, {}));
  ASSERT_TRUE(exportFile(layered, dir.file("l.png"), 0, reason)) << reason;
  BitmapInfoHeader h;
  TMTC img;
  ASSERT_EQ(pngGetImage(dir.file("l.png"), h, img), FileError::None);
  ASSERT_EQ(img.width, 5);
  // Grey multiplied on white, then red over it at 200.
  EXPECT_EQ(img.Row(0)[4] & 0xFFFFFF, blendRGB(0x808080, 0xFF0000, 200) & 0xFFFFFF);
  // Flag 1: no layers, the picture is the stream's.
  OldestBuilder s;
  s.newPaper(6, 4).paperColour(0x00FF00).end();
  const std::string streamOnly = write("s.wpb", test::wpbFile(6, 4, 0, 0, {}, s.bytes, 1));
  ASSERT_TRUE(exportFile(streamOnly, dir.file("s.png"), 0, reason)) << reason;
  ASSERT_EQ(pngGetImage(dir.file("s.png"), h, img), FileError::None);
  EXPECT_EQ(img.width, 6);
  EXPECT_EQ(img.Row(3)[5] & 0xFFFFFF, 0x00FF00u);
  EXPECT_FALSE(exportFile(write("x.wpb", {'W', 'P', 'B', '1'}), dir.file("x.png"), 0, reason));
  EXPECT_NE(reason.find("x.wpb"), std::string::npos);
}

}  // namespace
}  // namespace vl
