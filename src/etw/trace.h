#pragma once
// Real-time event trace sessions: one session name, one provider, a callback
// for every event on the session's own processing thread. The process and
// DNS detectors each run one. Portable interface; the Windows implementation
// is the only one that can start a session.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "engine/alert_queue.h"
#include "engine/flags.h"

namespace tarnwick {

struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  std::array<uint8_t, 8> data4{};
  bool operator==(const Guid&) const = default;
};

// "22FB2CD6-0E7B-422B-A0C7-2FAD1FD0E716", with or without braces; hex digits
// in either case.
std::optional<Guid> parse_guid(std::string_view text);

struct TraceProvider {
  std::string guid;  // text form
  uint64_t match_any_keyword = 0;
  uint64_t match_all_keyword = 0;
  uint8_t level = 0;
};

// One delivered event, decoded on demand. Valid only during the callback.
class TraceEventView {
 public:
  virtual ~TraceEventView() = default;
  virtual uint16_t id() const = 0;
  // Classic kernel events tell their kind by opcode (their id is 0).
  virtual uint8_t opcode() const = 0;
  virtual Guid provider_id() const = 0;
  // The process that raised the event.
  virtual uint32_t header_process_id() const = 0;
  // Whether the event's schema is known; property reads fail without it.
  virtual bool has_schema() const = 0;
  // The raw bytes of a property present as a single value (not an array).
  virtual std::optional<std::string> scalar_bytes(std::string_view property) const = 0;
  // A property declared as a 32-bit integer; nothing for any other type.
  virtual std::optional<uint32_t> uint32_value(std::string_view property) const = 0;
  // A property declared as a UTF-16 or an ANSI string, as UTF-8, up to its
  // first NUL.
  virtual std::optional<std::string> string_value(std::string_view property) const = 0;
};

using TraceCallback = std::function<void(const TraceEventView&)>;

// Which step of starting a session failed, and the platform's code.
struct TraceStartError {
  std::string step;
  uint32_t code = 0;
  // "{step} failed (error {code})"
  std::string text() const;
};

class TraceSession {
 public:
  virtual ~TraceSession() = default;
  // Closes the consumer, stops the session and waits for its event thread.
  virtual void stop() = 0;
  // True once the session's event processing has ended without stop():
  // someone stopped the session by name, or the system lost it.
  virtual bool ended() const = 0;
};

using TraceStart = std::variant<std::unique_ptr<TraceSession>, TraceStartError>;

inline constexpr const char* kTraceStoppedTitle = "Real-time trace stopped unexpectedly";

// "The {session} trace session ended while Tarnwick was running (possible
// tampering); restarting it."
Alert trace_stopped_alert(std::string_view session_name);

// Watches a running session in 500 ms steps until the engine stops. A session
// whose event processing ends on its own is reported once; the caller then
// returns, so that its supervisor starts it again (or it falls back as at
// start-up). Stops the session in either case.
// With `drain`, it is called every 100 ms on the caller's thread, and once
// more when the watch ends, to handle what the session's callback queued.
void watch_trace_session(TraceSession& session, std::string_view session_name, AlertOut& out,
                         const Sleeper& sleep, const std::function<void()>& drain = {});

// A private session fed by the kernel's own system trace provider, which
// delivers the classic kernel event classes selected by `enable_flags`.
struct KernelTrace {
  std::string session_guid;  // our own, identifying the session; text form
  uint32_t enable_flags = 0;
};

class TraceFactory {
 public:
  virtual ~TraceFactory() = default;
  // Stops a stale session of the same name, starts a new one with the
  // provider enabled, opens it for consumption and starts its event thread.
  virtual TraceStart start(const std::string& session_name, const TraceProvider& provider,
                           TraceCallback on_event) = 0;
  // The same for a system-logger session: the kernel's events selected by
  // the flags, no provider to enable.
  virtual TraceStart start_kernel(const std::string& session_name, const KernelTrace& kernel,
                                  TraceCallback on_event) = 0;
};

}  // namespace tarnwick
