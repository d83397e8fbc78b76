#pragma once

// The family of swept delays: chorus, flanger and vibrato. Each channel runs through a ring of
// its own, read back at a delay of a fixed base plus an oscillator's swing:
//
//   v = lfo.process(rate);                 // 0 to 1
//   sweep = (sweepWidth × v) × rate;       // samples, in float, in exactly this order
//   position = readPosition(ring, sweep, base);
//
// What sets the members apart is SweptTraits: three facts and the defaults. A member's source
// gives its traits and its catalogue facts (SweptNodeInfo) and defines its class with
// ORVANE_SWEPT_NODE. Internal to the library.

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

struct SweptTraits {
  float baseDelaySamples;  // the fixed part of the delay, in samples
  // Whether the swept signal goes back into the ring, scaled by the feedback level (the
  // flanger), or only the input does.
  bool feedsBack;
  // True: each channel has its own oscillator, a quarter cycle ahead of the one before; the
  // ring is read before the sample is written, and the output is x + wetMix × swept (chorus,
  // flanger). False: one oscillator steps once per frame for all channels; the sample is
  // written before the ring is read, and the output is the swept signal alone (vibrato).
  bool oscillatorPerChannel;
  float wetMix;         // read only where the output mixes
  float feedbackLevel;  // read only where the effect feeds back
  float defaultSweepWidthSeconds;
  float initialFrequencyHz;
};

// What the catalogue and the list of effects say of a member.
struct SweptNodeInfo {
  const char* nodeTypeName;  // the node's type-name string
  const char* type;          // the catalogue's type, display name and description
  const char* displayName;
  const char* description;
  const char* sweepDescription;  // what the sweep width does to the sound
  // The range offered: the widest sweep still fits the ring, with the base delay, at rates
  // far above 48 kHz.
  double maximumSweepSeconds;
  double maximumFrequencyHz;
};

// The swept part of the delay, in samples.
inline float sweepSamples(float sweepWidth, float v, float rate) noexcept {
  return (sweepWidth * v) * rate;
}

template <SweptTraits kTraits>
class SweptCore {
 public:
  static constexpr bool kPerChannel = kTraits.oscillatorPerChannel;

