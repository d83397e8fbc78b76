// The LV2 entry: one descriptor per plugin variant, each instance an EffectPlugin. The bundle's
// metadata (ports, ranges, presets) is generated from the same catalogue by orvane-lv2-bundle.
#include <lv2/core/lv2.h>

#include <vector>
#include <new>
#include <string>

#include "../EffectPlugin.hpp"

namespace {

using orvane::plugins::EffectPlugin;
using orvane::plugins::PluginVariant;

EffectPlugin* plugin(LV2_Handle handle) { return static_cast<EffectPlugin*>(handle); }

// A descriptor's variant, found by its position in the table of descriptors.
const PluginVariant& variantOf(const LV2_Descriptor* descriptor);

LV2_Handle instantiate(const LV2_Descriptor* descriptor, double sampleRate, const char*,
                       const LV2_Feature* const*) {
  try {
    return new EffectPlugin(variantOf(descriptor), sampleRate);
  } catch (...) {
    return nullptr;  // the host reports that the plugin could not be instantiated
  }
}

void connectPort(LV2_Handle instance, uint32_t port, void* data) {
  plugin(instance)->connectPort(port, static_cast<float*>(data));
}

void activate(LV2_Handle instance) {
  try {
    plugin(instance)->activate();
  } catch (...) {
    // Out of memory: the previous node (if any) stays, or run() stays silent-through.
  }
}

void run(LV2_Handle instance, uint32_t frames) { plugin(instance)->run(frames); }

void cleanup(LV2_Handle instance) { delete plugin(instance); }

const void* extensionData(const char*) { return nullptr; }

struct Descriptors {
  std::vector<std::string> uris;
  std::vector<LV2_Descriptor> descriptors;

  Descriptors() {
    const auto variants = orvane::plugins::pluginVariants();
    uris.resize(variants.size());
    descriptors.resize(variants.size());
    for (std::size_t i = 0; i < variants.size(); ++i) {
      uris[i] = std::string(orvane::plugins::kUriBase) + variants[i].label;
      descriptors[i] = LV2_Descriptor{uris[i].c_str(), instantiate, connectPort, activate,
                                      run,             nullptr,     cleanup,     extensionData};
    }
  }
};

const Descriptors& table() {
  static const Descriptors descriptors;
  return descriptors;
}

const PluginVariant& variantOf(const LV2_Descriptor* descriptor) {
  const auto index = static_cast<std::size_t>(descriptor - table().descriptors.data());
  return orvane::plugins::pluginVariants()[index];
}

}  // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
  try {
    return index < table().descriptors.size() ? &table().descriptors[index] : nullptr;
  } catch (...) {
    return nullptr;  // out of memory while building the table: no plugins
  }
}
