#include "document/compose_kernels.h"

#include "pixel/pixel_math.h"

#include "pixel/simd.h"

#if defined(__SSE2__)
#include <immintrin.h>
#define VL_HAVE_SSE2 1
#endif

namespace vl {

// The scalar rules, written once.
static inline int strengthOf(int opacity, uint32_t s) { return opacity * int(alpha(s)) / 255; }

void composeRowNormalScalar(uint32_t* dst, const uint32_t* src, int32_t n, int opacity) {
  for (int32_t i = 0; i < n; ++i)
    if (alpha(src[i])) dst[i] = blendRGB(dst[i], src[i], strengthOf(opacity, src[i]));
}

void composeRowMultiplyScalar(uint32_t* dst, const uint32_t* src, int32_t n, int opacity) {
  for (int32_t i = 0; i < n; ++i)
    if (alpha(src[i])) dst[i] = inkMultiply(dst[i], src[i], strengthOf(opacity, src[i]));
}

void composeFillNormalScalar(uint32_t* dst, uint32_t colour, int32_t n, int opacity) {
  const int t = strengthOf(opacity, colour);
  if (t == 0) return;
  for (int32_t i = 0; i < n; ++i) dst[i] = blendRGB(dst[i], colour, t);
}

#if VL_HAVE_SSE2
namespace {

// Every product here is a × b with a, b ≤ 255, so (x × 32897) >> 23 is the
// exact x ÷ 255 of the scalar code, and it fits 16-bit lanes:
// ((x × 32897) >> 16) >> 7.
inline __m128i div255(__m128i x) { return _mm_srli_epi16(_mm_mulhi_epu16(x, _mm_set1_epi16(int16_t(32897))), 7); }

// Per-pixel strength t = opacity × alpha ÷ 255, spread over the pixel's four
// 16-bit lanes, for pixels 0–1 (lo) and 2–3 (hi) of s.
inline void strengths(__m128i s, __m128i opacity16, bool full, __m128i& lo, __m128i& hi) {
  __m128i a = _mm_srli_epi32(s, 24);               // alpha in each 32-bit lane
  if (!full) a = div255(_mm_mullo_epi16(a, opacity16));  // the high halves stay 0
  a = _mm_or_si128(a, _mm_slli_epi32(a, 16));      // t in both 16-bit halves
  lo = _mm_unpacklo_epi32(a, a);
  hi = _mm_unpackhi_epi32(a, a);
}

// lerp8 of every byte: (s × t + d × (255 − t)) × 32897 >> 23.
inline __m128i lerp(__m128i s16, __m128i d16, __m128i t16) {
  const __m128i x = _mm_add_epi16(_mm_mullo_epi16(s16, t16),
                                  _mm_mullo_epi16(d16, _mm_sub_epi16(_mm_set1_epi16(255), t16)));
  return div255(x);
}

// Multiply ink of every byte: c × (255 − t × (255 − s) ÷ 255) ÷ 255.
inline __m128i multiply(__m128i s16, __m128i d16, __m128i t16) {
  const __m128i k255 = _mm_set1_epi16(255);
  const __m128i inv = _mm_sub_epi16(k255, div255(_mm_mullo_epi16(t16, _mm_sub_epi16(k255, s16))));
  return div255(_mm_mullo_epi16(d16, inv));
}

template <bool Multiply>
void composeRowSimd(uint32_t* dst, const uint32_t* src, int32_t n, int opacity) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i alphaMask = _mm_set1_epi32(int32_t(0xFF000000u));
  const __m128i opacity16 = _mm_set1_epi32(opacity);
  const bool full = opacity == 255;
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i));
    // Nothing to do where all four are transparent.
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_and_si128(s, alphaMask), zero)) == 0xFFFF) continue;
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i));
    __m128i tlo, thi;
    strengths(s, opacity16, full, tlo, thi);
    const __m128i slo = _mm_unpacklo_epi8(s, zero), shi = _mm_unpackhi_epi8(s, zero);
    const __m128i dlo = _mm_unpacklo_epi8(d, zero), dhi = _mm_unpackhi_epi8(d, zero);
    __m128i rlo, rhi;
    if constexpr (Multiply) {
      rlo = multiply(slo, dlo, tlo);
      rhi = multiply(shi, dhi, thi);
    } else {
      rlo = lerp(slo, dlo, tlo);
      rhi = lerp(shi, dhi, thi);
    }
    const __m128i r = _mm_packus_epi16(rlo, rhi);
    // The destination keeps its alpha.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                     _mm_or_si128(_mm_andnot_si128(alphaMask, r), _mm_and_si128(alphaMask, d)));
  }
  if constexpr (Multiply) {
    composeRowMultiplyScalar(dst + i, src + i, n - i, opacity);
  } else {
    composeRowNormalScalar(dst + i, src + i, n - i, opacity);
  }
}

}  // namespace

