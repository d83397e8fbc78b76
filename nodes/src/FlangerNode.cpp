#include <atomic>
#include <cstdint>
#include <orvane/audioeffects/FlangerNode.hpp>
#include <orvane/sdk/CircularBuffer.hpp>
#include <orvane/sdk/LFO.hpp>
#include <vector>

#include "NodeSupport.hpp"
#include "SweptKernel.hpp"
#include "VectorPath.hpp"

namespace orvane::extensions::audioeffects {

namespace {

constexpr float kReadMarginSamples = 2.0f;
constexpr float kWetMix = 0.8f;
constexpr float kFeedbackLevel = 0.6f;
constexpr float kDefaultSweepWidthSeconds = 0.005f;
constexpr float kInitialFrequencyHz = 0.4f;

}  // namespace

class ORVANE_AUDIOEFFECTS_HIDDEN FlangerNode::Internals {
 public:
  explicit Internals(std::uint32_t capacity) : numberOfChannels(capacity) {
    support::buildChannels(capacity, kInitialFrequencyHz, lfos, circularBuffers);
  }

  const std::uint32_t numberOfChannels;
  // One oscillator and one ring per channel of capacity; never resized, so control threads may
  // reach the oscillators while audio runs.
  std::vector<std::unique_ptr<LFO>> lfos;
  std::vector<CircularBuffer> circularBuffers;

  // Format tracking, audio thread only.
  std::uint32_t lastSampleRate = 0;
  std::uint32_t lastNumberOfChannels = 0;

  // Settings, written by any thread.
  std::atomic<bool> isEnabled{true};
  std::atomic<float> sweepWidth{kDefaultSweepWidthSeconds};
  std::atomic<float> wetMix{kWetMix};
  std::atomic<float> feedbackLevel{kFeedbackLevel};
};

FlangerNode::FlangerNode(unsigned int numberOfChannels)
    : internals(std::make_unique<Internals>(numberOfChannels)) {
  typeName = "OrvaneFlangerNode";
}

FlangerNode::~FlangerNode() = default;

NodeTypeInfo FlangerNode::getNodeTypeInfo() {
  return support::makeNodeTypeInfo("Flanger", "Flanger",
                                   "Applies a flanger effect to the input audio signal.");
}

bool FlangerNode::getIsEnabled() { return internals->isEnabled.load(); }
void FlangerNode::setIsEnabled(bool isEnabled) { internals->isEnabled.store(isEnabled); }
float FlangerNode::getSweepWidth() { return internals->sweepWidth.load(); }
void FlangerNode::setSweepWidth(float sweepWidth) { internals->sweepWidth.store(sweepWidth); }

float FlangerNode::getFrequency() { return support::frequencyOf(internals->lfos); }
void FlangerNode::setFrequency(float frequency) {
  support::setFrequencyOf(internals->lfos, frequency);
}

bool FlangerNode::setBusFormat(AudioBusFormat& inputFormat, AudioBusFormat& outputFormat) {
  return support::acceptsMonoOrStereo(inputFormat, outputFormat);
}

bool FlangerNode::process(AudioBus& input, AudioBus& output) {
  Internals& state = *internals;
  if (!state.isEnabled.load()) {
    output.copyFrom(input);
    return true;
  }

  const AudioBuffer<float>& in = input.getBuffer();
  AudioBuffer<float>& out = output.getBuffer();
  const std::uint32_t sampleRate = in.getSampleRate();
  support::resetRingsOnFormatChange(sampleRate, in.getNumberOfChannels(), state.lastSampleRate,
                                    state.lastNumberOfChannels, state.circularBuffers);

  const support::BlockExtent extent = support::processableExtent(in, out, state.numberOfChannels);
  // Every processed sample is written below; only the rest of the block is copied.
  output.copyFromExcept(input, extent.channels, extent.frames);
  const int lfoRate = support::oscillatorRate(sampleRate);
  const auto rate = static_cast<float>(sampleRate);
  auto sample = [&](std::uint32_t c, CircularBuffer::Cursor& ring, float x) {
    const float v = state.lfos[c]->process(lfoRate);
    const float sweep = (state.sweepWidth.load() * v) * rate;
    // The read comes before this sample is written: the delay is 2 + sweep samples.
    const float delayed =
        ring.interpolate(support::readPosition(ring, sweep, kReadMarginSamples));
    ring.writeSample(support::storable(x + state.feedbackLevel.load() * delayed));
    ring.stepWritePointer();
    return x + state.wetMix.load() * delayed;
  };
#if ORVANE_VECTOR_KERNELS
  if (support::vectorPathAvailable() && (extent.channels == 1 || extent.channels == 2)) {
    const support::SweptSettings settings{state.sweepWidth, state.wetMix, &state.feedbackLevel,
                                          kReadMarginSamples};
    support::runSweptBlock<true>(state.circularBuffers, state.lfos, in, out, extent, lfoRate, rate,
                           settings, sample);
    return true;
  }
#endif
  support::runFrames(state.circularBuffers, in, out, extent, [] {}, sample);
  return true;
}

}  // namespace orvane::extensions::audioeffects
