#pragma once

// Settings that move over time, as a layer above the nodes: a node still reads each setting as
// it always does, and automation only splits the blocks it is given and sets values between the
// pieces. So any automated render equals, bit for bit, the same render done by hand in those
// pieces with those values set.
//
// Where values are set (the "set points"), counted in frames from the first frame the runner
// processed: that first frame, every breakpoint, and along a ramp (a segment whose two ends
// differ) every frame that is a multiple of AutomationRunner::kRampStep. They do not depend on
// how the caller cuts its blocks, so neither do the samples.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <orvane/audioeffects/EffectSettings.hpp>
#include <string_view>
#include <utility>
#include <vector>

namespace orvane::extensions::audioeffects {

struct Breakpoint {
  std::uint64_t frame;  // from the start of the render
  double value;         // in the setting's unit, as EffectSettings::set takes it
};

// One setting's course: linear between breakpoints (interpolated in double), the first value
// before the first breakpoint, the last held after the last; two breakpoints at the same frame
// make a step (the later one holds from that frame).
class ORVANE_AUDIOEFFECTS_API Envelope {
 public:
  // Any thread; allocates. Throws std::invalid_argument for no breakpoint, frames out of order
  // or a value that is not finite.
  explicit Envelope(std::vector<Breakpoint> points);

  // Audio thread, no allocation: a two-point envelope (as made) becomes the line from
  // (fromFrame, fromValue) to (toFrame, toValue); an envelope of any other size is left as it
  // is. For a host's control that moves within a run, made anew at each change.
  void moveTo(std::uint64_t fromFrame, double fromValue, std::uint64_t toFrame,
              double toValue) noexcept;

  // Any thread, no allocation.
  double valueAt(std::uint64_t frame) const noexcept;
  // Whether the value moves from `frame` to the next frame: the frame lies on a ramp.
  bool rampsAt(std::uint64_t frame) const noexcept;
  bool isBreakpoint(std::uint64_t frame) const noexcept;
  // The first breakpoint frame after `frame`, or UINT64_MAX.
  std::uint64_t nextBreakpointAfter(std::uint64_t frame) const noexcept;
  const std::vector<Breakpoint>& points() const noexcept { return points_; }

 private:
  std::vector<Breakpoint> points_;
};

// Every automated setting of one node, by the setting's index in EffectSettings order. Built
// off the audio thread (allocates); read only afterwards.
struct ORVANE_AUDIOEFFECTS_API AutomationSchedule {
  std::vector<std::pair<std::size_t, Envelope>> envelopes;

  bool isSetPoint(std::uint64_t frame) const noexcept;
  // The longest a sound takes through `node` (EffectSettings::reachFrames) as it is and set to
  // any breakpoint's value, found on `probe`, a second node of the same effect whose settings
  // this overwrites, so that `node` is left as it is. For an automatic tail. Any thread.
  std::uint64_t longestReach(const EffectSettings& settings, Node& node, Node& probe,
                             unsigned int sampleRate) const;
  // The first set point after `frame` (see the top of this file), or UINT64_MAX.
  std::uint64_t nextSetPointAfter(std::uint64_t frame) const noexcept;
};

// Runs one node over blocks, applying a schedule.
class ORVANE_AUDIOEFFECTS_API AutomationRunner {
 public:
  // Along a ramp, a value is set at least this often, in frames.
  static constexpr std::uint64_t kRampStep = 32;
  // The most channels a block may have (the nodes take one or two).
  static constexpr unsigned int kMaxChannels = 8;

  AutomationRunner(const EffectSettings& settings, Node& node,
                   SingleBusAudioProcessorNode& processor) noexcept;

  // Any thread: the schedule the next block follows, or none. The caller keeps it alive for as
  // long as the runner may use it, and does not change it once given.
  void setSchedule(const AutomationSchedule* schedule) noexcept;
  // Before the first block: the frame the render began at, for a runner that takes over a node
  // already running (a stream continued by another call). Without it, the first block's first
  // frame is taken.
  void setFirstFrame(std::uint64_t frame) noexcept;

  // Audio thread: no allocation, no lock. Processes the block in place, in pieces between set
  // points, setting every envelope's value at each piece's first frame that is a set point.
  // `startFrame` is the block's first frame from the start of the render; blocks come in order.
  void process(AudioBuffer<float>& block, std::uint64_t startFrame) noexcept;
  // Audio thread, as above, from `input` (only read) into `output`, a block of the same shape
  // whose memory is apart from the input's or the same channel for channel: the samples the
  // in-place call gives, without copying the input over first.
  void process(AudioBuffer<float>& input, AudioBuffer<float>& output,
               std::uint64_t startFrame) noexcept;

 private:
  void processPiece(AudioBuffer<float>& input, AudioBuffer<float>& output, std::size_t offset,
                    std::size_t frames) noexcept;

  const EffectSettings& settings_;
  Node& node_;
  SingleBusAudioProcessorNode& processor_;
  std::atomic<const AutomationSchedule*> schedule_{nullptr};
  bool started_ = false;
  std::uint64_t firstFrame_ = 0;
};

// A note value as a time, for settings in ms or s at a tempo: "1/4" is one beat, "1/8." a
// dotted eighth (1.5 times), "1/8t" an eighth triplet (2/3 times); any N/D with D a power of
// two up to 64. Returns the length in milliseconds, or a negative number for text that is not
// a note value. Any thread.
ORVANE_AUDIOEFFECTS_API double noteValueMilliseconds(std::string_view text,
                                                     double beatsPerMinute) noexcept;

}  // namespace orvane::extensions::audioeffects
