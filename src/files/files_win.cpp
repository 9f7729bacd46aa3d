#include "files/files_win.h"

#include <windows.h>

#include <thread>

#include "files/profiles.h"
#include "procmeta/procmeta_win.h"
#include "registry/registry_win.h"
#include "sysenv/sysenv.h"
#include "win/handle_win.h"
#include "win/wide_win.h"

namespace tarnwick {

std::optional<uint64_t> WindowsWriteCounter::bytes_written(uint32_t pid) const {
  // One handle per read, closed at once: the probe reads every process twice.
  win::KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return std::nullopt;
  IO_COUNTERS counters{};
  if (!GetProcessIoCounters(process.get(), &counters)) return std::nullopt;
  return counters.WriteTransferCount;
}

bool path_exists(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  return GetFileAttributesW(win::widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

FolderKind folder_kind(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return FolderKind::Missing;
  const DWORD attributes = GetFileAttributesW(win::widen(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return FolderKind::Missing;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FolderKind::ReparsePoint;
  return attributes & FILE_ATTRIBUTE_DIRECTORY ? FolderKind::Folder : FolderKind::Other;
}

std::string expand_environment(const std::string& text) {
  const std::wstring wide = win::widen(text);
  // The result is bounded like the text: a longer expansion is left unexpanded.
  std::wstring out(2 * kMaxFolderPathBytes + 1, L'\0');
  const DWORD length =
      ExpandEnvironmentStringsW(wide.c_str(), out.data(), static_cast<DWORD>(out.size()));
  if (length == 0 || length > out.size()) return text;
  out.resize(length - 1);
  return win::narrow(out);
}

void run_windows_files_detector(AlertQueue& queue, const EngineFlags& flags, const Config& config,
                                RunAs run_as) {
  WindowsRegistry registry;
  WindowsDirectoryWatcher watcher;
  WindowsProcessTable table;
  WindowsWriteCounter counter;
  WindowsProcessQuery query;
  WindowsSignatureCheck trust;
  WriteRateProbe probe({table, counter, query, trust, GetCurrentProcessId(),
                        [](std::chrono::milliseconds d) { std::this_thread::sleep_for(d); }});
  QueueOut out(queue);
  FilesDetectorParts parts{config, get_env("USERPROFILE"),   path_exists, watcher, probe, out,
                           flags,  stop_aware_sleeper(flags)};
  if (run_as == RunAs::Service) {
    // The service's own profile is the system's: the people's are watched instead.
    parts.rescan =
        FolderRescan{[&registry] {
                       return profile_folders({registry, expand_environment, folder_kind});
                     },
                     stop_aware_sleeper(flags)};
  }
  run_files_detector(parts);
}

}  // namespace tarnwick
