// Replay: the stream read back packet by packet, each calling the paper
// operation that recorded it, with recording off. Every field a packet
// brings is checked before it is used; a packet that does not hold together
// ends the replay with an error, never with undefined behaviour.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <span>

#include "document/blend_modes.h"
#include "drawing/stroke.h"
#include "events/event_manager.h"
#include "platform/strings.h"
#include "platform/ui_services.h"

namespace vl {
namespace {

// Largest payload a replayed packet may have: a whole 10000 × 10000 image
// packet with its head, attributes and a name.
constexpr uint64_t kMaxPacketPayload = uint64_t(10000) * 10000 * 4 + (1u << 20);

// Reads little-endian fields; any read past the end marks it failed.
class Fields {
 public:
  Fields(const std::vector<uint8_t>& b, size_t from = 0) : p(b.data()), n(b.size()), at(from) {}
  uint32_t u8() { return take(1) ? p[at - 1] : 0; }
  uint32_t u16() { return take(2) ? uint32_t(p[at - 2]) | uint32_t(p[at - 1]) << 8 : 0; }
  uint32_t u32() {
    if (!take(4)) return 0;
    const uint8_t* q = p + at - 4;
    return uint32_t(q[0]) | uint32_t(q[1]) << 8 | uint32_t(q[2]) << 16 | uint32_t(q[3]) << 24;
  }
  int32_t i32() { return int32_t(u32()); }
  float f32() {
    const uint32_t b = u32();
    float f;
    std::memcpy(&f, &b, 4);
    return f;
  }
  // A colour as blue, green, red and a zero byte.
  uint32_t colour() {
    const uint32_t b = u8(), g = u8(), r = u8();
    u8();
    return r << 16 | g << 8 | b;
  }
  void skip(size_t k) { take(k); }
  const uint8_t* bytes(size_t k) { return take(k) ? p + at - k : nullptr; }
  // A name in a field of `k` bytes: up to its terminator, which must be there.
  bool name(size_t k, std::string& out) {
    const uint8_t* b = bytes(k);
    if (!b) return false;
    const void* z = std::memchr(b, 0, k);
    if (!z) return ok = false;
    out.assign(reinterpret_cast<const char*>(b), size_t(static_cast<const uint8_t*>(z) - b));
    return true;
  }
  bool ok = true;
  size_t remaining() const { return n - at; }

