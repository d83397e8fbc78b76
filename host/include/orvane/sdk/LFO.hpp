#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>

namespace orvane {

// A low-frequency sine oscillator:
//   process() = offset + amplitude × sin(2π × phase + phaseOffset),
// returning the value at the current phase and then advancing the phase by one sample period.
// The phase starts at 0, so a fresh oscillator with no phase offset starts at sin 0 = 0.
//
// Threads: setFrequency and getFrequency may be called from any thread while the audio thread
// calls process (the rate is an atomic). The other setters configure the oscillator before
// processing starts, or from the audio thread itself.
//
// The phase is kept in cycles in double precision, so it does not drift over hours; the sine is
// a polynomial, far cheaper than the library sine and within float rounding of it.
class LFO {
 public:
  LFO() noexcept = default;
  LFO(const LFO& other) noexcept { *this = other; }
  LFO& operator=(const LFO& other) noexcept {
    frequency_.store(other.frequency_.load());
    amplitude_ = other.amplitude_;
    offset_ = other.offset_;
    phaseOffset_ = other.phaseOffset_;
    phaseOffsetCycles_ = other.phaseOffsetCycles_;
    phase_ = other.phase_;
    increment_ = other.increment_;
    incrementFrequencyBits_ = other.incrementFrequencyBits_;
    incrementSampleRate_ = other.incrementSampleRate_;
    return *this;
  }

  // Any thread. Any float is stored as given; a rate that is not finite holds the oscillator
  // where it is, a negative rate runs it backwards.
  void setFrequency(float hertz) noexcept { frequency_.store(hertz); }
  float getFrequency() const noexcept { return frequency_.load(); }

  void setAmplitude(float amplitude) noexcept { amplitude_ = amplitude; }
  void setOffset(float offset) noexcept { offset_ = offset; }
  // Radians; any finite value (taken modulo 2π); a non-finite one counts as 0.
  void setPhaseOffset(float radians) noexcept {
    phaseOffset_ = radians;
    phaseOffsetCycles_ = wrapCycles(std::isfinite(radians) ? radians / kTwoPi : 0.0);
  }
  float getAmplitude() const noexcept { return amplitude_; }
  float getOffset() const noexcept { return offset_; }
  float getPhaseOffset() const noexcept { return phaseOffset_; }

  // Audio thread. A sample rate of 0 or below holds the oscillator where it is.
  float process(int sampleRate) noexcept {
    const float frequency = frequency_.load(std::memory_order_relaxed);
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(frequency);
    if (bits != incrementFrequencyBits_ || sampleRate != incrementSampleRate_) [[unlikely]] {
      updateIncrement(frequency, sampleRate);
    }
    double at = phase_ + phaseOffsetCycles_;
    if (at >= 1.0) at -= 1.0;
    const float value = offset_ + amplitude_ * sineOfCycles(at);
    phase_ += increment_;
    if (phase_ >= 1.0) phase_ -= 1.0;
    return value;
  }

  // sin(2π × cycles) for cycles in [0, 1), rounded to float. Evaluated in double (as cheap as
  // float for scalar code): the Taylor series to x^13 errs by less than 1e-9 on [-π/2, π/2],
  // so the result is the correctly rounded sine almost everywhere and the peaks are exactly ±1.
  static float sineOfCycles(double cycles) noexcept {
    double s = cycles >= 0.5 ? cycles - 1.0 : cycles;  // [-0.5, 0.5)
    if (s > 0.25) s = 0.5 - s;                         // fold onto [-0.25, 0.25]
    if (s < -0.25) s = -0.5 - s;
    const double x = s * kTwoPi;
    const double x2 = x * x;
    const double p =
        1.0 +
        x2 * (-1.0 / 6.0 +
              x2 * (1.0 / 120.0 + x2 * (-1.0 / 5040.0 +
                                        x2 * (1.0 / 362880.0 + x2 * (-1.0 / 39916800.0 +
                                                                     x2 * (1.0 / 6227020800.0))))));
    return static_cast<float>(x * p);
  }

 private:
  static constexpr double kTwoPi = 6.283185307179586476925286766559;

  static double wrapCycles(double cycles) noexcept {
    const double w = cycles - std::floor(cycles);
    return w < 1.0 ? w : 0.0;
  }

  void updateIncrement(float frequency, int sampleRate) noexcept {
    incrementFrequencyBits_ = std::bit_cast<std::uint32_t>(frequency);
    incrementSampleRate_ = sampleRate;
    increment_ = sampleRate > 0 && std::isfinite(frequency)
                     ? wrapCycles(static_cast<double>(frequency) / sampleRate)
                     : 0.0;
  }

  std::atomic<float> frequency_{0.0f};
  float amplitude_ = 1.0f;
  float offset_ = 0.0f;
  float phaseOffset_ = 0.0f;
  double phaseOffsetCycles_ = 0.0;
  double phase_ = 0.0;
  // Cycles per sample for the rate and sample rate it was worked out for.
  double increment_ = 0.0;
  std::uint32_t incrementFrequencyBits_ = 0;
  int incrementSampleRate_ = 0;
};

}  // namespace orvane
