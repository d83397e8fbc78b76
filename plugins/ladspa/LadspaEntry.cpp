// The LADSPA entry: the same nine plugins as the LV2 bundle, with the same ranges. LADSPA has
// no presets and no bypass designation (hosts bypass a plugin by not running it), so the
// switch is left out and the controls are the effect's settings from the first one after it,
// in the plugins' units and ranges; a default can be stated only as one of a few points of the
// range: each port gets the point nearest its default. The names say LADSPA, so that hosts that list both formats
// (Audacity) tell them apart.
#include <ladspa.h>

#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "../EffectPlugin.hpp"

namespace {

using orvane::extensions::audioeffects::SettingInfo;
using orvane::extensions::audioeffects::SettingKind;
using orvane::plugins::EffectPlugin;
using orvane::plugins::PluginControl;
using orvane::plugins::PluginVariant;

// An instance: the plugin, and where each LADSPA port goes among its ports.
struct Instance {
  EffectPlugin plugin;
  const std::vector<std::uint32_t>& ports;
};

Instance* instanceOf(LADSPA_Handle handle) { return static_cast<Instance*>(handle); }

LADSPA_Handle instantiate(const LADSPA_Descriptor* descriptor, unsigned long sampleRate);

void connectPort(LADSPA_Handle handle, unsigned long port, LADSPA_Data* data) {
  Instance& instance = *instanceOf(handle);
  if (port < instance.ports.size()) instance.plugin.connectPort(instance.ports[port], data);
}

void activate(LADSPA_Handle handle) {
  try {
    instanceOf(handle)->plugin.activate();
  } catch (...) {
    // Out of memory: run() passes the input through.
  }
}

void run(LADSPA_Handle handle, unsigned long frames) {
  instanceOf(handle)->plugin.run(static_cast<std::uint32_t>(frames));
}

void cleanup(LADSPA_Handle handle) { delete instanceOf(handle); }

// The LADSPA default point nearest to the control's default: the ends, a quarter, half or three
// quarters of the way (between the logarithms of the ends for a logarithmic control), or one of
// the fixed values 0, 1, 100 and 440 where the range holds it. The
// plugin's ranges are chosen so that a rate's point lands on its default (PluginCatalogue);
// the other ranges keep their ends, which matter more than a default a host shows first.
LADSPA_PortRangeHintDescriptor defaultHint(const PluginControl& c) {
  if (c.info->kind == SettingKind::Toggle) {
    return c.defaultValue > 0.0 ? LADSPA_HINT_DEFAULT_1 : LADSPA_HINT_DEFAULT_0;
  }
  const auto between = [&](double t) {
    if (c.logarithmic) return std::exp((1.0 - t) * std::log(c.minimum) + t * std::log(c.maximum));
    return c.minimum + t * (c.maximum - c.minimum);
  };
  // The fixed values come after the range's points, so a default that is both (1 at the top of
  // a mix) is stated as the range's.
  const std::array<std::pair<double, LADSPA_PortRangeHintDescriptor>, 9> points = {{
      {c.minimum, LADSPA_HINT_DEFAULT_MINIMUM},
      {between(0.25), LADSPA_HINT_DEFAULT_LOW},
      {between(0.5), LADSPA_HINT_DEFAULT_MIDDLE},
      {between(0.75), LADSPA_HINT_DEFAULT_HIGH},
      {c.maximum, LADSPA_HINT_DEFAULT_MAXIMUM},
      {0.0, LADSPA_HINT_DEFAULT_0},
      {1.0, LADSPA_HINT_DEFAULT_1},
      {100.0, LADSPA_HINT_DEFAULT_100},
      {440.0, LADSPA_HINT_DEFAULT_440},
  }};
  auto best = points[0];
  for (const auto& point : points) {
    const bool inRange = point.first >= c.minimum && point.first <= c.maximum;
    if (inRange &&
        std::abs(point.first - c.defaultValue) < std::abs(best.first - c.defaultValue)) {
      best = point;
    }
  }
  return best.second;
}

// Descriptors and the strings and arrays they point into, built once and kept for the life of
// the library.
struct Plugin {
  const PluginVariant& variant;
  std::vector<std::uint32_t> ports;  // the plugin port of each LADSPA port
  std::string name;
  std::vector<std::string> portNames;
  std::vector<const char*> portNamePointers;
  std::vector<LADSPA_PortDescriptor> portDescriptors;
  std::vector<LADSPA_PortRangeHint> hints;
  LADSPA_Descriptor descriptor{};

