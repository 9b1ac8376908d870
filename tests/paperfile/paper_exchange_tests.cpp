// Pictures and PSD files as papers: opened into recording papers that replay
// to what was opened, and papers saved for other programs to read.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "events/event_manager.h"
#include "paperfile/paper_pictures.h"
#include "paperfile/paper_psd.h"
#include "files/psd.h"
#include "platform/app_profile.h"
#include "platform/strings.h"
#include "platform/ui_services.h"
#include "shell/test_process.h"
#include "support/random_session.h"
#include "undo/undo_manager.h"
#include "support/temp_dir.h"

namespace vl {
namespace {

namespace fs = std::filesystem;

const char* const kConvert = "/usr/bin/convert";
const char* const kPython = "/usr/bin/python3";

bool run(const std::string& cmd) { return std::system((cmd + " 2>/dev/null").c_str()) == 0; }
bool haveConvert() { return access(kConvert, X_OK) == 0; }
bool havePsdTools() { return run(std::string(kPython) + " -c 'import psd_tools'"); }

std::vector<uint8_t> readBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string readText(const fs::path& p) {
  std::ifstream in(p);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Raw RGBA bytes of a picture (or a PSD entry) as ImageMagick reads it.
std::vector<uint8_t> rgbaOf(const std::string& source, const fs::path& dir) {
  const fs::path out = dir / "out.rgba";
  run(std::string(kConvert) + " '" + source + "' -depth 8 rgba:'" + out.string() + "'");
  std::vector<uint8_t> b = readBytes(out);
  fs::remove(out);
  return b;
}

// Colours that differ in every byte from pixel to pixel, alpha included.
void paint(TMTC& img, uint32_t seed, bool opaque = false) {
  for (int32_t y = 0; y < img.height; ++y)
    for (int32_t x = 0; x < img.width; ++x) {
      const uint32_t v = uint32_t(x * 37 + y * 101) + seed;
      const uint32_t a = opaque ? 0xFF : (v * 7 + 1) & 0xFF;
      img.Row(y)[x] = a << 24 | (v * 13 & 0xFF) << 16 | ((v * 3 + seed) & 0xFF) << 8 | ((x * y + seed) & 0xFF);
    }
}

// A paper that records from its making, with undo, as a canvas window's does.
struct LivePaper {
  LivePaper(int32_t w, int32_t h, int32_t dpi, bool recording = true) {
    auto rec = std::make_unique<CEventMngr>(paper);
    events = rec.get();
    if (recording) {
      EXPECT_TRUE(rec->start(&stroke, 42, 42));
    }
    paper.setEventHook(std::move(rec));
    paper.setUndoHook(std::make_unique<CUndoMngrEx>(paper, CUndoMngrEx::kSpare, 8, 8));
    made = paper.newPaper(flow, "live", dpi, h, w);
  }
  TPaper paper;
  TFlowImage flow{paper};
  TStroke stroke;
  CEventMngr* events = nullptr;
  bool made = false;
};

// A fresh paper that replays a live paper's stream to its end.
struct Replayed {
  explicit Replayed(const LivePaper& live) {
    std::vector<uint8_t> stream;
    EXPECT_TRUE(live.events->writeStream(stream));
    auto rec = std::make_unique<CEventMngr>(paper);
    events = rec.get();
    rec->setRecordStroke(&stroke);
    EXPECT_TRUE(rec->loadStream(stream, live.events->StepCount(), 17, 0));
    paper.setEventHook(std::move(rec));
    paper.setUndoHook(std::make_unique<CUndoMngrEx>(paper, CUndoMngrEx::kSpare, 8, 8));
    EXPECT_EQ(events->openForPlayback(flow), 0);
    int r = 0;
    for (int guard = 0; guard < 100000 && (r = events->playStep()) == 0; ++guard) {
    }
    result = r;
  }
  TPaper paper;
  TFlowImage flow{paper};
  TStroke stroke;
  CEventMngr* events = nullptr;
  int result = -1;
};

uint32_t layerPixelAt(const TPaper& p, int32_t layer, int32_t x, int32_t y) {
  const CLayerData& l = *p.layerAt(layer);
  return l.pixels->Pixel(x + l.offsetX, y + l.offsetY);
}

class PaperFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.empty());
    setLanguage(Language::English);
  }
  void TearDown() override { setLanguage(Language::Korean); }
  std::string path(const std::string& name) const { return (dir / name).string(); }

  ScopedUiCapture quiet;
  test::TempDir temp;
  const fs::path dir{temp.path()};
};

// ---- pictures ----

TEST(PaperPictures, KindsFollowTheExtension) {
  const struct {
    const char* path;
    FileKind kind;
  } cases[] = {{"a.wpb", FileKind::Wpb}, {"a.WPE", FileKind::Wpe}, {"/x/a.vci", FileKind::Vci},
               {"a.ves", FileKind::Ves}, {"a.ve3", FileKind::Ve3}, {"a.Vx3", FileKind::Ve3},
               {"a.bmp", FileKind::Bmp}, {"a.JPG", FileKind::Jpeg}, {"a.jpeg", FileKind::Jpeg},
               {"a.png", FileKind::Png}, {"a.psd", FileKind::Psd}, {"a.gif", FileKind::Unknown},
               {"a", FileKind::Unknown}, {"dir.psd/a", FileKind::Unknown}, {"a.psd.txt", FileKind::Unknown}};
  for (const auto& c : cases) EXPECT_EQ(fileKindOf(c.path), c.kind) << c.path;
  EXPECT_EQ(extensionOf("/x.y/name.Gif"), ".Gif");
  EXPECT_EQ(extensionOf("/x.y/name"), "");
  EXPECT_EQ(fileNameOf("/x/y/photo.png"), "photo.png");
}

