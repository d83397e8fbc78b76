#pragma once

// The floor for each node: its arithmetic as plain loops over raw arrays, settings in local
// variables, no host layer. Each computes the same floats as the node (the benchmark checks that
// before it measures), so the ratio node / floor is the cost of the host layer and the node's
// bookkeeping alone.

#include <cmath>
#include <cstdint>
#include <orvane/sdk/LFO.hpp>
#include <vector>

namespace orvane::bench {

constexpr int kRing = 48000;

inline float storable(float v) { return std::isfinite(v) ? v : 0.0f; }

inline float wrap(float p, float length) {
  if (p >= 0.0f && p < length) return p;
  if (p >= length && p < 2.0f * length) return p - length;
  return std::fmod(p, length);
}

inline float interpolate(const float* ring, float p) {
  const int i = static_cast<int>(p);
  const float fraction = p - static_cast<float>(i);
  const int next = i + 1 == kRing ? 0 : i + 1;
  return ring[i] * (1.0f - fraction) + ring[next] * fraction;
}

struct PlainDelay {
  std::vector<float> ring[2] = {std::vector<float>(kRing), std::vector<float>(kRing)};
  int write = 0;
  int read = kRing - 9600;
  float dry = 0.7f, wet = 0.3f, feedback = 0.2f;

  void process(const float* const* in, float* const* out, unsigned int frames) {
    for (unsigned int f = 0; f < frames; ++f) {
      for (unsigned int c = 0; c < 2; ++c) {
        const float x = in[c][f];
        const float d = ring[c][static_cast<std::size_t>(read)];
        const float y = x * dry + d * wet;
        ring[c][static_cast<std::size_t>(write)] = storable(x + feedback * d);
        out[c][f] = y;
      }
      write = write + 1 == kRing ? 0 : write + 1;
      read = read + 1 == kRing ? 0 : read + 1;
    }
  }
};

struct PlainPingPong {
  std::vector<float> left = std::vector<float>(kRing), right = std::vector<float>(kRing);
  std::uint32_t index = 0;
  std::uint32_t length = 9600;
  float dry = 0.7f, wet = 0.3f, feedback = 0.2f;

  void process(const float* const* in, float* const* out, unsigned int frames) {
    for (unsigned int f = 0; f < frames; ++f) {
      const float xl = in[0][f];
      const float xr = in[1][f];
      const float dl = left[index];
      out[0][f] = xl * dry + dl * wet;
      left[index] = storable(xl + feedback * right[index]);
      const float dr = right[index];
      out[1][f] = xr * dry + dr * wet;
      right[index] = storable(xr + feedback * left[index]);
      index = index + 1 < length ? index + 1 : 0;
    }
  }
};

// Chorus (margin 1002, no feedback), Flanger (margin 2, feedback 0.6): read, write, step.
template <bool kFeedback>
struct PlainSweptDelay {
  std::vector<float> ring[2] = {std::vector<float>(kRing), std::vector<float>(kRing)};
  LFO lfo[2];
  int write = 0;
  float sweep, margin, feedback, wet = 0.8f;

  PlainSweptDelay(float sweepSeconds, float marginSamples, float feedbackLevel, float hz)
      : sweep(sweepSeconds), margin(marginSamples), feedback(feedbackLevel) {
    for (int c = 0; c < 2; ++c) {
      lfo[c].setFrequency(hz);
      lfo[c].setAmplitude(0.5f);
      lfo[c].setOffset(0.5f);
      lfo[c].setPhaseOffset(static_cast<float>(c * (3.14159265358979323846 / 2)));
    }
  }

  void process(const float* const* in, float* const* out, unsigned int frames, int rate) {
    const auto r = static_cast<float>(rate);
    const auto length = static_cast<float>(kRing);
    for (unsigned int f = 0; f < frames; ++f) {
      for (unsigned int c = 0; c < 2; ++c) {
        const float d = (sweep * lfo[c].process(rate)) * r;
        const float x = in[c][f];
        const float delayed = interpolate(
            ring[c].data(), wrap(((static_cast<float>(write) - d) - margin) + length, length));
        ring[c][static_cast<std::size_t>(write)] = storable(kFeedback ? x + feedback * delayed : x);
        out[c][f] = x + wet * delayed;
      }
      write = write + 1 == kRing ? 0 : write + 1;
    }
  }
};

struct PlainVibrato {
  std::vector<float> ring[2] = {std::vector<float>(kRing), std::vector<float>(kRing)};
  LFO lfo;
  int write = 0;
  float sweep = 0.01f;

  PlainVibrato() {
    lfo.setFrequency(4.0f);
    lfo.setAmplitude(0.5f);
    lfo.setOffset(0.5f);
  }

  void process(const float* const* in, float* const* out, unsigned int frames, int rate) {
    const auto r = static_cast<float>(rate);
    const auto length = static_cast<float>(kRing);
    for (unsigned int f = 0; f < frames; ++f) {
      const float d = (sweep * lfo.process(rate)) * r;
      const float p = wrap(((static_cast<float>(write) - d) - 1.0f) + length, length);
      for (unsigned int c = 0; c < 2; ++c) {
        ring[c][static_cast<std::size_t>(write)] = storable(in[c][f]);
        out[c][f] = interpolate(ring[c].data(), p);
      }
      write = write + 1 == kRing ? 0 : write + 1;
    }
  }
};

}  // namespace orvane::bench
