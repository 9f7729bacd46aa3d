#include "selfprotect/drivers.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "procmeta/procmeta_fake.h"
#include "registry/registry_fake.h"
#include "selfprotect/drivers_fake.h"
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
  testing::FakeDriverServices services;
  testing::FakeFileDigest digest;
  AlertCollector out;
  DriverWatchParts parts{registry, registry, services, trust, digest, known_bad_drivers(),
                         std::string("C:\\windows"), out};

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
            "service so it cannot load at boot.\nIt was not running.");
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
            "Service \"rogue\". Tarnwick DISABLED the service so it cannot load at boot.\nIt was not "
            "running.");
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

TEST(DriverWatch, ADisabledDriverIsStoppedAndTheDetailSaysHowThatWent) {
  struct Case {
    DriverStop stop;
    const char* ending;
  };
  const Case cases[] = {
      {DriverStop::Stopped, "boot.\nIt was running and has been stopped."},
      {DriverStop::NotRunning, "boot.\nIt was not running."},
      {DriverStop::StillRunning,
       "boot.\nIt is running and could not be stopped: it stays loaded until the next restart."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.ending);
    DriverFixture f;
    DriverWatch watch(f.parts);
    f.add_service("Evil", 1, "\\??\\C:\\evil.sys");
    f.add_service("Refused", 1, "\\??\\C:\\refused.sys");
    f.registry.fail_writes(Hive::LocalMachine, f.key("Refused"));
    f.services.answers["Evil"] = c.stop;
    watch.check();
    ASSERT_EQ(f.out.alerts.size(), 2u);
    EXPECT_TRUE(f.out.alerts[0].detail.ends_with(c.ending)) << f.out.alerts[0].detail;
    // Only a driver that was disabled is stopped; the other's detail has no ending.
    EXPECT_EQ(f.services.stopped, std::vector<std::string>{"Evil"});
    EXPECT_TRUE(f.out.alerts[1].detail.ends_with("investigate immediately."));
  }
}

Sha256 digest_of(std::string_view hex) {
  const auto digest = parse_sha256(hex);
  EXPECT_TRUE(digest) << hex;
  return digest.value_or(Sha256{});
}

TEST(KnownDrivers, TheShippedTableFindsItsFirstAndLastRows) {
  const auto table = known_bad_drivers();
  EXPECT_EQ(table.size(), 2004u);
  EXPECT_TRUE(std::is_sorted(table.begin(), table.end(),
                             [](const KnownDriver& a, const KnownDriver& b) { return a.sha256 < b.sha256; }));
  const KnownDriver* first = find_known_driver(
      table, digest_of("000547560fea0dd4b477eb28bf781ea67bf83c748945ce8923f90fdd14eb7a4b"));
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->category, DriverCategory::Vulnerable);
  EXPECT_STREQ(first->original_filename, "Corsair LL Access");
  const KnownDriver* last = find_known_driver(
      table, digest_of("FFD1AEF19646FFED09B56A2ACE4FC8CDF5B2F714FCCA1E7FFB82256264C94B18"));
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last, &table.back());
  // One digit off either end, and between rows: not listed.
  EXPECT_EQ(find_known_driver(
                table, digest_of("000547560fea0dd4b477eb28bf781ea67bf83c748945ce8923f90fdd14eb7a4a")),
            nullptr);
  EXPECT_EQ(find_known_driver(table, Sha256{}), nullptr);
  Sha256 top;
  top.fill(0xFF);
  EXPECT_EQ(find_known_driver(table, top), nullptr);
  const auto malicious = std::count_if(table.begin(), table.end(), [](const KnownDriver& row) {
    return row.category == DriverCategory::Malicious;
  });
  EXPECT_EQ(malicious, 306);
  EXPECT_EQ(parse_sha256("xyz"), std::nullopt);
  EXPECT_EQ(parse_sha256(std::string(63, 'a') + "g"), std::nullopt);
}

constexpr const char* kListedHex = "000547560fea0dd4b477eb28bf781ea67bf83c748945ce8923f90fdd14eb7a4b";

// A listed driver is usually validly signed; the list overrides the signature.
TEST(DriverWatch, AListedDriverIsBlockedWhateverItsSignature) {
  DriverFixture f;
  DriverWatch watch(f.parts);
  f.add_service("CorsairLL", 1, "\\??\\C:\\Drivers\\cll.sys");
  f.add_service("Refused", 1, "\\??\\C:\\Drivers\\refused.sys");
  f.registry.fail_writes(Hive::LocalMachine, f.key("Refused"));
  f.trust.signed_paths = {"C:\\Drivers\\cll.sys", "C:\\Drivers\\refused.sys"};
  f.digest.digests["C:\\Drivers\\cll.sys"] = digest_of(kListedHex);
  f.digest.digests["C:\\Drivers\\refused.sys"] = digest_of(kListedHex);
  f.services.answers["CorsairLL"] = DriverStop::Stopped;
  watch.check();
  ASSERT_EQ(f.out.alerts.size(), 2u);
  const Alert& blocked = f.out.alerts[0];
  EXPECT_EQ(blocked.title, "Vulnerable kernel driver BLOCKED (BYOVD)");
  EXPECT_EQ(blocked.severity, Severity::Critical);
  EXPECT_EQ(blocked.dedup_key, "driver:CorsairLL");
  EXPECT_EQ(blocked.detail,
            "A known vulnerable kernel driver was registered \u2014 bring-your-own-vulnerable-driver "
            "(BYOVD). Service \"CorsairLL\" (image: \\??\\C:\\Drivers\\cll.sys), file "
            "C:\\Drivers\\cll.sys. Tarnwick DISABLED the service so it cannot load at boot.\nIt was "
            "running and has been stopped.");
  EXPECT_EQ(f.start("CorsairLL"), 4u);
  EXPECT_EQ(f.out.alerts[1].title, "Vulnerable kernel driver registered (BYOVD risk)");
  EXPECT_TRUE(f.out.alerts[1].detail.ends_with("Could not auto-disable; investigate immediately."));
  EXPECT_TRUE(f.trust.checked.empty()) << "a listed driver's signature does not matter";
}

TEST(DriverWatch, ListedDriversPresentAtStartAreReportedOnceAndLeftAlone) {
  DriverFixture f;
  f.add_service("Listed", 1, "\\SystemRoot\\System32\\drivers\\listed.sys");
  f.add_service("Clean", 1, "\\SystemRoot\\System32\\drivers\\clean.sys");
  f.digest.digests["C:\\windows\\System32\\drivers\\listed.sys"] = digest_of(kListedHex);
  f.digest.digests["C:\\windows\\System32\\drivers\\clean.sys"] = Sha256{};
  DriverWatch watch(f.parts);
  watch.check();
  ASSERT_EQ(f.out.alerts.size(), 1u);
  const Alert& present = f.out.alerts[0];
  EXPECT_EQ(present.title, "Known vulnerable kernel driver present");
  EXPECT_EQ(present.severity, Severity::High);
  EXPECT_EQ(present.detail,
            "Service \"Listed\" (image: \\SystemRoot\\System32\\drivers\\listed.sys) is a known "
            "vulnerable kernel driver, file C:\\windows\\System32\\drivers\\listed.sys. It was present "
            "when Tarnwick started, so it was not disabled.");
  EXPECT_TRUE(f.registry.writes().empty());
  EXPECT_TRUE(f.services.stopped.empty());
}

}  // namespace
}  // namespace tarnwick
