#pragma once
// What the persistence tests share: the detector's parts over the fake
// registry, with a scripted engine image.
// Tests only.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "persist/persist.h"
#include "registry/registry_fake.h"
#include "testsupport/alert_collector.h"

namespace tarnwick::testing {

inline constexpr const char* kEnginePath = "C:\\Program Files\\Tarnwick\\tarnwick.exe";

// The parts of a detector run over the fake registry. The engine runs from
// kEnginePath; `existing_files` lists the files that exist (set it before a
// run starts).
class FakePersistence {
 public:
  FakeRegistry registry;
  CollectedAlerts out;
  EngineFlags flags;
  std::optional<std::string> engine_path = kEnginePath;
  std::set<std::string> existing_files{kEnginePath};

  // For watcher threads: records each wait and returns almost at once.
  PersistenceParts threaded() {
    return parts([this](std::chrono::milliseconds d) {
      record(d);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return !flags.stopping();
    });
  }

  // For a watcher run on the test's thread: before each wait the next step
  // runs; once they are used up the wait is cut short as by `stop`.
  PersistenceParts scripted(std::vector<std::function<void()>> steps) {
    steps_ = std::move(steps);
    return parts([this](std::chrono::milliseconds d) {
      record(d);
      if (next_step_ == steps_.size()) return false;
      steps_[next_step_++]();
      return true;
    });
  }

  std::vector<long long> waits_in_seconds() const {
    std::lock_guard lock(mutex_);
    return waits_;
  }

  // Waits until some loop has asked to wait `seconds`; false after 10 s.
  bool await_wait_of(long long seconds) const {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(10), [&] {
      return std::find(waits_.begin(), waits_.end(), seconds) != waits_.end();
    });
  }

  EngineImage image() {
    return {[this] { return engine_path; },
            [this](const std::string& path) { return existing_files.count(path) != 0; }};
  }

 private:
  PersistenceParts parts(Sleeper sleep) {
    return {registry, image(), out, flags, std::move(sleep)};
  }
  void record(std::chrono::milliseconds d) {
    std::lock_guard lock(mutex_);
    waits_.push_back(std::chrono::duration_cast<std::chrono::seconds>(d).count());
    cv_.notify_all();
  }

  mutable std::mutex mutex_;
  mutable std::condition_variable cv_;
  std::vector<long long> waits_;
  std::vector<std::function<void()>> steps_;
  size_t next_step_ = 0;
};

}  // namespace tarnwick::testing
