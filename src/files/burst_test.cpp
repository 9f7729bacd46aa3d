#include "files/burst.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

using Clock = BurstDetector::Clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

const Clock::time_point t0 = Clock::time_point() + std::chrono::hours(1);

class ScriptedCulprit final : public CulpritFinder {
 public:
  std::optional<Culprit> culprit;
  int calls = 0;
  std::optional<Culprit> find_culprit() override {
    ++calls;
    return culprit;
  }
};

BurstSettings settings(uint32_t threshold, uint64_t window) {
  Config config;
  config.ransomware_burst_count = threshold;
  config.ransomware_window_secs = window;
  return burst_settings(config);
}

void record_n(BurstDetector& d, int n, const std::string& name, Clock::time_point at) {
  for (int i = 0; i < n; ++i) d.record(name, at);
}

TEST(BurstSettings, FloorsOfThresholdAndWindow) {
  struct Case {
    uint32_t count;
    uint64_t window;
    uint32_t threshold, note;
    uint64_t window_secs;
  };
  const Case cases[] = {
      {0, 0, 5, 2, 1}, {3, 10, 5, 2, 10}, {5, 1, 5, 2, 1}, {6, 10, 6, 3, 10}, {20, 60, 20, 10, 60}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.count);
    const BurstSettings s = settings(c.count, c.window);
    EXPECT_EQ(s.burst_threshold, c.threshold);
    EXPECT_EQ(s.note_threshold, c.note);
    EXPECT_EQ(s.window_secs, c.window_secs);
  }
}

TEST(FileExtension, LastComponentAfterItsLastDot) {
  struct Case {
    const char* name;
    std::optional<std::string_view> ext;
  };
  const Case cases[] = {
      {"report.docx", "docx"},
      {"a.tar.GZ", "GZ"},
      {"Projects\\v1.2\\README", {}},
      {"sub/dir.d/notes", {}},
      {".profile", {}},
      {"dir\\.gitignore", {}},
      {"report.", ""},
      {"..", {}},
      {"dir\\..", {}},
      {"x\\y.z\\photo.JPG.locked", "locked"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(file_extension(c.name), c.ext);
  }
}

TEST(BurstDetector, TheExampleDetailWithACulprit) {
  BurstDetector d(settings(5, 10), "D:\\Shared");
  ScriptedCulprit probe;
  probe.culprit = Culprit{"evil.exe", 4242, 37.4};
  for (int i = 0; i < 6; ++i) d.record("doc" + std::to_string(i) + ".docx.locked", t0);
  const auto alert = d.end_batch(t0, probe);
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->source, AlertSource::Files);
  EXPECT_EQ(alert->severity, Severity::Critical);
  EXPECT_EQ(alert->title, "Possible ransomware activity");
  EXPECT_EQ(
      alert->detail,
      "6 file changes in 10s under D:\\Shared. Many files now end in .locked (6) \u2014 likely "
      "encryption. Likely culprit: evil.exe (pid 4242, ~37 MB/s writes).\n\n"
      "MITRE ATT&CK: T1486 (Data Encrypted for Impact)  \u00B7  CVSS 9.4 (Critical)");
  EXPECT_EQ(alert->dedup_key, "ransom:D:\\Shared");
  EXPECT_EQ(alert->pid, 4242u);
  EXPECT_EQ(alert->remediation, Remediation(SuspendProcess{}));
}

TEST(BurstDetector, WithoutCulpritNoPidNoRemediation) {
  BurstDetector d(settings(5, 10), "C:\\Users\\bob\\Documents");
  ScriptedCulprit probe;
  record_n(d, 5, "a.pdf", t0);
  const auto alert = d.end_batch(t0, probe);
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->detail.substr(0, alert->detail.find('\n')),
            "5 file changes in 10s under C:\\Users\\bob\\Documents. Many files now end in .pdf (5) "
            "\u2014 likely encryption.");
  EXPECT_FALSE(alert->pid);
  EXPECT_FALSE(alert->remediation);
}

TEST(BurstDetector, AlertsOnlyAtTheEndOfABatchThatReachesTheThreshold) {
  BurstDetector d(settings(6, 10), "F");
  ScriptedCulprit probe;
  record_n(d, 5, "x.locked", t0);
  EXPECT_FALSE(d.end_batch(t0, probe));
  EXPECT_EQ(probe.calls, 0);  // no probe below the threshold
  d.record("y.locked", t0);
  EXPECT_TRUE(d.end_batch(t0, probe));
  EXPECT_EQ(probe.calls, 1);
}

