#include <cmath>
#include <cstdint>
#include <limits>
#include <orvane/audioeffects/ChorusNode.hpp>
#include <orvane/audioeffects/DelayNode.hpp>
#include <orvane/audioeffects/EffectSettings.hpp>
#include <orvane/audioeffects/FlangerNode.hpp>
#include <orvane/audioeffects/PingPongDelayNode.hpp>
#include <orvane/audioeffects/VibratoNode.hpp>
#include <sstream>
#include <stdexcept>
#include <typeinfo>

namespace orvane::extensions::audioeffects {

namespace {

// Every delay line and ring of the library holds this many samples, whatever the rate.
constexpr double kRingLength = 48000.0;
constexpr double kMillisecondsPerSecond = 1000.0;
constexpr double kMaxUnsigned = std::numeric_limits<std::uint32_t>::max();
constexpr double kMaxFloat = std::numeric_limits<float>::max();

// The fixed part of each modulated delay, in samples, before the swept part.
template <typename N>
constexpr float kBaseDelaySamples = 0.0f;
template <>
constexpr float kBaseDelaySamples<ChorusNode> = 1002.0f;
template <>
constexpr float kBaseDelaySamples<FlangerNode> = 2.0f;
template <>
constexpr float kBaseDelaySamples<VibratoNode> = 1.0f;

// ---- Conversions from the double every front end speaks to the node's own types ----

bool toToggle(double value, bool current) { return std::isnan(value) ? current : value > 0.0; }

// IEEE narrowing, made explicit: beyond the float range is ±infinity (a plain cast would be
// undefined there).
float toFloat(double value) {
  if (value > kMaxFloat) return std::numeric_limits<float>::infinity();
  if (value < -kMaxFloat) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(value);
}

unsigned int toWhole(double value, unsigned int current) {
  if (std::isnan(value)) return current;
  const double rounded = std::round(value);
  if (rounded <= 0.0) return 0;
  if (rounded >= kMaxUnsigned) return std::numeric_limits<std::uint32_t>::max();
  return static_cast<unsigned int>(rounded);
}

// ---- Accessors: one getter and setter per setting, through the node's typed accessors ----

template <typename N>
N& as(Node& node) {
  return dynamic_cast<N&>(node);  // std::bad_cast for a node of another type
}

template <typename N>
EffectSettings::Accessor enabledAccessor() {
  return {[](Node& n) { return as<N>(n).getIsEnabled() ? 1.0 : 0.0; },
          [](Node& n, double v) {
            N& node = as<N>(n);
            node.setIsEnabled(toToggle(v, node.getIsEnabled()));
          }};
}

template <typename N, float (N::*Get)(), void (N::*Set)(float)>
EffectSettings::Accessor floatAccessor() {
  return {[](Node& n) { return static_cast<double>((as<N>(n).*Get)()); },
          [](Node& n, double v) { (as<N>(n).*Set)(toFloat(v)); }};
}

template <typename N, float (N::*Get)() const, void (N::*Set)(float)>
EffectSettings::Accessor constFloatAccessor() {
  return {[](Node& n) { return static_cast<double>((as<N>(n).*Get)()); },
          [](Node& n, double v) { (as<N>(n).*Set)(toFloat(v)); }};
}

template <typename N>
EffectSettings::Accessor delayMsAccessor() {
  return {[](Node& n) { return static_cast<double>(as<N>(n).getDelayMs()); },
          [](Node& n, double v) {
            N& node = as<N>(n);
            node.setDelayMs(toWhole(v, node.getDelayMs()));
          }};
}

// ---- Settings shared by several effects ----

SettingInfo enabledSetting() {
  return {"enabled", "Enabled",
          "Switches the effect on, or off so that the input passes through unchanged.", "",
          SettingKind::Toggle, 1.0, 0.0, 1.0, true, false};
}

SettingInfo levelSetting(std::string id, std::string name, std::string description,
                         double defaultValue, bool clamps) {
  return {std::move(id), std::move(name), std::move(description), "", SettingKind::Number,
          defaultValue, 0.0, 1.0, false, clamps};
}

// Defaults below are the nearest floats to what the nodes start with, as doubles, so that a
// fresh node's get() equals them exactly.
std::vector<SettingInfo> delaySettings(bool clamps, double minimumDelayMs) {
  return {
      enabledSetting(),
      levelSetting("dry-mix", "Dry Mix",
                   "How loud the original signal is in the output, as a linear gain.",
                   static_cast<double>(0.7f), clamps),
      levelSetting("wet-mix", "Wet Mix",
                   "How loud the echoes are in the output, as a linear gain.",
                   static_cast<double>(0.3f), clamps),
      {"delay", "Delay Time", "The time between one echo and the next.", "ms",
       SettingKind::Integer, 200.0, minimumDelayMs, 1000.0, false, clamps},
      {"feedback", "Feedback", "How much quieter each echo is than the one before, as a gain.",
       "", SettingKind::Number, static_cast<double>(0.2f), 0.0, static_cast<double>(0.99f), false,
       clamps},
  };
}

std::vector<SettingInfo> sweepSettings(std::string sweepDescription, double defaultSweep,
                                       double maximumSweep, double defaultRate,
                                       double maximumRate) {
  return {
      enabledSetting(),
      {"sweep-width", "Sweep Width", std::move(sweepDescription), "s", SettingKind::Number,
       defaultSweep, 0.0, maximumSweep, false, false},
      {"frequency", "Sweep Rate", "How many times a second the sweep goes up and back down.",
       "Hz", SettingKind::Number, defaultRate, 0.0, maximumRate, false, false},
  };
}

template <typename N>
std::vector<EffectSettings::Accessor> sweepAccessors() {
  return {enabledAccessor<N>(), floatAccessor<N, &N::getSweepWidth, &N::setSweepWidth>(),
          floatAccessor<N, &N::getFrequency, &N::setFrequency>()};
}

// ---- Cautions, each from the node's own arithmetic ----

std::string number(double value) {
  std::ostringstream out;
  out.precision(10);
  out << value;
  return out.str();
}

std::string rateText(unsigned int sampleRate) { return number(sampleRate) + " Hz"; }

// trunc(rate / 1000 × ms) in double, as both delay nodes work it out.
double delaySamples(unsigned int sampleRate, unsigned int delayMs) {
  return std::trunc(static_cast<double>(sampleRate) / kMillisecondsPerSecond * delayMs);
}

void nonFiniteCautions(const EffectSettings& effect, Node& node, std::vector<std::string>& out) {
  const auto& settings = effect.settings();
  for (std::size_t i = 0; i < settings.size(); ++i) {
    if (settings[i].kind != SettingKind::Number) continue;
    const double value = effect.get(node, i);
    if (!std::isfinite(value)) {
      out.push_back(effect.type() + ": " + settings[i].id + " is " + number(value) +
                    ", not a finite number; the effect cannot work as asked");
    }
  }
}

void delayCautions(const EffectSettings& effect, Node& node, unsigned int sampleRate,
                   std::vector<std::string>& out) {
  auto& delay = as<DelayNode>(node);
  const unsigned int ms = delay.getDelayMs();
  // The node saturates the delay at the largest unsigned 32-bit value and places the read
  // position that far behind the write position modulo the ring: what is heard is the remainder
  // (a remainder of 0 reads the slot about to be overwritten, a whole ring earlier).
  const double exact = delaySamples(sampleRate, ms);
  const double samples = std::min(exact, kMaxUnsigned);
  if (ms != 0 && (samples > kRingLength || samples < 1.0)) {
    const double remainder = std::fmod(samples, kRingLength);
    const double heard = remainder == 0.0 ? kRingLength : remainder;
    const std::string held = exact > samples ? " (held as " + number(samples) + ")" : "";
    out.push_back(effect.type() + ": a delay of " + number(ms) + " ms is " + number(exact) +
                  " samples at " + rateText(sampleRate) + held +
                  ", which the 48000-sample delay line cannot hold; the echoes will come every " +
                  number(heard) + " samples (" +
                  number(heard * kMillisecondsPerSecond / sampleRate) + " ms)");
  }
  const float feedback = delay.getFeedbackLevel();
  if (std::abs(feedback) >= 1.0f) {
    out.push_back(effect.type() + ": a feedback of " + number(feedback) +
                  " makes every echo at least as loud as the one before; the echoes never decay");
  }
  nonFiniteCautions(effect, node, out);
}

void pingPongCautions(const EffectSettings& effect, Node& node, unsigned int sampleRate,
                      std::vector<std::string>& out) {
  auto& pingPong = as<PingPongDelayNode>(node);
  const unsigned int ms = pingPong.getDelayMs();
  const double samples = delaySamples(sampleRate, ms);
  // The node keeps its wrap length within 1 to 48000 samples.
  if (ms != 0 && samples > kRingLength) {
    out.push_back(effect.type() + ": a delay of " + number(ms) + " ms is " + number(samples) +
                  " samples at " + rateText(sampleRate) +
                  "; it will be cut to the 48000 samples the delay lines hold (" +
                  number(kRingLength * kMillisecondsPerSecond / sampleRate) + " ms)");
  } else if (ms != 0 && samples < 1.0) {
    out.push_back(effect.type() + ": a delay of " + number(ms) +
                  " ms is less than one sample at " + rateText(sampleRate) +
                  "; it will be one sample");
  }
  nonFiniteCautions(effect, node, out);
}

// The swept delay is base + (sweepWidth × v) × rate samples in float, v running from 0 to 1.
template <typename N>
void sweepCautions(const EffectSettings& effect, Node& node, unsigned int sampleRate,
                   std::vector<std::string>& out) {
  const float sweep = as<N>(node).getSweepWidth();
  const float span = sweep * static_cast<float>(sampleRate);
  if (!std::isfinite(sweep)) {
    // Reported below with the other values that are not finite.
  } else if (!std::isfinite(span)) {
    out.push_back(effect.type() + ": a sweep width of " + number(sweep) + " s is not a finite " +
                  "number of samples at " + rateText(sampleRate) +
                  "; the swept signal will be silent");
  } else if (span < 0.0f) {
    out.push_back(effect.type() + ": a negative sweep width (" + number(sweep) +
                  " s) reads ahead of the signal; the ring wraps and the swept signal comes " +
                  "from almost a second earlier");
  } else if (static_cast<double>(kBaseDelaySamples<N>) + span > kRingLength) {
    out.push_back(effect.type() + ": a sweep width of " + number(sweep) + " s is " +
                  number(span) + " samples at " + rateText(sampleRate) +
                  ", more than the 48000-sample ring holds; the delay will wrap around the ring");
  }
  nonFiniteCautions(effect, node, out);
}

// ---- The five descriptions ----

std::vector<EffectSettings> buildDescriptions() {
  std::vector<EffectSettings> all;
  all.reserve(5);
  all.emplace_back(
      "Delay", "DelayNode", 1, 2, delaySettings(false, 0.0),
      std::vector<EffectSettings::Accessor>{
          enabledAccessor<DelayNode>(),
          floatAccessor<DelayNode, &DelayNode::getDryMix, &DelayNode::setDryMix>(),
          floatAccessor<DelayNode, &DelayNode::getWetMix, &DelayNode::setWetMix>(),
          delayMsAccessor<DelayNode>(),
          floatAccessor<DelayNode, &DelayNode::getFeedbackLevel,
                        &DelayNode::setFeedbackLevel>()},
      delayCautions);
  // The ping-pong delay's settings are its host parameters, which clamp to these same bounds.
  using P = PingPongDelayNode;
  all.emplace_back(
      "PingPongDelay", "PingPongDelayNode", 2, 2, delaySettings(true, 1.0),
      std::vector<EffectSettings::Accessor>{
          enabledAccessor<P>(), constFloatAccessor<P, &P::getDryMix, &P::setDryMix>(),
          constFloatAccessor<P, &P::getWetMix, &P::setWetMix>(), delayMsAccessor<P>(),
          constFloatAccessor<P, &P::getFeedbackLevel, &P::setFeedbackLevel>()},
      pingPongCautions);
  // Sweep ranges: the widest sweep still fits the ring, with the base delay, at rates far above
  // 48 kHz (0.1 s of chorus sweep is 9600 samples at 96 kHz).
  all.emplace_back("Vibrato", "VibratoNode", 1, 2,
                   sweepSettings("How far the delay swings, which sets how far the pitch bends.",
                                 static_cast<double>(0.01f), 0.05, 4.0, 20.0),
                   sweepAccessors<VibratoNode>(),
                   sweepCautions<VibratoNode>);
  all.emplace_back(
      "Flanger", "OrvaneFlangerNode", 1, 2,
      sweepSettings("How far the short delay swings, which sets how far the notches sweep.",
                    static_cast<double>(0.005f), 0.02, static_cast<double>(0.4f), 10.0),
      sweepAccessors<FlangerNode>(), sweepCautions<FlangerNode>);
  all.emplace_back(
      "Chorus", "ChorusNode", 1, 2,
      sweepSettings("How far the delayed copy swings around its delay, which sets how far it "
                    "drifts out of tune.",
                    static_cast<double>(0.025f), 0.1, static_cast<double>(0.2f), 10.0),
      sweepAccessors<ChorusNode>(), sweepCautions<ChorusNode>);
  return all;
}

}  // namespace

EffectSettings::EffectSettings(std::string type, std::string nodeTypeName,
                               unsigned int minimumChannels, unsigned int maximumChannels,
                               std::vector<SettingInfo> settings, std::vector<Accessor> accessors,
                               Cautions cautions)
    : type_(std::move(type)),
      nodeTypeName_(std::move(nodeTypeName)),
      minimumChannels_(minimumChannels),
      maximumChannels_(maximumChannels),
      settings_(std::move(settings)),
      accessors_(std::move(accessors)),
      cautions_(cautions) {
  if (settings_.size() != accessors_.size()) {
    throw std::logic_error(type_ + ": every setting needs one accessor");
  }
}

const EffectSettings* EffectSettings::forType(std::string_view type) {
  static const std::vector<EffectSettings> descriptions = buildDescriptions();
  for (const EffectSettings& effect : descriptions) {
    if (type == effect.type_ || type == effect.nodeTypeName_) return &effect;
  }
  return nullptr;
}

std::optional<std::size_t> EffectSettings::indexOf(std::string_view id) const noexcept {
  for (std::size_t i = 0; i < settings_.size(); ++i) {
    if (settings_[i].id == id) return i;
  }
  return std::nullopt;
}

double EffectSettings::get(Node& node, std::size_t index) const {
  if (index >= accessors_.size()) throw std::out_of_range(type_ + ": no setting at that index");
  return accessors_[index].get(node);
}

void EffectSettings::set(Node& node, std::size_t index, double value) const {
  if (index >= accessors_.size()) throw std::out_of_range(type_ + ": no setting at that index");
  accessors_[index].set(node, value);
}

std::vector<std::string> EffectSettings::cautions(Node& node, unsigned int sampleRate) const {
  std::vector<std::string> found;
  cautions_(*this, node, sampleRate, found);
  return found;
}

}  // namespace orvane::extensions::audioeffects
