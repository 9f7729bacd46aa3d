#include <gtest/gtest.h>

#include <thread>

#include "engine/console_win.h"

namespace tarnwick {
namespace {

TEST(ConsoleControlHandler, StopsTheEngineAndClosesTheQueue) {
  auto flags = std::make_shared<EngineFlags>();
  auto queue = std::make_shared<AlertQueue>();
  queue->push(make_alert(AlertSource::System, Severity::Info, "queued", std::string("x")));
  install_console_handler(flags, queue, std::make_shared<EngineFinished>());

  EXPECT_EQ(console_control_handler(CTRL_C_EVENT), TRUE);
  EXPECT_TRUE(flags->stopping());
  // Closed: the queued alert is still delivered, then end-of-stream.
  ASSERT_TRUE(queue->pop().has_value());
  EXPECT_FALSE(queue->pop().has_value());
}

TEST(ConsoleControlHandler, ShutdownReturnsOnlyOnceTheEngineFinished) {
  auto flags = std::make_shared<EngineFlags>();
  auto finished = std::make_shared<EngineFinished>();
  install_console_handler(flags, std::make_shared<AlertQueue>(), finished);
  bool engine_done = false;
  std::thread engine([&] {
    while (!flags->stopping()) Sleep(1);
    Sleep(100);
    engine_done = true;
    finished->set();
  });
  EXPECT_EQ(console_control_handler(CTRL_SHUTDOWN_EVENT), TRUE);
  EXPECT_TRUE(engine_done);
  engine.join();
}

}  // namespace
}  // namespace tarnwick
