#pragma once
// Alert destinations that keep what detectors push, for tests to inspect:
// a plain one for code that runs on the test's thread, and a locked one that
// watcher threads may push to while the test waits. Tests only.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "engine/alert_queue.h"

namespace tarnwick::testing {

class AlertCollector final : public AlertOut {
 public:
  std::vector<Alert> alerts;
  void push(Alert alert) override { alerts.push_back(std::move(alert)); }
  std::vector<std::string> titles() const {
    std::vector<std::string> t;
    for (const Alert& a : alerts) t.push_back(a.title);
    return t;
  }
};

// Thread-safe: detector threads push, the test reads copies and waits.
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
