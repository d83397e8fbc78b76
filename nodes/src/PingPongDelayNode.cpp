#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <orvane/audioeffects/PingPongDelayNode.hpp>

#include "NodeDescription.hpp"
#include "NodeSupport.hpp"
#include "PingPongKernel.hpp"
#include "VectorPath.hpp"

namespace orvane::extensions::audioeffects {

namespace {

using Parameters = PingPongDelayNodeParameters;

constexpr std::uint32_t kLineLength = support::kRingLength;
// The wrap length is kept within [1, kLineLength]: 0 would wrap by zero, and more would index
// past the arrays. Every delay in the parameter's range at rates up to 48000 Hz is inside.
constexpr std::uint32_t kMinDelaySamples = 1;
constexpr const char* kNodeTypeName = "PingPongDelayNode";

std::uint32_t delayInSamples(std::uint32_t sampleRate, std::uint32_t delayMs) {
  const double samples = support::exactDelaySamples(sampleRate, delayMs);
  return static_cast<std::uint32_t>(
      std::clamp(samples, static_cast<double>(kMinDelaySamples), static_cast<double>(kLineLength)));
}

// The node's settings, in the order of PingPongDelayNodeParameters: the host parameters are
// made from this table, so their ids, names, descriptions, defaults and bounds are the ones
// every front end shows. Numbers are the floats nearest to the decimals, held as doubles.
const std::vector<SettingInfo>& settingsTable() {
  static const std::vector<SettingInfo> table = {
      describe::enabledSetting("Enable or disable the ping-pong delay effect."),
      {"dry-mix", "Dry Mix",
       "Level of the dry signal. 0 means no dry signal, 1 means maximum dry signal.", "",
       SettingKind::Number, static_cast<double>(0.7f), 0.0, 1.0, false, true},
      {"wet-mix", "Wet Mix",
       "Level of the wet signal. 0 means no wet signal, 1 means maximum wet signal.", "",
       SettingKind::Number, static_cast<double>(0.3f), 0.0, 1.0, false, true},
      {"delay", "Delay (ms)", "The delay time in milliseconds.", "ms", SettingKind::Integer, 200.0,
       1.0, 1000.0, false, true},
      {"feedback", "Feedback Level",
       "The feedback level of the delay. 0 means no feedback, 1 means maximum feedback.", "",
       SettingKind::Number, static_cast<double>(0.2f), 0.0, static_cast<double>(0.99f), false,
       true},
  };
  return table;
}

struct FreeDeleter {
  void operator()(float* samples) const noexcept { std::free(samples); }
};
using DelayLine = std::unique_ptr<float[], FreeDeleter>;

// A silent delay line from malloc; std::bad_alloc when there is no memory for it.
DelayLine allocateDelayLine() {
  auto* samples = static_cast<float*>(std::malloc(kLineLength * sizeof(float)));
  if (samples == nullptr) throw std::bad_alloc();
  std::fill_n(samples, kLineLength, 0.0f);
  return DelayLine(samples);
}

}  // namespace

class ORVANE_AUDIOEFFECTS_HIDDEN PingPongDelayNode::Internals {
 public:
  // Format tracking, audio thread only: what delaySamples was last worked out for.
  std::uint32_t lastDelayMs = 0;
  std::uint32_t delaySamples = 0;
  std::uint32_t lastSampleRate = 0;

  // The two delay lines and their shared position (readIndex and writeIndex always move
  // together: every slot is read before it is overwritten).
  DelayLine leftBuffer = allocateDelayLine();
  DelayLine rightBuffer = allocateDelayLine();
  std::uint32_t readIndex = 0;
  std::uint32_t writeIndex = 0;
  support::WrittenFrames written;  // what restart() must silence

