#include "SoundFiles.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "Errors.hpp"
#include "Text.hpp"

namespace orvane::fx {

namespace {

// Frames moved per libsndfile call.
constexpr unsigned int kChunkFrames = 4096;
// Samples moved per call where the file holds the host's own floats (see RawFloats): 1 MiB.
constexpr std::size_t kRawChunkSamples = std::size_t{1} << 18;
// Beyond this a "sample rate" is a broken header, not audio.
constexpr int kMaxSampleRate = 8'000'000;
constexpr int kMaxChannels = 1024;
// libvorbis codes rates up to this.
constexpr unsigned int kMaxVorbisRate = 192000;
// WAV, AIFF and AU describe their audio with 32-bit byte counts; some room for the header.
constexpr std::uint64_t kMax32BitChunk = 0xFFFFFFFFull - 4096;
// FLAC's stream header counts samples per channel in 36 bits.
constexpr std::uint64_t kMaxFlacFrames = (std::uint64_t{1} << 36) - 1;
// Free space below which a failed write is put down to a full disk.
constexpr std::uint64_t kNearlyFull = 1 << 20;

std::uint64_t dataBytes(std::uint64_t frames, unsigned int channels, int subformat) {
  const unsigned int bytes = subformat == SF_FORMAT_PCM_16   ? 2
                             : subformat == SF_FORMAT_PCM_24 ? 3
                                                             : 4;
  const std::uint64_t perFrame = static_cast<std::uint64_t>(channels) * bytes;
  return frames > ~std::uint64_t{0} / perFrame ? ~std::uint64_t{0} : frames * perFrame;
}

std::uint32_t little32(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// The frames a file's header promises where libsndfile does not say (it counts a cut WAV by
// its size): the WAV data chunk's byte count over the frame size. 0 when unknown.
std::uint32_t big32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

std::uint64_t little64(const unsigned char* p) {
  return little32(p) | (std::uint64_t{little32(p + 4)} << 32);
}

// How many frames a file's header says it holds, for the containers that say it in their
// header: WAV, W64, AIFF and AU (libsndfile counts only what is there). 0 when the header does
// not say, or says "unknown".
std::uint64_t promisedFrames(const std::string& path) {
  unsigned char header[4096] = {};
  std::FILE* file = std::fopen(path.c_str(), "rb");
  const std::size_t got = file ? std::fread(header, 1, sizeof header, file) : 0;
  if (file) std::fclose(file);
  const auto is = [&](std::size_t at, const char* tag) {
    return at + 4 <= got && std::memcmp(header + at, tag, 4) == 0;
  };
  if (is(0, "RIFF") && is(8, "WAVE")) {
    unsigned blockAlign = 0;
    for (std::size_t at = 12; at + 8 <= got;) {
      const std::uint32_t size = little32(header + at + 4);
      if (is(at, "fmt ") && at + 22 <= got) {
        blockAlign = header[at + 20] | (header[at + 21] << 8);
      } else if (is(at, "data")) {
        return blockAlign == 0 || size == 0xFFFFFFFFu ? 0 : size / blockAlign;
      }
      at += 8 + std::uint64_t{size} + (size & 1);
    }
    return 0;
  }
  if (is(0, "riff") && got >= 40) {  // Sony Wave64: 16-byte ids, 64-bit sizes with the header
    unsigned blockAlign = 0;
    for (std::size_t at = 40; at + 24 <= got;) {
      const std::uint64_t size = little64(header + at + 16);
      if (is(at, "fmt ") && at + 38 <= got) {
        blockAlign = header[at + 36] | (header[at + 37] << 8);
      } else if (is(at, "data")) {
        return blockAlign == 0 || size < 24 ? 0 : (size - 24) / blockAlign;
      }
      if (size < 24) return 0;
      at += (size + 7) & ~std::uint64_t{7};
    }
    return 0;
  }
  if (is(0, "FORM") && (is(8, "AIFF") || is(8, "AIFC"))) {
    for (std::size_t at = 12; at + 8 <= got;) {
      const std::uint32_t size = big32(header + at + 4);
      if (is(at, "COMM") && at + 14 <= got) return big32(header + at + 10);
      at += 8 + std::uint64_t{size} + (size & 1);
    }
    return 0;
  }
  if (is(0, ".snd") && got >= 24) {
    const std::uint32_t size = big32(header + 8);
    const std::uint32_t encoding = big32(header + 12);
    const std::uint32_t channels = big32(header + 20);
    constexpr unsigned kBytes[] = {0, 1, 1, 2, 3, 4, 4, 8};  // by encoding 0 to 7
    const unsigned bytes = encoding < std::size(kBytes) ? kBytes[encoding] : 0;
    return size == 0xFFFFFFFFu || bytes == 0 || channels == 0 ? 0 : size / (bytes * channels);
  }
  return 0;
}

// An Ogg stream ends with a page marked end-of-stream; a cut one does not.
bool oggEndsCleanly(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return true;
  std::vector<unsigned char> tail(65536);
  std::fseek(file, 0, SEEK_END);
  const long size = std::ftell(file);
  const long start = std::max(0L, size - static_cast<long>(tail.size()));
  std::fseek(file, start, SEEK_SET);
  const std::size_t got = std::fread(tail.data(), 1, tail.size(), file);
  std::fclose(file);
  for (std::size_t at = got >= 6 ? got - 6 : 0; at-- > 0;) {
    if (std::memcmp(tail.data() + at, "OggS", 4) == 0) return (tail[at + 5] & 0x04) != 0;
  }
  return false;
}

// Where spools go: $TMPDIR, or /tmp.
std::string temporaryFolder() {
  const char* folder = std::getenv("TMPDIR");
  return folder && *folder ? folder : "/tmp";
}

// Removes the spools ("orvane-fx-input-PID-*", and ".orvane-fx-output-PID.partial-*" of a
// pipe's output) that renders killed before they could clean up left in `folder`: those whose
// process is gone.
void removeStaleSpools(const std::string& folder) {
  DIR* directory = opendir(folder.c_str());
  if (directory == nullptr) return;
  while (dirent* entry = readdir(directory)) {
    const std::string name = entry->d_name;
    std::string rest;
    for (const char* prefix : {"orvane-fx-input-", ".orvane-fx-output-"}) {
      if (name.rfind(prefix, 0) == 0) rest = name.substr(std::strlen(prefix));
    }
    char* end = nullptr;
    const long pid = std::strtol(rest.c_str(), &end, 10);
    if (rest.empty() || pid <= 0 || (*end != '-' && *end != '.')) continue;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      unlink((folder + "/" + name).c_str());
    }
  }
  closedir(directory);
}

// Copies standard input to a private temporary file; a stop request ends the copy.
std::string spoolStandardInput() {
  const std::string folder = temporaryFolder();
  removeStaleSpools(folder);
  std::string pattern = folder + "/orvane-fx-input-" + std::to_string(getpid()) + "-XXXXXX";
  const int descriptor = mkstemp(pattern.data());
  if (descriptor < 0) throw UsageError("cannot keep standard input: " + std::string(std::strerror(errno)));
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t got = ::read(STDIN_FILENO, buffer.data(), buffer.size());
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR && !stopRequestedNow()) continue;
      const bool stopped = stopRequestedNow();
      const std::string reason = std::strerror(errno);
      close(descriptor);
      unlink(pattern.c_str());
      if (stopped) throw Interrupted();
      throw UsageError("cannot read standard input: " + reason);
    }
    for (ssize_t done = 0; done < got;) {
      const ssize_t wrote = ::write(descriptor, buffer.data() + done, static_cast<std::size_t>(got - done));
      if (wrote <= 0) {
        close(descriptor);
        unlink(pattern.c_str());
        throw RenderFailure("cannot keep standard input in " + pattern + ": " + std::strerror(errno));
      }
      done += wrote;
    }
  }
  close(descriptor);
  return pattern;
}

