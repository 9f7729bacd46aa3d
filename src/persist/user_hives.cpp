#include "persist/user_hives.h"

#include <algorithm>
#include <map>
#include <memory>
#include <thread>

#include "engine/supervisor.h"
#include "persist/autostart.h"

namespace tarnwick {

namespace {

// One hive's three watchers on their own stop flag.
class HiveWatch {
 public:
  HiveWatch(const std::string& sid, UserHiveParts& p)
      : keys_(sid, p.account_of(sid)),
        parts_{p.persistence.registry, p.persistence.image, p.persistence.out, flags_,
               p.sleeper_for(flags_)} {
    int number = 0;
    for (const AutostartKey& key : keys_.keys()) {
      threads_.push_back(spawn_thread("persist-user-" + std::to_string(++number),
                                      [this, &key] { run_autostart_watcher(key, parts_); }));
    }
  }
  HiveWatch(const HiveWatch&) = delete;
  HiveWatch& operator=(const HiveWatch&) = delete;
  ~HiveWatch() {
    request_stop();
    for (std::thread& t : threads_) t.join();
  }

  void request_stop() { flags_.request_stop(); }

 private:
  EngineFlags flags_;
  UserHiveKeys keys_;
  PersistenceParts parts_;
  std::vector<std::thread> threads_;
};

}  // namespace

std::vector<std::string> user_hive_names(const NameSet& subkeys) {
  std::vector<std::string> names;
  for (const std::string& name : subkeys) {
    if (is_user_hive_name(name)) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

UserHiveKeys::UserHiveKeys(std::string sid, std::optional<std::string> account)
    : account_(account.value_or("")) {
  // Filled before any view is taken, so that no text moves afterwards.
  for (const UserAutostartRow& row : kUserAutostartRows) {
    subkeys_.push_back(sid + "\\" + std::string(row.subkey));
    labels_.push_back("HKU\\" + sid + std::string(row.label_end));
  }
  for (size_t i = 0; i < subkeys_.size(); ++i) {
    keys_.push_back({Hive::Users, subkeys_[i], labels_[i], AutostartKind::Run, account_});
  }
}

void run_user_hive_watch(UserHiveParts& p) {
  std::map<std::string, std::unique_ptr<HiveWatch>> watched;
  do {
    // A listing that failed says nothing about logoffs: keep every watcher.
    const std::optional<NameSet> listed = p.persistence.registry.subkey_names(Hive::Users, "");
    if (!listed) continue;
    const std::vector<std::string> present = user_hive_names(*listed);
    // A hive that went away (its user logged off) must not be held open: all
    // of them are told at once, then waited for.
    std::vector<std::unique_ptr<HiveWatch>> gone;
    for (auto it = watched.begin(); it != watched.end();) {
      if (std::binary_search(present.begin(), present.end(), it->first)) {
        ++it;
        continue;
      }
      it->second->request_stop();
      gone.push_back(std::move(it->second));
      it = watched.erase(it);
    }
    gone.clear();
    for (const std::string& sid : present) {
      if (watched.size() == kMaxUserHives) break;
      if (watched.count(sid) == 0) watched.emplace(sid, std::make_unique<HiveWatch>(sid, p));
    }
  } while (p.persistence.sleep(kUserHiveScanInterval));
  for (auto& [sid, watch] : watched) watch->request_stop();
  watched.clear();
}

}  // namespace tarnwick