// The same kernels eight pixels at a time where the processor has AVX2. The
// arithmetic is the same integer arithmetic, so the results are identical.
namespace avx2 {

#define VL_AVX2 __attribute__((target("avx2")))

VL_AVX2 inline __m256i div255(__m256i x) {
  return _mm256_srli_epi16(_mm256_mulhi_epu16(x, _mm256_set1_epi16(int16_t(32897))), 7);
}

template <bool Multiply>
VL_AVX2 void composeRow(uint32_t* dst, const uint32_t* src, int32_t n, int opacity) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i alphaMask = _mm256_set1_epi32(int32_t(0xFF000000u));
  const __m256i opacity16 = _mm256_set1_epi32(opacity);
  const __m256i k255 = _mm256_set1_epi16(255);
  const bool full = opacity == 255;
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    const __m256i sa = _mm256_and_si256(s, alphaMask);
    if (_mm256_testz_si256(sa, sa)) continue;  // all eight transparent
    const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i));
    __m256i a = _mm256_srli_epi32(s, 24);
    if (!full) a = div255(_mm256_mullo_epi16(a, opacity16));
    a = _mm256_or_si256(a, _mm256_slli_epi32(a, 16));
    const __m256i tlo = _mm256_unpacklo_epi32(a, a), thi = _mm256_unpackhi_epi32(a, a);
    const __m256i slo = _mm256_unpacklo_epi8(s, zero), shi = _mm256_unpackhi_epi8(s, zero);
    const __m256i dlo = _mm256_unpacklo_epi8(d, zero), dhi = _mm256_unpackhi_epi8(d, zero);
    __m256i rlo, rhi;
    if constexpr (Multiply) {
      const __m256i invlo = _mm256_sub_epi16(k255, div255(_mm256_mullo_epi16(tlo, _mm256_sub_epi16(k255, slo))));
      const __m256i invhi = _mm256_sub_epi16(k255, div255(_mm256_mullo_epi16(thi, _mm256_sub_epi16(k255, shi))));
      rlo = div255(_mm256_mullo_epi16(dlo, invlo));
      rhi = div255(_mm256_mullo_epi16(dhi, invhi));
    } else {
      rlo = div255(_mm256_add_epi16(_mm256_mullo_epi16(slo, tlo), _mm256_mullo_epi16(dlo, _mm256_sub_epi16(k255, tlo))));
      rhi = div255(_mm256_add_epi16(_mm256_mullo_epi16(shi, thi), _mm256_mullo_epi16(dhi, _mm256_sub_epi16(k255, thi))));
    }
    const __m256i r = _mm256_packus_epi16(rlo, rhi);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i),
                        _mm256_or_si256(_mm256_andnot_si256(alphaMask, r), _mm256_and_si256(alphaMask, d)));
  }
  // Whole tile rows end here; only a clipped row has a rest.
  if (i < n) composeRowSimd<Multiply>(dst + i, src + i, n - i, opacity);
}

#undef VL_AVX2

}  // namespace avx2

void composeRowNormalSimd(uint32_t* dst, const uint32_t* src, int32_t n, int opacity) {
  switch (simdLevel()) {
    case SimdLevel::Avx2: avx2::composeRow<false>(dst, src, n, opacity); break;
    case SimdLevel::Sse2: composeRowSimd<false>(dst, src, n, opacity); break;
    case SimdLevel::None: composeRowNormalScalar(dst, src, n, opacity); break;
  }
}

void composeRowMultiplySimd(uint32_t* dst, const uint32_t* src, int32_t n, int opacity) {
  switch (simdLevel()) {
    case SimdLevel::Avx2: avx2::composeRow<true>(dst, src, n, opacity); break;
    case SimdLevel::Sse2: composeRowSimd<true>(dst, src, n, opacity); break;
    case SimdLevel::None: composeRowMultiplyScalar(dst, src, n, opacity); break;
  }
}

void composeRowNormalSse2(uint32_t* dst, const uint32_t* src, int32_t n, int opacity) {
  composeRowSimd<false>(dst, src, n, opacity);
}

void composeRowMultiplySse2(uint32_t* dst, const uint32_t* src, int32_t n, int opacity) {
  composeRowSimd<true>(dst, src, n, opacity);
}

void composeFillNormalSimd(uint32_t* dst, uint32_t colour, int32_t n, int opacity) {
  if (simdLevel() == SimdLevel::None) return composeFillNormalScalar(dst, colour, n, opacity);
  const int t = strengthOf(opacity, colour);
  if (t == 0) return;
  const __m128i zero = _mm_setzero_si128();
  const __m128i alphaMask = _mm_set1_epi32(int32_t(0xFF000000u));
  const __m128i c16 = _mm_unpacklo_epi8(_mm_set1_epi32(int32_t(colour)), zero);
  const __m128i t16 = _mm_set1_epi16(int16_t(t));
  // (c × t) is the same for every pixel; only the destination term varies.
  const __m128i ct = _mm_mullo_epi16(c16, t16);
  const __m128i inv = _mm_set1_epi16(int16_t(255 - t));
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + i));
    const __m128i dlo = _mm_unpacklo_epi8(d, zero), dhi = _mm_unpackhi_epi8(d, zero);
    const __m128i rlo = div255(_mm_add_epi16(ct, _mm_mullo_epi16(dlo, inv)));
    const __m128i rhi = div255(_mm_add_epi16(ct, _mm_mullo_epi16(dhi, inv)));
    const __m128i r = _mm_packus_epi16(rlo, rhi);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                     _mm_or_si128(_mm_andnot_si128(alphaMask, r), _mm_and_si128(alphaMask, d)));
  }
  for (; i < n; ++i) dst[i] = blendRGB(dst[i], colour, t);
}

#else

void composeRowNormalSse2(uint32_t* dst, const uint32_t* src, int32_t n, int opacity) {
  composeRowNormalScalar(dst, src, n, opacity);
}
void composeRowMultiplySse2(uint32_t* dst, const uint32_t* src, int32_t n, int opacity) {
  composeRowMultiplyScalar(dst, src, n, opacity);
}
void composeRowNormalSimd(uint32_t* dst, const uint32_t* src, int32_t n, int opacity) {
  composeRowNormalScalar(dst, src, n, opacity);
}
void composeRowMultiplySimd(uint32_t* dst, const uint32_t* src, int32_t n, int opacity) {
  composeRowMultiplyScalar(dst, src, n, opacity);
}
void composeFillNormalSimd(uint32_t* dst, uint32_t colour, int32_t n, int opacity) {
  composeFillNormalScalar(dst, colour, n, opacity);
}

#endif

}  // namespace vl
