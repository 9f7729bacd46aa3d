#include <gtest/gtest.h>

#include "engine/flags.h"
#include "main/service_win.h"

namespace tarnwick {
namespace {

// The SCM never delivers a shutdown control under Wine, so the registered
// handler is called directly, as the SCM's dispatcher thread would.
TEST(ServiceControlHandler, StopAndShutdownSetTheFlagInterrogateDoesNot) {
  for (DWORD code : {static_cast<DWORD>(SERVICE_CONTROL_STOP),
                     static_cast<DWORD>(SERVICE_CONTROL_SHUTDOWN)}) {
    SCOPED_TRACE(code);
    EngineFlags flags;
    set_service_flags_for_test(&flags);
    service_control_handler(SERVICE_CONTROL_INTERROGATE);
    EXPECT_FALSE(flags.stopping());
    service_control_handler(code);
    EXPECT_TRUE(flags.stopping());
    set_service_flags_for_test(nullptr);
  }
}

TEST(ServiceControlHandler, UnsetSlotsAreSafe) { service_control_handler(SERVICE_CONTROL_STOP); }

}  // namespace
}  // namespace tarnwick
