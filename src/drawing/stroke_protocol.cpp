#include "drawing/stroke_protocol.h"

#include <cmath>

#include "document/blend_modes.h"

namespace vl {
namespace {

void begin(TPaper& paper, TFlowImage& flow, TStroke& s, StrokeSession& session, float pressure, float y, float x,
           bool offsetForKind) {
  const CLayerData* layer = paper.layerAt(s.layerIndex);
  paper.loadLayerToFlow(flow, s.layerIndex, false);
  s.ResetForBegin(x, y, layer ? NeutralColour(layer->Mode()) : NeutralColour(kModeNormal));
  s.lockAlpha = layer && layer->maskLock;
  s.plainFinalCombine = paper.drawGeneration == DrawGeneration::Legacy && paper.playingBack;
  // The kinds' begin actions (watercolour's first sample, smudge's first tip,
  // the burn and dodge curve) take layer coordinates when offsetForKind is set.
  const float ox = offsetForKind ? float(flow.offsetX) : 0.0f, oy = offsetForKind ? float(flow.offsetY) : 0.0f;
  beginBrushKind(paper, s, flow.colour, pressure, y + oy, x + ox);
  // While the selection is in use, the current mask limits every write.
  MaskStage mask;
  if (paper.loadMaskToFlow(flow)) mask.values = &flow.maskValues;
  s.BuildChain(mask);
  paper.strokeLayer = s.layerIndex;
  paper.strokeFlow = &flow;
  paper.reseedDissolve = true;
  session.inProgress = true;
  session.pointCount = 0;
}

}  // namespace

void BeginStroke(TPaper& paper, TFlowImage& flow, TStroke& s, StrokeSession& session, bool record, float pressure,
                 float y, float x) {
  if (record) {
    paper.eventHook().StrokeBegin(s.layerIndex, s.forced);
    paper.eventHook().StrokePoint(x, y, pressure);
  }
  begin(paper, flow, s, session, pressure, y, x, false);
}

void BeginStrokeOffset(TPaper& paper, TFlowImage& flow, TStroke& s, StrokeSession& session, bool record,
                       float pressure, float y, float x) {
  if (record) {
    paper.eventHook().StrokeBegin(s.layerIndex, s.forced);
    paper.eventHook().StrokePoint(x, y, pressure);
  }
  begin(paper, flow, s, session, pressure, y, x, true);
}

void AddStrokePoint(TPaper& paper, TFlowImage& flow, TStroke& s, StrokeSession& session, bool record, float pressure,
                    float y, float x) {
  if (!session.inProgress) return;
  if (record) paper.eventHook().StrokePoint(x, y, pressure);
  ++session.pointCount;
  s.PushPoint({x, y, pressure});
  const CLayerData* layer = paper.layerAt(s.layerIndex);
  s.UpdateSegmentBounds(layer ? float(layer->offsetX) : 0.0f, layer ? float(layer->offsetY) : 0.0f);
  const int32_t dabsBefore = s.dabCount;
  s.dabBounds = {};
  if (paper.drawGeneration == DrawGeneration::Legacy) {
    drawSegmentLegacy(paper, flow, s);
  } else {
    drawSegmentCurrent(paper, flow, s);
  }
  // A segment that placed no dab changed nothing; one that did changed only
  // the pixels its dabs reach, so only those are rebuilt and recomposed.
  if (s.dabCount == dabsBefore) return;
  // The oldest drawings paint outside the dab dispatch: their whole segment counts.
  const bool legacy = paper.drawGeneration == DrawGeneration::Legacy;
  Bounds dirty = legacy ? s.SegmentArea().bounds() : intersect(s.SegmentArea().bounds(), s.dabBounds);
  dirty = {dirty.left & ~1, dirty.top & ~1, (dirty.right + 1) & ~1, (dirty.bottom + 1) & ~1};
  if (!dirty.empty()) RefreshStrokeRect(paper, flow, Area(dirty), s);
}

void RefreshStrokeRect(TPaper& paper, TFlowImage& flow, Area rect, TStroke& s) {
  if (rect.empty()) return;
  flow.MarkTouched(rect);
  rebuildCoverage(paper, flow, s, rect);
  const CLayerData* layer = paper.layerAt(s.layerIndex);
  const Area paperRect(rect.x - (layer ? layer->offsetX : 0), rect.y - (layer ? layer->offsetY : 0), rect.width,
                       rect.height);
  // Composed and shown when the window's next frame (or a reader) asks.
  paper.markCompositeStale(paperRect);
}

Area EndStroke(TPaper& paper, TFlowImage& flow, TStroke& s, StrokeSession& session, bool record) {
  const Area rect = s.StrokeArea();
  const CLayerData* layer = paper.layerAt(s.layerIndex);
  // The mark is cleared whatever happens below; the selection the stroke
  // painted through may change once it is over.
  session.inProgress = false;
  s.BuildChain(MaskStage{});
  // A stroke that reaches the layer is one step of the stream and one undo
  // record; one that does not leaves neither.
  Area onLayer = rect;
  const bool changes = layer && layer->pixels && layer->pixels->ClipArea(onLayer);
  if (record) paper.eventHook().StrokeEnd(changes);
  paper.strokeLayer = -1;
  paper.strokeFlow = nullptr;
  paper.reseedDissolve = false;
  // Undo keeps the layer's pixels from before the commit.
  if (record && changes) paper.pushStrokeUndo(s.layerIndex, rect, &flow);
  Area paperRect;
  if (layer) paperRect = Area(rect.x - layer->offsetX, rect.y - layer->offsetY, rect.width, rect.height);
  // The thumbnail pixels that read what the stroke touched, found while the
  // flow still knows it.
  const std::vector<Area> thumbRuns =
      layer && !rect.empty() ? paper.strokeThumbRuns(s.layerIndex, flow) : std::vector<Area>();
  // An empty stroke, or one whose layer is gone, still leaves the coverage
  // clean for the next one.
  paper.commitFlowRect(flow, s.layerIndex, true, rect);
  if (layer && !rect.empty()) paper.markModified();
  if (!layer || rect.empty()) return {};
  // What the segments marked is composed from the committed layer when it is
  // next looked at. Dissolving layers, drawn from a clock-seeded state while
  // the stroke ran, are recomposed from their stored state over the whole
  // stroke, so no such pattern stays on screen.
  bool dissolving = false;
  for (int32_t i = 0; i < paper.layerCount(); ++i) {
    const CLayerData* l = paper.layerAt(i);
    dissolving = dissolving || (l->visible && l->opacity && l->dissolve);
  }
  if (dissolving) paper.markCompositeStale(paperRect);
  if (thumbRuns.empty()) {
    paper.updateLayerThumb(false, s.layerIndex, paperRect);
  } else {
    paper.deferThumbRuns(s.layerIndex, thumbRuns);
  }
  return paperRect;
}

bool StrokeInput::Move(TPaper& paper, TFlowImage& flow, TStroke& s, float x, float y, float pressure,
                       bool modifiersHeld, bool replaying) {
  // A stroke drawn by a tool runs while modifier keys are held and during replay.
  if (!s.forced && (replaying || modifiersHeld)) return false;
  if (!session.inProgress) {
    s.layerIndex = paper.currentLayerIndex();
    BeginStrokeOffset(paper, flow, s, session, true, pressure, y, x);
    return true;
  }
  if (session.pointCount >= kMaxStrokePoints) {
    EndStroke(paper, flow, s, session, true);
    return false;
  }
  if (session.pointCount >= 2) {
    const float threshold = paper.zoomLevel == -2 ? 4.0f : paper.zoomLevel == -1 ? 3.0f : 2.0f;
    const float dx = x - s.history[0].x, dy = y - s.history[0].y;
    if (std::sqrt(dx * dx + dy * dy) <= threshold) return false;
  }
  AddStrokePoint(paper, flow, s, session, true, pressure, y, x);
  return true;
}

Area StrokeInput::Release(TPaper& paper, TFlowImage& flow, TStroke& s, float x, float y, bool replaying) {
  if (replaying && !s.forced) return {};
  if (!session.inProgress) return {};
  AddStrokePoint(paper, flow, s, session, true, 0.0f, y, x);
  return EndStroke(paper, flow, s, session, true);
}

}  // namespace vl
