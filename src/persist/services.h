#pragma once
// The service watcher: polls the services key every 15 s (60 s in game mode)
// and reports new services that are not kernel or file-system drivers (those
// are the kernel-driver watch's). Runs on its own thread.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "alert/alert.h"
#include "persist/persist.h"

namespace tarnwick {

inline constexpr std::string_view kServicesKey = "System\\CurrentControlSet\\Services";

// The registry key of one service, under the services key.
std::string service_key(std::string_view name);

// A service "Type" of 1 (kernel driver) or 2 (file-system driver).
inline bool is_driver_type(uint32_t type) {
  return type == 1 || type == 2;
}

// True only when the service's "Type" reads as exactly 4 bytes holding 1
// (kernel driver) or 2 (file-system driver).
bool is_driver_service(const RegistryReader& registry, const std::string& name);

// The "Type" of each service, read when its name is first listed and kept
// until a listing no longer holds the name, so a steady services key costs no
// value reads. A Type that cannot be read is not kept: a key still being
// written is read again at the next listing. A Type changed in place under a
// kept name is seen once the name has been gone from a listing.
class ServiceTypes {
 public:
  using ReadType = std::function<std::optional<uint32_t>(const std::string& name)>;
  explicit ServiceTypes(ReadType read) : read_(std::move(read)) {}

  // The driver services (Type exactly 1 or 2) among `listing`, a listing of
  // the services key; names it does not hold are forgotten.
  NameSet drivers_among(const NameSet& listing);

 private:
  ReadType read_;
  std::map<std::string, uint32_t> types_;
};

// Reads a service's "Type" from `registry`.
ServiceTypes::ReadType service_type_reader(const RegistryReader& registry);

Alert service_alert(const std::string& name);

// Returns when `stop` is set.
void run_service_watcher(PersistenceParts& parts);

}  // namespace tarnwick
