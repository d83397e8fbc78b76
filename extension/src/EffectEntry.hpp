#pragma once

// One entry of the library's list of effects (Effects.cpp): what the catalogue, the factory and
// every front end know of an effect. The node gives its own part (type name, channels,
// settings, cautions); the entry adds how the library offers it. Internal to the library.

#include <cstdint>
#include <orvane/audioeffects/EffectSettings.hpp>
#include <orvane/sdk/NodeFactory.hpp>
#include <span>
#include <string>
#include <vector>

#include "NodeDescription.hpp"

namespace orvane::extensions::audioeffects {

struct EffectEntry {
  NodeTypeInfo info;              // the node class's catalogue record
  Node* (*create)();              // a new node, as the factory hands it out
  const NodeDescription& node;    // the node's own description
  std::string slug;               // "pingpong": lower case, for plugin labels and URIs
  std::string category;           // the kind of effect, as plugin hosts sort them
  std::uint32_t pluginId;         // the stereo plugin's number; the mono one is next
  std::vector<EffectPreset> presets;
  std::string guide;              // what it does and what to listen for, for a newcomer
};

// The list, in the catalogue's order; built on first use, kept for the life of the library.
std::span<const EffectEntry> effectEntries();

}  // namespace orvane::extensions::audioeffects
