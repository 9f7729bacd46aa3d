#pragma once
// Alerts forwarded to a syslog collector: the "syslog_server" text, the
// RFC 5424 message of one log line in RFC 6587 octet-counting framing, and
// the alerts the forwarding raises about itself. Pure functions, safe from
// any thread; the sending thread is in forwarder.h.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "alert/alert.h"

namespace tarnwick {

struct SyslogServer {
  std::string host;  // a name or an address, IPv6 without its brackets
  uint16_t port = 0;
  std::string text;  // the setting as written, for alerts
  bool operator==(const SyslogServer&) const = default;
};

// "host:port" or "[IPv6]:port". Nothing when the text names no usable
// server: no port, a port outside 1..65535, an empty host, a colon in an
// unbracketed host, more than 255 bytes, blanks or control characters.
std::optional<SyslogServer> parse_syslog_server(std::string_view text);

// Critical 2, High 3, Medium 4, Low 5, Info 6.
int syslog_severity(Severity severity);

// Security/authorization messages.
inline constexpr int kSyslogFacility = 4;

// The HOSTNAME field: the first of the DNS and NetBIOS names that is a
// valid field (printable ASCII without blanks, at most 255 bytes), else "-".
std::string syslog_hostname(std::string_view dns_name, std::string_view netbios_name);

struct SyslogIdentity {
  std::string hostname;  // already valid, see syslog_hostname
  uint32_t pid = 0;
};

// Appends "{length} <{pri}>1 {time} {host} Tarnwick {pid} {tag} - {line}" to
// `out`, where {length} counts the bytes after its blank and {time} is the
// alert's time in RFC 3339 UTC with milliseconds. `line` is the alert's log
// line without its line feed: compact JSON, so it never holds one.
void append_syslog_frame(const Alert& alert, std::string_view line, const SyslogIdentity& identity,
                         std::string& out);

// "2024-03-09T16:05:42.000Z"
void append_rfc3339_utc(uint64_t unix_seconds, std::string& out);

inline constexpr std::string_view kSyslogInvalidTitle = "Syslog server setting is invalid";
inline constexpr std::string_view kSyslogBehindTitle = "Syslog forwarding fell behind";

// The Low System alert for a "syslog_server" text that does not parse; the
// detail quotes the text with JSON escapes, cut to a bounded length.
Alert syslog_setting_invalid_alert(std::string_view text);

// The Low System alert for lines dropped because the queue was full.
Alert syslog_behind_alert(uint64_t dropped, std::string_view server_text);

// The alert the engine raises at start about its "syslog_server" setting:
// nothing when it is empty or valid.
std::optional<Alert> syslog_setting_alert(std::string_view text);

// Waits between connection attempts: 1, 2, 4 ... seconds, at most 60.
class SyslogBackoff {
 public:
  using Ms = std::chrono::milliseconds;
  explicit SyslogBackoff(Ms first = std::chrono::seconds(1), Ms most = std::chrono::seconds(60))
      : first_(first), most_(most), next_(first) {}
  // The wait before the next attempt; the one after it doubles.
  Ms next() {
    const Ms now = next_;
    next_ = std::min(most_, next_ * 2);
    return now;
  }
  void reset() { next_ = first_; }

 private:
  Ms first_;
  Ms most_;
  Ms next_;
};

}  // namespace tarnwick