// A picture opened as a paper is the first layer's content, and the paper's
// stream replays to it; a picture wider than a paper keeps its left part.
TEST_F(PaperFiles, OpenedPicturesReplayToThemselves) {
  const struct {
    const char* name;
    int32_t w, h;
    bool alpha;
  } files[] = {{"a.png", 37, 21, true}, {"b.bmp", 30, 17, false}, {"wide.png", 12000, 300, false}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    TMTC img(f.w, f.h);
    paint(img, 3, !f.alpha);
    BitmapInfoHeader header = img.InfoHeader(0);
    header.bitCount = f.alpha ? 32 : 24;
    header.xPelsPerMeter = header.yPelsPerMeter = 3780;
    ASSERT_EQ(fileKindOf(f.name) == FileKind::Png ? pngSaveImage(path(f.name), header, img)
                                                  : bmpSaveImage(path(f.name), header, img),
              FileError::None);
    TMTC pixels;
    int dpi = -1;
    ASSERT_EQ(loadPicture(path(f.name), pixels, dpi), FileError::None);
    EXPECT_EQ(dpi, 96);
    LivePaper live(std::min(pixels.width, kMaxImageSide), std::min(pixels.height, kMaxImageSide), dpi);
    ASSERT_TRUE(live.made);
    ASSERT_TRUE(putOpenedPicture(live.paper, live.flow, pixels));
    EXPECT_EQ(live.paper.width, std::min(f.w, 10000));
    EXPECT_EQ(live.paper.height, f.h);
    ASSERT_EQ(live.paper.layerCount(), 1);
    EXPECT_EQ(live.paper.layerAt(0)->ImageSize(), (Size{live.paper.width, f.h}));
    for (int32_t y : {0, f.h / 2, f.h - 1})
      for (int32_t x : {0, live.paper.width / 3, live.paper.width - 1})
        ASSERT_EQ(layerPixelAt(live.paper, 0, x, y), pixels.Row(y)[x]) << x << "," << y;
    EXPECT_FALSE(live.paper.canUndo());  // the picture is where the paper starts
    Replayed again(live);
    EXPECT_EQ(again.result, 2);
    EXPECT_EQ(test::documentHash(again.paper), test::documentHash(live.paper));
    EXPECT_EQ(test::compositeHash(again.paper), test::compositeHash(live.paper));
  }
}

TEST_F(PaperFiles, ResolutionComesFromPixelsPerMetre) {
  TMTC img(4, 3);
  paint(img, 1, true);
  for (const auto& [pels, dpi] : {std::pair{3780, 96}, std::pair{0, 0}, std::pair{11811, 300}}) {
    BitmapInfoHeader h = img.InfoHeader(0);
    h.bitCount = 24;
    h.xPelsPerMeter = h.yPelsPerMeter = pels;
    ASSERT_EQ(bmpSaveImage(path("r.bmp"), h, img), FileError::None);
    TMTC back;
    int got = -1;
    ASSERT_EQ(loadPicture(path("r.bmp"), back, got), FileError::None);
    EXPECT_EQ(got, dpi) << pels;
  }
  TMTC none;
  int got = 5;
  EXPECT_EQ(loadPicture(path("r.gif"), none, got), FileError::BadArgument);
}

// Two layers over a coloured paper with the grid shown: what is saved is
// the picture, without the grid, and every program reads it back.
TEST_F(PaperFiles, CompositeSavesByKindAndImageMagickReadsThem) {
  LivePaper live(40, 30, 150);
  TPaper& p = live.paper;
  p.setPaperColor(0x3060A0, true);
  TMTC top(25, 20);
  paint(top, 9);
  ASSERT_TRUE(p.pasteAsNewLayer(live.flow, top, true));
  ASSERT_TRUE(p.setLayerMode(1, kModeMultiply, true));
  p.setGrid(true, 5, false, 5);
  p.recomposeAll(true);
  const uint32_t gridPixel = p.compositeImage.At(5, 0);
  p.recomposeAll(false);
  TMTC want(40, 30);
  for (int32_t y = 0; y < 30; ++y)
    for (int32_t x = 0; x < 40; ++x) want.Row(y)[x] = p.compositeImage.At(x, y) & 0x00FFFFFFu;
  p.recomposeAll(true);
  ASSERT_NE(gridPixel & 0xFFFFFF, want.Row(0)[5]) << "the grid must show somewhere for this test";

  for (const auto& [name, kind] : {std::pair{"c.bmp", FileKind::Bmp}, std::pair{"c.png", FileKind::Png},
                                   std::pair{"c.jpg", FileKind::Jpeg}}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(saveComposite(p, path(name), kind), FileError::None);
    // The grid is back on screen.
    EXPECT_EQ(p.compositeImage.At(5, 0), gridPixel);
    TMTC back;
    int dpi = 0;
    ASSERT_EQ(loadPicture(path(name), back, dpi), FileError::None);
    EXPECT_EQ(dpi, 150);
    ASSERT_EQ(back.size(), want.size());
    // BMP and PNG keep every colour; JPEG comes close.
    const bool lossy = kind == FileKind::Jpeg;
    int64_t error = 0;
    for (int32_t y = 0; y < 30; ++y)
      for (int32_t x = 0; x < 40; ++x)
        for (int s : {0, 8, 16}) {
          const int d = std::abs(int(back.Row(y)[x] >> s & 0xFF) - int(want.Row(y)[x] >> s & 0xFF));
          if (!lossy) {
            ASSERT_EQ(d, 0) << x << "," << y;
          }
          error += d;
        }
    if (lossy) {
      EXPECT_LE(error / (30 * 40 * 3), 12);
    }
    if (!haveConvert()) continue;
    const std::vector<uint8_t> theirs = rgbaOf(path(name), dir);
    ASSERT_EQ(theirs.size(), size_t(40 * 30 * 4));
    for (int32_t i = 0; i < 40 * 30; ++i) {
      const uint32_t ours = back.Row(i / 40)[i % 40];
      const uint8_t* t = &theirs[size_t(i) * 4];
      // Decoders may round JPEG colours differently by a step.
      const int slack = kind == FileKind::Jpeg ? 2 : 0;
      ASSERT_NEAR(t[0], int(ours >> 16 & 0xFF), slack) << i;
      ASSERT_NEAR(t[1], int(ours >> 8 & 0xFF), slack) << i;
      ASSERT_NEAR(t[2], int(ours & 0xFF), slack) << i;
      ASSERT_EQ(t[3], 255);
    }
  }
  EXPECT_EQ(saveComposite(p, path("c.gif"), FileKind::Unknown), FileError::BadArgument);
  EXPECT_FALSE(fs::exists(path("c.gif")));
}

