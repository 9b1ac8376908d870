#include "files/psd.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "files/psd_internal.h"
#include "platform/strings.h"
#include "support/temp_dir.h"

namespace vl {
namespace {

namespace fs = std::filesystem;

const char* const kConvert = "/usr/bin/convert";
const char* const kPython = "/usr/bin/python3";

std::vector<uint8_t> readBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void writeBytes(const fs::path& p, const std::vector<uint8_t>& b) {
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

std::string readText(const fs::path& p) {
  std::ifstream in(p);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

uint32_t be32(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}
uint16_t be16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] << 8 | b[at + 1]); }
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
}
void put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = uint8_t(v >> 8);
  b[at + 1] = uint8_t(v);
}

// The byte of a pixel a channel id stands for.
int shiftOf(int16_t id) { return id == -1 ? 24 : 16 - 8 * id; }

PsdLayerRecord record(int32_t left, int32_t top, int32_t right, int32_t bottom, const char* key, uint8_t opacity,
                      uint8_t flags, const std::string& name) {
  PsdLayerRecord r;
  r.left = left;
  r.top = top;
  r.right = right;
  r.bottom = bottom;
  r.channelIds = {-1, 0, 1, 2};
  std::memcpy(r.blendKey, key, 4);
  r.opacity = opacity;
  r.flags = flags;
  r.name = name;
  return r;
}

// Colours that differ in every byte from pixel to pixel, alpha included.
void paint(TMTC& img, uint32_t seed) {
  for (int32_t y = 0; y < img.height; ++y)
    for (int32_t x = 0; x < img.width; ++x) {
      const uint32_t v = uint32_t(x * 37 + y * 101) + seed;
      img.Row(y)[x] = (v * 7 & 0xFF) << 24 | (v * 13 & 0xFF) << 16 | ((v * 3 + seed) & 0xFF) << 8 | ((x * y + seed) & 0xFF);
    }
}

// A paper of layers, a composite and extra channels handed to the writer.
class TestSource : public PsdWriteSource {
 public:
  struct Layer {
    PsdLayerRecord record;
    TMTC pixels;
  };
  std::deque<Layer> layers;
  TMTC merged;
  std::deque<TChannel> extras;
  std::vector<std::string> extraNames;
  int32_t progressCalls = 0;
  int32_t failRowsAfter = -1;  // row calls that succeed before one fails

  PsdDocumentDescription description(int dpi) const {
    PsdDocumentDescription d;
    d.width = merged.width;
    d.height = merged.height;
    d.xDpi = d.yDpi = dpi;
    d.channels = uint16_t(3 + extras.size());
    d.layerCount = int32_t(layers.size());
    d.currentLayer = d.layerCount - 1;
    return d;
  }
  bool LayerRecord(int32_t layer, PsdLayerRecord& r) override {
    r = layers[size_t(layer)].record;
    return true;
  }
  bool LayerChannelRow(int32_t layer, int16_t id, int32_t row, uint8_t* dst, int32_t width) override {
    const TMTC& p = layers[size_t(layer)].pixels;
    EXPECT_EQ(width, p.width);
    if (!rowAllowed()) return false;
    psdChannelRow(p.Row(row), width, id, dst);
    return true;
  }
  bool MergedChannelRow(int32_t channel, int32_t row, uint8_t* dst, int32_t width) override {
    if (!rowAllowed()) return false;
    for (int32_t x = 0; x < width; ++x) dst[x] = uint8_t(merged.Row(row)[x] >> shiftOf(int16_t(channel)));
    return true;
  }
  bool ExtraChannelName(int32_t channel, std::string& name) override {
    name = extraNames[size_t(channel)];
    return true;
  }
  bool ExtraChannelRow(int32_t channel, int32_t row, uint8_t* dst, int32_t width) override {
    if (!rowAllowed()) return false;
    std::memcpy(dst, extras[size_t(channel)].Row(row), size_t(width));
    return true;
  }
  bool LayerName(int32_t, std::string&) override { return false; }
  void Progress(int32_t, int32_t) override { ++progressCalls; }

 private:
  bool rowAllowed() { return failRowsAfter < 0 || failRowsAfter-- > 0; }
};

// Five layers that try the record's corners: a background, a layer reaching
// past the top-left corner, a hidden protected one past the right side with
// a Korean name, an empty one, and a dissolving one; two named extra channels.
void buildPaper(TestSource& s) {
  s.merged.Resize(16, 12);
  paint(s.merged, 5);
  const struct {
    PsdLayerRecord r;
    uint32_t seed;
  } layers[] = {
      {record(0, 0, 16, 12, "norm", 255, 0, "배경"), 1},
      {record(-5, -3, 6, 7, "mul ", 128, 0, "Layer with offset"), 2},
      {record(10, 4, 20, 12, "scrn", 200, kPsdFlagHidden | kPsdFlagProtectTransparency, "한글 이름 레이어 ✓"), 3},
      {record(3, 3, 3, 3, "norm", 255, 0, "empty"), 4},
      {record(2, 1, 9, 11, "diss", 77, 0, "dissolve"), 5},
  };
  for (const auto& l : layers) {
    TestSource::Layer& layer = s.layers.emplace_back();
    layer.record = l.r;
    if (l.r.width() > 0 && l.r.height() > 0) {
      layer.pixels.Resize(l.r.width(), l.r.height());
      paint(layer.pixels, l.seed);
    }
  }
  s.layers[0].pixels.FillMasked(s.layers[0].pixels.area(), 0xFF000000u, 0xFF000000u);
  for (int k = 0; k < 2; ++k) {
    TChannel& c = s.extras.emplace_back(16, 12);
    for (int32_t y = 0; y < 12; ++y)
      for (int32_t x = 0; x < 16; ++x) c.Row(y)[x] = uint8_t(k == 0 ? x * 16 : (x + y) % 3 * 120);
  }
  s.extraNames = {"마스크 1", "Mask two"};
}

