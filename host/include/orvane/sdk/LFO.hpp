#pragma once

#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace orvane {

namespace detail {

// A float's bits: std::bit_cast where the standard library has it (some, such as the one
// WebAssembly builds use, do not yet), the same through memcpy elsewhere.
inline std::uint32_t floatBits(float value) noexcept {
#if defined(__cpp_lib_bit_cast)
  return std::bit_cast<std::uint32_t>(value);
#else
  std::uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
#endif
}

inline constexpr int kSineTableBits = 12;
inline constexpr int kSineTableSize = 1 << kSineTableBits;

// sin(2π × i / size) for i in [0, size], worked out at compile time in double (argument folded
// onto [0, π/2] by symmetry, Taylor series to x^21) and rounded to float; 0 and ±1 are exact at
// the quarter cycles.
constexpr std::array<float, kSineTableSize + 1> makeSineTable() {
  constexpr double kTwoPi = 6.283185307179586476925286766559;
  std::array<float, kSineTableSize + 1> table{};
  for (int i = 0; i <= kSineTableSize; ++i) {
    int k = i % kSineTableSize;
    double sign = 1.0;
    if (k >= kSineTableSize / 2) {
      k -= kSineTableSize / 2;
      sign = -1.0;
    }
    if (k > kSineTableSize / 4) k = kSineTableSize / 2 - k;
    const double x = kTwoPi * k / kSineTableSize;
    double term = x;
    double sum = x;
    for (int n = 1; n <= 10; ++n) {
      term *= -x * x / ((2 * n) * (2 * n + 1));
      sum += term;
    }
    table[static_cast<std::size_t>(i)] = static_cast<float>(sign * sum);
  }
  table[kSineTableSize / 4] = 1.0f;
  table[3 * kSineTableSize / 4] = -1.0f;
  return table;
}

inline constexpr std::array<float, kSineTableSize + 1> kSineTable = makeSineTable();

}  // namespace detail

// A low-frequency sine oscillator:
//   process() = offset + amplitude × sine(phase + phaseOffset),
// returning the value at the current phase and then advancing the phase by one sample period.
// The phase starts at 0, so a fresh oscillator with no phase offset starts at sine 0 = 0.
//
// Threads: setFrequency and getFrequency may be called from any thread while the audio thread
// calls process (the rate is an atomic). The other setters configure the oscillator before
// processing starts, or from the audio thread itself.
//
// The phase is a 64-bit fixed-point fraction of a cycle that wraps by itself, so it never
// drifts and costs one integer add per sample. The sine is read from a 4096-point table
// (exact 0 and ±1 at the quarter cycles) with linear interpolation between points: within
// 3e-7 of the true sine, at a fraction of the cost of the library sine.
class LFO {
 public:
  static constexpr int kTableBits = detail::kSineTableBits;
  static constexpr int kTableSize = detail::kSineTableSize;

  LFO() noexcept = default;
  LFO(const LFO& other) noexcept { *this = other; }
  LFO& operator=(const LFO& other) noexcept {
    frequency_.store(other.frequency_.load());
    amplitude_ = other.amplitude_;
    offset_ = other.offset_;
    phaseOffset_ = other.phaseOffset_;
    phaseOffsetFixed_ = other.phaseOffsetFixed_;
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
    phaseOffsetFixed_ = toFixedCycles(std::isfinite(radians) ? radians / kTwoPi : 0.0);
  }
  float getAmplitude() const noexcept { return amplitude_; }
  float getOffset() const noexcept { return offset_; }
  float getPhaseOffset() const noexcept { return phaseOffset_; }

  // Audio thread. A sample rate of 0 or below holds the oscillator where it is.
  float process(int sampleRate) noexcept {
    const Run run = beginRun(sampleRate);
    phase_ += increment_;
    return run.offset + run.amplitude * sineOfFixedCycles(run.phase);
  }

