#pragma once

// What goes wrong in a render, as exceptions whose message says what and why, and the stop
// request that signal handlers make. Every part of the renderer's engine reports through these.

#include <stdexcept>

namespace orvane::fx {

// Something the user asked for that cannot be done; the message says what and why.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A render that could not be completed (a full disk, a failed write); nothing was replaced.
struct RenderFailure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A render stopped by a stop request (a signal): nothing was written.
struct Interrupted : std::runtime_error {
  Interrupted() : std::runtime_error("interrupted; nothing was written") {}
};

// Set from a signal handler (Ctrl-C, SIGTERM, ...; async-signal-safe): the render in progress
// stops within a fraction of a second, even while its input is stalled, and throws
// Interrupted, so the writer removes its temporary file and nothing partial is left.
void requestStop(int signal = 0) noexcept;
bool stopRequestedNow() noexcept;
// The signal that asked for the stop, or 0.
int stopSignal() noexcept;

}  // namespace orvane::fx
