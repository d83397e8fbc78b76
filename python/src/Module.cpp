// orvane_fx._core: the effects library for Python. Effects own nodes created through the
// library's factory; their settings are reached through EffectSettings; audio is processed in
// numpy's own memory with the GIL released. The Python layer (orvane_fx/__init__.py) builds the
// per-effect classes, chains and pickling on top.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <orvane/audioeffects/AudioEffects.hpp>
#include <span>
#include <string>
#include <vector>

#include "Batch.hpp"
#include "Chain.hpp"
#include "ItemSeeds.hpp"
#include "ResultPool.hpp"
#include "OutputStage.hpp"
#include "Render.hpp"
#include "SoundFiles.hpp"

namespace py = pybind11;

namespace {

using orvane::AudioBuffer;
using orvane::AudioBus;
using orvane::AudioBusFormat;
using orvane::Node;
using orvane::NodeFactory;
using orvane::SingleBusAudioProcessorNode;
using orvane::extensions::audioeffects::EffectSettings;
using orvane::extensions::audioeffects::SettingInfo;
using orvane::extensions::audioeffects::SettingKind;

constexpr double kMaxFrames = std::numeric_limits<std::uint32_t>::max();

// The library, loaded once per process the way a host application loads it.
NodeFactory& factory() { return *orvane::fx::libraryFactory(); }

// "delay" in ms → "delay_ms"; "sweep-width" in s → "sweep_width_s"; "dry-mix" → "dry_mix".
std::string pythonName(const SettingInfo& s) {
  std::string name = s.id;
  for (char& c : name) c = c == '-' ? '_' : c;
  if (!s.unit.empty()) {
    name += '_';
    for (char c : s.unit) name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return name;
}

std::string number(double value) {
  char text[32];
  const auto written = std::to_chars(text, text + sizeof text, value);
  return std::string(text, written.ptr);
}

// One effect of a Python program. Any thread may read and change its settings, or reset it,
// while another processes: the node is shared between the effect and the call processing it,
// so a reset replaces it for the next call without freeing it under the running one, and a
// setting reaches the node the next block goes to (and the one a running call holds, should a
// reset have replaced it meanwhile). Two process calls at once are refused (acquire()).
class Effect {
 public:
  explicit Effect(const std::string& type) : settings_(EffectSettings::forType(type)) {
    if (settings_ == nullptr || settings_->type() != type) {
      throw py::value_error("unknown effect type '" + type + "'");
    }
    node_ = makeNode();
  }

  const EffectSettings& settings() const { return *settings_; }
  const std::string& type() const { return settings_->type(); }

  // What the node holds, exactly.
  double value(std::size_t index) const {
    checkIndex(index);
    const std::lock_guard lock(mutex_);
    return settings_->get(*node_, index);
  }

  // The mix and the output level around the node, as every front end offers them. Any thread.
  orvane::fx::OutputStage stage() const {
    orvane::fx::OutputStage out;
    out.mix = mix_.load();
    out.levelDb = levelDb_.load();
    return out;
  }
  // The mix reads back as the shortest decimal naming its float, as the settings do.
  double stageValue(std::size_t index) const {
    if (index != 0) return levelDb_.load();
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, mix_.load());
    double shortest = 0.0;
    std::from_chars(text, written.ptr, shortest);
    return shortest;
  }
  void setStageValue(std::size_t index, double value) {
    const std::string name = index == 0 ? "mix" : "level_db";
    const bool inRange = index == 0 ? value >= 0.0 && value <= 1.0
                                    : value >= orvane::fx::OutputStage::kLowestLevelDb &&
                                          value <= orvane::fx::OutputStage::kHighestLevelDb;
    if (!inRange) {
      throw py::value_error(type() + "." + name + " = " + number(value) + " is outside " +
                            (index == 0 ? std::string("0 to 1")
                                        : number(orvane::fx::OutputStage::kLowestLevelDb) +
                                              " to " +
                                              number(orvane::fx::OutputStage::kHighestLevelDb) +
                                              " dB"));
    }
    if (index == 0) {
      mix_.store(static_cast<float>(value));
    } else {
      levelDb_.store(value);
    }
  }

  // The longest a sound takes through the node a call processes (see EffectSettings), and
  // through it set to any point of the call's envelopes.
  std::uint64_t reach(std::uint32_t sampleRate) const {
    const std::lock_guard lock(mutex_);
    Node& node = processing_ ? *processing_ : *node_;
    if (!schedule_) return settings_->reachFrames(node, sampleRate);
    const std::shared_ptr<Node> probe = makeNode();
    return schedule_->longestReach(*settings_, node, *probe, sampleRate);
  }

  // A setting that moves over each call (or, with reset=False, over the stream since the last
  // reset): breakpoints in seconds, linear between them (see Automation.hpp), or one value per
  // frame (`perFrame`: times are frame numbers, a value set every kRampStep frames). Each value
  // is checked as a single one would be. Any thread; the next call follows it.
  void setMoving(std::size_t index, std::vector<std::pair<double, double>> points, bool perFrame) {
    checkIndex(index);
    const SettingInfo& setting = settings_->settings()[index];
    if (setting.kind == SettingKind::Toggle) {
      throw py::value_error(type() + "." + pythonName(setting) +
                            ": a switch takes True or False, not an envelope");
    }
    if (points.empty()) {
      throw py::value_error(type() + "." + pythonName(setting) + ": an envelope needs a point");
    }
    for (std::size_t i = 0; i < points.size(); ++i) {
      const auto& [at, value] = points[i];
      const std::string refusal = settings_->refusal(index, value);
      if (!refusal.empty()) {
        throw py::value_error(type() + "." + pythonName(setting) + ": " + number(value) +
                              " is " + refusal);
      }
      if (!(at >= 0.0) || !std::isfinite(at) || (i > 0 && at < points[i - 1].first)) {
        throw py::value_error(type() + "." + pythonName(setting) +
                              ": the times must be 0 or more and must not go backwards");
      }
    }
    const std::lock_guard lock(mutex_);
    std::erase_if(moving_, [&](const Moving& m) { return m.index == index; });
    moving_.push_back({index, std::move(points), perFrame});
    settings_->set(*node_, index, moving_.back().points.front().second);
  }
  void clearMoving(std::size_t index) {
    const std::lock_guard lock(mutex_);
    std::erase_if(moving_, [&](const Moving& m) { return m.index == index; });
  }

  // The runner of the call that holds the effect, when a setting moves; frames count from the
  // node's first (the effect's position, kept across calls until a reset).
  orvane::extensions::audioeffects::AutomationRunner* runner() { return runner_.get(); }
  // The envelopes in the renderer's words ("0.2@0s,0.8@2s"), by setting; throws for a setting
  // given one value per frame, which has no such words.
  std::vector<std::pair<std::size_t, std::string>> movingTexts() const {
    const std::lock_guard lock(mutex_);
    std::vector<std::pair<std::size_t, std::string>> out;
    for (const Moving& moving : moving_) {
      if (moving.perFrame) {
        throw py::value_error(type() + "." + pythonName(settings_->settings()[moving.index]) +
                              ": a file is rendered with envelopes, not one value per frame");
      }
      std::string text;
      for (const auto& [at, value] : moving.points) {
        text += (text.empty() ? "" : ",") + number(value) + "@" + number(at) + "s";
      }
      out.emplace_back(moving.index, text);
    }
    return out;
  }
  std::uint64_t& position() { return position_; }

  // What the node will do differently from what its settings ask at this rate.
  std::vector<std::string> cautions(std::uint32_t sampleRate) const {
    const std::lock_guard lock(mutex_);
    return settings_->cautions(*node_, sampleRate);
  }

  // A number comes back as the shortest decimal that names the node's float (0.7, not
  // 0.699999988): what was set reads back as it was written, and sets the same float again.
  double get(std::size_t index) const {
    const double held = value(index);
    if (settings_->settings()[index].kind != SettingKind::Number || !std::isfinite(held)) {
      return held;
    }
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, static_cast<float>(held));
    double shortest = held;
    std::from_chars(text, written.ptr, shortest);
    return shortest;
  }

  // Takes a value as every front end does (EffectSettings::refusal): what the node would clamp
  // and what the setting cannot hold raise ValueError; the rest is taken as it is, and
  // process() warns of what the node will make of it.
  void set(std::size_t index, double value) {
    checkIndex(index);
    const std::string refusal = settings_->refusal(index, value);
    if (!refusal.empty()) {
      throw py::value_error(type() + "." + pythonName(settings_->settings()[index]) + " = " +
                            number(value) + " is " + refusal);
    }
    const std::lock_guard lock(mutex_);
    std::erase_if(moving_, [&](const Moving& m) { return m.index == index; });
    settings_->set(*node_, index, value);
    if (processing_ && processing_ != node_) settings_->set(*processing_, index, value);
  }

