#include "main/service_control.h"

namespace tarnwick {

bool handle_service_control(uint32_t control, StatusReporter* status, EngineFlags* flags) {
  if (control != kControlStop && control != kControlShutdown) return false;
  if (status) status->report(ServiceState::StopPending, 0);
  if (flags) flags->request_stop();
  return true;
}

void report_stop_progress(const EngineFlags& flags, EngineFinished& finished,
                          StatusReporter& status, std::chrono::milliseconds interval) {
  uint32_t checkpoint = 0;
  while (!finished.wait_for(interval)) {
    if (flags.stopping()) status.report(ServiceState::StopPending, 0, ++checkpoint);
  }
}

uint32_t service_exit_code(const EngineFlags& flags) {
  return flags.stopping() ? 0 : kUnexpectedEndExitCode;
}

}  // namespace tarnwick
