// orvane-fx as a new user meets it: pipes, units, forgiving names, honest levels, formats that
// follow the input, progress on a terminal, help with examples.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <orvane/audioeffects/AudioEffects.hpp>
#include <string>
#include <vector>

#include "RendererFixture.hpp"

namespace {

using orvane::testing::Audio;
using orvane::testing::Outcome;

class Usability : public orvane::testing::RendererFixture {};

TEST_F(Usability, PipesCarryAnyTypeInAndOutAndOnlyAudioGoesToStandardOutput) {
  ASSERT_EQ(run("render -q -s noise --seconds 1 -o in.flac Delay enabled=false").status, 0);
  ASSERT_EQ(run("render -q -i in.flac -o files.flac Chorus sweep-width=3ms").status, 0);
  const Outcome flac = script("\"$FX\" render -i - -o - -t flac Chorus sweep-width=3ms "
                              "< in.flac > piped.flac 2> log.txt");
  ASSERT_EQ(flac.status, 0) << readText("log.txt");
  EXPECT_EQ(read("piped.flac").samples, read("files.flac").samples);
  EXPECT_TRUE(readText("log.txt").find("standard output") != std::string::npos)
      << "the summary goes to standard error";
  // WAV is the default type of a pipe; raw is 32-bit float with the rate and channels given.
  ASSERT_EQ(script("\"$FX\" render -q -i in.flac -o - Delay > piped.wav").status, 0);
  EXPECT_EQ(read("piped.wav").channels, 2u);
  const Outcome raw = script("\"$FX\" render -q -i in.flac -o - -t raw Delay enabled=false | "
                             "\"$FX\" render -q -i - -t raw --rate 48000 --channels 2 -o back.wav");
  ASSERT_EQ(raw.status, 0) << raw.output;
  const Audio back = read("back.wav");
  const Audio original = read("in.flac");
  EXPECT_EQ(back.samples, original.samples) << "raw floats round-trip exactly";
  EXPECT_EQ(run("render -i - -t mp3 -o x.wav Delay < in.flac").status, 2);
}

TEST_F(Usability, ValuesMayCarryUnitsAndNamesAnyCase) {
  // The same settings written four ways give the same samples.
  ASSERT_EQ(run("render -q -s impulse -o a.wav Delay delay=350 dry-mix=0.5 feedback=0.25").status, 0);
  ASSERT_EQ(run("render -q -s impulse -o b.wav delay DELAY=0.35s Dry-Mix=-6.0206dB "
                "feedback=-12.0412dB")
                .status,
            0);
  const Audio a = read("a.wav");
  const Audio b = read("b.wav");
  ASSERT_EQ(a.samples.size(), 2u);
  for (std::size_t f = 0; f < a.samples[0].size(); ++f) {
    ASSERT_NEAR(a.samples[0][f], b.samples[0][f], 1e-5f) << f;
  }
  EXPECT_EQ(a.samples[0][16800], 0.3f) << "an echo at 350 ms both ways";
  ASSERT_EQ(run("render -q -s impulse -o c.wav Chorus sweep-width=2ms frequency=500mHz").status, 0);
  ASSERT_EQ(run("render -q -s impulse -o d.wav Chorus sweep-width=0.002 frequency=0.5").status, 0);
  EXPECT_EQ(read("c.wav").samples, read("d.wav").samples);
  const Outcome wrong = run("render -s impulse -o e.wav Delay delay=3Hz");
  EXPECT_EQ(wrong.status, 2);
  EXPECT_TRUE(contains(wrong, "give milliseconds (350 or 350ms), or seconds (0.35s)")) << wrong.output;
}

TEST_F(Usability, TyposGetTheClosestNameAndNoEffectMeansACopy) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"render -i in.wav -o out.wav dealy", "did you mean 'Delay'?"},
      {"render -s impulse -o out.wav Delay feedbak=0.3", "did you mean 'feedback'?"},
      {"rnder -s impulse Delay", "did you mean 'render'?"},
      {"list Chrous", "did you mean 'Chorus'?"},
      {"render -s impulse --tial 2 Delay", "--tial; did you mean '--tail'?"},
      // Files left where the effects go.
      {"render in.wav out.wav more.wav Delay",
       "'more.wav' looks like a file, not an effect; the input and the output go before the "
       "effects"},
  };
  ASSERT_EQ(run("render -q -s noise --seconds 0.1 -o in.wav Delay enabled=false").status, 0);
  for (const auto& [arguments, hint] : cases) {
    const Outcome r = run(arguments);
    EXPECT_EQ(r.status, 2) << arguments;
    EXPECT_TRUE(contains(r, hint)) << arguments << "\n" << r.output;
  }
  // sox's order: the input and the output before the effects. A word that names an effect is
  // the effect, even where a file has its name.
  ASSERT_EQ(run("render -q in.wav sox.wav Delay delay=20ms").status, 0);
  ASSERT_EQ(run("render -q -i in.wav -o flags.wav Delay delay=20ms").status, 0);
  EXPECT_EQ(read("sox.wav").samples, read("flags.wav").samples);
  writeText("delay", "a file named like an effect");
  ASSERT_EQ(run("render -q in.wav named.wav delay").status, 0);
  ASSERT_EQ(run("render -q -i in.wav -o default.wav Delay").status, 0);
  EXPECT_EQ(read("named.wav").samples, read("default.wav").samples);
  const Outcome copy = run("render -i in.wav -o copy.flac");
  EXPECT_EQ(copy.status, 0) << copy.output;
  EXPECT_TRUE(contains(copy, "no effect given: the input is copied through")) << copy.output;
  EXPECT_EQ(read("copy.flac").samples.size(), 2u);
}

