// The library's list of effects: every effect named once, in the catalogue's order. The node
// factory registers from it, EffectSettings is a view over it, and every front end iterates it.
// Adding an effect: its node (nodes/), its entry here, its test.

#include <array>
#include <orvane/audioeffects/ChorusNode.hpp>
#include <orvane/audioeffects/DelayNode.hpp>
#include <orvane/audioeffects/FlangerNode.hpp>
#include <orvane/audioeffects/PingPongDelayNode.hpp>
#include <orvane/audioeffects/VibratoNode.hpp>

#include "EffectEntry.hpp"
#include "NodeSupport.hpp"

namespace orvane::extensions::audioeffects {

// Each node's own description, defined beside it.
template <>
const NodeDescription& describeNode<DelayNode>();
template <>
const NodeDescription& describeNode<PingPongDelayNode>();
template <>
const NodeDescription& describeNode<VibratoNode>();
template <>
const NodeDescription& describeNode<FlangerNode>();
template <>
const NodeDescription& describeNode<ChorusNode>();

namespace {

template <typename N>
Node* createWithCapacity() {
  return new N(support::kFactoryChannelCapacity);
}

Node* createPingPong() { return new PingPongDelayNode(); }

// Plugin numbers are for good: saved sessions name them.
constexpr std::uint32_t kFirstPluginId = 4871;

}  // namespace

std::span<const EffectEntry> effectEntries() {
  static const std::array<EffectEntry, 5> entries = {{
      {DelayNode::getNodeTypeInfo(),
       createWithCapacity<DelayNode>,
       describeNode<DelayNode>(),
       "delay",
       "Delay",
       kFirstPluginId,
       {{"slapback", "Slapback",
         {{"dry-mix", 0.8}, {"wet-mix", 0.45}, {"delay", 110}, {"feedback", 0.1}}},
        {"dotted-eighth-120", "Dotted Eighth at 120 BPM",
         {{"dry-mix", 0.75}, {"wet-mix", 0.35}, {"delay", 375}, {"feedback", 0.35}}},
        {"canyon", "Canyon Echo",
         {{"dry-mix", 0.7}, {"wet-mix", 0.4}, {"delay", 900}, {"feedback", 0.55}}}},
       "An echo. The sound comes back after the delay time, and again and again, each repeat "
       "quieter by the feedback level. Listen to the clicks and plucks repeat every 200 ms and "
       "fade away; the impulse response below shows each echo with its time and level."},
      {PingPongDelayNode::getNodeTypeInfo(),
       createPingPong,
       describeNode<PingPongDelayNode>(),
       "pingpong",
       "Delay",
       kFirstPluginId + 2,
       {{"wide-bounce", "Wide Bounce",
         {{"dry-mix", 0.75}, {"wet-mix", 0.4}, {"delay", 300}, {"feedback", 0.6}}},
        {"quarter-100", "Quarter Note at 100 BPM",
         {{"dry-mix", 0.7}, {"wet-mix", 0.35}, {"delay", 600}, {"feedback", 0.45}}}},
       "A stereo echo whose repeats bounce between the sides. A sound on the left comes back "
       "after one delay on both sides at once (louder on the left), and from then on each side "
       "hears a repeat every delay, quieter each time by the square of the feedback level; a "
       "sound on the right comes back on the right first and reaches the left one delay later. "
       "Listen with headphones to the clicks at the start: that is the effect, not a fault."},
      {VibratoNode::getNodeTypeInfo(),
       createWithCapacity<VibratoNode>,
       describeNode<VibratoNode>(),
       "vibrato",
       "Modulator",
       kFirstPluginId + 7,
       {{"subtle", "Subtle Vibrato", {{"sweep-width", 0.002}, {"frequency", 5.5}}},
        {"seasick", "Seasick", {{"sweep-width", 0.012}, {"frequency", 1.5}}}},
       "Replaces the sound with itself read back through a swinging delay, which bends the "
       "pitch up and down four times a second. Listen to the held chord waver; in the "
       "spectrogram every partial wiggles."},
      {FlangerNode::getNodeTypeInfo(),
       createWithCapacity<FlangerNode>,
       describeNode<FlangerNode>(),
       "flanger",
       "Flanger",
       kFirstPluginId + 5,
       {{"jet", "Jet Flanger", {{"sweep-width", 0.008}, {"frequency", 0.1}}},
        {"metallic", "Metallic Shimmer", {{"sweep-width", 0.0015}, {"frequency", 1.2}}}},
       "Mixes the sound with a copy delayed by only a few milliseconds, the delay sweeping up "
       "and down, with some of the output fed back. That digs a comb of notches into the "
       "spectrum that moves with the sweep: the jet-plane whoosh. In the spectrogram the "
       "notches are the dark bands that rise and fall."},
      {ChorusNode::getNodeTypeInfo(),
       createWithCapacity<ChorusNode>,
       describeNode<ChorusNode>(),
       "chorus",
       "Chorus",
       kFirstPluginId + 3,
       {{"subtle", "Subtle Chorus", {{"sweep-width", 0.008}, {"frequency", 0.3}}},
        {"wide", "Wide Chorus", {{"sweep-width", 0.04}, {"frequency", 0.15}}},
        {"warble", "Warble", {{"sweep-width", 0.02}, {"frequency", 2.5}}}},
       "Adds a copy of the sound delayed by about 21 ms, the delay slowly swinging, so the copy "
       "drifts a little out of tune against the original: one instrument sounds like several. "
       "Listen to the held chord thicken and shimmer; in the spectrogram its partials widen."},
  }};
  return entries;
}

}  // namespace orvane::extensions::audioeffects
