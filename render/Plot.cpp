#include "Plot.hpp"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <limits>
#include <sstream>

namespace orvane::fx {

namespace {

constexpr int kLeft = 70;
constexpr int kRight = 20;
constexpr int kTop = 40;
constexpr int kLaneHeight = 180;
constexpr int kLaneGap = 30;
constexpr int kAxisHeight = 40;


// A round step for about `wanted` ticks over `span` seconds: 1, 2 or 5 times a power of ten.
double tickStep(double span, int wanted) {
  const double raw = span / wanted;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  for (double m : {1.0, 2.0, 5.0}) {
    if (m * magnitude >= raw) return m * magnitude;
  }
  return 10.0 * magnitude;
}

}  // namespace

WaveformPlot::WaveformPlot(unsigned int channels, std::uint64_t totalFrames,
                           unsigned int sampleRate)
    : channels_(channels),
      totalFrames_(std::max<std::uint64_t>(totalFrames, 1)),
      sampleRate_(sampleRate),
      input_(channels,
             Envelope{std::vector<float>(kColumns, 0.0f), std::vector<float>(kColumns, 0.0f)}),
      output_(input_),
      peaks_(channels),
      peakThreshold_(channels, 0.0f) {}

// Column j now spans what columns 2j and 2j+1 did (their boundaries, rounded up, are the same
// frames); the second half of the columns is empty again.
void WaveformPlot::doubleSpan() {
  for (auto* envelopes : {&input_, &output_}) {
    for (Envelope& e : *envelopes) {
      for (std::size_t j = 0; j < kColumns; ++j) {
        const bool merged = j < kColumns / 2;
        e.low[j] = merged ? std::min(e.low[2 * j], e.low[2 * j + 1]) : 0.0f;
        e.high[j] = merged ? std::max(e.high[2 * j], e.high[2 * j + 1]) : 0.0f;
      }
    }
  }
  totalFrames_ *= 2;
}

void WaveformPlot::add(std::vector<Envelope>& envelopes, const float* const* channels,
                       std::uint64_t firstFrame, unsigned int count) {
  while (firstFrame + count > totalFrames_) doubleSpan();
  framesSeen_ = std::max(framesSeen_, firstFrame + count);
  // Walks the block column by column: frames [begin, end) of the block fall in one column.
  unsigned int begin = 0;
  while (begin < count) {
    const std::uint64_t frame = firstFrame + begin;
    const auto column = static_cast<std::size_t>(
        std::min<std::uint64_t>(frame * kColumns / totalFrames_, kColumns - 1));
    const std::uint64_t nextColumnStart =
        column + 1 >= kColumns ? firstFrame + count
                               : ((column + 1) * totalFrames_ + kColumns - 1) / kColumns;
    const auto end = static_cast<unsigned int>(
        std::min<std::uint64_t>(std::max(nextColumnStart, frame + 1) - firstFrame, count));
    for (unsigned int c = 0; c < channels_; ++c) {
      float low = envelopes[c].low[column];
      float high = envelopes[c].high[column];
      for (unsigned int f = begin; f < end; ++f) {
        const float v = channels[c][f];
        if (!std::isfinite(v)) continue;
        low = std::min(low, v);
        high = std::max(high, v);
      }
      envelopes[c].low[column] = low;
      envelopes[c].high[column] = high;
    }
    begin = end;
  }
}

void WaveformPlot::addInput(const float* const* channels, std::uint64_t firstFrame,
                            unsigned int count) {
  add(input_, channels, firstFrame, count);
}

void WaveformPlot::addOutput(const float* const* channels, std::uint64_t firstFrame,
                             unsigned int count) {
  add(output_, channels, firstFrame, count);
  for (unsigned int c = 0; c < channels_; ++c) {
    std::vector<Peak>& peaks = peaks_[c];
    for (unsigned int f = 0; f < count; ++f) {
      const float v = channels[c][f];
      if (!(std::fabs(v) > peakThreshold_[c]) || !std::isfinite(v)) continue;
      if (peaks.size() == kPeaksKept) {
        auto smallest = std::min_element(peaks.begin(), peaks.end(), [](Peak a, Peak b) {
          return std::fabs(a.value) < std::fabs(b.value);
        });
        if (std::fabs(smallest->value) >= std::fabs(v)) continue;
        *smallest = Peak{firstFrame + f, v};
        // Only a sample louder than the quietest kept peak can enter the list now.
        peakThreshold_[c] =
            std::fabs(std::min_element(peaks.begin(), peaks.end(), [](Peak a, Peak b) {
                        return std::fabs(a.value) < std::fabs(b.value);
                      })->value);
      } else {
        peaks.push_back(Peak{firstFrame + f, v});
      }
    }
  }
}

std::string WaveformPlot::svg(const std::string& title, bool labelPeaks) const {
  const int width = kLeft + static_cast<int>(kColumns) + kRight;
  const int height = kTop + static_cast<int>(channels_) * (kLaneHeight + kLaneGap) + kAxisHeight;
  float scale = 0.0f;
  for (const auto* envelopes : {&input_, &output_}) {
    for (const Envelope& e : *envelopes) {
      for (std::size_t i = 0; i < kColumns; ++i) {
        scale = std::max({scale, std::fabs(e.low[i]), std::fabs(e.high[i])});
      }
    }
  }
  if (scale == 0.0f) scale = 1.0f;

  std::ostringstream svg;
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
      << "\" viewBox=\"0 0 " << width << ' ' << height
      << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      << "<text x=\"" << kLeft << "\" y=\"24\" font-size=\"16\">" << escapeXml(title) << "</text>\n"
      << "<text x=\"" << width - kRight << "\" y=\"24\" text-anchor=\"end\">"
      << "<tspan fill=\"#999\">input</tspan>  <tspan fill=\"#1f5fbf\">output</tspan></text>\n";

  // The columns in use, spread over the width: at least half of them, after a doubling.
  const auto drawn = static_cast<std::size_t>(std::clamp<std::uint64_t>(
      (framesSeen_ * kColumns + totalFrames_ - 1) / totalFrames_, 1, kColumns));
  const double shownFrames = static_cast<double>(drawn) * totalFrames_ / kColumns;
  const double pixelsPerColumn = static_cast<double>(kColumns) / drawn;
  const double seconds = shownFrames / sampleRate_;
  for (unsigned int c = 0; c < channels_; ++c) {
    const int top = kTop + static_cast<int>(c) * (kLaneHeight + kLaneGap);
    const double middle = top + kLaneHeight / 2.0;
    const double half = kLaneHeight / 2.0 - 4.0;
    svg << "<rect x=\"" << kLeft << "\" y=\"" << top << "\" width=\"" << kColumns << "\" height=\""
        << kLaneHeight << "\" fill=\"#fafafa\" stroke=\"#ccc\"/>\n"
        << "<line x1=\"" << kLeft << "\" x2=\"" << kLeft + kColumns << "\" y1=\"" << middle
        << "\" y2=\"" << middle << "\" stroke=\"#ddd\"/>\n"
        << "<text x=\"8\" y=\"" << middle + 4 << "\">ch " << c << "</text>\n"
        << "<text x=\"" << kLeft - 6 << "\" y=\"" << top + 12 << "\" text-anchor=\"end\">"
        << std::setprecision(3) << scale << std::setprecision(6) << "</text>\n";
    const struct {
      const std::vector<Envelope>* envelopes;
      const char* colour;
    } layers[] = {{&input_, "#999"}, {&output_, "#1f5fbf"}};
    for (const auto& layer : layers) {
      const Envelope& e = (*layer.envelopes)[c];
      svg << "<path fill=\"none\" stroke=\"" << layer.colour << "\" stroke-width=\"1\" d=\"";
      for (std::size_t i = 0; i < drawn; ++i) {
        const double x = kLeft + (i + 0.5) * pixelsPerColumn;
        const double yHigh = middle - half * e.high[i] / scale;
        const double yLow = middle - half * e.low[i] / scale;
        svg << 'M' << x << ' ' << yHigh << 'V' << std::max(yLow, yHigh + 0.5);
      }
      svg << "\"/>\n";
    }
    if (labelPeaks) {
      std::vector<Peak> peaks = peaks_[c];
      std::sort(peaks.begin(), peaks.end(), [](Peak a, Peak b) { return a.frame < b.frame; });
      int row = 0;
      for (const Peak& p : peaks) {
        const double x = kLeft + static_cast<double>(p.frame) * kColumns / shownFrames;
        const double y = middle - half * p.value / scale;
        svg << "<circle cx=\"" << x << "\" cy=\"" << y << "\" r=\"3\" fill=\"#d33\"/>\n"
            << "<text x=\"" << x + 5 << "\" y=\"" << top + 14 + 13 * (row++ % 6)
            << "\" fill=\"#d33\">" << std::setprecision(4)
            << 1000.0 * static_cast<double>(p.frame) / sampleRate_ << " ms, "
            << std::fixed << std::setprecision(1) << 20.0 * std::log10(std::fabs(p.value))
            << " dB" << std::defaultfloat << std::setprecision(6) << "</text>\n";
      }
    }
  }

  const int axis = kTop + static_cast<int>(channels_) * (kLaneHeight + kLaneGap);
  const double step = seconds > 0.0 ? tickStep(seconds, 10) : 1.0;
  for (double t = 0.0; t <= seconds + 1e-9; t += step) {
    const double x = kLeft + t / seconds * kColumns;
    svg << "<line x1=\"" << x << "\" x2=\"" << x << "\" y1=\"" << axis - kLaneGap + 4 << "\" y2=\""
        << axis - kLaneGap + 10 << "\" stroke=\"#333\"/>\n"
        << "<text x=\"" << x << "\" y=\"" << axis - kLaneGap + 24 << "\" text-anchor=\"middle\">"
        << t << " s</text>\n";
  }
  svg << "</svg>\n";
  return svg.str();
}

std::string escapeXml(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace orvane::fx
