#include <windows.h>

#include "fileio/fileio.h"
#include "response/response_win.h"
#include "win/handle_win.h"

namespace tarnwick {

namespace {

// FILE_DISPOSITION_INFO_EX and its flags, missing from mingw-w64's headers.
constexpr int kFileDispositionInfoEx = 21;
constexpr DWORD kDispositionDelete = 0x1;
constexpr DWORD kDispositionPosixSemantics = 0x2;
constexpr DWORD kDispositionIgnoreReadonly = 0x10;
struct FileDispositionInfoEx {
  DWORD flags;
};

}  // namespace

std::optional<uint64_t> WindowsQuarantineFiles::size(const std::filesystem::path& file) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool WindowsQuarantineFiles::make_folder(const GuardedFolder& folder) {
  if (prepare_folder(security_, folder, false) != FolderResult::Ready) return false;
  // Unlike the data folder, Users may not even read it: the malware's own
  // account must not run a quarantined file or take it back.
  return !security_.elevated() || protect_folder_with(folder.path(), kQuarantineFolderSddl);
}

// A file moved within a volume keeps its owner and access list, so the
// account that wrote it could still run it or move it back: each entry gets
// Administrators as owner and full control for SYSTEM and Administrators only.
void WindowsQuarantineFiles::isolate(const std::filesystem::path& file) {
  if (security_.elevated()) security_.adopt_file(file, true);
}

bool WindowsQuarantineFiles::move(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (!MoveFileExW(from.c_str(), to.c_str(), 0)) return false;
  isolate(to);
  return true;
}

bool WindowsQuarantineFiles::copy(const std::filesystem::path& from, const std::filesystem::path& to) {
  if (!CopyFileExW(from.c_str(), to.c_str(), nullptr, nullptr, nullptr, COPY_FILE_FAIL_IF_EXISTS)) {
    return false;
  }
  isolate(to);
  return true;
}

QuarantineFiles::DeleteResult WindowsQuarantineFiles::remove(const std::filesystem::path& file) {
  if (DeleteFileW(file.c_str())) return DeleteResult::Deleted;
  return GetLastError() == ERROR_ACCESS_DENIED ? DeleteResult::AccessDenied : DeleteResult::Failed;
}

bool WindowsQuarantineFiles::remove_forcibly(const std::filesystem::path& file) {
  win::FileHandle handle(CreateFileW(file.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle) return false;
  // POSIX semantics unlink the name at once even while others hold the file open.
  FileDispositionInfoEx info{kDispositionDelete | kDispositionPosixSemantics | kDispositionIgnoreReadonly};
  if (SetFileInformationByHandle(handle.get(), static_cast<FILE_INFO_BY_HANDLE_CLASS>(kFileDispositionInfoEx),
                                 &info, sizeof info)) {
    return true;
  }
  // Systems before Windows 10 1709 (and Wine) lack the extended form: drop the
  // read-only attribute and mark the file for deletion the classic way.
  const DWORD err = GetLastError();
  if (err != ERROR_INVALID_PARAMETER && err != ERROR_NOT_SUPPORTED &&
      err != ERROR_INVALID_FUNCTION) {
    return false;
  }
  const DWORD attributes = GetFileAttributesW(file.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    SetFileAttributesW(file.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  FILE_DISPOSITION_INFO classic{TRUE};
  return SetFileInformationByHandle(handle.get(), FileDispositionInfo, &classic, sizeof classic) != 0;
}

bool WindowsQuarantineFiles::write_new(const std::filesystem::path& file, std::string_view text) {
  if (!write_new_file(file, text)) return false;
  isolate(file);
  return true;
}

}  // namespace tarnwick
