#pragma once
// Alerts for the sink's benchmarks: a typical process alert, and a pool that
// hands out moved copies the way the queue does, refilled outside the timing
// so the copying is not counted as the sink's work.

#include <benchmark/benchmark.h>

#include <string>
#include <utility>
#include <vector>

#include "alert/alert.h"

namespace tarnwick::testing {

inline Alert typical_alert(int i) {
  Alert a = make_alert(
      AlertSource::Process, i % 4 == 0 ? Severity::Critical : Severity::High,
      "Obfuscated / download PowerShell",
      "pid " + std::to_string(1000 + i) +
          ": powershell.exe -NoProfile -ExecutionPolicy Bypass -EncodedCommand "
          "SQBFAFgAIAAoAE4AZQB3AC0ATwBiAGoAZQBjAHQAIABOAGUAdAAuAFcAZQBiAEMAbABpAGUAbgB0ACkA");
  a.pid = 1000 + i;
  a.dedup_key = "psenc:" + std::to_string(1000 + i);
  a.ts_unix = 1765000000 + static_cast<uint64_t>(i);
  return with_mitre(std::move(a), "T1059.001 (PowerShell)", 7.5f);
}

inline std::vector<Alert> typical_alerts(int count) {
  std::vector<Alert> alerts;
  for (int i = 0; i < count; ++i) alerts.push_back(typical_alert(i));
  return alerts;
}

class AlertPool {
 public:
  explicit AlertPool(std::vector<Alert> originals) : originals_(std::move(originals)) {}
  Alert take(benchmark::State& state) {
    if (next_ == pool_.size()) {
      state.PauseTiming();
      pool_ = originals_;
      next_ = 0;
      state.ResumeTiming();
    }
    return std::move(pool_[next_++]);
  }

 private:
  std::vector<Alert> originals_;
  std::vector<Alert> pool_;
  size_t next_ = 0;
};

}  // namespace tarnwick::testing
