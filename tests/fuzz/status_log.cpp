// The status command's reading of the log's tail: never crashes, shows at
// most ten alerts, and its console text keeps one alert to a line whatever a
// line holds (no control character but the line feeds it writes itself).
#include <ctime>

#include "fuzz_support.h"
#include "status/status.h"

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const bool partial = data[0] & 1;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  StatusReport report;
  report.alerts = last_alert_lines(text, partial, kStatusAlertCount);
  FUZZ_CHECK(report.alerts.size() <= kStatusAlertCount);
  const auto fixed_time = [](uint64_t) -> std::optional<std::tm> { return std::tm{}; };
  const std::string shown = status_text(report, fixed_time);
  size_t line_feeds = 0;
  for (unsigned char c : shown) {
    if (c == '\n') ++line_feeds;
    FUZZ_CHECK(c == '\n' || (c >= 0x20 && c != 0x7F), shown);
  }
  // Five lines about the files, the alerts' heading, then one line an alert.
  FUZZ_CHECK(line_feeds == 6 + report.alerts.size(), shown);
  const auto json = nlohmann::json::parse(status_json(report, fixed_time), nullptr, false);
  FUZZ_CHECK(json.is_object() && json["alerts"].size() == report.alerts.size(), shown);
  return 0;
}
