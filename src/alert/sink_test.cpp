#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include <nlohmann/json.hpp>

#include "alert/file_pipeline_fixture.h"
#include "alert/sink.h"
#include "fileio/fileio.h"

namespace tarnwick {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

class RecordingLog final : public AlertLog {
 public:
  std::vector<std::string> lines;
  bool append(std::string_view line) override {
    lines.emplace_back(line);
    return true;
  }
  std::vector<std::string> titles() const {
    std::vector<std::string> out;
    for (const auto& l : lines) out.push_back(nlohmann::json::parse(l)["title"]);
    return out;
  }
};

class RecordingNotifier final : public Notifier {
 public:
  std::vector<std::string> toasts;
  std::vector<std::string> pushes;
  void show_toast(const Alert& a) override { toasts.push_back(a.title); }
  void push(const Alert& a, const Config&) override { pushes.push_back(a.title); }
};

class ScriptedResponder final : public Responder {
 public:
  std::vector<std::string> asked;
  std::optional<Alert> reply;
  std::function<void()> while_responding;  // e.g. lets the clock run on
  std::optional<Alert> respond(const Alert& a, const Config&) override {
    asked.push_back(a.title);
    if (while_responding) while_responding();
    return reply;
  }
};

// A sink wired to recording fakes, with time given explicitly.
struct Harness {
  explicit Harness(Config c = {}) : config(std::move(c)) {}
  Config config;
  StatsCounters stats{"unused.json", {}, Clock::time_point{}};
  RecordingLog log;
  RecordingNotifier notifier;
  ScriptedResponder responder;
  int snapshots = 0;
  Clock::time_point t0{std::chrono::hours(1000)};
  Clock::time_point clock_now = t0;
  AlertSink sink{{config, stats, log, notifier, responder, [this] { ++snapshots; }},
                 [this] { return clock_now; }, t0};

