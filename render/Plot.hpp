#pragma once

// A picture of a render: one lane per channel with the input (grey) and the output (blue)
// waveforms, and a time axis. Memory is fixed whatever the length: each pixel column keeps
// the lowest and highest sample that falls in it. A render that runs past the length given
// (a tail that lasts until the echoes die away) doubles the span each column covers, as often
// as needed; the picture then spans what was rendered.

#include <cstdint>
#include <string>
#include <vector>

namespace orvane::fx {

// Text made safe to stand in SVG or HTML: &, < and > as entities.
std::string escapeXml(const std::string& text);

class WaveformPlot {
 public:
  WaveformPlot(unsigned int channels, std::uint64_t totalFrames, unsigned int sampleRate);

  void addInput(const float* const* channels, std::uint64_t firstFrame, unsigned int count);
  void addOutput(const float* const* channels, std::uint64_t firstFrame, unsigned int count);

  // With `labelPeaks`, the largest output samples of each channel are marked with their time
  // and value: for an impulse, that makes every echo readable.
  std::string svg(const std::string& title, bool labelPeaks) const;

 private:
  struct Envelope {
    std::vector<float> low;
    std::vector<float> high;
  };
  struct Peak {
    std::uint64_t frame;
    float value;
  };
  static constexpr unsigned int kColumns = 1200;
  static constexpr std::size_t kPeaksKept = 10;

  void add(std::vector<Envelope>& envelopes, const float* const* channels, std::uint64_t firstFrame,
           unsigned int count);
  void doubleSpan();

  unsigned int channels_;
  std::uint64_t totalFrames_;     // the frames the columns span
  std::uint64_t framesSeen_ = 0;  // the frames added
  unsigned int sampleRate_;
  std::vector<Envelope> input_;
  std::vector<Envelope> output_;
  std::vector<std::vector<Peak>> peaks_;
  std::vector<float> peakThreshold_;
};

}  // namespace orvane::fx
