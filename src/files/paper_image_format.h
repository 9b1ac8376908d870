#pragma once
// The pieces of the native paper file that know nothing of papers: its
// 56-byte header, the head of a layer ("VLYR") or mask ("VMSK") chunk with
// its name, and the tile runs that store a tiled image after its chunk.
//
// Runs walk the tiles in row order, top row first; consecutive tiles of one
// state make one run. A run of allocated tiles ("VBIM" for layers, "VBMK"
// for masks) holds at most 16 tiles, compressed one after the other, 4096
// bytes each (32 × 32 pixels of 4 bytes, or 64 × 64 bytes); a run of
// uniform tiles holds each tile's value as a u32.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "files/byte_io.h"
#include "files/file_error.h"
#include "files/worker_pool.h"
#include "pixel/block_image.h"
#include "platform/memory.h"

namespace vl {

inline constexpr uint32_t kChunkHeadBytes = 8;
inline constexpr uint32_t kPaperHeaderBytes = 56;
inline constexpr uint32_t kImageChunkHeadBytes = 80;
inline constexpr uint32_t kTileRunHeadBytes = 40;
// The bytes of one tile, layer or mask.
inline constexpr uint32_t kRunTileBytes = 4096;
// Allocated tiles in one run at most.
inline constexpr uint32_t kMaxAllocatedRun = 16;
// The only format version there is.
inline constexpr uint32_t kPaperFileVersion = 1;

enum PaperFileFlag : uint16_t {
  kPaperHasLayers = 0x1,
  kPaperHasMasks = 0x2,
  kPaperHasThumbnail = 0x4,
  kPaperHasEvents = 0x8,
  kPaperSelectionShown = 0x10,
  kPaperSelectionInUse = 0x20,
  kPaperLayerFieldsValid = 0x100,
  kPaperMaskFieldsValid = 0x200,
};

struct PaperHeader {
  int32_t width = 0, height = 0;
  uint32_t version = kPaperFileVersion;
  uint16_t flags = 0;
  uint32_t paperColour = 0xFFFFFF;
  uint16_t currentLayer = 0, currentMask = 0;
  uint16_t resolution = 0;
  uint16_t layerCount = 0, layerCounter = 0;
  uint16_t maskCount = 0, maskCounter = 0;
  friend bool operator==(const PaperHeader&, const PaperHeader&) = default;
};

void writePaperHeader(const PaperHeader& header, uint8_t out[kPaperHeaderBytes]);
// From the file's first byte: NotThisFormat without the magic, Corrupt for a
// wrong header length or a side below 1, Unsupported for a newer version,
// TooLarge for a side above maxSide.
FileError readPaperHeader(const uint8_t* data, size_t size, int32_t maxSide, PaperHeader& header);

// Layer chunk flags; a mask chunk's bit 0 says it holds a channel.
enum ImageChunkFlag : uint16_t {
  kLayerVisible = 0x1,
  kLayerMaskLock = 0x2,
  kLayerAlwaysSet = 0x10,
  kLayerDissolve = 0x20,
  kMaskHasChannel = 0x1,
};

// The head of a layer or mask chunk. Masks leave mode, opacity and the
// dissolve fields 0.
struct ImageChunk {
  char magic[4] = {'V', 'L', 'Y', 'R'};
  uint32_t number = 0;  // the layer's index, the mask's id
  uint16_t flags = 0;
  uint8_t mode = 0, opacity = 0;
  int32_t tileWidth = 0, tileHeight = 0;
  int32_t tilesAcross = 0, tilesDown = 0;
  int32_t width = 0, height = 0;
  int32_t originX = 0, originY = 0;  // where the paper's origin lies in the image
  int32_t paperWidth = 0, paperHeight = 0;
  uint32_t uniform = 0;  // the image's default tile value
  uint8_t dissolveAmount = 0;
  uint32_t dissolveSeed = 0;
  std::string name;  // stored with a terminating zero; longer than 65534 bytes is cut
};

// The whole chunk: head and name area.
bool makeImageChunk(const ImageChunk& chunk, std::vector<uint8_t>& out);
// The head and name of a chunk held whole (8 + its length bytes). Corrupt
// when the length leaves no room for the head or the name does not fit.
FileError readImageChunk(const uint8_t* data, size_t size, ImageChunk& chunk);

struct TileRun {
  uint32_t first = 0, count = 0;
  bool allocated = false;
};
std::vector<TileRun> planTileRuns(const CBlockImage& image);

// Writes the runs of images, compressing the allocated runs on the pool's
// threads. Each run is compressed alone, so the bytes never depend on the
// number of threads.
class TileRunWriter {
 public:
  explicit TileRunWriter(WorkerPool& pool) : pool(pool) {}
  // The image's tiles must be of 4096 bytes (a layer's or a mask's).
  FileError Write(const CBlockImage& image, const char magic[4], ByteSink& sink);

 private:
  // One compressed run of a batch.
  struct Slot {
    Block buffer;
    size_t capacity = 0;
    size_t length = 0;
    FileError error = FileError::None;
  };
  WorkerPool& pool;
  std::vector<Slot> compressed;
};

// Reads the runs that follow an image chunk, from `at`, into a new image
// until they cover every tile exactly; `at` then lies past the last one.
// Allocated tiles keep the image's default value in their padding. A run
// that is missing, claims more tiles than are left, or whose data does not
// decode to its tiles is Corrupt; one past the end of the input Truncated.
// Allocated runs are decoded on the pool's threads when there is one.
FileError readTileRuns(InputSource& in, uint64_t& at, const char magic[4], CBlockImage& image,
                       WorkerPool* pool = nullptr);

}  // namespace vl
