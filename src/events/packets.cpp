#include "events/packets.h"

namespace vl {
namespace {

uint32_t u16At(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t u32At(const uint8_t* p) { return u16At(p) | u16At(p + 2) << 16; }

// Fixed head + a length field at `at` of `width` bytes (2 or 4), times `unit`.
int64_t withLength(int64_t head, size_t at, int width, int64_t unit, const uint8_t* payload, size_t available) {
  if (available < at + size_t(width)) return -1;
  const uint32_t n = width == 2 ? u16At(payload + at) : u32At(payload + at);
  return head + int64_t(n) * unit;
}

}  // namespace

uint32_t statusValidBit(uint8_t code) {
  switch (code) {
    case kStatusVersion: return 0x1;
    case kStatusPaperColour: return 0x2;
    case kStatusSecondColour: return 0x4;
    case kStatusGradationPoints: return 0x8;
    case kStatusGradation: return 0x10;
    case kStatusLayerMask: return 0x20;
    case kStatusFlags: return 0x40;
    case kStatusPenFlags: return 0x80;
    case kStatusPenColour: return 0x100;
    case kStatusPenSize: return 0x200;
    case kStatusPenValues: return 0x400;
    case kStatusFont: return 0x800;
    case kStatusText: return 0x1000;
    case kStatusToneDefinition:
    case kStatusToneReference: return 0x2000;
    case kStatusGradationSlots: return 0x4000;
    default: return 0;
  }
}

bool isStrokeBegin(uint8_t category) {
  return category == kCatStrokeBegin0 || (category >= kCatStrokeBegin0Forced && category <= kCatStrokeBeginForced);
}

bool commitsStep(uint8_t category) {
  switch (category) {
    case kCatPaper:
    case kCatLayer:
    case kCatAreaFill:
    case kCatMask:
    case kCatImage:
    case kCatChannel:
    case kCatStrokeLast:
    case kCatFilter4:
    case kCatFilter12:
    case kCatFilter20:
    case kCatFilter28:
    case kCatFilterExt: return true;
    default: return false;
  }
}

int64_t packetPayloadSize(uint8_t cat, uint8_t code, const uint8_t* q, size_t n) {
  switch (cat) {
    case kCatStatus:
      switch (code) {
        case 0: case 5: return 12;
        case 2: case 3: case 8: return 4;
        case 4: return 16;
        case 12: case 13: return 2;
        case 16: case 17: return 8;
        case 18: return 22;
        case 32: return 68;
        case 33: return withLength(2, 0, 2, 1, q, n);
        case 36: return withLength(160, 156, 4, 1, q, n);
        case 37: return 20;
        case 40: return withLength(12, 6, 2, 1, q, n);
        case 0x80: case 0x81: return withLength(22, 12, 4, 1, q, n);
        case 0x88: return withLength(4, 0, 4, 1, q, n);
        default: return -1;
      }
    case kCatInfo: return withLength(4, 0, 4, 1, q, n);
    case kCatPaper:
      switch (code) {
        case 0: return 16;
        case 1: case 24: case 25: case 26: return 4;
        case 2: case 3: case 9: return 10;
        case 4: case 5: case 7: case 16: case 17: case 18: case 19: case 254: case 255: return 0;
        case 6: return 18;
        case 8: return 28;
        default: return -1;
      }
    case kCatLayer:
      switch (code) {
        case 0: return 14;
        case 1: case 2: case 3: case 4: case 5: case 8: case 9: case 24: case 25:
        case 32: case 33: case 34: case 35: case 36: case 37: return 4;
        case 6: case 7: case 10: case 38: case 39: return 12;
        case 11: return withLength(42, 40, 2, 1, q, n);
        case 12: case 13: return 20;
        case 16: case 17: case 18: case 20: return 6;
        case 19: return withLength(4, 2, 2, 1, q, n);
        case 21: return 18;
        default: return -1;
      }
    case kCatAreaFill:
      switch (code) {
        case 0: case 1: case 2: case 3: case 5: return 22;
        case 4: return withLength(4, 2, 2, 8, q, n);
        default: return -1;
      }
    case kCatMask:
      switch (code) {
        case 0: case 1: case 2: case 3: case 4: case 5: case 6: case 11: case 20: case 21: return 4;
        case 7: case 8: case 9: case 10: case 13: case 14: case 22: case 24: case 25: case 26: return 12;
        case 12: return withLength(4, 2, 2, 1, q, n);
        case 16: case 17: return 22;
        case 18: return withLength(8, 6, 2, 8, q, n);
        default: return -1;
      }
    case kCatImage:
      if (code <= 2) return withLength(22, 12, 4, 1, q, n);
      return -1;
    case kCatChannel:
      switch (code) {
        case 0: case 1: case 16: case 17: case 32: return withLength(54, 42, 4, 1, q, n);
        case 2: case 3: return withLength(72, 60, 4, 1, q, n);
        default: return -1;
      }
    case kCatStrokeBegin0:
    case kCatStrokeBegin0Forced:
    case kCatStrokeBegin1:
    case kCatStrokeBegin1Forced:
    case kCatStrokeBegin:
    case kCatStrokeBeginForced: return code == 0 ? 4 : -1;
    case kCatStrokePoints:
    case kCatStrokeLast: return code >= 1 && code <= 16 ? 12 * int64_t(code) : -1;
    case kCatFilter4:
      switch (code) {
        case 0: case 1: case 8: case 9: case 20: return 4;
        default: return -1;
      }
    case kCatFilter12:
      switch (code) {
        case 2: case 10: case 18: case 21: case 22: case 23: case 32: case 34: return 12;
        default: return -1;
      }
    case kCatFilter20:
      switch (code) {
        case 3: case 17: case 19: case 33: case 36: return 20;
        default: return -1;
      }
    case kCatFilter28:
      switch (code) {
        case 16: case 35: case 37: case 38: return 28;
        default: return -1;
      }
    case kCatFilterExt: return withLength(50, 4, 2, 1, q, n);
    default: return -1;
  }
}

int64_t packetPayloadSize(const uint8_t* p, size_t available) {
  if (!p || available < 2) return -1;
  return packetPayloadSize(p[0], p[1], p + 2, available - 2);
}

}  // namespace vl
