#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <orvane/sdk/CircularBuffer.hpp>
#include <stdexcept>

namespace orvane {
namespace {

// A ring holding 10, 11, 12, ... at indices 0, 1, 2, ...
CircularBuffer rampRing(int size) {
  CircularBuffer ring(size);
  for (int i = 0; i < size; ++i) {
    ring.writeSample(10.0f + static_cast<float>(i));
    ring.stepWritePointer(1);
  }
  return ring;
}

TEST(CircularBuffer, StartsSilentAndRefusesSizesBelowOne) {
  CircularBuffer ring(8);
  for (int i = 0; i < 8; ++i) {
    ring.setReadPointer(i);
    EXPECT_EQ(ring.readSample(), 0.0f);
  }
  EXPECT_THROW(CircularBuffer(0), std::invalid_argument);
  EXPECT_THROW(CircularBuffer(-3), std::invalid_argument);
}

TEST(CircularBuffer, PositionsWrapForAnyStepOrPosition) {
  CircularBuffer ring(5);
  ring.stepWritePointer(4);
  ring.stepWritePointer(1);
  EXPECT_EQ(ring.writePointer, 0);
  ring.stepWritePointer(-1);
  EXPECT_EQ(ring.writePointer, 4);
  ring.stepWritePointer(std::numeric_limits<int>::max());  // 4 + (2^31 - 1) wraps, no overflow
  EXPECT_EQ(ring.writePointer, static_cast<int>((4LL + std::numeric_limits<int>::max()) % 5));

  ring.setReadPointer(-1);
  EXPECT_EQ(ring.readPointer, 4);
  ring.setReadPointer(-12);
  EXPECT_EQ(ring.readPointer, 3);
  ring.setReadPointer(17);
  EXPECT_EQ(ring.readPointer, 2);
  ring.setReadPointer(std::numeric_limits<int>::min());
  EXPECT_GE(ring.readPointer, 0);
  EXPECT_LT(ring.readPointer, 5);
  ring.stepReadPointer(3);
  EXPECT_GE(ring.readPointer, 0);
  EXPECT_LT(ring.readPointer, 5);
}

TEST(CircularBuffer, ReadsWhatWasWrittenDelayStepsEarlier) {
  CircularBuffer ring(4);
  ring.setReadPointer(ring.writePointer - 3);
  std::vector<float> read;
  for (int n = 0; n < 10; ++n) {
    read.push_back(ring.readSample());
    ring.writeSample(static_cast<float>(n + 1));
    ring.stepWritePointer(1);
    ring.stepReadPointer(1);
  }
  EXPECT_EQ(read, (std::vector<float>{0, 0, 0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST(CircularBuffer, ResetSilencesButKeepsPositions) {
  CircularBuffer ring = rampRing(6);
  ring.stepWritePointer(2);
  ring.setReadPointer(5);
  ring.reset();
  EXPECT_EQ(ring.writePointer, 2);
  EXPECT_EQ(ring.readPointer, 5);
  for (float sample : ring.samples) EXPECT_EQ(sample, 0.0f);
}

TEST(CircularBuffer, IsMovable) {
  CircularBuffer ring = rampRing(3);
  CircularBuffer moved(std::move(ring));
  EXPECT_EQ(moved.size, 3);
  EXPECT_EQ(moved.interpolate(2.0f), 12.0f);
}

TEST(CircularBuffer, InterpolateIsExactAtWholeIndicesAndLinearBetween) {
  const CircularBuffer ring = rampRing(4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(ring.interpolate(static_cast<float>(i)), 10.0f + i);
  EXPECT_FLOAT_EQ(ring.interpolate(0.5f), 10.5f);
  EXPECT_FLOAT_EQ(ring.interpolate(2.25f), 12.25f);
  // Between the last sample (13) and the first (10).
  EXPECT_FLOAT_EQ(ring.interpolate(3.5f), 11.5f);
  EXPECT_FLOAT_EQ(ring.interpolate(3.75f), 10.75f);
}

TEST(CircularBuffer, InterpolateIsExactEvenNextToExtremeSamples) {
  CircularBuffer ring(2);
  ring.samples = {std::numeric_limits<float>::max(), -std::numeric_limits<float>::max()};
  EXPECT_EQ(ring.interpolate(0.0f), std::numeric_limits<float>::max());
  EXPECT_EQ(ring.interpolate(1.0f), -std::numeric_limits<float>::max());
}

TEST(CircularBuffer, InterpolateTakesHostilePositionsModuloSizeOrAsSilence) {
  const CircularBuffer ring = rampRing(4);
  EXPECT_EQ(ring.interpolate(-1.0f), 13.0f);
  EXPECT_FLOAT_EQ(ring.interpolate(-0.5f), 11.5f);
  EXPECT_EQ(ring.interpolate(4.0f), 10.0f);
  EXPECT_EQ(ring.interpolate(9.0f), 11.0f);
  EXPECT_EQ(ring.interpolate(-1e-9f), 10.0f);  // -1e-9 + 4 rounds to 4, which is index 0
  const float hostile[] = {1e30f, -1e30f, std::numeric_limits<float>::max(),
                           std::numeric_limits<float>::lowest(),
                           std::numeric_limits<float>::denorm_min()};
  for (float p : hostile) {
    const float value = ring.interpolate(p);
    EXPECT_GE(value, 10.0f) << p;
    EXPECT_LE(value, 13.0f) << p;
  }
  EXPECT_EQ(ring.interpolate(std::numeric_limits<float>::infinity()), 0.0f);
  EXPECT_EQ(ring.interpolate(-std::numeric_limits<float>::infinity()), 0.0f);
  EXPECT_EQ(ring.interpolate(std::numeric_limits<float>::quiet_NaN()), 0.0f);
}

}  // namespace
}  // namespace orvane
