#include "main/install_check_win.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>

#include <fstream>

#include "testsupport/temp_dir.h"
#include "win/handle_win.h"
#include "win/security_win.h"

namespace tarnwick {
namespace {

// Sets a protected access list from SDDL, as an installer would.
bool set_access(const std::filesystem::path& path, const wchar_t* sddl) {
  const win::LocalMemory sd = win::security_descriptor(sddl);
  PACL dacl = nullptr;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  if (!sd || !GetSecurityDescriptorDacl(sd.get(), &present, &dacl, &defaulted)) return false;
  std::wstring name = path.wstring();
  return SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                               DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                               nullptr, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

constexpr const wchar_t* kAdminOnlyFolder =
    L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
constexpr const wchar_t* kAdminOnlyFile = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";

// Wine 8 does not keep a list as given: it turns it into the file's Unix
// mode and reads back SYSTEM, the owner, and Everyone with the rights of
// "other". So only Everyone's write can be shown here; the other groups are
// covered by the portable table.
TEST(InstallFacts, AdminOnlyFolderPassesAndOneEveryoneCanChangeIsRefused) {
  testing::TempDir dir;
  const auto exe = dir / "tarnwick.exe";
  std::ofstream(exe) << "MZ";
  ASSERT_TRUE(set_access(dir.path(), kAdminOnlyFolder));
  ASSERT_TRUE(set_access(exe, kAdminOnlyFile));

  const InstallFacts facts = read_install_facts(exe);
  EXPECT_EQ(facts.drive, DriveKind::Local);
  ASSERT_TRUE(facts.folder_access.has_value());
  ASSERT_TRUE(facts.file_access.has_value());
  EXPECT_FALSE(facts.folder_access->empty());
  EXPECT_EQ(install_refusal(facts), std::nullopt);

  ASSERT_TRUE(set_access(dir.path(), L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1301bf;;;WD)"));
  EXPECT_EQ(install_refusal(read_install_facts(exe)), "Everyone can change the folder");

  ASSERT_TRUE(set_access(dir.path(), kAdminOnlyFolder));
  ASSERT_TRUE(set_access(exe, L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1301bf;;;WD)"));
  EXPECT_EQ(install_refusal(read_install_facts(exe)), "Everyone can change tarnwick.exe");
}

TEST(InstallFacts, MissingFileHasNoAccessList) {
  testing::TempDir dir;
  EXPECT_EQ(read_access_entries(dir / "absent.exe"), std::nullopt);
}

}  // namespace
}  // namespace tarnwick
