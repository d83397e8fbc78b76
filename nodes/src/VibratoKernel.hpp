#pragma once

// The vibrato's per-frame loop, a vector of frames at a time (Lanes.hpp: eight with AVX2, four
// with WebAssembly SIMD128), for one or two channels whose rings stand at one write position.
// Lane by lane it does what the portable loop in VibratoNode.cpp does:
//
//   once per frame:  v = lfo.process(rate);  sweep = (sweepWidth × v) × rate;
//   per channel:     ring.writeSample(storable(x));
//                    position = readPosition(ring, sweep, 1);   // wrapped into the ring
//                    y = ring.interpolate(position);             // a × (1 − f) + b × f
//
// The sweep width is loaded once per step (a value another thread stores mid-block lands on a
// step's first frame, for every channel alike; one stored between process calls applies from
// the first frame), the oscillator carried in registers through a run of steps, its rate read
// once per run (OscillatorKernel.hpp: the same values as that many process() calls). The
// writes of a step come before its reads, which is the same as the portable order as long as no frame reads a slot that a later frame of the
// step writes (a negative sweep can); such a step, one whose positions need more than the
// simple wrap, or one whose writes would wrap the ring, takes the portable per-frame code. The
// two points of each interpolation come from a window of the ring permuted in registers where
// the reads lie close together (neighbours).

#include "Lanes.hpp"

#if ORVANE_VECTOR_KERNELS || ORVANE_WASM_KERNELS
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <orvane/sdk/CircularBuffer.hpp>
#include <orvane/sdk/LFO.hpp>

#include "DelayKernel.hpp"  // neighbours, kVectorFrames
#include "OscillatorKernel.hpp"

namespace orvane::extensions::audioeffects::support {

// Lanes whose slot lies in (writes, last]: written by a later frame of the same step.
ORVANE_KERNEL inline lanes::Ints writtenLater(lanes::Ints slot, lanes::Ints writes,
                                              lanes::Ints last) noexcept {
  return lanes::unless(lanes::greater(slot, last), lanes::greater(slot, writes));
}

// One step of frames for every channel, the rings standing at one write position that the
// step's writes do not wrap.
template <int kChannels>
[[gnu::always_inline]] ORVANE_KERNEL inline void vibratoStep(
    CircularBuffer::Cursor* rings, const float* const* inputs, float* const* outputs,
    std::uint32_t f, OscillatorRun& oscillator, const std::atomic<float>& sweepWidth, float rate,
    lanes::Floats length, lanes::Floats marginLanes, float margin) {
  using namespace lanes;
  const int size = rings[0].size;
  const int write = rings[0].writePointer;
  // The oscillator and the sweep, frame by frame.
  const Floats v = oscillator.next();
  const Floats sweep = mul(mul(broadcast(sweepWidth), v), splat(rate));
  // readPosition: ((write − sweep) − margin) + size, then the one-subtraction wrap.
  const Ints writes = addInts(splatInt(write), iota());
  const Floats raw = add(sub(sub(toFloats(writes), sweep), marginLanes), length);
  const Floats position = select(atLeast(raw, length), sub(raw, length), raw);
  const Floats inRing = both(atLeast(position, splat(0.0f)), below(position, length));
  const Ints index = truncate(position);
  const Ints following = addInts(index, splatInt(1));
  const Ints next = unless(equal(following, splatInt(size)), following);
  // A slot written by a later frame of this step: index or next in (write + i, write + last].
  const Ints last = splatInt(write + kVectorFrames - 1);
  const Ints later =
      eitherInts(writtenLater(index, writes, last), writtenLater(next, writes, last));
  if (!all(inRing) || !none(later)) [[unlikely]] {
    // Finish these frames the portable way with the sweeps already worked out, exactly as
    // beginFrame would have made them.
    float sweeps[kVectorFrames];
    store(sweeps, sweep);
    for (int i = 0; i < kVectorFrames; ++i) {
      for (int c = 0; c < kChannels; ++c) {
        CircularBuffer::Cursor& ring = rings[c];
        ring.writeSample(support::storable(inputs[c][f + i]));
        const float p = readPosition(ring, sweeps[i], margin);
        outputs[c][f + i] = ring.interpolate(p);
        ring.stepWritePointer();
      }
    }
    return;
  }
  const Floats fraction = sub(position, toFloats(index));
  const Floats rest = sub(splat(1.0f), fraction);
#pragma GCC unroll 2
  for (int c = 0; c < kChannels; ++c) {
    CircularBuffer::Cursor& ring = rings[c];
    store(ring.samples + write, lanes::storable(load(inputs[c] + f)));
    Floats a;
    Floats b;
    neighbours(ring.samples, size, index, next, a, b);
    store(outputs[c] + f, add(mul(a, rest), mul(b, fraction)));
    ring.writePointer = write + kVectorFrames == size ? 0 : write + kVectorFrames;
  }
}

template <int kChannels, typename BeginFrame, typename Sample>
ORVANE_KERNEL void runVibratoVector(CircularBuffer::Cursor* rings, const float* const* inputs,
                                    float* const* outputs, std::uint32_t frames, LFO& lfo,
                                    int lfoRate, const std::atomic<float>& sweepWidth, float rate,
                                    float margin, BeginFrame& beginFrame, Sample& sample) {
  using namespace lanes;
  const int size = rings[0].size;
  const Floats length = splat(static_cast<float>(size));
  const Floats marginLanes = splat(margin);
  std::uint32_t f = 0;
  while (f < frames) {
    // A run: as many whole steps as fit before the block ends or the rings' writes wrap, with
    // the oscillator in registers (its rate read once per run).
    const std::uint32_t steps =
        std::min((frames - f) / kVectorFrames,
                 static_cast<std::uint32_t>(size - rings[0].writePointer) / kVectorFrames);
    if (steps == 0) {
      beginFrame();
      for (int c = 0; c < kChannels; ++c) outputs[c][f] = sample(c, rings[c], inputs[c][f]);
      ++f;
      continue;
    }
    OscillatorRun oscillator;
    oscillator.begin(lfo, lfoRate);
    // The run's cursors in locals, which no store of a sample can change, so that their
    // positions stay in registers; stored back when the run ends.
    CircularBuffer::Cursor cursors[kChannels];
    for (int c = 0; c < kChannels; ++c) cursors[c] = rings[c];
    for (const std::uint32_t end = f + steps * kVectorFrames; f < end; f += kVectorFrames) {
      vibratoStep<kChannels>(cursors, inputs, outputs, f, oscillator, sweepWidth, rate, length,
                             marginLanes, margin);
    }
    for (int c = 0; c < kChannels; ++c) rings[c] = cursors[c];
    lfo.advance(std::uint64_t{steps} * kVectorFrames);
  }
}

}  // namespace orvane::extensions::audioeffects::support

#endif  // ORVANE_VECTOR_KERNELS || ORVANE_WASM_KERNELS
