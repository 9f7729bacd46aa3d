#include "etw/trace.h"

#include "text/text.h"

namespace tarnwick {

namespace {

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool parse_hex(std::string_view text, uint64_t& out) {
  out = 0;
  for (char c : text) {
    const int v = hex_value(c);
    if (v < 0) return false;
    out = (out << 4) | static_cast<uint64_t>(v);
  }
  return true;
}

}  // namespace

std::optional<Guid> parse_guid(std::string_view text) {
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') {
    text = text.substr(1, 36);
  }
  if (text.size() != 36 || text[8] != '-' || text[13] != '-' || text[18] != '-' ||
      text[23] != '-') {
    return std::nullopt;
  }
  uint64_t d1, d2, d3, d4a, d4b;
  if (!parse_hex(text.substr(0, 8), d1) || !parse_hex(text.substr(9, 4), d2) ||
      !parse_hex(text.substr(14, 4), d3) || !parse_hex(text.substr(19, 4), d4a) ||
      !parse_hex(text.substr(24, 12), d4b)) {
    return std::nullopt;
  }
  Guid g;
  g.data1 = static_cast<uint32_t>(d1);
  g.data2 = static_cast<uint16_t>(d2);
  g.data3 = static_cast<uint16_t>(d3);
  g.data4[0] = static_cast<uint8_t>(d4a >> 8);
  g.data4[1] = static_cast<uint8_t>(d4a);
  for (int i = 0; i < 6; ++i) g.data4[2 + i] = static_cast<uint8_t>(d4b >> (8 * (5 - i)));
  return g;
}

Alert trace_stopped_alert(std::string_view session_name) {
  std::string detail = "The ";
  detail += session_name;
  detail += " trace session ended while Tarnwick was running (possible tampering); restarting it.";
  return make_alert(AlertSource::System, Severity::High, kTraceStoppedTitle, std::move(detail));
}

void watch_trace_session(TraceSession& session, std::string_view session_name, AlertOut& out,
                         const Sleeper& sleep, const std::function<void()>& drain) {
  const auto interval = drain ? std::chrono::milliseconds(100) : std::chrono::milliseconds(500);
  for (;;) {
    if (drain) drain();
    if (!sleep(interval)) break;
    if (session.ended()) {
      out.push(trace_stopped_alert(session_name));
      break;
    }
  }
  if (drain) drain();
  session.stop();
}

std::string TraceStartError::text() const {
  return step + " failed (error " + std::to_string(code) + ")";
}

}  // namespace tarnwick
