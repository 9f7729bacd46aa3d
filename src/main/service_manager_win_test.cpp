#include "main/service_manager_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

namespace tarnwick {
namespace {

// Creates a service that is never started, sets its recovery actions and
// reads back what the service manager stored.
TEST(ServiceManager, RecoveryActionsAreStored) {
  constexpr std::string_view kName = "TarnwickRecoveryCheck";
  WindowsServiceManager scm;
  ASSERT_TRUE(scm.open_manager());
  ASSERT_EQ(scm.create_service(kName, "Recovery check", "\"C:\\\\nowhere\\\\x.exe\" service"),
            std::nullopt);
  const std::optional<uint32_t> error = scm.set_recovery_actions();

  const SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  const SC_HANDLE service = OpenServiceW(manager, L"TarnwickRecoveryCheck", SERVICE_QUERY_CONFIG);
  std::vector<BYTE> buffer(8192);
  DWORD needed = 0;
  const BOOL read = QueryServiceConfig2W(service, SERVICE_CONFIG_FAILURE_ACTIONS, buffer.data(),
                                         static_cast<DWORD>(buffer.size()), &needed);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  EXPECT_TRUE(scm.delete_service());

  // Wine 8 knows no failure actions: setting and reading them both fail with
  // ERROR_INVALID_LEVEL. Only Windows shows the stored actions.
  if (error && *error == ERROR_INVALID_LEVEL && !read) {
    GTEST_SKIP() << "the service manager has no failure actions (Wine)";
  }
  ASSERT_EQ(error, std::nullopt);
  ASSERT_TRUE(read) << GetLastError();
  const auto* actions = reinterpret_cast<const SERVICE_FAILURE_ACTIONSW*>(buffer.data());
  EXPECT_EQ(actions->dwResetPeriod, 86400u);
  ASSERT_EQ(actions->cActions, 3u);
  const DWORD delays[] = {5000, 30000, 60000};
  for (DWORD i = 0; i < 3; ++i) {
    EXPECT_EQ(actions->lpsaActions[i].Type, SC_ACTION_RESTART);
    EXPECT_EQ(actions->lpsaActions[i].Delay, delays[i]);
  }
}

}  // namespace
}  // namespace tarnwick