// A layer is saved whole, past the paper's edges, with its transparency in
// PNG and without it in BMP.
TEST_F(PaperFiles, LayerSaveKeepsTheWholeImage) {
  LivePaper live(40, 30, 72);
  TMTC big(50, 44);
  paint(big, 4);
  ASSERT_TRUE(live.paper.pasteAsNewLayer(live.flow, big, true));
  const CLayerData& l = *live.paper.layerAt(1);
  ASSERT_EQ(l.ImageSize(), (Size{50, 44}));
  ASSERT_EQ(saveLayerImage(l, 72, path("l.png"), FileKind::Png), FileError::None);
  ASSERT_EQ(saveLayerImage(l, 72, path("l.bmp"), FileKind::Bmp), FileError::None);
  TMTC back;
  int dpi;
  ASSERT_EQ(loadPicture(path("l.png"), back, dpi), FileError::None);
  ASSERT_EQ(back.size(), (Size{50, 44}));
  for (int32_t y = 0; y < 44; ++y)
    for (int32_t x = 0; x < 50; ++x) ASSERT_EQ(back.Row(y)[x], big.Row(y)[x]) << x << "," << y;
  ASSERT_EQ(loadPicture(path("l.bmp"), back, dpi), FileError::None);
  ASSERT_EQ(back.size(), (Size{50, 44}));
  EXPECT_EQ(back.Row(40)[45], big.Row(40)[45] | 0xFF000000u);
  EXPECT_EQ(saveLayerImage(l, 72, path("l.jpg"), FileKind::Jpeg), FileError::BadArgument);
  EXPECT_EQ(layerFileSuggestion("sky", 2), "sky_layer2");
  EXPECT_EQ(layerFileSuggestion("", 0), "layer0");
}

TEST_F(PaperFiles, QuickSavesNumberTheDay) {
  auto exists = [](const std::string& f) { return fs::exists(f); };
  const std::string first = quickSaveName(dir.string(), 2024, 3, 7, exists);
  EXPECT_EQ(first, path("2024-3-7-0.bmp"));
  std::ofstream(first) << "x";
  EXPECT_EQ(quickSaveName(dir.string() + "/", 2024, 3, 7, exists), path("2024-3-7-1.bmp"));
  EXPECT_EQ(quickSaveName(dir.string(), 2024, 3, 8, exists), path("2024-3-8-0.bmp"));
  EXPECT_EQ(quickSaveName("/x", 1, 1, 1, [](const std::string&) { return true; }), "");
}

TEST(PaperPictures, JpegOptionsFollowTheProfile) {
  CAppProfile p;
  p.jpegUseProgressive = true;
  p.jpegQType = 0;
  p.jpegQuality = 33;
  p.jpegQStd = 61;
  JpegOptions o = jpegOptionsOf(p);
  EXPECT_TRUE(o.progressive);
  EXPECT_EQ(jpegQuality(o), 33);
  o.qualityType = 3;
  o.smooth = true;
  o.smoothAmount = 140;
  storeJpegOptions(p, o);
  EXPECT_EQ(p.jpegQType, 3);
  EXPECT_TRUE(p.jpegUseSmooth);
  EXPECT_EQ(p.jpegValSmooth, 100);
  EXPECT_EQ(jpegQuality(jpegOptionsOf(p)), 61);
}

// ---- PSD ----

// Layers, a merged image and extra channels, as another program would hand them over.
class FileSource : public PsdWriteSource {
 public:
  struct Layer {
    PsdLayerRecord record;
    TMTC pixels;
  };
  std::deque<Layer> layers;
  TMTC merged;
  std::deque<TChannel> extras;
  std::vector<std::string> extraNames;

  Layer& add(int32_t left, int32_t top, int32_t right, int32_t bottom, const char* key, uint8_t opacity,
             uint8_t flags, const std::string& name, uint32_t seed) {
    Layer& l = layers.emplace_back();
    PsdLayerRecord& r = l.record;
    r.left = left, r.top = top, r.right = right, r.bottom = bottom;
    r.channelIds = {-1, 0, 1, 2};
    std::memcpy(r.blendKey, key, 4);
    r.opacity = opacity;
    r.flags = flags;
    r.name = name;
    if (right > left && bottom > top) {
      l.pixels.Resize(right - left, bottom - top);
      paint(l.pixels, seed);
    }
    return l;
  }
  void addChannel(const std::string& name, int k) {
    TChannel& c = extras.emplace_back(merged.width, merged.height);
    for (int32_t y = 0; y < merged.height; ++y)
      for (int32_t x = 0; x < merged.width; ++x) c.Row(y)[x] = uint8_t((x * 16 + y * k) % 256);
    extraNames.push_back(name);
  }
  FileError save(const std::string& file) {
    PsdFilePtr w;
    psdCreateWriter(w);
    PsdDocumentDescription d;
    d.width = merged.width;
    d.height = merged.height;
    d.xDpi = d.yDpi = 200;
    d.channels = uint16_t(3 + extras.size());
    d.layerCount = int32_t(layers.size());
    psdSetDescription(*w, d);
    return psdWrite(*w, file, *this);
  }

  bool LayerRecord(int32_t layer, PsdLayerRecord& r) override {
    r = layers[size_t(layer)].record;
    return true;
  }
  bool LayerChannelRow(int32_t layer, int16_t id, int32_t row, uint8_t* dst, int32_t width) override {
    psdChannelRow(layers[size_t(layer)].pixels.Row(row), width, id, dst);
    return true;
  }
  bool MergedChannelRow(int32_t channel, int32_t row, uint8_t* dst, int32_t width) override {
    psdChannelRow(merged.Row(row), width, int16_t(channel), dst);
    return true;
  }
  bool ExtraChannelName(int32_t channel, std::string& name) override {
    name = extraNames[size_t(channel)];
    return true;
  }
  bool ExtraChannelRow(int32_t channel, int32_t row, uint8_t* dst, int32_t width) override {
    std::memcpy(dst, extras[size_t(channel)].Row(row), size_t(width));
    return true;
  }
  bool LayerName(int32_t, std::string&) override { return false; }
  void Progress(int32_t, int32_t) override {}
};

