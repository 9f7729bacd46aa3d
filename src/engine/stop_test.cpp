#include "engine/stop.h"

#include <gtest/gtest.h>

#include <thread>

namespace tarnwick {
namespace {

using std::chrono::milliseconds;

TEST(ConsoleStop, InterruptAsksForTheStopWithoutWaiting) {
  for (ConsoleEvent event : {ConsoleEvent::Interrupt, ConsoleEvent::Break}) {
    EngineFlags flags;
    AlertQueue queue;
    EngineFinished finished;  // never set
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(stop_for_console_event(event, &flags, &queue, &finished, std::chrono::hours(1)));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(5));
    EXPECT_TRUE(flags.stopping());
    EXPECT_FALSE(queue.pop().has_value());  // closed and empty
  }
}

TEST(ConsoleStop, EndingEventsWaitForTheEngineToFinish) {
  for (ConsoleEvent event : {ConsoleEvent::Close, ConsoleEvent::Logoff, ConsoleEvent::Shutdown}) {
    EngineFlags flags;
    AlertQueue queue;
    EngineFinished finished;
    bool engine_done = false;
    // The engine finishes only after it saw `stop`, as run_engine does.
    std::thread engine([&] {
      while (!flags.stopping()) std::this_thread::sleep_for(milliseconds(1));
      std::this_thread::sleep_for(milliseconds(50));
      engine_done = true;
      finished.set();
    });
    EXPECT_TRUE(stop_for_console_event(event, &flags, &queue, &finished, std::chrono::hours(1)));
    EXPECT_TRUE(engine_done);
    engine.join();
  }
}

TEST(ConsoleStop, TheWaitIsBounded) {
  EngineFlags flags;
  EngineFinished finished;
  EXPECT_FALSE(
      stop_for_console_event(ConsoleEvent::Close, &flags, nullptr, &finished, milliseconds(20)));
  EXPECT_TRUE(flags.stopping());
  // No engine yet: nothing to wait for.
  EXPECT_TRUE(stop_for_console_event(ConsoleEvent::Shutdown, nullptr, nullptr, nullptr));
}

}  // namespace
}  // namespace tarnwick
