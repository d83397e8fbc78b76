#pragma once

// The renderer's words for the output stage (the library's OutputStage): "mix=0.5 level=-3dB".

#include <orvane/audioeffects/OutputStage.hpp>
#include <string>

namespace orvane::fx {

using extensions::audioeffects::OutputStage;

// "mix" 0 to 1; throws UsageError naming `where` otherwise.
float parseMix(const std::string& text, const std::string& where);
// "level" in dB ("-3dB" or "-3"), from kLowestLevelDb to kHighestLevelDb; throws UsageError.
double parseLevelDb(const std::string& text, const std::string& where);
// The stage's words for a chain's text: "" at the defaults, else " mix=0.5 level=-3dB".
std::string stageText(const OutputStage& stage);

}  // namespace orvane::fx
