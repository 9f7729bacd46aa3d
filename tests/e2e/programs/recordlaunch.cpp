// Stand-in for a program started in a user's session: writes the name of its
// window station and its CommandLineToArgvW split, each ended by a NUL, to
// "{its own path}.record", then exits. The file sits beside the program
// because a child started with a user's environment block sees none of the
// starter's variables.

#include <windows.h>
// After windows.h, which it relies on.
#include <shellapi.h>

#include <string>

namespace {

std::string utf8(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  out.pop_back();
  return out;
}

}  // namespace

int main() {
  wchar_t own[MAX_PATH];
  const DWORD own_length = GetModuleFileNameW(nullptr, own, MAX_PATH);
  if (own_length == 0 || own_length >= MAX_PATH - 8) return 2;
  const std::wstring record_path = std::wstring(own, own_length) + L".record";

  wchar_t station[256] = {};
  DWORD needed = 0;
  GetUserObjectInformationW(GetProcessWindowStation(), UOI_NAME, station, sizeof station, &needed);
  std::string record = utf8(station);
  record += '\0';

  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr) return 3;
  for (int i = 0; i < argc; ++i) {
    record += utf8(argv[i]);
    record += '\0';
  }
  LocalFree(argv);

  // Written under another name and renamed, so a reader never sees half of it.
  const std::wstring partial = record_path + L".part";
  const HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 4;
  DWORD written = 0;
  const BOOL ok =
      WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
  CloseHandle(file);
  if (!ok || written != record.size()) return 5;
  return MoveFileExW(partial.c_str(), record_path.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 6;
}
