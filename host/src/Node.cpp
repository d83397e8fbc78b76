#include <algorithm>
#include <cstdint>
#include <cstring>
#include <orvane/sdk/Denormals.hpp>
#include <orvane/sdk/Node.hpp>
#include <utility>

namespace orvane {

namespace {

// Whether two float arrays share any memory, by address order alone (no relational operators
// between pointers into different arrays).
bool overlaps(const float* a, std::size_t aLength, const float* b, std::size_t bLength) noexcept {
  const auto aStart = reinterpret_cast<std::uintptr_t>(a);
  const auto bStart = reinterpret_cast<std::uintptr_t>(b);
  return aLength != 0 && bLength != 0 && aStart < bStart + bLength * sizeof(float) &&
         bStart < aStart + aLength * sizeof(float);
}

// Whether the buses' memory is either wholly apart or shared only channel for channel at the
// same address (in place), the two layouts in which copying part of a block leaves every input
// sample the caller reads as it was. Beyond a few channels the pairwise check is not worth it and
// the answer is simply no.
// The addresses [low, high) a buffer's samples lie within (empty for no channel or no frame).
struct Span {
  std::uintptr_t low = 0;
  std::uintptr_t high = 0;
};

[[gnu::always_inline]] inline Span spanOf(const AudioBuffer<float>& buffer) noexcept {
  const unsigned int channels = buffer.getNumberOfChannels();
  const std::size_t bytes = std::size_t{buffer.getNumberOfFrames()} * sizeof(float);
  if (channels == 0 || bytes == 0) return {};
  Span span{UINTPTR_MAX, 0};
  for (unsigned int c = 0; c < channels; ++c) {
    const auto start = reinterpret_cast<std::uintptr_t>(buffer.getChannel(c));
    span.low = std::min(span.low, start);
    span.high = std::max(span.high, start + bytes);
  }
  return span;
}

bool apartOrInPlace(const AudioBuffer<float>& to, const AudioBuffer<float>& from) noexcept {
  constexpr unsigned int kMaxPairsChecked = 64;
  const unsigned int toChannels = to.getNumberOfChannels();
  const unsigned int fromChannels = from.getNumberOfChannels();
  if (toChannels * static_cast<unsigned long long>(fromChannels) > kMaxPairsChecked) return false;
  // Separate buffers, the usual case, lie in address ranges that do not meet: a pass over each
  // buffer's channels settles it without comparing every pair.
  const Span toSpan = spanOf(to);
  const Span fromSpan = spanOf(from);
  if (toSpan.high <= fromSpan.low || fromSpan.high <= toSpan.low) return true;
  const unsigned int toFrames = to.getNumberOfFrames();
  const unsigned int fromFrames = from.getNumberOfFrames();
  for (unsigned int c = 0; c < toChannels; ++c) {
    const float* destination = to.getChannel(c);
    for (unsigned int d = 0; d < fromChannels; ++d) {
      const float* source = from.getChannel(d);
      if (c == d && destination == source) continue;
      if (overlaps(destination, toFrames, source, fromFrames)) return false;
    }
  }
  return true;
}

// The other buffer's samples into this one, but for the first `frames` frames of the first
// `channels` channels; what this buffer has beyond the other is silenced. Channel by channel,
// each with memmove, so that memory shared in any way is copied as one pass would.
void copyAllBut(AudioBuffer<float>& to, const AudioBuffer<float>& from, unsigned int channels,
                unsigned int frames) noexcept {
  const unsigned int common = std::min(to.getNumberOfChannels(), from.getNumberOfChannels());
  const unsigned int commonFrames = std::min(to.getNumberOfFrames(), from.getNumberOfFrames());
  for (unsigned int c = 0; c < to.getNumberOfChannels(); ++c) {
    float* destination = to.getChannel(c);
    float* const end = destination + to.getNumberOfFrames();
    if (c >= common) {
      std::fill(destination, end, 0.0f);
      continue;
    }
    const float* source = from.getChannel(c);
    const unsigned int skipped = c < channels ? std::min(frames, commonFrames) : 0;
    if (destination != source && commonFrames > skipped) {
      std::memmove(destination + skipped, source + skipped,
                   (commonFrames - skipped) * sizeof(float));
    }
    std::fill(destination + commonFrames, end, 0.0f);
  }
}

}  // namespace

void AudioBus::copyFrom(const AudioBus& other) noexcept {
  if (buffer_ != other.buffer_) copyAllBut(*buffer_, *other.buffer_, 0, 0);
}

void AudioBus::copyFromExcept(const AudioBus& other, unsigned int channels,
                              unsigned int frames) noexcept {
  AudioBuffer<float>& to = *buffer_;
  const AudioBuffer<float>& from = *other.buffer_;
  if (&to == &from) return;
  if (!apartOrInPlace(to, from)) {
    copyAllBut(to, from, 0, 0);
    return;
  }
  // The usual case: the caller writes all of a bus of the same shape, and nothing is left.
  if (channels == to.getNumberOfChannels() && channels == from.getNumberOfChannels() &&
      frames == to.getNumberOfFrames() && frames == from.getNumberOfFrames()) {
    return;
  }
  copyAllBut(to, from, channels, frames);
}

Node::Node() : OrvaneObject("node"), typeName("Node") {}
Node::~Node() = default;

AudioNode::AudioNode(unsigned int numberOfInputBuses, unsigned int numberOfOutputBuses)
    : numberOfInputBuses_(numberOfInputBuses), numberOfOutputBuses_(numberOfOutputBuses) {}
AudioNode::~AudioNode() = default;

std::string AudioNode::getDisplayName() const { return getTypeName(); }

const std::vector<std::unique_ptr<Parameter>>& AudioNode::getParameters() const {
  return parameters_;
}

Parameter* AudioNode::getParameter(const std::string& id) const {
  for (const auto& parameter : parameters_) {
    if (parameter->getId() == id) return parameter.get();
  }
  return nullptr;
}

Result<void> AudioNode::setValue(const std::string& name, const std::any& value) {
  Parameter* parameter = getParameter(name);
  if (parameter == nullptr) return Node::setValue(name, value);
  if (!parameter->setAnyValue(value)) {
    return makeError("value for parameter '" + name + "' has the wrong type or is not a number");
  }
  emit("valueChanged", name);
  return makeSuccess();
}

Result<std::any> AudioNode::getValue(const std::string& name) const {
  const Parameter* parameter = getParameter(name);
  if (parameter == nullptr) return Node::getValue(name);
  return parameter->getAnyValue();
}

void AudioNode::addParameter(std::unique_ptr<Parameter> parameter) {
  parameters_.push_back(std::move(parameter));
}

AudioProcessorNode::AudioProcessorNode(unsigned int numberOfInputBuses,
                                       unsigned int numberOfOutputBuses)
    : AudioNode(numberOfInputBuses, numberOfOutputBuses) {}
AudioProcessorNode::~AudioProcessorNode() = default;

SingleBusAudioProcessorNode::SingleBusAudioProcessorNode() : AudioProcessorNode(1, 1) {}
SingleBusAudioProcessorNode::~SingleBusAudioProcessorNode() = default;

bool SingleBusAudioProcessorNode::setBusFormats(std::span<AudioBusFormat> inputFormats,
                                                std::span<AudioBusFormat> outputFormats) {
  if (inputFormats.size() != 1 || outputFormats.size() != 1) return false;
  return setBusFormat(inputFormats[0], outputFormats[0]);
}

bool SingleBusAudioProcessorNode::process(std::span<AudioBus> inputs, std::span<AudioBus> outputs) {
  if (inputs.size() != 1 || outputs.size() != 1) return false;
  const ScopedFlushDenormals flushDenormals;
  return process(inputs[0], outputs[0]);
}

}  // namespace orvane
