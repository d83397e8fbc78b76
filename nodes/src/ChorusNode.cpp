#include <orvane/audioeffects/ChorusNode.hpp>

#include "SweptCore.hpp"

namespace orvane::extensions::audioeffects {

namespace {

// A copy of the input held about 21 ms (1002 samples) behind, its delay swung by an oscillator
// of its own per channel, mixed back in at 0.8: one voice becomes several. Nothing is fed back.
constexpr support::SweptTraits kChorus{.baseDelaySamples = 1002.0f,
                                       .feedsBack = false,
                                       .oscillatorPerChannel = true,
                                       .wetMix = 0.8f,
                                       .feedbackLevel = 0.0f,
                                       .defaultSweepWidthSeconds = 0.025f,
                                       .initialFrequencyHz = 0.2f};

// 0.1 s of sweep is 9600 samples at 96 kHz: still inside the ring with the base delay.
constexpr support::SweptNodeInfo kChorusInfo{
    "ChorusNode", "Chorus", "Chorus", "Applies a chorus effect to the input audio signal.",
    "How far the delayed copy swings around its delay, which sets how far it drifts out of tune.",
    0.1, 10.0};

}  // namespace

ORVANE_SWEPT_NODE(ChorusNode, kChorus, kChorusInfo)

}  // namespace orvane::extensions::audioeffects