// A file that tries the corners: a background, a layer past the top-left
// corner, a hidden protected one past the right side with a Korean name,
// an empty one, a dissolving one, one without a name and a negative id,
// one marked irrelevant to the picture; two named extra channels.
void cornerFile(FileSource& s, bool background) {
  s.merged.Resize(16, 12);
  paint(s.merged, 5, true);
  if (background) s.add(0, 0, 16, 12, "norm", 255, 0, "배경", 1);
  s.add(-5, -3, 6, 7, "mul ", 128, 0, "Layer with offset", 2);
  s.add(10, 4, 20, 12, "scrn", 200, kPsdFlagHidden | kPsdFlagProtectTransparency, "한글 이름 레이어 ✓", 3);
  s.add(3, 3, 3, 3, "norm", 255, 0, "empty", 4);
  s.add(2, 1, 9, 11, "diss", 77, 0, "dissolve", 5);
  s.add(4, 5, 7, 9, "over", 255, 0, "", 6).record.id = -4;
  s.add(1, 1, 3, 3, "norm", 255, 0x18, "irrelevant", 7);
  s.addChannel("마스크 1", 3);
  s.addChannel("Mask two", 7);
}

struct Opened {
  std::unique_ptr<LivePaper> live;
  int code = -1;
};

Opened openPsd(const std::string& file, bool record = true) {
  Opened o;
  PsdFilePtr r;
  if (psdOpenReader(file, r) != FileError::None) return o;
  PsdPaperSize size;
  EXPECT_EQ(psdPaperSize(*r, size), FileError::None);
  o.live = std::make_unique<LivePaper>(size.width, size.height, size.resolution, record);
  o.code = psdIntoPaper(*r, o.live->paper, o.live->flow, record);
  return o;
}

TEST_F(PaperFiles, PsdLayersOpenWholeAndTheStreamReplaysThem) {
  for (bool background : {true, false}) {
    SCOPED_TRACE(background);
    FileSource s;
    cornerFile(s, background);
    ASSERT_EQ(s.save(path("a.psd")), FileError::None);
    Opened o = openPsd(path("a.psd"));
    ASSERT_EQ(o.code, 0) << failureDetail();
    const TPaper& p = o.live->paper;
    EXPECT_EQ(p.width, 16);
    EXPECT_EQ(p.height, 12);
    EXPECT_EQ(p.resolution, 200);
    ASSERT_EQ(p.layerCount(), int32_t(s.layers.size()));
    EXPECT_EQ(p.currentLayerIndex(), p.topLayerIndex());
    const size_t k = background ? 1 : 0;  // the layer past the top-left corner
    const struct {
      std::string name;
      int mode;
      uint8_t opacity, visible, maskLock, dissolve, amount;
    } want[] = {{"배경", kModeNormal, 255, 1, 0, 0, 255},
                {"Layer with offset", kModeMultiply, 128, 1, 0, 0, 255},
                {"한글 이름 레이어 ✓", kModeScreen, 200, 0, 1, 0, 255},
                {"empty", kModeNormal, 255, 1, 0, 0, 255},
                {"dissolve", kModeNormal, 255, 1, 0, 1, 77},
                {background ? "(*레이어 5)" : "(*레이어 4)", kModeOverlay, 255, 1, 0, 0, 255},
                {"irrelevant", kModeNormal, 255, 0, 0, 0, 255}};
    for (int32_t i = 0; i < p.layerCount(); ++i) {
      SCOPED_TRACE(i);
      const auto& w = want[i + (background ? 0 : 1)];
      const CLayerData& l = *p.layerAt(i);
      EXPECT_EQ(l.name, w.name);
      EXPECT_EQ(l.Mode(), w.mode);
      EXPECT_EQ(l.opacity, w.opacity);
      EXPECT_EQ(l.visible, w.visible);
      EXPECT_EQ(l.maskLock, w.maskLock);
      EXPECT_EQ(l.dissolve, w.dissolve);
      if (w.dissolve) {
        EXPECT_EQ(l.dissolveAmount, w.amount);
      }
      // Every pixel of the record where the file has it; transparent elsewhere.
      const FileSource::Layer& f = s.layers[size_t(i)];
      const PsdLayerRecord& r = f.record;
      const Bounds e = l.Extent();
      EXPECT_LE(e.left, std::min(r.left, 0));
      EXPECT_LE(e.top, std::min(r.top, 0));
      EXPECT_GE(e.right, std::max(r.right, 16));
      EXPECT_GE(e.bottom, std::max(r.bottom, 12));
      EXPECT_TRUE(const_cast<CLayerData&>(l).ClampOffset(false));  // the layer covers the paper
      for (int32_t y = e.top; y < e.bottom; ++y)
        for (int32_t x = e.left; x < e.right; ++x) {
          const bool inside = x >= r.left && x < r.right && y >= r.top && y < r.bottom;
          const uint32_t got = layerPixelAt(p, i, x, y);
          if (inside) {
            ASSERT_EQ(got, f.pixels.Row(y - r.top)[x - r.left]) << x << "," << y;
          } else {
            ASSERT_EQ(got >> 24, 0u) << x << "," << y;
          }
        }
    }
    EXPECT_EQ(p.layerAt(int32_t(k))->Extent(), (Bounds{-5, -3, 16, 12}));
    // The extra channels are the masks, named as in the file, out of use.
    ASSERT_EQ(p.masks.Count(), 2);
    EXPECT_EQ(p.masks.Current(), 0);
    EXPECT_FALSE(p.selectionEnabled);
    EXPECT_FALSE(p.selectionVisible);
    for (int32_t m = 0; m < 2; ++m) {
      const CMaskData& mask = *p.masks.At(m);
      EXPECT_EQ(mask.name, s.extraNames[size_t(m)]);
      ASSERT_EQ(mask.ChannelSize(), (Size{16, 12}));
      for (int32_t y = 0; y < 12; ++y)
        for (int32_t x = 0; x < 16; ++x) ASSERT_EQ(mask.ValueAtPaper(x, y), s.extras[size_t(m)].Row(y)[x]);
    }
    EXPECT_FALSE(p.canUndo());
    ASSERT_TRUE(o.live->events->isRecording());
    Replayed again(*o.live);
    EXPECT_EQ(again.result, 2);
    EXPECT_EQ(test::documentHash(again.paper), test::documentHash(p));
    for (int32_t i = 0; i < p.layerCount(); ++i) {
      // A dissolving layer's pattern comes with it.
      if (p.layerAt(i)->dissolve) {
        EXPECT_EQ(again.paper.layerAt(i)->random.seed, p.layerAt(i)->random.seed);
      }
      EXPECT_EQ(again.paper.layerAt(i)->pixels->defaultUniform, p.layerAt(i)->pixels->defaultUniform);
    }

    // The same without recording gives the same paper.
    Opened quiet = openPsd(path("a.psd"), false);
    ASSERT_EQ(quiet.code, 0);
    EXPECT_EQ(test::documentHash(quiet.live->paper), test::documentHash(p));
  }
}

