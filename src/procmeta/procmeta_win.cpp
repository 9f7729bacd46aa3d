#include "procmeta/procmeta_win.h"

#include <windows.h>
#include <softpub.h>
#include <wintrust.h>

#include "win/handle_win.h"
#include "win/wide_win.h"

namespace tarnwick {

std::optional<std::string> WindowsProcessQuery::query_image_path(uint32_t pid) const {
  if (pid == 0) return std::nullopt;
  win::KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return std::nullopt;
  wchar_t buffer[260];
  DWORD size = 260;
  // Longer paths fail here and yield nothing, by design of the fixed buffer.
  if (!QueryFullProcessImageNameW(process.get(), 0, buffer, &size) || size == 0) {
    return std::nullopt;
  }
  return win::narrow(std::wstring_view(buffer, size));
}

bool WindowsSignatureCheck::is_file_signed(std::string_view path) const {
  // A NUL would end the path early and name another file.
  if (path.empty() || path.find('\0') != std::string_view::npos) return false;
  // Real-time process events name images by NT device path, which the file
  // functions behind the trust check cannot open as it stands.
  const std::wstring wide = win::widen(win32_openable_path(path));

  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = wide.c_str();
  file.hFile = nullptr;
  file.pgKnownSubject = nullptr;

  WINTRUST_DATA data{};
  data.cbStruct = sizeof data;
  data.pPolicyCallbackData = nullptr;
  data.pSIPClientData = nullptr;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.hWVTStateData = nullptr;
  data.pwszURLReference = nullptr;
  data.dwProvFlags = WTD_USE_DEFAULT_OSVER_CHECK;
  data.dwUIContext = 0;
  // No signature settings: mingw-w64 declares the older structure without
  // that last member, which the system accepts by its cbStruct.

  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG status = WinVerifyTrust(nullptr, &action, &data);

  // The verification keeps state until it is explicitly closed.
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(nullptr, &action, &data);
  return status == 0;
}

}  // namespace tarnwick
