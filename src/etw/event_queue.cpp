#include "etw/event_queue.h"

namespace tarnwick {

std::optional<Alert> DropReport::note(uint64_t dropped, std::chrono::steady_clock::time_point now) {
  pending_ += dropped;
  if (pending_ == 0) return std::nullopt;
  if (last_ && now - *last_ < kDropReportInterval) return std::nullopt;
  last_ = now;
  const uint64_t count = std::exchange(pending_, 0);
  return make_alert(AlertSource::System, Severity::Low, title_,
                    std::to_string(count) + " " + kind_ +
                        " events were dropped because the detector fell behind.");
}

}  // namespace tarnwick
