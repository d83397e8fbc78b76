#include <orvane/audioeffects/AudioEffectsNodeFactory.hpp>

#include "EffectEntry.hpp"

namespace orvane::extensions::audioeffects {

AudioEffectsNodeFactory::AudioEffectsNodeFactory() {
  for (const EffectEntry& entry : effectEntries()) {
    registerNode(entry.info, [create = entry.create](const NodeConfig&) { return create(); });
  }
}

AudioEffectsNodeFactory::~AudioEffectsNodeFactory() = default;

std::string AudioEffectsNodeFactory::getNodeTypePrefix() const { return "AudioEffects"; }

}  // namespace orvane::extensions::audioeffects
