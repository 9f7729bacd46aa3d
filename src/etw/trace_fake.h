#pragma once
// In-memory stand-ins for trace sessions: an event with scripted properties,
// and a factory that either fails with a given error or hands out a session
// whose callback the test calls itself. Tests only.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

class FakeTraceFactory final : public TraceFactory {
 public:
  // When set, every start fails with it.
  std::optional<TraceStartError> failure;
  // What the last start was given.
  std::string session_name;
  TraceProvider provider;
  TraceCallback callback;
  int starts = 0;
  int stops = 0;
  // Set by a test to make the running session's event loop end on its own.
  bool ended = false;

  TraceStart start(const std::string& name, const TraceProvider& p,
                   TraceCallback on_event) override {
    ++starts;
    session_name = name;
    provider = p;
    if (failure) return *failure;
    callback = std::move(on_event);
    return std::unique_ptr<TraceSession>(std::make_unique<Session>(*this));
  }

 private:
  class Session final : public TraceSession {
   public:
    explicit Session(FakeTraceFactory& owner) : owner_(owner) {}
    void stop() override { ++owner_.stops; }
    bool ended() const override { return owner_.ended; }

   private:
    FakeTraceFactory& owner_;
  };
};

}  // namespace tarnwick::testing
