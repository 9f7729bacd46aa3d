#pragma once
// Replaying recorded telemetry through the detectors' rules: process starts
// through the process rules, DNS queries through the domain judgement, and
// outbound connections through the connection rules and the beaconing test,
// whose state lives across lines on the events' own time. Each line is one
// JSON object, in Tarnwick's own form or as an event exported by Windows
// event tools; each resulting alert is written as an alert-log line.
// Portable; the tool's entry point only opens the streams and picks the
// platform's signature check.

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "net/connections.h"
#include "proc/launch.h"
#include "procmeta/procmeta.h"

namespace tarnwick {

// One recorded outbound connection.
struct ReplayConnection {
  uint32_t pid = 0;
  std::string image;  // may be empty
  // Host order; nothing for an IPv6 destination, which the monitor never sees.
  std::optional<uint32_t> remote_addr;
  uint16_t remote_port = 0;
  MonitorTime time;  // since 1970, from the event
};

struct ReplayLine {
  enum class Kind {
    Launch,      // `launch`, `parent_name` and `is_signed` are set
    Connection,  // `connection` is set
    Query,       // `query_name` is set
    Blank,       // nothing but white space
    Ignored,     // a well-formed event of another kind
    Error,       // `error` says why
  };
  Kind kind = Kind::Error;
  ProcessLaunch launch;
  std::string parent_name;  // stands in for the lookup by parent pid
  bool is_signed = false;   // the line vouches for the image's signature
  ReplayConnection connection;
  std::string query_name;
  // The line's own time (`ts`, or `UtcTime` in an event), in whole seconds
  // since 1970, when it has one: its alerts carry it.
  std::optional<uint64_t> ts_unix;
  std::string error;
};

// Never throws on any input. A trailing carriage return is ignored.
ReplayLine parse_replay_line(std::string_view line);

// Reads every line of `in`, writes one serialised alert per line to `out` in
// evaluation order and one "line N: ..." message per bad line to `err`. A
// connection line more than 1 s older than the latest one before it is such
// a bad line: the beaconing test needs the input in time order.
// Returns 0 when every line was usable, 1 when some were skipped, and 2 when
// reading or writing failed. Files not vouched for as signed are checked with
// `platform_trust`, or count as unsigned when it is null.
int run_replay(std::istream& in, std::ostream& out, std::ostream& err,
               const SignatureCheck* platform_trust);

}  // namespace tarnwick
