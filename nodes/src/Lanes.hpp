#pragma once

// The few vector operations the delays' kernels are written in, for the instruction set the
// build has: AVX2 on x86-64 (eight lanes, taken at run time where the CPU has it) or
// WebAssembly SIMD128 (four lanes, chosen when the module is built with -msimd128; browsers
// without SIMD load the portable build). Each operation is one IEEE operation per lane, the
// same as the per-sample code's, so a kernel written once computes the same floats on both.
// Internal to the library.

#include "VectorPath.hpp"

#if ORVANE_VECTOR_KERNELS
#include <immintrin.h>
// A kernel function: compiled for AVX2 whatever the rest of the library is compiled for.
#define ORVANE_KERNEL __attribute__((target("avx2")))
#elif ORVANE_WASM_KERNELS
#include <wasm_simd128.h>
#define ORVANE_KERNEL
#endif

#if ORVANE_VECTOR_KERNELS || ORVANE_WASM_KERNELS
#include <atomic>

namespace orvane::extensions::audioeffects::support::lanes {

#if ORVANE_VECTOR_KERNELS
using Floats = __m256;
inline constexpr int kCount = 8;
ORVANE_KERNEL inline Floats load(const float* at) noexcept { return _mm256_loadu_ps(at); }
ORVANE_KERNEL inline void store(float* at, Floats v) noexcept { _mm256_storeu_ps(at, v); }
ORVANE_KERNEL inline Floats splat(float value) noexcept { return _mm256_set1_ps(value); }
ORVANE_KERNEL inline Floats add(Floats a, Floats b) noexcept { return _mm256_add_ps(a, b); }
ORVANE_KERNEL inline Floats mul(Floats a, Floats b) noexcept { return _mm256_mul_ps(a, b); }
// storable(v) in every lane: v where v − v is 0 (finite), 0 elsewhere.
ORVANE_KERNEL inline Floats storable(Floats v) noexcept {
  return _mm256_and_ps(v, _mm256_cmp_ps(_mm256_sub_ps(v, v), _mm256_setzero_ps(), _CMP_EQ_OQ));
}
#else
using Floats = v128_t;
inline constexpr int kCount = 4;
inline Floats load(const float* at) noexcept { return wasm_v128_load(at); }
inline void store(float* at, Floats v) noexcept { wasm_v128_store(at, v); }
inline Floats splat(float value) noexcept { return wasm_f32x4_splat(value); }
inline Floats add(Floats a, Floats b) noexcept { return wasm_f32x4_add(a, b); }
inline Floats mul(Floats a, Floats b) noexcept { return wasm_f32x4_mul(a, b); }
inline Floats storable(Floats v) noexcept {
  return wasm_v128_and(v, wasm_f32x4_eq(wasm_f32x4_sub(v, v), wasm_f32x4_splat(0.0f)));
}
#endif

// A setting, loaded once (sequentially consistent, as every read of a setting is) and put in
// every lane.
ORVANE_KERNEL inline Floats broadcast(const std::atomic<float>& setting) noexcept {
  return splat(setting.load());
}

}  // namespace orvane::extensions::audioeffects::support::lanes

#endif
