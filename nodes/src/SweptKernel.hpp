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
// with every setting loaded once per step for all channels (see runSweptVector), and each
// channel's own oscillator carried in registers through a run of steps, its rate read once per
// run (OscillatorKernel.hpp: the same values as that many process() calls). The two points of
// each interpolation come from a window of the ring permuted in registers where the reads lie
// close together, as they do unless the sweep races (windowNeighbours). The reads of a step
// come before its writes, which is the portable order as long as no frame reads a slot an
// earlier frame of the step wrote. A step where one does (a delay shorter than a step: the
// flanger near the bottom of its sweep) takes its frames' reads and writes one after another
// from the positions already worked out; a step whose positions need more than the simple wrap
// finishes the portable way with the sweeps worked out, and frames whose writes would wrap the
// ring take the portable loop itself.

#include "Lanes.hpp"

#if ORVANE_VECTOR_KERNELS || ORVANE_WASM_KERNELS
#include <algorithm>
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

// The settings of one step, loaded once for all its channels.
struct SweptStep {
  float sweepWidth;
  float wetMix;
  float feedbackLevel;  // 0 for the chorus, which never reads it
};

// Where a step's settings are read, held in the kernel's locals: read through the settings
// struct, each of its references would be loaded again after every setting's load.
struct SweptSources {
  const std::atomic<float>* sweepWidth;
  const std::atomic<float>* wetMix;
  const std::atomic<float>* feedbackLevel;
};

template <bool kFeedsBack>
ORVANE_KERNEL inline SweptStep loadStep(const SweptSources& sources) noexcept {
  return {sources.sweepWidth->load(), sources.wetMix->load(),
          kFeedsBack ? sources.feedbackLevel->load() : 0.0f};
}

// Whether no read of a step can reach a slot the step writes first, when every read index lies
// in [base, base + lane count): all of them at or after the last write, or all before the slot
// before the first (lane 0's read of that slot precedes its write, but it is kept out too, as
// the lane-by-lane test does).
ORVANE_KERNEL inline bool clearOfWrites(int base, int write) noexcept {
  return base >= write + kVectorFrames - 1 || base + kVectorFrames < write;
}

