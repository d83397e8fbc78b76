#include "Batch.hpp"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <thread>

#include "Chain.hpp"
#include "Errors.hpp"
#include "OutputFile.hpp"
#include "Render.hpp"
#include "SoundFiles.hpp"
#include "Text.hpp"

namespace orvane::fx {

namespace {

namespace fs = std::filesystem;

constexpr auto kLockPoll = std::chrono::milliseconds(50);

// One catalogue for every task of the process: loading the library is done once anyway.
const EffectCatalogue& catalogue() {
  static const EffectCatalogue shared;
  return shared;
}

const char* formatName(SampleFormat format) {
  switch (format) {
    case SampleFormat::Pcm16: return "pcm16";
    case SampleFormat::Pcm24: return "pcm24";
    case SampleFormat::Pcm32: return "pcm32";
    case SampleFormat::Float: return "float";
    case SampleFormat::Default: break;
  }
  return "the container's own";
}

// The output's lock: `.NAME.orvane-lock` beside it, held with flock (which the system lets go
// of when a process dies, however it dies) and removed by its holder when the task is over. A
// lock file removed while another process waited on it is taken again, so that exactly one
// holder of the current file goes on.
class OutputLock {
 public:
  OutputLock(const std::string& output, const std::function<bool()>& stopAsked) {
    const fs::path target(output);
    path_ = (target.parent_path() / ("." + target.filename().string() + ".orvane-lock")).string();
    for (;;) {
      fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
      if (fd_ < 0) {
        throw UsageError("cannot lock '" + output + "': " + std::strerror(errno));
      }
      while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
          const int error = errno;
          close(fd_);
          throw UsageError("cannot lock '" + output + "': " + std::strerror(error));
        }
        if ((stopAsked && stopAsked()) || stopRequestedNow()) {
          close(fd_);
          throw Interrupted();
        }
        std::this_thread::sleep_for(kLockPoll);
      }
      struct stat held {}, named {};
      if (fstat(fd_, &held) == 0 && stat(path_.c_str(), &named) == 0 &&
          held.st_ino == named.st_ino && held.st_dev == named.st_dev) {
        return;
      }
      close(fd_);  // removed by the holder before us: take the file now there
    }
  }
  ~OutputLock() {
    unlink(path_.c_str());
    close(fd_);
  }
  OutputLock(const OutputLock&) = delete;
  OutputLock& operator=(const OutputLock&) = delete;

 private:
  std::string path_;
  int fd_ = -1;
};

// What makes an output what it is: the input (by path, size and modification time), every
// setting, the tail and the format. Kept in the output's header, and compared before a task
// renders, so that an output is skipped only when it is exactly what the task would make.
std::string signature(const std::string& input, const std::string& settings,
                      std::uint64_t frames, bool framesKnown) {
  struct stat about {};
  std::string identity = fs::absolute(input).lexically_normal().string();
  if (stat(input.c_str(), &about) == 0) {
    identity += ", " + std::to_string(about.st_size) + " bytes, modified " +
                std::to_string(about.st_mtim.tv_sec) + "." + std::to_string(about.st_mtim.tv_nsec);
  }
  return "orvane-fx batch: from " + identity + "; " + settings +
         (framesKnown ? "; " + std::to_string(frames) + " frames" : "");
}

// True when `output` opens as a sound file of the expected length whose header keeps
// `expected`. Outputs reach their place only once complete, so a file with our signature and
// its length is one a task finished.
bool alreadyMade(const std::string& output, const std::string& expected, std::uint64_t frames,
                 bool framesKnown) {
  SF_INFO info{};
  SNDFILE* file = sf_open(output.c_str(), SFM_READ, &info);
  if (file == nullptr) return false;
  const char* comment = sf_get_string(file, SF_STR_COMMENT);
  const bool same = comment != nullptr && expected == comment &&
                    (!framesKnown || static_cast<std::uint64_t>(info.frames) == frames);
  sf_close(file);
  return same;
}

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

// RFC 4180 records: fields split on commas, quotes around fields that hold commas, quotes or
// line breaks, a quote inside written twice. Each record comes with the line it starts on.
std::vector<std::pair<std::size_t, std::vector<std::string>>> csvRecords(const std::string& text,
                                                                         const std::string& path) {
  std::vector<std::pair<std::size_t, std::vector<std::string>>> records;
  std::vector<std::string> fields;
  std::string field;
  bool quoted = false, any = false;
  std::size_t line = 1, start = 1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        if (c == '\n') ++line;
        field += c;
      }
      continue;
    }
    if (c == '"' && field.empty()) {
      quoted = any = true;
    } else if (c == ',') {
      fields.push_back(field);
      field.clear();
      any = true;
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      if (any || !field.empty()) {
        fields.push_back(field);
        records.emplace_back(start, fields);
      }
      fields.clear();
      field.clear();
      any = false;
      start = ++line;
    } else {
      field += c;
      any = true;
    }
  }
  if (quoted) throw UsageError(path + ":" + std::to_string(start) + ": a quote is never closed");
  if (any || !field.empty()) {
    fields.push_back(field);
    records.emplace_back(start, fields);
  }
  return records;
}


}  // namespace

