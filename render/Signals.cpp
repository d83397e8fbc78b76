#include "Signals.hpp"

#include <algorithm>
#include <charconv>
#include <string>
#include <system_error>
#include <cmath>
#include <functional>
#include <memory>
#include <numbers>
#include <sstream>
#include <vector>

#include "Errors.hpp"

namespace orvane::fx {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kNoiseAmplitude = 0.5;
constexpr double kSineAmplitude = 0.5;
constexpr double kSineHz = 440.0;
constexpr double kDemoPatternSeconds = 6.0;

// A uniform value in [-1, 1) that depends only on its arguments: reproducible noise that needs
// no state, so any stretch of a signal can be made without the ones before it.
double hashNoise(std::uint64_t frame, unsigned int channel, std::uint64_t seed) {
  std::uint64_t z = frame * 0x9E3779B97F4A7C15ULL + channel * 0xD1B54A32D192ED03ULL + seed;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  z ^= z >> 31;
  return static_cast<double>(z >> 11) * (2.0 / 9007199254740992.0) - 1.0;
}

// A plucked string: a few harmonics that start at once and die away, the higher ones faster.
double pluck(double t, double hertz) {
  if (t < 0.0) return 0.0;
  double sum = 0.0;
  for (int k = 1; k <= 6; ++k) {
    sum += std::sin(kTwoPi * k * hertz * t) * std::exp(-t * (2.5 + 1.5 * k)) / k;
  }
  return 0.35 * sum;
}

// A click: 2 ms of decaying noise.
double click(double t, std::uint64_t frame, unsigned int channel) {
  if (t < 0.0 || t > 0.002) return 0.0;
  return 0.8 * std::exp(-t * 2000.0) * hashNoise(frame, channel, 7);
}

// The demo's overall level: low enough that no effect at its defaults goes past full scale
// (the flanger's resonance adds most, about 3 dB).
constexpr double kDemoLevel = 0.6;

// Six seconds, repeating: clicks on each side, plucked notes panned left and right, then a
// held two-note chord (where chorus, flanger and vibrato are plainest), then a second of
// silence for the echoes.
double demo(std::uint64_t frame, unsigned int channel, unsigned int channels, double rate) {
  const double t = std::fmod(static_cast<double>(frame) / rate, kDemoPatternSeconds);
  const bool left = channel % 2 == 0 || channels == 1;
  const bool right = channel % 2 == 1 || channels == 1;
  double v = 0.0;
  if (left) v += click(t, frame, channel);
  if (right) v += click(t - 0.5, frame, channel);
  const double notes[] = {220.0, 277.18, 329.63, 440.0};
  for (int i = 0; i < 4; ++i) {
    const bool onLeft = i % 2 == 0;
    const double gain = (onLeft ? left : right) ? 1.0 : 0.3;
    v += gain * pluck(t - 1.0 - 0.5 * i, notes[i]);
  }
  if (t >= 3.0 && t < 5.0) {
    const double held = t - 3.0;
    const double envelope = std::min({1.0, held / 0.05, (2.0 - held) / 0.2});
    v += 0.25 * envelope * (std::sin(kTwoPi * 440.0 * held) + std::sin(kTwoPi * 659.26 * held));
  }
  return kDemoLevel * v;
}

// The demo's samples. Its pattern costs dozens of sines per sample, so one period of it is
// worked out up front and then read back, unless that table would be large (many channels at
// a very high rate), when each sample is worked out as it is needed.
std::function<double(std::uint64_t, unsigned int)> demoSamples(unsigned int channels,
                                                               unsigned int sampleRate) {
  constexpr std::uint64_t kMaxTableSamples = 8u << 20;  // 32 MiB of floats
  const double rate = sampleRate;
  const auto period = static_cast<std::uint64_t>(kDemoPatternSeconds * sampleRate);
  if (period * channels > kMaxTableSamples) {
    return [channels, rate](std::uint64_t f, unsigned int c) { return demo(f, c, channels, rate); };
  }
  auto table = std::make_shared<std::vector<float>>(period * channels);
  for (unsigned int c = 0; c < channels; ++c) {
    for (std::uint64_t f = 0; f < period; ++f) {
      (*table)[c * period + f] = static_cast<float>(demo(f, c, channels, rate));
    }
  }
  return [table, period](std::uint64_t f, unsigned int c) {
    return static_cast<double>((*table)[c * period + f % period]);
  };
}

class GeneratedSignal final : public SignalSource {
 public:
  using Sample = std::function<double(std::uint64_t frame, unsigned int channel)>;

  GeneratedSignal(unsigned int channels, unsigned int sampleRate, std::uint64_t frames,
                  Sample sample)
      : channels_(channels), sampleRate_(sampleRate), frames_(frames), sample_(std::move(sample)) {}

  unsigned int channels() const override { return channels_; }
  unsigned int sampleRate() const override { return sampleRate_; }
  std::uint64_t frames() const override { return frames_; }

  unsigned int read(float* const* channels, unsigned int count) override {
    const auto n = static_cast<unsigned int>(std::min<std::uint64_t>(count, frames_ - position_));
    for (unsigned int c = 0; c < channels_; ++c) {
      for (unsigned int f = 0; f < n; ++f) {
        channels[c][f] = static_cast<float>(sample_(position_ + f, c));
      }
    }
    position_ += n;
    return n;
  }

