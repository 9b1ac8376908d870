// Recording resumed after a stream that came with its picture: the paper
// already shows what the stream made, so nothing is replayed; the stream
// only needs its steps back and its end packet taken off.
#include <algorithm>

#include "events/event_manager.h"

namespace vl {

int CEventMngr::resumeAfterLoad(int32_t historyDepth) {
  if (state != kIdle || writePos == 0) return 1;
  bool marked = false;
  if (!scanStatusFlags(true, 0, kFlagProtected, marked)) {
    clear();
    return 1;
  }
  if (marked) {
    // A protected stream is never recorded on, nor saved again.
    clear();
    paper.eventProtected = 1;
    return 2;
  }
  const int32_t depth = std::max(historyDepth, 8);
  if (!steps.Setup(depth, depth)) {
    clear();
    return 1;
  }
  // Each committing packet ends a step; the history keeps where each began.
  uint32_t at = 0, stepStart = 0;
  int32_t count = 0;
  while (at < writePos) {
    const int64_t size = PayloadSizeAt(at);
    uint8_t head[2];
    if (size < 0 || !ReadAt(at, head, 2)) {
      clear();
      return 1;
    }
    at += 2 + uint32_t(size);
    if (commitsStep(head[0])) {
      steps.PushValue(stepStart);
      stepStart = at;
      ++count;
    }
  }
  // A saved stream ends with a whole step.
  if (stepStart != writePos || count == 0) {
    clear();
    return 1;
  }
  committedEnd = writePos;
  stepCount = count;
  validBits = 0;
  statusCopies.clear();
  toneMap.clear();
  strokeOpen = false;
  pending.clear();
  resumed = 1;
  // The end packet the save closed the stream with goes: another one after
  // it would end a later replay early.
  uint8_t head[2] = {0, 0};
  state = kClosed;
  if (ReadAt(steps.Current(), head, 2) && head[0] == kCatPaper && head[1] == kPaperRecordingEnd) {
    if (!reopenAfterSave()) {
      clear();
      return 1;
    }
  }
  state = kRecording;
  if (!recordStart()) {
    clear();
    return 1;
  }
  return 0;
}

}  // namespace vl
