#pragma once
// Facts about running processes and files that several detectors share: the
// process list, the full image path of a pid, its file name, and whether a
// file carries a valid embedded signature. No state, no cache: every call asks the system anew.
// Safe from any thread.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tarnwick {

class ProcessQuery {
 public:
  virtual ~ProcessQuery() = default;
  // The Win32 image path of `pid`; nothing for pid 0, a process that is gone,
  // one that cannot be opened, or a path longer than 260 UTF-16 units.
  virtual std::optional<std::string> query_image_path(uint32_t pid) const = 0;
};

// One process as a snapshot of the process list saw it.
struct ProcessEntry {
  ProcessEntry() = default;
  // Most users of the list need only the name.
  ProcessEntry(std::string file_name, uint32_t parent = 0)
      : name(std::move(file_name)), parent_pid(parent) {}
  ProcessEntry(const char* file_name, uint32_t parent = 0)
      : ProcessEntry(std::string(file_name), parent) {}
  bool operator==(const ProcessEntry&) const = default;

  std::string name;         // executable file name, as the system reports it
  // The creator's pid as recorded at creation: that process may have ended
  // since, and its pid may have been reused.
  uint32_t parent_pid = 0;
};

// pid -> process, as one snapshot of the process list saw it.
using ProcessSnapshot = std::map<uint32_t, ProcessEntry>;

// The list of running processes, shared by every detector that walks it.
class ProcessTable {
 public:
  virtual ~ProcessTable() = default;
  // Empty when the snapshot cannot be taken.
  virtual ProcessSnapshot snapshot() = 0;
};

class SignatureCheck {
 public:
  virtual ~SignatureCheck() = default;
  // True when the file's own embedded signature verifies, or its hash is in
  // a system catalog whose signature does; false for an empty path, a
  // missing or unreadable file, or no or a bad signature.
  virtual bool is_file_signed(std::string_view path) const = 0;
};

// A path the Win32 file functions can open: an NT device path as the kernel
// reports process images ("\Device\HarddiskVolume3\...") is reached through
// the "\\?\GLOBALROOT" prefix; every other path is returned unchanged.
std::string win32_openable_path(std::string_view path);

// The file-name part of query_image_path(pid), case as reported.
std::optional<std::string> process_name(const ProcessQuery& query, uint32_t pid);

}  // namespace tarnwick
