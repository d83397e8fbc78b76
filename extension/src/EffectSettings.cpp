#include <cstdio>
#include <cstdlib>
#include <type_traits>
#include <cmath>
#include <cstdint>
#include <limits>
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

namespace {

// The shortest decimal that reads back as the same value: the fewest significant digits that
// round-trip (std::to_chars for floating point is not in every standard library this builds
// with).
template <typename T>
std::string shortestText(T value) {
  constexpr int kMostDigits = std::numeric_limits<T>::max_digits10;
  constexpr double kExactWholes = 9007199254740992.0;  // 2^53: every whole double below is exact
  char text[48];
  if (std::abs(static_cast<double>(value)) < kExactWholes &&
      static_cast<double>(value) == std::trunc(static_cast<double>(value))) {
    std::snprintf(text, sizeof text, "%.0f", static_cast<double>(value));  // 1000, not 1e+03
    return text;
  }
  for (int digits = 1;; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, static_cast<double>(value));
    const T back = std::is_same_v<T, float> ? static_cast<T>(std::strtof(text, nullptr))
                                            : static_cast<T>(std::strtod(text, nullptr));
    if (back == value || digits >= kMostDigits || std::isnan(value)) return text;
  }
}

}  // namespace

std::string EffectSettings::valueText(const SettingInfo& setting, double value) {
  if (setting.kind == SettingKind::Toggle) return value > 0.0 ? "true" : "false";
  // A number a node holds is a float: "0.7", not the double nearest to that float.
  const bool isFloat = setting.kind == SettingKind::Number && std::isfinite(value) &&
                       std::abs(value) <= std::numeric_limits<float>::max() &&
                       static_cast<double>(static_cast<float>(value)) == value;
  return isFloat ? shortestText(static_cast<float>(value)) : shortestText(value);
}

std::string EffectSettings::refusal(std::size_t index, double value) const {
  const auto& list = settings();
  if (index >= list.size()) throw std::out_of_range(type() + ": no setting at that index");
  const SettingInfo& s = list[index];
  const std::string unit = s.unit.empty() ? "" : " " + s.unit;
  if (!std::isfinite(value)) return "not a finite number";
  switch (s.kind) {
    case SettingKind::Toggle:
      if (value != 0.0 && value != 1.0) return "neither on (1) nor off (0)";
      return {};
    case SettingKind::Integer:
      if (value != std::floor(value)) return "not a whole number";
      if (value < 0.0 || value > std::numeric_limits<std::uint32_t>::max()) {
        return "outside what the setting holds, 0 to 4294967295" + unit;
      }
      break;
    case SettingKind::Number:
      if (std::abs(value) > std::numeric_limits<float>::max()) {
        return "beyond the largest 32-bit float, so the effect would get infinity";
      }
      break;
  }
  if (s.clamps && (value < s.minimum || value > s.maximum)) {
    return "outside the bounds " + valueText(s, s.minimum) + " to " +
           valueText(s, s.maximum) + unit;
  }
  return {};
}

std::uint64_t EffectSettings::reachFrames(Node& node, unsigned int sampleRate) const {
  return entry_->node.reach(node, sampleRate);
}

bool EffectSettings::hasOscillators() const noexcept {
  return entry_->node.position != nullptr;
}

void EffectSettings::setPosition(Node& node, std::uint64_t frames,
                                           unsigned int sampleRate) const {
  if (entry_->node.position != nullptr) {
    entry_->node.position(node, frames, sampleRate);
  }
}

void EffectSettings::restart(Node& node) const { entry_->node.restart(node); }

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
