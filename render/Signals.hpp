#pragma once

// Where a render's input comes from: a sound file or one of the built-in signals. Both stream:
// memory does not grow with the length.

#include <cstdint>
#include <memory>
#include <string>

namespace orvane::fx {

class SignalSource {
 public:
  virtual ~SignalSource() = default;
  virtual unsigned int channels() const = 0;
  virtual unsigned int sampleRate() const = 0;
  virtual std::uint64_t frames() const = 0;
  // Fills up to `count` frames of each channel array with the next frames; returns how many it
  // filled, fewer than `count` only at the end.
  virtual unsigned int read(float* const* channels, unsigned int count) = 0;
};

// The built-in signals: "demo", "impulse", "noise" and "sine". Throws UsageError for another
// name, no channels, a rate of 0 or a length that is negative or not a number.
std::unique_ptr<SignalSource> makeBuiltInSignal(const std::string& name, unsigned int channels,
                                                unsigned int sampleRate, double seconds);

// The input with another channel count: mono copied to every channel, or every channel averaged
// into mono. Throws UsageError for any other change (3 channels to 2, say).
std::unique_ptr<SignalSource> withChannels(std::unique_ptr<SignalSource> source,
                                           unsigned int channels, const std::string& name);

// A tail as the command line gives it: "auto" (until the chain falls silent, at most
// kMostAutoTailSeconds), or seconds. Throws UsageError naming `what` for anything else.
struct TailLength {
  bool automatic = true;
  double seconds = 0.0;
};
inline constexpr double kMostAutoTailSeconds = 60.0;
TailLength parseTail(const std::string& text, const std::string& what);

// Frames in `seconds` at `sampleRate`; throws UsageError naming `what` (an option) for a length
// that is negative, not a number, or longer than any render can be (2^48 frames, over 180 years
// at 48 kHz).
std::uint64_t framesIn(double seconds, unsigned int sampleRate, const std::string& what);

// The length a built-in signal has unless told: 1 s for the impulse, 6 s for the demo (one
// pass of its pattern), 5 s for the others.
double defaultSeconds(const std::string& name);

}  // namespace orvane::fx
