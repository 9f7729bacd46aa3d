#include "status/status.h"

#include <cstdio>

#include "alert/log_file.h"
#include "config/config.h"
#include "json/strict_json.h"
#include "text/text.h"

namespace tarnwick {

namespace {

FileState read_state(ReadStatus status) {
  switch (status) {
    case ReadStatus::Ok: return FileState::Ok;
    case ReadStatus::NotFound: return FileState::Missing;
    case ReadStatus::TooLarge: return FileState::Malformed;
    case ReadStatus::Failed: return FileState::Unreadable;
  }
  return FileState::Unreadable;
}

FileState config_state(const StatusSources& sources, const std::filesystem::path& path) {
  // Judged as the engine's loader judges it, without its writing of defaults.
  const ReadResult file = sources.read_file(path, kMaxJsonFileBytes);
  const FileState state = read_state(file.status);
  if (state != FileState::Ok) return state;
  if (!is_valid_utf8(file.bytes) || !parse_config(file.bytes)) return FileState::Malformed;
  return FileState::Ok;
}

std::vector<std::optional<AlertLine>> read_last_alerts(const StatusSources& sources,
                                                       const std::filesystem::path& log) {
  const TailResult current = sources.read_tail(log, kStatusLogTailBytes);
  if (current.status != ReadStatus::Ok) return {};
  auto alerts = last_alert_lines(current.bytes, current.offset > 0, kStatusAlertCount);
  // Just after a rotation the current file holds few lines; the rest come
  // from the newest old file, within what is left of the same budget.
  const uint64_t left = kStatusLogTailBytes - current.bytes.size();
  if (alerts.size() < kStatusAlertCount && current.offset == 0 && left > 0) {
    const TailResult older = sources.read_tail(old_log_path(log, 1), left);
    if (older.status == ReadStatus::Ok) {
      auto earlier =
          last_alert_lines(older.bytes, older.offset > 0, kStatusAlertCount - alerts.size());
      alerts.insert(alerts.begin(), earlier.begin(), earlier.end());
    }
  }
  return alerts;
}

std::optional<AlertSource> parse_source(std::string_view name) {
  for (int s = 0; s <= static_cast<int>(AlertSource::System); ++s) {
    if (source_name(static_cast<AlertSource>(s)) == name) return static_cast<AlertSource>(s);
  }
  return std::nullopt;
}

// A text made safe for one console line: control characters (C0, DEL, C1),
// which could break the line or drive the terminal, become U+FFFD.
std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x20 || b == 0x7F) {
      out += "\xEF\xBF\xBD";
    } else if (b == 0xC2 && i + 1 < text.size() &&
               static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
               static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string local_time_text(uint64_t ts, const LocalTime& local_time) {
  const auto tm = local_time(ts);
  if (!tm) return std::to_string(ts);
  char buf[80];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", tm->tm_year + 1900,
                tm->tm_mon + 1, tm->tm_mday, tm->tm_hour, tm->tm_min, tm->tm_sec);
  return buf;
}

std::string_view lock_text(LockProbe lock) {
  switch (lock) {
    case LockProbe::Held: return "held";
    case LockProbe::Free: return "free";
    case LockProbe::Unknown: return "unknown";
  }
  return "unknown";
}

std::string_view config_state_text(FileState state) {
  switch (state) {
    case FileState::Ok: return "ok";
    case FileState::Missing: return "missing: defaults";
    case FileState::Malformed: return "malformed: defaults";
    case FileState::Unreadable: return "unreadable: defaults";
  }
  return "unreadable: defaults";
}

std::string_view stats_state_text(FileState state) {
  switch (state) {
    case FileState::Ok: return "ok";
    case FileState::Missing: return "missing";
    case FileState::Malformed: return "malformed";
    case FileState::Unreadable: return "unreadable";
  }
  return "unreadable";
}

std::string padded(std::string_view text, size_t width) {
  std::string out(text);
  if (out.size() < width) out.append(width - out.size(), ' ');
  return out;
}

}  // namespace

