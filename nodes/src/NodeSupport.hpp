#pragma once

// Small pieces that several effect nodes share. Internal to the library.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

#include <orvane/sdk/AudioBuffer.hpp>
#include <orvane/sdk/NodeFactory.hpp>

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
  if (position >= 0.0f && position < length) [[likely]] return position;
  if (position >= length && position < 2.0f * length) return position - length;
  return std::fmod(position, length);
}

// The catalogue record shared by all node types of the library; only these fields differ.
inline NodeTypeInfo makeNodeTypeInfo(std::string type, std::string displayName,
                                     std::string description) {
  return NodeTypeInfo{"AudioEffects",         std::move(type), std::move(displayName),
                      std::move(description), {"Audio Processing", "Effects"}, {}};
}

}  // namespace orvane::extensions::audioeffects::support
