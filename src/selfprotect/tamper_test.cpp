#include "selfprotect/tamper.h"

#include <gtest/gtest.h>

#include <deque>

#include "fileio/fileio.h"
#include "testsupport/alert_collector.h"
#include "testsupport/temp_dir.h"

namespace tarnwick {
namespace {

using testing::AlertCollector;

// A watch over a real configuration file in a temporary folder, read with
// the engine's own reader, and an executable whose size the test scripts.
struct TamperFixture {
  testing::TempDir dir;
  AlertCollector out;
  std::deque<std::optional<uint64_t>> sizes;  // answers of the size query, in order
  int size_queries = 0;
  TamperWatchParts parts{dir / "Tarnwick.config.json",
                         read_config,
                         std::filesystem::path("C:\\Tarnwick\\tarnwick.exe"),
                         [this](const std::filesystem::path&) -> std::optional<uint64_t> {
                           ++size_queries;
                           if (sizes.empty()) return 1000;
                           auto s = sizes.front();
                           sizes.pop_front();
                           return s;
                         },
                         out,
                         [](std::chrono::milliseconds) { return true; }};

  void save(std::string_view json) { ASSERT_TRUE(write_file(parts.config_path, json)); }
  std::vector<std::string> details() const {
    std::vector<std::string> d;
    for (const Alert& a : out.alerts) d.push_back(a.detail);
    return d;
  }
};

std::string weakened_detail(std::string_view reason) {
  return "Tarnwick protection was changed: " + std::string(reason) +
         ". If this wasn't you, an attacker may be trying to disable the agent.";
}

TEST(TamperWatch, WeakeningAlertCarriesItsTextsAndKey) {
  const Alert a = weakened_alert("auto-response was turned OFF");
  EXPECT_EQ(a.source, AlertSource::System);
  EXPECT_EQ(a.severity, Severity::Critical);
  EXPECT_EQ(a.title, "Protection weakened (possible tampering)");
  EXPECT_EQ(a.detail, weakened_detail("auto-response was turned OFF"));
  EXPECT_EQ(a.dedup_key, "selfdefense:weakened");
  EXPECT_FALSE(a.pid);
  EXPECT_FALSE(a.remediation);

  const Alert b = binary_changed_alert();
  EXPECT_EQ(b.severity, Severity::Critical);
  EXPECT_EQ(b.title, "Tarnwick binary changed on disk");
  EXPECT_EQ(b.detail,
            "The Tarnwick engine executable was modified while running. This can indicate "
            "tampering or a corrupted update.");
  EXPECT_EQ(b.dedup_key, "selfdefense:binary");
}

TEST(TamperWatch, OneSaveRaisesAtMostOneAlertWithTheFirstRuleThatApplies) {
  constexpr const char* kStrong =
      R"({"auto_response_enabled": true, "watch_dirs": ["C:\\a", "C:\\b", "C:\\c"]})";
  struct Case {
    const char* name;
    const char* after;
    const char* reason;  // null: no alert
  };
  const Case cases[] = {
      {"auto-response off", R"({"watch_dirs": ["C:\\a", "C:\\b", "C:\\c"]})",
       "auto-response was turned OFF"},
      {"network blocking off",
       R"({"auto_response_enabled": true, "auto_stop_network_threat": false, "watch_dirs": ["C:\\a", "C:\\b", "C:\\c"]})",
       "network-threat blocking was turned OFF"},
      {"ransomware blocking off",
       R"({"auto_response_enabled": true, "auto_stop_ransomware": false, "watch_dirs": ["C:\\a", "C:\\b", "C:\\c"]})",
       "ransomware blocking was turned OFF"},
      {"persistence removal off",
       R"({"auto_response_enabled": true, "auto_remove_persistence": false, "watch_dirs": ["C:\\a", "C:\\b", "C:\\c"]})",
       "persistence removal was turned OFF"},
      {"one of three folders removed",
       R"({"auto_response_enabled": true, "watch_dirs": ["C:\\a", "C:\\c"]})",
       "a watched folder was removed (possible exclusion abuse)"},
      {"auto-response and ransomware off in one save",
       R"({"auto_stop_ransomware": false, "watch_dirs": ["C:\\a", "C:\\b", "C:\\c"]})",
       "auto-response was turned OFF"},
      {"ransomware off and a folder removed",
       R"({"auto_response_enabled": true, "auto_stop_ransomware": false, "watch_dirs": []})",
       "ransomware blocking was turned OFF"},
      {"a folder replaced by another",
       R"({"auto_response_enabled": true, "watch_dirs": ["C:\\a", "C:\\b", "D:\\x"]})", nullptr},
      {"only the response severity changed",
       R"({"auto_response_enabled": true, "auto_response_min_severity": "Low", "watch_dirs": ["C:\\a", "C:\\b", "C:\\c"]})",
       nullptr},
      {"a folder added",
       R"({"auto_response_enabled": true, "watch_dirs": ["C:\\a", "C:\\b", "C:\\c", "C:\\d"]})",
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TamperFixture f;
    f.save(kStrong);
    TamperWatch watch(f.parts);
    f.save(c.after);
    watch.poll();
    watch.poll();  // the change is in the baseline now: nothing more
    if (c.reason == nullptr) {
      EXPECT_TRUE(f.out.alerts.empty());
    } else {
      ASSERT_EQ(f.out.alerts.size(), 1u);
      EXPECT_EQ(f.out.alerts[0].title, kWeakenedTitle);
      EXPECT_EQ(f.out.alerts[0].detail, weakened_detail(c.reason));
    }
  }
}

TEST(TamperWatch, StrengtheningIsAbsorbedSoTheNextWeakeningIsReported) {
  TamperFixture f;
  f.save(R"({"auto_stop_network_threat": false})");
  TamperWatch watch(f.parts);
  f.save(R"({"auto_stop_network_threat": true})");
  watch.poll();
  EXPECT_TRUE(f.out.alerts.empty());
  f.save(R"({"auto_stop_network_threat": false})");
  watch.poll();
  EXPECT_EQ(f.details(), std::vector{weakened_detail("network-threat blocking was turned OFF")});
}

// A missing file is what the next start would use, the defaults, and the
// watch never writes one: an editor's delete-then-rename save could find it
// there and the user's file would be lost.
TEST(TamperWatch, AMissingFileComparesAsTheDefaultsAndIsNeverCreated) {
  TamperFixture f;
  f.save(R"({"auto_response_enabled": true})");
  TamperWatch watch(f.parts);
  std::filesystem::remove(f.parts.config_path);
  watch.poll();
  watch.poll();
  EXPECT_EQ(f.details(), std::vector{weakened_detail("auto-response was turned OFF")});
  EXPECT_FALSE(std::filesystem::exists(f.parts.config_path));

  TamperFixture none;  // missing from the start: the baseline is the defaults
  TamperWatch fresh(none.parts);
  none.save(R"({"auto_stop_ransomware": false})");
  fresh.poll();
  EXPECT_EQ(none.details(), std::vector{weakened_detail("ransomware blocking was turned OFF")});
}

// A save caught halfway must not read as the defaults: one that changed
// nothing would otherwise report "auto-response was turned OFF".
TEST(TamperWatch, AnUnreadableFileIsSkippedForThreePollsThenComparedAsTheDefaults) {
  constexpr const char* kOn = R"({"auto_response_enabled": true})";
  TamperFixture f;
  f.save(kOn);
  TamperWatch watch(f.parts);
  for (int i = 0; i < kUnreadablePollsSkipped; ++i) {
    f.save(R"({"auto_response_en)");
    watch.poll();
  }
  f.save(kOn);  // the save completes unchanged
  watch.poll();
  EXPECT_TRUE(f.out.alerts.empty());

  f.save("{");  // and now stays broken: three polls passed over, the fourth compares
  for (int i = 0; i < kUnreadablePollsSkipped; ++i) watch.poll();
  EXPECT_TRUE(f.out.alerts.empty());
  watch.poll();
  EXPECT_EQ(f.details(), std::vector{weakened_detail("auto-response was turned OFF")});
  watch.poll();
  EXPECT_EQ(f.out.alerts.size(), 1u);
  EXPECT_EQ(read_file(f.parts.config_path).bytes, "{");  // never written

  // Unreadable at start: no baseline yet, so the first reading sets it
  // rather than being compared with defaults the engine never used.
  TamperFixture late;
  late.save(R"({"auto_stop)");
  TamperWatch starting(late.parts);
  late.save(R"({"auto_stop_ransomware": false})");
  starting.poll();
  late.save(R"({"auto_stop_ransomware": false, "auto_stop_network_threat": false})");
  starting.poll();
  EXPECT_EQ(late.details(), std::vector{weakened_detail("network-threat blocking was turned OFF")});
}

TEST(TamperWatch, ExecutableSizeFollowsEverySuccessfulReading) {
  TamperFixture f;
  f.save("{}");
  // Baseline 100; same; changed (alert); same; unreadable (skipped, the
  // baseline kept); changed back (alert, which a baseline dropped at the gap
  // would miss).
  f.sizes = {100, 100, 120, 120, std::nullopt, 100};
  TamperWatch watch(f.parts);
  for (int i = 0; i < 5; ++i) watch.poll();
  ASSERT_EQ(f.out.alerts.size(), 2u);
  for (const Alert& a : f.out.alerts) EXPECT_EQ(a.title, kBinaryChangedTitle);
}

TEST(TamperWatch, NoSizeBaselineUntilTheFirstSuccessfulReading) {
  TamperFixture f;
  f.save("{}");
  f.sizes = {std::nullopt, 100, 200};
  TamperWatch watch(f.parts);
  watch.poll();
  EXPECT_TRUE(f.out.alerts.empty());
  watch.poll();
  EXPECT_EQ(f.out.titles(), std::vector<std::string>{std::string(kBinaryChangedTitle)});
}

TEST(TamperWatch, WithoutAnExecutablePathTheSizeIsNeverQueried) {
  TamperFixture f;
  f.save("{}");
  f.parts.executable.reset();
  TamperWatch watch(f.parts);
  watch.poll();
  EXPECT_EQ(f.size_queries, 0);
  EXPECT_TRUE(f.out.alerts.empty());
}

TEST(TamperWatch, PollsEveryFiveSecondsUntilStopped) {
  TamperFixture f;
  f.save(R"({"auto_response_enabled": true})");
  std::vector<std::chrono::milliseconds> waits;
  f.parts.sleep = [&](std::chrono::milliseconds d) {
    waits.push_back(d);
    if (waits.size() == 1) f.save("{}");
    return waits.size() < 3;
  };
  run_tamper_watch(f.parts);
  EXPECT_EQ(waits, std::vector<std::chrono::milliseconds>(3, std::chrono::seconds(5)));
  EXPECT_EQ(f.out.alerts.size(), 1u);
}

}  // namespace
}  // namespace tarnwick
