#include "BatchCommand.hpp"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <thread>

#include "Batch.hpp"
#include "Errors.hpp"
#include "OutputFile.hpp"
#include "Render.hpp"

namespace orvane::fx {

namespace {

namespace fs = std::filesystem;

constexpr auto kProgressEvery = std::chrono::milliseconds(500);
constexpr auto kPoll = std::chrono::milliseconds(50);

std::string clock(double seconds) {
  char text[32];
  const auto whole = static_cast<long>(std::lround(seconds));
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  }
  return text;
}

// Hands the same command to the Python module, which runs it on Dask: the tasks (paths and
// settings, never audio) go to the cluster's workers. The package is looked for where this
// build put it and where an install puts it beside this program.
[[noreturn]] void runOnDask(int argc, char** argv) {
  std::vector<std::string> places;
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  if (!error) places.push_back((self.parent_path().parent_path() / ORVANE_PYTHON_INSTALLED).string());
  places.push_back(ORVANE_PYTHON_BUILD_PACKAGE);
  std::string path;
  for (const std::string& place : places) {
    if (fs::exists(fs::path(place) / "orvane_fx" / "batch.py", error)) path += (path.empty() ? "" : ":") + place;
  }
  if (const char* given = std::getenv("PYTHONPATH"); given != nullptr && *given != '\0') {
    path += (path.empty() ? "" : ":") + std::string(given);
  }
  setenv("PYTHONPATH", path.c_str(), 1);
  std::vector<char*> command = {const_cast<char*>(ORVANE_PYTHON_EXECUTABLE),
                                const_cast<char*>("-m"), const_cast<char*>("orvane_fx.batch")};
  for (int i = 2; i < argc; ++i) command.push_back(argv[i]);  // after "batch"
  command.push_back(nullptr);
  execv(command[0], command.data());
  throw UsageError(std::string("--scheduler runs on Dask through Python (") +
                   ORVANE_PYTHON_EXECUTABLE + " with the orvane_fx module and Debian's "
                   "python3-distributed), which could not be started: " + std::strerror(errno));
}

}  // namespace

CLI::App* addBatchCommand(CLI::App& app, BatchArguments& args) {
  CLI::App* batch = app.add_subcommand(
      "batch", "Render every sound file of a folder (or every task of a manifest) through a "
               "chain, on all cores; a batch started again finishes what is left");
  batch->add_option("-i,--input", args.input, "Folder of sound files");
  batch->add_option("-o,--output", args.output,
                    "Folder for the outputs: the same names and layout as the input folder");
  batch->add_option("--manifest", args.manifest,
                    "CSV of tasks instead of a folder: input,output[,chain][,seed] (paths from "
                    "the manifest's folder; a row's chain replaces the command line's)");
  batch->add_flag("-r,--recursive", args.recursive, "Also the folders inside the input folder");
  batch->add_option("--ext", args.extension,
                    "The outputs' extension, which picks their type (.wav, .flac, ...)");
  batch->add_option("-j,--jobs", args.jobs, "Files at once (default: one per core)")
      ->check(CLI::Range(1u, 1024u));
  batch->add_option("--tail", args.tail,
                    "After each input: auto (default: until the echoes die away, as render) or "
                    "SECONDS; 0 keeps the inputs' lengths");
  batch->add_option("--bpm", args.beatsPerMinute,
                    "A tempo: time settings then take note values (1/8. is a dotted eighth)")
      ->check(CLI::Range(0.0, 1000.0));
  batch->add_option("--format", args.format,
                    "Sample format: pcm16, pcm24, pcm32 or float (default: each input's own)");
  batch->add_option("-b,--block", args.block, "Frames per block")
      ->check(CLI::Range(1u, kMaxBlockFrames));
  batch->add_option("--results", args.results,
                    "Where the results CSV goes (default: OUTPUT/batch-results.csv)");
  batch->add_flag("--force", args.force, "Render again outputs that are complete and current");
  batch->add_flag("--fail-fast", args.failFast, "Stop at the first failure");
  batch->add_flag("-q,--quiet", args.quiet, "No progress and no summary");
  batch->add_option("--scheduler", args.scheduler,
                    "Run on Dask: tcp://HOST:8786 (a running scheduler) or local:N (a cluster of "
                    "N worker processes on this machine)");
  batch->add_option("chain", args.chain, "EFFECT [key=value ...] ..., as for render");
  batch->footer(
      "An output is skipped when it is complete and was made from the same input (path, size\n"
      "and time) with the same settings, tail and format (kept in its header); --force renders\n"
      "it again. Each output is locked while it is rendered, so two batches on one folder\n"
      "never render a file twice at once. Failures do not stop the batch: they are listed in\n"
      "the results, and the exit status is 1.\n"
      "Examples:\n"
      "  orvane-fx batch -i in/ -o out/ Delay delay=350ms Chorus\n"
      "  orvane-fx batch -i in/ -o out/ -r --ext .flac --tail 2 Flanger\n"
      "  orvane-fx batch --manifest tasks.csv --results done.csv Vibrato\n"
      "  orvane-fx batch -i in/ -o out/ --scheduler tcp://10.0.0.5:8786 Delay");
  return batch;
}

