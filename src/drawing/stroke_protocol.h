#pragma once
// The stroke protocol of a paper: begin, add point, end, and the refresh of
// the touched rectangle while the stroke grows; plus what a canvas window
// does with pointer input before it reaches the protocol.
#include "document/paper.h"
#include "drawing/stroke.h"

namespace vl {

// The window's side of a stroke.
struct StrokeSession {
  bool inProgress = false;
  int32_t pointCount = 0;
};

inline constexpr int32_t kMaxStrokePoints = 60001;

void BeginStroke(TPaper& paper, TFlowImage& flow, TStroke& s, StrokeSession& session, bool record, float pressure,
                 float y, float x);
// The same, giving the kind's begin action layer coordinates.
void BeginStrokeOffset(TPaper& paper, TFlowImage& flow, TStroke& s, StrokeSession& session, bool record,
                       float pressure, float y, float x);
void AddStrokePoint(TPaper& paper, TFlowImage& flow, TStroke& s, StrokeSession& session, bool record, float pressure,
                    float y, float x);
// Commits the stroke into its layer; returns the changed rectangle in paper
// coordinates (empty when nothing was drawn).
Area EndStroke(TPaper& paper, TFlowImage& flow, TStroke& s, StrokeSession& session, bool record);
// Rebuilds the flow colour of a rectangle given in layer pixels and marks
// it for composing; the window shows it at its next frame.
void RefreshStrokeRect(TPaper& paper, TFlowImage& flow, Area rect, TStroke& s);

// Pointer input of a canvas window.
class StrokeInput {
 public:
  // A move to a paper point: begins a stroke, adds a point, or drops it when
  // it lies within the zoom's threshold of the last one. False when refused.
  bool Move(TPaper& paper, TFlowImage& flow, TStroke& s, float x, float y, float pressure, bool modifiersHeld,
            bool replaying);
  // Button release: a last point at pressure 0, then the end. Returns the
  // changed paper rectangle.
  Area Release(TPaper& paper, TFlowImage& flow, TStroke& s, float x, float y, bool replaying);
  StrokeSession session;
};

}  // namespace vl
