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

// Each pixel's bytes split into 16-bit lanes without crossing lanes: blue
// and red by masking (even bytes), green and alpha by shifting (odd bytes),
// put back with a shift and an or. The strength goes into the colour lanes
// and 0 into the alpha lane, where both formulas then give the destination's
// alpha back exactly ((d × 255 × 32897) >> 23 is d), so it needs no mask.
template <bool Multiply>
VL_AVX2 void composeRow(uint32_t* dst, const uint32_t* src, int32_t n, int opacity) {
  const __m256i alphaMask = _mm256_set1_epi32(int32_t(0xFF000000u));
  const __m256i evenBytes = _mm256_set1_epi16(0x00FF);
  const __m256i k255 = _mm256_set1_epi16(255);
  const __m256i opacity16 = _mm256_set1_epi32(opacity);
  // Byte 3 of each pixel (its strength) into the even lanes, and into the green lane of the odd ones.
  const __m256i spreadEven = _mm256_setr_epi8(3, -1, 3, -1, 7, -1, 7, -1, 11, -1, 11, -1, 15, -1, 15, -1,  //
                                              3, -1, 3, -1, 7, -1, 7, -1, 11, -1, 11, -1, 15, -1, 15, -1);
  const __m256i spreadOdd = _mm256_setr_epi8(3, -1, -1, -1, 7, -1, -1, -1, 11, -1, -1, -1, 15, -1, -1, -1,  //
                                             3, -1, -1, -1, 7, -1, -1, -1, 11, -1, -1, -1, 15, -1, -1, -1);
  const bool full = opacity == 255;
  int32_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + i));
    if (_mm256_testz_si256(s, alphaMask)) continue;  // all eight transparent
    const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(dst + i));
    __m256i strength = s;
    if (!full) strength = _mm256_slli_epi32(div255(_mm256_mullo_epi16(_mm256_srli_epi32(s, 24), opacity16)), 24);
    const __m256i te = _mm256_shuffle_epi8(strength, spreadEven), to = _mm256_shuffle_epi8(strength, spreadOdd);
    const __m256i se = _mm256_and_si256(s, evenBytes), so = _mm256_srli_epi16(s, 8);
    const __m256i de = _mm256_and_si256(d, evenBytes), dd = _mm256_srli_epi16(d, 8);
    __m256i re, ro;
    if constexpr (Multiply) {
      const __m256i inve = _mm256_sub_epi16(k255, div255(_mm256_mullo_epi16(te, _mm256_sub_epi16(k255, se))));
      const __m256i invo = _mm256_sub_epi16(k255, div255(_mm256_mullo_epi16(to, _mm256_sub_epi16(k255, so))));
      re = div255(_mm256_mullo_epi16(de, inve));
      ro = div255(_mm256_mullo_epi16(dd, invo));
    } else {
      re = div255(_mm256_add_epi16(_mm256_mullo_epi16(se, te), _mm256_mullo_epi16(de, _mm256_sub_epi16(k255, te))));
      ro = div255(_mm256_add_epi16(_mm256_mullo_epi16(so, to), _mm256_mullo_epi16(dd, _mm256_sub_epi16(k255, to))));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + i), _mm256_or_si256(re, _mm256_slli_epi16(ro, 8)));
  }
  // Whole tile rows end here; only a clipped row has a rest.
  if (i < n) composeRowSimd<Multiply>(dst + i, src + i, n - i, opacity);
}


#undef VL_AVX2

}  // namespace avx2

ComposeRowKernel composeRowNormalKernel() {
  switch (simdLevel()) {
    case SimdLevel::Avx2: return avx2::composeRow<false>;
    case SimdLevel::Sse2: return composeRowSimd<false>;
    case SimdLevel::None: break;
  }
  return composeRowNormalScalar;
}

ComposeRowKernel composeRowMultiplyKernel() {
  switch (simdLevel()) {
    case SimdLevel::Avx2: return avx2::composeRow<true>;
    case SimdLevel::Sse2: return composeRowSimd<true>;
    case SimdLevel::None: break;
  }
  return composeRowMultiplyScalar;
}

void composeRowNormalSimd(uint32_t* dst, const uint32_t* src, int32_t n, int opacity) {
  composeRowNormalKernel()(dst, src, n, opacity);
}

void composeRowMultiplySimd(uint32_t* dst, const uint32_t* src, int32_t n, int opacity) {
  composeRowMultiplyKernel()(dst, src, n, opacity);
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

ComposeRowKernel composeRowNormalKernel() { return composeRowNormalScalar; }
ComposeRowKernel composeRowMultiplyKernel() { return composeRowMultiplyScalar; }
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