int batchCommand(const BatchArguments& args, int argc, char** argv) {
  if (!args.scheduler.empty()) runOnDask(argc, argv);
  std::vector<BatchTask> tasks;
  if (!args.manifest.empty()) {
    if (!args.input.empty()) throw UsageError("give -i (a folder) or --manifest, not both");
    if (!args.output.empty()) {
      throw UsageError("-o names the output folder of -i; a manifest names each output");
    }
    tasks = tasksFromManifest(args.manifest, args.chain);
  } else {
    if (args.input.empty() || args.output.empty()) {
      throw UsageError("batch needs -i FOLDER and -o FOLDER (or --manifest tasks.csv): "
                       "orvane-fx batch -i in/ -o out/ EFFECT ...");
    }
    tasks = tasksFromFolder(args.input, args.output, args.recursive, args.extension, args.chain);
  }
  const std::string resultsPath =
      !args.results.empty() ? args.results
      : !args.output.empty() ? (fs::path(args.output) / "batch-results.csv").string()
                             : (fs::path(args.manifest).parent_path() / "batch-results.csv").string();
  BatchSettings settings;
  const TailLength tail = parseTail(args.tail, "--tail");
  settings.autoTail = tail.automatic;
  settings.tailSeconds = tail.seconds;
  settings.format = args.format;
  settings.block = args.block;
  settings.force = args.force;
  settings.beatsPerMinute = args.beatsPerMinute;
  if (!args.format.empty()) parseSampleFormat(args.format);  // refused before any work
  parseChain(args.chain);

  // Threads rather than processes: a task is the renderer's own streaming render, which holds
  // no state beyond its task, and threads share the loaded library (measured in
  // bench/batch-speed).
  const unsigned int jobs = args.jobs != 0 ? args.jobs : std::max(1u, std::thread::hardware_concurrency());
  std::vector<TaskResult> results(tasks.size());
  std::vector<char> ran(tasks.size(), 0);
  std::atomic<std::size_t> next{0}, finished{0}, failed{0}, skipped{0};
  std::atomic<bool> stop{false};
  const std::size_t workers = std::min<std::size_t>(jobs, tasks.size());
  std::atomic<std::size_t> working{workers};
  const auto work = [&] {
    for (std::size_t i = next++; i < tasks.size() && !stop; i = next++) {
      results[i] = runBatchTask(tasks[i], settings, [&] { return stopRequestedNow(); });
      ran[i] = 1;
      if (results[i].status == TaskStatus::Failed) {
        ++failed;
        if (args.failFast) stop = true;
      } else if (results[i].status == TaskStatus::Skipped) {
        ++skipped;
      }
      ++finished;
    }
    --working;
  };
  const auto started = std::chrono::steady_clock::now();
  std::vector<std::thread> pool;
  for (std::size_t j = 0; j < workers; ++j) pool.emplace_back(work);
  const bool showProgress = !args.quiet && isatty(STDERR_FILENO) != 0;
  auto lastShown = started;
  bool shown = false;
  while (working > 0) {
    std::this_thread::sleep_for(kPoll);
    const auto now = std::chrono::steady_clock::now();
    if (!showProgress || now - lastShown < kProgressEvery) continue;
    lastShown = now;
    shown = true;
    const double elapsed = std::chrono::duration<double>(now - started).count();
    const std::size_t done = finished;
    const double rate = elapsed > 0 ? done / elapsed : 0.0;
    std::fprintf(stderr, "\rorvane-fx batch: %zu of %zu files, %.1f files/s, %s left, %zu failed  ",
                 done, tasks.size(), rate,
                 rate > 0 ? clock((tasks.size() - done) / rate).c_str() : "?", failed.load());
  }
  for (std::thread& thread : pool) thread.join();
  if (shown) std::fputc('\n', stderr);
  if (stopRequestedNow()) throw Interrupted();

  // Tasks a --fail-fast stop never started are in the results, as not run.
  std::size_t notRun = 0;
  for (std::size_t i = 0; i < tasks.size(); ++i) {
    if (ran[i] != 0) continue;
    results[i].status = TaskStatus::Failed;
    results[i].error = "not run: --fail-fast stopped the batch";
    ++notRun;
  }
  writeFileAtomically(resultsPath, resultsCsv(tasks, results));
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (!args.quiet) {
    std::fprintf(stderr, "orvane-fx batch: %zu files: %zu done, %zu skipped (complete and current), "
                 "%zu failed%s in %s; results in %s\n",
                 tasks.size(), tasks.size() - skipped - failed - notRun, skipped.load(),
                 failed.load(), notRun > 0 ? (", " + std::to_string(notRun) + " not run").c_str() : "",
                 clock(elapsed).c_str(), resultsPath.c_str());
  }
  if (failed > 0) {
    for (std::size_t i = 0, shownErrors = 0; i < tasks.size() && shownErrors < 5; ++i) {
      if (results[i].status == TaskStatus::Failed && !results[i].error.starts_with("not run")) {
        const bool named = results[i].error.find(tasks[i].input) != std::string::npos;
        std::cerr << "orvane-fx: error: " << (named ? "" : tasks[i].input + ": ")
                  << results[i].error << "\n";
        ++shownErrors;
      }
    }
    std::cerr << "orvane-fx: error: " << failed.load() << " of " << tasks.size()
              << " files failed; see " << resultsPath << "\n";
    return 1;
  }
  return 0;
}

}  // namespace orvane::fx
