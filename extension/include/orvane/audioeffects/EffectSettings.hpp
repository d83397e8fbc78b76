#pragma once

// One description of every effect's settings, for programs that list, set or save them without
// knowing each node class: a renderer, a plugin host, a scripting module, a user interface.
//
//   const EffectSettings* delay = EffectSettings::forType("Delay");
//   const std::size_t index = *delay->indexOf("delay");
//   delay->set(node, index, 350.0);          // same as DelayNode::setDelayMs(350)
//
// Settings are reached by position. The list of an effect is fixed for the life of the library,
// in the order: the bypass switch "enabled" first, then the order of the node's accessors.

#include <cstddef>
#include <optional>
#include <orvane/audioeffects/Export.hpp>
#include <orvane/sdk/Node.hpp>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::extensions::audioeffects {

enum class SettingKind {
  Toggle,   // off (0) or on (1)
  Number,   // any real value
  Integer,  // whole numbers
};

struct SettingInfo {
  std::string id;           // "delay", "dry-mix", "sweep-width"
  std::string name;         // title case: "Delay Time"
  std::string description;  // one sentence
  std::string unit;         // "ms", "s", "Hz", or empty for levels and switches
  SettingKind kind = SettingKind::Number;
  // What a new node holds.
  double defaultValue = 0.0;
  // The range a user interface offers: every value inside works as asked at 44.1 and 48 kHz.
  double minimum = 0.0;
  double maximum = 0.0;
  // True for the switch that turns the effect off, so the input passes through unchanged.
  bool isBypass = false;
  // True when the node itself keeps the value within minimum..maximum (a value outside is
  // stored as the nearer bound); false when the node stores whatever it is given.
  bool clamps = false;
};

class ORVANE_AUDIOEFFECTS_API EffectSettings {
 public:
  // Any thread. The description of an effect by its catalogue type ("Delay", "PingPongDelay",
  // "Vibrato", "Flanger", "Chorus") or by its node's type name ("DelayNode",
  // "OrvaneFlangerNode", ...), so that a saved node can be recreated from either. Null for any
  // other name. The description lives as long as the library stays loaded.
  static const EffectSettings* forType(std::string_view type);

  // Any thread. The catalogue type ("Delay") and the node's type name ("DelayNode").
  const std::string& type() const noexcept { return type_; }
  const std::string& nodeTypeName() const noexcept { return nodeTypeName_; }
  // Any thread. The input channel counts the node accepts: 1 to 2, or exactly 2 for the
  // ping-pong delay. The output always has as many channels as the input.
  unsigned int minimumChannels() const noexcept { return minimumChannels_; }
  unsigned int maximumChannels() const noexcept { return maximumChannels_; }

  // Any thread.
  const std::vector<SettingInfo>& settings() const noexcept { return settings_; }
  // Any thread. The position of a setting in settings(), if the effect has one with this id.
  std::optional<std::size_t> indexOf(std::string_view id) const noexcept;

  // The value a node of this type holds, through its own accessors: 0 or 1 for a switch.
  // Any thread wherever the node's accessors may be called, the audio thread included: no
  // allocation, no lock, no string work. Throws std::out_of_range for an index past
  // settings() and std::bad_cast for a node of another type (mistakes of the caller's).
  double get(Node& node, std::size_t index) const;

  // Gives a node of this type a value through its own accessors. Threads and errors as get().
  // The value reaches the node as its accessor takes it, unbounded: a switch is on for a value
  // above 0; a number becomes the nearest float (±infinity beyond the float range); a whole
  // number is rounded to the nearest and held within 0 to 4294967295. NaN leaves a switch or a
  // whole number as it was, and a number becomes NaN. Where the node clamps (clamps is true),
  // it keeps the value within the setting's range.
  void set(Node& node, std::size_t index, double value) const;

  // Any thread; allocates. What a node of this type will do differently from what its settings
  // ask at this sample rate, one plain sentence each, starting with the effect's type: a delay
  // longer than the 48000-sample line (and where its echoes really fall), a ping-pong delay
  // that is cut, a sweep beyond or behind the ring, echoes that never decay, a value that is not
  // a finite number. Empty when the node will do what it is asked.
  std::vector<std::string> cautions(Node& node, unsigned int sampleRate) const;

  using Getter = double (*)(Node&);
  using Setter = void (*)(Node&, double);
  using Cautions = void (*)(const EffectSettings&, Node&, unsigned int,
                            std::vector<std::string>&);

  // The library builds one description per effect; nobody else needs to.
  struct Accessor {
    Getter get;
    Setter set;
  };
  EffectSettings(std::string type, std::string nodeTypeName, unsigned int minimumChannels,
                 unsigned int maximumChannels, std::vector<SettingInfo> settings,
                 std::vector<Accessor> accessors, Cautions cautions);

 private:
  std::string type_;
  std::string nodeTypeName_;
  unsigned int minimumChannels_;
  unsigned int maximumChannels_;
  std::vector<SettingInfo> settings_;
  std::vector<Accessor> accessors_;
  Cautions cautions_;
};

}  // namespace orvane::extensions::audioeffects
