#include "Chain.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <iomanip>
#include <limits>
#include <sstream>

namespace orvane::fx {

namespace {

// What an integer setting's accessor can hold: an unsigned 32-bit count.
constexpr double kMaxWhole = std::numeric_limits<std::uint32_t>::max();

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

double parseSettingValue(const SettingInfo& setting, const std::string& type,
                         const std::string& text) {
  const std::string where = type + " " + setting.id + "=" + text;
  if (setting.kind == SettingKind::Toggle) {
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
  const std::string unit = setting.unit.empty() ? "" : " " + setting.unit;
  if (setting.kind == SettingKind::Number && std::abs(value) > std::numeric_limits<float>::max()) {
    throw UsageError(where + ": beyond the largest 32-bit float (3.40282e+38), so the effect "
                     "would get infinity");
  }
  if (setting.kind == SettingKind::Integer) {
    if (value != std::floor(value)) throw UsageError(where + ": expected a whole number");
    if (value < 0.0 || value > kMaxWhole) {
      throw UsageError(where + ": outside what the setting holds, 0 to " +
                       formatSettingValue(setting, kMaxWhole) + unit);
    }
  }
  if (setting.clamps && (value < setting.minimum || value > setting.maximum)) {
    throw UsageError(where + ": outside the bounds " + formatSettingValue(setting, setting.minimum) +
                     " to " + formatSettingValue(setting, setting.maximum) + unit);
  }
  return value;
}

std::string formatSettingValue(const SettingInfo& setting, double value) {
  if (setting.kind == SettingKind::Toggle) return value != 0.0 ? "true" : "false";
  std::ostringstream out;
  out << std::setprecision(setting.kind == SettingKind::Integer ? 10 : 6) << value;
  return out.str();
}

EffectCatalogue::EffectCatalogue() {
  extensions::audioeffects::AudioEffectsExtension::load();
  const std::shared_ptr<Extension> extension =
      ExtensionManager::getInstance().getExtension("AudioEffects");
  if (!extension) throw std::runtime_error("the AudioEffects extension did not register");
  factory_ = extension->getNodeFactory();
  types_ = factory_->getNodeTypes();
}

const EffectSettings& EffectCatalogue::settings(const std::string& type) const {
  for (const NodeTypeInfo& info : types_) {
    if (info.type != type) continue;
    if (const EffectSettings* settings = EffectSettings::forType(type)) return *settings;
  }
  std::string known;
  for (const NodeTypeInfo& info : types_) known += (known.empty() ? "" : ", ") + info.type;
  throw UsageError("unknown effect '" + type + "'; the effects are " + known);
}

std::string EffectCatalogue::channelRule(const std::string& type) const {
  const EffectSettings& effect = settings(type);
  const std::string least = std::to_string(effect.minimumChannels());
  if (effect.minimumChannels() == effect.maximumChannels()) {
    return "exactly " + least + " channels" + (least == "2" ? " (stereo)" : "");
  }
  const std::string most = std::to_string(effect.maximumChannels());
  const bool two = effect.maximumChannels() == effect.minimumChannels() + 1;
  return least + (two ? " or " : " to ") + most + " channels";
}

std::unique_ptr<Node> EffectCatalogue::create(const std::string& type) const {
  settings(type);  // refuses unknown types with the list of known ones
  return factory_->createNode(type);
}

EffectChain::EffectChain(const EffectCatalogue& catalogue, const std::vector<EffectSpec>& effects,
                         unsigned int channels, unsigned int sampleRate,
                         std::vector<std::string>& warnings) {
  for (const EffectSpec& effect : effects) {
    const EffectSettings& knownSettings = catalogue.settings(effect.type);
    std::unique_ptr<Node> node = catalogue.create(effect.type);
    for (const auto& [key, text] : effect.settings) {
      const std::optional<std::size_t> index = knownSettings.indexOf(key);
      if (!index) {
        std::string keys;
        for (const SettingInfo& s : knownSettings.settings()) {
          keys += (keys.empty() ? "" : ", ") + s.id;
        }
        throw UsageError(effect.type + " has no setting '" + key + "'; its settings are " + keys);
      }
      const SettingInfo& setting = knownSettings.settings()[*index];
      knownSettings.set(*node, *index, parseSettingValue(setting, effect.type, text));
    }
    auto* processor = dynamic_cast<SingleBusAudioProcessorNode*>(node.get());
    std::vector<AudioBusFormat> in{AudioBusFormat(channels)};
    std::vector<AudioBusFormat> out{AudioBusFormat(channels)};
    if (processor == nullptr || !processor->setBusFormats(in, out)) {
      throw UsageError(effect.type + " needs " + catalogue.channelRule(effect.type) +
                       "; the input has " + std::to_string(channels));
    }
    for (std::string& warning : knownSettings.cautions(*node, sampleRate)) {
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
