// Replay lines, in every form the tool reads: never a crash, errors always
// explained, launches without NUL in the image. The input is then replayed
// whole, one line after another, so that the beaconing state carried from
// line to line is exercised too, and every alert the rules raise over it must
// be one valid log line.
#include <sstream>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "replay/replay.h"

using namespace tarnwick;

namespace {

void check_line(std::string_view line) {
  const ReplayLine parsed = parse_replay_line(line);
  switch (parsed.kind) {
    case ReplayLine::Kind::Error: FUZZ_CHECK(!parsed.error.empty()); return;
    case ReplayLine::Kind::Blank:
    case ReplayLine::Kind::Ignored: return;
    case ReplayLine::Kind::Query: FUZZ_CHECK(fuzz::nlohmann_valid_utf8(parsed.query_name)); return;
    case ReplayLine::Kind::Connection:
      FUZZ_CHECK(fuzz::nlohmann_valid_utf8(parsed.connection.image), parsed.connection.image);
      return;
    case ReplayLine::Kind::Launch: break;
  }
  FUZZ_CHECK(!parsed.launch.image.empty() && parsed.launch.image.find('\0') == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  check_line(text.substr(0, text.find('\n')));

  std::istringstream in{std::string(text)};
  std::ostringstream out;
  std::ostringstream err;
  const int status = run_replay(in, out, err, nullptr);
  FUZZ_CHECK(status == 0 || status == 1, err.str());
  std::istringstream lines(out.str());
  for (std::string line; std::getline(lines, line);) fuzz::read_log_line(line);
  std::istringstream messages(err.str());
  for (std::string message; std::getline(messages, message);) {
    FUZZ_CHECK(message.rfind("line ", 0) == 0, message);
  }
  return 0;
}
