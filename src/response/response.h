#pragma once
// The automatic response: for an alert that passed the pipeline's gate, it
// deletes an autostart value, terminates or suspends a process, or terminates
// it and moves its executable into quarantine, and describes the outcome in
// one report alert. Runs on the alert sink thread only.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "alert/sink.h"
#include "folderguard/folderguard.h"
#include "procmeta/procmeta.h"

namespace tarnwick {

class ProcessControl {
 public:
  virtual ~ProcessControl() = default;
  virtual bool kill(uint32_t pid) = 0;
  virtual bool suspend(uint32_t pid) = 0;
};

class RegistryEditor {
 public:
  virtual ~RegistryEditor() = default;
  // The hive text as registry_place reads it; false for one it refuses.
  // `value` is the exact name, which may hold a NUL: never a prefix of it.
  virtual bool delete_value(std::string_view hive, std::string_view subkey, std::string_view value) = 0;
};

// The file operations the quarantine needs, in the platform's own terms.
class QuarantineFiles {
 public:
  virtual ~QuarantineFiles() = default;
  enum class DeleteResult { Deleted, AccessDenied, Failed };

  // The length of whatever the name stands for; nullopt when there is nothing.
  virtual std::optional<uint64_t> size(const std::filesystem::path& file) = 0;
  // Makes the quarantine folder ready (see prepare_folder); false when it
  // cannot be made or is reached through a reparse point.
  virtual bool make_folder(const GuardedFolder& folder) = 0;
  // Rename, copy and write never replace an existing target: they fail.
  virtual bool move(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
  virtual bool copy(const std::filesystem::path& from, const std::filesystem::path& to) = 0;
  virtual DeleteResult remove(const std::filesystem::path& file) = 0;
  // Deletion that also works on a read-only file still open elsewhere.
  virtual bool remove_forcibly(const std::filesystem::path& file) = 0;
  virtual bool write_new(const std::filesystem::path& file, std::string_view text) = 0;
};

// "q{unix seconds}_{sub-second nanoseconds}"
std::string quarantine_id(uint64_t unix_seconds, uint64_t subsecond_nanos);

// {ProgramData}\Tarnwick\quarantine, or .\quarantine when ProgramData is unset.
GuardedFolder quarantine_folder(const std::optional<std::string>& program_data);

// The record beside a quarantined file, indented by two blanks.
std::string quarantine_record(std::string_view id, std::string_view original_path,
                              std::string_view reason, uint64_t ts_unix, uint64_t size);

// One entry made in the quarantine folder.
struct QuarantineEntry {
  std::string id;
  bool recorded = false;  // its "{id}.json" record was written
};

class Quarantine {
 public:
  using WallClock = std::function<std::chrono::system_clock::time_point()>;
  Quarantine(QuarantineFiles& files, GuardedFolder folder, WallClock clock);

  // Moves `path` into the quarantine folder as "{id}.bin" with its "{id}.json"
  // record; the entry once the file is in the folder, saying whether its
  // record could be written. An identifier whose files exist already gets a
  // counter ("{id}_1", "{id}_2", …): no entry is replaced. Fails without
  // touching the file when the folder is reached through a reparse point.
  std::optional<QuarantineEntry> quarantine_file(const std::string& path, const std::string& reason);

  // True when the file's metadata can be read.
  bool exists(const std::string& path);

 private:
  std::optional<std::string> free_id(const std::string& base);

  QuarantineFiles& files_;
  GuardedFolder guarded_;
  std::filesystem::path folder_;
  WallClock clock_;
};

class AutoResponder final : public Responder {
 public:
  // `own_pid` is the engine's own process, which is never suspended or killed.
  AutoResponder(ProcessControl& processes, RegistryEditor& registry, Quarantine& quarantine,
                const ProcessQuery& query, uint32_t own_pid);

  std::optional<Alert> respond(const Alert& alert, const Config& config) override;

 private:
  std::optional<Alert> process_response(const Alert& alert, const Config& config);
  bool kill(uint32_t pid);
  bool suspend(uint32_t pid);

  ProcessControl& processes_;
  RegistryEditor& registry_;
  Quarantine& quarantine_;
  const ProcessQuery& query_;
  uint32_t own_pid_;
};

}  // namespace tarnwick
