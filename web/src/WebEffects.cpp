// The effects for a web page: a small C interface over the library, compiled to WebAssembly.
// An effect owns its node and one planar buffer of up to maxFrames frames per channel; the
// page (or its AudioWorklet) writes a block of input there, calls oe_process, and reads the
// output from the same place. All memory is allocated by oe_create; oe_process allocates
// nothing, so it is fit for the audio rendering thread.
//
// Whatever JavaScript passes, nothing is read or written outside the module's own buffers: a
// handle that oe_create did not return (or that oe_destroy has ended) is ignored, sizes that
// cannot be allocated are refused with a null handle, and memory grows as effects are created
// (the module returns null, rather than stopping, when it cannot).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <orvane/audioeffects/AudioEffects.hpp>
#include <span>
#include <vector>

namespace {

using orvane::extensions::audioeffects::EffectSettings;

constexpr unsigned int kMaxChannels = 2;
// The largest block an effect is made for: far beyond any render quantum, and small enough
// that a block's buffer is a few megabytes.
constexpr unsigned int kMaxFrames = 1u << 20;
// What a node and its bookkeeping take, with room to spare: two 48000-sample rings and change.
constexpr std::size_t kNodeBytes = 2 * 48000 * sizeof(float) + 1024 * 1024;

orvane::NodeFactory& factory() {
  static const std::shared_ptr<orvane::NodeFactory> instance = [] {
    orvane::extensions::audioeffects::AudioEffectsExtension::load();
    return orvane::ExtensionManager::getInstance().getExtension("AudioEffects")->getNodeFactory();
  }();
  return *instance;
}

using orvane::extensions::audioeffects::OutputStage;

// After an effect's own settings come the two of the output stage every front end puts around
// it: the mix (index count) and the output level in dB (count + 1), as in effect-settings.json.
constexpr unsigned int kStageSettings = 2;

struct WebEffect {
  const EffectSettings* settings;
  OutputStage stage;
  std::unique_ptr<orvane::Node> node;
  orvane::SingleBusAudioProcessorNode* processor;
  unsigned int channels;
  unsigned int maxFrames;
  std::uint32_t sampleRate;
  // channels × maxFrames, planar, from calloc: the one large allocation, checked as it is made.
  std::unique_ptr<float[], decltype(&std::free)> samples{nullptr, &std::free};
  // The block's input, kept for the mix while the node writes over it: the same size.
  std::unique_ptr<float[], decltype(&std::free)> dry{nullptr, &std::free};
  float* pointers[kMaxChannels];
};

// The effects alive now: a handle is used only if it is one of them.
std::vector<WebEffect*>& liveEffects() {
  static std::vector<WebEffect*> live;
  return live;
}

WebEffect* live(WebEffect* effect) {
  const auto& all = liveEffects();
  return std::find(all.begin(), all.end(), effect) != all.end() ? effect : nullptr;
}

// Whether `bytes` more can be had: allocation failure cannot be caught in this build (C++
// exceptions are off), so memory is asked for, and given back, before anything is built.
bool memoryFor(std::size_t bytes) {
  void* probe = std::malloc(bytes);
  std::free(probe);
  return probe != nullptr;
}

}  // namespace

