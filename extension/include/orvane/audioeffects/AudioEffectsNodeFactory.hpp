#pragma once

#include <orvane/audioeffects/Export.hpp>
#include <orvane/sdk/NodeFactory.hpp>
#include <string>

namespace orvane::extensions::audioeffects {

// Creates the library's nodes by bare type, every effect of EffectSettings::all(),
// listed by getNodeTypes() in that order. The creation config is ignored. Nodes are
// owned by the caller and may outlive the factory.
class ORVANE_AUDIOEFFECTS_API AudioEffectsNodeFactory : public orvane::NodeFactory {
 public:
  // Any thread; allocates.
  AudioEffectsNodeFactory();
  ~AudioEffectsNodeFactory() override;

  // Any thread. "AudioEffects".
  std::string getNodeTypePrefix() const override;
};

}  // namespace orvane::extensions::audioeffects