  // A fresh node with the same settings: silent delay lines, oscillators at their start.
  // Allocates (unless the node has processed nothing since it was made); takes the GIL for
  // nothing.
  void reset() {
    if (untouched_.load()) return;
    const std::shared_ptr<Node> fresh = makeNode();
    const std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < settings_->settings().size(); ++i) {
      settings_->set(*fresh, i, settings_->get(*node_, i));
    }
    node_ = fresh;
    untouched_.store(true);
  }

  // For the call that holds the effect, which alone processes its node: the node as new, by
  // restarting it where it is (it clears only what the last item wrote; a new node allocates
  // and clears whole delay lines, item after item of a batch). reset() makes a new node
  // instead, as it may be called while another thread's call still runs the old one.
  void restartForCall() {
    if (untouched_.load()) return;
    const std::lock_guard lock(mutex_);
    settings_->restart(*node_);
    untouched_.store(true);
  }

  // Why the effect cannot process as it stands (settings that are still distributions to draw
  // from), or empty.
  const std::string& unprocessable() const { return unprocessable_; }
  void setUnprocessable(std::string why) { unprocessable_ = std::move(why); }

  // Whether a setting holds one value per item of a batch (orvane_fx.PerItem): such a chain
  // is run item by item by the package, each item through plain effects.
  bool perItem() const { return perItem_; }
  void setPerItem(bool perItem) { perItem_ = perItem; }

  // One call at a time: a second process call gets an error, not a data race.
  bool acquire() { return !busy_.exchange(true); }
  // Ends the call: the node it held goes back to being only the effect's (or is freed, if a
  // reset replaced it).
  void release() {
    {
      const std::lock_guard lock(mutex_);
      processing_.reset();
    }
    busy_.store(false);
  }

  // For the call that holds the effect: the node its next blocks go to, fresh if asked, set to
  // the format given, with a runner for the settings that move at this rate. Valid until
  // release(); allocates for the runner.
  SingleBusAudioProcessorNode& startProcessing(bool fresh, unsigned int channels,
                                               std::uint32_t sampleRate) {
    using orvane::extensions::audioeffects::AutomationRunner;
    using orvane::extensions::audioeffects::AutomationSchedule;
    using orvane::extensions::audioeffects::Breakpoint;
    using orvane::extensions::audioeffects::Envelope;
    if (fresh) restartForCall();
    const std::lock_guard lock(mutex_);
    if (untouched_.load()) position_ = 0;
    processing_ = node_;
    untouched_.store(false);
    auto& processor = dynamic_cast<SingleBusAudioProcessorNode&>(*processing_);
    AudioBusFormat in(channels), out(channels);
    processor.setBusFormat(in, out);
    runner_.reset();
    schedule_.reset();
    if (!moving_.empty()) {
      schedule_ = std::make_unique<AutomationSchedule>();
      for (const Moving& moving : moving_) {
        std::vector<Breakpoint> points;
        for (const auto& [at, value] : moving.points) {
          const double frame = moving.perFrame ? at : std::round(at * sampleRate);
          points.push_back({static_cast<std::uint64_t>(frame), value});
        }
        schedule_->envelopes.emplace_back(moving.index, Envelope(std::move(points)));
      }
      runner_ = std::make_unique<AutomationRunner>(*settings_, *processing_, processor);
      runner_->setSchedule(schedule_.get());
      runner_->setFirstFrame(0);  // the node's first frame, however many calls ago
    }
    return processor;
  }

 private:
  std::shared_ptr<Node> makeNode() const { return factory().createNode(settings_->type()); }

  void checkIndex(std::size_t index) const {
    if (index >= settings_->settings().size()) throw py::index_error("no setting at that index");
  }

  const EffectSettings* settings_;
  mutable std::mutex mutex_;           // guards node_ and processing_ (not the nodes' settings)
  std::shared_ptr<Node> node_;         // where settings and the next call go
  std::shared_ptr<Node> processing_;   // what the running call processes, if any
  std::atomic<bool> busy_{false};
  std::atomic<bool> untouched_{true};  // node_ has processed nothing since it was made
  std::atomic<float> mix_{1.0f};
  std::atomic<double> levelDb_{0.0};
  std::string unprocessable_;          // set and read with the GIL held
  bool perItem_ = false;               // likewise
  // The settings that move (guarded by mutex_), and the running call's schedule and runner.
  struct Moving {
    std::size_t index;
    std::vector<std::pair<double, double>> points;  // (seconds, or frame when perFrame; value)
    bool perFrame;
  };
  std::vector<Moving> moving_;
  std::unique_ptr<orvane::extensions::audioeffects::AutomationSchedule> schedule_;
  std::unique_ptr<orvane::extensions::audioeffects::AutomationRunner> runner_;
  std::uint64_t position_ = 0;  // frames the node has processed since it was made
};

// Each item of a chain, checked before anything touches it: None (or anything pybind11 could
// not make an effect of) is named, not dereferenced.
void checkEffects(const std::vector<Effect*>& effects) {
  for (std::size_t i = 0; i < effects.size(); ++i) {
    if (effects[i] == nullptr) {
      throw py::type_error("item " + std::to_string(i) + " of the chain is None, not an effect");
    }
    if (!effects[i]->unprocessable().empty()) throw py::value_error(effects[i]->unprocessable());
  }
}

// PyTorch tensors come and go through numpy, sharing memory both ways: a CPU tensor is read
// where it lies (a float32 contiguous one with no copy at all) and the result is a tensor over
// the output array. Tensors on another device are refused rather than copied behind the
// caller's back: the work is done on the CPU, as recursive filters run much slower on GPUs.
// torch is never imported here; a tensor can only exist once the caller has imported it.
bool isTensor(const py::handle& value) {
  if (py::isinstance<py::array>(value)) return false;
  PyObject* modules = PyImport_GetModuleDict();
  PyObject* torch = PyDict_GetItemString(modules, "torch");  // borrowed
  if (torch == nullptr) return false;
  const py::object tensorType = py::reinterpret_borrow<py::object>(torch).attr("Tensor");
  return py::isinstance(value, tensorType);
}

py::object tensorAsArray(const py::handle& tensor, const char* name) {
  const py::object device = tensor.attr("device");
  if (py::str(device.attr("type")).cast<std::string>() != "cpu") {
    throw py::value_error(std::string(name) + " is a tensor on " +
                          py::str(device).cast<std::string>() +
                          "; the effects run on the CPU: pass tensor.cpu() (recursive filters "
                          "run much slower on GPUs)");
  }
  py::object plain = tensor.attr("detach")();
  if (plain.attr("is_complex")().cast<bool>()) {
    throw py::type_error(std::string(name) + " must hold real numbers; this tensor is complex");
  }
  // numpy has no bfloat16 and friends: those are widened to float32 first.
  try {
    return plain.attr("numpy")();
  } catch (const py::error_already_set&) {
    return plain.attr("float")().attr("numpy")();
  }
}

// Samples are floats, full scale at ±1. Whole numbers (int16 from a WAV reader, say) are
// refused rather than taken as they are, 32767 times too loud.
void checkFloatSamples(const py::array& audio, const char* name) {
  const char kind = audio.dtype().kind();
  if (kind == 'i' || kind == 'u') {
    const std::string type = py::str(audio.dtype());
    const std::string scale = type == "int16"   ? "32768"
                              : type == "int32" ? "2147483648"
                              : type == "uint8" ? "128 after subtracting 128"
                                                : "its full scale";
    throw py::type_error(std::string(name) + " holds whole numbers (" + type + "); the effects "
                         "take floats with full scale at ±1: divide by " + scale +
                         " (audio.astype(numpy.float32) / " +
                         (type == "int16" ? "32768" : type == "int32" ? "2147483648" : "scale") +
                         "), or read the file with orvane_fx.read, which gives floats");
  }
  if (kind != 'f') {
    throw py::type_error(std::string(name) + " must hold real numbers as floats (float32 or float64); its dtype is " +
                         std::string(py::str(audio.dtype())));
  }
}

py::object arrayAsTensor(const py::handle& array) {
  return py::module_::import("torch").attr("from_numpy")(array);
}

// A number from Python that is not a bool, a string or bytes.
double realNumber(const py::handle& value, const char* name) {
  const std::string typeName = Py_TYPE(value.ptr())->tp_name;
  if (PyBool_Check(value.ptr()) || typeName == "numpy.bool_" || PyUnicode_Check(value.ptr()) ||
      PyBytes_Check(value.ptr()) || !PyNumber_Check(value.ptr())) {
    throw py::type_error(std::string(name) + " must be a number, not " + typeName);
  }
  const double number = PyFloat_AsDouble(value.ptr());
  if (number == -1.0 && PyErr_Occurred()) throw py::error_already_set();
  return number;
}

// Raised on the processing side when Python has a signal to handle (Ctrl-C): the pending
// Python error is the one to raise.
struct SignalPending {};

// Asks Python's signal handlers whether to go on, at most every tenth of a second, so a long
// call answers Ctrl-C promptly without taking the GIL per chunk. Called without the GIL.
class SignalCheck {
 public:
  bool stopAsked() {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_ < std::chrono::milliseconds(100)) return false;
    last_ = now;
    py::gil_scoped_acquire locked;
    return PyErr_CheckSignals() != 0;
  }

 private:
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

std::uint32_t checkedRate(const py::handle& value) {
  const double sampleRate = realNumber(value, "sample_rate");
  if (!(sampleRate >= 1.0 && sampleRate <= kMaxFrames) || sampleRate != std::floor(sampleRate)) {
    throw py::value_error("sample_rate must be a whole number of hertz from 1 to 4294967295, not " +
                          number(sampleRate));
  }
  return static_cast<std::uint32_t>(sampleRate);
}

std::uint64_t tailFrames(const py::handle& value, std::uint32_t rate) {
  const double tailSeconds = realNumber(value, "tail_s");
  if (!(tailSeconds >= 0.0) || !std::isfinite(tailSeconds)) {
    throw py::value_error("tail_s must be a finite number of seconds, 0 or more, not " +
                          number(tailSeconds));
  }
  const double frames = std::round(tailSeconds * rate);
  if (frames > kMaxFrames) throw py::value_error("tail_s is longer than a block can be");
  return static_cast<std::uint64_t>(frames);
}

// Holds every effect of a call for its duration; released however the call ends.
class Acquired {
 public:
  explicit Acquired(const std::vector<Effect*>& effects) {
    for (Effect* effect : effects) {
      if (!effect->acquire()) {
        throw std::runtime_error(effect->type() +
                                 " is processing in another thread (or appears twice in the "
                                 "chain); give each thread and each place its own effect");
      }
      held_.push_back(effect);
    }
  }
  ~Acquired() {
    for (Effect* effect : held_) effect->release();
  }
  Acquired(const Acquired&) = delete;
  Acquired& operator=(const Acquired&) = delete;

