// Loads the effects the way a host application does and checks a Delay's impulse response.
#include <cmath>
#include <cstdio>
#include <orvane/audioeffects/AudioEffects.hpp>
#include <vector>

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
  return 0;
}
