#pragma once

// Batches of renders: many files through chains, each task safe to repeat. A task takes the
// output's lock, skips an output that is already complete and made from the same input with
// the same settings, and otherwise renders as `orvane-fx render` does (write beside, read
// back, rename). So a batch killed at any moment and started again finishes what is left,
// and two batches on one folder never render the same output at once. Shared by the
// renderer's `batch` command and the Python module's render_many.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orvane::fx {

struct BatchTask {
  std::string input;
  std::string output;
  std::vector<std::string> chain;  // as on the command line: "Delay" "delay=350ms" ...
  std::string seed;                // as the manifest gave it; kept in the results
};

struct BatchSettings {
  bool autoTail = true;     // until the echoes die away, as render does by default
  double tailSeconds = 0.0;  // without autoTail
  std::string format;  // "pcm16", ...; empty keeps the input's where the output can hold it
  unsigned int block = 512;
  bool force = false;  // render even where a complete output with the same settings exists
  double beatsPerMinute = 0.0;  // above 0: time settings take note values (1/8.)
};

enum class TaskStatus { Done, Skipped, Failed };

struct TaskResult {
  TaskStatus status = TaskStatus::Failed;
  std::string error;      // why it failed
  std::uint64_t frames = 0;
  double peakDbfs = 0.0;  // of what was rendered (-inf for silence; not known when skipped)
  bool peakKnown = false;
  double seconds = 0.0;   // taken, wall clock
  std::string settings;   // every setting used, and the tail and format
};

// "done", "skipped", "failed".
const char* statusName(TaskStatus status);

// Runs one task; never throws for a problem of the task (it is the result's error). Any
// thread: tasks of different outputs run side by side. `stopAsked` is asked between blocks.
TaskResult runBatchTask(const BatchTask& task, const BatchSettings& settings,
                        const std::function<bool()>& stopAsked = {});

// A task per sound file under `inputFolder` (its top level, or every level), each to the same
// place under `outputFolder`; `extension` (".flac") replaces the output's, when given. Hidden
// files, files that are not sound files by their extension, and the output folder itself
// (when it lies inside the input folder) are left out. Sorted by path. Throws UsageError.
std::vector<BatchTask> tasksFromFolder(const std::string& inputFolder,
                                       const std::string& outputFolder, bool recursive,
                                       const std::string& extension,
                                       const std::vector<std::string>& chain);

// The tasks of a CSV manifest: a header naming input and output, and optionally chain (the
// command line's text) and seed. Relative paths are taken from the manifest's folder; a row
// without a chain takes `chain`. Throws UsageError naming the line of a bad row.
std::vector<BatchTask> tasksFromManifest(const std::string& path,
                                         const std::vector<std::string>& chain);

// The results as CSV: input, output, status, error, frames, peak_dbfs, seconds, seed,
// settings; a header, then a line per task in the tasks' order.
std::string resultsCsv(const std::vector<BatchTask>& tasks,
                       const std::vector<TaskResult>& results);

// Splits a chain's text on spaces, as a shell would split words without quotes.
std::vector<std::string> chainWords(const std::string& text);

}  // namespace orvane::fx