  void at(Clock::duration offset, Alert a) {
    clock_now = t0 + offset;
    sink.handle(std::move(a), t0 + offset);
  }
};

Alert alert(AlertSource src, Severity sev, std::string title) {
  return make_alert(src, sev, title, std::string("detail"));
}

TEST(AlertSink, RepeatWindowIsRefreshedByEveryArrival) {
  Harness h;
  const auto a = alert(AlertSource::Network, Severity::Medium, "beacon");
  h.at(seconds(0), a);
  h.at(seconds(59), a);   // repeat
  h.at(seconds(118), a);  // 59 s after the last arrival: still a repeat
  h.at(seconds(178), a);  // 60 s after the last arrival: logged again
  h.at(milliseconds(237999), a);  // 59.999 s: whole seconds 59, repeat
  EXPECT_EQ(h.log.lines.size(), 2u);
  EXPECT_EQ(h.stats.values().total_alerts, 5u);
}

TEST(AlertSink, KeysAreCaseSensitive) {
  Harness h;
  Alert a = alert(AlertSource::Network, Severity::Medium, "x");
  Alert b = a;
  b.dedup_key = "net:x";
  h.at(seconds(0), a);
  h.at(seconds(1), b);
  EXPECT_EQ(h.log.lines.size(), 2u);
}

TEST(AlertSink, RiskDecaysAddsWeightAndIsBounded) {
  Harness h;
  h.at(seconds(0), alert(AlertSource::Process, Severity::Critical, "a"));
  EXPECT_DOUBLE_EQ(h.sink.risk(), 45.0);
  h.at(seconds(10), alert(AlertSource::Process, Severity::High, "b"));
  EXPECT_DOUBLE_EQ(h.sink.risk(), 60.0);
  EXPECT_EQ(h.stats.values().peak_risk, 60u);
  h.at(milliseconds(10500), alert(AlertSource::System, Severity::Critical, "tamper"));
  EXPECT_DOUBLE_EQ(h.sink.risk(), 59.5);  // System alerts only let it decay
  h.at(seconds(200), alert(AlertSource::Dns, Severity::Info, "c"));
  EXPECT_DOUBLE_EQ(h.sink.risk(), 0.0);
  EXPECT_EQ(h.stats.values().peak_risk, 60u);

  Harness burst;
  for (int i = 0; i < 3; ++i) {
    burst.at(milliseconds(100 * i), alert(AlertSource::Process, Severity::Critical, std::to_string(i)));
  }
  EXPECT_DOUBLE_EQ(burst.sink.risk(), 100.0);
  EXPECT_EQ(burst.stats.values().peak_risk, 100u);
}

TEST(AlertSink, CountsThreatsOnlyForHighNonSystem) {
  Harness h;
  h.at(seconds(0), alert(AlertSource::Process, Severity::High, "a"));
  h.at(seconds(1), alert(AlertSource::Files, Severity::Critical, "b"));
  h.at(seconds(2), alert(AlertSource::Network, Severity::Medium, "c"));
  h.at(seconds(3), alert(AlertSource::System, Severity::Critical, "d"));
  h.at(seconds(4), alert(AlertSource::Process, Severity::High, "a"));  // repeats count too
  EXPECT_EQ(h.stats.values().total_alerts, 5u);
  EXPECT_EQ(h.stats.values().threats, 3u);
}

TEST(AlertSink, ToastWindowOfTwentySecondsAndCriticalBypass) {
  Harness h;
  h.at(seconds(0), alert(AlertSource::Network, Severity::High, "h1"));    // shown
  h.at(seconds(19), alert(AlertSource::Network, Severity::High, "h2"));   // held back
  h.at(seconds(20), alert(AlertSource::Network, Severity::High, "h3"));   // shown
  h.at(seconds(21), alert(AlertSource::Network, Severity::Critical, "c1"));  // always shown
  h.at(seconds(40), alert(AlertSource::Network, Severity::High, "h4"));   // 19 s after c1: held
  h.at(seconds(41), alert(AlertSource::Network, Severity::High, "h5"));   // shown
  h.at(seconds(42), alert(AlertSource::Network, Severity::Medium, "m"));  // below threshold
  EXPECT_EQ(h.notifier.toasts, (std::vector<std::string>{"h1", "h3", "c1", "h5"}));
  EXPECT_EQ(h.log.lines.size(), 7u);
}

TEST(AlertSink, PushOnlyForCriticalNonSystemNonRepeatWithATopic) {
  Config c;
  c.ntfy_topic = "mine";
  Harness h(c);
  h.at(seconds(0), alert(AlertSource::Process, Severity::Critical, "p"));
  h.at(seconds(1), alert(AlertSource::Process, Severity::Critical, "p"));  // repeat
  h.at(seconds(2), alert(AlertSource::System, Severity::Critical, "tamper"));
  h.at(seconds(3), alert(AlertSource::Dns, Severity::High, "h"));
  EXPECT_EQ(h.notifier.pushes, (std::vector<std::string>{"p"}));
  EXPECT_EQ(h.notifier.toasts, (std::vector<std::string>{"p", "tamper"}));

  Harness none;  // empty topic
  none.at(seconds(0), alert(AlertSource::Process, Severity::Critical, "p"));
  EXPECT_TRUE(none.notifier.pushes.empty());

  Config quiet;
  quiet.ntfy_topic = "mine";
  quiet.toast_min_severity = Severity::Critical;
  Harness q(quiet);
  q.at(seconds(0), alert(AlertSource::Files, Severity::Critical, "f"));
  EXPECT_EQ(q.notifier.pushes, (std::vector<std::string>{"f"}));
}

TEST(AlertSink, ResponseGateFollowsTheSourceSwitch) {
  struct Case {
    AlertSource source;
    bool Config::*switch_off;
  };
  const Case cases[] = {
      {AlertSource::Network, &Config::auto_stop_network_threat},
      {AlertSource::Process, &Config::auto_stop_network_threat},
      {AlertSource::Dns, &Config::auto_stop_network_threat},
      {AlertSource::Persistence, &Config::auto_remove_persistence},
      {AlertSource::Files, &Config::auto_stop_ransomware},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(source_name(c.source)));
    Config on;
    on.auto_response_enabled = true;
    Harness yes(on);
    yes.at(seconds(0), alert(c.source, Severity::Critical, "x"));
    yes.at(seconds(1), alert(c.source, Severity::High, "below minimum"));
    EXPECT_EQ(yes.responder.asked, (std::vector<std::string>{"x"}));

    Config off = on;
    off.*c.switch_off = false;
    Harness no(off);
    no.at(seconds(0), alert(c.source, Severity::Critical, "x"));
    EXPECT_TRUE(no.responder.asked.empty());
  }
  Config on;
  on.auto_response_enabled = true;
  Harness sys(on);
  sys.at(seconds(0), alert(AlertSource::System, Severity::Critical, "never"));
  EXPECT_TRUE(sys.responder.asked.empty());

