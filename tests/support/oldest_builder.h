#pragma once
// Oldest event streams and paper files written by hand, byte by byte, for
// tests of their readers and their replay.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace vl::test {

struct OldestPoint {
  int16_t x, y;
  float pressure;
};

class OldestBuilder {
 public:
  OldestBuilder& code(uint16_t c) { return u16(c); }
  OldestBuilder& u8(uint32_t v) {
    bytes.push_back(uint8_t(v));
    return *this;
  }
  OldestBuilder& u16(uint32_t v) { return u8(v & 0xFF).u8(v >> 8 & 0xFF); }
  OldestBuilder& i16(int32_t v) { return u16(uint32_t(v) & 0xFFFF); }
  OldestBuilder& u32(uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
  OldestBuilder& newPaper(int w, int h, uint16_t c = 512) { return code(c).u16(uint32_t(w)).u16(uint32_t(h)); }
  OldestBuilder& paperColour(uint32_t rgb) { return code(513).u8(rgb >> 16).u8(rgb >> 8).u8(rgb); }
  // A packet with a one-byte argument, and with two.
  OldestBuilder& op(uint16_t c, uint32_t a) { return code(c).u8(a); }
  OldestBuilder& op(uint16_t c, uint32_t a, uint32_t b) { return code(c).u8(a).u8(b); }
  OldestBuilder& offset(uint32_t layer, int dx, int dy) { return code(294).u8(layer).i16(dx).i16(dy); }
  // A stroke of brush kind `kind` (0 … 4): pen settings in 1/256, a first
  // point, then the rest.
  OldestBuilder& stroke(uint16_t kind, uint32_t layer, uint32_t rgb, uint8_t flags, float width,
                        std::initializer_list<OldestPoint> points, float minSize = 0, float gamma = 1,
                        float effect = 0, float env = 0, float speed = 0) {
    code(kind).u8(layer).u8(rgb >> 16).u8(rgb >> 8).u8(rgb).u8(flags);
    for (float v : {minSize, width, gamma, effect, env, speed}) u16(uint32_t(v * 256));
    const OldestPoint* p = points.begin();
    point(*p);
    u16(uint32_t(points.size() - 1));
    for (++p; p != points.end(); ++p) point(*p);
    return *this;
  }
  OldestBuilder& point(const OldestPoint& p) { return i16(p.x).i16(p.y).i16(int32_t(p.pressure * 1024)); }
  OldestBuilder& markers(std::initializer_list<int> which) {
    for (int m : which) code(uint16_t(768 + m));
    return *this;
  }
  OldestBuilder& end() { return code(0xFFFF); }

  std::vector<uint8_t> bytes;
};

// One layer of a .wpb file: its head and its runs.
struct WpbLayerBytes {
  int32_t mode = 0;
  uint8_t opacity = 255, visible = 1;
  std::vector<uint8_t> runs;
};

// A run of `count` (0 … 124) pixels of one colour, and literal colours (at most 130).
inline void wpbRun(std::vector<uint8_t>& runs, int count, uint32_t rgb) {
  runs.insert(runs.end(), {uint8_t(count), uint8_t(rgb >> 16), uint8_t(rgb >> 8), uint8_t(rgb)});
}
inline void wpbLiterals(std::vector<uint8_t>& runs, std::initializer_list<uint32_t> colours) {
  runs.push_back(uint8_t(255 - colours.size()));
  for (uint32_t c : colours) runs.insert(runs.end(), {uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)});
}

inline std::vector<uint8_t> wpbFile(int32_t w, int32_t h, uint32_t paperColour, uint8_t current,
                                    const std::vector<WpbLayerBytes>& layers, const std::vector<uint8_t>& stream,
                                    uint8_t flag = 0) {
  OldestBuilder b;
  b.bytes = {'W', 'P', 'B', '2', flag, 0, 0, 0};
  b.u32(uint32_t(w)).u32(uint32_t(h)).u32(paperColour);
  b.u8(layers.empty() ? 0 : layers.size() - 1).u8(current).u8(0).u8(0).u32(uint32_t(stream.size())).u32(0);
  for (const WpbLayerBytes& l : layers) {
    b.u32(uint32_t(l.mode)).u8(0).u8(l.opacity).u8(l.visible).u8(0).u32(uint32_t(l.runs.size()));
    b.bytes.insert(b.bytes.end(), l.runs.begin(), l.runs.end());
  }
  b.bytes.insert(b.bytes.end(), stream.begin(), stream.end());
  return b.bytes;
}

}  // namespace vl::test
