#include <orvane/audioeffects/FlangerNode.hpp>

#include "SweptCore.hpp"

namespace orvane::extensions::audioeffects {

namespace {

constexpr support::SweptNodeInfo kFlangerInfo{
    "OrvaneFlangerNode", "Flanger", "Flanger",
    "Applies a flanger effect to the input audio signal.",
    "How far the short delay swings, which sets how far the notches sweep.", 0.02, 10.0};

// Two samples behind the write position plus a swing of a few milliseconds, an oscillator per
// channel, and 0.6 of what is read fed back into the ring: a comb whose notches sweep up and
// down. The swept signal is mixed into the input at 0.8.
constexpr support::SweptTraits kFlanger{
    .baseDelaySamples = 2.0f, .feedsBack = true, .oscillatorPerChannel = true, .wetMix = 0.8f,
    .feedbackLevel = 0.6f, .defaultSweepWidthSeconds = 0.005f, .initialFrequencyHz = 0.4f};

}  // namespace

ORVANE_SWEPT_NODE(FlangerNode, kFlanger, kFlangerInfo)

}  // namespace orvane::extensions::audioeffects
