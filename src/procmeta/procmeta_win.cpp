#include "procmeta/procmeta_win.h"

#include <windows.h>
#include <softpub.h>
#include <wintrust.h>
#include <mscat.h>
#include <bcrypt.h>

#include <vector>

#include "win/handle_win.h"
#include "win/wide_win.h"

namespace tarnwick {

std::optional<std::string> WindowsProcessQuery::query_image_path(uint32_t pid) const {
  if (pid == 0) return std::nullopt;
  win::KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return std::nullopt;
  wchar_t buffer[260];
  DWORD size = 260;
  // Longer paths fail here and yield nothing, by design of the fixed buffer.
  if (!QueryFullProcessImageNameW(process.get(), 0, buffer, &size) || size == 0) {
    return std::nullopt;
  }
  return win::narrow(std::wstring_view(buffer, size));
}

namespace {

// A NUL would end the path early and name another file.
bool usable_path(std::string_view path) {
  return !path.empty() && path.find('\0') == std::string_view::npos;
}

// Not in mingw-w64's import library: looked up in the wintrust.dll the
// executable imports anyway.
using AcquireContext2Fn = BOOL(WINAPI*)(HCATADMIN*, const GUID*, const WCHAR*,
                                        const CERT_STRONG_SIGN_PARA*, DWORD);
using CalcHash2Fn = BOOL(WINAPI*)(HCATADMIN, HANDLE, DWORD*, BYTE*, DWORD);

template <typename Fn>
Fn wintrust_function(const char* name) {
  HMODULE wintrust = GetModuleHandleW(L"wintrust.dll");
  if (wintrust == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(wintrust, name)));
}

// The catalog member tag is the file hash in upper-case hexadecimal.
std::wstring hex_tag(const std::vector<BYTE>& hash) {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring tag;
  for (BYTE b : hash) {
    tag += kDigits[b >> 4];
    tag += kDigits[b & 0xF];
  }
  return tag;
}

// Runs the generic Authenticode policy over `data`, whose subject is set,
// without any user interface or revocation look-up, and closes the state the
// verification keeps. No signature settings: mingw-w64 declares the older
// structure without that last member, which the system accepts by its cbStruct.
bool verify_trust(WINTRUST_DATA& data) {
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_USE_DEFAULT_OSVER_CHECK;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const LONG status = WinVerifyTrust(nullptr, &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  WinVerifyTrust(nullptr, &action, &data);
  return status == 0;
}

// Whether `catalog` lists the file under `hash` and its signature verifies.
bool catalog_verifies(HCATADMIN admin, const wchar_t* catalog, const std::wstring& path,
                      HANDLE file, std::vector<BYTE>& hash) {
  const std::wstring tag = hex_tag(hash);
  WINTRUST_CATALOG_INFO info{};
  info.cbStruct = sizeof info;
  info.dwCatalogVersion = 0;
  info.pcwszCatalogFilePath = catalog;
  info.pcwszMemberTag = tag.c_str();
  info.pcwszMemberFilePath = path.c_str();
  info.hMemberFile = file;
  info.pbCalculatedFileHash = hash.data();
  info.cbCalculatedFileHash = static_cast<DWORD>(hash.size());
  info.hCatAdmin = admin;

  WINTRUST_DATA data{};
  data.dwUnionChoice = WTD_CHOICE_CATALOG;
  data.pCatalog = &info;
  return verify_trust(data);
}

}  // namespace

std::optional<FileStamp> WindowsFileTrust::stamp(std::string_view path) const {
  if (!usable_path(path)) return std::nullopt;
  WIN32_FILE_ATTRIBUTE_DATA attributes{};
  if (!GetFileAttributesExW(win::widen(win32_openable_path(path)).c_str(), GetFileExInfoStandard,
                            &attributes)) {
    return std::nullopt;
  }
  return FileStamp{uint64_t(attributes.nFileSizeHigh) << 32 | attributes.nFileSizeLow,
                   uint64_t(attributes.ftLastWriteTime.dwHighDateTime) << 32 |
                       attributes.ftLastWriteTime.dwLowDateTime};
}

bool WindowsFileTrust::catalog_signature(std::string_view path) const {
  if (!usable_path(path)) return false;
  const auto acquire = wintrust_function<AcquireContext2Fn>("CryptCATAdminAcquireContext2");
  const auto calc_hash = wintrust_function<CalcHash2Fn>("CryptCATAdminCalcHashFromFileHandle2");
  if (acquire == nullptr || calc_hash == nullptr) return false;
  const std::wstring wide = win::widen(win32_openable_path(path));
  const win::FileHandle file(CreateFileW(wide.c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  // Current catalogs list SHA-256 hashes, older ones SHA-1; a null algorithm
  // is the SHA-1 default.
  for (const wchar_t* algorithm : {BCRYPT_SHA256_ALGORITHM, static_cast<const wchar_t*>(nullptr)}) {
    HCATADMIN admin = nullptr;
    // A null subsystem is the system's default driver-verification subsystem.
    if (!acquire(&admin, nullptr, algorithm, nullptr, 0)) continue;
    bool trusted = false;
    DWORD size = 0;
    calc_hash(admin, file.get(), &size, nullptr, 0);
    std::vector<BYTE> hash(size);
    LARGE_INTEGER start{};
    if (size != 0 && SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN) &&
        calc_hash(admin, file.get(), &size, hash.data(), 0)) {
      hash.resize(size);
      HCATINFO catalog = CryptCATAdminEnumCatalogFromHash(admin, hash.data(), size, 0, nullptr);
      while (catalog != nullptr && !trusted) {
        CATALOG_INFO info{};
        info.cbStruct = sizeof info;
        trusted = CryptCATCatalogInfoFromContext(catalog, &info, 0) &&
                  catalog_verifies(admin, info.wszCatalogFile, wide, file.get(), hash);
        if (trusted) break;
        // Handing the previous context back releases it.
        HCATINFO previous = catalog;
        catalog = CryptCATAdminEnumCatalogFromHash(admin, hash.data(), size, 0, &previous);
      }
      if (catalog != nullptr) CryptCATAdminReleaseCatalogContext(admin, catalog, 0);
    }
    CryptCATAdminReleaseContext(admin, 0);
    if (trusted) return true;
  }
  return false;
}

bool WindowsFileTrust::embedded_signature(std::string_view path) const {
  if (!usable_path(path)) return false;
  // Real-time process events name images by NT device path, which the file
  // functions behind the trust check cannot open as it stands.
  const std::wstring wide = win::widen(win32_openable_path(path));

  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof file;
  file.pcwszFilePath = wide.c_str();
  file.hFile = nullptr;
  file.pgKnownSubject = nullptr;

  WINTRUST_DATA data{};
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  return verify_trust(data);
}

}  // namespace tarnwick
