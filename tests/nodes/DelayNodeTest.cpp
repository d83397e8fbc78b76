#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <orvane/audioeffects/DelayNode.hpp>
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
using Echoes = std::vector<std::pair<unsigned int, float>>;

// The echoes of a unit impulse, derived from the node's own float arithmetic: the delayed value
// is 1, then feedback times the one before; each is heard at wet × delayed.
Echoes expectedImpulseResponse(float dry, float wet, float feedback, unsigned int period,
                               unsigned int frames) {
  Echoes echoes{{0, 1.0f * dry}};
  float delayed = 1.0f;
  for (unsigned int at = period; at < frames && delayed * wet != 0.0f; at += period) {
    echoes.emplace_back(at, 0.0f * dry + delayed * wet);
    delayed = 0.0f + feedback * delayed;
  }
  return echoes;
}

// --- impulse responses ---------------------------------------------------------------------

TEST(DelayNodeImpulse, DefaultsAt48kHzEchoEvery9600FramesAtAFifthOfTheLast) {
  DelayNode node(2);
  const Signal out = render(node, impulse(2, 60000), 48000, 512);
  const Echoes echoes = nonZero(out, 0);
  EXPECT_EQ(echoes, expectedImpulseResponse(0.7f, 0.3f, 0.2f, 9600, 60000));
  ASSERT_GE(echoes.size(), 4u);
  EXPECT_FLOAT_EQ(echoes[0].second, 0.7f);
  EXPECT_FLOAT_EQ(echoes[1].second, 0.3f);
  EXPECT_FLOAT_EQ(echoes[2].second, 0.06f);
  EXPECT_FLOAT_EQ(echoes[3].second, 0.012f);
  EXPECT_EQ(echoes[3].first, 28800u);
  EXPECT_TRUE(nonZero(out, 1).empty());
}

TEST(DelayNodeImpulse, DelayInSamplesIsTruncatedNeverRounded) {
  struct Case {
    unsigned int rate;
    unsigned int ms;
    unsigned int frames;
  };
  // 44.1, 66.15 and 95.999... samples.
  for (const Case c : {Case{44100, 1, 44}, Case{22050, 3, 66}, Case{47999, 2, 95}}) {
    DelayNode node(1);
    node.setDelayMs(c.ms);
    const Echoes echoes = nonZero(render(node, impulse(1, 200), c.rate, 64), 0);
    ASSERT_GE(echoes.size(), 2u);
    EXPECT_EQ(echoes[1].first, c.frames) << c.rate << " Hz, " << c.ms << " ms";
  }
}

TEST(DelayNodeImpulse, MixAndFeedbackLevelsShapeTheEchoes) {
  DelayNode node(1);
  node.setDryMix(0.5f);
  node.setWetMix(0.9f);
  node.setFeedbackLevel(0.5f);
  node.setDelayMs(10);  // 100 frames at 10 kHz
  const Signal out = render(node, impulse(1, 1000), 10000, 33);
  EXPECT_EQ(nonZero(out, 0), expectedImpulseResponse(0.5f, 0.9f, 0.5f, 100, 1000));
}

TEST(DelayNodeImpulse, FullFeedbackRepeatsAtFullStrengthForever) {
  DelayNode node(1);
  node.setFeedbackLevel(1.0f);
  node.setDelayMs(10);  // 10 frames at 1 kHz
  const Echoes echoes = nonZero(render(node, impulse(1, 5000), 1000, 128), 0);
  ASSERT_EQ(echoes.size(), 500u);
  for (unsigned int k = 1; k < echoes.size(); ++k) {
    EXPECT_EQ(echoes[k], std::make_pair(10 * k, 0.3f));
  }
}

