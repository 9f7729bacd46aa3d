// Cost of forwarding: the syslog frame of a typical line, and the sink's time
// per new alert with the Event Log and syslog outputs on, beside the same
// sink without them, both with the log written to a real file.
#include <benchmark/benchmark.h>

#include <vector>

#include "alert/log_file.h"
#include "eventlog/eventlog.h"
#include "syslog/forwarder.h"
#include "testsupport/temp_dir.h"

namespace tarnwick {
namespace {

Alert typical_alert(int i) {
  Alert a = make_alert(AlertSource::Process, i % 4 == 0 ? Severity::Critical : Severity::High,
                       "Obfuscated / download PowerShell",
                       "pid " + std::to_string(1000 + i) +
                           ": powershell.exe -NoProfile -ExecutionPolicy Bypass -EncodedCommand "
                           "SQBFAFgAIAAoAE4AZQB3AC0ATwBiAGoAZQBjAHQAIABOAGUAdAAuAFcAZQBiAEMAbABpAGUAbgB0ACkA");
  a.pid = 1000 + i;
  a.dedup_key = "psenc:" + std::to_string(1000 + i);
  a.ts_unix = 1765000000 + static_cast<uint64_t>(i);
  return with_mitre(std::move(a), "T1059.001 (PowerShell)", 7.5f);
}

void BM_SyslogFrameTypical(benchmark::State& state) {
  const Alert a = typical_alert(7);
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

  std::vector<Alert> originals;
  for (int i = 0; i < 8192; ++i) originals.push_back(typical_alert(i));
  std::vector<Alert> pool;
  size_t next = 0;
  for (auto _ : state) {
    if (next == pool.size()) {
      state.PauseTiming();
      pool = originals;
      next = 0;
      state.ResumeTiming();
    }
    now += std::chrono::milliseconds(10);
    sink.handle(std::move(pool[next++]), now);
  }
}

void BM_SinkNewAlertFileLog(benchmark::State& state) { run_sink(state, false); }
BENCHMARK(BM_SinkNewAlertFileLog);

void BM_SinkNewAlertFileLogWithOutputs(benchmark::State& state) { run_sink(state, true); }
BENCHMARK(BM_SinkNewAlertFileLogWithOutputs);

}  // namespace
}  // namespace tarnwick
