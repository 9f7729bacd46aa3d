#include <gtest/gtest.h>

#include <vector>

#include "eventlog/eventlog.h"

namespace tarnwick {
namespace {

struct Reported {
  EventType type;
  uint32_t id;
  std::vector<std::string> strings;
};

class RecordingWriter final : public EventLogWriter {
 public:
  explicit RecordingWriter(std::vector<Reported>& out) : out_(out) {}
  void report(EventType type, uint32_t id, const std::array<std::string_view, 3>& s) override {
    out_.push_back({type, id, {std::string(s[0]), std::string(s[1]), std::string(s[2])}});
  }

 private:
  std::vector<Reported>& out_;
};

TEST(EventLogOutput, TypeBySeverityIdBySourceAndThreeStrings) {
  struct Case {
    AlertSource source;
    Severity severity;
    EventType type;
    uint32_t id;
  };
  const Case cases[] = {
      {AlertSource::Network, Severity::Info, EventType::Information, 1001},
      {AlertSource::Process, Severity::Critical, EventType::Error, 1002},
      {AlertSource::Persistence, Severity::Medium, EventType::Warning, 1003},
      {AlertSource::Files, Severity::High, EventType::Error, 1004},
      {AlertSource::Dns, Severity::Low, EventType::Information, 1005},
      {AlertSource::System, Severity::Medium, EventType::Warning, 1006},
  };
  std::vector<Reported> reported;
  EventLogOutput output(std::make_unique<RecordingWriter>(reported));
  for (const auto& c : cases) {
    const Alert a = make_alert(c.source, c.severity, "title", std::string("line one\nline two"));
    output.write(a, "{\"the\":\"line\"}");
  }
  ASSERT_EQ(reported.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(reported[i].type, cases[i].type);
    EXPECT_EQ(reported[i].id, cases[i].id);
    EXPECT_EQ(reported[i].strings,
              (std::vector<std::string>{"title", "line one\nline two", "{\"the\":\"line\"}"}));
  }
}

}  // namespace
}  // namespace tarnwick
