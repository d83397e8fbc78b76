// Loads the effects the way a host application does and checks a Delay's impulse response.
#include <cmath>
#include <cstdio>
#include <orvane/audioeffects/AudioEffects.hpp>
#include <vector>
#include <memory>

namespace {

using namespace orvane;
using extensions::audioeffects::EffectSettings;

// One block of a test tone through a fresh node of `type`, after `configure` set it up.
template <typename Configure>
std::vector<float> renderTone(NodeFactory& factory, const char* type, Configure configure) {
  constexpr unsigned int kFrames = 24000;
  std::unique_ptr<Node> node = factory.createNode(type);
  configure(*node);
  auto& processor = dynamic_cast<SingleBusAudioProcessorNode&>(*node);
  std::vector<float> left(kFrames), right(kFrames);
  for (unsigned int f = 0; f < kFrames; ++f) {
    left[f] = std::sin(0.01f * static_cast<float>(f));
    right[f] = f % 480 == 0 ? 1.0f : 0.0f;
  }
  float* channels[2] = {left.data(), right.data()};
  AudioBuffer<float> buffer(channels, 2, kFrames, 48000);
  AudioBus bus(buffer);
  processor.process(bus, bus);  // in place
  left.insert(left.end(), right.begin(), right.end());
  return left;
}

// Lists every effect's settings, then sets "delay" on a Delay and "sweep-width" on a Flanger
// through EffectSettings and through the typed accessors: the samples must be the same.
int settingsDriveTheNodes(NodeFactory& factory) {
  for (const NodeTypeInfo& info : factory.getNodeTypes()) {
    const EffectSettings* effect = EffectSettings::forType(info.type);
    if (effect == nullptr) return std::printf("no settings for %s\n", info.type.c_str()), 1;
    std::printf("%s:", info.type.c_str());
    for (const auto& s : effect->settings()) {
      std::printf(" %s=%g%s", s.id.c_str(), s.defaultValue, s.unit.c_str());
    }
    std::printf("\n");
  }
  using extensions::audioeffects::DelayNode;
  using extensions::audioeffects::FlangerNode;
  const EffectSettings& delay = *EffectSettings::forType("Delay");
  const EffectSettings& flanger = *EffectSettings::forType("Flanger");
  const bool delaySame =
      renderTone(factory, "Delay", [&](Node& n) { delay.set(n, *delay.indexOf("delay"), 350); }) ==
      renderTone(factory, "Delay", [](Node& n) { dynamic_cast<DelayNode&>(n).setDelayMs(350); });
  const bool flangerSame =
      renderTone(factory, "Flanger",
                 [&](Node& n) { flanger.set(n, *flanger.indexOf("sweep-width"), 0.002); }) ==
      renderTone(factory, "Flanger",
                 [](Node& n) { dynamic_cast<FlangerNode&>(n).setSweepWidth(0.002f); });
  const bool differs = renderTone(factory, "Delay", [](Node&) {}) !=
                       renderTone(factory, "Delay", [&](Node& n) { delay.set(n, 3, 350); });
  if (!delaySame || !flangerSame || !differs) {
    return std::printf("settings: delay same %d, flanger same %d, setting heard %d\n", delaySame,
                       flangerSame, differs),
           1;
  }
  std::puts("consumer: settings set through EffectSettings give the typed accessors' samples");
  return 0;
}

}  // namespace

int main() {
  using namespace orvane;
  extensions::audioeffects::AudioEffectsExtension::load();
  const std::shared_ptr<Extension> extension =
      ExtensionManager::getInstance().getExtension("AudioEffects");
  if (!extension) return std::puts("no AudioEffects extension"), 1;
  const std::shared_ptr<NodeFactory> factory = extension->getNodeFactory();
  const std::unique_ptr<Node> node = factory->createNode("Delay");
  auto* delay = dynamic_cast<SingleBusAudioProcessorNode*>(node.get());
  if (delay == nullptr) return std::puts("no Delay node"), 1;

  std::vector<AudioBusFormat> inFormats{AudioBusFormat(2)};
  std::vector<AudioBusFormat> outFormats{AudioBusFormat(2)};
  if (!delay->setBusFormats(inFormats, outFormats)) return std::puts("format refused"), 1;

  constexpr unsigned int kFrames = 60000;
  constexpr unsigned int kBlock = 480;
  std::vector<float> input(2 * kFrames, 0.0f);
  std::vector<float> output(2 * kFrames, 0.0f);
  input[0] = 1.0f;
  for (unsigned int start = 0; start < kFrames; start += kBlock) {
    float* in[2] = {input.data() + start, input.data() + kFrames + start};
    float* out[2] = {output.data() + start, output.data() + kFrames + start};
    AudioBuffer<float> inBuffer(in, 2, kBlock, 48000);
    AudioBuffer<float> outBuffer(out, 2, kBlock, 48000);
    std::vector<AudioBus> inputs{AudioBus(inBuffer)};
    std::vector<AudioBus> outputs{AudioBus(outBuffer)};
    delay->process(inputs, outputs);
  }

  float expected = 0.3f;
  for (unsigned int f = 0; f < 2 * kFrames; ++f) {
    float want = 0.0f;
    if (f == 0)
      want = 0.7f;
    else if (f < kFrames && f % 9600 == 0) {
      want = expected;
      expected *= 0.2f;
    }
    if (std::fabs(output[f] - want) > 1e-6f * std::fabs(want) + 1e-30f) {
      std::printf("sample %u: %g, expected %g\n", f, output[f], want);
      return 1;
    }
  }
  std::puts("consumer: Delay impulse response as expected");
  return settingsDriveTheNodes(*factory);
}
