#include "replay/replay.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <istream>
#include <limits>
#include <optional>
#include <ostream>

#include "alert/alert.h"
#include "json/strict_json.h"
#include "net/dns.h"
#include "text/text.h"

namespace tarnwick {

namespace {

// Where one line form keeps each field.
struct LineForm {
  std::string_view pid;
  std::string_view parent_pid;
  std::string_view image;
  std::string_view command_line;
};

constexpr LineForm kOwnForm{"pid", "parent_pid", "image", "command_line"};
constexpr LineForm kEventForm{"ProcessId", "ParentProcessId", "Image", "CommandLine"};

struct ConnectionForm {
  std::string_view pid;
  std::string_view image;
  std::string_view addr;
  std::string_view port;
  std::string_view time;
};

constexpr ConnectionForm kOwnConnection{"pid", "image", "remote_addr", "remote_port", "ts"};
constexpr ConnectionForm kEventConnection{"ProcessId", "Image", "DestinationIp", "DestinationPort",
                                          "UtcTime"};

constexpr uint32_t kProcessCreation = 1;
constexpr uint32_t kNetworkConnection = 3;
constexpr uint32_t kDnsQuery = 22;

// 9999-12-31 23:59:59, the last second an event time can name.
constexpr int64_t kLatestSecond = 253402300799;

ReplayLine failure(std::string message) {
  ReplayLine r;
  r.kind = ReplayLine::Kind::Error;
  r.error = std::move(message);
  return r;
}

const Json* member(const Json& doc, std::string_view key) {
  const auto it = doc.find(key);
  if (it == doc.end() || it->is_null()) return nullptr;
  return &*it;
}

// Event exports often write numbers as decimal strings; both are accepted,
// but nothing that would have to be truncated or guessed at.
std::optional<uint32_t> as_u32(const Json& value) {
  constexpr uint64_t kMax = std::numeric_limits<uint32_t>::max();
  if (value.is_number()) {
    const auto v = as_unsigned(value, kMax);
    if (!v) return std::nullopt;
    return static_cast<uint32_t>(*v);
  }
  if (!value.is_string()) return std::nullopt;
  const std::string& text = value.get_ref<const std::string&>();
  uint32_t v = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, v);
  if (text.empty() || ec != std::errc() || ptr != end) return std::nullopt;
  return v;
}

// Absent or null reads as 0; anything else must be a process id.
bool read_id(const Json& doc, std::string_view key, uint32_t& out, std::string& error) {
  const Json* value = member(doc, key);
  if (value == nullptr) return true;
  if (const auto id = as_u32(*value)) {
    out = *id;
    return true;
  }
  error = std::string(key) + " is not a process id (a number from 0 to 4294967295)";
  return false;
}

// Absent or null reads as the empty text.
bool read_text(const Json& doc, std::string_view key, std::string& out, std::string& error) {
  const Json* value = member(doc, key);
  if (value == nullptr) return true;
  if (!value->is_string()) {
    error = std::string(key) + " is not a string";
    return false;
  }
  out = value->get<std::string>();
  return true;
}

bool is_blank(std::string_view line) {
  return line.find_first_not_of(" \t\r\f\v") == std::string_view::npos;
}

bool all_digits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int digits_value(std::string_view text) {
  int v = 0;
  for (char c : text) v = v * 10 + (c - '0');
  return v;
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
int64_t days_from_civil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

int days_in_month(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

// "YYYY-MM-DD hh:mm:ss", optionally with a fraction of up to nine digits, UTC.
std::optional<std::chrono::microseconds> parse_utc_time(std::string_view t) {
  if (t.size() < 19 || t[4] != '-' || t[7] != '-' || t[10] != ' ' || t[13] != ':' || t[16] != ':') {
    return std::nullopt;
  }
  const std::string_view fields[] = {t.substr(0, 4),  t.substr(5, 2),  t.substr(8, 2),
                                     t.substr(11, 2), t.substr(14, 2), t.substr(17, 2)};
  for (std::string_view f : fields) {
    if (!all_digits(f)) return std::nullopt;
  }
  const int year = digits_value(fields[0]), month = digits_value(fields[1]);
  const int day = digits_value(fields[2]), hour = digits_value(fields[3]);
  const int minute = digits_value(fields[4]), second = digits_value(fields[5]);
  if (year < 1970 || month < 1 || month > 12 || day < 1 || day > days_in_month(year, month) ||
      hour > 23 || minute > 59 || second > 59) {
    return std::nullopt;
  }
  int64_t micros = 0;
  if (t.size() > 19) {
    const std::string_view fraction = t.substr(20);
    if (t[19] != '.' || fraction.size() > 9 || !all_digits(fraction)) return std::nullopt;
    for (size_t i = 0; i < 6; ++i) micros = micros * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
  }
  const int64_t seconds =
      days_from_civil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  return std::chrono::seconds(seconds) + std::chrono::microseconds(micros);
}

// Four decimal octets without leading zeros, which some tools would read as octal.
std::optional<uint32_t> parse_ipv4(std::string_view text) {
  uint32_t addr = 0;
  for (int part = 0; part < 4; ++part) {
    const size_t dot = text.find('.');
    // Dots after the first three octets only.
    if ((part < 3) != (dot != std::string_view::npos)) return std::nullopt;
    const std::string_view octet = text.substr(0, dot);
    if (!all_digits(octet) || octet.size() > 3 || (octet.size() > 1 && octet[0] == '0')) {
      return std::nullopt;
    }
    const int v = digits_value(octet);
    if (v > 255) return std::nullopt;
    addr = addr << 8 | static_cast<uint32_t>(v);
    text = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
  }
  return addr;
}

// Hex groups, colons, an embedded IPv4 tail and a zone: enough to tell an
// IPv6 address from a mistyped IPv4 one.
bool looks_ipv6(std::string_view text) {
  const size_t zone = text.find('%');
  const std::string_view addr = text.substr(0, zone);
  if (std::count(addr.begin(), addr.end(), ':') < 2) return false;
  return std::all_of(addr.begin(), addr.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' ||
           c == '.';
  });
}

// The line's time, when it has one: `UtcTime` in an event, `ts` (seconds
// since 1970, with fraction) in Tarnwick's own form.
bool read_time(const Json& doc, bool is_event, std::optional<MonitorTime>& out,
               std::string& error) {
  const Json* time = member(doc, is_event ? "UtcTime" : "ts");
  if (time == nullptr) return true;
  if (is_event) {
    const auto t = time->is_string() ? parse_utc_time(time->get_ref<const std::string&>())
                                     : std::nullopt;
    if (!t) {
      error = "UtcTime is not a time of the form YYYY-MM-DD hh:mm:ss.fff";
      return false;
    }
    out = MonitorTime(*t);
    return true;
  }
  const double ts = time->is_number() ? time->get<double>() : -1.0;
  if (!(ts >= 0 && ts <= static_cast<double>(kLatestSecond))) {
    error = "ts is not a time (seconds since 1970, up to the year 9999)";
    return false;
  }
  out = MonitorTime(std::chrono::microseconds(std::llround(ts * 1e6)));
  return true;
}

uint64_t whole_seconds(MonitorTime t) {
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::seconds>(t.time_since_epoch()).count());
}

// The line's time as its alerts carry it; false with `error` set when it is
// there but is not a time.
bool stamp(const Json& doc, bool is_event, ReplayLine& r, std::string& error) {
  std::optional<MonitorTime> time;
  if (!read_time(doc, is_event, time, error)) return false;
  if (time) r.ts_unix = whole_seconds(*time);
  return true;
}

// An event's "Protocol" and "Initiated", where present, must say an outbound
// TCP connection: the rules judge nothing else. Initiated is written as a
// boolean or, as exports do, as the text "true" or "false".
enum class Direction { Outbound, Other, Bad };
Direction event_direction(const Json& doc, std::string& error) {
  if (const Json* protocol = member(doc, "Protocol")) {
    if (!protocol->is_string()) {
      error = "Protocol is not a string";
      return Direction::Bad;
    }
    if (to_lower(protocol->get_ref<const std::string&>()) != "tcp") return Direction::Other;
  }
  if (const Json* initiated = member(doc, "Initiated")) {
    std::optional<bool> value;
    if (initiated->is_boolean()) {
      value = initiated->get<bool>();
    } else if (initiated->is_string()) {
      const std::string text = to_lower(initiated->get_ref<const std::string&>());
      if (text == "true") value = true;
      if (text == "false") value = false;
    }
    if (!value) {
      error = "Initiated is not true or false";
      return Direction::Bad;
    }
    if (!*value) return Direction::Other;
  }
  return Direction::Outbound;
}

ReplayLine parse_launch(const Json& doc, bool is_event) {
  const LineForm& form = is_event ? kEventForm : kOwnForm;
  ReplayLine r;
  std::string error;
  std::string parent;
  if (!read_id(doc, form.pid, r.launch.pid, error) ||
      !read_id(doc, form.parent_pid, r.launch.parent_pid, error) ||
      !read_text(doc, form.image, r.launch.image, error) ||
      !read_text(doc, form.command_line, r.launch.command_line, error) ||
      !read_text(doc, is_event ? "ParentImage" : "parent_name", parent, error)) {
    return failure(std::move(error));
  }
  if (r.launch.image.empty()) return failure("no " + std::string(form.image));
  // A NUL would cut the path short at the platform boundary, and the
  // signature would then be checked on another file.
  if (r.launch.image.find('\0') != std::string::npos) {
    return failure(std::string(form.image) + " contains a NUL character");
  }
  r.parent_name = is_event ? std::string(file_name(parent)) : std::move(parent);
  if (!stamp(doc, is_event, r, error)) return failure(std::move(error));

  if (const Json* vouched = member(doc, "signed")) {
    if (!vouched->is_boolean()) return failure("signed is not true or false");
    r.is_signed = vouched->get<bool>();
  }
  r.kind = ReplayLine::Kind::Launch;
  return r;
}

ReplayLine parse_connection(const Json& doc, bool is_event) {
  const ConnectionForm& form = is_event ? kEventConnection : kOwnConnection;
  ReplayLine r;
  ReplayConnection& c = r.connection;
  std::string error;
  if (is_event) {
    // UDP (NTP, DNS) and inbound connections are passed over like events of
    // another kind; judged as outbound TCP they looked like beaconing.
    switch (event_direction(doc, error)) {
      case Direction::Outbound: break;
      case Direction::Other: {
        ReplayLine ignored;
        ignored.kind = ReplayLine::Kind::Ignored;
        return ignored;
      }
      case Direction::Bad: return failure(std::move(error));
    }
  }
  std::string addr;
  if (!read_id(doc, form.pid, c.pid, error) || !read_text(doc, form.image, c.image, error) ||
      !read_text(doc, form.addr, addr, error)) {
    return failure(std::move(error));
  }
  if (addr.empty()) return failure("no " + std::string(form.addr));
  if (const auto v4 = parse_ipv4(addr)) {
    c.remote_addr = *v4;
  } else if (!looks_ipv6(addr)) {
    return failure(std::string(form.addr) + " is not an IP address");
  }

  const Json* port = member(doc, form.port);
  if (port == nullptr) return failure("no " + std::string(form.port));
  const auto port_value = as_u32(*port);
  if (!port_value || *port_value > 65535) {
    return failure(std::string(form.port) + " is not a port number (0 to 65535)");
  }
  c.remote_port = static_cast<uint16_t>(*port_value);

  if (member(doc, form.time) == nullptr) return failure("no " + std::string(form.time));
  std::optional<MonitorTime> time;
  if (!read_time(doc, is_event, time, error)) return failure(std::move(error));
  c.time = *time;
  r.ts_unix = whole_seconds(c.time);
  r.kind = ReplayLine::Kind::Connection;
  return r;
}

ReplayLine parse_query(const Json& doc, bool is_event) {
  const std::string_view key = is_event ? "QueryName" : "query_name";
  ReplayLine r;
  std::string error;
  if (!read_text(doc, key, r.query_name, error)) return failure(std::move(error));
  if (member(doc, key) == nullptr) return failure("no " + std::string(key));
  if (!stamp(doc, is_event, r, error)) return failure(std::move(error));
  r.kind = ReplayLine::Kind::Query;
  return r;
}

}  // namespace

