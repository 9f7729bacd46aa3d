#include "files/detector.h"

#include <gtest/gtest.h>

#include <set>

#include "files/files_fake.h"
#include "files/profiles.h"
#include "testsupport/alert_collector.h"

namespace tarnwick {
namespace {

using std::chrono::milliseconds;
using testing::change_records;
using testing::CollectedAlerts;
using testing::FakeDirectoryWatch;
using testing::FakeDirectoryWatcher;
using testing::FakeRead;
using testing::RawRecord;

class NoCulprit final : public CulpritFinder {
 public:
  std::optional<Culprit> find_culprit() override { return std::nullopt; }
};

PathExists existing(std::set<std::string> paths) {
  return [paths = std::move(paths)](const std::string& p) { return paths.count(p) != 0; };
}

TEST(WatchList, ConfiguredFoldersOrProfileFoldersThatExist) {
  struct Case {
    const char* name;
    std::vector<std::string> watch_dirs;
    std::optional<std::string> profile;
    std::set<std::string> on_disk;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"configured, in order, missing ones dropped",
       {"E:\\b", "E:\\missing", "E:\\a"},
       "C:\\Users\\bob",
       {"E:\\a", "E:\\b"},
       {"E:\\b", "E:\\a"}},
      {"configured but none exist: no fallback",
       {"E:\\missing"},
       "C:\\Users\\bob",
       {"C:\\Users\\bob\\Documents"},
       {}},
      {"profile folders in order",
       {},
       "C:\\Users\\bob",
       {"C:\\Users\\bob\\Pictures", "C:\\Users\\bob\\Desktop", "C:\\Users\\bob\\Documents"},
       {"C:\\Users\\bob\\Documents", "C:\\Users\\bob\\Desktop", "C:\\Users\\bob\\Pictures"}},
      {"profile with only a Desktop",
       {},
       "C:\\Users\\bob",
       {"C:\\Users\\bob\\Desktop"},
       {"C:\\Users\\bob\\Desktop"}},
      {"profile ending in a separator",
       {},
       "C:\\Users\\bob\\",
       {"C:\\Users\\bob\\Desktop"},
       {"C:\\Users\\bob\\Desktop"}},
      {"no profile", {}, std::nullopt, {"\\Documents"}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(build_watch_list(c.watch_dirs, c.profile, existing(c.on_disk)), c.expected);
  }
}

struct Detector {
  Config config;
  EngineFlags flags;
  FakeDirectoryWatcher watcher{flags};
  NoCulprit culprits;
  CollectedAlerts out;
  std::vector<milliseconds> sleeps;

  void run(std::optional<std::string> profile, std::set<std::string> on_disk) {
    FilesDetectorParts parts{config,
                             std::move(profile),
                             existing(std::move(on_disk)),
                             watcher,
                             culprits,
                             out,
                             flags,
                             [this](milliseconds d) {
                               sleeps.push_back(d);
                               return !flags.stopping();
                             }};
    run_files_detector(parts);
  }
};

TEST(FilesDetector, NothingToWatchRaisesOneAlertAndReturns) {
  Detector d;
  d.config.watch_dirs = {"Z:\\nowhere"};
  d.run("C:\\Users\\bob", {"C:\\Users\\bob\\Documents"});
  const auto alerts = d.out.alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].source, AlertSource::Files);
  EXPECT_EQ(alerts[0].severity, Severity::Low);
  EXPECT_EQ(alerts[0].title, "No watch directories");
  EXPECT_EQ(alerts[0].detail, "Ransomware watch found no folders to monitor.");
  EXPECT_EQ(alerts[0].dedup_key, "FILE:No watch directories");
  EXPECT_FALSE(alerts[0].pid);
  EXPECT_TRUE(d.watcher.opened.empty());
}

TEST(FilesDetector, EachFolderGetsItsOwnWatcherAndBurstState) {
  Detector d;
  d.config.ransomware_burst_count = 5;
  d.config.watch_dirs = {"E:\\shared", "E:\\unopenable"};
  std::vector<RawRecord> burst;
  for (int i = 0; i < 5; ++i)
    burst.push_back(
        {kActionAdded, u"f" + std::u16string(1, static_cast<char16_t>(u'0' + i)) + u".locked"});
  d.watcher.scripts["E:\\shared"] = {FakeRead{.bytes = change_records(burst)}};
  d.run(std::nullopt, {"E:\\shared", "E:\\unopenable"});
  EXPECT_EQ(std::set<std::string>(d.watcher.opened.begin(), d.watcher.opened.end()),
            (std::set<std::string>{"E:\\shared", "E:\\unopenable"}));
  const auto alerts = d.out.alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].title, "Possible ransomware activity");
  EXPECT_EQ(alerts[0].dedup_key, "ransom:E:\\shared");
  EXPECT_EQ(
      alerts[0].detail.substr(0, alerts[0].detail.find('\n')),
      "5 file changes in 10s under E:\\shared. Many files now end in .locked (5) \u2014 likely "
      "encryption.");
}

