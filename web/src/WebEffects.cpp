// The effects for a web page: a small C interface over the library, compiled to WebAssembly.
// An effect owns its node and one planar buffer of up to kMaxFrames frames per channel; the
// page (or its AudioWorklet) writes a block of input there, calls oe_process, and reads the
// output from the same place. All memory is allocated by oe_create; oe_process allocates
// nothing, so it is fit for the audio rendering thread.
#include <cstdint>
#include <memory>
#include <orvane/audioeffects/AudioEffects.hpp>
#include <span>
#include <vector>

namespace {

using orvane::extensions::audioeffects::EffectSettings;

constexpr unsigned int kMaxChannels = 2;

orvane::NodeFactory& factory() {
  static const std::shared_ptr<orvane::NodeFactory> instance = [] {
    orvane::extensions::audioeffects::AudioEffectsExtension::load();
    return orvane::ExtensionManager::getInstance().getExtension("AudioEffects")->getNodeFactory();
  }();
  return *instance;
}

struct WebEffect {
  const EffectSettings* settings;
  std::unique_ptr<orvane::Node> node;
  orvane::SingleBusAudioProcessorNode* processor;
  unsigned int channels;
  unsigned int maxFrames;
  std::uint32_t sampleRate;
  std::vector<float> samples;  // channels × maxFrames, planar
  float* pointers[kMaxChannels];
};

}  // namespace

extern "C" {

// A new effect of a catalogue type ("Delay", ...), for blocks of up to maxFrames frames of
// `channels` channels at `sampleRate` Hz; null for an unknown type or a layout it refuses.
WebEffect* oe_create(const char* type, unsigned int channels, unsigned int maxFrames,
                     unsigned int sampleRate) {
  const EffectSettings* settings = EffectSettings::forType(type);
  if (settings == nullptr || settings->type() != type || channels == 0 ||
      channels > kMaxChannels || maxFrames == 0) {
    return nullptr;
  }
  auto effect = std::make_unique<WebEffect>();
  effect->settings = settings;
  effect->node = factory().createNode(settings->type());
  effect->processor = dynamic_cast<orvane::SingleBusAudioProcessorNode*>(effect->node.get());
  orvane::AudioBusFormat in(channels), out(channels);
  if (effect->processor == nullptr || !effect->processor->setBusFormat(in, out)) return nullptr;
  effect->channels = channels;
  effect->maxFrames = maxFrames;
  effect->sampleRate = sampleRate;
  effect->samples.assign(static_cast<std::size_t>(channels) * maxFrames, 0.0f);
  for (unsigned int c = 0; c < channels; ++c) {
    effect->pointers[c] = effect->samples.data() + static_cast<std::size_t>(c) * maxFrames;
  }
  return effect.release();
}

void oe_destroy(WebEffect* effect) { delete effect; }

// Where channel c's samples live in the module's memory.
float* oe_channel(WebEffect* effect, unsigned int channel) {
  return channel < effect->channels ? effect->pointers[channel] : nullptr;
}

unsigned int oe_setting_count(WebEffect* effect) {
  return static_cast<unsigned int>(effect->settings->settings().size());
}

// Setting `index` in EffectSettings order; out-of-range indexes are ignored.
void oe_set(WebEffect* effect, unsigned int index, double value) {
  if (index < effect->settings->settings().size()) effect->settings->set(*effect->node, index, value);
}

double oe_get(WebEffect* effect, unsigned int index) {
  return index < effect->settings->settings().size() ? effect->settings->get(*effect->node, index)
                                                     : 0.0;
}

// Processes `frames` frames (at most maxFrames) in place in the effect's buffer.
void oe_process(WebEffect* effect, unsigned int frames) {
  if (frames > effect->maxFrames) frames = effect->maxFrames;
  orvane::AudioBuffer<float> buffer(effect->pointers, effect->channels, frames, effect->sampleRate);
  orvane::AudioBus bus(buffer);
  effect->processor->process(std::span<orvane::AudioBus>(&bus, 1),
                             std::span<orvane::AudioBus>(&bus, 1));
}

}  // extern "C"