 private:
  std::vector<Effect*> held_;
};

// (frames,), (channels, frames) or (batch, channels, frames) → batch, channels, frames.
struct Shape {
  std::size_t batch, channels, frames;
};

Shape shapeOf(const py::array& audio) {
  const auto* dims = audio.shape();
  switch (audio.ndim()) {
    case 1:
      return {1, 1, static_cast<std::size_t>(dims[0])};
    case 2:
      return {1, static_cast<std::size_t>(dims[0]), static_cast<std::size_t>(dims[1])};
    case 3:
      return {static_cast<std::size_t>(dims[0]), static_cast<std::size_t>(dims[1]),
              static_cast<std::size_t>(dims[2])};
    default:
      throw py::value_error("audio must be (frames,), (channels, frames) or "
                            "(batch, channels, frames); this array has " +
                            std::to_string(audio.ndim()) + " dimensions");
  }
}

void checkChannels(const std::vector<Effect*>& effects, std::size_t channels) {
  if (channels == 0) throw py::value_error("audio has no channels");
  for (const Effect* effect : effects) {
    const EffectSettings& s = effect->settings();
    if (channels < s.minimumChannels() || channels > s.maximumChannels()) {
      const std::string takes =
          s.minimumChannels() == s.maximumChannels()
              ? "exactly " + std::to_string(s.minimumChannels())
              : std::to_string(s.minimumChannels()) + " to " + std::to_string(s.maximumChannels());
      throw py::value_error(effect->type() + " takes " + takes + " channels; the audio has " +
                            std::to_string(channels) +
                            " (channels are the first axis of (channels, frames))");
    }
  }
}

// Settings the effects take but will not follow at this rate, as Python warnings (shown once per
// place by default; an error where warnings are made errors).
void warnOfCautions(const std::vector<Effect*>& effects, std::uint32_t rate) {
  for (const Effect* effect : effects) {
    for (const std::string& caution : effect->cautions(rate)) {
      if (PyErr_WarnEx(PyExc_UserWarning, caution.c_str(), 1) != 0) throw py::error_already_set();
    }
  }
}

// A node of a chain and the mix and level around it, and its runner and position where a
// setting moves.
struct Stage {
  SingleBusAudioProcessorNode* processor;
  orvane::fx::OutputStage output;
  orvane::extensions::audioeffects::AutomationRunner* runner = nullptr;
  std::uint64_t* position = nullptr;
};

Stage stageFor(Effect& effect, bool fresh, std::size_t channels, std::uint32_t rate) {
  SingleBusAudioProcessorNode& processor =
      effect.startProcessing(fresh, static_cast<unsigned int>(channels), rate);
  return {&processor, effect.stage(), effect.runner(), &effect.position()};
}

// Runs processors over one item of the output (float32, C order, channels × frames) in
// cache-sized chunks: each chunk of the input (if it is not the output itself) is copied in,
// with silence for the tail, and processed in place while it is still in cache. The nodes give
// the same samples whatever the block length. No processor copies, whatever the channel count.
// Called without the GIL; returns false, leaving the item unfinished, when `stopAsked` says so.
template <typename StopAsked>
bool runItem(const std::vector<Stage>& processors, const float* input,
             std::size_t inputFrames, float* data, std::size_t channelCount, std::size_t frames,
             std::uint32_t rate, StopAsked&& stopAsked) {
  constexpr std::size_t kChunkFrames = 4096;
  const auto busChannels = static_cast<unsigned int>(channelCount);
  std::vector<float*> channels(channelCount);
  std::vector<float*> sources(channelCount);  // the input where it lies
  std::vector<float> dry;  // a stage's input, where one is active
  for (const Stage& stage : processors) {
    if (stage.output.active()) dry.resize(kChunkFrames * channelCount);
  }
  for (std::size_t start = 0; start < frames || start == 0; start += kChunkFrames) {
    if (stopAsked()) return false;
    const std::size_t length = std::min(kChunkFrames, frames - start);
    // Where the input covers the chunk and the first stage has no automation (which runs in
    // place), that stage reads the input where it lies and writes the output: no copy first.
    // The node writes the same floats either way.
    const bool direct = input != nullptr && !processors.empty() &&
                        processors.front().runner == nullptr && length > 0 &&
                        start + length <= inputFrames;
    for (std::size_t c = 0; c < channelCount; ++c) {
      channels[c] = data + c * frames + start;
      if (input == nullptr) continue;
      // The module's own buffer views need non-const pointers; the input is only read.
      sources[c] = const_cast<float*>(input + c * inputFrames + start);
      if (direct) continue;
      const std::size_t copied = start < inputFrames ? std::min(length, inputFrames - start) : 0;
      std::copy_n(input + c * inputFrames + start, copied, channels[c]);
      std::fill_n(channels[c] + copied, length - copied, 0.0f);
    }
    AudioBuffer<float> buffer(channels.data(), busChannels, static_cast<unsigned int>(length),
                              rate);
    AudioBus bus(buffer);
    for (std::size_t s = 0; s < processors.size(); ++s) {
      const Stage& stage = processors[s];
      const bool fromInput = direct && s == 0;
      const bool active = stage.output.active();
      for (std::size_t c = 0; active && !fromInput && c < channelCount; ++c) {
        std::copy_n(channels[c], length, dry.data() + c * kChunkFrames);
      }
      if (fromInput) {
        AudioBuffer<float> source(sources.data(), busChannels, static_cast<unsigned int>(length),
                                  rate);
        AudioBus sourceBus(source);
        stage.processor->process(std::span<AudioBus>(&sourceBus, 1), std::span<AudioBus>(&bus, 1));
      } else if (stage.runner != nullptr) {
        stage.runner->process(buffer, *stage.position);
      } else {
        stage.processor->process(std::span<AudioBus>(&bus, 1), std::span<AudioBus>(&bus, 1));
      }
      if (stage.position != nullptr) *stage.position += length;
      for (std::size_t c = 0; active && c < channelCount; ++c) {
        stage.output.apply(fromInput ? sources[c] : dry.data() + c * kChunkFrames, channels[c],
                           length);
      }
    }
    if (length == 0) break;
  }
  return true;
}

// Every item of a batch through the same effects, each item starting fresh (and a single item
// when asked). Throws SignalPending when Python has a signal to handle.
void runInPlace(const std::vector<Effect*>& effects, const float* input, std::size_t inputFrames,
                float* data, const Shape& shape, std::uint32_t rate, bool reset) {
  SignalCheck signals;
  std::vector<Stage> processors(effects.size());
  const std::size_t itemIn = shape.channels * inputFrames, itemOut = shape.channels * shape.frames;
  for (std::size_t b = 0; b < shape.batch; ++b) {
    for (std::size_t e = 0; e < effects.size(); ++e) {
      processors[e] = stageFor(*effects[e], reset || shape.batch > 1, shape.channels, rate);
    }
    if (!runItem(processors, input == nullptr ? nullptr : input + b * itemIn, inputFrames,
                 data + b * itemOut, shape.channels, shape.frames, rate,
                 [&signals] { return signals.stopAsked(); })) {
      throw SignalPending{};
    }
  }
}

// One effect of an item's chain, as drawn: its type and a value for each of its settings.
struct DrawnEffect {
  const EffectSettings* settings;
  std::vector<double> values;  // the node's settings
  orvane::fx::OutputStage stage;
};

// An effect type and a value for each of its settings, then the mix and the level, checked as
// every front end checks a value.
DrawnEffect drawnEffect(const std::pair<std::string, std::vector<double>>& pair) {
  const EffectSettings* settings = EffectSettings::forType(pair.first);
  if (settings == nullptr) throw py::value_error("unknown effect type '" + pair.first + "'");
  // The node's settings, then the mix and the level in dB.
  const std::size_t count = settings->settings().size();
  if (pair.second.size() != count + 2) {
    throw py::value_error(pair.first + " takes " + std::to_string(count) +
                          " settings, then a mix and a level");
  }
  orvane::fx::OutputStage stage;
  stage.mix = static_cast<float>(pair.second[count]);
  stage.levelDb = pair.second[count + 1];
  if (!(stage.mix >= 0.0f && stage.mix <= 1.0f) ||
      !(stage.levelDb >= orvane::fx::OutputStage::kLowestLevelDb &&
        stage.levelDb <= orvane::fx::OutputStage::kHighestLevelDb)) {
    throw py::value_error(pair.first + ": a mix from 0 to 1 and a level from -120 to 24 dB");
  }
  for (std::size_t i = 0; i < count; ++i) {
    const std::string why = settings->refusal(i, pair.second[i]);
    if (!why.empty()) {
      throw py::value_error(pair.first + "." + pythonName(settings->settings()[i]) + " = " +
                            number(pair.second[i]) + " is " + why);
    }
  }
  return {settings, std::vector<double>(pair.second.begin(), pair.second.begin() + count), stage};
}

// A list of (effect type, [value of each setting, mix, level]) from Python.
std::vector<DrawnEffect> drawnChain(const py::handle& chain) {
  std::vector<DrawnEffect> out;
  for (const py::handle& entry : chain) {
    out.push_back(drawnEffect(entry.cast<std::pair<std::string, std::vector<double>>>()));
  }
  return out;
}

// What Augment draws for each item when every random setting is a uniform or log-uniform
// number and the order is fixed: per effect, whether it applies (a draw below p), then each
// random setting in turn. The values are Python's (Augment._draw) to the bit, without an
// interpreter's microseconds per item.
struct PlannedDraw {
  enum Kind { kUniform, kLogUniform, kWholeUniform };  // as the Python plan numbers them
  std::size_t index;  // of the setting among the effect's values
  Kind kind;
  double low;
  double high;
};
struct PlannedEffect {
  std::pair<std::string, std::vector<double>> fixed;  // the type, every value (drawn ones 0)
  double p;
  std::vector<PlannedDraw> draws;
};

