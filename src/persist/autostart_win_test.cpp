#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "persist/autostart.h"
#include "registry/registry_win.h"
#include "response/response_win.h"
#include "testsupport/alert_collector.h"
#include "win/handle_win.h"
#include "win/wide_win.h"

namespace tarnwick {
namespace {

constexpr const char* kRunKey = "Software\\TarnwickTest\\Run";

struct CountedName {
  USHORT length;
  USHORT maximum_length;
  PWSTR buffer;
};
using NtSetValueKeyFn = LONG(NTAPI*)(HANDLE, CountedName*, ULONG, ULONG, PVOID, ULONG);

// Writes a value by its counted name, as native callers can: the name may
// hold a NUL that no Win32 call can pass.
bool set_counted_value(HKEY key, std::wstring name, const std::wstring& data) {
  auto set_value = reinterpret_cast<NtSetValueKeyFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtSetValueKey")));
  if (set_value == nullptr) return false;
  CountedName counted{static_cast<USHORT>(name.size() * 2), static_cast<USHORT>(name.size() * 2),
                      name.data()};
  return set_value(key, &counted, 0, REG_SZ, const_cast<wchar_t*>(data.c_str()),
                   static_cast<ULONG>((data.size() + 1) * 2)) >= 0;
}

TEST(AutostartOnWindows, ANameHoldingANulIsReportedAndRemovedExactly) {
  HKEY raw = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, win::widen(kRunKey).c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &raw, nullptr),
            ERROR_SUCCESS);
  win::RegKey key(raw);
  const wchar_t legit[] = L"C:\\legit.exe";
  ASSERT_EQ(RegSetValueExW(key.get(), L"Evil", 0, REG_SZ, reinterpret_cast<const BYTE*>(legit),
                           sizeof legit),
            ERROR_SUCCESS);

  WindowsRegistry registry;
  testing::CollectedAlerts out;
  EngineFlags flags;
  PersistenceParts parts{registry,
                         {[] { return std::optional<std::string>(); },
                          [](const std::string&) { return false; }},
                         out,
                         flags,
                         stop_aware_sleeper(flags)};
  const AutostartKey row{Hive::CurrentUser, kRunKey, "HKCU\\...\\TestRun"};
  std::thread watcher([&] { run_autostart_watcher(row, parts); });
  Sleep(500);
  ASSERT_TRUE(set_counted_value(key.get(), std::wstring(L"Evil\0x", 6), L"C:\\evil.exe"));
  const bool arrived = out.await(1);
  flags.request_stop();
  watcher.join();
  ASSERT_TRUE(arrived);

  const Alert alert = out.alerts().at(0);
  EXPECT_EQ(alert.dedup_key, "run:HKCU\\...\\TestRun:Evil\\0x");
  EXPECT_TRUE(alert.detail.starts_with("Added \"Evil\\0x\" under HKCU\\...\\TestRun"));
  const auto& request = std::get<DeleteRegValue>(*alert.remediation);
  EXPECT_EQ(request.value, std::string("Evil\0x", 6));

  EXPECT_TRUE(WindowsRegistryEditor().delete_value(request.hive, request.subkey, request.value));
  EXPECT_EQ(registry.value_names(Hive::CurrentUser, kRunKey), NameSet{"Evil"});
  // Gone already: a second removal fails rather than reaching "Evil".
  EXPECT_FALSE(WindowsRegistryEditor().delete_value(request.hive, request.subkey, request.value));
  EXPECT_EQ(registry.value_names(Hive::CurrentUser, kRunKey), NameSet{"Evil"});
  key.reset();
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\TarnwickTest");
}

}  // namespace
}  // namespace tarnwick
