#include "Render.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <string>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <signal.h>
#include <orvane/sdk/AudioBuffer.hpp>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace orvane::fx {

namespace {

using Clock = std::chrono::steady_clock;

// How often a stage waiting for another looks at the stop request.
constexpr auto kStopPoll = std::chrono::milliseconds(50);

// On a terminal: position and length, percent, speed and time left, redrawn at most ten times a
// second once a render has run for half a second.
class Progress {
 public:
  Progress(bool enabled, std::uint64_t total, unsigned int sampleRate)
      : enabled_(enabled), total_(total), sampleRate_(sampleRate) {}
  ~Progress() {
    if (shown_) std::fputs("\r\033[K", stderr);
  }

  void update(std::uint64_t done) {
    if (!enabled_ || total_ == 0 || sampleRate_ == 0) return;
    const auto now = Clock::now();
    if (now - start_ < std::chrono::milliseconds(500) ||
        now - last_ < std::chrono::milliseconds(100)) {
      return;
    }
    last_ = now;
    shown_ = true;
    const double elapsed = std::chrono::duration<double>(now - start_).count();
    const double position = static_cast<double>(done) / sampleRate_;
    const double length = static_cast<double>(total_) / sampleRate_;
    const double speed = elapsed > 0.0 ? position / elapsed : 0.0;
    const double left = speed > 0.0 ? (length - position) / speed : 0.0;
    std::fprintf(stderr, "\r\033[K%s / %s  %3.0f%%  %.0fx real time  %s left",
                 clock(position).c_str(), clock(length).c_str(), 100.0 * position / length, speed,
                 clock(left).c_str());
    std::fflush(stderr);
  }

 private:
  static std::string clock(double seconds) {
    const auto whole = static_cast<long long>(seconds);
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld", whole / 60, whole % 60);
    return text;
  }

  bool enabled_;
  std::uint64_t total_;
  unsigned int sampleRate_;
  bool shown_ = false;
  Clock::time_point start_ = Clock::now();
  Clock::time_point last_ = start_;
};

// A bounded hand-over between two stages of the render. close() ends it: pop() then returns
// false once it is empty, and push() drops what it is given.
template <typename T>
class Channel {
 public:
  void push(T value) {
    std::unique_lock lock(mutex_);
    if (closed_) return;
    items_.push_back(std::move(value));
    ready_.notify_one();
  }
  bool pop(T& value) {
    std::unique_lock lock(mutex_);
    // Wakes now and then to notice a stop request even when the other stage is stuck.
    while (!ready_.wait_for(lock, kStopPoll, [&] { return closed_ || !items_.empty(); })) {
      if (stopRequestedNow()) {
        lock.unlock();
        throw Interrupted();
      }
    }
    if (items_.empty()) return false;
    value = std::move(items_.front());
    items_.pop_front();
    return true;
  }
  void close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    ready_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<T> items_;
  bool closed_ = false;
};

// The largest magnitude in `samples` (at least `peak`) and how many lie beyond full scale; NaN
// counts as neither. Four lanes at a time where SSE is there: max and compare are exact, and
// the largest of a set of non-NaN values does not depend on the order they are taken in. Four
// running maxima of four lanes each, taken side by side: with one, every step waited for the
// one before it (a max takes several cycles), and the peak cost more than splitting the
// channels apart.
void measurePeak(const float* samples, unsigned int count, float& peak, std::uint64_t& over) {
  unsigned int f = 0;
#if defined(__SSE2__)
  constexpr unsigned int kLanes = 4;
  constexpr unsigned int kRunning = 4;
  const __m128 signBit = _mm_set1_ps(-0.0f);
  const __m128 fullScale = _mm_set1_ps(1.0f);
  __m128 largest[kRunning];
  __m128i overs[kRunning];  // per lane; a chunk is far below 2^32 samples
  for (unsigned int k = 0; k < kRunning; ++k) {
    largest[k] = _mm_set1_ps(peak);
    overs[k] = _mm_setzero_si128();
  }
  // NaN magnitudes leave `largest` as it is.
  auto take = [&](unsigned int k, const float* at) {
    const __m128 magnitude = _mm_andnot_ps(signBit, _mm_loadu_ps(at));
    largest[k] = _mm_max_ps(magnitude, largest[k]);
    overs[k] = _mm_sub_epi32(overs[k], _mm_castps_si128(_mm_cmpgt_ps(magnitude, fullScale)));
  };
  for (; f + kLanes * kRunning <= count; f += kLanes * kRunning) {
    for (unsigned int k = 0; k < kRunning; ++k) take(k, samples + f + kLanes * k);
  }
  for (; f + kLanes <= count; f += kLanes) take(0, samples + f);
  for (unsigned int k = 1; k < kRunning; ++k) {
    largest[0] = _mm_max_ps(largest[k], largest[0]);
    overs[0] = _mm_add_epi32(overs[k], overs[0]);
  }
  alignas(16) float lanes[kLanes];
  alignas(16) std::uint32_t laneOvers[kLanes];
  _mm_store_ps(lanes, largest[0]);
  _mm_store_si128(reinterpret_cast<__m128i*>(laneOvers), overs[0]);
  for (unsigned int lane = 0; lane < kLanes; ++lane) {
    peak = std::max(peak, lanes[lane]);
    over += laneOvers[lane];
  }
#endif
  for (; f < count; ++f) {
    const float magnitude = std::fabs(samples[f]);
    peak = std::max(peak, magnitude);
    over += magnitude > 1.0f ? 1 : 0;
  }
}

struct Chunk;
unsigned int autoTailEnd(const std::vector<float*>& channels, const Chunk& chunk,
                         std::uint64_t quietNeeded, std::uint64_t& quietRun);

// One chunk of audio on its way through the pipeline.
struct Chunk {
  AudioBuffer<float>* buffer = nullptr;
  unsigned int frames = 0;
  unsigned int input = 0;  // frames read from the source; the rest is tail
};

// The writer's side of an automatic tail: tail frames below kQuietLevel on every channel are
// held back until something louder follows them, so that the output ends with its last
// audible frame; what is still held at the end is dropped. The input's own frames are always
// written. Allocates as it holds (at most the chain's reach and a chunk).
class QuietTail {
 public:
  QuietTail(unsigned int channels, bool active) : held_(channels), active_(active) {}

