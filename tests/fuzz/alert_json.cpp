// Alert serialisation: whatever bytes an alert carries, its log line is one
// line of valid JSON with the keys in order, reading back to the same values
// (ill-formed UTF-8 aside, which may only come back as U+FFFD).
#include "fuzz_support.h"

using namespace tarnwick;

namespace {

void check_string(const nlohmann::ordered_json& value, std::string_view original) {
  FUZZ_CHECK(value.is_string());
  fuzz::check_same_text(value.get_ref<const std::string&>(), original);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const Alert a = fuzz::alert_from(in);
  const std::string line = serialise(a);
  const auto doc = fuzz::read_log_line(line);

  static const char* const kKeys[] = {"ts_unix", "source",  "severity",  "title",
                                      "detail",  "pid", "dedup_key", "remediation"};
  FUZZ_CHECK(doc.size() == 8, line);
  size_t k = 0;
  for (const auto& [key, value] : doc.items()) FUZZ_CHECK(key == kKeys[k++], line);

  FUZZ_CHECK(doc["ts_unix"].get<uint64_t>() == a.ts_unix);
  FUZZ_CHECK(doc["source"] == source_name(a.source));
  FUZZ_CHECK(doc["severity"] == severity_name(a.severity));
  check_string(doc["title"], a.title);
  check_string(doc["detail"], a.detail);
  check_string(doc["dedup_key"], a.dedup_key);
  if (a.pid) {
    FUZZ_CHECK(doc["pid"].get<uint64_t>() == *a.pid);
  } else {
    FUZZ_CHECK(doc["pid"].is_null());
  }
  const auto& rem = doc["remediation"];
  if (!a.remediation) {
    FUZZ_CHECK(rem.is_null());
  } else if (std::holds_alternative<SuspendProcess>(*a.remediation)) {
    FUZZ_CHECK(rem == "SuspendProcess");
  } else if (std::holds_alternative<KillProcess>(*a.remediation)) {
    FUZZ_CHECK(rem == "KillProcess");
  } else {
    const auto& d = std::get<DeleteRegValue>(*a.remediation);
    FUZZ_CHECK(rem.size() == 1 && rem.contains("DeleteRegValue"), line);
    const auto& body = rem["DeleteRegValue"];
    FUZZ_CHECK(body.size() == 3 && body.begin().key() == "hive", line);
    check_string(body["hive"], d.hive);
    check_string(body["subkey"], d.subkey);
    check_string(body["value"], d.value);
  }

  // Appending to a buffer gives the same line after what was there.
  std::string buffer = "prefix";
  serialise_into(a, buffer);
  FUZZ_CHECK(buffer == "prefix" + line);
  return 0;
}
