#pragma once

// One plugin instance, as LV2 and LADSPA hosts drive it: ports are raw float arrays that the
// host connects, activate() starts from silence, run(n) processes n frames in the host's
// buffers. Port order: one control input per setting (in EffectSettings order, in the units and
// ranges of the variant's PluginControls), the mix and the output level, then the audio inputs,
// then the audio outputs.

#include <cstdint>
#include <memory>
#include <orvane/audioeffects/AudioEffects.hpp>
#include <vector>

#include "PluginCatalogue.hpp"

namespace orvane::plugins {

class EffectPlugin {
 public:
  static constexpr unsigned int kMaxChannels = 2;
  // A mix other than 1 needs the input after the node has written its output, which may be the
  // same buffer: a run is then taken in pieces of this many frames through a copy of the input.
  static constexpr std::uint32_t kDryFrames = 512;
  // A control that changes while the plugin runs moves there over this long, through the
  // library's automation runner (levels, feedback, sweeps and rates glide; a delay time steps
  // through whole milliseconds), so a host that sends sparse values makes no zipper noise.
  // The values of the first run after activate() are taken at once.
  static constexpr double kSmoothingSeconds = 0.02;

  // Host's instantiation thread; allocates (the node factory). Throws std::invalid_argument for
  // a sample rate that is not a positive whole number of hertz within unsigned 32 bits.
  EffectPlugin(const PluginVariant& variant, double sampleRate);

  // Host's instantiation thread.
  static std::uint32_t portCount(const PluginVariant& variant);

  // Any time before run(); no allocation.
  void connectPort(std::uint32_t port, float* data) noexcept;

  // The host's transport, as LV2 hosts tell it (time:Position).
  struct Transport {
    double beatsPerMinute = 0.0;  // 0: not told
    std::int64_t frame = 0;       // the transport's frame at the run's first frame
    bool rolling = false;
  };

  // Any time before run(); no allocation. The sync switch and the note-value step of a
  // variant with a synced setting (LV2 only): with the switch on and a tempo known, the delay
  // time is the note value at the host's tempo, in whole milliseconds, and its own control is
  // not read.
  void connectTempo(float* sync, float* note) noexcept;

  // Audio thread, before the run it applies to; no allocation. Where a rolling transport
  // starts or jumps, the run puts the node where that transport frame leaves it (oscillators
  // and delay-line positions), so a bounce from a given frame sweeps alike however long the
  // plugin ran before; while it rolls on, the node simply runs on.
  void setTransport(const Transport& transport) noexcept;

  // Host's instantiation thread; allocates. A fresh node through the factory: silent delay
  // lines, every setting taken from the control ports at the next run().
  void activate();

  // Audio thread: no allocation, no lock, no exception. Applies the controls that changed
  // since the last run (gliding over kSmoothingSeconds, but the switch), then processes n
  // frames with denormals flushed, then the mix and the output level (not while bypassed: a
  // bypassed plugin gives its input). Input and output may be the same buffer. Before activate() (or after one that ran out of memory) the input passes
  // through unchanged; with a port left unconnected it does nothing.
  void run(std::uint32_t frames) noexcept;

 private:
  const PluginVariant& variant_;
  const extensions::audioeffects::EffectSettings& settings_;
  std::uint32_t sampleRate_;
  std::uint64_t smoothingFrames_;
  std::shared_ptr<NodeFactory> factory_;
  std::unique_ptr<Node> node_;
  SingleBusAudioProcessorNode* processor_ = nullptr;

  // Audio thread: the node over `frames` frames from `offset` into the host's buffers.
  void processPiece(std::uint32_t offset, std::uint32_t frames) noexcept;

  // The control value the host's tempo gives the synced setting, or NaN where it gives none.
  float syncedValue() const noexcept;
  // Audio thread: a new transport position, before the run's samples.
  void followTransport() noexcept;

  const float* sync_ = nullptr;
  const float* note_ = nullptr;
  Transport transport_;
  bool transportNew_ = false;
  bool rolling_ = false;
  std::int64_t expectedFrame_ = 0;  // where a rolling transport stands at the next run
  double beatsPerMinute_ = 0.0;     // the last tempo told, or 0

  std::vector<const float*> controls_;  // one per control
  std::vector<float> applied_;          // the control values last applied
  extensions::audioeffects::OutputStage stage_;
  // One two-point envelope per setting (a switch's never moves), and the runner that applies
  // them; made by activate(). frame_ counts the frames since then.
  extensions::audioeffects::AutomationSchedule smoothing_;
  std::unique_ptr<extensions::audioeffects::AutomationRunner> runner_;
  std::uint64_t frame_ = 0;
  bool primed_ = false;  // the first run since activate() has taken its values
  bool bypassed_ = false;
  std::vector<std::vector<float>> dry_;  // kDryFrames of each input channel
  float* inputs_[kMaxChannels] = {};
  float* outputs_[kMaxChannels] = {};
};

}  // namespace orvane::plugins