  void write(SoundFileWriter& writer, const std::vector<const float*>& channels,
             const Chunk& chunk) {
    if (!active_) {
      writer.write(channels.data(), chunk.frames);
      return;
    }
    // The last audible frame of the chunk's tail, if any.
    unsigned int audibleEnd = std::min(chunk.input, chunk.frames);
    for (unsigned int f = chunk.frames; f > audibleEnd; --f) {
      bool quiet = true;
      for (const float* channel : channels) quiet = quiet && std::fabs(channel[f - 1]) < kQuietLevel;
      if (!quiet) {
        audibleEnd = f;
        break;
      }
    }
    if (audibleEnd > 0) flush(writer);
    writer.write(channels.data(), audibleEnd);
    for (std::size_t c = 0; c < held_.size(); ++c) {
      held_[c].insert(held_[c].end(), channels[c] + audibleEnd, channels[c] + chunk.frames);
    }
  }

  std::uint64_t frames() const { return held_.empty() ? 0 : held_[0].size(); }

 private:
  void flush(SoundFileWriter& writer) {
    if (frames() == 0) return;
    std::vector<const float*> pointers(held_.size());
    for (std::size_t c = 0; c < held_.size(); ++c) pointers[c] = held_[c].data();
    writer.write(pointers.data(), static_cast<unsigned int>(frames()));
    for (auto& channel : held_) channel.clear();
  }

