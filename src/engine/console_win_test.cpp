#include <gtest/gtest.h>

#include "engine/console_win.h"

namespace tarnwick {
namespace {

TEST(ConsoleControlHandler, StopsTheEngineAndClosesTheQueue) {
  auto flags = std::make_shared<EngineFlags>();
  auto queue = std::make_shared<AlertQueue>();
  queue->push(make_alert(AlertSource::System, Severity::Info, "queued", std::string("x")));
  install_console_handler(flags, queue);

  EXPECT_EQ(console_control_handler(CTRL_C_EVENT), TRUE);
  EXPECT_TRUE(flags->stopping());
  // Closed: the queued alert is still delivered, then end-of-stream.
  ASSERT_TRUE(queue->pop().has_value());
  EXPECT_FALSE(queue->pop().has_value());

  // Any event code is treated alike.
  auto flags2 = std::make_shared<EngineFlags>();
  install_console_handler(flags2, std::make_shared<AlertQueue>());
  EXPECT_EQ(console_control_handler(CTRL_SHUTDOWN_EVENT), TRUE);
  EXPECT_TRUE(flags2->stopping());
}

}  // namespace
}  // namespace tarnwick
