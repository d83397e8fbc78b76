#include "EffectPlugin.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <span>
#include <stdexcept>

namespace orvane::plugins {

namespace {

using extensions::audioeffects::EffectSettings;

// The library is loaded as a host application loads it, once per process however many
// instances a plugin host creates.
std::shared_ptr<NodeFactory> loadFactory() {
  static std::once_flag loaded;
  std::call_once(loaded, [] { extensions::audioeffects::AudioEffectsExtension::load(); });
  const std::shared_ptr<Extension> extension =
      ExtensionManager::getInstance().getExtension("AudioEffects");
  if (!extension) throw std::runtime_error("the AudioEffects extension did not register");
  return extension->getNodeFactory();
}

std::uint32_t wholeRate(double sampleRate) {
  const double rounded = std::round(sampleRate);
  if (!(rounded >= 1.0) || rounded > std::numeric_limits<std::uint32_t>::max()) {
    throw std::invalid_argument("the sample rate must be a positive number of hertz");
  }
  return static_cast<std::uint32_t>(rounded);
}

}  // namespace

EffectPlugin::EffectPlugin(const PluginVariant& variant, double sampleRate)
    : variant_(variant),
      settings_(*EffectSettings::forType(variant.type)),
      sampleRate_(wholeRate(sampleRate)),
      smoothingFrames_(static_cast<std::uint64_t>(std::llround(kSmoothingSeconds * sampleRate_))),
      factory_(loadFactory()),
      controls_(variant.controls.size(), nullptr),
      applied_(variant.controls.size(), std::numeric_limits<float>::quiet_NaN()),
      dry_(variant.channels, std::vector<float>(kDryFrames)) {}

std::uint32_t EffectPlugin::portCount(const PluginVariant& variant) {
  return static_cast<std::uint32_t>(variant.controls.size() + 2 * variant.channels);
}

void EffectPlugin::connectPort(std::uint32_t port, float* data) noexcept {
  const std::size_t controls = controls_.size();
  if (port < controls) {
    controls_[port] = data;
  } else if (port < controls + variant_.channels) {
    inputs_[port - controls] = data;
  } else if (port < controls + 2 * variant_.channels) {
    outputs_[port - controls - variant_.channels] = data;
  }
}

void EffectPlugin::connectTempo(float* sync, float* note) noexcept {
  sync_ = sync;
  note_ = note;
}

void EffectPlugin::setTransport(const Transport& transport) noexcept {
  transport_ = transport;
  transportNew_ = true;
}

float EffectPlugin::syncedValue() const noexcept {
  constexpr float kNone = std::numeric_limits<float>::quiet_NaN();
  if (!variant_.syncedSetting || sync_ == nullptr || note_ == nullptr || !(*sync_ >= 0.5f) ||
      !(beatsPerMinute_ > 0.0)) {
    return kNone;
  }
  const float step = std::clamp(*note_, 0.0f, static_cast<float>(kNoteValues.size() - 1));
  if (std::isnan(step)) return kNone;
  const double milliseconds = extensions::audioeffects::noteValueMilliseconds(
      kNoteValues[static_cast<std::size_t>(std::lround(step))], beatsPerMinute_);
  // Whole milliseconds, nearest (halves up), as every front end rounds a note value; the
  // control's range then keeps it where the plugin promises (a whole note at a slow tempo is
  // longer than the longest delay).
  return static_cast<float>(std::round(milliseconds));
}

void EffectPlugin::followTransport() noexcept {
  transportNew_ = false;
  if (transport_.beatsPerMinute > 0.0 && std::isfinite(transport_.beatsPerMinute)) {
    beatsPerMinute_ = transport_.beatsPerMinute;
  }
  const bool jumped = transport_.rolling && (!rolling_ || transport_.frame != expectedFrame_);
  if (jumped && transport_.frame >= 0) {
    settings_.setPosition(*node_, static_cast<std::uint64_t>(transport_.frame), sampleRate_);
  }
  rolling_ = transport_.rolling;
  expectedFrame_ = transport_.frame;
}

void EffectPlugin::activate() {
  std::unique_ptr<Node> node = factory_->createNode(variant_.type);
  auto* processor = dynamic_cast<SingleBusAudioProcessorNode*>(node.get());
  AudioBusFormat in(variant_.channels), out(variant_.channels);
  if (processor == nullptr || !processor->setBusFormat(in, out)) {
    throw std::logic_error(std::string(variant_.label) + ": the node refused its own layout");
  }
  using extensions::audioeffects::AutomationRunner;
  using extensions::audioeffects::Envelope;
  smoothing_.envelopes.clear();
  for (std::size_t i = 0; i < settings_.settings().size(); ++i) {
    if (settings_.settings()[i].kind == extensions::audioeffects::SettingKind::Toggle) continue;
    const double held = settings_.get(*node, i);
    smoothing_.envelopes.emplace_back(i, Envelope({{0, held}, {0, held}}));
  }
  runner_ = std::make_unique<AutomationRunner>(settings_, *node, *processor);
  runner_->setSchedule(&smoothing_);
  runner_->setFirstFrame(0);
  frame_ = 0;
  primed_ = false;
  node_ = std::move(node);
  processor_ = processor;
  // NaN never equals a control value, so the first run gives the node every setting.
  std::fill(applied_.begin(), applied_.end(), std::numeric_limits<float>::quiet_NaN());
  stage_ = {};
  bypassed_ = false;
  // A fresh node stands at frame 0: the next rolling position puts it where that frame does.
  rolling_ = false;
}

void EffectPlugin::run(std::uint32_t frames) noexcept {
  for (unsigned int c = 0; c < variant_.channels; ++c) {
    if (inputs_[c] == nullptr || outputs_[c] == nullptr) return;
  }
  if (processor_ == nullptr) {  // never activated, or activation ran out of memory
    for (unsigned int c = 0; c < variant_.channels; ++c) {
      std::memmove(outputs_[c], inputs_[c], frames * sizeof(float));
    }
    return;
  }
  if (transportNew_) followTransport();
  const float synced = syncedValue();
  for (std::size_t i = 0; i < controls_.size(); ++i) {
    if (controls_[i] == nullptr) continue;
    const float value = i == variant_.syncedSetting && !std::isnan(synced) ? synced : *controls_[i];
    // Compared bit for bit: a changed value is looked at once, not every run.
    if (std::memcmp(&value, &applied_[i], sizeof value) == 0) continue;
    applied_[i] = value;
    // The ranges are the plugin's contract with its host: a host that does not keep a control
    // within them (jalv, OSC, scripts) gets the nearer bound, and a value that is not a number
    // changes nothing. The library itself still takes anything.
    if (std::isnan(value)) continue;
    const PluginControl& control = variant_.controls[i];
    const double setting = control.settingValue(value);
    if (i < settings_.settings().size()) {
      if (control.info->isBypass) {
        settings_.set(*node_, i, setting);
        bypassed_ = setting < 0.5;
        continue;
      }
      for (auto& [index, envelope] : smoothing_.envelopes) {
        if (index != i) continue;
        if (primed_) {
          // From wherever the last glide has got to.
          envelope.moveTo(frame_, envelope.valueAt(frame_), frame_ + smoothingFrames_, setting);
        } else {
          settings_.set(*node_, i, setting);
          envelope.moveTo(frame_, setting, frame_, setting);
        }
      }
    } else if (i == settings_.settings().size()) {
      stage_.mix = static_cast<float>(setting);
    } else {
      stage_.levelDb = setting;
    }
  }
  primed_ = true;
  if (rolling_) expectedFrame_ += frames;
  if (bypassed_ || !stage_.active()) {
    processPiece(0, frames);
    frame_ += frames;
    return;
  }
  // The node's output, then the stage, piece by piece; a node gives the same samples however a
  // run is divided.
  for (std::uint32_t offset = 0; offset < frames; offset += kDryFrames) {
    const std::uint32_t n = std::min(kDryFrames, frames - offset);
    if (stage_.mix != 1.0f) {
      for (unsigned int c = 0; c < variant_.channels; ++c) {
        std::memcpy(dry_[c].data(), inputs_[c] + offset, n * sizeof(float));
      }
    }
    processPiece(offset, n);
    for (unsigned int c = 0; c < variant_.channels; ++c) {
      stage_.apply(dry_[c].data(), outputs_[c] + offset, n);
    }
  }
  frame_ += frames;
}

namespace {

// Whether every output port lies apart from every input port but its own channel's, which it
// may be exactly. Addresses compared as integers: the ports are separate arrays.
bool apartOrInPlace(float* const* inputs, float* const* outputs, unsigned int channels,
                    std::uint32_t frames) noexcept {
  const std::uintptr_t bytes = std::uintptr_t{frames} * sizeof(float);
  for (unsigned int o = 0; o < channels; ++o) {
    const auto out = reinterpret_cast<std::uintptr_t>(outputs[o]);
    for (unsigned int i = 0; i < channels; ++i) {
      const auto in = reinterpret_cast<std::uintptr_t>(inputs[i]);
      if (o == i && in == out) continue;
      if (out < in + bytes && in < out + bytes) return false;
    }
  }
  return true;
}

}  // namespace

void EffectPlugin::processPiece(std::uint32_t offset, std::uint32_t frames) noexcept {
  float* inputs[kMaxChannels] = {};
  float* outputs[kMaxChannels] = {};
  for (unsigned int c = 0; c < variant_.channels; ++c) {
    inputs[c] = inputs_[c] + offset;
    outputs[c] = outputs_[c] + offset;
  }
  AudioBuffer<float> block(outputs, variant_.channels, frames, sampleRate_);
  // Ports apart, or the same channel for channel (in place), are the layouts the node reads
  // from and writes into directly. Any other sharing (an output over another channel's input)
  // goes the safe way: the input copied over first, then processed in place.
  if (apartOrInPlace(inputs, outputs, variant_.channels, frames)) {
    AudioBuffer<float> source(inputs, variant_.channels, frames, sampleRate_);
    runner_->process(source, block, frame_ + offset);
    return;
  }
  for (unsigned int c = 0; c < variant_.channels; ++c) {
    if (outputs[c] != inputs[c]) std::memmove(outputs[c], inputs[c], frames * sizeof(float));
  }
  runner_->process(block, frame_ + offset);
}

}  // namespace orvane::plugins