TEST_F(Usability, NothingIsGuessedButMonoBecomesStereoWhereAStereoEffectNeedsIt) {
  ASSERT_EQ(run("render -q -s noise --channels 1 --seconds 0.2 -o mono.wav Delay enabled=false")
                .status, 0);
  // Raw audio says neither its rate nor its channels: both must be given, from a pipe or a file.
  ASSERT_EQ(run("render -q -i mono.wav -o mono.raw Delay enabled=false").status, 0);
  for (const char* command : {"render -i mono.raw -o r.wav Delay",
                              "render -i mono.raw --rate 48000 -o r.wav Delay",
                              "render -i - -t raw --channels 1 -o r.wav Delay < mono.raw"}) {
    const Outcome r = script(std::string("\"$FX\" ") + command);
    EXPECT_EQ(r.status, 2) << command;
    EXPECT_TRUE(contains(r, "give --rate and --channels")) << command << "\n" << r.output;
  }
  ASSERT_EQ(run("render -q -i mono.raw --rate 48000 --channels 1 -o back.wav Delay "
                "enabled=false").status, 0);
  EXPECT_EQ(read("back.wav").samples, read("mono.wav").samples);
  // PingPongDelay makes a mono input stereo, as --channels 2 would, and says so.
  const Outcome made = run("render -i mono.wav -o made.wav PingPongDelay");
  EXPECT_EQ(made.status, 0) << made.output;
  EXPECT_TRUE(contains(made, "the input is mono and the chain needs 2 channels")) << made.output;
  ASSERT_EQ(run("render -q -i mono.wav --channels 2 -o asked.wav PingPongDelay").status, 0);
  EXPECT_FALSE(contains(run("render -i mono.wav --channels 2 -o asked.wav PingPongDelay"),
                        "the input is mono"));
  EXPECT_EQ(read("made.wav").samples, read("asked.wav").samples);
  EXPECT_EQ(read("made.wav").channels, 2u);
}

