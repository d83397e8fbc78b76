#include <gtest/gtest.h>

#include <any>
#include <atomic>
#include <cmath>
#include <limits>
#include <orvane/audioeffects/PingPongDelayNode.hpp>
#include <thread>
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

struct StereoEchoes {
  Echoes left;
  Echoes right;
};

// The echoes of a unit impulse on one side, period by period: each period the left line takes
// the input plus feedback × the right line's previous content, then the right line takes its
// input plus feedback × the left line's new content. A line's content is heard one period later
// at the wet level.
StereoEchoes expectedEchoes(bool impulseOnLeft, float dry, float wet, float feedback,
                            unsigned int period, unsigned int frames) {
  StereoEchoes echoes;
  (impulseOnLeft ? echoes.left : echoes.right).emplace_back(0, 1.0f * dry);
  float leftLine = 0.0f;
  float rightLine = 0.0f;
  for (unsigned int k = 0; k * period < frames; ++k) {
    const float xLeft = k == 0 && impulseOnLeft ? 1.0f : 0.0f;
    const float xRight = k == 0 && !impulseOnLeft ? 1.0f : 0.0f;
    if (k > 0) {
      const float heardLeft = xLeft * dry + leftLine * wet;
      const float heardRight = xRight * dry + rightLine * wet;
      if (heardLeft != 0.0f) echoes.left.emplace_back(k * period, heardLeft);
      if (heardRight != 0.0f) echoes.right.emplace_back(k * period, heardRight);
    }
    leftLine = xLeft + feedback * rightLine;
    rightLine = xRight + feedback * leftLine;
  }
  return echoes;
}

TEST(PingPongDelayNodeParameters, ListHoldsTheFiveSettingsInOrder) {
  PingPongDelayNode node;
  EXPECT_EQ(node.getTypeName(), "PingPongDelayNode");
  const auto& parameters = node.getParameters();
  ASSERT_EQ(parameters.size(), 5u);

  const auto& enabled = dynamic_cast<const BoolStoredParameter&>(*parameters[0]);
  EXPECT_EQ(enabled.getId(), "enabled");
  EXPECT_EQ(enabled.getName(), "Enabled");
  EXPECT_EQ(enabled.getDescription(), "Enable or disable the ping-pong delay effect.");
  EXPECT_TRUE(enabled.getValue());

  struct FloatRow {
    std::size_t at;
    const char* id;
    const char* name;
    const char* description;
    float value;
    float minimum;
    float maximum;
  };
  const FloatRow floats[] = {
      {1, "dry-mix", "Dry Mix",
       "Level of the dry signal. 0 means no dry signal, 1 means maximum dry signal.", 0.7f, 0.0f,
       1.0f},
      {2, "wet-mix", "Wet Mix",
       "Level of the wet signal. 0 means no wet signal, 1 means maximum wet signal.", 0.3f, 0.0f,
       1.0f},
      {4, "feedback", "Feedback Level",
       "The feedback level of the delay. 0 means no feedback, 1 means maximum feedback.", 0.2f,
       0.0f, 0.99f},
  };
  for (const FloatRow& row : floats) {
    const auto& parameter = dynamic_cast<const FloatStoredParameter&>(*parameters[row.at]);
    EXPECT_EQ(parameter.getId(), row.id);
    EXPECT_EQ(parameter.getName(), row.name);
    EXPECT_EQ(parameter.getDescription(), row.description);
    EXPECT_EQ(parameter.getValue(), row.value);
    EXPECT_EQ(parameter.getDefaultValue(), row.value);
    EXPECT_EQ(parameter.getMinimum(), row.minimum);
    EXPECT_EQ(parameter.getMaximum(), row.maximum);
  }

  const auto& delay = dynamic_cast<const UIntStoredParameter&>(*parameters[3]);
  EXPECT_EQ(delay.getId(), "delay");
  EXPECT_EQ(delay.getName(), "Delay (ms)");
  EXPECT_EQ(delay.getDescription(), "The delay time in milliseconds.");
  EXPECT_EQ(delay.getValue(), 200u);
  EXPECT_EQ(delay.getMinimum(), 1u);
  EXPECT_EQ(delay.getMaximum(), 1000u);
}

