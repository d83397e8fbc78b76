#include <cmath>
#include <orvane/audioeffects/EffectSettings.hpp>
#include <stdexcept>

#include "EffectEntry.hpp"

namespace orvane::extensions::audioeffects {

namespace {

const std::vector<EffectSettings>& views() {
  static const std::vector<EffectSettings> all = [] {
    std::vector<EffectSettings> made;
    for (const EffectEntry& entry : effectEntries()) made.emplace_back(entry);
    return made;
  }();
  return all;
}

}  // namespace

std::span<const EffectSettings> EffectSettings::all() { return views(); }

const EffectSettings* EffectSettings::forType(std::string_view type) {
  for (const EffectSettings& effect : views()) {
    if (type == effect.type() || type == effect.nodeTypeName()) return &effect;
  }
  return nullptr;
}

const std::string& EffectSettings::type() const noexcept { return entry_->info.type; }
const std::string& EffectSettings::nodeTypeName() const noexcept {
  return entry_->node.nodeTypeName;
}
const std::string& EffectSettings::displayName() const noexcept {
  return entry_->info.displayName;
}
const std::string& EffectSettings::description() const noexcept {
  return entry_->info.description;
}
const std::string& EffectSettings::slug() const noexcept { return entry_->slug; }
const std::string& EffectSettings::category() const noexcept { return entry_->category; }
std::uint32_t EffectSettings::pluginId() const noexcept { return entry_->pluginId; }
unsigned int EffectSettings::minimumChannels() const noexcept {
  return entry_->node.minimumChannels;
}
unsigned int EffectSettings::maximumChannels() const noexcept {
  return entry_->node.maximumChannels;
}
const std::vector<EffectPreset>& EffectSettings::presets() const noexcept {
  return entry_->presets;
}
const std::string& EffectSettings::guide() const noexcept { return entry_->guide; }
const std::vector<SettingInfo>& EffectSettings::settings() const noexcept {
  return entry_->node.settings;
}

NodeTypeInfo EffectSettings::nodeTypeInfo() const { return entry_->info; }
std::unique_ptr<Node> EffectSettings::createNode() const {
  return std::unique_ptr<Node>(entry_->create());
}

std::optional<std::size_t> EffectSettings::indexOf(std::string_view id) const noexcept {
  const auto& list = settings();
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i].id == id) return i;
  }
  return std::nullopt;
}

double EffectSettings::get(Node& node, std::size_t index) const {
  const auto& accessors = entry_->node.accessors;
  if (index >= accessors.size()) throw std::out_of_range(type() + ": no setting at that index");
  return accessors[index].get(node);
}

void EffectSettings::set(Node& node, std::size_t index, double value) const {
  const auto& accessors = entry_->node.accessors;
  if (index >= accessors.size()) throw std::out_of_range(type() + ": no setting at that index");
  accessors[index].set(node, value);
}

std::vector<std::string> EffectSettings::cautions(Node& node, unsigned int sampleRate) const {
  std::vector<std::string> found;
  entry_->node.cautions(node, sampleRate, found);
  // Any number the node holds that is not finite, whatever the effect.
  const auto& list = settings();
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (list[i].kind != SettingKind::Number) continue;
    const double value = get(node, i);
    if (!std::isfinite(value)) {
      found.push_back(list[i].id + " is " + describe::number(value) +
                      ", not a finite number; the effect cannot work as asked");
    }
  }
  for (std::string& caution : found) caution = type() + ": " + caution;
  return found;
}

}  // namespace orvane::extensions::audioeffects
