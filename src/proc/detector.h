#pragma once
// The process detector: process starts from a private session of the
// kernel's own process events, which carry the command line; where that
// cannot start, from the Kernel-Process provider's session, whose starts carry
// none, so it is read from the new process at once; where neither starts,
// from polling process snapshots (late, but with the command line read the
// same way and the parent from the snapshot). Each start is fed to the launch
// evaluation. One source per detector run, chosen at its start.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "cmdline/cmdline.h"
#include "engine/alert_queue.h"
#include "engine/flags.h"
#include "etw/trace.h"
#include "proc/launch.h"
#include "procmeta/procmeta.h"

namespace tarnwick {

inline constexpr const char* kProcessSessionName = "Tarnwick-proc";
// Microsoft-Windows-Kernel-Process, its process keyword, verbose.
TraceProvider kernel_process_provider();
// Our own system-logger session with the kernel's process events.
KernelTrace kernel_process_trace();
// The kernel's process event class, the provider of those events.
inline constexpr const char* kKernelProcessClassGuid = "3D6FA8D0-FE05-11D0-9DDA-00C04FD7BA7C";

inline constexpr const char* kProcessEventsDroppedTitle = "Process events dropped";
inline constexpr const char* kProcessFallbackTitle =
    "Process ETW unavailable \u2014 using snapshot fallback";

// A launch and its parent's file name (empty when unknown).
using LaunchHandler = std::function<void(const ProcessLaunch&, std::string_view parent_name)>;

// The launch in a Kernel-Process start event (Id 1); nothing for other events
// or when the event's schema is unknown. It carries no command line.
std::optional<ProcessLaunch> launch_from_event(const TraceEventView& event);

// What a kernel process start (opcode 1 of the process class) says, read by
// property name and type; nothing for every other event: process ends, the
// lists of processes already running when a session starts or ends, and
// other classes.
struct KernelProcessStart {
  uint32_t pid = 0;
  uint32_t parent_pid = 0;
  std::string image_file_name;  // the kernel's short, possibly cut, file name
  std::string command_line;
};
std::optional<KernelProcessStart> kernel_start_from_event(const TraceEventView& event);

// The image the rules see for a kernel start: the path the process query
// found, else the command line's first token when it is an absolute path
// whose file name agrees with the kernel's file name, else that file name.
std::string kernel_launch_image(const std::optional<std::string>& queried_path,
                                std::string_view command_line, std::string_view image_file_name);

// The launch of a kernel start, its image queried at once.
std::optional<ProcessLaunch> launch_from_kernel_event(const TraceEventView& event,
                                                      const ProcessQuery& query);

// "Reason: {error}. Run as Administrator for real-time process detection."
Alert process_fallback_alert(const TraceStartError& error);

// Polls snapshots every 3 s (15 s while game mode is on) and evaluates every
// pid that was not in the previous one; the first snapshot is the baseline.
// The parent is the snapshot's; its name is known when the same snapshot
// holds it, and empty otherwise.
void run_snapshot_fallback(ProcessTable& table, const ProcessQuery& query,
                           const CommandLineQuery& command_lines, const LaunchHandler& on_launch,
                           const EngineFlags& flags, const Sleeper& sleep);

struct ProcessDetectorParts {
  TraceFactory& traces;
  ProcessTable& table;
  const ProcessQuery& query;
  const CommandLineQuery& command_lines;
  const SignatureCheck& trust;
  AlertOut& out;
  const EngineFlags& flags;
  Sleeper sleep;
};

// The detector thread body: returns once `stop` is set.
void run_process_detector(ProcessDetectorParts& parts);

}  // namespace tarnwick
