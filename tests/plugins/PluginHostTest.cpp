// The LV2 bundle and the LADSPA library, installed and run in the hosts of their world: the
// LV2 validator, lilv's lv2ls, lv2info and lv2apply, lv2file, jalv on a JACK server, and sox.
// Every render is compared with orvane-fx, which runs the library directly.
#include <gtest/gtest.h>

#include <fstream>
#include <iostream>
#include <iterator>

#include <charconv>
#include <cmath>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <orvane/audioeffects/AudioEffects.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "PluginCatalogue.hpp"
#include "ScratchFolder.hpp"
#include "TestSignals.hpp"

namespace {

namespace fs = std::filesystem;
using orvane::extensions::audioeffects::EffectSettings;
using orvane::extensions::audioeffects::SettingInfo;
using orvane::extensions::audioeffects::SettingKind;
using orvane::plugins::PluginControl;
using orvane::plugins::PluginVariant;
using orvane::testing::Audio;
using orvane::testing::Outcome;

// Where the test run installed the project, as `cmake --install` lays it out.
const std::string kPrefix = ORVANE_PLUGIN_TEST_PREFIX;

std::string uriOf(const PluginVariant& variant) {
  return std::string(orvane::plugins::kUriBase) + variant.label;
}

// The shortest text that reads back as the same float, so that every program parses the same
// value whether it reads floats or doubles.
std::string text(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(value));
  return std::string(buffer, result.ptr);
}

// The LV2 controls beyond the LADSPA ones, with their defaults: a delay's tempo sync.
std::vector<std::pair<std::string, double>> lv2OnlyControls(const PluginVariant& variant) {
  if (!variant.syncedSetting) return {};
  return {{"sync", 0.0}, {"note", static_cast<double>(orvane::plugins::kDefaultNoteValue)}};
}

// A control value away from its default and from the ends of its range, in the port's unit.
double unusual(const PluginControl& c) {
  if (c.info->kind == SettingKind::Toggle) return c.defaultValue;
  const double value = c.minimum + 0.37 * (c.maximum - c.minimum);
  return c.info->kind == SettingKind::Integer ? std::round(value) : value;
}

struct Settings {
  std::string renderer;  // "delay=370 feedback=0.3663 sweep-width=37ms"
  std::string lv2apply;  // "-c delay 370 -c feedback 0.3663"
  std::string lv2file;   // "-p delay:370 -p feedback:0.3663"
  std::string ladspa;    // every LADSPA control in port order (no bypass): "0.7 0.3 370 0.3663"
  std::string indexed;   // control index and value pairs: "3=370 4=0.3663"
};

// The same values for the renderer, in the setting's unit (which it converts as the plugin
// does), and for the plugin hosts, in the port's.
Settings settingsFor(const PluginVariant& variant, bool atDefaults) {
  Settings out;
  for (const PluginControl& c : variant.controls) {
    const SettingInfo& s = *c.info;
    const double value = atDefaults ? c.defaultValue : unusual(c);
    const std::string symbol = orvane::plugins::portSymbol(s.id);
    if (!s.isBypass) out.ladspa += " " + text(value);
    if (value == c.defaultValue) continue;
    out.renderer += " " + s.id + "=" + text(value) + (c.unit != s.unit ? c.unit : "");
    out.lv2apply += " -c " + symbol + " " + text(value);
    out.lv2file += " -p " + symbol + ":" + text(value);
    out.indexed += " " + std::to_string(c.setting) + "=" + text(value);
  }
  return out;
}

class PluginHosts : public orvane::testing::ScratchFolderTest {
 protected:
  std::string prelude() const override {
    return "export FX='" ORVANE_FX_PATH "' LV2_PATH='" + kPrefix + "/lib/lv2:/usr/lib/lv2' " +
           "LADSPA_PATH='" + kPrefix + "/lib/ladspa' BUNDLE='" + kPrefix +
           "/lib/lv2/orvane-audioeffects.lv2' && ";
  }

  // An impulse and quiet noise with the variant's channel count (quiet, so that no effect
  // drives sox's integer samples into clipping).
  void makeInputs(unsigned int channels) const {
    const std::string c = " --channels " + std::to_string(channels);
    const Outcome r = script(
        "\"$FX\" render -q -s impulse --seconds 1" + c + " -o impulse.wav Delay enabled=false && " +
        "\"$FX\" render -q -s noise --seconds 0.5" + c +
        " -o noise.wav Delay dry-mix=0.25 wet-mix=0 feedback=0");
    ASSERT_EQ(r.status, 0) << r.output;
  }

