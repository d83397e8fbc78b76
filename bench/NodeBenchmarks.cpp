// Cost of every node per sample, beside the two floors it is judged against: the host's copy of
// the block (the bypass path, nothing can be cheaper) and a plain loop of the node's arithmetic
// on raw arrays. After the runs a table gives each node's ratio to its plain loop, the cost of
// small blocks against 512, and the cost of a decaying feedback tail against audible input.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <orvane/audioeffects/AudioEffects.hpp>
#include <orvane/sdk/Denormals.hpp>
#include <set>
#include <random>
#include <string>
#include <vector>

#include "PlainLoops.hpp"

namespace {

using namespace orvane;
using namespace orvane::extensions::audioeffects;

constexpr unsigned int kRate = 48000;
constexpr unsigned int kChannels = 2;
const char* const kTypes[] = {"Delay", "PingPongDelay", "Chorus", "Flanger", "Vibrato"};

// Stereo noise blocks, owned, with pointer arrays for plain loops.
struct Block {
  explicit Block(unsigned int frames, bool silent = false)
      : in(kChannels, frames, kRate), out(kChannels, frames, kRate) {
    std::mt19937 random(frames);
    std::uniform_real_distribution<float> uniform(-0.5f, 0.5f);
    for (unsigned int c = 0; c < kChannels; ++c) {
      for (unsigned int f = 0; f < frames; ++f) in.setSample(c, f, silent ? 0.0f : uniform(random));
      inPointers[c] = in.getChannel(c);
      outPointers[c] = out.getChannel(c);
    }
  }
  AudioBuffer<float> in;
  AudioBuffer<float> out;
  float* inPointers[kChannels];
  float* outPointers[kChannels];
};

std::unique_ptr<SingleBusAudioProcessorNode> makeNode(const std::string& type) {
  AudioEffectsNodeFactory factory;
  std::unique_ptr<Node> node = factory.createNode(type);
  return std::unique_ptr<SingleBusAudioProcessorNode>(
      dynamic_cast<SingleBusAudioProcessorNode*>(node.release()));
}

// The plain loop of a type, as a function of (in, out, frames).
std::function<void(const float* const*, float* const*, unsigned int)> makePlainLoop(
    const std::string& type) {
  using namespace orvane::bench;
  if (type == "Delay") {
    auto loop = std::make_shared<PlainDelay>();
    return [loop](const float* const* in, float* const* out, unsigned int n) {
      loop->process(in, out, n);
    };
  }
  if (type == "PingPongDelay") {
    auto loop = std::make_shared<PlainPingPong>();
    return [loop](const float* const* in, float* const* out, unsigned int n) {
      loop->process(in, out, n);
    };
  }
  if (type == "Chorus" || type == "Flanger") {
    const bool chorus = type == "Chorus";
    if (chorus) {
      auto loop = std::make_shared<PlainSweptDelay<false>>(0.025f, 1002.0f, 0.0f, 0.2f);
      return [loop](const float* const* in, float* const* out, unsigned int n) {
        loop->process(in, out, n, kRate);
      };
    }
    auto loop = std::make_shared<PlainSweptDelay<true>>(0.005f, 2.0f, 0.6f, 0.4f);
    return [loop](const float* const* in, float* const* out, unsigned int n) {
      loop->process(in, out, n, kRate);
    };
  }
  auto loop = std::make_shared<PlainVibrato>();
  return [loop](const float* const* in, float* const* out, unsigned int n) {
    loop->process(in, out, n, kRate);
  };
}

// Makes sure each plain loop computes exactly what its node does, over 2 seconds of noise.
void checkPlainLoopsMatchTheNodes() {
  for (const char* type : kTypes) {
    auto node = makeNode(type);
    auto plain = makePlainLoop(type);
    Block block(480);
    Block plainOut(480);
    for (int i = 0; i < 200; ++i) {
      AudioBus inBus(block.in);
      AudioBus outBus(block.out);
      node->process(inBus, outBus);
      plain(block.inPointers, plainOut.outPointers, 480);
      for (unsigned int c = 0; c < kChannels; ++c) {
        if (std::memcmp(block.outPointers[c], plainOut.outPointers[c], 480 * sizeof(float)) != 0) {
          std::fprintf(stderr, "the plain loop of %s differs from the node at block %d\n", type, i);
          std::exit(1);
        }
      }
    }
  }
}

void setCounters(benchmark::State& state, unsigned int frames) {
  const double samples = static_cast<double>(state.iterations()) * frames * kChannels;
  state.counters["ns_per_sample"] =
      benchmark::Counter(samples * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["x_realtime"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * frames / kRate, benchmark::Counter::kIsRate);
}

// How a benchmark calls a node: its own process(in, out); the bus-list process, as a plugin
// host calls it, which sets the floating-point mode for the call and restores it; or the same
// from a thread that flushes denormals already, as real-time hosts set their audio threads, so
// that each call only reads the mode.
enum class Caller { Node, Host, FlushingHost };

// A node per sample, called as `caller` says. Separate input and output buffers, noise in.
void nodeBenchmark(benchmark::State& state, std::string type, Caller caller) {
  const auto frames = static_cast<unsigned int>(state.range(0));
  auto node = makeNode(type);
  Block block(frames);
  AudioBus inBus(block.in);
  AudioBus outBus(block.out);
  std::optional<ScopedFlushDenormals> hostThreadFlushes;
  if (caller == Caller::FlushingHost) hostThreadFlushes.emplace();
  for (auto _ : state) {
    if (caller != Caller::Node) {
      node->process(std::span<AudioBus>(&inBus, 1), std::span<AudioBus>(&outBus, 1));
    } else {
      node->process(inBus, outBus);
    }
    benchmark::DoNotOptimize(block.out.getChannel(0));
    benchmark::ClobberMemory();
  }
  setCounters(state, frames);
}

void plainBenchmark(benchmark::State& state, std::string type) {
  const auto frames = static_cast<unsigned int>(state.range(0));
  auto plain = makePlainLoop(type);
  Block block(frames);
  for (auto _ : state) {
    plain(block.inPointers, block.outPointers, frames);
    benchmark::DoNotOptimize(block.out.getChannel(0));
    benchmark::ClobberMemory();
  }
  setCounters(state, frames);
}

void copyBenchmark(benchmark::State& state) {
  const auto frames = static_cast<unsigned int>(state.range(0));
  Block block(frames);
  AudioBus inBus(block.in);
  AudioBus outBus(block.out);
  for (auto _ : state) {
    outBus.copyFrom(inBus);
    benchmark::DoNotOptimize(block.out.getChannel(0));
    benchmark::ClobberMemory();
  }
  setCounters(state, frames);
}

// Ten seconds of stereo noise through the bus-list process in 4096-frame blocks, from memory to
// memory as a renderer or the Python module streams a file: every block a new part of one
// input array, written to a separate output array (about 8 MB between them, beyond the caches).
// The fair reference for a front end that streams, where the node benchmarks reuse one block
// that stays in the cache.
void streamBenchmark(benchmark::State& state, std::string type) {
  constexpr unsigned int kFrames = 10 * kRate;
  constexpr unsigned int kBlock = 4096;
  auto node = makeNode(type);
  std::vector<float> input(std::size_t{kChannels} * kFrames);
  std::vector<float> output(input.size());
  std::mt19937 random(1);
  std::uniform_real_distribution<float> uniform(-0.5f, 0.5f);
  for (float& sample : input) sample = uniform(random);
  for (auto _ : state) {
    for (unsigned int start = 0; start < kFrames; start += kBlock) {
      const unsigned int frames = std::min(kBlock, kFrames - start);
      float* in[kChannels];
      float* out[kChannels];
      for (unsigned int c = 0; c < kChannels; ++c) {
        in[c] = input.data() + std::size_t{c} * kFrames + start;
        out[c] = output.data() + std::size_t{c} * kFrames + start;
      }
      AudioBuffer<float> inBuffer(in, kChannels, frames, kRate);
      AudioBuffer<float> outBuffer(out, kChannels, frames, kRate);
      AudioBus inBus(inBuffer);
      AudioBus outBus(outBuffer);
      node->process(std::span<AudioBus>(&inBus, 1), std::span<AudioBus>(&outBus, 1));
    }
    benchmark::DoNotOptimize(output.data());
    benchmark::ClobberMemory();
  }
  setCounters(state, kFrames);
}

// Ten seconds of audio in 512-frame blocks through the host's bus-list process: one block of
// noise and then silence (the decaying tail), or noise throughout.
void tailBenchmark(benchmark::State& state, std::string type, bool tail) {
  constexpr unsigned int kFrames = 512;
  constexpr int kBlocks = 10 * kRate / kFrames;
  Block noise(kFrames);
  Block silence(kFrames, true);
  for (auto _ : state) {
    state.PauseTiming();
    auto node = makeNode(type);
    state.ResumeTiming();
    for (int i = 0; i < kBlocks; ++i) {
      Block& block = i == 0 || !tail ? noise : silence;
      AudioBus inBus(block.in);
      AudioBus outBus(block.out);
      node->process(std::span<AudioBus>(&inBus, 1), std::span<AudioBus>(&outBus, 1));
    }
    benchmark::ClobberMemory();
  }
  setCounters(state, kFrames * kBlocks);
}

// Keeps each run's time per sample for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    // With --benchmark_repetitions the median stands for the benchmark; otherwise its one run.
    for (const Run& run : runs) {
      const auto it = run.counters.find("ns_per_sample");
      if (it == run.counters.end()) continue;
      const std::string name = run.run_name.str();
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median") {
          nsPerSample[name] = it->second.value;
          fromMedian.insert(name);
        }
      } else if (fromMedian.count(name) == 0) {
        nsPerSample[name] = it->second.value;
      }
    }
  }
  std::map<std::string, double> nsPerSample;
  std::set<std::string> fromMedian;
};

