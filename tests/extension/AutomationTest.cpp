// Settings that move: envelopes, note values, and the runner that applies a schedule to a node.
// The runner's contract is that an automated render equals the same render done by hand in
// pieces, with the envelope's values set at each piece's first frame; the reference here
// finds those frames by brute force, frame by frame, from the rule alone.
#include <gtest/gtest.h>

#include <cmath>
#include <orvane/audioeffects/AudioEffects.hpp>
#include <random>
#include <stdexcept>

#include "TestSignals.hpp"

namespace {

using orvane::AudioBuffer;
using orvane::SingleBusAudioProcessorNode;
using orvane::extensions::audioeffects::AudioEffectsNodeFactory;
using orvane::extensions::audioeffects::AutomationRunner;
using orvane::extensions::audioeffects::AutomationSchedule;
using orvane::extensions::audioeffects::Breakpoint;
using orvane::extensions::audioeffects::EffectSettings;
using orvane::extensions::audioeffects::Envelope;
using orvane::extensions::audioeffects::noteValueMilliseconds;
using orvane::extensions::audioeffects::SettingKind;
using orvane::testing::Signal;

constexpr unsigned int kRate = 48000;

bool agreeOn(SingleBusAudioProcessorNode& node, unsigned int channels) {
  orvane::AudioBusFormat in(channels), out(channels);
  return node.setBusFormat(in, out);
}

TEST(Envelope, IsLinearBetweenPointsHeldOutsideThemAndStepsWhereTwoShareAFrame) {
  const Envelope envelope({{100, 0.2}, {300, 0.6}, {300, 1.0}, {400, 0.0}});
  EXPECT_EQ(envelope.valueAt(0), 0.2);     // before the first point: its value
  EXPECT_EQ(envelope.valueAt(100), 0.2);
  EXPECT_DOUBLE_EQ(envelope.valueAt(200), 0.4);
  EXPECT_EQ(envelope.valueAt(300), 1.0);   // the step: the later point holds from its frame
  EXPECT_EQ(envelope.valueAt(350), 0.5);
  EXPECT_EQ(envelope.valueAt(10000), 0.0);  // after the last: held
  EXPECT_TRUE(envelope.rampsAt(299) && envelope.rampsAt(300) && !envelope.rampsAt(400));
  EXPECT_FALSE(envelope.rampsAt(50));
  EXPECT_EQ(envelope.nextBreakpointAfter(0), 100u);
  EXPECT_EQ(envelope.nextBreakpointAfter(300), 400u);
  EXPECT_EQ(envelope.nextBreakpointAfter(400), UINT64_MAX);

  EXPECT_THROW(Envelope({}), std::invalid_argument);
  EXPECT_THROW(Envelope({{10, 0.0}, {5, 1.0}}), std::invalid_argument);
  EXPECT_THROW(Envelope({{0, std::nan("")}}), std::invalid_argument);
}

TEST(NoteValues, AreBeatsAtTheTempoWithDotsAndTriplets) {
  EXPECT_EQ(noteValueMilliseconds("1/4", 120.0), 500.0);
  EXPECT_EQ(noteValueMilliseconds("1/8.", 120.0), 375.0);
  EXPECT_DOUBLE_EQ(noteValueMilliseconds("1/8t", 120.0), 500.0 / 3.0);
  EXPECT_EQ(noteValueMilliseconds("3/16", 100.0), 450.0);
  for (const char* bad : {"1/3", "0/4", "1/128", "1/", "/4", "x/4", "1/4..", "1/4 ", "1.5/4"}) {
    EXPECT_LT(noteValueMilliseconds(bad, 120.0), 0.0) << bad;
  }
  EXPECT_LT(noteValueMilliseconds("1/4", 0.0), 0.0);
}

// Every setting of every effect that takes a number, ramped across its range and back with a
// step in between, rendered by the runner in random blocks: the same samples as a render done
// by hand in pieces between the frames the rule names, in other random blocks.
TEST(AutomationRunner, GivesTheSamplesOfAHandMadeRenderInPiecesWhateverTheBlocks) {
  std::mt19937 random(7);
  constexpr unsigned int kFrames = 6000;
  for (const EffectSettings& effect : EffectSettings::all()) {
    const unsigned int channels = effect.maximumChannels();
    const Signal input = orvane::testing::noise(channels, kFrames, 3);
    for (std::size_t index = 0; index < effect.settings().size(); ++index) {
      const auto& setting = effect.settings()[index];
      if (setting.kind == SettingKind::Toggle) continue;
      SCOPED_TRACE(effect.type() + " " + setting.id);
      const double low = setting.minimum + 0.1 * (setting.maximum - setting.minimum);
      const double high = setting.maximum - 0.2 * (setting.maximum - setting.minimum);
      AutomationSchedule schedule;
      schedule.envelopes.emplace_back(
          index, Envelope({{500, low}, {2500, high}, {2500, low}, {4000, high}, {4700, low}}));
      const Envelope& envelope = schedule.envelopes[0].second;

      AudioEffectsNodeFactory factory;
      // By the runner, in random blocks.
      auto node = factory.createNode(effect.type());
      auto& processor = dynamic_cast<SingleBusAudioProcessorNode&>(*node);
      ASSERT_TRUE(agreeOn(processor, channels));
      AutomationRunner runner(effect, *node, processor);
      runner.setSchedule(&schedule);
      Signal automated = input;
      for (unsigned int start = 0; start < kFrames;) {
        const unsigned int length = std::min<unsigned int>(1 + random() % 700, kFrames - start);
        std::vector<float*> pointers;
        for (auto& channel : automated) pointers.push_back(channel.data() + start);
        AudioBuffer<float> block(pointers.data(), channels, length, kRate);
        runner.process(block, start);
        start += length;
      }

      // By hand: a piece begins at the first frame, at each breakpoint, and at each multiple of
      // 32 where the value moves on to the next frame.
      auto reference = factory.createNode(effect.type());
      auto& manual = dynamic_cast<SingleBusAudioProcessorNode&>(*reference);
      ASSERT_TRUE(agreeOn(manual, channels));
      std::vector<unsigned int> starts;
      for (unsigned int f = 0; f < kFrames; ++f) {
        const bool breakpoint = f == 500 || f == 2500 || f == 4000 || f == 4700;
        const bool moving = envelope.valueAt(f) != envelope.valueAt(f + 1);
        if (f == 0 || breakpoint || (moving && f % 32 == 0)) starts.push_back(f);
      }
      starts.push_back(kFrames);
      Signal handMade = input;
      for (std::size_t p = 0; p + 1 < starts.size(); ++p) {
        effect.set(*reference, index, envelope.valueAt(starts[p]));
        Signal piece(channels);
        for (unsigned int c = 0; c < channels; ++c) {
          piece[c].assign(handMade[c].begin() + starts[p], handMade[c].begin() + starts[p + 1]);
        }
        const Signal out = orvane::testing::render(manual, piece, kRate, 1 + random() % 300);
        for (unsigned int c = 0; c < channels; ++c) {
          std::copy(out[c].begin(), out[c].end(), handMade[c].begin() + starts[p]);
        }
      }
      EXPECT_EQ(automated, handMade);
    }
  }
}

// A wet level ramped from 0 to 1 over a second on a steady input moves the output by no more
// than 32 frames of the ramp at once; set once a block, it would jump by a block's worth.
TEST(AutomationRunner, ARampMovesTheOutputInSmallSteps) {
  AudioEffectsNodeFactory factory;
  const EffectSettings& delay = *EffectSettings::forType("Delay");
  auto node = factory.createNode("Delay");
  auto& processor = dynamic_cast<SingleBusAudioProcessorNode&>(*node);
  ASSERT_TRUE(agreeOn(processor, 1));
  delay.set(*node, *delay.indexOf("dry-mix"), 0.0);
  delay.set(*node, *delay.indexOf("feedback"), 0.0);
  AutomationSchedule schedule;
  schedule.envelopes.emplace_back(*delay.indexOf("wet-mix"), Envelope({{0, 0.0}, {kRate, 1.0}}));
  AutomationRunner runner(delay, *node, processor);
  runner.setSchedule(&schedule);
  std::vector<float> samples(2 * kRate, 0.5f);
  constexpr unsigned int kBlock = 4096;
  for (unsigned int start = 0; start < samples.size(); start += kBlock) {
    float* pointer = samples.data() + start;
    AudioBuffer<float> block(&pointer, 1, std::min<std::size_t>(kBlock, samples.size() - start), kRate);
    runner.process(block, start);
  }
  float largest = 0.0f;
  for (std::size_t f = kRate / 2; f + 1 < kRate; ++f) {
    largest = std::max(largest, std::abs(samples[f + 1] - samples[f]));
  }
  const double allowed = 0.5 * AutomationRunner::kRampStep / kRate;
  EXPECT_GT(largest, 0.0f);
  EXPECT_LE(largest, allowed * 1.0001);
  EXPECT_NEAR(samples.back(), 0.5f, 1e-6);  // the last value held: all wet
}

}  // namespace
