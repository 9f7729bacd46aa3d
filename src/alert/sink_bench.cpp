// Per-alert cost of the sink's decisions and of the log line serialisation.
#include <benchmark/benchmark.h>

#include <vector>

#include "alert/sink.h"

namespace tarnwick {
namespace {

class NullLog final : public AlertLog {
 public:
  bool append(std::string_view line) override {
    benchmark::DoNotOptimize(line.data());
    return true;
  }
};

Alert typical_alert(int i) {
  Alert a = make_alert(AlertSource::Process, i % 4 == 0 ? Severity::Critical : Severity::High,
                       "Obfuscated / download PowerShell",
                       "pid " + std::to_string(1000 + i) +
                           ": powershell.exe -NoProfile -ExecutionPolicy Bypass -EncodedCommand "
                           "SQBFAFgAIAAoAE4AZQB3AC0ATwBiAGoAZQBjAHQAIABOAGUAdAAuAFcAZQBiAEMAbABpAGUAbgB0ACkA");
  a.pid = 1000 + i;
  a.dedup_key = "psenc:" + std::to_string(1000 + i);
  return with_mitre(std::move(a), "T1059.001 (PowerShell)", 7.5f);
}

struct SinkFixture {
  Config config;
  StatsCounters stats{"unused", {}, std::chrono::steady_clock::now()};
  NullLog log;
  NoNotifier notifier;
  NoResponder responder;
  std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
  AlertSink sink{{config, stats, log, notifier, responder, {}}, [this] { return now; }, now};
  SinkFixture() { config.ntfy_topic = "topic"; }
};

// The sink takes each alert over from the queue (a move). The benchmarks do
// the same from a pool of prepared copies, refilled outside the timing, so the
// copying is not counted as the sink's work.
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

std::vector<Alert> typical_alerts(int count) {
  std::vector<Alert> alerts;
  for (int i = 0; i < count; ++i) alerts.push_back(typical_alert(i));
  return alerts;
}

// Repeats: the repeat test, pruning check, risk and counters, no log line.
void BM_SinkRepeatAlert(benchmark::State& state) {
  SinkFixture f;
  for (const auto& a : typical_alerts(1024)) f.sink.handle(a, f.now);
  AlertPool pool(typical_alerts(1024));
  for (auto _ : state) {
    f.now += std::chrono::milliseconds(10);
    f.sink.handle(pool.take(state), f.now);
  }
}
BENCHMARK(BM_SinkRepeatAlert);

// New keys: every decision plus serialising the log line (written nowhere).
// The key map stays near its pruning bound, as in a burst.
void BM_SinkNewAlert(benchmark::State& state) {
  SinkFixture f;
  // Enough distinct keys that none comes back within 60 s of simulated time.
  AlertPool pool(typical_alerts(8192));
  for (auto _ : state) {
    f.now += std::chrono::milliseconds(10);
    f.sink.handle(pool.take(state), f.now);
  }
}
BENCHMARK(BM_SinkNewAlert);

void BM_SerialiseTypicalAlert(benchmark::State& state) {
  const Alert a = typical_alert(7);
  std::string line;
  for (auto _ : state) {
    line.clear();
    serialise_into(a, line);
    benchmark::DoNotOptimize(line.data());
  }
  state.counters["bytes"] = static_cast<double>(line.size());
}
BENCHMARK(BM_SerialiseTypicalAlert);

}  // namespace
}  // namespace tarnwick
