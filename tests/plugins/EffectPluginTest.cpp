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
    for (const auto& s : EffectSettings::forType(variant.type)->settings()) {
      controls.push_back(static_cast<float>(s.defaultValue));
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

// The same block through the library directly, settings given through EffectSettings.
Signal direct(const PluginVariant& variant, const std::vector<float>& controls,
              const Signal& input) {
  extensions::audioeffects::AudioEffectsNodeFactory factory;
  auto node = factory.createNode(variant.type);
  const EffectSettings& effect = *EffectSettings::forType(variant.type);
  for (std::size_t i = 0; i < controls.size(); ++i) effect.set(*node, i, controls[i]);
  auto& processor = dynamic_cast<SingleBusAudioProcessorNode&>(*node);
  return orvane::testing::render(processor, input, 48000, orvane::testing::framesOf(input));
}

TEST(EffectPlugin, RunsWithoutAllocatingInPlaceOrNotAndMatchesTheLibrary) {
  constexpr unsigned int kFrames = 3000;
  for (const PluginVariant& variant : pluginVariants()) {
    SCOPED_TRACE(variant.label);
    EXPECT_EQ(EffectPlugin::portCount(variant),
              EffectSettings::forType(variant.type)->settings().size() + 2 * variant.channels);
    for (const bool inPlace : {false, true}) {
      Ports ports(variant, kFrames);
      const Signal original = ports.input;
      EffectPlugin plugin(variant, 48000.0);
      ports.connect(plugin, inPlace);
      plugin.activate();
      // Every control away from its default, as a host would set them before the first run.
      for (std::size_t i = 1; i < ports.controls.size(); ++i) ports.controls[i] *= 0.5f;

      const auto before = allocationCounts();
      plugin.run(0);
      plugin.run(kFrames);
      const auto after = allocationCounts();
      EXPECT_EQ(after.allocations, before.allocations);
      EXPECT_EQ(after.deallocations, before.deallocations);

      const Signal& result = inPlace ? ports.input : ports.output;
      EXPECT_EQ(result, direct(variant, ports.controls, original)) << "in place: " << inPlace;
    }
  }
}

TEST(EffectPlugin, AppliesControlChangesAtTheNextRunAndStartsAfreshOnActivate) {
  const PluginVariant& delay = *findVariant("delay_mono");
  Ports ports(delay, 960);
  ports.input[0].assign(960, 0.0f);
  ports.input[0][0] = 1.0f;
  EffectPlugin plugin(delay, 48000.0);
  ports.connect(plugin, false);
  plugin.activate();
  ports.controls[3] = 10.0f;  // delay, ms: 480 frames
  plugin.run(960);
  EXPECT_EQ(ports.output[0][480], 0.3f);
  ports.controls[2] = 0.0f;  // wet mix: the second echo, due at 960, is silent
  ports.input[0][0] = 0.0f;
  plugin.run(960);
  EXPECT_EQ(ports.output[0][0], 0.0f);
  // activate() forgets the echoes still in the delay line.
  ports.controls[2] = 1.0f;
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
    const EffectSettings& effect = *variant.effect;
    for (std::size_t i = 1; i < effect.settings().size(); ++i) {
      const auto& s = effect.settings()[i];
      for (const float beyond : {static_cast<float>(s.maximum) * 100.0f + 5.0f, -1e30f, kNaN}) {
        Ports ports(variant, kFrames);
        const Signal original = ports.input;
        EffectPlugin plugin(variant, 48000.0);
        ports.connect(plugin, false);
        plugin.activate();
        ports.controls[i] = beyond;
        plugin.run(kFrames);
        std::vector<float> expected = ports.controls;
        expected[i] = std::isnan(beyond) ? static_cast<float>(s.defaultValue)
                      : beyond > 0.0f   ? static_cast<float>(s.maximum)
                                        : static_cast<float>(s.minimum);
        EXPECT_EQ(ports.output, direct(variant, expected, original)) << s.id << " = " << beyond;
      }
    }
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
