#include "main/service_control.h"

namespace tarnwick {

bool handle_service_control(uint32_t control, StatusReporter* status, EngineFlags* flags) {
  if (control != kControlStop && control != kControlShutdown) return false;
  if (status) status->report(ServiceState::StopPending, 0);
  if (flags) flags->request_stop();
  return true;
}

}  // namespace tarnwick
