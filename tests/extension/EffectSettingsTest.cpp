#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <orvane/audioeffects/AudioEffects.hpp>
#include <string>
#include <typeinfo>
#include <vector>

#include "TestSignals.hpp"

namespace orvane::extensions::audioeffects {
namespace {

using orvane::testing::Signal;

std::vector<std::string> idsOf(const EffectSettings& effect) {
  std::vector<std::string> ids;
  for (const SettingInfo& s : effect.settings()) ids.push_back(s.id);
  return ids;
}

bool contains(const std::vector<std::string>& texts, const std::string& part) {
  for (const std::string& text : texts) {
    if (text.find(part) != std::string::npos) return true;
  }
  return false;
}

std::string joined(const std::vector<std::string>& texts) {
  std::string all;
  for (const std::string& text : texts) all += text + "\n";
  return all;
}

class EveryEffect : public ::testing::Test {
 protected:
  AudioEffectsNodeFactory factory;

  std::unique_ptr<Node> create(const std::string& type) { return factory.createNode(type); }
};

TEST_F(EveryEffect, IsDescribedUnderItsTypeAndItsNodesTypeName) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> expected = {
      {"Delay", {"enabled", "dry-mix", "wet-mix", "delay", "feedback"}},
      {"PingPongDelay", {"enabled", "dry-mix", "wet-mix", "delay", "feedback"}},
      {"Vibrato", {"enabled", "sweep-width", "frequency"}},
      {"Flanger", {"enabled", "sweep-width", "frequency"}},
      {"Chorus", {"enabled", "sweep-width", "frequency"}},
  };
  ASSERT_EQ(factory.getNodeTypes().size(), expected.size());
  for (const auto& [type, ids] : expected) {
    SCOPED_TRACE(type);
    const EffectSettings* effect = EffectSettings::forType(type);
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(effect->type(), type);
    EXPECT_EQ(idsOf(*effect), ids);
    const std::unique_ptr<Node> node = create(type);
    EXPECT_EQ(effect->nodeTypeName(), node->getTypeName());
    EXPECT_EQ(EffectSettings::forType(node->getTypeName()), effect);
    for (std::size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(effect->indexOf(ids[i]), i);
    EXPECT_FALSE(effect->indexOf("Delay").has_value());
    // The bypass is the first setting, and the only one.
    EXPECT_TRUE(effect->settings()[0].isBypass);
    EXPECT_EQ(effect->settings()[0].kind, SettingKind::Toggle);
    for (std::size_t i = 1; i < ids.size(); ++i) EXPECT_FALSE(effect->settings()[i].isBypass);
  }
  EXPECT_EQ(EffectSettings::forType("OrvaneFlangerNode"), EffectSettings::forType("Flanger"));
  EXPECT_EQ(EffectSettings::forType("FlangerNode"), nullptr);
  EXPECT_EQ(EffectSettings::forType("delay"), nullptr);
  EXPECT_EQ(EffectSettings::forType(""), nullptr);
}

TEST_F(EveryEffect, DescribesWhatAFreshNodeHoldsWithinRangesThatMakeSense) {
  for (const NodeTypeInfo& info : factory.getNodeTypes()) {
    const EffectSettings& effect = *EffectSettings::forType(info.type);
    const std::unique_ptr<Node> node = create(info.type);
    for (std::size_t i = 0; i < effect.settings().size(); ++i) {
      const SettingInfo& s = effect.settings()[i];
      SCOPED_TRACE(info.type + " " + s.id);
      EXPECT_EQ(effect.get(*node, i), s.defaultValue);
      EXPECT_LT(s.minimum, s.maximum);
      EXPECT_GE(s.defaultValue, s.minimum);
      EXPECT_LE(s.defaultValue, s.maximum);
      EXPECT_FALSE(s.name.empty());
      EXPECT_EQ(s.description.back(), '.');
      if (s.kind == SettingKind::Toggle) {
        EXPECT_EQ(s.minimum, 0.0);
        EXPECT_EQ(s.maximum, 1.0);
        EXPECT_TRUE(s.unit.empty());
      }
      if (s.kind == SettingKind::Integer) {
        EXPECT_EQ(s.minimum, std::floor(s.minimum));
      }
    }
  }
}

TEST_F(EveryEffect, PingPongDelayRangesAreItsParametersBounds) {
  const EffectSettings& effect = *EffectSettings::forType("PingPongDelay");
  const std::unique_ptr<Node> node = create("PingPongDelay");
  const auto& parameters = dynamic_cast<AudioNode&>(*node).getParameters();
  ASSERT_EQ(parameters.size(), effect.settings().size());
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    const SettingInfo& s = effect.settings()[i];
    SCOPED_TRACE(s.id);
    EXPECT_EQ(parameters[i]->getId(), s.id);
    if (const auto* f = dynamic_cast<const FloatStoredParameter*>(parameters[i].get())) {
      EXPECT_EQ(static_cast<double>(f->getMinimum()), s.minimum);
      EXPECT_EQ(static_cast<double>(f->getMaximum()), s.maximum);
      EXPECT_TRUE(s.clamps);
    } else if (const auto* u = dynamic_cast<const UIntStoredParameter*>(parameters[i].get())) {
      EXPECT_EQ(static_cast<double>(u->getMinimum()), s.minimum);
      EXPECT_EQ(static_cast<double>(u->getMaximum()), s.maximum);
      EXPECT_EQ(s.kind, SettingKind::Integer);
    }
  }
}

// Values across each range, ends included, read back as the node's type holds them; outside
// the range they reach the node unchanged, except where the node clamps.
TEST_F(EveryEffect, SetThenGetGivesTheValueBack) {
  for (const NodeTypeInfo& info : factory.getNodeTypes()) {
    const EffectSettings& effect = *EffectSettings::forType(info.type);
    const std::unique_ptr<Node> node = create(info.type);
    for (std::size_t i = 0; i < effect.settings().size(); ++i) {
      const SettingInfo& s = effect.settings()[i];
      SCOPED_TRACE(info.type + " " + s.id);
      for (double fraction : {0.0, 0.3, 0.77, 1.0}) {
        double value = s.minimum + fraction * (s.maximum - s.minimum);
        if (s.kind != SettingKind::Number) value = std::round(value);
        effect.set(*node, i, value);
        EXPECT_EQ(effect.get(*node, i), static_cast<double>(static_cast<float>(value)));
      }
      if (s.kind == SettingKind::Toggle) continue;
      const double above = s.maximum + 8.0;
      effect.set(*node, i, above);
      EXPECT_EQ(effect.get(*node, i), s.clamps ? s.maximum : static_cast<float>(above));
      if (s.kind == SettingKind::Number) {
        const double below = s.minimum - 0.5;
        effect.set(*node, i, below);
        EXPECT_EQ(effect.get(*node, i), s.clamps ? s.minimum : below);
      }
    }
  }
}

TEST(SettingValues, ReachTheNodeAsItsAccessorsTakeThem) {
  DelayNode delay(2);
  const EffectSettings& effect = *EffectSettings::forType("Delay");
  const std::size_t enabled = *effect.indexOf("enabled");
  const std::size_t ms = *effect.indexOf("delay");
  const std::size_t feedback = *effect.indexOf("feedback");

  effect.set(delay, enabled, 0.0);
  EXPECT_FALSE(delay.getIsEnabled());
  effect.set(delay, enabled, 0.25);  // a host's continuous control above 0 is on
  EXPECT_TRUE(delay.getIsEnabled());
  effect.set(delay, enabled, -1.0);
  EXPECT_FALSE(delay.getIsEnabled());
  effect.set(delay, enabled, std::nan(""));
  EXPECT_FALSE(delay.getIsEnabled()) << "NaN leaves a switch as it was";

  effect.set(delay, ms, 349.6);
  EXPECT_EQ(delay.getDelayMs(), 350u) << "whole numbers round to the nearest";
  effect.set(delay, ms, std::nan(""));
  EXPECT_EQ(delay.getDelayMs(), 350u) << "NaN leaves a whole number as it was";
  effect.set(delay, ms, -20.0);
  EXPECT_EQ(delay.getDelayMs(), 0u);
  effect.set(delay, ms, 1e300);
  EXPECT_EQ(delay.getDelayMs(), 4294967295u);

  effect.set(delay, feedback, 1e300);
  EXPECT_EQ(delay.getFeedbackLevel(), std::numeric_limits<float>::infinity());
  effect.set(delay, feedback, -1e39);
  EXPECT_EQ(delay.getFeedbackLevel(), -std::numeric_limits<float>::infinity());
  effect.set(delay, feedback, 0.1);
  EXPECT_EQ(delay.getFeedbackLevel(), 0.1f);
  effect.set(delay, feedback, std::nan(""));
  EXPECT_TRUE(std::isnan(delay.getFeedbackLevel()));
}

TEST(SettingValues, MistakesOfTheCallerAreRefusedNotUndefined) {
  ChorusNode chorus(2);
  const EffectSettings& delay = *EffectSettings::forType("Delay");
  EXPECT_THROW(delay.get(chorus, 0), std::bad_cast);
  EXPECT_THROW(delay.set(chorus, 1, 0.5), std::bad_cast);
  const EffectSettings& effect = *EffectSettings::forType("Chorus");
  EXPECT_THROW(effect.get(chorus, 3), std::out_of_range);
  EXPECT_THROW(effect.set(chorus, 99, 1.0), std::out_of_range);
  EXPECT_THROW(effect.cautions(*std::make_unique<DelayNode>(1), 48000), std::bad_cast);
}

// Non-default values through EffectSettings on one node and through the typed accessors on
// another: the same samples, bit for bit.
TEST_F(EveryEffect, SettingsGiveTheSameOutputAsTheTypedAccessors) {
  struct Case {
    std::string type;
    std::vector<std::pair<std::string, double>> values;
    void (*typed)(Node&);
  };
  const std::vector<Case> cases = {
      {"Delay",
       {{"dry-mix", 0.5}, {"wet-mix", 0.6}, {"delay", 350}, {"feedback", 0.4}},
       [](Node& n) {
         auto& d = dynamic_cast<DelayNode&>(n);
         d.setDryMix(0.5f), d.setWetMix(0.6f), d.setDelayMs(350), d.setFeedbackLevel(0.4f);
       }},
      {"PingPongDelay",
       {{"dry-mix", 0.9}, {"wet-mix", 0.45}, {"delay", 7}, {"feedback", 0.7}},
       [](Node& n) {
         auto& d = dynamic_cast<PingPongDelayNode&>(n);
         d.setDryMix(0.9f), d.setWetMix(0.45f), d.setDelayMs(7), d.setFeedbackLevel(0.7f);
       }},
      {"Flanger",
       {{"sweep-width", 0.002}, {"frequency", 1.5}},
       [](Node& n) {
         auto& f = dynamic_cast<FlangerNode&>(n);
         f.setSweepWidth(0.002f), f.setFrequency(1.5f);
       }},
      {"Chorus",
       {{"sweep-width", 0.04}, {"frequency", 3.0}},
       [](Node& n) {
         auto& c = dynamic_cast<ChorusNode&>(n);
         c.setSweepWidth(0.04f), c.setFrequency(3.0f);
       }},
      {"Vibrato",
       {{"sweep-width", 0.003}, {"frequency", 7.25}},
       [](Node& n) {
         auto& v = dynamic_cast<VibratoNode&>(n);
         v.setSweepWidth(0.003f), v.setFrequency(7.25f);
       }},
  };
  const Signal input = orvane::testing::noise(2, 20000, 7);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    const EffectSettings& effect = *EffectSettings::forType(c.type);
    const std::unique_ptr<Node> viaSettings = create(c.type);
    const std::unique_ptr<Node> viaAccessors = create(c.type);
    for (const auto& [id, value] : c.values) effect.set(*viaSettings, *effect.indexOf(id), value);
    c.typed(*viaAccessors);
    for (std::size_t i = 0; i < effect.settings().size(); ++i) {
      EXPECT_EQ(effect.get(*viaSettings, i), effect.get(*viaAccessors, i));
    }
    auto& a = dynamic_cast<SingleBusAudioProcessorNode&>(*viaSettings);
    auto& b = dynamic_cast<SingleBusAudioProcessorNode&>(*viaAccessors);
    const Signal outA = orvane::testing::render(a, input, 48000, 512);
    const Signal outB = orvane::testing::render(b, input, 48000, 512);
    EXPECT_EQ(outA, outB);
    EXPECT_NE(outA, input) << "the settings must change the sound";
  }
}

