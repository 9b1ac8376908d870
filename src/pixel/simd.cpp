#include "pixel/simd.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace vl {
namespace {

SimdLevel processorLevel() {
#if defined(__x86_64__) || defined(__i386__)
  if (__builtin_cpu_supports("avx2")) return SimdLevel::Avx2;
#endif
#if defined(__SSE2__)
  return SimdLevel::Sse2;
#else
  return SimdLevel::None;
#endif
}

SimdLevel startLevel() {
  const char* v = std::getenv("VL_SIMD");
  if (v && (std::strcmp(v, "none") == 0 || std::strcmp(v, "0") == 0)) return SimdLevel::None;
  if (v && std::strcmp(v, "sse2") == 0 && processorLevel() >= SimdLevel::Sse2) return SimdLevel::Sse2;
  return processorLevel();
}

std::atomic<int>& level() {
  static std::atomic<int> l{int(startLevel())};
  return l;
}

}  // namespace

SimdLevel simdLevel() { return SimdLevel(level().load(std::memory_order_relaxed)); }

SimdLevel setSimdLevel(SimdLevel wanted) {
  const SimdLevel most = processorLevel();
  level().store(int(wanted > most ? most : wanted), std::memory_order_relaxed);
  return simdLevel();
}

}  // namespace vl
