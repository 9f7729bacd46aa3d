#include "persist/services.h"

#include <chrono>

namespace tarnwick {

std::string service_key(std::string_view name) {
  return std::string(kServicesKey) + "\\" + std::string(name);
}

bool is_driver_service(const RegistryReader& registry, const std::string& name) {
  const auto type = registry.read_u32(Hive::LocalMachine, service_key(name), "Type");
  return type && is_driver_type(*type);
}

NameSet ServiceTypes::drivers_among(const NameSet& listing) {
  std::erase_if(types_, [&](const auto& kv) { return listing.count(kv.first) == 0; });
  NameSet drivers;
  for (const std::string& name : listing) {
    auto known = types_.find(name);
    if (known == types_.end()) {
      const std::optional<uint32_t> type = read_(name);
      if (!type) continue;
      known = types_.emplace(name, *type).first;
    }
    if (is_driver_type(known->second)) drivers.insert(name);
  }
  return drivers;
}

ServiceTypes::ReadType service_type_reader(const RegistryReader& registry) {
  return [&registry](const std::string& name) {
    return registry.read_u32(Hive::LocalMachine, service_key(name), "Type");
  };
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
  poll_new_names(
      p, seconds(15), seconds(60),
      [&p] { return p.registry.subkey_names(Hive::LocalMachine, kServicesKey); },
      [&p](const std::string& name) {
        // A service whose type cannot be read yet may be a driver still being
        // written; it is reported rather than let through.
        if (!is_driver_service(p.registry, name)) p.out.push(service_alert(name));
      });
}

}  // namespace tarnwick
