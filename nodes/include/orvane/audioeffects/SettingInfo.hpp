#pragma once

// What one setting of an effect is: its id, name, unit, default and range. Each node lists its
// own settings beside its arithmetic; EffectSettings gathers them for programs that list, set or
// save settings without knowing each node class.

#include <string>

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

}  // namespace orvane::extensions::audioeffects
