#include "events/oldest_stream.h"

#include <sys/stat.h>

#include <algorithm>
#include <new>

#include "events/event_files.h"
#include "pixel/random_state.h"
#include "platform/file_read.h"

namespace vl {
namespace oldest {

namespace {

uint32_t u16At(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }

// A fixed part, then a u16 count at `countAt` of items of `item` bytes. When
// the count is not there the fixed part alone is reported, which already
// runs past what is available.
int64_t counted(const uint8_t* p, size_t available, uint32_t fixed, uint32_t countAt, uint32_t item) {
  if (available < size_t(countAt) + 2) return fixed;
  return int64_t(fixed) + int64_t(u16At(p + countAt)) * item;
}

}  // namespace

int64_t payloadSize(uint16_t code, const uint8_t* p, size_t available) {
  if (code <= kStrokeLast) return counted(p, available, kPenSettingsBytes + kPointBytes + 2, kPenSettingsBytes + kPointBytes, kPointBytes);
  if (isMarker(code)) return 0;
  switch (code) {
    case kAddLayer:
    case kDeleteLayer:
    case kCopyLayer:
    case kMergeDown:
    case kUndo:
    case kSelectLayer:
    case kFlipVisibility:
    case kLayerFlipHorizontal:
    case kLayerFlipVertical:
    case kLayerRotate180:
    case kLayerNegate:
    case kClearLayer:
    case kSetting: return 1;
    case kMoveLayer:
    case kLayerVisible:
    case kLayerOpacity:
    case kLayerMode: return 2;
    case kFillColour: return 4;
    case kOffsetLayer: return 5;
    case kFillRectangle: return 9;
    case kFillRectangle2: return 12;
    case kFillPolygon: return counted(p, available, 3, 1, kCornerBytes);
    case kFillPolygon2: return counted(p, available, 6, 4, kCornerBytes);
    case kGradation: return 27;
    case kNewPaper:
    case kNewPaper2:
    case kResize: return 4;
    case kPaperColour: return 3;
    case kCanvasSize: return 5;
    case kMergeVisible:
    case kRotateClockwise:
    case kRotateCounterClockwise:
    case kClearUndo:
    case kFlipHorizontal:
    case kFlipVertical:
    case kRotate180:
    case kNegate:
    case kEnd: return 0;
    default: return -1;
  }
}

}  // namespace oldest

using namespace oldest;

bool TEventPacket::Load(const uint8_t* data, size_t size) {
  bytes.clear();
  packets.clear();
  markerPackets = 0;
  markers = 0;
  maxWidth = maxHeight = 0;
  fault = StreamFault::None;
  faultAt = 0;
  auto fail = [&](StreamFault f, size_t at) {
    fault = f;
    faultAt = uint32_t(std::min<size_t>(at, UINT32_MAX));
    packets.clear();
    bytes.clear();
    return false;
  };
  try {
    // Offsets are kept in 32 bits; no oldest stream comes near that.
    if (size > kMaxEventFileBytes) return fail(StreamFault::Truncated, 0);
    size_t pos = 0;
    while (size - pos >= 2) {
      const uint16_t code = uint16_t(data[pos] | data[pos + 1] << 8);
      const size_t at = pos + 2;
      if (code == kEnd) break;
      const int64_t n = payloadSize(code, data + at, size - at);
      if (n < 0) return fail(StreamFault::UnknownCode, pos);
      if (uint64_t(n) > size - at) return fail(StreamFault::Truncated, pos);
      if (packets.empty() && code != kNewPaper && code != kNewPaper2) return fail(StreamFault::NotPaperFirst, pos);
      if (code == kNewPaper || code == kNewPaper2 || code == kCanvasSize || code == kResize) {
        const int32_t w = int32_t(data[at] | data[at + 1] << 8), h = int32_t(data[at + 2] | data[at + 3] << 8);
        if (w < 1 || h < 1 || w > 10000 || h > 10000) return fail(StreamFault::PaperSize, pos);
        maxWidth = std::max(maxWidth, w);
        maxHeight = std::max(maxHeight, h);
      }
      if (isMarker(code)) {
        markers = uint16_t(markers | 1u << (code - kFirstMarker));
        ++markerPackets;
      }
      packets.push_back({code, uint32_t(at), uint32_t(n)});
      pos = at + size_t(n);
    }
    if (packets.empty()) return fail(StreamFault::Empty, 0);
    bytes.assign(data, data + size);
    return true;
  } catch (const std::bad_alloc&) {
    return fail(StreamFault::Truncated, 0);
  }
}

bool TEventPacket::Encode(bool protect, uint32_t seed, std::vector<uint8_t>& out) const {
  out.clear();
  const size_t operations = OperationCount();
  if (protect && operations < kFewestProtected) return false;
  try {
    uint16_t order[kMarkerCount];
    for (uint16_t i = 0; i < kMarkerCount; ++i) order[i] = uint16_t(kFirstMarker + i);
    if (protect) {
      RandomState random(int32_t(seed), 0, kMarkerCount);
      for (int i = 0; i < 65536; ++i) {
        const int32_t a = random.draw(), b = random.draw();
        std::swap(order[a], order[b]);
      }
    }
    const size_t interval = operations / 18;
    size_t written = 0, index = 0;
    auto code16 = [&out](uint16_t c) {
      out.push_back(uint8_t(c));
      out.push_back(uint8_t(c >> 8));
    };
    for (const OldestPacket& p : packets) {
      if (isMarker(p.code)) continue;
      // Never before the first packet: a stream begins with its paper.
      if (protect && written < kMarkerCount && index > 0 && index % interval == 0) code16(order[written++]);
      code16(p.code);
      out.insert(out.end(), bytes.begin() + p.at, bytes.begin() + p.at + p.size);
      ++index;
    }
    code16(kEnd);
    return !protect || written == kMarkerCount;
  } catch (const std::bad_alloc&) {
    out.clear();
    return false;
  }
}

int readOldestStream(const std::string& path, TEventPacket& out) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return kEventFileNotFound;
  Block data;
  size_t size = 0;
  switch (readWholeFile(path, kMaxEventFileBytes, data, size)) {
    case ReadFileStatus::Ok: break;
    case ReadFileStatus::Empty: return kEventFileEmpty;
    case ReadFileStatus::OutOfMemory:
    case ReadFileStatus::TooLarge: return kEventFileNoMemory;
    case ReadFileStatus::CannotOpen: return kEventFileCannotOpen;
    case ReadFileStatus::ReadFailed: return kEventFileShortRead;
  }
  if (out.Load(data.get(), size)) return kEventFileOk;
  return out.Fault() == StreamFault::Empty ? kEventFileEmpty : kEventFilePacket;
}

int writeOldestStream(const std::string& path, const TEventPacket& stream, bool protect, uint32_t seed,
                      const AtomicFileCalls& calls) {
  if (protect && stream.OperationCount() < kFewestProtected) return kEventFilePacket;
  std::vector<uint8_t> bytes;
  if (!stream.Encode(protect, seed, bytes)) return kEventFileNoMemory;
  AtomicFileWriter file(calls);
  if (!file.Open(path)) return kEventFileCannotOpen;
  if (!file.Write(bytes.data(), bytes.size()) || !file.Commit()) return kEventFileWriteError;
  return kEventFileOk;
}

}  // namespace vl
