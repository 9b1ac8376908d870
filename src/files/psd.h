#pragma once
// PSD reading and writing: the entry points the PSD commands call. Only
// declared so far; the reader and writer that define them come with PSD
// support, and nothing may call them before then.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "files/file_error.h"
#include "pixel/dib.h"

namespace vl {

// The file header.
struct PsdFileHeader {
  uint16_t version = 1;    // 1 PSD, 2 large document
  uint16_t channels = 3;   // merged image channels, extra channels included
  int32_t width = 0;
  int32_t height = 0;
  uint16_t depth = 8;      // bits per channel
  uint16_t colorMode = 3;  // 0 bitmap, 1 greyscale, 3 RGB, …
};

// One record of the layer table.
struct PsdLayerRecord {
  int32_t top = 0, left = 0, bottom = 0, right = 0;
  std::vector<int16_t> channelIds;  // 0, 1, 2 red, green, blue; −1 alpha; −2 user mask
  char blendKey[4] = {'n', 'o', 'r', 'm'};
  uint8_t opacity = 255;
  uint8_t clipping = 0;
  uint8_t flags = 0;  // bit 0 transparency protected, bit 1 hidden
  int32_t id = 0;     // negative for records the program marks as its own
  std::string name;   // the Unicode name when the file has one, else the stored name
};

// What a writer is told about the document before it writes.
struct PsdDocumentDescription {
  int32_t width = 0;
  int32_t height = 0;
  int32_t xDpi = 0;
  int32_t yDpi = 0;
  uint16_t colorMode = 3;
  uint16_t channels = 3;
  int32_t layerCount = 0;
  int32_t currentLayer = 0;
};

// The writer pulls everything it writes through these, in file order.
class PsdWriteSource {
 public:
  virtual ~PsdWriteSource() = default;
  virtual bool LayerRecord(int32_t layer, PsdLayerRecord& record) = 0;
  virtual bool LayerChannelRow(int32_t layer, int16_t channelId, int32_t row, uint8_t* dst, int32_t width) = 0;
  virtual bool MergedChannelRow(int32_t channel, int32_t row, uint8_t* dst, int32_t width) = 0;
  virtual bool ExtraChannelName(int32_t channel, std::string& name) = 0;
  virtual bool ExtraChannelRow(int32_t channel, int32_t row, uint8_t* dst, int32_t width) = 0;
  virtual bool LayerName(int32_t layer, std::string& name) = 0;
  virtual void Progress(int32_t done, int32_t total) = 0;
};

class PsdFile;  // a reader on a file, or a writer
struct PsdFileDeleter {
  void operator()(PsdFile* f) const;  // closes either kind
};
using PsdFilePtr = std::unique_ptr<PsdFile, PsdFileDeleter>;

FileError psdOpenReader(const std::string& path, PsdFilePtr& reader);
FileError psdCreateWriter(PsdFilePtr& writer);

FileError psdReadHeader(PsdFile& reader, PsdFileHeader& header);
FileError psdReadLayerTable(PsdFile& reader, int32_t& layerCount);
FileError psdGetLayerRecord(PsdFile& reader, int32_t layer, PsdLayerRecord& record);
// One channel of a layer over the layer's rectangle.
FileError psdReadLayerChannel(PsdFile& reader, int32_t layer, int16_t channelId, TChannel& channel);
// One channel of the merged image, width × height of the file.
FileError psdReadMergedChannel(PsdFile& reader, int32_t index, TChannel& channel);
// An image resource by id (1006: the names of the extra channels).
FileError psdReadImageResource(PsdFile& reader, uint16_t id, std::vector<uint8_t>& data);

void psdSetDescription(PsdFile& writer, const PsdDocumentDescription& description);
void psdSetVersion(PsdFile& writer, int version);
FileError psdWrite(PsdFile& writer, const std::string& path, PsdWriteSource& source);

// The composite image, and one layer, with the contract of the other loaders
// in files/image_files.h.
FileError psdGetImage(const std::string& path, BitmapInfoHeader& header, TMTC& pixels);
FileError psdGetLayerImage(const std::string& path, BitmapInfoHeader& header, TMTC& pixels, int32_t layer);

}  // namespace vl
