#include "persist/services.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

#include "persist/persist_testing.h"

namespace tarnwick {
namespace {

using testing::FakePersistence;

const std::string kServices(kServicesKey);

void add_service(FakePersistence& fake, const std::string& name,
                 std::optional<std::string> type_bytes) {
  if (type_bytes) {
    fake.registry.set_value(Hive::LocalMachine, kServices + "\\" + name, "Type", *type_bytes);
  } else {
    fake.registry.set_text(Hive::LocalMachine, kServices + "\\" + name, "ImagePath", "C:\\x.exe");
  }
}

TEST(ServiceWatcher, ReportsANewOwnProcessService) {
  FakePersistence fake;
  add_service(fake, "Spooler", testing::registry_u32_bytes(16));
  PersistenceParts parts =
      fake.scripted({[&] { add_service(fake, "EvilSvc", testing::registry_u32_bytes(16)); }});
  run_service_watcher(parts);

  const auto alerts = fake.out.alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].source, AlertSource::Persistence);
  EXPECT_EQ(alerts[0].severity, Severity::Medium);
  EXPECT_EQ(alerts[0].title, "New Windows service registered");
  EXPECT_EQ(alerts[0].detail, "Service \"EvilSvc\" appeared in the registry.");
  EXPECT_EQ(alerts[0].dedup_key, "svc:EvilSvc");
  EXPECT_FALSE(alerts[0].pid);
  EXPECT_FALSE(alerts[0].remediation);
}

TEST(ServiceWatcher, DriversAreLeftOutUnlessTheirTypeCannotBeRead) {
  FakePersistence fake;
  PersistenceParts parts = fake.scripted({
      [&] {
        add_service(fake, "KernelDrv", testing::registry_u32_bytes(1));
        add_service(fake, "FsDrv", testing::registry_u32_bytes(2));
        add_service(fake, "Shared", testing::registry_u32_bytes(32));
        add_service(fake, "NoType", std::nullopt);
        add_service(fake, "ShortType", std::string("\x01\x00", 2));
        add_service(fake, "LongType", testing::registry_u32_bytes(1) + std::string(4, '\0'));
        add_service(fake, "Unopenable", testing::registry_u32_bytes(1));
        fake.registry.fail_open(Hive::LocalMachine, kServices + "\\Unopenable");
      },
      [&] { fake.registry.delete_key(Hive::LocalMachine, kServices + "\\Shared"); },
      [&] { add_service(fake, "Shared", testing::registry_u32_bytes(32)); },
  });
  run_service_watcher(parts);
  EXPECT_EQ(fake.out.keys(),
            (std::vector<std::string>{"svc:LongType", "svc:NoType", "svc:Shared", "svc:ShortType",
                                      "svc:Unopenable", "svc:Shared"}));
}

// A listing raced by a writer skips a stable name; if it counted, the next
// listing would report that name as new.
TEST(ServiceWatcher, AListingCutShortReportsNothingAndKeepsTheNamesKnown) {
  FakePersistence fake;
  add_service(fake, "Aaa", testing::registry_u32_bytes(16));
  add_service(fake, "Bbb", testing::registry_u32_bytes(16));
  PersistenceParts parts = fake.scripted({
      [&] { fake.registry.disturb_walks(Hive::LocalMachine, kServices, kListingTries); },
      [&] { fake.registry.disturb_walks(Hive::LocalMachine, kServices, kListingTries - 1); },
      [&] { fake.registry.fail_open(Hive::LocalMachine, kServices); },
      [&] {
        fake.registry.fail_open(Hive::LocalMachine, kServices, false);
        add_service(fake, "New", testing::registry_u32_bytes(16));
      },
  });
  run_service_watcher(parts);
  EXPECT_EQ(fake.out.keys(), std::vector<std::string>{"svc:New"});
}

// Without a baseline, the first listing that succeeds becomes it: a key
// unreadable at start is not a machine full of new services.
TEST(ServiceWatcher, TheFirstGoodListingIsTheBaseline) {
  FakePersistence fake;
  add_service(fake, "Spooler", testing::registry_u32_bytes(16));
  fake.registry.disturb_walks(Hive::LocalMachine, kServices, kListingTries);
  PersistenceParts parts = fake.scripted({
      [] {},
      [&] { add_service(fake, "EvilSvc", testing::registry_u32_bytes(16)); },
  });
  run_service_watcher(parts);
  EXPECT_EQ(fake.out.keys(), std::vector<std::string>{"svc:EvilSvc"});
}

TEST(ServiceWatcher, PollsEvery15SecondsAnd60InGameMode) {
  FakePersistence fake;
  PersistenceParts parts = fake.scripted({[&] { fake.flags.game_mode_active = true; }, [] {}});
  run_service_watcher(parts);
  EXPECT_EQ(fake.waits_in_seconds(), (std::vector<long long>{15, 60, 60}));
}

TEST(ServiceTypes, EachTypeIsReadOnceAndAgainAfterTheNameWasGone) {
  std::map<std::string, uint32_t> registry = {{"beep", 1}, {"npfs", 2}, {"spooler", 16}};
  std::vector<std::string> reads;
  ServiceTypes types([&](const std::string& name) -> std::optional<uint32_t> {
    reads.push_back(name);
    auto it = registry.find(name);
    if (it == registry.end()) return std::nullopt;
    return it->second;
  });
  const NameSet all = {"beep", "npfs", "spooler"};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(types.drivers_among(all), (NameSet{"beep", "npfs"}));
  std::sort(reads.begin(), reads.end());
  EXPECT_EQ(reads, (std::vector<std::string>{"beep", "npfs", "spooler"}));

  // "beep" is deleted and registered again, now as an own-process service.
  reads.clear();
  EXPECT_EQ(types.drivers_among({"npfs", "spooler"}), NameSet{"npfs"});
  registry["beep"] = 16;
  EXPECT_EQ(types.drivers_among(all), NameSet{"npfs"});
  EXPECT_EQ(reads, std::vector<std::string>{"beep"});

  // A key whose Type is not written yet is read at every listing until it is.
  reads.clear();
  const NameSet with_new = {"beep", "npfs", "spooler", "rogue"};
  EXPECT_EQ(types.drivers_among(with_new), NameSet{"npfs"});
  registry["rogue"] = 1;
  EXPECT_EQ(types.drivers_among(with_new), (NameSet{"npfs", "rogue"}));
  EXPECT_EQ(types.drivers_among(with_new), (NameSet{"npfs", "rogue"}));
  EXPECT_EQ(reads, (std::vector<std::string>{"rogue", "rogue"}));
}

}  // namespace
}  // namespace tarnwick
