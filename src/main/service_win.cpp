#include "main/service_win.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "engine/engine.h"
#include "main/platform_win.h"
#include "main/service_control.h"
#include "win/wide_win.h"

namespace tarnwick {

namespace {

// Process-wide slots. The SCM calls the entry point and the handler on its
// own threads with no context pointer, so these cannot be passed down.
std::once_flag g_name_once;
std::wstring g_service_name;
std::atomic<SERVICE_STATUS_HANDLE> g_status_handle{nullptr};
std::shared_ptr<EngineFlags> g_flags_owner;
std::atomic<EngineFlags*> g_flags{nullptr};

const wchar_t* service_name() {
  return g_service_name.empty() ? L"Tarnwick" : g_service_name.c_str();
}

void set_service_status(SERVICE_STATUS_HANDLE handle, ServiceState state, DWORD accepted) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = static_cast<DWORD>(state);
  status.dwControlsAccepted = accepted;
  status.dwWin32ExitCode = NO_ERROR;
  status.dwServiceSpecificExitCode = 0;
  status.dwCheckPoint = 0;
  status.dwWaitHint = kStatusWaitHintMs;
  SetServiceStatus(handle, &status);
}

class ScmStatusReporter final : public StatusReporter {
 public:
  explicit ScmStatusReporter(SERVICE_STATUS_HANDLE handle) : handle_(handle) {}
  void report(ServiceState state, uint32_t accepted) override {
    set_service_status(handle_, state, accepted);
  }

 private:
  SERVICE_STATUS_HANDLE handle_;
};

}  // namespace

void WINAPI service_control_handler(DWORD control) {
  SERVICE_STATUS_HANDLE handle = g_status_handle.load();
  ScmStatusReporter reporter(handle);
  handle_service_control(control, handle ? &reporter : nullptr, g_flags.load());
}

void WINAPI service_main(DWORD, LPWSTR*) {
  SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerW(service_name(), service_control_handler);
  if (handle == nullptr) return;
  g_status_handle.store(handle);
  set_service_status(handle, ServiceState::StartPending, 0);
  g_flags_owner = std::make_shared<EngineFlags>();
  g_flags.store(g_flags_owner.get());
  set_service_status(handle, ServiceState::Running, kAcceptStopAndShutdown);
  {
    WindowsPlatform platform;
    run_engine(platform, g_flags_owner, RunAs::Service);
  }
  set_service_status(handle, ServiceState::Stopped, 0);
}

bool dispatch_service() {
  std::call_once(g_name_once, [] { g_service_name = L"Tarnwick"; });
  SERVICE_TABLE_ENTRYW table[] = {
      {const_cast<wchar_t*>(service_name()), service_main},
      {nullptr, nullptr},
  };
  return StartServiceCtrlDispatcherW(table) != 0;
}

void set_service_flags_for_test(EngineFlags* flags) { g_flags.store(flags); }

}  // namespace tarnwick
