#include "Render.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <orvane/sdk/AudioBuffer.hpp>
#include <vector>

namespace orvane::fx {

namespace {

using Clock = std::chrono::steady_clock;

class Progress {
 public:
  Progress(bool enabled, std::uint64_t total) : enabled_(enabled), total_(total) {}
  ~Progress() {
    if (shown_) std::fputs("\r\033[K", stderr);
  }

  void update(std::uint64_t done) {
    if (!enabled_ || total_ == 0) return;
    const auto now = Clock::now();
    if (now - start_ < std::chrono::seconds(1) || now - last_ < std::chrono::milliseconds(200)) {
      return;
    }
    last_ = now;
    shown_ = true;
    std::fprintf(stderr, "\rrendering: %3.0f%%", 100.0 * static_cast<double>(done) / total_);
    std::fflush(stderr);
  }

 private:
  bool enabled_;
  std::uint64_t total_;
  bool shown_ = false;
  Clock::time_point start_ = Clock::now();
  Clock::time_point last_ = start_;
};

}  // namespace

RenderResult render(SignalSource& source, EffectChain& chain, SoundFileWriter& writer,
                    WaveformPlot* plot, const RenderOptions& options) {
  const unsigned int channels = source.channels();
  const unsigned int block = std::max(1u, options.blockSize);
  const std::uint64_t total = source.frames() + options.tailFrames;

  // The input is read in chunks of whole blocks, so that file access costs little per sample
  // while the nodes still see blocks of the size asked for.
  const unsigned int chunk = block * std::max(1u, 8192u / block);
  AudioBuffer<float> buffer(channels, chunk, source.sampleRate());
  std::vector<float*> pointers(channels);
  for (unsigned int c = 0; c < channels; ++c) pointers[c] = buffer.getChannel(c);

  std::vector<float*> blockPointers(channels);

  RenderResult result;
  double sumOfSquares = 0.0;
  Progress progress(options.showProgress, total);
  const auto start = Clock::now();
  bool inputEnded = false;
  std::uint64_t tailLeft = options.tailFrames;
  while (true) {
    unsigned int count = 0;
    if (!inputEnded) {
      count = source.read(pointers.data(), chunk);
      // A file may end before its header said: the tail follows whatever was there.
      inputEnded = count < chunk;
    }
    if (inputEnded && tailLeft > 0) {
      const auto silent =
          static_cast<unsigned int>(std::min<std::uint64_t>(chunk - count, tailLeft));
      for (unsigned int c = 0; c < channels; ++c) std::fill_n(pointers[c] + count, silent, 0.0f);
      count += silent;
      tailLeft -= silent;
    }
    if (count == 0) break;
    if (plot != nullptr) plot->addInput(pointers.data(), result.frames, count);

    for (unsigned int offset = 0; offset < count; offset += block) {
      for (unsigned int c = 0; c < channels; ++c) blockPointers[c] = pointers[c] + offset;
      AudioBuffer<float> view(blockPointers.data(), channels, std::min(block, count - offset),
                              source.sampleRate());
      chain.process(view);
    }

    for (unsigned int c = 0; options.measureLevels && c < channels; ++c) {
      for (unsigned int f = 0; f < count; ++f) {
        const float v = pointers[c][f];
        result.peak = std::max(result.peak, std::fabs(v));
        sumOfSquares += static_cast<double>(v) * v;
      }
    }
    if (plot != nullptr) plot->addOutput(pointers.data(), result.frames, count);
    writer.write(pointers.data(), count);
    result.frames += count;
    progress.update(result.frames);
  }
  result.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  const double samples = static_cast<double>(result.frames) * channels;
  result.rms = samples > 0 ? std::sqrt(sumOfSquares / samples) : 0.0;
  return result;
}

}  // namespace orvane::fx