TEST_F(Usability, EchoesRingOutUntilTheyFallBelowMinus90dBFS) {
  // 350 ms echoes, each 6 dB down from 0.3: the last above -90 dBFS (3.16e-5) is the
  // fourteenth, 4.9 s in; the render ends right after it, and the plot spans it all.
  const Outcome r = run("render -s impulse -o ir.wav --plot ir.svg Delay delay=350ms feedback=0.5");
  ASSERT_EQ(r.status, 0) << r.output;
  const Audio ir = read("ir.wav");
  ASSERT_EQ(ir.samples[0].size(), 14u * 16800u + 1u);
  EXPECT_FLOAT_EQ(ir.samples[0].back(), 0.3f * std::pow(0.5f, 13.0f));
  EXPECT_TRUE(readText("ir.svg").find(">4 s</text>") != std::string::npos);
  // Echoes that never decay stop at the most, with a note saying so.
  const Outcome runaway = run("render -s impulse -o long.wav Delay feedback=1");
  EXPECT_TRUE(contains(runaway, "the tail stops at its most, 60 s")) << runaway.output;
  const std::size_t length = read("long.wav").samples[0].size();
  EXPECT_GT(length, 60u * 48000u);
  EXPECT_LE(length, 61u * 48000u);
  // An input that ends in silence, or a chain that adds nothing, keeps its length.
  ASSERT_EQ(run("render -q -s noise --seconds 0.2 -o noise.wav Delay enabled=false").status, 0);
  ASSERT_EQ(run("render -q -i noise.wav -o same.wav Chorus enabled=false").status, 0);
  EXPECT_EQ(read("same.wav").samples, read("noise.wav").samples);
  EXPECT_EQ(run("render -s impulse --tail soon -o x.wav Delay").status, 2);
}

TEST_F(Usability, EveryEffectHasAMixAndAnOutputLevel) {
  ASSERT_EQ(run("render -q -s noise --seconds 0.5 --tail 0 -o loud.wav Delay dry-mix=2 "
                "wet-mix=0").status, 0);  // noise peaking near full scale
  ASSERT_EQ(run("render -q -i loud.wav --tail 0 -o plain.wav Flanger").status, 0);
  ASSERT_EQ(run("render -q -i loud.wav --tail 0 -o same.wav Flanger mix=1 level=0dB").status, 0);
  EXPECT_EQ(read("same.wav").samples, read("plain.wav").samples) << "the defaults touch nothing";
  // dry + mix × (wet − dry), in float, then the level's gain.
  ASSERT_EQ(run("render -q -i loud.wav --tail 0 -o half.wav Flanger mix=0.5 level=-6dB").status, 0);
  const Audio dry = read("loud.wav"), wet = read("plain.wav"), half = read("half.wav");
  const float gain = static_cast<float>(std::pow(10.0, -6.0 / 20.0));
  for (std::size_t f = 0; f < dry.samples[0].size(); f += 97) {
    const float d = dry.samples[0][f];
    ASSERT_EQ(half.samples[0][f], (d + 0.5f * (wet.samples[0][f] - d)) * gain) << f;
  }
  // A flanger that clips real material can be turned down.
  EXPECT_TRUE(contains(run("render -i loud.wav --format pcm16 -o c.wav Flanger"), "past full scale"));
  EXPECT_FALSE(contains(run("render -i loud.wav --format pcm16 -o c.wav Flanger level=-9dB"),
                        "past full scale"));
  // --gain after the chain; --normalize, as sox's gain -n, to 0 dBFS or the level given.
  ASSERT_EQ(run("render -q -i loud.wav --tail 0 --gain -6 -o gain.wav Flanger").status, 0);
  ASSERT_EQ(run("render -q -i loud.wav --tail 0 -o level.wav Flanger level=-6dB").status, 0);
  EXPECT_EQ(read("gain.wav").samples, read("level.wav").samples);
  for (const auto& [arguments, peak] : std::vector<std::pair<std::string, float>>{
           {"--normalize Flanger", 1.0f}, {"--normalize -3 Flanger", 0.70794576f},
           {"--normalize=-6dB Flanger mix=0.5", 0.50118721f}}) {
    const Outcome r = run("render -i loud.wav -o norm.wav " + arguments);
    ASSERT_EQ(r.status, 0) << arguments << "\n" << r.output;
    float largest = 0.0f;
    for (const auto& channel : read("norm.wav").samples) {
      for (float v : channel) largest = std::max(largest, std::fabs(v));
    }
    EXPECT_NEAR(largest, peak, 1e-6f) << arguments;
  }
  EXPECT_EQ(run("render -i loud.wav -o n.wav --normalize 2 Flanger").status, 2);
  EXPECT_EQ(run("render -i loud.wav -o n.wav --normalize --gain 1 Flanger").status, 2);
  for (const char* bad : {"Chorus mix=1.5", "Chorus mix=half", "Chorus level=+30dB",
                          "Chorus level=3Hz"}) {
    const Outcome r = run(std::string("render -s impulse -o x.wav ") + bad);
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_TRUE(contains(r, "the mix is from 0") || contains(r, "the level is in dB")) << r.output;
  }
}