TEST(FilesDetector, AsTheServiceRescansAndWatchesEachNewFolderOnce) {
  Detector d;
  std::vector<std::vector<std::string>> scans = {
      {},
      {"C:\\Users\\alice\\Documents"},
      {"C:\\Users\\alice\\Documents", "C:\\Users\\bob\\Desktop"},
      {},
  };
  size_t next = 0;
  std::vector<milliseconds> rescans;
  FilesDetectorParts parts{d.config,
                           std::nullopt,
                           existing({}),
                           d.watcher,
                           d.culprits,
                           d.out,
                           d.flags,
                           [](milliseconds) { return true; },
                           FolderRescan{[&] { return scans.at(next++); },
                                        [&](milliseconds wait) {
                                          rescans.push_back(wait);
                                          return next < scans.size();
                                        }}};
  run_files_detector(parts);
  EXPECT_EQ(next, scans.size());
  EXPECT_EQ(rescans, std::vector<milliseconds>(4, milliseconds(60000)));
  EXPECT_EQ(std::set<std::string>(d.watcher.opened.begin(), d.watcher.opened.end()),
            (std::set<std::string>{"C:\\Users\\alice\\Documents", "C:\\Users\\bob\\Desktop"}));
  EXPECT_EQ(d.watcher.opened.size(), 2u) << "a folder found again keeps its one watcher";
  // Raised at the first empty scan only, however many follow.
  const auto alerts = d.out.alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].title, "No watch directories");

  // Configured folders make the rescan irrelevant.
  Detector configured;
  configured.config.watch_dirs = {"E:\\data"};
  bool scanned = false;
  FilesDetectorParts fixed{configured.config,
                           std::nullopt,
                           existing({"E:\\data"}),
                           configured.watcher,
                           configured.culprits,
                           configured.out,
                           configured.flags,
                           [](milliseconds) { return true; },
                           FolderRescan{[&] {
                                          scanned = true;
                                          return std::vector<std::string>{};
                                        },
                                        [](milliseconds) { return false; }}};
  run_files_detector(fixed);
  EXPECT_FALSE(scanned);
  EXPECT_EQ(configured.watcher.opened, (std::vector<std::string>{"E:\\data"}));
}

TEST(FilesDetector, AsTheServiceAtMost192FoldersOverTheRun) {
  Detector d;
  std::vector<std::vector<std::string>> scans(2);
  for (int i = 0; i < 150; ++i) scans[0].push_back("C:\\a" + std::to_string(i));
  for (int i = 0; i < 150; ++i) scans[1].push_back("C:\\b" + std::to_string(i));
  size_t next = 0;
  FilesDetectorParts parts{d.config,
                           std::nullopt,
                           existing({}),
                           d.watcher,
                           d.culprits,
                           d.out,
                           d.flags,
                           [](milliseconds) { return true; },
                           FolderRescan{[&] { return scans.at(next++); },
                                        [&](milliseconds) { return next < scans.size(); }}};
  run_files_detector(parts);
  EXPECT_EQ(d.watcher.opened.size(), kMaxWatchedFolders);
  EXPECT_TRUE(d.out.alerts().empty());
}

// One folder's loop over scripted reads; the script's end sets `stop`.
struct Loop {
  EngineFlags flags;
  BurstDetector burst{burst_settings(Config{}), "F"};
  NoCulprit culprits;
  CollectedAlerts out;
  std::vector<milliseconds> sleeps;

  FakeDirectoryWatch run(std::deque<FakeRead> script) {
    FakeDirectoryWatch watch(flags, std::move(script));
    FolderWatchParts parts{watch, burst, culprits, out, flags, [this](milliseconds d) {
                             sleeps.push_back(d);
                             return !flags.stopping();
                           }};
    run_folder_watch(parts);
    return watch;
  }
};

const std::string kThree = change_records({{kActionAdded, u"a.txt"},
                                           {kActionModified, u"a.txt"},
                                           {kActionRemoved, u"b.txt"},
                                           {kActionAdded, u"sub\\c.txt"}});

TEST(FolderWatch, AnEmptyCompletionDoesNotCountTheLastBatchAgain) {
  Loop l;
  l.run({FakeRead{.bytes = kThree}, FakeRead{.bytes = kThree, .reported_bytes = 0},
         FakeRead{.status = WaitStatus::Completed}});
  EXPECT_EQ(l.burst.event_count(), 3u);
  EXPECT_EQ(l.burst.tally("txt"), 3u);
}

TEST(FolderWatch, FailedRequestsAndReadsWaitFiveSecondsThenTryAgain) {
  Loop l;
  const auto watch =
      l.run({FakeRead{.request_ok = false}, FakeRead{.status = WaitStatus::Failed, .bytes = kThree},
             FakeRead{.pending_slices = 2, .bytes = kThree}});
  EXPECT_EQ(l.sleeps, (std::vector<milliseconds>{milliseconds(5000), milliseconds(5000),
                                                 milliseconds(5000)}));
  EXPECT_EQ(watch.requests, 4);  // the last one finds the script ended, sets stop
  EXPECT_EQ(watch.waits.size(), 4u);
  EXPECT_EQ(l.burst.event_count(), 3u);  // the failed read's bytes are not walked
}

TEST(FolderWatch, StopDuringAnOutstandingReadEndsAfterTheSlice) {
  Loop l;
  int slices = 0;
  // Stop arrives during the second slice; the read would complete on the fourth.
  const auto watch = l.run({FakeRead{.pending_slices = 3, .bytes = kThree, .on_pending = [&] {
                                       if (++slices == 2) l.flags.request_stop();
                                     }}});
  EXPECT_EQ(watch.waits, std::vector<milliseconds>(2, milliseconds(2000)));
  EXPECT_EQ(l.burst.event_count(), 0u);
  EXPECT_TRUE(l.sleeps.empty());
}

// A full-screen window turns game mode on, and the encrypting program can
// open one itself: its batches are still counted and still alert.
TEST(FolderWatch, GameModeBatchesAreCountedAndAlert) {
  Loop l;
  l.flags.game_mode_active = true;
  l.run(std::deque<FakeRead>(7, FakeRead{.bytes = kThree}));
  EXPECT_EQ(l.burst.event_count(), 21u);
  ASSERT_EQ(l.out.alerts().size(), 1u);
  EXPECT_EQ(l.out.alerts()[0].title, "Possible ransomware activity");
}

}  // namespace
}  // namespace tarnwick
