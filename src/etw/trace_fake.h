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
  uint8_t event_opcode = 0;
  Guid provider;
  uint32_t header_pid = 0;
  bool schema = true;
  std::map<std::string, std::string, std::less<>> scalars;  // raw bytes
  std::map<std::string, uint32_t, std::less<>> uint32s;
  std::map<std::string, std::string, std::less<>> strings;  // already UTF-8

  uint16_t id() const override { return event_id; }
  uint8_t opcode() const override { return event_opcode; }
  Guid provider_id() const override { return provider; }
  uint32_t header_process_id() const override { return header_pid; }
  std::optional<uint32_t> uint32_value(std::string_view p) const override {
    auto it = uint32s.find(p);
    if (!schema || it == uint32s.end()) return std::nullopt;
    return it->second;
  }
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
  // When set, every provider session start fails with it.
  std::optional<TraceStartError> failure;
  // When set, every system-logger session start fails with it. By default
  // they fail as where the system has no slot left for one, so tests that
  // need only the provider session need not say so.
  std::optional<TraceStartError> kernel_failure = TraceStartError{"StartTraceW", 1450};
  // What the last start was given.
  std::string session_name;
  TraceProvider provider;
  KernelTrace kernel;
  TraceCallback callback;
  // "provider" or "kernel" for each start, in order.
  std::vector<std::string> started;
  int starts = 0;
  int stops = 0;
  // Set by a test to make the running session's event loop end on its own.
  bool ended = false;

  TraceStart start(const std::string& name, const TraceProvider& p,
                   TraceCallback on_event) override {
    ++starts;
    started.push_back("provider");
    session_name = name;
    provider = p;
    if (failure) return *failure;
    callback = std::move(on_event);
    return std::unique_ptr<TraceSession>(std::make_unique<Session>(*this));
  }

  TraceStart start_kernel(const std::string& name, const KernelTrace& k,
                          TraceCallback on_event) override {
    ++starts;
    started.push_back("kernel");
    session_name = name;
    kernel = k;
    if (kernel_failure) return *kernel_failure;
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
