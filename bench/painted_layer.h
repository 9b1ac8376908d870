#pragma once
// The painted layer the file benchmarks save and read: transparent areas,
// flat fills, gradients with a little grain, and soft edges.
#include <cstdint>

#include "pixel/dib.h"

namespace bench {

// `clear` is the colour the transparent areas keep (alpha 0).
inline void paintLayer(vl::TMTC& img, uint32_t seed, uint32_t clear = 0) {
  for (int32_t y = 0; y < img.height; ++y) {
    uint32_t* row = img.Row(y);
    for (int32_t x = 0; x < img.width; ++x) {
      seed = seed * 1103515245u + 12345u;
      const uint32_t grain = (seed >> 16) & 3;
      const int zone = ((x >> 8) + (y >> 8) * 3) % 4;
      uint32_t a = 255, r = 0, g = 0, b = 0;
      switch (zone) {
        case 0: a = 0, r = (clear >> 16) & 0xFF, g = (clear >> 8) & 0xFF, b = clear & 0xFF; break;
        case 1: r = 230, g = 220, b = 200; break;
        case 2:
          r = (uint32_t(x) * 255 / uint32_t(img.width) + grain) & 0xFF;
          g = (uint32_t(y) * 255 / uint32_t(img.height) + grain) & 0xFF;
          b = (uint32_t(x + y) / 40 + grain) & 0xFF;
          break;
        default:
          a = uint32_t(x & 255);
          r = 40, g = (uint32_t(y) >> 4) & 0xFF, b = 90;
          break;
      }
      row[x] = a << 24 | r << 16 | g << 8 | b;
    }
  }
}

}  // namespace bench
