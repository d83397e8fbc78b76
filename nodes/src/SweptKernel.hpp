#pragma once

// The chorus's and the flanger's per-sample loop, a vector of frames of one channel at a time
// (Lanes.hpp: eight with AVX2, four with WebAssembly SIMD128). Lane by lane it does what their
// portable loop (SweptCore.hpp) does:
//
//   v = lfo.process(rate);  sweep = (sweepWidth × v) × rate;
//   delayed = ring.interpolate(readPosition(ring, sweep, margin));   // a × (1 − f) + b × f
//   ring.writeSample(storable(x + feedbackLevel × delayed));          // the chorus: storable(x)
//   y = x + wetMix × delayed;
//
// with every setting loaded once per step for all channels (see runSweptVector), and the
// channel's own oscillator stepped a step's samples at once (OscillatorKernel.hpp: the same
// values as that many process() calls). The two points of each
// interpolation come from a window of the ring permuted in registers where the eight reads lie
// close together, as they do unless the sweep races (neighbours). The
// reads of a step come before its writes, which is the portable order as long as no frame
// reads a slot an earlier frame of the step wrote (a delay shorter than a step does);
// such a step, or one whose positions need more than the simple wrap, finishes the portable way
// with the sweeps already worked out, and frames whose writes would wrap the ring take the
// portable loop itself.

#include "Lanes.hpp"

#if ORVANE_VECTOR_KERNELS || ORVANE_WASM_KERNELS
#include <atomic>
#include <cstdint>
#include <memory>
#include <orvane/sdk/CircularBuffer.hpp>
#include <orvane/sdk/LFO.hpp>
#include <vector>

#include "DelayKernel.hpp"  // neighbours, kVectorFrames
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
ORVANE_KERNEL inline lanes::Ints writtenEarlier(lanes::Ints slot, lanes::Ints first,
                                                lanes::Ints writes) noexcept {
  const lanes::Ints atOrAfterFirst =
      lanes::greater(slot, lanes::addInts(first, lanes::splatInt(-1)));
  return lanes::bothInts(atOrAfterFirst, lanes::greater(writes, slot));
}

// What every step of a block shares, in lanes.
struct SweptLanes {
  lanes::Floats rate;    // the sample rate as a float
  lanes::Floats length;  // the ring's size as a float
  lanes::Floats margin;
};

// The settings of one step, loaded once for all its channels: as scalars for the frames that
// go the per-sample way and in lanes for the rest.
struct SweptStep {
  float sweepWidth;
  float wetMix;
  float feedbackLevel;  // 0 for the chorus, which never reads it
  lanes::Floats sweepWidthLanes;
  lanes::Floats wetMixLanes;
  lanes::Floats feedbackLevelLanes;
};

ORVANE_KERNEL inline SweptStep loadStep(const SweptSettings& settings) noexcept {
  SweptStep step{};
  step.sweepWidth = settings.sweepWidth.load();
  step.wetMix = settings.wetMix.load();
  step.feedbackLevel = settings.feedbackLevel != nullptr ? settings.feedbackLevel->load() : 0.0f;
  step.sweepWidthLanes = lanes::splat(step.sweepWidth);
  step.wetMixLanes = lanes::splat(step.wetMix);
  step.feedbackLevelLanes = lanes::splat(step.feedbackLevel);
  return step;
}

// One channel, one step of frames from `f`; the caller has made sure the step's writes do not
// wrap the ring.
template <bool kFeedsBack>
[[gnu::always_inline]] ORVANE_KERNEL inline void sweptStep(
    CircularBuffer::Cursor& ring, LFO& lfo, OscillatorSteps& steps, int lfoRate,
    const SweptLanes& shared, float margin, const SweptStep& settings, const float* input,
    float* output) {
  using namespace lanes;
  const int write = ring.writePointer;
  const int size = ring.size;
  const Floats v = oscillatorLanes(lfo, lfoRate, steps);
  const Floats sweep = mul(mul(settings.sweepWidthLanes, v), shared.rate);
  const Floats length = shared.length;
  const Ints first = splatInt(write);
  const Ints writes = addInts(first, iota());
  const Floats raw = add(sub(sub(toFloats(writes), sweep), shared.margin), length);
  const Floats position = select(atLeast(raw, length), sub(raw, length), raw);
  const Floats inRing = both(atLeast(position, splat(0.0f)), below(position, length));
  const Ints index = truncate(position);
  const Ints following = addInts(index, splatInt(1));
  const Ints next = unless(equal(following, splatInt(size)), following);
  // A read of a slot this step writes before it: index or next in [write, write + lane). With
  // next = index + 1 that is index in [write − 1, write + lane) (for lane 0 a little more than
  // needed: its read at write − 1 comes before its own write, and such a step merely takes the
  // per-sample way); only at write 0 can next be a wrapped 0 that the first form must catch.
  Ints conflicts = bothInts(greater(index, splatInt(write - 2)), greater(writes, index));
  if (write == 0) conflicts = eitherInts(conflicts, writtenEarlier(next, first, writes));
  if (!all(inRing) || !none(conflicts)) {
    float sweeps[kVectorFrames];
    store(sweeps, sweep);
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
  const Floats fraction = sub(position, toFloats(index));
  Floats a;
  Floats b;
  neighbours(ring.samples, size, index, next, a, b);
  const Floats delayed = add(mul(a, sub(splat(1.0f), fraction)), mul(b, fraction));
  const Floats x = load(input);
  Floats fedBack = x;
  if constexpr (kFeedsBack) fedBack = add(x, mul(settings.feedbackLevelLanes, delayed));
  store(ring.samples + write, lanes::storable(fedBack));
  ring.writePointer = write + kVectorFrames == size ? 0 : write + kVectorFrames;
  store(output, add(x, mul(settings.wetMixLanes, delayed)));
}

template <int kChannels, bool kFeedsBack, typename Sample>
ORVANE_KERNEL void runSweptVector(CircularBuffer::Cursor* rings,
                                  const std::vector<std::unique_ptr<LFO>>& lfos,
                                  const float* const* inputs, float* const* outputs,
                                  std::uint32_t frames, int lfoRate, float rate,
                                  const SweptSettings& settings, Sample& sample) {
  OscillatorSteps steps[kChannels];
  // Every ring of a node has the same size.
  const SweptLanes shared{lanes::splat(rate), lanes::splat(static_cast<float>(rings[0].size)),
                          lanes::splat(settings.margin)};
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
      sweptStep<kFeedsBack>(rings[c], *lfos[c], steps[c], lfoRate, shared, settings.margin, step,
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

#endif  // ORVANE_VECTOR_KERNELS || ORVANE_WASM_KERNELS
