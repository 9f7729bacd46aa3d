#include "etw/event_queue.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

TEST(TraceEventQueue, KeepsTheNewestAndCountsWhatItDrops) {
  TraceEventQueue<int> queue(3);
  for (int i = 1; i <= 5; ++i) queue.push(i);
  EXPECT_EQ(queue.take_all(), (std::deque<int>{3, 4, 5}));
  EXPECT_EQ(queue.take_dropped(), 2u);
  EXPECT_EQ(queue.take_dropped(), 0u);
  EXPECT_TRUE(queue.take_all().empty());
  // Room again after a drain.
  queue.push(6);
  EXPECT_EQ(queue.take_all(), (std::deque<int>{6}));
  EXPECT_EQ(queue.take_dropped(), 0u);
}

TEST(TraceEventQueue, DefaultBoundIsTenThousand) {
  TraceEventQueue<int> queue;
  for (int i = 0; i < 10001; ++i) queue.push(i);
  const auto kept = queue.take_all();
  EXPECT_EQ(kept.size(), 10000u);
  EXPECT_EQ(kept.front(), 1);
  EXPECT_EQ(queue.take_dropped(), 1u);
}

TEST(DropReport, AtMostOnceAMinuteWhileAnyAreDropped) {
  using std::chrono::seconds;
  const auto t0 = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
  DropReport report("Process events dropped", "process");
  EXPECT_EQ(report.note(0, t0), std::nullopt);

  auto first = report.note(7, t0);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->source, AlertSource::System);
  EXPECT_EQ(first->severity, Severity::Low);
  EXPECT_EQ(first->title, "Process events dropped");
  EXPECT_EQ(first->detail, "7 process events were dropped because the detector fell behind.");

  // Within the minute the counts add up, and come out once it has passed.
  EXPECT_EQ(report.note(5, t0 + seconds(10)), std::nullopt);
  EXPECT_EQ(report.note(1, t0 + seconds(59)), std::nullopt);
  auto second = report.note(0, t0 + seconds(60));
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->detail, "6 process events were dropped because the detector fell behind.");
  // Nothing dropped since: silent, however long it has been.
  EXPECT_EQ(report.note(0, t0 + seconds(600)), std::nullopt);
  EXPECT_TRUE(report.note(1, t0 + seconds(601)).has_value());
}

}  // namespace
}  // namespace tarnwick
