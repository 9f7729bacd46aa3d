#include <gtest/gtest.h>

#include "alert/sink.h"

namespace tarnwick {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::seconds;

class LinesLog final : public AlertLog {
 public:
  std::vector<std::string> lines;
  bool append(std::string_view line) override {
    lines.emplace_back(line);
    return true;
  }
};

class ScriptedOutput final : public AlertOutput {
 public:
  std::vector<std::string> written;  // "{title}|{line}"
  std::vector<std::optional<Alert>> notices;
  void write(const Alert& alert, std::string_view line) override {
    written.push_back(alert.title + "|" + std::string(line));
  }
  std::optional<Alert> take_notice(Clock::time_point) override {
    if (notices.empty()) return std::nullopt;
    auto n = std::move(notices.front());
    notices.erase(notices.begin());
    return n;
  }
};

class OneReport final : public Responder {
 public:
  std::optional<Alert> respond(const Alert&, const Config&) override {
    return make_alert(AlertSource::System, Severity::High, "Threat blocked", std::string("r"));
  }
};

TEST(AlertSinkOutputs, GetEveryLoggedLineAfterTheLogAndRaiseTheirNotices) {
  Config config;
  config.auto_response_enabled = true;
  StatsCounters stats{"unused.json", {}, Clock::time_point{}};
  LinesLog log;
  NoNotifier notifier;
  OneReport responder;
  ScriptedOutput first;
  ScriptedOutput second;
  const Clock::time_point t0{std::chrono::hours(5)};
  AlertSink sink{{config, stats, log, notifier, responder, {}, {&first, &second}},
                 [&] { return t0; }, t0};

  first.notices.push_back(
      make_alert(AlertSource::System, Severity::Low, "Output fell behind", std::string("n")));
  const Alert critical = make_alert(AlertSource::Process, Severity::Critical, "bad", std::string("d"));
  sink.handle(critical, t0);
  sink.handle(critical, t0 + seconds(1));  // a repeat: counted, not logged, not answered again

  // The notice is an alert like any other, logged after the alert that found
  // it due; each output gets each line as logged, without its line feed.
  const char* titles[] = {"bad", "Threat blocked", "Output fell behind"};
  ASSERT_EQ(log.lines.size(), 3u);
  std::vector<std::string> expected;
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_EQ(log.lines[i].back(), '\n');
    expected.push_back(titles[i] + ("|" + log.lines[i].substr(0, log.lines[i].size() - 1)));
  }
  EXPECT_EQ(first.written, expected);
  EXPECT_EQ(second.written, expected);
  EXPECT_EQ(stats.values().total_alerts, 3u);
}

}  // namespace
}  // namespace tarnwick
