#include "OutputFile.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "Errors.hpp"

namespace orvane::fx {

namespace fs = std::filesystem;

namespace {

constexpr const char* kMarker = ".partial-";
constexpr std::size_t kNameMax = NAME_MAX;

// Temporary files alive in this process, for removeTemporaryFilesNow(). Fixed storage: it is
// read from a signal handler's exit path.
constexpr int kMaxRegistered = 16;
std::array<std::array<char, PATH_MAX>, kMaxRegistered> registered{};
std::array<std::atomic<bool>, kMaxRegistered> used{};

int registerTemporary(const std::string& path) {
  for (int i = 0; i < kMaxRegistered; ++i) {
    bool expected = false;
    if (used[i].compare_exchange_strong(expected, true)) {
      std::snprintf(registered[i].data(), PATH_MAX, "%s", path.c_str());
      return i;
    }
  }
  return -1;
}

void unregisterTemporary(int slot) {
  if (slot >= 0) used[slot].store(false);
}

// Backs off to the start of a UTF-8 character, so a shortened name stays valid text.
std::size_t characterBoundary(const std::string& name, std::size_t length) {
  while (length > 0 && (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80) --length;
  return length;
}

// ".NAME.partial-PID-XXXXXX", with NAME cut short when the whole would pass NAME_MAX.
std::string temporaryPattern(const std::string& name) {
  const std::string suffix = std::string(kMarker) + std::to_string(getpid()) + "-XXXXXX";
  std::string kept = name;
  if (1 + kept.size() + suffix.size() > kNameMax) {
    kept = kept.substr(0, characterBoundary(kept, kNameMax - 1 - suffix.size()));
  }
  std::string pattern = ".";
  pattern.append(kept).append(suffix);
  return pattern;
}

// Removes ".NAME.partial-PID-*" files of `name` in `folder` whose process has gone.
void removeStaleTemporaries(const fs::path& folder, const std::string& name) {
  const std::string pattern = temporaryPattern(name);
  const std::string prefix = pattern.substr(0, pattern.find(kMarker) + std::strlen(kMarker));
  DIR* directory = opendir(folder.c_str());
  if (directory == nullptr) return;
  while (dirent* entry = readdir(directory)) {
    const std::string candidate = entry->d_name;
    if (candidate.rfind(prefix, 0) != 0) continue;
    const std::string rest = candidate.substr(prefix.size());
    const auto dash = rest.find('-');
    if (dash == std::string::npos || dash == 0) continue;
    char* end = nullptr;
    const long pid = std::strtol(rest.c_str(), &end, 10);
    if (end != rest.c_str() + dash || pid <= 0) continue;
    if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
      unlink((folder / candidate).c_str());
    }
  }
  closedir(directory);
}

std::string why() { return std::strerror(errno); }

void syncFolder(const fs::path& folder) {
  const int descriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (descriptor >= 0) {
    fsync(descriptor);
    close(descriptor);
  }
}

}  // namespace

OutputFile::OutputFile(const std::string& path) : path_(path) {
  std::error_code error;
  // Through a symlink (or a chain of them) to the file it names, which may not exist yet.
  fs::path target = path;
  for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(target, error)); ++hops) {
    const fs::path link = fs::read_symlink(target, error);
    if (error) break;
    target = link.is_absolute() ? link : target.parent_path() / link;
  }
  target_ = target.string();
  if (fs::is_directory(target, error)) {
    throw UsageError("cannot write '" + path + "': it is a folder");
  }
  struct stat existing {};
  if (stat(target_.c_str(), &existing) == 0) {
    // Replacing a pipe or a device with a regular file would take it away from its readers.
    if (!S_ISREG(existing.st_mode)) {
      throw UsageError("cannot write '" + path + "': it is not a regular file (a pipe, a " +
                       "device or a socket), and it is left as it is");
    }
    if (access(target_.c_str(), W_OK) != 0) {
      throw UsageError("cannot write '" + path + "': you may not write to it (" + why() +
                       "), so it is left as it is");
    }
    keepMode_ = true;
    mode_ = existing.st_mode & 07777;
    owner_ = existing.st_uid;
    group_ = existing.st_gid;
  }
  const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
  removeStaleTemporaries(folder, target.filename().string());
  std::string pattern = (folder / temporaryPattern(target.filename().string())).string();
  const int descriptor = mkstemp(pattern.data());
  if (descriptor < 0) throw UsageError("cannot write '" + path + "': " + why());
  // mkstemp makes the file private: give it the old file's permissions, or those a new file
  // normally gets.
  if (keepMode_) {
    // The old owner and group where this process may give them (root may: a file root
    // replaces stays its owner's), else the old group, else the user's own; then the mode, as
    // a change of owner clears the set-id bits.
    if (fchown(descriptor, owner_, group_) != 0 &&
        fchown(descriptor, static_cast<uid_t>(-1), group_) != 0) {
      // Not a member of the old group: the new file keeps the user's own.
    }
    fchmod(descriptor, mode_);
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(descriptor, 0666 & ~mask);
  }
  close(descriptor);
  temporary_ = pattern;
  slot_ = registerTemporary(temporary_);
}

OutputFile::~OutputFile() {
  if (!temporary_.empty()) unlink(temporary_.c_str());
  unregisterTemporary(slot_);
}

void OutputFile::commit() {
  const int descriptor = open(temporary_.c_str(), O_RDONLY);
  if (descriptor < 0 || fsync(descriptor) != 0) {
    const std::string reason = why();
    if (descriptor >= 0) close(descriptor);
    throw RenderFailure("cannot write '" + path_ + "': " + reason + "; it is left as it was");
  }
  close(descriptor);
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    throw RenderFailure("cannot write '" + path_ + "': " + why() + "; it is left as it was");
  }
  temporary_.clear();
  unregisterTemporary(slot_);
  slot_ = -1;
  const fs::path target(target_);
  syncFolder(target.has_parent_path() ? target.parent_path() : fs::path("."));
}

std::unique_ptr<OutputFile> stageText(const std::string& path, const std::string& contents) {
  auto output = std::make_unique<OutputFile>(path);
  FILE* file = std::fopen(output->temporaryPath().c_str(), "wb");
  if (file == nullptr) throw UsageError("cannot write '" + path + "': " + why());
  const bool written = std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    throw RenderFailure("cannot write '" + path + "': " + why() + "; it is left as it was");
  }
  return output;
}

void writeFileAtomically(const std::string& path, const std::string& contents) {
  stageText(path, contents)->commit();
}

void removeTemporaryFilesNow() noexcept {
  for (int i = 0; i < kMaxRegistered; ++i) {
    if (used[i].load()) unlink(registered[i].data());
  }
}

bool sameFile(const std::string& a, const std::string& b) {
  std::error_code error;
  if (fs::exists(a, error) && fs::exists(b, error)) return fs::equivalent(a, b, error);
  return fs::weakly_canonical(a, error) == fs::weakly_canonical(b, error);
}

}  // namespace orvane::fx
