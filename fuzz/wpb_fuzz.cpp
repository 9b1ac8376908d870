// Arbitrary bytes as an oldest paper image (.wpb). Whatever opens has
// opaque layers of the header's size, a known blend mode, and a trailing
// stream that is either valid or dropped; small ones become papers.
#include <cstddef>
#include <cstdint>

#include "document/paper.h"
#include "events/event_files.h"
#include "events/oldest_paper.h"
#include "platform/ui_services.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static vl::HeadlessUi quiet(false, false);
  vl::setUi(&quiet);
  quiet.warnings.clear();
  vl::WpbImage img;
  const int e = vl::decodeWpb(data, size, img);
  if (e != vl::kEventFileOk) {
    if (!img.layers.empty() || img.streamState != vl::WpbStream::None) __builtin_trap();  // nothing half-read is kept
    return 0;
  }
  if (img.streamState == vl::WpbStream::Valid && img.stream.Count() == 0) __builtin_trap();
  if (img.streamState == vl::WpbStream::Failed && (img.state != 1 || img.stream.Count() != 0)) __builtin_trap();
  if (!img.hasLayers) {
    if (!img.layers.empty()) __builtin_trap();
    return 0;
  }
  if (img.layers.empty() || img.layers.size() > 256) __builtin_trap();
  for (const vl::WpbLayer& l : img.layers) {
    if (!l.pixels || l.pixels->width != img.width || l.pixels->height != img.height) __builtin_trap();
    if (l.mode < 0 || l.mode > 21) __builtin_trap();
  }
  if (int64_t(img.width) * img.height > 256 * 256) return 0;
  for (int32_t y = 0; y < img.height; ++y)
    for (int32_t x = 0; x < img.width; ++x)
      if ((img.layers[0].pixels->Pixel(x, y) >> 24) != 255) __builtin_trap();
  vl::TPaper paper;
  vl::TFlowImage flow(paper);
  if (!vl::buildWpbPaper(paper, flow, img, "fuzz")) __builtin_trap();
  if (paper.layerCount() < 1 || paper.width != img.width || paper.compositeImage.width != img.width) __builtin_trap();
  return 0;
}
