#pragma once

#include <string>

namespace orvane::fx {

// Renders the demo signal through every effect into `folder`: for each, the sound, its
// waveform and spectrogram, an explanation and its settings, and for the delays the impulse
// response; the dry signal for comparison; and an index.html that shows and plays them all.
// Every file is put in place only once all of them are complete.
int demoCommand(const std::string& folder, unsigned int block);

}  // namespace orvane::fx
