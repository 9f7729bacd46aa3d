#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include <nlohmann/json.hpp>

#include "fileio/fileio.h"
#include "stats/stats.h"
#include "testsupport/temp_dir.h"

namespace tarnwick {
namespace {

TEST(DataDir, FallbackOrder) {
  struct Case {
    const char* name;
    std::optional<std::string> program_data;
    std::optional<std::string> local_app_data;
    bool create_ok;
    std::optional<std::filesystem::path> exe_dir;
    std::filesystem::path expected;
    std::vector<std::filesystem::path> read_only = {};
  };
  const std::filesystem::path exe = "/opt/tarnwick";
  const Case cases[] = {
      {"ProgramData", "/pd", "/lad", true, exe, "/pd/Tarnwick"},
      {"LOCALAPPDATA only when ProgramData unset", std::nullopt, "/lad", true, exe, "/lad/Tarnwick"},
      {"creation failure skips LOCALAPPDATA", "/pd", "/lad", false, exe, exe},
      {"neither variable", std::nullopt, std::nullopt, true, exe, exe},
      {"nothing at all", std::nullopt, std::nullopt, false, std::nullopt, "."},
      {"an existing folder that cannot be written falls through", "/pd", "/lad", true, exe, exe,
       {"/pd/Tarnwick"}},
      {"and so does an unwritable executable folder", "/pd", "/lad", true, exe, ".",
       {"/pd/Tarnwick", exe}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::filesystem::path> created;
    const auto dir = resolve_data_dir({
        .get_env = [&](std::string_view n) -> std::optional<std::string> {
          if (n == "ProgramData") return c.program_data;
          if (n == "LOCALAPPDATA") return c.local_app_data;
          return std::nullopt;
        },
        .create_directories = [&](const std::filesystem::path& p) {
          created.push_back(p);
          return c.create_ok;
        },
        .executable_dir = [&] { return c.exe_dir; },
        .can_write = [&](const std::filesystem::path& p) {
          return std::find(c.read_only.begin(), c.read_only.end(), p) == c.read_only.end();
        },
    });
    EXPECT_EQ(dir, c.expected);
    EXPECT_LE(created.size(), 1u);
  }
}

TEST(DataDir, WritableProbeLeavesNothingBehind) {
  testing::TempDir dir;
  EXPECT_TRUE(folder_is_writable(dir.path()));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  EXPECT_FALSE(folder_is_writable(dir / "missing"));
}

TEST(StatsSnapshot, TextIsExact) {
  StatsSnapshot s{{41, 7, 2, 1, 88}, 3600, 1700000000};
  EXPECT_EQ(snapshot_text(s), R"j({
  "total_alerts": 41,
  "threats": 7,
  "actions": 2,
  "quarantined": 1,
  "uptime_secs": 3600,
  "peak_risk": 88,
  "ts_unix": 1700000000
})j");
}

TEST(StatsSnapshot, ParseIsStrict) {
  const std::string good = snapshot_text({{41, 7, 2, 1, 88}, 5, 6});
  EXPECT_EQ(parse_snapshot(good), (StatsValues{41, 7, 2, 1, 88}));
  EXPECT_EQ(parse_snapshot(R"j({"ts_unix":0,"peak_risk":1,"uptime_secs":0,"quarantined":0,
                                "actions":0,"threats":0,"total_alerts":9,"extra":[1]})j"),
            (StatsValues{9, 0, 0, 0, 1}));
  using namespace std::string_literals;
  const std::string bad[] = {
      R"j({"total_alerts":1,"threats":0,"actions":0,"quarantined":0,"uptime_secs":0,"peak_risk":0})j",
      R"j({"total_alerts":1,"threats":0,"actions":0,"quarantined":0,"uptime_secs":0,"peak_risk":-1,"ts_unix":0})j",
      R"j({"total_alerts":1,"threats":0,"actions":0,"quarantined":0,"uptime_secs":0,"peak_risk":0,"ts_unix":0} x)j",
      R"j({"total_alerts":1,"total_alerts":1,"threats":0,"actions":0,"quarantined":0,"uptime_secs":0,"peak_risk":0,"ts_unix":0})j",
      R"j({"total_alerts":"1","threats":0,"actions":0,"quarantined":0,"uptime_secs":0,"peak_risk":0,"ts_unix":0})j",
      R"j({"total_alerts":1.0,"threats":0,"actions":0,"quarantined":0,"uptime_secs":0,"peak_risk":0,"ts_unix":0})j",
      "",
      good + "\0garbage"s,
      "\xEF\xBB\xBF" + good,
      R"j({"total_alerts":1,"threats":0,"actions":0,"quarantined":0,"uptime_secs":0,"peak_risk":-0,"ts_unix":0})j",
  };
  for (const auto& text : bad) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(parse_snapshot(text).has_value());
  }
}