  // The node's own parameters, typed, for process(): the values the getters read, without a
  // trip through the parameter list per setting per block. Set once the list is built.
  const BoolStoredParameter* enabled = nullptr;
  const FloatStoredParameter* dryMix = nullptr;
  const FloatStoredParameter* wetMix = nullptr;
  const UIntStoredParameter* delay = nullptr;
  const FloatStoredParameter* feedback = nullptr;
};

PingPongDelayNode::PingPongDelayNode() : internals(std::make_unique<Internals>()) {
  typeName = kNodeTypeName;
  createParameters();
  const auto& list = getParameters();
  auto typed = [&list](auto* pointer, Parameters which) {
    return static_cast<decltype(pointer)>(list[static_cast<std::size_t>(which)].get());
  };
  internals->enabled = typed(internals->enabled, Parameters::Enabled);
  internals->dryMix = typed(internals->dryMix, Parameters::DryMix);
  internals->wetMix = typed(internals->wetMix, Parameters::WetMix);
  internals->delay = typed(internals->delay, Parameters::Delay);
  internals->feedback = typed(internals->feedback, Parameters::Feedback);
}

PingPongDelayNode::~PingPongDelayNode() = default;

void PingPongDelayNode::createParameters() {
  // The table's order is the list position each enumerator of Parameters names.
  for (const SettingInfo& s : settingsTable()) {
    switch (s.kind) {
      case SettingKind::Toggle:
        addParameter(std::make_unique<BoolStoredParameter>(s.id, s.name, s.description,
                                                           s.defaultValue > 0.0));
        break;
      case SettingKind::Number:
        addParameter(std::make_unique<FloatStoredParameter>(
            s.id, s.name, s.description, static_cast<float>(s.defaultValue),
            static_cast<float>(s.minimum), static_cast<float>(s.maximum)));
        break;
      case SettingKind::Integer:
        addParameter(std::make_unique<UIntStoredParameter>(
            s.id, s.name, s.description, static_cast<unsigned int>(s.defaultValue),
            static_cast<unsigned int>(s.minimum), static_cast<unsigned int>(s.maximum)));
        break;
    }
  }
}

template <typename P, typename T>
T PingPongDelayNode::getParameterValue(Parameters parameter) const {
  return static_cast<const P&>(*getParameters()[static_cast<std::size_t>(parameter)]).getValue();
}

template <typename P, typename T>
void PingPongDelayNode::setParameterValue(Parameters parameter, T value) {
  static_cast<P&>(*getParameters()[static_cast<std::size_t>(parameter)]).setValue(value);
}

NodeTypeInfo PingPongDelayNode::getNodeTypeInfo() {
  return support::makeNodeTypeInfo("PingPongDelay", "Ping Pong Delay",
                                   "Applies a ping pong delay effect to the input audio signal.");
}

bool PingPongDelayNode::getIsEnabled() const {
  return getParameterValue<BoolStoredParameter, bool>(Parameters::Enabled);
}
void PingPongDelayNode::setIsEnabled(bool isEnabled) {
  setParameterValue<BoolStoredParameter, bool>(Parameters::Enabled, isEnabled);
}
float PingPongDelayNode::getDryMix() const {
  return getParameterValue<FloatStoredParameter, float>(Parameters::DryMix);
}
void PingPongDelayNode::setDryMix(float dryMix) {
  setParameterValue<FloatStoredParameter, float>(Parameters::DryMix, dryMix);
}
float PingPongDelayNode::getWetMix() const {
  return getParameterValue<FloatStoredParameter, float>(Parameters::WetMix);
}
void PingPongDelayNode::setWetMix(float wetMix) {
  setParameterValue<FloatStoredParameter, float>(Parameters::WetMix, wetMix);
}
unsigned int PingPongDelayNode::getDelayMs() const {
  return getParameterValue<UIntStoredParameter, unsigned int>(Parameters::Delay);
}
void PingPongDelayNode::setDelayMs(unsigned int delayMs) {
  setParameterValue<UIntStoredParameter, unsigned int>(Parameters::Delay, delayMs);
}
float PingPongDelayNode::getFeedbackLevel() const {
  return getParameterValue<FloatStoredParameter, float>(Parameters::Feedback);
}
void PingPongDelayNode::setFeedbackLevel(float feedbackLevel) {
  setParameterValue<FloatStoredParameter, float>(Parameters::Feedback, feedbackLevel);
}

void PingPongDelayNode::restart() {
  Internals& state = *internals;
  // The shared position starts at 0 and wraps below the line's length, so the slots written
  // since are among the first `written` ones.
  const std::size_t written = state.written.slotsIn(kLineLength);
  std::fill_n(state.leftBuffer.get(), written, 0.0f);
  std::fill_n(state.rightBuffer.get(), written, 0.0f);
  state.written.clear();
  state.readIndex = 0;
  state.writeIndex = 0;
  state.lastDelayMs = 0;
  state.delaySamples = 0;
  state.lastSampleRate = 0;
}

bool PingPongDelayNode::setBusFormat(AudioBusFormat& inputFormat, AudioBusFormat& outputFormat) {
  if (!AudioBusFormat::matchBusFormats(inputFormat, outputFormat)) return false;
  return inputFormat.getNumberOfChannels() == 2;
}

bool PingPongDelayNode::process(AudioBus& input, AudioBus& output) {
  Internals& state = *internals;
  const bool isEnabled = state.enabled->getValue();
  const std::uint32_t delayMs = state.delay->getValue();
  if (!isEnabled || delayMs == 0) {
    output.copyFrom(input);
    return true;
  }

  const AudioBuffer<float>& in = input.getBuffer();
  AudioBuffer<float>& out = output.getBuffer();
  const std::uint32_t sampleRate = in.getSampleRate();
  // A new rate or delay changes only where the shared position wraps: the lines keep their
  // content and the position does not move.
  if (sampleRate != state.lastSampleRate || delayMs != state.lastDelayMs) {
    state.delaySamples = delayInSamples(sampleRate, delayMs);
    state.lastSampleRate = sampleRate;
    state.lastDelayMs = delayMs;
  }
  const float dry = state.dryMix->getValue();
  const float wet = state.wetMix->getValue();
  const float feedback = state.feedback->getValue();

  // Channel 0 is the left line; every further channel is handled as the right one. Within a
  // frame the left slot is replaced before the right channel reads it as its feedback.
  float* const left = state.leftBuffer.get();
  float* const right = state.rightBuffer.get();
  const std::uint32_t length = state.delaySamples;
  // Every position stays below the longest wrap length ever used, which is at most the arrays'.
  const support::BlockExtent extent = support::processableExtent(in, out, in.getNumberOfChannels());
  state.written.add(extent.frames);
  // Every processed sample is written below; only the rest of the block is copied.
  output.copyFromExcept(input, extent.channels, extent.frames);
  // The positions are kept in locals for the block and stored back after it.
  std::uint32_t readIndex = state.readIndex;
  std::uint32_t writeIndex = state.writeIndex;
  auto sample = [&](std::uint32_t c, std::uint32_t f) {
    float* const own = c == 0 ? left : right;
    const float* const other = c == 0 ? right : left;
    const float x = in.getSample(c, f);
    const float delayed = own[readIndex];
    const float y = x * dry + delayed * wet;
    const float crossed = other[readIndex];
    own[writeIndex] = support::storable(x + feedback * crossed);
    out.setSample(c, f, y);
  };
#if ORVANE_VECTOR_KERNELS || ORVANE_WASM_KERNELS
  const bool vector = support::vectorPathAvailable() && extent.channels == 2;
  const float* const inputs[2] = {vector ? in.getChannel(0) : nullptr,
                                  vector ? in.getChannel(1) : nullptr};
  float* const outputs[2] = {vector ? out.getChannel(0) : nullptr,
                             vector ? out.getChannel(1) : nullptr};
#endif
  for (std::uint32_t f = 0; f < extent.frames; ++f) {
#if ORVANE_VECTOR_KERNELS || ORVANE_WASM_KERNELS
    if (vector && readIndex == writeIndex) {
      // Whole vector steps through the kernel while the position does not wrap.
      std::uint32_t position = readIndex;
      f = support::runPingPongVector(left, right, inputs, outputs, f, extent.frames, position,
                                     length, dry, wet, feedback);
      readIndex = writeIndex = position;
      if (f == extent.frames) break;
    }
#endif
    if (extent.channels == 2) {  // the usual stereo block, with the channel loop unrolled
      sample(0, f);
      sample(1, f);
    } else {
      for (std::uint32_t c = 0; c < extent.channels; ++c) sample(c, f);
    }
    // (i + 1) mod length, without the division while i + 1 is below the length.
    const std::uint32_t nextRead = readIndex + 1;
    readIndex = nextRead < length ? nextRead : nextRead % length;
    const std::uint32_t nextWrite = writeIndex + 1;
    writeIndex = nextWrite < length ? nextWrite : nextWrite % length;
  }
  state.readIndex = readIndex;
  state.writeIndex = writeIndex;
  return true;
}

namespace {

// A delay the lines cannot hold is cut to them; one under a sample is one sample.
void pingPongCautions(Node& node, unsigned int sampleRate, std::vector<std::string>& out) {
  using describe::number;
  constexpr double kMillisecondsPerSecond = 1000.0;
  const unsigned int ms = describe::as<PingPongDelayNode>(node).getDelayMs();
  const double samples = support::exactDelaySamples(sampleRate, ms);
  if (ms != 0 && samples > kLineLength) {
    out.push_back("a delay of " + number(ms) + " ms is " + number(samples) + " samples at " +
                  describe::rateText(sampleRate) + "; it will be cut to the " +
                  number(kLineLength) + " samples the delay lines hold (" +
                  number(kLineLength * kMillisecondsPerSecond / sampleRate) + " ms)");
  } else if (ms != 0 && samples < kMinDelaySamples) {
    out.push_back("a delay of " + number(ms) + " ms is less than one sample at " +
                  describe::rateText(sampleRate) + "; it will be one sample");
  }
}

}  // namespace

template <>
const NodeDescription& describeNode<PingPongDelayNode>() {
  static const NodeDescription description{
      kNodeTypeName,
      2,
      2,
      settingsTable(),
      describe::echoAccessors<PingPongDelayNode>(),
      pingPongCautions,
      // An echo crosses to the other side and back: twice the delay before a side hears itself.
      [](Node& node, unsigned int sampleRate) -> std::uint64_t {
        const std::uint32_t delay =
            delayInSamples(sampleRate, describe::as<PingPongDelayNode>(node).getDelayMs());
        return 2 * std::min<std::uint64_t>(delay, support::kRingLength);
      },
      nullptr,
      describe::restartNode<PingPongDelayNode>};
  return description;
}

}  // namespace orvane::extensions::audioeffects
