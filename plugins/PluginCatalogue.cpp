#include "PluginCatalogue.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <orvane/audioeffects/AudioEffects.hpp>

namespace orvane::plugins {

namespace {

using extensions::audioeffects::SettingInfo;
using extensions::audioeffects::SettingKind;

// Sweep widths are seconds in the library, and milliseconds on a plugin's face, as every other
// delay-based control there reads; the renderer's "10ms" multiplies by the same factor, so that
// a plugin set to 10 ms gives the renderer's samples for sweep-width=10ms.
constexpr double kMillisecond = 0.001;
// The setting a host's tempo sets where the sync switch is on: the echo delays' time.
constexpr const char* kSyncedSettingId = "delay";

// A rate is offered on a logarithmic scale, which cannot start at 0 Hz, and LADSPA can state a
// default only as one of a few points of a range (for a logarithmic one, the points a quarter,
// half and three quarters of the way between the logarithms of its ends). So a rate range that
// starts at 0 starts instead at the slowest rate that puts one of those points on the default,
// choosing the largest that is not above this: one sweep in 20 s is as slow as anyone listens.
constexpr double kSlowestRate = 0.05;  // Hz

double slowestRate(const SettingInfo& s) {
  if (s.minimum > 0.0 || !(s.defaultValue > 0.0) || !(s.maximum > s.defaultValue)) {
    return s.minimum;
  }
  // The point at fraction t of the way is lo^(1-t) * hi^t; it lands on d for
  // lo = (d / hi^t)^(1 / (1-t)).
  double best = 0.0;
  for (const double t : {0.25, 0.5, 0.75}) {
    const double lo = std::pow(s.defaultValue / std::pow(s.maximum, t), 1.0 / (1.0 - t));
    if (lo <= kSlowestRate && lo > best) best = lo;
  }
  return best > 0.0 ? best : kSlowestRate;
}

PluginControl controlOf(const SettingInfo& s, std::size_t index) {
  PluginControl c{index, &s, s.unit, 1.0, s.minimum, s.maximum, s.defaultValue, false};
  if (s.unit == "s") {
    c.unit = "ms";
    c.toSetting = kMillisecond;
    c.minimum = s.minimum / kMillisecond;
    c.maximum = s.maximum / kMillisecond;
    c.defaultValue = s.defaultValue / kMillisecond;
  } else if (s.unit == "Hz") {
    c.logarithmic = true;
    c.minimum = slowestRate(s);
  }
  return c;
}

// Every plugin ends with the mix and the output level the other front ends offer around an
// effect (mix=, level= in the renderer, mix= and level_db= in Python), as two more controls.
const SettingInfo kMix{"mix", "Mix",
                       "How much of the effect's output is heard against its input: 0 is the "
                       "input alone, 1 (the default) the effect alone.",
                       "", SettingKind::Number, 1.0, 0.0, 1.0};
const SettingInfo kLevel{"level", "Output Level",
                         "The gain of the output after the mix, in decibels.", "dB",
                         SettingKind::Number, 0.0,
                         extensions::audioeffects::OutputStage::kLowestLevelDb,
                         extensions::audioeffects::OutputStage::kHighestLevelDb};

std::vector<PluginVariant> buildVariants() {
  using extensions::audioeffects::EffectSettings;
  constexpr unsigned int kStereo = 2;
  constexpr unsigned int kMono = 1;
  std::vector<PluginVariant> variants;
  for (const EffectSettings& effect : EffectSettings::all()) {
    const std::string lv2Class = effect.category() + "Plugin";
    // The stereo plugin takes the effect's number and the mono one the next, for good.
    for (const unsigned int channels : {kStereo, kMono}) {
      if (channels < effect.minimumChannels() || channels > effect.maximumChannels()) continue;
      variants.push_back({effect.slug() + (channels == kStereo ? "_stereo" : "_mono"),
                          effect.type(), channels, lv2Class,
                          effect.pluginId() + (channels == kStereo ? 0 : 1), &effect,
                          pluginControls(effect), effect.indexOf(kSyncedSettingId)});
    }
  }
  return variants;
}

}  // namespace

Lv2Ports PluginVariant::lv2Ports() const noexcept {
  const auto first = static_cast<std::uint32_t>(controls.size() + 2 * channels);
  if (syncedSetting) return {first, first + 1, first + 2, first + 3};
  return {first, first, first, first + 1};
}

double PluginControl::settingValue(double portValue) const noexcept {
  const double value = std::clamp(portValue, minimum, maximum) * toSetting;
  return std::clamp(value, info->minimum, info->maximum);
}

double PluginControl::portValue(double settingValue) const noexcept {
  return settingValue / toSetting;
}

std::vector<PluginControl> pluginControls(
    const extensions::audioeffects::EffectSettings& effect) {
  std::vector<PluginControl> controls;
  for (std::size_t i = 0; i < effect.settings().size(); ++i) {
    controls.push_back(controlOf(effect.settings()[i], i));
  }
  controls.push_back(controlOf(kMix, controls.size()));
  controls.push_back(controlOf(kLevel, controls.size()));
  return controls;
}

std::span<const PluginVariant> pluginVariants() {
  static const std::vector<PluginVariant> variants = buildVariants();
  return variants;
}

const PluginVariant* findVariant(const std::string& label) {
  const auto variants = pluginVariants();
  const auto it = std::find_if(variants.begin(), variants.end(),
                               [&](const PluginVariant& v) { return label == v.label; });
  return it == variants.end() ? nullptr : &*it;
}

std::string pluginName(const PluginVariant& variant, const std::string& format) {
  return std::string(kMaker) + " " + variant.effect->displayName() + " (" +
         (variant.channels == 2 ? "stereo" : "mono") + (format.empty() ? "" : ", " + format) + ")";
}
std::vector<std::string> audioInputSymbols(const PluginVariant& variant) {
  if (variant.channels == 1) return {"in"};
  return {"in_l", "in_r"};
}

std::vector<std::string> audioOutputSymbols(const PluginVariant& variant) {
  if (variant.channels == 1) return {"out"};
  return {"out_l", "out_r"};
}

std::string portSymbol(const std::string& settingId) {
  std::string symbol = settingId;
  std::replace(symbol.begin(), symbol.end(), '-', '_');
  return symbol;
}

}  // namespace orvane::plugins