  // Allocates a ring per channel of capacity (and, per channel, an oscillator where the traits
  // say so); nothing is resized afterwards, so control threads may reach the oscillators while
  // audio runs.
  explicit SweptCore(std::uint32_t capacity) : numberOfChannels(capacity) {
    if constexpr (kPerChannel) {
      buildChannels(capacity, kTraits.initialFrequencyHz, oscillators, circularBuffers);
    } else {
      circularBuffers.reserve(capacity);
      for (std::uint32_t c = 0; c < capacity; ++c) circularBuffers.emplace_back(kRingLength);
      oscillators.setFrequency(kTraits.initialFrequencyHz);
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

  // Audio thread (or while no process call runs). The node where its first `frames` frames at
  // `sampleRate` leave it: every oscillator at the phase they give at the present rate, every
  // ring's write position where they leave it (the read positions are worked out in float from
  // it, so it shapes the samples too). What the rings hold stays.
  void setPosition(std::uint64_t frames, unsigned int sampleRate) noexcept {
    written.everything();  // the lines are now written from wherever this puts them
    for (CircularBuffer& ring : circularBuffers) {
      ring.writePointer = static_cast<int>(frames % static_cast<std::uint64_t>(ring.size));
    }
    const int rate = oscillatorRate(sampleRate);
    if constexpr (kPerChannel) {
      for (const auto& lfo : oscillators) lfo->seek(frames, rate);
    } else {
      oscillators.seek(frames, rate);
    }
  }

  // Audio thread (or while no process call runs). As constructed, the settings kept: the
  // oscillators back at phase 0 (each keeps its phase offset), the lines silent from slot 0.
  void restart() noexcept {
    restartRings(circularBuffers, written);
    if constexpr (kPerChannel) {
      for (const auto& lfo : oscillators) lfo->seek(0, 0);
    } else {
      oscillators.seek(0, 0);
    }
    lastSampleRate = 0;
    lastNumberOfChannels = 0;
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
    written.add(extent.frames);
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
  WrittenFrames written;  // what restart() must silence

  // Settings, written by any thread.
  std::atomic<bool> isEnabled{true};
  std::atomic<float> sweepWidth{kTraits.defaultSweepWidthSeconds};
  std::atomic<float> wetMix{kTraits.wetMix};
  std::atomic<float> feedbackLevel{kTraits.feedbackLevel};

 private:
  // Chorus and flanger: read, write, then mix the swept signal into the input.
  void runMixed(const AudioBuffer<float>& in, AudioBuffer<float>& out, BlockExtent extent,
                int lfoRate, float rate) {
    auto sample = [&](std::uint32_t c, CircularBuffer::Cursor& ring, float x) {
      const float v = oscillators[c]->process(lfoRate);
      const float sweep = sweepSamples(sweepWidth.load(), v, rate);
      const float delayed =
          ring.interpolate(readPosition(ring, sweep, kTraits.baseDelaySamples));
      if constexpr (kTraits.feedsBack) {
        ring.writeSample(storable(x + feedbackLevel.load() * delayed));
      } else {
        ring.writeSample(storable(x));
      }
      ring.stepWritePointer();
      return x + wetMix.load() * delayed;
    };
#if ORVANE_VECTOR_KERNELS || ORVANE_WASM_KERNELS
    if (vectorPathAvailable() && (extent.channels == 1 || extent.channels == 2)) {
      const SweptSettings settings{sweepWidth, wetMix,
                                   kTraits.feedsBack ? &feedbackLevel : nullptr,
                                   kTraits.baseDelaySamples};
      runSweptBlock<kTraits.feedsBack>(circularBuffers, oscillators, in, out, extent, lfoRate,
                                        rate, settings, sample);
      return;
    }
#endif
    runFrames(circularBuffers, in, out, extent, [] {}, sample);
  }

  // Vibrato: one oscillator step per frame; write, then read the swept signal alone.
  void runSweptAlone(const AudioBuffer<float>& in, AudioBuffer<float>& out, BlockExtent extent,
                     int lfoRate, float rate) {
    static_assert(!kTraits.feedsBack, "the swept signal alone is never fed back");
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
        position = readPosition(ring, sweep, kTraits.baseDelaySamples);
      }
      const float y = ring.interpolate(position);
      ring.stepWritePointer();
      return y;
    };
#if ORVANE_VECTOR_KERNELS || ORVANE_WASM_KERNELS
    if (vectorPathAvailable() && ringsInStep && (extent.channels == 1 || extent.channels == 2)) {
      runMonoOrStereo(
          circularBuffers, in, out, extent,
          [&](auto channels, CircularBuffer::Cursor* rings, const float** inputs,
              float** outputs) {
            runVibratoVector<decltype(channels)::value>(
                rings, inputs, outputs, extent.frames, oscillators, lfoRate, sweepWidth, rate,
                kTraits.baseDelaySamples, beginFrame, sample);
          });
      return;
    }
#endif
    runFrames(circularBuffers, in, out, extent, beginFrame, sample);
  }
};

// ---- The description every swept effect gives ----

// A sweep the ring cannot follow: not a finite number of samples, negative (it reads ahead and
// the ring wraps), or past the end of the ring with the base delay.
template <typename N, SweptTraits kTraits>
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
  } else if (static_cast<double>(kTraits.baseDelaySamples) + span > kRingLength) {
    out.push_back("a sweep width of " + number(sweep) + " s is " + number(span) +
                  " samples at " + rateText(sampleRate) + ", more than the " +
                  number(kRingLength) +
                  "-sample ring holds; the delay will wrap around the ring");
  }
}

