#pragma once
// The configuration record and its file "Tarnwick.config.json". Loaded once at
// start-up and shared read-only; the tamper watch loads it again on its own to
// compare. Loading never fails: any problem gives the built-in defaults.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "alert/alert.h"

namespace tarnwick {

struct Config {
  Severity toast_min_severity = Severity::High;
  bool auto_response_enabled = false;
  Severity auto_response_min_severity = Severity::Critical;
  bool auto_response_suspend = true;
  bool auto_remove_persistence = true;
  bool auto_stop_ransomware = true;
  bool auto_stop_network_threat = true;
  bool auto_kill_on_critical = false;
  bool auto_quarantine = false;
  std::string ntfy_topic;
  std::string ntfy_server = "https://ntfy.sh";
  bool game_mode_enabled = true;
  std::vector<std::string> game_processes;
  std::vector<std::string> watch_dirs;
  uint32_t ransomware_burst_count = 20;
  uint64_t ransomware_window_secs = 10;
  bool event_log = true;
  // "host:port" or "[IPv6]:port" of a syslog collector; empty means none.
  std::string syslog_server;

  bool operator==(const Config&) const = default;
};

// The record of a configuration text, or nullopt when the text breaks any rule:
// exact keys, the key's type, severities spelled exactly, no null, no
// duplicate key, nothing after the object. Leading byte-order marks are skipped.
std::optional<Config> parse_config(std::string_view text);

// Every key in declaration order, indented by two blanks, no final line feed.
std::string config_text(const Config& config);

// Reads `path`. A missing file is created with the defaults (never replacing
// one that appeared meanwhile); a file that exists but cannot be read or
// parsed, or is larger than 1 MiB, is left as it is, and the defaults apply.
Config load_config(const std::filesystem::path& path);

// A look at the file that never creates or writes it, for a reader that has
// to tell a missing file from one it could not read (a save caught halfway).
struct ConfigReading {
  enum class Status { Ok, Missing, Unreadable };
  Status status = Status::Missing;
  Config config;  // the file's when Ok, else the defaults
};
ConfigReading read_config(const std::filesystem::path& path);

}  // namespace tarnwick
