#include "Spectrogram.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <numbers>

namespace orvane::fx {

namespace {

constexpr unsigned int kFftSize = 4096;
constexpr double kLowestHz = 30.0;
constexpr double kHighestHz = 20000.0;
constexpr double kFloorDb = -90.0;

// In place, radix 2; the size is a power of two.
void fft(std::vector<std::complex<double>>& data) {
  const std::size_t n = data.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(data[i], data[j]);
  }
  for (std::size_t length = 2; length <= n; length <<= 1) {
    const double angle = -2.0 * std::numbers::pi / static_cast<double>(length);
    const std::complex<double> step(std::cos(angle), std::sin(angle));
    for (std::size_t i = 0; i < n; i += length) {
      std::complex<double> w(1.0, 0.0);
      for (std::size_t k = 0; k < length / 2; ++k) {
        const std::complex<double> a = data[i + k];
        const std::complex<double> b = data[i + k + length / 2] * w;
        data[i + k] = a + b;
        data[i + k + length / 2] = a - b;
        w *= step;
      }
    }
  }
}

// Dark blue through purple and orange to pale yellow, for 0 to 1.
std::array<std::uint8_t, 3> colour(double level) {
  constexpr std::array<std::array<double, 3>, 5> kStops = {{
      {8, 8, 32}, {60, 15, 110}, {180, 50, 90}, {245, 140, 40}, {252, 250, 180}}};
  const double position = std::clamp(level, 0.0, 1.0) * (kStops.size() - 1);
  const auto i = std::min<std::size_t>(static_cast<std::size_t>(position), kStops.size() - 2);
  const double f = position - static_cast<double>(i);
  std::array<std::uint8_t, 3> rgb{};
  for (int c = 0; c < 3; ++c) {
    rgb[c] = static_cast<std::uint8_t>(kStops[i][c] + f * (kStops[i + 1][c] - kStops[i][c]));
  }
  return rgb;
}

std::uint32_t crc32(const std::string& bytes, std::size_t from) {
  static const auto table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
      std::uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[n] = c;
    }
    return t;
  }();
  std::uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = from; i < bytes.size(); ++i) {
    c = table[(c ^ static_cast<std::uint8_t>(bytes[i])) & 0xFF] ^ (c >> 8);
  }
  return c ^ 0xFFFFFFFFu;
}

void big32(std::string& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>((v >> shift) & 0xFF));
}

void chunk(std::string& png, const char* type, const std::string& data) {
  big32(png, static_cast<std::uint32_t>(data.size()));
  const std::size_t start = png.size();
  png.append(type, 4);
  png += data;
  big32(png, crc32(png, start));
}

}  // namespace

std::string encodePng(unsigned int width, unsigned int height,
                      const std::vector<std::uint8_t>& rgb) {
  std::string png = "\x89PNG\r\n\x1a\n";
  std::string header;
  big32(header, width);
  big32(header, height);
  header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB, no interlace
  chunk(png, "IHDR", header);
  // The picture data as zlib "stored" blocks: no compression, so no library is needed.
  std::string raw;
  for (unsigned int y = 0; y < height; ++y) {
    raw.push_back('\0');  // no filter
    raw.append(reinterpret_cast<const char*>(rgb.data()) + static_cast<std::size_t>(y) * width * 3,
               static_cast<std::size_t>(width) * 3);
  }
  std::string zlib = "\x78\x01";
  constexpr std::size_t kBlock = 65535;
  for (std::size_t at = 0; at < raw.size() || at == 0; at += kBlock) {
    const std::size_t length = std::min(kBlock, raw.size() - at);
    zlib.push_back(at + length >= raw.size() ? '\x01' : '\x00');
    zlib.push_back(static_cast<char>(length & 0xFF));
    zlib.push_back(static_cast<char>(length >> 8));
    zlib.push_back(static_cast<char>(~length & 0xFF));
    zlib.push_back(static_cast<char>((~length >> 8) & 0xFF));
    zlib.append(raw, at, length);
    if (raw.empty()) break;
  }
  std::uint32_t a = 1, b = 0;  // Adler-32
  for (unsigned char c : raw) {
    a = (a + c) % 65521;
    b = (b + a) % 65521;
  }
  big32(zlib, (b << 16) | a);
  chunk(png, "IDAT", zlib);
  chunk(png, "IEND", "");
  return png;
}

Spectrogram::Spectrogram(unsigned int sampleRate) : sampleRate_(sampleRate) {}

void Spectrogram::add(const float* const* channels, unsigned int channelCount, unsigned int count) {
  for (unsigned int f = 0; f < count; ++f) {
    float sum = 0.0f;
    for (unsigned int c = 0; c < channelCount; ++c) sum += channels[c][f];
    mono_.push_back(channelCount > 0 ? sum / static_cast<float>(channelCount) : 0.0f);
  }
}

std::string Spectrogram::png(unsigned int width, unsigned int height) const {
  const double nyquist = sampleRate_ / 2.0;
  const double top = std::min(kHighestHz, nyquist);
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
  std::vector<double> window(kFftSize);
  double windowSum = 0.0;
  for (unsigned int i = 0; i < kFftSize; ++i) {
    window[i] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / (kFftSize - 1));
    windowSum += window[i];
  }
  std::vector<std::complex<double>> frame(kFftSize);
  std::vector<double> levels(kFftSize / 2);
  for (unsigned int x = 0; x < width; ++x) {
    const double centre = (x + 0.5) / width * static_cast<double>(mono_.size());
    const auto start = static_cast<long long>(centre) - kFftSize / 2;
    for (unsigned int i = 0; i < kFftSize; ++i) {
      const long long at = start + i;
      const double v = at >= 0 && at < static_cast<long long>(mono_.size()) ? mono_[at] : 0.0;
      frame[i] = {v * window[i], 0.0};
    }
    fft(frame);
    for (unsigned int k = 0; k < kFftSize / 2; ++k) {
      // A full-scale sine reads 0 dB.
      const double magnitude = 2.0 * std::abs(frame[k]) / windowSum;
      levels[k] = 20.0 * std::log10(std::max(magnitude, 1e-12));
    }
    for (unsigned int y = 0; y < height; ++y) {
      // Row 0 is the top: the highest frequency. Each row takes the loudest bin it spans.
      const double high = kLowestHz * std::pow(top / kLowestHz, 1.0 - static_cast<double>(y) / height);
      const double low = kLowestHz * std::pow(top / kLowestHz, 1.0 - static_cast<double>(y + 1) / height);
      auto first = static_cast<unsigned int>(low / nyquist * (kFftSize / 2));
      auto last = static_cast<unsigned int>(high / nyquist * (kFftSize / 2));
      first = std::min(first, kFftSize / 2 - 1);
      last = std::clamp(last, first, kFftSize / 2 - 1);
      double level = kFloorDb;
      for (unsigned int k = first; k <= last; ++k) level = std::max(level, levels[k]);
      const auto c = colour((level - kFloorDb) / -kFloorDb);
      std::copy(c.begin(), c.end(), rgb.begin() + (static_cast<std::size_t>(y) * width + x) * 3);
    }
  }
  return encodePng(width, height, rgb);
}

}  // namespace orvane::fx