ReplayLine parse_replay_line(std::string_view line) {
  if (line.ends_with('\r')) line.remove_suffix(1);
  if (is_blank(line)) {
    ReplayLine r;
    r.kind = ReplayLine::Kind::Blank;
    return r;
  }
  if (!json_depth_within(line, kMaxJsonDepth)) return failure("nested deeper than 64 levels");
  const Json doc = Json::parse(line.begin(), line.end(), nullptr, false);
  if (doc.is_discarded()) return failure("not valid JSON");
  if (!doc.is_object()) return failure("not a JSON object");

  const auto event_id = doc.find("EventID");
  if (event_id != doc.end()) {
    const auto id = as_u32(*event_id);
    if (!id) return failure("EventID is not a number");
    switch (*id) {
      case kProcessCreation: return parse_launch(doc, true);
      case kNetworkConnection: return parse_connection(doc, true);
      case kDnsQuery: return parse_query(doc, true);
      default: {
        ReplayLine r;
        r.kind = ReplayLine::Kind::Ignored;
        return r;
      }
    }
  }
  const bool has_addr = doc.contains("remote_addr");
  const bool has_query = doc.contains("query_name");
  if (has_addr && has_query) return failure("both remote_addr and query_name: one line is one event");
  if (has_addr) return parse_connection(doc, false);
  if (has_query) return parse_query(doc, false);
  return parse_launch(doc, false);
}

