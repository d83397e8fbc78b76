// bench/compare-faust's harness: each node as hosts call it (the bus-list process, separate
// input and output buffers) beside the same algorithm written in Faust (bench/faust), compiled
// with the project's flags and with -march=native. Stereo noise, every one at its default
// settings (the Faust versions' defaults are the nodes'), CPU time of this thread, the three
// alternated in every round, medians. Delay and PingPongDelay must give Faust's samples bit for
// bit: the program fails when they do not.
// Usage: orvane_compare_faust [ROUNDS]   (default 31; a round takes about a second)
#include <faust/dsp/dsp.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <orvane/audioeffects/AudioEffects.hpp>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "FaustKernels.hpp"

namespace {

using namespace orvane;
using namespace orvane::extensions::audioeffects;

constexpr unsigned int kRate = 48000;
constexpr unsigned int kChannels = 2;
constexpr unsigned int kFramesPerRun = 2 * kRate;  // what each timing processes
constexpr unsigned int kBlocks[] = {16, 64, 128, 4096};
const char* const kTypes[] = {"Delay", "PingPongDelay", "Chorus", "Flanger", "Vibrato"};

double cpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::vector<float> noise(std::size_t count, unsigned int seed) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<float> uniform(-0.5f, 0.5f);
  std::vector<float> samples(count);
  for (float& s : samples) s = uniform(random);
  return samples;
}

std::unique_ptr<SingleBusAudioProcessorNode> makeNode(const std::string& type) {
  AudioEffectsNodeFactory factory;
  std::unique_ptr<Node> node = factory.createNode(type);
  return std::unique_ptr<SingleBusAudioProcessorNode>(
      dynamic_cast<SingleBusAudioProcessorNode*>(node.release()));
}

// One of the three compared, processing blocks of `frames` from its own input to its own output.
class Candidate {
 public:
  Candidate(const std::string& type, int flavour, unsigned int frames)
      : in_(kChannels, frames, kRate), out_(kChannels, frames, kRate), frames_(frames) {
    const std::vector<float> samples = noise(std::size_t{kChannels} * frames, frames);
    for (unsigned int c = 0; c < kChannels; ++c) {
      std::memcpy(in_.getChannel(c), samples.data() + std::size_t{c} * frames, frames * sizeof(float));
      inPointers_[c] = in_.getChannel(c);
      outPointers_[c] = out_.getChannel(c);
    }
    if (flavour == 0) {
      node_ = makeNode(type);
    } else {
      faust_ = flavour == 1 ? bench::portable::makeFaust(type) : bench::native::makeFaust(type);
      faust_->init(static_cast<int>(kRate));
    }
  }

  // Input channel c of the next block, to be filled by the caller.
  float* input(unsigned int c) { return inPointers_[c]; }
  const float* output(unsigned int c) const { return outPointers_[c]; }

  void processBlock() {
    if (node_) {
      AudioBus inBus(in_);
      AudioBus outBus(out_);
      node_->process(std::span<AudioBus>(&inBus, 1), std::span<AudioBus>(&outBus, 1));
    } else {
      faust_->compute(static_cast<int>(frames_), inPointers_.data(), outPointers_.data());
    }
  }

  // CPU seconds for kFramesPerRun frames in blocks.
  double timeRun() {
    const unsigned int blocks = kFramesPerRun / frames_;
    const double start = cpuSeconds();
    for (unsigned int b = 0; b < blocks; ++b) processBlock();
    return cpuSeconds() - start;
  }

 private:
  AudioBuffer<float> in_;
  AudioBuffer<float> out_;
  unsigned int frames_;
  std::array<float*, kChannels> inPointers_{};
  std::array<float*, kChannels> outPointers_{};
  std::unique_ptr<SingleBusAudioProcessorNode> node_;
  std::unique_ptr<dsp> faust_;
};

// Three seconds of noise through the node and through Faust (both flavours) in 128-frame
// blocks: whether every output sample is the same.
bool sameSamples(const std::string& type) {
  constexpr unsigned int kFrames = 128;
  constexpr unsigned int kBlocksCompared = 3 * kRate / kFrames;
  std::array<Candidate, 3> candidates{Candidate(type, 0, kFrames), Candidate(type, 1, kFrames),
                                      Candidate(type, 2, kFrames)};
  const std::vector<float> samples = noise(std::size_t{kChannels} * kFrames * kBlocksCompared, 7);
  for (unsigned int b = 0; b < kBlocksCompared; ++b) {
    for (Candidate& candidate : candidates) {
      for (unsigned int c = 0; c < kChannels; ++c) {
        std::memcpy(candidate.input(c), samples.data() + (std::size_t{b} * kChannels + c) * kFrames,
                    kFrames * sizeof(float));
      }
      candidate.processBlock();
    }
    for (unsigned int c = 0; c < kChannels; ++c) {
      for (int flavour = 1; flavour < 3; ++flavour) {
        if (std::memcmp(candidates[0].output(c), candidates[flavour].output(c),
                        kFrames * sizeof(float)) != 0) {
          std::printf("%s differs from Faust (%s) in block %u, channel %u\n", type.c_str(),
                      flavour == 1 ? "our flags" : "-march=native", b, c);
          return false;
        }
      }
    }
  }
  return true;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 31;
  bool identical = true;
  for (const char* type : {"Delay", "PingPongDelay"}) {
    const bool same = sameSamples(type);
    std::printf("%-14s bit-identical to Faust (our flags and -march=native): %s\n", type,
                same ? "yes" : "NO");
    identical = identical && same;
  }
  std::printf("\nns per sample (per channel), CPU time, medians of %d alternated rounds of %u "
              "frames\n", rounds, kFramesPerRun);
  std::printf("%-14s %6s %9s %9s %9s %12s %12s\n", "node", "block", "ours", "faust", "native",
              "ours/faust", "ours/native");
  for (const char* type : kTypes) {
    for (unsigned int frames : kBlocks) {
      std::array<Candidate, 3> candidates{Candidate(type, 0, frames), Candidate(type, 1, frames),
                                          Candidate(type, 2, frames)};
      std::array<std::vector<double>, 3> times;
      for (Candidate& candidate : candidates) candidate.timeRun();  // warm caches and rings
      for (int r = 0; r < rounds; ++r) {
        for (int i = 0; i < 3; ++i) {
          const int which = (r + i) % 3;
          times[which].push_back(candidates[which].timeRun());
        }
      }
      const double perSample = 1e9 / (double{kFramesPerRun} * kChannels);
      const double ours = median(times[0]) * perSample;
      const double faust = median(times[1]) * perSample;
      const double native = median(times[2]) * perSample;
      std::printf("%-14s %6u %9.3f %9.3f %9.3f %12.2f %12.2f\n", type, frames, ours, faust, native,
                  ours / faust, ours / native);
    }
  }
  return identical ? 0 : 1;
}