TEST_F(Usability, LevelsAreReportedHonestlyAndFormatsFollowTheInput) {
  ASSERT_EQ(run("render -q -s demo --format pcm16 -o in16.wav Delay enabled=false").status, 0);
  // A loud flanger on 16-bit input: 16-bit output, clipping counted.
  const Outcome loud = run("render -i in16.wav -o out16.wav Flanger Delay dry-mix=1.8 wet-mix=0.9");
  EXPECT_EQ(loud.status, 0) << loud.output;
  EXPECT_TRUE(contains(loud, "peak ")) << loud.output;
  EXPECT_TRUE(contains(loud, "went past full scale and were clipped")) << loud.output;
  EXPECT_TRUE(contains(loud, "--normalize brings the peak to 0 dBFS, or --gain -")) << loud.output;
  EXPECT_EQ(read("out16.wav").format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  // Float output keeps the samples but still warns.
  const Outcome kept = run("render -i in16.wav --format float -o float.wav Delay dry-mix=4");
  EXPECT_TRUE(contains(kept, "kept, as the output holds floats")) << kept.output;
  EXPECT_EQ(read("float.wav").format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  ASSERT_EQ(run("render -q -i in16.wav --format pcm32 -o out32.wav Delay").status, 0);
  EXPECT_EQ(read("out32.wav").format, SF_FORMAT_WAV | SF_FORMAT_PCM_32);
  // Runaway feedback is warned of before the render.
  EXPECT_TRUE(contains(run("render -s impulse -o r.wav Delay feedback=1"), "never decay"));
  // The demo signal stays below full scale through every effect at its defaults.
  for (const char* effect : {"Delay", "PingPongDelay", "Chorus", "Flanger", "Vibrato"}) {
    const Outcome r = run(std::string("render -s demo -o d.wav ") + effect);
    EXPECT_FALSE(contains(r, "past full scale")) << effect << ": " << r.output;
  }
}

TEST_F(Usability, ProgressShowsOnATerminalAndHelpHasExamples) {
  // script(1) gives the render a terminal; the render is slowed by one-frame blocks.
  const Outcome tty = script("script -qec \"'$FX' render -s noise --seconds 1200 -b 1 -o p.wav "
                             "Chorus\" /dev/null");
  EXPECT_EQ(tty.status, 0) << tty.output;
  EXPECT_TRUE(contains(tty, "real time")) << tty.output;
  EXPECT_TRUE(contains(tty, " left")) << tty.output;
  EXPECT_TRUE(contains(tty, "/ 20:00")) << tty.output;
  const Outcome quiet = run("render -s noise --seconds 60 -b 1 -o p.wav Chorus");
  EXPECT_FALSE(contains(quiet, " left")) << "no progress when standard error is not a terminal";
  for (const char* command : {"render --help", "list --help", "demo --help", "--help"}) {
    const Outcome help = run(command);
    EXPECT_EQ(help.status, 0) << command;
    EXPECT_TRUE(contains(help, "Examples:")) << command;
  }
  EXPECT_TRUE(contains(run("--version"), ORVANE_VERSION));
}

}  // namespace

namespace {

// Settings that move: an envelope on the command line gives the samples of the library's own
// automation runner with those breakpoints (whose equality with a render by hand in pieces
// the library's tests prove), a flat envelope the plain setting's, and a note value at a tempo
// the time it names.
TEST_F(Usability, EnvelopesAndNoteValuesMoveAndTimeSettings) {
  using orvane::extensions::audioeffects::AudioEffectsNodeFactory;
  using orvane::extensions::audioeffects::AutomationRunner;
  using orvane::extensions::audioeffects::AutomationSchedule;
  using orvane::extensions::audioeffects::EffectSettings;
  using orvane::extensions::audioeffects::Envelope;
  ASSERT_EQ(run("render -q -s noise --seconds 3 --channels 1 -o in.wav Delay enabled=false").status, 0);
  ASSERT_EQ(run("render -q --tail 0 -i in.wav -o moved.wav Delay feedback=0.2@0,0.8@2s "
                "delay=200ms@0,400ms@1.5s,150@1500ms")
                .status,
            0);
  const Audio input = read("in.wav");
  std::vector<float> expected = input.samples[0];
  AudioEffectsNodeFactory factory;
  const EffectSettings& delay = *EffectSettings::forType("Delay");
  auto node = factory.createNode("Delay");
  auto& processor = dynamic_cast<orvane::SingleBusAudioProcessorNode&>(*node);
  orvane::AudioBusFormat in(1), out(1);
  ASSERT_TRUE(processor.setBusFormat(in, out));
  AutomationSchedule schedule;
  schedule.envelopes.emplace_back(*delay.indexOf("feedback"), Envelope({{0, 0.2}, {96000, 0.8}}));
  schedule.envelopes.emplace_back(*delay.indexOf("delay"),
                                  Envelope({{0, 200}, {72000, 400}, {72000, 150}}));
  AutomationRunner runner(delay, *node, processor);
  runner.setSchedule(&schedule);
  float* samples = expected.data();
  orvane::AudioBuffer<float> whole(&samples, 1, expected.size(), 48000);
  runner.process(whole, 0);
  EXPECT_EQ(read("moved.wav").samples[0], expected);

  ASSERT_EQ(run("render -q --tail 0 -i in.wav -o flat.wav Delay feedback=0.4@0,0.4@1s").status, 0);
  ASSERT_EQ(run("render -q --tail 0 -i in.wav -o plain.wav Delay feedback=0.4").status, 0);
  EXPECT_EQ(read("flat.wav").samples, read("plain.wav").samples);

  // 1/8. at 120 BPM is 375 ms; 1/8t is 166.67 ms, which the delay's whole milliseconds make 167.
  for (const auto& [note, milliseconds] : {std::pair{"1/8.", "375"}, std::pair{"1/8t", "167"}}) {
    ASSERT_EQ(run(std::string("render -q --tail 0 -i in.wav -o note.wav --bpm 120 Delay delay=") +
                  note).status, 0);
    ASSERT_EQ(run(std::string("render -q --tail 0 -i in.wav -o ms.wav Delay delay=") +
                  milliseconds).status, 0);
    EXPECT_EQ(read("note.wav").samples, read("ms.wav").samples) << note;
  }
  // The batch command takes the tempo too.
  ASSERT_EQ(script("mkdir -p in && cp in.wav in/a.wav && \"$FX\" batch -q -i in -o out --tail 0 "
                   "--bpm 120 Delay delay=1/8. && \"$FX\" render -q --tail 0 -i in.wav -o ms.wav "
                   "Delay delay=375").status, 0);
  EXPECT_EQ(read("out/a.wav").samples, read("ms.wav").samples);

  // Refused before anything is written, each saying what to give.
  for (const auto& [arguments, says] : std::vector<std::pair<std::string, std::string>>{
           {"Delay delay=1/8.", "a note value needs a tempo; give --bpm N"},
           {"--bpm 120 Delay delay=1/7", "not a note value; give 1/4, 1/8"},
           {"Delay feedback=0.2@1s,0.5@0.5s", "the times go backwards"},
           {"Delay feedback=0.2@", "is not VALUE@TIME"},
           {"Delay feedback=0.2@soon", "is not a time"},
           {"Delay delay=200@0,250.5@1s", "not a whole number"},
           {"Chorus mix=0.2@0,1@1s", "mix and level take one value"},
           {"Chorus enabled=true@0,false@1s", "a switch takes one value"},
       }) {
    const Outcome r = run("render -i in.wav -o refused.wav " + arguments);
    EXPECT_EQ(r.status, 2) << arguments << ": " << r.output;
    EXPECT_TRUE(contains(r, says)) << arguments << ": " << r.output;
    EXPECT_FALSE(std::filesystem::exists(path("refused.wav"))) << arguments;
  }
}

}  // namespace