  Harness disabled;  // master switch off by default
  disabled.at(seconds(0), alert(AlertSource::Process, Severity::Critical, "x"));
  EXPECT_TRUE(disabled.responder.asked.empty());
}

// A reverse shell that stays established raises its alert on every 2 s poll
// for an hour: one answer, one report, and the repeats are only counted.
TEST(AlertSink, RepeatsAreCountedButNotAnsweredAgain) {
  Config on;
  on.auto_response_enabled = true;
  Harness h(on);
  h.responder.reply = make_action_outcome(true, "Threat blocked: process suspended",
                                          "Auto-response: suspend failed", "d");
  Alert shell = alert(AlertSource::Network, Severity::Critical, "Possible reverse shell");
  shell.pid = 4242;
  for (int s = 0; s < 3600; s += 2) h.at(seconds(s), shell);
  EXPECT_EQ(h.responder.asked.size(), 1u);
  EXPECT_EQ(h.stats.values().actions, 1u);
  EXPECT_EQ(h.log.titles(), (std::vector<std::string>{"Possible reverse shell",
                                                      "Threat blocked: process suspended"}));
  EXPECT_EQ(h.notifier.toasts.size(), 1u);
  EXPECT_EQ(h.stats.values().total_alerts, 1800u);

  // Once the key has been quiet for 60 s it is new again, and answered again.
  h.at(seconds(3598 + 60), shell);
  EXPECT_EQ(h.responder.asked.size(), 2u);
}

TEST(AlertSink, ReportIsCountedSnapshottedLoggedAndToastedUnderTheWindow) {
  Config on;
  on.auto_response_enabled = true;
  Harness h(on);
  h.responder.reply = make_action_outcome(true, "Threat blocked: terminated & quarantined", "", "d");
  h.at(seconds(0), alert(AlertSource::Process, Severity::Critical, "mimikatz"));
  EXPECT_EQ(h.log.titles(),
            (std::vector<std::string>{"mimikatz", "Threat blocked: terminated & quarantined"}));
  EXPECT_EQ(h.stats.values().actions, 1u);
  EXPECT_EQ(h.stats.values().quarantined, 1u);
  EXPECT_EQ(h.snapshots, 1);
  // The Critical toast at 0 s closes the window for the report.
  EXPECT_EQ(h.notifier.toasts, (std::vector<std::string>{"mimikatz"}));
  // Reports change neither the risk nor the alert counters.
  EXPECT_DOUBLE_EQ(h.sink.risk(), 45.0);
  EXPECT_EQ(h.stats.values().total_alerts, 1u);
  EXPECT_EQ(h.stats.values().threats, 1u);

  h.responder.reply = make_action_outcome(false, "Threat blocked: process suspended",
                                          "Auto-response: suspend failed", "d");
  h.at(seconds(30), alert(AlertSource::Process, Severity::Critical, "second"));
  EXPECT_EQ(h.stats.values().actions, 2u);
  EXPECT_EQ(h.stats.values().quarantined, 1u);
  // Medium report below the High threshold: no toast.
  EXPECT_EQ(h.notifier.toasts, (std::vector<std::string>{"mimikatz", "second"}));

  // A report can be toasted when its alert was not: a Medium alert below the
  // toast threshold whose response succeeded (High).
  Config medium = on;
  medium.auto_response_min_severity = Severity::Medium;
  Harness m(medium);
  m.responder.reply = make_action_outcome(true, "Threat blocked: process suspended", "", "d");
  m.at(seconds(0), alert(AlertSource::Process, Severity::Medium, "a"));
  m.at(seconds(10), alert(AlertSource::Process, Severity::Medium, "b"));
  m.at(seconds(31), alert(AlertSource::Process, Severity::Medium, "c"));
  EXPECT_EQ(m.notifier.toasts, (std::vector<std::string>{"Threat blocked: process suspended",
                                                         "Threat blocked: process suspended"}));
  EXPECT_EQ(m.stats.values().actions, 3u);
}

