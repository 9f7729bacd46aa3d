#include "syslog/syslog.h"

#include "text/text.h"

namespace tarnwick {

namespace {

constexpr size_t kMaxServerText = 255;
// Enough of a bad setting to recognise it; the config file is the full record.
constexpr size_t kMaxQuotedBytes = 300;

bool is_blank_or_control(unsigned char c) {
  return c <= 0x20 || c == 0x7F;
}

std::optional<uint16_t> parse_port(std::string_view digits) {
  if (digits.empty() || digits.size() > 5) return std::nullopt;
  uint32_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value < 1 || value > 65535) return std::nullopt;
  return static_cast<uint16_t>(value);
}

void append_two(unsigned value, std::string& out) {
  out += static_cast<char>('0' + value / 10);
  out += static_cast<char>('0' + value % 10);
}

}  // namespace

std::optional<SyslogServer> parse_syslog_server(std::string_view text) {
  if (text.empty() || text.size() > kMaxServerText) return std::nullopt;
  for (unsigned char c : text) {
    if (is_blank_or_control(c)) return std::nullopt;
  }
  std::string_view host;
  std::string_view rest;
  if (text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    host = text.substr(1, close - 1);
    rest = text.substr(close + 1);
    if (host.find_first_of("[]") != std::string_view::npos) return std::nullopt;
  } else {
    const size_t colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    host = text.substr(0, colon);
    rest = text.substr(colon);
    // A bare IPv6 address cannot be told from its port: brackets are required.
    if (host.find_first_of("[]") != std::string_view::npos) return std::nullopt;
  }
  if (host.empty() || rest.empty() || rest.front() != ':') return std::nullopt;
  const auto port = parse_port(rest.substr(1));
  if (!port) return std::nullopt;
  return SyslogServer{std::string(host), *port, std::string(text)};
}

int syslog_severity(Severity severity) {
  switch (severity) {
    case Severity::Critical: return 2;
    case Severity::High: return 3;
    case Severity::Medium: return 4;
    case Severity::Low: return 5;
    case Severity::Info: return 6;
  }
  return 6;
}

std::string syslog_hostname(std::string_view dns_name, std::string_view netbios_name) {
  for (std::string_view name : {dns_name, netbios_name}) {
    if (name.empty() || name.size() > 255) continue;
    bool printable = true;
    for (unsigned char c : name) printable = printable && c >= 33 && c <= 126;
    if (printable) return std::string(name);
  }
  return "-";
}

void append_rfc3339_utc(uint64_t unix_seconds, std::string& out) {
  // Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
  const uint64_t days = unix_seconds / 86400;
  const unsigned secs = static_cast<unsigned>(unix_seconds % 86400);
  const int64_t z = static_cast<int64_t>(days) + 719468;
  const int64_t era = z / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned day = doy - (153 * mp + 2) / 5 + 1;
  const unsigned month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = static_cast<int64_t>(yoe) + era * 400 + (month <= 2 ? 1 : 0);
  // RFC 5424 allows four-digit years only; later clocks are clamped.
  const unsigned y = year > 9999 ? 9999u : static_cast<unsigned>(year);
  append_two(y / 100, out);
  append_two(y % 100, out);
  out += '-';
  append_two(month, out);
  out += '-';
  append_two(day, out);
  out += 'T';
  append_two(secs / 3600, out);
  out += ':';
  append_two(secs / 60 % 60, out);
  out += ':';
  append_two(secs % 60, out);
  out += ".000Z";
}

void append_syslog_frame(const Alert& alert, std::string_view line, const SyslogIdentity& identity,
                         std::string& out) {
  // The message is built behind room for the length, then the length is
  // written in front of it and the message moved up behind it.
  constexpr size_t kRoom = 12;
  const size_t start = out.size();
  out.append(kRoom, ' ');
  const size_t message = out.size();
  out += '<';
  append_decimal(static_cast<uint64_t>(kSyslogFacility * 8 + syslog_severity(alert.severity)), out);
  out += ">1 ";
  append_rfc3339_utc(alert.ts_unix, out);
  out += ' ';
  out += identity.hostname;
  out += " Tarnwick ";
  append_decimal(identity.pid, out);
  out += ' ';
  out += source_tag(alert.source);
  out += " - ";
  out += line;
  const size_t length = out.size() - message;
  std::string prefix;
  append_decimal(length, prefix);
  prefix += ' ';
  out.replace(start, kRoom, prefix);
}

Alert syslog_setting_invalid_alert(std::string_view text) {
  std::string detail = "The syslog_server setting ";
  if (text.size() > kMaxQuotedBytes) {
    append_json_string(utf8_prefix(text, kMaxQuotedBytes), detail);
    detail += " (cut)";
  } else {
    append_json_string(text, detail);
  }
  detail +=
      " is not \"host:port\" or \"[IPv6]:port\" with a port from 1 to 65535; "
      "alerts are not forwarded to syslog.";
  return make_alert(AlertSource::System, Severity::Low, kSyslogInvalidTitle, std::move(detail));
}

Alert syslog_behind_alert(uint64_t dropped, std::string_view server_text) {
  std::string detail;
  append_decimal(dropped, detail);
  detail += dropped == 1 ? " alert line was" : " alert lines were";
  detail += " dropped before they could be sent to the syslog server ";
  detail += server_text;
  detail += "; the alert log has them.";
  return make_alert(AlertSource::System, Severity::Low, kSyslogBehindTitle, std::move(detail));
}

std::optional<Alert> syslog_setting_alert(std::string_view text) {
  if (text.empty() || parse_syslog_server(text)) return std::nullopt;
  return syslog_setting_invalid_alert(text);
}

}  // namespace tarnwick