class Psd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.empty());
    setLanguage(Language::English);
  }
  void TearDown() override { setLanguage(Language::Korean); }

  std::string path(const char* name) const { return (dir / name).string(); }

  // Runs a command; false when it fails.
  static bool run(const std::string& cmd) { return std::system((cmd + " 2>/dev/null").c_str()) == 0; }
  static bool haveConvert() { return access(kConvert, X_OK) == 0; }
  static bool havePsdTools() { return run(std::string(kPython) + " -c 'import psd_tools'"); }

  FileError save(TestSource& s, const std::string& file, int dpi = 72) {
    PsdFilePtr w;
    EXPECT_EQ(psdCreateWriter(w), FileError::None);
    psdSetDescription(*w, s.description(dpi));
    psdSetVersion(*w, 6);
    return psdWrite(*w, file, s);
  }

  test::TempDir temp;
  const fs::path dir{temp.path()};
};

TEST_F(Psd, LayersComeBackAsWritten) {
  TestSource s;
  buildPaper(s);
  ASSERT_EQ(save(s, path("a.psd"), 300), FileError::None);
  EXPECT_EQ(s.progressCalls, int32_t(s.layers.size()) + 5);

  PsdFilePtr r;
  ASSERT_EQ(psdOpenReader(path("a.psd"), r), FileError::None);
  PsdFileHeader h;
  ASSERT_EQ(psdReadHeader(*r, h), FileError::None);
  EXPECT_EQ(h.version, 1);
  EXPECT_EQ(h.width, 16);
  EXPECT_EQ(h.height, 12);
  EXPECT_EQ(h.channels, 5);
  EXPECT_EQ(h.depth, 8);
  EXPECT_EQ(h.colorMode, kPsdRgb);
  EXPECT_EQ(h.xDpi, 300);
  EXPECT_FALSE(h.mergedAlpha);
  int32_t count = 0;
  ASSERT_EQ(psdReadLayerTable(*r, count), FileError::None);
  ASSERT_EQ(count, 5);
  for (int32_t i = 0; i < count; ++i) {
    SCOPED_TRACE(i);
    const TestSource::Layer& want = s.layers[size_t(i)];
    PsdLayerRecord got;
    ASSERT_EQ(psdGetLayerRecord(*r, i, got), FileError::None);
    EXPECT_EQ(got.left, want.record.left);
    EXPECT_EQ(got.top, want.record.top);
    EXPECT_EQ(got.right, want.record.right);
    EXPECT_EQ(got.bottom, want.record.bottom);
    EXPECT_EQ(std::string(got.blendKey, 4), std::string(want.record.blendKey, 4));
    EXPECT_EQ(got.opacity, want.record.opacity);
    EXPECT_EQ(got.flags, want.record.flags);
    EXPECT_EQ(got.name, want.record.name);
    EXPECT_EQ(got.channelIds, want.record.channelIds);
    TMTC pixels;
    ASSERT_EQ(psdReadLayerPixels(*r, i, pixels), FileError::None);
    if (!want.pixels.IsAllocated()) {
      EXPECT_FALSE(pixels.IsAllocated());
      continue;
    }
    ASSERT_EQ(pixels.size(), want.pixels.size());
    for (int32_t y = 0; y < pixels.height; ++y)
      for (int32_t x = 0; x < pixels.width; ++x) ASSERT_EQ(pixels.Row(y)[x], want.pixels.Row(y)[x]) << x << "," << y;
    TChannel alpha;
    ASSERT_EQ(psdReadLayerChannel(*r, i, -1, alpha), FileError::None);
    EXPECT_EQ(alpha.At(1, 2), uint8_t(want.pixels.Row(2)[1] >> 24));
  }
  TMTC merged;
  ASSERT_EQ(psdReadMergedPixels(*r, merged), FileError::None);
  for (int32_t y = 0; y < 12; ++y)
    for (int32_t x = 0; x < 16; ++x) ASSERT_EQ(merged.Row(y)[x], s.merged.Row(y)[x] | 0xFF000000u);
  std::vector<std::string> names;
  ASSERT_EQ(psdExtraChannelNames(*r, names), FileError::None);
  EXPECT_EQ(names, s.extraNames);
  for (int k = 0; k < 2; ++k) {
    TChannel c;
    ASSERT_EQ(psdReadMergedChannel(*r, 3 + k, c), FileError::None);
    for (int32_t y = 0; y < 12; ++y) ASSERT_EQ(std::memcmp(c.Row(y), s.extras[size_t(k)].Row(y), 16), 0);
  }
  // The stored names hold the same text, so programs that read only those see it too.
  std::vector<uint8_t> stored;
  ASSERT_EQ(psdReadImageResource(*r, 1006, stored), FileError::None);
  EXPECT_EQ(std::string(stored.begin(), stored.end()), "\x0b마스크 1\x08Mask two");
  ASSERT_EQ(psdReadImageResource(*r, 4242, stored), FileError::None);
  EXPECT_TRUE(stored.empty());
  // Asking for what the file does not have.
  PsdLayerRecord none;
  TChannel c;
  EXPECT_EQ(psdGetLayerRecord(*r, 5, none), FileError::BadArgument);
  EXPECT_EQ(psdReadLayerChannel(*r, 0, -2, c), FileError::BadArgument);
  EXPECT_EQ(psdReadMergedChannel(*r, 5, c), FileError::BadArgument);

  // The same through the loader contract of the other picture files.
  BitmapInfoHeader bh;
  TMTC img;
  ASSERT_EQ(psdGetImage(path("a.psd"), bh, img), FileError::None);
  EXPECT_EQ(bh.bitCount, 24);
  EXPECT_EQ(bh.xPelsPerMeter, 11811);
  EXPECT_EQ(img.Row(3)[4], merged.Row(3)[4]);
  ASSERT_EQ(psdGetLayerImage(path("a.psd"), bh, img, 1), FileError::None);
  EXPECT_EQ(bh.width, 11);
  EXPECT_EQ(bh.bitCount, 32);
  EXPECT_EQ(img.Row(9)[10], s.layers[1].pixels.Row(9)[10]);
  EXPECT_EQ(psdGetLayerImage(path("a.psd"), bh, img, 3), FileError::BadArgument);  // empty
  EXPECT_EQ(psdGetLayerImage(path("a.psd"), bh, img, -1), FileError::BadArgument);
}

