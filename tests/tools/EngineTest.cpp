// The renderer's engine used as a library, as the Python module uses it: many catalogues and
// chains in one process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Chain.hpp"

namespace {

TEST(Engine, ManyCataloguesAndChainsLoadTheLibraryOnce) {
  using namespace orvane;
  for (int i = 0; i < 1000; ++i) {
    const fx::EffectCatalogue catalogue;
    std::vector<std::string> warnings;
    fx::EffectChain chain(catalogue, {fx::EffectSpec{"Delay", {{"delay", "5"}}, {{4, 0.5}}}}, 2,
                          48000, warnings);
    AudioBuffer<float> block(2, 64, 48000);
    chain.process(block);
    EXPECT_TRUE(warnings.empty());
  }
  std::size_t registered = 0;
  for (const auto& extension : ExtensionManager::getInstance().getExtensions()) {
    registered += extension->getName() == "AudioEffects" ? 1 : 0;
  }
  EXPECT_EQ(registered, 1u);
}

TEST(Engine, NumbersFromAProgramFollowTheSamePolicyAsTypedOnes) {
  using namespace orvane;
  const fx::EffectCatalogue catalogue;
  std::vector<std::string> warnings;
  // PingPongDelay keeps its feedback within 0 to 0.99: refused, by number as by text.
  EXPECT_THROW(fx::EffectChain(catalogue, {fx::EffectSpec{"PingPongDelay", {}, {{4, 1.5}}}}, 2,
                               48000, warnings),
               fx::UsageError);
  EXPECT_THROW(fx::EffectChain(catalogue, {fx::EffectSpec{"PingPongDelay", {{"feedback", "1.5"}}}},
                               2, 48000, warnings),
               fx::UsageError);
  // Delay stores any feedback: taken, with a warning of what it will do.
  fx::EffectChain taken(catalogue, {fx::EffectSpec{"Delay", {}, {{4, 1.5}}}}, 2, 48000, warnings);
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_NE(warnings[0].find("never decay"), std::string::npos) << warnings[0];
}

}  // namespace