// One channel, one step of frames, whose writes do not wrap the ring.
template <bool kFeedsBack>
[[gnu::always_inline]] ORVANE_KERNEL inline void sweptStep(CircularBuffer::Cursor& ring,
                                                           OscillatorRun& oscillator,
                                                           lanes::Floats& writeAt,
                                                           const SweptLanes& shared, float margin,
                                                           const SweptStep& settings,
                                                           const float* input, float* output) {
  using namespace lanes;
  const int size = ring.size;
  float* const samples = ring.samples;
  const Floats length = shared.length;
  const int write = ring.writePointer;
  const Floats v = oscillator.next();
  const Floats sweep = mul(mul(splat(settings.sweepWidth), v), shared.rate);
  const Ints first = splatInt(write);
  const Ints writes = addInts(first, iota());
  const Floats raw = add(sub(sub(writeAt, sweep), shared.margin), length);
  writeAt = add(writeAt, splat(static_cast<float>(kVectorFrames)));
  const Floats position = select(atLeast(raw, length), sub(raw, length), raw);
  const Ints index = truncate(position);
  Floats a;
  Floats b;
  int base = 0;
  // The usual step: every position at or above 0 (not NaN, and in the ring, the window lying
  // below its end), the reads close together and clear of the step's writes.
  const bool usual = all(atLeast(position, splat(0.0f))) &&
                     windowNeighbours(samples, size, index, a, b, base) &&
                     clearOfWrites(base, write);
  if (!usual) [[unlikely]] {
    const Floats inRing = both(atLeast(position, splat(0.0f)), below(position, length));
    const Ints following = addInts(index, splatInt(1));
    const Ints next = unless(equal(following, splatInt(size)), following);
    // A read of a slot this step writes before it: index or next in [write, write + lane).
    // With next = index + 1 that is index in [write − 1, write + lane) (for lane 0 a little
    // more than needed: its read at write − 1 comes before its own write, and such a step
    // merely takes the frame-by-frame way); only at write 0 can next be a wrapped 0 that the
    // first form must catch.
    Ints conflicts = bothInts(greater(index, splatInt(write - 2)), greater(writes, index));
    if (write == 0) conflicts = eitherInts(conflicts, writtenEarlier(next, first, writes));
    if (!all(inRing)) {
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
    if (!none(conflicts)) {
      // A read of what the step writes (a delay shorter than a step): the positions hold, and
      // the frames take their reads and writes one after another, as the per-sample code does.
      alignas(sizeof(Floats)) std::int32_t indices[kVectorFrames];
      alignas(sizeof(Floats)) std::int32_t nexts[kVectorFrames];
      alignas(sizeof(Floats)) float fractions[kVectorFrames];
      storeInts(indices, index);
      storeInts(nexts, next);
      store(fractions, sub(position, toFloats(index)));
      for (int i = 0; i < kVectorFrames; ++i) {
        const float x = input[i];
        const float delayed = samples[indices[i]] * (1.0f - fractions[i]) +
                              samples[nexts[i]] * fractions[i];
        const float fedBack = kFeedsBack ? x + settings.feedbackLevel * delayed : x;
        samples[write + i] = storable(fedBack);
        output[i] = x + settings.wetMix * delayed;
      }
      ring.writePointer = write + kVectorFrames == size ? 0 : write + kVectorFrames;
      return;
    }
    neighbours(samples, size, index, next, a, b);
  }
  const Floats fraction = sub(position, toFloats(index));
  const Floats delayed = add(mul(a, sub(splat(1.0f), fraction)), mul(b, fraction));
  const Floats x = load(input);
  Floats fedBack = x;
  if constexpr (kFeedsBack) fedBack = add(x, mul(splat(settings.feedbackLevel), delayed));
  store(samples + write, lanes::storable(fedBack));
  ring.writePointer = write + kVectorFrames == size ? 0 : write + kVectorFrames;
  store(output, add(x, mul(splat(settings.wetMix), delayed)));
}

template <int kChannels, bool kFeedsBack, typename Sample>
ORVANE_KERNEL void runSweptVector(CircularBuffer::Cursor* rings,
                                  const std::vector<std::unique_ptr<LFO>>& lfos,
                                  const float* const* inputs, float* const* outputs,
                                  std::uint32_t frames, int lfoRate, float rate,
                                  const SweptSettings& settings, Sample& sample) {
  // Every ring of a node has the same size.
  const SweptLanes shared{lanes::splat(rate), lanes::splat(static_cast<float>(rings[0].size)),
                          lanes::splat(settings.margin)};
  const SweptSources sources{&settings.sweepWidth, &settings.wetMix, settings.feedbackLevel};
  const float margin = settings.margin;
  std::uint32_t f = 0;
  while (f < frames) {
    // A run: as many whole steps as fit before the block ends or any ring's writes wrap, taken
    // with each channel's oscillator in registers (its rate read once per run).
    std::uint32_t steps = (frames - f) / kVectorFrames;
    for (int c = 0; c < kChannels; ++c) {
      steps = std::min(steps, static_cast<std::uint32_t>(rings[c].size - rings[c].writePointer) /
                                  kVectorFrames);
    }
    if (steps == 0) {
      for (int c = 0; c < kChannels; ++c) outputs[c][f] = sample(c, rings[c], inputs[c][f]);
      ++f;
      continue;
    }
    OscillatorRun oscillators[kChannels];
    for (int c = 0; c < kChannels; ++c) oscillators[c].begin(*lfos[c], lfoRate);
    // The run's cursors and channel pointers in locals, which no store of a sample can change,
    // so that they stay in registers; the cursors are stored back when the run ends.
    CircularBuffer::Cursor cursors[kChannels];
    // Each lane's write position as a float, stepped on within the run rather than converted
    // at every step: whole numbers below the ring's length, which adding keeps exact.
    static_assert(kRingLength + kVectorFrames < (1 << 24));
    lanes::Floats writeAt[kChannels];
    const float* in[kChannels];
    float* out[kChannels];
    for (int c = 0; c < kChannels; ++c) {
      cursors[c] = rings[c];
      writeAt[c] =
          lanes::toFloats(lanes::addInts(lanes::splatInt(cursors[c].writePointer), lanes::iota()));
      in[c] = inputs[c] + f;
      out[c] = outputs[c] + f;
    }
    for (const std::uint32_t last = f + steps * kVectorFrames; f < last; f += kVectorFrames) {
      // One load of each setting serves every channel of the step, so the frames that see a
      // value another thread has just stored come after every frame, on every channel, that
      // saw the one before: the portable loop's frame-by-frame order, at a step's grain. A
      // value stored between process calls applies from the first frame.
      const SweptStep step = loadStep<kFeedsBack>(sources);
      // Unrolled, so that every channel's oscillator stays in registers through the run.
#pragma GCC unroll 2
      for (int c = 0; c < kChannels; ++c) {
        sweptStep<kFeedsBack>(cursors[c], oscillators[c], writeAt[c], shared, margin, step, in[c],
                              out[c]);
        in[c] += kVectorFrames;
        out[c] += kVectorFrames;
      }
    }
    for (int c = 0; c < kChannels; ++c) {
      rings[c] = cursors[c];
      lfos[c]->advance(std::uint64_t{steps} * kVectorFrames);
    }
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