TEST_F(Psd, AFileWithoutLayersOrExtraChannels) {
  TestSource s;
  s.merged.Resize(300, 2);  // rows longer than one PackBits run
  paint(s.merged, 9);
  for (int32_t x = 100; x < 260; ++x) s.merged.Row(1)[x] = 0xFF102030u;
  ASSERT_EQ(save(s, path("flat.psd"), 0), FileError::None);
  PsdFilePtr r;
  ASSERT_EQ(psdOpenReader(path("flat.psd"), r), FileError::None);
  PsdFileHeader h;
  psdReadHeader(*r, h);
  EXPECT_EQ(h.channels, 3);
  EXPECT_EQ(h.xDpi, 0);
  int32_t count = -1;
  ASSERT_EQ(psdReadLayerTable(*r, count), FileError::None);
  EXPECT_EQ(count, 0);
  TMTC merged;
  ASSERT_EQ(psdReadMergedPixels(*r, merged), FileError::None);
  for (int32_t y = 0; y < 2; ++y)
    for (int32_t x = 0; x < 300; ++x) ASSERT_EQ(merged.Row(y)[x], s.merged.Row(y)[x] | 0xFF000000u) << x;
}

TEST(PsdBlend, EveryModeHasAKeyThatReadsBack) {
  std::vector<std::string> keys;
  for (int mode = 0; mode < 22; ++mode) {
    char key[4];
    psdBlendKeyOf(mode, false, key);
    bool dissolve = true;
    EXPECT_EQ(psdBlendModeOf(key, dissolve), mode);
    EXPECT_FALSE(dissolve);
    keys.emplace_back(key, 4);
  }
  std::sort(keys.begin(), keys.end());
  EXPECT_EQ(std::unique(keys.begin(), keys.end()), keys.end()) << "two modes share a key";

  const struct {
    const char* key;
    int mode;
    bool dissolve;
  } cases[] = {
      {"mul ", 0, false}, {"lddg", 1, false}, {"fsub", 2, false}, {"lbrn", 18, false}, {"diss", 3, true},
      {"ssid", 3, true},  {"mron", 3, false}, {" lum", 0, false}, {"pass", 3, false}, {"dkCl", 10, false},
      {"lgCl", 11, false}, {"hMix", 20, false}, {"fdiv", 3, false}, {"????", 3, false}, {"\0\0\0\0", 3, false},
  };
  for (const auto& c : cases) {
    bool dissolve = !c.dissolve;
    EXPECT_EQ(psdBlendModeOf(c.key, dissolve), c.mode) << c.key;
    EXPECT_EQ(dissolve, c.dissolve) << c.key;
  }
  char key[4];
  psdBlendKeyOf(12, true, key);
  EXPECT_EQ(std::string(key, 4), "diss");
  psdBlendKeyOf(22, false, key);
  EXPECT_EQ(std::string(key, 4), "norm");
  psdBlendKeyOf(-1, false, key);
  EXPECT_EQ(std::string(key, 4), "norm");
}

// The layout of a file our writer made, to damage it in the right places.
struct Layout {
  size_t resourcesAt = 0;     // length field of the image resources
  size_t sectionAt = 0;       // length field of the layer and mask section
  size_t countAt = 0;         // layer count
  std::vector<size_t> records;
  size_t channelDataAt = 0;   // first layer's first channel
  size_t imageAt = 0;         // compression field of the merged image

  explicit Layout(const std::vector<uint8_t>& b) {
    size_t p = 26;
    p += 4 + be32(b, p);
    resourcesAt = p;
    p += 4 + be32(b, p);
    sectionAt = p;
    imageAt = p + 4 + be32(b, p);
    countAt = p + 8;
    const int n = int16_t(be16(b, countAt));
    p = countAt + 2;
    for (int i = 0; i < n; ++i) {
      records.push_back(p);
      p += 18 + 6 * size_t(be16(b, p + 16)) + 12;
      p += 4 + be32(b, p);
    }
    channelDataAt = p;
  }
};

TEST_F(Psd, EveryShortenedFileIsRefused) {
  TestSource s;
  buildPaper(s);
  ASSERT_EQ(save(s, path("a.psd")), FileError::None);
  const std::vector<uint8_t> whole = readBytes(dir / "a.psd");
  for (size_t n = 0; n < whole.size(); ++n) {
    PsdFilePtr r;
    ASSERT_EQ(psdOpenMemory(whole.data(), n, r), FileError::Truncated) << n;
    ASSERT_TRUE(r);
    EXPECT_FALSE(psdErrorText(*r).empty());
    PsdFileHeader h;
    EXPECT_EQ(psdReadHeader(*r, h), FileError::Truncated);
  }
}

