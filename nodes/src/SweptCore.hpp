#pragma once

// The family of swept delays: chorus, flanger and vibrato. Each channel runs through a ring of
// its own, read back at a delay of a fixed base plus an oscillator's swing:
//
//   v = lfo.process(rate);                 // 0 to 1
//   sweep = (sweepWidth × v) × rate;       // samples, in float, in exactly this order
//   position = readPosition(ring, sweep, base);
//
// What sets the members apart is a traits type of three facts and their defaults:
//   kBaseDelaySamples      the fixed part of the delay, in samples;
//   kFeedsBack             whether the swept signal goes back into the ring, scaled by the
//                          feedback level (the flanger) or only the input does (the others);
//   kOscillatorPerChannel  true: each channel has its own oscillator, a quarter cycle ahead of
//                          the one before; the ring is read before the sample is written, and
//                          the output is x + wetMix × swept (chorus, flanger).
//                          false: one oscillator steps once per frame for all channels; the
//                          sample is written before the ring is read, and the output is the
//                          swept signal alone (vibrato).
// and kDefaultSweepWidthSeconds, kInitialFrequencyHz, kWetMix and kFeedbackLevel (the last two
// are read only where the traits above use them).
//
// Internal to the library.

#include <atomic>
#include <cstdint>
#include <memory>
#include <orvane/sdk/AudioBuffer.hpp>
#include <orvane/sdk/CircularBuffer.hpp>
#include <orvane/sdk/LFO.hpp>
#include <orvane/sdk/Node.hpp>
#include <type_traits>
#include <vector>

#include "NodeDescription.hpp"
#include "NodeSupport.hpp"
#include "SweptKernel.hpp"
#include "VectorPath.hpp"
#include "VibratoKernel.hpp"

namespace orvane::extensions::audioeffects::support {

// The swept part of the delay, in samples.
inline float sweepSamples(float sweepWidth, float v, float rate) noexcept {
  return (sweepWidth * v) * rate;
}

template <typename Traits>
class SweptCore {
 public:
  static constexpr bool kPerChannel = Traits::kOscillatorPerChannel;

  // Allocates a ring per channel of capacity (and, per channel, an oscillator where the traits
  // say so); nothing is resized afterwards, so control threads may reach the oscillators while
  // audio runs.
  explicit SweptCore(std::uint32_t capacity) : numberOfChannels(capacity) {
    if constexpr (kPerChannel) {
      buildChannels(capacity, Traits::kInitialFrequencyHz, oscillators, circularBuffers);
    } else {
      circularBuffers.reserve(capacity);
      for (std::uint32_t c = 0; c < capacity; ++c) circularBuffers.emplace_back(kRingLength);
      oscillators.setFrequency(Traits::kInitialFrequencyHz);
      oscillators.setAmplitude(kOscillatorAmplitude);
      oscillators.setOffset(kOscillatorOffset);
    }
  }

  // Any thread. The rate of every oscillator; with one per channel, channel 0's (0 when there
  // are no channels).
  float frequency() noexcept {
    if constexpr (kPerChannel) {
      return frequencyOf(oscillators);
    } else {
      return oscillators.getFrequency();
    }
  }
  void setFrequency(float hertz) noexcept {
    if constexpr (kPerChannel) {
      setFrequencyOf(oscillators, hertz);
    } else {
      oscillators.setFrequency(hertz);
    }
  }

  // Audio thread.
  bool process(AudioBus& input, AudioBus& output) {
    if (!isEnabled.load()) {
      output.copyFrom(input);
      return true;
    }
    const AudioBuffer<float>& in = input.getBuffer();
    AudioBuffer<float>& out = output.getBuffer();
    const std::uint32_t sampleRate = in.getSampleRate();
    resetRingsOnFormatChange(sampleRate, in.getNumberOfChannels(), lastSampleRate,
                             lastNumberOfChannels, circularBuffers);
    const BlockExtent extent = processableExtent(in, out, numberOfChannels);
    // Every processed sample is written by the effect; only the rest of the block is copied.
    output.copyFromExcept(input, extent.channels, extent.frames);
    const int lfoRate = oscillatorRate(sampleRate);
    const auto rate = static_cast<float>(sampleRate);
    if constexpr (kPerChannel) {
      runMixed(in, out, extent, lfoRate, rate);
    } else {
      runSweptAlone(in, out, extent, lfoRate, rate);
    }
    return true;
  }