TEST_F(EveryEffect, HasNoCautionAnywhereInItsRangeAtUsualRates) {
  for (const NodeTypeInfo& info : factory.getNodeTypes()) {
    const EffectSettings& effect = *EffectSettings::forType(info.type);
    const std::unique_ptr<Node> node = create(info.type);
    for (unsigned int rate : {44100u, 48000u, 96000u}) {
      EXPECT_EQ(joined(effect.cautions(*node, rate)), "") << info.type << " defaults at " << rate;
    }
    // Every end of every range at once, and each on its own, at the rates the ranges promise.
    for (double end : {0.0, 1.0}) {
      for (std::size_t i = 0; i < effect.settings().size(); ++i) {
        const SettingInfo& s = effect.settings()[i];
        effect.set(*node, i, s.minimum + end * (s.maximum - s.minimum));
        for (unsigned int rate : {44100u, 48000u}) {
          EXPECT_EQ(joined(effect.cautions(*node, rate)), "")
              << info.type << " " << s.id << " at " << rate;
        }
      }
    }
  }
}

TEST(Cautions, DelayLongerThanItsLineSaysWhereTheEchoesFall) {
  DelayNode delay(2);
  const EffectSettings& effect = *EffectSettings::forType("Delay");
  delay.setDelayMs(1500);
  EXPECT_TRUE(contains(effect.cautions(delay, 48000),
                       "a delay of 1500 ms is 72000 samples at 48000 Hz"));
  EXPECT_TRUE(contains(effect.cautions(delay, 48000), "every 24000 samples (500 ms)"));
  // The default 200 ms is 57600 samples at 288 kHz: say so rather than hide it.
  delay.setDelayMs(200);
  EXPECT_TRUE(contains(effect.cautions(delay, 288000), "every 9600 samples"));
  // Saturated at 2^32 − 1 samples: the echo falls at (2^32 − 1) mod 48000 = 23295.
  delay.setDelayMs(4294967295u);
  EXPECT_TRUE(contains(effect.cautions(delay, 48000), "held as 4294967295"));
  EXPECT_TRUE(contains(effect.cautions(delay, 48000), "every 23295 samples"));
  // Less than one sample: the read meets the write, a whole line earlier.
  delay.setDelayMs(1);
  EXPECT_TRUE(contains(effect.cautions(delay, 999), "every 48000 samples"));
  delay.setDelayMs(0);  // a pass-through, as asked
  EXPECT_EQ(joined(effect.cautions(delay, 999)), "");
}

