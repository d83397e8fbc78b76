#pragma once

// The vibrato's per-frame loop, eight frames at a time with AVX2, for one or two channels whose
// rings stand at one write position. Lane by lane it does what the portable loop in
// VibratoNode.cpp does:
//
//   once per frame:  v = lfo.process(rate);  sweep = (sweepWidth × v) × rate;
//   per channel:     ring.writeSample(storable(x));
//                    position = readPosition(ring, sweep, 1);   // wrapped into the ring
//                    y = ring.interpolate(position);             // a × (1 − f) + b × f
//
// The sweep width is loaded once per step of eight frames (a value another thread stores
// mid-block lands on a step's first frame, for every channel alike; one stored between process
// calls applies from the first frame), the oscillator stepped eight frames at once (OscillatorKernel.hpp: the same values as eight process() calls). The eight
// writes of a step come before its reads, which is the same as the portable order as long as
// no frame reads a slot that a later frame of the step writes (a negative sweep can); such a
// step, one whose positions need more than the simple wrap, or one whose writes would wrap
// the ring, takes the portable per-frame code. The two points of each interpolation come from
// a window of the ring permuted in registers where the reads lie close together (neighbours8).

#include "VectorPath.hpp"

#if ORVANE_VECTOR_KERNELS
#include <immintrin.h>

#include <atomic>
#include <cstdint>
#include <orvane/sdk/CircularBuffer.hpp>
#include <orvane/sdk/LFO.hpp>

#include "DelayKernel.hpp"  // broadcast, neighbours8, storable8, kVectorFrames
#include "OscillatorKernel.hpp"

namespace orvane::extensions::audioeffects::support {

// Lanes whose slot lies in (writes, last]: written by a later frame of the same step.
__attribute__((target("avx2"))) inline __m256i writtenLater(__m256i slot, __m256i writes,
                                                            __m256i last) noexcept {
  return _mm256_andnot_si256(_mm256_cmpgt_epi32(slot, last), _mm256_cmpgt_epi32(slot, writes));
}

template <int kChannels, typename BeginFrame, typename Sample>
__attribute__((target("avx2"))) void runVibratoVector(
    CircularBuffer::Cursor* rings, const float* const* inputs, float* const* outputs,
    std::uint32_t frames, LFO& lfo, int lfoRate, const std::atomic<float>& sweepWidth,
    float rate, float margin, BeginFrame& beginFrame, Sample& sample) {
  const __m256i laneOffsets = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const int size = rings[0].size;
  const __m256 length = _mm256_set1_ps(static_cast<float>(size));
  const __m256 margin8 = _mm256_set1_ps(margin);
  OscillatorSteps steps;
  std::uint32_t f = 0;
  while (f < frames) {
    const int write = rings[0].writePointer;
    if (f + kVectorFrames > frames || write + kVectorFrames > size) {
      beginFrame();
      for (int c = 0; c < kChannels; ++c) outputs[c][f] = sample(c, rings[c], inputs[c][f]);
      ++f;
      continue;
    }
    // The oscillator and the sweep, frame by frame.
    const __m256 v = oscillator8(lfo, lfoRate, steps);
    const __m256 sweep = _mm256_mul_ps(_mm256_mul_ps(broadcast(sweepWidth), v), _mm256_set1_ps(rate));
    // readPosition: ((write − sweep) − margin) + size, then the one-subtraction wrap.
    const __m256i writes = _mm256_add_epi32(_mm256_set1_epi32(write), laneOffsets);
    const __m256 raw = _mm256_add_ps(
        _mm256_sub_ps(_mm256_sub_ps(_mm256_cvtepi32_ps(writes), sweep), margin8), length);
    const __m256 position = _mm256_blendv_ps(raw, _mm256_sub_ps(raw, length),
                                             _mm256_cmp_ps(raw, length, _CMP_GE_OQ));
    const __m256 inRing = _mm256_and_ps(_mm256_cmp_ps(position, _mm256_setzero_ps(), _CMP_GE_OQ),
                                        _mm256_cmp_ps(position, length, _CMP_LT_OQ));
    const __m256i index = _mm256_cvttps_epi32(position);
    const __m256i one = _mm256_set1_epi32(1);
    const __m256i following = _mm256_add_epi32(index, one);
    const __m256i next = _mm256_andnot_si256(
        _mm256_cmpeq_epi32(following, _mm256_set1_epi32(size)), following);
    // A slot written by a later frame of this step: index or next in (write + i, write + 7].
    const __m256i last = _mm256_set1_epi32(write + kVectorFrames - 1);
    const __m256i laterIndex = writtenLater(index, writes, last);
    const __m256i laterNext = writtenLater(next, writes, last);
    const bool simple = _mm256_movemask_ps(inRing) == 0xFF &&
                        _mm256_testz_si256(_mm256_or_si256(laterIndex, laterNext),
                                           _mm256_set1_epi32(-1));
    if (!simple) {
      // The oscillator has moved on by eight frames: finish these frames the portable way
      // with the sweeps already worked out, exactly as beginFrame would have made them.
      float sweeps[kVectorFrames];
      _mm256_storeu_ps(sweeps, sweep);
      for (int i = 0; i < kVectorFrames; ++i) {
        for (int c = 0; c < kChannels; ++c) {
          CircularBuffer::Cursor& ring = rings[c];
          ring.writeSample(storable(inputs[c][f + i]));
          const float p = readPosition(ring, sweeps[i], margin);
          outputs[c][f + i] = ring.interpolate(p);
          ring.stepWritePointer();
        }
      }
      f += kVectorFrames;
      continue;
    }
    const __m256 fraction = _mm256_sub_ps(position, _mm256_cvtepi32_ps(index));
    const __m256 rest = _mm256_sub_ps(_mm256_set1_ps(1.0f), fraction);
    for (int c = 0; c < kChannels; ++c) {
      CircularBuffer::Cursor& ring = rings[c];
      _mm256_storeu_ps(ring.samples + write, storable8(_mm256_loadu_ps(inputs[c] + f)));
      __m256 a;
      __m256 b;
      neighbours8(ring.samples, size, index, next, a, b);
      _mm256_storeu_ps(outputs[c] + f, _mm256_add_ps(_mm256_mul_ps(a, rest), _mm256_mul_ps(b, fraction)));
      ring.writePointer = write + kVectorFrames == size ? 0 : write + kVectorFrames;
    }
    f += kVectorFrames;
  }
}

}  // namespace orvane::extensions::audioeffects::support

#endif  // ORVANE_VECTOR_KERNELS
