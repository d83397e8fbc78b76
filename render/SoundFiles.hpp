#pragma once

// Sound files through libsndfile: a streaming reader, and a writer that never leaves a partial
// file behind or clobbers an existing one when a render fails.

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Signals.hpp"

namespace orvane::fx {

enum class SampleFormat { Default, Pcm16, Pcm24, Float };

// "pcm16", "pcm24" or "float"; throws UsageError for anything else.
SampleFormat parseSampleFormat(const std::string& text);

// Any file libsndfile reads. Throws UsageError when the file cannot be opened or makes no sense
// (no channels, no sample rate).
class SoundFileReader final : public SignalSource {
 public:
  explicit SoundFileReader(const std::string& path);
  ~SoundFileReader() override;

  unsigned int channels() const override { return channels_; }
  unsigned int sampleRate() const override { return sampleRate_; }
  std::uint64_t frames() const override { return frames_; }
  // Throws UsageError when the file turns out to be unreadable part way.
  unsigned int read(float* const* channels, unsigned int count) override;

 private:
  std::string path_;
  SNDFILE* file_ = nullptr;
  unsigned int channels_ = 0;
  unsigned int sampleRate_ = 0;
  std::uint64_t frames_ = 0;
  std::vector<float> interleaved_;
};

// Writes to a temporary file beside `path`; commit() renames it to `path` once everything is
// written. Destroyed without a commit, it removes the temporary file and leaves `path` as it was.
// The container follows the extension (.wav, .flac, .aiff, .ogg, ...); WAV, AIFF and the other
// containers that can hold floats are written as 32-bit float unless told otherwise.
class SoundFileWriter {
 public:
  SoundFileWriter(const std::string& path, unsigned int channels, unsigned int sampleRate,
                  SampleFormat format);
  ~SoundFileWriter();
  SoundFileWriter(const SoundFileWriter&) = delete;
  SoundFileWriter& operator=(const SoundFileWriter&) = delete;

  void write(const float* const* channels, unsigned int count);
  void commit();

 private:
  std::string path_;
  std::string temporaryPath_;
  SNDFILE* file_ = nullptr;
  unsigned int channels_;
  std::vector<float> interleaved_;
};

// Text written through a temporary file beside `path` and renamed into place.
void writeFileAtomically(const std::string& path, const std::string& contents);

// A temporary file name in the same folder as `path` (so a rename is atomic), created empty.
std::string createTemporaryBeside(const std::string& path);

}  // namespace orvane::fx
