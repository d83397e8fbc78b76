#pragma once

// Small text helpers of the renderer's messages.

#include <string>
#include <vector>

namespace orvane::fx {

// "did you mean 'Delay'? " for the known word closest to a typo (without regard to case), or "".
std::string didYouMean(const std::string& typed, const std::vector<std::string>& known);
std::string lowerCase(std::string text);
// The shortest decimal that reads back as the same number: "0.7", "-3".
std::string shortestText(double value);
std::string shortestText(float value);

}  // namespace orvane::fx
