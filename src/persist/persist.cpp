#include "persist/persist.h"

#include <algorithm>
#include <thread>

#include "engine/supervisor.h"
#include "fileio/fileio.h"
#include "persist/autostart.h"
#include "persist/services.h"
#include "persist/tasks.h"
#include "sysenv/sysenv.h"

namespace tarnwick {

EngineImage system_engine_image() {
  return {[]() -> std::optional<std::string> {
            const ExecutablePath exe = executable_path();
            if (!exe.path) return std::nullopt;
            return path_to_utf8(*exe.path);
          },
          [](const std::string& path) {
            return tarnwick::file_size(path_from_utf8(path)).has_value();
          }};
}

std::vector<std::string> take_new_names(NameSet current, NameSet& baseline) {
  std::vector<std::string> found;
  for (const std::string& name : current) {
    if (baseline.count(name) == 0) found.push_back(name);
  }
  std::sort(found.begin(), found.end());
  baseline = std::move(current);
  return found;
}

void poll_new_names(PersistenceParts& p, std::chrono::seconds every, std::chrono::seconds in_game,
                    const std::function<std::optional<NameSet>()>& read,
                    const std::function<void(const std::string&)>& report) {
  // A listing that failed says nothing about which names went away; judging
  // it would report every name it missed as new at the next good one.
  std::optional<NameSet> baseline = read();
  while (!p.flags.stopping()) {
    if (!p.sleep(p.flags.game_mode() ? in_game : every)) return;
    std::optional<NameSet> current = read();
    if (!current) continue;
    if (!baseline) {
      baseline = std::move(current);
      continue;
    }
    for (const std::string& name : take_new_names(std::move(*current), *baseline)) report(name);
  }
}

void run_persistence_detector(PersistenceParts& parts) {
  std::vector<std::thread> watchers;
  int number = 0;
  for (const AutostartKey& key : kAutostartKeys) {
    watchers.push_back(spawn_thread("persist-run-" + std::to_string(++number),
                                    [&parts, &key] { run_autostart_watcher(key, parts); }));
  }
  watchers.push_back(spawn_thread("persist-svc", [&parts] { run_service_watcher(parts); }));
  // The detector's own thread would only wait for the others: it watches the
  // tasks itself.
  run_task_watcher(parts);
  for (std::thread& watcher : watchers) watcher.join();
}

}  // namespace tarnwick
