#pragma once
// The oldest event stream (.wpe files, and the tail of .wpb papers): packets
// of a 16-bit code and a payload whose size follows from the code, ending
// with 0xFFFF. Points are three signed 16-bit values: x, y and pressure ×
// 1024. Sixteen marker codes spread through a stream protect it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/atomic_file.h"

namespace vl {

namespace oldest {

inline constexpr uint16_t kStrokeLast = 4;  // codes 0 … 4: strokes of that brush kind
inline constexpr uint16_t kAddLayer = 256;
inline constexpr uint16_t kDeleteLayer = 257;
inline constexpr uint16_t kMergeVisible = 258;
inline constexpr uint16_t kCopyLayer = 259;
inline constexpr uint16_t kMoveLayer = 260;
inline constexpr uint16_t kMergeDown = 261;
inline constexpr uint16_t kUndo = 272;
inline constexpr uint16_t kSelectLayer = 273;
inline constexpr uint16_t kLayerVisible = 274;
inline constexpr uint16_t kLayerOpacity = 275;
inline constexpr uint16_t kLayerMode = 276;
inline constexpr uint16_t kFlipVisibility = 277;
inline constexpr uint16_t kLayerFlipHorizontal = 288;
inline constexpr uint16_t kLayerFlipVertical = 289;
inline constexpr uint16_t kLayerRotate180 = 290;
inline constexpr uint16_t kLayerNegate = 291;
inline constexpr uint16_t kClearLayer = 292;
inline constexpr uint16_t kFillColour = 293;
inline constexpr uint16_t kOffsetLayer = 294;
inline constexpr uint16_t kFillRectangle = 295;
inline constexpr uint16_t kFillRectangle2 = 296;
inline constexpr uint16_t kFillPolygon = 297;
inline constexpr uint16_t kFillPolygon2 = 304;
inline constexpr uint16_t kGradation = 305;
inline constexpr uint16_t kNewPaper = 512;
inline constexpr uint16_t kPaperColour = 513;
inline constexpr uint16_t kCanvasSize = 514;
inline constexpr uint16_t kResize = 515;
inline constexpr uint16_t kRotateClockwise = 516;
inline constexpr uint16_t kRotateCounterClockwise = 517;
inline constexpr uint16_t kClearUndo = 518;
inline constexpr uint16_t kSetting = 519;
inline constexpr uint16_t kNewPaper2 = 520;
inline constexpr uint16_t kFlipHorizontal = 528;
inline constexpr uint16_t kFlipVertical = 529;
inline constexpr uint16_t kRotate180 = 530;
inline constexpr uint16_t kNegate = 531;
inline constexpr uint16_t kFirstMarker = 768;
inline constexpr uint16_t kMarkerCount = 16;
inline constexpr uint16_t kEnd = 0xFFFF;

// Bytes of a stroke's pen settings, of a point and of a polygon corner.
inline constexpr uint32_t kPenSettingsBytes = 17;
inline constexpr uint32_t kPointBytes = 6;
inline constexpr uint32_t kCornerBytes = 4;
// Packets a stream needs before it can be protected.
inline constexpr size_t kFewestProtected = 48;

inline bool isMarker(uint16_t code) { return code >= kFirstMarker && code < kFirstMarker + kMarkerCount; }

// The payload size of the packet with this code whose payload starts at p
// with `available` bytes there; −1 for an unknown code or a count that the
// bytes do not hold. The size itself is not checked against what is available.
int64_t payloadSize(uint16_t code, const uint8_t* p, size_t available);

// Why a stream was refused.
enum class StreamFault : uint8_t {
  None,
  Empty,           // no packet at all
  NotPaperFirst,   // the first packet is not a new paper (512 or 520)
  Truncated,       // a payload runs past the end
  UnknownCode,
  PaperSize,       // a paper size outside 1 … 10000
};

}  // namespace oldest

// One packet: its code and where its payload lies in the stream.
struct OldestPacket {
  uint16_t code = 0;
  uint32_t at = 0;    // payload offset
  uint32_t size = 0;  // payload bytes
};

// A validated oldest stream and its packets.
class TEventPacket {
 public:
  // Walks the bytes from the start: the first packet must make a paper,
  // every payload must fit, unknown codes fail, 0xFFFF (or fewer than two
  // bytes left) ends the walk. Keeps a copy of the packets walked.
  bool Load(const uint8_t* data, size_t size);
  bool Load(const std::vector<uint8_t>& bytes) { return Load(bytes.data(), bytes.size()); }

  oldest::StreamFault Fault() const { return fault; }
  // Where the walk stopped on a fault.
  uint32_t FaultOffset() const { return faultAt; }
  // Packets before the end code, markers included.
  size_t Count() const { return packets.size(); }
  const OldestPacket& At(size_t i) const { return packets[i]; }
  const uint8_t* Payload(const OldestPacket& p) const { return bytes.data() + p.at; }
  // Packets other than markers: what a replay steps through.
  size_t OperationCount() const { return packets.size() - markerPackets; }
  // Bit i: marker 768 + i was found.
  uint16_t Markers() const { return markers; }
  // All sixteen markers: a protected stream.
  bool IsProtected() const { return markers == 0xFFFF; }
  // The largest paper that the paper and size packets ask for.
  int32_t MaxWidth() const { return maxWidth; }
  int32_t MaxHeight() const { return maxHeight; }

  // The stream's bytes: its packets without markers, then the end code.
  // With protection the sixteen markers, in an order shuffled by 65536
  // swaps drawn from `seed`, go before every (packets ÷ 18)-th packet;
  // false (nothing written) for fewer than 48 packets.
  bool Encode(bool protect, uint32_t seed, std::vector<uint8_t>& out) const;

 private:
  std::vector<uint8_t> bytes;
  std::vector<OldestPacket> packets;
  size_t markerPackets = 0;
  uint16_t markers = 0;
  int32_t maxWidth = 0, maxHeight = 0;
  oldest::StreamFault fault = oldest::StreamFault::Empty;
  uint32_t faultAt = 0;
};

// A .wpe file: 0 or an event-file error code (47 for a stream that fails
// validation, 42 for an empty file).
int readOldestStream(const std::string& path, TEventPacket& out);
// Writes the stream as a .wpe file through a temporary file; with
// protection a stream of fewer than 48 packets is refused with 47.
int writeOldestStream(const std::string& path, const TEventPacket& stream, bool protect, uint32_t seed,
                      const AtomicFileCalls& calls = {});

}  // namespace vl
