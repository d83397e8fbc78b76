#pragma once

#if defined(__SSE__) || defined(__x86_64__)
#include <xmmintrin.h>
#define ORVANE_HAS_MXCSR 1
#endif

namespace orvane {

// While alive, denormal inputs read as zero and denormal results flush to zero on this thread;
// the previous mode comes back on destruction. Setting the mode is one instruction, no system
// call, so it is fit for the audio thread. A no-op on CPUs without such a mode.
class ScopedFlushDenormals {
 public:
  ScopedFlushDenormals() noexcept {
#ifdef ORVANE_HAS_MXCSR
    saved_ = _mm_getcsr();
    const unsigned int flushing = saved_ | kFlushToZero | kDenormalsAreZero;
    // Writing the mode stalls the floating-point pipeline: skipped when it is already set (a
    // host running a chain of nodes, or flushing itself).
    changed_ = flushing != saved_;
    if (changed_) _mm_setcsr(flushing);
#endif
  }
  // Restores the mode only where this scope changed it: a caller already flushing pays for
  // one read of the mode per scope and nothing more.
  ~ScopedFlushDenormals() {
#ifdef ORVANE_HAS_MXCSR
    if (changed_) _mm_setcsr(saved_);
#endif
  }
  ScopedFlushDenormals(const ScopedFlushDenormals&) = delete;
  ScopedFlushDenormals& operator=(const ScopedFlushDenormals&) = delete;

 private:
#ifdef ORVANE_HAS_MXCSR
  static constexpr unsigned int kFlushToZero = 0x8000;
  static constexpr unsigned int kDenormalsAreZero = 0x0040;
  unsigned int saved_;
  bool changed_;
#endif
};

}  // namespace orvane
