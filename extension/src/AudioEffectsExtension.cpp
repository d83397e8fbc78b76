#include <orvane/audioeffects/AudioEffectsExtension.hpp>
#include <orvane/audioeffects/AudioEffectsNodeFactory.hpp>

namespace orvane::extensions::audioeffects {

namespace {
const std::string kExtensionName = "AudioEffects";
}

void AudioEffectsExtension::load() {
  ExtensionManager& manager = ExtensionManager::getInstance();
  std::shared_ptr<Extension> extension = std::make_shared<AudioEffectsExtension>();
  manager.registerExtension(std::move(extension));
}

AudioEffectsExtension::AudioEffectsExtension() = default;
AudioEffectsExtension::~AudioEffectsExtension() = default;

std::string AudioEffectsExtension::getName() const { return kExtensionName; }

std::shared_ptr<NodeFactory> AudioEffectsExtension::getNodeFactory() {
  return std::make_shared<AudioEffectsNodeFactory>();
}

}  // namespace orvane::extensions::audioeffects
