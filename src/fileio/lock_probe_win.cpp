// The lock probe on Windows: the engine holds its lock file open without
// sharing, so any other open of it fails with a sharing violation.
#include <windows.h>

#include "fileio/fileio.h"
#include "win/handle_win.h"

namespace tarnwick {

LockProbe probe_lock(const std::filesystem::path& path) {
  // Read access is needed for the open to meet the holder's sharing mode; an
  // open for attributes only is never refused by it. The handle lives for
  // this call alone: an engine starting in that instant would take it for
  // another engine, so the probe keeps it no longer than the open.
  win::FileHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file) return LockProbe::Free;
  switch (GetLastError()) {
    case ERROR_SHARING_VIOLATION: return LockProbe::Held;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND: return LockProbe::Free;
    default: return LockProbe::Unknown;
  }
}

}  // namespace tarnwick
