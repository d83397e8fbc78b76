#include "Chain.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>

namespace orvane::fx {

namespace {

using namespace orvane::extensions::audioeffects;

constexpr double kRingLength = 48000.0;
constexpr double kMaxUnsigned = std::numeric_limits<std::uint32_t>::max();

template <typename N>
N& as(Node& node) {
  return dynamic_cast<N&>(node);
}

// The settings of a node whose settings are typed accessors only (all but the ping-pong
// delay): enabled plus what `more` adds.
template <typename N>
SettingSpec enabledSetting() {
  return {"enabled",
          "switches the effect on (true) or passes the input through (false)",
          "",
          ValueKind::Bool,
          std::nullopt,
          std::nullopt,
          [](Node& n, double v) { as<N>(n).setIsEnabled(v != 0.0); },
          [](Node& n) { return as<N>(n).getIsEnabled() ? 1.0 : 0.0; }};
}

template <typename N>
std::vector<SettingSpec> modulatedDelaySettings() {
  return {
      enabledSetting<N>(),
      {"sweep-width", "peak of the swept part of the delay", "s", ValueKind::Number, std::nullopt,
       std::nullopt, [](Node& n, double v) { as<N>(n).setSweepWidth(static_cast<float>(v)); },
       [](Node& n) { return static_cast<double>(as<N>(n).getSweepWidth()); }},
      {"frequency", "rate of the sweep", "Hz", ValueKind::Number, std::nullopt, std::nullopt,
       [](Node& n, double v) { as<N>(n).setFrequency(static_cast<float>(v)); },
       [](Node& n) { return static_cast<double>(as<N>(n).getFrequency()); }}};
}

std::vector<SettingSpec> delaySettings() {
  using N = DelayNode;
  auto level = [](std::string key, std::string meaning, void (N::*set)(float), float (N::*get)()) {
    return SettingSpec{std::move(key),
                       std::move(meaning),
                       "",
                       ValueKind::Number,
                       std::nullopt,
                       std::nullopt,
                       [set](Node& n, double v) { (as<N>(n).*set)(static_cast<float>(v)); },
                       [get](Node& n) { return static_cast<double>((as<N>(n).*get)()); }};
  };
  return {
      enabledSetting<N>(),
      level("dry-mix", "linear gain of the input in the output", &N::setDryMix, &N::getDryMix),
      level("wet-mix", "linear gain of the echoes in the output", &N::setWetMix, &N::getWetMix),
      {"delay", "time between echoes (0 passes the input through)", "ms", ValueKind::Whole, 0.0,
       kMaxUnsigned, [](Node& n, double v) { as<N>(n).setDelayMs(static_cast<unsigned int>(v)); },
       [](Node& n) { return static_cast<double>(as<N>(n).getDelayMs()); }},
      level("feedback", "linear gain of each echo relative to the one before", &N::setFeedbackLevel,
            &N::getFeedbackLevel)};
}

// The ping-pong delay's settings are its host parameters, bounds included.
std::vector<SettingSpec> parameterSettings(const Node& prototype) {
  std::vector<SettingSpec> knownSettings;
  const auto& node = dynamic_cast<const AudioNode&>(prototype);
  for (const auto& parameter : node.getParameters()) {
    SettingSpec setting;
    setting.key = parameter->getId();
    setting.meaning = parameter->getDescription();
    setting.unit = setting.key == "delay" ? "ms" : "";
    if (const auto* f = dynamic_cast<const FloatStoredParameter*>(parameter.get())) {
      setting.kind = ValueKind::Number;
      setting.minimum = f->getMinimum();
      setting.maximum = f->getMaximum();
    } else if (const auto* u = dynamic_cast<const UIntStoredParameter*>(parameter.get())) {
      setting.kind = ValueKind::Whole;
      setting.minimum = u->getMinimum();
      setting.maximum = u->getMaximum();
    } else {
      setting.kind = ValueKind::Bool;
    }
    const std::string id = setting.key;
    const ValueKind kind = setting.kind;
    setting.apply = [id, kind](Node& n, double v) {
      auto& audioNode = dynamic_cast<AudioNode&>(n);
      if (kind == ValueKind::Bool) {
        audioNode.setValue(id, v != 0.0);
      } else {
        audioNode.setValue(id, v);
      }
    };
    setting.read = [id](Node& n) {
      const std::any value = dynamic_cast<AudioNode&>(n).getValue(id).getValue();
      if (const auto* b = std::any_cast<bool>(&value)) return *b ? 1.0 : 0.0;
      if (const auto* f = std::any_cast<float>(&value)) return static_cast<double>(*f);
      return static_cast<double>(std::any_cast<unsigned int>(value));
    };
    knownSettings.push_back(std::move(setting));
  }
  return knownSettings;
}

std::string formatNumber(double value) {
  std::ostringstream out;
  out << value;
  return out.str();
}

// What a sweep of up to `sweep` seconds beyond a fixed `margin` does at this rate.
std::optional<std::string> sweepWarning(const std::string& type, float sweep, double margin,
                                        unsigned int sampleRate) {
  const double span = static_cast<double>(sweep) * sampleRate;
  if (!std::isfinite(span)) {
    return type + ": sweep-width " + formatNumber(sweep) +
           " s is not a finite delay; the swept signal will be silent";
  }
  if (span < 0.0) {
    return type + ": a negative sweep-width reads ahead of the signal; the ring wraps and the " +
           "swept signal comes from almost a second earlier";
  }
  if (margin + span > kRingLength) {
    return type + ": sweep-width " + formatNumber(sweep) + " s is " + formatNumber(span) +
           " samples at " + std::to_string(sampleRate) + " Hz, more than the 48000-sample ring " +
           "holds; the delay will wrap around the ring";
  }
  return std::nullopt;
}

}  // namespace

std::vector<EffectSpec> parseChain(const std::vector<std::string>& tokens) {
  std::vector<EffectSpec> effects;
  for (const std::string& token : tokens) {
    const auto equals = token.find('=');
    if (equals == std::string::npos) {
      effects.push_back(EffectSpec{token, {}});
      continue;
    }
    if (effects.empty()) {
      throw UsageError("setting '" + token + "' comes before any effect; name the effect first");
    }
    const std::string key = token.substr(0, equals);
    if (key.empty()) throw UsageError("setting '" + token + "' has no key before '='");
    effects.back().settings.emplace_back(key, token.substr(equals + 1));
  }
  if (effects.empty()) throw UsageError("no effect given; try 'orvane-fx list'");
  return effects;
}

double parseSettingValue(const SettingSpec& setting, const std::string& type,
                         const std::string& text) {
  const std::string where = type + " " + setting.key + "=" + text;
  if (setting.kind == ValueKind::Bool) {
    if (text == "true" || text == "1") return 1.0;
    if (text == "false" || text == "0") return 0.0;
    throw UsageError(where + ": expected true, false, 1 or 0");
  }
  double value = 0.0;
  const char* end = text.data() + text.size();
  const auto [parsedTo, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || parsedTo != end || !std::isfinite(value)) {
    throw UsageError(where + ": not a number");
  }
  if (setting.kind == ValueKind::Whole && value != std::floor(value)) {
    throw UsageError(where + ": expected a whole number");
  }
  if ((setting.minimum && value < *setting.minimum) ||
      (setting.maximum && value > *setting.maximum)) {
    throw UsageError(where + ": outside the bounds " + formatNumber(setting.minimum.value_or(0)) +
                     " to " + formatNumber(setting.maximum.value_or(0)) +
                     (setting.unit.empty() ? "" : " " + setting.unit));
  }
  return value;
}

EffectCatalogue::EffectCatalogue() {
  AudioEffectsExtension::load();
  const std::shared_ptr<Extension> extension =
      ExtensionManager::getInstance().getExtension("AudioEffects");
  if (!extension) throw std::runtime_error("the AudioEffects extension did not register");
  factory_ = extension->getNodeFactory();
  types_ = factory_->getNodeTypes();
  settings_["Delay"] = delaySettings();
  settings_["PingPongDelay"] = parameterSettings(*factory_->createNode("PingPongDelay"));
  settings_["Chorus"] = modulatedDelaySettings<ChorusNode>();
  settings_["Flanger"] = modulatedDelaySettings<FlangerNode>();
  settings_["Vibrato"] = modulatedDelaySettings<VibratoNode>();
}

const std::vector<SettingSpec>& EffectCatalogue::settings(const std::string& type) const {
  const auto it = settings_.find(type);
  if (it == settings_.end()) {
    std::string known;
    for (const NodeTypeInfo& info : types_) known += (known.empty() ? "" : ", ") + info.type;
    throw UsageError("unknown effect '" + type + "'; the effects are " + known);
  }
  return it->second;
}

std::string EffectCatalogue::channelRule(const std::string& type) const {
  return type == "PingPongDelay" ? "exactly 2 channels (stereo)" : "1 or 2 channels";
}

std::unique_ptr<Node> EffectCatalogue::create(const std::string& type) const {
  settings(type);  // refuses unknown types with the list of known ones
  return factory_->createNode(type);
}

std::vector<std::string> EffectCatalogue::warnings(const std::string& type, Node& node,
                                                   unsigned int sampleRate) const {
  std::vector<std::string> found;
  const double perMs = sampleRate / 1000.0;
  if (auto* delay = dynamic_cast<DelayNode*>(&node)) {
    const unsigned int ms = delay->getDelayMs();
    const double samples = std::trunc(perMs * ms);
    if (ms != 0 && (samples > kRingLength || samples < 1.0)) {
      const double heard = samples < 1.0 ? kRingLength : std::fmod(samples, kRingLength);
      found.push_back(type + ": delay=" + std::to_string(ms) + " ms is " + formatNumber(samples) +
                      " samples at " + std::to_string(sampleRate) +
                      " Hz, which the 48000-sample delay line cannot hold; echoes will come " +
                      "every " + formatNumber(heard == 0.0 ? kRingLength : heard) + " samples");
    }
  } else if (auto* pingPong = dynamic_cast<PingPongDelayNode*>(&node)) {
    const unsigned int ms = pingPong->getDelayMs();
    const double samples = std::trunc(perMs * ms);
    if (samples > kRingLength) {
      found.push_back(type + ": delay=" + std::to_string(ms) + " ms is " + formatNumber(samples) +
                      " samples at " + std::to_string(sampleRate) +
                      " Hz; it will be cut to the 48000 samples the delay lines hold (" +
                      formatNumber(kRingLength / perMs) + " ms)");
    } else if (samples < 1.0) {
      found.push_back(type + ": delay=" + std::to_string(ms) + " ms is less than one sample at " +
                      std::to_string(sampleRate) + " Hz; it will be one sample");
    }
  } else if (auto* chorus = dynamic_cast<ChorusNode*>(&node)) {
    if (auto w = sweepWarning(type, chorus->getSweepWidth(), 1002, sampleRate)) found.push_back(*w);
  } else if (auto* flanger = dynamic_cast<FlangerNode*>(&node)) {
    if (auto w = sweepWarning(type, flanger->getSweepWidth(), 2, sampleRate)) found.push_back(*w);
  } else if (auto* vibrato = dynamic_cast<VibratoNode*>(&node)) {
    if (auto w = sweepWarning(type, vibrato->getSweepWidth(), 1, sampleRate)) found.push_back(*w);
  }
  return found;
}

EffectChain::EffectChain(const EffectCatalogue& catalogue, const std::vector<EffectSpec>& effects,
                         unsigned int channels, unsigned int sampleRate,
                         std::vector<std::string>& warnings) {
  for (const EffectSpec& effect : effects) {
    const std::vector<SettingSpec>& knownSettings = catalogue.settings(effect.type);
    std::unique_ptr<Node> node = catalogue.create(effect.type);
    for (const auto& [key, text] : effect.settings) {
      const SettingSpec* setting = nullptr;
      for (const SettingSpec& candidate : knownSettings) {
        if (candidate.key == key) setting = &candidate;
      }
      if (setting == nullptr) {
        std::string keys;
        for (const SettingSpec& s : knownSettings) keys += (keys.empty() ? "" : ", ") + s.key;
        throw UsageError(effect.type + " has no setting '" + key + "'; its settings are " + keys);
      }
      setting->apply(*node, parseSettingValue(*setting, effect.type, text));
    }
    auto* processor = dynamic_cast<SingleBusAudioProcessorNode*>(node.get());
    std::vector<AudioBusFormat> in{AudioBusFormat(channels)};
    std::vector<AudioBusFormat> out{AudioBusFormat(channels)};
    if (processor == nullptr || !processor->setBusFormats(in, out)) {
      throw UsageError(effect.type + " needs " + catalogue.channelRule(effect.type) +
                       "; the input has " + std::to_string(channels));
    }
    for (std::string& warning : catalogue.warnings(effect.type, *node, sampleRate)) {
      warnings.push_back(std::move(warning));
    }
    types_.push_back(effect.type);
    processors_.push_back(processor);
    nodes_.push_back(std::move(node));
  }
}

void EffectChain::process(AudioBuffer<float>& block) {
  AudioBus bus(block);
  std::span<AudioBus> buses(&bus, 1);
  for (SingleBusAudioProcessorNode* processor : processors_) processor->process(buses, buses);
}

std::string EffectChain::describe() const {
  std::string chain;
  for (const std::string& type : types_) chain += (chain.empty() ? "" : " -> ") + type;
  return chain;
}

}  // namespace orvane::fx