  explicit Plugin(const PluginVariant& of) : variant(of) {
    std::uint32_t port = 0;
    for (const PluginControl& c : variant.controls) {
      const SettingInfo& s = *c.info;
      if (s.isBypass) {
        ++port;  // left unconnected: the effect stays on
        continue;
      }
      ports.push_back(port++);
      portNames.push_back(s.name + (c.unit.empty() ? "" : " (" + c.unit + ")"));
      portDescriptors.push_back(LADSPA_PORT_INPUT | LADSPA_PORT_CONTROL);
      LADSPA_PortRangeHint hint{};
      hint.HintDescriptor = LADSPA_HINT_BOUNDED_BELOW | LADSPA_HINT_BOUNDED_ABOVE | defaultHint(c);
      if (s.kind == SettingKind::Toggle) hint.HintDescriptor = LADSPA_HINT_TOGGLED | defaultHint(c);
      if (s.kind == SettingKind::Integer) hint.HintDescriptor |= LADSPA_HINT_INTEGER;
      if (c.logarithmic) hint.HintDescriptor |= LADSPA_HINT_LOGARITHMIC;
      hint.LowerBound = static_cast<LADSPA_Data>(c.minimum);
      hint.UpperBound = static_cast<LADSPA_Data>(c.maximum);
      hints.push_back(hint);
    }
    const auto addAudio = [&](const std::vector<std::string>& symbols, LADSPA_PortDescriptor io) {
      for (const std::string& symbol : symbols) {
        ports.push_back(port++);
        portNames.push_back(symbol);
        portDescriptors.push_back(io | LADSPA_PORT_AUDIO);
        hints.push_back(LADSPA_PortRangeHint{0, 0.0f, 0.0f});
      }
    };
    addAudio(orvane::plugins::audioInputSymbols(variant), LADSPA_PORT_INPUT);
    addAudio(orvane::plugins::audioOutputSymbols(variant), LADSPA_PORT_OUTPUT);
    for (const std::string& portName : portNames) portNamePointers.push_back(portName.c_str());

    name = orvane::plugins::pluginName(variant, "LADSPA");
    descriptor.UniqueID = variant.ladspaId;
    descriptor.Label = variant.label.c_str();
    descriptor.Properties = LADSPA_PROPERTY_HARD_RT_CAPABLE;
    descriptor.Name = name.c_str();
    descriptor.Maker = orvane::plugins::kMaker;
    descriptor.Copyright = orvane::plugins::kLicense;
    descriptor.PortCount = portNames.size();
    descriptor.PortDescriptors = portDescriptors.data();
    descriptor.PortNames = portNamePointers.data();
    descriptor.PortRangeHints = hints.data();
    descriptor.ImplementationData = this;
    descriptor.instantiate = instantiate;
    descriptor.connect_port = connectPort;
    descriptor.activate = activate;
    descriptor.run = run;
    descriptor.cleanup = cleanup;
  }
};

const std::vector<std::unique_ptr<Plugin>>& plugins() {
  static const std::vector<std::unique_ptr<Plugin>> all = [] {
    std::vector<std::unique_ptr<Plugin>> built;
    for (const PluginVariant& variant : orvane::plugins::pluginVariants()) {
      built.push_back(std::make_unique<Plugin>(variant));
    }
    return built;
  }();
  return all;
}

LADSPA_Handle instantiate(const LADSPA_Descriptor* descriptor, unsigned long sampleRate) {
  try {
    const Plugin& plugin = *static_cast<const Plugin*>(descriptor->ImplementationData);
    return new Instance{EffectPlugin(plugin.variant, static_cast<double>(sampleRate)),
                        plugin.ports};
  } catch (...) {
    return nullptr;
  }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const LADSPA_Descriptor* ladspa_descriptor(
    unsigned long index) {
  try {
    return index < plugins().size() ? &plugins()[index]->descriptor : nullptr;
  } catch (...) {
    return nullptr;
  }
}
