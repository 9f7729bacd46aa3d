#include "files/probe.h"

#include <gtest/gtest.h>

#include <functional>

#include "files/files_fake.h"
#include "procmeta/procmeta_fake.h"

namespace tarnwick {
namespace {

using testing::FakeProcessQuery;
using testing::FakeProcessTable;
using testing::FakeSignatureCheck;
using testing::FakeWriteCounter;

constexpr uint64_t MB = 1 << 20;
constexpr uint32_t kOwnPid = 900;

struct Probe {
  FakeProcessTable table;
  FakeWriteCounter counter;
  FakeProcessQuery query;
  FakeSignatureCheck trust;
  testing::FakeProcessStanding standing;
  std::vector<std::chrono::milliseconds> pauses;

  // Every pid listed once; `samples` gives each one's two readings.
  void processes(
      std::map<uint32_t, std::pair<std::optional<uint64_t>, std::optional<uint64_t>>> samples) {
    ProcessSnapshot snapshot;
    for (const auto& [pid, pair] : samples) {
      snapshot[pid] = "p" + std::to_string(pid) + ".exe";
      counter.readings[pid] = {pair.first, pair.second};
    }
    table.script.push_back(snapshot);
  }

  std::optional<Culprit> run() {
    WriteRateProbe probe({table, counter, query, trust, standing, kOwnPid,
                          [this](std::chrono::milliseconds d) { pauses.push_back(d); }});
    return probe.find_culprit();
  }
};

TEST(WriteRateProbe, NamesTheFastestUnsignedWriter) {
  Probe p;
  // 0.6 s at 37.4 MB/s.
  const uint64_t fast = static_cast<uint64_t>(37.4 * 0.6 * MB);
  p.processes({{4, {0, 900 * MB}},
               {kOwnPid, {0, 900 * MB}},
               {1200, {10, 10 + 2 * MB}},
               {4242, {5 * MB, 5 * MB + fast}},
               {5000, {7, 3}}});
  p.query.paths[4242] = "C:\\Users\\bob\\AppData\\Local\\Temp\\evil.exe";
  const auto culprit = p.run();
  ASSERT_TRUE(culprit);
  EXPECT_EQ(culprit->name, "evil.exe");
  EXPECT_EQ(culprit->pid, 4242u);
  EXPECT_NEAR(culprit->rate_mb_s, 37.4, 1e-6);
  EXPECT_EQ(p.pauses, std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(600)});
}

// The processes the responses spare are no culprit either: Windows
// servicing the machine is the fastest writer, and nothing after it is named.
TEST(WriteRateProbe, SkipsWhatTheResponsesSpare) {
  const std::function<void(Probe&)> spared[] = {
      [](Probe& p) { p.standing.critical = {100}; },
      [](Probe& p) { p.standing.sids[100] = "S-1-5-18"; },
      [](Probe& p) { p.standing.sids[100] = "S-1-5-19"; },
      [](Probe& p) { p.standing.sids[100] = "S-1-5-20"; },
      [](Probe& p) { p.trust.signed_paths = {"C:\\Windows\\WinSxS\\TiWorker.exe"}; },
  };
  for (size_t i = 0; i < std::size(spared); ++i) {
    SCOPED_TRACE(i);
    Probe p;
    p.processes({{100, {0, 50 * MB}}, {200, {0, 20 * MB}}});
    p.query.paths = {{100, "C:\\Windows\\WinSxS\\TiWorker.exe"}, {200, "C:\\x\\evil.exe"}};
    spared[i](p);
    EXPECT_EQ(p.run(), std::nullopt);
  }
  Probe ordinary;
  ordinary.processes({{100, {0, 50 * MB}}});
  ordinary.query.paths = {{100, "C:\\Windows\\WinSxS\\TiWorker.exe"}};
  ASSERT_TRUE(ordinary.run().has_value());
}

TEST(WriteRateProbe, CasesWithoutACulpritOrWithAnUnknownName) {
  struct Case {
    const char* name;
    std::map<uint32_t, std::pair<std::optional<uint64_t>, std::optional<uint64_t>>> samples;
    std::map<uint32_t, std::string> paths;
    std::set<std::string> signed_paths;
    std::optional<uint32_t> pid;
    std::string culprit_name;
  };
  const uint64_t one_mb_s = static_cast<uint64_t>(0.6 * MB) + 1;
  const Case cases[] = {
      {"signed fastest writer, no fall-back to the next",
       {{100, {0, 50 * MB}}, {200, {0, 20 * MB}}},
       {{100, "C:\\Windows\\System32\\svchost.exe"}, {200, "C:\\x\\evil.exe"}},
       {"C:\\Windows\\System32\\svchost.exe"},
       {},
       ""},
      {"nobody at 1 MB/s", {{100, {0, one_mb_s - 2}}}, {{100, "C:\\x\\slow.exe"}}, {}, {}, ""},
      {"just at 1 MB/s",
       {{100, {0, one_mb_s}}},
       {{100, "C:\\x\\steady.exe"}},
       {},
       100,
       "steady.exe"},
      {"equal deltas keep the first",
       {{300, {0, 8 * MB}}, {301, {0, 8 * MB}}},
       {{300, "C:\\a.exe"}, {301, "C:\\b.exe"}},
       {},
       300,
       "a.exe"},
      {"unreadable path", {{77, {0, 8 * MB}}}, {}, {}, 77, "?"},
      {"counters unreadable",
       {{100, {std::nullopt, 8 * MB}}, {101, {0, std::nullopt}}},
       {},
       {},
       {},
       ""},
      {"nothing listed", {}, {}, {}, {}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Probe p;
    p.processes(c.samples);
    p.query.paths = c.paths;
    p.trust.signed_paths = c.signed_paths;
    const auto culprit = p.run();
    ASSERT_EQ(culprit.has_value(), c.pid.has_value());
    if (culprit) {
      EXPECT_EQ(culprit->pid, *c.pid);
      EXPECT_EQ(culprit->name, c.culprit_name);
    }
    if (std::string(c.name) == "unreadable path") {
      EXPECT_TRUE(p.trust.checked.empty());
    }
  }
}

}  // namespace
}  // namespace tarnwick
