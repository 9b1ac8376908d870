#pragma once
// The oldest paper image (.wpb, read only): a 32-byte header, the layers in
// run-length RGB, then an oldest event stream.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "events/oldest_stream.h"
#include "pixel/block_image.h"

namespace vl {

class TPaper;
class TFlowImage;

struct WpbLayer {
  int mode = 0;
  uint8_t opacity = 255;
  bool visible = true;
  std::unique_ptr<CBlockVMTC> pixels;  // opaque, the paper's size
};

// What the trailing stream turned out to be.
enum class WpbStream : uint8_t { None, Valid, Failed };

struct WpbImage {
  bool hasLayers = false;  // the header's flag 0: layers follow
  int32_t width = 0, height = 0;
  uint32_t paperColour = 0xFFFFFF;  // 0x00RRGGBB
  uint8_t currentLayer = 0;
  // Read and not used; set to 1 when the stream failed.
  uint8_t state = 0;
  std::vector<WpbLayer> layers;
  WpbStream streamState = WpbStream::None;
  TEventPacket stream;  // when valid
};

inline constexpr size_t kWpbHeaderBytes = 32;

// 0 or an event-file error code: 16 no "WPB2" magic, 9 the file ends
// inside the header or a layer, 17 a size, mode or count out of range, 45 a
// layer's runs that do not fill it, 1 no memory. A trailing stream that
// fails validation (or runs past the end) does not fail the file: it is
// dropped and `streamState` says so.
int decodeWpb(const uint8_t* data, size_t size, WpbImage& out);
int readWpbFile(const std::string& path, WpbImage& out);

// Whether a path names a .wpb file.
bool isWpbPath(const std::string& path);

// Fills a fresh paper (current generation) with the file's layers, paper
// colour and current layer; the paper's eventProtected follows the stream's
// markers. The layers' pixels move out of `image`. False when memory runs out.
bool buildWpbPaper(TPaper& paper, TFlowImage& flow, WpbImage& image, const std::string& name);

}  // namespace vl