// Renders the items of a (batch, channels, frames) array, each through the chain drawn for it:
// submit() hands an item over, finish() waits for the last and returns (batch, channels,
// frames + tail). `workers` threads of its own render while the caller goes on drawing the next
// items. They are its own even for one worker: a thread's own allocator arena keeps the
// memory of the nodes it makes and frees item after item, where Python's main thread
// (measured) gave it back to the system and faulted it in again, ten times slower.
// Each item gets nodes as new: the thread that runs it restarts the nodes of its item before
// that have the same effects and makes the others, so memory stays at about one chain per
// thread. The samples do not depend on the number of threads or the order items are submitted
// in. Destroyed unfinished (the caller's drawing failed), it stops its threads and drops the
// result.
class ItemRenderer {
 public:
  ItemRenderer(const py::object& audioObject, const py::object& sampleRate,
               const py::object& tailSeconds, const py::object& workersObject)
      : rate_(checkedRate(sampleRate)) {
    const std::uint64_t tail = tailFrames(tailSeconds, rate_);
    const double workers = realNumber(workersObject, "workers");
    if (!(workers >= 1.0 && workers <= 1024.0) || workers != std::floor(workers)) {
      throw py::value_error("workers must be a whole number from 1 to 1024, not " +
                            number(workers));
    }
    source_ = py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(audioObject);
    if (!source_ || source_.ndim() != 3) {
      throw py::value_error("items must be a (batch, channels, frames) array");
    }
    batch_ = static_cast<std::size_t>(source_.shape(0));
    channels_ = static_cast<std::size_t>(source_.shape(1));
    inputFrames_ = static_cast<std::size_t>(source_.shape(2));
    if (channels_ == 0) throw py::value_error("audio has no channels");
    if (inputFrames_ + tail > kMaxFrames) throw py::value_error("audio is longer than a block can be");
    frames_ = inputFrames_ + tail;
    // Every element is written: each item's frames by its chain, or copied and padded.
    result_ = orvane::fx::ResultPool::array({static_cast<py::ssize_t>(batch_),
                                             static_cast<py::ssize_t>(channels_),
                                             static_cast<py::ssize_t>(frames_)});
    input_ = source_.data();
    output_ = result_.mutable_data();
    chains_.resize(batch_);
    submitted_.assign(batch_, false);
    const std::size_t threads = std::min<std::size_t>(static_cast<std::size_t>(workers),
                                                      std::max<std::size_t>(batch_, 1));
    failures_.resize(threads);
    cautions_.resize(threads);
    for (std::size_t w = 0; w < threads; ++w) pool_.emplace_back([this, w] { work(w); });
  }

  ~ItemRenderer() { stopAndJoin(); }
  ItemRenderer(const ItemRenderer&) = delete;
  ItemRenderer& operator=(const ItemRenderer&) = delete;

  // Item `index` through `chain`, a list of (effect type, [value of each setting]).
  void submit(std::size_t index, const py::list& chain) {
    if (index >= batch_) throw py::index_error("no item " + std::to_string(index));
    enqueue(index, drawnChain(chain));
  }

  // Every item, in order, through what `plan` draws from its stream (`states`: one seed state
  // per item, as item_seed_states gives them). Returns, per item, whether each effect applies
  // and every drawn value in plan order, from which the caller builds records.
  // plan: per effect (type, [every value, drawn ones 0], p, [(index, kind, low, high)]); a
  // whole-number uniform's bounds are whole numbers less than 2^32 − 1 apart.
  py::tuple submitDrawn(
      const py::array_t<std::uint64_t, py::array::c_style | py::array::forcecast>& states,
      const py::list& planned) {
    namespace seeds = orvane::fx::seeds;
    std::vector<PlannedEffect> plan;
    for (const py::handle& entry : planned) {
      const auto [type, fixed, p, draws] =
          entry.cast<std::tuple<std::string, std::vector<double>, double,
                                std::vector<std::tuple<std::size_t, int, double, double>>>>();
      PlannedEffect effect{{type, fixed}, p, {}};
      for (const auto& [index, kind, low, high] : draws) {
        if (index >= fixed.size() || kind < PlannedDraw::kUniform ||
            kind > PlannedDraw::kWholeUniform ||
            (kind == PlannedDraw::kWholeUniform &&
             !(low == std::floor(low) && high == std::floor(high) && high - low >= 0.0 &&
               high - low < static_cast<double>(UINT32_MAX)))) {
          throw py::value_error("a drawn setting the renderer cannot draw");
        }
        effect.draws.push_back({index, static_cast<PlannedDraw::Kind>(kind), low, high});
      }
      plan.push_back(std::move(effect));
    }
    if (states.ndim() != 2 || static_cast<std::size_t>(states.shape(0)) != batch_ ||
        states.shape(1) != static_cast<py::ssize_t>(seeds::kStateWords)) {
      throw py::value_error("one seed state of four words per item");
    }
    std::size_t drawCount = 0;
    for (const PlannedEffect& effect : plan) drawCount += effect.draws.size();
    py::array_t<bool> applied(
        {static_cast<py::ssize_t>(batch_), static_cast<py::ssize_t>(plan.size())});
    py::array_t<double> values(
        {static_cast<py::ssize_t>(batch_), static_cast<py::ssize_t>(drawCount)});
    auto seed = states.unchecked<2>();
    auto appliedOut = applied.mutable_unchecked<2>();
    auto valuesOut = values.mutable_unchecked<2>();
    for (std::size_t item = 0; item < batch_; ++item) {
      const auto row = static_cast<py::ssize_t>(item);
      std::array<std::uint64_t, seeds::kStateWords> state{};
      for (std::size_t w = 0; w < state.size(); ++w)
        state[w] = seed(row, static_cast<py::ssize_t>(w));
      seeds::Pcg64 stream(state);
      std::vector<DrawnEffect> chain;
      py::ssize_t column = 0;
      for (std::size_t e = 0; e < plan.size(); ++e) {
        const PlannedEffect& effect = plan[e];
        const bool applies = stream.random() < effect.p;
        appliedOut(row, static_cast<py::ssize_t>(e)) = applies;
        std::pair<std::string, std::vector<double>> drawn = effect.fixed;
        for (const PlannedDraw& draw : effect.draws) {
          // As augment.py draws: low + (high − low) × random(), on the logarithms for a
          // log-uniform, then kept within the bounds as max(value, low), min(value, high).
          // A whole number is Generator.integers(low, high, endpoint=True), as it is.
          double value = 0.0;
          if (draw.kind == PlannedDraw::kWholeUniform) {
            value = static_cast<double>(
                stream.integer(static_cast<std::int64_t>(draw.low),
                               static_cast<std::uint32_t>(draw.high - draw.low)));
          } else {
            if (draw.kind == PlannedDraw::kLogUniform) {
              const double low = std::log(draw.low);
              value = std::exp(low + (std::log(draw.high) - low) * stream.random());
            } else {
              value = draw.low + (draw.high - draw.low) * stream.random();
            }
            if (draw.low > value) value = draw.low;
            if (draw.high < value) value = draw.high;
            value = seeds::asFloat32Decimal(value);
          }
          drawn.second[draw.index] = value;
          valuesOut(row, column++) = value;
        }
        if (applies) chain.push_back(drawnEffect(drawn));
      }
      enqueue(item, std::move(chain));
    }
    return py::make_tuple(applied, values);
  }

  // Waits for every item (all must have been submitted), answering Ctrl-C meanwhile.
  py::array finish() {
    {
      const std::lock_guard lock(mutex_);
      if (finished_) throw py::value_error("finished already");
      if (std::find(submitted_.begin(), submitted_.end(), false) != submitted_.end()) {
        throw py::value_error("every item needs its chain before finish()");
      }
      finished_ = true;
    }
    ready_.notify_all();
    bool interrupted = false;
    {
      py::gil_scoped_release unlocked;
      SignalCheck signals;
      std::unique_lock lock(mutex_);
      while (done_ < batch_ && !stop_) {
        done_changed_.wait_for(lock, std::chrono::milliseconds(50));
        if (done_ < batch_ && !stop_) {
          lock.unlock();
          interrupted = signals.stopAsked();
          lock.lock();
          if (interrupted) stop_ = true;
        }
      }
    }
    stopAndJoin();
    for (const std::exception_ptr& failure : failures_) {
      if (failure) std::rethrow_exception(failure);
    }
    if (interrupted) throw py::error_already_set();  // KeyboardInterrupt, or what the handler raised
    // What the drawn settings will not do at this rate, once each, as process() warns.
    std::vector<std::string> warned;
    for (const auto& found : cautions_) {
      for (const std::string& caution : found) {
        if (std::find(warned.begin(), warned.end(), caution) != warned.end()) continue;
        warned.push_back(caution);
        if (PyErr_WarnEx(PyExc_UserWarning, caution.c_str(), 1) != 0) throw py::error_already_set();
      }
    }
    return result_;
  }

 private:
  void enqueue(std::size_t index, std::vector<DrawnEffect> drawn) {
    for (const DrawnEffect& effect : drawn) {
      const EffectSettings& s = *effect.settings;
      if (channels_ < s.minimumChannels() || channels_ > s.maximumChannels()) {
        throw py::value_error(s.type() + " takes " + std::to_string(s.minimumChannels()) + " to " +
                              std::to_string(s.maximumChannels()) + " channels; the audio has " +
                              std::to_string(channels_));
      }
    }
    {
      const std::lock_guard lock(mutex_);
      if (finished_ || submitted_[index]) throw py::value_error("item submitted twice");
      submitted_[index] = true;
      chains_[index] = std::move(drawn);
      queue_.push_back(index);
    }
    ready_.notify_one();
  }

