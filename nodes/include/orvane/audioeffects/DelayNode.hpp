#pragma once

#include <memory>
#include <orvane/audioeffects/Export.hpp>
#include <orvane/sdk/Node.hpp>
#include <orvane/sdk/NodeFactory.hpp>

namespace orvane::extensions::audioeffects {

// A feedback echo. Every channel runs through a 48000-sample delay line of its own; the output
// is dryMix × input + wetMix × delayed, and input + feedbackLevel × delayed goes back into the
// line, so each echo returns quieter by the feedback level.
//
// The delay in samples is trunc(sampleRate / 1000 × delayMs). A delay of 0 ms, or a disabled
// node, passes the input through and freezes the delay lines. Settings are atomics: any thread
// may read or write them while the audio thread processes; none is bounded.
//
// Not-a-number and infinite samples: the output of the sample that carries one is what the
// arithmetic gives (not finite), but what would be stored in a delay line is stored as 0. A
// NaN or infinity kept in a line would come back with every echo for ever (with feedback, on
// every pass); stored as silence, one bad sample costs one bad output sample, and the effect
// is clean again once its input and settings are finite.
class ORVANE_AUDIOEFFECTS_API DelayNode : public orvane::SingleBusAudioProcessorNode {
 public:
  // Any thread; allocates one delay line per channel of capacity.
  explicit DelayNode(unsigned int numberOfChannels);
  ~DelayNode() override;

  // Any thread; allocates.
  static orvane::NodeTypeInfo getNodeTypeInfo();

  // Any thread.
  bool getIsEnabled();
  void setIsEnabled(bool isEnabled);
  float getDryMix();
  void setDryMix(float dryMix);
  float getWetMix();
  void setWetMix(float wetMix);
  unsigned int getDelayMs();
  void setDelayMs(unsigned int delayMs);
  float getFeedbackLevel();
  void setFeedbackLevel(float feedbackLevel);

  // Audio thread, or any thread while no process call runs. The node as it was made, its
  // settings kept: silent delay lines, positions at their start, no format remembered. Only
  // the part of the lines written since it was made or last restarted is cleared, so a node
  // reused for many short clips costs little more per clip than their samples.
  void restart();

  // Any thread, while no process call runs. Accepts matching formats of up to the capacity.
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
