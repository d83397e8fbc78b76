// The installed LV2 bundle driven as a host drives it with time: the plugin binary loaded with
// dlopen, a URID map given, and time:Position objects sent through the atom input as
// sequencers send them. A synced delay follows the tempo; a modulated effect's sweep follows
// the transport's frame, whatever the plugin did before the transport rolled.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <lv2/atom/forge.h>
#include <lv2/core/lv2.h>
#include <lv2/time/time.h>
#include <lv2/urid/urid.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "PluginCatalogue.hpp"

namespace {

using orvane::plugins::PluginControl;
using orvane::plugins::PluginVariant;

constexpr double kRate = 48000;
constexpr std::uint32_t kBlock = 256;

// A host's URID map: each URI its index, from 1.
struct UridMap {
  std::vector<std::string> uris;
  LV2_URID_Map map{this, [](LV2_URID_Map_Handle handle, const char* uri) -> LV2_URID {
                     auto& self = *static_cast<UridMap*>(handle);
                     for (std::size_t i = 0; i < self.uris.size(); ++i) {
                       if (self.uris[i] == uri) return static_cast<LV2_URID>(i + 1);
                     }
                     self.uris.emplace_back(uri);
                     return static_cast<LV2_URID>(self.uris.size());
                   }};
  LV2_Feature feature{LV2_URID__map, &map};
};

struct Position {
  std::int64_t frame;
  float speed;
  float beatsPerMinute;
};

// One plugin instance with its ports connected to buffers of the test's.
class Plugin {
 public:
  Plugin(const PluginVariant& variant, UridMap& urids) : variant_(variant), urids_(urids) {
    const std::string binary = std::string(ORVANE_PLUGIN_TEST_PREFIX) +
                               "/lib/lv2/orvane-audioeffects.lv2/orvane-audioeffects.so";
    library_ = dlopen(binary.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) throw std::runtime_error(dlerror());
    const auto entry = reinterpret_cast<LV2_Descriptor_Function>(dlsym(library_, "lv2_descriptor"));
    const std::string uri = std::string(orvane::plugins::kUriBase) + variant.label;
    for (std::uint32_t i = 0; entry != nullptr && (descriptor_ = entry(i)) != nullptr; ++i) {
      if (uri == descriptor_->URI) break;
    }
    if (descriptor_ == nullptr) throw std::runtime_error("no descriptor for " + uri);
    const LV2_Feature* features[] = {&urids_.feature, nullptr};
    handle_ = descriptor_->instantiate(descriptor_, kRate, "", features);
    if (handle_ == nullptr) throw std::runtime_error("instantiation failed");
    controls_.resize(variant.controls.size());
    for (std::size_t i = 0; i < controls_.size(); ++i) {
      controls_[i] = static_cast<float>(variant.controls[i].defaultValue);
      descriptor_->connect_port(handle_, static_cast<std::uint32_t>(i), &controls_[i]);
    }
    in_.assign(variant.channels, std::vector<float>(kBlock));
    out_.assign(variant.channels, std::vector<float>(kBlock));
    auto port = static_cast<std::uint32_t>(controls_.size());
    for (auto& channel : in_) descriptor_->connect_port(handle_, port++, channel.data());
    for (auto& channel : out_) descriptor_->connect_port(handle_, port++, channel.data());
    const orvane::plugins::Lv2Ports ports = variant.lv2Ports();
    if (variant.syncedSetting) {
      descriptor_->connect_port(handle_, ports.sync, &sync_);
      descriptor_->connect_port(handle_, ports.note, &note_);
    }
    descriptor_->connect_port(handle_, ports.control, atoms_.data());
    lv2_atom_forge_init(&forge_, &urids_.map);
    descriptor_->activate(handle_);
  }
  ~Plugin() {
    descriptor_->cleanup(handle_);
    dlclose(library_);
  }
  Plugin(const Plugin&) = delete;
  Plugin& operator=(const Plugin&) = delete;

  void setControl(const std::string& id, float value) {
    for (std::size_t i = 0; i < variant_.controls.size(); ++i) {
      if (variant_.controls[i].info->id == id) controls_[i] = value;
    }
  }
  void setSync(bool on, std::size_t noteStep) {
    sync_ = on ? 1.0f : 0.0f;
    note_ = static_cast<float>(noteStep);
  }

  // Runs `input` (channel after channel, each `frames` long) in blocks; `position`, where
  // given, goes with the first block.
  std::vector<std::vector<float>> run(const std::vector<std::vector<float>>& input,
                                      std::optional<Position> position = std::nullopt) {
    const std::size_t frames = input[0].size();
    std::vector<std::vector<float>> output(input.size(), std::vector<float>(frames));
    for (std::size_t start = 0; start < frames; start += kBlock) {
      const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(kBlock, frames - start));
      writeEvents(start == 0 ? position : std::nullopt);
      for (std::size_t c = 0; c < input.size(); ++c) {
        std::memcpy(in_[c].data(), input[c].data() + start, n * sizeof(float));
      }
      descriptor_->run(handle_, n);
      for (std::size_t c = 0; c < input.size(); ++c) {
        std::memcpy(output[c].data() + start, out_[c].data(), n * sizeof(float));
      }
    }
    return output;
  }

