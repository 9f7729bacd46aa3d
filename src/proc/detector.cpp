#include "proc/detector.h"

#include <chrono>
#include <cstring>

#include "etw/event_queue.h"
#include "text/text.h"

namespace tarnwick {

namespace {

// Opcodes of the kernel's process class. Only a start is a launch: an end (2),
// the lists of processes already running when the session starts (3) or ends
// (4), and a defunct process (39) are not, so processes running before the
// detector started are never judged.
constexpr uint8_t kKernelProcessStart = 1;
// Selects the kernel's process events.
constexpr uint32_t kTraceFlagProcess = 0x00000001;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The program part of a command line as the system's own parser splits it:
// a quoted first token runs to the next quote, an unquoted one to a blank.
std::string_view first_token(std::string_view command_line) {
  size_t start = 0;
  while (start < command_line.size() && is_blank(command_line[start])) ++start;
  command_line.remove_prefix(start);
  if (!command_line.empty() && command_line.front() == '"') {
    command_line.remove_prefix(1);
    return command_line.substr(0, command_line.find('"'));
  }
  size_t end = 0;
  while (end < command_line.size() && !is_blank(command_line[end])) ++end;
  return command_line.substr(0, end);
}

bool is_absolute_path(std::string_view path) {
  const bool drive = path.size() >= 3 &&
                     ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                     path[1] == ':' && (path[2] == '\\' || path[2] == '/');
  const bool unc = path.size() > 2 && path[0] == '\\' && path[1] == '\\';
  return drive || unc;
}

}  // namespace

TraceProvider kernel_process_provider() {
  return {"22FB2CD6-0E7B-422B-A0C7-2FAD1FD0E716", 0x10, 0, 5};
}

KernelTrace kernel_process_trace() { return {"448BB547-FD00-4F16-AF72-F31FF281BE1F", kTraceFlagProcess}; }

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
  return launch;
}

std::optional<KernelProcessStart> kernel_start_from_event(const TraceEventView& event) {
  static const Guid kProcessClass = *parse_guid(kKernelProcessClassGuid);
  if (event.provider_id() != kProcessClass || event.opcode() != kKernelProcessStart) {
    return std::nullopt;
  }
  if (!event.has_schema()) return std::nullopt;
  // The class has had several versions with different layouts: every field is
  // found by its name and declared type, never at an offset.
  const std::optional<uint32_t> pid = event.uint32_value("ProcessId");
  if (!pid) return std::nullopt;
  KernelProcessStart start;
  start.pid = *pid;
  start.parent_pid = event.uint32_value("ParentId").value_or(0);
  start.image_file_name = event.string_value("ImageFileName").value_or("");
  start.command_line = event.string_value("CommandLine").value_or("");
  return start;
}

std::string kernel_launch_image(const std::optional<std::string>& queried_path,
                                std::string_view command_line, std::string_view image_file_name) {
  if (queried_path && !queried_path->empty()) return *queried_path;
  // The process is already gone. Its command line names a program, but any
  // program may be started with any command line: its first token stands in
  // only when it agrees with the kernel's own file name, which the kernel may
  // have cut short.
  const std::string_view token = first_token(command_line);
  if (is_absolute_path(token)) {
    const std::string token_name = ascii_lower(file_name(token));
    const std::string kernel_name = ascii_lower(image_file_name);
    if (token_name.compare(0, kernel_name.size(), kernel_name) == 0) return std::string(token);
  }
  return std::string(image_file_name);
}

std::optional<ProcessLaunch> launch_from_kernel_event(const TraceEventView& event,
                                                      const ProcessQuery& query) {
  auto start = kernel_start_from_event(event);
  if (!start) return std::nullopt;
  ProcessLaunch launch;
  launch.pid = start->pid;
  launch.parent_pid = start->parent_pid;
  launch.image = kernel_launch_image(query.query_image_path(start->pid), start->command_line,
                                     start->image_file_name);
  launch.command_line = std::move(start->command_line);
  return launch;
}

Alert process_fallback_alert(const TraceStartError& error) {
  return make_alert(AlertSource::System, Severity::Low, kProcessFallbackTitle,
                    "Reason: " + error.text() +
                        ". Run as Administrator for real-time process detection.");
}

void run_snapshot_fallback(ProcessTable& table, const ProcessQuery& query,
                           const CommandLineQuery& command_lines, const LaunchHandler& on_launch,
                           const EngineFlags& flags, const Sleeper& sleep) {
  using std::chrono::seconds;
  ProcessSnapshot previous = table.snapshot();
  for (;;) {
    if (!sleep(flags.game_mode() ? seconds(15) : seconds(3))) return;
    ProcessSnapshot current = table.snapshot();
    for (const auto& [pid, entry] : current) {
      if (previous.count(pid) != 0) continue;
      ProcessLaunch launch;
      launch.pid = pid;
      launch.parent_pid = entry.parent_pid;
      launch.image = query.query_image_path(pid).value_or(entry.name);
      launch.command_line = command_lines.command_line(pid).value_or("");
      // A parent missing from this snapshot had ended before it was taken; its
      // pid may already name another process, so it is not asked for.
      std::string_view parent_name;
      if (auto parent = current.find(entry.parent_pid);
          entry.parent_pid != 0 && parent != current.end()) {
        parent_name = parent->second.name;
      }
      on_launch(launch, parent_name);
    }
    previous = std::move(current);
  }
}

void run_process_detector(ProcessDetectorParts& p) {
  // The session's callback only reads what must be read while the process
  // still runs (its image path, its command line) and queues the launch; the
  // rules and signature checks run here, on the detector's thread.
  TraceEventQueue<ProcessLaunch> launches;
  TraceStart started =
      p.traces.start_kernel(kProcessSessionName, kernel_process_trace(), [&](const TraceEventView& event) {
        if (auto launch = launch_from_kernel_event(event, p.query)) launches.push(std::move(*launch));
      });
  if (std::holds_alternative<TraceStartError>(started)) {
    started = p.traces.start(kProcessSessionName, kernel_process_provider(),
                             [&](const TraceEventView& event) {
                               if (auto launch = launch_from_event(event)) {
                                 // Read while the process has barely started.
                                 launch->command_line =
                                     p.command_lines.command_line(launch->pid).value_or("");
                                 launches.push(std::move(*launch));
                               }
                             });
  }
  if (auto* session = std::get_if<std::unique_ptr<TraceSession>>(&started)) {
    LaunchEvaluator event_evaluator(p.query, p.trust);
    DropReport drops(std::string(kProcessEventsDroppedTitle), "process");
    watch_trace_session(**session, kProcessSessionName, p.out, p.sleep, [&] {
      for (const ProcessLaunch& launch : launches.take_all()) event_evaluator.evaluate(launch, p.out);
      if (auto alert = drops.note(launches.take_dropped(), std::chrono::steady_clock::now())) {
        p.out.push(std::move(*alert));
      }
    });
    return;
  }
  p.out.push(process_fallback_alert(std::get<TraceStartError>(started)));
  LaunchEvaluator evaluator(p.query, p.trust);
  run_snapshot_fallback(
      p.table, p.query, p.command_lines,
      [&](const ProcessLaunch& launch, std::string_view parent_name) {
        evaluator.evaluate_with_parent(launch, parent_name, p.out);
      },
      p.flags, p.sleep);
}

}  // namespace tarnwick
