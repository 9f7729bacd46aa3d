#include "proc/detector.h"

#include <chrono>
#include <cstring>

namespace tarnwick {

TraceProvider kernel_process_provider() {
  return {"22FB2CD6-0E7B-422B-A0C7-2FAD1FD0E716", 0x10, 0, 5};
}

std::optional<ProcessLaunch> launch_from_event(const TraceEventView& event) {
  if (event.id() != 1) return std::nullopt;
  if (!event.has_schema()) return std::nullopt;
  ProcessLaunch launch;
  if (auto bytes = event.scalar_bytes("ProcessID"); bytes && bytes->size() == 4) {
    // Event payloads are little-endian, as is every platform this runs on.
    std::memcpy(&launch.pid, bytes->data(), 4);
  }
  launch.parent_pid = event.header_process_id();
  launch.image = event.string_value("ImageName").value_or("");
  launch.command_line = event.string_value("CommandLine").value_or("");
  return launch;
}

Alert process_fallback_alert(const TraceStartError& error) {
  return make_alert(AlertSource::System, Severity::Low, kProcessFallbackTitle,
                    "Reason: " + error.text() +
                        ". Run as Administrator for real-time process detection.");
}

void run_snapshot_fallback(ProcessTable& table, const ProcessQuery& query, const LaunchHandler& on_launch,
                           const EngineFlags& flags, const Sleeper& sleep) {
  using std::chrono::seconds;
  ProcessSnapshot previous = table.snapshot();
  for (;;) {
    if (!sleep(flags.game_mode() ? seconds(15) : seconds(3))) return;
    ProcessSnapshot current = table.snapshot();
    for (const auto& [pid, file] : current) {
      if (previous.count(pid) != 0) continue;
      ProcessLaunch launch;
      launch.pid = pid;
      launch.image = query.query_image_path(pid).value_or(file);
      on_launch(launch);
    }
    previous = std::move(current);
  }
}

void run_process_detector(ProcessDetectorParts& p) {
  // The evaluator of the real-time path lives on the trace's event thread.
  LaunchEvaluator event_evaluator(p.query, p.trust);
  TraceStart started = p.traces.start(kProcessSessionName, kernel_process_provider(),
                                      [&](const TraceEventView& event) {
                                        if (auto launch = launch_from_event(event)) {
                                          event_evaluator.evaluate(*launch, p.out);
                                        }
                                      });
  if (auto* session = std::get_if<std::unique_ptr<TraceSession>>(&started)) {
    watch_trace_session(**session, kProcessSessionName, p.out, p.sleep);
    return;
  }
  p.out.push(process_fallback_alert(std::get<TraceStartError>(started)));
  LaunchEvaluator evaluator(p.query, p.trust);
  run_snapshot_fallback(
      p.table, p.query, [&](const ProcessLaunch& launch) { evaluator.evaluate(launch, p.out); },
      p.flags, p.sleep);
}

}  // namespace tarnwick