TEST(DelayNodeImpulse, OutputDoesNotDependOnBlockSizeOrInPlaceProcessing) {
  const Signal input = noise(2, 20000, 7);
  DelayNode reference(2);
  reference.setDelayMs(7);
  reference.setFeedbackLevel(0.9f);
  const Signal expected = render(reference, input, 44100, 20000);
  for (unsigned int block : {1u, 7u, 512u, 4096u}) {
    DelayNode node(2);
    node.setDelayMs(7);
    node.setFeedbackLevel(0.9f);
    EXPECT_EQ(render(node, input, 44100, block), expected) << "block " << block;
  }

  DelayNode inPlace(2);
  inPlace.setDelayMs(7);
  inPlace.setFeedbackLevel(0.9f);
  Signal buffer = input;
  float* pointers[2] = {buffer[0].data(), buffer[1].data()};
  AudioBuffer<float> shared(pointers, 2, 20000, 44100);
  AudioBus bus(shared);
  inPlace.process(bus, bus);
  EXPECT_EQ(buffer, expected);
}

// --- bypass and freeze ---------------------------------------------------------------------

TEST(DelayNodeBypass, DisabledOrZeroDelayPassesInputBitForBitAndFreezesTheLines) {
  for (bool viaZeroDelay : {false, true}) {
    DelayNode node(2);
    render(node, impulse(2, 100), 48000, 100);  // the impulse now sits in the line
    if (viaZeroDelay) {
      node.setDelayMs(0);
    } else {
      node.setIsEnabled(false);
    }
    const Signal passing = noise(2, 20000, 3);
    EXPECT_EQ(render(node, passing, 48000, 256), passing);

    node.setDelayMs(200);
    node.setIsEnabled(true);
    // Frozen positions: the impulse written 100 frames before the pause is 9500 frames away.
    const Echoes echoes = nonZero(render(node, silence(2, 20000), 48000, 256), 0);
    ASSERT_FALSE(echoes.empty()) << viaZeroDelay;
    EXPECT_EQ(echoes[0], std::make_pair(9500u, 0.3f)) << viaZeroDelay;
  }
}

// --- changes between blocks ----------------------------------------------------------------

TEST(DelayNodeChanges, NewDelayMovesTheReadPositionWithoutClearing) {
  DelayNode node(1);
  Signal first = render(node, impulse(1, 5000), 48000, 5000);
  node.setDelayMs(150);  // 7200 frames: the impulse, 5000 frames old, returns 2200 frames on
  const Echoes echoes = nonZero(render(node, silence(1, 10000), 48000, 512), 0);
  ASSERT_FALSE(echoes.empty());
  EXPECT_EQ(echoes[0], std::make_pair(2200u, 0.3f));
  EXPECT_EQ(nonZero(first, 0).size(), 1u);
}

TEST(DelayNodeChanges, NewSampleRateClearsTheLinesAndPlacesThemAnew) {
  DelayNode node(1);
  render(node, impulse(1, 100), 48000, 100);
  const Signal after = render(node, impulse(1, 20000), 44100, 512);
  EXPECT_EQ(nonZero(after, 0), expectedImpulseResponse(0.7f, 0.3f, 0.2f, 8820, 20000));
}

TEST(DelayNodeChanges, NewChannelCountAloneClearsButKeepsTheDistance) {
  DelayNode node(2);
  render(node, impulse(2, 100), 48000, 100);  // would echo at 9500 frames from here
  const Signal mono = render(node, impulse(1, 20000), 48000, 512);
  EXPECT_EQ(nonZero(mono, 0), expectedImpulseResponse(0.7f, 0.3f, 0.2f, 9600, 20000));
}

// --- formats and hostile settings ----------------------------------------------------------

TEST(DelayNodeFormats, AcceptsMatchingFormatsUpToItsCapacity) {
  DelayNode node(2);
  for (unsigned int channels : {1u, 2u, 3u}) {
    AudioBusFormat in(channels);
    AudioBusFormat out(channels);
    EXPECT_EQ(node.setBusFormat(in, out), channels <= 2) << channels;
  }
  AudioBusFormat mono(1);
  AudioBusFormat stereo(2);
  EXPECT_FALSE(node.setBusFormat(mono, stereo));
}

