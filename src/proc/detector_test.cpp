#include <gtest/gtest.h>

#include <deque>

#include "etw/trace_fake.h"
#include "proc/detector.h"
#include "procmeta/procmeta_fake.h"

namespace tarnwick {
namespace {

using FakeEvent = testing::FakeTraceEvent;

std::string le32(uint32_t v) {
  return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                     static_cast<char>(v >> 24)};
}

TEST(LaunchFromEvent, MapsAProcessStart) {
  FakeEvent e;
  e.header_pid = 4000;
  e.scalars["ProcessID"] = le32(0x12345678);
  e.strings["ImageName"] = "\\Device\\HarddiskVolume3\\Windows\\System32\\cmd.exe";
  e.strings["CommandLine"] = "cmd.exe /c whoami";
  const auto launch = launch_from_event(e);
  ASSERT_TRUE(launch);
  EXPECT_EQ(launch->pid, 0x12345678u);
  EXPECT_EQ(launch->parent_pid, 4000u);
  EXPECT_EQ(launch->image, "\\Device\\HarddiskVolume3\\Windows\\System32\\cmd.exe");
  EXPECT_EQ(launch->command_line, "cmd.exe /c whoami");
}

TEST(LaunchFromEvent, DropsOtherEventsAndToleratesMissingProperties) {
  FakeEvent stop;
  stop.event_id = 2;
  stop.scalars["ProcessID"] = le32(7);
  EXPECT_FALSE(launch_from_event(stop));

  FakeEvent unknown;
  unknown.schema = false;
  EXPECT_FALSE(launch_from_event(unknown));

  FakeEvent odd;  // a pid of the wrong width and no strings
  odd.header_pid = 9;
  odd.scalars["ProcessID"] = std::string("\x01\x02", 2);
  const auto launch = launch_from_event(odd);
  ASSERT_TRUE(launch);
  EXPECT_EQ(launch->pid, 0u);
  EXPECT_EQ(launch->parent_pid, 9u);
  EXPECT_EQ(launch->image, "");
  EXPECT_EQ(launch->command_line, "");
}

TEST(ProcessFallbackAlert, NamesTheFailedStep) {
  const Alert a = process_fallback_alert({"OpenTraceW", 5});
  EXPECT_EQ(a.source, AlertSource::System);
  EXPECT_EQ(a.severity, Severity::Low);
  EXPECT_EQ(a.title, "Process ETW unavailable \u2014 using snapshot fallback");
  EXPECT_EQ(a.detail,
            "Reason: OpenTraceW failed (error 5). Run as Administrator for real-time process detection.");
  EXPECT_EQ(a.dedup_key, "SYS:Process ETW unavailable \u2014 using snapshot fallback");
  EXPECT_FALSE(a.pid);
}

struct FallbackRun {
  std::vector<ProcessLaunch> launches;
  std::vector<long long> waits;
};

// Runs the fallback over the scripted snapshots; the sleeper ends it after the
// last one and may toggle game mode before given waits.
FallbackRun run_fallback(testing::FakeProcessTable& table, testing::FakeProcessQuery& query, EngineFlags& flags,
                         std::map<size_t, bool> game_mode_before_wait = {}) {
  FallbackRun run;
  const size_t rounds = table.script.size();
  run_snapshot_fallback(
      table, query, [&](const ProcessLaunch& l) { run.launches.push_back(l); }, flags,
      [&](std::chrono::milliseconds d) {
        run.waits.push_back(std::chrono::duration_cast<std::chrono::seconds>(d).count());
        if (auto it = game_mode_before_wait.find(run.waits.size()); it != game_mode_before_wait.end()) {
          flags.game_mode_active = it->second;
        }
        return run.waits.size() < rounds;
      });
  return run;
}

TEST(SnapshotFallback, EvaluatesOnlyNewPidsAfterTheBaseline) {
  testing::FakeProcessTable table;
  table.script = {
      {{4, "System"}, {100, "explorer.exe"}},                       // baseline
      {{4, "System"}, {100, "explorer.exe"}, {200, "mimikatz.exe"}},
      {{4, "System"}, {200, "mimikatz.exe"}, {300, "x.scr"}},
  };
  testing::FakeProcessQuery query;
  query.paths[200] = "C:\\Users\\bob\\Downloads\\mimikatz.exe";
  EngineFlags flags;
  const auto run = run_fallback(table, query, flags);
  ASSERT_EQ(run.launches.size(), 2u);
  EXPECT_EQ(run.launches[0].pid, 200u);
  EXPECT_EQ(run.launches[0].image, "C:\\Users\\bob\\Downloads\\mimikatz.exe");
  EXPECT_EQ(run.launches[0].parent_pid, 0u);
  EXPECT_EQ(run.launches[0].command_line, "");
  // No image path available: the snapshot's file name stands in.
  EXPECT_EQ(run.launches[1].pid, 300u);
  EXPECT_EQ(run.launches[1].image, "x.scr");
}

TEST(SnapshotFallback, AFailedSnapshotMakesEveryProcessNewAtTheNextGoodOne) {
  testing::FakeProcessTable table;
  table.script = {{{4, "System"}, {100, "a.exe"}}, {}, {{4, "System"}, {100, "a.exe"}}};
  testing::FakeProcessQuery query;
  EngineFlags flags;
  const auto run = run_fallback(table, query, flags);
  ASSERT_EQ(run.launches.size(), 2u);
  EXPECT_EQ(run.launches[0].pid, 4u);
  EXPECT_EQ(run.launches[1].pid, 100u);
}

TEST(SnapshotFallback, GameModeIsReadBeforeEachWait) {
  testing::FakeProcessTable table;
  table.script = {{}, {}, {}, {}, {}};
  testing::FakeProcessQuery query;
  EngineFlags flags;
  // Game mode switches on during the first wait and off during the third.
  const auto run = run_fallback(table, query, flags, {{1, true}, {3, false}});
  EXPECT_EQ(run.waits, (std::vector<long long>{3, 15, 15, 3, 3}));
}

}  // namespace
}  // namespace tarnwick
