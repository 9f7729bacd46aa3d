#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include "cmdline/cmdline_fake.h"
#include "etw/event_queue.h"
#include "etw/trace_fake.h"
#include "proc/detector.h"
#include "procmeta/procmeta_fake.h"
#include "testsupport/alert_collector.h"

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
  const auto launch = launch_from_event(e);
  ASSERT_TRUE(launch);
  EXPECT_EQ(launch->pid, 0x12345678u);
  EXPECT_EQ(launch->parent_pid, 4000u);
  EXPECT_EQ(launch->image, "\\Device\\HarddiskVolume3\\Windows\\System32\\cmd.exe");
  EXPECT_EQ(launch->command_line, "");
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

// A kernel process start as the system logger delivers it.
FakeEvent kernel_start(uint32_t pid, uint32_t parent, std::string image_file_name, std::string cmd) {
  FakeEvent e;
  e.event_id = 0;
  e.event_opcode = 1;
  e.provider = *parse_guid(kKernelProcessClassGuid);
  e.header_pid = 4;  // whoever raised it: never the parent
  e.uint32s["ProcessId"] = pid;
  e.uint32s["ParentId"] = parent;
  e.strings["ImageFileName"] = std::move(image_file_name);
  e.strings["CommandLine"] = std::move(cmd);
  return e;
}

TEST(KernelStart, ReadsTheStartByPropertyName) {
  const FakeEvent e = kernel_start(4242, 1000, "powershell.exe", "powershell.exe -enc SQBFAFgA");
  const auto start = kernel_start_from_event(e);
  ASSERT_TRUE(start);
  EXPECT_EQ(start->pid, 4242u);
  EXPECT_EQ(start->parent_pid, 1000u);
  EXPECT_EQ(start->image_file_name, "powershell.exe");
  EXPECT_EQ(start->command_line, "powershell.exe -enc SQBFAFgA");

  testing::FakeProcessQuery query;
  query.paths[4242] = "C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\powershell.exe";
  const auto launch = launch_from_kernel_event(e, query);
  ASSERT_TRUE(launch);
  EXPECT_EQ(launch->pid, 4242u);
  EXPECT_EQ(launch->parent_pid, 1000u);
  EXPECT_EQ(launch->image, "C:\\Windows\\System32\\WindowsPowerShell\\v1.0\\powershell.exe");
  EXPECT_EQ(launch->command_line, "powershell.exe -enc SQBFAFgA");
}

TEST(KernelStart, OnlyAStartOfTheProcessClassIsALaunch) {
  struct Case {
    const char* name;
    std::function<void(FakeEvent&)> change;
  };
  const Case ignored[] = {
      {"end", [](FakeEvent& e) { e.event_opcode = 2; }},
      {"already running at session start", [](FakeEvent& e) { e.event_opcode = 3; }},
      {"still running at session end", [](FakeEvent& e) { e.event_opcode = 4; }},
      {"defunct", [](FakeEvent& e) { e.event_opcode = 39; }},
      {"another class with opcode 1",
       [](FakeEvent& e) { e.provider = *parse_guid("68FDD900-4A3E-11D1-84F4-0000F80464E3"); }},
      {"unknown schema", [](FakeEvent& e) { e.schema = false; }},
      {"no process id", [](FakeEvent& e) { e.uint32s.erase("ProcessId"); }},
  };
  for (const Case& c : ignored) {
    SCOPED_TRACE(c.name);
    FakeEvent e = kernel_start(4242, 1000, "mimikatz.exe", "mimikatz.exe sekurlsa::logonpasswords");
    c.change(e);
    EXPECT_FALSE(kernel_start_from_event(e));
  }
}

