#pragma once
// The real process, registry and file operations behind the automatic response.

#include "folderguard/folderguard_win.h"
#include "response/response.h"

namespace tarnwick {

// How long a kill waits for the process to be gone.
inline constexpr unsigned long kKillExitWaitMs = 5000;

class WindowsProcessControl final : public ProcessControl {
 public:
  bool kill(uint32_t pid) override;
  bool suspend(uint32_t pid) override;
};

class WindowsRegistryEditor final : public RegistryEditor {
 public:
  bool delete_value(std::string_view hive, std::string_view subkey, std::string_view value) override;
};

// The quarantine folder: SYSTEM and Administrators only, protected.
inline constexpr std::wstring_view kQuarantineFolderSddl = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

class WindowsQuarantineFiles final : public QuarantineFiles {
 public:
  std::optional<uint64_t> size(const std::filesystem::path& file) override;
  bool make_folder(const GuardedFolder& folder) override;
  bool move(const std::filesystem::path& from, const std::filesystem::path& to) override;
  bool copy(const std::filesystem::path& from, const std::filesystem::path& to) override;
  DeleteResult remove(const std::filesystem::path& file) override;
  bool remove_forcibly(const std::filesystem::path& file) override;
  bool write_new(const std::filesystem::path& file, std::string_view text) override;

 private:
  void isolate(const std::filesystem::path& file);
  WindowsFolderSecurity security_;
};

}  // namespace tarnwick
