#pragma once

// Signals and a block-by-block driver for node tests.

#include <algorithm>
#include <cstdint>
#include <orvane/sdk/AudioBuffer.hpp>
#include <orvane/sdk/Node.hpp>
#include <random>
#include <vector>

namespace orvane::testing {

// [channel][frame]
using Signal = std::vector<std::vector<float>>;

inline Signal silence(unsigned int channels, unsigned int frames) {
  return Signal(channels, std::vector<float>(frames, 0.0f));
}

inline Signal impulse(unsigned int channels, unsigned int frames, unsigned int channel = 0,
                      float amplitude = 1.0f) {
  Signal signal = silence(channels, frames);
  signal[channel][0] = amplitude;
  return signal;
}

inline Signal noise(unsigned int channels, unsigned int frames, std::uint32_t seed = 1) {
  std::mt19937 generator(seed);
  std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
  Signal signal = silence(channels, frames);
  for (auto& channel : signal) {
    for (float& sample : channel) sample = uniform(generator);
  }
  return signal;
}

inline unsigned int framesOf(const Signal& signal) {
  return signal.empty() ? 0u : static_cast<unsigned int>(signal[0].size());
}

// Runs `input` through `node` in blocks of `blockSize` frames (the last block may be shorter),
// each block a view on the signal's own memory, and returns the output.
inline Signal render(SingleBusAudioProcessorNode& node, const Signal& input,
                     unsigned int sampleRate, unsigned int blockSize) {
  const auto channels = static_cast<unsigned int>(input.size());
  const unsigned int frames = framesOf(input);
  Signal output = silence(channels, frames);
  Signal scratch = input;  // views need non-const pointers
  std::vector<float*> inPointers(channels);
  std::vector<float*> outPointers(channels);
  unsigned int start = 0;
  do {
    const unsigned int length = std::min(blockSize, frames - start);
    for (unsigned int c = 0; c < channels; ++c) {
      inPointers[c] = scratch[c].data() + start;
      outPointers[c] = output[c].data() + start;
    }
    AudioBuffer<float> inBuffer(inPointers.data(), channels, length, sampleRate);
    AudioBuffer<float> outBuffer(outPointers.data(), channels, length, sampleRate);
    AudioBus inBus(inBuffer);
    AudioBus outBus(outBuffer);
    node.process(inBus, outBus);
    start += length;
  } while (start < frames);
  return output;
}

// The frames of `channel` that are not zero, as (frame, value) pairs.
inline std::vector<std::pair<unsigned int, float>> nonZero(const Signal& signal,
                                                           unsigned int channel) {
  std::vector<std::pair<unsigned int, float>> found;
  for (unsigned int f = 0; f < signal[channel].size(); ++f) {
    if (signal[channel][f] != 0.0f) found.emplace_back(f, signal[channel][f]);
  }
  return found;
}

}  // namespace orvane::testing
