#pragma once

#include <memory>
#include <orvane/audioeffects/Export.hpp>
#include <orvane/sdk/Extension.hpp>
#include <orvane/sdk/NodeFactory.hpp>
#include <string>

namespace orvane::extensions::audioeffects {

// The library's extension: its name is "AudioEffects" and it hands out node factories for the
// library's effect types.
class ORVANE_AUDIOEFFECTS_API AudioEffectsExtension : public orvane::Extension {
 public:
  // Any thread; allocates. Creates a new extension and registers it with the process's
  // ExtensionManager, which keeps it. Each call registers another one.
  static void load();

  AudioEffectsExtension();
  ~AudioEffectsExtension() override;

  // Any thread.
  std::string getName() const override;
  // Any thread; allocates. A new, independent factory on every call.
  std::shared_ptr<orvane::NodeFactory> getNodeFactory() override;
};

}  // namespace orvane::extensions::audioeffects