TEST(DelayNodeFormats, ChannelsBeyondTheCapacityPassThroughUntouched) {
  DelayNode node(1);
  const Signal input = noise(3, 30000, 5);
  const Signal out = render(node, input, 48000, 1000);
  EXPECT_EQ(out[1], input[1]);
  EXPECT_EQ(out[2], input[2]);
  DelayNode single(1);
  EXPECT_EQ(out[0], render(single, Signal{input[0]}, 48000, 1000)[0]);
}

TEST(DelayNodeHostile, DelaysBeyondTheRingLandWhereTheRingsModuloPutsThem) {
  struct Case {
    unsigned int rate;
    unsigned int ms;
    unsigned int echoAt;
  };
  const Case cases[] = {
      {96000, 1000, 48000},                                       // D = 96000
      {500, 1, 48000},                                            // D = 0: read where it writes
      {48000, std::numeric_limits<std::uint32_t>::max(), 23295},  // D saturates at 2^32 - 1
      {std::numeric_limits<std::uint32_t>::max(), 2000, 23295},
  };
  for (const Case c : cases) {
    DelayNode node(1);
    node.setDelayMs(c.ms);
    const Echoes echoes = nonZero(render(node, impulse(1, 50000), c.rate, 4096), 0);
    ASSERT_GE(echoes.size(), 2u) << c.rate << " Hz, " << c.ms << " ms";
    EXPECT_EQ(echoes[1], std::make_pair(c.echoAt, 0.3f)) << c.rate << " Hz, " << c.ms << " ms";
  }
}

TEST(DelayNodeHostile, NonFiniteValuesNeverStayInTheLines) {
  DelayNode node(1);
  node.setDelayMs(1);  // 48 frames
  Signal poisoned = silence(1, 100);
  poisoned[0][0] = std::numeric_limits<float>::quiet_NaN();
  poisoned[0][1] = std::numeric_limits<float>::infinity();
  const Signal out = render(node, poisoned, 48000, 100);
  EXPECT_TRUE(std::isnan(out[0][0]));
  for (unsigned int f = 2; f < 100; ++f) EXPECT_EQ(out[0][f], 0.0f) << f;

  node.setFeedbackLevel(1e30f);  // echoes overflow to infinity within a few periods
  render(node, impulse(1, 1000), 48000, 100);
  node.setFeedbackLevel(0.2f);
  const Signal recovered = render(node, silence(1, 1000), 48000, 100);
  for (float sample : recovered[0]) EXPECT_TRUE(std::isfinite(sample));
}

TEST(DelayNodeSettings, AccessorsStoreAnyValueUnchanged) {
  DelayNode node(2);
  EXPECT_TRUE(node.getIsEnabled());
  EXPECT_EQ(node.getDryMix(), 0.7f);
  EXPECT_EQ(node.getWetMix(), 0.3f);
  EXPECT_EQ(node.getDelayMs(), 200u);
  EXPECT_EQ(node.getFeedbackLevel(), 0.2f);
  EXPECT_EQ(node.getTypeName(), "DelayNode");
  node.setDryMix(-2.5f);
  node.setWetMix(7.0f);
  node.setFeedbackLevel(1.5f);
  node.setDelayMs(123456);
  node.setIsEnabled(false);
  EXPECT_EQ(node.getDryMix(), -2.5f);
  EXPECT_EQ(node.getWetMix(), 7.0f);
  EXPECT_EQ(node.getFeedbackLevel(), 1.5f);
  EXPECT_EQ(node.getDelayMs(), 123456u);
  EXPECT_FALSE(node.getIsEnabled());
  EXPECT_TRUE(node.getParameters().empty());
}

}  // namespace
}  // namespace orvane::extensions::audioeffects
