// Cost of forwarding: the syslog frame of a typical line, and the sink's time
// per new alert with the Event Log and syslog outputs on, beside the same
// sink without them, both with the log written to a real file.
#include <benchmark/benchmark.h>

#include <vector>

#include "alert/log_file.h"
#include "eventlog/eventlog.h"
#include "syslog/forwarder.h"
#include "testsupport/bench_alerts.h"
#include "testsupport/temp_dir.h"

namespace tarnwick {
namespace {

void BM_SyslogFrameTypical(benchmark::State& state) {
  const Alert a = testing::typical_alert(7);
  const std::string line = serialise(a);
  const SyslogIdentity id{"WKS-0042.corp.example.org", 4242};
  std::string frame;
  frame.reserve(line.size() + 128);
  for (auto _ : state) {
    frame.clear();
    append_syslog_frame(a, line, id, frame);
    benchmark::DoNotOptimize(frame.data());
  }
  state.counters["bytes"] = static_cast<double>(frame.size());
}
BENCHMARK(BM_SyslogFrameTypical);

// The Event Log writer natively: the call is made, nothing is stored.
class NullEventLog final : public EventLogWriter {
 public:
  void report(EventType, uint32_t id, const std::array<std::string_view, 3>& s) override {
    benchmark::DoNotOptimize(id);
    benchmark::DoNotOptimize(s[2].data());
  }
};

// A collector that takes every byte at once.
class DiscardingConnection final : public SyslogConnection {
 public:
  bool connect(const SyslogServer&, Ms, const std::function<bool()>&) override { return true; }
  bool peer_closed() override { return false; }
  std::optional<size_t> send(std::string_view bytes, Ms) override { return bytes.size(); }
  void close() override {}
};

void run_sink(benchmark::State& state, bool with_outputs) {
  testing::TempDir dir;
  Config config;
  StatsCounters stats{dir / "stats.json", {}, std::chrono::steady_clock::now()};
  FileAlertLog log(dir / "Tarnwick.log.jsonl");
  NoNotifier notifier;
  NoResponder responder;
  EventLogOutput event_log(std::make_unique<NullEventLog>());
  SyslogForwarder forwarder(*parse_syslog_server("collector:514"),
                            std::make_unique<DiscardingConnection>());
  forwarder.start();
  SyslogOutput syslog(forwarder, {"WKS-0042.corp.example.org", 4242});
  std::vector<AlertOutput*> outputs;
  if (with_outputs) outputs = {&event_log, &syslog};
  auto now = std::chrono::steady_clock::now();
  AlertSink sink{{config, stats, log, notifier, responder, {}, outputs}, [&] { return now; }, now};

  testing::AlertPool pool(testing::typical_alerts(8192));
  for (auto _ : state) {
    now += std::chrono::milliseconds(10);
    sink.handle(pool.take(state), now);
  }
}

void BM_SinkNewAlertFileLog(benchmark::State& state) {
  run_sink(state, false);
}
BENCHMARK(BM_SinkNewAlertFileLog);

void BM_SinkNewAlertFileLogWithOutputs(benchmark::State& state) {
  run_sink(state, true);
}
BENCHMARK(BM_SinkNewAlertFileLogWithOutputs);

}  // namespace
}  // namespace tarnwick
