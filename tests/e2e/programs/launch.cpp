// Starts a program and writes its Windows pid to a file:
// launch.exe [--stay] PIDFILE PROGRAM [ARGUMENTS...]. The scenarios need the
// pid the engine will report, which the host cannot see. With --stay it keeps
// running until killed, as a parent that is still there when its child is
// seen; otherwise it ends at once and leaves the program running.
#include <windows.h>
#include <shellapi.h>

#include <string>

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return 2;
  int first = 1;
  const bool stay = argc > 1 && std::wstring(argv[1]) == L"--stay";
  if (stay) ++first;
  if (argc < first + 2) return 2;
  const wchar_t* pid_file = argv[first];
  const wchar_t* program = argv[first + 1];
  // Everything after the program's own name, as typed.
  std::wstring command = L"\"" + std::wstring(program) + L"\"";
  for (int i = first + 2; i < argc; ++i) command += L" \"" + std::wstring(argv[i]) + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(program, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    return 3;
  }
  const std::string pid = std::to_string(pi.dwProcessId);
  HANDLE f = CreateFileW(pid_file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return 4;
  DWORD written = 0;
  WriteFile(f, pid.data(), static_cast<DWORD>(pid.size()), &written, nullptr);
  CloseHandle(f);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  while (stay) Sleep(1000);
  return 0;
}