  void stopAndJoin() {
    {
      const std::lock_guard lock(mutex_);
      if (done_ < batch_) stop_ = true;
    }
    ready_.notify_all();
    if (pool_.empty()) return;
    py::gil_scoped_release unlocked;
    for (std::thread& t : pool_) t.join();
    pool_.clear();
  }

  // A worker: takes submitted items in turn until every item is done or the renderer stops.
  void work(std::size_t worker) {
    try {
      // The nodes of the item before, each restarted for the next item that has its effect:
      // a restart clears only what the clip wrote, where a new node allocates and clears whole
      // delay lines (and, made and freed item after item, had its memory go back to the system
      // and fault in again). A restarted node gives a new node's samples.
      std::vector<std::pair<const EffectSettings*, std::unique_ptr<Node>>> nodes;
      std::vector<std::pair<const EffectSettings*, std::unique_ptr<Node>>> spare;
      std::vector<Stage> processors;
      const auto stopAsked = [this] { return stop_.load(std::memory_order_relaxed); };
      for (;;) {
        std::size_t b = 0;
        {
          std::unique_lock lock(mutex_);
          ready_.wait(lock, [&] { return stop_ || !queue_.empty() || (finished_ && taken_ == batch_); });
          if (stop_ || queue_.empty()) return;
          b = queue_.front();
          queue_.pop_front();
          ++taken_;
        }
        spare.swap(nodes);
        nodes.clear();
        processors.clear();
        for (const DrawnEffect& effect : chains_[b]) {
          const auto reusable = std::find_if(spare.begin(), spare.end(), [&](const auto& entry) {
            return entry.first == effect.settings && entry.second != nullptr;
          });
          if (reusable != spare.end()) {
            effect.settings->restart(*reusable->second);
            nodes.emplace_back(effect.settings, std::move(reusable->second));
          } else {
            nodes.emplace_back(effect.settings, factory().createNode(effect.settings->type()));
          }
          Node& node = *nodes.back().second;
          for (std::size_t i = 0; i < effect.values.size(); ++i) {
            effect.settings->set(node, i, effect.values[i]);
          }
          for (std::string& caution : effect.settings->cautions(node, rate_)) {
            auto& seen = cautions_[worker];
            if (std::find(seen.begin(), seen.end(), caution) == seen.end()) {
              seen.push_back(std::move(caution));
            }
          }
          auto& processor = dynamic_cast<SingleBusAudioProcessorNode&>(node);
          AudioBusFormat in(static_cast<unsigned int>(channels_)),
              out(static_cast<unsigned int>(channels_));
          processor.setBusFormat(in, out);
          processors.push_back({&processor, effect.stage});
        }
        if (!runItem(processors, input_ + b * channels_ * inputFrames_, inputFrames_,
                     output_ + b * channels_ * frames_, channels_, frames_, rate_, stopAsked)) {
          return;
        }
        bool last = false;
        {
          const std::lock_guard lock(mutex_);
          ++done_;
          last = done_ == batch_;
          if (last) ready_.notify_all();
        }
        // Only the last item wakes finish(): woken at every item, it went back to sleep each
        // time, two thread switches per item. Its timed wait answers Ctrl-C meanwhile.
        if (last) done_changed_.notify_all();
      }
    } catch (...) {
      failures_[worker] = std::current_exception();
      {
        const std::lock_guard lock(mutex_);
        stop_ = true;
      }
      ready_.notify_all();
      done_changed_.notify_all();
    }
  }

  std::uint32_t rate_;
  py::array_t<float, py::array::c_style | py::array::forcecast> source_;
  py::array_t<float> result_;
  const float* input_ = nullptr;
  float* output_ = nullptr;
  std::size_t batch_ = 0, channels_ = 0, inputFrames_ = 0, frames_ = 0;

  std::mutex mutex_;  // guards the queue, the counts and the flags' changes
  std::condition_variable ready_;         // an item was queued, or the renderer stops
  std::condition_variable done_changed_;  // every item was done, or a worker failed
  std::deque<std::size_t> queue_;
  std::vector<std::vector<DrawnEffect>> chains_;  // written before the item is queued
  std::vector<bool> submitted_;
  std::size_t taken_ = 0, done_ = 0;
  bool finished_ = false;
  std::atomic<bool> stop_{false};
  std::vector<std::exception_ptr> failures_;
  std::vector<std::vector<std::string>> cautions_;  // each worker's own
  std::vector<std::thread> pool_;
};

py::array processArrays(const std::vector<Effect*>& effects, const py::object& audioObject,
                        const py::object& sampleRate, bool reset, const py::object& tailSeconds,
                        const py::object& out);

// Numpy in, numpy out; a tensor in (audio or out), a tensor out.
py::object processChain(const std::vector<Effect*>& effects, const py::object& audio,
                        const py::object& sampleRate, bool reset, const py::object& tailSeconds,
                        const py::object& out) {
  for (const Effect* effect : effects) {
    if (effect != nullptr && effect->perItem()) {
      return py::module_::import("orvane_fx").attr("_process_per_item")(
          effects, audio, sampleRate, reset, tailSeconds, out);
    }
  }
  const bool tensorIn = isTensor(audio), tensorOut = !out.is_none() && isTensor(out);
  if (!tensorIn && !tensorOut) return processArrays(effects, audio, sampleRate, reset, tailSeconds, out);
  checkEffects(effects);
  const py::object source = tensorIn ? tensorAsArray(audio, "audio") : audio;
  if (tensorOut) {
    const py::object target = tensorAsArray(out, "out");
    if (!target.attr("flags")["WRITEABLE"].cast<bool>() ||
        !py::reinterpret_borrow<py::array>(target).dtype().is(py::dtype::of<float>())) {
      throw py::type_error("out must be a float32 tensor");
    }
    processArrays(effects, source, sampleRate, reset, tailSeconds, target);
    return out;
  }
  return arrayAsTensor(processArrays(effects, source, sampleRate, reset, tailSeconds, out));
}

// Each item, then silence, until the output has stayed below -90 dBFS for the chain's reach
// (at most 60 s): orvane-fx's automatic tail. Each item keeps the tail up to its last audible
// frame; the items of a batch are then padded with silence to the longest. Called with the
// GIL; releases it while processing.
py::array processWithAutoTail(const std::vector<Effect*>& effects, const py::object& audioObject,
                              std::uint32_t rate, bool reset) {
  const auto source = py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(audioObject);
  if (!source) throw py::type_error("audio cannot be converted to float32");
  const Shape in = shapeOf(source);
  checkChannels(effects, in.channels);
  warnOfCautions(effects, rate);
  if (in.batch > 1 && !reset) {
    throw py::value_error("reset=False continues one stream; a batch's items always start "
                          "fresh, so process a batch with reset=True");
  }
  constexpr std::size_t kTailChunk = 4096;
  const auto mostTail = static_cast<std::size_t>(orvane::fx::kMostAutoTailSeconds * rate);
  Acquired held(effects);
  std::vector<std::vector<float>> heads(in.batch), tails(in.batch);  // channel after channel
  std::vector<std::size_t> tailFrames(in.batch, 0);
  {
    py::gil_scoped_release unlocked;
    SignalCheck signals;
    const auto stopAsked = [&signals] { return signals.stopAsked(); };
    std::vector<Stage> processors(effects.size());
    std::vector<float> chunk(in.channels * kTailChunk);
    for (std::size_t b = 0; b < in.batch; ++b) {
      std::uint64_t reach = 0;
      for (std::size_t e = 0; e < effects.size(); ++e) {
        processors[e] = stageFor(*effects[e], reset || in.batch > 1, in.channels, rate);
        reach += effects[e]->reach(rate);
      }
      std::vector<float>& head = heads[b];
      head.resize(in.channels * in.frames);
      if (!runItem(processors, source.data() + b * in.channels * in.frames, in.frames,
                   head.data(), in.channels, in.frames, rate, stopAsked)) {
        throw SignalPending{};
      }
      const auto quietAt = [&](const float* data, std::size_t frames, std::size_t f) {
        for (std::size_t c = 0; c < in.channels; ++c) {
          if (std::fabs(data[c * frames + f]) >= orvane::fx::kQuietLevel) return false;
        }
        return true;
      };
      std::uint64_t quietRun = 0;
      for (std::size_t f = in.frames; f > 0 && quietRun < reach && quietAt(head.data(), in.frames, f - 1); --f) {
        ++quietRun;
      }
      std::vector<std::vector<float>> tail(in.channels);
      std::size_t audible = 0, made = 0;
      while (quietRun < reach && made < mostTail) {
        const std::size_t frames = std::min(kTailChunk, mostTail - made);
        std::fill(chunk.begin(), chunk.end(), 0.0f);
        if (!runItem(processors, nullptr, 0, chunk.data(), in.channels, frames, rate, stopAsked)) {
          throw SignalPending{};
        }
        std::size_t f = 0;
        for (; f < frames && quietRun < reach; ++f) {
          const bool quiet = quietAt(chunk.data(), frames, f);
          quietRun = quiet ? quietRun + 1 : 0;
          if (!quiet) audible = made + f + 1;
        }
        for (std::size_t c = 0; c < in.channels; ++c) {
          tail[c].insert(tail[c].end(), chunk.data() + c * frames, chunk.data() + c * frames + f);
        }
        made += f;
      }
      tailFrames[b] = audible;
      tails[b].resize(in.channels * audible);
      for (std::size_t c = 0; c < in.channels; ++c) {
        std::copy_n(tail[c].data(), audible, tails[b].data() + c * audible);
      }
    }
  }
  const std::size_t longest = *std::max_element(tailFrames.begin(), tailFrames.end());
  if (in.frames + longest > kMaxFrames) throw py::value_error("audio is longer than a block can be");
  const std::size_t frames = in.frames + longest;
  std::vector<py::ssize_t> dims(source.shape(), source.shape() + source.ndim());
  dims.back() = static_cast<py::ssize_t>(frames);
  py::array_t<float> result(dims);
  float* out = result.mutable_data();
  for (std::size_t b = 0; b < in.batch; ++b) {
    for (std::size_t c = 0; c < in.channels; ++c) {
      float* row = out + (b * in.channels + c) * frames;
      std::copy_n(heads[b].data() + c * in.frames, in.frames, row);
      std::copy_n(tails[b].data() + c * tailFrames[b], tailFrames[b], row + in.frames);
      std::fill(row + in.frames + tailFrames[b], row + frames, 0.0f);
    }
  }
  return result;
}

