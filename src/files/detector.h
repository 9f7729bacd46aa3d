#pragma once
// The file-activity detector: picks the folders to watch, runs one watcher
// thread per folder, and on each watcher turns the system's change records
// into qualifying changes for that folder's burst detector. The detector
// thread returns once every watcher has ended (on `stop`, or when its folder
// cannot be opened), or at once when there is nothing to watch.

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "config/config.h"
#include "engine/alert_queue.h"
#include "engine/flags.h"
#include "files/burst.h"

namespace tarnwick {

inline constexpr std::string_view kNoWatchDirsTitle = "No watch directories";
inline constexpr std::chrono::milliseconds kWatchWaitSlice{2000};
inline constexpr std::chrono::seconds kWatchRetryDelay{5};

enum class WaitStatus {
  Pending,    // the read is still outstanding
  Completed,  // the read finished; `bytes` of the buffer hold records
  Failed,     // the read ended with an error; nothing is outstanding
};

struct WaitResult {
  WaitStatus status = WaitStatus::Pending;
  size_t bytes = 0;
};

// One open folder with at most one outstanding read of the changes in it and
// its whole subtree. Destroying it cancels that read and closes the folder.
class DirectoryWatch {
 public:
  virtual ~DirectoryWatch() = default;
  // Starts the next read into the buffer; false when the request fails.
  virtual bool request() = 0;
  // Waits at most `slice` for the outstanding read. A completion of 0 bytes
  // means the system's own buffer overflowed and those changes are lost.
  virtual WaitResult wait(std::chrono::milliseconds slice) = 0;
  // The buffer the last completed read wrote.
  virtual std::span<const unsigned char> buffer() const = 0;
};

class DirectoryWatcher {
 public:
  virtual ~DirectoryWatcher() = default;
  // Opens `folder` for watching; nullptr when it cannot be opened or its
  // completion event cannot be made. Called from every watcher thread.
  virtual std::unique_ptr<DirectoryWatch> open(const std::string& folder) = 0;
};

using PathExists = std::function<bool(const std::string& path)>;

// The configured folders that exist, in order, with no fallback; when none are
// configured, those of Documents, Desktop and Pictures under `user_profile`
// that exist.
std::vector<std::string> build_watch_list(const std::vector<std::string>& watch_dirs,
                                          const std::optional<std::string>& user_profile,
                                          const PathExists& exists);

// "No watch directories" (Files, Low).
Alert no_watch_dirs_alert();

using MonotonicNow = std::chrono::steady_clock::time_point (*)();

struct FolderWatchParts {
  DirectoryWatch& watch;
  BurstDetector& burst;
  CulpritFinder& culprits;
  AlertOut& out;
  const EngineFlags& flags;
  Sleeper sleep;  // the 5 s wait after a failed request
  MonotonicNow now = &std::chrono::steady_clock::now;
};

// One folder's watch loop; returns once `stop` is set.
void run_folder_watch(FolderWatchParts& parts);

// How an engine run as the service finds folders when none are configured:
// `scan` runs at start and then after every `sleep` of kProfileRescanInterval.
struct FolderRescan {
  std::function<std::vector<std::string>()> scan;
  Sleeper sleep;
};

struct FilesDetectorParts {
  const Config& config;
  std::optional<std::string> user_profile;
  PathExists exists;
  DirectoryWatcher& watcher;
  CulpritFinder& culprits;  // shared by the watcher threads
  AlertOut& out;            // pushed to from every watcher thread
  const EngineFlags& flags;
  Sleeper sleep;
  // Set for the service: with `watch_dirs` empty, folders come from it.
  std::optional<FolderRescan> rescan = std::nullopt;
};

// The detector thread body. With a rescan and no configured folders, every
// folder a scan finds gets its watcher (at most kMaxWatchedFolders over the
// run), "No watch directories" is raised the first time a scan finds none,
// and the detector returns once `stop` is set and every watcher has ended.
void run_files_detector(FilesDetectorParts& parts);

}  // namespace tarnwick
