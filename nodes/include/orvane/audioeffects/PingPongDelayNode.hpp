#pragma once

#include <memory>
#include <orvane/audioeffects/Export.hpp>
#include <orvane/sdk/Node.hpp>
#include <orvane/sdk/NodeFactory.hpp>

namespace orvane::extensions::audioeffects {

// Positions of the node's settings in its parameter list.
enum class PingPongDelayNodeParameters : unsigned int {
  Enabled = 0,   // "enabled", bool, default true
  DryMix = 1,    // "dry-mix", float 0 to 1, default 0.7
  WetMix = 2,    // "wet-mix", float 0 to 1, default 0.3
  Delay = 3,     // "delay", unsigned 1 to 1000 ms, default 200
  Feedback = 4,  // "feedback", float 0 to 0.99, default 0.2
};

// A stereo echo whose feedback crosses between the channels: the left delay line is fed from
// the right one and the right from the left, so a sound on the left returns on both sides and
// then bounces between them.
//
// The settings are host stored parameters, reachable by id through getParameter() and as
// values of the node (setValue("feedback", 0.5)); writes are clamped to each parameter's bounds.
// The typed accessors read and write the same parameters. process reads them once per block.
//
// Not-a-number and infinite samples: the output of the sample that carries one is what the
// arithmetic gives (not finite), but what would be stored in a delay line is stored as 0. A
// NaN or infinity kept in a line would come back with every echo for ever (with feedback, on
// every pass); stored as silence, one bad sample costs one bad output sample, and the effect
// is clean again once its input and settings are finite.
class ORVANE_AUDIOEFFECTS_API PingPongDelayNode : public orvane::SingleBusAudioProcessorNode {
 public:
  // Any thread; allocates two 48000-sample delay lines and the parameters. Throws
  // std::bad_alloc when memory runs out, with nothing left allocated.
  PingPongDelayNode();
  ~PingPongDelayNode() override;

  // Any thread; allocates.
  static orvane::NodeTypeInfo getNodeTypeInfo();

  // Any thread.
  bool getIsEnabled() const;
  void setIsEnabled(bool isEnabled);
  float getDryMix() const;
  void setDryMix(float dryMix);
  float getWetMix() const;
  void setWetMix(float wetMix);
  unsigned int getDelayMs() const;
  void setDelayMs(unsigned int delayMs);
  float getFeedbackLevel() const;
  void setFeedbackLevel(float feedbackLevel);

  // Audio thread, or any thread while no process call runs. The node as it was made, its
  // settings kept: silent delay lines, its position at the start, no format
  // remembered. Only the part of the lines written since it was made or last restarted is
  // cleared, so a node reused for many short clips costs little more per clip than their
  // samples.
  void restart();

  // Any thread, while no process call runs. Accepts matching stereo formats only.
  bool setBusFormat(orvane::AudioBusFormat& inputFormat,
                    orvane::AudioBusFormat& outputFormat) override;
  using orvane::SingleBusAudioProcessorNode::process;
  // Audio thread.
  bool process(orvane::AudioBus& input, orvane::AudioBus& output) override;

 private:
  class Internals;

  void createParameters();
  template <typename P, typename T>
  T getParameterValue(PingPongDelayNodeParameters parameter) const;
  template <typename P, typename T>
  void setParameterValue(PingPongDelayNodeParameters parameter, T value);

  std::unique_ptr<Internals> internals;
};

}  // namespace orvane::extensions::audioeffects