  const std::uint32_t numberOfChannels;
  std::conditional_t<kPerChannel, std::vector<std::unique_ptr<LFO>>, LFO> oscillators;
  std::vector<CircularBuffer> circularBuffers;

  // Format tracking, audio thread only.
  std::uint32_t lastSampleRate = 0;
  std::uint32_t lastNumberOfChannels = 0;

  // Settings, written by any thread.
  std::atomic<bool> isEnabled{true};
  std::atomic<float> sweepWidth{Traits::kDefaultSweepWidthSeconds};
  std::atomic<float> wetMix{Traits::kWetMix};
  std::atomic<float> feedbackLevel{Traits::kFeedbackLevel};

 private:
  // Chorus and flanger: read, write, then mix the swept signal into the input.
  void runMixed(const AudioBuffer<float>& in, AudioBuffer<float>& out, BlockExtent extent,
                int lfoRate, float rate) {
    auto sample = [&](std::uint32_t c, CircularBuffer::Cursor& ring, float x) {
      const float v = oscillators[c]->process(lfoRate);
      const float sweep = sweepSamples(sweepWidth.load(), v, rate);
      const float delayed =
          ring.interpolate(readPosition(ring, sweep, Traits::kBaseDelaySamples));
      if constexpr (Traits::kFeedsBack) {
        ring.writeSample(storable(x + feedbackLevel.load() * delayed));
      } else {
        ring.writeSample(storable(x));
      }
      ring.stepWritePointer();
      return x + wetMix.load() * delayed;
    };
#if ORVANE_VECTOR_KERNELS
    if (vectorPathAvailable() && (extent.channels == 1 || extent.channels == 2)) {
      const SweptSettings settings{sweepWidth, wetMix,
                                   Traits::kFeedsBack ? &feedbackLevel : nullptr,
                                   Traits::kBaseDelaySamples};
      runSweptBlock<Traits::kFeedsBack>(circularBuffers, oscillators, in, out, extent, lfoRate,
                                        rate, settings, sample);
      return;
    }
#endif
    runFrames(circularBuffers, in, out, extent, [] {}, sample);
  }

