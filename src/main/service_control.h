#pragma once
// What the service's control handler does with a control code, apart from
// the Win32 plumbing: stop and shutdown report stop pending and set `stop`;
// every other code is ignored without a status report. While the engine
// then shuts down, the stop-pending report is repeated every second with a
// growing checkpoint, so the service manager sees progress.

#include <chrono>
#include <cstdint>

#include "engine/flags.h"
#include "engine/stop.h"

namespace tarnwick {

inline constexpr uint32_t kControlStop = 1;
inline constexpr uint32_t kControlShutdown = 5;

enum class ServiceState : uint32_t { Stopped = 1, StartPending = 2, StopPending = 3, Running = 4 };

// SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN
inline constexpr uint32_t kAcceptStopAndShutdown = 5;
inline constexpr uint32_t kStatusWaitHintMs = 3000;
inline constexpr std::chrono::milliseconds kStopProgressInterval{1000};

// The service-specific exit code reported when the engine ended without a
// stop request, so that the service manager's recovery actions apply.
inline constexpr uint32_t kUnexpectedEndExitCode = 1;

class StatusReporter {
 public:
  virtual ~StatusReporter() = default;
  virtual void report(ServiceState state, uint32_t accepted_controls, uint32_t checkpoint = 0) = 0;
};

// Either pointer may be null (its slot not yet set). True when the code was acted on.
bool handle_service_control(uint32_t control, StatusReporter* status, EngineFlags* flags);

// Runs beside the engine until `finished`: once `stop` is set, reports stop
// pending every `interval` with checkpoints 1, 2, 3 and so on.
void report_stop_progress(const EngineFlags& flags, EngineFinished& finished,
                          StatusReporter& status,
                          std::chrono::milliseconds interval = kStopProgressInterval);

// 0 after a requested stop, kUnexpectedEndExitCode otherwise.
uint32_t service_exit_code(const EngineFlags& flags);

}  // namespace tarnwick
