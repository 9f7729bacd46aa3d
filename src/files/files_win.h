#pragma once
// The real folder watch (overlapped directory-change reads) and per-process
// write counters, and the file-activity detector wired with them.

#include "config/config.h"
#include "engine/alert_queue.h"
#include "engine/engine.h"
#include "engine/flags.h"
#include "files/detector.h"
#include "files/probe.h"
#include "files/profiles.h"

namespace tarnwick {

class WindowsDirectoryWatcher final : public DirectoryWatcher {
 public:
  std::unique_ptr<DirectoryWatch> open(const std::string& folder) override;
};

class WindowsWriteCounter final : public WriteCounter {
 public:
  std::optional<uint64_t> bytes_written(uint32_t pid) const override;
};

// True when the file-system object exists (its attributes can be read).
bool path_exists(const std::string& path);

// What the file system holds at `path`.
FolderKind folder_kind(const std::string& path);

// The "files" detector thread body with the real parts; as the service, with
// no configured folders, the people's profile folders are watched.
void run_windows_files_detector(AlertQueue& queue, const EngineFlags& flags, const Config& config,
                                RunAs run_as);

}  // namespace tarnwick
