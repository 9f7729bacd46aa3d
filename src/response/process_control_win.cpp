#include <windows.h>

#include "response/response_win.h"
#include "win/handle_win.h"
#include "win/ntdll_win.h"

namespace tarnwick {

namespace {

using NtSuspendProcessFn = LONG(NTAPI*)(HANDLE);

}  // namespace

bool WindowsProcessControl::kill(uint32_t pid) {
  win::KernelHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
  if (!process) process.reset(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
  if (!process) return false;
  if (!TerminateProcess(process.get(), 1)) return false;
  // TerminateProcess only starts the end. Until the process is gone its
  // image stays mapped and cannot be deleted, which a quarantine across
  // volumes does next.
  WaitForSingleObject(process.get(), kKillExitWaitMs);
  return true;
}

bool WindowsProcessControl::suspend(uint32_t pid) {
  win::KernelHandle process(OpenProcess(PROCESS_SUSPEND_RESUME, FALSE, pid));
  if (!process) return false;
  const auto suspend_process = win::ntdll_function<NtSuspendProcessFn>("NtSuspendProcess");
  if (suspend_process == nullptr) return false;
  return suspend_process(process.get()) >= 0;
}

}  // namespace tarnwick
