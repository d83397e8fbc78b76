#include <orvane/audioeffects/VibratoNode.hpp>

#include "SweptCore.hpp"

namespace orvane::extensions::audioeffects {

namespace {

constexpr const char* kNodeTypeName = "VibratoNode";

// The vibrato replaces the input with itself read back one sample late plus a swing that one
// oscillator drives for every channel alike: the pitch bends, and nothing of the dry signal or
// of the past returns.
struct VibratoTraits {
  static constexpr float kBaseDelaySamples = 1.0f;
  static constexpr bool kFeedsBack = false;
  static constexpr bool kOscillatorPerChannel = false;
  static constexpr float kWetMix = 1.0f;
  static constexpr float kFeedbackLevel = 0.0f;
  static constexpr float kDefaultSweepWidthSeconds = 0.01f;
  static constexpr float kInitialFrequencyHz = 4.0f;
};

constexpr double kMaximumSweepSeconds = 0.05;
constexpr double kMaximumFrequencyHz = 20.0;

}  // namespace

class ORVANE_AUDIOEFFECTS_HIDDEN VibratoNode::Internals
    : public support::SweptCore<VibratoTraits> {
  using SweptCore::SweptCore;
};

VibratoNode::VibratoNode(unsigned int numberOfChannels)
    : internals(std::make_unique<Internals>(numberOfChannels)) {
  typeName = kNodeTypeName;
}

VibratoNode::~VibratoNode() = default;

NodeTypeInfo VibratoNode::getNodeTypeInfo() {
  return support::makeNodeTypeInfo("Vibrato", "Vibrato",
                                   "Applies a vibrato effect to the input audio signal.");
}

ORVANE_SWEPT_NODE_ACCESSORS(VibratoNode)

template <>
const NodeDescription& describeNode<VibratoNode>() {
  static const NodeDescription description =
      support::sweptDescription<VibratoNode, VibratoTraits>(
          kNodeTypeName, "How far the delay swings, which sets how far the pitch bends.",
          kMaximumSweepSeconds, kMaximumFrequencyHz);
  return description;
}

}  // namespace orvane::extensions::audioeffects
