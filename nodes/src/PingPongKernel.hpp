#pragma once

// The ping-pong delay's stereo loop, eight frames at a time with AVX2. Lane by lane it does
// what the portable per-frame code in PingPongDelayNode.cpp does:
//
//   left:  delayed = L[i];  y = x × dry + delayed × wet;  L[i] = storable(x + feedback × R[i]);
//   right: delayed = R[i];  y = x × dry + delayed × wet;  R[i] = storable(x + feedback × L[i]);
//
// where the right channel's L[i] is the value the left channel has just written in the same
// frame. Both lines share one position, and each frame reads its slot before it writes it, so
// eight frames are independent whenever the position does not wrap within them; a step that
// would wrap (or a position left beyond a shortened length) takes the per-frame code.

#include "VectorPath.hpp"

#if ORVANE_VECTOR_KERNELS
#include <immintrin.h>

#include <cstdint>

#include "DelayKernel.hpp"  // storable8, kVectorFrames

namespace orvane::extensions::audioeffects::support {

// Processes whole steps of eight frames from `frame` while they fit before `length`; returns the
// first frame not processed, with `position` moved past the processed ones.
__attribute__((target("avx2"))) inline std::uint32_t runPingPongVector(
    float* left, float* right, const float* const* inputs, float* const* outputs,
    std::uint32_t frame, std::uint32_t frames, std::uint32_t& position, std::uint32_t length,
    float dry, float wet, float feedback) {
  // Locals, so that the stores below need not be assumed to move them.
  const float* const inLeft = inputs[0];
  const float* const inRight = inputs[1];
  float* const outLeft = outputs[0];
  float* const outRight = outputs[1];
  std::uint32_t at = position;
  const __m256 dry8 = _mm256_set1_ps(dry);
  const __m256 wet8 = _mm256_set1_ps(wet);
  const __m256 feedback8 = _mm256_set1_ps(feedback);
  while (frame + kVectorFrames <= frames && at + kVectorFrames <= length) {
    const __m256 xLeft = _mm256_loadu_ps(inLeft + frame);
    const __m256 xRight = _mm256_loadu_ps(inRight + frame);
    const __m256 oldLeft = _mm256_loadu_ps(left + at);
    const __m256 oldRight = _mm256_loadu_ps(right + at);
    const __m256 yLeft = _mm256_add_ps(_mm256_mul_ps(xLeft, dry8), _mm256_mul_ps(oldLeft, wet8));
    const __m256 newLeft = storable8(_mm256_add_ps(xLeft, _mm256_mul_ps(feedback8, oldRight)));
    const __m256 yRight =
        _mm256_add_ps(_mm256_mul_ps(xRight, dry8), _mm256_mul_ps(oldRight, wet8));
    const __m256 newRight = storable8(_mm256_add_ps(xRight, _mm256_mul_ps(feedback8, newLeft)));
    _mm256_storeu_ps(left + at, newLeft);
    _mm256_storeu_ps(right + at, newRight);
    _mm256_storeu_ps(outLeft + frame, yLeft);
    _mm256_storeu_ps(outRight + frame, yRight);
    frame += kVectorFrames;
    at += kVectorFrames;
    if (at == length) at = 0;
  }
  position = at;
  return frame;
}

}  // namespace orvane::extensions::audioeffects::support

#endif  // ORVANE_VECTOR_KERNELS
