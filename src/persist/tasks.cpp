#include "persist/tasks.h"

#include <chrono>

namespace tarnwick {

std::optional<NameSet> task_names(const RegistryReader& registry) {
  const std::string tree(kTaskTreeKey);
  const std::optional<NameSet> folders = registry.subkey_names(Hive::LocalMachine, tree);
  if (!folders) return std::nullopt;
  NameSet names;
  for (const std::string& folder : *folders) {
    const std::optional<NameSet> tasks =
        registry.subkey_names(Hive::LocalMachine, tree + "\\" + folder);
    if (!tasks) return std::nullopt;
    for (const std::string& task : *tasks) names.insert(folder + "\\" + task);
    names.insert(folder);
  }
  return names;
}

bool is_system_task(std::string_view name) {
  return name == "Microsoft" || name.starts_with("Microsoft\\");
}

Alert task_alert(const std::string& name) {
  Alert alert = make_alert(
      AlertSource::Persistence, Severity::High, "New scheduled task created",
      "Scheduled task \"" + name +
          "\" was registered. Attackers use scheduled tasks to persist and run code on a "
          "timer or at logon (T1053.005).");
  alert.dedup_key = "task:" + name;
  return with_mitre(std::move(alert), "T1053.005 (Scheduled Task)", 7.2f);
}

void run_task_watcher(PersistenceParts& p) {
  using std::chrono::seconds;
  poll_new_names(
      p, seconds(10), seconds(45), [&p] { return task_names(p.registry); },
      [&p](const std::string& name) {
        if (!is_system_task(name)) p.out.push(task_alert(name));
      });
}

}  // namespace tarnwick
