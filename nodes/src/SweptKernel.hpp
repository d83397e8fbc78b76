#pragma once

// The chorus's and the flanger's per-sample loop, eight frames of one channel at a time with
// AVX2. Lane by lane it does what their portable loop (SweptCore.hpp) does:
//
//   v = lfo.process(rate);  sweep = (sweepWidth × v) × rate;
//   delayed = ring.interpolate(readPosition(ring, sweep, margin));   // a × (1 − f) + b × f
//   ring.writeSample(storable(x + feedbackLevel × delayed));          // the chorus: storable(x)
//   y = x + wetMix × delayed;
//
// with every setting loaded once per step of eight frames for all channels (see
// runSweptVector), and the channel's own oscillator stepped eight samples at once
// (OscillatorKernel.hpp: the same values as eight process() calls). The two points of each
// interpolation come from a window of the ring permuted in registers where the eight reads lie
// close together, as they do unless the sweep races (neighbours8). The
// eight reads of a step come before its writes, which is the portable order as long as no
// frame reads a slot an earlier frame of the step wrote (a delay of under eight samples does);
// such a step, or one whose positions need more than the simple wrap, finishes the portable way
// with the sweeps already worked out, and frames whose writes would wrap the ring take the
// portable loop itself.

#include "VectorPath.hpp"

#if ORVANE_VECTOR_KERNELS
#include <immintrin.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <orvane/sdk/CircularBuffer.hpp>
#include <orvane/sdk/LFO.hpp>
#include <vector>

#include "DelayKernel.hpp"  // broadcast, neighbours8, storable8, kVectorFrames
#include "NodeSupport.hpp"   // runMonoOrStereo
#include "OscillatorKernel.hpp"

