#include "files/paper_image_format.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

#include "files/compress.h"

namespace vl {
namespace {

constexpr uint32_t kRunKindAllocated = 1;
constexpr uint32_t kRunKindUniform = 2;
constexpr size_t kMaxNameBytes = 65534;

// Tile `index` in row order.
const TileDesc& tileAt(const CBlockImage& image, uint32_t index) {
  const uint32_t across = uint32_t(image.tilesAcross);
  return *image.Tile(int32_t(index % across), int32_t(index / across));
}
TileDesc& tileAt(CBlockImage& image, uint32_t index) {
  const uint32_t across = uint32_t(image.tilesAcross);
  return *image.Tile(int32_t(index % across), int32_t(index / across), false);
}

void writeRunHead(uint8_t head[kTileRunHeadBytes], const char magic[4], int32_t tileSize, uint32_t kind, uint32_t n,
                  uint32_t packed, uint32_t raw, uint32_t dataBytes) {
  std::memset(head, 0, kTileRunHeadBytes);
  std::memcpy(head, magic, 4);
  writeU32(head + 4, kTileRunHeadBytes - kChunkHeadBytes + dataBytes);
  writeU32(head + 8, uint32_t(tileSize));
  writeU32(head + 12, uint32_t(tileSize));
  writeU32(head + 16, kind);
  writeU32(head + 20, n);
  writeU32(head + 24, packed);
  writeU32(head + 28, raw);
}

}  // namespace

// ---- header ----

void writePaperHeader(const PaperHeader& h, uint8_t out[kPaperHeaderBytes]) {
  std::memset(out, 0, kPaperHeaderBytes);
  std::memcpy(out, "VPIM", 4);
  writeU32(out + 4, kPaperHeaderBytes - kChunkHeadBytes);
  writeU32(out + 8, uint32_t(h.width));
  writeU32(out + 12, uint32_t(h.height));
  writeU32(out + 16, h.version);
  writeU16(out + 20, 3);
  writeU16(out + 22, 3);
  writeU16(out + 24, h.flags);
  writeU32(out + 28, h.paperColour);
  writeU16(out + 32, h.currentLayer);
  writeU16(out + 34, h.currentMask);
  writeU16(out + 36, h.resolution);
  writeU16(out + 40, h.layerCount);
  writeU16(out + 42, h.layerCounter);
  writeU16(out + 44, h.maskCount);
  writeU16(out + 46, h.maskCounter);
}

FileError readPaperHeader(const uint8_t* p, size_t size, int32_t maxSide, PaperHeader& h) {
  if (size < 4 || std::memcmp(p, "VPIM", 4) != 0) return FileError::NotThisFormat;
  if (size < kPaperHeaderBytes) return FileError::Truncated;
  if (readU32(p + 4) != kPaperHeaderBytes - kChunkHeadBytes) return FileError::Corrupt;
  h.width = int32_t(readU32(p + 8));
  h.height = int32_t(readU32(p + 12));
  h.version = readU32(p + 16);
  h.flags = uint16_t(readU16(p + 24));
  h.paperColour = readU32(p + 28);
  h.currentLayer = uint16_t(readU16(p + 32));
  h.currentMask = uint16_t(readU16(p + 34));
  h.resolution = uint16_t(readU16(p + 36));
  h.layerCount = uint16_t(readU16(p + 40));
  h.layerCounter = uint16_t(readU16(p + 42));
  h.maskCount = uint16_t(readU16(p + 44));
  h.maskCounter = uint16_t(readU16(p + 46));
  if (h.version > kPaperFileVersion) return FileError::Unsupported;
  if (h.width < 1 || h.height < 1) return FileError::Corrupt;
  if (h.width > maxSide || h.height > maxSide)
    return failWith(FileError::TooLarge, TextId::DetailImageSize, {h.width, h.height, maxSide});
  return FileError::None;
}

// ---- layer and mask chunks ----

bool makeImageChunk(const ImageChunk& c, std::vector<uint8_t>& out) {
  size_t nameBytes = std::min(c.name.size(), kMaxNameBytes);
  // Never half a character.
  while (nameBytes > 0 && nameBytes < c.name.size() && (uint8_t(c.name[nameBytes]) & 0xC0) == 0x80) --nameBytes;
  const size_t area = (nameBytes + 4) & ~size_t(3);
  try {
    out.assign(kImageChunkHeadBytes + area, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  uint8_t* p = out.data();
  std::memcpy(p, c.magic, 4);
  writeU32(p + 4, uint32_t(kImageChunkHeadBytes - kChunkHeadBytes + area));
  writeU32(p + 8, c.number);
  writeU16(p + 12, c.flags);
  p[14] = c.mode;
  p[15] = c.opacity;
  writeU32(p + 16, uint32_t(c.tileWidth));
  writeU32(p + 20, uint32_t(c.tileHeight));
  writeU32(p + 24, uint32_t(c.tilesAcross));
  writeU32(p + 28, uint32_t(c.tilesDown));
  writeU32(p + 32, uint32_t(c.width));
  writeU32(p + 36, uint32_t(c.height));
  writeU32(p + 40, uint32_t(c.originX));
  writeU32(p + 44, uint32_t(c.originY));
  writeU32(p + 48, uint32_t(c.paperWidth));
  writeU32(p + 52, uint32_t(c.paperHeight));
  writeU32(p + 56, c.uniform);
  writeU16(p + 60, uint32_t(nameBytes + 1));
  writeU16(p + 62, (c.mode & 0x7F) > 3 ? 1 : 0);
  p[64] = c.dissolveAmount;
  writeU32(p + 68, c.dissolveSeed);
  std::memcpy(p + kImageChunkHeadBytes, c.name.data(), nameBytes);
  return true;
}

FileError readImageChunk(const uint8_t* p, size_t size, ImageChunk& c) {
  if (size < kImageChunkHeadBytes) return FileError::Corrupt;
  if (uint64_t(readU32(p + 4)) + kChunkHeadBytes != size) return FileError::Corrupt;
  std::memcpy(c.magic, p, 4);
  c.number = readU32(p + 8);
  c.flags = uint16_t(readU16(p + 12));
  c.mode = p[14];
  c.opacity = p[15];
  c.tileWidth = int32_t(readU32(p + 16));
  c.tileHeight = int32_t(readU32(p + 20));
  c.tilesAcross = int32_t(readU32(p + 24));
  c.tilesDown = int32_t(readU32(p + 28));
  c.width = int32_t(readU32(p + 32));
  c.height = int32_t(readU32(p + 36));
  c.originX = int32_t(readU32(p + 40));
  c.originY = int32_t(readU32(p + 44));
  c.paperWidth = int32_t(readU32(p + 48));
  c.paperHeight = int32_t(readU32(p + 52));
  c.uniform = readU32(p + 56);
  c.dissolveAmount = p[64];
  c.dissolveSeed = readU32(p + 68);
  // The name and its zero inside the name area.
  const size_t area = size - kImageChunkHeadBytes, stored = readU16(p + 60);
  if (stored < 1 || stored > area) return FileError::Corrupt;
  const char* name = reinterpret_cast<const char*>(p + kImageChunkHeadBytes);
  c.name.assign(name, strnlen(name, stored - 1));
  return FileError::None;
}

// ---- tile runs ----

std::vector<TileRun> planTileRuns(const CBlockImage& image) {
  std::vector<TileRun> runs;
  const uint32_t total = uint32_t(image.TileCount());
  for (uint32_t i = 0; i < total; ++i) {
    const bool allocated = tileAt(image, i).allocated;
    if (!runs.empty() && runs.back().allocated == allocated && (!allocated || runs.back().count < kMaxAllocatedRun)) {
      ++runs.back().count;
    } else {
      runs.push_back({i, 1, allocated});
    }
  }
  return runs;
}

FileError TileRunWriter::Write(const CBlockImage& image, const char magic[4], ByteSink& sink) {
  if (!image.IsValid() || uint32_t(image.tileBytes) != kRunTileBytes) return FileError::BadArgument;
  std::vector<TileRun> runs;
  try {
    runs = planTileRuns(image);
  } catch (const std::bad_alloc&) {
    return FileError::OutOfMemory;
  }
  // Batches of allocated runs are compressed together, then written in order.
  constexpr size_t kBatch = 64;
  std::vector<const TileRun*> packed;
  std::vector<uint8_t> values;
  try {
    compressed.resize(kBatch);
    packed.reserve(kBatch);
  } catch (const std::bad_alloc&) {
    return FileError::OutOfMemory;
  }
  const std::function<void(size_t)> compressRun = [&](size_t k) {
    const TileRun& run = *packed[k];
    Slot& slot = compressed[k];
    thread_local std::vector<uint8_t> gathered;
    try {
      gathered.resize(size_t(run.count) * kRunTileBytes);
    } catch (const std::bad_alloc&) {
      slot.error = FileError::OutOfMemory;
      return;
    }
    for (uint32_t i = 0; i < run.count; ++i)
      std::memcpy(gathered.data() + size_t(i) * kRunTileBytes, tileAt(image, run.first + i).data, kRunTileBytes);
    CompressSink out = CompressSink::growBuffer();
    slot.error = compress(gathered.data(), gathered.size(), slot.buffer, slot.capacity, out);
    slot.length = out.length;
  };
  for (size_t r = 0; r < runs.size();) {
    size_t end = r;
    packed.clear();
    for (; end < runs.size() && (packed.size() < kBatch || !runs[end].allocated); ++end)
      if (runs[end].allocated) packed.push_back(&runs[end]);
    pool.Run(packed.size(), compressRun);
    size_t k = 0;
    for (; r < end; ++r) {
      const TileRun& run = runs[r];
      uint8_t head[kTileRunHeadBytes];
      if (run.allocated) {
        const Slot& slot = compressed[k++];
        if (slot.error != FileError::None) return slot.error;
        const size_t padded = (slot.length + 3) & ~size_t(3);
        writeRunHead(head, magic, image.tileSize, kRunKindAllocated, run.count, uint32_t(slot.length),
                     run.count * kRunTileBytes, uint32_t(padded));
        if (!sink.Write(head, sizeof head) || !sink.Write(slot.buffer.get(), slot.length) ||
            !sink.Zeros(padded - slot.length))
          return FileError::WriteFailed;
      } else {
        try {
          values.resize(size_t(run.count) * 4);
        } catch (const std::bad_alloc&) {
          return FileError::OutOfMemory;
        }
        for (uint32_t i = 0; i < run.count; ++i) writeU32(&values[size_t(i) * 4], tileAt(image, run.first + i).uniform);
        writeRunHead(head, magic, image.tileSize, kRunKindUniform, run.count, 0, run.count * 4, run.count * 4);
        if (!sink.Write(head, sizeof head) || !sink.Write(values.data(), values.size()))
          return FileError::WriteFailed;
      }
    }
  }
  return FileError::None;
}

FileError readTileRuns(InputSource& in, uint64_t& at, const char magic[4], CBlockImage& image, WorkerPool* pool) {
  if (!image.IsValid() || uint32_t(image.tileBytes) != kRunTileBytes) return FileError::BadArgument;
  const uint32_t total = uint32_t(image.TileCount());
  const size_t rowBytes = size_t(image.tileSize) * size_t(image.bytesPerPixel);
  // Runs of allocated tiles wait in batches: their tiles are allocated here,
  // then the batch is decoded on the pool's threads, each run into its own tiles.
  struct Packed {
    uint32_t first = 0, count = 0;
    std::vector<uint8_t> data;
    FileError error = FileError::None;
  };
  constexpr size_t kBatch = 64;
  std::vector<Packed> batch;
  size_t waiting = 0;
  const std::function<void(size_t)> decode = [&](size_t k) {
    Packed& run = batch[k];
    thread_local std::vector<uint8_t> tiles;
    try {
      tiles.resize(size_t(run.count) * kRunTileBytes);
    } catch (const std::bad_alloc&) {
      run.error = FileError::OutOfMemory;
      return;
    }
    const FileError e = decompress(run.data.data(), run.data.size(), tiles.data(), tiles.size());
    if (e != FileError::None) {
      run.error = e == FileError::OutOfMemory ? e : FileError::Corrupt;
      return;
    }
    for (uint32_t i = 0; i < run.count; ++i) {
      const TileDesc& t = tileAt(image, run.first + i);
      const uint8_t* src = tiles.data() + size_t(i) * kRunTileBytes;
      if (t.validWidth == image.tileSize && t.validHeight == image.tileSize) {
        std::memcpy(t.data, src, kRunTileBytes);
      } else {
        const size_t validBytes = size_t(t.validWidth) * size_t(image.bytesPerPixel);
        for (int32_t y = 0; y < t.validHeight; ++y)
          std::memcpy(t.data + size_t(y) * rowBytes, src + size_t(y) * rowBytes, validBytes);
      }
    }
  };
  auto flush = [&]() {
    if (pool) {
      pool->Run(waiting, decode);
    } else {
      for (size_t k = 0; k < waiting; ++k) decode(k);
    }
    for (size_t k = 0; k < waiting; ++k)
      if (batch[k].error != FileError::None) return batch[k].error;
    waiting = 0;
    return FileError::None;
  };
  try {
    batch.resize(kBatch);
  } catch (const std::bad_alloc&) {
    return FileError::OutOfMemory;
  }
  uint64_t pos = at;
  std::vector<uint8_t> values;
  for (uint32_t next = 0; next < total;) {
    uint8_t head[kTileRunHeadBytes];
    if (!in.ReadAt(pos, head, kChunkHeadBytes)) return FileError::Truncated;
    if (std::memcmp(head, magic, 4) != 0) return FileError::Corrupt;
    const uint64_t length = readU32(head + 4);
    if (length + kChunkHeadBytes > in.Size() - pos) return FileError::Truncated;
    if (length < kTileRunHeadBytes - kChunkHeadBytes) return FileError::Corrupt;
    if (!in.ReadAt(pos + kChunkHeadBytes, head + kChunkHeadBytes, kTileRunHeadBytes - kChunkHeadBytes))
      return FileError::ReadFailed;
    const uint32_t kind = readU32(head + 16), n = readU32(head + 20);
    const uint64_t packedBytes = readU32(head + 24), rawBytes = readU32(head + 28);
    const uint64_t dataBytes = length - (kTileRunHeadBytes - kChunkHeadBytes);
    if (readU32(head + 8) != uint32_t(image.tileSize) || readU32(head + 12) != uint32_t(image.tileSize))
      return FileError::Corrupt;
    if (n == 0 || n > total - next) return FileError::Corrupt;
    const uint64_t dataAt = pos + kTileRunHeadBytes;
    if (kind == kRunKindAllocated) {
      if (n > kMaxAllocatedRun || rawBytes != uint64_t(n) * kRunTileBytes || packedBytes == 0 ||
          packedBytes > dataBytes)
        return FileError::Corrupt;
      Packed& run = batch[waiting];
      try {
        run.data.resize(size_t(packedBytes));
      } catch (const std::bad_alloc&) {
        return FileError::OutOfMemory;
      }
      if (!in.ReadAt(dataAt, run.data.data(), run.data.size())) return FileError::ReadFailed;
      run.first = next;
      run.count = n;
      run.error = FileError::None;
      for (uint32_t i = 0; i < n; ++i) {
        TileDesc& t = tileAt(image, next + i);
        image.FreeTile(t);
        // The padding of edge tiles holds the default value, whatever the file has there.
        t.uniform = image.defaultUniform;
        if (!image.AllocTile(t)) return FileError::OutOfMemory;
      }
      if (++waiting == kBatch)
        if (const FileError e = flush(); e != FileError::None) return e;
    } else if (kind == kRunKindUniform) {
      if (rawBytes != uint64_t(n) * 4 || dataBytes < rawBytes) return FileError::Corrupt;
      try {
        values.resize(size_t(rawBytes));
      } catch (const std::bad_alloc&) {
        return FileError::OutOfMemory;
      }
      if (!in.ReadAt(dataAt, values.data(), values.size())) return FileError::ReadFailed;
      for (uint32_t i = 0; i < n; ++i) {
        const uint32_t value = readU32(values.data() + size_t(i) * 4);
        // A byte image holds byte values.
        if (image.bytesPerPixel == 1 && value > 255) return FileError::Corrupt;
        TileDesc& t = tileAt(image, next + i);
        image.FreeTile(t);
        t.uniform = value;
      }
    } else {
      return FileError::Corrupt;
    }
    next += n;
    pos += kChunkHeadBytes + length;
  }
  if (const FileError e = flush(); e != FileError::None) return e;
  at = pos;
  return FileError::None;
}

}  // namespace vl
