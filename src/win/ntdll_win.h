#pragma once
// Native functions the import libraries lack, looked up in the ntdll that
// every process has loaded.

#include <windows.h>

namespace tarnwick::win {

// The function `name` of ntdll.dll as type `Fn`; null when it is absent.
template <typename Fn>
Fn ntdll_function(const char* name) {
  const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  if (ntdll == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(ntdll, name)));
}

using NtQueryInformationProcessFn = LONG(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);

inline NtQueryInformationProcessFn query_information_process() {
  return ntdll_function<NtQueryInformationProcessFn>("NtQueryInformationProcess");
}

}  // namespace tarnwick::win
