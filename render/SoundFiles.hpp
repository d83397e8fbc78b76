#pragma once

// Sound files through libsndfile: a streaming reader, and a writer that never leaves a partial
// file behind or clobbers an existing one when a render fails.

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "OutputFile.hpp"
#include "Signals.hpp"

namespace orvane::fx {

enum class SampleFormat { Default, Pcm16, Pcm24, Pcm32, Float };

class OutputFile;

// "pcm16", "pcm24", "pcm32" or "float"; throws UsageError for anything else.
SampleFormat parseSampleFormat(const std::string& text);

// A path in $TMPDIR (or /tmp) for audio between two passes of one render, ending in `name`
// ("normalize.wav"), and named so that a later render removes it should this process be
// killed before it does; spools so left by dead processes are removed first.
std::string intermediateFilePath(const std::string& name);

// True for a name with the extension of a sound file the renderer reads by its header (raw
// audio, which has none, is not among them).
bool isSoundFileName(const std::string& path);

// A path's extension in lower case: "out.WAV" → ".wav".
std::string lowerExtension(const std::string& path);
// True for an existing named pipe or character device (/dev/null): written as a stream, like
// standard output, never replaced.
bool isStreamTarget(const std::string& path);

// `format` where the output's type can hold it (Ogg and raw have their own; FLAC holds up to
// 24-bit whole numbers), its type's own format otherwise.
SampleFormat formatFitting(const std::string& path, const std::string& type, SampleFormat format);

// True for formats whose samples cannot go past full scale (whole numbers, and Vorbis).
bool clipsAtFullScale(const std::string& path, const std::string& type, SampleFormat format);

// What a pipe carries: "wav" (the default), "flac", "ogg", "aiff", "au" or "raw" (32-bit float,
// little-endian, interleaved). Throws UsageError for anything else.
std::string checkedPipeType(const std::string& type);

// Any file libsndfile reads. Throws UsageError when the file cannot be opened or makes no sense
// (no channels, no sample rate).
class SoundFileReader final : public SignalSource {
 public:
  // `path` "-" is standard input, of `type` (see checkedPipeType); raw input needs the rate and
  // the channel count, which other types carry in their headers.
  explicit SoundFileReader(const std::string& path, const std::string& type = "",
                           unsigned int rawRate = 0, unsigned int rawChannels = 0);
  ~SoundFileReader() override;

  unsigned int channels() const override { return channels_; }
  unsigned int sampleRate() const override { return sampleRate_; }
  std::uint64_t frames() const override { return frames_; }
  // A file that turns out to be damaged part way ends there: what was decoded is returned, and
  // problem() says what happened.
  unsigned int read(float* const* channels, unsigned int count) override;

  // After reading to the end: a sentence when the file held fewer frames than its header
  // promised, or could not be decoded to the end; empty otherwise.
  std::string problem() const;
  // The file's own sample format (Default where it has none of ours, as for Vorbis).
  SampleFormat sampleFormat() const { return sampleFormat_; }

 private:
  std::string path_;
  std::uint64_t framesRead_ = 0;
  SampleFormat sampleFormat_ = SampleFormat::Default;
  unsigned int readRaw(float* const* channels, unsigned int count);

  bool rawFloats_ = false;  // the file holds this machine's own floats: read them as bytes
  std::string spool_;  // standard input, copied to a file so that every decoder can read it
  std::uint64_t promisedFrames_ = 0;  // from a WAV header, where libsndfile does not tell
  bool cutOgg_ = false;
  std::string decodeError_;
  SNDFILE* file_ = nullptr;
  unsigned int channels_ = 0;
  unsigned int sampleRate_ = 0;
  std::uint64_t frames_ = 0;
  std::vector<float> interleaved_;
};

// Writes to a temporary file beside `path` (an OutputFile); commit() checks that the file reads
// back complete, then puts it in place. Destroyed without a commit, it removes the temporary
// file and leaves `path` as it was. The container follows the extension (.wav, .flac, .aiff,
// .ogg, ...); WAV, AIFF and the other containers that can hold floats are written as 32-bit
// float unless told otherwise.
//
// `expectedFrames` (when known) lets the writer choose before anything is written: a .wav that
// would pass the 4 GiB limit of its header is written as RF64 (note() says so), and a length
// that another container cannot hold is refused.
class SoundFileWriter {
 public:
  static constexpr std::uint64_t kUnknownLength = ~std::uint64_t{0};

  // `path` "-" is standard output, of `type` (see checkedPipeType): the file is made complete
  // beside the temporary files first, then copied to the pipe. A named pipe or a character
  // device (/dev/null) is written the same way, its type from its name's extension; other
  // files that are not regular files are refused.
  SoundFileWriter(const std::string& path, unsigned int channels, unsigned int sampleRate,
                  SampleFormat format, std::uint64_t expectedFrames = kUnknownLength,
                  const std::string& type = "");
  ~SoundFileWriter();
  SoundFileWriter(const SoundFileWriter&) = delete;
  SoundFileWriter& operator=(const SoundFileWriter&) = delete;

  // A comment kept in the file's header, for containers that hold one (WAV, AIFF, FLAC, Ogg,
  // CAF, W64); false where the container holds none. Before the first write().
  bool setComment(const std::string& text);
  void write(const float* const* channels, unsigned int count);
  // Closes the file and reads it back (to the end for compressed containers); throws
  // UsageError when it is not complete. Once is enough; commit() does it too.
  void finish();
  // finish(), then flushes the file to the disk and puts it in place; throws UsageError,
  // leaving `path` as it was, when any step fails.
  void commit();
  const std::string& outputPath() const { return path_; }
  // Something the user should know about how the file is written (RF64), or empty.
  const std::string& note() const { return note_; }

 private:
  [[noreturn]] void fail(const std::string& what) const;
  void writeRaw(const float* const* channels, unsigned int count);
  void flushRaw();

  std::string path_;
  std::unique_ptr<OutputFile> output_;
  SNDFILE* file_ = nullptr;
  int format_ = 0;
  unsigned int channels_;
  std::uint64_t framesWritten_ = 0;
  bool finished_ = false;
  bool toPipe_ = false;               // streamed: standard output, or streamPath_
  std::string streamPath_;            // a named pipe or device; empty for standard output
  bool rawFloats_ = false;           // written as bytes, gathered in interleaved_
  std::size_t pendingFrames_ = 0;    // frames gathered and not yet written
  std::vector<float> interleaved_;
  std::string note_;
};

}  // namespace orvane::fx
