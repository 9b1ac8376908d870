// Feeds arbitrary bytes to the event file reader and then to the player: a
// file that reads must replay to its end or stop with an error, never
// anything worse. Papers stay small so the fuzzer keeps its pace.
#include <cstddef>
#include <cstdint>

#include "events/event_render.h"
#include "platform/ui_services.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static vl::HeadlessUi quiet(false, false);
  vl::setUi(&quiet);
  quiet.warnings.clear();
  vl::EventStreamFile file;
  // The bytes as a whole file, and as a bare stream.
  if (vl::decodeEventFile(data, size, file) != vl::kEventFileOk) {
    file = {};
    file.stream.assign(data, data + size);
    file.steps = 100;
  }
  vl::HeadlessReplay replay;
  replay.Events().maxPaperSide = 256;
  if (replay.Open(file, false) != 0) return 0;
  int r = 0;
  for (int guard = 0; guard < 100000 && (r = replay.Events().playStep()) == 0; ++guard) {
  }
  if (r != 2 && r != 3 && r != 0) __builtin_trap();
  return 0;
}
