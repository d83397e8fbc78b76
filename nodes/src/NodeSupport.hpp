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
inline float storable(float value) noexcept { return std::isfinite(value) ? value : 0.0f; }

// Exactly std::fmod(position, length) for a length above 0, without the library call where
// the result is plain: a position in [0, length) is itself, and one in [length, 2 × length)
// is position − length, a subtraction that is exact in floating point for that range.
inline float wrapPosition(float position, float length) noexcept {
  if (position >= 0.0f && position < length) [[likely]]
    return position;
  if (position >= length && position < 2.0f * length) return position - length;
  return std::fmod(position, length);
}

// The modulated delays' read position: fmod(((writePointer − delay) − margin) + size, size) in
// single precision, in exactly that order. Whatever the delay (negative, huge, NaN), the
// ring's interpolate() keeps the read inside the ring.
inline float readPosition(const CircularBuffer& ring, float delay, float margin) noexcept {
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

// Format tracking of the modulated delays: a block whose sample rate or channel count differs
// from the last processed one silences every ring, also those of channels the block does not
// use. Oscillators keep their phase.
template <typename Rings>
void resetRingsOnFormatChange(std::uint32_t sampleRate, std::uint32_t channelCount,
                              std::uint32_t& lastSampleRate, std::uint32_t& lastNumberOfChannels,
                              Rings& rings) noexcept {
  if (sampleRate == lastSampleRate && channelCount == lastNumberOfChannels) return;
  for (CircularBuffer& ring : rings) ring.reset();
  lastSampleRate = sampleRate;
  lastNumberOfChannels = channelCount;
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
