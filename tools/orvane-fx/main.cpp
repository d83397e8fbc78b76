// orvane-fx: hear and see the effects. Loads the library as a host does, streams audio through
// chains of its nodes block by block, and writes sound files and pictures.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Chain.hpp"
#include "Plot.hpp"
#include "Render.hpp"
#include "Signals.hpp"
#include "SoundFiles.hpp"

namespace fx = orvane::fx;

namespace {

struct RenderArguments {
  std::string input;
  std::string signal;
  unsigned int rate = 48000;
  unsigned int channels = 2;
  double seconds = -1.0;  // below 0: the signal's own length
  double tail = 0.0;
  std::string output = "out.wav";
  std::string format;
  unsigned int block = 512;
  std::string plot;
  bool quiet = false;
  std::vector<std::string> chain;
};

std::string withoutFinalStop(std::string text) {
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

// Every effect, or only `only` when given, with its settings as the library describes them.
void listCatalogue(const std::string& only) {
  const fx::EffectCatalogue catalogue;
  if (!only.empty()) catalogue.settings(only);  // refuses an unknown name with the known ones
  for (const orvane::NodeTypeInfo& info : catalogue.types()) {
    if (!only.empty() && info.type != only) continue;
    std::string categories;
    for (const std::string& c : info.categories) categories += (categories.empty() ? "" : ", ") + c;
    std::cout << info.type << "  (" << info.displayName << ")\n"
              << "  " << info.description << "\n"
              << "  categories: " << categories << "\n"
              << "  takes " << catalogue.channelRule(info.type) << "\n"
              << "  settings:\n";
    for (const fx::SettingInfo& setting : catalogue.settings(info.type).settings()) {
      const std::string unit = setting.unit.empty() ? "" : " " + setting.unit;
      std::cout << "    " << setting.id << (unit.empty() ? "" : " (" + setting.unit + ")") << ": "
                << setting.name << ". " << withoutFinalStop(setting.description) << ". Default "
                << fx::formatSettingValue(setting, setting.defaultValue) << unit;
      if (setting.kind != fx::SettingKind::Toggle) {
        std::cout << ", from " << fx::formatSettingValue(setting, setting.minimum) << " to "
                  << fx::formatSettingValue(setting, setting.maximum) << unit;
      }
      std::cout << ".\n";
    }
    std::cout << "\n";
  }
  std::cout << "Every delay line holds 48000 samples whatever the sample rate (1 s at 48000 Hz).\n"
            << "Values beyond a range are refused where the effect would clamp them, and taken\n"
            << "with a warning of what the effect will make of them elsewhere.\n";
}

std::unique_ptr<fx::SignalSource> openSource(const RenderArguments& args) {
  if (!args.input.empty()) {
    if (!args.signal.empty()) throw fx::UsageError("give --input or --signal, not both");
    return std::make_unique<fx::SoundFileReader>(args.input);
  }
  const std::string name = args.signal.empty() ? "demo" : args.signal;
  const double seconds = args.seconds >= 0.0 ? args.seconds : fx::defaultSeconds(name);
  return fx::makeBuiltInSignal(name, args.channels, args.rate, seconds);
}

std::uint64_t tailFrames(double tailSeconds, unsigned int rate) {
  if (!(tailSeconds >= 0.0) || !std::isfinite(tailSeconds)) {
    throw fx::UsageError("--tail must be a length of 0 or more seconds");
  }
  return static_cast<std::uint64_t>(std::llround(tailSeconds * rate));
}

void printSummary(const fx::SignalSource& source, const fx::EffectChain& chain,
                  const fx::RenderResult& result, const std::string& output) {
  const double audioSeconds = static_cast<double>(result.frames) / source.sampleRate();
  std::fprintf(stderr,
               "%s: %.3f s of audio, %u ch at %u Hz through %s in %.3f s (%.0fx real time)\n",
               output.c_str(), audioSeconds, source.channels(), source.sampleRate(),
               chain.describe().c_str(), result.wallSeconds,
               result.wallSeconds > 0 ? audioSeconds / result.wallSeconds : 0.0);
}

int renderCommand(const RenderArguments& args) {
  const std::vector<fx::EffectSpec> effects = fx::parseChain(args.chain);
  const fx::SampleFormat format =
      args.format.empty() ? fx::SampleFormat::Default : fx::parseSampleFormat(args.format);
  const std::unique_ptr<fx::SignalSource> source = openSource(args);
  const std::uint64_t tail = tailFrames(args.tail, source->sampleRate());

  const fx::EffectCatalogue catalogue;
  std::vector<std::string> warnings;
  fx::EffectChain chain(catalogue, effects, source->channels(), source->sampleRate(), warnings);
  for (const std::string& warning : warnings)
    std::cerr << "orvane-fx: warning: " << warning << "\n";

  fx::SoundFileWriter writer(args.output, source->channels(), source->sampleRate(), format);
  std::unique_ptr<fx::WaveformPlot> plot;
  if (!args.plot.empty()) {
    plot = std::make_unique<fx::WaveformPlot>(source->channels(), source->frames() + tail,
                                              source->sampleRate());
  }
  fx::RenderOptions options;
  options.blockSize = args.block;
  options.tailFrames = tail;
  options.showProgress = !args.quiet && isatty(STDERR_FILENO) != 0;
  const fx::RenderResult result = fx::render(*source, chain, writer, plot.get(), options);
  if (plot) {
    const bool impulse = args.signal == "impulse";
    fx::writeFileAtomically(args.plot, plot->svg(chain.describe(), impulse));
  }
  writer.commit();
  if (!args.quiet) printSummary(*source, chain, result, args.output);
  return 0;
}

int demoCommand(const std::string& folder, unsigned int block) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) throw fx::UsageError("cannot create '" + folder + "': " + error.message());