TEST(PingPongDelayNodeParameters, AccessorsAndParametersByIdAreTheSameValues) {
  PingPongDelayNode node;
  node.setFeedbackLevel(1.5f);
  EXPECT_EQ(node.getFeedbackLevel(), 0.99f);
  auto& feedback = dynamic_cast<FloatStoredParameter&>(*node.getParameter("feedback"));
  EXPECT_EQ(feedback.getValue(), 0.99f);
  feedback.setValue(0.5f);
  EXPECT_EQ(node.getFeedbackLevel(), 0.5f);

  EXPECT_TRUE(node.setValue("delay", 0).isSuccess());
  EXPECT_EQ(node.getDelayMs(), 1u);
  node.setDelayMs(5000);
  EXPECT_EQ(std::any_cast<unsigned int>(node.getValue("delay").getValue()), 1000u);
  node.setDryMix(-1.0f);
  EXPECT_EQ(node.getDryMix(), 0.0f);
  node.setWetMix(0.25f);
  EXPECT_EQ(std::any_cast<float>(node.getValue("wet-mix").getValue()), 0.25f);
  node.setIsEnabled(false);
  EXPECT_FALSE(std::any_cast<bool>(node.getValue("enabled").getValue()));
}

// --- impulse responses ---------------------------------------------------------------------

TEST(PingPongDelayNodeImpulse, LeftImpulseReturnsOnBothSidesThenBounces) {
  PingPongDelayNode node;
  const Signal out = render(node, impulse(2, 60000, 0), 48000, 512);
  const StereoEchoes expected = expectedEchoes(true, 0.7f, 0.3f, 0.2f, 9600, 60000);
  EXPECT_EQ(nonZero(out, 0), expected.left);
  EXPECT_EQ(nonZero(out, 1), expected.right);
  ASSERT_GE(expected.left.size(), 3u);
  EXPECT_FLOAT_EQ(expected.left[1].second, 0.3f);
  EXPECT_FLOAT_EQ(expected.left[2].second, 0.012f);
  EXPECT_EQ(expected.left[2].first, 19200u);
  EXPECT_EQ(expected.right[0], std::make_pair(9600u, 0.3f * 0.2f));
  EXPECT_FLOAT_EQ(expected.right[0].second, 0.06f);
  EXPECT_FLOAT_EQ(expected.right[1].second, 0.0024f);
}

TEST(PingPongDelayNodeImpulse, RightImpulseReachesTheLeftOnlyAfterTwoPeriods) {
  PingPongDelayNode node;
  node.setDryMix(0.5f);
  node.setWetMix(0.9f);
  node.setFeedbackLevel(0.6f);
  node.setDelayMs(10);  // 441 frames at 44.1 kHz
  const Signal out = render(node, impulse(2, 5000, 1), 44100, 100);
  const StereoEchoes expected = expectedEchoes(false, 0.5f, 0.9f, 0.6f, 441, 5000);
  EXPECT_EQ(nonZero(out, 0), expected.left);
  EXPECT_EQ(nonZero(out, 1), expected.right);
  ASSERT_FALSE(expected.left.empty());
  EXPECT_EQ(expected.left[0].first, 882u);
  EXPECT_EQ(expected.right[1], std::make_pair(441u, 0.9f));
}

TEST(PingPongDelayNodeImpulse, OutputDoesNotDependOnBlockSize) {
  const Signal input = noise(2, 12000, 11);
  PingPongDelayNode reference;
  reference.setDelayMs(3);
  reference.setFeedbackLevel(0.9f);
  const Signal expected = render(reference, input, 48000, 12000);
  for (unsigned int block : {1u, 7u, 512u, 4096u}) {
    PingPongDelayNode node;
    node.setDelayMs(3);
    node.setFeedbackLevel(0.9f);
    EXPECT_EQ(render(node, input, 48000, block), expected) << "block " << block;
  }
}

// --- bypass and changes --------------------------------------------------------------------

