#include "events/oldest_player.h"

#include <algorithm>

#include "document/blend_modes.h"
#include "events/event_manager.h"
#include "platform/strings.h"
#include "undo/undo_manager.h"

namespace vl {
namespace {

using namespace oldest;

uint32_t u16At(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
int32_t i16At(const uint8_t* p) { return int32_t(int16_t(u16At(p))); }

// A recorded point: x, y and pressure × 1024. Pressures beyond 0 … 1 come
// only from damaged streams.
struct Point3 {
  float x, y, pressure;
};
Point3 pointAt(const uint8_t* p) {
  return {float(i16At(p)), float(i16At(p + 2)), std::clamp(float(i16At(p + 4)) / 1024.0f, 0.0f, 1.0f)};
}

}  // namespace

OldestPlayer::~OldestPlayer() { Finish(); }

bool OldestPlayer::fail(std::string why) {
  reason = std::move(why);
  return false;
}

// An operation that should have worked did not (memory, most likely).
bool OldestPlayer::failed() {
  return fail(formatMessage(text(TextId::OldestStepFailed), {int64_t(current + 1), int64_t(stream.At(current).code)}));
}

bool OldestPlayer::notYet(int what) {
  const TextId names[] = {TextId::OldestOpFill, TextId::OldestOpGradation, TextId::OldestOpCanvasSize,
                          TextId::OldestOpResize, TextId::OldestOpRotate};
  return fail(formatMessage(text(TextId::OldestNotYetPlayable),
                            {text(names[what]), int64_t(stream.At(current).code)}));
}

CLayerData* OldestPlayer::layerOf(uint32_t index) {
  CLayerData* l = paper.layerAt(int32_t(index));
  if (!l || !l->pixels) {
    fail(formatMessage(text(TextId::OldestNoLayer),
                       {int64_t(current + 1), int64_t(stream.At(current).code), int64_t(index)}));
    return nullptr;
  }
  return l;
}

bool OldestPlayer::nextOperation(size_t& index) const {
  for (index = next; index < stream.Count(); ++index)
    if (!isMarker(stream.At(index).code)) return true;
  return false;
}

float OldestPlayer::progress() const {
  const size_t total = stream.OperationCount();
  return total ? float(played) * 100.0f / float(total) : 0.0f;
}

int OldestPlayer::Open(const TEventPacket& s, const std::string& name) {
  Finish();
  stream = s;
  next = current = 0;
  played = 0;
  reason.clear();
  refresh = 0;
  paused = false;
  paper.name = name;
  // What the paper recorded so far cannot go on after an oldest stream,
  // and nothing of the replay is recorded.
  if (auto* events = dynamic_cast<CEventMngr*>(&paper.eventHook())) events->clear();
  paper.setDrawGeneration(flow, DrawGeneration::Legacy);
  paper.playingBack = true;
  finished = false;
  size_t first = 0;
  if (!nextOperation(first) || (stream.At(first).code != kNewPaper && stream.At(first).code != kNewPaper2)) {
    fail(formatMessage(text(TextId::OldestStepFailed), {int64_t(1), int64_t(first < stream.Count() ? stream.At(first).code : 0)}));
    Finish();
    return 1;
  }
  current = first;
  next = first + 1;
  if (!dispatch(stream.At(first))) {
    Finish();
    return 1;
  }
  // Set after the paper is made: a new paper starts unprotected.
  paper.eventProtected = stream.IsProtected() ? 1 : 0;
  ++played;
  refresh = 1 | 2 | 4 | 8;
  return 0;
}

int OldestPlayer::playStep() {
  if (finished) return 2;
  if (paused) return 1;
  refresh = 0;
  endedStroke = false;
  size_t index = 0;
  if (!strokeOpen) {
    if (!nextOperation(index)) return 2;
    current = index;
    next = index + 1;
    const OldestPacket& p = stream.At(index);
    if (p.code <= kStrokeLast) {
      if (!beginStroke(p)) return 3;
      // A slow replay draws the points a step at a time.
      if (slow && strokePointCount > 0) return 0;
    } else {
      if (!dispatch(p)) return 3;
      ++played;
      return nextOperation(index) ? 0 : 2;
    }
  }
  if (slow) {
    if (strokePointNext < strokePointCount) drawStrokePoint();
    if (strokePointNext < strokePointCount) return 0;
  } else {
    while (strokePointNext < strokePointCount) drawStrokePoint();
  }
  endStroke();
  ++played;
  return nextOperation(index) ? 0 : 2;
}

void OldestPlayer::finishStroke() {
  if (!strokeOpen) return;
  while (strokePointNext < strokePointCount) drawStrokePoint();
  endStroke();
  ++played;
}

void OldestPlayer::Finish() {
  if (finished) return;
  finishStroke();
  finished = true;
  paper.playingBack = false;
  paper.setDrawGeneration(flow, DrawGeneration::Current);
}

bool OldestPlayer::beginStroke(const OldestPacket& p) {
  const uint8_t* q = stream.Payload(p);
  if (!layerOf(q[0])) return false;
  // The pen as the stream gives it: colour, switches and six values in
  // 1/256; everything else at the kind's defaults (opacity 1, no tone).
  stroke.ResetDefaults(p.code);
  stroke.layerIndex = q[0];
  stroke.colour = uint32_t(q[1]) << 16 | uint32_t(q[2]) << 8 | q[3];
  stroke.sizeByPressure = (q[4] & 1) != 0;
  stroke.opacityByPressure = (q[4] & 2) != 0;
  stroke.softEdge = (q[4] & 4) != 0;
  float* const values[] = {&stroke.minSize, &stroke.width, &stroke.gamma,
                           &stroke.effect,  &stroke.env,   &stroke.speed};
  for (int i = 0; i < 6; ++i) *values[i] = float(u16At(q + 5 + 2 * i)) / 256.0f;
  const Point3 first = pointAt(q + kPenSettingsBytes);
  strokePointCount = u16At(q + kPenSettingsBytes + kPointBytes);
  strokePoints = q + kPenSettingsBytes + kPointBytes + 2;
  strokePointNext = 0;
  session = {};
  BeginStroke(paper, flow, stroke, session, false, first.pressure, first.y, first.x);
  strokeOpen = true;
  refresh |= 1 | 4;
  return true;
}

void OldestPlayer::drawStrokePoint() {
  const Point3 pt = pointAt(strokePoints + size_t(strokePointNext) * kPointBytes);
  ++strokePointNext;
  AddStrokePoint(paper, flow, stroke, session, false, pt.pressure, pt.y, pt.x);
  refresh |= 1 | 4;
}

void OldestPlayer::endStroke() {
  // The layer's own undo keeps what the stroke covers, as a stroke's end
  // hands it to undo in a drawing of today.
  paper.pushUndoRect(stroke.layerIndex, stroke.StrokeArea());
  EndStroke(paper, flow, stroke, session, false);
  strokeOpen = false;
  endedStroke = true;
  refresh |= 1 | 2 | 4 | 8;
}

bool OldestPlayer::dispatch(const OldestPacket& p) {
  const uint8_t* q = stream.Payload(p);
  refresh |= 1 | 2 | 4 | 8;
  // Commands on one layer keep its pixels in its own undo first.
  auto layerChange = [&](auto&& change) {
    if (!layerOf(q[0])) return false;
    paper.pushUndoLayer(q[0]);
    return change() || failed();
  };
  const bool roomForLayer = paper.layerCount() < kMostLayers;
  auto tooManyLayers = [&] {
    return fail(formatMessage(text(TextId::OldestTooManyLayers),
                              {int64_t(current + 1), int64_t(p.code), int64_t(kMostLayers)}));
  };
  switch (p.code) {
    case kNewPaper:
    case kNewPaper2: {
      const int32_t w = int32_t(u16At(q)), h = int32_t(u16At(q + 2));
      if (w > maxPaperSide || h > maxPaperSide) return failed();
      return paper.newPaper(flow, paper.name, 0, h, w) || failed();
    }
    case kPaperColour:
      return paper.setPaperColor(uint32_t(q[0]) << 16 | uint32_t(q[1]) << 8 | q[2], false);
    case kAddLayer:
      if (!roomForLayer) return tooManyLayers();
      return paper.insertLayer(flow, q[0], true, 255, kModeMultiply, paper.width, paper.height, false) >= 0 ||
             failed();
    case kDeleteLayer:
      // The last layer stays, as the command refuses to remove it.
      if (!layerOf(q[0])) return false;
      paper.deleteLayer(flow, q[0], false);
      return true;
    case kMergeVisible:
      // Refused (nothing happens) unless two layers show and share a mode.
      paper.mergeVisibleOldest(flow);
      return true;
    case kCopyLayer:
      if (!layerOf(q[0])) return false;
      if (!roomForLayer) return tooManyLayers();
      return paper.duplicateLayer(flow, q[0], false) >= 0 || failed();
    case kMoveLayer:
      if (!layerOf(q[0])) return false;
      paper.moveLayer(flow, q[0], q[1], false);
      return true;
    case kMergeDown:
      if (!layerOf(q[0])) return false;
      return q[0] == 0 || paper.mergeDownOldest(flow, q[0]) || failed();
    case kUndo:
      if (!layerOf(q[0])) return false;
      paper.undoLayerStep(flow, q[0]);  // nothing kept: nothing to undo
      return true;
    case kSelectLayer:
      return layerOf(q[0]) && paper.setCurrentLayer(flow, q[0]);
    case kLayerVisible:
      return layerOf(q[0]) && paper.setLayerVisible(q[0], q[1] != 0, false);
    case kLayerOpacity:
      return layerOf(q[0]) && paper.setLayerOpacity(q[0], q[1], false);
    case kLayerMode:
      if (!layerOf(q[0])) return false;
      return paper.setLayerMode(q[0], q[1], false) || failed();
    case kFlipVisibility:
      return layerOf(q[0]) && paper.flipVisibility(q[0]);
    case kLayerFlipHorizontal:
      return layerChange([&] { return paper.layerCommand(flow, q[0], 7, false); });
    case kLayerFlipVertical:
      return layerChange([&] { return paper.layerCommand(flow, q[0], 8, false); });
    case kLayerRotate180:
      return layerChange([&] { return paper.layerCommand(flow, q[0], 10, false); });
    case kLayerNegate:
      return layerChange([&] { return paper.layerCommand(flow, q[0], 9, false); });
    case kClearLayer:
      return layerChange([&] { return paper.clearLayer(flow, q[0], false); });
    case kOffsetLayer:
      return layerChange([&] { return paper.offsetInPlace(flow, q[0], i16At(q + 1), i16At(q + 3)); });
    case kClearUndo:
      for (int32_t i = 0; i < paper.layerCount(); ++i) paper.clearLayerUndo(i);
      return true;
    case kSetting:
      return true;  // a setting of the program that made the stream; the picture does not depend on it
    case kFlipHorizontal: return paper.transformVisible(flow, 12, false) || failed();
    case kFlipVertical: return paper.transformVisible(flow, 13, false) || failed();
    case kRotate180: return paper.transformVisible(flow, 15, false) || failed();
    case kNegate: return paper.transformVisible(flow, 14, false) || failed();
    case kFillColour:
    case kFillRectangle:
    case kFillRectangle2:
    case kFillPolygon:
    case kFillPolygon2: return notYet(0);
    case kGradation: return notYet(1);
    case kCanvasSize: return notYet(2);
    case kResize: return notYet(3);
    case kRotateClockwise:
    case kRotateCounterClockwise: return notYet(4);
    default: return failed();
  }
}

HeadlessOldestReplay::HeadlessOldestReplay() {
  // Undo of the paper itself stays off; the layers' own undo comes from here.
  paper.setUndoHook(std::make_unique<CUndoMngrEx>(paper, CUndoMngrEx::kSpare, 0, 0));
}

int HeadlessOldestReplay::Play(const TEventPacket& stream, const std::string& name, int32_t frameEvery,
                               const std::function<bool(int32_t)>& frame) {
  if (player.Open(stream, name) != 0) return 1;
  int r = 0;
  int32_t nextFrame = frameEvery;
  while ((r = player.playStep()) == 0) {
    if (frameEvery > 0 && frame && player.PlayedSteps() >= nextFrame) {
      if (!frame(player.PlayedSteps())) {
        r = 3;
        break;
      }
      nextFrame += frameEvery;
    }
  }
  player.Finish();
  return r;
}

}  // namespace vl