 private:
  unsigned int channels_;
  unsigned int sampleRate_;
  std::uint64_t frames_;
  Sample sample_;
  std::uint64_t position_ = 0;
};

}  // namespace

std::uint64_t framesIn(double seconds, unsigned int sampleRate, const std::string& what) {
  constexpr double kMaxFrames = 281474976710656.0;  // 2^48
  std::ostringstream given;
  given << seconds;
  if (!(seconds >= 0.0) || !std::isfinite(seconds)) {
    throw UsageError(what + " " + given.str() + ": a length must be a number of seconds, 0 or more");
  }
  const double frames = std::round(seconds * sampleRate);
  if (frames > kMaxFrames) {
    throw UsageError(what + " " + given.str() + ": that is " + given.str() + " s at " +
                     std::to_string(sampleRate) + " Hz, more frames than a render can hold " +
                     "(2^48, over 180 years at 48000 Hz)");
  }
  return static_cast<std::uint64_t>(frames);
}

namespace {

// Mono to many by copying, many to mono by averaging, reading the source in its own layout.
class ChannelConverter final : public SignalSource {
 public:
  ChannelConverter(std::unique_ptr<SignalSource> source, unsigned int channels)
      : source_(std::move(source)), channels_(channels),
        scratch_(source_->channels(), std::vector<float>(kScratchFrames)),
        pointers_(source_->channels()) {
    for (unsigned int c = 0; c < source_->channels(); ++c) pointers_[c] = scratch_[c].data();
  }

  unsigned int channels() const override { return channels_; }
  unsigned int sampleRate() const override { return source_->sampleRate(); }
  std::uint64_t frames() const override { return source_->frames(); }

  unsigned int read(float* const* channels, unsigned int count) override {
    unsigned int done = 0;
    while (done < count) {
      const unsigned int got = source_->read(pointers_.data(), std::min(kScratchFrames, count - done));
      const unsigned int from = source_->channels();
      for (unsigned int f = 0; f < got; ++f) {
        if (from == 1) {
          for (unsigned int c = 0; c < channels_; ++c) channels[c][done + f] = scratch_[0][f];
        } else {
          float sum = 0.0f;
          for (unsigned int c = 0; c < from; ++c) sum += scratch_[c][f];
          channels[0][done + f] = sum / static_cast<float>(from);
        }
      }
      done += got;
      if (got == 0) break;
    }
    return done;
  }

 private:
  static constexpr unsigned int kScratchFrames = 4096;
  std::unique_ptr<SignalSource> source_;
  unsigned int channels_;
  std::vector<std::vector<float>> scratch_;
  std::vector<float*> pointers_;
};

}  // namespace

std::unique_ptr<SignalSource> withChannels(std::unique_ptr<SignalSource> source,
                                           unsigned int channels, const std::string& name) {
  const unsigned int from = source->channels();
  if (channels == from) return source;
  if (from != 1 && channels != 1) {
    throw UsageError("--channels " + std::to_string(channels) + ": '" + name + "' has " +
                     std::to_string(from) + " channels; mono can become any number of channels, "
                     "and any number can become mono, but not " + std::to_string(from) +
                     " to " + std::to_string(channels));
  }
  return std::make_unique<ChannelConverter>(std::move(source), channels);
}

double defaultSeconds(const std::string& name) {
  if (name == "impulse") return 1.0;
  if (name == "demo") return kDemoPatternSeconds;
  return 5.0;
}

std::unique_ptr<SignalSource> makeBuiltInSignal(const std::string& name, unsigned int channels,
                                                unsigned int sampleRate, double seconds) {
  if (channels == 0) throw UsageError("--channels must be at least 1");
  if (sampleRate == 0) throw UsageError("--rate must be at least 1 Hz");
  const std::uint64_t frames = framesIn(seconds, sampleRate, "--seconds");
  const double rate = sampleRate;
  GeneratedSignal::Sample sample;
  if (name == "impulse") {
    sample = [](std::uint64_t f, unsigned int c) { return f == 0 && c == 0 ? 1.0 : 0.0; };
  } else if (name == "noise") {
    sample = [](std::uint64_t f, unsigned int c) { return kNoiseAmplitude * hashNoise(f, c, 1); };
  } else if (name == "sine") {
    sample = [rate](std::uint64_t f, unsigned int) {
      return kSineAmplitude * std::sin(kTwoPi * kSineHz * static_cast<double>(f) / rate);
    };
  } else if (name == "demo") {
    sample = demoSamples(channels, sampleRate);
  } else {
    throw UsageError("unknown signal '" + name + "'; the signals are demo, impulse, noise, sine");
  }
  return std::make_unique<GeneratedSignal>(channels, sampleRate, frames, std::move(sample));
}

TailLength parseTail(const std::string& text, const std::string& what) {
  if (text == "auto") return {};
  double seconds = 0.0;
  const auto parsed = std::from_chars(text.data(), text.data() + text.size(), seconds);
  if (text.empty() || parsed.ec != std::errc() || parsed.ptr != text.data() + text.size() ||
      !std::isfinite(seconds) || seconds < 0.0) {
    throw UsageError(what + " " + text + ": give auto (until the echoes die away, at most " +
                     std::to_string(static_cast<int>(kMostAutoTailSeconds)) +
                     " s) or seconds, 0 or more (0 keeps the input's length)");
  }
  return {false, seconds};
}

}  // namespace orvane::fx