// Drawing goes on after an opening, undo included, and the whole stream
// still replays to the paper.
TEST_F(PaperFiles, EditingAfterAnOpeningReplays) {
  FileSource s;
  cornerFile(s, false);
  ASSERT_EQ(s.save(path("a.psd")), FileError::None);
  TMTC img(33, 27);
  paint(img, 2);
  BitmapInfoHeader header = img.InfoHeader(0);
  ASSERT_EQ(pngSaveImage(path("a.png"), header, img), FileError::None);
  for (const char* name : {"a.psd", "a.png"}) {
    SCOPED_TRACE(name);
    std::unique_ptr<LivePaper> live;
    if (fileKindOf(name) == FileKind::Psd) {
      Opened o = openPsd(path(name));
      ASSERT_EQ(o.code, 0);
      live = std::move(o.live);
    } else {
      TMTC pixels;
      int dpi;
      ASSERT_EQ(loadPicture(path(name), pixels, dpi), FileError::None);
      live = std::make_unique<LivePaper>(pixels.width, pixels.height, dpi);
      ASSERT_TRUE(putOpenedPicture(live->paper, live->flow, pixels));
    }
    test::RandomSession session(live->paper, live->flow, live->stroke, 77);
    std::mt19937 choose(5);
    for (int i = 0; i < 60; ++i) {
      int32_t l;
      Area a;
      const int what = int(choose() % 8);
      if (what == 0 && live->paper.canUndo()) {
        live->paper.undoStep(live->flow, l, a);
      } else if (what == 1 && live->paper.canRedo()) {
        live->paper.redoStep(live->flow, l, a);
      } else {
        session.Step();
      }
    }
    // Undo as far as it goes: never past the opening.
    int32_t l;
    Area a;
    while (live->paper.canUndo()) ASSERT_TRUE(live->paper.undoStep(live->flow, l, a));
    session.Step();
    ASSERT_TRUE(live->events->isRecording());
    Replayed again(*live);
    EXPECT_EQ(again.result, 2);
    EXPECT_EQ(test::documentHash(again.paper), test::documentHash(live->paper));
  }
}

TEST_F(PaperFiles, PsdNamesDissolveAndTheMergedImage) {
  {
    FileSource s;
    s.merged.Resize(8, 6);
    paint(s.merged, 1, true);
    s.add(0, 0, 8, 6, "norm", 255, 0, "", 2);
    ASSERT_EQ(s.save(path("one.psd")), FileError::None);
    Opened o = openPsd(path("one.psd"));
    ASSERT_EQ(o.code, 0);
    ASSERT_EQ(o.live->paper.layerCount(), 1);
    EXPECT_EQ(o.live->paper.layerAt(0)->name, "(배경)");
  }
  {
    FileSource s;
    s.merged.Resize(8, 6);
    paint(s.merged, 1, true);
    s.add(1, 1, 5, 5, "diss", 128, 0, "d", 2);
    ASSERT_EQ(s.save(path("diss.psd")), FileError::None);
    Opened o = openPsd(path("diss.psd"));
    ASSERT_EQ(o.code, 0);
    const CLayerData& l = *o.live->paper.layerAt(0);
    EXPECT_EQ(l.opacity, 255);
    EXPECT_TRUE(l.dissolve);
    EXPECT_EQ(l.dissolveAmount, 128);
    EXPECT_EQ(l.Mode(), kModeNormal);
  }
  {
    FileSource s;
    s.merged.Resize(9, 7);
    paint(s.merged, 8, true);
    ASSERT_EQ(s.save(path("flat.psd")), FileError::None);
    Opened o = openPsd(path("flat.psd"));
    ASSERT_EQ(o.code, 0);
    const TPaper& p = o.live->paper;
    ASSERT_EQ(p.layerCount(), 1);
    EXPECT_EQ(p.layerAt(0)->name, "(배경)");
    EXPECT_EQ(layerPixelAt(p, 0, 4, 5), s.merged.Row(5)[4]);
    EXPECT_EQ(p.masks.Count(), 1);  // the paper's own empty mask stays
    Replayed again(*o.live);
    EXPECT_EQ(test::documentHash(again.paper), test::documentHash(p));
  }
}

// Folder records are not layers; a hidden folder hides what it holds.
TEST_F(PaperFiles, PsdFoldersAreSkipped) {
  FileSource s;
  s.merged.Resize(8, 6);
  paint(s.merged, 1, true);
  s.add(0, 0, 8, 6, "norm", 255, 0, "bottom", 1);
  s.add(0, 0, 0, 0, "norm", 255, 0, "</Layer group>", 0).record.sectionType = 3;
  s.add(1, 1, 4, 4, "norm", 255, 0, "inside", 2);
  s.add(0, 0, 0, 0, "pass", 255, kPsdFlagHidden, "folder", 0).record.sectionType = 2;
  s.add(2, 2, 5, 5, "norm", 255, 0, "top", 3);
  ASSERT_EQ(s.save(path("g.psd")), FileError::None);
  Opened o = openPsd(path("g.psd"));
  ASSERT_EQ(o.code, 0);
  const TPaper& p = o.live->paper;
  ASSERT_EQ(p.layerCount(), 3);
  EXPECT_EQ(p.layerAt(0)->name, "bottom");
  EXPECT_EQ(p.layerAt(1)->name, "inside");
  EXPECT_EQ(p.layerAt(1)->visible, 0);
  EXPECT_EQ(p.layerAt(2)->name, "top");
  EXPECT_EQ(p.layerAt(2)->visible, 1);
}

