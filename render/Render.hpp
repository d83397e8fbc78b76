#pragma once

// The streaming render: input in blocks through a chain of nodes to a sound file.

#include <cstdint>
#include <functional>
#include <stdexcept>

#include "Chain.hpp"
#include "Errors.hpp"
#include "Plot.hpp"
#include "Signals.hpp"
#include "Spectrogram.hpp"
#include "SoundFiles.hpp"

namespace orvane::fx {

struct RenderOptions {
  unsigned int blockSize = 512;
  std::uint64_t tailFrames = 0;  // silence after the input, for echoes to ring out
  // Instead of tailFrames: silence until the output has stayed below kQuietLevel for as long as
  // the chain's longest delay (nothing more can come), at most tailFrames. The output then ends
  // exactly that long after its last sound above the level.
  bool autoTail = false;
  bool showProgress = false;     // on stderr, once a render runs longer than a second
  bool measureLevels = false;    // RMS of the output, at some cost per sample
  Spectrogram* spectrogram = nullptr;  // fed with the output, when given
  // Asked between chunks, on the thread that called render(): true stops the render as a stop
  // request does (a host with signal handling of its own, such as Python's, answers here).
  std::function<bool()> stopAsked;
};

// The largest block a render takes, in frames (2^20): far beyond any host's, small enough that
// a block's buffers stay a few megabytes.
inline constexpr unsigned int kMaxBlockFrames = 1u << 20;

// -90 dBFS: where an automatic tail counts the output as silent.
inline constexpr float kQuietLevel = 3.16227766e-05f;

struct RenderResult {
  std::uint64_t frames = 0;
  double wallSeconds = 0.0;
  float peak = 0.0f;              // the largest output sample, in magnitude
  std::uint64_t overFullScale = 0;  // output samples beyond ±1 (clipped by whole-number formats)
  double rms = 0.0;               // only with RenderOptions::measureLevels
  std::uint64_t tailFrames = 0;   // frames after the input
  bool tailCapped = false;        // an automatic tail ran to its most, still not silent
};

// Reads the source block by block (plus the tail), runs each block through the chain and writes
// it. Memory is fixed by the block size, whatever the length. Does not commit the writer.
RenderResult render(SignalSource& source, EffectChain& chain, SoundFileWriter& writer,
                    WaveformPlot* plot, const RenderOptions& options);

}  // namespace orvane::fx
