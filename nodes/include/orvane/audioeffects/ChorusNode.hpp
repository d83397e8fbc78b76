#pragma once

#include <cstdint>
#include <memory>
#include <orvane/audioeffects/Export.hpp>
#include <orvane/sdk/Node.hpp>
#include <orvane/sdk/NodeFactory.hpp>

namespace orvane::extensions::audioeffects {

// A chorus: every channel plus 0.8 × a copy of itself delayed by 1002 samples and a slowly
// swinging extra delay of up to sweepWidth seconds. Each channel has its own oscillator (0.2 Hz
// at first), a quarter cycle ahead of the previous channel's, so stereo channels sweep in
// quadrature.
//
// A disabled node passes its input through and freezes its delay lines and oscillator phases.
// The settings may be read and written from any thread while the audio thread processes; none
// is bounded (any sweep width, negative or not finite, is safe).
//
// Not-a-number and infinite samples: the output of the sample that carries one is what the
// arithmetic gives (not finite), but what would be stored in a delay line is stored as 0. A
// NaN or infinity kept in a line would come back with every echo for ever (with feedback, on
// every pass); stored as silence, one bad sample costs one bad output sample, and the effect
// is clean again once its input and settings are finite.
class ORVANE_AUDIOEFFECTS_API ChorusNode : public orvane::SingleBusAudioProcessorNode {
 public:
  // Any thread; allocates a 48000-sample delay line per channel of capacity.
  explicit ChorusNode(unsigned int numberOfChannels);
  ~ChorusNode() override;

  // Any thread; allocates.
  static orvane::NodeTypeInfo getNodeTypeInfo();

  // Any thread.
  bool getIsEnabled();
  void setIsEnabled(bool isEnabled);
  // Seconds.
  float getSweepWidth();
  void setSweepWidth(float sweepWidth);
  // Hertz; sets every channel's oscillator. getFrequency is 0 on a node without channels.
  float getFrequency();
  void setFrequency(float frequency);
  // Audio thread, or any thread while no process call runs. The node where its first
  // `frames` frames at `sampleRate` leave it (its oscillators at their present rate, its delay
  // lines' write positions; what the lines hold stays): a host locks the sweep to its
  // transport by giving the transport's frame when it starts or jumps.
  void setPosition(std::uint64_t frames, unsigned int sampleRate);

  // Audio thread, or any thread while no process call runs. The node as it was made, its
  // settings kept: silent delay lines, positions and oscillators at their start, no format
  // remembered. Only the part of the lines written since it was made or last restarted is
  // cleared, so a node reused for many short clips costs little more per clip than their
  // samples.
  void restart();

  // Any thread, while no process call runs. Accepts matching formats of 1 or 2 channels.
  bool setBusFormat(orvane::AudioBusFormat& inputFormat,
                    orvane::AudioBusFormat& outputFormat) override;
  using orvane::SingleBusAudioProcessorNode::process;
  // Audio thread. Channels beyond the capacity pass through unchanged.
  bool process(orvane::AudioBus& input, orvane::AudioBus& output) override;

 private:
  class Internals;
  std::unique_ptr<Internals> internals;
};

}  // namespace orvane::extensions::audioeffects
