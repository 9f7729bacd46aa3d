#include "selfprotect/drivers_win.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>

#include "procmeta/procmeta_win.h"
#include "registry/registry_win.h"
#include "testsupport/alert_collector.h"
#include "win/handle_win.h"

namespace tarnwick {

// The shipped table plus the row of tests/fixtures/known-drivers/test-driver.txt.
std::span<const KnownDriver> known_bad_drivers_for_tests();

namespace {

constexpr const char* kDriverFile = "C:\\users\\Public\\tarnwick-test-driver.sys";
constexpr const wchar_t* kServiceKey =
    L"System\\CurrentControlSet\\Services\\TarnwickTestListedDrv";

void copy_fixture(const char* to) {
  std::ifstream in(TARNWICK_SOURCE_DIR "/tests/fixtures/known-drivers/test-driver.txt",
                   std::ios::binary);
  std::ofstream out(to, std::ios::binary);
  out << in.rdbuf();
}

TEST(FileDigestOnWindows, HashesTheWholeFile) {
  copy_fixture(kDriverFile);
  EXPECT_EQ(WindowsFileDigest().sha256(kDriverFile),
            parse_sha256("75e369087d152af4633678e6ef51e24d4f13de82715a6ff753a471464cd98869"));
  { std::ofstream empty("C:\\users\\Public\\tarnwick-empty.bin", std::ios::binary); }
  EXPECT_EQ(WindowsFileDigest().sha256("C:\\users\\Public\\tarnwick-empty.bin"),
            parse_sha256("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
  EXPECT_EQ(WindowsFileDigest().sha256("C:\\users\\Public\\no-such-file.sys"), std::nullopt);
  DeleteFileW(L"C:\\users\\Public\\tarnwick-empty.bin");
  DeleteFileW(L"C:\\users\\Public\\tarnwick-test-driver.sys");
}

TEST(DriverWatchOnWindows, AListedDriverIsDisabledAndReportedAsVulnerable) {
  copy_fixture(kDriverFile);
  WindowsRegistry registry;
  WindowsRegistryWriter writer;
  WindowsDriverServices services;
  WindowsSignatureCheck trust;
  WindowsFileDigest digest;
  testing::AlertCollector out;
  DriverWatchParts parts{registry, writer, services, trust, digest, known_bad_drivers_for_tests(),
                         std::string("C:\\windows"), out};
  DriverWatch watch(parts);

  HKEY raw = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kServiceKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &raw, nullptr),
            ERROR_SUCCESS);
  win::RegKey key(raw);
  const DWORD type = 1;
  const DWORD start = 3;
  const wchar_t image[] = L"\\??\\C:\\users\\Public\\tarnwick-test-driver.sys";
  RegSetValueExW(key.get(), L"Start", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&start),
                 sizeof start);
  RegSetValueExW(key.get(), L"ImagePath", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(image),
                 sizeof image);
  RegSetValueExW(key.get(), L"Type", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&type),
                 sizeof type);
  watch.check();

  ASSERT_EQ(out.alerts.size(), 1u);
  const Alert& alert = out.alerts[0];
  EXPECT_EQ(alert.title, "Vulnerable kernel driver BLOCKED (BYOVD)");
  EXPECT_EQ(alert.severity, Severity::Critical);
  EXPECT_TRUE(alert.detail.starts_with("A known vulnerable kernel driver was registered"))
      << alert.detail;
  EXPECT_NE(alert.detail.find("file C:\\users\\Public\\tarnwick-test-driver.sys."),
            std::string::npos);
  // Unknown to the service manager until the next boot, and not loaded.
  EXPECT_TRUE(alert.detail.ends_with("\nIt was not running.")) << alert.detail;
  EXPECT_EQ(registry.read_u32(Hive::LocalMachine,
                              "System\\CurrentControlSet\\Services\\TarnwickTestListedDrv", "Start"),
            4u);
  key.reset();
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kServiceKey);
  DeleteFileW(L"C:\\users\\Public\\tarnwick-test-driver.sys");
}

}  // namespace
}  // namespace tarnwick
