#include "PluginCatalogue.hpp"

#include <algorithm>
#include <array>
#include <orvane/audioeffects/AudioEffects.hpp>

namespace orvane::plugins {

namespace {

// LADSPA ids must be unique among all plugins a host sees; these sit in one block of nine.
constexpr unsigned long kFirstLadspaId = 4871;

constexpr std::array<PluginVariant, kPluginVariantCount> kVariants = {{
    {"delay_stereo", "Delay", 2, "DelayPlugin", kFirstLadspaId + 0},
    {"delay_mono", "Delay", 1, "DelayPlugin", kFirstLadspaId + 1},
    {"pingpong_stereo", "PingPongDelay", 2, "DelayPlugin", kFirstLadspaId + 2},
    {"chorus_stereo", "Chorus", 2, "ChorusPlugin", kFirstLadspaId + 3},
    {"chorus_mono", "Chorus", 1, "ChorusPlugin", kFirstLadspaId + 4},
    {"flanger_stereo", "Flanger", 2, "FlangerPlugin", kFirstLadspaId + 5},
    {"flanger_mono", "Flanger", 1, "FlangerPlugin", kFirstLadspaId + 6},
    {"vibrato_stereo", "Vibrato", 2, "ModulatorPlugin", kFirstLadspaId + 7},
    {"vibrato_mono", "Vibrato", 1, "ModulatorPlugin", kFirstLadspaId + 8},
}};

}  // namespace

std::span<const PluginVariant> pluginVariants() { return kVariants; }

const PluginVariant* findVariant(const std::string& label) {
  const auto it = std::find_if(kVariants.begin(), kVariants.end(),
                               [&](const PluginVariant& v) { return label == v.label; });
  return it == kVariants.end() ? nullptr : &*it;
}

const std::vector<Preset>& presets() {
  // Each preset names every setting it changes; the rest keep their defaults.
  static const std::vector<Preset> all = {
      {"Delay", "slapback", "Slapback",
       {{"dry-mix", 0.8}, {"wet-mix", 0.45}, {"delay", 110}, {"feedback", 0.1}}},
      {"Delay", "dotted-eighth-120", "Dotted Eighth at 120 BPM",
       {{"dry-mix", 0.75}, {"wet-mix", 0.35}, {"delay", 375}, {"feedback", 0.35}}},
      {"Delay", "canyon", "Canyon Echo",
       {{"dry-mix", 0.7}, {"wet-mix", 0.4}, {"delay", 900}, {"feedback", 0.55}}},
      {"PingPongDelay", "wide-bounce", "Wide Bounce",
       {{"dry-mix", 0.75}, {"wet-mix", 0.4}, {"delay", 300}, {"feedback", 0.6}}},
      {"PingPongDelay", "quarter-100", "Quarter Note at 100 BPM",
       {{"dry-mix", 0.7}, {"wet-mix", 0.35}, {"delay", 600}, {"feedback", 0.45}}},
      {"Chorus", "subtle", "Subtle Chorus", {{"sweep-width", 0.008}, {"frequency", 0.3}}},
      {"Chorus", "wide", "Wide Chorus", {{"sweep-width", 0.04}, {"frequency", 0.15}}},
      {"Chorus", "warble", "Warble", {{"sweep-width", 0.02}, {"frequency", 2.5}}},
      {"Flanger", "jet", "Jet Flanger", {{"sweep-width", 0.008}, {"frequency", 0.1}}},
      {"Flanger", "metallic", "Metallic Shimmer", {{"sweep-width", 0.0015}, {"frequency", 1.2}}},
      {"Vibrato", "subtle", "Subtle Vibrato", {{"sweep-width", 0.002}, {"frequency", 5.5}}},
      {"Vibrato", "seasick", "Seasick", {{"sweep-width", 0.012}, {"frequency", 1.5}}},
  };
  return all;
}

std::string pluginName(const PluginVariant& variant) {
  std::string displayName = variant.type;
  for (const NodeTypeInfo& info : extensions::audioeffects::AudioEffectsNodeFactory().getNodeTypes()) {
    if (info.type == variant.type) displayName = info.displayName;
  }
  return std::string(kMaker) + " " + displayName + (variant.channels == 2 ? " (stereo)" : " (mono)");
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
