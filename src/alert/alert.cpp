#include "alert/alert.h"

#include <chrono>
#include <cmath>
#include <cstdio>

#include "text/text.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarnwick {

std::string_view source_name(AlertSource source) {
  switch (source) {
    case AlertSource::Network: return "Network";
    case AlertSource::Process: return "Process";
    case AlertSource::Persistence: return "Persistence";
    case AlertSource::Files: return "Files";
    case AlertSource::Dns: return "Dns";
    case AlertSource::System: return "System";
  }
  return "System";
}

std::string_view source_tag(AlertSource source) {
  switch (source) {
    case AlertSource::Network: return "NET";
    case AlertSource::Process: return "PROC";
    case AlertSource::Persistence: return "PERSIST";
    case AlertSource::Files: return "FILE";
    case AlertSource::Dns: return "DNS";
    case AlertSource::System: return "SYS";
  }
  return "SYS";
}

std::string_view severity_name(Severity severity) {
  switch (severity) {
    case Severity::Info: return "Info";
    case Severity::Low: return "Low";
    case Severity::Medium: return "Medium";
    case Severity::High: return "High";
    case Severity::Critical: return "Critical";
  }
  return "Info";
}

std::string_view severity_tag(Severity severity) {
  switch (severity) {
    case Severity::Info: return "INFO";
    case Severity::Low: return "LOW";
    case Severity::Medium: return "MEDIUM";
    case Severity::High: return "HIGH";
    case Severity::Critical: return "CRITICAL";
  }
  return "INFO";
}

uint64_t unix_now() {
  const auto since = std::chrono::system_clock::now().time_since_epoch();
  const auto secs = std::chrono::duration_cast<std::chrono::seconds>(since).count();
  return secs < 0 ? 0 : static_cast<uint64_t>(secs);
}

namespace {

std::string default_key(AlertSource source, std::string_view title) {
  std::string key(source_tag(source));
  key += ':';
  key += title;
  return key;
}

}  // namespace

Alert make_alert(AlertSource source, Severity severity, std::string_view title,
                 std::string&& detail) {
  Alert a;
  a.ts_unix = unix_now();
  a.source = source;
  a.severity = severity;
  a.title = std::string(title);
  a.detail = std::move(detail);
  a.dedup_key = default_key(source, title);
  return a;
}

Alert make_alert(AlertSource source, Severity severity, std::string_view title,
                 const std::string& detail) {
  return make_alert(source, severity, title, std::string(detail));
}

Alert make_action_outcome(bool success, std::string_view success_title,
                          std::string_view failure_title, std::string detail) {
  return make_alert(AlertSource::System, success ? Severity::High : Severity::Medium,
                    success ? success_title : failure_title, std::move(detail));
}

std::string_view cvss_rating(float score) {
  if (score >= 9.0f) return "Critical";
  if (score >= 7.0f) return "High";
  if (score >= 4.0f) return "Medium";
  if (score > 0.0f) return "Low";
  return "None";
}

namespace {

// The score as "%.1f" writes it. Ten times a float is exact in a double, so
// rounding that product to the nearest integer (ties to even, as printf does)
// gives the same digits without going through printf, which costs more than
// the rest of building an alert. Negative, huge and non-numbers take printf.
std::string_view format_score(float score, char (&buf)[32]) {
  const double tenfold = static_cast<double>(score) * 10.0;
  if (!(tenfold >= 0.0 && tenfold < 1e15) || std::signbit(score)) {
    const int n = std::snprintf(buf, sizeof buf, "%.1f", static_cast<double>(score));
    return std::string_view(buf, n < 0 ? 0 : static_cast<size_t>(n));
  }
  auto units = static_cast<uint64_t>(std::nearbyint(tenfold));
  char* end = buf + sizeof buf;
  char* p = end;
  *--p = static_cast<char>('0' + units % 10);
  *--p = '.';
  units /= 10;
  do {
    *--p = static_cast<char>('0' + units % 10);
    units /= 10;
  } while (units != 0);
  return std::string_view(p, static_cast<size_t>(end - p));
}

}  // namespace

Alert with_mitre(Alert alert, std::string_view label, float score) {
  char buf[32];
  const std::string_view number = format_score(score, buf);
  const std::string_view rating = cvss_rating(score);
  constexpr std::string_view kHead = "\n\nMITRE ATT&CK: ";
  constexpr std::string_view kCvss = "  \u00B7  CVSS ";
  std::string& d = alert.detail;
  d.reserve(d.size() + kHead.size() + label.size() + kCvss.size() + number.size() + rating.size() + 3);
  d += kHead;
  d += label;
  d += kCvss;
  d += number;
  d += " (";
  d += rating;
  d += ')';
  return alert;
}

