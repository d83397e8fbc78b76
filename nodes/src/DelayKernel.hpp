#pragma once

// The delay's per-sample loop, a vector of frames at a time (Lanes.hpp: eight with AVX2, four
// with WebAssembly SIMD128). It mirrors, lane by lane, the portable loop in DelayNode.cpp:
//
//   delayed = line.readSample();
//   fedBack = x + feedbackLevel × delayed;
//   y       = x × dryMix + delayed × wetMix;
//   line.writeSample(storable(fedBack)); step both positions;
//
// with every setting loaded once per step (see runDelayVector). A step goes through the vector
// only when, for every channel, neither position wraps within it and no read in it reaches a slot
// written earlier in the same step (the read position is 0 or at least a step's frames behind
// the write position); any other frame takes the portable per-sample code, `sample`, so the
// result is the same floats either way.

#include "Lanes.hpp"

#if ORVANE_VECTOR_KERNELS || ORVANE_WASM_KERNELS
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <orvane/sdk/CircularBuffer.hpp>

namespace orvane::extensions::audioeffects::support {

inline constexpr int kVectorFrames = lanes::kCount;

struct DelaySettings {
  std::atomic<float>& feedbackLevel;
  std::atomic<float>& dryMix;
  std::atomic<float>& wetMix;
};

// How many whole steps this line can take as vectors from here: none when its read lies 1 to
// kVectorFrames − 1 slots behind its write (a step would read what it writes), otherwise as many
// as fit before either position reaches the ring's end. Read and write step together, so the
// answer holds for all those steps.
inline std::uint32_t vectorStepsAhead(const CircularBuffer::Cursor& line) noexcept {
  int behind = line.writePointer - line.readPointer;
  if (behind < 0) behind += line.size;
  if (behind != 0 && behind < kVectorFrames) return 0;
  const int room = line.size - std::max(line.readPointer, line.writePointer);
  return static_cast<std::uint32_t>(room / kVectorFrames);
}

// The two neighbours of a vector of fractional positions from a window of the data permuted in
// registers: a = data[index], b = data[index + 1], where every index lies within one vector's
// width of `base`, the lower of the first and the last lane's, and the window and its successor
// fit below `readable`, which is how a slowly moving read position always looks. False (a and b
// unset) where that does not hold, whatever the indices (any int).
ORVANE_KERNEL inline bool windowNeighbours(const float* data, int readable, lanes::Ints index,
                                           lanes::Floats& a, lanes::Floats& b,
                                           int& base) noexcept {
#if ORVANE_VECTOR_KERNELS
  const int first = _mm_cvtsi128_si32(_mm256_castsi256_si128(index));
  base = std::min(first, _mm256_extract_epi32(index, kVectorFrames - 1));
  const __m256i offsets = _mm256_sub_epi32(index, _mm256_set1_epi32(base));
  if (base < 0 || base >= readable - kVectorFrames ||
      !_mm256_testz_si256(offsets, _mm256_set1_epi32(~(kVectorFrames - 1)))) {
    return false;
  }
  a = _mm256_permutevar8x32_ps(_mm256_loadu_ps(data + base), offsets);
  b = _mm256_permutevar8x32_ps(_mm256_loadu_ps(data + base + 1), offsets);
#else
  base = std::min(wasm_i32x4_extract_lane(index, 0),
                  wasm_i32x4_extract_lane(index, kVectorFrames - 1));
  const v128_t offsets = wasm_i32x4_sub(index, wasm_i32x4_splat(base));
  if (base < 0 || base >= readable - kVectorFrames ||
      wasm_v128_any_true(wasm_v128_and(offsets, wasm_i32x4_splat(~(kVectorFrames - 1))))) {
    return false;
  }
  // Lane k takes bytes 4 × offset_k to 4 × offset_k + 3 of the window.
  constexpr int kByteSpread = 0x04040404;
  constexpr int kByteOrder = 0x03020100;
  const v128_t bytes = wasm_i32x4_add(wasm_i32x4_mul(offsets, wasm_i32x4_splat(kByteSpread)),
                                      wasm_i32x4_splat(kByteOrder));
  a = wasm_i8x16_swizzle(wasm_v128_load(data + base), bytes);
  b = wasm_i8x16_swizzle(wasm_v128_load(data + base + 1), bytes);
#endif
  return true;
}

// The two neighbours of a vector of fractional positions: a = data[index], b = data[next],
// where next is index + 1 (or, in a ring, 0 after the last slot). From the window where it
// serves (windowNeighbours), lane by lane elsewhere (gathers with AVX2). The same floats
// either way.
ORVANE_KERNEL inline void neighbours(const float* data, int readable, lanes::Ints index,
                                     lanes::Ints next, lanes::Floats& a,
                                     lanes::Floats& b) noexcept {
  int base = 0;
  if (windowNeighbours(data, readable, index, a, b, base)) return;
#if ORVANE_VECTOR_KERNELS
  a = _mm256_i32gather_ps(data, index, 4);
  b = _mm256_i32gather_ps(data, next, 4);
#else
  const auto lanesOf = [data](v128_t slots) {
    return wasm_f32x4_make(
        data[wasm_i32x4_extract_lane(slots, 0)], data[wasm_i32x4_extract_lane(slots, 1)],
        data[wasm_i32x4_extract_lane(slots, 2)], data[wasm_i32x4_extract_lane(slots, 3)]);
  };
  a = lanesOf(index);
  b = lanesOf(next);
#endif
}

template <int kChannels, typename Sample>
ORVANE_KERNEL void runDelayVector(CircularBuffer::Cursor* lines, const float* const* inputs,
                                  float* const* outputs, std::uint32_t frames,
                                  const DelaySettings& settings, Sample& sample) {
  std::uint32_t f = 0;
  while (f < frames) {
    std::uint32_t steps = (frames - f) / kVectorFrames;
    for (int c = 0; c < kChannels; ++c) steps = std::min(steps, vectorStepsAhead(lines[c]));
    if (steps == 0) {
      for (int c = 0; c < kChannels; ++c) outputs[c][f] = sample(c, lines[c], inputs[c][f]);
      ++f;
      continue;
    }
    // The steps' pointers in locals, which no store of a sample can change, so that they stay
    // in registers; neither position reaches the ring's end before the last step.
    const float* in[kChannels];
    float* out[kChannels];
    const float* read[kChannels];
    float* write[kChannels];
    for (int c = 0; c < kChannels; ++c) {
      in[c] = inputs[c] + f;
      out[c] = outputs[c] + f;
      read[c] = lines[c].samples + lines[c].readPointer;
      write[c] = lines[c].samples + lines[c].writePointer;
    }
    for (std::uint32_t s = 0; s < steps; ++s) {
      // Each setting is loaded once per step and serves every channel of it, so the frames
      // that see a value another thread has just stored come after every frame, on every
      // channel, that saw the one before: the portable loop's frame-by-frame order, at a
      // step's grain. A value stored between process calls applies from the first frame.
      const lanes::Floats feedback = lanes::broadcast(settings.feedbackLevel);
      const lanes::Floats dry = lanes::broadcast(settings.dryMix);
      const lanes::Floats wet = lanes::broadcast(settings.wetMix);
#pragma GCC unroll 2
      for (int c = 0; c < kChannels; ++c) {
        const lanes::Floats x = lanes::load(in[c]);
        const lanes::Floats delayed = lanes::load(read[c]);
        const lanes::Floats fedBack = lanes::add(x, lanes::mul(feedback, delayed));
        const lanes::Floats y = lanes::add(lanes::mul(x, dry), lanes::mul(delayed, wet));
        lanes::store(write[c], lanes::storable(fedBack));
        lanes::store(out[c], y);
        in[c] += kVectorFrames;
        out[c] += kVectorFrames;
        read[c] += kVectorFrames;
        write[c] += kVectorFrames;
      }
    }
    const int advance = static_cast<int>(steps) * kVectorFrames;
    for (int c = 0; c < kChannels; ++c) {
      CircularBuffer::Cursor& line = lines[c];
      line.readPointer += advance;
      if (line.readPointer == line.size) line.readPointer = 0;
      line.writePointer += advance;
      if (line.writePointer == line.size) line.writePointer = 0;
    }
    f += steps * kVectorFrames;
  }
}

}  // namespace orvane::extensions::audioeffects::support

#endif  // ORVANE_VECTOR_KERNELS || ORVANE_WASM_KERNELS
