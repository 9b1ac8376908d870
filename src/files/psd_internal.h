#pragma once
// What the PSD reader and writer share: the open file object, the error it
// remembers, and PackBits.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "files/psd.h"
#include "platform/memory.h"
#include "platform/strings.h"

namespace vl::psd {

// Where a reader's bytes come from: a file read piece by piece, or a block
// in memory.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // n bytes at offset into dst; false when the source cannot give them all.
  virtual bool Read(uint64_t offset, void* dst, size_t n) = 0;
  // The bytes in place, or null when they must be read.
  virtual const uint8_t* View(uint64_t offset, size_t n) const = 0;
  uint64_t size = 0;
};

// The failure a reader or writer last met, kept so it can be told in words.
struct Problem {
  FileError code = FileError::None;
  TextId message = TextId::Count;  // Count: the code's own text
  TextId part = TextId::Count;     // the part of the file, for damaged and cut-short files
  int64_t a = 0, b = 0;            // numbers the texts show
  TextId name = TextId::Count;     // a colour mode's name
};

struct Channel {
  int16_t id = 0;
  uint64_t offset = 0;  // of its compression field
  uint64_t length = 0;  // compression field included
  uint16_t compression = 0;
};

struct Layer {
  PsdLayerRecord record;
  std::vector<Channel> channels;
};

struct Resource {
  uint16_t id = 0;
  uint64_t offset = 0;
  uint32_t length = 0;
};

}  // namespace vl::psd

namespace vl {

class PsdFile {
 public:
  bool writing = false;
  psd::Problem problem;

  // Reader.
  std::unique_ptr<psd::ByteSource> source;
  PsdFileHeader header;
  std::vector<psd::Resource> resources;
  std::vector<psd::Layer> layers;
  uint16_t imageCompression = 0;
  uint64_t imageData = 0;                  // first byte after the compression field
  std::vector<uint64_t> mergedChannelAt;   // per merged channel: its first data byte
  std::vector<uint16_t> mergedRowLengths;  // PackBits: channels × height byte counts

  // Writer.
  PsdDocumentDescription description;
  int version = 1;

  FileError Fail(FileError code, TextId message = TextId::Count, TextId part = TextId::Count, int64_t a = 0,
                 int64_t b = 0) {
    problem = {code, message, part, a, b, TextId::Count};
    return code;
  }
};

}  // namespace vl

namespace vl::psd {

// The most bytes a row of `width` bytes takes once packed.
inline size_t packBitsBound(size_t width) { return width + (width + 127) / 128; }
// Packs one row; returns the bytes written to out (at most packBitsBound).
size_t packBitsRow(const uint8_t* row, size_t width, uint8_t* out);
// Unpacks exactly `width` bytes from exactly `n` bytes; false for anything else.
bool unpackBitsRow(const uint8_t* src, size_t n, uint8_t* row, size_t width);

// UTF-16 code units (big-endian bytes) to UTF-8, and back. Unpaired
// surrogates become U+FFFD.
std::string utf8FromUtf16Be(const uint8_t* units, size_t count);
std::vector<uint16_t> utf16FromUtf8(const std::string& text);
// A stored (Pascal) name: UTF-8 as it is; other bytes as the Korean code
// page when the system can convert it, else as Latin-1.
std::string utf8FromStoredName(const uint8_t* bytes, size_t n);
// The longest start of `text` of at most `limit` bytes that ends on a whole character.
size_t utf8Prefix(const std::string& text, size_t limit);

}  // namespace vl::psd
