// The nodes against straightforward implementations of their arithmetic, written from the
// algorithms with no regard for speed (std::fmod for every read position, % for every wrap).
// Whatever the nodes do to be fast, their output must stay the same floats, bit for bit, over
// noise, odd block sizes, setting changes between blocks and format changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <numbers>
#include <random>
#include <string>
#include <orvane/audioeffects/AudioEffects.hpp>
#include <vector>

#include "TestSignals.hpp"

namespace orvane::extensions::audioeffects {
namespace {

using orvane::testing::noise;
using orvane::testing::render;
using orvane::testing::Signal;

constexpr int kLength = 48000;

float finiteOrZero(float v) { return std::isfinite(v) ? v : 0.0f; }

struct Ring {
  std::vector<float> samples = std::vector<float>(kLength, 0.0f);
  std::int64_t write = 0;
  std::int64_t read = 0;

  static std::int64_t modulo(std::int64_t v) { return ((v % kLength) + kLength) % kLength; }
  void clear() { std::fill(samples.begin(), samples.end(), 0.0f); }
  void step() { write = modulo(write + 1); }
  float at(float p) const {  // the host's linear interpolation, wrapping from last to first
    if (!std::isfinite(p)) return 0.0f;
    p = std::fmod(p, static_cast<float>(kLength));
    if (p < 0.0f) p += static_cast<float>(kLength);
    if (!(p < static_cast<float>(kLength))) p = 0.0f;
    const auto i = static_cast<std::int64_t>(p);
    const float fraction = p - static_cast<float>(i);
    return samples[i] * (1.0f - fraction) + samples[modulo(i + 1)] * fraction;
  }
};

// Settings of every kind of node; each reference uses the ones its effect has.
struct Settings {
  bool enabled = true;
  float dry = 0.7f, wet = 0.3f, feedback = 0.2f;
  unsigned int delayMs = 200;
  float sweep = 0.0f, frequency = 0.0f;
};

struct Reference {
  virtual ~Reference() = default;
  virtual Signal process(const Signal& in, unsigned int rate, const Settings& s) = 0;
};

struct DelayReference : Reference {
  std::vector<Ring> rings = std::vector<Ring>(2);
  unsigned int lastDelay = 0, lastRate = 0, lastChannels = 0;

  Signal process(const Signal& in, unsigned int rate, const Settings& s) override {
    Signal out = in;
    const auto channels = static_cast<unsigned int>(in.size());
    if (!s.enabled || s.delayMs == 0) return out;
    const bool rateChanged = rate != lastRate;
    if (rateChanged || channels != lastChannels) {
      for (Ring& r : rings) r.clear();
      lastRate = rate;
      lastChannels = channels;
    }
    if (s.delayMs != lastDelay || rateChanged) {
      const double d = std::trunc(static_cast<double>(rate) / 1000.0 * s.delayMs);
      const auto delay = static_cast<std::int64_t>(std::min(d, 4294967295.0));
      for (Ring& r : rings) r.read = Ring::modulo(r.write - delay);
      lastDelay = s.delayMs;
    }
    for (std::size_t f = 0; f < in[0].size(); ++f) {
      for (unsigned int c = 0; c < std::min(channels, 2u); ++c) {
        Ring& r = rings[c];
        const float x = in[c][f];
        const float d = r.samples[r.read];
        r.samples[r.write] = finiteOrZero(x + s.feedback * d);
        out[c][f] = x * s.dry + d * s.wet;
        r.write = Ring::modulo(r.write + 1);
        r.read = Ring::modulo(r.read + 1);
      }
    }
    return out;
  }
};

struct PingPongReference : Reference {
  std::vector<float> left = std::vector<float>(kLength), right = std::vector<float>(kLength);
  std::uint32_t position = 0, length = 0;
  unsigned int lastDelay = 0, lastRate = 0;

