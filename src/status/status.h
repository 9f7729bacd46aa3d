#pragma once
// `tarnwick status`: what a person at the machine needs to see, gathered by
// reading only. The service's state, the data directory, whether an engine
// holds it, the configuration, the counters and the last alerts. Nothing is
// created, nothing is held beyond a read, and nothing waits for the engine.
// Runs once on the command's thread.

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "alert/alert.h"
#include "fileio/fileio.h"
#include "stats/stats.h"

namespace tarnwick {

enum class ServiceStatus { NotInstalled, Stopped, Starting, Running, Stopping, Unknown };

// "not installed", "stopped", "starting", "running", "stopping", "unknown".
std::string_view service_status_text(ServiceStatus status);

// How a file the engine reads at start-up was found.
enum class FileState { Ok, Missing, Malformed, Unreadable };

inline constexpr size_t kStatusAlertCount = 10;
// Only this much of the end of the log is ever read, however large it is.
inline constexpr uint64_t kStatusLogTailBytes = 1u << 20;

struct AlertLine {
  uint64_t ts_unix = 0;
  Severity severity = Severity::Info;
  AlertSource source = AlertSource::System;
  std::string title;
};

struct StatusReport {
  ServiceStatus service = ServiceStatus::Unknown;
  std::filesystem::path data_dir;
  bool data_dir_exists = false;
  LockProbe lock = LockProbe::Unknown;
  std::filesystem::path config_path;
  FileState config = FileState::Missing;
  FileState stats = FileState::Missing;
  std::optional<StatsSnapshot> snapshot;  // set when `stats` is Ok
  // Oldest first; nullopt for a line that does not parse.
  std::vector<std::optional<AlertLine>> alerts;
};

struct StatusSources {
  std::function<ServiceStatus()> service_status;
  std::function<LockProbe(const std::filesystem::path&)> probe_lock;
  std::function<ReadResult(const std::filesystem::path&, uint64_t max_bytes)> read_file;
  std::function<TailResult(const std::filesystem::path&, uint64_t max_bytes)> read_tail;
};
// The system's service manager for `service_status`, fileio for the rest.
StatusSources system_status_sources(std::function<ServiceStatus()> service_status);

struct StatusDataDir {
  std::filesystem::path path;
  bool exists = false;
};

// The folder the engine uses, found without creating it: the candidate when
// it exists; the executable's folder when it holds an engine's files (the
// engine fell back to it); else the candidate, which does not exist yet.
StatusDataDir status_data_dir(const DataDirInputs& in,
                              const std::function<bool(const std::filesystem::path&)>& exists);

StatusReport gather_status(const StatusDataDir& dir, const StatusSources& sources);

// The alert of one log line, or nullopt when it is not one.
std::optional<AlertLine> parse_alert_line(std::string_view line);

// The last `count` lines of a log text, oldest first. `partial_start` says
// the text begins mid-file, so its first line may be cut and is left out.
std::vector<std::optional<AlertLine>> last_alert_lines(std::string_view text, bool partial_start,
                                                       size_t count);

// Local broken-down time of a Unix time; nullopt when it cannot be converted.
using LocalTime = std::function<std::optional<std::tm>(uint64_t ts_unix)>;
LocalTime system_local_time();

// One item a line, for a person.
std::string status_text(const StatusReport& report, const LocalTime& local_time);
// The same as one JSON object, indented by two blanks, ending in a line feed.
std::string status_json(const StatusReport& report, const LocalTime& local_time);

}  // namespace tarnwick
