#pragma once

// Eight steps of an oscillator at once with AVX2, lane k holding what the k-th of eight
// LFO::process() calls returns, through the same IEEE operations:
//
//   phase_k  = phase + k × increment                    (64-bit fixed point, modulo 2^64)
//   index    = phase_k >> 52;  fraction = float(bits 51..20 of phase_k) × 2^-32
//   sine     = table[index] + fraction × (table[index + 1] − table[index])
//   value    = offset + amplitude × sine
//
// The rate is loaded once for the eight (LFO::beginRun). The table points come from one
// eight-point window permuted in registers when the eight indices lie within it, which holds
// for rates up to about one table step per sample (11.7 Hz at 48 kHz, 10.7 Hz at 44.1 kHz:
// every default and the usual sweep rates), and from gathers otherwise.

#include "VectorPath.hpp"

#if ORVANE_VECTOR_KERNELS
#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <orvane/sdk/LFO.hpp>

namespace orvane::extensions::audioeffects::support {

// The low 32 bits of the four 64-bit lanes of `low` and of `high`, as eight lanes in order.
__attribute__((target("avx2"))) inline __m256i low32Lanes(__m256i low, __m256i high) noexcept {
  const __m256i evens = _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6);
  return _mm256_blend_epi32(_mm256_permutevar8x32_epi32(low, evens),
                            _mm256_permutevar8x32_epi32(high, evens), 0xF0);
}

// Unsigned 32-bit lanes to float, rounded once as a scalar conversion rounds: the two 16-bit
// halves convert exactly, the high one scales exactly, and their sum is the one rounding.
__attribute__((target("avx2"))) inline __m256 unsignedToFloat(__m256i bits) noexcept {
  constexpr float kHalfScale = 65536.0f;
  const __m256 high = _mm256_cvtepi32_ps(_mm256_srli_epi32(bits, 16));
  const __m256 low = _mm256_cvtepi32_ps(_mm256_and_si256(bits, _mm256_set1_epi32(0xFFFF)));
  return _mm256_add_ps(_mm256_mul_ps(high, _mm256_set1_ps(kHalfScale)), low);
}

__attribute__((target("avx2"))) inline __m256 oscillator8(LFO& lfo, int sampleRate) noexcept {
  constexpr int kLanes = 8;
  constexpr int kIndexShift = LFO::kFractionBits;          // 52: the table point
  constexpr int kFractionShift = LFO::kFractionBits - 32;  // 20: the 32 bits below it
  constexpr float kFractionScale = 1.0f / static_cast<float>(1ULL << 32);
  const LFO::Run run = lfo.beginRun(sampleRate);
  lfo.advance(kLanes);
  const std::uint64_t step = run.increment;
  const __m256i phases0123 = _mm256_add_epi64(
      _mm256_set1_epi64x(static_cast<long long>(run.phase)),
      _mm256_setr_epi64x(0, static_cast<long long>(step), static_cast<long long>(2 * step),
                         static_cast<long long>(3 * step)));
  const __m256i phases4567 =
      _mm256_add_epi64(phases0123, _mm256_set1_epi64x(static_cast<long long>(4 * step)));
  const __m256i index = low32Lanes(_mm256_srli_epi64(phases0123, kIndexShift),
                                   _mm256_srli_epi64(phases4567, kIndexShift));
  const __m256 fraction = _mm256_mul_ps(
      unsignedToFloat(low32Lanes(_mm256_srli_epi64(phases0123, kFractionShift),
                                 _mm256_srli_epi64(phases4567, kFractionShift))),
      _mm256_set1_ps(kFractionScale));

  const float* table = detail::kSineTable.data();
  const int first = _mm_cvtsi128_si32(_mm256_castsi256_si128(index));
  const int base = std::min(first, _mm256_extract_epi32(index, kLanes - 1));
  const __m256i offsets = _mm256_sub_epi32(index, _mm256_set1_epi32(base));
  __m256 a;
  __m256 b;
  if (base + kLanes <= LFO::kTableSize &&
      _mm256_testz_si256(offsets, _mm256_set1_epi32(~(kLanes - 1)))) {
    a = _mm256_permutevar8x32_ps(_mm256_loadu_ps(table + base), offsets);
    b = _mm256_permutevar8x32_ps(_mm256_loadu_ps(table + base + 1), offsets);
  } else {
    a = _mm256_i32gather_ps(table, index, 4);
    b = _mm256_i32gather_ps(table, _mm256_add_epi32(index, _mm256_set1_epi32(1)), 4);
  }
  const __m256 sine = _mm256_add_ps(a, _mm256_mul_ps(fraction, _mm256_sub_ps(b, a)));
  return _mm256_add_ps(_mm256_set1_ps(run.offset),
                       _mm256_mul_ps(_mm256_set1_ps(run.amplitude), sine));
}

}  // namespace orvane::extensions::audioeffects::support

#endif  // ORVANE_VECTOR_KERNELS
