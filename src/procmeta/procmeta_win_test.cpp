#include <gtest/gtest.h>

#include "fileio/fileio.h"
#include "procmeta/procmeta_win.h"
#include "testsupport/win_test_support.h"
#include "win/handle_win.h"
#include "win/wide_win.h"

namespace tarnwick {
namespace {

TEST(WindowsProcessQuery, ImagePathOfLiveProcessesOnly) {
  WindowsProcessQuery query;
  EXPECT_FALSE(query.query_image_path(0));
  wchar_t own[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, own, MAX_PATH);
  EXPECT_EQ(query.query_image_path(GetCurrentProcessId()), win::narrow(std::wstring_view(own, n)));

  const auto spin = testing::e2e_program(L"spin.exe");
  DWORD gone_pid = 0;
  {
    testing::Child child(spin);
    ASSERT_TRUE(child.started());
    gone_pid = child.pid();
    EXPECT_EQ(query.query_image_path(child.pid()), path_to_utf8(spin));
    EXPECT_EQ(process_name(query, child.pid()), "spin.exe");
  }
  // Wine keeps an ended process queryable for a moment after its last handle
  // is closed; Windows frees it at once.
  bool gone = false;
  for (int i = 0; i < 40 && !gone; ++i, Sleep(100)) gone = !query.query_image_path(gone_pid);
  EXPECT_TRUE(gone);
}

TEST(WindowsProcessCreationTimes, ListsEveryProcessWithTheTimeItsHandleReports) {
  WindowsProcessCreationTimes list;
  const auto spin = testing::e2e_program(L"spin.exe");
  testing::Child child(spin);
  ASSERT_TRUE(child.started());
  const CreationTimes times = list.read();
  for (DWORD pid : {GetCurrentProcessId(), static_cast<DWORD>(child.pid())}) {
    win::KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    ASSERT_TRUE(process);
    FILETIME created{}, exited{}, kernel{}, user{};
    ASSERT_TRUE(GetProcessTimes(process.get(), &created, &exited, &kernel, &user));
    const uint64_t expected = uint64_t{created.dwHighDateTime} << 32 | created.dwLowDateTime;
    ASSERT_EQ(times.count(pid), 1u) << pid;
    EXPECT_EQ(times.at(pid), expected) << pid;
  }
}

TEST(WindowsSignatureCheck, OnlyAValidEmbeddedSignatureCounts) {
  WindowsSignatureCheck trust;
  const auto fixtures = testing::build_dir() / L"signed-fixture";
  EXPECT_FALSE(trust.is_file_signed(""));
  EXPECT_FALSE(trust.is_file_signed(path_to_utf8(fixtures / L"missing.exe")));
  EXPECT_FALSE(trust.is_file_signed(path_to_utf8(testing::e2e_program(L"spin.exe"))));
  EXPECT_TRUE(trust.is_file_signed(path_to_utf8(fixtures / L"signed.exe")));
  EXPECT_FALSE(trust.is_file_signed(path_to_utf8(fixtures / L"tampered.exe")));
}

// A verdict is kept for one version of a file only: the same path holding a
// changed file is verified again.
TEST(WindowsSignatureCheck, AChangedFileIsVerifiedAgain) {
  WindowsSignatureCheck trust;
  const auto fixtures = testing::build_dir() / L"signed-fixture";
  const std::wstring copy = L"C:\\users\\Public\\tarnwick-signed-copy.exe";
  ASSERT_TRUE(CopyFileW((fixtures / L"signed.exe").c_str(), copy.c_str(), FALSE));
  EXPECT_TRUE(trust.is_file_signed(win::narrow(copy)));
  ASSERT_TRUE(CopyFileW((fixtures / L"tampered.exe").c_str(), copy.c_str(), FALSE));
  // The copy keeps the source's write time, and tampering kept the size: set a new time.
  const HANDLE file = CreateFileW(copy.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  FILETIME later{};
  GetSystemTimeAsFileTime(&later);
  SetFileTime(file, nullptr, nullptr, &later);
  CloseHandle(file);
  EXPECT_FALSE(trust.is_file_signed(win::narrow(copy)));
  DeleteFileW(copy.c_str());
}

// Wine has no system catalogs: the catalog path runs, releases what it
// acquired and finds nothing for a file no catalog lists.
TEST(WindowsFileTrust, NoCatalogListsAnUnsignedFile) {
  WindowsFileTrust trust;
  const std::string spin = path_to_utf8(testing::e2e_program(L"spin.exe"));
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(trust.catalog_signature(spin));
  EXPECT_FALSE(trust.catalog_signature(""));
  EXPECT_FALSE(trust.catalog_signature("C:\\no\\such\\file.sys"));
  EXPECT_TRUE(trust.stamp(spin));
  EXPECT_FALSE(trust.stamp("C:\\no\\such\\file.sys"));
}

}  // namespace
}  // namespace tarnwick

namespace tarnwick {
namespace {

// Wine answers for its own processes as an ordinary user's; Windows marks
// csrss, wininit and the like critical, which only it can show.
TEST(ProcessStanding, AnOrdinaryProcessIsNeitherCriticalNorAServiceAccount) {
  WindowsProcessStanding standing;
  const uint32_t self = GetCurrentProcessId();
  EXPECT_NE(standing.is_critical(self), std::optional<bool>(true));
  const auto sid = standing.user_sid(self);
  ASSERT_TRUE(sid.has_value());
  EXPECT_TRUE(sid->starts_with("S-1-5-")) << *sid;
  EXPECT_EQ(spare_reason(self, std::nullopt, standing, WindowsSignatureCheck()), std::nullopt)
      << *sid;
  EXPECT_EQ(standing.user_sid(0xFFFFFFF0u), std::nullopt);
}

}  // namespace
}  // namespace tarnwick
