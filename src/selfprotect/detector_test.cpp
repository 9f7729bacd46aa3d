#include "selfprotect/detector.h"

#include <gtest/gtest.h>

#include "procmeta/procmeta_fake.h"
#include "registry/registry_fake.h"
#include "selfprotect/drivers_fake.h"
#include "selfprotect/memory_fake.h"
#include "testsupport/alert_collector.h"

namespace tarnwick {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// One detector run with its own fakes; the scan state is the program's and is
// passed in, as the engine does for every run.
struct DetectorRun {
  testing::FakeRegistry registry;
  testing::FakeProcessTable table;
  testing::FakeProcessMemory memory;
  testing::FakeProcessQuery query;
  testing::FakeSignatureCheck trust;
  testing::FakeDriverServices driver_services;
  testing::FakeFileDigest digest;
  testing::AlertCollector out;
  EngineFlags flags;
  std::vector<milliseconds> waits;
  size_t cycles = 1;  // how many waits end normally before `stop`
  std::function<void()> before_first_cycle = [] {};

  void run(InjectionScanState& state) {
    SelfProtectParts parts{registry,
                           registry,
                           driver_services,
                           digest,
                           known_bad_drivers(),
                           table,
                           memory,
                           query,
                           trust,
                           state,
                           "C:\\windows",
                           1000,
                           out,
                           flags,
                           [this](milliseconds d) {
                             waits.push_back(d);
                             if (waits.size() == 1) before_first_cycle();
                             return waits.size() <= cycles;
                           }};
    run_selfprotect_detector(parts);
  }
};

ProcessSnapshot processes(uint32_t count) {
  ProcessSnapshot s;
  for (uint32_t i = 0; i < count; ++i) s[100 + 4 * i] = "p.exe";
  return s;
}

TEST(SelfProtectDetector, TheScanCursorAndReportedPidsOutliveARestart) {
  InjectionScanState state;
  std::vector<uint32_t> examined;
  for (int run = 0; run < 2; ++run) {
    DetectorRun d;
    d.table.script = {processes(40), processes(40)};
    d.cycles = 2;
    d.memory.regions[100] = {testing::rwx_region(0x10000, 0x40000)};
    // Every process runs from a drop folder, so each one examined is walked.
    for (const auto& [pid, name] : processes(40)) d.query.paths[pid] = "C:\\users\\Public\\p.exe";
    d.query.paths[100] = "C:\\users\\Public\\rwx.exe";
    d.run(state);
    examined.insert(examined.end(), d.memory.walked.begin(), d.memory.walked.end());
    // Pid 100 is reported in the first run's first cycle only.
    EXPECT_EQ(d.out.alerts.size(), run == 0 ? 1u : 0u);
  }
  // Four scans of 25 over 40 pids: 0-24, 25-39 and 0-9, 10-34, 35-39 and 0-19,
  // with the reported pid 100 (index 0) left out after its report.
  std::vector<uint32_t> expected;
  for (size_t k = 0; k < 100; ++k) {
    const uint32_t pid = static_cast<uint32_t>(100 + 4 * (k % 40));
    if (pid != 100 || k == 0) expected.push_back(pid);
  }
  EXPECT_EQ(examined, expected);
}

TEST(SelfProtectDetector, ChecksDriversThenScansEveryEightSecondsOrThirtyInGameMode) {
  InjectionScanState state;
  DetectorRun d;
  d.registry.create_key(Hive::LocalMachine, "System\\CurrentControlSet\\Services");
  d.before_first_cycle = [&] {
    d.registry.create_key(Hive::LocalMachine, "System\\CurrentControlSet\\Services\\Evil");
    d.registry.set_u32(Hive::LocalMachine, "System\\CurrentControlSet\\Services\\Evil", "Type", 1);
    d.flags.game_mode_active = true;
  };
  d.table.script = {{{100, "rwx.exe"}}};
  d.memory.regions[100] = {testing::rwx_region(0x10000, 0x40000)};
  d.query.paths[100] = "C:\\users\\Public\\rwx.exe";
  d.run(state);
  EXPECT_EQ(d.waits, (std::vector<milliseconds>{seconds(8), seconds(30)}));
  EXPECT_EQ(d.out.titles(), (std::vector<std::string>{std::string(kDriverBlockedTitle),
                                                      std::string(kInjectionTitle)}));
}

}  // namespace
}  // namespace tarnwick
