#pragma once
// The paper's event stream: every operation recorded as packets into a chain
// of fixed segments, grouped into steps that move with undo and redo. The
// player (in the same class) reads the stream back and runs the same
// operations with recording off.
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "document/paper.h"
#include "document/paper_hooks.h"
#include "events/packets.h"
#include "pixel/containers.h"
#include "platform/clock.h"

namespace vl {

class TStroke;

class CEventMngr : public PaperEventHook {
 public:
  static constexpr uint32_t kSegmentSize = 65536;
  // Every offset fits the types that hold it: the player's position is signed 32-bit.
  static constexpr uint32_t kMaxStream = 0x7FFFFFFFu;
  // Points of one stroke the stroke engine accepts.
  static constexpr int32_t kMaxStrokePoints = 60000;

  enum State : uint8_t { kIdle = 0, kRecording = 1, kReplaying = 2, kClosed = 3 };

  CEventMngr(TPaper& paper, uint32_t segmentSize = kSegmentSize, uint32_t budget = 1048576);
  ~CEventMngr() override;

  // Clears the stream, sizes the step history (both sides at least 8),
  // makes the first segment, records the version and starts recording with
  // the pen whose settings each stroke records.
  bool start(const TStroke* stroke, int32_t undoDepth, int32_t redoDepth);
  // Drops everything; nothing is recorded afterwards.
  void clear();
  bool isRecording() const { return state == kRecording; }
  bool hasData() const { return steps.IsReady() && !segments.empty(); }
  bool canSave() const { return hasData() && isRecording(); }
  State GetState() const { return State(state); }
  // Resizes both sides of the step history, keeping the most recent steps.
  bool setHistoryDepth(int32_t depth);

  // The basic snapshot, the time, the recorder block and the start packet.
  bool recordStart();
  // The end-of-recording packet; recording closes.
  bool recordEnd();

  // PaperEventHook.
  bool Recording() const override { return isRecording(); }
  bool Record(EventPacket&& packet) override;
  void PaperCreated(int32_t width, int32_t height, int32_t resolution) override;
  void StrokeBegin(int32_t layer, bool forced) override;
  void StrokePoint(float x, float y, float pressure) override;
  void StrokeEnd(bool changed) override;
  int32_t EventCount() const override { return undoCount(); }
  bool UndoLast() override { return undoStep(); }
  bool RedoLast() override { return redoStep(); }
  void ClearHistory() override;

  // Steps.
  int32_t undoCount() const { return steps.BackCount(); }
  int32_t redoCount() const { return steps.ForwardCount() > 0 ? steps.ForwardCount() - 1 : 0; }
  bool undoStep();
  bool redoStep();
  void clearRedo();

  // Saving: the end packet closes the stream for the file, and goes again after it.
  bool closeForSave();
  bool reopenAfterSave();
  // The committed bytes in order.
  bool writeStream(std::vector<uint8_t>& out) const;

  // Walks every packet: with check, whether any status 12 packet has `bit`
  // (and imageCount := the image packets); without, sets (value 1) or clears
  // (0) that bit in every status 12 packet. False when a packet is invalid.
  bool scanStatusFlags(bool check, int value, uint16_t bit, bool& found);

  uint32_t WritePos() const { return writePos; }
  uint32_t CommittedEnd() const { return committedEnd; }
  int32_t StepCount() const { return stepCount; }
  int32_t ImageCount() const { return imageCount; }
  // Bytes of the stream at offset; false past the written end.
  bool ReadAt(uint32_t offset, void* out, uint32_t n) const;
  // The payload size of the packet at offset, −1 when it is invalid or runs past the written end.
  int64_t PayloadSizeAt(uint32_t offset) const;

 private:
  // Appends bytes at writePos, adding segments as needed; false (writePos
  // unchanged) when the stream cannot hold them.
  bool append(const void* data, uint32_t n);
  // One packet; commits its step when its category commits.
  bool writePacket(uint8_t category, uint8_t code, const uint8_t* payload, uint32_t n);
  void commitStep();
  // A write failed: recording stops for this paper, and the user is told.
  void recordingFailed();
  // Clears the valid bits of the status packets in [from, to) and forgets
  // tone definitions written there.
  void forgetRange(uint32_t from, uint32_t to);
  // 0 nothing to record, 1 recorded, 2 the write failed.
  int recordStatus(uint8_t code, const std::vector<uint8_t>& payload);
  bool basicSnapshot();
  bool penSnapshot();

  TPaper& paper;
  const TStroke* recordStroke = nullptr;
  uint8_t state = kIdle;
  uint8_t resumed = 0;
  uint8_t protectedStream = 0;
  uint8_t fileVersion = 17;
  uint16_t fileFlags = 0;
  uint32_t segmentSize;
  std::vector<std::unique_ptr<CMemSeg>> segments;
  CRingBufDWORD steps;
  uint32_t capacity = 0;
  uint32_t writePos = 0;
  uint32_t committedEnd = 0;
  int32_t stepCount = 0;
  uint32_t validBits = 0;
  // The last recorded payload of each status item.
  std::map<uint8_t, std::vector<uint8_t>> statusCopies;
  // Recording: tone id → where its definition was written.
  std::map<uint32_t, uint32_t> toneMap;
  UtcTime startTime;
  // The stroke in progress: its head, its counts, the point buffer and the
  // packets it has filled so far.
  bool strokeOpen = false;
  bool strokeForced = false;
  int32_t strokeLayer = 0, strokeMask = 0;
  std::vector<uint8_t> pending;
  int32_t strokePointCount = 0;
  int32_t strokePacketCount = 0;
  uint32_t pointCount = 0;
  float pointBuffer[16][3] = {};
  int32_t imageCount = 0;
};

// The 28-byte block written as info 16; the player keeps it unread.
extern const uint8_t kRecorderBlock[28];

}  // namespace vl
