#include "net/connections.h"

#include <gtest/gtest.h>

#include <cmath>

#include "procmeta/procmeta_fake.h"
#include "tcptable/tcptable_fake.h"
#include "testsupport/alert_collector.h"

namespace tarnwick {
namespace {

using testing::ipv4;

using Collect = testing::AlertCollector;

MonitorTime at(double seconds) {
  return MonitorTime(std::chrono::microseconds(std::llround(seconds * 1e6)));
}

constexpr uint32_t kPublic = ipv4(203, 0, 113, 7);

TEST(PublicAddress, RangeEdges) {
  struct Case {
    uint32_t addr;
    bool is_public;
  };
  const Case cases[] = {
      {ipv4(0, 0, 0, 0), false},         {ipv4(0, 255, 255, 255), false},
      {ipv4(1, 0, 0, 0), true},          {ipv4(9, 255, 255, 255), true},
      {ipv4(10, 0, 0, 0), false},        {ipv4(10, 255, 255, 255), false},
      {ipv4(11, 0, 0, 0), true},         {ipv4(100, 63, 255, 255), true},
      {ipv4(100, 64, 0, 0), false},      {ipv4(100, 64, 0, 1), false},
      {ipv4(100, 127, 255, 255), false}, {ipv4(100, 128, 0, 0), true},
      {ipv4(100, 128, 0, 1), true},      {ipv4(126, 255, 255, 255), true},
      {ipv4(127, 0, 0, 0), false},       {ipv4(127, 255, 255, 255), false},
      {ipv4(128, 0, 0, 0), true},        {ipv4(169, 253, 255, 255), true},
      {ipv4(169, 254, 0, 0), false},     {ipv4(169, 254, 1, 1), false},
      {ipv4(169, 254, 255, 255), false}, {ipv4(169, 255, 0, 0), true},
      {ipv4(172, 15, 255, 255), true},   {ipv4(172, 16, 0, 0), false},
      {ipv4(172, 31, 255, 255), false},  {ipv4(172, 32, 0, 0), true},
      {ipv4(172, 32, 0, 1), true},       {ipv4(192, 167, 255, 255), true},
      {ipv4(192, 168, 0, 0), false},     {ipv4(192, 168, 255, 255), false},
      {ipv4(192, 169, 0, 0), true},      {ipv4(255, 255, 255, 254), true},
      {ipv4(255, 255, 255, 255), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(format_ipv4(c.addr));
    EXPECT_EQ(is_public_ipv4(c.addr), c.is_public);
  }
}

struct Fixture {
  EngineFlags flags;
  testing::FakeProcessQuery query;
  ConnectionMonitor monitor{flags};
  Collect out;

  void poll(const std::vector<TcpRow>& rows, double seconds) {
    monitor.poll(rows, query, at(seconds), out);
  }
};

TcpRow row(uint32_t pid, uint32_t remote, uint16_t port, uint32_t state) {
  return TcpRow{state, ipv4(192, 168, 1, 20), 50000, remote, port, pid};
}

TEST(ConnectionRules, ByNameAddressAndState) {
  struct Case {
    const char* path;
    uint32_t remote;
    uint32_t state;
    std::vector<std::string> titles;
  };
  const std::string tunnel = "Tunnel / remote-access tool active";
  const std::string shell = "Possible reverse shell";
  const Case cases[] = {
      {"C:\\Tools\\ngrok.exe", kPublic, 5, {tunnel}},
      {"C:\\Tools\\NGROK.EXE", kPublic, 3, {tunnel}},  // any state, any case
      {"C:\\Tools\\ngrok.exe", ipv4(192, 168, 1, 10), 5, {}},
      {"C:\\Tools\\ngrok.exe", ipv4(100, 64, 0, 1), 5, {}},
      {"C:\\Tools\\ngrok.exe", ipv4(100, 128, 0, 1), 5, {tunnel}},
      {"C:\\Tools\\ngrok.exe", ipv4(172, 32, 0, 1), 5, {tunnel}},
      {"C:\\Windows\\System32\\OpenSSH\\ssh.exe", kPublic, 5, {tunnel}},
      {"C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\powershell.exe", kPublic, 5, {shell}},
      {"C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\powershell.exe", kPublic, 3, {}},
      {"C:\\Windows\\System32\\cmd.exe", kPublic, 11, {}},
      {"C:\\Windows\\System32\\CMD.EXE", kPublic, 5, {shell}},
      {"C:\\Windows\\System32\\cmd.exe", ipv4(169, 254, 1, 1), 5, {}},
      {"C:\\Program Files\\Browser\\browser.exe", kPublic, 5, {}},
      {nullptr, kPublic, 5, {}},  // the name cannot be looked up
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path ? c.path : "(no name)") + " " + format_ipv4(c.remote) +
                 " state " + std::to_string(c.state));
    Fixture f;
    if (c.path) f.query.paths[77] = c.path;
    f.poll({row(77, c.remote, 443, c.state)}, 0);
    EXPECT_EQ(f.out.titles(), c.titles);
  }
}

TEST(ConnectionRules, AlertTextsAndRepeatEveryPoll) {
  Fixture f;
  f.query.paths[4100] = "C:\\Tools\\Chisel.exe";
  f.query.paths[4200] = "C:\\Windows\\System32\\cmd.exe";
  const std::vector<TcpRow> rows = {row(4100, kPublic, 8443, 5),
                                    row(4200, ipv4(8, 8, 4, 4), 4444, 5)};
  f.poll(rows, 0);
  f.poll(rows, 2);
  ASSERT_EQ(f.out.alerts.size(), 4u);
  const Alert& tunnel = f.out.alerts[0];
  EXPECT_EQ(tunnel.source, AlertSource::Network);
  EXPECT_EQ(tunnel.severity, Severity::High);
  EXPECT_EQ(tunnel.detail,
            "Chisel.exe (pid 4100) has an outbound connection to 203.0.113.7:8443\n\n"
            "MITRE ATT&CK: T1572 (Protocol Tunneling)  \u00b7  CVSS 7.5 (High)");
  EXPECT_EQ(tunnel.pid, 4100u);
  EXPECT_EQ(tunnel.dedup_key, "tunnel:4100:Chisel.exe");
  const Alert& shell = f.out.alerts[1];
  EXPECT_EQ(shell.source, AlertSource::Network);
  EXPECT_EQ(shell.severity, Severity::Critical);
  EXPECT_EQ(shell.detail,
            "Shell process cmd.exe (pid 4200) holds an outbound connection to 8.8.4.4:4444\n\n"
            "MITRE ATT&CK: T1059 (Reverse Shell / C2)  \u00b7  CVSS 9.0 (Critical)");
  EXPECT_EQ(shell.pid, 4200u);
  EXPECT_EQ(shell.dedup_key, "revshell:4200:8.8.4.4");
  // A lasting connection raises the same alerts again; the pipeline folds them.
  EXPECT_EQ(f.out.alerts[2].dedup_key, tunnel.dedup_key);
  EXPECT_EQ(f.out.alerts[3].dedup_key, shell.dedup_key);
}

// One process connecting to one address at the given times; every connection
// uses a fresh local socket to a fresh remote port, so each is new to the poll.
struct BeaconRun {
  Fixture f;
  std::vector<size_t> alert_after;  // 1-based connection numbers
  uint16_t port = 1000;

