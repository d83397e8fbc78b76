// Every node type against hostile settings and block shapes: nothing may read or write outside
// a buffer (AddressSanitizer checks that in the sanitizer build), nothing may crash, and once
// the settings are sane again the output must be finite after the delay has passed.
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

using orvane::testing::NodeControls;
using orvane::testing::noise;
using orvane::testing::render;
using orvane::testing::Signal;
using orvane::testing::silence;

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

struct Maker {
  std::string name;
  std::function<std::unique_ptr<SingleBusAudioProcessorNode>()> make;
};

// Every type at the factory's capacity, and the types with a capacity at 0 and 1 as well.
std::vector<Maker> allNodes() {
  std::vector<Maker> makers;
  for (unsigned int capacity : {0u, 1u, 2u}) {
    const std::string suffix = "(" + std::to_string(capacity) + ")";
    makers.push_back({"Delay" + suffix, [=] { return std::make_unique<DelayNode>(capacity); }});
    makers.push_back({"Chorus" + suffix, [=] { return std::make_unique<ChorusNode>(capacity); }});
    makers.push_back({"Flanger" + suffix, [=] { return std::make_unique<FlangerNode>(capacity); }});
    makers.push_back({"Vibrato" + suffix, [=] { return std::make_unique<VibratoNode>(capacity); }});
  }
  makers.push_back({"PingPongDelay", [] { return std::make_unique<PingPongDelayNode>(); }});
  return makers;
}

// Sets the node's time setting (delay in ms, or sweep width in seconds) and its levels.
void setTime(Node& node, double delayMs, float sweepSeconds, float level) {
  NodeControls(node).visit([&](auto& n) {
    using N = std::remove_reference_t<decltype(n)>;
    if constexpr (std::is_same_v<N, DelayNode> || std::is_same_v<N, PingPongDelayNode>) {
      n.setDelayMs(static_cast<unsigned int>(delayMs));
      n.setFeedbackLevel(level);
      n.setWetMix(level);
    } else {
      n.setSweepWidth(sweepSeconds);
      n.setFrequency(level);
    }
  });
}

void expectFinite(const Signal& signal, const std::string& what) {
  for (const auto& channel : signal) {
    for (float sample : channel) ASSERT_TRUE(std::isfinite(sample)) << what;
  }
}

TEST(Hostile, SettingsFarBeyondTheRingsNeverBreakANode) {
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

TEST(Hostile, OddBlockShapesAreProcessedWithinTheBuffers) {
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
TEST(Hostile, ASeparateOutputBusEndsUpAsInPlaceProcessingLeavesIt) {
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

TEST(Hostile, OneNonFiniteSampleFromUpstreamDoesNotSilenceANodeForGood) {
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
