// End-to-end tests of the orvane-fx binary: renders checked against the effects' closed forms,
// chains, bad input, and block-size invariance.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "RendererFixture.hpp"

namespace {

namespace fs = std::filesystem;
using orvane::testing::Audio;
using orvane::testing::Outcome;

class Renderer : public orvane::testing::RendererFixture {
 protected:
  // Every frame of `channel` except those listed is 0; the listed ones hold the given values.
  static void expectOnly(const Audio& audio, unsigned int channel,
                         const std::vector<std::pair<unsigned int, float>>& expected) {
    std::vector<std::pair<unsigned int, float>> found;
    for (unsigned int f = 0; f < audio.samples[channel].size(); ++f) {
      if (audio.samples[channel][f] != 0.0f) found.emplace_back(f, audio.samples[channel][f]);
    }
    EXPECT_EQ(found, expected) << "channel " << channel;
  }
};

// A float WAV header (and `frames` frames of silence) that says whatever it is told to.
std::string wavHeader(std::uint16_t channels, std::uint32_t rate, std::uint32_t frames) {
  std::string bytes;
  auto u32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
  };
  auto u16 = [&](std::uint16_t v) {
    bytes.push_back(static_cast<char>(v & 0xff));
    bytes.push_back(static_cast<char>(v >> 8));
  };
  const std::uint32_t dataBytes = frames * channels * 4u;
  bytes += "RIFF";
  u32(36 + dataBytes);
  bytes += "WAVEfmt ";
  u32(16);
  u16(3);  // IEEE float
  u16(channels);
  u32(rate);
  u32(rate * channels * 4u);
  u16(static_cast<std::uint16_t>(channels * 4u));
  u16(32);
  bytes += "data";
  u32(dataBytes);
  bytes.append(dataBytes, '\0');
  return bytes;
}

// The delay's echoes of a unit impulse: dry × 1, then wet × feedback^k every `period` frames.
std::vector<std::pair<unsigned int, float>> echoes(float dry, float wet, float feedback,
                                                   unsigned int period, unsigned int frames) {
  std::vector<std::pair<unsigned int, float>> out{{0, dry}};
  float delayed = 1.0f;
  for (unsigned int at = period; at < frames; at += period) {
    out.emplace_back(at, 0.0f * dry + delayed * wet);
    delayed = 0.0f + feedback * delayed;
  }
  return out;
}

// --- impulse responses ---------------------------------------------------------------------