TEST_F(Psd, DamagedAndUnsupportedFilesGiveCodesAndWords) {
  TestSource s;
  buildPaper(s);
  ASSERT_EQ(save(s, path("a.psd")), FileError::None);
  const std::vector<uint8_t> good = readBytes(dir / "a.psd");
  const Layout at(good);
  const size_t rec = at.records[1];  // the layer past the top-left corner
  const size_t nch = be16(good, rec + 16);
  const size_t afterChannels = rec + 18 + 6 * nch;
  using Patch = std::function<void(std::vector<uint8_t>&)>;
  auto u16 = [](size_t p, uint16_t v) -> Patch { return [=](auto& b) { put16(b, p, v); }; };
  auto u32 = [](size_t p, uint32_t v) -> Patch { return [=](auto& b) { put32(b, p, v); }; };
  const struct {
    const char* name;
    Patch patch;
    FileError expected;
    const char* words;  // part of psdErrorText in English
  } cases[] = {
      {"not a PSD", [](auto& b) { b[0] = 'X'; }, FileError::NotThisFormat, "not of this format"},
      {"large document", u16(4, 2), FileError::Unsupported, "(PSB)"},
      {"version 3", u16(4, 3), FileError::Corrupt, "file header"},
      {"16 bits", u16(22, 16), FileError::Unsupported, "16 bits per channel"},
      {"32 bits", u16(22, 32), FileError::Unsupported, "32 bits per channel"},
      {"7 bits", u16(22, 7), FileError::Corrupt, "file header"},
      {"CMYK", u16(24, 4), FileError::Unsupported, "CMYK colour mode"},
      {"Lab", u16(24, 9), FileError::Unsupported, "Lab colour mode"},
      {"indexed", u16(24, 2), FileError::Unsupported, "indexed colour mode"},
      {"mode 77", u16(24, 77), FileError::Unsupported, "number 77 colour mode"},
      {"no channels", u16(12, 0), FileError::Corrupt, "file header"},
      {"57 channels", u16(12, 57), FileError::Corrupt, "file header"},
      {"width 0", u32(18, 0), FileError::Corrupt, "file header"},
      {"width 30001", u32(18, 30001), FileError::Corrupt, "file header"},
      {"30000 × 30000", [](auto& b) { put32(b, 14, 30000); put32(b, 18, 30000); }, FileError::TooLarge,
       "too large (30000 x 30000)"},
      {"colour data past the end", u32(26, 0x7FFFFFFF), FileError::Truncated, "colour mode data"},
      {"resources past the end", u32(at.resourcesAt, 0xFFFFFFF0u), FileError::Truncated, "image resources"},
      {"a resource past its section", u32(at.resourcesAt + 10, 5000), FileError::Corrupt, "image resources"},
      {"a resource of no kind", [&](auto& b) { b[at.resourcesAt + 4] = 'Q'; }, FileError::Corrupt,
       "image resources"},
      {"layer information past its section", u32(at.sectionAt + 4, 0x7FFFFFFF), FileError::Corrupt,
       "layer information"},
      {"more layers than records", u16(at.countAt, 30000), FileError::Corrupt, "layer information"},
      {"a sixth layer", u16(at.countAt, 6), FileError::Corrupt, ""},
      {"bottom above top", u32(rec + 8, uint32_t(-4)), FileError::Corrupt, "the record of layer 1"},
      {"rectangle too large", u32(rec + 12, 0x7FFFFFF0), FileError::TooLarge, "too large"},
      {"a line wider than 32 bits", [&](auto& b) { put32(b, rec + 4, 0x80000000u); put32(b, rec + 8, 2); put32(b, rec, 2); },
       FileError::TooLarge, "too large"},
      {"57 channels in a layer", u16(rec + 16, 57), FileError::Corrupt, "the record of layer 1"},
      {"record signature", [&](auto& b) { b[afterChannels] = 'X'; }, FileError::Corrupt, "the record of layer 1"},
      {"extra data past the records", u32(afterChannels + 12, 0x00FFFFFF), FileError::Corrupt,
       "the record of layer 1"},
      {"channel longer than the section", u32(rec + 20, 0x00FFFFFF), FileError::Corrupt,
       "the channel data of layer 1"},
      {"channel too short for its rows", [&](auto& b) {
         // Layer 0's first channel gives two bytes to layer 1's first.
         put32(b, at.records[0] + 20, be32(b, at.records[0] + 20) - 2);
         put32(b, rec + 20, be32(b, rec + 20) + 2);
       }, FileError::Corrupt, "the channel data of layer 0"},
      {"ZIP channel", u16(at.channelDataAt, 2), FileError::Unsupported, "ZIP-compressed"},
      {"ZIP with prediction", u16(at.channelDataAt, 3), FileError::Unsupported, "ZIP-compressed"},
      {"compression 9", u16(at.channelDataAt, 9), FileError::Corrupt, "the channel data of layer 0"},
      {"merged ZIP", u16(at.imageAt, 2), FileError::Unsupported, "ZIP-compressed"},
      {"merged compression 5", u16(at.imageAt, 5), FileError::Corrupt, "merged image data"},
      {"merged rows past the end", u16(at.imageAt + 2, 60000), FileError::Truncated, "merged image data"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> b = good;
    c.patch(b);
    PsdFilePtr r;
    EXPECT_EQ(psdOpenMemory(b.data(), b.size(), r), c.expected);
    ASSERT_TRUE(r);
    const std::string words = psdErrorText(*r);
    EXPECT_NE(words.find(c.words), std::string::npos) << words;
    int32_t count = 0;
    EXPECT_EQ(psdReadLayerTable(*r, count), c.expected);
    EXPECT_EQ(count, 0);
  }
  // The same in Korean.
  setLanguage(Language::Korean);
  std::vector<uint8_t> b = good;
  put16(b, 22, 16);
  PsdFilePtr r;
  ASSERT_EQ(psdOpenMemory(b.data(), b.size(), r), FileError::Unsupported);
  EXPECT_EQ(psdErrorText(*r), "채널당 16비트인 PSD 파일은 지원하지 않습니다 (8비트만 지원)");
}

// Damage found only when the channel data is read: the file opens, the
// damaged channel fails, the others still read.
TEST_F(Psd, DamagedChannelDataIsFoundWhenRead) {
  TestSource s;
  buildPaper(s);
  ASSERT_EQ(save(s, path("a.psd")), FileError::None);
  const std::vector<uint8_t> good = readBytes(dir / "a.psd");
  const Layout at(good);
  const size_t rows = size_t(s.layers[0].record.height());
  const size_t firstRow = at.channelDataAt + 2;  // layer 0, channel −1: its row lengths
  const size_t mergedRow = at.imageAt + 2;       // the merged image's first row length
  using Patch = std::function<void(std::vector<uint8_t>&)>;
  const struct {
    const char* name;
    Patch patch;
    bool layer;  // else the merged image
  } cases[] = {
      {"a row one byte longer", [&](auto& b) { put16(b, firstRow, uint16_t(be16(b, firstRow) + 1)); }, true},
      {"a row one byte shorter", [&](auto& b) { put16(b, firstRow, uint16_t(be16(b, firstRow) - 1)); }, true},
      {"row lengths past the channel", [&](auto& b) { put16(b, firstRow, 40000); }, true},
      {"a run past the row", [&](auto& b) { b[firstRow + 2 * rows] = 0x81; }, true},
      {"a merged row one byte longer, the next one shorter", [&](auto& b) {
         put16(b, mergedRow, uint16_t(be16(b, mergedRow) + 1));
         put16(b, mergedRow + 2, uint16_t(be16(b, mergedRow + 2) - 1));
       }, false},
      {"a merged run past the row",
       [&](auto& b) { b[at.imageAt + 2 + 2 * 12 * 5] = 0x80 | b[at.imageAt + 2 + 2 * 12 * 5]; }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> b = good;
    c.patch(b);
    PsdFilePtr r;
    ASSERT_EQ(psdOpenMemory(b.data(), b.size(), r), FileError::None);
    TMTC pixels;
    if (c.layer) {
      EXPECT_EQ(psdReadLayerPixels(*r, 0, pixels), FileError::Corrupt);
      EXPECT_NE(psdErrorText(*r).find("the channel data of layer 0"), std::string::npos);
      EXPECT_FALSE(pixels.IsAllocated());
      EXPECT_EQ(psdReadLayerPixels(*r, 1, pixels), FileError::None);
    } else {
      EXPECT_EQ(psdReadMergedPixels(*r, pixels), FileError::Corrupt);
      EXPECT_NE(psdErrorText(*r).find("merged image data"), std::string::npos);
    }
  }
}

TEST_F(Psd, WriterRefusesWhatItCannotWriteAndKeepsTheOldFile) {
  const std::string target = path("keep.psd");
  writeBytes(target, {'o', 'l', 'd'});
  TestSource s;
  buildPaper(s);
  const struct {
    const char* name;
    std::function<void(PsdDocumentDescription&, int&, TestSource&)> change;
    FileError expected;
  } cases[] = {
      {"large document", [](auto&, int& v, auto&) { v = 2; }, FileError::Unsupported},
      {"version 9", [](auto&, int& v, auto&) { v = 9; }, FileError::BadArgument},
      {"greyscale", [](auto& d, int&, auto&) { d.colorMode = 1; }, FileError::Unsupported},
      {"width 30001", [](auto& d, int&, auto&) { d.width = 30001; }, FileError::TooLarge},
      {"height 0", [](auto& d, int&, auto&) { d.height = 0; }, FileError::BadArgument},
      {"two channels", [](auto& d, int&, auto&) { d.channels = 2; }, FileError::BadArgument},
      {"negative layer count", [](auto& d, int&, auto&) { d.layerCount = -1; }, FileError::BadArgument},
      {"a user mask channel", [](auto&, int&, auto& src) { src.layers[0].record.channelIds = {-2, 0, 1, 2}; },
       FileError::BadArgument},
      {"a channel twice", [](auto&, int&, auto& src) { src.layers[0].record.channelIds = {0, 0}; },
       FileError::BadArgument},
      {"right of left", [](auto&, int&, auto& src) { src.layers[1].record.right = -6; }, FileError::BadArgument},
      {"a row that cannot be had", [](auto&, int&, auto& src) { src.failRowsAfter = 20; }, FileError::BadArgument},
      {"a merged row that cannot be had", [](auto&, int&, auto& src) { src.failRowsAfter = 200; },
       FileError::BadArgument},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TestSource src;
    buildPaper(src);
    PsdDocumentDescription d = src.description(72);
    int version = 1;
    c.change(d, version, src);
    PsdFilePtr w;
    ASSERT_EQ(psdCreateWriter(w), FileError::None);
    psdSetDescription(*w, d);
    psdSetVersion(*w, version);
    EXPECT_EQ(psdWrite(*w, target, src), c.expected);
    EXPECT_FALSE(psdErrorText(*w).empty());
  }
  EXPECT_EQ(readBytes(target), (std::vector<uint8_t>{'o', 'l', 'd'}));
  // A missing folder fails without leaving anything.
  PsdFilePtr w;
  psdCreateWriter(w);
  psdSetDescription(*w, s.description(72));
  EXPECT_EQ(psdWrite(*w, path("no/such/dir.psd"), s), FileError::WriteFailed);
  // A reader is no writer, and the other way round.
  PsdFilePtr r;
  ASSERT_EQ(psdOpenReader(target, r), FileError::NotThisFormat);
  EXPECT_EQ(psdErrorText(*r), "the file is not of this format");
  EXPECT_EQ(psdWrite(*r, path("x.psd"), s), FileError::BadArgument);
  PsdFileHeader h;
  EXPECT_EQ(psdReadHeader(*w, h), FileError::BadArgument);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  // A path that is no file.
  EXPECT_EQ(psdOpenReader(dir.string(), r), FileError::CannotOpen);
  EXPECT_EQ(psdOpenReader(path("absent.psd"), r), FileError::CannotOpen);
  EXPECT_EQ(psdErrorText(*r), "the file is missing, not readable or not a regular file");
}

// Raw bytes of a picture as ImageMagick gives them: rgba from a PSD entry.
std::vector<uint8_t> rgbaOf(const std::string& source) {
  const fs::path out = fs::path(source).parent_path() / "out.rgba";
  std::system((std::string(kConvert) + " '" + source + "' -depth 8 rgba:'" + out.string() + "' 2>/dev/null").c_str());
  std::vector<uint8_t> b = readBytes(out);
  fs::remove(out);
  return b;
}

TEST_F(Psd, ImageMagickReadsOurLayers) {
  if (!haveConvert()) GTEST_SKIP() << "ImageMagick is not installed";
  TestSource s;
  buildPaper(s);
  ASSERT_EQ(save(s, path("a.psd")), FileError::None);
  // Entry 0 is the merged image, then the layers that have pixels, bottom first.
  const std::vector<uint8_t> merged = rgbaOf(path("a.psd") + "[0]");
  ASSERT_EQ(merged.size(), 16u * 12 * 4);
  for (int32_t y = 0; y < 12; ++y)
    for (int32_t x = 0; x < 16; ++x) {
      const uint32_t p = s.merged.Row(y)[x];
      const uint8_t* m = merged.data() + (size_t(y) * 16 + size_t(x)) * 4;
      ASSERT_EQ(uint32_t(m[0]) << 16 | uint32_t(m[1]) << 8 | m[2], p & 0xFFFFFF) << x << "," << y;
    }
  const int entries[] = {1, 2, 3, -1, 4};
  for (size_t i = 0; i < s.layers.size(); ++i) {
    if (entries[i] < 0) continue;
    SCOPED_TRACE(i);
    const TMTC& want = s.layers[i].pixels;
    const std::vector<uint8_t> got = rgbaOf(path("a.psd") + "[" + std::to_string(entries[i]) + "]");
    ASSERT_EQ(got.size(), size_t(want.width) * size_t(want.height) * 4);
    for (int32_t y = 0; y < want.height; ++y)
      for (int32_t x = 0; x < want.width; ++x) {
        const uint32_t p = want.Row(y)[x];
        const uint8_t* g = got.data() + (size_t(y) * size_t(want.width) + size_t(x)) * 4;
        ASSERT_EQ(uint32_t(g[0]) << 16 | uint32_t(g[1]) << 8 | g[2], p & 0xFFFFFF) << x << "," << y;
      }
  }
  // Names (the stored ones, in UTF-8) and positions as ImageMagick sees them.
  ASSERT_TRUE(run(std::string(kConvert) + " '" + path("a.psd") + "' -format '%l|%X|%Y\\n' info:" + path("info.txt")));
  const std::string info = readText(dir / "info.txt");
  EXPECT_NE(info.find("Layer with offset|-5|-3"), std::string::npos) << info;
  EXPECT_NE(info.find("한글 이름 레이어 ✓|+10|+4"), std::string::npos) << info;
}

const char* const kPsdToolsScript = R"(
import sys
from psd_tools import PSDImage
psd = PSDImage.open(sys.argv[1])
out = open(sys.argv[2], 'w')
out.write('%d %d %d %d\n' % (psd.width, psd.height, psd.channels, len(list(psd))))
for i, layer in enumerate(psd):
    out.write('%s|%d,%d,%d,%d|%d|%d|%s\n' % (layer.name, layer.left, layer.top, layer.right, layer.bottom,
              layer.opacity, 1 if layer.visible else 0, layer.blend_mode.value.decode()))
    if layer.width > 0 and layer.height > 0:
        open('%s.%d' % (sys.argv[2], i), 'wb').write(layer.topil().convert('RGBA').tobytes())
# The merged image channel by channel, extra channels included.
open(sys.argv[2] + '.merged', 'wb').write(b''.join(psd.topil(channel=k).tobytes() for k in range(psd.channels)))
)";

TEST_F(Psd, PsdToolsReadsOurLayers) {
  if (!havePsdTools()) GTEST_SKIP() << "python3-psd-tools is not installed";
  TestSource s;
  buildPaper(s);
  ASSERT_EQ(save(s, path("a.psd")), FileError::None);
  std::ofstream(dir / "read.py") << kPsdToolsScript;
  ASSERT_TRUE(run(std::string(kPython) + " " + path("read.py") + " " + path("a.psd") + " " + path("out")));
  std::istringstream lines(readText(dir / "out"));
  std::string line;
  std::getline(lines, line);
  EXPECT_EQ(line, "16 12 5 5");
  for (size_t i = 0; i < s.layers.size(); ++i) {
    SCOPED_TRACE(i);
    const TestSource::Layer& l = s.layers[i];
    const PsdLayerRecord& r = l.record;
    std::getline(lines, line);
    std::ostringstream want;
    want << r.name << "|" << r.left << "," << r.top << "," << r.right << "," << r.bottom << "|" << int(r.opacity) << "|"
         << ((r.flags & kPsdFlagHidden) ? 0 : 1) << "|" << std::string(r.blendKey, 4);
    EXPECT_EQ(line, want.str());
    if (!l.pixels.IsAllocated()) continue;
    const std::vector<uint8_t> got = readBytes(dir / ("out." + std::to_string(i)));
    ASSERT_EQ(got.size(), size_t(l.pixels.width) * size_t(l.pixels.height) * 4);
    for (int32_t y = 0; y < l.pixels.height; ++y)
      for (int32_t x = 0; x < l.pixels.width; ++x) {
        const uint32_t p = l.pixels.Row(y)[x];
        const uint8_t* g = got.data() + (size_t(y) * size_t(l.pixels.width) + size_t(x)) * 4;
        ASSERT_EQ(uint32_t(g[3]) << 24 | uint32_t(g[0]) << 16 | uint32_t(g[1]) << 8 | g[2], p) << x << "," << y;
      }
  }
  const std::vector<uint8_t> merged = readBytes(dir / "out.merged");
  const size_t plane = 16 * 12;
  ASSERT_EQ(merged.size(), plane * 5);
  for (size_t i = 0; i < plane; ++i) {
    const int32_t x = int32_t(i % 16), y = int32_t(i / 16);
    const uint32_t p = s.merged.Row(y)[x];
    ASSERT_EQ(uint32_t(merged[i]) << 16 | uint32_t(merged[plane + i]) << 8 | merged[2 * plane + i], p & 0xFFFFFF) << i;
    ASSERT_EQ(merged[3 * plane + i], s.extras[0].Row(y)[x]);
    ASSERT_EQ(merged[4 * plane + i], s.extras[1].Row(y)[x]);
  }
}

// Files ImageMagick writes: layered RGB (its blend keys come byte-reversed),
// greyscale, bitmap, raw data; and the kinds we refuse.
TEST_F(Psd, WeReadImageMagickFiles) {
  if (!haveConvert()) GTEST_SKIP() << "ImageMagick is not installed";
  const std::string c = kConvert;
  ASSERT_TRUE(run(c + " -size 20x10 gradient:red-blue \\( -size 8x4 gradient:yellow-black -set label 'Blue one' "
                  "-repage +3+2 \\) \\( -size 5x5 xc:'rgba(0,255,0,0.5)' -set label '초록' -repage -2-1 \\) "
                  "-depth 8 " + path("layers.psd")));
  PsdFilePtr r;
  ASSERT_EQ(psdOpenReader(path("layers.psd"), r), FileError::None);
  int32_t count = 0;
  ASSERT_EQ(psdReadLayerTable(*r, count), FileError::None);
  ASSERT_EQ(count, 2);
  const struct {
    const char* name;
    int32_t left, top, right, bottom;
  } want[] = {{"Blue one", 3, 2, 11, 6}, {"초록", -2, -1, 3, 4}};
  for (int32_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    PsdLayerRecord rec;
    ASSERT_EQ(psdGetLayerRecord(*r, i, rec), FileError::None);
    EXPECT_EQ(rec.name, want[i].name);
    EXPECT_EQ(rec.left, want[i].left);
    EXPECT_EQ(rec.top, want[i].top);
    EXPECT_EQ(rec.right, want[i].right);
    EXPECT_EQ(rec.bottom, want[i].bottom);
    bool dissolve = true;
    EXPECT_EQ(psdBlendModeOf(rec.blendKey, dissolve), 3);
    TMTC pixels;
    ASSERT_EQ(psdReadLayerPixels(*r, i, pixels), FileError::None);
    const std::vector<uint8_t> theirs = rgbaOf(path("layers.psd") + "[" + std::to_string(i + 1) + "]");
    ASSERT_EQ(theirs.size(), size_t(pixels.width) * size_t(pixels.height) * 4);
    for (int32_t y = 0; y < pixels.height; ++y)
      for (int32_t x = 0; x < pixels.width; ++x) {
        const uint8_t* t = theirs.data() + (size_t(y) * size_t(pixels.width) + size_t(x)) * 4;
        ASSERT_EQ(pixels.Row(y)[x], uint32_t(t[3]) << 24 | uint32_t(t[0]) << 16 | uint32_t(t[1]) << 8 | t[2]);
      }
  }

  const struct {
    const char* name;
    const char* args;
    FileError expected;
    uint16_t mode;
    const char* words;
  } files[] = {
      {"grey.psd", "-size 9x5 gradient: -colorspace Gray -depth 8", FileError::None, kPsdGreyscale, ""},
      {"bitmap.psd", "-size 9x5 xc:white -fill black -draw 'point 1,1' -draw 'point 8,4' -monochrome -depth 1",
       FileError::None, kPsdBitmap, ""},
      {"raw.psd", "-size 9x5 gradient:red-blue -depth 8 -compress None", FileError::None, kPsdRgb, ""},
      {"rle.psd", "-size 300x5 gradient:red-blue -depth 8 -compress RLE", FileError::None, kPsdRgb, ""},
      {"zip.psd", "-size 9x5 gradient:red-blue -depth 8 -compress Zip", FileError::Unsupported, 0, "ZIP"},
      {"d16.psd", "-size 9x5 gradient:red-blue -depth 16", FileError::Unsupported, 0, "16 bits"},
      {"cmyk.psd", "-size 9x5 xc:red -depth 8 -colorspace CMYK", FileError::Unsupported, 0, "CMYK"},
  };
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    ASSERT_TRUE(run(c + " " + f.args + " " + path(f.name)));
    ASSERT_EQ(psdOpenReader(path(f.name), r), f.expected);
    EXPECT_NE(psdErrorText(*r).find(f.words), std::string::npos) << psdErrorText(*r);
    if (f.expected != FileError::None) continue;
    PsdFileHeader h;
    psdReadHeader(*r, h);
    EXPECT_EQ(h.colorMode, f.mode);
    // The merged image, then each layer (ImageMagick gives some files one).
    int32_t layers = 0;
    psdReadLayerTable(*r, layers);
    for (int32_t i = -1; i < layers; ++i) {
      SCOPED_TRACE(i);
      TMTC ours;
      ASSERT_EQ(i < 0 ? psdReadMergedPixels(*r, ours) : psdReadLayerPixels(*r, i, ours), FileError::None);
      const std::vector<uint8_t> theirs = rgbaOf(path(f.name) + "[" + std::to_string(i + 1) + "]");
      ASSERT_EQ(theirs.size(), size_t(ours.width) * size_t(ours.height) * 4);
      for (int32_t y = 0; y < ours.height; ++y)
        for (int32_t x = 0; x < ours.width; ++x) {
          const uint8_t* t = theirs.data() + (size_t(y) * size_t(ours.width) + size_t(x)) * 4;
          ASSERT_EQ(ours.Row(y)[x], uint32_t(t[3]) << 24 | uint32_t(t[0]) << 16 | uint32_t(t[1]) << 8 | t[2])
              << x << "," << y;
        }
    }
  }
}

