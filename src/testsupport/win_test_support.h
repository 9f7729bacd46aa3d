#pragma once
// Helpers for the Windows test programs: paths next to the test executable
// and child processes that are ended when the test ends. Tests only.

#include <windows.h>

#include <filesystem>
#include <string>

namespace tarnwick::testing {

// The folder holding the running test program (the Windows build folder).
inline std::filesystem::path build_dir() {
  wchar_t buf[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  return std::filesystem::path(std::wstring(buf, n)).parent_path();
}

inline std::filesystem::path e2e_program(const std::wstring& name) {
  return build_dir() / L"e2e-programs" / name;
}

// A started child, terminated and released on destruction.
class Child {
 public:
  explicit Child(const std::filesystem::path& exe, const std::wstring& args = L"") {
    std::wstring cmd = L"\"" + exe.wstring() + L"\"";
    if (!args.empty()) cmd += L" " + args;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    if (CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_)) {
      CloseHandle(pi_.hThread);
      pi_.hThread = nullptr;
    } else {
      pi_ = {};
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (pi_.hProcess) {
      TerminateProcess(pi_.hProcess, 0);
      WaitForSingleObject(pi_.hProcess, 5000);
      CloseHandle(pi_.hProcess);
    }
  }
  bool started() const { return pi_.hProcess != nullptr; }
  DWORD pid() const { return pi_.dwProcessId; }
  HANDLE handle() const { return pi_.hProcess; }
  bool exited_within(DWORD ms) const { return WaitForSingleObject(pi_.hProcess, ms) == WAIT_OBJECT_0; }

 private:
  PROCESS_INFORMATION pi_{};
};

}  // namespace tarnwick::testing
