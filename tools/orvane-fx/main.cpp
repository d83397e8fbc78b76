// orvane-fx: hear and see the effects. Loads the library as a host does, streams audio through
// chains of its nodes block by block, and writes sound files and pictures.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cctype>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BatchCommand.hpp"
#include "Chain.hpp"
#include "Demo.hpp"
#include "Plot.hpp"
#include "Render.hpp"
#include "Signals.hpp"
#include "SoundFiles.hpp"

namespace fx = orvane::fx;

namespace {

struct RenderArguments {
  std::string input;
  std::string signal;
  double rate = 48000;
  unsigned int channels = 2;
  double seconds = -1.0;  // below 0: the signal's own length
  bool rateGiven = false;
  bool channelsGiven = false;
  bool secondsGiven = false;
  std::string tail = "auto";
  double gainDb = 0.0;          // --gain, after the chain
  double beatsPerMinute = 0.0;  // --bpm: time settings then take note values (1/8.)
  bool normalize = false;       // --normalize: a second pass to bring the peak to normalizeDb
  std::string normalizeDb;
  std::string output;
  std::string type;  // of a pipe: -i - or -o -
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
  const std::string wanted = only.empty() ? "" : catalogue.resolve(only);
  for (const orvane::NodeTypeInfo& info : catalogue.types()) {
    if (!wanted.empty() && info.type != wanted) continue;
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
            << "with a warning of what the effect will make of them elsewhere.\n"
            << "Any setting but a switch may move: VALUE@TIME points, linear between them and\n"
            << "held after the last (feedback=0.2@0,0.8@2s; two points at one time make a step).\n"
            << "With --bpm N, times take note values: 1/4 is a beat, 1/8. dotted, 1/8t a triplet.\n";
}

constexpr double kMaxRate = 8000000;

unsigned int checkedRate(double rate) {
  if (!(rate >= 1 && rate <= kMaxRate) || rate != std::floor(rate)) {
    std::ostringstream given;
    given << rate;
    throw fx::UsageError("--rate " + given.str() +
                         ": a sample rate is a whole number of hertz from 1 to 8000000");
  }
  return static_cast<unsigned int>(rate);
}

// The input, and the file reader behind it when it is a file (for what it found on the way).
struct Input {
  std::unique_ptr<fx::SignalSource> source;
  fx::SoundFileReader* file = nullptr;
};

Input openSource(const RenderArguments& args) {
  Input input;
  if (!args.input.empty()) {
    if (!args.signal.empty()) throw fx::UsageError("give --input or --signal, not both");
    // Raw audio has no header: its rate and channels must be given, never guessed.
    const bool raw = args.input == "-" ? fx::checkedPipeType(args.type) == "raw"
                                       : fx::lowerExtension(args.input) == ".raw";
    if (raw && (!args.rateGiven || !args.channelsGiven)) {
      throw fx::UsageError("raw audio has no header to say its rate and channels: give --rate "
                           "and --channels (for example --rate 44100 --channels 1)");
    }
    if ((args.rateGiven && !raw) || args.secondsGiven) {
      throw fx::UsageError(std::string(args.secondsGiven ? "--seconds" : "--rate") +
                           " sets the built-in signal (or raw input); a file given with --input "
                           "keeps its own rate and length");
    }
    auto file = std::make_unique<fx::SoundFileReader>(
        args.input, args.type, raw ? checkedRate(args.rate) : 0, raw ? args.channels : 0);
    input.file = file.get();
    input.source = std::move(file);
    if (args.channelsGiven && !raw) {
      input.source = fx::withChannels(std::move(input.source), args.channels, args.input);
    }
    return input;
  }
  const std::string name = args.signal.empty() ? "demo" : args.signal;
  const double seconds = args.secondsGiven ? args.seconds : fx::defaultSeconds(name);
  input.source = fx::makeBuiltInSignal(name, args.channels, checkedRate(args.rate), seconds);
  return input;
}

void printSummary(const fx::SignalSource& source, const fx::EffectChain& chain,
                  const fx::RenderResult& result, const std::string& output) {
  const double audioSeconds = static_cast<double>(result.frames) / source.sampleRate();
  const double peak = result.peak > 0.0f ? 20.0 * std::log10(result.peak) : -INFINITY;
  std::fprintf(stderr,
               "%s: %.3f s of audio, %u ch at %u Hz through %s in %.3f s (%.0fx real time); "
               "peak %.2f dBFS\n",
               output.c_str(), audioSeconds, source.channels(), source.sampleRate(),
               chain.describe().c_str(), result.wallSeconds,
               result.wallSeconds > 0 ? audioSeconds / result.wallSeconds : 0.0, peak);
}

// A word that names a file rather than an effect: not an effect's name, and an existing file
// or a name with a sound file's extension.
bool looksLikeFile(const std::string& word) {
  if (word.empty() || word.find('=') != std::string::npos) return false;
  for (const fx::EffectSettings& effect : fx::EffectSettings::all()) {
    if (fx::lowerCase(effect.type()) == fx::lowerCase(word)) return false;
  }
  std::error_code error;
  return std::filesystem::is_regular_file(word, error) || fx::isSoundFileName(word) ||
         fx::lowerExtension(word) == ".raw";
}

// sox's order, `render in.wav out.wav Delay`: files before the effects are the input and the
// output, where -i and -o do not name them.
void takeFilesBeforeEffects(RenderArguments& args) {
  if (args.input.empty() && args.signal.empty() && !args.chain.empty() &&
      looksLikeFile(args.chain.front())) {
    args.input = args.chain.front();
    args.chain.erase(args.chain.begin());
  }
  if (args.output.empty() && !args.chain.empty() && looksLikeFile(args.chain.front())) {
    args.output = args.chain.front();
    args.chain.erase(args.chain.begin());
  }
}

// File names left among the effects get a plain hint.
void checkForFileNames(const std::vector<std::string>& chain) {
  std::vector<std::string> files;
  for (const std::string& token : chain) {
    const std::string name = token.substr(0, token.find('='));
    if (name == token && name.find_first_of("./") != std::string::npos) files.push_back(token);
  }
  if (files.empty()) return;
  throw fx::UsageError("'" + files[0] + "' looks like a file, not an effect; the input and the "
                       "output go before the effects: orvane-fx render -i IN -o OUT EFFECT ... "
                       "(or render IN OUT EFFECT ...)");
}

int renderCommand(RenderArguments args) {
  takeFilesBeforeEffects(args);
  checkForFileNames(args.chain);
  // Nothing is assumed: rendering the demo signal, or writing ./out.wav, when a file was
  // forgotten would only hide the mistake.
  if (args.input.empty() && args.signal.empty()) {
    throw fx::UsageError("render needs an input: -i FILE (- for standard input), or -s demo "
                         "(impulse, noise, sine) for a built-in signal: orvane-fx render -i "
                         "in.wav -o out.wav EFFECT ...");
  }
  const std::vector<fx::EffectSpec> effects = fx::parseChain(args.chain);
  if (!args.type.empty() && args.input != "-" && args.output != "-" &&
      !fx::isStreamTarget(args.output)) {
    throw fx::UsageError("-t " + args.type + " names the type of a pipe (-i - or -o -); files "
                         "take theirs from their contents and extensions");
  }
  if (!args.plot.empty()) {
    if (fx::lowerExtension(args.plot) != ".svg") {
      throw fx::UsageError("--plot " + args.plot + ": the plot is an SVG picture; name it .svg");
    }
    if (fx::sameFile(args.plot, args.output) ||
        (!args.input.empty() && fx::sameFile(args.plot, args.input))) {
      throw fx::UsageError("--plot " + args.plot + ": that is the " +
                           (fx::sameFile(args.plot, args.output) ? "output" : "input") +
                           "; give the plot a name of its own");
    }
  }
  Input input = openSource(args);
  // A mono input to a chain that needs stereo (PingPongDelay) is made stereo, as other tools
  // do, with a word of it.
  const unsigned int needed = fx::channelsForMono(effects);
  if (input.source->channels() == 1 && needed > 1) {
    input.source = fx::withChannels(std::move(input.source), needed, args.input);
    std::cerr << "orvane-fx: note: the input is mono and the chain needs " << needed
              << " channels: it is copied to each (--channels " << needed
              << " says so without this note)\n";
  }
  fx::SignalSource& source = *input.source;
  // The output keeps the input's sample format (16-bit in, 16-bit out) unless told otherwise,
  // where its type can hold it.
  fx::SampleFormat format =
      args.format.empty() ? fx::SampleFormat::Default : fx::parseSampleFormat(args.format);
  if (args.format.empty() && input.file != nullptr) {
    format = fx::formatFitting(args.output, args.type, input.file->sampleFormat());
  }
  if (effects.empty()) {
    std::cerr << "orvane-fx: note: no effect given: the input is copied through (a format "
                 "conversion); 'orvane-fx list' shows the effects\n";
  }
  // By default the echoes ring out: the render goes on until the chain falls silent.
  const fx::TailLength tailLength = fx::parseTail(args.tail, "--tail");
  const std::uint64_t tail = fx::framesIn(
      tailLength.automatic ? fx::kMostAutoTailSeconds : tailLength.seconds, source.sampleRate(),
      "--tail");

  const fx::EffectCatalogue catalogue;
  std::vector<std::string> warnings;
  if (!(args.beatsPerMinute >= 0.0) || args.beatsPerMinute > 1000.0) {
    throw fx::UsageError("--bpm: a tempo above 0, up to 1000 beats per minute");
  }
  fx::EffectChain chain(catalogue, effects, source.channels(), source.sampleRate(), warnings,
                        args.beatsPerMinute);
  for (const std::string& warning : warnings)
    std::cerr << "orvane-fx: warning: " << warning << "\n";

  // Asked for last, so that what is wrong with the input or the chain is said first.
  if (args.output.empty()) {
    throw fx::UsageError("render needs an output: -o FILE (- for standard output): orvane-fx "
                         "render -i in.wav -o out.wav EFFECT ...");
  }
  if (!std::isfinite(args.gainDb) || std::fabs(args.gainDb) > 120.0) {
    throw fx::UsageError("--gain: a gain in dB from -120 to +120");
  }
  chain.setOutputLevel(args.gainDb);
  double normalizeTo = 0.0;
  if (args.normalize) {
    if (!args.normalizeDb.empty()) {
      normalizeTo = fx::parseLevelDb(args.normalizeDb, "--normalize " + args.normalizeDb);
      if (normalizeTo > 0.0) throw fx::UsageError("--normalize: a peak at or below 0 dBFS");
    }
    if (args.gainDb != 0.0) throw fx::UsageError("give --gain or --normalize, not both");
    if (!args.plot.empty()) {
      throw fx::UsageError("--plot draws one pass and --normalize makes two; draw with --gain");
    }
  }
  // --normalize, as sox's gain -n: the whole render goes to a private float file first, then
  // through the gain that brings its peak to the level asked for.
  fx::RenderOptions options;
  options.blockSize = args.block;
  options.tailFrames = tail;
  options.autoTail = tailLength.automatic;
  options.showProgress = !args.quiet && isatty(STDERR_FILENO) != 0;
  fx::SignalSource* finalSource = &source;
  fx::EffectChain* finalChain = &chain;
  std::unique_ptr<fx::SoundFileReader> measured;
  std::unique_ptr<fx::EffectChain> gainOnly;
  std::uint64_t finalTail = tail;
  if (args.normalize) {
    const std::string between = fx::intermediateFilePath("normalize.wav");
    fx::RenderResult first;
    {
      fx::SoundFileWriter firstPass(between, source.channels(), source.sampleRate(),
                                    fx::SampleFormat::Float);
      first = fx::render(source, chain, firstPass, nullptr, options);
      firstPass.finish();
      firstPass.commit();
    }
    measured = std::make_unique<fx::SoundFileReader>(between);
    unlink(between.c_str());  // read through its descriptor from here on
    std::vector<std::string> none;
    gainOnly = std::make_unique<fx::EffectChain>(catalogue, std::vector<fx::EffectSpec>{},
                                                 source.channels(), source.sampleRate(), none);
    const double gain = first.peak > 0.0f ? normalizeTo - 20.0 * std::log10(first.peak) : 0.0;
    gainOnly->setOutputLevel(gain);
    if (!args.quiet) {
      std::fprintf(stderr, "orvane-fx: note: --normalize: the render peaks at %.2f dBFS; "
                   "%+.2f dB brings it to %.2f dBFS\n",
                   first.peak > 0.0f ? 20.0 * std::log10(first.peak) : -INFINITY, gain, normalizeTo);
    }
    finalSource = measured.get();
    finalChain = gainOnly.get();
    finalTail = 0;
    options.tailFrames = 0;
    options.autoTail = false;
  }
  // The output's length, when the input says it, decides its container before anything is
  // written (a long .wav becomes RF64; a length another type cannot hold is refused).
  constexpr std::uint64_t kUnknownLength = fx::SoundFileWriter::kUnknownLength;
  const bool lengthKnown = source.frames() < (std::uint64_t{1} << 62);
  fx::SoundFileWriter writer(args.output, source.channels(), source.sampleRate(), format,
                             lengthKnown ? finalSource->frames() + finalTail : kUnknownLength,
                             args.type);
  if (!writer.note().empty()) std::cerr << "orvane-fx: note: " << writer.note() << "\n";
  std::unique_ptr<fx::WaveformPlot> plot;
  if (!args.plot.empty()) {
    plot = std::make_unique<fx::WaveformPlot>(source.channels(), source.frames() + tail,
                                              source.sampleRate());
  }
  const fx::RenderResult result = fx::render(*finalSource, *finalChain, writer, plot.get(), options);
  if (input.file != nullptr && !input.file->problem().empty()) {
    std::cerr << "orvane-fx: warning: " << input.file->problem() << "\n";
  }
  if (result.tailCapped) {
    std::cerr << "orvane-fx: note: the tail stops at its most, " << fx::kMostAutoTailSeconds
              << " s, with the echoes still sounding (feedback that keeps them up?); --tail "
                 "SECONDS sets its length\n";
  }
  // Both files complete before either is put in place: a failure leaves neither behind.
  std::unique_ptr<fx::OutputFile> plotFile;
  if (plot) {
    const bool impulse = args.signal == "impulse";
    plotFile = fx::stageText(args.plot, plot->svg(chain.describe(), impulse));
  }
  writer.finish();
  writer.commit();
  if (plotFile) plotFile->commit();
  if (!args.quiet) printSummary(source, chain, result, args.output == "-" ? "standard output" : args.output);
  // Honest levels: what went past full scale, and whether the file kept it.
  if (result.overFullScale > 0) {
    const bool clipped = fx::clipsAtFullScale(args.output, args.type, format);
    char peak[64];
    std::snprintf(peak, sizeof peak, "%+.2f dBFS", 20.0 * std::log10(result.peak));
    std::cerr << "orvane-fx: warning: the output peaks at " << peak << "; " << result.overFullScale
              << " samples went past full scale"
              << (clipped ? " and were clipped by the output's sample format"
                          : " (kept, as the output holds floats; they will clip when played or "
                            "converted)")
              << "; --normalize brings the peak to 0 dBFS, or --gain " << std::fixed
              << std::setprecision(1) << -std::ceil(20.0 * std::log10(result.peak) * 10.0) / 10.0
              << " (level= on an effect turns that one down)\n";
  }
  return 0;
}

}  // namespace

extern "C" void onStopSignal(int signal) { fx::requestStop(signal); }

namespace {

// How long a stopped render may take to unwind before the process leaves without it (a thread
// blocked reading a stalled pipe or a FIFO nobody writes cannot be woken).
constexpr auto kStopGrace = std::chrono::milliseconds(700);

// Ctrl-C, SIGTERM, SIGHUP, SIGPIPE and SIGQUIT stop a render cleanly: no partial file is left
// and the exit status is 128 + the signal, as shells expect. They are installed without
// SA_RESTART, so that an open or read blocked in the main thread returns at once. A file grown
// past the system's size limit fails its write (SIGXFSZ ignored) and is reported.
void installStopHandlers() {
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT}) {
    // A signal the parent set to be ignored stays ignored (nohup, background jobs); an ignored
    // SIGPIPE makes a write to a closed pipe fail, which is then reported.
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
  std::signal(SIGXFSZ, SIG_IGN);
  // The watcher, with every signal blocked so that they reach the main thread.
  sigset_t all, saved;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &saved);
  std::thread([] {
    while (!fx::stopRequestedNow()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(kStopGrace);
    fx::removeTemporaryFilesNow();
    constexpr char kMessage[] = "orvane-fx: error: interrupted; nothing was written\n";
    [[maybe_unused]] const auto written = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    _exit(128 + fx::stopSignal());
  }).detach();
  pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  installStopHandlers();
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
  render->add_option("-i,--input", args.input,
                     "Input sound file (any type libsndfile reads); - reads standard input");
  render->add_option("-s,--signal", args.signal,
                     "Built-in input instead of a file: demo (default), impulse, noise, sine");
  CLI::Option* rate = render->add_option(
      "--rate", args.rate, "Sample rate (Hz) of the built-in signal, or of raw input (-t raw or a "
                           ".raw file), which has no header to say it");
  CLI::Option* channels =
      render
          ->add_option("--channels", args.channels,
                       "Channels of the built-in signal or of raw input (needed: it has no "
                       "header), or the input's made so (mono to many by copying, many to mono "
                       "by averaging)")
          ->check(CLI::Range(1u, 64u));
  CLI::Option* seconds = render->add_option(
      "--seconds", args.seconds,
      "Length of the built-in signal (default: 1 for impulse, 6 for demo, else 5)");
  render->add_option("--tail", args.tail,
                     "After the input: auto (default) goes on until the echoes die away (below "
                     "-90 dBFS for the chain's longest delay; at most 60 s), or SECONDS; 0 keeps "
                     "the input's length");
  render->add_option("--gain", args.gainDb, "A gain in dB after the chain (-6, 3)");
  render->add_option("--bpm", args.beatsPerMinute,
                     "A tempo: time settings then take note values, 1/4 a beat, 1/8. dotted, "
                     "1/8t a triplet (Delay delay=1/8. --bpm 120 is 375 ms)");
  CLI::Option* normalize =
      render->add_option("--normalize", args.normalizeDb,
                         "Bring the output's peak to DB dBFS (default 0), as sox's gain -n: the "
                         "render is made once to measure it, then once more")
          ->expected(0, 1);
  render->add_option("-o,--output", args.output,
                     "Output file, its extension picks the type; - writes standard output");
  render->add_option("-t,--type", args.type,
                     "Type of a pipe (-i - or -o -): wav (default), flac, ogg, aiff, au, raw "
                     "(32-bit float)");
  render->add_option("--format", args.format,
                     "Sample format: pcm16, pcm24, pcm32 or float (default: the input's own)");
  render->add_option("-b,--block", args.block, "Frames per block")
      ->check(CLI::Range(1u, fx::kMaxBlockFrames))
      ->capture_default_str();
  render->add_option("--plot", args.plot, "Also draw the input and output waveforms (SVG)");
  render->add_flag("-q,--quiet", args.quiet, "No progress and no summary");
  render->add_option("chain", args.chain,
                     "[IN OUT] EFFECT [key=value ...] ... (IN and OUT, as sox takes them, where -i "
                     "and -o do not name them; names without regard to case; values may carry "
                     "units: 350ms, 0.35s, 2ms, 0.5Hz, 500mHz, -6dB; a value may move over time "
                     "as an envelope of VALUE@TIME points, linear between them: "
                     "feedback=0.2@0,0.8@2s)");
  render->footer(
      "Examples:\n"
      "  orvane-fx render -s impulse -o ir.wav --plot ir.svg Delay delay=350ms feedback=0.4\n"
      "  orvane-fx render -i voice.wav --channels 2 -o wide.wav PingPongDelay --tail 2\n"
      "  orvane-fx render -i guitar.flac -o out.flac Chorus sweep-width=3ms Flanger\n"
      "  orvane-fx render in.wav out.wav Delay delay=350ms\n"
      "  orvane-fx render -i - -o - -t flac Vibrato frequency=5Hz < in.flac > out.flac\n"
      "  orvane-fx render -i take.raw --rate 44100 --channels 1 -o take.wav Chorus\n"
      "  orvane-fx render -i in.wav -o out.wav Delay feedback=0.2@0,0.8@2s\n"
      "  orvane-fx render -i in.wav -o out.wav --bpm 120 Delay delay=1/8.");
  list->footer("Examples:\n  orvane-fx list\n  orvane-fx list Delay\n  orvane-fx list flanger");

  fx::BatchArguments batchArgs;
  CLI::App* batch = fx::addBatchCommand(app, batchArgs);

  std::string demoFolder = "demo-out";
  unsigned int demoBlock = 512;
  CLI::App* demo = app.add_subcommand(
      "demo", "Render the demo signal through every effect: WAV, SVG and an index.html");
  demo->add_option("-o,--output", demoFolder, "Folder to write into")->capture_default_str();
  demo->add_option("-b,--block", demoBlock, "Frames per block")->check(CLI::Range(1u, fx::kMaxBlockFrames));
  demo->footer("Examples:\n  orvane-fx demo\n  orvane-fx demo -o /tmp/effects && "
               "xdg-open /tmp/effects/index.html");
  app.footer("Examples:\n  orvane-fx list\n  orvane-fx render -s demo -o demo.wav Chorus\n"
             "  orvane-fx render -i in.wav -o out.wav Delay delay=0.35s dry-mix=-3dB\n"
             "  orvane-fx batch -i in/ -o out/ Delay Chorus\n"
             "  orvane-fx demo -o demo-out\nSee orvane-fx SUBCOMMAND --help for each.");

  // A mistyped subcommand gets the closest one.
  if (argc > 1 && argv[1][0] != '-') {
    const std::string typed = argv[1];
    const std::vector<std::string> subcommands = {"list", "render", "batch", "demo"};
    if (std::find(subcommands.begin(), subcommands.end(), typed) == subcommands.end()) {
      std::cerr << "orvane-fx: error: no subcommand '" << typed << "'; "
                << fx::didYouMean(typed, subcommands) << "the subcommands are list, render, batch, demo\n";
      return 2;
    }
  }
  try {
    // "--normalize Flanger": the level is optional, and an effect's name is not one.
    std::vector<std::string> words(argv + 1, argv + argc);
    for (std::size_t i = 0; i < words.size(); ++i) {
      const bool levelFollows = i + 1 < words.size() && !words[i + 1].empty() &&
                                (std::isdigit(static_cast<unsigned char>(words[i + 1][0])) ||
                                 ((words[i + 1][0] == '-' || words[i + 1][0] == '+') &&
                                  words[i + 1].size() > 1 &&
                                  (std::isdigit(static_cast<unsigned char>(words[i + 1][1])) ||
                                   words[i + 1][1] == '.')));
      if (words[i] == "--normalize" && !levelFollows) words[i] = "--normalize=0";
    }
    std::reverse(words.begin(), words.end());  // CLI11 takes the arguments last first
    app.parse(words);
  } catch (const CLI::Success& e) {
    return app.exit(e);  // --help, --version
  } catch (const CLI::ParseError& e) {
    // A mistyped option gets the closest one ("--tial": did you mean '--tail'?).
    std::string hint;
    const std::string message = e.what();
    const auto dash = message.find(" -");
    if (message.find("not expected") != std::string::npos && dash != std::string::npos) {
      const std::string typed = message.substr(dash + 1, message.find(' ', dash + 1) - dash - 1);
      std::vector<std::string> known;
      for (const CLI::App* command : {&app, render, batch, list}) {
        for (const CLI::Option* option : command->get_options()) {
          for (const std::string& name : option->get_lnames()) known.push_back("--" + name);
        }
      }
      hint = fx::didYouMean(typed, known);
    }
    while (!hint.empty() && hint.back() == ' ') hint.pop_back();
    std::cerr << "orvane-fx: error: " << message << (hint.empty() ? "" : "; " + hint)
              << "\n(see orvane-fx --help)\n";
    return 2;
  }
  args.normalize = normalize->count() > 0;
  args.rateGiven = rate->count() > 0;
  args.channelsGiven = channels->count() > 0;
  args.secondsGiven = seconds->count() > 0;
  try {
    if (app.got_subcommand("list")) {
      listCatalogue(listOnly);
      return 0;
    }
    if (app.got_subcommand("render")) return renderCommand(args);
    if (app.got_subcommand("batch")) return fx::batchCommand(batchArgs, argc, argv);
    return fx::demoCommand(demoFolder, demoBlock);
  } catch (const fx::Interrupted& e) {
    std::cerr << "orvane-fx: error: " << e.what() << "\n";
    return 128 + (fx::stopSignal() != 0 ? fx::stopSignal() : SIGINT);
  } catch (const fx::UsageError& e) {
    std::cerr << "orvane-fx: error: " << e.what() << "\n";
    return fx::stopRequestedNow() ? 128 + fx::stopSignal() : 2;
  } catch (const std::exception& e) {
    std::cerr << "orvane-fx: error: " << e.what() << "\n";
    // A reader that closed the pipe early ends the run as SIGPIPE does, as shells expect,
    // unless SIGPIPE was ignored, when the failed write says it.
    return fx::stopSignal() == SIGPIPE ? 128 + SIGPIPE : 1;
  }
}
