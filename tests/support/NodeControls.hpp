#pragma once

// Reaches the settings of any of the library's nodes without knowing its type, for tests that
// run over the whole catalogue.

#include <orvane/audioeffects/AudioEffects.hpp>

namespace orvane::testing {

class NodeControls {
 public:
  explicit NodeControls(Node& node) : node_(node) {}

  void setEnabled(bool enabled) {
    visit([&](auto& n) { n.setIsEnabled(enabled); });
  }

  // The node's time setting at `fraction` of its usual range: the delay (up to 1000 ms) for the
  // two delays, the sweep width (up to 50 ms) for the modulated delays.
  void setDelayOrSweep(double fraction) {
    using namespace orvane::extensions::audioeffects;
    visit([&](auto& n) {
      using N = std::remove_reference_t<decltype(n)>;
      if constexpr (std::is_same_v<N, DelayNode> || std::is_same_v<N, PingPongDelayNode>) {
        n.setDelayMs(static_cast<unsigned int>(1000.0 * fraction));
      } else {
        n.setSweepWidth(static_cast<float>(0.05 * fraction));
      }
    });
  }

  // Calls f with the node as its concrete type; false for a node of another library.
  template <typename F>
  bool visit(F&& f) {
    using namespace orvane::extensions::audioeffects;
    if (auto* n = dynamic_cast<DelayNode*>(&node_)) return f(*n), true;
    if (auto* n = dynamic_cast<PingPongDelayNode*>(&node_)) return f(*n), true;
    if (auto* n = dynamic_cast<ChorusNode*>(&node_)) return f(*n), true;
    if (auto* n = dynamic_cast<FlangerNode*>(&node_)) return f(*n), true;
    if (auto* n = dynamic_cast<VibratoNode*>(&node_)) return f(*n), true;
    return false;
  }

 private:
  Node& node_;
};

}  // namespace orvane::testing
