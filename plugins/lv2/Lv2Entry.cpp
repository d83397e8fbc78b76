// The LV2 entry: one descriptor per plugin variant, each instance an EffectPlugin. The bundle's
// metadata (ports, ranges, presets) is generated from the same catalogue by orvane-lv2-bundle.
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "../EffectPlugin.hpp"

namespace {

using orvane::plugins::EffectPlugin;
using orvane::plugins::PluginVariant;

// An instance: the plugin, and what LV2 adds to the LADSPA ports (tempo sync and the host's
// time:Position through an atom input).
struct Instance {
  Instance(const PluginVariant& variant, double sampleRate) : plugin(variant, sampleRate),
      ports(variant.lv2Ports()), ladspaPorts(EffectPlugin::portCount(variant)),
      synced(variant.syncedSetting.has_value()) {}

  EffectPlugin plugin;
  orvane::plugins::Lv2Ports ports;
  std::uint32_t ladspaPorts;
  bool synced;
  float* sync = nullptr;
  float* note = nullptr;
  const LV2_Atom_Sequence* control = nullptr;
  // The URIDs a position is read with; none without the host's map (the atom input is then
  // ignored, and the plugin runs free as a LADSPA one).
  bool mapped = false;
  LV2_URID position = 0, frame = 0, speed = 0, beatsPerMinute = 0;
  LV2_URID atomFloat = 0, atomDouble = 0, atomInt = 0, atomLong = 0, atomObject = 0,
           atomBlank = 0;
  EffectPlugin::Transport transport;  // the last told, for what a position leaves out
};

Instance* instance(LV2_Handle handle) { return static_cast<Instance*>(handle); }

// A descriptor's variant, found by its position in the table of descriptors.
const PluginVariant& variantOf(const LV2_Descriptor* descriptor);

LV2_Handle instantiate(const LV2_Descriptor* descriptor, double sampleRate, const char*,
                       const LV2_Feature* const* features) {
  try {
    auto made = std::make_unique<Instance>(variantOf(descriptor), sampleRate);
    for (std::size_t i = 0; features != nullptr && features[i] != nullptr; ++i) {
      if (std::strcmp(features[i]->URI, LV2_URID__map) != 0) continue;
      const auto* map = static_cast<const LV2_URID_Map*>(features[i]->data);
      if (map == nullptr) continue;
      auto urid = [map](const char* uri) { return map->map(map->handle, uri); };
      made->position = urid(LV2_TIME__Position);
      made->frame = urid(LV2_TIME__frame);
      made->speed = urid(LV2_TIME__speed);
      made->beatsPerMinute = urid(LV2_TIME__beatsPerMinute);
      made->atomFloat = urid(LV2_ATOM__Float);
      made->atomDouble = urid(LV2_ATOM__Double);
      made->atomInt = urid(LV2_ATOM__Int);
      made->atomLong = urid(LV2_ATOM__Long);
      made->atomObject = urid(LV2_ATOM__Object);
      made->atomBlank = urid(LV2_ATOM__Blank);
      made->mapped = true;
    }
    return made.release();
  } catch (...) {
    return nullptr;  // the host reports that the plugin could not be instantiated
  }
}

void connectPort(LV2_Handle handle, uint32_t port, void* data) {
  Instance& self = *instance(handle);
  if (port < self.ladspaPorts) {
    self.plugin.connectPort(port, static_cast<float*>(data));
  } else if (self.synced && port == self.ports.sync) {
    self.sync = static_cast<float*>(data);
    self.plugin.connectTempo(self.sync, self.note);
  } else if (self.synced && port == self.ports.note) {
    self.note = static_cast<float*>(data);
    self.plugin.connectTempo(self.sync, self.note);
  } else if (port == self.ports.control) {
    self.control = static_cast<const LV2_Atom_Sequence*>(data);
  }
}

void activate(LV2_Handle handle) {
  try {
    instance(handle)->plugin.activate();
  } catch (...) {
    // Out of memory: the previous node (if any) stays, or run() stays silent-through.
  }
}

// A number atom of any of the kinds hosts use for time:Position's fields.
bool numberOf(const Instance& self, const LV2_Atom* atom, double& out) {
  if (atom == nullptr) return false;
  if (atom->type == self.atomFloat) out = reinterpret_cast<const LV2_Atom_Float*>(atom)->body;
  else if (atom->type == self.atomDouble) out = reinterpret_cast<const LV2_Atom_Double*>(atom)->body;
  else if (atom->type == self.atomLong) out = static_cast<double>(reinterpret_cast<const LV2_Atom_Long*>(atom)->body);
  else if (atom->type == self.atomInt) out = reinterpret_cast<const LV2_Atom_Int*>(atom)->body;
  else return false;
  return std::isfinite(out);
}

// The positions in this run's events, each taken back to the run's first frame (hosts send
// them at its start; one sent later in the run applies from its start too).
void readPositions(Instance& self) {
  if (self.control == nullptr || !self.mapped) return;
  LV2_ATOM_SEQUENCE_FOREACH(self.control, event) {
    if (event->body.type != self.atomObject && event->body.type != self.atomBlank) continue;
    const auto* object = reinterpret_cast<const LV2_Atom_Object*>(&event->body);
    if (object->body.otype != self.position) continue;
    const LV2_Atom* frame = nullptr;
    const LV2_Atom* speed = nullptr;
    const LV2_Atom* tempo = nullptr;
    lv2_atom_object_get(object, self.frame, &frame, self.speed, &speed, self.beatsPerMinute,
                        &tempo, 0);
    double value = 0.0;
    // A frame beyond what 62 bits hold (a host's garbage) is not converted: that would be
    // undefined, and no transport gets there.
    constexpr double kFarthestFrame = 4611686018427387904.0;  // 2^62
    if (numberOf(self, frame, value) && std::abs(value) < kFarthestFrame &&
        event->time.frames >= 0 && event->time.frames < kFarthestFrame) {
      self.transport.frame = static_cast<std::int64_t>(value) - event->time.frames;
    }
    if (numberOf(self, speed, value)) self.transport.rolling = value != 0.0;
    if (numberOf(self, tempo, value) && value > 0.0) self.transport.beatsPerMinute = value;
    self.plugin.setTransport(self.transport);
  }
}

void run(LV2_Handle handle, uint32_t frames) {
  Instance& self = *instance(handle);
  readPositions(self);
  self.plugin.run(frames);
}

void cleanup(LV2_Handle handle) { delete instance(handle); }

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
