#include "config/config.h"

#include <functional>
#include <limits>

#include "fileio/fileio.h"
#include "json/strict_json.h"
#include "text/text.h"

namespace tarnwick {

namespace {

bool read_bool(const Json& v, bool& out) {
  if (!v.is_boolean()) return false;
  out = v.get<bool>();
  return true;
}

bool read_severity(const Json& v, Severity& out) {
  if (!v.is_string()) return false;
  const auto parsed = parse_severity(v.get_ref<const std::string&>());
  if (!parsed.severity) return false;
  out = *parsed.severity;
  return true;
}

bool read_text(const Json& v, std::string& out) {
  if (!v.is_string()) return false;
  out = v.get<std::string>();
  return true;
}

bool read_list(const Json& v, std::vector<std::string>& out) {
  if (!v.is_array()) return false;
  std::vector<std::string> items;
  for (const auto& item : v) {
    if (!item.is_string()) return false;
    items.push_back(item.get<std::string>());
  }
  out = std::move(items);
  return true;
}

template <typename T>
bool read_unsigned(const Json& v, T& out) {
  const auto n = as_unsigned(v, std::numeric_limits<T>::max());
  if (!n) return false;
  out = static_cast<T>(*n);
  return true;
}

using FieldReader = std::function<bool(const Json&, Config&)>;

struct Field {
  const char* key;
  FieldReader read;
};

const std::vector<Field>& fields() {
  static const std::vector<Field> kFields = {
      {"toast_min_severity", [](const Json& v, Config& c) { return read_severity(v, c.toast_min_severity); }},
      {"auto_response_enabled", [](const Json& v, Config& c) { return read_bool(v, c.auto_response_enabled); }},
      {"auto_response_min_severity", [](const Json& v, Config& c) { return read_severity(v, c.auto_response_min_severity); }},
      {"auto_response_suspend", [](const Json& v, Config& c) { return read_bool(v, c.auto_response_suspend); }},
      {"auto_remove_persistence", [](const Json& v, Config& c) { return read_bool(v, c.auto_remove_persistence); }},
      {"auto_stop_ransomware", [](const Json& v, Config& c) { return read_bool(v, c.auto_stop_ransomware); }},
      {"auto_stop_network_threat", [](const Json& v, Config& c) { return read_bool(v, c.auto_stop_network_threat); }},
      {"auto_kill_on_critical", [](const Json& v, Config& c) { return read_bool(v, c.auto_kill_on_critical); }},
      {"auto_quarantine", [](const Json& v, Config& c) { return read_bool(v, c.auto_quarantine); }},
      {"ntfy_topic", [](const Json& v, Config& c) { return read_text(v, c.ntfy_topic); }},
      {"ntfy_server", [](const Json& v, Config& c) { return read_text(v, c.ntfy_server); }},
      {"game_mode_enabled", [](const Json& v, Config& c) { return read_bool(v, c.game_mode_enabled); }},
      {"game_processes", [](const Json& v, Config& c) { return read_list(v, c.game_processes); }},
      {"watch_dirs", [](const Json& v, Config& c) { return read_list(v, c.watch_dirs); }},
      {"ransomware_burst_count", [](const Json& v, Config& c) { return read_unsigned(v, c.ransomware_burst_count); }},
      {"ransomware_window_secs", [](const Json& v, Config& c) { return read_unsigned(v, c.ransomware_window_secs); }},
      {"event_log", [](const Json& v, Config& c) { return read_bool(v, c.event_log); }},
      {"syslog_server", [](const Json& v, Config& c) { return read_text(v, c.syslog_server); }},
  };
  return kFields;
}

std::string_view skip_byte_order_marks(std::string_view text) {
  constexpr std::string_view kBom = "\xEF\xBB\xBF";
  while (text.substr(0, kBom.size()) == kBom) text.remove_prefix(kBom.size());
  return text;
}

}  // namespace

std::optional<Config> parse_config(std::string_view text) {
  auto members = parse_strict_object(skip_byte_order_marks(text));
  if (!members) return std::nullopt;
  Config config;
  for (const auto& [name, value] : *members) {
    for (const Field& f : fields()) {
      if (name == f.key && !f.read(value, config)) return std::nullopt;
    }
  }
  return config;
}

std::string config_text(const Config& c) {
  Json doc = Json::object();
  doc["toast_min_severity"] = severity_name(c.toast_min_severity);
  doc["auto_response_enabled"] = c.auto_response_enabled;
  doc["auto_response_min_severity"] = severity_name(c.auto_response_min_severity);
  doc["auto_response_suspend"] = c.auto_response_suspend;
  doc["auto_remove_persistence"] = c.auto_remove_persistence;
  doc["auto_stop_ransomware"] = c.auto_stop_ransomware;
  doc["auto_stop_network_threat"] = c.auto_stop_network_threat;
  doc["auto_kill_on_critical"] = c.auto_kill_on_critical;
  doc["auto_quarantine"] = c.auto_quarantine;
  doc["ntfy_topic"] = c.ntfy_topic;
  doc["ntfy_server"] = c.ntfy_server;
  doc["game_mode_enabled"] = c.game_mode_enabled;
  doc["game_processes"] = c.game_processes;
  doc["watch_dirs"] = c.watch_dirs;
  doc["ransomware_burst_count"] = c.ransomware_burst_count;
  doc["ransomware_window_secs"] = c.ransomware_window_secs;
  doc["event_log"] = c.event_log;
  doc["syslog_server"] = c.syslog_server;
  return pretty_json(doc);
}

ConfigReading read_config(const std::filesystem::path& path) {
  const ReadResult file = read_file(path, kMaxJsonFileBytes);
  if (file.status == ReadStatus::NotFound) return {ConfigReading::Status::Missing, Config{}};
  if (file.status != ReadStatus::Ok || !is_valid_utf8(file.bytes)) {
    return {ConfigReading::Status::Unreadable, Config{}};
  }
  std::optional<Config> config = parse_config(file.bytes);
  if (!config) return {ConfigReading::Status::Unreadable, Config{}};
  return {ConfigReading::Status::Ok, std::move(*config)};
}

Config load_config(const std::filesystem::path& path) {
  ConfigReading reading = read_config(path);
  if (reading.status == ConfigReading::Status::Missing) {
    // Created only if still missing: an editor's delete-then-rename save can
    // put the user's file there between the read and this write.
    if (write_new_file(path, config_text(Config{}))) return Config{};
    reading = read_config(path);
  }
  // A file that exists but cannot be read as UTF-8 text, or is too large, is
  // the user's: it is never replaced, the defaults only apply to this load.
  return reading.status == ConfigReading::Status::Ok ? std::move(reading.config) : Config{};
}

}  // namespace tarnwick