  Signal process(const Signal& in, unsigned int rate, const Settings& s) override {
    Signal out = in;
    if (!s.enabled) return out;
    if (rate != lastRate || s.delayMs != lastDelay) {
      const double d = std::trunc(static_cast<double>(rate) / 1000.0 * s.delayMs);
      length = static_cast<std::uint32_t>(std::clamp(d, 1.0, static_cast<double>(kLength)));
      lastRate = rate;
      lastDelay = s.delayMs;
    }
    for (std::size_t f = 0; f < in[0].size(); ++f) {
      for (unsigned int c = 0; c < in.size(); ++c) {
        std::vector<float>& own = c == 0 ? left : right;
        std::vector<float>& other = c == 0 ? right : left;
        const float x = in[c][f];
        const float d = own[position];
        out[c][f] = x * s.dry + d * s.wet;
        own[position] = finiteOrZero(x + s.feedback * other[position]);
      }
      position = (position + 1) % length;
    }
    return out;
  }
};

// Chorus (margin 1002, no feedback) and Flanger (margin 2, feedback 0.6): read, then write.
struct SweptReference : Reference {
  std::vector<Ring> rings = std::vector<Ring>(2);
  std::vector<LFO> lfos = std::vector<LFO>(2);
  unsigned int lastRate = 0, lastChannels = 0;
  float margin, feedback;

  SweptReference(float marginSamples, float feedbackLevel, float hertz)
      : margin(marginSamples), feedback(feedbackLevel) {
    for (int c = 0; c < 2; ++c) {
      lfos[c].setFrequency(hertz);
      lfos[c].setAmplitude(0.5f);
      lfos[c].setOffset(0.5f);
      lfos[c].setPhaseOffset(static_cast<float>(c * std::numbers::pi / 2));
    }
  }

  Signal process(const Signal& in, unsigned int rate, const Settings& s) override {
    Signal out = in;
    const auto channels = static_cast<unsigned int>(in.size());
    if (!s.enabled) return out;
    for (LFO& lfo : lfos) lfo.setFrequency(s.frequency);
    if (rate != lastRate || channels != lastChannels) {
      for (Ring& r : rings) r.clear();
      lastRate = rate;
      lastChannels = channels;
    }
    for (std::size_t f = 0; f < in[0].size(); ++f) {
      for (unsigned int c = 0; c < channels; ++c) {
        Ring& r = rings[c];
        const float d =
            (s.sweep * lfos[c].process(static_cast<int>(rate))) * static_cast<float>(rate);
        const float x = in[c][f];
        const float size = static_cast<float>(kLength);
        const float delayed =
            r.at(std::fmod(((static_cast<float>(r.write) - d) - margin) + size, size));
        r.samples[r.write] = finiteOrZero(feedback == 0.0f ? x : x + feedback * delayed);
        r.step();
        out[c][f] = x + 0.8f * delayed;
      }
    }
    return out;
  }
};

struct VibratoReference : Reference {
  std::vector<Ring> rings = std::vector<Ring>(2);
  LFO lfo;
  unsigned int lastRate = 0, lastChannels = 0;

  VibratoReference() {
    lfo.setAmplitude(0.5f);
    lfo.setOffset(0.5f);
  }