const char* statusName(TaskStatus status) {
  switch (status) {
    case TaskStatus::Done: return "done";
    case TaskStatus::Skipped: return "skipped";
    case TaskStatus::Failed: break;
  }
  return "failed";
}

std::vector<std::string> chainWords(const std::string& text) {
  std::istringstream words(text);
  std::vector<std::string> out;
  for (std::string word; words >> word;) out.push_back(word);
  return out;
}

TaskResult runBatchTask(const BatchTask& task, const BatchSettings& settings,
                        const std::function<bool()>& stopAsked) {
  const auto started = std::chrono::steady_clock::now();
  TaskResult result;
  try {
    if (task.input.empty() || task.output.empty()) throw UsageError("a task needs an input and an output");
    if (sameFile(task.input, task.output)) {
      throw UsageError("the output is the input; give it another name or folder");
    }
    const std::vector<EffectSpec> effects = parseChain(task.chain);
    const fs::path folder = fs::path(task.output).parent_path();
    if (!folder.empty()) {
      std::error_code error;
      fs::create_directories(folder, error);
      if (error) throw UsageError("cannot make the folder '" + folder.string() + "': " + error.message());
    }
    const OutputLock lock(task.output, stopAsked);

    auto reader = std::make_unique<SoundFileReader>(task.input);
    SoundFileReader& file = *reader;
    std::unique_ptr<SignalSource> input = std::move(reader);
    // A mono file to a chain that needs stereo is made stereo, as render does.
    if (input->channels() == 1 && channelsForMono(effects) > 1) {
      input = withChannels(std::move(input), channelsForMono(effects), task.input);
    }
    SignalSource& source = *input;
    std::vector<std::string> warnings;
    EffectChain chain(catalogue(), effects, source.channels(), source.sampleRate(), warnings,
                      settings.beatsPerMinute);
    SampleFormat format = settings.format.empty() ? SampleFormat::Default
                                                  : parseSampleFormat(settings.format);
    if (settings.format.empty()) format = formatFitting(task.output, "", file.sampleFormat());
    const std::uint64_t tail = framesIn(
        settings.autoTail ? kMostAutoTailSeconds : settings.tailSeconds, source.sampleRate(), "--tail");
    // An automatic tail's length is known only once rendered.
    const bool framesKnown = source.frames() < (std::uint64_t{1} << 62) && !settings.autoTail;
    const std::uint64_t frames = framesKnown ? source.frames() + tail : 0;
    result.settings = chain.settingsText() +
                      (settings.autoTail ? "; tail auto" : "; tail " + std::to_string(tail) + " frames") +
                      "; format " + formatName(format);
    const std::string made = signature(task.input, result.settings, frames, framesKnown);
    if (!settings.force && alreadyMade(task.output, made, frames, framesKnown)) {
      result.status = TaskStatus::Skipped;
      result.frames = frames;
    } else {
      const bool lengthKnown = source.frames() < (std::uint64_t{1} << 62);
      SoundFileWriter writer(task.output, source.channels(), source.sampleRate(), format,
                             lengthKnown ? source.frames() + tail : SoundFileWriter::kUnknownLength);
      // Containers with no place for it (raw, AU) are rendered again by every batch.
      writer.setComment(made);
      RenderOptions options;
      options.blockSize = settings.block;
      options.tailFrames = tail;
      options.autoTail = settings.autoTail;
      options.stopAsked = stopAsked;
      const RenderResult rendered = render(source, chain, writer, nullptr, options);
      if (!file.problem().empty()) throw UsageError(file.problem());
      writer.finish();
      writer.commit();
      result.status = TaskStatus::Done;
      result.frames = rendered.frames;
      result.peakKnown = true;
      result.peakDbfs = rendered.peak > 0.0f ? 20.0 * std::log10(rendered.peak)
                                             : -std::numeric_limits<double>::infinity();
    }
  } catch (const Interrupted&) {
    result.status = TaskStatus::Failed;
    result.error = "interrupted";
  } catch (const std::exception& e) {
    result.status = TaskStatus::Failed;
    result.error = e.what();
  }
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return result;
}

