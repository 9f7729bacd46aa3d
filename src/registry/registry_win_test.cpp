#include "registry/registry_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "registry/registry_contract.h"
#include "text/text.h"
#include "win/handle_win.h"
#include "win/wide_win.h"

namespace tarnwick {
namespace {

constexpr const char* kRoot = "Software\\TarnwickTest\\Registry";

// Runs the system's reg.exe, as a user or an installer would change the
// registry; true when it exits with 0.
bool run_reg(const std::wstring& args) {
  std::wstring cmd = L"reg.exe " + args;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &si, &pi)) {
    return false;
  }
  win::KernelHandle process(pi.hProcess);
  win::KernelHandle thread(pi.hThread);
  DWORD code = 1;
  return WaitForSingleObject(process.get(), 30000) == WAIT_OBJECT_0 &&
         GetExitCodeProcess(process.get(), &code) && code == 0;
}

// Writes through the registry API; the test key is removed at the end.
class ApiArranger final : public testing::RegistryArranger {
 public:
  ~ApiArranger() override { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\TarnwickTest"); }

  void create_key(const std::string& subkey) override { open(subkey); }
  void set_raw(const std::string& subkey, const std::string& name, const std::string& bytes,
               testing::RegType type) override {
    win::RegKey key = open(subkey);
    ASSERT_TRUE(key);
    ASSERT_EQ(RegSetValueExW(key.get(), win::widen(name).c_str(), 0, type,
                             reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
  }

 private:
  static win::RegKey open(const std::string& subkey) {
    HKEY raw = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, win::widen(subkey).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &raw, nullptr);
    return win::RegKey(raw);
  }
};

// Writes with `reg add`, in another process. Text values only.
class RegExeArranger final : public testing::RegistryArranger {
 public:
  ~RegExeArranger() override { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\TarnwickTest"); }

  void create_key(const std::string& subkey) override {
    ASSERT_TRUE(run_reg(L"add \"HKCU\\" + win::widen(subkey) + L"\" /f"));
  }
  void set_raw(const std::string& subkey, const std::string& name, const std::string& bytes,
               testing::RegType type) override {
    ASSERT_EQ(type, testing::kRegSz);
    const std::string data = utf16le_text(bytes);
    ASSERT_TRUE(run_reg(L"add \"HKCU\\" + win::widen(subkey) + L"\" /v \"" + win::widen(name) +
                        L"\" /d \"" + win::widen(data) + L"\" /f"));
  }
};

TEST(WindowsRegistry, Listing) {
  WindowsRegistry registry;
  ApiArranger arrange;
  testing::check_listing(registry, arrange, kRoot);
}

TEST(WindowsRegistry, TextValues) {
  WindowsRegistry registry;
  ApiArranger arrange;
  testing::check_text_values(registry, arrange, kRoot);
}

TEST(WindowsRegistry, NumberValues) {
  WindowsRegistry registry;
  ApiArranger arrange;
  testing::check_u32_values(registry, arrange, kRoot);
}

TEST(WindowsRegistry, NumberWrite) {
  WindowsRegistry registry;
  WindowsRegistryWriter writer;
  ApiArranger arrange;
  testing::check_u32_write(registry, writer, arrange, kRoot);
}

// `reg add` of a value fires the watch; `reg add` of a subkey does not.
TEST(WindowsRegistry, ChangeWatchWithRegAdd) {
  WindowsRegistry registry;
  RegExeArranger arrange;
  testing::check_change_watch(registry, arrange, kRoot);
}

TEST(WindowsRegistry, ReadsTheLocalMachineHive) {
  HKEY raw = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\TarnwickTest\\Services\\Svc", 0,
                            nullptr, 0, KEY_ALL_ACCESS, nullptr, &raw, nullptr),
            ERROR_SUCCESS);
  win::RegKey key(raw);
  const DWORD type = 16;
  const wchar_t image[] = L"\\??\\C:\\drivers\\x.sys";
  RegSetValueExW(key.get(), L"Type", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&type),
                 sizeof type);
  RegSetValueExW(key.get(), L"ImagePath", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(image),
                 sizeof image);
  key.reset();

  WindowsRegistry registry;
  EXPECT_EQ(registry.subkey_names(Hive::LocalMachine, "Software\\TarnwickTest\\Services"),
            NameSet{"Svc"});
  EXPECT_EQ(registry.value_names(Hive::LocalMachine, "Software\\TarnwickTest\\Services\\Svc"),
            (NameSet{"Type", "ImagePath"}));
  EXPECT_EQ(registry.read_u32(Hive::LocalMachine, "Software\\TarnwickTest\\Services\\Svc", "Type"),
            16u);
  EXPECT_EQ(
      registry.read_text(Hive::LocalMachine, "Software\\TarnwickTest\\Services\\Svc", "ImagePath"),
      "\\??\\C:\\drivers\\x.sys");
  EXPECT_EQ(registry.subkey_names(Hive::CurrentUser, "Software\\TarnwickTest\\Services"),
            NameSet{});
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\TarnwickTest");
}

// A walk by index is not a snapshot: while another thread creates and deletes
// a subkey that sorts first, plain walks skip stable names. No listing that
// counts may miss one.
TEST(WindowsRegistry, AListingThatCountsMissesNoStableName) {
  const std::wstring root = L"Software\\TarnwickTest\\Churn";
  constexpr int kStable = 300;
  NameSet stable;
  for (int i = 0; i < kStable; ++i) {
    wchar_t name[16];
    swprintf(name, 16, L"k%03d", i);
    HKEY raw = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (root + L"\\" + name).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &raw, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(raw);
    stable.insert(win::narrow(name));
  }
  std::atomic<bool> done{false};
  std::thread churn([&] {
    const std::wstring first = root + L"\\0churn";
    while (!done) {
      HKEY raw = nullptr;
      if (RegCreateKeyExW(HKEY_CURRENT_USER, first.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          &raw, nullptr) == ERROR_SUCCESS) {
        RegCloseKey(raw);
      }
      RegDeleteKeyW(HKEY_CURRENT_USER, first.c_str());
      // Paced, so the listings are not starved of the registry altogether.
      Sleep(5);
    }
  });
  WindowsRegistry registry;
  int counted = 0;
  int missing = 0;
  for (int i = 0; i < 3000; ++i) {
    const auto names = registry.subkey_names(Hive::CurrentUser, win::narrow(root));
    if (!names) continue;
    ++counted;
    for (const std::string& name : stable) missing += names->count(name) == 0 ? 1 : 0;
  }
  done = true;
  churn.join();
  RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\TarnwickTest");
  EXPECT_EQ(missing, 0);
  // Listings still count: the check refuses races, not every listing.
  EXPECT_GT(counted, 0);
  std::printf("[ churn ] %d of 3000 listings counted\n", counted);
}

}  // namespace
}  // namespace tarnwick
