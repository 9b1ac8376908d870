// Arbitrary bytes as a PSD file opened as a paper. Whatever opens must give
// layers that cover the paper, and a paper that recorded the opening must
// replay to the same layers and masks.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "events/event_manager.h"
#include "paperfile/paper_psd.h"
#include "platform/ui_services.h"

namespace {

// Large documents open through the same code as small ones, only slower.
constexpr int64_t kMostPixels = int64_t(1) << 20;
constexpr int32_t kMostLayers = 64;

uint64_t hashOf(const vl::TPaper& p) {
  uint64_t h = 14695981039346656037ull;
  auto mix = [&h](uint64_t v) {
    for (int i = 0; i < 8; ++i) {
      h ^= (v >> (8 * i)) & 0xFF;
      h *= 1099511628211ull;
    }
  };
  mix(uint64_t(p.layerCount()));
  for (int32_t i = 0; i < p.layerCount(); ++i) {
    const vl::CLayerData& l = *p.layerAt(i);
    for (char c : l.name) mix(uint8_t(c));
    mix(uint64_t(l.visible) | uint64_t(l.maskLock) << 8 | uint64_t(l.opacity) << 16 | uint64_t(l.mode) << 24 |
        uint64_t(l.dissolve) << 32 | uint64_t(l.dissolveAmount) << 40);
    mix(uint64_t(uint32_t(l.offsetX)) | uint64_t(uint32_t(l.offsetY)) << 32);
    const vl::CBlockVMTC& img = *l.pixels;
    mix(uint64_t(uint32_t(img.width)) | uint64_t(uint32_t(img.height)) << 32);
    for (int32_t y = 0; y < img.height; ++y)
      for (int32_t x = 0; x < img.width; ++x) mix(img.Pixel(x, y));
  }
  mix(uint64_t(p.masks.Count()));
  for (int32_t i = 0; i < p.masks.Count(); ++i) {
    const vl::CMaskData& m = *p.masks.At(i);
    for (char c : m.name) mix(uint8_t(c));
    const vl::Size s = m.ChannelSize();
    for (int32_t y = 0; y < s.height; ++y)
      for (int32_t x = 0; x < s.width; ++x) mix(m.channel->Pixel(x, y));
  }
  return h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static vl::HeadlessUi quiet(false, false);
  vl::setUi(&quiet);
  vl::PsdFilePtr reader;
  if (vl::psdOpenMemory(data, size, reader) != vl::FileError::None) return 0;
  vl::PsdPaperSize paperSize;
  if (vl::psdPaperSize(*reader, paperSize) != vl::FileError::None) __builtin_trap();
  if (paperSize.width < 1 || paperSize.height < 1 || paperSize.width > 10000 || paperSize.height > 10000)
    __builtin_trap();
  int32_t count = 0;
  vl::psdReadLayerTable(*reader, count);
  if (int64_t(paperSize.width) * paperSize.height > kMostPixels || count > kMostLayers) return 0;
  for (int32_t i = 0; i < count; ++i) {
    vl::PsdLayerRecord r;
    vl::psdGetLayerRecord(*reader, i, r);
    if (int64_t(r.width()) * r.height() > kMostPixels) return 0;
  }

  const bool record = vl::psdRecordable(*reader);
  auto paper = std::make_unique<vl::TPaper>();
  vl::TFlowImage flow(*paper);
  auto recorder = std::make_unique<vl::CEventMngr>(*paper);
  vl::CEventMngr* events = recorder.get();
  if (record && recorder->start(nullptr, 42, 42)) paper->setEventHook(std::move(recorder));
  if (!paper->newPaper(flow, "fuzz", paperSize.resolution, paperSize.height, paperSize.width)) return 0;
  if (vl::psdIntoPaper(*reader, *paper, flow, record) != 0) return 0;
  if (paper->layerCount() < 1) __builtin_trap();
  for (int32_t i = 0; i < paper->layerCount(); ++i)
    if (!paper->layerAt(i)->ClampOffset(false)) __builtin_trap();  // every layer covers the paper
  if (!record || !events->isRecording()) return 0;

  std::vector<uint8_t> stream;
  if (!events->writeStream(stream)) __builtin_trap();
  vl::TPaper again;
  vl::TFlowImage againFlow(again);
  auto player = std::make_unique<vl::CEventMngr>(again);
  vl::CEventMngr* play = player.get();
  if (!player->loadStream(stream, events->StepCount(), 17, 0)) __builtin_trap();
  again.setEventHook(std::move(player));
  if (play->openForPlayback(againFlow) != 0) __builtin_trap();
  int r = 0;
  for (int guard = 0; guard < 1000000 && (r = play->playStep()) == 0; ++guard) {
  }
  if (r != 2 || hashOf(again) != hashOf(*paper)) __builtin_trap();
  return 0;
}
