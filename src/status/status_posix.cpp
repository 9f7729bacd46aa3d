// Local time for the native build.
#include <time.h>

#include "status/status.h"

namespace tarnwick {

LocalTime system_local_time() {
  return [](uint64_t ts) -> std::optional<std::tm> {
    const auto t = static_cast<time_t>(ts);
    std::tm tm{};
    if (static_cast<uint64_t>(t) != ts || localtime_r(&t, &tm) == nullptr) return std::nullopt;
    return tm;
  };
}

}  // namespace tarnwick
