#pragma once
// The event stream's packets: a two-byte header (category, code) and a
// payload whose size follows from the header, and for some packets from a
// length field at the start of the payload. Little-endian throughout.
#include <cstddef>
#include <cstdint>

namespace vl {

enum EventCategory : uint8_t {
  kCatStatus = 0,
  kCatInfo = 1,
  kCatPaper = 2,
  kCatLayer = 4,
  kCatAreaFill = 6,
  kCatMask = 10,
  kCatImage = 12,
  kCatChannel = 13,
  kCatStrokeBegin0 = 16,
  kCatStrokePoints = 17,
  kCatStrokeLast = 18,
  kCatStrokeBegin0Forced = 20,
  kCatStrokeBegin1 = 21,
  kCatStrokeBegin1Forced = 22,
  kCatStrokeBegin = 23,        // what the recorder writes
  kCatStrokeBeginForced = 24,
  kCatFilter4 = 32,
  kCatFilter12 = 33,
  kCatFilter20 = 34,
  kCatFilter28 = 35,
  kCatFilterExt = 38,
};

// Status codes and the valid bit of each status item.
enum StatusCode : uint8_t {
  kStatusVersion = 0,
  kStatusPaperColour = 2,
  kStatusSecondColour = 3,
  kStatusGradationPoints = 4,
  kStatusGradation = 5,
  kStatusLayerMask = 8,
  kStatusFlags = 12,
  kStatusPenFlags = 13,
  kStatusPenColour = 16,
  kStatusPenSize = 17,
  kStatusPenValues = 18,
  kStatusFont = 32,
  kStatusText = 33,
  kStatusToneDefinition = 36,
  kStatusToneReference = 37,
  kStatusGradationSlots = 40,
  kStatusAuxImage1 = 0x80,
  kStatusAuxImage2 = 0x81,
  kStatusRangeParams = 0x88,
};

// The valid bit of a status code's item; 0 for codes without one.
uint32_t statusValidBit(uint8_t code);

// Paper codes of their own.
inline constexpr uint8_t kPaperCreatedOld = 0;
inline constexpr uint8_t kPaperCreated = 8;
inline constexpr uint8_t kPaperRecordingStart = 254;
inline constexpr uint8_t kPaperRecordingEnd = 255;

// Info codes.
inline constexpr uint8_t kInfoRecorder = 16;
inline constexpr uint8_t kInfoTime = 17;

// The protected-stream mark in the flags of status 12.
inline constexpr uint16_t kFlagProtected = 0x8000;

// Whether a packet of this category closes a step.
bool commitsStep(uint8_t category);
bool isStrokeBegin(uint8_t category);

// The payload size of the packet whose header starts `p`, with `available`
// bytes from the header on (header included); −1 for an invalid header or a
// length field that the bytes do not hold. The size is not checked against
// what is available beyond its length field: callers compare it with what
// remains, in 64 bits.
int64_t packetPayloadSize(const uint8_t* p, size_t available);
// The same when the header and the length field are known apart: `lengthField`
// holds the bytes of the payload from offset 0 that are available (at most 160).
int64_t packetPayloadSize(uint8_t category, uint8_t code, const uint8_t* payload, size_t payloadAvailable);

}  // namespace vl
