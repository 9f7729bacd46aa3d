#include "main/install_check_win.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "win/handle_win.h"
#include "win/wide_win.h"

namespace tarnwick {

namespace {

std::optional<std::string> sid_text(PSID sid) {
  LPWSTR text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return std::nullopt;
  win::LocalMemory owner(text);
  return win::narrow(text);
}

DriveKind drive_kind(const std::wstring& path) {
  // \\server\share and \\?\UNC\server\share.
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return DriveKind::Network;
  if (path.rfind(L"\\\\", 0) == 0 && path.rfind(L"\\\\?\\", 0) != 0) return DriveKind::Network;
  std::wstring rest = path.rfind(L"\\\\?\\", 0) == 0 ? path.substr(4) : path;
  if (rest.size() < 2 || rest[1] != L':') return DriveKind::Local;
  const std::wstring drive = rest.substr(0, 2);
  if (GetDriveTypeW((drive + L"\\").c_str()) == DRIVE_REMOTE) return DriveKind::Network;
  // A substituted drive's device is a path on another drive ("\??\C:\dir"),
  // where a real volume's is a device ("\Device\HarddiskVolume2").
  wchar_t target[MAX_PATH + 1] = {};
  if (QueryDosDeviceW(drive.c_str(), target, MAX_PATH) != 0 &&
      std::wstring_view(target).rfind(L"\\??\\", 0) == 0) {
    return DriveKind::Substituted;
  }
  return DriveKind::Local;
}

}  // namespace

std::optional<std::vector<AccessEntry>> read_access_entries(const std::filesystem::path& path) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD rc = GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                         nullptr, nullptr, &dacl, nullptr, &descriptor);
  if (rc != ERROR_SUCCESS) return std::nullopt;
  win::LocalMemory owner(descriptor);
  std::vector<AccessEntry> entries;
  // A null list grants everyone everything.
  if (dacl == nullptr) return std::vector<AccessEntry>{{"S-1-1-0", GENERIC_ALL, false}};
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* raw = nullptr;
    if (!GetAce(dacl, i, &raw)) return std::nullopt;
    const auto* header = static_cast<const ACE_HEADER*>(raw);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
    auto sid = sid_text(reinterpret_cast<PSID>(&ace->SidStart));
    if (!sid) return std::nullopt;
    entries.push_back({*sid, ace->Mask, (header->AceFlags & INHERIT_ONLY_ACE) != 0});
  }
  return entries;
}

InstallFacts read_install_facts(const std::filesystem::path& exe) {
  InstallFacts facts;
  facts.drive = drive_kind(exe.native());
  facts.folder_access = read_access_entries(exe.parent_path());
  facts.file_access = read_access_entries(exe);
  return facts;
}

}  // namespace tarnwick