TEST_F(Renderer, DelayImpulseResponseIsTheEchoSeries) {
  // The tail rings out by default: it ends with the last echo above -90 dBFS, the sixth
  // (0.3 x 0.2^5 at 57600; the seventh would be 1.9e-5).
  const Outcome r = run("render -s impulse -o ir.wav Delay");
  ASSERT_EQ(r.status, 0) << r.output;
  const Audio audio = read("ir.wav");
  ASSERT_EQ(audio.channels, 2u);
  EXPECT_EQ(audio.rate, 48000u);
  EXPECT_EQ(audio.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  ASSERT_EQ(audio.samples[0].size(), 57601u);
  expectOnly(audio, 0, echoes(0.7f, 0.3f, 0.2f, 9600, 57601));
  ASSERT_EQ(run("render -q -s impulse --tail 0 -o cut.wav Delay").status, 0);
  ASSERT_EQ(read("cut.wav").samples[0].size(), 48000u) << "--tail 0 keeps the input's length";
  expectOnly(read("cut.wav"), 0, echoes(0.7f, 0.3f, 0.2f, 9600, 48000));
  expectOnly(audio, 1, {});
  EXPECT_FLOAT_EQ(audio.samples[0][19200], 0.06f);
  EXPECT_FLOAT_EQ(audio.samples[0][28800], 0.012f);
}

TEST_F(Renderer, PingPongDelayImpulseBouncesBetweenTheSides) {
  ASSERT_EQ(run("render -q -s impulse -o ir.wav PingPongDelay").status, 0);
  const Audio audio = read("ir.wav");
  ASSERT_EQ(audio.channels, 2u);
  EXPECT_FLOAT_EQ(audio.samples[0][0], 0.7f);
  EXPECT_FLOAT_EQ(audio.samples[0][9600], 0.3f);
  EXPECT_FLOAT_EQ(audio.samples[0][19200], 0.012f);
  EXPECT_FLOAT_EQ(audio.samples[1][9600], 0.06f);
  EXPECT_FLOAT_EQ(audio.samples[1][19200], 0.0024f);
  EXPECT_EQ(audio.samples[1][0], 0.0f);
}

TEST_F(Renderer, ModulatedDelaysAtZeroSweepGiveTheirFixedDelays) {
  ASSERT_EQ(run("render -q -s impulse -o c.wav Chorus sweep-width=0").status, 0);
  expectOnly(read("c.wav"), 0, {{0, 1.0f}, {1002, 0.8f}});
  ASSERT_EQ(run("render -q -s impulse -o v.wav Vibrato sweep-width=0").status, 0);
  expectOnly(read("v.wav"), 0, {{1, 1.0f}});
  ASSERT_EQ(run("render -q -s impulse --seconds 0.0002 --tail 0 -o f.wav Flanger sweep-width=0")
                .status, 0);
  const Audio flanger = read("f.wav");
  ASSERT_EQ(flanger.samples[0].size(), 10u);
  std::vector<std::pair<unsigned int, float>> expected{{0, 1.0f}};
  float ring = 1.0f;
  for (unsigned int n = 2; n < 10; n += 2) {
    expected.emplace_back(n, 0.0f + 0.8f * ring);
    ring = 0.0f + 0.6f * ring;
  }
  expectOnly(flanger, 0, expected);
}

TEST_F(Renderer, ChainsRunEachEffectOnTheOneBefore) {
  const Outcome r =
      run("render -s impulse --channels 1 -o chain.wav Delay delay=100 feedback=0 "
          "Chorus sweep-width=0 enabled=true");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Delay -> Chorus"), std::string::npos) << r.output;
  // Delay: 0.7 at 0 and 0.3 at 4800; Chorus adds 0.8 of that 1002 frames later.
  expectOnly(read("chain.wav"), 0,
             {{0, 0.7f}, {1002, 0.8f * 0.7f}, {4800, 0.3f}, {5802, 0.8f * 0.3f}});
}

TEST_F(Renderer, TailLengthensTheOutputAndSettingsApplyBeforeTheFirstBlock) {
  ASSERT_EQ(run("render -q -s impulse --seconds 0.5 --tail 0.5 --rate 1000 -o t.wav Delay "
                "delay=300 wet-mix=1 dry-mix=0 feedback=0.5")
                .status,
            0);
  const Audio audio = read("t.wav");
  ASSERT_EQ(audio.samples[0].size(), 1000u);
  expectOnly(audio, 0, {{300, 1.0f}, {600, 0.5f}, {900, 0.25f}});
}

// An automatic tail ends at the output's last audible frame (above -90 dBFS), never before the
// input's end, wherever the input's own silence falls among the reader's chunks: an impulse
// followed by seconds of silence, through echoes that halve every 300 ms until the fifteenth
// (0.5^14) is the last above the threshold.
TEST_F(Renderer, AnAutomaticTailEndsAtTheLastAudibleFrameAfterTheInput) {
  constexpr unsigned int kEchoFrames = 14400;  // 300 ms at 48 kHz
  constexpr unsigned int kLastEcho = 15;
  for (const char* seconds : {"3", "1", "6"}) {
    ASSERT_EQ(run(std::string("render -q -s impulse --seconds ") + seconds +
                  " --tail auto -o t.wav Delay delay=300 wet-mix=1 dry-mix=0 feedback=0.5")
                  .status,
              0);
    const Audio audio = read("t.wav");
    const auto input = static_cast<std::size_t>(std::stod(seconds) * 48000);
    EXPECT_EQ(audio.samples[0].size(), std::max<std::size_t>(input, kLastEcho * kEchoFrames + 1))
        << seconds << " s of input";
    EXPECT_EQ(audio.samples[0][kLastEcho * kEchoFrames], std::ldexp(1.0f, -14)) << seconds;
  }
}

// --- files in and out ----------------------------------------------------------------------

TEST_F(Renderer, FloatWavThroughADisabledNodeComesOutBitForBit) {
  ASSERT_EQ(run("render -q -s noise --seconds 0.3 -o noise.wav Delay enabled=false").status, 0);
  for (const char* effect : {"Delay", "PingPongDelay", "Chorus", "Flanger", "Vibrato"}) {
    const Outcome r =
        run(std::string("render -q -i noise.wav -o copy.wav ") + effect + " enabled=0");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(read("copy.wav").samples, read("noise.wav").samples) << effect;
  }
}

TEST_F(Renderer, ContainerFollowsTheExtensionAndFormatPicksTheSamples) {
  ASSERT_EQ(run("render -q -s sine --seconds 0.1 -o s.flac Delay").status, 0);
  EXPECT_EQ(read("s.flac").format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
  ASSERT_EQ(run("render -q -s sine --seconds 0.1 --format pcm16 -o s.wav Delay").status, 0);
  EXPECT_EQ(read("s.wav").format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  ASSERT_EQ(run("render -q -s sine --seconds 0.1 -o s.aiff Vibrato").status, 0);
  EXPECT_EQ(read("s.aiff").format, SF_FORMAT_AIFF | SF_FORMAT_FLOAT);
}

TEST_F(Renderer, PlotShowsBothWaveformsAndTheEchoes) {
  ASSERT_EQ(run("render -q -s impulse -o ir.wav --plot ir.svg Delay").status, 0);
  const std::string svg = readText("ir.svg");
  EXPECT_EQ(svg.rfind("<svg", 0), 0u);
  EXPECT_NE(svg.find("200 ms, -10.5 dB"), std::string::npos) << "0.3 is -10.46 dB";
  EXPECT_NE(svg.find("400 ms, -24.4 dB"), std::string::npos) << "0.06 is -24.44 dB";
  EXPECT_NE(svg.find("</svg>"), std::string::npos);
}

TEST_F(Renderer, OutputDoesNotDependOnTheBlockSize) {
  for (const char* effect :
       {"Delay delay=7", "PingPongDelay delay=3", "Chorus frequency=3", "Flanger", "Vibrato"}) {
    std::vector<std::vector<std::vector<float>>> outputs;
    for (const char* block : {"1", "37", "4096"}) {
      const Outcome r =
          run(std::string("render -q -s noise --seconds 0.25 -b ") + block + " -o b.wav " + effect);
      ASSERT_EQ(r.status, 0) << r.output;
      outputs.push_back(read("b.wav").samples);
    }
    EXPECT_EQ(outputs[0], outputs[1]) << effect;
    EXPECT_EQ(outputs[0], outputs[2]) << effect;
  }
}

TEST_F(Renderer, ListShowsEveryEffectWithItsSettings) {
  const Outcome r = run("list");
  ASSERT_EQ(r.status, 0);
  for (const char* text : {"Delay", "PingPongDelay", "Vibrato", "Flanger", "Chorus", "feedback",
                           "sweep-width", "frequency (Hz)", "from 0 to 0.99"}) {
    EXPECT_NE(r.output.find(text), std::string::npos) << text;
  }
  const Outcome one = run("list Delay");
  ASSERT_EQ(one.status, 0);
  EXPECT_NE(one.output.find("from 0 to 1000 ms"), std::string::npos) << one.output;
  EXPECT_NE(one.output.find("48000 samples whatever the sample rate"), std::string::npos);
  EXPECT_EQ(one.output.find("Chorus"), std::string::npos) << one.output;
  const Outcome unknown = run("list Reverb");
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.output.find("unknown effect 'Reverb'"), std::string::npos) << unknown.output;
}

// A value the node would clamp is refused; one it stores as it is is taken, with a warning.
TEST_F(Renderer, ValuesOutsideTheRangeAreRefusedOnlyWhereTheNodeWouldClampThem) {
  const Outcome clamped = run("render -s impulse -o w.wav PingPongDelay feedback=1.5");
  EXPECT_EQ(clamped.status, 2);
  EXPECT_NE(clamped.output.find("outside the bounds 0 to 0.99"), std::string::npos)
      << clamped.output;
  const Outcome runaway = run("render -s impulse -o w.wav Delay feedback=1.5");
  EXPECT_EQ(runaway.status, 0) << runaway.output;
  EXPECT_NE(runaway.output.find("never decay"), std::string::npos) << runaway.output;
  const Outcome negative = run("render -s impulse -o w.wav Delay delay=-5");
  EXPECT_EQ(negative.status, 2);
  EXPECT_NE(negative.output.find("0 to 4294967295 ms"), std::string::npos) << negative.output;
}

TEST_F(Renderer, DemoWritesASoundAndAPicturePerEffectAndAPage) {
  const Outcome r = run("demo -o show");
  ASSERT_EQ(r.status, 0) << r.output;
  for (const char* effect : {"Delay", "PingPongDelay", "Vibrato", "Flanger", "Chorus"}) {
    EXPECT_EQ(read(std::string("show/") + effect + ".wav").channels, 2u) << effect;
    EXPECT_TRUE(fs::exists(path(std::string("show/") + effect + ".svg"))) << effect;
    EXPECT_NE(r.output.find(effect), std::string::npos);
  }
  EXPECT_NE(readText("show/index.html").find("<audio controls src=\"Chorus.wav\">"),
            std::string::npos);
}

// --- bad input -----------------------------------------------------------------------------

TEST_F(Renderer, BadInputFailsClearlyAndLeavesFilesAlone) {
  struct Case {
    std::string arguments;
    std::string message;
  };
  const Case cases[] = {
      {"-i missing.wav Delay", "cannot read 'missing.wav'"},
      {"-s impulse Echo", "unknown effect 'Echo'"},
      {"-s impulse Delay loudness=3", "Delay has no setting 'loudness'"},
      {"-s impulse Delay feedback=lots", "feedback=lots: not a number"},
      {"-s impulse Delay feedback=nan", "not a number"},
      {"-s impulse Delay delay=2.5", "delay=2.5: not a whole number"},
      {"-s impulse Delay enabled=maybe", "expected true, false, 1 or 0"},
      {"-s impulse PingPongDelay feedback=1.5", "outside the bounds 0 to 0.99"},
      {"-s impulse --channels 3 PingPongDelay", "PingPongDelay needs exactly 2 channels"},
      {"-s impulse Delay", "render needs an output: -o FILE"},
      {"-o out.wav Delay", "render needs an input: -i FILE"},
      {"-s impulse --channels 3 Chorus", "Chorus needs 1 or 2 channels; the input has 3"},
      {"-s impulse delay=3 Delay", "comes before any effect"},
      {"-s hum Delay", "unknown signal 'hum'"},
      {"-s impulse --tail -1 Delay", "--tail"},
      {"-s impulse --format pcm8 Delay", "--format"},
      {"-s impulse -i x.wav Delay", "not both"},
  };
  writeText("out.wav", "precious");
  for (const Case& c : cases) {
    const Outcome r = run("render " + c.arguments);
    EXPECT_NE(r.status, 0) << c.arguments;
    EXPECT_NE(r.output.find(c.message), std::string::npos) << c.arguments << "\n" << r.output;
    EXPECT_EQ(readText("out.wav"), "precious") << c.arguments;
  }
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_)) ++files;
  EXPECT_EQ(files, 2u) << "only out.wav and the log: no partial files";

  const Outcome unwritable = run("render -s impulse -o no/such/folder/out.wav Delay");
  EXPECT_NE(unwritable.status, 0);
  EXPECT_NE(unwritable.output.find("cannot write 'no/such/folder/out.wav'"), std::string::npos)
      << unwritable.output;
  const Outcome unknownType = run("render -s impulse -o out.xyz Delay");
  EXPECT_NE(unknownType.status, 0);
  EXPECT_NE(unknownType.output.find("cannot tell the file type"), std::string::npos);
}

