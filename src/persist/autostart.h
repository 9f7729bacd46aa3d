#pragma once
// The autostart-key watchers: one thread per key below, each asleep on a
// registry change notification and, when woken, reporting every value name
// the key did not hold before, except the engine's own entry, and every
// change of the logon values that always exist. A new Run value's alert asks
// for its deletion, which the automatic response may carry out.

#include <span>
#include <string>
#include <string_view>

#include "alert/alert.h"
#include "persist/persist.h"

namespace tarnwick {

// What a key starts, which decides what is watched beyond new names.
enum class AutostartKind {
  Run,       // every value is a program started at logon: new ones may be deleted
  Winlogon,  // the logon configuration: Shell and Userinit changes count too
  Windows,   // AppInit_DLLs and LoadAppInit_DLLs changes count too
};

struct AutostartKey {
  Hive hive;
  std::string_view subkey;  // under Hive::Users, it starts with the hive's SID
  std::string_view label;   // shown in alerts and keys
  AutostartKind kind = AutostartKind::Run;
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
     "HKLM\\...\\Winlogon (Shell/Userinit)", AutostartKind::Winlogon},
    {Hive::LocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows",
     "HKLM\\...\\Windows (AppInit_DLLs)", AutostartKind::Windows},
    {Hive::CurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run",
     "HKCU\\...\\Policies\\Explorer\\Run"},
    // 32-bit programs writing the HKLM keys above land here instead, and
    // the system runs what they hold as well.
    {Hive::LocalMachine, "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Run",
     "HKLM\\...\\Run (32-bit)"},
    {Hive::LocalMachine, "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
     "HKLM\\...\\RunOnce (32-bit)"},
    {Hive::LocalMachine,
     "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run",
     "HKLM\\...\\Policies\\Explorer\\Run (32-bit)"},
};

// A value that always exists under a Winlogon or Windows key, so a new name
// never shows it being changed; its data is compared instead.
struct WatchedValue {
  std::string_view name;
  bool number;  // a REG_DWORD, shown in decimal
};

// The values of `kind` whose data is compared on every change; none for Run keys.
std::span<const WatchedValue> watched_values(AutostartKind kind);

// A value name as alerts show it: each NUL the registry allowed inside it
// written as "\0", so "SecurityHealth\0x" cannot pass for "SecurityHealth".
std::string shown_value_name(std::string_view name);

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
// starts a "...tarnwick.exe" in the running engine's folder, which exists.
// The folders are compared as text before the file system is asked, and a
// network path ("\\\\host\\share\\...") is never the engine's own.
bool is_own_entry(std::string_view name, std::string_view command, const EngineImage& image);

// "New autostart entry" for value `name` of `key`, asking for its deletion
// (under a Run key only: deleting logon configuration could break logon).
// A key under Hive::Users is deleted through hive text "HKU\{SID}", and its
// detail names the account when the key carries one.
Alert autostart_alert(const AutostartKey& key, const std::string& name);

// "Autostart value changed" for a watched value of a Winlogon or Windows key.
Alert autostart_change_alert(const AutostartKey& key, std::string_view name,
                             std::string_view old_data, std::string_view new_data);

// One watcher's thread body; returns when `stop` is set, or at once when the
// key's change notification cannot be set up at all.
void run_autostart_watcher(const AutostartKey& key, PersistenceParts& parts);

}  // namespace tarnwick
