#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>

#include <fstream>

#include "fileio/fileio.h"
#include "main/install_check_win.h"
#include "procmeta/procmeta_win.h"
#include "response/response_win.h"
#include "testsupport/temp_dir.h"
#include "testsupport/win_test_support.h"
#include "win/handle_win.h"
#include "win/security_win.h"

namespace tarnwick {
namespace {

int counter_in(const std::filesystem::path& file) {
  const ReadResult r = read_file(file);
  return r.status == ReadStatus::Ok && !r.bytes.empty() ? std::stoi(r.bytes) : -1;
}

TEST(WindowsProcessControl, SuspendFreezesAndKillEnds) {
  testing::TempDir dir;
  const auto progress = dir / "progress.txt";
  testing::Child child(testing::e2e_program(L"spin.exe"), L"\"" + progress.wstring() + L"\"");
  ASSERT_TRUE(child.started());
  // The child rewrites the file (empty for a moment): judge the read that
  // ended the wait, not a second one.
  int seen = -1;
  for (int i = 0; i < 100 && (seen = counter_in(progress)) < 2; ++i) Sleep(50);
  ASSERT_GE(seen, 2);

  WindowsProcessControl control;
  ASSERT_TRUE(control.suspend(child.pid()));
  Sleep(200);
  const int frozen = counter_in(progress);
  Sleep(500);
  EXPECT_EQ(counter_in(progress), frozen);

  EXPECT_TRUE(control.kill(child.pid()));
  // The kill returns once the process is gone, so its file can go next.
  EXPECT_TRUE(child.exited_within(0));
  DWORD code = 0;
  GetExitCodeProcess(child.handle(), &code);
  EXPECT_EQ(code, 1u);
}

TEST(WindowsProcessControl, MissingProcessFails) {
  WindowsProcessControl control;
  // Pids are multiples of four; this one is never handed out.
  EXPECT_FALSE(control.kill(0xFFFFFFF0u));
  EXPECT_FALSE(control.suspend(0xFFFFFFF0u));
}

// HKCU\Software\TarnwickTest\Run holding one text value; the whole
// TarnwickTest key is removed when the test ends.
class TestRunKey {
 public:
  explicit TestRunKey(const wchar_t* value_name) : value_(value_name) {
    HKEY raw = nullptr;
    RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\TarnwickTest\\Run", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &raw, nullptr);
    key_.reset(raw);
    const wchar_t data[] = L"C:\\users\\Public\\updater.exe";
    created_ = key_ && RegSetValueExW(key_.get(), value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                                      sizeof data) == ERROR_SUCCESS;
  }
  ~TestRunKey() {
    key_.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\TarnwickTest");
  }
  bool created() const { return created_; }
  bool value_present() const {
    return RegQueryValueExW(key_.get(), value_, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
  }

 private:
  const wchar_t* value_;
  win::RegKey key_;
  bool created_ = false;
};

TEST(WindowsRegistryEditor, DeletesOnceAndPicksTheHiveByExactText) {
  TestRunKey key(L"evil");
  ASSERT_TRUE(key.created());
  WindowsRegistryEditor editor;
  // "hklm" is not "HKLM": the current user's hive, where the value is.
  EXPECT_TRUE(editor.delete_value("hklm", "Software\\TarnwickTest\\Run", "evil"));
  EXPECT_FALSE(key.value_present());
  EXPECT_FALSE(editor.delete_value("HKCU", "Software\\TarnwickTest\\Run", "evil"));
  EXPECT_FALSE(editor.delete_value("HKCU", "Software\\TarnwickTest\\Missing", "evil"));
}

// The whole response path for an autostart alert, against the real registry.
TEST(AutoResponderOnWindows, DeleteRegValueRemovesTheAutostartValue) {
  TestRunKey key(L"updater");
  ASSERT_TRUE(key.created());
  WindowsProcessControl processes;
  WindowsRegistryEditor registry;
  WindowsQuarantineFiles files;
  WindowsProcessQuery query;
  WindowsProcessStanding standing;
  WindowsSignatureCheck trust;
  testing::TempDir dir;
  Quarantine quarantine(files, {dir.path(), {}}, [] { return std::chrono::system_clock::now(); });
  AutoResponder responder(processes, registry, quarantine, query, standing, trust,
                          GetCurrentProcessId());

  Alert alert = make_alert(AlertSource::Persistence, Severity::Critical, "New autostart entry", std::string("d"));
  alert.remediation = DeleteRegValue{"HKCU", "Software\\TarnwickTest\\Run", "updater"};
  const auto report = responder.respond(alert, Config{});
  ASSERT_TRUE(report);
  EXPECT_EQ(report->title, "Threat blocked: persistence removed");
  EXPECT_FALSE(key.value_present());
  EXPECT_EQ(responder.respond(alert, Config{})->title, "Auto-response: persistence removal failed");
}

TEST(WindowsQuarantineFiles, MoveCopyAndBothDeletions) {
  testing::TempDir dir;
  WindowsQuarantineFiles files;
  const auto a = dir / "a.exe";
  ASSERT_TRUE(write_file(a, "MZ12345"));
  EXPECT_EQ(files.size(a), 7u);
  EXPECT_FALSE(files.size(dir / "none"));

  const auto folder = dir / "q" / "nested";
  ASSERT_TRUE(files.make_folder({dir.path(), {"q", "nested"}}));
  ASSERT_TRUE(files.copy(a, folder / "c.bin"));
  ASSERT_TRUE(files.write_new(folder / "b.bin", "old"));
  // No target is ever replaced.
  EXPECT_FALSE(files.write_new(folder / "b.bin", "new"));
  EXPECT_FALSE(files.move(a, folder / "b.bin"));
  EXPECT_FALSE(files.copy(a, folder / "b.bin"));
  EXPECT_EQ(read_file(folder / "b.bin").bytes, "old");
  ASSERT_TRUE(files.move(a, folder / "m.bin"));
  EXPECT_EQ(read_file(folder / "m.bin").bytes, "MZ12345");
  EXPECT_EQ(read_file(folder / "c.bin").bytes, "MZ12345");
  EXPECT_FALSE(files.size(a));

  const auto ro = dir / "readonly.exe";
  ASSERT_TRUE(write_file(ro, "x"));
  ASSERT_TRUE(SetFileAttributesW(ro.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(files.remove(ro), QuarantineFiles::DeleteResult::AccessDenied);
  EXPECT_TRUE(files.remove_forcibly(ro));
  EXPECT_FALSE(files.size(ro));
  EXPECT_EQ(files.remove(dir / "none"), QuarantineFiles::DeleteResult::Failed);
}

// The folder and each entry keep SYSTEM and Administrators only. Wine turns
// a list into the Unix mode and reads back SYSTEM, the owner and Everyone
// with the "other" bits, and never takes read access away; what it can show
// is that a file everyone could change before is no longer changeable by
// anyone but those two.
TEST(WindowsQuarantineFiles, TheFolderAndItsEntriesCarryTheProtectedList) {
  testing::TempDir dir;
  const auto victim = dir / "evil.exe";
  std::ofstream(victim) << "MZ";
  {
    const win::LocalMemory sd = win::security_descriptor(L"D:P(A;;FA;;;WD)");
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    ASSERT_TRUE(GetSecurityDescriptorDacl(sd.get(), &present, &dacl, &defaulted));
    std::wstring name = victim.wstring();
    ASSERT_EQ(SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, dacl, nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
  }
  ASSERT_EQ(install_refusal({DriveKind::Local, std::vector<AccessEntry>{}, read_access_entries(victim)}),
            "Everyone can change tarnwick.exe");

  WindowsQuarantineFiles files;
  Quarantine quarantine(files, {dir.path(), {"quarantine"}},
                        [] { return std::chrono::system_clock::now(); });
  const auto id = quarantine.quarantine_file(path_to_utf8(victim), "test");
  ASSERT_TRUE(id);
  const auto folder = dir / "quarantine";
  ASSERT_TRUE(id->recorded);
  for (const auto& path : {folder, folder / (id->id + ".bin"), folder / (id->id + ".json")}) {
    SCOPED_TRACE(path_to_utf8(path));
    const auto entries = read_access_entries(path);
    ASSERT_TRUE(entries.has_value());
    for (const AccessEntry& entry : *entries) {
      if (entry.sid == "S-1-5-18" || entry.sid == "S-1-5-32-544") continue;
      // Wine names the Unix owner here; Windows would show Administrators.
      if (entry.sid.starts_with("S-1-5-21-")) continue;
      EXPECT_EQ(entry.mask & kChangingRights, 0u) << entry.sid;
      EXPECT_NE(entry.sid, "S-1-5-32-545");
    }
  }
}

}  // namespace
}  // namespace tarnwick