// The base delay and the widest sweep, at most the ring.
template <typename N, SweptTraits kTraits>
std::uint64_t sweptReach(Node& node, unsigned int sampleRate) {
  const double sweep = static_cast<double>(describe::as<N>(node).getSweepWidth()) * sampleRate;
  const double reach = static_cast<double>(kTraits.baseDelaySamples) + (std::isfinite(sweep) ? std::abs(sweep) : 0.0);
  return static_cast<std::uint64_t>(std::min(std::ceil(reach), static_cast<double>(kRingLength)));
}

// The whole description of a swept node N: the switch, the sweep width and the sweep rate,
// with the node's own defaults and the ranges offered, each through the node's accessors.
template <typename N, SweptTraits kTraits>
NodeDescription sweptDescription(const SweptNodeInfo& info) {
  return {info.nodeTypeName,
          1,
          kMaxSweptChannels,
          {describe::enabledSetting(),
           {"sweep-width", "Sweep Width", info.sweepDescription, "s", SettingKind::Number,
            static_cast<double>(kTraits.defaultSweepWidthSeconds), 0.0, info.maximumSweepSeconds,
            false, false},
           {"frequency", "Sweep Rate", "How many times a second the sweep goes up and back down.",
            "Hz", SettingKind::Number, static_cast<double>(kTraits.initialFrequencyHz), 0.0,
            info.maximumFrequencyHz, false, false}},
          {describe::enabledAccess<N>(),
           describe::floatAccess<N, &N::getSweepWidth, &N::setSweepWidth>(),
           describe::floatAccess<N, &N::getFrequency, &N::setFrequency>()},
          sweptCautions<N, kTraits>,
          sweptReach<N, kTraits>,
          [](Node& node, std::uint64_t frames, unsigned int sampleRate) {
            describe::as<N>(node).setPosition(frames, sampleRate);
          },
          describe::restartNode<N>};
}

}  // namespace orvane::extensions::audioeffects::support

// The whole of a swept node class `Node` (its Internals, construction, catalogue record,
// accessors, process and description), from its traits and its catalogue facts.
#define ORVANE_SWEPT_NODE(Node, kTraits, kInfo)                                                 \
  class ORVANE_AUDIOEFFECTS_HIDDEN Node::Internals : public support::SweptCore<kTraits> {      \
    using SweptCore::SweptCore;                                                               \
  };                                                                                          \
  Node::Node(unsigned int numberOfChannels)                                                   \
      : internals(std::make_unique<Internals>(numberOfChannels)) {                            \
    typeName = kInfo.nodeTypeName;                                                            \
  }                                                                                           \
  Node::~Node() = default;                                                                    \
  NodeTypeInfo Node::getNodeTypeInfo() {                                                      \
    return support::makeNodeTypeInfo(kInfo.type, kInfo.displayName, kInfo.description);       \
  }                                                                                           \
  bool Node::getIsEnabled() { return internals->isEnabled.load(); }                           \
  void Node::setIsEnabled(bool isEnabled) { internals->isEnabled.store(isEnabled); }          \
  float Node::getSweepWidth() { return internals->sweepWidth.load(); }                        \
  void Node::setSweepWidth(float sweepWidth) { internals->sweepWidth.store(sweepWidth); }     \
  float Node::getFrequency() { return internals->frequency(); }                               \
  void Node::setFrequency(float frequency) { internals->setFrequency(frequency); }            \
  void Node::restart() { internals->restart(); }                                              \
  void Node::setPosition(std::uint64_t frames, unsigned int sampleRate) {           \
    internals->setPosition(frames, sampleRate);                                     \
  }                                                                                           \
  bool Node::setBusFormat(AudioBusFormat& inputFormat, AudioBusFormat& outputFormat) {        \
    return support::acceptsMonoOrStereo(inputFormat, outputFormat);                           \
  }                                                                                           \
  bool Node::process(AudioBus& input, AudioBus& output) {                                     \
    return internals->process(input, output);                                                 \
  }                                                                                           \
  template <>                                                                                 \
  const NodeDescription& describeNode<Node>() {                                               \
    static const NodeDescription description = support::sweptDescription<Node, kTraits>(kInfo); \
    return description;                                                                       \
  }
