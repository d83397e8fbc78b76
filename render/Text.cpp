#include "Text.hpp"

#include <charconv>

#include <algorithm>
#include <cctype>

namespace orvane::fx {

std::string lowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

namespace {

std::size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1] ? 1 : 0)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string didYouMean(const std::string& typed, const std::vector<std::string>& known) {
  const std::string lowered = lowerCase(typed);
  std::string best;
  std::size_t bestDistance = std::max<std::size_t>(2, typed.size() / 3) + 1;
  for (const std::string& candidate : known) {
    const std::size_t distance = editDistance(lowered, lowerCase(candidate));
    if (distance < bestDistance) {
      bestDistance = distance;
      best = candidate;
    }
  }
  return best.empty() ? "" : "did you mean '" + best + "'? ";
}

std::string shortestText(double value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

std::string shortestText(float value) {
  char text[32];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

}  // namespace orvane::fx
