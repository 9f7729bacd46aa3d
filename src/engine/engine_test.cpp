#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "engine/engine.h"
#include "fileio/fileio.h"
#include "testsupport/locked_stream.h"
#include "testsupport/temp_dir.h"

namespace tarnwick {
namespace {

// A detector or service thread that only waits for `stop`.
void wait_for_stop(const EngineFlags& flags) {
  while (sleep_unless_stopped(flags, std::chrono::hours(1))) {
  }
}

class FakePlatform final : public EnginePlatform {
 public:
  explicit FakePlatform(std::filesystem::path dir) : dir_(std::move(dir)) {}

  std::vector<std::string> detectors_made;
  std::vector<RunAs> run_as_seen;  // by every detector and the notifier
  std::shared_ptr<EngineFlags> console_flags;
  std::shared_ptr<AlertQueue> console_queue;
  testing::LockedStream err;
  // When set, the "dns" detector returns at once on every run.
  bool dns_gives_up = false;

  std::filesystem::path resolve_data_dir() override { return dir_; }
  void install_console_handler(std::shared_ptr<EngineFlags> flags,
                               std::shared_ptr<AlertQueue> queue) override {
    console_flags = std::move(flags);
    console_queue = std::move(queue);
  }
  DetectorFn make_detector(std::string_view name, const EngineShared& shared) override {
    detectors_made.emplace_back(name);
    run_as_seen.push_back(shared.run_as);
    if (name == "dns" && dns_gives_up) return [] {};
    return [flags = shared.flags] { wait_for_stop(*flags); };
  }
  std::unique_ptr<Notifier> make_notifier(const EngineShared& shared) override {
    run_as_seen.push_back(shared.run_as);
    return std::make_unique<NoNotifier>();
  }
  std::unique_ptr<Responder> make_responder(const EngineShared&) override {
    return std::make_unique<NoResponder>();
  }
  std::function<void()> make_game_mode(const EngineShared& s) override {
    return [f = s.flags] { wait_for_stop(*f); };
  }
  std::function<void()> make_conns_writer(const EngineShared& s) override {
    return [f = s.flags] { wait_for_stop(*f); };
  }
  std::ostream& error_stream() override { return err; }

 private:
  std::filesystem::path dir_;
};

std::vector<nlohmann::json> log_lines(const std::filesystem::path& dir) {
  std::vector<nlohmann::json> out;
  std::istringstream in(read_file(dir / "Tarnwick.log.jsonl").bytes);
  for (std::string line; std::getline(in, line);) out.push_back(nlohmann::json::parse(line));
  return out;
}

template <typename Pred>
bool eventually(Pred pred) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return pred();
}

TEST(RunEngine, StartsAnnouncesAndStopsInOrder) {
  testing::TempDir dir;
  FakePlatform platform(dir.path());
  auto flags = std::make_shared<EngineFlags>();
  std::thread engine([&] { run_engine(platform, flags); });

  ASSERT_TRUE(eventually([&] { return log_lines(dir.path()).size() == 1; }));
  const auto first = log_lines(dir.path())[0];
  EXPECT_EQ(first["source"], "System");
  EXPECT_EQ(first["severity"], "Info");
  EXPECT_EQ(first["title"], "Tarnwick is patrolling");
  EXPECT_EQ(first["detail"],
            "All sentinels online: network, process, persistence, files, DNS, self-protection.");
  EXPECT_EQ(first["dedup_key"], "SYS:Tarnwick is patrolling");
  EXPECT_TRUE(std::filesystem::exists(dir / "Tarnwick.config.json"));
  // The statistics writer runs on its own thread: its first snapshot may
  // come a moment after the first log line.
  EXPECT_TRUE(eventually([&] { return std::filesystem::exists(dir / "Tarnwick.stats.json"); }));
  EXPECT_EQ(platform.detectors_made,
            (std::vector<std::string>{"network", "process", "persistence", "files", "dns",
                                      "selfprotect", "security"}));
  EXPECT_EQ(platform.console_flags, flags);

  // What the console handler does on Ctrl+C.
  const auto t0 = std::chrono::steady_clock::now();
  flags->request_stop();
  platform.console_queue->close();
  engine.join();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(3));
  EXPECT_EQ(platform.err.str(), "");
  const auto stats = parse_snapshot(read_file(dir / "Tarnwick.stats.json").bytes);
  ASSERT_TRUE(stats);
  EXPECT_EQ(stats->total_alerts, 1u);
}

TEST(RunEngine, SecondRunRestoresTheCountersAndCountsOn) {
  testing::TempDir dir;
  for (int run = 1; run <= 2; ++run) {
    FakePlatform platform(dir.path());
    auto flags = std::make_shared<EngineFlags>();
    std::thread engine([&] { run_engine(platform, flags); });
    ASSERT_TRUE(eventually([&] { return log_lines(dir.path()).size() == static_cast<size_t>(run); }));
    flags->request_stop();
    engine.join();
    EXPECT_EQ(parse_snapshot(read_file(dir / "Tarnwick.stats.json").bytes)->total_alerts,
              static_cast<uint64_t>(run));
  }
}

