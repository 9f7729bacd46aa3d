#include "eventlog/eventlog.h"

namespace tarnwick {

EventType event_type(Severity severity) {
  switch (severity) {
    case Severity::Info:
    case Severity::Low: return EventType::Information;
    case Severity::Medium: return EventType::Warning;
    case Severity::High:
    case Severity::Critical: return EventType::Error;
  }
  return EventType::Information;
}

uint32_t event_id(AlertSource source) {
  switch (source) {
    case AlertSource::Network: return 1001;
    case AlertSource::Process: return 1002;
    case AlertSource::Persistence: return 1003;
    case AlertSource::Files: return 1004;
    case AlertSource::Dns: return 1005;
    case AlertSource::System: return 1006;
  }
  return 1006;
}

}  // namespace tarnwick
