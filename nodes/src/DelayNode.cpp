#include <atomic>
#include <cstdint>
#include <limits>
#include <orvane/audioeffects/DelayNode.hpp>
#include <orvane/sdk/CircularBuffer.hpp>
#include <vector>

#include "DelayKernel.hpp"
#include "NodeSupport.hpp"
#include "VectorPath.hpp"

namespace orvane::extensions::audioeffects {

namespace {

constexpr bool kDefaultIsEnabled = true;
constexpr float kDefaultDryMix = 0.7f;
constexpr float kDefaultWetMix = 0.3f;
constexpr std::uint32_t kDefaultDelayMs = 200;
constexpr float kDefaultFeedbackLevel = 0.2f;
constexpr double kMillisecondsPerSecond = 1000.0;

// trunc(S / 1000 × M) in double precision. The result saturates at the largest unsigned 32-bit
// value rather than overflowing the conversion (a delay of 2^32 − 1 ms at 48000 Hz, say).
std::uint32_t delayInSamples(std::uint32_t sampleRate, std::uint32_t delayMs) {
  const double samples =
      std::trunc(static_cast<double>(sampleRate) / kMillisecondsPerSecond * delayMs);
  constexpr double kMax = std::numeric_limits<std::uint32_t>::max();
  return samples >= kMax ? std::numeric_limits<std::uint32_t>::max()
                         : static_cast<std::uint32_t>(samples);
}

// The read position `delay` samples behind the write position. The difference is taken in 64
// bits, where it cannot overflow, and reduced modulo the ring length, so it fits an int; the
// ring wraps what is left. A delay longer than the ring lands wherever the modulo puts it.
int readPositionBehind(const CircularBuffer& ring, std::uint32_t delay) {
  const std::int64_t behind = static_cast<std::int64_t>(ring.writePointer) - delay;
  return static_cast<int>(behind % ring.size);
}


}  // namespace

class ORVANE_AUDIOEFFECTS_HIDDEN DelayNode::Internals {
 public:
  explicit Internals(std::uint32_t capacity) : numberOfChannels(capacity) {
    circularBuffers.reserve(capacity);
    for (std::uint32_t c = 0; c < capacity; ++c) circularBuffers.emplace_back(support::kRingLength);
  }

  // Settings, written by any thread.
  const std::uint32_t numberOfChannels;
  std::atomic<bool> isEnabled{kDefaultIsEnabled};
  std::atomic<float> dryMix{kDefaultDryMix};
  std::atomic<float> wetMix{kDefaultWetMix};
  std::atomic<std::uint32_t> delayMs{kDefaultDelayMs};
  std::atomic<float> feedbackLevel{kDefaultFeedbackLevel};

  // Format tracking, audio thread only: what the read positions were last placed for.
  std::uint32_t lastDelayMs = 0;
  std::uint32_t lastSampleRate = 0;
  std::uint32_t lastNumberOfChannels = 0;

  // One delay line per channel of capacity; never resized.
  std::vector<CircularBuffer> circularBuffers;
};

DelayNode::DelayNode(unsigned int numberOfChannels)
    : internals(std::make_unique<Internals>(numberOfChannels)) {
  typeName = "DelayNode";
}

DelayNode::~DelayNode() = default;

NodeTypeInfo DelayNode::getNodeTypeInfo() {
  return support::makeNodeTypeInfo("Delay", "Delay",
                                   "Applies a delay effect to the input audio signal.");
}

bool DelayNode::getIsEnabled() { return internals->isEnabled.load(); }
void DelayNode::setIsEnabled(bool isEnabled) { internals->isEnabled.store(isEnabled); }
float DelayNode::getDryMix() { return internals->dryMix.load(); }
void DelayNode::setDryMix(float dryMix) { internals->dryMix.store(dryMix); }
float DelayNode::getWetMix() { return internals->wetMix.load(); }
void DelayNode::setWetMix(float wetMix) { internals->wetMix.store(wetMix); }
unsigned int DelayNode::getDelayMs() { return internals->delayMs.load(); }
void DelayNode::setDelayMs(unsigned int delayMs) { internals->delayMs.store(delayMs); }
float DelayNode::getFeedbackLevel() { return internals->feedbackLevel.load(); }
void DelayNode::setFeedbackLevel(float level) { internals->feedbackLevel.store(level); }

bool DelayNode::setBusFormat(AudioBusFormat& inputFormat, AudioBusFormat& outputFormat) {
  if (!AudioBusFormat::matchBusFormats(inputFormat, outputFormat)) return false;
  return inputFormat.getNumberOfChannels() <= internals->numberOfChannels;
}

bool DelayNode::process(AudioBus& input, AudioBus& output) {
  const AudioBuffer<float>& in = input.getBuffer();
  AudioBuffer<float>& out = output.getBuffer();
  Internals& state = *internals;

  const std::uint32_t sampleRate = in.getSampleRate();
  const std::uint32_t channelCount = in.getNumberOfChannels();
  const std::uint32_t delayMs = state.delayMs.load();
  if (!state.isEnabled.load() || delayMs == 0) {
    output.copyFrom(input);
    return true;
  }

  // A new rate or channel count clears every delay line (positions stay); a new rate or delay
  // places every read position D behind its write position.
  const bool rateChanged = sampleRate != state.lastSampleRate;
  if (rateChanged || channelCount != state.lastNumberOfChannels) {
    for (CircularBuffer& ring : state.circularBuffers) ring.reset();
    state.lastSampleRate = sampleRate;
    state.lastNumberOfChannels = channelCount;
  }
  if (delayMs != state.lastDelayMs || rateChanged) {
    const std::uint32_t delay = delayInSamples(sampleRate, delayMs);
    for (CircularBuffer& ring : state.circularBuffers) {
      ring.setReadPointer(readPositionBehind(ring, delay));
    }
    state.lastDelayMs = delayMs;
  }

  const support::BlockExtent extent = support::processableExtent(in, out, state.numberOfChannels);
  // Every processed sample is written below; only the rest of the block is copied.
  output.copyFromExcept(input, extent.channels, extent.frames);
  auto sample = [&state](std::uint32_t, CircularBuffer::Cursor& line, float x) {
    const float delayed = line.readSample();
    const float fedBack = x + state.feedbackLevel.load() * delayed;
    const float y = x * state.dryMix.load() + delayed * state.wetMix.load();
    line.writeSample(support::storable(fedBack));
    line.stepWritePointer();
    line.stepReadPointer();
    return y;
  };
#if ORVANE_VECTOR_KERNELS
  if (support::vectorPathAvailable() && (extent.channels == 1 || extent.channels == 2)) {
    const support::DelaySettings settings{state.feedbackLevel, state.dryMix, state.wetMix};
    support::runMonoOrStereo(
        state.circularBuffers, in, out, extent,
        [&](auto channels, CircularBuffer::Cursor* lines, const float** inputs, float** outputs) {
          support::runDelayVector<decltype(channels)::value>(lines, inputs, outputs,
                                                             extent.frames, settings, sample);
        });
    return true;
  }
#endif
  support::runFrames(state.circularBuffers, in, out, extent, [] {}, sample);
  return true;
}

}  // namespace orvane::extensions::audioeffects