TEST(KernelStart, ImageOfAProcessAlreadyGone) {
  struct Case {
    const char* name;
    std::optional<std::string> queried;
    const char* cmd;
    const char* image_file_name;
    const char* expected;
  };
  const Case cases[] = {
      {"queried path first", "C:\\Tools\\ngrok.exe", "\"D:\\other\\x.exe\"", "ngrok.exe",
       "C:\\Tools\\ngrok.exe"},
      {"quoted absolute token", std::nullopt, "\"C:\\Program Files\\Tool\\ngrok.exe\" http 80",
       "ngrok.exe", "C:\\Program Files\\Tool\\ngrok.exe"},
      {"unquoted absolute token", std::nullopt, "  C:\\Tools\\NGROK.EXE http 80", "ngrok.exe",
       "C:\\Tools\\NGROK.EXE"},
      {"token agreeing with a cut file name", std::nullopt,
       "C:\\Tools\\averyveryverylongname.exe", "averyveryveryl", "C:\\Tools\\averyveryverylongname.exe"},
      {"relative token", std::nullopt, "ngrok.exe http 80", "ngrok.exe", "ngrok.exe"},
      {"unquoted path with a blank", std::nullopt, "C:\\Program Files\\Tool\\ngrok.exe http",
       "ngrok.exe", "ngrok.exe"},
      {"token naming another program", std::nullopt, "C:\\Windows\\System32\\svchost.exe -k net",
       "mimikatz.exe", "mimikatz.exe"},
      {"no command line", std::nullopt, "", "mimikatz.exe", "mimikatz.exe"},
      {"empty query answer", std::string(), "C:\\Tools\\ngrok.exe", "ngrok.exe", "C:\\Tools\\ngrok.exe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(kernel_launch_image(c.queried, c.cmd, c.image_file_name), c.expected);
  }
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
  std::vector<std::string> parents;
  std::vector<long long> waits;
};

// Runs the fallback over the scripted snapshots; the sleeper ends it after the
// last one and may toggle game mode before given waits.
FallbackRun run_fallback(testing::FakeProcessTable& table, testing::FakeProcessQuery& query, EngineFlags& flags,
                         std::map<size_t, bool> game_mode_before_wait = {},
                         const CommandLineQuery& command_lines = testing::FakeCommandLineQuery()) {
  FallbackRun run;
  const size_t rounds = table.script.size();
  run_snapshot_fallback(
      table, query, command_lines,
      [&](const ProcessLaunch& l, std::string_view parent) {
        run.launches.push_back(l);
        run.parents.emplace_back(parent);
      },
      flags,
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
  // No image path available: the snapshot's file name stands in.
  EXPECT_EQ(run.launches[1].pid, 300u);
  EXPECT_EQ(run.launches[1].image, "x.scr");
}

TEST(SnapshotFallback, PassesTheCommandLineAndTheParentFromTheSameSnapshot) {
  testing::FakeProcessTable table;
  table.script = {
      {{4, "System"}, {500, {"explorer.exe", 4}}},  // baseline
      {{4, "System"}, {500, {"explorer.exe", 4}}, {600, {"WINWORD.EXE", 500}},
       {700, {"powershell.exe", 600}}, {800, {"vssadmin.exe", 650}}},
  };
  testing::FakeProcessQuery query;
  query.paths[500] = "C:\\Windows\\explorer.exe";  // never asked: the snapshot names it
  testing::FakeCommandLineQuery lines;
  lines.lines[700] = "powershell.exe -enc SQBFAFgA";
  lines.lines[800] = "vssadmin.exe delete shadows /all /quiet";
  EngineFlags flags;
  const auto run = run_fallback(table, query, flags, {}, lines);
  ASSERT_EQ(run.launches.size(), 3u);
  EXPECT_EQ(run.launches[0].pid, 600u);
  EXPECT_EQ(run.launches[0].parent_pid, 500u);
  EXPECT_EQ(run.parents[0], "explorer.exe");
  EXPECT_EQ(run.launches[0].command_line, "");  // unreadable
  EXPECT_EQ(run.launches[1].parent_pid, 600u);
  EXPECT_EQ(run.parents[1], "WINWORD.EXE");  // new in the same snapshot
  EXPECT_EQ(run.launches[1].command_line, "powershell.exe -enc SQBFAFgA");
  // A parent that had ended before the snapshot has no name.
  EXPECT_EQ(run.launches[2].parent_pid, 650u);
  EXPECT_EQ(run.parents[2], "");
  EXPECT_EQ(run.launches[2].command_line, "vssadmin.exe delete shadows /all /quiet");
  EXPECT_EQ(lines.asked, (std::vector<uint32_t>{600, 700, 800}));
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

TEST(ProcessDetector, ASessionEndedFromOutsideIsReportedAndTheRunEnds) {
  testing::FakeTraceFactory traces;
  testing::FakeProcessTable table;
  testing::FakeProcessQuery query;
  testing::FakeCommandLineQuery lines;
  testing::FakeSignatureCheck trust;
  testing::AlertCollector out;
  EngineFlags flags;
  int waits = 0;
  ProcessDetectorParts parts{
      traces, table, query, lines, trust, out, flags, [&](std::chrono::milliseconds) {
        if (++waits == 3) traces.ended = true;
        return waits < 20;
      }};
  run_process_detector(parts);
  EXPECT_EQ(waits, 3);
  EXPECT_EQ(traces.stops, 1);
  // The run ends without falling back to snapshots; the supervisor starts it again.
  EXPECT_EQ(table.script.size(), 0u);
  ASSERT_EQ(out.titles(), std::vector<std::string>{"Real-time trace stopped unexpectedly"});
  EXPECT_EQ(out.alerts[0].detail,
            "The Tarnwick-proc trace session ended while Tarnwick was running (possible "
            "tampering); restarting it.");
}

// One detector run whose sleeper delivers `on_wait` events on its first wait
// and then stops the run.
struct DetectorRun {
  testing::FakeTraceFactory traces;
  testing::FakeProcessTable table;
  testing::FakeProcessQuery query;
  testing::FakeCommandLineQuery lines;
  testing::FakeSignatureCheck trust;
  testing::AlertCollector out;
  EngineFlags flags;
  std::function<void()> on_first_wait = [] {};

  void run() {
    bool first = true;
    ProcessDetectorParts parts{traces, table, query, lines, trust, out, flags,
                               [&](std::chrono::milliseconds) {
                                 if (first) on_first_wait();
                                 first = false;
                                 return false;
                               }};
    run_process_detector(parts);
  }
};

TEST(ProcessDetector, TriesTheKernelSessionThenTheProviderSessionThenPolls) {
  const TraceStartError no_slot{"StartTraceW", 1450};
  const TraceStartError denied{"OpenTraceW", 5};
  struct Case {
    const char* name;
    std::optional<TraceStartError> kernel_failure;
    std::optional<TraceStartError> provider_failure;
    std::vector<std::string> started;
    std::vector<std::string> titles;
  };
  const Case cases[] = {
      {"kernel session starts", std::nullopt, std::nullopt, {"kernel"}, {}},
      {"provider session starts", no_slot, std::nullopt, {"kernel", "provider"}, {}},
      {"neither starts", no_slot, denied, {"kernel", "provider"}, {kProcessFallbackTitle}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DetectorRun r;
    r.traces.kernel_failure = c.kernel_failure;
    r.traces.failure = c.provider_failure;
    r.run();
    EXPECT_EQ(r.traces.started, c.started);
    EXPECT_EQ(r.traces.session_name, "Tarnwick-proc");
    EXPECT_EQ(r.out.titles(), c.titles);
    if (!c.titles.empty()) {
      // The reason is the last source's.
      EXPECT_EQ(r.out.alerts[0].detail,
                "Reason: OpenTraceW failed (error 5). Run as Administrator for real-time process "
                "detection.");
    }
  }
  DetectorRun r;
  r.traces.kernel_failure.reset();
  r.run();
  EXPECT_EQ(r.traces.kernel.session_guid, "448BB547-FD00-4F16-AF72-F31FF281BE1F");
  EXPECT_EQ(r.traces.kernel.enable_flags, 1u);  // process events only
}

TEST(ProcessDetector, KernelSessionJudgesStartsWithTheirCommandLineAndNeverARundown) {
  DetectorRun r;
  r.traces.kernel_failure.reset();
  r.query.paths[900] = "C:\\Program Files\\Microsoft Office\\root\\Office16\\WINWORD.EXE";
  r.on_first_wait = [&] {
    FakeEvent running = kernel_start(901, 900, "powershell.exe", "powershell.exe -enc SQBFAFgA");
    running.event_opcode = 3;  // already running when the session started
    r.traces.callback(running);
    r.traces.callback(kernel_start(902, 900, "powershell.exe", "powershell.exe -enc SQBFAFgA"));
  };
  r.run();
  EXPECT_EQ(r.out.titles(), (std::vector<std::string>{"Suspicious child process (possible exploit)",
                                                      "Obfuscated / download PowerShell"}));
  EXPECT_EQ(r.out.alerts[1].pid, 902u);
  EXPECT_TRUE(r.out.alerts[1].detail.starts_with("pid 902: powershell.exe -enc SQBFAFgA\n"));
  EXPECT_TRUE(r.lines.asked.empty()) << "the event carries the command line";
}

TEST(ProcessDetector, ProviderSessionReadsTheCommandLineOfEachStart) {
  DetectorRun r;
  r.query.paths[900] = "C:\\Windows\\explorer.exe";
  r.lines.lines[903] = "vssadmin.exe delete shadows /all /quiet";
  r.on_first_wait = [&] {
    FakeEvent e;
    e.header_pid = 900;
    e.scalars["ProcessID"] = le32(903);
    e.strings["ImageName"] = "\\Device\\HarddiskVolume3\\Windows\\System32\\vssadmin.exe";
    r.traces.callback(e);
  };
  r.run();
  EXPECT_EQ(r.traces.started, (std::vector<std::string>{"kernel", "provider"}));
  EXPECT_EQ(r.lines.asked, std::vector<uint32_t>{903});
  ASSERT_EQ(r.out.titles(),
            std::vector<std::string>{"Backup / shadow-copy deletion (ransomware prep)"});
  EXPECT_EQ(r.out.alerts[0].pid, 903u);
}

TEST(ProcessDetector, TheCallbackOnlyQueuesAndAFullQueueDropsTheOldestWithOneAlert) {
  DetectorRun r;
  r.traces.kernel_failure.reset();
  r.query.paths[900] = "C:\\Program Files\\Microsoft Office\\root\\Office16\\WINWORD.EXE";
  size_t alerts_during_callbacks = 0;
  r.on_first_wait = [&] {
    // The first start is the one pushed out of the full queue.
    r.traces.callback(kernel_start(800, 900, "powershell.exe", "powershell.exe -enc SQBFAFgA"));
    for (uint32_t i = 0; i < kTraceQueueCapacity - 1; ++i) {
      r.traces.callback(kernel_start(10000 + i, 4, "notepad.exe", "notepad.exe"));
    }
    r.traces.callback(kernel_start(902, 900, "powershell.exe", "powershell.exe -enc SQBFAFgA"));
    // Nothing judged on the session's thread.
    alerts_during_callbacks = r.out.alerts.size();
  };
  r.run();
  EXPECT_EQ(alerts_during_callbacks, 0u);
  ASSERT_EQ(r.out.titles(), (std::vector<std::string>{"Suspicious child process (possible exploit)",
                                                      "Obfuscated / download PowerShell",
                                                      "Process events dropped"}));
  EXPECT_EQ(r.out.alerts[0].pid, 902u);
  EXPECT_EQ(r.out.alerts[2].detail,
            "1 process events were dropped because the detector fell behind.");
}

}  // namespace
}  // namespace tarnwick
