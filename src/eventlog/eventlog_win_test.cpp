#include <gtest/gtest.h>

#include <windows.h>

#include <filesystem>

#include "win/handle_win.h"

namespace tarnwick {
namespace {

std::filesystem::path beside_this_test(const wchar_t* name) {
  wchar_t buf[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  return std::filesystem::path(std::wstring(buf, n)).parent_path() / name;
}

struct ModuleTraits {
  using Value = HMODULE;
  static Value invalid() { return nullptr; }
  static bool is_valid(Value v) { return v != nullptr; }
  static void close(Value v) { FreeLibrary(v); }
};

// What Event Viewer does with an event of the source: the message of its id
// from the file named by EventMessageFile, with the event's strings inserted.
TEST(EventMessages, TarnwickExeRendersEachSourceIdWithThreeStrings) {
  const auto exe = beside_this_test(L"tarnwick.exe");
  win::UniqueHandle<ModuleTraits> module(
      LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  ASSERT_TRUE(module) << GetLastError();
  const wchar_t* title = L"Obfuscated / download PowerShell";
  const wchar_t* detail = L"pid 42: powershell -enc AAAA\n\nMITRE ATT&CK: T1059.001 (PowerShell)";
  const wchar_t* line = L"{\"ts_unix\":1,\"title\":\"100% \\\"sure\\\"\"}";
  const DWORD_PTR args[] = {reinterpret_cast<DWORD_PTR>(title), reinterpret_cast<DWORD_PTR>(detail),
                            reinterpret_cast<DWORD_PTR>(line)};
  for (DWORD id : {1001u, 1002u, 1006u}) {
    SCOPED_TRACE(id);
    wchar_t* text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        module.get(), id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
        reinterpret_cast<LPWSTR>(&text), 0, reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(args)));
    ASSERT_NE(n, 0u) << GetLastError();
    const win::LocalMemory owner(text);
    EXPECT_EQ(std::wstring(text, n), std::wstring(title) + L"\r\n\r\n" + detail + L"\r\n\r\nRecord: " + line);
  }
  // Ids outside the table have no message.
  wchar_t* none = nullptr;
  EXPECT_EQ(FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS |
                               FORMAT_MESSAGE_ALLOCATE_BUFFER,
                           module.get(), 1007, 0, reinterpret_cast<LPWSTR>(&none), 0, nullptr),
            0u);
}

}  // namespace
}  // namespace tarnwick
