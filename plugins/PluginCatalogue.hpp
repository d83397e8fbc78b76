#pragma once

// The plugins the bundle offers: each effect in the channel layouts a plugin host wires up, and
// the presets that come with them. Settings (ports, ranges, defaults, units) are not listed
// here: they come from the library's EffectSettings.

#include <span>
#include <string>
#include <utility>
#include <vector>

namespace orvane::plugins {

struct PluginVariant {
  const char* label;       // "delay_stereo": the LADSPA label and the end of the LV2 URI
  const char* type;        // the effect's catalogue type: "Delay"
  unsigned int channels;   // 1 (ports in, out) or 2 (in_l, in_r, out_l, out_r)
  const char* lv2Class;    // "DelayPlugin": the LV2 plugin class, in the lv2core namespace
  unsigned long ladspaId;  // the LADSPA unique id
};

// Every URI of the bundle begins with this; a plugin's URI is this plus its label.
inline constexpr const char* kUriBase = "urn:orvane:audioeffects:";
inline constexpr const char* kMaker = "Orvane";
inline constexpr const char* kLicense = "MIT";

inline constexpr std::size_t kPluginVariantCount = 9;
std::span<const PluginVariant> pluginVariants();  // kPluginVariantCount of them
const PluginVariant* findVariant(const std::string& label);

struct Preset {
  const char* type;  // the effect it applies to, in every channel layout
  const char* slug;  // "slapback": the end of the preset's URI
  const char* name;  // "Slapback"
  std::vector<std::pair<const char*, double>> values;  // setting id, value
};

const std::vector<Preset>& presets();

// The names hosts show for a plugin ("Orvane Ping Pong Delay (stereo)") and its audio ports.
std::string pluginName(const PluginVariant& variant);
std::vector<std::string> audioInputSymbols(const PluginVariant& variant);
std::vector<std::string> audioOutputSymbols(const PluginVariant& variant);
// A setting id as a port symbol: "dry-mix" → "dry_mix".
std::string portSymbol(const std::string& settingId);

}  // namespace orvane::plugins
