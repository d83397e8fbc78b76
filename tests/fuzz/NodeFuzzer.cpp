// Fuzz target: the input bytes become a sequence of node creations, block formats, setting
// changes and blocks, over every node type. Built with libFuzzer, ASan and UBSan it hunts for
// reads or writes outside a buffer and undefined behaviour; it also checks that a disabled node
// passes its input through bit for bit.
#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <orvane/audioeffects/AudioEffects.hpp>
#include <span>

#include "NodeControls.hpp"

namespace {

using namespace orvane;
using namespace orvane::extensions::audioeffects;

constexpr unsigned int kMaxChannels = 4;
constexpr unsigned int kMaxFrames = 1024;
constexpr int kMaxOperations = 64;

class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return position_ >= size_; }
  std::uint8_t u8() { return position_ < size_ ? data_[position_++] : 0; }
  std::uint32_t u32() {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = (value << 8) | u8();
    return value;
  }
  // Any float, NaNs and infinities included, or one of a few values that matter to the nodes.
  float f32() {
    static constexpr float kTable[] = {0.0f,
                                       1.0f,
                                       -1.0f,
                                       0.5f,
                                       0.001f,
                                       1000.0f,
                                       1e30f,
                                       std::numeric_limits<float>::infinity(),
                                       std::numeric_limits<float>::quiet_NaN()};
    const std::uint8_t pick = u8();
    if (pick < 128) return kTable[pick % std::size(kTable)];
    return std::bit_cast<float>(u32());
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

// Any effect of the library's list, at any capacity its class takes.
std::unique_ptr<SingleBusAudioProcessorNode> makeNode(unsigned int type, unsigned int capacity) {
  const auto effects = EffectSettings::all();
  return orvane::testing::makeNode(effects[type % effects.size()], capacity);
}

// One setting of the node, through the library's description, at a value from the bytes: a
// switch on or off, any float, or a whole number (any, or one up to 2 s).
void changeSetting(Node& node, Bytes& bytes) {
  const std::uint8_t which = bytes.u8();
  const float value = bytes.f32();
  const std::uint32_t whole = bytes.u32();
  const EffectSettings& effect = orvane::testing::effectOf(node);
  const std::size_t index = which % effect.settings().size();
  switch (effect.settings()[index].kind) {
    case SettingKind::Toggle:
      effect.set(node, index, whole % 2 == 0 ? 1.0 : 0.0);
      break;
    case SettingKind::Integer:
      effect.set(node, index, which % 2 == 0 ? whole : whole % 2000);
      break;
    case SettingKind::Number:
      effect.set(node, index, value);
      break;
  }
  auto& audioNode = dynamic_cast<AudioNode&>(node);
  if (!audioNode.getParameters().empty() && which >= 200) {
    const auto& parameter = audioNode.getParameters()[which % audioNode.getParameters().size()];
    audioNode.setValue(parameter->getId(), static_cast<double>(value));
  }
}

bool isEnabled(Node& node) { return orvane::testing::NodeControls(node).isEnabled(); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes bytes(data, size);
  std::unique_ptr<SingleBusAudioProcessorNode> node = makeNode(bytes.u8(), bytes.u8() % 4);
  AudioBuffer<float> input(kMaxChannels, kMaxFrames, 48000);
  AudioBuffer<float> output(kMaxChannels, kMaxFrames, 48000);
  std::array<float*, kMaxChannels> in{};
  std::array<float*, kMaxChannels> out{};
  for (unsigned int c = 0; c < kMaxChannels; ++c) {
    in[c] = input.getChannel(c);
    out[c] = output.getChannel(c);
  }
  unsigned int rate = 48000;
  unsigned int channels = 2;
  unsigned int frames = 64;

  for (int operation = 0; operation < kMaxOperations && !bytes.empty(); ++operation) {
    switch (bytes.u8() % 8) {
      case 0:
        node = makeNode(bytes.u8(), bytes.u8() % 4);
        break;
      case 1: {
        static constexpr unsigned int kRates[] = {0, 1, 8000, 44100, 48000, 96000, 384000};
        const std::uint8_t pick = bytes.u8();
        rate = pick < 200 ? kRates[pick % std::size(kRates)] : bytes.u32();
        break;
      }
      case 2:
        channels = bytes.u8() % (kMaxChannels + 1);
        break;
      case 3:
        frames = ((bytes.u8() << 8) | bytes.u8()) % (kMaxFrames + 1);
        break;
      case 4:
        changeSetting(*node, bytes);
        break;
      case 5: {
        const unsigned int channel = bytes.u8() % kMaxChannels;
        const unsigned int frame = ((bytes.u8() << 8) | bytes.u8()) % kMaxFrames;
        input.setSample(channel, frame, bytes.f32());
        break;
      }
      case 6: {
        AudioBuffer<float> inView(in.data(), channels, frames, rate);
        AudioBuffer<float> outView(out.data(), channels, frames, rate);
        AudioBus inBus(inView);
        AudioBus outBus(outView);
        const bool bypassed = !isEnabled(*node);
        node->process(inBus, outBus);
        if (bypassed) {
          for (unsigned int c = 0; c < channels; ++c) {
            if (std::memcmp(in[c], out[c], frames * sizeof(float)) != 0) std::abort();
          }
        }
        break;
      }
      default: {
        // In place, through the host's bus lists.
        AudioBuffer<float> view(out.data(), channels, frames, rate);
        AudioBus bus(view);
        node->process(std::span<AudioBus>(&bus, 1), std::span<AudioBus>(&bus, 1));
        break;
      }
    }
  }
  return 0;
}
