#include "main/service_manager_win.h"

#include <iterator>

#include "eventlog/eventlog_win.h"
#include "main/install_check_win.h"
#include "status/status_win.h"
#include "win/wide_win.h"

namespace tarnwick {

ExecutablePath WindowsServiceManager::own_path() { return executable_path(); }

bool WindowsServiceManager::open_manager() {
  manager_.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  return manager_.valid();
}

std::optional<uint32_t> WindowsServiceManager::create_service(std::string_view name,
                                                              std::string_view display,
                                                              std::string_view command_line) {
  const std::wstring wname = win::widen(name);
  const std::wstring wdisplay = win::widen(display);
  const std::wstring wcommand = win::widen(command_line);
  service_.reset(CreateServiceW(manager_.get(), wname.c_str(), wdisplay.c_str(), SERVICE_ALL_ACCESS,
                                SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                wcommand.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!service_) return GetLastError();
  return std::nullopt;
}

std::optional<uint32_t> WindowsServiceManager::start_service() {
  if (!StartServiceW(service_.get(), 0, nullptr)) return GetLastError();
  // StartService returns once the process is running; the engine may still
  // end before it reports running (a data folder held by another engine).
  SERVICE_STATUS status{};
  for (int i = 0; i < 40; ++i) {
    if (!QueryServiceStatus(service_.get(), &status)) return GetLastError();
    if (status.dwCurrentState != SERVICE_START_PENDING) break;
    Sleep(250);
  }
  if (status.dwCurrentState == SERVICE_STOPPED) {
    return status.dwWin32ExitCode != NO_ERROR ? status.dwWin32ExitCode
                                              : static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE);
  }
  return std::nullopt;
}

std::optional<uint32_t> WindowsServiceManager::set_recovery_actions() {
  SC_ACTION actions[] = {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 30000},
                         {SC_ACTION_RESTART, 60000}};
  SERVICE_FAILURE_ACTIONSW failure{};
  failure.dwResetPeriod = 24 * 60 * 60;
  failure.cActions = static_cast<DWORD>(std::size(actions));
  failure.lpsaActions = actions;
  if (!ChangeServiceConfig2W(service_.get(), SERVICE_CONFIG_FAILURE_ACTIONS, &failure)) {
    return GetLastError();
  }
  // Without the flag, the actions apply only when the process ends without
  // reporting stopped; with it, also when the engine stops with an exit code.
  SERVICE_FAILURE_ACTIONS_FLAG flag{TRUE};
  if (!ChangeServiceConfig2W(service_.get(), SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, &flag)) {
    return GetLastError();
  }
  return std::nullopt;
}

bool WindowsServiceManager::service_running(std::string_view name) {
  const ServiceStatus status = query_service_status(name);
  return status == ServiceStatus::Running || status == ServiceStatus::Starting;
}

InstallFacts WindowsServiceManager::install_facts(const std::filesystem::path& exe) {
  return read_install_facts(exe);
}

std::optional<uint32_t> WindowsServiceManager::open_service(std::string_view name) {
  const std::wstring wname = win::widen(name);
  service_.reset(OpenServiceW(manager_.get(), wname.c_str(), SERVICE_ALL_ACCESS));
  if (!service_) return GetLastError();
  return std::nullopt;
}

void WindowsServiceManager::stop_service() {
  SERVICE_STATUS status{};
  ControlService(service_.get(), SERVICE_CONTROL_STOP, &status);
}

bool WindowsServiceManager::delete_service() { return DeleteService(service_.get()) != 0; }

void WindowsServiceManager::add_event_source(const std::filesystem::path& exe) {
  register_event_source(exe);
}

void WindowsServiceManager::remove_event_source() { tarnwick::remove_event_source(); }

std::string WindowsServiceManager::error_message(uint32_t code) { return win::error_message(code); }

}  // namespace tarnwick
