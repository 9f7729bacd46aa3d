#include "engine/flags.h"

#include <algorithm>
#include <thread>

namespace tarnwick {

bool sleep_unless_stopped(const EngineFlags& flags, std::chrono::milliseconds duration) {
  using namespace std::chrono;
  constexpr milliseconds kSlice{250};
  const auto deadline = steady_clock::now() + duration;
  for (;;) {
    if (flags.stopping()) return false;
    const auto now = steady_clock::now();
    if (now >= deadline) break;
    std::this_thread::sleep_for(std::min<steady_clock::duration>(kSlice, deadline - now));
  }
  return !flags.stopping();
}

Sleeper stop_aware_sleeper(const EngineFlags& flags) {
  return [&flags](std::chrono::milliseconds d) { return sleep_unless_stopped(flags, d); };
}

}  // namespace tarnwick
