#include <atomic>
#include <cstdint>
#include <orvane/audioeffects/VibratoNode.hpp>
#include <orvane/sdk/CircularBuffer.hpp>
#include <orvane/sdk/LFO.hpp>
#include <vector>

#include "NodeSupport.hpp"
#include "VectorPath.hpp"
#include "VibratoKernel.hpp"

namespace orvane::extensions::audioeffects {

namespace {

constexpr float kReadMarginSamples = 1.0f;
constexpr float kDefaultSweepWidthSeconds = 0.01f;
constexpr float kInitialFrequencyHz = 4.0f;

}  // namespace

class ORVANE_AUDIOEFFECTS_HIDDEN VibratoNode::Internals {
 public:
  explicit Internals(std::uint32_t capacity) : numberOfChannels(capacity) {
    circularBuffers.reserve(capacity);
    for (std::uint32_t i = 0; i < capacity; ++i) circularBuffers.emplace_back(support::kRingLength);
    lfo.setFrequency(kInitialFrequencyHz);
    lfo.setAmplitude(support::kOscillatorAmplitude);
    lfo.setOffset(support::kOscillatorOffset);
  }

  const std::uint32_t numberOfChannels;
  // One oscillator for all channels, stepped once per frame.
  LFO lfo;
  // One ring per channel of capacity; never resized.
  std::vector<CircularBuffer> circularBuffers;

  // Format tracking, audio thread only.
  std::uint32_t lastSampleRate = 0;
  std::uint32_t lastNumberOfChannels = 0;

  // Settings, written by any thread.
  std::atomic<bool> isEnabled{true};
  std::atomic<float> sweepWidth{kDefaultSweepWidthSeconds};
};

VibratoNode::VibratoNode(unsigned int numberOfChannels)
    : internals(std::make_unique<Internals>(numberOfChannels)) {
  typeName = "VibratoNode";
}

VibratoNode::~VibratoNode() = default;

NodeTypeInfo VibratoNode::getNodeTypeInfo() {
  return support::makeNodeTypeInfo("Vibrato", "Vibrato",
                                   "Applies a vibrato effect to the input audio signal.");
}

bool VibratoNode::getIsEnabled() { return internals->isEnabled.load(); }
void VibratoNode::setIsEnabled(bool isEnabled) { internals->isEnabled.store(isEnabled); }
float VibratoNode::getSweepWidth() { return internals->sweepWidth.load(); }
void VibratoNode::setSweepWidth(float sweepWidth) { internals->sweepWidth.store(sweepWidth); }
float VibratoNode::getFrequency() { return internals->lfo.getFrequency(); }
void VibratoNode::setFrequency(float frequency) { internals->lfo.setFrequency(frequency); }

bool VibratoNode::setBusFormat(AudioBusFormat& inputFormat, AudioBusFormat& outputFormat) {
  return support::acceptsMonoOrStereo(inputFormat, outputFormat);
}

bool VibratoNode::process(AudioBus& input, AudioBus& output) {
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
  // Rings at one write position (the usual case: they drift apart only through blocks with
  // fewer channels) have one read position per frame, so it is worked out once, on channel 0;
  // it is the same float the other channels would work out.
  bool ringsInStep = true;
  for (std::uint32_t c = 1; c < extent.channels; ++c) {
    ringsInStep &= state.circularBuffers[c].writePointer == state.circularBuffers[0].writePointer;
  }
  float sweep = 0.0f;
  float position = 0.0f;
  auto beginFrame = [&] {  // one oscillator step and one sweep per frame, shared by every channel
    const float v = state.lfo.process(lfoRate);
    sweep = (state.sweepWidth.load() * v) * rate;
  };
  auto sample = [&](std::uint32_t c, CircularBuffer::Cursor& ring, float x) {
    // The write comes before the read: the delay is 1 + sweep samples.
    ring.writeSample(support::storable(x));
    if (c == 0 || !ringsInStep) position = support::readPosition(ring, sweep, kReadMarginSamples);
    const float y = ring.interpolate(position);
    ring.stepWritePointer();
    return y;
  };
#if ORVANE_VECTOR_KERNELS
  if (support::vectorPathAvailable() && ringsInStep &&
      (extent.channels == 1 || extent.channels == 2)) {
    support::runMonoOrStereo(
        state.circularBuffers, in, out, extent,
        [&](auto channels, CircularBuffer::Cursor* rings, const float** inputs, float** outputs) {
          support::runVibratoVector<decltype(channels)::value>(
              rings, inputs, outputs, extent.frames, state.lfo, lfoRate, state.sweepWidth, rate,
              kReadMarginSamples, beginFrame, sample);
        });
    return true;
  }
#endif
  support::runFrames(state.circularBuffers, in, out, extent, beginFrame, sample);
  return true;
}

}  // namespace orvane::extensions::audioeffects
