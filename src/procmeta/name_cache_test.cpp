#include "procmeta/name_cache.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace tarnwick {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

class CountingQuery final : public ProcessQuery {
 public:
  std::map<uint32_t, std::string> paths;
  mutable std::vector<uint32_t> asked;
  std::optional<std::string> query_image_path(uint32_t pid) const override {
    asked.push_back(pid);
    auto it = paths.find(pid);
    if (it == paths.end()) return std::nullopt;
    return it->second;
  }
};

class ScriptedTimes final : public ProcessCreationTimes {
 public:
  CreationTimes times;
  int reads = 0;
  CreationTimes read() override {
    ++reads;
    return times;
  }
};

struct Fixture {
  CountingQuery query;
  ScriptedTimes times;
  steady_clock::time_point now{};
  CachedProcessQuery cache;
  explicit Fixture(size_t capacity = kNameCacheCapacity)
      : cache(query, times, [this] { return now; }, capacity) {}
  // The pollers ask a few seconds apart.
  void next_poll() { now += std::chrono::seconds(2); }
};

TEST(CachedProcessQuery, SteadyProcessesAreAskedOnceWithOneListReadPerPoll) {
  Fixture f;
  f.query.paths = {{100, "C:\\a\\ngrok.exe"}, {200, "C:\\b\\cmd.exe"}};
  f.times.times = {{100, 11}, {200, 22}, {300, 33}};  // 300 cannot be opened
  for (int poll = 0; poll < 3; ++poll) {
    EXPECT_EQ(f.cache.query_image_path(100), "C:\\a\\ngrok.exe");
    EXPECT_EQ(f.cache.query_image_path(200), "C:\\b\\cmd.exe");
    EXPECT_EQ(f.cache.query_image_path(100), "C:\\a\\ngrok.exe");
    EXPECT_FALSE(f.cache.query_image_path(300));
    f.next_poll();
  }
  EXPECT_EQ(f.query.asked, (std::vector<uint32_t>{100, 200, 300}));
  EXPECT_EQ(f.times.reads, 3);
}

TEST(CachedProcessQuery, AReusedPidIsAskedAgain) {
  Fixture f;
  f.query.paths[100] = "C:\\a\\chrome.exe";
  f.times.times = {{100, 11}};
  EXPECT_EQ(f.cache.query_image_path(100), "C:\\a\\chrome.exe");

  // The process ended and the system gave its pid to another one.
  f.query.paths[100] = "C:\\Users\\Public\\ngrok.exe";
  f.times.times = {{100, 12}};
  f.next_poll();
  EXPECT_EQ(f.cache.query_image_path(100), "C:\\Users\\Public\\ngrok.exe");
  EXPECT_EQ(f.cache.query_image_path(100), "C:\\Users\\Public\\ngrok.exe");
  EXPECT_EQ(f.query.asked, (std::vector<uint32_t>{100, 100}));
}

TEST(CachedProcessQuery, WithoutACreationTimeEveryLookupAsks) {
  Fixture f;
  f.query.paths[100] = "C:\\a\\x.exe";
  // The list could not be read, or the process started after it was read.
  for (int i = 0; i < 2; ++i) EXPECT_EQ(f.cache.query_image_path(100), "C:\\a\\x.exe");
  EXPECT_EQ(f.query.asked.size(), 2u);
  EXPECT_EQ(f.cache.size(), 0u);
}

TEST(CachedProcessQuery, StaysWithinItsCapacityDroppingEndedProcessesFirst) {
  Fixture f(4);
  for (uint32_t pid = 1; pid <= 7; ++pid) f.query.paths[pid] = "p" + std::to_string(pid);
  f.times.times = {{1, 1}, {2, 2}, {3, 3}, {4, 4}};
  for (uint32_t pid = 1; pid <= 4; ++pid) f.cache.query_image_path(pid);
  EXPECT_EQ(f.cache.size(), 4u);

  // 1 and 2 ended: they make room for 5, and 3 and 4 stay remembered.
  f.times.times = {{3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}};
  f.next_poll();
  f.query.asked.clear();
  for (uint32_t pid : {5u, 3u, 4u, 6u}) EXPECT_EQ(f.cache.query_image_path(pid), "p" + std::to_string(pid));
  EXPECT_EQ(f.query.asked, (std::vector<uint32_t>{5, 6}));
  EXPECT_EQ(f.cache.size(), 4u);

  // Full of live processes: it starts over rather than grow.
  EXPECT_EQ(f.cache.query_image_path(7), "p7");
  EXPECT_LE(f.cache.size(), 4u);
  EXPECT_EQ(f.cache.query_image_path(7), "p7");
  EXPECT_EQ(f.query.asked, (std::vector<uint32_t>{5, 6, 7}));
}

TEST(CachedProcessQuery, TheListIsReadAgainOnceItIsOld) {
  Fixture f;
  f.times.times = {{100, 1}};
  f.cache.query_image_path(100);
  f.now += kCreationTimesMaxAge - milliseconds(1);
  f.cache.query_image_path(100);
  EXPECT_EQ(f.times.reads, 1);
  f.now += milliseconds(1);
  f.cache.query_image_path(100);
  EXPECT_EQ(f.times.reads, 2);
}

}  // namespace
}  // namespace tarnwick
