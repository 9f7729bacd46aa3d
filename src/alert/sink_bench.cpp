// Per-alert cost of the sink's decisions and of the log line serialisation.
#include <benchmark/benchmark.h>

#include <vector>

#include "alert/sink.h"
#include "testsupport/bench_alerts.h"

namespace tarnwick {
namespace {

using testing::AlertPool;
using testing::typical_alert;
using testing::typical_alerts;

class NullLog final : public AlertLog {
 public:
  bool append(std::string_view line) override {
    benchmark::DoNotOptimize(line.data());
    return true;
  }
};

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
