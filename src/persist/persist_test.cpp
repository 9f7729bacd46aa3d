#include "persist/persist.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>

#include "persist/autostart.h"
#include "persist/persist_testing.h"
#include "persist/services.h"
#include "persist/tasks.h"

namespace tarnwick {
namespace {

TEST(PersistenceDetector, RunsEveryWatcherUntilStop) {
  testing::FakePersistence fake;
  auto& reg = fake.registry;
  for (const AutostartKey& key : kAutostartKeys) reg.create_key(key.hive, key.subkey);
  reg.create_key(Hive::LocalMachine, kTaskTreeKey);
  reg.create_key(Hive::LocalMachine, kServicesKey);

  PersistenceParts parts = fake.threaded();
  std::thread detector([&] { run_persistence_detector(parts); });
  // Every watcher has its baseline once it waits: on its key, or 10 s for
  // the task watcher and 15 s for the service watcher.
  for (const AutostartKey& key : kAutostartKeys)
    ASSERT_TRUE(reg.await_arms(key.hive, key.subkey, 1));
  ASSERT_TRUE(fake.await_wait_of(10));
  ASSERT_TRUE(fake.await_wait_of(15));
  for (const AutostartKey& key : kAutostartKeys) reg.set_text(key.hive, key.subkey, "X", "x.exe");
  reg.create_key(Hive::LocalMachine, std::string(kTaskTreeKey) + "\\T");
  reg.set_u32(Hive::LocalMachine, std::string(kServicesKey) + "\\S", "Type", 16);

  const bool all_arrived = fake.out.await(13);
  fake.flags.request_stop();
  detector.join();
  ASSERT_TRUE(all_arrived);

  const std::string hkcu_run = "Software\\Microsoft\\Windows\\CurrentVersion\\";
  const std::string wow = "Software\\WOW6432Node\\Microsoft\\Windows\\CurrentVersion\\";
  const std::map<std::string, std::optional<Remediation>> expected = {
      {"run:HKCU\\...\\Run:X", DeleteRegValue{"HKCU", hkcu_run + "Run", "X"}},
      {"run:HKCU\\...\\RunOnce:X", DeleteRegValue{"HKCU", hkcu_run + "RunOnce", "X"}},
      {"run:HKLM\\...\\Run:X", DeleteRegValue{"HKLM", hkcu_run + "Run", "X"}},
      {"run:HKLM\\...\\RunOnce:X", DeleteRegValue{"HKLM", hkcu_run + "RunOnce", "X"}},
      {"run:HKLM\\...\\Policies\\Explorer\\Run:X",
       DeleteRegValue{"HKLM", hkcu_run + "Policies\\Explorer\\Run", "X"}},
      // Deleting logon configuration could break logon: reported only.
      {"run:HKLM\\...\\Winlogon (Shell/Userinit):X", std::nullopt},
      {"run:HKLM\\...\\Windows (AppInit_DLLs):X", std::nullopt},
      {"run:HKCU\\...\\Policies\\Explorer\\Run:X",
       DeleteRegValue{"HKCU", hkcu_run + "Policies\\Explorer\\Run", "X"}},
      {"run:HKLM\\...\\Run (32-bit):X", DeleteRegValue{"HKLM", wow + "Run", "X"}},
      {"run:HKLM\\...\\RunOnce (32-bit):X", DeleteRegValue{"HKLM", wow + "RunOnce", "X"}},
      {"run:HKLM\\...\\Policies\\Explorer\\Run (32-bit):X",
       DeleteRegValue{"HKLM", wow + "Policies\\Explorer\\Run", "X"}},
      {"task:T", std::nullopt},
      {"svc:S", std::nullopt},
  };
  std::map<std::string, std::optional<Remediation>> got;
  for (const Alert& alert : fake.out.alerts()) {
    got[alert.dedup_key] = alert.remediation;
    if (alert.dedup_key.starts_with("run:")) {
      EXPECT_TRUE(alert.detail.ends_with(
          "MITRE ATT&CK: T1547.001 (Registry Run Key)  \u00b7  CVSS 7.2 (High)"));
    }
  }
  EXPECT_EQ(got, expected);
  EXPECT_EQ(fake.out.alerts().size(), 13u);
}

}  // namespace
}  // namespace tarnwick