namespace orvane::extensions::audioeffects::support {

struct SweptSettings {
  const std::atomic<float>& sweepWidth;
  const std::atomic<float>& wetMix;
  const std::atomic<float>* feedbackLevel;  // null for the chorus, which feeds nothing back
  float margin;                             // the fixed part of the delay, in samples
};

// Lanes whose slot lies in [first, writes): written by an earlier frame of the same step.
__attribute__((target("avx2"))) inline __m256i writtenEarlier(__m256i slot, __m256i first,
                                                              __m256i writes) noexcept {
  const __m256i atOrAfterFirst = _mm256_cmpgt_epi32(slot, _mm256_sub_epi32(first, _mm256_set1_epi32(1)));
  return _mm256_and_si256(atOrAfterFirst, _mm256_cmpgt_epi32(writes, slot));
}

// What every step of a block shares, in lanes.
struct SweptLanes {
  __m256 rate;    // the sample rate as a float
  __m256 length;  // the ring's size as a float
  __m256 margin;
};

// The settings of one step, loaded once for all its channels: as scalars for the frames that
// go the per-sample way and in lanes for the rest.
struct SweptStep {
  float sweepWidth;
  float wetMix;
  float feedbackLevel;  // 0 for the chorus, which never reads it
  __m256 sweepWidth8;
  __m256 wetMix8;
  __m256 feedbackLevel8;
};

__attribute__((target("avx2"))) inline SweptStep loadStep(const SweptSettings& settings) noexcept {
  SweptStep step{};
  step.sweepWidth = settings.sweepWidth.load();
  step.wetMix = settings.wetMix.load();
  step.feedbackLevel = settings.feedbackLevel != nullptr ? settings.feedbackLevel->load() : 0.0f;
  step.sweepWidth8 = _mm256_set1_ps(step.sweepWidth);
  step.wetMix8 = _mm256_set1_ps(step.wetMix);
  step.feedbackLevel8 = _mm256_set1_ps(step.feedbackLevel);
  return step;
}

// One channel, eight frames from `f`; the caller has made sure the step's writes do not wrap
// the ring.
template <bool kFeedsBack>
__attribute__((target("avx2"), always_inline)) inline void sweptStep(
    CircularBuffer::Cursor& ring, LFO& lfo, OscillatorSteps& steps, int lfoRate,
    const SweptLanes& lanes, float margin, const SweptStep& settings, const float* input,
    float* output) {
  const int write = ring.writePointer;
  const int size = ring.size;
  const __m256 v = oscillator8(lfo, lfoRate, steps);
  const __m256 sweep = _mm256_mul_ps(_mm256_mul_ps(settings.sweepWidth8, v), lanes.rate);
  const __m256 length = lanes.length;
  const __m256i first = _mm256_set1_epi32(write);
  const __m256i writes = _mm256_add_epi32(first, _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
  const __m256 raw = _mm256_add_ps(
      _mm256_sub_ps(_mm256_sub_ps(_mm256_cvtepi32_ps(writes), sweep), lanes.margin),
      length);
  const __m256 position = _mm256_blendv_ps(raw, _mm256_sub_ps(raw, length),
                                           _mm256_cmp_ps(raw, length, _CMP_GE_OQ));
  const __m256 inRing = _mm256_and_ps(_mm256_cmp_ps(position, _mm256_setzero_ps(), _CMP_GE_OQ),
                                      _mm256_cmp_ps(position, length, _CMP_LT_OQ));
  const __m256i index = _mm256_cvttps_epi32(position);
  const __m256i following = _mm256_add_epi32(index, _mm256_set1_epi32(1));
  const __m256i next =
      _mm256_andnot_si256(_mm256_cmpeq_epi32(following, _mm256_set1_epi32(size)), following);
  // A read of a slot this step writes before it: index or next in [write, write + lane). With
  // next = index + 1 that is index in [write − 1, write + lane) (for lane 0 a little more than
  // needed: its read at write − 1 comes before its own write, and such a step merely takes the
  // per-sample way); only at write 0 can next be a wrapped 0 that the first form must catch.
  __m256i conflicts = _mm256_and_si256(_mm256_cmpgt_epi32(index, _mm256_set1_epi32(write - 2)),
                                       _mm256_cmpgt_epi32(writes, index));
  if (write == 0) conflicts = _mm256_or_si256(conflicts, writtenEarlier(next, first, writes));
  const bool simple = _mm256_movemask_ps(inRing) == 0xFF &&
                      _mm256_testz_si256(conflicts, _mm256_set1_epi32(-1));
  if (!simple) {
    float sweeps[kVectorFrames];
    _mm256_storeu_ps(sweeps, sweep);
    for (int i = 0; i < kVectorFrames; ++i) {
      const float x = input[i];
      const float delayed = ring.interpolate(readPosition(ring, sweeps[i], margin));
      const float fedBack = kFeedsBack ? x + settings.feedbackLevel * delayed : x;
      ring.writeSample(storable(fedBack));
      ring.stepWritePointer();
      output[i] = x + settings.wetMix * delayed;
    }
    return;
  }
  const __m256 fraction = _mm256_sub_ps(position, _mm256_cvtepi32_ps(index));
  __m256 a;
  __m256 b;
  neighbours8(ring.samples, size, index, next, a, b);
  const __m256 delayed = _mm256_add_ps(_mm256_mul_ps(a, _mm256_sub_ps(_mm256_set1_ps(1.0f), fraction)),
                                       _mm256_mul_ps(b, fraction));
  const __m256 x = _mm256_loadu_ps(input);
  __m256 fedBack = x;
  if constexpr (kFeedsBack) {
    fedBack = _mm256_add_ps(x, _mm256_mul_ps(settings.feedbackLevel8, delayed));
  }
  _mm256_storeu_ps(ring.samples + write, storable8(fedBack));
  ring.writePointer = write + kVectorFrames == size ? 0 : write + kVectorFrames;
  _mm256_storeu_ps(output, _mm256_add_ps(x, _mm256_mul_ps(settings.wetMix8, delayed)));
}

template <int kChannels, bool kFeedsBack, typename Sample>
__attribute__((target("avx2"))) void runSweptVector(CircularBuffer::Cursor* rings,
                                                    const std::vector<std::unique_ptr<LFO>>& lfos,
                                                    const float* const* inputs,
                                                    float* const* outputs, std::uint32_t frames,
                                                    int lfoRate, float rate,
                                                    const SweptSettings& settings, Sample& sample) {
  OscillatorSteps steps[kChannels];
  // Every ring of a node has the same size.
  const SweptLanes lanes{_mm256_set1_ps(rate), _mm256_set1_ps(static_cast<float>(rings[0].size)),
                         _mm256_set1_ps(settings.margin)};
  std::uint32_t f = 0;
  while (f < frames) {
    bool wraps = f + kVectorFrames > frames;
    for (int c = 0; c < kChannels && !wraps; ++c) {
      wraps = rings[c].writePointer + kVectorFrames > rings[c].size;
    }
    if (wraps) {
      for (int c = 0; c < kChannels; ++c) outputs[c][f] = sample(c, rings[c], inputs[c][f]);
      ++f;
      continue;
    }
    // One load of each setting serves every channel of the step, so the frames that see a
    // value another thread has just stored come after every frame, on every channel, that saw
    // the one before: the portable loop's frame-by-frame order, at a step's grain. A value
    // stored between process calls applies from the first frame.
    const SweptStep step = loadStep(settings);
    for (int c = 0; c < kChannels; ++c) {
      sweptStep<kFeedsBack>(rings[c], *lfos[c], steps[c], lfoRate, lanes, settings.margin, step,
                            inputs[c] + f, outputs[c] + f);
    }
    f += kVectorFrames;
  }
}

// A whole mono or stereo block of the chorus (kFeedsBack false, feedbackLevel null) or the
// flanger (true) through the kernel.
template <bool kFeedsBack, typename Sample>
void runSweptBlock(std::vector<CircularBuffer>& rings, const std::vector<std::unique_ptr<LFO>>& lfos,
                   const AudioBuffer<float>& in, AudioBuffer<float>& out, BlockExtent extent,
                   int lfoRate, float rate, const SweptSettings& settings, Sample& sample) {
  runMonoOrStereo(
      rings, in, out, extent,
      [&](auto channels, CircularBuffer::Cursor* cursors, const float** inputs, float** outputs) {
        runSweptVector<decltype(channels)::value, kFeedsBack>(
            cursors, lfos, inputs, outputs, extent.frames, lfoRate, rate, settings, sample);
      });
}

}  // namespace orvane::extensions::audioeffects::support

#endif  // ORVANE_VECTOR_KERNELS
