#pragma once
// Replaying recorded process starts through the process rules: one JSON line
// per start, either in Tarnwick's own form or as a process-creation event
// exported by Windows event tools, and each resulting alert written as an
// alert-log line. Portable; the tool's entry point only opens the streams and
// picks the platform's signature check.

#include <iosfwd>
#include <string>
#include <string_view>

#include "proc/launch.h"
#include "procmeta/procmeta.h"

namespace tarnwick {

struct ReplayLine {
  enum class Kind {
    Launch,   // `launch`, `parent_name` and `is_signed` are set
    Blank,    // nothing but white space
    Ignored,  // a well-formed event that is not a process creation
    Error,    // `error` says why
  };
  Kind kind = Kind::Error;
  ProcessLaunch launch;
  std::string parent_name;  // stands in for the lookup by parent pid
  bool is_signed = false;   // the line vouches for the image's signature
  std::string error;
};

// Never throws on any input. A trailing carriage return is ignored.
ReplayLine parse_replay_line(std::string_view line);

// Reads every line of `in`, writes one serialised alert per line to `out` in
// evaluation order and one "line N: ..." message per bad line to `err`.
// Returns 0 when every line was usable, 1 when some were skipped, and 2 when
// reading or writing failed. Files not vouched for as signed are checked with
// `platform_trust`, or count as unsigned when it is null.
int run_replay(std::istream& in, std::ostream& out, std::ostream& err,
               const SignatureCheck* platform_trust);

}  // namespace tarnwick
