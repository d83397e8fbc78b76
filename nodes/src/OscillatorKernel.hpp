#pragma once

// A vector's width of oscillator steps at once (eight with AVX2, four with WebAssembly SIMD128),
// lane k holding what the k-th of that many LFO::process() calls returns, through the same
// IEEE operations:
//
//   phase_k  = phase + k × increment                    (64-bit fixed point, modulo 2^64)
//   index    = phase_k >> 52;  fraction = float(bits 51..20 of phase_k) × 2^-32
//   sine     = table[index] + fraction × (table[index + 1] − table[index])
//   value    = offset + amplitude × sine
//
// The rate is loaded once for the run (LFO::beginRun). The table points come from one window
// permuted in registers when the indices lie within it, which holds for rates up to about one
// table step per sample (11.7 Hz at 48 kHz, 10.7 Hz at 44.1 kHz: every default and the usual
// sweep rates), and lane by lane otherwise (neighbours).

#include "Lanes.hpp"

#if ORVANE_VECTOR_KERNELS || ORVANE_WASM_KERNELS
#include <algorithm>
#include <cstdint>
#include <orvane/sdk/LFO.hpp>

#include "DelayKernel.hpp"  // neighbours, kVectorFrames

namespace orvane::extensions::audioeffects::support {

// Shifted right by this, a phase's low 32 bits are its fraction bits and its high 32 bits its
// table index (the top 12 bits of the phase).
inline constexpr int kFractionShift = LFO::kFractionBits - 32;
static_assert(LFO::kFractionBits - kFractionShift == 32);
inline constexpr float kFractionScale = 1.0f / static_cast<float>(1ULL << 32);

// offset + amplitude × sine, the sine read from the table between point `index` and the next
// at `fraction`: what each instruction set's oscillator does once it has the lanes' phases.
[[gnu::always_inline]] ORVANE_KERNEL inline lanes::Floats oscillatorValue(
    const LFO::Run& run, lanes::Ints index, lanes::Floats fraction) noexcept {
  lanes::Floats a;
  lanes::Floats b;
  neighbours(detail::kSineTable.data(), static_cast<int>(detail::kSineTable.size()), index,
             lanes::addInts(index, lanes::splatInt(1)), a, b);
  const lanes::Floats sine = lanes::add(a, lanes::mul(fraction, lanes::sub(b, a)));
  return lanes::add(lanes::splat(run.offset), lanes::mul(lanes::splat(run.amplitude), sine));
}

#if ORVANE_VECTOR_KERNELS

// Unsigned 32-bit lanes to float, rounded once as a scalar conversion rounds: the two 16-bit
// halves convert exactly, the high one scales exactly, and their sum is the one rounding.
__attribute__((target("avx2"))) inline __m256 unsignedToFloat(__m256i bits) noexcept {
  constexpr float kHalfScale = 65536.0f;
  const __m256 high = _mm256_cvtepi32_ps(_mm256_srli_epi32(bits, 16));
  const __m256 low = _mm256_cvtepi32_ps(_mm256_and_si256(bits, _mm256_set1_epi32(0xFFFF)));
  return _mm256_add_ps(_mm256_mul_ps(high, _mm256_set1_ps(kHalfScale)), low);
}

// An oscillator stepped through a run of steps in registers: begin() loads the rate once
// (LFO::beginRun), next() carries the phases from step to step. The caller advances the LFO by
// the frames the run took (LFO::advance) when it ends. The lanes hold phases 0, 1, 4 and 5 in
// one register and 2, 3, 6 and 7 in the other: in that order one shuffle takes every phase's
// index and fraction bits back into frame order (see next()).
// Nothing is initialised before begin(), which sets every member: a block of 16 frames would
// otherwise pay for clearing registers it is about to fill, a tenth of its cost.
class OscillatorRun {
 public:
  __attribute__((target("avx2"))) void begin(LFO& lfo, int sampleRate) noexcept {
    run_ = lfo.beginRun(sampleRate);
    const std::uint64_t increment = run_.increment;
    auto lane = [increment](std::uint64_t k) { return static_cast<long long>(k * increment); };
    phases0145_ = _mm256_add_epi64(_mm256_set1_epi64x(static_cast<long long>(run_.phase)),
                                   _mm256_setr_epi64x(0, lane(1), lane(4), lane(5)));
    phases2367_ = _mm256_add_epi64(phases0145_, _mm256_set1_epi64x(lane(2)));
    stride_ = _mm256_set1_epi64x(lane(kVectorFrames));
  }

  // The next step's values, lane k the k-th frame's.
  [[gnu::always_inline]] __attribute__((target("avx2"))) inline __m256 next() noexcept {
    // 32-bit halves, per 128-bit half: {fraction, index} of lanes 0, 1 (4, 5) and of 2, 3 (6, 7).
    const __m256 halves0145 =
        _mm256_castsi256_ps(_mm256_srli_epi64(phases0145_, kFractionShift));
    const __m256 halves2367 =
        _mm256_castsi256_ps(_mm256_srli_epi64(phases2367_, kFractionShift));
    phases0145_ = _mm256_add_epi64(phases0145_, stride_);
    phases2367_ = _mm256_add_epi64(phases2367_, stride_);
    const __m256i index = _mm256_castps_si256(
        _mm256_shuffle_ps(halves0145, halves2367, _MM_SHUFFLE(3, 1, 3, 1)));
    const __m256 fraction = _mm256_mul_ps(
        unsignedToFloat(_mm256_castps_si256(
            _mm256_shuffle_ps(halves0145, halves2367, _MM_SHUFFLE(2, 0, 2, 0)))),
        _mm256_set1_ps(kFractionScale));
    return oscillatorValue(run_, index, fraction);
  }

 private:
  LFO::Run run_;
  __m256i phases0145_;
  __m256i phases2367_;
  __m256i stride_;
};

#else  // WebAssembly SIMD128

// As the AVX2 OscillatorRun above, four lanes.
class OscillatorRun {
 public:
  void begin(LFO& lfo, int sampleRate) noexcept {
    run_ = lfo.beginRun(sampleRate);
    const std::uint64_t increment = run_.increment;
    phases01_ = wasm_i64x2_add(wasm_u64x2_splat(run_.phase), wasm_u64x2_make(0, increment));
    phases23_ = wasm_i64x2_add(phases01_, wasm_u64x2_splat(2 * increment));
    stride_ = wasm_u64x2_splat(kVectorFrames * increment);
  }

  [[gnu::always_inline]] inline v128_t next() noexcept {
    const v128_t halves01 = wasm_u64x2_shr(phases01_, kFractionShift);
    const v128_t halves23 = wasm_u64x2_shr(phases23_, kFractionShift);
    phases01_ = wasm_i64x2_add(phases01_, stride_);
    phases23_ = wasm_i64x2_add(phases23_, stride_);
    // The high 32-bit halves are the indices, the low ones the fraction bits.
    const v128_t index = wasm_i32x4_shuffle(halves01, halves23, 1, 3, 5, 7);
    // An unsigned conversion rounds once, as the scalar conversion does.
    const v128_t fraction = wasm_f32x4_mul(
        wasm_f32x4_convert_u32x4(wasm_i32x4_shuffle(halves01, halves23, 0, 2, 4, 6)),
        wasm_f32x4_splat(kFractionScale));
    return oscillatorValue(run_, index, fraction);
  }

 private:
  LFO::Run run_;
  v128_t phases01_;
  v128_t phases23_;
  v128_t stride_;
};

#endif

}  // namespace orvane::extensions::audioeffects::support

#endif  // ORVANE_VECTOR_KERNELS || ORVANE_WASM_KERNELS
