#include "files/files_win.h"

#include <windows.h>

#include <thread>

#include "procmeta/procmeta_win.h"
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

void run_windows_files_detector(AlertQueue& queue, const EngineFlags& flags, const Config& config) {
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
  run_files_detector(parts);
}

}  // namespace tarnwick
