#pragma once
// The two process-wide flags every thread shares. `stop` is set once when
// shutdown is requested and never cleared; `game_mode_active` is written only by
// the game-mode thread. Both are read as plain byte-sized atomics, without a
// lock; setting `stop` also wakes every thread asleep in sleep_unless_stopped.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace tarnwick {

struct EngineFlags {
  std::atomic<bool> stop{false};
  std::atomic<bool> game_mode_active{false};

  bool stopping() const { return stop.load(std::memory_order_relaxed); }
  bool game_mode() const { return game_mode_active.load(std::memory_order_relaxed); }
  void request_stop() {
    stop.store(true, std::memory_order_relaxed);
    // Under the lock, so that a sleeper between its look at `stop` and its
    // wait cannot miss the wake-up.
    std::lock_guard lock(sleep_mutex);
    stop_requested.notify_all();
  }

  // For sleep_unless_stopped only.
  mutable std::mutex sleep_mutex;
  mutable std::condition_variable stop_requested;
};

// Sleeps for `duration` unless `stop` is set first; a stop set while it sleeps
// ends the sleep at once. True only when the whole duration passed with `stop`
// still clear. An idle thread wakes only when its time is up.
bool sleep_unless_stopped(const EngineFlags& flags, std::chrono::milliseconds duration);

// What periodic loops wait with; tests pass one that returns at once.
using Sleeper = std::function<bool(std::chrono::milliseconds)>;

// The real sleeper for `flags`.
Sleeper stop_aware_sleeper(const EngineFlags& flags);

}  // namespace tarnwick
