// The syslog server text and the frame: the parser never crashes and only
// accepts what it can give back whole; the frame's length prefix always
// counts its message exactly; the invalid-setting alert stays valid UTF-8.
#include "fuzz_support.h"
#include "syslog/syslog.h"

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (const auto server = parse_syslog_server(text)) {
    FUZZ_CHECK(!server->host.empty() && server->port >= 1, text);
    FUZZ_CHECK(server->text == text && text.size() <= 255, text);
    for (unsigned char c : text) FUZZ_CHECK(c > 0x20 && c != 0x7F, text);
  } else if (!text.empty()) {
    const auto alert = syslog_setting_alert(text);
    // At most 300 bytes are quoted, each escaped to at most six.
    FUZZ_CHECK(alert && alert->detail.size() < 2048, text);
    FUZZ_CHECK(fuzz::nlohmann_valid_utf8(alert->detail), alert->detail);
  }

  Alert a = make_alert(AlertSource::Files, Severity::Medium, text, std::string(text));
  a.ts_unix = size * 7919u * 104729u;
  const std::string line = serialise(a);
  std::string frame;
  append_syslog_frame(a, line, {syslog_hostname(text, "PC"), 4242}, frame);
  const size_t blank = frame.find(' ');
  FUZZ_CHECK(blank != std::string::npos, frame);
  FUZZ_CHECK(frame.substr(0, blank) == std::to_string(frame.size() - blank - 1), frame);
  FUZZ_CHECK(frame.ends_with(line) && frame.find('\n') == std::string::npos, frame);
  return 0;
}
