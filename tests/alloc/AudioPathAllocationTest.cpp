#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <orvane/audioeffects/AudioEffects.hpp>
#include <vector>

#include "CountingAllocator.hpp"
#include "NodeControls.hpp"

namespace orvane::extensions::audioeffects {
namespace {

using orvane::testing::allocationCounts;
using orvane::testing::AllocationCounts;

// Blocks on preallocated memory, so that only the node can allocate while one is processed.
class BlockRunner {
 public:
  BlockRunner() : input_(2, 4096, 48000), output_(2, 4096, 48000) {
    for (unsigned f = 0; f < 4096; ++f) input_.setSample(0, f, f % 100 == 0 ? 1.0f : 0.0f);
  }

  // The allocations the node made while processing one block of this shape.
  long allocationsDuring(SingleBusAudioProcessorNode& node, unsigned channels, unsigned frames,
                         unsigned sampleRate) {
    float* in[2] = {input_.getChannel(0), input_.getChannel(1)};
    float* out[2] = {output_.getChannel(0), output_.getChannel(1)};
    AudioBuffer<float> inView(in, channels, frames, sampleRate);
    AudioBuffer<float> outView(out, channels, frames, sampleRate);
    AudioBus inBus(inView);
    AudioBus outBus(outView);
    const AllocationCounts before = allocationCounts();
    node.process(inBus, outBus);
    const AllocationCounts after = allocationCounts();
    return (after.allocations - before.allocations) + (after.deallocations - before.deallocations);
  }

 private:
  AudioBuffer<float> input_;
  AudioBuffer<float> output_;
};

TEST(AudioPath, NoNodeAllocatesOrFreesWhileProcessing) {
  AudioEffectsNodeFactory factory;
  BlockRunner runner;
  for (const NodeTypeInfo& info : factory.getNodeTypes()) {
    const std::unique_ptr<Node> node = factory.createNode(info.type);
    auto& processor = dynamic_cast<SingleBusAudioProcessorNode&>(*node);
    orvane::testing::NodeControls controls(*node);
    SCOPED_TRACE(info.type);
    EXPECT_EQ(runner.allocationsDuring(processor, 2, 512, 48000), 0) << "first block";
    EXPECT_EQ(runner.allocationsDuring(processor, 2, 512, 48000), 0) << "steady block";
    EXPECT_EQ(runner.allocationsDuring(processor, 2, 4096, 44100), 0) << "new sample rate";
    EXPECT_EQ(runner.allocationsDuring(processor, 1, 100, 44100), 0) << "new channel count";
    controls.setDelayOrSweep(0.5);
    EXPECT_EQ(runner.allocationsDuring(processor, 2, 512, 44100), 0) << "new delay";
    EXPECT_EQ(runner.allocationsDuring(processor, 2, 0, 44100), 0) << "empty block";
    controls.setEnabled(false);
    EXPECT_EQ(runner.allocationsDuring(processor, 2, 512, 44100), 0) << "disabled";
    controls.setEnabled(true);
    std::vector<AudioBus> none;
    const AllocationCounts before = allocationCounts();
    processor.process(std::span<AudioBus>(none), std::span<AudioBus>(none));
    EXPECT_EQ(allocationCounts().allocations, before.allocations) << "refused bus lists";
  }
}

// A plugin may read and write settings by index on the audio thread.
TEST(AudioPath, SettingsByIndexNeitherAllocateNorFree) {
  AudioEffectsNodeFactory factory;
  for (const NodeTypeInfo& info : factory.getNodeTypes()) {
    const std::unique_ptr<Node> node = factory.createNode(info.type);
    const EffectSettings& effect = *EffectSettings::forType(info.type);
    const AllocationCounts before = allocationCounts();
    double sum = 0.0;
    for (std::size_t i = 0; i < effect.settings().size(); ++i) {
      const SettingInfo& s = effect.settings()[i];
      effect.set(*node, i, s.maximum);
      sum += effect.get(*node, i);
      effect.set(*node, i, s.defaultValue);
    }
    const AllocationCounts after = allocationCounts();
    EXPECT_EQ(after.allocations, before.allocations) << info.type;
    EXPECT_EQ(after.deallocations, before.deallocations) << info.type;
    EXPECT_GT(sum, 0.0);
  }
}

TEST(Construction, PingPongDelayReleasesEverythingWhenAnArrayCannotBeAllocated) {
  constexpr std::size_t kArrayBytes = 48000 * sizeof(float);
  for (int which = 0; which < 2; ++which) {
    const AllocationCounts before = allocationCounts();
    orvane::testing::failAllocationOfSize(kArrayBytes, which);
    EXPECT_THROW(PingPongDelayNode node, std::bad_alloc) << "array " << which;
    const AllocationCounts after = allocationCounts();
    EXPECT_EQ(after.allocations - before.allocations, after.deallocations - before.deallocations)
        << "array " << which;
  }
  PingPongDelayNode fine;  // the failure is disarmed once it has struck
  EXPECT_EQ(fine.getParameters().size(), 5u);
}

TEST(Construction, DelayLinesThatCannotBeAllocatedLeaveNoNodeBehind) {
  constexpr std::size_t kRingBytes = 48000 * sizeof(float);
  const AllocationCounts before = allocationCounts();
  orvane::testing::failAllocationOfSize(kRingBytes, 1);
  EXPECT_THROW(DelayNode node(2), std::bad_alloc);
  const AllocationCounts after = allocationCounts();
  EXPECT_EQ(after.allocations - before.allocations, after.deallocations - before.deallocations);
}

}  // namespace
}  // namespace orvane::extensions::audioeffects
