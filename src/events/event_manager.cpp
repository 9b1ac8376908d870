#include "events/event_manager.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "drawing/stroke.h"
#include "platform/strings.h"
#include "platform/ui_services.h"

namespace vl {

// "Velluminar" and the recorder's own version, zero-padded.
const uint8_t kRecorderBlock[28] = {'V', 'e', 'l', 'l', 'u', 'm', 'i', 'n', 'a', 'r', 0, 0, 3, 0, 3, 0,
                                    1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};

namespace {

// Little-endian payload builders for the status items.
struct Bytes {
  std::vector<uint8_t> b;
  Bytes& u8(uint32_t v) {
    b.push_back(uint8_t(v));
    return *this;
  }
  Bytes& u16(uint32_t v) { return u8(v).u8(v >> 8); }
  Bytes& u32(uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
  Bytes& f32(float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    return u32(bits);
  }
  // A colour as the three bytes blue, green, red, then a zero.
  Bytes& colour(uint32_t c) { return u8(c).u8(c >> 8).u8(c >> 16).u8(0); }
  Bytes& zeros(size_t n) {
    b.insert(b.end(), n, 0);
    return *this;
  }
};

}  // namespace

CEventMngr::CEventMngr(TPaper& p, uint32_t segSize, uint32_t budget) : paper(p), segmentSize(segSize) {
  segments.reserve(std::max<size_t>((budget + segSize - 1) / std::max<uint32_t>(segSize, 1), 10));
}

CEventMngr::~CEventMngr() = default;

bool CEventMngr::start(const TStroke* stroke, int32_t undoDepth, int32_t redoDepth) {
  clear();
  recordStroke = stroke;
  if (!steps.Setup(std::max(8, undoDepth), std::max(8, redoDepth))) return false;
  auto first = std::make_unique<CMemSeg>(int32_t(segmentSize));
  if (!first->IsValid()) return false;
  segments.push_back(std::move(first));
  capacity = segmentSize;
  state = kRecording;
  Bytes v;
  v.u16(3).u16(3).u16(0).zeros(6);
  if (recordStatus(kStatusVersion, v.b) == 2) return false;
  return true;
}

void CEventMngr::clear() {
  segments.clear();
  steps.Reset();
  capacity = writePos = committedEnd = 0;
  stepCount = 0;
  validBits = 0;
  statusCopies.clear();
  toneMap.clear();
  strokeOpen = false;
  pending.clear();
  strokePointCount = strokePacketCount = 0;
  pointCount = 0;
  imageCount = 0;
  resumed = protectedStream = 0;
  state = kIdle;
}

bool CEventMngr::setHistoryDepth(int32_t depth) {
  depth = std::max(depth, 8);
  if (!steps.Rebuild(depth, depth)) {
    ui().Warning(text(TextId::UndoLimitChangeFailed));
    return false;
  }
  return true;
}

// ---- writing ----

bool CEventMngr::append(const void* data, uint32_t n) {
  if (n == 0) return true;
  if (uint64_t(writePos) + n > kMaxStream) return false;
  const auto* src = static_cast<const uint8_t*>(data);
  uint32_t at = writePos;
  // One segment more whenever the write would pass the end.
  while (uint64_t(at) + n > capacity) {
    auto seg = std::unique_ptr<CMemSeg>(new (std::nothrow) CMemSeg(int32_t(segmentSize)));
    if (!seg || !seg->IsValid()) return false;
    try {
      segments.push_back(std::move(seg));
    } catch (const std::bad_alloc&) {
      return false;
    }
    capacity += segmentSize;
  }
  while (n > 0) {
    const uint32_t s = at / segmentSize, off = at % segmentSize;
    const uint32_t k = std::min(n, segmentSize - off);
    if (segments[s]->Write(src, int32_t(off), int32_t(k)) != int32_t(k)) return false;
    src += k;
    at += k;
    n -= k;
  }
  writePos = at;
  return true;
}

bool CEventMngr::ReadAt(uint32_t offset, void* out, uint32_t n) const {
  if (uint64_t(offset) + n > writePos) return false;
  auto* dst = static_cast<uint8_t*>(out);
  while (n > 0) {
    const uint32_t s = offset / segmentSize, off = offset % segmentSize;
    const uint32_t k = std::min(n, segmentSize - off);
    if (s >= segments.size() || segments[s]->Read(dst, int32_t(off), int32_t(k)) != int32_t(k)) return false;
    dst += k;
    offset += k;
    n -= k;
  }
  return true;
}

int64_t CEventMngr::PayloadSizeAt(uint32_t offset) const {
  // The header and as much of the payload as any length field needs.
  uint8_t head[2 + 160];
  const uint32_t n = uint32_t(std::min<uint64_t>(sizeof head, uint64_t(writePos) - std::min(offset, writePos)));
  if (n < 2 || !ReadAt(offset, head, n)) return -1;
  const int64_t size = packetPayloadSize(head, n);
  // The whole packet must lie inside what was written.
  if (size < 0 || uint64_t(offset) + 2 + uint64_t(size) > writePos) return -1;
  return size;
}

bool CEventMngr::writePacket(uint8_t category, uint8_t code, const uint8_t* payload, uint32_t n) {
  const uint32_t saved = writePos;
  const uint8_t header[2] = {category, code};
  if (!append(header, 2) || !append(payload, n)) {
    writePos = saved;
    return false;
  }
  if (commitsStep(category)) commitStep();
  return true;
}

void CEventMngr::commitStep() {
  steps.PushValue(committedEnd);
  ++stepCount;
  committedEnd = writePos;
}

void CEventMngr::recordingFailed() {
  clear();
  ui().Warning(text(TextId::EventRecordingStopped));
}

int CEventMngr::recordStatus(uint8_t code, const std::vector<uint8_t>& payload) {
  const uint32_t bit = statusValidBit(code);
  auto it = statusCopies.find(code);
  if ((validBits & bit) && it != statusCopies.end() && it->second == payload) return 0;
  if (!writePacket(kCatStatus, code, payload.data(), uint32_t(payload.size()))) return 2;
  statusCopies[code] = payload;
  validBits |= bit;
  return 1;
}

bool CEventMngr::basicSnapshot() {
  const TStroke* s = recordStroke;
  Bytes version, paperColour, second, points, settings, layerMask, flags;
  version.u16(3).u16(3).u16(0).zeros(6);
  paperColour.colour(paper.paperColor);
  second.colour(s ? s->secondColour : 0xFFFFFF);
  const TPaper::Gradation& g = paper.gradation;
  points.u32(uint32_t(g.x1)).u32(uint32_t(g.y1)).u32(uint32_t(g.x2)).u32(uint32_t(g.y2));
  settings.u8(g.type).u8(g.map).u8(g.repeat).u8(0).u16(g.repeatCount).zeros(6);
  layerMask.u16(uint32_t(paper.currentLayerIndex())).u16(uint32_t(paper.masks.Current()));
  const bool tone = s && s->useTone, grad = s && s->useGradation;
  flags.u16((paper.selectionEnabled ? 1u : 0u) | (tone ? 2u : 0u) | (grad ? 8u : 0u));
  for (const auto& [code, bytes] : {std::pair{kStatusVersion, &version}, std::pair{kStatusPaperColour, &paperColour},
                                    std::pair{kStatusSecondColour, &second}, std::pair{kStatusGradationPoints, &points},
                                    std::pair{kStatusGradation, &settings}, std::pair{kStatusLayerMask, &layerMask},
                                    std::pair{kStatusFlags, &flags}})
    if (recordStatus(code, bytes->b) == 2) return false;
  return true;
}

bool CEventMngr::penSnapshot() {
  if (!basicSnapshot()) return false;
  const TStroke* s = recordStroke;
  if (!s) return true;
  Bytes penFlags, colour, size, values;
  penFlags.u16((s->sizeByPressure ? 1u : 0u) | (s->opacityByPressure ? 2u : 0u) | (s->softEdge ? 4u : 0u));
  colour.u8(s->colour).u8(s->colour >> 8).u8(s->colour >> 16).u8(s->kind).f32(s->opacity);
  size.f32(s->width).f32(s->minSize);
  values.f32(s->effect).f32(s->env).f32(s->speed).f32(s->gamma).f32(s->spacing).u8(s->airMap).u8(0);
  for (const auto& [code, bytes] : {std::pair{kStatusPenFlags, &penFlags}, std::pair{kStatusPenColour, &colour},
                                    std::pair{kStatusPenSize, &size}, std::pair{kStatusPenValues, &values}})
    if (recordStatus(code, bytes->b) == 2) return false;
  return true;
}

bool CEventMngr::Record(EventPacket&& p) {
  if (!isRecording()) return true;
  // Never an invalid header, and never a payload other than its size rule says.
  const int64_t size = packetPayloadSize(p.category, p.code, p.payload.data(), p.payload.size());
  if (size < 0 || uint64_t(size) != p.payload.size() || p.payload.size() > kMaxStream) return false;
  // A command records the settings in force before it.
  const uint8_t c = p.category;
  const bool pen = c == kCatAreaFill || c == kCatChannel || c >= kCatFilter4;
  const bool basic = c == kCatPaper || c == kCatLayer || c == kCatMask || c == kCatImage;
  bool ok = true;
  if (pen) {
    ok = penSnapshot();
  } else if (basic) {
    ok = basicSnapshot();
  }
  ok = ok && writePacket(p.category, p.code, p.payload.data(), uint32_t(p.payload.size()));
  if (!ok) {
    recordingFailed();
    return false;
  }
  if (c == kCatImage) ++imageCount;
  return true;
}

void CEventMngr::PaperCreated(int32_t width, int32_t height, int32_t resolution) {
  if (!isRecording()) return;
  Bytes b;
  b.u32(uint32_t(width)).u32(uint32_t(height)).u32(uint32_t(width)).u32(uint32_t(height)).u32(uint32_t(resolution));
  b.zeros(8);
  if (!writePacket(kCatPaper, kPaperCreated, b.b.data(), uint32_t(b.b.size())) || !recordStart()) recordingFailed();
}

bool CEventMngr::recordStart() {
  if (!isRecording()) return true;
  startTime = appClock().Now();
  Bytes time, block;
  time.u32(16);
  for (uint16_t v : {startTime.year, startTime.month, startTime.dayOfWeek, startTime.day, startTime.hour,
                     startTime.minute, startTime.second, startTime.milliseconds})
    time.u16(v);
  block.u32(sizeof kRecorderBlock);
  block.b.insert(block.b.end(), kRecorderBlock, kRecorderBlock + sizeof kRecorderBlock);
  return basicSnapshot() && writePacket(kCatInfo, kInfoTime, time.b.data(), uint32_t(time.b.size())) &&
         writePacket(kCatInfo, kInfoRecorder, block.b.data(), uint32_t(block.b.size())) &&
         writePacket(kCatPaper, kPaperRecordingStart, nullptr, 0);
}

bool CEventMngr::recordEnd() {
  if (!isRecording()) return false;
  if (!writePacket(kCatPaper, kPaperRecordingEnd, nullptr, 0)) return false;
  state = kClosed;
  return true;
}

// ---- strokes ----

// A stroke's packets wait in memory until its end: a stroke that changed
// nothing then leaves no trace, and nothing is written over steps that redo
// may still bring back.
void CEventMngr::StrokeBegin(int32_t layer, bool forced) {
  if (!isRecording()) return;
  strokeOpen = true;
  strokeForced = forced;
  strokeLayer = layer;
  strokeMask = paper.masks.Current();
  pending.clear();
  pointCount = 0;
  strokePointCount = strokePacketCount = 0;
}

void CEventMngr::StrokePoint(float x, float y, float pressure) {
  if (!isRecording() || !strokeOpen || strokePointCount >= kMaxStrokePoints) return;
  // A full buffer goes out as a points packet before the next point joins it.
  if (pointCount == 16) {
    try {
      pending.push_back(kCatStrokePoints);
      pending.push_back(16);
      const auto* b = reinterpret_cast<const uint8_t*>(pointBuffer);
      pending.insert(pending.end(), b, b + 16 * 12);
    } catch (const std::bad_alloc&) {
      recordingFailed();
      return;
    }
    ++strokePacketCount;
    pointCount = 0;
  }
  float* q = pointBuffer[pointCount++];
  q[0] = x;
  q[1] = y;
  q[2] = pressure;
  ++strokePointCount;
}

void CEventMngr::StrokeEnd(bool changed) {
  if (!isRecording() || !strokeOpen) return;
  strokeOpen = false;
  static_assert(sizeof(float) == 4, "points are three 32-bit floats");
  if (changed && pointCount > 0) {
    Bytes head;
    head.u16(uint32_t(strokeLayer)).u16(uint32_t(strokeMask));
    const uint8_t n = uint8_t(pointCount);
    const bool ok = penSnapshot() &&
                    writePacket(strokeForced ? kCatStrokeBeginForced : kCatStrokeBegin, 0, head.b.data(), 4) &&
                    append(pending.data(), uint32_t(pending.size())) &&
                    writePacket(kCatStrokeLast, n, reinterpret_cast<const uint8_t*>(pointBuffer), 12u * n);
    if (!ok) recordingFailed();
  }
  pending.clear();
  pending.shrink_to_fit();
  pointCount = 0;
  strokePointCount = strokePacketCount = 0;
}

// ---- steps ----

void CEventMngr::forgetRange(uint32_t from, uint32_t to) {
  for (uint32_t at = from; at < to;) {
    uint8_t head[2];
    const int64_t size = PayloadSizeAt(at);
    if (size < 0 || !ReadAt(at, head, 2)) break;
    if (head[0] == kCatStatus) validBits &= ~statusValidBit(head[1]);
    at += 2 + uint32_t(size);
  }
  for (auto it = toneMap.begin(); it != toneMap.end();) it = it->second >= from ? toneMap.erase(it) : std::next(it);
}

bool CEventMngr::undoStep() {
  if (stepCount <= 0 || steps.BackCount() <= 0) return false;
  if (steps.ForwardCount() == 0) {
    // Keep where the stream ends, so redo can return to it.
    steps.PushValue(committedEnd);
    steps.StepBack();
  }
  const uint32_t start = steps.Current();
  if (start > committedEnd) return false;
  forgetRange(start, committedEnd);
  steps.StepBack();
  writePos = committedEnd = start;
  --stepCount;
  return true;
}

bool CEventMngr::redoStep() {
  if (steps.ForwardCount() < 2) return false;
  steps.StepForward();
  uint32_t end = 0;
  if (!steps.PeekAt(1, end) || end > capacity) return false;
  writePos = committedEnd = end;
  ++stepCount;
  return true;
}

void CEventMngr::clearRedo() {
  // Stepping back over the end left it on the redo side; keep only that.
  if (steps.ForwardCount() > 0) steps.TakeForward();
}

void CEventMngr::ClearHistory() {
  steps.Reset();
}

// ---- saving ----

bool CEventMngr::closeForSave() { return recordEnd(); }

bool CEventMngr::reopenAfterSave() {
  if (state != kClosed) return false;
  const uint32_t start = steps.Current();
  uint8_t head[2];
  if (steps.BackCount() <= 0 || !ReadAt(start, head, 2) || head[0] != kCatPaper || head[1] != kPaperRecordingEnd) {
    ui().Trace("Alert: failed to remove EventFin!");
    return false;
  }
  forgetRange(start, committedEnd);
  steps.Drop();
  writePos = committedEnd = start;
  --stepCount;
  state = kRecording;
  return true;
}

bool CEventMngr::writeStream(std::vector<uint8_t>& out) const {
  try {
    out.resize(committedEnd);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return committedEnd == 0 || ReadAt(0, out.data(), committedEnd);
}

bool CEventMngr::scanStatusFlags(bool check, int value, uint16_t bit, bool& found) {
  found = false;
  imageCount = 0;
  for (uint32_t at = 0; at < writePos;) {
    const int64_t size = PayloadSizeAt(at);
    uint8_t head[2];
    if (size < 0 || !ReadAt(at, head, 2)) return false;
    if (head[0] == kCatStatus && head[1] == kStatusFlags) {
      uint8_t f[2];
      ReadAt(at + 2, f, 2);
      uint16_t flags = uint16_t(f[0] | f[1] << 8);
      if (check) {
        found = found || (flags & bit) != 0;
      } else {
        flags = value ? uint16_t(flags | bit) : uint16_t(flags & ~bit);
        const uint8_t b[2] = {uint8_t(flags), uint8_t(flags >> 8)};
        const uint32_t s = (at + 2) / segmentSize, off = (at + 2) % segmentSize;
        // Two bytes may straddle a segment boundary.
        for (uint32_t i = 0; i < 2; ++i) {
          const uint32_t o = off + i;
          segments[s + o / segmentSize]->Write(&b[i], int32_t(o % segmentSize), 1);
        }
      }
    }
    if (head[0] == kCatImage) ++imageCount;
    at += 2 + uint32_t(size);
  }
  return true;
}

}  // namespace vl
