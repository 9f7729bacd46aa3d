// Writes files the way an encrypting program would: COUNT small files named
// "file{n}{EXT}" in FOLDER (environment variables such as %USERPROFILE% are
// expanded). Usage: writefiles FOLDER COUNT EXT. Exit code 0 when every file
// was written.
#include <windows.h>
#include <shellapi.h>

#include <string>

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc != 4) return 2;
  wchar_t folder[MAX_PATH];
  const DWORD n = ExpandEnvironmentStringsW(argv[1], folder, MAX_PATH);
  if (n == 0 || n > MAX_PATH) return 2;
  const int count = _wtoi(argv[2]);
  int failures = 0;
  for (int i = 0; i < count; ++i) {
    const std::wstring path = std::wstring(folder) + L"\\file" + std::to_wstring(i) + argv[3];
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (f == INVALID_HANDLE_VALUE) {
      ++failures;
      continue;
    }
    const char data[] = "not really encrypted";
    DWORD written = 0;
    if (!WriteFile(f, data, sizeof data - 1, &written, nullptr)) ++failures;
    CloseHandle(f);
  }
  return failures == 0 ? 0 : 1;
}
