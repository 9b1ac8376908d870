#pragma once
// PSD reading and writing: layered pictures exchanged with other painting
// programs.
//
// Read: RGB, greyscale (8 bits per channel) and bitmap (1 bit) documents of
// file version 1, raw or PackBits channel data; layers with their whole
// stored rectangle (offsets beyond the document, negative ones included,
// are kept as stored), opacity, flags, blend key, name (the Unicode name
// block when present, else the stored name), the merged image and its
// extra channels with their names. Everything the file claims is checked
// against the file (section lengths, layer counts, rectangle sizes, channel
// lengths, PackBits row counts and lengths) before it is used. Large
// documents (PSB), 16 and 32 bits per channel, CMYK, Lab, indexed,
// multichannel and duotone documents and ZIP-compressed channel data are
// refused with Unsupported; psdErrorText names what was refused.
//
// Written: an RGB document of file version 1 with 8-bit channels, every
// layer with its record, its name both as the stored name and as a Unicode
// name block, PackBits channel data, the merged image, extra channels and
// their names, and the resolution.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "files/file_error.h"
#include "pixel/dib.h"

namespace vl {

// Widest and tallest document the format (version 1) allows.
inline constexpr int32_t kMaxPsdSide = 30000;
// Most channels a document or a layer may have.
inline constexpr int32_t kMaxPsdChannels = 56;
// Most layers a file may hold (the count is a signed 16-bit field).
inline constexpr int32_t kMaxPsdLayers = 32767;

// The file header.
struct PsdFileHeader {
  uint16_t version = 1;    // 1 PSD, 2 large document
  uint16_t channels = 3;   // merged image channels, extra channels included
  int32_t width = 0;
  int32_t height = 0;
  uint16_t depth = 8;      // bits per channel
  uint16_t colorMode = 3;  // 0 bitmap, 1 greyscale, 3 RGB, …
  // Resolution from the resolution resource, in dots per inch; 0 unknown.
  int32_t xDpi = 0;
  int32_t yDpi = 0;
  // The first extra channel is the merged image's transparency (the file
  // stores its layer count negated).
  bool mergedAlpha = false;
};

// Colour channels of a mode: 3 for RGB, 1 for greyscale and bitmap.
inline int psdColourChannels(uint16_t colorMode) { return colorMode == 3 ? 3 : 1; }

// Colour modes.
inline constexpr uint16_t kPsdBitmap = 0;
inline constexpr uint16_t kPsdGreyscale = 1;
inline constexpr uint16_t kPsdRgb = 3;

// Layer record flags.
inline constexpr uint8_t kPsdFlagProtectTransparency = 0x01;
inline constexpr uint8_t kPsdFlagHidden = 0x02;

// One record of the layer table.
struct PsdLayerRecord {
  // The stored rectangle (right and bottom exclusive), in document
  // coordinates; it may reach beyond the document on any side.
  int32_t top = 0, left = 0, bottom = 0, right = 0;
  std::vector<int16_t> channelIds;  // 0, 1, 2 red, green, blue (0 grey); −1 alpha; −2 user mask
  char blendKey[4] = {'n', 'o', 'r', 'm'};
  uint8_t opacity = 255;
  uint8_t clipping = 0;
  uint8_t flags = 0;  // bit 0 transparency protected, bit 1 hidden
  int32_t id = 0;     // the layer id block's value, 0 when the file has none
  std::string name;   // UTF-8: the Unicode name when the file has one, else the stored name
  // The section divider block's type: 0 a plain layer, 1 an open folder,
  // 2 a closed folder, 3 the hidden end marker of a folder.
  int32_t sectionType = 0;

