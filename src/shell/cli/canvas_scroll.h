#pragma once
// The canvas window's scroll model for an unrotated view, one axis at a
// time. Around the zoomed paper lies a margin M (half the screen's width);
// the bar runs over 0 … trunc(paper × z) + 2M with a page of the client size.
#include <cstdint>

namespace vl {

struct ScrollRange {
  int32_t maximum = 0;    // trunc(paper × z) + 2M
  int32_t page = 0;       // the client size
  int32_t largeStep = 0;  // trunc((client − 16) ÷ z)
  int32_t smallStep = 0;  // trunc(10 × z), at least 1
  // Highest position: maximum − page, not below 0.
  int32_t lastPosition() const { return maximum > page ? maximum - page : 0; }
};

struct ScrollMapping {
  int32_t position = 0;       // after clamping
  int32_t windowOffset = 0;   // where the view origin lies in the window
  int32_t viewOrigin = 0;     // paper coordinate shown at the window offset
  int32_t paperStart = 0;     // window coordinate where the paper begins (background before it)
  int32_t paperEnd = 0;       // window coordinate where it ends (background from there on)
};

ScrollRange scrollRange(int32_t paperSize, double zoom, int32_t margin, int32_t client);
ScrollMapping scrollMapping(int32_t position, int32_t paperSize, double zoom, int32_t margin, int32_t client);
// The position that puts paper coordinate p in the middle of the client area:
// trunc(p × z) + M − trunc(client ÷ 2), clamped to the bar.
int32_t scrollPositionCentring(double paperPoint, int32_t paperSize, double zoom, int32_t margin, int32_t client);

}  // namespace vl
