#pragma once

// Small pieces that several effect nodes share. Internal to the library.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <orvane/sdk/AudioBuffer.hpp>
#include <orvane/sdk/CircularBuffer.hpp>
#include <orvane/sdk/LFO.hpp>
#include <orvane/sdk/NodeFactory.hpp>
#include <string>
#include <type_traits>
#include <vector>

namespace orvane::extensions::audioeffects::support {

// Every delay line and ring of the library holds this many samples, whatever the sample rate.
inline constexpr int kRingLength = 48000;

// The part of a block a node may process: the channels and frames that the input, the output and
// the node's own per-channel state all have. Channels beyond it stay as copied from the input;
// nothing outside either buffer is touched even when the two differ in size.
struct BlockExtent {
  unsigned int channels;
  unsigned int frames;
};

inline BlockExtent processableExtent(const AudioBuffer<float>& input,
                                     const AudioBuffer<float>& output,
                                     unsigned int channelCapacity) noexcept {
  return {std::min({input.getNumberOfChannels(), output.getNumberOfChannels(), channelCapacity}),
          std::min(input.getNumberOfFrames(), output.getNumberOfFrames())};
}

// What may be stored in delay memory: the value itself when finite, silence otherwise. A NaN or
// infinity kept in a ring would come back forever; silence lets the effect recover once the
// input and the settings are finite again.
// (v − v is 0 exactly for every finite v and NaN otherwise: a test that stays in the floating-
// point unit, cheaper on the audio path than classifying the bits.)
inline float storable(float value) noexcept { return value - value == 0.0f ? value : 0.0f; }

// Exactly std::fmod(position, length) for a length above 0, without the library call where
// the result is plain: a position in [0, length) is itself, and one in [length, 2 × length)
// is position − length, a subtraction that is exact in floating point for that range. Anything
// else (negative, far beyond, infinite, NaN) goes to std::fmod, out of the hot loop.
[[gnu::cold, gnu::noinline]] inline float remainderOf(float position, float length) noexcept {
  return std::fmod(position, length);
}

inline float wrapPosition(float position, float length) noexcept {
  const float reduced = position >= length ? position - length : position;
  if (reduced >= 0.0f && reduced < length) [[likely]]
    return reduced;
  return remainderOf(position, length);
}

// The modulated delays' read position: fmod(((writePointer − delay) − margin) + size, size) in
// single precision, in exactly that order. Whatever the delay (negative, huge, NaN), the
// ring's interpolate() keeps the read inside the ring.
template <typename Ring>  // a CircularBuffer or one of its cursors
inline float readPosition(const Ring& ring, float delay, float margin) noexcept {
  const auto size = static_cast<float>(ring.size);
  return wrapPosition(((static_cast<float>(ring.writePointer) - delay) - margin) + size, size);
}

// The oscillators of the modulated delays swing from 0 to 1.
inline constexpr float kOscillatorAmplitude = 0.5f;
inline constexpr float kOscillatorOffset = 0.5f;

// Chorus and flanger give channel i its own oscillator, i quarter cycles (i × π / 2 worked out
// in double, then narrowed) ahead of channel 0's.
inline std::unique_ptr<LFO> makeChannelOscillator(std::uint32_t channel, float frequency) {
  constexpr double kPhaseStepRadians = std::numbers::pi / 2;
  auto lfo = std::make_unique<LFO>();
  lfo->setFrequency(frequency);
  lfo->setAmplitude(kOscillatorAmplitude);
  lfo->setOffset(kOscillatorOffset);
  lfo->setPhaseOffset(static_cast<float>(channel * kPhaseStepRadians));
  return lfo;
}

// Chorus and flanger set-up: for each channel of capacity, channel 0 first, its ring and then
// its oscillator. Allocates; the arrays are never resized afterwards.
inline void buildChannels(std::uint32_t capacity, float frequency,
                          std::vector<std::unique_ptr<LFO>>& lfos,
                          std::vector<CircularBuffer>& rings) {
  lfos.reserve(capacity);
  rings.reserve(capacity);
  for (std::uint32_t i = 0; i < capacity; ++i) {
    rings.emplace_back(kRingLength);
    lfos.push_back(makeChannelOscillator(i, frequency));
  }
}

// Every node the library's factory hands out is built for a stereo host.
inline constexpr unsigned int kFactoryChannelCapacity = 2;

// The modulated delays take matching formats of one or two channels, whatever their capacity.
inline constexpr unsigned int kMaxSweptChannels = 2;

inline bool acceptsMonoOrStereo(const AudioBusFormat& input, const AudioBusFormat& output) {
  return AudioBusFormat::matchBusFormats(input, output) &&
         input.getNumberOfChannels() <= kMaxSweptChannels;
}

// The rate of a bank of per-channel oscillators is channel 0's; 0 for an empty bank.
inline float frequencyOf(const std::vector<std::unique_ptr<LFO>>& lfos) noexcept {
  return lfos.empty() ? 0.0f : lfos.front()->getFrequency();
}

inline void setFrequencyOf(const std::vector<std::unique_ptr<LFO>>& lfos,
                           float frequency) noexcept {
  for (const auto& lfo : lfos) lfo->setFrequency(frequency);
}

// A block's sample rate as the oscillators take it: rates beyond int saturate rather than wrap.
inline int oscillatorRate(std::uint32_t sampleRate) noexcept {
  constexpr std::uint32_t kMax = 2147483647u;
  return static_cast<int>(std::min(sampleRate, kMax));
}

// Whether a node that has tracked (lastSampleRate, lastNumberOfChannels) may have written its
// rings: not while both are still 0, as constructed (a block of no channels writes nothing),
// so the first block need not silence rings the constructor left silent. A node made for one
// short clip (the Python module's augmentation makes one per item) is spared that clearing.
inline bool ringsMayHoldSound(std::uint32_t lastSampleRate,
                              std::uint32_t lastNumberOfChannels) noexcept {
  return lastSampleRate != 0 || lastNumberOfChannels != 0;
}

// How far a node's delay lines may have been written since they were last silent from their
// first slot on: lines that start at slot 0 and advance one slot per frame have written at most
// slots [0, frames) of themselves after `frames` frames, so a restart need silence only those,
// not the whole line (48000 samples, where a short clip writes a few thousand). A node whose
// write positions were moved elsewhere (setPosition) counts as written throughout.
class WrittenFrames {
 public:
  // Audio thread: a block of `frames` frames may have written that many more slots.
  void add(std::uint32_t frames) noexcept {
    written_ = frames > kEverything - written_ ? kEverything : written_ + frames;
  }
  void everything() noexcept { written_ = kEverything; }
  // The slots [0, slotsIn(length)) of a line of `length` samples may hold sound.
  std::size_t slotsIn(std::size_t length) const noexcept {
    return static_cast<std::size_t>(std::min<std::uint64_t>(written_, length));
  }
  void clear() noexcept { written_ = 0; }

