#include <orvane/audioeffects/Automation.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <span>
#include <stdexcept>

namespace orvane::extensions::audioeffects {

namespace {

constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();

// The index of the last breakpoint at or before `frame`, or -1 when all come after it.
std::ptrdiff_t lastAtOrBefore(const std::vector<Breakpoint>& points, std::uint64_t frame) {
  const auto after = std::upper_bound(points.begin(), points.end(), frame,
                                      [](std::uint64_t f, const Breakpoint& p) { return f < p.frame; });
  return (after - points.begin()) - 1;
}

}  // namespace

Envelope::Envelope(std::vector<Breakpoint> points) : points_(std::move(points)) {
  if (points_.empty()) throw std::invalid_argument("an envelope needs at least one breakpoint");
  for (std::size_t i = 0; i < points_.size(); ++i) {
    if (!std::isfinite(points_[i].value)) {
      throw std::invalid_argument("an envelope's values must be finite numbers");
    }
    if (i > 0 && points_[i].frame < points_[i - 1].frame) {
      throw std::invalid_argument("an envelope's times must not go backwards");
    }
  }
}

void Envelope::moveTo(std::uint64_t fromFrame, double fromValue, std::uint64_t toFrame,
                      double toValue) noexcept {
  if (points_.size() != 2 || toFrame < fromFrame || !std::isfinite(fromValue) ||
      !std::isfinite(toValue)) {
    return;
  }
  points_[0] = {fromFrame, fromValue};
  points_[1] = {toFrame, toValue};
}

double Envelope::valueAt(std::uint64_t frame) const noexcept {
  const std::ptrdiff_t at = lastAtOrBefore(points_, frame);
  if (at < 0) return points_.front().value;
  const auto i = static_cast<std::size_t>(at);
  if (i + 1 == points_.size()) return points_[i].value;
  // The next breakpoint lies after `frame` (the last one at or before it was taken), so the
  // segment has a length.
  const Breakpoint& a = points_[i];
  const Breakpoint& b = points_[i + 1];
  const double position = static_cast<double>(frame - a.frame) / static_cast<double>(b.frame - a.frame);
  return a.value + (b.value - a.value) * position;
}

bool Envelope::rampsAt(std::uint64_t frame) const noexcept {
  const std::ptrdiff_t at = lastAtOrBefore(points_, frame);
  if (at < 0) return false;
  const auto i = static_cast<std::size_t>(at);
  return i + 1 < points_.size() && points_[i].value != points_[i + 1].value;
}

bool Envelope::isBreakpoint(std::uint64_t frame) const noexcept {
  return std::binary_search(points_.begin(), points_.end(), Breakpoint{frame, 0.0},
                            [](const Breakpoint& x, const Breakpoint& y) { return x.frame < y.frame; });
}

std::uint64_t Envelope::nextBreakpointAfter(std::uint64_t frame) const noexcept {
  const std::ptrdiff_t at = lastAtOrBefore(points_, frame);
  const auto next = static_cast<std::size_t>(at + 1);
  return next < points_.size() ? points_[next].frame : kNever;
}

bool AutomationSchedule::isSetPoint(std::uint64_t frame) const noexcept {
  for (const auto& [index, envelope] : envelopes) {
    if (envelope.isBreakpoint(frame)) return true;
    if (frame % AutomationRunner::kRampStep == 0 && envelope.rampsAt(frame)) return true;
  }
  return false;
}

std::uint64_t AutomationSchedule::longestReach(const EffectSettings& settings, Node& node,
                                               Node& probe, unsigned int sampleRate) const {
  std::uint64_t longest = settings.reachFrames(node, sampleRate);
  for (std::size_t i = 0; i < settings.settings().size(); ++i) {
    settings.set(probe, i, settings.get(node, i));
  }
  for (const auto& [index, envelope] : envelopes) {
    const double held = settings.get(probe, index);
    for (const Breakpoint& point : envelope.points()) {
      settings.set(probe, index, point.value);
      longest = std::max(longest, settings.reachFrames(probe, sampleRate));
    }
    settings.set(probe, index, held);
  }
  return longest;
}

std::uint64_t AutomationSchedule::nextSetPointAfter(std::uint64_t frame) const noexcept {
  std::uint64_t next = kNever;
  for (const auto& [index, envelope] : envelopes) {
    next = std::min(next, envelope.nextBreakpointAfter(frame));
    // A ramp's next step; a ramp changes only at breakpoints, which are counted above.
    if (envelope.rampsAt(frame)) {
      next = std::min(next, (frame / AutomationRunner::kRampStep + 1) * AutomationRunner::kRampStep);
    }
  }
  return next;
}

AutomationRunner::AutomationRunner(const EffectSettings& settings, Node& node,
                                   SingleBusAudioProcessorNode& processor) noexcept
    : settings_(settings), node_(node), processor_(processor) {}

void AutomationRunner::setSchedule(const AutomationSchedule* schedule) noexcept {
  schedule_.store(schedule, std::memory_order_release);
}

void AutomationRunner::setFirstFrame(std::uint64_t frame) noexcept {
  started_ = true;
  firstFrame_ = frame;
}

void AutomationRunner::process(AudioBuffer<float>& block, std::uint64_t startFrame) noexcept {
  process(block, block, startFrame);
}

void AutomationRunner::process(AudioBuffer<float>& input, AudioBuffer<float>& output,
                               std::uint64_t startFrame) noexcept {
  const AutomationSchedule* schedule = schedule_.load(std::memory_order_acquire);
  const std::size_t frames = output.getNumberOfFrames();
  if (!started_) {
    started_ = true;
    firstFrame_ = startFrame;
  }
  if (schedule == nullptr || schedule->envelopes.empty() ||
      output.getNumberOfChannels() > kMaxChannels) {
    processPiece(input, output, 0, frames);
    return;
  }
  const std::uint64_t end = startFrame + frames;
  for (std::uint64_t at = startFrame; at < end;) {
    if (at == firstFrame_ || schedule->isSetPoint(at)) {
      for (const auto& [index, envelope] : schedule->envelopes) {
        settings_.set(node_, index, envelope.valueAt(at));
      }
    }
    const std::uint64_t next = std::min(end, schedule->nextSetPointAfter(at));
    processPiece(input, output, static_cast<std::size_t>(at - startFrame),
                 static_cast<std::size_t>(next - at));
    at = next;
  }
}

void AutomationRunner::processPiece(AudioBuffer<float>& input, AudioBuffer<float>& output,
                                    std::size_t offset, std::size_t frames) noexcept {
  if (offset == 0 && frames == output.getNumberOfFrames()) {
    AudioBus in(input);
    AudioBus out(output);
    processor_.process(std::span<AudioBus>(&in, 1), std::span<AudioBus>(&out, 1));
    return;
  }
  // Views on the piece; one view serves both buses when the call is in place.
  const auto pieceOf = [&](AudioBuffer<float>& block, std::array<float*, kMaxChannels>& pointers) {
    const unsigned int channels = block.getNumberOfChannels();
    for (unsigned int c = 0; c < channels; ++c) pointers[c] = block.getChannel(c) + offset;
    return AudioBuffer<float>(pointers.data(), channels, frames, block.getSampleRate());
  };
  std::array<float*, kMaxChannels> outPointers{};
  AudioBuffer<float> outPiece = pieceOf(output, outPointers);
  AudioBus out(outPiece);
  if (&input == &output) {
    processor_.process(std::span<AudioBus>(&out, 1), std::span<AudioBus>(&out, 1));
    return;
  }
  std::array<float*, kMaxChannels> inPointers{};
  AudioBuffer<float> inPiece = pieceOf(input, inPointers);
  AudioBus in(inPiece);
  processor_.process(std::span<AudioBus>(&in, 1), std::span<AudioBus>(&out, 1));
}

double noteValueMilliseconds(std::string_view text, double beatsPerMinute) noexcept {
  // "N/D", then "." (dotted) or "t" (triplet).
  double factor = 1.0;
  if (!text.empty() && text.back() == '.') {
    factor = 1.5;
    text.remove_suffix(1);
  } else if (!text.empty() && (text.back() == 't' || text.back() == 'T')) {
    factor = 2.0 / 3.0;
    text.remove_suffix(1);
  }
  const std::size_t slash = text.find('/');
  if (slash == std::string_view::npos) return -1.0;
  unsigned int numerator = 0, denominator = 0;
  const char* first = text.data();
  const char* middle = first + slash;
  const char* last = first + text.size();
  const auto [numeratorEnd, numeratorError] = std::from_chars(first, middle, numerator);
  const auto [denominatorEnd, denominatorError] = std::from_chars(middle + 1, last, denominator);
  constexpr unsigned int kShortestNote = 64;
  if (numeratorError != std::errc() || numeratorEnd != middle || denominatorError != std::errc() ||
      denominatorEnd != last || numerator == 0 || denominator == 0 ||
      denominator > kShortestNote || (denominator & (denominator - 1)) != 0) {
    return -1.0;
  }
  if (!(beatsPerMinute > 0.0) || !std::isfinite(beatsPerMinute)) return -1.0;
  // A quarter note is one beat.
  constexpr double kMillisecondsPerMinute = 60000.0;
  constexpr double kQuarter = 4.0;
  return kMillisecondsPerMinute / beatsPerMinute * (kQuarter * numerator / denominator) * factor;
}

}  // namespace orvane::extensions::audioeffects