  const fx::EffectCatalogue catalogue;
  constexpr unsigned int kRate = 48000;
  constexpr unsigned int kChannels = 2;
  std::ostringstream html;
  html << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Orvane audio effects"
       << "</title>\n<style>body{font-family:sans-serif;margin:2em}section{margin-bottom:2em}"
       << "img{max-width:100%;border:1px solid #ddd}</style></head><body>\n"
       << "<h1>Orvane audio effects: the demo signal through each effect</h1>\n"
       << "<p>To hear the effects live, on this signal, a file of yours or the microphone, with "
       << "a control for every setting: run <code>bash scripts/web</code> in the source folder "
       << "and open <a href=\"http://127.0.0.1:8000/\">http://127.0.0.1:8000/</a>.</p>\n";
  std::printf("%-14s %10s %10s %14s\n", "effect", "peak", "RMS", "speed");
  for (const orvane::NodeTypeInfo& info : catalogue.types()) {
    const auto source = fx::makeBuiltInSignal("demo", kChannels, kRate, fx::defaultSeconds("demo"));
    std::vector<std::string> warnings;
    fx::EffectChain chain(catalogue, {fx::EffectSpec{info.type, {}}}, kChannels, kRate, warnings);
    const std::string wav = info.type + ".wav";
    const std::string svg = info.type + ".svg";
    const std::filesystem::path base(folder);
    fx::SoundFileWriter writer((base / wav).string(), kChannels, kRate, fx::SampleFormat::Default);
    fx::WaveformPlot plot(kChannels, source->frames(), kRate);
    fx::RenderOptions options;
    options.blockSize = block;
    options.measureLevels = true;
    const fx::RenderResult result = fx::render(*source, chain, writer, &plot, options);
    fx::writeFileAtomically((base / svg).string(), plot.svg(info.displayName, false));
    writer.commit();
    const double seconds = static_cast<double>(result.frames) / kRate;
    std::printf("%-14s %10.4f %10.4f %12.0fx\n", info.type.c_str(), result.peak, result.rms,
                result.wallSeconds > 0 ? seconds / result.wallSeconds : 0.0);
    html << "<section><h2>" << info.displayName << "</h2><p>" << info.description << "</p>\n"
         << "<audio controls src=\"" << wav << "\"></audio><br>\n<img src=\"" << svg << "\" alt=\""
         << info.displayName << " waveform\"></section>\n";
  }
  html << "</body></html>\n";
  fx::writeFileAtomically((std::filesystem::path(folder) / "index.html").string(), html.str());
  std::printf("wrote %s/index.html\n", folder.c_str());
  return 0;
}

}  // namespace

extern "C" void onStopSignal(int) { fx::requestStop(); }

int main(int argc, char** argv) {
  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);
  CLI::App app{"orvane-fx: renders audio through the Orvane audio effects"};
  app.set_version_flag("--version", std::string(ORVANE_FX_VERSION));
  app.require_subcommand(1);

  std::string listOnly;
  CLI::App* list =
      app.add_subcommand("list", "List the effects, their settings, defaults and ranges");
  list->add_option("effect", listOnly, "Show only this effect");

  RenderArguments args;
  CLI::App* render =
      app.add_subcommand("render", "Render a file or a built-in signal through a chain of effects");
  render->add_option("-i,--input", args.input, "Input sound file (any type libsndfile reads)");
  render->add_option("-s,--signal", args.signal,
                     "Built-in input instead of a file: demo (default), impulse, noise, sine");
  render->add_option("--rate", args.rate, "Sample rate of the built-in signal (Hz)")
      ->check(CLI::Range(1u, 8000000u));
  render->add_option("--channels", args.channels, "Channels of the built-in signal")
      ->check(CLI::Range(1u, 64u));
  render->add_option("--seconds", args.seconds,
                     "Length of the built-in signal (default: 1 for impulse, 6 for demo, else 5)");
  render->add_option("--tail", args.tail, "Seconds of silence after the input, for echoes");
  render->add_option("-o,--output", args.output, "Output file; its extension picks the type")
      ->capture_default_str();
  render->add_option("--format", args.format, "Sample format: pcm16, pcm24 or float");
  render->add_option("-b,--block", args.block, "Frames per block")
      ->check(CLI::Range(1u, 1u << 20))
      ->capture_default_str();
  render->add_option("--plot", args.plot, "Also draw the input and output waveforms (SVG)");
  render->add_flag("-q,--quiet", args.quiet, "No progress and no summary");
  render->add_option("chain", args.chain, "EFFECT [key=value ...] [EFFECT [key=value ...] ...]")
      ->required();

  std::string demoFolder = "demo-out";
  unsigned int demoBlock = 512;
  CLI::App* demo = app.add_subcommand(
      "demo", "Render the demo signal through every effect: WAV, SVG and an index.html");
  demo->add_option("-o,--output", demoFolder, "Folder to write into")->capture_default_str();
  demo->add_option("-b,--block", demoBlock, "Frames per block")->check(CLI::Range(1u, 1u << 20));

  CLI11_PARSE(app, argc, argv);
  try {
    if (app.got_subcommand("list")) {
      listCatalogue(listOnly);
      return 0;
    }
    if (app.got_subcommand("render")) return renderCommand(args);
    return demoCommand(demoFolder, demoBlock);
  } catch (const fx::UsageError& e) {
    std::cerr << "orvane-fx: error: " << e.what() << "\n";
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "orvane-fx: error: " << e.what() << "\n";
    return 1;
  }
}
