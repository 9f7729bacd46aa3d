#pragma once
// The hand-off from a trace session's event thread to its detector's thread.
// The event thread only copies what it needs and pushes; the rules, and any
// slow check such as a signature, run on the detector thread. A stalled
// detector cannot stall the session (events behind a stalled callback are
// lost by the system, uncounted): the queue is bounded, and when it is full
// the oldest event goes and is counted.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "alert/alert.h"

namespace tarnwick {

inline constexpr size_t kTraceQueueCapacity = 10000;

template <typename T>
class TraceEventQueue {
 public:
  explicit TraceEventQueue(size_t capacity = kTraceQueueCapacity) : capacity_(capacity) {}

  void push(T event) {
    std::lock_guard lock(mutex_);
    if (capacity_ == 0) {
      ++dropped_;
      return;
    }
    if (events_.size() >= capacity_) {
      events_.pop_front();
      ++dropped_;
    }
    events_.push_back(std::move(event));
  }

  // Everything queued, oldest first; the queue is left empty.
  std::deque<T> take_all() {
    std::deque<T> taken;
    std::lock_guard lock(mutex_);
    taken.swap(events_);
    return taken;
  }

  // The number dropped since the last call.
  uint64_t take_dropped() {
    std::lock_guard lock(mutex_);
    return std::exchange(dropped_, 0);
  }

 private:
  const size_t capacity_;
  std::mutex mutex_;
  std::deque<T> events_;
  uint64_t dropped_ = 0;
};

// Turns drop counts into at most one Low System alert a minute, while any
// are dropped: "{n} {kind} events were dropped because the detector fell
// behind." Counts in between add up to the next alert.
class DropReport {
 public:
  DropReport(std::string title, std::string kind) : title_(std::move(title)), kind_(std::move(kind)) {}

  std::optional<Alert> note(uint64_t dropped, std::chrono::steady_clock::time_point now);

 private:
  std::string title_;
  std::string kind_;
  uint64_t pending_ = 0;
  std::optional<std::chrono::steady_clock::time_point> last_;
};

inline constexpr std::chrono::seconds kDropReportInterval{60};

}  // namespace tarnwick