TEST(StatsCounters, RestoresAndCountsOn) {
  testing::TempDir dir;
  const auto path = dir / "Tarnwick.stats.json";
  ASSERT_TRUE(write_file(path, snapshot_text({{41, 3, 1, 0, 60}, 999, 123})));
  auto stats = StatsCounters::restore(path);
  EXPECT_EQ(stats->values(), (StatsValues{41, 3, 1, 0, 60}));
  stats->add_alert();
  EXPECT_EQ(stats->values().total_alerts, 42u);
  // Uptime starts again from zero.
  EXPECT_EQ(take_snapshot(*stats, stats->start()).uptime_secs, 0u);

  write_snapshot(*stats);
  const auto doc = nlohmann::json::parse(read_file(path).bytes);
  EXPECT_EQ(doc["total_alerts"], 42);
  EXPECT_EQ(doc["uptime_secs"], 0);
  EXPECT_FALSE(std::filesystem::exists(staging_path(path)));
}

TEST(StatsCounters, UnreadableSnapshotStartsAtZero) {
  testing::TempDir dir;
  EXPECT_EQ(StatsCounters::restore(dir / "missing.json")->values(), StatsValues{});
  const auto path = dir / "Tarnwick.stats.json";
  ASSERT_TRUE(write_file(path, "{\"total_alerts\": 41}"));
  EXPECT_EQ(StatsCounters::restore(path)->values(), StatsValues{});
  // A complete snapshot with an extra key nesting 8,000 arrays.
  std::string deep = snapshot_text({{41, 3, 1, 0, 60}, 9, 9});
  deep.insert(1, "\"note\":" + std::string(8000, '[') + std::string(8000, ']') + ",");
  ASSERT_TRUE(write_file(path, deep));
  EXPECT_EQ(StatsCounters::restore(path)->values(), StatsValues{});
}

TEST(StatsCounters, SnapshotOverOneMebibyteIsNotRead) {
  testing::TempDir dir;
  const auto path = dir / "Tarnwick.stats.json";
  const std::string text = snapshot_text({{41, 3, 1, 0, 60}, 9, 9});
  ASSERT_TRUE(write_file(path, text + std::string((1u << 20) - text.size(), '\n')));
  EXPECT_EQ(StatsCounters::restore(path)->values().total_alerts, 41u);
  ASSERT_TRUE(write_file(path, text + std::string((1u << 20) + 1 - text.size(), '\n')));
  EXPECT_EQ(StatsCounters::restore(path)->values(), StatsValues{});
}

TEST(StatsCounters, PeakRiskOnlyRises) {
  StatsCounters stats("unused", {}, std::chrono::steady_clock::now());
  stats.raise_peak_risk(60);
  stats.raise_peak_risk(45);
  EXPECT_EQ(stats.values().peak_risk, 60u);
  stats.raise_peak_risk(100);
  EXPECT_EQ(stats.values().peak_risk, 100u);
}

TEST(StatsWriter, SnapshotAtOnceAndOneLastAtStop) {
  testing::TempDir dir;
  auto stats = StatsCounters::restore(dir / "Tarnwick.stats.json");
  EngineFlags flags;
  int waits = 0;
  run_stats_writer(flags, *stats, [&](std::chrono::milliseconds d) {
    EXPECT_EQ(d, std::chrono::seconds(5));
    // The first snapshot is already on disk when the first wait starts.
    EXPECT_TRUE(std::filesystem::exists(stats->path()));
    stats->add_alert();
    return ++waits < 3;
  });
  EXPECT_EQ(waits, 3);
  EXPECT_EQ(parse_snapshot(read_file(stats->path()).bytes)->total_alerts, 3u);
}

TEST(WriteSnapshot, ConcurrentWritersNeverExposeAPartialFile) {
  testing::TempDir dir;
  auto stats = StatsCounters::restore(dir / "Tarnwick.stats.json");
  write_snapshot(*stats);
  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  std::atomic<int> reads{0};
  std::thread reader([&] {
    while (!done) {
      const ReadResult r = read_file(stats->path());
      if (r.status != ReadStatus::Ok || !parse_snapshot(r.bytes)) ++bad;
      ++reads;
      // A reader that never lets go would block every replacement on Windows.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  auto writer = [&] {
    for (int i = 0; i < 300; ++i) {
      stats->add_alert();
      write_snapshot(*stats);
    }
  };
  std::thread w1(writer), w2(writer);
  w1.join();
  w2.join();
  done = true;
  reader.join();
  EXPECT_EQ(bad, 0);
  EXPECT_GT(reads, 0);
  write_snapshot(*stats);
  EXPECT_EQ(parse_snapshot(read_file(stats->path()).bytes)->total_alerts, 600u);
}

}  // namespace
}  // namespace tarnwick
