// The five algorithms as Faust writes them (bench/faust/*.dsp, compiled by the faust program at
// build time), in a namespace of their own: this file is compiled twice, with the project's
// flags (portable) and with -march=native, and the harness times both beside the nodes.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <faust/dsp/dsp.h>
#include <faust/gui/UI.h>
#include <faust/gui/meta.h>
#include <math.h>
#include <memory>
#include <string>

#include "FaustKernels.hpp"

// The generated classes are plain code; their style is Faust's, not ours.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#pragma GCC diagnostic ignored "-Wpedantic"
namespace orvane::bench::ORVANE_FAUST_FLAVOUR {
#include "chorus.hpp"
#include "delay.hpp"
#include "flanger.hpp"
#include "pingpong.hpp"
#include "vibrato.hpp"

std::unique_ptr<dsp> makeFaust(const std::string& type) {
  if (type == "Delay") return std::make_unique<Faust_delay>();
  if (type == "PingPongDelay") return std::make_unique<Faust_pingpong>();
  if (type == "Chorus") return std::make_unique<Faust_chorus>();
  if (type == "Flanger") return std::make_unique<Faust_flanger>();
  if (type == "Vibrato") return std::make_unique<Faust_vibrato>();
  return nullptr;
}
}  // namespace orvane::bench::ORVANE_FAUST_FLAVOUR
#pragma GCC diagnostic pop
