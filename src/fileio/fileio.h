#pragma once
// Whole-file reads and writes used for the engine's own files. Paths are
// std::filesystem paths built from UTF-8 with path_from_utf8. The Windows
// implementation opens files with full sharing so that other programs can
// read, write or delete them while the engine runs; only the engine's lock
// file is held without sharing. Safe from any thread.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

std::filesystem::path path_from_utf8(std::string_view utf8);
std::string path_to_utf8(const std::filesystem::path& path);

enum class ReadStatus { Ok, NotFound, Failed, TooLarge };

struct ReadResult {
  ReadStatus status = ReadStatus::Failed;
  std::string bytes;  // the whole file when status is Ok
};

// The whole file, or TooLarge (and nothing read into memory beyond the limit)
// when it holds more than `max_bytes`.
ReadResult read_file(const std::filesystem::path& path, uint64_t max_bytes = UINT64_MAX);

// Creates or truncates `path` and writes `bytes`.
bool write_file(const std::filesystem::path& path, std::string_view bytes);

// Creates `path` and writes `bytes`; fails when anything of that name exists.
bool write_new_file(const std::filesystem::path& path, std::string_view bytes);

// Appends `bytes` with one write call, creating the file when it is missing.
bool append_file(const std::filesystem::path& path, std::string_view bytes);

enum class AppendStatus { Written, Full, Failed };

// As append_file, but writes nothing and answers Full when the file already
// holds bytes and `bytes` would take it past `max_size`. The size is read on
// the handle that writes, so the answer fits the write it guards.
AppendStatus append_file_within(const std::filesystem::path& path, std::string_view bytes,
                                uint64_t max_size);

struct TailResult {
  ReadStatus status = ReadStatus::Failed;
  std::string bytes;    // the last bytes of the file, at most the limit
  uint64_t offset = 0;  // where in the file `bytes` starts
};

// The last `max_bytes` of the file (all of it when smaller), however large it
// is: only the tail is read.
TailResult read_file_tail(const std::filesystem::path& path, uint64_t max_bytes);

// Renames `from` onto `to`, replacing an existing `to`.
bool rename_replacing(const std::filesystem::path& from, const std::filesystem::path& to);

// `target` with its extension replaced by "json.tmp".
std::filesystem::path staging_path(const std::filesystem::path& target);

// Writes the staging file, then renames it over `target`, so readers see the
// old file or the new one, never a partial one. On failure the old file stays.
bool write_file_replacing(const std::filesystem::path& target, std::string_view bytes);

bool make_directories(const std::filesystem::path& path);

// The data directory's files.
inline constexpr std::string_view kLockFileName = "Tarnwick.lock";
inline constexpr std::string_view kConfigFileName = "Tarnwick.config.json";
inline constexpr std::string_view kLogFileName = "Tarnwick.log.jsonl";
inline constexpr std::string_view kStatsFileName = "Tarnwick.stats.json";
inline constexpr std::string_view kConnsFileName = "Tarnwick.conns.json";

// Only SYSTEM, Administrators and the file's owner may open the lock file on
// Windows: a user who could read it could also hold it without sharing while
// the service is stopped, and keep the service from ever starting.
inline constexpr std::wstring_view kLockFileSddl = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;OW)";

// A lock file held open so that no one else can take it: opened without
// sharing on Windows, with an exclusive flock elsewhere (which also keeps out
// a second opener in the same process). Released when destroyed, and by the
// system when the process ends in any way.
class FileLock {
 public:
  enum class Status { Held, Busy, Failed };

  // Creates `path` when missing and tries to take it. Busy when the file is
  // there but cannot be taken, for whatever reason: another engine may hold
  // it. Failed when it is missing and cannot be made.
  static FileLock acquire(const std::filesystem::path& path);

  FileLock(FileLock&& other) noexcept : status_(other.status_), native_(other.native_) {
    other.native_ = kNone;
  }
  FileLock& operator=(FileLock&&) = delete;
  FileLock(const FileLock&) = delete;
  ~FileLock();

  Status status() const { return status_; }

 private:
  static constexpr intptr_t kNone = -1;
  FileLock(Status status, intptr_t native) : status_(status), native_(native) {}
  Status status_;
  intptr_t native_;  // the open file descriptor or handle
};

std::optional<uint64_t> file_size(const std::filesystem::path& path);

enum class LockProbe { Held, Free, Unknown };

// Whether an engine holds the lock file, found without taking it: a missing
// file is free, and the file is never created. Unknown when the file cannot
// be opened for another reason (its access list keeps most users out).
LockProbe probe_lock(const std::filesystem::path& path);

}  // namespace tarnwick
