// Float files move as bytes where they hold this machine's own floats: every sample must come
// out exactly as libsndfile's own conversion gives it, whatever the bits (NaN payloads,
// infinities, subnormals, −0), the channel count, the pieces the renderer asks for, and the
// chunks around the audio; files of any other kind still go through the conversion.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "RendererFixture.hpp"
#include "SoundFiles.hpp"

namespace {

using orvane::fx::SampleFormat;
using orvane::fx::SoundFileReader;
using orvane::fx::SoundFileWriter;
using Planar = std::vector<std::vector<float>>;

// Random bits with the awkward floats mixed in.
Planar awkwardSamples(unsigned int channels, unsigned int frames, std::uint32_t seed) {
  std::mt19937 random(seed);
  const std::uint32_t specials[] = {0x7fc00000u, 0x7fa12345u, 0xffc00001u, 0x7f800000u,
                                    0xff800000u, 0x00000001u, 0x807fffffu, 0x80000000u};
  Planar planar(channels, std::vector<float>(frames));
  for (auto& channel : planar) {
    for (float& sample : channel) {
      const std::uint32_t bits = random() % 16 == 0 ? specials[random() % 8] : random();
      std::memcpy(&sample, &bits, sizeof bits);
    }
  }
  return planar;
}

std::vector<float> interleaved(const Planar& planar) {
  const std::size_t channels = planar.size();
  const std::size_t frames = planar.empty() ? 0 : planar[0].size();
  std::vector<float> out(channels * frames);
  for (std::size_t c = 0; c < channels; ++c)
    for (std::size_t f = 0; f < frames; ++f) out[f * channels + c] = planar[c][f];
  return out;
}

// The file's samples as libsndfile's float conversion gives them.
std::vector<float> decodedByLibsndfile(const std::string& path, SF_INFO& info) {
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
  if (file == nullptr) return {};
  std::vector<float> samples(static_cast<std::size_t>(info.frames) * info.channels);
  const sf_count_t got = sf_readf_float(file, samples.data(), info.frames);
  sf_close(file);
  samples.resize(static_cast<std::size_t>(got) * info.channels);
  return samples;
}

void writeWithLibsndfile(const std::string& path, int format, const Planar& planar) {
  SF_INFO info{};
  info.channels = static_cast<int>(planar.size());
  info.samplerate = 48000;
  info.format = format;
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  const std::vector<float> samples = interleaved(planar);
  ASSERT_EQ(sf_writef_float(file, samples.data(), static_cast<sf_count_t>(planar[0].size())),
            static_cast<sf_count_t>(planar[0].size()));
  sf_close(file);
}

// Reads the whole file through the renderer's reader, in pieces of the given sizes in turn.
std::vector<float> readThroughRenderer(const std::string& path, std::vector<unsigned int> pieces) {
  SoundFileReader reader(path);
  Planar planar(reader.channels());
  std::vector<float*> pointers(reader.channels());
  for (std::size_t i = 0;; ++i) {
    const unsigned int want = pieces[i % pieces.size()];
    const std::size_t at = planar.empty() ? 0 : planar[0].size();
    for (unsigned int c = 0; c < reader.channels(); ++c) {
      planar[c].resize(at + want);
      pointers[c] = planar[c].data() + at;
    }
    const unsigned int got = reader.read(pointers.data(), want);
    for (auto& channel : planar) channel.resize(at + got);
    if (got < want) break;
  }
  return interleaved(planar);
}

void expectSameBits(const std::vector<float>& actual, const std::vector<float>& expected,
                    const std::string& what) {
  ASSERT_EQ(actual.size(), expected.size()) << what;
  for (std::size_t i = 0; i < actual.size(); ++i) {
    std::uint32_t a;
    std::uint32_t e;
    std::memcpy(&a, &actual[i], sizeof a);
    std::memcpy(&e, &expected[i], sizeof e);
    ASSERT_EQ(a, e) << what << ", sample " << i;
  }
}

class SoundFiles : public orvane::testing::RendererFixture {};

TEST_F(SoundFiles, ReadingGivesExactlyWhatLibsndfileDecodes) {
  // Past one raw piece of the reader (2^18 samples), and not a whole number of them.
  constexpr unsigned int kFrames = 150001;
  const std::vector<std::vector<unsigned int>> piecesList = {{8192}, {1, 4095, 300000}, {777}};
  struct Kind {
    const char* name;
    int format;
  };
  const Kind kinds[] = {{"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT},
                        {"float.w64", SF_FORMAT_W64 | SF_FORMAT_FLOAT},
                        {"float-big-endian.aiff", SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
                        {"float-big-endian.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT | SF_ENDIAN_BIG},
                        {"pcm24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24}};
  for (unsigned int channels : {1u, 2u, 3u}) {
    const Planar planar = awkwardSamples(channels, kFrames, channels);
    for (const Kind& kind : kinds) {
      const std::string file = path(std::to_string(channels) + "-" + kind.name);
      writeWithLibsndfile(file, kind.format, planar);
      SF_INFO info{};
      const std::vector<float> expected = decodedByLibsndfile(file, info);
      ASSERT_EQ(expected.size(), std::size_t{kFrames} * channels) << file;
      for (const auto& pieces : piecesList) {
        expectSameBits(readThroughRenderer(file, pieces), expected, file);
      }
    }
  }
}

TEST_F(SoundFiles, ReadingStopsWhereTheAudioDoesInFilesWithMoreAfterIt) {
  const Planar planar = awkwardSamples(2, 5000, 7);
  const std::string plain = path("plain.wav");
  writeWithLibsndfile(plain, SF_FORMAT_WAV | SF_FORMAT_FLOAT, planar);
  std::string bytes;
  {
    std::ifstream in(plain, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }

  // A chunk after the audio (a comment, as some editors add): libsndfile ends the audio at the
  // data chunk's end, and so must the bytes read.
  constexpr char kTrailer[] = "LIST\x0c\0\0\0INFOICMT\0\0\0\0";
  std::string withTrailer = bytes + std::string(kTrailer, sizeof kTrailer - 1);
  const std::uint32_t riffSize = static_cast<std::uint32_t>(withTrailer.size() - 8);
  std::memcpy(withTrailer.data() + 4, &riffSize, 4);
  // A file cut inside its last frame: the whole frames before the cut are the audio.
  const std::string cut = bytes.substr(0, bytes.size() - 6);
  struct Variant {
    const char* name;
    std::string content;
    std::size_t frames;
  };
  for (const Variant& variant : {Variant{"trailer.wav", withTrailer, 5000}, {"cut.wav", cut, 4999}}) {
    const std::string file = path(variant.name);
    const char* name = variant.name;
    std::ofstream(file, std::ios::binary) << variant.content;
    SF_INFO info{};
    const std::vector<float> expected = decodedByLibsndfile(file, info);
    ASSERT_EQ(expected.size(), variant.frames * 2) << name;
    expectSameBits(readThroughRenderer(file, {1000}), expected, name);
  }
}

TEST_F(SoundFiles, WritingGivesTheSamplesLibsndfileWouldHaveWritten) {
  constexpr unsigned int kFrames = 140000;
  for (unsigned int channels : {1u, 2u, 5u}) {
    const Planar planar = awkwardSamples(channels, kFrames, 10 + channels);
    for (const char* name : {"out.wav", "out.w64", "out.aiff", "out.caf"}) {
      const std::string file = path(std::to_string(channels) + name);
      {
        SoundFileWriter writer(file, channels, 48000, SampleFormat::Float, kFrames);
        std::vector<const float*> pointers(channels);
        // Pieces of odd sizes, one of them larger than the writer gathers at once.
        for (unsigned int at = 0, piece = 1; at < kFrames; at += piece, piece = piece * 7 + 3) {
          piece = std::min(piece, kFrames - at);
          for (unsigned int c = 0; c < channels; ++c) pointers[c] = planar[c].data() + at;
          writer.write(pointers.data(), piece);
        }
        writer.commit();
      }
      SF_INFO info{};
      const std::vector<float> back = decodedByLibsndfile(file, info);
      EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT) << file;
      EXPECT_EQ(info.frames, kFrames) << file;
      expectSameBits(back, interleaved(planar), file);
    }
  }
}

// The whole renderer, once over a file whose floats move as bytes (little-endian float WAV)
// and once over the same samples in a big-endian float AIFF, which libsndfile converts both
// ways: the two outputs hold the same samples.
TEST_F(SoundFiles, RendersThroughBytesAndThroughLibsndfileAgree) {
  const Planar planar = awkwardSamples(2, 96000, 3);
  Planar finite = planar;
  std::mt19937 random(5);
  std::uniform_real_distribution<float> level(-1.0f, 1.0f);
  for (auto& channel : finite)
    for (float& sample : channel) sample = level(random);
  writeWithLibsndfile(path("in.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, finite);
  writeWithLibsndfile(path("in.aiff"), SF_FORMAT_AIFF | SF_FORMAT_FLOAT, finite);
  for (const char* chain : {"Delay", "Flanger sweep-width=1ms Chorus", "Vibrato enabled=false"}) {
    const std::string effects(chain);
    ASSERT_EQ(run("render -q -i in.wav -o fast.wav " + effects).status, 0) << chain;
    ASSERT_EQ(run("render -q -i in.aiff -o converted.aiff " + effects).status, 0) << chain;
    SF_INFO fastInfo{};
    SF_INFO convertedInfo{};
    expectSameBits(decodedByLibsndfile(path("fast.wav"), fastInfo),
                   decodedByLibsndfile(path("converted.aiff"), convertedInfo), chain);
    EXPECT_EQ(fastInfo.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
  }
}

}  // namespace

namespace {

// The summary's peak and its count of samples past full scale, taken four at a time where the
// machine can: NaN counts as neither, exactly 1 is not past, and the loudest sample may sit in
// any lane or in the frames after the last whole group of four.
TEST_F(SoundFiles, PeakAndSamplesPastFullScaleAreCountedExactly) {
  constexpr unsigned int kFrames = 4099;
  Planar planar(2, std::vector<float>(kFrames, 0.25f));
  const float nan = std::numeric_limits<float>::quiet_NaN();
  unsigned int over = 0;
  for (unsigned int f = 0; f < kFrames; f += 37) {
    planar[f % 2][f] = f % 3 == 0 ? nan : f % 3 == 1 ? -1.0f : std::nextafter(1.0f, 2.0f);
    over += f % 3 == 2 ? 1 : 0;
  }
  planar[1][kFrames - 1] = -3.5f;  // in the frames after the last group of four
  ++over;
  writeWithLibsndfile(path("levels.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, planar);
  const orvane::testing::Outcome r = run("render -i levels.wav -o out.wav Delay enabled=false");
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("peak 10.88 dBFS"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find(std::to_string(over) + " samples went past full scale"),
            std::string::npos)
      << r.output;
}

}  // namespace
