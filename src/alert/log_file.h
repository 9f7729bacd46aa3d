#pragma once
// The alert log file "Tarnwick.log.jsonl" and its rotation. When the next line
// would take the file past its limit, the file becomes "Tarnwick.log.jsonl.1",
// older files move up one number and the oldest beyond the kept count is
// removed. Appends and rotation share one lock, so a line is written whole to
// exactly one file. Called from the sink thread; safe from any thread.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string_view>

#include "alert/sink.h"

namespace tarnwick {

// Peers cap their logs at a few tens of MiB; nine files of this size bound
// the disk the log can take, whoever makes the alerts.
inline constexpr uint64_t kLogRotateBytes = 32ull << 20;
inline constexpr int kLogOldFiles = 8;

struct LogLimits {
  uint64_t max_bytes = kLogRotateBytes;
  int old_files = kLogOldFiles;  // at least 1
};

// "{log}.{n}": "Tarnwick.log.jsonl.1" is the newest old file.
std::filesystem::path old_log_path(const std::filesystem::path& log, int n);

// The file operations rotation uses; the system's by default, a failing one in tests.
struct RotationOps {
  // False only when the name is known to be free.
  std::function<bool(const std::filesystem::path&)> exists;
  std::function<bool(const std::filesystem::path&)> remove;
  std::function<bool(const std::filesystem::path& from, const std::filesystem::path& to)> rename;
};
RotationOps system_rotation_ops();

// Moves `log` to "{log}.1" and the old files up one, removing "{log}.{old_files}"
// only when every number is taken. Only the files below the first free number
// move, so a failure part-way leaves a gap that the next try fills, and no
// file is removed twice for one rotation. False when `log` did not move.
bool rotate_log(const std::filesystem::path& log, int old_files, const RotationOps& ops);

class FileAlertLog final : public AlertLog {
 public:
  explicit FileAlertLog(std::filesystem::path path, LogLimits limits = {},
                        RotationOps ops = system_rotation_ops());
  // A line that would overflow the file first rotates it. When the rotation
  // fails (another program holds a file without delete sharing) the line
  // still goes to the current file, and the next line tries again.
  bool append(std::string_view line) override;

 private:
  std::filesystem::path path_;
  LogLimits limits_;
  RotationOps ops_;
  std::mutex mutex_;
};

}  // namespace tarnwick