  // Vibrato: one oscillator step per frame; write, then read the swept signal alone.
  void runSweptAlone(const AudioBuffer<float>& in, AudioBuffer<float>& out, BlockExtent extent,
                     int lfoRate, float rate) {
    static_assert(!Traits::kFeedsBack, "the swept signal alone is never fed back");
    // Rings at one write position (the usual case: they drift apart only through blocks with
    // fewer channels) have one read position per frame, so it is worked out once, on channel
    // 0; it is the same float the other channels would work out.
    bool ringsInStep = true;
    for (std::uint32_t c = 1; c < extent.channels; ++c) {
      ringsInStep &= circularBuffers[c].writePointer == circularBuffers[0].writePointer;
    }
    float sweep = 0.0f;
    float position = 0.0f;
    auto beginFrame = [&] {
      const float v = oscillators.process(lfoRate);
      sweep = sweepSamples(sweepWidth.load(), v, rate);
    };
    auto sample = [&](std::uint32_t c, CircularBuffer::Cursor& ring, float x) {
      ring.writeSample(storable(x));
      if (c == 0 || !ringsInStep) {
        position = readPosition(ring, sweep, Traits::kBaseDelaySamples);
      }
      const float y = ring.interpolate(position);
      ring.stepWritePointer();
      return y;
    };
#if ORVANE_VECTOR_KERNELS
    if (vectorPathAvailable() && ringsInStep && (extent.channels == 1 || extent.channels == 2)) {
      runMonoOrStereo(
          circularBuffers, in, out, extent,
          [&](auto channels, CircularBuffer::Cursor* rings, const float** inputs,
              float** outputs) {
            runVibratoVector<decltype(channels)::value>(
                rings, inputs, outputs, extent.frames, oscillators, lfoRate, sweepWidth, rate,
                Traits::kBaseDelaySamples, beginFrame, sample);
          });
      return;
    }
#endif
    runFrames(circularBuffers, in, out, extent, beginFrame, sample);
  }
};

// ---- The description every swept effect gives ----

// Its settings: the switch, the sweep width and the sweep rate, with the node's own defaults
// and the range a user interface offers.
template <typename Traits>
std::vector<SettingInfo> sweptSettings(std::string sweepDescription, double maximumSweepSeconds,
                                       double maximumFrequencyHz) {
  return {
      describe::enabledSetting(),
      {"sweep-width", "Sweep Width", std::move(sweepDescription), "s", SettingKind::Number,
       static_cast<double>(Traits::kDefaultSweepWidthSeconds), 0.0, maximumSweepSeconds, false,
       false},
      {"frequency", "Sweep Rate", "How many times a second the sweep goes up and back down.",
       "Hz", SettingKind::Number, static_cast<double>(Traits::kInitialFrequencyHz), 0.0,
       maximumFrequencyHz, false, false},
  };
}

template <typename N>
std::vector<SettingAccessor> sweptAccessors() {
  return {describe::enabledAccess<N>(), describe::floatAccess<N, &N::getSweepWidth, &N::setSweepWidth>(),
          describe::floatAccess<N, &N::getFrequency, &N::setFrequency>()};
}

// A sweep the ring cannot follow: not a finite number of samples, negative (it reads ahead and
// the ring wraps), or past the end of the ring with the base delay.
template <typename N, typename Traits>
void sweptCautions(Node& node, unsigned int sampleRate, std::vector<std::string>& out) {
  using describe::number;
  using describe::rateText;
  const float sweep = describe::as<N>(node).getSweepWidth();
  const float span = sweep * static_cast<float>(sampleRate);
  if (!std::isfinite(sweep)) {
    // A value that is not finite is reported with the others of its kind.
  } else if (!std::isfinite(span)) {
    out.push_back("a sweep width of " + number(sweep) + " s is not a finite number of samples at " +
                  rateText(sampleRate) + "; the swept signal will be silent");
  } else if (span < 0.0f) {
    out.push_back("a negative sweep width (" + number(sweep) +
                  " s) reads ahead of the signal; the ring wraps and the swept signal comes " +
                  "from almost a second earlier");
  } else if (static_cast<double>(Traits::kBaseDelaySamples) + span > kRingLength) {
    out.push_back("a sweep width of " + number(sweep) + " s is " + number(span) +
                  " samples at " + rateText(sampleRate) + ", more than the " +
                  number(kRingLength) +
                  "-sample ring holds; the delay will wrap around the ring");
  }
}

// The whole description of a swept node N whose type name is `nodeTypeName`.
template <typename N, typename Traits>
NodeDescription sweptDescription(std::string nodeTypeName, std::string sweepDescription,
                                 double maximumSweepSeconds, double maximumFrequencyHz) {
  return {std::move(nodeTypeName), 1, kMaxSweptChannels,
          sweptSettings<Traits>(std::move(sweepDescription), maximumSweepSeconds,
                                maximumFrequencyHz),
          sweptAccessors<N>(), sweptCautions<N, Traits>};
}

}  // namespace orvane::extensions::audioeffects::support

// The public accessors of a swept node class, forwarding to its core (`internals`).
#define ORVANE_SWEPT_NODE_ACCESSORS(Node)                                                    \
  bool Node::getIsEnabled() { return internals->isEnabled.load(); }                           \
  void Node::setIsEnabled(bool isEnabled) { internals->isEnabled.store(isEnabled); }          \
  float Node::getSweepWidth() { return internals->sweepWidth.load(); }                        \
  void Node::setSweepWidth(float sweepWidth) { internals->sweepWidth.store(sweepWidth); }     \
  float Node::getFrequency() { return internals->frequency(); }                               \
  void Node::setFrequency(float frequency) { internals->setFrequency(frequency); }            \
  bool Node::setBusFormat(AudioBusFormat& inputFormat, AudioBusFormat& outputFormat) {        \
    return support::acceptsMonoOrStereo(inputFormat, outputFormat);                           \
  }                                                                                           \
  bool Node::process(AudioBus& input, AudioBus& output) { return internals->process(input, output); }
