#pragma once
// Replay of the oldest event streams: each packet runs a paper operation of
// the legacy drawing generation, where layers keep their own eight-step
// undo and the pens paint as the oldest drawings were painted.
#include <cstdint>
#include <functional>
#include <string>

#include "document/paper.h"
#include "drawing/stroke.h"
#include "drawing/stroke_protocol.h"
#include "events/oldest_stream.h"
#include "events/replay_control.h"

namespace vl {

class OldestPlayer : public ReplayControl {
 public:
  // Its own pen: the oldest drawings never change the window's.
  OldestPlayer(TPaper& paper, TFlowImage& flow) : paper(paper), flow(flow) {}
  ~OldestPlayer() override;

  // Starts replaying a validated stream into the (fresh) paper: the legacy
  // generation, then the first packet makes the paper. 0 ready; 1 it could
  // not be made (Reason says why).
  int Open(const TEventPacket& stream, const std::string& name);
  // Every packet but the markers is one step; a stroke is drawn at once, or
  // point by point when slow. 0 go on, 1 paused, 2 the end, 3 an error.
  int playStep() override;
  void setSlow(bool on) override { slow = on; }
  bool isSlow() const override { return slow; }
  void setPaused(bool on) override { paused = on; }
  bool isPaused() const override { return paused; }
  bool canPause() const override { return false; }
  float progress() const override;
  int32_t PlayedSteps() const override { return played; }
  int32_t TotalSteps() const override { return int32_t(stream.OperationCount()); }
  uint8_t RefreshBits() const override { return refresh; }
  bool EndedStroke() const override { return endedStroke; }
  void finishStroke() override;
  // Slow replay of the oldest drawings is quicker than of the current ones.
  uint32_t SlowStepMs() const override { return 8; }

  // Ends the replay: an open stroke is finished and the paper returns to the
  // current generation. Also done on destruction.
  void Finish();
  bool Finished() const { return finished; }
  // Why the last step (or the open) failed, in the user's language.
  const std::string& Reason() const { return reason; }
  // The largest paper a replayed stream may make (smaller for fuzzing).
  int32_t maxPaperSide = kMaxPaperSide;
  // Layers the one-byte layer numbers of the stream can reach.
  static constexpr int32_t kMostLayers = 256;

 private:
  // The packet's operation; false with a reason when it fails.
  bool dispatch(const OldestPacket& p);
  bool beginStroke(const OldestPacket& p);
  void drawStrokePoint();
  void endStroke();
  // The layer a packet names, or a reason.
  CLayerData* layerOf(uint32_t index);
  bool fail(std::string why);
  bool failed();
  bool notYet(int what);
  // Skips markers; false at the end.
  bool nextOperation(size_t& index) const;

  TPaper& paper;
  TFlowImage& flow;
  TEventPacket stream;
  TStroke stroke;
  StrokeSession session;
  size_t next = 0;       // the packet to play
  size_t current = 0;    // the packet being played
  int32_t played = 0;
  // The stroke drawn point by point: its points and the next one.
  const uint8_t* strokePoints = nullptr;
  uint32_t strokePointCount = 0, strokePointNext = 0;
  bool strokeOpen = false;
  bool slow = false, paused = false, finished = true, endedStroke = false;
  uint8_t refresh = 0;
  std::string reason;
};

// A paper of its own that replays an oldest stream to its end, without a
// window; its layers keep their own undo as in a canvas.
class HeadlessOldestReplay {
 public:
  HeadlessOldestReplay();
  // 2 the end, 1 the paper could not be made, 3 an error (Reason says why);
  // every `frameEvery` steps (0: never) `frame` is told the steps played.
  int Play(const TEventPacket& stream, const std::string& name, int32_t frameEvery = 0,
           const std::function<bool(int32_t)>& frame = {});
  TPaper& Paper() { return paper; }
  OldestPlayer& Player() { return player; }

 private:
  TPaper paper;
  TFlowImage flow{paper};
  OldestPlayer player{paper, flow};
};

// The render mode for a .wpe file: 8 written, 9 a write failed, 10 not
// played, 11 protected (all sixteen markers).
int renderOldestFile(const std::string& eventFile, const std::string& outputFolder);
// --export of a .wpe stream or a .wpb paper; false with a one-line reason.
bool exportOldestFile(const std::string& input, const std::string& output, int32_t frames, std::string& reason,
                      const std::function<void(float)>& progress = {});

}  // namespace vl
