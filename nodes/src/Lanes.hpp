#pragma once

// The vector operations the kernels are written in, for the instruction set the
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
#include <cstdint>

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
ORVANE_KERNEL inline Floats sub(Floats a, Floats b) noexcept { return _mm256_sub_ps(a, b); }
// Masks are all ones in the lanes where they hold.
ORVANE_KERNEL inline Floats atLeast(Floats a, Floats b) noexcept {
  return _mm256_cmp_ps(a, b, _CMP_GE_OQ);
}
ORVANE_KERNEL inline Floats below(Floats a, Floats b) noexcept {
  return _mm256_cmp_ps(a, b, _CMP_LT_OQ);
}
ORVANE_KERNEL inline Floats both(Floats a, Floats b) noexcept { return _mm256_and_ps(a, b); }
ORVANE_KERNEL inline bool all(Floats mask) noexcept { return _mm256_movemask_ps(mask) == 0xFF; }
ORVANE_KERNEL inline Floats select(Floats mask, Floats ifSet, Floats otherwise) noexcept {
  return _mm256_blendv_ps(otherwise, ifSet, mask);
}

using Ints = __m256i;
ORVANE_KERNEL inline Ints splatInt(int value) noexcept { return _mm256_set1_epi32(value); }
ORVANE_KERNEL inline void storeInts(std::int32_t* at, Ints v) noexcept {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), v);
}
ORVANE_KERNEL inline Ints iota() noexcept { return _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7); }
ORVANE_KERNEL inline Ints addInts(Ints a, Ints b) noexcept { return _mm256_add_epi32(a, b); }
ORVANE_KERNEL inline Ints greater(Ints a, Ints b) noexcept { return _mm256_cmpgt_epi32(a, b); }
ORVANE_KERNEL inline Ints equal(Ints a, Ints b) noexcept { return _mm256_cmpeq_epi32(a, b); }
ORVANE_KERNEL inline Ints bothInts(Ints a, Ints b) noexcept { return _mm256_and_si256(a, b); }
ORVANE_KERNEL inline Ints eitherInts(Ints a, Ints b) noexcept { return _mm256_or_si256(a, b); }
// v where the mask does not hold, 0 where it does.
ORVANE_KERNEL inline Ints unless(Ints mask, Ints v) noexcept {
  return _mm256_andnot_si256(mask, v);
}
ORVANE_KERNEL inline bool none(Ints mask) noexcept { return _mm256_testz_si256(mask, mask); }
ORVANE_KERNEL inline Floats toFloats(Ints v) noexcept { return _mm256_cvtepi32_ps(v); }
// Truncated toward zero; the kernels use it on positions already known to lie in the ring.
ORVANE_KERNEL inline Ints truncate(Floats v) noexcept { return _mm256_cvttps_epi32(v); }
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
inline Floats sub(Floats a, Floats b) noexcept { return wasm_f32x4_sub(a, b); }
inline Floats atLeast(Floats a, Floats b) noexcept { return wasm_f32x4_ge(a, b); }
inline Floats below(Floats a, Floats b) noexcept { return wasm_f32x4_lt(a, b); }
inline Floats both(Floats a, Floats b) noexcept { return wasm_v128_and(a, b); }
inline bool all(Floats mask) noexcept { return wasm_i32x4_all_true(mask); }
inline Floats select(Floats mask, Floats ifSet, Floats otherwise) noexcept {
  return wasm_v128_bitselect(ifSet, otherwise, mask);
}

using Ints = v128_t;
inline Ints splatInt(int value) noexcept { return wasm_i32x4_splat(value); }
inline void storeInts(std::int32_t* at, Ints v) noexcept { wasm_v128_store(at, v); }
inline Ints iota() noexcept { return wasm_i32x4_make(0, 1, 2, 3); }
inline Ints addInts(Ints a, Ints b) noexcept { return wasm_i32x4_add(a, b); }
inline Ints greater(Ints a, Ints b) noexcept { return wasm_i32x4_gt(a, b); }
inline Ints equal(Ints a, Ints b) noexcept { return wasm_i32x4_eq(a, b); }
inline Ints bothInts(Ints a, Ints b) noexcept { return wasm_v128_and(a, b); }
inline Ints eitherInts(Ints a, Ints b) noexcept { return wasm_v128_or(a, b); }
inline Ints unless(Ints mask, Ints v) noexcept { return wasm_v128_andnot(v, mask); }
inline bool none(Ints mask) noexcept { return !wasm_v128_any_true(mask); }
inline Floats toFloats(Ints v) noexcept { return wasm_f32x4_convert_i32x4(v); }
inline Ints truncate(Floats v) noexcept { return wasm_i32x4_trunc_sat_f32x4(v); }
#endif

// A setting, loaded once (sequentially consistent, as every read of a setting is) and put in
// every lane.
ORVANE_KERNEL inline Floats broadcast(const std::atomic<float>& setting) noexcept {
  return splat(setting.load());
}

}  // namespace orvane::extensions::audioeffects::support::lanes

#endif