 private:
  // The atom input's sequence for the next run: empty, or one time:Position at frame 0.
  void writeEvents(std::optional<Position> position) {
    const auto uri = [this](const char* name) { return urids_.map.map(&urids_, name); };
    lv2_atom_forge_set_buffer(&forge_, reinterpret_cast<std::uint8_t*>(atoms_.data()),
                              atoms_.size() * sizeof(atoms_[0]));
    LV2_Atom_Forge_Frame sequence;
    lv2_atom_forge_sequence_head(&forge_, &sequence, 0);
    if (position) {
      LV2_Atom_Forge_Frame object;
      lv2_atom_forge_frame_time(&forge_, 0);
      lv2_atom_forge_object(&forge_, &object, 0, uri(LV2_TIME__Position));
      lv2_atom_forge_key(&forge_, uri(LV2_TIME__frame));
      lv2_atom_forge_long(&forge_, position->frame);
      lv2_atom_forge_key(&forge_, uri(LV2_TIME__speed));
      lv2_atom_forge_float(&forge_, position->speed);
      lv2_atom_forge_key(&forge_, uri(LV2_TIME__beatsPerMinute));
      lv2_atom_forge_float(&forge_, position->beatsPerMinute);
      lv2_atom_forge_pop(&forge_, &object);
    }
    lv2_atom_forge_pop(&forge_, &sequence);
  }

  const PluginVariant& variant_;
  UridMap& urids_;
  void* library_ = nullptr;
  const LV2_Descriptor* descriptor_ = nullptr;
  LV2_Handle handle_ = nullptr;
  std::vector<float> controls_;
  float sync_ = 0.0f;
  float note_ = 0.0f;
  std::vector<std::vector<float>> in_, out_;
  std::vector<std::uint64_t> atoms_ = std::vector<std::uint64_t>(512);  // 8-byte aligned
  LV2_Atom_Forge forge_{};
};

std::vector<std::vector<float>> noise(unsigned int channels, std::size_t frames,
                                      std::uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> sample(-0.5f, 0.5f);
  std::vector<std::vector<float>> out(channels, std::vector<float>(frames));
  for (auto& channel : out) {
    for (float& x : channel) x = sample(random);
  }
  return out;
}

std::size_t noteStep(const std::string& note) {
  for (std::size_t i = 0; i < orvane::plugins::kNoteValues.size(); ++i) {
    if (note == orvane::plugins::kNoteValues[i]) return i;
  }
  throw std::invalid_argument(note);
}

TEST(Lv2Time, ASyncedDelayTakesItsTimeFromTheHostsTempo) {
  UridMap urids;
  const auto input = noise(2, 48000, 3);
  for (const char* label : {"delay_stereo", "pingpong_stereo"}) {
    const PluginVariant* variant = orvane::plugins::findVariant(label);
    ASSERT_NE(variant, nullptr) << label;
    SCOPED_TRACE(label);
    auto byHand = [&](float milliseconds) {
      Plugin plugin(*variant, urids);
      plugin.setControl("delay", milliseconds);
      return plugin.run(input);
    };
    for (const auto& [note, bpm, milliseconds] :
         {std::tuple{"1/8.", 120.0f, 375.0f}, std::tuple{"1/4", 90.0f, 667.0f},
          std::tuple{"1/16", 240.0f, 63.0f}}) {
      SCOPED_TRACE(note);
      Plugin synced(*variant, urids);
      synced.setSync(true, noteStep(note));
      EXPECT_EQ(synced.run(input, Position{0, 0.0f, bpm}), byHand(milliseconds));
    }
    // With the switch off, or no tempo told, the Delay Time control holds.
    Plugin off(*variant, urids);
    off.setControl("delay", 250.0f);
    off.setSync(false, noteStep("1/8."));
    EXPECT_EQ(off.run(input, Position{0, 0.0f, 120.0f}), byHand(250.0f));
    Plugin untold(*variant, urids);
    untold.setControl("delay", 250.0f);
    untold.setSync(true, noteStep("1/8."));
    EXPECT_EQ(untold.run(input), byHand(250.0f));
  }
}

TEST(Lv2Time, TheSweepFollowsTheTransportFrameHoweverLongThePluginRanBefore) {
  UridMap urids;
  const auto input = noise(2, 24000, 5);
  const std::vector<std::vector<float>> silence(2, std::vector<float>(5000));
  for (const char* label : {"chorus_stereo", "flanger_stereo", "vibrato_stereo"}) {
    const PluginVariant* variant = orvane::plugins::findVariant(label);
    ASSERT_NE(variant, nullptr) << label;
    SCOPED_TRACE(label);
    const Position rolling{96000, 1.0f, 120.0f};
    Plugin early(*variant, urids);  // activated at once
    const auto fromTheStart = early.run(input, rolling);
    Plugin late(*variant, urids);  // ran a while, stopped, before the transport rolled
    late.run(silence, Position{0, 0.0f, 120.0f});
    EXPECT_EQ(late.run(input, rolling), fromTheStart);
    // Rolling on without a new position, the plugin runs on: the second half of a render
    // equals the same render in one go.
    Plugin halves(*variant, urids);
    const std::vector<std::vector<float>> first = {
        std::vector<float>(input[0].begin(), input[0].begin() + 12000),
        std::vector<float>(input[1].begin(), input[1].begin() + 12000)};
    const std::vector<std::vector<float>> second = {
        std::vector<float>(input[0].begin() + 12000, input[0].end()),
        std::vector<float>(input[1].begin() + 12000, input[1].end())};
    halves.run(first, rolling);
    const auto rest = halves.run(second, Position{96000 + 12000, 1.0f, 120.0f});
    EXPECT_EQ(rest[0], std::vector<float>(fromTheStart[0].begin() + 12000, fromTheStart[0].end()));
    // Without the transport, the sweep is wherever the plugin's own running left it.
    Plugin unlocked(*variant, urids);
    unlocked.run(silence);
    EXPECT_NE(unlocked.run(input), fromTheStart);
  }
}

}  // namespace