std::string_view service_status_text(ServiceStatus status) {
  switch (status) {
    case ServiceStatus::NotInstalled: return "not installed";
    case ServiceStatus::Stopped: return "stopped";
    case ServiceStatus::Starting: return "starting";
    case ServiceStatus::Running: return "running";
    case ServiceStatus::Stopping: return "stopping";
    case ServiceStatus::Unknown: return "unknown";
  }
  return "unknown";
}

StatusSources system_status_sources(std::function<ServiceStatus()> service_status) {
  return {
      .service_status = std::move(service_status),
      .probe_lock = probe_lock,
      .read_file = [](const std::filesystem::path& p, uint64_t max) { return read_file(p, max); },
      .read_tail = read_file_tail,
  };
}

StatusDataDir status_data_dir(const DataDirInputs& in,
                              const std::function<bool(const std::filesystem::path&)>& exists) {
  const auto candidate = data_dir_candidate(in);
  if (candidate && exists(*candidate)) return {*candidate, true};
  const auto exe_dir = in.executable_dir();
  if (candidate) {
    const bool engine_used_exe_dir =
        exe_dir && (exists(*exe_dir / kLockFileName) || exists(*exe_dir / kLogFileName) ||
                    exists(*exe_dir / kStatsFileName));
    if (engine_used_exe_dir) return {*exe_dir, true};
    return {*candidate, false};
  }
  if (exe_dir) return {*exe_dir, exists(*exe_dir)};
  return {".", true};
}

StatusReport gather_status(const StatusDataDir& dir, const StatusSources& sources) {
  StatusReport report;
  report.service = sources.service_status();
  report.data_dir = dir.path;
  report.data_dir_exists = dir.exists;
  report.config_path = dir.path / kConfigFileName;
  if (!dir.exists) {
    report.lock = LockProbe::Free;
    report.config = FileState::Missing;
    report.stats = FileState::Missing;
    return report;
  }
  report.lock = sources.probe_lock(dir.path / kLockFileName);
  report.config = config_state(sources, report.config_path);
  const ReadResult stats = sources.read_file(dir.path / kStatsFileName, kMaxJsonFileBytes);
  report.stats = read_state(stats.status);
  if (report.stats == FileState::Ok) {
    report.snapshot =
        is_valid_utf8(stats.bytes) ? parse_snapshot_record(stats.bytes) : std::nullopt;
    if (!report.snapshot) report.stats = FileState::Malformed;
  }
  report.alerts = read_last_alerts(sources, dir.path / kLogFileName);
  return report;
}

std::optional<AlertLine> parse_alert_line(std::string_view line) {
  if (!json_depth_within(line, kMaxJsonDepth)) return std::nullopt;
  const Json doc = Json::parse(line, nullptr, false);
  if (!doc.is_object()) return std::nullopt;
  const auto ts = doc.find("ts_unix");
  const auto source = doc.find("source");
  const auto severity = doc.find("severity");
  const auto title = doc.find("title");
  if (ts == doc.end() || source == doc.end() || severity == doc.end() || title == doc.end()) {
    return std::nullopt;
  }
  if (!source->is_string() || !severity->is_string() || !title->is_string()) return std::nullopt;
  AlertLine out;
  const auto ts_value = as_unsigned(*ts, UINT64_MAX);
  const auto source_value = parse_source(source->get_ref<const std::string&>());
  const auto severity_value = parse_severity(severity->get_ref<const std::string&>()).severity;
  if (!ts_value || !source_value || !severity_value) return std::nullopt;
  out.ts_unix = *ts_value;
  out.source = *source_value;
  out.severity = *severity_value;
  out.title = title->get<std::string>();
  return out;
}

