#pragma once
// The thumbnail block that may open event files and paper files: "VTNL", the
// length of the rest, a 40-byte descriptor, then the thumbnail's pixels
// compressed (form 1) or compressed and scrambled (form 2), padded to a
// multiple of 4 bytes.
//
// Form 2 scrambles the compressed bytes chunk by chunk. The chunk is the
// whole stored data: within it every group of g bytes is reversed (a last,
// shorter group too), then, when k is not 0, every (s + 1)-th byte from the
// start is XORed with the complement of k. Reading undoes the two steps in
// the other order.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "files/file_error.h"
#include "pixel/dib.h"

namespace vl {

inline constexpr uint32_t kThumbnailHeadBytes = 8;
inline constexpr uint32_t kThumbnailDescriptorBytes = 40;
// The side the thumbnail fits into.
inline constexpr int32_t kThumbnailFit = 256;

struct ThumbnailScramble {
  uint8_t group = 0, key = 0, stride = 0, trailer = 0;
};

struct ThumbnailInfo {
  uint16_t form = 1;
  ThumbnailScramble scramble;
  int32_t paperWidth = 0, paperHeight = 0;
  int32_t width = 0, height = 0;
};

// The size a thumbnail of a w × h paper has: within 256 × 256, the paper's proportions, at least 1 × 1.
Size thumbnailSizeFor(int32_t w, int32_t h);
// The picture reduced to that size by area average, opaque.
bool reduceToThumbnail(const CDibCore& picture, TMTC& thumbnail);

// The whole block for a thumbnail (rows from the top). Form 2 takes the
// scrambler given.
FileError makeThumbnailBlock(const TMTC& thumbnail, int32_t paperWidth, int32_t paperHeight, uint16_t form,
                             ThumbnailScramble scramble, std::vector<uint8_t>& out);
// Reads a block from its first byte ("VTNL"); `size` is what is available.
// Gives the thumbnail and the block's whole length.
FileError readThumbnailBlock(const uint8_t* data, size_t size, ThumbnailInfo& info, TMTC& thumbnail, uint64_t& blockBytes);

// Scrambling and its undoing, in place.
void scrambleThumbnail(uint8_t* data, size_t n, ThumbnailScramble s);
void unscrambleThumbnail(uint8_t* data, size_t n, ThumbnailScramble s);

}  // namespace vl
