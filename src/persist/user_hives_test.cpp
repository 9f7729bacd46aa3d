#include "persist/user_hives.h"

#include <gtest/gtest.h>

#include <thread>

#include "persist/autostart.h"
#include "persist/persist_testing.h"

namespace tarnwick {
namespace {

using testing::FakePersistence;

constexpr const char* kSid = "S-1-5-21-1004336348-1177238915-682003330-1001";
constexpr const char* kRun = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::string in_hive(const std::string& sid, const std::string& subkey) {
  return sid + "\\" + subkey;
}

// Watchers of each hive retry and wait in 1 ms steps, until their hive's stop.
Sleeper quick_sleeper(const EngineFlags& flags) {
  return [&flags](std::chrono::milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return !flags.stopping();
  };
}

TEST(UserHives, OnlyPeoplesHivesAreWatched) {
  const std::string long_sid = "S-1-5-21-" + std::string(kMaxSidChars, '1');
  struct Case {
    std::string name;
    bool user;
  } cases[] = {
      {kSid, true},
      {"S-1-5-21-0-0-0-1000", true},
      {"S-1-12-1-3570619870-1107320546-3003925174-1457438612", true},
      {std::string(kSid) + "_Classes", false},
      {"S-1-12-1-1-2-3-4_Classes", false},
      {".DEFAULT", false},
      {"S-1-5-18", false},
      {"S-1-5-19", false},
      {"S-1-5-20", false},
      {"S-1-5-21", false},
      {"S-1-5-21-", false},
      {"s-1-5-21-1-2-3-1001", false},
      {"S-1-5-21-1-2-3-1001\\Software", false},
      {std::string("S-1-5-21-1\0-2", 13), false},
      {"S-1-5-21-1-2-3-1001 ", false},
      {long_sid.substr(0, kMaxSidChars), true},
      {long_sid, false},
  };
  NameSet all;
  std::vector<std::string> expected;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(is_user_hive_name(c.name), c.user);
    all.insert(c.name);
    if (c.user) expected.push_back(c.name);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(user_hive_names(all), expected);
}

TEST(UserHives, KeysLabelsAndTheAlertOfAPersonsRunValue) {
  const UserHiveKeys with_account(kSid, "CONTOSO\\alice");
  ASSERT_EQ(with_account.keys().size(), 3u);
  const std::string hku = std::string("HKU\\") + kSid;
  EXPECT_EQ(with_account.keys()[0].label, hku + "\\...\\Run");
  EXPECT_EQ(with_account.keys()[1].label, hku + "\\...\\RunOnce");
  EXPECT_EQ(with_account.keys()[2].label, hku + "\\...\\Policies\\Explorer\\Run");
  EXPECT_EQ(with_account.keys()[2].subkey,
            in_hive(kSid, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer\\Run"));

  const Alert alert = autostart_alert(with_account.keys()[0], "Updater");
  EXPECT_EQ(alert.detail,
            "Added \"Updater\" under " + hku +
                "\\...\\Run (user CONTOSO\\alice)\n\n"
                "MITRE ATT&CK: T1547.001 (Registry Run Key)  \u00b7  CVSS 7.2 (High)");
  EXPECT_EQ(alert.dedup_key, "run:" + hku + "\\...\\Run:Updater");
  EXPECT_EQ(alert.remediation, Remediation(DeleteRegValue{hku, kRun, "Updater"}));

  // An account the system cannot name leaves the detail as for any key.
  const UserHiveKeys unnamed(kSid, std::nullopt);
  EXPECT_TRUE(autostart_alert(unnamed.keys()[1], "x")
                  .detail.starts_with("Added \"x\" under " + hku + "\\...\\RunOnce\n\n"));
}

TEST(UserHives, AHiveIsBaselinedWhenItAppearsAndReleasedWhenItGoes) {
  FakePersistence fake;
  fake.registry.set_text(Hive::Users, in_hive(kSid, kRun), "OneDrive", "C:\\od.exe");
  // Neither the service accounts' nor the class hives are anyone's to watch.
  fake.registry.create_key(Hive::Users, in_hive("S-1-5-18", kRun));
  fake.registry.create_key(Hive::Users, in_hive(std::string(kSid) + "_Classes", kRun));
  fake.registry.create_key(Hive::Users, in_hive(".DEFAULT", kRun));
  const std::string run = in_hive(kSid, kRun);

  PersistenceParts parts = fake.scripted({
      [&] {
        // First scan done: the hive's Run key is armed with its baseline.
        ASSERT_TRUE(fake.registry.await_arms(Hive::Users, run, 1));
        fake.registry.set_text(Hive::Users, run, "Updater", "C:\\Users\\Public\\u.exe");
        ASSERT_TRUE(fake.out.await(1));
        ASSERT_TRUE(fake.registry.await_arms(Hive::Users, run, 2));
        EXPECT_EQ(fake.registry.open_watch_keys(), 1u) << "one key exists, one is held";
        // The user logs off: the hive is unloaded.
        fake.registry.delete_key(Hive::Users, kSid);
      },
      [&] {
        // The second scan found it gone and waited for its watchers.
        EXPECT_EQ(fake.registry.open_watch_keys(), 0u);
      },
  });
  UserHiveParts hive_parts{parts,
                           [](const std::string& sid) -> std::optional<std::string> {
                             if (sid == kSid) return "CONTOSO\\alice";
                             return std::nullopt;
                           },
                           quick_sleeper};
  run_user_hive_watch(hive_parts);

  const std::vector<Alert> alerts = fake.out.alerts();
  ASSERT_EQ(alerts.size(), 1u) << "the value present when the hive appeared is not reported";
  EXPECT_EQ(alerts[0].dedup_key, std::string("run:HKU\\") + kSid + "\\...\\Run:Updater");
  EXPECT_EQ(fake.registry.arms(Hive::Users, in_hive("S-1-5-18", kRun)), 0u);
  EXPECT_EQ(fake.registry.arms(Hive::Users, in_hive(std::string(kSid) + "_Classes", kRun)), 0u);
  EXPECT_EQ(fake.waits_in_seconds(), (std::vector<long long>{10, 10, 10}));
  EXPECT_EQ(fake.registry.open_watch_keys(), 0u);
}

TEST(UserHives, AtMost64HivesAndAllReleasedAtStop) {
  FakePersistence fake;
  std::vector<std::string> sids;
  for (int i = 0; i < 70; ++i) {
    sids.push_back("S-1-5-21-1-2-3-" + std::to_string(1000 + i));
    fake.registry.create_key(Hive::Users, in_hive(sids.back(), kRun));
  }
  PersistenceParts parts =
      fake.scripted({[&] { ASSERT_TRUE(fake.registry.await_open_watch_keys(kMaxUserHives)); }});
  UserHiveParts hive_parts{parts, [](const std::string&) { return std::nullopt; }, quick_sleeper};
  run_user_hive_watch(hive_parts);

  size_t armed = 0;
  for (const std::string& sid : sids)
    armed += fake.registry.arms(Hive::Users, in_hive(sid, kRun)) > 0;
  EXPECT_EQ(armed, kMaxUserHives);
  EXPECT_EQ(fake.registry.open_watch_keys(), 0u);
}

}  // namespace
}  // namespace tarnwick
