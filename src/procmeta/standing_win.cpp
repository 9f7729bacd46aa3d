#include <windows.h>
#include <sddl.h>

#include <vector>

#include "procmeta/procmeta_win.h"
#include "win/handle_win.h"
#include "win/ntdll_win.h"
#include "win/wide_win.h"

namespace tarnwick {

namespace {

// PROCESSINFOCLASS ProcessBreakOnTermination: a ULONG, non-zero when the
// system stops with CRITICAL_PROCESS_DIED if the process ends.
constexpr ULONG kProcessBreakOnTermination = 29;

}  // namespace

std::optional<bool> WindowsProcessStanding::is_critical(uint32_t pid) const {
  const auto query = win::query_information_process();
  if (query == nullptr) return std::nullopt;
  const win::KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return std::nullopt;
  ULONG critical = 0;
  if (query(process.get(), kProcessBreakOnTermination, &critical, sizeof critical, nullptr) < 0) {
    return std::nullopt;
  }
  return critical != 0;
}

std::optional<std::string> WindowsProcessStanding::user_sid(uint32_t pid) const {
  const win::KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return std::nullopt;
  HANDLE raw = nullptr;
  if (!OpenProcessToken(process.get(), TOKEN_QUERY, &raw)) return std::nullopt;
  const win::KernelHandle token(raw);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0 || size > 4096) return std::nullopt;
  std::vector<BYTE> buffer(size);
  if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return std::nullopt;
  const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
  LPWSTR text = nullptr;
  if (!ConvertSidToStringSidW(user->User.Sid, &text)) return std::nullopt;
  const win::LocalMemory owner(text);
  return win::narrow(text);
}

}  // namespace tarnwick