namespace {

// A line's own "signed": true wins; otherwise the platform decides.
class LineTrust final : public SignatureCheck {
 public:
  explicit LineTrust(const SignatureCheck* platform) : platform_(platform) {}
  void vouch(bool is_signed) { vouched_ = is_signed; }
  bool is_file_signed(std::string_view path) const override {
    return vouched_ || (platform_ != nullptr && platform_->is_file_signed(path));
  }

 private:
  const SignatureCheck* platform_;
  bool vouched_ = false;
};

// Every parent name arrives with its line.
class NoProcessQuery final : public ProcessQuery {
 public:
  std::optional<std::string> query_image_path(uint32_t) const override { return std::nullopt; }
};

class LineWriter final : public AlertOut {
 public:
  explicit LineWriter(std::ostream& out) : out_(out) {}
  // The time of the line being replayed; its alerts carry it rather than
  // the time of the run.
  void set_line_time(std::optional<uint64_t> ts_unix) { line_time_ = ts_unix; }
  void push(Alert alert) override {
    if (line_time_) alert.ts_unix = *line_time_;
    buffer_.clear();
    serialise_into(alert, buffer_);
    buffer_ += '\n';
    out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
  }

 private:
  std::ostream& out_;
  std::string buffer_;
  std::optional<uint64_t> line_time_;
};

}  // namespace

