#pragma once

// The plugins the bundle offers: each effect in the channel layouts a plugin host wires up, and
// the presets that come with them, all made from the library's list of effects (EffectSettings).

#include <orvane/audioeffects/EffectSettings.hpp>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace orvane::plugins {

// A control port as plugin hosts see it: one setting of the effect, in the unit a musician reads
// on a plugin's face, within the range the plugin promises its host. The library's settings
// stay as they are; a plugin converts on its way in.
struct PluginControl {
  // The index of the setting among the effect's settings; the two controls after them, the
  // mix and the output level, set the plugin's OutputStage.
  std::size_t setting;
  const extensions::audioeffects::SettingInfo* info;
  std::string unit;     // "ms", "Hz" or empty (levels and switches)
  double toSetting;     // the setting's value is the port's value times this
  double minimum;       // the port's range and default, in the port's unit
  double maximum;
  double defaultValue;
  bool logarithmic;     // a rate: hosts should offer it on a logarithmic scale

  // The setting's value for a port value: kept within the port's range, converted, and then
  // kept within the setting's range, so that no rounding of the conversion steps outside it.
  double settingValue(double portValue) const noexcept;
  // The port's value for a setting's value (presets, defaults).
  double portValue(double settingValue) const noexcept;
};

// The note values a tempo-synced delay offers, in the order of its "note" control's steps, and
// the step it starts at (a dotted eighth).
inline constexpr std::array<const char*, 13> kNoteValues = {
    "1/1", "1/2", "1/2.", "1/4", "1/4.", "1/4t", "1/8", "1/8.", "1/8t", "1/16", "1/16.", "1/16t",
    "1/32"};
inline constexpr std::size_t kDefaultNoteValue = 7;

// LV2 plugins have ports beyond the LADSPA ones (which end with the audio outputs): for an
// effect with a delay time, a "sync" switch and a "note" value, which take the delay from the
// host's tempo; then, for every plugin, a "control" atom input for the host's time:Position.
struct Lv2Ports {
  std::uint32_t sync;     // meaningful only where the variant syncs
  std::uint32_t note;
  std::uint32_t control;  // the atom input
  std::uint32_t count;
};

struct PluginVariant {
  std::string label;            // "delay_stereo": the LADSPA label and the end of the LV2 URI
  std::string type;             // the effect's catalogue type: "Delay"
  unsigned int channels;        // 1 (ports in, out) or 2 (in_l, in_r, out_l, out_r)
  std::string lv2Class;         // "DelayPlugin": the LV2 plugin class, in the lv2core namespace
  unsigned long ladspaId;       // the LADSPA unique id
  const extensions::audioeffects::EffectSettings* effect;  // its settings and presets
  std::vector<PluginControl> controls;  // one per setting, in the effect's order, then
                                        // the mix and the output level
  // The setting a host's tempo may set (the delay time, in whole milliseconds), or none.
  std::optional<std::size_t> syncedSetting;

  Lv2Ports lv2Ports() const noexcept;
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
// The plugin controls of an effect's settings, then its mix and output level
// (pluginVariants() holds them for each plugin).
std::vector<PluginControl> pluginControls(const extensions::audioeffects::EffectSettings& effect);

// A setting id as a port symbol: "dry-mix" → "dry_mix".
std::string portSymbol(const std::string& settingId);

}  // namespace orvane::plugins