  Signal process(const Signal& in, unsigned int rate, const Settings& s) override {
    Signal out = in;
    const auto channels = static_cast<unsigned int>(in.size());
    if (!s.enabled) return out;
    lfo.setFrequency(s.frequency);
    if (rate != lastRate || channels != lastChannels) {
      for (Ring& r : rings) r.clear();
      lastRate = rate;
      lastChannels = channels;
    }
    for (std::size_t f = 0; f < in[0].size(); ++f) {
      const float d = (s.sweep * lfo.process(static_cast<int>(rate))) * static_cast<float>(rate);
      for (unsigned int c = 0; c < channels; ++c) {
        Ring& r = rings[c];
        r.samples[r.write] = finiteOrZero(in[c][f]);
        const float size = static_cast<float>(kLength);
        out[c][f] = r.at(std::fmod(((static_cast<float>(r.write) - d) - 1.0f) + size, size));
        r.step();
      }
    }
    return out;
  }
};

void apply(Node& node, const Settings& s) {
  if (auto* n = dynamic_cast<DelayNode*>(&node)) {
    n->setIsEnabled(s.enabled);
    n->setDryMix(s.dry);
    n->setWetMix(s.wet);
    n->setFeedbackLevel(s.feedback);
    n->setDelayMs(s.delayMs);
  } else if (auto* p = dynamic_cast<PingPongDelayNode*>(&node)) {
    p->setIsEnabled(s.enabled);
    p->setDryMix(s.dry);
    p->setWetMix(s.wet);
    p->setFeedbackLevel(s.feedback);
    p->setDelayMs(s.delayMs);
  } else {
    auto set = [&](auto* m) {
      m->setIsEnabled(s.enabled);
      m->setSweepWidth(s.sweep);
      m->setFrequency(s.frequency);
    };
    if (auto* m = dynamic_cast<ChorusNode*>(&node)) set(m);
    if (auto* m = dynamic_cast<FlangerNode*>(&node)) set(m);
    if (auto* m = dynamic_cast<VibratoNode*>(&node)) set(m);
  }
}

struct Case {
  const char* name;
  std::function<std::unique_ptr<SingleBusAudioProcessorNode>()> node;
  std::function<std::unique_ptr<Reference>()> reference;
  Settings initial;
  bool stereoOnly;
};

std::vector<Case> allCases() {
  return {
      {"Delay", [] { return std::make_unique<DelayNode>(2); },
       [] { return std::make_unique<DelayReference>(); }, Settings{}, false},
      {"PingPongDelay", [] { return std::make_unique<PingPongDelayNode>(); },
       [] { return std::make_unique<PingPongReference>(); }, Settings{}, true},
      {"Chorus", [] { return std::make_unique<ChorusNode>(2); },
       [] { return std::make_unique<SweptReference>(1002.0f, 0.0f, 0.2f); },
       Settings{true, 0, 0, 0, 0, 0.025f, 0.2f}, false},
      {"Flanger", [] { return std::make_unique<FlangerNode>(2); },
       [] { return std::make_unique<SweptReference>(2.0f, 0.6f, 0.4f); },
       Settings{true, 0, 0, 0, 0, 0.005f, 0.4f}, false},
      {"Vibrato", [] { return std::make_unique<VibratoNode>(2); },
       [] { return std::make_unique<VibratoReference>(); }, Settings{true, 0, 0, 0, 0, 0.01f, 4.0f},
       false},
  };
}

TEST(Reference, NodesComputeExactlyWhatTheStraightforwardArithmeticDoes) {
  const std::vector<Case> cases = allCases();
  const unsigned int blockSizes[] = {1, 7, 64, 333, 512, 4096, 0, 129};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto node = c.node();
    auto reference = c.reference();
    Settings settings = c.initial;
    unsigned int rate = 48000;
    unsigned int channels = 2;
    for (int block = 0; block < 48; ++block) {
      switch (block) {  // changes between blocks
        case 8:
          settings.delayMs = 7;
          settings.sweep *= 3.0f;
          settings.frequency = 5.0f;
          break;
        case 12:
          settings.feedback = 0.9f;
          settings.dry = 0.25f;
          settings.wet = 1.0f;
          break;
        case 16:
          rate = 44100;
          break;
        case 20:
          channels = c.stereoOnly ? 2 : 1;
          break;
        case 24:
          channels = 2;
          settings.enabled = false;
          break;
        case 25:
          settings.enabled = true;
          settings.delayMs = 1000;
          settings.sweep = 0.03f;
          break;
        case 30:
          rate = 96000;
          break;
        case 36:
          settings.sweep = -0.01f;
          settings.delayMs = 3;
          break;
        case 42:
          rate = 22050;
          settings.frequency = 0.5f;
          break;
        default:
          break;
      }
      apply(*node, settings);
      const unsigned int frames = blockSizes[block % std::size(blockSizes)];
      const Signal input = noise(channels, frames, 100 + block);
      const Signal expected = reference->process(input, rate, settings);
      const Signal actual = render(*node, input, rate, frames == 0 ? 1 : frames);
      ASSERT_EQ(actual, expected) << "block " << block;
    }
  }
}

// A still oscillator (rate 0) sits at 0.5, so a sweep width of w seconds at 48 kHz is a fixed
// sweep of 24000 × w samples: delays of a few samples either side of the write, held while the
// ring's write position passes its end, where a read beside the write may wrap to slot 0.
TEST(Reference, ReadsBesideTheWriteMatchAcrossTheRingsEnd) {
  constexpr float kSamplesPerSecondOfWidth = 24000.0f;
  constexpr unsigned int kFrames = 50000;  // past the 48000-sample ring's end
  const float delays[] = {-3.0f, -0.5f, 0.25f, 0.5f, 1.0f, 1.5f, 7.5f, 8.5f};
  for (const Case& c : allCases()) {
    const std::string name(c.name);
    const float margin = name == "Chorus" ? 1002.0f : name == "Flanger" ? 2.0f : 1.0f;
    if (name == "Delay" || name == "PingPongDelay") continue;
    for (float delay : delays) {
      SCOPED_TRACE(name + " delay " + std::to_string(delay));
      auto node = c.node();
      auto reference = c.reference();
      Settings settings = c.initial;
      settings.frequency = 0.0f;
      settings.feedback = 0.5f;
      settings.sweep = (delay - margin) / kSamplesPerSecondOfWidth;
      apply(*node, settings);
      const Signal input = noise(2, kFrames, 7);
      ASSERT_EQ(render(*node, input, 48000, 4096), reference->process(input, 48000, settings));
    }
  }
}

// Many random runs: block sizes from 0 to 4096, settings inside and far outside every range
// (delays of a few samples, where the vector kernels must step aside), rate and channel
// changes, bypass, and now and then a sample that is not finite. Run in every build both with
// the vector kernels and with ORVANE_PORTABLE_ONLY set, so both paths meet the reference.
TEST(Reference, RandomRunsMatchTheStraightforwardArithmetic) {
  const unsigned int rates[] = {1000, 4000, 7000, 22050, 44100, 48000, 96000, 192000};
  for (const Case& c : allCases()) {
    for (std::uint32_t seed = 1; seed <= 12; ++seed) {
      SCOPED_TRACE(std::string(c.name) + " seed " + std::to_string(seed));
      std::mt19937 random(seed);
      auto uniform = [&](float low, float high) {
        return std::uniform_real_distribution<float>(low, high)(random);
      };
      auto chance = [&](double p) { return std::bernoulli_distribution(p)(random); };
      auto node = c.node();
      auto reference = c.reference();
      Settings settings = c.initial;
      unsigned int rate = 48000;
      unsigned int channels = 2;
      for (int block = 0; block < 24; ++block) {
        if (chance(0.3)) rate = rates[random() % std::size(rates)];
        if (chance(0.2) && !c.stereoOnly) channels = 1 + random() % 2;
        if (chance(0.1)) settings.enabled = !settings.enabled;
        if (chance(0.5)) {
          settings.dry = uniform(-1.5f, 1.5f);
          settings.wet = uniform(-1.5f, 1.5f);
          settings.feedback = uniform(-1.2f, 1.2f);
          settings.delayMs = chance(0.5) ? 1 + random() % 3 : random() % 1500;
          // Far out of range now and then, and a few samples ahead of the write (a tiny
          // negative sweep reads slots the same eight frames write).
          settings.sweep = chance(0.2)   ? uniform(-0.05f, 1.5f)
                           : chance(0.2) ? uniform(-0.0002f, 0.0f)
                                         : uniform(0.0f, 0.03f);
          settings.frequency = uniform(-2.0f, 20.0f);
          if (c.stereoOnly) {  // the ping-pong delay's parameters keep their bounds
            settings.dry = std::clamp(settings.dry, 0.0f, 1.0f);
            settings.wet = std::clamp(settings.wet, 0.0f, 1.0f);
            settings.feedback = std::clamp(settings.feedback, 0.0f, 0.99f);
            settings.delayMs = std::clamp(settings.delayMs, 1u, 1000u);
          }
        }
        apply(*node, settings);
        const unsigned int frames = chance(0.1) ? 0 : random() % 4097;
        Signal input = noise(channels, frames, seed * 1000 + block);
        if (frames > 0 && chance(0.1)) input[0][random() % frames] = std::nanf("");
        const Signal expected = reference->process(input, rate, settings);
        const Signal actual = render(*node, input, rate, frames == 0 ? 1 : frames);
        for (unsigned int ch = 0; ch < channels; ++ch) {
          for (unsigned int f = 0; f < frames; ++f) {
            const float a = actual[ch][f], e = expected[ch][f];
            ASSERT_TRUE(a == e || (std::isnan(a) && std::isnan(e)))
                << "block " << block << " channel " << ch << " frame " << f << ": " << a
                << " vs " << e;
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace orvane::extensions::audioeffects