  // A JACK server of the test's own (dummy driver, no sound card, 48 kHz, 256-frame periods)
  // with a sine source, jack_simple_client, running while the object lives.
  class JackServer {
   public:
    // What a JACK client of the test's runs with.
    static inline const std::string kClientEnvironment =
        "export JACK_NO_START_SERVER=1 JACK_DEFAULT_SERVER=orvane-test; ";

    explicit JackServer(const PluginHosts& test) : test_(test) {
      // One name for every run: JACK keeps a small registry of servers, and a name used once
      // and reused is taken over cleanly where fresh names would fill it. Its shared-memory
      // registry can keep servers that were stopped (a new one then hangs or says "already
      // active"); with no JACK server running at all (a stopped one may linger as a zombie
      // until it is reaped), what it holds is stale and goes. A server still on its way out
      // (the test before's, on a loaded machine) is waited for first.
      started_ = test_.script(
          kClientEnvironment +
          "for i in $(seq 100); do ps -C jackd -o stat= | grep -q '^[^Z]' || break; "
          "sleep 0.1; done; "
          "ps -C jackd -o stat= | grep -q '^[^Z]' || rm -rf /dev/shm/jack-* /dev/shm/jack_* "
          "2> /dev/null; jackd --no-realtime -n orvane-test -d dummy -r 48000 -p 256 "
          "> jackd.log 2>&1 & echo $! > jackd.pid; jack_wait -w -t 10 > /dev/null && "
          "{ jack_simple_client > source.log 2>&1 & echo $! > source.pid; } && sleep 0.5")
          .status == 0;
    }
    // Stops the source, then the server, and waits until the server has gone (it unregisters
    // itself on the way out), whatever happened, assertions included. A server that has not
    // gone after five seconds is killed outright, so that it cannot hold the name.
    ~JackServer() {
      test_.script(
          kClientEnvironment +
          "kill $(cat source.pid 2>/dev/null) 2>/dev/null; kill $(cat jackd.pid 2>/dev/null) "
          "2>/dev/null; for i in $(seq 50); do ps -p $(cat jackd.pid) -o stat= | "
          "grep -q '^[^Z]' || break; sleep 0.1; done; "
          "ps -p $(cat jackd.pid) -o stat= | grep -q '^[^Z]' && "
          "{ kill -9 $(cat jackd.pid); sleep 0.5; }; true");
    }
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;
    bool started() const { return started_; }

   private:
    const PluginHosts& test_;
    bool started_ = false;
  };
};

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) out.push_back(line);
  }
  return out;
}

TEST_F(PluginHosts, ValidatorFindsNoErrorAndEveryDefaultLiesInItsRange) {
  const Outcome validate = script("lv2_validate \"$BUNDLE\"/*.ttl");
  EXPECT_NE(validate.output.find("Found 0 errors"), std::string::npos) << validate.output;

  // The validator does not compare a port's default with its bounds; lilv reads them here.
  const std::regex port(R"(Symbol:\s+(\S+)[\s\S]*?Minimum:\s+(\S+)\s+Maximum:\s+(\S+)\s+Default:\s+(\S+))");
  for (const PluginVariant& variant : orvane::plugins::pluginVariants()) {
    const Outcome info = script("lv2info " + uriOf(variant));
    ASSERT_EQ(info.status, 0) << info.output;
    std::size_t controls = 0;
    for (std::sregex_iterator it(info.output.begin(), info.output.end(), port), end; it != end;
         ++it) {
      const double minimum = std::stod((*it)[2]), maximum = std::stod((*it)[3]);
      const double value = std::stod((*it)[4]);
      EXPECT_LE(minimum, value) << variant.label << " " << (*it)[1];
      EXPECT_LE(value, maximum) << variant.label << " " << (*it)[1];
      ++controls;
    }
    EXPECT_EQ(controls, variant.controls.size() + lv2OnlyControls(variant).size())
        << variant.label;
  }
}

