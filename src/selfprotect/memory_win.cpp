#include "selfprotect/memory_win.h"

#include <windows.h>

#include <cstdint>

#include "win/handle_win.h"

namespace tarnwick {

bool WindowsProcessMemory::walk(uint32_t pid, const RegionVisitor& visit) {
  // VirtualQueryEx needs PROCESS_QUERY_INFORMATION; with only the limited
  // right it fails with access denied. A process that refuses the full right
  // (a protected one) is still tried with the limited one, and walked as far
  // as the system lets that handle see.
  win::KernelHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  if (!process) {
    process.reset(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  }
  if (!process) return false;
  walk_address_space(
      [&](uint64_t address) -> std::optional<MemoryRegion> {
        MEMORY_BASIC_INFORMATION info{};
        if (VirtualQueryEx(process.get(),
                           reinterpret_cast<LPCVOID>(static_cast<uintptr_t>(address)), &info,
                           sizeof info) != sizeof info) {
          return std::nullopt;
        }
        return MemoryRegion{reinterpret_cast<uintptr_t>(info.BaseAddress), info.RegionSize,
                            info.State, info.Type, info.Protect};
      },
      visit);
  return true;
}

std::optional<uint64_t> WindowsProcessMemory::creation_time(uint32_t pid) {
  // GetProcessTimes needs PROCESS_QUERY_INFORMATION or
  // PROCESS_QUERY_LIMITED_INFORMATION (Microsoft Learn, GetProcessTimes).
  win::KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return std::nullopt;
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) return std::nullopt;
  return uint64_t{created.dwHighDateTime} << 32 | created.dwLowDateTime;
}

}  // namespace tarnwick
