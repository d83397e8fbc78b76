#include "SoundFiles.hpp"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

#include "Chain.hpp"

namespace orvane::fx {

namespace {

// Frames moved per libsndfile call.
constexpr unsigned int kChunkFrames = 4096;
// Beyond this a "sample rate" is a broken header, not audio.
constexpr int kMaxSampleRate = 8'000'000;
constexpr int kMaxChannels = 1024;

std::string lowerExtension(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

int containerFor(const std::string& path) {
  const std::string extension = lowerExtension(path);
  if (extension == ".wav") return SF_FORMAT_WAV;
  if (extension == ".flac") return SF_FORMAT_FLAC;
  if (extension == ".aiff" || extension == ".aif") return SF_FORMAT_AIFF;
  if (extension == ".ogg" || extension == ".oga") return SF_FORMAT_OGG;
  if (extension == ".caf") return SF_FORMAT_CAF;
  if (extension == ".au" || extension == ".snd") return SF_FORMAT_AU;
  if (extension == ".w64") return SF_FORMAT_W64;
  if (extension == ".rf64") return SF_FORMAT_RF64;
  throw UsageError("cannot tell the file type of '" + path +
                   "' from its extension; use .wav, .flac, .aiff, .ogg, .caf, .au, .w64 or .rf64");
}

int subformatFor(int container, SampleFormat format, const std::string& path) {
  if (container == SF_FORMAT_OGG) {
    if (format != SampleFormat::Default) {
      throw UsageError("'" + path + "': Ogg files are Vorbis-coded; --format does not apply");
    }
    return SF_FORMAT_VORBIS;
  }
  switch (format) {
    case SampleFormat::Pcm16:
      return SF_FORMAT_PCM_16;
    case SampleFormat::Pcm24:
      return SF_FORMAT_PCM_24;
    case SampleFormat::Float:
      if (container == SF_FORMAT_FLAC) {
        throw UsageError("'" + path +
                         "': FLAC holds whole-number samples only; use pcm16 or pcm24");
      }
      return SF_FORMAT_FLOAT;
    case SampleFormat::Default:
      break;
  }
  return container == SF_FORMAT_FLAC ? SF_FORMAT_PCM_24 : SF_FORMAT_FLOAT;
}

}  // namespace

SampleFormat parseSampleFormat(const std::string& text) {
  if (text == "pcm16") return SampleFormat::Pcm16;
  if (text == "pcm24") return SampleFormat::Pcm24;
  if (text == "float") return SampleFormat::Float;
  throw UsageError("--format must be pcm16, pcm24 or float, not '" + text + "'");
}

SoundFileReader::SoundFileReader(const std::string& path) : path_(path) {
  SF_INFO info{};
  file_ = sf_open(path.c_str(), SFM_READ, &info);
  if (file_ == nullptr) {
    throw UsageError("cannot read '" + path + "': " + sf_strerror(nullptr));
  }
  if (info.channels < 1 || info.channels > kMaxChannels || info.samplerate < 1 ||
      info.samplerate > kMaxSampleRate || info.frames < 0) {
    sf_close(file_);
    file_ = nullptr;
    throw UsageError("cannot read '" + path + "': its header claims " +
                     std::to_string(info.channels) + " channels at " +
                     std::to_string(info.samplerate) + " Hz");
  }
  channels_ = static_cast<unsigned int>(info.channels);
  sampleRate_ = static_cast<unsigned int>(info.samplerate);
  frames_ = static_cast<std::uint64_t>(info.frames);
  interleaved_.resize(static_cast<std::size_t>(kChunkFrames) * channels_);
}

SoundFileReader::~SoundFileReader() {
  if (file_ != nullptr) sf_close(file_);
}

unsigned int SoundFileReader::read(float* const* channels, unsigned int count) {
  unsigned int done = 0;
  while (done < count) {
    const unsigned int want = std::min(kChunkFrames, count - done);
    const sf_count_t got = sf_readf_float(file_, interleaved_.data(), want);
    if (sf_error(file_) != SF_ERR_NO_ERROR) {
      throw UsageError("cannot read '" + path_ + "': " + sf_strerror(file_));
    }
    for (unsigned int c = 0; c < channels_; ++c) {
      const float* from = interleaved_.data() + c;
      float* to = channels[c] + done;
      for (sf_count_t f = 0; f < got; ++f) to[f] = from[f * channels_];
    }
    done += static_cast<unsigned int>(got);
    // A header may promise more frames than the file holds: the file ends where its data does.
    if (got < want) break;
  }
  return done;
}

std::string createTemporaryBeside(const std::string& path) {
  const std::filesystem::path target(path);
  const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
  std::string name = ".";  // built by appending: GCC 12 misreads "." + string at -O3
  name.append(target.filename().string()).append(".partial-XXXXXX");
  std::string pattern = (folder / name).string();
  const int descriptor = mkstemp(pattern.data());
  if (descriptor < 0) {
    throw UsageError("cannot write '" + path + "': " + std::strerror(errno));
  }
  // mkstemp makes the file private; give it the permissions a new file normally gets.
  const mode_t mask = umask(0);
  umask(mask);
  fchmod(descriptor, 0666 & ~mask);
  close(descriptor);
  return pattern;
}

SoundFileWriter::SoundFileWriter(const std::string& path, unsigned int channels,
                                 unsigned int sampleRate, SampleFormat format)
    : path_(path), channels_(channels) {
  const int container = containerFor(path);
  SF_INFO info{};
  info.channels = static_cast<int>(channels);
  info.samplerate = static_cast<int>(std::min<unsigned int>(sampleRate, kMaxSampleRate));
  info.format = container | subformatFor(container, format, path);
  if (!sf_format_check(&info)) {
    throw UsageError("cannot write '" + path + "': that file type cannot hold " +
                     std::to_string(channels) + " channels at " + std::to_string(sampleRate) +
                     " Hz in that sample format");
  }
  temporaryPath_ = createTemporaryBeside(path);
  file_ = sf_open(temporaryPath_.c_str(), SFM_WRITE, &info);
  if (file_ == nullptr) {
    std::remove(temporaryPath_.c_str());
    throw UsageError("cannot write '" + path + "': " + sf_strerror(nullptr));
  }
  // Float samples beyond full scale are clipped, not wrapped, in whole-number formats.
  sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  interleaved_.resize(static_cast<std::size_t>(kChunkFrames) * channels_);
}

SoundFileWriter::~SoundFileWriter() {
  if (file_ != nullptr) sf_close(file_);
  if (!temporaryPath_.empty()) std::remove(temporaryPath_.c_str());
}

void SoundFileWriter::write(const float* const* channels, unsigned int count) {
  unsigned int done = 0;
  while (done < count) {
    const unsigned int n = std::min(kChunkFrames, count - done);
    for (unsigned int c = 0; c < channels_; ++c) {
      const float* from = channels[c] + done;
      float* to = interleaved_.data() + c;
      for (unsigned int f = 0; f < n; ++f) to[static_cast<std::size_t>(f) * channels_] = from[f];
    }
    if (sf_writef_float(file_, interleaved_.data(), n) != n) {
      throw UsageError("cannot write '" + path_ + "': " + sf_strerror(file_));
    }
    done += n;
  }
}

void SoundFileWriter::commit() {
  const int status = sf_close(file_);
  file_ = nullptr;
  if (status != 0) throw UsageError("cannot write '" + path_ + "': " + sf_error_number(status));
  if (std::rename(temporaryPath_.c_str(), path_.c_str()) != 0) {
    throw UsageError("cannot write '" + path_ + "': " + std::strerror(errno));
  }
  temporaryPath_.clear();
}

void writeFileAtomically(const std::string& path, const std::string& contents) {
  const std::string temporary = createTemporaryBeside(path);
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << contents;
    out.flush();
    if (!out) {
      std::remove(temporary.c_str());
      throw UsageError("cannot write '" + path + "'");
    }
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    std::remove(temporary.c_str());
    throw UsageError("cannot write '" + path + "': " + reason);
  }
}

}  // namespace orvane::fx
