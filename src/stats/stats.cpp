#include "stats/stats.h"

#include "alert/alert.h"
#include "fileio/fileio.h"
#include "json/strict_json.h"
#include "sysenv/sysenv.h"
#include "text/text.h"

namespace tarnwick {

std::optional<std::filesystem::path> data_dir_candidate(const DataDirInputs& in) {
  if (auto program_data = in.get_env("ProgramData")) return path_from_utf8(*program_data) / "Tarnwick";
  if (auto local = in.get_env("LOCALAPPDATA")) return path_from_utf8(*local) / "Tarnwick";
  return std::nullopt;
}

std::filesystem::path resolve_data_dir(const DataDirInputs& in) {
  const auto candidate = data_dir_candidate(in);
  if (candidate && in.create_directories(*candidate)) return *candidate;
  if (auto exe_dir = in.executable_dir()) return *exe_dir;
  return ".";
}

DataDirInputs system_data_dir_inputs() {
  return {
      .get_env = get_env,
      .create_directories = [](const std::filesystem::path& p) { return make_directories(p); },
      .executable_dir = []() -> std::optional<std::filesystem::path> {
        auto exe = executable_path();
        if (!exe.path || !exe.path->has_parent_path()) return std::nullopt;
        return exe.path->parent_path();
      },
  };
}

StatsCounters::StatsCounters(std::filesystem::path path, StatsValues restored,
                             std::chrono::steady_clock::time_point start)
    : path_(std::move(path)),
      start_(start),
      total_alerts_(restored.total_alerts),
      threats_(restored.threats),
      actions_(restored.actions),
      quarantined_(restored.quarantined),
      peak_risk_(restored.peak_risk) {}

std::shared_ptr<StatsCounters> StatsCounters::restore(const std::filesystem::path& path) {
  StatsValues values;
  const ReadResult file = read_file(path, kMaxJsonFileBytes);
  if (file.status == ReadStatus::Ok) {
    if (auto parsed = parse_snapshot(file.bytes)) values = *parsed;
  }
  return std::make_shared<StatsCounters>(path, values, std::chrono::steady_clock::now());
}

void StatsCounters::raise_peak_risk(uint64_t value) {
  uint64_t seen = peak_risk_.load(std::memory_order_relaxed);
  while (value > seen &&
         !peak_risk_.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
  }
}

StatsValues StatsCounters::values() const {
  return {total_alerts_.load(std::memory_order_relaxed), threats_.load(std::memory_order_relaxed),
          actions_.load(std::memory_order_relaxed), quarantined_.load(std::memory_order_relaxed),
          peak_risk_.load(std::memory_order_relaxed)};
}

namespace {

constexpr const char* kKeys[] = {"total_alerts", "threats",   "actions", "quarantined",
                                 "uptime_secs",  "peak_risk", "ts_unix"};

}  // namespace

std::optional<StatsSnapshot> parse_snapshot_record(std::string_view text) {
  if (!is_valid_utf8(text)) return std::nullopt;
  auto members = parse_strict_object(text);
  if (!members) return std::nullopt;
  std::optional<uint64_t> found[7];
  for (const auto& [name, value] : *members) {
    for (int k = 0; k < 7; ++k) {
      if (name != kKeys[k]) continue;
      found[k] = as_unsigned(value, UINT64_MAX);
      if (!found[k]) return std::nullopt;
    }
  }
  for (const auto& f : found) {
    if (!f) return std::nullopt;
  }
  return StatsSnapshot{{*found[0], *found[1], *found[2], *found[3], *found[5]}, *found[4], *found[6]};
}

std::optional<StatsValues> parse_snapshot(std::string_view text) {
  if (auto snapshot = parse_snapshot_record(text)) return snapshot->counters;
  return std::nullopt;
}

std::string snapshot_text(const StatsSnapshot& s) {
  Json doc = Json::object();
  doc["total_alerts"] = s.counters.total_alerts;
  doc["threats"] = s.counters.threats;
  doc["actions"] = s.counters.actions;
  doc["quarantined"] = s.counters.quarantined;
  doc["uptime_secs"] = s.uptime_secs;
  doc["peak_risk"] = s.counters.peak_risk;
  doc["ts_unix"] = s.ts_unix;
  return pretty_json(doc);
}

StatsSnapshot take_snapshot(const StatsCounters& counters, std::chrono::steady_clock::time_point now) {
  StatsSnapshot s;
  s.counters = counters.values();
  const auto up = std::chrono::duration_cast<std::chrono::seconds>(now - counters.start()).count();
  s.uptime_secs = up < 0 ? 0 : static_cast<uint64_t>(up);
  s.ts_unix = unix_now();
  return s;
}

void write_snapshot(StatsCounters& counters) {
  std::lock_guard lock(counters.write_lock());
  const std::string text = snapshot_text(take_snapshot(counters, std::chrono::steady_clock::now()));
  write_file_replacing(counters.path(), text);
}

void run_stats_writer(const EngineFlags& flags, StatsCounters& counters, const Sleeper& sleep) {
  while (!flags.stopping()) {
    write_snapshot(counters);
    if (!sleep(std::chrono::seconds(5))) break;
  }
  write_snapshot(counters);
}

}  // namespace tarnwick
