#include <orvane/audioeffects/ChorusNode.hpp>

#include "SweptCore.hpp"

namespace orvane::extensions::audioeffects {

namespace {

constexpr const char* kNodeTypeName = "ChorusNode";

// The chorus mixes a copy of the input, held about 21 ms (1002 samples) behind and swung by
// its own oscillator per channel, into the input; nothing is fed back.
struct ChorusTraits {
  static constexpr float kBaseDelaySamples = 1002.0f;
  static constexpr bool kFeedsBack = false;
  static constexpr bool kOscillatorPerChannel = true;
  static constexpr float kWetMix = 0.8f;
  static constexpr float kFeedbackLevel = 0.0f;
  static constexpr float kDefaultSweepWidthSeconds = 0.025f;
  static constexpr float kInitialFrequencyHz = 0.2f;
};

// The range offered: the widest sweep still fits the ring, with the base delay, at rates far
// above 48 kHz (0.1 s of sweep is 9600 samples at 96 kHz).
constexpr double kMaximumSweepSeconds = 0.1;
constexpr double kMaximumFrequencyHz = 10.0;

}  // namespace

class ORVANE_AUDIOEFFECTS_HIDDEN ChorusNode::Internals : public support::SweptCore<ChorusTraits> {
  using SweptCore::SweptCore;
};

ChorusNode::ChorusNode(unsigned int numberOfChannels)
    : internals(std::make_unique<Internals>(numberOfChannels)) {
  typeName = kNodeTypeName;
}

ChorusNode::~ChorusNode() = default;

NodeTypeInfo ChorusNode::getNodeTypeInfo() {
  return support::makeNodeTypeInfo("Chorus", "Chorus",
                                   "Applies a chorus effect to the input audio signal.");
}

ORVANE_SWEPT_NODE_ACCESSORS(ChorusNode)

template <>
const NodeDescription& describeNode<ChorusNode>() {
  static const NodeDescription description =
      support::sweptDescription<ChorusNode, ChorusTraits>(
          kNodeTypeName,
          "How far the delayed copy swings around its delay, which sets how far it drifts out "
          "of tune.",
          kMaximumSweepSeconds, kMaximumFrequencyHz);
  return description;
}

}  // namespace orvane::extensions::audioeffects
