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
#include "drawing/stroke_protocol.h"
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
  // The pen whose settings each recorded stroke takes (for a paper that was
  // replayed before it records).
  void setRecordStroke(const TStroke* stroke) { recordStroke = stroke; }
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

  // ---- replay ----
  // Takes a stream read from a file: the bytes, their steps, the file's
  // version byte and flags. The manager must be idle.
  bool loadStream(const std::vector<uint8_t>& bytes, int32_t steps, uint8_t version, uint16_t flags);
  // Prepares replay into this manager's (fresh) paper through the canvas's
  // flow image: 0 ready, 1 the stream does not begin with a paper (or no
  // memory), 3 a packet is broken, 5 protected where that is refused.
  int openForPlayback(TFlowImage& flow, bool refuseProtected = false);
  // One step: 0 go on, 1 paused, 2 the end, 3 an error.
  int playStep();
  // The rest of an open stroke at once, its step committed.
  void finishStroke();
  // Recording goes on after the replayed steps (stopped: replay ended early).
  bool resumeRecording(bool stopped);
  // Recording goes on after a stream loaded together with the picture it
  // made (a paper file), without replaying it: its steps are found by
  // walking its packets, a final end-of-recording step is dropped, the step
  // history takes `historyDepth` on both sides, and the recording start is
  // recorded. 0 recording; 1 the stream is broken, 2 it is protected (the
  // manager is then cleared and records nothing).
  int resumeAfterLoad(int32_t historyDepth);
  void setSlow(bool on) { slowReplay = on; }
  void setPaused(bool on) { paused = on; }
  bool isSlow() const { return slowReplay; }
  bool isPaused() const { return paused; }
  bool isReplaying() const { return state == kReplaying; }
  bool endReached() const { return endReplayed; }
  // Replayed steps against all steps, 0 … 100.
  float progress() const;
  int32_t PlayedSteps() const { return playedSteps; }
  uint32_t PlayPosition() const { return uint32_t(playPos); }
  // What the last step changed: 1 layers, 2 preview, 4 canvas, 8 layer window, 16 selection window.
  uint8_t RefreshBits() const { return refresh; }
  // The header (category × 256 + code) of the last packet replayed.
  uint16_t LastHeader() const { return lastHeader; }
  bool IsProtected() const { return protectedStream != 0; }
  uint8_t FileVersion() const { return fileVersion; }
  uint16_t FileFlags() const { return fileFlags; }
  // The largest paper a replayed stream may make (smaller for fuzzing).
  int32_t maxPaperSide = 10000;

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

  // Replay.
  struct Packet {
    uint8_t category = 0, code = 0;
    uint32_t at = 0;  // where its header is
    std::vector<uint8_t> payload;
  };
  // The packet at playPos, which then moves past it; false for a broken one.
  bool readPacket(Packet& p);
  // Runs one packet's operation; false when it fails.
  bool dispatch(const Packet& p);
  bool applyStatus(const Packet& p);
  bool playPaper(const Packet& p);
  bool playLayer(const Packet& p);
  bool playMask(const Packet& p);
  bool playImage(const Packet& p);
  // Replayed strokes.
  bool beginReplayedStroke(uint8_t category, int32_t layer);
  bool loadPoints(const Packet& p);
  void drawPoint(uint32_t i);
  void endReplayedStroke();
  void commitPlayed();

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

  // Replay state.
  TFlowImage* playFlow = nullptr;
  std::unique_ptr<TStroke> playStroke;
  StrokeSession playSession;
  uint32_t lastPlayTime = 0;
  int64_t playPos = 0;
  uint32_t playCommitted = 0;
  int32_t playedSteps = 0;
  uint32_t playPointIndex = 0;
  uint32_t playPointCount = 0;
  float playPoints[16][3] = {};
  int32_t playerVersion = 200;
  uint8_t refresh = 0;
  uint16_t lastHeader = 0;
  int32_t statusLayer = -1;  // the layer of the last status 8
  bool slowReplay = false, paused = false, startsWithPaper = false, endReplayed = false;
  bool replayStrokeOpen = false, pointByPoint = false, lastPacketRead = false, forcedStroke = false;
  uint8_t strokeCompat = 2;
  std::vector<uint8_t> recorderBlock;
  std::vector<uint8_t> auxImage1, auxImage2, rangeParams;
};

// The 28-byte block written as info 16; the player keeps it unread.
extern const uint8_t kRecorderBlock[28];

}  // namespace vl