TEST(BurstDetector, WindowKeepsEventsExactlyItsLengthOld) {
  BurstDetector d(settings(5, 10), "F");
  d.record("a.txt", t0);
  d.record("b.txt", t0 + milliseconds(1));
  d.record("c.txt", t0 + seconds(10));
  EXPECT_EQ(d.event_count(), 3u);  // a is exactly 10 s old
  d.record("d.txt", t0 + seconds(10) + milliseconds(1));
  EXPECT_EQ(d.event_count(), 3u);  // a has left, b is exactly 10 s old

  BurstDetector zero(settings(5, 0), "F");  // a window of 0 acts as 1 s
  zero.record("a.txt", t0);
  zero.record("b.txt", t0 + seconds(1));
  EXPECT_EQ(zero.event_count(), 2u);
  zero.record("c.txt", t0 + milliseconds(1001));
  EXPECT_EQ(zero.event_count(), 2u);
}

TEST(BurstDetector, PausesThirtySecondsThenAlertsAgainForAStillRunningBurst) {
  BurstDetector d(settings(5, 60), "F");
  ScriptedCulprit probe;
  record_n(d, 5, "a.locked", t0);
  EXPECT_TRUE(d.end_batch(t0, probe));
  record_n(d, 5, "b.locked", t0 + seconds(20));
  EXPECT_FALSE(d.end_batch(t0 + seconds(20), probe));
  d.record("c.locked", t0 + seconds(29) + milliseconds(999));
  EXPECT_FALSE(d.end_batch(t0 + seconds(29) + milliseconds(999), probe));
  d.record("d.locked", t0 + seconds(30));
  const auto second = d.end_batch(t0 + seconds(30), probe);
  ASSERT_TRUE(second);
  EXPECT_EQ(second->detail.substr(0, 29), "12 file changes in 60s under ");
}

TEST(BurstDetector, TemporaryFilesHoldOffAlertsAndStillStartThePause) {
  BurstDetector d(settings(5, 60), "F");
  ScriptedCulprit probe;
  record_n(d, 3, "cache\\x.TMP", t0);
  record_n(d, 2, "a.docx", t0);
  d.record("README", t0);
  EXPECT_FALSE(d.end_batch(t0, probe));  // tmp (3) is at least half of 6
  EXPECT_EQ(probe.calls, 0);

  record_n(d, 10, "a.locked", t0 + seconds(10));  // locked takes over, inside the pause
  EXPECT_FALSE(d.end_batch(t0 + seconds(10), probe));
  const auto alert = d.end_batch(t0 + seconds(30), probe);
  ASSERT_TRUE(alert);
  EXPECT_NE(alert->detail.find(" Many files now end in .locked (10) "), std::string::npos);

  // Below half of the window's events an ignored top extension does not hold off.
  BurstDetector mostly_other(settings(5, 60), "F");
  record_n(mostly_other, 3, "a.log", t0);
  record_n(mostly_other, 5, "README", t0);
  EXPECT_TRUE(mostly_other.end_batch(t0, probe));
}

