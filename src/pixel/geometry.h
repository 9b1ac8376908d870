#pragma once
// Geometric records shared by the whole program.
#include <algorithm>
#include <cstdint>

namespace vl {

struct Point {
  int32_t x = 0, y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
  int32_t width = 0, height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

// Right and bottom are exclusive.
struct Bounds {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  bool empty() const { return right <= left || bottom <= top; }
  friend bool operator==(const Bounds&, const Bounds&) = default;
};

// The common rectangle argument.
struct Area {
  int32_t x = 0, y = 0, width = 0, height = 0;
  Area() = default;
  Area(int32_t x_, int32_t y_, int32_t w, int32_t h) : x(x_), y(y_), width(w), height(h) {}
  explicit Area(Size s) : width(s.width), height(s.height) {}
  explicit Area(const Bounds& b) : x(b.left), y(b.top), width(b.right - b.left), height(b.bottom - b.top) {}
  bool empty() const { return width <= 0 || height <= 0; }
  int32_t right() const { return x + width; }
  int32_t bottom() const { return y + height; }
  Bounds bounds() const { return {x, y, x + width, y + height}; }
  friend bool operator==(const Area&, const Area&) = default;
};

inline Bounds intersect(const Bounds& a, const Bounds& b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

// Union of two bounds; an empty one does not count.
inline Bounds unite(const Bounds& a, const Bounds& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

// Intersection of an area with (0, 0, size); false when nothing is left.
// Works in 64 bits: areas from files and packets may be absurd.
inline bool clipArea(Area& a, Size s) {
  const int64_t l = std::max<int64_t>(a.x, 0), t = std::max<int64_t>(a.y, 0);
  const int64_t r = std::min<int64_t>(int64_t(a.x) + a.width, s.width);
  const int64_t b = std::min<int64_t>(int64_t(a.y) + a.height, s.height);
  if (r <= l || b <= t) return false;
  a = Area(int32_t(l), int32_t(t), int32_t(r - l), int32_t(b - t));
  return true;
}

}  // namespace vl
