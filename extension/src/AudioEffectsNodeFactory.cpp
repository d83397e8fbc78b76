#include <orvane/audioeffects/AudioEffectsNodeFactory.hpp>
#include <orvane/audioeffects/ChorusNode.hpp>
#include <orvane/audioeffects/DelayNode.hpp>
#include <orvane/audioeffects/FlangerNode.hpp>
#include <orvane/audioeffects/PingPongDelayNode.hpp>
#include <orvane/audioeffects/VibratoNode.hpp>

namespace orvane::extensions::audioeffects {

namespace {

// Every node the factory hands out is built for a stereo host.
constexpr unsigned int kChannelCapacity = 2;

}  // namespace

AudioEffectsNodeFactory::AudioEffectsNodeFactory() {
  registerNode(DelayNode::getNodeTypeInfo(),
               [](const NodeConfig&) -> Node* { return new DelayNode(kChannelCapacity); });
  registerNode(PingPongDelayNode::getNodeTypeInfo(),
               [](const NodeConfig&) -> Node* { return new PingPongDelayNode(); });
  registerNode(VibratoNode::getNodeTypeInfo(),
               [](const NodeConfig&) -> Node* { return new VibratoNode(kChannelCapacity); });
  registerNode(FlangerNode::getNodeTypeInfo(),
               [](const NodeConfig&) -> Node* { return new FlangerNode(kChannelCapacity); });
  registerNode(ChorusNode::getNodeTypeInfo(),
               [](const NodeConfig&) -> Node* { return new ChorusNode(kChannelCapacity); });
}

AudioEffectsNodeFactory::~AudioEffectsNodeFactory() = default;

std::string AudioEffectsNodeFactory::getNodeTypePrefix() const { return "AudioEffects"; }

}  // namespace orvane::extensions::audioeffects
