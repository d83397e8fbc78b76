#include "PluginCatalogue.hpp"

#include <algorithm>
#include <array>
#include <orvane/audioeffects/AudioEffects.hpp>

namespace orvane::plugins {

namespace {

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
                          effect.pluginId() + (channels == kStereo ? 0 : 1), &effect});
    }
  }
  return variants;
}

}  // namespace

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
