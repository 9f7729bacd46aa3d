#include "sessions/sessions_win.h"

#include <windows.h>
// After windows.h, which they rely on.
#include <sddl.h>
#include <userenv.h>
#include <wtsapi32.h>

#include "win/handle_win.h"
#include "win/wide_win.h"

namespace tarnwick {

namespace {

struct WtsMemoryTraits {
  using Value = void*;
  static Value invalid() { return nullptr; }
  static bool is_valid(Value v) { return v != nullptr; }
  static void close(Value v) { WTSFreeMemory(v); }
};
using WtsMemory = win::UniqueHandle<WtsMemoryTraits>;

struct EnvironmentBlockTraits {
  using Value = void*;
  static Value invalid() { return nullptr; }
  static bool is_valid(Value v) { return v != nullptr; }
  static void close(Value v) { DestroyEnvironmentBlock(v); }
};
using EnvironmentBlock = win::UniqueHandle<EnvironmentBlockTraits>;

}  // namespace

std::vector<uint32_t> WindowsUserSessions::active_sessions() {
  std::vector<uint32_t> ids;
  WTS_SESSION_INFOW* raw = nullptr;
  DWORD count = 0;
  if (!WTSEnumerateSessionsW(WTS_CURRENT_SERVER_HANDLE, 0, 1, &raw, &count)) return ids;
  const WtsMemory owner(raw);
  for (DWORD i = 0; i < count; ++i) {
    if (raw[i].State == WTSActive) ids.push_back(raw[i].SessionId);
  }
  return ids;
}

bool WindowsUserSessions::start_in_session(uint32_t session, std::string_view command_line) {
  HANDLE raw_token = nullptr;
  if (!WTSQueryUserToken(session, &raw_token)) return false;
  const win::KernelHandle token(raw_token);
  // WTSQueryUserToken is documented to give a primary token (and to work
  // only for LocalSystem, with SE_TCB_NAME: Microsoft Learn,
  // "WTSQueryUserToken function"); a duplicate holding exactly the rights
  // CreateProcessAsUserW and CreateEnvironmentBlock ask of a primary token
  // (query, duplicate, assign primary) does not depend on that.
  HANDLE raw_primary = nullptr;
  if (!DuplicateTokenEx(token.get(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY, nullptr,
                        SecurityImpersonation, TokenPrimary, &raw_primary)) {
    return false;
  }
  const win::KernelHandle primary(raw_primary);
  // The user's own environment, not the service's.
  void* raw_environment = nullptr;
  if (!CreateEnvironmentBlock(&raw_environment, primary.get(), FALSE)) return false;
  const EnvironmentBlock environment(raw_environment);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  wchar_t desktop[] = L"winsta0\\default";
  startup.lpDesktop = desktop;
  // CreateProcessAsUserW may write into the command line, so it gets its own copy.
  std::wstring line = win::widen(command_line);
  PROCESS_INFORMATION info{};
  if (!CreateProcessAsUserW(primary.get(), nullptr, line.data(), nullptr, nullptr, FALSE,
                            CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, environment.get(),
                            nullptr, &startup, &info)) {
    return false;
  }
  // Never waited for: the handles go at once and the child runs on its own.
  const win::KernelHandle process(info.hProcess);
  const win::KernelHandle thread(info.hThread);
  return true;
}

std::optional<std::string> account_name(const std::string& sid) {
  if (sid.empty() || sid.find('\0') != std::string::npos) return std::nullopt;
  PSID raw_sid = nullptr;
  if (!ConvertStringSidToSidW(win::widen(sid).c_str(), &raw_sid)) return std::nullopt;
  const win::LocalMemory sid_owner(raw_sid);
  wchar_t name[256];
  wchar_t domain[256];
  DWORD name_size = 256;
  DWORD domain_size = 256;
  SID_NAME_USE use{};
  if (!LookupAccountSidW(nullptr, raw_sid, name, &name_size, domain, &domain_size, &use)) {
    return std::nullopt;
  }
  std::wstring full(domain, domain_size);
  if (!full.empty()) full += L'\\';
  full.append(name, name_size);
  return win::narrow(full);
}

}  // namespace tarnwick
