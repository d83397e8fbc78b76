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

#include "DelayKernel.hpp"  // neighbours8

namespace orvane::extensions::audioeffects::support {

// The lanes' distances from the first phase for one increment, kept while the rate stays:
// lanes 0, 1, 4 and 5 in `near`, lanes 2, 3, 6 and 7 two steps further. In that order one
// shuffle takes every phase's index and fraction bits back into frame order (see below).
struct OscillatorSteps {
  std::uint64_t increment = 0;
  __m256i near{};      // {0, 1, 4, 5} × increment
  __m256i twoSteps{};  // 2 × increment in every lane
};

__attribute__((target("avx2"))) inline void setSteps(OscillatorSteps& steps,
                                                     std::uint64_t increment) noexcept {
  auto lane = [increment](std::uint64_t k) { return static_cast<long long>(k * increment); };
  steps.increment = increment;
  steps.near = _mm256_setr_epi64x(0, lane(1), lane(4), lane(5));
  steps.twoSteps = _mm256_set1_epi64x(lane(2));
}

// Unsigned 32-bit lanes to float, rounded once as a scalar conversion rounds: the two 16-bit
// halves convert exactly, the high one scales exactly, and their sum is the one rounding.
__attribute__((target("avx2"))) inline __m256 unsignedToFloat(__m256i bits) noexcept {
  constexpr float kHalfScale = 65536.0f;
  const __m256 high = _mm256_cvtepi32_ps(_mm256_srli_epi32(bits, 16));
  const __m256 low = _mm256_cvtepi32_ps(_mm256_and_si256(bits, _mm256_set1_epi32(0xFFFF)));
  return _mm256_add_ps(_mm256_mul_ps(high, _mm256_set1_ps(kHalfScale)), low);
}

// `steps` belongs to this oscillator (start it default-constructed): it is refreshed whenever
// the increment changes.
__attribute__((target("avx2"))) inline __m256 oscillator8(LFO& lfo, int sampleRate,
                                                          OscillatorSteps& steps) noexcept {
  constexpr int kLanes = 8;
  // Shifted right by 20, a phase's low 32 bits are its fraction bits and its high 32 bits its
  // table index (the top 12 bits of the phase).
  constexpr int kFractionShift = LFO::kFractionBits - 32;
  static_assert(LFO::kFractionBits - kFractionShift == 32);
  constexpr float kFractionScale = 1.0f / static_cast<float>(1ULL << 32);
  const LFO::Run run = lfo.beginRun(sampleRate);
  lfo.advance(kLanes);
  if (run.increment != steps.increment) [[unlikely]] setSteps(steps, run.increment);
  const __m256i phases0145 =
      _mm256_add_epi64(_mm256_set1_epi64x(static_cast<long long>(run.phase)), steps.near);
  const __m256i phases2367 = _mm256_add_epi64(phases0145, steps.twoSteps);
  // 32-bit halves, per 128-bit half: {fraction, index} of lanes 0, 1 (4, 5) and of 2, 3 (6, 7).
  const __m256 halves0145 = _mm256_castsi256_ps(_mm256_srli_epi64(phases0145, kFractionShift));
  const __m256 halves2367 = _mm256_castsi256_ps(_mm256_srli_epi64(phases2367, kFractionShift));
  const __m256i index = _mm256_castps_si256(
      _mm256_shuffle_ps(halves0145, halves2367, _MM_SHUFFLE(3, 1, 3, 1)));
  const __m256 fraction = _mm256_mul_ps(
      unsignedToFloat(_mm256_castps_si256(
          _mm256_shuffle_ps(halves0145, halves2367, _MM_SHUFFLE(2, 0, 2, 0)))),
      _mm256_set1_ps(kFractionScale));

  __m256 a;
  __m256 b;
  neighbours8(detail::kSineTable.data(), static_cast<int>(detail::kSineTable.size()), index,
              _mm256_add_epi32(index, _mm256_set1_epi32(1)), a, b);
  const __m256 sine = _mm256_add_ps(a, _mm256_mul_ps(fraction, _mm256_sub_ps(b, a)));
  return _mm256_add_ps(_mm256_set1_ps(run.offset),
                       _mm256_mul_ps(_mm256_set1_ps(run.amplitude), sine));
}

}  // namespace orvane::extensions::audioeffects::support

#endif  // ORVANE_VECTOR_KERNELS
