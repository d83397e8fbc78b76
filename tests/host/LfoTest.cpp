#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <numbers>
#include <orvane/sdk/LFO.hpp>
#include <thread>

namespace orvane {
namespace {

TEST(Lfo, SineIsCloseToTheLibrarySineAndExactAtTheQuarterCycles) {
  double worst = 0.0;
  for (int i = 0; i < 100000; ++i) {
    const double cycles = static_cast<double>(i) / 100000.0;
    const double exact = std::sin(2.0 * std::numbers::pi * cycles);
    worst = std::max(worst, std::fabs(LFO::sineOfCycles(cycles) - exact));
  }
  EXPECT_LT(worst, 4e-7);  // linear steps between 4096 points
  EXPECT_EQ(LFO::sineOfCycles(0.0), 0.0f);
  EXPECT_EQ(LFO::sineOfCycles(0.25), 1.0f);
  EXPECT_EQ(LFO::sineOfCycles(0.5), 0.0f);
  EXPECT_EQ(LFO::sineOfCycles(0.75), -1.0f);
  EXPECT_EQ(LFO::sineOfCycles(1.25), 1.0f);
  EXPECT_EQ(LFO::sineOfCycles(-0.25), -1.0f);
}

TEST(Lfo, ReturnsTheValueBeforeItsStepAndFollowsTheRate) {
  LFO lfo;
  lfo.setFrequency(1.0f);
  // 1 Hz at 4 Hz sampling: a quarter cycle per step, starting at phase 0.
  EXPECT_NEAR(lfo.process(4), 0.0f, 1e-7);
  EXPECT_NEAR(lfo.process(4), 1.0f, 1e-7);
  EXPECT_NEAR(lfo.process(4), 0.0f, 1e-7);
  EXPECT_NEAR(lfo.process(4), -1.0f, 1e-7);
  EXPECT_NEAR(lfo.process(4), 0.0f, 1e-7);
}

TEST(Lfo, AmplitudeOffsetAndPhaseOffsetShapeTheOutput) {
  LFO lfo;
  lfo.setFrequency(0.2f);
  lfo.setAmplitude(0.5f);
  lfo.setOffset(0.5f);
  lfo.setPhaseOffset(static_cast<float>(std::numbers::pi / 2));
  EXPECT_EQ(lfo.getPhaseOffset(), static_cast<float>(std::numbers::pi / 2));
  EXPECT_NEAR(lfo.process(48000), 1.0f, 1e-6);  // cos 0
  float low = 1.0f;
  float high = 0.0f;
  for (int n = 0; n < 5 * 48000; ++n) {
    const float v = lfo.process(48000);
    low = std::min(low, v);
    high = std::max(high, v);
  }
  EXPECT_GE(low, 0.0f);
  EXPECT_LE(high, 1.0f);
  EXPECT_LT(low, 1e-6f);
  EXPECT_GT(high, 1.0f - 1e-6f);
}

// Code that steps the oscillator itself (beginRun, then advance) must see and leave exactly
// what process() calls would, whatever the rate, phase offset and sample rate.
TEST(Lfo, ARunStepsExactlyAsProcessCallsDo) {
  const float rates[] = {0.0f, 0.4f, -3.0f, 19.9f, 1e6f, std::numeric_limits<float>::infinity()};
  for (float rate : rates) {
    LFO stepped;
    LFO called;
    for (LFO* lfo : {&stepped, &called}) {
      lfo->setFrequency(rate);
      lfo->setAmplitude(0.5f);
      lfo->setOffset(0.5f);
      lfo->setPhaseOffset(1.3f);
    }
    for (int run = 0; run < 50; ++run) {
      const int sampleRate = run < 25 ? 48000 : 44100;
      const LFO::Run r = stepped.beginRun(sampleRate);
      constexpr int kLength = 13;
      for (int k = 0; k < kLength; ++k) {
        const float value =
            r.offset + r.amplitude * LFO::sineOfFixedCycles(r.phase + k * r.increment);
        ASSERT_EQ(value, called.process(sampleRate)) << rate << " Hz, run " << run << ", " << k;
      }
      stepped.advance(kLength);
    }
  }
}

TEST(Lfo, HostileRatesHoldOrWrapTheOscillator) {
  for (float rate :
       {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 0.0f}) {
    LFO lfo;
    lfo.setFrequency(rate);
    for (int n = 0; n < 10; ++n) EXPECT_EQ(lfo.process(48000), 0.0f) << rate;
  }
  LFO zeroRate;
  zeroRate.setFrequency(1000.0f);
  for (int n = 0; n < 10; ++n) EXPECT_EQ(zeroRate.process(0), 0.0f);

  // A huge or negative rate still gives values on the sine.
  LFO huge;
  huge.setFrequency(3e38f);
  LFO backwards;
  backwards.setFrequency(-1.0f);
  for (int n = 0; n < 100; ++n) {
    EXPECT_LE(std::fabs(huge.process(-5 + n)), 1.0f);
    EXPECT_LE(std::fabs(backwards.process(4)), 1.0f);
  }
  backwards.process(4);
  EXPECT_NEAR(backwards.process(4), -1.0f, 1e-6);  // a quarter cycle back from 0
}

TEST(Lfo, RateMayChangeFromAnotherThreadWhileProcessing) {
  LFO lfo;
  lfo.setFrequency(1.0f);
  std::atomic<bool> done{false};
  std::thread control([&] {
    for (int i = 0; i < 20000; ++i) {
      lfo.setFrequency(static_cast<float>(i % 50));
      (void)lfo.getFrequency();
    }
    done = true;
  });
  while (!done) {
    const float v = lfo.process(48000);
    ASSERT_LE(std::fabs(v), 1.0f);
  }
  control.join();
  lfo.setFrequency(7.5f);
  EXPECT_EQ(lfo.getFrequency(), 7.5f);
}

}  // namespace
}  // namespace orvane
