#include <algorithm>
#include <cstring>
#include <orvane/sdk/Denormals.hpp>
#include <orvane/sdk/Node.hpp>
#include <utility>

namespace orvane {

void AudioBus::copyFrom(const AudioBus& other) noexcept {
  AudioBuffer<float>& to = *buffer_;
  const AudioBuffer<float>& from = *other.buffer_;
  if (&to == &from) return;
  const unsigned int channels = std::min(to.getNumberOfChannels(), from.getNumberOfChannels());
  const unsigned int frames = std::min(to.getNumberOfFrames(), from.getNumberOfFrames());
  for (unsigned int c = 0; c < channels; ++c) {
    float* destination = to.getChannel(c);
    const float* source = from.getChannel(c);
    if (destination != source && frames > 0) {
      std::memmove(destination, source, frames * sizeof(float));
    }
    std::fill(destination + frames, destination + to.getNumberOfFrames(), 0.0f);
  }
  for (unsigned int c = channels; c < to.getNumberOfChannels(); ++c) {
    std::fill_n(to.getChannel(c), to.getNumberOfFrames(), 0.0f);
  }
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
