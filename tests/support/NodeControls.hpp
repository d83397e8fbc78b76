#pragma once

// Reaches any of the library's nodes through the library's own list of effects, for tests that
// run over the whole list: no test names an effect's settings by type.

#include <memory>
#include <orvane/audioeffects/AudioEffects.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

namespace orvane::testing {

using extensions::audioeffects::EffectSettings;

// The description of the node's effect.
inline const EffectSettings& effectOf(const Node& node) {
  const EffectSettings* effect = EffectSettings::forType(node.getTypeName());
  if (effect == nullptr) throw std::logic_error("not a node of the library: " + node.getTypeName());
  return *effect;
}

class NodeControls {
 public:
  explicit NodeControls(Node& node) : node_(node), effect_(effectOf(node)) {}

  const EffectSettings& effect() const { return effect_; }
  bool has(std::string_view id) const { return effect_.indexOf(id).has_value(); }
  // Through the node's own accessors; a setting the effect does not have is left alone.
  void set(std::string_view id, double value) {
    if (const auto index = effect_.indexOf(id)) effect_.set(node_, *index, value);
  }
  double get(std::string_view id) const { return effect_.get(node_, effect_.indexOf(id).value()); }
  void setDefaults() {
    for (std::size_t i = 0; i < effect_.settings().size(); ++i) {
      effect_.set(node_, i, effect_.settings()[i].defaultValue);
    }
  }

  void setEnabled(bool enabled) { set("enabled", enabled ? 1.0 : 0.0); }
  bool isEnabled() const { return get("enabled") > 0.0; }

  // The node's time setting at `fraction` of its usual range: the delay (up to 1000 ms) for the
  // echoes, the sweep width (up to 50 ms) for the swept delays.
  void setDelayOrSweep(double fraction) {
    set("delay", static_cast<double>(static_cast<unsigned int>(1000.0 * fraction)));
    set("sweep-width", static_cast<double>(static_cast<float>(0.05 * fraction)));
  }

 private:
  Node& node_;
  const EffectSettings& effect_;
};

inline std::unique_ptr<SingleBusAudioProcessorNode> asProcessor(std::unique_ptr<Node> node) {
  auto* processor = dynamic_cast<SingleBusAudioProcessorNode*>(node.get());
  if (processor == nullptr) throw std::logic_error("not a one-bus processor");
  node.release();
  return std::unique_ptr<SingleBusAudioProcessorNode>(processor);
}

// A node of the effect built with a channel capacity other than the factory's, for the node
// classes that take one; any other node as the factory builds it.
inline std::unique_ptr<SingleBusAudioProcessorNode> makeNode(const EffectSettings& effect,
                                                             unsigned int capacity) {
  using namespace extensions::audioeffects;
  const std::string& name = effect.nodeTypeName();
  // The constructors' capacity argument is part of each class's own interface.
  if (name == "DelayNode") return std::make_unique<DelayNode>(capacity);
  if (name == "ChorusNode") return std::make_unique<ChorusNode>(capacity);
  if (name == "OrvaneFlangerNode") return std::make_unique<FlangerNode>(capacity);
  if (name == "VibratoNode") return std::make_unique<VibratoNode>(capacity);
  return asProcessor(effect.createNode());
}

}  // namespace orvane::testing