// The window is judged at the alert's instant; only the instant stored for
// the next window is read after the response, however long it took.
TEST(AlertSink, ReportToastWindowIsJudgedAtTheAlertsInstant) {
  Config medium;
  medium.auto_response_enabled = true;
  medium.auto_response_min_severity = Severity::Medium;
  Harness h(medium);
  h.responder.reply = make_action_outcome(true, "Threat blocked: process suspended", "", "d");
  h.responder.while_responding = [&] { h.clock_now += seconds(15); };
  h.at(seconds(0), alert(AlertSource::Process, Severity::Medium, "a"));  // toasted at 15 s
  // Taken at 25 s, answered at 40 s: 10 s after the last toast by the
  // alert's instant (held back), 25 s by a fresh reading.
  h.at(seconds(25), alert(AlertSource::Process, Severity::Medium, "b"));
  EXPECT_EQ(h.notifier.toasts, (std::vector<std::string>{"Threat blocked: process suspended"}));
  // Taken at 36 s: 21 s after the toast stored at 15 s.
  h.at(seconds(36), alert(AlertSource::Process, Severity::Medium, "c"));
  EXPECT_EQ(h.notifier.toasts.size(), 2u);
}

TEST(AlertSink, NoReportWhenNothingWasAttempted) {
  Config on;
  on.auto_response_enabled = true;
  Harness h(on);
  h.at(seconds(0), alert(AlertSource::Process, Severity::Critical, "x"));
  EXPECT_EQ(h.stats.values().actions, 0u);
  EXPECT_EQ(h.snapshots, 0);
  EXPECT_EQ(h.log.lines.size(), 1u);
}

TEST(AlertSink, PrunesOnlyKeysAtLeastSixtySecondsOld) {
  Harness h;
  for (int i = 0; i < 4097; ++i) {
    h.at(seconds(0), alert(AlertSource::Network, Severity::Info, "old" + std::to_string(i)));
  }
  EXPECT_EQ(h.sink.tracked_keys(), 4097u);  // none old enough yet
  h.at(seconds(30), alert(AlertSource::Network, Severity::Info, "mid"));
  EXPECT_EQ(h.sink.tracked_keys(), 4098u);
  h.at(seconds(60), alert(AlertSource::Network, Severity::Info, "new"));
  EXPECT_EQ(h.sink.tracked_keys(), 2u);  // "mid" and "new" remain
}

TEST(RunAlertSink, DiscardsWhatIsTakenOnceStopIsSet) {
  Harness h;
  AlertQueue q;
  EngineFlags flags;
  q.push(alert(AlertSource::Network, Severity::Info, "one"));
  q.push(alert(AlertSource::Network, Severity::Info, "two"));
  flags.request_stop();
  q.close();
  run_alert_sink(q, flags, h.sink, [&] { return h.t0; });
  EXPECT_TRUE(h.log.lines.empty());
  // It ended after taking one: the other is still queued.
  EXPECT_EQ(q.pop()->title, "two");
}

TEST(RunAlertSink, ConcurrentProducersEveryAlertLoggedOnce) {
  testing::FilePipeline pipeline;
  auto& q = pipeline.queue;
  std::thread consumer = pipeline.start_consumer();

  constexpr int kThreads = 4, kEach = 2500;
  std::vector<std::thread> producers;
  for (int t = 0; t < kThreads; ++t) {
    producers.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        q.push(alert(AlertSource::Network, Severity::Low, std::to_string(t) + "/" + std::to_string(i)));
      }
    });
  }
  for (auto& p : producers) p.join();
  q.close();
  consumer.join();

  const std::string text = read_file(pipeline.log_path).bytes;
  std::set<std::string> seen;
  size_t start = 0, lines = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    ASSERT_NE(end, std::string::npos);
    const auto doc = nlohmann::json::parse(text.substr(start, end - start));
    EXPECT_TRUE(seen.insert(doc["title"].get<std::string>()).second);
    ++lines;
    start = end + 1;
  }
  EXPECT_EQ(lines, static_cast<size_t>(kThreads * kEach));
  EXPECT_EQ(pipeline.stats.values().total_alerts, static_cast<uint64_t>(kThreads * kEach));
}

}  // namespace
}  // namespace tarnwick
