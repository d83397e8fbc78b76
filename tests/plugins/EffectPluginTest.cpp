// A plugin instance as LV2 and LADSPA hosts drive it, without a host: no allocation in run(),
// in-place buffers, controls that change between runs, and blocks of any length.
#include <gtest/gtest.h>

#include <orvane/audioeffects/AudioEffects.hpp>
#include <cmath>
#include <limits>
#include <vector>

#include "CountingAllocator.hpp"
#include "EffectPlugin.hpp"
#include "TestSignals.hpp"

namespace orvane::plugins {
namespace {

using extensions::audioeffects::EffectSettings;
using orvane::testing::allocationCounts;
using orvane::testing::Signal;

// Ports laid out as a host would: one float per control, one array per audio channel.
struct Ports {
  std::vector<float> controls;
  Signal input;
  Signal output;

  Ports(const PluginVariant& variant, unsigned int frames)
      : input(orvane::testing::noise(variant.channels, frames, 3)),
        output(variant.channels, std::vector<float>(frames, 0.0f)) {
    for (const PluginControl& c : variant.controls) {
      controls.push_back(static_cast<float>(c.defaultValue));
    }
  }

  void connect(EffectPlugin& plugin, bool inPlace) {
    std::uint32_t port = 0;
    for (float& control : controls) plugin.connectPort(port++, &control);
    for (auto& channel : input) plugin.connectPort(port++, channel.data());
    for (std::size_t c = 0; c < output.size(); ++c) {
      plugin.connectPort(port++, inPlace ? input[c].data() : output[c].data());
    }
  }
};

// The same block through the library directly, the controls' values converted to settings as
// the plugin's ports promise (the hosts' tests compare those units with the renderer's) and
// given through EffectSettings.
Signal direct(const PluginVariant& variant, const std::vector<float>& controls,
              const Signal& input) {
  extensions::audioeffects::AudioEffectsNodeFactory factory;
  auto node = factory.createNode(variant.type);
  const EffectSettings& effect = *EffectSettings::forType(variant.type);
  const std::size_t settings = effect.settings().size();
  for (std::size_t i = 0; i < settings; ++i) {
    effect.set(*node, i, variant.controls[i].settingValue(controls[i]));
  }
  auto& processor = dynamic_cast<SingleBusAudioProcessorNode&>(*node);
  Signal output =
      orvane::testing::render(processor, input, 48000, orvane::testing::framesOf(input));
  // The mix and the output level after the node, over the whole signal at once.
  extensions::audioeffects::OutputStage stage;
  stage.mix = static_cast<float>(variant.controls[settings].settingValue(controls[settings]));
  stage.levelDb = variant.controls[settings + 1].settingValue(controls[settings + 1]);
  for (std::size_t c = 0; c < output.size(); ++c) {
    stage.apply(input[c].data(), output[c].data(), output[c].size());
  }
  return output;
}

TEST(EffectPlugin, RunsWithoutAllocatingInPlaceOrNotAndMatchesTheLibrary) {
  constexpr unsigned int kFrames = 3000;
  for (const PluginVariant& variant : pluginVariants()) {
    SCOPED_TRACE(variant.label);
    EXPECT_EQ(EffectPlugin::portCount(variant),
              EffectSettings::forType(variant.type)->settings().size() + 2 + 2 * variant.channels);
    for (const bool inPlace : {false, true}) {
      Ports ports(variant, kFrames);
      const Signal original = ports.input;
      EffectPlugin plugin(variant, 48000.0);
      ports.connect(plugin, inPlace);
      plugin.activate();
      // Every control away from its default, as a host would set them before the first run.
      for (std::size_t i = 1; i < ports.controls.size(); ++i) ports.controls[i] *= 0.5f;
      ports.controls.back() = -6.0f;  // the output level, in dB, whose default is 0

      const auto before = allocationCounts();
      plugin.run(0);
      plugin.run(kFrames);
      const auto after = allocationCounts();
      EXPECT_EQ(after.allocations, before.allocations);
      EXPECT_EQ(after.deallocations, before.deallocations);

      const Signal& result = inPlace ? ports.input : ports.output;
      EXPECT_EQ(result, direct(variant, ports.controls, original)) << "in place: " << inPlace;

      // A host's tempo and transport, synced or not, allocate nothing either.
      float sync = 1.0f, note = 3.0f;
      plugin.connectTempo(&sync, &note);
      const auto beforeTime = allocationCounts();
      plugin.setTransport({120.0, 96000, true});
      plugin.run(kFrames);
      plugin.setTransport({90.0, 0, true});
      plugin.run(kFrames);
      const auto afterTime = allocationCounts();
      EXPECT_EQ(afterTime.allocations, beforeTime.allocations);
      EXPECT_EQ(afterTime.deallocations, beforeTime.deallocations);
    }
  }
}

// The first run takes its controls at once; a later change glides there over 20 ms (960
// frames at 48 kHz), set every 32 frames, so the echoes during the glide are scaled by the wet
// mix the ramp has reached, and the ones after it by the new value.
TEST(EffectPlugin, GlidesToAChangedControlAndStartsAfreshOnActivate) {
  const PluginVariant& delay = *findVariant("delay_mono");
  const auto echoes = [&](bool change) {
    Ports ports(delay, 960);
    ports.input[0].assign(960, 0.0f);
    ports.input[0][0] = 1.0f;
    EffectPlugin plugin(delay, 48000.0);
    ports.connect(plugin, false);
    plugin.activate();
    ports.controls[3] = 10.0f;  // delay, ms: 480 frames
    plugin.run(960);
    Signal heard = ports.output;
    if (change) ports.controls[2] = 0.0f;  // wet mix, from 0.3
    ports.input[0][0] = 0.0f;
    for (int run = 0; run < 2; ++run) {
      plugin.run(960);
      heard[0].insert(heard[0].end(), ports.output[0].begin(), ports.output[0].end());
    }
    return heard[0];
  };
  const std::vector<float> steady = echoes(false), glided = echoes(true);
  EXPECT_EQ(steady[480], 0.3f);
  EXPECT_EQ(glided[960], steady[960]) << "the glide starts from the old value";
  EXPECT_EQ(glided[1440], steady[1440] / 2) << "half-way: the wet mix is 0.15 of 0.3";
  EXPECT_EQ(glided[1920], 0.0f) << "the glide has ended: silent";
  EXPECT_NE(steady[1920], 0.0f);

  // activate() forgets the echoes still in the delay line; a glide allocates nothing.
  Ports ports(delay, 960);
  EffectPlugin plugin(delay, 48000.0);
  ports.connect(plugin, false);
  plugin.activate();
  plugin.run(960);
  ports.controls[4] = 0.5f;  // feedback
  const auto before = allocationCounts();
  plugin.run(960);
  const auto after = allocationCounts();
  EXPECT_EQ(after.allocations, before.allocations);
  ports.input[0].assign(960, 0.0f);
  plugin.activate();
  plugin.run(960);
  for (float sample : ports.output[0]) ASSERT_EQ(sample, 0.0f);
}

TEST(EffectPlugin, KeepsEveryControlWithinItsDeclaredRange) {
  // A host that does not clamp sends values far outside (or not numbers): the plugin gives the
  // node the nearer bound, so the output is what the bound gives, and NaN changes nothing.
  constexpr unsigned int kFrames = 6000;
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  for (const PluginVariant& variant : pluginVariants()) {
    SCOPED_TRACE(variant.label);
    for (std::size_t i = 1; i < variant.controls.size(); ++i) {
      const PluginControl& c = variant.controls[i];
      for (const float beyond : {static_cast<float>(c.maximum) * 100.0f + 5.0f, -1e30f, kNaN}) {
        Ports ports(variant, kFrames);
        const Signal original = ports.input;
        EffectPlugin plugin(variant, 48000.0);
        ports.connect(plugin, false);
        plugin.activate();
        ports.controls[i] = beyond;
        plugin.run(kFrames);
        std::vector<float> expected = ports.controls;
        expected[i] = std::isnan(beyond) ? static_cast<float>(c.defaultValue)
                      : beyond > 0.0f   ? static_cast<float>(c.maximum)
                                        : static_cast<float>(c.minimum);
        EXPECT_EQ(ports.output, direct(variant, expected, original))
            << c.info->id << " = " << beyond;
      }
    }
  }
}

// A plugin's face: rates on a logarithmic scale from a slow positive rate chosen so that one of
// LADSPA's logarithmic default points is the default; every other range converts to exactly the
// setting's range, so the plugin loses no value the library offers.
TEST(PluginControls, RatesAreLogarithmicWithAStatableDefaultAndOtherRangesLoseNothing) {
  for (const PluginVariant& variant : pluginVariants()) {
    for (const PluginControl& c : variant.controls) {
      SCOPED_TRACE(variant.label + " " + c.info->id);
      EXPECT_LE(c.minimum, c.defaultValue);
      EXPECT_LE(c.defaultValue, c.maximum);
      EXPECT_DOUBLE_EQ(c.settingValue(c.defaultValue), c.info->defaultValue);
      if (c.unit == "Hz") {
        EXPECT_TRUE(c.logarithmic);
        EXPECT_GT(c.minimum, 0.0);
        EXPECT_LE(c.minimum, 0.05);
        bool lands = false;
        for (const double t : {0.25, 0.5, 0.75}) {
          const double point = std::exp((1 - t) * std::log(c.minimum) + t * std::log(c.maximum));
          lands = lands || std::abs(point - c.defaultValue) < 1e-9 * c.defaultValue;
        }
        EXPECT_TRUE(lands);
      } else {
        EXPECT_FALSE(c.logarithmic);
        EXPECT_EQ(c.settingValue(c.minimum), c.info->minimum);
        EXPECT_EQ(c.settingValue(c.maximum), c.info->maximum);
      }
      EXPECT_NE(c.unit, "s") << "time controls read in milliseconds";
    }
  }
}

// The host's bypass gives the input itself: the mix and the output level are the effect's, and
// go with it.
TEST(EffectPlugin, ABypassedPluginGivesItsInputWhateverItsMixAndLevel) {
  for (const PluginVariant& variant : pluginVariants()) {
    SCOPED_TRACE(variant.label);
    Ports ports(variant, 1500);
    EffectPlugin plugin(variant, 48000.0);
    ports.connect(plugin, false);
    plugin.activate();
    ports.controls[0] = 0.0f;  // enabled
    ports.controls[ports.controls.size() - 2] = 0.5f;
    ports.controls.back() = -12.0f;
    plugin.run(1500);
    EXPECT_EQ(ports.output, ports.input);
  }
}

TEST(EffectPlugin, PassesTheInputThroughBeforeActivationAndRefusesABadRate) {
  const PluginVariant& chorus = *findVariant("chorus_stereo");
  Ports ports(chorus, 64);
  EffectPlugin plugin(chorus, 44100.0);
  ports.connect(plugin, false);
  plugin.run(64);
  EXPECT_EQ(ports.output, ports.input);
  EXPECT_THROW(EffectPlugin(chorus, 0.0), std::invalid_argument);
  EXPECT_THROW(EffectPlugin(chorus, -48000.0), std::invalid_argument);
  EXPECT_THROW(EffectPlugin(chorus, 1e300), std::invalid_argument);
}

}  // namespace
}  // namespace orvane::plugins
