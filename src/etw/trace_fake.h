#pragma once
// An in-memory trace event: scripted id, header pid, schema and properties,
// each read back as the real decoder would hand it over. Tests only.

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "etw/trace.h"

namespace tarnwick::testing {

class FakeTraceEvent final : public TraceEventView {
 public:
  uint16_t event_id = 1;
  uint32_t header_pid = 0;
  bool schema = true;
  std::map<std::string, std::string, std::less<>> scalars;  // raw bytes
  std::map<std::string, std::string, std::less<>> strings;  // already UTF-8

  uint16_t id() const override { return event_id; }
  uint32_t header_process_id() const override { return header_pid; }
  bool has_schema() const override { return schema; }
  std::optional<std::string> scalar_bytes(std::string_view p) const override {
    auto it = scalars.find(p);
    if (!schema || it == scalars.end()) return std::nullopt;
    return it->second;
  }
  std::optional<std::string> string_value(std::string_view p) const override {
    auto it = strings.find(p);
    if (!schema || it == strings.end()) return std::nullopt;
    return it->second;
  }
};

}  // namespace tarnwick::testing