std::vector<std::optional<AlertLine>> last_alert_lines(std::string_view text, bool partial_start,
                                                       size_t count) {
  if (partial_start) {
    const size_t first_end = text.find('\n');
    text = first_end == std::string_view::npos ? std::string_view() : text.substr(first_end + 1);
  }
  // Walk back from the end, so that only the lines shown are parsed.
  std::vector<std::optional<AlertLine>> newest_first;
  size_t end = text.size();
  while (end > 0 && newest_first.size() < count) {
    const size_t start = text.rfind('\n', end - 1);
    const size_t from = start == std::string_view::npos ? 0 : start + 1;
    std::string_view line = text.substr(from, end - from);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) newest_first.push_back(parse_alert_line(line));
    if (start == std::string_view::npos) break;
    end = start;
  }
  return {newest_first.rbegin(), newest_first.rend()};
}

std::string status_text(const StatusReport& r, const LocalTime& local_time) {
  std::string out;
  out += "Service: " + std::string(service_status_text(r.service)) + "\n";
  out += "Data directory: " + printable(path_to_utf8(r.data_dir)) +
         (r.data_dir_exists ? "" : " (does not exist)") + "\n";
  out += "Engine lock: " + std::string(lock_text(r.lock)) + "\n";
  out += "Configuration: " + printable(path_to_utf8(r.config_path)) + " (" +
         std::string(config_state_text(r.config)) + ")\n";
  if (r.snapshot) {
    const StatsValues& c = r.snapshot->counters;
    out += "Counters: total_alerts " + std::to_string(c.total_alerts) + ", threats " +
           std::to_string(c.threats) + ", actions " + std::to_string(c.actions) + ", quarantined " +
           std::to_string(c.quarantined) + ", peak_risk " + std::to_string(c.peak_risk) +
           ", uptime_secs " + std::to_string(r.snapshot->uptime_secs) + " (written " +
           local_time_text(r.snapshot->ts_unix, local_time) + ")\n";
  } else {
    out += "Counters: none (" + std::string(kStatsFileName) + " " +
           std::string(stats_state_text(r.stats)) + ")\n";
  }
  if (r.alerts.empty()) {
    out += "Last alerts: none\n";
    return out;
  }
  out += "Last alerts:\n";
  for (const auto& a : r.alerts) {
    if (!a) {
      out += "  (unreadable line)\n";
      continue;
    }
    out += "  " + local_time_text(a->ts_unix, local_time) + "  " +
           padded(severity_tag(a->severity), 8) + "  " + padded(source_tag(a->source), 7) + "  " +
           printable(a->title) + "\n";
  }
  return out;
}

std::string status_json(const StatusReport& r, const LocalTime& local_time) {
  Json doc = Json::object();
  doc["service"] = service_status_text(r.service);
  doc["data_dir"] = path_to_utf8(r.data_dir);
  doc["data_dir_exists"] = r.data_dir_exists;
  doc["lock"] = lock_text(r.lock);
  doc["config"] = {{"path", path_to_utf8(r.config_path)}, {"state", config_state_text(r.config)}};
  Json stats = Json::object();
  stats["state"] = stats_state_text(r.stats);
  if (r.snapshot) {
    const StatsValues& c = r.snapshot->counters;
    stats["total_alerts"] = c.total_alerts;
    stats["threats"] = c.threats;
    stats["actions"] = c.actions;
    stats["quarantined"] = c.quarantined;
    stats["uptime_secs"] = r.snapshot->uptime_secs;
    stats["peak_risk"] = c.peak_risk;
    stats["ts_unix"] = r.snapshot->ts_unix;
    stats["time"] = local_time_text(r.snapshot->ts_unix, local_time);
  }
  doc["stats"] = std::move(stats);
  Json alerts = Json::array();
  for (const auto& a : r.alerts) {
    if (!a) {
      alerts.push_back({{"unreadable", true}});
      continue;
    }
    Json item = Json::object();
    item["time"] = local_time_text(a->ts_unix, local_time);
    item["ts_unix"] = a->ts_unix;
    item["severity"] = severity_name(a->severity);
    item["source"] = source_name(a->source);
    item["source_tag"] = source_tag(a->source);
    item["title"] = a->title;
    alerts.push_back(std::move(item));
  }
  doc["alerts"] = std::move(alerts);
  return pretty_json(doc) + "\n";
}

}  // namespace tarnwick
