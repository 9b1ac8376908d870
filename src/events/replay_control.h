#pragma once
// What a canvas window drives a replay through, whichever generation of
// stream it plays: steps, pause, slow replay and progress.
#include <cstdint>

namespace vl {

class CEventMngr;

class ReplayControl {
 public:
  virtual ~ReplayControl() = default;
  // One step: 0 go on, 1 paused, 2 the end, 3 an error.
  virtual int playStep() = 0;
  virtual void setSlow(bool on) = 0;
  virtual bool isSlow() const = 0;
  virtual void setPaused(bool on) = 0;
  virtual bool isPaused() const = 0;
  // Whether the stream's generation offers pause and resume.
  virtual bool canPause() const = 0;
  // Played steps against all steps, 0 … 100.
  virtual float progress() const = 0;
  virtual int32_t PlayedSteps() const = 0;
  virtual int32_t TotalSteps() const = 0;
  // What the last step changed: 1 layers, 2 preview, 4 canvas, 8 layer window, 16 selection window.
  virtual uint8_t RefreshBits() const = 0;
  // Whether the last step finished a stroke.
  virtual bool EndedStroke() const = 0;
  // The rest of an open stroke at once.
  virtual void finishStroke() = 0;
  // Milliseconds between two steps of a slow replay.
  virtual uint32_t SlowStepMs() const = 0;
};

// The player of the current streams seen through that interface.
class CurrentReplayControl : public ReplayControl {
 public:
  CurrentReplayControl(CEventMngr& events, int32_t totalSteps) : events(events), total(totalSteps) {}
  int playStep() override;
  void setSlow(bool on) override;
  bool isSlow() const override;
  void setPaused(bool on) override;
  bool isPaused() const override;
  bool canPause() const override { return true; }
  float progress() const override;
  int32_t PlayedSteps() const override;
  int32_t TotalSteps() const override { return total; }
  uint8_t RefreshBits() const override;
  bool EndedStroke() const override;
  void finishStroke() override;
  uint32_t SlowStepMs() const override { return 20; }

 private:
  CEventMngr& events;
  int32_t total;
};

}  // namespace vl
