#pragma once
// The Windows side of `tarnwick status`: the service's state from the
// service manager, and the command itself wired to the real sources.

#include <ostream>
#include <string_view>

#include "status/status.h"

namespace tarnwick {

// Asked with the least access that reads a state (connect, query status),
// which every user has; Unknown when the manager cannot be asked.
ServiceStatus query_service_status(std::string_view name);

// Prints the status of the service `name` and of the data directory the
// engine would use, as text or as JSON.
void print_status(std::ostream& out, std::string_view service_name, bool json);

}  // namespace tarnwick
