#include "engine/flags.h"

#include <algorithm>
#include <thread>

namespace tarnwick {

bool sleep_unless_stopped(const EngineFlags& flags, std::chrono::milliseconds duration) {
  using namespace std::chrono;
  const auto deadline = steady_clock::now() + duration;
  std::unique_lock lock(flags.sleep_mutex);
  // Waking only at the deadline or at stop keeps a dozen idle threads from
  // waking four times a second each just to look at the flag.
  flags.stop_requested.wait_until(lock, deadline, [&] { return flags.stopping(); });
  return !flags.stopping();
}

Sleeper stop_aware_sleeper(const EngineFlags& flags) {
  return [&flags](std::chrono::milliseconds d) { return sleep_unless_stopped(flags, d); };
}

}  // namespace tarnwick
