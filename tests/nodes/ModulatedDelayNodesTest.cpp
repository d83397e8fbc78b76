// Chorus, Flanger and Vibrato: three modulated delays over the host's ring and oscillator.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <orvane/audioeffects/ChorusNode.hpp>
#include <orvane/audioeffects/FlangerNode.hpp>
#include <orvane/audioeffects/VibratoNode.hpp>
#include <type_traits>
#include <vector>

#include "TestSignals.hpp"

namespace orvane::extensions::audioeffects {
namespace {

using orvane::testing::impulse;
using orvane::testing::noise;
using orvane::testing::nonZero;
using orvane::testing::render;
using orvane::testing::Signal;
using orvane::testing::silence;

// 2^-6 s: sweeps of exactly 750 samples at 48 kHz, so delays fall on whole samples.
constexpr float kExactSweep = 0.015625f;

// The fixed delay before the sweep, as heard in the output.
template <typename N>
constexpr unsigned int kBaseDelay = std::is_same_v<N, ChorusNode>
                                        ? 1002
                                        : (std::is_same_v<N, FlangerNode> ? 2 : 1);

template <typename N>
class ModulatedDelayNode : public ::testing::Test {};
using NodeTypes = ::testing::Types<ChorusNode, FlangerNode, VibratoNode>;
TYPED_TEST_SUITE(ModulatedDelayNode, NodeTypes);

// --- closed forms at a sweep width of 0 ----------------------------------------------------

TEST(ChorusNodeResponse, ZeroSweepAddsFourFifthsOfTheInput1002FramesEarlier) {
  const Signal input = noise(2, 6000, 21);
  ChorusNode node(2);
  node.setSweepWidth(0.0f);
  const Signal out = render(node, input, 48000, 300);
  for (unsigned int c = 0; c < 2; ++c) {
    for (unsigned int n = 0; n < 6000; ++n) {
      const float delayed = n >= 1002 ? input[c][n - 1002] : 0.0f;
      ASSERT_EQ(out[c][n], input[c][n] + 0.8f * delayed) << "channel " << c << " frame " << n;
    }
  }
}

TEST(FlangerNodeResponse, ZeroSweepImpulseRecirculatesEveryTwoFrames) {
  FlangerNode node(1);
  node.setSweepWidth(0.0f);
  const Signal out = render(node, impulse(1, 64), 48000, 5);
  // ring[n] = x[n] + 0.6 × ring[n − 2]; output = x[n] + 0.8 × ring[n − 2].
  std::vector<float> ring(64, 0.0f);
  for (unsigned int n = 0; n < 64; ++n) {
    const float x = n == 0 ? 1.0f : 0.0f;
    const float delayed = n >= 2 ? ring[n - 2] : 0.0f;
    ring[n] = x + 0.6f * delayed;
    ASSERT_EQ(out[0][n], x + 0.8f * delayed) << n;
    if (n % 2 == 1) {
      ASSERT_EQ(out[0][n], 0.0f) << n;
    }
  }
  EXPECT_FLOAT_EQ(out[0][2], 0.8f);
  EXPECT_FLOAT_EQ(out[0][4], 0.48f);
  EXPECT_FLOAT_EQ(out[0][6], 0.288f);
}

TEST(VibratoNodeResponse, ZeroSweepDelaysByOneFrameAcrossBlocks) {
  const Signal input = noise(2, 1000, 22);
  VibratoNode node(2);
  node.setSweepWidth(0.0f);
  const Signal out = render(node, input, 44100, 7);
  for (unsigned int c = 0; c < 2; ++c) {
    EXPECT_EQ(out[c][0], 0.0f);
    for (unsigned int n = 1; n < 1000; ++n) ASSERT_EQ(out[c][n], input[c][n - 1]) << n;
  }
}

// With the oscillators stopped (rate 0) each channel's delay stays where its phase puts it:
// channel 0 at phase 0 swings half the sweep, channel 1 a quarter cycle on the whole sweep.
TYPED_TEST(ModulatedDelayNode, StoppedOscillatorsHoldEachChannelAtItsPhase) {
  TypeParam node(2);
  node.setSweepWidth(kExactSweep);
  node.setFrequency(0.0f);
  EXPECT_EQ(node.getFrequency(), 0.0f);
  Signal in = silence(2, 4000);
  in[0][0] = 1.0f;
  in[1][0] = 1.0f;
  const Signal out = render(node, in, 48000, 256);
  const bool perChannel = !std::is_same_v<TypeParam, VibratoNode>;
  const unsigned int expected[2] = {kBaseDelay<TypeParam> + 375,
                                    kBaseDelay<TypeParam> + (perChannel ? 750 : 375)};
  for (unsigned int c = 0; c < 2; ++c) {
    const auto heard = nonZero(out, c);
    const bool dryToo = !std::is_same_v<TypeParam, VibratoNode>;
    ASSERT_GE(heard.size(), dryToo ? 2u : 1u) << c;
    const auto firstEcho = heard[dryToo ? 1 : 0];
    EXPECT_EQ(firstEcho.first, expected[c]) << "channel " << c;
    EXPECT_EQ(firstEcho.second, dryToo ? 0.8f : 1.0f) << "channel " << c;
  }
}

TYPED_TEST(ModulatedDelayNode, SweepingChannelsDifferOrMatchAsTheirOscillatorsDo) {
  TypeParam node(2);
  const Signal mono = noise(1, 48000, 23);
  const Signal input{mono[0], mono[0]};
  const Signal out = render(node, input, 48000, 512);
  if (std::is_same_v<TypeParam, VibratoNode>) {
    EXPECT_EQ(out[0], out[1]);
  } else {
    EXPECT_NE(out[0], out[1]);
  }
}

// A position puts the node where running that many frames of silence leaves it, whatever it
// has run before: a host's transport frame locks the sweep.
TYPED_TEST(ModulatedDelayNode, AnOscillatorPositionIsWhereRunningThatFarLeavesIt) {
  const Signal input = noise(2, 6000, 21);
  TypeParam reference(2);
  reference.setFrequency(3.0f);
  render(reference, silence(2, 7000), 48000, 512);
  const Signal expected = render(reference, input, 48000, 512);

  TypeParam fresh(2);
  fresh.setFrequency(3.0f);
  fresh.setPosition(7000, 48000);
  EXPECT_EQ(render(fresh, input, 48000, 512), expected);
  TypeParam ranLonger(2);
  ranLonger.setFrequency(3.0f);
  render(ranLonger, silence(2, 20000), 48000, 512);
  ranLonger.setPosition(7000, 48000);
  EXPECT_EQ(render(ranLonger, input, 48000, 512), expected);
  // And without the position, the sweep is elsewhere.
  TypeParam unlocked(2);
  unlocked.setFrequency(3.0f);
  render(unlocked, silence(2, 20000), 48000, 512);
  EXPECT_NE(render(unlocked, input, 48000, 512), expected);
}

TYPED_TEST(ModulatedDelayNode, OutputDoesNotDependOnBlockSize) {
  const Signal input = noise(2, 30000, 24);
  TypeParam reference(2);
  reference.setFrequency(3.0f);
  const Signal expected = render(reference, input, 48000, 30000);
  for (unsigned int block : {1u, 7u, 512u, 4096u}) {
    TypeParam node(2);
    node.setFrequency(3.0f);
    EXPECT_EQ(render(node, input, 48000, block), expected) << "block " << block;
  }
}

// --- bypass and freeze ---------------------------------------------------------------------

TYPED_TEST(ModulatedDelayNode, BypassIsBitExactAndResumesWhereItStopped) {
  const Signal before = noise(2, 3000, 25);
  const Signal passing = noise(2, 5000, 26);
  const Signal after = noise(2, 3000, 27);

  TypeParam paused(2);
  render(paused, before, 48000, 256);
  paused.setIsEnabled(false);
  EXPECT_FALSE(paused.getIsEnabled());
  EXPECT_EQ(render(paused, passing, 48000, 256), passing);
  EXPECT_EQ(render(paused, passing, 96000, 100), passing);  // unseen by format tracking
  paused.setIsEnabled(true);

  TypeParam uninterrupted(2);
  render(uninterrupted, before, 48000, 256);
  EXPECT_EQ(render(paused, after, 48000, 256), render(uninterrupted, after, 48000, 256));
}

// --- format changes ------------------------------------------------------------------------

TYPED_TEST(ModulatedDelayNode, FormatChangeClearsTheRingsEvenInAnEmptyBlock) {
  TypeParam node(2);
  node.setSweepWidth(0.0f);
  render(node, noise(2, 3000, 28), 48000, 512);
  render(node, silence(2, 0), 44100, 512);  // a new rate, no frames
  const Signal out = render(node, silence(2, 3000), 44100, 512);
  EXPECT_TRUE(nonZero(out, 0).empty());
  EXPECT_TRUE(nonZero(out, 1).empty());

  // Same format again: nothing is cleared between blocks, so an impulse echoes across them.
  render(node, impulse(2, 1), 44100, 1);
  const Signal later = render(node, silence(2, 3000), 44100, 512);
  EXPECT_NE(later[0][kBaseDelay<TypeParam> - 1], 0.0f);
}

TYPED_TEST(ModulatedDelayNode, ChannelsBeyondTheCapacityPassThrough) {
  const Signal input = noise(3, 5000, 29);
  TypeParam node(1);
  const Signal out = render(node, input, 48000, 333);
  EXPECT_EQ(out[1], input[1]);
  EXPECT_EQ(out[2], input[2]);
  TypeParam mono(1);
  EXPECT_EQ(out[0], render(mono, Signal{input[0]}, 48000, 333)[0]);

  TypeParam empty(0);
  const float emptyFrequency = std::is_same_v<TypeParam, VibratoNode> ? 4.0f : 0.0f;
  EXPECT_EQ(empty.getFrequency(), emptyFrequency);
  empty.setFrequency(2.0f);
  EXPECT_EQ(render(empty, input, 48000, 333), input);
}

TYPED_TEST(ModulatedDelayNode, AcceptsMatchingFormatsOfOneOrTwoChannels) {
  TypeParam node(1);  // the limit is 2 whatever the capacity
  for (unsigned int channels : {1u, 2u, 3u}) {
    AudioBusFormat in(channels);
    AudioBusFormat out(channels);
    EXPECT_EQ(node.setBusFormat(in, out), channels <= 2) << channels;
  }
  AudioBusFormat mono(1);
  AudioBusFormat stereo(2);
  EXPECT_FALSE(node.setBusFormat(stereo, mono));
}

// --- hostile settings ----------------------------------------------------------------------

TYPED_TEST(ModulatedDelayNode, AnySweepWidthStaysInsideTheRingAndTheNodeRecovers) {
  const float hostile[] = {-1.0f,
                           1000.0f,
                           1e30f,
                           -1e30f,
                           std::numeric_limits<float>::infinity(),
                           -std::numeric_limits<float>::infinity(),
                           std::numeric_limits<float>::quiet_NaN(),
                           std::numeric_limits<float>::denorm_min()};
  for (float sweep : hostile) {
    for (unsigned int rate : {0u, 1u, 48000u, 384000u}) {
      TypeParam node(2);
      node.setSweepWidth(sweep);
      EXPECT_EQ(std::bit_cast<std::uint32_t>(node.getSweepWidth()),
                std::bit_cast<std::uint32_t>(sweep));
      render(node, noise(2, 4000, 30), rate, 512);
      node.setSweepWidth(0.001f);
      const Signal out = render(node, noise(2, 4000, 31), rate, 512);
      for (const auto& channel : out)
        for (float sample : channel) ASSERT_TRUE(std::isfinite(sample)) << sweep << " @ " << rate;
    }
  }
}

TYPED_TEST(ModulatedDelayNode, NonFiniteInputIsNeverKeptInTheRing) {
  TypeParam node(1);
  node.setSweepWidth(0.0f);
  Signal poisoned = silence(1, 3000);
  poisoned[0][0] = std::numeric_limits<float>::quiet_NaN();
  poisoned[0][1] = -std::numeric_limits<float>::infinity();
  const Signal out = render(node, poisoned, 48000, 100);
  for (unsigned int n = 2; n < 3000; ++n) ASSERT_EQ(out[0][n], 0.0f) << n;
}

TYPED_TEST(ModulatedDelayNode, SettersStoreExactlyWhatTheyAreGiven) {
  TypeParam node(2);
  EXPECT_TRUE(node.getIsEnabled());
  node.setSweepWidth(-0.25f);
  EXPECT_EQ(node.getSweepWidth(), -0.25f);
  node.setFrequency(-3.5f);
  EXPECT_EQ(node.getFrequency(), -3.5f);
  EXPECT_TRUE(node.getParameters().empty());
}

TEST(ModulatedDelayNodeDefaults, MatchEachEffect) {
  ChorusNode chorus(2);
  FlangerNode flanger(2);
  VibratoNode vibrato(2);
  EXPECT_EQ(chorus.getSweepWidth(), 0.025f);
  EXPECT_EQ(chorus.getFrequency(), 0.2f);
  EXPECT_EQ(chorus.getTypeName(), "ChorusNode");
  EXPECT_EQ(flanger.getSweepWidth(), 0.005f);
  EXPECT_EQ(flanger.getFrequency(), 0.4f);
  EXPECT_EQ(flanger.getTypeName(), "OrvaneFlangerNode");
  EXPECT_EQ(vibrato.getSweepWidth(), 0.01f);
  EXPECT_EQ(vibrato.getFrequency(), 4.0f);
  EXPECT_EQ(vibrato.getTypeName(), "VibratoNode");
}

}  // namespace
}  // namespace orvane::extensions::audioeffects
