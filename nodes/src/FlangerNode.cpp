#include <orvane/audioeffects/FlangerNode.hpp>

#include "SweptCore.hpp"

namespace orvane::extensions::audioeffects {

namespace {

constexpr const char* kNodeTypeName = "OrvaneFlangerNode";

// The flanger reads a few samples behind the write position, swung by an oscillator per channel,
// and feeds what it reads back into the ring: the notches of a comb sweep up and down.
struct FlangerTraits {
  static constexpr float kBaseDelaySamples = 2.0f;
  static constexpr bool kFeedsBack = true;
  static constexpr bool kOscillatorPerChannel = true;
  static constexpr float kWetMix = 0.8f;
  static constexpr float kFeedbackLevel = 0.6f;
  static constexpr float kDefaultSweepWidthSeconds = 0.005f;
  static constexpr float kInitialFrequencyHz = 0.4f;
};

constexpr double kMaximumSweepSeconds = 0.02;
constexpr double kMaximumFrequencyHz = 10.0;

}  // namespace

class ORVANE_AUDIOEFFECTS_HIDDEN FlangerNode::Internals
    : public support::SweptCore<FlangerTraits> {
  using SweptCore::SweptCore;
};

FlangerNode::FlangerNode(unsigned int numberOfChannels)
    : internals(std::make_unique<Internals>(numberOfChannels)) {
  typeName = kNodeTypeName;
}

FlangerNode::~FlangerNode() = default;

NodeTypeInfo FlangerNode::getNodeTypeInfo() {
  return support::makeNodeTypeInfo("Flanger", "Flanger",
                                   "Applies a flanger effect to the input audio signal.");
}

ORVANE_SWEPT_NODE_ACCESSORS(FlangerNode)

template <>
const NodeDescription& describeNode<FlangerNode>() {
  static const NodeDescription description =
      support::sweptDescription<FlangerNode, FlangerTraits>(
          kNodeTypeName,
          "How far the short delay swings, which sets how far the notches sweep.",
          kMaximumSweepSeconds, kMaximumFrequencyHz);
  return description;
}

}  // namespace orvane::extensions::audioeffects
