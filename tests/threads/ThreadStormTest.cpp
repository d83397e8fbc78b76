// Control threads hammer every setting of every node type while the audio thread processes:
// run under ThreadSanitizer, any data race fails the test run.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <orvane/audioeffects/AudioEffects.hpp>
#include <random>
#include <thread>
#include <vector>

#include "NodeControls.hpp"
#include "TestSignals.hpp"

namespace orvane::extensions::audioeffects {
namespace {

using orvane::testing::NodeControls;

constexpr int kBlocks = 400;
constexpr unsigned int kBlockFrames = 256;

// Values a careless or hostile control surface might send.
float hostileFloat(std::mt19937& random) {
  static const float kValues[] = {0.0f,
                                  -0.0f,
                                  0.5f,
                                  -1.0f,
                                  1.0f,
                                  2.0f,
                                  1e30f,
                                  -1e30f,
                                  1000.0f,
                                  std::numeric_limits<float>::denorm_min(),
                                  std::numeric_limits<float>::max(),
                                  std::numeric_limits<float>::infinity(),
                                  -std::numeric_limits<float>::infinity(),
                                  std::numeric_limits<float>::quiet_NaN()};
  return kValues[random() % std::size(kValues)];
}

unsigned int hostileUnsigned(std::mt19937& random) {
  static const unsigned int kValues[] = {0u, 1u, 7u, 200u, 999u, 1000u, 48000u, 4294967295u};
  return kValues[random() % std::size(kValues)];
}

// Calls every setter and getter of the node (through the library's description, which goes
// through the node's own accessors), and of its stored parameters, with random values.
void storm(Node& node, std::uint32_t seed, const std::atomic<bool>& stop) {
  std::mt19937 random(seed);
  const EffectSettings& effect = NodeControls(node).effect();
  double sink = 0.0;
  while (!stop.load()) {
    for (std::size_t i = 0; i < effect.settings().size(); ++i) {
      const bool whole = effect.settings()[i].kind == SettingKind::Integer;
      effect.set(node, i, whole ? hostileUnsigned(random) : hostileFloat(random));
      sink += effect.get(node, i);
    }
    auto& audioNode = dynamic_cast<AudioNode&>(node);
    for (const auto& parameter : audioNode.getParameters()) {
      audioNode.setValue(parameter->getId(), static_cast<double>(hostileFloat(random)));
      (void)audioNode.getValue(parameter->getId());
    }
  }
  EXPECT_TRUE(sink == sink || std::isnan(sink));  // keeps the reads from being optimised away
}

TEST(ThreadStorm, EveryNodeSurvivesControlThreadsWhileAudioRuns) {
  AudioEffectsNodeFactory factory;
  for (const NodeTypeInfo& info : factory.getNodeTypes()) {
    SCOPED_TRACE(info.type);
    const std::unique_ptr<Node> node = factory.createNode(info.type);
    auto& processor = dynamic_cast<SingleBusAudioProcessorNode&>(*node);
    std::atomic<bool> stop{false};
    std::thread first(storm, std::ref(*node), 1u, std::cref(stop));
    std::thread second(storm, std::ref(*node), 2u, std::cref(stop));

    const bool stereoOnly = EffectSettings::forType(info.type)->minimumChannels() == 2;
    const unsigned int rates[] = {44100, 48000, 96000};
    std::mt19937 random(3);
    const orvane::testing::Signal input = orvane::testing::noise(2, kBlockFrames, 4);
    unsigned int rate = 48000;
    unsigned int channels = 2;
    for (int block = 0; block < kBlocks; ++block) {
      if (block % 50 == 49) {  // a format change now and then
        rate = rates[random() % 3];
        channels = stereoOnly ? 2 : 1 + random() % 2;
      }
      orvane::testing::render(processor,
                              orvane::testing::Signal(input.begin(), input.begin() + channels),
                              rate, kBlockFrames);
    }
    stop = true;
    first.join();
    second.join();

    // Once the settings are sane again and the delay has passed, the output is finite.
    NodeControls(*node).setDefaults();
    orvane::testing::render(processor, orvane::testing::silence(2, 96000), 48000, 512);
    const auto out = orvane::testing::render(processor, input, 48000, 256);
    for (const auto& channel : out) {
      for (float sample : channel) ASSERT_TRUE(std::isfinite(sample));
    }
  }
}

}  // namespace
}  // namespace orvane::extensions::audioeffects