// Why libsndfile would not open a file, in plain words and with the header's own numbers where
// the file names them.
std::string describeUnreadable(const std::string& path) {
  unsigned char header[64] = {};
  std::FILE* file = std::fopen(path.c_str(), "rb");
  const std::size_t got = file ? std::fread(header, 1, sizeof header, file) : 0;
  if (file) std::fclose(file);
  const std::string libraryWords = sf_strerror(nullptr);
  if (got == 0) return "it is empty";
  if (got >= 36 && std::memcmp(header, "RIFF", 4) == 0 && std::memcmp(header + 8, "WAVE", 4) == 0 &&
      std::memcmp(header + 12, "fmt ", 4) == 0) {
    const unsigned channels = header[22] | (header[23] << 8);
    const std::uint32_t rate = little32(header + 24);
    if (rate == 0 || rate > static_cast<std::uint32_t>(kMaxSampleRate) || channels == 0) {
      return "its WAV header is damaged: it gives " + std::to_string(channels) + " channels at " +
             std::to_string(rate) + " Hz";
    }
    return "its WAV header is damaged or of a kind libsndfile does not read (libsndfile: " +
           libraryWords + ")";
  }
  if (got >= 22 && std::memcmp(header, "fLaC", 4) == 0) {
    // STREAMINFO: 20 bits of sample rate, 3 of channels - 1.
    const std::uint32_t rate = (header[18] << 12) | (header[19] << 4) | (header[20] >> 4);
    const unsigned channels = ((header[20] >> 1) & 7) + 1;
    if (rate == 0) {
      return "its FLAC header is damaged: it gives " + std::to_string(channels) +
             " channels at 0 Hz";
    }
    return "its FLAC stream is damaged (libsndfile: " + libraryWords + ")";
  }
  return "it is not a sound file libsndfile reads, or its header is damaged (libsndfile: " +
         libraryWords + ")";
}

