// Mounts and unmounts registry hives for the scenarios, as a profile's
// logon and logoff do: "hive save KEY FILE" writes HKCU\KEY to a hive file,
// "hive load NAME FILE" mounts it as HKEY_USERS\NAME, "hive unload NAME"
// removes it. Exits with the Win32 error code of the failing step, 0 on success.

#include <windows.h>
// After windows.h, which it relies on.
#include <shellapi.h>

#include <string>

namespace {

void enable(const wchar_t* privilege) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
  TOKEN_PRIVILEGES tp{};
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (LookupPrivilegeValueW(nullptr, privilege, &tp.Privileges[0].Luid)) {
    AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr);
  }
  CloseHandle(token);
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 3) return 87;
  enable(L"SeBackupPrivilege");
  enable(L"SeRestorePrivilege");
  const std::wstring verb = argv[1];
  LONG status = ERROR_INVALID_PARAMETER;
  if (verb == L"save" && argc == 4) {
    HKEY key = nullptr;
    status = RegOpenKeyExW(HKEY_CURRENT_USER, argv[2], 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS) {
      DeleteFileW(argv[3]);
      status = RegSaveKeyW(key, argv[3], nullptr);
      RegCloseKey(key);
    }
  } else if (verb == L"load" && argc == 4) {
    status = RegLoadKeyW(HKEY_USERS, argv[2], argv[3]);
  } else if (verb == L"unload" && argc == 3) {
    status = RegUnLoadKeyW(HKEY_USERS, argv[2]);
  }
  LocalFree(argv);
  return static_cast<int>(status);
}