extern "C" {

// A new effect of a catalogue type ("Delay", ...), for blocks of up to maxFrames frames of
// `channels` channels at `sampleRate` Hz; null for an unknown type or a layout it refuses.
WebEffect* oe_create(const char* type, unsigned int channels, unsigned int maxFrames,
                     unsigned int sampleRate) {
  if (type == nullptr || channels == 0 || channels > kMaxChannels || maxFrames == 0 ||
      maxFrames > kMaxFrames || sampleRate == 0) {
    return nullptr;
  }
  const EffectSettings* settings = EffectSettings::forType(type);
  if (settings == nullptr || settings->type() != type) return nullptr;
  const std::size_t blockSamples = std::size_t{channels} * maxFrames;
  std::unique_ptr<float[], decltype(&std::free)> samples(
      static_cast<float*>(std::calloc(blockSamples, sizeof(float))), &std::free);
  std::unique_ptr<float[], decltype(&std::free)> dry(
      static_cast<float*>(std::calloc(blockSamples, sizeof(float))), &std::free);
  if (samples == nullptr || dry == nullptr || !memoryFor(kNodeBytes)) return nullptr;
  liveEffects().reserve(liveEffects().size() + 1);
  auto effect = std::make_unique<WebEffect>();
  effect->samples = std::move(samples);
  effect->dry = std::move(dry);
  effect->settings = settings;
  effect->node = factory().createNode(settings->type());
  effect->processor = dynamic_cast<orvane::SingleBusAudioProcessorNode*>(effect->node.get());
  orvane::AudioBusFormat in(channels), out(channels);
  if (effect->processor == nullptr || !effect->processor->setBusFormat(in, out)) return nullptr;
  effect->channels = channels;
  effect->maxFrames = maxFrames;
  effect->sampleRate = sampleRate;
  for (unsigned int c = 0; c < channels; ++c) {
    effect->pointers[c] = effect->samples.get() + static_cast<std::size_t>(c) * maxFrames;
  }
  liveEffects().push_back(effect.get());  // room reserved above
  return effect.release();
}

// Ends an effect; any other handle, a second call included, is ignored.
void oe_destroy(WebEffect* effect) {
  if (live(effect) == nullptr) return;
  auto& all = liveEffects();
  all.erase(std::find(all.begin(), all.end(), effect));
  delete effect;
}

// Where channel c's samples live in the module's memory; null for a channel or handle that is
// not there.
float* oe_channel(WebEffect* effect, unsigned int channel) {
  if (live(effect) == nullptr) return nullptr;
  return channel < effect->channels ? effect->pointers[channel] : nullptr;
}

unsigned int oe_setting_count(WebEffect* effect) {
  if (live(effect) == nullptr) return 0;
  return static_cast<unsigned int>(effect->settings->settings().size()) + kStageSettings;
}

// Setting `index` in EffectSettings order, as the library takes any value, then the mix and the
// output level, kept within 0 to 1 and the stage's dB range (a value that is not a number
// changes nothing); out-of-range indexes and unknown handles are ignored.
void oe_set(WebEffect* effect, unsigned int index, double value) {
  if (live(effect) == nullptr) return;
  const std::size_t count = effect->settings->settings().size();
  if (index < count) {
    effect->settings->set(*effect->node, index, value);
  } else if (index == count && !std::isnan(value)) {
    effect->stage.mix = static_cast<float>(std::clamp(value, 0.0, 1.0));
  } else if (index == count + 1 && !std::isnan(value)) {
    effect->stage.levelDb =
        std::clamp(value, OutputStage::kLowestLevelDb, OutputStage::kHighestLevelDb);
  }
}

double oe_get(WebEffect* effect, unsigned int index) {
  if (live(effect) == nullptr) return 0.0;
  const std::size_t count = effect->settings->settings().size();
  if (index < count) return effect->settings->get(*effect->node, index);
  if (index == count) return effect->stage.mix;
  if (index == count + 1) return effect->stage.levelDb;
  return 0.0;
}

// How long a sound takes through the effect as it is set now, in frames: after this long of
// silence in, nothing more comes out (the automatic tail's wait).
double oe_reach(WebEffect* effect) {
  if (live(effect) == nullptr) return 0.0;
  return static_cast<double>(effect->settings->reachFrames(*effect->node, effect->sampleRate));
}

// Processes `frames` frames from frame `offset` of the effect's buffer in place (clipped to the
// buffer): a block taken in pieces, with settings changed between them, as automation does.
void oe_process_range(WebEffect* effect, unsigned int offset, unsigned int frames) {
  if (live(effect) == nullptr || offset >= effect->maxFrames) return;
  frames = std::min(frames, effect->maxFrames - offset);
  const bool mixed = effect->stage.mix != 1.0f;
  float* pieces[kMaxChannels];
  for (unsigned int c = 0; c < effect->channels; ++c) {
    pieces[c] = effect->pointers[c] + offset;
    if (mixed) {
      std::copy_n(pieces[c], frames, effect->dry.get() + std::size_t{c} * effect->maxFrames);
    }
  }
  orvane::AudioBuffer<float> buffer(pieces, effect->channels, frames, effect->sampleRate);
  orvane::AudioBus bus(buffer);
  effect->processor->process(std::span<orvane::AudioBus>(&bus, 1),
                             std::span<orvane::AudioBus>(&bus, 1));
  if (effect->stage.active()) {
    for (unsigned int c = 0; c < effect->channels; ++c) {
      effect->stage.apply(effect->dry.get() + std::size_t{c} * effect->maxFrames, pieces[c],
                          frames);
    }
  }
}

// Processes `frames` frames (at most maxFrames) in place in the effect's buffer.
void oe_process(WebEffect* effect, unsigned int frames) { oe_process_range(effect, 0, frames); }

}  // extern "C"
