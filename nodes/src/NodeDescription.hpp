#pragma once

// How a node describes itself to the library's list of effects: its type name, the channel
// counts it takes, its settings with one accessor each, and what its own arithmetic will do
// differently from what the settings ask. Each node writes this beside its code, from the same
// constants its code uses; EffectSettings (extension/) is the public view over it.
// Internal to the library.

#include <cmath>
#include <cstdint>
#include <limits>
#include <orvane/audioeffects/SettingInfo.hpp>
#include <orvane/sdk/Node.hpp>
#include <sstream>
#include <string>
#include <typeinfo>
#include <vector>

namespace orvane::extensions::audioeffects {

// One setting's way into a node of its effect, through the node's typed accessors. The value
// is the double every front end speaks.
struct SettingAccessor {
  double (*get)(Node&);
  void (*set)(Node&, double);
};

// Appends, one plain sentence each and without the effect's name, what a node of this type will
// do differently from what its settings ask at this sample rate.
using CautionsFunction = void (*)(Node& node, unsigned int sampleRate,
                                  std::vector<std::string>& out);

// The longest a sound takes to come out of a node with its present settings at this rate, in
// frames: its longest delay, at most its ring. A render that has heard this long a stretch of
// silence from the node after its input ended will hear nothing more.
using ReachFunction = std::uint64_t (*)(Node& node, unsigned int sampleRate);

// Puts a node where its first `frames` frames at this rate leave it (oscillators and ring
// positions); null for a node whose samples do not depend on where it stands.
using PositionFunction = void (*)(Node& node, std::uint64_t frames,
                                            unsigned int sampleRate);

// The node as it was made, its settings kept (its restart()).
using RestartFunction = void (*)(Node& node);

struct NodeDescription {
  std::string nodeTypeName;  // what the node's type-name string holds: "DelayNode"
  unsigned int minimumChannels;
  unsigned int maximumChannels;
  std::vector<SettingInfo> settings;       // "enabled" first, then the accessors' order
  std::vector<SettingAccessor> accessors;  // one per setting, in the same order
  CautionsFunction cautions;
  ReachFunction reach;
  PositionFunction position;
  RestartFunction restart;
};

// Defined beside each node class: the node's description, built on first use and kept for the
// life of the library. Any thread.
template <typename N>
const NodeDescription& describeNode();

namespace describe {

// ---- From the double every front end speaks to the node's own types ----

// A switch is on for a value above 0; NaN leaves it as it was.
inline bool toToggle(double value, bool current) noexcept {
  return std::isnan(value) ? current : value > 0.0;
}

// IEEE narrowing, made explicit: beyond the float range is ±infinity (a plain cast would be
// undefined there).
inline float toFloat(double value) noexcept {
  constexpr double kMaxFloat = std::numeric_limits<float>::max();
  if (value > kMaxFloat) return std::numeric_limits<float>::infinity();
  if (value < -kMaxFloat) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

// Rounded to the nearest whole number and held within 0 to 2^32 − 1; NaN keeps the current one.
inline unsigned int toWhole(double value, unsigned int current) noexcept {
  constexpr double kMaxUnsigned = std::numeric_limits<std::uint32_t>::max();
  if (std::isnan(value)) return current;
  const double rounded = std::round(value);
  if (rounded <= 0.0) return 0;
  if (rounded >= kMaxUnsigned) return std::numeric_limits<std::uint32_t>::max();
  return static_cast<unsigned int>(rounded);
}

template <typename N>
N& as(Node& node) {
  return dynamic_cast<N&>(node);  // std::bad_cast for a node of another type
}

template <typename N>
void restartNode(Node& node) {
  as<N>(node).restart();
}

// ---- Accessors through a node's own getters and setters ----

template <typename N>
SettingAccessor enabledAccess() {
  return {[](Node& n) { return as<N>(n).getIsEnabled() ? 1.0 : 0.0; },
          [](Node& n, double v) {
            N& node = as<N>(n);
            node.setIsEnabled(toToggle(v, node.getIsEnabled()));
          }};
}

template <typename N, auto Get, auto Set>
SettingAccessor floatAccess() {
  return {[](Node& n) { return static_cast<double>((as<N>(n).*Get)()); },
          [](Node& n, double v) { (as<N>(n).*Set)(toFloat(v)); }};
}

template <typename N, auto Get, auto Set>
SettingAccessor wholeAccess() {
  return {[](Node& n) { return static_cast<double>((as<N>(n).*Get)()); },
          [](Node& n, double v) {
            N& node = as<N>(n);
            (node.*Set)(toWhole(v, (node.*Get)()));
          }};
}

// The two echoes' settings, in their order: enabled, dry mix, wet mix, delay (ms), feedback.
template <typename N>
std::vector<SettingAccessor> echoAccessors() {
  return {enabledAccess<N>(), floatAccess<N, &N::getDryMix, &N::setDryMix>(),
          floatAccess<N, &N::getWetMix, &N::setWetMix>(),
          wholeAccess<N, &N::getDelayMs, &N::setDelayMs>(),
          floatAccess<N, &N::getFeedbackLevel, &N::setFeedbackLevel>()};
}

// ---- Settings every effect has ----

inline SettingInfo enabledSetting(std::string description) {
  return {"enabled", "Enabled", std::move(description), "", SettingKind::Toggle, 1.0, 0.0, 1.0,
          true, false};
}

inline SettingInfo enabledSetting() {
  return enabledSetting(
      "Switches the effect on, or off so that the input passes through unchanged.");
}

// ---- Text for cautions ----

// Up to ten significant digits, as people read them.
inline std::string number(double value) {
  std::ostringstream out;
  out.precision(10);
  out << value;
  return out.str();
}

inline std::string rateText(unsigned int sampleRate) { return number(sampleRate) + " Hz"; }

}  // namespace describe

}  // namespace orvane::extensions::audioeffects
