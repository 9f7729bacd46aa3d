#include "engine/alert_queue.h"

#include <chrono>

namespace tarnwick {

void AlertQueue::push(Alert alert) {
  std::lock_guard lock(mutex_);
  alerts_.push_back(std::move(alert));
  ready_.notify_one();
}

void AlertQueue::close() {
  {
    // Taking the lock orders the flag with a consumer that is about to wait,
    // so the wake-up cannot be missed.
    std::lock_guard lock(mutex_);
    closed_.store(true);
  }
  ready_.notify_all();
}

std::optional<Alert> AlertQueue::pop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (!alerts_.empty()) {
      Alert front = std::move(alerts_.front());
      alerts_.pop_front();
      return front;
    }
    if (closed_.load()) return std::nullopt;
    ready_.wait_for(lock, std::chrono::milliseconds(500));
  }
}

}  // namespace tarnwick
