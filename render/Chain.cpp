#include "Chain.hpp"

#include <algorithm>
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
  return effects;
}

std::string lowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1] ? 1 : 0)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string didYouMean(const std::string& typed, const std::vector<std::string>& known) {
  const std::string lowered = lowerCase(typed);
  std::string best;
  std::size_t bestDistance = std::max<std::size_t>(2, typed.size() / 3) + 1;
  for (const std::string& candidate : known) {
    const std::size_t distance = editDistance(lowered, lowerCase(candidate));
    if (distance < bestDistance) {
      bestDistance = distance;
      best = candidate;
    }
  }
  return best.empty() ? "" : "did you mean '" + best + "'? ";
}

double parseSettingValue(const SettingInfo& setting, const std::string& type,
                         const std::string& text) {
  const std::string where = type + " " + setting.id + "=" + text;
  if (setting.kind == SettingKind::Toggle) {
    if (text == "true" || text == "1") return 1.0;
    if (text == "false" || text == "0") return 0.0;
    throw UsageError(where + ": expected true, false, 1 or 0");
  }
  const std::string unit = setting.unit.empty() ? "" : " " + setting.unit;
  double value = 0.0;
  const char* end = text.data() + text.size();
  const auto [parsedTo, error] = std::from_chars(text.data(), end, value);
  const std::string suffix = lowerCase(std::string(parsedTo, end));
  const std::string expected =
      setting.unit == "ms"   ? "milliseconds (350 or 350ms), or seconds (0.35s)"
      : setting.unit == "s"  ? "seconds (0.002 or 0.002s), or milliseconds (2ms)"
      : setting.unit == "Hz" ? "hertz (0.5 or 0.5Hz), millihertz (500mHz) or kilohertz (kHz)"
                             : "a linear gain (0.5), or decibels (-6dB)";
  if (text.empty() || error != std::errc() || !std::isfinite(value)) {
    throw UsageError(where + ": not a number; give " + expected);
  }
  // A value may carry its unit; a bare number is in the setting's own unit.
  if (!suffix.empty()) {
    const std::string own = lowerCase(setting.unit);
    double scale = 0.0;
    if (suffix == own) scale = 1.0;
    if (own == "ms" && suffix == "s") scale = 1000.0;
    if (own == "s" && suffix == "ms") scale = 0.001;
    if (own == "hz" && suffix == "mhz") scale = 0.001;
    if (own == "hz" && suffix == "khz") scale = 1000.0;
    if (own.empty() && suffix == "db") {
      value = std::pow(10.0, value / 20.0);
      scale = 1.0;
    }
    if (scale == 0.0) {
      throw UsageError(where + ": '" + std::string(parsedTo, end) +
                       "' is not a unit of this setting; give " + expected);
    }
    value *= scale;
    if (setting.kind == SettingKind::Integer && std::abs(value - std::round(value)) < 1e-9) {
      value = std::round(value);  // 0.35s is 350 ms, whatever binary fractions make of it
    }
  }
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
  return *EffectSettings::forType(resolve(type));
}

std::string EffectCatalogue::resolve(const std::string& name) const {
  std::vector<std::string> known;
  for (const NodeTypeInfo& info : types_) {
    if (lowerCase(info.type) == lowerCase(name) && EffectSettings::forType(info.type) != nullptr) {
      return info.type;
    }
    known.push_back(info.type);
  }
  std::string list;
  for (const std::string& type : known) list += (list.empty() ? "" : ", ") + type;
  throw UsageError("unknown effect '" + name + "'; " + didYouMean(name, known) +
                   "the effects are " + list);
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
  return factory_->createNode(resolve(type));  // refuses unknown types with the known ones
}

EffectChain::EffectChain(const EffectCatalogue& catalogue, const std::vector<EffectSpec>& effects,
                         unsigned int channels, unsigned int sampleRate,
                         std::vector<std::string>& warnings) {
  for (const EffectSpec& effect : effects) {
    const std::string type = catalogue.resolve(effect.type);
    const EffectSettings& knownSettings = catalogue.settings(type);
    std::unique_ptr<Node> node = catalogue.create(type);
    for (const auto& [key, text] : effect.settings) {
      const std::optional<std::size_t> index = knownSettings.indexOf(lowerCase(key));
      if (!index) {
        std::string keys;
        std::vector<std::string> ids;
        for (const SettingInfo& s : knownSettings.settings()) {
          keys += (keys.empty() ? "" : ", ") + s.id;
          ids.push_back(s.id);
        }
        throw UsageError(type + " has no setting '" + key + "'; " + didYouMean(key, ids) +
                         "its settings are " + keys);
      }
      const SettingInfo& setting = knownSettings.settings()[*index];
      knownSettings.set(*node, *index, parseSettingValue(setting, type, text));
    }
    auto* processor = dynamic_cast<SingleBusAudioProcessorNode*>(node.get());
    std::vector<AudioBusFormat> in{AudioBusFormat(channels)};
    std::vector<AudioBusFormat> out{AudioBusFormat(channels)};
    if (processor == nullptr || !processor->setBusFormats(in, out)) {
      throw UsageError(type + " needs " + catalogue.channelRule(type) + "; the input has " +
                       std::to_string(channels) + " (--channels converts it)");
    }
    for (std::string& warning : knownSettings.cautions(*node, sampleRate)) {
      warnings.push_back(std::move(warning));
    }
    types_.push_back(type);
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
  return chain.empty() ? "no effect (a copy)" : chain;
}

}  // namespace orvane::fx
