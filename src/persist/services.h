#pragma once
// The service watcher: polls the services key every 15 s (60 s in game mode)
// and reports new services that are not kernel or file-system drivers (those
// are the kernel-driver watch's). Runs on its own thread.

#include <string>
#include <string_view>

#include "alert/alert.h"
#include "persist/persist.h"

namespace tarnwick {

inline constexpr std::string_view kServicesKey = "System\\CurrentControlSet\\Services";

// The registry key of one service, under the services key.
std::string service_key(std::string_view name);

// True only when the service's "Type" reads as exactly 4 bytes holding 1
// (kernel driver) or 2 (file-system driver).
bool is_driver_service(const RegistryReader& registry, const std::string& name);

Alert service_alert(const std::string& name);

// Returns when `stop` is set.
void run_service_watcher(PersistenceParts& parts);

}  // namespace tarnwick
