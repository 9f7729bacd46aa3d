#include <windows.h>

#include "response/response_win.h"
#include "win/handle_win.h"

namespace tarnwick {

namespace {

using NtSuspendProcessFn = LONG(NTAPI*)(HANDLE);

}  // namespace

bool WindowsProcessControl::kill(uint32_t pid) {
  win::KernelHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, pid));
  if (!process) return false;
  return TerminateProcess(process.get(), 1) != 0;
}

bool WindowsProcessControl::suspend(uint32_t pid) {
  win::KernelHandle process(OpenProcess(PROCESS_SUSPEND_RESUME, FALSE, pid));
  if (!process) return false;
  // Not in the import libraries: looked up in the ntdll every process has loaded.
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return false;
  auto suspend_process =
      reinterpret_cast<NtSuspendProcessFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "NtSuspendProcess")));
  if (suspend_process == nullptr) return false;
  return suspend_process(process.get()) >= 0;
}

}  // namespace tarnwick
