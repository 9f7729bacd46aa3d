#pragma once
// Alerts written to the Windows Application log under the source "Tarnwick",
// for Event Forwarding and agents that read the Event Log. One event per
// logged alert, its id by source and its type by severity, carrying the
// title, the detail and the log line. Used on the sink thread.

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include "alert/alert.h"
#include "alert/sink.h"

namespace tarnwick {

inline constexpr std::string_view kEventSourceName = "Tarnwick";
inline constexpr std::string_view kEventSourceKey =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tarnwick";
// Error, warning and information events.
inline constexpr uint32_t kEventTypesSupported = 7;

// The event types' values, as the Event Log numbers them.
enum class EventType : uint16_t { Error = 0x0001, Warning = 0x0002, Information = 0x0004 };

// Info and Low are information, Medium a warning, High and Critical errors.
EventType event_type(Severity severity);

// 1001 NET, 1002 PROC, 1003 PERSIST, 1004 FILE, 1005 DNS, 1006 SYS: the
// message table's identifiers in full (no severity, customer or facility bits).
uint32_t event_id(AlertSource source);

class EventLogWriter {
 public:
  virtual ~EventLogWriter() = default;
  // Failures are silent: the alert's log line is already written.
  virtual void report(EventType type, uint32_t id, const std::array<std::string_view, 3>& strings) = 0;
};

class EventLogOutput final : public AlertOutput {
 public:
  explicit EventLogOutput(std::unique_ptr<EventLogWriter> writer) : writer_(std::move(writer)) {}
  void write(const Alert& alert, std::string_view line) override {
    writer_->report(event_type(alert.severity), event_id(alert.source),
                    {alert.title, alert.detail, line});
  }

 private:
  std::unique_ptr<EventLogWriter> writer_;
};

}  // namespace tarnwick