  int32_t width() const { return int32_t(int64_t(right) - left); }
  int32_t height() const { return int32_t(int64_t(bottom) - top); }
};

// What a writer is told about the document before it writes.
struct PsdDocumentDescription {
  int32_t width = 0;
  int32_t height = 0;
  int32_t xDpi = 0;
  int32_t yDpi = 0;
  uint16_t colorMode = 3;  // only RGB is written
  uint16_t channels = 3;   // 3 colour channels plus the extra channels
  int32_t layerCount = 0;
  int32_t currentLayer = 0;
};

// The writer pulls everything it writes through these, in file order: every
// layer's record and name, every extra channel's name, then the channel rows
// of each layer (in the order of its record's channel ids, top row first),
// then the merged image's colour channels and the extra channels. A call
// that returns false stops the write: the target is left as it was and
// psdWrite returns BadArgument.
class PsdWriteSource {
 public:
  virtual ~PsdWriteSource() = default;
  // The record of layer 0 (the bottom one) … layerCount − 1. Its rectangle
  // and channel ids (each of −1, 0, 1, 2, at most once) decide what is written.
  virtual bool LayerRecord(int32_t layer, PsdLayerRecord& record) = 0;
  // width bytes of a row of the layer's rectangle.
  virtual bool LayerChannelRow(int32_t layer, int16_t channelId, int32_t row, uint8_t* dst, int32_t width) = 0;
  // Colour channel 0 … 2 of the merged image, a row of the document's width.
  virtual bool MergedChannelRow(int32_t channel, int32_t row, uint8_t* dst, int32_t width) = 0;
  // Extra channel 0 … channels − 4.
  virtual bool ExtraChannelName(int32_t channel, std::string& name) = 0;
  virtual bool ExtraChannelRow(int32_t channel, int32_t row, uint8_t* dst, int32_t width) = 0;
  // The layer's name (UTF-8); returning false keeps the record's name.
  virtual bool LayerName(int32_t layer, std::string& name) = 0;
  // Called after each layer and each merged channel.
  virtual void Progress(int32_t done, int32_t total) = 0;
};

// One channel of a row of 32-bit pixels, as a source gives it to the
// writer: −1 alpha, 0 red, 1 green, 2 blue (any other id gives zeros).
void psdChannelRow(const uint32_t* pixels, int32_t width, int16_t channelId, uint8_t* dst);

class PsdFile;  // a reader on a file, or a writer
struct PsdFileDeleter {
  void operator()(PsdFile* f) const;  // closes either kind
};
using PsdFilePtr = std::unique_ptr<PsdFile, PsdFileDeleter>;

// Opens a reader and checks the whole structure of the file (not yet the
// channel data itself). On failure `reader` still holds the reader when one
// could be made, so that psdErrorText can name the problem; every other call
// on it then returns the same error.
FileError psdOpenReader(const std::string& path, PsdFilePtr& reader);
// The same over bytes in memory, which must outlive the reader.
FileError psdOpenMemory(const uint8_t* data, size_t size, PsdFilePtr& reader);
FileError psdCreateWriter(PsdFilePtr& writer);

// What the last failing call on `file` met, in the program's language:
// what is unsupported, or which part of the file is damaged.
std::string psdErrorText(const PsdFile& file);

FileError psdReadHeader(PsdFile& reader, PsdFileHeader& header);
FileError psdReadLayerTable(PsdFile& reader, int32_t& layerCount);
FileError psdGetLayerRecord(PsdFile& reader, int32_t layer, PsdLayerRecord& record);
// One channel of a layer over the layer's rectangle (row 0 the top). An
// empty rectangle gives None and a freed channel; a channel id the record
// does not list gives BadArgument; user mask channels (−2, −3) Unsupported.
FileError psdReadLayerChannel(PsdFile& reader, int32_t layer, int16_t channelId, TChannel& channel);
// One channel of the merged image, width × height of the file; index from
// 0 over the colour channels, then the extra channels. Bitmap data is
// expanded to 0 (black) and 255 (white).
FileError psdReadMergedChannel(PsdFile& reader, int32_t index, TChannel& channel);
// An image resource by id (1006: the names of the extra channels); empty
// when the file has none.
FileError psdReadImageResource(PsdFile& reader, uint16_t id, std::vector<uint8_t>& data);
// The names of the extra channels (UTF-8): the Unicode names when the file
// has them, else the stored ones; as many as the file gives.
FileError psdExtraChannelNames(PsdFile& reader, std::vector<std::string>& names);
// A layer as 32-bit pixels over its rectangle: red, green and blue from
// channels 0, 1, 2 (a greyscale file's channel 0 in all three), alpha from
// channel −1, else 255. An empty rectangle gives None and freed pixels.
FileError psdReadLayerPixels(PsdFile& reader, int32_t layer, TMTC& pixels);
// The merged image as 32-bit pixels, alpha 255 unless the file gives the
// merged transparency.
FileError psdReadMergedPixels(PsdFile& reader, TMTC& pixels);

void psdSetDescription(PsdFile& writer, const PsdDocumentDescription& description);
// The file version: 1 and the program's own generation numbers (3 … 7)
// write a PSD file of version 1; 2, the large document form, is refused by
// psdWrite with Unsupported.
void psdSetVersion(PsdFile& writer, int version);
// Writes a temporary file beside path and renames it over path only when
// everything was written.
FileError psdWrite(PsdFile& writer, const std::string& path, PsdWriteSource& source);

// The composite image, and one layer, with the contract of the other loaders
// in files/image_files.h.
FileError psdGetImage(const std::string& path, BitmapInfoHeader& header, TMTC& pixels);
FileError psdGetLayerImage(const std::string& path, BitmapInfoHeader& header, TMTC& pixels, int32_t layer);
// The same, with psdErrorText's description of a failure in errorText.
FileError psdGetImage(const std::string& path, BitmapInfoHeader& header, TMTC& pixels, std::string& errorText);
FileError psdGetLayerImage(const std::string& path, BitmapInfoHeader& header, TMTC& pixels, int32_t layer,
                           std::string& errorText);

// Blend modes and PSD blend keys (table in psd_blend.cpp). The program's
// modes are numbered 0 … 21 as in its blend-mode table; modes outside it
// are written as normal. Dissolve is a flag of the program's layer, and in
// a file the key "diss": writing a dissolving layer gives "diss" whatever
// its mode; reading "diss" gives normal (3) with `dissolve` set. Keys the
// program has no mode for read as their nearest mode, unknown keys as
// normal; keys stored byte-reversed (as some writers do) are recognised.
int psdBlendModeOf(const char key[4], bool& dissolve);
void psdBlendKeyOf(int mode, bool dissolve, char key[4]);

}  // namespace vl
