#pragma once

// The effects as the renderer offers them, and chains of nodes built from them. Every key, unit,
// default, range and warning comes from the library's EffectSettings.

#include <memory>
#include <orvane/audioeffects/AudioEffects.hpp>
#include <string>
#include <vector>

#include "Errors.hpp"
#include "OutputStage.hpp"
#include "Text.hpp"

namespace orvane::fx {

using extensions::audioeffects::EffectSettings;
using extensions::audioeffects::SettingInfo;
using extensions::audioeffects::SettingKind;

struct EffectSpec {
  std::string type;
  std::vector<std::pair<std::string, std::string>> settings;  // key, value as typed
  // Values a program already holds as numbers, by position in the effect's settings; applied
  // after the typed ones, under the same policy.
  std::vector<std::pair<std::size_t, double>> values = {};
};

// The library's node factory, the library loaded the way a host loads it: once per process,
// on first use. Any thread.
std::shared_ptr<NodeFactory> libraryFactory();

// "Delay delay=300 Chorus frequency=2" → two effects with their settings.
std::vector<EffectSpec> parseChain(const std::vector<std::string>& tokens);

// The channel count a chain needs of a mono input: 2 when one of its effects takes no fewer
// (PingPongDelay), else 1. Unknown types count as taking mono; the chain refuses them later.
unsigned int channelsForMono(const std::vector<EffectSpec>& effects);

class EffectCatalogue {
 public:
  // Loads the effects library the way a host does: the exported entry, the process's extension
  // manager, then a node factory from the extension.
  EffectCatalogue();

  const std::vector<NodeTypeInfo>& types() const { return types_; }
  // Throws UsageError for a type the factory does not know.
  const EffectSettings& settings(const std::string& type) const;
  // The catalogue's spelling of an effect named without regard to case ("delay" → "Delay");
  // throws UsageError, with the closest name when there is one, for an unknown name.
  std::string resolve(const std::string& name) const;
  // The channel counts a type accepts, in words ("1 or 2 channels").
  std::string channelRule(const std::string& type) const;
  std::unique_ptr<Node> create(const std::string& type) const;

 private:
  std::shared_ptr<NodeFactory> factory_;
  std::vector<NodeTypeInfo> types_;
};

// Nodes created from a catalogue, set up and agreed on one format, processing in place.
class EffectChain {
 public:
  // Besides each effect's own settings, mix=0..1 and level=DB set its OutputStage.
  // Throws UsageError for unknown types or keys, values that are not numbers or that the node
  // cannot hold, and a format a node refuses. What the nodes will do differently from what they
  // are asked at this rate is appended to `warnings`.
  // A value may be an envelope, "V@T,V@T,..." (each V as a value of the setting, each T in
  // seconds, or with s or ms), which moves the setting over the render (see Automation.hpp);
  // with `beatsPerMinute` above 0, a time setting also takes a note value ("1/8.").
  EffectChain(const EffectCatalogue& catalogue, const std::vector<EffectSpec>& effects,
              unsigned int channels, unsigned int sampleRate, std::vector<std::string>& warnings,
              double beatsPerMinute = 0.0);

  // A gain in dB after the last node (orvane-fx's --gain and --normalize). Any value.
  void setOutputLevel(double levelDb) { output_.levelDb = levelDb; }
  // Runs the block through every node in turn, in place, through the host's bus-list calls.
  void process(AudioBuffer<float>& block);
  // "Delay -> Chorus"
  std::string describe() const;
  // The longest a sound takes through the chain with its settings, in frames: the nodes'
  // reaches added up (a chain's delays in series add).
  std::uint64_t reachFrames(unsigned int sampleRate) const;
  // Every setting of every node as the nodes hold them, in the command line's words:
  // "Delay enabled=true dry-mix=0.7 wet-mix=0.3 delay=350 feedback=0.4 -> Chorus ...".
  std::string settingsText() const;

 private:
  std::vector<std::string> types_;
  std::vector<const EffectSettings*> settings_;
  std::vector<OutputStage> stages_;
  OutputStage output_;  // after the last node: its level only
  std::vector<float> dry_;  // the input of a node whose stage is active, for one block
  std::vector<std::unique_ptr<Node>> nodes_;
  std::vector<SingleBusAudioProcessorNode*> processors_;
  // A node's envelopes, its runner, their words for settingsText, and the longest reach any of
  // their values gives (null and empty where a node has none).
  std::vector<std::unique_ptr<extensions::audioeffects::AutomationSchedule>> schedules_;
  std::vector<std::unique_ptr<extensions::audioeffects::AutomationRunner>> runners_;
  std::vector<std::string> envelopeTexts_;
  std::vector<std::uint64_t> envelopeReaches_;
  std::uint64_t framesDone_ = 0;
};


// Parses a setting's value: true/false/1/0 for a switch, a finite number otherwise, whole for
// an integer setting. A number may carry a unit: ms or s for times, Hz, mHz or kHz for rates,
// dB for gains (turned into a linear gain). The value is then refused or taken as
// EffectSettings::refusal says, as in every front end.
// A time setting also takes a note value ("1/4", "1/8.", "1/8t") when `beatsPerMinute` is above
// 0, and refuses one, naming --bpm, when it is not.
double parseSettingValue(const EffectSettings& effect, std::size_t index, const std::string& text,
                         double beatsPerMinute = 0.0);

// A value as the user would type it back: true/false, a whole number, or up to six digits.
std::string formatSettingValue(const SettingInfo& setting, double value);

}  // namespace orvane::fx