  // The oscillator's sine of a phase in cycles, for any finite phase.
  static float sineOfCycles(double cycles) noexcept {
    return sineOfFixedCycles(toFixedCycles(cycles));
  }

  // For code that steps the oscillator over a run of samples itself (vector kernels): what the
  // next process(sampleRate) call would work with, the rate loaded once, here. Sample k of the
  // run (from 0) is then
  //   offset + amplitude × sineOfFixedCycles(phase + k × increment)   (modulo 2^64),
  // and advance(n) leaves the oscillator where n process() calls at that rate would.
  struct Run {
    std::uint64_t phase;      // the next sample's, phase offset included
    std::uint64_t increment;  // per sample
    float amplitude;
    float offset;
  };
  // Audio thread.
  Run beginRun(int sampleRate) noexcept {
    const float frequency = frequency_.load(std::memory_order_relaxed);
    if (detail::floatBits(frequency) != incrementFrequencyBits_ ||
        sampleRate != incrementSampleRate_) [[unlikely]] {
      updateIncrement(frequency, sampleRate);
    }
    return {phase_ + phaseOffsetFixed_, increment_, amplitude_, offset_};
  }
  // Audio thread.
  void advance(std::uint64_t samples) noexcept { phase_ += increment_ * samples; }

  // Audio thread. Puts the oscillator where `samples` process(sampleRate) calls at its current
  // rate take a fresh one, so that its phase is a function of a position (a host's transport
  // frame) rather than of how long it has run.
  void seek(std::uint64_t samples, int sampleRate) noexcept {
    phase_ = beginRun(sampleRate).increment * samples;
  }

  // A fixed-point phase's table point is its top kTableBits bits; the interpolation fraction
  // is the next 32 bits as a float, times 2^-32: table[i] + fraction × (table[i + 1] − table[i]).
  static constexpr int kFractionBits = 64 - kTableBits;
  static float sineOfFixedCycles(std::uint64_t phase) noexcept {
    const auto index = static_cast<std::size_t>(phase >> kFractionBits);
    constexpr float kFractionScale = 1.0f / static_cast<float>(1ULL << 32);
    // The top 32 bits below the index, as a fraction of one table step.
    const float fraction =
        static_cast<float>(static_cast<std::uint32_t>(phase >> (kFractionBits - 32))) *
        kFractionScale;
    const float a = detail::kSineTable[index];
    const float b = detail::kSineTable[index + 1];
    return a + fraction * (b - a);
  }

 private:
  static constexpr double kTwoPi = 6.283185307179586476925286766559;
  static constexpr double kCyclesToFixed = 18446744073709551616.0;  // 2^64

  // A phase in cycles as a 64-bit fraction of a cycle, taken modulo 1.
  static std::uint64_t toFixedCycles(double cycles) noexcept {
    const double wrapped = cycles - std::floor(cycles);  // [0, 1]
    const double scaled = wrapped * kCyclesToFixed;
    return scaled >= kCyclesToFixed ? 0 : static_cast<std::uint64_t>(scaled);
  }

  void updateIncrement(float frequency, int sampleRate) noexcept {
    incrementFrequencyBits_ = detail::floatBits(frequency);
    incrementSampleRate_ = sampleRate;
    increment_ = sampleRate > 0 && std::isfinite(frequency)
                     ? toFixedCycles(static_cast<double>(frequency) / sampleRate)
                     : 0;
  }

  std::atomic<float> frequency_{0.0f};
  float amplitude_ = 1.0f;
  float offset_ = 0.0f;
  float phaseOffset_ = 0.0f;
  std::uint64_t phaseOffsetFixed_ = 0;
  std::uint64_t phase_ = 0;
  // Fixed-point cycles per sample for the rate and sample rate it was worked out for.
  std::uint64_t increment_ = 0;
  std::uint32_t incrementFrequencyBits_ = 0;
  int incrementSampleRate_ = 0;
};

}  // namespace orvane