// What each node should reach, stereo at 48 kHz: ns per sample at block 512; block 16 within
// 1.5 times and block 4096 within 1.1 times of that.
struct Target {
  const char* type;
  double nsPerSample;
};
constexpr Target kTargets[] = {
    {"Delay", 1.0}, {"PingPongDelay", 1.0}, {"Chorus", 2.2}, {"Flanger", 3.8}, {"Vibrato", 1.8}};
constexpr double kSmallBlockLimit = 1.5;
constexpr double kLargeBlockLimit = 1.1;
// Through the bus-list process, per sample against block 4096: block 128 within 1.1 times,
// block 16 within 1.5 times.
constexpr double kHostBlockLimit = 1.1;
constexpr double kHostSmallBlockLimit = 1.5;

}  // namespace

int main(int argc, char** argv) {
  checkPlainLoopsMatchTheNodes();
  for (const char* type : kTypes) {
    benchmark::RegisterBenchmark((std::string("node/") + type).c_str(), nodeBenchmark, type,
                                 Caller::Node)
        ->Arg(16)
        ->Arg(512)
        ->Arg(4096);
    for (const auto& [group, caller] : {std::pair{"host/", Caller::Host},
                                        std::pair{"flushing/", Caller::FlushingHost}}) {
      benchmark::RegisterBenchmark((std::string(group) + type).c_str(), nodeBenchmark, type, caller)
          ->Arg(16)
          ->Arg(64)
          ->Arg(128)
          ->Arg(4096);
    }
    benchmark::RegisterBenchmark((std::string("plain/") + type).c_str(), plainBenchmark, type)
        ->Arg(16)
        ->Arg(512)
        ->Arg(4096);
  }
  for (const char* type : kTypes) {
    benchmark::RegisterBenchmark((std::string("stream/") + type).c_str(), streamBenchmark, type)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("copy", copyBenchmark)->Arg(16)->Arg(512)->Arg(4096);
  for (const char* type : {"Delay", "PingPongDelay", "Flanger"}) {
    benchmark::RegisterBenchmark((std::string("tail/") + type).c_str(), tailBenchmark, type, true)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("audible/") + type).c_str(), tailBenchmark, type,
                                 false)
        ->Unit(benchmark::kMillisecond);
  }

  benchmark::Initialize(&argc, argv);
  SummaryReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  auto& ns = reporter.nsPerSample;
  // Names are built by appending: GCC 12 misreads chains of string + at -O3.
  auto get = [&](const char* group, const char* type, int frames = 0) {
    std::string name(group);
    if (type != nullptr) name.append("/").append(type);
    if (frames != 0) name.append("/").append(std::to_string(frames));
    const auto it = ns.find(name);
    return it == ns.end() ? NAN : it->second;
  };
  std::printf("\n%-14s %6s %12s %12s %12s %14s %14s\n", "node", "block", "node ns/smp",
              "plain ns/smp", "node/plain", "node/copy", "block/512");
  for (const char* type : kTypes) {
    for (int frames : {16, 512, 4096}) {
      const double node = get("node", type, frames);
      const double plain = get("plain", type, frames);
      const double copy = get("copy", nullptr, frames);
      const double at512 = get("node", type, 512);
      std::printf("%-14s %6d %12.3f %12.3f %12.2f %14.1f %14.2f\n", type, frames, node, plain,
                  node / plain, node / copy, node / at512);
    }
  }
  std::printf("\n%-14s %12s %12s %12s %14s %14s\n", "target", "ns/smp@512", "target ns",
              "ns/target", "16/512 (1.5)", "4096/512 (1.1)");
  for (const Target& target : kTargets) {
    const double at512 = get("node", target.type, 512);
    const double small = get("node", target.type, 16) / at512;
    const double large = get("node", target.type, 4096) / at512;
    std::printf("%-14s %12.3f %12.1f %12.2f %13.2f%s %13.2f%s\n", target.type, at512,
                target.nsPerSample, at512 / target.nsPerSample, small,
                small <= kSmallBlockLimit ? " " : "!", large, large <= kLargeBlockLimit ? " " : "!");
  }
  // What a call costs beyond its samples, at the blocks plugin hosts and browsers use: from a
  // thread that leaves denormals alone, and from one that flushes them already.
  for (const auto& [group, title] : {std::pair{"host", "host calls"},
                                     std::pair{"flushing", "flushing host"}}) {
    std::printf("\n%-14s %12s %12s %12s %12s\n", title, "ns/smp@4096", "64/4096",
                "128/4096 (1.1)", "16/4096 (1.5)");
    for (const char* type : kTypes) {
      const double at4096 = get(group, type, 4096);
      const double at64 = get(group, type, 64) / at4096;
      const double at128 = get(group, type, 128) / at4096;
      const double at16 = get(group, type, 16) / at4096;
      std::printf("%-14s %12.3f %12.2f %13.2f%s %12.2f%s\n", type, at4096, at64, at128,
                  at128 <= kHostBlockLimit ? " " : "!", at16,
                  at16 <= kHostSmallBlockLimit ? " " : "!");
    }
  }
  std::printf("\n%-14s %16s %16s %12s\n", "tail", "tail ns/smp", "audible ns/smp", "tail/audible");
  for (const char* type : {"Delay", "PingPongDelay", "Flanger"}) {
    const double tail = get("tail", type);
    const double audible = get("audible", type);
    std::printf("%-14s %16.3f %16.3f %12.2f\n", type, tail, audible, tail / audible);
  }
  benchmark::Shutdown();
  return 0;
}