// A mono input to effects that need more channels (PingPongDelay) is copied to each, as the
// renderer does, with a warning; the result then has that many channels, where a mono array
// keeps its shape otherwise. An array that is not mono comes back as it is.
py::array withChannelsForMono(const std::vector<Effect*>& effects, const py::array& audio) {
  const Shape in = shapeOf(audio);
  unsigned int needed = 1;
  for (const Effect* effect : effects) {
    needed = std::max(needed, effect->settings().minimumChannels());
  }
  if (in.channels != 1 || needed <= 1) return audio;
  const std::string note = std::string("the audio is mono and the chain") +
                           " needs " + std::to_string(needed) +
                           " channels: it is copied to each, and the result has " +
                           std::to_string(needed) + " (give (" + std::to_string(needed) +
                           ", frames) audio to say so without this warning)";
  if (PyErr_WarnEx(PyExc_UserWarning, note.c_str(), 1) != 0) throw py::error_already_set();
  const py::module_ numpy = py::module_::import("numpy");
  const py::object items =
      audio.ndim() == 1 ? audio.attr("reshape")(1, in.frames) : py::object(audio);
  return numpy.attr("repeat")(items, needed, py::arg("axis") = items.attr("ndim").cast<int>() - 2);
}

py::array processArrays(const std::vector<Effect*>& effects, const py::object& audioObject,
                        const py::object& sampleRate, bool reset, const py::object& tailSeconds,
                        const py::object& out) {
  checkEffects(effects);
  const std::uint32_t rate = checkedRate(sampleRate);
  if (py::isinstance<py::str>(tailSeconds)) {
    if (tailSeconds.cast<std::string>() != "auto") {
      throw py::type_error("tail_s must be a number of seconds or \"auto\" (until the echoes "
                           "die away), not str '" + tailSeconds.cast<std::string>() + "'");
    }
    if (!out.is_none()) {
      throw py::value_error("out= needs a length known before processing; tail_s=\"auto\" "
                            "makes an array of its own");
    }
    py::array audio = py::array::ensure(audioObject);
    if (!audio) throw py::type_error("audio must be a numpy array or convertible to one");
    checkFloatSamples(audio, "audio");
    audio = withChannelsForMono(effects, audio);
    try {
      return processWithAutoTail(effects, audio, rate, reset);
    } catch (const SignalPending&) {
      throw py::error_already_set();
    }
  }
  const std::uint64_t tail = tailFrames(tailSeconds, rate);
  py::array audio = py::array::ensure(audioObject);
  if (!audio) throw py::type_error("audio must be a numpy array or convertible to one");
  checkFloatSamples(audio, "audio");
  audio = withChannelsForMono(effects, audio);
  const Shape in = shapeOf(audio);
  checkChannels(effects, in.channels);
  warnOfCautions(effects, rate);
  if (in.batch > 1 && !reset) {
    throw py::value_error("reset=False continues one stream; a batch's items always start "
                          "fresh, so process a batch with reset=True");
  }
  if (in.frames + tail > kMaxFrames) throw py::value_error("audio is longer than a block can be");
  Shape shape = in;
  shape.frames = in.frames + tail;
  std::vector<py::ssize_t> dims(audio.shape(), audio.shape() + audio.ndim());
  dims.back() = static_cast<py::ssize_t>(shape.frames);

  py::array_t<float> result;
  bool inPlace = false;
  if (!out.is_none()) {
    if (!py::isinstance<py::array>(out) ||
        !py::reinterpret_borrow<py::array>(out).dtype().is(py::dtype::of<float>())) {
      throw py::type_error("out must be a float32 numpy array");
    }
    result = py::reinterpret_borrow<py::array_t<float>>(out);
    if (!(result.flags() & py::array::c_style)) throw py::value_error("out must be C-contiguous");
    if (!result.writeable()) throw py::value_error("out is read-only");
    if (std::vector<py::ssize_t>(result.shape(), result.shape() + result.ndim()) != dims) {
      throw py::value_error("out must have the output's shape (the input's, plus the tail)");
    }
    inPlace = result.ptr() == audio.ptr() ||
              (result.data() == audio.data() && audio.dtype().is(py::dtype::of<float>()) &&
               (audio.flags() & py::array::c_style));
    const auto* outStart = reinterpret_cast<const char*>(result.data());
    const auto* inStart = static_cast<const char*>(audio.data());
    const bool overlap = outStart < inStart + audio.nbytes() && inStart < outStart + result.nbytes();
    if (overlap && !inPlace) {
      throw py::value_error("out overlaps audio without being audio itself");
    }
  } else {
    // Every element is written below: each item's frames by its chain, or copied and padded.
    result = orvane::fx::ResultPool::array(dims);
  }
  // float32 in C order is read where it lies; anything else is converted once.
  py::array_t<float, py::array::c_style | py::array::forcecast> source;
  if (!inPlace) {
    source = py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(audio);
    if (!source) throw py::type_error("audio cannot be converted to float32");
  }
  Acquired held(effects);
  const float* input = inPlace ? nullptr : source.data();
  float* data = result.mutable_data();
  try {
    py::gil_scoped_release unlocked;
    runInPlace(effects, input, in.frames, data, shape, rate, reset);
  } catch (const SignalPending&) {
    throw py::error_already_set();  // KeyboardInterrupt, or whatever the handler raised
  }
  return result;
}

// A path as the operating system takes it: an embedded NUL would cut it short.
void checkPath(const std::string& path, const char* name) {
  if (path.find('\0') != std::string::npos) {
    throw py::value_error(std::string(name) + " has an embedded null character");
  }
}

// Streams a file through the chain with the renderer's own reader, writer and render loop.
void renderFile(const std::string& input, const std::string& output,
                const std::vector<Effect*>& effects, const py::object& blockObject,
                const py::object& tailObject, const std::string& format) {
  checkEffects(effects);
  checkPath(input, "input_path");
  checkPath(output, "output_path");
  const double blockValue = realNumber(blockObject, "block");
  if (!(blockValue >= 1.0 && blockValue <= orvane::fx::kMaxBlockFrames) ||
      blockValue != std::floor(blockValue)) {
    throw py::value_error("block must be a whole number of frames from 1 to " +
                          std::to_string(orvane::fx::kMaxBlockFrames) + ", not " +
                          number(blockValue));
  }
  const auto block = static_cast<unsigned int>(blockValue);
  const double tailSeconds = realNumber(tailObject, "tail_s");
  if (!(tailSeconds >= 0.0) || !std::isfinite(tailSeconds)) {
    throw py::value_error("tail_s must be a finite number of seconds, 0 or more, not " +
                          number(tailSeconds));
  }
  std::vector<orvane::fx::EffectSpec> specs;
  for (const Effect* effect : effects) {
    orvane::fx::EffectSpec named{effect->type(), {}};
    const EffectSettings& settings = effect->settings();
    const auto moving = effect->movingTexts();
    for (const auto& [index, text] : moving) {
      named.settings.emplace_back(settings.settings()[index].id, text);
    }
    for (std::size_t i = 0; i < settings.settings().size(); ++i) {
      const bool moves = std::any_of(moving.begin(), moving.end(),
                                     [i](const auto& m) { return m.first == i; });
      if (!moves) named.values.emplace_back(i, effect->value(i));
    }
    const orvane::fx::OutputStage stage = effect->stage();
    named.settings.emplace_back("mix", number(stage.mix));
    named.settings.emplace_back("level", number(stage.levelDb));
    specs.push_back(std::move(named));
  }
  SignalCheck signals;
  py::gil_scoped_release unlocked;
  try {
    auto reader = std::make_unique<orvane::fx::SoundFileReader>(input);
    const orvane::fx::SampleFormat inputFormat = reader->sampleFormat();
    std::unique_ptr<orvane::fx::SignalSource> opened = std::move(reader);
    // A mono file into a chain that needs stereo is copied to both channels, as orvane-fx does.
    const unsigned int needed = orvane::fx::channelsForMono(specs);
    if (opened->channels() == 1 && needed > 1) {
      opened = orvane::fx::withChannels(std::move(opened), needed, input);
      py::gil_scoped_acquire locked;
      const std::string note = input + " is mono and the chain needs " +
                               std::to_string(needed) + " channels: it is copied to each";
      if (PyErr_WarnEx(PyExc_UserWarning, note.c_str(), 1) != 0) throw py::error_already_set();
    }
    orvane::fx::SignalSource& source = *opened;
    const double tailFramesExact = std::round(tailSeconds * source.sampleRate());
    if (tailFramesExact > kMaxFrames) throw orvane::fx::UsageError("tail_s is too long");
    const orvane::fx::EffectCatalogue catalogue;
    std::vector<std::string> warnings;
    orvane::fx::EffectChain chain(catalogue, specs, source.channels(), source.sampleRate(),
                                  warnings);
    // The input's sample format, where the output can hold it, as orvane-fx keeps it.
    const orvane::fx::SampleFormat sampleFormat =
        format.empty() ? orvane::fx::formatFitting(output, "", inputFormat)
                       : orvane::fx::parseSampleFormat(format);
    orvane::fx::SoundFileWriter writer(output, source.channels(), source.sampleRate(),
                                       sampleFormat);
    orvane::fx::RenderOptions options;
    options.blockSize = block;
    options.tailFrames = static_cast<std::uint64_t>(tailFramesExact);
    options.stopAsked = [&signals] { return signals.stopAsked(); };
    orvane::fx::render(source, chain, writer, nullptr, options);
    writer.commit();
  } catch (const orvane::fx::Interrupted&) {
    py::gil_scoped_acquire locked;
    if (PyErr_Occurred() != nullptr) throw py::error_already_set();
    throw py::value_error("the render was interrupted; nothing was written");
  } catch (const orvane::fx::UsageError& e) {
    py::gil_scoped_acquire locked;
    throw py::value_error(e.what());
  } catch (const py::error_already_set&) {
    throw;
  } catch (const py::builtin_exception&) {
    throw;
  } catch (const std::exception& e) {
    py::gil_scoped_acquire locked;
    PyErr_SetString(PyExc_OSError, e.what());
    throw py::error_already_set();
  }
}

