// The statistics snapshot reader: never crashes, and what it accepts writes
// back to a snapshot with the same counters.
#include "fuzz_support.h"
#include "stats/stats.h"

using namespace tarnwick;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto values = parse_snapshot(text);
  if (!values) return 0;
  StatsSnapshot snapshot;
  snapshot.counters = *values;
  snapshot.uptime_secs = size;
  snapshot.ts_unix = values->total_alerts ^ values->peak_risk;
  const std::string written = snapshot_text(snapshot);
  const auto again = parse_snapshot(written);
  FUZZ_CHECK(again && *again == *values, written);
  return 0;
}
