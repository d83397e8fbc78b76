#include "Demo.hpp"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <sstream>
#include <vector>

#include "Chain.hpp"
#include "Plot.hpp"
#include "Render.hpp"
#include "Signals.hpp"
#include "SoundFiles.hpp"
#include "Spectrogram.hpp"

namespace orvane::fx {

namespace {

constexpr unsigned int kRate = 48000;
constexpr unsigned int kChannels = 2;

std::string decibels(float peak) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f dBFS", peak > 0.0f ? 20.0 * std::log10(peak) : -INFINITY);
  return text;
}

// The files of the demo, complete but not yet in place.
struct Staged {
  std::vector<std::unique_ptr<SoundFileWriter>> sounds;
  std::vector<std::unique_ptr<OutputFile>> files;
};

struct Rendered {
  RenderResult result;
  std::string waveform;     // SVG
  std::string spectrogram;  // PNG
};

// The demo signal through `effects` into `wav`, with its pictures.
Rendered renderDemo(const EffectCatalogue& catalogue, const std::vector<EffectSpec>& effects,
                    const std::string& wav, const std::string& title, unsigned int block,
                    Staged& staged) {
  const auto source = makeBuiltInSignal("demo", kChannels, kRate, defaultSeconds("demo"));
  std::vector<std::string> warnings;
  EffectChain chain(catalogue, effects, kChannels, kRate, warnings);
  staged.sounds.push_back(
      std::make_unique<SoundFileWriter>(wav, kChannels, kRate, SampleFormat::Default));
  WaveformPlot plot(kChannels, source->frames(), kRate);
  Spectrogram spectrogram(kRate);
  RenderOptions options;
  options.blockSize = block;
  options.measureLevels = true;
  options.spectrogram = &spectrogram;
  Rendered rendered;
  rendered.result = render(*source, chain, *staged.sounds.back(), &plot, options);
  staged.sounds.back()->finish();
  rendered.waveform = plot.svg(title, false);
  rendered.spectrogram = spectrogram.png();
  return rendered;
}

// A unit impulse through a delay, with its echoes labelled.
std::string impulseResponse(const EffectCatalogue& catalogue, const std::string& type,
                            const std::string& title, const std::string& scratch) {
  const auto source = makeBuiltInSignal("impulse", kChannels, kRate, 1.0);
  std::vector<std::string> warnings;
  EffectChain chain(catalogue, {EffectSpec{type, {}}}, kChannels, kRate, warnings);
  SoundFileWriter unused(scratch, kChannels, kRate, SampleFormat::Default);  // never committed
  WaveformPlot plot(kChannels, source->frames(), kRate);
  render(*source, chain, unused, &plot, RenderOptions{});
  return plot.svg(title, true);
}

std::string settingsList(const EffectSettings& settings) {
  std::ostringstream out;
  out << "<ul class=\"settings\">";
  for (const SettingInfo& s : settings.settings()) {
    out << "<li>" << escapeXml(s.name) << " (<code>" << s.id << "</code>): <b>"
        << formatSettingValue(s, s.defaultValue) << (s.unit.empty() ? "" : " " + s.unit)
        << "</b> <span class=\"range\">(" << escapeXml(s.description) << ")</span></li>";
  }
  out << "</ul>";
  return out.str();
}

int demoFiles(const std::string& folder, unsigned int block) {
  const EffectCatalogue catalogue;
  const std::filesystem::path base(folder);
  Staged staged;
  auto stage = [&](const std::string& name, const std::string& contents) {
    staged.files.push_back(stageText((base / name).string(), contents));
  };

  std::ostringstream html;
  html << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
       << "<title>Orvane audio effects: what each one does</title>\n<style>"
       << "body{font-family:system-ui,sans-serif;max-width:62rem;margin:0 auto;padding:1rem 2rem;"
       << "color:#222}section{margin:2.5rem 0;border-top:1px solid #ddd}img{max-width:100%;"
       << "border:1px solid #ddd;display:block;margin:.4rem 0}.players{display:flex;gap:2rem;"
       << "flex-wrap:wrap}.players div{display:flex;flex-direction:column}.range{color:#777}"
       << "table{border-collapse:collapse}td,th{padding:.2rem .8rem;text-align:right}"
       << "td:first-child,th:first-child{text-align:left}</style></head><body>\n"
       << "<h1>Orvane audio effects: what each one does</h1>\n"
       << "<p>The same six-second demo signal (a click on the left, a click on the right, four "
       << "plucked notes panned left and right, a held two-note chord, then a second of "
       << "silence for the echoes) through each effect at its default settings. Play the dry "
       << "signal, then the processed one. Each section shows the output's waveform (input "
       << "grey, output blue) and its spectrogram (time across, frequency up on a logarithmic "
       << "scale from 30 Hz to 20 kHz, level as colour from dark, −90 dB, to bright, 0 dB).</p>\n"
       << "<p>To hear the effects live on this signal, a file of yours or the microphone, with "
       << "a control for every setting: run <code>bash scripts/web</code> in the source folder "
       << "and open <a href=\"http://127.0.0.1:8000/\">http://127.0.0.1:8000/</a>.</p>\n";

  std::ostringstream sections;
  std::ostringstream table;
  table << "<table><tr><th>effect</th><th>peak</th><th>RMS</th><th>speed</th></tr>\n";
  std::printf("%-14s %12s %12s %12s\n", "effect", "peak", "RMS", "speed");
  const auto row = [&](const std::string& name, const RenderResult& r) {
    const double seconds = static_cast<double>(r.frames) / kRate;
    const double speed = r.wallSeconds > 0 ? seconds / r.wallSeconds : 0.0;
    std::printf("%-14s %12s %12s %11.0fx\n", name.c_str(), decibels(r.peak).c_str(),
                decibels(static_cast<float>(r.rms)).c_str(), speed);
    table << "<tr><td>" << escapeXml(name) << "</td><td>" << decibels(r.peak) << "</td><td>"
          << decibels(static_cast<float>(r.rms)) << "</td><td>" << std::lround(speed)
          << "× real time</td></tr>\n";
  };

  const Rendered dry = renderDemo(catalogue, {}, (base / "dry.wav").string(), "Dry", block, staged);
  stage("dry.svg", dry.waveform);
  stage("dry.png", dry.spectrogram);
  row("Dry", dry.result);
  sections << "<section id=\"dry\"><h2>The dry signal</h2><p>What goes into every effect.</p>"
           << "<audio controls src=\"dry.wav\"></audio>"
           << "<img src=\"dry.svg\" alt=\"waveform of the dry signal\">"
           << "<img src=\"dry.png\" alt=\"spectrogram of the dry signal\"></section>\n";

  for (const NodeTypeInfo& info : catalogue.types()) {
    const std::string& type = info.type;
    const EffectSettings& effect = catalogue.settings(type);
    const Rendered wet = renderDemo(catalogue, {EffectSpec{type, {}}},
                                    (base / (type + ".wav")).string(), info.displayName, block,
                                    staged);
    stage(type + ".svg", wet.waveform);
    stage(type + ".png", wet.spectrogram);
    row(type, wet.result);
    sections << "<section id=\"" << type << "\"><h2>" << escapeXml(info.displayName) << "</h2><p>"
             << escapeXml(effect.guide()) << "</p>\n<p>Settings used (the defaults):</p>"
             << settingsList(effect)
             << "\n<div class=\"players\"><div>Dry<audio controls src=\"dry.wav\"></audio></div>"
             << "<div>" << escapeXml(info.displayName) << "<audio controls src=\"" << type
             << ".wav\"></audio></div></div>\n<img src=\"" << type << ".svg\" alt=\""
             << escapeXml(info.displayName) << " waveform\"><img src=\"" << type << ".png\" alt=\""
             << escapeXml(info.displayName) << " spectrogram\">\n";
    if (effect.category() == "Delay") {  // echoes: the impulse response shows each one
      const std::string name = type + "-impulse.svg";
      stage(name, impulseResponse(catalogue, type, info.displayName + ": impulse response",
                                  (base / (type + "-impulse.wav")).string()));
      sections << "<p>Impulse response: a single click on the left at 0 ms, and the echoes it "
               << "makes, each marked with its time and level.</p><img src=\"" << name
               << "\" alt=\"" << escapeXml(info.displayName) << " impulse response\">\n";
    }
    sections << "</section>\n";
  }
  table << "</table>\n";
  html << "<h2>Levels</h2><p>No effect goes past full scale (0 dBFS) at its defaults.</p>"
       << table.str() << sections.str() << "</body></html>\n";
  stage("index.html", html.str());

  // Every file is complete: only now do they take their places, so an interruption or a
  // failure before this point leaves the folder as it was.
  std::vector<std::string> placed;
  try {
    for (auto& sound : staged.sounds) {
      sound->commit();
      placed.push_back(sound->outputPath());
    }
    for (auto& file : staged.files) {
      file->commit();
      placed.push_back(file->path());
    }
  } catch (const std::runtime_error& e) {
    std::string list;
    for (const std::string& path : placed) list += (list.empty() ? "" : ", ") + path;
    throw RenderFailure(std::string(e.what()) +
                        (placed.empty() ? "; nothing was written" : "; already in place: " + list));
  }
  std::printf("wrote %s/index.html\n", folder.c_str());
  return 0;
}

// Removes the demo's folder again if the demo made it and fails before anything is in it.
struct FolderMadeHere {
  std::string folder;
  bool made = false;
  ~FolderMadeHere() {
    std::error_code error;
    if (made && std::filesystem::is_empty(folder, error)) std::filesystem::remove(folder, error);
  }
};

}  // namespace

int demoCommand(const std::string& folder, unsigned int block) {
  std::error_code error;
  FolderMadeHere madeHere{folder, !std::filesystem::exists(folder, error)};
  std::filesystem::create_directories(folder, error);
  if (error) throw UsageError("cannot create '" + folder + "': " + error.message());
  try {
    return demoFiles(folder, block);
  } catch (const UsageError& e) {
    // Files are put in place only at the very end, and a failure there says what it placed.
    throw UsageError(std::string(e.what()) + "; nothing was written");
  }
}

}  // namespace orvane::fx
