#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <thread>
#include <vector>

#include "engine/alert_queue.h"
#include "engine/flags.h"
#include "engine/supervisor.h"

namespace tarnwick {
namespace {

Alert titled(std::string title) {
  return make_alert(AlertSource::System, Severity::Info, title, std::string());
}

TEST(AlertQueue, FifoAndEndOfStreamOnlyAfterQueuedAlerts) {
  AlertQueue q;
  q.push(titled("a"));
  q.push(titled("b"));
  q.close();
  q.push(titled("c"));  // still appended after close
  EXPECT_EQ(q.pop()->title, "a");
  EXPECT_EQ(q.pop()->title, "b");
  EXPECT_EQ(q.pop()->title, "c");
  EXPECT_FALSE(q.pop().has_value());
}

TEST(AlertQueue, CloseWakesAWaitingConsumer) {
  AlertQueue q;
  std::atomic<bool> ended{false};
  std::thread consumer([&] {
    EXPECT_EQ(q.pop()->title, "x");
    EXPECT_FALSE(q.pop().has_value());
    ended = true;
  });
  q.push(titled("x"));
  q.close();
  consumer.join();
  EXPECT_TRUE(ended);
}

TEST(SleepUnlessStopped, ReturnsFalseOnceStopIsSet) {
  EngineFlags flags;
  EXPECT_TRUE(sleep_unless_stopped(flags, std::chrono::milliseconds(10)));
  flags.request_stop();
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(sleep_unless_stopped(flags, std::chrono::hours(1)));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
}

TEST(SleepUnlessStopped, StopDuringAWaitEndsItWithinASlice) {
  EngineFlags flags;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    flags.request_stop();
  });
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(sleep_unless_stopped(flags, std::chrono::seconds(30)));
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(600));
  stopper.join();
}

// Returns at once, recording each requested delay; asks for a stop after `runs` waits.
struct RecordingSleeper {
  EngineFlags& flags;
  int stop_after;
  std::vector<long long> delays;
  bool operator()(std::chrono::milliseconds d) {
    delays.push_back(std::chrono::duration_cast<std::chrono::seconds>(d).count());
    if (static_cast<int>(delays.size()) >= stop_after) {
      flags.request_stop();
      return false;
    }
    return true;
  }
};

TEST(Supervisor, RestartsWithDoublingDelayCappedAt30Seconds) {
  EngineFlags flags;
  RecordingSleeper rec{flags, 8, {}};
  std::atomic<int> runs{0};
  std::ostringstream err;
  supervise_detector("network", [&] { ++runs; }, flags, std::ref(rec), err);

  EXPECT_EQ(rec.delays, (std::vector<long long>{1, 2, 4, 8, 16, 30, 30, 30}));
  EXPECT_EQ(runs, 8);
  std::string expected;
  for (long long d : rec.delays) {
    expected += "[supervisor] detector 'network' exited; restarting in " + std::to_string(d) + "s\n";
  }
  EXPECT_EQ(err.str(), expected);
}

TEST(Supervisor, StopDuringBackOffEndsWithoutAnotherRunOrLine) {
  EngineFlags flags;
  RecordingSleeper rec{flags, 1, {}};
  std::atomic<int> runs{0};
  std::ostringstream err;
  supervise_detector("dns", [&] { ++runs; }, flags, std::ref(rec), err);
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(err.str(), "[supervisor] detector 'dns' exited; restarting in 1s\n");
}

TEST(Supervisor, DetectorThatReturnsAfterStopIsNotRestarted) {
  EngineFlags flags;
  RecordingSleeper rec{flags, 100, {}};
  std::ostringstream err;
  supervise_detector("files", [&] { flags.request_stop(); }, flags, std::ref(rec), err);
  EXPECT_TRUE(rec.delays.empty());
  EXPECT_EQ(err.str(), "");
}

TEST(Supervisor, ThrowingDetectorIsContainedAndRestarted) {
  EngineFlags flags;
  RecordingSleeper rec{flags, 2, {}};
  std::atomic<int> runs{0};
  std::ostringstream err;
  supervise_detector("security", [&] {
    ++runs;
    throw std::runtime_error("registry gone");
  }, flags, std::ref(rec), err);
  EXPECT_EQ(runs, 2);
  EXPECT_EQ(err.str(),
            "[supervisor] detector 'security' failed: registry gone\n"
            "[supervisor] detector 'security' exited; restarting in 1s\n"
            "[supervisor] detector 'security' failed: registry gone\n"
            "[supervisor] detector 'security' exited; restarting in 2s\n");
}

TEST(Supervisor, EachRunIsOnAFreshThread) {
  EngineFlags flags;
  RecordingSleeper rec{flags, 3, {}};
  std::vector<std::thread::id> ids;
  std::ostringstream err;
  supervise_detector("process", [&] { ids.push_back(std::this_thread::get_id()); }, flags,
                     std::ref(rec), err);
  ASSERT_EQ(ids.size(), 3u);
  EXPECT_NE(ids[0], std::this_thread::get_id());
}

TEST(Supervisor, DetectorsShareOneSupervisorAndKeepTheirOwnDelays) {
  EngineFlags flags;
  std::atomic<int> quick_runs{0}, steady_runs{0};
  std::vector<std::chrono::milliseconds> waits;
  const Sleeper sleep = [&](std::chrono::milliseconds d) {
    waits.push_back(d);
    return !flags.stopping();
  };
  const std::vector<SupervisedDetector> detectors = {
      {"network", [&] {
         if (++quick_runs == 4) flags.request_stop();
       }},
      {"process", [&] {
         ++steady_runs;
         while (!flags.stopping()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
       }},
  };
  std::ostringstream err;
  supervise_detectors(detectors, flags, sleep, err);

  EXPECT_EQ(quick_runs, 4);
  EXPECT_EQ(steady_runs, 1);
  EXPECT_EQ(err.str(),
            "[supervisor] detector 'network' exited; restarting in 1s\n"
            "[supervisor] detector 'network' exited; restarting in 2s\n"
            "[supervisor] detector 'network' exited; restarting in 4s\n");
  // While another detector runs, the back-off is waited in slices, so its
  // exit would be seen within one; together they make the whole delays.
  std::chrono::milliseconds total{0};
  for (auto w : waits) {
    EXPECT_LE(w, std::chrono::milliseconds(250));
    total += w;
  }
  EXPECT_EQ(total, std::chrono::seconds(7));
}

}  // namespace
}  // namespace tarnwick
