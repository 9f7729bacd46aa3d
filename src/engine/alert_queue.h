#pragma once
// The one channel from every detector to the alert pipeline: an unbounded FIFO
// under one lock. Any thread may push; only the sink pops. Closing wakes the
// consumer, which still receives every alert queued before end-of-stream.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "alert/alert.h"

namespace tarnwick {

class AlertQueue {
 public:
  // Appends even after close(); never fails.
  void push(Alert alert);
  void close();
  // Blocks until an alert is at the front (returned) or the queue is closed and
  // empty (nullopt). Re-checks at least every 500 ms.
  std::optional<Alert> pop();

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Alert> alerts_;
  std::atomic<bool> closed_{false};
};

// Where detectors send alerts. The engine passes the queue; tests and the
// replay tool pass collectors.
class AlertOut {
 public:
  virtual ~AlertOut() = default;
  virtual void push(Alert alert) = 0;
};

class QueueOut final : public AlertOut {
 public:
  explicit QueueOut(AlertQueue& queue) : queue_(queue) {}
  void push(Alert alert) override { queue_.push(std::move(alert)); }

 private:
  AlertQueue& queue_;
};

}  // namespace tarnwick
