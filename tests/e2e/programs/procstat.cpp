// Prints one line "PID PRIVATE_BYTES HANDLES" for the first running process
// whose executable name is NAME (ASCII case ignored): procstat.exe NAME.
// Exit code 1 when no such process runs or it cannot be read. The soak reads
// the engine's own counters through it, from inside the prefix.
#include <windows.h>
#include <shellapi.h>
#include <winternl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc != 2) return 2;
  // The system's process list carries each process's handle count and
  // private (page-file) bytes; unlike a per-process query it needs no handle
  // on the engine.
  const auto query = reinterpret_cast<NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG)>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation"));
  if (query == nullptr) return 1;
  std::vector<unsigned char> buffer(1 << 20);
  ULONG needed = 0;
  NTSTATUS status;
  while ((status = query(SystemProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                         &needed)) == static_cast<NTSTATUS>(0xC0000004L)) {  // length mismatch
    buffer.resize(buffer.size() * 2);
  }
  if (status < 0) return 1;
  for (size_t offset = 0;;) {
    const auto* info = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(buffer.data() + offset);
    const std::wstring name(info->ImageName.Buffer ? info->ImageName.Buffer : L"",
                            info->ImageName.Length / sizeof(wchar_t));
    if (_wcsicmp(name.c_str(), argv[1]) == 0) {
      std::printf("%llu %llu %lu\n",
                  static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(info->UniqueProcessId)),
                  static_cast<unsigned long long>(info->VirtualMemoryCounters.PagefileUsage), info->HandleCount);
      return 0;
    }
    if (info->NextEntryOffset == 0) return 1;
    offset += info->NextEntryOffset;
  }
}
