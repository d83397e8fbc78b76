#pragma once

// Small text helpers of the renderer's messages.

#include <string>
#include <vector>

namespace orvane::fx {

// "did you mean 'Delay'? " for the known word closest to a typo (without regard to case), or "".
std::string didYouMean(const std::string& typed, const std::vector<std::string>& known);
std::string lowerCase(std::string text);

}  // namespace orvane::fx