 private:
  static constexpr std::uint64_t kEverything = UINT64_MAX;
  std::uint64_t written_ = 0;
};

// Silences what `written` says the rings may hold, and puts their positions back at slot 0,
// as constructed.
inline void restartRings(std::vector<CircularBuffer>& rings, WrittenFrames& written) noexcept {
  for (CircularBuffer& ring : rings) {
    std::fill_n(ring.samples.begin(), written.slotsIn(ring.samples.size()), 0.0f);
    ring.writePointer = 0;
    ring.readPointer = 0;
  }
  written.clear();
}

// Format tracking of the modulated delays: a block whose sample rate or channel count differs
// from the last processed one silences every ring, also those of channels the block does not
// use. Oscillators keep their phase.
template <typename Rings>
void resetRingsOnFormatChange(std::uint32_t sampleRate, std::uint32_t channelCount,
                              std::uint32_t& lastSampleRate, std::uint32_t& lastNumberOfChannels,
                              Rings& rings) noexcept {
  if (sampleRate == lastSampleRate && channelCount == lastNumberOfChannels) return;
  if (ringsMayHoldSound(lastSampleRate, lastNumberOfChannels)) {
    for (CircularBuffer& ring : rings) ring.reset();
  }
  lastSampleRate = sampleRate;
  lastNumberOfChannels = channelCount;
}

// The per-sample loop every node runs: frames outer, channels inner, each sample of channel c
// going through `sample(c, ring, x)` (ring: a cursor on ring c; returns the output sample),
// after `beginFrame()` once per frame. For mono and stereo blocks the channel count is fixed
// at compile time, so the rings' positions stay in registers for the whole block; any other
// count takes each ring's positions from memory sample by sample. Either way the calls, their
// order and their results are the same.
template <std::uint32_t kChannels, typename BeginFrame, typename Sample>
void runFrames(std::vector<CircularBuffer>& rings, const AudioBuffer<float>& in,
               AudioBuffer<float>& out, BlockExtent extent, BeginFrame& beginFrame,
               Sample& sample) {
  if constexpr (kChannels == 0) {
    for (std::uint32_t f = 0; f < extent.frames; ++f) {
      beginFrame();
      for (std::uint32_t c = 0; c < extent.channels; ++c) {
        CircularBuffer::Cursor cursor = rings[c].acquire();
        const float y = sample(c, cursor, in.getSample(c, f));
        rings[c].release(cursor);
        out.setSample(c, f, y);
      }
    }
  } else {
    CircularBuffer::Cursor cursors[kChannels];
    const float* inputs[kChannels];
    float* outputs[kChannels];
    for (std::uint32_t c = 0; c < kChannels; ++c) {
      cursors[c] = rings[c].acquire();
      inputs[c] = in.getChannel(c);
      outputs[c] = out.getChannel(c);
    }
    for (std::uint32_t f = 0; f < extent.frames; ++f) {
      beginFrame();
      // Unrolled, so that each cursor's positions live in registers rather than in the array.
#pragma GCC unroll 2
      for (std::uint32_t c = 0; c < kChannels; ++c) {
        outputs[c][f] = sample(c, cursors[c], inputs[c][f]);
      }
    }
    for (std::uint32_t c = 0; c < kChannels; ++c) rings[c].release(cursors[c]);
  }
}

template <typename BeginFrame, typename Sample>
void runFrames(std::vector<CircularBuffer>& rings, const AudioBuffer<float>& in,
               AudioBuffer<float>& out, BlockExtent extent, BeginFrame beginFrame, Sample sample) {
  switch (extent.channels) {
    case 1:
      runFrames<1>(rings, in, out, extent, beginFrame, sample);
      break;
    case 2:
      runFrames<2>(rings, in, out, extent, beginFrame, sample);
      break;
    default:
      runFrames<0>(rings, in, out, extent, beginFrame, sample);
      break;
  }
}

// For code that runs a whole mono or stereo block itself (the vector kernels): the rings as
// cursors, with the channels' input and output arrays, handed to
// `run(std::integral_constant<int, channels>, cursors, inputs, outputs)`; the rings' positions
// are stored back afterwards.
template <typename Run>
void runMonoOrStereo(std::vector<CircularBuffer>& rings, const AudioBuffer<float>& in,
                     AudioBuffer<float>& out, BlockExtent extent, Run run) {
  CircularBuffer::Cursor cursors[2]{};
  const float* inputs[2]{};
  float* outputs[2]{};
  for (std::uint32_t c = 0; c < extent.channels; ++c) {
    cursors[c] = rings[c].acquire();
    inputs[c] = in.getChannel(c);
    outputs[c] = out.getChannel(c);
  }
  if (extent.channels == 1) {
    run(std::integral_constant<int, 1>{}, cursors, inputs, outputs);
  } else {
    run(std::integral_constant<int, 2>{}, cursors, inputs, outputs);
  }
  for (std::uint32_t c = 0; c < extent.channels; ++c) rings[c].release(cursors[c]);
}

// How many samples a delay of `delayMs` milliseconds is at `sampleRate`: trunc(S / 1000 × M)
// in double precision, exactly as both delay nodes work it out before each holds it within what
// its delay lines allow.
inline double exactDelaySamples(std::uint32_t sampleRate, std::uint32_t delayMs) noexcept {
  constexpr double kMillisecondsPerSecond = 1000.0;
  return std::trunc(static_cast<double>(sampleRate) / kMillisecondsPerSecond * delayMs);
}

// The catalogue record shared by all node types of the library; only these fields differ.
inline NodeTypeInfo makeNodeTypeInfo(std::string type, std::string displayName,
                                     std::string description) {
  return NodeTypeInfo{"AudioEffects",
                      std::move(type),
                      std::move(displayName),
                      std::move(description),
                      {"Audio Processing", "Effects"},
                      {}};
}

}  // namespace orvane::extensions::audioeffects::support
