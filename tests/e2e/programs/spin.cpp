// A stand-in for a suspicious program: runs until killed. With a file argument
// it rewrites that file with a rising counter every 50 ms, so a test can tell
// whether it still makes progress.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  for (unsigned long n = 0;; ++n) {
    if (argv != nullptr && argc > 1) {
      HANDLE f = CreateFileW(argv[1], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (f != INVALID_HANDLE_VALUE) {
        const std::string text = std::to_string(n);
        DWORD written = 0;
        WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(f);
      }
    }
    Sleep(50);
  }
}
