#include "response/response.h"

#include "registry/registry.h"

#include "fileio/fileio.h"
#include "json/strict_json.h"
#include "text/text.h"

namespace tarnwick {

std::string quarantine_id(uint64_t unix_seconds, uint64_t subsecond_nanos) {
  // Appended piece by piece: GCC 12 warns, wrongly, about "q" + std::string.
  std::string id = "q";
  id += std::to_string(unix_seconds);
  id += '_';
  id += std::to_string(subsecond_nanos);
  return id;
}

GuardedFolder quarantine_folder(const std::optional<std::string>& program_data) {
  if (program_data) return {path_from_utf8(*program_data), {"Tarnwick", "quarantine"}};
  return {".", {"quarantine"}};
}

std::string quarantine_record(std::string_view id, std::string_view original_path,
                              std::string_view reason, uint64_t ts_unix, uint64_t size) {
  Json doc = Json::object();
  doc["id"] = id;
  doc["original_path"] = original_path;
  doc["reason"] = reason;
  doc["ts_unix"] = ts_unix;
  doc["size"] = size;
  return pretty_json(doc);
}

namespace {

uint64_t whole_unix_seconds(std::chrono::system_clock::time_point t) {
  const auto s = std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count();
  return s < 0 ? 0 : static_cast<uint64_t>(s);
}

uint64_t subsecond_nanos(std::chrono::system_clock::time_point t) {
  const auto since = t.time_since_epoch();
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                      since - std::chrono::duration_cast<std::chrono::seconds>(since))
                      .count();
  return ns < 0 ? 0 : static_cast<uint64_t>(ns);
}

}  // namespace

Quarantine::Quarantine(QuarantineFiles& files, GuardedFolder folder, WallClock clock)
    : files_(files), guarded_(std::move(folder)), folder_(guarded_.path()), clock_(std::move(clock)) {}

bool Quarantine::exists(const std::string& path) { return files_.size(path_from_utf8(path)).has_value(); }

std::optional<std::string> Quarantine::free_id(const std::string& base) {
  // A clock set back, or two entries in one clock tick, repeat an identifier.
  // The bound only matters when someone fills the folder on purpose.
  constexpr int kMaxCounter = 1000;
  for (int n = 0; n <= kMaxCounter; ++n) {
    const std::string id = n == 0 ? base : base + "_" + std::to_string(n);
    if (!files_.size(folder_ / (id + ".bin")) && !files_.size(folder_ / (id + ".json"))) return id;
  }
  return std::nullopt;
}

std::optional<QuarantineEntry> Quarantine::quarantine_file(const std::string& path,
                                                           const std::string& reason) {
  const std::filesystem::path source = path_from_utf8(path);
  const uint64_t size = files_.size(source).value_or(0);
  const uint64_t secs = whole_unix_seconds(clock_());
  const std::string base = quarantine_id(secs, subsecond_nanos(clock_()));
  if (!files_.make_folder(guarded_)) return std::nullopt;
  std::optional<std::string> free = free_id(base);
  if (!free) return std::nullopt;
  const std::string& id = *free;

  const std::filesystem::path bin = folder_ / (id + ".bin");
  if (!files_.move(source, bin)) {
    // Across volumes a rename cannot work: copy, then delete the original.
    if (!files_.copy(source, bin)) return std::nullopt;
    switch (files_.remove(source)) {
      case QuarantineFiles::DeleteResult::Deleted: break;
      case QuarantineFiles::DeleteResult::AccessDenied:
        if (!files_.remove_forcibly(source)) return std::nullopt;
        break;
      case QuarantineFiles::DeleteResult::Failed: return std::nullopt;
    }
  }
  const bool recorded =
      files_.write_new(folder_ / (id + ".json"),
                       quarantine_record(id, path, reason, whole_unix_seconds(clock_()), size));
  return QuarantineEntry{std::move(*free), recorded};
}

