#pragma once
// The persistence detector: one watcher per autostart key and the service
// watcher, each on its own thread started by run_persistence_detector, and
// the scheduled-task watcher on the detector's own thread. What they share
// is bundled here; every part must be safe to use from all the watchers at
// once.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/alert_queue.h"
#include "engine/flags.h"
#include "registry/registry.h"

namespace tarnwick {

// What an autostart entry is compared with to recognise the engine's own.
struct EngineImage {
  // The running engine's executable; nothing when it cannot be obtained.
  std::function<std::optional<std::string>()> path;
  // True when a file exists at the path.
  std::function<bool(const std::string&)> exists;
};

// The running executable and the file system.
EngineImage system_engine_image();

struct PersistenceParts {
  RegistryReader& registry;
  EngineImage image;
  AlertOut& out;
  const EngineFlags& flags;
  Sleeper sleep;
};

// Names in `current` but not in `baseline`, sorted so that one comparison
// reports its finds in a stable order; `baseline` then becomes `current`.
std::vector<std::string> take_new_names(NameSet current, NameSet& baseline);

// The polling watchers' loop: a baseline from `read` at once, then every
// `every` (`in_game` while game mode is on) `report` for each new name.
// A read that gives nothing skips that round and keeps the names known
// before; until a first read succeeds there is no baseline, and that read
// becomes it without reports. Returns when `stop` is set.
void poll_new_names(PersistenceParts& p, std::chrono::seconds every, std::chrono::seconds in_game,
                    const std::function<std::optional<NameSet>()>& read,
                    const std::function<void(const std::string&)>& report);

// The detector thread body: runs every watcher (one of them itself) and
// returns once all of them have ended, which happens when `stop` is set.
void run_persistence_detector(PersistenceParts& parts);

}  // namespace tarnwick
