#pragma once
// The two process-wide flags every thread shares. `stop` is set once when
// shutdown is requested and never cleared; `game_mode_active` is written only by
// the game-mode thread. Plain byte-sized atomics: no lock is ever taken.

#include <atomic>
#include <chrono>
#include <functional>

namespace tarnwick {

struct EngineFlags {
  std::atomic<bool> stop{false};
  std::atomic<bool> game_mode_active{false};

  bool stopping() const { return stop.load(std::memory_order_relaxed); }
  bool game_mode() const { return game_mode_active.load(std::memory_order_relaxed); }
  void request_stop() { stop.store(true, std::memory_order_relaxed); }
};

// Sleeps in slices of at most 250 ms, looking at `stop` before each. True only
// when the whole duration passed with `stop` still clear.
bool sleep_unless_stopped(const EngineFlags& flags, std::chrono::milliseconds duration);

// What periodic loops wait with; tests pass one that returns at once.
using Sleeper = std::function<bool(std::chrono::milliseconds)>;

// The real sleeper for `flags`.
Sleeper stop_aware_sleeper(const EngineFlags& flags);

}  // namespace tarnwick
