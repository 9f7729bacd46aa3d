#pragma once
// What the service's control handler does with a control code, apart from
// the Win32 plumbing: stop and shutdown report stop pending and set `stop`;
// every other code is ignored without a status report.

#include <cstdint>

#include "engine/flags.h"

namespace tarnwick {

inline constexpr uint32_t kControlStop = 1;
inline constexpr uint32_t kControlShutdown = 5;

enum class ServiceState : uint32_t { Stopped = 1, StartPending = 2, StopPending = 3, Running = 4 };

// SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN
inline constexpr uint32_t kAcceptStopAndShutdown = 5;
inline constexpr uint32_t kStatusWaitHintMs = 3000;

class StatusReporter {
 public:
  virtual ~StatusReporter() = default;
  virtual void report(ServiceState state, uint32_t accepted_controls) = 0;
};

// Either pointer may be null (its slot not yet set). True when the code was acted on.
bool handle_service_control(uint32_t control, StatusReporter* status, EngineFlags* flags);

}  // namespace tarnwick
