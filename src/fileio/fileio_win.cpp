// Win32 file operations. Every open but the lock file's shares read, write and
// delete so that a user's editor, viewer or cleanup tool is never locked out
// by the engine.
#include <windows.h>

#include "fileio/fileio.h"
#include "win/handle_win.h"
#include "win/security_win.h"

namespace tarnwick {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

win::FileHandle open_file(const std::filesystem::path& path, DWORD access, DWORD disposition) {
  return win::FileHandle(CreateFileW(path.c_str(), access, kShareAll, nullptr, disposition,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool write_all(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

}  // namespace

ReadResult read_file(const std::filesystem::path& path, uint64_t max_bytes) {
  win::FileHandle file = open_file(path, GENERIC_READ, OPEN_EXISTING);
  if (!file) {
    const DWORD err = GetLastError();
    const bool missing = err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
    return {missing ? ReadStatus::NotFound : ReadStatus::Failed, {}};
  }
  LARGE_INTEGER size{};
  if (GetFileSizeEx(file.get(), &size) && static_cast<uint64_t>(size.QuadPart) > max_bytes) {
    return {ReadStatus::TooLarge, {}};
  }
  ReadResult result{ReadStatus::Ok, {}};
  char buf[65536];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file.get(), buf, sizeof buf, &got, nullptr)) return {ReadStatus::Failed, {}};
    if (got == 0) break;
    // The file may grow while it is read.
    if (got > max_bytes - result.bytes.size()) return {ReadStatus::TooLarge, {}};
    result.bytes.append(buf, got);
  }
  return result;
}

bool write_file(const std::filesystem::path& path, std::string_view bytes) {
  win::FileHandle file = open_file(path, GENERIC_WRITE, CREATE_ALWAYS);
  return file && write_all(file.get(), bytes);
}

bool write_new_file(const std::filesystem::path& path, std::string_view bytes) {
  win::FileHandle file = open_file(path, GENERIC_WRITE, CREATE_NEW);
  return file && write_all(file.get(), bytes);
}

bool append_file(const std::filesystem::path& path, std::string_view bytes) {
  // FILE_APPEND_DATA without FILE_WRITE_DATA makes every write land at the
  // current end of file, even with other writers.
  win::FileHandle file = open_file(path, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_ALWAYS);
  if (!file || bytes.size() > 0xFFFFFFFFu) return false;
  DWORD written = 0;
  return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

AppendStatus append_file_within(const std::filesystem::path& path, std::string_view bytes,
                                uint64_t max_size) {
  win::FileHandle file =
      open_file(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE, OPEN_ALWAYS);
  if (!file || bytes.size() > 0xFFFFFFFFu) return AppendStatus::Failed;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) return AppendStatus::Failed;
  const auto held = static_cast<uint64_t>(size.QuadPart);
  if (held > 0 && (bytes.size() > max_size || held > max_size - bytes.size())) {
    return AppendStatus::Full;
  }
  DWORD written = 0;
  const bool ok = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                            nullptr) &&
                  written == bytes.size();
  return ok ? AppendStatus::Written : AppendStatus::Failed;
}

TailResult read_file_tail(const std::filesystem::path& path, uint64_t max_bytes) {
  win::FileHandle file = open_file(path, GENERIC_READ, OPEN_EXISTING);
  if (!file) {
    const DWORD err = GetLastError();
    const bool missing = err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
    return {missing ? ReadStatus::NotFound : ReadStatus::Failed, {}, 0};
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size)) return {};
  const auto held = static_cast<uint64_t>(size.QuadPart);
  TailResult result{ReadStatus::Ok, {}, held > max_bytes ? held - max_bytes : 0};
  LARGE_INTEGER start{};
  start.QuadPart = static_cast<LONGLONG>(result.offset);
  if (!SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN)) return {};
  char buf[65536];
  // The file may grow while it is read; the limit holds all the same.
  while (result.bytes.size() < max_bytes) {
    const uint64_t left = max_bytes - result.bytes.size();
    const DWORD want = left < sizeof buf ? static_cast<DWORD>(left) : static_cast<DWORD>(sizeof buf);
    DWORD got = 0;
    if (!ReadFile(file.get(), buf, want, &got, nullptr)) return {};
    if (got == 0) break;
    result.bytes.append(buf, got);
  }
  return result;
}

FileLock FileLock::acquire(const std::filesystem::path& path) {
  // A new lock file is made for SYSTEM, Administrators and its owner only
  // (the descriptor is left out when it cannot be built). Read access is
  // enough to hold it; no sharing: every other open fails.
  const win::LocalMemory sd = win::security_descriptor(kLockFileSddl);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, sd.get(), FALSE};
  HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ, 0, sd ? &attributes : nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    // A sharing violation is an engine holding the file. Access denied is one
    // too when the service made the file and this run is not elevated. Only a
    // file that is not there at all (and could not be made) says nothing
    // about another engine.
    const DWORD error = GetLastError();
    const auto not_found = [](DWORD e) {
      return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND;
    };
    bool busy = !not_found(error);
    if (busy && error != ERROR_SHARING_VIOLATION &&
        GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
      busy = !not_found(GetLastError());
    }
    return FileLock(busy ? Status::Busy : Status::Failed, kNone);
  }
  return FileLock(Status::Held, reinterpret_cast<intptr_t>(handle));
}

FileLock::~FileLock() {
  if (native_ != kNone) CloseHandle(reinterpret_cast<HANDLE>(native_));
}

bool rename_replacing(const std::filesystem::path& from, const std::filesystem::path& to) {
  return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

}  // namespace tarnwick