TEST(RunEngine, TheDetectorsAndTheNotifierKnowWhoStartedIt) {
  for (const RunAs run_as : {RunAs::Console, RunAs::Service}) {
    testing::TempDir dir;
    FakePlatform platform(dir.path());
    auto flags = std::make_shared<EngineFlags>();
    std::thread engine([&] {
      if (run_as == RunAs::Console) {
        run_engine(platform, flags);
      } else {
        run_engine(platform, flags, run_as);
      }
    });
    ASSERT_TRUE(eventually([&] { return log_lines(dir.path()).size() == 1; }));
    flags->request_stop();
    engine.join();
    EXPECT_EQ(platform.run_as_seen, std::vector<RunAs>(std::size(kDetectorNames) + 1, run_as));
  }
}

TEST(RunEngine, AGivingUpDetectorIsRestartedWithoutDisturbingTheRest) {
  testing::TempDir dir;
  FakePlatform platform(dir.path());
  platform.dns_gives_up = true;
  auto flags = std::make_shared<EngineFlags>();
  std::thread engine([&] { run_engine(platform, flags); });
  ASSERT_TRUE(eventually([&] {
    return platform.err.str().find("restarting in 2s") != std::string::npos;
  }));
  flags->request_stop();
  engine.join();
  const std::string err = platform.err.str();
  EXPECT_EQ(err.rfind("[supervisor] detector 'dns' exited; restarting in 1s\n"
                      "[supervisor] detector 'dns' exited; restarting in 2s\n", 0),
            0u);
  EXPECT_EQ(log_lines(dir.path()).size(), 1u);
}

TEST(RunEngine, AnUnusableSyslogSettingIsReportedOnceAtStart) {
  testing::TempDir dir;
  ASSERT_TRUE(write_file(dir / "Tarnwick.config.json", R"j({"syslog_server": "collector"})j"));
  FakePlatform platform(dir.path());
  auto flags = std::make_shared<EngineFlags>();
  std::thread engine([&] { run_engine(platform, flags); });
  ASSERT_TRUE(eventually([&] { return log_lines(dir.path()).size() == 2; }));
  flags->request_stop();
  engine.join();
  const auto lines = log_lines(dir.path());
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]["title"], "Tarnwick is patrolling");
  EXPECT_EQ(lines[1]["title"], "Syslog server setting is invalid");
  EXPECT_EQ(lines[1]["severity"], "Low");
  EXPECT_NE(lines[1]["detail"].get<std::string>().find("\"collector\""), std::string::npos);
}

// Two engines on one data directory would share the statistics staging file
// and log and respond twice: the second one says so and returns at once.
TEST(RunEngine, ASecondEngineOnTheSameFolderReturnsAtOnce) {
  testing::TempDir dir;
  FakePlatform first(dir.path());
  auto first_flags = std::make_shared<EngineFlags>();
  std::thread first_engine([&] { run_engine(first, first_flags); });
  ASSERT_TRUE(eventually([&] { return log_lines(dir.path()).size() == 1; }));

  FakePlatform second(dir.path());
  auto second_flags = std::make_shared<EngineFlags>();
  std::atomic<bool> second_ended{false};
  std::thread second_engine([&] {
    run_engine(second, second_flags);
    second_ended = true;
  });
  const bool returned = eventually([&] { return second_ended.load(); });
  second_flags->request_stop();
  second_engine.join();
  EXPECT_TRUE(returned);
  EXPECT_EQ(second.err.str(),
            "Another Tarnwick engine is already using " + path_to_utf8(dir.path()) + ".\n");
  EXPECT_TRUE(second.detectors_made.empty());
  EXPECT_EQ(log_lines(dir.path()).size(), 1u);

  first_flags->request_stop();
  first_engine.join();
  EXPECT_EQ(first.err.str(), "");

  // The folder is free again once the first engine has ended.
  FakePlatform third(dir.path());
  auto third_flags = std::make_shared<EngineFlags>();
  std::thread third_engine([&] { run_engine(third, third_flags); });
  EXPECT_TRUE(eventually([&] { return log_lines(dir.path()).size() == 2; }));
  third_flags->request_stop();
  third_engine.join();
  EXPECT_EQ(third.err.str(), "");
}

// Only a lock really taken lets the engine run. A lock file that is there
// but cannot be opened (here a folder in its place, which Windows refuses
// with access denied, as it refuses the service's file to an unelevated
// run) may be another engine's; a lock file that cannot be made leaves
// nothing to keep a second engine out.
TEST(RunEngine, RefusesToRunWithoutTakingTheLock) {
  testing::TempDir dir;
  std::filesystem::create_directory(dir.path() / "locked");
  std::filesystem::create_directory(dir.path() / "locked" / "Tarnwick.lock");
  struct Case {
    const char* name;
    std::filesystem::path data_dir;
    std::string said;
  };
  const Case cases[] = {
      {"lock file cannot be opened", dir.path() / "locked", "Another Tarnwick engine is already using "},
      {"lock file cannot be made", dir.path() / "missing", "Tarnwick cannot create its lock file in "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakePlatform platform(c.data_dir);
    run_engine(platform, std::make_shared<EngineFlags>());  // returns at once
    EXPECT_EQ(platform.err.str(), c.said + path_to_utf8(c.data_dir) + ".\n");
    EXPECT_TRUE(platform.detectors_made.empty());
    EXPECT_FALSE(std::filesystem::exists(c.data_dir / "Tarnwick.log.jsonl"));
  }
}

}  // namespace
}  // namespace tarnwick
