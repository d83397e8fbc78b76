#pragma once

// The plugins the bundle offers: each effect in the channel layouts a plugin host wires up, and
// the presets that come with them, all made from the library's list of effects (EffectSettings).

#include <orvane/audioeffects/EffectSettings.hpp>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace orvane::plugins {

struct PluginVariant {
  std::string label;            // "delay_stereo": the LADSPA label and the end of the LV2 URI
  std::string type;             // the effect's catalogue type: "Delay"
  unsigned int channels;        // 1 (ports in, out) or 2 (in_l, in_r, out_l, out_r)
  std::string lv2Class;         // "DelayPlugin": the LV2 plugin class, in the lv2core namespace
  unsigned long ladspaId;       // the LADSPA unique id
  const extensions::audioeffects::EffectSettings* effect;  // its settings and presets
};

// Every URI of the bundle begins with this; a plugin's URI is this plus its label.
inline constexpr const char* kUriBase = "urn:orvane:audioeffects:";
inline constexpr const char* kMaker = "Orvane";
inline constexpr const char* kLicense = "MIT";

// Every effect of the library, stereo first and then mono where it takes one channel, in the
// library's order. Built on first use; allocates then.
std::span<const PluginVariant> pluginVariants();
const PluginVariant* findVariant(const std::string& label);

using Preset = extensions::audioeffects::EffectPreset;

// The names hosts show for a plugin ("Orvane Ping Pong Delay (stereo)", or with a format named,
// "Orvane Delay (mono, LADSPA)") and its audio ports.
std::string pluginName(const PluginVariant& variant, const std::string& format = "");
std::vector<std::string> audioInputSymbols(const PluginVariant& variant);
std::vector<std::string> audioOutputSymbols(const PluginVariant& variant);
// A setting id as a port symbol: "dry-mix" → "dry_mix".
std::string portSymbol(const std::string& settingId);

}  // namespace orvane::plugins
