#pragma once
// The autostart keys of the people who use the machine, for an engine run as
// the service: its own HKEY_CURRENT_USER is the service account's. One thread
// lists HKEY_USERS every 10 s; each person's hive that is loaded gets three
// autostart watchers of its own, which end (closing every key they hold, so
// that the profile can unload) when the hive goes away.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "persist/autostart.h"
#include "persist/persist.h"

namespace tarnwick {

inline constexpr std::chrono::seconds kUserHiveScanInterval{10};
inline constexpr size_t kMaxUserHives = 64;

// The per-user rows: the subkey under the hive, and the label's end after "HKU\{SID}".
struct UserAutostartRow {
  std::string_view subkey;
  std::string_view label_end;
};
inline constexpr UserAutostartRow kUserAutostartRows[] = {
    {"Software\\Microsoft\\Windows\\CurrentVersion\\Run", "\\...\\Run"},
    {"Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce", "\\...\\RunOnce"},
    {"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run",
     "\\...\\Policies\\Explorer\\Run"},
};

// The subkeys of HKEY_USERS that are people's hives (is_user_hive_name), sorted.
std::vector<std::string> user_hive_names(const NameSet& subkeys);

// The watched keys of one hive, holding the texts their views point into.
class UserHiveKeys {
 public:
  UserHiveKeys(std::string sid, std::optional<std::string> account);
  UserHiveKeys(const UserHiveKeys&) = delete;
  UserHiveKeys& operator=(const UserHiveKeys&) = delete;
  const std::vector<AutostartKey>& keys() const { return keys_; }

 private:
  std::string account_;
  std::vector<std::string> subkeys_;
  std::vector<std::string> labels_;
  std::vector<AutostartKey> keys_;
};

// "DOMAIN\name" for a SID, when the system knows it.
using AccountLookup = std::function<std::optional<std::string>(const std::string& sid)>;
// The sleeper one hive's watchers wait with, cut short by that hive's own stop.
using SleeperFor = std::function<Sleeper(const EngineFlags&)>;

struct UserHiveParts {
  // Its sleeper paces the scans; its flags end the whole watch.
  PersistenceParts& persistence;
  AccountLookup account_of;
  SleeperFor sleeper_for;
};

// The listing thread's body; returns once the engine stops and every hive's
// watchers have ended.
void run_user_hive_watch(UserHiveParts& parts);

}  // namespace tarnwick