// Runs `work` without the GIL, turning the renderer's errors into Python's: a usage error (a
// file that cannot be read, a bad format) into ValueError, any other failure into OSError.
template <typename Work>
void releasedWithFileErrors(Work&& work) {
  py::gil_scoped_release unlocked;
  try {
    work();
  } catch (const orvane::fx::UsageError& e) {
    py::gil_scoped_acquire locked;
    throw py::value_error(e.what());
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e) {
    py::gil_scoped_acquire locked;
    PyErr_SetString(PyExc_OSError, e.what());
    throw py::error_already_set();
  }
}

// A whole sound file as float32 (channels, frames) and its rate, through the renderer's reader.
// A file that is damaged part way is an error here, not a shorter array: a data set should
// not quietly train on half a file.
py::tuple readFile(const std::string& path) {
  checkPath(path, "path");
  std::vector<std::vector<float>> channels;
  unsigned int rate = 0;
  releasedWithFileErrors([&] {
    orvane::fx::SoundFileReader reader(path);
    rate = reader.sampleRate();
    channels.resize(reader.channels());
    constexpr unsigned int kChunk = 65536;
    std::vector<float*> pointers(channels.size());
    for (;;) {
      for (std::size_t c = 0; c < channels.size(); ++c) {
        channels[c].resize(channels[c].size() + kChunk);
        pointers[c] = channels[c].data() + channels[c].size() - kChunk;
      }
      const unsigned int got = reader.read(pointers.data(), kChunk);
      for (auto& channel : channels) channel.resize(channel.size() - (kChunk - got));
      if (got == 0) break;
    }
    if (!reader.problem().empty()) throw orvane::fx::UsageError(reader.problem());
  });
  const std::size_t frames = channels.empty() ? 0 : channels[0].size();
  py::array_t<float> audio({static_cast<py::ssize_t>(channels.size()), static_cast<py::ssize_t>(frames)});
  for (std::size_t c = 0; c < channels.size(); ++c) {
    std::copy_n(channels[c].data(), frames, audio.mutable_data() + c * frames);
  }
  return py::make_tuple(audio, rate);
}

// Writes (channels, frames) or (frames,) audio as the renderer does: to a temporary file, read
// back, then put in place; a failure leaves an existing file as it was.
void writeFile(const std::string& path, const py::object& audioObject, const py::object& sampleRate,
               const std::string& format) {
  checkPath(path, "path");
  const std::uint32_t rate = checkedRate(sampleRate);
  py::object plain = isTensor(audioObject) ? tensorAsArray(audioObject, "audio") : audioObject;
  const auto audio = py::array_t<float, py::array::c_style | py::array::forcecast>::ensure(plain);
  if (!audio || audio.ndim() < 1 || audio.ndim() > 2) {
    throw py::value_error("audio must be a (frames,) or (channels, frames) array");
  }
  const std::size_t channels = audio.ndim() == 1 ? 1 : static_cast<std::size_t>(audio.shape(0));
  const std::size_t frames = static_cast<std::size_t>(audio.shape(audio.ndim() - 1));
  if (channels == 0 || channels > 1024) {
    throw py::value_error("audio must have 1 to 1024 channels (the first axis), not " +
                          std::to_string(channels));
  }
  releasedWithFileErrors([&] {
    const orvane::fx::SampleFormat sampleFormat =
        format.empty() ? orvane::fx::SampleFormat::Default : orvane::fx::parseSampleFormat(format);
    orvane::fx::SoundFileWriter writer(path, static_cast<unsigned int>(channels), rate,
                                       sampleFormat, frames);
    std::vector<const float*> pointers(channels);
    constexpr std::size_t kChunk = 65536;
    for (std::size_t start = 0; start < frames; start += kChunk) {
      for (std::size_t c = 0; c < channels; ++c) pointers[c] = audio.data() + c * frames + start;
      writer.write(pointers.data(), static_cast<unsigned int>(std::min(kChunk, frames - start)));
    }
    writer.commit();
  });
}

// A sound file read in blocks, through the renderer's reader: memory stays at one block
// whatever the file's length.
class SoundFileStream {
 public:
  explicit SoundFileStream(const std::string& path) : path_(path) {
    checkPath(path, "path");
    releasedWithFileErrors([&] { reader_ = std::make_unique<orvane::fx::SoundFileReader>(path); });
  }

  unsigned int channels() const { return open().channels(); }
  unsigned int sampleRate() const { return open().sampleRate(); }
  // The length the header gives, or None where the file does not say.
  py::object frames() const {
    const std::uint64_t frames = open().frames();
    return frames < (std::uint64_t{1} << 62) ? py::object(py::int_(frames)) : py::object(py::none());
  }

  // Up to `count` frames as float32 (channels, frames): fewer at the end, none after it. A file
  // damaged part way raises ValueError once what it held has been read.
  py::array read(std::size_t count) {
    orvane::fx::SoundFileReader& reader = open();
    constexpr std::size_t kMostFrames = std::size_t{1} << 24;
    if (count == 0 || count > kMostFrames) {
      throw py::value_error("read takes 1 to " + std::to_string(kMostFrames) + " frames");
    }
    const std::size_t channels = reader.channels();
    py::array_t<float> block({static_cast<py::ssize_t>(channels), static_cast<py::ssize_t>(count)});
    std::vector<float*> pointers(channels);
    std::size_t got = 0;
    releasedWithFileErrors([&] {
      while (got < count) {
        for (std::size_t c = 0; c < channels; ++c) pointers[c] = block.mutable_data() + c * count + got;
        const unsigned int n = reader.read(
            pointers.data(), static_cast<unsigned int>(std::min<std::size_t>(count - got, 1u << 20)));
        if (n == 0) break;
        got += n;
      }
      if (got < count && !reader.problem().empty()) throw orvane::fx::UsageError(reader.problem());
    });
    if (got == count) return block;
    py::array_t<float> shorter({static_cast<py::ssize_t>(channels), static_cast<py::ssize_t>(got)});
    for (std::size_t c = 0; c < channels; ++c) {
      std::copy_n(block.data() + c * count, got, shorter.mutable_data() + c * got);
    }
    return shorter;
  }

  void close() { reader_.reset(); }

 private:
  orvane::fx::SoundFileReader& open() const {
    if (!reader_) throw py::value_error("'" + path_ + "' is closed");
    return *reader_;
  }

  std::string path_;
  std::unique_ptr<orvane::fx::SoundFileReader> reader_;
};

// Batch tasks as dicts: input, output, chain (the command line's words) and seed.
py::list tasksAsDicts(const std::vector<orvane::fx::BatchTask>& tasks) {
  py::list out;
  for (const auto& task : tasks) {
    py::dict d;
    d["input"] = task.input;
    d["output"] = task.output;
    d["chain"] = task.chain;
    d["seed"] = task.seed;
    out.append(d);
  }
  return out;
}

template <typename Make>
py::list listTasks(Make&& make) {
  try {
    return tasksAsDicts(make());
  } catch (const orvane::fx::UsageError& e) {
    throw py::value_error(e.what());
  }
}

// One batch task with the renderer's rules (lock, skip when complete and current, safe write),
// the GIL released. Problems of the task come back in the result, not as exceptions.
py::dict runTask(const std::string& input, const std::string& output,
                 const std::vector<std::string>& chain, const py::object& tailObject,
                 const std::string& format, unsigned int block, bool force,
                 const std::string& seed) {
  checkPath(input, "input");
  checkPath(output, "output");
  orvane::fx::BatchTask task{input, output, chain, seed};
  orvane::fx::BatchSettings settings;
  settings.autoTail = py::isinstance<py::str>(tailObject);
  if (settings.autoTail) {
    if (tailObject.cast<std::string>() != "auto") {
      throw py::value_error("tail_s is \"auto\" or seconds, 0 or more");
    }
  } else {
    settings.tailSeconds = realNumber(tailObject, "tail_s");
  }
  settings.format = format;
  settings.block = std::clamp(block, 1u, orvane::fx::kMaxBlockFrames);
  settings.force = force;
  orvane::fx::TaskResult result;
  {
    SignalCheck signals;
    py::gil_scoped_release unlocked;
    result = orvane::fx::runBatchTask(task, settings, [&signals] { return signals.stopAsked(); });
  }
  if (PyErr_Occurred() != nullptr) throw py::error_already_set();  // Ctrl-C during the task
  py::dict d;
  d["input"] = input;
  d["output"] = output;
  d["status"] = orvane::fx::statusName(result.status);
  d["error"] = result.error;
  d["frames"] = result.status == orvane::fx::TaskStatus::Failed ? py::object(py::none())
                                                                 : py::int_(result.frames);
  d["peak_dbfs"] = result.peakKnown ? py::object(py::float_(result.peakDbfs)) : py::object(py::none());
  d["seconds"] = result.seconds;
  d["seed"] = seed;
  d["settings"] = result.settings;
  return d;
}

