#include <windows.h>

#include <vector>

#include "sysenv/sysenv.h"
#include "text/text.h"
#include "win/wide_win.h"

namespace tarnwick {

std::optional<std::string> get_env(std::string_view name) {
  const std::wstring wname = win::widen(name);
  std::wstring value(256, L'\0');
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const DWORD got = GetEnvironmentVariableW(wname.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (got == 0) {
      // Zero is also the length of a variable that is set but empty.
      if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    if (got < value.size()) {
      value.resize(got);
      break;
    }
    value.assign(got, L'\0');  // too small: `got` is the size needed
  }
  if (!is_valid_utf16(std::u16string_view(reinterpret_cast<const char16_t*>(value.data()), value.size()))) {
    return std::nullopt;
  }
  return win::narrow(value);
}

ExecutablePath executable_path() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    const DWORD len = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (len == 0) {
      const DWORD err = GetLastError();
      return {std::nullopt, err, win::error_message(err)};
    }
    if (len < buf.size()) return {std::filesystem::path(std::wstring(buf.data(), len)), 0, {}};
    if (buf.size() >= 32768) {
      return {std::nullopt, ERROR_INSUFFICIENT_BUFFER, win::error_message(ERROR_INSUFFICIENT_BUFFER)};
    }
    buf.resize(buf.size() * 2);
  }
}

}  // namespace tarnwick

namespace tarnwick {

void name_current_thread(std::string_view name) {
  // SetThreadDescription exists from Windows 10 version 1607, where it is
  // exported by KernelBase.dll only; later versions export it from
  // kernel32.dll too (Microsoft Learn, SetThreadDescription). Looked up at run
  // time so the engine still starts on older systems, whose threads stay
  // unnamed.
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  static const SetDescription set_description = [] {
    for (const wchar_t* module : {L"kernel32.dll", L"kernelbase.dll"}) {
      const HMODULE loaded = GetModuleHandleW(module);
      if (loaded == nullptr) continue;
      if (FARPROC found = GetProcAddress(loaded, "SetThreadDescription")) {
        return reinterpret_cast<SetDescription>(reinterpret_cast<void*>(found));
      }
    }
    return SetDescription{nullptr};
  }();
  if (set_description == nullptr) return;
  const std::wstring wide = win::widen(name);
  set_description(GetCurrentThread(), wide.c_str());
}

}  // namespace tarnwick
