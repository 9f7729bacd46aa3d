#pragma once
// The data directory, the live alert counters and their snapshot file
// "Tarnwick.stats.json". The alert sink updates the counters (lock-free); the
// statistics writer thread and the sink write snapshots, serialised by a lock
// so that the staging file is never shared by two writers.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "engine/flags.h"

namespace tarnwick {

struct DataDirInputs {
  std::function<std::optional<std::string>(std::string_view)> get_env;
  std::function<bool(const std::filesystem::path&)> create_directories;
  std::function<std::optional<std::filesystem::path>()> executable_dir;
};

// ProgramData\Tarnwick, else (only when ProgramData is unset) LOCALAPPDATA\Tarnwick;
// nullopt when neither is set.
std::optional<std::filesystem::path> data_dir_candidate(const DataDirInputs& in);
// The candidate, created with its parents; else the executable's folder; else ".".
std::filesystem::path resolve_data_dir(const DataDirInputs& in);
// The process's environment, plain folder creation and its executable.
DataDirInputs system_data_dir_inputs();

struct StatsValues {
  uint64_t total_alerts = 0;
  uint64_t threats = 0;
  uint64_t actions = 0;
  uint64_t quarantined = 0;
  uint64_t peak_risk = 0;
  bool operator==(const StatsValues&) const = default;
};

struct StatsSnapshot {
  StatsValues counters;
  uint64_t uptime_secs = 0;
  uint64_t ts_unix = 0;
};

class StatsCounters {
 public:
  StatsCounters(std::filesystem::path path, StatsValues restored,
                std::chrono::steady_clock::time_point start);

  // Restores the counters from the snapshot at `path` (zeros when it cannot be
  // read, is larger than 1 MiB or is not exactly a snapshot) and takes the
  // start time now.
  static std::shared_ptr<StatsCounters> restore(const std::filesystem::path& path);

  void add_alert() { total_alerts_.fetch_add(1, std::memory_order_relaxed); }
  void add_threat() { threats_.fetch_add(1, std::memory_order_relaxed); }
  void add_action() { actions_.fetch_add(1, std::memory_order_relaxed); }
  void add_quarantined() { quarantined_.fetch_add(1, std::memory_order_relaxed); }
  void raise_peak_risk(uint64_t value);

  StatsValues values() const;
  const std::filesystem::path& path() const { return path_; }
  std::chrono::steady_clock::time_point start() const { return start_; }
  std::mutex& write_lock() { return write_lock_; }

 private:
  std::filesystem::path path_;
  std::chrono::steady_clock::time_point start_;
  std::atomic<uint64_t> total_alerts_;
  std::atomic<uint64_t> threats_;
  std::atomic<uint64_t> actions_;
  std::atomic<uint64_t> quarantined_;
  std::atomic<uint64_t> peak_risk_;
  std::mutex write_lock_;
};

// The snapshot in a text: all seven keys present with non-negative 64-bit
// integers, other keys skipped, no duplicates and no trailing text.
std::optional<StatsSnapshot> parse_snapshot_record(std::string_view text);
// Its counters only.
std::optional<StatsValues> parse_snapshot(std::string_view text);

// The seven keys indented by two blanks, no line feed at the end.
std::string snapshot_text(const StatsSnapshot& snapshot);

StatsSnapshot take_snapshot(const StatsCounters& counters, std::chrono::steady_clock::time_point now);

// Writes the snapshot through its staging file; silent on failure.
void write_snapshot(StatsCounters& counters);

// The statistics writer thread: a snapshot at once, then every 5 s, and one
// last snapshot when `stop` is seen.
void run_stats_writer(const EngineFlags& flags, StatsCounters& counters, const Sleeper& sleep);

}  // namespace tarnwick
