#pragma once

// Reaches the settings of any of the library's nodes without knowing its type, for tests that
// run over the whole catalogue.

#include <cmath>
#include <limits>

#include <orvane/audioeffects/AudioEffects.hpp>

namespace orvane::testing {

class NodeControls {
 public:
  explicit NodeControls(Node& node) : node_(node) {}

  void setEnabled(bool enabled) {
    using namespace orvane::extensions::audioeffects;
    if (auto* n = dynamic_cast<DelayNode*>(&node_)) n->setIsEnabled(enabled);
    if (auto* n = dynamic_cast<PingPongDelayNode*>(&node_)) n->setIsEnabled(enabled);
  }

  // The node's time setting at `fraction` of its usual range: the delay in ms for the delays.
  void setDelayOrSweep(double fraction) {
    using namespace orvane::extensions::audioeffects;
    if (auto* n = dynamic_cast<DelayNode*>(&node_)) {
      n->setDelayMs(static_cast<unsigned int>(1000.0 * fraction));
    }
    if (auto* n = dynamic_cast<PingPongDelayNode*>(&node_)) {
      n->setDelayMs(static_cast<unsigned int>(1000.0 * fraction));
    }
  }

 private:
  Node& node_;
};

}  // namespace orvane::testing