std::vector<BatchTask> tasksFromFolder(const std::string& inputFolder,
                                       const std::string& outputFolder, bool recursive,
                                       const std::string& extension,
                                       const std::vector<std::string>& chain) {
  std::error_code error;
  if (!fs::is_directory(inputFolder, error)) {
    throw UsageError("-i " + inputFolder + ": not a folder (batch renders every sound file of "
                     "a folder; render takes one file)");
  }
  if (!extension.empty() && (extension.size() < 2 || extension[0] != '.' ||
                             extension.find('/') != std::string::npos)) {
    throw UsageError("--ext " + extension + ": give an extension such as .wav or .flac");
  }
  // Paths as the user gave them; the output folder compared as the system resolves it.
  const fs::path in(inputFolder), out(outputFolder);
  const fs::path outResolved = fs::weakly_canonical(fs::absolute(out));
  std::vector<BatchTask> tasks;
  const auto consider = [&](const fs::directory_entry& entry) {
    const fs::path relative = entry.path().lexically_relative(in);
    for (const fs::path& part : relative) {
      if (part.string().starts_with(".")) return;  // hidden, our own locks and partial files
    }
    if (entry.is_directory() || !isSoundFileName(entry.path().string())) return;
    fs::path target = out / relative;
    if (!extension.empty()) target.replace_extension(extension);
    tasks.push_back({entry.path().string(), target.string(), chain, ""});
  };
  const auto skipOutput = [&](const fs::path& path) {
    const fs::path relative = fs::weakly_canonical(path).lexically_relative(outResolved);
    return !relative.empty() && *relative.begin() != "..";
  };
  if (recursive) {
    for (auto it = fs::recursive_directory_iterator(in, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
      if (it->is_directory() && skipOutput(it->path())) {
        it.disable_recursion_pending();
        continue;
      }
      consider(*it);
    }
  } else {
    for (auto it = fs::directory_iterator(in, error); !error && it != fs::directory_iterator();
         it.increment(error)) {
      consider(*it);
    }
  }
  if (error) throw UsageError("cannot list '" + inputFolder + "': " + error.message());
  std::sort(tasks.begin(), tasks.end(),
            [](const BatchTask& a, const BatchTask& b) { return a.input < b.input; });
  return tasks;
}

std::vector<BatchTask> tasksFromManifest(const std::string& path,
                                         const std::vector<std::string>& chain) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw UsageError("cannot read the manifest '" + path + "': " + std::strerror(errno));
  std::ostringstream text;
  text << file.rdbuf();
  const auto records = csvRecords(text.str(), path);
  if (records.empty()) throw UsageError(path + ": the manifest is empty; its first line names "
                                        "the columns: input,output[,chain][,seed]");
  std::vector<std::string> header = records[0].second;
  for (std::string& name : header) {
    name = lowerCase(name);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    while (!name.empty() && name.front() == ' ') name.erase(0, 1);
  }
  const auto column = [&](const std::string& name) -> int {
    const auto found = std::find(header.begin(), header.end(), name);
    return found == header.end() ? -1 : static_cast<int>(found - header.begin());
  };
  const int input = column("input"), output = column("output"), chainColumn = column("chain"),
            seed = column("seed");
  if (input < 0 || output < 0) {
    throw UsageError(path + ":1: the first line names the columns, input and output among them "
                     "(input,output[,chain][,seed])");
  }
  const fs::path base = fs::path(path).parent_path();
  const auto place = [&](const std::string& name) {
    const fs::path p(name);
    return (p.is_absolute() || base.empty() ? p : base / p).string();
  };
  std::vector<BatchTask> tasks;
  for (std::size_t r = 1; r < records.size(); ++r) {
    const auto& [line, fields] = records[r];
    const auto field = [&](int index) {
      return index >= 0 && static_cast<std::size_t>(index) < fields.size() ? fields[index] : std::string();
    };
    if (field(input).empty() || field(output).empty()) {
      throw UsageError(path + ":" + std::to_string(line) + ": a task needs an input and an output");
    }
    const std::string chainText = field(chainColumn);
    tasks.push_back({place(field(input)), place(field(output)),
                     chainText.empty() ? chain : chainWords(chainText), field(seed)});
  }
  return tasks;
}

std::string resultsCsv(const std::vector<BatchTask>& tasks, const std::vector<TaskResult>& results) {
  std::ostringstream csv;
  csv << "input,output,status,error,frames,peak_dbfs,seconds,seed,settings\n";
  for (std::size_t i = 0; i < tasks.size() && i < results.size(); ++i) {
    const TaskResult& r = results[i];
    char peak[32] = "", seconds[32];
    if (r.peakKnown) {
      if (std::isinf(r.peakDbfs)) {
        std::snprintf(peak, sizeof peak, "-inf");
      } else {
        std::snprintf(peak, sizeof peak, "%.2f", r.peakDbfs);
      }
    }
    std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
    csv << csvField(tasks[i].input) << ',' << csvField(tasks[i].output) << ','
        << statusName(r.status) << ',' << csvField(r.error) << ','
        << (r.status == TaskStatus::Failed ? "" : std::to_string(r.frames)) << ',' << peak << ','
        << seconds << ',' << csvField(tasks[i].seed) << ',' << csvField(r.settings) << '\n';
  }
  return csv.str();
}

}  // namespace orvane::fx
