#include "main/service_manager_win.h"

#include "eventlog/eventlog_win.h"
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

void WindowsServiceManager::start_service() { StartServiceW(service_.get(), 0, nullptr); }

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
