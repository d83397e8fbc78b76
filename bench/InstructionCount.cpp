// Runs stereo noise through one node in blocks, for bench/instructions to count the
// instructions of with callgrind (which repeat exactly, unlike times).
// Usage: orvane_instruction_count TYPE FRAMES BLOCK [separate]
//   separate: the output goes to a buffer of its own, as most hosts hand it (else in place)
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <orvane/audioeffects/AudioEffects.hpp>
#include <random>
#include <span>
#include <string>
#include <vector>

using namespace orvane;

// Only this function is counted (callgrind --toggle-collect).
extern "C" __attribute__((noinline)) void orvaneProcessBlocks(SingleBusAudioProcessorNode& node,
                                                             AudioBuffer<float>& input,
                                                             AudioBuffer<float>& output,
                                                             unsigned int blocks) {
  AudioBus in(input);
  AudioBus out(output);
  for (unsigned int i = 0; i < blocks; ++i) {
    node.process(std::span<AudioBus>(&in, 1), std::span<AudioBus>(&out, 1));
  }
}

int main(int argc, char** argv) {
  if (argc != 4 && !(argc == 5 && std::string(argv[4]) == "separate")) {
    std::fprintf(stderr, "usage: orvane_instruction_count TYPE FRAMES BLOCK [separate]\n");
    return 2;
  }
  const std::string type = argv[1];
  const unsigned long frames = std::strtoul(argv[2], nullptr, 10);
  const unsigned int block = static_cast<unsigned int>(std::strtoul(argv[3], nullptr, 10));
  extensions::audioeffects::AudioEffectsNodeFactory factory;
  std::unique_ptr<Node> node = factory.createNode(type);
  auto* processor = dynamic_cast<SingleBusAudioProcessorNode*>(node.get());
  if (processor == nullptr || block == 0) return 2;
  AudioBusFormat format(2), same(2);
  processor->setBusFormat(format, same);
  AudioBuffer<float> buffer(2, block, 48000);
  AudioBuffer<float> separateOutput(2, block, 48000);
  AudioBuffer<float>& output = argc == 5 ? separateOutput : buffer;
  std::mt19937 random(1);
  std::uniform_real_distribution<float> uniform(-0.5f, 0.5f);
  for (unsigned int c = 0; c < 2; ++c) {
    for (unsigned int f = 0; f < block; ++f) buffer.setSample(c, f, uniform(random));
  }
  // One block first, outside the count: the first block at a new format clears the delay
  // lines (a one-off cost of a format change, not of processing).
  AudioBus warmUp(buffer);
  processor->process(std::span<AudioBus>(&warmUp, 1), std::span<AudioBus>(&warmUp, 1));
  orvaneProcessBlocks(*processor, buffer, output, static_cast<unsigned int>(frames / block));
  return 0;
}