TEST(Cautions, DelayFeedbackThatNeverDecays) {
  DelayNode delay(2);
  const EffectSettings& effect = *EffectSettings::forType("Delay");
  for (float feedback : {1.0f, 1.5f, -1.0f, -2.0f}) {
    delay.setFeedbackLevel(feedback);
    EXPECT_TRUE(contains(effect.cautions(delay, 48000), "never decay")) << feedback;
  }
  delay.setFeedbackLevel(-0.99f);
  EXPECT_EQ(joined(effect.cautions(delay, 48000)), "");
}

TEST(Cautions, PingPongDelayThatIsCut) {
  PingPongDelayNode node;
  const EffectSettings& effect = *EffectSettings::forType("PingPongDelay");
  node.setDelayMs(1000);
  EXPECT_TRUE(contains(effect.cautions(node, 96000),
                       "cut to the 48000 samples the delay lines hold (500 ms)"));
  node.setDelayMs(1);
  EXPECT_TRUE(contains(effect.cautions(node, 500), "less than one sample"));
}

TEST(Cautions, SweepsBeyondOrBehindTheRing) {
  for (const char* type : {"Chorus", "Flanger", "Vibrato"}) {
    SCOPED_TRACE(type);
    AudioEffectsNodeFactory factory;
    const std::unique_ptr<Node> node = factory.createNode(type);
    const EffectSettings& effect = *EffectSettings::forType(type);
    const std::size_t sweep = *effect.indexOf("sweep-width");
    effect.set(*node, sweep, 2.0);
    EXPECT_TRUE(contains(effect.cautions(*node, 48000), "96000 samples at 48000 Hz"));
    effect.set(*node, sweep, -0.001);
    EXPECT_TRUE(contains(effect.cautions(*node, 48000), "negative sweep width"));
    effect.set(*node, sweep, 1e38);  // finite, but not as a number of samples
    EXPECT_TRUE(contains(effect.cautions(*node, 48000), "will be silent"));
    effect.set(*node, sweep, std::numeric_limits<double>::infinity());
    EXPECT_TRUE(contains(effect.cautions(*node, 48000), "sweep-width is inf, not a finite"));
    effect.set(*node, sweep, 0.01);
    effect.set(*node, *effect.indexOf("frequency"), std::nan(""));
    EXPECT_TRUE(contains(effect.cautions(*node, 48000), "frequency is nan, not a finite"));
  }
  // The chorus's fixed 1002 samples count too: 0.979 s fits at 48 kHz, 0.98 s does not.
  ChorusNode chorus(2);
  const EffectSettings& effect = *EffectSettings::forType("Chorus");
  chorus.setSweepWidth(0.979f);
  EXPECT_EQ(joined(effect.cautions(chorus, 48000)), "");
  chorus.setSweepWidth(0.98f);
  EXPECT_TRUE(contains(effect.cautions(chorus, 48000), "more than the 48000-sample ring"));
}

}  // namespace
}  // namespace orvane::extensions::audioeffects
