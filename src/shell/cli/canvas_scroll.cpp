#include "shell/cli/canvas_scroll.h"

#include <algorithm>

#include "pixel/pixel_math.h"

namespace vl {
namespace {

int32_t zoomed(int32_t size, double zoom) { return truncToInt(double(size) * zoom); }

}  // namespace

ScrollRange scrollRange(int32_t paperSize, double zoom, int32_t margin, int32_t client) {
  ScrollRange r;
  r.maximum = zoomed(paperSize, zoom) + 2 * margin;
  r.page = std::max(client, 0);
  r.largeStep = std::max(1, truncToInt(double(client - 16) / zoom));
  r.smallStep = std::max(1, truncToInt(10.0 * zoom));
  return r;
}

ScrollMapping scrollMapping(int32_t position, int32_t paperSize, double zoom, int32_t margin, int32_t client) {
  const ScrollRange r = scrollRange(paperSize, zoom, margin, client);
  ScrollMapping m;
  m.position = std::clamp(position, 0, r.lastPosition());
  const int32_t s = m.position;
  if (s < margin) {
    m.windowOffset = margin - s;
    m.viewOrigin = 0;
  } else {
    m.windowOffset = 0;
    m.viewOrigin = truncToInt(double(s - margin) / zoom);
  }
  m.paperStart = m.windowOffset;
  m.paperEnd = r.maximum - margin - s;
  return m;
}

int32_t scrollPositionCentring(double paperPoint, int32_t paperSize, double zoom, int32_t margin, int32_t client) {
  const ScrollRange r = scrollRange(paperSize, zoom, margin, client);
  const int32_t s = truncToInt(paperPoint * zoom) + margin - client / 2;
  return std::clamp(s, 0, r.lastPosition());
}

}  // namespace vl