int containerFor(const std::string& path, const std::string& type = "") {
  const std::string extension = path == "-" ? "." + checkedPipeType(type) : lowerExtension(path);
  if (extension == ".raw") return SF_FORMAT_RAW;
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
    case SampleFormat::Pcm32:
      if (container == SF_FORMAT_FLAC) {
        throw UsageError("'" + path + "': FLAC holds up to 24-bit samples; use pcm16 or pcm24");
      }
      return SF_FORMAT_PCM_32;
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

// Whether libsndfile's raw data of an open file are floats exactly as this machine stores
// them (32-bit IEEE, same byte order): then reading or writing them raw gives the same samples
// as its conversion routines, which for such files only copy, without their cost.
bool holdsHostFloats(SNDFILE* file, int format) {
  static_assert(std::numeric_limits<float>::is_iec559 && sizeof(float) == 4);
  if ((format & SF_FORMAT_SUBMASK) != SF_FORMAT_FLOAT) return false;
  return sf_command(file, SFC_RAW_DATA_NEEDS_ENDSWAP, nullptr, 0) == SF_FALSE;
}

// The interleaving buffer: whole frames, about 1 MiB of them for files read or written as
// bytes, kChunkFrames for libsndfile's conversion.
std::size_t interleavedSamples(bool rawFloats, unsigned int channels) {
  const std::size_t frames = rawFloats ? std::max<std::size_t>(kRawChunkSamples / channels, 1)
                                       : std::size_t{kChunkFrames};
  return frames * channels;
}

// Interleaved frames to one array per channel and back. Stereo, by far the commonest case, is
// unzipped four frames at a time in SSE registers (pure moves: the bits are unchanged).
void deinterleave(const float* from, float* const* to, std::size_t offset, std::size_t frames,
                  unsigned int channels) {
#if defined(__SSE2__)
  if (channels == 2) {
    float* left = to[0] + offset;
    float* right = to[1] + offset;
    std::size_t f = 0;
    for (; f + 4 <= frames; f += 4) {
      const __m128 a = _mm_loadu_ps(from + 2 * f);
      const __m128 b = _mm_loadu_ps(from + 2 * f + 4);
      _mm_storeu_ps(left + f, _mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
      _mm_storeu_ps(right + f, _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
    }
    for (; f < frames; ++f) {
      left[f] = from[2 * f];
      right[f] = from[2 * f + 1];
    }
    return;
  }
#endif
  for (unsigned int c = 0; c < channels; ++c) {
    float* channel = to[c] + offset;
    for (std::size_t f = 0; f < frames; ++f) channel[f] = from[f * channels + c];
  }
}

void interleave(const float* const* from, std::size_t offset, std::size_t frames,
                unsigned int channels, float* to) {
#if defined(__SSE2__)
  if (channels == 2) {
    const float* left = from[0] + offset;
    const float* right = from[1] + offset;
    std::size_t f = 0;
    for (; f + 4 <= frames; f += 4) {
      const __m128 l = _mm_loadu_ps(left + f);
      const __m128 r = _mm_loadu_ps(right + f);
      _mm_storeu_ps(to + 2 * f, _mm_unpacklo_ps(l, r));
      _mm_storeu_ps(to + 2 * f + 4, _mm_unpackhi_ps(l, r));
    }
    for (; f < frames; ++f) {
      to[2 * f] = left[f];
      to[2 * f + 1] = right[f];
    }
    return;
  }
#endif
  for (unsigned int c = 0; c < channels; ++c) {
    const float* channel = from[c] + offset;
    for (std::size_t f = 0; f < frames; ++f) to[f * channels + c] = channel[f];
  }
}

}  // namespace

bool isStreamTarget(const std::string& path) {
  struct stat existing {};
  return stat(path.c_str(), &existing) == 0 &&
         (S_ISFIFO(existing.st_mode) || S_ISCHR(existing.st_mode));
}

std::string lowerExtension(const std::string& path) {
  return lowerCase(std::filesystem::path(path).extension().string());
}

SampleFormat formatFitting(const std::string& path, const std::string& type, SampleFormat format) {
  const int container = containerFor(path, type);
  const bool wholeNumbersOnly = container == SF_FORMAT_FLAC &&
                                (format == SampleFormat::Float || format == SampleFormat::Pcm32);
  if (container == SF_FORMAT_OGG || container == SF_FORMAT_RAW || wholeNumbersOnly) {
    return SampleFormat::Default;
  }
  return format;
}

SampleFormat parseSampleFormat(const std::string& text) {
  if (text == "pcm16") return SampleFormat::Pcm16;
  if (text == "pcm24") return SampleFormat::Pcm24;
  if (text == "pcm32") return SampleFormat::Pcm32;
  if (text == "float") return SampleFormat::Float;
  throw UsageError("--format must be pcm16, pcm24, pcm32 or float, not '" + text + "'");
}

std::string checkedPipeType(const std::string& type) {
  const std::string lowered = type.empty() ? "wav" : type;
  for (const char* known : {"wav", "flac", "ogg", "aiff", "au", "raw"}) {
    if (lowered == known) return lowered;
  }
  throw UsageError("-t " + type + ": a pipe carries wav, flac, ogg, aiff, au or raw");
}

bool clipsAtFullScale(const std::string& path, const std::string& type, SampleFormat format) {
  const int container = containerFor(path, type);
  if (container == SF_FORMAT_OGG || container == SF_FORMAT_FLAC) return true;
  return subformatFor(container, format, path) != SF_FORMAT_FLOAT;
}

SoundFileReader::SoundFileReader(const std::string& path, const std::string& type,
                                 unsigned int rawRate, unsigned int rawChannels)
    : path_(path == "-" ? "standard input" : path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    throw UsageError("cannot read '" + path + "': it is a folder, not a sound file");
  }
  SF_INFO info{};
  std::string openPath = path;
  if (path == "-") {
    // Standard input is read as it comes: a live pipe renders while it flows, and nothing of
    // it is kept. Only a FLAC stream in a pipe, which the decoder must seek in, is copied to a
    // private file first.
    const std::string pipeType = checkedPipeType(type);
    const bool seekable = lseek(STDIN_FILENO, 0, SEEK_CUR) >= 0;
    if (pipeType == "flac" && !seekable) {
      spool_ = spoolStandardInput();
      openPath = spool_;
    } else {
      // A file behind standard input can be read again for its header; a pipe cannot.
      openPath = seekable ? "/proc/self/fd/0" : "";
    }
  }
  // Raw audio (a pipe of type raw, or a .raw file) is 32-bit float, little-endian, with no
  // header: the rate and the channel count come from the caller.
  if (path == "-" ? checkedPipeType(type) == "raw" : lowerExtension(path) == ".raw") {
    if (rawRate == 0 || rawChannels == 0) {
      throw UsageError("raw audio has no header to say its rate and channels: give --rate and "
                       "--channels (for example --rate 44100 --channels 1)");
    }
    info.format = SF_FORMAT_RAW | SF_FORMAT_FLOAT | SF_ENDIAN_LITTLE;
    info.samplerate = static_cast<int>(rawRate);
    info.channels = static_cast<int>(rawChannels);
  }
  const bool streamed = path == "-" && spool_.empty();
  file_ = streamed ? sf_open_fd(STDIN_FILENO, SFM_READ, &info, SF_FALSE)
                   : sf_open(openPath.c_str(), SFM_READ, &info);
  // What the header promises, and whether an Ogg stream is closed, from the file itself (the
  // copy of standard input too, before it goes); a pipe's header says it to libsndfile.
  if (streamed && file_ == nullptr) {
    throw UsageError("cannot read standard input: it is not " +
                     std::string(info.format == 0 ? "a sound file libsndfile reads" : "raw audio") +
                     " (libsndfile: " + sf_strerror(nullptr) + ")");
  }
  if (file_ != nullptr && !openPath.empty()) {
    const int container = info.format & SF_FORMAT_TYPEMASK;
    promisedFrames_ = promisedFrames(openPath);
    if (container == SF_FORMAT_OGG) cutOgg_ = !oggEndsCleanly(openPath);
  }
  if (!spool_.empty()) {
    unlink(spool_.c_str());  // open or not, the copy is gone with the descriptor
    if (file_ == nullptr) {
      throw UsageError("cannot read standard input: " + describeUnreadable(openPath));
    }
  }
  if (file_ == nullptr) {
    const int openError = errno;
    if (stopRequestedNow()) throw Interrupted();
    if (!std::filesystem::exists(path, error)) {
      throw UsageError("cannot read '" + path + "': there is no such file");
    }
    if (access(path.c_str(), R_OK) != 0) {
      throw UsageError("cannot read '" + path + "': " + std::strerror(openError));
    }
    throw UsageError("cannot read '" + path + "': " + describeUnreadable(path));
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
  // Raw audio and Ogg in a pipe say nothing of their length: what libsndfile guesses is not one.
  const int streamedContainer = info.format & SF_FORMAT_TYPEMASK;
  if (streamed && (streamedContainer == SF_FORMAT_RAW || streamedContainer == SF_FORMAT_OGG)) {
    frames_ = static_cast<std::uint64_t>(SF_COUNT_MAX);
  }
  switch (info.format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_16:
      sampleFormat_ = SampleFormat::Pcm16;
      break;
    case SF_FORMAT_PCM_24:
      sampleFormat_ = SampleFormat::Pcm24;
      break;
    case SF_FORMAT_PCM_32:
      sampleFormat_ = SampleFormat::Pcm32;
      break;
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
      sampleFormat_ = SampleFormat::Float;
      break;
    default:
      break;
  }
  rawFloats_ = holdsHostFloats(file_, info.format);
  interleaved_.resize(interleavedSamples(rawFloats_, channels_));
}

SoundFileReader::~SoundFileReader() {
  if (file_ != nullptr) sf_close(file_);
}

unsigned int SoundFileReader::read(float* const* channels, unsigned int count) {
  if (rawFloats_) return readRaw(channels, count);
  unsigned int done = 0;
  while (done < count && decodeError_.empty()) {
    const unsigned int want = std::min(kChunkFrames, count - done);
    sf_count_t got = sf_readf_float(file_, interleaved_.data(), want);
    if (sf_error(file_) != SF_ERR_NO_ERROR) {
      // Damaged part way (a cut FLAC, say): keep what was decoded, say so at the end.
      decodeError_ = sf_strerror(file_);
      got = std::max<sf_count_t>(got, 0);
    }
    for (unsigned int c = 0; c < channels_; ++c) {
      const float* from = interleaved_.data() + c;
      float* to = channels[c] + done;
      for (sf_count_t f = 0; f < got; ++f) to[f] = from[f * channels_];
    }
    done += static_cast<unsigned int>(got);
    framesRead_ += static_cast<std::uint64_t>(got);
    // A header may promise more frames than the file holds: the file ends where its data does.
    if (got < want) break;
  }
  return done;
}

// The host's own floats, read as bytes in large pieces (libsndfile still finds the data and
// stops at its end). A piece that ends inside a frame means a cut file: the whole frames count.
unsigned int SoundFileReader::readRaw(float* const* channels, unsigned int count) {
  const std::size_t frameBytes = sizeof(float) * channels_;
  const std::size_t chunkFrames = interleaved_.size() / channels_;
  unsigned int done = 0;
  while (done < count && decodeError_.empty()) {
    const std::size_t want = std::min<std::size_t>(chunkFrames, count - done);
    const sf_count_t bytes =
        sf_read_raw(file_, interleaved_.data(), static_cast<sf_count_t>(want * frameBytes));
    if (sf_error(file_) != SF_ERR_NO_ERROR) decodeError_ = sf_strerror(file_);
    const std::size_t got = static_cast<std::size_t>(std::max<sf_count_t>(bytes, 0)) / frameBytes;
    deinterleave(interleaved_.data(), channels, done, got, channels_);
    done += static_cast<unsigned int>(got);
    framesRead_ += got;
    if (got < want) break;
  }
  return done;
}

std::string SoundFileReader::problem() const {
  const bool known = frames_ != static_cast<std::uint64_t>(SF_COUNT_MAX);
  if (promisedFrames_ > framesRead_ && decodeError_.empty()) {
    return "'" + path_ + "' holds " + std::to_string(framesRead_) + " frames, not the " +
           std::to_string(promisedFrames_) + " its header promised (cut short?); the render has "
           "the " + std::to_string(framesRead_) + " it holds";
  }
  if (cutOgg_ && decodeError_.empty()) {
    return "'" + path_ + "' ends without the mark that closes an Ogg stream (cut short?); the "
           "render has the " + std::to_string(framesRead_) + " frames it holds";
  }
  if (!decodeError_.empty()) {
    return "'" + path_ + "' could not be decoded past frame " + std::to_string(framesRead_) +
           (known ? " of the " + std::to_string(frames_) + " its header promised" : "") + " (" +
           decodeError_ + "); the render has the " + std::to_string(framesRead_) +
           " frames before that";
  }
  if (known && framesRead_ < frames_) {
    return "'" + path_ + "' holds " + std::to_string(framesRead_) + " frames, not the " +
           std::to_string(frames_) + " its header promised (cut short?); the render has the " +
           std::to_string(framesRead_) + " it holds";
  }
  return "";
}

SoundFileWriter::SoundFileWriter(const std::string& path, unsigned int channels,
                                 unsigned int sampleRate, SampleFormat format,
                                 std::uint64_t expectedFrames, const std::string& type)
    : path_(path == "-" ? "standard output" : path), channels_(channels), toPipe_(path == "-") {
  if (!toPipe_ && isStreamTarget(path)) {
    toPipe_ = true;
    streamPath_ = path;
  }
  // A stream takes the type given for pipes (WAV by default) unless its name has one.
  const bool named = !toPipe_ || (!streamPath_.empty() && type.empty() &&
                                  !lowerExtension(path).empty());
  int container = named ? containerFor(path) : containerFor("-", type);
  const int subformat = subformatFor(container, format, path);
  if (container == SF_FORMAT_OGG && sampleRate > kMaxVorbisRate) {
    throw UsageError("cannot write '" + path + "': Ogg Vorbis holds rates up to " +
                     std::to_string(kMaxVorbisRate) + " Hz, and the audio is " +
                     std::to_string(sampleRate) + " Hz; use .wav or .flac");
  }
  if (expectedFrames != kUnknownLength) {
    const std::uint64_t bytes = dataBytes(expectedFrames, channels, subformat);
    if (container == SF_FORMAT_WAV && bytes > kMax32BitChunk) {
      container = SF_FORMAT_RF64;
      note_ = "'" + path + "' will hold " + std::to_string(bytes) +
              " bytes of audio, more than a WAV header can describe (4 GiB); it is written as "
              "RF64, the WAV format for large files";
    } else if ((container == SF_FORMAT_AIFF || container == SF_FORMAT_AU) &&
               bytes > kMax32BitChunk) {
      throw UsageError("cannot write '" + path + "': " + std::to_string(expectedFrames) +
                       " frames of " + std::to_string(channels) + " channels are " +
                       std::to_string(bytes) + " bytes, more than the 4 GiB that file type can "
                       "hold; use .wav (written as RF64), .w64, .caf or .flac");
    } else if (container == SF_FORMAT_FLAC && expectedFrames > kMaxFlacFrames) {
      throw UsageError("cannot write '" + path + "': FLAC holds at most " +
                       std::to_string(kMaxFlacFrames) + " frames, and the render has " +
                       std::to_string(expectedFrames));
    }
  }
  SF_INFO info{};
  info.channels = static_cast<int>(channels);
  info.samplerate = static_cast<int>(std::min<unsigned int>(sampleRate, kMaxSampleRate));
  info.format = container | subformat;
  if (!sf_format_check(&info)) {
    throw UsageError("cannot write '" + path + "': that file type cannot hold " +
                     std::to_string(channels) + " channels at " + std::to_string(sampleRate) +
                     " Hz in that sample format");
  }
  if (container == SF_FORMAT_RAW) info.format |= SF_ENDIAN_LITTLE;
  format_ = info.format;
  if (toPipe_) {
    // Made complete in the temporary folder first, then copied to the pipe.
    removeStaleSpools(temporaryFolder());
    output_ = std::make_unique<OutputFile>(temporaryFolder() + "/orvane-fx-output-" +
                                           std::to_string(getpid()));
  } else {
    output_ = std::make_unique<OutputFile>(path);
  }
  file_ = sf_open(output_->temporaryPath().c_str(), SFM_WRITE, &info);
  if (file_ == nullptr) fail(sf_strerror(nullptr));
  // Float samples beyond full scale are clipped, not wrapped, in whole-number formats.
  sf_command(file_, SFC_SET_CLIPPING, nullptr, SF_TRUE);
  rawFloats_ = holdsHostFloats(file_, format_);
  if (rawFloats_) {
    // Written raw, the samples bypass libsndfile's peak tracking: its optional PEAK chunk
    // (a header note of each channel's largest value, which readers do not need) would be
    // wrong, so it is left out.
    sf_command(file_, SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);
  }
  interleaved_.resize(interleavedSamples(rawFloats_, channels_));
}

SoundFileWriter::~SoundFileWriter() {
  if (file_ != nullptr) sf_close(file_);
}

void SoundFileWriter::fail(const std::string& what) const {
  // libsndfile's own words for a full disk are vague ("Unspecified internal error"): say it.
  std::string reason = what;
  const std::filesystem::path folder = std::filesystem::path(output_ ? output_->temporaryPath()
                                                                     : path_).parent_path();
  struct statvfs space {};
  if (statvfs(folder.empty() ? "." : folder.c_str(), &space) == 0 &&
      static_cast<std::uint64_t>(space.f_bavail) * space.f_frsize < kNearlyFull) {
    reason = "the disk is full";
  }
  throw RenderFailure("cannot write '" + path_ + "': " + reason + "; '" + path_ +
                      "' is left as it was");
}

bool SoundFileWriter::setComment(const std::string& text) {
  return sf_set_string(file_, SF_STR_COMMENT, text.c_str()) == 0;
}

void SoundFileWriter::write(const float* const* channels, unsigned int count) {
  if (rawFloats_) {
    writeRaw(channels, count);
    return;
  }
  unsigned int done = 0;
  while (done < count) {
    const unsigned int n = std::min(kChunkFrames, count - done);
    for (unsigned int c = 0; c < channels_; ++c) {
      const float* from = channels[c] + done;
      float* to = interleaved_.data() + c;
      for (unsigned int f = 0; f < n; ++f) to[static_cast<std::size_t>(f) * channels_] = from[f];
    }
    if (sf_writef_float(file_, interleaved_.data(), n) != n) fail(sf_strerror(file_));
    done += n;
    framesWritten_ += n;
  }
}

// The host's own floats are gathered into large pieces and written as bytes; flushRaw()
// hands over what is gathered.
void SoundFileWriter::writeRaw(const float* const* channels, unsigned int count) {
  const std::size_t chunkFrames = interleaved_.size() / channels_;
  std::size_t done = 0;
  while (done < count) {
    const std::size_t n = std::min<std::size_t>(chunkFrames - pendingFrames_, count - done);
    interleave(channels, done, n, channels_, interleaved_.data() + pendingFrames_ * channels_);
    pendingFrames_ += n;
    done += n;
    if (pendingFrames_ == chunkFrames) flushRaw();
  }
}

void SoundFileWriter::flushRaw() {
  if (pendingFrames_ == 0) return;
  const auto bytes = static_cast<sf_count_t>(pendingFrames_ * channels_ * sizeof(float));
  if (sf_write_raw(file_, interleaved_.data(), bytes) != bytes) fail(sf_strerror(file_));
  framesWritten_ += pendingFrames_;
  pendingFrames_ = 0;
}

void SoundFileWriter::commit() {
  finish();
  if (!toPipe_) {
    output_->commit();
    return;
  }
  const int descriptor = open(output_->temporaryPath().c_str(), O_RDONLY);
  if (descriptor < 0) fail(std::strerror(errno));
  struct stat made {};
  fstat(descriptor, &made);
  // A named pipe opens once a reader has it open too (a stop signal ends the wait).
  const int target =
      streamPath_.empty() ? STDOUT_FILENO : open(streamPath_.c_str(), O_WRONLY | O_CLOEXEC);
  if (target < 0) {
    const std::string reason = std::strerror(errno);
    close(descriptor);
    if (stopRequestedNow()) throw Interrupted();
    throw RenderFailure("cannot write '" + path_ + "': " + reason + "; nothing was written");
  }
  const auto closeBoth = [&] {
    close(descriptor);
    if (target != STDOUT_FILENO) close(target);
  };
  std::uint64_t sent = 0;
  std::vector<char> buffer(1 << 16);
  for (ssize_t got; (got = ::read(descriptor, buffer.data(), buffer.size())) != 0;) {
    if (got < 0 && errno == EINTR && !stopRequestedNow()) continue;
    for (ssize_t done = 0; got > 0 && done < got;) {
      const ssize_t wrote = ::write(target, buffer.data() + done,
                                    static_cast<std::size_t>(got - done));
      if (wrote < 0 && errno == EINTR && !stopRequestedNow()) continue;
      if (wrote <= 0) {
        const int error = errno;
        closeBoth();
        const std::string what = "of " + std::to_string(made.st_size) + " bytes";
        if (error == EPIPE) {
          throw RenderFailure("the reader of " + path_ + " closed it after " +
                              std::to_string(sent) + " " + what +
                              "; the rest of the audio was not sent");
        }
        if (stopRequestedNow()) throw Interrupted();
        throw RenderFailure("cannot write " + path_ + " after " + std::to_string(sent) + " " +
                            what + ": " + std::strerror(error));
      }
      done += wrote;
      sent += static_cast<std::uint64_t>(wrote);
    }
    if (got < 0) {
      closeBoth();
      fail(std::strerror(errno));
    }
  }
  closeBoth();
}

void SoundFileWriter::finish() {
  if (finished_) return;
  if (rawFloats_) flushRaw();
  const int status = sf_close(file_);
  file_ = nullptr;
  if (status != 0) fail(sf_error_number(status));
  // libsndfile may lose an error of the encoder's last flush: read the file back. Containers
  // with a frame count in the header need only that; compressed ones are decoded to the end.
  SF_INFO info{};
  if ((format_ & SF_FORMAT_TYPEMASK) == SF_FORMAT_RAW) {  // only raw files are described
    info.format = format_;
    info.channels = static_cast<int>(channels_);
    info.samplerate = 48000;
  }
  SNDFILE* check = sf_open(output_->temporaryPath().c_str(), SFM_READ, &info);
  if (check == nullptr) fail("the file written does not read back (" +
                             std::string(sf_strerror(nullptr)) + ")");
  std::uint64_t frames = static_cast<std::uint64_t>(std::max<sf_count_t>(info.frames, 0));
  const int container = format_ & SF_FORMAT_TYPEMASK;
  if (container == SF_FORMAT_RAW) {
    // Raw files carry no header: their length is their size.
    struct stat written {};
    stat(output_->temporaryPath().c_str(), &written);
    frames = static_cast<std::uint64_t>(written.st_size) / (4u * channels_);
  } else if (container == SF_FORMAT_FLAC || container == SF_FORMAT_OGG) {
    frames = 0;
    std::vector<float> scratch(static_cast<std::size_t>(kChunkFrames) * channels_);
    for (sf_count_t got; (got = sf_readf_float(check, scratch.data(), kChunkFrames)) > 0;) {
      frames += static_cast<std::uint64_t>(got);
    }
    if (sf_error(check) != SF_ERR_NO_ERROR) frames = 0;
  }
  sf_close(check);
  if (frames != framesWritten_) {
    fail("the file written reads back " + std::to_string(frames) + " of its " +
         std::to_string(framesWritten_) + " frames");
  }
  finished_ = true;
}

std::string intermediateFilePath(const std::string& name) {
  const std::string folder = temporaryFolder();
  removeStaleSpools(folder);
  return folder + "/orvane-fx-input-" + std::to_string(getpid()) + "-" + name;
}

bool isSoundFileName(const std::string& path) {
  static const std::vector<std::string> kExtensions = {".wav", ".wave", ".flac", ".aiff", ".aif",
                                                       ".aifc", ".ogg", ".oga", ".au", ".snd",
                                                       ".w64", ".rf64", ".caf"};
  return std::find(kExtensions.begin(), kExtensions.end(), lowerExtension(path)) !=
         kExtensions.end();
}

}  // namespace orvane::fx
