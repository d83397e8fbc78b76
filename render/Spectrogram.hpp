#pragma once

// A spectrogram of a render's output, as a PNG picture: time across, frequency up on a
// logarithmic axis (30 Hz to 20 kHz, or the Nyquist frequency when lower), level as colour
// (−90 dBFS dark to 0 dBFS bright). Made for the demo's short signals: it keeps the whole
// signal (mixed to mono) until the picture is drawn.

#include <cstdint>
#include <string>
#include <vector>

namespace orvane::fx {

class Spectrogram {
 public:
  explicit Spectrogram(unsigned int sampleRate);

  void add(const float* const* channels, unsigned int channelCount, unsigned int count);
  // The picture, as the bytes of a PNG file.
  std::string png(unsigned int width = 900, unsigned int height = 260) const;

 private:
  unsigned int sampleRate_;
  std::vector<float> mono_;
};

// An 8-bit RGB picture (rows top to bottom, 3 bytes a pixel) as the bytes of a PNG file.
std::string encodePng(unsigned int width, unsigned int height, const std::vector<std::uint8_t>& rgb);

}  // namespace orvane::fx
