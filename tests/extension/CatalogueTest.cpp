#include <gtest/gtest.h>

#include <any>
#include <memory>
#include <orvane/audioeffects/AudioEffects.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace orvane::extensions::audioeffects {
namespace {

struct Record {
  const char* type;
  const char* displayName;
  const char* description;
  const char* typeName;
};

// The catalogue, in registration order.
const std::vector<Record>& catalogue() {
  static const std::vector<Record> records{
      {"Delay", "Delay", "Applies a delay effect to the input audio signal.", "DelayNode"},
      {"PingPongDelay", "Ping Pong Delay",
       "Applies a ping pong delay effect to the input audio signal.", "PingPongDelayNode"},
      {"Vibrato", "Vibrato", "Applies a vibrato effect to the input audio signal.", "VibratoNode"},
      {"Flanger", "Flanger", "Applies a flanger effect to the input audio signal.",
       "OrvaneFlangerNode"},
      {"Chorus", "Chorus", "Applies a chorus effect to the input audio signal.", "ChorusNode"},
  };
  return records;
}

std::shared_ptr<NodeFactory> factoryFromLoadedExtension() {
  AudioEffectsExtension::load();
  const std::shared_ptr<Extension> extension =
      ExtensionManager::getInstance().getExtension("AudioEffects");
  if (!extension) return nullptr;
  return extension->getNodeFactory();
}

TEST(Extension, LoadRegistersTheExtensionWithTheProcessManager) {
  const std::size_t before = ExtensionManager::getInstance().getExtensions().size();
  AudioEffectsExtension::load();
  const auto extensions = ExtensionManager::getInstance().getExtensions();
  ASSERT_EQ(extensions.size(), before + 1);
  const std::shared_ptr<Extension> extension = extensions.back();
  EXPECT_NE(std::dynamic_pointer_cast<AudioEffectsExtension>(extension), nullptr);
  EXPECT_EQ(extension->getName(), "AudioEffects");
  EXPECT_EQ(extension->getKind(), "extension");
  EXPECT_TRUE(extension->initialize({{"anything", std::any(1)}}).isSuccess());
  EXPECT_TRUE(extension->deinitialize().isSuccess());
}

TEST(Extension, EveryCallGivesANewFactoryWithTheFullCatalogue) {
  const std::shared_ptr<NodeFactory> first = factoryFromLoadedExtension();
  const std::shared_ptr<NodeFactory> second = factoryFromLoadedExtension();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_NE(std::dynamic_pointer_cast<AudioEffectsNodeFactory>(first), nullptr);
  for (const auto& factory : {first, second}) {
    EXPECT_EQ(factory->getNodeTypePrefix(), "AudioEffects");
    const std::vector<NodeTypeInfo> types = factory->getNodeTypes();
    ASSERT_EQ(types.size(), catalogue().size());
    for (std::size_t i = 0; i < types.size(); ++i) {
      const Record& expected = catalogue()[i];
      EXPECT_EQ(types[i].prefix, "AudioEffects");
      EXPECT_EQ(types[i].type, expected.type);
      EXPECT_EQ(types[i].displayName, expected.displayName);
      EXPECT_EQ(types[i].description, expected.description);
      EXPECT_EQ(types[i].categories, (std::vector<std::string>{"Audio Processing", "Effects"}));
      EXPECT_TRUE(types[i].properties.empty());
    }
  }
}

TEST(Factory, CreatesEachTypeIgnoringTheConfigAndNothingForUnknownTypes) {
  AudioEffectsNodeFactory factory;
  for (const Record& record : catalogue()) {
    const std::unique_ptr<Node> plain = factory.createNode(record.type);
    const std::unique_ptr<Node> configured =
        factory.createNode(record.type, {{"channels", std::any(8)}, {"delay", std::any(5.0)}});
    ASSERT_NE(plain, nullptr) << record.type;
    ASSERT_NE(configured, nullptr) << record.type;
    EXPECT_EQ(plain->getTypeName(), record.typeName);
    EXPECT_EQ(configured->getTypeName(), record.typeName);
    auto* processor = dynamic_cast<SingleBusAudioProcessorNode*>(configured.get());
    ASSERT_NE(processor, nullptr);
    AudioBusFormat stereo(2);
    AudioBusFormat alsoStereo(2);
    EXPECT_TRUE(processor->setBusFormat(stereo, alsoStereo)) << record.type;
  }
  EXPECT_EQ(factory.createNode("DelayNode"), nullptr);
  EXPECT_EQ(factory.createNode("delay"), nullptr);
  EXPECT_EQ(factory.createNode("AudioEffects"), nullptr);
}

TEST(Factory, NodesOutliveTheirFactory) {
  std::unique_ptr<Node> node;
  {
    AudioEffectsNodeFactory factory;
    node = factory.createNode("Delay");
  }
  ASSERT_NE(node, nullptr);
  auto& delay = dynamic_cast<DelayNode&>(*node);
  AudioBuffer<float> buffer(2, 16, 48000);
  buffer.setSample(0, 0, 1.0f);
  AudioBus bus(buffer);
  EXPECT_TRUE(delay.process(bus, bus));
  EXPECT_FLOAT_EQ(buffer.getSample(0, 0), 0.7f);
}

TEST(Factory, FactoriesBuildAndCreateOnSeveralThreadsAtOnce) {
  std::vector<std::thread> threads;
  std::vector<int> created(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &created] {
      for (int i = 0; i < 20; ++i) {
        AudioEffectsNodeFactory factory;
        for (const NodeTypeInfo& info : factory.getNodeTypes()) {
          if (factory.createNode(info.type)) ++created[t];
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int count : created) EXPECT_EQ(count, static_cast<int>(20 * catalogue().size()));
}

}  // namespace
}  // namespace orvane::extensions::audioeffects
