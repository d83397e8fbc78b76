#include "Errors.hpp"

#include <atomic>

namespace orvane::fx {

namespace {

std::atomic<bool> stopRequested{false};
std::atomic<int> stopSignalNumber{0};

}  // namespace

void requestStop(int signal) noexcept {
  stopSignalNumber.store(signal);
  stopRequested.store(true);
}

bool stopRequestedNow() noexcept { return stopRequested.load(); }
int stopSignal() noexcept { return stopSignalNumber.load(); }

}  // namespace orvane::fx
