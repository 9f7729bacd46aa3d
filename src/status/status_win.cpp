#include "status/status_win.h"

#include <windows.h>

#include "folderguard/folderguard_win.h"
#include "sysenv/sysenv.h"
#include "win/handle_win.h"
#include "win/wide_win.h"

namespace tarnwick {

ServiceStatus query_service_status(std::string_view name) {
  win::ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) return ServiceStatus::Unknown;
  const std::wstring wname = win::widen(name);
  win::ServiceHandle service(OpenServiceW(manager.get(), wname.c_str(), SERVICE_QUERY_STATUS));
  if (!service) {
    return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? ServiceStatus::NotInstalled
                                                          : ServiceStatus::Unknown;
  }
  SERVICE_STATUS status{};
  if (!QueryServiceStatus(service.get(), &status)) return ServiceStatus::Unknown;
  switch (status.dwCurrentState) {
    case SERVICE_STOPPED: return ServiceStatus::Stopped;
    case SERVICE_START_PENDING: return ServiceStatus::Starting;
    case SERVICE_RUNNING: return ServiceStatus::Running;
    case SERVICE_STOP_PENDING: return ServiceStatus::Stopping;
    // The service accepts no pause control, so the paused states would mean
    // something other than this program reported them.
    default: return ServiceStatus::Unknown;
  }
}

LocalTime system_local_time() {
  return [](uint64_t ts) -> std::optional<std::tm> {
    // FILETIME counts 100 ns intervals from 1601-01-01.
    constexpr uint64_t kEpochDelta = 11644473600ull;
    if (ts > (UINT64_MAX / 10000000ull) - kEpochDelta) return std::nullopt;
    const uint64_t ticks = (ts + kEpochDelta) * 10000000ull;
    const FILETIME utc_file{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc{}, local{};
    // With no zone given, the current one applies with the daylight rule of
    // the date converted, so old alerts keep the offset they were raised under.
    if (!FileTimeToSystemTime(&utc_file, &utc) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
      return std::nullopt;
    }
    std::tm tm{};
    tm.tm_year = local.wYear - 1900;
    tm.tm_mon = local.wMonth - 1;
    tm.tm_mday = local.wDay;
    tm.tm_hour = local.wHour;
    tm.tm_min = local.wMinute;
    tm.tm_sec = local.wSecond;
    tm.tm_wday = local.wDayOfWeek;
    return tm;
  };
}

void print_status(std::ostream& out, std::string_view service_name, bool json) {
  // The engine passes over a data directory that is a junction or link, so
  // only a plain folder or file counts as there.
  WindowsFolderSecurity folders;
  const auto is_present = [&folders](const std::filesystem::path& p) {
    const FolderEntry entry = folders.entry(p);
    return entry == FolderEntry::Directory || entry == FolderEntry::File;
  };
  DataDirInputs inputs = system_data_dir_inputs();
  inputs.create_directories = [](const std::filesystem::path&) { return false; };
  const StatusDataDir dir = status_data_dir(inputs, is_present);
  const StatusSources sources = system_status_sources(
      [name = std::string(service_name)] { return query_service_status(name); });
  const StatusReport report = gather_status(dir, sources);
  const std::string text =
      json ? status_json(report, system_local_time()) : status_text(report, system_local_time());
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  out.flush();
}

}  // namespace tarnwick
