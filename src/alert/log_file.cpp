#include "alert/log_file.h"

#include <string>
#include <system_error>

#include "fileio/fileio.h"

namespace tarnwick {

std::filesystem::path old_log_path(const std::filesystem::path& log, int n) {
  std::filesystem::path old = log;
  old += "." + std::to_string(n);
  return old;
}

RotationOps system_rotation_ops() {
  return {
      .exists =
          [](const std::filesystem::path& p) {
            // A name that cannot be examined (a file being deleted, say) is
            // taken: moving a file onto it could fail or replace it.
            std::error_code ec;
            return std::filesystem::symlink_status(p, ec).type() !=
                   std::filesystem::file_type::not_found;
          },
      .remove =
          [](const std::filesystem::path& p) {
            std::error_code ec;
            return std::filesystem::remove(p, ec) && !ec;
          },
      .rename = rename_replacing,
  };
}

bool rotate_log(const std::filesystem::path& log, int old_files, const RotationOps& ops) {
  int free_slot = 0;
  for (int n = 1; n <= old_files && free_slot == 0; ++n) {
    if (!ops.exists(old_log_path(log, n))) free_slot = n;
  }
  if (free_slot == 0) {
    if (!ops.remove(old_log_path(log, old_files))) return false;
    free_slot = old_files;
  }
  for (int n = free_slot - 1; n >= 1; --n) {
    if (!ops.rename(old_log_path(log, n), old_log_path(log, n + 1))) return false;
  }
  return ops.rename(log, old_log_path(log, 1));
}

FileAlertLog::FileAlertLog(std::filesystem::path path, LogLimits limits, RotationOps ops)
    : path_(std::move(path)), limits_(limits), ops_(std::move(ops)) {}

bool FileAlertLog::append(std::string_view line) {
  std::lock_guard lock(mutex_);
  const AppendStatus status = append_file_within(path_, line, limits_.max_bytes);
  if (status != AppendStatus::Full) return status == AppendStatus::Written;
  rotate_log(path_, limits_.old_files, ops_);
  return append_file(path_, line);
}

}  // namespace tarnwick