  std::vector<std::vector<float>> held_;
  bool active_;
};

// Where an automatic tail ends in this processed chunk: at the first tail frame that follows
// `quietNeeded` frames of output below kQuietLevel on every channel (counted across chunks in
// `quietRun`), or the chunk's end when there is none.
unsigned int autoTailEnd(const std::vector<float*>& channels, const Chunk& chunk,
                         std::uint64_t quietNeeded, std::uint64_t& quietRun) {
  const auto quietAt = [&channels](unsigned int f) {
    bool quiet = true;
    for (const float* channel : channels) quiet = quiet && std::fabs(channel[f]) < kQuietLevel;
    return quiet;
  };
  // The input's own frames are all kept, so of them only the quiet run they end with counts:
  // found from their end backwards (at once, for sound), not frame by frame from the start.
  const unsigned int input = std::min(chunk.input, chunk.frames);
  unsigned int f = input;
  while (f > 0 && quietAt(f - 1)) --f;
  quietRun = f == 0 ? quietRun + input : input - f;
  for (f = input; f < chunk.frames; ++f) {
    if (quietRun >= quietNeeded) return f;
    quietRun = quietAt(f) ? quietRun + 1 : 0;
  }
  return chunk.frames;
}

}  // namespace

namespace {

// Stop signals go to the main thread only, so that its blocking calls (opening a FIFO, say)
// return early; the render's own threads are started with them blocked.
class SignalsBlockedHere {
 public:
  SignalsBlockedHere() {
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &saved_);
  }
  ~SignalsBlockedHere() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

 private:
  sigset_t saved_;
};

}  // namespace

