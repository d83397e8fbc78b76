#include <orvane/audioeffects/VibratoNode.hpp>

#include "SweptCore.hpp"

namespace orvane::extensions::audioeffects {

namespace {

// The input replaced by itself read back one sample late plus a swing that one oscillator
// drives for every channel alike: the pitch bends up and down, and nothing of the dry signal
// or of the past returns (the output is the swept signal alone).
constexpr support::SweptTraits kVibrato{.baseDelaySamples = 1.0f,
                                        .feedsBack = false,
                                        .oscillatorPerChannel = false,
                                        .wetMix = 1.0f,  // not mixed: the output is all wet
                                        .feedbackLevel = 0.0f,
                                        .defaultSweepWidthSeconds = 0.01f,
                                        .initialFrequencyHz = 4.0f};

constexpr support::SweptNodeInfo kVibratoInfo{"VibratoNode", "Vibrato", "Vibrato",
                                              "Applies a vibrato effect to the input audio signal.",
                                              "How far the delay swings, which sets how far the "
                                              "pitch bends.",
                                              0.05, 20.0};

}  // namespace

ORVANE_SWEPT_NODE(VibratoNode, kVibrato, kVibratoInfo)

}  // namespace orvane::extensions::audioeffects
