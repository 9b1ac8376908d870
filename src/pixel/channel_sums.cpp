#include "pixel/channel_sums.h"

#include <algorithm>

#include "pixel/simd.h"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace vl {

void addChannelSumsScalar(const uint32_t* p, int32_t n, uint64_t sum[4]) {
  for (int32_t i = 0; i < n; ++i) {
    sum[0] += p[i] & 0xFF;
    sum[1] += (p[i] >> 8) & 0xFF;
    sum[2] += (p[i] >> 16) & 0xFF;
    sum[3] += p[i] >> 24;
  }
}

#if defined(__SSE2__)

void addChannelSumsSse2(const uint32_t* p, int32_t n, uint64_t sum[4]) {
  const __m128i bytePairs = _mm_set1_epi32(0x00FF00FF), low16 = _mm_set1_epi32(0xFFFF);
  int32_t i = 0;
  while (n - i >= 4) {
    // 16-bit lanes: blue and red of each pixel in one vector, green and
    // alpha in the other. 256 additions of at most 255 fit a lane.
    __m128i blueRed = _mm_setzero_si128(), greenAlpha = _mm_setzero_si128();
    const int32_t end = i + std::min(n - i, 1024) / 4 * 4;
    for (; i < end; i += 4) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      blueRed = _mm_add_epi16(blueRed, _mm_and_si128(v, bytePairs));
      greenAlpha = _mm_add_epi16(greenAlpha, _mm_and_si128(_mm_srli_epi32(v, 8), bytePairs));
    }
    alignas(16) uint32_t lanes[4][4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes[0]), _mm_and_si128(blueRed, low16));
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes[1]), _mm_and_si128(greenAlpha, low16));
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes[2]), _mm_srli_epi32(blueRed, 16));
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes[3]), _mm_srli_epi32(greenAlpha, 16));
    for (int c = 0; c < 4; ++c) sum[c] += uint64_t(lanes[c][0]) + lanes[c][1] + lanes[c][2] + lanes[c][3];
  }
  addChannelSumsScalar(p + i, n - i, sum);
}

// The same eight pixels at a time where the processor has AVX2.
__attribute__((target("avx2"))) void addChannelSumsAvx2(const uint32_t* p, int32_t n, uint64_t sum[4]) {
  const __m256i bytePairs = _mm256_set1_epi32(0x00FF00FF), low16 = _mm256_set1_epi32(0xFFFF);
  int32_t i = 0;
  while (n - i >= 8) {
    __m256i blueRed = _mm256_setzero_si256(), greenAlpha = _mm256_setzero_si256();
    const int32_t end = i + std::min(n - i, 2048) / 8 * 8;
    for (; i < end; i += 8) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
      blueRed = _mm256_add_epi16(blueRed, _mm256_and_si256(v, bytePairs));
      greenAlpha = _mm256_add_epi16(greenAlpha, _mm256_and_si256(_mm256_srli_epi32(v, 8), bytePairs));
    }
    alignas(32) uint32_t lanes[4][8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[0]), _mm256_and_si256(blueRed, low16));
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[1]), _mm256_and_si256(greenAlpha, low16));
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[2]), _mm256_srli_epi32(blueRed, 16));
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes[3]), _mm256_srli_epi32(greenAlpha, 16));
    for (int c = 0; c < 4; ++c) {
      uint64_t t = 0;
      for (int k = 0; k < 8; ++k) t += lanes[c][k];
      sum[c] += t;
    }
  }
  addChannelSumsSse2(p + i, n - i, sum);
}

#else

void addChannelSumsSse2(const uint32_t* p, int32_t n, uint64_t sum[4]) { addChannelSumsScalar(p, n, sum); }
void addChannelSumsAvx2(const uint32_t* p, int32_t n, uint64_t sum[4]) { addChannelSumsScalar(p, n, sum); }

#endif

void addChannelSums(const uint32_t* p, int32_t n, uint64_t sum[4]) {
  switch (simdLevel()) {
    case SimdLevel::Avx2: addChannelSumsAvx2(p, n, sum); break;
    case SimdLevel::Sse2: addChannelSumsSse2(p, n, sum); break;
    case SimdLevel::None: addChannelSumsScalar(p, n, sum); break;
  }
}

}  // namespace vl
