#pragma once
// Shared pieces of the fuzz targets: building records from fuzz bytes and
// checking texts against an independent reader (nlohmann), never against the
// code under test. A failed check aborts, which libFuzzer reports as a crash
// with the input that caused it.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "alert/alert.h"

namespace tarnwick::fuzz {

[[noreturn]] inline void fail(const char* what, std::string_view detail = {}) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  if (!detail.empty()) {
    std::fprintf(stderr, "  text: ");
    for (unsigned char c : detail) std::fprintf(stderr, c >= 0x20 && c < 0x7F ? "%c" : "\\x%02X", c);
    std::fprintf(stderr, "\n");
  }
  std::abort();
}

#define FUZZ_CHECK(cond, ...) \
  do {                        \
    if (!(cond)) ::tarnwick::fuzz::fail(#cond __VA_OPT__(, ) __VA_ARGS__); \
  } while (0)

// Whether nlohmann, which validates strictly, takes `text` as UTF-8.
inline bool nlohmann_valid_utf8(std::string_view text) {
  try {
    (void)nlohmann::json(std::string(text)).dump();
    return true;
  } catch (const nlohmann::json::exception&) {
    return false;
  }
}

// `text` with every byte that is not part of a well-formed character dropped,
// as nlohmann's own decoder sees it.
inline std::string drop_ill_formed(std::string_view text) {
  const std::string dumped =
      nlohmann::json(std::string(text)).dump(-1, ' ', false, nlohmann::json::error_handler_t::ignore);
  return nlohmann::json::parse(dumped).get<std::string>();
}

inline std::string without_replacement_chars(std::string text) {
  for (size_t at; (at = text.find("\xEF\xBF\xBD")) != std::string::npos;) text.erase(at, 3);
  return text;
}

// `shown` is how `original` came back from a reader: identical when the
// original was well-formed, otherwise the same apart from U+FFFD marks.
inline void check_same_text(std::string_view shown, std::string_view original) {
  const std::string clean = drop_ill_formed(original);
  if (clean == original) {
    FUZZ_CHECK(shown == original, shown);
  } else {
    FUZZ_CHECK(without_replacement_chars(std::string(shown)) == without_replacement_chars(clean), shown);
  }
}

inline Alert alert_from(FuzzedDataProvider& in) {
  Alert a;
  a.ts_unix = in.ConsumeIntegral<uint64_t>();
  a.source = static_cast<AlertSource>(in.ConsumeIntegralInRange<int>(0, 5));
  a.severity = static_cast<Severity>(in.ConsumeIntegralInRange<int>(0, 4));
  if (in.ConsumeBool()) a.pid = in.ConsumeIntegral<uint32_t>();
  a.title = in.ConsumeRandomLengthString(512);
  a.detail = in.ConsumeRandomLengthString(2048);
  a.dedup_key = in.ConsumeRandomLengthString(512);
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 1: a.remediation = SuspendProcess{}; break;
    case 2: a.remediation = KillProcess{}; break;
    case 3:
      a.remediation = DeleteRegValue{in.ConsumeRandomLengthString(64), in.ConsumeRandomLengthString(256),
                                     in.ConsumeRandomLengthString(256)};
      break;
    default: break;
  }
  return a;
}

// One alert-log line must be one line of valid JSON that an independent
// reader accepts.
inline nlohmann::ordered_json read_log_line(std::string_view line) {
  FUZZ_CHECK(line.find('\n') == std::string_view::npos && line.find('\r') == std::string_view::npos, line);
  auto doc = nlohmann::ordered_json::parse(line, nullptr, false);
  FUZZ_CHECK(doc.is_object(), line);
  return doc;
}

}  // namespace tarnwick::fuzz