// A layer wider than an image packet holds cannot be recorded: the file
// says so, and opens whole into a paper that does not record.
TEST_F(PaperFiles, PsdLayerBeyondAPacketOpensWithoutRecording) {
  FileSource s;
  s.merged.Resize(100, 20);
  paint(s.merged, 1, true);
  s.add(-9950, 2, 100, 9, "norm", 255, 0, "long", 2);
  ASSERT_EQ(s.save(path("long.psd")), FileError::None);
  PsdFilePtr r;
  ASSERT_EQ(psdOpenReader(path("long.psd"), r), FileError::None);
  EXPECT_FALSE(psdRecordable(*r));
  LivePaper recording(100, 20, 0);
  EXPECT_EQ(psdIntoPaper(*r, recording.paper, recording.flow, true), errorCode(FileError::BadArgument));
  Opened o = openPsd(path("long.psd"), false);
  ASSERT_EQ(o.code, 0);
  const TPaper& p = o.live->paper;
  ASSERT_EQ(p.layerCount(), 1);
  EXPECT_EQ(p.layerAt(0)->Extent(), (Bounds{-9950, 0, 100, 20}));
  EXPECT_EQ(layerPixelAt(p, 0, -9950, 2), s.layers[0].pixels.Row(0)[0]);
  EXPECT_EQ(layerPixelAt(p, 0, 99, 8), s.layers[0].pixels.Row(6)[10049]);

  FileSource small;
  cornerFile(small, true);
  ASSERT_EQ(small.save(path("a.psd")), FileError::None);
  ASSERT_EQ(psdOpenReader(path("a.psd"), r), FileError::None);
  EXPECT_TRUE(psdRecordable(*r));
}

TEST_F(PaperFiles, BrokenPsdFilesGiveCodesAndReasons) {
  FileSource s;
  s.merged.Resize(8, 6);
  paint(s.merged, 1, true);
  s.add(1, 1, 5, 5, "norm", 255, 0, "no channels", 2).record.channelIds.clear();
  ASSERT_EQ(s.save(path("nochannel.psd")), FileError::None);
  Opened o = openPsd(path("nochannel.psd"));
  EXPECT_EQ(o.code, kPsdNoLayerChannel);
  EXPECT_NE(failureDetail().find("layer 0"), std::string::npos) << failureDetail();

  // Channel data cut short shows up when the layer is read.
  FileSource t;
  cornerFile(t, true);
  ASSERT_EQ(t.save(path("cut.psd")), FileError::None);
  std::vector<uint8_t> bytes = readBytes(path("cut.psd"));
  // The merged image's rows come last; keep the layers but spoil their data.
  PsdFilePtr r;
  ASSERT_EQ(psdOpenReader(path("cut.psd"), r), FileError::None);
  bool damaged = false;
  for (size_t at = bytes.size() / 2; at < bytes.size() - 8 && !damaged; at += 7) {
    std::vector<uint8_t> b = bytes;
    for (size_t i = 0; i < 6; ++i) b[at + i] = 0x80;  // PackBits no-ops and bad lengths
    PsdFilePtr d;
    if (psdOpenMemory(b.data(), b.size(), d) != FileError::None) continue;
    PsdPaperSize size;
    psdPaperSize(*d, size);
    LivePaper live(size.width, size.height, 0);
    const int code = psdIntoPaper(*d, live.paper, live.flow, true);
    if (code != 0) {
      damaged = true;
      EXPECT_FALSE(failureDetail().empty());
    }
  }
  EXPECT_TRUE(damaged);
}

// A paper saved as PSD: layers bottom first with their attributes and
// pixels, the composite, masks as extra channels; and opened again.
TEST_F(PaperFiles, PaperSavedAsPsdOpensAgain) {
  FileSource s;
  cornerFile(s, true);
  ASSERT_EQ(s.save(path("a.psd")), FileError::None);
  Opened o = openPsd(path("a.psd"));
  ASSERT_EQ(o.code, 0);
  TPaper& p = o.live->paper;
  int32_t dropped = -1;
  ASSERT_EQ(savePaperPsd(p, path("b.psd"), 6, true, &dropped), 0) << failureDetail();
  EXPECT_EQ(dropped, 0);
  PsdFilePtr r;
  ASSERT_EQ(psdOpenReader(path("b.psd"), r), FileError::None);
  PsdFileHeader h;
  psdReadHeader(*r, h);
  EXPECT_EQ(h.channels, 5);
  EXPECT_EQ(h.xDpi, 200);
  TMTC merged;
  ASSERT_EQ(psdReadMergedPixels(*r, merged), FileError::None);
  for (int32_t y = 0; y < 12; ++y)
    for (int32_t x = 0; x < 16; ++x) ASSERT_EQ(merged.Row(y)[x], p.compositeImage.At(x, y) | 0xFF000000u);
  Opened again = openPsd(path("b.psd"));
  ASSERT_EQ(again.code, 0);
  const TPaper& q = again.live->paper;
  ASSERT_EQ(q.layerCount(), p.layerCount());
  for (int32_t i = 0; i < p.layerCount(); ++i) {
    SCOPED_TRACE(i);
    const CLayerData &a = *p.layerAt(i), &b = *q.layerAt(i);
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.Mode(), b.Mode());
    EXPECT_EQ(a.opacity, b.opacity);
    EXPECT_EQ(a.visible, b.visible);
    EXPECT_EQ(a.maskLock, b.maskLock);
    EXPECT_EQ(a.dissolve, b.dissolve);
    EXPECT_EQ(a.dissolveAmount, b.dissolveAmount);
    const Bounds e = a.Extent();
    for (int32_t y = e.top; y < e.bottom; ++y)
      for (int32_t x = e.left; x < e.right; ++x) {
        const uint32_t pa = layerPixelAt(p, i, x, y);
        uint32_t pb = 0;
        const bool there = q.layerAt(i)->pixels->PixelChecked(x + b.offsetX, y + b.offsetY, pb);
        if (pa >> 24) {
          ASSERT_TRUE(there) << x << "," << y;
          ASSERT_EQ(pb, pa) << x << "," << y;
        } else {
          ASSERT_TRUE(!there || (pb >> 24) == 0) << x << "," << y;
        }
      }
  }
  ASSERT_EQ(q.masks.Count(), 2);
  for (int32_t m = 0; m < 2; ++m) {
    EXPECT_EQ(q.masks.At(m)->name, p.masks.At(m)->name);
    for (int32_t y = 0; y < 12; ++y)
      for (int32_t x = 0; x < 16; ++x) ASSERT_EQ(q.masks.At(m)->ValueAtPaper(x, y), p.masks.At(m)->ValueAtPaper(x, y));
  }

  // Without permission an existing file stays.
  const std::vector<uint8_t> before = readBytes(path("b.psd"));
  EXPECT_EQ(savePaperPsd(p, path("b.psd"), 6, false), kPsdFileExists);
  EXPECT_EQ(readBytes(path("b.psd")), before);
}

