#include "files/paper_image_format.h"

#include <gtest/gtest.h>

#include <cstring>

#include "files/event_body.h"
#include "platform/ui_services.h"

namespace vl {
namespace {

// A layer image with `allocated` tiles painted (in row order) and the rest uniform.
CBlockVMTC layerWithTiles(int32_t w, int32_t h, int32_t allocated) {
  CBlockVMTC img(w, h);
  for (int32_t i = 0; i < allocated; ++i) {
    TileDesc& t = *img.Tile(i % img.tilesAcross, i / img.tilesAcross, true);
    for (int32_t y = 0; y < t.validHeight; ++y)
      for (int32_t x = 0; x < t.validWidth; ++x) img.TileRow(t, y)[x] = uint32_t(i * 977 + y * 31 + x) | 0x80000000u;
  }
  return img;
}

std::vector<uint8_t> runsOf(const CBlockImage& image, const char magic[4], int threads = 1) {
  MemorySink sink;
  WorkerPool pool(threads);
  TileRunWriter writer(pool);
  EXPECT_EQ(writer.Write(image, magic, sink), FileError::None);
  return sink.bytes;
}

TEST(TileRuns, AllocatedRunsCloseAfterSixteenTilesAndUniformRunsDoNot) {
  // 320 × 320: 100 tiles of 32 × 32.
  const CBlockVMTC painted = layerWithTiles(320, 320, 100);
  std::vector<uint32_t> counts;
  for (const TileRun& r : planTileRuns(painted)) {
    EXPECT_TRUE(r.allocated);
    counts.push_back(r.count);
  }
  EXPECT_EQ(counts, (std::vector<uint32_t>{16, 16, 16, 16, 16, 16, 4}));

  const CBlockVMTC fresh(1000, 700);
  const std::vector<TileRun> one = planTileRuns(fresh);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_FALSE(one[0].allocated);
  EXPECT_EQ(one[0].count, uint32_t(fresh.TileCount()));

  const CBlockVMTC mixed = layerWithTiles(320, 320, 20);
  std::vector<std::pair<uint32_t, bool>> runs;
  for (const TileRun& r : planTileRuns(mixed)) runs.push_back({r.count, r.allocated});
  EXPECT_EQ(runs, (std::vector<std::pair<uint32_t, bool>>{{16, true}, {4, true}, {80, false}}));
}

TEST(TileRuns, LayersAndMasksComeBackWithEveryPixelAndUniform) {
  CBlockVMTC layer = layerWithTiles(100, 70, 5);  // edge tiles on both sides
  layer.defaultUniform = 0x12345678u;
  layer.Tile(3, 2, false)->uniform = 0x7F00FF00u;
  CBlockVCH mask(130, 65);
  mask.FillArea(Area(3, 3, 70, 60), 200);
  mask.SetPixel(129, 64, 9);
  for (int threads : {1, 3}) {
    SCOPED_TRACE(threads);
    std::vector<uint8_t> bytes = runsOf(layer, "VBIM", threads);
    MemoryInput in(bytes.data(), bytes.size());
    uint64_t at = 0;
    CBlockVMTC back(100, 70);
    back.defaultUniform = layer.defaultUniform;
    WorkerPool pool(threads);
    ASSERT_EQ(readTileRuns(in, at, "VBIM", back, &pool), FileError::None);
    EXPECT_EQ(at, bytes.size());
    for (int32_t i = 0; i < layer.TileCount(); ++i) {
      const TileDesc& a = *layer.Tile(i % layer.tilesAcross, i / layer.tilesAcross);
      const TileDesc& b = *back.Tile(i % back.tilesAcross, i / back.tilesAcross);
      ASSERT_EQ(a.allocated, b.allocated) << i;
      if (!a.allocated) {
        EXPECT_EQ(a.uniform, b.uniform) << i;
      }
    }
    for (int32_t y = 0; y < 70; ++y)
      for (int32_t x = 0; x < 100; ++x) ASSERT_EQ(back.Pixel(x, y), layer.Pixel(x, y)) << x << "," << y;
    // Padding beyond the image holds the default value, whatever was stored there.
    const TileDesc& edge = *back.Tile(3, 0);
    ASSERT_TRUE(edge.allocated);
    EXPECT_EQ(back.TileRow(edge, 0)[31], layer.defaultUniform);

    bytes = runsOf(mask, "VBMK", threads);
    MemoryInput maskIn(bytes.data(), bytes.size());
    at = 0;
    CBlockVCH maskBack(130, 65);
    ASSERT_EQ(readTileRuns(maskIn, at, "VBMK", maskBack), FileError::None);
    for (int32_t y = 0; y < 65; ++y)
      for (int32_t x = 0; x < 130; ++x) ASSERT_EQ(maskBack.Pixel(x, y), mask.Pixel(x, y));
  }
}

TEST(TileRuns, TheBytesDoNotDependOnTheThreads) {
  const CBlockVMTC layer = layerWithTiles(1024, 1024, 900);
  const std::vector<uint8_t> one = runsOf(layer, "VBIM", 1);
  EXPECT_EQ(runsOf(layer, "VBIM", 2), one);
  EXPECT_EQ(runsOf(layer, "VBIM", 7), one);
  // Decoded on several threads, every pixel comes back.
  MemoryInput in(one.data(), one.size());
  uint64_t at = 0;
  CBlockVMTC back(1024, 1024);
  WorkerPool pool(5);
  ASSERT_EQ(readTileRuns(in, at, "VBIM", back, &pool), FileError::None);
  for (int32_t y = 0; y < 1024; y += 7)
    for (int32_t x = 0; x < 1024; ++x) ASSERT_EQ(back.Pixel(x, y), layer.Pixel(x, y));
}

// Runs that do not cover the image exactly, or do not hold together, are refused.
TEST(TileRuns, DamagedRunsAreRefused) {
  const CBlockVMTC layer = layerWithTiles(96, 64, 2);  // 6 tiles: one run of 2, one uniform run of 4
  const std::vector<uint8_t> good = runsOf(layer, "VBIM");
  const size_t second = size_t(8 + readU32(good.data() + 4));
  struct Case {
    const char* name;
    size_t at;
    uint32_t value;  // written as a u32
    FileError expected;
  } cases[] = {
      {"wrong magic", 0, 0x58585858u, FileError::Corrupt},
      {"tile width", 8, 64, FileError::Corrupt},
      {"unknown kind", 16, 3, FileError::Corrupt},
      {"more tiles than are left", second + 20, 5, FileError::Corrupt},
      {"no tiles", 20, 0, FileError::Corrupt},
      // n × 4096 of this n wraps around to 8192 in 32 bits.
      {"wrapping tile count", 20, 0x100002u, FileError::Corrupt},
      {"raw size", 28, 3 * 4096, FileError::Corrupt},
      {"compressed size past the run", 24, 0xFFFFu, FileError::Corrupt},
      {"length past the end", 4, 0x7FFFFFF0u, FileError::Truncated},
      {"damaged data", 40 + 6, 0xDEADBEEFu, FileError::Corrupt},
  };
  ScopedUiCapture quiet;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = good;
    writeU32(bytes.data() + c.at, c.value);
    MemoryInput in(bytes.data(), bytes.size());
    uint64_t at = 0;
    CBlockVMTC back(96, 64);
    EXPECT_EQ(readTileRuns(in, at, "VBIM", back), c.expected);
    EXPECT_EQ(at, 0u);
  }
  // Runs cut off before the last tile.
  MemoryInput shortIn(good.data(), second);
  uint64_t at = 0;
  CBlockVMTC back(96, 64);
  EXPECT_EQ(readTileRuns(shortIn, at, "VBIM", back), FileError::Truncated);
  // A mask's uniform tiles hold bytes.
  CBlockVCH mask(64, 64);
  std::vector<uint8_t> maskBytes = runsOf(mask, "VBMK");
  writeU32(maskBytes.data() + 40, 256);
  MemoryInput maskIn(maskBytes.data(), maskBytes.size());
  at = 0;
  EXPECT_EQ(readTileRuns(maskIn, at, "VBMK", mask), FileError::Corrupt);
}

TEST(PaperHeader, ComesBackAndRefusesWhatItCannotHold) {
  PaperHeader h;
  h.width = 640;
  h.height = 480;
  h.flags = 0x32F;
  h.paperColour = 0xABCDEF;
  h.currentLayer = 3;
  h.currentMask = 1;
  h.resolution = 300;
  h.layerCount = 4;
  h.layerCounter = 9;
  h.maskCount = 2;
  h.maskCounter = 5;
  uint8_t bytes[kPaperHeaderBytes];
  writePaperHeader(h, bytes);
  PaperHeader back;
  ASSERT_EQ(readPaperHeader(bytes, sizeof bytes, 10000, back), FileError::None);
  EXPECT_EQ(back, h);

  struct Case {
    const char* name;
    size_t at;
    uint32_t value;
    FileError expected;
  } cases[] = {
      {"magic", 0, 0x4D495056u + 1, FileError::NotThisFormat}, {"header length", 4, 40, FileError::Corrupt},
      {"newer version", 16, 2, FileError::Unsupported},       {"width 0", 8, 0, FileError::Corrupt},
      {"negative height", 12, 0xFFFFFFFFu, FileError::Corrupt}, {"width 10001", 8, 10001, FileError::TooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    uint8_t damaged[kPaperHeaderBytes];
    std::memcpy(damaged, bytes, sizeof bytes);
    writeU32(damaged + c.at, c.value);
    EXPECT_EQ(readPaperHeader(damaged, sizeof damaged, 10000, back), c.expected);
  }
  EXPECT_EQ(readPaperHeader(bytes, 40, 10000, back), FileError::Truncated);
}

TEST(ImageChunk, NamesStayInsideTheirChunk) {
  ImageChunk c;
  c.name = "레이어 7";
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(makeImageChunk(c, bytes));
  // The name and its zero, padded to (length + 4) rounded down to 4.
  EXPECT_EQ(bytes.size(), kImageChunkHeadBytes + ((c.name.size() + 4) & ~size_t(3)));
  EXPECT_EQ(readU16(bytes.data() + 60), c.name.size() + 1);
  ImageChunk back;
  ASSERT_EQ(readImageChunk(bytes.data(), bytes.size(), back), FileError::None);
  EXPECT_EQ(back.name, c.name);

  // A name length that reaches past the chunk.
  writeU16(bytes.data() + 60, uint32_t(bytes.size()));
  EXPECT_EQ(readImageChunk(bytes.data(), bytes.size(), back), FileError::Corrupt);
  writeU16(bytes.data() + 60, 0);
  EXPECT_EQ(readImageChunk(bytes.data(), bytes.size(), back), FileError::Corrupt);

  // A name too long for the field is cut, never inside a character.
  c.name = "a" + std::string(70000 / 3 * 3, '\0');
  for (size_t i = 1; i < c.name.size(); i += 3) c.name.replace(i, 3, "가");
  ASSERT_TRUE(makeImageChunk(c, bytes));
  ASSERT_EQ(readImageChunk(bytes.data(), bytes.size(), back), FileError::None);
  EXPECT_EQ(back.name.size(), 65533u);
  EXPECT_EQ(back.name, c.name.substr(0, 65533));
}

std::vector<uint8_t> streamOf(size_t n) {
  std::vector<uint8_t> s(n);
  for (size_t i = 0; i < n; ++i) s[i] = uint8_t(i * 7 + i / 300);
  return s;
}

TEST(EventBody, StreamsComeBackInBlocksOfSegments) {
  for (size_t n : {size_t(1), size_t(65536), size_t(65537), size_t(200000)}) {
    SCOPED_TRACE(n);
    const std::vector<uint8_t> stream = streamOf(n);
    EventBodyInfo info;
    info.paperWidth = 300;
    info.paperHeight = 200;
    info.steps = 12;
    MemorySink sink;
    ASSERT_EQ(writeEventBody(stream.data(), stream.size(), info, sink), FileError::None);
    EXPECT_EQ(readU32(sink.bytes.data() + 40), (n + 65535) / 65536);
    MemoryInput in(sink.bytes.data(), sink.bytes.size());
    uint64_t at = 0;
    EventBodyInfo back;
    std::vector<uint8_t> read;
    ASSERT_EQ(readEventBody(in, at, 0x7FFFFFFF, back, read), FileError::None);
    EXPECT_EQ(at, sink.bytes.size());
    EXPECT_EQ(read, stream);
    EXPECT_EQ(back.steps, 12u);
    EXPECT_EQ(back.version, 17);
  }
  // 65537 bytes: the second block holds one byte.
  const std::vector<uint8_t> stream = streamOf(65537);
  MemorySink sink;
  ASSERT_EQ(writeEventBody(stream.data(), stream.size(), {}, sink), FileError::None);
  const size_t second = kEventBodyHeaderBytes + 8 + readU32(sink.bytes.data() + kEventBodyHeaderBytes + 4);
  EXPECT_EQ(readU32(sink.bytes.data() + second + 8), 65536u);
  EXPECT_EQ(readU32(sink.bytes.data() + second + 12), 1u);
}

TEST(EventBody, DamagedBodiesAreRefusedWhereTheyFail) {
  const std::vector<uint8_t> stream = streamOf(70000);
  MemorySink sink;
  ASSERT_EQ(writeEventBody(stream.data(), stream.size(), {}, sink), FileError::None);
  const size_t second = kEventBodyHeaderBytes + 8 + readU32(sink.bytes.data() + kEventBodyHeaderBytes + 4);
  struct Case {
    const char* name;
    size_t at;
    uint32_t value;
    FileError expected;
    size_t stopsAt;
  } cases[] = {
      {"newer version", 16, 18, FileError::Unsupported, 0},
      {"no blocks", 40, 0, FileError::Corrupt, 0},
      {"segment size", 44, 4096, FileError::Corrupt, 0},
      {"stream too long", 28, 0x7FFFFFF0u, FileError::Corrupt, 0},
      {"block offset", second + 8, 12, FileError::Corrupt, second},
      {"block past the end", second + 4, 0x100000u, FileError::Corrupt, second},
      {"block data", second + 28 + 4, 0x01020304u, FileError::None, second},  // whatever the decoder says
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = sink.bytes;
    writeU32(bytes.data() + c.at, c.value);
    MemoryInput in(bytes.data(), bytes.size());
    uint64_t at = 0;
    EventBodyInfo info;
    std::vector<uint8_t> read;
    const FileError e = readEventBody(in, at, 0x7FFFFFFF, info, read);
    if (c.expected == FileError::None) {
      EXPECT_NE(e, FileError::None);
    } else {
      EXPECT_EQ(e, c.expected);
    }
    EXPECT_EQ(at, c.stopsAt);
  }
  MemoryInput in(sink.bytes.data(), sink.bytes.size());
  uint64_t at = 0;
  EventBodyInfo info;
  std::vector<uint8_t> read;
  EXPECT_EQ(readEventBody(in, at, 1000, info, read), FileError::TooLarge);
}

}  // namespace
}  // namespace vl