TEST(PsdPackBits, RowsComeBackAndDamageIsRefused) {
  std::vector<std::vector<uint8_t>> rows = {{7}, {1, 1}, {1, 2}, {5, 5, 5}, {1, 2, 2, 2, 3}, std::vector<uint8_t>(1000, 9)};
  std::vector<uint8_t> mixed, noise;
  for (int i = 0; i < 700; ++i) mixed.push_back(uint8_t(i % 97 < 50 ? i * 31 : i / 40));
  for (int i = 0; i < 513; ++i) noise.push_back(uint8_t(i * 131 + i / 7));
  rows.push_back(mixed);
  rows.push_back(noise);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.size());
    std::vector<uint8_t> packed(psd::packBitsBound(row.size()));
    const size_t n = psd::packBitsRow(row.data(), row.size(), packed.data());
    ASSERT_LE(n, packed.size());
    std::vector<uint8_t> back(row.size() + 1);
    ASSERT_TRUE(psd::unpackBitsRow(packed.data(), n, back.data(), row.size()));
    EXPECT_TRUE(std::equal(row.begin(), row.end(), back.begin()));
    EXPECT_FALSE(psd::unpackBitsRow(packed.data(), n, back.data(), row.size() + 1));
    EXPECT_FALSE(psd::unpackBitsRow(packed.data(), n - 1, back.data(), row.size()));
    if (row.size() > 1) {
      EXPECT_FALSE(psd::unpackBitsRow(packed.data(), n, back.data(), row.size() - 1));
    }
  }
  // A no-op code between runs is skipped.
  const uint8_t withNoOp[] = {0xFE, 4, 0x80, 0x00, 9};
  uint8_t out[4];
  ASSERT_TRUE(psd::unpackBitsRow(withNoOp, sizeof withNoOp, out, 4));
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{4, 4, 4, 9}));
}