TEST(BurstDetector, NoteNamesTheTopExtensionOnceItReachesHalfTheThreshold) {
  struct Case {
    const char* name;
    std::vector<std::string> files;
    std::string note;  // the detail's text after the folder
  };
  const Case cases[] = {
      {"no extensions", {"README", ".profile", "Makefile", "dir\\..", "LICENSE"}, "F."},
      {"trailing dot",
       {"report.", "a.", "b.", "c.", "d."},
       "F. Many files now end in . (5) \u2014 likely encryption."},
      {"upper case",
       {"A.LOCKED", "b.Locked", "c.locked", "d.txt", "e.txt"},
       "F. Many files now end in .locked (3) \u2014 likely encryption."},
      {"each extension once", {"a.x", "b.y", "c.z", "d.w", "e.v", "f.u"}, "F."},
      {"full lower-casing",
       {"\u00C9T\u00C9.\u00C9T\u00C9", "b.\u00C9t\u00E9", "c.\u00E9T\u00C9", "d", "e"},
       "F. Many files now end in .\u00E9t\u00E9 (3) \u2014 likely encryption."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    BurstDetector d(settings(5, 10), "F");
    ScriptedCulprit probe;
    for (const auto& f : c.files) d.record(f, t0);
    const auto alert = d.end_batch(t0, probe);
    ASSERT_TRUE(alert);
    const std::string& detail = alert->detail;
    const size_t start = detail.find(" under ") + 7;
    EXPECT_EQ(detail.substr(start, detail.find('\n') - start), c.note);
  }
}

// A Documents folder where an editor saved its temporary files all day: the
// history has left the window, so a later burst of renames is judged alone.
TEST(BurstDetector, TallyCountsOnlyTheEventsInTheWindow) {
  BurstDetector d(burst_settings(Config{}), "C:\\Users\\bob\\Documents");
  ScriptedCulprit probe;
  for (int i = 0; i < 200; ++i) {
    const auto at = t0 + std::chrono::minutes(7) * i;
    d.record("~WRL" + std::to_string(1000 + i) + ".tmp", at);
    EXPECT_FALSE(d.end_batch(at, probe));
  }
  const auto later = t0 + std::chrono::hours(24);
  for (int i = 0; i < 50; ++i) d.record("report" + std::to_string(i) + ".docx.locked", later);
  EXPECT_EQ(d.tally("tmp"), 0u);
  EXPECT_EQ(d.tallied_extensions(), 1u);
  const auto first = d.end_batch(later, probe);
  ASSERT_TRUE(first);
  EXPECT_NE(first->detail.find("50 file changes in 10s under C:\\Users\\bob\\Documents. Many "
                               "files now end in .locked (50) "),
            std::string::npos);

  // Counts go down as events leave, not only to zero: 30 of 50 tmp files
  // leave the window, and the 25 renames that follow outnumber the 20 left.
  BurstDetector mixed(settings(20, 10), "F");
  record_n(mixed, 30, "a.tmp", t0);
  record_n(mixed, 20, "b.tmp", t0 + seconds(5));
  record_n(mixed, 25, "c.locked", t0 + seconds(11));
  EXPECT_EQ(mixed.tally("tmp"), 20u);
  EXPECT_EQ(mixed.event_count(), 45u);
  const auto alert = mixed.end_batch(t0 + seconds(11), probe);
  ASSERT_TRUE(alert);
  EXPECT_NE(alert->detail.find(" Many files now end in .locked (25) "), std::string::npos);
}

TEST(BurstDetector, AFullTallyStillNamesTheNewExtension) {
  BurstDetector d(settings(5, 3600), "F");
  ScriptedCulprit probe;
  for (size_t i = 0; i < kMaxTalliedExtensions; ++i) d.record("f." + std::to_string(i), t0);
  // Renames interleaved with yet more fresh extensions: each newcomer takes
  // the place of a least-counted one, the longest untouched first, never of
  // the growing ransomware entry.
  for (int i = 0; i < 100; ++i) {
    d.record("doc" + std::to_string(i) + ".docx.locked", t0 + seconds(1));
    d.record("noise." + std::to_string(i) + "n", t0 + seconds(1));
  }
  EXPECT_EQ(d.tallied_extensions(), kMaxTalliedExtensions);
  EXPECT_EQ(d.tally("locked"), 100u);
  const auto alert = d.end_batch(t0 + seconds(1), probe);
  ASSERT_TRUE(alert);
  EXPECT_NE(alert->detail.find(" Many files now end in .locked (100) "), std::string::npos);
}

TEST(BurstDetector, EventListStaysBoundedAndTheTallyFollowsIt) {
  BurstDetector d(settings(5, 3600), "F");
  ScriptedCulprit probe;
  record_n(d, 1000, "a.docx", t0);
  for (size_t i = 0; i < kEventSlack; ++i) d.record("x", t0 + seconds(1));
  EXPECT_EQ(d.event_count(), 5 + kEventSlack);
  EXPECT_EQ(d.tally("docx"), 5u);  // what the cap dropped is no longer counted
  const auto alert = d.end_batch(t0 + seconds(1), probe);
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->detail.rfind("1000005 file changes in 3600s under F. Many files now end in "
                                ".docx (5) ",
                                0),
            0u);
}

}  // namespace
}  // namespace tarnwick
