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
#include <cstdint>
#include <memory>
#include <optional>
#include <orvane/audioeffects/Export.hpp>
#include <orvane/audioeffects/SettingInfo.hpp>
#include <orvane/sdk/Node.hpp>
#include <orvane/sdk/NodeFactory.hpp>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvane::extensions::audioeffects {

// A named set of values for some of an effect's settings; the others keep their defaults.
struct EffectPreset {
  std::string slug;  // "slapback": stable, for file names and URIs
  std::string name;  // "Slapback"
  std::vector<std::pair<std::string, double>> values;  // setting id, value
};

struct EffectEntry;  // the library's own list of effects

class ORVANE_AUDIOEFFECTS_API EffectSettings {
 public:
  // Any thread. Every effect of the library, in the order the node factory registers them.
  // Front ends list effects from here.
  static std::span<const EffectSettings> all();

  // Any thread. The description of an effect by its catalogue type ("Delay") or by its node's
  // type name ("DelayNode"), so that a saved node can be recreated from either. Null for any
  // other name. The description lives as long as the library stays loaded.
  static const EffectSettings* forType(std::string_view type);

  // Any thread. The catalogue type ("Delay") and the node's type name ("DelayNode").
  const std::string& type() const noexcept;
  const std::string& nodeTypeName() const noexcept;
  // Any thread. The catalogue's display name ("Ping Pong Delay") and description.
  const std::string& displayName() const noexcept;
  const std::string& description() const noexcept;
  // Any thread. A short lower-case name, for file names, plugin labels and URIs ("pingpong").
  const std::string& slug() const noexcept;
  // Any thread. The kind of effect, as plugin hosts sort them ("Delay", "Chorus", "Modulator").
  const std::string& category() const noexcept;
  // Any thread. A number that names this effect's plugins for good: the stereo one, and the
  // mono one (where the effect takes mono) one above.
  std::uint32_t pluginId() const noexcept;
  // Any thread. The input channel counts the node accepts: 1 to 2, or exactly 2 for the
  // ping-pong delay. The output always has as many channels as the input.
  unsigned int minimumChannels() const noexcept;
  unsigned int maximumChannels() const noexcept;
  // Any thread. What the effect does and what to listen for, for someone who has never used
  // one; a paragraph.
  const std::string& guide() const noexcept;
  // Any thread. Named sets of values that come with the effect.
  const std::vector<EffectPreset>& presets() const noexcept;

  // Any thread; allocates. The catalogue record and a new node, exactly as the node factory
  // gives them.
  NodeTypeInfo nodeTypeInfo() const;
  std::unique_ptr<Node> createNode() const;

  // Any thread.
  const std::vector<SettingInfo>& settings() const noexcept;
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

  // The one policy of every front end for a value a user gives: empty when the value is to be
  // taken, else why it is refused ("outside the bounds 0 to 0.99", "not a whole number"). Refused: what is not a finite number; for a switch, anything but 0 or 1; for a whole
  // number, a fraction or a value beyond 0 to 4294967295; for a setting the node keeps within
  // its range (clamps), a value outside it. Any other value outside the offered range is
  // taken as it is, and cautions() says what the node will make of it. Any thread; allocates
  // only to refuse. Throws std::out_of_range for an index past settings().
  std::string refusal(std::size_t index, double value) const;

  // A value as people type it: true or false for a switch, a whole number, or the shortest
  // decimal that reads back as the same value (of the float, for a number that is one: "0.7"
  // for what a node holds as 0.7f). Any thread; allocates.
  static std::string valueText(const SettingInfo& setting, double value);

  // Any thread; allocates. What a node of this type will do differently from what its settings
  // ask at this sample rate, one plain sentence each, starting with the effect's type: a delay
  // longer than the 48000-sample line (and where its echoes really fall), a ping-pong delay
  // that is cut, a sweep beyond or behind the ring, echoes that never decay, a value that is not
  // a finite number. Empty when the node will do what it is asked.
  std::vector<std::string> cautions(Node& node, unsigned int sampleRate) const;
  // The longest a sound takes to come out of `node` with its present settings, in frames at
  // this rate (its longest delay, at most its ring): after that much silence out of the node
  // once its input has ended, nothing more comes. Any thread.
  std::uint64_t reachFrames(Node& node, unsigned int sampleRate) const;

  // Whether the effect's nodes sweep with oscillators (chorus, flanger, vibrato).
  bool hasOscillators() const noexcept;
  // Audio thread, or any thread while no process call runs; no allocation. Puts a node where
  // its first `frames` frames at `sampleRate` leave it (oscillators at their present rate,
  // delay-line positions; what the lines hold stays), so that a host can lock the sweep to
  // its transport; nothing for an effect without oscillators.
  void setPosition(Node& node, std::uint64_t frames, unsigned int sampleRate) const;
  // Audio thread, or any thread while no process call runs; no allocation. `node` as it was
  // made, its settings kept: silent delay lines, positions and oscillators at their start, no
  // format remembered; the samples it gives next are a new node's. Clears only what the node
  // wrote since it was made or last restarted: a node reused clip after clip costs less than a
  // new one, which allocates and clears whole delay lines.
  void restart(Node& node) const;

  // The library builds one per entry of its list; nobody else needs to.
  explicit EffectSettings(const EffectEntry& entry) noexcept : entry_(&entry) {}

 private:
  const EffectEntry* entry_;
};

}  // namespace orvane::extensions::audioeffects