py::list settingsOf(const std::string& type) {
  const EffectSettings* settings = EffectSettings::forType(type);
  if (settings == nullptr) throw py::value_error("unknown effect type '" + type + "'");
  py::list out;
  for (const SettingInfo& s : settings->settings()) {
    py::dict d;
    d["id"] = s.id;
    d["python_name"] = pythonName(s);
    d["name"] = s.name;
    d["description"] = s.description;
    d["unit"] = s.unit;
    d["kind"] = s.kind == SettingKind::Toggle    ? "toggle"
                : s.kind == SettingKind::Integer ? "integer"
                                                 : "number";
    d["default"] = s.defaultValue;
    d["minimum"] = s.minimum;
    d["maximum"] = s.maximum;
    d["is_bypass"] = s.isBypass;
    d["stage"] = false;
    out.append(d);
  }
  // The front ends' mix and level, after the node's own settings.
  const auto stageSetting = [&](const char* id, const char* pythonName, const char* name,
                                const char* description, const char* unit, double low,
                                double high, double defaultValue) {
    py::dict d;
    d["id"] = id;
    d["python_name"] = pythonName;
    d["name"] = name;
    d["description"] = description;
    d["unit"] = unit;
    d["kind"] = "number";
    d["default"] = defaultValue;
    d["minimum"] = low;
    d["maximum"] = high;
    d["is_bypass"] = false;
    d["stage"] = true;
    out.append(d);
  };
  stageSetting("mix", "mix", "Mix",
               "How much of the effect is heard: 0 the input only, 1 the effect only (the "
               "effect's own output, bit for bit).", "", 0.0, 1.0, 1.0);
  stageSetting("level", "level_db", "Output Level", "The output's gain, in decibels.", "dB",
               orvane::fx::OutputStage::kLowestLevelDb, orvane::fx::OutputStage::kHighestLevelDb,
               0.0);
  return out;
}

py::list effectTypes() {
  py::list out;
  for (const orvane::NodeTypeInfo& info : factory().getNodeTypes()) {
    py::dict d;
    d["type"] = info.type;
    d["name"] = info.displayName;
    d["description"] = info.description;
    const EffectSettings* settings = EffectSettings::forType(info.type);
    d["minimum_channels"] = settings->minimumChannels();
    d["maximum_channels"] = settings->maximumChannels();
    out.append(d);
  }
  return out;
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() = "The effects library's nodes on numpy arrays; use the orvane_fx package instead.";
  // process and __call__ go straight into C++, with no Python frame on the way: small blocks
  // cost little more than their samples.
  const auto processOne = [](Effect& self, const py::object& audio, const py::object& sampleRate,
                             bool reset, const py::object& tailSeconds, const py::object& out) {
    return processChain({&self}, audio, sampleRate, reset, tailSeconds, out);
  };
  const char* processDoc =
      "process(audio, sample_rate, *, reset=True, tail_s=0.0, out=None) -> numpy.ndarray\n\n"
      "Runs audio through the effect and returns float32 audio of the same shape (plus the "
      "tail). audio is (frames,), (channels, frames) or (batch, channels, frames); float32 in "
      "C order is read where it lies, other real dtypes are converted. reset=False continues "
      "from the state the last call left (chunks of a file give the file's samples); each item "
      "of a batch starts fresh. tail_s appends that many seconds of silence so echoes ring out; "
      "\"auto\" goes on until they fall below -90 dBFS, as orvane-fx does (each item of a batch "
      "then padded with silence to the longest); the default 0 keeps the length. "
      "out=audio processes in place with no new array. The GIL is released while samples are "
      "processed.";
  py::class_<Effect>(m, "EffectBase")
      .def(py::init<const std::string&>(), py::arg("type"))
      .def_property_readonly("type", &Effect::type)
      .def("_get", &Effect::get)
      .def("_set", &Effect::set)
      .def("_set_unprocessable", &Effect::setUnprocessable)
      .def("_set_per_item", &Effect::setPerItem)
      .def("_get_stage", &Effect::stageValue)
      .def("_set_stage", &Effect::setStageValue)
      .def("_set_moving", &Effect::setMoving)
      .def("_clear_moving", &Effect::clearMoving)
      .def("reset", &Effect::reset,
           "Clears the delay lines and restarts the oscillators; the settings stay.")
      .def("process", processOne, processDoc, py::arg("audio"), py::arg("sample_rate"),
           py::kw_only(), py::arg("reset") = true, py::arg("tail_s") = py::float_(0.0),
           py::arg("out") = py::none())
      .def("__call__", processOne, processDoc, py::arg("audio"), py::arg("sample_rate"),
           py::kw_only(), py::arg("reset") = true, py::arg("tail_s") = py::float_(0.0),
           py::arg("out") = py::none());
  m.def("process_chain", &processChain, py::arg("effects"), py::arg("audio"),
        py::arg("sample_rate"), py::arg("reset"), py::arg("tail_s"), py::arg("out"));
  m.def("render_file", &renderFile, py::arg("input_path"), py::arg("output_path"),
        py::arg("effects"), py::arg("block"), py::arg("tail_s"), py::arg("format"));
  py::class_<ItemRenderer>(m, "ItemRenderer")
      .def(py::init<const py::object&, const py::object&, const py::object&, const py::object&>(),
           py::arg("items"), py::arg("sample_rate"), py::arg("tail_s"), py::arg("workers"))
      .def("submit", &ItemRenderer::submit, py::arg("index"), py::arg("chain"))
      .def("submit_drawn", &ItemRenderer::submitDrawn, py::arg("states"), py::arg("plan"))
      .def("finish", &ItemRenderer::finish);
  m.def("as_array", [](const py::object& audio, const char* name) {
    const bool tensor = isTensor(audio);
    py::array array = py::array::ensure(tensor ? tensorAsArray(audio, name) : audio);
    if (!array) throw py::type_error(std::string(name) + " must be a numpy array or convertible to one");
    checkFloatSamples(array, name);
    return py::make_tuple(array, tensor);
  }, py::arg("audio"), py::arg("name"));
  m.def("as_tensor", &arrayAsTensor, py::arg("array"));
  m.def(
      "item_seed_states",
      [](const std::vector<std::uint32_t>& entropy, const std::vector<std::uint32_t>& spawnKey,
         std::size_t poolSize, const std::vector<std::uint64_t>& keys) {
        if (poolSize == 0) throw py::value_error("a seed pool holds at least one word");
        const auto states = orvane::fx::seeds::itemStates(entropy, spawnKey, poolSize, keys);
        py::array_t<std::uint64_t> out(
            {static_cast<py::ssize_t>(states.size()),
             static_cast<py::ssize_t>(orvane::fx::seeds::kStateWords)});
        auto view = out.mutable_unchecked<2>();
        for (std::size_t i = 0; i < states.size(); ++i) {
          for (std::size_t w = 0; w < orvane::fx::seeds::kStateWords; ++w) {
            view(static_cast<py::ssize_t>(i), static_cast<py::ssize_t>(w)) = states[i][w];
          }
        }
        return out;
      },
      py::arg("entropy"), py::arg("spawn_key"), py::arg("pool_size"), py::arg("keys"));
  m.def("read", &readFile, py::arg("path"));
  py::class_<SoundFileStream>(m, "SoundFileStream")
      .def(py::init<const std::string&>(), py::arg("path"))
      .def_property_readonly("channels", &SoundFileStream::channels)
      .def_property_readonly("sample_rate", &SoundFileStream::sampleRate)
      .def_property_readonly("frames", &SoundFileStream::frames)
      .def("read", &SoundFileStream::read, py::arg("frames"))
      .def("close", &SoundFileStream::close);
  m.def("run_task", &runTask, py::arg("input"), py::arg("output"), py::arg("chain"),
        py::arg("tail_s"), py::arg("format"), py::arg("block"), py::arg("force"),
        py::arg("seed"));
  m.def("tasks_from_folder", [](const std::string& input, const std::string& output,
                                bool recursive, const std::string& extension,
                                const std::vector<std::string>& chain) {
    return listTasks([&] {
      return orvane::fx::tasksFromFolder(input, output, recursive, extension, chain);
    });
  }, py::arg("input"), py::arg("output"), py::arg("recursive"), py::arg("extension"),
     py::arg("chain"));
  m.def("tasks_from_manifest", [](const std::string& path, const std::vector<std::string>& chain) {
    return listTasks([&] { return orvane::fx::tasksFromManifest(path, chain); });
  }, py::arg("path"), py::arg("chain"));
  m.def("write", &writeFile, py::arg("path"), py::arg("audio"), py::arg("sample_rate"),
        py::arg("format"));
  m.attr("RAMP_STEP") = orvane::extensions::audioeffects::AutomationRunner::kRampStep;
  m.def("note_value_ms", [](const std::string& text, double beatsPerMinute) {
    return orvane::extensions::audioeffects::noteValueMilliseconds(text, beatsPerMinute);
  });
  m.def("refusal", [](const std::string& type, std::size_t index, double value) {
    const EffectSettings* settings = EffectSettings::forType(type);
    if (settings == nullptr || index >= settings->settings().size()) {
      throw py::value_error("no such setting");
    }
    return settings->refusal(index, value);
  }, py::arg("type"), py::arg("index"), py::arg("value"));
  m.def("settings_of", &settingsOf, py::arg("type"));
  m.def("effect_types", &effectTypes);
}
