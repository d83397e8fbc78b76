// Control threads hammer every setting of every node type while the audio thread processes:
// run under ThreadSanitizer, any data race fails the test run.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
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


// A setting another thread changes while a block runs reaches the channels in the order the
// samples are made, frame by frame and channel within frame: once a sample has seen the new
// value, no later sample (in that order, on any channel) sees the old one. The writer stores an
// increasing series of values during one long block; each output sample is matched to the value
// it was made with (renders with each value held give the candidates), and the matched values
// must never go down. Run with the vector kernels on and off.
struct MidBlockCase {
  const char* type;
  const char* setting;
  std::vector<double> values;  // increasing; each gives a different output
};

TEST(ThreadStorm, ASettingChangedMidBlockReachesEveryChannelInFrameOrder) {
  constexpr unsigned int kFrames = 1u << 15;
  constexpr unsigned int kRate = 48000;
  constexpr int kTrials = 40;
  // On a loaded machine the writer may be scheduled only after whole blocks: then the trials
  // go on, up to this many, until one has seen a change land inside a block.
  constexpr int kMostTrials = 400;
  std::vector<double> widths;
  for (int k = 0; k < 12; ++k) widths.push_back(0.001 + 0.0005 * k);
  std::vector<double> dryLevels;
  for (int k = 0; k < 12; ++k) dryLevels.push_back(0.25 + 0.0625 * k);
  // Settings whose value at a sample decides that sample alone (nothing of it is fed back).
  const MidBlockCase cases[] = {{"Delay", "dry-mix", dryLevels},
                                {"Chorus", "sweep-width", widths},
                                {"Vibrato", "sweep-width", widths}};
  const orvane::testing::Signal input = orvane::testing::noise(2, kFrames, 9);
  for (const MidBlockCase& testCase : cases) {
    SCOPED_TRACE(testCase.type);
    const EffectSettings& effect = *EffectSettings::forType(testCase.type);
    const std::size_t index = *effect.indexOf(testCase.setting);
    auto fresh = [&](double value) {
      std::unique_ptr<Node> node = effect.createNode();
      effect.set(*node, index, value);
      return node;
    };
    auto run = [&](Node& node) {
      return orvane::testing::render(dynamic_cast<SingleBusAudioProcessorNode&>(node), input,
                                     kRate, kFrames);
    };
    std::vector<orvane::testing::Signal> held;
    for (double value : testCase.values) held.push_back(run(*fresh(value)));

    int changesSeen = 0;
    for (int trial = 0; trial < kTrials || (changesSeen == 0 && trial < kMostTrials); ++trial) {
      const std::unique_ptr<Node> node = fresh(testCase.values.front());
      // How long a block takes here, for pacing: the block alone, without making its node,
      // and the shortest of a few, as a block the scheduler interrupted would spread the
      // writes past the block.
      const std::unique_ptr<Node> pacer = fresh(testCase.values.front());
      auto blockTime = std::chrono::steady_clock::duration::max();
      for (int timing = 0; timing < 3; ++timing) {
        const auto started = std::chrono::steady_clock::now();
        (void)run(*pacer);
        blockTime = std::min(blockTime, std::chrono::steady_clock::now() - started);
      }
      // The block starts once the writer is running: a thread just made may otherwise be
      // scheduled only after a short block has ended.
      std::atomic<bool> ready{false};
      std::atomic<bool> go{false};
      std::thread writer([&] {
        ready = true;
        while (!go.load()) {
        }
        const auto from = std::chrono::steady_clock::now();
        for (std::size_t k = 1; k < testCase.values.size(); ++k) {
          const auto at = from + blockTime * k / testCase.values.size();
          while (std::chrono::steady_clock::now() < at) {
          }
          effect.set(*node, index, testCase.values[k]);
        }
      });
      while (!ready.load()) {
      }
      go = true;
      const orvane::testing::Signal out = run(*node);
      writer.join();

      std::size_t last = 0;
      std::size_t seen = 0;
      for (unsigned int f = 0; f < kFrames; ++f) {
        for (unsigned int c = 0; c < 2; ++c) {
          std::vector<std::size_t> matches;
          for (std::size_t k = 0; k < held.size(); ++k) {
            if (held[k][c][f] == out[c][f]) matches.push_back(k);
          }
          ASSERT_FALSE(matches.empty()) << "frame " << f << " channel " << c
                                        << " matches no value of the setting";
          if (matches.size() > 1) continue;  // two values give this sample: it tells nothing
          ASSERT_GE(matches[0], last) << "frame " << f << " channel " << c << " of trial "
                                      << trial << " was made with an older value than a "
                                      << "sample before it";
          last = matches[0];
          seen = std::max(seen, matches[0]);
        }
      }
      if (seen > 0) ++changesSeen;
    }
    // The check above means something only if the writer did land inside blocks.
    EXPECT_GT(changesSeen, 0);
  }
}

}  // namespace
}  // namespace orvane::extensions::audioeffects
