// What the oldest drawings need of a paper: their drawing generation, the
// eight-step undo each of their layers keeps, and their merge down.
#include "document/blend_modes.h"
#include "document/paper.h"

namespace vl {

void TPaper::setDrawGeneration(TFlowImage& flow, DrawGeneration generation) {
  if (generation == drawGeneration) return;
  drawGeneration = generation;
  if (generation == DrawGeneration::Legacy) {
    // Nothing of the paper-wide history fits the oldest operations.
    clearUndo();
    return;
  }
  layers.DropOwnUndo();
  for (int32_t i = 0; i < layers.Count(); ++i) layers.At(i)->SetAlpha(255);
  undo->Clear();
  recomposeAll(true);
  loadLayerToFlow(flow, layers.Current(), true);
  layersChanged();
}

bool TPaper::pushUndoRect(int32_t layer, Area rect) {
  CLayerData* l = layers.At(layer);
  if (drawGeneration != DrawGeneration::Legacy || !l || !l->pixels || !l->wantsOwnUndo) return false;
  // A layer gets its undo when it first needs it.
  if (!l->ownUndo) l->ownUndo = undo->MakeLayerUndo();
  return l->ownUndo && l->ownUndo->PushRect(*l->pixels, rect);
}

bool TPaper::pushUndoLayer(int32_t layer) {
  const CLayerData* l = layers.At(layer);
  return l && l->pixels && pushUndoRect(layer, Area(l->pixels->size()));
}

bool TPaper::undoLayerStep(TFlowImage& flow, int32_t layer) {
  CLayerData* l = layers.At(layer);
  if (!l || !l->pixels || !l->ownUndo) return false;
  loadLayerToFlow(flow, layer, false);
  Area rect;
  if (!l->ownUndo->UndoRect(*l->pixels, rect)) return false;
  // The flow buffer holds the layer image at its origin.
  commitFlowRect(flow, layer, false, rect);
  const Area paperRect(rect.x - l->offsetX, rect.y - l->offsetY, rect.width, rect.height);
  markModified();
  recomposeRect(paperRect, true);
  updateLayerThumb(false, layer, paperRect);
  invalidatePaperRect(paperRect);
  return true;
}

void TPaper::clearLayerUndo(int32_t layer) {
  if (CLayerData* l = layers.At(layer); l && l->ownUndo) l->ownUndo->Clear();
}

bool TPaper::mergeDownOldest(TFlowImage& flow, int32_t layer) {
  CLayerData* lower = layers.At(layer - 1);
  const CLayerData* upper = layers.At(layer);
  if (!lower || !upper || !lower->pixels || !upper->pixels) return false;
  // The paper part of the lower layer with the upper one composed onto it
  // by its ink; the lower layer keeps its alpha, mode and opacity.
  TMTC buf;
  if (!buf.Resize(width, height)) return false;
  const Area window(lower->offsetX, lower->offsetY, width, height);
  lower->pixels->ReadInto(buf, {0, 0}, false, 255, window);
  ComposeParams p;
  p.mode = upper->Mode();
  p.opacity = upper->opacity;
  p.legacy = true;
  composeImage(buf, {0, 0}, *upper->pixels, Area(upper->offsetX, upper->offsetY, width, height), p);
  if (!lower->pixels->WriteFrom(buf, {window.x, window.y}, 255, buf.area())) return false;
  lower->pixels->Compact();
  if (lower->thumbnail.IsAllocated()) lower->RenderThumbnail();
  layers.Delete(layer);
  layers.SetCurrent(layer - 1);
  markModified();
  afterStructureChange(flow);
  return true;
}

}  // namespace vl
