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

// What makes a process part of Windows itself, for the responses to spare.
class ProcessStanding {
 public:
  virtual ~ProcessStanding() = default;
  // Whether the system marks the process critical: ending it stops the
  // machine. Nothing when it cannot be asked.
  virtual std::optional<bool> is_critical(uint32_t pid) const = 0;
  // The SID of the account the process runs as ("S-1-5-18"). Nothing when
  // its token cannot be read.
  virtual std::optional<std::string> user_sid(uint32_t pid) const = 0;
};

// Why no response may suspend, kill or quarantine the process, or nothing:
// "it is marked critical (ending it stops Windows)", "it runs as SYSTEM" (or
// LOCAL SERVICE, NETWORK SERVICE), or "its image is validly signed". A fact
// that cannot be read spares nothing.
std::optional<std::string> spare_reason(uint32_t pid, const std::optional<std::string>& image_path,
                                        const ProcessStanding& standing,
                                        const SignatureCheck& trust);

// The file-name part of query_image_path(pid), case as reported.
std::optional<std::string> process_name(const ProcessQuery& query, uint32_t pid);

}  // namespace tarnwick
