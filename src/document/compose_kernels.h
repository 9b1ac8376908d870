#pragma once
// Row kernels of the commonest modes in SSE2 (every x86-64 has it), and in
// AVX2 where the processor has it, each the exact twin of its scalar
// template: the tests compare them pixel for pixel.
#include <cstdint>

namespace vl {

// Normal (standard) mode: blendRGB at opacity × source alpha ÷ 255.
void composeRowNormalSimd(uint32_t* dst, const uint32_t* src, int32_t n, int opacity);
// Multiply mode: the multiply ink at opacity × source alpha ÷ 255.
void composeRowMultiplySimd(uint32_t* dst, const uint32_t* src, int32_t n, int opacity);
// The kernel either of them calls at the SIMD level in force, for loops that
// choose once and then call it row after row.
using ComposeRowKernel = void (*)(uint32_t* dst, const uint32_t* src, int32_t n, int opacity);
ComposeRowKernel composeRowNormalKernel();
ComposeRowKernel composeRowMultiplyKernel();
// The SSE2 versions alone, whatever the processor has (tests compare both widths).
void composeRowNormalSse2(uint32_t* dst, const uint32_t* src, int32_t n, int opacity);
void composeRowMultiplySse2(uint32_t* dst, const uint32_t* src, int32_t n, int opacity);

// One colour over a row in the normal mode.
void composeFillNormalSimd(uint32_t* dst, uint32_t colour, int32_t n, int opacity);

// The scalar versions, for comparison.
void composeRowNormalScalar(uint32_t* dst, const uint32_t* src, int32_t n, int opacity);
void composeRowMultiplyScalar(uint32_t* dst, const uint32_t* src, int32_t n, int opacity);
void composeFillNormalScalar(uint32_t* dst, uint32_t colour, int32_t n, int opacity);

}  // namespace vl