TEST(PingPongDelayNodeBypass, DisabledPassesInputBitForBitAndFreezesTheLines) {
  PingPongDelayNode node;
  render(node, impulse(2, 100, 0), 48000, 100);
  node.setIsEnabled(false);
  const Signal passing = noise(2, 20000, 4);
  EXPECT_EQ(render(node, passing, 48000, 333), passing);
  node.setIsEnabled(true);
  const Signal after = render(node, silence(2, 20000), 48000, 333);
  ASSERT_FALSE(nonZero(after, 0).empty());
  EXPECT_EQ(nonZero(after, 0)[0], std::make_pair(9500u, 0.3f));
}

TEST(PingPongDelayNodeChanges, NewDelayChangesOnlyWhereThePositionWraps) {
  // Longer: the impulse in slot 0 is reached when the position wraps at the new length.
  PingPongDelayNode longer;
  render(longer, impulse(2, 5000, 0), 48000, 5000);
  longer.setDelayMs(150);  // wraps at 7200
  const Echoes longerEchoes = nonZero(render(longer, silence(2, 10000), 48000, 64), 0);
  ASSERT_FALSE(longerEchoes.empty());
  EXPECT_EQ(longerEchoes[0], std::make_pair(2200u, 0.3f));

  // Shorter than the position: slot 5000 is used once more, then (5000 + 1) mod 2400 = 201,
  // and slot 0 comes round 2199 frames after that.
  PingPongDelayNode shorter;
  render(shorter, impulse(2, 5000, 0), 48000, 5000);
  shorter.setDelayMs(50);
  const Echoes shorterEchoes = nonZero(render(shorter, silence(2, 10000), 48000, 64), 0);
  ASSERT_FALSE(shorterEchoes.empty());
  EXPECT_EQ(shorterEchoes[0], std::make_pair(2200u, 0.3f));
  ASSERT_GE(shorterEchoes.size(), 2u);
  EXPECT_EQ(shorterEchoes[1].first, 2200u + 2400u);
}

TEST(PingPongDelayNodeChanges, DelaysOutsideTheArraysAreKeptWithinThem) {
  // 96000 Hz × 1000 ms asks for 96000 samples; 500 Hz × 1 ms for none.
  struct Case {
    unsigned int rate;
    unsigned int ms;
    unsigned int echoAt;
  };
  for (const Case c : {Case{96000, 1000, 48000}, Case{500, 1, 1}, Case{4294967295u, 1000, 48000}}) {
    PingPongDelayNode node;
    node.setDelayMs(c.ms);
    const Echoes echoes = nonZero(render(node, impulse(2, 50000, 0), c.rate, 1024), 0);
    ASSERT_GE(echoes.size(), 2u) << c.rate;
    EXPECT_EQ(echoes[1], std::make_pair(c.echoAt, 0.3f)) << c.rate;
  }
}

TEST(PingPongDelayNodeFormats, AcceptsMatchingStereoOnly) {
  PingPongDelayNode node;
  for (unsigned int channels : {1u, 2u, 3u}) {
    AudioBusFormat in(channels);
    AudioBusFormat out(channels);
    EXPECT_EQ(node.setBusFormat(in, out), channels == 2) << channels;
  }
  AudioBusFormat stereo(2);
  AudioBusFormat mono(1);
  EXPECT_FALSE(node.setBusFormat(stereo, mono));
}

TEST(PingPongDelayNodeThreads, ParametersChangeWhileAudioRuns) {
  PingPongDelayNode node;
  std::atomic<bool> done{false};
  std::thread control([&] {
    for (int i = 0; i < 2000; ++i) {
      node.setDelayMs(static_cast<unsigned int>(1 + i % 1000));
      node.setFeedbackLevel(static_cast<float>(i % 100) / 100.0f);
      node.setValue("wet-mix", static_cast<double>(i % 7) / 7.0);
      node.setIsEnabled(i % 5 != 0);
    }
    done = true;
  });
  const Signal input = noise(2, 256, 9);
  while (!done) {
    const Signal out = render(node, input, 48000, 256);
    for (const auto& channel : out)
      for (float sample : channel) ASSERT_TRUE(std::isfinite(sample));
  }
  control.join();
}

}  // namespace
}  // namespace orvane::extensions::audioeffects