AutoResponder::AutoResponder(ProcessControl& processes, RegistryEditor& registry,
                             Quarantine& quarantine, const ProcessQuery& query, uint32_t own_pid)
    : processes_(processes), registry_(registry), quarantine_(quarantine), query_(query), own_pid_(own_pid) {}

// Freezing or killing the engine itself would end all monitoring, so an alert
// naming its own process never gets that far.
bool AutoResponder::kill(uint32_t pid) { return pid != own_pid_ && processes_.kill(pid); }
bool AutoResponder::suspend(uint32_t pid) { return pid != own_pid_ && processes_.suspend(pid); }

std::optional<Alert> AutoResponder::respond(const Alert& alert, const Config& config) {
  if (alert.remediation) {
    if (const auto* reg = std::get_if<DeleteRegValue>(&*alert.remediation)) {
      // A name that did not survive the trip to UTF-8 cannot be named
      // exactly again; the deletion is refused rather than aimed at a guess.
      const bool ok = value_name_round_trips(reg->value) &&
                      registry_.delete_value(reg->hive, reg->subkey, reg->value);
      return make_action_outcome(
          ok, "Threat blocked: persistence removed", "Auto-response: persistence removal failed",
          "Detection: " + alert.title + "\nLocation: " + reg->hive + "\\" + reg->subkey +
              "\nEntry: \"" + shown_value_name(reg->value) +
              "\"\nAction: the malicious autostart entry was DELETED. It will no longer run at boot.");
    }
    if (std::holds_alternative<KillProcess>(*alert.remediation)) {
      if (!alert.pid) return std::nullopt;
      const bool ok = kill(*alert.pid);
      return make_action_outcome(ok, "Auto-response: process terminated", "Auto-response: terminate failed",
                                 "Killed pid " + std::to_string(*alert.pid) + " for \"" + alert.title + "\"");
    }
  }
  return process_response(alert, config);
}

std::optional<Alert> AutoResponder::process_response(const Alert& alert, const Config& config) {
  if (!alert.pid) return std::nullopt;
  const uint32_t pid = *alert.pid;
  const std::optional<std::string> path = query_.query_image_path(pid);
  // The name is the path's file name: one query describes the process.
  const std::string name = path ? std::string(file_name(*path)) : "?";
  const std::string base = "Process: " + name + " (PID " + std::to_string(pid) +
                           ")\nPath: " + path.value_or("<unknown>") + "\nDetection: " + alert.title +
                           "\n" + alert.detail;

  if (config.auto_kill_on_critical && alert.severity == Severity::Critical) {
    const bool killed = kill(pid);
    if (config.auto_quarantine && killed && path && quarantine_.exists(*path)) {
      if (auto entry = quarantine_.quarantine_file(*path, alert.title)) {
        // Without its record nothing tells where the file came from: the
        // report is the only place left that names the original path.
        if (!entry->recorded) {
          std::string detail = base;
          detail += "\nAction: process TERMINATED and its file moved to quarantine (id ";
          detail += entry->id;
          detail += "), where it is kept, but its record could not be written. Original path: ";
          detail += *path;
          detail += ". It cannot relaunch.";
          return make_action_outcome(false, "Threat blocked: terminated & quarantined",
                                     "Auto-response: quarantine record failed", std::move(detail));
        }
        return make_action_outcome(true, "Threat blocked: terminated & quarantined", "",
                                   base + "\nAction: process TERMINATED and its file moved to quarantine (id " +
                                       entry->id + "). It cannot relaunch.");
      }
    }
    return make_action_outcome(killed, "Threat blocked: process terminated", "Auto-response: terminate failed",
                               base + "\nAction: process TERMINATED (killed). Its network connections are now dead.");
  }
  if (config.auto_response_suspend) {
    return make_action_outcome(suspend(pid), "Threat blocked: process suspended", "Auto-response: suspend failed",
                               base + "\nAction: process SUSPENDED (frozen, reversible). Resume or kill it from the dashboard.");
  }
  return std::nullopt;
}

}  // namespace tarnwick
