// The renderer's engine used as a library, as the Python module uses it: many catalogues and
// chains in one process.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "Chain.hpp"
#include "Render.hpp"

namespace {

// Samples given in full, as a file would give them.
class GivenSamples final : public orvane::fx::SignalSource {
 public:
  explicit GivenSamples(std::vector<std::vector<float>> channels) : channels_(std::move(channels)) {}
  unsigned int channels() const override { return static_cast<unsigned int>(channels_.size()); }
  unsigned int sampleRate() const override { return 48000; }
  std::uint64_t frames() const override { return channels_[0].size(); }
  unsigned int read(float* const* to, unsigned int count) override {
    const auto n = static_cast<unsigned int>(
        std::min<std::size_t>(count, channels_[0].size() - position_));
    for (std::size_t c = 0; c < channels_.size(); ++c) {
      std::copy_n(channels_[c].begin() + static_cast<std::ptrdiff_t>(position_), n, to[c]);
    }
    position_ += n;
    return n;
  }

 private:
  std::vector<std::vector<float>> channels_;
  std::size_t position_ = 0;
};

TEST(Engine, ARenderFindsThePeakAndCountsEverySampleBeyondFullScaleWhereverTheyLie) {
  using namespace orvane;
  // 5003 frames in blocks of 512: samples past full scale at the start and end of blocks, in
  // every lane group of the peak's vector loop, in its short tail and in the last few frames
  // it takes one by one; a NaN, which counts as neither.
  constexpr unsigned int kFrames = 5003;
  std::mt19937 random(7);
  std::uniform_real_distribution<float> quiet(-0.9f, 0.9f);
  std::vector<std::vector<float>> samples(2, std::vector<float>(kFrames));
  for (auto& channel : samples) {
    for (float& v : channel) v = quiet(random);
  }
  // (The loop takes 16 frames at a time as four groups of four; the last block has 395 frames.)
  for (unsigned int f : {0u, 13u, 17u, 1029u, 4090u, 4095u, 4999u, 5002u}) samples[0][f] = 1.5f;
  for (unsigned int f : {3u, 1000u}) samples[1][f] = -1.25f;
  samples[1][4613] = -3.0f;  // the peak, in the second group
  samples[0][50] = std::numeric_limits<float>::quiet_NaN();
  GivenSamples source(samples);
  const fx::EffectCatalogue catalogue;
  std::vector<std::string> warnings;
  fx::EffectChain chain(catalogue, {}, 2, 48000, warnings);
  fx::SoundFileWriter writer(testing::TempDir() + "peak.wav", 2, 48000, fx::SampleFormat::Float,
                             kFrames);
  fx::RenderOptions options;
  options.blockSize = 512;
  const fx::RenderResult result = fx::render(source, chain, writer, nullptr, options);
  EXPECT_EQ(result.frames, kFrames);
  EXPECT_EQ(result.peak, 3.0f);
  EXPECT_EQ(result.overFullScale, 11u);
}

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
