#include "persist/tasks.h"

#include <gtest/gtest.h>

#include "persist/persist_testing.h"

namespace tarnwick {
namespace {

using testing::FakePersistence;

const std::string kTree(kTaskTreeKey);

void add_task(FakePersistence& fake, const std::string& path) {
  fake.registry.create_key(Hive::LocalMachine, kTree + "\\" + path);
}

TEST(TaskWatcher, ReportsANewRootTask) {
  FakePersistence fake;
  add_task(fake, "GoogleUpdate");
  PersistenceParts parts = fake.scripted({[&] { add_task(fake, "Updater"); }});
  run_task_watcher(parts);

  const auto alerts = fake.out.alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].source, AlertSource::Persistence);
  EXPECT_EQ(alerts[0].severity, Severity::High);
  EXPECT_EQ(alerts[0].title, "New scheduled task created");
  EXPECT_EQ(alerts[0].detail,
            "Scheduled task \"Updater\" was registered. Attackers use scheduled tasks to persist "
            "and run code "
            "on a timer or at logon (T1053.005).\n\n"
            "MITRE ATT&CK: T1053.005 (Scheduled Task)  \u00b7  CVSS 7.2 (High)");
  EXPECT_EQ(alerts[0].dedup_key, "task:Updater");
  EXPECT_FALSE(alerts[0].pid);
  EXPECT_FALSE(alerts[0].remediation);
}

TEST(TaskWatcher, TwoLevelsOutsideTheMicrosoftFolder) {
  FakePersistence fake;
  add_task(fake, "Microsoft\\Windows\\Defrag");
  add_task(fake, "Existing\\Task");
  PersistenceParts parts = fake.scripted({
      [&] {
        add_task(fake, "Tools\\Sync");
        add_task(fake, "A\\B\\C");
        add_task(fake, "Microsoft\\Windows\\Evil");
        add_task(fake, "Microsoft\\Evil");
        add_task(fake, "Existing\\Second");
      },
      [&] { fake.registry.delete_key(Hive::LocalMachine, kTree + "\\Tools\\Sync"); },
      [&] { add_task(fake, "Tools\\Sync"); },
  });
  run_task_watcher(parts);
  EXPECT_EQ(fake.out.keys(),
            (std::vector<std::string>{"task:A", "task:A\\B", "task:Existing\\Second", "task:Tools",
                                      "task:Tools\\Sync", "task:Tools\\Sync"}));
}

TEST(TaskWatcher, OnlyTheExactlySpelledMicrosoftFolderIsExempt) {
  FakePersistence fake;
  PersistenceParts parts = fake.scripted({[&] { add_task(fake, "microsoft\\Evil"); }});
  run_task_watcher(parts);
  EXPECT_EQ(fake.out.keys(), (std::vector<std::string>{"task:microsoft", "task:microsoft\\Evil"}));
}

// A cut-short listing of the tree or of one folder skips the round; the
// names it missed are not new at the next one.
TEST(TaskWatcher, AListingCutShortReportsNothing) {
  FakePersistence fake;
  add_task(fake, "Aaa\\Sync");
  add_task(fake, "Bbb");
  PersistenceParts parts = fake.scripted({
      [&] { fake.registry.disturb_walks(Hive::LocalMachine, kTree, kListingTries); },
      [&] { fake.registry.disturb_walks(Hive::LocalMachine, kTree + "\\Aaa", kListingTries); },
      [&] { add_task(fake, "Aaa\\New"); },
  });
  run_task_watcher(parts);
  EXPECT_EQ(fake.out.keys(), std::vector<std::string>{"task:Aaa\\New"});
}

// A tree that cannot be read at start gives no baseline: what it holds once
// it can be read is the baseline, not a flood of "new" tasks.
TEST(TaskWatcher, ATreeReadableOnlyLaterBecomesTheBaseline) {
  FakePersistence fake;
  add_task(fake, "Updater");
  add_task(fake, "Microsoft\\Windows\\Defrag");
  fake.registry.fail_open(Hive::LocalMachine, kTree);
  PersistenceParts parts = fake.scripted({
      [] {},
      [&] { fake.registry.fail_open(Hive::LocalMachine, kTree, false); },
      [&] { add_task(fake, "Later"); },
  });
  run_task_watcher(parts);
  EXPECT_EQ(fake.out.keys(), std::vector<std::string>{"task:Later"});
}

TEST(TaskWatcher, PollsEvery10SecondsAnd45InGameMode) {
  FakePersistence fake;
  PersistenceParts parts = fake.scripted({
      [&] { fake.flags.game_mode_active = true; },
      [] {},
      [&] { fake.flags.game_mode_active = false; },
  });
  run_task_watcher(parts);
  EXPECT_EQ(fake.waits_in_seconds(), (std::vector<long long>{10, 45, 45, 10}));
}

}  // namespace
}  // namespace tarnwick
