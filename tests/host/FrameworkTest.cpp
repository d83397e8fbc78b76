#include <gtest/gtest.h>

#include <algorithm>
#include <any>
#include <memory>
#include <orvane/sdk/OrvaneSDK.hpp>
#include <numeric>
#include <string>
#include <vector>

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace orvane {
namespace {

// --- buffers and buses ---------------------------------------------------------------------

TEST(AudioBuffer, OwnsSilentSamplesOrViewsTheCallersMemory) {
  AudioBuffer<float> owned(2, 3, 44100);
  EXPECT_EQ(owned.getNumberOfChannels(), 2u);
  EXPECT_EQ(owned.getNumberOfFrames(), 3u);
  EXPECT_EQ(owned.getSampleRate(), 44100u);
  owned.setSample(1, 2, 0.5f);
  EXPECT_EQ(owned.getSample(1, 2), 0.5f);
  EXPECT_EQ(owned.getSample(0, 2), 0.0f);

  float left[2] = {1, 2};
  float right[2] = {3, 4};
  float* channels[2] = {left, right};
  AudioBuffer<float> view(channels, 2, 2, 48000);
  view.setSample(1, 0, 9.0f);
  EXPECT_EQ(right[0], 9.0f);
  EXPECT_EQ(view.getSample(0, 1), 2.0f);

  AudioBuffer<float> moved(std::move(owned));
  EXPECT_EQ(moved.getSample(1, 2), 0.5f);
  EXPECT_EQ(owned.getNumberOfChannels(), 0u);  // NOLINT: moved-from state is specified
}

TEST(AudioBus, CopyFromCopiesSamplesAndToleratesInPlaceAndSizeMismatch) {
  AudioBuffer<float> a(2, 4, 48000);
  for (unsigned c = 0; c < 2; ++c)
    for (unsigned f = 0; f < 4; ++f) a.setSample(c, f, static_cast<float>(10 * c + f + 1));
  AudioBus busA(a);

  AudioBuffer<float> same(2, 4, 48000);
  AudioBus sameBus(same);
  sameBus.copyFrom(busA);
  for (unsigned c = 0; c < 2; ++c)
    for (unsigned f = 0; f < 4; ++f) EXPECT_EQ(same.getSample(c, f), a.getSample(c, f));

  busA.copyFrom(busA);  // in place: nothing moves
  EXPECT_EQ(a.getSample(1, 3), 14.0f);

  // A view on the same memory is in place too.
  float* pointers[2] = {a.getChannel(0), a.getChannel(1)};
  AudioBuffer<float> alias(pointers, 2, 4, 48000);
  AudioBus aliasBus(alias);
  aliasBus.copyFrom(busA);
  EXPECT_EQ(a.getSample(0, 0), 1.0f);

  // Smaller destination: only what fits; guard samples around it stay untouched.
  std::vector<float> guarded(2 + 2, -7.0f);
  float* small[1] = {guarded.data() + 1};
  AudioBuffer<float> smaller(small, 1, 2, 48000);
  AudioBus smallerBus(smaller);
  smallerBus.copyFrom(busA);
  EXPECT_EQ(guarded, (std::vector<float>{-7.0f, 1.0f, 2.0f, -7.0f}));

  // Larger destination: the part the source lacks is silenced.
  AudioBuffer<float> larger(3, 6, 48000);
  for (unsigned c = 0; c < 3; ++c)
    for (unsigned f = 0; f < 6; ++f) larger.setSample(c, f, 5.0f);
  AudioBus largerBus(larger);
  largerBus.copyFrom(busA);
  EXPECT_EQ(larger.getSample(1, 3), 14.0f);
  EXPECT_EQ(larger.getSample(1, 4), 0.0f);
  EXPECT_EQ(larger.getSample(2, 0), 0.0f);
}

TEST(AudioBus, CopyFromExceptLeavesTheCallersPartOnlyWhenTheMemoryIsApart) {
  AudioBuffer<float> a(2, 4, 48000);
  for (unsigned c = 0; c < 2; ++c)
    for (unsigned f = 0; f < 4; ++f) a.setSample(c, f, static_cast<float>(10 * c + f + 1));
  AudioBus busA(a);

  // Apart: the first channel's first three frames stay as they were; the rest is as copyFrom
  // leaves it, the third channel and the sixth frame silenced.
  AudioBuffer<float> larger(3, 5, 48000);
  for (unsigned c = 0; c < 3; ++c)
    for (unsigned f = 0; f < 5; ++f) larger.setSample(c, f, -1.0f);
  AudioBus largerBus(larger);
  largerBus.copyFromExcept(busA, 1, 3);
  const std::vector<std::vector<float>> expected = {
      {-1, -1, -1, 4, 0}, {11, 12, 13, 14, 0}, {0, 0, 0, 0, 0}};
  for (unsigned c = 0; c < 3; ++c)
    for (unsigned f = 0; f < 5; ++f) EXPECT_EQ(larger.getSample(c, f), expected[c][f]) << c << f;

  // In place, channel for channel: nothing moves.
  float* same[2] = {a.getChannel(0), a.getChannel(1)};
  AudioBuffer<float> alias(same, 2, 4, 48000);
  AudioBus aliasBus(alias);
  aliasBus.copyFromExcept(busA, 2, 4);
  EXPECT_EQ(a.getSample(1, 3), 14.0f);

  // Crossed or shifted memory: a partial copy could change what the caller reads next, so all
  // of it is copied, in copyFrom's order.
  std::vector<float> memory(6);
  float* shiftedInput[1] = {memory.data()};
  float* shiftedOutput[1] = {memory.data() + 1};
  for (float* skew : {memory.data() + 1, memory.data()}) {
    std::iota(memory.begin(), memory.end(), 1.0f);
    shiftedOutput[0] = skew;
    shiftedInput[0] = skew == memory.data() ? memory.data() + 1 : memory.data();
    AudioBuffer<float> from(shiftedInput, 1, 4, 48000);
    AudioBuffer<float> to(shiftedOutput, 1, 4, 48000);
    AudioBus fromBus(from);
    AudioBus toBus(to);
    const std::vector<float> saved(memory);
    toBus.copyFrom(fromBus);
    const std::vector<float> viaCopyFrom(memory);
    std::copy(saved.begin(), saved.end(), memory.begin());
    toBus.copyFromExcept(fromBus, 1, 4);
    EXPECT_EQ(memory, viaCopyFrom);
    EXPECT_NE(memory, saved);
  }

  // Channels of the two buses interleaved in one allocation: their address ranges meet, yet no
  // channel shares memory with another, so they count as apart and the caller's part stays.
  std::vector<float> interleaved(16, -1.0f);
  float* fromChannels[2] = {interleaved.data(), interleaved.data() + 8};
  float* toChannels[2] = {interleaved.data() + 4, interleaved.data() + 12};
  for (unsigned f = 0; f < 4; ++f) fromChannels[0][f] = fromChannels[1][f] = static_cast<float>(f);
  AudioBuffer<float> from(fromChannels, 2, 4, 48000);
  AudioBuffer<float> to(toChannels, 2, 4, 48000);
  AudioBus fromBus(from);
  AudioBus toBus(to);
  toBus.copyFromExcept(fromBus, 1, 2);
  EXPECT_EQ(std::vector<float>(toChannels[0], toChannels[0] + 4), (std::vector<float>{-1, -1, 2, 3}));
  EXPECT_EQ(std::vector<float>(toChannels[1], toChannels[1] + 4), (std::vector<float>{0, 1, 2, 3}));
}

TEST(AudioBusFormat, MatchesEqualNonEmptyChannelCounts) {
  AudioBusFormat stereo(2);
  AudioBusFormat alsoStereo(2);
  AudioBusFormat mono(1);
  AudioBusFormat none(0);
  EXPECT_TRUE(AudioBusFormat::matchBusFormats(stereo, alsoStereo));
  EXPECT_FALSE(AudioBusFormat::matchBusFormats(stereo, mono));
  EXPECT_FALSE(AudioBusFormat::matchBusFormats(none, none));
}

// --- nodes ---------------------------------------------------------------------------------

// Records what the single-bus calls receive; doubles every sample.
class Doubler : public SingleBusAudioProcessorNode {
 public:
  Doubler() {
    typeName = "Doubler";
    addParameter(
        std::make_unique<FloatStoredParameter>("gain", "Gain", "Level.", 2.0f, 0.0f, 4.0f));
  }
  bool setBusFormat(AudioBusFormat& in, AudioBusFormat& out) override {
    ++formatCalls;
    return AudioBusFormat::matchBusFormats(in, out);
  }
  using SingleBusAudioProcessorNode::process;
  bool process(AudioBus& in, AudioBus& out) override {
#if defined(__SSE__) || defined(__x86_64__)
    flushedDuringProcess = (_mm_getcsr() & 0x8040) == 0x8040;
#endif
    out.copyFrom(in);
    AudioBuffer<float>& buffer = out.getBuffer();
    for (unsigned f = 0; f < buffer.getNumberOfFrames(); ++f) {
      buffer.setSample(0, f, 2.0f * buffer.getSample(0, f));
    }
    ++processCalls;
    return true;
  }
  int formatCalls = 0;
  int processCalls = 0;
  bool flushedDuringProcess = false;
};

TEST(SingleBusAudioProcessorNode, ListsOfOneBusMapOntoTheSingleBusCalls) {
  Doubler node;
  EXPECT_EQ(node.getNumberOfInputBuses(), 1u);
  EXPECT_EQ(node.getNumberOfOutputBuses(), 1u);

  std::vector<AudioBusFormat> one{AudioBusFormat(1)};
  std::vector<AudioBusFormat> oneOut{AudioBusFormat(1)};
  std::vector<AudioBusFormat> two{AudioBusFormat(1), AudioBusFormat(1)};
  std::vector<AudioBusFormat> none;
  EXPECT_TRUE(node.setBusFormats(one, oneOut));
  EXPECT_FALSE(node.setBusFormats(two, oneOut));
  EXPECT_FALSE(node.setBusFormats(one, none));
  EXPECT_EQ(node.formatCalls, 1);

  AudioBuffer<float> in(1, 2, 48000);
  in.setSample(0, 1, 3.0f);
  AudioBuffer<float> out(1, 2, 48000);
  std::vector<AudioBus> inputs{AudioBus(in)};
  std::vector<AudioBus> outputs{AudioBus(out)};
  std::vector<AudioBus> noBuses;
  EXPECT_TRUE(node.process(inputs, outputs));
  EXPECT_EQ(out.getSample(0, 1), 6.0f);
  EXPECT_FALSE(node.process(noBuses, outputs));
  EXPECT_EQ(node.processCalls, 1);
}

#if defined(__SSE__) || defined(__x86_64__)
TEST(SingleBusAudioProcessorNode, ListProcessFlushesDenormalsAndRestoresTheCallersMode) {
  Doubler node;
  AudioBuffer<float> in(1, 1, 48000);
  AudioBuffer<float> out(1, 1, 48000);
  std::vector<AudioBus> inputs{AudioBus(in)};
  std::vector<AudioBus> outputs{AudioBus(out)};
  const unsigned int before = _mm_getcsr();
  node.process(inputs, outputs);
  EXPECT_TRUE(node.flushedDuringProcess);
  EXPECT_EQ(_mm_getcsr(), before);

  // A caller that flushes already keeps flushing after the call.
  _mm_setcsr(before | 0x8040);
  node.flushedDuringProcess = false;
  node.process(inputs, outputs);
  EXPECT_TRUE(node.flushedDuringProcess);
  EXPECT_EQ(_mm_getcsr(), before | 0x8040);
  _mm_setcsr(before);
}
#endif

TEST(AudioNode, ParametersAreValuesByIdAndChangesAreAnnounced) {
  Doubler node;
  EXPECT_EQ(node.getKind(), "node");
  EXPECT_EQ(node.getTypeName(), "Doubler");
  EXPECT_EQ(node.getDisplayName(), "Doubler");
  ASSERT_EQ(node.getParameters().size(), 1u);
  EXPECT_EQ(node.getParameter("gain"), node.getParameters()[0].get());
  EXPECT_EQ(node.getParameter("nope"), nullptr);

  std::vector<std::string> changed;
  const auto id = node.on("valueChanged", [&](const std::any& payload) {
    changed.push_back(std::any_cast<std::string>(payload));
  });
  EXPECT_TRUE(node.setValue("gain", 9.0).isSuccess());
  EXPECT_EQ(std::any_cast<float>(node.getValue("gain").getValue()), 4.0f);
  EXPECT_FALSE(node.setValue("gain", std::string("loud")).isSuccess());
  EXPECT_FALSE(node.setValue("nope", 1.0).isSuccess());
  EXPECT_FALSE(node.getValue("nope").isSuccess());
  EXPECT_EQ(changed, std::vector<std::string>{"gain"});
  EXPECT_TRUE(node.off(id));
  EXPECT_FALSE(node.off(id));
  node.setValue("gain", 1.0);
  EXPECT_EQ(changed.size(), 1u);
  EXPECT_FALSE(node.callAction("reset", {}).isSuccess());
}

// --- factories and extensions --------------------------------------------------------------

class TwoTypeFactory : public NodeFactory {
 public:
  TwoTypeFactory() {
    registerNode(NodeTypeInfo{"Test", "B", "Bee", "", {}, {}},
                 [](const NodeConfig&) -> Node* { return new Doubler(); });
    registerNode(NodeTypeInfo{"Test", "A", "Ay", "", {}, {}},
                 [](const NodeConfig&) -> Node* { return new Doubler(); });
  }
  std::string getNodeTypePrefix() const override { return "Test"; }
  void registerAgain() {
    registerNode(NodeTypeInfo{"Test", "A", "", "", {}, {}},
                 [](const NodeConfig&) -> Node* { return nullptr; });
  }
  void registerEmpty() { registerNode(NodeTypeInfo{"Test", "C", "", "", {}, {}}, nullptr); }
};

TEST(NodeFactory, ListsTypesInRegistrationOrderAndCreatesByBareType) {
  TwoTypeFactory factory;
  const auto types = factory.getNodeTypes();
  ASSERT_EQ(types.size(), 2u);
  EXPECT_EQ(types[0].type, "B");
  EXPECT_EQ(types[1].type, "A");
  const std::unique_ptr<Node> node = factory.createNode("A");
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->getTypeName(), "Doubler");
  EXPECT_EQ(factory.createNode("Test.A"), nullptr);
  EXPECT_EQ(factory.createNode(""), nullptr);
  EXPECT_THROW(factory.registerAgain(), std::invalid_argument);
  EXPECT_THROW(factory.registerEmpty(), std::invalid_argument);
  EXPECT_EQ(factory.getNodeTypes().size(), 2u);
}

class NamedExtension : public Extension {
 public:
  explicit NamedExtension(std::string name) : name_(std::move(name)) {}
  std::string getName() const override { return name_; }
  std::shared_ptr<NodeFactory> getNodeFactory() override {
    return std::make_shared<TwoTypeFactory>();
  }

 private:
  std::string name_;
};

TEST(ExtensionManager, IsOnePerProcessAndFindsExtensionsByName) {
  ExtensionManager& manager = ExtensionManager::getInstance();
  EXPECT_EQ(&manager, &ExtensionManager::getInstance());

  auto first = std::make_shared<NamedExtension>("framework-test");
  auto second = std::make_shared<NamedExtension>("framework-test");
  EXPECT_EQ(first->getKind(), "extension");
  EXPECT_TRUE(first->initialize({}).isSuccess());
  EXPECT_TRUE(first->deinitialize().isSuccess());

  const std::size_t before = manager.getExtensions().size();
  manager.registerExtension(first);
  manager.registerExtension(second);
  manager.registerExtension(nullptr);
  EXPECT_EQ(manager.getExtensions().size(), before + 2);
  EXPECT_EQ(manager.getExtension("framework-test"), first);
  EXPECT_EQ(manager.getExtension("no-such-extension"), nullptr);
  EXPECT_EQ(manager.unregisterExtension("framework-test"), 2u);
  EXPECT_EQ(manager.getExtension("framework-test"), nullptr);
  EXPECT_EQ(manager.getExtensions().size(), before);
}

TEST(Result, CarriesAValueOrAnError) {
  const Result<std::any> value = std::any(3);
  EXPECT_TRUE(value.isSuccess());
  EXPECT_EQ(std::any_cast<int>(value.getValue()), 3);
  EXPECT_THROW((void)value.getError(), std::logic_error);
  const Result<std::any> failed = makeError("no");
  EXPECT_FALSE(failed);
  EXPECT_EQ(failed.getError().message, "no");
  EXPECT_THROW((void)failed.getValue(), std::logic_error);
  EXPECT_TRUE(makeSuccess());
}

}  // namespace
}  // namespace orvane
