#include "events/replay_control.h"

#include "events/event_manager.h"

namespace vl {

int CurrentReplayControl::playStep() { return events.playStep(); }
void CurrentReplayControl::setSlow(bool on) { events.setSlow(on); }
bool CurrentReplayControl::isSlow() const { return events.isSlow(); }
void CurrentReplayControl::setPaused(bool on) { events.setPaused(on); }
bool CurrentReplayControl::isPaused() const { return events.isPaused(); }
float CurrentReplayControl::progress() const { return events.progress(); }
int32_t CurrentReplayControl::PlayedSteps() const { return events.PlayedSteps(); }
uint8_t CurrentReplayControl::RefreshBits() const { return events.RefreshBits(); }
bool CurrentReplayControl::EndedStroke() const { return (events.LastHeader() >> 8) == kCatStrokeLast; }
void CurrentReplayControl::finishStroke() { events.finishStroke(); }

}  // namespace vl
