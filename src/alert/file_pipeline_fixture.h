#pragma once
// The real pipeline from queue to file, as the engine wires it but without
// notifications or responses: the log and statistics live in a fresh folder.
// Tests only.

#include <filesystem>
#include <thread>

#include "alert/log_file.h"
#include "alert/sink.h"
#include "testsupport/temp_dir.h"

namespace tarnwick::testing {

struct FilePipeline {
  using Clock = std::chrono::steady_clock;

  explicit FilePipeline(LogLimits log_limits = {}) : log{log_path, log_limits} {}

  TempDir dir;
  std::filesystem::path log_path = dir / "Tarnwick.log.jsonl";
  Config config;
  StatsCounters stats{dir / "Tarnwick.stats.json", {}, Clock::now()};
  FileAlertLog log{log_path};
  NoNotifier notifier;
  NoResponder responder;
  AlertSink::ClockFn clock = [] { return Clock::now(); };
  AlertSink sink{{config, stats, log, notifier, responder, {}}, clock, clock()};
  AlertQueue queue;
  EngineFlags flags;

  // The sink's thread, taking alerts until the queue is closed.
  std::thread start_consumer() {
    return std::thread([this] { run_alert_sink(queue, flags, sink, clock); });
  }
};

}  // namespace tarnwick::testing
