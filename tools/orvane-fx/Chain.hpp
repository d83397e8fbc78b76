#pragma once

// The catalogue of effects as the renderer offers them, with the settings each takes on the
// command line, and chains of nodes built from it.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <orvane/audioeffects/AudioEffects.hpp>
#include <stdexcept>
#include <string>
#include <vector>

namespace orvane::fx {

// Something the user asked for that cannot be done; the message says what and why.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

enum class ValueKind { Bool, Number, Whole };

struct SettingSpec {
  std::string key;
  std::string meaning;
  std::string unit;
  ValueKind kind;
  std::optional<double> minimum;
  std::optional<double> maximum;
  std::function<void(Node&, double)> apply;
  std::function<double(Node&)> read;
};

struct EffectSpec {
  std::string type;
  std::vector<std::pair<std::string, std::string>> settings;  // key, value as typed
};

// "Delay delay=300 Chorus frequency=2" → two effects with their settings.
std::vector<EffectSpec> parseChain(const std::vector<std::string>& tokens);

class EffectCatalogue {
 public:
  // Loads the effects library the way a host does: the exported entry, the process's extension
  // manager, then a node factory from the extension.
  EffectCatalogue();

  const std::vector<NodeTypeInfo>& types() const { return types_; }
  // Throws UsageError for a type the factory does not know.
  const std::vector<SettingSpec>& settings(const std::string& type) const;
  // The channel counts a type accepts, in words ("1 or 2 channels").
  std::string channelRule(const std::string& type) const;
  std::unique_ptr<Node> create(const std::string& type) const;
  // What the node will do differently from what its settings ask, at this rate, if anything.
  std::vector<std::string> warnings(const std::string& type, Node& node,
                                    unsigned int sampleRate) const;

 private:
  std::shared_ptr<NodeFactory> factory_;
  std::vector<NodeTypeInfo> types_;
  std::map<std::string, std::vector<SettingSpec>> settings_;
};

// Nodes created from a catalogue, set up and agreed on one format, processing in place.
class EffectChain {
 public:
  // Throws UsageError for unknown types or keys, values that are not numbers or outside a
  // setting's bounds, and a format a node refuses. Warnings are appended to `warnings`.
  EffectChain(const EffectCatalogue& catalogue, const std::vector<EffectSpec>& effects,
              unsigned int channels, unsigned int sampleRate, std::vector<std::string>& warnings);

  // Runs the block through every node in turn, in place, through the host's bus-list calls.
  void process(AudioBuffer<float>& block);
  // "Delay → Chorus"
  std::string describe() const;

 private:
  std::vector<std::string> types_;
  std::vector<std::unique_ptr<Node>> nodes_;
  std::vector<SingleBusAudioProcessorNode*> processors_;
};

// Parses a setting's value: true/false/1/0 for a switch, a finite number otherwise.
double parseSettingValue(const SettingSpec& setting, const std::string& type,
                         const std::string& text);

}  // namespace orvane::fx
