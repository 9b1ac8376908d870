#pragma once
// What a canvas window offers the paper: invalidation, its client size and
// presenting pixels. The shell implements it with a QWidget; the headless
// view records every call so tests can see which path ran.
#include <cstdint>
#include <vector>

namespace vl {

// A 32-bit pixel block somebody else owns, as the screen wants it.
struct Surface {
  const uint8_t* bits = nullptr;  // first byte of the block
  int32_t width = 0, height = 0;
  int32_t bytesPerLine = 0;
  bool bottomUp = true;           // the first stored row is the bottom one
};

struct ViewRect {
  int32_t x = 0, y = 0, width = 0, height = 0;
  friend bool operator==(const ViewRect&, const ViewRect&) = default;
};

class CanvasView {
 public:
  virtual ~CanvasView() = default;
  virtual void InvalidateAll() = 0;
  virtual void Invalidate(const ViewRect& windowRect) = 0;
  virtual int32_t ClientWidth() const = 0;
  virtual int32_t ClientHeight() const = 0;
  // Shows `source` of the surface at `windowPos`, stretched by num ÷ den in both directions.
  virtual void Present(const Surface& surface, const ViewRect& source, int32_t windowX, int32_t windowY, int num,
                       int den) = 0;
};

class HeadlessView : public CanvasView {
 public:
  struct Presented {
    ViewRect source;
    int32_t windowX, windowY;
    int num, den;
    const uint8_t* bits;  // which block was shown
  };
  HeadlessView(int32_t w = 800, int32_t h = 600) : width(w), height(h) {}
  void InvalidateAll() override { ++invalidatedAll; }
  void Invalidate(const ViewRect& r) override { invalidated.push_back(r); }
  int32_t ClientWidth() const override { return width; }
  int32_t ClientHeight() const override { return height; }
  void Present(const Surface& s, const ViewRect& source, int32_t wx, int32_t wy, int num, int den) override {
    presented.push_back({source, wx, wy, num, den, s.bits});
  }

  int32_t width, height;
  int invalidatedAll = 0;
  std::vector<ViewRect> invalidated;
  std::vector<Presented> presented;
};

}  // namespace vl