// The real program turns a PSD file we wrote into a PNG of its composite.
TEST_F(PaperFiles, TheProgramExportsASavedPsdFile) {
  FileSource s;
  cornerFile(s, true);
  ASSERT_EQ(s.save(path("a.psd")), FileError::None);
  Opened o = openPsd(path("a.psd"));
  ASSERT_EQ(o.code, 0);
  const TPaper& p = o.live->paper;
  ASSERT_EQ(savePaperPsd(o.live->paper, path("b.psd"), 6, true), 0) << failureDetail();
  test::Child child;
  const std::map<std::string, std::string> env = {
      {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", "offscreen"},
      {"XDG_CONFIG_HOME", path("config")}, {"XDG_RUNTIME_DIR", dir.string()}, {"LANG", "C.UTF-8"}};
  ASSERT_TRUE(child.start(VL_BINARY_PATH, {"--export", path("b.psd"), path("b.png")}, env, path("out.txt"),
                          path("err.txt")));
  ASSERT_EQ(child.wait(120000), 0) << readText(dir / "err.txt");
  BitmapInfoHeader h;
  TMTC png;
  ASSERT_EQ(pngGetImage(path("b.png"), h, png), FileError::None);
  ASSERT_EQ(png.width, p.width);
  ASSERT_EQ(png.height, p.height);
  for (int32_t y = 0; y < p.height; ++y)
    for (int32_t x = 0; x < p.width; ++x)
      ASSERT_EQ(png.Row(y)[x] | 0xFF000000u, p.compositeImage.At(x, y) | 0xFF000000u) << x << "," << y;
}

TEST_F(PaperFiles, PsdChannelsFollowTheMasks) {
  LivePaper live(20, 10, 72);
  TPaper& p = live.paper;
  ASSERT_EQ(savePaperPsd(p, path("plain.psd"), 6, true), 0);
  PsdFilePtr r;
  PsdFileHeader h;
  ASSERT_EQ(psdOpenReader(path("plain.psd"), r), FileError::None);
  psdReadHeader(*r, h);
  EXPECT_EQ(h.channels, 3);  // the paper's one mask holds nothing
  // 23 selections: 21 fit beside the colours.
  ASSERT_TRUE(p.selectAll(true));
  for (int i = 0; i < 22; ++i) ASSERT_GE(p.newMask(true), 0);
  ASSERT_EQ(p.masks.Count(), 23);
  int32_t dropped = 0;
  ASSERT_EQ(savePaperPsd(p, path("many.psd"), 6, true, &dropped), 0);
  EXPECT_EQ(dropped, 2);
  ASSERT_EQ(psdOpenReader(path("many.psd"), r), FileError::None);
  psdReadHeader(*r, h);
  EXPECT_EQ(h.channels, kPsdSaveChannels);
  TChannel c;
  ASSERT_EQ(psdReadMergedChannel(*r, 3, c), FileError::None);
  EXPECT_EQ(c.At(19, 9), 255);
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
)";

// What other programs see of a saved paper: psd-tools the layers with
// their names, rectangles, opacity, visibility, blend keys and pixels;
// ImageMagick the composite and the layers' pixels.
TEST_F(PaperFiles, OtherProgramsReadSavedPapers) {
  LivePaper live(24, 16, 72);
  TPaper& p = live.paper;
  TMTC a(24, 16), b(30, 9), c(6, 5);
  paint(a, 1, true);
  paint(b, 2);
  paint(c, 3);
  ASSERT_TRUE(p.pasteIntoLayer(live.flow, 0, a, true));
  ASSERT_TRUE(p.renameLayer(live.flow, 0, "바탕 ✓", true));
  ASSERT_TRUE(p.pasteAsNewLayer(live.flow, b, true));
  ASSERT_TRUE(p.offsetLayer(live.flow, 1, -6, 4, true));  // past the left edge and the bottom
  ASSERT_TRUE(p.setLayerMode(1, kModeScreen, true));
  ASSERT_TRUE(p.setLayerOpacity(1, 140, true));
  ASSERT_TRUE(p.pasteAsNewLayer(live.flow, c, true));
  ASSERT_TRUE(p.offsetLayer(live.flow, 2, 10, 3, true));
  ASSERT_TRUE(p.setLayerVisible(2, false, true));
  ASSERT_EQ(savePaperPsd(p, path("p.psd"), 6, true), 0);
  struct Want {
    std::string name;
    Bounds rect;
    int opacity, visible;
    std::string key;
  };
  std::vector<Want> want;
  for (int32_t i = 0; i < 3; ++i) {
    const CLayerData& l = *p.layerAt(i);
    const Bounds cb = l.pixels->ContentBounds();
    char key[4];
    psdBlendKeyOf(l.Mode(), false, key);
    want.push_back({l.name, {cb.left - l.offsetX, cb.top - l.offsetY, cb.right - l.offsetX, cb.bottom - l.offsetY},
                    l.opacity, l.visible, std::string(key, 4)});
  }
  EXPECT_EQ(want[1].rect.left, -6);  // the layer keeps what lies off the paper

  if (havePsdTools()) {
    std::ofstream(dir / "read.py") << kPsdToolsScript;
    ASSERT_TRUE(run(std::string(kPython) + " " + path("read.py") + " " + path("p.psd") + " " + path("out")));
    std::istringstream lines(readText(dir / "out"));
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "24 16 3 3");
    for (int32_t i = 0; i < 3; ++i) {
      SCOPED_TRACE(i);
      const Want& w = want[size_t(i)];
      std::getline(lines, line);
      std::ostringstream expect;
      expect << w.name << "|" << w.rect.left << "," << w.rect.top << "," << w.rect.right << "," << w.rect.bottom << "|"
             << w.opacity << "|" << w.visible << "|" << w.key;
      EXPECT_EQ(line, expect.str());
      const std::vector<uint8_t> got = readBytes(dir / ("out." + std::to_string(i)));
      const int32_t rw = w.rect.right - w.rect.left, rh = w.rect.bottom - w.rect.top;
      ASSERT_EQ(got.size(), size_t(rw) * size_t(rh) * 4);
      for (int32_t y = 0; y < rh; ++y)
        for (int32_t x = 0; x < rw; ++x) {
          const uint32_t px = layerPixelAt(p, i, w.rect.left + x, w.rect.top + y);
          const uint8_t* g = got.data() + (size_t(y) * size_t(rw) + size_t(x)) * 4;
          ASSERT_EQ(uint32_t(g[3]) << 24 | uint32_t(g[0]) << 16 | uint32_t(g[1]) << 8 | g[2], px) << x << "," << y;
        }
    }
  }
  if (haveConvert()) {
    const std::vector<uint8_t> merged = rgbaOf(path("p.psd") + "[0]", dir);
    ASSERT_EQ(merged.size(), size_t(24 * 16 * 4));
    for (int32_t i = 0; i < 24 * 16; ++i) {
      const uint32_t ours = p.compositeImage.At(i % 24, i / 24);
      ASSERT_EQ(uint32_t(merged[size_t(i) * 4]) << 16 | uint32_t(merged[size_t(i) * 4 + 1]) << 8 | merged[size_t(i) * 4 + 2],
                ours & 0xFFFFFF)
          << i;
    }
    const std::vector<uint8_t> layer = rgbaOf(path("p.psd") + "[2]", dir);
    const Want& w = want[1];
    const int32_t rw = w.rect.right - w.rect.left, rh = w.rect.bottom - w.rect.top;
    ASSERT_EQ(layer.size(), size_t(rw) * size_t(rh) * 4);
    for (int32_t y = 0; y < rh; ++y)
      for (int32_t x = 0; x < rw; ++x) {
        const uint32_t px = layerPixelAt(p, 1, w.rect.left + x, w.rect.top + y);
        if ((px >> 24) == 0) continue;
        const uint8_t* g = layer.data() + (size_t(y) * size_t(rw) + size_t(x)) * 4;
        ASSERT_EQ(uint32_t(g[0]) << 16 | uint32_t(g[1]) << 8 | g[2], px & 0xFFFFFF) << x << "," << y;
      }
  }
}

