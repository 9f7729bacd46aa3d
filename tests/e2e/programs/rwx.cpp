// Holds private writable-and-executable memory, as injected code would:
// rwx.exe BYTES READYFILE. Commits BYTES (decimal or 0x hex) with
// PAGE_EXECUTE_READWRITE, writes the ready file and waits until killed.
#include <windows.h>

#include <shellapi.h>

#include <cstring>
#include <cwchar>

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 3) return 2;
  const SIZE_T bytes = static_cast<SIZE_T>(wcstoull(argv[1], nullptr, 0));
  void* memory = VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READWRITE);
  if (memory == nullptr) return 3;
  std::memset(memory, 0xC3, bytes);  // touched, as a loader would
  HANDLE f = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (f == INVALID_HANDLE_VALUE) return 4;
  CloseHandle(f);
  for (;;) Sleep(1000);
}
