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
  // The process that raised the event.
  virtual uint32_t header_process_id() const = 0;
  // Whether the event's schema is known; property reads fail without it.
  virtual bool has_schema() const = 0;
  // The raw bytes of a property present as a single value (not an array).
  virtual std::optional<std::string> scalar_bytes(std::string_view property) const = 0;
  // A string property as UTF-8.
  virtual std::optional<std::string> string_value(std::string_view property) const = 0;
};

// A string property as the trace delivers it (UTF-16, little-endian) up to its
// first NUL unit, as UTF-8. An odd last byte is not part of any unit and is
// dropped; unpaired surrogates become U+FFFD.
std::string utf16le_property_text(std::string_view bytes);

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
};

using TraceStart = std::variant<std::unique_ptr<TraceSession>, TraceStartError>;

class TraceFactory {
 public:
  virtual ~TraceFactory() = default;
  // Stops a stale session of the same name, starts a new one with the
  // provider enabled, opens it for consumption and starts its event thread.
  virtual TraceStart start(const std::string& session_name, const TraceProvider& provider,
                           TraceCallback on_event) = 0;
};

}  // namespace tarnwick
