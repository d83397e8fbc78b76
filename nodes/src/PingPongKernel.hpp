#pragma once

// The ping-pong delay's stereo loop, a vector of frames at a time (Lanes.hpp: eight with AVX2,
// four with WebAssembly SIMD128). Lane by lane it does
// what the portable per-frame code in PingPongDelayNode.cpp does:
//
//   left:  delayed = L[i];  y = x × dry + delayed × wet;  L[i] = storable(x + feedback × R[i]);
//   right: delayed = R[i];  y = x × dry + delayed × wet;  R[i] = storable(x + feedback × L[i]);
//
// where the right channel's L[i] is the value the left channel has just written in the same
// frame. Both lines share one position, and each frame reads its slot before it writes it, so
// a step's frames are independent whenever the position does not wrap within them; a step that
// would wrap (or a position left beyond a shortened length) takes the per-frame code.

#include "Lanes.hpp"

#if ORVANE_VECTOR_KERNELS || ORVANE_WASM_KERNELS
#include <cstdint>

#include "DelayKernel.hpp"  // kVectorFrames

namespace orvane::extensions::audioeffects::support {

// Processes whole steps from `frame` while they fit before `length`; returns the first frame not
// processed, with `position` moved past the processed ones.
ORVANE_KERNEL inline std::uint32_t runPingPongVector(
    float* left, float* right, const float* const* inputs, float* const* outputs,
    std::uint32_t frame, std::uint32_t frames, std::uint32_t& position, std::uint32_t length,
    float dry, float wet, float feedback) {
  // Locals, so that the stores below need not be assumed to move them.
  const float* const inLeft = inputs[0];
  const float* const inRight = inputs[1];
  float* const outLeft = outputs[0];
  float* const outRight = outputs[1];
  std::uint32_t at = position;
  const lanes::Floats dryLanes = lanes::splat(dry);
  const lanes::Floats wetLanes = lanes::splat(wet);
  const lanes::Floats feedbackLanes = lanes::splat(feedback);
  while (frame + kVectorFrames <= frames && at + kVectorFrames <= length) {
    const lanes::Floats xLeft = lanes::load(inLeft + frame);
    const lanes::Floats xRight = lanes::load(inRight + frame);
    const lanes::Floats oldLeft = lanes::load(left + at);
    const lanes::Floats oldRight = lanes::load(right + at);
    const lanes::Floats yLeft =
        lanes::add(lanes::mul(xLeft, dryLanes), lanes::mul(oldLeft, wetLanes));
    const lanes::Floats newLeft =
        lanes::storable(lanes::add(xLeft, lanes::mul(feedbackLanes, oldRight)));
    const lanes::Floats yRight =
        lanes::add(lanes::mul(xRight, dryLanes), lanes::mul(oldRight, wetLanes));
    const lanes::Floats newRight =
        lanes::storable(lanes::add(xRight, lanes::mul(feedbackLanes, newLeft)));
    lanes::store(left + at, newLeft);
    lanes::store(right + at, newRight);
    lanes::store(outLeft + frame, yLeft);
    lanes::store(outRight + frame, yRight);
    frame += kVectorFrames;
    at += kVectorFrames;
    if (at == length) at = 0;
  }
  position = at;
  return frame;
}

}  // namespace orvane::extensions::audioeffects::support

#endif  // ORVANE_VECTOR_KERNELS || ORVANE_WASM_KERNELS
