// Arbitrary bytes as a native paper file, opened in a paper that records as
// a canvas window's does. Whatever opens must be a whole paper, and must
// save and open again.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "drawing/stroke.h"
#include "events/event_manager.h"
#include "paperfile/paper_file.h"
#include "platform/ui_services.h"

namespace {

// Small papers and streams go through the same code as large ones, only faster.
vl::PaperLoadOptions limits(uint32_t maxStream) {
  vl::PaperLoadOptions o;
  o.maxPaperSide = 256;
  o.maxImageSide = 1024;
  o.maxStream = maxStream;
  o.historyDepth = 40;
  return o;
}

struct Canvas {
  vl::TPaper paper;
  vl::TFlowImage flow{paper};
  vl::TStroke stroke;
  vl::CEventMngr* events = nullptr;
  Canvas() {
    auto rec = std::make_unique<vl::CEventMngr>(paper);
    events = rec.get();
    events->maxPaperSide = 256;
    if (!rec->start(&stroke, 40, 40)) __builtin_trap();
    paper.setEventHook(std::move(rec));
  }
};

// The paper holds together: layers and masks where the reader put them,
// the flow image bound to the current layer and large enough for it.
void check(const Canvas& c) {
  const vl::TPaper& p = c.paper;
  if (p.width < 1 || p.height < 1 || p.width > 256 || p.height > 256) __builtin_trap();
  if (p.layerCount() < 1 || !p.layers.IsValid(p.currentLayerIndex())) __builtin_trap();
  if (p.masks.Count() < 1 || !p.masks.IsValid(p.masks.Current())) __builtin_trap();
  for (int32_t i = 0; i < p.layerCount(); ++i) {
    const vl::CLayerData& l = *p.layerAt(i);
    if (!l.pixels || !l.pixels->IsValid() || l.Mode() >= 22) __builtin_trap();
    if (c.flow.colour.width < l.pixels->width || c.flow.colour.height < l.pixels->height) __builtin_trap();
  }
  if (c.flow.boundLayer != p.currentLayerIndex()) __builtin_trap();
  if (c.events->isRecording() && c.events->CommittedEnd() == 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static vl::HeadlessUi quiet(false, false);
  vl::setUi(&quiet);
  quiet.warnings.clear();
  quiet.traces.clear();
  Canvas first;
  vl::MemoryInput in(data, size);
  if (vl::loadPaperFile(in, first.paper, first.flow, "fuzz.vci", limits(1 << 20)) != vl::FileError::None) return 0;
  check(first);
  vl::MemorySink sink;
  if (vl::writePaperFile(first.paper, sink, {}) != vl::FileError::None) __builtin_trap();
  Canvas second;
  vl::MemoryInput again(sink.bytes.data(), sink.bytes.size());
  vl::PaperLoadReport report;
  if (vl::loadPaperFile(again, second.paper, second.flow, "again.vci", limits(1 << 21), &report) != vl::FileError::None)
    __builtin_trap();
  check(second);
  if (report.failedParts != 0 || report.ignoredChunks != 0) __builtin_trap();
  if (second.paper.layerCount() != first.paper.layerCount() || second.paper.masks.Count() != first.paper.masks.Count())
    __builtin_trap();
  if (first.events->isRecording() != second.events->isRecording()) __builtin_trap();
  return 0;
}
