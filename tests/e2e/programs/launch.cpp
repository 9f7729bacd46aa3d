// Starts a program and writes its Windows pid to a file, then leaves it
// running: launch.exe PIDFILE PROGRAM [ARGUMENTS...]. The scenarios need the
// pid the engine will report, which the host cannot see.
#include <windows.h>
#include <shellapi.h>

#include <string>

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 3) return 2;
  // Everything after the program's own name, as typed.
  std::wstring command = L"\"" + std::wstring(argv[2]) + L"\"";
  for (int i = 3; i < argc; ++i) command += L" \"" + std::wstring(argv[i]) + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(argv[2], command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    return 3;
  }
  const std::string pid = std::to_string(pi.dwProcessId);
  HANDLE f = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 4;
  DWORD written = 0;
  WriteFile(f, pid.data(), static_cast<DWORD>(pid.size()), &written, nullptr);
  CloseHandle(f);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return 0;
}