TEST_F(PluginHosts, LilvListsTheNinePluginsWithTheirPortsAndPresets) {
  const Outcome list = script("lv2ls | grep orvane");
  std::vector<std::string> expected;
  for (const PluginVariant& variant : orvane::plugins::pluginVariants()) {
    expected.push_back(uriOf(variant));
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(lines(list.output), expected);

  for (const PluginVariant& variant : orvane::plugins::pluginVariants()) {
    SCOPED_TRACE(variant.label);
    const Outcome info = script("lv2info " + uriOf(variant));
    std::vector<std::string> symbols;
    const std::regex symbol(R"(Symbol:\s+(\S+))");
    for (std::sregex_iterator it(info.output.begin(), info.output.end(), symbol), end; it != end;
         ++it) {
      symbols.push_back((*it)[1]);
    }
    std::vector<std::string> want;
    for (const SettingInfo& s : EffectSettings::forType(variant.type)->settings()) {
      want.push_back(orvane::plugins::portSymbol(s.id));
    }
    want.insert(want.end(), {"mix", "level"});
    for (const auto& s : orvane::plugins::audioInputSymbols(variant)) want.push_back(s);
    for (const auto& s : orvane::plugins::audioOutputSymbols(variant)) want.push_back(s);
    for (const auto& [symbol, value] : lv2OnlyControls(variant)) want.push_back(symbol);
    want.push_back("control");  // the atom input for the host's time:Position
    EXPECT_EQ(symbols, want);
    EXPECT_NE(info.output.find("lv2core#enabled"), std::string::npos) << "bypass designation";
    EXPECT_NE(info.output.find("hardRTCapable"), std::string::npos);
    EXPECT_NE(info.output.find("Has latency:       no"), std::string::npos);
    for (const auto& preset : variant.effect->presets()) {
      EXPECT_NE(info.output.find(preset.name), std::string::npos) << preset.name;
    }
  }
}

TEST_F(PluginHosts, Lv2HostsRenderTheLibrarysSamplesBitForBit) {
  for (const PluginVariant& variant : orvane::plugins::pluginVariants()) {
    makeInputs(variant.channels);
    for (const bool atDefaults : {true, false}) {
      const Settings settings = settingsFor(variant, atDefaults);
      for (const std::string input : {"impulse.wav", "noise.wav"}) {
        SCOPED_TRACE(std::string(variant.label) + " " + input + settings.renderer);
        const Outcome r = script(
            "\"$FX\" render -q --tail 0 -i " + input + " -o fx.wav " + variant.type + settings.renderer +
            " && lv2apply -i " + input + " -o apply.wav" + settings.lv2apply + " " +
            uriOf(variant) + " && lv2file -b 37 -i " + input + " -o file.wav" + settings.lv2file +
            " " + uriOf(variant));
        ASSERT_EQ(r.status, 0) << r.output;
        const Audio expected = read("fx.wav");
        ASSERT_EQ(expected.channels, variant.channels);
        EXPECT_EQ(read("apply.wav").samples, expected.samples) << "lv2apply";
        EXPECT_EQ(read("file.wav").samples, expected.samples) << "lv2file, 37-frame blocks";
        EXPECT_NE(expected.samples, read(input).samples) << "the effect must be heard";
      }
    }
  }
}

// What lint tools and hosts look for in each plugin's description, checked where Debian has no
// LV2 lint: a version, a comment, a unit on every control but a switch, and every audio port
// in a group with its place (left, right, centre).
TEST_F(PluginHosts, EveryPluginHasAVersionUnitsAndGroupedChannels) {
  std::ifstream in(kPrefix + "/lib/lv2/orvane-audioeffects.lv2/plugins.ttl");
  const std::string ttl((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto count = [](const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  };
  for (const PluginVariant& variant : orvane::plugins::pluginVariants()) {
    SCOPED_TRACE(variant.label);
    const auto start = ttl.find("<" + uriOf(variant) + ">\n  a lv2:Plugin");
    ASSERT_NE(start, std::string::npos);
    const std::string block = ttl.substr(start, ttl.find(" .\n", start) - start);
    EXPECT_EQ(count(block, "lv2:minorVersion "), 1u);
    EXPECT_EQ(count(block, "lv2:microVersion "), 1u);
    EXPECT_EQ(count(block, "\n  rdfs:comment "), 1u);
    const std::size_t controls = count(block, "lv2:ControlPort");
    EXPECT_EQ(count(block, "units:unit ") + count(block, "lv2:toggled") +
                  count(block, "lv2:enumeration"),
              controls);
    EXPECT_EQ(count(block, "atom:supports time:Position"), 1u);
    // Rates on a logarithmic scale; times in milliseconds, the unit a musician reads.
    EXPECT_EQ(count(block, "lv2:portProperty pprops:logarithmic"), count(block, "units:hz"));
    EXPECT_EQ(count(block, "units:unit units:s\n"), 0u);
    EXPECT_EQ(count(block, "lv2:AudioPort"), 2u * variant.channels);
    EXPECT_EQ(count(block, "pg:group "), 2u * variant.channels);
    EXPECT_EQ(count(block, variant.channels == 2 ? "pg:left" : "pg:center"), 2u);
    for (const char* group : {"#in>\n  a ", "#out>\n  a "}) {
      EXPECT_NE(ttl.find("<" + uriOf(variant) + group + (variant.channels == 2 ? "pg:StereoGroup"
                                                                                : "pg:MonoGroup")),
                std::string::npos);
    }
  }
}

// A bundle copied alone into an empty ~/.lv2, and the LADSPA library copied alone, with the
// project's own libraries out of reach: they run and give the library's samples. Only their
// entry points leave the binaries, so two versions in one host never meet.
TEST_F(PluginHosts, CopiedPluginsRunWithNothingElseOfTheProject) {
  const PluginVariant& delay = *orvane::plugins::findVariant("delay_stereo");
  makeInputs(2);
  const Settings settings = settingsFor(delay, false);
  const Outcome r = script(
      "mkdir -p home/.lv2 copied && cp -r \"$BUNDLE\" home/.lv2/ && "
      "cp \"$LADSPA_PATH\"/orvane-audioeffects.so copied/ && "
      "\"$FX\" render -q --tail 0 -i noise.wav -o fx.wav Delay" + settings.renderer + " && "
      "env -u LV2_PATH -u LD_LIBRARY_PATH HOME=$PWD/home lv2apply -i noise.wav -o apply.wav" +
      settings.lv2apply + " " + uriOf(delay) + " && "
      "env -u LD_LIBRARY_PATH LADSPA_PATH=$PWD/copied sox noise.wav sox.wav ladspa "
      "orvane-audioeffects.so delay_stereo" + settings.ladspa + " 2> sox.log && "
      "for binary in home/.lv2/*/*.so copied/*.so; do "
      "ldd $binary | grep -c Orvane; nm -D --defined-only $binary | awk '{ print $3 }'; done");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(r.output, "0\nlv2_descriptor\n0\nladspa_descriptor\n");
  EXPECT_EQ(read("apply.wav").samples, read("fx.wav").samples);
  EXPECT_EQ(read("sox.wav").channels, 2u);
}

// Ardour 7, headless: its Lua tool makes a session on the dummy backend with a stereo track
// through the bundle, copied alone into an empty ~/.lv2 with nothing else of the project in
// reach, and its export tool writes the session as float WAV: the renderer's samples, bit for
// bit. The take the session plays is written over the one it recorded, with 0.2 s of silence
// first (where the region's fade-in and the export's start ramp meet silence) and 0.1 s last
// (the region's fade-out). The delays: the modulated effects' oscillators run from activation,
// which Ardour does long before it exports.
TEST_F(PluginHosts, ArdourExportsTheCopiedBundleAsTheRendererRenders) {
  if (script("command -v ardour7-lua && command -v ardour7-export").status != 0) {
    GTEST_SKIP() << "Ardour 7 is not installed (apt-get install ardour)";
  }
  const std::string ardour =
      "export HOME=$PWD/home; unset LV2_PATH LD_LIBRARY_PATH; "
      "mkdir -p home/.lv2 home/.config/ardour7 && cp -r \"$BUNDLE\" home/.lv2/ && "
      "printf '<?xml version=\"1.0\"?>\\n<Ardour><Config>"
      "<Option name=\"hide-dummy-backend\" value=\"0\"/></Config></Ardour>\\n' "
      "> home/.config/ardour7/config && ";
  // Ardour 7.3's tools now and then crash (a double free), hang or export other samples, with
  // or without a plugin of ours in the session (seen in about one export of 25 here): a whole
  // attempt, session and export, is made up to three times, and every failed one is reported.
  constexpr int kAttempts = 3;
  // The chorus too: Ardour tells its plugins the transport (time:Position), so the sweep
  // starts at the session's frame 0 however many cycles Ardour ran before the export rolled.
  for (const char* label : {"delay_stereo", "pingpong_stereo", "chorus_stereo"}) {
    const PluginVariant& variant = *orvane::plugins::findVariant(label);
    SCOPED_TRACE(label);
    const Settings settings = settingsFor(variant, false);
    std::string failures;
    bool exact = false;
    for (int attempt = 1; attempt <= kAttempts && !exact; ++attempt) {
      const Outcome r = script(
          ardour + "rm -rf session ardour.wav && timeout 60 ardour7-lua '"
          ORVANE_PLUGIN_TEST_SOURCE "/ardour/make-session.lua' $PWD/session " + uriOf(variant) +
          settings.indexed + " > lua.log 2>&1 || { cat lua.log; exit 1; }; "
          "takes=session/interchange/session/audiofiles; frames=$(soxi -s \"$takes\"/*L.wav) && "
          "sox -n -r 48000 -b 32 -e floating-point -c 2 take.wav synth $((frames - 14400))s "
          "whitenoise vol 0.5 pad 9600s 4800s && "
          "sox take.wav -e floating-point \"$takes\"/*L.wav remix 1 && "
          "sox take.wav -e floating-point \"$takes\"/*R.wav remix 2 && "
          "timeout 30 ardour7-export -b float -o $PWD/ardour.wav $PWD/session orvane "
          "> export.log 2>&1 || { cat export.log; exit 1; }; "
          "\"$FX\" render -q --tail 0 -i take.wav -o fx.wav " + variant.type + settings.renderer);
      const std::string tried = "attempt " + std::to_string(attempt) + ": ";
      if (r.status != 0) {
        failures += tried + "exit " + std::to_string(r.status) + "\n" + r.output + "\n";
        continue;
      }
      const Audio exported = read("ardour.wav"), expected = read("fx.wav");
      ASSERT_NE(expected.samples, read("take.wav").samples) << "the effect changes the take";
      exact = exported.channels == 2 && exported.samples == expected.samples;
      if (!exact) failures += tried + "the export's samples differ from orvane-fx's\n";
    }
    EXPECT_TRUE(exact) << failures;
    if (exact && !failures.empty()) std::cout << label << ", after failed attempts:\n" << failures;
  }
}

// Audacity under a virtual X server, with the bundle and the LADSPA library copied alone into
// an empty home: at its first start it finds both formats' plugins, each under a name of its
// own, valid and enabled (what its effect menu then lists). Its plugin registry is where it
// keeps what it found; the screenshot script in scripts/ shows the menu itself.
TEST_F(PluginHosts, AudacityFindsEveryPluginOfBothFormatsUnderADistinctName) {
  if (script("command -v audacity && command -v xvfb-run").status != 0) {
    GTEST_SKIP() << "Audacity or Xvfb is not installed (apt-get install audacity xvfb xauth)";
  }
  const std::size_t plugins = orvane::plugins::pluginVariants().size();
  const Outcome r = script(
      // Audacity keeps its projects' temporary files under TMPDIR, and is stopped by a kill.
      "export HOME=$PWD/home TMPDIR=$PWD/tmp; unset LV2_PATH LD_LIBRARY_PATH; mkdir -p tmp; "
      "cp_ladspa=\"$LADSPA_PATH\"/orvane-audioeffects.so; unset LADSPA_PATH; "
      "mkdir -p home/.lv2 home/.ladspa && cp -r \"$BUNDLE\" home/.lv2/ && "
      "cp \"$cp_ladspa\" home/.ladspa/ && "
      "registry=home/.config/audacity/pluginregistry.cfg; "
      "setsid timeout 180 xvfb-run -a audacity > audacity.log 2>&1 & pid=$!; "
      "for i in $(seq 240); do "
      "[ \"$(grep -c '^Path=.*orvane' $registry 2>/dev/null)\" -ge " +
      std::to_string(2 * plugins) + " ] && break; sleep 0.5; done; sleep 1; "
      "kill -- -$pid 2>/dev/null; wait $pid; "
      "grep -A8 '^Path=.*orvane' $registry");
  std::vector<std::string> names;
  std::size_t enabled = 0, valid = 0;
  for (const std::string& line : lines(r.output)) {
    if (line.rfind("Name=", 0) == 0) names.push_back(line.substr(5));
    if (line == "Enabled=1") ++enabled;
    if (line == "Valid=1") ++valid;
  }
  ASSERT_EQ(names.size(), 2 * plugins) << r.output << readText("audacity.log");
  EXPECT_EQ(enabled, names.size());
  EXPECT_EQ(valid, names.size());
  for (const PluginVariant& variant : orvane::plugins::pluginVariants()) {
    for (const std::string& format : {std::string(), std::string("LADSPA")}) {
      const std::string name = orvane::plugins::pluginName(variant, format);
      EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << name;
    }
  }
}

// LADSPA names say the format, and its plugins have no bypass control (hosts bypass by not
// running): the controls are the settings after it, so sox's first number is the dry mix.
TEST_F(PluginHosts, LadspaPluginsNameTheirFormatAndStartWithTheirFirstRealSetting) {
  for (const PluginVariant& variant : orvane::plugins::pluginVariants()) {
    SCOPED_TRACE(variant.label);
    const Outcome r = script("analyseplugin \"$LADSPA_PATH\"/orvane-audioeffects.so " +
                             variant.label);
    ASSERT_EQ(r.status, 0) << r.output;
    const auto has = [&](const std::string& text) {
      return r.output.find(text) != std::string::npos;
    };
    EXPECT_TRUE(has("\"" + orvane::plugins::pluginName(variant, "LADSPA") + "\"")) << r.output;
    EXPECT_FALSE(has("Enabled")) << r.output;
    EXPECT_TRUE(has("Ports:\t\"" + variant.effect->settings().at(1).name)) << r.output;
  }
}

// sox carries samples between its effects as 32-bit integers, so each sample is rounded to an
// integer and back to float on its way into the plugin and out of it: compare within two float
// steps at full scale (2^-22), not bit for bit.
TEST_F(PluginHosts, SoxRunsTheLadspaPluginsWithinItsResolution) {
  constexpr float kTolerance = 1.0f / (1 << 22);
  for (const PluginVariant& variant : orvane::plugins::pluginVariants()) {
    makeInputs(variant.channels);
    for (const bool atDefaults : {true, false}) {
      const Settings settings = settingsFor(variant, atDefaults);
      SCOPED_TRACE(std::string(variant.label) + settings.renderer);
      const Outcome r = script("\"$FX\" render -q --tail 0 -i noise.wav -o fx.wav " +
                               std::string(variant.type) + settings.renderer +
                               " && sox noise.wav sox.wav ladspa orvane-audioeffects.so " +
                               variant.label + settings.ladspa);
      ASSERT_EQ(r.status, 0) << r.output;
      const Audio expected = read("fx.wav");
      const Audio got = read("sox.wav");
      ASSERT_EQ(got.channels, expected.channels);
      float worst = 0.0f;
      for (unsigned int c = 0; c < got.channels; ++c) {
        ASSERT_EQ(got.samples[c].size(), expected.samples[c].size());
        for (std::size_t f = 0; f < got.samples[c].size(); ++f) {
          worst = std::max(worst, std::abs(got.samples[c][f] - expected.samples[c][f]));
        }
      }
      EXPECT_LE(worst, kTolerance);
      EXPECT_NE(expected.samples, read("noise.wav").samples);
    }
  }
}

// Each stereo plugin live in jalv on a JACK server of the test's own (dummy driver, no sound
// card): a sine from a JACK client goes through it for four seconds while a recorder takes the
// input and the output; a second in, the bypass is switched through jalv's console. Before, the
// effect changes the signal; from the switch on (wherever a loaded machine lets it land), the
// output is the input, sample for sample, up to the end.
// A shell line that runs jalv on `uri` (with `options`), its commands read from the fifo on fd
// 7, fed by jack_simple_client's two outputs, while jack_rec records `ports` for `seconds`;
// `during` runs once the recording has started (in the background) and `jalv` is quit at the
// end. Exits with jack_rec's status.
std::string jalvRecording(const std::string& uri, const std::string& options,
                          const std::string& ports, int seconds, const std::string& during) {
  return "rm -f control rec.wav; mkfifo control; timeout 20 jalv -n fx " + options + uri +
         " < control > jalv.log 2>&1 & jalv=$!; exec 7> control; "
         "for i in $(seq 50); do jack_lsp | grep -q fx:out_r && break; sleep 0.1; done; "
         "jack_connect jack_simple_client:output1 fx:in_l && "
         "jack_connect jack_simple_client:output2 fx:in_r && "
         "{ timeout 20 jack_rec -f rec.wav -b 32 " + ports + " -d " + std::to_string(seconds) +
         " > rec.log 2>&1 & rec=$!; } && " + during + "wait $rec; "
         "status=$?; echo quit >&7; exec 7>&-; wait $jalv; exit $status";
}

TEST_F(PluginHosts, JalvRunsEachStereoPluginLiveAndTakesAControlChange) {
  const JackServer jack(*this);
  ASSERT_TRUE(jack.started()) << readText("jackd.log");
  const std::string& prefix = JackServer::kClientEnvironment;
  for (const PluginVariant& variant : orvane::plugins::pluginVariants()) {
    if (variant.channels != 2) continue;
    SCOPED_TRACE(variant.label);
    const Outcome r = script(
        prefix + jalvRecording(uriOf(variant), "", "jack_simple_client:output1 fx:out_l fx:out_r",
                               4, "sleep 1 && echo 'enabled = 0' >&7 && "));
    EXPECT_EQ(r.status, 0) << r.output << readText("jalv.log") << readText("rec.log");
    const Audio rec = read("rec.wav");
    ASSERT_EQ(rec.channels, 3u) << readText("rec.log");
    const std::size_t frames = rec.samples[0].size();
    ASSERT_GT(frames, 2 * 48000u);
    // JACK's dummy driver without real-time scheduling now and then hands a client one period
    // out of step (seen once in a few runs: PingPongDelay's output was the input of another
    // period for exactly one 256-frame period, 3 s after the bypass). So the last half second
    // must be the input itself but for a few such periods, where an effect still running would
    // change nearly every frame of it.
    constexpr std::size_t kHalfSecond = 24000, kPeriod = 256, kGlitchPeriods = 4;
    std::size_t changedEarly = 0, changedLate = 0, loud = 0;
    for (std::size_t f = 0; f < frames; ++f) {
      ASSERT_TRUE(std::isfinite(rec.samples[1][f]) && std::isfinite(rec.samples[2][f]));
      if (std::abs(rec.samples[1][f]) > 0.01f) ++loud;
      if (rec.samples[1][f] != rec.samples[0][f]) {
        if (f < kHalfSecond) ++changedEarly;  // well before the switch
        if (f >= frames - kHalfSecond) ++changedLate;
      }
    }
    EXPECT_GT(loud, frames / 2) << "not silent";
    EXPECT_GT(changedEarly, kHalfSecond / 2) << "the effect changes the signal";
    EXPECT_LE(changedLate, kGlitchPeriods * kPeriod)
        << "bypassed through jalv's console: the last half second is the input itself";
  }
}

// Presets as jalv restores them, from a bundle copied alone into an empty ~/.lv2: each
// plugin's presets listed and loaded one after another through its console, each giving every control the preset's value in the port's unit (a
// preset sets every control, so it also undoes what the one before changed), from the
// defaults it starts with.
// JACK transport with a timebase master at 130 BPM, rolling: jalv tells the plugin, whose
// synced delay becomes an eighth at that tempo (230.77 ms, so 231). Once the delay lines hold
// the same past in both (the input is a steady sine), the recording is orvane-fx's render of
// the recorded input with delay=231, but for the odd period the dummy driver hands out of step
// and its echoes; at the unsynced 200 ms nearly every frame would differ.
TEST_F(PluginHosts, JalvSyncsTheDelaysToTheTempoOfJackTransport) {
  const JackServer jack(*this);
  ASSERT_TRUE(jack.started()) << readText("jackd.log");
  const std::string& prefix = JackServer::kClientEnvironment;
  const Outcome transport = script(
      prefix + "{ { printf 'master\\ntempo 130\\nplay\\n'; exec sleep 30; } 2> /dev/null | "
      "jack_transport > transport.log 2>&1 & echo $! > transport.pid; } && "
      // Rolling with a tempo before any plugin starts: a fixed half second was not always
      // enough, and a plugin that never saw the tempo ran unsynced through its recording.
      "for i in $(seq 100); do timeout -s KILL 1 jack_showtime 2> /dev/null | head -n 1 | "
      "grep -q 'Rolling.*BBT' && exit 0; sleep 0.1; done; exit 1");
  ASSERT_EQ(transport.status, 0) << "the transport does not roll: " << transport.output
                                 << readText("transport.log");
  const auto& notes = orvane::plugins::kNoteValues;
  const auto eighth = std::find(notes.begin(), notes.end(), std::string("1/8")) - notes.begin();
  for (const char* label : {"delay_stereo", "pingpong_stereo"}) {
    SCOPED_TRACE(label);
    const PluginVariant& variant = *orvane::plugins::findVariant(label);
    const Outcome r = script(
        prefix + jalvRecording(uriOf(variant), "-c sync=1 -c note=" + std::to_string(eighth) + " ",
                               "jack_simple_client:output1 jack_simple_client:output2 fx:out_l "
                               "fx:out_r", 5, ""));
    ASSERT_EQ(r.status, 0) << r.output << readText("jalv.log") << readText("rec.log");
    const Audio rec = read("rec.wav");
    ASSERT_EQ(rec.channels, 4u);
    // The library's node on the recorded input (sox would round it through its 32-bit
    // integers), as orvane-fx runs it.
    const EffectSettings& effect = *EffectSettings::forType(variant.type);
    const std::unique_ptr<orvane::Node> node = effect.createNode();
    effect.set(*node, *effect.indexOf("delay"), 231.0);
    Audio expected;
    expected.samples = orvane::testing::render(
        dynamic_cast<orvane::SingleBusAudioProcessorNode&>(*node),
        {rec.samples[0], rec.samples[1]}, 48000, 256);
    // A period out of step (in the source as well: its sine has been seen to jump) leaves
    // its difference in the delay lines, echoed for a second or more. So the frames are
    // compared to within 1e-3, under which a difference's echoes fall after a few repeats,
    // and over the best second after the first (windows a quarter second apart) rather than
    // the last one. At 200 ms, nearly every frame of the steady sine lies farther off.
    constexpr std::size_t kSecond = 48000, kQuarter = kSecond / 4, kPeriod = 256,
                          kGlitchPeriods = 4;
    constexpr float kEchoOfAGlitch = 1e-3f;
    const std::size_t frames = rec.samples[0].size();
    ASSERT_GT(frames, 3 * kSecond);
    for (unsigned int c = 0; c < 2; ++c) {
      std::size_t fewest = kSecond;
      for (std::size_t start = kSecond; start + kSecond <= frames; start += kQuarter) {
        std::size_t differ = 0;
        for (std::size_t f = start; f < start + kSecond; ++f) {
          differ += !(std::abs(rec.samples[2 + c][f] - expected.samples[c][f]) <= kEchoOfAGlitch);
        }
        fewest = std::min(fewest, differ);
      }
      EXPECT_LE(fewest, kGlitchPeriods * kPeriod) << "channel " << c;
    }
  }
  script("kill $(cat transport.pid) 2> /dev/null; true");
}

TEST_F(PluginHosts, JalvLoadsEachPresetIntoEveryControl) {
  const JackServer jack(*this);
  ASSERT_TRUE(jack.started()) << readText("jackd.log");
  for (const PluginVariant& variant : orvane::plugins::pluginVariants()) {
    SCOPED_TRACE(variant.label);
    std::vector<std::vector<double>> expected{{}};
    for (const PluginControl& c : variant.controls) expected[0].push_back(c.defaultValue);
    for (const auto& [symbol, value] : lv2OnlyControls(variant)) expected[0].push_back(value);
    // "presets" first, as a host's preset menu does: it has lilv load the presets' file.
    std::string commands = "presets\\n";
    for (const auto& preset : variant.effect->presets()) {
      commands += "preset " + uriOf(variant) + ":preset:" + preset.slug + "\\ncontrols\\n";
      std::vector<double> values = expected[0];
      for (const auto& [id, value] : preset.values) {
        for (const PluginControl& c : variant.controls) {
          if (c.info->id == id) values[c.setting] = c.portValue(value);
        }
      }
      expected.push_back(values);  // printed on loading
      expected.push_back(values);  // and by "controls"
    }
    const Outcome r = script(JackServer::kClientEnvironment +
                             "mkdir -p home/.lv2 && cp -r \"$BUNDLE\" home/.lv2/ && "
                             "{ printf '" + commands + "quit\\n'; } | env -u LV2_PATH "
                             "-u LD_LIBRARY_PATH HOME=$PWD/home timeout 20 jalv -n fx " +
                             uriOf(variant));
    EXPECT_EQ(r.status, 0) << r.output;
    // Every "symbol = value" line, in order: the defaults at the start, then each preset's.
    const std::regex control(R"((\w+) = (-?[0-9.]+))");
    std::vector<double> printed;
    for (std::sregex_iterator it(r.output.begin(), r.output.end(), control), end; it != end;
         ++it) {
      printed.push_back(std::stod((*it)[2]));
    }
    const std::size_t n = expected[0].size();
    ASSERT_EQ(printed.size(), expected.size() * n) << r.output;
    for (std::size_t block = 0; block < expected.size(); ++block) {
      for (std::size_t i = 0; i < n; ++i) {
        EXPECT_NEAR(printed[block * n + i], expected[block][i], 1e-6)
            << "block " << block << ", control " << i;
      }
    }
  }
}

}  // namespace