namespace {

// Where the run of bytes that a JSON string takes as they are ends: at the
// first control character, quote, backslash or non-ASCII byte from `pos` on.
// Log lines are mostly such runs, so they are found 16 bytes at a time.
size_t plain_run_end(std::string_view text, size_t pos) {
  const char* s = text.data();
  const size_t n = text.size();
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(0x20);
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  for (; pos + 16 <= n; pos += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + pos));
    // A signed compare: bytes from 0x80 up are negative, so "below 0x20"
    // catches them as well as the control characters.
    const __m128i special = _mm_or_si128(
        _mm_cmplt_epi8(v, space), _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)));
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(special));
    if (mask != 0) return pos + static_cast<size_t>(__builtin_ctz(mask));
  }
#endif
  for (; pos < n; ++pos) {
    const auto c = static_cast<unsigned char>(s[pos]);
    if (c < 0x20 || c == '"' || c == '\\' || c >= 0x80) break;
  }
  return pos;
}

}  // namespace

void append_json_string(std::string_view text, std::string& out) {
  static constexpr char kHex[] = "0123456789abcdef";
  out.push_back('"');
  size_t pos = 0;
  const size_t n = text.size();
  while (pos < n) {
    // Copy runs of bytes that need no escaping in one go.
    const size_t run = plain_run_end(text, pos);
    out.append(text.data() + pos, run - pos);
    pos = run;
    if (pos >= n) break;
    const auto c = static_cast<unsigned char>(text[pos]);
    if (c >= 0x80) {
      // A well-formed sequence is copied as it stands. The decoder answers
      // U+FFFD both for a literal U+FFFD and for an ill-formed run of any
      // length; writing its encoding serves both.
      const size_t start = pos;
      if (decode_utf8(text, pos) == kReplacementChar) {
        append_utf8(kReplacementChar, out);
      } else {
        out.append(text.data() + start, pos - start);
      }
      continue;
    }
    ++pos;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\f': out += "\\f"; break;
      case '\r': out += "\\r"; break;
      default:
        out += "\\u00";
        out.push_back(kHex[c >> 4]);
        out.push_back(kHex[c & 0xF]);
    }
  }
  out.push_back('"');
}

void serialise_into(const Alert& a, std::string& out) {
  out += "{\"ts_unix\":";
  append_decimal(a.ts_unix, out);
  out += ",\"source\":\"";
  out += source_name(a.source);
  out += "\",\"severity\":\"";
  out += severity_name(a.severity);
  out += "\",\"title\":";
  append_json_string(a.title, out);
  out += ",\"detail\":";
  append_json_string(a.detail, out);
  out += ",\"pid\":";
  if (a.pid) {
    append_decimal(*a.pid, out);
  } else {
    out += "null";
  }
  out += ",\"dedup_key\":";
  append_json_string(a.dedup_key, out);
  out += ",\"remediation\":";
  if (!a.remediation) {
    out += "null";
  } else if (std::holds_alternative<SuspendProcess>(*a.remediation)) {
    out += "\"SuspendProcess\"";
  } else if (std::holds_alternative<KillProcess>(*a.remediation)) {
    out += "\"KillProcess\"";
  } else {
    const auto& d = std::get<DeleteRegValue>(*a.remediation);
    out += "{\"DeleteRegValue\":{\"hive\":";
    append_json_string(d.hive, out);
    out += ",\"subkey\":";
    append_json_string(d.subkey, out);
    out += ",\"value\":";
    append_json_string(d.value, out);
    out += "}}";
  }
  out += '}';
}

std::string serialise(const Alert& alert) {
  std::string out;
  out.reserve(160 + alert.title.size() + alert.detail.size() + alert.dedup_key.size());
  serialise_into(alert, out);
  return out;
}

SeverityParse parse_severity(std::string_view name) {
  for (Severity s : {Severity::Info, Severity::Low, Severity::Medium, Severity::High,
                     Severity::Critical}) {
    if (name == severity_name(s)) return {s, {}};
  }
  std::string error = "unknown severity \"";
  error += name;
  error += "\", expected one of \"Info\", \"Low\", \"Medium\", \"High\", \"Critical\"";
  return {std::nullopt, std::move(error)};
}

}  // namespace tarnwick
