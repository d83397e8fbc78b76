#include <atomic>
#include <cstdint>
#include <limits>
#include <orvane/audioeffects/DelayNode.hpp>
#include <orvane/sdk/CircularBuffer.hpp>
#include <vector>

#include "DelayKernel.hpp"
#include "NodeDescription.hpp"
#include "NodeSupport.hpp"
#include "VectorPath.hpp"

namespace orvane::extensions::audioeffects {

namespace {

constexpr bool kDefaultIsEnabled = true;
constexpr float kDefaultDryMix = 0.7f;
constexpr float kDefaultWetMix = 0.3f;
constexpr std::uint32_t kDefaultDelayMs = 200;
constexpr float kDefaultFeedbackLevel = 0.2f;
constexpr const char* kNodeTypeName = "DelayNode";

// The range a user interface offers; the node itself stores any value.
constexpr double kMaximumDelayMs = 1000.0;
constexpr double kMaximumFeedbackLevel = static_cast<double>(0.99f);

// The delay in samples, saturated at the largest unsigned 32-bit value rather than overflowing
// the conversion (a delay of 2^32 − 1 ms at 48000 Hz, say).
std::uint32_t delayInSamples(std::uint32_t sampleRate, std::uint32_t delayMs) {
  const double samples = support::exactDelaySamples(sampleRate, delayMs);
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
  support::WrittenFrames written;  // what restart() must silence
};

DelayNode::DelayNode(unsigned int numberOfChannels)
    : internals(std::make_unique<Internals>(numberOfChannels)) {
  typeName = kNodeTypeName;
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

void DelayNode::restart() {
  Internals& state = *internals;
  support::restartRings(state.circularBuffers, state.written);
  state.lastDelayMs = 0;
  state.lastSampleRate = 0;
  state.lastNumberOfChannels = 0;
}

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
    if (support::ringsMayHoldSound(state.lastSampleRate, state.lastNumberOfChannels)) {
      for (CircularBuffer& ring : state.circularBuffers) ring.reset();
    }
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
  state.written.add(extent.frames);
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
#if ORVANE_VECTOR_KERNELS || ORVANE_WASM_KERNELS
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

namespace {

// A delay the line cannot hold, and echoes that never decay. The node places the read position
// the saturated delay behind the write position modulo the ring: what is heard is the remainder
// (a remainder of 0 reads the slot about to be overwritten, a whole ring earlier).
void delayCautions(Node& node, unsigned int sampleRate, std::vector<std::string>& out) {
  using describe::number;
  auto& delay = describe::as<DelayNode>(node);
  const unsigned int ms = delay.getDelayMs();
  constexpr double kRing = support::kRingLength;
  constexpr double kMillisecondsPerSecond = 1000.0;
  const double exact = support::exactDelaySamples(sampleRate, ms);
  const double samples = delayInSamples(sampleRate, ms);
  if (ms != 0 && (samples > kRing || samples < 1.0)) {
    const double remainder = std::fmod(samples, kRing);
    const double heard = remainder == 0.0 ? kRing : remainder;
    const std::string held = exact > samples ? " (held as " + number(samples) + ")" : "";
    out.push_back("a delay of " + number(ms) + " ms is " + number(exact) + " samples at " +
                  describe::rateText(sampleRate) + held + ", which the " + number(kRing) +
                  "-sample delay line cannot hold; the echoes will come every " + number(heard) +
                  " samples (" + number(heard * kMillisecondsPerSecond / sampleRate) + " ms)");
  }
  const float feedback = delay.getFeedbackLevel();
  if (std::abs(feedback) >= 1.0f) {
    out.push_back("a feedback of " + number(feedback) +
                  " makes every echo at least as loud as the one before; the echoes never decay");
  }
}

}  // namespace

template <>
const NodeDescription& describeNode<DelayNode>() {
  auto level = [](std::string id, std::string name, std::string description, float value) {
    return SettingInfo{std::move(id), std::move(name), std::move(description), "",
                       SettingKind::Number, static_cast<double>(value), 0.0, 1.0, false, false};
  };
  static const NodeDescription description{
      kNodeTypeName,
      1,
      support::kFactoryChannelCapacity,
      {describe::enabledSetting(),
       level("dry-mix", "Dry Mix", "How loud the original signal is in the output, as a linear gain.",
             kDefaultDryMix),
       level("wet-mix", "Wet Mix", "How loud the echoes are in the output, as a linear gain.",
             kDefaultWetMix),
       {"delay", "Delay Time", "The time between one echo and the next.", "ms",
        SettingKind::Integer, static_cast<double>(kDefaultDelayMs), 0.0, kMaximumDelayMs, false,
        false},
       {"feedback", "Feedback", "How much quieter each echo is than the one before, as a gain.",
        "", SettingKind::Number, static_cast<double>(kDefaultFeedbackLevel), 0.0,
        kMaximumFeedbackLevel, false, false}},
      describe::echoAccessors<DelayNode>(),
      delayCautions,
      [](Node& node, unsigned int sampleRate) -> std::uint64_t {
        const std::uint32_t delay = delayInSamples(sampleRate, describe::as<DelayNode>(node).getDelayMs());
        return std::min<std::uint64_t>(delay, support::kRingLength);
      },
      nullptr,
      describe::restartNode<DelayNode>};
  return description;
}

}  // namespace orvane::extensions::audioeffects
