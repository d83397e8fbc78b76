#pragma once

// orvane-fx batch: every sound file of a folder, or every task of a manifest, through chains
// on all cores, resumable, with a results manifest; or on a Dask cluster through the Python
// module.

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace orvane::fx {

struct BatchArguments {
  std::string input;
  std::string output;
  std::string manifest;
  std::string results;
  std::string extension;
  std::string format;
  std::string scheduler;
  std::string tail = "auto";
  double beatsPerMinute = 0.0;  // --bpm
  unsigned int block = 512;
  unsigned int jobs = 0;  // 0: one per core
  bool recursive = false;
  bool force = false;
  bool failFast = false;
  bool quiet = false;
  std::vector<std::string> chain;
};

CLI::App* addBatchCommand(CLI::App& app, BatchArguments& args);

// The exit status: 0 when every task was done or skipped, 1 when any failed, 2 for a usage
// error (thrown as UsageError).
int batchCommand(const BatchArguments& args, int argc, char** argv);

}  // namespace orvane::fx
