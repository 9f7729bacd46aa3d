#pragma once
// An alert destination that keeps what detectors push from any thread, and
// lets a test wait for them. Tests only.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "engine/alert_queue.h"

namespace tarnwick::testing {

class CollectedAlerts final : public AlertOut {
 public:
  void push(Alert alert) override {
    std::lock_guard lock(mutex_);
    alerts_.push_back(std::move(alert));
    cv_.notify_all();
  }
  std::vector<Alert> alerts() const {
    std::lock_guard lock(mutex_);
    return alerts_;
  }
  std::vector<std::string> keys() const {
    std::vector<std::string> keys;
    for (const Alert& a : alerts()) keys.push_back(a.dedup_key);
    return keys;
  }
  // Waits until at least `n` alerts arrived; false after 10 s.
  bool await(size_t n) const {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return alerts_.size() >= n; });
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  std::vector<Alert> alerts_;
};

}  // namespace tarnwick::testing
