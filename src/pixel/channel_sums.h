#pragma once
// Sums of each byte of a run of 32-bit pixels (blue, green, red, alpha in
// memory order), the heart of box reductions such as layer thumbnails. The
// sums are exact integers, so the vector form gives the scalar one's bits.
#include <cstdint>

namespace vl {

// Adds the bytes of n pixels to sum[0 … 3]; vectors unless switched off.
void addChannelSums(const uint32_t* p, int32_t n, uint64_t sum[4]);
// The forms, for comparison; the AVX2 one only where the processor has it.
void addChannelSumsScalar(const uint32_t* p, int32_t n, uint64_t sum[4]);
void addChannelSumsSse2(const uint32_t* p, int32_t n, uint64_t sum[4]);
void addChannelSumsAvx2(const uint32_t* p, int32_t n, uint64_t sum[4]);

}  // namespace vl