// Layered files ImageMagick writes open as papers with the layers where it put them.
TEST_F(PaperFiles, ImageMagickPsdFilesOpenAsPapers) {
  if (!haveConvert()) GTEST_SKIP() << "ImageMagick is not installed";
  ASSERT_TRUE(run(std::string(kConvert) +
                  " -size 20x10 gradient:red-blue \\( -size 8x4 gradient:yellow-black -set label 'Blue one' "
                  "-repage +3+2 \\) \\( -size 5x5 xc:'rgba(0,255,0,0.5)' -set label '초록' -repage -2-1 \\) "
                  "-depth 8 " + path("im.psd")));
  Opened o = openPsd(path("im.psd"));
  ASSERT_EQ(o.code, 0) << failureDetail();
  const TPaper& p = o.live->paper;
  EXPECT_EQ(p.width, 20);
  EXPECT_EQ(p.height, 10);
  ASSERT_EQ(p.layerCount(), 2);
  EXPECT_EQ(p.layerAt(0)->name, "Blue one");
  EXPECT_EQ(p.layerAt(1)->name, "초록");
  EXPECT_EQ(p.layerAt(1)->Extent(), (Bounds{-2, -1, 20, 10}));
  const struct {
    int32_t layer, left, top, w, h;
  } layers[] = {{0, 3, 2, 8, 4}, {1, -2, -1, 5, 5}};
  for (const auto& l : layers) {
    const std::vector<uint8_t> theirs = rgbaOf(path("im.psd") + "[" + std::to_string(l.layer + 1) + "]", dir);
    ASSERT_EQ(theirs.size(), size_t(l.w) * size_t(l.h) * 4);
    for (int32_t y = 0; y < l.h; ++y)
      for (int32_t x = 0; x < l.w; ++x) {
        const uint8_t* t = theirs.data() + (size_t(y) * size_t(l.w) + size_t(x)) * 4;
        ASSERT_EQ(layerPixelAt(p, l.layer, l.left + x, l.top + y),
                  uint32_t(t[3]) << 24 | uint32_t(t[0]) << 16 | uint32_t(t[1]) << 8 | t[2]);
      }
  }
  // The composite, made once at the end of the opening, shows every layer.
  const uint64_t shown = test::compositeHash(p);
  o.live->paper.recomposeAll(true);
  EXPECT_EQ(test::compositeHash(p), shown);
  Replayed again(*o.live);
  EXPECT_EQ(test::documentHash(again.paper), test::documentHash(p));
  EXPECT_EQ(test::compositeHash(again.paper), shown);
}

}  // namespace
}  // namespace vl
