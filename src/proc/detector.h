#pragma once
// The process detector: process starts from the kernel's real-time process
// trace, or, when that session cannot start, from polling process snapshots
// (late, with no command line and no parent), each fed to the launch
// evaluation. One mode per detector run, chosen at its start.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "engine/alert_queue.h"
#include "engine/flags.h"
#include "etw/trace.h"
#include "proc/launch.h"
#include "procmeta/procmeta.h"

namespace tarnwick {

inline constexpr const char* kProcessSessionName = "Tarnwick-proc";
// Microsoft-Windows-Kernel-Process, its process keyword, verbose.
TraceProvider kernel_process_provider();

inline constexpr const char* kProcessFallbackTitle =
    "Process ETW unavailable \u2014 using snapshot fallback";

using LaunchHandler = std::function<void(const ProcessLaunch&)>;

// The launch in a process-start event (Id 1); nothing for other events or
// when the event's schema is unknown.
std::optional<ProcessLaunch> launch_from_event(const TraceEventView& event);

// "Reason: {error}. Run as Administrator for real-time process detection."
Alert process_fallback_alert(const TraceStartError& error);

// Polls snapshots every 3 s (15 s while game mode is on) and evaluates every
// pid that was not in the previous one; the first snapshot is the baseline.
void run_snapshot_fallback(ProcessTable& table, const ProcessQuery& query, const LaunchHandler& on_launch,
                           const EngineFlags& flags, const Sleeper& sleep);

struct ProcessDetectorParts {
  TraceFactory& traces;
  ProcessTable& table;
  const ProcessQuery& query;
  const SignatureCheck& trust;
  AlertOut& out;
  const EngineFlags& flags;
  Sleeper sleep;
};

// The detector thread body: returns once `stop` is set.
void run_process_detector(ProcessDetectorParts& parts);

}  // namespace tarnwick
