#pragma once

// A mix and an output level around any effect, as every front end offers them: the effect's
// output blended with its input, `dry + mix * (wet - dry)` in float, then scaled by the level's
// gain. At mix 1 and level 0 dB nothing is touched, so the effect's own samples come out bit
// for bit. The nodes stay as they are; this is the front ends' layer, kept here so that every
// front end (renderer, Python, plugins) applies the same arithmetic.

#include <cmath>
#include <cstddef>

namespace orvane::extensions::audioeffects {

struct OutputStage {
  static constexpr double kLowestLevelDb = -120.0;
  static constexpr double kHighestLevelDb = 24.0;

  float mix = 1.0f;      // 0: the input only; 1: the effect only
  double levelDb = 0.0;  // the output's gain, in dB

  // Any thread. The level counts as the float nearest to it, as every setting the nodes hold
  // does, so that a plugin's float control and the renderer's "level=-3.3dB" give one gain.
  float gain() const {
    return static_cast<float>(std::pow(10.0, static_cast<float>(levelDb) / 20.0));
  }
  bool active() const { return mix != 1.0f || levelDb != 0.0; }

  // Audio thread: no allocation. `wet` (the effect's output) becomes the stage's, from `dry`
  // (the effect's input, which is read only when the mix is not 1).
  void apply(const float* dry, float* wet, std::size_t frames) const {
    if (mix != 1.0f) {
      for (std::size_t f = 0; f < frames; ++f) wet[f] = dry[f] + mix * (wet[f] - dry[f]);
    }
    if (levelDb != 0.0) {
      const float g = gain();
      for (std::size_t f = 0; f < frames; ++f) wet[f] *= g;
    }
  }
};

}  // namespace orvane::extensions::audioeffects
