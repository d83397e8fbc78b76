#pragma once

// How every file the renderer makes reaches its place: written to a temporary file beside the
// target, checked, flushed to the disk, and only then renamed over the target. A failure or an
// interruption at any point leaves the target as it was and removes the temporary file.
//
// - A symlink is written through: the file it points to is replaced, in that file's folder.
// - An existing target keeps its permissions (and group, where the user may set it); one the
//   user could not write to in place is refused rather than replaced. Hard links to the old
//   file keep the old contents (the rename gives the name a new file).
// - The temporary name carries the process id, so a later render of the same target removes
//   one left by a process that no longer exists (killed, or the power went).
// - Temporary names are shortened where the target's name is near the file-system limit.

#include <memory>
#include <string>

namespace orvane::fx {

class OutputFile {
 public:
  // Creates the temporary file; throws UsageError (naming `path`) when it cannot be written.
  explicit OutputFile(const std::string& path);
  // Removes the temporary file unless commit() succeeded.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // The path as the user gave it, and the temporary file to write.
  const std::string& path() const { return path_; }
  const std::string& temporaryPath() const { return temporary_; }

  // Flushes the temporary file to the disk and renames it over the target (and flushes the
  // folder). Throws UsageError when any step fails; the target is then as it was.
  void commit();

 private:
  std::string path_;
  std::string target_;  // the file really replaced (a symlink's target)
  std::string temporary_;
  bool keepMode_ = false;
  unsigned int mode_ = 0;
  unsigned int owner_ = 0;
  unsigned int group_ = 0;
  int slot_ = -1;  // in the registry of live temporary files
};

// Text written to an OutputFile's temporary file, to be committed by the caller (several files
// can so be put in place together, once all of them are complete).
std::unique_ptr<OutputFile> stageText(const std::string& path, const std::string& contents);

// Text through an OutputFile, committed at once.
void writeFileAtomically(const std::string& path, const std::string& contents);

// Removes every temporary file of this process that is still registered: for an exit that
// cannot unwind (a thread blocked in a read when a stop signal came). Async-signal-safe.
void removeTemporaryFilesNow() noexcept;

// True when the two paths name the same file (after symlinks), or the same path if neither
// exists yet.
bool sameFile(const std::string& a, const std::string& b);

}  // namespace orvane::fx