 private:
  bool take(size_t k) {
    if (!ok || k > n - at) return ok = false;
    at += k;
    return true;
  }
  const uint8_t* p;
  size_t n;
  size_t at;
};

// Which index of a layer field is a layer: valid, and never the "keep" 0xFFFF.
bool layerIndex(const TPaper& paper, uint32_t v, int32_t& out) {
  out = int32_t(v);
  return v < 0xFFFF && paper.layerAt(out) != nullptr;
}

}  // namespace

// ---- opening ----

bool CEventMngr::loadStream(const std::vector<uint8_t>& bytes, int32_t stepsInFile, uint8_t version, uint16_t flags) {
  clear();
  if (bytes.size() > kMaxStream) return false;
  // The history after a replay needs no more than the deepest undo allows.
  if (!steps.Setup(std::clamp(stepsInFile, 0, 999) + 34, 8)) return false;
  if (!append(bytes.data(), uint32_t(bytes.size()))) {
    clear();
    return false;
  }
  committedEnd = writePos;
  stepCount = std::max(stepsInFile, 0);
  fileVersion = version;
  fileFlags = flags;
  return true;
}

int CEventMngr::openForPlayback(TFlowImage& flow, bool refuseProtected) {
  if (state != kIdle || writePos == 0) return 1;
  playStroke.reset(new (std::nothrow) TStroke);
  if (!playStroke) return 1;
  playFlow = &flow;
  toneMap.clear();
  bool marked = false;
  if (!scanStatusFlags(true, 0, kFlagProtected, marked)) {
    ui().Warning(text(TextId::PacketError));
    return 3;
  }
  if (marked && refuseProtected) return 5;
  protectedStream = marked ? 1 : 0;
  paper.eventProtected = protectedStream;
  // The recording that follows begins from a clean history.
  steps.Reset();
  validBits = 0;
  statusCopies.clear();
  playPos = 0;
  playCommitted = 0;
  playedSteps = 0;
  playerVersion = 200;
  state = kReplaying;
  paper.playingBack = true;
  lastPlayTime = appClock().Milliseconds();
  // The first step must make the paper.
  Packet p;
  while (readPacket(p)) {
    if (p.category == kCatStatus || p.category == kCatInfo) {
      if (!dispatch(p)) break;
      continue;
    }
    if (p.category == kCatPaper && (p.code == kPaperCreated || p.code == kPaperCreatedOld) && dispatch(p)) {
      commitPlayed();
      startsWithPaper = true;
      return 0;
    }
    break;
  }
  state = kIdle;
  paper.playingBack = false;
  return 1;
}

bool CEventMngr::readPacket(Packet& p) {
  if (playPos < 0 || uint64_t(playPos) >= writePos) return false;
  const uint32_t at = uint32_t(playPos);
  const int64_t size = PayloadSizeAt(at);
  if (size < 0 || uint64_t(size) > kMaxPacketPayload) return false;
  uint8_t head[2];
  if (!ReadAt(at, head, 2)) return false;
  try {
    p.payload.resize(size_t(size));
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (size > 0 && !ReadAt(at + 2, p.payload.data(), uint32_t(size))) return false;
  p.category = head[0];
  p.code = head[1];
  p.at = at;
  playPos = int64_t(at) + 2 + size;
  lastPlayTime = appClock().Milliseconds();
  return true;
}

void CEventMngr::commitPlayed() {
  steps.PushValue(playCommitted);
  ++playedSteps;
  playCommitted = uint32_t(playPos);
}

float CEventMngr::progress() const {
  if (stepCount <= 0) return 0;
  return std::clamp(float(playedSteps) * 100.0f / float(stepCount), 0.0f, 100.0f);
}

// ---- steps ----

int CEventMngr::playStep() {
  if (state != kReplaying) return endReplayed ? 2 : 3;
  if (paused) return 1;
  refresh = 0;
  Packet p;
  // A stroke drawn point by point: one point per step.
  if (replayStrokeOpen && pointByPoint) {
    if (playPointIndex < playPointCount) {
      drawPoint(playPointIndex++);
      return 0;
    }
    if (lastPacketRead) {
      endReplayedStroke();
      commitPlayed();
      return 0;
    }
  }
  for (;;) {
    if (!readPacket(p)) {
      // The written end of a stream without an end packet is its end too.
      if (uint64_t(playPos) >= writePos) {
        if (replayStrokeOpen) {
          finishStroke();
        }
        endReplayed = true;
        state = kClosed;
        return 2;
      }
      return 3;
    }
    lastHeader = uint16_t(p.category << 8 | p.code);
    const uint8_t c = p.category;
    if (c == kCatStatus || c == kCatInfo) {
      if (!dispatch(p)) return 3;
      continue;
    }
    if (c == kCatStrokePoints || c == kCatStrokeLast) {
      // Points with no stroke begun begin one on the current layer.
      if (!replayStrokeOpen && !beginReplayedStroke(kCatStrokeBegin, paper.currentLayerIndex())) return 3;
      if (!loadPoints(p)) return 3;
      lastPacketRead = c == kCatStrokeLast;
      if (pointByPoint) {
        if (playPointIndex < playPointCount) drawPoint(playPointIndex++);
        return 0;
      }
      while (playPointIndex < playPointCount) drawPoint(playPointIndex++);
      if (!lastPacketRead) continue;
      endReplayedStroke();
      commitPlayed();
      return 0;
    }
    // Any other packet ends an open stroke first: the stroke is its own step.
    if (replayStrokeOpen) {
      finishStroke();
      if (pointByPoint && !isStrokeBegin(c)) {
        // Its step was this call's; the packet waits for the next.
        playPos = p.at;
        return 0;
      }
    }
    if (isStrokeBegin(c)) {
      Fields f(p.payload);
      int32_t layer = -1;
      if (!layerIndex(paper, f.u16(), layer) || !f.ok || !beginReplayedStroke(c, layer)) return 3;
      continue;
    }
    if (!dispatch(p)) return 3;
    commitPlayed();
    if (endReplayed) {
      state = kClosed;
      return 2;
    }
    return 0;
  }
}

void CEventMngr::finishStroke() {
  if (!replayStrokeOpen) return;
  while (playPointIndex < playPointCount) drawPoint(playPointIndex++);
  // The rest of its points until its last packet.
  Packet p;
  while (!lastPacketRead) {
    const int64_t before = playPos;
    if (!readPacket(p)) break;
    if (p.category == kCatStatus || p.category == kCatInfo) {
      dispatch(p);
      continue;
    }
    if ((p.category != kCatStrokePoints && p.category != kCatStrokeLast) || !loadPoints(p)) {
      playPos = before;
      break;
    }
    lastPacketRead = p.category == kCatStrokeLast;
    while (playPointIndex < playPointCount) drawPoint(playPointIndex++);
  }
  endReplayedStroke();
  commitPlayed();
}

// ---- strokes ----

bool CEventMngr::beginReplayedStroke(uint8_t category, int32_t layer) {
  if (!paper.layerAt(layer)) return false;
  TStroke& s = *playStroke;
  // The category tells the stroke's generation and whether a tool forced it.
  strokeCompat = category == kCatStrokeBegin0 || category == kCatStrokeBegin0Forced ? 0
                 : category == kCatStrokeBegin1 || category == kCatStrokeBegin1Forced ? 1
                                                                                      : 2;
  forcedStroke = category == kCatStrokeBegin0Forced || category == kCatStrokeBegin1Forced ||
                 category == kCatStrokeBeginForced;
  s.compatLevel = strokeCompat;
  s.forced = forcedStroke;
  s.layerIndex = layer;
  replayStrokeOpen = true;
  lastPacketRead = false;
  pointByPoint = slowReplay;
  playPointIndex = playPointCount = 0;
  playSession = {};
  return true;
}

bool CEventMngr::loadPoints(const Packet& p) {
  const uint32_t n = p.code;
  if (n < 1 || n > 16 || p.payload.size() != n * 12) return false;
  std::memcpy(playPoints, p.payload.data(), n * 12);
  playPointIndex = 0;
  playPointCount = n;
  return true;
}

void CEventMngr::drawPoint(uint32_t i) {
  TStroke& s = *playStroke;
  const float x = playPoints[i][0], y = playPoints[i][1], pressure = playPoints[i][2];
  if (!playSession.inProgress) {
    if (s.compatLevel < 2 || playerVersion < 223) {
      BeginStroke(paper, *playFlow, s, playSession, false, pressure, y, x);
    } else {
      BeginStrokeOffset(paper, *playFlow, s, playSession, false, pressure, y, x);
    }
    refresh |= 1 | 4;
    return;
  }
  AddStrokePoint(paper, *playFlow, s, playSession, false, pressure, y, x);
}

void CEventMngr::endReplayedStroke() {
  if (playSession.inProgress) EndStroke(paper, *playFlow, *playStroke, playSession, false);
  replayStrokeOpen = false;
  pointByPoint = false;
  lastPacketRead = false;
  playPointIndex = playPointCount = 0;
  refresh |= 1 | 2 | 4 | 8;
}

// ---- packets ----

bool CEventMngr::dispatch(const Packet& p) {
  switch (p.category) {
    case kCatStatus: return applyStatus(p);
    case kCatInfo:
      if (p.code == kInfoRecorder) recorderBlock.assign(p.payload.begin() + std::min<size_t>(4, p.payload.size()), p.payload.end());
      return true;  // others are skipped by their length
    case kCatPaper: return playPaper(p);
    case kCatLayer: refresh |= 1 | 2 | 4 | 8; return playLayer(p);
    case kCatMask: refresh |= 4 | 16; return playMask(p);
    case kCatImage: refresh |= 1 | 2 | 4 | 8; return playImage(p);
    default:
      // Fills, channels, filters and the oldest stroke forms belong to tools this program does not have yet.
      ui().Warning(text(TextId::NotImplemented));
      return false;
  }
}

bool CEventMngr::applyStatus(const Packet& p) {
  Fields f(p.payload);
  TStroke& s = *playStroke;
  switch (p.code) {
    case kStatusVersion: {
      const uint32_t major = f.u16(), minor = f.u16(), ext = f.u16();
      if (ext != 0) {
        ui().Warning(text(TextId::ReplayVersionError));
        return false;
      }
      playerVersion = int32_t(major * 100 + minor);
      break;
    }
    case kStatusPaperColour:
      if (!paper.setPaperColor(f.colour(), false)) return false;
      refresh |= 1 | 4;
      break;
    case kStatusSecondColour: s.secondColour = f.colour(); break;
    case kStatusGradationPoints:
      paper.gradation.x1 = f.i32();
      paper.gradation.y1 = f.i32();
      paper.gradation.x2 = f.i32();
      paper.gradation.y2 = f.i32();
      break;
    case kStatusGradation:
      paper.gradation.type = uint8_t(f.u8());
      paper.gradation.map = uint8_t(f.u8());
      paper.gradation.repeat = uint8_t(f.u8());
      f.u8();
      paper.gradation.repeatCount = uint16_t(f.u16());
      break;
    case kStatusLayerMask: {
      const uint32_t layer = f.u16(), mask = f.u16();
      if (layer != 0xFFFF) {
        if (!paper.layerAt(int32_t(layer))) return false;
        statusLayer = int32_t(layer);
        if (int32_t(layer) != paper.currentLayerIndex()) paper.setCurrentLayer(*playFlow, int32_t(layer));
        refresh |= 8;
      }
      if (mask != 0xFFFF) {
        if (!paper.masks.IsValid(int32_t(mask))) return false;
        paper.masks.SetCurrent(int32_t(mask));
        refresh |= 16;
      }
      break;
    }
    case kStatusFlags: {
      const uint32_t flags = f.u16();
      paper.selectionEnabled = flags & 1;
      s.SetUseTone((flags & 2) != 0);
      s.SetUseGradation((flags & 8) != 0);
      // Streams before 2.06 kept the layer's transparency lock here.
      if (playerVersion < 206)
        if (CLayerData* l = paper.currentLayer()) l->maskLock = (flags >> 2) & 1;
      break;
    }
    case kStatusPenFlags: {
      const uint32_t flags = f.u16();
      s.SetSizeByPressure(flags & 1);
      s.SetOpacityByPressure((flags & 2) != 0);
      s.SetSoftEdge((flags & 4) != 0);
      break;
    }
    case kStatusPenColour: {
      const uint32_t b = f.u8(), g = f.u8(), r = f.u8();
      s.SetColour(r << 16 | g << 8 | b);
      s.SetKind(int(f.u8()));
      s.SetOpacity(f.f32());
      break;
    }
    case kStatusPenSize:
      s.SetWidth(f.f32());
      s.SetMinSize(f.f32());
      break;
    case kStatusPenValues:
      s.SetEffect(f.f32());
      s.SetEnv(f.f32());
      s.SetSpeed(f.f32());
      s.SetGamma(f.f32());
      s.SetSpacing(f.f32());
      s.SetAirMap(int(f.u8()));
      break;
    case kStatusToneReference: {
      // A tone must have been defined before it is used.
      const uint32_t id = f.u32();
      if (!f.ok || toneMap.find(id) == toneMap.end()) return false;
      break;
    }
    case kStatusToneDefinition: {
      const uint32_t id = f.u32();
      f.skip(12);
      const uint32_t nameLength = f.u16();
      if (!f.ok || nameLength > 64) return false;
      toneMap[id] = p.at;
      break;
    }
    case kStatusGradationSlots: {
      f.skip(6);
      const uint32_t length = f.u16();
      if (!f.ok || length == 0 || length % 24 != 0) return false;
      break;
    }
    case kStatusAuxImage1:
    case kStatusAuxImage2:
      (p.code == kStatusAuxImage1 ? auxImage1 : auxImage2) = p.payload;
      break;
    case kStatusRangeParams: rangeParams = p.payload; break;
    default: break;  // font and text wait for the text tool
  }
  if (!f.ok) return false;
  // The copies follow what was replayed, so recording after the replay
  // compares with it.
  if (const uint32_t bit = statusValidBit(p.code)) {
    statusCopies[p.code] = p.payload;
    validBits |= bit;
  }
  return true;
}

bool CEventMngr::playPaper(const Packet& p) {
  Fields f(p.payload);
  TFlowImage& flow = *playFlow;
  refresh |= 1 | 2 | 4 | 8;
  switch (p.code) {
    case kPaperCreated:
    case kPaperCreatedOld: {
      const int32_t w = f.i32(), h = f.i32();
      f.i32();
      f.i32();
      const int32_t resolution = p.code == kPaperCreated ? f.i32() : 0;
      if (!f.ok || w < 1 || h < 1 || w > maxPaperSide || h > maxPaperSide) return false;
      return paper.newPaper(flow, paper.name, resolution, h, w);
    }
    case 1: return paper.setPaperColor(f.colour(), false);
    case 16: return paper.transformVisible(flow, 12, false);
    case 17: return paper.transformVisible(flow, 13, false);
    case 18: return paper.transformVisible(flow, 15, false);
    case 19: return paper.transformVisible(flow, 14, false);
    case 24: {
      f.u16();
      const uint32_t value = f.u16();
      if (!f.ok) return false;
      paper.showAll(value != 0, false);
      return true;
    }
    case 25: {
      int32_t layer;
      if (!layerIndex(paper, f.u16(), layer)) return false;
      paper.showOnly(layer, false);
      return true;
    }
    case 26: return paper.invertVisibility(false);
    case kPaperRecordingStart: return true;
    case kPaperRecordingEnd:
      endReplayed = true;
      return true;
    default:
      // Paper-wide transforms come with their own tools.
      ui().Warning(text(TextId::NotImplemented));
      return false;
  }
}

bool CEventMngr::playLayer(const Packet& p) {
  Fields f(p.payload);
  TFlowImage& flow = *playFlow;
  // An insert happens on the layer the last status made current.
  auto currentFromStatus = [&] {
    if (statusLayer >= 0 && paper.layerAt(statusLayer) && statusLayer != paper.currentLayerIndex())
      paper.setCurrentLayer(flow, statusLayer);
  };
  if (p.code == 0 || p.code == 11) {
    const uint32_t index = f.u16();
    const int32_t w = f.i32(), h = f.i32();
    if (p.code == 11) f.skip(8);
    const uint32_t mode = f.u8(), opacity = f.u8(), flags = f.u16();
    uint32_t colour = 0;
    std::string name;
    if (p.code == 11) {
      colour = f.u32();
      f.skip(14);
      const uint32_t length = f.u16();
      if (length && !f.name(length, name)) return false;
    }
    if (!f.ok || mode >= uint32_t(kBlendModeCount) || int64_t(index) > paper.layerCount() || !layerSizeAllowed(w, h))
      return false;
    currentFromStatus();
    const int32_t at =
        p.code == 0 ? paper.insertLayer(flow, int32_t(index), flags & 1, uint8_t(opacity), int(mode), w, h, false)
                    : paper.insertLayerWithContent(flow, int32_t(index), false, flags & 1, name, colour,
                                                   uint8_t(opacity), int(mode), h, w);
    if (at < 0) return false;
    paper.layerAt(at)->maskLock = (flags >> 1) & 1;
    return true;
  }
  int32_t layer;
  if (!layerIndex(paper, f.u16(), layer)) return false;
  CLayerData& l = *paper.layerAt(layer);
  switch (p.code) {
    case 1: return paper.deleteLayer(flow, layer, false);
    case 2: return paper.clearLayer(flow, layer, false);
    case 3: return paper.duplicateLayer(flow, layer, false) >= 0;
    case 4: {
      const uint32_t to = f.u16();
      return f.ok && to < uint32_t(paper.layerCount()) && paper.moveLayer(flow, layer, int32_t(to), false) >= 0;
    }
    case 5: return paper.mergeDown(flow, layer, false);
    case 6:
    case 7: {
      f.u16();
      const int32_t dx = f.i32(), dy = f.i32();
      return f.ok && paper.offsetLayer(flow, layer, dx, dy, false);
    }
    case 8: return paper.cutOutside(flow, layer, false);
    case 9: return paper.cutSelection(flow, layer, false);
    case 10: {
      f.u16();
      f.i32();
      const int32_t kind = f.i32();
      return f.ok && (kind == 1 || kind == 2) && paper.mergeDownWithMode(flow, layer, kind, false);
    }
    case 16:
    case 17:
    case 18:
    case 20:
    case 21: {
      // Every attribute record brings mode, opacity and visibility; then the code's own change.
      const uint32_t mode = f.u8(), opacity = f.u8(), flags = f.u16();
      if (!f.ok || mode >= uint32_t(kBlendModeCount)) return false;
      l.mode = uint8_t(mode);
      l.opacity = uint8_t(opacity);
      l.visible = flags & 1;
      if (p.code == 20) l.maskLock = (flags >> 1) & 1;
      if (p.code == 21) {
        const uint32_t amount = f.u8();
        f.u8();
        const int32_t seed = f.i32();
        if (!f.ok) return false;
        l.random = RandomState(seed, 0, 255);
        paper.setLayerDissolve(layer, (flags & 16) != 0, uint8_t(amount), false);
      }
      paper.markModified();
      paper.refreshLayerContent(layer, true);
      paper.invalidateCanvas();
      return true;
    }
    case 19: {
      const uint32_t length = f.u16();
      std::string name;
      if (!f.name(length, name)) return false;
      return paper.renameLayer(flow, layer, name, false);
    }
    case 24: {
      const uint32_t alpha = f.u16();
      return f.ok && alpha <= 255 && paper.fillLayerAlpha(flow, layer, uint8_t(alpha), false);
    }
    case 25: return paper.invertLayerAlpha(flow, layer, false);
    case 32: return paper.layerCommand(flow, layer, 7, false);
    case 33: return paper.layerCommand(flow, layer, 8, false);
    case 34: return paper.layerCommand(flow, layer, 10, false);
    case 35: return paper.layerCommand(flow, layer, 9, false);
    default:
      ui().Warning(text(TextId::NotImplemented));
      return false;
  }
}

bool CEventMngr::playMask(const Packet& p) {
  Fields f(p.payload);
  TFlowImage& flow = *playFlow;
  if (p.code == 12) {
    const uint32_t mask = f.u16(), length = f.u16();
    std::string name;
    return f.name(length, name) && paper.renameMask(int32_t(mask), name, false);
  }
  int32_t layer = -1;
  const uint32_t layerField = f.u16(), mask = f.u16();
  const bool wide = p.payload.size() >= 12;
  const int32_t p1 = wide ? f.i32() : 0, p2 = wide ? f.i32() : 0;
  if (!f.ok) return false;
  layerIndex(paper, layerField, layer);
  switch (p.code) {
    case 0: return paper.newMask(false) >= 0;
    case 1: return paper.clearMask(false);
    case 2: return paper.deleteMask(false);
    case 3: return paper.invertMask(false);
    case 4: return paper.duplicateMask(false) >= 0;
    case 5: return paper.setCurrentMask(int32_t(mask), false) || paper.masks.Current() == int32_t(mask);
    case 6: return paper.trimMask(false);
    case 7: return paper.moveMask(int32_t(mask), p2, false);
    case 8: return paper.moveMaskOrigin(p2, p1, false);
    case 9: return paper.combineMasks(p2, int32_t(mask), p1, false);
    case 10: return paper.growShrinkMask(p2 != 0, p1 != 0, false);
    case 11: return paper.splitSelection(flow, 0, false, false);
    case 13: paper.setSelectionVisible((p1 & 1) != 0, false); return true;
    case 14: paper.setSelectionEnabled(((p1 >> 16) & 1) != 0, false); return true;
    case 20: return paper.selectAll(false);
    case 21: return layer >= 0 && paper.copyMaskToLayerAlpha(flow, layer, int32_t(mask), false);
    case 22: return paper.maskFromLayer(p2, false);
    case 24: return paper.splitSelection(flow, p2 & 0xFFFF, ((p2 >> 16) & 1) != 0, false);
    case 25:
    case 26: return paper.growShrinkMaskBy(p2, p.code == 25, false);
    default:
      ui().Warning(text(TextId::NotImplemented));
      return false;
  }
}

bool CEventMngr::playImage(const Packet& p) {
  Fields f(p.payload);
  const uint32_t layerField = f.u16();
  const int32_t w = f.i32(), h = f.i32();
  const uint32_t bpp = f.u8(), withBlock = f.u8(), length = f.u32(), nameBytes = f.u16(), pixelBytes = f.u32();
  if (!f.ok || bpp != 32 || withBlock > 1 || w < 1 || h < 1 || w > kMaxPaperSide || h > kMaxPaperSide) return false;
  // Every length is checked against the others and against the packet.
  const uint64_t pixels = uint64_t(w) * uint64_t(h) * 4;
  const uint64_t after = (withBlock ? TPaper::kLayerAttributeBlock : 0) + uint64_t(nameBytes) + pixels;
  if (pixelBytes != pixels || uint64_t(length) < after || uint64_t(length) > f.remaining()) return false;
  const uint8_t* block = withBlock ? f.bytes(TPaper::kLayerAttributeBlock) : nullptr;
  std::string name;
  if (nameBytes && !f.name(nameBytes, name)) return false;
  const uint8_t* bytes = f.bytes(size_t(pixels));
  if (!f.ok || !bytes) return false;
  TMTC image;
  if (!image.Resize(w, h)) return false;
  for (int32_t y = 0; y < h; ++y) std::memcpy(image.Row(y), bytes + size_t(y) * size_t(w) * 4, size_t(w) * 4);
  const std::span<const uint8_t> attributes = block ? std::span<const uint8_t>(block, TPaper::kLayerAttributeBlock)
                                                    : std::span<const uint8_t>();
  const std::string* layerName = nameBytes ? &name : nullptr;
  TFlowImage& flow = *playFlow;
  switch (p.code) {
    case 0: {
      int32_t layer;
      return layerIndex(paper, layerField, layer) && paper.pasteIntoLayer(flow, layer, image, false, layerName, attributes);
    }
    case 1: return paper.pasteAsNewLayer(flow, image, false, layerName, attributes);
    case 2: return paper.pasteOpenedImage(flow, image, false, layerName, attributes);
    default: return false;
  }
}

// ---- the end of a replay ----

bool CEventMngr::resumeRecording(bool stopped) {
  if (state != kReplaying && state != kClosed) return false;
  if (replayStrokeOpen) finishStroke();
  if (startsWithPaper) {
    // Everything not replayed is cut off.
    writePos = committedEnd = playCommitted;
    stepCount = playedSteps;
  }
  if (stopped) {
    const size_t keep = size_t(writePos / segmentSize) + 1;
    if (segments.size() > keep) segments.resize(keep);
    capacity = uint32_t(segments.size()) * segmentSize;
  }
  paused = slowReplay = startsWithPaper = replayStrokeOpen = pointByPoint = lastPacketRead = forcedStroke = false;
  const bool ended = endReplayed;
  endReplayed = false;
  resumed = 1;
  toneMap.clear();
  playStroke.reset();
  playFlow = nullptr;
  paper.playingBack = false;
  state = kClosed;
  // The end packet of the replayed stream goes, when there is one.
  uint8_t head[2] = {0, 0};
  const uint32_t start = steps.Current();
  if (ended && steps.BackCount() > 0 && ReadAt(start, head, 2) && head[0] == kCatPaper && head[1] == kPaperRecordingEnd) {
    if (!reopenAfterSave()) return false;
  }
  state = kRecording;
  return recordStart();
}

}  // namespace vl
