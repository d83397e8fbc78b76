#pragma once

#include <memory>
#include <orvane/sdk/AudioBuffer.hpp>
#include <orvane/sdk/Export.hpp>
#include <orvane/sdk/OrvaneObject.hpp>
#include <orvane/sdk/Parameter.hpp>
#include <span>
#include <string>
#include <vector>

namespace orvane {

// Anything that can sit in a graph. Its kind is "node"; its type name says what it is.
class ORVANE_SDK_API Node : public OrvaneObject {
 public:
  Node();
  ~Node() override;
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  // Any thread. The name set by the concrete node ("DelayNode", ...); "Node" until then.
  const std::string& getTypeName() const noexcept { return typeName; }

 protected:
  // Concrete nodes overwrite this once, in their constructor.
  std::string typeName;
};

// A node with audio buses and a list of parameters it owns.
class ORVANE_SDK_API AudioNode : public Node {
 public:
  AudioNode(unsigned int numberOfInputBuses, unsigned int numberOfOutputBuses);
  ~AudioNode() override;

  // Any thread.
  unsigned int getNumberOfInputBuses() const noexcept { return numberOfInputBuses_; }
  unsigned int getNumberOfOutputBuses() const noexcept { return numberOfOutputBuses_; }

  // Any thread. The type name unless a node says otherwise.
  virtual std::string getDisplayName() const;
  // Any thread. The list is fixed once the node is constructed; values change atomically.
  virtual const std::vector<std::unique_ptr<Parameter>>& getParameters() const;
  // Any thread. The parameter with that id, or nullptr.
  virtual Parameter* getParameter(const std::string& id) const;

  // Any thread but the audio thread. Parameters are values by id: setValue writes one (within
  // its bounds) and emits "valueChanged" with the id as payload; getValue reads one.
  Result<void> setValue(const std::string& name, const std::any& value) override;
  Result<std::any> getValue(const std::string& name) const override;

 protected:
  // Constructor only; allocates. Appends with ownership; the position in the list is the
  // order of the calls.
  void addParameter(std::unique_ptr<Parameter> parameter);

 private:
  unsigned int numberOfInputBuses_;
  unsigned int numberOfOutputBuses_;
  std::vector<std::unique_ptr<Parameter>> parameters_;
};

// A node that turns input buses into output buses, one block at a time. The host first agrees
// the bus formats, then calls process once per block on its audio thread, never on two threads
// at once.
class ORVANE_SDK_API AudioProcessorNode : public AudioNode {
 public:
  AudioProcessorNode(unsigned int numberOfInputBuses, unsigned int numberOfOutputBuses);
  ~AudioProcessorNode() override;

  // Any thread, while no process call runs. False refuses the formats.
  virtual bool setBusFormats(std::span<AudioBusFormat> inputFormats,
                             std::span<AudioBusFormat> outputFormats) = 0;
  // Audio thread.
  virtual bool process(std::span<AudioBus> inputs, std::span<AudioBus> outputs) = 0;
};

// A processor with exactly one input bus and one output bus. The list-based calls take lists of
// exactly one bus each and forward to the single-bus calls; lists of any other length are
// refused (false) without calling the node.
class ORVANE_SDK_API SingleBusAudioProcessorNode : public AudioProcessorNode {
 public:
  SingleBusAudioProcessorNode();
  ~SingleBusAudioProcessorNode() override;

  bool setBusFormats(std::span<AudioBusFormat> inputFormats,
                     std::span<AudioBusFormat> outputFormats) override;
  // Audio thread. Runs the node with denormal numbers flushed to zero (on CPUs that can), so a
  // decaying feedback tail costs no more than audible input; the caller's floating-point mode
  // is restored before returning.
  bool process(std::span<AudioBus> inputs, std::span<AudioBus> outputs) override;

  // Any thread, while no process call runs. False refuses the pair.
  virtual bool setBusFormat(AudioBusFormat& inputFormat, AudioBusFormat& outputFormat) = 0;
  // Audio thread. The output bus may refer to the same buffer as the input (in place). Runs in
  // the caller's floating-point mode: denormals are flushed only by the bus-list process
  // above, or by a host that sets the mode itself.
  virtual bool process(AudioBus& input, AudioBus& output) = 0;
};

}  // namespace orvane