TEST(PsdNames, StoredNamesInEveryEncoding) {
  const std::string utf8 = "한글 ✓";
  EXPECT_EQ(psd::utf8FromStoredName(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size()), utf8);
  const uint8_t cp949[] = {0xC7, 0xD1, 0xB1, 0xDB};  // "한글" in the Korean code page
  EXPECT_EQ(psd::utf8FromStoredName(cp949, 4), "한글");
  const uint8_t latin1[] = {'c', 0xE9, 0xFF};  // no Korean character either
  EXPECT_EQ(psd::utf8FromStoredName(latin1, 3), "cé\xc3\xbf");
  // UTF-16 with a pair of surrogates and one alone.
  const uint8_t units[] = {0xD5, 0x5C, 0xD8, 0x3D, 0xDE, 0x00, 0xDC, 0x00};
  EXPECT_EQ(psd::utf8FromUtf16Be(units, 4), "한😀\xef\xbf\xbd");
  const std::vector<uint16_t> back = psd::utf16FromUtf8("한😀");
  EXPECT_EQ(back, (std::vector<uint16_t>{0xD55C, 0xD83D, 0xDE00}));
  // Cut at 255 bytes on a whole character.
  const std::string long3(100, 'x');
  EXPECT_EQ(psd::utf8Prefix(long3 + "한", 101), 100u);
  EXPECT_EQ(psd::utf8Prefix(long3 + "한", 103), 103u);
}

}  // namespace
}  // namespace vl
