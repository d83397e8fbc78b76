#pragma once

// Whether the nodes may take their vector kernels: on CPUs with AVX2, unless the environment
// variable ORVANE_PORTABLE_ONLY is set (the tests run every node both ways and compare), and
// always in a WebAssembly SIMD build (its tests compare it with the portable build). The
// kernels compute exactly what the portable per-sample code computes, the same IEEE
// operations in the same order (no fused multiply-add), so the choice changes only the speed.
// Internal to the library.

#include <cstdlib>

// The kernels are written for x86-64 (AVX2); elsewhere (ARM) only the portable code is built.
#if defined(__x86_64__) && defined(__GNUC__)
#define ORVANE_VECTOR_KERNELS 1
#else
#define ORVANE_VECTOR_KERNELS 0
#endif

// WebAssembly built with SIMD128 (-msimd128) runs every kernel (Lanes.hpp) four frames at a
// time; the choice is made when the module is built, and a page loads the portable build
// where the browser has no SIMD.
#if defined(__wasm_simd128__)
#define ORVANE_WASM_KERNELS 1
#else
#define ORVANE_WASM_KERNELS 0
#endif

namespace orvane::extensions::audioeffects::support {

inline bool vectorPathAvailable() noexcept {
#if ORVANE_VECTOR_KERNELS
  static const bool available =
      __builtin_cpu_supports("avx2") && std::getenv("ORVANE_PORTABLE_ONLY") == nullptr;
  return available;
#elif ORVANE_WASM_KERNELS
  return true;
#else
  return false;
#endif
}

}  // namespace orvane::extensions::audioeffects::support
