#pragma once
// The alert record every detector produces and the pipeline consumes: its
// source and severity enumerations, the optional requested response, the
// MITRE/CVSS line, and the compact JSON form written to the alert log.
// Alerts are plain values, moved from a detector to the pipeline.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace tarnwick {

enum class AlertSource : uint8_t { Network, Process, Persistence, Files, Dns, System };

enum class Severity : uint8_t { Info, Low, Medium, High, Critical };

struct SuspendProcess {
  bool operator==(const SuspendProcess&) const = default;
};
struct KillProcess {
  bool operator==(const KillProcess&) const = default;
};
struct DeleteRegValue {
  std::string hive;  // "HKLM" for the local machine; any other text means the current user
  std::string subkey;
  std::string value;
  bool operator==(const DeleteRegValue&) const = default;
};
using Remediation = std::variant<SuspendProcess, KillProcess, DeleteRegValue>;

struct Alert {
  uint64_t ts_unix = 0;
  AlertSource source = AlertSource::System;
  Severity severity = Severity::Info;
  std::string title;
  std::string detail;
  std::optional<uint32_t> pid;
  std::string dedup_key;
  std::optional<Remediation> remediation;
};

std::string_view source_name(AlertSource source);  // "Network", ...
std::string_view source_tag(AlertSource source);   // "NET", ...
std::string_view severity_name(Severity severity); // "Info", ...
std::string_view severity_tag(Severity severity);  // "INFO", ...

// Whole seconds since the Unix epoch from the system clock; 0 before 1970.
uint64_t unix_now();

// A new alert stamped now, with no pid, no remediation and the default key
// "{source tag}:{title}". The first form copies the detail, the second takes it over.
Alert make_alert(AlertSource source, Severity severity, std::string_view title,
                 const std::string& detail);
Alert make_alert(AlertSource source, Severity severity, std::string_view title,
                 std::string&& detail);

// The report of an automatic response: System, High on success and Medium on
// failure, titled by the outcome, keyed "SYS:{title}".
Alert make_action_outcome(bool success, std::string_view success_title,
                          std::string_view failure_title, std::string detail);

// "Critical" from 9.0, "High" from 7.0, "Medium" from 4.0, "Low" above 0.0, else "None".
std::string_view cvss_rating(float score);

// Appends "\n\nMITRE ATT&CK: {label}  ·  CVSS {score:.1} ({rating})" to the detail.
Alert with_mitre(Alert alert, std::string_view label, float score);

// The compact JSON line of the alert log (without its line feed).
std::string serialise(const Alert& alert);
// Same, appending to `out`.
void serialise_into(const Alert& alert, std::string& out);

// Appends `text` as a JSON string literal, quotes included. Ill-formed UTF-8
// is written as U+FFFD so that every line stays valid JSON.
void append_json_string(std::string_view text, std::string& out);

struct SeverityParse {
  std::optional<Severity> severity;
  std::string error;  // set when `severity` is empty
};
// Exact, case-sensitive match of the five names.
SeverityParse parse_severity(std::string_view name);

}  // namespace tarnwick
