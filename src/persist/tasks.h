#pragma once
// The scheduled-task watcher: polls the Task Scheduler's registry cache every
// 10 s (45 s in game mode) and reports task names it has not seen before,
// except those in the system's own "Microsoft" folder. Runs on its own thread.

#include <string>
#include <string_view>

#include "alert/alert.h"
#include "persist/persist.h"

namespace tarnwick {

inline constexpr std::string_view kTaskTreeKey =
    "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache\\Tree";

// Every first-level name N of the task tree, and N\M for every name M below
// N. Deeper levels are not read. Nothing when any of these listings failed.
std::optional<NameSet> task_names(const RegistryReader& registry);

// "Microsoft" and everything below it, in exactly that letter case.
bool is_system_task(std::string_view name);

Alert task_alert(const std::string& name);

// Returns when `stop` is set.
void run_task_watcher(PersistenceParts& parts);

}  // namespace tarnwick
