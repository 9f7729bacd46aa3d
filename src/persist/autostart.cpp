#include "persist/autostart.h"

#include <algorithm>
#include <chrono>
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

// Reads the key again and reports what is new since `baseline`, which then
// becomes what was read.
void report_new_values(const AutostartKey& key, PersistenceParts& p, NameSet& baseline) {
  for (const std::string& name :
       take_new_names(p.registry.value_names(key.hive, key.subkey), baseline)) {
    // The data is only worth reading for a value that carries the engine's name.
    if (ascii_lower(name) == "tarnwick" &&
        is_own_entry(name, p.registry.read_text(key.hive, key.subkey, name).value_or(""),
                     p.image)) {
      continue;
    }
    p.out.push(autostart_alert(key, name));
  }
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
  if (!image.exists(program)) return false;
  const std::optional<std::string> engine = image.path();
  return engine && same_parent_folder(*engine, program);
}

Alert autostart_alert(const AutostartKey& key, const std::string& name) {
  std::string detail = "Added \"" + name + "\" under " + std::string(key.label);
  if (!key.account.empty()) detail += " (user " + std::string(key.account) + ")";
  Alert alert = make_alert(AlertSource::Persistence, Severity::High, "New autostart entry",
                           std::move(detail));
  alert.dedup_key = "run:" + std::string(key.label) + ":" + name;
  std::string hive(hive_text(key.hive));
  std::string_view subkey = key.subkey;
  if (key.hive == Hive::Users) {
    // The SID moves from the path into the hive text: "HKU\{SID}".
    const size_t sid_end = std::min(subkey.find('\\'), subkey.size());
    hive += "\\" + std::string(subkey.substr(0, sid_end));
    subkey.remove_prefix(std::min(sid_end + 1, subkey.size()));
  }
  alert.remediation = DeleteRegValue{std::move(hive), std::string(subkey), name};
  return with_mitre(std::move(alert), "T1547.001 (Registry Run Key)", 7.2f);
}

void run_autostart_watcher(const AutostartKey& key, PersistenceParts& p) {
  NameSet baseline = p.registry.value_names(key.hive, key.subkey);
  const std::unique_ptr<ValueChangeWatch> watch = p.registry.watch_values(key.hive, key.subkey);
  if (!watch) return;
  // A notification covers changes after its registration only. Each change is
  // read before the watch is registered again on a freshly opened key, so a
  // value written in between would wait for the key's next change, which may
  // never come; the key is read once more right after each such registration.
  // Not after a key that could not be opened, though: a key that appears is
  // first compared at its first change.
  bool read_after_arming = true;
  while (!p.flags.stopping()) {
    if (!watch->arm()) {
      read_after_arming = false;
      if (!p.sleep(kReopenDelay)) return;
      continue;
    }
    if (read_after_arming) report_new_values(key, p, baseline);
    switch (watch->wait(p.flags)) {
      case ValueChangeWatch::Wait::Stopped: return;
      case ValueChangeWatch::Wait::Failed:
        // The wait object broke: let a moment pass rather than spin on it.
        watch->close();
        read_after_arming = true;
        if (!p.sleep(kReopenDelay)) return;
        continue;
      case ValueChangeWatch::Wait::Changed: break;
    }
    report_new_values(key, p, baseline);
    watch->close();
    read_after_arming = true;
  }
}

}  // namespace tarnwick
