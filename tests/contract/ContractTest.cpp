// What every effect of the library's list promises, whatever it does to the sound: bypass
// passes the input and freezes the state; the output does not depend on how the host cuts
// the blocks or whether it processes in place; and against hostile settings and block shapes
// nothing reads or writes outside a buffer (AddressSanitizer checks that in the sanitizer
// build), nothing crashes, and once the settings are sane again the output is finite after the
// delay has passed. The suite runs over EffectSettings::all(): a new effect is covered by its
// entry in the list.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <orvane/audioeffects/AudioEffects.hpp>
#include <string>
#include <vector>

#include "NodeControls.hpp"
#include "TestSignals.hpp"

namespace orvane::extensions::audioeffects {
namespace {

using orvane::testing::makeNode;
using orvane::testing::NodeControls;
using orvane::testing::noise;
using orvane::testing::render;
using orvane::testing::Signal;
using orvane::testing::silence;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Maker {
  std::string name;
  const EffectSettings* effect;
  unsigned int capacity;
  std::unique_ptr<SingleBusAudioProcessorNode> make() const { return makeNode(*effect, capacity); }
};

// Every effect at the factory's capacity, and where the class takes one, at 0 and 1 as well.
std::vector<Maker> allNodes() {
  std::vector<Maker> makers;
  for (const EffectSettings& effect : EffectSettings::all()) {
    for (unsigned int capacity : {0u, 1u, 2u}) {
      makers.push_back({effect.type() + "(" + std::to_string(capacity) + ")", &effect, capacity});
    }
  }
  return makers;
}

// Sets the node's time setting (delay in ms, or sweep width in seconds) and its levels.
void setTime(Node& node, double delayMs, float sweepSeconds, float level) {
  NodeControls controls(node);
  controls.set("delay", delayMs);
  controls.set("feedback", level);
  controls.set("wet-mix", level);
  controls.set("sweep-width", sweepSeconds);
  controls.set("frequency", level);
}

void expectFinite(const Signal& signal, const std::string& what) {
  for (const auto& channel : signal) {
    for (float sample : channel) ASSERT_TRUE(std::isfinite(sample)) << what;
  }
}

// Every effect at its defaults, and with its time setting halfway.
class EveryEffect : public ::testing::TestWithParam<const EffectSettings*> {
 protected:
  std::unique_ptr<SingleBusAudioProcessorNode> make(double timeFraction = -1.0) const {
    auto node = makeNode(*GetParam(), 2);
    if (timeFraction >= 0.0) NodeControls(*node).setDelayOrSweep(timeFraction);
    return node;
  }
};

std::vector<const EffectSettings*> everyEffect() {
  std::vector<const EffectSettings*> all;
  for (const EffectSettings& effect : EffectSettings::all()) all.push_back(&effect);
  return all;
}

INSTANTIATE_TEST_SUITE_P(List, EveryEffect, ::testing::ValuesIn(everyEffect()),
                         [](const auto& info) { return info.param->type(); });

TEST_P(EveryEffect, OutputDoesNotDependOnHowTheBlocksAreCut) {
  for (double time : {-1.0, 0.002, 0.05}) {
    const Signal input = noise(2, 20000, 31);
    const Signal whole = render(*make(time), input, 48000, 20000);
    for (unsigned int block : {1u, 7u, 16u, 128u, 1000u, 4096u}) {
      ASSERT_EQ(render(*make(time), input, 48000, block), whole)
          << "blocks of " << block << ", time " << time;
    }
  }
}

TEST_P(EveryEffect, BypassPassesTheInputBitForBitAndFreezesTheState) {
  const Signal before = noise(2, 3000, 32);
  const Signal during = noise(2, 1000, 33);
  const Signal after = noise(2, 3000, 34);
  const auto bypassed = make();
  const auto untouched = make();
  render(*bypassed, before, 48000, 256);
  render(*untouched, before, 48000, 256);
  NodeControls(*bypassed).setEnabled(false);
  EXPECT_EQ(render(*bypassed, during, 48000, 256), during);
  NodeControls(*bypassed).setEnabled(true);
  EXPECT_EQ(render(*bypassed, after, 48000, 256), render(*untouched, after, 48000, 256))
      << "the delay lines and oscillators went on while bypassed";
}

TEST_P(EveryEffect, InPlaceGivesWhatSeparateBuffersGive) {
  const Signal input = noise(2, 5000, 35);
  const auto separate = make(0.02);
  const auto inPlace = make(0.02);
  const Signal expected = render(*separate, input, 48000, 300);
  Signal samples = input;
  for (unsigned int start = 0; start < 5000; start += 300) {
    const unsigned int length = std::min(300u, 5000u - start);
    float* channels[2] = {samples[0].data() + start, samples[1].data() + start};
    AudioBuffer<float> buffer(channels, 2, length, 48000);
    AudioBus bus(buffer);
    ASSERT_TRUE(inPlace->process(bus, bus));
  }
  EXPECT_EQ(samples, expected);
}

TEST_P(EveryEffect, SettingsTheDescriptionSetsAreTheOnesTheNodeUses) {
  // Each setting given through the description at a value inside its range other than its
  // default changes the output, and setting the defaults back restores it exactly.
  const EffectSettings& effect = *GetParam();
  const Signal input = noise(2, 30000, 36);
  const Signal atDefaults = render(*make(), input, 48000, 512);
  for (std::size_t i = 0; i < effect.settings().size(); ++i) {
    const auto& s = effect.settings()[i];
    SCOPED_TRACE(s.id);
    const double other = s.kind == SettingKind::Toggle ? 0.0 : (s.minimum + s.maximum) * 0.37;
    const auto node = make();
    effect.set(*node, i, other);
    EXPECT_NE(render(*node, input, 48000, 512), atDefaults);
    const auto restored = make();
    effect.set(*restored, i, other);
    effect.set(*restored, i, s.defaultValue);
    EXPECT_EQ(render(*restored, input, 48000, 512), atDefaults);
  }
}

// A restarted node is a new one: whatever it went through (a short clip, more than its rings
// hold, a change of format, a jump of its position), after restart() and new settings it gives
// a new node's samples bit for bit, including from the far ends of its lines (a long delay, a
// tail of silence).
TEST_P(EveryEffect, ARestartedNodeGivesWhatANewOneGives) {
  const EffectSettings& effect = *GetParam();
  const Signal clip = [] {
    Signal signal = noise(2, 6000, 38);
    for (auto& channel : signal) channel.resize(60000, 0.0f);
    return signal;
  }();
  const std::vector<std::pair<std::string, std::function<void(SingleBusAudioProcessorNode&)>>>
      histories = {
          {"a short clip", [](auto& node) { render(node, noise(2, 3000, 39), 48000, 512); }},
          {"more than a ring holds",
           [](auto& node) { render(node, noise(2, 70000, 40), 48000, 4096); }},
          {"mono, then another rate",
           [](auto& node) {
             render(node, noise(1, 2000, 41), 44100, 100);
             render(node, noise(2, 50000, 42), 96000, 1000);
           }},
          {"a jump of position",
           [&effect](auto& node) {
             effect.setPosition(node, 40000, 48000);
             render(node, noise(2, 9000, 43), 48000, 333);
           }},
      };
  for (const auto& [history, run] : histories) {
    SCOPED_TRACE(history);
    for (double time : {0.9, 0.1}) {
      const auto used = make(0.3);
      NodeControls(*used).set("frequency", 3.0);
      run(*used);
      effect.restart(*used);
      NodeControls(*used).setDelayOrSweep(time);
      NodeControls(*used).set("frequency", 0.5);
      const auto fresh = make(time);
      NodeControls(*fresh).set("frequency", 0.5);
      ASSERT_EQ(render(*used, clip, 48000, 512), render(*fresh, clip, 48000, 512))
          << "time " << time;
    }
  }
}

TEST(EveryEffectHostile, SettingsFarBeyondTheRingsNeverBreakANode) {
  struct Setting {
    double delayMs;
    float sweep;
    float level;
  };
  const Setting settings[] = {
      {4294967295.0, 1000.0f, 1e30f}, {0.0, -1.0f, -1e30f}, {1000.0, kInf, kInf},
      {48001.0, -kInf, -kInf},        {1.0, kNaN, kNaN},    {2000.0, 1e-30f, 0.0f}};
  for (const Maker& maker : allNodes()) {
    for (const Setting& s : settings) {
      for (unsigned int rate : {0u, 1u, 48000u, 384000u}) {
        const std::unique_ptr<SingleBusAudioProcessorNode> node = maker.make();
        setTime(*node, s.delayMs, s.sweep, s.level);
        render(*node, noise(2, 3000, 5), rate, 1000);
        setTime(*node, 10.0, 0.001f, 0.5f);
        render(*node, silence(2, 96000), 48000, 4096);
        expectFinite(render(*node, noise(2, 2000, 6), 48000, 333),
                     maker.name + " at " + std::to_string(rate) + " Hz");
      }
    }
  }
}

TEST(EveryEffectHostile, OddBlockShapesAreProcessedWithinTheBuffers) {
  for (const Maker& maker : allNodes()) {
    const std::unique_ptr<SingleBusAudioProcessorNode> node = maker.make();
    render(*node, silence(2, 0), 48000, 512);  // no frames
    render(*node, noise(3, 100000, 7), 48000,
           100000);                             // long block, more channels than any capacity
    render(*node, noise(1, 1, 8), 1, 1);        // one frame at 1 Hz
    render(*node, noise(0, 10, 9), 48000, 10);  // no channels
    expectFinite(render(*node, noise(2, 5000, 10), 384000, 7), maker.name);

    // Input and output of different sizes: only what both have is processed.
    AudioBuffer<float> small(1, 16, 48000);
    AudioBuffer<float> large(3, 64, 48000);
    AudioBus smallBus(small);
    AudioBus largeBus(large);
    EXPECT_TRUE(node->process(largeBus, smallBus)) << maker.name;
    EXPECT_TRUE(node->process(smallBus, largeBus)) << maker.name;
  }
}

// A node writes only part of a separate output bus itself and copies the rest; whatever the
// output held before, the result must be what processing in place gives, with the part the
// input lacks silenced.
TEST(EveryEffectHostile, ASeparateOutputBusEndsUpAsInPlaceProcessingLeavesIt) {
  constexpr unsigned int kFrames = 300;
  constexpr unsigned int kOutputChannels = 3;
  constexpr unsigned int kOutputFrames = 400;
  for (const Maker& maker : allNodes()) {
    const std::unique_ptr<SingleBusAudioProcessorNode> separate = maker.make();
    const std::unique_ptr<SingleBusAudioProcessorNode> inPlace = maker.make();
    for (std::uint32_t block = 0; block < 3; ++block) {
      Signal input = noise(2, kFrames, 20 + block);
      Signal expected = input;
      float* inputPointers[2] = {input[0].data(), input[1].data()};
      float* expectedPointers[2] = {expected[0].data(), expected[1].data()};
      AudioBuffer<float> inBuffer(inputPointers, 2, kFrames, 48000);
      AudioBuffer<float> expectedBuffer(expectedPointers, 2, kFrames, 48000);
      AudioBus inBus(inBuffer);
      AudioBus expectedBus(expectedBuffer);
      ASSERT_TRUE(inPlace->process(expectedBus, expectedBus));

      AudioBuffer<float> outBuffer(kOutputChannels, kOutputFrames, 48000);
      for (unsigned int c = 0; c < kOutputChannels; ++c) {
        std::fill_n(outBuffer.getChannel(c), kOutputFrames, kNaN);  // stale samples
      }
      AudioBus outBus(outBuffer);
      ASSERT_TRUE(separate->process(inBus, outBus));
      for (unsigned int c = 0; c < kOutputChannels; ++c) {
        for (unsigned int f = 0; f < kOutputFrames; ++f) {
          const float want = c < 2 && f < kFrames ? expected[c][f] : 0.0f;
          ASSERT_EQ(outBuffer.getSample(c, f), want)
              << maker.name << ", block " << block << ", channel " << c << ", frame " << f;
        }
      }
    }
  }
}

TEST(EveryEffectHostile, OneNonFiniteSampleFromUpstreamDoesNotSilenceANodeForGood) {
  for (const Maker& maker : allNodes()) {
    const std::unique_ptr<SingleBusAudioProcessorNode> node = maker.make();
    Signal poisoned = noise(2, 4000, 11);
    poisoned[0][100] = kNaN;
    poisoned[1][200] = kInf;
    render(*node, poisoned, 48000, 256);
    render(*node, silence(2, 96000), 48000, 4096);
    expectFinite(render(*node, noise(2, 4000, 12), 48000, 256), maker.name);
  }
}

}  // namespace
}  // namespace orvane::extensions::audioeffects
