// Arbitrary bytes as a PSD file. Whatever opens must give records and
// pixels that agree with the header, and every read must end in a result.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "files/psd.h"

namespace {

// Large pictures decode through the same code as small ones, only slower.
constexpr int64_t kMostPixelsRead = int64_t(1) << 22;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vl::PsdFilePtr reader;
  const vl::FileError opened = vl::psdOpenMemory(data, size, reader);
  if (!reader) __builtin_trap();
  if (opened != vl::FileError::None) {
    if (vl::psdErrorText(*reader).empty()) __builtin_trap();
    return 0;
  }
  vl::PsdFileHeader h;
  if (vl::psdReadHeader(*reader, h) != vl::FileError::None) __builtin_trap();
  if (h.width <= 0 || h.height <= 0 || int64_t(h.width) * h.height > vl::kMaxImagePixels) __builtin_trap();
  int32_t count = 0;
  if (vl::psdReadLayerTable(*reader, count) != vl::FileError::None || count < 0) __builtin_trap();
  for (int32_t i = 0; i < count; ++i) {
    vl::PsdLayerRecord r;
    if (vl::psdGetLayerRecord(*reader, i, r) != vl::FileError::None) __builtin_trap();
    if (r.width() < 0 || r.height() < 0) __builtin_trap();
    bool dissolve = false;
    const int mode = vl::psdBlendModeOf(r.blendKey, dissolve);
    if (mode < 0 || mode > 21) __builtin_trap();
    if (int64_t(r.width()) * r.height() > kMostPixelsRead) continue;
    vl::TMTC pixels;
    if (vl::psdReadLayerPixels(*reader, i, pixels) == vl::FileError::None && pixels.IsAllocated() &&
        (pixels.width != r.width() || pixels.height != r.height()))
      __builtin_trap();
    for (int16_t id : r.channelIds) {
      vl::TChannel c;
      if (vl::psdReadLayerChannel(*reader, i, id, c) == vl::FileError::None && c.IsAllocated() &&
          (c.width != r.width() || c.height != r.height()))
        __builtin_trap();
    }
  }
  if (int64_t(h.width) * h.height <= kMostPixelsRead) {
    vl::TMTC merged;
    if (vl::psdReadMergedPixels(*reader, merged) == vl::FileError::None &&
        (merged.width != h.width || merged.height != h.height))
      __builtin_trap();
    for (int k = 0; k < h.channels; ++k) {
      vl::TChannel c;
      vl::psdReadMergedChannel(*reader, k, c);
    }
  }
  std::vector<std::string> names;
  vl::psdExtraChannelNames(*reader, names);
  return 0;
}
