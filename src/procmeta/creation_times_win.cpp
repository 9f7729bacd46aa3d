#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "procmeta/procmeta_win.h"
#include "win/ntdll_win.h"

namespace tarnwick {

namespace {

constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);
// A list this large would mean tens of thousands of processes; past it the
// read fails rather than grow without end.
constexpr size_t kMaxListBytes = size_t{64} << 20;

using QuerySystemInformation = NTSTATUS(NTAPI*)(SYSTEM_INFORMATION_CLASS, PVOID, ULONG, PULONG);

QuerySystemInformation query_function() {
  static const auto query = win::ntdll_function<QuerySystemInformation>("NtQuerySystemInformation");
  return query;
}

}  // namespace

CreationTimes WindowsProcessCreationTimes::read() {
  CreationTimes times;
  const QuerySystemInformation query = query_function();
  if (query == nullptr) return times;
  // SystemProcessInformation lists every process with its CreateTime, and
  // reports STATUS_INFO_LENGTH_MISMATCH while the buffer is too small
  // (Microsoft Learn, NtQuerySystemInformation).
  std::vector<unsigned char>& buffer = buffer_;
  if (buffer.empty()) buffer.resize(256 * 1024);
  ULONG needed = 0;
  NTSTATUS status;
  while ((status = query(SystemProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                         &needed)) == kInfoLengthMismatch) {
    const size_t next = std::max<size_t>(buffer.size() * 2, size_t{needed} + 64 * 1024);
    if (next > kMaxListBytes) return times;
    buffer.assign(next, 0);
  }
  if (!NT_SUCCESS(status)) return times;

  size_t offset = 0;
  for (;;) {
    if (offset + sizeof(SYSTEM_PROCESS_INFORMATION) > buffer.size()) break;
    SYSTEM_PROCESS_INFORMATION info;
    std::memcpy(&info, buffer.data() + offset, sizeof info);
    const auto pid = static_cast<uint32_t>(reinterpret_cast<ULONG_PTR>(info.UniqueProcessId));
    times[pid] = static_cast<uint64_t>(info.CreateTime.QuadPart);
    if (info.NextEntryOffset == 0) break;
    offset += info.NextEntryOffset;
  }
  return times;
}

}  // namespace tarnwick
