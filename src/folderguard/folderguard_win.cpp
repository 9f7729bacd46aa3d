#include "folderguard/folderguard_win.h"

#include <aclapi.h>
#include <windows.h>

#include <initializer_list>
#include <string>

#include "fileio/fileio.h"
#include "win/handle_win.h"
#include "win/security_win.h"

namespace tarnwick {

namespace {

// Enables the restore and take-ownership privileges for the calling thread
// only, by impersonating the process's own token, and drops them again.
// Restore lets a handle opened with backup semantics change owner and DACL
// whatever the DACL says; take-ownership covers systems that grant only it.
class OwnershipPrivileges {
 public:
  OwnershipPrivileges() {
    if (!ImpersonateSelf(SecurityImpersonation)) return;
    impersonating_ = true;
    HANDLE raw = nullptr;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, FALSE, &raw))
      return;
    win::KernelHandle token(raw);
    for (const wchar_t* name : {SE_RESTORE_NAME, SE_TAKE_OWNERSHIP_NAME}) {
      TOKEN_PRIVILEGES tp{};
      tp.PrivilegeCount = 1;
      tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
      if (LookupPrivilegeValueW(nullptr, name, &tp.Privileges[0].Luid)) {
        AdjustTokenPrivileges(token.get(), FALSE, &tp, 0, nullptr, nullptr);
      }
    }
  }
  OwnershipPrivileges(const OwnershipPrivileges&) = delete;
  OwnershipPrivileges& operator=(const OwnershipPrivileges&) = delete;
  ~OwnershipPrivileges() {
    if (impersonating_) RevertToSelf();
  }

 private:
  bool impersonating_ = false;
};

// Opens the name itself, never what a reparse point there leads to, with the
// rights to read and replace its owner and DACL.
win::FileHandle open_for_security(const std::filesystem::path& path) {
  return win::FileHandle(
      CreateFileW(path.c_str(), READ_CONTROL | WRITE_DAC | WRITE_OWNER | FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

// Full control for SYSTEM and Administrators and nothing else, for a file
// that only the engine may open (its lock file).
constexpr std::wstring_view kEngineOnlyFileSddl = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)";

}  // namespace

bool WindowsFolderSecurity::elevated() {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
  win::KernelHandle token(raw);
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  return GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof elevation, &size) &&
         elevation.TokenIsElevated != 0;
}

FolderEntry WindowsFolderSecurity::entry(const std::filesystem::path& path) {
  // The attributes of the name itself: a junction or symbolic link shows as
  // a reparse point rather than as what it leads to.
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD err = GetLastError();
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? FolderEntry::Missing
                                                                      : FolderEntry::Unknown;
  }
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return FolderEntry::ReparsePoint;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FolderEntry::Directory : FolderEntry::File;
}

bool WindowsFolderSecurity::create_directories(const std::filesystem::path& folder) {
  return make_directories(folder);
}

bool WindowsFolderSecurity::protect_folder(const std::filesystem::path& folder) {
  return protect_folder_with(folder, kProtectedFolderSddl);
}

bool protect_folder_with(const std::filesystem::path& folder, std::wstring_view sddl) {
  const win::LocalMemory sd = win::security_descriptor(sddl);
  if (!sd) return false;
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(sd.get(), &owner, &defaulted) ||
      !GetSecurityDescriptorDacl(sd.get(), &present, &dacl, &defaulted)) {
    return false;
  }
  OwnershipPrivileges privileges;
  win::FileHandle handle = open_for_security(folder);
  if (!handle) return false;
  // Checked on the open handle, so a junction swapped in after the earlier
  // look is still refused.
  FILE_ATTRIBUTE_TAG_INFO tag{};
  if (!GetFileInformationByHandleEx(handle.get(), FileAttributeTagInfo, &tag, sizeof tag) ||
      (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      !(tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return false;
  }
  // Owner first: whoever owned the folder keeps the right to change its DACL.
  return SetSecurityInfo(handle.get(), SE_FILE_OBJECT,
                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                             PROTECTED_DACL_SECURITY_INFORMATION,
                         owner, nullptr, dacl, nullptr) == ERROR_SUCCESS;
}

std::vector<std::filesystem::path> WindowsFolderSecurity::files_in(
    const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  WIN32_FIND_DATAW found{};
  const std::filesystem::path pattern = folder / L"*";
  const win::FindHandle search(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                                FindExSearchNameMatch, nullptr, 0));
  if (!search) return files;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      files.push_back(folder / found.cFileName);
  } while (FindNextFileW(search.get(), &found));
  return files;
}

bool WindowsFolderSecurity::adopt_file(const std::filesystem::path& file, bool engine_only) {
  PSID owner = nullptr;
  DWORD sid_size = SECURITY_MAX_SID_SIZE;
  BYTE sid[SECURITY_MAX_SID_SIZE];
  if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sid_size)) return false;
  owner = sid;
  ACL empty{};
  if (!InitializeAcl(&empty, sizeof empty, ACL_REVISION)) return false;

  OwnershipPrivileges privileges;
  win::FileHandle handle = open_for_security(file);
  if (!handle) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
      info.nNumberOfLinks != 1) {
    return false;
  }
  if (engine_only) {
    const win::LocalMemory sd = win::security_descriptor(kEngineOnlyFileSddl);
    PACL dacl = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    if (!sd || !GetSecurityDescriptorDacl(sd.get(), &present, &dacl, &defaulted) || !present) {
      return false;
    }
    return SetSecurityInfo(handle.get(), SE_FILE_OBJECT,
                           OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                               PROTECTED_DACL_SECURITY_INFORMATION,
                           owner, nullptr, dacl, nullptr) == ERROR_SUCCESS;
  }
  // No entries of its own: the file keeps only what the protected folder
  // passes on.
  return SetSecurityInfo(handle.get(), SE_FILE_OBJECT,
                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                             UNPROTECTED_DACL_SECURITY_INFORMATION,
                         owner, nullptr, &empty, nullptr) == ERROR_SUCCESS;
}

}  // namespace tarnwick
