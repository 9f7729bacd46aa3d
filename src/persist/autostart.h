#pragma once
// The autostart-key watchers: one thread per key below, each asleep on a
// registry change notification and, when woken, reporting every value name
// the key did not hold before, except the engine's own entry. Each alert asks
// for the value's deletion, which the automatic response may carry out.

#include <string>
#include <string_view>

#include "alert/alert.h"
#include "persist/persist.h"

namespace tarnwick {

struct AutostartKey {
  Hive hive;
  std::string_view subkey;  // under Hive::Users, it starts with the hive's SID
  std::string_view label;   // shown in alerts and keys
  // The person a per-user key belongs to ("DOMAIN\name"), when known.
  std::string_view account = {};
};

inline constexpr AutostartKey kAutostartKeys[] = {
    {Hive::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "HKCU\\...\\Run"},
    {Hive::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
     "HKCU\\...\\RunOnce"},
    {Hive::LocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\Run", "HKLM\\...\\Run"},
    {Hive::LocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
     "HKLM\\...\\RunOnce"},
    {Hive::LocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run",
     "HKLM\\...\\Policies\\Explorer\\Run"},
    {Hive::LocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon",
     "HKLM\\...\\Winlogon (Shell/Userinit)"},
    {Hive::LocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows",
     "HKLM\\...\\Windows (AppInit_DLLs)"},
    {Hive::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run",
     "HKCU\\...\\Policies\\Explorer\\Run"},
};

// The program an autostart command starts: after trimming white space, the
// text inside the leading double quotes (to the end when the closing one is
// missing), else the text up to the first white space.
std::string_view command_program(std::string_view command);

// True when both paths have a parent folder and those folders are the same,
// compared component by component with letter case significant. Either
// separator counts; repeated separators inside a path count as one.
bool same_parent_folder(std::string_view a, std::string_view b);

// Whether a new value named `name` holding `command` is the engine's own
// autostart entry: the name is "Tarnwick" in any ASCII case, the command
// starts an existing "...tarnwick.exe" in the running engine's folder.
bool is_own_entry(std::string_view name, std::string_view command, const EngineImage& image);

// "New autostart entry" for value `name` of `key`, asking for its deletion.
// A key under Hive::Users is deleted through hive text "HKU\{SID}", and its
// detail names the account when the key carries one.
Alert autostart_alert(const AutostartKey& key, const std::string& name);

// One watcher's thread body; returns when `stop` is set, or at once when the
// key's change notification cannot be set up at all.
void run_autostart_watcher(const AutostartKey& key, PersistenceParts& parts);

}  // namespace tarnwick