RenderResult render(SignalSource& source, EffectChain& chain, SoundFileWriter& writer,
                    WaveformPlot* plot, const RenderOptions& options) {
  const unsigned int channels = source.channels();
  const unsigned int block = std::max(1u, options.blockSize);
  const std::uint64_t total = source.frames() + options.tailFrames;

  // The input is read in chunks of whole blocks, so that file access costs little per sample
  // while the nodes still see blocks of the size asked for. Reading, processing and writing
  // run on three threads, a few chunks apart, so that file access overlaps the effects; the
  // nodes are still called from one thread only, in order.
  // A chunk holds about 2^17 samples (512 KiB), whatever the channel count: few enough
  // hand-overs between the threads, little memory.
  constexpr unsigned int kChunkSamples = 1u << 17;
  const unsigned int chunkFrames = block * std::max(1u, kChunkSamples / std::max(1u, channels) / block);
  constexpr int kChunksInFlight = 4;
  std::vector<std::unique_ptr<AudioBuffer<float>>> buffers;
  Channel<AudioBuffer<float>*> empty;
  Channel<Chunk> filled;
  Channel<Chunk> processed;
  for (int i = 0; i < kChunksInFlight; ++i) {
    buffers.push_back(
        std::make_unique<AudioBuffer<float>>(channels, chunkFrames, source.sampleRate()));
    empty.push(buffers.back().get());
  }

  std::mutex failureMutex;
  std::exception_ptr failure;
  auto fail = [&](std::exception_ptr error) {
    {
      std::lock_guard lock(failureMutex);
      if (!failure) failure = error;
    }
    empty.close();
    filled.close();
    processed.close();
  };

  // Set by the processing thread once an automatic tail has found its end.
  std::atomic<bool> tailEnded{false};
  std::optional<SignalsBlockedHere> blocked(std::in_place);
  std::thread reader([&] {
    try {
      std::vector<float*> pointers(channels);
      bool inputEnded = false;
      std::uint64_t tailLeft = options.tailFrames;
      AudioBuffer<float>* buffer = nullptr;
      while (!tailEnded && empty.pop(buffer)) {
        for (unsigned int c = 0; c < channels; ++c) pointers[c] = buffer->getChannel(c);
        unsigned int count = 0;
        if (!inputEnded) {
          count = source.read(pointers.data(), chunkFrames);
          // A file may end before its header said: the tail follows whatever was there.
          inputEnded = count < chunkFrames;
        }
        const unsigned int input = count;
        if (inputEnded && tailLeft > 0) {
          const auto silent =
              static_cast<unsigned int>(std::min<std::uint64_t>(chunkFrames - count, tailLeft));
          for (unsigned int c = 0; c < channels; ++c)
            std::fill_n(pointers[c] + count, silent, 0.0f);
          count += silent;
          tailLeft -= silent;
        }
        if (count == 0) break;
        filled.push(Chunk{buffer, count, input});
      }
      filled.close();
    } catch (...) {
      fail(std::current_exception());
    }
  });

  std::uint64_t framesDropped = 0;  // an automatic tail's silent end, never written
  std::thread writerThread([&] {
    try {
      std::vector<const float*> pointers(channels);
      QuietTail held(channels, options.autoTail);
      Chunk chunk;
      while (processed.pop(chunk)) {
        for (unsigned int c = 0; c < channels; ++c) pointers[c] = chunk.buffer->getChannel(c);
        held.write(writer, pointers, chunk);
        empty.push(chunk.buffer);
      }
      framesDropped = held.frames();
    } catch (...) {
      fail(std::current_exception());
    }
  });

  blocked.reset();

  RenderResult result;
  double sumOfSquares = 0.0;
  Progress progress(options.showProgress, options.autoTail ? source.frames() : total,
                    source.sampleRate());
  const auto start = Clock::now();
  // An automatic tail ends once the output has been quiet for the chain's reach.
  const std::uint64_t quietNeeded = options.autoTail ? chain.reachFrames(source.sampleRate()) : 0;
  std::uint64_t quietRun = 0;
  try {
    std::vector<float*> pointers(channels);
    std::vector<float*> blockPointers(channels);
    Chunk chunk;
    while (filled.pop(chunk)) {
      if (tailEnded) {  // read ahead before the end was found: not wanted
        empty.push(chunk.buffer);
        continue;
      }
      if (stopRequestedNow() || (options.stopAsked && options.stopAsked())) throw Interrupted();
      for (unsigned int c = 0; c < channels; ++c) pointers[c] = chunk.buffer->getChannel(c);
      const unsigned int count = chunk.frames;
      // The input as it came (a tail's silence is silence already).
      if (plot != nullptr) plot->addInput(pointers.data(), result.frames, chunk.input);
      // Each block's peak is taken while the block is still in the cache, rather than in a
      // second pass over the chunk.
      float chunkPeak = 0.0f;
      std::uint64_t chunkOver = 0;
      for (unsigned int offset = 0; offset < count; offset += block) {
        const unsigned int frames = std::min(block, count - offset);
        for (unsigned int c = 0; c < channels; ++c) blockPointers[c] = pointers[c] + offset;
        AudioBuffer<float> view(blockPointers.data(), channels, frames, source.sampleRate());
        chain.process(view);
        for (unsigned int c = 0; c < channels; ++c) {
          measurePeak(blockPointers[c], frames, chunkPeak, chunkOver);
        }
      }
      // An automatic tail keeps what comes before its end, and asks the reader for no more.
      const unsigned int kept =
          options.autoTail ? autoTailEnd(pointers, chunk, quietNeeded, quietRun) : count;
      if (kept < count) {  // the tail's last chunk: only what is kept counts
        tailEnded = true;
        chunkPeak = 0.0f;
        chunkOver = 0;
        for (unsigned int c = 0; c < channels; ++c) {
          measurePeak(pointers[c], kept, chunkPeak, chunkOver);
        }
      }
      result.peak = std::max(result.peak, chunkPeak);
      result.overFullScale += chunkOver;
      chunk.frames = kept;
      result.tailFrames += kept - std::min(kept, chunk.input);
      for (unsigned int c = 0; options.measureLevels && c < channels; ++c) {
        for (unsigned int f = 0; f < kept; ++f) {
          sumOfSquares += static_cast<double>(pointers[c][f]) * pointers[c][f];
        }
      }
      if (plot != nullptr) plot->addOutput(pointers.data(), result.frames, kept);
      if (options.spectrogram != nullptr) options.spectrogram->add(pointers.data(), channels, kept);
      processed.push(chunk);
      result.frames += kept;
      progress.update(result.frames);
    }
  } catch (...) {
    fail(std::current_exception());
  }
  processed.close();
  reader.join();
  writerThread.join();
  if (failure) std::rethrow_exception(failure);

  result.tailCapped = options.autoTail && !tailEnded && result.tailFrames >= options.tailFrames;
  result.frames -= framesDropped;
  result.tailFrames -= framesDropped;
  result.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
  const double samples = static_cast<double>(result.frames) * channels;
  result.rms = samples > 0 ? std::sqrt(sumOfSquares / samples) : 0.0;
  return result;
}

}  // namespace orvane::fx
