#pragma once

// A mix and an output level around any effect, as every front end offers them: the effect's
// output blended with its input, `dry + mix * (wet - dry)` in float, then scaled by the level's
// gain. At mix 1 and level 0 dB nothing is touched, so the effect's own samples come out bit
// for bit. The nodes stay as they are; this is the front ends' layer.

#include <cmath>
#include <cstddef>
#include <string>

namespace orvane::fx {

struct OutputStage {
  static constexpr double kLowestLevelDb = -120.0;
  static constexpr double kHighestLevelDb = 24.0;

  float mix = 1.0f;      // 0: the input only; 1: the effect only
  double levelDb = 0.0;  // the output's gain, in dB

  float gain() const { return static_cast<float>(std::pow(10.0, levelDb / 20.0)); }
  bool active() const { return mix != 1.0f || levelDb != 0.0; }

  // `wet` (the effect's output) becomes the stage's, from `dry` (the effect's input).
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

// "mix" 0 to 1; throws UsageError naming `where` otherwise.
float parseMix(const std::string& text, const std::string& where);
// "level" in dB ("-3dB" or "-3"), from kLowestLevelDb to kHighestLevelDb; throws UsageError.
double parseLevelDb(const std::string& text, const std::string& where);
// The stage's words for a chain's text: "" at the defaults, else " mix=0.5 level=-3dB".
std::string stageText(const OutputStage& stage);

}  // namespace orvane::fx
