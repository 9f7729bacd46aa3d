#include "cmdline/cmdline_win.h"

#include <windows.h>

#include "win/handle_win.h"
#include "win/ntdll_win.h"

namespace tarnwick {

namespace {

// The memory layouts the portable reader assumes are those of a 64-bit
// process reading another through its 64-bit environment block.
static_assert(sizeof(void*) == 8, "the command-line reader assumes a 64-bit engine");

constexpr ULONG kProcessBasicInformation = 0;
// Windows 8.1 and later; older systems, and Wine 8, answer
// STATUS_INVALID_INFO_CLASS.
constexpr ULONG kProcessCommandLineInformation = 60;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);
constexpr LONG kStatusBufferTooSmall = static_cast<LONG>(0xC0000023);
constexpr LONG kStatusBufferOverflow = static_cast<LONG>(0x80000005);
// The counted-string header plus the longest command line.
constexpr ULONG kMaxInfoSize = 16 + 2 * (kMaxCommandLineUnits + 1);

struct BasicInformation {
  LONG exit_status;
  PVOID peb_base_address;
  ULONG_PTR affinity_mask;
  LONG base_priority;
  ULONG_PTR unique_process_id;
  ULONG_PTR inherited_from_unique_process_id;
};

class WindowsRemoteMemory final : public RemoteMemory {
 public:
  explicit WindowsRemoteMemory(win::KernelHandle process) : process_(std::move(process)) {}

  std::optional<uint64_t> peb_address() override {
    const auto query = win::query_information_process();
    if (query == nullptr) return std::nullopt;
    BasicInformation info{};
    ULONG returned = 0;
    if (query(process_.get(), kProcessBasicInformation, &info, sizeof info, &returned) < 0) {
      return std::nullopt;
    }
    return reinterpret_cast<uintptr_t>(info.peb_base_address);
  }

  std::optional<std::vector<unsigned char>> read(uint64_t address, size_t size) override {
    std::vector<unsigned char> bytes(size);
    SIZE_T got = 0;
    if (!ReadProcessMemory(process_.get(),
                           reinterpret_cast<LPCVOID>(static_cast<uintptr_t>(address)), bytes.data(),
                           size, &got) ||
        got != size) {
      return std::nullopt;
    }
    return bytes;
  }

 private:
  win::KernelHandle process_;
};

}  // namespace

std::optional<CommandLineInfo> WindowsProcessAccess::query_command_line_info(uint32_t pid) {
  const auto query = win::query_information_process();
  if (query == nullptr || pid == 0) return std::nullopt;
  win::KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return std::nullopt;
  std::vector<unsigned char> buffer(512);
  // One retry with the size the system asked for: the line cannot grow past
  // the system's limit, so a second shortfall means something else is wrong.
  for (int attempt = 0; attempt < 2; ++attempt) {
    ULONG needed = 0;
    const LONG status = query(process.get(), kProcessCommandLineInformation, buffer.data(),
                              static_cast<ULONG>(buffer.size()), &needed);
    if (status >= 0) {
      const auto address = reinterpret_cast<uintptr_t>(buffer.data());
      if (needed < buffer.size()) buffer.resize(needed);
      return CommandLineInfo{std::move(buffer), address};
    }
    const bool too_small = status == kStatusInfoLengthMismatch || status == kStatusBufferTooSmall ||
                           status == kStatusBufferOverflow;
    if (!too_small || needed <= buffer.size() || needed > kMaxInfoSize) return std::nullopt;
    buffer.assign(needed, 0);
  }
  return std::nullopt;
}

std::unique_ptr<RemoteMemory> WindowsProcessAccess::open_memory(uint32_t pid) {
  if (pid == 0) return nullptr;
  // Reading another process's memory needs the full query right beside
  // PROCESS_VM_READ; the limited one is refused (error 5).
  win::KernelHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  if (!process) return nullptr;
  return std::make_unique<WindowsRemoteMemory>(std::move(process));
}

}  // namespace tarnwick
