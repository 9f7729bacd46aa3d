#include "selfprotect/drivers.h"

#include <gtest/gtest.h>

#include "procmeta/procmeta_fake.h"
#include "registry/registry_fake.h"
#include "testsupport/alert_collector.h"

namespace tarnwick {
namespace {

using testing::AlertCollector;
using testing::FakeRegistry;
using testing::FakeSignatureCheck;

constexpr const char* kServices = "System\\CurrentControlSet\\Services";

TEST(DriverImage, ResolvesEachFormOfImagePath) {
  struct Case {
    const char* name;
    const char* image_path;
    std::optional<std::string> system_root;
    const char* expected;
  };
  const Case cases[] = {
      {"NT prefix", "\\??\\C:\\Drivers\\evil.sys", "C:\\windows", "C:\\Drivers\\evil.sys"},
      {"system root prefix", "\\SystemRoot\\System32\\drivers\\x.sys", "D:\\WinNT",
       "D:\\WinNT\\System32\\drivers\\x.sys"},
      {"system root prefix, variable unset", "\\SystemRoot\\System32\\drivers\\x.sys", std::nullopt,
       "C:\\Windows\\System32\\drivers\\x.sys"},
      {"relative System32", "System32\\drivers\\x.sys", "C:\\windows",
       "C:\\windows\\System32\\drivers\\x.sys"},
      {"relative system32 in upper case", "SYSTEM32\\DRIVERS\\x.sys", std::nullopt,
       "C:\\Windows\\SYSTEM32\\DRIVERS\\x.sys"},
      {"surrounding white space", " \t\\??\\C:\\x.sys\r\n", "C:\\windows", "C:\\x.sys"},
      {"system root prefix in lower case", "\\systemroot\\x.sys", "C:\\windows",
       "C:\\windows\\x.sys"},
      {"system root prefix in upper case", "\\SYSTEMROOT\\System32\\x.sys", "C:\\windows",
       "C:\\windows\\System32\\x.sys"},
      {"system32 in mixed case", "sYsTeM32\\x.sys", "C:\\windows", "C:\\windows\\sYsTeM32\\x.sys"},
      {"absolute path", "C:\\Drivers\\x.sys", "C:\\windows", "C:\\Drivers\\x.sys"},
      {"NT prefix alone", "\\??\\", "C:\\windows", ""},
      {"empty", "", "C:\\windows", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(resolve_driver_image(c.image_path, c.system_root), c.expected);
  }
}

TEST(DriverImage, ADriverWithoutImagePathIsLoadedFromTheDriversFolder) {
  EXPECT_EQ(driver_file("beep", std::nullopt, "C:\\windows"),
            "C:\\windows\\System32\\drivers\\beep.sys");
  EXPECT_EQ(driver_file("beep", std::nullopt, std::nullopt),
            "C:\\Windows\\System32\\drivers\\beep.sys");
  EXPECT_EQ(driver_file("beep", std::string(), "C:\\windows"), "");
}

struct DriverFixture {
  FakeRegistry registry;
  FakeSignatureCheck trust;
  AlertCollector out;
  DriverWatchParts parts{registry, registry, trust, std::string("C:\\windows"), out};

  std::string key(const std::string& name) { return std::string(kServices) + "\\" + name; }
  void add_service(const std::string& name, std::optional<uint32_t> type,
                   std::optional<std::string> image_path = std::nullopt) {
    registry.create_key(Hive::LocalMachine, key(name));
    registry.set_u32(Hive::LocalMachine, key(name), "Start", 3);
    if (type) registry.set_u32(Hive::LocalMachine, key(name), "Type", *type);
    if (image_path) registry.set_text(Hive::LocalMachine, key(name), "ImagePath", *image_path);
  }
  std::optional<uint32_t> start(const std::string& name) {
    return registry.read_u32(Hive::LocalMachine, key(name), "Start");
  }
};

TEST(DriverWatch, JudgesOnlyDriversRegisteredAfterTheBaseline) {
  DriverFixture f;
  f.add_service("OldDrv", 1, "\\??\\C:\\old.sys");
  DriverWatch watch(f.parts);
  f.add_service("Evil", 1, "\\??\\C:\\Users\\Public\\evil.sys");
  f.add_service("GoodFs", 2, "System32\\drivers\\goodfs.sys");
  f.add_service("OwnProcess", 16, "C:\\svc.exe");
  f.trust.signed_paths = {"C:\\windows\\System32\\drivers\\goodfs.sys"};
  watch.check();

  ASSERT_EQ(f.out.alerts.size(), 2u);
  const Alert& blocked = f.out.alerts[0];
  EXPECT_EQ(blocked.source, AlertSource::System);
  EXPECT_EQ(blocked.severity, Severity::Critical);
  EXPECT_EQ(blocked.title, "Unsigned kernel driver BLOCKED (BYOVD)");
  EXPECT_EQ(blocked.detail,
            "An UNSIGNED kernel driver was registered \u2014 the core BYOVD / rootkit primitive. "
            "Service \"Evil\" (image: \\??\\C:\\Users\\Public\\evil.sys). Tarnwick DISABLED the "
            "service so it cannot load at boot.");
  EXPECT_EQ(blocked.dedup_key, "driver:Evil");
  EXPECT_FALSE(blocked.pid);
  EXPECT_EQ(f.start("Evil"), 4u);

  const Alert& loaded = f.out.alerts[1];
  EXPECT_EQ(loaded.severity, Severity::Low);
  EXPECT_EQ(loaded.title, "Signed kernel driver loaded");
  EXPECT_EQ(loaded.detail,
            "A signed kernel driver was loaded (likely legitimate, e.g. anti-cheat or hardware). "
            "Service \"GoodFs\" (image: System32\\drivers\\goodfs.sys).");
  EXPECT_EQ(loaded.dedup_key, "driver:GoodFs");
  EXPECT_EQ(f.start("GoodFs"), 3u);

  // Only the unsigned driver's key was written; the old and the own-process ones were left alone.
  ASSERT_EQ(f.registry.writes().size(), 1u);
  EXPECT_EQ(f.start("OldDrv"), 3u);
  EXPECT_EQ(f.start("OwnProcess"), 3u);
  EXPECT_EQ(f.trust.checked,
            (std::vector<std::string>{"C:\\Users\\Public\\evil.sys",
                                      "C:\\windows\\System32\\drivers\\goodfs.sys"}));

  watch.check();
  EXPECT_EQ(f.out.alerts.size(), 2u);
}

TEST(DriverWatch, ADisableThatIsRefusedSaysSo) {
  DriverFixture f;
  DriverWatch watch(f.parts);
  f.add_service("Evil", 1, "\\??\\C:\\evil.sys");
  f.registry.fail_writes(Hive::LocalMachine, f.key("Evil"));
  watch.check();
  ASSERT_EQ(f.out.alerts.size(), 1u);
  EXPECT_EQ(f.out.alerts[0].title, "Unsigned kernel driver registered (BYOVD risk)");
  EXPECT_EQ(f.out.alerts[0].detail,
            "An UNSIGNED kernel driver was registered \u2014 the core BYOVD / rootkit primitive. "
            "Service \"Evil\" (image: \\??\\C:\\evil.sys). Could not auto-disable; investigate "
            "immediately.");
  EXPECT_EQ(f.start("Evil"), 3u);
}

TEST(DriverWatch, WithoutImagePathTheDefaultDriverFileIsJudgedAndNoImageIsShown) {
  DriverFixture f;
  DriverWatch watch(f.parts);
  f.add_service("beep", 1);
  f.add_service("rogue", 1);
  f.trust.signed_paths = {"C:\\windows\\System32\\drivers\\beep.sys"};
  watch.check();
  ASSERT_EQ(f.out.alerts.size(), 2u);
  EXPECT_EQ(f.out.alerts[0].title, kSignedDriverTitle);
  EXPECT_EQ(f.out.alerts[0].detail,
            "A signed kernel driver was loaded (likely legitimate, e.g. anti-cheat or hardware). "
            "Service \"beep\".");
  EXPECT_EQ(f.start("beep"), 3u);
  EXPECT_EQ(f.out.alerts[1].title, kDriverBlockedTitle);
  EXPECT_EQ(f.out.alerts[1].detail,
            "An UNSIGNED kernel driver was registered \u2014 the core BYOVD / rootkit primitive. "
            "Service \"rogue\". Tarnwick DISABLED the service so it cannot load at boot.");
  EXPECT_EQ(f.start("rogue"), 4u);
}

TEST(DriverWatch, TheSetIsReadAfreshEachCheck) {
  DriverFixture f;
  DriverWatch watch(f.parts);
  // A key whose Type is not written yet is not a driver; once it is, it is new.
  f.add_service("Late", std::nullopt, "\\??\\C:\\late.sys");
  watch.check();
  EXPECT_TRUE(f.out.alerts.empty());
  f.registry.set_u32(Hive::LocalMachine, f.key("Late"), "Type", 1);
  watch.check();
  EXPECT_EQ(f.out.titles(), std::vector<std::string>{std::string(kDriverBlockedTitle)});

  // Removed and registered again: judged again.
  f.registry.delete_key(Hive::LocalMachine, f.key("Late"));
  watch.check();
  f.add_service("Late", 1, "\\??\\C:\\late.sys");
  watch.check();
  EXPECT_EQ(f.out.alerts.size(), 2u);

}

// A listing raced by a writer skips the first name. Counted, it would make
// that driver new at the next check, and disable a driver the machine boots with.
TEST(DriverWatch, AListingCutShortDisablesNothing) {
  DriverFixture f;
  f.add_service("Aaa", 1, "\\??\\C:\\aaa.sys");
  f.add_service("Bbb", 1, "\\??\\C:\\bbb.sys");
  DriverWatch watch(f.parts);
  f.add_service("Zzz", 1, "\\??\\C:\\zzz.sys");
  watch.check();
  ASSERT_EQ(f.out.alerts.size(), 1u);
  f.registry.disturb_walks(Hive::LocalMachine, kServices, kListingTries);
  watch.check();
  f.registry.fail_open(Hive::LocalMachine, kServices);
  watch.check();
  f.registry.fail_open(Hive::LocalMachine, kServices, false);
  watch.check();
  EXPECT_EQ(f.out.alerts.size(), 1u);
  ASSERT_EQ(f.registry.writes().size(), 1u);
  EXPECT_EQ(f.start("Aaa"), 3u);
}

TEST(DriverWatch, ABaselineDriverIsNeverDisabled) {
  DriverFixture f;
  f.registry.disturb_walks(Hive::LocalMachine, kServices, kListingTries);
  f.add_service("storahci", 1, "\\SystemRoot\\System32\\drivers\\storahci.sys");
  // No baseline could be read at start: the first good set becomes it.
  DriverWatch watch(f.parts);
  watch.check();
  EXPECT_TRUE(f.out.alerts.empty());

  // Gone from one complete listing and back at the next (as a key deleted and
  // written again would be): reported, never disabled.
  f.registry.delete_key(Hive::LocalMachine, f.key("storahci"));
  watch.check();
  f.add_service("storahci", 1, "\\SystemRoot\\System32\\drivers\\storahci.sys");
  watch.check();
  ASSERT_EQ(f.out.alerts.size(), 1u);
  EXPECT_EQ(f.out.alerts[0].title, kDriverRegisteredTitle);
  EXPECT_TRUE(f.out.alerts[0].detail.ends_with(
      "It was present when Tarnwick started, so it was not disabled; investigate immediately."));
  EXPECT_TRUE(f.registry.writes().empty());
  EXPECT_EQ(f.start("storahci"), 3u);
}

}  // namespace
}  // namespace tarnwick
