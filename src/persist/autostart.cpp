#include "persist/autostart.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "text/text.h"

namespace tarnwick {

namespace {

constexpr std::chrono::seconds kReopenDelay{10};

bool is_separator(char c) {
  return c == '\\' || c == '/';
}

// The folder components of `path` (all but the last), with how many
// separators the path starts with, so that "\x", "\\x" and "x" differ.
struct Folder {
  size_t leading_separators = 0;
  std::vector<std::string_view> components;
  bool operator==(const Folder&) const = default;
};

std::optional<Folder> parent_folder(std::string_view path) {
  Folder folder;
  while (folder.leading_separators < path.size() && is_separator(path[folder.leading_separators])) {
    ++folder.leading_separators;
  }
  std::vector<std::string_view> parts;
  size_t start = folder.leading_separators;
  for (size_t i = start; i <= path.size(); ++i) {
    if (i == path.size() || is_separator(path[i])) {
      if (i > start) parts.push_back(path.substr(start, i - start));
      start = i + 1;
    }
  }
  if (parts.empty()) return std::nullopt;
  parts.pop_back();
  if (parts.empty() && folder.leading_separators == 0) return std::nullopt;
  folder.components = std::move(parts);
  return folder;
}

constexpr WatchedValue kWinlogonValues[] = {{"Shell", false}, {"Userinit", false}};
constexpr WatchedValue kWindowsValues[] = {{"AppInit_DLLs", false}, {"LoadAppInit_DLLs", true}};

constexpr size_t kShownDataCharacters = 200;

// At most `max` characters (code points) of `text`.
std::string cut_characters(std::string_view text, size_t max) {
  size_t pos = 0;
  for (size_t n = 0; n < max && pos < text.size(); ++n) decode_utf8(text, pos);
  return std::string(text.substr(0, pos));
}

// What one watcher knows of its key: nothing until a listing succeeds.
struct KeyState {
  std::optional<NameSet> names;
  std::map<std::string_view, std::optional<std::string>> data;  // by watched value name
};

std::optional<std::string> read_watched(const AutostartKey& key, const WatchedValue& value,
                                        const RegistryReader& registry) {
  if (!value.number) return registry.read_text(key.hive, key.subkey, value.name);
  const std::optional<uint32_t> number = registry.read_u32(key.hive, key.subkey, value.name);
  if (!number) return std::nullopt;
  std::string text;
  append_decimal(*number, text);
  return text;
}

// Reads the key again and reports what is new since the last reading, which
// then becomes what was read. A listing that failed reports nothing and
// keeps the last one.
void report_changes(const AutostartKey& key, PersistenceParts& p, KeyState& state) {
  std::optional<NameSet> current = p.registry.value_names(key.hive, key.subkey);
  if (!current) return;
  std::map<std::string_view, std::optional<std::string>> data;
  for (const WatchedValue& value : watched_values(key.kind)) {
    data[value.name] = read_watched(key, value, p.registry);
  }
  if (!state.names) {
    state.names = std::move(current);
    state.data = std::move(data);
    return;
  }
  for (const std::string& name : take_new_names(std::move(*current), *state.names)) {
    // The data is only worth reading for a value that carries the engine's name.
    if (ascii_lower(name) == "tarnwick" &&
        is_own_entry(name, p.registry.read_text(key.hive, key.subkey, name).value_or(""),
                     p.image)) {
      continue;
    }
    p.out.push(autostart_alert(key, name));
  }
  for (const WatchedValue& value : watched_values(key.kind)) {
    const std::optional<std::string>& before = state.data[value.name];
    const std::optional<std::string>& now = data[value.name];
    if (before && now && *before != *now) {
      p.out.push(autostart_change_alert(key, value.name, *before, *now));
    }
  }
  state.data = std::move(data);
}

}  // namespace

std::string_view command_program(std::string_view command) {
  const std::string_view text = trim_white_space(command);
  if (!text.empty() && text.front() == '"') {
    const std::string_view rest = text.substr(1);
    return rest.substr(0, rest.find('"'));
  }
  for (size_t pos = 0; pos < text.size();) {
    const size_t at = pos;
    if (is_white_space(decode_utf8(text, pos))) return text.substr(0, at);
  }
  return text;
}

bool same_parent_folder(std::string_view a, std::string_view b) {
  const auto folder_a = parent_folder(a);
  const auto folder_b = parent_folder(b);
  return folder_a && folder_b && *folder_a == *folder_b;
}

bool is_own_entry(std::string_view name, std::string_view command, const EngineImage& image) {
  if (ascii_lower(name) != "tarnwick") return false;
  if (command.empty()) return false;
  const std::string program(command_program(command));
  if (!to_lower(program).ends_with("tarnwick.exe")) return false;
  // Asking whether a network path exists makes the service, as SYSTEM,
  // connect to whatever host the value names.
  if (program.size() >= 2 && is_separator(program[0]) && is_separator(program[1])) return false;
  const std::optional<std::string> engine = image.path();
  if (!engine || !same_parent_folder(*engine, program)) return false;
  return image.exists(program);
}

std::span<const WatchedValue> watched_values(AutostartKind kind) {
  switch (kind) {
    case AutostartKind::Winlogon: return kWinlogonValues;
    case AutostartKind::Windows: return kWindowsValues;
    case AutostartKind::Run: break;
  }
  return {};
}

Alert autostart_alert(const AutostartKey& key, const std::string& name) {
  const std::string shown = shown_value_name(name);
  std::string detail = "Added \"" + shown + "\" under " + std::string(key.label);
  if (!key.account.empty()) detail += " (user " + std::string(key.account) + ")";
  Alert alert = make_alert(AlertSource::Persistence, Severity::High, "New autostart entry",
                           std::move(detail));
  alert.dedup_key = "run:" + std::string(key.label) + ":" + shown;
  // The exact name, NULs and all: deleting by a shortened one would remove
  // the legitimate value it imitates.
  if (key.kind == AutostartKind::Run) {
    std::string hive(hive_text(key.hive));
    std::string_view subkey = key.subkey;
    if (key.hive == Hive::Users) {
      // The SID moves from the path into the hive text: "HKU\{SID}".
      const size_t sid_end = std::min(subkey.find('\\'), subkey.size());
      hive += "\\" + std::string(subkey.substr(0, sid_end));
      subkey.remove_prefix(std::min(sid_end + 1, subkey.size()));
    }
    alert.remediation = DeleteRegValue{std::move(hive), std::string(subkey), name};
  }
  return with_mitre(std::move(alert), "T1547.001 (Registry Run Key)", 7.2f);
}

Alert autostart_change_alert(const AutostartKey& key, std::string_view name,
                             std::string_view old_data, std::string_view new_data) {
  const std::string label(key.label);
  Alert alert = make_alert(AlertSource::Persistence, Severity::High, "Autostart value changed",
                           "Changed \"" + std::string(name) + "\" under " + label + " from \"" +
                               cut_characters(old_data, kShownDataCharacters) + "\" to \"" +
                               cut_characters(new_data, kShownDataCharacters) + "\"");
  alert.dedup_key = "runchg:" + label + ":" + std::string(name);
  // No remediation: putting the old data back could break logon as easily.
  if (key.kind == AutostartKind::Winlogon) {
    return with_mitre(std::move(alert), "T1547.004 (Winlogon Helper DLL)", 7.2f);
  }
  return with_mitre(std::move(alert), "T1546.010 (AppInit DLLs)", 7.2f);
}

void run_autostart_watcher(const AutostartKey& key, PersistenceParts& p) {
  KeyState state;
  report_changes(key, p, state);
  const std::unique_ptr<ValueChangeWatch> watch = p.registry.watch_values(key.hive, key.subkey);
  if (!watch) return;
  // A notification covers changes after its registration only, so the key is
  // read right after each registration: a change between the last reading
  // and this registration, or a key created together with its values since
  // the last attempt, is seen at once rather than at some later change.
  while (!p.flags.stopping()) {
    if (!watch->arm()) {
      if (!p.sleep(kReopenDelay)) return;
      continue;
    }
    report_changes(key, p, state);
    switch (watch->wait(p.flags)) {
      case ValueChangeWatch::Wait::Stopped: return;
      case ValueChangeWatch::Wait::Failed:
        // The wait object broke: let a moment pass rather than spin on it.
        watch->close();
        if (!p.sleep(kReopenDelay)) return;
        continue;
      case ValueChangeWatch::Wait::Changed: break;
    }
    // Read before registering again too, so that what this change did is
    // judged against the reading it followed.
    report_changes(key, p, state);
    watch->close();
  }
}

}  // namespace tarnwick