TEST_F(Renderer, AnInterruptedRenderLeavesNothingBehind) {
  writeText("long.wav", "precious");
  // Long enough to be still running when the signal comes (one-frame blocks are slow).
  const Outcome r = script(
      "env --default-signal \"$FX\" render -q -s noise --seconds 3000 -b 1 -o long.wav Delay & "
      "pid=$!; sleep 0.5; kill -INT $pid; wait $pid");
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.output.find("interrupted"), std::string::npos) << r.output;
  EXPECT_EQ(readText("long.wav"), "precious");
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_)) ++files;
  EXPECT_EQ(files, 2u) << "only long.wav and the log";
}

TEST_F(Renderer, SettingsThatCannotWorkAsAskedGetAWarning) {
  const Outcome r = run("render -s impulse -o w.wav Delay delay=1500");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("warning: Delay: a delay of 1500 ms is 72000 samples"), std::string::npos)
      << r.output;
  EXPECT_NE(r.output.find("every 24000 samples"), std::string::npos) << r.output;
  const Outcome sweep = run("render -s impulse -o w.wav Chorus sweep-width=2");
  EXPECT_NE(sweep.output.find("warning: Chorus: a sweep width of 2 s"), std::string::npos)
      << sweep.output;
}

TEST_F(Renderer, BrokenInputFilesGiveAnErrorOrARenderButNeverACrash) {
  ASSERT_EQ(run("render -q -s noise --seconds 0.2 -o good.wav Delay enabled=false").status, 0);
  const std::string good = readText("good.wav");
  writeText("empty.wav", "");
  writeText("garbage.wav", std::string(5000, '\x7f'));
  writeText("truncated.wav", good.substr(0, good.size() / 2));  // header claims all frames
  writeText("header-only.wav", good.substr(0, 44));
  writeText("no-channels.wav", wavHeader(0, 48000, 10));
  writeText("rate-zero.wav", wavHeader(2, 0, 10));
  writeText("rate-absurd.wav", wavHeader(2, 3000000000u, 10));
  writeText("many-channels.wav", wavHeader(5000, 48000, 1));
  for (const char* name :
       {"empty.wav", "garbage.wav", "truncated.wav", "header-only.wav", "no-channels.wav",
        "rate-zero.wav", "rate-absurd.wav", "many-channels.wav"}) {
    writeText("out.wav", "precious");
    const Outcome r = run(std::string("render -q --tail 0 -i ") + name + " -o out.wav Delay");
    ASSERT_TRUE(r.status == 0 || r.status == 2) << name << ": " << r.output;
    if (r.status != 0) {
      EXPECT_NE(r.output.find(std::string("cannot read '") + name + "'"), std::string::npos)
          << r.output;
      EXPECT_EQ(readText("out.wav"), "precious") << name;
    } else {
      EXPECT_LE(read("out.wav").samples[0].size(), 9600u) << name;
    }
  }
}

}  // namespace
