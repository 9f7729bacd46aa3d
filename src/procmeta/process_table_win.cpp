#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>

#include "procmeta/procmeta_win.h"
#include "win/handle_win.h"
#include "win/wide_win.h"

namespace tarnwick {

ProcessSnapshot WindowsProcessTable::snapshot() {
  ProcessSnapshot table;
  win::SnapshotHandle snap(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snap) return table;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snap.get(), &entry); more; more = Process32NextW(snap.get(), &entry)) {
    const size_t len = wcsnlen(entry.szExeFile, MAX_PATH);
    table[entry.th32ProcessID] =
        ProcessEntry(win::narrow(std::wstring_view(entry.szExeFile, len)), entry.th32ParentProcessID);
  }
  return table;
}

}  // namespace tarnwick
