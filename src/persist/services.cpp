#include "persist/services.h"

#include <chrono>

namespace tarnwick {

bool is_driver_service(const RegistryReader& registry, const std::string& name) {
  const auto type =
      registry.read_u32(Hive::LocalMachine, std::string(kServicesKey) + "\\" + name, "Type");
  return type && (*type == 1 || *type == 2);
}

Alert service_alert(const std::string& name) {
  Alert alert =
      make_alert(AlertSource::Persistence, Severity::Medium, "New Windows service registered",
                 "Service \"" + name + "\" appeared in the registry.");
  alert.dedup_key = "svc:" + name;
  return alert;
}

void run_service_watcher(PersistenceParts& p) {
  using std::chrono::seconds;
  NameSet baseline = p.registry.subkey_names(Hive::LocalMachine, kServicesKey);
  while (!p.flags.stopping()) {
    if (!p.sleep(p.flags.game_mode() ? seconds(60) : seconds(15))) return;
    NameSet current = p.registry.subkey_names(Hive::LocalMachine, kServicesKey);
    for (const std::string& name : new_names(current, baseline)) {
      // A service whose type cannot be read yet may be a driver still being
      // written; it is reported rather than let through.
      if (!is_driver_service(p.registry, name)) p.out.push(service_alert(name));
    }
    baseline = std::move(current);
  }
}

}  // namespace tarnwick
