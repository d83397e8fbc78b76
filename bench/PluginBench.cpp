// What bench/compare-plugins runs: LV2 plugins loaded through lilv and run as a host runs
// them, timed side by side.
//
//   orvane_plugin_bench BLOCK SECONDS ROUNDS 'URI [symbol=value ...]' ...
//
// Every plugin gets the same white noise on every input channel, each channel its own buffer,
// and writes into buffers of its own (never the input's), in blocks of BLOCK frames at 48 kHz;
// its controls are its defaults but for the values given. Each round runs every plugin for
// SECONDS of audio, one after another, timing this thread's CPU time
// (CLOCK_THREAD_CPUTIME_ID); after the rounds it prints, per plugin, the median nanoseconds
// per sample of one channel (CPU time over frames × audio inputs) and the URI:
//
//   0.412 urn:orvane:audioeffects:delay_stereo
//
// A plugin that cannot be loaded or instantiated here prints "- URI: why" instead.

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr double kSampleRate = 48000.0;
constexpr std::size_t kAtomBytes = 8192;  // room for an event port's sequence

// The URID map every plugin here may ask for.
class UridMap {
 public:
  LV2_URID map(const char* uri) {
    auto [it, added] = ids_.emplace(uri, static_cast<LV2_URID>(ids_.size() + 1));
    return it->second;
  }
  static LV2_URID mapFor(LV2_URID_Map_Handle handle, const char* uri) {
    return static_cast<UridMap*>(handle)->map(uri);
  }

 private:
  std::map<std::string, LV2_URID> ids_;
};

double threadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// One plugin, instantiated with its ports connected: audio to the shared noise (inputs) and
// to buffers of its own (outputs), controls to values, event ports to sequences.
struct Loaded {
  std::string uri;
  std::string problem;
  LilvInstance* instance = nullptr;
  std::vector<std::uint32_t> audioIns, audioOuts;
  std::vector<float> controls;  // one slot per port, whatever its kind
  std::vector<std::vector<std::uint64_t>> atoms;  // 8-byte aligned, one per event port
  std::vector<std::uint32_t> atomOutputs;         // indices into atoms, refilled per run
  std::vector<std::vector<float>> outputs;
  std::vector<double> seconds;
  ~Loaded() {
    if (instance != nullptr) {
      lilv_instance_deactivate(instance);
      lilv_instance_free(instance);
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: %s BLOCK SECONDS ROUNDS 'URI [symbol=value ...]' ...\n", argv[0]);
    return 2;
  }
  const auto block = static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10));
  const double seconds = std::strtod(argv[2], nullptr);
  const int rounds = std::atoi(argv[3]);
  if (block == 0 || !(seconds > 0.0) || rounds < 1) {
    std::fprintf(stderr, "BLOCK, SECONDS and ROUNDS must be above 0\n");
    return 2;
  }
  const auto frames = static_cast<std::uint32_t>(seconds * kSampleRate) / block * block;

  // One second of noise, read block after block around and around.
  const std::uint32_t noiseFrames = static_cast<std::uint32_t>(kSampleRate) / block * block;
  std::vector<std::vector<float>> noise(2, std::vector<float>(noiseFrames));
  std::mt19937 random(7);
  std::uniform_real_distribution<float> level(-0.5f, 0.5f);
  for (auto& channel : noise) {
    for (float& sample : channel) sample = level(random);
  }

  UridMap urids;
  LV2_URID_Map map{&urids, UridMap::mapFor};
  const LV2_URID atomInt = urids.map(LV2_ATOM__Int);
  const LV2_URID atomFloat = urids.map(LV2_ATOM__Float);
  const LV2_URID sequence = urids.map(LV2_ATOM__Sequence);
  const LV2_URID chunk = urids.map(LV2_ATOM__Chunk);
  const std::int32_t blockLength = static_cast<std::int32_t>(block);
  const std::int32_t sequenceSize = static_cast<std::int32_t>(kAtomBytes);
  const float rate = static_cast<float>(kSampleRate);
  const LV2_Options_Option options[] = {
      {LV2_OPTIONS_INSTANCE, 0, urids.map(LV2_BUF_SIZE__minBlockLength), sizeof(std::int32_t),
       atomInt, &blockLength},
      {LV2_OPTIONS_INSTANCE, 0, urids.map(LV2_BUF_SIZE__maxBlockLength), sizeof(std::int32_t),
       atomInt, &blockLength},
      {LV2_OPTIONS_INSTANCE, 0, urids.map(LV2_BUF_SIZE__nominalBlockLength),
       sizeof(std::int32_t), atomInt, &blockLength},
      {LV2_OPTIONS_INSTANCE, 0, urids.map(LV2_BUF_SIZE__sequenceSize), sizeof(std::int32_t),
       atomInt, &sequenceSize},
      {LV2_OPTIONS_INSTANCE, 0, urids.map("http://lv2plug.in/ns/ext/parameters#sampleRate"),
       sizeof(float), atomFloat, &rate},
      {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
  LV2_Feature mapFeature{LV2_URID__map, &map};
  LV2_Feature optionsFeature{LV2_OPTIONS__options, const_cast<LV2_Options_Option*>(options)};
  LV2_Feature bounded{LV2_BUF_SIZE__boundedBlockLength, nullptr};
  const LV2_Feature* features[] = {&mapFeature, &optionsFeature, &bounded, nullptr};

  LilvWorld* world = lilv_world_new();
  lilv_world_load_all(world);
  const LilvPlugins* plugins = lilv_world_get_all_plugins(world);
  LilvNode* audioClass = lilv_new_uri(world, LV2_CORE__AudioPort);
  LilvNode* controlClass = lilv_new_uri(world, LV2_CORE__ControlPort);
  LilvNode* inputClass = lilv_new_uri(world, LV2_CORE__InputPort);
  LilvNode* atomClass = lilv_new_uri(world, LV2_ATOM__AtomPort);

  std::vector<std::unique_ptr<Loaded>> loaded;
  for (int a = 4; a < argc; ++a) {
    auto plugin = std::make_unique<Loaded>();
    std::istringstream words(argv[a]);
    words >> plugin->uri;
    std::map<std::string, float> values;
    for (std::string word; words >> word;) {
      const auto equals = word.find('=');
      if (equals == std::string::npos) continue;
      values[word.substr(0, equals)] = std::strtof(word.c_str() + equals + 1, nullptr);
    }
    LilvNode* uri = lilv_new_uri(world, plugin->uri.c_str());
    const LilvPlugin* found = lilv_plugins_get_by_uri(plugins, uri);
    lilv_node_free(uri);
    if (found == nullptr) {
      plugin->problem = "not installed";
      loaded.push_back(std::move(plugin));
      continue;
    }
    const std::uint32_t ports = lilv_plugin_get_num_ports(found);
    std::vector<float> defaults(ports, 0.0f);
    lilv_plugin_get_port_ranges_float(found, nullptr, nullptr, defaults.data());
    plugin->controls.assign(ports, 0.0f);
    plugin->instance = lilv_plugin_instantiate(found, kSampleRate, features);
    if (plugin->instance == nullptr) {
      plugin->problem = "could not be instantiated with this host's features";
      loaded.push_back(std::move(plugin));
      continue;
    }
    for (std::uint32_t p = 0; p < ports; ++p) {
      const LilvPort* port = lilv_plugin_get_port_by_index(found, p);
      const bool input = lilv_port_is_a(found, port, inputClass);
      const std::string symbol = lilv_node_as_string(lilv_port_get_symbol(found, port));
      if (lilv_port_is_a(found, port, audioClass)) {
        (input ? plugin->audioIns : plugin->audioOuts).push_back(p);
      } else if (lilv_port_is_a(found, port, atomClass)) {
        plugin->atoms.emplace_back(kAtomBytes / sizeof(std::uint64_t), 0);
        auto* atom = reinterpret_cast<LV2_Atom_Sequence*>(plugin->atoms.back().data());
        atom->atom.type = sequence;
        atom->atom.size = sizeof(LV2_Atom_Sequence_Body);
        if (!input) plugin->atomOutputs.push_back(static_cast<std::uint32_t>(plugin->atoms.size() - 1));
        lilv_instance_connect_port(plugin->instance, p, atom);
      } else {
        const auto given = values.find(symbol);
        plugin->controls[p] = given != values.end() ? given->second
                              : std::isnan(defaults[p]) ? 0.0f : defaults[p];
        lilv_instance_connect_port(plugin->instance, p, &plugin->controls[p]);
        if (given != values.end()) values.erase(given);
      }
    }
    if (!values.empty()) {
      plugin->problem = "has no control '" + values.begin()->first + "'";
    } else if (plugin->audioIns.empty() || plugin->audioIns.size() > noise.size()) {
      plugin->problem = "takes " + std::to_string(plugin->audioIns.size()) + " audio inputs";
    }
    plugin->outputs.assign(plugin->audioOuts.size(), std::vector<float>(noiseFrames));
    lilv_instance_activate(plugin->instance);
    loaded.push_back(std::move(plugin));
  }

  // One block of a plugin: every port at this block's place in the noise and the outputs.
  auto runBlock = [&](Loaded& plugin, std::uint32_t offset) {
    for (std::size_t i = 0; i < plugin.audioIns.size(); ++i) {
      lilv_instance_connect_port(plugin.instance, plugin.audioIns[i], noise[i].data() + offset);
    }
    for (std::size_t o = 0; o < plugin.audioOuts.size(); ++o) {
      lilv_instance_connect_port(plugin.instance, plugin.audioOuts[o],
                                 plugin.outputs[o].data() + offset);
    }
    for (std::uint32_t a : plugin.atomOutputs) {
      auto* atom = reinterpret_cast<LV2_Atom*>(plugin.atoms[a].data());
      atom->type = chunk;
      atom->size = kAtomBytes - sizeof(LV2_Atom);
    }
    lilv_instance_run(plugin.instance, block);
  };
  auto runFor = [&](Loaded& plugin, std::uint32_t length) {
    std::uint32_t offset = 0;
    for (std::uint32_t done = 0; done < length; done += block) {
      runBlock(plugin, offset);
      offset = offset + 2 * block > noiseFrames ? 0 : offset + block;
    }
  };

  for (auto& plugin : loaded) {
    if (plugin->problem.empty()) runFor(*plugin, noiseFrames);  // warm up
  }
  for (int r = 0; r < rounds; ++r) {
    for (auto& plugin : loaded) {
      if (!plugin->problem.empty()) continue;
      const double start = threadSeconds();
      runFor(*plugin, frames);
      plugin->seconds.push_back(threadSeconds() - start);
    }
  }
  for (auto& plugin : loaded) {
    if (!plugin->problem.empty()) {
      std::printf("- %s: %s\n", plugin->uri.c_str(), plugin->problem.c_str());
      continue;
    }
    std::sort(plugin->seconds.begin(), plugin->seconds.end());
    const std::size_t n = plugin->seconds.size();
    const double median = n % 2 ? plugin->seconds[n / 2]
                                : (plugin->seconds[n / 2 - 1] + plugin->seconds[n / 2]) / 2.0;
    const double samples = static_cast<double>(frames) * static_cast<double>(plugin->audioIns.size());
    std::printf("%.4f %s\n", median * 1e9 / samples, plugin->uri.c_str());
  }
  loaded.clear();
  lilv_node_free(atomClass);
  lilv_node_free(inputClass);
  lilv_node_free(controlClass);
  lilv_node_free(audioClass);
  lilv_world_free(world);
  return 0;
}
