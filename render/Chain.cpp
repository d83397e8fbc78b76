#include "Chain.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <iomanip>
#include <limits>
#include <sstream>

namespace orvane::fx {

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

double parseSettingValue(const EffectSettings& effect, std::size_t index, const std::string& text,
                         double beatsPerMinute) {
  const SettingInfo& setting = effect.settings().at(index);
  const std::string where = effect.type() + " " + setting.id + "=" + text;
  if (setting.kind == SettingKind::Toggle) {
    if (text == "true" || text == "1") return 1.0;
    if (text == "false" || text == "0") return 0.0;
    throw UsageError(where + ": expected true, false, 1 or 0");
  }
  const bool isTime = setting.unit == "ms" || setting.unit == "s";
  if (isTime && text.find('/') != std::string::npos) {
    if (!(beatsPerMinute > 0.0)) {
      throw UsageError(where + ": a note value needs a tempo; give --bpm N (say --bpm 120)");
    }
    const double milliseconds =
        extensions::audioeffects::noteValueMilliseconds(text, beatsPerMinute);
    if (milliseconds < 0.0) {
      throw UsageError(where + ": not a note value; give 1/4, 1/8, 1/16 (any N/D up to 1/64), "
                       "with a dot for dotted (1/8.) or t for a triplet (1/8t)");
    }
    constexpr double kMillisecond = 0.001;
    double value = setting.unit == "s" ? milliseconds * kMillisecond : milliseconds;
    // A whole-number setting takes the nearest, as it takes any value set on it.
    if (setting.kind == SettingKind::Integer) value = std::round(value);
    const std::string refusal = effect.refusal(index, value);
    if (!refusal.empty()) throw UsageError(where + ": " + refusal);
    return value;
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
  // What is refused here is refused by every front end alike.
  const std::string refusal = effect.refusal(index, value);
  if (!refusal.empty()) throw UsageError(where + ": " + refusal);
  return value;
}

std::string formatSettingValue(const SettingInfo& setting, double value) {
  return EffectSettings::valueText(setting, value);
}

std::shared_ptr<NodeFactory> libraryFactory() {
  // Loaded once per process, however many catalogues, renders and modules ask: each load()
  // registers one more extension with the host for good.
  static const std::shared_ptr<NodeFactory> factory = [] {
    extensions::audioeffects::AudioEffectsExtension::load();
    const std::shared_ptr<Extension> extension =
        ExtensionManager::getInstance().getExtension("AudioEffects");
    if (!extension) throw std::runtime_error("the AudioEffects extension did not register");
    return extension->getNodeFactory();
  }();
  return factory;
}

EffectCatalogue::EffectCatalogue() : factory_(libraryFactory()), types_(factory_->getNodeTypes()) {}

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

namespace {

// "0.2@0,0.8@2s" → breakpoints, each value as the setting takes one and each time in seconds
// (bare, or with s or ms) turned into frames.
std::vector<extensions::audioeffects::Breakpoint> parseEnvelope(
    const EffectSettings& effect, std::size_t index, const std::string& text,
    unsigned int sampleRate, double beatsPerMinute) {
  const std::string where = effect.type() + " " + effect.settings()[index].id + "=" + text;
  std::vector<extensions::audioeffects::Breakpoint> points;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = std::min(text.find(',', start), text.size());
    const std::string point = text.substr(start, comma - start);
    const std::size_t at = point.find('@');
    if (at == std::string::npos || at == 0 || at + 1 == point.size()) {
      throw UsageError(where + ": '" + point + "' is not VALUE@TIME; an envelope is "
                       "VALUE@TIME,VALUE@TIME,... (feedback=0.2@0,0.8@2s)");
    }
    const double value = parseSettingValue(effect, index, point.substr(0, at), beatsPerMinute);
    const std::string time = lowerCase(point.substr(at + 1));
    double seconds = 0.0;
    const auto [parsedTo, error] = std::from_chars(time.data(), time.data() + time.size(), seconds);
    const std::string unit(parsedTo, time.data() + time.size());
    constexpr double kMillisecond = 0.001;
    if (error != std::errc() || !(seconds >= 0.0) || !std::isfinite(seconds) ||
        !(unit.empty() || unit == "s" || unit == "ms")) {
      throw UsageError(where + ": '" + point.substr(at + 1) +
                       "' is not a time; give seconds (2 or 2s) or milliseconds (1500ms), 0 or more");
    }
    if (unit == "ms") seconds *= kMillisecond;
    const auto frame = static_cast<std::uint64_t>(std::llround(seconds * sampleRate));
    if (!points.empty() && frame < points.back().frame) {
      throw UsageError(where + ": the times go backwards at '" + point +
                       "'; give the points in the order they come");
    }
    points.push_back({frame, value});
    start = comma + 1;
  }
  return points;
}

}  // namespace

EffectChain::EffectChain(const EffectCatalogue& catalogue, const std::vector<EffectSpec>& effects,
                         unsigned int channels, unsigned int sampleRate,
                         std::vector<std::string>& warnings, double beatsPerMinute) {
  using extensions::audioeffects::AutomationRunner;
  using extensions::audioeffects::AutomationSchedule;
  using extensions::audioeffects::Envelope;
  for (const EffectSpec& effect : effects) {
    const std::string type = catalogue.resolve(effect.type);
    const EffectSettings& knownSettings = catalogue.settings(type);
    std::unique_ptr<Node> node = catalogue.create(type);
    OutputStage stage;
    auto schedule = std::make_unique<AutomationSchedule>();
    std::string envelopeText;
    for (const auto& [key, text] : effect.settings) {
      const bool isEnvelope = text.find('@') != std::string::npos;
      if (isEnvelope && (lowerCase(key) == "mix" || lowerCase(key) == "level")) {
        throw UsageError(type + " " + key + "=" + text + ": mix and level take one value; an "
                         "effect's own settings take envelopes");
      }
      if (lowerCase(key) == "mix") {
        stage.mix = parseMix(text, type + " mix=" + text);
        continue;
      }
      if (lowerCase(key) == "level") {
        stage.levelDb = parseLevelDb(text, type + " level=" + text);
        continue;
      }
      const std::optional<std::size_t> index = knownSettings.indexOf(lowerCase(key));
      if (!index) {
        std::string keys;
        std::vector<std::string> ids;
        for (const SettingInfo& s : knownSettings.settings()) {
          keys += (keys.empty() ? "" : ", ") + s.id;
          ids.push_back(s.id);
        }
        ids.push_back("mix");
        ids.push_back("level");
        throw UsageError(type + " has no setting '" + key + "'; " + didYouMean(key, ids) +
                         "its settings are " + keys + ", and mix and level, as every effect's");
      }
      if (isEnvelope && knownSettings.settings()[*index].kind == SettingKind::Toggle) {
        throw UsageError(type + " " + key + "=" + text + ": a switch takes one value; "
                         "envelopes move numbers");
      }
      if (isEnvelope) {
        Envelope envelope(parseEnvelope(knownSettings, *index, text, sampleRate, beatsPerMinute));
        // The node starts as the envelope does, for the warnings below and the reach.
        knownSettings.set(*node, *index, envelope.valueAt(0));
        schedule->envelopes.emplace_back(*index, std::move(envelope));
        envelopeText += " " + lowerCase(key) + "=" + text;
        continue;
      }
      knownSettings.set(*node, *index, parseSettingValue(knownSettings, *index, text, beatsPerMinute));
    }
    for (const auto& [index, value] : effect.values) {
      const std::string refusal = knownSettings.refusal(index, value);
      if (!refusal.empty()) {
        throw UsageError(type + " " + knownSettings.settings()[index].id + "=" +
                         EffectSettings::valueText(knownSettings.settings()[index], value) + ": " +
                         refusal);
      }
      knownSettings.set(*node, index, value);
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
    // The longest reach any point of the envelopes gives, for an automatic tail.
    std::uint64_t envelopeReach = 0;
    if (!schedule->envelopes.empty()) {
      const std::unique_ptr<Node> probe = catalogue.create(type);
      envelopeReach = schedule->longestReach(knownSettings, *node, *probe, sampleRate);
    }
    types_.push_back(type);
    settings_.push_back(&knownSettings);
    stages_.push_back(stage);
    processors_.push_back(processor);
    if (schedule->envelopes.empty()) {
      schedules_.push_back(nullptr);
      runners_.push_back(nullptr);
    } else {
      runners_.push_back(std::make_unique<AutomationRunner>(knownSettings, *node, *processor));
      runners_.back()->setSchedule(schedule.get());
      schedules_.push_back(std::move(schedule));
    }
    envelopeTexts_.push_back(envelopeText);
    envelopeReaches_.push_back(envelopeReach);
    nodes_.push_back(std::move(node));
  }
}

void EffectChain::process(AudioBuffer<float>& block) {
  AudioBus bus(block);
  std::span<AudioBus> buses(&bus, 1);
  const std::size_t frames = block.getNumberOfFrames();
  for (std::size_t n = 0; n < processors_.size(); ++n) {
    const OutputStage& stage = stages_[n];
    // A node with envelopes runs in pieces between their set points; one without, whole.
    const auto run = [&] {
      if (runners_[n]) {
        runners_[n]->process(block, framesDone_);
      } else {
        processors_[n]->process(buses, buses);
      }
    };
    if (!stage.active()) {
      run();
      continue;
    }
    const unsigned int channels = block.getNumberOfChannels();
    if (dry_.size() < frames * channels) dry_.resize(frames * channels);  // once, at the largest
    for (unsigned int c = 0; c < channels; ++c) {
      std::copy_n(block.getChannel(c), frames, dry_.data() + c * frames);
    }
    run();
    for (unsigned int c = 0; c < channels; ++c) {
      stage.apply(dry_.data() + c * frames, block.getChannel(c), frames);
    }
  }
  // At mix 1 the stage reads no dry signal: the level alone.
  for (unsigned int c = 0; output_.active() && c < block.getNumberOfChannels(); ++c) {
    output_.apply(block.getChannel(c), block.getChannel(c), frames);
  }
  framesDone_ += frames;
}

std::string EffectChain::describe() const {
  std::string chain;
  for (const std::string& type : types_) chain += (chain.empty() ? "" : " -> ") + type;
  return chain.empty() ? "no effect (a copy)" : chain;
}

unsigned int channelsForMono(const std::vector<EffectSpec>& effects) {
  unsigned int needed = 1;
  for (const EffectSpec& effect : effects) {
    for (const EffectSettings& settings : EffectSettings::all()) {
      if (lowerCase(settings.type()) == lowerCase(effect.type)) {
        needed = std::max(needed, settings.minimumChannels());
      }
    }
  }
  return needed;
}

std::uint64_t EffectChain::reachFrames(unsigned int sampleRate) const {
  std::uint64_t reach = 0;
  for (std::size_t n = 0; n < nodes_.size(); ++n) {
    reach += std::max(settings_[n]->reachFrames(*nodes_[n], sampleRate), envelopeReaches_[n]);
  }
  return reach;
}

std::string EffectChain::settingsText() const {
  std::string text;
  for (std::size_t n = 0; n < nodes_.size(); ++n) {
    text += (n == 0 ? "" : " -> ") + types_[n];
    const auto& list = settings_[n]->settings();
    for (std::size_t i = 0; i < list.size(); ++i) {
      text += " " + list[i].id + "=" + formatSettingValue(list[i], settings_[n]->get(*nodes_[n], i));
    }
    text += envelopeTexts_[n] + stageText(stages_[n]);
  }
  return text.empty() ? "no effect" : text;
}

float parseMix(const std::string& text, const std::string& where) {
  double value = 0.0;
  const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || parsed.ec != std::errc() || parsed.ptr != text.data() + text.size() ||
      !(value >= 0.0 && value <= 1.0)) {
    throw UsageError(where + ": the mix is from 0 (the input only) to 1 (the effect only)");
  }
  return static_cast<float>(value);
}

double parseLevelDb(const std::string& text, const std::string& where) {
  double value = 0.0;
  const char* end = text.data() + text.size();
  const auto parsed = std::from_chars(text.data(), end, value);
  const std::string unit = lowerCase(std::string(parsed.ptr, end));
  if (text.empty() || parsed.ec != std::errc() || (unit != "" && unit != "db") ||
      !(value >= OutputStage::kLowestLevelDb && value <= OutputStage::kHighestLevelDb)) {
    throw UsageError(where + ": the level is in dB (-3dB, or -3), from " +
                     shortestText(OutputStage::kLowestLevelDb) + " to +" +
                     shortestText(OutputStage::kHighestLevelDb));
  }
  return value;
}

std::string stageText(const OutputStage& stage) {
  std::string text;
  if (stage.mix != 1.0f) text += " mix=" + shortestText(stage.mix);
  if (stage.levelDb != 0.0) text += " level=" + shortestText(stage.levelDb) + "dB";
  return text;
}

}  // namespace orvane::fx
