#pragma once

// A scratch folder per test, shell commands run in it, and sound files read back: for tests that
// drive the project's programs and the hosts they run in end to end.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace orvane::testing {

struct Outcome {
  int status;
  std::string output;  // stdout and stderr together
};

struct Audio {
  unsigned int channels = 0;
  unsigned int rate = 0;
  int format = 0;
  std::vector<std::vector<float>> samples;  // [channel][frame]
};

class ScratchFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "orvane-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  // Runs a shell script in the scratch folder, after `prelude` (variable settings).
  Outcome script(const std::string& lines) const {
    const std::string log = path("run.log");
    const std::string command = "cd '" + dir_.string() + "' && " + prelude() + " (" + lines +
                                ") > '" + log + "' 2>&1";
    const int raw = std::system(command.c_str());
    std::ifstream in(log);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return Outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, text};
  }

  // Shell assignments every script starts with ("FX=/path/orvane-fx && "), or nothing.
  virtual std::string prelude() const { return ""; }

  Audio read(const std::string& name) const {
    SF_INFO info{};
    SNDFILE* file = sf_open(path(name).c_str(), SFM_READ, &info);
    Audio audio;
    if (file == nullptr) return audio;
    audio.channels = static_cast<unsigned int>(info.channels);
    audio.rate = static_cast<unsigned int>(info.samplerate);
    audio.format = info.format;
    std::vector<float> interleaved(static_cast<std::size_t>(info.frames) * audio.channels);
    sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    audio.samples.assign(audio.channels, std::vector<float>(static_cast<std::size_t>(info.frames)));
    for (sf_count_t f = 0; f < info.frames; ++f)
      for (unsigned int c = 0; c < audio.channels; ++c)
        audio.samples[c][f] = interleaved[f * audio.channels + c];
    return audio;
  }

  void writeText(const std::string& name, const std::string& text) const {
    std::ofstream(path(name), std::ios::binary) << text;
  }
  std::string readText(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }

  std::filesystem::path dir_;
};

}  // namespace orvane::testing