  void connect(double t) {
    const size_t before = f.out.alerts.size();
    f.poll({row(900, kPublic, port++, 5)}, t);
    if (f.out.alerts.size() > before) alert_after.push_back(port - 1000);
  }
  void connect_every(double start, std::vector<double> gaps, size_t connections) {
    double t = start;
    for (size_t i = 0; i < connections; ++i) {
      connect(t);
      t += gaps[i % gaps.size()];
    }
  }
};

TEST(Beaconing, RegularThirtySecondsAlertsAtTheSixthIntervalThenStartsOver) {
  BeaconRun run;
  run.f.query.paths[900] = "C:\\Users\\bob\\AppData\\Roaming\\updater.exe";
  run.connect_every(100, {30}, 13);
  EXPECT_EQ(run.alert_after, (std::vector<size_t>{7, 13}));
  const Alert& a = run.f.out.alerts.at(0);
  EXPECT_EQ(a.title, "C2 beaconing pattern");
  EXPECT_EQ(a.source, AlertSource::Network);
  EXPECT_EQ(a.severity, Severity::High);
  EXPECT_EQ(a.pid, 900u);
  EXPECT_EQ(a.dedup_key, "beacon:900:203.0.113.7");
  EXPECT_EQ(a.detail,
            "updater.exe (pid 900) opens a new connection to 203.0.113.7 every ~30s (jitter 0%) "
            "\u2014 regular-interval traffic resembles command-and-control.\n\n"
            "MITRE ATT&CK: T1071 (C2 Beaconing)  \u00b7  CVSS 7.0 (High)");
}

TEST(Beaconing, WhichIntervalsCount) {
  struct Case {
    const char* name;
    std::vector<double> gaps;
    size_t connections;
    std::vector<size_t> alert_after;
    const char* every = nullptr;  // expected "every ~..." part of the first alert
  };
  const Case cases[] = {
      {"2 s: below the minimum", {2}, 30, {}},
      {"3.0 s: not above the minimum", {3.0}, 30, {}},
      {"3.2 s", {3.2}, 7, {7}, "every ~3s (jitter 0%)"},
      {"3599 s", {3599}, 7, {7}, "every ~3599s (jitter 0%)"},
      {"an hour: above the maximum", {3600}, 10, {}},
      {"10 s and 30 s alternating (cv 0.5)", {10, 30}, 30, {}},
      {"28 s and 32 s alternating", {28, 32}, 7, {7}, "every ~30s (jitter 7%)"},
      {"unrecorded gaps keep the series", {30, 30, 2, 30, 30, 30, 30}, 8, {8}, "every ~30s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BeaconRun run;
    run.f.query.paths[900] = "C:\\x\\agent.exe";
    run.connect_every(0, c.gaps, c.connections);
    EXPECT_EQ(run.alert_after, c.alert_after);
    if (c.every && !run.f.out.alerts.empty()) {
      EXPECT_NE(run.f.out.alerts[0].detail.find(c.every), std::string::npos)
          << run.f.out.alerts[0].detail;
    }
  }
}

TEST(Beaconing, GameModeRaisesTheMinimumAtEachStep) {
  BeaconRun quiet;
  quiet.f.flags.game_mode_active = true;
  quiet.connect_every(0, {10}, 20);
  EXPECT_EQ(quiet.alert_after, std::vector<size_t>{});

  BeaconRun slow;
  slow.f.flags.game_mode_active = true;
  slow.connect_every(0, {20}, 7);
  EXPECT_EQ(slow.alert_after, std::vector<size_t>{7});
  // No name was found for the pid: the text starts with the empty name.
  EXPECT_TRUE(slow.f.out.alerts.at(0).detail.starts_with(
      " (pid 900) opens a new connection to 203.0.113.7 every ~20s (jitter 0%)"))
      << slow.f.out.alerts.at(0).detail;

  // Switched on after four 10 s intervals: the next ones are not recorded.
  BeaconRun switched;
  switched.connect_every(0, {10}, 5);
  switched.f.flags.game_mode_active = true;
  switched.connect_every(40 + 10, {10}, 5);
  EXPECT_EQ(switched.alert_after, std::vector<size_t>{});
}

TEST(Beaconing, LastingConnectionsAreNotNewUnlessTheyLeftTheTable) {
  const TcpRow held = row(900, kPublic, 443, 5);
  Fixture lasting;
  for (int i = 0; i < 10; ++i) lasting.poll({held}, 30.0 * i);
  EXPECT_TRUE(lasting.out.alerts.empty());

  // A table without the connection between polls empties the previous-poll set.
  Fixture flaky;
  for (int i = 0; i < 7; ++i) {
    flaky.poll({held}, 30.0 * i);
    flaky.poll({}, 30.0 * i + 15);
  }
  EXPECT_EQ(flaky.out.titles(), std::vector<std::string>{"C2 beaconing pattern"});
}

// Pid 0 owns the TIME_WAIT rows of every process; they never feed the
// beaconing test, whatever their rhythm.
TEST(Beaconing, RowsOfPidZeroNeverBeacon) {
  BeaconRun run;
  for (int i = 0; i < 13; ++i) {
    run.f.poll({TcpRow{11, ipv4(192, 168, 1, 20), 50000, kPublic, static_cast<uint16_t>(2000 + i), 0}},
               30.0 * i);
  }
  EXPECT_TRUE(run.f.out.alerts.empty());
  EXPECT_EQ(run.f.monitor.beacon_entries(), 0u);
}

TEST(Beaconing, EntriesIdleForSixHundredSecondsAreDropped) {
  BeaconRun run;
  run.connect_every(0, {30}, 6);  // last connection at 150, five intervals
  run.f.poll({}, 749.9);
  EXPECT_EQ(run.f.monitor.beacon_entries(), 1u);
  run.f.poll({}, 750);
  EXPECT_EQ(run.f.monitor.beacon_entries(), 0u);
  // The next connection starts afresh: six more intervals are needed.
  run.connect_every(800, {30}, 7);
  EXPECT_EQ(run.alert_after, std::vector<size_t>{13});
}

TEST(Beaconing, ObservedConnectionsAreJudgedAsSinglePolls) {
  EngineFlags flags;
  ConnectionMonitor monitor(flags);
  Collect out;
  for (int i = 0; i < 7; ++i) {
    // The same identity every time: observed connections are always new.
    monitor.observe_new_connection({31, kPublic, 443, 5}, "cmd.exe", at(60.0 * i), out);
  }
  monitor.observe_new_connection({31, ipv4(10, 0, 0, 5), 443, 5}, "cmd.exe", at(1000), out);
  std::vector<std::string> expected(7, "Possible reverse shell");
  expected.insert(expected.end(), "C2 beaconing pattern");
  EXPECT_EQ(out.titles(), expected);
  // The private address was skipped, yet its time still dropped the idle entry.
  EXPECT_EQ(monitor.beacon_entries(), 0u);
}

// A read that fails now and then (the table grew beyond every retry) keeps
// the previous poll's connections: a long-lived one is never new again, so
// the failures' own rhythm is not taken for beaconing.
TEST(NetworkDetector, AFailedReadKeepsThePreviousConnections) {
  EngineFlags flags;
  testing::FakeTcpTable table;
  testing::FakeProcessQuery query;
  const TcpRow held = row(900, kPublic, 443, 5);
  for (int i = 0; i < 200; ++i) {
    table.script.push_back(i % 15 == 14 ? std::nullopt : std::optional(std::vector<TcpRow>{held}));
  }
  Collect out;
  double clock = 0;
  NetworkDetectorParts parts{table, query, out, flags,
                             [&](std::chrono::milliseconds) { return !table.script.empty(); },
                             [&] { return at(clock += 2); }};
  run_network_detector(parts);
  EXPECT_EQ(table.reads, 200);
  EXPECT_TRUE(out.alerts.empty()) << out.titles()[0];
}

TEST(NetworkDetector, PollsUntilStopWithGameModeWaits) {
  EngineFlags flags;
  testing::FakeTcpTable table;
  testing::FakeProcessQuery query;
  query.paths[5] = "C:\\t\\ngrok.exe";
  table.rows = {row(5, kPublic, 443, 5)};
  Collect out;
  std::vector<long long> waits;
  double clock = 0;
  NetworkDetectorParts parts{table,
                             query,
                             out,
                             flags,
                             [&](std::chrono::milliseconds d) {
                               waits.push_back(d.count());
                               flags.game_mode_active = waits.size() == 2 || waits.size() == 3;
                               return waits.size() < 5;
                             },
                             [&] { return at(clock += 2); }};
  run_network_detector(parts);
  EXPECT_EQ(waits, (std::vector<long long>{2000, 2000, 12000, 12000, 2000}));
  EXPECT_EQ(table.reads, 5);
  EXPECT_EQ(out.alerts.size(), 5u);

  flags.request_stop();
  run_network_detector(parts);
  EXPECT_EQ(table.reads, 5);
}

}  // namespace
}  // namespace tarnwick