int run_replay(std::istream& in, std::ostream& out, std::ostream& err,
               const SignatureCheck* platform_trust) {
  NoProcessQuery no_query;
  LineTrust trust(platform_trust);
  LaunchEvaluator evaluator(no_query, trust);
  LineWriter writer(out);
  // Recorded connections are judged on their own time, never the clock's,
  // and outside game mode.
  const EngineFlags no_game_mode;
  ConnectionMonitor monitor(no_game_mode);
  std::string domain_scratch;

  bool skipped = false;
  uint64_t number = 0;
  std::optional<MonitorTime> latest;  // of the connection lines so far
  std::string line;
  while (std::getline(in, line)) {
    ++number;
    ReplayLine parsed = parse_replay_line(line);
    // Events exported newest first would feed the beaconing test negative
    // intervals and lose every beacon without a word. A second of slack lets
    // events logged a moment apart by different threads through.
    if (parsed.kind == ReplayLine::Kind::Connection) {
      if (latest && parsed.connection.time < *latest - std::chrono::seconds(1)) {
        parsed = failure("time goes backwards (sort the input by time)");
      } else if (!latest || parsed.connection.time > *latest) {
        latest = parsed.connection.time;
      }
    }
    writer.set_line_time(parsed.ts_unix);
    switch (parsed.kind) {
      case ReplayLine::Kind::Launch:
        trust.vouch(parsed.is_signed);
        evaluator.evaluate_with_parent(parsed.launch, parsed.parent_name, writer);
        break;
      case ReplayLine::Kind::Connection: {
        const ReplayConnection& c = parsed.connection;
        if (c.remote_addr) {
          // A recorded outbound connection stands for an established one.
          monitor.observe_new_connection({c.pid, *c.remote_addr, c.remote_port, kTcpStateEstablished},
                                         file_name(c.image), c.time, writer);
        } else {
          monitor.expire_beacons(c.time);
        }
        break;
      }
      case ReplayLine::Kind::Query:
        if (auto alert = domain_alert(classify_domain(parsed.query_name, domain_scratch))) {
          writer.push(std::move(*alert));
        }
        break;
      case ReplayLine::Kind::Error:
        err << "line " << number << ": " << parsed.error << '\n';
        skipped = true;
        break;
      case ReplayLine::Kind::Blank:
      case ReplayLine::Kind::Ignored: break;
    }
    if (!out) break;
  }
  if (in.bad()) {
    err << "cannot read the input\n";
    return 2;
  }
  out.flush();
  if (!out) {
    err << "cannot write the alerts\n";
    return 2;
  }
  return skipped ? 1 : 0;
}

}  // namespace tarnwick
